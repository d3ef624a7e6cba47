// A soak run: the console's cyclic sending against pdu-sim for minutes on
// end, the window shown. Prints, once a minute, the frames sent, the bytes
// received, the lines the traffic log and the session record hold and the
// process's memory; at the end whether the record on disk holds a line for
// every frame sent and whether every frame was answered. Asserts nothing.
// scripts/soak.sh builds and runs it.
//
//   bench_soak [--minutes N] [--interval MS] [--baud B]

#include "app/mainwindow.h"
#include "protocol/hex.h"
#include "protocol/modbus.h"
#include "support/testdata.h"
#include "support/windowdriver.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QSerialPort>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

// Lines of the record that are send lines of the traffic window.
qint64 sendLinesIn(const QString &fileName)
{
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray mark = QByteArray("报文\t"); // then the time, a tab and the line
    const QByteArray send = QByteArray("][发送]: ");
    qint64 n = 0;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine();
        if (line.startsWith(mark) && line.contains(send))
            ++n;
    }
    return n;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    double minutes = 10;
    int intervalMs = 10;
    int baud = 115200;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--minutes"))
            minutes = args[i + 1].toDouble();
        if (args[i] == QLatin1String("--interval"))
            intervalMs = args[i + 1].toInt();
        if (args[i] == QLatin1String("--baud"))
            baud = args[i + 1].toInt();
    }

    QTemporaryDir work;
    qputenv("XDG_DATA_HOME", work.filePath(QStringLiteral("data")).toLocal8Bit());
    QDir::setCurrent(work.path());

    QProcess sim;
    sim.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/pdu-sim"),
              {QStringLiteral("--baud"), QString::number(baud), QStringLiteral("--turnaround"),
               QStringLiteral("1"), QStringLiteral("--quiet")});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::printf("cannot start pdu-sim\n");
        return 1;
    }
    const QString port = QString::fromLocal8Bit(sim.readLine()).trimmed();

    int exitCode = 0;
    {
        MainWindow w;
        w.show();
        widget<QComboBox>(w, "comboBoxPort")->setEditText(port);
        auto *baudBox = widget<QComboBox>(w, "comboBoxBaud");
        baudBox->setCurrentIndex(baudBox->findText(QString::number(baud)));
        widget<QAction>(w, "actionConnect")->trigger();
        if (!w.findChild<QSerialPort *>()->isOpen()) {
            std::printf("cannot open %s\n", qPrintable(port));
            return 1;
        }

        // Line 1: read module 1's switch state, sent every intervalMs.
        unsigned char frame[8];
        const int length = make_read_frame(frame, kBusAddress, moduleRegister(1, 0x0704), 1);
        widget<QLineEdit>(w, "lineEditSend1")->setText(hexRequestText(frame, length));
        widget<QCheckBox>(w, "checkBoxSendEnable1")->setChecked(true);
        widget<QSpinBox>(w, "spinBoxInterval")->setValue(intervalMs);
        const int replyBytes = 7; // 55 03 02 hi lo CRC

        std::printf("soak: cyclic send every %d ms at %d baud for %.1f minutes, window shown\n\n",
                    intervalMs, baud, minutes);
        std::printf("%8s %10s %12s %12s %12s %12s\n", "minute", "frames", "bytes in", "log lines",
                    "record MB", "memory kB");
        const auto report = [&](double minute) {
            MainWindowProbe::flushLogs(w);
            std::printf("%8.1f %10d %12d %12lld %12.2f %12ld\n", minute,
                        MainWindowProbe::sendCount(w) / length, MainWindowProbe::recvCount(w),
                        MainWindowProbe::trafficLines(w),
                        QFileInfo(MainWindowProbe::sessionFile(w)).size() / 1e6,
                        residentMemoryKb());
            std::fflush(stdout);
        };
        const qint64 linesAtStart = MainWindowProbe::trafficLines(w); // mac.csv's rows
        report(0);
        widget<QCheckBox>(w, "checkBoxPoll")->click();

        QElapsedTimer elapsed;
        elapsed.start();
        QTimer everyMinute;
        QObject::connect(&everyMinute, &QTimer::timeout,
                         [&] { report(elapsed.elapsed() / 60000.0); });
        everyMinute.start(60000);
        QTimer::singleShot(int(minutes * 60000), [&] {
            widget<QCheckBox>(w, "checkBoxPoll")->click();
            // The last replies come in.
            QTimer::singleShot(500, &app, &QCoreApplication::quit);
        });
        app.exec();
        everyMinute.stop();
        report(elapsed.elapsed() / 60000.0);

        const int frames = MainWindowProbe::sendCount(w) / length;
        const qint64 logged = MainWindowProbe::trafficLines(w) - linesAtStart;
        const qint64 onDisk = sendLinesIn(MainWindowProbe::sessionFile(w));
        const int expectedIn = frames * replyBytes;
        std::printf("\nframes sent %d; send lines in the traffic log %lld, in the record on disk "
                    "%lld: %s\n",
                    frames, logged, onDisk,
                    logged == frames && onDisk == frames ? "all" : "MISSING");
        std::printf("bytes received %d of %d expected (%d replies): %s\n",
                    MainWindowProbe::recvCount(w), expectedIn, frames,
                    MainWindowProbe::recvCount(w) == expectedIn ? "every frame answered"
                                                                : "NOT ALL ANSWERED");
        std::printf("rate: %.1f frames a second\n", frames / (elapsed.elapsed() / 1000.0));
        if (logged != frames || onDisk != frames)
            exitCode = 2;
        widget<QAction>(w, "actionClose")->trigger();
    }
    sim.terminate();
    sim.waitForFinished(3000);
    return exitCode;
}
