// The two message windows: log lines, clearing, saving, and the session record.

#include "serial/messagelog.h"

#include "app/mainwindow.h"
#include "serial/port.h"
#include "ui_mainwindow.h"

#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>

namespace {

// Ctrl+C is the shortcut of "关闭串口"; in a message window holding a
// selection it copies instead. A read-only text view does not claim the key
// for itself, so without this the window's shortcut would take it.
class CopyKeyFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ShortcutOverride
            && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy)
            && hasSelection(watched)) {
            event->accept(); // the view gets the key press and copies
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    static bool hasSelection(QObject *view)
    {
        if (auto *rich = qobject_cast<QTextEdit *>(view))
            return rich->textCursor().hasSelection();
        if (auto *plain = qobject_cast<QPlainTextEdit *>(view))
            return plain->textCursor().hasSelection();
        return false;
    }
};

QTextCharFormat inkFormat(LineInk ink)
{
    QTextCharFormat format;
    if (ink == LineInk::Red)
        format.setForeground(QColor(Qt::red));
    else if (ink == LineInk::Green)
        format.setForeground(QColor(0, 128, 0)); // Qt's pure green is unreadable on white
    return format;
}

// Appends the lines as paragraphs in one edit block, each in its ink. The
// text goes in as it stands: a line that looks like markup ("<b>") is not
// markup. The view keeps following the end if it was there.
void appendToView(QPlainTextEdit *view, const QVector<QPair<QString, LineInk>> &lines)
{
    if (lines.isEmpty())
        return;
    QScrollBar *bar = view->verticalScrollBar();
    const bool followEnd = bar->value() >= bar->maximum();

    const QTextCharFormat plain;
    QTextCursor cursor(view->document());
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    bool startNewBlock = !view->document()->isEmpty();
    for (const auto &line : lines) {
        if (startNewBlock)
            cursor.insertBlock(QTextBlockFormat(), plain);
        cursor.insertText(line.first, inkFormat(line.second));
        startNewBlock = true;
    }
    cursor.endEditBlock();

    if (followEnd)
        bar->setValue(bar->maximum());
}

} // namespace

void LogQueue::setView(QPlainTextEdit *view, LineStore *store, SessionRecord *record,
                       SessionRecord::Window window)
{
    m_view = view;
    m_store = store;
    m_record = record;
    m_window = window;
    m_timer = new QTimer(view);
    m_timer->setSingleShot(true);
    m_timer->setInterval(kLogRefreshMs);
    QObject::connect(m_timer, &QTimer::timeout, view, [this] {
        if (!m_held) {
            flush();
            return;
        }
        m_record->flush();
        m_due = true;
    });
}

void LogQueue::add(const QString &text, LineInk ink, const QString &recordNote)
{
    if (m_lines.isEmpty())
        m_timer->start();
    for (const QString &line : splitIntoLines(text)) {
        m_store->append(line);
        m_record->append(m_window,
                         recordNote.isEmpty() ? line : line + QLatin1Char('\t') + recordNote);
        m_lines.append({line, ink});
    }
}

void LogQueue::addPlain(const QStringList &lines)
{
    for (const QString &line : lines)
        add(line, LineInk::Plain);
}

void LogQueue::holdDrawing()
{
    m_held = true;
}

void LogQueue::releaseDrawing()
{
    m_held = false;
    // Drawn at the next turn of the event loop, unless a wait starts first.
    if (m_due)
        m_timer->start(0);
}

void LogQueue::drawIfDue()
{
    if (m_due)
        flush();
}

void LogQueue::flush()
{
    m_due = false;
    m_timer->stop();
    // On disk before on screen: what the engineer has seen survives a crash.
    m_record->flush();
    const QVector<QPair<QString, LineInk>> lines = std::move(m_lines);
    m_lines.clear();
    if (m_beforeDrawing)
        m_beforeDrawing();
    appendToView(m_view, lines);
}

void LogQueue::clear()
{
    m_due = false;
    m_timer->stop();
    m_lines.clear();
    m_store->clear();
    m_view->clear();
}

void letCtrlCCopy(QWidget *view)
{
    view->installEventFilter(new CopyKeyFilter(view));
}

void MainWindow::appendResult(const QString &line, Tone tone)
{
    m_resultQueue.add(line, tone == Tone::Bad    ? LineInk::Red
                            : tone == Tone::Good ? LineInk::Green
                                                 : LineInk::Plain);
}

void MainWindow::appendTrafficLines(const QStringList &lines)
{
    m_trafficQueue.addPlain(lines);
}

void MainWindow::appendSendLog(const QDateTime &when, const QString &display)
{
    m_trafficQueue.addRed(sendLogLine(when, display));
}

void MainWindow::appendReceiveLog(const unsigned char *bytes, int length, const QString &marker,
                                  const QString &recordNote)
{
    m_trafficQueue.addRed(receiveLogLine(m_clock(), bytes, length) + marker, recordNote);
}

