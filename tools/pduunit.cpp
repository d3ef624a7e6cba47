// The simulated distribution unit: its registers, its Modbus answers and its service commands.
#include "tools/pduunit.h"

#include "protocol/modbus.h"
#include "protocol/packet.h"
#include "protocol/reply.h"

#include <QDate>
#include <QTime>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

constexpr quint8 kIllegalFunction = 0x01;
constexpr quint8 kIllegalDataAddress = 0x02;
constexpr quint8 kIllegalDataValue = 0x03;

// The unit's register map, written out again from the unit's documentation
// rather than taken from device/registers.h: the simulator stands in for the
// unit, so a wrong address in the tool's map must meet a refusal here, not a
// copy of the same mistake.
constexpr quint16 kRegSwitchState = 0x0704;
constexpr quint16 kRegProtectionFlags = 0x070F;
constexpr quint16 kRegRemoteEnable = 0x0801;
constexpr quint16 kRegClose = 0x0802;
constexpr quint16 kRegOpen = 0x0803;
constexpr quint16 kRegLvdEnable = 0x0804;
constexpr quint16 kRegLvdValue = 0x0805;
constexpr quint16 kRegReconnectValue = 0x0806;
constexpr quint16 kRegTimeEnable = 0x0807;
constexpr quint16 kRegFirstWindow = 0x0808;
constexpr quint16 kRegLastWindow = 0x080D;
constexpr quint16 kRegOverCurrent = 0x080E;
constexpr quint16 kRegClock = 0x080F;
constexpr int kClockRegisters = 4;
constexpr int kModuleRegisterSpace = 0x1000; // the low twelve bits of an address

constexpr int kMaxReadRegisters = 125;  // 250 data bytes, the longest reply Modbus allows
constexpr int kMaxWriteRegisters = 123; // 246 data bytes, the longest request
constexpr int kMinModbusFrame = 4;      // address, function, CRC

constexpr quint8 kReturnNormal = 0x00;
constexpr quint8 kReturnVer = 0x01;
constexpr quint8 kReturnChksum = 0x02;
constexpr quint8 kReturnLchksum = 0x03;
constexpr quint8 kReturnCid2 = 0x04;
constexpr quint8 kReturnFormat = 0x05;
constexpr int kMacBytes = 6;

quint16 wordAt(const unsigned char *at)
{
    return quint16((at[0] << 8) | at[1]);
}

void appendWord(QByteArray &to, quint16 value)
{
    to.append(char(value >> 8));
    to.append(char(value & 0xFF));
}

// What a module does with a request: a reply body (function code and data,
// without address and CRC) or an exception code.
struct Outcome
{
    quint8 exception = 0;
    QByteArray pdu;
};

Outcome refuse(quint8 code)
{
    Outcome outcome;
    outcome.exception = code;
    return outcome;
}

Outcome echo(const unsigned char *frame)
{
    Outcome outcome;
    outcome.pdu = QByteArray(reinterpret_cast<const char *>(frame + 1), 5);
    return outcome;
}

bool readRegister(const PduModule &m, int base, const QDateTime &clock, quint16 *value)
{
    switch (base) {
    case kRegSwitchState:
        *value = m.switchState;
        return true;
    case kRegProtectionFlags:
        *value = m.protectionFlags;
        return true;
    // The enables read back as they were last written.
    case kRegRemoteEnable:
        *value = m.remoteEnable;
        return true;
    case kRegLvdEnable:
        *value = m.lvdEnable;
        return true;
    case kRegTimeEnable:
        *value = m.timeEnable;
        return true;
    case kRegLvdValue:
        *value = m.lvdValue;
        return true;
    case kRegReconnectValue:
        *value = m.reconnectValue;
        return true;
    case kRegOverCurrent:
        *value = m.overCurrent;
        return true;
    // The clock block as the tool writes it: year; month, day; hour, minute; second, 0.
    case kRegClock:
        *value = quint16(clock.date().year());
        return true;
    case kRegClock + 1:
        *value = quint16((clock.date().month() << 8) | clock.date().day());
        return true;
    case kRegClock + 2:
        *value = quint16((clock.time().hour() << 8) | clock.time().minute());
        return true;
    case kRegClock + 3:
        *value = quint16(clock.time().second() << 8);
        return true;
    default:
        if (base >= kRegFirstWindow && base <= kRegLastWindow) {
            *value = m.windows[base - kRegFirstWindow];
            return true;
        }
        return false;
    }
}

