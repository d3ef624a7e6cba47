// The serial-number table in the window: loading mac.csv and the lookup.

#include "app/mainwindow.h"
#include "config/mactable.h"
#include "serial/messagelog.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QFile>
#include <QLineEdit>

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

void MainWindow::watchSerialNumberField()
{
    // A changed serial number is a new lookup, and no longer the one found.
    connect(ui->lineEdit_sn, &QLineEdit::textChanged, this, [this] { m_snLookedUp = false; });
}

void MainWindow::lookUpSerialNumber()
{
    // Enter raises returnPressed and then editingFinished, and leaving the
    // field raises editingFinished again: one lookup per text, one block of lines.
    if (m_snLookedUp)
        return;
    m_snLookedUp = true;
    m_matchedSn.clear();
    const QString sn = ui->lineEdit_sn->text(); // untrimmed: a stray blank is part of it
    const int index = findSerialNumber(snList, sn);
    if (index < 0) {
        appendResult(QStringLiteral("sn=%1 not find!!!").arg(sn));
        // The field must not go on offering the previous unit's address.
        ui->lineEdit_wrmac->clear();
        appendResult(QStringLiteral("mac.csv中没有该SN，已清空待写MAC地址"));
        return;
    }
    const QString mac = macList.at(index);
    appendResult(QStringLiteral("idx=%1 sn=%2=>[%3]").arg(QString::number(index), sn, mac));
    ui->lineEdit_wrmac->setText(mac);
    // The input mask reshapes what it cannot hold (an address outside the
    // block it is made for) instead of refusing it.
    if (!sameMacText(ui->lineEdit_wrmac->text(), mac)) {
        ui->lineEdit_wrmac->clear();
        appendResult(QStringLiteral(
                         "SN %1 的MAC地址 %2 不能填入待写MAC地址框（框中只能是00:39:28:XX:XX:XX），"
                         "已清空，未采用")
                         .arg(sn, mac));
        return;
    }
    m_matchedSn = sn;
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
