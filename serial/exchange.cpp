// The request exchange every device operation goes through.

#include "app/mainwindow.h"
#include "protocol/hex.h"
#include "ui_mainwindow.h"

namespace {
constexpr int kReplyTimeoutMs = 1000; // the unit answers well within a second
}

ReplyVerdict MainWindow::exchangeRequest(const unsigned char *frame, int length, ReplyKind kind)
{
    // The request travels as its hexadecimal text through send line 1, so it is
    // logged and counted like anything the engineer sends by hand.
    ui->lineEditSend1->setText(hexRequestText(frame, length));
    m_expected = kind;
    // Bytes left over from an earlier exchange must not pass for this reply.
    recvFlag = 0;
    recvLen = 0;
    SendData(0);
    WaitForReply(kReplyTimeoutMs);
    m_expected = ReplyKind{};
    // Whatever came is logged, a broken reply too: it is what the engineer
    // needs to see when an operation fails.
    if (recvLen > 0)
        appendReceiveLog(recvBuf, recvLen);
    return judgeReply(kind, recvBuf, recvLen);
}

bool MainWindow::beginOperation()
{
    // The waits keep the window responsive, so a second click can arrive in the
    // middle of an operation; its request would take the first one's reply.
    if (m_busy) {
        ui->statusbar->showMessage(QStringLiteral("正在执行设备操作，请稍候…"));
        return false;
    }
    m_busy = true;
    return true;
}

void MainWindow::endOperation()
{
    m_busy = false;
}

QString MainWindow::failureText(const ReplyVerdict &verdict, const QString &noReplyText) const
{
    QString reason;
    switch (verdict.outcome) {
    case ReplyVerdict::Exception:
        reason = QStringLiteral("异常应答 ") + exceptionText(verdict.exceptionCode);
        break;
    case ReplyVerdict::Invalid:
        reason = QStringLiteral("应答校验错误");
        break;
    case ReplyVerdict::NoReply:
    case ReplyVerdict::Answer:
        return noReplyText;
    }
    // "模块[1]合闸:没有应答!!" becomes "模块[1]合闸:应答校验错误"; a text
    // that does not say "no reply" gets the reason after a colon.
    const QString noReply = QStringLiteral("没有应答!!");
    if (noReplyText.endsWith(noReply))
        return noReplyText.left(noReplyText.size() - noReply.size()) + reason;
    return noReplyText + QLatin1Char(':') + reason;
}
