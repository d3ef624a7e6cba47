#include "support/windowdriver.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QSerialPort>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>

#include <memory>
#include <vector>

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

MessageBoxCounter::MessageBoxCounter(QMessageBox::StandardButton button)
    : m_button(button)
{
    qApp->installEventFilter(this);
}

MessageBoxCounter::~MessageBoxCounter()
{
    qApp->removeEventFilter(this);
}

bool MessageBoxCounter::eventFilter(QObject *watched, QEvent *event)
{
    auto *box = event->type() == QEvent::Show ? qobject_cast<QMessageBox *>(watched) : nullptr;
    if (box) {
        m_texts << box->text();
        // Answered from the box's own event loop, once it runs.
        const QMessageBox::StandardButton button = m_button;
        QTimer::singleShot(0, box, [box, button] {
            if (QAbstractButton *b = box->button(button))
                b->click();
            else
                box->reject();
        });
    }
    return false;
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
    MainWindowProbe::flushLogs(window);
    return linesOf(widget<QTextBrowser>(window, "textBrowser"));
}

QStringList resultLines(MainWindow &window)
{
    MainWindowProbe::flushLogs(window);
    return linesOf(widget<QTextBrowser>(window, "textBrowser_val"));
}

QString statusText(MainWindow &window)
{
    return widget<QStatusBar>(window, "statusbar")->currentMessage();
}
