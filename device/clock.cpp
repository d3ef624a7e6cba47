// Setting the module's clock from the computer's.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_pushButton_datatime_clicked() {}
