// The summary line of a run: outcomes counted by kind, the time in tenths.
#include "device/runreport.h"

#include <QtTest>

class tst_RunReport : public QObject
{
    Q_OBJECT

private slots:
    void summary_data()
    {
        QTest::addColumn<QList<int>>("outcomes"); // ReplyVerdict::Outcome values, in order
        QTest::addColumn<qint64>("elapsedMs");
        QTest::addColumn<QString>("line");

        const int a = ReplyVerdict::Answer, n = ReplyVerdict::NoReply, e = ReplyVerdict::Exception,
                  i = ReplyVerdict::Invalid, x = ReplyVerdict::Abandoned;
        // clang-format off
        QTest::newRow("nothing read")
            << QList<int>{} << qint64(0) << "合计0项：成功0，无应答0，异常应答0，校验错误0，用时0.0秒";
        QTest::newRow("one of each, 49 ms rounds down")
            << QList<int>{a, n, e, i} << qint64(49)
            << "合计4项：成功1，无应答1，异常应答1，校验错误1，用时0.0秒";
        QTest::newRow("50 ms rounds up to 0.1")
            << QList<int>{a} << qint64(50) << "合计1项：成功1，无应答0，异常应答0，校验错误0，用时0.1秒";
        QTest::newRow("1250 ms is 1.3, not the double's 1.2")
            << QList<int>{a, a} << qint64(1250)
            << "合计2项：成功2，无应答0，异常应答0，校验错误0，用时1.3秒";
        QTest::newRow("an abandoned exchange is not an item")
            << QList<int>{a, a, a, x} << qint64(12345)
            << "合计3项：成功3，无应答0，异常应答0，校验错误0，用时12.3秒";
        QTest::newRow("seven silent modules, 7.02 s")
            << QList<int>{n, n, n, n, n, n, n} << qint64(7020)
            << "合计7项：成功0，无应答7，异常应答0，校验错误0，用时7.0秒";
        // clang-format on
    }

    void summary()
    {
        QFETCH(QList<int>, outcomes);
        QFETCH(qint64, elapsedMs);
        QFETCH(QString, line);
        RunTally tally;
        for (int outcome : outcomes)
            tally.add({ReplyVerdict::Outcome(outcome), 0});
        QCOMPARE(summaryLine(tally, elapsedMs), line);
    }
};

QTEST_GUILESS_MAIN(tst_RunReport)
#include "tst_runreport.moc"
