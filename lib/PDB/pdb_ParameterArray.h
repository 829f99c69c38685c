// Parameter arrays: the values of one parameter block of one component, X size x Y size elements of one type.
// Element (x, y) is at linear index x * Y size + y of the raw array (pdb_ParamRawArray.h).
//
// ParameterArray serves the shared database: every write is range-checked against the limits that the strategy
// names for the element, passed through the strategy's pre-write check and post-write hook, stored with a status
// byte (0xFF = none) and reported to the callback. LocalParameterArray is a plain store for local databases and
// temporary copies: no status bytes, strategy hooks or reports.
//
// Filter byte (ParameterFilter) of copyFiltered and importBinary:
//   - 0: every parameter, raw storage copied directly;
//   - bit 1 or bit 2: element by element through setValue (ParameterArray only; LocalParameterArray copies
//     directly); bit 2 also keeps the owner's strategy hooks running (otherwise they are suppressed around the
//     whole operation);
//   - non-zero with bits 3 and 4 clear: only recallable parameters take part; bit 4: only nonvolatile ones;
//     bit 3 alone: every parameter. A parameter that does not take part is left alone and the call returns 0.
// The direct forms copy the whole storage when the shapes agree and the mask is empty, otherwise row runs of the
// overlap, otherwise (mask flags set) each unmasked element of the overlap; they run no limits, hooks or reports.
// An import never reads past the byte count it is given, whatever the record's header says.
//
// No locking: the owning database serialises access.
#pragma once

#include "klib_Types.h"
#include "klib_Variant.h"
#include "pdb_IParameterArray.h"
#include "pdb_ParameterArrayCallback.h"

namespace PDB {

// Storage, addressing, export and bulk copies common to both array kinds.
class ParameterArrayBase : public IParameterArray
{
public:
    ParameterArrayBase(const ParameterArrayBase&) = delete;
    ~ParameterArrayBase() override;

    bool isAllocated() const override { return m_pRaw->isAllocated(); }
    const ParameterInfo& getParameterInfo() const override { return m_info; }
    const IRawArray& getRawArray() const override { return *m_pRaw; }
    u32 getExportSize() const override;
    i32 copyFrom(const IParameterArray& source, u8 status) override;
    i32 exportBinary(void* buffer, u32 size, u32& written) const override;
    bool isValidIndex(u32 x, u32 y) const override;
    u32 toLinearIndex(u32 x, u32 y) const override { return x * m_info.getCountY() + y; }
    i32 fromLinearIndex(u32& x, u32& y, u32 index) const override;

protected:
    ParameterArrayBase();

    // Linear index of (x, y) when the element exists.
    bool checkedIndex(u32 x, u32 y, u32& index) const;
    // Frees the raw array; the info is cleared.
    void freeStorage();
    // The direct forms; statuses (one per element, may be null) of written elements become status.
    i32 copyDirect(const IParameterArray& source, const IFlagArray& mask, u8 status, u8* statuses);
    i32 importDirect(const ParameterInfo& recordInfo, const void* data, u32 size, const IFlagArray& mask, u8 status,
                     u8* statuses);
    // The elements to carry over into a new shape (keep of resize).
    void carryOver(IRawArray& target, u32 targetX, u32 targetY) const;
    // The first step of resize, built aside so that a failure leaves the array as it was: the description with
    // the new dimensions and a raw array of its element count. 0, or the failure (nothing made).
    i32 buildResized(u32 x, u32 y, ParameterInfo& info, IRawArray*& raw) const;

    ParameterInfo m_info;
    IRawArray* m_pRaw;
};

class ParameterArray : public ParameterArrayBase
{
public:
    ParameterArray();
    ~ParameterArray() override;
    // Re-initialises from the source's info (keeping owner, indices, callback and strategy) and copies it.
    ParameterArray& operator=(const ParameterArray& source);
    ParameterArray& operator=(const IParameterArray& source) override;

    // Prepares the array: owner (null: ParameterDBNULL), indices, a copy of info, callback and strategy (null:
    // the shared defaults) and the copy byte handed to the raw array's assign. Every element gets its default
    // (through the strategy's default query) and status 0xFF. An invalid info gives 0x80000001, a failed
    // allocation 0x80040000; either leaves the array released.
    i32 initialize(IParameterDB* owner, u32 componentIndex, u32 blockIndex, const ParameterInfo& info,
                   IParameterArrayCallback* callback, ParameterStrategy* strategy, u8 copyByte);
    // Back to the empty state: no info, no storage, the null owner, indices 0, default callback and strategy.
    void release();

