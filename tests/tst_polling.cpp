// The read test of the ticked entries and the clock read, end to end against the simulated unit.

#include "config/devicelist.h"
#include "support/unitonline.h"
#include "support/windowdriver.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>
#include <QtTest>

#include <iterator>

namespace {

const char *const kBusyText = "正在执行设备操作，请稍候…";
const QString kSeparator = QStringLiteral("===========================");

// config.ini from entries "reg,des,type,regnum,xsws", numbered from dev00.
QByteArray configIni(const QStringList &entries)
{
    QByteArray ini = "[comm]\ncount=" + QByteArray::number(entries.size()) + "\n";
    for (int i = 0; i < entries.size(); ++i) {
        const QStringList f = entries[i].split(QLatin1Char(','));
        ini += QStringLiteral("\n[dev%1]\nreg=%2\ndes=%3\ntype=%4\nregnum=%5\nxsws=%6\n")
                   .arg(i, 2, 10, QLatin1Char('0'))
                   .arg(f[0], f[1], f[2], f[3], f[4])
                   .toUtf8();
    }
    return ini;
}

// What a module holds, written as "0805=0012 0806=D687" (hex base=hex value).
void loadRegisters(PduModule &m, const QString &registers)
{
    for (const QString &pair : registers.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const quint16 base = quint16(pair.section(QLatin1Char('='), 0, 0).toUInt(nullptr, 16));
        const quint16 value = quint16(pair.section(QLatin1Char('='), 1, 1).toUInt(nullptr, 16));
        switch (base) {
        case 0x0704:
            m.switchState = value;
            break;
        case 0x070F:
            m.protectionFlags = value;
            break;
        case 0x0805:
            m.lvdValue = value;
            break;
        case 0x0806:
            m.reconnectValue = value;
            break;
        case 0x080E:
            m.overCurrent = value;
            break;
        default:
            QVERIFY2(base >= 0x0808 && base <= 0x080D, "a register the test cannot set");
            m.windows[base - 0x0808] = value;
            break;
        }
    }
}

const QDateTime kUnitTime(QDate(2026, 3, 15), QTime(12, 30, 45));

// The unit's clock stands still at 2026-03-15 12:30:45, the computer's
// computerAheadS seconds later.
void stopClocks(BenchRig &rig, qint64 computerAheadS = 0)
{
    rig.unit().setHostClock([] { return kUnitTime; });
    MainWindowProbe::setClock(rig.window(), kUnitTime.addSecs(computerAheadS));
}

void tick(MainWindow &w, const QStringList &texts)
{
    auto *tree = widget<QTreeWidget>(w, "treeWidget");
    for (const QString &text : texts) {
        const QList<QTreeWidgetItem *> items
            = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        QVERIFY2(items.size() == 1, qPrintable(text));
        items.first()->setCheckState(0, Qt::Checked);
    }
}

const char *const kEditors[]
    = {"lineEdit_dytlz", "lineEdit_dytlhfz", "lineEdit_sd1hh", "lineEdit_sd1mm", "lineEdit_sd2hh",
       "lineEdit_sd2mm", "lineEdit_sd3hh",   "lineEdit_sd3mm", "lineEdit_glyz"};

// Every editor's text by name; the empty ones left out.
QMap<QString, QString> editorTexts(MainWindow &w)
{
    QMap<QString, QString> texts;
    for (const char *name : kEditors) {
        const QString text = widget<QLineEdit>(w, name)->text();
        if (!text.isEmpty())
            texts.insert(QString::fromLatin1(name), text);
    }
    return texts;
}

// The result lines of a poll between its opening line, which names module,
// and its closing summary, once both are seen to be there.
QStringList pollLines(MainWindow &w, const QString &module)
{
    QStringList lines = resultLines(w);
    const QString banner = QStringLiteral("---------模块%1 读测试-------------").arg(module);
    if (lines.isEmpty() || lines.first() != banner)
        return QStringList{QStringLiteral("(no opening line for module %1)").arg(module)} + lines;
    lines.removeFirst();
    const QRegularExpression summary(QStringLiteral(
        "^合计\\d+项：成功\\d+，无应答\\d+，异常应答\\d+，校验错误\\d+，用时\\d+\\.\\d秒$"));
    if (lines.isEmpty() || !summary.match(lines.last()).hasMatch())
        return lines + QStringList{QStringLiteral("(no summary)")};
    return lines.mid(0, lines.size() - 1);
}

bool trafficShowsReply(MainWindow &w, const QString &replyHex)
{
    return !trafficLines(w).filter(QStringLiteral("][接收]: ") + replyHex.toLower()).isEmpty();
}

} // namespace

