// Faults on the line and in the unit, end to end: the window drives the
// simulated unit with its fault switches on, and each case checks what the
// engineer sees (result lines, traffic lines, status bar), what went on the
// wire, and what the unit did. Whatever the fault, nothing may be reported as
// a success that was not one, and nothing may be written that was not asked for.

#include "support/testdata.h"
#include "support/unitonline.h"
#include "support/windowdriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <cstdio>
#include <ctime>
#include <signal.h>

namespace {

// Three operations, one of each kind of exchange: a write single, a read
// decoded by type, a service packet.
enum class Op { Close, ReadClock, ReadMac };

enum class Fault {
    Silence,
    Pieces,  // param: gap in ms; 3 pieces under 40 ms, 2 pieces over
    Garbage, // three bytes before the reply
    CorruptCrc,
    Exception,  // param: the code
    ReturnCode, // param: the service reply's return code
    Chatter,   // another station every 10 ms, the unit turning round in 30 ms; param 1: unit silent
    LongReply, // 300 bytes after the reply
    WrongEcho, // a write done, its echo naming the next register
    // A two-wire RS-485 adapter that hands every request back. param 1: 去除回显
    // ticked; param 0: left unticked; param 2: ticked, the echo's last byte inverted.
    LineEcho
};

const char *const kBusyText = "正在执行设备操作，请稍候…";
const QString kPortLostLine = QStringLiteral("串口已断开，操作中止");
const QString kCancelledLine = QStringLiteral("操作已取消");
const char *const kCloseChildArg = "--close-during-run";
constexpr int kCloseAfterMs = 1500; // module 1 of the run is waiting

qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double processorMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}
const QString kMacBanner = QStringLiteral("---------读取mac-------------");

// The requests as the description of the unit gives them.
const QString kCloseModule0 = QStringLiteral("55 06 08 02 00 00 27 BE");
const QString kReadClockModule0 = QStringLiteral("55 03 08 0F 00 04 7B BE");
const QString kReadMacPacket
    = QStringLiteral("7E 32 31 30 31 35 36 39 38 30 30 30 30 46 44 41 30 0D");

// The unit's clock and MAC for the reads: 2026-03-15 12:30:45 is the data
// 07 EA 03 0F 0C 1E 2D 00 and reads as "2026-03-15 12:30:45:00".
const QDateTime kUnitTime(QDate(2026, 3, 15), QTime(12, 30, 45));
const QByteArray kUnitMac = QByteArray::fromHex("003928901234");

const char *buttonOf(Op op)
{
    switch (op) {
    case Op::Close:
        return "pushButton_4";
    case Op::ReadClock:
        return "pushButton_2";
    case Op::ReadMac:
        return "pushButton_rdmac";
    }
    return "";
}

QString requestOf(Op op)
{
    switch (op) {
    case Op::Close:
        return kCloseModule0;
    case Op::ReadClock:
        return kReadClockModule0;
    case Op::ReadMac:
        return kReadMacPacket;
    }
    return QString();
}

QString lowerHex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

QString lowerHex(const QString &upperHex)
{
    return upperHex.toLower();
}

// The unit's sound replies to the three requests.
QString closeEcho()
{
    return lowerHex(kCloseModule0);
}

QString clockReply()
{
    return lowerHex(withCrc(QStringLiteral("55 03 08 07 EA 03 0F 0C 1E 2D 00")));
}

// The unit's corrupting switch inverts both CRC bytes.
QString withInvertedCrc(const QString &hexWithoutCrc)
{
    QByteArray frame = QByteArray::fromHex(withCrc(hexWithoutCrc).toLatin1());
    frame[frame.size() - 2] = char(~frame.at(frame.size() - 2));
    frame[frame.size() - 1] = char(~frame.at(frame.size() - 1));
    return lowerHex(frame);
}

QString macReply()
{
    return lowerHex(servicePacket(0x00, kUnitMac));
}

// What the result window says for each outcome of an operation.
QStringList successLines(Op op)
{
    switch (op) {
    case Op::Close:
        return {QStringLiteral("模块[0]合闸成功")};
    case Op::ReadClock:
        // The test sets the computer's clock to the unit's time.
        return {QStringLiteral("设备时间:2026-03-15 12:30:45:00"),
                QStringLiteral("设备时间与电脑时间一致")};
    case Op::ReadMac:
        return {kMacBanner, QStringLiteral("serial_query成功"),
                QStringLiteral("收到报文：00 39 28 90 12 34")};
    }
    return {};
}

QStringList failureLines(Op op, const QString &reason)
{
    switch (op) {
    case Op::Close:
        return {QStringLiteral("模块[0]合闸:") + reason};
    case Op::ReadClock:
        return {QStringLiteral("设备时间:") + reason};
    case Op::ReadMac:
        return {kMacBanner, QStringLiteral("serial_query成功"), reason};
    }
    return {};
}

// Did the window tell the engineer that the operation succeeded?
bool claimsSuccess(BenchRig &rig, Op op)
{
    const QStringList results = resultLines(rig.window());
    switch (op) {
    case Op::Close:
        return results.contains(QStringLiteral("模块[0]合闸成功"));
    case Op::ReadClock:
        // The field's input mask keeps its separators when it is empty.
        return widget<QLineEdit>(rig.window(), "lineEdit_datetime")
            ->text()
            .contains(QRegularExpression(QStringLiteral("\\d")));
    case Op::ReadMac:
        return !widget<QLineEdit>(rig.window(), "lineEdit_rdmac")->text().remove(':').isEmpty();
    }
    return false;
}

