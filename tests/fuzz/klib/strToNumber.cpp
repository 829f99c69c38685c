// Fuzz target: number literals and strtol/strtoul over untrusted, unterminated text.
// Byte 0 chooses the strtol base; the rest is the text.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "klib_Print.h"

namespace {

void checkEnd(const char* text, u32 length, const char* end)
{
    if (end < text || end > text + length) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const i32 base = static_cast<i32>(data[0] % 40);
    const std::vector<char> text(data + 1, data + size); // exact size: any over-read is caught
    const char* t = text.data();
    const u32 length = static_cast<u32>(text.size());

    u32 value = 0;
    u32 form = 0xFF;
    const u32 r = klib_strToNumber(&value, &form, t, length);
    if (r <= 1 && form > 2) {
        std::abort();
    }
    if (r > 1 && r != 0x80000001u && r != 0x80000002u) {
        std::abort();
    }
    f32 f = 0;
    const u32 rf = klib_strToFloat(&f, &form, t, length);
    if (rf <= 1 && form > 2) {
        std::abort();
    }

    i32 l = 0;
    char* end = nullptr;
    const u32 rl = klib_strtol(&l, t, &end, base, length);
    if (rl == 0 || rl == 0x80000002u || rl == 0x80000003u) {
        checkEnd(t, length, end);
        if ((rl == 0x80000002u && l != 0x7FFFFFFF) || (rl == 0x80000003u && l != INT32_MIN)) {
            std::abort();
        }
    } else if (rl != 0x80000001u) {
        std::abort();
    }
    u32 ul = 0;
    end = nullptr;
    const u32 ru = klib_strtoul(&ul, t, &end, base, length);
    if (ru == 0 || ru == 0x80000002u) {
        checkEnd(t, length, end);
    } else if (ru != 0x80000001u) {
        std::abort();
    }
    return 0;
}
