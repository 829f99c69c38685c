// ParameterDBNULL: the database that answers where no database exists (an empty position of the database
// collection, the default owner of a parameter array). It holds nothing:
//   - names "(dummy)" and "(dummy component)", an empty instance name;
//   - the shared empty ComponentInfo, a shared default ParameterInfo, an empty ParameterAddress;
//   - the invalid uid and 0xFFFFFFFF for callback, component and block indices;
//   - reads empty their out-values and report status 0xFF, status queries 0xFF, flags false;
//   - findNextChange reports nothing further (0x200000), so a change scan over it ends;
//   - the null component (ComponentNULL) for every index;
//   - every other operation, the locks and the strategy suppression included, does nothing and returns 0.
// One shared instance (getInstance), compared by identity and never freed. The class can be derived from where
// a stand-in owner needs to change a few answers.
#pragma once

#include "pdb_IParameterDB.h"

namespace PDB {

class ParameterDBNULL : public IParameterDB
{
public:
    static constexpr u32 NONE = 0xFFFFFFFF;
    static constexpr i32 NO_FURTHER_CHANGE = 0x200000;

    static ParameterDBNULL& getInstance();

    ParameterDBNULL(const ParameterDBNULL&) = delete;
    ParameterDBNULL& operator=(const ParameterDBNULL&) = delete;
    ~ParameterDBNULL() override = default;

    i32 lockRead() override { return 0; }
    i32 unlockRead() override { return 0; }
    i32 lockWrite() override { return 0; }
    i32 unlockWrite() override { return 0; }

