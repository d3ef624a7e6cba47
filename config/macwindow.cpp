// The serial-number table in the window: loading and lookup.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

bool MainWindow::loadMacTable() { return false; }
void MainWindow::on_lineEdit_returnPressed() {}
void MainWindow::on_lineEdit_sn_returnPressed() {}
void MainWindow::on_lineEdit_sn_editingFinished() {}
