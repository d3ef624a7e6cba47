// The two message windows: log lines, clearing and saving.

#include "serial/messagelog.h"

#include "app/mainwindow.h"
#include "protocol/hex.h"
#include "ui_mainwindow.h"

#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextCodec>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

QString logLine(const QDateTime &when, const char *direction, const QString &text)
{
    return QStringLiteral("<span style=\" color:red;\">[")
           + when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")) + QString::fromUtf8(direction)
           + text + QStringLiteral("\n\r</span>");
}

// A file that must be written where it stands rather than replaced by a new
// one: a hard-linked file (a new file would leave the other names holding the
// old text) and anything that is not a plain file (a pipe, a device).
bool mustWriteInPlace(const QString &fileName)
{
#ifdef Q_OS_UNIX
    struct stat st;
    if (::stat(QFile::encodeName(fileName).constData(), &st) != 0)
        return false; // a new file
    return !S_ISREG(st.st_mode) || st.st_nlink > 1;
#else
    const QFileInfo info(fileName);
    return info.exists() && !info.isFile();
#endif
}

// Writes all of bytes or says why not. A write that the system cuts short (a
// full disk, a file-size limit) is tried again for the rest, which then fails
// with the system's reason; a single write would only come back short, with
// no reason at all.
bool writeAll(QFileDevice &file, const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return file.flush();
}

} // namespace

SaveResult saveText(const QString &fileName, const QString &text)
{
    // The system's own encoding, as a text stream would write it.
    const QByteArray bytes = QTextCodec::codecForLocale()->fromUnicode(text);
    if (mustWriteInPlace(fileName)) {
        QFile file(fileName);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            return {SaveResult::OpenFailed, file.errorString()};
        if (!writeAll(file, bytes))
            return {SaveResult::WriteFailed, file.errorString()};
        return {};
    }

    // Elsewhere through a temporary file that replaces the chosen one only
    // when all of it is on disk, so a failed save never leaves a truncated log
    // behind. In a folder that takes no new files the file is written
    // directly instead, if the user may write it.
    QSaveFile file(fileName);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return {SaveResult::OpenFailed, file.errorString()};
    const bool written = writeAll(file, bytes);
    const QString writeError = file.errorString();
    if (!written)
        file.cancelWriting(); // the temporary file goes at commit
    // Committed in any case: a file left uncommitted is removed, and when it
    // was written directly that is the engineer's own file.
    const bool committed = file.commit();
    if (!written)
        return {SaveResult::WriteFailed, writeError};
    if (!committed)
        return {SaveResult::WriteFailed, file.errorString()};
    return {};
}

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

} // namespace

QString sendLogLine(const QDateTime &when, const QString &display)
{
    return logLine(when, "][发送]: ", display.toHtmlEscaped());
}

QString receiveLogLine(const QDateTime &when, const unsigned char *bytes, int length)
{
    return logLine(when, "][接收]: ", hexReplyText(bytes, length));
}

void appendPlainLines(QTextEdit *view, const QStringList &lines)
{
    if (lines.isEmpty())
        return;
    QScrollBar *bar = view->verticalScrollBar();
    const bool followEnd = bar->value() >= bar->maximum();

    QTextCursor cursor(view->document());
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    bool startNewBlock = !view->document()->isEmpty();
    for (const QString &line : lines) {
        if (startNewBlock)
            cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        cursor.insertText(line, QTextCharFormat());
        startNewBlock = true;
    }
    cursor.endEditBlock();

    if (followEnd)
        bar->setValue(bar->maximum());
}

void LogQueue::setView(QTextEdit *view)
{
    m_view = view;
    m_timer = new QTimer(view);
    m_timer->setSingleShot(true);
    m_timer->setInterval(kLogRefreshMs);
    QObject::connect(m_timer, &QTimer::timeout, view, [this] { flush(); });
}

void LogQueue::add(const QString &line, bool html)
{
    if (m_lines.isEmpty())
        m_timer->start();
    m_lines.append({line, html});
}

void LogQueue::addPlain(const QStringList &lines)
{
    for (const QString &line : lines)
        add(line, false);
}

void LogQueue::flush()
{
    m_timer->stop();
    const QVector<QPair<QString, bool>> lines = std::move(m_lines);
    m_lines.clear();
    QStringList plain;
    for (const auto &line : lines) {
        if (!line.second) {
            plain << line.first;
            continue;
        }
        appendPlainLines(m_view, plain);
        plain.clear();
        m_view->append(line.first);
    }
    appendPlainLines(m_view, plain);
}

void letCtrlCCopy(QWidget *view)
{
    view->installEventFilter(new CopyKeyFilter(view));
}

void MainWindow::appendResult(const QString &line)
{
    m_resultQueue.addPlain(line);
}

void MainWindow::appendTrafficLines(const QStringList &lines)
{
    m_trafficQueue.addPlain(lines);
}

void MainWindow::appendReceiveLog(const unsigned char *bytes, int length)
{
    m_trafficQueue.addHtml(receiveLogLine(m_clock(), bytes, length));
}

// Clearing takes what still waits with it: those lines came before the click.
void MainWindow::on_pushButtonClearDataRecieve_clicked()
{
    m_trafficQueue.discard();
    ui->textBrowser->clear();
}

void MainWindow::on_pushButton_3_clicked()
{
    m_resultQueue.discard();
    ui->textBrowser_val->clear();
}

void MainWindow::on_textBrowser_customContextMenuRequested(const QPoint &)
{
    on_pushButtonClearDataRecieve_clicked();
}

void MainWindow::on_textBrowser_val_customContextMenuRequested(const QPoint &)
{
    on_pushButton_3_clicked();
}

void MainWindow::on_actionSave_triggered()
{
    m_trafficQueue.flush();
    if (ui->textBrowser->toPlainText().isEmpty()) {
        QMessageBox::information(
            this, QStringLiteral("提示消息"),
            QStringLiteral("貌似还没有数据! 您需要在发送编辑框中输入要发送的数据"));
        return;
    }
    const QString fileName = QFileDialog::getSaveFileName(this, QStringLiteral("保存为"),
                                                          QStringLiteral("未命名.txt"));
    if (fileName.isEmpty())
        return;
    // Read again: reception may have added lines while the dialog was open.
    m_trafficQueue.flush();
    const SaveResult result = saveText(fileName, ui->textBrowser->toPlainText());
    if (result.outcome == SaveResult::Saved)
        return;
    const QString text = result.outcome == SaveResult::OpenFailed
                             ? QStringLiteral("打开文件 %1 失败, 无法保存\n%2")
                             : QStringLiteral("写入文件 %1 失败, 未能保存\n%2");
    QMessageBox::warning(this, QStringLiteral("保存文件"), text.arg(fileName, result.errorText));
}
