// The record of unit runs over Qt SQL: statements that SQLite and PostgreSQL
// both take, each run as a job on the record's own thread.

#include "device/runrecord.h"

#include "device/journal.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <limits>

const char kVerdictPass[] = "pass";
const char kVerdictFail[] = "fail";
const char kVerdictAborted[] = "aborted";
const char kOutcomePass[] = "pass";
const char kOutcomeFail[] = "fail";
const char kOutcomeAborted[] = "aborted";

namespace {

// Looked through first, newest down, without an index: a filter most runs
// match fills its page from here.
constexpr int kRecentRuns = 2000;

const char kRunColumns[] = "id, start_ms, duration_ms, bench, port, sn, mac, plan_name, "
                           "plan_sha256, verdict, steps";
const char kStepColumns[] = "step_no, section, type, module, name, measured, limits, outcome, "
                            "detail";

const char *verdictCode(UnitRun::Verdict verdict)
{
    switch (verdict) {
    case UnitRun::Pass:
        return kVerdictPass;
    case UnitRun::Fail:
        return kVerdictFail;
    case UnitRun::Aborted:
        break;
    }
    return kVerdictAborted;
}

const char *outcomeCode(StepResult::Outcome outcome)
{
    switch (outcome) {
    case StepResult::Pass:
        return kOutcomePass;
    case StepResult::Fail:
        return kOutcomeFail;
    case StepResult::Aborted:
        break;
    }
    return kOutcomeAborted;
}

// The record keeps "" for none; a null string would bind as SQL NULL.
QVariant text(const QString &s)
{
    return s.isNull() ? QVariant(QLatin1String("")) : QVariant(s);
}

bool fail(const QSqlQuery &query, QString *why)
{
    *why = query.lastError().text();
    return false;
}

bool makeSchema(QSqlDatabase &db, bool sqlite, QString *why)
{
    const QString idColumn = sqlite ? QStringLiteral("id INTEGER PRIMARY KEY AUTOINCREMENT")
                                    : QStringLiteral("id BIGSERIAL PRIMARY KEY");
    const QString pattern = sqlite ? QString() : QStringLiteral(" text_pattern_ops");
    const QStringList schema = {
        QStringLiteral("CREATE TABLE IF NOT EXISTS unit_runs (%1, start_ms BIGINT NOT NULL, "
                       "duration_ms BIGINT NOT NULL, bench TEXT NOT NULL, port TEXT NOT NULL, "
                       "sn TEXT NOT NULL, mac TEXT NOT NULL, plan_name TEXT NOT NULL, "
                       "plan_sha256 TEXT NOT NULL, verdict TEXT NOT NULL, steps INTEGER NOT NULL)")
            .arg(idColumn),
        QStringLiteral("CREATE TABLE IF NOT EXISTS unit_run_steps (run_id BIGINT NOT NULL, "
                       "step_no INTEGER NOT NULL, section TEXT NOT NULL, type TEXT NOT NULL, "
                       "module INTEGER NOT NULL, name TEXT NOT NULL, measured TEXT NOT NULL, "
                       "limits TEXT NOT NULL, outcome TEXT NOT NULL, detail TEXT NOT NULL, "
                       "PRIMARY KEY (run_id, step_no))"),
        // A unit's first run is looked up by its serial number, a day by its time.
        QStringLiteral("CREATE INDEX IF NOT EXISTS unit_runs_sn ON unit_runs (sn)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS unit_runs_start ON unit_runs (start_ms)"),
        // What the record window filters by: a serial number's beginning in
        // any case, and a verdict newest first.
        QStringLiteral("CREATE INDEX IF NOT EXISTS unit_runs_sn_prefix ON unit_runs (upper(sn)%1)")
            .arg(pattern),
        QStringLiteral("CREATE INDEX IF NOT EXISTS unit_runs_verdict ON unit_runs (verdict, id)"),
    };
    for (const QString &sql : schema) {
        QSqlQuery query(db);
        // Two benches starting at once may both create a table on a new
        // server; the loser finds the winner's table on the second try.
        if (!query.exec(sql) && !query.exec(sql))
            return fail(query, why);
    }
    return true;
}

void readRuns(QSqlQuery &query, QVector<RunRow> *out)
{
    while (query.next()) {
        RunRow r;
        r.id = query.value(0).toLongLong();
        r.startMs = query.value(1).toLongLong();
        r.durationMs = query.value(2).toLongLong();
        r.bench = query.value(3).toString();
        r.port = query.value(4).toString();
        r.sn = query.value(5).toString();
        r.mac = query.value(6).toString();
        r.planName = query.value(7).toString();
        r.planSha256 = query.value(8).toString();
        r.verdict = query.value(9).toString();
        r.steps = query.value(10).toInt();
        out->append(r);
    }
}

// From the column after first on: a query of kStepColumns.
RunStepRow readStep(const QSqlQuery &query, int first)
{
    RunStepRow s;
    s.number = query.value(first).toInt();
    s.section = query.value(first + 1).toString();
    s.type = query.value(first + 2).toString();
    s.module = query.value(first + 3).toInt();
    s.name = query.value(first + 4).toString();
    s.measured = query.value(first + 5).toString();
    s.limits = query.value(first + 6).toString();
    s.outcome = query.value(first + 7).toString();
    s.detail = query.value(first + 8).toString();
    return s;
}

bool exec(QSqlQuery &query, const QVariantList &binds, QString *why)
{
    for (const QVariant &v : binds)
        query.addBindValue(v);
    return query.exec() || fail(query, why);
}

// One condition of a filter in two forms: one that its index answers, and
// one that no index can (the column dressed in "|| ''" or "+ 0"), for the
// queries where another index, or the key's order, must do the work. A
// planner left to choose between the key's order and a condition's index
// guesses wrong for one kind of filter or the other.
struct Condition
{
    QString indexed;
    QString plain;
    QVariantList binds;
};

qint64 dayStartMs(const QDate &day)
{
    return QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch();
}

Condition dayCondition(const QDate &day)
{
    return Condition{QStringLiteral("start_ms >= ? AND start_ms < ?"),
                     QStringLiteral("start_ms + 0 >= ? AND start_ms + 0 < ?"),
                     {dayStartMs(day), dayStartMs(day.addDays(1))}};
}

// Most selective first: a day holds a few hundred runs; a serial number's
// beginning may match few or all; a verdict matches many.
QVector<Condition> conditions(const RunFilter &f, bool sqlite)
{
    QVector<Condition> out;
    if (f.day.isValid())
        out << dayCondition(f.day);
    const QString sn = f.sn.trimmed();
    if (!sn.isEmpty()) {
        // In the driver's own words, so that a generic plan of a prepared
        // query still uses the index.
        const QString ge = sqlite ? QStringLiteral(">=") : QStringLiteral("~>=~");
        const QString lt = sqlite ? QStringLiteral("<") : QStringLiteral("~<~");
        const QString top
            = sqlite ? QStringLiteral("char(1114111)") : QStringLiteral("chr(1114111)");
        const QString range = QStringLiteral("(%1 %2 upper(?) AND %1 %3 (upper(?) || %4))");
        out << Condition{range.arg(QStringLiteral("upper(sn)"), ge, lt, top),
                         range.arg(QStringLiteral("upper(sn || '')"), ge, lt, top),
                         {sn, sn}};
    }
    if (!f.verdict.isEmpty())
        out << Condition{
            QStringLiteral("verdict = ?"), QStringLiteral("verdict || '' = ?"), {f.verdict}};
    return out;
}

// A page of runs newest first below beforeId. The newest runs are looked
// through first in the key's order; what they do not fill is asked of the
// most selective condition's index.
bool runPage(QSqlDatabase &db, const RunFilter &filter, bool sqlite, qint64 beforeId, int limit,
             QVector<RunRow> *out, QString *why)
{
    const QVector<Condition> all = conditions(filter, sqlite);
    const QString columns = QLatin1String(kRunColumns);
    if (all.isEmpty()) {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT %1 FROM unit_runs WHERE id < ? ORDER BY id DESC "
                                     "LIMIT ?")
                          .arg(columns));
        if (!exec(query, {beforeId, limit}, why))
            return false;
        readRuns(query, out);
        return true;
    }

    qint64 before = beforeId;
    if (before == std::numeric_limits<qint64>::max()) {
        QSqlQuery newest(db);
        if (!newest.exec(QStringLiteral("SELECT max(id) FROM unit_runs")))
            return fail(newest, why);
        before = newest.next() ? newest.value(0).toLongLong() + 1 : 0;
    }
    const qint64 floor = qMax<qint64>(0, before - kRecentRuns);
    QStringList plain;
    QVariantList plainBinds;
    for (const Condition &c : all) {
        plain << c.plain;
        plainBinds += c.binds;
    }
    QSqlQuery recent(db);
    recent.setForwardOnly(true);
    recent.prepare(QStringLiteral("SELECT %1 FROM unit_runs WHERE id < ? AND id >= ? AND %2 "
                                  "ORDER BY id DESC LIMIT ?")
                       .arg(columns, plain.join(QStringLiteral(" AND "))));
    if (!exec(recent, QVariantList{before, floor} + plainBinds + QVariantList{limit}, why))
        return false;
    readRuns(recent, out);
    if (out->size() >= limit || floor == 0)
        return true;

    // A serial number's beginning may match most runs ("PDU"): then the
    // verdict's index, already in the key's order, fills a page sooner than
    // sorting every run the beginning matches.
    int drive = 0;
    const bool snAndVerdict
        = !filter.day.isValid() && !filter.sn.trimmed().isEmpty() && !filter.verdict.isEmpty();
    if (snAndVerdict) {
        QSqlQuery probe(db);
        probe.setForwardOnly(true);
        probe.prepare(QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM unit_runs WHERE %1 "
                                     "LIMIT %2) AS m")
                          .arg(all.first().indexed)
                          .arg(kRecentRuns));
        if (!exec(probe, all.first().binds, why) || !probe.next())
            return false;
        if (probe.value(0).toInt() >= kRecentRuns)
            drive = all.size() - 1;
    }
    // "id + 0": the order comes from sorting what the index found, not
    // from walking the key past every run that does not match; the
    // verdict's index holds the key in its order and walks it.
    QStringList terms{all.at(drive).indexed};
    QVariantList binds = all.at(drive).binds;
    for (int i = 0; i < all.size(); ++i) {
        if (i == drive)
            continue;
        terms << all.at(i).plain;
        binds += all.at(i).binds;
    }
    const QString below = drive > 0 ? QStringLiteral("id < ?") : QStringLiteral("id + 0 < ?");
    QSqlQuery older(db);
    older.setForwardOnly(true);
    older.prepare(QStringLiteral("SELECT %1 FROM unit_runs WHERE %2 AND %3 "
                                 "ORDER BY id DESC LIMIT ?")
                      .arg(columns, terms.join(QStringLiteral(" AND ")), below));
    if (!exec(older, binds + QVariantList{floor, limit - out->size()}, why))
        return false;
    readRuns(older, out);
    return true;
}

} // namespace

