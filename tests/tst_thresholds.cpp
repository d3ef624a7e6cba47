// Thresholds and time windows written to the simulated unit through the
// window's buttons: the frames on the line, the lines in the result window
// and the unit's registers afterwards.
#include "config/devicelist.h"
#include "support/testdata.h"
#include "support/unitonline.h"
#include "support/windowdriver.h"

#include <QLineEdit>
#include <QtTest>

namespace {

// The registers this file writes, as a config.ini lists them; thresholds with
// the given decimal places, and without the registers named in missing.
QByteArray writeConfig(int xsws, const QList<quint16> &missing = {})
{
    struct Row
    {
        quint16 reg;
        const char *des;
        int xsws;
    };
    const Row rows[]
        = {{0x0805, "低压脱离值", xsws}, {0x0806, "脱离恢复值", xsws}, {0x080E, "过流阈值", xsws},
           {0x0808, "时段1小时", 0},     {0x0809, "时段1分钟", 0},     {0x080A, "时段2小时", 0},
           {0x080B, "时段2分钟", 0},     {0x080C, "时段3小时", 0},     {0x080D, "时段3分钟", 0}};
    QByteArray body = "[dev00]\nreg=0\ndes=写入\ntype=10\nregnum=0\nxsws=0\n";
    int count = 1;
    for (const Row &r : rows) {
        if (missing.contains(r.reg))
            continue;
        body += QStringLiteral("[dev%1]\nreg=%2\ndes=%3\ntype=1\nregnum=1\nxsws=%4\n")
                    .arg(count++, 2, 10, QLatin1Char('0'))
                    .arg(r.reg, 4, 16, QLatin1Char('0'))
                    .arg(QString::fromUtf8(r.des))
                    .arg(r.xsws)
                    .toUtf8();
    }
    return "[comm]\ncount=" + QByteArray::number(count) + "\n" + body;
}

void setField(BenchRig &rig, const char *name, const QString &text)
{
    widget<QLineEdit>(rig.window(), name)->setText(text);
}

} // namespace

class tst_Thresholds : public QObject
{
    Q_OBJECT
private slots:
    void referenceCrcMatchesPublishedValues();
    void thresholds_data();
    void thresholds();
    void missingOverCurrentEntry();
    void failedWriteDoesNotStopTheNext();
    void timeWindows_data();
    void timeWindows();
};

void tst_Thresholds::referenceCrcMatchesPublishedValues()
{
    QCOMPARE(referenceCrc("123456789"), quint16(0x4B37));
    QCOMPARE(withCrc("55 06 18 02 00 00"), QStringLiteral("55 06 18 02 00 00 23 7E"));
    QCOMPARE(withCrc("55 03 08 0F 00 04"), QStringLiteral("55 03 08 0F 00 04 7B BE"));
}

void tst_Thresholds::thresholds_data()
{
    QTest::addColumn<QByteArray>("config"); // empty: the sample config.ini
    QTest::addColumn<QString>("module");
    QTest::addColumn<QStringList>("fields"); // disconnect, reconnect, over-current
    QTest::addColumn<QStringList>("frames"); // without CRC
    QTest::addColumn<QStringList>("results");
    QTest::addColumn<QList<int>>("registers"); // the unit's 0805, 0806, 080E afterwards

    const PduModule factory = PduUnit::factoryModule();
    const int cut = factory.lvdValue;
    const int reconnect = factory.reconnectValue;
    const int overCurrent = factory.overCurrent;

    // clang-format off
    QTest::newRow("module 1, one place: 57.6 -> 0240, 53.5 -> 0217, 0.7 -> 0007")
        << QByteArray() << "1" << QStringList{"57.6", "53.5", "0.7"}
        << QStringList{"55 06 18 05 02 40", "55 06 18 06 02 17", "55 06 18 0E 00 07"}
        << QStringList{"模块[1]:写低压脱离值成功", "模块[1]:写脱离恢复值成功",
                       "模块[1]:写过流阈值成功"}
        << QList<int>{576, 535, 7};
    QTest::newRow("module 0, no places: 57.6 -> 57") << writeConfig(0) << "0"
        << QStringList{"57.6", "48", "100"}
        << QStringList{"55 06 08 05 00 39", "55 06 08 06 00 30", "55 06 08 0E 00 64"}
        << QStringList{"模块[0]:写低压脱离值成功", "模块[0]:写脱离恢复值成功",
                       "模块[0]:写过流阈值成功"}
        << QList<int>{57, 48, 100};
    QTest::newRow("module 10: A805, largest value 6553.5") << QByteArray() << "10"
        << QStringList{"6553.5", "", ""} << QStringList{"55 06 A8 05 FF FF"}
        << QStringList{"模块[10]:写低压脱离值成功", "脱离恢复值:未填写，跳过",
                       "过流阈值:未填写，跳过"}
        << QList<int>{65535, reconnect, overCurrent};
    QTest::newRow("empty fields skipped, the rest written") << QByteArray() << "1"
        << QStringList{"", "48.0", "  "} << QStringList{"55 06 18 06 01 E0"}
        << QStringList{"低压脱离值:未填写，跳过", "模块[1]:写脱离恢复值成功",
                       "过流阈值:未填写，跳过"}
        << QList<int>{cut, 480, overCurrent};
    QTest::newRow("not numbers refused, nothing sent") << QByteArray() << "1"
        << QStringList{"abc", "57,6", "nan"} << QStringList{}
        << QStringList{"低压脱离值:“abc”不是数字，未写入", "脱离恢复值:“57,6”不是数字，未写入",
                       "过流阈值:“nan”不是数字，未写入"}
        << QList<int>{cut, reconnect, overCurrent};
    QTest::newRow("out of range refused: above 6553.5, negative") << QByteArray() << "1"
        << QStringList{"6553.6", "-0.1", "57.6"} << QStringList{"55 06 18 0E 02 40"}
        << QStringList{"低压脱离值:“6553.6”超出范围0～6553.5，未写入",
                       "脱离恢复值:“-0.1”超出范围0～6553.5，未写入", "模块[1]:写过流阈值成功"}
        << QList<int>{cut, reconnect, 576};
    QTest::newRow("no places: 65536 refused") << writeConfig(0) << "1"
        << QStringList{"65536", "65535", "-1"} << QStringList{"55 06 18 06 FF FF"}
        << QStringList{"低压脱离值:“65536”超出范围0～65535，未写入", "模块[1]:写脱离恢复值成功",
                       "过流阈值:“-1”超出范围0～65535，未写入"}
        << QList<int>{cut, 65535, overCurrent};
    // clang-format on
}

