// Figures for the device operations against the simulated unit with line
// timing on, at 9600 and 115200 baud: one read through the tool's request
// exchange beside libmodbus on the same line, a whole poll of the sample
// device list, an all-modules close, the processor time each costs, and how
// quickly an operation ends when the window closes or the line goes. Prints a
// table; asserts nothing. Then the unit's response time as the tool measures
// it for the single reads (from the request's last byte on the line to the
// reply's last byte), beside the simulator's configured turnaround and the
// reply's own time on the wire. The message windows in a long session have
// their own benchmark, bench_log.
//
//   bench_tool [--runs N]

#include "app/mainwindow.h"
#include "bench/benchsupport.h"
#include "device/registers.h"
#include "protocol/modbus.h"
#include "support/testdata.h"
#include "support/windowdriver.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

#ifdef FEEDERBENCH_HAVE_LIBMODBUS
#include <modbus.h>
#endif

namespace {

struct Figure
{
    double wallMs = 0;
    double cpuMs = 0;
};

// Runs f runs times; the medians of wall and processor time.
Figure measure(int runs, const std::function<void()> &f)
{
    std::vector<double> wall, cpu;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        const double c0 = cpuMs();
        t.start();
        f();
        wall.push_back(t.nsecsElapsed() / 1e6);
        cpu.push_back(cpuMs() - c0);
    }
    return {median(wall), median(cpu)};
}

// One register read through the window's request exchange.
ReplyVerdict readRegister(MainWindow &w, quint16 reg)
{
    unsigned char frame[8];
    const int n = make_read_frame(frame, kBusAddress, reg, 1);
    return MainWindowProbe::exchange(w, QByteArray(reinterpret_cast<const char *>(frame), n),
                                     ReplyKind::modbus(kReadHoldingRegisters));
}

// The response times of the reads that f makes, one by one, as the window's
// line statistics took them (ms).
struct Responses
{
    std::vector<double> ms;
    LineStats stats; // over them all
};

std::function<void()> timing(MainWindow &w, Responses *into, const std::function<void()> &f)
{
    return [&w, into, f] {
        const LineStats before = MainWindowProbe::lineStats(w);
        f();
        into->stats = MainWindowProbe::lineStats(w);
        if (into->stats.timed > before.timed)
            into->ms.push_back((into->stats.totalResponseNs - before.totalResponseNs) / 1e6);
    };
}

double wireMs(int bytes, int baud)
{
    return bytes * 10.0 * 1000.0 / baud; // start, eight data bits, stop
}

bool openOn(MainWindow &w, const QString &port, int baud)
{
    widget<QComboBox>(w, "comboBoxPort")->setEditText(port);
    auto *baudBox = widget<QComboBox>(w, "comboBoxBaud");
    baudBox->setCurrentIndex(baudBox->findText(QString::number(baud)));
    widget<QAction>(w, "actionConnect")->trigger();
    return w.findChild<QSerialPort *>()->isOpen();
}

void closePort(MainWindow &w)
{
    widget<QAction>(w, "actionClose")->trigger();
}

#ifdef FEEDERBENCH_HAVE_LIBMODBUS
Figure libmodbusRead(const QString &port, int baud, int runs, int *failures)
{
    modbus_t *ctx = modbus_new_rtu(port.toLocal8Bit().constData(), baud, 'N', 8, 1);
    Figure f;
    if (!ctx || modbus_connect(ctx) != 0) {
        *failures = runs;
        if (ctx)
            modbus_free(ctx);
        return f;
    }
    modbus_set_slave(ctx, kBusAddress);
    modbus_set_response_timeout(ctx, 1, 0);
    f = measure(runs, [&] {
        uint16_t value = 0;
        if (modbus_read_registers(ctx, moduleRegister(1, kSwitchStateRegister), 1, &value) != 1)
            ++*failures;
    });
    modbus_close(ctx);
    modbus_free(ctx);
    return f;
}
#endif

// Sum over the sample list's readable entries of request + reply bytes.
struct PollWire
{
    int requests = 0;
    int bytes = 0;
};

