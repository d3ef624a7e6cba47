// The breaker and enable commands, end to end against the simulated unit.

#include "support/unitonline.h"
#include "support/windowdriver.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>
#include <QtTest>

namespace {

const char *const kBusyText = "正在执行设备操作，请稍候…";

// The receive log line of reply bytes in lower-case hex, as the traffic window shows it.
bool trafficShowsReply(MainWindow &w, const QString &replyHex)
{
    const QString wanted = QStringLiteral("][接收]: ") + replyHex.toLower();
    for (const QString &line : trafficLines(w)) {
        if (line.contains(wanted))
            return true;
    }
    return false;
}

int receiveLines(MainWindow &w)
{
    return trafficLines(w).filter(QStringLiteral("][接收]: ")).size();
}

// The result lines without the run's closing summary, which must match tally
// ("合计7项：成功7，无应答0，异常应答0，校验错误0") and a time with one decimal.
QStringList withoutSummary(const QStringList &lines, const QString &tally)
{
    const QRegularExpression summary(QRegularExpression::escape(tally)
                                     + QStringLiteral("，用时\\d+\\.\\d秒"));
    if (lines.isEmpty() || !summary.match(lines.last()).hasMatch())
        return lines + QStringList{QStringLiteral("(no summary: %1)").arg(tally)};
    return lines.mid(0, lines.size() - 1);
}

} // namespace

class tst_Switching : public QObject
{
    Q_OBJECT

private slots:
    void singleModuleCommand_data();
    void singleModuleCommand();
    void allModules_data();
    void allModules();
    void failedCommand_data();
    void failedCommand();
    void replyInPieces();
    void secondOperationRefusedWhileWaiting_data();
    void secondOperationRefusedWhileWaiting();
    void summaryCountsEachOutcome();
    void stopEndsTheRunAfterTheExchange_data();
    void stopEndsTheRunAfterTheExchange();
};

void tst_Switching::singleModuleCommand_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("module");
    QTest::addColumn<QString>("request");
    QTest::addColumn<int>("base");
    QTest::addColumn<QString>("message");

    // clang-format off
    QTest::newRow("close module 1: 55 06 18 02 00 00 23 7E")
        << "pushButton_4" << "1" << "55 06 18 02 00 00 23 7E" << 0x0802 << "模块[1]合闸成功";
    QTest::newRow("close module 0: 55 06 08 02 00 00 27 BE")
        << "pushButton_4" << "0" << "55 06 08 02 00 00 27 BE" << 0x0802 << "模块[0]合闸成功";
    QTest::newRow("close module 10: 55 06 A8 02 00 00 05 BE")
        << "pushButton_4" << "10" << "55 06 A8 02 00 00 05 BE" << 0x0802 << "模块[10]合闸成功";
    QTest::newRow("open module 0: 55 06 08 03 00 01 B7 BE")
        << "pushButton_5" << "0" << "55 06 08 03 00 01 B7 BE" << 0x0803 << "模块[0]分闸成功";
    QTest::newRow("open module 1: 55 06 18 03 00 01 B3 7E")
        << "pushButton_5" << "1" << "55 06 18 03 00 01 B3 7E" << 0x0803 << "模块[1]分闸成功";
    QTest::newRow("remote on module 2: 55 06 28 01 00 01 1D BE")
        << "pushButton_6" << "2" << "55 06 28 01 00 01 1D BE" << 0x0801 << "模块[2]: enable远程分合闸成功";
    QTest::newRow("remote off module 3: 55 06 38 01 00 00 D8 BE")
        << "pushButton_7" << "3" << "55 06 38 01 00 00 D8 BE" << 0x0801 << "模块[3]: disable远程分合闸成功";
    QTest::newRow("disconnect on module 4: 55 06 48 04 00 01 13 BF")
        << "pushButton_8" << "4" << "55 06 48 04 00 01 13 BF" << 0x0804 << "模块[4]低压脱离enable成功";
    QTest::newRow("disconnect off module 5: 55 06 58 04 00 00 D6 BF")
        << "pushButton_9" << "5" << "55 06 58 04 00 00 D6 BF" << 0x0804 << "模块[5]低压脱离disable成功";
    QTest::newRow("time control on module 10: 55 06 A8 07 00 01 D4 7F")
        << "pushButton_10" << "10" << "55 06 A8 07 00 01 D4 7F" << 0x0807 << "模块[10]时段控enable成功";
    QTest::newRow("time control off module 10: 55 06 A8 07 00 00 15 BF")
        << "pushButton_11" << "10" << "55 06 A8 07 00 00 15 BF" << 0x0807 << "模块[10]时段控disable成功";
    // clang-format on
}

