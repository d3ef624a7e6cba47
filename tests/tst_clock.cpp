// Setting a module's clock from the computer's: the computer's clock is
// fixed by the test, the 17-byte request and the unit's clock are checked.
#include "config/devicelist.h"
#include "support/testdata.h"
#include "support/unitonline.h"
#include "support/windowdriver.h"

#include <QLineEdit>
#include <QtTest>

namespace {

// A device list with the switch state only: no clock entry.
const QByteArray kConfigWithoutClock
    = "[comm]\ncount=2\n"
      "[dev00]\nreg=0\ndes=状态信息\ntype=10\nregnum=0\nxsws=0\n"
      "[dev01]\nreg=0704\ndes=开关状态\ntype=0\nregnum=1\nxsws=0\n";

const QDateTime kComputerTime(QDate(2026, 12, 6), QTime(4, 5, 9));

} // namespace

class tst_Clock : public QObject
{
    Q_OBJECT
private slots:
    void setsTheClock_data();
    void setsTheClock();
    void withoutClockEntryNothingIsSent();
    void echoOfAnotherBlockIsNoSuccess();
};

void tst_Clock::setsTheClock_data()
{
    QTest::addColumn<QString>("module");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("frame"); // without CRC
    QTest::addColumn<QString>("shown"); // the local-time line

    // clang-format off
    QTest::newRow("2026-12-06 04:05:09 on module 0")
        << "0" << kComputerTime << "55 10 08 0F 00 04 08 07 EA 0C 06 04 05 09 00"
        << "==>本地电脑时间: 2026-12-6 4:5:9";
    QTest::newRow("the same on module 1: 180F")
        << "1" << kComputerTime << "55 10 18 0F 00 04 08 07 EA 0C 06 04 05 09 00"
        << "==>本地电脑时间: 2026-12-6 4:5:9";
    QTest::newRow("two-digit fields, module 10: A80F")
        << "10" << QDateTime(QDate(2031, 10, 31), QTime(23, 59, 58))
        << "55 10 A8 0F 00 04 08 07 EF 0A 1F 17 3B 3A 00" << "==>本地电脑时间: 2031-10-31 23:59:58";
    // clang-format on
}

void tst_Clock::setsTheClock()
{
    QFETCH(QString, module);
    QFETCH(QDateTime, now);
    QFETCH(QString, frame);
    QFETCH(QString, shown);

    BenchRig rig;
    QVERIFY(rig.ready());
    MainWindowProbe::setClock(rig.window(), now);
    rig.unit().setHostClock([now] { return now; });
    rig.selectModule(module);
    auto *field = widget<QLineEdit>(rig.window(), "lineEdit_datetime");
    field->setText(QStringLiteral("1999-01-01 00:00:00")); // typed text has no effect
    rig.click("pushButton_datatime");

    QCOMPARE(rig.requestsSeen(), QStringList{withCrc(frame)});
    QCOMPARE(rig.requestsSeen().first().count(QLatin1Char(' ')) + 1, 17);
    QCOMPARE(field->text(), now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    QCOMPARE(resultLines(rig.window()),
             (QStringList{"-------写电脑时间到设备---------", shown,
                          QStringLiteral("模块[%1]:写设备时间成功").arg(module)}));
    const PduModule &m = rig.unit().module(module.toInt());
    QCOMPARE(m.clockSet.date(), now.date());
    QCOMPARE(m.clockSet.time(), now.time());
}

void tst_Clock::withoutClockEntryNothingIsSent()
{
    BenchRig rig(kConfigWithoutClock);
    QVERIFY(rig.ready());
    MainWindowProbe::setClock(rig.window(), kComputerTime);
    rig.click("pushButton_datatime");

    QVERIFY(rig.requestsSeen().isEmpty());
    QCOMPARE(widget<QLineEdit>(rig.window(), "lineEdit_datetime")->text(),
             QStringLiteral("2026-12-06 04:05:09"));
    QCOMPARE(resultLines(rig.window()),
             (QStringList{"-------写电脑时间到设备---------", "==>本地电脑时间: 2026-12-6 4:5:9",
                          "设备时间:设备列表中没有寄存器080F的条目，未写入"}));
    QVERIFY(!rig.unit().module(0).clockSet.isValid());
}

// The unit sets its clock but its 10h echo names start register 0810.
void tst_Clock::echoOfAnotherBlockIsNoSuccess()
{
    BenchRig rig;
    QVERIFY(rig.ready());
    MainWindowProbe::setClock(rig.window(), kComputerTime);
    rig.unit().echoNextRegister = true;
    rig.click("pushButton_datatime");

    QCOMPARE(rig.requestsSeen(),
             QStringList{withCrc("55 10 08 0F 00 04 08 07 EA 0C 06 04 05 09 00")});
    QCOMPARE(trafficLines(rig.window())
                 .filter(QStringLiteral("][接收]: 55 10 08 10 00 04 cf bb"))
                 .size(),
             1);
    QCOMPARE(resultLines(rig.window()).last(),
             QStringLiteral("模块[0]:写设备时间失败:应答校验错误"));
}

QTEST_MAIN(tst_Clock)
#include "tst_clock.moc"
