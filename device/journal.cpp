// The provisioning record in an SQL database: SQLite or PostgreSQL.

#include "device/journal.h"

#include "config/settings.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QSysInfo>
#include <QVariant>

#include <atomic>

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

constexpr int kSqliteBusyTimeoutMs = 5000; // another bench process holds the file for a moment

const char kJournalGroup[] = "journal";

QString configText(const char *key)
{
    return read_config_string(QLatin1String(kJournalGroup), QLatin1String(key)).trimmed();
}

QString quoteCsv(const QString &field)
{
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"'))
        && !field.contains(QLatin1Char('\n')) && !field.contains(QLatin1Char('\r')))
        return field;
    QString quoted = field;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// A null string binds as SQL NULL; the record keeps "" for "none".
QVariant text(const QString &s)
{
    return s.isNull() ? QVariant(QLatin1String("")) : QVariant(s);
}

} // namespace

QString macText(const unsigned char bytes[6])
{
    QStringList groups;
    for (int i = 0; i < 6; ++i)
        groups << QStringLiteral("%1").arg(bytes[i], 2, 16, QLatin1Char('0')).toUpper();
    return groups.join(QLatin1Char(':'));
}

QString JournalOptions::defaultSqlitePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
           + QStringLiteral("/provisioning.db");
}

JournalOptions JournalOptions::fromConfig(QString *error)
{
    JournalOptions o;
    o.bench = QSysInfo::machineHostName();
    const QString driver = configText("driver").toLower();
    if (driver == QLatin1String("postgresql") || driver == QLatin1String("postgres")) {
        o.driver = Postgres;
    } else if (!driver.isEmpty() && driver != QLatin1String("sqlite")) {
        *error = QStringLiteral("config.ini [journal] driver=%1 无效（应为 sqlite 或 postgresql），"
                                "改用本机 SQLite 记录")
                     .arg(driver);
    }
    o.path = configText("path");
    if (o.path.isEmpty())
        o.path = defaultSqlitePath();
    o.host = configText("host");
    o.database = configText("database");
    o.user = configText("user");
    const QString port = configText("port");
    if (!port.isEmpty()) {
        bool ok = false;
        const int p = port.toInt(&ok);
        if (ok && p > 0 && p < 65536)
            o.port = p;
        else if (error->isEmpty())
            *error = QStringLiteral("config.ini [journal] port=%1 无效，使用 5432").arg(port);
    }
    const QString bench = configText("bench");
    if (!bench.isEmpty())
        o.bench = bench;
    if (o.driver == Postgres && o.database.isEmpty())
        o.database = QStringLiteral("feederbench");
    return o;
}

Journal::Journal(const JournalOptions &options)
    : m_options(options)
{
    static std::atomic<int> serial{0};
    m_connection = QStringLiteral("feederbench-journal-%1").arg(++serial);
}

Journal::~Journal()
{
    dropConnection();
}

QString Journal::where() const
{
    if (m_options.driver == JournalOptions::Sqlite)
        return QStringLiteral("SQLite ") + QDir::toNativeSeparators(m_options.path);
    return QStringLiteral("PostgreSQL %1@%2:%3")
        .arg(m_options.database,
             m_options.host.isEmpty() ? QStringLiteral("localhost") : m_options.host)
        .arg(m_options.port);
}

void Journal::dropConnection()
{
    if (!QSqlDatabase::contains(m_connection))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
    m_open = false;
}

QString Journal::failText(const QString &what, const QString &why) const
{
    return QStringLiteral("%1失败（%2）：%3").arg(what, where(), why.trimmed());
}

bool Journal::exec(const QString &sql, QString *error)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (query.exec(sql))
        return true;
    *error = query.lastError().text();
    return false;
}

