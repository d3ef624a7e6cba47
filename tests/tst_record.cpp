// The provisioning record on its own, on an SQLite file: which address a
// unit may be given, what is kept of each attempt, and the CSV export. Needs
// no line, so it runs on Windows too.

#include "device/journal.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>

class tst_Record : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void claims_data();
    void claims();
    void unwritableRecordRefuses();
    void exportCsv();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    JournalOptions m_options;
};

void tst_Record::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_options.path = m_dir->filePath(QStringLiteral("provisioning.db"));
    m_options.bench = QStringLiteral("工位1");
}

// A first write of 00:39:28:90:00:10 for PDU01 ends with outcome; then the
// same address is asked for by serial number sn.
void tst_Record::claims_data()
{
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("sn");
    QTest::addColumn<bool>("taken");
    const QString verified = QString::fromLatin1(kResultVerified);
    const QString noReply = QString::fromLatin1(kResultNoReply);
    QTest::newRow("the same unit again: re-provisioning") << verified << "PDU01" << false;
    QTest::newRow("another unit: refused") << verified << "PDU02" << true;
    QTest::newRow("no serial number: nobody can tell, refused") << verified << "" << true;
    QTest::newRow("unanswered write: the unit may hold it") << noReply << "PDU02" << true;
    QTest::newRow("cut short after sending: kept")
        << QString::fromLatin1(kResultAborted) << "PDU02" << true;
    QTest::newRow("never sent: free again")
        << QString::fromLatin1(kResultNotSent) << "PDU02" << false;
}

void tst_Record::claims()
{
    QFETCH(QString, outcome);
    QFETCH(QString, sn);
    QFETCH(bool, taken);
    const QString mac = QStringLiteral("00:39:28:90:00:10");
    const qint64 firstMs = QDateTime(QDate(2026, 12, 7), QTime(9, 0)).toMSecsSinceEpoch();
    Journal journal(m_options);
    const Journal::Start first = journal.begin(
        QLatin1String(kOpWriteMac), firstMs, QStringLiteral("COM3"), QStringLiteral("PDU01"), mac);
    QVERIFY2(first.error.isEmpty(), qPrintable(first.error));
    QVERIFY(first.id > 0 && !first.taken);
    QString error;
    QVERIFY2(journal.finish(first.id, outcome, QStringLiteral("…"), QString(), &error),
             qPrintable(error));

    // A second bench on the same file.
    Journal other(m_options);
    const Journal::Start second
        = other.begin(QLatin1String(kOpWriteMac), firstMs + 1000, QStringLiteral("COM4"), sn, mac);
    QVERIFY2(second.error.isEmpty(), qPrintable(second.error));
    QCOMPARE(second.taken, taken);
    if (taken) {
        QCOMPARE(second.takenSn, QStringLiteral("PDU01"));
        QCOMPARE(second.takenMs, firstMs);
    }
    const QVector<JournalRow> rows = other.rows(QString(), &error);
    QCOMPARE(rows.size(), 2); // every attempt, a refused one too; newest first
    QCOMPARE(rows.at(0).result,
             taken ? QString::fromLatin1(kResultRefused) : QString::fromLatin1(kResultPending));
    QCOMPARE(rows.at(1).result, outcome);
    QCOMPARE(rows.at(1).bench, QStringLiteral("工位1"));
}

// A record that cannot be written gives no attempt an id: nothing may be sent.
void tst_Record::unwritableRecordRefuses()
{
    QFile blocker(m_dir->filePath(QStringLiteral("not-a-folder")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    m_options.path = blocker.fileName() + QStringLiteral("/provisioning.db");
    Journal journal(m_options);
    const Journal::Start start
        = journal.begin(QLatin1String(kOpWriteMac), 0, QStringLiteral("COM3"),
                        QStringLiteral("PDU01"), QStringLiteral("00:39:28:90:00:10"));
    QCOMPARE(start.id, qint64(0));
    QVERIFY(!start.error.isEmpty());
}

void tst_Record::exportCsv()
{
    JournalRow row;
    row.timeMs = QDateTime(QDate(2026, 12, 7), QTime(9, 30, 1, 5)).toMSecsSinceEpoch();
    row.bench = QStringLiteral("工位1");
    row.port = QStringLiteral("ttyUSB0");
    row.sn = QStringLiteral("PDU,\"01\"");
    row.operation = QString::fromLatin1(kOpWriteMac);
    row.mac = QStringLiteral("00:39:28:90:00:10");
    row.result = QString::fromLatin1(kResultVerified);
    row.detail = QStringLiteral("MAC读回校验通过");
    const QByteArray csv = journalCsv({row});
    QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
    const QStringList lines = QString::fromUtf8(csv.mid(3)).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 3); // header, the row, the empty tail after the last line end
    QCOMPARE(lines.at(1),
             QStringLiteral("2026-12-07 09:30:01.005,工位1,ttyUSB0,\"PDU,\"\"01\"\"\",写MAC,"
                            "00:39:28:90:00:10,已写入，读回一致,MAC读回校验通过"));
}

QTEST_GUILESS_MAIN(tst_Record)
#include "tst_record.moc"
