// The serial-number to MAC-address table: reading mac.csv and finding a row.

#include "config/mactable.h"

#include "device/macaddress.h"

#include <QHash>
#include <QTextStream>

#include <functional>

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

// A file saved as UTF-16 without a byte-order mark: every other byte of its
// ASCII text is zero. Which ones tells the byte order.
const char *utf16WithoutMark(const QByteArray &head)
{
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF") || head.size() < 4)
        return nullptr;
    int zeroEven = 0;
    int zeroOdd = 0;
    for (int i = 0; i + 1 < head.size(); i += 2) {
        zeroEven += head.at(i) == '\0';
        zeroOdd += head.at(i + 1) == '\0';
    }
    const int pairs = head.size() / 2;
    if (zeroOdd * 2 > pairs && zeroEven * 8 < pairs)
        return "UTF-16LE";
    if (zeroEven * 2 > pairs && zeroOdd * 8 < pairs)
        return "UTF-16BE";
    return nullptr;
}

constexpr int kEncodingSampleBytes = 4096;

// Serial numbers listed twice with different addresses, and addresses listed
// for two serial numbers: one line for each, naming the first two lines (and
// how many more there are). The first row wins a lookup; the engineer has to
// know that the other is never used.
QStringList duplicateLines(const MacTable &table, const QVector<int> &lineNumbers)
{
    // One address however it is written: case and separators aside.
    const auto key = [](const QString &mac) {
        quint64 address = 0;
        return parseMac(mac, &address) ? macAddressText(address) : mac.toUpper();
    };
    struct Clash
    {
        int first = 0;
        int second = -1;
        int more = 0;
    };
    QHash<QString, Clash> bySn;
    QHash<QString, Clash> byMac;
    QVector<QPair<bool, QString>> order; // which clash to report, in the order met
    const auto meet = [&order](QHash<QString, Clash> &clashes, const QString &k, int i, bool isSn,
                               const std::function<bool(int)> &clashesWith) {
        const auto it = clashes.find(k);
        if (it == clashes.end()) {
            clashes.insert(k, Clash{i});
        } else if (clashesWith(it->first)) {
            if (it->second < 0) {
                it->second = i;
                order.append({isSn, k});
            } else {
                ++it->more;
            }
        }
    };
    for (int i = 0; i < table.snList.size(); ++i) {
        const QString macKey = key(table.macList.at(i));
        meet(bySn, table.snList.at(i), i, true,
             [&](int first) { return key(table.macList.at(first)) != macKey; });
        if (!macKey.isEmpty())
            meet(byMac, macKey, i, false,
                 [&](int first) { return table.snList.at(first) != table.snList.at(i); });
    }
    QStringList lines;
    for (const auto &o : qAsConst(order)) {
        const Clash c = o.first ? bySn.value(o.second) : byMac.value(o.second);
        const QString first = QString::number(lineNumbers.at(c.first));
        const QString second = QString::number(lineNumbers.at(c.second));
        QString line
            = o.first ? QStringLiteral(
                            "mac.csv第%1行和第%2行的SN %3 相同而MAC不同（%4 与 %5），只用第%1行")
                            .arg(first, second, table.snList.at(c.first), table.macList.at(c.first),
                                 table.macList.at(c.second))
                      : QStringLiteral("mac.csv第%1行和第%2行的MAC %3 相同而SN不同（%4 与 %5）")
                            .arg(first, second, table.macList.at(c.second),
                                 table.snList.at(c.first), table.snList.at(c.second));
        if (c.more > 0)
            line += QStringLiteral("；另有%1行同样").arg(c.more);
        lines << line;
    }
    return lines;
}

} // namespace

MacTable readMacTable(QIODevice &device)
{
    MacTable table;
    // The stream decodes with the system's encoding and drops a byte-order mark.
    QTextStream stream(&device);
    if (const char *codec = utf16WithoutMark(device.peek(kEncodingSampleBytes))) {
        stream.setCodec(codec);
        table.lines << QStringLiteral("mac.csv是不带字节顺序标记的UTF-16编码，已按%1读入，"
                                      "请将文件另存为UTF-8")
                           .arg(QLatin1String(codec));
    }
    QVector<int> lineNumbers; // of each loaded row
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
            lineNumbers << lineNumber;
            table.lines
                << QStringLiteral("%1=>%2[%3]").arg(QString::number(table.snList.size()), sn, mac);
        }
    }
    table.lines << duplicateLines(table, lineNumbers);
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
