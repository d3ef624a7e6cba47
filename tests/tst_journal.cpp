// The provisioning record shared by several tool processes: two processes on
// one SQLite file, two on one PostgreSQL server (a private one, started here),
// a server that stops in the middle of a run, and one that hangs, under a MAC
// write and at the end of a unit's test plan.
//
// Run with FEEDERBENCH_WRITER_INI set, this program is one bench instead: a
// window on its own simulated unit, giving 50 units addresses from
// 00:39:28:90:00:00 on, as an engineer would (a refused address is skipped to
// the next); it prints "unit <address>" for each unit written and verified,
// "attempts <n>" for the presses that reached the record and "refused <n>"
// for those refused because the record could not be written.

#include "device/journal.h"
#include "device/journalwindow.h"
#include "device/macaddress.h"
#include "support/privaterecord.h"
#include "support/unitonline.h"
#include "support/windowdriver.h"
#include "tools/pgserver.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <functional>
#include <limits>

namespace {

constexpr int kUnits = 50;
const char kWriterVariable[] = "FEEDERBENCH_WRITER_INI";

QString nextAddress(const QString &address)
{
    quint64 value = 0;
    parseMac(address, &value);
    return macAddressText(value + 1);
}

int runWriter()
{
    QFile sample(sourceDir() + QStringLiteral("/examples/config.ini"));
    if (!sample.open(QIODevice::ReadOnly))
        return 2;
    const QByteArray ini = sample.readAll() + "\n" + qgetenv(kWriterVariable);
    BenchRig rig(ini, "SN,MAC\n");
    if (!rig.ready())
        return 3;
    auto *field = widget<QLineEdit>(rig.window(), "lineEdit_wrmac");
    QString address = QStringLiteral("00:39:28:90:00:00");
    int attempts = 0;
    int units = 0;
    int presses = 0;
    int refused = 0;
    while (units < kUnits && presses < 20 * kUnits) {
        ++presses;
        rig.unit().setMac(PduUnit::factoryMac()); // the next unit on the bench
        field->setText(address);
        widget<QAbstractButton>(rig.window(), "pushButton_wrmac")->click();
        const QStringList lines = resultLines(rig.window());
        const QString last = lines.last();
        if (last.contains(QStringLiteral("没有记录就不操作设备"))) {
            ++refused;
            QTest::qWait(100); // the record is away: try the same address again
            continue;
        }
        ++attempts;
        if (last == QStringLiteral("MAC读回校验通过")) {
            std::printf("unit %s\n", qPrintable(QString::fromLatin1(rig.unit().mac().toHex(':'))));
            std::fflush(stdout);
            ++units;
        }
        address = nextAddress(address);
    }
    std::printf("attempts %d\nrefused %d\n", attempts, refused);
    return units == kUnits ? 0 : 1;
}

struct WriterRun
{
    QStringList units;
    int attempts = -1;
    int refused = -1; // presses refused because the record could not be written
};

QProcess *startWriter(const QByteArray &journalSection)
{
    auto *process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(kWriterVariable), QString::fromUtf8(journalSection));
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QCoreApplication::applicationFilePath(), QStringList());
    return process;
}

WriterRun finishWriter(QProcess *process)
{
    WriterRun run;
    process->waitForFinished(240000);
    const QByteArray out = process->readAll();
    const QStringList lines = QString::fromUtf8(out).split(QLatin1Char('\n'));
    for (const QString &untrimmed : lines) {
        const QString line = untrimmed.trimmed(); // the codec's diagnostics end in LF CR
        if (line.startsWith(QLatin1String("unit ")))
            run.units << line.mid(5).toUpper();
        else if (line.startsWith(QLatin1String("attempts ")))
            run.attempts = line.mid(9).toInt();
        else if (line.startsWith(QLatin1String("refused ")))
            run.refused = line.mid(8).toInt();
    }
    delete process;
    return run;
}

