// The reply wait and the plain delay.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "serial/wait.h"
void DelayMs(int) {}
void MainWindow::WaitForReply(int) {}
