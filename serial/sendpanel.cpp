// The send panel: single and cyclic sending.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>

namespace {
constexpr int kSendLines = 5;
}

void MainWindow::on_pushButtonSend1_clicked()
{
    // Nothing to do: SingleSendData serves all five buttons, this one included.
    // Sending here as well would put line 1 on the wire twice per click, and
    // line 1 would report itself as "消息0" when empty.
}

void MainWindow::SingleSendData()
{
    auto *button = qobject_cast<QPushButton *>(sender());
    if (!button)
        return;
    const int n = button->objectName().remove(QStringLiteral("pushButtonSend")).toInt(nullptr, 10);
    if (n >= 1 && n <= kSendLines)
        SendData(n);
}

void MainWindow::CycleSendData()
{
    // A device operation's reply must not be mixed with console traffic.
    if (m_operation != OperationState::Idle)
        return;
    // Ticks that fall due while this one waits in the open-port question are
    // dropped; otherwise every tick would stack one more question on the screen.
    const QSignalBlocker blocker(cycleTimer);

    // Six tries: all five lines and the starting one again. A tick that finds
    // no line enabled leaves the index on the line it tried last.
    for (int tries = kSendLines + 1;;) {
        if (cycleIndex > kSendLines)
            cycleIndex = 1;
        auto *enabled = ui->groupBoxMessage->findChild<QCheckBox *>(
            QStringLiteral("checkBoxSendEnable%1").arg(cycleIndex));
        if (enabled && enabled->isChecked()) {
            const int line = cycleIndex++;
            SendData(line);
            return;
        }
        if (--tries == 0)
            return;
        ++cycleIndex;
    }
}

void MainWindow::on_checkBoxPoll_clicked(bool checked)
{
    if (!checked) {
        cycleTimer->stop();
        ui->statusbar->showMessage(QStringLiteral("取消循环发送"));
        return;
    }
    if (!portUsable()) {
        askToOpenPort();
        ui->checkBoxPoll->setChecked(false); // the user ticks it again with the port open
        return;
    }
    // Read once: a change while cycling takes effect at the next start.
    cycleTimer->setInterval(ui->spinBoxInterval->text().toInt(nullptr, 10));
    cycleTimer->start();
    ui->statusbar->showMessage(QStringLiteral("启用循环发送"));
}

void MainWindow::on_pushButtonClearDataSend_clicked()
{
    for (int n = 1; n <= kSendLines; ++n) {
        if (auto *line
            = ui->groupBoxMessage->findChild<QLineEdit *>(QStringLiteral("lineEditSend%1").arg(n)))
            line->clear();
    }
}
