// The port list, opening with the line settings, closing, and port errors.

#include "serial/port.h"

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QMessageBox>
#include <QSerialPortInfo>
#include <QSignalBlocker>
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

LineSettings portSettings(const QSerialPort &port)
{
    LineSettings s;
    s.baudRate = port.baudRate();
    s.dataBits = port.dataBits();
    s.parity = port.parity();
    s.stopBits = port.stopBits();
    return s;
}

// The settings the combo boxes name, starting from what the port has now;
// false for a choice no port carries.
bool chosenLineSettings(const Ui::MainWindow *ui, const QSerialPort &port, LineSettings *s)
{
    *s = portSettings(port);
    s->baudRate = ui->comboBoxBaud->currentText().toInt(nullptr, 10);
    return lineSettingsFromIndexes(s, ui->comboBoxData->currentIndex(),
                                   ui->comboBoxParity->currentIndex(),
                                   ui->comboBoxStop->currentIndex());
}

// The setting the line did not take, as the engineer chose it: "数据位“7位”".
QString refusedSettingText(LineSetting setting, const Ui::MainWindow *ui)
{
    switch (setting) {
    case LineSetting::BaudRate:
        return QStringLiteral("波特率“%1”").arg(ui->comboBoxBaud->currentText());
    case LineSetting::DataBits:
        return QStringLiteral("数据位“%1”").arg(ui->comboBoxData->currentText());
    case LineSetting::Parity:
        return QStringLiteral("校验位“%1”").arg(ui->comboBoxParity->currentText());
    case LineSetting::StopBits:
        return QStringLiteral("停止位“%1”").arg(ui->comboBoxStop->currentText());
    case LineSetting::FlowControl:
        return QStringLiteral("流控制“无”");
    case LineSetting::None:
        break;
    }
    return QString();
}

// The combo boxes back on the settings s, without applying them once more.
void showLineSettings(Ui::MainWindow *ui, const LineSettings &s)
{
    const QSignalBlocker baud(ui->comboBoxBaud);
    const QSignalBlocker data(ui->comboBoxData);
    const QSignalBlocker parity(ui->comboBoxParity);
    const QSignalBlocker stop(ui->comboBoxStop);
    ui->comboBoxBaud->setCurrentText(QString::number(s.baudRate));
    ui->comboBoxData->setCurrentIndex(s.dataBits == QSerialPort::Data7 ? 0 : 1);
    ui->comboBoxParity->setCurrentIndex(s.parity == QSerialPort::OddParity    ? 1
                                        : s.parity == QSerialPort::EvenParity ? 2
                                                                              : 0);
    ui->comboBoxStop->setCurrentIndex(s.stopBits == QSerialPort::OneAndHalfStop ? 1
                                      : s.stopBits == QSerialPort::TwoStop      ? 2
                                                                                : 0);
}

} // namespace

// A port still listed stays chosen, and a path the engineer typed stays in
// the field (a USB adapter under a name the system does not list, a link);
// a listed port that has gone gives way to the first one listed.
void MainWindow::RefreshPortList()
{
    const QString chosen = ui->comboBoxPort->currentText();
    const bool typed = !chosen.isEmpty() && !m_portsListed.contains(chosen);
    ui->comboBoxPort->clear();
    m_portsListed.clear();
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        ui->comboBoxPort->addItem(info.portName());
        m_portsListed << info.portName();
        const QString tip = portToolTip(info.description(), info.manufacturer());
        if (!tip.isEmpty())
            ui->comboBoxPort->setItemData(ui->comboBoxPort->count() - 1, tip, Qt::ToolTipRole);
    }
    const int listed = ui->comboBoxPort->findText(chosen);
    if (listed >= 0)
        ui->comboBoxPort->setCurrentIndex(listed);
    else if (typed)
        ui->comboBoxPort->setEditText(chosen);
}

void MainWindow::on_actionRefresh_triggered()
{
    RefreshPortList();
}

// A setting changed while the port is open goes onto the line at once, so
// the line always runs as the boxes say.
void MainWindow::watchLineSettings()
{
    for (QComboBox *box :
         {ui->comboBoxBaud, ui->comboBoxData, ui->comboBoxParity, ui->comboBoxStop})
        connect(box, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                &MainWindow::applyLineSettingsNow);
}

void MainWindow::applyLineSettingsNow()
{
    if (!serialPort->isOpen())
        return; // taken at the next opening
    const LineSettings before = portSettings(*serialPort);
    LineSettings wanted;
    QString refused;
    if (!chosenLineSettings(ui, *serialPort, &wanted))
        refused = refusedSettingText(LineSetting::DataBits, ui);
    else
        refused = refusedSettingText(applyLineSettings(*serialPort, wanted), ui);
    if (refused.isEmpty()) {
        ui->statusbar->showMessage(
            QStringLiteral("串口 %1 已改为：%2")
                .arg(serialPort->portName(),
                     lineSettingsText(serialPort->baudRate(), serialPort->dataBits(),
                                      serialPort->parity(), serialPort->stopBits())));
        return;
    }
    // The line goes on as it ran, and the boxes say so.
    applyLineSettings(*serialPort, before);
    showLineSettings(ui, before);
    QMessageBox::information(this, QStringLiteral("错误"),
                             QStringLiteral("串口 %1 不支持%2，仍按 %3 通信。")
                                 .arg(serialPort->portName(), refused,
                                      lineSettingsText(before.baudRate, before.dataBits,
                                                       before.parity, before.stopBits)));
}

void MainWindow::on_actionConnect_triggered()
{
    const QString title = QStringLiteral("错误");
    LineSettings settings;
    if (!chosenLineSettings(ui, *serialPort, &settings)) {
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
        const QString setting = refusedSettingText(lacking, ui);
        serialPort->close();
        QMessageBox::information(
            this, title,
            openFailureText(
                QStringLiteral("串口 %1 不支持%2。").arg(serialPort->portName(), setting)));
        return;
    }

    m_errorClosePending = false;
    // Counted for each opening: the line may now be another adapter or unit.
    m_lineStats.clear();
    refreshLineStats();
    m_echoHintShown = false;
    m_echoHintDue = false;
    m_consoleEcho.clear();
    m_consoleEchoSeen.clear();
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
    // to open a port that has gone; its end is said in the result window.
    // Without one the result window says it here, where the engineer looks
    // after pressing the next button.
    const bool operationRuns = m_operation != OperationState::Idle;
    endOperationEarly(OperationState::PortLost);
    const QString text
        = QStringLiteral("串口 %1 %2，已关闭").arg(serialPort->portName(), portErrorText(error));
    if (!operationRuns)
        appendResult(text, Tone::Bad);
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
