// The "记录" window over the provisioning record.

#include "device/journalwindow.h"

#include "device/runrecord.h"
#include "device/runwindow.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <limits>

namespace {

enum Column { Time, Bench, Port, Sn, Operation, Mac, Result, Detail, ColumnCount };

} // namespace

JournalModel::JournalModel(Journal *journal, QObject *parent)
    : PagedTableModel(journal, parent)
{}

int JournalModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant JournalModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rows().size())
        return QVariant();
    const JournalRow &row = rows().at(index.row());
    switch (index.column()) {
    case Time:
        return QDateTime::fromMSecsSinceEpoch(row.timeMs)
            .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    case Bench:
        return row.bench;
    case Port:
        return row.port;
    case Sn:
        return row.sn;
    case Operation:
        return operationText(row.operation);
    case Mac:
        return row.mac;
    case Result:
        return resultText(row.result);
    case Detail:
        return row.detail;
    default:
        return QVariant();
    }
}

QVariant JournalModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QVariant();
    static const char *const titles[ColumnCount]
        = {"时间", "工位", "串口", "SN", "操作", "MAC", "结果", "说明"};
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(titles[section]) : QVariant();
}

JournalWindow::JournalWindow(Journal *journal, QWidget *parent)
    : QDialog(parent)
    , m_journal(journal)
    , m_model(new JournalModel(journal, this))
    , m_filter(new QLineEdit(this))
    , m_table(new QTableView(this))
    , m_status(new QLabel(this))
    , m_pause(new QTimer(this))
    , m_tabs(new QTabWidget(this))
{
    setObjectName(QStringLiteral("journalWindow"));
    setWindowTitle(QStringLiteral("记录"));
    resize(1000, 600);

    m_filter->setObjectName(QStringLiteral("lineEdit_recordFilter"));
    m_filter->setPlaceholderText(QStringLiteral("SN 的开头，或 MAC 地址的开头或结尾"));
    auto *reload = new QPushButton(QStringLiteral("刷新"), this);
    reload->setObjectName(QStringLiteral("pushButton_recordRefresh"));
    // Enter in a table of runs opens the run, not this button.
    reload->setAutoDefault(false);
    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("筛选："), this));
    top->addWidget(m_filter, 1);
    top->addWidget(reload);

    m_table->setObjectName(QStringLiteral("tableView_record"));
    m_table->setModel(m_model);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->setVisible(false);
    // Widths fixed once: measuring every row of a long record is what froze it.
    m_table->horizontalHeader()->setStretchLastSection(true);
    const int widths[] = {170, 90, 80, 130, 90, 130, 120};
    for (int c = 0; c < int(sizeof widths / sizeof *widths); ++c)
        m_table->setColumnWidth(c, widths[c]);
    m_status->setObjectName(QStringLiteral("label_recordStatus"));

    auto *macs = new QWidget(this);
    auto *layout = new QVBoxLayout(macs);
    layout->addLayout(top);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_status);
    m_runs = std::make_unique<RunRecord>(*journal);
    m_runsPane = new RunsPane(m_runs.get(), journal->where(), this);
    m_yieldPane = new YieldPane(m_runs.get(), journal->where(), this);
    m_tabs->setObjectName(QStringLiteral("tabWidget_record"));
    m_tabs->addTab(macs, QStringLiteral("MAC记录"));
    m_tabs->addTab(m_runsPane, QStringLiteral("测试记录"));
    m_tabs->addTab(m_yieldPane, QStringLiteral("良率"));
    m_tabFresh.fill(false, m_tabs->count());
    auto *window = new QVBoxLayout(this);
    window->addWidget(m_tabs);
    connect(m_tabs, &QTabWidget::currentChanged, this, &JournalWindow::refreshTab);

    // A scanner types a label in a few milliseconds, a person a key every
    // tenth of a second or so: the record is asked once typing rests.
    m_pause->setObjectName(QStringLiteral("timer_recordFilter"));
    m_pause->setSingleShot(true);
    m_pause->setInterval(kFilterPauseMs);
    connect(m_filter, &QLineEdit::textChanged, m_pause, qOverload<>(&QTimer::start));
    connect(m_pause, &QTimer::timeout, this, &JournalWindow::refresh);
    connect(m_filter, &QLineEdit::returnPressed, this, &JournalWindow::refresh);
    connect(reload, &QPushButton::clicked, this, &JournalWindow::refresh);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &JournalWindow::showStatus);
}

JournalWindow::~JournalWindow() = default;

void JournalWindow::refresh()
{
    m_pause->stop();
    m_model->setFilter(m_filter->text());
    showStatus();
    m_tabFresh.fill(false);
    m_tabFresh[0] = true;
    refreshTab(m_tabs->currentIndex());
}

void JournalWindow::refreshTab(int index)
{
    if (index < 0 || index >= m_tabFresh.size() || m_tabFresh.at(index))
        return;
    m_tabFresh[index] = true;
    if (m_tabs->widget(index) == m_runsPane)
        m_runsPane->refresh();
    else if (m_tabs->widget(index) == m_yieldPane)
        m_yieldPane->refresh();
}

void JournalWindow::showStatus()
{
    if (!m_model->error().isEmpty()) {
        m_status->setText(m_model->error());
        return;
    }
    const QString more = m_model->atEnd() ? QString() : QStringLiteral("（向下滚动载入更多）");
    m_status->setText(
        QStringLiteral("%1 条%2 · %3").arg(m_model->rowCount()).arg(more, m_journal->where()));
}
