#pragma once

// The red send and receive lines of the traffic window.

#include <QDateTime>
#include <QString>
#include <QStringList>

class QTextEdit;

// "<span style=\" color:red;\">[2026-12-07 10:00:00.123][发送]: 55 06 ...\n\r</span>"
// The display text is escaped, so a console line holding "<" shows as typed.
QString sendLogLine(const QDateTime &when, const QString &display);
// The same shape with "][接收]: " and the bytes in lower-case hexadecimal.
QString receiveLogLine(const QDateTime &when, const unsigned char *bytes, int length);

// Appends lines as plain text, one paragraph each, in one edit block: text
// from files and results from the unit is shown as it stands, where append()
// would take a line that happens to look like markup ("<b>", "&lt;") for HTML.
// The view keeps following the end if it was there.
void appendPlainLines(QTextEdit *view, const QStringList &lines);
