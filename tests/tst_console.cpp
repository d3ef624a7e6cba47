// The serial console on a pseudo-terminal: the transmit routine with its
// conversions and open question, reception with its counters, the send panel
// with cyclic sending, and a port that hangs up.

#include "protocol/hex.h"
#include "support/windowdriver.h"
#include "tools/pty.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLCDNumber>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// A window and the far end of its cable. The window is declared last so it is
// destroyed first: its port closes before the pseudo-terminal goes away.
struct Console
{
    PtyPair pty;
    MainWindow window;

    bool open() { return openPortOn(window, pty.slavePath()); }
    QLineEdit *line(int n)
    {
        return window.findChild<QLineEdit *>(QStringLiteral("lineEditSend%1").arg(n));
    }
    QPushButton *button(const char *name) { return widget<QPushButton>(window, name); }
    QCheckBox *checkBox(const QString &name) { return window.findChild<QCheckBox *>(name); }
    int sendCount() const { return MainWindowProbe::sendCount(window); }
    int recvCount() const { return MainWindowProbe::recvCount(window); }
    int shownSendCount() { return widget<QLCDNumber>(window, "lcdNumberSend")->intValue(); }
    int shownRecvCount() { return widget<QLCDNumber>(window, "lcdNumberRecieve")->intValue(); }
    QString lastTrafficLine()
    {
        const QStringList lines = trafficLines(window);
        return lines.isEmpty() ? QString() : lines.last();
    }
    // A byte the far end is sure to see after anything sent before it.
    void sendMarker()
    {
        line(5)->setText(QStringLiteral("5A"));
        MainWindowProbe::sendData(window, 5);
    }
};

const QString kPortQuestion = QStringLiteral("串口 %1 并没有打开, 是否要打开串口 %2 ?");

} // namespace

class tst_Console : public QObject
{
    Q_OBJECT

private slots:
    void sendPutsBytesOnTheWire_data();
    void sendPutsBytesOnTheWire();
    void badHexPieceSendsNothing();
    void formatErrorComesBeforeThePortQuestion();
    void emptyLineIsReported_data();
    void emptyLineIsReported();
    void closedPortAsksToOpen_data();
    void closedPortAsksToOpen();
    void sendLogsARedLine();

    void receptionJoinsChunksInOrder();
    void echoOfASendIsTakenOff_data();
    void echoOfASendIsTakenOff();
    void receptionKeeps256BytesAndCountsAll();
    void counterButtons_data();
    void counterButtons();

    void sendButtonSendsItsLineOnce_data();
    void sendButtonSendsItsLineOnce();
    void cyclicSendingWalksTheEnabledLines_data();
    void cyclicSendingWalksTheEnabledLines();
    void cyclicSendingWithNoLineEnabledSendsNothing();
    void cyclicSendingOnAClosedPortAsksAndStaysOff_data();
    void cyclicSendingOnAClosedPortAsksAndStaysOff();
    void cyclicSendingHoldsBackDuringADeviceOperation();
    void clearingTheSendLines();

    void hangUpClosesThePortOnce();
};

// Expected bytes follow the worked examples of the send-line rules: pieces at
// single blanks, a digit run paired from the end, low eight bits of a piece.
void tst_Console::sendPutsBytesOnTheWire_data()
{
    QTest::addColumn<bool>("hexMode");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("hex 01 03 00 00 00 01")
        << true << "01 03 00 00 00 01" << hex("01 03 00 00 00 01");
    QTest::newRow("hex 0103 without blanks") << true << "0103" << hex("01 03");
    QTest::newRow("hex 01  03 with two blanks") << true << "01  03" << hex("01 03");
    QTest::newRow("hex ' 01 03' with a leading blank") << true << " 01 03" << hex("01 03");
    QTest::newRow("hex 103 odd digit count") << true << "103" << hex("01 03");
    QTest::newRow("hex 1FF and -1 give FF") << true << "1FF -1 7" << hex("FF FF 07");
    QTest::newRow("hex rendered request 55 03 07 04 00 01 C9 6B ")
        << true << "55 03 07 04 00 01 C9 6B " << hex("55 03 07 04 00 01 C9 6B");
    QTest::newRow("text AT") << false << "AT" << hex("41 54");
}

