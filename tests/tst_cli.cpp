// feederbench-cli, the program itself, run as a station script runs it:
// against the simulated unit on a pseudo-terminal in this process, its
// output, its exit status and what the unit received.

#include "device/journal.h"
#include "device/runrecord.h"
#include "support/childprocess.h"
#include "support/testdata.h"
#include "support/unitonline.h"
#include "support/windowdriver.h"

#include <QAction>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QSerialPortInfo>
#include <QSysInfo>
#include <QtTest>

#include <csignal>

namespace {

constexpr int kCliTimeoutMs = 20000;

QString cliProgram()
{
    return QStringLiteral(FEEDERBENCH_CLI);
}

// The sample files in a scratch working directory, the unit online.
struct Station
{
    ScratchDir dir;
    UnitOnLine unit;
    QStringList requests;

    Station()
    {
        QFile::copy(sourceDir() + QStringLiteral("/examples/config.ini"),
                    dir.path() + QStringLiteral("/config.ini"));
        QObject::connect(&unit.line, &SimLine::requestSeen, [this](const QByteArray &request) {
            requests << QString::fromLatin1(request.toHex(' ').toUpper());
        });
    }
    bool ready() const { return dir.isValid() && unit.line.isOpen(); }

    // "@port" in arguments stands for the unit's pseudo-terminal.
    QStringList withPort(QStringList arguments) const
    {
        arguments.replaceInStrings(QStringLiteral("@port"), unit.line.portPath());
        return arguments;
    }
    Finished run(const QStringList &arguments)
    {
        return runProgram(cliProgram(), withPort(arguments), kCliTimeoutMs);
    }
};

// "results/2/outcome" in a JSON document.
QJsonValue at(const QJsonValue &root, const QString &path)
{
    QJsonValue v = root;
    for (const QString &key : path.split(QLatin1Char('/'))) {
        bool isIndex = false;
        const int index = key.toInt(&isIndex);
        v = isIndex ? v.toArray().at(index) : v.toObject().value(key);
    }
    return v;
}

QString pduSimProgram()
{
    return QDir(QCoreApplication::applicationDirPath())
        .filePath(QStringLiteral("../tools/pdu-sim"));
}

// The newest run in the record the window keeps (config.ini's [journal] of
// the working directory), with its steps.
struct NewestRun
{
    int runs = 0;
    RunRow run;
    QVector<RunStepRow> steps;
};

NewestRun newestRun()
{
    NewestRun newest;
    Journal journal(JournalOptions::fromConfig());
    RunRecord record(journal);
    QString error;
    const QVector<RunRow> runs = record.runs(RunFilter(), &error);
    if (!error.isEmpty())
        qWarning("record: %s", qPrintable(error));
    newest.runs = runs.size();
    if (!runs.isEmpty()) {
        newest.run = runs.first();
        newest.steps = record.steps(newest.run.id, &error);
    }
    return newest;
}

const QStringList kSampleListOnModule1 = framesWithCrc({
    "55 03 17 04 00 01", "55 03 17 0F 00 01",                      // status
    "55 03 18 05 00 01", "55 03 18 06 00 01", "55 03 18 0E 00 01", // thresholds
    "55 03 18 08 00 01", "55 03 18 09 00 01", "55 03 18 0A 00 01", // time windows
    "55 03 18 0B 00 01", "55 03 18 0C 00 01", "55 03 18 0D 00 01",
    "55 03 18 0F 00 04", // clock
});

} // namespace

class tst_Cli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void commands_data();
    void commands();
    void jsonIsOneDocument_data();
    void jsonIsOneDocument();
    void againstPduSim_data();
    void againstPduSim();
    void serviceCommands_data();
    void serviceCommands();
    void theRecordIsTheWindows();
    void verboseShowsTheTraffic();
    void ctrlCEndsAfterTheExchangeInProgress();
    void ctrlCAbortsATestOnRecord();
    void aLostLineEndsTheRun();
    void portsAreTheSystems();
};

void tst_Cli::initTestCase()
{
    QVERIFY2(QFileInfo(cliProgram()).isExecutable(), qPrintable(cliProgram()));
    // The window's name, as the program has: the window in this process and
    // the command line then keep one provisioning record, as on a bench.
    QCoreApplication::setApplicationName(QStringLiteral("feederbench"));
}

