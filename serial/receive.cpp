// Reception into the receive buffer, and the byte counters.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::ReadSerialData() {}
void MainWindow::on_pushButtonClearCounterRecieve_clicked() {}
void MainWindow::on_pushButtonClearCounterSend_clicked() {}
