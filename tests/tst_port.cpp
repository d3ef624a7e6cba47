// The port of the window on a pseudo-terminal: opening with the line settings,
// closing, the three actions' states, the boxes of a failed or refused open,
// and the far end hanging up.
#include "serial/port.h"
#include "support/unprivileged.h"
#include "support/windowdriver.h"
#include "tools/pty.h"

#include <QAction>
#include <QComboBox>
#include <QSerialPortInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <optional>
#include <sys/stat.h>
#include <termios.h>

static void initResources()
{
    Q_INIT_RESOURCE(images); // outside any namespace
}

namespace {

// connect, close, refresh
using ActionStates = QVector<bool>;

ActionStates actionStates(MainWindow &w)
{
    return {widget<QAction>(w, "actionConnect")->isEnabled(),
            widget<QAction>(w, "actionClose")->isEnabled(),
            widget<QAction>(w, "actionRefresh")->isEnabled()};
}

const ActionStates kAtStartUp{true, true, true};
const ActionStates kOpen{false, true, false};
const ActionStates kClosed{true, false, true};

// The port's own name for a device path, as the messages show it: "pts/3"
// for "/dev/pts/3", as "ttyUSB0" for "/dev/ttyUSB0".
QString portNameOf(const QString &path)
{
    return path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
}

void chooseLine(MainWindow &w, const QString &baud, int data, int parity, int stop)
{
    widget<QComboBox>(w, "comboBoxBaud")->setCurrentText(baud);
    widget<QComboBox>(w, "comboBoxData")->setCurrentIndex(data);
    widget<QComboBox>(w, "comboBoxParity")->setCurrentIndex(parity);
    widget<QComboBox>(w, "comboBoxStop")->setCurrentIndex(stop);
}

// What the open line carries, read from the terminal itself rather than from
// the port object's idea of it.
termios lineOf(MainWindow &w)
{
    termios tio{};
    ::tcgetattr(int(windowPort(w)->handle()), &tio);
    return tio;
}

} // namespace

class tst_Port : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void openAndCloseSwitchTheActions();
    void lineSettingsReachTheLine_data();
    void lineSettingsReachTheLine();
    void bytesPassBothWaysWhenOpen();
    void openFailureReasons_data();
    void openFailureReasons();
    void openFailureBox_data();
    void openFailureBox();
    void nineDataBitsRefusedBeforeOpening();
    void settingTheLineRefusesIsNamed_data();
    void settingTheLineRefusesIsNamed();
    void settingsChangedWhileOpenTakeEffect_data();
    void settingsChangedWhileOpenTakeEffect();
    void hangUpClosesThePortWithoutAStorm();
    void closingAtStartUpOnlySwitchesTheActions();
    void refreshListsThePorts();

private:
    QTemporaryDir m_workDir;
};

void tst_Port::initTestCase()
{
    initResources();
    qRegisterMetaType<QSerialPort::SerialPortError>();
    QVERIFY(m_workDir.isValid());
    QVERIFY(QDir::setCurrent(m_workDir.path()));
}

void tst_Port::openAndCloseSwitchTheActions()
{
    PtyPair pty;
    QVERIFY(pty.isOpen());
    MainWindow w;
    QCOMPARE(actionStates(w), kAtStartUp);

    QVERIFY(openPortOn(w, pty.slavePath()));
    QCOMPARE(windowPort(w)->portName(), portNameOf(pty.slavePath()));
    QCOMPARE(actionStates(w), kOpen);
    QCOMPARE(statusText(w),
             QStringLiteral("串口 %1 已打开：9600 8N1").arg(portNameOf(pty.slavePath())));

    widget<QAction>(w, "actionClose")->trigger();
    QVERIFY(!portIsOpen(w));
    QCOMPARE(actionStates(w), kClosed);
    QCOMPARE(statusText(w), QStringLiteral("串口 %1 已关闭").arg(portNameOf(pty.slavePath())));

    // Open again on the same port object.
    QVERIFY(openPortOn(w, pty.slavePath()));
    QCOMPARE(actionStates(w), kOpen);
    widget<QAction>(w, "actionClose")->trigger();
    QCOMPARE(actionStates(w), kClosed);
}

