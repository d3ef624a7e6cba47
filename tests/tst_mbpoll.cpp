// The simulated unit against a Modbus master that is not ours: Debian's
// mbpoll reads and writes through the simulator's pseudo-terminal, so the
// simulator is shown to speak Modbus as others do, not only as we do.

#include "support/childprocess.h"
#include "tools/pduunit.h"
#include "tools/simline.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int kMbpollTimeoutMs = 10000;

QString hexText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// The unit in this process, on its line with real timing at 9600 baud.
struct UnitOnPty
{
    PduUnit unit;
    SimLine line{[this](const QByteArray &request) { return unit.handleFrame(request); },
                 &PduUnit::requestLength};
    QStringList requests;

    UnitOnPty()
    {
        line.setBaudRate(9600);
        line.setTurnaroundMs(5);
        QObject::connect(&line, &SimLine::requestSeen,
                         [this](const QByteArray &request) { requests << hexText(request); });
    }
};

// Runs a program while the event loop keeps turning, so the line in this
// process can answer it.
Finished run(const QString &program, const QStringList &arguments)
{
    return runProgram(program, arguments, kMbpollTimeoutMs);
}

// mbpoll -0 takes register addresses as they go on the wire, not 1-based.
QStringList mbpollArguments(const QString &port, const QString &reg)
{
    return {"-m", "rtu", "-a", "85", "-b", "9600", "-P", "none", "-d", "8",
            "-s", "1",   "-0", "-1", "-o", "0.5",  "-r", reg,    port};
}

// The value mbpoll printed for a register, "[5892]: 	3"; -1 when none.
int printedValue(const QString &output, int reg)
{
    const QRegularExpression line(QString("^\\[%1\\]:\\s+(-?\\d+)\\s*$").arg(reg),
                                  QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(output);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

QString mbpoll()
{
    return QStandardPaths::findExecutable("mbpoll");
}

// pdu-sim sits beside the tests in the build tree.
QString pduSim()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath("../tools/pdu-sim");
}

} // namespace

class tst_MbPoll : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void read_data();
    void read();
    void write_data();
    void write();
    void pduSimServesMbpoll();
    void pduSimRefusesBadOptions_data();
    void pduSimRefusesBadOptions();

private:
    bool m_haveMbpoll = false;
};

void tst_MbPoll::initTestCase()
{
    m_haveMbpoll = !mbpoll().isEmpty();
}

void tst_MbPoll::read_data()
{
    QTest::addColumn<quint16>("switchState");
    QTest::addColumn<QString>("reg");
    QTest::addColumn<QString>("request");
    QTest::addColumn<int>("value");     // what mbpoll prints, -1 for none
    QTest::addColumn<QString>("error"); // what mbpoll complains of

    QTest::newRow("module 1 closed: 55 03 17 04 00 01 CD AB reads 0")
        << quint16(0) << "0x1704"
        << "55 03 17 04 00 01 CD AB" << 0 << QString();
    QTest::newRow("module 1 opened by cause 3 reads 3")
        << quint16(3) << "0x1704"
        << "55 03 17 04 00 01 CD AB" << 3 << QString();
    QTest::newRow("module 0: 55 03 07 04 00 01 C9 6B")
        << quint16(0) << "0x0704"
        << "55 03 07 04 00 01 C9 6B" << 0 << QString();
    QTest::newRow("0x1700 is outside the map: exception 02")
        << quint16(0) << "0x1700"
        << "55 03 17 00 00 01 8C 6A" << -1 << "Illegal data address";
    QTest::newRow("module 7 is an empty slot: no answer")
        << quint16(0) << "0x7704"
        << "55 03 77 04 00 01 D3 AB" << -1 << "timed out";
}

void tst_MbPoll::read()
{
    if (!m_haveMbpoll)
        QSKIP("mbpoll is not installed (apt-get install mbpoll)");
    QFETCH(quint16, switchState);
    QFETCH(QString, reg);
    QFETCH(QString, request);
    QFETCH(int, value);
    QFETCH(QString, error);

    UnitOnPty sim;
    sim.unit.module(0).switchState = switchState;
    sim.unit.module(1).switchState = switchState;
    const Finished mb = run(mbpoll(), mbpollArguments(sim.line.portPath(), reg));
    QVERIFY2(mb.ok, "mbpoll did not finish");

    QCOMPARE(sim.requests, QStringList{request});
    QCOMPARE(printedValue(mb.out, reg.toInt(nullptr, 16)), value);
    if (error.isEmpty()) {
        QCOMPARE(mb.exitCode, 0);
    } else {
        QVERIFY(mb.exitCode != 0);
        QVERIFY2(mb.err.contains(error), qPrintable(mb.err));
    }
}

void tst_MbPoll::write_data()
{
    QTest::addColumn<quint16>("before");
    QTest::addColumn<QString>("reg");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("request");
    QTest::addColumn<quint16>("after");

    QTest::newRow("close an open module 1: 55 06 18 02 00 00 23 7E")
        << quint16(1) << "0x1802"
        << "0"
        << "55 06 18 02 00 00 23 7E" << quint16(0);
    QTest::newRow("open a closed module 1: 55 06 18 03 00 01 B3 7E")
        << quint16(0) << "0x1803"
        << "1"
        << "55 06 18 03 00 01 B3 7E" << quint16(1);
}

