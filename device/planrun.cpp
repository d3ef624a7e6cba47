// A unit through the test plan: each check with the buttons' own operations,
// judged against its limits, the run on record, then the verdict.

#include "device/planrun.h"

#include "config/devicelist.h"
#include "device/decode.h"
#include "device/macprovisioning.h"
#include "device/registers.h"
#include "device/runrecord.h"

#include <QElapsedTimer>

#include <cmath>

namespace {

// The operations speak to the engineer in their own lines; during a plan the
// step's line says it all, so theirs are kept back. Fields are still filled,
// as by the buttons, and the last failure is kept as the step's reason.
class StepSink : public OperationSink
{
public:
    explicit StepSink(OperationSink &outer)
        : m_outer(outer)
    {}
    void resultLine(const QString &line, Tone tone) override
    {
        if (tone == Tone::Bad)
            lastFailure = line;
    }
    void fieldValue(Field field, const QString &text) override { m_outer.fieldValue(field, text); }

    QString lastFailure;

private:
    OperationSink &m_outer;
};

// A register's value in its entry's unit, with the entry's decimal places.
QString valueText(const DeviceEntry &e, double value)
{
    if (e.type == kEntryTypeDouble)
        return QString::number(value, 'g', 6);
    return QString::number(value, 'f', qMax(e.xsws, 0));
}

double scaled(const DeviceEntry &e, quint16 raw)
{
    return e.xsws > 0 ? raw / std::pow(10.0, e.xsws) : double(raw);
}

QString hex16(quint16 v)
{
    return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper();
}

QString rangeText(const PlanStep &step)
{
    if (step.hasMin && step.hasMax)
        return QStringLiteral("%1～%2").arg(step.minText, step.maxText);
    if (step.hasMin)
        return QStringLiteral("≥%1").arg(step.minText);
    return QStringLiteral("≤%1").arg(step.maxText);
}

QString bitsText(const PlanStep &step)
{
    QStringList parts;
    if (step.bitsSet)
        parts << QStringLiteral("置位%1").arg(hex16(step.bitsSet));
    if (step.bitsClear)
        parts << QStringLiteral("清零%1").arg(hex16(step.bitsClear));
    return parts.join(QLatin1Char(' '));
}

// The bits that are wrong, by name where the unit gives them one.
QString wrongBitsText(const DeviceEntry &e, quint16 missing, quint16 extra)
{
    const auto named = [&](quint16 bits) {
        if (e.base == kProtectionFlagsRegister)
            return protectionFlagTexts(bits)
                .replace(QLatin1String("\n\t"), QLatin1String(" "))
                .trimmed();
        return hex16(bits);
    };
    QStringList parts;
    if (missing)
        parts << QStringLiteral("应置位：%1").arg(named(missing));
    if (extra)
        parts << QStringLiteral("应清零：%1").arg(named(extra));
    return parts.join(QStringLiteral("；"));
}

// What a check checks, as its line names it.
QString checkName(const PlanStep &step)
{
    switch (step.type) {
    case PlanStep::Read:
    case PlanStep::Clock:
        return deviceTable[step.entry].des;
    case PlanStep::Switch:
        return switchCommandName(step.command);
    case PlanStep::Write:
        return QStringLiteral("写") + deviceTable[step.entry].des;
    case PlanStep::Mac:
        return QStringLiteral("写MAC");
    case PlanStep::Reset:
        return QStringLiteral("恢复出厂默认");
    case PlanStep::Delay:
        break;
    }
    return QStringLiteral("等待");
}

// The unit a run is for, as the mac and reset steps need it.
struct Unit
{
    QString sn;
    QString mac; // as mac.csv gives it for sn
};

class CheckRunner
{
public:
    CheckRunner(DeviceLink &link, OperationSink &sink, Journal *journal, const Unit &unit)
        : m_link(link)
        , m_quiet(sink)
        , m_ops(link, m_quiet)
        , m_journal(journal)
        , m_unit(unit)
    {}

