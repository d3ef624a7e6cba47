// The two message windows: log lines, clearing and saving.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "serial/messagelog.h"
QString sendLogLine(const QDateTime &, const QString &) { return {}; }
QString receiveLogLine(const QDateTime &, const unsigned char *, int) { return {}; }
void MainWindow::on_actionSave_triggered() {}
void MainWindow::on_pushButtonClearDataRecieve_clicked() {}
void MainWindow::on_pushButton_3_clicked() {}
void MainWindow::on_textBrowser_customContextMenuRequested(const QPoint &) {}
void MainWindow::on_textBrowser_val_customContextMenuRequested(const QPoint &) {}
void MainWindow::appendResult(const QString &) {}
void MainWindow::appendReceiveLog(const unsigned char *, int) {}