void tst_Console::sendPutsBytesOnTheWire()
{
    QFETCH(bool, hexMode);
    QFETCH(QString, text);
    QFETCH(QByteArray, wire);

    Console c;
    QVERIFY(c.open());
    widget<QCheckBox>(c.window, "checkBoxSend")->setChecked(hexMode);
    c.line(2)->setText(text);

    MainWindowProbe::sendData(c.window, 2);

    QVERIFY(c.pty.waitForReceived(wire.size(), 5000));
    QCOMPARE(c.pty.received().toHex(' '), wire.toHex(' '));
    QCOMPARE(c.sendCount(), wire.size());
    QCOMPARE(c.shownSendCount(), wire.size());
    QCOMPARE(statusText(c.window), QStringLiteral("发送数据成功"));
    QVERIFY(c.lastTrafficLine().contains(QStringLiteral("][发送]: ")));
}

void tst_Console::badHexPieceSendsNothing()
{
    Console c;
    QVERIFY(c.open());
    const int linesBefore = trafficLines(c.window).size();
    c.line(1)->setText(QStringLiteral("01 XY 03"));

    {
        ModalAnswerer answerer(QMessageBox::Ok);
        MainWindowProbe::sendData(c.window, 1);
        QCOMPARE(answerer.boxes.size(), 1);
        QCOMPARE(answerer.boxes.first().title, QStringLiteral("提示消息"));
        QCOMPARE(answerer.boxes.first().text, QStringLiteral("输入的数据格式有错误！"));
    }
    QCOMPARE(c.sendCount(), 0);
    QCOMPARE(trafficLines(c.window).size(), linesBefore);

    c.sendMarker();
    QVERIFY(c.pty.waitForReceived(1, 5000));
    QCOMPARE(c.pty.received().toHex(' '), QByteArray("5a"));
}

void tst_Console::formatErrorComesBeforeThePortQuestion()
{
    Console c;
    widget<QComboBox>(c.window, "comboBoxPort")->setEditText(c.pty.slavePath());
    c.line(1)->setText(QStringLiteral("01 XY 03"));

    ModalAnswerer answerer(QMessageBox::Ok);
    MainWindowProbe::sendData(c.window, 1);

    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes.first().text, QStringLiteral("输入的数据格式有错误！"));
    QVERIFY(!portIsOpen(c.window));
}

void tst_Console::emptyLineIsReported_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("message");
    // Device operations address line 1 as line 0.
    QTest::newRow("line 0") << 0 << "消息0内容为空！";
    for (int n = 1; n <= 5; ++n)
        QTest::addRow("line %d", n) << n << QStringLiteral("消息%1内容为空！").arg(n);
}

void tst_Console::emptyLineIsReported()
{
    QFETCH(int, n);
    QFETCH(QString, message);

    Console c;
    QVERIFY(c.open());
    const int linesBefore = trafficLines(c.window).size();

    MainWindowProbe::sendData(c.window, n);

    QCOMPARE(statusText(c.window), message);
    QCOMPARE(c.sendCount(), 0);
    QCOMPARE(trafficLines(c.window).size(), linesBefore);
}

void tst_Console::closedPortAsksToOpen_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("openAfterwards");
    QTest::newRow("OK opens the port") << int(QMessageBox::Ok) << true;
    QTest::newRow("Cancel leaves it closed") << int(QMessageBox::Cancel) << false;
}

void tst_Console::closedPortAsksToOpen()
{
    QFETCH(int, answer);
    QFETCH(bool, openAfterwards);

    Console c;
    const QString path = c.pty.slavePath();
    widget<QComboBox>(c.window, "comboBoxPort")->setEditText(path);
    const int linesBefore = trafficLines(c.window).size();
    c.line(1)->setText(QStringLiteral("01 03"));

    {
        ModalAnswerer answerer{QMessageBox::StandardButton(answer)};
        MainWindowProbe::sendData(c.window, 1);
        QCOMPARE(answerer.boxes.size(), 1);
        QCOMPARE(answerer.boxes.first().title, QStringLiteral("提示"));
        QCOMPARE(answerer.boxes.first().text, kPortQuestion.arg(path, path));
    }

    // Either way this send is over: the engineer sends again.
    QCOMPARE(portIsOpen(c.window), openAfterwards);
    QCOMPARE(c.sendCount(), 0);
    QCOMPARE(trafficLines(c.window).size(), linesBefore);
    if (openAfterwards) {
        c.sendMarker();
        QVERIFY(c.pty.waitForReceived(1, 5000));
        QCOMPARE(c.pty.received().toHex(' '), QByteArray("5a"));
    }
}