Outcome readHoldingRegisters(const PduModule &m, const unsigned char *frame, int length,
                             const QDateTime &clock, const QMap<quint16, quint16> &pinned)
{
    if (length != 8)
        return refuse(kIllegalDataValue);
    const int base = wordAt(frame + 2) & (kModuleRegisterSpace - 1);
    const int count = wordAt(frame + 4);
    if (count < 1 || count > kMaxReadRegisters)
        return refuse(kIllegalDataValue);

    Outcome outcome;
    outcome.pdu.reserve(2 + 2 * count);
    outcome.pdu.append(char(kReadHoldingRegisters));
    outcome.pdu.append(char(2 * count));
    for (int i = 0; i < count; ++i) {
        quint16 value = 0;
        if (base + i >= kModuleRegisterSpace || !readRegister(m, base + i, clock, &value))
            return refuse(kIllegalDataAddress);
        appendWord(outcome.pdu, pinned.value(quint16(base + i), value));
    }
    return outcome;
}

// ignoreSwitching: the commands and enables are checked and acknowledged but
// change nothing; pinned: registers that keep their value whatever is written.
Outcome writeSingleRegister(PduModule &m, const unsigned char *frame, int length,
                            bool ignoreSwitching, const QMap<quint16, quint16> &pinned)
{
    if (length != 8)
        return refuse(kIllegalDataValue);
    const int base = wordAt(frame + 2) & (kModuleRegisterSpace - 1);
    const quint16 value = wordAt(frame + 4);
    if (base < kRegRemoteEnable || base > kRegOverCurrent)
        return refuse(kIllegalDataAddress);
    ++m.writes[quint16(base)];
    const bool switching = base <= kRegLvdEnable || base == kRegTimeEnable;
    // Checked as the unit checks them, then left undone.
    PduModule untouched = m;
    PduModule &target
        = (ignoreSwitching && switching) || pinned.contains(quint16(base)) ? untouched : m;

    // Enables are on or off, and each breaker command has the one value that
    // means it; anything else is a value the module cannot act on.
    const bool onOff = value == 0 || value == 1;
    switch (base) {
    case kRegRemoteEnable:
        if (!onOff)
            return refuse(kIllegalDataValue);
        target.remoteEnable = value;
        break;
    case kRegClose:
        if (value != 0)
            return refuse(kIllegalDataValue);
        target.switchState = 0;
        break;
    case kRegOpen:
        if (value != 1)
            return refuse(kIllegalDataValue);
        target.switchState = 1; // opened by remote command
        break;
    case kRegLvdEnable:
        if (!onOff)
            return refuse(kIllegalDataValue);
        target.lvdEnable = value;
        break;
    case kRegLvdValue:
        target.lvdValue = value;
        break;
    case kRegReconnectValue:
        target.reconnectValue = value;
        break;
    case kRegTimeEnable:
        if (!onOff)
            return refuse(kIllegalDataValue);
        target.timeEnable = value;
        break;
    case kRegOverCurrent:
        target.overCurrent = value;
        break;
    default:
        target.windows[base - kRegFirstWindow] = value;
        break;
    }
    return echo(frame);
}

Outcome writeClock(PduModule &m, const unsigned char *frame, int length, const QDateTime &hostNow)
{
    if (length < 9 || length != 9 + frame[6])
        return refuse(kIllegalDataValue);
    const int base = wordAt(frame + 2) & (kModuleRegisterSpace - 1);
    const int count = wordAt(frame + 4);
    const int byteCount = frame[6];
    if (count < 1 || count > kMaxWriteRegisters || byteCount != 2 * count)
        return refuse(kIllegalDataValue);
    if (base != kRegClock)
        return refuse(kIllegalDataAddress);
    // The clock is set as a whole: a partial block would leave it inconsistent.
    if (count != kClockRegisters)
        return refuse(kIllegalDataValue);

    const unsigned char *block = frame + 7;
    const QDate date(wordAt(block), block[2], block[3]);
    const QTime time(block[4], block[5], block[6]);
    if (!date.isValid() || !time.isValid())
        return refuse(kIllegalDataValue);
    // A module's clock knows no time zone or daylight saving: kept as UTC, it
    // is a plain wall time that no zone rule can shift.
    m.clockSet = QDateTime(date, time, Qt::UTC);
    m.clockSetAtHost = hostNow;
    return echo(frame);
}

// What the module's clock shows: the host's time until one is set, then the
// time set, run on by what passed on the host since.
QDateTime wallTime(const PduModule &m, const QDateTime &host)
{
    if (!m.clockSet.isValid() || !m.clockSetAtHost.isValid())
        return QDateTime(host.date(), host.time(), Qt::UTC);
    return m.clockSet.addMSecs(m.clockSetAtHost.msecsTo(host));
}

