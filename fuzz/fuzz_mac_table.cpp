// mac.csv as it may come from another tool: any bytes, any line ends.
#include "config/mactable.h"

#include <QBuffer>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 65536)
        return 0;
    QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly | QIODevice::Text);
    const MacTable table = readMacTable(buffer);
    if (table.snList.size() != table.macList.size())
        __builtin_trap();
    if (!table.snList.isEmpty())
        findSerialNumber(table.snList, table.snList.last());
    return 0;
}
