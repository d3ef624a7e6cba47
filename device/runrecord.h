#pragma once

// The record of unit runs: each run of the test plan with its steps, kept in
// the provisioning record's database (device/journal.h) in tables of its
// own, unit_runs and unit_run_steps. A run is one transaction: it is on disk
// (or on the server) before its verdict is shown.
//
// Every statement runs on the record's own thread under its time limit
// (Journal::run): a server that hangs leaves a run unrecorded, and says so,
// instead of holding the window at the end of a unit.

#include "device/planrun.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>

class Journal;
class QSqlDatabase;

struct RunRow
{
    qint64 id = 0;
    qint64 startMs = 0;
    qint64 durationMs = 0;
    QString bench;
    QString port;
    QString sn;
    QString mac;
    QString planName;
    QString planSha256;
    QString verdict; // kVerdict… codes
    int steps = 0;
};

struct RunStepRow
{
    int number = 0;
    QString section;
    QString type; // "read", "switch"…
    int module = -1;
    QString name;
    QString measured;
    QString limits;
    QString outcome; // kOutcome… codes
    QString detail;
};

// What the record keeps of verdicts and step outcomes.
extern const char kVerdictPass[];
extern const char kVerdictFail[];
extern const char kVerdictAborted[];
extern const char kOutcomePass[];
extern const char kOutcomeFail[];
extern const char kOutcomeAborted[];

// Which runs to list; an empty field does not filter.
struct RunFilter
{
    QString sn; // the serial number's beginning, any case
    QString verdict;
    QDate day; // the run's start, local time
    int limit = 1000;
};

// A day's yield on one bench or all: what the record window's yield view shows.
struct DayYield
{
    int runs = 0;
    int units = 0;     // serial numbers with a run that day
    int firstPass = 0; // of those, units whose first run on record passed
    struct Step
    {
        int number = 0;
        QString section;
        int module = -1;
        QString name;
        int failures = 0; // failed checks of the day's runs
    };
    QVector<Step> steps; // steps that failed, most failures first
};

// A run with its steps, as the export writes it.
struct RunWithSteps
{
    RunRow run;
    QVector<RunStepRow> steps;
};

class RunRecord
{
public:
    explicit RunRecord(Journal &journal);

    // The run and its steps in one transaction. False with the reason in
    // *error when it is not on record; a run refused for the time limit is
    // not committed later either.
    bool write(const UnitRun &run, QString *error);

    // Newest first.
    QVector<RunRow> runs(const RunFilter &filter, QString *error);
    // A page of them: runs with id below beforeId, at most limit. Each
    // condition of the filter is an index of the record, so a page costs
    // about the same at 10^5 units as at a hundred.
    QVector<RunRow> page(const RunFilter &filter, qint64 beforeId, int limit, QString *error);
    QVector<RunStepRow> steps(qint64 runId, QString *error);
    // Runs below beforeId, newest first, each with its steps.
    QVector<RunWithSteps> pageWithSteps(qint64 beforeId, int limit, QString *error);

    // bench "" is every bench. False with *error when the record cannot be read.
    bool yield(const QDate &day, const QString &bench, DayYield *out, QString *error);
    // The benches with a run on day.
    QStringList benches(const QDate &day, QString *error);

private:
    bool perform(const QString &what,
                 const std::function<bool(QSqlDatabase &db, QString *why)> &job, QString *error,
                 const std::shared_ptr<std::atomic<bool>> &abandoned = {});

    Journal &m_journal;
    // Whether this program made sure of the tables; shared with jobs that
    // may outlive a call refused for the time limit.
    std::shared_ptr<std::atomic<bool>> m_schemaMade;
};

// A record's verdict or outcome code in words: "合格", "不合格", "中止".
QString runOutcomeText(const QString &code);
// A step's type as the plan names it ("read"), in words ("读取").
QString runStepTypeText(const QString &type);

// The runs and their steps as CSV, one row per step with its run's fields in
// front (a run without steps gets one row), UTF-8 with a byte-order mark and
// a header row; fields as journalCsv writes them.
QByteArray runsCsvHeader();
QByteArray runsCsvRows(const QVector<RunWithSteps> &runs);
