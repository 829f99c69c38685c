// Restart of the program through the batch file "restart.bat" beside the executable.
#pragma once

#include "klib_Types.h"

// Starts "/bin/sh <dir>/restart.bat <programPath>", where dir is everything before the last "/" or "\" of the
// path (trailing separators removed; "." for a bare name). The command runs in a session of its own with no
// signal blocked and no descriptor but 0, 1 and 2, and is neither waited for nor checked. 0x80000000 for a null
// path, else 0.
u32 restartProgram(const char* programPath);