void tst_Cli::commands_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<UnitFault>("fault");
    QTest::addColumn<int>("faultModule");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("out"); // each is in standard output
    QTest::addColumn<QString>("err");     // in standard error; empty: nothing there
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<int>("module1StateAfter"); // -1: not looked at

    const QStringList none;
    QTest::newRow("read 0704 of module 1: closed, exit 0")
        << QStringList{"read", "--port", "@port", "--module", "1", "0704"} << NoUnitFault << 0 << 0
        << QStringList{"---------模块1 读测试-------------", "开关状态:0\n\t合闸",
                       "合计1项：成功1，无应答0，异常应答0，校验错误0"}
        << QString() << framesWithCrc({"55 03 17 04 00 01"}) << 0;
    QTest::newRow("read of the whole sample list, group by group, as the window reads 所有")
        << QStringList{"read", "--port", "@port", "--module", "1"} << NoUnitFault << 0 << 0
        << QStringList{"===========================\n开关状态:0", "保护状态:0000000000000000",
                       "合计12项：成功12"}
        << QString() << kSampleListOnModule1 << 0;
    QTest::newRow("read on modules 0 and 10, each under its banner")
        << QStringList{"--module=0,10", "read", "070F", "--port", "@port"} << NoUnitFault << 0 << 0
        << QStringList{"---------模块0 读测试-------------\n保护状态:",
                       "---------模块10 读测试-------------\n保护状态:", "合计2项：成功2"}
        << QString() << framesWithCrc({"55 03 07 0F 00 01", "55 03 A7 0F 00 01"}) << 0;
    QTest::newRow("a silent module fails the unit: exit 1")
        << QStringList{"read", "--port", "@port", "--module", "2", "0704", "080E"} << Silent << 2
        << 1 << QStringList{"开关状态:没有应答!!", "过流阈值:没有应答!!", "无应答2"} << QString()
        << framesWithCrc({"55 03 27 04 00 01", "55 03 28 0E 00 01"}) << 0;
    QTest::newRow("an exception reply fails the unit")
        << QStringList{"read", "--port", "@port", "--module", "1", "0805"} << Exception02 << 1 << 1
        << QStringList{"低压脱离值:异常应答 02 非法数据地址", "异常应答1"} << QString()
        << framesWithCrc({"55 03 18 05 00 01"}) << 0;
    QTest::newRow("a corrupted CRC fails the unit")
        << QStringList{"read", "--port", "@port", "0704"} << CorruptCrc << 0 << 1
        << QStringList{"---------模块0 读测试-------------", "开关状态:应答校验错误"} << QString()
        << framesWithCrc({"55 03 07 04 00 01"}) << 0;
    QTest::newRow("a register the list lacks: exit 2, nothing sent")
        << QStringList{"read", "--port", "@port", "0704", "0999"} << NoUnitFault << 0 << 2 << none
        << "寄存器0x0999未在配置中" << none << 0;
    QTest::newRow("a group header is not read")
        << QStringList{"read", "--port", "@port", "0"} << NoUnitFault << 0 << 2 << none
        << "寄存器0x0000是分组“状态信息”的标题" << none << 0;
    QTest::newRow("open module 1: the breaker opens, exit 0")
        << QStringList{"switch", "open", "--port", "@port", "--module", "1"} << NoUnitFault << 0
        << 0 << QStringList{"模块[1]分闸成功"} << QString() << framesWithCrc({"55 06 18 03 00 01"})
        << 1;
    QTest::newRow("close all modules in turn, by the button's own word")
        << QStringList{"switch", "合闸", "--port", "@port", "--module", "all"} << NoUnitFault << 0
        << 0
        << QStringList{"---------合闸0-------------\n模块[0]合闸成功",
                       "---------合闸10-------------\n模块[10]合闸成功", "合计7项：成功7"}
        << QString()
        << framesWithCrc({"55 06 08 02 00 00", "55 06 18 02 00 00", "55 06 28 02 00 00",
                          "55 06 38 02 00 00", "55 06 48 02 00 00", "55 06 58 02 00 00",
                          "55 06 A8 02 00 00"})
        << 0;
    QTest::newRow("a silent module in an all-modules run: the rest go on, exit 1")
        << QStringList{"switch", "remote-on", "--port", "@port", "--module", "all"} << Silent << 3
        << 1 << QStringList{"模块[3]enable远程分合闸:没有应答!!", "模块[10]: enable远程分合闸成功"}
        << QString()
        << framesWithCrc({"55 06 08 01 00 01", "55 06 18 01 00 01", "55 06 28 01 00 01",
                          "55 06 38 01 00 01", "55 06 48 01 00 01", "55 06 58 01 00 01",
                          "55 06 A8 01 00 01"})
        << 0;
    QTest::newRow("switch without --module switches nothing")
        << QStringList{"switch", "open", "--port", "@port"} << NoUnitFault << 0 << 2 << none
        << "switch 命令需要 --module" << none << 0;
    QTest::newRow("an unknown switching command")
        << QStringList{"switch", "explode", "--port", "@port", "--module", "1"} << NoUnitFault << 0
        << 2 << none << "未知的开关命令“explode”" << none << 0;
    QTest::newRow("module 7 is no module of the unit")
        << QStringList{"switch", "open", "--port", "@port", "--module", "1,7"} << NoUnitFault << 0
        << 2 << none << "--module：“7”不是模块号" << none << 0;
    QTest::newRow("an unknown option")
        << QStringList{"read", "--port", "@port", "--bogus"} << NoUnitFault << 0 << 2 << none
        << "未知选项 --bogus" << none << 0;
    QTest::newRow("an option of another command")
        << QStringList{"ports", "--module", "1"} << NoUnitFault << 0 << 2 << none
        << "选项 --module 不能用于 ports 命令" << none << 0;
    QTest::newRow("no command") << QStringList{"--port", "@port"} << NoUnitFault << 0 << 2 << none
                                << "没有给出命令" << none << 0;
    QTest::newRow("a pseudo-terminal carries no parity: refused, nothing sent")
        << QStringList{"read", "--port", "@port", "--parity", "even"} << NoUnitFault << 0 << 2
        << none << "不支持校验位“偶校验”" << none << 0;
    QTest::newRow("no such port") << QStringList{"read", "--port", "/dev/feederbench-no-such-port"}
                                  << NoUnitFault << 0 << 2 << none << "打开串口失败！\n没有串口"
                                  << none << 0;
    QTest::newRow("a config file that is not there")
        << QStringList{"switch",   "open", "--port",   "@port",
                       "--module", "1",    "--config", "elsewhere.ini"}
        << NoUnitFault << 0 << 2 << none << "找不到设备列表文件 elsewhere.ini" << none << 0;
    QTest::newRow("a test needs the unit's serial number: nothing sent")
        << QStringList{"test", "--port", "@port"} << NoUnitFault << 0 << 2 << none
        << "test 命令需要 --sn" << none << 0;
    QTest::newRow("a test without plan.ini: exit 2, nothing sent")
        << QStringList{"test", "--port", "@port", "--sn", "PDU-T1"} << NoUnitFault << 0 << 2 << none
        << "plan.ini" << none << 0;
    QTest::newRow("help: on standard output, exit 0")
        << QStringList{"read", "--help"} << NoUnitFault << 0 << 0
        << QStringList{"用法：feederbench-cli", "退出状态："} << QString() << none << 0;
}

