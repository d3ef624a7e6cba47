#pragma once

// The provisioning record's SQL, for device/journal.cpp alone: a connection
// used only on the thread that holds it, the record's identity and tables,
// the claim of an address, and the pages of the record window. Qt Core and
// Sql only.

#include "device/journal.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

// A null string binds as SQL NULL; the record keeps "" for "none".
QVariant journalText(const QString &s);
// A record's identity, and the token that finds an attempt's row again.
QString randomJournalId();

// Opens connection name to the store with the record's time limit on both
// sides where the server has one: for the worker and Journal::database() alike.
bool openJournalConnection(const JournalOptions &options, const QString &name, QString *why);

// An outcome that the record could not take when it was known.
struct KeptOutcome
{
    qint64 id = 0;
    QString result;
    QString detail;
    QString mac;
};

// A claim whose answer never came back in time: it may have been committed
// after the press was refused, and must then be given back.
struct Unanswered
{
    QString token;
    bool stillRunning = false; // the thread that sent it may still commit it
};

struct Attempt
{
    QString operation;
    qint64 timeMs = 0;
    QString bench;
    QString port;
    QString sn;
    QString mac;
    QString token; // finds the row again should its answer come too late
};

// ---- the record's connection, used on its worker thread only
class JournalSession
{
public:
    JournalSession(const JournalOptions &options, const QString &connection)
        : m_o(options)
        , m_connection(connection)
    {}

    bool sqlite() const { return m_o.driver == JournalOptions::Sqlite; }
    QSqlDatabase db() const { return QSqlDatabase::database(m_connection, false); }
    QString where() const;
    QString failText(const QString &what, const QString &why) const
    {
        return QStringLiteral("%1失败（%2）：%3").arg(what, where(), why.trimmed());
    }

    bool open(QString *why);
    void drop();
    bool exec(const QString &sql, QString *why);

    struct Found
    {
        bool attempts = false; // the record's tables are there
        QString id;            // its identity, "" when it has none
    };
    bool look(Found *found, QString *why);

    // Opens the store and checks that it holds the record this bench knows;
    // an empty store becomes a record only on the bench's first start or when
    // allowCreate. *storeId is the record's id, *made whether it was made now.
    bool ready(const QString &knownId, bool anyKnown, bool allowCreate, QString *storeId,
               bool *made, QString *error);

    bool beginTransaction(QString *why)
    {
        // IMMEDIATE: the file's write lock is taken (or waited for) at once, so
        // two processes never deadlock on upgrading a read lock.
        return exec(sqlite() ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"), why);
    }
    void rollback()
    {
        QString ignored;
        exec(QStringLiteral("ROLLBACK"), &ignored);
    }
    bool writeOutcome(qint64 id, const QString &result, const QString &detail, const QString &mac,
                      QString *why);

    const JournalOptions &options() const { return m_o; }

private:
    bool ensureSchema(QString *why);
    bool giveIdentity(QString *id, QString *why);

    JournalOptions m_o;
    QString m_connection;
    bool m_open = false;
    bool m_schemaChecked = false;
    QString m_verifiedId; // the record's id as found in order on this connection
};

// A claim given back: its press was refused before anything was sent.
bool settleUnanswered(JournalSession &s, qint64 attempt, QString *why);
// What earlier presses left, written in one transaction before any new claim:
// outcomes known but not written, and claims whose answer came too late.
// *settled gets the tokens done with.
bool catchUpOnRecord(JournalSession &s, const QVector<KeptOutcome> &kept,
                     const QVector<Unanswered> &unanswered, QStringList *settled, QString *why);
// Inside the caller's transaction: the attempt's row and, for a MAC write,
// the unit's check and the address's claim; a refusal goes on the row. False
// only on a database error.
bool recordAttempt(JournalSession &s, const Attempt &a, const QVector<Unanswered> &unanswered,
                   Journal::Start *start, QStringList *settled, QString *why);

// The columns of a JournalRow, in its order, and the rows a query gives.
extern const char kJournalRowColumns[];
bool readJournalRows(QSqlQuery &query, QVector<JournalRow> *rows);
// A page of the rows that filter finds, newest first, below beforeId.
bool filteredPage(JournalSession &s, const QString &filter, qint64 beforeId, int limit,
                  QVector<JournalRow> *rows, QString *why);
