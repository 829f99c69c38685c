// Millisecond clock, sleep, one-shot timer and flag records, UTC calendar time.
#pragma once

#include "klib_Types.h"
#include "os_Result.h"

namespace ossupport {

// Wrapping 32-bit millisecond clock: differences are taken as u32 (now - then).
u32 getMilliseconds(u32* ms);
// Sleeps at least ms milliseconds; 0 yields the processor. Result 0.
u32 sleepMilliseconds(u32 ms);

constexpr u32 OS_TIMER_BARRED = 1;
constexpr u32 OS_TIMER_RUNNING = 2;
constexpr u32 OS_TIMER_EXPIRED_STATE = 3;

// One-shot timer record; any state other than 1, 2, 3 means not started.
struct Timer
{
    u32 m_state = 0;
    u32 m_start = 0;    // clock value at start
    u32 m_interval = 0; // ms
};

// null: OS_E_RANGE; state 1: OS_E_STATE; else starts the timer (state 2).
u32 startTimer(Timer* timer, u32 ms);
// null: OS_E_RANGE; running and elapsed, or expired: OS_TIMER_EXPIRED (the timer stays expired);
// running: 0; not started: OS_E_STATE.
u32 checkTimer(Timer* timer);

// Flag record: one byte, 0 = clear.
u32 clearFlag(u8* flag);
// 0 when set, OS_E_STATE when clear, OS_E_RANGE for null.
u32 testFlag(const u8* flag);

// Current UTC calendar time: full year, month 1..12, day 1..31, weekday 0..6 (0 = Sunday), hour,
// minute, second. Null pointers are skipped. Result 0.
u32 getCurrentUtcTime(u32* year, u32* month, u32* day, u32* weekday, u32* hour, u32* minute, u32* second);

} // namespace ossupport
