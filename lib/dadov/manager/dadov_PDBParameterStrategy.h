// PDBParameterStrategy: the parameter strategy of one component type, through which the parameter database lets
// the type's plug-in narrow limits (range hook), adjust defaults (value hook) and see changes (change hook), and
// PDBAccessor, the database accessor handed to the plug-in for the duration of each hook call.
//
// A strategy lives for the whole process (descriptions in the repository keep pointing to it); the plug-in
// repository attaches it to the type-level parameter-information interface and detaches it before the library
// goes, both under the component database's write lock. Hooks run inside the lock of the database that calls
// them; a detached strategy calls nothing.
#pragma once

#include <atomic>

#include "dadov_PluginInterfaces.h"
#include "klib_Types.h"
#include "pdb_IParameterDB.h"
#include "pdb_ParameterStrategy.h"

namespace DADOV {

class PDBAccessor final : public IDataBaseAccessor_V1
{
public:
    static constexpr u32 VERSION = 1;
    static constexpr u8 ORIGIN = 255;

    // The component at componentIndex of database (null: every read gives 0, every write fails).
    PDBAccessor(PDB::IParameterDB* database, u32 componentIndex)
        : m_database(database), m_componentIndex(componentIndex)
    {
    }
    ~PDBAccessor() = default;
    PDBAccessor(const PDBAccessor&) = delete;
    PDBAccessor& operator=(const PDBAccessor&) = delete;

    u32 getValueUInt(u32 block, u32 x, u32 y) override;
    i32 getValueInt(u32 block, u32 x, u32 y) override;
    f32 getValueFloat(u32 block, u32 x, u32 y) override;
    bool getValueBool(u32 block, u32 x, u32 y) override;
    // Size 0 writes nothing: 0.
    i32 getValueString(u32 block, u32 x, u32 y, char* buffer, u32 size) override;
    i32 getValueBinary(u32 block, u32 x, u32 y, u8* buffer, u32 size) override;
    i32 setValueUInt(u32 block, u32 x, u32 y, u32 value) override;
    i32 setValueInt(u32 block, u32 x, u32 y, i32 value) override;
    i32 setValueFloat(u32 block, u32 x, u32 y, f32 value) override;
    i32 setValueBool(u32 block, u32 x, u32 y, bool value) override;
    i32 setValueString(u32 block, u32 x, u32 y, const char* text) override;
    i32 setValueBinary(u32 block, u32 x, u32 y, const void* data, u32 size) override;
    u32 getParameterInfoField1(u32 block) override;
    u32 getParameterInfoField2(u32 block) override;
    i32 getParameterInfoValue1(u32 block, VariantType* out) override;
    i32 getParameterInfoValue2(u32 block, VariantType* out) override;
    i32 getParameterInfoValue3(u32 block, VariantType* out) override;
    i32 getParameterInfoValue4(u32 block, VariantType* out) override;
    i32 getParameterInfoValue5(u32 block, VariantType* out) override;

    u32 getVersion() const { return m_version; }

private:
    const PDB::ParameterInfo* blockInfo(u32 block) const;
    i32 written(i32 result) const { return result < 0 ? DADOV_E_FAILED : DADOV_OK; }

    u32 m_version = VERSION;
    PDB::IParameterDB* m_database;
    u32 m_componentIndex;
};

class PDBParameterStrategy : public PDB::ParameterStrategy
{
public:
    PDBParameterStrategy() = default;
    ~PDBParameterStrategy() override = default;

    // Keeps the interface; the range and value hooks follow its operation 25, the change hook its operation 26:
    // 0. A null interface switches every hook off: 0x80000000.
    i32 setup(IParamInfo* paramInfo);
    IParamInfo* getParamInfo() const { return m_paramInfo.load(std::memory_order_acquire); }
    bool isRangeHookOn() const { return m_rangeHook.load(std::memory_order_acquire); }
    bool isValueHookOn() const { return m_valueHook.load(std::memory_order_acquire); }
    bool isChangeHookOn() const { return m_changeHook.load(std::memory_order_acquire); }

    // Range hook: the plug-in may change the minimum and maximum; what converts back is used.
    const PDB::ParameterInfo& getEffectiveInfo(PDB::IParameterDB* owner, u32 componentIndex, u32 blockIndex, u32 x,
                                               u32 y, const PDB::ParameterInfo& info,
                                               PDB::ParameterInfo& scratch) override;
    // Value hook: the plug-in may change the default; it is kept only when it converts back.
    i32 adjustDefault(PDB::IParameterDB* owner, u32 componentIndex, u32 blockIndex, u32 x, u32 y,
                      const PDB::ParameterInfo& info, KVariant& value) override;
    // Change hook: the plug-in sees (new, old); nothing comes back.
    i32 onWritten(PDB::IParameterDB* owner, u32 componentIndex, u32 blockIndex, u32 x, u32 y,
                  const PDB::ParameterInfo& info, const KVariant& newValue, const KVariant& oldValue,
                  u8 newStatus) override;

private:
    // The interface when the hook is on, else null.
    IParamInfo* hookTarget(const std::atomic<bool>& flag) const;

    std::atomic<IParamInfo*> m_paramInfo{nullptr};
    std::atomic<bool> m_rangeHook{false};
    std::atomic<bool> m_valueHook{false};
    std::atomic<bool> m_changeHook{false};
};

} // namespace DADOV
