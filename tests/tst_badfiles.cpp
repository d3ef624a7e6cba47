// config.ini and mac.csv as they turn up on a bench PC: edited by hand, saved
// in another encoding, exported by other tools. The window must come up,
// show what it could read, say what it refused, and never send a request
// built from what it refused.

#include "config/devicelist.h"
#include "support/testdata.h"
#include "support/unitonline.h"
#include "support/windowdriver.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

namespace {

const QChar kReplacement(0xFFFD);

// Ticks everything and runs the read test, as "选中所有" then "选中读测试" do.
void readEverything(BenchRig &rig)
{
    widget<QTreeWidget>(rig.window(), "treeWidget")->topLevelItem(0)->setCheckState(0, Qt::Checked);
    rig.click("pushButton");
}

void setField(MainWindow &w, const char *name, const QString &text)
{
    widget<QLineEdit>(w, name)->setText(text);
}

// The threshold group of the sample list, registers and decimal places as a
// bench list has them.
QByteArray thresholdEntries(int first)
{
    return iniSection(first, "0", "阈值", 10, 0)
           + iniSection(first + 1, "0805", "低压脱离值", 0, 1, 1)
           + iniSection(first + 2, "0806", "脱离恢复值", 0, 1, 1)
           + iniSection(first + 3, "080E", "过流阈值", 0, 1, 1);
}

// The window on a simulated unit with a mac.csv of the test's own.
struct MacBench
{
    ScratchDir dir;
    UnitOnLine unit; // declared before the window: the port closes first
    std::unique_ptr<MainWindow> window;
    QStringList requests;

    explicit MacBench(const QByteArray &macCsv)
    {
        dir.write(QStringLiteral("mac.csv"), macCsv);
        QFile::copy(sourceDir() + QStringLiteral("/examples/config.ini"),
                    dir.path() + QStringLiteral("/config.ini"));
        QObject::connect(&unit.line, &SimLine::requestSeen, [this](const QByteArray &request) {
            requests << QString::fromLatin1(request.toHex(' ').toUpper());
        });
        window = std::make_unique<MainWindow>();
    }
    bool openPort() { return openPortOn(*window, unit.line.portPath()); }
    void lookUp(const QString &sn)
    {
        auto *field = widget<QLineEdit>(*window, "lineEdit_sn");
        field->setText(sn);
        emit field->editingFinished();
    }
};

} // namespace

class tst_BadFiles : public QObject
{
    Q_OBJECT

private slots:
    void deviceListThroughWindow_data();
    void deviceListThroughWindow();
    void surplusEntriesAreNeverRead();
    void refusedEntriesAreNeverWritten_data();
    void refusedEntriesAreNeverWritten();
    void namesInAnotherEncoding_data();
    void namesInAnotherEncoding();
    void hundredThousandRows();
    void megabyteOnOneLine_data();
    void megabyteOnOneLine();
    void unusableMacRowsAreNeverWritten_data();
    void unusableMacRowsAreNeverWritten();
    void badPlanRunsNothing_data();
    void badPlanRunsNothing();
};

