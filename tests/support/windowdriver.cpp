#include "support/windowdriver.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSerialPort>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTreeWidget>

// Every window records its session in the application's data folder, and
// the bench's own settings in its configuration folder; a test's windows use
// a scratch folder of the test process instead, never the home of whoever
// runs the tests. It goes when the process ends.
static void keepSessionRecordsOutOfHome()
{
    static QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (dataHome.path() + QStringLiteral("/config")).toLocal8Bit());
}
Q_COREAPP_STARTUP_FUNCTION(keepSessionRecordsOutOfHome)

ModalAnswerer::ModalAnswerer(QMessageBox::StandardButton button, const QString &saveAs)
    : m_button(button)
    , m_saveAs(saveAs)
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(10);
    connect(m_timer, &QTimer::timeout, this, [this] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && !modal->property("answered").toBool())
            answer(modal);
    });
    m_timer->start();
}

void ModalAnswerer::answer(QWidget *modal)
{
    modal->setProperty("answered", true);
    if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
        dialogTitle = dialog->windowTitle();
        proposedFiles = dialog->selectedFiles();
        if (m_saveAs.isEmpty()) {
            dialog->reject();
        } else {
            // Typed into the name field, as an engineer would type a full path.
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(m_saveAs);
            // Queued: accepting may open the "replace it?" box, which this
            // timer has to be free to answer.
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        }
    } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        last = {true, box->windowTitle(), box->text()};
        boxes.append(last);
        QAbstractButton *b = box->button(m_button);
        if (!b)
            b = box->button(QMessageBox::Yes);
        if (b)
            b->click();
        else
            box->reject();
        if (once)
            m_timer->stop();
    }
}

QStringList ModalAnswerer::texts() const
{
    QStringList texts;
    for (const SeenBox &box : boxes)
        texts << box.text;
    return texts;
}

QList<SeenBox> ModalAnswerer::toolBoxes() const
{
    QList<SeenBox> own;
    for (const SeenBox &box : boxes)
        if (box.title != dialogTitle)
            own << box;
    return own;
}

SeenBox *answerNextMessageBox(QMessageBox::StandardButton button)
{
    // The application owns the answerer: the record outlives the test
    // function that reads it, and nothing is left for a leak check to flag.
    auto *answerer = new ModalAnswerer(button);
    answerer->setParent(qApp);
    answerer->once = true;
    return &answerer->last;
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

QString resultInk(MainWindow &window, const QString &line)
{
    MainWindowProbe::flushLogs(window);
    const QTextDocument *document = widget<QPlainTextEdit>(window, "textBrowser_val")->document();
    for (QTextBlock block = document->lastBlock(); block.isValid(); block = block.previous()) {
        if (block.text() != line)
            continue;
        const QTextBlock::iterator first = block.begin();
        const QColor ink
            = first.atEnd() ? QColor() : first.fragment().charFormat().foreground().color();
        if (ink == QColor(Qt::red))
            return QStringLiteral("red");
        if (ink == QColor(0, 128, 0))
            return QStringLiteral("green");
        return QStringLiteral("plain");
    }
    return QString();
}

static void addTreeTexts(const QTreeWidgetItem *item, int depth,
                         const std::function<QString(const QTreeWidgetItem *)> &line,
                         QStringList &out)
{
    out << QString(depth * 2, QLatin1Char(' ')) + (line ? line(item) : item->text(0));
    for (int i = 0; i < item->childCount(); ++i)
        addTreeTexts(item->child(i), depth + 1, line, out);
}

QStringList treeTexts(MainWindow &window,
                      const std::function<QString(const QTreeWidgetItem *)> &line)
{
    QStringList out;
    const auto *tree = widget<QTreeWidget>(window, "treeWidget");
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        addTreeTexts(tree->topLevelItem(i), 0, line, out);
    return out;
}