int unitWrites(BenchRig &rig)
{
    int writes = 0;
    for (int module : {0, 1, 2, 3, 4, 5, 10}) {
        for (int n : rig.unit().module(module).writes)
            writes += n;
    }
    return writes;
}

// Expected lines end in "…" where only their start is known (a reply cut
// by the buffer decodes into bytes no one can foretell).
void compareLines(const QStringList &actual, const QStringList &expected)
{
    QCOMPARE(actual.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        if (expected.at(i).endsWith(QChar(0x2026)))
            QVERIFY2(actual.at(i).startsWith(expected.at(i).chopped(1)), qPrintable(actual.at(i)));
        else
            QCOMPARE(actual.at(i), expected.at(i));
    }
}

QStringList linesAfter(const QStringList &lines, const QString &marker)
{
    QStringList out;
    for (const QString &line : lines) {
        const int at = line.indexOf(marker);
        if (at >= 0)
            out << line.mid(at + marker.size()).trimmed();
    }
    return out;
}

void setFault(BenchRig &rig, Fault fault, int param)
{
    LineFaults &line = rig.line().faults;
    switch (fault) {
    case Fault::Silence:
        rig.unit().silentModules.insert(0);
        break;
    case Fault::Pieces:
        // At the speed of a real line: a first piece that arrived within the
        // request's own millisecond would not start the quiet rule at all.
        rig.line().setBaudRate(9600);
        rig.line().setTurnaroundMs(5);
        line.pieces = param < 40 ? 3 : 2;
        line.pieceGapMs = param;
        break;
    case Fault::Garbage:
        line.garbageBefore = QByteArray::fromHex("FF0013"); // neither "~" nor a carriage return
        break;
    case Fault::CorruptCrc:
        rig.unit().corruptCrc = true;
        break;
    case Fault::Exception:
        rig.unit().forcedException.insert(0, quint8(param));
        break;
    case Fault::ReturnCode:
        rig.unit().serviceReturnCode = quint8(param);
        break;
    case Fault::Chatter:
        // The talker's frames queue up behind the reply while the unit turns
        // round, and follow it on the line without a pause; it goes on for
        // the rest of the wait. param 1: the module itself stays silent.
        rig.line().setTurnaroundMs(30);
        line.chatterEveryMs = 10;
        if (param == 1)
            rig.unit().silentModules.insert(0);
        break;
    case Fault::LongReply:
        line.replyExtraBytes = 300;
        break;
    case Fault::WrongEcho:
        rig.unit().echoNextRegister = true;
        break;
    case Fault::LineEcho:
        line.echo = true;
        line.corruptEcho = param == 2;
        widget<QCheckBox>(rig.window(), "checkBoxEcho")->setChecked(param != 0);
        break;
    }
}

void clearFaults(BenchRig &rig)
{
    rig.unit().silentModules.clear();
    rig.unit().forcedException.clear();
    rig.unit().corruptCrc = false;
    rig.unit().echoNextRegister = false;
    rig.unit().serviceReturnCode = 0;
    rig.line().faults = LineFaults();
    rig.line().setTurnaroundMs(0);
    rig.line().setBaudRate(0);
    widget<QCheckBox>(rig.window(), "checkBoxEcho")->setChecked(false);
}

// The line handed back the request (lower-case hexadecimal, as the receive
// lines show bytes), its last byte inverted when corrupted.
QString echoOf(const QString &request, bool corrupted)
{
    QByteArray bytes = QByteArray::fromHex(request.toLatin1());
    if (corrupted)
        bytes[bytes.size() - 1] = char(~bytes.at(bytes.size() - 1));
    return lowerHex(bytes);
}

// Tallies over every case of the suite, printed at the end.
struct Tally
{
    int cases = 0;
    int falseSuccesses = 0;
    int unaskedRequests = 0;
};
Tally tally;

} // namespace

Q_DECLARE_METATYPE(Op)
Q_DECLARE_METATYPE(Fault)

class tst_Faults : public QObject
{
    Q_OBJECT

private slots:
    void faultyReply_data();
    void faultyReply();
    void lineHangsUpDuringWait_data();
    void lineHangsUpDuringWait();
    void linePulledDuringPoll();
    void cancelledOpenQuestion_data();
    void cancelledOpenQuestion();
    void everyOperationThroughAnEchoingLine();
    void windowClosedDuringRun();
    void secondOperationDuringWait_data();
    void secondOperationDuringWait();
    void killedDuringPoll_data();
    void killedDuringPoll();
    void cleanupTestCase();
};

