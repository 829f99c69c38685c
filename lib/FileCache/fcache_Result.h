// Result codes of the file cache: the container (MBDFResult), the byte helpers and the compression adapter.
// 0 is success; failures have the top bit set (negative as i32).
#pragma once

#include "klib_Types.h"

namespace FILECACHE {

// Byte helpers, ini files and virtual directories: "fails" means this.
constexpr i32 RESULT_FAILED = static_cast<i32>(0x80000000u);

namespace MBDFResult {
constexpr i32 kFailed = RESULT_FAILED;
constexpr i32 kBadArgument = static_cast<i32>(0x80000001u);
constexpr i32 kInvalid = static_cast<i32>(0x80000002u);
constexpr i32 kOutOfRange = static_cast<i32>(0x80000003u);
constexpr i32 kFileError = static_cast<i32>(0x80000004u);
constexpr i32 kNoMemory = static_cast<i32>(0x80000005u);
constexpr i32 kNotLoaded = static_cast<i32>(0x80000006u);
constexpr i32 kDirectory = static_cast<i32>(0x80000007u);
constexpr i32 kDiskFull = static_cast<i32>(0x80000009u);
constexpr i32 kAborted = static_cast<i32>(0x8000000Au);
} // namespace MBDFResult

// The compression adapter (zlib's own codes never leave it).
namespace Zlib {
constexpr i32 kRunning = 0;                                 // step: more to do
constexpr i32 kStreamEnd = 1;                               // step: the stream is complete
constexpr i32 kBadArgument = static_cast<i32>(0x80000001u); // null buffers, level out of range, not begun
constexpr i32 kStreamError = static_cast<i32>(0x80000003u); // corrupt, cut or otherwise failing stream
constexpr i32 kNoMemory = static_cast<i32>(0x80000005u);
} // namespace Zlib

} // namespace FILECACHE