void tst_Thresholds::thresholds()
{
    QFETCH(QByteArray, config);
    QFETCH(QString, module);
    QFETCH(QStringList, fields);
    QFETCH(QStringList, frames);
    QFETCH(QStringList, results);
    QFETCH(QList<int>, registers);

    BenchRig rig(config);
    QVERIFY(rig.ready());
    rig.selectModule(module);
    setField(rig, "lineEdit_dytlz", fields.at(0));
    setField(rig, "lineEdit_dytlhfz", fields.at(1));
    setField(rig, "lineEdit_glyz", fields.at(2));
    rig.click("pushButton_yzsz");

    QCOMPARE(rig.requestsSeen(), framesWithCrc(frames));
    QCOMPARE(resultLines(rig.window()), results);
    const PduModule &m = rig.unit().module(module.toInt());
    QCOMPARE((QList<int>{m.lvdValue, m.reconnectValue, m.overCurrent}), registers);
    QVERIFY(!MainWindowProbe::busy(rig.window()));
}

void tst_Thresholds::missingOverCurrentEntry()
{
    BenchRig rig(writeConfig(1, {0x080E}));
    QVERIFY(rig.ready());
    rig.selectModule(QStringLiteral("1"));
    setField(rig, "lineEdit_dytlz", QStringLiteral("57.6"));
    setField(rig, "lineEdit_dytlhfz", QStringLiteral("53.5"));
    setField(rig, "lineEdit_glyz", QStringLiteral("0.7"));
    rig.click("pushButton_yzsz");

    QCOMPARE(rig.requestsSeen(), framesWithCrc({"55 06 18 05 02 40", "55 06 18 06 02 17"}));
    QCOMPARE(resultLines(rig.window()),
             (QStringList{"模块[1]:写低压脱离值成功", "模块[1]:写脱离恢复值成功",
                          "过流阈值:设备列表中没有寄存器080E的条目，未写入"}));
    QCOMPARE(int(rig.unit().module(1).overCurrent), int(PduUnit::factoryModule().overCurrent));
}

// A module that never answers: every field still gets its own request and
// its own line, after the time-out of the one before.
void tst_Thresholds::failedWriteDoesNotStopTheNext()
{
    BenchRig rig;
    QVERIFY(rig.ready());
    rig.unit().silentModules << 2;
    rig.selectModule(QStringLiteral("2"));
    setField(rig, "lineEdit_dytlz", QStringLiteral("43.2"));
    setField(rig, "lineEdit_dytlhfz", QStringLiteral("48"));
    setField(rig, "lineEdit_glyz", QStringLiteral("100"));
    // Clicks that arrive while the first write waits are turned away, not
    // interleaved with it.
    setField(rig, "lineEdit_sd1hh", QStringLiteral("8"));
    setField(rig, "lineEdit_sd1mm", QStringLiteral("30"));
    QTimer::singleShot(100, &rig.window(), [&rig] {
        rig.click("pushButton_sd1");
        rig.click("pushButton_datatime");
        rig.click("pushButton_wrmac");
    });
    rig.click("pushButton_yzsz");

    QCOMPARE(rig.requestsSeen(),
             framesWithCrc({"55 06 28 05 01 B0", "55 06 28 06 01 E0", "55 06 28 0E 03 E8"}));
    QCOMPARE(resultLines(rig.window()),
             (QStringList{"模块[2]:写低压脱离值失败", "模块[2]:写脱离恢复值失败",
                          "模块[2]:写过流阈值失败"}));
}

