// Test-only controls of the OS layer. Production code never includes this header.
#pragma once

#include "klib_Types.h"

namespace ossupport::testhooks {

// Added (wrapping) to every getMilliseconds reading; 0 restores the plain clock.
void setMillisecondsOffset(u32 offset);
u32 getMillisecondsOffset();

// Makes getCurrentUtcTime report the given time (seconds since 1970-01-01 00:00:00 UTC) until cleared.
void fixUtcTime(i64 secondsSinceEpoch);
void clearFixedUtcTime();

// How long deleteTask waits for a running task's thread (default 5000 ms).
void setDeleteTaskWaitMs(u32 ms);

} // namespace ossupport::testhooks
