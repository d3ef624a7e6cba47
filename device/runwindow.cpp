// The unit runs and the day's yield in the "记录" window.

#include "device/runwindow.h"

#include "device/journalwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <limits>

namespace {

enum RunColumn { Time, Sn, Verdict, Bench, Port, Mac, Plan, Duration, Checks, RunColumnCount };
enum FailureColumn { Number, Section, Check, Failures, FailureColumnCount };

const char kTimeFormat[] = "yyyy-MM-dd hh:mm:ss";
const char kDayFormat[] = "yyyy-MM-dd";

// "模块1 低压脱离值", or the name alone for a step without a module.
QString checkText(int module, const QString &name)
{
    return module >= 0 ? QStringLiteral("模块%1 %2").arg(module).arg(name) : name;
}

QColor outcomeColour(const QString &code)
{
    if (code == QLatin1String(kVerdictFail))
        return QColor(0xc6, 0x28, 0x28);
    if (code == QLatin1String(kVerdictAborted))
        return QColor(0xb4, 0x5f, 0x06);
    return QColor();
}

QDateEdit *dayEdit(const char *name, QWidget *parent)
{
    auto *edit = new QDateEdit(QDate::currentDate(), parent);
    edit->setObjectName(QLatin1String(name));
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QLatin1String(kDayFormat));
    return edit;
}

QTableView *tableView(const char *name, QAbstractItemModel *model, QWidget *parent)
{
    auto *table = new QTableView(parent);
    table->setObjectName(QLatin1String(name));
    table->setModel(model);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

QPushButton *refreshButton(const char *name, QWidget *parent)
{
    auto *button = new QPushButton(QStringLiteral("刷新"), parent);
    button->setObjectName(QLatin1String(name));
    // Enter on a run opens it; in a dialog it would press this button too.
    button->setAutoDefault(false);
    return button;
}

} // namespace

// ---- the runs

RunModel::RunModel(RunRecord *record, QObject *parent)
    : PagedTableModel(record, parent)
{}

int RunModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : RunColumnCount;
}

QVariant RunModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows().size())
        return QVariant();
    const RunRow &row = rows().at(index.row());
    if (role == Qt::ForegroundRole && index.column() == Verdict) {
        const QColor colour = outcomeColour(row.verdict);
        return colour.isValid() ? QVariant(colour) : QVariant();
    }
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case Time:
        return QDateTime::fromMSecsSinceEpoch(row.startMs).toString(QLatin1String(kTimeFormat));
    case Sn:
        return row.sn;
    case Verdict:
        return runOutcomeText(row.verdict);
    case Bench:
        return row.bench;
    case Port:
        return row.port;
    case Mac:
        return row.mac;
    case Plan:
        return row.planName;
    case Duration:
        return QString::number(row.durationMs / 1000.0, 'f', 1);
    case Checks:
        return row.steps;
    default:
        return QVariant();
    }
}

QVariant RunModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QVariant();
    static const char *const titles[RunColumnCount]
        = {"时间", "SN", "结论", "工位", "串口", "MAC", "测试计划", "用时（秒）", "检查项"};
    return section >= 0 && section < RunColumnCount ? QString::fromUtf8(titles[section])
                                                    : QVariant();
}

