// The request exchange every device operation goes through, and the one
// operation that may run at a time.

#include "app/mainwindow.h"
#include "protocol/hex.h"
#include "serial/replytiming.h"
#include "ui_mainwindow.h"

#include <QEventLoop>

ReplyVerdict MainWindow::exchangeRequest(const unsigned char *frame, int length, ReplyKind kind)
{
    // Bytes left over from an earlier exchange must not pass for this reply.
    recvFlag = 0;
    recvLen = 0;
    if (!readyToSend())
        return {ReplyVerdict::Abandoned, 0, false};
    // The request travels as its hexadecimal text through send line 1, so it is
    // logged and counted like anything the engineer sends by hand.
    ui->lineEditSend1->setText(hexRequestText(frame, length));
    m_expected = kind;
    SendData(0);
    WaitForReply(kReplyTimeoutMs);
    m_expected = ReplyKind{};
    // Whatever came is logged, a broken reply too: it is what the engineer
    // needs to see when an operation fails.
    if (recvLen > 0)
        appendReceiveLog(recvBuf, recvLen);
    if (exchangeCutShort())
        return {ReplyVerdict::Abandoned, 0};
    ReplyVerdict verdict = judgeReply(kind, recvBuf, recvLen);
    // A good frame that answers another register is no answer to this write.
    if (verdict.ok() && !replyEchoesRequest(frame, length, recvBuf, recvLen))
        verdict.outcome = ReplyVerdict::Invalid;
    return verdict;
}

// A closed port is offered to be opened once per operation: Cancel ends the
// whole operation, not just this request, so a poll does not ask again for
// each of its entries.
bool MainWindow::readyToSend()
{
    if (exchangeCutShort() || m_operation == OperationState::StopRequested)
        return false;
    if (portUsable())
        return true;
    const bool openChosen = askToOpenPort();
    if (portUsable())
        return true;
    endOperationEarly(openChosen ? OperationState::PortLost : OperationState::Cancelled);
    return false;
}

bool MainWindow::beginOperation()
{
    // The waits keep the window responsive, so a second click can arrive in the
    // middle of an operation; its request would take the first one's reply.
    if (m_operation != OperationState::Idle) {
        ui->statusbar->showMessage(QStringLiteral("正在执行设备操作，请稍候…"));
        return false;
    }
    m_operation = OperationState::Running;
    m_operationEndReported = false;
    return true;
}

void MainWindow::endOperation()
{
    reportOperationEnd();
    m_operation = OperationState::Idle;
}

// Called from inside a wait (a port error, the stop button, the window's
// close event): the wait is woken so that it can look at once.
void MainWindow::endOperationEarly(OperationState why)
{
    switch (m_operation) {
    case OperationState::Idle:
        return; // no operation: nothing to end
    case OperationState::Running:
        m_operation = why;
        break;
    case OperationState::StopRequested:
        if (why != OperationState::StopRequested)
            m_operation = why; // the port or the window going is the stronger news
        break;
    case OperationState::PortLost:
    case OperationState::Cancelled:
        if (why == OperationState::WindowClosing)
            m_operation = why;
        break;
    case OperationState::WindowClosing:
        break;
    }
    if (m_waitLoop && exchangeCutShort())
        m_waitLoop->quit();
}

// The reply of the exchange in progress no longer matters: there is no port
// to read it from, or no window to show it in.
bool MainWindow::exchangeCutShort() const
{
    return m_operation == OperationState::PortLost || m_operation == OperationState::WindowClosing
           || m_operation == OperationState::Cancelled;
}

// One line says why the operation ended early, whatever step it was on.
void MainWindow::reportOperationEnd()
{
    if (m_operationEndReported)
        return;
    m_operationEndReported = true;
    if (m_operation == OperationState::PortLost)
        resultLine(QStringLiteral("串口已断开，操作中止"), Tone::Bad);
    else if (m_operation == OperationState::Cancelled)
        resultLine(QStringLiteral("操作已取消"), Tone::Bad);
}