RunRecord::RunRecord(Journal &journal)
    : m_journal(journal)
    , m_schemaMade(std::make_shared<std::atomic<bool>>(false))
{}

bool RunRecord::perform(const QString &what,
                        const std::function<bool(QSqlDatabase &, QString *)> &job, QString *error,
                        const std::shared_ptr<std::atomic<bool>> &abandoned)
{
    const auto schemaMade = m_schemaMade;
    const bool sqlite = m_journal.options().driver == JournalOptions::Sqlite;
    const QString where = m_journal.where();
    const bool done = m_journal.run(
        [=](QSqlDatabase &db, QString *why) {
            QString reason;
            if (!schemaMade->load()) {
                if (!makeSchema(db, sqlite, &reason)) {
                    *why
                        = QStringLiteral("建立测试记录失败（%1）：%2").arg(where, reason.trimmed());
                    return false;
                }
                schemaMade->store(true);
            }
            if (job(db, &reason))
                return true;
            // A store made anew behind this program has no tables yet:
            // looked at again by the next job.
            schemaMade->store(false);
            *why = QStringLiteral("%1失败（%2）：%3").arg(what, where, reason.trimmed());
            return false;
        },
        error);
    if (!done && abandoned)
        abandoned->store(true);
    return done;
}

bool RunRecord::write(const UnitRun &run, QString *error)
{
    const bool sqlite = m_journal.options().driver == JournalOptions::Sqlite;
    // Set once the call has given up: the job may still be waiting on the
    // server then, and must not commit a run the verdict said is not on record.
    auto abandoned = std::make_shared<std::atomic<bool>>(false);
    const auto job = [run, sqlite, abandoned](QSqlDatabase &db, QString *why) {
        QSqlQuery begin(db);
        // IMMEDIATE: the file's write lock is taken (or waited for) at once.
        if (!begin.exec(sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN")))
            return fail(begin, why);
        const auto rollBack = [&db](const QSqlQuery &failed, QString *reason) {
            fail(failed, reason);
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            return false;
        };

        QSqlQuery insert(db);
        insert.prepare(QStringLiteral("INSERT INTO unit_runs (start_ms, duration_ms, bench, port, "
                                      "sn, mac, plan_name, plan_sha256, verdict, steps) "
                                      "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"));
        for (const QVariant &v :
             {QVariant(run.start.toMSecsSinceEpoch()), QVariant(run.durationMs), text(run.bench),
              text(run.port), text(run.sn), text(run.mac), text(run.planName), text(run.planSha256),
              QVariant(QString::fromLatin1(verdictCode(run.verdict))), QVariant(run.steps.size())})
            insert.addBindValue(v);
        if (!insert.exec() || !insert.next())
            return rollBack(insert, why);
        const qint64 id = insert.value(0).toLongLong();
        insert.finish();

        QSqlQuery step(db);
        step.prepare(QStringLiteral("INSERT INTO unit_run_steps (run_id, step_no, section, type, "
                                    "module, name, measured, limits, outcome, detail) "
                                    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (const StepResult &s : run.steps) {
            for (const QVariant &v :
                 {QVariant(id), QVariant(s.number), text(s.section),
                  QVariant(planStepTypeName(s.type)), QVariant(s.module), text(s.name),
                  text(s.measured), text(s.limits),
                  QVariant(QString::fromLatin1(outcomeCode(s.outcome))), text(s.detail)})
                step.addBindValue(v);
            if (!step.exec())
                return rollBack(step, why);
        }
        // A server that answers after the call gave up (a backend stopped
        // and resumed) finds the run refused here. One that stops between
        // this look and the commit can still commit it: then the record
        // holds a run more than the verdict said, never one less.
        if (abandoned->load()) {
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            *why = QStringLiteral("超过时限，未写入");
            return false;
        }
        QSqlQuery commit(db);
        if (!commit.exec(QStringLiteral("COMMIT")))
            return rollBack(commit, why);
        return true;
    };
    return perform(QStringLiteral("写入测试记录"), job, error, abandoned);
}

QVector<RunRow> RunRecord::runs(const RunFilter &filter, QString *error)
{
    return page(filter, std::numeric_limits<qint64>::max(), qMax(1, filter.limit), error);
}

QVector<RunRow> RunRecord::page(const RunFilter &filter, qint64 beforeId, int limit, QString *error)
{
    const bool sqlite = m_journal.options().driver == JournalOptions::Sqlite;
    auto rows = std::make_shared<QVector<RunRow>>();
    const auto job = [=](QSqlDatabase &db, QString *why) {
        return runPage(db, filter, sqlite, beforeId, limit, rows.get(), why);
    };
    if (!perform(QStringLiteral("读取测试记录"), job, error))
        return {};
    return *rows;
}

QVector<RunStepRow> RunRecord::steps(qint64 runId, QString *error)
{
    auto rows = std::make_shared<QVector<RunStepRow>>();
    const auto job = [=](QSqlDatabase &db, QString *why) {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT %1 FROM unit_run_steps WHERE run_id = ? "
                                     "ORDER BY step_no")
                          .arg(QLatin1String(kStepColumns)));
        if (!exec(query, {runId}, why))
            return false;
        while (query.next())
            rows->append(readStep(query, 0));
        return true;
    };
    if (!perform(QStringLiteral("读取测试记录"), job, error))
        return {};
    return *rows;
}

QVector<RunWithSteps> RunRecord::pageWithSteps(qint64 beforeId, int limit, QString *error)
{
    auto out = std::make_shared<QVector<RunWithSteps>>();
    const bool sqlite = m_journal.options().driver == JournalOptions::Sqlite;
    const auto job = [=](QSqlDatabase &db, QString *why) {
        QVector<RunRow> runs;
        if (!runPage(db, RunFilter(), sqlite, beforeId, limit, &runs, why))
            return false;
        if (runs.isEmpty())
            return true;
        // The page's steps in one walk of the steps' key, in the runs' order.
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT run_id, %1 FROM unit_run_steps WHERE run_id >= ? "
                                     "AND run_id <= ? ORDER BY run_id DESC, step_no")
                          .arg(QLatin1String(kStepColumns)));
        if (!exec(query, {runs.last().id, runs.first().id}, why))
            return false;
        out->reserve(runs.size());
        for (const RunRow &r : qAsConst(runs))
            out->append(RunWithSteps{r, {}});
        int at = 0;
        while (query.next()) {
            const qint64 runId = query.value(0).toLongLong();
            while (at < out->size() && out->at(at).run.id > runId)
                ++at;
            if (at < out->size() && out->at(at).run.id == runId)
                (*out)[at].steps.append(readStep(query, 1));
        }
        return true;
    };
    if (!perform(QStringLiteral("读取测试记录"), job, error))
        return {};
    return *out;
}

