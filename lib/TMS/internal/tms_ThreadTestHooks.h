// Test-only controls of the thread system. Production code never includes this header.
#pragma once

#include "klib_Types.h"

namespace TMS::testhooks {

// sendMessageWithWaiting: number of attempts and the pause after a busy one (default 100 x 100 ms).
void setSendRetry(u32 attempts, u32 intervalMs);
void resetSendRetry();

// The clock read by the object timers; null restores the millisecond clock.
using TimerClock = u32 (*)();
void setTimerClock(TimerClock clock);

} // namespace TMS::testhooks
