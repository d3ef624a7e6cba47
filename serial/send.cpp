// The one transmit routine.

#include "app/mainwindow.h"
#include "protocol/hex.h"
#include "serial/port.h"
#include "ui_mainwindow.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QTextCharFormat>

namespace {

// The console's echo is gathered up to this much; a line that never hands
// back what was sent must not make it grow for the whole session.
constexpr int kConsoleEchoMax = 256;

} // namespace

void MainWindow::SendData(int n)
{
    // Line 0 is line 1 as the device operations address it.
    auto *line = ui->groupBoxMessage->findChild<QLineEdit *>(
        QStringLiteral("lineEditSend%1").arg(n == 0 ? 1 : n));
    const QString text = line ? line->text() : QString();
    if (text.isEmpty()) {
        ui->statusbar->showMessage(QStringLiteral("消息%1内容为空！").arg(n));
        return;
    }

    // The line is checked before the port, so a typing error is reported even
    // when the port is closed.
    const SendConversion converted = convertSendText(text, ui->checkBoxSend->isChecked());
    if (!converted.ok) {
        QMessageBox::information(this, QStringLiteral("提示消息"),
                                 QStringLiteral("输入的数据格式有错误！"));
        return;
    }
    if (!portUsable()) {
        askToOpenPort(); // the user sends again once the port is open
        return;
    }

    // The bytes go to the driver first and the log line follows: the line
    // carries the moment of sending, and the unit's turnaround starts while
    // the traffic window is still drawing it. The port would otherwise hold
    // the bytes until the event loop next turns.
    const QDateTime sentAt = m_clock();
    const qint64 writeStartNs = m_lineClock.nsecsElapsed();
    const qint64 accepted = serialPort->write(converted.bytes);
    if (accepted > 0) {
        serialPort->flush();
        // The driver takes the bytes at once and the line carries them at its
        // baud rate from then on: the last one has left once the line has had
        // time for all of them. (Reading the clock again after the write would
        // put in whatever held the program up, not the line.)
        m_lastByteOutNs = writeStartNs + accepted * portCharacterNs(*serialPort);
        // The device exchange takes its own echo off; the console's is taken
        // off as it comes in.
        if (ui->checkBoxEcho->isChecked() && !m_inExchange) {
            if (m_consoleEcho.size() + accepted > kConsoleEchoMax) {
                m_consoleEcho.clear();
                m_consoleEchoSeen.clear();
            }
            m_consoleEcho += converted.bytes.left(int(accepted));
        }
    }
    appendSendLog(sentAt, converted.display);
    // Merging the format again repaints the view for nothing.
    if (ui->textBrowser->currentCharFormat().foreground().color() != QColor(Qt::red)) {
        QTextCharFormat red;
        red.setForeground(QColor(Qt::red));
        ui->textBrowser->mergeCurrentCharFormat(red);
    }
    if (accepted > 0) {
        sendCount += int(accepted);
        showCounters();
    }
    if (accepted == converted.bytes.size())
        showStatus(QStringLiteral("发送数据成功"));
    else if (accepted < 0)
        showStatus(QStringLiteral("发送数据失败：%1").arg(serialPort->errorString()));
    else
        showStatus(QStringLiteral("发送数据失败：只发出%1字节，共%2字节")
                       .arg(accepted)
                       .arg(converted.bytes.size()));
}
