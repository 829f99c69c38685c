// Result codes of the OS layer. 0 is success; failures have the top bit set, so callers test `< 0`
// after a cast to i32 or compare against these values.
#pragma once

#include "klib_Types.h"

namespace ossupport {

constexpr u32 OS_OK = 0;
constexpr u32 OS_NO_FOREIGN_ID = 9;  // informational: the foreign-thread table is full
constexpr u32 OS_TIMER_EXPIRED = 12; // informational: checkTimer found the timer expired

constexpr u32 OS_E_FAILED = 0x80000000;        // generic failure (adapters, library release)
constexpr u32 OS_E_ARGUMENT = 0x80000001;      // bad argument of the library and text routines
constexpr u32 OS_E_NOT_FOUND = 0x80000002;     // library not loaded / symbol not exported
constexpr u32 OS_E_NO_MEMORY = 0x80000004;     // conversion or allocation failure
constexpr u32 OS_E_RANGE = 0x80000005;         // null argument or id outside its table's range
constexpr u32 OS_E_NOT_READY = 0x80000007;     // entry not in use / not ready, or caller is not a task
constexpr u32 OS_E_STATE = 0x80000008;         // wrong state (in use, started, (not) initialised, ...)
constexpr u32 OS_E_TIMEOUT = 0x8000000C;       // pattern not met within the time
constexpr u32 OS_E_NO_ID = 0x80000010;         // no free id in the automatic range
constexpr u32 OS_E_END_REQUESTED = 0x80000011; // end of task requested
constexpr u32 OS_E_PLATFORM = 0x80000013;      // the platform refused (thread, wait, signal)

inline bool osFailed(u32 result)
{
    return (result & 0x80000000u) != 0;
}

} // namespace ossupport
