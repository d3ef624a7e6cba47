// bench_runwindow: the unit runs in the "记录" window over a record of 10^5
// units (a line's year: 400 units a day on four benches, one unit in twenty
// failing a check and passing its retest; ten checks a run, about 10^6 step
// rows), on an SQLite file and on a private PostgreSQL server on this machine
// (Unix socket). Prints, median and worst of the runs: opening the runs tab
// (the first page shown), filtering by serial number, verdict and day,
// fetching the next page as the table scrolls, opening a run's steps, a
// day's yield for every bench and for one, and the export of every run with
// its steps once. The filter's pause after the last key
// (JournalWindow::kFilterPauseMs) comes on top of the SN figures.
//
//   bench_runwindow [--units N] [--runs N]

#include "device/journal.h"
#include "device/journalwindow.h"
#include "device/runrecord.h"
#include "device/runwindow.h"
#include "support/privaterecord.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QSqlError>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <limits>
#include <vector>

namespace {

constexpr int kFillTimeLimitS = 300;
constexpr int kUnitsPerDay = 400;
constexpr int kChecks = 10;
constexpr int kRetestEvery = 20; // one unit in this many fails first
const QDate kFirstDay(2026, 1, 5);

struct Figure
{
    double median = 0;
    double worst = 0;
};

Figure timeRuns(int runs, const std::function<void()> &work)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

void print(const char *store, const char *what, const Figure &f, const QString &note = QString())
{
    std::printf("%-11s %-40s median %8.2f ms  worst %8.2f ms  %s\n", store, what, f.median, f.worst,
                qPrintable(note));
    std::fflush(stdout);
}

bool exec(Journal &journal, const QString &sql, const QVariantList &binds, QString *error)
{
    return journal.run(
        [&](QSqlDatabase &db, QString *why) {
            QSqlQuery query(db);
            // The server prepares no ANALYZE: a statement without values goes as it is.
            if (binds.isEmpty() ? query.exec(sql) : query.prepare(sql)) {
                for (const QVariant &v : binds)
                    query.addBindValue(v);
                if (binds.isEmpty() || query.exec())
                    return true;
            }
            *why = query.lastError().text();
            return false;
        },
        error);
}

// Unit i (1…units) is tested on day i / 400 from 08:00, a minute after the
// one before, on bench1…bench4; a unit that fails is tested again half an
// hour later and passes. A failed run fails one of its ten checks.
bool fill(Journal &journal, bool sqlite, int units, QString *error)
{
    RunRecord record(journal);
    record.benches(kFirstDay, error); // the tables and their indexes
    if (!error->isEmpty())
        return false;
    const qint64 firstMs = QDateTime(kFirstDay, QTime(8, 0)).toMSecsSinceEpoch();
    const QString numbers
        = sqlite ? QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                                  "WHERE i < ?) ")
                 : QString();
    const QString from = sqlite ? QStringLiteral("FROM n")
                                : QStringLiteral("FROM generate_series(1, ?::bigint) AS n(i)");
    const QString sn = sqlite ? QStringLiteral("printf('PDU%07d', i)")
                              : QStringLiteral("'PDU' || lpad(i::text, 7, '0')");
    // Days are 86 400 000 ms apart here: no clock change in the year's days used.
    const QString runs
        = numbers
          + QStringLiteral("INSERT INTO unit_runs (start_ms, duration_ms, bench, port, sn, mac, "
                           "plan_name, plan_sha256, verdict, steps) SELECT ? + (i / %1) * "
                           "86400000 + (i % %1) * 60000 + %2, 31000, 'bench' || ((i / 3) % 4 + 1), "
                           "'ttyUSB0', %3, '', 'PDU出厂检验', "
                           "'9f2c0e6b4d8a7f3e1c5b2a9d8e7f6a5b4c3d2e1f0a9b8c7d6e5f4a3b2c1d0e9f', "
                           "%4, %5 %6 %7 ORDER BY i");
    const QString failed = QStringLiteral("i % %1 = 0").arg(kRetestEvery);
    // In the order the statement names them: SQLite's count comes first.
    const QVariantList binds = sqlite ? QVariantList{units, firstMs} : QVariantList{firstMs, units};
    if (!exec(journal,
              runs.arg(kUnitsPerDay)
                  .arg(0)
                  .arg(sn, QStringLiteral("CASE WHEN %1 THEN 'fail' ELSE 'pass' END").arg(failed),
                       QString::number(kChecks), from, QString()),
              binds, error))
        return false;
    if (!exec(journal,
              runs.arg(kUnitsPerDay)
                  .arg(1800000)
                  .arg(sn, QStringLiteral("'pass'"), QString::number(kChecks), from,
                       QStringLiteral("WHERE ") + failed),
              binds, error))
        return false;
    const QString checks = sqlite ? QStringLiteral("WITH RECURSIVE k(k) AS (SELECT 1 UNION ALL "
                                                   "SELECT k + 1 FROM k WHERE k < %1) ")
                                        .arg(kChecks)
                                  : QString();
    const QString checkFrom = sqlite
                                  ? QStringLiteral("k")
                                  : QStringLiteral("generate_series(1, %1) AS k(k)").arg(kChecks);
    const QString unitNumber = sqlite ? QStringLiteral("CAST(substr(r.sn, 4) AS INTEGER)")
                                      : QStringLiteral("substr(r.sn, 4)::int");
    if (!exec(journal,
              checks
                  + QStringLiteral("INSERT INTO unit_run_steps (run_id, step_no, section, type, "
                                   "module, name, measured, limits, outcome, detail) SELECT r.id, "
                                   "k.k, 'step' || k.k, 'read', 1, 'check' || k.k, '43.2', "
                                   "'42.0～44.0', CASE WHEN r.verdict = 'fail' AND k.k = 1 + "
                                   "(%1 / %2) % %3 THEN 'fail' ELSE 'pass' END, '' FROM "
                                   "unit_runs r CROSS JOIN %4")
                        .arg(unitNumber)
                        .arg(kRetestEvery)
                        .arg(kChecks)
                        .arg(checkFrom),
              {}, error))
        return false;
    // The server gathers its statistics by itself a little later; here at once.
    return exec(journal, QStringLiteral("ANALYZE"), {}, error);
}

