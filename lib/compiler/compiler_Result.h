// Result codes of the DSP resource compiler. 0 is success; failures have the top bit set. Several codes are
// shared by more than one stage, each with the meaning that stage gives it.
#pragma once

#include "klib_Types.h"

namespace Compiler {

constexpr i32 COMPILER_OK = 0;

// A reader gave its default; an invalid resource model; no core at all can take a component; the result
// writer found no DSP system name. Also the compile result record's value until a compile sets it.
constexpr i32 COMPILER_E_FAILED = static_cast<i32>(0x80000000u);
// compile: no DSP system matches the configuration, the model cannot be built, or an instance has no type.
constexpr i32 COMPILER_E_NO_SYSTEM = static_cast<i32>(0x80000001u);
// findCandidateCores: every fitting core is busy beyond the step.
constexpr i32 COMPILER_E_BUSY = static_cast<i32>(0x80000001u);
// allocate: a requirement is not smaller than the remaining capacity.
constexpr i32 COMPILER_E_NO_ROOM = static_cast<i32>(0x80000001u);
// compile: aborted through the callback.
constexpr i32 COMPILER_E_ABORTED = static_cast<i32>(0x80000002u);
// findCandidateCores: the "step" capacity is short on every fitting core that is not busy.
constexpr i32 COMPILER_E_STEP_SHORT = static_cast<i32>(0x80000002u);
// compile: a core's "step" capacity was exceeded, or the dependency graph was refused (cycle, unknown
// uniqID, uniqID listed twice).
constexpr i32 COMPILER_E_OVERFLOW = static_cast<i32>(0x80000003u);
// compile: a component fits on no core of the selected DSP system.
constexpr i32 COMPILER_E_NO_CORE = static_cast<i32>(0x80000005u);
// compile: a placed component received no "step" allocation.
constexpr i32 COMPILER_E_NO_STEP = static_cast<i32>(0x80000008u);

inline bool compilerFailed(i32 result)
{
    return result < 0;
}

} // namespace Compiler
