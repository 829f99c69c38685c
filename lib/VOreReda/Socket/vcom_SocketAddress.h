// VComSocketAddress: one slot-layer address (family, 16 address bytes, scope id) as a small value class.
#pragma once

#include "klib_Types.h"
#include "vsock_Socket.h"

namespace VCOM {

class VComSocketAddress
{
public:
    VComSocketAddress();
    explicit VComSocketAddress(const VsockAddress& address);
    // Parses text with vsockStringToAddress; an unparsable text leaves the address empty.
    VComSocketAddress(u32 family, const char* text);
    virtual ~VComSocketAddress() = default;

    VComSocketAddress(const VComSocketAddress&) = default;
    VComSocketAddress& operator=(const VComSocketAddress&) = default;

    // 0, or 0x80000000 when the text does not parse (the address is then unchanged).
    i32 setAddress(u32 family, const char* text);
    void setVsockAddress(const VsockAddress& address);
    void getVsockAddress(VsockAddress* out) const;
    const VsockAddress& getVsockAddress() const { return m_address; }
    void clear();
    u32 getFamily() const { return m_address.family; }
    // IPv4: 4 bytes in network order (size >= 4); IPv6: 16 bytes (size >= 16); else 0x80000000.
    i32 getAddressBytes(u8* out, u32 size) const;
    // The address text (vsockAddressToString) and its family (may be null).
    i32 getAddressText(char* out, u32 size, u32* family) const;

    bool operator==(const VComSocketAddress& other) const;

private:
    VsockAddress m_address;
};

} // namespace VCOM