PollWire pollWire(QTreeWidget *tree)
{
    PollWire w;
    std::function<void(QTreeWidgetItem *)> walk = [&](QTreeWidgetItem *item) {
        for (int i = 0; i < item->childCount(); ++i) {
            QTreeWidgetItem *c = item->child(i);
            if (c->childCount() == 0 && c->parent() && c->parent()->parent()) {
                // a leaf: the regnum is not on the item; the sample list reads
                // one register except the clock's four
                const bool clock = c->text(0).contains(QStringLiteral("时间"));
                const int regnum = clock ? 4 : 1;
                w.requests += 1;
                w.bytes += 8 + 5 + 2 * regnum;
            }
            walk(c);
        }
    };
    walk(tree->invisibleRootItem());
    return w;
}

double monotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Counts the message boxes that come up, and closes each.
class BoxCounter : public QObject
{
public:
    BoxCounter() { qApp->installEventFilter(this); }
    ~BoxCounter() override { qApp->removeEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto *box = qobject_cast<QMessageBox *>(watched)) {
                ++count;
                QTimer::singleShot(0, box, [box] { box->reject(); });
            }
        }
        return false;
    }
};

constexpr int kCloseAfterMs = 1500; // module 1 of the run is waiting
const char *const kCloseChild = "--close-during-run";

// Run as a child of the benchmark: an all-modules close against a unit whose
// modules are all silent, the window closed while module 1 waits, inside the
// application's own event loop. Prints when it closed and what followed.
int closeDuringRun(QApplication &app, const QString &sim)
{
    PduSimProcess unit;
    if (!unit.start(sim, 9600, 5, {QStringLiteral("--silent"), QStringLiteral("0,1,2,3,4,5,10")}))
        return 2;
    MainWindow w;
    w.show();
    if (!openOn(w, unit.port, 9600))
        return 2;
    double closedMs = 0;
    double cpuAtClose = 0;
    bool openAfterClose = true;
    QTimer::singleShot(0, &w, [&w] { widget<QPushButton>(w, "pushButton_allon")->click(); });
    QTimer::singleShot(kCloseAfterMs, &w, [&] {
        cpuAtClose = cpuMs();
        closedMs = monotonicMs();
        w.close();
        openAfterClose = w.findChild<QSerialPort *>()->isOpen();
    });
    app.exec();
    std::printf("%.3f %.3f %.3f %d\n", closedMs, monotonicMs() - closedMs, cpuMs() - cpuAtClose,
                openAfterClose ? 1 : 0);
    return 0;
}

void measureCloseDuringRun()
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kCloseChild)});
    if (!child.waitForStarted(10000) || !child.waitForFinished(60000)) {
        std::printf("window closed during a run: the child did not finish\n");
        return;
    }
    const double exitedMs = monotonicMs();
    const QStringList f
        = QString::fromLatin1(child.readAllStandardOutput()).split(QLatin1Char(' '));
    if (child.exitCode() != 0 || f.size() < 4) {
        std::printf("window closed during a run: the child failed (%d)\n", child.exitCode());
        return;
    }
    std::printf("window closed during an all-modules run, all modules silent: close->exit %.1f ms "
                "(event loop ended after %.1f ms), processor after close %.2f ms, port %s\n",
                exitedMs - f[0].toDouble(), f[1].toDouble(), f[2].toDouble(),
                f[3].trimmed() == QLatin1String("0") ? "closed" : "still open");
}

