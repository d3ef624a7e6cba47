#pragma once

// How lines reach the two message windows (the send and receive lines
// themselves: serial/logline.h).

#include "serial/logline.h"
#include "serial/logstore.h"

#include <QDateTime>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class QPlainTextEdit;
class QTimer;
class QWidget;

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
//
// While a reply is awaited, drawing waits for the start of the next wait:
// a batch drawn just as the reply comes in would hold the reply back by as
// long as the drawing takes, while one drawn as the request leaves is done
// in the unit's turnaround. The record still goes to disk on time.
constexpr int kLogRefreshMs = 50;

// How a line is drawn; the text, the saved log and the session record are
// the same whatever its ink.
enum class LineInk {
    Plain,
    Red,  // the traffic window's send and receive lines; a failed operation's line
    Green // a verified or passed result
};

class LogQueue
{
public:
    // Once, before the first line.
    void setView(QPlainTextEdit *view, LineStore *store, SessionRecord *record,
                 SessionRecord::Window window);
    // Runs before each batch is drawn: what else is to be drawn with it.
    void setBeforeDrawing(std::function<void()> hook) { m_beforeDrawing = std::move(hook); }

    // recordNote goes after a tab in the session record, not into the window.
    void add(const QString &text, LineInk ink, const QString &recordNote = QString());
    void addRed(const QString &line, const QString &recordNote = QString())
    {
        add(line, LineInk::Red, recordNote);
    }
    void addPlain(const QString &line) { add(line, LineInk::Plain); }
    void addPlain(const QStringList &lines);
    void flush(); // appends what waits, now
    // From the start to the end of a reply wait: a batch due in between is
    // drawn at the next wait's start (or just after this one, when none follows).
    void holdDrawing();
    void releaseDrawing();
    void drawIfDue();
    // Empties the window and its store, with what still waits: those lines
    // came before the clearing. The session record keeps them.
    void clear();

private:
    QPlainTextEdit *m_view = nullptr;
    QTimer *m_timer = nullptr; // owned by the view
    LineStore *m_store = nullptr;
    SessionRecord *m_record = nullptr;
    SessionRecord::Window m_window = SessionRecord::Traffic;
    QVector<QPair<QString, LineInk>> m_lines;
    std::function<void()> m_beforeDrawing;
    bool m_held = false;
    bool m_due = false; // the refresh came while drawing was held
};
