// Result codes of the file API. 0 is success (1 and 2 are informational); failures have the top bit set.
#pragma once

#include "klib_Types.h"

constexpr u32 FSW_OK = 0;
constexpr u32 FSW_END_OF_FILE = 1;          // fsw_read moved nothing
constexpr u32 FSW_DIR_EXISTED = 2;          // fsw_makeDir: every folder existed already
constexpr u32 FSW_E_FAILED = 0x80000000;    // a null argument of the time conversion or a hook
constexpr u32 FSW_E_NOT_FOUND = 0x80000001; // also: no more directory entries
constexpr u32 FSW_E_EXISTS = 0x80000002;
constexpr u32 FSW_E_INVALID_HANDLE = 0x80000003;
constexpr u32 FSW_E_INVALID_NAME = 0x80000004; // invalid name or path; a folder could not be made or removed
constexpr u32 FSW_E_ACCESS = 0x80000005;       // access denied / write-protected
constexpr u32 FSW_E_IN_USE = 0x80000006;
constexpr u32 FSW_E_NAME_TOO_LONG = 0x80000010;
constexpr u32 FSW_E_TOO_MANY_FILES = 0x80000011;
constexpr u32 FSW_E_BEYOND_32_BITS = 0x80000012; // size or position does not fit 32 bits
constexpr u32 FSW_E_DISK_FULL = 0x80000014;
constexpr u32 FSW_E_UNSUPPORTED = 0x80000100;
constexpr u32 FSW_E_DAMAGED = 0x80001000;
constexpr u32 FSW_E_NO_MEMORY = 0x80001001;
constexpr u32 FSW_E_BAD_ARGUMENT = 0x8000f000;
constexpr u32 FSW_E_OTHER = 0x8000ffff;