void tst_BadFiles::deviceListThroughWindow_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("traffic"); // the lines after mac.csv's rows
    QTest::addColumn<QStringList>("tree");

    const QByteArray entries = iniSection(0, "0", "状态信息", 10, 0)
                               + iniSection(1, "0704", "开关状态", 0)
                               + iniSection(2, "070F", "保护状态", 4);
    const QStringList sound{"所有", "  状态信息", "    开关状态", "    保护状态"};

    QTest::newRow("sound list") << "[comm]\ncount=3\n" + entries << QStringList{} << sound;
    QTest::newRow("byte-order mark in front: the same list")
        << "\xEF\xBB\xBF[comm]\ncount=3\n" + entries << QStringList{} << sound;
    QTest::newRow("byte-order mark and CR LF line ends")
        << QByteArray("\xEF\xBB\xBF[comm]\r\ncount=3\r\n" + entries)
               .replace("\n", "\r\n")
               .replace("\r\r\n", "\r\n")
        << QStringList{} << sound;
    QTest::newRow("negative count: nothing but the root")
        << "[comm]\ncount=-3\n" + entries << QStringList{} << QStringList{"所有"};
    QTest::newRow("count not a number: nothing but the root")
        << "[comm]\ncount=three\n" + entries << QStringList{} << QStringList{"所有"};
    QTest::newRow("bad reg in the middle: load stops there, said so")
        << "[comm]\ncount=3\n" + iniSection(0, "0", "状态信息", 10, 0)
               + iniSection(1, "07X4", "开关状态", 0) + iniSection(2, "070F", "保护状态", 4)
        << QStringList{"07X4:输入的数据格式有错误！"}
        << QStringList{"所有", "  状态信息", "    ", "    "};
    QTest::newRow("missing reg: load stops there, said so")
        << "[comm]\ncount=2\n[dev00]\ndes=组\ntype=10\n" + iniSection(1, "0704", "开关状态", 0)
        << QStringList{":输入的数据格式有错误！"} << QStringList{"所有"};
    QTest::newRow("missing type: the entry becomes a group of its own")
        << "[comm]\ncount=3\n" + iniSection(0, "0", "状态信息", 10, 0)
               + "[dev01]\nreg=0704\ndes=开关状态\nregnum=1\nxsws=0\n"
               + iniSection(2, "070F", "保护状态", 4)
        << QStringList{} << QStringList{"所有", "  状态信息", "  开关状态", "    保护状态"};
}

void tst_BadFiles::deviceListThroughWindow()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, traffic);
    QFETCH(QStringList, tree);

    BenchRig rig(ini);
    QVERIFY(rig.ready());
    const int macRows = MainWindowProbe::macCount(rig.window());
    QCOMPARE(QStringList(trafficLines(rig.window()).mid(macRows)), traffic);
    QCOMPARE(treeTexts(rig.window()), tree);
}

void tst_BadFiles::surplusEntriesAreNeverRead()
{
    // 60 entries where the table holds 50: one group, 59 leaves, each its own register.
    QByteArray ini = "[comm]\ncount=60\n" + iniSection(0, "0", "组", 10, 0);
    for (int i = 1; i < 60; ++i)
        ini += iniSection(i, QByteArray::number(0x0700 + i, 16), "项" + QByteArray::number(i), 0);

    BenchRig rig(ini);
    QVERIFY(rig.ready());
    const int macRows = MainWindowProbe::macCount(rig.window());
    QCOMPARE(QStringList(trafficLines(rig.window()).mid(macRows)),
             QStringList{"设备列表的条目数60超过上限50，dev50及以后的条目已忽略"});
    const QStringList tree = treeTexts(rig.window());
    QCOMPARE(tree.size(), 2 + 49);
    QCOMPARE(tree.last(), QStringLiteral("    项49"));

    readEverything(rig);
    // One read per loaded leaf, in order, and none for the ignored ones.
    const QStringList requests = rig.requestsSeen();
    QCOMPARE(requests.size(), 49);
    QCOMPARE(requests.first(), withCrc(QStringLiteral("55 03 07 01 00 01")));
    QCOMPARE(requests.last(), withCrc(QStringLiteral("55 03 07 31 00 01")));
}

