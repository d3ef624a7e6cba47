// The provisioning record in an SQL database: SQLite or PostgreSQL.

#include "device/journal.h"

#include "config/settings.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QSemaphore>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>
#include <QUuid>
#include <QVariant>
#include <QWaitCondition>

#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <limits>

const char kOpWriteMac[] = "write_mac";
const char kOpReadMac[] = "read_mac";
const char kOpFactoryReset[] = "factory_reset";
const char kResultPending[] = "pending";
const char kResultVerified[] = "verified";
const char kResultReadBackFailed[] = "readback_failed";
const char kResultNoReply[] = "no_reply";
const char kResultBadReply[] = "bad_reply";
const char kResultDeviceError[] = "device_error";
const char kResultRefused[] = "refused";
const char kResultOk[] = "ok";
const char kResultNotSent[] = "not_sent";
const char kResultAborted[] = "aborted";

namespace {

constexpr int kPageRows = 5000;         // rows() reads the record in pages of this many
constexpr int kMaxTimeLimitS = 60;      // a limit beyond this is no limit for an engineer
constexpr int kShortIdLength = 8;       // enough to tell two records apart in a message
const char kJournalGroup[] = "journal"; // config.ini
const char kRecordsGroup[] = "records"; // this bench's settings

const char *const kJournalKeys[]
    = {"driver", "path", "host", "port", "database", "user", "bench", "timeout"};

// The hexadecimal digits of an address read backwards, so that an index on
// it finds addresses by how they end ("90:00:10" is how an engineer reads an
// address off a label). Written out with substr: both SQLite and PostgreSQL
// index such an expression.
const char kMacTail[] = "(substr(mac,17,1)||substr(mac,16,1)||substr(mac,14,1)||substr(mac,13,1)||"
                        "substr(mac,11,1)||substr(mac,10,1)||substr(mac,8,1)||substr(mac,7,1)||"
                        "substr(mac,5,1)||substr(mac,4,1)||substr(mac,2,1)||substr(mac,1,1))";

QString configText(const char *key)
{
    return read_config_string(QLatin1String(kJournalGroup), QLatin1String(key)).trimmed();
}

// A spreadsheet program takes a cell that begins with one of these for a
// formula, and a formula in a record can reach out of the sheet.
bool looksLikeFormula(const QString &field)
{
    if (field.isEmpty())
        return false;
    const QChar c = field.at(0);
    return c == QLatin1Char('=') || c == QLatin1Char('+') || c == QLatin1Char('-')
           || c == QLatin1Char('@') || c == QLatin1Char('\t') || c == QLatin1Char('\r');
}

QString quoteCsv(const QString &field)
{
    // A leading apostrophe is the spreadsheets' own mark for "this is text".
    QString value = looksLikeFormula(field) ? QLatin1Char('\'') + field : field;
    if (!value.contains(QLatin1Char(',')) && !value.contains(QLatin1Char('"'))
        && !value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r'))
        && value.size() == field.size())
        return value;
    value.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + value + QLatin1Char('"');
}

// A null string binds as SQL NULL; the record keeps "" for "none".
QVariant text(const QString &s)
{
    return s.isNull() ? QVariant(QLatin1String("")) : QVariant(s);
}

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString storeKey(const JournalOptions &o)
{
    if (o.driver == JournalOptions::Sqlite)
        return QStringLiteral("sqlite:") + QDir::cleanPath(QFileInfo(o.path).absoluteFilePath());
    return QStringLiteral("postgresql:%1:%2/%3").arg(o.host).arg(o.port).arg(o.database);
}

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

} // namespace

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

QString JournalSession::where() const
{
    if (sqlite())
        return QStringLiteral("SQLite ") + QDir::toNativeSeparators(m_o.path);
    return QStringLiteral("PostgreSQL %1@%2:%3")
        .arg(m_o.database, m_o.host.isEmpty() ? QStringLiteral("localhost") : m_o.host)
        .arg(m_o.port);
}

void JournalSession::drop()
{
    m_open = false;
    m_schemaChecked = false;
    m_verifiedId.clear();
    if (!QSqlDatabase::contains(m_connection))
        return;
    {
        QSqlDatabase d = QSqlDatabase::database(m_connection, false);
        d.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

bool JournalSession::exec(const QString &sql, QString *why)
{
    QSqlQuery query(db());
    if (query.exec(sql))
        return true;
    *why = query.lastError().text();
    return false;
}

// Opens the connection with the record's time limit on both sides where the
// server has one; used by the worker and by Journal::database() alike.
static bool openConnection(const JournalOptions &o, const QString &name, QString *why)
{
    const bool sqlite = o.driver == JournalOptions::Sqlite;
    const QString driverName = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driverName)) {
        // The Windows build carries no PostgreSQL client: it keeps the record
        // on this PC only, and says so where the shared record was asked for.
        *why = sqlite ? QStringLiteral("缺少 Qt 数据库驱动 %1").arg(driverName)
                      : QStringLiteral("缺少 Qt 数据库驱动 %1：本版本不支持共享的 PostgreSQL 记录，"
                                       "请在 config.ini 的 [journal] 中改用 driver=sqlite")
                            .arg(driverName);
        return false;
    }
    const int limitMs = o.timeLimitS * 1000;
    QSqlDatabase db = QSqlDatabase::addDatabase(driverName, name);
    if (sqlite) {
        const QFileInfo file(o.path);
        if (!QDir().mkpath(file.absolutePath())) {
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            *why = QStringLiteral("无法建立文件夹 %1").arg(file.absolutePath());
            return false;
        }
        db.setDatabaseName(o.path);
        // Another bench process holds the file for a moment: waited for, but
        // a little less than the limit, so that it says so itself.
        db.setConnectOptions(
            QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(qMax(100, limitMs - limitMs / 10)));
    } else {
        db.setHostName(o.host);
        db.setPort(o.port);
        db.setDatabaseName(o.database);
        db.setUserName(o.user);
        // Keep-alives find a server that went away on a TCP connection that
        // would otherwise stay open, silent, for hours.
        db.setConnectOptions(QStringLiteral("connect_timeout=%1;keepalives=1;keepalives_idle=10;"
                                            "keepalives_interval=3;keepalives_count=3")
                                 .arg(qMin(o.connectTimeoutS, o.timeLimitS)));
    }
    if (!db.open()) {
        *why = db.lastError().text();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        return false;
    }
    if (sqlite)
        return true;
    QSqlQuery limits(db);
    for (const QString &sql : {QStringLiteral("SET statement_timeout = %1").arg(limitMs),
                               QStringLiteral("SET lock_timeout = %1").arg(limitMs)}) {
        if (!limits.exec(sql)) {
            *why = limits.lastError().text();
            limits = QSqlQuery();
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            return false;
        }
    }
    return true;
}

