// Result codes of the project loader's delegate interface.
#pragma once

#include "klib_Types.h"

namespace MMSFUNC {

namespace LoaderResult {
constexpr i32 kFailed = static_cast<i32>(0x80000000u);
constexpr i32 kRefused = static_cast<i32>(0x80000001u);
} // namespace LoaderResult

} // namespace MMSFUNC
