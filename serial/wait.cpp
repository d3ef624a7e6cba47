// The reply wait and the plain delay.

#include "serial/wait.h"

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

// Both waits sleep inside an event loop rather than polling it: a polling wait
// keeps a processor core busy for its whole length, up to a second per request.
// A precise timer wakes the loop at the next moment a decision is due, and
// reception wakes it in between. Once the application is quitting (the window
// was closed) a nested loop returns at once, every time: a wait that went on
// would spin until its time-out, so both waits end there.

void DelayMs(int ms)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    for (qint64 elapsed = clock.elapsed(); elapsed < ms; elapsed = clock.elapsed()) {
        deadline.start(int(ms - elapsed));
        if (loop.exec() < 0)
            return; // the application is quitting
    }
}

void MainWindow::WaitForReply(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    qint64 lastReception = 0; // elapsed time of the latest chunk; 0 = none yet

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    // A wait started from inside another (re-entry through the event loop)
    // takes over the wake-up and hands it back when it ends.
    QEventLoop *const outerLoop = m_waitLoop;
    m_waitLoop = &loop;
    // The request has just left: the unit's turnaround is the time to draw.
    m_resultQueue.drawIfDue();
    m_trafficQueue.drawIfDue();
    m_resultQueue.holdDrawing();
    m_trafficQueue.holdDrawing();

    for (;;) {
        // The port gone or the window closing: the reply no longer matters.
        if (exchangeCutShort())
            break;
        const qint64 elapsed = clock.elapsed();
        if (elapsed >= qint64(timeoutMs))
            break;
        if (recvFlag) {
            recvFlag = 0;
            lastReception = elapsed; // a chunk seen at 0 ms does not start the quiet rule
        } else if (lastReception > 0 && elapsed - lastReception > kQuietGapMs) {
            break;
        }
        // A complete reply needs no quiet gap to tell that it is over; on a
        // line that echoes, the whole echo has to come before it.
        if (m_expected.protocol != ReplyKind::None) {
            const ReplyState state = checkEchoedReply(
                m_expected, reinterpret_cast<const unsigned char *>(m_expectedEcho.constData()),
                m_expectedEcho.size(), recvBuf, recvLen);
            if (state == ReplyState::Answer || state == ReplyState::Exception)
                break;
        }

        qint64 due = timeoutMs;
        if (lastReception > 0)
            due = qMin(due, lastReception + kQuietGapMs + 1);
        deadline.start(int(due - elapsed));
        if (loop.exec() < 0) {
            endOperationEarly(OperationState::WindowClosing); // the application is quitting
            break;
        }
    }

    deadline.stop();
    m_waitLoop = outerLoop;
    if (!m_waitLoop) {
        m_resultQueue.releaseDrawing();
        m_trafficQueue.releaseDrawing();
    }
    if (m_receiveDisplayStale && !m_waitLoop)
        showReceiveCount();
}
