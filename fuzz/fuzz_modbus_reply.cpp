// Modbus replies as they arrive, judged against each request the tool makes.
#include "protocol/modbus.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 300)
        return 0;
    static const quint8 functions[] = {0x03, 0x06, 0x10};
    for (quint8 function : functions) {
        const ReplyKind kind{ReplyKind::Modbus, kBusAddress, function};
        const ReplyState state = checkReply(kind, data, int(size));
        const ReplyVerdict verdict = judgeReply(kind, data, int(size));
        // A complete answer must be exactly what the function implies.
        if (state == ReplyState::Answer && function != 0x03 && size != 8)
            __builtin_trap();
        if (verdict.ok() && state != ReplyState::Answer)
            __builtin_trap();
    }
    return 0;
}
