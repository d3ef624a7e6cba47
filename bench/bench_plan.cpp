// bench_plan: the sample test plan end to end through the window against
// pdu-sim with line timing, at 9600 and 115200 baud: the whole unit's time
// beside the time its requests and replies take on the wire (with the unit's
// turnaround and the plan's own pauses), the processor time, and what the
// record of the run adds per unit, on an SQLite file and on a private
// PostgreSQL server. Prints a table; asserts nothing.
//
//   bench_plan [--runs N] [--no-record]   (BENCH_HIDDEN=1: the window not shown)

#include "app/mainwindow.h"
#include "bench/benchsupport.h"
#include "device/journal.h"
#include "device/runrecord.h"
#include "support/privaterecord.h"
#include "support/testdata.h"
#include "support/windowdriver.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMap>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr int kTurnaroundMs = 5;
constexpr int kRecordWrites = 200;
// The plan's own waits: the settling time after each of its two switch
// commands and the pause the unit is given after a breaker command.
constexpr int kSwitchPauseMs = 20;

// Counts the window's drawing: every repaint of the window goes through one
// UpdateRequest to the top-level widget.
class DrawingClock : public QApplication
{
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && countPaints) {
            auto *w = qobject_cast<QWidget *>(receiver);
            QString name = receiver->objectName();
            for (QWidget *p = w; name.isEmpty() && p; p = p->parentWidget())
                name
                    = p->objectName().isEmpty() ? QString() : p->objectName() + QLatin1String("/*");
            ++paints[QString::fromLatin1(receiver->metaObject()->className()) + QLatin1Char(' ')
                     + name];
        }
        if (event->type() != QEvent::UpdateRequest)
            return QApplication::notify(receiver, event);
        QElapsedTimer t;
        t.start();
        const bool done = QApplication::notify(receiver, event);
        drawingMs += t.nsecsElapsed() / 1e6;
        ++repaints;
        return done;
    }
    double drawingMs = 0;
    int repaints = 0;
    bool countPaints = false;
    QMap<QString, int> paints; // widget -> paint events, with --paints
};

QByteArray samplePlan(int settleMs)
{
    QFile file(sourceDir() + QStringLiteral("/examples/plan.ini"));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QByteArray plan = file.readAll();
    plan.replace("settle_ms=200", "settle_ms=" + QByteArray::number(settleMs));
    return plan;
}

struct PlanFigure
{
    double wallMs = 0;
    double cpuMs = 0;
    double wireMs = 0; // requests, replies and turnarounds
    int requests = 0;
    int passed = 0;
    double drawingMs = 0; // per unit
    double repaints = 0;
};

// Runs the plan runs times on a window open on port; the medians.
PlanFigure runPlan(MainWindow &w, int baud, int runs, int settleMs)
{
    std::vector<double> wall, cpu, wire, drawing, repaints;
    auto *app = static_cast<DrawingClock *>(qApp);
    PlanFigure f;
    for (int i = 0; i < runs; ++i) {
        app->drawingMs = 0;
        app->repaints = 0;
        const int sentBefore = MainWindowProbe::sendCount(w);
        const int receivedBefore = MainWindowProbe::recvCount(w);
        const qint64 linesBefore = MainWindowProbe::trafficLines(w);
        widget<QLineEdit>(w, "lineEdit_sn")->setText(QStringLiteral("PDU%1").arg(i));
        QElapsedTimer t;
        const double c0 = cpuMs();
        t.start();
        widget<QAction>(w, "actionRunPlan")->trigger();
        wall.push_back(t.nsecsElapsed() / 1e6);
        cpu.push_back(cpuMs() - c0);
        drawing.push_back(app->drawingMs);
        repaints.push_back(app->repaints);
        MainWindowProbe::flushLogs(w);
        // Every request is one send line; the replies are what was received.
        const qint64 lines = MainWindowProbe::trafficLines(w) - linesBefore;
        const int requests = int(lines / 2);
        const int bytes = MainWindowProbe::sendCount(w) - sentBefore + MainWindowProbe::recvCount(w)
                          - receivedBefore;
        wire.push_back(bytes * 10.0 * 1000.0 / baud + requests * kTurnaroundMs);
        f.requests = requests;
        const QStringList results = resultLines(w);
        if (!results.isEmpty() && results.last().startsWith(QStringLiteral("结论：合格")))
            ++f.passed;
    }
    f.wallMs = median(wall);
    f.cpuMs = median(cpu);
    f.wireMs = median(wire);
    f.drawingMs = median(drawing);
    f.repaints = median(repaints);
    Q_UNUSED(settleMs)
    return f;
}

// A run of the sample plan's sixteen checks, as the record keeps it.
UnitRun sampleRun(int i)
{
    UnitRun run;
    run.sn = QStringLiteral("PDU%1").arg(i, 6, 10, QLatin1Char('0'));
    run.bench = QStringLiteral("bench");
    run.port = QStringLiteral("ttyUSB0");
    run.planName = QStringLiteral("PDU出厂检验");
    run.planSha256 = QString(64, QLatin1Char('a'));
    run.start = QDateTime::currentDateTime();
    run.durationMs = 900;
    run.verdict = UnitRun::Pass;
    for (int n = 1; n <= 16; ++n) {
        StepResult s;
        s.number = n;
        s.section = QStringLiteral("step%1").arg(n);
        s.module = 1;
        s.name = QStringLiteral("低压脱离值");
        s.measured = QStringLiteral("43.2");
        s.limits = QStringLiteral("42.0～44.0");
        s.outcome = StepResult::Pass;
        run.steps << s;
    }
    return run;
}

