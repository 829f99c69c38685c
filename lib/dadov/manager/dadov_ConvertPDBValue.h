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

    // The accessors' element reads into a plug-in's buffer:
    // text: null buffer 0x80000000; size 0 writes nothing; else the buffer is zero-filled over size bytes and the
    // text of a string value (no other kind) copied into it, at most size - 1 characters: 0.
    static i32 toTextBuffer(const KVariant& value, char* buffer, u32 size);
    // bytes: null buffer 0x80000000; else the bytes of a binary value are copied when they fit in size (nothing
    // is copied otherwise): 0.
    static i32 toByteBuffer(const KVariant& value, u8* buffer, u32 size);
    // One description value of a block (field: getMin, getMax, getDefault, getNominal or getStep) converted as
    // toVariantType does; null out 0x80000000; null info clears out: 0x80000000.
    static i32 toVariantType(const PDB::ParameterInfo* info, const KVariant& (PDB::ParameterInfo::*field)() const,
                             VariantType* out);
};

// Buffer size of a block's value: string blocks their size plus 1, binary blocks their size, others 0.
u32 getParameterValueCapacity(const PDB::ParameterInfo& info);

} // namespace DADOV
