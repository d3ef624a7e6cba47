// Hexadecimal text: rendering requests and replies, reading a console send line.

#include "protocol/hex.h"

#include <QStringList>

namespace {

const char kUpperDigits[] = "0123456789ABCDEF";
const char kLowerDigits[] = "0123456789abcdef";

// Two digits and a blank per byte; the same for "%02X " and for
// QString::arg(byte, 2, 16, '0') + ' ', which differ only in the letters' case.
QString hexText(const unsigned char *bytes, int length, const char *digits)
{
    QString text;
    if (!bytes || length <= 0)
        return text;
    text.resize(length * 3);
    QChar *out = text.data();
    for (int i = 0; i < length; ++i) {
        *out++ = QLatin1Char(digits[bytes[i] >> 4]);
        *out++ = QLatin1Char(digits[bytes[i] & 0x0F]);
        *out++ = QLatin1Char(' ');
    }
    return text;
}

// Text mode: the line goes out in the local 8-bit encoding; the log shows
// what those bytes read as UTF-8, which a zero byte cuts short.
SendConversion convertAsText(const QString &text)
{
    SendConversion c;
    c.bytes = text.toLocal8Bit();
    c.display = QString::fromUtf8(c.bytes.constData());
    return c;
}

// Digits typed in one run: fromHex pairs them up from the end and skips
// whatever is not a digit. The log shows the run as typed, a blank after every
// second character.
SendConversion convertDigitRun(const QString &text)
{
    SendConversion c;
    const QByteArray latin1 = text.toLatin1();
    c.bytes = QByteArray::fromHex(latin1);
    c.display.reserve(latin1.size() + latin1.size() / 2);
    for (int i = 0; i < latin1.size(); ++i) {
        c.display += QLatin1Char(latin1.at(i));
        if (i % 2 == 1)
            c.display += QLatin1Char(' ');
    }
    return c;
}

// Pieces between single blanks, each a number of its own whose low eight bits
// are sent, so 1FF and -1 both go out as FF. One piece that is not a number
// spoils the whole line.
SendConversion convertPieces(const QString &text)
{
    SendConversion c;
    const QStringList pieces = text.split(QLatin1Char(' '));
    c.bytes.reserve(pieces.size());
    for (const QString &piece : pieces) {
        if (piece.isEmpty())
            continue;
        bool ok = false;
        const int value = piece.toInt(&ok, 16);
        if (!ok) {
            c.ok = false;
            c.bytes.clear();
            return c;
        }
        c.bytes.append(char(value & 0xFF));
    }
    c.display = text.toUpper();
    return c;
}

} // namespace

QString hexRequestText(const unsigned char *bytes, int length)
{
    return hexText(bytes, length, kUpperDigits);
}

QString hexReplyText(const unsigned char *bytes, int length)
{
    return hexText(bytes, length, kLowerDigits);
}

SendConversion convertSendText(const QString &text, bool hexMode)
{
    if (!hexMode)
        return convertAsText(text);
    // A request rendered by the tool has its first blank at position 2 and
    // takes the piece path; a blank in front sends the line down the digit run.
    if (text.indexOf(QLatin1Char(' ')) < 1)
        return convertDigitRun(text);
    return convertPieces(text);
}
