#pragma once

// Driving the window from a test as an engineer would: widgets by object
// name, message boxes answered when they appear, the port opened on a
// pseudo-terminal. MainWindowProbe reads the receive state that no widget shows.

#include "app/mainwindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QByteArray>
#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QTreeWidgetItem>
#include <QWidget>

#include <functional>

template<class T>
T *widget(QWidget &window, const char *name)
{
    return window.findChild<T *>(QString::fromLatin1(name));
}

// What a message box said before the test answered it.
struct SeenBox
{
    bool shown = false;
    QString title;
    QString text;
};

// Stands in for the engineer at the modal dialogs while it lives: a timer
// finds the active modal widget in the dialog's own event loop. A message box
// gets button, or Yes where it lacks that button (the save dialog's "replace
// it?"), or is rejected; a file dialog gets saveAs typed into its name field,
// or is cancelled when saveAs is empty. What each showed is kept.
class ModalAnswerer : public QObject
{
public:
    explicit ModalAnswerer(QMessageBox::StandardButton button = QMessageBox::Ok,
                           const QString &saveAs = QString());

    QList<SeenBox> boxes;      // every message box answered, in order
    SeenBox last;              // the latest of them
    QString dialogTitle;       // the file dialog's title, once one was shown
    QStringList proposedFiles; // and the file it proposed
    bool once = false;         // stop after the first box

    int count() const { return boxes.size(); }
    QStringList texts() const;        // of every box answered
    QList<SeenBox> toolBoxes() const; // without the file dialog's own "replace it?"

private:
    void answer(QWidget *modal);

    QMessageBox::StandardButton m_button;
    QString m_saveAs;
    QTimer *m_timer;
};

// Arms an answerer for the next modal message box only, kept until the
// process ends. Call before the action that shows the box.
SeenBox *answerNextMessageBox(QMessageBox::StandardButton button);

// Types path into the port field and opens it with the window's action.
bool openPortOn(MainWindow &window, const QString &path);
bool portIsOpen(MainWindow &window);
// The window's port object.
QSerialPort *windowPort(MainWindow &window);

// Plain text of the traffic and result windows, one entry per line.
QStringList trafficLines(MainWindow &window);
QStringList resultLines(MainWindow &window);
QString statusText(MainWindow &window);
// How the result window draws its latest line reading line: "red", "green",
// "plain", or "" when no line reads so.
QString resultInk(MainWindow &window, const QString &line);

// The test tree as the engineer sees it: one line per item in tree order,
// indented two blanks a level; line gives an item's text (by default its name).
QStringList treeTexts(MainWindow &window,
                      const std::function<QString(const QTreeWidgetItem *)> &line = {});

struct MainWindowProbe
{
    static int recvLen(const MainWindow &w) { return w.recvLen; }
    static int recvFlag(const MainWindow &w) { return w.recvFlag; }
    static int recvCount(const MainWindow &w) { return w.recvCount; }
    static int sendCount(const MainWindow &w) { return w.sendCount; }
    static int cycleIndex(const MainWindow &w) { return w.cycleIndex; }
    static int macCount(const MainWindow &w) { return w.macCount; }
    static QStringList snList(const MainWindow &w) { return w.snList; }
    static QStringList macList(const MainWindow &w) { return w.macList; }
    static QByteArray recvBytes(const MainWindow &w)
    {
        return QByteArray(reinterpret_cast<const char *>(w.recvBuf), w.recvLen);
    }
    static void resetReceive(MainWindow &w)
    {
        w.recvLen = 0;
        w.recvFlag = 0;
    }
    static void sendData(MainWindow &w, int n) { w.SendData(n); }
    static void waitForReply(MainWindow &w, int timeoutMs) { w.WaitForReply(timeoutMs); }
    // echo: the request a line that echoes hands back before the reply
    static void setExpected(MainWindow &w, const ReplyKind &kind,
                            const QByteArray &echo = QByteArray())
    {
        w.m_expected = kind;
        w.m_expectedEcho = echo;
    }
    static ReplyVerdict exchange(MainWindow &w, const QByteArray &frame, const ReplyKind &kind)
    {
        return w.exchangeRequest(reinterpret_cast<const unsigned char *>(frame.constData()),
                                 frame.size(), kind);
    }
    // The exchange as the device operations see it through their link.
    static Exchange linkExchange(MainWindow &w, const QByteArray &frame, const ReplyKind &kind)
    {
        return static_cast<DeviceLink &>(w).exchange(frame, kind);
    }
    static LineStats lineStats(const MainWindow &w) { return w.m_lineStats; }
    static void setClock(MainWindow &w, const QDateTime &fixed)
    {
        w.m_clock = [fixed] { return fixed; };
    }
    static bool busy(const MainWindow &w)
    {
        return w.m_operation != MainWindow::OperationState::Idle;
    }
    // The message windows take their lines in batches; a test looks at once.
    static void flushLogs(MainWindow &w)
    {
        w.m_trafficQueue.flush();
        w.m_resultQueue.flush();
    }
    // Lines into the windows the way the device operations put them there.
    static void logSend(MainWindow &w, const QDateTime &when, const QString &display)
    {
        w.appendSendLog(when, display);
    }
    static void appendReceiveLog(MainWindow &w, const unsigned char *bytes, int length)
    {
        w.appendReceiveLog(bytes, length);
    }
    static void logResult(MainWindow &w, const QString &line, Tone tone = Tone::Plain)
    {
        w.appendResult(line, tone);
    }
    static void logTraffic(MainWindow &w, const QStringList &lines) { w.appendTrafficLines(lines); }
    static QString sessionFile(const MainWindow &w) { return w.m_session.fileName(); }
    static LineStore &trafficLog(MainWindow &w) { return w.m_trafficLog; }
    static qint64 trafficLines(const MainWindow &w) { return w.m_trafficLog.lineCount(); }
};
