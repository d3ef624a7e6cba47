// The reply wait, the plain delay and the request exchange, on a
// pseudo-terminal whose far end answers on a schedule.
//
// Nothing here measures time: each wait is shown to have ended for its reason
// by which scheduled bytes it has gathered when it returns.

#include "serial/wait.h"
#include "support/unitonline.h"
#include "support/windowdriver.h"
#include "tools/pty.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>

Q_DECLARE_METATYPE(ReplyKind)

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

ReplyKind modbus(quint8 function)
{
    ReplyKind kind;
    kind.protocol = ReplyKind::Modbus;
    kind.address = 0x55;
    kind.function = function;
    return kind;
}

// The window is declared last so it is destroyed first: its port closes
// before the pseudo-terminal goes away.
struct Line
{
    PtyPair pty;
    MainWindow window;

    // Writes bytes from the far end atMs after now, while the window waits.
    void answerAt(int atMs, const QByteArray &bytes)
    {
        QTimer::singleShot(atMs, Qt::PreciseTimer, &pty, [this, bytes] { pty.writeMaster(bytes); });
    }
    QByteArray gathered() const { return MainWindowProbe::recvBytes(window); }
};

} // namespace

class tst_Wait : public QObject
{
    Q_OBJECT

private slots:
    void waitOutlivesPiecesThirtyMillisecondsApart();
    void waitEndsAtTheTimeOutWithoutReply();
    void chunkSeenAtOnceDoesNotStartTheQuietRule();
    void completeReplyEndsTheWaitEarly_data();
    void completeReplyEndsTheWaitEarly();
    void delayLetsEventsRun();

    void exchangeSendsTheFrameAndLogsTheReply_data();
    void exchangeSendsTheFrameAndLogsTheReply();
    void exchangeIgnoresBytesLeftFromBefore();
    void responseTimeBesideTheReceiveLine_data();
    void responseTimeBesideTheReceiveLine();
    void operationReportsWhyItFailed_data();
    void operationReportsWhyItFailed();
    void secondOperationDuringAWaitIsRefused();
};

void tst_Wait::waitOutlivesPiecesThirtyMillisecondsApart()
{
    Line l;
    QVERIFY(openPortOn(l.window, l.pty.slavePath()));
    MainWindowProbe::resetReceive(l.window);
    l.answerAt(30, hex("55 03"));
    l.answerAt(60, hex("02 00"));
    l.answerAt(90, hex("01 48"));
    l.answerAt(120, hex("48"));
    // Long after the reply went quiet, yet before the time-out.
    l.answerAt(400, hex("ee"));

    MainWindowProbe::waitForReply(l.window, 1000);

    QCOMPARE(l.gathered().toHex(' '), QByteArray("55 03 02 00 01 48 48"));
    // What comes after the wait still lands in the buffer.
    QTRY_COMPARE(l.gathered().toHex(' '), QByteArray("55 03 02 00 01 48 48 ee"));
}

void tst_Wait::waitEndsAtTheTimeOutWithoutReply()
{
    Line l;
    QVERIFY(openPortOn(l.window, l.pty.slavePath()));
    MainWindowProbe::resetReceive(l.window);
    bool servedDuringWait = false;
    QTimer::singleShot(100, [&] { servedDuringWait = true; });

    MainWindowProbe::waitForReply(l.window, 300);

    QVERIFY(servedDuringWait);
    QCOMPARE(MainWindowProbe::recvLen(l.window), 0);
}

void tst_Wait::chunkSeenAtOnceDoesNotStartTheQuietRule()
{
    Line l;
    QVERIFY(openPortOn(l.window, l.pty.slavePath()));
    MainWindowProbe::resetReceive(l.window);
    QVERIFY(l.pty.writeMaster(hex("aa")));
    QTRY_COMPARE(MainWindowProbe::recvFlag(l.window), 1);
    // Only the time-out can end this wait: the chunk was there before it began.
    l.answerAt(150, hex("bb"));

    MainWindowProbe::waitForReply(l.window, 300);

    QCOMPARE(l.gathered().toHex(' '), QByteArray("aa bb"));
}

