// The provisioning record in an SQL database: SQLite or PostgreSQL.

#include "device/journal.h"

#include "config/settings.h"
#include "device/journalsession.h"

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
#include <QVariant>
#include <QWaitCondition>

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

QString storeKey(const JournalOptions &o)
{
    if (o.driver == JournalOptions::Sqlite)
        return QStringLiteral("sqlite:") + QDir::cleanPath(QFileInfo(o.path).absoluteFilePath());
    return QStringLiteral("postgresql:%1:%2/%3").arg(o.host).arg(o.port).arg(o.database);
}

} // namespace

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
    *error = failText(
        QStringLiteral("访问生产记录"),
        QStringLiteral("%1 秒内没有完成（服务器或文件没有响应）").arg(m_options.timeLimitS));
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
    auto out = std::make_shared<Out>();
    auto settledByItsThread = std::make_shared<std::atomic<bool>>(false);

    const Attempt attempt{operation, timeMs, m_options.bench, port, sn, mac, randomJournalId()};
    const auto job = [=](JournalSession &s) {
        Out &o = *out;
        if (!s.ready(knownId, anyKnown, false, &o.storeId, &o.made, &o.start.error))
            return;
        // What earlier presses left first, then this press's attempt; a
        // database error leaves neither half done.
        QString why;
        bool ok = true;
        if (!kept.isEmpty() || !unanswered.isEmpty()) {
            ok = catchUpOnRecord(s, kept, unanswered, &o.settled, &why);
            if (ok)
                o.written = kept.size();
        }
        ok = ok && s.beginTransaction(&why)
             && recordAttempt(s, attempt, unanswered, &o.start, &o.settled, &why)
             && s.exec(QStringLiteral("COMMIT"), &why);
        if (!ok) {
            s.rollback();
            s.drop();
            o.start = Start();
            o.start.error = s.failText(QStringLiteral("写入生产记录"), why);
            return;
        }
        o.committed = true;
    };
    // A claim committed after the press was refused is given back by the
    // thread that made it, as soon as it can.
    const auto ifAbandoned = [out, settledByItsThread](JournalSession &s) {
        if (out->committed && out->start.id && !out->start.taken) {
            QString why;
            if (!s.beginTransaction(&why) || !settleUnanswered(s, out->start.id, &why)
                || !s.exec(QStringLiteral("COMMIT"), &why))
                s.rollback();
        }
        settledByItsThread->store(true);
    };

    QString error;
    if (!perform(job, &error, ifAbandoned)) {
        // Remembered until the record shows what became of it.
        m_memory->running.insert(attempt.token, settledByItsThread);
        QStringList tokens = m_memory->unanswered();
        tokens << attempt.token;
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
                              .arg(QLatin1String(kJournalRowColumns)));
            query.addBindValue(beforeId);
            query.addBindValue(limit);
            ok = readJournalRows(query, rows.get());
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
        if (QSqlDatabase::database(m_callerConnection, false).isOpen())
            return QSqlDatabase::database(m_callerConnection, false);
        QSqlDatabase::removeDatabase(m_callerConnection);
    }
    QString why;
    if (!openJournalConnection(m_options, m_callerConnection, &why)) {
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

QString csvField(const QString &field)
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
            f = csvField(f);
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