void tst_Faults::faultyReply_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("param");
    QTest::addColumn<Op>("op");
    QTest::addColumn<QStringList>("results"); // the result window, whole
    QTest::addColumn<QString>("received");  // the receive log line's bytes; "" none; "…" a prefix
    QTest::addColumn<int>("receivedBytes"); // bytes in that line; -1 not known beforehand
    QTest::addColumn<QString>("status");    // the status bar, a pattern
    QTest::addColumn<bool>("success");      // the engineer is told it succeeded
    QTest::addColumn<int>("writes");        // registers the unit wrote
    QTest::addColumn<int>("replies");       // replies the unit put on the line

    const QString sent = QStringLiteral("^发送数据成功$");
    const QString read = QStringLiteral("^成功读取\\d+字节数据$");
    const QString noReply = QStringLiteral("没有应答!!");
    const QString badReply = QStringLiteral("应答校验错误");
    const QString badEcho = QStringLiteral("回显不符");
    const QString echoHint = QStringLiteral("^应答以请求本身开头：.*请勾选“去除回显”$");
    const QString ellipsis(QChar(0x2026));

    // clang-format off
    QTest::newRow("silence: close")
        << Fault::Silence << 0 << Op::Close << failureLines(Op::Close, noReply)
        << "" << 0 << sent << false << 0 << 0;
    QTest::newRow("silence: read clock")
        << Fault::Silence << 0 << Op::ReadClock << failureLines(Op::ReadClock, noReply)
        << "" << 0 << sent << false << 0 << 0;

    QTest::newRow("3 pieces 15 ms apart: close")
        << Fault::Pieces << 15 << Op::Close << successLines(Op::Close)
        << closeEcho() << 8 << read << true << 1 << 1;
    QTest::newRow("3 pieces 15 ms apart: read clock")
        << Fault::Pieces << 15 << Op::ReadClock << successLines(Op::ReadClock)
        << clockReply() << 13 << read << true << 0 << 1;
    QTest::newRow("3 pieces 15 ms apart: read MAC")
        << Fault::Pieces << 15 << Op::ReadMac << successLines(Op::ReadMac)
        << macReply() << 30 << read << true << 0 << 1;

    // The wait ends 41 ms after the first half: what came is not a whole reply.
    QTest::newRow("2 pieces 80 ms apart: close")
        << Fault::Pieces << 80 << Op::Close << failureLines(Op::Close, noReply)
        << "55 06 08 02" << 4 << read << false << 1 << 1;
    QTest::newRow("2 pieces 80 ms apart: read clock, 6 of 13 bytes")
        << Fault::Pieces << 80 << Op::ReadClock << failureLines(Op::ReadClock, noReply)
        << "55 03 08 07 ea 03" << 6 << read << false << 0 << 1;
    QTest::newRow("2 pieces 80 ms apart: read MAC, no carriage return yet")
        << Fault::Pieces << 80 << Op::ReadMac
        << failureLines(Op::ReadMac, QStringLiteral("应答中没有服务报文"))
        << macReply().left(15 * 3 - 1) << 15 << read << false << 0 << 1;

    QTest::newRow("garbage before the reply: close")
        << Fault::Garbage << 0 << Op::Close << failureLines(Op::Close, badReply)
        << "ff 00 13 " + closeEcho() << 11 << read << false << 1 << 1;
    QTest::newRow("garbage before the reply: read clock")
        << Fault::Garbage << 0 << Op::ReadClock << failureLines(Op::ReadClock, badReply)
        << "ff 00 13 " + clockReply() << 16 << read << false << 0 << 1;
    // A service reply begins at its "~": what comes before is not looked at.
    QTest::newRow("garbage before the reply: read MAC")
        << Fault::Garbage << 0 << Op::ReadMac << successLines(Op::ReadMac)
        << "ff 00 13 " + macReply() << 33 << read << true << 0 << 1;

    QTest::newRow("corrupted CRC: close, done by the unit all the same")
        << Fault::CorruptCrc << 0 << Op::Close << failureLines(Op::Close, badReply)
        << withInvertedCrc(QStringLiteral("55 06 08 02 00 00")) << 8 << read << false << 1 << 1;
    QTest::newRow("corrupted CRC: read clock")
        << Fault::CorruptCrc << 0 << Op::ReadClock << failureLines(Op::ReadClock, badReply)
        << withInvertedCrc(QStringLiteral("55 03 08 07 EA 03 0F 0C 1E 2D 00")) << 13 << read << false << 0 << 1;

    // A sound frame with a good CRC, but for register 0803: not this write's answer.
    QTest::newRow("echo of the next register: close")
        << Fault::WrongEcho << 0 << Op::Close << failureLines(Op::Close, badReply)
        << lowerHex(withCrc(QStringLiteral("55 06 08 03 00 00"))) << 8 << read << false << 1 << 1;

    const struct { int code; const char *text; } exceptions[] = {
        {0x01, "异常应答 01 非法功能"}, {0x02, "异常应答 02 非法数据地址"},
        {0x03, "异常应答 03 非法数据值"}, {0x04, "异常应答 04 从站设备故障"},
        {0x06, "异常应答 06 从站设备忙"},
    };
    for (const auto &e : exceptions) {
        const QString frame = lowerHex(withCrc(QStringLiteral("55 86 %1").arg(e.code, 2, 16, QLatin1Char('0'))));
        QTest::addRow("exception %02X: close", e.code)
            << Fault::Exception << e.code << Op::Close
            << failureLines(Op::Close, QString::fromUtf8(e.text))
            << frame << 5 << read << false << 0 << 1;
    }
    QTest::newRow("exception 02: read clock")
        << Fault::Exception << 0x02 << Op::ReadClock
        << failureLines(Op::ReadClock, QStringLiteral("异常应答 02 非法数据地址"))
        << lowerHex(withCrc(QStringLiteral("55 83 02"))) << 5 << read << false << 0 << 1;
    QTest::newRow("service return code 04: read MAC")
        << Fault::ReturnCode << 0x04 << Op::ReadMac
        << QStringList{kMacBanner, "serial_query成功", "收到报文：", "设备返回错误：04 CID2无效"}
        << lowerHex(servicePacket(0x04)) << 18 << read << false << 0 << 1;

    // Another master polls station 1 all through the wait. Six bytes of
    // anything would once have passed for an answer; its frames are not the
    // unit's, and a frame that runs on into another is no reply either.
    const QString chatter = QStringLiteral("01 03 00 00 00 01 84 0a");
    QTest::newRow("another station chatters, the module silent: close")
        << Fault::Chatter << 1 << Op::Close << failureLines(Op::Close, badReply)
        << chatter + ellipsis << 256 << read << false << 0 << 0;
    QTest::newRow("another station chatters: close")
        << Fault::Chatter << 0 << Op::Close << failureLines(Op::Close, badReply)
        << closeEcho() + " " + chatter + ellipsis << 256 << read << false << 1 << 1;
    QTest::newRow("another station chatters: read clock")
        << Fault::Chatter << 0 << Op::ReadClock << failureLines(Op::ReadClock, badReply)
        << clockReply() + " " + chatter + ellipsis << 256 << read << false << 0 << 1;
    // Its frames hold neither "~" nor a carriage return: the packet stands
    // out, and the wait ends with it.
    QTest::newRow("another station chatters: read MAC")
        << Fault::Chatter << 0 << Op::ReadMac << successLines(Op::ReadMac)
        << macReply() + " " + chatter + ellipsis << -1 << read << true << 0 << 1;

    QTest::newRow("reply padded past 256 bytes: close")
        << Fault::LongReply << 0 << Op::Close << failureLines(Op::Close, badReply)
        << closeEcho() + " 00 01 02" + ellipsis << 256 << read << false << 1 << 1;
    QTest::newRow("reply padded past 256 bytes: read clock")
        << Fault::LongReply << 0 << Op::ReadClock << failureLines(Op::ReadClock, badReply)
        << clockReply() + " 00 01 02" + ellipsis << 256 << read << false << 0 << 1;
    // The padding counts up through 0D: the span to the last carriage return
    // takes in the padding, and its checksum fails.
    QTest::newRow("reply padded past 256 bytes: read MAC")
        << Fault::LongReply << 0 << Op::ReadMac
        << QStringList{kMacBanner, "serial_query成功", "收到报文：" + ellipsis,
                       "应答报文校验和错误，结果无效"}
        << macReply() + " 00 01 02" + ellipsis << 256 << read << false << 0 << 1;

    // Behind an adapter that echoes. The echo has a receive line of its own,
    // marked; the line checked here is what follows it.
    QTest::newRow("line echoes, 去除回显 ticked: close")
        << Fault::LineEcho << 1 << Op::Close << successLines(Op::Close)
        << closeEcho() << 8 << read << true << 1 << 1;
    QTest::newRow("line echoes, 去除回显 ticked: read MAC")
        << Fault::LineEcho << 1 << Op::ReadMac << successLines(Op::ReadMac)
        << macReply() << 30 << read << true << 0 << 1;
    // Without the box the read fails, and the status bar says why.
    QTest::newRow("line echoes, 去除回显 not ticked: read clock")
        << Fault::LineEcho << 0 << Op::ReadClock << failureLines(Op::ReadClock, badReply)
        << lowerHex(kReadClockModule0) + " " + clockReply() << 21 << echoHint << false << 0 << 1;
    // A corrupted echo is never taken for a reply, whatever follows it.
    QTest::newRow("echo corrupted: close, done by the unit all the same")
        << Fault::LineEcho << 2 << Op::Close << failureLines(Op::Close, badEcho)
        << closeEcho() << 8 << read << false << 1 << 1;
    QTest::newRow("echo corrupted: read MAC")
        << Fault::LineEcho << 2 << Op::ReadMac
        << QStringList{kMacBanner, QStringLiteral("serial_query失败")}
        << macReply() << 30 << read << false << 0 << 1;
    // clang-format on
}

