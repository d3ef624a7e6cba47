#pragma once

// The serial port without widgets: the line settings applied and checked,
// what the engineer is told when a port does not open or fails, what a listed
// port is, and what it was opened with. The window and the command line open
// their ports through these.

#include <QSerialPort>
#include <QString>

enum class PortSystem { Linux, OtherUnix, Windows };

#if defined(Q_OS_WIN)
constexpr PortSystem kThisSystem = PortSystem::Windows;
#elif defined(Q_OS_LINUX)
constexpr PortSystem kThisSystem = PortSystem::Linux;
#else
constexpr PortSystem kThisSystem = PortSystem::OtherUnix;
#endif

// The line as the engineer chose it; a fresh port has these.
struct LineSettings
{
    qint32 baudRate = 9600;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

enum class LineSetting { None, BaudRate, DataBits, Parity, StopBits, FlowControl };

// Applies the settings (and no flow control) to the open port; the first one
// the line does not carry, or None. A line left in a state the engineer did
// not choose would garble every frame without a word, so the caller closes
// the port again when one is lacking.
LineSetting applyLineSettings(QSerialPort &port, const LineSettings &settings);

// "打开串口失败！" with the reason on the line below.
QString openFailureText(const QString &reason);

// The reason a port did not open, in Chinese, for the line under
// "打开串口失败！". error and systemText are the port's error() and
// errorString() after the failed open.
QString openFailureReason(const QString &portName, QSerialPort::SerialPortError error,
                          const QString &systemText, PortSystem system = kThisSystem);

// What went wrong with an open port: "设备已断开或不可用" and the like.
QString portErrorText(QSerialPort::SerialPortError error);

// The tool tip of a listed port: its description and manufacturer as far as
// the system knows them; empty when it knows neither.
QString portToolTip(const QString &description, const QString &manufacturer);

// How long the port's line takes for one character with its settings now.
qint64 portCharacterNs(const QSerialPort &port);

// A port's line settings in short: "9600 8N1", "19200 8E1.5".
QString lineSettingsText(qint32 baudRate, QSerialPort::DataBits dataBits,
                         QSerialPort::Parity parity, QSerialPort::StopBits stopBits);
// The status-bar line of an open port: "串口 ttyUSB0 已打开：9600 8N1".
QString openedPortText(const QString &portName, qint32 baudRate, QSerialPort::DataBits dataBits,
                       QSerialPort::Parity parity, QSerialPort::StopBits stopBits);
