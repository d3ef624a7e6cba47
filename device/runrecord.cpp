// The record of unit runs over Qt SQL: statements that SQLite and PostgreSQL both take.

#include "device/runrecord.h"

#include "device/journal.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

const char kVerdictPass[] = "pass";
const char kVerdictFail[] = "fail";
const char kVerdictAborted[] = "aborted";
const char kOutcomePass[] = "pass";
const char kOutcomeFail[] = "fail";
const char kOutcomeAborted[] = "aborted";

namespace {

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

} // namespace

RunRecord::RunRecord(Journal &journal)
    : m_journal(journal)
{}

bool RunRecord::ready(QString *error)
{
    QString why;
    QSqlDatabase db = m_journal.database(&why);
    if (!db.isValid()) {
        *error = why;
        return false;
    }
    if (m_schemaMade)
        return true;
    const bool sqlite = m_journal.options().driver == JournalOptions::Sqlite;
    const QString idColumn = sqlite ? QStringLiteral("id INTEGER PRIMARY KEY AUTOINCREMENT")
                                    : QStringLiteral("id BIGSERIAL PRIMARY KEY");
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
        // A unit is looked up by its serial number, a day by its time.
        QStringLiteral("CREATE INDEX IF NOT EXISTS unit_runs_sn ON unit_runs (sn)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS unit_runs_start ON unit_runs (start_ms)"),
    };
    for (const QString &sql : schema) {
        QSqlQuery query(db);
        // Two benches starting at once may both create a table on a new
        // server; the loser finds the winner's table on the second try.
        if (!query.exec(sql) && !query.exec(sql)) {
            *error = QStringLiteral("建立测试记录失败（%1）：%2")
                         .arg(m_journal.where(), query.lastError().text().trimmed());
            return false;
        }
    }
    m_schemaMade = true;
    return true;
}

bool RunRecord::write(const UnitRun &run, QString *error)
{
    if (!ready(error))
        return false;
    QString why;
    QSqlDatabase db = m_journal.database(&why);
    const bool sqlite = m_journal.options().driver == JournalOptions::Sqlite;
    const auto fail = [&](const QString &reason) {
        *error
            = QStringLiteral("写入测试记录失败（%1）：%2").arg(m_journal.where(), reason.trimmed());
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        return false;
    };
    QSqlQuery begin(db);
    // IMMEDIATE: the file's write lock is taken (or waited for) at once.
    if (!begin.exec(sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"))) {
        *error = QStringLiteral("写入测试记录失败（%1）：%2")
                     .arg(m_journal.where(), begin.lastError().text().trimmed());
        return false;
    }

    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO unit_runs (start_ms, duration_ms, bench, port, sn, "
                                  "mac, plan_name, plan_sha256, verdict, steps) "
                                  "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"));
    for (const QVariant &v :
         {QVariant(run.start.toMSecsSinceEpoch()), QVariant(run.durationMs), text(run.bench),
          text(run.port), text(run.sn), text(run.mac), text(run.planName), text(run.planSha256),
          QVariant(QString::fromLatin1(verdictCode(run.verdict))), QVariant(run.steps.size())})
        insert.addBindValue(v);
    if (!insert.exec() || !insert.next())
        return fail(insert.lastError().text());
    const qint64 id = insert.value(0).toLongLong();
    insert.finish();

    QSqlQuery step(db);
    step.prepare(QStringLiteral("INSERT INTO unit_run_steps (run_id, step_no, section, type, "
                                "module, name, measured, limits, outcome, detail) "
                                "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const StepResult &s : run.steps) {
        for (const QVariant &v :
             {QVariant(id), QVariant(s.number), text(s.section), QVariant(planStepTypeName(s.type)),
              QVariant(s.module), text(s.name), text(s.measured), text(s.limits),
              QVariant(QString::fromLatin1(outcomeCode(s.outcome))), text(s.detail)})
            step.addBindValue(v);
        if (!step.exec())
            return fail(step.lastError().text());
    }
    QSqlQuery commit(db);
    if (!commit.exec(QStringLiteral("COMMIT")))
        return fail(commit.lastError().text());
    return true;
}

QVector<RunRow> RunRecord::runs(const RunFilter &filter, QString *error)
{
    QVector<RunRow> out;
    if (!ready(error))
        return out;
    QString why;
    QSqlQuery query(m_journal.database(&why));
    QStringList where;
    QVariantList binds;
    if (!filter.sn.isEmpty()) {
        where << QStringLiteral("LOWER(sn) LIKE ?");
        binds << QStringLiteral("%") + filter.sn.toLower() + QStringLiteral("%");
    }
    if (!filter.verdict.isEmpty()) {
        where << QStringLiteral("verdict = ?");
        binds << filter.verdict;
    }
    if (filter.day.isValid()) {
        where << QStringLiteral("start_ms >= ? AND start_ms < ?");
        binds << QDateTime(filter.day, QTime(0, 0)).toMSecsSinceEpoch()
              << QDateTime(filter.day.addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
    }
    QString sql = QStringLiteral("SELECT id, start_ms, duration_ms, bench, port, sn, mac, "
                                 "plan_name, plan_sha256, verdict, steps FROM unit_runs");
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY id DESC LIMIT %1").arg(qMax(1, filter.limit));
    query.setForwardOnly(true);
    query.prepare(sql);
    for (const QVariant &v : binds)
        query.addBindValue(v);
    if (!query.exec()) {
        *error = QStringLiteral("读取测试记录失败（%1）：%2")
                     .arg(m_journal.where(), query.lastError().text().trimmed());
        return out;
    }
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
        out << r;
    }
    return out;
}

QVector<RunStepRow> RunRecord::steps(qint64 runId, QString *error)
{
    QVector<RunStepRow> out;
    if (!ready(error))
        return out;
    QString why;
    QSqlQuery query(m_journal.database(&why));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT step_no, section, type, module, name, measured, limits, "
                                 "outcome, detail FROM unit_run_steps WHERE run_id = ? "
                                 "ORDER BY step_no"));
    query.addBindValue(runId);
    if (!query.exec()) {
        *error = QStringLiteral("读取测试记录失败（%1）：%2")
                     .arg(m_journal.where(), query.lastError().text().trimmed());
        return out;
    }
    while (query.next()) {
        RunStepRow s;
        s.number = query.value(0).toInt();
        s.section = query.value(1).toString();
        s.type = query.value(2).toString();
        s.module = query.value(3).toInt();
        s.name = query.value(4).toString();
        s.measured = query.value(5).toString();
        s.limits = query.value(6).toString();
        s.outcome = query.value(7).toString();
        s.detail = query.value(8).toString();
        out << s;
    }
    return out;
}