void tst_Console::sendLogsARedLine()
{
    Console c;
    QVERIFY(c.open());
    MainWindowProbe::setClock(c.window, QDateTime(QDate(2024, 11, 7), QTime(9, 29, 33, 45)));
    c.line(1)->setText(QStringLiteral("55 06 08 02 00 00 27 BE "));

    MainWindowProbe::sendData(c.window, 0);

    QCOMPARE(c.lastTrafficLine().trimmed(),
             QStringLiteral("[2024-11-07 09:29:33.045][发送]: 55 06 08 02 00 00 27 BE"));
    auto *traffic = widget<QPlainTextEdit>(c.window, "textBrowser");
    QVERIFY(traffic->document()->toHtml().contains(
        QStringLiteral("color:#ff0000;\">[2024-11-07 09:29:33.045]")));
    QCOMPARE(traffic->currentCharFormat().foreground().color(), QColor(Qt::red));
}

void tst_Console::receptionJoinsChunksInOrder()
{
    Console c;
    QVERIFY(c.open());
    MainWindowProbe::resetReceive(c.window);

    QVERIFY(c.pty.writeMaster(hex("55 03 02")));
    QTRY_COMPARE(c.recvCount(), 3);
    QCOMPARE(statusText(c.window), QStringLiteral("成功读取3字节数据"));
    QVERIFY(c.pty.writeMaster(hex("00 01")));
    QTRY_COMPARE(c.recvCount(), 5);
    QCOMPARE(statusText(c.window), QStringLiteral("成功读取2字节数据"));

    QCOMPARE(MainWindowProbe::recvBytes(c.window).toHex(' '), QByteArray("55 03 02 00 01"));
    QCOMPARE(MainWindowProbe::recvFlag(c.window), 1);
    QCOMPARE(c.shownRecvCount(), 5);
}

// With 去除回显 ticked, what comes back of a send line is shown as its echo
// and kept out of the receive buffer; what follows is received as ever.
void tst_Console::echoOfASendIsTakenOff_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces"); // what the far end sends, piece by piece
    QTest::addColumn<QString>("echoLine");
    QTest::addColumn<QByteArray>("received");

    const QByteArray request = hex("01 03 00 00 00 01 84 0A");
    QTest::newRow("the echo, then AA BB") << QList<QByteArray>{request + hex("AA BB")}
                                          << "01 03 00 00 00 01 84 0a （回显）" << hex("AA BB");
    QTest::newRow("the echo in two pieces, AA BB with the second")
        << QList<QByteArray>{request.left(3), request.mid(3) + hex("AA BB")}
        << "01 03 00 00 00 01 84 0a （回显）" << hex("AA BB");
    QTest::newRow("an echo that differs is shown as such")
        << QList<QByteArray>{hex("01 03 00 00 00 01 84 F5 AA BB")}
        << "01 03 00 00 00 01 84 f5 （回显不符）" << hex("AA BB");
}

void tst_Console::echoOfASendIsTakenOff()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QString, echoLine);
    QFETCH(QByteArray, received);

    Console c;
    QVERIFY(c.open());
    c.checkBox(QStringLiteral("checkBoxEcho"))->setChecked(true);
    MainWindowProbe::resetReceive(c.window);
    c.line(1)->setText(QStringLiteral("01 03 00 00 00 01 84 0A"));
    c.button("pushButtonSend1")->click();
    QVERIFY(c.pty.waitForReceived(8, 2000));

    int count = 0;
    for (const QByteArray &piece : pieces) {
        QVERIFY(c.pty.writeMaster(piece));
        count += piece.size();
        QTRY_COMPARE(c.recvCount(), count);
    }

    QCOMPARE(MainWindowProbe::recvBytes(c.window).toHex(' '), received.toHex(' '));
    QVERIFY2(c.lastTrafficLine().trimmed().endsWith(QStringLiteral("][接收]: ") + echoLine),
             qPrintable(c.lastTrafficLine()));
    QCOMPARE(c.shownRecvCount(), count); // every byte on the line counts
}

void tst_Console::receptionKeeps256BytesAndCountsAll()
{
    Console c;
    QVERIFY(c.open());
    QVERIFY(c.pty.writeMaster(QByteArray(10, 'x')));
    QTRY_COMPARE(c.recvCount(), 10);
    MainWindowProbe::resetReceive(c.window);

    QByteArray first(256, '\0');
    for (int i = 0; i < first.size(); ++i)
        first[i] = char(i);
    QVERIFY(c.pty.writeMaster(first));
    QTRY_COMPARE(c.recvCount(), 10 + 256);
    QVERIFY(c.pty.writeMaster(QByteArray(44, '\x7f')));
    QTRY_COMPARE(c.recvCount(), 10 + 300);

    QCOMPARE(MainWindowProbe::recvLen(c.window), 256);
    QCOMPARE(MainWindowProbe::recvBytes(c.window), first);
    QCOMPARE(c.shownRecvCount(), 310);
    QCOMPARE(statusText(c.window), QStringLiteral("成功读取44字节数据"));
}

