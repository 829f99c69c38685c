// IParameterArray: typed two-dimensional parameter storage of one parameter block (X size x Y size elements of
// one type, element (x, y) at linear index x * Y size + y), with a status byte per element (0xFF = none).
//
// The operations are declared in their fixed virtual-table order; the destructor comes last.
// Result codes: 0; 0x20 value limited to the minimum or maximum; 0x80000001 invalid element, short buffer or
// invalid ParameterInfo; 0x80000002 null array; 0x80020000 type mismatch or unknown kind; 0x80040000 allocation
// failure; 0x80080000 not supported.
#pragma once

#include "klib_Types.h"
#include "klib_Variant.h"
#include "pdb_FlagArray.h"
#include "pdb_ParamRawArray.h"
#include "pdb_ParameterInfo.h"
#include "pdb_ParameterStrategy.h"

namespace PDB {

class IParameterDB;

class IParameterArray
{
public:
    // Re-initialises from the source's ParameterInfo and copies its values (status 0xFF).
    virtual IParameterArray& operator=(const IParameterArray& source) = 0;
    // The raw array holds storage.
    virtual bool isAllocated() const = 0;
    virtual const ParameterInfo& getParameterInfo() const = 0;
    virtual const IRawArray& getRawArray() const = 0;
    // Raw byte size rounded up to a multiple of 4.
    virtual u32 getExportSize() const = 0;
    virtual ParameterStrategy* getStrategy() const = 0;
    // New dimensions of the component; keep != 0 carries the overlapping elements over.
    virtual i32 resize(u32 x, u32 y, u8 keep, u8 status) = 0;
    virtual i32 setElementStatus(u32 x, u32 y, u8 status) = 0;
    virtual i32 setToDefault(u32 x, u32 y, u8 status) = 0;
    virtual i32 setValue(u32 x, u32 y, const KVariant& value, u8 status) = 0;
    // Element-wise setValue of the overlapping elements of source.
    virtual i32 copyFrom(const IParameterArray& source, u8 status) = 0;
    // status may be null.
    virtual i32 getValue(KVariant& value, u32 x, u32 y, u8* status) const = 0;
    // destination.assign(*this, 0xFF, 0).
    virtual i32 copyTo(IParameterArray& destination) const = 0;
    virtual i32 getDefaultValue(KVariant& value, u32 x, u32 y) const = 0;
    // 0xFF for an invalid element.
    virtual u8 getElementStatus(u32 x, u32 y) const = 0;
    virtual i32 assign(const IParameterArray& source, u8 status, u8 copyByte) = 0;
    // Elements whose mask flag is set are never written.
    virtual i32 copyFiltered(const IParameterArray& source, const IFlagArray& mask, ParameterFilter filter,
                             u8 status) = 0;
    // The raw storage zero-padded to a multiple of 4; written gets the byte count (0 on failure).
    virtual i32 exportBinary(void* buffer, u32 size, u32& written) const = 0;
    // Values of a "#PR1" record described by recordInfo.
    virtual i32 importBinary(const ParameterInfo& recordInfo, const void* data, u32 size, const IFlagArray& mask,
                             ParameterFilter filter, u8 status) = 0;
    virtual bool isValidIndex(u32 x, u32 y) const = 0;
    // x * Y size + y, unchecked.
    virtual u32 toLinearIndex(u32 x, u32 y) const = 0;
    virtual i32 fromLinearIndex(u32& x, u32& y, u32 index) const = 0;
    virtual ~IParameterArray() = default;

protected:
    IParameterArray() = default;
    IParameterArray(const IParameterArray&) = default;
};

} // namespace PDB
