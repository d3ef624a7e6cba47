// Modbus replies as they arrive, judged against each request the tool makes.
#include "protocol/reply.h"

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
        // A complete answer is exactly as long as the function says, from our
        // station, of our function, and closed by a good CRC.
        if (state == ReplyState::Answer) {
            const size_t expected = function == 0x03 ? 5u + data[2] : 8u;
            if (size != expected || data[0] != kBusAddress || data[1] != function
                || modbus_crc16(data, int(size)) != 0)
                __builtin_trap();
        }
        if (state == ReplyState::Exception
            && (size != 5 || data[1] != (function | 0x80) || modbus_crc16(data, 5) != 0))
            __builtin_trap();
        if (verdict.ok() != (state == ReplyState::Answer))
            __builtin_trap();
    }
    return 0;
}