bool Journal::ensureOpen(QString *error)
{
    if (m_open) {
        // A server that went away is found out here rather than halfway
        // through a transaction; the connection is then made afresh.
        QString ignored;
        if (m_options.driver == JournalOptions::Sqlite
            || exec(QStringLiteral("SELECT 1"), &ignored))
            return true;
        m_open = false;
    }
    // Queries of a broken connection are all gone by now: it can be removed.
    dropConnection();
    const bool sqlite = m_options.driver == JournalOptions::Sqlite;
    const QString driverName = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driverName)) {
        // The Windows build carries no PostgreSQL client: it keeps the record
        // on this PC only, and says so where the shared record was asked for.
        const QString why
            = sqlite ? QStringLiteral("缺少 Qt 数据库驱动 %1").arg(driverName)
                     : QStringLiteral("缺少 Qt 数据库驱动 %1：本版本不支持共享的 PostgreSQL 记录，"
                                      "请在 config.ini 的 [journal] 中改用 driver=sqlite")
                           .arg(driverName);
        *error = failText(QStringLiteral("打开生产记录"), why);
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(driverName, m_connection);
    if (sqlite) {
        const QFileInfo file(m_options.path);
        if (!QDir().mkpath(file.absolutePath())) {
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_connection);
            *error = failText(QStringLiteral("打开生产记录"),
                              QStringLiteral("无法建立文件夹 %1").arg(file.absolutePath()));
            return false;
        }
        db.setDatabaseName(m_options.path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kSqliteBusyTimeoutMs));
    } else {
        db.setHostName(m_options.host);
        db.setPort(m_options.port);
        db.setDatabaseName(m_options.database);
        db.setUserName(m_options.user);
        db.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(m_options.connectTimeoutS));
    }
    if (!db.open()) {
        const QString why = db.lastError().text();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
        *error = failText(QStringLiteral("连接生产记录"), why);
        return false;
    }
    m_open = true;

    QString why;
    bool ok = true;
    if (sqlite) {
        // Write-ahead log: a commit is one flush of the log, and it is on the
        // disk (synchronous FULL) before the commit returns.
        ok = exec(QStringLiteral("PRAGMA journal_mode=WAL"), &why)
             && exec(QStringLiteral("PRAGMA synchronous=FULL"), &why);
    }
    const QString idColumn = sqlite ? QStringLiteral("id INTEGER PRIMARY KEY AUTOINCREMENT")
                                    : QStringLiteral("id BIGSERIAL PRIMARY KEY");
    const QStringList schema = {
        QStringLiteral("CREATE TABLE IF NOT EXISTS attempts (%1, time_ms BIGINT NOT NULL, "
                       "bench TEXT NOT NULL, port TEXT NOT NULL, sn TEXT NOT NULL, "
                       "operation TEXT NOT NULL, mac TEXT NOT NULL, result TEXT NOT NULL, "
                       "detail TEXT NOT NULL)")
            .arg(idColumn),
        // One row per address ever sent: the key is what keeps an address to one unit.
        QStringLiteral("CREATE TABLE IF NOT EXISTS mac_claims (mac TEXT PRIMARY KEY, "
                       "sn TEXT NOT NULL, time_ms BIGINT NOT NULL, attempt BIGINT NOT NULL)"),
    };
    for (const QString &sql : schema) {
        if (!ok)
            break;
        ok = exec(sql, &why);
        // Two benches starting at once may both create the table on a new
        // server; the loser sees the winner's table on the second try.
        if (!ok)
            ok = exec(sql, &why);
    }
    if (!ok) {
        m_open = false;
        *error = failText(QStringLiteral("建立生产记录"), why);
        return false;
    }
    return true;
}

Journal::Start Journal::begin(const QString &operation, qint64 timeMs, const QString &port,
                              const QString &sn, const QString &mac)
{
    Start start;
    QString why;
    if (!ensureOpen(&start.error))
        return start;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    const bool sqlite = m_options.driver == JournalOptions::Sqlite;
    // IMMEDIATE: the file's write lock is taken (or waited for) at once, so
    // two processes never deadlock on upgrading a read lock.
    if (!exec(sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"), &why)) {
        m_open = false;
        start.error = failText(QStringLiteral("写入生产记录"), why);
        return start;
    }
    auto fail = [&](const QSqlQuery &query) {
        why = query.lastError().text();
        QString ignored;
        exec(QStringLiteral("ROLLBACK"), &ignored);
        m_open = false;
        start = Start();
        start.error = failText(QStringLiteral("写入生产记录"), why);
        return start;
    };

    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO attempts (time_ms, bench, port, sn, operation, mac, "
                                  "result, detail) VALUES (?, ?, ?, ?, ?, ?, ?, '') RETURNING id"));
    for (const QVariant &v :
         {QVariant(timeMs), text(m_options.bench), text(port), text(sn), text(operation), text(mac),
          QVariant(QString::fromLatin1(kResultPending))})
        insert.addBindValue(v);
    if (!insert.exec() || !insert.next())
        return fail(insert);
    start.id = insert.value(0).toLongLong();
    insert.finish();

    if (operation == QLatin1String(kOpWriteMac)) {
        // The claim and the check are one statement against the key: of two
        // benches inserting the same address, one insert does nothing.
        QSqlQuery claim(db);
        claim.prepare(QStringLiteral("INSERT INTO mac_claims (mac, sn, time_ms, attempt) "
                                     "VALUES (?, ?, ?, ?) ON CONFLICT (mac) DO NOTHING"));
        claim.addBindValue(text(mac));
        claim.addBindValue(text(sn));
        claim.addBindValue(timeMs);
        claim.addBindValue(start.id);
        if (!claim.exec())
            return fail(claim);
        if (claim.numRowsAffected() != 1) {
            QSqlQuery holder(db);
            holder.prepare(QStringLiteral("SELECT sn, time_ms FROM mac_claims WHERE mac = ?"));
            holder.addBindValue(mac);
            if (!holder.exec() || !holder.next())
                return fail(holder);
            const QString heldBy = holder.value(0).toString();
            // The same unit again is re-provisioning; without a serial number
            // nobody can tell it is the same unit.
            if (sn.isEmpty() || heldBy != sn) {
                start.taken = true;
                start.takenSn = heldBy;
                start.takenMs = holder.value(1).toLongLong();
                holder.finish();
                QSqlQuery refused(db);
                refused.prepare(QStringLiteral("UPDATE attempts SET result = ?, detail = ? "
                                               "WHERE id = ?"));
                refused.addBindValue(QString::fromLatin1(kResultRefused));
                refused.addBindValue(macTakenText(mac, start.takenMs, start.takenSn));
                refused.addBindValue(start.id);
                if (!refused.exec())
                    return fail(refused);
            }
        }
    }
    if (!exec(QStringLiteral("COMMIT"), &why)) {
        m_open = false;
        start = Start();
        start.error = failText(QStringLiteral("写入生产记录"), why);
    }
    return start;
}

