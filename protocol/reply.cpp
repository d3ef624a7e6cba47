// Which check a request's reply goes through, and the verdict on what arrived.
#include "protocol/reply.h"

#include <cstring>

ReplyState checkReply(const ReplyKind &kind, const unsigned char *bytes, int length)
{
    switch (kind.protocol) {
    case ReplyKind::Modbus:
        return checkModbusReply(bytes, length, kind.address, kind.function);
    case ReplyKind::Service:
        return checkServiceReply(bytes, length);
    case ReplyKind::None:
        break;
    }
    // Nothing is awaited: the bytes never make a reply, the wait runs on silence.
    return ReplyState::Incomplete;
}

ReplyVerdict judgeReply(const ReplyKind &kind, const unsigned char *bytes, int length)
{
    ReplyVerdict verdict;
    if (length <= 0)
        return verdict;
    switch (checkReply(kind, bytes, length)) {
    case ReplyState::Answer:
        verdict.outcome = ReplyVerdict::Answer;
        break;
    case ReplyState::Exception:
        verdict.outcome = ReplyVerdict::Exception;
        verdict.exceptionCode = bytes[2];
        break;
    case ReplyState::Incomplete:
        // Too little arrived before the line went quiet: as good as nothing.
        verdict.outcome = ReplyVerdict::NoReply;
        break;
    case ReplyState::Invalid:
        verdict.outcome = ReplyVerdict::Invalid;
        break;
    }
    return verdict;
}

bool replyEchoesRequest(const unsigned char *request, int requestLength, const unsigned char *reply,
                        int replyLength)
{
    constexpr int kEchoEnd = 6; // address, function, two words
    if (requestLength < kEchoEnd)
        return true;
    const quint8 function = request[1];
    if (function != kWriteSingleRegister && function != kWriteMultipleRegisters)
        return true;
    if (replyLength < 2 || reply[1] != function)
        return true; // an exception reply carries no echo
    return replyLength >= kEchoEnd && std::memcmp(request + 2, reply + 2, kEchoEnd - 2) == 0;
}

QString failureReason(const ReplyVerdict &verdict)
{
    switch (verdict.outcome) {
    case ReplyVerdict::NoReply:
        return QStringLiteral("没有应答!!");
    case ReplyVerdict::Exception:
        return QStringLiteral("异常应答 ") + exceptionText(verdict.exceptionCode);
    case ReplyVerdict::Invalid:
        return QStringLiteral("应答校验错误");
    case ReplyVerdict::Answer:
    case ReplyVerdict::Abandoned:
        break;
    }
    return QString();
}