bool measure(const char *store, JournalOptions options, int units, int runs, const QString &folder)
{
    options.timeLimitS = kFillTimeLimitS;
    {
        Journal filler(options);
        QString error;
        QElapsedTimer timer;
        timer.start();
        if (!fill(filler, options.driver == JournalOptions::Sqlite, units, &error)) {
            std::printf("%-11s cannot fill the record: %s\n", store, qPrintable(error));
            return false;
        }
        std::printf("%-11s %d units written in %.1f s\n", store, units, timer.elapsed() / 1000.0);
    }
    options.timeLimitS = 5; // as a bench runs it

    // The tab as the window shows it, opened with a connection of its own each time.
    const Figure cold = timeRuns(runs, [&] {
        Journal journal(options);
        JournalWindow window(&journal);
        window.show();
        window.findChild<QTabWidget *>(QStringLiteral("tabWidget_record"))->setCurrentIndex(1);
        QCoreApplication::processEvents();
    });
    print(store, "opening the runs tab (connecting too)", cold);

    Journal journal(options);
    RunRecord record(journal);
    RunsPane pane(&record, journal.where());
    pane.resize(1100, 700);
    pane.show();
    auto *sn = pane.findChild<QLineEdit *>(QStringLiteral("lineEdit_runFilter"));
    auto *verdict = pane.findChild<QComboBox *>(QStringLiteral("comboBox_runVerdict"));
    auto *onDay = pane.findChild<QCheckBox *>(QStringLiteral("checkBox_runDay"));
    auto *day = pane.findChild<QDateEdit *>(QStringLiteral("dateEdit_runDay"));
    QAbstractItemModel *model
        = pane.findChild<QTableView *>(QStringLiteral("tableView_runs"))->model();
    const QDate middleDay = kFirstDay.addDays(units / kUnitsPerDay / 2);
    const auto show = [&](const QString &text, int verdictIndex, bool dayOn) {
        const QSignalBlocker a(sn), b(verdict), c(onDay), d(day);
        sn->setText(text);
        verdict->setCurrentIndex(verdictIndex);
        onDay->setChecked(dayOn);
        day->setDate(middleDay);
        pane.refresh(); // what the pause's end or a choice runs
        QCoreApplication::processEvents();
    };
    // Each figure before its note: the note reads what the last run left.
    const Figure again = timeRuns(runs, [&] { show(QString(), 0, false); });
    print(store, "opening the runs tab again", again,
          QStringLiteral("%1 runs shown").arg(model->rowCount()));

    const int retested = (units / 2) / kRetestEvery * kRetestEvery;
    const QString unit = QStringLiteral("PDU%1").arg(retested, 7, 10, QLatin1Char('0'));
    const int fail = verdict->findData(QString::fromLatin1(kVerdictFail));
    const struct
    {
        const char *what;
        QString sn;
        int verdict;
        bool day;
    } filters[] = {
        {"filter by serial number", unit, 0, false},
        {"filter by a prefix of every SN", QStringLiteral("PDU"), 0, false},
        {"filter matching nothing", QStringLiteral("XYZ"), 0, false},
        {"filter by verdict 不合格", QString(), fail, false},
        {"filter by day", QString(), 0, true},
        {"filter by day and 不合格", QString(), fail, true},
        {"filter by SN prefix and 不合格", QStringLiteral("PDU00"), fail, false},
    };
    for (const auto &f : filters) {
        const Figure figure = timeRuns(runs, [&] { show(f.sn, f.verdict, f.day); });
        print(store, f.what, figure,
              QStringLiteral("\"%1\": %2 runs shown").arg(f.sn).arg(model->rowCount()));
    }

    show(QString(), 0, false);
    const Figure scroll = timeRuns(runs, [&] {
        if (model->canFetchMore(QModelIndex()))
            model->fetchMore(QModelIndex());
        QCoreApplication::processEvents();
    });
    print(store, "the next page as the table scrolls", scroll,
          QStringLiteral("%1 runs a page").arg(RunModel::kPageRows));

    QString error;
    const qint64 middleRun = record.runs(RunFilter(), &error).value(0).id / 2;
    const Figure steps = timeRuns(runs, [&] { record.steps(middleRun, &error); });
    print(store, "a run's steps", steps, error);

    YieldPane yield(&record, journal.where());
    yield.resize(900, 600);
    yield.show();
    auto *yieldDay = yield.findChild<QDateEdit *>(QStringLiteral("dateEdit_yieldDay"));
    auto *bench = yield.findChild<QComboBox *>(QStringLiteral("comboBox_yieldBench"));
    auto *summary = yield.findChild<QLabel *>(QStringLiteral("label_yieldSummary"));
    {
        const QSignalBlocker blocked(yieldDay);
        yieldDay->setDate(middleDay);
    }
    const auto yieldOf = [&](const QString &benchName) {
        {
            const QSignalBlocker blocked(bench);
            bench->setCurrentIndex(std::max(0, bench->findData(benchName)));
        }
        yield.refresh();
        QCoreApplication::processEvents();
    };
    const Figure all = timeRuns(runs, [&] { yieldOf(QString()); });
    print(store, "a day's yield, every bench", all, summary->text());
    const Figure one = timeRuns(runs, [&] { yieldOf(QStringLiteral("bench2")); });
    print(store, "a day's yield, bench2", one, summary->text());

    // The export's runs file, once: every run with its steps.
    QElapsedTimer timer;
    timer.start();
    const QString name
        = folder + QStringLiteral("/runs-") + QLatin1String(store) + QStringLiteral(".csv");
    QSaveFile file(name);
    qint64 written = 0;
    qint64 before = std::numeric_limits<qint64>::max();
    bool ok = file.open(QIODevice::WriteOnly) && file.write(runsCsvHeader()) > 0;
    while (ok) {
        const QVector<RunWithSteps> page = record.pageWithSteps(before, 1000, &error);
        ok = error.isEmpty() && file.write(runsCsvRows(page)) >= 0;
        written += page.size();
        if (page.size() < 1000)
            break;
        before = page.last().run.id;
    }
    ok = ok && file.commit();
    std::printf("%-11s %-40s %8.0f ms  %lld runs, %.0f MB%s\n", store, "export of every run",
                timer.nsecsElapsed() / 1e6, written, QFileInfo(name).size() / 1e6,
                ok ? "" : qPrintable(QStringLiteral("  failed: ") + error));
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int units = 100000;
    int runs = 11;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--units"))
            units = args.at(i + 1).toInt();
        else if (args.at(i) == QLatin1String("--runs"))
            runs = args.at(i + 1).toInt();
    }
    units = std::max(units, kUnitsPerDay * 2);
    runs = std::max(runs, 1);

    QTemporaryDir dir;
    JournalOptions sqlite;
    sqlite.path = dir.filePath(QStringLiteral("bench.db"));
    sqlite.bench = QStringLiteral("bench");
    sqlite.benchSettings = dir.filePath(QStringLiteral("bench.ini"));
    bool ok = measure("SQLite", sqlite, units, runs, dir.path());

    PgServer server;
    QString error;
    if (!server.start(&error)) {
        std::printf("PostgreSQL  not measured: %s\n", qPrintable(error));
        return ok ? 0 : 1;
    }
    JournalOptions postgres = recordOnServer(server, QStringLiteral("bench"));
    postgres.benchSettings = dir.filePath(QStringLiteral("bench-pg.ini"));
    ok = measure("PostgreSQL", postgres, units, runs, dir.path()) && ok;
    return ok ? 0 : 1;
}
