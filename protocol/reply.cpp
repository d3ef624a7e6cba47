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

EchoSplit splitEcho(const unsigned char *request, int requestLength, const unsigned char *bytes,
                    int length)
{
    EchoSplit split;
    if (requestLength <= 0)
        return split; // a line without echo: the reply starts at once
    const int compared = qBound(0, length, requestLength);
    if (compared > 0 && std::memcmp(request, bytes, size_t(compared)) != 0) {
        split.state = EchoState::Differs;
        split.replyStart = compared;
        return split;
    }
    split.state = compared < requestLength ? EchoState::Incomplete : EchoState::Complete;
    split.replyStart = compared;
    return split;
}

ReplyState checkEchoedReply(const ReplyKind &kind, const unsigned char *request, int requestLength,
                            const unsigned char *bytes, int length)
{
    const EchoSplit split = splitEcho(request, requestLength, bytes, length);
    switch (split.state) {
    case EchoState::Incomplete:
        return ReplyState::Incomplete;
    case EchoState::Differs:
        return ReplyState::Invalid;
    case EchoState::Complete:
        break;
    }
    return checkReply(kind, bytes + split.replyStart, length - split.replyStart);
}

ReplyVerdict judgeEchoedReply(const ReplyKind &kind, const unsigned char *request,
                              int requestLength, const unsigned char *bytes, int length)
{
    if (length <= 0)
        return ReplyVerdict(); // nothing came, not even the echo
    const EchoSplit split = splitEcho(request, requestLength, bytes, length);
    if (split.state != EchoState::Complete) {
        ReplyVerdict verdict;
        verdict.outcome = ReplyVerdict::Invalid;
        verdict.echoFault = true;
        return verdict;
    }
    return judgeReply(kind, bytes + split.replyStart, length - split.replyStart);
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

ExchangeJudgement judgeExchange(const ReplyKind &kind, const unsigned char *request,
                                int requestLength, bool lineEchoes, const unsigned char *bytes,
                                int length)
{
    const int echoLength = lineEchoes ? requestLength : 0;
    ExchangeJudgement judged;
    judged.verdict = judgeEchoedReply(kind, request, echoLength, bytes, length);
    judged.echo = splitEcho(request, echoLength, bytes, length);
    // What came in place of a sound echo is nobody's reply.
    if (judged.echo.state == EchoState::Complete) {
        judged.replyStart = judged.echo.replyStart;
        judged.replyLength = qMax(0, length - judged.replyStart);
    }
    // A good frame that answers another register is no answer to this write.
    if (judged.verdict.ok()
        && !replyEchoesRequest(request, requestLength, bytes + judged.replyStart,
                               judged.replyLength))
        judged.verdict.outcome = ReplyVerdict::Invalid;
    return judged;
}

QString failureReason(const ReplyVerdict &verdict)
{
    switch (verdict.outcome) {
    case ReplyVerdict::NoReply:
        return QStringLiteral("没有应答!!");
    case ReplyVerdict::Exception:
        return QStringLiteral("异常应答 ") + exceptionText(verdict.exceptionCode);
    case ReplyVerdict::Invalid:
        return verdict.echoFault ? QStringLiteral("回显不符") : QStringLiteral("应答校验错误");
    case ReplyVerdict::Answer:
    case ReplyVerdict::Abandoned:
        break;
    }
    return QString();
}
