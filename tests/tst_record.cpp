// The provisioning record on its own, on an SQLite file: which address a
// unit may be given, what is kept of each attempt, whether the file is still
// the record this bench knows, outcomes the record could not take at once,
// and the CSV export. Needs no line, so it runs on Windows too.

#include "device/journal.h"

#include <QDateTime>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kMac = QStringLiteral("00:39:28:90:00:10");
const QString kOtherMac = QStringLiteral("00:39:28:90:00:11");

// How a test damages the record between two uses.
enum class Damage { None, Emptied, Deleted, Replaced, PathChanged, OldRecordWithoutId };

} // namespace

Q_DECLARE_METATYPE(Damage)

class tst_Record : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void claims_data();
    void claims();
    void recordKnowsItsIdentity_data();
    void recordKnowsItsIdentity();
    void outcomeKeptUntilTheRecordTakesIt();
    void unwritableRecordRefuses();
    void exportCsv_data();
    void exportCsv();

private:
    Journal::Start write(Journal &journal, const QString &sn, const QString &mac, qint64 timeMs = 0)
    {
        return journal.begin(QLatin1String(kOpWriteMac), timeMs, QStringLiteral("COM3"), sn, mac);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    JournalOptions m_options;
};

void tst_Record::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_options.path = m_dir->filePath(QStringLiteral("provisioning.db"));
    m_options.bench = QStringLiteral("工位1");
    m_options.benchSettings = m_dir->filePath(QStringLiteral("bench.ini"));
    m_options.timeLimitS = 5;
}

// A first write of 00:39:28:90:00:10 for PDU01 ends with outcome; then a
// second bench asks for secondMac for serial number sn.
void tst_Record::claims_data()
{
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("sn");
    QTest::addColumn<QString>("secondMac");
    QTest::addColumn<QString>("refusal"); // "" = not refused
    QTest::addColumn<QString>("note");    // a line said before the write goes out
    const QString verified = QString::fromLatin1(kResultVerified);
    const QString noReply = QString::fromLatin1(kResultNoReply);
    const QString at = QStringLiteral("2026-12-07 09:00:00");
    const QString taken
        = QStringLiteral("MAC 00:39:28:90:00:10 已于 %1 写入 SN PDU01，未写入").arg(at);
    QTest::newRow("the same unit again: re-provisioning, and said")
        << verified << "PDU01" << kMac << ""
        << QStringLiteral("SN PDU01 已于 %1 在 工位1 写入过该地址，本次为重写").arg(at);
    QTest::newRow("another unit: refused") << verified << "PDU02" << kMac << taken << "";
    QTest::newRow("no serial number: nobody can tell, refused")
        << verified << "" << kMac << taken << "";
    QTest::newRow("unanswered write: the unit may hold it")
        << noReply << "PDU02" << kMac << taken << "";
    QTest::newRow("cut short after sending: kept")
        << QString::fromLatin1(kResultAborted) << "PDU02" << kMac << taken << "";
    QTest::newRow("never sent: free again")
        << QString::fromLatin1(kResultNotSent) << "PDU02" << kMac << ""
        << "";
    QTest::newRow("a unit with a verified address gets no other")
        << verified << "PDU01" << kOtherMac
        << QStringLiteral("SN PDU01 已于 %1 写入 MAC 00:39:28:90:00:10，未写入").arg(at) << "";
    QTest::newRow("a unit whose write failed may get another")
        << QString::fromLatin1(kResultReadBackFailed) << "PDU01" << kOtherMac << ""
        << "";
    QTest::newRow("the serial number's case matters: another unit")
        << verified << "pdu01" << kOtherMac << ""
        << "";
}

