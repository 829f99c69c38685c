// The shared null parameter array, answered for blocks that do not exist. Reads give empty values and status
// 0xFF, writes give 0x80000002 (resize 0x80080000). One instance, compared by identity, never freed.
#pragma once

#include "pdb_IParameterArray.h"

namespace PDB {

class ParameterArrayNULL final : public IParameterArray
{
public:
    static ParameterArrayNULL& getInstance();

    ParameterArrayNULL(const ParameterArrayNULL&) = delete;
    ParameterArrayNULL& operator=(const ParameterArrayNULL&) = delete;

    // Returns itself, unchanged.
    IParameterArray& operator=(const IParameterArray& source) override;
    bool isAllocated() const override { return false; }
    const ParameterInfo& getParameterInfo() const override;
    const IRawArray& getRawArray() const override;
    u32 getExportSize() const override { return 0; }
    ParameterStrategy* getStrategy() const override;
    i32 resize(u32 x, u32 y, u8 keep, u8 status) override;
    i32 setElementStatus(u32 x, u32 y, u8 status) override;
    i32 setToDefault(u32 x, u32 y, u8 status) override;
    i32 setValue(u32 x, u32 y, const KVariant& value, u8 status) override;
    i32 copyFrom(const IParameterArray& source, u8 status) override;
    i32 getValue(KVariant& value, u32 x, u32 y, u8* status) const override;
    i32 copyTo(IParameterArray& destination) const override;
    i32 getDefaultValue(KVariant& value, u32 x, u32 y) const override;
    u8 getElementStatus(u32 x, u32 y) const override;
    i32 assign(const IParameterArray& source, u8 status, u8 copyByte) override;
    i32 copyFiltered(const IParameterArray& source, const IFlagArray& mask, ParameterFilter filter, u8 status) override;
    i32 exportBinary(void* buffer, u32 size, u32& written) const override;
    i32 importBinary(const ParameterInfo& recordInfo, const void* data, u32 size, const IFlagArray& mask,
                     ParameterFilter filter, u8 status) override;
    bool isValidIndex(u32 x, u32 y) const override;
    u32 toLinearIndex(u32 x, u32 y) const override;
    i32 fromLinearIndex(u32& x, u32& y, u32 index) const override;
    ~ParameterArrayNULL() override = default;

private:
    ParameterArrayNULL() = default;
};

} // namespace PDB