void tst_Faults::faultyReply()
{
    QFETCH(Fault, fault);
    QFETCH(int, param);
    QFETCH(Op, op);
    QFETCH(QStringList, results);
    QFETCH(QString, received);
    QFETCH(int, receivedBytes);
    QFETCH(QString, status);
    QFETCH(bool, success);
    QFETCH(int, writes);
    QFETCH(int, replies);

    BenchRig rig;
    QVERIFY(rig.ready());
    rig.selectModule(QStringLiteral("0"));
    rig.unit().setHostClock([] { return kUnitTime; });
    MainWindowProbe::setClock(rig.window(), kUnitTime);
    rig.unit().setMac(kUnitMac);
    QSignalSpy replySpy(&rig.line(), &SimLine::replySent);
    setFault(rig, fault, param);
    auto &w = rig.window();
    const int trafficBefore = trafficLines(w).size(); // mac.csv's rows

    rig.click(buttonOf(op));

    const bool claimed = claimsSuccess(rig, op);
    ++tally.cases;
    if (claimed && !success)
        ++tally.falseSuccesses;
    tally.unaskedRequests += qMax(0, rig.requestsSeen().size() - 1);
    qInfo("FAULT | %s | %s | requests %d | unit writes %d | success shown %s",
          QTest::currentDataTag(), qPrintable(resultLines(w).value(resultLines(w).size() - 1)),
          int(rig.requestsSeen().size()), unitWrites(rig), claimed ? "yes" : "no");

    // On the wire: the one request, never repeated.
    QCOMPARE(rig.requestsSeen(), QStringList{requestOf(op)});
    // In the window.
    compareLines(trimmed(resultLines(w)), results);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(claimed, success);
    const QStringList traffic = trafficLines(w).mid(trafficBefore);
    QCOMPARE(linesAfter(traffic, QStringLiteral("][发送]: ")), QStringList{requestOf(op)});
    QStringList receive = linesAfter(traffic, QStringLiteral("][接收]: "));
    const bool echoRemoved = fault == Fault::LineEcho && param != 0;
    if (echoRemoved) {
        QVERIFY(!receive.isEmpty());
        const QString echo = receive.takeFirst();
        const bool corrupted = param == 2;
        QCOMPARE(echo, echoOf(requestOf(op), corrupted) + QStringLiteral(" （")
                           + (corrupted ? QStringLiteral("回显不符）") : QStringLiteral("回显）")));
    }
    if (received.isEmpty()) {
        QCOMPARE(receive, QStringList());
    } else {
        QCOMPARE(receive.size(), 1);
        compareLines(receive, {received});
        if (QTest::currentTestFailed())
            return;
        if (receivedBytes >= 0)
            QCOMPARE(receive.first().split(QLatin1Char(' ')).size(), receivedBytes);
    }
    QVERIFY2(QRegularExpression(status).match(statusText(w)).hasMatch(), qPrintable(statusText(w)));
    // In the unit: written only what was asked, and only when it was asked.
    QCOMPARE(unitWrites(rig), writes);
    QCOMPARE(rig.unit().mac(), kUnitMac);
    QTRY_COMPARE(replySpy.count(), replies);
    // The line statistics count the one request once, and call an echo fault
    // by its name.
    const LineStats stats = MainWindowProbe::lineStats(w);
    QCOMPARE(stats.requests, 1);
    if (op != Op::ReadMac) // a service reply is read past what comes before its "~"
        QCOMPARE(stats.answers, int(success));
    QCOMPARE(stats.echoFaults, int(fault == Fault::LineEcho && param == 2));

    // The window is not left in a state of its own: with the fault gone, the
    // same operation succeeds. The last frames of a talker have to reach the
    // window first, or they would be taken as the start of the next reply.
    clearFaults(rig);
    QTest::qWait(50);
    rig.click(buttonOf(op));
    QCOMPARE(rig.requestsSeen(), QStringList({requestOf(op), requestOf(op)}));
    const QStringList after = trimmed(resultLines(w)).mid(results.size());
    QCOMPARE(after, successLines(op));
}