void tst_Port::lineSettingsReachTheLine_data()
{
    QTest::addColumn<QString>("baud");
    QTest::addColumn<int>("stopIndex");
    QTest::addColumn<int>("speed"); // termios speed constant
    QTest::addColumn<bool>("twoStopBits");
    QTest::addColumn<QString>("shown"); // in the status bar
    QTest::newRow("9600 8N1, the defaults") << "9600" << 0 << int(B9600) << false << "9600 8N1";
    QTest::newRow("115200 8N1") << "115200" << 0 << int(B115200) << false << "115200 8N1";
    QTest::newRow("19200 8N2") << "19200" << 2 << int(B19200) << true << "19200 8N2";
    QTest::newRow("230400 8N2") << "230400" << 2 << int(B230400) << true << "230400 8N2";
}

void tst_Port::lineSettingsReachTheLine()
{
    QFETCH(QString, baud);
    QFETCH(int, stopIndex);
    QFETCH(int, speed);
    QFETCH(bool, twoStopBits);
    QFETCH(QString, shown);
    PtyPair pty;
    MainWindow w;
    chooseLine(w, baud, 1, 0, stopIndex);
    QVERIFY(openPortOn(w, pty.slavePath()));
    QVERIFY2(statusText(w).endsWith(QStringLiteral("已打开：") + shown), qPrintable(statusText(w)));

    const termios tio = lineOf(w);
    QCOMPARE(int(cfgetospeed(&tio)), speed);
    QCOMPARE(int(cfgetispeed(&tio)), speed);
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QVERIFY(!(tio.c_cflag & PARENB));
    QCOMPARE(bool(tio.c_cflag & CSTOPB), twoStopBits);
    QVERIFY(!(tio.c_cflag & CRTSCTS)); // no flow control
    QVERIFY(!(tio.c_iflag & (IXON | IXOFF)));

    widget<QAction>(w, "actionClose")->trigger();
}

void tst_Port::bytesPassBothWaysWhenOpen()
{
    PtyPair pty;
    MainWindow w;
    QVERIFY(openPortOn(w, pty.slavePath()));

    const QByteArray out = QByteArray::fromHex("55 03 08 02 00 0A 6B B9");
    QCOMPARE(windowPort(w)->write(out), qint64(out.size()));
    QVERIFY(pty.waitForReceived(out.size(), 2000));
    QCOMPARE(pty.received(), out);

    // The reception slot is connected: what the far end says lands in the
    // receive buffer.
    MainWindowProbe::resetReceive(w);
    const QByteArray in = QByteArray::fromHex("55 03 02 00 0A");
    QVERIFY(pty.writeMaster(in));
    QTRY_COMPARE(MainWindowProbe::recvBytes(w), in);

    widget<QAction>(w, "actionClose")->trigger();
}

void tst_Port::openFailureReasons_data()
{
    QTest::addColumn<int>("system");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("systemText");
    QTest::addColumn<QStringList>("says");
    QTest::addColumn<QStringList>("doesNotSay");

    const int onLinux = int(PortSystem::Linux);
    const int onOtherUnix = int(PortSystem::OtherUnix);
    const int onWindows = int(PortSystem::Windows);
    const QStringList noPermission{"没有权限打开串口 ttyUSB0"};
    const QStringList inUse{"串口 ttyUSB0 正被其他程序占用"};
    QTest::newRow("Linux, permission denied: the dialout hint")
        << onLinux << "ttyUSB0" << int(QSerialPort::PermissionError) << qt_error_string(EACCES)
        << (noPermission + QStringList{"dialout", "重新登录"}) << inUse;
    QTest::newRow("other Unix, permission denied: no dialout group there")
        << onOtherUnix << "ttyUSB0" << int(QSerialPort::PermissionError) << qt_error_string(EACCES)
        << noPermission << QStringList{"dialout"};
    QTest::newRow("Linux, device busy (held exclusively)")
        << onLinux << "ttyUSB0" << int(QSerialPort::PermissionError) << qt_error_string(EBUSY)
        << inUse << QStringList{"权限", "dialout"};
    QTest::newRow("Windows, access denied means another program has it")
        << onWindows << "COM3" << int(QSerialPort::PermissionError) << "Access is denied."
        << QStringList{"串口 COM3 正被其他程序占用"} << QStringList{"权限", "dialout"};
    QTest::newRow("nothing said by the system")
        << onLinux << "ttyS0" << int(QSerialPort::UnsupportedOperationError) << ""
        << QStringList{"未知错误"} << QStringList();
}

