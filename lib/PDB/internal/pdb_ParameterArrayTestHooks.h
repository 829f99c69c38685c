// Test-only controls of the parameter arrays. Production code never includes this header.
#pragma once

#include "klib_Types.h"

namespace PDB::testhooks {

// After `successes` further status-byte allocations of parameter arrays, the next one fails (once); a negative
// value switches the injection off.
void failStatusAllocationAfter(i32 successes);

} // namespace PDB::testhooks