bool RunRecord::yield(const QDate &day, const QString &bench, DayYield *out, QString *error)
{
    auto figures = std::make_shared<DayYield>();
    const auto job = [=](QSqlDatabase &db, QString *why) {
        // The day's runs of the bench (or of all), by the start's index;
        // prefix names the table where two are joined.
        const auto dayRuns = [&](const QString &prefix, QVariantList *binds) {
            const Condition onDay = dayCondition(day);
            QString where
                = QString(onDay.indexed)
                      .replace(QStringLiteral("start_ms"), prefix + QStringLiteral("start_ms"));
            *binds = onDay.binds;
            if (!bench.isEmpty()) {
                where += QStringLiteral(" AND %1bench = ?").arg(prefix);
                *binds << bench;
            }
            return where;
        };
        // The day's units, each with its number of runs that day and the
        // verdict of its first run on record, whatever the day or bench.
        QVariantList binds;
        QSqlQuery units(db);
        units.setForwardOnly(true);
        units.prepare(
            QStringLiteral("SELECT count(*), sum(n), sum(CASE WHEN (SELECT f.verdict FROM "
                           "unit_runs f WHERE f.sn = d.sn ORDER BY f.id LIMIT 1) = '%1' THEN 1 "
                           "ELSE 0 END) FROM (SELECT sn, count(*) AS n FROM unit_runs WHERE %2 "
                           "GROUP BY sn) AS d")
                .arg(QLatin1String(kVerdictPass), dayRuns(QString(), &binds)));
        if (!exec(units, binds, why))
            return false;
        if (!units.next())
            return fail(units, why);
        figures->units = units.value(0).toInt();
        figures->runs = units.value(1).toInt();
        figures->firstPass = units.value(2).toInt();

        QSqlQuery steps(db);
        steps.setForwardOnly(true);
        steps.prepare(QStringLiteral("SELECT s.step_no, s.section, s.module, s.name, count(*) AS "
                                     "failures FROM unit_runs r JOIN unit_run_steps s ON "
                                     "s.run_id = r.id WHERE %1 AND s.outcome = '%2' GROUP BY "
                                     "s.step_no, s.section, s.module, s.name "
                                     "ORDER BY failures DESC, s.step_no, s.module")
                          .arg(dayRuns(QStringLiteral("r."), &binds), QLatin1String(kOutcomeFail)));
        if (!exec(steps, binds, why))
            return false;
        while (steps.next()) {
            DayYield::Step s;
            s.number = steps.value(0).toInt();
            s.section = steps.value(1).toString();
            s.module = steps.value(2).toInt();
            s.name = steps.value(3).toString();
            s.failures = steps.value(4).toInt();
            figures->steps << s;
        }
        return true;
    };
    if (!perform(QStringLiteral("读取测试记录"), job, error))
        return false;
    *out = *figures;
    return true;
}

