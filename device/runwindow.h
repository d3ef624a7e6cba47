#pragma once

// The unit runs in the "记录" window (device/journalwindow.h): a tab of runs
// newest first, narrowed by serial number, verdict and day in the database,
// fetched a page at a time as the table scrolls, each run opened to show its
// steps; and a tab with a day's yield at a glance, per bench or for all:
// units tested, first-pass yield, and the steps that failed, most first,
// each with a bar. Every figure is the database's (device/runrecord.h).

#include "device/pagedmodel.h"
#include "device/runrecord.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QDialog;
class QLabel;
class QLineEdit;
class QTableView;
class QTableWidget;
class QTimer;

class RunModel : public PagedTableModel<RunRecord, RunFilter, RunRow>
{
public:
    explicit RunModel(RunRecord *record, QObject *parent = nullptr);

    RunRow run(int row) const { return rows().value(row); }

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
};

// The steps that failed on a day, most failures first.
class StepFailureModel : public QAbstractTableModel
{
public:
    // The failures of a row against the most of any row, 0 to 1: the
    // length of the row's bar.
    static constexpr int kShareRole = Qt::UserRole;

    using QAbstractTableModel::QAbstractTableModel;

    void setSteps(const QVector<DayYield::Step> &steps);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QVector<DayYield::Step> m_steps;
    int m_most = 0;
};

// A cell's number with a bar as long as its share (StepFailureModel::kShareRole).
class ShareBarDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
};

class RunsPane : public QWidget
{
    Q_OBJECT

public:
    RunsPane(RunRecord *record, const QString &where, QWidget *parent = nullptr);

    void refresh();

private:
    RunFilter filter() const;
    void openRun(const QModelIndex &index);
    void showStatus();

    RunRecord *m_record;
    QString m_where;
    RunModel *m_model;
    QLineEdit *m_sn;
    QComboBox *m_verdict;
    QCheckBox *m_onDay;
    QDateEdit *m_day;
    QTableView *m_table;
    QLabel *m_status;
    QTimer *m_pause;
    // A run's steps, made when first opened.
    QDialog *m_steps = nullptr;
    QLabel *m_stepsTitle = nullptr;
    QTableWidget *m_stepsTable = nullptr;
};

class YieldPane : public QWidget
{
    Q_OBJECT

public:
    YieldPane(RunRecord *record, const QString &where, QWidget *parent = nullptr);

    void refresh();

private:
    void listBenches();

    RunRecord *m_record;
    QString m_where;
    QDateEdit *m_day;
    QComboBox *m_bench;
    QLabel *m_summary;
    StepFailureModel *m_model;
    QTableView *m_table;
    QLabel *m_status;
};
