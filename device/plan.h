#pragma once

// The test plan: plan.ini, the fixed sequence of steps that every unit of a
// line goes through, with the limits each measured value must keep. Read
// with its line numbers, so that a mistake in the file is named where it
// stands; nothing of a bad file runs.

#include "device/operations.h"

#include <QByteArray>
#include <QString>
#include <QVector>

constexpr int kPlanMaxBytes = 64 * 1024; // a plan is a page of text, not a data file
constexpr int kPlanMaxSteps = 200;
constexpr int kPlanMaxChecks = 500; // steps times their modules
constexpr int kPlanMaxDelayMs = 600000;
constexpr int kPlanMaxSettleMs = 60000;
constexpr int kPlanMaxDriftS = 86400;
constexpr int kPlanDefaultSettleMs = 200; // a breaker takes a moment to move
constexpr int kPlanDefaultDriftS = 2;

struct PlanStep
{
    enum Type { Read, Switch, Write, Clock, Mac, Reset, Delay };
    Type type = Read;
    QString section; // "step3"
    int line = 0;    // of the section's header
    QVector<int> modules;

    // read, write, clock: the device-list entry of the register
    int entry = -1;

    // read: at most one kind of criterion
    bool hasMin = false;
    bool hasMax = false;
    double min = 0;
    double max = 0;
    QString minText; // as written, for the result line
    QString maxText;
    bool hasExpect = false;
    QString expect; // a number for number entries, hexadecimal for hex entries
    bool hasBits = false;
    quint16 bitsSet = 0;
    quint16 bitsClear = 0;

    // switch
    SwitchCommand command = SwitchCommand::Close;
    int settleMs = kPlanDefaultSettleMs;

    // write: the text as the engineer would type it into the field
    QString value;

    // clock
    int maxDriftS = kPlanDefaultDriftS;

    // delay
    int delayMs = 0;

    // How many checks the step makes: one for each module, else one.
    int checks() const { return modules.isEmpty() ? 1 : modules.size(); }
};

struct TestPlan
{
    QString fileName; // as the messages name it
    QString name;
    bool stopOnFail = true;
    bool autostart = false;
    QVector<PlanStep> steps;
    QString sha256; // of the file's bytes, in hexadecimal

    int checks() const;
};

// Where a plan file is wrong: one message names the file, the line, the
// section and the key.
struct PlanError
{
    QString file;
    int line = 0; // 0: the file as a whole
    QString section;
    QString key;
    QString message;

    // "plan.ini 第12行 [step3] min：“4x”不是数字，一键测试未运行"
    QString text() const;
};

// Reads a plan from the file's bytes against the loaded device list (entries
// are found by their base register). False with *error filled when anything
// in it is wrong; then *plan is left empty.
bool readPlan(const QByteArray &bytes, const QString &fileName, TestPlan *plan, PlanError *error);
// The same from a file; a file that cannot be read is an error too.
bool loadPlanFile(const QString &path, TestPlan *plan, PlanError *error);

// "read", "switch"… as the file names the type.
QString planStepTypeName(PlanStep::Type type);
