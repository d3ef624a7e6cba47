#pragma once

// The send and receive lines of the traffic log, as the window shows and
// saves them and the command line prints them with --verbose.

#include "protocol/reply.h"

#include <QDateTime>
#include <QString>

// "[2026-12-07 10:00:00.123][发送]: 55 06 ... " as the window shows it in red
// and saves it: runs of blanks in the text show as one, and one blank follows
// the last byte.
QString sendLogLine(const QDateTime &when, const QString &display);
// The same shape with "][接收]: " and the bytes in lower-case hexadecimal.
QString receiveLogLine(const QDateTime &when, const unsigned char *bytes, int length);
// What follows the receive line of a request's echo: "（回显）", or
// "（回显不符）" when it differs from the request or stops short.
QString echoMarker(EchoState state);
