// The send panel: single and cyclic sending.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_pushButtonClearDataSend_clicked() {}
void MainWindow::on_checkBoxPoll_clicked(bool) {}
void MainWindow::CycleSendData() {}
void MainWindow::SingleSendData() {}
void MainWindow::on_pushButtonSend1_clicked() {}