void tst_BadFiles::refusedEntriesAreNeverWritten_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("results");
    QTest::addColumn<QStringList>("requests");

    // The engineer types 57.6, 48.0 and 100.0 and presses "阈值设置".
    const QString missing = QStringLiteral("%1:设备列表中没有寄存器%2的条目，未写入");
    const QStringList noneListed{missing.arg("低压脱离值", "0805"),
                                 missing.arg("脱离恢复值", "0806"),
                                 missing.arg("过流阈值", "080E")};

    QTest::newRow("negative count")
        << "[comm]\ncount=-1\n" + thresholdEntries(0) << noneListed << QStringList{};
    QTest::newRow("huge count stops at the first missing section")
        << "[comm]\ncount=2147483647\n" + thresholdEntries(0)
        << QStringList{"模块[0]:写低压脱离值成功", "模块[0]:写脱离恢复值成功",
                       "模块[0]:写过流阈值成功"}
        << framesWithCrc({"55 06 08 05 02 40", "55 06 08 06 01 E0", "55 06 08 0E 03 E8"});
    QTest::newRow("bad reg before the thresholds")
        << "[comm]\ncount=5\n" + iniSection(0, "x", "坏", 0) + thresholdEntries(1) << noneListed
        << QStringList{};
    QTest::newRow("bad reg on the reconnect value: the entries from it on are not loaded")
        << "[comm]\ncount=4\n" + iniSection(0, "0", "阈值", 10, 0)
               + iniSection(1, "0805", "低压脱离值", 0, 1, 1)
               + iniSection(2, "08O6", "脱离恢复值", 0, 1, 1)
               + iniSection(3, "080E", "过流阈值", 0, 1, 1)
        << QStringList{"模块[0]:写低压脱离值成功", missing.arg("脱离恢复值", "0806"),
                       missing.arg("过流阈值", "080E")}
        << framesWithCrc({"55 06 08 05 02 40"});
    // Without "xsws" the register counts ten decimal places: 57.6 does not fit.
    QTest::newRow("missing xsws: the value does not fit and is refused")
        << "[comm]\ncount=4\n" + iniSection(0, "0", "阈值", 10, 0)
               + "[dev01]\nreg=0805\ndes=低压脱离值\ntype=0\nregnum=1\n"
               + iniSection(2, "0806", "脱离恢复值", 0, 1, 1)
               + iniSection(3, "080E", "过流阈值", 0, 1, 1)
        << QStringList{"低压脱离值:“57.6”超出范围0～0.0000065535，未写入",
                       "模块[0]:写脱离恢复值成功", "模块[0]:写过流阈值成功"}
        << framesWithCrc({"55 06 08 06 01 E0", "55 06 08 0E 03 E8"});
}

void tst_BadFiles::refusedEntriesAreNeverWritten()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, results);
    QFETCH(QStringList, requests);

    BenchRig rig(ini);
    QVERIFY(rig.ready());
    rig.selectModule(QStringLiteral("0"));
    setField(rig.window(), "lineEdit_dytlz", QStringLiteral("57.6"));
    setField(rig.window(), "lineEdit_dytlhfz", QStringLiteral("48.0"));
    setField(rig.window(), "lineEdit_glyz", QStringLiteral("100.0"));
    rig.click("pushButton_yzsz");

    QCOMPARE(resultLines(rig.window()), results);
    QCOMPARE(rig.requestsSeen(), requests);
}

void tst_BadFiles::namesInAnotherEncoding_data()
{
    QTest::addColumn<QByteArray>("flagsName");
    QTest::addColumn<int>("flagsType");  // as loaded
    QTest::addColumn<int>("flagsDepth"); // 2: a leaf of the group, 1: a group of its own

    // "保护状态" in GBK ends in B4 CC AC; "保护状乗" ends in 81 5C, a byte that INI
    // reads as a backslash joining the next line ("type=4") to the name.
    QTest::newRow("GBK names") << QByteArray("\xB1\xA3\xBB\xA4\xD7\xB4\xCC\xAC") << 4 << 2;
    QTest::newRow("GBK name ending in byte 5C: the next key is lost")
        << QByteArray("\xB1\xA3\xBB\xA4\xD7\xB4\x81\x5C") << 10 << 1;
}

