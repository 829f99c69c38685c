// Fuzz target: Base64 decoding of untrusted text into a bounded output.
// Byte 0 chooses the output size; the rest is the encoded text (not terminated).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "klib_Codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const u32 outSize = data[0];
    const std::vector<char> text(data + 1, data + size); // exact size: any over-read is caught
    std::vector<unsigned char> out(outSize);
    u32 outLength = 0xFFFFFFFF;
    const u32 r = klib_base64Decode(out.data(), &outLength, outSize, text.data(), static_cast<u32>(text.size()));
    if (r != 0 && r != 0x80000001u && r != 0x80000002u && r != 0x80000003u) {
        std::abort();
    }
    if (r != 0) {
        return 0;
    }
    if (outLength > outSize) {
        std::abort();
    }
    // What decoded must encode and decode back to the same bytes.
    std::vector<char> again(4 * (outLength / 3 + 1) + 1);
    u32 encodedSize = 0;
    if (klib_base64Encode(again.data(), &encodedSize, static_cast<u32>(again.size()), out.data(), outLength) != 0) {
        std::abort();
    }
    std::vector<unsigned char> back(outLength + 1);
    u32 backLength = 0;
    if (klib_base64Decode(back.data(), &backLength, outLength + 1, again.data(),
                          static_cast<u32>(std::strlen(again.data()))) != 0 ||
        backLength != outLength || (outLength != 0 && std::memcmp(back.data(), out.data(), outLength) != 0)) {
        std::abort();
    }
    return 0;
}