// LCHKSUM is right when the four nibbles of LENGTH sum to 0 modulo 16.
bool lengthCheckOk(quint16 length)
{
    return (((length >> 12) + ((length >> 8) & 0xF) + ((length >> 4) & 0xF) + (length & 0xF)) & 0xF)
           == 0;
}

} // namespace

PduUnit::PduUnit(quint8 busAddress)
    : m_address(busAddress)
    , m_mac(factoryMac())
    , m_now([] { return QDateTime::currentDateTime(); })
{
    for (int number : {0, 1, 2, 3, 4, 5, 10})
        m_modules.insert(number, factoryModule());
}

QByteArray PduUnit::handleFrame(const QByteArray &frame)
{
    if (frame.isEmpty())
        return {};
    if (frame.at(0) == '~')
        return handleService(frame);
    return handleModbus(frame);
}

int PduUnit::requestLength(const QByteArray &buffer)
{
    if (buffer.isEmpty())
        return 0;
    if (buffer.at(0) == '~') {
        const int end = buffer.indexOf('\r');
        if (end >= 0)
            return end + 1;
        // No request of the tool comes near the size of its send buffer.
        return buffer.size() >= kSendBufSize ? -1 : 0;
    }
    if (buffer.size() < 2)
        return 0;
    switch (quint8(buffer.at(1))) {
    case 0x01: // the fixed-length requests of the public function codes
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
        return buffer.size() >= 8 ? 8 : 0;
    case 0x0F: // and the two that carry a byte count
    case 0x10: {
        if (buffer.size() < 7)
            return 0;
        const int length = 9 + quint8(buffer.at(6));
        return buffer.size() >= length ? length : 0;
    }
    default:
        return -1;
    }
}

bool PduUnit::moduleExists(int module)
{
    return (module >= 0 && module <= 5) || module == 10;
}

PduModule &PduUnit::module(int number)
{
    return m_modules[number];
}

const PduModule &PduUnit::module(int number) const
{
    static const PduModule emptySlot;
    const auto it = m_modules.constFind(number);
    return it != m_modules.cend() ? *it : emptySlot;
}

void PduUnit::restoreFactoryState()
{
    // Settings go back; what the breakers are doing and the clocks do not.
    const PduModule factory = factoryModule();
    for (PduModule &m : m_modules) {
        m.remoteEnable = factory.remoteEnable;
        m.lvdEnable = factory.lvdEnable;
        m.lvdValue = factory.lvdValue;
        m.reconnectValue = factory.reconnectValue;
        m.timeEnable = factory.timeEnable;
        std::copy(std::begin(factory.windows), std::end(factory.windows), std::begin(m.windows));
        m.overCurrent = factory.overCurrent;
    }
    m_mac = factoryMac();
    ++m_factoryResets;
}

QDateTime PduUnit::moduleTime(int number) const
{
    const QDateTime host = m_now();
    const PduModule &m = module(number);
    if (!m.clockSet.isValid())
        return host.addSecs(clockAheadS);
    const QDateTime wall = wallTime(m, host).addSecs(clockAheadS);
    return QDateTime(wall.date(), wall.time());
}

bool PduUnit::isReadable(quint16 base)
{
    const PduModule m;
    quint16 value = 0;
    return readRegister(m, base, QDateTime::currentDateTime(), &value);
}

QByteArray PduUnit::factoryMac()
{
    return QByteArray::fromHex("003928000001");
}

PduModule PduUnit::factoryModule()
{
    PduModule m;
    m.remoteEnable = 1;
    m.lvdEnable = 1;
    m.lvdValue = 432;       // 43.2 V, one decimal place
    m.reconnectValue = 480; // 48.0 V
    m.timeEnable = 0;
    m.overCurrent = 1000; // 100.0 A
    return m;
}