bool JournalSession::open(QString *why)
{
    if (m_open) {
        // A server that went away is found out here rather than halfway
        // through a transaction; the connection is then made afresh. A file
        // deleted under an open connection would take writes no one can read.
        QString ignored;
        if (sqlite() ? QFileInfo::exists(m_o.path) : exec(QStringLiteral("SELECT 1"), &ignored))
            return true;
    }
    // Queries of a broken connection are all gone by now: it can be removed.
    drop();
    if (!openConnection(m_o, m_connection, why))
        return false;
    m_open = true;
    if (sqlite()) {
        // Write-ahead log: a commit is one flush of the log, and it is on the
        // disk (synchronous FULL) before the commit returns.
        if (!exec(QStringLiteral("PRAGMA journal_mode=WAL"), why)
            || !exec(QStringLiteral("PRAGMA synchronous=FULL"), why)) {
            drop();
            return false;
        }
    }
    return true;
}

bool JournalSession::look(Found *found, QString *why)
{
    QSqlQuery tables(db());
    const bool ok = tables.exec(
        sqlite() ? QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")
                 : QStringLiteral("SELECT table_name FROM information_schema.tables "
                                  "WHERE table_schema = current_schema()"));
    if (!ok) {
        *why = tables.lastError().text();
        return false;
    }
    bool info = false;
    while (tables.next()) {
        const QString name = tables.value(0).toString();
        if (name == QLatin1String("attempts"))
            found->attempts = true;
        else if (name == QLatin1String("record_info"))
            info = true;
    }
    if (!info)
        return true;
    QSqlQuery id(db());
    if (!id.exec(QStringLiteral("SELECT value FROM record_info WHERE name = 'id'"))) {
        *why = id.lastError().text();
        return false;
    }
    if (id.next())
        found->id = id.value(0).toString();
    return true;
}

bool JournalSession::ensureSchema(QString *why)
{
    if (m_schemaChecked)
        return true;
    const bool lite = sqlite();
    const QString idColumn = lite ? QStringLiteral("id INTEGER PRIMARY KEY AUTOINCREMENT")
                                  : QStringLiteral("id BIGSERIAL PRIMARY KEY");
    const QString pattern = lite ? QString() : QStringLiteral(" text_pattern_ops");
    const QString tail = QLatin1String(kMacTail);
    const QStringList schema = {
        QStringLiteral("CREATE TABLE IF NOT EXISTS record_info (name TEXT PRIMARY KEY, "
                       "value TEXT NOT NULL)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS attempts (%1, time_ms BIGINT NOT NULL, "
                       "bench TEXT NOT NULL, port TEXT NOT NULL, sn TEXT NOT NULL, "
                       "operation TEXT NOT NULL, mac TEXT NOT NULL, result TEXT NOT NULL, "
                       "detail TEXT NOT NULL, token TEXT NOT NULL DEFAULT '')")
            .arg(idColumn),
        // One row per address ever sent: the key is what keeps an address to one unit.
        QStringLiteral("CREATE TABLE IF NOT EXISTS mac_claims (mac TEXT PRIMARY KEY, "
                       "sn TEXT NOT NULL, time_ms BIGINT NOT NULL, attempt BIGINT NOT NULL)"),
    };
    // What the record window and the unit's check look rows up by.
    const QStringList indexes = {
        QStringLiteral("CREATE INDEX IF NOT EXISTS attempts_sn ON attempts (upper(sn)%1)")
            .arg(pattern),
        QStringLiteral("CREATE INDEX IF NOT EXISTS attempts_mac ON attempts (mac%1)").arg(pattern),
        QStringLiteral("CREATE INDEX IF NOT EXISTS attempts_mac_tail ON attempts (%1%2)")
            .arg(tail, pattern),
        QStringLiteral("CREATE INDEX IF NOT EXISTS attempts_unsettled ON attempts (token) "
                       "WHERE result = 'pending'"),
    };
    // Two benches starting at once may both create a table on a new server;
    // the loser sees the winner's table on the second try.
    const auto run = [&](const QString &sql) { return exec(sql, why) || exec(sql, why); };
    for (const QString &sql : schema) {
        if (!run(sql))
            return false;
    }
    // A record made before attempts carried a token gets the column.
    QString missing;
    if (!exec(QStringLiteral("SELECT token FROM attempts WHERE 1 = 0"), &missing)
        && !run(QStringLiteral("ALTER TABLE attempts ADD COLUMN token TEXT NOT NULL DEFAULT ''")))
        return false;
    for (const QString &sql : indexes) {
        if (!run(sql))
            return false;
    }
    m_schemaChecked = true;
    return true;
}

bool JournalSession::giveIdentity(QString *id, QString *why)
{
    QSqlQuery insert(db());
    insert.prepare(QStringLiteral("INSERT INTO record_info (name, value) VALUES ('id', ?) "
                                  "ON CONFLICT (name) DO NOTHING"));
    insert.addBindValue(newId());
    if (!insert.exec()) {
        *why = insert.lastError().text();
        return false;
    }
    // Of two benches making the record at once, both take the winner's id.
    Found found;
    if (!look(&found, why))
        return false;
    *id = found.id;
    return !id->isEmpty();
}

bool JournalSession::ready(const QString &knownId, bool anyKnown, bool allowCreate,
                           QString *storeId, bool *made, QString *error)
{
    *made = false;
    const QString shortKnown = Journal::shortId(knownId);
    const QString emptied
        = QStringLiteral(
              "生产记录 %1 是空的或已不存在，而本工位上次用的是记录 %2：以前写过哪些MAC地址"
              "已无从查起，不写入。确要从头开始，请用 文件 → 新建生产记录…")
              .arg(where(), shortKnown);
    const QString unfamiliar
        = QStringLiteral("生产记录 %1 还没有建立，而本工位此前用的是另一份记录：请检查 "
                         "config.ini 的 [journal] 设置。确要在此新建，请用 文件 → 新建生产记录…")
              .arg(where());
    // Opening a missing SQLite file would make an empty one: say so instead.
    if (sqlite() && !allowCreate && (!knownId.isEmpty() || anyKnown)
        && !QFileInfo::exists(m_o.path)) {
        drop();
        *error = knownId.isEmpty() ? unfamiliar : emptied;
        return false;
    }
    QString why;
    if (!open(&why)) {
        *error = failText(QStringLiteral("连接生产记录"), why);
        return false;
    }
    // Once found in order on this connection, the record's id alone is asked
    // again: it is what a store swapped or emptied behind the tool changes.
    if (!m_verifiedId.isEmpty() && (knownId.isEmpty() || knownId == m_verifiedId)) {
        QSqlQuery id(db());
        if (id.exec(QStringLiteral("SELECT value FROM record_info WHERE name = 'id'")) && id.next()
            && id.value(0).toString() == m_verifiedId) {
            *storeId = m_verifiedId;
            return true;
        }
        m_verifiedId.clear();
    }
    Found found;
    if (!look(&found, &why)) {
        drop();
        *error = failText(QStringLiteral("读取生产记录"), why);
        return false;
    }
    if (!found.id.isEmpty()) {
        if (!knownId.isEmpty() && found.id != knownId && !allowCreate) {
            *error = QStringLiteral("生产记录 %1 中是另一份记录（%2），不是本工位上次用的 %3："
                                    "可能被替换或从旧备份恢复，不写入。确要改用它，请用 文件 → "
                                    "新建生产记录…")
                         .arg(where(), Journal::shortId(found.id), shortKnown);
            return false;
        }
    } else if (!found.attempts || !knownId.isEmpty()) {
        // A record made before records had an identity is taken up as it is
        // (below); an empty store is made into a record only deliberately.
        if (!knownId.isEmpty() && !allowCreate) {
            *error = emptied;
            return false;
        }
        if (anyKnown && !allowCreate) {
            *error = unfamiliar;
            return false;
        }
        *made = true;
    }
    if (!ensureSchema(&why) || (found.id.isEmpty() && !giveIdentity(&found.id, &why))) {
        drop();
        *error = failText(QStringLiteral("建立生产记录"), why);
        return false;
    }
    *storeId = found.id;
    m_verifiedId = found.id;
    return true;
}

