// Result codes of the value-to-text expressions.
#pragma once

#include "klib_Types.h"

namespace Expression {

constexpr u32 RESULT_OK = 0;
constexpr u32 RESULT_FAILED = 0x80000000u;
constexpr u32 RESULT_BAD_ARGUMENT = 0x80000003u; // bad argument or unreadable text
constexpr u32 RESULT_NO_TABLE = 0x80000004u;
constexpr u32 RESULT_OUT_OF_RANGE = 0x80000005u;
constexpr u32 RESULT_BUFFER_TOO_SMALL = 0x80000006u; // no buffer or buffer too small
constexpr u32 RESULT_NOT_SUPPORTED = 0x80000007u;

} // namespace Expression
