// feederbench-cli against the simulated unit with line timing on, at 9600 and
// 115200 baud: a read of the sample device list as a station script runs it,
// beside the time its bytes take on the wire and beside the window's poll of
// the same list on the same line. Prints a table; asserts nothing.
//
//   bench_cli [--runs N]

#include "bench/benchsupport.h"
#include "support/testdata.h"
#include "support/windowdriver.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kTurnaroundMs = 5;

// Processor time of the children waited for so far.
double childrenCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

struct CliRun
{
    bool ok = false;
    double readsMs = 0;   // the program's own measure, first request to last reply
    double processMs = 0; // start to exit, start-up included
    double cpuMs = 0;
    double wireMs = 0; // request and reply bytes at the baud rate, plus each turnaround
    int exchanges = 0;
};

CliRun runCli(const QString &cli, const QString &port, int baud)
{
    CliRun run;
    QProcess process;
    const double cpu0 = childrenCpuMs();
    QElapsedTimer clock;
    clock.start();
    process.start(cli, {QStringLiteral("read"), QStringLiteral("--port"), port,
                        QStringLiteral("--baud"), QString::number(baud), QStringLiteral("--module"),
                        QStringLiteral("1"), QStringLiteral("--json")});
    if (!process.waitForFinished(30000))
        return run;
    run.processMs = clock.nsecsElapsed() / 1e6;
    run.cpuMs = childrenCpuMs() - cpu0;
    const QJsonObject doc = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    run.ok = process.exitCode() == 0
             && doc.value(QStringLiteral("status")).toString() == QLatin1String("passed");
    run.readsMs = doc[QStringLiteral("summary")][QStringLiteral("elapsedMs")].toDouble();
    const QJsonArray exchanges = doc[QStringLiteral("exchanges")].toArray();
    run.exchanges = exchanges.size();
    for (const QJsonValue &e : exchanges) {
        const int bytes = (e[QStringLiteral("request")].toString().size() + 1) / 3
                          + (e[QStringLiteral("reply")].toString().size() + 1) / 3;
        run.wireMs += bytes * 10.0 * 1000.0 / baud + kTurnaroundMs;
    }
    return run;
}

bool openOn(MainWindow &w, const QString &port, int baud)
{
    widget<QComboBox>(w, "comboBoxPort")->setEditText(port);
    auto *baudBox = widget<QComboBox>(w, "comboBoxBaud");
    baudBox->setCurrentIndex(baudBox->findText(QString::number(baud)));
    widget<QAction>(w, "actionConnect")->trigger();
    return w.findChild<QSerialPort *>()->isOpen();
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int runs = 11;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs"))
            runs = qMax(1, args[i + 1].toInt());
    }
    const QString bin = QCoreApplication::applicationDirPath();
    const QString sim = bin + QStringLiteral("/../tools/pdu-sim");
    const QString cli = bin + QStringLiteral("/../cli/feederbench-cli");

    QTemporaryDir work;
    QFile::copy(sourceDir() + QStringLiteral("/examples/config.ini"),
                work.filePath(QStringLiteral("config.ini")));
    QFile::copy(sourceDir() + QStringLiteral("/examples/mac.csv"),
                work.filePath(QStringLiteral("mac.csv")));
    QDir::setCurrent(work.path());

    std::printf("feederbench-cli read of the sample list (module 1) against pdu-sim "
                "(turnaround %d ms, 10 bits a byte), medians of %d runs\n\n",
                kTurnaroundMs, runs);
    std::printf("%-7s %9s %9s %8s %11s %9s %11s %8s %11s\n", "baud", "reads ms", "wire ms", "/wire",
                "process ms", "cpu ms", "window ms", "/wire", "cli/window");

    for (int baud : {9600, 115200}) {
        PduSimProcess unit;
        if (!unit.start(sim, baud, kTurnaroundMs)) {
            std::printf("cannot start %s\n", qPrintable(sim));
            return 1;
        }
        std::vector<double> reads, process, cpu;
        double wire = 0;
        int failed = 0;
        for (int i = 0; i < runs; ++i) {
            const CliRun r = runCli(cli, unit.port, baud);
            if (!r.ok) {
                ++failed;
                continue;
            }
            reads.push_back(r.readsMs);
            process.push_back(r.processMs);
            cpu.push_back(r.cpuMs);
            wire = r.wireMs;
        }

        // The window's poll of the same list on the same line.
        std::vector<double> poll;
        {
            MainWindow w;
            if (!qEnvironmentVariableIsSet("BENCH_HIDDEN"))
                w.show();
            if (!openOn(w, unit.port, baud)) {
                std::printf("cannot open %s\n", qPrintable(unit.port));
                return 1;
            }
            widget<QTreeWidget>(w, "treeWidget")->topLevelItem(0)->setCheckState(0, Qt::Checked);
            for (int i = 0; i < runs; ++i) {
                QElapsedTimer t;
                t.start();
                widget<QPushButton>(w, "pushButton")->click();
                poll.push_back(t.nsecsElapsed() / 1e6);
            }
            widget<QAction>(w, "actionClose")->trigger();
        }

        const double r = median(reads);
        const double p = median(poll);
        std::printf("%-7d %9.2f %9.2f %8.3f %11.2f %9.2f %11.2f %8.3f %11.3f%s\n", baud, r, wire,
                    wire > 0 ? r / wire : 0, median(process), median(cpu), p,
                    wire > 0 ? p / wire : 0, p > 0 ? r / p : 0,
                    failed ? qPrintable(QStringLiteral("  %1 runs failed").arg(failed)) : "");
    }
    std::printf("\nreads ms: the program's own measure of its reads (first request to the "
                "summary); process ms: from start to exit, start-up included.\n");
    return 0;
}
