#pragma once

// What the port tells the engineer: why it did not open, what a listed port
// is, and what it was opened with.

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

// The reason a port did not open, in Chinese, for the line under
// "打开串口失败！". error and systemText are the port's error() and
// errorString() after the failed open.
QString openFailureReason(const QString &portName, QSerialPort::SerialPortError error,
                          const QString &systemText, PortSystem system = kThisSystem);

// The tool tip of a listed port: its description and manufacturer as far as
// the system knows them; empty when it knows neither.
QString portToolTip(const QString &description, const QString &manufacturer);

// A port's line settings in short: "9600 8N1", "19200 8E1.5".
QString lineSettingsText(qint32 baudRate, QSerialPort::DataBits dataBits,
                         QSerialPort::Parity parity, QSerialPort::StopBits stopBits);
// The status-bar line of an open port: "串口 ttyUSB0 已打开：9600 8N1".
QString openedPortText(const QString &portName, qint32 baudRate, QSerialPort::DataBits dataBits,
                       QSerialPort::Parity parity, QSerialPort::StopBits stopBits);
