// A read reply decoded by every entry type: only bytes that arrived are read.
#include "config/devicelist.h"
#include "device/decode.h"
#include "device/registers.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3 || size > 300)
        return 0;
    DeviceEntry entry;
    entry.type = data[0] % 12;
    entry.xsws = int(int8_t(data[1]));
    entry.base = (data[2] & 1) ? kSwitchStateRegister : kProtectionFlagsRegister;
    // A heap copy of exactly the bytes that arrived lets ASan see any read past them.
    std::vector<unsigned char> reply(data + 3, data + size);
    decodeReply(entry, reply.data(), int(reply.size()));
    return 0;
}
