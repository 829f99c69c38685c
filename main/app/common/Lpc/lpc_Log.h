// The log of logical position control: its lines begin with "[NQ] " and go to the log of the calling thread (to
// the debug print outside the thread system).
#pragma once

#include "klib_Types.h"

namespace LPC {

void logNq(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Logs "[NQ] <what> - not supported.\n" for an operation this program does not offer: PYRITE_E_NOT_SUPPORTED.
u32 notSupported(const char* what);

} // namespace LPC
