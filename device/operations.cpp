// The device operations over a link and a sink: reading, switching, writing, the clock.

#include "device/operations.h"

#include "config/devicelist.h"
#include "device/decode.h"
#include "device/registers.h"
#include "device/values.h"
#include "protocol/modbus.h"

namespace {

// Spaces out the breaker and remote-control commands, as the unit needs
// between two of them when a command runs over all modules.
constexpr int kSwitchPauseMs = 20;

struct SwitchRow
{
    quint16 base;
    quint16 value;
    quint16 stateBase;
    const char *name;    // as the button says it
    const char *success; // %1: the module number
    const char *failed;  // %1: the module number; the reason follows ("没有应答!!")
    bool pauseAfter;
    const char *allWord; // the word of the all-modules banner
};

// In the order of SwitchCommand. Close and open are two command registers,
// not one register with two values; both show in the switch state.
const SwitchRow kSwitchRows[] = {
    {kCloseRegister, kCloseValue, kSwitchStateRegister, "合闸", "模块[%1]合闸成功",
     "模块[%1]合闸:", true, "合闸"},
    {kOpenRegister, kOpenValue, kSwitchStateRegister, "分闸", "模块[%1]分闸成功",
     "模块[%1]分闸:", true, "分闸"},
    {kRemoteEnableRegister, kEnableValue, kRemoteEnableRegister, "远控使能",
     "模块[%1]: enable远程分合闸成功", "模块[%1]enable远程分合闸:", true, "远程控制使能"},
    {kRemoteEnableRegister, kDisableValue, kRemoteEnableRegister, "远控关闭",
     "模块[%1]: disable远程分合闸成功", "模块[%1]disable远程分合闸:", true, "远程控制关闭"},
    {kDisconnectEnableRegister, kEnableValue, kDisconnectEnableRegister, "脱离使能",
     "模块[%1]低压脱离enable成功", "模块[%1]低压脱离enable:", false, "低压脱离使能"},
    {kDisconnectEnableRegister, kDisableValue, kDisconnectEnableRegister, "脱离关闭",
     "模块[%1]低压脱离disable成功", "模块[%1]低压脱离disable:", false, "低压脱离关闭"},
    {kTimeControlEnableRegister, kEnableValue, kTimeControlEnableRegister, "时段控使能",
     "模块[%1]时段控enable成功", "模块[%1]时段控enable:", false, "时段控使能"},
    {kTimeControlEnableRegister, kDisableValue, kTimeControlEnableRegister, "时段控关闭",
     "模块[%1]时段控disable成功", "模块[%1]时段控disable:", false, "时段控关闭"},
};

const SwitchRow &rowOf(SwitchCommand command)
{
    return kSwitchRows[int(command)];
}

// The registers behind the fields of the window, each written from its field
// and filled by a read. Hours and minutes are refused outside a day's clock.
const WritableRegister kWritable[] = {
    {kLowVoltageCutRegister, Field::LowVoltageCut, "低压脱离值", kScaledThreshold},
    {kReconnectRegister, Field::Reconnect, "脱离恢复值", kScaledThreshold},
    {kOverCurrentRegister, Field::OverCurrent, "过流阈值", kScaledThreshold},
    {kWindow1HourRegister, Field::Window1Hour, "时段1小时", 23},
    {kWindow1MinuteRegister, Field::Window1Minute, "时段1分钟", 59},
    {kWindow2HourRegister, Field::Window2Hour, "时段2小时", 23},
    {kWindow2MinuteRegister, Field::Window2Minute, "时段2分钟", 59},
    {kWindow3HourRegister, Field::Window3Hour, "时段3小时", 23},
    {kWindow3MinuteRegister, Field::Window3Minute, "时段3分钟", 59},
};

QString separatorLine()
{
    return QStringLiteral("===========================");
}

QString registerText(quint16 base)
{
    return QStringLiteral("%1").arg(base, 4, 16, QLatin1Char('0')).toUpper();
}

// The largest value the register holds, in the field's own units.
QString thresholdLimitText(int xsws)
{
    double limit = 0xFFFF;
    for (int i = 0; i < xsws; ++i)
        limit /= 10;
    for (int i = 0; i > xsws; --i)
        limit *= 10;
    return QString::number(limit, 'f', qMax(xsws, 0));
}

QString durationText(qint64 s)
{
    const qint64 days = s / 86400;
    const qint64 hours = s / 3600 % 24;
    const qint64 minutes = s / 60 % 60;
    const qint64 seconds = s % 60;
    QString text;
    if (days > 0)
        text += QStringLiteral("%1天").arg(days);
    if (!text.isEmpty() || hours > 0)
        text += QStringLiteral("%1小时").arg(hours);
    if (!text.isEmpty() || minutes > 0)
        text += QStringLiteral("%1分").arg(minutes);
    return text + QStringLiteral("%1秒").arg(seconds);
}

} // namespace