void tst_Wait::completeReplyEndsTheWaitEarly_data()
{
    QTest::addColumn<ReplyKind>("kind");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("gathered");
    QTest::addColumn<QByteArray>("echo"); // the request a line that echoes hands back first

    // The reply comes at 10 ms; a stray byte AA follows 20 ms later, well
    // inside the quiet gap. A wait that ends early has not gathered it.
    QTest::newRow("echo 55 06 08 02 00 00 27 BE ends it")
        << modbus(0x06) << hex("55 06 08 02 00 00 27 BE") << hex("55 06 08 02 00 00 27 BE")
        << QByteArray();
    QTest::newRow("exception 55 86 02 82 71 ends it")
        << modbus(0x06) << hex("55 86 02 82 71") << hex("55 86 02 82 71") << QByteArray();
    QTest::newRow("read reply 55 03 02 00 01 48 48 ends it")
        << modbus(0x03) << hex("55 03 02 00 01 48 48") << hex("55 03 02 00 01 48 48")
        << QByteArray();
    QTest::newRow("bad CRC 55 06 08 02 00 00 27 BF waits for quiet")
        << modbus(0x06) << hex("55 06 08 02 00 00 27 BF") << hex("55 06 08 02 00 00 27 BF AA")
        << QByteArray();
    QTest::newRow("55 06 ... while 03 is awaited waits for quiet")
        << modbus(0x03) << hex("55 06 08 02 00 00 27 BE") << hex("55 06 08 02 00 00 27 BE AA")
        << QByteArray();
    ReplyKind service;
    service.protocol = ReplyKind::Service;
    QTest::newRow("service frame ends it at its carriage return")
        << service << QByteArray("~21012A500000FDA4\r") << QByteArray("~21012A500000FDA4\r")
        << QByteArray();
    QTest::newRow("service frame with a bad checksum waits for quiet")
        << service << QByteArray("~21012A500000FDA5\r") << QByteArray("~21012A500000FDA5\r\xAA")
        << QByteArray();
    QTest::newRow("nothing awaited: 55 06 08 02 00 00 27 BE waits for quiet")
        << ReplyKind{} << hex("55 06 08 02 00 00 27 BE") << hex("55 06 08 02 00 00 27 BE AA")
        << QByteArray();

    // On a line that echoes, the reply is complete only after the whole echo.
    const QByteArray read = hex("55 03 07 04 00 01 C9 6B");
    const QByteArray close = hex("55 06 08 02 00 00 27 BE");
    const QByteArray answer = hex("55 03 02 00 01 48 48");
    QTest::newRow("echo, then the read reply, ends it")
        << modbus(0x03) << read + answer << read + answer << read;
    QTest::newRow("the echo of a read alone waits for quiet")
        << modbus(0x03) << read << read + hex("AA") << read;
    // The unit answers a write with the very bytes of the echo.
    QTest::newRow("the echo of a write alone is not its reply: waits for quiet")
        << modbus(0x06) << close << close + hex("AA") << close;
    QTest::newRow("an echo that differs waits for quiet")
        << modbus(0x03) << hex("55 03 07 04 00 01 C9 94") + answer
        << hex("55 03 07 04 00 01 C9 94") + answer + hex("AA") << read;
}

void tst_Wait::completeReplyEndsTheWaitEarly()
{
    QFETCH(ReplyKind, kind);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, gathered);
    QFETCH(QByteArray, echo);

    Line l;
    QVERIFY(openPortOn(l.window, l.pty.slavePath()));
    MainWindowProbe::resetReceive(l.window);
    MainWindowProbe::setExpected(l.window, kind, echo);
    l.answerAt(10, reply);
    l.answerAt(30, hex("AA"));

    MainWindowProbe::waitForReply(l.window, 1000);
    MainWindowProbe::setExpected(l.window, ReplyKind{});

    QCOMPARE(l.gathered().toHex(' '), gathered.toHex(' '));
}

