// Service replies come off the line as they are: any bytes, any length.
#include "protocol/packet.h"

#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool quiet = (std::freopen("/dev/null", "w", stdout) != nullptr); // diagnostics
    (void)quiet;
    if (size > 4096)
        return 0;
    // The window hands over at most 256 bytes into a buffer sized for them;
    // try both a roomy and a tight output buffer.
    std::vector<unsigned char> out(size / 2 + 2);
    int outLen = -1;
    packet_parse(data, int(size), out.data(), int(out.size()), &outLen);
    unsigned char tight[8];
    packet_parse(data, int(size), tight, int(sizeof tight), &outLen);
    checkServiceReply(data, int(size));
    return 0;
}
