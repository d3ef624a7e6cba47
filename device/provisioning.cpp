// MAC address read and write, and factory defaults, by service packets.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_pushButton_rdmac_clicked() {}
void MainWindow::on_pushButton_wrmac_clicked() {}
void MainWindow::on_pushButton_deffac_clicked() {}
void MainWindow::serial_query(const unsigned char *, int, unsigned char *, int *) {}
QByteArray MainWindow::showServiceReply(const unsigned char *, int) { return {}; }