void tst_Faults::lineHangsUpDuringWait_data()
{
    QTest::addColumn<bool>("silentUnit");
    QTest::addColumn<int>("hangUpAtMs"); // 0: the line's own switch, after the request

    QTest::newRow("silent unit, line gone right after the request") << true << 0;
    QTest::newRow("line gone between two pieces of the reply") << false << 15;
}

void tst_Faults::lineHangsUpDuringWait()
{
    QFETCH(bool, silentUnit);
    QFETCH(int, hangUpAtMs);

    BenchRig rig;
    QVERIFY(rig.ready());
    rig.selectModule(QStringLiteral("0"));
    auto &w = rig.window();
    if (silentUnit)
        rig.unit().silentModules.insert(0);
    if (hangUpAtMs == 0) {
        rig.line().faults.hangUpAfterRequests = 1;
    } else {
        rig.line().faults.pieces = 2;
        rig.line().faults.pieceGapMs = 30;
        QTimer::singleShot(hangUpAtMs, &rig.line(), [&rig] { rig.line().hangUp(); });
    }

    rig.click("pushButton_4");

    ++tally.cases;
    const bool claimed = claimsSuccess(rig, Op::Close);
    if (claimed)
        ++tally.falseSuccesses;
    tally.unaskedRequests += qMax(0, rig.requestsSeen().size() - 1);
    qInfo("FAULT | %s | %s | requests %d | unit writes %d | success shown %s",
          QTest::currentDataTag(), qPrintable(resultLines(w).value(resultLines(w).size() - 1)),
          int(rig.requestsSeen().size()), unitWrites(rig), claimed ? "yes" : "no");

    QCOMPARE(rig.requestsSeen(), QStringList{kCloseModule0});
    // One line says why the operation ended; a reply that could not come gets no verdict.
    QCOMPARE(resultLines(w), QStringList{kPortLostLine});
    QCOMPARE(resultInk(w, kPortLostLine), QStringLiteral("red"));
    QVERIFY(!claimed);
    // The window notices that the port is gone and says so.
    QTRY_VERIFY(!portIsOpen(w));
    // The reply's first half, if it came, is older news than the closing.
    const QString portName = windowPort(w)->portName();
    QCOMPARE(statusText(w), QStringLiteral("串口 %1 设备已断开或不可用，已关闭").arg(portName));
    QVERIFY(widget<QAction>(w, "actionConnect")->isEnabled());

    // The next command asks to open the port instead of sending into nothing;
    // Cancel ends it.
    SeenBox *box = answerNextMessageBox(QMessageBox::Cancel);
    rig.click("pushButton_4");
    QVERIFY(box->shown);
    QCOMPARE(box->title, QStringLiteral("提示"));
    QCOMPARE(rig.requestsSeen().size(), 1);
    QCOMPARE(resultLines(w).last(), kCancelledLine);
    QCOMPARE(resultInk(w, kCancelledLine), QStringLiteral("red"));
}

