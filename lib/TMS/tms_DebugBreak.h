// The debug-break hook: called at points where a developer build would stop (caller errors such as unlocking a
// mutex that the caller does not hold). It does not change the program's behaviour; it only counts its calls, so
// that tests can see that a caller error was detected.
#pragma once

#include "klib_Types.h"

namespace TMS {

// Counts the call and returns 0.
u32 returnZero();
// Number of returnZero calls in this process so far.
u64 getDebugBreakCount();

} // namespace TMS
