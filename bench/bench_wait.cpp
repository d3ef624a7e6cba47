// Processor time spent in the reply wait: a wait that polls the event loop
// burns a core for its whole length; one that sleeps costs next to nothing.
//
// Prints, for each case, the wall time of the wait and the processor time the
// process used during it (median of several runs).

#include "app/mainwindow.h"
#include "support/windowdriver.h"
#include "tools/pty.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

constexpr int kRuns = 5;
constexpr int kWaitMs = 1000;
constexpr int kReplyAfterMs = 30;

double processSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Figures
{
    double wallMs;
    double cpuMs;
    int gathered;
};

Figures measureWait(MainWindow &window, PtyPair &pty, const QByteArray &reply)
{
    MainWindowProbe::resetReceive(window);
    if (!reply.isEmpty())
        QTimer::singleShot(kReplyAfterMs, Qt::PreciseTimer, &pty,
                           [&pty, reply] { pty.writeMaster(reply); });
    QElapsedTimer wall;
    const double cpuBefore = processSeconds();
    wall.start();
    MainWindowProbe::waitForReply(window, kWaitMs);
    const qint64 wallNs = wall.nsecsElapsed();
    const double cpuAfter = processSeconds();
    return {wallNs / 1e6, (cpuAfter - cpuBefore) * 1e3, MainWindowProbe::recvLen(window)};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void report(const char *name, MainWindow &window, PtyPair &pty, const QByteArray &reply)
{
    std::vector<double> wall;
    std::vector<double> cpu;
    int gathered = 0;
    for (int run = 0; run < kRuns; ++run) {
        const Figures f = measureWait(window, pty, reply);
        wall.push_back(f.wallMs);
        cpu.push_back(f.cpuMs);
        gathered = f.gathered;
    }
    std::printf("%-44s wall %8.1f ms   cpu %6.2f ms (max %6.2f)   bytes %d\n", name, median(wall),
                median(cpu), *std::max_element(cpu.begin(), cpu.end()), gathered);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    PtyPair pty;
    if (!pty.isOpen()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return EXIT_FAILURE;
    }
    {
        MainWindow window;
        window.findChild<QComboBox *>(QStringLiteral("comboBoxPort"))->setEditText(pty.slavePath());
        window.findChild<QAction *>(QStringLiteral("actionConnect"))->trigger();

        std::printf("WaitForReply(%d), median of %d runs\n", kWaitMs, kRuns);
        report("no traffic (runs to the time-out)", window, pty, QByteArray());
        const QByteArray echo = QByteArray::fromHex("55 06 08 02 00 00 27 BE");
        report("8-byte reply in one piece after 30 ms", window, pty, echo);
        ReplyKind writeSingle;
        writeSingle.protocol = ReplyKind::Modbus;
        writeSingle.function = 0x06;
        MainWindowProbe::setExpected(window, writeSingle);
        report("the same, awaited as the reply to 06", window, pty, echo);
        MainWindowProbe::setExpected(window, ReplyKind{});

        window.findChild<QAction *>(QStringLiteral("actionClose"))->trigger();
    }
    return EXIT_SUCCESS;
}