void tst_BadFiles::namesInAnotherEncoding()
{
    QFETCH(QByteArray, flagsName);
    QFETCH(int, flagsType);
    QFETCH(int, flagsDepth);

    // Saved by a Chinese Windows editor in GBK: "开关状态" and the flags' name.
    const QByteArray gbkSwitch("\xBF\xAA\xB9\xD8\xD7\xB4\xCC\xAC");
    // Written byte for byte: iniSection would take the names for UTF-8.
    const QByteArray ini = "[comm]\ncount=3\n" + iniSection(0, "0", "状态信息", 10, 0)
                           + "[dev01]\nreg=0704\ndes=" + gbkSwitch + "\ntype=0\nregnum=1\nxsws=0\n"
                           + "[dev02]\nreg=070F\ndes=" + flagsName + "\ntype=4\nregnum=1\nxsws=0\n";

    BenchRig rig(ini);
    QVERIFY(rig.ready());
    MainWindow &w = rig.window();
    // The engineer is told why the names look wrong and that keys may be lost.
    const int macRows = MainWindowProbe::macCount(w);
    QCOMPARE(QStringList(trafficLines(w).mid(macRows)),
             QStringList{"config.ini不是UTF-8编码：名称会显示为乱码，后面的键也可能读错，"
                         "请将文件另存为UTF-8"});
    // The names show replacement characters where the bytes are not UTF-8,
    // nothing that could upset the display.
    const QStringList tree = treeTexts(w);
    QCOMPARE(tree.size(), 4);
    QCOMPARE(tree.at(1), QStringLiteral("  状态信息"));
    QCOMPARE(tree.at(2), QStringLiteral("    ") + QString::fromUtf8(gbkSwitch));
    QVERIFY(tree.at(2).contains(kReplacement));
    QVERIFY(tree.at(3).startsWith(QString(flagsDepth * 2, QLatin1Char(' ')) + kReplacement));
    for (const QString &line : tree) {
        for (const QChar c : line)
            QVERIFY2(c.isPrint(), qPrintable(line));
    }
    QCOMPARE(deviceTable[1].type, 0);
    QCOMPARE(deviceTable[2].type, flagsType);

    // The read test goes on as the tree shows it.
    readEverything(rig);
    QVERIFY(rig.requestsSeen().contains(withCrc(QStringLiteral("55 03 07 04 00 01"))));
    // After the line naming the module and the group's separator.
    QCOMPARE(resultLines(w).value(2), QString::fromUtf8(gbkSwitch) + QStringLiteral(":0"));
}

void tst_BadFiles::hundredThousandRows()
{
    QByteArray csv;
    csv.reserve(100000 * 32);
    for (int i = 1; i <= 100000; ++i)
        csv += QStringLiteral("PDU%1,00:39:28:%2:%3:%4\n")
                   .arg(i, 6, 10, QLatin1Char('0'))
                   .arg(i >> 16 & 0xFF, 2, 16, QLatin1Char('0'))
                   .arg(i >> 8 & 0xFF, 2, 16, QLatin1Char('0'))
                   .arg(i & 0xFF, 2, 16, QLatin1Char('0'))
                   .toLatin1();

    MacBench bench(csv);
    MainWindow &w = *bench.window;
    QCOMPARE(MainWindowProbe::macCount(w), 100000);
    // The window shows the newest rows, the session record all of them.
    QCOMPARE(trafficLines(w).last(), QStringLiteral("100000=>PDU100000[00:39:28:01:86:a0]"));
    QFile record(MainWindowProbe::sessionFile(w));
    QVERIFY(record.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList traffic = QString::fromUtf8(record.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(withoutTime(traffic.value(0)),
             QStringLiteral("报文\t1=>PDU000001[00:39:28:00:00:01]"));
    QCOMPARE(withoutTime(traffic.value(99999)),
             QStringLiteral("报文\t100000=>PDU100000[00:39:28:01:86:a0]"));

    bench.lookUp(QStringLiteral("PDU100000"));
    QCOMPARE(resultLines(w), QStringList{"idx=99999 sn=PDU100000=>[00:39:28:01:86:a0]"});
    QCOMPARE(widget<QLineEdit>(w, "lineEdit_wrmac")->text(), QStringLiteral("00:39:28:01:86:a0"));
}

void tst_BadFiles::megabyteOnOneLine_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QStringList>("traffic");
    QTest::addColumn<int>("rows");

    // Laid out in the traffic window, one line of a megabyte held a shown
    // window for minutes; the row was never a usable one.
    const QByteArray megabyte(1 << 20, 'A');
    QTest::newRow("no comma: refused, said so")
        << megabyte << QStringList{"mac.csv第1行没有用逗号分开的SN和MAC，未载入"} << 0;
    QTest::newRow("a megabyte of MAC address: refused, said so")
        << "PDU01," + megabyte + "\nPDU02,00:39:28:90:00:11\n"
        << QStringList{"mac.csv第1行的MAC地址超过64个字符，未载入", "1=>PDU02[00:39:28:90:00:11]"}
        << 1;
    QTest::newRow("a megabyte of serial number: refused, said so")
        << megabyte + ",00:39:28:90:00:10\rPDU02,00:39:28:90:00:11\r"
        << QStringList{"mac.csv第1行的SN超过64个字符，未载入", "1=>PDU02[00:39:28:90:00:11]"} << 1;
}

void tst_BadFiles::megabyteOnOneLine()
{
    QFETCH(QByteArray, csv);
    QFETCH(int, rows);

    MacBench bench(csv);
    MainWindow &w = *bench.window;
    QCOMPARE(MainWindowProbe::macCount(w), rows);
    QTEST(QStringList(trafficLines(w).mid(0, rows + 1)), "traffic");
    // The rows that were loaded are found.
    bench.lookUp(QStringLiteral("PDU02"));
    auto *field = widget<QLineEdit>(w, "lineEdit_wrmac");
    // Not found: the field keeps what no lookup put there.
    QCOMPARE(field->text(),
             rows ? QStringLiteral("00:39:28:90:00:11") : QStringLiteral("00:39:28:90:00:00"));
}

void tst_BadFiles::unusableMacRowsAreNeverWritten_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<QString>("mac"); // as the lookup reports it

    // Such rows load (the table takes every line with a comma); the lookup or
    // the write refuses them.
    QTest::newRow("empty MAC") << QByteArray("PDU01,\n") << "";
    QTest::newRow("five groups") << QByteArray("PDU01,00:39:28:90:00\n") << "00:39:28:90:00";
    QTest::newRow("not hexadecimal")
        << QByteArray("PDU01,00:39:28:9G:00:10\n") << "00:39:28:9G:00:10";
    QTest::newRow("a header line") << QByteArray("SN,MAC\n") << "MAC";
}

