// The port list, opening with the line settings, closing, and port errors.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QMessageBox>
#include <QSerialPortInfo>
#include <QTimer>

namespace {

struct LineSettings
{
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    QString refused; // why the settings cannot be applied; empty when they can
};

// The combo boxes' indexes as port settings. Nine data bits exist on the
// list but no serial port can carry them.
LineSettings lineSettingsFromIndexes(int data, int parity, int stop)
{
    LineSettings s;
    switch (data) {
    case 0: s.dataBits = QSerialPort::Data7; break;
    case 1: s.dataBits = QSerialPort::Data8; break;
    default: s.refused = QStringLiteral("串口不支持9位数据位，请选择7位或8位。"); break;
    }
    static const QSerialPort::Parity parities[] = {QSerialPort::NoParity, QSerialPort::OddParity,
                                                   QSerialPort::EvenParity};
    if (parity >= 0 && parity < 3)
        s.parity = parities[parity];
    static const QSerialPort::StopBits stops[] = {QSerialPort::OneStop,
                                                  QSerialPort::OneAndHalfStop,
                                                  QSerialPort::TwoStop};
    if (stop >= 0 && stop < 3)
        s.stopBits = stops[stop];
    return s;
}

QString portErrorText(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ResourceError: return QStringLiteral("设备已断开或不可用");
    case QSerialPort::ReadError: return QStringLiteral("读取错误");
    case QSerialPort::WriteError: return QStringLiteral("写入错误");
    default: return QStringLiteral("错误%1").arg(int(error));
    }
}

} // namespace

void MainWindow::RefreshPortList()
{
    ui->comboBoxPort->clear();
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        ui->comboBoxPort->addItem(info.portName());
}

void MainWindow::on_actionRefresh_triggered()
{
    RefreshPortList();
}

void MainWindow::on_actionConnect_triggered()
{
    const LineSettings settings = lineSettingsFromIndexes(ui->comboBoxData->currentIndex(),
                                                          ui->comboBoxParity->currentIndex(),
                                                          ui->comboBoxStop->currentIndex());
    if (!settings.refused.isEmpty()) {
        QMessageBox::information(this, QStringLiteral("错误"), settings.refused);
        return;
    }

    serialPort->setPortName(ui->comboBoxPort->currentText());
    if (!serialPort->open(QIODevice::ReadWrite)) {
        QMessageBox::information(this, QStringLiteral("错误"), QStringLiteral("打开串口失败！"));
        return;
    }

    // Settings go onto the open device; a driver that refuses one leaves the
    // line in a state the engineer did not choose, so the port is closed again.
    QString refusedSetting;
    if (!serialPort->setBaudRate(ui->comboBoxBaud->currentText().toInt(nullptr, 10),
                                 QSerialPort::AllDirections))
        refusedSetting = QStringLiteral("波特率 %1").arg(ui->comboBoxBaud->currentText());
    else if (!serialPort->setDataBits(settings.dataBits))
        refusedSetting = QStringLiteral("数据位 %1").arg(ui->comboBoxData->currentText());
    else if (!serialPort->setParity(settings.parity))
        refusedSetting = QStringLiteral("校验位 %1").arg(ui->comboBoxParity->currentText());
    else if (!serialPort->setStopBits(settings.stopBits))
        refusedSetting = QStringLiteral("停止位 %1").arg(ui->comboBoxStop->currentText());
    else if (!serialPort->setFlowControl(QSerialPort::NoFlowControl))
        refusedSetting = QStringLiteral("流控制");
    if (!refusedSetting.isEmpty()) {
        const QString reason = serialPort->errorString();
        serialPort->close();
        QMessageBox::information(this, QStringLiteral("错误"),
                                 QStringLiteral("串口 %1 不支持设置：%2\n%3")
                                     .arg(serialPort->portName(), refusedSetting, reason));
        return;
    }

    m_errorClosePending = false;
    ui->actionConnect->setEnabled(false);
    ui->actionClose->setEnabled(true);
    ui->actionRefresh->setEnabled(false);
}

void MainWindow::on_actionClose_triggered()
{
    if (serialPort->isOpen()) {
        serialPort->clear(QSerialPort::AllDirections);
        serialPort->close();
    }
    ui->actionConnect->setEnabled(true);
    ui->actionClose->setEnabled(false);
    ui->actionRefresh->setEnabled(true);
}

bool MainWindow::portUsable() const
{
    return serialPort && serialPort->isOpen() && serialPort->isWritable();
}

void MainWindow::askToOpenPort()
{
    const QString name = ui->comboBoxPort->currentText();
    const auto answer = QMessageBox::question(
        this, QStringLiteral("提示"),
        QStringLiteral("串口 %1 并没有打开, 是否要打开串口 %2 ?").arg(name, name),
        QMessageBox::Ok | QMessageBox::Cancel);
    if (answer == QMessageBox::Ok)
        on_actionConnect_triggered();
}

void MainWindow::onPortError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError
        && error != QSerialPort::WriteError)
        return;
    // A vanished device makes the port report the error again on every turn
    // of the event loop until it is closed: close it once, from the loop.
    if (m_errorClosePending || !serialPort->isOpen())
        return;
    m_errorClosePending = true;
    const QString text = QStringLiteral("串口 %1 %2，已关闭：%3")
                             .arg(serialPort->portName(), portErrorText(error),
                                  serialPort->errorString());
    QTimer::singleShot(0, this, [this, text] {
        closePortAfterError();
        ui->statusbar->showMessage(text);
    });
}

void MainWindow::closePortAfterError()
{
    if (serialPort->isOpen())
        serialPort->close();
    m_errorClosePending = false;
    ui->actionConnect->setEnabled(true);
    ui->actionClose->setEnabled(false);
    ui->actionRefresh->setEnabled(true);
}
