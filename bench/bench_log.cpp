// Figures for the message windows in a long session: send and receive lines
// appended through the window the way the device operations append them, in
// batches as the event loop turns, the window shown. Prints, every tenth of
// the run, the lines so far, the cost of an append over that stretch and the
// process's memory; then the growth, the time to save the whole traffic log,
// and the session record on disk. Asserts nothing.
//
//   bench_log [--lines N]   (default 1 000 000)

#include "app/mainwindow.h"
#include "serial/logstore.h"
#include "support/testdata.h"
#include "support/windowdriver.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>

namespace {

qint64 countLines(const QString &fileName)
{
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    qint64 n = 0;
    while (!f.atEnd())
        n += f.read(1 << 20).count('\n');
    return n;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int lines = 1000000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--lines"))
            lines = args[i + 1].toInt();
    }
    // The session record and the saved file go to a scratch folder.
    QTemporaryDir work;
    qputenv("XDG_DATA_HOME", work.filePath(QStringLiteral("data")).toLocal8Bit());
    QDir::setCurrent(work.path());

    MainWindow w;
    w.show();
    // Without the start-up's lines, the counts below are the lines appended.
    w.findChild<QPushButton *>(QStringLiteral("pushButtonClearDataRecieve"))->click();
    auto *traffic = w.findChild<QPlainTextEdit *>(QStringLiteral("textBrowser"));
    QCoreApplication::processEvents();
    const long rss0 = residentMemoryKb();
    std::printf("message windows: %d send and receive lines through the window, shown, "
                "batches as the event loop turns\n\n",
                lines);
    std::printf("%10s %14s %12s\n", "lines", "ms per line", "memory kB");

    const unsigned char reply[] = {0x55, 0x03, 0x02, 0x00, 0x00, 0x49, 0xAD};
    const int stretch = qMax(1, lines / 10);
    double firstMs = 0;
    double lastMs = 0;
    QElapsedTimer total;
    total.start();
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < lines; ++i) {
        if (i % 2 == 0)
            MainWindowProbe::logSend(w, QDateTime::currentDateTime(),
                                     QStringLiteral("55 03 17 04 00 01 C8 B7 "));
        else
            MainWindowProbe::appendReceiveLog(w, reply, int(sizeof reply));
        // The event loop turns about as often as replies come in at 115200 baud.
        if (i % 200 == 199)
            QCoreApplication::processEvents();
        if ((i + 1) % stretch == 0) {
            const double perLine = t.nsecsElapsed() / 1e6 / stretch;
            if (i + 1 == stretch)
                firstMs = perLine;
            lastMs = perLine;
            std::printf("%10d %14.4f %12ld\n", i + 1, perLine, residentMemoryKb());
            std::fflush(stdout);
            t.restart();
        }
    }
    MainWindowProbe::flushLogs(w);
    QCoreApplication::processEvents();
    const double appendSeconds = total.nsecsElapsed() / 1e9;
    const long rss1 = residentMemoryKb();

    const QString saved = work.filePath(QStringLiteral("saved.txt"));
    QString error;
    t.restart();
    const bool ok = saveLines(saved, MainWindowProbe::trafficLog(w)).outcome == SaveResult::Saved;
    const double saveMs = t.nsecsElapsed() / 1e6;
    const long rss2 = residentMemoryKb();

    const QString record = MainWindowProbe::sessionFile(w);
    std::printf("\nappending: %.1f s in all; %.4f ms per line in the first tenth, %.4f ms in "
                "the last\n",
                appendSeconds, firstMs, lastMs);
    std::printf("memory: %ld kB before, %ld kB after (+%ld kB); the window shows %d lines\n", rss0,
                rss1, rss1 - rss0, traffic->document()->blockCount());
    std::printf("save of the whole traffic log: %s in %.0f ms, %lld lines, %.1f MB; memory "
                "then %ld kB\n",
                ok ? "written" : qPrintable(QStringLiteral("failed (%1)").arg(error)), saveMs,
                countLines(saved) + 1, QFileInfo(saved).size() / 1e6, rss2);
    std::printf("session record: %lld lines (with the start-up's), %.1f MB\n", countLines(record),
                QFileInfo(record).size() / 1e6);
    return ok ? 0 : 1;
}
