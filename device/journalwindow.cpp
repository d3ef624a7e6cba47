// The "记录" window over the provisioning record.

#include "device/journalwindow.h"

#include "device/journal.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

JournalWindow::JournalWindow(Journal *journal, QWidget *parent)
    : QDialog(parent)
    , m_journal(journal)
    , m_filter(new QLineEdit(this))
    , m_table(new QTableWidget(this))
    , m_status(new QLabel(this))
{
    setObjectName(QStringLiteral("journalWindow"));
    setWindowTitle(QStringLiteral("记录"));
    resize(1000, 600);

    m_filter->setObjectName(QStringLiteral("lineEdit_recordFilter"));
    m_filter->setPlaceholderText(QStringLiteral("按SN或MAC地址筛选"));
    auto *reload = new QPushButton(QStringLiteral("刷新"), this);
    reload->setObjectName(QStringLiteral("pushButton_recordRefresh"));
    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("筛选："), this));
    top->addWidget(m_filter, 1);
    top->addWidget(reload);

    m_table->setObjectName(QStringLiteral("tableWidget_record"));
    m_table->setColumnCount(8);
    m_table->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("工位"),
                                        QStringLiteral("串口"), QStringLiteral("SN"),
                                        QStringLiteral("操作"), QStringLiteral("MAC"),
                                        QStringLiteral("结果"), QStringLiteral("说明")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setStretchLastSection(true);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_status);

    connect(m_filter, &QLineEdit::textChanged, this, &JournalWindow::refresh);
    connect(reload, &QPushButton::clicked, this, &JournalWindow::refresh);
}

void JournalWindow::refresh()
{
    QString error;
    const QVector<JournalRow> rows = m_journal->rows(m_filter->text().trimmed(), &error);
    m_table->setRowCount(0);
    if (!error.isEmpty()) {
        m_status->setText(error);
        return;
    }
    m_table->setRowCount(rows.size());
    for (int r = 0; r < rows.size(); ++r) {
        const JournalRow &row = rows.at(r);
        const QStringList cells{QDateTime::fromMSecsSinceEpoch(row.timeMs)
                                    .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")),
                                row.bench,
                                row.port,
                                row.sn,
                                operationText(row.operation),
                                row.mac,
                                resultText(row.result),
                                row.detail};
        for (int c = 0; c < cells.size(); ++c)
            m_table->setItem(r, c, new QTableWidgetItem(cells.at(c)));
    }
    m_table->resizeColumnsToContents();
    m_status->setText(QStringLiteral("%1 条 · %2").arg(rows.size()).arg(m_journal->where()));
}
