// Whatever the engineer types into a send line becomes bytes or a refusal.
#include "protocol/hex.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    convertSendText(text, true);
    convertSendText(text, false);
    return 0;
}
