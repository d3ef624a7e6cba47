// feederbench-snapshot: the main window drawn without a display into a PNG
// file, for the README and for judging the layout by eye.
//
//   feederbench-snapshot --workdir examples docs/screenshot.png
//   feederbench-snapshot --workdir examples --plan fail docs/plan-fail.png
//
// With --fit the window is placed on the screen as the program places itself
// and the whole screen is shot; run so on a real (virtual) X screen to see
// the window on a small one.
//
// The window reads config.ini and mac.csv from its working directory, so the
// picture shows the test tree and the table of whatever folder --workdir names.

#include "app/mainwindow.h"
#include "app/windowfit.h"
#include "tools/pduunit.h"
#include "tools/simline.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QVector>

#include <cstdio>
#include <functional>

namespace {

constexpr int kWidthPx = 1400;
constexpr int kHeightPx = 900;
// Long enough for the posted layout and paint requests of a new window.
constexpr int kSettleMs = 100;

// A step that puts the window into the state the picture should show; it runs
// after the window is up and before the shot. Whatever it needs to keep alive
// until the shot (a simulated unit on its line, say) it parents to stage,
// which outlives the window, so the window's port is closed before the far
// end of the line goes away. A step that fails says why on stderr and returns
// false, and no picture is written.
using Preparation = std::function<bool(MainWindow &window, QObject &stage)>;

void settle(int ms)
{
    // Sleeps in the event loop so that layouts, paints and the window's own
    // timers all run.
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The simulated unit the --poll picture talks to: module 1 opened by the
// low-voltage disconnect, with its flags showing why.
class SnapshotUnit : public QObject
{
public:
    explicit SnapshotUnit(QObject *parent)
        : QObject(parent)
        , line([this](const QByteArray &request) { return unit.handleFrame(request); },
               &PduUnit::requestLength, this)
    {
        unit.module(1).switchState = 2;
        unit.module(1).protectionFlags = 0x0011;
        // At a real line's pace, so the read test's summary shows a real time.
        line.setBaudRate(9600);
        line.setTurnaroundMs(5);
    }
    PduUnit unit;
    SimLine line;
};

// Opens the window's port on a simulated unit, picks module 1, reads the
// unit's MAC address, ticks the whole tree and runs the read test, as an
// engineer would: the picture ends on the read test's summary.
bool pollSimulatedUnit(MainWindow &window, QObject &stage)
{
    auto *sim = new SnapshotUnit(&stage);
    if (!sim->line.isOpen()) {
        std::fprintf(stderr, "feederbench-snapshot: no pseudo-terminal for the simulated unit\n");
        return false;
    }
    window.findChild<QComboBox *>(QStringLiteral("comboBoxPort"))
        ->setEditText(sim->line.portPath());
    window.findChild<QAction *>(QStringLiteral("actionConnect"))->trigger();
    if (!window.findChild<QSerialPort *>()->isOpen()) {
        std::fprintf(stderr, "feederbench-snapshot: cannot open %s\n",
                     qPrintable(sim->line.portPath()));
        return false;
    }
    auto *module = window.findChild<QComboBox *>(QStringLiteral("comboBox_md"));
    module->setCurrentIndex(module->findText(QStringLiteral("1")));
    auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    if (tree->topLevelItemCount() > 0)
        tree->topLevelItem(0)->setCheckState(0, Qt::Checked);
    window.findChild<QPushButton *>(QStringLiteral("pushButton_rdmac"))->click();
    window.findChild<QPushButton *>(QStringLiteral("pushButton"))->click();
    return true;
}

// The simulated unit a --plan picture tests: as it leaves the factory, or
// with its low-voltage disconnect value on module 1 stuck at 45.0 V.
class PlanUnit : public QObject
{
public:
    PlanUnit(bool sound, QObject *parent)
        : QObject(parent)
        , line([this](const QByteArray &request) { return unit.handleFrame(request); },
               &PduUnit::requestLength, this)
    {
        if (!sound)
            unit.pinnedRegisters[1].insert(0x0805, 450);
        line.setBaudRate(9600);
        line.setTurnaroundMs(5);
    }
    PduUnit unit;
    SimLine line;
};

// Opens the window's port on a simulated unit, enters a serial number of the
// sample mac.csv and presses 一键测试: the picture shows the plan's lines and
// its verdict.
Preparation runPlanOn(bool sound)
{
    return [sound](MainWindow &window, QObject &stage) {
        auto *sim = new PlanUnit(sound, &stage);
        if (!sim->line.isOpen()) {
            std::fprintf(stderr,
                         "feederbench-snapshot: no pseudo-terminal for the simulated unit\n");
            return false;
        }
        window.findChild<QComboBox *>(QStringLiteral("comboBoxPort"))
            ->setEditText(sim->line.portPath());
        window.findChild<QAction *>(QStringLiteral("actionConnect"))->trigger();
        auto *plan = window.findChild<QAction *>(QStringLiteral("actionRunPlan"));
        if (!window.findChild<QSerialPort *>()->isOpen() || !plan->isEnabled()) {
            std::fprintf(stderr,
                         "feederbench-snapshot: no open port or no plan.ini in the folder\n");
            return false;
        }
        auto *sn = window.findChild<QLineEdit *>(QStringLiteral("lineEdit_sn"));
        sn->setText(QStringLiteral("PDU2411A0002"));
        emit sn->editingFinished(); // the lookup of its MAC address, as after a scan
        plan->trigger();
        return true;
    };
}

// The steps the command line asks for, in the order they run.
QVector<Preparation> preparationsFor(const QCommandLineParser &args, const QCommandLineOption &poll,
                                     const QCommandLineOption &plan)
{
    QVector<Preparation> steps;
    if (args.isSet(poll))
        steps << pollSimulatedUnit;
    if (args.isSet(plan))
        steps << runPlanOn(args.value(plan) != QLatin1String("fail"));
    return steps;
}

} // namespace

int main(int argc, char *argv[])
{
    // Offscreen unless the caller chose a platform: the tool runs on build
    // machines without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // The icons live in the static library; nothing else would pull them in.
    Q_INIT_RESOURCE(images);
    QApplication app(argc, argv);

    QCommandLineParser args;
    args.setApplicationDescription(
        QStringLiteral("Draws the FeederBench main window into a PNG file."));
    args.addHelpOption();
    const QCommandLineOption workDir(
        QStringLiteral("workdir"),
        QStringLiteral("Folder holding config.ini and mac.csv (default: the current one)."),
        QStringLiteral("dir"));
    args.addOption(workDir);
    const QCommandLineOption poll(
        QStringLiteral("poll"),
        QStringLiteral("Before the shot, open a simulated unit, read its MAC address, then tick "
                       "every entry of the tree and read them from module 1."));
    args.addOption(poll);
    const QCommandLineOption plan(
        QStringLiteral("plan"),
        QStringLiteral("Before the shot, run plan.ini of the folder on a simulated unit that "
                       "passes it (pass) or whose module 1 has its low-voltage disconnect value "
                       "stuck out of limits (fail)."),
        QStringLiteral("pass|fail"));
    args.addOption(plan);
    const QCommandLineOption fit(
        QStringLiteral("fit"),
        QStringLiteral("Place the window on the screen as the program does and shoot the whole "
                       "screen (for a real X screen; the offscreen one is 800 x 600)."));
    args.addOption(fit);
    args.addPositionalArgument(QStringLiteral("output"), QStringLiteral("The PNG file to write."));
    args.process(app);

    if (args.positionalArguments().size() != 1)
        args.showHelp(2);
    // Resolved before the change of folder so that a relative path means
    // what the caller meant.
    const QString output = QDir::current().absoluteFilePath(args.positionalArguments().first());
    if (args.isSet(plan) && args.value(plan) != QLatin1String("pass")
        && args.value(plan) != QLatin1String("fail"))
        args.showHelp(2);
    // The run goes on a record of its own, never into the user's.
    QTemporaryDir records;
    if (args.isSet(plan))
        qputenv("XDG_DATA_HOME", QFile::encodeName(records.path()));
    if (args.isSet(workDir) && !QDir::setCurrent(args.value(workDir))) {
        std::fprintf(stderr, "feederbench-snapshot: cannot enter %s\n",
                     qPrintable(args.value(workDir)));
        return 1;
    }

    QObject stage; // declared first, so destroyed after the window
    MainWindow window;
    if (args.isSet(fit)) {
        fitWindowToScreen(&window);
        window.show();
    } else {
        window.show();
        window.resize(kWidthPx, kHeightPx);
    }
    settle(kSettleMs);

    for (const Preparation &prepare : preparationsFor(args, poll, plan)) {
        if (!prepare(window, stage))
            return 1;
        settle(kSettleMs);
    }

    const QImage shot = args.isSet(fit) ? QGuiApplication::primaryScreen()->grabWindow(0).toImage()
                                        : window.grab().toImage();
    if (!shot.save(output, "PNG")) {
        std::fprintf(stderr, "feederbench-snapshot: cannot write %s\n", qPrintable(output));
        return 1;
    }
    std::printf("%s: %d x %d\n", qPrintable(output), shot.width(), shot.height());
    return 0;
}