void tst_Port::openFailureReasons()
{
    QFETCH(int, system);
    QFETCH(QString, name);
    QFETCH(int, error);
    QFETCH(QString, systemText);
    QFETCH(QStringList, says);
    QFETCH(QStringList, doesNotSay);
    const QString reason = openFailureReason(name, QSerialPort::SerialPortError(error), systemText,
                                             PortSystem(system));
    for (const QString &part : says)
        QVERIFY2(reason.contains(part), qPrintable(reason));
    for (const QString &part : doesNotSay)
        QVERIFY2(!reason.contains(part), qPrintable(reason));
}

namespace {
enum class Refusal { Missing, EmptyName, HeldByAnother, NotATerminal, NoPermission };
}
Q_DECLARE_METATYPE(Refusal)

void tst_Port::openFailureBox_data()
{
    QTest::addColumn<Refusal>("refusal");
    QTest::addColumn<QString>("reason"); // part of the line under the first
    QTest::newRow("path that does not exist") << Refusal::Missing << "不存在";
    QTest::newRow("empty name (no ports listed)") << Refusal::EmptyName << "没有选择串口";
    QTest::newRow("port held by another program") << Refusal::HeldByAnother << "正被其他程序占用";
    QTest::newRow("a file that is no terminal: the system's words")
        << Refusal::NotATerminal << "系统提示：";
    QTest::newRow("device node the user may not open") << Refusal::NoPermission << "没有权限";
}

void tst_Port::openFailureBox()
{
    QFETCH(Refusal, refusal);
    QFETCH(QString, reason);
    PtyPair pty;
    QVERIFY(pty.isOpen());
    QSerialPort other;
    QTemporaryDir dir;
    QString path;
    switch (refusal) {
    case Refusal::Missing:
        path = QStringLiteral("/dev/feederbench-no-such-port");
        break;
    case Refusal::EmptyName:
        break;
    case Refusal::HeldByAnother:
        path = pty.slavePath();
        other.setPortName(path);
        QVERIFY(other.open(QIODevice::ReadWrite));
        break;
    case Refusal::NotATerminal: {
        path = dir.filePath(QStringLiteral("plain-file"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        break;
    }
    case Refusal::NoPermission:
        path = pty.slavePath();
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0) == 0);
        break;
    }

    MainWindow w;
    SeenBox *box = answerNextMessageBox(QMessageBox::Ok);
    // Root opens a device whatever its permissions: that case runs as a user.
    std::optional<Unprivileged> asUser;
    if (refusal == Refusal::NoPermission) {
        asUser.emplace();
        QVERIFY(asUser->ok());
    }
    QVERIFY(!openPortOn(w, path));
    QVERIFY(box->shown);
    QCOMPARE(box->title, QStringLiteral("错误"));
    const QStringList lines = box->text.split(QLatin1Char('\n'));
    QVERIFY2(lines.size() >= 2, qPrintable(box->text));
    QCOMPARE(lines.first(), QStringLiteral("打开串口失败！"));
    QVERIFY2(lines.at(1).contains(reason), qPrintable(box->text));
    if (!path.isEmpty() && refusal != Refusal::NotATerminal)
        QVERIFY2(lines.at(1).contains(portNameOf(path)), qPrintable(box->text));
    QCOMPARE(actionStates(w), kAtStartUp); // as they were
    QVERIFY(statusText(w).isEmpty());

    // And after a close the actions stay as closing left them.
    widget<QAction>(w, "actionClose")->trigger();
    box = answerNextMessageBox(QMessageBox::Ok);
    QVERIFY(!openPortOn(w, path));
    QVERIFY(box->shown);
    QCOMPARE(actionStates(w), kClosed);
}

