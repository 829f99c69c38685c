// Set-up helpers of an audio component instance: its parameter-database component and the manager accessor of
// its use by a processing thread.
#pragma once

#include "klib_Types.h"

namespace PARRAY {
class ArrayAccessorForServer;
}

namespace DADOV {

class MeterPool;
class VEXADManagerAccessor;

// Adds the instance's component to the component database (id 10; the null database while the collection holds
// fewer than 11): 0, or 0x80000000 for a null type name or when the database refuses. flags is the component
// number (negative values are refused by the database).
i32 addPDBComponent(u32 uid, const char* typeName, u32 majorVersion, u32 numX, u32 numY, i16 flags);

// Makes the manager accessor of component uid: under the component database's read lock, builds its local
// component from the description the database holds for uid; takes the parameter arrays and the first three
// meter sets of meters (either may be null); then reserves the component for the calling thread. Null when the
// database has no such component, its description has no blocks or memory runs out (nothing reserved then).
VEXADManagerAccessor* createManagerAccessor(u32 uid, u32 numX, u32 numY, PARRAY::ArrayAccessorForServer* arrays,
                                            MeterPool* meters);
// Releases the calling thread's reservation of the accessor's component, the local component's arrays, and
// deletes the accessor. Null does nothing. Called on the thread that created it (reservations are per thread).
void destroyManagerAccessor(VEXADManagerAccessor* accessor);

} // namespace DADOV
