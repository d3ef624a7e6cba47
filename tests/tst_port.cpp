// The port of the window on a pseudo-terminal: opening with the line settings,
// closing, the three actions' states, the boxes of a failed or refused open,
// and the far end hanging up.
#include "support/windowdriver.h"
#include "tools/pty.h"

#include <QAction>
#include <QComboBox>
#include <QSerialPortInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

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
    void openFailureBox_data();
    void openFailureBox();
    void nineDataBitsRefusedBeforeOpening();
    void settingTheLineRefusesIsNamed_data();
    void settingTheLineRefusesIsNamed();
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

    widget<QAction>(w, "actionClose")->trigger();
    QVERIFY(!portIsOpen(w));
    QCOMPARE(actionStates(w), kClosed);

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
    QTest::newRow("9600 8N1, the defaults") << "9600" << 0 << int(B9600) << false;
    QTest::newRow("115200 8N1") << "115200" << 0 << int(B115200) << false;
    QTest::newRow("19200 8N2") << "19200" << 2 << int(B19200) << true;
    QTest::newRow("230400 8N2") << "230400" << 2 << int(B230400) << true;
}

void tst_Port::lineSettingsReachTheLine()
{
    QFETCH(QString, baud);
    QFETCH(int, stopIndex);
    QFETCH(int, speed);
    QFETCH(bool, twoStopBits);
    PtyPair pty;
    MainWindow w;
    chooseLine(w, baud, 1, 0, stopIndex);
    QVERIFY(openPortOn(w, pty.slavePath()));

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

void tst_Port::openFailureBox_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("path that does not exist") << "/dev/feederbench-no-such-port";
    QTest::newRow("empty name (no ports listed)") << "";
}

void tst_Port::openFailureBox()
{
    QFETCH(QString, path);
    MainWindow w;
    SeenBox *box = answerNextMessageBox(QMessageBox::Ok);
    QVERIFY(!openPortOn(w, path));
    QVERIFY(box->shown);
    QCOMPARE(box->title, QStringLiteral("错误"));
    QCOMPARE(box->text, QStringLiteral("打开串口失败！"));
    QCOMPARE(actionStates(w), kAtStartUp); // as they were

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
    ports->setEditText(QStringLiteral("/dev/typed-by-hand"));
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
}

QTEST_MAIN(tst_Port)
#include "tst_port.moc"
