#pragma once

// The simulated distribution unit: a shelf of breaker modules answering
// Modbus-RTU at one bus address, plus the "~" service packets. Bytes in,
// bytes out, and its state; no ports, no timers. The line that carries it
// (timing, pieces, garbage, hang-up) is SimLine's.

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QSet>
#include <QtGlobal>

#include <functional>

struct PduModule
{
    quint16 switchState = 0;     // 0x0704: 0 closed, 1..5 opening causes
    quint16 protectionFlags = 0; // 0x070F
    quint16 remoteEnable = 0;    // 0x0801
    quint16 lvdEnable = 0;       // 0x0804
    quint16 lvdValue = 0;        // 0x0805
    quint16 reconnectValue = 0;  // 0x0806
    quint16 timeEnable = 0;      // 0x0807
    quint16 windows[6] = {};     // 0x0808..0x080D: hour 1, minute 1, ...
    quint16 overCurrent = 0;     // 0x080E
    // Clock: the time last set and when it was set (host time); invalid until set.
    QDateTime clockSet;
    QDateTime clockSetAtHost;
    // Number of function 06 writes received for each register (tests look).
    QMap<quint16, int> writes;
};

class PduUnit
{
public:
    explicit PduUnit(quint8 busAddress = 0x55);

    // One complete request frame (Modbus or service) in, the reply out. An
    // empty reply means the unit stays silent (other station, bad CRC, empty
    // slot, a silenced module).
    QByteArray handleFrame(const QByteArray &frame);

    // For framing a byte stream: the length of the complete request at the
    // start of buffer, 0 when more bytes are needed, -1 when the start is not
    // a request this unit can measure (framed by line silence instead).
    static int requestLength(const QByteArray &buffer);

    quint8 busAddress() const { return m_address; }
    void setBusAddress(quint8 address) { m_address = address; }

    static bool moduleExists(int module); // 0..5 and 10
    PduModule &module(int number);
    const PduModule &module(int number) const;

    QByteArray mac() const { return m_mac; } // six bytes
    void setMac(const QByteArray &six) { m_mac = six; }
    int factoryResets() const { return m_factoryResets; }
    void restoreFactoryState(); // MAC, enables, thresholds, windows

    // The host clock the unit's clock runs on; tests inject a fixed one.
    void setHostClock(std::function<QDateTime()> now) { m_now = std::move(now); }
    QDateTime moduleTime(int module) const;

    // Fault switches of the unit itself.
    QSet<int> silentModules;           // these module numbers never answer
    QMap<int, quint8> forcedException; // module -> exception code for every request
    bool corruptCrc = false;           // every Modbus reply goes out with a bad CRC
    bool echoNextRegister = false;     // a write is done, its echo names the register after it
    quint8 serviceReturnCode = 0;      // fourth byte of service replies (0 = normal)
    bool forgetMacWrites = false;      // a MAC write is acknowledged but not stored
    // Breaker commands and enables (0801 to 0804, 0807) acknowledged but not
    // carried out: the breaker and the enables stay as they were.
    bool ignoreSwitching = false;
    qint64 clockAheadS = 0; // every module's clock reads this many seconds ahead
    // Registers stuck at a value: module -> base register -> value. A read
    // gives the value; a write is acknowledged and changes nothing.
    QMap<int, QMap<quint16, quint16>> pinnedRegisters;

    // Whether a 03 read of base (0x0704, 0x0805, …) is answered.
    static bool isReadable(quint16 base);

    // Factory settings (restoreFactoryState puts these back).
    static QByteArray factoryMac();
    static PduModule factoryModule();

private:
    QByteArray handleModbus(const QByteArray &frame);
    QByteArray handleService(const QByteArray &frame);

    quint8 m_address;
    QMap<int, PduModule> m_modules;
    QByteArray m_mac;
    int m_factoryResets = 0;
    std::function<QDateTime()> m_now;
};
