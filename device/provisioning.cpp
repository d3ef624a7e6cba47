// MAC address read and write, and factory defaults: the three buttons of
// "全局配置" over the widget-free provisioning (device/macprovisioning.h).

#include "app/mainwindow.h"
#include "device/macprovisioning.h"
#include "protocol/packet.h"
#include "ui_mainwindow.h"

void MainWindow::on_pushButton_rdmac_clicked()
{
    runServiceCommand(kCmdReadMac);
}

void MainWindow::on_pushButton_deffac_clicked()
{
    runServiceCommand(kCmdFactoryDefaults);
}

void MainWindow::on_pushButton_wrmac_clicked()
{
    runServiceCommand(kCmdWriteMac);
}

void MainWindow::runServiceCommand(quint8 command)
{
    const Operation operation(this);
    if (!operation)
        return;
    MacProvisioning provisioning(*this, *this, journal());
    switch (command) {
    case kCmdReadMac:
        provisioning.readMac(recordSerialNumber());
        break;
    case kCmdFactoryDefaults:
        provisioning.factoryReset(recordSerialNumber());
        break;
    case kCmdWriteMac:
        provisioning.writeMac(ui->lineEdit_wrmac->text(), recordSerialNumber());
        break;
    }
}

QString MainWindow::recordSerialNumber() const
{
    // The serial number counts only while the field still holds what the
    // last lookup found: a number typed but not found is not a unit's.
    return ui->lineEdit_sn->text() == m_matchedSn ? m_matchedSn : QString();
}
