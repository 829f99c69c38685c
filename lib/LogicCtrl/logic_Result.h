// Result codes of the logic library. 0 is success; failures have the top bit set (negative as i32).
#pragma once

#include "klib_Types.h"

namespace LogicCtrl {

constexpr i32 LOGIC_OK = 0;
// No usable mutex or registry state; an unlock by a thread that does not hold the mutex; a failed wait.
constexpr i32 LOGIC_E_FAILED = static_cast<i32>(0x80000000u);
// Port number out of range, null component, uid not registered, component already initialised, bad kind.
constexpr i32 LOGIC_E_ARGUMENT = static_cast<i32>(0x80000001u);
// Allocation failure.
constexpr i32 LOGIC_E_NO_MEMORY = static_cast<i32>(0x80040000u);
// Operation the value kind does not support; a second initialisation of the registry.
constexpr i32 LOGIC_E_NOT_SUPPORTED = static_cast<i32>(0x80080000u);
// A uid the registry already holds, or the invalid uid 0xFFFFFFFF given to a component.
constexpr i32 LOGIC_E_UID = static_cast<i32>(0x80100000u);

inline bool logicFailed(i32 result)
{
    return result < 0;
}

} // namespace LogicCtrl