// A connection of the test's own beside the window's, and the server's
// processes that serve the window (every client backend but this one's).
struct ServerHelper
{
    explicit ServerHelper(const JournalOptions &options)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), kName);
        db.setHostName(options.host);
        db.setPort(options.port);
        db.setDatabaseName(options.database);
        db.setUserName(options.user);
        db.open();
    }
    ~ServerHelper() { QSqlDatabase::removeDatabase(kName); }
    QSqlDatabase db() const { return QSqlDatabase::database(kName, false); }
    QList<qint64> windowBackends() const
    {
        QList<qint64> pids;
        QSqlQuery query(db());
        query.exec(QStringLiteral("SELECT pid FROM pg_stat_activity WHERE backend_type = "
                                  "'client backend' AND pid <> pg_backend_pid()"));
        while (query.next())
            pids << query.value(0).toLongLong();
        return pids;
    }
    static constexpr const char *kName = "helper";
};

QByteArray postgresSection(const PgServer &server)
{
    return QStringLiteral("[journal]\ndriver=postgresql\nhost=%1\nport=%2\ndatabase=%3\nuser=%4\n")
        .arg(server.socketDir())
        .arg(PgServer::kPort)
        .arg(PgServer::database(), PgServer::user())
        .toUtf8();
}

} // namespace

class tst_Journal : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PgServer> m_server;

    // Two writers on one record, then what the record holds.
    void twoBenchesShareOneRecord(const JournalOptions &options, const QByteArray &section);
    void startServer();

private slots:
    void twoProcessesShareSqliteFile();
    void twoProcessesSharePostgres();
    void serverStoppedInTheMiddle();
    void hungServerRefusesInTime();
    void hungServerLeavesTheRunUnrecorded();
    void filterOnEitherStore_data();
    void filterOnEitherStore();
    void cleanupTestCase() { m_server.reset(); }
};

void tst_Journal::twoBenchesShareOneRecord(const JournalOptions &options, const QByteArray &section)
{
    QProcess *first = startWriter(section);
    QProcess *second = startWriter(section);
    const WriterRun a = finishWriter(first);
    const WriterRun b = finishWriter(second);
    QCOMPARE(a.units.size(), kUnits);
    QCOMPARE(b.units.size(), kUnits);

    // Every address went to one unit only.
    const QStringList all = a.units + b.units;
    QCOMPARE(QSet<QString>(all.begin(), all.end()).size(), 2 * kUnits);

    // Every press that reached the record is in it, each written address once
    // as verified, and nothing is left without an outcome.
    Journal journal(options);
    QString error;
    const QVector<JournalRow> rows = journal.rows(QString(), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(rows.size(), a.attempts + b.attempts);
    QStringList verified;
    for (const JournalRow &r : rows) {
        QVERIFY2(r.result != QLatin1String(kResultPending), qPrintable(r.mac));
        if (r.result == QLatin1String(kResultVerified))
            verified << r.mac;
    }
    std::sort(verified.begin(), verified.end());
    QStringList expected = all;
    std::sort(expected.begin(), expected.end());
    QCOMPARE(verified, expected);
}

void tst_Journal::twoProcessesShareSqliteFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    JournalOptions options;
    options.path = dir.filePath(QStringLiteral("shared.db"));
    twoBenchesShareOneRecord(options, "[journal]\npath=" + options.path.toUtf8() + "\n");
}

void tst_Journal::startServer()
{
    if (PgServer::binDir().isEmpty())
        QSKIP("the PostgreSQL server is not installed (package postgresql)");
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        QSKIP("Qt's PostgreSQL driver is not installed (package libqt5sql5-psql)");
    m_server = std::make_unique<PgServer>();
    QString error;
    QVERIFY2(m_server->start(&error), qPrintable(error));
}

void tst_Journal::twoProcessesSharePostgres()
{
    startServer();
    if (QTest::currentTestFailed())
        return;
    twoBenchesShareOneRecord(recordOnServer(*m_server, QStringLiteral("test")),
                             postgresSection(*m_server));
    m_server.reset();
}