    StepResult run(const PlanStep &step, int module);
    // The address the mac step wrote and read back; empty until then.
    QString macWritten() const { return m_macWritten; }

private:
    void read(const PlanStep &step, int module, StepResult &r);
    void switchCheck(const PlanStep &step, int module, StepResult &r);
    void write(const PlanStep &step, int module, StepResult &r);
    void clock(const PlanStep &step, int module, StepResult &r);
    void writeMac(StepResult &r);
    void reset(StepResult &r);
    // False (and the result aborted or failed) when the exchange did not answer.
    bool answered(const ReplyVerdict &verdict, StepResult &r, const QString &what = QString());

    DeviceLink &m_link;
    StepSink m_quiet;
    DeviceOperations m_ops;
    Journal *m_journal;
    Unit m_unit;
    QString m_macWritten;
};

bool CheckRunner::answered(const ReplyVerdict &verdict, StepResult &r, const QString &what)
{
    if (verdict.outcome == ReplyVerdict::Abandoned) {
        r.outcome = StepResult::Aborted;
        return false;
    }
    if (verdict.ok())
        return true;
    r.outcome = StepResult::Fail;
    r.detail = what + failureReason(verdict);
    return false;
}

void CheckRunner::read(const PlanStep &step, int module, StepResult &r)
{
    const DeviceEntry &e = deviceTable[step.entry];
    const Reading reading = m_ops.readEntry(step.entry, module);
    if (!answered(reading.verdict, r))
        return;
    const unsigned char *bytes = reading.counted();
    const int available = reading.countedLength();
    r.outcome = StepResult::Pass;
    if (step.hasMin || step.hasMax || (step.hasExpect && e.type != kEntryTypeHexBytes)) {
        double v = 0;
        if (!decodeNumber(e, bytes, available, &v)) {
            r.outcome = StepResult::Fail;
            r.detail = QStringLiteral("应答中没有数值");
            return;
        }
        r.measured = valueText(e, v);
        if (e.base == kSwitchStateRegister && e.type == kEntryTypeInteger)
            r.measured += QLatin1Char(' ') + switchStateText(int(v)).trimmed();
        if (step.hasExpect) {
            const double expect = step.expect.toDouble();
            // Equal to the register's resolution: half a step of its last decimal.
            const double tolerance = e.type == kEntryTypeInteger
                                         ? 0.5 * std::pow(10.0, -qMax(e.xsws, 0))
                                         : 1e-9 * qMax(1.0, std::fabs(expect));
            r.limits = QStringLiteral("应为%1").arg(step.expect);
            if (std::fabs(v - expect) >= tolerance)
                r.outcome = StepResult::Fail;
        } else {
            r.limits = rangeText(step);
            if ((step.hasMin && v < step.min) || (step.hasMax && v > step.max))
                r.outcome = StepResult::Fail;
        }
        return;
    }
    if (step.hasExpect) {
        r.measured = reading.text;
        r.limits = QStringLiteral("应为%1").arg(step.expect);
        const QString want = QString(step.expect).remove(QLatin1Char(' ')).toUpper();
        if (reading.text.toUpper() != want)
            r.outcome = StepResult::Fail;
        return;
    }
    if (step.hasBits) {
        quint16 w = 0;
        if (!decodeFirstRegister(bytes, available, &w)) {
            r.outcome = StepResult::Fail;
            r.detail = QStringLiteral("应答中没有状态字");
            return;
        }
        r.measured = QStringLiteral("%1").arg(w, 16, 2, QLatin1Char('0'));
        r.limits = bitsText(step);
        const quint16 missing = step.bitsSet & ~w;
        const quint16 extra = step.bitsClear & w;
        if (missing || extra) {
            r.outcome = StepResult::Fail;
            r.detail = wrongBitsText(e, missing, extra);
        }
        return;
    }
    // Nothing to judge: an answer is what the step asks for.
    r.measured = reading.text.section(QLatin1Char('\n'), 0, 0);
}

void CheckRunner::switchCheck(const PlanStep &step, int module, StepResult &r)
{
    const SwitchEffect effect = switchEffect(step.command);
    if (!answered(m_ops.switchModule(step.command, module), r))
        return;
    if (step.settleMs > 0)
        m_link.pause(step.settleMs);
    if (!m_link.goesOn()) {
        r.outcome = StepResult::Aborted;
        return;
    }
    const Reading state = m_ops.readRegisters(effect.stateBase, 1, module);
    if (!answered(state.verdict, r, QStringLiteral("读回：")))
        return;
    quint16 w = 0;
    if (!decodeFirstRegister(state.counted(), state.countedLength(), &w)) {
        r.outcome = StepResult::Fail;
        r.detail = QStringLiteral("读回应答中没有数值");
        return;
    }
    bool took = false;
    if (effect.stateBase == kSwitchStateRegister) {
        r.measured = QStringLiteral("开关状态%1 %2").arg(w).arg(switchStateText(w).trimmed());
        // Open may be any opening cause: the unit may have had its own reason.
        const bool closing = step.command == SwitchCommand::Close;
        r.limits = closing ? QStringLiteral("应为0") : QStringLiteral("应不为0");
        took = closing ? w == 0 : w != 0;
    } else {
        r.measured = QStringLiteral("读回%1").arg(w);
        r.limits = QStringLiteral("应为%1").arg(effect.value);
        took = w == effect.value;
    }
    r.outcome = took ? StepResult::Pass : StepResult::Fail;
}

void CheckRunner::write(const PlanStep &step, int module, StepResult &r)
{
    const DeviceEntry &e = deviceTable[step.entry];
    const WriteResult written = m_ops.writeValue(e.base, step.value, module);
    switch (written.status) {
    case WriteResult::Written:
        break;
    case WriteResult::Abandoned:
        r.outcome = StepResult::Aborted;
        return;
    case WriteResult::Failed:
    case WriteResult::Refused:
    case WriteResult::Skipped:
        r.outcome = StepResult::Fail;
        r.detail = written.reason;
        return;
    }
    r.limits = QStringLiteral("写入%1").arg(valueText(e, scaled(e, written.value)));
    const Reading back = m_ops.readRegisters(e.base, 1, module);
    if (!answered(back.verdict, r, QStringLiteral("读回：")))
        return;
    quint16 w = 0;
    if (!decodeFirstRegister(back.counted(), back.countedLength(), &w)) {
        r.outcome = StepResult::Fail;
        r.detail = QStringLiteral("读回应答中没有数值");
        return;
    }
    r.measured = QStringLiteral("读回%1").arg(valueText(e, scaled(e, w)));
    r.outcome = w == written.value ? StepResult::Pass : StepResult::Fail;
}

void CheckRunner::clock(const PlanStep &step, int module, StepResult &r)
{
    if (!answered(m_ops.writeClock(module), r, QStringLiteral("写入：")))
        return;
    const Reading back = m_ops.readEntry(step.entry, module);
    if (!answered(back.verdict, r, QStringLiteral("读回：")))
        return;
    r.limits = QStringLiteral("±%1秒").arg(step.maxDriftS);
    if (!back.hasClockOffset) {
        r.outcome = StepResult::Fail;
        r.detail = QStringLiteral("读回的时间“%1”无效").arg(back.text);
        return;
    }
    r.measured = QStringLiteral("误差%1%2秒")
                     .arg(back.clockOffsetS > 0 ? QStringLiteral("+") : QString())
                     .arg(back.clockOffsetS);
    r.outcome = qAbs(back.clockOffsetS) <= step.maxDriftS ? StepResult::Pass : StepResult::Fail;
}

// The buttons' own MAC write, with every rule of the record: the address
// mac.csv gives the unit, claimed for its serial number, sent, read back.
void CheckRunner::writeMac(StepResult &r)
{
    if (!m_journal) {
        r.outcome = StepResult::Fail;
        r.detail = QStringLiteral("没有生产记录，不能写MAC");
        return;
    }
    if (m_unit.mac.trimmed().isEmpty()) {
        r.outcome = StepResult::Fail;
        r.detail = QStringLiteral("mac.csv中没有SN %1的MAC地址").arg(m_unit.sn);
        return;
    }
    const MacWriteOutcome outcome
        = MacProvisioning(m_link, m_quiet, *m_journal).writeMac(m_unit.mac, m_unit.sn);
    r.measured = outcome.address.isEmpty() ? m_unit.mac.trimmed() : outcome.address;
    switch (outcome.status) {
    case MacWriteOutcome::Verified:
        r.outcome = StepResult::Pass;
        m_macWritten = outcome.address;
        return;
    case MacWriteOutcome::Aborted:
        r.outcome = StepResult::Aborted;
        return;
    case MacWriteOutcome::Refused:
    case MacWriteOutcome::Failed:
        break;
    }
    r.outcome = StepResult::Fail;
    r.detail = outcome.why;
}

void CheckRunner::reset(StepResult &r)
{
    if (!m_journal) {
        r.outcome = StepResult::Fail;
        r.detail = QStringLiteral("没有生产记录，不能恢复出厂默认");
        return;
    }
    const bool answered = MacProvisioning(m_link, m_quiet, *m_journal).factoryReset(m_unit.sn);
    if (answered)
        r.outcome = StepResult::Pass;
    else
        r.outcome = m_link.goesOn() ? StepResult::Fail : StepResult::Aborted;
}

StepResult CheckRunner::run(const PlanStep &step, int module)
{
    StepResult r;
    r.section = step.section;
    r.type = step.type;
    r.module = module;
    r.name = checkName(step);
    m_quiet.lastFailure.clear();
    switch (step.type) {
    case PlanStep::Read:
        read(step, module, r);
        break;
    case PlanStep::Switch:
        switchCheck(step, module, r);
        break;
    case PlanStep::Write:
        write(step, module, r);
        break;
    case PlanStep::Clock:
        clock(step, module, r);
        break;
    case PlanStep::Mac:
        writeMac(r);
        break;
    case PlanStep::Reset:
        reset(r);
        break;
    case PlanStep::Delay:
        r.measured = QStringLiteral("%1毫秒").arg(step.delayMs);
        m_link.pause(step.delayMs);
        r.outcome = m_link.goesOn() ? StepResult::Pass : StepResult::Aborted;
        break;
    }
    // A refusal the operation spelled out says more than the bare failure.
    if (r.outcome == StepResult::Fail && r.detail.isEmpty())
        r.detail = m_quiet.lastFailure;
    return r;
}

QString checkLine(const StepResult &r, int total)
{
    QString line = QStringLiteral("[%1/%2]").arg(r.number).arg(total);
    if (r.module >= 0)
        line += QStringLiteral(" 模块%1").arg(r.module);
    line += QLatin1Char(' ') + r.name;
    if (!r.measured.isEmpty())
        line += QLatin1Char(' ') + r.measured;
    // "43.2（42.0～44.0）合格": the verdict closes up to the limits.
    if (!r.limits.isEmpty())
        line += QStringLiteral("（%1）").arg(r.limits);
    else
        line += QLatin1Char(' ');
    line += outcomeText(r.outcome);
    if (!r.detail.isEmpty())
        line += QStringLiteral("：") + r.detail;
    return line;
}

QString secondsText(qint64 ms)
{
    const qint64 tenths = (qMax<qint64>(0, ms) + 50) / 100;
    return QStringLiteral("%1.%2").arg(tenths / 10).arg(tenths % 10);
}

} // namespace