void tst_Port::nineDataBitsRefusedBeforeOpening()
{
    PtyPair pty;
    MainWindow w;
    chooseLine(w, "9600", 2, 0, 0);
    SeenBox *box = answerNextMessageBox(QMessageBox::Ok);
    QVERIFY(!openPortOn(w, pty.slavePath()));
    QVERIFY(box->shown);
    QCOMPARE(box->title, QStringLiteral("错误"));
    QVERIFY2(box->text.contains(QStringLiteral("9位")), qPrintable(box->text));
    QCOMPARE(actionStates(w), kAtStartUp);

    // Back to eight bits, the same port opens.
    chooseLine(w, "9600", 1, 0, 0);
    QVERIFY(openPortOn(w, pty.slavePath()));
    widget<QAction>(w, "actionClose")->trigger();
}

void tst_Port::settingTheLineRefusesIsNamed_data()
{
    // A pseudo-terminal carries eight data bits without parity whatever it is
    // asked, and a POSIX line has no one and a half stop bits.
    QTest::addColumn<int>("data");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stop");
    QTest::addColumn<QString>("named");
    QTest::newRow("7 data bits") << 0 << 0 << 0 << "数据位“7位”";
    QTest::newRow("odd parity") << 1 << 1 << 0 << "校验位“奇校验”";
    QTest::newRow("even parity") << 1 << 2 << 0 << "校验位“偶校验”";
    QTest::newRow("1.5 stop bits") << 1 << 0 << 1 << "停止位“1.5位”";
}

void tst_Port::settingTheLineRefusesIsNamed()
{
    QFETCH(int, data);
    QFETCH(int, parity);
    QFETCH(int, stop);
    QFETCH(QString, named);
    PtyPair pty;
    MainWindow w;
    chooseLine(w, "9600", data, parity, stop);
    SeenBox *box = answerNextMessageBox(QMessageBox::Ok);
    QVERIFY(!openPortOn(w, pty.slavePath()));
    QVERIFY(box->shown);
    QCOMPARE(box->title, QStringLiteral("错误"));
    QVERIFY2(box->text.contains(named), qPrintable(box->text));
    QVERIFY2(box->text.contains(portNameOf(pty.slavePath())), qPrintable(box->text));
    QVERIFY(!portIsOpen(w));
    QCOMPARE(actionStates(w), kAtStartUp);

    // The refused choice leaves nothing behind: 8N1 opens and is 8N1.
    chooseLine(w, "9600", 1, 0, 0);
    QVERIFY(openPortOn(w, pty.slavePath()));
    const termios tio = lineOf(w);
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QVERIFY(!(tio.c_cflag & (PARENB | CSTOPB)));
    widget<QAction>(w, "actionClose")->trigger();
}

// A setting changed while the port is open reaches the line at once and the
// status bar names it; one the line cannot take leaves the line as it ran and
// the boxes saying so.
void tst_Port::settingsChangedWhileOpenTakeEffect_data()
{
    QTest::addColumn<QString>("baud");
    QTest::addColumn<int>("data");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stop");
    QTest::addColumn<int>("speed"); // termios speed constant afterwards
    QTest::addColumn<bool>("twoStopBits");
    QTest::addColumn<QString>("status"); // "" when a box refuses
    QTest::addColumn<QString>("refused");

    QTest::newRow("9600 to 115200")
        << "115200" << 1 << 0 << 0 << int(B115200) << false << "已改为：115200 8N1"
        << "";
    QTest::newRow("two stop bits")
        << "9600" << 1 << 0 << 2 << int(B9600) << true << "已改为：9600 8N2"
        << "";
    QTest::newRow("odd parity the line cannot carry")
        << "9600" << 1 << 1 << 0 << int(B9600) << false << ""
        << "校验位“奇校验”";
    QTest::newRow("nine data bits") << "9600" << 2 << 0 << 0 << int(B9600) << false << ""
                                    << "数据位“9位”";
}