// The server goes away while a bench writes: its writes are refused, none
// goes out unrecorded, and it carries on by itself once the server is back.
void tst_Journal::serverStoppedInTheMiddle()
{
    startServer();
    if (QTest::currentTestFailed())
        return;
    QProcess *writer = startWriter(postgresSection(*m_server));
    QByteArray seen;
    while (seen.count("unit ") < 10 && writer->waitForReadyRead(60000))
        seen += writer->peek(writer->bytesAvailable());
    QString error;
    QVERIFY2(m_server->stop(&error), qPrintable(error));
    QTest::qWait(1500); // the bench meets the stopped server
    QVERIFY2(m_server->start(&error), qPrintable(error));
    const WriterRun run = finishWriter(writer);
    QVERIFY(run.refused > 0);
    QCOMPARE(run.units.size(), kUnits);
    QCOMPARE(QSet<QString>(run.units.begin(), run.units.end()).size(), kUnits);

    Journal journal(recordOnServer(*m_server, QStringLiteral("test")));
    const QVector<JournalRow> rows = journal.rows(QString(), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(rows.size(), run.attempts);
    QStringList onRecord;
    for (const JournalRow &r : rows)
        onRecord << r.mac;
    for (const QString &address : run.units)
        QVERIFY2(onRecord.contains(address), qPrintable(address));
    m_server.reset();
}

// The server's process for the window's connection stops (as a server does
// under a hung disk or a debugger): the press is refused once the time limit
// has passed, nothing goes out, and once the server runs again the same
// address is written and nothing stays pending.
void tst_Journal::hungServerRefusesInTime()
{
    startServer();
    if (QTest::currentTestFailed())
        return;
    QFile sample(sourceDir() + QStringLiteral("/examples/config.ini"));
    QVERIFY(sample.open(QIODevice::ReadOnly));
    BenchRig rig(sample.readAll() + "\n" + postgresSection(*m_server) + "timeout=2\n");
    QVERIFY(rig.ready());
    auto *field = widget<QLineEdit>(rig.window(), "lineEdit_wrmac");
    field->setText(QStringLiteral("00:39:28:90:00:20"));
    widget<QAbstractButton>(rig.window(), "pushButton_wrmac")->click();
    QCOMPARE(resultLines(rig.window()).last(), QStringLiteral("MAC读回校验通过"));
    QCOMPARE(field->text(), QStringLiteral("00:39:28:90:00:21"));

    // Every backend but this helper's own is the window's.
    QSqlDatabase helper
        = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("helper"));
    const JournalOptions options = recordOnServer(*m_server, QStringLiteral("test"));
    helper.setHostName(options.host);
    helper.setPort(options.port);
    helper.setDatabaseName(options.database);
    helper.setUserName(options.user);
    QVERIFY2(helper.open(), qPrintable(helper.lastError().text()));
    QList<qint64> backends;
    {
        QSqlQuery query(helper);
        QVERIFY(query.exec(QStringLiteral("SELECT pid FROM pg_stat_activity WHERE backend_type = "
                                          "'client backend' AND pid <> pg_backend_pid()")));
        while (query.next())
            backends << query.value(0).toLongLong();
    }
    QVERIFY(!backends.isEmpty());
    const auto signalAll = [&backends](int signal) {
        for (qint64 pid : qAsConst(backends))
            ::kill(pid_t(pid), signal);
    };
    struct Resume
    {
        std::function<void()> run;
        ~Resume() { run(); }
    } resume{[&] { signalAll(SIGCONT); }};
    signalAll(SIGSTOP);

    rig.unit().setMac(PduUnit::factoryMac()); // the next unit
    rig.clearRequests();
    widget<QAbstractButton>(rig.window(), "pushButton_wrmac")->click();
    // Refused while the server is still stopped: the window did not wait for it.
    QVERIFY(rig.requestsSeen().isEmpty());
    const QString refusal = resultLines(rig.window()).last();
    QVERIFY2(refusal.contains(QStringLiteral("2 秒内没有完成"))
                 && refusal.endsWith(QStringLiteral("没有记录就不操作设备，未发送")),
             qPrintable(refusal));
    QCOMPARE(field->text(), QStringLiteral("00:39:28:90:00:21"));

    signalAll(SIGCONT);
    widget<QAbstractButton>(rig.window(), "pushButton_wrmac")->click();
    QCOMPARE(resultLines(rig.window()).last(), QStringLiteral("MAC读回校验通过"));
    QCOMPARE(rig.unit().mac(), QByteArray::fromHex("003928900021"));

    const auto pending = [&helper] {
        QSqlQuery query(helper);
        query.exec(QStringLiteral("SELECT count(*) FROM attempts WHERE result = 'pending'"));
        return query.next() ? query.value(0).toInt() : -1;
    };
    QTRY_COMPARE(pending(), 0);
    {
        QSqlQuery query(helper);
        QVERIFY(query.exec(QStringLiteral("SELECT count(*) FROM attempts WHERE mac = "
                                          "'00:39:28:90:00:21' AND result = 'verified'")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toInt(), 1);
    }
    helper.close();
    helper = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("helper"));
    m_server.reset();
}

