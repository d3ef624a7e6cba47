// Switching a module's breaker and its enables, on one module or on all seven in turn.

#include "app/mainwindow.h"
#include "device/registers.h"
#include "serial/wait.h"
#include "ui_mainwindow.h"

namespace {

// Spaces out the requests when a command runs over all modules.
constexpr int kSwitchPauseMs = 20;

struct SwitchCommand
{
    quint16 base;
    quint16 value;
    const char *success; // %1: the module number
    const char *noReply; // %1: the module number
    bool pauseAfter;
    const char *allWord; // the word of the all-modules banner; none for the last four
};

// In the order of the table below.
enum Command {
    Close,
    Open,
    RemoteOn,
    RemoteOff,
    DisconnectOn,
    DisconnectOff,
    TimeControlOn,
    TimeControlOff
};

// Close and open are two command registers, not one register with two values.
const SwitchCommand kSwitchCommands[] = {
    {kCloseRegister, kCloseValue, "模块[%1]合闸成功", "模块[%1]合闸:没有应答!!", true, "合闸"},
    {kOpenRegister, kOpenValue, "模块[%1]分闸成功", "模块[%1]分闸:没有应答!!", true, "分闸"},
    {kRemoteEnableRegister, kEnableValue, "模块[%1]: enable远程分合闸成功",
     "模块[%1]enable远程分合闸:没有应答!!", true, "远程控制使能"},
    {kRemoteEnableRegister, kDisableValue, "模块[%1]: disable远程分合闸成功",
     "模块[%1]disable远程分合闸:没有应答!!", true, "远程控制关闭"},
    {kDisconnectEnableRegister, kEnableValue, "模块[%1]低压脱离enable成功",
     "模块[%1]低压脱离enable:没有应答!!", false, nullptr},
    {kDisconnectEnableRegister, kDisableValue, "模块[%1]低压脱离disable成功",
     "模块[%1]低压脱离disable:没有应答!!", false, nullptr},
    {kTimeControlEnableRegister, kEnableValue, "模块[%1]时段控enable成功",
     "模块[%1]时段控enable:没有应答!!", false, nullptr},
    {kTimeControlEnableRegister, kDisableValue, "模块[%1]时段控disable成功",
     "模块[%1]时段控disable:没有应答!!", false, nullptr},
};

} // namespace

// Each slot is one device operation; an all-modules run is one operation as a whole.

void MainWindow::on_pushButton_4_clicked()
{
    const Operation operation(this);
    if (!operation)
        return;
    switchModule(Close);
}

void MainWindow::on_pushButton_5_clicked()
{
    const Operation operation(this);
    if (!operation)
        return;
    switchModule(Open);
}

void MainWindow::on_pushButton_6_clicked()
{
    const Operation operation(this);
    if (!operation)
        return;
    switchModule(RemoteOn);
}

void MainWindow::on_pushButton_7_clicked()
{
    const Operation operation(this);
    if (!operation)
        return;
    switchModule(RemoteOff);
}

void MainWindow::on_pushButton_8_clicked()
{
    const Operation operation(this);
    if (!operation)
        return;
    switchModule(DisconnectOn);
}

void MainWindow::on_pushButton_9_clicked()
{
    const Operation operation(this);
    if (!operation)
        return;
    switchModule(DisconnectOff);
}

void MainWindow::on_pushButton_10_clicked()
{
    const Operation operation(this);
    if (!operation)
        return;
    switchModule(TimeControlOn);
}

void MainWindow::on_pushButton_11_clicked()
{
    const Operation operation(this);
    if (!operation)
        return;
    switchModule(TimeControlOff);
}

void MainWindow::on_pushButton_allon_clicked()
{
    const Operation operation(this);
    if (!operation)
        return;
    switchAllModules(Close);
}

void MainWindow::on_pushButton_alloff_clicked()
{
    const Operation operation(this);
    if (!operation)
        return;
    switchAllModules(Open);
}

void MainWindow::on_pushButton_rm_ctrl_on_clicked()
{
    const Operation operation(this);
    if (!operation)
        return;
    switchAllModules(RemoteOn);
}

void MainWindow::on_pushButton_rm_ctrl_off_clicked()
{
    const Operation operation(this);
    if (!operation)
        return;
    switchAllModules(RemoteOff);
}

void MainWindow::switchModule(int command)
{
    const SwitchCommand &c = kSwitchCommands[command];
    const int module = moduleNumber();
    const int length
        = make_write_single_frame(kBusAddress, moduleRegister(module, c.base), c.value);
    const ReplyVerdict verdict
        = exchangeRequest(requestFrame, length, ReplyKind::modbus(kWriteSingleRegister));
    if (verdict.ok())
        appendResult(QString::fromUtf8(c.success).arg(module));
    else
        appendResult(failureText(verdict, QString::fromUtf8(c.noReply).arg(module)));
    if (c.pauseAfter)
        DelayMs(kSwitchPauseMs);
}

// A silent module gets its message and the next one follows; the combo box
// ends on the last module, as the engineer saw the run go by.
void MainWindow::switchAllModules(int command)
{
    const QString word = QString::fromUtf8(kSwitchCommands[command].allWord);
    for (int i = 0; i < ui->comboBox_md->count(); ++i) {
        appendResult(
            QStringLiteral("---------%1%2-------------").arg(word, ui->comboBox_md->itemText(i)));
        ui->comboBox_md->setCurrentIndex(i);
        switchModule(command);
    }
}

int MainWindow::moduleNumber() const
{
    return ui->comboBox_md->currentText().toInt();
}