void tst_MbPoll::write()
{
    if (!m_haveMbpoll)
        QSKIP("mbpoll is not installed (apt-get install mbpoll)");
    QFETCH(quint16, before);
    QFETCH(QString, reg);
    QFETCH(QString, value);
    QFETCH(QString, request);
    QFETCH(quint16, after);

    UnitOnPty sim;
    sim.unit.module(1).switchState = before;
    const Finished written = run(mbpoll(), mbpollArguments(sim.line.portPath(), reg) << value);
    QVERIFY2(written.ok, "mbpoll did not finish");
    // mbpoll checks the echo itself and says so only when it matched.
    QVERIFY2(written.out.contains("Written 1 references"), qPrintable(written.out + written.err));
    QCOMPARE(written.exitCode, 0);
    QCOMPARE(sim.requests, QStringList{request});
    QCOMPARE(sim.unit.module(1).switchState, after);

    // And mbpoll reads back what it made of the breaker.
    const Finished readBack = run(mbpoll(), mbpollArguments(sim.line.portPath(), "0x1704"));
    QVERIFY(readBack.ok);
    QCOMPARE(printedValue(readBack.out, 0x1704), int(after));
}

void tst_MbPoll::pduSimServesMbpoll()
{
    if (!m_haveMbpoll)
        QSKIP("mbpoll is not installed (apt-get install mbpoll)");
    QVERIFY2(QFileInfo(pduSim()).isExecutable(), "pdu-sim is not built next to the tests");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath("unit");

    QProcess sim;
    // Module 1 opened by LVD, its disconnect value stuck at 45.0 V, and
    // switching commands acknowledged but not carried out.
    sim.start(pduSim(),
              {"--link", link, "--switch-state", "1:2", "--set", "1:0805=450", "--ignore-switch"});
    const QString port = firstLine(sim, 5000);
    QVERIFY2(port.startsWith("/dev/"), qPrintable(port));
    QCOMPARE(QFileInfo(link).symLinkTarget(), port);

    // Through the link, as an engineer would type it.
    const Finished mb = run(mbpoll(), mbpollArguments(link, "0x1704"));
    QVERIFY(mb.ok);
    QCOMPARE(printedValue(mb.out, 0x1704), 2);
    const Finished stuck = run(mbpoll(), mbpollArguments(link, "0x1805"));
    QVERIFY(stuck.ok);
    QCOMPARE(printedValue(stuck.out, 0x1805), 450);
    const Finished closed = run(mbpoll(), mbpollArguments(link, "0x1802") << "0");
    QVERIFY2(closed.out.contains("Written 1 references"), qPrintable(closed.out + closed.err));
    const Finished still = run(mbpoll(), mbpollArguments(link, "0x1704"));
    QCOMPARE(printedValue(still.out, 0x1704), 2);

    sim.terminate(); // SIGTERM
    QVERIFY(waitForExit(sim, 5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());

    const QString log = QString::fromLocal8Bit(sim.readAllStandardError());
    const QRegularExpression stamp("\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] ");
    QVERIFY2(log.contains(QRegularExpression(stamp.pattern() + "<- 55 03 17 04 00 01 CD AB\n")),
             qPrintable(log));
    QVERIFY2(log.contains(QRegularExpression(stamp.pattern() + "-> 55 03 02 00 02 08 49\n")),
             qPrintable(log));
}

void tst_MbPoll::pduSimRefusesBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    QTest::newRow("module 7 does not exist") << QStringList{"--silent", "1,7"} << "'7'";
    QTest::newRow("exception without a code") << QStringList{"--exception", "1"} << "MODULE:CODE";
    QTest::newRow("MAC of five bytes") << QStringList{"--mac", "00:11:22:33:44"} << "--mac";
    QTest::newRow("no timing and a baud rate")
        << QStringList{"--no-timing", "--baud", "9600"} << "--no-timing";
    QTest::newRow("a stuck register without its value") << QStringList{"--set", "0805"} << "--set";
    QTest::newRow("a stuck register the unit does not have")
        << QStringList{"--set", "1:0802=0"} << "register 0802";
    QTest::newRow("a stuck value beyond 16 bits")
        << QStringList{"--set", "0805=65536"} << "0 to 65535";
    QTest::newRow("a negative clock lead") << QStringList{"--clock-fast", "-5"} << "--clock-fast";
}

void tst_MbPoll::pduSimRefusesBadOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QVERIFY2(QFileInfo(pduSim()).isExecutable(), "pdu-sim is not built next to the tests");

    const Finished sim = run(pduSim(), arguments);
    QVERIFY(sim.ok);
    QVERIFY(sim.exitCode != 0);
    QVERIFY2(sim.err.contains(message), qPrintable(sim.err));
    QCOMPARE(sim.out, QString()); // no port path: a script must not go on
}

QTEST_GUILESS_MAIN(tst_MbPoll)
#include "tst_mbpoll.moc"
