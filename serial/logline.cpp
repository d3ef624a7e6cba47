// The send and receive lines of the traffic log.

#include "serial/logline.h"

#include "protocol/hex.h"

namespace {

// The window once drew these lines from HTML, where blanks run together; the
// text is kept as it was shown and saved then.
QString logLine(const QDateTime &when, const char *direction, const QString &text)
{
    return (QLatin1Char('[') + when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"))
            + QString::fromUtf8(direction) + text)
               .simplified()
           + QLatin1Char(' ');
}

} // namespace

QString sendLogLine(const QDateTime &when, const QString &display)
{
    return logLine(when, "][发送]: ", display);
}

QString receiveLogLine(const QDateTime &when, const unsigned char *bytes, int length)
{
    return logLine(when, "][接收]: ", hexReplyText(bytes, length));
}

QString echoMarker(EchoState state)
{
    return state == EchoState::Complete ? QStringLiteral("（回显）")
                                        : QStringLiteral("（回显不符）");
}