QVector<const StepResult *> UnitRun::failures() const
{
    QVector<const StepResult *> failed;
    for (const StepResult &s : steps) {
        if (s.outcome != StepResult::Pass)
            failed << &s;
    }
    return failed;
}

QString verdictText(UnitRun::Verdict verdict)
{
    switch (verdict) {
    case UnitRun::Pass:
        return QStringLiteral("合格");
    case UnitRun::Fail:
        return QStringLiteral("不合格");
    case UnitRun::Aborted:
        break;
    }
    return QStringLiteral("中止");
}

QString outcomeText(StepResult::Outcome outcome)
{
    switch (outcome) {
    case StepResult::Pass:
        return QStringLiteral("合格");
    case StepResult::Fail:
        return QStringLiteral("不合格");
    case StepResult::Aborted:
        break;
    }
    return QStringLiteral("中止");
}

QString failureSummary(const UnitRun &run, int total)
{
    QStringList parts;
    for (const StepResult *s : run.failures()) {
        QString part = QStringLiteral("[%1/%2]").arg(s->number).arg(total);
        if (s->module >= 0)
            part += QStringLiteral(" 模块%1").arg(s->module);
        parts << part + QLatin1Char(' ') + s->name;
    }
    return parts.join(QStringLiteral("；"));
}