void tst_Wait::delayLetsEventsRun()
{
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    DelayMs(0);
    QVERIFY(!ran);
    DelayMs(-5);
    QVERIFY(!ran);
    DelayMs(20);
    QVERIFY(ran);
}

// The line statistics' counters after one exchange: requests, good replies,
// no answer, exception replies, checksum or format errors, echo faults.
using Counts = QVector<int>;

void tst_Wait::exchangeSendsTheFrameAndLogsTheReply_data()
{
    QTest::addColumn<bool>("removeEcho");   // 去除回显 ticked
    QTest::addColumn<QByteArray>("answer"); // all the far end sends back
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("reason"); // as the result window says it
    QTest::addColumn<QStringList>("receiveLog");
    QTest::addColumn<QByteArray>("reply"); // what the operation is handed
    QTest::addColumn<Counts>("counts");

    // Closing module 1's breaker: 55 06 18 02 00 00 23 7E, answered by its copy.
    const QByteArray close = hex("55 06 18 02 00 00 23 7E");
    const QString closeLine = QStringLiteral("[接收]: 55 06 18 02 00 00 23 7e");
    const QString echoLine = closeLine + QStringLiteral(" （回显）");
    // clang-format off
    QTest::newRow("copy accepted")
        << false << close << int(ReplyVerdict::Answer) << QString()
        << QStringList{closeLine} << close << Counts{1, 1, 0, 0, 0, 0};
    QTest::newRow("exception 02 logged and judged")
        << false << hex("55 86 02 82 71") << int(ReplyVerdict::Exception) << "异常应答 02 非法数据地址"
        << QStringList{"[接收]: 55 86 02 82 71"} << hex("55 86 02 82 71") << Counts{1, 0, 0, 1, 0, 0};
    QTest::newRow("bytes that are no reply are logged too")
        << false << hex("AB CD EF") << int(ReplyVerdict::Invalid) << "应答校验错误"
        << QStringList{"[接收]: ab cd ef"} << hex("AB CD EF") << Counts{1, 0, 0, 0, 1, 0};
    QTest::newRow("no answer, no receive line")
        << false << QByteArray() << int(ReplyVerdict::NoReply) << "没有应答!!"
        << QStringList() << QByteArray() << Counts{1, 0, 1, 0, 0, 0};

    // 去除回显 ticked: the line hands the request back before the unit answers.
    QTest::newRow("echo removed, then the unit's copy accepted")
        << true << close + close << int(ReplyVerdict::Answer) << QString()
        << QStringList{echoLine, closeLine} << close << Counts{1, 1, 0, 0, 0, 0};
    QTest::newRow("the echo alone: the unit is silent")
        << true << close << int(ReplyVerdict::NoReply) << "没有应答!!"
        << QStringList{echoLine} << QByteArray() << Counts{1, 0, 1, 0, 0, 0};
    QTest::newRow("an echo that differs is a line fault, whatever follows")
        << true << hex("55 06 18 02 00 00 23 81") + close << int(ReplyVerdict::Invalid) << "回显不符"
        << QStringList{"[接收]: 55 06 18 02 00 00 23 81 （回显不符）", closeLine}
        << QByteArray() << Counts{1, 0, 0, 0, 0, 1};
    // clang-format on
}

