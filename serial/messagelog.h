#pragma once

// The send and receive lines of the traffic window, and how lines reach the
// two message windows.

#include "serial/logstore.h"

#include <QDateTime>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

class QPlainTextEdit;
class QTimer;
class QWidget;

// "[2026-12-07 10:00:00.123][发送]: 55 06 ... " as the window shows it in red
// and saves it: runs of blanks in the text show as one, and one blank follows
// the last byte.
QString sendLogLine(const QDateTime &when, const QString &display);
// The same shape with "][接收]: " and the bytes in lower-case hexadecimal.
QString receiveLogLine(const QDateTime &when, const unsigned char *bytes, int length);

// Ctrl+C in the view copies its selection when it has one; without a
// selection the key goes on to the window's shortcut (closing the port).
// For QTextEdit and QPlainTextEdit views alike.
void letCtrlCCopy(QWidget *view);

// Lines waiting for one of the message windows. Laying out and drawing a
// line in a visible window takes longer than a whole reply at 115200 baud,
// and Qt finishes a layout on timers of its own that may fall in the middle
// of the next reply. So the windows take their lines in batches, at most
// every kLogRefreshMs: the engineer sees no difference, and the line is never
// held back by its own log. Order is kept: every line of a window goes
// through its queue. Nothing is dropped.
//
// A line goes into the window's store and the session record as it comes;
// the record reaches the disk with each batch, before the batch is drawn, so
// whatever the window shows is on disk. The window itself keeps only its
// newest lines (its block limit); the store keeps all of them.
constexpr int kLogRefreshMs = 50;

class LogQueue
{
public:
    // Once, before the first line.
    void setView(QPlainTextEdit *view, LineStore *store, SessionRecord *record,
                 SessionRecord::Window window);

    // recordNote goes after a tab in the session record, not into the window.
    void addRed(const QString &line, const QString &recordNote = QString())
    {
        add(line, true, recordNote);
    }
    void addPlain(const QString &line) { add(line, false); }
    void addPlain(const QStringList &lines);
    void flush(); // appends what waits, now
    // Empties the window and its store, with what still waits: those lines
    // came before the clearing. The session record keeps them.
    void clear();

private:
    void add(const QString &text, bool red, const QString &recordNote = QString());

    QPlainTextEdit *m_view = nullptr;
    QTimer *m_timer = nullptr; // owned by the view
    LineStore *m_store = nullptr;
    SessionRecord *m_record = nullptr;
    SessionRecord::Window m_window = SessionRecord::Traffic;
    QVector<QPair<QString, bool>> m_lines; // text, is red
};
