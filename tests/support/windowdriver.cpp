#include "support/windowdriver.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QSerialPort>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>

SeenBox *answerNextMessageBox(QMessageBox::StandardButton button)
{
    // The box runs its own event loop; a repeating timer finds it there.
    auto *seen = new SeenBox;
    auto *timer = new QTimer;
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
    return seen; // small and per test: left to the process's end
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

static QStringList linesOf(QTextBrowser *browser)
{
    QStringList lines = browser->toPlainText().split(QLatin1Char('\n'));
    if (lines.size() == 1 && lines.first().isEmpty())
        lines.clear();
    return lines;
}

QStringList trafficLines(MainWindow &window)
{
    return linesOf(widget<QTextBrowser>(window, "textBrowser"));
}

QStringList resultLines(MainWindow &window)
{
    return linesOf(widget<QTextBrowser>(window, "textBrowser_val"));
}

QString statusText(MainWindow &window)
{
    return widget<QStatusBar>(window, "statusbar")->currentMessage();
}
