// The one transmit routine.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::SendData(int) {}