void tst_Wait::exchangeSendsTheFrameAndLogsTheReply()
{
    QFETCH(bool, removeEcho);
    QFETCH(QByteArray, answer);
    QFETCH(int, outcome);
    QFETCH(QString, reason);
    QFETCH(QStringList, receiveLog);
    QFETCH(QByteArray, reply);
    QFETCH(Counts, counts);

    Line l;
    QVERIFY(openPortOn(l.window, l.pty.slavePath()));
    widget<QCheckBox>(l.window, "checkBoxEcho")->setChecked(removeEcho);
    MainWindowProbe::setClock(l.window, QDateTime(QDate(2024, 11, 7), QTime(9, 29, 33, 45)));
    const QByteArray frame = hex("55 06 18 02 00 00 23 7E");
    QObject::connect(&l.pty, &PtyPair::bytesArrived, [&] {
        if (l.pty.received().size() == frame.size() && !answer.isEmpty())
            l.pty.writeMaster(answer);
    });
    const int linesBefore = trafficLines(l.window).size();

    const Exchange done = MainWindowProbe::linkExchange(l.window, frame, modbus(0x06));
    const ReplyVerdict &verdict = done.verdict;

    QCOMPARE(l.pty.received().toHex(' '), frame.toHex(' '));
    QCOMPARE(widget<QLineEdit>(l.window, "lineEditSend1")->text(),
             QStringLiteral("55 06 18 02 00 00 23 7E "));
    QCOMPARE(MainWindowProbe::sendCount(l.window), 8);
    QCOMPARE(int(verdict.outcome), outcome);
    QCOMPARE(failureReason(verdict), reason);
    QCOMPARE(done.reply.toHex(' '), reply.toHex(' '));

    QStringList expected{
        QStringLiteral("[2024-11-07 09:29:33.045][发送]: 55 06 18 02 00 00 23 7E")};
    for (const QString &line : receiveLog)
        expected << QStringLiteral("[2024-11-07 09:29:33.045]") + line;
    QStringList logged = trafficLines(l.window).mid(linesBefore);
    for (QString &line : logged)
        line = line.trimmed();
    QCOMPARE(logged, expected);

    const LineStats stats = MainWindowProbe::lineStats(l.window);
    QCOMPARE(Counts({stats.requests, stats.answers, stats.noReply, stats.exceptions, stats.invalid,
                     stats.echoFaults}),
             counts);
    // Only a complete reply, good or exception, has a response time.
    QCOMPARE(stats.timed, stats.answers + stats.exceptions);
    QTRY_COMPARE(widget<QLabel>(l.window, "label_lineStats")->text(), stats.label());
}

// The response time runs from the moment the request's last byte has left the
// line to the arrival of the reply's last byte: it holds the unit's turnaround
// and the reply's own time on the wire, never the request's. It goes beside
// the reply's receive line in the session record; the traffic window's line
// stays as it is.
void tst_Wait::responseTimeBesideTheReceiveLine_data()
{
    QTest::addColumn<bool>("echo");
    QTest::newRow("a line without echo") << false;
    QTest::newRow("a line that echoes, 去除回显 ticked") << true;
}

void tst_Wait::responseTimeBesideTheReceiveLine()
{
    QFETCH(bool, echo);
    constexpr qint64 kTurnaroundNs = 30 * 1000000;
    UnitOnLine unit;
    unit.line.setBaudRate(115200);
    unit.line.setTurnaroundMs(int(kTurnaroundNs / 1000000));
    unit.line.faults.echo = echo;
    MainWindow w; // destroyed first: its port closes before the line goes
    widget<QComboBox>(w, "comboBoxBaud")->setCurrentText(QStringLiteral("115200"));
    widget<QCheckBox>(w, "checkBoxEcho")->setChecked(echo);
    QVERIFY(openPortOn(w, unit.line.portPath()));

    const ReplyVerdict verdict
        = MainWindowProbe::exchange(w, hex("55 03 07 04 00 01 C9 6B"), modbus(0x03));

    QVERIFY(verdict.ok());
    const LineStats stats = MainWindowProbe::lineStats(w);
    QCOMPARE(stats.timed, 1);
    // The reply cannot be complete before the unit has turned round: a time
    // taken from the write itself, or from the reply's first byte, would be less.
    QVERIFY2(stats.minResponseNs >= kTurnaroundNs,
             qPrintable(QString::number(stats.minResponseNs)));
    QCOMPARE(stats.maxResponseNs, stats.minResponseNs);

    MainWindowProbe::flushLogs(w);
    const QString reply = QStringLiteral("][接收]: 55 03 02 00 00 89 88");
    QVERIFY2(trafficLines(w).last().trimmed().endsWith(reply), qPrintable(trafficLines(w).last()));
    QFile file(MainWindowProbe::sessionFile(w));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList record = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    const QStringList received = record.filter(QStringLiteral("][接收]: "));
    QCOMPARE(received.size(), echo ? 2 : 1);
    QVERIFY2(received.last().endsWith(reply + QStringLiteral(" \t响应 ")
                                      + responseTimeText(stats.minResponseNs)),
             qPrintable(received.last()));
    if (echo)
        QVERIFY2(received.first().endsWith(QStringLiteral("c9 6b （回显）")),
                 qPrintable(received.first()));
}