bool JournalSession::writeOutcome(qint64 id, const QString &result, const QString &detail,
                                  const QString &mac, QString *why)
{
    QSqlQuery update(db());
    if (mac.isEmpty()) {
        update.prepare(QStringLiteral("UPDATE attempts SET result = ?, detail = ? WHERE id = ?"));
    } else {
        update.prepare(
            QStringLiteral("UPDATE attempts SET result = ?, detail = ?, mac = ? WHERE id = ?"));
    }
    update.addBindValue(text(result));
    update.addBindValue(text(detail));
    if (!mac.isEmpty())
        update.addBindValue(mac);
    update.addBindValue(id);
    if (!update.exec()) {
        *why = update.lastError().text();
        return false;
    }
    if (result == QLatin1String(kResultNotSent)) {
        // Only the claim this attempt made: an address the unit already held
        // from an earlier write stays its own.
        QSqlQuery release(db());
        release.prepare(QStringLiteral("DELETE FROM mac_claims WHERE attempt = ?"));
        release.addBindValue(id);
        if (!release.exec()) {
            *why = release.lastError().text();
            return false;
        }
    }
    return true;
}

// ---- the thread that holds the record's connection

struct Journal::Worker : QThread
{
    struct Task
    {
        std::function<void(JournalSession &)> run;
        std::function<void(JournalSession &)> ifAbandoned;
        QSemaphore done;
        QMutex state;
        bool finished = false;
        bool abandoned = false;
    };

    Worker(const JournalOptions &options, const QString &connection)
        : session(options, connection)
    {}

    void post(const std::shared_ptr<Task> &task)
    {
        QMutexLocker lock(&m_mutex);
        m_tasks.push_back(task);
        m_wake.wakeOne();
    }
    // Ends the thread once the task in hand is done; its connection goes with it.
    void retire()
    {
        QMutexLocker lock(&m_mutex);
        m_retired = true;
        m_wake.wakeOne();
    }

    void run() override
    {
        for (;;) {
            std::shared_ptr<Task> task;
            {
                QMutexLocker lock(&m_mutex);
                while (m_tasks.empty() && !m_retired)
                    m_wake.wait(&m_mutex);
                if (m_tasks.empty())
                    break;
                task = m_tasks.front();
                m_tasks.pop_front();
            }
            task->run(session);
            QMutexLocker lock(&task->state);
            if (task->abandoned) {
                lock.unlock();
                // Nobody waits for this answer any longer: what it left
                // behind is put right here, on the same connection.
                if (task->ifAbandoned)
                    task->ifAbandoned(session);
            } else {
                task->finished = true;
                lock.unlock();
            }
            task->done.release();
        }
        session.drop();
    }

    JournalSession session;

private:
    QMutex m_mutex;
    QWaitCondition m_wake;
    std::deque<std::shared_ptr<Task>> m_tasks;
    bool m_retired = false;
};

namespace {

// Workers whose task ran past the limit: they end when the server answers
// (or the connection breaks) and are deleted then. One that never ends is
// left to the end of the process.
QMutex retiredMutex;
QList<QThread *> retiredWorkers;

void keepUntilDone(QThread *worker)
{
    QMutexLocker lock(&retiredMutex);
    retiredWorkers << worker;
}

void reapWorkers()
{
    QMutexLocker lock(&retiredMutex);
    for (auto it = retiredWorkers.begin(); it != retiredWorkers.end();) {
        if ((*it)->isFinished()) {
            (*it)->wait();
            delete *it;
            it = retiredWorkers.erase(it);
        } else {
            ++it;
        }
    }
}

QString connectionName()
{
    static std::atomic<int> serial{0};
    return QStringLiteral("feederbench-journal-%1").arg(++serial);
}

} // namespace

// ---- what this bench remembers of the store it is set to

struct Journal::Memory
{
    Memory(const JournalOptions &o)
        : settings(o.benchSettings, QSettings::IniFormat)
        , group(QLatin1String(kRecordsGroup) + QLatin1Char('/')
                + QString::fromLatin1(
                    QCryptographicHash::hash(storeKey(o).toUtf8(), QCryptographicHash::Sha1)
                        .toHex()
                        .left(16)))
        , key(storeKey(o))
    {
        settings.setIniCodec("UTF-8");
    }

    QString value(const char *name) const
    {
        return settings.value(group + QLatin1Char('/') + QLatin1String(name)).toString();
    }
    // Each change is written to the disk (and waits for it) when saved: only
    // what changed is, so a press that changes nothing here costs nothing.
    void setValue(const char *name, const QVariant &v)
    {
        const QString key = group + QLatin1Char('/') + QLatin1String(name);
        if (settings.value(key).toString() == v.toString())
            return;
        settings.setValue(key, v);
        dirty = true;
    }
    // Which attempt this bench wrote last, and when: only for the question of
    // 新建生产记录…, so kept in memory and written with the next change or
    // when the record is closed.
    void noteUse(qint64 attempt)
    {
        lastAttempt = attempt;
        usedMs = QDateTime::currentMSecsSinceEpoch();
    }
    void writeUse()
    {
        if (lastAttempt > 0) {
            setValue("attempts", lastAttempt);
            setValue("usedMs", usedMs);
        }
    }

    QString knownId() const { return value("id"); }
    bool anyKnown()
    {
        settings.beginGroup(QLatin1String(kRecordsGroup));
        const QStringList stores = settings.childGroups();
        bool any = false;
        for (const QString &store : stores)
            any = any || !settings.value(store + QStringLiteral("/id")).toString().isEmpty();
        settings.endGroup();
        return any;
    }

    QVector<KeptOutcome> outcomes()
    {
        QVector<KeptOutcome> kept;
        const int n = settings.beginReadArray(group + QStringLiteral("/outcomes"));
        for (int i = 0; i < n; ++i) {
            settings.setArrayIndex(i);
            KeptOutcome o;
            o.id = settings.value(QStringLiteral("attempt")).toLongLong();
            o.result = settings.value(QStringLiteral("result")).toString();
            o.detail = settings.value(QStringLiteral("detail")).toString();
            o.mac = settings.value(QStringLiteral("mac")).toString();
            kept << o;
        }
        settings.endArray();
        return kept;
    }
    void setOutcomes(const QVector<KeptOutcome> &kept)
    {
        if (kept.isEmpty() && outcomes().isEmpty())
            return;
        dirty = true;
        settings.remove(group + QStringLiteral("/outcomes"));
        settings.beginWriteArray(group + QStringLiteral("/outcomes"), kept.size());
        for (int i = 0; i < kept.size(); ++i) {
            settings.setArrayIndex(i);
            settings.setValue(QStringLiteral("attempt"), kept.at(i).id);
            settings.setValue(QStringLiteral("result"), kept.at(i).result);
            settings.setValue(QStringLiteral("detail"), kept.at(i).detail);
            settings.setValue(QStringLiteral("mac"), kept.at(i).mac);
        }
        settings.endArray();
    }

