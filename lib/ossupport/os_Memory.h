// Whole pages of memory straight from the OS, for allocators of their own. Any thread.
#pragma once

#include "klib_Types.h"

namespace ossupport {

// Bytes of one page.
u64 getPageSize();

// Reserves `length` bytes (a multiple of the page size) of zeroed, readable and writable private memory.
// Null when the OS refuses or length is 0.
void* reservePages(u64 length);

// Gives back a range that reservePages returned, whole. 0; OS_E_RANGE for null or a length of 0; OS_E_PLATFORM
// when the OS refuses.
u32 releasePages(void* base, u64 length);

} // namespace ossupport
