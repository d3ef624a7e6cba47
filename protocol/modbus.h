#pragma once

// Modbus-RTU as the distribution unit speaks it: the request frames the tool
// builds, their CRC, the register address that carries the module number, and
// the check that tells whether the bytes gathered so far are a reply.

#include <QString>
#include <QtGlobal>

constexpr quint8 kBusAddress = 0x55;        // every module answers at bus address 85
constexpr quint8 kReadHoldingRegisters = 0x03;
constexpr quint8 kWriteSingleRegister = 0x06;
constexpr quint8 kWriteMultipleRegisters = 0x10;
constexpr int kFrameBufferSize = 256;
constexpr int kMaxMultiDataBytes = 246;     // 9 + 246 = 255 bytes, the most one CRC run covers

// The write builders fill this buffer; it holds one request at a time.
extern unsigned char requestFrame[kFrameBufferSize];

// CRC-16/MODBUS of length bytes (0 to 255): low byte goes first on the wire.
quint16 modbus_crc16(const unsigned char *bytes, int length);

// Register address of a base register on a module: the module number sits in
// the top four bits. Only the low 16 bits of the result are kept.
quint16 moduleRegister(int module, quint16 base);

// Function 03 into frame (at least 8 bytes); returns 8.
int make_read_frame(unsigned char *frame, quint8 address, quint16 start, quint16 count);
// Function 06 into requestFrame; returns 8.
int make_write_single_frame(quint8 address, quint16 reg, quint16 value);
// Function 10h into requestFrame; returns n + 9, or 0 (nothing built) for n
// above kMaxMultiDataBytes or below 0.
int make_write_multi_frame(quint8 address, quint16 start, quint16 count, int n,
                           const unsigned char *data);

// What the bytes gathered so far are, judged against the request they answer.
enum class ReplyState {
    Incomplete, // a prefix of a frame that may still become a reply
    Answer,     // a complete reply of the awaited function with a good CRC
    Exception,  // a complete exception reply (function + 0x80) with a good CRC
    Invalid     // cannot become a reply: another station, function, length or CRC
};

// What a request waits for.
struct ReplyKind
{
    enum Protocol { None, Modbus, Service };
    Protocol protocol = None;
    quint8 address = kBusAddress;
    quint8 function = 0;

    // The unit's reply to a request of this function code.
    static ReplyKind modbus(quint8 function) { return {Modbus, kBusAddress, function}; }
    // A "~" service packet.
    static ReplyKind service() { return {Service, kBusAddress, 0}; }
};

ReplyState checkModbusReply(const unsigned char *bytes, int length, quint8 address,
                            quint8 function);
ReplyState checkReply(const ReplyKind &kind, const unsigned char *bytes, int length);

// The verdict on one exchange, as the device operations report it.
struct ReplyVerdict
{
    // Abandoned: the operation ended (port lost, window closing, the engineer
    // cancelled) before there was a reply to judge.
    enum Outcome { NoReply, Answer, Exception, Invalid, Abandoned };
    Outcome outcome = NoReply;
    quint8 exceptionCode = 0;
    bool ok() const { return outcome == Answer; }
};

ReplyVerdict judgeReply(const ReplyKind &kind, const unsigned char *bytes, int length);

// The unit answers a write with an echo: function 06 repeats the request's
// register and value, function 10h its start register and register count.
// False when reply is a normal reply to such a write that echoes anything
// else; true for every other request.
bool replyEchoesRequest(const unsigned char *request, int requestLength, const unsigned char *reply,
                        int replyLength);

// "02 非法数据地址" and the like; an unknown code shows as its number alone.
QString exceptionText(quint8 code);

// Why an exchange failed, as the result window says it after the failed
// operation's name: "没有应答!!", "异常应答 02 非法数据地址", "应答校验错误".
// Empty for an answer and for an abandoned exchange.
QString failureReason(const ReplyVerdict &verdict);
