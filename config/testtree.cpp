// The device list shown as the check-box test tree, with its context menu.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::build_test_tree() {}
void MainWindow::update_parent_check(QTreeWidgetItem *) {}
void MainWindow::slotMenuPopup(const QPoint &) {}
void MainWindow::slotMenuPopup_all() {}
void MainWindow::slotMenuPopup_no() {}
void MainWindow::ItemCheckChanged(QTreeWidgetItem *, int) {}
void MainWindow::on_treeWidget_clicked(const QModelIndex &) {}
void MainWindow::on_treeWidget_customContextMenuRequested(const QPoint &) {}
