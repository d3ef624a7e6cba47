// 一键测试 end to end: the sample plan through the window against the
// simulated unit, sound and with its fault switches on; the result lines,
// the verdict in the window, and the unit's run on record with its steps;
// the runs, their steps, the day's yield and their export in the window.

#include "device/journal.h"
#include "device/runrecord.h"
#include "support/privaterecord.h"
#include "support/testdata.h"
#include "support/unitonline.h"
#include "support/windowdriver.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDateEdit>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QtTest>

#include <functional>
#include <limits>
#include <memory>

namespace {

const QString kSn = QStringLiteral("PDU2411A0002"); // in the sample mac.csv
const QDateTime kNow(QDate(2026, 12, 7), QTime(10, 30, 0));

QByteArray samplePlan()
{
    QFile file(sourceDir() + QStringLiteral("/examples/plan.ini"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The sample plan with its [plan] keys set otherwise.
QByteArray samplePlanWith(const QByteArray &from, const QByteArray &to)
{
    QByteArray plan = samplePlan();
    plan.replace(from, to);
    return plan;
}

// The lines the sample plan gives a sound unit, by check number.
const QStringList kSoundLines = {
    "[1/16] 模块0 保护状态 0000000000000000（清零003F）合格",
    "[2/16] 模块1 保护状态 0000000000000000（清零003F）合格",
    "[3/16] 模块2 保护状态 0000000000000000（清零003F）合格",
    "[4/16] 模块3 保护状态 0000000000000000（清零003F）合格",
    "[5/16] 模块4 保护状态 0000000000000000（清零003F）合格",
    "[6/16] 模块5 保护状态 0000000000000000（清零003F）合格",
    "[7/16] 模块10 保护状态 0000000000000000（清零003F）合格",
    "[8/16] 模块1 分闸 开关状态1 远程分闸（应不为0）合格",
    "[9/16] 模块1 合闸 开关状态0 合闸（应为0）合格",
    "[10/16] 模块1 开关状态 0 合闸（应为0）合格",
    "[11/16] 模块1 低压脱离值 43.2（42.0～44.0）合格",
    "[12/16] 模块1 脱离恢复值 48.0（47.0～49.0）合格",
    "[13/16] 模块1 过流阈值 100.0（95.0～105.0）合格",
    "[14/16] 模块1 写时段1小时 读回8（写入8）合格",
    "[15/16] 模块1 写时段1分钟 读回30（写入30）合格",
    "[16/16] 模块1 设备时间 误差0秒（±2秒）合格",
};

const QString kHeader = QStringLiteral("=========一键测试：PDU出厂检验  SN PDU2411A0002=========");

// The sound lines with some replaced: number -> line.
QStringList soundLinesWith(const QMap<int, QString> &changed, int upTo = 16)
{
    QStringList lines;
    for (int n = 1; n <= upTo; ++n)
        lines << changed.value(n, kSoundLines.at(n - 1));
    return lines;
}

using UnitSetUp = std::function<void(PduUnit &)>;

// The window's clock and the unit's stand still at the same moment, so a
// clock step reads back exactly what it wrote.
void stopClocks(BenchRig &rig)
{
    rig.unit().setHostClock([] { return kNow; });
    MainWindowProbe::setClock(rig.window(), kNow);
}

// Types the serial number as a scanner does: the text, then Enter.
void scan(MainWindow &w, const QString &sn)
{
    auto *field = widget<QLineEdit>(w, "lineEdit_sn");
    field->setFocus();
    field->clear();
    QTest::keyClicks(field, sn);
    QTest::keyClick(field, Qt::Key_Return);
}

void enterSn(MainWindow &w, const QString &sn)
{
    widget<QLineEdit>(w, "lineEdit_sn")->setText(sn);
}

void runPlan(MainWindow &w)
{
    widget<QAction>(w, "actionRunPlan")->trigger();
}

// The result lines from the plan's header on, the verdict line's time made
// comparable ("用时…秒").
QStringList planLines(MainWindow &w)
{
    QStringList lines = resultLines(w);
    const int header = lines.indexOf(kHeader);
    if (header < 0)
        return QStringList{QStringLiteral("(no header)")} + lines;
    lines = lines.mid(header + 1);
    static const QRegularExpression time(QStringLiteral("用时\\d+\\.\\d秒"));
    for (QString &line : lines)
        line.replace(time, QStringLiteral("用时…秒"));
    return lines;
}

QString verdictText(MainWindow &w)
{
    auto *label = widget<QLabel>(w, "labelVerdict");
    if (!label->isVisibleTo(&w))
        return QString();
    QTextDocument doc;
    doc.setHtml(label->text());
    return doc.toPlainText();
}

// The runs on record in the window's own database, newest first.
struct OnRecord
{
    QVector<RunRow> runs;
    QVector<RunStepRow> steps; // of the newest
};

OnRecord readRecord(const JournalOptions &options)
{
    OnRecord on;
    Journal journal(options);
    RunRecord record(journal);
    QString error;
    on.runs = record.runs(RunFilter(), &error);
    if (!on.runs.isEmpty())
        on.steps = record.steps(on.runs.first().id, &error);
    if (!error.isEmpty())
        qWarning("record: %s", qPrintable(error));
    return on;
}

JournalOptions localRecord()
{
    JournalOptions options;
    options.path = JournalOptions::defaultSqlitePath();
    return options;
}

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QByteArray postgresConfig(const PgServer &server, const QByteArray &bench)
{
    QFile sample(sourceDir() + QStringLiteral("/examples/config.ini"));
    sample.open(QIODevice::ReadOnly);
    return sample.readAll()
           + QStringLiteral("\n[journal]\ndriver=postgresql\nhost=%1\nport=%2\n"
                            "database=%3\nuser=%4\nbench=")
                 .arg(server.socketDir())
                 .arg(PgServer::kPort)
                 .arg(PgServer::database(), PgServer::user())
                 .toUtf8()
           + bench + "\n";
}

// A table's rows as the engineer reads them: the given columns, joined by " | ".
QStringList tableRows(const QAbstractItemModel *model, const QList<int> &columns)
{
    QStringList rows;
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList cells;
        for (int c : columns)
            cells << model->index(r, c).data().toString();
        rows << cells.join(QStringLiteral(" | "));
    }
    return rows;
}

} // namespace

Q_DECLARE_METATYPE(UnitSetUp)

class tst_TestPlan : public QObject
{
    Q_OBJECT

private slots:
    void unitThroughThePlan_data();
    void unitThroughThePlan();
    void lostLineEndsTheUnitAsAborted();
    void stopEndsTheUnitAsAborted();
    void scanStartsThePlan_data();
    void scanStartsThePlan();
    void verdictStaysUntilTheNextUnit();
    void nothingRunsWithoutASerialNumber();
    void withoutPlanTheActionSaysHow();
    void unrecordedRunSaysSo();
    void recordOnPostgres();
    void runsInTheRecordWindow_data();
    void runsInTheRecordWindow();
    void pagesAgreeWithAPlainQuery_data();
    void pagesAgreeWithAPlainQuery();
    void macAndResetSteps_data();
    void macAndResetSteps();
    void cleanupTestCase() { m_server.reset(); }

private:
    std::unique_ptr<PgServer> m_server; // started by the first test that needs one
};

void tst_TestPlan::unitThroughThePlan_data()
{
    QTest::addColumn<QByteArray>("plan");
    QTest::addColumn<UnitSetUp>("setUp");
    QTest::addColumn<QStringList>("lines"); // after the header
    QTest::addColumn<QString>("verdict");   // the label, as plain text
    QTest::addColumn<QString>("recorded");  // the verdict code on record

    const QByteArray plan = samplePlan();
    const auto sound = [](PduUnit &) {};
    const QString passed = QStringLiteral("结论：合格  SN PDU2411A0002  用时…秒");

    QTest::newRow("a unit as it leaves the factory passes")
        << plan << UnitSetUp(sound) << kSoundLines + QStringList{passed} << "合格  SN PDU2411A0002"
        << kVerdictPass;

    const QString outOfLimits = QStringLiteral("[11/16] 模块1 低压脱离值 45.0（42.0～44.0）不合格");
    QTest::newRow("a threshold out of its limits stops the plan there")
        << plan << UnitSetUp([](PduUnit &u) { u.pinnedRegisters[1].insert(0x0805, 450); })
        << soundLinesWith({{11, outOfLimits}}, 11)
               + QStringList{"结论：不合格  SN PDU2411A0002  不合格项：[11/16] 模块1 低压脱离值  "
                             "用时…秒"}
        << "不合格  SN PDU2411A0002\n[11/16] 模块1 低压脱离值" << kVerdictFail;

    const QString fastClock = QStringLiteral("[16/16] 模块1 设备时间 误差+30秒（±2秒）不合格");
    QTest::newRow("run on to collect every failure: a threshold and a fast clock")
        << samplePlanWith("stop_on_fail=true", "stop_on_fail=false") << UnitSetUp([](PduUnit &u) {
               u.pinnedRegisters[1].insert(0x0805, 450);
               u.clockAheadS = 30;
           })
        << soundLinesWith({{11, outOfLimits}, {16, fastClock}})
               + QStringList{"结论：不合格  SN PDU2411A0002  不合格项：[11/16] 模块1 低压脱离值；"
                             "[16/16] 模块1 设备时间  用时…秒"}
        << "不合格  SN PDU2411A0002\n[11/16] 模块1 低压脱离值；[16/16] 模块1 设备时间"
        << kVerdictFail;

    QTest::newRow("an open that does not take")
        << plan << UnitSetUp([](PduUnit &u) { u.ignoreSwitching = true; })
        << soundLinesWith({{8, "[8/16] 模块1 分闸 开关状态0 合闸（应不为0）不合格"}}, 8)
               + QStringList{"结论：不合格  SN PDU2411A0002  不合格项：[8/16] 模块1 分闸  用时…秒"}
        << "不合格  SN PDU2411A0002\n[8/16] 模块1 分闸" << kVerdictFail;

    QTest::newRow("a silent module fails its check, the others are read on")
        << samplePlanWith("stop_on_fail=true", "stop_on_fail=false")
        << UnitSetUp([](PduUnit &u) { u.silentModules.insert(3); })
        << soundLinesWith({{4, "[4/16] 模块3 保护状态 不合格：没有应答!!"}})
               + QStringList{"结论：不合格  SN PDU2411A0002  不合格项：[4/16] 模块3 保护状态  "
                             "用时…秒"}
        << "不合格  SN PDU2411A0002\n[4/16] 模块3 保护状态" << kVerdictFail;

    QTest::newRow("a protection flag set on module 10, named")
        << plan << UnitSetUp([](PduUnit &u) { u.module(10).protectionFlags = 0x0011; })
        << soundLinesWith({{7, "[7/16] 模块10 保护状态 0000000000010001（清零003F）不合格："
                               "应清零：短路保护 低压脱扣状态"}},
                          7)
               + QStringList{"结论：不合格  SN PDU2411A0002  不合格项：[7/16] 模块10 保护状态  "
                             "用时…秒"}
        << "不合格  SN PDU2411A0002\n[7/16] 模块10 保护状态" << kVerdictFail;

    // An enable is checked by reading it back; the run goes on past a failure.
    const QByteArray enables = "[plan]\nname=PDU出厂检验\nstop_on_fail=false\n"
                               "[step1]\ntype=switch\ncommand=lvd_off\nmodule=2,3\nsettle_ms=0\n"
                               "[step2]\ntype=delay\nms=10\n";
    QTest::newRow("an enable that stays on, found by its read-back")
        << enables << UnitSetUp([](PduUnit &u) { u.pinnedRegisters[3].insert(0x0804, 1); })
        << QStringList{"[1/3] 模块2 脱离关闭 读回0（应为0）合格",
                       "[2/3] 模块3 脱离关闭 读回1（应为0）不合格", "[3/3] 等待 10毫秒 合格",
                       "结论：不合格  SN PDU2411A0002  不合格项：[2/3] 模块3 脱离关闭  用时…秒"}
        << "不合格  SN PDU2411A0002\n[2/3] 模块3 脱离关闭" << kVerdictFail;

    QTest::newRow("a time window that does not keep what is written")
        << plan << UnitSetUp([](PduUnit &u) { u.pinnedRegisters[1].insert(0x0809, 0); })
        << soundLinesWith({{15, "[15/16] 模块1 写时段1分钟 读回0（写入30）不合格"}}, 15)
               + QStringList{"结论：不合格  SN PDU2411A0002  不合格项：[15/16] 模块1 写时段1分钟  "
                             "用时…秒"}
        << "不合格  SN PDU2411A0002\n[15/16] 模块1 写时段1分钟" << kVerdictFail;
}

void tst_TestPlan::unitThroughThePlan()
{
    QFETCH(QByteArray, plan);
    QFETCH(UnitSetUp, setUp);
    QFETCH(QStringList, lines);
    QFETCH(QString, verdict);
    QFETCH(QString, recorded);

    BenchRig rig(QByteArray(), QByteArray(), plan);
    QVERIFY(rig.ready());
    stopClocks(rig);
    setUp(rig.unit());
    MainWindow &w = rig.window();
    enterSn(w, kSn);
    runPlan(w);

    QCOMPARE(planLines(w), lines);
    QCOMPARE(verdictText(w), verdict);
    QVERIFY(!MainWindowProbe::busy(w));

    // On record: the run and every check that ran, as the window showed them.
    const OnRecord on = readRecord(localRecord());
    QCOMPARE(on.runs.size(), 1);
    const RunRow &run = on.runs.first();
    QCOMPARE(run.sn, kSn);
    QCOMPARE(run.verdict, recorded);
    QCOMPARE(run.planName, QStringLiteral("PDU出厂检验"));
    QCOMPARE(run.planSha256, sha256(plan));
    QCOMPARE(run.startMs, kNow.toMSecsSinceEpoch());
    QCOMPARE(run.port, windowPort(w)->portName());
    QCOMPARE(run.mac, QString()); // the sample plan gives no address
    const int checks = lines.size() - 1;
    QCOMPARE(run.steps, checks);
    QCOMPARE(on.steps.size(), checks);
    for (int i = 0; i < checks; ++i) {
        const RunStepRow &s = on.steps.at(i);
        const QString &shown = lines.at(i);
        QCOMPARE(s.number, i + 1);
        QVERIFY2(shown.contains(QStringLiteral(" %1 ").arg(s.name)), qPrintable(shown));
        if (s.module >= 0)
            QVERIFY2(shown.contains(QStringLiteral(" 模块%1 ").arg(s.module)), qPrintable(shown));
        QVERIFY2(shown.contains(s.measured), qPrintable(shown));
        QVERIFY2(shown.contains(s.limits), qPrintable(shown));
        QCOMPARE(s.outcome,
                 QString::fromLatin1(shown.contains(QStringLiteral("不合格")) ? kOutcomeFail
                                                                              : kOutcomePass));
    }
    QCOMPARE(on.steps.at(0).section, QStringLiteral("step1"));
    QCOMPARE(on.steps.at(0).type, plan.contains("type=switch\ncommand=lvd_off")
                                      ? QStringLiteral("switch")
                                      : QStringLiteral("read"));
}

// The unit's line goes while the plan runs: the unit is neither passed nor
// failed, and the record says so.
void tst_TestPlan::lostLineEndsTheUnitAsAborted()
{
    BenchRig rig(QByteArray(), QByteArray(), samplePlan());
    QVERIFY(rig.ready());
    stopClocks(rig);
    MainWindow &w = rig.window();
    // The line hangs up after answering the fifth request.
    rig.line().faults.hangUpAfterRequests = 5;
    enterSn(w, kSn);
    runPlan(w);

    QStringList expected = soundLinesWith({}, 5);
    expected << QStringLiteral("[6/16] 模块5 保护状态 中止")
             << QStringLiteral("结论：中止  SN PDU2411A0002  完成5/16  用时…秒")
             << QStringLiteral("串口已断开，操作中止");
    QCOMPARE(planLines(w), expected);
    QVERIFY(verdictText(w).startsWith(QStringLiteral("中止  SN PDU2411A0002")));
    const OnRecord on = readRecord(localRecord());
    QCOMPARE(on.runs.size(), 1);
    QCOMPARE(on.runs.first().verdict, QString::fromLatin1(kVerdictAborted));
    QCOMPARE(on.steps.size(), 6);
    QCOMPARE(on.steps.last().outcome, QString::fromLatin1(kOutcomeAborted));
}

// 停止 (or Esc) during the plan: the exchange in progress is finished, then
// the unit ends as 中止.
void tst_TestPlan::stopEndsTheUnitAsAborted()
{
    BenchRig rig(QByteArray(), QByteArray(), samplePlan());
    QVERIFY(rig.ready());
    stopClocks(rig);
    MainWindow &w = rig.window();
    auto *stop = widget<QPushButton>(w, "pushButton_stop");
    auto *step = widget<QLabel>(w, "label_progress");
    QStringList steps;
    connect(&rig.line(), &SimLine::requestSeen, &w, [&] {
        steps << step->text();
        if (steps.size() == 3)
            stop->click();
    });
    enterSn(w, kSn);
    runPlan(w);

    QCOMPARE(rig.requestsSeen().size(), 3);
    QCOMPARE(steps.first(), QStringLiteral("一键测试 1/16：step1"));
    QCOMPARE(planLines(w), (soundLinesWith({}, 3)
                            + QStringList{"[4/16] 模块3 保护状态 中止",
                                          "结论：中止  SN PDU2411A0002  完成3/16  用时…秒"}));
    QVERIFY(!stop->isEnabled());
    QCOMPARE(step->text(), QString());
    QCOMPARE(readRecord(localRecord()).runs.value(0).verdict, QString::fromLatin1(kVerdictAborted));
}

void tst_TestPlan::scanStartsThePlan_data()
{
    QTest::addColumn<QByteArray>("plan");
    QTest::addColumn<QString>("sn");
    QTest::addColumn<bool>("starts");

    const QByteArray autostart = samplePlanWith("autostart=false", "autostart=true");
    QTest::newRow("autostart, a unit of mac.csv") << autostart << kSn << true;
    QTest::newRow("autostart, a unit mac.csv does not know") << autostart << "PDU9999" << false;
    QTest::newRow("no autostart") << samplePlan() << kSn << false;
}

void tst_TestPlan::scanStartsThePlan()
{
    QFETCH(QByteArray, plan);
    QFETCH(QString, sn);
    QFETCH(bool, starts);

    BenchRig rig(QByteArray(), QByteArray(), plan);
    QVERIFY(rig.ready());
    stopClocks(rig);
    MainWindow &w = rig.window();
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    scan(w, sn);

    if (starts) {
        QTRY_VERIFY(verdictText(w).startsWith(QStringLiteral("合格  SN PDU2411A0002")));
        QCOMPARE(rig.requestsSeen().size(), 21);
    } else {
        QTest::qWait(200);
        QVERIFY(rig.requestsSeen().isEmpty());
        QCOMPARE(verdictText(w), QString());
    }
}

// The engineer labels the unit by its verdict: it stays through other work
// and goes when the next serial number is typed.
void tst_TestPlan::verdictStaysUntilTheNextUnit()
{
    BenchRig rig(QByteArray(), QByteArray(), samplePlan());
    QVERIFY(rig.ready());
    stopClocks(rig);
    rig.unit().pinnedRegisters[1].insert(0x0805, 450);
    MainWindow &w = rig.window();
    enterSn(w, kSn);
    runPlan(w);
    QVERIFY(verdictText(w).startsWith(QStringLiteral("不合格")));
    rig.click("pushButton_4");
    QVERIFY(verdictText(w).startsWith(QStringLiteral("不合格")));
    enterSn(w, QStringLiteral("PDU2411A0003"));
    QCOMPARE(verdictText(w), QString());
}

void tst_TestPlan::nothingRunsWithoutASerialNumber()
{
    BenchRig rig(QByteArray(), QByteArray(), samplePlan());
    QVERIFY(rig.ready());
    runPlan(rig.window());
    QVERIFY(rig.requestsSeen().isEmpty());
    QCOMPARE(resultLines(rig.window()),
             QStringList{"设备SN为空：请先输入或扫描设备SN，一键测试未运行"});
    QVERIFY(readRecord(localRecord()).runs.isEmpty());
}

void tst_TestPlan::withoutPlanTheActionSaysHow()
{
    BenchRig rig;
    QVERIFY(rig.ready());
    auto *action = widget<QAction>(rig.window(), "actionRunPlan");
    QVERIFY(!action->isEnabled());
    QVERIFY2(action->toolTip().contains(QStringLiteral("examples/plan.ini")),
             qPrintable(action->toolTip()));
    QCOMPARE(action->shortcut(), QKeySequence(Qt::Key_F5));
}

// A record that cannot be written: the unit is tested, and the verdict says
// that it is on no record.
void tst_TestPlan::unrecordedRunSaysSo()
{
    // The record's folder is a file: no database can be made there.
    QTemporaryDir blocker;
    QFile file(blocker.filePath(QStringLiteral("blocked")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a folder") > 0);
    file.close();
    const QByteArray config = [&] {
        QFile sample(sourceDir() + QStringLiteral("/examples/config.ini"));
        sample.open(QIODevice::ReadOnly);
        return sample.readAll() + "\n[journal]\npath=" + blocker.path().toUtf8()
               + "/blocked/runs.db\n";
    }();
    BenchRig rig(config, QByteArray(), samplePlan());
    QVERIFY(rig.ready());
    stopClocks(rig);
    MainWindow &w = rig.window();
    enterSn(w, kSn);
    runPlan(w);

    const QStringList lines = planLines(w);
    QCOMPARE(lines.mid(0, 16), kSoundLines);
    QVERIFY2(lines.value(16).startsWith(QStringLiteral("测试记录写入失败：")),
             qPrintable(lines.value(16)));
    QCOMPARE(lines.value(17), QStringLiteral("结论：合格  SN PDU2411A0002  用时…秒（未记录）"));
    QVERIFY2(verdictText(w).contains(QStringLiteral("测试记录未写入")), qPrintable(verdictText(w)));
}

// The shared record of a line of benches: the same run, on the PostgreSQL server.
void tst_TestPlan::recordOnPostgres()
{
    if (PgServer::binDir().isEmpty())
        QSKIP("the PostgreSQL server is not installed (package postgresql)");
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        QSKIP("Qt's PostgreSQL driver is not installed (package libqt5sql5-psql)");
    PgServer server;
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    const QByteArray config = postgresConfig(server, "工位7");
    {
        BenchRig rig(config, QByteArray(), samplePlan());
        QVERIFY(rig.ready());
        stopClocks(rig);
        rig.unit().pinnedRegisters[1].insert(0x0805, 450);
        enterSn(rig.window(), kSn);
        runPlan(rig.window());
        enterSn(rig.window(), QStringLiteral("PDU2411A0003"));
        rig.unit().pinnedRegisters.clear();
        runPlan(rig.window());
        QVERIFY(verdictText(rig.window()).startsWith(QStringLiteral("合格")));
    }
    const OnRecord on = readRecord(recordOnServer(server, QStringLiteral("工位7")));
    QCOMPARE(on.runs.size(), 2);
    QCOMPARE(on.runs.at(0).sn, QStringLiteral("PDU2411A0003"));
    QCOMPARE(on.runs.at(0).verdict, QString::fromLatin1(kVerdictPass));
    QCOMPARE(on.runs.at(0).bench, QStringLiteral("工位7"));
    QCOMPARE(on.runs.at(1).verdict, QString::fromLatin1(kVerdictFail));
    QCOMPARE(on.steps.size(), 16);
    QCOMPARE(on.steps.at(10).measured, QStringLiteral("43.2"));
    QCOMPARE(on.steps.at(10).limits, QStringLiteral("42.0～44.0"));

    // The filters a record window needs: by serial number, verdict and day.
    Journal journal(recordOnServer(server, QStringLiteral("工位7")));
    RunRecord record(journal);
    RunFilter filter;
    filter.sn = QStringLiteral("pdu2411a0002");
    QCOMPARE(record.runs(filter, &error).size(), 1);
    filter = RunFilter();
    filter.verdict = QString::fromLatin1(kVerdictPass);
    QCOMPARE(record.runs(filter, &error).size(), 1);
    filter.verdict.clear();
    filter.day = kNow.date().addDays(1);
    QCOMPARE(record.runs(filter, &error).size(), 0);
    filter.day = kNow.date();
    QCOMPARE(record.runs(filter, &error).size(), 2);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void tst_TestPlan::runsInTheRecordWindow_data()
{
    QTest::addColumn<bool>("postgres");
    QTest::newRow("this bench's SQLite file") << false;
    QTest::newRow("a line's PostgreSQL server") << true;
}

// Units through the plan on this bench, and runs another bench put on the
// same record (one the day before): the 测试记录 tab lists them newest first
// and narrows them by SN, verdict and day; a run opens to its steps; the 良率
// tab counts a day's units, those whose first run ever passed, and the failed
// checks most first, for every bench or one; the export writes every run's
// steps beside the provisioning record.
void tst_TestPlan::runsInTheRecordWindow()
{
    QFETCH(bool, postgres);
    std::unique_ptr<PgServer> server;
    QByteArray config;
    JournalOptions otherBench;
    if (postgres) {
        if (PgServer::binDir().isEmpty())
            QSKIP("the PostgreSQL server is not installed (package postgresql)");
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
            QSKIP("Qt's PostgreSQL driver is not installed (package libqt5sql5-psql)");
        server = std::make_unique<PgServer>();
        QString error;
        QVERIFY2(server->start(&error), qPrintable(error));
        config = postgresConfig(*server, "工位3");
        otherBench = recordOnServer(*server, QStringLiteral("工位9"));
    } else {
        QFile sample(sourceDir() + QStringLiteral("/examples/config.ini"));
        QVERIFY(sample.open(QIODevice::ReadOnly));
        config = sample.readAll() + "\n[journal]\nbench=工位3\n";
    }
    BenchRig rig(config, QByteArray(), samplePlan());
    QVERIFY(rig.ready());
    if (!postgres) {
        otherBench = localRecord();
        otherBench.bench = QStringLiteral("工位9");
    }
    stopClocks(rig);
    MainWindow &w = rig.window();
    const auto unit = [&](const QString &sn, quint16 reg, quint16 value) {
        rig.unit().pinnedRegisters.clear();
        if (reg)
            rig.unit().pinnedRegisters[1].insert(reg, value);
        enterSn(w, sn);
        runPlan(w);
    };
    const auto elsewhere = [&](const QString &sn, const QDateTime &start, UnitRun::Verdict verdict,
                               const StepResult &step) {
        Journal journal(otherBench);
        RunRecord record(journal);
        UnitRun run;
        run.sn = sn;
        run.bench = otherBench.bench;
        run.port = QStringLiteral("COM4");
        run.planName = QStringLiteral("PDU出厂检验");
        run.planSha256 = sha256(samplePlan());
        run.start = start;
        run.durationMs = 1500;
        run.verdict = verdict;
        run.steps = {step};
        QString error;
        QVERIFY2(record.write(run, &error), qPrintable(error));
    };
    StepResult overCurrent;
    overCurrent.number = 13;
    overCurrent.section = QStringLiteral("step7");
    overCurrent.module = 1;
    overCurrent.name = QStringLiteral("过流阈值");
    overCurrent.limits = QStringLiteral("95.0～105.0");

    unit(QStringLiteral("PDU2411A0002"), 0, 0);
    // PDU2411A0004 passed the day before on the other bench: its first run.
    overCurrent.measured = QStringLiteral("100.0");
    overCurrent.outcome = StepResult::Pass;
    elsewhere(QStringLiteral("PDU2411A0004"), kNow.addDays(-1), UnitRun::Pass, overCurrent);
    unit(QStringLiteral("PDU2411A0003"), 0x0805, 450); // 低压脱离值 45.0: fails check 11
    unit(QStringLiteral("PDU2411A0003"), 0, 0);
    unit(QStringLiteral("PDU2411A0004"), 0x080E, 1200); // 过流阈值 120.0: fails check 13
    unit(QStringLiteral("PDU2411A0004"), 0x080E, 1200);
    // A value a spreadsheet would take for a formula.
    overCurrent.measured = QStringLiteral("-5.0");
    overCurrent.outcome = StepResult::Fail;
    elsewhere(QStringLiteral("PDU2411A0005"), kNow, UnitRun::Fail, overCurrent);

    widget<QAction>(w, "actionRecordWindow")->trigger();
    auto *tabs = widget<QTabWidget>(w, "tabWidget_record");
    QVERIFY(tabs && tabs->isVisible());
    tabs->setCurrentWidget(widget<QWidget>(w, "runsPane"));
    auto *runs = widget<QTableView>(w, "tableView_runs");
    QVERIFY(runs->isVisible());
    const auto shownRuns = [runs] { return tableRows(runs->model(), {1, 2, 3, 8}); };
    const QStringList all = {
        "PDU2411A0005 | 不合格 | 工位9 | 1",  "PDU2411A0004 | 不合格 | 工位3 | 13",
        "PDU2411A0004 | 不合格 | 工位3 | 13", "PDU2411A0003 | 合格 | 工位3 | 16",
        "PDU2411A0003 | 不合格 | 工位3 | 11", "PDU2411A0004 | 合格 | 工位9 | 1",
        "PDU2411A0002 | 合格 | 工位3 | 16",
    };
    QCOMPARE(shownRuns(), all);

    // Typed as a scanner types, in any case: narrowed once typing rests.
    auto *sn = widget<QLineEdit>(w, "lineEdit_runFilter");
    QTest::keyClicks(sn, QStringLiteral("pdu2411a0003"));
    QTRY_COMPARE(shownRuns(), all.mid(3, 2));
    auto *verdict = widget<QComboBox>(w, "comboBox_runVerdict");
    verdict->setCurrentIndex(verdict->findText(QStringLiteral("不合格")));
    QCOMPARE(shownRuns(), all.mid(4, 1));

    // Enter on the run opens its steps: measured value, limits and outcome.
    runs->setFocus();
    runs->setCurrentIndex(runs->model()->index(0, 0));
    QTest::keyClick(runs, Qt::Key_Return);
    auto *steps = widget<QTableWidget>(w, "tableWidget_runSteps");
    QVERIFY(steps && steps->isVisible());
    QCOMPARE(steps->rowCount(), 11);
    QStringList failed;
    for (int c = 0; c < steps->columnCount() - 1; ++c)
        failed << steps->item(10, c)->text();
    QCOMPARE(failed, (QStringList{"11", "step5", "读取", "模块1 低压脱离值", "45.0", "42.0～44.0",
                                  "不合格"}));
    QCOMPARE(steps->item(0, 6)->text(), QStringLiteral("合格"));
    steps->window()->close();

    sn->clear();
    verdict->setCurrentIndex(0);
    auto *onDay = widget<QCheckBox>(w, "checkBox_runDay");
    auto *runDay = widget<QDateEdit>(w, "dateEdit_runDay");
    runDay->setDate(kNow.date().addDays(-1));
    onDay->setChecked(true);
    QTRY_COMPARE(shownRuns(), all.mid(5, 1));
    runDay->setDate(kNow.date());
    QCOMPARE(shownRuns(), all.mid(0, 5) + all.mid(6));

    // The day's yield: four units; PDU2411A0002 and PDU2411A0004 passed
    // their first run ever, PDU2411A0003 and PDU2411A0005 did not.
    tabs->setCurrentWidget(widget<QWidget>(w, "yieldPane"));
    widget<QDateEdit>(w, "dateEdit_yieldDay")->setDate(kNow.date());
    auto *summary = widget<QLabel>(w, "label_yieldSummary");
    auto *failures = widget<QTableView>(w, "tableView_yieldSteps");
    auto *bench = widget<QComboBox>(w, "comboBox_yieldBench");
    const auto shares = [failures] {
        QList<double> out;
        for (int r = 0; r < failures->model()->rowCount(); ++r)
            out << qRound(failures->model()->index(r, 3).data(Qt::UserRole).toDouble() * 100)
                       / 100.0;
        return out;
    };
    const auto chooseBench = [bench](const QString &name) {
        bench->setCurrentIndex(bench->findText(name));
        emit bench->activated(bench->currentIndex());
    };
    QCOMPARE(summary->text(),
             QStringLiteral("受测 4 台（测试 6 次） · 一次合格 2 台 · 一次合格率 50.0%"));
    QCOMPARE(tableRows(failures->model(), {0, 1, 2, 3}),
             (QStringList{"13 | step7 | 模块1 过流阈值 | 3", "11 | step5 | 模块1 低压脱离值 | 1"}));
    QCOMPARE(shares(), (QList<double>{1.0, 0.33}));
    QCOMPARE(tableRows(bench->model(), {0}), (QStringList{"全部工位", "工位3", "工位9"}));
    chooseBench(QStringLiteral("工位3"));
    QCOMPARE(summary->text(),
             QStringLiteral("受测 3 台（测试 5 次） · 一次合格 2 台 · 一次合格率 66.7%"));
    QCOMPARE(tableRows(failures->model(), {0, 3}), (QStringList{"13 | 2", "11 | 1"}));
    chooseBench(QStringLiteral("工位9"));
    QCOMPARE(summary->text(),
             QStringLiteral("受测 1 台（测试 1 次） · 一次合格 0 台 · 一次合格率 0.0%"));
    QCOMPARE(tableRows(failures->model(), {0, 3}), QStringList{"13 | 1"});
    chooseBench(QStringLiteral("全部工位"));
    widget<QDateEdit>(w, "dateEdit_yieldDay")->setDate(kNow.date().addDays(1));
    QCOMPARE(summary->text(),
             QStringLiteral("受测 0 台（测试 0 次） · 一次合格 0 台 · 一次合格率 —"));
    QCOMPARE(failures->model()->rowCount(), 0);

    // 导出记录…: the runs go into a file of their own beside the record's.
    QTemporaryDir folder;
    const QString target = folder.filePath(QStringLiteral("导出.csv"));
    {
        ModalAnswerer answer(QMessageBox::Ok, target);
        widget<QAction>(w, "actionExportRecord")->trigger();
    }
    QFile file(folder.filePath(QStringLiteral("导出_测试记录.csv")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray csv = file.readAll();
    QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
    const QStringList lines = QString::fromUtf8(csv.mid(3)).split(QStringLiteral("\r\n"));
    // A line per step of each run, and the header: 1+13+13+16+11+1+16 steps.
    QCOMPARE(lines.size(), 1 + 71 + 1);
    QCOMPARE(lines.last(), QString());
    QVERIFY2(lines.first().startsWith(QStringLiteral("测试编号,开始时间,工位,串口,SN,")),
             qPrintable(lines.first()));
    QVERIFY2(lines.at(1).contains(QStringLiteral(",工位9,COM4,PDU2411A0005,,PDU出厂检验,"))
                 && lines.at(1).endsWith(
                     QStringLiteral(",不合格,1.5,1,13,step7,读取,1,过流阈值,\"'-5.0\",95.0～105.0,"
                                    "不合格,")),
             qPrintable(lines.at(1)));
    const int fail11 = 1 + 1 + 13 + 13 + 16 + 10;
    QVERIFY2(lines.at(fail11).contains(QStringLiteral(",PDU2411A0003,"))
                 && lines.at(fail11).contains(
                     QStringLiteral(",11,step5,读取,1,低压脱离值,45.0,42.0～44.0,不合格,")),
             qPrintable(lines.at(fail11)));
    QVERIFY2(statusText(w).endsWith(QStringLiteral("；7 次测试到 ") + file.fileName()),
             qPrintable(statusText(w)));
}

void tst_TestPlan::pagesAgreeWithAPlainQuery_data()
{
    QTest::addColumn<bool>("postgres");
    QTest::addColumn<QString>("sn");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<int>("day"); // of the record's days, -1 for none

    for (bool postgres : {false, true}) {
        const char *store = postgres ? "PostgreSQL" : "SQLite";
        const auto row = [store](const char *what) -> QTestData & {
            return QTest::newRow(qPrintable(QStringLiteral("%1: %2").arg(store, what)));
        };
        row("every run") << postgres << QString() << QString() << -1;
        row("one SN, its runs far apart") << postgres << "PDU0000042" << QString() << -1;
        row("an SN's beginning, any case") << postgres << "pdu00001" << QString() << -1;
        row("a verdict") << postgres << QString() << kVerdictFail << -1;
        row("a day long past") << postgres << QString() << QString() << 1;
        row("a day and a verdict") << postgres << QString() << kVerdictAborted << 2;
        row("an SN's beginning and a verdict") << postgres << "PDU000002" << kVerdictFail << -1;
        row("every SN's beginning and a verdict") << postgres << "PDU" << kVerdictAborted << -1;
        row("an SN no run has") << postgres << "PDU9" << QString() << -1;
    }
}

// More runs than the window looks through before it asks an index: page after
// page, a filter finds what a plain scan of the table finds, in its order.
void tst_TestPlan::pagesAgreeWithAPlainQuery()
{
    QFETCH(bool, postgres);
    QFETCH(QString, sn);
    QFETCH(QString, verdict);
    QFETCH(int, day);

    QTemporaryDir folder;
    JournalOptions options;
    options.bench = QStringLiteral("工位3");
    options.benchSettings = folder.filePath(QStringLiteral("bench.ini"));
    if (postgres) {
        if (PgServer::binDir().isEmpty())
            QSKIP("the PostgreSQL server is not installed (package postgresql)");
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
            QSKIP("Qt's PostgreSQL driver is not installed (package libqt5sql5-psql)");
        if (!m_server) {
            m_server = std::make_unique<PgServer>();
            QString error;
            QVERIFY2(m_server->start(&error), qPrintable(error));
        }
        const QString settings = options.benchSettings;
        options = recordOnServer(*m_server, options.bench);
        options.benchSettings = settings;
    } else {
        options.path = folder.filePath(QStringLiteral("runs.db"));
    }
    Journal journal(options);
    RunRecord record(journal);
    QString error;
    record.benches(kNow.date(), &error); // makes the tables
    QVERIFY2(error.isEmpty(), qPrintable(error));

    // 6000 runs a minute apart over five days; 1500 serial numbers, each
    // tested four times, 1500 runs apart.
    const QDateTime first(kNow.date(), QTime(0, 0));
    const auto run = [&](const QString &sql, const QVariantList &binds) {
        return journal.run(
            [&](QSqlDatabase &db, QString *why) {
                QSqlQuery query(db);
                query.prepare(sql);
                for (const QVariant &v : binds)
                    query.addBindValue(v);
                if (!query.exec()) {
                    *why = query.lastError().text();
                    return false;
                }
                return true;
            },
            &error);
    };
    const QString numbers = postgres ? QStringLiteral("generate_series(1::bigint, 6000) AS n(i)")
                                     : QStringLiteral("n");
    const QString snText = postgres ? QStringLiteral("'PDU' || lpad((i % 1500)::text, 7, '0')")
                                    : QStringLiteral("printf('PDU%07d', i % 1500)");
    QVERIFY2(run((postgres ? QString()
                           : QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT "
                                            "i + 1 FROM n WHERE i < 6000) "))
                     + QStringLiteral("INSERT INTO unit_runs (start_ms, duration_ms, bench, port, "
                                      "sn, mac, plan_name, plan_sha256, verdict, steps) SELECT "
                                      "? + i * 60000, 1000, 'b', 'p', %1, '', 'plan', '', CASE "
                                      "WHEN i % 13 = 0 THEN 'aborted' WHEN i % 7 = 0 THEN 'fail' "
                                      "ELSE 'pass' END, 0 FROM %2 ORDER BY i")
                           .arg(snText, numbers),
                 {first.toMSecsSinceEpoch()}),
             qPrintable(error));

    RunFilter filter;
    filter.sn = sn;
    filter.verdict = verdict;
    if (day >= 0)
        filter.day = first.date().addDays(day);
    QList<qint64> paged;
    const int pageRows = 200; // the window's page: sparse matches reach past the newest runs
    for (qint64 before = std::numeric_limits<qint64>::max();;) {
        const QVector<RunRow> page = record.page(filter, before, pageRows, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        for (const RunRow &r : page)
            paged << r.id;
        if (page.size() < pageRows)
            break;
        before = page.last().id;
    }

    QList<qint64> scanned;
    const qint64 dayStart
        = filter.day.isValid() ? QDateTime(filter.day, QTime(0, 0)).toMSecsSinceEpoch() : 0;
    const qint64 dayEnd = filter.day.isValid()
                              ? QDateTime(filter.day.addDays(1), QTime(0, 0)).toMSecsSinceEpoch()
                              : std::numeric_limits<qint64>::max();
    QVERIFY2(journal.run(
                 [&](QSqlDatabase &db, QString *why) {
                     QSqlQuery query(db);
                     query.prepare(QStringLiteral(
                         "SELECT id FROM unit_runs WHERE upper(sn) LIKE ? AND (verdict = ? OR ? = "
                         "'') AND start_ms >= ? AND start_ms < ? ORDER BY id DESC"));
                     for (const QVariant &v : {QVariant(sn.toUpper() + QLatin1Char('%')),
                                               QVariant(verdict + QLatin1String("")),
                                               QVariant(verdict + QLatin1String("")),
                                               QVariant(dayStart), QVariant(dayEnd)})
                         query.addBindValue(v);
                     if (!query.exec()) {
                         *why = query.lastError().text();
                         return false;
                     }
                     while (query.next())
                         scanned << query.value(0).toLongLong();
                     return true;
                 },
                 &error),
             qPrintable(error));
    QCOMPARE(paged.size(), scanned.size());
    QCOMPARE(paged, scanned);
}

// The mac step is the 写MAC button's own write, with every rule of the
// record: the address mac.csv gives the unit, claimed, read back, on record
// with the verdict; an address another unit holds is refused, nothing sent.
void tst_TestPlan::macAndResetSteps_data()
{
    QTest::addColumn<QByteArray>("macCsv");
    QTest::addColumn<QStringList>("units");     // tested in turn
    QTest::addColumn<bool>("forgetMac");        // the unit acknowledges, does not store
    QTest::addColumn<QStringList>("lastLines"); // of the last unit, after its header
    QTest::addColumn<QString>("recordedMac");   // the last unit's run on record
    QTest::addColumn<int>("resets");            // the unit's factory resets

    const QByteArray csv = "PDU2411A0002,00:39:28:90:00:11\nPDU2411A0003,00:39:28:90:00:12\n"
                           "PDU2411A0004,00:39:28:90:00:11\n";
    QTest::newRow("a unit of mac.csv gets its address")
        << csv << QStringList{"PDU2411A0002"} << false
        << QStringList{"[1/2] 恢复出厂默认 合格", "[2/2] 写MAC 00:39:28:90:00:11 合格",
                       "结论：合格  SN PDU2411A0002  用时…秒"}
        << "00:39:28:90:00:11" << 1;
    QTest::newRow("an address another unit holds is refused")
        << csv << QStringList{"PDU2411A0002", "PDU2411A0004"} << false
        << QStringList{"[1/2] 恢复出厂默认 合格",
                       "[2/2] 写MAC 00:39:28:90:00:11 不合格：MAC 00:39:28:90:00:11 已于 "
                       "2026-12-07 10:30:00 写入 SN PDU2411A0002，未写入",
                       "结论：不合格  SN PDU2411A0004  不合格项：[2/2] 写MAC  用时…秒"}
        << "" << 2;
    QTest::newRow("a unit that does not keep the address fails its read-back")
        << csv << QStringList{"PDU2411A0003"} << true
        << QStringList{"[1/2] 恢复出厂默认 合格",
                       "[2/2] 写MAC 00:39:28:90:00:12 不合格：MAC读回校验失败：读回 "
                       "00:39:28:00:00:01", // the unit's factory address
                       "结论：不合格  SN PDU2411A0003  不合格项：[2/2] 写MAC  用时…秒"}
        << "" << 1;
}

void tst_TestPlan::macAndResetSteps()
{
    QFETCH(QByteArray, macCsv);
    QFETCH(QStringList, units);
    QFETCH(bool, forgetMac);
    QFETCH(QStringList, lastLines);
    QFETCH(QString, recordedMac);
    QFETCH(int, resets);

    const QByteArray plan = "[plan]\nname=写号\n[step1]\ntype=reset\n[step2]\ntype=mac\n";
    BenchRig rig(QByteArray(), macCsv, plan);
    QVERIFY(rig.ready());
    stopClocks(rig);
    rig.unit().forgetMacWrites = forgetMac;
    MainWindow &w = rig.window();
    for (const QString &sn : units) {
        widget<QPushButton>(w, "pushButton_3")->click(); // the result window cleared
        enterSn(w, sn);
        runPlan(w);
    }
    QStringList lines = resultLines(w);
    const int header = lines.indexOf(
        QStringLiteral("=========一键测试：写号  SN %1=========").arg(units.last()));
    QVERIFY2(header >= 0, qPrintable(lines.join('\n')));
    lines = lines.mid(header + 1);
    static const QRegularExpression time(QStringLiteral("用时\\d+\\.\\d秒"));
    for (QString &line : lines)
        line.replace(time, QStringLiteral("用时…秒"));
    QCOMPARE(lines, lastLines);
    QCOMPARE(rig.unit().factoryResets(), resets);
    const OnRecord on = readRecord(localRecord());
    QCOMPARE(on.runs.size(), units.size());
    QCOMPARE(on.runs.first().sn, units.last());
    QCOMPARE(on.runs.first().mac, recordedMac);
}

QTEST_MAIN(tst_TestPlan)
#include "tst_testplan.moc"
