// The 帮助 menu: the guide that ships with the program, and where things are.

#include "app/guide.h"
#include "app/mainwindow.h"
#include "serial/logstore.h"
#include "ui_mainwindow.h"

#include <QMessageBox>

void MainWindow::on_actionGuide_triggered()
{
    showGuide(this);
}

void MainWindow::on_actionAbout_triggered()
{
    QMessageBox::about(this, QStringLiteral("关于 FeederBench"),
                       aboutText(windowTitle(), journal().where(), sessionFolder()));
}