RunsPane::RunsPane(RunRecord *record, const QString &where, QWidget *parent)
    : QWidget(parent)
    , m_record(record)
    , m_where(where)
    , m_model(new RunModel(record, this))
    , m_sn(new QLineEdit(this))
    , m_verdict(new QComboBox(this))
    , m_onDay(new QCheckBox(QStringLiteral("日期："), this))
    , m_day(dayEdit("dateEdit_runDay", this))
    , m_table(tableView("tableView_runs", m_model, this))
    , m_status(new QLabel(this))
    , m_pause(new QTimer(this))
{
    setObjectName(QStringLiteral("runsPane"));
    m_sn->setObjectName(QStringLiteral("lineEdit_runFilter"));
    m_sn->setPlaceholderText(QStringLiteral("SN 的开头"));
    m_verdict->setObjectName(QStringLiteral("comboBox_runVerdict"));
    m_verdict->addItem(QStringLiteral("全部"), QString());
    for (const char *code : {kVerdictPass, kVerdictFail, kVerdictAborted})
        m_verdict->addItem(runOutcomeText(QLatin1String(code)), QLatin1String(code));
    m_onDay->setObjectName(QStringLiteral("checkBox_runDay"));
    m_day->setEnabled(false);
    auto *reload = refreshButton("pushButton_runRefresh", this);

    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("SN："), this));
    top->addWidget(m_sn, 1);
    top->addWidget(new QLabel(QStringLiteral("结论："), this));
    top->addWidget(m_verdict);
    top->addWidget(m_onDay);
    top->addWidget(m_day);
    top->addWidget(reload);

    const int widths[] = {150, 130, 60, 90, 80, 130, 130, 80};
    for (int c = 0; c < int(sizeof widths / sizeof *widths); ++c)
        m_table->setColumnWidth(c, widths[c]);
    m_table->setToolTip(QStringLiteral("双击或按回车查看该次测试的各检查项"));
    m_status->setObjectName(QStringLiteral("label_runStatus"));

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_status);

    // The serial number is typed or scanned: asked once typing rests. The
    // other choices are made in one go and apply at once.
    m_pause->setObjectName(QStringLiteral("timer_runFilter"));
    m_pause->setSingleShot(true);
    m_pause->setInterval(JournalWindow::kFilterPauseMs);
    connect(m_sn, &QLineEdit::textChanged, m_pause, qOverload<>(&QTimer::start));
    connect(m_pause, &QTimer::timeout, this, &RunsPane::refresh);
    connect(m_sn, &QLineEdit::returnPressed, this, &RunsPane::refresh);
    connect(m_verdict, qOverload<int>(&QComboBox::currentIndexChanged), this, &RunsPane::refresh);
    connect(m_onDay, &QCheckBox::toggled, this, [this](bool on) {
        m_day->setEnabled(on);
        refresh();
    });
    connect(m_day, &QDateEdit::dateChanged, this, &RunsPane::refresh);
    connect(reload, &QPushButton::clicked, this, &RunsPane::refresh);
    connect(m_table, &QTableView::activated, this, &RunsPane::openRun);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &RunsPane::showStatus);
}

RunFilter RunsPane::filter() const
{
    RunFilter f;
    f.sn = m_sn->text().trimmed();
    f.verdict = m_verdict->currentData().toString();
    if (m_onDay->isChecked())
        f.day = m_day->date();
    return f;
}

void RunsPane::refresh()
{
    m_pause->stop();
    m_model->setFilter(filter());
    showStatus();
}

void RunsPane::showStatus()
{
    if (!m_model->error().isEmpty()) {
        m_status->setText(m_model->error());
        return;
    }
    const QString more = m_model->atEnd() ? QString() : QStringLiteral("（向下滚动载入更多）");
    m_status->setText(
        QStringLiteral("%1 次测试%2 · %3").arg(m_model->rowCount()).arg(more, m_where));
}