    QStringList unanswered() const
    {
        return settings.value(group + QStringLiteral("/unanswered")).toStringList();
    }
    void setUnanswered(const QStringList &tokens)
    {
        if (tokens == unanswered())
            return;
        dirty = true;
        if (tokens.isEmpty())
            settings.remove(group + QStringLiteral("/unanswered"));
        else
            settings.setValue(group + QStringLiteral("/unanswered"), tokens);
    }

    // What this bench knows must reach its disk, or it knows nothing.
    bool save(QString *error)
    {
        if (!dirty)
            return true;
        writeUse();
        dirty = false;
        settings.sync();
        if (settings.status() == QSettings::NoError)
            return true;
        *error = QStringLiteral("无法写入本工位的设置文件 %1，记不住用的是哪一份生产记录，不写入")
                     .arg(QDir::toNativeSeparators(settings.fileName()));
        return false;
    }

    QSettings settings;
    QString group;
    QString key;
    bool dirty = false;
    qint64 lastAttempt = 0;
    qint64 usedMs = 0;
    // Tokens of claims whose thread may still commit them.
    QHash<QString, std::shared_ptr<std::atomic<bool>>> running;
};

// ---- options

QString JournalOptions::defaultSqlitePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
           + QStringLiteral("/provisioning.db");
}

QString JournalOptions::defaultBenchSettings()
{
    // Not beside the record: a folder deleted with the record must not take
    // with it what this bench knows of it.
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation)
           + QStringLiteral("/bench.ini");
}

JournalOptions JournalOptions::fromConfig()
{
    JournalOptions o;
    o.bench = QSysInfo::machineHostName();
    o.benchSettings = defaultBenchSettings();
    const QString group = QLatin1String(kJournalGroup);
    const auto unusable = [&](const QString &text) {
        if (o.problem.isEmpty())
            o.problem = text;
    };
    for (const QString &key : read_config_keys(group)) {
        bool known = false;
        for (const char *k : kJournalKeys)
            known = known || key == QLatin1String(k);
        if (!known)
            unusable(QStringLiteral("config.ini [journal] %1= 不是可用的键").arg(key));
    }
    const QString driver = configText("driver");
    const QString lower = driver.toLower();
    if (lower == QLatin1String("postgresql") || lower == QLatin1String("postgres")) {
        o.driver = Postgres;
    } else if (!driver.isEmpty() && lower != QLatin1String("sqlite")) {
        unusable(QStringLiteral("config.ini [journal] driver=%1 无效（应为 sqlite 或 postgresql）")
                     .arg(driver));
    }
    o.path = configText("path");
    o.host = configText("host");
    o.database = configText("database");
    o.user = configText("user");
    const QString port = configText("port");
    if (!port.isEmpty()) {
        bool ok = false;
        const int p = port.toInt(&ok);
        if (ok && p > 0 && p < 65536)
            o.port = p;
        else
            unusable(
                QStringLiteral("config.ini [journal] port=%1 无效（应为 1 到 65535）").arg(port));
    }
    const QString limit = configText("timeout");
    if (!limit.isEmpty()) {
        bool ok = false;
        const int s = limit.toInt(&ok);
        if (ok && s >= 1 && s <= kMaxTimeLimitS)
            o.timeLimitS = s;
        else
            unusable(QStringLiteral("config.ini [journal] timeout=%1 无效（应为 1 到 %2 秒）")
                         .arg(limit)
                         .arg(kMaxTimeLimitS));
    }
    // A key of the other driver is a sign that the section does not say
    // what was meant (a bench set up for the shared server without its
    // driver line would otherwise keep a record of its own).
    if (o.driver == Sqlite) {
        for (const char *key : {"host", "port", "database", "user"}) {
            if (!configText(key).isEmpty())
                unusable(QStringLiteral("config.ini [journal] %1= 只用于 driver=postgresql，"
                                        "而 driver 是 sqlite")
                             .arg(QLatin1String(key)));
        }
    } else if (!o.path.isEmpty()) {
        unusable(QStringLiteral("config.ini [journal] path= 只用于 driver=sqlite，而 driver 是 "
                                "postgresql"));
    }
    if (o.path.isEmpty())
        o.path = defaultSqlitePath();
    const QString bench = configText("bench");
    if (!bench.isEmpty())
        o.bench = bench;
    if (o.driver == Postgres && o.database.isEmpty())
        o.database = QStringLiteral("feederbench");
    if (!o.problem.isEmpty())
        o.problem += QStringLiteral("，生产记录不可用");
    return o;
}

// ---- the record

QString macText(const unsigned char bytes[6])
{
    QStringList groups;
    for (int i = 0; i < 6; ++i)
        groups << QStringLiteral("%1").arg(bytes[i], 2, 16, QLatin1Char('0')).toUpper();
    return groups.join(QLatin1Char(':'));
}

Journal::Journal(const JournalOptions &options)
    : m_options(options)
{
    if (m_options.benchSettings.isEmpty())
        m_options.benchSettings = JournalOptions::defaultBenchSettings();
    m_options.timeLimitS = qBound(1, m_options.timeLimitS, kMaxTimeLimitS);
    m_memory = std::make_unique<Memory>(m_options);
}

Journal::~Journal()
{
    m_memory->writeUse();
    QString unsaved;
    m_memory->save(&unsaved);
    if (m_worker) {
        m_worker->retire();
        if (m_worker->wait(m_options.timeLimitS * 1000))
            delete m_worker;
        else
            keepUntilDone(m_worker);
    }
    if (!m_callerConnection.isEmpty() && QSqlDatabase::contains(m_callerConnection)) {
        QSqlDatabase::database(m_callerConnection, false).close();
        QSqlDatabase::removeDatabase(m_callerConnection);
    }
    reapWorkers();
}

QString Journal::where() const
{
    return JournalSession(m_options, QString()).where();
}

QString Journal::failText(const QString &what, const QString &why) const
{
    return JournalSession(m_options, QString()).failText(what, why);
}

QString Journal::shortId(const QString &id)
{
    return id.left(kShortIdLength);
}

int Journal::keptOutcomes() const
{
    return m_memory->outcomes().size();
}

