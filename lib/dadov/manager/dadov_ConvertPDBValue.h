// Conversions between the database's KVariant and the plug-ins' VariantType, and the buffer a parameter's value
// needs as a VariantType.
#pragma once

#include "dadov_VariantType.h"
#include "klib_Types.h"
#include "klib_Variant.h"
#include "pdb_ParameterInfo.h"

namespace DADOV {

class ConvertPDBValue
{
public:
    // Signed -> 3, unsigned -> 1, float -> 5, text -> setString, binary -> setBinary (the target's buffer must hold
    // them): 0, or that setter's failure. An empty value clears the target: 0x80000000.
    static i32 toVariantType(const KVariant& value, VariantType& out);
    // 1 -> unsigned, 3 -> signed, 5 -> float, 7 -> text (read within the capacity; 1024 characters or more fail),
    // 8 -> binary (a byte count of 0 or beyond the capacity fails): 0, or 0x80000000 with the target unchanged.
    // Any other tag empties the target: 0x80000000.
    static i32 toKVariant(const VariantType& value, KVariant& out);
};

// Buffer size of a block's value: string blocks their size plus 1, binary blocks their size, others 0.
u32 getParameterValueCapacity(const PDB::ParameterInfo& info);

} // namespace DADOV