void RunsPane::openRun(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    const RunRow run = m_model->run(index.row());
    if (!m_steps) {
        m_steps = new QDialog(this);
        m_steps->setObjectName(QStringLiteral("dialog_runSteps"));
        m_steps->resize(960, 480);
        m_stepsTitle = new QLabel(m_steps);
        m_stepsTitle->setObjectName(QStringLiteral("label_runSteps"));
        m_stepsTitle->setWordWrap(true);
        m_stepsTitle->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_stepsTable = new QTableWidget(m_steps);
        m_stepsTable->setObjectName(QStringLiteral("tableWidget_runSteps"));
        m_stepsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_stepsTable->setSelectionBehavior(QAbstractItemView::SelectRows);
        m_stepsTable->verticalHeader()->setVisible(false);
        m_stepsTable->horizontalHeader()->setStretchLastSection(true);
        m_stepsTable->setColumnCount(8);
        m_stepsTable->setHorizontalHeaderLabels(
            {"序号", "步骤", "类型", "检查项", "测量值", "限值", "结果", "说明"});
        const int widths[] = {50, 70, 70, 170, 150, 110, 60};
        for (int c = 0; c < int(sizeof widths / sizeof *widths); ++c)
            m_stepsTable->setColumnWidth(c, widths[c]);
        auto *layout = new QVBoxLayout(m_steps);
        layout->addWidget(m_stepsTitle);
        layout->addWidget(m_stepsTable, 1);
    }
    m_steps->setWindowTitle(QStringLiteral("测试 %1 · SN %2").arg(run.id).arg(run.sn));
    QString title
        = QStringLiteral("SN %1 · %2 · %3 · 工位 %4 · 串口 %5 · 用时 %6 秒")
              .arg(run.sn, runOutcomeText(run.verdict),
                   QDateTime::fromMSecsSinceEpoch(run.startMs).toString(QLatin1String(kTimeFormat)),
                   run.bench, run.port, QString::number(run.durationMs / 1000.0, 'f', 1));
    title += QStringLiteral("\n测试计划 %1（SHA-256 %2）").arg(run.planName, run.planSha256);
    if (!run.mac.isEmpty())
        title += QStringLiteral(" · MAC %1").arg(run.mac);

    QString error;
    const QVector<RunStepRow> steps = m_record->steps(run.id, &error);
    if (!error.isEmpty())
        title += QStringLiteral("\n") + error;
    m_stepsTitle->setText(title);
    m_stepsTable->setRowCount(steps.size());
    for (int r = 0; r < steps.size(); ++r) {
        const RunStepRow &s = steps.at(r);
        const QStringList cells{QString::number(s.number),   s.section,  runStepTypeText(s.type),
                                checkText(s.module, s.name), s.measured, s.limits,
                                runOutcomeText(s.outcome),   s.detail};
        for (int c = 0; c < cells.size(); ++c) {
            auto *item = new QTableWidgetItem(cells.at(c));
            const QColor colour = outcomeColour(s.outcome);
            if (c == 6 && colour.isValid())
                item->setForeground(colour);
            m_stepsTable->setItem(r, c, item);
        }
    }
    m_steps->show();
    m_steps->raise();
    m_steps->activateWindow();
}

// ---- the yield

void StepFailureModel::setSteps(const QVector<DayYield::Step> &steps)
{
    beginResetModel();
    m_steps = steps;
    m_most = 0;
    for (const DayYield::Step &s : steps)
        m_most = qMax(m_most, s.failures);
    endResetModel();
}

int StepFailureModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_steps.size();
}

int StepFailureModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : FailureColumnCount;
}

QVariant StepFailureModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_steps.size())
        return QVariant();
    const DayYield::Step &s = m_steps.at(index.row());
    if (role == kShareRole && index.column() == Failures)
        return m_most > 0 ? double(s.failures) / m_most : 0.0;
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case Number:
        return s.number;
    case Section:
        return s.section;
    case Check:
        return checkText(s.module, s.name);
    case Failures:
        return s.failures;
    default:
        return QVariant();
    }
}

QVariant StepFailureModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QVariant();
    static const char *const titles[FailureColumnCount] = {"序号", "步骤", "检查项", "不合格次数"};
    return section >= 0 && section < FailureColumnCount ? QString::fromUtf8(titles[section])
                                                        : QVariant();
}

void ShareBarDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString number = opt.text;
    opt.text.clear();
    // The cell's background and selection as the style draws them, then the
    // bar, then the number after it.
    QStyle *style = opt.widget ? opt.widget->style() : nullptr;
    if (style)
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
    const QRect area = opt.rect.adjusted(4, 3, -4, -3);
    const int numberWidth = opt.fontMetrics.boundingRect(number).width() + 8;
    const double share = qBound(0.0, index.data(StepFailureModel::kShareRole).toDouble(), 1.0);
    const int barWidth = qMax(share > 0 ? 2 : 0, int((area.width() - numberWidth) * share));
    painter->save();
    painter->fillRect(QRect(area.left(), area.top(), barWidth, area.height()),
                      QColor(0xc6, 0x28, 0x28));
    painter->setPen(opt.palette.color(opt.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                                         : QPalette::Text));
    painter->drawText(area.adjusted(barWidth + 4, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                      number);
    painter->restore();
}

