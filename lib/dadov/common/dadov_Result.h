// Result codes of the audio-component manager (DADOV). 0 is success; failures have the top bit set (negative as
// i32). Plug-ins see the same values through the accessor interfaces.
#pragma once

#include "dadov_Types.h"

namespace DADOV {

constexpr i32 DADOV_OK = 0;
// Every failure the manager and its plug-in interfaces report: no semaphore, not the owner, a value that does not
// fit or convert, a refused database write, a directory that cannot be listed.
constexpr i32 DADOV_E_FAILED = static_cast<i32>(0x80000000u);

inline bool dadovFailed(i32 result)
{
    return result < 0;
}

} // namespace DADOV