void tst_Cli::commands()
{
    QFETCH(QStringList, arguments);
    QFETCH(UnitFault, fault);
    QFETCH(int, faultModule);
    QFETCH(int, exitCode);
    QFETCH(QStringList, out);
    QFETCH(QString, err);
    QFETCH(QStringList, requests);
    QFETCH(int, module1StateAfter);

    Station station;
    QVERIFY(station.ready());
    station.unit.unit.module(1).switchState = 0;
    breakUnit(station.unit.unit, faultModule, fault);

    const Finished cli = station.run(arguments);
    QVERIFY2(cli.ok, "feederbench-cli did not finish");
    QVERIFY2(cli.exitCode == exitCode, qPrintable(cli.out + cli.err));
    for (const QString &text : out)
        QVERIFY2(cli.out.contains(text), qPrintable(text + QStringLiteral(" not in:\n") + cli.out));
    if (err.isEmpty())
        QCOMPARE(cli.err, QString());
    else
        QVERIFY2(cli.err.contains(err), qPrintable(cli.err));
    QCOMPARE(station.requests, requests);
    if (module1StateAfter >= 0)
        QCOMPARE(int(station.unit.unit.module(1).switchState), module1StateAfter);
}

void tst_Cli::jsonIsOneDocument_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<UnitFault>("fault");
    QTest::addColumn<int>("faultModule");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QVariantMap>("expected"); // path in the document -> value

    QTest::newRow("read of the sample list")
        << QStringList{"read", "--port", "@port", "--module", "1", "--json"} << NoUnitFault << 0
        << 0
        << QVariantMap{{"command", "read"},
                       {"status", "passed"},
                       {"exitCode", 0},
                       {"results/0/module", 1},
                       {"results/0/register", "0704"},
                       {"results/0/address", "1704"},
                       {"results/0/name", "开关状态"},
                       {"results/0/outcome", "answer"},
                       {"results/0/text", "0\n\t合闸"},
                       {"results/0/value", 0},
                       {"results/11/name", "设备时间"},
                       {"summary/total", 12},
                       {"summary/answered", 12},
                       {"exchanges/0/request", "55 03 17 04 00 01 CD AB"},
                       {"exchanges/0/outcome", "answer"},
                       {"lines/0", "---------模块1 读测试-------------"}};
    QTest::newRow("an all-modules run with a silent module")
        << QStringList{"--json", "switch", "close", "--port", "@port", "--module", "all"} << Silent
        << 2 << 1
        << QVariantMap{{"command", "switch"},
                       {"status", "failed"},
                       {"exitCode", 1},
                       {"results/1/module", 1},
                       {"results/1/outcome", "answer"},
                       {"results/2/module", 2},
                       {"results/2/command", "close"},
                       {"results/2/outcome", "no_reply"},
                       {"results/2/reason", "没有应答!!"},
                       {"summary/noReply", 1},
                       {"summary/answered", 6}};
    QTest::newRow("an exception reply with its code")
        << QStringList{"read", "--port", "@port", "--module", "4", "--json", "070F"} << Exception06
        << 4 << 1
        << QVariantMap{{"results/0/outcome", "exception"}, {"results/0/exceptionCode", 6}};
    QTest::newRow("a MAC write with the address that follows")
        << QStringList{"write-mac", "--json", "--port", "@port", "--mac", "00:39:28:90:00:0A"}
        << NoUnitFault << 0 << 0
        << QVariantMap{{"command", "write-mac"},
                       {"status", "passed"},
                       {"results/0/operation", "write_mac"},
                       {"results/0/mac", "00:39:28:90:00:0A"},
                       {"results/0/outcome", "verified"},
                       {"results/0/next", "00:39:28:90:00:0b"},
                       {"exchanges/1/outcome", "answer"}};
    QTest::newRow("a refused command line")
        << QStringList{"read", "--json", "--port", "@port", "--timeout", "0"} << NoUnitFault << 0
        << 2
        << QVariantMap{{"status", "error"},
                       {"exitCode", 2},
                       {"error", "--timeout：“0”不是 1～60000 之间的毫秒数"}};
    QTest::newRow("a port that does not open")
        << QStringList{"switch",
                       "open",
                       "--module",
                       "1",
                       "--json",
                       "--port",
                       "/dev/feederbench-no-such-port"}
        << NoUnitFault << 0 << 2 << QVariantMap{{"status", "error"}, {"exitCode", 2}};
}

