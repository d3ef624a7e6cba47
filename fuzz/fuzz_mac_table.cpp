// mac.csv as it may come from another tool: any bytes, any line ends.
#include "config/mactable.h"

#include <QBuffer>

#include <cstdint>

namespace {

bool holdsLineEndOrComma(const QString &field)
{
    return field.contains(QLatin1Char('\r')) || field.contains(QLatin1Char('\n'))
           || field.contains(QLatin1Char(','));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 65536)
        return 0;
    QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QBuffer buffer(&bytes);
    // As the window opens the file: not in text mode, the reader ends lines itself.
    buffer.open(QIODevice::ReadOnly);
    const MacTable table = readMacTable(buffer);
    if (table.snList.size() != table.macList.size() || table.lines.size() < table.snList.size())
        __builtin_trap();
    // A row is one line cut at its commas: no field spans a line end or a
    // comma, and no field is longer than the table's caps (64 characters,
    // an address without the blanks after it).
    for (int i = 0; i < table.snList.size(); ++i) {
        const QString &sn = table.snList.at(i);
        const QString &mac = table.macList.at(i);
        if (holdsLineEndOrComma(sn) || holdsLineEndOrComma(mac) || sn.size() > 64 || mac.size() > 64
            || (!mac.isEmpty() && mac.back().isSpace()))
            __builtin_trap();
    }
    if (!table.snList.isEmpty()
        && findSerialNumber(table.snList, table.snList.last()) > table.snList.size() - 1)
        __builtin_trap();
    return 0;
}
