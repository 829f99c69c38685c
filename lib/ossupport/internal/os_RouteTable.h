// The reader of the kernel's IPv4 route table text (/proc/net/route): a header line, then one route per line,
// "Iface Destination Gateway Flags RefCnt Use Metric Mask ..." separated by blanks, the addresses being the
// network-order words printed as hexadecimal.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "klib_Types.h"

namespace ossupport::detail {

// Calls found(interface, gateway) for every line after the header whose interface name fits an interface
// (1..15 bytes), whose destination, gateway and flags are hexadecimal words of at most 8 digits, whose flags mark a
// gateway route and whose gateway is not 0; the gateway in host order. Lines that do not qualify, and lines over
// 511 bytes, are passed over whole; a NUL ends a line.
void readRouteTable(std::FILE* file, const std::function<void(const std::string& interface, u32 gateway)>& found);

} // namespace ossupport::detail