void tst_Port::settingsChangedWhileOpenTakeEffect()
{
    QFETCH(QString, baud);
    QFETCH(int, data);
    QFETCH(int, parity);
    QFETCH(int, stop);
    QFETCH(int, speed);
    QFETCH(bool, twoStopBits);
    QFETCH(QString, status);
    QFETCH(QString, refused);
    PtyPair pty;
    MainWindow w;
    QVERIFY(openPortOn(w, pty.slavePath()));
    const ModalAnswerer boxes(QMessageBox::Ok);

    chooseLine(w, baud, data, parity, stop);

    const termios tio = lineOf(w);
    QCOMPARE(int(cfgetospeed(&tio)), speed);
    QCOMPARE(bool(tio.c_cflag & CSTOPB), twoStopBits);
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QVERIFY(!(tio.c_cflag & PARENB));
    QVERIFY(portIsOpen(w));
    if (refused.isEmpty()) {
        QCOMPARE(boxes.count(), 0);
        QCOMPARE(statusText(w),
                 QStringLiteral("串口 %1 ").arg(portNameOf(pty.slavePath())) + status);
    } else {
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last.title, QStringLiteral("错误"));
        QVERIFY2(boxes.last.text.contains(refused), qPrintable(boxes.last.text));
        QVERIFY2(boxes.last.text.contains(QStringLiteral("9600 8N1")), qPrintable(boxes.last.text));
        // The boxes show what the line runs with.
        QCOMPARE(widget<QComboBox>(w, "comboBoxData")->currentIndex(), 1);
        QCOMPARE(widget<QComboBox>(w, "comboBoxParity")->currentIndex(), 0);
    }
    widget<QAction>(w, "actionClose")->trigger();
}

void tst_Port::hangUpClosesThePortWithoutAStorm()
{
    PtyPair pty;
    MainWindow w;
    QVERIFY(openPortOn(w, pty.slavePath()));
    QSignalSpy errors(windowPort(w), &QSerialPort::errorOccurred);
    QVERIFY(errors.isValid());

    pty.closeMaster();
    QTRY_VERIFY(!portIsOpen(w));
    QCOMPARE(actionStates(w), kClosed);
    const QString status = statusText(w);
    QVERIFY2(status.contains(portNameOf(pty.slavePath())), qPrintable(status));
    // No operation ran to say so: the result window says it once, as the status bar does.
    QCOMPARE(resultLines(w).filter(status), QStringList{status});

    bool sawLineError = false;
    for (const QList<QVariant> &e : qAsConst(errors)) {
        const auto code = e.at(0).value<QSerialPort::SerialPortError>();
        sawLineError |= code == QSerialPort::ResourceError || code == QSerialPort::ReadError;
    }
    QVERIFY(sawLineError);

    // Let the loop run a while: a port left open on a dead line would report
    // its error again on every turn.
    QTest::qWait(200);
    QVERIFY2(errors.count() < 50, qPrintable(QString::number(errors.count())));
    QVERIFY(!portIsOpen(w));
    QCOMPARE(actionStates(w), kClosed);
}

void tst_Port::closingAtStartUpOnlySwitchesTheActions()
{
    MainWindow w;
    widget<QAction>(w, "actionClose")->trigger();
    QVERIFY(!portIsOpen(w));
    QCOMPARE(actionStates(w), kClosed);
    QVERIFY(statusText(w).isEmpty());
}

void tst_Port::refreshListsThePorts()
{
    MainWindow w;
    auto *ports = widget<QComboBox>(w, "comboBoxPort");
    // A path the engineer typed stays through a refresh.
    ports->setEditText(QStringLiteral("/dev/typed-by-hand"));
    widget<QAction>(w, "actionRefresh")->trigger();
    QCOMPARE(ports->currentText(), QStringLiteral("/dev/typed-by-hand"));
    // Emptied, the field takes the first port listed.
    ports->setEditText(QString());
    widget<QAction>(w, "actionRefresh")->trigger();

    QStringList expected;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        expected << info.portName();
    QStringList listed;
    for (int i = 0; i < ports->count(); ++i)
        listed << ports->itemText(i);
    QCOMPARE(listed, expected);
    QCOMPARE(ports->currentText(), expected.value(0));
    // Each item's tool tip names what the system knows of the port.
    for (int i = 0; i < infos.size(); ++i) {
        const QString tip = ports->itemData(i, Qt::ToolTipRole).toString();
        QVERIFY(tip.contains(infos.at(i).description()));
        QVERIFY(tip.contains(infos.at(i).manufacturer()));
    }
}

QTEST_MAIN(tst_Port)
#include "tst_port.moc"