void tst_Wait::exchangeIgnoresBytesLeftFromBefore()
{
    Line l;
    QVERIFY(openPortOn(l.window, l.pty.slavePath()));
    QVERIFY(l.pty.writeMaster(hex("01 02")));
    QTRY_COMPARE(MainWindowProbe::recvLen(l.window), 2);
    const QByteArray frame = hex("55 06 08 02 00 00 27 BE");
    QObject::connect(&l.pty, &PtyPair::bytesArrived, [&] {
        if (l.pty.received().size() == frame.size())
            l.pty.writeMaster(frame);
    });

    const ReplyVerdict verdict = MainWindowProbe::exchange(l.window, frame, modbus(0x06));

    QVERIFY(verdict.ok());
    QCOMPARE(l.gathered().toHex(' '), frame.toHex(' '));
    QVERIFY(trafficLines(l.window).last().startsWith(QStringLiteral("[")));
    QVERIFY(
        trafficLines(l.window).last().contains(QStringLiteral("][接收]: 55 06 08 02 00 00 27 be")));
}

// Closing the breaker of module 0 (55 06 08 02 00 00 27 BE) as the result
// window reports it for each kind of answer.
void tst_Wait::operationReportsWhyItFailed_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("result");

    QTest::newRow("echo") << hex("55 06 08 02 00 00 27 BE") << "模块[0]合闸成功";
    QTest::newRow("silence") << QByteArray() << "模块[0]合闸:没有应答!!";
    QTest::newRow("echo with a bad CRC")
        << hex("55 06 08 02 00 00 27 BF") << "模块[0]合闸:应答校验错误";
    QTest::newRow("exception 02") << hex("55 86 02 82 71")
                                  << "模块[0]合闸:异常应答 02 非法数据地址";
}

void tst_Wait::operationReportsWhyItFailed()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, result);

    Line l;
    QVERIFY(openPortOn(l.window, l.pty.slavePath()));
    QObject::connect(&l.pty, &PtyPair::bytesArrived, [&] {
        if (l.pty.received().size() == 8 && !answer.isEmpty())
            l.pty.writeMaster(answer);
    });

    widget<QPushButton>(l.window, "pushButton_4")->click();

    QCOMPARE(resultLines(l.window), QStringList{result});
}

void tst_Wait::secondOperationDuringAWaitIsRefused()
{
    Line l;
    QVERIFY(openPortOn(l.window, l.pty.slavePath()));
    QString statusDuringWait;
    // The opening click comes while the closing one still waits for its reply.
    QTimer::singleShot(100, [&] {
        widget<QPushButton>(l.window, "pushButton_5")->click();
        statusDuringWait = statusText(l.window);
    });

    widget<QPushButton>(l.window, "pushButton_4")->click();

    QCOMPARE(statusDuringWait, QStringLiteral("正在执行设备操作，请稍候…"));
    QCOMPARE(l.pty.received().toHex(' '), QByteArray("55 06 08 02 00 00 27 be"));
    QCOMPARE(resultLines(l.window), QStringList{QStringLiteral("模块[0]合闸:没有应答!!")});
    QVERIFY(!MainWindowProbe::busy(l.window));
}

QTEST_MAIN(tst_Wait)
#include "tst_wait.moc"
