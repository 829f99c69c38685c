// Result codes of the application core: the product information, the application threads, program start and
// restart. 0 is success; failures have the top bit set.
#pragma once

#include "klib_Types.h"

namespace PYRITE {

constexpr u32 PYRITE_OK = 0;
constexpr u32 PYRITE_E_FAILED = 0x80000000;        // generic failure
constexpr u32 PYRITE_E_NOT_SUPPORTED = 0x80000001; // an operation this program does not offer
constexpr u32 PYRITE_E_NOT_FOUND = 0x80000002;     // no such item, file or thread
constexpr u32 PYRITE_E_RANGE = 0x80000003;         // a number out of its range

inline bool pyriteFailed(u32 result)
{
    return (result & 0x80000000u) != 0;
}

} // namespace PYRITE
