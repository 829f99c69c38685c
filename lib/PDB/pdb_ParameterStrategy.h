// Parameter strategy: the per-component-type policy a parameter array consults on every value access.
//
// A strategy may narrow the limits of one element, adjust a default, refuse a write and react after a write or
// a read. The base class is also the default strategy: it accepts everything and changes nothing.
//
// Contract of a derived strategy, as the parameter arrays rely on it:
//   - getEffectiveInfo returns the block's own info or the scratch info after filling it (never an object of
//     its own whose lifetime ends with the call);
//   - checkWrite decides with a result code only (negative refuses the write) and must not write to the array;
//   - onWritten may write other parameters through the database; the array raises the database's strategy
//     guard around the call, so those writes do not call onWritten again;
//   - adjustDefault changes the value in place; the array then stores it like any written value;
//   - bind may resolve and keep parameter addresses of the database given; it runs once per database.
//
// Hooks run on the thread that accesses the parameter, inside the database's lock. The owner database may be
// null for arrays that have none.
#pragma once

#include "klib_Types.h"
#include "klib_Variant.h"

namespace PDB {

class IParameterDB;
class ParameterInfo;

class ParameterStrategy
{
public:
    ParameterStrategy() = default;
    ParameterStrategy(const ParameterStrategy&) = delete;
    ParameterStrategy& operator=(const ParameterStrategy&) = delete;
    virtual ~ParameterStrategy();

    // Once the component that uses this strategy is in the database.
    virtual i32 bind(IParameterDB* database);
    // After a value was read; the result is ignored.
    virtual i32 onRead(IParameterDB* owner, u32 componentIndex, u32 blockIndex, u32 x, u32 y, const ParameterInfo& info,
                       const KVariant& value);
    // The info whose limits apply to element (x, y): info itself or scratch after filling it.
    virtual const ParameterInfo& getEffectiveInfo(IParameterDB* owner, u32 componentIndex, u32 blockIndex, u32 x, u32 y,
                                                  const ParameterInfo& info, ParameterInfo& scratch);
    // Adjusts a default value in place.
    virtual i32 adjustDefault(IParameterDB* owner, u32 componentIndex, u32 blockIndex, u32 x, u32 y,
                              const ParameterInfo& info, KVariant& value);
    // Before a write is stored: a negative result refuses it.
    virtual i32 checkWrite(IParameterDB* owner, u32 componentIndex, u32 blockIndex, u32 x, u32 y,
                           const ParameterInfo& info, const KVariant& newValue, const KVariant& oldValue, u8 newStatus,
                           u8 oldStatus);
    // After a write was stored, while the owner database's strategy guard is not raised.
    virtual i32 onWritten(IParameterDB* owner, u32 componentIndex, u32 blockIndex, u32 x, u32 y,
                          const ParameterInfo& info, const KVariant& newValue, const KVariant& oldValue, u8 newStatus);
};

// The shared default strategy; it lives for the whole process and is never freed by its users.
ParameterStrategy* getDefaultStrategy();

} // namespace PDB
