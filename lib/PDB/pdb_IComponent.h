// IComponent: one component of a parameter database, a ComponentInfo plus one parameter array per block.
// Every read and write of a parameter value goes through it, usually reached through IParameterDB.
//
// The operations are declared in their fixed virtual-table order (the destructor first). block is a block index,
// (x, y) an element of the block, status the per-element status byte (0xFF = none).
// Result codes: 0; 0x20 value clamped; 0x200000 no further change; 0x80000000 invalid subscriber;
// 0x80000001 bad argument, invalid block or short buffer; 0x80000040 some element of a bulk operation failed;
// 0x80010000 malformed record; 0x80020000 other component type; 0x80040000 allocation failure; 0x80080000 not
// supported.
#pragma once

#include "klib_Types.h"
#include "klib_Variant.h"
#include "pdb_ComponentInfo.h"
#include "pdb_IParameterArray.h"
#include "pdb_ParameterInfo.h"

namespace PDB {

class IParameterDB;

class IComponent
{
public:
    virtual ~IComponent() = default;
    virtual i32 releaseArrays() = 0;
    // The component info has at least one block.
    virtual bool isValid() const = 0;
    virtual const ComponentInfo& getComponentInfo() const = 0;
    virtual u32 getBlockCount() const = 0;
    // 0xFFFFFFFF when the address is absent.
    virtual u32 getBlockIndex(const char* address) const = 0;
    virtual const ParameterInfo& getParameterInfo(u32 block) const = 0;
    // The block's array, or the shared null array.
    virtual const IParameterArray& getParameterArray(u32 block) const = 0;
    virtual i32 setName(const char* name) = 0;
    virtual i32 setUserValue(u32 value) = 0;
    virtual i32 setDimensions(u32 x, u32 y, u8 keep, u8 status) = 0;
    virtual i32 setSubscriberCount(u32 count) = 0;
    virtual i32 setValue(u32 block, u32 x, u32 y, const KVariant& value, u8 status) = 0;
    virtual i32 setArray(u32 block, const IParameterArray& source, u8 status) = 0;
    virtual i32 setValueUInt(u32 block, u32 x, u32 y, u32 value, u8 status) = 0;
    virtual i32 setValueInt(u32 block, u32 x, u32 y, i32 value, u8 status) = 0;
    virtual i32 setValueFloat(u32 block, u32 x, u32 y, f32 value, u8 status) = 0;
    virtual i32 setValueBool(u32 block, u32 x, u32 y, bool value, u8 status) = 0;
    virtual i32 setValueString(u32 block, u32 x, u32 y, const char* text, u8 status) = 0;
    virtual i32 setValueBinary(u32 block, u32 x, u32 y, const void* data, u32 size, u8 status) = 0;
    virtual i32 setAllToDefault(u8 status) = 0;
    virtual i32 setBlockToDefault(u32 block, u8 status) = 0;
    virtual i32 setToDefault(u32 block, u32 x, u32 y, u8 status) = 0;
    virtual i32 setSkipMark(u32 block, u32 x, u32 y, bool on) = 0;
    virtual i32 setAllSkipMarks(bool on) = 0;
    virtual i32 setElementStatus(u32 block, u32 x, u32 y, u8 status) = 0;
    // status may be null.
    virtual i32 getValue(KVariant& value, u32 block, u32 x, u32 y, u8* status) const = 0;
    // destination.assign(block's array, 0xFF, 0).
    virtual i32 getArray(IParameterArray& destination, u32 block) const = 0;
    virtual u32 getValueUInt(u32 block, u32 x, u32 y, u8* status) const = 0;
    virtual i32 getValueInt(u32 block, u32 x, u32 y, u8* status) const = 0;
    virtual f32 getValueFloat(u32 block, u32 x, u32 y, u8* status) const = 0;
    virtual bool getValueBool(u32 block, u32 x, u32 y, u8* status) const = 0;
    virtual i32 getDefaultValue(KVariant& value, u32 block, u32 x, u32 y) const = 0;
    virtual bool isSkipMarked(u32 block, u32 x, u32 y) const = 0;
    virtual bool isChangedFor(u32 subscriber, u32 block, u32 x, u32 y) const = 0;
    virtual i32 clearChangesFor(u32 subscriber) = 0;
    virtual u8 getElementStatus(u32 block, u32 x, u32 y) const = 0;
    virtual bool isValidIndex(u32 block, u32 x, u32 y) const = 0;
    virtual i32 revalidateAll(u8 status) = 0;
    virtual i32 assignBlock(u32 block, const IComponent& source, u8 status) = 0;
    virtual i32 copyBlockFiltered(u32 block, const IComponent& source, ParameterFilter filter, u8 status) = 0;
    virtual i32 copyValueFrom(u32 block, u32 x, u32 y, const IComponent& source) = 0;
    // "#CI1" record plus one "#PR1" record per block.
    virtual u32 getExportSize() const = 0;
    virtual i32 exportBinary(void* buffer, u32 size) const = 0;
    virtual i32 importBinary(IParameterDB* owner, u32 index, const void* buffer, u32 size, ParameterFilter filter,
                             u8 status, u8 copyByte) = 0;
    virtual i32 swapChangeBank(u32 subscriber) = 0;
    // In/out position of the scan; 0 found (flag cleared), 0x200000 nothing further.
    virtual i32 findNextChange(u32 subscriber, u32& block, u32& x, u32& y) = 0;
};

} // namespace PDB