QByteArray PduUnit::handleModbus(const QByteArray &frame)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(frame.constData());
    const int length = frame.size();
    // Every station hears every frame; this one answers only its own address,
    // and drops a frame damaged on the way, as a unit on a real bus does.
    if (length < kMinModbusFrame || bytes[0] != m_address)
        return {};
    const quint16 crc = modbus_crc16(bytes, length - 2);
    if (bytes[length - 2] != quint8(crc) || bytes[length - 1] != quint8(crc >> 8))
        return {};

    // All modules share the bus address; the top four bits of the register
    // address pick the one meant. A frame too short to name a register goes
    // to the first module.
    const int number = length >= 6 ? bytes[2] >> 4 : 0;
    if (!moduleExists(number) || silentModules.contains(number))
        return {};

    const quint8 function = bytes[1];
    Outcome outcome;
    if (forcedException.contains(number)) {
        outcome = refuse(forcedException.value(number));
    } else {
        PduModule &m = module(number);
        switch (function) {
        case kReadHoldingRegisters:
            outcome
                = readHoldingRegisters(m, bytes, length, wallTime(m, m_now()).addSecs(clockAheadS),
                                       pinnedRegisters.value(number));
            break;
        case kWriteSingleRegister:
            outcome = writeSingleRegister(m, bytes, length, ignoreSwitching,
                                          pinnedRegisters.value(number));
            break;
        case kWriteMultipleRegisters:
            outcome = writeClock(m, bytes, length, m_now());
            break;
        default:
            outcome = refuse(kIllegalFunction);
            break;
        }
    }

    QByteArray reply;
    reply.reserve(outcome.pdu.size() + 5);
    reply.append(char(m_address));
    if (outcome.exception != 0) {
        reply.append(char(function | 0x80));
        reply.append(char(outcome.exception));
    } else {
        reply.append(outcome.pdu);
        // A unit that mixes up its replies: a sound frame for the wrong register.
        if (echoNextRegister
            && (function == kWriteSingleRegister || function == kWriteMultipleRegisters))
            reply[3] = char(quint8(reply.at(3)) + 1);
    }
    quint16 replyCrc
        = modbus_crc16(reinterpret_cast<const unsigned char *>(reply.constData()), reply.size());
    if (corruptCrc)
        replyCrc ^= 0xFFFF;
    reply.append(char(replyCrc & 0xFF));
    reply.append(char(replyCrc >> 8));
    return reply;
}

QByteArray PduUnit::handleService(const QByteArray &frame)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(frame.constData());
    const int length = frame.size();

    // A reply carries its return code where the request had its command, and is
    // framed by the same codec as the tool's requests.
    auto reply = [](quint8 returnCode, QByteArray info = QByteArray()) {
        info.truncate(kPacketDataSize);
        ServicePacket record = {};
        record.ver = kPacketVer;
        record.adr = kPacketAdr;
        record.cid1 = kPacketCid1;
        record.cid2 = returnCode;
        record.len = quint16(info.size());
        std::memcpy(record.data, info.constData(), size_t(info.size()));
        QByteArray out(2 * info.size() + 18, '\0');
        int outLength = 0;
        packet_encode(&record, reinterpret_cast<unsigned char *>(out.data()), out.size(),
                      &outLength);
        out.truncate(outLength);
        return out;
    };

    switch (checkServiceReply(bytes, length)) {
    case ReplyState::Incomplete:
        return {}; // no CR yet: not a request
    case ReplyState::Invalid:
        return reply(kReturnChksum);
    default:
        break;
    }

    QByteArray decoded(length / 2 + 2, '\0');
    int decodedLength = 0;
    packet_parse(bytes, length, reinterpret_cast<unsigned char *>(decoded.data()), decoded.size(),
                 &decodedLength);
    // "~", VER, ADR, CID1, CID2, LENGTH (2), INFO..., CHKSUM (2), CR.
    const auto *d = reinterpret_cast<const unsigned char *>(decoded.constData());
    if (decodedLength < 10)
        return reply(kReturnFormat);
    if (d[2] != kPacketAdr)
        return {}; // addressed to another unit on the line
    if (d[1] != kPacketVer)
        return reply(kReturnVer);
    const quint16 lengthField = wordAt(d + 5);
    if (!lengthCheckOk(lengthField))
        return reply(kReturnLchksum);
    const int infoChars = lengthField & 0x0FFF;
    const int span = frame.lastIndexOf('\r');
    if (infoChars % 2 != 0 || span != 17 + infoChars)
        return reply(kReturnFormat);
    if (serviceReturnCode != kReturnNormal)
        return reply(serviceReturnCode); // the unit refuses and does nothing
    if (d[3] != kPacketCid1)
        return reply(kReturnCid2);

    const int infoBytes = infoChars / 2;
    const QByteArray info(reinterpret_cast<const char *>(d + 7), infoBytes);
    switch (d[4]) {
    case kCmdReadMac:
        if (infoBytes != 0)
            return reply(kReturnFormat);
        return reply(kReturnNormal, m_mac);
    case kCmdWriteMac:
        if (infoBytes != kMacBytes)
            return reply(kReturnFormat);
        if (!forgetMacWrites)
            m_mac = info;
        return reply(kReturnNormal);
    case kCmdFactoryDefaults:
        if (infoBytes != 0)
            return reply(kReturnFormat);
        restoreFactoryState();
        return reply(kReturnNormal);
    default:
        return reply(kReturnCid2);
    }
}
