// Writing thresholds and time windows.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_pushButton_yzsz_clicked() {}
void MainWindow::on_pushButton_sd1_clicked() {}
void MainWindow::on_pushButton_sd2_clicked() {}
void MainWindow::on_pushButton_sd3_clicked() {}
void MainWindow::reg_wr(int, quint16) {}
void MainWindow::reg_wr_multi(int, const unsigned char *) {}
void MainWindow::writeThreshold(const QString &, const QString &, quint16) {}
void MainWindow::writeWindowValue(const QString &, const QString &, quint16) {}
