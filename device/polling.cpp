// Reading the ticked entries, and single registers on demand.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_pushButton_clicked() {}
void MainWindow::on_pushButton_2_clicked() {}
void MainWindow::reg_rd(ushort) {}
void MainWindow::poll_item(QTreeWidgetItem *) {}
void MainWindow::readEntry(int) {}
QString MainWindow::decode_reply(int, const unsigned char *) { return {}; }
void MainWindow::show_in_editor(int, const QString &) {}
