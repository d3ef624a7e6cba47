// The serial-number table in the window: loading mac.csv and the lookup.

#include "app/mainwindow.h"
#include "config/mactable.h"
#include "serial/messagelog.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QFile>

bool MainWindow::loadMacTable()
{
    macCount = 0;
    // Not opened in text mode: Qt's text mode drops every CR, which would glue
    // the rows of a CR-only file into one; the reader ends lines itself.
    QFile file(QStringLiteral("mac.csv"));
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug("Failed to open the file");
        appendTrafficLines({QStringLiteral("Failed to open the file!")});
        return false;
    }
    const MacTable table = readMacTable(file);
    snList = table.snList;
    macList = table.macList;
    macCount = snList.size();
    appendTrafficLines(table.lines);
    return true;
}

void MainWindow::lookUpSerialNumber()
{
    const QString sn = ui->lineEdit_sn->text(); // untrimmed: a stray blank is part of it
    const int index = findSerialNumber(snList, sn);
    if (index < 0) {
        appendResult(QStringLiteral("sn=%1 not find!!!").arg(sn));
        return;
    }
    appendResult(
        QStringLiteral("idx=%1 sn=%2=>[%3]").arg(QString::number(index), sn, macList.at(index)));
    ui->lineEdit_wrmac->setText(macList.at(index));
}

void MainWindow::on_lineEdit_returnPressed() {}

void MainWindow::on_lineEdit_sn_returnPressed()
{
    lookUpSerialNumber();
}

void MainWindow::on_lineEdit_sn_editingFinished()
{
    lookUpSerialNumber();
}
