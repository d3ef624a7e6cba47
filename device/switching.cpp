// The switching buttons: a module's breaker and its enables, on the chosen
// module or on all modules in turn. The commands are the operations' (device/operations.cpp).

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

// Each slot is one device operation; an all-modules run is one operation as a whole.

void MainWindow::on_pushButton_4_clicked()
{
    runSwitch(SwitchCommand::Close);
}

void MainWindow::on_pushButton_5_clicked()
{
    runSwitch(SwitchCommand::Open);
}

void MainWindow::on_pushButton_6_clicked()
{
    runSwitch(SwitchCommand::RemoteOn);
}

void MainWindow::on_pushButton_7_clicked()
{
    runSwitch(SwitchCommand::RemoteOff);
}

void MainWindow::on_pushButton_8_clicked()
{
    runSwitch(SwitchCommand::DisconnectOn);
}

void MainWindow::on_pushButton_9_clicked()
{
    runSwitch(SwitchCommand::DisconnectOff);
}

void MainWindow::on_pushButton_10_clicked()
{
    runSwitch(SwitchCommand::TimeControlOn);
}

void MainWindow::on_pushButton_11_clicked()
{
    runSwitch(SwitchCommand::TimeControlOff);
}

void MainWindow::on_pushButton_allon_clicked()
{
    runSwitchAll(SwitchCommand::Close);
}

void MainWindow::on_pushButton_alloff_clicked()
{
    runSwitchAll(SwitchCommand::Open);
}

void MainWindow::on_pushButton_rm_ctrl_on_clicked()
{
    runSwitchAll(SwitchCommand::RemoteOn);
}

void MainWindow::on_pushButton_rm_ctrl_off_clicked()
{
    runSwitchAll(SwitchCommand::RemoteOff);
}

void MainWindow::runSwitch(SwitchCommand command)
{
    const Operation operation(this);
    if (operation)
        m_ops.switchModule(command, moduleNumber());
}

// The run goes over the module numbers, not over the module box: the box
// keeps the module the engineer chose, for the next command.
void MainWindow::runSwitchAll(SwitchCommand command)
{
    const Operation operation(this);
    if (!operation)
        return;
    beginRun(allModules().size());
    m_ops.switchAll(command, allModules(), m_run.tally);
    finishRun();
}

int MainWindow::moduleNumber() const
{
    return ui->comboBox_md->currentText().toInt();
}