    IParameterDB* getOwner() const { return m_pOwner; }
    u32 getComponentIndex() const { return m_componentIndex; }
    u32 getBlockIndex() const { return m_blockIndex; }
    IParameterArrayCallback* getCallback() const { return m_pCallback; }
    u8 getCopyByte() const { return m_copyByte; }

    ParameterStrategy* getStrategy() const override { return m_pStrategy; }
    // Re-shapes for the component's new dimensions: every element at its default with the given status, the
    // overlap carried over when keep != 0. A failure leaves contents, statuses and size unchanged.
    i32 resize(u32 x, u32 y, u8 keep, u8 status) override;
    i32 setElementStatus(u32 x, u32 y, u8 status) override;
    i32 setToDefault(u32 x, u32 y, u8 status) override;
    // Limits (0x20 when the value was limited), unchanged values skipped, pre-write check (a refusal is
    // reported with onRejected(0x80000004) and returns 0 or 0x20), store with status, post-write hook with the
    // owner's strategy suppressed around it (skipped while it is suppressed), onChanged.
    i32 setValue(u32 x, u32 y, const KVariant& value, u8 status) override;
    i32 getValue(KVariant& value, u32 x, u32 y, u8* status) const override;
    i32 copyTo(IParameterArray& destination) const override;
    i32 getDefaultValue(KVariant& value, u32 x, u32 y) const override;
    u8 getElementStatus(u32 x, u32 y) const override;
    i32 assign(const IParameterArray& source, u8 status, u8 copyByte) override;
    i32 copyFiltered(const IParameterArray& source, const IFlagArray& mask, ParameterFilter filter, u8 status) override;
    i32 importBinary(const ParameterInfo& recordInfo, const void* data, u32 size, const IFlagArray& mask,
                     ParameterFilter filter, u8 status) override;

private:
    void resetLinks();
    // Default of element (x, y) of a block described by info, adjusted by the strategy.
    void defaultFor(KVariant& value, const ParameterInfo& info, u32 x, u32 y) const;
    void fillDefaults(IRawArray& raw, const ParameterInfo& info) const;
    // setValue of every unmasked element of the overlap with source (count elements readable, shaped
    // sourceX x sourceY), the owner's hooks suppressed unless filter bit 2 is set.
    i32 writeElementWise(const IRawArray& source, u32 sourceX, u32 sourceY, u64 count, const IFlagArray& mask,
                         ParameterFilter filter, u8 status);

    u8* m_pStatus;
    u8 m_copyByte;
    IParameterDB* m_pOwner;
    u32 m_componentIndex;
    u32 m_blockIndex;
    IParameterArrayCallback* m_pCallback;
    ParameterStrategy* m_pStrategy;
};

class LocalParameterArray : public ParameterArrayBase
{
public:
    LocalParameterArray() = default;
    ~LocalParameterArray() override = default;
    // assign(source, 0xFF, 0).
    LocalParameterArray& operator=(const LocalParameterArray& source);
    LocalParameterArray& operator=(const IParameterArray& source) override;

    // A copy of info and zeroed storage for its elements. An invalid info gives 0x80000001, a failed
    // allocation 0x80040000; either leaves the array released.
    i32 initialize(const ParameterInfo& info);
    void release();

    // The shared default strategy.
    ParameterStrategy* getStrategy() const override;
    // As ParameterArray::resize, but new elements are zero.
    i32 resize(u32 x, u32 y, u8 keep, u8 status) override;
    // 0x80080000: a local array has no status bytes or defaults of its own.
    i32 setElementStatus(u32 x, u32 y, u8 status) override;
    i32 setToDefault(u32 x, u32 y, u8 status) override;
    // Stores without limits, strategy or report; 0x80000001 for an invalid element.
    i32 setValue(u32 x, u32 y, const KVariant& value, u8 status) override;
    // Reports status 0xFF.
    i32 getValue(KVariant& value, u32 x, u32 y, u8* status) const override;
    i32 copyTo(IParameterArray& destination) const override;
    // Empties value; 0x80080000.
    i32 getDefaultValue(KVariant& value, u32 x, u32 y) const override;
    u8 getElementStatus(u32, u32) const override { return 0xFF; }
    // Re-initialised from the source's info, then the source's values; status is not used.
    i32 assign(const IParameterArray& source, u8 status, u8 copyByte) override;
    // Direct forms only: filter bits 1 and 2 copy directly too.
    i32 copyFiltered(const IParameterArray& source, const IFlagArray& mask, ParameterFilter filter, u8 status) override;
    i32 importBinary(const ParameterInfo& recordInfo, const void* data, u32 size, const IFlagArray& mask,
                     ParameterFilter filter, u8 status) override;
};

} // namespace PDB
