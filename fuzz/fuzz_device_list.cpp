// config.ini as the engineer may have edited it: the loader never writes past
// its table, whatever the count or the entries say.
#include "config/devicelist.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    static bool entered = QDir::setCurrent(dir.path());
    (void)entered;
    if (size > 8192)
        return 0;
    {
        QFile file(QStringLiteral("config.ini"));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    for (DeviceEntry &e : deviceTable)
        e = DeviceEntry{};
    load_device_list();
    if (findEntryByRegister(0) >= kDeviceTableSize)
        __builtin_trap();
    return 0;
}