void tst_Switching::singleModuleCommand()
{
    QFETCH(QString, button);
    QFETCH(QString, module);
    QFETCH(QString, request);
    QFETCH(int, base);
    QFETCH(QString, message);

    BenchRig rig;
    QVERIFY(rig.ready());
    rig.selectModule(module);
    rig.click(button.toLatin1().constData());

    QCOMPARE(rig.requestsSeen(), QStringList{request});
    QCOMPARE(resultLines(rig.window()), QStringList{message});
    // The request stays in send line 1 as it went out.
    QCOMPARE(widget<QLineEdit>(rig.window(), "lineEditSend1")->text(), request + QLatin1Char(' '));
    // The unit answers a write with an echo of the request.
    QVERIFY(trafficShowsReply(rig.window(), request));
    QCOMPARE(rig.unit().module(module.toInt()).writes.value(quint16(base)), 1);
}

void tst_Switching::allModules_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("lowByte");  // the register's low byte, as in the request
    QTest::addColumn<QString>("value");    // as in the request
    QTest::addColumn<QString>("success");  // %1 the module
    QTest::addColumn<QString>("noReply");  // %1 the module
    QTest::addColumn<int>("silentModule"); // -1: all answer

    // clang-format off
    QTest::newRow("close all")
        << "pushButton_allon" << "合闸" << "02" << "00 00"
        << "模块[%1]合闸成功" << "模块[%1]合闸:没有应答!!" << -1;
    QTest::newRow("open all")
        << "pushButton_alloff" << "分闸" << "03" << "00 01"
        << "模块[%1]分闸成功" << "模块[%1]分闸:没有应答!!" << -1;
    QTest::newRow("remote on all")
        << "pushButton_rm_ctrl_on" << "远程控制使能" << "01" << "00 01"
        << "模块[%1]: enable远程分合闸成功" << "模块[%1]enable远程分合闸:没有应答!!" << -1;
    QTest::newRow("remote off all")
        << "pushButton_rm_ctrl_off" << "远程控制关闭" << "01" << "00 00"
        << "模块[%1]: disable远程分合闸成功" << "模块[%1]disable远程分合闸:没有应答!!" << -1;
    QTest::newRow("open all, module 3 silent: no early stop")
        << "pushButton_alloff" << "分闸" << "03" << "00 01"
        << "模块[%1]分闸成功" << "模块[%1]分闸:没有应答!!" << 3;
    // clang-format on
}

void tst_Switching::allModules()
{
    QFETCH(QString, button);
    QFETCH(QString, word);
    QFETCH(QString, lowByte);
    QFETCH(QString, value);
    QFETCH(QString, success);
    QFETCH(QString, noReply);
    QFETCH(int, silentModule);

    BenchRig rig;
    QVERIFY(rig.ready());
    if (silentModule >= 0)
        rig.unit().silentModules.insert(silentModule);
    rig.selectModule(QStringLiteral("2")); // the run starts at module 0 whatever was chosen
    rig.click(button.toLatin1().constData());

    const QStringList modules = {"0", "1", "2", "3", "4", "5", "10"};
    const QStringList topNibble = {"0", "1", "2", "3", "4", "5", "A"}; // the register's high digit
    QStringList expectedLines;
    const QStringList requests = rig.requestsSeen();
    QCOMPARE(requests.size(), modules.size());
    for (int i = 0; i < modules.size(); ++i) {
        expectedLines << QStringLiteral("---------%1%2-------------").arg(word, modules[i]);
        expectedLines << (modules[i].toInt() == silentModule ? noReply : success).arg(modules[i]);
        QCOMPARE(
            requests[i].left(17),
            QStringLiteral("55 06 %1 %2 %3").arg(topNibble[i] + QLatin1Char('8'), lowByte, value));
    }
    const QString tally = silentModule >= 0
                              ? QStringLiteral("合计7项：成功6，无应答1，异常应答0，校验错误0")
                              : QStringLiteral("合计7项：成功7，无应答0，异常应答0，校验错误0");
    QCOMPARE(withoutSummary(resultLines(rig.window()), tally), expectedLines);
    // The run went over the module numbers; the box keeps the engineer's choice.
    QCOMPARE(widget<QComboBox>(rig.window(), "comboBox_md")->currentText(), QStringLiteral("2"));
    QCOMPARE(receiveLines(rig.window()), silentModule >= 0 ? 6 : 7);
}