// The unit answers three reads, then the line goes: the poll ends there, with
// one line, and asks nothing.
void tst_Faults::linePulledDuringPoll()
{
    BenchRig rig;
    QVERIFY(rig.ready());
    rig.selectModule(QStringLiteral("0"));
    auto &w = rig.window();
    widget<QTreeWidget>(w, "treeWidget")->topLevelItem(0)->setCheckState(0, Qt::Checked);
    rig.line().faults.hangUpAfterRequests = 3;
    QElapsedTimer sinceLineClosed;
    connect(&rig.line(), &SimLine::lineClosed, [&sinceLineClosed] { sinceLineClosed.start(); });
    const ModalAnswerer boxes(QMessageBox::Cancel);

    rig.click("pushButton");

    const double toAbortLineMs
        = sinceLineClosed.isValid() ? sinceLineClosed.nsecsElapsed() / 1e6 : -1;
    const QStringList lines = resultLines(w);
    ++tally.cases;
    qInfo("FAULT | line pulled during a twelve-entry poll | message boxes %d | abort line %.2f ms "
          "after the line closed | %s",
          boxes.count(), toAbortLineMs, qPrintable(lines.value(lines.size() - 1)));

    QVERIFY(sinceLineClosed.isValid());
    QCOMPARE(boxes.texts(), QStringList());
    // The fourth request may have gone out before the line went; no more.
    QVERIFY2(rig.requestsSeen().size() <= 4, qPrintable(rig.requestsSeen().join('|')));
    QVERIFY(lines.filter(QStringLiteral("没有应答")).isEmpty());
    QVERIFY(lines.size() >= 2);
    compareLines(
        lines.mid(lines.size() - 2),
        {kPortLostLine,
         QStringLiteral("合计3项：成功3，无应答0，异常应答0，校验错误0，用时") + QChar(0x2026)});
}

// With the port closed, the engineer is asked once. Cancel ends the operation
// with one line, before a run's banner or summary; so does OK when the port
// then fails to open (after its own box).
void tst_Faults::cancelledOpenQuestion_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("openChosen");
    QTest::addColumn<QStringList>("results");

    const QStringList cancelled{kCancelledLine};
    const QStringList notOpened{QStringLiteral("串口未能打开，操作中止")};
    QTest::newRow("read test of every entry") << "pushButton" << false << cancelled;
    QTest::newRow("three thresholds: the other two are not asked for")
        << "pushButton_yzsz" << false << cancelled;
    QTest::newRow("close all modules") << "pushButton_allon" << false << cancelled;
    QTest::newRow("close one module") << "pushButton_4" << false << cancelled;
    QTest::newRow("read test, OK, the port does not open") << "pushButton" << true << notOpened;
    QTest::newRow("close all modules, OK, the port does not open")
        << "pushButton_allon" << true << notOpened;
    QTest::newRow("close one module, OK, the port does not open")
        << "pushButton_4" << true << notOpened;
}

void tst_Faults::cancelledOpenQuestion()
{
    QFETCH(QString, button);
    QFETCH(bool, openChosen);
    QFETCH(QStringList, results);

    BenchRig rig;
    QVERIFY(rig.ready());
    auto &w = rig.window();
    widget<QTreeWidget>(w, "treeWidget")->topLevelItem(0)->setCheckState(0, Qt::Checked);
    for (const char *field : {"lineEdit_dytlz", "lineEdit_dytlhfz", "lineEdit_glyz"})
        widget<QLineEdit>(w, field)->setText(QStringLiteral("12.5"));
    widget<QAction>(w, "actionClose")->trigger();
    // A port that has gone since it was chosen.
    if (openChosen)
        widget<QComboBox>(w, "comboBoxPort")
            ->setEditText(QStringLiteral("/dev/feederbench-no-such-port"));
    const ModalAnswerer boxes(openChosen ? QMessageBox::Ok : QMessageBox::Cancel);

    rig.click(button.toLatin1().constData());

    ++tally.cases;
    QCOMPARE(boxes.count(), openChosen ? 2 : 1);
    QVERIFY(boxes.texts().first().contains(QStringLiteral("并没有打开")));
    if (openChosen)
        QVERIFY(boxes.texts().last().startsWith(QStringLiteral("打开串口失败！")));
    QVERIFY(rig.requestsSeen().isEmpty());
    QCOMPARE(resultLines(w), results);
    QVERIFY(!MainWindowProbe::busy(w));
}

