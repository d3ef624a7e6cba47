// The reply wait, the plain delay and the request exchange, on a
// pseudo-terminal whose far end answers on a schedule.
//
// Nothing here measures time: each wait is shown to have ended for its reason
// by which scheduled bytes it has gathered when it returns.

#include "serial/wait.h"
#include "support/windowdriver.h"
#include "tools/pty.h"

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

    // The reply comes at 10 ms; a stray byte AA follows 20 ms later, well
    // inside the quiet gap. A wait that ends early has not gathered it.
    QTest::newRow("echo 55 06 08 02 00 00 27 BE ends it")
        << modbus(0x06) << hex("55 06 08 02 00 00 27 BE") << hex("55 06 08 02 00 00 27 BE");
    QTest::newRow("exception 55 86 02 82 71 ends it")
        << modbus(0x06) << hex("55 86 02 82 71") << hex("55 86 02 82 71");
    QTest::newRow("read reply 55 03 02 00 01 48 48 ends it")
        << modbus(0x03) << hex("55 03 02 00 01 48 48") << hex("55 03 02 00 01 48 48");
    QTest::newRow("bad CRC 55 06 08 02 00 00 27 BF waits for quiet")
        << modbus(0x06) << hex("55 06 08 02 00 00 27 BF") << hex("55 06 08 02 00 00 27 BF AA");
    QTest::newRow("55 06 ... while 03 is awaited waits for quiet")
        << modbus(0x03) << hex("55 06 08 02 00 00 27 BE") << hex("55 06 08 02 00 00 27 BE AA");
    ReplyKind service;
    service.protocol = ReplyKind::Service;
    QTest::newRow("service frame ends it at its carriage return")
        << service << QByteArray("~21012A500000FDA4\r") << QByteArray("~21012A500000FDA4\r");
    QTest::newRow("service frame with a bad checksum waits for quiet")
        << service << QByteArray("~21012A500000FDA5\r") << QByteArray("~21012A500000FDA5\r\xAA");
    QTest::newRow("nothing awaited: 55 06 08 02 00 00 27 BE waits for quiet")
        << ReplyKind{} << hex("55 06 08 02 00 00 27 BE") << hex("55 06 08 02 00 00 27 BE AA");
}

void tst_Wait::completeReplyEndsTheWaitEarly()
{
    QFETCH(ReplyKind, kind);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, gathered);

    Line l;
    QVERIFY(openPortOn(l.window, l.pty.slavePath()));
    MainWindowProbe::resetReceive(l.window);
    MainWindowProbe::setExpected(l.window, kind);
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

void tst_Wait::exchangeSendsTheFrameAndLogsTheReply_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("receiveLog");

    // Closing module 1's breaker: 55 06 18 02 00 00 23 7E, answered by its echo.
    QTest::newRow("echo accepted") << hex("55 06 18 02 00 00 23 7E") << int(ReplyVerdict::Answer)
                                   << "[接收]: 55 06 18 02 00 00 23 7e";
    QTest::newRow("exception 02 logged and judged")
        << hex("55 86 02 82 71") << int(ReplyVerdict::Exception) << "[接收]: 55 86 02 82 71";
    QTest::newRow("bytes that are no reply are logged too")
        << hex("AB CD EF") << int(ReplyVerdict::Invalid) << "[接收]: ab cd ef";
    QTest::newRow("no answer, no receive line")
        << QByteArray() << int(ReplyVerdict::NoReply) << QString();
}

void tst_Wait::exchangeSendsTheFrameAndLogsTheReply()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, outcome);
    QFETCH(QString, receiveLog);

    Line l;
    QVERIFY(openPortOn(l.window, l.pty.slavePath()));
    MainWindowProbe::setClock(l.window, QDateTime(QDate(2024, 11, 7), QTime(9, 29, 33, 45)));
    const QByteArray frame = hex("55 06 18 02 00 00 23 7E");
    QObject::connect(&l.pty, &PtyPair::bytesArrived, [&] {
        if (l.pty.received().size() == frame.size() && !answer.isEmpty())
            l.pty.writeMaster(answer);
    });
    const int linesBefore = trafficLines(l.window).size();

    const ReplyVerdict verdict = MainWindowProbe::exchange(l.window, frame, modbus(0x06));

    QCOMPARE(l.pty.received().toHex(' '), frame.toHex(' '));
    QCOMPARE(widget<QLineEdit>(l.window, "lineEditSend1")->text(),
             QStringLiteral("55 06 18 02 00 00 23 7E "));
    QCOMPARE(MainWindowProbe::sendCount(l.window), 8);
    QCOMPARE(int(verdict.outcome), outcome);
    if (verdict.outcome == ReplyVerdict::Exception)
        QCOMPARE(int(verdict.exceptionCode), 2);

    QStringList expected{
        QStringLiteral("[2024-11-07 09:29:33.045][发送]: 55 06 18 02 00 00 23 7E")};
    if (!receiveLog.isEmpty())
        expected << QStringLiteral("[2024-11-07 09:29:33.045]") + receiveLog;
    QStringList logged = trafficLines(l.window).mid(linesBefore);
    for (QString &line : logged)
        line = line.trimmed();
    QCOMPARE(logged, expected);
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
