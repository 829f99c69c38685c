// Result codes of the debug console. 0 is success; failures have the top bit set.
#pragma once

#include "klib_Types.h"

namespace DBGC {

constexpr u32 RESULT_FAILED = 0x80000000u;
// Results of the command modules (negative as i32); the console prints them with the module's name.
constexpr i32 RESULT_COMMAND_FAILED = static_cast<i32>(0x80000000u);
constexpr i32 RESULT_NOT_FOUND = static_cast<i32>(0x80000002u); // no such thread, component or parameter
// The transport refused a send (nothing connected, or the link is cut).
constexpr i32 RESULT_SEND_REFUSED = static_cast<i32>(0x80000003u);

} // namespace DBGC