bool Journal::finish(qint64 id, const QString &result, const QString &detail, const QString &mac,
                     QString *error)
{
    if (!ensureOpen(error))
        return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    const bool sqlite = m_options.driver == JournalOptions::Sqlite;
    QString why;
    // The outcome and the claim given back are one transaction: committed
    // together before the result line is shown.
    if (!exec(sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"), &why)) {
        *error = failText(QStringLiteral("写入生产记录"), why);
        m_open = false;
        return false;
    }
    const auto fail = [&](const QString &reason) {
        *error = failText(QStringLiteral("写入生产记录"), reason);
        QString ignored;
        exec(QStringLiteral("ROLLBACK"), &ignored);
        m_open = false;
        return false;
    };
    QSqlQuery update(db);
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
    if (!update.exec())
        return fail(update.lastError().text());
    if (result == QLatin1String(kResultNotSent)) {
        // Only the claim this attempt made: an address the unit already held
        // from an earlier write stays its own.
        QSqlQuery release(db);
        release.prepare(QStringLiteral("DELETE FROM mac_claims WHERE attempt = ?"));
        release.addBindValue(id);
        if (!release.exec())
            return fail(release.lastError().text());
    }
    if (!exec(QStringLiteral("COMMIT"), &why))
        return fail(why);
    return true;
}

QSqlDatabase Journal::database(QString *error)
{
    if (!ensureOpen(error))
        return QSqlDatabase();
    return QSqlDatabase::database(m_connection, false);
}

QVector<JournalRow> Journal::rows(const QString &filter, QString *error)
{
    QVector<JournalRow> out;
    if (!ensureOpen(error))
        return out;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT id, time_ms, bench, port, sn, operation, mac, result, "
                                   "detail FROM attempts ORDER BY id DESC"))) {
        *error = failText(QStringLiteral("读取生产记录"), query.lastError().text());
        m_open = false;
        return out;
    }
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
        if (!filter.isEmpty() && !row.sn.contains(filter, Qt::CaseInsensitive)
            && !row.mac.contains(filter, Qt::CaseInsensitive))
            continue;
        out << row;
    }
    return out;
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

QByteArray journalCsv(const QVector<JournalRow> &rows)
{
    QStringList lines;
    lines << QStringLiteral("时间,工位,串口,SN,操作,MAC,结果,说明");
    for (const JournalRow &r : rows) {
        const QString time = QDateTime::fromMSecsSinceEpoch(r.timeMs).toString(
            QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
        QStringList fields{
            time,    r.bench, r.port, r.sn, operationText(r.operation), r.mac, resultText(r.result),
            r.detail};
        for (QString &f : fields)
            f = quoteCsv(f);
        lines << fields.join(QLatin1Char(','));
    }
    return QByteArray("\xEF\xBB\xBF") + lines.join(QStringLiteral("\r\n")).toUtf8()
           + QByteArray("\r\n");
}