// Both windows go to the record from the first line; a record that cannot be
// opened or written is reported in the result window, and the windows and
// their saving work on without it.
void MainWindow::openSessionRecord()
{
    m_trafficQueue.setView(ui->textBrowser, &m_trafficLog, &m_session, SessionRecord::Traffic);
    m_resultQueue.setView(ui->textBrowser_val, &m_resultLog, &m_session, SessionRecord::Results);
    m_trafficQueue.setBeforeDrawing([this] { showHeldDisplay(); });
    m_session.setClock([this] { return m_clock(); });
    // A full disk stops the record only until there is room again: each
    // batch tries anew, and the first that is written says what is missing.
    m_session.setFailureHandler([this](const QString &error) {
        appendResult(QStringLiteral("记录文件写入失败，消息暂未记入，有空间后自动恢复：%1 (%2)")
                         .arg(QDir::toNativeSeparators(m_session.fileName()), error));
    });
    m_session.setResumeHandler([this](qint64 missing) {
        appendResult(QStringLiteral("记录文件已恢复写入：%1，其间缺少 %2 行")
                         .arg(QDir::toNativeSeparators(m_session.fileName()))
                         .arg(missing));
    });
    const QString folder = sessionFolder();
    if (!m_session.open(folder, QDateTime::currentDateTime())) {
        appendResult(QStringLiteral("无法建立记录文件，本次消息不会记入文件夹 %1：%2")
                         .arg(QDir::toNativeSeparators(folder), m_session.errorString()));
        return;
    }
    pruneSessionRecords(folder, QDateTime::currentDateTime(), m_session.fileName());
}

// The port's opening, closing and going away stand in the session record
// between the lines they explain.
void MainWindow::recordPortEvents()
{
    connect(serialPort, &QIODevice::aboutToClose, this, [this] {
        recordPortEvent(QStringLiteral("串口 %1 已关闭").arg(serialPort->portName()));
    });
    connect(serialPort, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        if (e != QSerialPort::ResourceError && e != QSerialPort::ReadError
            && e != QSerialPort::WriteError)
            return;
        // A vanished device reports again on every turn of the event loop
        // until its port is closed: once is the news.
        if (m_portLossRecorded || !serialPort->isOpen())
            return;
        m_portLossRecorded = true;
        recordPortEvent(QStringLiteral("串口 %1 断开或出错：%2")
                            .arg(serialPort->portName(), serialPort->errorString()));
    });
}

void MainWindow::recordPortOpened()
{
    m_portLossRecorded = false;
    recordPortEvent(openedPortText(serialPort->portName(), serialPort->baudRate(),
                                   serialPort->dataBits(), serialPort->parity(),
                                   serialPort->stopBits()));
}

void MainWindow::recordPortEvent(const QString &text)
{
    // After the lines of the windows that came before it, and on disk at once.
    m_trafficQueue.flush();
    m_resultQueue.flush();
    m_session.append(SessionRecord::Port, text);
    m_session.flush();
}

void MainWindow::on_pushButtonClearDataRecieve_clicked()
{
    m_trafficQueue.clear();
}

void MainWindow::on_pushButton_3_clicked()
{
    m_resultQueue.clear();
}

void MainWindow::on_textBrowser_customContextMenuRequested(const QPoint &)
{
    on_pushButtonClearDataRecieve_clicked();
}

void MainWindow::on_textBrowser_val_customContextMenuRequested(const QPoint &)
{
    on_pushButton_3_clicked();
}

// The whole traffic log since the last clearing, not only what the window
// still shows.
void MainWindow::on_actionSave_triggered()
{
    m_trafficQueue.flush();
    if (m_trafficLog.isEmpty()) {
        QMessageBox::information(
            this, QStringLiteral("提示消息"),
            QStringLiteral("貌似还没有数据! 您需要在发送编辑框中输入要发送的数据"));
        return;
    }
    const QString fileName = QFileDialog::getSaveFileName(this, QStringLiteral("保存为"),
                                                          QStringLiteral("未命名.txt"));
    if (fileName.isEmpty())
        return;
    // Reception may have added lines while the dialog was open; they are in.
    m_trafficQueue.flush();
    const SaveResult result = saveLines(fileName, m_trafficLog);
    if (result.outcome == SaveResult::Saved) {
        ui->statusbar->showMessage(
            QStringLiteral("报文已保存到 %1").arg(QDir::toNativeSeparators(fileName)));
        return;
    }
    const QString text = result.outcome == SaveResult::OpenFailed
                             ? QStringLiteral("打开文件 %1 失败, 无法保存\n%2")
                             : QStringLiteral("写入文件 %1 失败, 未能保存\n%2");
    QMessageBox::warning(this, QStringLiteral("保存文件"), text.arg(fileName, result.errorText));
}

void MainWindow::on_actionOpenRecordFolder_triggered()
{
    const QString folder = sessionFolder();
    QDir().mkpath(folder);
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        QMessageBox::warning(
            this, QStringLiteral("打开记录文件夹"),
            QStringLiteral("无法打开文件夹 %1").arg(QDir::toNativeSeparators(folder)));
}
