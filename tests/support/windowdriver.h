#pragma once

// Driving the window from a test as an engineer would: widgets by object
// name, message boxes answered when they appear, the port opened on a
// pseudo-terminal. MainWindowProbe reads the receive state that no widget shows.

#include "app/mainwindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QByteArray>
#include <QMessageBox>
#include <QString>
#include <QWidget>

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

// Arms a watcher that answers the next modal message box with button (and
// records it). Call before the action that shows the box.
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
    static void setExpected(MainWindow &w, const ReplyKind &kind) { w.m_expected = kind; }
    static ReplyVerdict exchange(MainWindow &w, const QByteArray &frame, const ReplyKind &kind)
    {
        return w.exchangeRequest(reinterpret_cast<const unsigned char *>(frame.constData()),
                                 frame.size(), kind);
    }
    static void setClock(MainWindow &w, const QDateTime &fixed)
    {
        w.m_clock = [fixed] { return fixed; };
    }
    static bool busy(const MainWindow &w) { return w.m_busy; }
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
    static void logResult(MainWindow &w, const QString &line) { w.appendResult(line); }
    static QString sessionFile(const MainWindow &w) { return w.m_session.fileName(); }
};
