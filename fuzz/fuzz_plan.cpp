// plan.ini as anyone may have edited it: the reader never crashes, and a plan
// it accepts holds only steps that can run (entries of the device list,
// modules of the unit, limits and times within their ranges).
#include "config/devicelist.h"
#include "device/plan.h"
#include "device/registers.h"

#include <QSet>

#include <cstdint>

namespace {

// The sample device list, as config.ini would load it.
void loadSampleList()
{
    const struct
    {
        const char *reg;
        const char *des;
        int type;
        int regnum;
        int xsws;
    } rows[] = {
        {"0", "状态信息", 10, 0, 0},     {"0704", "开关状态", 0, 1, 0},
        {"070F", "保护状态", 4, 1, 0},   {"0", "阈值", 10, 0, 0},
        {"0805", "低压脱离值", 0, 1, 1}, {"0806", "脱离恢复值", 0, 1, 1},
        {"080E", "过流阈值", 0, 1, 1},   {"0", "时段", 10, 0, 0},
        {"0808", "时段1小时", 0, 1, 0},  {"0809", "时段1分钟", 0, 1, 0},
        {"080A", "时段2小时", 0, 1, 0},  {"080B", "时段2分钟", 0, 1, 0},
        {"080C", "时段3小时", 0, 1, 0},  {"080D", "时段3分钟", 0, 1, 0},
        {"0", "时钟", 10, 0, 0},         {"080F", "设备时间", 8, 4, 0},
        {"0900", "原始值", 3, 2, 0},     {"0901", "双精度", 1, 4, 0},
    };
    int i = 0;
    for (const auto &r : rows) {
        DeviceEntry &e = deviceTable[i++];
        e.reg = QString::fromLatin1(r.reg);
        e.base = quint16(e.reg.toUInt(nullptr, 16));
        e.des = QString::fromUtf8(r.des);
        e.type = r.type;
        e.regnum = r.regnum;
        e.xsws = r.xsws;
    }
    deviceCount = i;
}

bool sane(const PlanStep &s)
{
    const bool hasModules = s.type == PlanStep::Read || s.type == PlanStep::Switch
                            || s.type == PlanStep::Write || s.type == PlanStep::Clock;
    if (hasModules == s.modules.isEmpty())
        return false;
    QSet<int> seen;
    for (int m : s.modules) {
        if (!allModules().contains(m) || seen.contains(m))
            return false;
        seen.insert(m);
    }
    const bool hasEntry
        = s.type == PlanStep::Read || s.type == PlanStep::Write || s.type == PlanStep::Clock;
    if (hasEntry) {
        if (s.entry < 0 || s.entry >= deviceCount || deviceTable[s.entry].type > kEntryTypeDateTime)
            return false;
    }
    if (s.type == PlanStep::Write && !writableRegister(deviceTable[s.entry].base))
        return false;
    if (s.type == PlanStep::Clock && deviceTable[s.entry].base != kClockRegister)
        return false;
    const int kinds
        = ((s.hasMin || s.hasMax) ? 1 : 0) + (s.hasExpect ? 1 : 0) + (s.hasBits ? 1 : 0);
    if (kinds > 1 || (s.hasMin && s.hasMax && s.min > s.max) || (s.bitsSet & s.bitsClear))
        return false;
    return s.delayMs >= 0 && s.delayMs <= kPlanMaxDelayMs && s.settleMs >= 0
           && s.settleMs <= kPlanMaxSettleMs && s.maxDriftS >= 0 && s.maxDriftS <= kPlanMaxDriftS
           && !s.section.isEmpty() && s.line > 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool loaded = (loadSampleList(), true);
    Q_UNUSED(loaded)
    TestPlan plan;
    PlanError error;
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    if (!readPlan(bytes, QStringLiteral("plan.ini"), &plan, &error)) {
        // A refusal names where it is, and leaves no half-read plan behind.
        if (error.text().isEmpty() || error.line < 0 || !plan.steps.isEmpty())
            __builtin_trap();
        return 0;
    }
    if (plan.name.isEmpty() || plan.steps.isEmpty() || plan.steps.size() > kPlanMaxSteps
        || plan.checks() > kPlanMaxChecks || plan.sha256.size() != 64)
        __builtin_trap();
    for (const PlanStep &s : plan.steps) {
        if (!sane(s))
            __builtin_trap();
    }
    return 0;
}