// The server's process for the window's record stops at the end of a unit:
// the verdict comes once the time limit has passed, saying that the run is
// on no record, and the run is not committed when the server runs again; the
// next unit's run is recorded as usual.
void tst_Journal::hungServerLeavesTheRunUnrecorded()
{
    startServer();
    if (QTest::currentTestFailed())
        return;
    QFile sample(sourceDir() + QStringLiteral("/examples/config.ini"));
    QVERIFY(sample.open(QIODevice::ReadOnly));
    BenchRig rig(sample.readAll() + "\n" + postgresSection(*m_server) + "timeout=2\n", QByteArray(),
                 "[plan]\nname=快检\n[step1]\ntype=read\nreg=0805\nmodule=1\nmin=42.0\n"
                 "max=44.0\n");
    QVERIFY(rig.ready());
    auto *sn = widget<QLineEdit>(rig.window(), "lineEdit_sn");
    auto *runPlan = widget<QAction>(rig.window(), "actionRunPlan");
    const auto lastLines = [&rig] {
        const QStringList lines = resultLines(rig.window());
        return lines.mid(lines.size() - 2);
    };
    sn->setText(QStringLiteral("PDU2411A0001"));
    runPlan->trigger();
    QVERIFY2(
        resultLines(rig.window()).last().startsWith(QStringLiteral("结论：合格  SN PDU2411A0001")),
        qPrintable(resultLines(rig.window()).last()));

    ServerHelper helper(recordOnServer(*m_server, QStringLiteral("test")));
    QVERIFY2(helper.db().isOpen(), qPrintable(helper.db().lastError().text()));
    const QList<qint64> stopped = helper.windowBackends();
    QVERIFY(!stopped.isEmpty());
    const auto signalAll = [&stopped](int signal) {
        for (qint64 pid : stopped)
            ::kill(pid_t(pid), signal);
    };
    struct Resume
    {
        std::function<void()> run;
        ~Resume() { run(); }
    } resume{[&] { signalAll(SIGCONT); }};
    signalAll(SIGSTOP);

    sn->setText(QStringLiteral("PDU2411A0002"));
    runPlan->trigger();
    // Said while the server is still stopped: the window did not wait for it.
    const QStringList unrecorded = lastLines();
    QVERIFY2(unrecorded.value(0).startsWith(QStringLiteral("测试记录写入失败："))
                 && unrecorded.value(0).endsWith(
                     QStringLiteral("2 秒内没有完成（服务器或文件没有响应）")),
             qPrintable(unrecorded.value(0)));
    QVERIFY2(unrecorded.value(1).startsWith(QStringLiteral("结论：合格  SN PDU2411A0002"))
                 && unrecorded.value(1).endsWith(QStringLiteral("（未记录）")),
             qPrintable(unrecorded.value(1)));

    signalAll(SIGCONT);
    sn->setText(QStringLiteral("PDU2411A0003"));
    runPlan->trigger();
    QVERIFY2(!resultLines(rig.window()).last().endsWith(QStringLiteral("（未记录）")),
             qPrintable(resultLines(rig.window()).last()));
    // The connection the refused run was waiting on ends once its job is done.
    QTRY_VERIFY(!helper.windowBackends().contains(stopped.first()));
    QSqlQuery runs(helper.db());
    QVERIFY(runs.exec(QStringLiteral("SELECT sn FROM unit_runs ORDER BY id")));
    QStringList recorded;
    while (runs.next())
        recorded << runs.value(0).toString();
    QCOMPARE(recorded, (QStringList{"PDU2411A0001", "PDU2411A0003"}));
    m_server.reset();
}

