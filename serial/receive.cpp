// Reception into the receive buffer, and the byte counters.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QEventLoop>

#include <cstring>

void MainWindow::ReadSerialData()
{
    const QByteArray chunk = serialPort->readAll();
    if (!chunk.isEmpty()) {
        recvCount += chunk.size();
        m_lastChunkSize = chunk.size();
        // A reply often comes in several chunks a fraction of a millisecond
        // apart; repainting the counters between them would hold the rest of
        // the reply back. While a wait runs, the display catches up at its end.
        if (m_waitLoop)
            m_receiveDisplayStale = true;
        else
            showReceiveCount();
        // The buffer only fills up to its end; bytes past it are counted, not kept.
        const int room = int(sizeof recvBuf) - recvLen;
        const int taken = qMin(chunk.size(), room);
        if (taken > 0) {
            std::memcpy(recvBuf + recvLen, chunk.constData(), size_t(taken));
            recvLen += taken;
        }
    }
    recvFlag = 1;
    // A wait sleeps until something arrives; this is that something.
    if (m_waitLoop)
        m_waitLoop->quit();
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
}

void MainWindow::on_pushButtonClearCounterSend_clicked()
{
    // The button sits beside the send display, so it clears the send count.
    sendCount = 0;
    ui->lcdNumberSend->display(sendCount);
}
