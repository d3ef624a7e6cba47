// The two message windows: log lines, clearing and saving.

#include "serial/messagelog.h"

#include "app/mainwindow.h"
#include "protocol/hex.h"
#include "ui_mainwindow.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>
#include <QTextStream>
#include <QTimer>

namespace {

QString logLine(const QDateTime &when, const char *direction, const QString &text)
{
    return QStringLiteral("<span style=\" color:red;\">[")
           + when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")) + QString::fromUtf8(direction)
           + text + QStringLiteral("\n\r</span>");
}

// Writes through a temporary file that replaces the chosen one only when all
// of it is on disk, so a failed save never leaves a truncated log behind.
bool saveText(const QString &fileName, const QString &text, QString *errorText)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        *errorText = file.errorString();
        return false;
    }
    QTextStream out(&file);
    out << text;
    out.flush();
    // A write that failed on the way is remembered by the file: commit then
    // refuses and removes the temporary file.
    if (!file.commit()) {
        *errorText = file.errorString();
        return false;
    }
    return true;
}

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
    QString errorText;
    if (!saveText(fileName, ui->textBrowser->toPlainText(), &errorText))
        QMessageBox::warning(
            this, QStringLiteral("保存文件"),
            QStringLiteral("打开文件 %1 失败, 无法保存\n%2").arg(fileName, errorText));
}
