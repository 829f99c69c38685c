// Result codes of the parameter database. 0 is success; failures have the top bit set (negative as i32). One value
// can mean different things to different operations: each name tells its operations' meaning. The result groups
// of the records, blocks and files (Record, PDBBlock, ItemRecord, ItemFileResult) and the class constants name
// these values.
#pragma once

#include "klib_Types.h"

namespace PDB {

constexpr i32 RESULT_FAILED = static_cast<i32>(0x80000000u);
constexpr i32 RESULT_INVALID_INDEX = static_cast<i32>(0x80000000u); // no component at the index
constexpr i32 RESULT_INVALID_SUBSCRIBER = static_cast<i32>(0x80000000u);
constexpr i32 RESULT_BAD_ARGUMENT = static_cast<i32>(0x80000001u);
constexpr i32 RESULT_NOT_FOUND = static_cast<i32>(0x80000002u);
constexpr i32 RESULT_EXPORT_FAILED = static_cast<i32>(0x80000003u);
constexpr i32 RESULT_CONVERSION_ERROR = static_cast<i32>(0x80000003u); // a JSON value of the wrong kind or range
constexpr i32 RESULT_OUT_OF_RANGE = static_cast<i32>(0x80000003u);
constexpr i32 RESULT_REFUSED = static_cast<i32>(0x80000004u);
constexpr i32 RESULT_UNREADABLE = static_cast<i32>(0x80000004u);      // a file that cannot be read
constexpr i32 RESULT_BLOCK_NO_MEMORY = static_cast<i32>(0x80000005u); // container blocks and item records
constexpr i32 RESULT_LIMIT_OVER = static_cast<i32>(0x80000007u);      // a block above the reading limit
constexpr i32 RESULT_PROTECTED = static_cast<i32>(0x80000008u);       // a write-protected file
constexpr i32 RESULT_BULK_FAILED = static_cast<i32>(0x80000040u);
constexpr i32 RESULT_NOT_WRITTEN = static_cast<i32>(0x80000080u);
constexpr i32 RESULT_NO_DATA = static_cast<i32>(0x80008000u);
constexpr i32 RESULT_MALFORMED = static_cast<i32>(0x80010000u);
constexpr i32 RESULT_TYPE_MISMATCH = static_cast<i32>(0x80020000u);
constexpr i32 RESULT_WRONG_FILE = static_cast<i32>(0x80020000u);
constexpr i32 RESULT_UNKNOWN_PARAMETER_TYPE = static_cast<i32>(0x80020000u); // a type name a description lacks
constexpr i32 RESULT_NO_MEMORY = static_cast<i32>(0x80040000u);
constexpr i32 RESULT_NOT_SUPPORTED = static_cast<i32>(0x80080000u);
constexpr i32 RESULT_NOTHING_TO_DO = static_cast<i32>(0x80080000u);
constexpr i32 RESULT_DUPLICATE = static_cast<i32>(0x80100000u);
constexpr i32 RESULT_UNKNOWN_TYPE = static_cast<i32>(0x80200000u); // a component type not registered
constexpr i32 RESULT_INDEX_OUT_OF_RANGE = static_cast<i32>(0x80200001u);

} // namespace PDB
