#pragma once

// The "记录" window: the provisioning record newest first, narrowed to the
// rows whose serial number or address matches the filter. Rows come from the
// record a page at a time as the table scrolls, and the filter is applied by
// the database a moment after the engineer stops typing: a record of a
// million rows opens and filters as fast as one of a hundred. Beside it, in
// tabs of their own, the unit runs of the test plan and the day's yield
// (device/runwindow.h).

#include "device/journal.h"
#include "device/pagedmodel.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QVector>

#include <memory>

class QLabel;
class QLineEdit;
class QTableView;
class QTabWidget;
class QTimer;
class RunRecord;
class RunsPane;
class YieldPane;

class JournalModel : public PagedTableModel<Journal, QString, JournalRow>
{
public:
    explicit JournalModel(Journal *journal, QObject *parent = nullptr);

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
};

class JournalWindow : public QDialog
{
    Q_OBJECT

public:
    // How long the filter waits after the last key before it asks the record.
    static constexpr int kFilterPauseMs = 300;

    JournalWindow(Journal *journal, QWidget *parent = nullptr);
    ~JournalWindow() override;

    // The provisioning record read again, and the tab in view.
    void refresh();

private:
    void showStatus();
    void refreshTab(int index);

    Journal *m_journal;
    std::unique_ptr<RunRecord> m_runs; // the unit runs, in the same store
    JournalModel *m_model;
    QLineEdit *m_filter;
    QTableView *m_table;
    QLabel *m_status;
    QTimer *m_pause;
    QTabWidget *m_tabs;
    RunsPane *m_runsPane;
    YieldPane *m_yieldPane;
    // Tabs read since the last refresh(): the others are read when shown.
    QVector<bool> m_tabFresh;
};