void tst_Journal::filterOnEitherStore_data()
{
    QTest::addColumn<bool>("postgres");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<int>("count"); // rows found, page after page
    QTest::addColumn<QString>("newest");
    QTest::addColumn<QString>("oldest");

    // Units PDU0001 … PDU3000, the first given 00:39:28:00:00:01 and each the
    // next; more rows than the window looks through before it asks an index.
    for (const bool postgres : {false, true}) {
        const char *store = postgres ? "PostgreSQL" : "SQLite";
        const auto row
            = [&](const char *what) -> QTestData & { return QTest::addRow("%s: %s", store, what); };
        row("everything, page after page") << postgres << "" << 3000 << "PDU3000"
                                           << "PDU0001";
        row("an old unit by its serial number") << postgres << "PDU0001" << 1 << "PDU0001"
                                                << "PDU0001";
        row("a new one, in lower case") << postgres << "pdu2999" << 1 << "PDU2999"
                                        << "PDU2999";
        row("a prefix of old units") << postgres << "PDU00" << 99 << "PDU0099"
                                     << "PDU0001";
        row("a prefix of every unit") << postgres << "PDU" << 3000 << "PDU3000"
                                      << "PDU0001";
        row("an old address") << postgres << "00:39:28:00:00:01" << 1 << "PDU0001"
                              << "PDU0001";
        row("a new address with dashes") << postgres << "00-39-28-00-0b-b8" << 1 << "PDU3000"
                                         << "PDU3000";
        row("an old address's end") << postgres << "00:00:0A" << 1 << "PDU0010"
                                    << "PDU0010";
        row("nothing like it") << postgres << "XYZ" << 0 << ""
                               << "";
    }
}

// The record window's filter finds the same rows on both stores, whether the
// newest rows answer it or an index has to.
void tst_Journal::filterOnEitherStore()
{
    QFETCH(bool, postgres);
    QFETCH(QString, filter);
    QFETCH(int, count);
    QFETCH(QString, newest);
    QFETCH(QString, oldest);

    QTemporaryDir dir;
    JournalOptions options;
    if (postgres) {
        if (!m_server) {
            startServer();
            if (QTest::currentTestFailed())
                return;
        }
        options = recordOnServer(*m_server, QStringLiteral("test"));
    } else {
        options.path = dir.filePath(QStringLiteral("filter.db"));
    }
    options.benchSettings = dir.filePath(QStringLiteral("bench.ini"));
    // Filling is the set-up, not what is tried: under the sanitizers on a
    // busy machine 3000 inserts can take longer than a bench's limit.
    options.timeLimitS = 120;
    Journal journal(options);
    QString error;
    const bool filled = journal.run(
        [](QSqlDatabase &db, QString *why) {
            QSqlQuery query(db);
            if (!query.exec(QStringLiteral("DELETE FROM attempts")) || !db.transaction()) {
                *why = query.lastError().text();
                return false;
            }
            query.prepare(QStringLiteral("INSERT INTO attempts (time_ms, bench, port, sn, "
                                         "operation, mac, result, detail) VALUES (?, 'b', 'p', ?, "
                                         "'write_mac', ?, 'verified', '')"));
            for (int i = 1; i <= 3000; ++i) {
                const unsigned char mac[6] = {0x00, 0x39, 0x28, 0x00, quint8(i >> 8), quint8(i)};
                query.addBindValue(qint64(i));
                query.addBindValue(QStringLiteral("PDU%1").arg(i, 4, 10, QLatin1Char('0')));
                query.addBindValue(macText(mac));
                if (!query.exec()) {
                    *why = query.lastError().text();
                    return false;
                }
            }
            return db.commit();
        },
        &error);
    QVERIFY2(filled, qPrintable(error));

    QVector<JournalRow> found;
    qint64 before = std::numeric_limits<qint64>::max();
    for (;;) {
        const QVector<JournalRow> page
            = journal.page(filter, before, JournalModel::kPageRows, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        found += page;
        if (page.size() < JournalModel::kPageRows)
            break;
        before = page.last().id;
    }
    QCOMPARE(found.size(), count);
    for (int i = 1; i < found.size(); ++i)
        QVERIFY(found.at(i).id < found.at(i - 1).id); // newest first, none twice
    if (count > 0) {
        QCOMPARE(found.first().sn, newest);
        QCOMPARE(found.last().sn, oldest);
    }
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kWriterVariable))
        return runWriter();
    tst_Journal test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_journal.moc"