PlanRunner::PlanRunner(DeviceLink &link, OperationSink &sink, Journal *journal)
    : m_link(link)
    , m_sink(sink)
    , m_journal(journal)
{}

UnitRun PlanRunner::run(const TestPlan &plan, const QString &sn, const QString &mac,
                        const QString &bench, RunRecord *record)
{
    UnitRun run;
    run.sn = sn;
    run.bench = bench;
    run.port = m_link.portName();
    run.planName = plan.name;
    run.planSha256 = plan.sha256;
    run.start = m_link.now();
    QElapsedTimer clock;
    clock.start();

    const int total = plan.checks();
    m_sink.resultLine(QStringLiteral("=========一键测试：%1  SN %2=========").arg(plan.name, sn));
    CheckRunner checks(m_link, m_sink, m_journal, Unit{sn, mac});
    bool stopped = false;
    bool failed = false;
    for (const PlanStep &step : plan.steps) {
        const QVector<int> modules = step.modules.isEmpty() ? QVector<int>{-1} : step.modules;
        for (int module : modules) {
            if (stopped)
                break;
            const int number = run.steps.size() + 1;
            StepResult r;
            if (m_link.goesOn()) {
                m_sink.progress(
                    QStringLiteral("一键测试 %1/%2：%3").arg(number).arg(total).arg(step.section));
                r = checks.run(step, module);
            } else {
                r.section = step.section;
                r.type = step.type;
                r.module = module;
                r.name = checkName(step);
                r.outcome = StepResult::Aborted;
            }
            r.number = number;
            // An abandoned exchange says nothing of the unit: the run ends
            // there, as does a stop before the step.
            if (r.outcome == StepResult::Aborted)
                stopped = true;
            r.line = checkLine(r, total);
            m_sink.resultLine(r.line, r.outcome == StepResult::Pass ? Tone::Good : Tone::Bad);
            run.steps.append(r);
            if (r.outcome == StepResult::Fail) {
                failed = true;
                stopped = stopped || plan.stopOnFail;
            }
        }
    }
    run.mac = checks.macWritten();
    run.verdict = stopped && !run.steps.isEmpty() && run.steps.last().outcome == StepResult::Aborted
                      ? UnitRun::Aborted
                  : failed ? UnitRun::Fail
                           : UnitRun::Pass;
    run.durationMs = clock.elapsed();
    m_sink.progress(QString());

    // On record before the verdict is shown: a verdict nobody can find later
    // is not given.
    if (record) {
        run.recorded = record->write(run, &run.recordError);
    } else {
        run.recordError = QStringLiteral("没有测试记录");
    }
    if (!run.recorded)
        m_sink.resultLine(QStringLiteral("测试记录写入失败：%1").arg(run.recordError), Tone::Bad);
    QString verdict = QStringLiteral("结论：%1  SN %2").arg(verdictText(run.verdict), sn);
    if (run.verdict == UnitRun::Fail)
        verdict += QStringLiteral("  不合格项：") + failureSummary(run, total);
    else if (run.verdict == UnitRun::Aborted)
        verdict += QStringLiteral("  完成%1/%2").arg(run.steps.size() - 1).arg(total);
    verdict += QStringLiteral("  用时%1秒").arg(secondsText(run.durationMs));
    if (!run.recorded)
        verdict += QStringLiteral("（未记录）");
    m_sink.resultLine(verdict,
                      run.verdict == UnitRun::Pass && run.recorded ? Tone::Good : Tone::Bad);
    return run;
}
