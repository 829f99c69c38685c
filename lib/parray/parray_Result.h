// Result codes of the typed value arrays.
#pragma once

#include "klib_Types.h"

namespace PARRAY {

constexpr u32 RESULT_OK = 0;
constexpr u32 RESULT_FAILED = 0x80000000u;

} // namespace PARRAY
