// Address texts of the slot layer: strict dotted IPv4, standard IPv6 text, and the canonical output form.
#include <arpa/inet.h>
#include <cstring>

#include "vsock_Result.h"
#include "vsock_Socket.h"

namespace {

// Exactly four decimal parts of 0..255, no leading zeros, nothing else.
bool parseIPv4(const char* text, u8 out[4])
{
    const char* p = text;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (*p != '.') {
                return false;
            }
            ++p;
        }
        if (*p < '0' || *p > '9') {
            return false;
        }
        if (*p == '0' && p[1] >= '0' && p[1] <= '9') {
            return false; // leading zero
        }
        u32 value = 0;
        int digits = 0;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + static_cast<u32>(*p - '0');
            if (++digits > 3 || value > 255) {
                return false;
            }
            ++p;
        }
        out[part] = static_cast<u8>(value);
    }
    return *p == '\0';
}

// Appends text to out at *pos, keeping room for the terminator; false when it does not fit.
bool append(char* out, u32 size, u32* pos, const char* text)
{
    const size_t len = std::strlen(text);
    if (static_cast<u64>(*pos) + len + 1 > size) {
        return false;
    }
    std::memcpy(out + *pos, text, len);
    *pos += static_cast<u32>(len);
    out[*pos] = '\0';
    return true;
}

bool appendDotted(char* out, u32 size, u32* pos, const u8* bytes)
{
    for (int i = 0; i < 4; ++i) {
        char part[5];
        int n = 0;
        if (i > 0) {
            part[n++] = '.';
        }
        const u32 v = bytes[i];
        if (v >= 100) {
            part[n++] = static_cast<char>('0' + v / 100);
        }
        if (v >= 10) {
            part[n++] = static_cast<char>('0' + (v / 10) % 10);
        }
        part[n++] = static_cast<char>('0' + v % 10);
        part[n] = '\0';
        if (!append(out, size, pos, part)) {
            return false;
        }
    }
    return true;
}

bool appendGroup(char* out, u32 size, u32* pos, u32 group)
{
    static const char digits[] = "0123456789ABCDEF";
    char text[5];
    int n = 0;
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
        const u32 d = (group >> shift) & 0xF;
        if (d != 0 || started || shift == 0) {
            text[n++] = digits[d];
            started = true;
        }
    }
    text[n] = '\0';
    return append(out, size, pos, text);
}

bool formatIPv6(const u8* bytes, char* out, u32 size, u32* pos)
{
    u32 groups[8];
    for (int i = 0; i < 8; ++i) {
        groups[i] = (static_cast<u32>(bytes[2 * i]) << 8) | bytes[2 * i + 1];
    }
    if (groups[0] == 0 && groups[1] == 0 && groups[2] == 0 && groups[3] == 0 && groups[4] == 0 && groups[5] == 0xFFFF) {
        return append(out, size, pos, "::FFFF:") && appendDotted(out, size, pos, bytes + 12);
    }
    // The longest run of two or more zero groups (the first of equal runs) becomes "::".
    int bestStart = -1;
    int bestLen = 1;
    for (int i = 0; i < 8;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 8 && groups[j] == 0) {
            ++j;
        }
        if (j - i > bestLen) {
            bestStart = i;
            bestLen = j - i;
        }
        i = j;
    }
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            if (!append(out, size, pos, "::")) {
                return false;
            }
            i += bestLen - 1;
            continue;
        }
        if (i > 0 && i != bestStart + bestLen && !append(out, size, pos, ":")) {
            return false;
        }
        if (!appendGroup(out, size, pos, groups[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

i32 vsockStringToAddress(u32 family, const char* text, VsockAddress* out)
{
    if (text == nullptr || out == nullptr || (family != VSOCK_FAMILY_IPV4 && family != VSOCK_FAMILY_IPV6)) {
        return VSOCK_E_ARG;
    }
    VsockAddress parsed{};
    parsed.family = family;
    if (family == VSOCK_FAMILY_IPV4) {
        if (!parseIPv4(text, parsed.address)) {
            return VSOCK_E_TEXT;
        }
    } else {
        in6_addr a6;
        if (::inet_pton(AF_INET6, text, &a6) != 1) {
            return VSOCK_E_TEXT;
        }
        std::memcpy(parsed.address, &a6, 16);
    }
    *out = parsed;
    return VSOCK_OK;
}

i32 vsockAddressToString(const VsockAddress* address, char* out, u32 size)
{
    if (address == nullptr || out == nullptr || size == 0 ||
        (address->family != VSOCK_FAMILY_IPV4 && address->family != VSOCK_FAMILY_IPV6)) {
        return VSOCK_E_ARG;
    }
    u32 pos = 0;
    out[0] = '\0';
    const bool ok = address->family == VSOCK_FAMILY_IPV4 ? appendDotted(out, size, &pos, address->address)
                                                         : formatIPv6(address->address, out, size, &pos);
    if (!ok) {
        out[0] = '\0';
        return VSOCK_E_TEXT;
    }
    return VSOCK_OK;
}
