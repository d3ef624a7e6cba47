#pragma once

// The device operations, without widgets: reading and decoding an entry of
// the device list, the switching commands, the threshold and time-window
// writes, the clock. Each takes plain values (an entry, a module number, the
// typed text, a command) and talks only through a link and a sink
// (device/link.h), so the window's buttons, the test plan and the command
// line run the same code. The result lines are the window's, letter for letter.

#include "device/link.h"
#include "device/runreport.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

// The commands of the switching buttons, in the order of their table.
enum class SwitchCommand {
    Close,
    Open,
    RemoteOn,
    RemoteOff,
    DisconnectOn,
    DisconnectOff,
    TimeControlOn,
    TimeControlOff
};

// What a switching command writes, and how the unit shows that it took:
// the register that holds the state and the value it must read back.
struct SwitchEffect
{
    quint16 base;  // the command register written
    quint16 value; // the value written
    // The register read back to see the command take; for the breaker the
    // switch state, for an enable the enable itself.
    quint16 stateBase;
};
SwitchEffect switchEffect(SwitchCommand command);
// "合闸", "远控使能"…: the command as its button names it.
QString switchCommandName(SwitchCommand command);

// The module numbers of a unit, in the order an all-modules run takes them.
const QVector<int> &allModules();

// What a read brought back.
struct Reading
{
    ReplyVerdict verdict;
    QByteArray reply; // the whole reply as judged (address, function, count, data, CRC)
    QString text;     // the decoded text of an answered read
    // After a clock read: the unit's clock minus the computer's, in whole seconds.
    bool hasClockOffset = false;
    qint64 clockOffsetS = 0;

    // From the reply's byte count on, as decode_reply takes it.
    const unsigned char *counted() const
    {
        return reinterpret_cast<const unsigned char *>(reply.constData()) + 2;
    }
    int countedLength() const { return qMax(0, reply.size() - 2); }
};

// A value written, as the plan checks it afterwards.
struct WriteResult
{
    enum Status { Written, Failed, Refused, Skipped, Abandoned };
    Status status = Refused;
    quint16 value = 0; // the register value sent
    QString reason;    // why it was refused or failed, as the result line says it
};

// "设备时间比电脑时间慢3秒", "…快1分5秒", "设备时间与电脑时间一致".
QString clockDifferenceText(qint64 deviceMinusComputerS);
// "---------模块1 读测试-------------": the first line of a read test.
QString readTestBanner(int module);

class DeviceOperations
{
public:
    DeviceOperations(DeviceLink &link, OperationSink &sink);

    // ---- reading
    // Reads entry of the device table from module: one result line, the
    // value into its field, and after a clock the line with its difference
    // from the computer's clock.
    Reading readEntry(int entry, int module);
    // The entry of base register reg as the read-time button reads it: the
    // first entry with that register (a group header gives its separator).
    Reading readByRegister(quint16 reg, int module);
    // count registers from base on module, for a check: no line, no field.
    Reading readRegisters(quint16 base, int count, int module);
    // The display text of a read reply; bytes from the byte count on, of
    // which available arrived. Fills the entry's field.
    QString decode_reply(int entry, const unsigned char *bytes, int available);
    // The field that shows and writes the entry's register takes text.
    void show_in_editor(int entry, const QString &text);

    // ---- switching
    // One command on one module: its line, and the pause after the breaker
    // and remote-control commands.
    ReplyVerdict switchModule(SwitchCommand command, int module);
    // The command on each module in turn, each under its banner; a silent
    // module does not stop the run. Each exchange is counted in tally.
    void switchAll(SwitchCommand command, const QVector<int> &modules, RunTally &tally);

    // ---- thresholds and time windows
    // The value text typed for the register base (a threshold, or an hour or
    // minute of a time window), checked, scaled and written to module with
    // its line. Nothing is sent once the link does not go on.
    WriteResult writeValue(quint16 base, const QString &text, int module);
    ReplyVerdict reg_wr(int entry, quint16 value, int module);
    ReplyVerdict reg_wr_multi(int entry, const unsigned char *data, int module);

    // ---- the clock
    // The computer's time into the field and written to module's clock.
    ReplyVerdict writeClock(int module);

private:
    int entryForWrite(quint16 base, const QString &what);
    void reportWrite(int module, int entry, const ReplyVerdict &verdict);
    Exchange send(const QByteArray &request, quint8 function);

    DeviceLink &m_link;
    OperationSink &m_sink;
};

// The registers the engineer writes from a field: the field, its name in
// messages, and the largest value (a threshold is scaled by its entry's
// decimal places instead). The read side fills the same fields.
struct WritableRegister
{
    quint16 base;
    Field field;
    const char *name;
    int maxValue; // kScaledThreshold: a threshold
};
constexpr int kScaledThreshold = -1;
// The entry for base, or null when the engineer cannot write that register.
const WritableRegister *writableRegister(quint16 base);