void tst_Record::claims()
{
    QFETCH(QString, outcome);
    QFETCH(QString, sn);
    QFETCH(QString, secondMac);
    QFETCH(QString, refusal);
    QFETCH(QString, note);
    const qint64 firstMs = QDateTime(QDate(2026, 12, 7), QTime(9, 0)).toMSecsSinceEpoch();
    Journal journal(m_options);
    const Journal::Start first = write(journal, QStringLiteral("PDU01"), kMac, firstMs);
    QVERIFY2(first.error.isEmpty(), qPrintable(first.error));
    QVERIFY(first.id > 0 && !first.taken);
    QString error;
    QVERIFY2(journal.finish(first.id, outcome, QStringLiteral("…"), QString(), &error),
             qPrintable(error));

    // A second bench on the same file.
    JournalOptions otherBench = m_options;
    otherBench.bench = QStringLiteral("工位2");
    otherBench.benchSettings = m_dir->filePath(QStringLiteral("other-bench.ini"));
    Journal other(otherBench);
    const Journal::Start second = write(other, sn, secondMac, firstMs + 1000);
    QVERIFY2(second.error.isEmpty(), qPrintable(second.error));
    QCOMPARE(second.taken, !refusal.isEmpty());
    QCOMPARE(second.refusal, refusal);
    QCOMPARE(second.notes, note.isEmpty() ? QStringList() : QStringList{note});
    const QVector<JournalRow> rows = other.rows(QString(), &error);
    QCOMPARE(rows.size(), 2); // every attempt, a refused one too; newest first
    QCOMPARE(rows.at(0).result, refusal.isEmpty() ? QString::fromLatin1(kResultPending)
                                                  : QString::fromLatin1(kResultRefused));
    QCOMPARE(rows.at(0).detail, refusal);
    QCOMPARE(rows.at(1).result, outcome);
    QCOMPARE(rows.at(1).bench, QStringLiteral("工位1"));
}

void tst_Record::recordKnowsItsIdentity_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<QString>("refusal"); // what the refused write says; "" = written
    QTest::addColumn<int>("state");       // Journal::Identity::State after the damage

    QTest::newRow("untouched") << Damage::None << "" << int(Journal::Identity::InOrder);
    QTest::newRow("emptied to 0 bytes")
        << Damage::Emptied << "是空的或已不存在" << int(Journal::Identity::Emptied);
    QTest::newRow("deleted") << Damage::Deleted << "是空的或已不存在"
                             << int(Journal::Identity::Emptied);
    QTest::newRow("another record in its place")
        << Damage::Replaced << "中是另一份记录" << int(Journal::Identity::Replaced);
    QTest::newRow("a store this bench never used, while it used another")
        << Damage::PathChanged << "还没有建立" << int(Journal::Identity::Unfamiliar);
    QTest::newRow("a record from before records had an identity: taken up as it is")
        << Damage::OldRecordWithoutId << "" << int(Journal::Identity::InOrder);
}