void measureRecord(const char *name, const JournalOptions &options)
{
    Journal journal(options);
    RunRecord record(journal);
    QString error;
    record.runs(RunFilter(), &error); // opens the database and makes the tables
    if (!error.isEmpty()) {
        std::printf("%-12s cannot open: %s\n", name, qPrintable(error));
        return;
    }
    std::vector<double> ms;
    for (int i = 0; i < kRecordWrites; ++i) {
        const UnitRun run = sampleRun(i);
        QElapsedTimer t;
        t.start();
        if (!record.write(run, &error)) {
            std::printf("%-12s write failed: %s\n", name, qPrintable(error));
            return;
        }
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-12s record per unit (run and 16 steps, one commit): median %.2f ms, worst "
                "%.2f ms (%d units)\n",
                name, ms[ms.size() / 2], ms.back(), kRecordWrites);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    DrawingClock app(argc, argv);
    int runs = 11;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs"))
            runs = qMax(1, args[i + 1].toInt());
    }
    const QString sim
        = QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/pdu-sim");

    QTemporaryDir work;
    QFile::copy(sourceDir() + QStringLiteral("/examples/config.ini"),
                work.filePath(QStringLiteral("config.ini")));
    QFile::copy(sourceDir() + QStringLiteral("/examples/mac.csv"),
                work.filePath(QStringLiteral("mac.csv")));
    QDir::setCurrent(work.path());
    // The window's record goes into the scratch folder, not the user's.
    qputenv("XDG_DATA_HOME", QFile::encodeName(work.filePath(QStringLiteral("data"))));

    std::printf("The sample plan (16 checks) through the window against pdu-sim (turnaround %d "
                "ms, 10 bits a byte),\nmedians of %d units, window %s\n\n",
                kTurnaroundMs, runs,
                qEnvironmentVariableIsSet("BENCH_HIDDEN") ? "hidden" : "shown");
    std::printf("%-7s %-22s %5s %9s %9s %9s %7s %8s %9s %7s\n", "baud", "plan", "req", "wall ms",
                "wire ms", "+pauses", "ratio", "cpu ms", "drawing", "passed");
    for (int settle : {200, 0}) {
        QFile plan(work.filePath(QStringLiteral("plan.ini")));
        if (!plan.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || plan.write(samplePlan(settle)) <= 0)
            return 1;
        plan.close();
        for (int baud : {9600, 115200}) {
            PduSimProcess unit;
            if (!unit.start(sim, baud, kTurnaroundMs)) {
                std::printf("cannot start %s\n", qPrintable(sim));
                return 1;
            }
            MainWindow w;
            if (!qEnvironmentVariableIsSet("BENCH_HIDDEN"))
                w.show();
            widget<QComboBox>(w, "comboBoxPort")->setEditText(unit.port);
            auto *baudBox = widget<QComboBox>(w, "comboBoxBaud");
            baudBox->setCurrentIndex(baudBox->findText(QString::number(baud)));
            widget<QAction>(w, "actionConnect")->trigger();
            if (!w.findChild<QSerialPort *>()->isOpen()) {
                std::printf("cannot open %s\n", qPrintable(unit.port));
                return 1;
            }
            // A first unit opens the record and warms the caches.
            runPlan(w, baud, 1, settle);
            app.countPaints = args.contains(QStringLiteral("--paints"));
            app.paints.clear();
            const PlanFigure f = runPlan(w, baud, runs, settle);
            app.countPaints = false;
            for (auto it = app.paints.cbegin(); it != app.paints.cend(); ++it)
                std::printf("    paints of %s: %.1f a unit\n", qPrintable(it.key()),
                            double(it.value()) / runs);
            const double pauses = 2 * (settle + kSwitchPauseMs);
            const double reference = f.wireMs + pauses;
            std::printf("%-7d %-22s %5d %9.1f %9.1f %9.1f %7.3f %8.1f %4.0fx%4.1f %4d/%d\n", baud,
                        qPrintable(QStringLiteral("sample, settle %1 ms").arg(settle)), f.requests,
                        f.wallMs, f.wireMs, reference, f.wallMs / reference, f.cpuMs, f.repaints,
                        f.repaints > 0 ? f.drawingMs / f.repaints : 0.0, f.passed, runs);
        }
    }
    std::printf("\n(ratio: wall time over the wire time plus the plan's own pauses, %d ms of "
                "settling after each switch and the %d ms the unit is given after it)\n\n",
                200, kSwitchPauseMs);

    if (args.contains(QStringLiteral("--no-record")))
        return 0;
    JournalOptions sqlite;
    sqlite.path = work.filePath(QStringLiteral("runs.db"));
    sqlite.bench = QStringLiteral("bench");
    measureRecord("SQLite", sqlite);
    PgServer server;
    QString error;
    if (!server.start(&error)) {
        std::printf("PostgreSQL   not measured: %s\n", qPrintable(error));
        return 0;
    }
    measureRecord("PostgreSQL", recordOnServer(server, QStringLiteral("bench")));
    return 0;
}
