#pragma once

// One unit through the test plan: every step run with the same operations
// as the buttons (device/operations.h), one result line per check, a verdict
// for the unit, and the unit's run on record before the verdict is shown.

#include "device/link.h"
#include "device/plan.h"

#include <QDateTime>
#include <QString>
#include <QVector>

class Journal;
class RunRecord;

// One check: a step on one of its modules.
struct StepResult
{
    enum Outcome { Pass, Fail, Aborted };
    int number = 0; // 1-based, over the whole plan
    QString section;
    PlanStep::Type type = PlanStep::Read;
    int module = -1; // -1: the step has none
    QString name;    // what was checked: "低压脱离值", "合闸", "写过流阈值"
    QString measured;
    QString limits;
    Outcome outcome = Fail;
    QString detail; // why it failed, in the result window's words
    QString line;   // the result line as shown
};

struct UnitRun
{
    enum Verdict { Pass, Fail, Aborted };
    QString sn;
    QString mac; // the address the mac step gave it; empty without one
    QString bench;
    QString port;
    QString planName;
    QString planSha256;
    QDateTime start;
    qint64 durationMs = 0;
    Verdict verdict = Aborted;
    QVector<StepResult> steps;
    bool recorded = false;
    QString recordError;

    QVector<const StepResult *> failures() const;
};

// "合格", "不合格", "中止"
QString verdictText(UnitRun::Verdict verdict);
QString outcomeText(StepResult::Outcome outcome);
// The failed checks by number and what they checked ("[3/9] 模块1 低压脱离值").
QString failureSummary(const UnitRun &run, int total);

class PlanRunner
{
public:
    // journal: the provisioning record that the mac and reset steps go
    // through, with every rule of a MAC write; without one they cannot pass.
    PlanRunner(DeviceLink &link, OperationSink &sink, Journal *journal = nullptr);

    // Runs plan on the unit sn, whose address (for a mac step) is mac, as
    // mac.csv gives it ("" when it gives none). The run goes to record (may
    // be null: then it is said to be kept nowhere) before its verdict line;
    // bench names this bench in it. Ends early, as 中止, once the link does
    // not go on.
    UnitRun run(const TestPlan &plan, const QString &sn, const QString &mac, const QString &bench,
                RunRecord *record);

private:
    DeviceLink &m_link;
    OperationSink &m_sink;
    Journal *m_journal;
};