void tst_Cli::jsonIsOneDocument()
{
    QFETCH(QStringList, arguments);
    QFETCH(UnitFault, fault);
    QFETCH(int, faultModule);
    QFETCH(int, exitCode);
    QFETCH(QVariantMap, expected);

    Station station;
    QVERIFY(station.ready());
    breakUnit(station.unit.unit, faultModule, fault);
    const Finished cli = station.run(arguments);
    QVERIFY(cli.ok);
    QCOMPARE(cli.exitCode, exitCode);

    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(cli.out.toUtf8(), &error);
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString() + cli.out));
    QVERIFY(document.isObject());
    QCOMPARE(document.object().value("program").toString(), QStringLiteral("feederbench-cli"));
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const QJsonValue value = at(document.object(), it.key());
        QVERIFY2(value.toVariant() == it.value(),
                 qPrintable(it.key() + QStringLiteral(" is ") + value.toVariant().toString()));
    }
}

// The pdu-sim program as the unit: the test plan through to its verdict and
// its record, and a two-wire line that hands every request back.
void tst_Cli::againstPduSim_data()
{
    QTest::addColumn<QStringList>("simArguments");
    QTest::addColumn<QStringList>("arguments"); // "@examples": the sample files; --json added
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QVariantMap>("expected"); // path in the document -> value
    QTest::addColumn<QString>("onRecord");     // the run's verdict there; empty: no run

    const QStringList plain;
    const QStringList samplePlan{"--plan", "@examples/plan.ini"};
    QTest::newRow("test: a unit as it leaves the factory passes the sample plan")
        << plain << QStringList{"test", "--sn", "PDU-P1"} + samplePlan << 0
        << QVariantMap{{"command", "test"},
                       {"status", "passed"},
                       {"run/sn", "PDU-P1"},
                       {"run/plan", "PDU出厂检验"},
                       {"run/verdict", "pass"},
                       {"run/recorded", true},
                       {"run/steps/0/type", "read"},
                       {"run/steps/0/module", 0},
                       {"run/steps/0/outcome", "pass"},
                       {"run/steps/10/name", "低压脱离值"},
                       {"run/steps/10/measured", "43.2"},
                       {"run/steps/15/type", "clock"},
                       {"run/steps/15/outcome", "pass"},
                       {"run/steps/16", QVariant()},
                       {"results", QVariant()},
                       {"lineStats/noReply", 0}}
        << "pass";
    QTest::newRow("test: a threshold out of its limits fails the unit, the plan stops there")
        << QStringList{"--set", "1:0805=500"} << QStringList{"test", "--sn", "PDU-F1"} + samplePlan
        << 1
        << QVariantMap{{"status", "failed"},
                       {"exitCode", 1},
                       {"run/verdict", "fail"},
                       {"run/recorded", true},
                       {"run/steps/9/outcome", "pass"},
                       {"run/steps/10/name", "低压脱离值"},
                       {"run/steps/10/measured", "50.0"},
                       {"run/steps/10/limits", "42.0～44.0"},
                       {"run/steps/10/outcome", "fail"},
                       {"run/steps/11", QVariant()}}
        << "fail";
    QTest::newRow("test through a line that echoes, with --echo")
        << QStringList{"--echo"} << QStringList{"test", "--sn", "PDU-E1", "--echo"} + samplePlan
        << 0
        << QVariantMap{{"run/verdict", "pass"},
                       {"run/steps/15/outcome", "pass"},
                       {"lineStats/echoFaults", 0},
                       {"exchanges/0/echo", withCrc("55 03 07 0F 00 01")}}
        << "pass";
    QTest::newRow("--echo: reads take the echo off and decode the reply")
        << QStringList{"--echo"} << QStringList{"read", "--echo", "--module", "1", "0704", "0805"}
        << 0
        << QVariantMap{{"status", "passed"},
                       {"results/0/value", 0},
                       {"results/1/text", "43.2"},
                       {"exchanges/0/request", withCrc("55 03 17 04 00 01")},
                       {"exchanges/0/echo", withCrc("55 03 17 04 00 01")},
                       {"exchanges/0/reply", withCrc("55 03 02 00 00")},
                       {"lineStats/answers", 2},
                       {"lineStats/echoFaults", 0}}
        << QString();
    QTest::newRow("--echo: a write's echo and its reply are the same bytes, each taken once")
        << QStringList{"--echo"} << QStringList{"switch", "open", "--echo", "--module", "1"} << 0
        << QVariantMap{{"results/0/outcome", "answer"},
                       {"exchanges/0/echo", withCrc("55 06 18 03 00 01")},
                       {"exchanges/0/reply", withCrc("55 06 18 03 00 01")}}
        << QString();
    QTest::newRow("--echo on a line whose echo comes back wrong: 回显不符, exit 1")
        << QStringList{"--echo-corrupt"} << QStringList{"read", "--echo", "--module", "1", "0704"}
        << 1
        << QVariantMap{{"status", "failed"},
                       {"results/0/outcome", "invalid"},
                       {"results/0/reason", "回显不符"},
                       {"lineStats/echoFaults", 1},
                       {"lineStats/answers", 0}}
        << QString();
}

