// LocalParameterDB: a private parameter database without locking, observers, change flags or reservations,
// used by one thread at a time. It holds the databases inside preset, snapshot and project files, copies of
// shared databases and the databases exchanged with a device. Its components are LocalComponents.
//
// Beside the common operations:
//   - removeAllComponents (and clear) empties every position but keeps the table's length;
//   - the observer, change-flag, reservation and removal operations answer 0x80080000 (not supported),
//     getCallbackIndex 0xFFFFFFFF, generateComponentUID the invalid uid, hasReservedComponents and isReserved
//     true, isChanged false, getElementStatus 0xFF; the strategy and recall brackets do nothing;
//   - an address record is used as it is only while the component at its index still has the record's uid and
//     component number; otherwise it is completed again by uid (or reaches the null component);
//   - importComponentTable checks the whole "#CT1" record first (checkComponentTable) and changes nothing when
//     the check fails. A replacing import adds each component with the dimensions that its "#CI1" records.
#pragma once

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "klib_Types.h"
#include "pdb_IParameterDB.h"
#include "pdb_LocalComponent.h"

namespace PDB {

// uid -> component index, kept sorted by uid in one block: quick look-ups and walks in uid order.
class ComponentUIDIndex
{
public:
    using Entry = std::pair<ComponentUID, u32>;
    // The index of uid, or 0xFFFFFFFF.
    u32 find(ComponentUID uid) const
    {
        const auto it = lowerBound(uid);
        return it != m_entries.end() && it->first == uid ? it->second : 0xFFFFFFFF;
    }
    bool contains(ComponentUID uid) const { return find(uid) != 0xFFFFFFFF; }
    // Maps uid to index unless uid is mapped already; true when it was added.
    bool insert(ComponentUID uid, u32 index)
    {
        const auto it = lowerBound(uid);
        if (it != m_entries.end() && it->first == uid) {
            return false;
        }
        m_entries.insert(it, Entry(uid, index));
        return true;
    }
    // Removes uid when it maps to index.
    void erase(ComponentUID uid, u32 index)
    {
        const auto it = lowerBound(uid);
        if (it != m_entries.end() && it->first == uid && it->second == index) {
            m_entries.erase(it);
        }
    }
    void clear() { m_entries.clear(); }
    size_t size() const { return m_entries.size(); }
    std::vector<Entry>::const_iterator begin() const { return m_entries.begin(); }
    std::vector<Entry>::const_iterator end() const { return m_entries.end(); }

private:
    std::vector<Entry>::const_iterator lowerBound(ComponentUID uid) const
    {
        return std::lower_bound(m_entries.begin(), m_entries.end(), uid,
                                [](const Entry& entry, ComponentUID key) { return entry.first < key; });
    }
    std::vector<Entry> m_entries;
};

class LocalParameterDB final : public IParameterDB
{
public:
    // Id 0xFFFFFFFF, empty name, empty table.
    LocalParameterDB();
    // A copy of source (any implementation): its id, name, table length and every component; an empty
    // position stays empty. When memory runs out the copy is left empty (see getLastResult).
    explicit LocalParameterDB(const IParameterDB& source);
    LocalParameterDB(const LocalParameterDB& other) : LocalParameterDB(static_cast<const IParameterDB&>(other)) {}
    LocalParameterDB& operator=(const LocalParameterDB&) = delete;
    ~LocalParameterDB() override;

    // Becomes a copy of source as the copying constructor does: 0 or 0x80040000 (then left empty).
    i32 copyFrom(const IParameterDB& source);
    // Exchanges the whole content (id, name, components) with other; cannot fail.
    void swap(LocalParameterDB& other) noexcept;
    // Result of the copying constructor.
    i32 getLastResult() const { return m_lastResult; }
    // Sets the id and the name (null counts as empty).
    void setIdentity(u32 id, const char* name);

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

private:
    // The component at an index, or null for an empty or missing position.
    LocalComponent* at(u32 index) const { return index < m_components.size() ? m_components[index] : nullptr; }
    // Completes an address record (see the class comment) and returns its component index.
    u32 complete(ParameterAddress& address, u32& block) const;
    // Writes every element's initial value: the block default adjusted by the type's strategy, write flag 255.
    void fillInitialValues(LocalComponent& component, u32 index);
    // Stores a ready component at the lowest empty position (or appends) and maps its uid: the index.
    u32 store(LocalComponent* component);
    // Adds a component built from info as it stands (uid, dimensions, number): the adding steps after the
    // description is prepared. 0, 0x80000001 (invalid or duplicate uid), 0x80040000, 0x80010000.
    i32 addPrepared(const ComponentInfo& info);
    // Removes the component at index (the undo of an import's add).
    i32 removeAt(u32 index);
    void indicesOf(const ComponentUIDList& uids, std::vector<u32>& indices) const;

    u32 m_id = 0xFFFFFFFF;
    std::string m_name;
    std::vector<LocalComponent*> m_components;
    ComponentUIDIndex m_uidMap;
    std::vector<ComponentUID> m_uidList;
    i32 m_lastResult = 0;
};

} // namespace PDB