class tst_Polling : public QObject
{
    Q_OBJECT

private slots:
    void decodesEachType_data();
    void decodesEachType();
    void separatorsForFullGroupsOnly_data();
    void separatorsForFullGroupsOnly();
    void pollFillsTheEditors();
    void failedEntries_data();
    void failedEntries();
    void moduleReadAfreshForEachEntry();
    void readTime_data();
    void readTime();
    void clockReplyInPieces();
    void secondOperationRefusedDuringPoll();
    void progressAndSummary_data();
    void progressAndSummary();
};

// One group with one entry, ticked and polled on module 0.
void tst_Polling::decodesEachType_data()
{
    QTest::addColumn<QString>("entry");     // reg,des,type,regnum,xsws
    QTest::addColumn<QString>("registers"); // the unit's contents
    QTest::addColumn<QString>("request");   // empty: not checked here
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("editor"); // empty: no editor takes the value
    QTest::addColumn<QString>("editorText");

    // clang-format off
    QTest::newRow("0704 state 00 02: 55 03 07 04 00 01 C9 6B")
        << "0704,开关状态,0,1,0" << "0704=0002" << "55 03 07 04 00 01 C9 6B"
        << QStringList{"开关状态:2", "\tLVD 分闸,低压侦测"} << "" << "";
    QTest::newRow("070F flags 00 21: two texts")
        << "070F,保护状态,4,1,0" << "070F=0021" << ""
        << QStringList{"保护状态:0000000000100001", "\t短路保护", "\t通讯中断"} << "" << "";
    QTest::newRow("0805 xsws 1, 04 D2: 123.4 also in its editor")
        << "0805,低压脱离值,0,1,1" << "0805=04D2" << "55 03 08 05 00 01 9B BF"
        << QStringList{"低压脱离值:123.4"} << "lineEdit_dytlz" << "123.4";
    QTest::newRow("0805 two registers 00 12 D6 87 xsws 1: 1.2346e+05")
        << "0805,低压脱离值,0,2,1" << "0805=0012 0806=D687" << "55 03 08 05 00 02 DB BE"
        << QStringList{"低压脱离值:1.2346e+05"} << "lineEdit_dytlz" << "1.2346e+05";
    QTest::newRow("0805 two registers FF FF FF FF: -1")
        << "0805,低压脱离值,0,2,0" << "0805=FFFF 0806=FFFF" << ""
        << QStringList{"低压脱离值:-1"} << "lineEdit_dytlz" << "-1";
    QTest::newRow("0805 one register FF FF: 65535")
        << "0805,低压脱离值,0,1,0" << "0805=FFFF" << ""
        << QStringList{"低压脱离值:65535"} << "lineEdit_dytlz" << "65535";
    QTest::newRow("0805 as hexadecimal 0A 1B: no editor")
        << "0805,原始值,3,1,0" << "0805=0A1B" << ""
        << QStringList{"原始值:0A1B"} << "" << "";
    QTest::newRow("0808 four registers as a double 40 09 21 FB 54 44 2D 18: 3.142")
        << "0808,双精度值,1,4,0" << "0808=4009 0809=21FB 080A=5444 080B=2D18"
        << "55 03 08 08 00 04 CA 7F" << QStringList{"双精度值:3.142"} << "" << "";
    // clang-format on
}

