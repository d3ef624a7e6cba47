// The request exchange every device operation goes through, and the one
// operation that may run at a time.

#include "app/mainwindow.h"
#include "protocol/hex.h"
#include "serial/replytiming.h"
#include "ui_mainwindow.h"

#include <QEventLoop>

#include <cstring>

ReplyVerdict MainWindow::exchangeRequest(const unsigned char *frame, int length, ReplyKind kind)
{
    // Bytes left over from an earlier exchange must not pass for this reply,
    // nor for the echo of this request.
    recvFlag = 0;
    recvLen = 0;
    m_consoleEcho.clear();
    m_consoleEchoSeen.clear();
    if (!readyToSend())
        return {ReplyVerdict::Abandoned, 0, false};
    // The request travels as its hexadecimal text through send line 1, so it is
    // logged and counted like anything the engineer sends by hand.
    ui->lineEditSend1->setText(hexRequestText(frame, length));
    const bool echoed = ui->checkBoxEcho->isChecked();
    const int echoLength = echoed ? length : 0;
    m_expected = kind;
    m_expectedEcho = QByteArray(reinterpret_cast<const char *>(frame), echoLength);
    m_inExchange = true;
    m_lastByteOutNs = -1;
    SendData(0);
    const bool sent = m_lastByteOutNs >= 0;
    WaitForReply(kReplyTimeoutMs);
    m_inExchange = false;
    m_expected = ReplyKind{};
    m_expectedEcho.clear();

    // Whatever came is logged, a broken reply too: it is what the engineer
    // needs to see when an operation fails.
    logGathered(frame, echoLength, sent);
    if (exchangeCutShort()) {
        m_lineStats.count({ReplyVerdict::Abandoned, 0, sent});
        showLineStats();
        return {ReplyVerdict::Abandoned, 0, sent};
    }
    const ExchangeJudgement judged = judgeExchange(kind, frame, length, echoed, recvBuf, recvLen);
    // The operations read the reply where it always stood: at the start of the buffer.
    recvLen = judged.replyLength;
    std::memmove(recvBuf, recvBuf + judged.replyStart, size_t(recvLen));
    ReplyVerdict verdict = judged.verdict;
    verdict.sent = sent;

    // A reply cannot come before its request has left; one that seems to
    // (a line slower than the port's setting, a pseudo-terminal) counts as at once.
    m_lineStats.count(
        verdict, sent && recvLen > 0 ? qMax<qint64>(0, m_lastReceptionNs - m_lastByteOutNs) : -1);
    showLineStats();
    // A write of one register is answered with its own copy, so only other
    // requests can tell that the line handed them back.
    if (!echoed && recvLen >= length
        && !(kind.protocol == ReplyKind::Modbus && kind.function == kWriteSingleRegister)
        && splitEcho(frame, length, recvBuf, recvLen).state == EchoState::Complete) {
        m_echoHintDue = true;
        if (m_operation == OperationState::Idle)
            showEchoHint();
    }
    return verdict;
}

// The bytes gathered for a request, as receive lines: the echo of the request
// on a line of its own, marked, then the reply with its response time beside
// it in the session record.
void MainWindow::logGathered(const unsigned char *frame, int echoLength, bool sent)
{
    if (recvLen <= 0)
        return;
    const EchoSplit split = splitEcho(frame, echoLength, recvBuf, recvLen);
    if (split.replyStart > 0)
        appendReceiveLog(recvBuf, split.replyStart, echoMarker(split.state));
    if (recvLen > split.replyStart) {
        const QString responseTime
            = sent ? QStringLiteral("响应 ") + responseTimeText(m_lastReceptionNs - m_lastByteOutNs)
                   : QString();
        appendReceiveLog(recvBuf + split.replyStart, recvLen - split.replyStart, QString(),
                         responseTime);
    }
}

// Said once for each opening of the port, at the end of the operation where
// it stays in view; the next opening may be through another adapter.
void MainWindow::showEchoHint()
{
    if (!m_echoHintDue || m_echoHintShown)
        return;
    m_echoHintDue = false;
    m_echoHintShown = true;
    ui->statusbar->showMessage(
        QStringLiteral("应答以请求本身开头：串口适配器似乎会回显发送的数据，请勾选“去除回显”"));
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
    endOperationEarly(openChosen ? OperationState::OpenFailed : OperationState::Cancelled);
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
    showHeldDisplay();
    showEchoHint();
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
    case OperationState::OpenFailed:
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
           || m_operation == OperationState::Cancelled || m_operation == OperationState::OpenFailed;
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
    else if (m_operation == OperationState::OpenFailed)
        resultLine(QStringLiteral("串口未能打开，操作中止"), Tone::Bad);
}
