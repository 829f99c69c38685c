// Result codes of the thread system. 0 is success; failures have the top bit set (test `< 0` after a cast to i32).
#pragma once

#include "klib_Types.h"

namespace TMS {

constexpr u32 RESULT_FAILED = 0x80000000;
constexpr u32 RESULT_ARGUMENT = 0x80000002;  // bad argument
constexpr u32 RESULT_RANGE = 0x80000003;     // id or index outside its table
constexpr u32 RESULT_NOT_READY = 0x80000003; // system information not set up
constexpr u32 RESULT_NO_MUTEX = 0x80000004;  // the guarding mutex could not be taken
constexpr u32 RESULT_NO_ROOM = 0x80000004;   // an item of the system information could not be stored
constexpr u32 RESULT_NOT_OWNER = 0x80000005; // unlock by a thread that does not hold the mutex
constexpr u32 RESULT_NO_MEMORY = 0x80000005;
constexpr u32 RESULT_KIND = 0x80000006;       // wrong message kind
constexpr u32 RESULT_NO_LINE = 0x80000007;    // no log line to take
constexpr u32 RESULT_EMPTY = 0x80000007;      // nothing queued
constexpr u32 RESULT_FULL = 0x80000008;       // queue or stream full
constexpr u32 RESULT_UNKNOWN = 0x80000009;    // no such entry
constexpr u32 RESULT_NO_TIMER = 0x80000009;   // no such timer
constexpr u32 RESULT_NO_PATTERN = 0x8000000C; // the awaited event pattern did not come

} // namespace TMS
