// Whatever the engineer types into a send line becomes bytes or a refusal.
#include "protocol/hex.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const SendConversion hex = convertSendText(text, true);
    // A refused line sends nothing; an accepted one never more than a byte
    // per character.
    if (!hex.ok && !hex.bytes.isEmpty())
        __builtin_trap();
    if (hex.bytes.size() > text.size())
        __builtin_trap();
    const SendConversion plain = convertSendText(text, false);
    if (!plain.ok)
        __builtin_trap();
    return 0;
}