void tst_Console::counterButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("sendAfter");
    QTest::addColumn<int>("recvAfter");
    // Counts before the click: 2 sent, 3 received.
    QTest::newRow("beside the send display: send count only")
        << "pushButtonClearCounterSend" << 0 << 3;
    QTest::newRow("beside the receive display: both") << "pushButtonClearCounterRecieve" << 0 << 0;
}

void tst_Console::counterButtons()
{
    QFETCH(QString, button);
    QFETCH(int, sendAfter);
    QFETCH(int, recvAfter);

    Console c;
    QVERIFY(c.open());
    c.line(1)->setText(QStringLiteral("01 02"));
    MainWindowProbe::sendData(c.window, 1);
    QVERIFY(c.pty.writeMaster(hex("0A 0B 0C")));
    QTRY_COMPARE(c.recvCount(), 3);
    QCOMPARE(c.sendCount(), 2);

    c.window.findChild<QPushButton *>(button)->click();

    QCOMPARE(c.sendCount(), sendAfter);
    QCOMPARE(c.shownSendCount(), sendAfter);
    QCOMPARE(c.recvCount(), recvAfter);
    QCOMPARE(c.shownRecvCount(), recvAfter);
}

void tst_Console::sendButtonSendsItsLineOnce_data()
{
    QTest::addColumn<int>("n");
    for (int n = 1; n <= 5; ++n)
        QTest::addRow("pushButtonSend%d", n) << n;
}

void tst_Console::sendButtonSendsItsLineOnce()
{
    QFETCH(int, n);

    Console c;
    QVERIFY(c.open());
    for (int i = 1; i <= 5; ++i)
        c.line(i)->setText(QStringLiteral("%1%1").arg(i)); // line 3 holds 33

    c.window.findChild<QPushButton *>(QStringLiteral("pushButtonSend%1").arg(n))->click();

    // The click has handed its bytes to the port by the time it returns.
    QCOMPARE(c.sendCount(), 1);
    QCOMPARE(trafficLines(c.window).filter(QStringLiteral("][发送]: ")).size(), 1);
    QVERIFY(c.pty.waitForReceived(1, 5000));
    QCOMPARE(c.pty.received(), QByteArray(1, char(n * 0x11)));
}

void tst_Console::cyclicSendingWalksTheEnabledLines_data()
{
    QTest::addColumn<QList<int>>("enabled");
    QTest::addColumn<QByteArray>("cycle");
    QTest::newRow("only line 3") << QList<int>{3} << hex("33");
    QTest::newRow("lines 2 and 4 alternate") << QList<int>{2, 4} << hex("22 44");
    QTest::newRow("lines 1 and 5 wrap around") << QList<int>{1, 5} << hex("11 55");
}

void tst_Console::cyclicSendingWalksTheEnabledLines()
{
    QFETCH(QList<int>, enabled);
    QFETCH(QByteArray, cycle);

    Console c;
    QVERIFY(c.open());
    for (int i = 1; i <= 5; ++i)
        c.line(i)->setText(QStringLiteral("%1%1").arg(i));
    for (int i : enabled)
        c.checkBox(QStringLiteral("checkBoxSendEnable%1").arg(i))->setChecked(true);
    widget<QSpinBox>(c.window, "spinBoxInterval")->setValue(5);
    auto *poll = widget<QCheckBox>(c.window, "checkBoxPoll");

    poll->click();
    QVERIFY(poll->isChecked());
    QCOMPARE(statusText(c.window), QStringLiteral("启用循环发送"));
    QVERIFY(c.pty.waitForReceived(3 * cycle.size(), 5000));
    poll->click();
    QCOMPARE(statusText(c.window), QStringLiteral("取消循环发送"));

    const QByteArray sent = c.pty.received();
    for (int i = 0; i < sent.size(); ++i)
        QCOMPARE(sent.at(i), cycle.at(i % cycle.size()));
}

void tst_Console::cyclicSendingWithNoLineEnabledSendsNothing()
{
    Console c;
    QVERIFY(c.open());
    for (int i = 1; i <= 5; ++i)
        c.line(i)->setText(QStringLiteral("%1%1").arg(i));
    widget<QSpinBox>(c.window, "spinBoxInterval")->setValue(1);
    auto *poll = widget<QCheckBox>(c.window, "checkBoxPoll");

    poll->click();
    QTest::qWait(100); // a hundred ticks or so
    poll->click();

    c.sendMarker();
    QVERIFY(c.pty.waitForReceived(1, 5000));
    QCOMPARE(c.pty.received().toHex(' '), QByteArray("5a"));
    QCOMPARE(c.sendCount(), 1);
}