void tst_Thresholds::timeWindows_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QString>("module");
    QTest::addColumn<int>("window");
    QTest::addColumn<QString>("hour");
    QTest::addColumn<QString>("minute");
    QTest::addColumn<QStringList>("frames"); // without CRC
    QTest::addColumn<QStringList>("results");

    // clang-format off
    QTest::newRow("window 1, 8:30 -> 0808 and 0809") << QByteArray() << "0" << 1 << "8" << "30"
        << QStringList{"55 06 08 08 00 08", "55 06 08 09 00 1E"}
        << QStringList{"模块[0]:写时段1小时成功", "模块[0]:写时段1分钟成功"};
    QTest::newRow("hour 25 and minute -1 refused: nothing sent") << QByteArray() << "0" << 1
        << "25" << "-1" << QStringList{}
        << QStringList{"时段1小时:“25”超出范围0～23，未写入", "时段1分钟:“-1”超出范围0～59，未写入"};
    QTest::newRow("the last minute of a day: 23:59") << QByteArray() << "0" << 2 << "23" << "59"
        << QStringList{"55 06 08 0A 00 17", "55 06 08 0B 00 3B"}
        << QStringList{"模块[0]:写时段2小时成功", "模块[0]:写时段2分钟成功"};
    QTest::newRow("minute 60 refused, its hour written") << QByteArray() << "0" << 3 << "0" << "60"
        << QStringList{"55 06 08 0C 00 00"}
        << QStringList{"模块[0]:写时段3小时成功", "时段3分钟:“60”超出范围0～59，未写入"};
    QTest::newRow("window 2 on module 3: 380A, 380B") << QByteArray() << "3" << 2 << "22" << "5"
        << QStringList{"55 06 38 0A 00 16", "55 06 38 0B 00 05"}
        << QStringList{"模块[3]:写时段2小时成功", "模块[3]:写时段2分钟成功"};
    QTest::newRow("window 3: 080C, 080D") << QByteArray() << "0" << 3 << "6" << "0"
        << QStringList{"55 06 08 0C 00 06", "55 06 08 0D 00 00"}
        << QStringList{"模块[0]:写时段3小时成功", "模块[0]:写时段3分钟成功"};
    QTest::newRow("empty and fraction refused") << QByteArray() << "0" << 1 << "" << "8.5"
        << QStringList{}
        << QStringList{"时段1小时:未填写，未写入", "时段1分钟:“8.5”不是整数，未写入"};
    QTest::newRow("beyond 16 bits refused, the other written") << QByteArray() << "0" << 2
        << "65536" << "5" << QStringList{"55 06 08 0B 00 05"}
        << QStringList{"时段2小时:“65536”超出范围0～23，未写入", "模块[0]:写时段2分钟成功"};
    QTest::newRow("minute register missing") << writeConfig(1, {0x0809}) << "0" << 1 << "8"
        << "30" << QStringList{"55 06 08 08 00 08"}
        << QStringList{"模块[0]:写时段1小时成功",
                       "时段1分钟:设备列表中没有寄存器0809的条目，未写入"};
    // clang-format on
}

void tst_Thresholds::timeWindows()
{
    QFETCH(QByteArray, config);
    QFETCH(QString, module);
    QFETCH(int, window);
    QFETCH(QString, hour);
    QFETCH(QString, minute);
    QFETCH(QStringList, frames);
    QFETCH(QStringList, results);

    BenchRig rig(config);
    QVERIFY(rig.ready());
    rig.selectModule(module);
    const QByteArray prefix = "lineEdit_sd" + QByteArray::number(window);
    setField(rig, (prefix + "hh").constData(), hour);
    setField(rig, (prefix + "mm").constData(), minute);
    rig.click(("pushButton_sd" + QByteArray::number(window)).constData());

    QCOMPARE(rig.requestsSeen(), framesWithCrc(frames));
    QCOMPARE(resultLines(rig.window()), results);
    // The unit holds what was sent, window by window.
    const PduModule &m = rig.unit().module(module.toInt());
    for (const QString &frame : frames) {
        const QByteArray bytes = QByteArray::fromHex(frame.toLatin1());
        const int index = (quint8(bytes.at(3)) - 0x08);
        QCOMPARE(int(m.windows[index]), (quint8(bytes.at(4)) << 8) | quint8(bytes.at(5)));
    }
}

QTEST_MAIN(tst_Thresholds)
#include "tst_thresholds.moc"