QStringList RunRecord::benches(const QDate &day, QString *error)
{
    auto names = std::make_shared<QStringList>();
    const auto job = [=](QSqlDatabase &db, QString *why) {
        const Condition onDay = dayCondition(day);
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT DISTINCT bench FROM unit_runs WHERE %1 ORDER BY bench")
                          .arg(onDay.indexed));
        if (!exec(query, onDay.binds, why))
            return false;
        while (query.next())
            names->append(query.value(0).toString());
        return true;
    };
    if (!perform(QStringLiteral("读取测试记录"), job, error))
        return {};
    return *names;
}

QString runOutcomeText(const QString &code)
{
    if (code == QLatin1String(kVerdictPass))
        return QStringLiteral("合格");
    if (code == QLatin1String(kVerdictFail))
        return QStringLiteral("不合格");
    if (code == QLatin1String(kVerdictAborted))
        return QStringLiteral("中止");
    return code;
}

QString runStepTypeText(const QString &type)
{
    static const QList<QPair<PlanStep::Type, QString>> texts = {
        {PlanStep::Read, QStringLiteral("读取")},  {PlanStep::Switch, QStringLiteral("开关")},
        {PlanStep::Write, QStringLiteral("写入")}, {PlanStep::Clock, QStringLiteral("时钟")},
        {PlanStep::Mac, QStringLiteral("写MAC")},  {PlanStep::Reset, QStringLiteral("恢复出厂")},
        {PlanStep::Delay, QStringLiteral("等待")},
    };
    for (const auto &t : texts) {
        if (type == planStepTypeName(t.first))
            return t.second;
    }
    return type;
}

