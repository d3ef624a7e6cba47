#pragma once

// The provisioning record: every MAC write, MAC read and factory reset, kept
// in an SQL database (an SQLite file on this bench, or one PostgreSQL server
// for a line of benches). It also holds which address went to which unit, and
// hands an address out to one serial number only: the database's unique key
// decides, so two benches racing for one address cannot both get it.
//
// Whatever happens, the record either knows or refuses to work:
// - it has an identity, a random id stored in it when it is made; this bench
//   remembers the id of the record it last used in each store (its own
//   settings file), and a store that is missing, emptied or holds another
//   record refuses writes until the engineer deliberately starts a new one;
// - every statement runs on a thread of its own under a time limit, so a
//   server that hangs refuses the press instead of holding the window;
// - an outcome that could not be written is kept in the bench's settings
//   and written before anything else once the record can be written again.
// Qt Core and Sql only; the window, a test plan and a test use it alike.

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <functional>
#include <memory>

class JournalSession; // the record's connection, on the thread that holds it

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
    // The longest the record may take over one step of an operation; the
    // server is told the same limit for each statement.
    int timeLimitS = 5;
    // This bench's own settings: which record it last used in each store, and
    // outcomes waiting to be written.
    QString benchSettings;
    // A [journal] setting that cannot be used, naming its key: nothing is
    // written then, and nothing falls back to another store.
    QString problem;

    // The [journal] section of config.ini; without one, the SQLite file in
    // the user's application-data folder and the host name as bench name.
    static JournalOptions fromConfig();
    static QString defaultSqlitePath();
    static QString defaultBenchSettings();
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
extern const char kResultRefused[];     // not sent: the address or the unit is taken
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
        bool taken = false; // refused: the address is another unit's, or the unit has another
        QString refusal;    // the line that refuses it, as the record keeps it
        QString takenSn;    // who has the address ("" when written without a serial number)
        qint64 takenMs = 0; // and since when
        // Lines to show before the operation's own: outcomes written late, a
        // unit written again.
        QStringList notes;
    };
    // Records an operation as started, committed before it returns. Outcomes
    // kept from earlier presses are written first. For a MAC write the
    // address is claimed for sn in the same transaction: an address that
    // another serial number (or none) holds is refused, and so is a serial
    // number that already has another verified address.
    Start begin(const QString &operation, qint64 timeMs, const QString &port, const QString &sn,
                const QString &mac);
    // The outcome of a started operation, committed before it returns; mac
    // replaces the row's address when not empty (what a read found). A MAC
    // write that ended as kResultNotSent gives back the address it claimed:
    // no unit can hold an address that never went out. When the record cannot
    // be written the outcome is kept on this bench and written before the
    // next claim; false then, with *error saying why.
    bool finish(qint64 id, const QString &result, const QString &detail, const QString &mac,
                QString *error);
    // Outcomes known but not yet in the record.
    int keptOutcomes() const;

    // Rows newest first, those with id below beforeId, at most limit; with a
    // filter, rows whose serial number begins with it (any case), or whose
    // address begins or ends with its hexadecimal digits (':' and '-' aside).
    // Each condition is an index of the record, so a page costs the same at
    // a million rows as at a hundred.
    QVector<JournalRow> page(const QString &filter, qint64 beforeId, int limit, QString *error);
    // Every matching row, newest first (a page at a time).
    QVector<JournalRow> rows(const QString &filter, QString *error);

    // Where this bench stands with the store it is set to.
    struct Identity
    {
        enum State {
            InOrder,    // the record this bench knows, or one it may take up as it is
            FirstStart, // nothing there and this bench knows no record: made at the first write
            Emptied,    // the record this bench used is missing or empty
            Replaced,   // the store holds another record than the one this bench used
            Unfamiliar  // nothing there, while this bench used another store before
        };
        State state = InOrder;
        QString storeId;    // the record in the store ("" when none)
        QString knownId;    // the record this bench used there last ("" when none)
        QString knownWhere; // for Unfamiliar: the store this bench used last
        qint64 knownUsedMs = 0;
        qint64 knownAttempts = 0; // the last attempt this bench wrote there
    };
    bool identity(Identity *out, QString *error);
    // 文件 → 新建生产记录…: takes up the record in the store, or makes an
    // empty one where there is none. Outcomes kept for the old record are
    // dropped. *made says which it was.
    bool startNewRecord(bool *made, QString *error);
    // "3f2a…" for messages: the first characters of a record's id.
    static QString shortId(const QString &id);

    // For code that keeps tables of its own beside the record (a test plan):
    // job runs on the record's own connection, after its identity is checked,
    // under the record's time limit. False with *error when the record cannot
    // be used or the job failed or took too long.
    bool run(const std::function<bool(QSqlDatabase &db, QString *error)> &job, QString *error);
    // A connection to the same store for the calling thread, opened with the
    // same options (the server's own statement limit and keep-alives, but no
    // limit of the caller's own: prefer run() where a hung server must not
    // hold the caller); an invalid one with *error when it cannot be opened
    // or the record's identity is not in order.
    QSqlDatabase database(QString *error);

private:
    struct Worker;
    struct Memory;
    bool perform(const std::function<void(JournalSession &)> &job, QString *error,
                 const std::function<void(JournalSession &)> &ifAbandoned = {});
    QString failText(const QString &what, const QString &why) const;

    JournalOptions m_options;
    std::unique_ptr<Memory> m_memory; // this bench's settings for this store
    Worker *m_worker = nullptr;       // the thread with the record's connection
    QString m_callerConnection;       // database()'s connection on the caller's thread
};

// "MAC 00:39:28:90:00:05 已于 2026-12-07 10:00:00 写入 SN PDU01，未写入" ("无" for no SN).
QString macTakenText(const QString &mac, qint64 timeMs, const QString &sn);

// One field of a CSV row: quoted where needed, and a field that a
// spreadsheet would take for a formula (=, +, -, @, a tab or a carriage
// return first) written as text, with a leading apostrophe.
QString csvField(const QString &field);
// The rows as CSV with a UTF-8 byte-order mark (spreadsheet programs then
// read the Chinese right) and a header row; fields quoted where needed, and
// a field that a spreadsheet would take for a formula (=, +, -, @, a tab or a
// carriage return first) written as text.
QByteArray journalCsv(const QVector<JournalRow> &rows);
// The same without the byte-order mark and the header, for an export written
// a page at a time.
QByteArray journalCsvRows(const QVector<JournalRow> &rows);
// The operation and result codes in the words the record window shows.
QString operationText(const QString &operation);
QString resultText(const QString &result);
