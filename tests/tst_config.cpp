// config.ini: reading single values, loading the device list from it, and
// the sections that say which addresses and which record a line uses.

#include "config/devicelist.h"
#include "config/settings.h"
#include "device/journal.h"
#include "device/macaddress.h"
#include "support/testdata.h"

#include <QtTest>

#include <memory>

namespace {

// One entry as "reg|base|des|type|regnum|xsws", base as four hex digits.
QString entryText(const DeviceEntry &e)
{
    return QStringLiteral("%1|%2|%3|%4|%5|%6")
        .arg(e.reg, QStringLiteral("%1").arg(e.base, 4, 16, QLatin1Char('0')).toUpper(), e.des,
             QString::number(e.type), QString::number(e.regnum), QString::number(e.xsws));
}

const QString kEmptyEntry = QStringLiteral("|0000||0|0|0");

} // namespace

class tst_Config : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ScratchDir> m_dir;

    // Writes config.ini into the working directory; a null content leaves it absent.
    void writeConfig(const QByteArray &content)
    {
        if (!content.isNull())
            QVERIFY(m_dir->write(QStringLiteral("config.ini"), content));
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<ScratchDir>();
        QVERIFY(m_dir->isValid());
    }

    void cleanup() { m_dir.reset(); }

    void readValue_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");

        QTest::newRow("no file: empty text, number 10") << QByteArray() << "comm"
                                                        << "count"
                                                        << "" << 10;
        QTest::newRow("missing key: empty text, number 10")
            << QByteArray("[comm]\nother=3\n") << "comm"
            << "count"
            << "" << 10;
        QTest::newRow("empty value is present: number 0")
            << QByteArray("[comm]\ncount=\n") << "comm"
            << "count"
            << "" << 0;
        QTest::newRow("decimal text") << QByteArray("[comm]\ncount=16\n") << "comm"
                                      << "count"
                                      << "16" << 16;
        QTest::newRow("not an integer: 0") << QByteArray("[dev00]\ntype=1a\n") << "dev00"
                                           << "type"
                                           << "1a" << 0;
        QTest::newRow("beyond int: 0, not a truncated number")
            << QByteArray("[comm]\ncount=99999999999\n") << "comm"
            << "count"
            << "99999999999" << 0;
        QTest::newRow("Chinese text in UTF-8")
            << QByteArray("[dev01]\ndes=\xE5\xBC\x80\xE5\x85\xB3\xE7\x8A\xB6\xE6\x80\x81\n")
            << "dev01"
            << "des" << QStringLiteral("开关状态") << 0;
        QTest::newRow("comma stays part of the text") << QByteArray("[dev01]\ndes=A,B\n") << "dev01"
                                                      << "des"
                                                      << "A,B" << 0;
        QTest::newRow("dev5 is not dev05") << QByteArray("[dev5]\nreg=0704\n") << "dev05"
                                           << "reg"
                                           << "" << 10;
        QTest::newRow("byte-order mark not part of the first section")
            << QByteArray("\xEF\xBB\xBF[comm]\ncount=7\n") << "comm"
            << "count"
            << "7" << 7;
    }

    void readValue()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, group);
        QFETCH(QString, key);
        writeConfig(ini);

        QTEST(read_config_string(group, key), "text");
        QTEST(read_config_int(group, key), "number");
    }

    void writtenValueReadsBackAsUtf8()
    {
        write_config_value(QStringLiteral("dev03"), QStringLiteral("des"),
                           QStringLiteral("过流阈值"));
        QCOMPARE(read_config_string(QStringLiteral("dev03"), QStringLiteral("des")),
                 QStringLiteral("过流阈值"));

        QFile file(QStringLiteral("config.ini"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        QVERIFY2(content.contains("[dev03]"), content.constData());
        QVERIFY2(content.contains("des=\xE8\xBF\x87\xE6\xB5\x81\xE9\x98\x88\xE5\x80\xBC"),
                 content.constData());
    }

    void loadDeviceList_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("entries"); // deviceTable[0], [1], … as entryText

        QTest::newRow("no file: count 10, stops at the empty reg of dev00")
            << QByteArray() << 10 << QStringList{":输入的数据格式有错误！"}
            << QStringList{kEmptyEntry, kEmptyEntry};

        QTest::newRow("one group header and four readable entries")
            << QByteArray("[comm]\ncount=5\n") + iniSection(0, "0", "Module data", 10, 0)
                   + iniSection(1, "0704", "Switch state", 0)
                   + iniSection(2, "070F", "Protection flags", 4)
                   + iniSection(3, "0805", "Low-voltage cut-off", 0, 1, 1)
                   + iniSection(4, "080F", "Device time", 8, 4)
            << 5 << QStringList{}
            << QStringList{
                   "0|0000|Module data|10|0|0",        "0704|0704|Switch state|0|1|0",
                   "070F|070F|Protection flags|4|1|0", "0805|0805|Low-voltage cut-off|0|1|1",
                   "080F|080F|Device time|8|4|0",      kEmptyEntry};

        QTest::newRow("bad reg stops the load; later entries keep their contents")
            << QByteArray("[comm]\ncount=4\n") + iniSection(0, "0", "G", 10, 0)
                   + iniSection(1, "0704", "A", 0) + iniSection(2, "07G4", "B", 0)
                   + iniSection(3, "0805", "C", 0)
            << 4 << QStringList{"07G4:输入的数据格式有错误！"}
            << QStringList{"0|0000|G|10|0|0", "0704|0704|A|0|1|0", "07G4|0000||0|0|0", kEmptyEntry};

        QTest::newRow("missing keys read as 10: type makes a group header")
            << QByteArray("[comm]\ncount=1\n[dev00]\nreg=0805\n") << 1 << QStringList{}
            << QStringList{"0805|0805||10|10|10"};

        QTest::newRow("only the low 16 bits of reg make the register")
            << QByteArray("[comm]\ncount=1\n") + iniSection(0, "1F0704", "X", 0) << 1
            << QStringList{} << QStringList{"1F0704|0704|X|0|1|0"};

        QTest::newRow("count 0: nothing loaded")
            << QByteArray("[comm]\ncount=0\n") + iniSection(0, "0704", "A", 0) << 0 << QStringList{}
            << QStringList{kEmptyEntry};

        QTest::newRow("negative count: nothing loaded")
            << QByteArray("[comm]\ncount=-7\n") + iniSection(0, "0704", "A", 0) << 0
            << QStringList{} << QStringList{kEmptyEntry};

        QByteArray sixty("[comm]\ncount=60\n");
        for (int i = 0; i < 60; ++i)
            sixty += iniSection(i, "0704", QByteArray::number(i).constData(), 0);
        QTest::newRow("count above 50: the first 50, the rest ignored and said so")
            << sixty << 50 << QStringList{"设备列表的条目数60超过上限50，dev50及以后的条目已忽略"}
            << QStringList{"0704|0704|0|0|1|0"};

        QTest::newRow("huge count: table bounded, stops at the first missing reg")
            << QByteArray("[comm]\ncount=2147483647\n") + iniSection(0, "0704", "A", 0) << 50
            << QStringList{"设备列表的条目数2147483647超过上限50，dev50及以后的条目已忽略",
                           ":输入的数据格式有错误！"}
            << QStringList{"0704|0704|A|0|1|0", kEmptyEntry};
    }

    void loadDeviceList()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QStringList, entries);
        writeConfig(ini);

        QTEST(load_device_list(), "lines");
        QTEST(deviceCount, "count");
        for (int i = 0; i < entries.size(); ++i)
            QCOMPARE(entryText(deviceTable[i]), entries.at(i));
    }

    void sixtyEntriesFillTheWholeTable()
    {
        QByteArray ini("[comm]\ncount=60\n");
        for (int i = 0; i < 60; ++i)
            ini += iniSection(i, QByteArray::number(0x0700 + i, 16).constData(), "x", 0);
        writeConfig(ini);
        load_device_list();
        QCOMPARE(entryText(deviceTable[kDeviceTableSize - 1]), QStringLiteral("731|0731|x|0|1|0"));
    }

    void findEntryByRegister_data()
    {
        QTest::addColumn<int>("base");
        QTest::addColumn<int>("index");

        QTest::newRow("first of two entries with 0805") << 0x0805 << 1;
        QTest::newRow("080F") << 0x080F << 3;
        QTest::newRow("register nobody lists") << 0x0807 << -1;
    }

    void findEntryByRegister()
    {
        QFETCH(int, base);
        writeConfig(QByteArray("[comm]\ncount=4\n") + iniSection(0, "0704", "A", 0)
                    + iniSection(1, "0805", "B", 0) + iniSection(2, "0805", "C", 0)
                    + iniSection(3, "080F", "D", 8, 4));
        load_device_list();
        QTEST(::findEntryByRegister(quint16(base)), "index");
    }

    // The lookup searches all 50 entries, so a shorter list loaded later must
    // not leave a register of the earlier one findable.
    void reloadForgetsEarlierEntries()
    {
        writeConfig(QByteArray("[comm]\ncount=2\n") + iniSection(0, "0704", "A", 0)
                    + iniSection(1, "080F", "D", 8, 4));
        load_device_list();
        QCOMPARE(::findEntryByRegister(0x080F), 1);
        writeConfig(QByteArray("[comm]\ncount=1\n") + iniSection(0, "0704", "A", 0));
        load_device_list();
        QCOMPARE(::findEntryByRegister(0x080F), -1);
        QCOMPARE(deviceTable[1].reg, QString());
    }

    void macBlock_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("block");
        QTest::addColumn<QString>("problem"); // "" = usable

        const QString standard = QStringLiteral("00:39:28:00:00:00–00:39:28:FF:FF:FF");
        QTest::newRow("no [mac] section: the default block") << QByteArray() << standard << "";
        QTest::newRow("first and last, written either way")
            << QByteArray("[mac]\nfirst=00-39-28-90-00-00\nlast=003928900fff\n")
            << "00:39:28:90:00:00–00:39:28:90:0F:FF"
            << "";
        QTest::newRow("only last") << QByteArray("[mac]\nlast = 00:39:28:00:FF:FF\n")
                                   << "00:39:28:00:00:00–00:39:28:00:FF:FF"
                                   << "";
        QTest::newRow("not an address") << QByteArray("[mac]\nfirst=00:39:28:9000:00\n") << standard
                                        << "config.ini [mac] first=00:39:28:9000:00 "
                                           "不是MAC地址（应为 00:39:28:00:00:00 的形式）";
        QTest::newRow("first after last")
            << QByteArray("[mac]\nfirst=00:39:28:90:00:00\nlast=00:39:28:80:00:00\n")
            << "00:39:28:90:00:00–00:39:28:80:00:00"
            << "config.ini [mac] first=00:39:28:90:00:00 在 last=00:39:28:80:00:00 "
               "之后，地址段无效";
        QTest::newRow("a key misspelt")
            << QByteArray("[mac]\nlats=00:39:28:80:00:00\n") << standard
            << "config.ini [mac] lats= 不是可用的键（只有 first 和 last）";
    }

    void macBlock()
    {
        QFETCH(QByteArray, ini);
        writeConfig(ini);
        QString problem;
        const MacBlock block = macBlockFromConfig(&problem);
        QTEST(problem, "problem");
        QTEST(block.text(), "block");
    }

    // The keys that refuse the record are tried through the window
    // (tst_provisioning, recordUnusable); here what the others parse into.
    void journalOptions_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("problem"); // how it begins; "" = usable
        QTest::addColumn<bool>("postgres");
        QTest::addColumn<int>("timeLimitS");

        QTest::newRow("none: SQLite") << QByteArray() << "" << false << 5;
        QTest::newRow("the shared server")
            << QByteArray("[journal]\ndriver=PostgreSQL\nhost=db\nport=5433\ndatabase=f\n"
                          "user=bench\nbench=工位3\ntimeout=10\n")
            << "" << true << 10;
        QTest::newRow("another SQLite file")
            << QByteArray("[journal]\ndriver=sqlite\npath=D:/records/p.db\n") << "" << false << 5;
        QTest::newRow("a file's key with the server")
            << QByteArray("[journal]\ndriver=postgresql\npath=p.db\n")
            << "config.ini [journal] path= 只用于 driver=sqlite" << true << 5;
    }

    void journalOptions()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, problem);
        writeConfig(ini);
        const JournalOptions o = JournalOptions::fromConfig();
        QVERIFY2(problem.isEmpty() ? o.problem.isEmpty()
                                   : o.problem.startsWith(problem)
                                         && o.problem.endsWith(QStringLiteral("生产记录不可用")),
                 qPrintable(o.problem));
        QTEST(o.driver == JournalOptions::Postgres, "postgres");
        QTEST(o.timeLimitS, "timeLimitS");
    }
};

QTEST_GUILESS_MAIN(tst_Config)
#include "tst_config.moc"
