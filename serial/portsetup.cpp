// The serial port without widgets: line settings, and what the engineer is
// told about a port.

#include "serial/linestats.h"
#include "serial/port.h"

#include <QCoreApplication>
#include <QStringList>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <termios.h>
#endif

namespace {

#ifdef Q_OS_UNIX
// tcsetattr succeeds when it could apply any part of a request, and drivers
// quietly keep what they cannot do: a pseudo-terminal stays at eight data bits
// without parity whatever it is asked, and no POSIX line has one and a half
// stop bits. What the line really carries is read back. (The baud rate is not:
// rates off the standard list go through a driver call that termios cannot
// read.)
LineSetting settingTheLineLacks(int fd, const LineSettings &wanted)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return LineSetting::None; // nothing to judge by; the set calls succeeded

    int bits = 8;
    switch (tio.c_cflag & CSIZE) {
    case CS5:
        bits = 5;
        break;
    case CS6:
        bits = 6;
        break;
    case CS7:
        bits = 7;
        break;
    default:
        break;
    }
    if (bits != int(wanted.dataBits))
        return LineSetting::DataBits;

    QSerialPort::Parity parity = QSerialPort::NoParity;
    if (tio.c_cflag & PARENB)
        parity = (tio.c_cflag & PARODD) ? QSerialPort::OddParity : QSerialPort::EvenParity;
#ifdef CMSPAR
    if ((tio.c_cflag & PARENB) && (tio.c_cflag & CMSPAR))
        parity = (tio.c_cflag & PARODD) ? QSerialPort::MarkParity : QSerialPort::SpaceParity;
#endif
    if (parity != wanted.parity)
        return LineSetting::Parity;

    const QSerialPort::StopBits stop
        = (tio.c_cflag & CSTOPB) ? QSerialPort::TwoStop : QSerialPort::OneStop;
    if (stop != wanted.stopBits)
        return LineSetting::StopBits;
    return LineSetting::None;
}
#endif

} // namespace

LineSetting applyLineSettings(QSerialPort &port, const LineSettings &s)
{
    if (!port.setBaudRate(s.baudRate, QSerialPort::AllDirections))
        return LineSetting::BaudRate;
    if (!port.setDataBits(s.dataBits))
        return LineSetting::DataBits;
    if (!port.setParity(s.parity))
        return LineSetting::Parity;
    if (!port.setStopBits(s.stopBits))
        return LineSetting::StopBits;
    if (!port.setFlowControl(QSerialPort::NoFlowControl))
        return LineSetting::FlowControl;
#ifdef Q_OS_UNIX
    return settingTheLineLacks(int(port.handle()), s);
#else
    return LineSetting::None;
#endif
}

QString openFailureText(const QString &reason)
{
    return QStringLiteral("打开串口失败！") + QLatin1Char('\n') + reason;
}

QString portErrorText(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ResourceError:
        return QStringLiteral("设备已断开或不可用");
    case QSerialPort::ReadError:
        return QStringLiteral("读取出错");
    case QSerialPort::WriteError:
        return QStringLiteral("写入出错");
    default:
        return QStringLiteral("出错（错误码 %1）").arg(int(error));
    }
}

QString openFailureReason(const QString &portName, QSerialPort::SerialPortError error,
                          const QString &systemText, PortSystem system)
{
    if (portName.isEmpty())
        return QStringLiteral("没有选择串口：本机没有找到串口，请接好串口线后点“刷新串口”。");
    if (error == QSerialPort::DeviceNotFoundError)
        return QStringLiteral("没有串口 %1：它不存在或已被拔出，请点“刷新串口”后重新选择。")
            .arg(portName);
    if (error == QSerialPort::PermissionError) {
        const QString inUse
            = QStringLiteral("串口 %1 正被其他程序占用，请先关闭那个程序。").arg(portName);
        // Windows refuses a port that another program holds with "access
        // denied"; a Unix system says "busy", or Qt finds the port's lock file
        // taken. Any other refusal there is the device node's permissions.
        if (system == PortSystem::Windows)
            return inUse;
        if (systemText == qt_error_string(EBUSY)
            || systemText
                   == QCoreApplication::translate("QSerialPort",
                                                  "Permission error while locking the device"))
            return inUse;
        QString reason = QStringLiteral("没有权限打开串口 %1。").arg(portName);
        if (system == PortSystem::Linux)
            reason += QStringLiteral("\n请把当前用户加入 dialout 组（sudo usermod -aG dialout "
                                     "用户名），重新登录后再试。");
        return reason;
    }
    if (systemText.isEmpty())
        return QStringLiteral("未知错误（错误码 %1）。").arg(int(error));
    return QStringLiteral("系统提示：%1").arg(systemText);
}

QString portToolTip(const QString &description, const QString &manufacturer)
{
    QStringList lines;
    if (!description.isEmpty())
        lines << QStringLiteral("描述：%1").arg(description);
    if (!manufacturer.isEmpty())
        lines << QStringLiteral("制造商：%1").arg(manufacturer);
    return lines.join(QLatin1Char('\n'));
}

qint64 portCharacterNs(const QSerialPort &port)
{
    int stopHalves = 2;
    if (port.stopBits() == QSerialPort::OneAndHalfStop)
        stopHalves = 3;
    else if (port.stopBits() == QSerialPort::TwoStop)
        stopHalves = 4;
    return characterNs(port.baudRate(), int(port.dataBits()),
                       port.parity() != QSerialPort::NoParity, stopHalves);
}

QString lineSettingsText(qint32 baudRate, QSerialPort::DataBits dataBits,
                         QSerialPort::Parity parity, QSerialPort::StopBits stopBits)
{
    char parityLetter = '?';
    switch (parity) {
    case QSerialPort::NoParity:
        parityLetter = 'N';
        break;
    case QSerialPort::OddParity:
        parityLetter = 'O';
        break;
    case QSerialPort::EvenParity:
        parityLetter = 'E';
        break;
    case QSerialPort::MarkParity:
        parityLetter = 'M';
        break;
    case QSerialPort::SpaceParity:
        parityLetter = 'S';
        break;
    default:
        break;
    }
    QString stop = QStringLiteral("?");
    switch (stopBits) {
    case QSerialPort::OneStop:
        stop = QStringLiteral("1");
        break;
    case QSerialPort::OneAndHalfStop:
        stop = QStringLiteral("1.5");
        break;
    case QSerialPort::TwoStop:
        stop = QStringLiteral("2");
        break;
    default:
        break;
    }
    return QStringLiteral("%1 %2%3%4")
        .arg(baudRate)
        .arg(int(dataBits))
        .arg(QLatin1Char(parityLetter))
        .arg(stop);
}

QString openedPortText(const QString &portName, qint32 baudRate, QSerialPort::DataBits dataBits,
                       QSerialPort::Parity parity, QSerialPort::StopBits stopBits)
{
    return QStringLiteral("串口 %1 已打开：%2")
        .arg(portName, lineSettingsText(baudRate, dataBits, parity, stopBits));
}
