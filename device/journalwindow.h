#pragma once

// The "记录" window: the provisioning record as a table, newest first,
// narrowed to the rows whose serial number or address holds the filter text.

#include <QDialog>

class Journal;
class QLabel;
class QLineEdit;
class QTableWidget;

class JournalWindow : public QDialog
{
    Q_OBJECT

public:
    JournalWindow(Journal *journal, QWidget *parent = nullptr);

    void refresh();

private:
    Journal *m_journal;
    QLineEdit *m_filter;
    QTableWidget *m_table;
    QLabel *m_status;
};
