#pragma once

// The red send and receive lines of the traffic window.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

class QTextEdit;
class QTimer;
class QWidget;

// "<span style=\" color:red;\">[2026-12-07 10:00:00.123][发送]: 55 06 ...\n\r</span>"
// The display text is escaped, so a console line holding "<" shows as typed.
QString sendLogLine(const QDateTime &when, const QString &display);
// The same shape with "][接收]: " and the bytes in lower-case hexadecimal.
QString receiveLogLine(const QDateTime &when, const unsigned char *bytes, int length);

// Ctrl+C in the view copies its selection when it has one; without a
// selection the key goes on to the window's shortcut (closing the port).
// For QTextEdit and QPlainTextEdit views alike.
void letCtrlCCopy(QWidget *view);

// Saving text to a file the engineer chose: replaced as a whole through a
// temporary file where that works, written in place where it must be (a
// hard-linked or special file, a folder that takes no new files).
struct SaveResult
{
    enum Outcome { Saved, OpenFailed, WriteFailed };
    Outcome outcome = Saved;
    QString errorText; // the system's reason
};
SaveResult saveText(const QString &fileName, const QString &text);

// Appends lines as plain text, one paragraph each, in one edit block: text
// from files and results from the unit is shown as it stands, where append()
// would take a line that happens to look like markup ("<b>", "&lt;") for HTML.
// The view keeps following the end if it was there.
void appendPlainLines(QTextEdit *view, const QStringList &lines);

// Lines waiting for one of the message windows. Laying out and drawing a
// line in a visible window takes longer than a whole reply at 115200 baud,
// and Qt finishes a layout on timers of its own that may fall in the middle
// of the next reply. So the windows take their lines in batches, at most
// every kLogRefreshMs: the engineer sees no difference, and the line is never
// held back by its own log. Order is kept: every line of a window goes
// through its queue. Nothing is dropped.
constexpr int kLogRefreshMs = 50;

class LogQueue
{
public:
    void setView(QTextEdit *view); // once, before the first line

    void addHtml(const QString &line) { add(line, true); }
    void addPlain(const QString &line) { add(line, false); }
    void addPlain(const QStringList &lines);
    void flush(); // appends what waits, now
    void discard() { m_lines.clear(); }

private:
    void add(const QString &line, bool html);

    QTextEdit *m_view = nullptr;
    QTimer *m_timer = nullptr;             // owned by the view
    QVector<QPair<QString, bool>> m_lines; // text, is HTML
};