void tst_Cli::againstPduSim()
{
    QFETCH(QStringList, simArguments);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QVariantMap, expected);
    QFETCH(QString, onRecord);

    Station station; // its working directory and config.ini; pdu-sim is the unit
    QVERIFY(station.ready());
    QProcess sim;
    sim.start(pduSimProgram(), simArguments);
    const QString port = firstLine(sim, 5000);
    QVERIFY2(port.startsWith("/dev/"), qPrintable(port));
    arguments.replaceInStrings(QStringLiteral("@examples"), sourceDir() + "/examples");
    const Finished cli = runProgram(cliProgram(), arguments + QStringList{"--port", port, "--json"},
                                    kCliTimeoutMs);
    sim.terminate();
    QVERIFY(waitForExit(sim, 5000));
    QVERIFY(cli.ok);
    QVERIFY2(cli.exitCode == exitCode, qPrintable(cli.out + cli.err));

    QJsonParseError error{};
    const QJsonObject document = QJsonDocument::fromJson(cli.out.toUtf8(), &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString() + cli.out));
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const QJsonValue value = at(document, it.key());
        QVERIFY2(value.toVariant() == it.value(),
                 qPrintable(it.key() + QStringLiteral(" is ") + value.toVariant().toString()));
    }

    // The run the document shows is the one on record, where the window keeps its runs.
    const NewestRun newest = newestRun();
    if (onRecord.isEmpty()) {
        QCOMPARE(newest.runs, 0);
        return;
    }
    QCOMPARE(newest.runs, 1);
    QCOMPARE(newest.run.verdict, onRecord);
    QCOMPARE(newest.run.sn, document["run"]["sn"].toString());
    QCOMPARE(newest.run.planSha256, document["run"]["planSha256"].toString());
    QCOMPARE(newest.run.bench, QSysInfo::machineHostName());
    const QJsonArray steps = document["run"]["steps"].toArray();
    QCOMPARE(newest.steps.size(), steps.size());
    for (int i = 0; i < steps.size(); ++i) {
        QCOMPARE(newest.steps.at(i).measured, steps.at(i)["measured"].toString());
        QCOMPARE(newest.steps.at(i).outcome, steps.at(i)["outcome"].toString());
    }
}

