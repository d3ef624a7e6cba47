// How a read reply becomes text: the only meaning the tool gives register contents.

#include "device/decode.h"

#include "config/devicelist.h"
#include "device/registers.h"

#include <QByteArray>
#include <QStringList>

#include <cmath>
#include <cstring>

namespace {

constexpr int kWordBytes = 8; // the 64-bit word that integers and doubles are read through

QString indented(const char *text)
{
    return QStringLiteral("\n\t%1").arg(QString::fromUtf8(text));
}

// The data bytes right-aligned in a 64-bit word, first byte most significant.
// Longer data keep their last eight bytes: the least significant end of the value.
quint64 rightAligned(const unsigned char *data, int n)
{
    const int skip = n > kWordBytes ? n - kWordBytes : 0;
    quint64 word = 0;
    for (int i = skip; i < n; ++i)
        word = (word << 8) | data[i];
    return word;
}

// The value of the first register; only meaningful when both of its bytes arrived.
int firstRegister(const unsigned char *data)
{
    return data[0] * 256 + data[1];
}

// The unit's values are at most two registers wide: the low 32 bits carry the sign.
qint32 integerValue(const unsigned char *data, int n)
{
    return static_cast<qint32>(static_cast<quint32>(rightAligned(data, n)));
}

double doubleValue(const unsigned char *data, int n)
{
    const quint64 word = rightAligned(data, n);
    double value;
    static_assert(sizeof value == sizeof word, "an IEEE-754 double is 64 bits");
    std::memcpy(&value, &word, sizeof value);
    return value;
}

// The data of a reply: its byte count, never believed beyond what arrived.
int dataLength(const unsigned char *bytes, int available)
{
    return available > 0 ? qMin(int(bytes[0]), available - 1) : 0;
}

QString integerText(const DeviceEntry &entry, const unsigned char *data, int n)
{
    const qint32 v = integerValue(data, n);
    if (entry.xsws <= 0) {
        QString text = QString::number(v);
        if (entry.base == kSwitchStateRegister && n >= 2)
            text += switchStateText(firstRegister(data));
        return text;
    }
    // pow() saturates to infinity for absurd decimal places, which scales any value to 0.
    double scaled = v / std::pow(10.0, entry.xsws);
    if (scaled == 0.0)
        scaled = 0.0; // no "-0" for a negative value scaled away to nothing
    return QString::number(scaled, 'g', 5);
}

QString doubleText(const unsigned char *data, int n)
{
    return QString::number(doubleValue(data, n), 'g', 4);
}

QString statusBitsText(const DeviceEntry &entry, const unsigned char *data, int n)
{
    if (n < 2)
        return QString();
    const auto w = static_cast<quint16>(firstRegister(data));
    QString text = QStringLiteral("%1").arg(w, 16, 2, QLatin1Char('0'));
    if (entry.base == kProtectionFlagsRegister)
        text += protectionFlagTexts(w);
    return text;
}

// Year, then month and day after "-", the hour after a blank, and every
// further byte after ":" (the clock block ends with a zero byte: ":00").
QString dateTimeText(const unsigned char *data, int n)
{
    if (n < 2)
        return QString();
    QString text = QString::number(firstRegister(data));
    for (int i = 2; i < n; ++i) {
        const QChar separator = i < 4    ? QLatin1Char('-')
                                : i == 4 ? QLatin1Char(' ')
                                         : QLatin1Char(':');
        text += separator;
        text += QStringLiteral("%1").arg(uint(data[i]), 2, 10, QLatin1Char('0'));
    }
    return text;
}

} // namespace

QString decodeReply(const DeviceEntry &entry, const unsigned char *bytes, int available)
{
    const int n = dataLength(bytes, available);
    // With nothing available bytes may be null: no arithmetic on it then.
    const unsigned char *data = n > 0 ? bytes + 1 : nullptr;

    switch (entry.type) {
    case kEntryTypeInteger:
        return integerText(entry, data, n);
    case kEntryTypeDouble:
        return doubleText(data, n);
    case kEntryTypeHexBytes:
        return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(data), n).toHex())
            .toUpper();
    case kEntryTypeStatusBits:
        return statusBitsText(entry, data, n);
    case kEntryTypeDateTime:
        return dateTimeText(data, n);
    default:
        return QString();
    }
}

bool decodeNumber(const DeviceEntry &entry, const unsigned char *bytes, int available,
                  double *value)
{
    const int n = dataLength(bytes, available);
    if (n < 2)
        return false;
    if (entry.type == kEntryTypeInteger) {
        const qint32 v = integerValue(bytes + 1, n);
        *value = entry.xsws > 0 ? v / std::pow(10.0, entry.xsws) : double(v);
        return true;
    }
    if (entry.type == kEntryTypeDouble) {
        *value = doubleValue(bytes + 1, n);
        return std::isfinite(*value);
    }
    return false;
}

bool decodeFirstRegister(const unsigned char *bytes, int available, quint16 *value)
{
    if (dataLength(bytes, available) < 2)
        return false;
    *value = quint16(firstRegister(bytes + 1));
    return true;
}

// Year; month, day; hour, minute; second, 0: the block the clock is written with.
QDateTime decodeClock(const unsigned char *bytes, int available)
{
    if (dataLength(bytes, available) < 7)
        return QDateTime();
    const unsigned char *d = bytes + 1;
    const QDate date(firstRegister(d), d[2], d[3]);
    const QTime time(d[4], d[5], d[6]);
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time);
}

QString switchStateText(int value)
{
    static const char *const texts[] = {
        "合闸",              // 0: closed
        "远程分闸",          // 1: opened by remote command
        "LVD 分闸,低压侦测", // 2: opened by low-voltage disconnect
        "SOC 分闸",          // 3: opened on state of charge
        "定时分闸",          // 4: opened by the timer
        "本地手动分闸",      // 5: opened by hand at the unit
    };
    if (value < 0 || value >= int(sizeof texts / sizeof texts[0]))
        return QString();
    return indented(texts[value]);
}

QString protectionFlagTexts(quint16 w)
{
    static const char *const texts[] = {
        "短路保护",     // bit 0
        "过流保护",     // bit 1
        "过压保护",     // bit 2
        "过热保护",     // bit 3
        "低压脱扣状态", // bit 4
        "通讯中断",     // bit 5
    };
    QString text;
    for (int bit = 0; bit < int(sizeof texts / sizeof texts[0]); ++bit) {
        if (w & (1u << bit))
            text += indented(texts[bit]);
    }
    return text;
}
