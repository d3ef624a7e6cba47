// bench_recordwindow: the "记录" window over a record of a million rows (ten
// years of a line that writes 10^5 units a year), on an SQLite file and on a
// private PostgreSQL server on this machine (Unix socket). Prints, median and
// worst of the runs: opening the window (the first page shown), filtering by
// a serial number, by a whole address, by an address's end and by a
// serial-number prefix that matches every row, and fetching the next page as
// the table scrolls. The filter's pause after the last key
// (JournalWindow::kFilterPauseMs) comes on top of the filtering figures.
//
//   bench_recordwindow [--rows N] [--runs N]

#include "device/journal.h"
#include "device/journalwindow.h"
#include "support/privaterecord.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kFillChunk = 100000; // rows per statement while filling
constexpr int kFillTimeLimitS = 60;

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

// Rows as a bench writes them: serial numbers PDU0000001…, one address each
// from 00:39:28:00:00:01 on, one a second.
bool fill(Journal &journal, bool sqlite, int rows, QString *error)
{
    const QString sql
        = sqlite ? QStringLiteral(
              "WITH RECURSIVE n(i) AS (SELECT ? UNION ALL SELECT i + 1 FROM n WHERE i < ?) "
              "INSERT INTO attempts (time_ms, bench, port, sn, operation, mac, result, detail, "
              "token) SELECT 1700000000000 + i * 1000, 'bench', 'ttyUSB0', printf('PDU%07d', i), "
              "'write_mac', printf('00:39:28:%02X:%02X:%02X', (i >> 16) & 255, (i >> 8) & 255, "
              "i & 255), 'verified', 'MAC读回校验通过', '' FROM n")
                 : QStringLiteral(
                     "INSERT INTO attempts (time_ms, bench, port, sn, operation, mac, result, "
                     "detail, token) SELECT 1700000000000 + i * 1000, 'bench', 'ttyUSB0', "
                     "'PDU' || lpad(i::text, 7, '0'), 'write_mac', '00:39:28:' || "
                     "lpad(upper(to_hex((i >> 16) & 255)), 2, '0') || ':' || "
                     "lpad(upper(to_hex((i >> 8) & 255)), 2, '0') || ':' || "
                     "lpad(upper(to_hex(i & 255)), 2, '0'), 'verified', 'MAC读回校验通过', '' "
                     "FROM generate_series(?::bigint, ?::bigint) AS i");
    for (int from = 1; from <= rows; from += kFillChunk) {
        const int to = std::min(rows, from + kFillChunk - 1);
        const bool ok = journal.run(
            [&](QSqlDatabase &db, QString *why) {
                QSqlQuery query(db);
                query.prepare(sql);
                query.addBindValue(from);
                query.addBindValue(to);
                if (query.exec())
                    return true;
                *why = query.lastError().text();
                return false;
            },
            error);
        if (!ok)
            return false;
    }
    // The server gathers its statistics by itself a little later; here at once.
    return sqlite
           || journal.run(
               [](QSqlDatabase &db, QString *why) {
                   QSqlQuery query(db);
                   if (query.exec(QStringLiteral("ANALYZE attempts")))
                       return true;
                   *why = query.lastError().text();
                   return false;
               },
               error);
}

void print(const char *store, const char *what, const Figure &f, const QString &note = QString())
{
    std::printf("%-11s %-44s median %8.2f ms  worst %8.2f ms  %s\n", store, what, f.median, f.worst,
                qPrintable(note));
    std::fflush(stdout);
}

bool measure(const char *store, JournalOptions options, int rows, int runs)
{
    options.timeLimitS = kFillTimeLimitS;
    {
        Journal filler(options);
        QString error;
        QElapsedTimer timer;
        timer.start();
        if (!fill(filler, options.driver == JournalOptions::Sqlite, rows, &error)) {
            std::printf("%-11s cannot fill the record: %s\n", store, qPrintable(error));
            return false;
        }
        std::printf("%-11s %d rows written in %.1f s\n", store, rows, timer.elapsed() / 1000.0);
    }
    options.timeLimitS = 5; // as a bench runs it

    // Opened for the first time in a run: the connection is made too.
    const Figure cold = timeRuns(runs, [&] {
        Journal journal(options);
        JournalWindow window(&journal);
        window.show();
        window.refresh();
        QCoreApplication::processEvents();
    });
    print(store, "opening, first of the run (connecting too)", cold);

    Journal journal(options);
    JournalWindow window(&journal);
    window.show();
    window.refresh();
    QCoreApplication::processEvents();
    auto *filter = window.findChild<QLineEdit *>(QStringLiteral("lineEdit_recordFilter"));
    auto *table = window.findChild<QTableView *>(QStringLiteral("tableView_record"));
    QAbstractItemModel *model = table->model();
    const auto show = [&](const QString &text) {
        filter->setText(text);
        window.refresh(); // what the pause's end runs
        QCoreApplication::processEvents();
    };
    print(store, "opening again", timeRuns(runs, [&] { show(QString()); }));

    const int middle = rows / 2;
    const QString sn = QStringLiteral("PDU%1").arg(middle, 7, 10, QLatin1Char('0'));
    const QString mac = QStringLiteral("00:39:28:%1:%2:%3")
                            .arg((middle >> 16) & 255, 2, 16, QLatin1Char('0'))
                            .arg((middle >> 8) & 255, 2, 16, QLatin1Char('0'))
                            .arg(middle & 255, 2, 16, QLatin1Char('0'))
                            .toUpper();
    const struct
    {
        const char *what;
        QString text;
    } filters[] = {
        {"filter by serial number", sn},
        {"filter by address", mac},
        {"filter by an address's end (3 groups)", mac.right(8)},
        {"filter by a prefix of every serial number", QStringLiteral("PDU")},
        {"filter matching nothing", QStringLiteral("XYZ")},
    };
    for (const auto &f : filters) {
        const Figure figure = timeRuns(runs, [&] { show(f.text); });
        print(store, f.what, figure,
              QStringLiteral("\"%1\": %2 rows shown").arg(f.text).arg(model->rowCount()));
    }

    show(QString());
    const Figure scroll = timeRuns(runs, [&] {
        if (model->canFetchMore(QModelIndex()))
            model->fetchMore(QModelIndex());
        QCoreApplication::processEvents();
    });
    print(store, "the next page as the table scrolls", scroll,
          QStringLiteral("%1 rows a page").arg(JournalModel::kPageRows));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int rows = 1000000;
    int runs = 11;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--rows"))
            rows = args.at(i + 1).toInt();
        else if (args.at(i) == QLatin1String("--runs"))
            runs = args.at(i + 1).toInt();
    }
    rows = std::max(rows, 2);
    runs = std::max(runs, 1);

    QTemporaryDir dir;
    JournalOptions sqlite;
    sqlite.path = dir.filePath(QStringLiteral("bench.db"));
    sqlite.bench = QStringLiteral("bench");
    sqlite.benchSettings = dir.filePath(QStringLiteral("bench.ini"));
    bool ok = measure("SQLite", sqlite, rows, runs);

    PgServer server;
    QString error;
    if (!server.start(&error)) {
        std::printf("PostgreSQL  not measured: %s\n", qPrintable(error));
        return ok ? 0 : 1;
    }
    JournalOptions postgres = recordOnServer(server, QStringLiteral("bench"));
    postgres.benchSettings = dir.filePath(QStringLiteral("bench-pg.ini"));
    ok = measure("PostgreSQL", postgres, rows, runs) && ok;
    return ok ? 0 : 1;
}