void tst_BadFiles::unusableMacRowsAreNeverWritten()
{
    QFETCH(QByteArray, row);
    QFETCH(QString, mac);

    MacBench bench(row);
    QVERIFY(bench.openPort());
    MainWindow &w = *bench.window;
    QCOMPARE(MainWindowProbe::macCount(w), 1);
    const QString sn = QString::fromLatin1(row.left(row.indexOf(',')));
    bench.lookUp(sn);
    QCOMPARE(resultLines(w).value(0), QStringLiteral("idx=0 sn=%1=>[%2]").arg(sn, mac));
    auto *field = widget<QLineEdit>(w, "lineEdit_wrmac");
    const QString shown = field->text(); // whatever the input mask made of it

    widget<QPushButton>(w, "pushButton_wrmac")->click();
    QCOMPARE(resultLines(w).last(), QStringLiteral("MAC地址每组须为两位十六进制数，未发送"));
    QCOMPARE(bench.requests, QStringList{});
    QCOMPARE(bench.unit.unit.mac(), PduUnit::factoryMac());
    // Nothing moved on: the field still shows the refused address.
    QCOMPARE(field->text(), shown);
}

// plan.ini with one mistake each: one line names the file, line, section and
// key, and nothing is sent to the unit.
void tst_BadFiles::badPlanRunsNothing_data()
{
    QTest::addColumn<QByteArray>("plan");
    QTest::addColumn<QString>("message"); // before "，一键测试未运行"

    const QByteArray head = "[plan]\nname=t\n[step1]\n";              // lines 1 to 3
    const QByteArray read = head + "type=read\nreg=0805\nmodule=1\n"; // to line 6

    // clang-format off
    QTest::newRow("a limit that is no number")
        << read + "min=4x\n" << "plan.ini 第7行 [step1] min：“4x”不是数字";
    QTest::newRow("limits the wrong way round")
        << read + "min=44.0\nmax=42.0\n" << "plan.ini 第8行 [step1] max：小于 min=44.0";
    QTest::newRow("a key missing: named at its section")
        << head + "type=read\nreg=0805\n" << "plan.ini 第3行 [step1] module：缺少此项";
    QTest::newRow("a key of another kind of step")
        << read + "command=close\n" << "plan.ini 第7行 [step1] command：read 步骤没有此项";
    QTest::newRow("a key twice, in another case")
        << read + "MODULE=2\n" << "plan.ini 第7行 [step1] MODULE：与第6行重复";
    QTest::newRow("a register config.ini does not list")
        << head + "type=read\nreg=0900\nmodule=1\n"
        << "plan.ini 第5行 [step1] reg：config.ini 的设备列表中没有寄存器0900";
    QTest::newRow("a module the unit has not")
        << head + "type=read\nreg=0805\nmodule=1,7\n"
        << "plan.ini 第6行 [step1] module：“7”不是模块号（0～5、10，或 all）";
    QTest::newRow("bits of a threshold")
        << read + "bits_set=0001\n"
        << "plan.ini 第7行 [step1] bits_set：“低压脱离值”不是状态字，不能用 bits_set/bits_clear";
    QTest::newRow("an hour of 24 to write")
        << head + "type=write\nreg=0808\nmodule=1\nvalue=24\n"
        << "plan.ini 第7行 [step1] value：“24”不是0～23的整数";
    QTest::newRow("a status register to write")
        << head + "type=write\nreg=0704\nmodule=1\nvalue=1\n"
        << "plan.ini 第5行 [step1] reg：寄存器0704不能写入（可写阈值0805、0806、080E和时段0808～080D）";
    QTest::newRow("a step type there is not")
        << head + "type=measure\n"
        << "plan.ini 第4行 [step1] type：“measure”不是步骤类型（read、switch、write、clock、mac、reset、delay）";
    QTest::newRow("a switch command there is not")
        << head + "type=switch\ncommand=toggle\nmodule=1\n"
        << "plan.ini 第5行 [step1] command：“toggle”不是命令（close、open、remote_on、remote_off、lvd_on、lvd_off、time_on、time_off）";
    QTest::newRow("a section that is no step")
        << QByteArray("[plan]\nname=t\n\n; steps\n[stepA]\ntype=delay\nms=5\n")
        << "plan.ini 第5行 [stepA]：不是 [plan] 或 [step1]、[step2]… 这样的节";
    QTest::newRow("a key before any section")
        << QByteArray("name=t\n[plan]\n") << "plan.ini 第1行 name：不在任何节中";
    QTest::newRow("no [plan]")
        << QByteArray("[step1]\ntype=delay\nms=5\n") << "plan.ini [plan]：缺少 [plan] 节";
    QTest::newRow("stop_on_fail neither true nor false")
        << QByteArray("[plan]\nname=t\nstop_on_fail=maybe\n[step1]\ntype=delay\nms=5\n")
        << "plan.ini 第3行 [plan] stop_on_fail：“maybe”应为 true 或 false";
    QTest::newRow("CR LF line ends count one line each")
        << QByteArray(read + "min=4x\n").replace("\n", "\r\n")
        << "plan.ini 第7行 [step1] min：“4x”不是数字";
    QTest::newRow("CR alone ends a line too")
        << QByteArray(read + "min=4x\n").replace("\n", "\r")
        << "plan.ini 第7行 [step1] min：“4x”不是数字";
    QTest::newRow("saved in GBK")
        << QByteArray("[plan]\nname=\xB3\xF6\xB3\xA7\n[step1]\ntype=delay\nms=5\n")
        << "plan.ini 第2行：不是UTF-8文本";
    // clang-format on
}

void tst_BadFiles::badPlanRunsNothing()
{
    QFETCH(QByteArray, plan);
    QFETCH(QString, message);

    BenchRig rig(QByteArray(), QByteArray(), plan);
    QVERIFY(rig.ready());
    MainWindow &w = rig.window();
    widget<QLineEdit>(w, "lineEdit_sn")->setText(QStringLiteral("PDU2411A0001"));
    widget<QAction>(w, "actionRunPlan")->trigger();

    QCOMPARE(resultLines(w), QStringList{message + QStringLiteral("，一键测试未运行")});
    QVERIFY(rig.requestsSeen().isEmpty());
    QVERIFY(!widget<QLabel>(w, "labelVerdict")->isVisibleTo(&w));
}

QTEST_MAIN(tst_BadFiles)
#include "tst_badfiles.moc"