// Behind an adapter that hands every request back, with 去除回显 ticked,
// every operation of the window works as on a clean line: each request's echo
// stands on its own receive line, every request is answered, and the line
// statistics count each request once.
void tst_Faults::everyOperationThroughAnEchoingLine()
{
    BenchRig rig;
    QVERIFY(rig.ready());
    rig.selectModule(QStringLiteral("1"));
    rig.line().faults.echo = true;
    auto &w = rig.window();
    widget<QCheckBox>(w, "checkBoxEcho")->setChecked(true);
    widget<QTreeWidget>(w, "treeWidget")->topLevelItem(0)->setCheckState(0, Qt::Checked);
    for (const char *field :
         {"lineEdit_dytlz", "lineEdit_dytlhfz", "lineEdit_glyz", "lineEdit_sd1hh", "lineEdit_sd1mm",
          "lineEdit_sd2hh", "lineEdit_sd2mm", "lineEdit_sd3hh", "lineEdit_sd3mm"})
        widget<QLineEdit>(w, field)->setText(QStringLiteral("12"));
    widget<QLineEdit>(w, "lineEdit_wrmac")->setText(QStringLiteral("00:39:28:91:00:00"));
    const int trafficBefore = trafficLines(w).size();

    // The clock is set before the read test reads it.
    for (const char *button :
         {"pushButton_4",          "pushButton_5",      "pushButton_6",
          "pushButton_7",          "pushButton_8",      "pushButton_9",
          "pushButton_10",         "pushButton_11",     "pushButton_yzsz",
          "pushButton_sd1",        "pushButton_sd2",    "pushButton_sd3",
          "pushButton_datatime",   "pushButton",        "pushButton_2",
          "pushButton_rdmac",      "pushButton_deffac", "pushButton_wrmac",
          "pushButton_allon",      "pushButton_alloff", "pushButton_rm_ctrl_on",
          "pushButton_rm_ctrl_off"})
        rig.click(button);

    ++tally.cases;
    const LineStats stats = MainWindowProbe::lineStats(w);
    const QStringList traffic = trafficLines(w).mid(trafficBefore);
    const int sent = linesAfter(traffic, QStringLiteral("][发送]: ")).size();
    QCOMPARE(rig.requestsSeen().size(), sent);
    QCOMPARE(traffic.filter(QStringLiteral("（回显）")).size(), sent);
    QCOMPARE(stats.requests, sent);
    QCOMPARE(stats.answers, sent);
    QCOMPARE(stats.timed, sent);
    QVERIFY(resultLines(w).contains(QStringLiteral("MAC读回校验通过")));
    QCOMPARE(rig.unit().factoryResets(), 1);
    QTRY_VERIFY(widget<QLabel>(w, "label_lineStats")
                    ->toolTip()
                    .contains(QStringLiteral("请求：%1").arg(sent)));

    // The statistics go with the byte counters, and start again with each opening.
    widget<QPushButton>(w, "pushButtonClearCounterRecieve")->click();
    QCOMPARE(MainWindowProbe::lineStats(w).requests, 0);
    QCOMPARE(widget<QLabel>(w, "label_lineStats")->text(), LineStats().label());
    rig.click("pushButton_4");
    QCOMPARE(MainWindowProbe::lineStats(w).requests, 1);
    widget<QAction>(w, "actionClose")->trigger();
    QVERIFY(openPortOn(w, rig.line().portPath()));
    QCOMPARE(MainWindowProbe::lineStats(w).requests, 0);
}

// The figures come from a child process, since only a real application
// event loop quits with its window: see closeDuringRunChild below.
void tst_Faults::windowClosedDuringRun()
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kCloseChildArg)});
    QVERIFY(child.waitForStarted(10000));
    QVERIFY(child.waitForFinished(60000));
    const qint64 exitedNs = monotonicNs();
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);

    // "closed=<ns> exec=<ms> cpu=<ms> bytes=<n> open=<0|1> requests=<n>"
    const QString out = QString::fromLatin1(child.readAllStandardOutput());
    QMap<QString, QString> f;
    for (const QString &pair : out.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts))
        f.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    QVERIFY2(f.contains(QStringLiteral("closed")), qPrintable(out));
    const double closeToExitMs = (exitedNs - f.value(QStringLiteral("closed")).toLongLong()) / 1e6;
    ++tally.cases;
    qInfo("FAULT | window closed during an all-modules run, silent unit | close->exit %.0f ms | "
          "close->event loop ended %s ms | processor after close %s ms | bytes sent after close %s "
          "| port open after close %s | requests before close %s",
          closeToExitMs, qPrintable(f.value("exec")), qPrintable(f.value("cpu")),
          qPrintable(f.value("bytes")), qPrintable(f.value("open")),
          qPrintable(f.value("requests")));

    // The run was under way, and nothing more went out once the window closed.
    QVERIFY(f.value(QStringLiteral("requests")).toInt() >= 1);
    QCOMPARE(f.value(QStringLiteral("bytes")), QStringLiteral("0"));
    QCOMPARE(f.value(QStringLiteral("open")), QStringLiteral("0"));
}

void tst_Faults::secondOperationDuringWait_data()
{
    QTest::addColumn<Op>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<int>("writes");

    QTest::newRow("read MAC clicked while closing") << Op::Close << "pushButton_rdmac" << 1;
    QTest::newRow("close clicked again while closing") << Op::Close << "pushButton_4" << 1;
    QTest::newRow("thresholds clicked while reading the clock")
        << Op::ReadClock << "pushButton_yzsz" << 0;
    QTest::newRow("write MAC clicked while reading the MAC")
        << Op::ReadMac << "pushButton_wrmac" << 0;
    QTest::newRow("close all clicked while reading the MAC")
        << Op::ReadMac << "pushButton_allon" << 0;
}

void tst_Faults::secondOperationDuringWait()
{
    QFETCH(Op, first);
    QFETCH(QString, second);
    QFETCH(int, writes);

    BenchRig rig;
    QVERIFY(rig.ready());
    rig.selectModule(QStringLiteral("0"));
    rig.unit().setHostClock([] { return kUnitTime; });
    MainWindowProbe::setClock(rig.window(), kUnitTime);
    rig.unit().setMac(kUnitMac);
    // The unit takes its time, so that the second click lands in the wait.
    rig.line().setTurnaroundMs(200);
    auto &w = rig.window();
    const QString macField = widget<QLineEdit>(w, "lineEdit_wrmac")->text();

    bool fired = false;
    QString statusDuring;
    QTimer::singleShot(50, &w, [&] {
        fired = true;
        rig.click(second.toLatin1().constData());
        statusDuring = statusText(w);
    });
    rig.click(buttonOf(first));

    ++tally.cases;
    tally.unaskedRequests += qMax(0, rig.requestsSeen().size() - 1);
    qInfo("FAULT | %s | %s | requests %d | unit writes %d | success shown %s",
          QTest::currentDataTag(), qPrintable(resultLines(w).value(resultLines(w).size() - 1)),
          int(rig.requestsSeen().size()), unitWrites(rig),
          claimsSuccess(rig, first) ? "yes" : "no");

    QVERIFY(fired);
    QCOMPARE(statusDuring, QString::fromUtf8(kBusyText));
    QCOMPARE(rig.requestsSeen(), QStringList{requestOf(first)});
    QCOMPARE(trimmed(resultLines(w)), successLines(first));
    QCOMPARE(unitWrites(rig), writes);
    QCOMPARE(rig.unit().mac(), kUnitMac);
    // The refused write did not move the address on either.
    QCOMPARE(widget<QLineEdit>(w, "lineEdit_wrmac")->text(), macField);
}

