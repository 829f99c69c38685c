// The shared null component, answered for components that do not exist. Reads give empty values, 0 and status
// 0xFF; writes and record operations give 0x80080000. One instance, compared by identity, never freed.
#pragma once

#include "pdb_IComponent.h"

namespace PDB {

class ComponentNULL final : public IComponent
{
public:
    static ComponentNULL& getInstance();

    ComponentNULL(const ComponentNULL&) = delete;
    ComponentNULL& operator=(const ComponentNULL&) = delete;
    ~ComponentNULL() override = default;

    i32 releaseArrays() override { return 0; }
    bool isValid() const override { return false; }
    // The shared empty description.
    const ComponentInfo& getComponentInfo() const override;
    u32 getBlockCount() const override { return 0; }
    u32 getBlockIndex(const char* address) const override;
    const ParameterInfo& getParameterInfo(u32 block) const override;
    // The shared ParameterArrayNULL.
    const IParameterArray& getParameterArray(u32 block) const override;
    i32 setName(const char* name) override;
    i32 setUserValue(u32 value) override;
    i32 setDimensions(u32 x, u32 y, u8 keep, u8 status) override;
    i32 setSubscriberCount(u32 count) override;
    i32 setValue(u32 block, u32 x, u32 y, const KVariant& value, u8 status) override;
    i32 setArray(u32 block, const IParameterArray& source, u8 status) override;
    i32 setValueUInt(u32 block, u32 x, u32 y, u32 value, u8 status) override;
    i32 setValueInt(u32 block, u32 x, u32 y, i32 value, u8 status) override;
    i32 setValueFloat(u32 block, u32 x, u32 y, f32 value, u8 status) override;
    i32 setValueBool(u32 block, u32 x, u32 y, bool value, u8 status) override;
    i32 setValueString(u32 block, u32 x, u32 y, const char* text, u8 status) override;
    i32 setValueBinary(u32 block, u32 x, u32 y, const void* data, u32 size, u8 status) override;
    i32 setAllToDefault(u8 status) override;
    i32 setBlockToDefault(u32 block, u8 status) override;
    i32 setToDefault(u32 block, u32 x, u32 y, u8 status) override;
    i32 setSkipMark(u32 block, u32 x, u32 y, bool on) override;
    i32 setAllSkipMarks(bool on) override;
    i32 setElementStatus(u32 block, u32 x, u32 y, u8 status) override;
    i32 getValue(KVariant& value, u32 block, u32 x, u32 y, u8* status) const override;
    i32 getArray(IParameterArray& destination, u32 block) const override;
    u32 getValueUInt(u32 block, u32 x, u32 y, u8* status) const override;
    i32 getValueInt(u32 block, u32 x, u32 y, u8* status) const override;
    f32 getValueFloat(u32 block, u32 x, u32 y, u8* status) const override;
    bool getValueBool(u32 block, u32 x, u32 y, u8* status) const override;
    i32 getDefaultValue(KVariant& value, u32 block, u32 x, u32 y) const override;
    bool isSkipMarked(u32 block, u32 x, u32 y) const override;
    bool isChangedFor(u32 subscriber, u32 block, u32 x, u32 y) const override;
    i32 clearChangesFor(u32 subscriber) override;
    u8 getElementStatus(u32 block, u32 x, u32 y) const override;
    bool isValidIndex(u32 block, u32 x, u32 y) const override;
    i32 revalidateAll(u8 status) override;
    i32 assignBlock(u32 block, const IComponent& source, u8 status) override;
    i32 copyBlockFiltered(u32 block, const IComponent& source, ParameterFilter filter, u8 status) override;
    i32 copyValueFrom(u32 block, u32 x, u32 y, const IComponent& source) override;
    u32 getExportSize() const override { return 0; }
    i32 exportBinary(void* buffer, u32 size) const override;
    i32 importBinary(IParameterDB* owner, u32 index, const void* buffer, u32 size, ParameterFilter filter, u8 status,
                     u8 copyByte) override;
    i32 swapChangeBank(u32 subscriber) override;
    i32 findNextChange(u32 subscriber, u32& block, u32& x, u32& y) override;

private:
    ComponentNULL() = default;
};

} // namespace PDB
