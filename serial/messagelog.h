#pragma once

// The red send and receive lines of the traffic window.

#include <QDateTime>
#include <QString>

// "<span style=\" color:red;\">[2026-12-07 10:00:00.123][发送]: 55 06 ...\n\r</span>"
QString sendLogLine(const QDateTime &when, const QString &display);
QString receiveLogLine(const QDateTime &when, const unsigned char *bytes, int length);
