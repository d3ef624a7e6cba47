// config.ini as the engineer may have edited it: the loader never writes past
// its table, whatever the count or the entries say.
#include "config/devicelist.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdint>

namespace {

// The loader reads config.ini from the working directory. A file system in
// memory keeps the disk's write-back out of every run: on disk a run costs ten
// times as long.
QString scratchTemplate()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    if (shm.isDir() && shm.isWritable())
        return QStringLiteral("/dev/shm/fuzz_device_list-XXXXXX");
    return QDir::tempPath() + QStringLiteral("/fuzz_device_list-XXXXXX");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir(scratchTemplate());
    static bool entered = dir.isValid() && QDir::setCurrent(dir.path());
    static qint64 stamp = QDateTime::currentMSecsSinceEpoch();
    if (!entered || size > 8192)
        return 0;
    {
        QFile file(QStringLiteral("config.ini"));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data), qint64(size));
        // QSettings parses a file again only when its size or time stamp has
        // changed; two inputs of one size written in the same millisecond
        // would otherwise be read as the first of them.
        file.setFileTime(QDateTime::fromMSecsSinceEpoch(++stamp),
                         QFileDevice::FileModificationTime);
    }
    for (DeviceEntry &e : deviceTable)
        e = DeviceEntry{};
    load_device_list();
    // Every walk over the table is bounded by the count.
    if (deviceCount < 0 || deviceCount > kDeviceTableSize)
        __builtin_trap();
    const int found = findEntryByRegister(deviceTable[0].base);
    if (found < -1 || found >= kDeviceTableSize)
        __builtin_trap();
    return 0;
}
