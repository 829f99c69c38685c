// Network adapters and IPv4 address text.
#pragma once

#include <string>
#include <vector>

#include "klib_Types.h"
#include "os_Result.h"

namespace ossupport {

// One adapter: its interface index as decimal text and its friendly name (at most 511 bytes).
struct AdapterEntry
{
    std::string m_index;
    std::string m_name;
};

// Empties out, then lists the non-loopback adapters in interface-index order. OS_E_FAILED when the
// platform list cannot be read.
u32 listNetworkAdapters(std::vector<AdapterEntry>* out);
// The adapter whose decimal interface index equals adapterIndex byte for byte ("07" matches nothing):
// DHCP flag, first IPv4 address and mask, first gateway. Outputs (each may be null) are zeroed first.
// OS_E_FAILED when the list cannot be read or nothing matches.
u32 getNetworkAdapterAddress(const char* adapterIndex, bool* dhcpEnabled, u32* ip, u32* mask, u32* gateway);
// Copies min(size, address length) bytes of the hardware address, zero-filling the rest of mac[0..size).
// Null arguments, size 0 or no match: OS_E_FAILED.
u32 getNetworkAdapterMacAddress(const char* adapterIndex, u8* mac, u32 size);

// An IPv4 address is a u32 in host order, the first dotted number in the most significant byte.
struct IPv4Address
{
    u32 m_value = 0;
};

// "a.b.c.d", each a decimal number of at most 255, gives (a << 24) | (b << 16) | (c << 8) | d; anything
// else gives 0. Characters after the fourth number are not examined. The value is returned and, when
// address is non-null, stored there.
u32 parseIPv4Address(u32* address, const char* text);
// "%d.%d.%d.%d" from the most significant byte down. Null argument: OS_E_RANGE.
u32 formatIPv4Address(const u32* address, std::string* out);
u32 setIPv4Address(u32* address, u32 value);
u32 clearIPv4Address(u32* address);

} // namespace ossupport