// Runs job on the worker thread and waits for it at most the time limit. A
// job that runs longer is left to its thread, which then runs ifAbandoned,
// and the next job gets a new thread and connection.
bool Journal::perform(const std::function<void(JournalSession &)> &job, QString *error,
                      const std::function<void(JournalSession &)> &ifAbandoned)
{
    reapWorkers();
    if (!m_worker) {
        m_worker = new Worker(m_options, connectionName());
        m_worker->start();
    }
    auto task = std::make_shared<Worker::Task>();
    task->run = job;
    task->ifAbandoned = ifAbandoned;
    m_worker->post(task);
    // The window waits here, not in its event loop: no second press can
    // arrive in the middle of a claim, and the wait has an end.
    if (task->done.tryAcquire(1, m_options.timeLimitS * 1000))
        return true;
    QMutexLocker lock(&task->state);
    if (task->finished)
        return true; // answered as the time ran out
    task->abandoned = true;
    lock.unlock();
    m_worker->retire();
    keepUntilDone(m_worker);
    m_worker = nullptr;
    *error = failText(QStringLiteral("生产记录"),
                      QStringLiteral("%1 秒内没有完成（服务器或文件没有响应），此次不算")
                          .arg(m_options.timeLimitS));
    return false;
}

Journal::Start Journal::begin(const QString &operation, qint64 timeMs, const QString &port,
                              const QString &sn, const QString &mac)
{
    Start start;
    if (!m_options.problem.isEmpty()) {
        start.error = m_options.problem;
        return start;
    }
    struct Out
    {
        Start start;
        QString storeId;
        bool made = false;   // on this bench's first start, without a word
        int written = 0;     // kept outcomes written
        QStringList settled; // unanswered claims settled or found never committed
        bool committed = false;
    };
    const QString knownId = m_memory->knownId();
    const bool anyKnown = m_memory->anyKnown();
    const QVector<KeptOutcome> kept = m_memory->outcomes();
    QVector<Unanswered> unanswered;
    for (const QString &token : m_memory->unanswered()) {
        const auto running = m_memory->running.value(token);
        unanswered.append({token, running && !running->load()});
    }
    const QString token = newId();
    const QString bench = m_options.bench;
    auto out = std::make_shared<Out>();
    auto settledByItsThread = std::make_shared<std::atomic<bool>>(false);

    const auto job = [=](JournalSession &s) {
        Out &o = *out;
        QString why;
        if (!s.ready(knownId, anyKnown, false, &o.storeId, &o.made, &o.start.error))
            return;
        const auto fail = [&](const QString &reason) {
            s.rollback();
            s.drop();
            o.start = Start();
            o.start.error = s.failText(QStringLiteral("写入生产记录"), reason);
        };
        // What earlier presses left: outcomes known but not written, and
        // claims whose answer never came. Before any new claim.
        if (!kept.isEmpty() || !unanswered.isEmpty()) {
            if (!s.beginTransaction(&why))
                return fail(why);
            for (const KeptOutcome &k : kept) {
                if (!s.writeOutcome(k.id, k.result, k.detail, k.mac, &why))
                    return fail(why);
            }
            for (const Unanswered &u : unanswered) {
                QSqlQuery find(s.db());
                find.prepare(
                    QStringLiteral("SELECT id FROM attempts WHERE token = ? AND result = ?"));
                find.addBindValue(u.token);
                find.addBindValue(QString::fromLatin1(kResultPending));
                if (!find.exec())
                    return fail(find.lastError().text());
                if (find.next()) {
                    const qint64 id = find.value(0).toLongLong();
                    find.finish();
                    if (!s.writeOutcome(id, QLatin1String(kResultNotSent),
                                        QStringLiteral("生产记录未及时应答，未发送"), QString(),
                                        &why))
                        return fail(why);
                    o.settled << u.token;
                } else if (!u.stillRunning) {
                    o.settled << u.token; // never committed, or settled by its own thread
                }
            }
            if (!s.exec(QStringLiteral("COMMIT"), &why))
                return fail(why);
            o.written = kept.size();
        }

        if (!s.beginTransaction(&why))
            return fail(why);
        QSqlQuery insert(s.db());
        insert.prepare(QStringLiteral(
            "INSERT INTO attempts (time_ms, bench, port, sn, operation, mac, result, "
            "detail, token) VALUES (?, ?, ?, ?, ?, ?, ?, '', ?) RETURNING id"));
        for (const QVariant &v :
             {QVariant(timeMs), text(bench), text(port), text(sn), text(operation), text(mac),
              QVariant(QString::fromLatin1(kResultPending)), QVariant(token)})
            insert.addBindValue(v);
        if (!insert.exec() || !insert.next())
            return fail(insert.lastError().text());
        o.start.id = insert.value(0).toLongLong();
        insert.finish();

        const auto refuse = [&](const QString &line) {
            o.start.taken = true;
            o.start.refusal = line;
            QSqlQuery refused(s.db());
            refused.prepare(
                QStringLiteral("UPDATE attempts SET result = ?, detail = ? WHERE id = ?"));
            refused.addBindValue(QString::fromLatin1(kResultRefused));
            refused.addBindValue(line);
            refused.addBindValue(o.start.id);
            return refused.exec() ? QString() : refused.lastError().text();
        };

        if (operation == QLatin1String(kOpWriteMac)) {
            // One unit, one address: a serial number that has a verified
            // address gets no other.
            if (!sn.isEmpty()) {
                QSqlQuery unit(s.db());
                unit.prepare(QStringLiteral(
                    "SELECT mac, time_ms FROM attempts WHERE upper(sn) = upper(?) AND sn = ? "
                    "AND operation = ? AND result = ? AND mac <> ? ORDER BY id LIMIT 1"));
                for (const QVariant &v :
                     {QVariant(sn), QVariant(sn), QVariant(QString::fromLatin1(kOpWriteMac)),
                      QVariant(QString::fromLatin1(kResultVerified)), text(mac)})
                    unit.addBindValue(v);
                if (!unit.exec())
                    return fail(unit.lastError().text());
                if (unit.next()) {
                    o.start.takenMs = unit.value(1).toLongLong();
                    const QString line
                        = QStringLiteral("SN %1 已于 %2 写入 MAC %3，未写入")
                              .arg(sn,
                                   QDateTime::fromMSecsSinceEpoch(o.start.takenMs)
                                       .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                                   unit.value(0).toString());
                    unit.finish();
                    const QString error = refuse(line);
                    if (!error.isEmpty())
                        return fail(error);
                    if (!s.exec(QStringLiteral("COMMIT"), &why))
                        return fail(why);
                    o.committed = true;
                    return;
                }
            }
            // The claim and the check are one statement against the key: of
            // two benches inserting the same address, one insert does nothing.
            for (int attempt = 0; attempt < 2; ++attempt) {
                QSqlQuery claim(s.db());
                claim.prepare(QStringLiteral("INSERT INTO mac_claims (mac, sn, time_ms, attempt) "
                                             "VALUES (?, ?, ?, ?) ON CONFLICT (mac) DO NOTHING"));
                claim.addBindValue(text(mac));
                claim.addBindValue(text(sn));
                claim.addBindValue(timeMs);
                claim.addBindValue(o.start.id);
                if (!claim.exec())
                    return fail(claim.lastError().text());
                if (claim.numRowsAffected() == 1)
                    break;
                QSqlQuery holder(s.db());
                holder.prepare(QStringLiteral(
                    "SELECT c.sn, c.time_ms, c.attempt, a.bench, a.token, a.result "
                    "FROM mac_claims c LEFT JOIN attempts a ON a.id = c.attempt WHERE c.mac = ?"));
                holder.addBindValue(mac);
                if (!holder.exec() || !holder.next())
                    return fail(holder.lastError().text());
                const QString heldBy = holder.value(0).toString();
                const qint64 heldAttempt = holder.value(2).toLongLong();
                const QString heldToken = holder.value(4).toString();
                // A claim of this bench whose answer came too late is this
                // very press's predecessor, never sent: it is given back.
                bool ours = false;
                for (const Unanswered &u : unanswered)
                    ours = ours || (!heldToken.isEmpty() && u.token == heldToken);
                if (attempt == 0 && ours
                    && holder.value(5).toString() == QLatin1String(kResultPending)) {
                    holder.finish();
                    if (!s.writeOutcome(heldAttempt, QLatin1String(kResultNotSent),
                                        QStringLiteral("生产记录未及时应答，未发送"), QString(),
                                        &why))
                        return fail(why);
                    o.settled << heldToken;
                    continue;
                }
                // The same unit again is re-provisioning; without a serial
                // number nobody can tell it is the same unit.
                if (sn.isEmpty() || heldBy != sn) {
                    o.start.takenSn = heldBy;
                    o.start.takenMs = holder.value(1).toLongLong();
                    holder.finish();
                    const QString error
                        = refuse(macTakenText(mac, o.start.takenMs, o.start.takenSn));
                    if (!error.isEmpty())
                        return fail(error);
                } else {
                    // Two benches writing one serial number at once see it here.
                    const qint64 firstMs = holder.value(1).toLongLong();
                    o.start.notes << QStringLiteral("SN %1 已于 %2 在 %3 写入过该地址，本次为重写")
                                         .arg(sn,
                                              QDateTime::fromMSecsSinceEpoch(firstMs).toString(
                                                  QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                                              holder.value(3).toString());
                }
                break;
            }
        }
        if (!s.exec(QStringLiteral("COMMIT"), &why))
            return fail(why);
        o.committed = true;
    };
    // A claim committed after the press was refused is given back by the
    // thread that made it, as soon as it can.
    const auto ifAbandoned = [out, settledByItsThread](JournalSession &s) {
        if (out->committed && out->start.id && !out->start.taken) {
            QString why;
            if (!s.beginTransaction(&why)
                || !s.writeOutcome(out->start.id, QLatin1String(kResultNotSent),
                                   QStringLiteral("生产记录未及时应答，未发送"), QString(), &why)
                || !s.exec(QStringLiteral("COMMIT"), &why))
                s.rollback();
        }
        settledByItsThread->store(true);
    };

    QString error;
    if (!perform(job, &error, ifAbandoned)) {
        // Remembered until the record shows what became of it.
        m_memory->running.insert(token, settledByItsThread);
        QStringList tokens = m_memory->unanswered();
        tokens << token;
        m_memory->setUnanswered(tokens);
        m_memory->save(&error);
        start.error = error;
        return start;
    }
    Out &o = *out;
    start = o.start;
    if (!o.storeId.isEmpty()) {
        if (o.storeId != knownId)
            m_memory->setValue("where", where());
        m_memory->setValue("id", o.storeId);
    }
    if (o.written > 0) {
        m_memory->setOutcomes({});
        start.notes.prepend(
            QStringLiteral("已补记 %1 条此前未能写入生产记录的操作结果").arg(o.written));
    }
    if (!o.settled.isEmpty()) {
        QStringList tokens = m_memory->unanswered();
        for (const QString &t : qAsConst(o.settled)) {
            tokens.removeAll(t);
            m_memory->running.remove(t);
        }
        m_memory->setUnanswered(tokens);
    }
    if (start.id)
        m_memory->noteUse(start.id);
    QString unsaved;
    if (!m_memory->save(&unsaved) && start.error.isEmpty() && start.id && !start.taken) {
        // Written, but this bench would not know its record tomorrow: the
        // attempt is put down as not sent, and nothing goes out.
        finish(start.id, QLatin1String(kResultNotSent), unsaved, QString(), &error);
        start = Start();
        start.error = unsaved;
    }
    return start;
}

bool Journal::finish(qint64 id, const QString &result, const QString &detail, const QString &mac,
                     QString *error)
{
    KeptOutcome outcome;
    outcome.id = id;
    outcome.result = result;
    outcome.detail = detail;
    outcome.mac = mac;
    QVector<KeptOutcome> kept = m_memory->outcomes();
    kept << outcome;
    const QString knownId = m_memory->knownId();
    const bool anyKnown = m_memory->anyKnown();
    auto failure = std::make_shared<QString>();
    const auto job = [=](JournalSession &s) {
        QString why;
        QString storeId;
        bool made = false;
        if (!s.ready(knownId, anyKnown, false, &storeId, &made, failure.get()))
            return;
        // The outcome and the claim given back are one transaction:
        // committed together before the result line is shown.
        if (!s.beginTransaction(&why)) {
            *failure = s.failText(QStringLiteral("写入生产记录"), why);
            s.drop();
            return;
        }
        for (const KeptOutcome &k : kept) {
            if (!s.writeOutcome(k.id, k.result, k.detail, k.mac, &why)) {
                *failure = s.failText(QStringLiteral("写入生产记录"), why);
                s.rollback();
                s.drop();
                return;
            }
        }
        if (!s.exec(QStringLiteral("COMMIT"), &why)) {
            *failure = s.failText(QStringLiteral("写入生产记录"), why);
            s.rollback();
            s.drop();
        }
    };
    QString timeout;
    if (!m_options.problem.isEmpty())
        *failure = m_options.problem;
    else if (!perform(job, &timeout))
        *failure = timeout;
    if (failure->isEmpty()) {
        m_memory->setOutcomes({});
        QString unsaved;
        m_memory->save(&unsaved);
        return true;
    }
    // Known here, and written as soon as the record takes it.
    m_memory->setOutcomes(kept);
    QString unsaved;
    if (!m_memory->save(&unsaved)) {
        *error = *failure + QStringLiteral("；") + unsaved;
        return false;
    }
    *error = *failure;
    return false;
}

namespace {

// One condition of a filter with its values: a range on one of the record's
// indexes, in the driver's own words (so that a generic plan of a prepared
// query still uses the index).
struct FilterTerm
{
    QString sql;
    QVariantList binds;
};

QVector<FilterTerm> filterTerms(const QString &filter, bool sqlite)
{
    const QString ge = sqlite ? QStringLiteral(">=") : QStringLiteral("~>=~");
    const QString lt = sqlite ? QStringLiteral("<") : QStringLiteral("~<~");
    const QString top = sqlite ? QStringLiteral("char(1114111)") : QStringLiteral("chr(1114111)");
    const auto range = [&](const QString &expression, const QString &prefix) {
        return FilterTerm{QStringLiteral("(%1 %2 upper(?) AND %1 %3 (upper(?) || %4))")
                              .arg(expression, ge, lt, top),
                          {prefix, prefix}};
    };
    QVector<FilterTerm> terms;
    terms << range(QStringLiteral("upper(sn)"), filter);
    QString digits;
    bool address = true;
    for (const QChar c : filter) {
        if (c.isSpace() || c == QLatin1Char(':') || c == QLatin1Char('-'))
            continue;
        const ushort u = c.unicode();
        if ((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F'))
            digits += c.toUpper();
        else
            address = false;
    }
    if (address && !digits.isEmpty() && digits.size() <= 12) {
        QString head;
        for (int i = 0; i < digits.size(); ++i) {
            if (i > 0 && i % 2 == 0)
                head += QLatin1Char(':');
            head += digits.at(i);
        }
        QString tail = digits;
        std::reverse(tail.begin(), tail.end());
        terms << range(QStringLiteral("mac"), head);
        terms << range(QLatin1String(kMacTail), tail);
    }
    return terms;
}

constexpr int kRecentRows = 2000; // looked through first, newest down, without an index

const char kRowColumns[] = "id, time_ms, bench, port, sn, operation, mac, result, detail";

bool readRows(QSqlQuery &query, QVector<JournalRow> *rows)
{
    if (!query.exec())
        return false;
    while (query.next()) {
        JournalRow row;
        row.id = query.value(0).toLongLong();
        row.timeMs = query.value(1).toLongLong();
        row.bench = query.value(2).toString();
        row.port = query.value(3).toString();
        row.sn = query.value(4).toString();
        row.operation = query.value(5).toString();
        row.mac = query.value(6).toString();
        row.result = query.value(7).toString();
        row.detail = query.value(8).toString();
        rows->append(row);
    }
    return true;
}

// A filtered page. A filter that most rows match (the first letters of every
// serial number) fills a page from the newest rows at once; one that few
// match is answered by its indexes, whose matches are sorted by id, read as
// ids only, and the page's rows fetched by them. Either way a page costs
// milliseconds at a million rows, where one query of both kinds is left to a
// planner that guesses wrong for one of them.
bool filteredPage(JournalSession &s, const QString &filter, qint64 beforeId, int limit,
                  QVector<JournalRow> *rows, QString *why)
{
    const QVector<FilterTerm> terms = filterTerms(filter, s.sqlite());
    QStringList any;
    QVariantList anyBinds;
    for (const FilterTerm &t : terms) {
        any << t.sql;
        anyBinds += t.binds;
    }
    const QString anyTerm = QLatin1Char('(') + any.join(QStringLiteral(" OR ")) + QLatin1Char(')');

    qint64 before = beforeId;
    if (before == std::numeric_limits<qint64>::max()) {
        QSqlQuery newest(s.db());
        if (!newest.exec(QStringLiteral("SELECT max(id) FROM attempts"))) {
            *why = newest.lastError().text();
            return false;
        }
        before = newest.next() ? newest.value(0).toLongLong() + 1 : 0;
    }
    const qint64 recentFloor = qMax<qint64>(0, before - kRecentRows);
    QSqlQuery recent(s.db());
    recent.setForwardOnly(true);
    recent.prepare(QStringLiteral("SELECT %1 FROM attempts WHERE id < ? AND id >= ? AND %2 "
                                  "ORDER BY id DESC LIMIT ?")
                       .arg(QLatin1String(kRowColumns), anyTerm));
    recent.addBindValue(before);
    recent.addBindValue(recentFloor);
    for (const QVariant &v : qAsConst(anyBinds))
        recent.addBindValue(v);
    recent.addBindValue(limit);
    if (!readRows(recent, rows)) {
        *why = recent.lastError().text();
        return false;
    }
    if (rows->size() >= limit || recentFloor == 0)
        return true;

    // "id + 0": the order is wanted from the term's index, not the key's.
    QVector<qint64> ids;
    for (const FilterTerm &t : terms) {
        QSqlQuery older(s.db());
        older.setForwardOnly(true);
        older.prepare(QStringLiteral("SELECT id FROM attempts WHERE %1 AND id + 0 < ? "
                                     "ORDER BY id DESC LIMIT ?")
                          .arg(t.sql));
        for (const QVariant &v : t.binds)
            older.addBindValue(v);
        older.addBindValue(recentFloor);
        older.addBindValue(limit - rows->size());
        if (!older.exec()) {
            *why = older.lastError().text();
            return false;
        }
        while (older.next())
            ids << older.value(0).toLongLong();
    }
    std::sort(ids.begin(), ids.end(), std::greater<qint64>());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    ids.resize(qMin(ids.size(), limit - rows->size()));
    if (ids.isEmpty())
        return true;
    QStringList marks;
    for (int i = 0; i < ids.size(); ++i)
        marks << QStringLiteral("?");
    QSqlQuery fetch(s.db());
    fetch.setForwardOnly(true);
    fetch.prepare(QStringLiteral("SELECT %1 FROM attempts WHERE id IN (%2) ORDER BY id DESC")
                      .arg(QLatin1String(kRowColumns), marks.join(QLatin1Char(','))));
    for (qint64 id : qAsConst(ids))
        fetch.addBindValue(id);
    if (!readRows(fetch, rows)) {
        *why = fetch.lastError().text();
        return false;
    }
    return true;
}

} // namespace

QVector<JournalRow> Journal::page(const QString &filter, qint64 beforeId, int limit, QString *error)
{
    if (!m_options.problem.isEmpty()) {
        *error = m_options.problem;
        return {};
    }
    auto rows = std::make_shared<QVector<JournalRow>>();
    auto failure = std::make_shared<QString>();
    const QString trimmed = filter.trimmed();
    const auto job = [=](JournalSession &s) {
        QString why;
        if (!s.open(&why)) {
            *failure = s.failText(QStringLiteral("连接生产记录"), why);
            return;
        }
        JournalSession::Found found;
        if (!s.look(&found, &why)) {
            *failure = s.failText(QStringLiteral("读取生产记录"), why);
            s.drop();
            return;
        }
        if (!found.attempts)
            return; // an empty store: nothing to show
        bool ok = false;
        if (trimmed.isEmpty()) {
            QSqlQuery query(s.db());
            query.setForwardOnly(true);
            query.prepare(QStringLiteral("SELECT %1 FROM attempts WHERE id < ? ORDER BY id DESC "
                                         "LIMIT ?")
                              .arg(QLatin1String(kRowColumns)));
            query.addBindValue(beforeId);
            query.addBindValue(limit);
            ok = readRows(query, rows.get());
            if (!ok)
                why = query.lastError().text();
        } else {
            ok = filteredPage(s, trimmed, beforeId, limit, rows.get(), &why);
        }
        if (!ok) {
            rows->clear();
            *failure = s.failText(QStringLiteral("读取生产记录"), why);
            s.drop();
        }
    };
    QString timeout;
    if (!perform(job, &timeout))
        *failure = timeout;
    if (!failure->isEmpty()) {
        *error = *failure;
        return {};
    }
    return *rows;
}

QVector<JournalRow> Journal::rows(const QString &filter, QString *error)
{
    QVector<JournalRow> all;
    qint64 before = std::numeric_limits<qint64>::max();
    for (;;) {
        const QVector<JournalRow> some = page(filter, before, kPageRows, error);
        if (!error->isEmpty())
            return {};
        all += some;
        if (some.size() < kPageRows)
            return all;
        before = some.last().id;
    }
}

bool Journal::identity(Identity *out, QString *error)
{
    out->knownId = m_memory->knownId();
    m_memory->writeUse();
    out->knownUsedMs = m_memory->value("usedMs").toLongLong();
    out->knownAttempts = m_memory->value("attempts").toLongLong();
    const bool anyKnown = m_memory->anyKnown();
    if (!m_options.problem.isEmpty()) {
        *error = m_options.problem;
        return false;
    }
    auto found = std::make_shared<JournalSession::Found>();
    auto failure = std::make_shared<QString>();
    const auto job = [=](JournalSession &s) {
        QString why;
        if (s.sqlite() && !QFileInfo::exists(s.options().path)) {
            s.drop();
            return; // nothing there
        }
        if (!s.open(&why) || !s.look(found.get(), &why)) {
            *failure = s.failText(QStringLiteral("读取生产记录"), why);
            s.drop();
        }
    };
    QString timeout;
    if (!perform(job, &timeout))
        *failure = timeout;
    if (!failure->isEmpty()) {
        *error = *failure;
        return false;
    }
    out->storeId = found->id;
    if (!found->id.isEmpty())
        out->state = out->knownId.isEmpty() || out->knownId == found->id ? Identity::InOrder
                                                                         : Identity::Replaced;
    else if (found->attempts && out->knownId.isEmpty())
        out->state = Identity::InOrder; // a record from before records had an id
    else if (!out->knownId.isEmpty())
        out->state = Identity::Emptied;
    else
        out->state = anyKnown ? Identity::Unfamiliar : Identity::FirstStart;
    return true;
}

bool Journal::startNewRecord(bool *made, QString *error)
{
    if (!m_options.problem.isEmpty()) {
        *error = m_options.problem;
        return false;
    }
    auto storeId = std::make_shared<QString>();
    auto wasMade = std::make_shared<bool>(false);
    auto failure = std::make_shared<QString>();
    const auto job = [=](JournalSession &s) {
        s.ready(QString(), false, true, storeId.get(), wasMade.get(), failure.get());
    };
    QString timeout;
    if (!perform(job, &timeout))
        *failure = timeout;
    if (!failure->isEmpty()) {
        *error = *failure;
        return false;
    }
    // What was kept for the record this bench used before belongs to it alone.
    m_memory->setOutcomes({});
    m_memory->setUnanswered({});
    m_memory->running.clear();
    m_memory->setValue("id", *storeId);
    m_memory->setValue("where", where());
    m_memory->lastAttempt = 0;
    m_memory->setValue("attempts", 0);
    m_memory->setValue("usedMs", QDateTime::currentMSecsSinceEpoch());
    *made = *wasMade;
    return m_memory->save(error);
}

bool Journal::run(const std::function<bool(QSqlDatabase &, QString *)> &job, QString *error)
{
    if (!m_options.problem.isEmpty()) {
        *error = m_options.problem;
        return false;
    }
    const QString knownId = m_memory->knownId();
    const bool anyKnown = m_memory->anyKnown();
    auto failure = std::make_shared<QString>();
    const auto task = [=](JournalSession &s) {
        QString storeId;
        bool made = false;
        if (!s.ready(knownId, anyKnown, false, &storeId, &made, failure.get()))
            return;
        QSqlDatabase db = s.db();
        QString why;
        if (!job(db, &why))
            *failure = why.isEmpty() ? s.failText(QStringLiteral("写入生产记录"), QString()) : why;
    };
    QString timeout;
    if (!perform(task, &timeout))
        *failure = timeout;
    if (failure->isEmpty())
        return true;
    *error = *failure;
    return false;
}

QSqlDatabase Journal::database(QString *error)
{
    // The record's identity checked (and the record made on a first start)
    // as for a press, in the same words when refused.
    if (!run([](QSqlDatabase &, QString *) { return true; }, error))
        return QSqlDatabase();
    if (m_callerConnection.isEmpty())
        m_callerConnection = connectionName();
    if (QSqlDatabase::contains(m_callerConnection)) {
        QSqlDatabase db = QSqlDatabase::database(m_callerConnection, false);
        if (db.isOpen())
            return db;
        QSqlDatabase::removeDatabase(m_callerConnection);
    }
    QString why;
    if (!openConnection(m_options, m_callerConnection, &why)) {
        *error = failText(QStringLiteral("连接生产记录"), why);
        return QSqlDatabase();
    }
    return QSqlDatabase::database(m_callerConnection, false);
}

QString macTakenText(const QString &mac, qint64 timeMs, const QString &sn)
{
    return QStringLiteral("MAC %1 已于 %2 写入 SN %3，未写入")
        .arg(mac,
             QDateTime::fromMSecsSinceEpoch(timeMs).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
             sn.isEmpty() ? QStringLiteral("无") : sn);
}

QString operationText(const QString &operation)
{
    if (operation == QLatin1String(kOpWriteMac))
        return QStringLiteral("写MAC");
    if (operation == QLatin1String(kOpReadMac))
        return QStringLiteral("读MAC");
    if (operation == QLatin1String(kOpFactoryReset))
        return QStringLiteral("恢复出厂默认");
    return operation;
}

QString resultText(const QString &result)
{
    static const QList<QPair<const char *, QString>> texts = {
        {kResultPending, QStringLiteral("已发送，结果未知")},
        {kResultVerified, QStringLiteral("已写入，读回一致")},
        {kResultReadBackFailed, QStringLiteral("已写入，读回不符")},
        {kResultNoReply, QStringLiteral("无应答")},
        {kResultBadReply, QStringLiteral("应答无效")},
        {kResultDeviceError, QStringLiteral("设备返回错误")},
        {kResultRefused, QStringLiteral("拒绝，未发送")},
        {kResultOk, QStringLiteral("成功")},
        {kResultNotSent, QStringLiteral("操作中止，未发送")},
        {kResultAborted, QStringLiteral("操作中止，结果未知")},
    };
    for (const auto &t : texts) {
        if (result == QLatin1String(t.first))
            return t.second;
    }
    return result;
}

QByteArray journalCsvRows(const QVector<JournalRow> &rows)
{
    QByteArray out;
    for (const JournalRow &r : rows) {
        const QString time = QDateTime::fromMSecsSinceEpoch(r.timeMs).toString(
            QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
        QStringList fields{
            time,    r.bench, r.port, r.sn, operationText(r.operation), r.mac, resultText(r.result),
            r.detail};
        for (QString &f : fields)
            f = quoteCsv(f);
        out += fields.join(QLatin1Char(',')).toUtf8();
        out += "\r\n";
    }
    return out;
}

QByteArray journalCsv(const QVector<JournalRow> &rows)
{
    return QByteArray("\xEF\xBB\xBF")
           + QStringLiteral("时间,工位,串口,SN,操作,MAC,结果,说明\r\n").toUtf8()
           + journalCsvRows(rows);
}