// A bench's first start makes a record without asking; afterwards a store
// that lost or changed its record refuses writes until a new record is
// started deliberately, and the address given before stays given where the
// record itself survived.
void tst_Record::recordKnowsItsIdentity()
{
    QFETCH(Damage, damage);
    QFETCH(QString, refusal);
    QFETCH(int, state);

    {
        Journal::Identity before;
        QString error;
        Journal journal(m_options);
        QVERIFY(journal.identity(&before, &error));
        QCOMPARE(before.state, Journal::Identity::FirstStart);
        const Journal::Start start = write(journal, QStringLiteral("PDU01"), kMac);
        QVERIFY2(start.error.isEmpty(), qPrintable(start.error));
        QVERIFY(
            journal.finish(start.id, QLatin1String(kResultVerified), QString(), QString(), &error));
    }

    switch (damage) {
    case Damage::None:
        break;
    case Damage::Emptied: {
        QFile file(m_options.path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QFile::remove(m_options.path + QStringLiteral("-wal"));
        QFile::remove(m_options.path + QStringLiteral("-shm"));
        break;
    }
    case Damage::Deleted:
        QVERIFY(QFile::remove(m_options.path));
        QFile::remove(m_options.path + QStringLiteral("-wal"));
        QFile::remove(m_options.path + QStringLiteral("-shm"));
        break;
    case Damage::Replaced: {
        QVERIFY(QFile::remove(m_options.path));
        // Another bench, on its first start, makes a record of its own there.
        JournalOptions stranger = m_options;
        stranger.benchSettings = m_dir->filePath(QStringLiteral("stranger.ini"));
        Journal journal(stranger);
        QVERIFY(write(journal, QStringLiteral("PDU09"), QStringLiteral("00:39:28:90:00:99"))
                    .error.isEmpty());
        break;
    }
    case Damage::PathChanged:
        m_options.path = m_dir->filePath(QStringLiteral("provisionig.db"));
        break;
    case Damage::OldRecordWithoutId: {
        // Made as the tool made its record before records had an identity,
        // and found by a bench that never used a record.
        QVERIFY(QFile::remove(m_options.path));
        QFile::remove(m_options.benchSettings);
        {
            QSqlDatabase db
                = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old"));
            db.setDatabaseName(m_options.path);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral(
                "CREATE TABLE attempts (id INTEGER PRIMARY KEY AUTOINCREMENT, time_ms BIGINT NOT "
                "NULL, bench TEXT NOT NULL, port TEXT NOT NULL, sn TEXT NOT NULL, operation TEXT "
                "NOT NULL, mac TEXT NOT NULL, result TEXT NOT NULL, detail TEXT NOT NULL)")));
            QVERIFY(q.exec(QStringLiteral("CREATE TABLE mac_claims (mac TEXT PRIMARY KEY, sn TEXT "
                                          "NOT NULL, time_ms BIGINT NOT NULL, attempt BIGINT NOT "
                                          "NULL)")));
            QVERIFY(q.exec(QStringLiteral("INSERT INTO attempts VALUES (1, 0, 'b', 'p', 'PDU01', "
                                          "'write_mac', '00:39:28:90:00:10', 'verified', '')")));
            QVERIFY(q.exec(QStringLiteral(
                "INSERT INTO mac_claims VALUES ('00:39:28:90:00:10', 'PDU01', 0, 1)")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("old"));
        break;
    }
    }

    // The next start: the address of PDU01 asked for by another unit.
    Journal journal(m_options);
    Journal::Identity identity;
    QString error;
    QVERIFY2(journal.identity(&identity, &error), qPrintable(error));
    QCOMPARE(int(identity.state), state);
    const Journal::Start start = write(journal, QStringLiteral("PDU02"), kMac);
    // Code that keeps tables beside the record gets its connection on the
    // same terms.
    QString dbError;
    const QSqlDatabase db = journal.database(&dbError);
    QCOMPARE(db.isOpen(), refusal.isEmpty());
    if (refusal.isEmpty()) {
        // The record survived: the address is still PDU01's.
        QVERIFY2(start.error.isEmpty(), qPrintable(start.error));
        QVERIFY(start.taken);
        QVERIFY(QSqlQuery(QStringLiteral("SELECT count(*) FROM attempts"), db).next());
        return;
    }
    QVERIFY2(dbError.contains(refusal), qPrintable(dbError));
    QVERIFY2(start.error.contains(refusal), qPrintable(start.error));
    QVERIFY2(start.error.contains(QStringLiteral("新建生产记录")), qPrintable(start.error));
    QCOMPARE(start.id, qint64(0));
    // Refused without making a record where there was none.
    if (damage == Damage::Deleted || damage == Damage::PathChanged)
        QVERIFY(!QFileInfo::exists(m_options.path));

    // 文件 → 新建生产记录…: the store becomes this bench's record.
    bool made = false;
    QVERIFY2(journal.startNewRecord(&made, &error), qPrintable(error));
    QCOMPARE(made, damage != Damage::Replaced);
    const Journal::Start again = write(journal, QStringLiteral("PDU02"), kMac);
    QVERIFY2(again.error.isEmpty(), qPrintable(again.error));
    // In the record taken up, the other bench's address is still its own.
    QVERIFY(!again.taken);
    QVERIFY(journal.identity(&identity, &error));
    QCOMPARE(identity.state, Journal::Identity::InOrder);
}

// The record went away between the claim and the outcome: the outcome is
// kept on this bench (over a restart too) and written before the next claim.
void tst_Record::outcomeKeptUntilTheRecordTakesIt()
{
    m_options.timeLimitS = 1;
    qint64 id = 0;
    {
        Journal journal(m_options);
        const Journal::Start start = write(journal, QStringLiteral("PDU01"), kMac);
        QVERIFY2(start.error.isEmpty(), qPrintable(start.error));
        id = start.id;

        // Another process holds the file's write lock past the limit.
        {
            QSqlDatabase db
                = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
            db.setDatabaseName(m_options.path);
            QVERIFY(db.open());
            QSqlQuery hold(db);
            QVERIFY(hold.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            QString error;
            QVERIFY(!journal.finish(id, QLatin1String(kResultVerified),
                                    QStringLiteral("MAC读回校验通过"), QString(), &error));
            QVERIFY(!error.isEmpty());
            QCOMPARE(journal.keptOutcomes(), 1);
            // A press meanwhile is refused: the record cannot be written.
            QVERIFY(!write(journal, QStringLiteral("PDU02"), kOtherMac).error.isEmpty());
            QVERIFY(hold.exec(QStringLiteral("ROLLBACK")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    } // the tool closed while the outcome waited

    Journal journal(m_options);
    QCOMPARE(journal.keptOutcomes(), 1);
    const Journal::Start next = write(journal, QStringLiteral("PDU02"), kOtherMac);
    QVERIFY2(next.error.isEmpty(), qPrintable(next.error));
    QCOMPARE(next.notes, QStringList{"已补记 1 条此前未能写入生产记录的操作结果"});
    QCOMPARE(journal.keptOutcomes(), 0);
    QString error;
    const QVector<JournalRow> rows = journal.rows(QString(), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(rows.last().id, id);
    QCOMPARE(rows.last().result, QString::fromLatin1(kResultVerified));
    QCOMPARE(rows.last().detail, QStringLiteral("MAC读回校验通过"));
    for (const JournalRow &r : rows)
        QVERIFY2(r.id == next.id || r.result != QLatin1String(kResultPending), qPrintable(r.mac));
}

// A record that cannot be written gives no attempt an id: nothing may be sent.
void tst_Record::unwritableRecordRefuses()
{
    QFile blocker(m_dir->filePath(QStringLiteral("not-a-folder")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    m_options.path = blocker.fileName() + QStringLiteral("/provisioning.db");
    Journal journal(m_options);
    const Journal::Start start = write(journal, QStringLiteral("PDU01"), kMac);
    QCOMPARE(start.id, qint64(0));
    QVERIFY(!start.error.isEmpty());
}

void tst_Record::exportCsv_data()
{
    QTest::addColumn<QString>("sn");
    QTest::addColumn<QString>("bench");
    QTest::addColumn<QString>("cells"); // the row after the time, as the file holds it

    const QString tail = QStringLiteral("写MAC,00:39:28:90:00:10,已写入，读回一致,MAC读回校验通过");
    QTest::newRow("quotes and commas quoted") << "PDU,\"01\""
                                              << "工位1"
                                              << "工位1,ttyUSB0,\"PDU,\"\"01\"\"\"," + tail;
    // A cell a spreadsheet would run as a formula is written as text.
    QTest::newRow("= first: a formula, written as text")
        << "=HYPERLINK(\"http://x\",\"y\")"
        << "工位1"
        << "工位1,ttyUSB0,\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\"," + tail;
    QTest::newRow("+ first") << "+1+1"
                             << "工位1"
                             << "工位1,ttyUSB0,\"'+1+1\"," + tail;
    QTest::newRow("- first") << "-2"
                             << "工位1"
                             << "工位1,ttyUSB0,\"'-2\"," + tail;
    QTest::newRow("@ first, in the bench name") << "PDU01"
                                                << "@SUM(A1)"
                                                << "\"'@SUM(A1)\",ttyUSB0,PDU01," + tail;
    QTest::newRow("a tab first") << "\tPDU01"
                                 << "工位1"
                                 << "工位1,ttyUSB0,\"'\tPDU01\"," + tail;
    QTest::newRow("a carriage return first") << "\r=1"
                                             << "工位1"
                                             << "工位1,ttyUSB0,\"'\r=1\"," + tail;
    QTest::newRow("inside a cell they are harmless") << "PDU=01-A"
                                                     << "工位1"
                                                     << "工位1,ttyUSB0,PDU=01-A," + tail;
}

void tst_Record::exportCsv()
{
    QFETCH(QString, sn);
    QFETCH(QString, bench);
    QFETCH(QString, cells);
    JournalRow row;
    row.timeMs = QDateTime(QDate(2026, 12, 7), QTime(9, 30, 1, 5)).toMSecsSinceEpoch();
    row.bench = bench;
    row.port = QStringLiteral("ttyUSB0");
    row.sn = sn;
    row.operation = QString::fromLatin1(kOpWriteMac);
    row.mac = kMac;
    row.result = QString::fromLatin1(kResultVerified);
    row.detail = QStringLiteral("MAC读回校验通过");
    const QByteArray csv = journalCsv({row});
    QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
    const QString text = QString::fromUtf8(csv.mid(3));
    const QString header = QStringLiteral("时间,工位,串口,SN,操作,MAC,结果,说明\r\n");
    QVERIFY(text.startsWith(header));
    QCOMPARE(text.mid(header.size()),
             QStringLiteral("2026-12-07 09:30:01.005,") + cells + QStringLiteral("\r\n"));
}

QTEST_GUILESS_MAIN(tst_Record)
#include "tst_record.moc"