void tst_Polling::decodesEachType()
{
    QFETCH(QString, entry);
    QFETCH(QString, registers);
    QFETCH(QString, request);
    QFETCH(QStringList, lines);
    QFETCH(QString, editor);
    QFETCH(QString, editorText);

    BenchRig rig(configIni({QStringLiteral("0,读测试,10,0,0"), entry}));
    QVERIFY(rig.ready());
    loadRegisters(rig.unit().module(0), registers);
    if (QTest::currentTestFailed())
        return;
    rig.selectModule(QStringLiteral("0"));
    tick(rig.window(), {entry.section(QLatin1Char(','), 1, 1)});
    rig.click("pushButton");

    QCOMPARE(rig.requestsSeen().size(), 1);
    if (!request.isEmpty())
        QCOMPARE(rig.requestsSeen().first(), request);
    // The ticked leaf is the group's only one, so the group is full: its separator first.
    QCOMPARE(pollLines(rig.window(), QStringLiteral("0")), QStringList{kSeparator} + lines);
    QMap<QString, QString> expectedEditors;
    if (!editor.isEmpty())
        expectedEditors.insert(editor, editorText);
    QCOMPARE(editorTexts(rig.window()), expectedEditors);
}

// The shipped list: 状态信息 (开关状态, 保护状态), 阈值 (低压脱离值, 脱离恢复值, 过流阈值),
// 时段 (six hours and minutes), 时钟 (设备时间).
void tst_Polling::separatorsForFullGroupsOnly_data()
{
    QTest::addColumn<QStringList>("ticks");
    QTest::addColumn<QStringList>("lines");

    const QStringList state
        = {"开关状态:1", "\t远程分闸", "保护状态:0000000000000001", "\t短路保护"};
    const QStringList thresholds = {"低压脱离值:47.5", "脱离恢复值:52.5", "过流阈值:63"};
    const QStringList windows = {"时段1小时:8", "时段1分钟:30", "时段2小时:12",
                                 "时段2分钟:0", "时段3小时:18", "时段3分钟:45"};
    const QStringList clock = {"设备时间:2026-03-15 12:30:45:00", "设备时间与电脑时间一致"};

    // clang-format off
    QTest::newRow("one full group, one leaf of another")
        << QStringList{"状态信息", "脱离恢复值"}
        << QStringList{kSeparator} + state + QStringList{"脱离恢复值:52.5"};
    QTest::newRow("a single leaf of a group of two: no separator")
        << QStringList{"保护状态"}
        << QStringList{"保护状态:0000000000000001", "\t短路保护"};
    QTest::newRow("the only leaf of its group fills it")
        << QStringList{"设备时间"}
        << QStringList{kSeparator} + clock;
    QTest::newRow("all leaves ticked one by one fill their group")
        << QStringList{"低压脱离值", "脱离恢复值", "过流阈值"}
        << QStringList{kSeparator} + thresholds;
    QTest::newRow("everything: 所有 prints nothing of its own")
        << QStringList{"所有"}
        << QStringList{kSeparator} + state + QStringList{kSeparator} + thresholds
               + QStringList{kSeparator} + windows + QStringList{kSeparator} + clock;
    // clang-format on
}

void tst_Polling::separatorsForFullGroupsOnly()
{
    QFETCH(QStringList, ticks);
    QFETCH(QStringList, lines);

    BenchRig rig;
    QVERIFY(rig.ready());
    loadRegisters(rig.unit().module(0), QStringLiteral("0704=0001 070F=0001 0805=01DB 0806=020D "
                                                       "080E=0276 0808=0008 0809=001E 080A=000C "
                                                       "080B=0000 080C=0012 080D=002D"));
    stopClocks(rig);
    rig.selectModule(QStringLiteral("0"));
    tick(rig.window(), ticks);
    rig.click("pushButton");

    QCOMPARE(pollLines(rig.window(), QStringLiteral("0")), lines);
}