    i32 clear() override;
    i32 removeAllComponents() override;
    bool hasOwnerThread() const override;
    u32 getDBId() const override;
    const char* getName() const override;
    i32 registerCallback(u32 key, IParameterDBCallback* callback, ParameterFilter filter) override;
    u32 getCallbackIndex(u32 key) const override;
    i32 swapChangeFlags(u32 callbackIndex) override;
    i32 findNextChange(u32 callbackIndex, u32& componentIndex, u32& blockIndex, u32& x, u32& y,
                       bool stayInComponent) override;
    i32 clearChangeFlags(u32 callbackIndex) override;
    i32 refreshAllValues(u8 writeFlag) override;
    ComponentUID generateComponentUID() const override;
    i32 addComponent(const ComponentUID& uid, const ComponentInfo& info) override;
    i32 addComponent(const ComponentUID& uid, const char* typeName, u32 typeVersion, u32 numX, u32 numY,
                     i16 componentNumber) override;
    i32 removeComponent(const ComponentUID& uid) override;
    i32 reserveAllComponents() override;
    i32 reserveComponent(const ComponentUID& uid) override;
    i32 releaseAllOfThisThread() override;
    i32 releaseComponent(const ComponentUID& uid) override;
    bool hasReservedComponents() const override;
    bool isReserved(const ComponentUID& uid) const override;
    i32 getAddedComponents(ComponentUIDList& out) const override;
    i32 getRemovedComponents(ComponentUIDList& out) const override;
    ParameterAddress resolveAddress(u32 componentIndex, u32 blockIndex) const override;
    ParameterAddress resolveAddress(const ComponentUID& uid, const char* address) const override;
    u32 getComponentIndex(const ComponentUID& uid) const override;
    u32 getBlockIndex(const ComponentUID& uid, const char* address) const override;
    u32 getComponentCount() const override;
    u32 getComponentSlotCount() const override;
    i32 setComponentName(u32 componentIndex, const char* name) override;
    i32 setComponentUserValue(u32 componentIndex, u32 value) override;
    i32 setComponentDimensions(u32 componentIndex, u32 numX, u32 numY, u8 keepValues, u8 writeFlag) override;
    const ComponentInfo* getComponentInfo(u32 componentIndex) const override;
    const char* getComponentTypeName(u32 componentIndex) const override;
    u32 getComponentVersion(u32 componentIndex) const override;
    u16 getComponentNumber(u32 componentIndex) const override;
    ComponentUID getComponentUID(u32 componentIndex) const override;
    const char* getComponentName(u32 componentIndex) const override;
    u32 getComponentUserValue(u32 componentIndex) const override;
    u32 getBlockCount(u32 componentIndex) const override;
    const ParameterInfo* getParameterInfo(ParameterAddress& address) const override;
    const ParameterInfo* getParameterInfo(u32 componentIndex, u32 blockIndex) const override;
    i32 setValue(ParameterAddress& address, u32 x, u32 y, const KVariant& value, u8 writeFlag) override;
    i32 setValue(u32 componentIndex, u32 blockIndex, u32 x, u32 y, const KVariant& value, u8 writeFlag) override;
    i32 setArray(ParameterAddress& address, const IParameterArray& source, u8 writeFlag) override;
    i32 setArray(u32 componentIndex, u32 blockIndex, const IParameterArray& source, u8 writeFlag) override;
    i32 setValueUInt(ParameterAddress& address, u32 x, u32 y, u32 value, u8 writeFlag) override;
    i32 setValueUInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u32 value, u8 writeFlag) override;
    i32 setValueInt(ParameterAddress& address, u32 x, u32 y, i32 value, u8 writeFlag) override;
    i32 setValueInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, i32 value, u8 writeFlag) override;
    i32 setValueFloat(ParameterAddress& address, u32 x, u32 y, f32 value, u8 writeFlag) override;
    i32 setValueFloat(u32 componentIndex, u32 blockIndex, u32 x, u32 y, f32 value, u8 writeFlag) override;
    i32 setValueBool(ParameterAddress& address, u32 x, u32 y, bool value, u8 writeFlag) override;
    i32 setValueBool(u32 componentIndex, u32 blockIndex, u32 x, u32 y, bool value, u8 writeFlag) override;
    i32 setValueString(ParameterAddress& address, u32 x, u32 y, const char* text, u8 writeFlag) override;
    i32 setValueString(u32 componentIndex, u32 blockIndex, u32 x, u32 y, const char* text, u8 writeFlag) override;
    i32 setValueBinary(ParameterAddress& address, u32 x, u32 y, const void* data, u32 length, u8 writeFlag) override;
    i32 setValueBinary(u32 componentIndex, u32 blockIndex, u32 x, u32 y, const void* data, u32 length,
                       u8 writeFlag) override;
    i32 setBlockToDefault(ParameterAddress& address, u8 writeFlag) override;
    i32 setToDefault(ParameterAddress& address, u32 x, u32 y, u8 writeFlag) override;
    i32 setAllToDefault(u32 componentIndex, u8 writeFlag) override;
    i32 setBlockToDefault(u32 componentIndex, u32 blockIndex, u8 writeFlag) override;
    i32 setToDefault(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8 writeFlag) override;
    i32 getValue(KVariant& value, ParameterAddress& address, u32 x, u32 y, u8* status) const override;
    i32 getValue(KVariant& value, u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const override;
    i32 getArray(IParameterArray& destination, ParameterAddress& address) const override;
    i32 getArray(IParameterArray& destination, u32 componentIndex, u32 blockIndex) const override;
    u32 getValueUInt(ParameterAddress& address, u32 x, u32 y, u8* status) const override;
    u32 getValueUInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const override;
    i32 getValueInt(ParameterAddress& address, u32 x, u32 y, u8* status) const override;
    i32 getValueInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const override;
    f32 getValueFloat(ParameterAddress& address, u32 x, u32 y, u8* status) const override;
    f32 getValueFloat(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const override;
    bool getValueBool(ParameterAddress& address, u32 x, u32 y, u8* status) const override;
    bool getValueBool(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const override;
    i32 getValueString(KVariant& value, ParameterAddress& address, u32 x, u32 y) const override;
    i32 getValueString(KVariant& value, u32 componentIndex, u32 blockIndex, u32 x, u32 y) const override;
    i32 setElementStatus(ParameterAddress& address, u32 x, u32 y, u8 status) override;
    i32 setElementStatus(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8 status) override;
    bool isChanged(u32 callbackIndex, ParameterAddress& address, u32 x, u32 y) const override;
    bool isChanged(u32 callbackIndex, u32 componentIndex, u32 blockIndex, u32 x, u32 y) const override;
    u8 getElementStatus(ParameterAddress& address, u32 x, u32 y) const override;
    u8 getElementStatus(u32 componentIndex, u32 blockIndex, u32 x, u32 y) const override;
    bool isValidIndex(ParameterAddress& address, u32 x, u32 y) const override;
    bool isValidIndex(u32 componentIndex, u32 blockIndex, u32 x, u32 y) const override;
    i32 copyBlockFrom(ParameterAddress& address, IParameterDB& source, ParameterFilter filter, u8 writeFlag) override;
    i32 copyBlockFrom(u32 componentIndex, u32 blockIndex, IParameterDB& source, ParameterFilter filter,
                      u8 writeFlag) override;
    i32 copyComponentFrom(u32 componentIndex, IParameterDB& source, ParameterFilter filter, u8 writeFlag) override;
    i32 copyAllFrom(IParameterDB& source, ParameterFilter filter, u8 writeFlag) override;
    i32 exportComponentTable(void* buffer, u32 size, u32 headerValue,
                             const std::vector<u32>& componentIndices) const override;
    i32 exportComponentTable(void* buffer, u32 size, u32 headerValue, const ComponentUIDList& uids) const override;
    i32 exportComponentTable(void* buffer, u32 size, u32 headerValue) const override;
    u32 getComponentTableSize(const std::vector<u32>& componentIndices) const override;
    u32 getComponentTableSize(const ComponentUIDList& uids) const override;
    u32 getComponentTableSize() const override;
    i32 importComponentTable(const void* record, u32 size, ParameterFilter options, u8 writeFlag) override;
    i32 suppressStrategy() override;
    i32 resumeStrategy() override;
    bool isStrategySuppressed() const override;
    i32 beginRecall() override;
    i32 endRecall() override;
    bool isRecalling() const override;
    const IComponent& getComponent(u32 componentIndex) const override;
    IComponent& getComponent(u32 componentIndex) override;

protected:
    ParameterDBNULL() = default;
};

} // namespace PDB
