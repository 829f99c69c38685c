// Result codes of the meter-datagram client. 0 is success; failures have the top bit set. Socket failures
// of open pass through as VCOM result codes (vcom_Result.h).
#pragma once

#include "klib_Types.h"

namespace KMDP {

constexpr i32 KMDP_OK = 0;
constexpr i32 KMDP_E_FAILED = static_cast<i32>(0x80000000u);    // bad argument, or a datagram refused
constexpr i32 KMDP_E_NOT_FOUND = static_cast<i32>(0x80000002u); // no interface has the adapter address
constexpr i32 KMDP_E_NOT_READY = static_cast<i32>(0x80000003u); // the client has no owner yet

} // namespace KMDP