void tst_Polling::pollFillsTheEditors()
{
    BenchRig rig;
    QVERIFY(rig.ready());
    loadRegisters(rig.unit().module(1), QStringLiteral("0805=01DB 0806=020D 080E=0276 0808=0008 "
                                                       "0809=001E 080A=000C 080B=0000 "
                                                       "080C=0012 080D=002D"));
    stopClocks(rig);
    rig.selectModule(QStringLiteral("1"));
    tick(rig.window(), {QStringLiteral("所有")});
    rig.click("pushButton");

    const QMap<QString, QString> expected
        = {{"lineEdit_dytlz", "47.5"}, {"lineEdit_dytlhfz", "52.5"}, {"lineEdit_glyz", "63"},
           {"lineEdit_sd1hh", "8"},    {"lineEdit_sd1mm", "30"},     {"lineEdit_sd2hh", "12"},
           {"lineEdit_sd2mm", "0"},    {"lineEdit_sd3hh", "18"},     {"lineEdit_sd3mm", "45"}};
    QCOMPARE(editorTexts(rig.window()), expected);
    // The field's mask keeps the date and the time of day.
    QCOMPARE(widget<QLineEdit>(rig.window(), "lineEdit_datetime")->text(),
             QStringLiteral("2026-03-15 12:30:45"));
}

// The unit is whole; the list names a register the unit does not have.
constexpr UnitFault UnknownRegister = NoUnitFault;

// Two entries on module 1: each failure has its line and the walk goes on.
void tst_Polling::failedEntries_data()
{
    QTest::addColumn<UnitFault>("fault");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("arrived"); // the first reply as logged; empty: nothing logged

    // clang-format off
    QTest::newRow("silent module")
        << Silent << QStringList{"开关状态:没有应答!!", "低压脱离值:没有应答!!"} << "";
    QTest::newRow("exception 55 83 02 81 21")
        << Exception02
        << QStringList{"开关状态:异常应答 02 非法数据地址", "低压脱离值:异常应答 02 非法数据地址"}
        << "55 83 02 81 21";
    QTest::newRow("bad CRC")
        << CorruptCrc << QStringList{"开关状态:应答校验错误", "低压脱离值:应答校验错误"}
        << "55 03 02 00 02";
    QTest::newRow("a register the unit does not have, then a good one")
        << UnknownRegister << QStringList{"开关状态:异常应答 02 非法数据地址", "低压脱离值:123.4"}
        << "55 83 02 81 21";
    // clang-format on
}

void tst_Polling::failedEntries()
{
    QFETCH(UnitFault, fault);
    QFETCH(QStringList, lines);
    QFETCH(QString, arrived);

    const QString stateRegister
        = fault == UnknownRegister ? QStringLiteral("0900") : QStringLiteral("0704");
    BenchRig rig(configIni({QStringLiteral("0,读测试,10,0,0"), stateRegister + ",开关状态,0,1,0",
                            QStringLiteral("0805,低压脱离值,0,1,1")}));
    QVERIFY(rig.ready());
    loadRegisters(rig.unit().module(1), QStringLiteral("0704=0002 0805=04D2"));
    breakUnit(rig.unit(), 1, fault);
    rig.selectModule(QStringLiteral("1"));
    tick(rig.window(), {QStringLiteral("开关状态"), QStringLiteral("低压脱离值")});
    rig.click("pushButton");

    QCOMPARE(rig.requestsSeen().size(), 2);
    QCOMPARE(pollLines(rig.window(), QStringLiteral("1")), QStringList{kSeparator} + lines);
    if (arrived.isEmpty())
        QVERIFY(trafficLines(rig.window()).filter(QStringLiteral("][接收]: ")).isEmpty());
    else
        QVERIFY(trafficShowsReply(rig.window(), arrived));
    QCOMPARE(editorTexts(rig.window()).value("lineEdit_dytlz"),
             fault == UnknownRegister ? QStringLiteral("123.4") : QString());
}

