// AbstractComponent: what both component classes share: the embedded description, the value access that forwards
// to the block's parameter array, defaults and revalidation, and the binary export and import of a component
// (a "#CI1" record followed by one "#PR1" record per block, see pdb_ComponentTable.h).
//
// The import frames the whole export before it changes anything: damage gives 0x80010000 and leaves the
// component as it was. A block record that the block's array refuses (another type code or element size) is
// logged and passed over like a record of an unknown block; the later records are still imported.
//
// No locking: the owning database serialises every call.
#pragma once

#include "klib_Types.h"
#include "pdb_ComponentInfo.h"
#include "pdb_FlagArray.h"
#include "pdb_IComponent.h"
#include "pdb_IParameterArray.h"
#include "pdb_Result.h"

namespace PDB {

class IParameterDB;

class AbstractComponent : public IComponent
{
public:
    static constexpr i32 RESULT_NOT_SUPPORTED = PDB::RESULT_NOT_SUPPORTED;
    static constexpr i32 RESULT_BULK_FAILED = PDB::RESULT_BULK_FAILED;

    AbstractComponent() = default;
    AbstractComponent(const AbstractComponent&) = delete;
    AbstractComponent& operator=(const AbstractComponent&) = delete;
    ~AbstractComponent() override = default;

    bool isValid() const override { return m_info.hasParameters(); }
    const ComponentInfo& getComponentInfo() const override { return m_info; }
    u32 getBlockCount() const override { return m_info.getParameterCount(); }
    u32 getBlockIndex(const char* address) const override { return m_info.findParameterIndex(address); }
    const ParameterInfo& getParameterInfo(u32 block) const override;
    i32 setName(const char* name) override { return m_info.setInstanceName(name); }
    i32 setUserValue(u32 value) override { return m_info.setUserValue(value); }

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
    i32 setElementStatus(u32 block, u32 x, u32 y, u8 status) override;

    i32 getValue(KVariant& value, u32 block, u32 x, u32 y, u8* status) const override;
    i32 getArray(IParameterArray& destination, u32 block) const override;
    u32 getValueUInt(u32 block, u32 x, u32 y, u8* status) const override;
    i32 getValueInt(u32 block, u32 x, u32 y, u8* status) const override;
    f32 getValueFloat(u32 block, u32 x, u32 y, u8* status) const override;
    bool getValueBool(u32 block, u32 x, u32 y, u8* status) const override;
    i32 getDefaultValue(KVariant& value, u32 block, u32 x, u32 y) const override;
    u8 getElementStatus(u32 block, u32 x, u32 y) const override;
    bool isValidIndex(u32 block, u32 x, u32 y) const override;

    i32 revalidateAll(u8 status) override;
    i32 assignBlock(u32 block, const IComponent& source, u8 status) override;
    i32 copyBlockFiltered(u32 block, const IComponent& source, ParameterFilter filter, u8 status) override;
    i32 copyValueFrom(u32 block, u32 x, u32 y, const IComponent& source) override;

    u32 getExportSize() const override;
    i32 exportBinary(void* buffer, u32 size) const override;
    // exportBinary that also tells the bytes it wrote (the export size on success, 0 on failure).
    i32 exportCounted(void* buffer, u32 size, u32& written) const;
    i32 importBinary(IParameterDB* owner, u32 index, const void* buffer, u32 size, ParameterFilter filter, u8 status,
                     u8 copyByte) override;

    // importBinary for an export that checkComponentTable has accepted for this component already: the records are
    // not framed again and, without filter bit 0, the type is not looked up again.
    i32 importFramedExport(IParameterDB* owner, u32 index, const void* buffer, u32 size, ParameterFilter filter,
                           u8 status, u8 copyByte);

    // The block's array, or the shared null array.
    virtual IParameterArray& getParameterArray(u32 block) = 0;
    const IParameterArray& getParameterArray(u32 block) const override = 0;
    // The block's skip mask, or the shared dummy flag array.
    virtual const IFlagArray& getSkipMask(u32 block) const = 0;
    // Rebuilds every block from info.
    virtual i32 recreate(IParameterDB* owner, u32 index, const ComponentInfo& info, u8 copyByte) = 0;
    // Tells the owner that a write operation has finished.
    virtual i32 notifyChange() = 0;

protected:
    // A hint for bulk walks: the block's storage will be needed soon. Does nothing by default.
    virtual void prefetchBlock(u32 /*block*/) const {}

    // Default filling shared by setAllToDefault and setBlockToDefault: y outer, x inner; results OR-ed.
    i32 blockToDefault(u32 block, u8 status);
    i32 importExport(IParameterDB* owner, u32 index, const void* buffer, u32 size, ParameterFilter filter, u8 status,
                     u8 copyByte, bool framed);

    ComponentInfo m_info;
};

} // namespace PDB
