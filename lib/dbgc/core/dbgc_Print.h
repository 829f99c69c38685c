// The program-wide debug print: every line goes to each registered console transport (at most 2) and to
// standard output, atomically with respect to other debug prints under the lock "DBGC" (count 1, not
// recursive, on a futex word of its own: no system call unless a taker has to sleep).
//
// Lock order: "DBGC" first, then a transport's own locks. "DBGC" is not recursive: nothing may call dbgc_printf
// or dbgc_puts while holding dbgc_lock.
#pragma once

#include "klib_Print.h"
#include "klib_Types.h"
#include "klib_Vector.h"

namespace DBGC {

class IDebugConsoleLowIO;

// The registered transports ("DBGC::gLowIOList", room for 2). Changed only under "DBGC".
extern KLIB::KVector<IDebugConsoleLowIO*> gLowIOList;

constexpr u32 PRINT_BUFFER_SIZE = 400;
constexpr u32 MAX_LOW_IO = 2;

} // namespace DBGC

// False after dbgc_finalize or while the OS layer is not running; true when "DBGC" exists or was created now.
bool dbgc_initialize();
// Registers a transport: 0; 0x80000000 when 2 are registered already or the argument is null. 0 also when the
// registry cannot be initialised (nothing is registered then).
u32 dbgc_addLowIO(DBGC::IDebugConsoleLowIO* transport);
// Under "DBGC": clears the list and marks the print finalised; prints do nothing afterwards. The lock is kept
// so that threads still printing never wait on a deleted one. 0x80000000 when not initialised or already
// finalised.
u32 dbgc_finalize();
// Writes text to every transport and to standard output under "DBGC"; the text length (0 when finalised).
u32 dbgc_puts(const char* text);
// printf into a 400-byte per-thread buffer (cut at 399 characters), then as dbgc_puts under "DBGC"; the length
// written, 0 when the registry is not usable.
u32 dbgc_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Take and release "DBGC" around multi-line output: 0, or 0x80000000 when it does not exist or the OS layer is
// not running (then nothing was taken, and the matching dbgc_unlock is to be skipped).
u32 dbgc_lock();
u32 dbgc_unlock();

// The logging macro of code at and above the debug console: records the source position, then prints through
// the DBGC print.
#define DBGC_LOG(...) (klib_setPrintLocation(__FILE__, __LINE__), dbgc_printf(__VA_ARGS__))