// The engineer may pick another module while an entry waits; later entries use it.
void tst_Polling::moduleReadAfreshForEachEntry()
{
    BenchRig rig;
    QVERIFY(rig.ready());
    rig.unit().silentModules.insert(0);
    rig.selectModule(QStringLiteral("0"));
    tick(rig.window(), {QStringLiteral("开关状态"), QStringLiteral("保护状态")});
    QTimer::singleShot(10, &rig.window(), [&] { rig.selectModule(QStringLiteral("1")); });
    rig.click("pushButton");

    QCOMPARE(rig.requestsSeen(),
             (QStringList{"55 03 07 04 00 01 C9 6B", "55 03 17 0F 00 01 BC 69"}));
    // The opening line names the module the poll started on.
    QCOMPARE(pollLines(rig.window(), QStringLiteral("0")),
             (QStringList{kSeparator, "开关状态:没有应答!!", "保护状态:0000000000000000"}));
}

void tst_Polling::readTime_data()
{
    QTest::addColumn<QByteArray>("config"); // empty: the shipped list
    QTest::addColumn<QString>("module");
    QTest::addColumn<int>("computerAheadS"); // of the unit's clock
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("datetime"); // empty: the field is left as it was

    // clang-format off
    QTest::newRow("module 0: 55 03 08 0F 00 04 7B BE, clocks agree")
        << QByteArray() << "0" << 0 << QStringList{"55 03 08 0F 00 04 7B BE"}
        << QStringList{"设备时间:2026-03-15 12:30:45:00", "设备时间与电脑时间一致"}
        << "2026-03-15 12:30:45";
    QTest::newRow("module 1: 55 03 18 0F 00 04 7F 7E, unit 3 s slow")
        << QByteArray() << "1" << 3 << QStringList{"55 03 18 0F 00 04 7F 7E"}
        << QStringList{"设备时间:2026-03-15 12:30:45:00", "设备时间比电脑时间慢3秒"}
        << "2026-03-15 12:30:45";
    QTest::newRow("unit 65 s fast")
        << QByteArray() << "0" << -65 << QStringList{"55 03 08 0F 00 04 7B BE"}
        << QStringList{"设备时间:2026-03-15 12:30:45:00", "设备时间比电脑时间快1分5秒"}
        << "2026-03-15 12:30:45";
    QTest::newRow("unit a day and an hour slow")
        << QByteArray() << "0" << 90000 << QStringList{"55 03 08 0F 00 04 7B BE"}
        << QStringList{"设备时间:2026-03-15 12:30:45:00", "设备时间比电脑时间慢1天1小时0分0秒"}
        << "2026-03-15 12:30:45";
    QTest::newRow("no clock entry: nothing sent")
        << configIni({"0,状态,10,0,0", "0704,开关状态,0,1,0"}) << "0" << 0
        << QStringList{} << QStringList{"寄存器0x080F未在配置中"} << "";
    QTest::newRow("the first 080F entry is a group header: its separator")
        << configIni({"080F,时钟,10,0,0", "080F,设备时间,8,4,0"}) << "0" << 0
        << QStringList{} << QStringList{kSeparator} << "";
    // clang-format on
}

void tst_Polling::readTime()
{
    QFETCH(QByteArray, config);
    QFETCH(QString, module);
    QFETCH(int, computerAheadS);
    QFETCH(QStringList, requests);
    QFETCH(QStringList, lines);
    QFETCH(QString, datetime);

    BenchRig rig(config);
    QVERIFY(rig.ready());
    stopClocks(rig, computerAheadS);
    rig.selectModule(module);
    auto *field = widget<QLineEdit>(rig.window(), "lineEdit_datetime");
    const QString before = field->text();
    rig.click("pushButton_2");

    QCOMPARE(rig.requestsSeen(), requests);
    QCOMPARE(resultLines(rig.window()), lines);
    QCOMPARE(field->text(), datetime.isEmpty() ? before : datetime);
}

