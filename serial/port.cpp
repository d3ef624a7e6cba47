// The port list, opening with the line settings, closing, and port errors.

#include "serial/port.h"

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QMessageBox>
#include <QSerialPortInfo>
#include <QTimer>

namespace {

// The combo boxes' indexes as port settings, starting from what the port has
// now: an index that names nothing leaves that setting as it is. Nine data
// bits are on the list, but no serial port carries them; false then.
bool lineSettingsFromIndexes(LineSettings *s, int data, int parity, int stop)
{
    switch (data) {
    case 0:
        s->dataBits = QSerialPort::Data7;
        break;
    case 1:
        s->dataBits = QSerialPort::Data8;
        break;
    case 2:
        return false;
    default:
        break;
    }
    static const QSerialPort::Parity parities[]
        = {QSerialPort::NoParity, QSerialPort::OddParity, QSerialPort::EvenParity};
    if (parity >= 0 && parity < 3)
        s->parity = parities[parity];
    static const QSerialPort::StopBits stops[]
        = {QSerialPort::OneStop, QSerialPort::OneAndHalfStop, QSerialPort::TwoStop};
    if (stop >= 0 && stop < 3)
        s->stopBits = stops[stop];
    return true;
}

} // namespace

void MainWindow::RefreshPortList()
{
    ui->comboBoxPort->clear();
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        ui->comboBoxPort->addItem(info.portName());
        const QString tip = portToolTip(info.description(), info.manufacturer());
        if (!tip.isEmpty())
            ui->comboBoxPort->setItemData(ui->comboBoxPort->count() - 1, tip, Qt::ToolTipRole);
    }
}

void MainWindow::on_actionRefresh_triggered()
{
    RefreshPortList();
}

void MainWindow::on_actionConnect_triggered()
{
    const QString title = QStringLiteral("错误");
    LineSettings settings;
    settings.baudRate = ui->comboBoxBaud->currentText().toInt(nullptr, 10);
    settings.dataBits = serialPort->dataBits();
    settings.parity = serialPort->parity();
    settings.stopBits = serialPort->stopBits();
    if (!lineSettingsFromIndexes(&settings, ui->comboBoxData->currentIndex(),
                                 ui->comboBoxParity->currentIndex(),
                                 ui->comboBoxStop->currentIndex())) {
        QMessageBox::information(
            this, title,
            openFailureText(QStringLiteral("串口不支持数据位“%1”，请选择7位或8位。")
                                .arg(ui->comboBoxData->currentText())));
        return;
    }

    serialPort->setPortName(ui->comboBoxPort->currentText());
    if (!serialPort->open(QIODevice::ReadWrite)) {
        const QString reason = openFailureReason(serialPort->portName(), serialPort->error(),
                                                 serialPort->errorString());
        QMessageBox::information(this, title, openFailureText(reason));
        return;
    }

    // The settings go onto the open device. A line left in a state the
    // engineer did not choose would garble every frame without a word, so a
    // setting the driver does not take closes the port again.
    const LineSetting lacking = applyLineSettings(*serialPort, settings);
    if (lacking != LineSetting::None) {
        QString setting;
        switch (lacking) {
        case LineSetting::BaudRate:
            setting = QStringLiteral("波特率“%1”").arg(ui->comboBoxBaud->currentText());
            break;
        case LineSetting::DataBits:
            setting = QStringLiteral("数据位“%1”").arg(ui->comboBoxData->currentText());
            break;
        case LineSetting::Parity:
            setting = QStringLiteral("校验位“%1”").arg(ui->comboBoxParity->currentText());
            break;
        case LineSetting::StopBits:
            setting = QStringLiteral("停止位“%1”").arg(ui->comboBoxStop->currentText());
            break;
        case LineSetting::FlowControl:
            setting = QStringLiteral("流控制“无”");
            break;
        case LineSetting::None:
            break;
        }
        serialPort->close();
        QMessageBox::information(
            this, title,
            openFailureText(
                QStringLiteral("串口 %1 不支持%2。").arg(serialPort->portName(), setting)));
        return;
    }

    m_errorClosePending = false;
    ui->actionConnect->setEnabled(false);
    ui->actionClose->setEnabled(true);
    ui->actionRefresh->setEnabled(false);
    ui->statusbar->showMessage(openedPortText(serialPort->portName(), serialPort->baudRate(),
                                              serialPort->dataBits(), serialPort->parity(),
                                              serialPort->stopBits()));
    recordPortOpened();
}

void MainWindow::on_actionClose_triggered()
{
    endOperationEarly(OperationState::PortLost);
    m_errorClosePending = false;
    if (serialPort->isOpen()) {
        serialPort->clear(QSerialPort::AllDirections);
        serialPort->close();
        // The line naming the open port would otherwise stay.
        ui->statusbar->showMessage(QStringLiteral("串口 %1 已关闭").arg(serialPort->portName()));
    }
    ui->actionConnect->setEnabled(true);
    ui->actionClose->setEnabled(false);
    ui->actionRefresh->setEnabled(true);
}

bool MainWindow::portUsable() const
{
    return serialPort && serialPort->isOpen() && serialPort->isWritable();
}

bool MainWindow::askToOpenPort()
{
    const QString name = ui->comboBoxPort->currentText();
    const auto answer = QMessageBox::question(
        this, QStringLiteral("提示"),
        QStringLiteral("串口 %1 并没有打开, 是否要打开串口 %2 ?").arg(name, name),
        QMessageBox::Ok | QMessageBox::Cancel);
    if (answer != QMessageBox::Ok)
        return false;
    on_actionConnect_triggered();
    return true;
}

void MainWindow::onPortError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError
        && error != QSerialPort::WriteError)
        return;
    // A vanished device makes the port report the error again on every turn
    // of the event loop until it is closed; closing it inside its own signal
    // is not safe, so it is closed once, from the loop.
    if (m_errorClosePending || !serialPort->isOpen())
        return;
    m_errorClosePending = true;
    // A running operation ends now rather than asking, request by request,
    // to open a port that has gone.
    endOperationEarly(OperationState::PortLost);
    const QString text
        = QStringLiteral("串口 %1 %2，已关闭").arg(serialPort->portName(), portErrorText(error));
    QTimer::singleShot(0, this, [this, text] {
        if (!m_errorClosePending)
            return; // closed by hand in the meantime
        closePortAfterError();
        // Bytes that came before the error are older news: shown now, their
        // count would otherwise replace this message when the wait ends.
        if (m_receiveDisplayStale)
            showReceiveCount();
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