SwitchEffect switchEffect(SwitchCommand command)
{
    const SwitchRow &row = rowOf(command);
    return {row.base, row.value, row.stateBase};
}

QString switchCommandName(SwitchCommand command)
{
    return QString::fromUtf8(rowOf(command).name);
}

const QVector<int> &allModules()
{
    static const QVector<int> modules = {0, 1, 2, 3, 4, 5, 10};
    return modules;
}

const WritableRegister *writableRegister(quint16 base)
{
    for (const WritableRegister &w : kWritable) {
        if (w.base == base)
            return &w;
    }
    return nullptr;
}

QString clockDifferenceText(qint64 deviceMinusComputerS)
{
    if (deviceMinusComputerS == 0)
        return QStringLiteral("设备时间与电脑时间一致");
    return QStringLiteral("设备时间比电脑时间%1%2")
        .arg(deviceMinusComputerS < 0 ? QStringLiteral("慢") : QStringLiteral("快"),
             durationText(qAbs(deviceMinusComputerS)));
}

QString readTestBanner(int module)
{
    return QStringLiteral("---------模块%1 读测试-------------").arg(module);
}

DeviceOperations::DeviceOperations(DeviceLink &link, OperationSink &sink)
    : m_link(link)
    , m_sink(sink)
{}

Exchange DeviceOperations::send(const QByteArray &request, quint8 function)
{
    return m_link.exchange(request, ReplyKind::modbus(function));
}

Reading DeviceOperations::readRegisters(quint16 base, int count, int module)
{
    unsigned char frame[8];
    const int length
        = make_read_frame(frame, kBusAddress, moduleRegister(module, base), quint16(count));
    const Exchange done
        = send(QByteArray(reinterpret_cast<const char *>(frame), length), kReadHoldingRegisters);
    Reading r;
    r.verdict = done.verdict;
    r.reply = done.reply;
    return r;
}

Reading DeviceOperations::readEntry(int entry, int module)
{
    const DeviceEntry &e = deviceTable[entry];
    Reading r = readRegisters(e.base, e.regnum, module);
    if (r.verdict.ok()) {
        r.text = decode_reply(entry, r.counted(), r.countedLength());
        m_sink.resultLine(e.des + QLatin1Char(':') + r.text);
        // The unit's clock has whole seconds: the computer's is cut to them too.
        if (e.type == kEntryTypeDateTime && e.base == kClockRegister) {
            const QDateTime unit = decodeClock(r.counted(), r.countedLength());
            if (unit.isValid()) {
                QDateTime computer = m_link.now();
                computer.setTime(QTime(computer.time().hour(), computer.time().minute(),
                                       computer.time().second()));
                r.hasClockOffset = true;
                r.clockOffsetS = computer.secsTo(unit);
                m_sink.resultLine(clockDifferenceText(r.clockOffsetS));
            }
        }
    } else if (r.verdict.outcome != ReplyVerdict::Abandoned) {
        m_sink.resultLine(e.des + QLatin1Char(':') + failureReason(r.verdict), Tone::Bad);
    }
    return r;
}

Reading DeviceOperations::readByRegister(quint16 reg, int module)
{
    const int entry = findEntryByRegister(reg);
    if (entry < 0) {
        m_sink.resultLine(QStringLiteral("寄存器0x%1未在配置中").arg(registerText(reg)), Tone::Bad);
        return {};
    }
    if (deviceTable[entry].type >= kGroupHeaderType) {
        m_sink.resultLine(separatorLine());
        return {};
    }
    return readEntry(entry, module);
}