// Thirteen bytes in four pieces, each gap shorter than the quiet time.
void tst_Polling::clockReplyInPieces()
{
    BenchRig rig;
    QVERIFY(rig.ready());
    stopClocks(rig);
    rig.line().faults.pieces = 4;
    rig.line().faults.pieceGapMs = 15;
    rig.click("pushButton_2");

    QCOMPARE(resultLines(rig.window()),
             (QStringList{"设备时间:2026-03-15 12:30:45:00", "设备时间与电脑时间一致"}));
    QCOMPARE(trafficLines(rig.window()).filter(QStringLiteral("][接收]: ")).size(), 1);
}

// A switch command clicked while a poll waits on a silent module must not go
// out: it would take the poll's reply.
void tst_Polling::secondOperationRefusedDuringPoll()
{
    BenchRig rig;
    QVERIFY(rig.ready());
    rig.unit().silentModules.insert(0);
    rig.selectModule(QStringLiteral("0"));
    tick(rig.window(), {QStringLiteral("开关状态"), QStringLiteral("保护状态")});

    bool fired = false;
    QString status;
    QTimer::singleShot(10, &rig.window(), [&] {
        fired = true;
        rig.click("pushButton_4");
        status = statusText(rig.window());
    });
    rig.click("pushButton");

    QVERIFY(fired);
    QCOMPARE(status, QString::fromUtf8(kBusyText));
    QCOMPARE(rig.requestsSeen(),
             (QStringList{"55 03 07 04 00 01 C9 6B", "55 03 07 0F 00 01 B8 A9"}));
    QCOMPARE(pollLines(rig.window(), QStringLiteral("0")),
             (QStringList{kSeparator, "开关状态:没有应答!!", "保护状态:没有应答!!"}));
}

void tst_Polling::progressAndSummary_data()
{
    QTest::addColumn<UnitFault>("fault");
    QTest::addColumn<QString>("tally");

    QTest::newRow("every entry answers")
        << NoUnitFault << "合计12项：成功12，无应答0，异常应答0，校验错误0，用时";
    QTest::newRow("every reply with a bad CRC")
        << CorruptCrc << "合计12项：成功0，无应答0，异常应答0，校验错误12，用时";
    QTest::newRow("every read refused")
        << Exception02 << "合计12项：成功0，无应答0，异常应答12，校验错误0，用时";
}

// The shipped list ticked whole: twelve reads, each shown in the status bar
// while it goes out, and one summary at the end.
void tst_Polling::progressAndSummary()
{
    QFETCH(UnitFault, fault);
    QFETCH(QString, tally);

    BenchRig rig;
    QVERIFY(rig.ready());
    breakUnit(rig.unit(), 0, fault);
    rig.selectModule(QStringLiteral("0"));
    MainWindow &w = rig.window();
    tick(w, {QStringLiteral("所有")});
    auto *stop = widget<QPushButton>(w, "pushButton_stop");
    auto *step = widget<QLabel>(w, "label_progress");
    QStringList steps;
    int stopEnabled = 0;
    connect(&rig.line(), &SimLine::requestSeen, &w, [&] {
        steps << step->text();
        stopEnabled += stop->isEnabled() ? 1 : 0;
    });
    rig.click("pushButton");

    QCOMPARE(steps.size(), 12);
    QCOMPARE(steps.at(0), QStringLiteral("读取 1/12：开关状态"));
    QCOMPARE(steps.at(2), QStringLiteral("读取 3/12：低压脱离值"));
    QCOMPARE(steps.at(11), QStringLiteral("读取 12/12：设备时间"));
    QCOMPARE(stopEnabled, 12);
    QVERIFY(!stop->isEnabled());
    QCOMPARE(step->text(), QString());
    const QString last = resultLines(w).last();
    QVERIFY2(last.startsWith(tally), qPrintable(last));
    QVERIFY2(QRegularExpression(QStringLiteral("用时\\d+\\.\\d秒$")).match(last).hasMatch(),
             qPrintable(last));
}

QTEST_MAIN(tst_Polling)
#include "tst_polling.moc"
