// The serial-number table in the window: loading mac.csv and the lookup.

#include "app/mainwindow.h"
#include "config/mactable.h"
#include "device/macaddress.h"
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
    // field raises editingFinished again: those repeat the lookup that the
    // Enter ran. Enter itself always looks up (a label scanned again).
    if (m_snLookedUp)
        return;
    m_snLookedUp = true;
    m_matchedSn.clear();
    const QString sn = ui->lineEdit_sn->text(); // untrimmed: a stray blank is part of it
    if (sn.isEmpty())
        return;
    const int index = findSerialNumber(snList, sn);
    if (index < 0) {
        appendResult(QStringLiteral("sn=%1 not find!!!").arg(sn));
        // The field must not go on offering the previous unit's address; an
        // address the engineer typed is theirs to keep.
        if (!m_lookedUpMac.isEmpty() && ui->lineEdit_wrmac->text() == m_lookedUpMac) {
            ui->lineEdit_wrmac->clear();
            appendResult(QStringLiteral("mac.csv中没有该SN，已清空待写MAC地址"));
        }
        m_lookedUpMac.clear();
        return;
    }
    appendResult(
        QStringLiteral("idx=%1 sn=%2=>[%3]").arg(QString::number(index), sn, macList.at(index)));
    adoptLookedUpAddress(sn, index);
}

// The table's address goes into the field only when it may be written to a
// unit, and only as it stands: never reshaped by the field's mask.
void MainWindow::adoptLookedUpAddress(const QString &sn, int index)
{
    const QString mac = macList.at(index);
    QString why;
    quint64 address = 0;
    if (!parseMac(mac, &address)) {
        why = QStringLiteral("不是MAC地址");
    } else {
        QString problem;
        const MacBlock block = macBlockFromConfig(&problem);
        // An unusable [mac] section is said when the write refuses.
        const MacRefusal refusal
            = problem.isEmpty() ? checkMacForUnit(address, block) : MacRefusal::None;
        if (refusal != MacRefusal::None)
            why = QStringLiteral("%1（本线地址段为 %2）")
                      .arg(macRefusalReason(refusal), block.text());
    }
    if (why.isEmpty()) {
        ui->lineEdit_wrmac->setText(mac);
        quint64 shown = 0;
        if (!parseMac(ui->lineEdit_wrmac->text(), &shown) || shown != address)
            why = QStringLiteral("填入待写MAC地址框后会变样");
    }
    if (!why.isEmpty()) {
        ui->lineEdit_wrmac->clear();
        m_lookedUpMac.clear();
        appendResult(
            QStringLiteral("SN %1 的MAC地址 %2 %3，已清空待写MAC地址，未采用").arg(sn, mac, why));
        return;
    }
    m_lookedUpMac = ui->lineEdit_wrmac->text();
    m_matchedSn = sn;
}

void MainWindow::on_lineEdit_returnPressed() {}

void MainWindow::on_lineEdit_sn_returnPressed()
{
    m_snLookedUp = false;
    lookUpSerialNumber();
}

void MainWindow::on_lineEdit_sn_editingFinished()
{
    lookUpSerialNumber();
}