void tst_Cli::serviceCommands_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("macCsv"); // written to mac.csv when not empty
    QTest::addColumn<int>("returnCode");    // the unit's service return code
    QTest::addColumn<bool>("forgetMac");    // the unit acknowledges a MAC write and keeps its own
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("out");
    QTest::addColumn<QString>("err");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QByteArray>("macAfter"); // the unit's address afterwards

    const QByteArray unitMac = QByteArray::fromHex("0039289000ab");
    const QStringList none;
    const QString readRequest = asSeen(servicePacket(0x98));
    QTest::newRow("read-mac: the unit's address, exit 0")
        << QStringList{"read-mac", "--port", "@port", "--sn", "PDU-T1"} << QByteArray() << 0
        << false << 0
        << QStringList{"---------读取mac-------------", "读取的MAC地址：00:39:28:90:00:AB"}
        << QString() << QStringList{readRequest} << unitMac;
    QTest::newRow("write-mac --mac: written and read back, exit 0")
        << QStringList{"write-mac", "--port", "@port", "--mac", "00:39:28:90:00:05"} << QByteArray()
        << 0 << false << 0
        << QStringList{"设置mac=00:39:28:90:00:05", "下个mac=00:39:28:90:00:06", "MAC读回校验通过"}
        << QString()
        << QStringList{asSeen(servicePacket(0x99, QByteArray::fromHex("003928900005"))),
                       readRequest}
        << QByteArray::fromHex("003928900005");
    QTest::newRow("write-mac --sn: the address mac.csv gives the unit")
        << QStringList{"write-mac", "--port", "@port", "--sn", "PDU-T2"}
        << QByteArray("PDU-T1,00:39:28:90:00:06\nPDU-T2,00:39:28:90:00:07\n") << 0 << false << 0
        << QStringList{"设置mac=00:39:28:90:00:07", "MAC读回校验通过"} << QString()
        << QStringList{asSeen(servicePacket(0x99, QByteArray::fromHex("003928900007"))),
                       readRequest}
        << QByteArray::fromHex("003928900007");
    QTest::newRow("a serial number mac.csv lacks: nothing sent, exit 2")
        << QStringList{"write-mac", "--port", "@port", "--sn", "PDU-T9"}
        << QByteArray("PDU-T1,00:39:28:90:00:06\n") << 0 << false << 2 << none
        << "sn=PDU-T9 not find!!!" << none << unitMac;
    QTest::newRow("an address outside the line's block: refused, nothing sent, exit 1")
        << QStringList{"write-mac", "--port", "@port", "--mac", "00:11:22:33:44:55"} << QByteArray()
        << 0 << false << 1 << QStringList{"00:11:22:33:44:55"} << QString() << none << unitMac;
    QTest::newRow("a multicast address: refused, exit 1")
        << QStringList{"write-mac", "--port", "@port", "--mac", "01:39:28:90:00:05"} << QByteArray()
        << 0 << false << 1 << QStringList{"组播"} << QString() << none << unitMac;
    QTest::newRow("a unit that keeps its old address: the read-back fails, exit 1")
        << QStringList{"write-mac", "--port", "@port", "--mac", "00:39:28:90:00:05"} << QByteArray()
        << 0 << true << 1 << QStringList{"MAC读回校验失败：读回 00:39:28:90:00:ab"} << QString()
        << QStringList{asSeen(servicePacket(0x99, QByteArray::fromHex("003928900005"))),
                       readRequest}
        << unitMac;
    QTest::newRow("reset: the unit's factory address back, exit 0")
        << QStringList{"reset", "--port", "@port"} << QByteArray() << 0 << false << 0
        << QStringList{"---------恢复出厂默认-------------", "serial_query成功"} << QString()
        << QStringList{asSeen(servicePacket(0x97))} << QByteArray();
    QTest::newRow("the unit reports an error: reset fails, exit 1")
        << QStringList{"reset", "--port", "@port"} << QByteArray() << 4 << false << 1
        << QStringList{"设备返回错误：04"} << QString() << QStringList{asSeen(servicePacket(0x97))}
        << unitMac;
    QTest::newRow("--sn and --mac together")
        << QStringList{"write-mac", "--port",           "@port", "--sn", "PDU-T1",
                       "--mac",     "00:39:28:90:00:05"}
        << QByteArray() << 0 << false << 2 << none << "write-mac 需要 --sn 或 --mac 中的一个"
        << none << unitMac;
    QTest::newRow("a module is no part of a service command")
        << QStringList{"read-mac", "--port", "@port", "--module", "1"} << QByteArray() << 0 << false
        << 2 << none << "选项 --module 不能用于 read-mac 命令" << none << unitMac;
}

void tst_Cli::serviceCommands()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, macCsv);
    QFETCH(int, returnCode);
    QFETCH(bool, forgetMac);
    QFETCH(int, exitCode);
    QFETCH(QStringList, out);
    QFETCH(QString, err);
    QFETCH(QStringList, requests);
    QFETCH(QByteArray, macAfter);

    Station station;
    QVERIFY(station.ready());
    if (!macCsv.isEmpty())
        QVERIFY(station.dir.write(QStringLiteral("mac.csv"), macCsv));
    PduUnit &unit = station.unit.unit;
    unit.setMac(QByteArray::fromHex("0039289000ab"));
    unit.serviceReturnCode = quint8(returnCode);
    unit.forgetMacWrites = forgetMac;

    const Finished cli = station.run(arguments);
    QVERIFY2(cli.ok, "feederbench-cli did not finish");
    QVERIFY2(cli.exitCode == exitCode, qPrintable(cli.out + cli.err));
    for (const QString &text : out)
        QVERIFY2(cli.out.contains(text), qPrintable(text + QStringLiteral(" not in:\n") + cli.out));
    if (err.isEmpty())
        QCOMPARE(cli.err, QString());
    else
        QVERIFY2(cli.err.contains(err), qPrintable(cli.err));
    QCOMPARE(station.requests, requests);
    QCOMPARE(unit.mac(), macAfter.isEmpty() ? PduUnit::factoryMac() : macAfter);
}