void tst_Switching::failedCommand_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<UnitFault>("fault");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("arrived"); // what the traffic window shows; empty: nothing

    // clang-format off
    QTest::newRow("close, silent module")
        << "pushButton_4" << Silent << "模块[1]合闸:没有应答!!" << "";
    QTest::newRow("close, exception 55 86 02 82 71")
        << "pushButton_4" << Exception02 << "模块[1]合闸:异常应答 02 非法数据地址"
        << "55 86 02 82 71";
    QTest::newRow("close, exception 55 86 06 83 B2")
        << "pushButton_4" << Exception06 << "模块[1]合闸:异常应答 06 从站设备忙"
        << "55 86 06 83 B2";
    QTest::newRow("close, echo with CRC DC 81 instead of 23 7E")
        << "pushButton_4" << CorruptCrc << "模块[1]合闸:应答校验错误"
        << "55 06 18 02 00 00 DC 81";
    QTest::newRow("remote on, silent module")
        << "pushButton_6" << Silent << "模块[1]enable远程分合闸:没有应答!!" << "";
    QTest::newRow("disconnect on, exception 02")
        << "pushButton_8" << Exception02 << "模块[1]低压脱离enable:异常应答 02 非法数据地址"
        << "55 86 02 82 71";
    QTest::newRow("time control off, silent module")
        << "pushButton_11" << Silent << "模块[1]时段控disable:没有应答!!" << "";
    // clang-format on
}

void tst_Switching::failedCommand()
{
    QFETCH(QString, button);
    QFETCH(UnitFault, fault);
    QFETCH(QString, message);
    QFETCH(QString, arrived);

    BenchRig rig;
    QVERIFY(rig.ready());
    breakUnit(rig.unit(), 1, fault);
    rig.selectModule(QStringLiteral("1"));
    rig.click(button.toLatin1().constData());

    QCOMPARE(rig.requestsSeen().size(), 1);
    QCOMPARE(resultLines(rig.window()), QStringList{message});
    if (arrived.isEmpty())
        QCOMPARE(receiveLines(rig.window()), 0);
    else
        QVERIFY(trafficShowsReply(rig.window(), arrived));
}

void tst_Switching::replyInPieces()
{
    BenchRig rig;
    QVERIFY(rig.ready());
    // Gaps shorter than the quiet time that ends a reply.
    rig.line().faults.pieces = 3;
    rig.line().faults.pieceGapMs = 15;
    rig.selectModule(QStringLiteral("1"));
    rig.click("pushButton_4");

    QCOMPARE(resultLines(rig.window()), QStringList{QStringLiteral("模块[1]合闸成功")});
    QCOMPARE(receiveLines(rig.window()), 1);
    QVERIFY(trafficShowsReply(rig.window(), QStringLiteral("55 06 18 02 00 00 23 7E")));
}

// A second click while the first command waits must not send: its request
// would take the first one's reply.
void tst_Switching::secondOperationRefusedWhileWaiting_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QStringList>("results");
    QTest::addColumn<int>("requests");

    // clang-format off
    QTest::newRow("open during a close")
        << "pushButton_4" << "pushButton_5" << QStringList{"模块[1]合闸:没有应答!!"} << 1;
    QTest::newRow("remote on during a close-all")
        << "pushButton_allon" << "pushButton_6"
        << QStringList{"---------合闸0-------------", "模块[0]合闸成功",
                       "---------合闸1-------------", "模块[1]合闸:没有应答!!",
                       "---------合闸2-------------", "模块[2]合闸成功",
                       "---------合闸3-------------", "模块[3]合闸成功",
                       "---------合闸4-------------", "模块[4]合闸成功",
                       "---------合闸5-------------", "模块[5]合闸成功",
                       "---------合闸10-------------", "模块[10]合闸成功",
                       "合计7项：成功6，无应答1，异常应答0，校验错误0，用时…"}
        << 7;
    QTest::newRow("poll during a close")
        << "pushButton_4" << "pushButton" << QStringList{"模块[1]合闸:没有应答!!"} << 1;
    QTest::newRow("read time during a close")
        << "pushButton_4" << "pushButton_2" << QStringList{"模块[1]合闸:没有应答!!"} << 1;
    // clang-format on
}

