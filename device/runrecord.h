#pragma once

// The record of unit runs: each run of the test plan with its steps, kept in
// the provisioning record's database (device/journal.h) in tables of its
// own, unit_runs and unit_run_steps. A run is one transaction: it is on disk
// (or on the server) before its verdict is shown.

#include "device/planrun.h"

#include <QDate>
#include <QString>
#include <QVector>

class Journal;

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
    QString sn; // contained, any case
    QString verdict;
    QDate day; // the run's start, local time
    int limit = 1000;
};

class RunRecord
{
public:
    explicit RunRecord(Journal &journal);

    // The run and its steps in one transaction. False with the reason in
    // *error when it is not on record.
    bool write(const UnitRun &run, QString *error);

    // Newest first.
    QVector<RunRow> runs(const RunFilter &filter, QString *error);
    QVector<RunStepRow> steps(qint64 runId, QString *error);

private:
    bool ready(QString *error);

    Journal &m_journal;
    bool m_schemaMade = false;
};
