// Service replies come off the line as they are: any bytes, any length.
#include "protocol/packet.h"
#include "protocol/reply.h"

#include <algorithm>
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
    // try both a roomy and a tight output buffer. Heap buffers of the exact
    // size let ASan see a write past either.
    std::vector<unsigned char> in(data, data + size);
    std::vector<unsigned char> out(size / 2 + 2);
    int outLen = -1;
    const int roomy = packet_parse(in.data(), int(size), out.data(), int(out.size()), &outLen);
    if (outLen > int(out.size()) || (roomy == 1 && outLen < 2))
        __builtin_trap();
    std::vector<unsigned char> tight(8);
    int tightLen = -1;
    const int narrow
        = packet_parse(in.data(), int(size), tight.data(), int(tight.size()), &tightLen);
    if (tightLen > int(tight.size()) || (narrow == 1 && roomy != 1))
        __builtin_trap();
    // The wait's verdict and the parser's agree on every frame that begins with "~".
    const ReplyState state = checkServiceReply(in.data(), int(size));
    const bool hasStart = std::find(in.begin(), in.end(), '~') != in.end();
    if (hasStart && (state == ReplyState::Answer) != (roomy == 1))
        __builtin_trap();
    return 0;
}
