// The provisioning record in the window: where it is kept, its export (with
// the unit runs), the window that shows it, and starting a new one.

#include "app/mainwindow.h"
#include "device/journal.h"
#include "device/journalwindow.h"
#include "device/runrecord.h"
#include "ui_mainwindow.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSaveFile>
#include <QStandardPaths>

#include <limits>

namespace {

constexpr int kExportPageRows = 10000; // rows read and written at a time
constexpr int kExportPageRuns = 1000;  // runs, each with its steps

// The runs go beside the provisioning record: "生产记录.csv" and
// "生产记录_测试记录.csv", each a plain table a spreadsheet opens as it is.
QString runsFileBeside(const QString &recordFile)
{
    const QFileInfo info(recordFile);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral("_测试记录.csv"));
}

// Every run newest first, one row per step, a page at a time. False with
// *error when the record or the file failed; *runs counts what was written.
bool exportRuns(RunRecord &record, const QString &name, qint64 *runs, QString *error)
{
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly) || file.write(runsCsvHeader()) < 0) {
        *error = QStringLiteral("无法保存 %1：%2").arg(name, file.errorString());
        return false;
    }
    qint64 before = std::numeric_limits<qint64>::max();
    for (;;) {
        const QVector<RunWithSteps> page = record.pageWithSteps(before, kExportPageRuns, error);
        if (!error->isEmpty()) {
            file.cancelWriting();
            file.commit();
            return false;
        }
        if (file.write(runsCsvRows(page)) < 0)
            break;
        *runs += page.size();
        if (page.size() < kExportPageRuns) {
            if (file.commit())
                return true;
            break;
        }
        before = page.last().run.id;
    }
    *error = QStringLiteral("无法保存 %1：%2").arg(name, file.errorString());
    return false;
}

} // namespace

Journal &MainWindow::journal()
{
    // An unusable [journal] section is said by every press it refuses.
    if (!m_journal)
        m_journal = std::make_unique<Journal>(JournalOptions::fromConfig());
    return *m_journal;
}

void MainWindow::on_actionExportRecord_triggered()
{
    exportRecord();
}

void MainWindow::exportRecord()
{
    QString error;
    QVector<JournalRow> rows
        = journal().page(QString(), std::numeric_limits<qint64>::max(), kExportPageRows, &error);
    if (!error.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("导出记录"), error);
        return;
    }
    const QString name = QFileDialog::getSaveFileName(
        this, QStringLiteral("导出记录"),
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
            + QStringLiteral("/生产记录.csv"),
        QStringLiteral("CSV 文件 (*.csv)"));
    if (name.isEmpty())
        return;
    // Written beside the target and renamed over it: a half-written export
    // never replaces a good one. A page at a time: a record of a million
    // rows never sits in memory whole.
    QSaveFile file(name);
    qint64 count = 0;
    bool written = file.open(QIODevice::WriteOnly) && file.write(journalCsv(rows)) >= 0;
    while (written) {
        count += rows.size();
        if (rows.size() < kExportPageRows)
            break;
        rows = journal().page(QString(), rows.last().id, kExportPageRows, &error);
        if (!error.isEmpty()) {
            file.cancelWriting();
            file.commit();
            QMessageBox::warning(this, QStringLiteral("导出记录"), error);
            return;
        }
        written = file.write(journalCsvRows(rows)) >= 0;
    }
    if (!written || !file.commit()) {
        QMessageBox::warning(this, QStringLiteral("导出记录"),
                             QStringLiteral("无法保存 %1：%2").arg(name, file.errorString()));
        return;
    }
    QString done = QStringLiteral("已导出 %1 条记录到 %2").arg(count).arg(name);
    const QString runsName = runsFileBeside(name);
    qint64 runs = 0;
    if (exportRuns(runRecord(), runsName, &runs, &error))
        done += QStringLiteral("；%1 次测试到 %2").arg(runs).arg(runsName);
    else
        QMessageBox::warning(this, QStringLiteral("导出记录"), error);
    ui->statusbar->showMessage(done);
}

void MainWindow::on_actionRecordWindow_triggered()
{
    if (!m_journalWindow)
        m_journalWindow = new JournalWindow(&journal(), this);
    m_journalWindow->refresh();
    m_journalWindow->show();
    m_journalWindow->raise();
    m_journalWindow->activateWindow();
}

// A new record is a deliberate act: the question names what the bench no
// longer checks against once it is made.
void MainWindow::on_actionNewRecord_triggered()
{
    const QString title = QStringLiteral("新建生产记录");
    Journal &record = journal();
    Journal::Identity identity;
    QString error;
    if (!record.identity(&identity, &error)) {
        QMessageBox::warning(this, title, error);
        return;
    }
    const QString where = record.where();
    if (identity.state == Journal::Identity::InOrder) {
        QMessageBox::information(this, title,
                                 QStringLiteral("生产记录 %1 正常，无需新建。").arg(where));
        return;
    }
    QString lost;
    if (!identity.knownId.isEmpty()) {
        lost
            = QStringLiteral("本工位上次用的记录 %1（最后使用于 %2，本工位在其中的最后一次操作是第 "
                             "%3 条）中写过的MAC地址，此后不再查重：它们可能再次写入别的设备。")
                  .arg(Journal::shortId(identity.knownId),
                       QDateTime::fromMSecsSinceEpoch(identity.knownUsedMs)
                           .toString(QStringLiteral("yyyy-MM-dd hh:mm")))
                  .arg(identity.knownAttempts);
    } else if (identity.state == Journal::Identity::Unfamiliar) {
        lost = QStringLiteral("本工位此前所用另一份记录中写过的MAC地址，在这里不再查重：它们可能"
                              "再次写入别的设备。");
    }
    QString question = identity.storeId.isEmpty()
                           ? QStringLiteral("在 %1 新建一份空的生产记录？").arg(where)
                           : QStringLiteral("改用 %1 中已有的生产记录（记录 %2）？")
                                 .arg(where, Journal::shortId(identity.storeId));
    if (!lost.isEmpty())
        question += QStringLiteral("\n\n将失去：") + lost;
    if (QMessageBox::question(this, title, question, QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No)
        != QMessageBox::Yes)
        return;
    bool made = false;
    if (!record.startNewRecord(&made, &error)) {
        QMessageBox::warning(this, title, error);
        return;
    }
    Journal::Identity now;
    record.identity(&now, &error);
    appendResult((made ? QStringLiteral("已在 %1 新建生产记录（记录 %2）")
                       : QStringLiteral("已改用 %1 中的生产记录（记录 %2）"))
                     .arg(where, Journal::shortId(now.storeId)));
}
