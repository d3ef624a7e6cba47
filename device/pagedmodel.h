#pragma once

// A table of record rows read a page at a time, newest first, as the view
// scrolls to its end: a record of a line's year never comes into memory
// whole. Source::page(filter, beforeId, count, &error) gives the rows with
// an id below beforeId that match filter, newest first.

#include <QAbstractTableModel>
#include <QString>
#include <QVector>

#include <limits>

template<typename Source, typename Filter, typename Row>
class PagedTableModel : public QAbstractTableModel
{
public:
    static constexpr int kPageRows = 200; // a screenful and a little more

    // Starts over with filter: the first page is read at once. False with
    // error() when the record could not be read.
    bool setFilter(const Filter &filter)
    {
        beginResetModel();
        m_filter = filter;
        m_error.clear();
        m_rows = m_source->page(m_filter, std::numeric_limits<qint64>::max(), kPageRows, &m_error);
        m_atEnd = !m_error.isEmpty() || m_rows.size() < kPageRows;
        endResetModel();
        return m_error.isEmpty();
    }
    QString error() const { return m_error; }
    bool atEnd() const { return m_atEnd; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : m_rows.size();
    }
    bool canFetchMore(const QModelIndex &parent) const override
    {
        return !parent.isValid() && !m_atEnd;
    }
    void fetchMore(const QModelIndex &parent) override
    {
        if (parent.isValid() || m_atEnd)
            return;
        QString error;
        const QVector<Row> more = m_source->page(m_filter, m_rows.last().id, kPageRows, &error);
        if (!error.isEmpty()) {
            m_error = error;
            m_atEnd = true;
            return;
        }
        m_atEnd = more.size() < kPageRows;
        if (more.isEmpty())
            return;
        beginInsertRows(QModelIndex(), m_rows.size(), m_rows.size() + more.size() - 1);
        m_rows += more;
        endInsertRows();
    }

protected:
    explicit PagedTableModel(Source *source, QObject *parent)
        : QAbstractTableModel(parent)
        , m_source(source)
    {}
    const QVector<Row> &rows() const { return m_rows; }

private:
    Source *m_source;
    Filter m_filter;
    QVector<Row> m_rows;
    bool m_atEnd = true;
    QString m_error;
};
