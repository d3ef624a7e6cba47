#pragma once

// The provisioning record: every MAC write, MAC read and factory reset, kept
// in an SQL database (an SQLite file on this bench, or one PostgreSQL server
// for a line of benches). It also holds which address went to which unit, and
// hands an address out to one serial number only: the database's unique key
// decides, so two benches racing for one address cannot both get it.
// Qt Core and Sql only; the window and a test use it alike.

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

struct JournalOptions
{
    enum Driver { Sqlite, Postgres };
    Driver driver = Sqlite;
    QString path; // SQLite: the database file
    QString host; // PostgreSQL: host name or the folder of its Unix socket
    int port = 5432;
    QString database; // PostgreSQL
    QString user;     // PostgreSQL; the password comes from ~/.pgpass, never from config.ini
    QString bench;    // the name recorded for this bench
    int connectTimeoutS = 3;

    // The [journal] section of config.ini; without one, the SQLite file in
    // the user's application-data folder and the host name as bench name.
    // A key that makes no sense leaves its message in *error.
    static JournalOptions fromConfig(QString *error);
    static QString defaultSqlitePath();
};

struct JournalRow
{
    qint64 id = 0;
    qint64 timeMs = 0;
    QString bench;
    QString port;
    QString sn;
    QString operation; // kOpWriteMac, kOpReadMac, kOpFactoryReset
    QString mac;
    QString result; // the kResult… codes
    QString detail; // in words, as the result window said it
};

// What the record keeps of each operation and outcome.
extern const char kOpWriteMac[];
extern const char kOpReadMac[];
extern const char kOpFactoryReset[];
extern const char kResultPending[];  // sent, outcome not known yet (a crash leaves it)
extern const char kResultVerified[]; // written and read back equal
extern const char kResultReadBackFailed[];
extern const char kResultNoReply[];
extern const char kResultBadReply[];    // no packet, bad checksum, cut short
extern const char kResultDeviceError[]; // the unit's return code
extern const char kResultRefused[];     // not sent: the address belongs to another unit
extern const char kResultOk[];          // a read or reset that was answered
extern const char kResultNotSent[];     // the operation ended before the packet went out
extern const char kResultAborted[];     // sent, then the port or the window went: outcome unknown

// The canonical text of six address bytes: "00:39:28:90:00:FF".
QString macText(const unsigned char bytes[6]);

class Journal
{
public:
    explicit Journal(const JournalOptions &options);
    ~Journal();
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    const JournalOptions &options() const { return m_options; }
    // "SQLite /path/file.db" or "PostgreSQL db@host:port", for messages.
    QString where() const;

    struct Start
    {
        qint64 id = 0;      // the attempt's row, to be finished; 0 when none was written
        QString error;      // the record could not be written: nothing may be sent
        bool taken = false; // the address is another unit's: refused and recorded as such
        QString takenSn;    // who has it ("" when it was written without a serial number)
        qint64 takenMs = 0; // and since when
    };
    // Records an operation as started, committed before it returns. For a
    // MAC write the address is claimed for sn in the same transaction; an
    // address that another serial number (or none) holds is refused.
    Start begin(const QString &operation, qint64 timeMs, const QString &port, const QString &sn,
                const QString &mac);
    // The outcome of a started operation, committed before it returns; mac
    // replaces the row's address when not empty (what a read found). A MAC
    // write that ended as kResultNotSent gives back the address it claimed:
    // no unit can hold an address that never went out.
    bool finish(qint64 id, const QString &result, const QString &detail, const QString &mac,
                QString *error);

    // The whole record, newest first; rows whose serial number or address
    // contains filter (any case) when it is not empty.
    QVector<JournalRow> rows(const QString &filter, QString *error);

    // The open connection, for the other records kept in the same database
    // (device/runrecord.h); invalid, with the reason in *error, when the
    // database cannot be reached.
    QSqlDatabase database(QString *error);

private:
    bool ensureOpen(QString *error);
    bool exec(const QString &sql, QString *error);
    void dropConnection();
    QString failText(const QString &what, const QString &why) const;

    JournalOptions m_options;
    QString m_connection; // the name of this object's database connection
    bool m_open = false;
};

// "MAC 00:39:28:90:00:05 已于 2026-12-07 10:00:00 写入 SN PDU01，未写入" ("无" for no SN).
QString macTakenText(const QString &mac, qint64 timeMs, const QString &sn);

// The rows as CSV with a UTF-8 byte-order mark (spreadsheet programs then
// read the Chinese right) and a header row; fields quoted where needed.
QByteArray journalCsv(const QVector<JournalRow> &rows);
// The operation and result codes in the words the record window shows.
QString operationText(const QString &operation);
QString resultText(const QString &result);