void tst_Switching::secondOperationRefusedWhileWaiting()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QStringList, results);
    QFETCH(int, requests);

    BenchRig rig;
    QVERIFY(rig.ready());
    rig.unit().silentModules.insert(1);
    rig.selectModule(QStringLiteral("1"));
    // Something ticked, so that a poll that started would send.
    auto *tree = widget<QTreeWidget>(rig.window(), "treeWidget");
    tree->topLevelItem(0)->setCheckState(0, Qt::Checked);

    // Fires inside the first command's wait on module 1 (which stays silent).
    bool fired = false;
    QString status;
    QTimer::singleShot(10, &rig.window(), [&] {
        fired = true;
        rig.click(second.toLatin1().constData());
        status = statusText(rig.window());
    });
    rig.click(first.toLatin1().constData());

    QVERIFY(fired);
    QCOMPARE(status, QString::fromUtf8(kBusyText));
    QCOMPARE(rig.requestsSeen().size(), requests);
    QStringList lines = resultLines(rig.window());
    if (results.last().endsWith(QChar(0x2026)) && lines.size() == results.size()) {
        QVERIFY2(lines.last().startsWith(results.last().chopped(1)), qPrintable(lines.last()));
        lines.last() = results.last();
    }
    QCOMPARE(lines, results);
    // The guard is released: the next command goes out.
    rig.unit().silentModules.clear();
    rig.click("pushButton_5");
    QCOMPARE(rig.requestsSeen().size(), requests + 1);
}

// One all-modules run meets a silent module and one that refuses.
void tst_Switching::summaryCountsEachOutcome()
{
    BenchRig rig;
    QVERIFY(rig.ready());
    breakUnit(rig.unit(), 1, Silent);
    breakUnit(rig.unit(), 4, Exception02);
    rig.click("pushButton_alloff");

    const QStringList lines = resultLines(rig.window());
    QCOMPARE(rig.requestsSeen().size(), 7);
    QVERIFY(lines.contains(QStringLiteral("模块[4]分闸:异常应答 02 非法数据地址")));
    QCOMPARE(withoutSummary(lines, QStringLiteral("合计7项：成功5，无应答1，异常应答1，校验错误0")),
             lines.mid(0, lines.size() - 1));
}

void tst_Switching::stopEndsTheRunAfterTheExchange_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("停止 clicked") << false;
    QTest::newRow("Esc pressed") << true;
}

// Pressed while module 1's close waits for its reply: that reply is still
// read and shown, and nothing more is sent.
void tst_Switching::stopEndsTheRunAfterTheExchange()
{
    QFETCH(bool, escape);

    BenchRig rig;
    QVERIFY(rig.ready());
    // A button clicks 100 ms after its shortcut (it shows itself pressed meanwhile).
    rig.line().setTurnaroundMs(250);
    MainWindow &w = rig.window();
    auto *stop = widget<QPushButton>(w, "pushButton_stop");
    auto *step = widget<QLabel>(w, "label_progress");
    if (escape) {
        w.show();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
    }
    QVERIFY(!stop->isEnabled());

    QStringList steps;
    QList<bool> stopEnabled;
    connect(&rig.line(), &SimLine::requestSeen, &w, [&] {
        steps << step->text();
        stopEnabled << stop->isEnabled();
        if (steps.size() != 2)
            return;
        if (escape)
            QTest::keyClick(&w, Qt::Key_Escape);
        else
            stop->click();
    });
    rig.click("pushButton_allon");

    QCOMPARE(rig.requestsSeen().size(), 2);
    QCOMPARE(steps, QStringList({"模块 1/7", "模块 2/7"}));
    QCOMPARE(stopEnabled, QList<bool>({true, true}));
    QCOMPARE(withoutSummary(resultLines(w),
                            QStringLiteral("合计2项：成功2，无应答0，异常应答0，校验错误0")),
             QStringList({"---------合闸0-------------", "模块[0]合闸成功",
                          "---------合闸1-------------", "模块[1]合闸成功", "已停止：完成 2/7"}));
    QVERIFY(!stop->isEnabled());
    QCOMPARE(step->text(), QString());
    QCOMPARE(widget<QComboBox>(w, "comboBox_md")->currentText(), QStringLiteral("0"));
}

QTEST_MAIN(tst_Switching)
#include "tst_switching.moc"
