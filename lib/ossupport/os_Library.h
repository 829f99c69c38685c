// Dynamic libraries (plug-ins are shared objects whose file names end in ".dll").
#pragma once

#include "klib_Types.h"
#include "os_Result.h"

namespace ossupport {

using LibraryModule = void*;

// Null out or path: OS_E_ARGUMENT; path not valid UTF-8: OS_E_ARGUMENT. Failure to load: the loader's
// message is written to errorText cut to errorSize bytes including the terminating NUL (when errorText is
// non-null and errorSize > 0) and the result is OS_E_NOT_FOUND. *out is null on failure.
u32 loadDynamicLibrary(LibraryModule* out, char* errorText, int errorSize, const char* utf8Path);
// Any null argument: OS_E_ARGUMENT; *out = the symbol, or null and OS_E_NOT_FOUND.
u32 getDynamicLibrarySymbol(void** out, LibraryModule module, const char* name);
// Null: OS_E_ARGUMENT; the loader's failure: OS_E_FAILED; else 0.
u32 freeDynamicLibrary(LibraryModule module);

} // namespace ossupport
