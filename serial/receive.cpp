// Reception into the receive buffer, the console's echo, the byte counters and
// the line statistics.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QEventLoop>
#include <QTimer>

#include <cstring>

void MainWindow::ReadSerialData()
{
    const QByteArray chunk = serialPort->readAll();
    if (!chunk.isEmpty()) {
        m_lastReceptionNs = m_lineClock.nsecsElapsed();
        recvCount += chunk.size();
        m_lastChunkSize = chunk.size();
        // A reply often comes in several chunks a fraction of a millisecond
        // apart; repainting the counters between them would hold the rest of
        // the reply back. While a wait runs, the display catches up at its end.
        if (m_waitLoop)
            m_receiveDisplayStale = true;
        else
            showReceiveCount();
        const QByteArray data = m_consoleEcho.isEmpty() ? chunk : takeConsoleEcho(chunk);
        // The buffer only fills up to its end; bytes past it are counted, not kept.
        const int room = int(sizeof recvBuf) - recvLen;
        const int taken = qMin(data.size(), room);
        if (taken > 0) {
            std::memcpy(recvBuf + recvLen, data.constData(), size_t(taken));
            recvLen += taken;
        }
    }
    recvFlag = 1;
    // A wait sleeps until something arrives; this is that something.
    if (m_waitLoop)
        m_waitLoop->quit();
}

// The console's sends come back first on a line that echoes: that much of
// what arrives is shown as the echo and kept out of the receive buffer; the
// rest is returned. A byte that differs ends the echo there.
QByteArray MainWindow::takeConsoleEcho(const QByteArray &chunk)
{
    m_consoleEchoSeen += chunk;
    const auto *sent = reinterpret_cast<const unsigned char *>(m_consoleEcho.constData());
    const auto *seen = reinterpret_cast<const unsigned char *>(m_consoleEchoSeen.constData());
    const EchoSplit split = splitEcho(sent, m_consoleEcho.size(), seen, m_consoleEchoSeen.size());
    if (split.state == EchoState::Incomplete)
        return QByteArray();
    appendReceiveLog(seen, split.replyStart, echoMarker(split.state));
    const QByteArray rest = m_consoleEchoSeen.mid(split.replyStart);
    m_consoleEcho.clear();
    m_consoleEchoSeen.clear();
    return rest;
}

namespace {
// The label changes its width with its figures, and laying the status bar out
// again after every reply costs the window more processor time than the
// exchange itself: it follows the figures at most this often.
constexpr int kLineStatsRefreshMs = 250;
} // namespace

void MainWindow::showLineStats()
{
    if (!m_lineStatsTimer) {
        m_lineStatsTimer = new QTimer(this);
        m_lineStatsTimer->setSingleShot(true);
        m_lineStatsTimer->setInterval(kLineStatsRefreshMs);
        connect(m_lineStatsTimer, &QTimer::timeout, this, &MainWindow::refreshLineStats);
    }
    if (!m_lineStatsTimer->isActive())
        m_lineStatsTimer->start();
}

void MainWindow::refreshLineStats()
{
    if (m_lineStatsTimer)
        m_lineStatsTimer->stop();
    ui->label_lineStats->setText(m_lineStats.label());
    ui->label_lineStats->setToolTip(m_lineStats.toolTip());
}

void MainWindow::showReceiveCount()
{
    m_receiveDisplayStale = false;
    showCounters();
    showStatus(QStringLiteral("成功读取%1字节数据").arg(m_lastChunkSize));
}

// While a device operation runs, the counters and the status line are drawn
// with the message windows' batches rather than at every request: each
// change is a repaint (the status bar repaints at once), and between two
// requests it would hold the next one back. At the operation's end they show
// what they last said. The console outside operations shows them as they change.
void MainWindow::showCounters()
{
    if (m_operation != OperationState::Idle) {
        m_displayHeld = true;
        return;
    }
    ui->lcdNumberSend->display(sendCount);
    ui->lcdNumberRecieve->display(recvCount);
}

void MainWindow::showStatus(const QString &text)
{
    if (m_operation != OperationState::Idle) {
        m_heldStatus = text;
        m_displayHeld = true;
        return;
    }
    ui->statusbar->showMessage(text);
}

void MainWindow::showHeldDisplay()
{
    if (!m_displayHeld)
        return;
    m_displayHeld = false;
    ui->lcdNumberSend->display(sendCount);
    ui->lcdNumberRecieve->display(recvCount);
    if (!m_heldStatus.isEmpty())
        ui->statusbar->showMessage(m_heldStatus);
    m_heldStatus.clear();
}

void MainWindow::on_pushButtonClearCounterRecieve_clicked()
{
    sendCount = 0;
    ui->lcdNumberSend->display(sendCount);
    recvCount = 0;
    ui->lcdNumberRecieve->display(recvCount);
    m_lineStats.clear();
    refreshLineStats();
}

void MainWindow::on_pushButtonClearCounterSend_clicked()
{
    // The button sits beside the send display, so it clears the send count.
    sendCount = 0;
    ui->lcdNumberSend->display(sendCount);
}