// The unit goes away (its process killed, so the line closes) while the
// sample list's twelve reads run.
void measureLinePulled(const QString &sim)
{
    PduSimProcess unit;
    if (!unit.start(sim, 9600, 5))
        return;
    MainWindow w;
    w.show();
    if (!openOn(w, unit.port, 9600))
        return;
    widget<QTreeWidget>(w, "treeWidget")->topLevelItem(0)->setCheckState(0, Qt::Checked);
    BoxCounter boxes;
    double pulledMs = 0;
    QTimer::singleShot(60, &w, [&] {
        unit.process.kill();
        pulledMs = monotonicMs();
    });
    widget<QPushButton>(w, "pushButton")->click();
    const double endedMs = monotonicMs();
    QEventLoop settle; // the result window takes its lines in batches
    QTimer::singleShot(200, &settle, &QEventLoop::quit);
    settle.exec();
    const QStringList lines
        = widget<QPlainTextEdit>(w, "textBrowser_val")->toPlainText().split(QLatin1Char('\n'));
    const bool aborted = lines.contains(QStringLiteral("串口已断开，操作中止"));
    std::printf(
        "line pulled during a 12-read poll at 9600 baud: %d message boxes, %s %.1f ms after "
        "the unit went\n",
        boxes.count, aborted ? "abort line" : "poll ended without the abort line",
        endedMs - pulledMs);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int runs = 21;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs"))
            runs = args[i + 1].toInt();
    }
    const int turnaroundMs = 5;
    const QString sim
        = QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/pdu-sim");

    QTemporaryDir work;
    QFile::copy(sourceDir() + QStringLiteral("/examples/config.ini"),
                work.filePath(QStringLiteral("config.ini")));
    QFile::copy(sourceDir() + QStringLiteral("/examples/mac.csv"),
                work.filePath(QStringLiteral("mac.csv")));
    QDir::setCurrent(work.path());
    if (args.contains(QString::fromLatin1(kCloseChild)))
        return closeDuringRun(app, sim);

    std::printf(
        "FeederBench against pdu-sim (turnaround %d ms, 10 bits a byte), medians of %d runs\n\n",
        turnaroundMs, runs);
    std::printf("%-7s %-34s %10s %10s %10s %10s\n", "baud", "operation", "wall ms", "wire ms",
                "ratio", "cpu ms");
    struct Response
    {
        int baud;
        const char *line;
        Responses times;
        double wallMs;
    };
    std::vector<Response> responses;

    for (int baud : {9600, 115200}) {
        PduSimProcess unit;
        if (!unit.start(sim, baud, turnaroundMs)) {
            std::printf("cannot start %s\n", qPrintable(sim));
            return 1;
        }
        MainWindow w;
        if (!qEnvironmentVariableIsSet("BENCH_HIDDEN"))
            w.show();
        if (!openOn(w, unit.port, baud)) {
            std::printf("cannot open %s\n", qPrintable(unit.port));
            return 1;
        }
        const double oneWire = wireMs(8 + 7, baud) + turnaroundMs;

        // The line statistics count the single reads alone.
        widget<QPushButton>(w, "pushButtonClearCounterRecieve")->click();
        int toolFailures = 0;
        Responses times;
        const Figure one
            = measure(runs, timing(w, &times, [&] {
                          if (!readRegister(w, moduleRegister(1, kSwitchStateRegister)).ok())
                              ++toolFailures;
                      }));
        std::printf("%-7d %-34s %10.2f %10.2f %10.3f %10.2f%s\n", baud, "one 03 read (tool)",
                    one.wallMs, oneWire, one.wallMs / oneWire, one.cpuMs,
                    toolFailures ? qPrintable(QStringLiteral("  %1 failed").arg(toolFailures))
                                 : "");
        responses.push_back({baud, "plain", times, one.wallMs});

#ifdef FEEDERBENCH_HAVE_LIBMODBUS
        closePort(w);
        int mbFailures = 0;
        const Figure mb = libmodbusRead(unit.port, baud, runs, &mbFailures);
        std::printf("%-7d %-34s %10.2f %10.2f %10.3f %10.2f%s\n", baud, "one 03 read (libmodbus)",
                    mb.wallMs, oneWire, mb.wallMs / oneWire, mb.cpuMs,
                    mbFailures ? qPrintable(QStringLiteral("  %1 failed").arg(mbFailures)) : "");
        std::printf("%-7d %-34s %10.3f\n", baud, "tool / libmodbus", one.wallMs / mb.wallMs);
        openOn(w, unit.port, baud);
#endif

        // A whole poll of the sample list: everything ticked.
        auto *tree = widget<QTreeWidget>(w, "treeWidget");
        tree->topLevelItem(0)->setCheckState(0, Qt::Checked);
        const PollWire pw = pollWire(tree);
        const double pollWireMs = wireMs(pw.bytes, baud) + pw.requests * turnaroundMs;
        auto *textVal = widget<QPlainTextEdit>(w, "textBrowser_val");
        const Figure poll = measure(std::max(3, runs / 3),
                                    [&] { widget<QPushButton>(w, "pushButton")->click(); });
        const QString pollLabel = QStringLiteral("whole poll (%1 reads)").arg(pw.requests);
        std::printf("%-7d %-34s %10.2f %10.2f %10.3f %10.2f\n", baud, qPrintable(pollLabel),
                    poll.wallMs, pollWireMs, poll.wallMs / pollWireMs, poll.cpuMs);
        const bool pollAnswered = !textVal->toPlainText().contains(QStringLiteral("没有应答"));

        // All modules closed in turn: seven writes, each followed by the 20 ms pause.
        const double allWire = 7 * (wireMs(16, baud) + turnaroundMs + 20);
        const Figure all = measure(std::max(3, runs / 3),
                                   [&] { widget<QPushButton>(w, "pushButton_allon")->click(); });
        std::printf("%-7d %-34s %10.2f %10.2f %10.3f %10.2f\n", baud,
                    "all-modules close (7 x 20 ms pause)", all.wallMs, allWire,
                    all.wallMs / allWire, all.cpuMs);

        // A wait with no reply at all.
        const Figure idle = measure(3, [&] {
            MainWindowProbe::resetReceive(w);
            MainWindowProbe::waitForReply(w, 1000);
        });
        std::printf("%-7d %-34s %10.2f %10s %10s %10.2f\n", baud, "1-s wait, no reply", idle.wallMs,
                    "-", "-", idle.cpuMs);
        if (!pollAnswered)
            std::printf("        (the poll reported missing replies)\n");
        closePort(w);
        std::printf("\n");
    }

    // The same reads through an adapter that echoes (pdu-sim --echo), 去除回显 ticked.
    for (int baud : {9600, 115200}) {
        PduSimProcess unit;
        if (!unit.start(sim, baud, turnaroundMs, {QStringLiteral("--echo")}))
            break;
        MainWindow w;
        if (!qEnvironmentVariableIsSet("BENCH_HIDDEN"))
            w.show();
        widget<QCheckBox>(w, "checkBoxEcho")->setChecked(true);
        if (!openOn(w, unit.port, baud))
            break;
        Responses times;
        const Figure echoed = measure(runs, timing(w, &times, [&] {
                                          readRegister(w, moduleRegister(1, kSwitchStateRegister));
                                      }));
        responses.push_back({baud, "echo removed", times, echoed.wallMs});
        closePort(w);
    }

    std::printf("Response time of the single reads as the tool's line statistics measure it "
                "(from the request's last byte on the line to the reply's last byte), beside the "
                "simulator's turnaround and the 7-byte reply's time on the wire\n");
    std::printf("(min, mean and max as the status bar's tool tip shows them; the median over "
                "the reads one by one)\n");
    std::printf("%-7s %-13s %7s %10s %10s %8s %8s %8s %8s %13s %8s\n", "baud", "line", "replies",
                "turnaround", "reply wire", "min", "median", "mean", "max", "median - turn",
                "wall ms");
    for (const Response &r : responses) {
        const LineStats &s = r.times.stats;
        const double toMs = 1e-6;
        const double med = median(r.times.ms);
        std::printf("%-7d %-13s %4d/%-2d %10d %10.2f %8.2f %8.2f %8.2f %8.2f %13.2f %8.2f\n",
                    r.baud, r.line, s.answers, s.requests, turnaroundMs, wireMs(7, r.baud),
                    s.minResponseNs * toMs, med, s.meanResponseNs() * toMs, s.maxResponseNs * toMs,
                    med - turnaroundMs, r.wallMs);
    }
    std::printf("\n");

    measureCloseDuringRun();
    measureLinePulled(sim);
    return 0;
}
