#include "support/windowdriver.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSerialPort>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <vector>

// Every window records its session in the application's data folder; a test's
// windows record into a scratch folder of the test process instead, never into
// the home of whoever runs the tests. It goes when the process ends.
static void keepSessionRecordsOutOfHome()
{
    static QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
}
Q_COREAPP_STARTUP_FUNCTION(keepSessionRecordsOutOfHome)

SeenBox *answerNextMessageBox(QMessageBox::StandardButton button)
{
    // The record outlives the test function that reads it; the list owns it
    // until the process ends, so nothing is lost that a leak check would flag.
    static std::vector<std::unique_ptr<SeenBox>> records;
    records.push_back(std::make_unique<SeenBox>());
    SeenBox *seen = records.back().get();
    // The box runs its own event loop; a repeating timer finds it there. A box
    // that never comes leaves the timer to the application, which deletes it.
    auto *timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, seen, button] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen->shown = true;
        seen->title = box->windowTitle();
        seen->text = box->text();
        if (QAbstractButton *b = box->button(button))
            b->click();
        else
            box->reject();
        timer->stop();
        timer->deleteLater();
    });
    timer->start();
    return seen;
}

QSerialPort *windowPort(MainWindow &window)
{
    return window.findChild<QSerialPort *>();
}

bool openPortOn(MainWindow &window, const QString &path)
{
    auto *port = widget<QComboBox>(window, "comboBoxPort");
    port->setEditText(path);
    widget<QAction>(window, "actionConnect")->trigger();
    return portIsOpen(window);
}

bool portIsOpen(MainWindow &window)
{
    QSerialPort *port = windowPort(window);
    return port && port->isOpen();
}

static QStringList linesOf(QPlainTextEdit *browser)
{
    QStringList lines = browser->toPlainText().split(QLatin1Char('\n'));
    if (lines.size() == 1 && lines.first().isEmpty())
        lines.clear();
    return lines;
}

QStringList trafficLines(MainWindow &window)
{
    MainWindowProbe::flushLogs(window);
    return linesOf(widget<QPlainTextEdit>(window, "textBrowser"));
}

QStringList resultLines(MainWindow &window)
{
    MainWindowProbe::flushLogs(window);
    return linesOf(widget<QPlainTextEdit>(window, "textBrowser_val"));
}

QString statusText(MainWindow &window)
{
    return widget<QStatusBar>(window, "statusbar")->currentMessage();
}