QByteArray runsCsvHeader()
{
    return QByteArray("\xEF\xBB\xBF")
           + QStringLiteral(
                 "测试编号,开始时间,工位,串口,SN,MAC,测试计划,计划SHA-256,结论,用时（秒）,"
                 "检查项数,序号,步骤,类型,模块,检查项,测量值,限值,结果,说明\r\n")
                 .toUtf8();
}

QByteArray runsCsvRows(const QVector<RunWithSteps> &runs)
{
    QByteArray out;
    for (const RunWithSteps &r : runs) {
        const QStringList run{
            QString::number(r.run.id),
            QDateTime::fromMSecsSinceEpoch(r.run.startMs)
                .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")),
            r.run.bench,
            r.run.port,
            r.run.sn,
            r.run.mac,
            r.run.planName,
            r.run.planSha256,
            runOutcomeText(r.run.verdict),
            QString::number(r.run.durationMs / 1000.0, 'f', 1),
            QString::number(r.run.steps),
        };
        const auto line = [&out, &run](const QStringList &step) {
            QStringList fields;
            for (const QString &f : run + step)
                fields << csvField(f);
            out += fields.join(QLatin1Char(',')).toUtf8();
            out += "\r\n";
        };
        if (r.steps.isEmpty())
            line(QStringList{QString(), QString(), QString(), QString(), QString(), QString(),
                             QString(), QString(), QString()});
        for (const RunStepRow &s : r.steps)
            line({QString::number(s.number), s.section, runStepTypeText(s.type),
                  s.module >= 0 ? QString::number(s.module) : QString(), s.name, s.measured,
                  s.limits, runOutcomeText(s.outcome), s.detail});
    }
    return out;
}