QString DeviceOperations::decode_reply(int entry, const unsigned char *bytes, int available)
{
    const DeviceEntry &e = deviceTable[entry];
    const QString text = decodeReply(e, bytes, available);
    if (e.type == kEntryTypeInteger)
        show_in_editor(entry, text);
    else if (e.type == kEntryTypeDateTime)
        m_sink.fieldValue(Field::Clock, text);
    return text;
}

// A read fills the fields that the write buttons send from.
void DeviceOperations::show_in_editor(int entry, const QString &text)
{
    if (const WritableRegister *w = writableRegister(deviceTable[entry].base))
        m_sink.fieldValue(w->field, text);
}

ReplyVerdict DeviceOperations::switchModule(SwitchCommand command, int module)
{
    const SwitchRow &c = rowOf(command);
    const int length
        = make_write_single_frame(kBusAddress, moduleRegister(module, c.base), c.value);
    const ReplyVerdict verdict
        = send(QByteArray(reinterpret_cast<const char *>(requestFrame), length),
               kWriteSingleRegister)
              .verdict;
    if (verdict.outcome == ReplyVerdict::Abandoned)
        return verdict;
    if (verdict.ok())
        m_sink.resultLine(QString::fromUtf8(c.success).arg(module), Tone::Good);
    else
        m_sink.resultLine(QString::fromUtf8(c.failed).arg(module) + failureReason(verdict),
                          Tone::Bad);
    if (c.pauseAfter)
        m_link.pause(kSwitchPauseMs);
    return verdict;
}

// The engineer asked for every module: a silent one gets its line and the
// next one follows.
void DeviceOperations::switchAll(SwitchCommand command, const QVector<int> &modules,
                                 RunTally &tally)
{
    const QString word = QString::fromUtf8(rowOf(command).allWord);
    for (int i = 0; i < modules.size() && m_link.goesOn(); ++i) {
        m_sink.progress(moduleStepText(i + 1, modules.size()));
        m_sink.resultLine(QStringLiteral("---------%1%2-------------").arg(word).arg(modules[i]));
        tally.add(switchModule(command, modules[i]));
    }
}

// A register the device list does not name cannot be addressed; saying so
// keeps the engineer from taking a silent skip for a write.
int DeviceOperations::entryForWrite(quint16 base, const QString &what)
{
    const int entry = findEntryByRegister(base);
    if (entry < 0)
        m_sink.resultLine(
            QStringLiteral("%1:设备列表中没有寄存器%2的条目，未写入").arg(what, registerText(base)),
            Tone::Bad);
    return entry;
}

WriteResult DeviceOperations::writeValue(quint16 base, const QString &text, int module)
{
    WriteResult result;
    const WritableRegister *w = writableRegister(base);
    if (!w) {
        result.reason = QStringLiteral("寄存器%1不能写入").arg(registerText(base));
        return result;
    }
    // After a cut-short exchange the remaining fields are left alone.
    if (!m_link.goesOn()) {
        result.status = WriteResult::Abandoned;
        return result;
    }
    const QString name = QString::fromUtf8(w->name);
    const int entry = entryForWrite(base, name);
    if (entry < 0) {
        result.reason = QStringLiteral("设备列表中没有寄存器%1的条目").arg(registerText(base));
        return result;
    }
    const bool threshold = w->maxValue == kScaledThreshold;
    const int xsws = deviceTable[entry].xsws;
    const RegisterValue v
        = threshold ? scaledThreshold(text, xsws) : windowValue(text, w->maxValue);
    switch (v.status) {
    case RegisterValue::Ok: {
        result.value = v.value;
        const ReplyVerdict verdict = reg_wr(entry, v.value, module);
        result.status = verdict.ok()                                 ? WriteResult::Written
                        : verdict.outcome == ReplyVerdict::Abandoned ? WriteResult::Abandoned
                                                                     : WriteResult::Failed;
        result.reason = failureReason(verdict);
        return result;
    }
    case RegisterValue::Empty:
        result.status = WriteResult::Skipped;
        result.reason
            = threshold ? QStringLiteral("未填写，跳过") : QStringLiteral("未填写，未写入");
        // An empty hour or minute is a value missing from a pair, not a choice.
        m_sink.resultLine(name + QLatin1Char(':') + result.reason,
                          threshold ? Tone::Plain : Tone::Bad);
        return result;
    case RegisterValue::NotANumber:
        result.reason = threshold ? QStringLiteral("“%1”不是数字，未写入").arg(text)
                                  : QStringLiteral("“%1”不是整数，未写入").arg(text);
        break;
    case RegisterValue::OutOfRange:
        result.reason
            = QStringLiteral("“%1”超出范围0～%2，未写入")
                  .arg(text, threshold ? thresholdLimitText(xsws) : QString::number(w->maxValue));
        break;
    }
    m_sink.resultLine(name + QLatin1Char(':') + result.reason, Tone::Bad);
    return result;
}

