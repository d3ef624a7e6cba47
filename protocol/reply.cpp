// Which check a request's reply goes through, and the verdict on what arrived.
#include "protocol/reply.h"

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