// An address the window gave one unit is refused by the command line for
// another, and the command line's write is in the record the window keeps,
// under the window's bench name.
void tst_Cli::theRecordIsTheWindows()
{
    BenchRig rig(QByteArray(), "PDU-A,00:39:28:90:00:21\n");
    QVERIFY(rig.ready());
    QLineEdit *sn = widget<QLineEdit>(rig.window(), "lineEdit_sn");
    sn->setText(QStringLiteral("PDU-A"));
    QTest::keyClick(sn, Qt::Key_Return);
    rig.click("pushButton_wrmac");
    QCOMPARE(rig.unit().mac(), QByteArray::fromHex("003928900021"));
    rig.clearRequests();

    // The window lets go of the port, as an engineer closes it before a
    // station script takes over; its working folder holds the sample config.ini.
    widget<QAction>(rig.window(), "actionClose")->trigger();
    const QString port = rig.line().portPath();
    QFile table(QStringLiteral("other.csv"));
    QVERIFY(table.open(QIODevice::WriteOnly));
    table.write("PDU-B,00:39:28:90:00:21\nPDU-A,00:39:28:90:00:21\n");
    table.close();
    const Finished refused = runProgram(
        cliProgram(), {"write-mac", "--port", port, "--sn", "PDU-B", "--mac-table", "other.csv"});
    QVERIFY(refused.ok);
    QVERIFY2(refused.exitCode == 1, qPrintable(refused.out + refused.err));
    QVERIFY2(refused.out.contains(QStringLiteral("写入 SN PDU-A，未写入")),
             qPrintable(refused.out));
    QVERIFY(rig.requestsSeen().isEmpty());

    // The unit the address belongs to may have it written again.
    const Finished again = runProgram(
        cliProgram(), {"write-mac", "--port", port, "--sn", "PDU-A", "--mac-table", "other.csv"});
    QVERIFY(again.ok);
    QVERIFY2(again.exitCode == 0, qPrintable(again.out + again.err));
    QCOMPARE(rig.requestsSeen().size(), 2); // the write and its read-back

    JournalOptions options = JournalOptions::fromConfig();
    Journal journal(options);
    QString error;
    const QVector<JournalRow> rows = journal.rows(QString(), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(rows.size() >= 3);
    QCOMPARE(rows.at(0).sn, QStringLiteral("PDU-A"));
    QCOMPARE(rows.at(0).result, QString::fromLatin1(kResultVerified));
    QCOMPARE(rows.at(1).sn, QStringLiteral("PDU-B"));
    QCOMPARE(rows.at(1).result, QString::fromLatin1(kResultRefused));
    QCOMPARE(rows.at(0).bench, QSysInfo::machineHostName());
}

void tst_Cli::verboseShowsTheTraffic()
{
    Station station;
    QVERIFY(station.ready());
    const Finished cli
        = station.run({"read", "--port", "@port", "--module", "1", "--verbose", "0704"});
    QVERIFY(cli.ok);
    QCOMPARE(cli.exitCode, 0);
    // The traffic window's lines and its status bar's counters, on standard
    // error; the results stay on standard output.
    const QString stamp
        = QStringLiteral("\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]");
    const QRegularExpression traffic(
        QStringLiteral("^%1\\[发送\\]: 55 03 17 04 00 01 CD AB \n"
                       "%1\\[接收\\]: 55 03 02 00 00 [0-9a-f]{2} "
                       "[0-9a-f]{2} \n"
                       "请求 1，成功 1，失败 0，平均响应 [0-9.]+ ms\n$")
            .arg(stamp));
    QVERIFY2(traffic.match(cli.err).hasMatch(), qPrintable(cli.err));
    QVERIFY(cli.out.contains(QStringLiteral("开关状态:0")));
    QVERIFY(!cli.out.contains(QStringLiteral("[发送]")));
}

// The first request's reply is on its way when Ctrl+C comes: it is still
// read and shown, and nothing more is sent.
void tst_Cli::ctrlCEndsAfterTheExchangeInProgress()
{
    Station station;
    QVERIFY(station.ready());
    station.unit.line.setBaudRate(9600);
    station.unit.line.setTurnaroundMs(300);
    QProcess cli;
    QObject::connect(&station.unit.line, &SimLine::requestSeen, &cli,
                     [&cli] { ::kill(pid_t(cli.processId()), SIGINT); });
    cli.start(cliProgram(), station.withPort({"read", "--port", "@port", "--module", "1"}));
    const Finished ended = finishedOf(cli, waitForExit(cli, kCliTimeoutMs));
    QVERIFY(ended.ok);
    QCOMPARE(ended.exitCode, 2);
    QCOMPARE(station.requests, kSampleListOnModule1.mid(0, 1));
    QVERIFY2(
        ended.out.contains(QStringLiteral("开关状态:0\n\t合闸\n已停止：完成 1/12\n合计1项：成功1")),
        qPrintable(ended.out));
}

// Ctrl+C in the middle of a test: the exchange in progress ends, nothing
// more is sent, and the run is on record as aborted with what it had done.
void tst_Cli::ctrlCAbortsATestOnRecord()
{
    Station station;
    QVERIFY(station.ready());
    QVERIFY(QFile::copy(sourceDir() + QStringLiteral("/examples/plan.ini"),
                        station.dir.path() + QStringLiteral("/plan.ini")));
    station.unit.line.setBaudRate(9600);
    station.unit.line.setTurnaroundMs(300);
    QProcess cli;
    QObject::connect(&station.unit.line, &SimLine::requestSeen, &cli, [&cli, &station] {
        if (station.requests.size() == 3)
            ::kill(pid_t(cli.processId()), SIGINT);
    });
    cli.start(cliProgram(),
              station.withPort({"test", "--port", "@port", "--sn", "PDU-C1", "--json"}));
    const Finished ended = finishedOf(cli, waitForExit(cli, kCliTimeoutMs));
    QVERIFY(ended.ok);
    QVERIFY2(ended.exitCode == 2, qPrintable(ended.out + ended.err));
    QCOMPARE(station.requests.size(), 3);

    const QJsonObject document = QJsonDocument::fromJson(ended.out.toUtf8()).object();
    QCOMPARE(document["status"].toString(), QStringLiteral("aborted"));
    QCOMPARE(document["abortReason"].toString(), QStringLiteral("Ctrl+C"));
    QCOMPARE(document["run"]["verdict"].toString(), QStringLiteral("aborted"));
    QVERIFY(document["run"]["recorded"].toBool());
    const QJsonArray steps = document["run"]["steps"].toArray();
    QVERIFY(steps.size() >= 3);
    QCOMPARE(steps.at(2)["outcome"].toString(), QStringLiteral("pass"));
    QCOMPARE(steps.last()["outcome"].toString(), QStringLiteral("aborted"));

    const NewestRun newest = newestRun();
    QCOMPARE(newest.runs, 1);
    QCOMPARE(newest.run.sn, QStringLiteral("PDU-C1"));
    QCOMPARE(newest.run.verdict, QString::fromLatin1(kVerdictAborted));
    QCOMPARE(newest.steps.size(), steps.size());
}

// The unit (the pdu-sim program, whose exit closes the line for good) hangs
// up after its second reply: the read ends there, says why, and the tool, not
// the unit, is what failed.
void tst_Cli::aLostLineEndsTheRun()
{
    Station station;
    QVERIFY(station.ready());
    QProcess sim;
    sim.start(pduSimProgram(), {"--hang-up-after", "2"});
    const QString port = firstLine(sim, 5000);
    QVERIFY2(port.startsWith("/dev/"), qPrintable(port));
    const Finished cli
        = runProgram(cliProgram(), {"read", "--port", port, "--module", "1", "--json"});
    QVERIFY(waitForExit(sim, 5000));
    QVERIFY(cli.ok);
    QCOMPARE(cli.exitCode, 2);
    const QJsonObject document = QJsonDocument::fromJson(cli.out.toUtf8()).object();
    QCOMPARE(document["status"].toString(), QStringLiteral("aborted"));
    // The port's own words: a pseudo-terminal reports the hang-up as a read error.
    QVERIFY2(document["abortReason"].toString().startsWith(QStringLiteral("串口 ")),
             qPrintable(cli.out));
    QVERIFY2(cli.err.contains(document["abortReason"].toString()), qPrintable(cli.err));
    QCOMPARE(document["summary"]["answered"].toInt(), 2);
    // The third request may have gone out before the hang-up was seen: it is
    // listed as abandoned, never as an answer or a failure of the unit.
    const QJsonArray exchanges = document["exchanges"].toArray();
    QVERIFY(exchanges.size() == 2 || exchanges.size() == 3);
    if (exchanges.size() == 3)
        QCOMPARE(exchanges.at(2)["outcome"].toString(), QStringLiteral("abandoned"));
    QCOMPARE(document["lines"].toArray().at(document["lines"].toArray().size() - 2).toString(),
             QStringLiteral("串口已断开，操作中止"));
}

void tst_Cli::portsAreTheSystems()
{
    const Finished cli = runProgram(cliProgram(), {"ports", "--json"});
    QVERIFY(cli.ok);
    QCOMPARE(cli.exitCode, 0);
    const QJsonArray listed = QJsonDocument::fromJson(cli.out.toUtf8()).object()["ports"].toArray();
    QStringList names;
    for (const QJsonValue &port : listed)
        names << port["name"].toString();
    QStringList system;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        system << info.portName();
    QCOMPARE(names, system);
}

QTEST_MAIN(tst_Cli)
#include "tst_cli.moc"
