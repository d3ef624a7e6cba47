// The port list, opening with the line settings, closing, and port errors.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_actionConnect_triggered() {}
void MainWindow::on_actionClose_triggered() {}
void MainWindow::on_actionRefresh_triggered() {}
void MainWindow::RefreshPortList() {}
bool MainWindow::portUsable() const { return serialPort && serialPort->isOpen() && serialPort->isWritable(); }
void MainWindow::askToOpenPort() {}
void MainWindow::onPortError(QSerialPort::SerialPortError) {}
void MainWindow::closePortAfterError() {}
