#pragma once

// What feederbench-cli says: result lines on standard output as the window's
// result window shows them, messages and the traffic on standard error, or
// one JSON document.

#include "device/link.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

// Keeps standard output for the program's own results. The service packet
// codec prints its diagnostic lines there ("[get_dz_wr_pak:370]: ..."); a
// script reading the results, or one JSON document, must not get them. They
// go to standard error with verbose, else nowhere.
void setAsideStandardOutput(bool diagnosticsToStandardError);

// Writes text and a line end, UTF-8, and hands it to the system at once: a
// station script reading the pipe sees each line as it happens.
void printOut(const QString &text);
void printErr(const QString &text);
void printJson(const QJsonObject &document);

// The operations' sink: each result line printed as it comes (unless the
// output is one JSON document), and kept for that document.
class ConsoleSink : public OperationSink
{
public:
    explicit ConsoleSink(bool printLines)
        : m_printLines(printLines)
    {}

    void resultLine(const QString &line, Tone tone = Tone::Plain) override;
    const QStringList &lines() const { return m_lines; }

private:
    bool m_printLines;
    QStringList m_lines;
};
