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
    const char *failed;  // %1: the module number; the reason follows ("没有应答!!")
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
    {kCloseRegister, kCloseValue, "模块[%1]合闸成功", "模块[%1]合闸:", true, "合闸"},
    {kOpenRegister, kOpenValue, "模块[%1]分闸成功", "模块[%1]分闸:", true, "分闸"},
    {kRemoteEnableRegister, kEnableValue, "模块[%1]: enable远程分合闸成功",
     "模块[%1]enable远程分合闸:", true, "远程控制使能"},
    {kRemoteEnableRegister, kDisableValue, "模块[%1]: disable远程分合闸成功",
     "模块[%1]disable远程分合闸:", true, "远程控制关闭"},
    {kDisconnectEnableRegister, kEnableValue, "模块[%1]低压脱离enable成功",
     "模块[%1]低压脱离enable:", false, nullptr},
    {kDisconnectEnableRegister, kDisableValue, "模块[%1]低压脱离disable成功",
     "模块[%1]低压脱离disable:", false, nullptr},
    {kTimeControlEnableRegister, kEnableValue, "模块[%1]时段控enable成功",
     "模块[%1]时段控enable:", false, nullptr},
    {kTimeControlEnableRegister, kDisableValue, "模块[%1]时段控disable成功",
     "模块[%1]时段控disable:", false, nullptr},
};

} // namespace

// Each slot is one device operation; an all-modules run is one operation as a whole.

void MainWindow::on_pushButton_4_clicked()
{
    runSwitch(Close);
}

void MainWindow::on_pushButton_5_clicked()
{
    runSwitch(Open);
}

void MainWindow::on_pushButton_6_clicked()
{
    runSwitch(RemoteOn);
}

void MainWindow::on_pushButton_7_clicked()
{
    runSwitch(RemoteOff);
}

void MainWindow::on_pushButton_8_clicked()
{
    runSwitch(DisconnectOn);
}

void MainWindow::on_pushButton_9_clicked()
{
    runSwitch(DisconnectOff);
}

void MainWindow::on_pushButton_10_clicked()
{
    runSwitch(TimeControlOn);
}

void MainWindow::on_pushButton_11_clicked()
{
    runSwitch(TimeControlOff);
}

void MainWindow::on_pushButton_allon_clicked()
{
    runSwitchAll(Close);
}

void MainWindow::on_pushButton_alloff_clicked()
{
    runSwitchAll(Open);
}

void MainWindow::on_pushButton_rm_ctrl_on_clicked()
{
    runSwitchAll(RemoteOn);
}

void MainWindow::on_pushButton_rm_ctrl_off_clicked()
{
    runSwitchAll(RemoteOff);
}

void MainWindow::runSwitch(int command)
{
    const Operation operation(this);
    if (operation)
        switchModule(command);
}

// A silent module gets its message and the next one follows: the engineer
// asked for every module. The combo box ends on the last module switched, as
// the engineer saw the run go by, and the status bar says where it stands.
void MainWindow::runSwitchAll(int command)
{
    const Operation operation(this);
    if (!operation)
        return;
    const QString word = QString::fromUtf8(kSwitchCommands[command].allWord);
    const int modules = ui->comboBox_md->count();
    beginRun(modules);
    for (int i = 0; i < modules && operationGoesOn(); ++i) {
        showRunStep(moduleStepText(i + 1, modules));
        appendResult(
            QStringLiteral("---------%1%2-------------").arg(word, ui->comboBox_md->itemText(i)));
        ui->comboBox_md->setCurrentIndex(i);
        countInRun(switchModule(command));
    }
    finishRun();
    ui->statusbar->showMessage(
        QStringLiteral("操作模块已切换为%1").arg(ui->comboBox_md->currentText()));
}

ReplyVerdict MainWindow::switchModule(int command)
{
    const SwitchCommand &c = kSwitchCommands[command];
    const int module = moduleNumber();
    const int length
        = make_write_single_frame(kBusAddress, moduleRegister(module, c.base), c.value);
    const ReplyVerdict verdict
        = exchangeRequest(requestFrame, length, ReplyKind::modbus(kWriteSingleRegister));
    if (verdict.outcome == ReplyVerdict::Abandoned)
        return verdict;
    if (verdict.ok())
        appendResult(QString::fromUtf8(c.success).arg(module));
    else
        appendResult(QString::fromUtf8(c.failed).arg(module) + failureReason(verdict));
    if (c.pauseAfter)
        DelayMs(kSwitchPauseMs);
    return verdict;
}

int MainWindow::moduleNumber() const
{
    return ui->comboBox_md->currentText().toInt();
}
