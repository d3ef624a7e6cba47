// The serial-number to MAC-address table: reading mac.csv and finding a row.

#include "config/mactable.h"

#include <QTextStream>

namespace {

// A serial number is a few dozen characters and an address 17
// (XX:XX:XX:XX:XX:XX). Every row is shown in the traffic window and a found
// address in the result window: a field of a megabyte, from a file cut or
// joined wrongly, would hold the window for minutes while the line is laid
// out. The caps only keep such fields out; whether an address is usable is
// judged when it is looked up.
constexpr int kMaxSerialNumberLength = 64;
constexpr int kMaxMacLength = 64;

int lengthWithoutTrailingBlanks(const QStringRef &text)
{
    int n = text.size();
    while (n > 0 && text.at(n - 1).isSpace())
        --n;
    return n;
}

} // namespace

MacTable readMacTable(QIODevice &device)
{
    MacTable table;
    // The stream decodes with the system's encoding and drops a byte-order mark.
    QTextStream stream(&device);
    int lineNumber = 0;
    while (!stream.atEnd()) {
        QString text = stream.readLine();
        // A stray CR before the line end is part of the line end, not an
        // empty line of an old Mac file.
        if (text.endsWith(QLatin1Char('\r')))
            text.chop(1);
        // The stream ends lines at LF and CR LF only; a file from an old Mac
        // tool ends them with a lone CR, which must not glue rows together.
        const QVector<QStringRef> lines = text.splitRef(QLatin1Char('\r'));
        for (const QStringRef &line : lines) {
            ++lineNumber;
            const int firstComma = line.indexOf(QLatin1Char(','));
            if (firstComma < 0) {
                table.lines << QStringLiteral("mac.csv第%1行没有用逗号分开的SN和MAC，未载入")
                                   .arg(lineNumber);
                continue;
            }
            // Fields beyond the second are ignored, so only two are cut out.
            const int secondComma = line.indexOf(QLatin1Char(','), firstComma + 1);
            const int macEnd = secondComma < 0 ? line.size() : secondComma;
            if (firstComma > kMaxSerialNumberLength) {
                table.lines << QStringLiteral("mac.csv第%1行的SN超过%2个字符，未载入")
                                   .arg(lineNumber)
                                   .arg(kMaxSerialNumberLength);
                continue;
            }
            // A spreadsheet may leave blanks after the address: they are not
            // part of it, and a line of them must not reach the windows.
            const QStringRef macField = line.mid(firstComma + 1, macEnd - firstComma - 1);
            const int macLength = lengthWithoutTrailingBlanks(macField);
            if (macLength > kMaxMacLength) {
                table.lines << QStringLiteral("mac.csv第%1行的MAC地址超过%2个字符，未载入")
                                   .arg(lineNumber)
                                   .arg(kMaxMacLength);
                continue;
            }
            const QString sn = line.left(firstComma).toString();
            const QString mac = macField.left(macLength).toString();
            table.snList << sn;
            table.macList << mac;
            table.lines
                << QStringLiteral("%1=>%2[%3]").arg(QString::number(table.snList.size()), sn, mac);
        }
    }
    return table;
}

bool sameMacText(const QString &a, const QString &b)
{
    auto cut = [](const QString &text) {
        return text.leftRef(lengthWithoutTrailingBlanks(QStringRef(&text)));
    };
    return cut(a).compare(cut(b), Qt::CaseInsensitive) == 0;
}

int findSerialNumber(const QStringList &snList, const QString &sn)
{
    return snList.indexOf(sn);
}
