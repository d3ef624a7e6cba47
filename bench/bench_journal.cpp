// bench_journal: what the provisioning record adds to one MAC write. Each
// write is recorded twice, both committed to disk: the claim of the address
// with the attempt before the packet goes out, and the outcome before the
// result line. Prints median and worst of 200 writes for an SQLite file and
// for a private PostgreSQL server on this machine (Unix socket).

#include "device/journal.h"
#include "support/privaterecord.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kWrites = 200;

bool measure(const char *name, const JournalOptions &options)
{
    Journal journal(options);
    std::vector<double> ms;
    ms.reserve(kWrites);
    QString error;
    // The first use opens the database and makes the record: not part of a write.
    if (!journal.run([](QSqlDatabase &, QString *) { return true; }, &error)) {
        std::printf("%-12s cannot open: %s\n", name, qPrintable(error));
        return false;
    }
    for (int i = 0; i < kWrites; ++i) {
        const unsigned char mac[6] = {0x00, 0x39, 0x28, 0x90, quint8(i >> 8), quint8(i)};
        QElapsedTimer timer;
        timer.start();
        const Journal::Start start
            = journal.begin(QLatin1String(kOpWriteMac), QDateTime::currentMSecsSinceEpoch(),
                            QStringLiteral("ttyUSB0"), QStringLiteral("SN%1").arg(i), macText(mac));
        const bool finished
            = start.error.isEmpty()
              && journal.finish(start.id, QLatin1String(kResultVerified),
                                QStringLiteral("MAC读回校验通过"), QString(), &error);
        ms.push_back(timer.nsecsElapsed() / 1e6);
        if (!finished || start.taken) {
            std::printf("%-12s write %d failed: %s\n", name, i,
                        qPrintable(start.error.isEmpty() ? error : start.error));
            return false;
        }
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-12s record per MAC write: median %.2f ms, worst %.2f ms (%d writes)\n", name,
                ms[ms.size() / 2], ms.back(), kWrites);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    JournalOptions sqlite;
    sqlite.path = dir.filePath(QStringLiteral("bench.db"));
    sqlite.bench = QStringLiteral("bench");
    sqlite.benchSettings = dir.filePath(QStringLiteral("bench.ini"));
    bool ok = measure("SQLite", sqlite);

    PgServer server;
    QString error;
    if (!server.start(&error)) {
        std::printf("PostgreSQL   not measured: %s\n", qPrintable(error));
        return ok ? 0 : 1;
    }
    JournalOptions postgres = recordOnServer(server, QStringLiteral("bench"));
    postgres.benchSettings = dir.filePath(QStringLiteral("bench-pg.ini"));
    ok = measure("PostgreSQL", postgres) && ok;
    return ok ? 0 : 1;
}
