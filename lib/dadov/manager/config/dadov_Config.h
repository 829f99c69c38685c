// Set-up helpers of an audio component instance: its parameter-database component.
#pragma once

#include "klib_Types.h"

namespace DADOV {

// Adds the instance's component to the component database (id 10; the null database while the collection holds
// fewer than 11): 0, or 0x80000000 for a null type name or when the database refuses. flags is the component
// number (negative values are refused by the database).
i32 addPDBComponent(u32 uid, const char* typeName, u32 majorVersion, u32 numX, u32 numY, i16 flags);

} // namespace DADOV
