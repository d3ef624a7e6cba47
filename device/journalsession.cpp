// The provisioning record's SQL: the connection on its worker thread, the
// record's identity and tables, a claim and what earlier presses left, and
// the filtered pages of the record window.

#include "device/journalsession.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUuid>

#include <algorithm>
#include <functional>
#include <limits>

namespace {

// The hexadecimal digits of an address read backwards, so that an index on
// it finds addresses by how they end ("90:00:10" is how an engineer reads an
// address off a label). Written out with substr: both SQLite and PostgreSQL
// index such an expression.
const char kMacTail[] = "(substr(mac,17,1)||substr(mac,16,1)||substr(mac,14,1)||substr(mac,13,1)||"
                        "substr(mac,11,1)||substr(mac,10,1)||substr(mac,8,1)||substr(mac,7,1)||"
                        "substr(mac,5,1)||substr(mac,4,1)||substr(mac,2,1)||substr(mac,1,1))";

} // namespace

QVariant journalText(const QString &s)
{
    return s.isNull() ? QVariant(QLatin1String("")) : QVariant(s);
}

QString randomJournalId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

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

bool openJournalConnection(const JournalOptions &o, const QString &name, QString *why)
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
    if (!openJournalConnection(m_o, m_connection, why))
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
    insert.addBindValue(randomJournalId());
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
    update.addBindValue(journalText(result));
    update.addBindValue(journalText(detail));
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

namespace {

const char kUnansweredDetail[] = "生产记录未及时应答，未发送";

} // namespace

bool settleUnanswered(JournalSession &s, qint64 attempt, QString *why)
{
    return s.writeOutcome(attempt, QLatin1String(kResultNotSent),
                          QString::fromUtf8(kUnansweredDetail), QString(), why);
}

// What earlier presses left, written in one transaction before any new claim:
// outcomes known but not written, and claims whose answer came too late
// (given back if they were committed). *settled gets the tokens done with.
bool catchUpOnRecord(JournalSession &s, const QVector<KeptOutcome> &kept,
                     const QVector<Unanswered> &unanswered, QStringList *settled, QString *why)
{
    if (!s.beginTransaction(why))
        return false;
    for (const KeptOutcome &k : kept) {
        if (!s.writeOutcome(k.id, k.result, k.detail, k.mac, why))
            return false;
    }
    for (const Unanswered &u : unanswered) {
        QSqlQuery find(s.db());
        find.prepare(QStringLiteral("SELECT id FROM attempts WHERE token = ? AND result = ?"));
        find.addBindValue(u.token);
        find.addBindValue(QString::fromLatin1(kResultPending));
        if (!find.exec()) {
            *why = find.lastError().text();
            return false;
        }
        if (find.next()) {
            const qint64 id = find.value(0).toLongLong();
            find.finish();
            if (!settleUnanswered(s, id, why))
                return false;
            *settled << u.token;
        } else if (!u.stillRunning) {
            *settled << u.token; // never committed, or settled by its own thread
        }
    }
    return s.exec(QStringLiteral("COMMIT"), why);
}

namespace {

QString timeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

} // namespace

