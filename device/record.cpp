// The provisioning record in the window: where it is kept, its export and
// the window that shows it.

#include "app/mainwindow.h"
#include "device/journal.h"
#include "device/journalwindow.h"
#include "ui_mainwindow.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QSaveFile>
#include <QStandardPaths>

Journal &MainWindow::journal()
{
    if (!m_journal) {
        QString problem;
        m_journal = std::make_unique<Journal>(JournalOptions::fromConfig(&problem));
        if (!problem.isEmpty())
            appendResult(problem);
    }
    return *m_journal;
}

void MainWindow::on_actionExportRecord_triggered()
{
    QString error;
    const QVector<JournalRow> rows = journal().rows(QString(), &error);
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
    // never replaces a good one.
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly) || file.write(journalCsv(rows)) < 0 || !file.commit()) {
        QMessageBox::warning(this, QStringLiteral("导出记录"),
                             QStringLiteral("无法保存 %1：%2").arg(name, file.errorString()));
        return;
    }
    ui->statusbar->showMessage(QStringLiteral("已导出 %1 条记录到 %2").arg(rows.size()).arg(name));
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
