// Switching a module's breaker and its enables, one module or all.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_pushButton_4_clicked() {}
void MainWindow::on_pushButton_5_clicked() {}
void MainWindow::on_pushButton_6_clicked() {}
void MainWindow::on_pushButton_7_clicked() {}
void MainWindow::on_pushButton_8_clicked() {}
void MainWindow::on_pushButton_9_clicked() {}
void MainWindow::on_pushButton_10_clicked() {}
void MainWindow::on_pushButton_11_clicked() {}
void MainWindow::on_pushButton_alloff_clicked() {}
void MainWindow::on_pushButton_allon_clicked() {}
void MainWindow::on_pushButton_rm_ctrl_on_clicked() {}
void MainWindow::on_pushButton_rm_ctrl_off_clicked() {}
void MainWindow::switchModule(int) {}
void MainWindow::switchAllModules(int) {}
int MainWindow::moduleNumber() const { return 0; }