// Inside the caller's transaction: the attempt's row and, for a MAC write,
// the unit's check and the address's claim; a refusal goes on the row. False
// only on a database error.
bool recordAttempt(JournalSession &s, const Attempt &a, const QVector<Unanswered> &unanswered,
                   Journal::Start *start, QStringList *settled, QString *why)
{
    QSqlQuery insert(s.db());
    insert.prepare(QStringLiteral(
        "INSERT INTO attempts (time_ms, bench, port, sn, operation, mac, result, detail, token) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, '', ?) RETURNING id"));
    for (const QVariant &v : {QVariant(a.timeMs), journalText(a.bench), journalText(a.port),
                              journalText(a.sn), journalText(a.operation), journalText(a.mac),
                              QVariant(QString::fromLatin1(kResultPending)), QVariant(a.token)})
        insert.addBindValue(v);
    if (!insert.exec() || !insert.next()) {
        *why = insert.lastError().text();
        return false;
    }
    start->id = insert.value(0).toLongLong();
    insert.finish();
    if (a.operation != QLatin1String(kOpWriteMac))
        return true;

    const auto refuse = [&](const QString &line) {
        start->taken = true;
        start->refusal = line;
        QSqlQuery refused(s.db());
        refused.prepare(QStringLiteral("UPDATE attempts SET result = ?, detail = ? WHERE id = ?"));
        refused.addBindValue(QString::fromLatin1(kResultRefused));
        refused.addBindValue(line);
        refused.addBindValue(start->id);
        if (refused.exec())
            return true;
        *why = refused.lastError().text();
        return false;
    };

    // One unit, one address: a serial number that has a verified address
    // gets no other.
    if (!a.sn.isEmpty()) {
        QSqlQuery unit(s.db());
        unit.prepare(QStringLiteral("SELECT mac, time_ms FROM attempts WHERE upper(sn) = upper(?) "
                                    "AND sn = ? AND operation = ? AND result = ? AND mac <> ? "
                                    "ORDER BY id LIMIT 1"));
        for (const QVariant &v :
             {QVariant(a.sn), QVariant(a.sn), QVariant(QString::fromLatin1(kOpWriteMac)),
              QVariant(QString::fromLatin1(kResultVerified)), journalText(a.mac)})
            unit.addBindValue(v);
        if (!unit.exec()) {
            *why = unit.lastError().text();
            return false;
        }
        if (unit.next()) {
            start->takenMs = unit.value(1).toLongLong();
            const QString has = unit.value(0).toString();
            unit.finish();
            return refuse(QStringLiteral("SN %1 已于 %2 写入 MAC %3，未写入")
                              .arg(a.sn, timeText(start->takenMs), has));
        }
    }

    // The claim and the check are one statement against the key: of two
    // benches inserting the same address, one insert does nothing.
    for (int round = 0; round < 2; ++round) {
        QSqlQuery claim(s.db());
        claim.prepare(QStringLiteral("INSERT INTO mac_claims (mac, sn, time_ms, attempt) "
                                     "VALUES (?, ?, ?, ?) ON CONFLICT (mac) DO NOTHING"));
        claim.addBindValue(journalText(a.mac));
        claim.addBindValue(journalText(a.sn));
        claim.addBindValue(a.timeMs);
        claim.addBindValue(start->id);
        if (!claim.exec()) {
            *why = claim.lastError().text();
            return false;
        }
        if (claim.numRowsAffected() == 1)
            return true;
        QSqlQuery holder(s.db());
        holder.prepare(QStringLiteral(
            "SELECT c.sn, c.time_ms, c.attempt, a.bench, a.token, a.result "
            "FROM mac_claims c LEFT JOIN attempts a ON a.id = c.attempt WHERE c.mac = ?"));
        holder.addBindValue(a.mac);
        if (!holder.exec() || !holder.next()) {
            *why = holder.lastError().text();
            return false;
        }
        const QString heldBy = holder.value(0).toString();
        const qint64 heldMs = holder.value(1).toLongLong();
        const qint64 heldAttempt = holder.value(2).toLongLong();
        const QString heldBench = holder.value(3).toString();
        const QString heldToken = holder.value(4).toString();
        const bool heldPending = holder.value(5).toString() == QLatin1String(kResultPending);
        holder.finish();
        // A claim of this bench whose answer came too late is this very
        // press's predecessor, never sent: it is given back.
        bool ours = false;
        for (const Unanswered &u : unanswered)
            ours = ours || (!heldToken.isEmpty() && u.token == heldToken);
        if (round == 0 && ours && heldPending) {
            if (!settleUnanswered(s, heldAttempt, why))
                return false;
            *settled << heldToken;
            continue;
        }
        // The same unit again is re-provisioning; without a serial number
        // nobody can tell it is the same unit.
        if (a.sn.isEmpty() || heldBy != a.sn) {
            start->takenSn = heldBy;
            start->takenMs = heldMs;
            return refuse(macTakenText(a.mac, heldMs, heldBy));
        }
        // Two benches writing one serial number at once see it here.
        start->notes << QStringLiteral("SN %1 已于 %2 在 %3 写入过该地址，本次为重写")
                            .arg(a.sn, timeText(heldMs), heldBench);
        return true;
    }
    return true;
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

} // namespace

const char kJournalRowColumns[] = "id, time_ms, bench, port, sn, operation, mac, result, detail";

bool readJournalRows(QSqlQuery &query, QVector<JournalRow> *rows)
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
                       .arg(QLatin1String(kJournalRowColumns), anyTerm));
    recent.addBindValue(before);
    recent.addBindValue(recentFloor);
    for (const QVariant &v : qAsConst(anyBinds))
        recent.addBindValue(v);
    recent.addBindValue(limit);
    if (!readJournalRows(recent, rows)) {
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
                      .arg(QLatin1String(kJournalRowColumns), marks.join(QLatin1Char(','))));
    for (qint64 id : qAsConst(ids))
        fetch.addBindValue(id);
    if (!readJournalRows(fetch, rows)) {
        *why = fetch.lastError().text();
        return false;
    }
    return true;
}