YieldPane::YieldPane(RunRecord *record, const QString &where, QWidget *parent)
    : QWidget(parent)
    , m_record(record)
    , m_where(where)
    , m_day(dayEdit("dateEdit_yieldDay", this))
    , m_bench(new QComboBox(this))
    , m_summary(new QLabel(this))
    , m_model(new StepFailureModel(this))
    , m_table(tableView("tableView_yieldSteps", m_model, this))
    , m_status(new QLabel(this))
{
    setObjectName(QStringLiteral("yieldPane"));
    m_bench->setObjectName(QStringLiteral("comboBox_yieldBench"));
    m_bench->setMinimumContentsLength(12);
    m_bench->addItem(QStringLiteral("全部工位"), QString());
    auto *reload = refreshButton("pushButton_yieldRefresh", this);
    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("日期："), this));
    top->addWidget(m_day);
    top->addWidget(new QLabel(QStringLiteral("工位："), this));
    top->addWidget(m_bench);
    top->addStretch(1);
    top->addWidget(reload);

    m_summary->setObjectName(QStringLiteral("label_yieldSummary"));
    QFont large = m_summary->font();
    large.setPointSizeF(large.pointSizeF() * 1.4);
    large.setBold(true);
    m_summary->setFont(large);
    m_table->setItemDelegateForColumn(Failures, new ShareBarDelegate(m_table));
    const int widths[] = {50, 80, 220};
    for (int c = 0; c < int(sizeof widths / sizeof *widths); ++c)
        m_table->setColumnWidth(c, widths[c]);
    m_status->setObjectName(QStringLiteral("label_yieldStatus"));

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_summary);
    layout->addWidget(new QLabel(QStringLiteral("当日各检查项不合格次数："), this));
    layout->addWidget(m_table, 1);
    layout->addWidget(m_status);

    connect(m_day, &QDateEdit::dateChanged, this, &YieldPane::refresh);
    connect(m_bench, qOverload<int>(&QComboBox::activated), this, &YieldPane::refresh);
    connect(reload, &QPushButton::clicked, this, &YieldPane::refresh);
}

// The benches that ran on the day, and the one chosen even if it did not.
void YieldPane::listBenches()
{
    const QString chosen = m_bench->currentData().toString();
    QString error;
    QStringList benches = m_record->benches(m_day->date(), &error);
    if (!chosen.isEmpty() && !benches.contains(chosen))
        benches << chosen;
    m_bench->clear();
    m_bench->addItem(QStringLiteral("全部工位"), QString());
    for (const QString &bench : qAsConst(benches))
        m_bench->addItem(bench, bench);
    m_bench->setCurrentIndex(qMax(0, m_bench->findData(chosen)));
}

void YieldPane::refresh()
{
    listBenches();
    DayYield yield;
    QString error;
    if (!m_record->yield(m_day->date(), m_bench->currentData().toString(), &yield, &error)) {
        m_summary->clear();
        m_model->setSteps({});
        m_status->setText(error);
        return;
    }
    const QString share
        = yield.units > 0
              ? QStringLiteral("%1%").arg(100.0 * yield.firstPass / yield.units, 0, 'f', 1)
              : QStringLiteral("—");
    m_summary->setText(QStringLiteral("受测 %1 台（测试 %2 次） · 一次合格 %3 台 · 一次合格率 %4")
                           .arg(yield.units)
                           .arg(yield.runs)
                           .arg(yield.firstPass)
                           .arg(share));
    m_model->setSteps(yield.steps);
    m_status->setText(
        QStringLiteral("一次合格：该 SN 在记录中的第一次测试即合格 · %1").arg(m_where));
}
