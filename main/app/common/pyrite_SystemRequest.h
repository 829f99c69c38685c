// Ending the program from any thread: the thread "System" is released like on its command "Close".
#pragma once

#include "klib_Types.h"

namespace PYRITE {

// From a thread of the thread system: releases "System" at once (the call returns, the release goes on in its
// loop). From any other thread: sends "System" the command "Close", so it releases itself and the thread that
// owns it (the application start) tears it down. The release or send result; nothing happens without "System".
u32 requestSystemClose();

} // namespace PYRITE
