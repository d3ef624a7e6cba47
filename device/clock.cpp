// Setting the module's clock from the computer's (device/operations.cpp writes it).

#include "app/mainwindow.h"

void MainWindow::on_pushButton_datatime_clicked()
{
    writeClock();
}

void MainWindow::writeClock()
{
    const Operation operation(this);
    if (operation)
        m_ops.writeClock(moduleNumber());
}
