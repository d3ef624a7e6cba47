// Modbus-RTU request frames, their CRC and the check of what came back.
#include "protocol/modbus.h"

#include "protocol/reply.h" // checkModbusReply

#include <array>
#include <cstring>

unsigned char requestFrame[kFrameBufferSize];

namespace {

// The reflected polynomial 0xA001 one byte at a time: the bitwise rule of the
// Modbus standard, folded into a table at compile time.
constexpr std::array<quint16, 256> makeCrcTable()
{
    std::array<quint16, 256> table{};
    for (int byte = 0; byte < 256; ++byte) {
        quint16 crc = quint16(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
        table[byte] = crc;
    }
    return table;
}

constexpr std::array<quint16, 256> kCrcTable = makeCrcTable();

void putWord(unsigned char *at, quint16 value)
{
    at[0] = quint8(value >> 8);
    at[1] = quint8(value);
}

// Closes a frame of length bytes with its CRC, low byte first; returns the new length.
int appendCrc(unsigned char *frame, int length)
{
    const quint16 crc = modbus_crc16(frame, length);
    frame[length] = quint8(crc);
    frame[length + 1] = quint8(crc >> 8);
    return length + 2;
}

bool crcMatches(const unsigned char *frame, int length)
{
    const quint16 crc = modbus_crc16(frame, length - 2);
    return frame[length - 2] == quint8(crc) && frame[length - 1] == quint8(crc >> 8);
}

// The length of a normal reply to function, once enough of it has arrived to
// say: 0 while the byte count is still missing, -1 for a function whose reply
// length this master cannot know.
int impliedReplyLength(quint8 function, const unsigned char *bytes, int length)
{
    switch (function) {
    case 0x01: // read coils, discrete inputs, holding and input registers: a byte count
    case 0x02:
    case 0x03:
    case 0x04:
        return length < 3 ? 0 : 5 + bytes[2];
    case 0x05: // single and multiple writes: an echo of the address and value or count
    case 0x06:
    case 0x0F:
    case 0x10:
        return 8;
    default:
        return -1;
    }
}

constexpr int kExceptionReplyLength = 5;

} // namespace

quint16 modbus_crc16(const unsigned char *bytes, int length)
{
    quint16 crc = 0xFFFF;
    for (int i = 0; i < length; ++i)
        crc = quint16((crc >> 8) ^ kCrcTable[(crc ^ bytes[i]) & 0xFF]);
    return crc;
}

quint16 moduleRegister(int module, quint16 base)
{
    return quint16((unsigned(module) << 12) | base);
}

int make_read_frame(unsigned char *frame, quint8 address, quint16 start, quint16 count)
{
    frame[0] = address;
    frame[1] = kReadHoldingRegisters;
    putWord(frame + 2, start);
    putWord(frame + 4, count);
    return appendCrc(frame, 6);
}

int make_write_single_frame(quint8 address, quint16 reg, quint16 value)
{
    requestFrame[0] = address;
    requestFrame[1] = kWriteSingleRegister;
    putWord(requestFrame + 2, reg);
    putWord(requestFrame + 4, value);
    return appendCrc(requestFrame, 6);
}

int make_write_multi_frame(quint8 address, quint16 start, quint16 count, int n,
                           const unsigned char *data)
{
    // 246 data bytes make a 255-byte frame: one more and the CRC run would
    // pass 255 bytes and the frame would not fit the buffer.
    if (n < 0 || n > kMaxMultiDataBytes)
        return 0;
    requestFrame[0] = address;
    requestFrame[1] = kWriteMultipleRegisters;
    putWord(requestFrame + 2, start);
    putWord(requestFrame + 4, count);
    requestFrame[6] = quint8(n);
    if (n > 0)
        std::memcpy(requestFrame + 7, data, size_t(n));
    return appendCrc(requestFrame, 7 + n);
}

ReplyState checkModbusReply(const unsigned char *bytes, int length, quint8 address, quint8 function)
{
    if (length <= 0)
        return ReplyState::Incomplete;
    if (bytes[0] != address)
        return ReplyState::Invalid;
    if (length == 1)
        return ReplyState::Incomplete;

    if (function < 0x80 && bytes[1] == (function | 0x80)) {
        if (length < kExceptionReplyLength)
            return ReplyState::Incomplete;
        if (length > kExceptionReplyLength || !crcMatches(bytes, length))
            return ReplyState::Invalid;
        return ReplyState::Exception;
    }
    if (bytes[1] != function)
        return ReplyState::Invalid;

    const int expected = impliedReplyLength(function, bytes, length);
    if (expected < 0)
        return ReplyState::Invalid;
    if (expected == 0 || length < expected)
        return ReplyState::Incomplete;
    if (length > expected || !crcMatches(bytes, length))
        return ReplyState::Invalid;
    return ReplyState::Answer;
}

QString exceptionText(quint8 code)
{
    struct Name
    {
        quint8 code;
        const char *text;
    };
    static const Name names[] = {
        {0x01, "非法功能"},       {0x02, "非法数据地址"},   {0x03, "非法数据值"},
        {0x04, "从站设备故障"},   {0x05, "确认"},           {0x06, "从站设备忙"},
        {0x08, "存储奇偶性差错"}, {0x0A, "网关路径不可用"}, {0x0B, "网关目标设备无响应"},
    };
    for (const Name &name : names) {
        if (name.code == code)
            return QString::asprintf("%02X ", code) + QString::fromUtf8(name.text);
    }
    return QString::asprintf("%02X", code);
}