ReplyVerdict DeviceOperations::reg_wr(int entry, quint16 value, int module)
{
    const quint16 address = moduleRegister(module, deviceTable[entry].base);
    const int length = make_write_single_frame(kBusAddress, address, value);
    const ReplyVerdict verdict
        = send(QByteArray(reinterpret_cast<const char *>(requestFrame), length),
               kWriteSingleRegister)
              .verdict;
    reportWrite(module, entry, verdict);
    return verdict;
}

ReplyVerdict DeviceOperations::reg_wr_multi(int entry, const unsigned char *data, int module)
{
    const quint16 address = moduleRegister(module, deviceTable[entry].base);
    const int length
        = make_write_multi_frame(kBusAddress, address, kClockRegisterCount, kClockBlockBytes, data);
    const ReplyVerdict verdict
        = send(QByteArray(reinterpret_cast<const char *>(requestFrame), length),
               kWriteMultipleRegisters)
              .verdict;
    reportWrite(module, entry, verdict);
    return verdict;
}

void DeviceOperations::reportWrite(int module, int entry, const ReplyVerdict &verdict)
{
    const QString number = QString::number(module);
    const QString &des = deviceTable[entry].des;
    const QString failed = QStringLiteral("模块[%1]:写%2失败").arg(number, des);
    switch (verdict.outcome) {
    case ReplyVerdict::Answer:
        m_sink.resultLine(QStringLiteral("模块[%1]:写%2成功").arg(number, des), Tone::Good);
        break;
    case ReplyVerdict::NoReply:
        m_sink.resultLine(failed, Tone::Bad); // the line says it all when nothing came
        break;
    case ReplyVerdict::Exception:
    case ReplyVerdict::Invalid:
        m_sink.resultLine(failed + QLatin1Char(':') + failureReason(verdict), Tone::Bad);
        break;
    case ReplyVerdict::Abandoned:
        break; // the operation's end says why
    }
}

ReplyVerdict DeviceOperations::writeClock(int module)
{
    ReplyVerdict notSent;
    notSent.outcome = ReplyVerdict::Abandoned;
    notSent.sent = false;
    m_sink.resultLine(QStringLiteral("-------写电脑时间到设备---------"));
    // The field shows what is written: the block is taken from the same text,
    // so anything typed there is replaced.
    const QString now = m_link.now().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    m_sink.fieldValue(Field::Clock, now);
    ClockFields t;
    if (!parseClockText(now, &t)) {
        m_sink.resultLine(QStringLiteral("电脑时间“%1”无法识别，未写入").arg(now), Tone::Bad);
        return notSent;
    }
    m_sink.resultLine(QStringLiteral("==>本地电脑时间: %1-%2-%3 %4:%5:%6")
                          .arg(t.year)
                          .arg(t.month)
                          .arg(t.day)
                          .arg(t.hour)
                          .arg(t.minute)
                          .arg(t.second));
    const int entry = entryForWrite(kClockRegister, QStringLiteral("设备时间"));
    if (entry < 0)
        return notSent;
    unsigned char block[kClockBlockBytes];
    clockBlock(t, block);
    return reg_wr_multi(entry, block, module);
}
