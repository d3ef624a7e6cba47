// MAC address text, the line's block, and whether an address may reach a unit.

#include "device/macaddress.h"

#include "config/settings.h"

#include <QStringList>

namespace {

constexpr int kMacDigits = 12;
constexpr int kMacBytes = 6;
constexpr quint64 kMulticastBit = 0x010000000000ULL; // the lowest bit of the first byte

const char kMacGroup[] = "mac";

int hexValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// The twelve digits of text when it is an address in one of the accepted
// forms; an empty string otherwise.
QString macDigits(const QString &text)
{
    const QString t = text.trimmed();
    QString digits;
    if (t.size() == kMacDigits) {
        digits = t;
    } else if (t.size() == kMacDigits + kMacBytes - 1) {
        // One separator throughout: "00:39-28:…" is a typing slip, not an address.
        const QChar separator = t.at(2);
        if (separator != QLatin1Char(':') && separator != QLatin1Char('-'))
            return QString();
        for (int i = 0; i < t.size(); ++i) {
            if (i % 3 == 2) {
                if (t.at(i) != separator)
                    return QString();
            } else {
                digits += t.at(i);
            }
        }
    } else {
        return QString();
    }
    for (const QChar c : qAsConst(digits)) {
        if (hexValue(c) < 0)
            return QString();
    }
    return digits;
}

quint64 byteOf(quint64 address, int group)
{
    return (address >> (8 * (kMacBytes - 1 - group))) & 0xFF;
}

QString hexByte(quint64 byte, bool upper)
{
    const QString text = QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0'));
    return upper ? text.toUpper() : text;
}

} // namespace

bool parseMac(const QString &text, quint64 *address)
{
    const QString digits = macDigits(text);
    if (digits.isEmpty())
        return false;
    quint64 value = 0;
    for (const QChar c : digits)
        value = (value << 4) | quint64(hexValue(c));
    *address = value;
    return true;
}

QString macAddressText(quint64 address)
{
    QStringList groups;
    for (int i = 0; i < kMacBytes; ++i)
        groups << hexByte(byteOf(address, i), true);
    return groups.join(QLatin1Char(':'));
}

QString groupedMacText(const QString &text)
{
    const QString digits = macDigits(text);
    if (digits.isEmpty())
        return text;
    QStringList groups;
    for (int i = 0; i < kMacBytes; ++i)
        groups << digits.mid(2 * i, 2);
    return groups.join(QLatin1Char(':'));
}

QString nextMacText(const QString &typed, quint64 next)
{
    const QString digits = macDigits(typed);
    QStringList groups;
    for (int i = 0; i < kMacBytes; ++i) {
        const quint64 byte = byteOf(next, i);
        // The vendor's prefix stays exactly as the engineer typed it.
        const QString typedGroup = digits.mid(2 * i, 2);
        bool same = false;
        if (i < 3 && typedGroup.size() == 2)
            same = quint64(hexValue(typedGroup.at(0)) * 16 + hexValue(typedGroup.at(1))) == byte;
        groups << (same ? typedGroup : hexByte(byte, false));
    }
    return groups.join(QLatin1Char(':'));
}

QString MacBlock::text() const
{
    return macAddressText(first) + QStringLiteral("–") + macAddressText(last);
}

MacBlock macBlockFromConfig(QString *problem)
{
    MacBlock block;
    const QString group = QLatin1String(kMacGroup);
    for (const QString &key : read_config_keys(group)) {
        if (key != QLatin1String("first") && key != QLatin1String("last")) {
            *problem = QStringLiteral("config.ini [mac] %1= 不是可用的键（只有 first 和 last）")
                           .arg(key);
            return block;
        }
    }
    const auto read = [&](const char *key, quint64 *value) {
        const QString text = read_config_string(group, QLatin1String(key)).trimmed();
        if (text.isEmpty())
            return true;
        if (parseMac(text, value))
            return true;
        *problem
            = QStringLiteral("config.ini [mac] %1=%2 不是MAC地址（应为 00:39:28:00:00:00 的形式）")
                  .arg(QLatin1String(key), text);
        return false;
    };
    if (!read("first", &block.first) || !read("last", &block.last))
        return block;
    if (block.first > block.last) {
        *problem = QStringLiteral("config.ini [mac] first=%1 在 last=%2 之后，地址段无效")
                       .arg(macAddressText(block.first), macAddressText(block.last));
    }
    return block;
}

MacRefusal checkMacForUnit(quint64 address, const MacBlock &block)
{
    if (address == 0)
        return MacRefusal::AllZero;
    if (address == kMacMax)
        return MacRefusal::Broadcast;
    if (address & kMulticastBit)
        return MacRefusal::Multicast;
    if (!block.contains(address))
        return MacRefusal::OutsideBlock;
    return MacRefusal::None;
}

QString macRefusalReason(MacRefusal why)
{
    switch (why) {
    case MacRefusal::None:
        break;
    case MacRefusal::AllZero:
        return QStringLiteral("是全零地址");
    case MacRefusal::Broadcast:
        return QStringLiteral("是广播地址");
    case MacRefusal::Multicast:
        return QStringLiteral("是组播地址（第一字节最低位为1）");
    case MacRefusal::OutsideBlock:
        return QStringLiteral("不在本线的地址段内");
    }
    return QString();
}

QString macRefusalText(MacRefusal why, quint64 address, const MacBlock &block)
{
    return QStringLiteral("MAC %1 %2，本线地址段为 %3，未写入")
        .arg(macAddressText(address), macRefusalReason(why), block.text());
}
