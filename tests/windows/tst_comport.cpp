// The real window on a real COM port, for a Windows build run under Wine: the
// simulated unit (pdu-sim, started by scripts/test-wine.sh) sits behind the
// port. The unit was started with module 1 open (cause 1) and protection
// flags 0003 (pdu-sim --switch-state 1:1 --flags 1:0x0003). Each case also writes the requests the
// unit must have received to the file FEEDERBENCH_EXPECTED_REQUESTS names; the script compares that
// with the simulator's own log.

#include "support/testdata.h"
#include "support/windowdriver.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

namespace {

QString portName()
{
    const QString name = qEnvironmentVariable("FEEDERBENCH_COM_PORT");
    return name.isEmpty() ? QStringLiteral("COM5") : name;
}

// Appends the requests the unit should have seen, one hex line each.
bool expectRequests(const QStringList &requests)
{
    const QString path = qEnvironmentVariable("FEEDERBENCH_EXPECTED_REQUESTS");
    if (path.isEmpty())
        return true;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return false;
    for (const QString &r : requests)
        file.write(r.toLatin1() + '\n');
    return true;
}

// What the window logged as sent, in order, as the unit's log shows it.
QStringList sentFrames(MainWindow &w)
{
    const QString marker = QStringLiteral("][发送]: ");
    QStringList frames;
    for (const QString &line : trafficLines(w)) {
        const int at = line.indexOf(marker);
        if (at >= 0)
            frames << line.mid(at + marker.size()).trimmed().toUpper();
    }
    return frames;
}

// The sample config.ini and mac.csv in a scratch directory, the window open on the port.
struct ComBench
{
    ScratchDir dir;
    std::unique_ptr<MainWindow> window;
    bool ready = false;

    ComBench()
    {
        const bool copied = QFile::copy(sourceDir() + QStringLiteral("/examples/config.ini"),
                                        dir.path() + QStringLiteral("/config.ini"))
                            && QFile::copy(sourceDir() + QStringLiteral("/examples/mac.csv"),
                                           dir.path() + QStringLiteral("/mac.csv"));
        window = std::make_unique<MainWindow>();
        ready = copied && dir.isValid() && openPortOn(*window, portName());
    }
    ~ComBench() { window.reset(); } // the port closes with the window

    void selectModule(const QString &module)
    {
        auto *combo = widget<QComboBox>(*window, "comboBox_md");
        combo->setCurrentIndex(combo->findText(module));
    }
    void click(const char *name) { widget<QPushButton>(*window, name)->click(); }
    QLineEdit *field(const char *name) { return widget<QLineEdit>(*window, name); }
};

} // namespace

class tst_ComPort : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pollOfTheSampleList();
    void closeModule1();
    void writeThenReadMac();
};

// Under Wine, a DLL loaded while one of the diverted serial waits
// (wine_comm_wait.cpp) is registered never finishes loading: the SQLite
// driver, which the first MAC command loads, is loaded here, before any port
// opens. Windows itself needs no such step.
void tst_ComPort::initTestCase()
{
    {
        QSqlDatabase db
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("probe"));
        db.setDatabaseName(QStringLiteral(":memory:"));
        QVERIFY(db.open());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("probe"));
}

void tst_ComPort::pollOfTheSampleList()
{
    ComBench bench;
    QVERIFY2(bench.ready, qPrintable(portName()));
    bench.selectModule(QStringLiteral("1"));
    auto *tree = widget<QTreeWidget>(*bench.window, "treeWidget");
    const QList<QTreeWidgetItem *> all = tree->findItems(QStringLiteral("所有"), Qt::MatchExactly);
    QCOMPARE(all.size(), 1);
    all.first()->setCheckState(0, Qt::Checked);
    bench.click("pushButton");

    // Every entry of the list went out once, each a read of module 1 (register 1xxx).
    const QStringList sent = sentFrames(*bench.window);
    QCOMPARE(sent.size(), 12);
    for (const QString &frame : sent)
        QVERIFY2(frame.startsWith(QStringLiteral("55 03 1")), qPrintable(frame));
    QVERIFY(expectRequests(sent));
    // The run's summary line counts each kind of failure, all of them 0.
    const QStringList lines = trimmed(resultLines(*bench.window))
                                  .filter(QRegularExpression(QStringLiteral("^(?!合计)")));
    for (const char *failure : {"没有应答", "异常应答", "校验错误"})
        QVERIFY2(lines.filter(QString::fromUtf8(failure)).isEmpty(), qPrintable(lines.join('\n')));
    QVERIFY2(lines.contains(QStringLiteral("开关状态:1")), qPrintable(lines.join('\n')));
    QVERIFY2(lines.contains(QStringLiteral("保护状态:0000000000000011")),
             qPrintable(lines.join('\n')));
    // A fresh unit's disconnect threshold, 432 tenths of a volt.
    QCOMPARE(bench.field("lineEdit_dytlz")->text(), QStringLiteral("43.2"));
}

void tst_ComPort::closeModule1()
{
    ComBench bench;
    QVERIFY2(bench.ready, qPrintable(portName()));
    bench.selectModule(QStringLiteral("1"));
    bench.click("pushButton_4");

    QVERIFY(expectRequests({withCrc(QStringLiteral("55 06 18 02 00 00"))}));
    QCOMPARE(resultLines(*bench.window), QStringList{QStringLiteral("模块[1]合闸成功")});
}

// The write is read back (0x98) in the same operation; the next unit's
// address is offered after it; a read then shows the address the unit holds.
void tst_ComPort::writeThenReadMac()
{
    ComBench bench;
    QVERIFY2(bench.ready, qPrintable(portName()));
    bench.field("lineEdit_wrmac")->setText(QStringLiteral("00:39:28:90:00:2A"));
    bench.click("pushButton_wrmac");
    const QString offered = bench.field("lineEdit_wrmac")->text();
    const QStringList writeLines = trimmed(resultLines(*bench.window));
    bench.click("pushButton_rdmac");
    QVERIFY(expectRequests({asSeen(servicePacket(0x99, QByteArray::fromHex("00392890002a"))),
                            asSeen(servicePacket(0x98)), asSeen(servicePacket(0x98))}));

    QCOMPARE(offered, QStringLiteral("00:39:28:90:00:2b"));
    QVERIFY2(writeLines.contains(QStringLiteral("MAC读回校验通过")),
             qPrintable(writeLines.join('\n')));
    QCOMPARE(bench.field("lineEdit_rdmac")->text(), QStringLiteral("00:39:28:90:00:2a"));
}

QTEST_MAIN(tst_ComPort)
#include "tst_comport.moc"