void tst_Faults::killedDuringPoll_data()
{
    QTest::addColumn<int>("shownBeforeKill"); // lines the windows showed before the kill

    QTest::newRow("in the first poll") << 30;
    QTest::newRow("some polls in") << 400;
    QTest::newRow("many polls in") << 2500;
}

// The process is killed outright, in the middle of a poll: whatever the
// windows had shown by then is in the session record, in its order.
void tst_Faults::killedDuringPoll()
{
    QFETCH(int, shownBeforeKill);

    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    QVERIFY(QDir(scratch.path()).mkpath(QStringLiteral("tmp")));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), scratch.filePath(QStringLiteral("tmp")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QString::fromLocal8Bit(POLL_UNTIL_KILLED),
                {scratch.filePath(QStringLiteral("data"))});
    QVERIFY(child.waitForStarted(10000));

    QString record;
    QStringList shown;
    QElapsedTimer waited;
    waited.start();
    const auto takeLines = [&] {
        while (child.canReadLine()) {
            const QString line = QString::fromUtf8(child.readLine()).chopped(1);
            if (line.startsWith(QStringLiteral("RECORD\t")))
                record = line.mid(7);
            else
                shown << line;
        }
    };
    while (shown.size() < shownBeforeKill && waited.elapsed() < 60000
           && child.state() == QProcess::Running) {
        child.waitForReadyRead(100);
        takeLines();
    }
    QVERIFY2(shown.size() >= shownBeforeKill, qPrintable(QString::number(shown.size())));
    ::kill(pid_t(child.processId()), SIGKILL);
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    takeLines(); // printed before the kill, so shown
    QVERIFY(!record.isEmpty());

    QFile file(record);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    // The record stamps each line with its time; the windows show the text.
    const QStringList onDisk
        = withoutTimes(QString::fromUtf8(file.readAll()).split(QLatin1Char('\n')));
    qInfo("KILL | %s | lines shown %d | lines in the record %d", QTest::currentDataTag(),
          int(shown.size()), int(onDisk.size() - 1));
    // Each window's lines in the record begin with what that window showed.
    // A reply's line carries its response time after one more tab there.
    for (const QString &mark : {QStringLiteral("报文\t"), QStringLiteral("结果\t")}) {
        const auto ofWindow = [&mark](const QStringList &lines) {
            QStringList out;
            for (const QString &line : lines) {
                if (line.startsWith(mark))
                    out << line.section(QLatin1Char('\t'), 0, 1);
            }
            return out;
        };
        const QStringList seen = ofWindow(shown);
        QVERIFY(!seen.isEmpty());
        QCOMPARE(ofWindow(onDisk).mid(0, seen.size()), seen);
    }
}

void tst_Faults::cleanupTestCase()
{
    qInfo("FAULT TOTALS | cases %d | crashes 0 | false successes %d | requests not asked for %d",
          tally.cases, tally.falseSuccesses, tally.unaskedRequests);
    QCOMPARE(tally.falseSuccesses, 0);
    QCOMPARE(tally.unaskedRequests, 0);
}

// The child of windowClosedDuringRun: the window runs an all-modules close
// against a unit whose modules are all silent, inside the application's own
// event loop, and is closed while module 1 waits. Prints its figures.
int closeDuringRunChild(int argc, char *argv[])
{
    QApplication app(argc, argv);
    BenchRig rig;
    if (!rig.ready())
        return 2;
    for (int module : {0, 1, 2, 3, 4, 5, 10})
        rig.unit().silentModules.insert(module);
    MainWindow &w = rig.window();
    w.show();

    qint64 closedNs = 0;
    double processorAtClose = 0;
    int sentAtClose = 0;
    int requestsAtClose = 0;
    bool openAfterClose = true;
    QTimer::singleShot(0, &w, [&rig] { rig.click("pushButton_allon"); });
    QTimer::singleShot(kCloseAfterMs, &w, [&] {
        requestsAtClose = rig.requestsSeen().size();
        sentAtClose = MainWindowProbe::sendCount(w);
        processorAtClose = processorMs();
        closedNs = monotonicNs();
        w.close();
        openAfterClose = portIsOpen(w);
    });
    app.exec();
    const double execMs = (monotonicNs() - closedNs) / 1e6;
    const double processorAfterClose = processorMs() - processorAtClose;
    std::printf("closed=%lld exec=%.1f cpu=%.1f bytes=%d open=%d requests=%d\n",
                static_cast<long long>(closedNs), execMs, processorAfterClose,
                MainWindowProbe::sendCount(w) - sentAtClose, openAfterClose ? 1 : 0,
                requestsAtClose);
    std::fflush(stdout);
    return 0;
}

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], kCloseChildArg) == 0)
        return closeDuringRunChild(argc, argv);
    QApplication app(argc, argv);
    tst_Faults test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faults.moc"
