#include "lpc_Log.h"

#include <cstdarg>

#include "klib_Print.h"
#include "pyrite_Result.h"
#include "tms_ThreadLogger.h"
#include "tms_ThreadRepository.h"

namespace LPC {

void logNq(const char* format, ...)
{
    char line[TMS::ThreadLogger::LINE_SIZE];
    line[0] = '\0';
    va_list args;
    va_start(args, format);
    klib_vsnprintf(line, sizeof(line), nullptr, format, args);
    va_end(args);
    TMS::ThreadRepository::getCurrentThread()->log("%s", line);
}

u32 notSupported(const char* what)
{
    logNq("[NQ] %s - not supported.\n", what);
    return PYRITE::PYRITE_E_NOT_SUPPORTED;
}

} // namespace LPC
