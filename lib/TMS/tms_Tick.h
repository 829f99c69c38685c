// The OS tick: one process-wide periodic timer on a thread of its own that calls a callback object every period.
// The thread sleeps to absolute deadlines of the monotonic clock; periods missed while the callback ran late are
// skipped, never called in a burst.
#pragma once

#include "klib_Types.h"

namespace TMS {

class IOSTimerCallback
{
public:
    virtual ~IOSTimerCallback() = default;
    virtual u32 onOSTimer() = 0;
};

namespace OSTick {

constexpr u32 DEFAULT_PERIOD_MS = 10;

// Starts the tick thread: 0. 0x80000000 when a tick already runs, for a null callback, period 0 or when the
// thread cannot be started.
u32 start(u32 periodMs, IOSTimerCallback* callback);
// Stops the tick and waits until its thread has ended, so no callback runs after the return: 0.
// 0x80000000 when none runs. Must not be called from the callback.
u32 stop();
bool isRunning();

} // namespace OSTick

} // namespace TMS
