#pragma once

// Whether the bytes gathered so far are the reply a request waits for, and the
// verdict on an exchange. Above both protocols: the Modbus and service-packet
// codecs know nothing of each other. Each frame check is defined beside its
// codec (protocol/modbus.cpp, protocol/packet.cpp).

#include "protocol/modbus.h"

#include <QtGlobal>

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
// Incomplete until a carriage return closes a frame that began with "~";
// then Answer when the checksum agrees, Invalid when it does not.
ReplyState checkServiceReply(const unsigned char *bytes, int length);
ReplyState checkReply(const ReplyKind &kind, const unsigned char *bytes, int length);

// The verdict on one exchange, as the device operations report it.
struct ReplyVerdict
{
    // Abandoned: the operation ended (port lost, window closing, the engineer
    // cancelled) before there was a reply to judge.
    enum Outcome { NoReply, Answer, Exception, Invalid, Abandoned };
    Outcome outcome = NoReply;
    quint8 exceptionCode = 0;
    bool sent = true; // false: abandoned before the request went out
    // With Invalid: what the line handed back in place of the request's echo
    // differed from the request or stopped short. A fault of the line, not an
    // answer of the unit: "回显不符".
    bool echoFault = false;
    bool ok() const { return outcome == Answer; }
};

ReplyVerdict judgeReply(const ReplyKind &kind, const unsigned char *bytes, int length);

// A two-wire RS-485 adapter without echo suppression hands every byte the
// tool sends straight back, so on such a line the bytes gathered for a request
// begin with the request itself and the unit's reply follows. The echo is
// checked and taken off before the reply is judged. A request of length 0
// stands for a line that does not echo: the reply starts at once.
enum class EchoState {
    Incomplete, // what came so far is the start of the request
    Complete,   // the whole request came back; the reply starts after it
    Differs     // a byte differs from the one sent
};
struct EchoSplit
{
    EchoState state = EchoState::Complete;
    // Where the reply starts; the bytes before it are the echo, or what
    // came in its place. Nothing after it when the echo differs or is incomplete.
    int replyStart = 0;
};
EchoSplit splitEcho(const unsigned char *request, int requestLength, const unsigned char *bytes,
                    int length);
// checkReply on a line that echoes: Incomplete while the echo is, Invalid
// when it differs, else what the bytes after it are.
ReplyState checkEchoedReply(const ReplyKind &kind, const unsigned char *request, int requestLength,
                            const unsigned char *bytes, int length);
// judgeReply on a line that echoes: an echo that differs, or that stops short
// when the line goes quiet, is Invalid with echoFault; after a whole echo the
// rest is judged as the reply (nothing after it: NoReply).
ReplyVerdict judgeEchoedReply(const ReplyKind &kind, const unsigned char *request,
                              int requestLength, const unsigned char *bytes, int length);

// The unit answers a write with an echo: function 06 repeats the request's
// register and value, function 10h its start register and register count.
// False when reply is a normal reply to such a write that echoes anything
// else; true for every other request.
bool replyEchoesRequest(const unsigned char *request, int requestLength, const unsigned char *reply,
                        int replyLength);

// Everything gathered for one request judged, as every front end's exchange
// judges it: on a line that echoes, the echo checked and taken off; the rest
// judged as the reply; a write's reply checked for the register and value it
// answers (replyEchoesRequest). The reply is bytes[replyStart] on, replyLength
// long: nothing when what came in place of the echo was no echo.
struct ExchangeJudgement
{
    ReplyVerdict verdict;
    EchoSplit echo;
    int replyStart = 0;
    int replyLength = 0;
};
ExchangeJudgement judgeExchange(const ReplyKind &kind, const unsigned char *request,
                                int requestLength, bool lineEchoes, const unsigned char *bytes,
                                int length);

// Why an exchange failed, as the result window says it after the failed
// operation's name: "没有应答!!", "异常应答 02 非法数据地址", "应答校验错误",
// "回显不符".
// Empty for an answer and for an abandoned exchange.
QString failureReason(const ReplyVerdict &verdict);