void tst_Console::cyclicSendingOnAClosedPortAsksAndStaysOff_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("openAfterwards");
    QTest::newRow("OK opens the port, box cleared") << int(QMessageBox::Ok) << true;
    QTest::newRow("Cancel, box cleared") << int(QMessageBox::Cancel) << false;
}

void tst_Console::cyclicSendingOnAClosedPortAsksAndStaysOff()
{
    QFETCH(int, answer);
    QFETCH(bool, openAfterwards);

    Console c;
    const QString path = c.pty.slavePath();
    widget<QComboBox>(c.window, "comboBoxPort")->setEditText(path);
    c.line(3)->setText(QStringLiteral("33"));
    c.checkBox(QStringLiteral("checkBoxSendEnable3"))->setChecked(true);
    widget<QSpinBox>(c.window, "spinBoxInterval")->setValue(1);
    auto *poll = widget<QCheckBox>(c.window, "checkBoxPoll");

    {
        ModalAnswerer answerer{QMessageBox::StandardButton(answer)};
        poll->click();
        QCOMPARE(answerer.boxes.size(), 1);
        QCOMPARE(answerer.boxes.first().title, QStringLiteral("提示"));
        QCOMPARE(answerer.boxes.first().text, kPortQuestion.arg(path, path));
    }
    QVERIFY(!poll->isChecked());
    QCOMPARE(portIsOpen(c.window), openAfterwards);
    QVERIFY(statusText(c.window) != QStringLiteral("启用循环发送"));

    if (openAfterwards) {
        // Had the timer started, line 3 would be on the wire before the marker.
        QTest::qWait(50);
        c.sendMarker();
        QVERIFY(c.pty.waitForReceived(1, 5000));
        QCOMPARE(c.pty.received().toHex(' '), QByteArray("5a"));
    }
}

void tst_Console::cyclicSendingHoldsBackDuringADeviceOperation()
{
    Console c;
    QVERIFY(c.open());
    c.line(3)->setText(QStringLiteral("33"));
    c.checkBox(QStringLiteral("checkBoxSendEnable3"))->setChecked(true);
    widget<QSpinBox>(c.window, "spinBoxInterval")->setValue(5);
    auto *poll = widget<QCheckBox>(c.window, "checkBoxPoll");
    poll->click();
    QVERIFY(c.pty.waitForReceived(1, 5000));

    // Closing the breaker of module 0 sends one request that no one answers:
    // a second of waiting in which the timer keeps ticking. Whatever arrives
    // after the request while the operation runs is a tick that got through.
    const QByteArray request = hex("55 06 08 02 00 00 27 BE");
    bool requestSeen = false;
    QByteArray afterRequest;
    QObject::connect(&c.pty, &PtyPair::bytesArrived, [&] {
        const QByteArray sent = c.pty.received();
        const int at = sent.indexOf(request);
        if (at < 0 || !MainWindowProbe::busy(c.window))
            return;
        requestSeen = true;
        afterRequest = sent.mid(at + request.size());
    });
    widget<QPushButton>(c.window, "pushButton_4")->click();
    poll->click();

    QVERIFY(requestSeen);
    QCOMPARE(afterRequest.toHex(' '), QByteArray());
}

void tst_Console::clearingTheSendLines()
{
    Console c;
    for (int i = 1; i <= 5; ++i)
        c.line(i)->setText(QStringLiteral("%1%1").arg(i));
    c.button("pushButtonClearDataSend")->click();
    for (int i = 1; i <= 5; ++i)
        QVERIFY(c.line(i)->text().isEmpty());
}

void tst_Console::hangUpClosesThePortOnce()
{
    qRegisterMetaType<QSerialPort::SerialPortError>();
    Console c;
    QVERIFY(c.open());
    QSerialPort *port = windowPort(c.window);
    QSignalSpy errors(port, &QSerialPort::errorOccurred);

    c.pty.closeMaster();

    QTRY_VERIFY(!portIsOpen(c.window));
    QVERIFY(widget<QAction>(c.window, "actionConnect")->isEnabled());
    QVERIFY(!widget<QAction>(c.window, "actionClose")->isEnabled());
    QVERIFY(widget<QAction>(c.window, "actionRefresh")->isEnabled());
    QVERIFY2(statusText(c.window).contains(port->portName()), qPrintable(statusText(c.window)));

    // Once closed, the port stays quiet.
    const int reported = errors.count();
    QTest::qWait(100);
    QCOMPARE(errors.count(), reported);
    QVERIFY2(reported < 10, qPrintable(QString::number(reported)));
}

QTEST_MAIN(tst_Console)
#include "tst_console.moc"
