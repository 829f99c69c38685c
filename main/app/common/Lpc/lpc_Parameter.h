// Parameter access of logical position control in the component database (database 10, "AudioCompo").
#pragma once

#include "klib_Types.h"
#include "klib_Variant.h"
#include "pdb_IParameterDB.h"

namespace LPC {

constexpr u32 COMPONENT_DB_ID = 10;

// Database 10 of the process-wide collection (the null database before it is created).
PDB::IParameterDB& getComponentDB();

// Writes value to element (x, y) of the parameter at address of component uid componentId of the component
// database, with the status byte of status (-1: 255), then tells the registered link set (setPDBLink) of the
// write. 0; the database's failure code (nothing told) when the address does not resolve or the write is refused.
[[nodiscard]] u32 setParameterValue(u32 componentId, const char* address, u32 x, u32 y, const KVariant& value,
                                    i32 status);

} // namespace LPC
