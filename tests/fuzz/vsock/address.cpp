// Address texts: any text either fails to parse or survives a round trip through the canonical form; the
// writer never passes the size it is given.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vsock_Socket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const u32 family = (data[0] & 1) != 0 ? VSOCK_FAMILY_IPV6 : VSOCK_FAMILY_IPV4;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    VsockAddress parsed{};
    if (vsockStringToAddress(family, text.c_str(), &parsed) != VSOCK_OK) {
        return 0;
    }
    char out[64];
    if (vsockAddressToString(&parsed, out, sizeof(out)) != VSOCK_OK) {
        std::abort(); // every parsed address has a text
    }
    VsockAddress again{};
    if (vsockStringToAddress(family, out, &again) != VSOCK_OK || std::memcmp(&parsed, &again, sizeof(parsed)) != 0) {
        std::abort();
    }
    const size_t length = std::strlen(out);
    for (u32 limit = 1; limit <= length + 1; ++limit) {
        char small[64];
        std::memset(small, 0x5A, sizeof(small));
        const i32 rc = vsockAddressToString(&parsed, small, limit);
        if ((rc == VSOCK_OK) != (limit == length + 1) || small[limit] != 0x5A) {
            std::abort();
        }
        if (rc == VSOCK_OK && std::strcmp(small, out) != 0) {
            std::abort();
        }
    }
    return 0;
}
