#pragma once

// The two seams of the device operations (device/operations.h): the link that
// carries a request to the unit and hands back its judged reply, and the sink
// that takes what an operation has to say. The window implements both with
// its exchange and its message windows; the command line over a serial port
// and standard output; a test in a few lines. Nothing here knows a widget or
// a port.

#include "protocol/reply.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// One request and what came back for it.
struct Exchange
{
    ReplyVerdict verdict;
    // The bytes gathered for this request, the unit's reply as judged (an echo
    // of the request already taken off); empty when nothing came.
    QByteArray reply;
};

class DeviceLink
{
public:
    virtual ~DeviceLink() = default;

    // Sends request, waits for the reply that kind describes and judges it.
    // A write's reply must echo the request (replyEchoesRequest). An exchange
    // the link could not finish (no port, stopped from outside) comes back
    // Abandoned, with sent saying whether the request went out.
    virtual Exchange exchange(const QByteArray &request, const ReplyKind &kind) = 0;
    // False once the operation must end before its next request: the engineer
    // pressed 停止, the port went, Ctrl+C. An operation looks before each step.
    virtual bool goesOn() const = 0;
    // A pause between requests during which the link keeps serving (events,
    // reception); ends early when goesOn() turns false.
    virtual void pause(int ms) = 0;
    // The port's name as the record keeps it ("ttyUSB0", "COM3").
    virtual QString portName() const = 0;
    // The computer's clock; a test puts a fixed one in.
    virtual QDateTime now() const { return QDateTime::currentDateTime(); }
};

// The fields of the window that an operation fills, named for what they hold.
// A front end without such fields ignores them.
enum class Field {
    LowVoltageCut, // base 0x0805, decoded text
    Reconnect,     // 0x0806
    Window1Hour,   // 0x0808
    Window1Minute, // 0x0809
    Window2Hour,   // 0x080A
    Window2Minute, // 0x080B
    Window3Hour,   // 0x080C
    Window3Minute, // 0x080D
    OverCurrent,   // 0x080E
    Clock,         // the clock's text, "2026-03-15 12:30:45:00" read, "2026-03-15 12:30:45" written
    ReadMac,       // the address read from the unit, twelve hex digits ("" when none)
    WriteMac,      // the address the next MAC write sends
};

// How a result line reads at a glance: the window draws failures (no answer,
// exception, 应答校验错误, refused, read-back failed, aborted) red and verified
// or passed lines green. The text itself never changes with it.
enum class Tone { Plain, Good, Bad };

class OperationSink
{
public:
    virtual ~OperationSink() = default;

    // One line for the engineer, exactly as the result window shows it.
    virtual void resultLine(const QString &line, Tone tone = Tone::Plain) = 0;
    // A value for the field that shows or writes it.
    virtual void fieldValue(Field field, const QString &text)
    {
        Q_UNUSED(field)
        Q_UNUSED(text)
    }
    // Where a run over many requests stands ("读取 3/12：低压脱离值"); an empty
    // text when it has ended.
    virtual void progress(const QString &text) { Q_UNUSED(text) }
};
