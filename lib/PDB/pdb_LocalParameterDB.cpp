#include "pdb_LocalParameterDB.h"

#include <algorithm>
#include <new>

#include "pdb_ComponentInfoRepository.h"
#include "pdb_ComponentNULL.h"
#include "pdb_ComponentTable.h"
#include "pdb_ParameterDBNULL.h"
#include "pdb_ParameterStrategy.h"
#include "pdb_Result.h"

namespace PDB {

namespace {
constexpr u32 NONE = 0xFFFFFFFF;

u32 saturate(u64 value)
{
    return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<u32>(value);
}
} // namespace

LocalParameterDB::LocalParameterDB() = default;

LocalParameterDB::LocalParameterDB(const IParameterDB& source)
{
    m_lastResult = copyFrom(source);
}

LocalParameterDB::~LocalParameterDB()
{
    for (LocalComponent* component : m_components) {
        delete component;
    }
}

void LocalParameterDB::setIdentity(u32 id, const char* name)
{
    m_id = id;
    m_name = name != nullptr ? name : "";
}

void LocalParameterDB::swap(LocalParameterDB& other) noexcept
{
    std::swap(m_id, other.m_id);
    m_name.swap(other.m_name);
    m_components.swap(other.m_components);
    std::swap(m_uidMap, other.m_uidMap);
    m_uidList.swap(other.m_uidList);
    std::swap(m_lastResult, other.m_lastResult);
}

i32 LocalParameterDB::copyFrom(const IParameterDB& source)
{
    if (&source == this) {
        return 0;
    }
    removeAllComponents();
    const u32 slots = source.getComponentSlotCount();
    if (slots == 0) {
        return 0;
    }
    m_id = source.getDBId();
    const char* name = source.getName();
    m_name = name != nullptr ? name : "";
    m_components.assign(slots, nullptr);
    for (u32 i = 0; i < slots; ++i) {
        const IComponent& original = source.getComponent(i);
        if (!original.isValid()) {
            continue; // an empty position stays empty
        }
        LocalComponent* component = new (std::nothrow) LocalComponent();
        if (component == nullptr || component->copyFrom(original) < 0) {
            delete component;
            removeAllComponents();
            return RESULT_NO_MEMORY;
        }
        m_components[i] = component;
        const ComponentUID uid = component->getComponentInfo().getComponentUID();
        if (uid != INVALID_COMPONENT_UID && m_uidMap.insert(uid, i)) {
            m_uidList.push_back(uid);
        }
    }
    return 0;
}

// ---- table ----------------------------------------------------------------------------------------------------

i32 LocalParameterDB::clear()
{
    return removeAllComponents();
}

i32 LocalParameterDB::removeAllComponents()
{
    for (LocalComponent*& component : m_components) {
        delete component;
        component = nullptr;
    }
    m_uidMap.clear();
    m_uidList.clear();
    return 0;
}

bool LocalParameterDB::hasOwnerThread() const
{
    return m_id != NONE;
}
u32 LocalParameterDB::getDBId() const
{
    return m_id;
}
const char* LocalParameterDB::getName() const
{
    return m_name.c_str();
}

i32 LocalParameterDB::registerCallback(u32, IParameterDBCallback*, ParameterFilter)
{
    return RESULT_NOT_SUPPORTED;
}
u32 LocalParameterDB::getCallbackIndex(u32) const
{
    return NONE;
}
i32 LocalParameterDB::swapChangeFlags(u32)
{
    return RESULT_NOT_SUPPORTED;
}
i32 LocalParameterDB::findNextChange(u32, u32&, u32&, u32&, u32&, bool)
{
    return RESULT_NOT_SUPPORTED;
}
i32 LocalParameterDB::clearChangeFlags(u32)
{
    return RESULT_NOT_SUPPORTED;
}
i32 LocalParameterDB::refreshAllValues(u8)
{
    return RESULT_NOT_SUPPORTED;
}
ComponentUID LocalParameterDB::generateComponentUID() const
{
    return INVALID_COMPONENT_UID;
}

i32 LocalParameterDB::addComponent(const ComponentUID& uid, const ComponentInfo& info)
{
    if (!info.hasParameters() || uid == INVALID_COMPONENT_UID) {
        return RESULT_BAD_ARGUMENT;
    }
    ComponentInfo prepared;
    if (prepared.copyFrom(info) < 0) {
        return RESULT_NO_MEMORY;
    }
    prepared.setComponentUID(uid);
    if (prepared.setDimensions(0, 0, 0) < 0) {
        return RESULT_BAD_ARGUMENT;
    }
    return addPrepared(prepared);
}

i32 LocalParameterDB::addComponent(const ComponentUID& uid, const char* typeName, u32 typeVersion, u32 numX, u32 numY,
                                   i16 componentNumber)
{
    if (typeName == nullptr || componentNumber < 0 || uid == INVALID_COMPONENT_UID) {
        return RESULT_BAD_ARGUMENT;
    }
    const ComponentInfo& registered = ComponentInfoRepository::getInstance().findComponentInfo(typeName, typeVersion);
    if (!registered.hasParameters()) {
        return RESULT_UNKNOWN_TYPE;
    }
    ComponentInfo prepared;
    if (prepared.copyFrom(registered) < 0) {
        return RESULT_NO_MEMORY;
    }
    prepared.setComponentUID(uid);
    if (prepared.setDimensions(numX, numY, componentNumber) < 0) {
        return RESULT_BAD_ARGUMENT;
    }
    return addPrepared(prepared);
}

i32 LocalParameterDB::addPrepared(const ComponentInfo& info)
{
    const ComponentUID uid = info.getComponentUID();
    if (uid == INVALID_COMPONENT_UID || m_uidMap.contains(uid)) {
        return RESULT_BAD_ARGUMENT;
    }
    LocalComponent* component = new (std::nothrow) LocalComponent();
    if (component == nullptr) {
        return RESULT_NO_MEMORY;
    }
    const i32 result = component->create(info);
    if (result < 0) {
        delete component;
        return result == RESULT_NO_MEMORY ? RESULT_NO_MEMORY : RESULT_MALFORMED;
    }
    const auto empty = std::find(m_components.begin(), m_components.end(), nullptr);
    const u32 index = static_cast<u32>(empty - m_components.begin());
    fillInitialValues(*component, index);
    store(component);
    return 0;
}

void LocalParameterDB::fillInitialValues(LocalComponent& component, u32 index)
{
    ParameterStrategy* strategy = component.getComponentInfo().getParameterStrategy();
    if (strategy == nullptr) {
        strategy = getDefaultStrategy();
    }
    for (u32 block = 0; block < component.getBlockCount(); ++block) {
        const ParameterInfo& info = component.getParameterInfo(block);
        for (u32 y = 0; y < info.getCountY(); ++y) {
            for (u32 x = 0; x < info.getCountX(); ++x) {
                KVariant value(info.getDefault());
                strategy->adjustDefault(this, index, block, x, y, info, value);
                component.setValue(block, x, y, value, 0xFF);
            }
        }
    }
}

u32 LocalParameterDB::store(LocalComponent* component)
{
    const auto empty = std::find(m_components.begin(), m_components.end(), nullptr);
    u32 index = 0;
    if (empty != m_components.end()) {
        *empty = component;
        index = static_cast<u32>(empty - m_components.begin());
    } else {
        m_components.push_back(component);
        index = static_cast<u32>(m_components.size() - 1);
    }
    const ComponentUID uid = component->getComponentInfo().getComponentUID();
    m_uidMap.insert(uid, index);
    if (uid != INVALID_COMPONENT_UID && std::find(m_uidList.begin(), m_uidList.end(), uid) == m_uidList.end()) {
        m_uidList.push_back(uid);
    }
    return index;
}

i32 LocalParameterDB::removeAt(u32 index)
{
    LocalComponent* component = at(index);
    if (index >= m_components.size()) {
        return RESULT_BAD_ARGUMENT;
    }
    if (component == nullptr) {
        return 0;
    }
    const ComponentUID uid = component->getComponentInfo().getComponentUID();
    m_uidList.erase(std::remove(m_uidList.begin(), m_uidList.end(), uid), m_uidList.end());
    delete component;
    m_components[index] = nullptr;
    m_uidMap.erase(uid, index);
    return 0;
}

i32 LocalParameterDB::removeComponent(const ComponentUID&)
{
    return RESULT_NOT_SUPPORTED;
}
i32 LocalParameterDB::reserveAllComponents()
{
    return RESULT_NOT_SUPPORTED;
}
i32 LocalParameterDB::reserveComponent(const ComponentUID&)
{
    return RESULT_NOT_SUPPORTED;
}
i32 LocalParameterDB::releaseAllOfThisThread()
{
    return RESULT_NOT_SUPPORTED;
}
i32 LocalParameterDB::releaseComponent(const ComponentUID&)
{
    return RESULT_NOT_SUPPORTED;
}
bool LocalParameterDB::hasReservedComponents() const
{
    return true;
}
bool LocalParameterDB::isReserved(const ComponentUID&) const
{
    return true;
}
i32 LocalParameterDB::getAddedComponents(ComponentUIDList&) const
{
    return RESULT_NOT_SUPPORTED;
}
i32 LocalParameterDB::getRemovedComponents(ComponentUIDList&) const
{
    return RESULT_NOT_SUPPORTED;
}

// ---- addresses and getters ------------------------------------------------------------------------------------

ParameterAddress LocalParameterDB::resolveAddress(u32 componentIndex, u32 blockIndex) const
{
    ParameterAddress address;
    const IComponent& component = getComponent(componentIndex);
    const ComponentInfo& info = component.getComponentInfo();
    if (address.setTexts(m_name.c_str(), info.getComponentUID(),
                         component.getParameterInfo(blockIndex).getAddress().c_str()) >= 0) {
        address.setIndices(m_id, component.isValid() ? componentIndex : NONE, info.getComponentNumber(),
                           blockIndex < component.getBlockCount() ? blockIndex : NONE);
    }
    return address;
}

ParameterAddress LocalParameterDB::resolveAddress(const ComponentUID& uid, const char* text) const
{
    ParameterAddress address;
    const u32 index = getComponentIndex(uid);
    const IComponent& component = getComponent(index);
    if (address.setTexts(m_name.c_str(), uid, text) >= 0) {
        address.setIndices(m_id, index, component.getComponentInfo().getComponentNumber(),
                           component.getBlockIndex(text));
    }
    return address;
}

u32 LocalParameterDB::complete(ParameterAddress& address, u32& block) const
{
    if (address.isValid()) {
        const LocalComponent* component = at(address.getComponentIndex());
        if (component != nullptr && address.names(component->getComponentInfo())) {
            block = address.getBlockIndex();
            return address.getComponentIndex();
        }
    }
    // Not usable as it stands: complete it again by uid.
    const u32 index = getComponentIndex(address.getComponentUID());
    block = address.completeByUid(m_name.c_str(), m_id, index, getComponent(index));
    return index;
}

u32 LocalParameterDB::getComponentIndex(const ComponentUID& uid) const
{
    return m_uidMap.find(uid);
}

u32 LocalParameterDB::getBlockIndex(const ComponentUID& uid, const char* address) const
{
    return getComponent(getComponentIndex(uid)).getBlockIndex(address);
}

u32 LocalParameterDB::getComponentCount() const
{
    return static_cast<u32>(m_components.size() -
                            static_cast<size_t>(std::count(m_components.begin(), m_components.end(), nullptr)));
}

u32 LocalParameterDB::getComponentSlotCount() const
{
    return static_cast<u32>(m_components.size());
}

i32 LocalParameterDB::setComponentName(u32 componentIndex, const char* name)
{
    return getComponent(componentIndex).setName(name);
}

i32 LocalParameterDB::setComponentUserValue(u32 componentIndex, u32 value)
{
    return getComponent(componentIndex).setUserValue(value);
}

i32 LocalParameterDB::setComponentDimensions(u32 componentIndex, u32 numX, u32 numY, u8 keepValues, u8 writeFlag)
{
    LocalComponent* component = at(componentIndex);
    if (component == nullptr) {
        return RESULT_NOT_SUPPORTED;
    }
    LocalComponent copy;
    i32 result = copy.copyFrom(*component);
    if (result < 0) {
        return result;
    }
    result = component->setDimensions(numX, numY, keepValues, writeFlag);
    if (result < 0) {
        component->copyFrom(copy); // back to the state before the call
        return result;
    }
    fillInitialValues(*component, componentIndex);
    if (keepValues != 0) {
        for (u32 block = 0; block < component->getBlockCount(); ++block) {
            component->copyBlockFiltered(block, copy, ParameterFilter(0), writeFlag);
        }
    }
    return 0;
}

const ComponentInfo* LocalParameterDB::getComponentInfo(u32 componentIndex) const
{
    return &getComponent(componentIndex).getComponentInfo();
}

const char* LocalParameterDB::getComponentTypeName(u32 componentIndex) const
{
    return getComponent(componentIndex).getComponentInfo().getName().c_str();
}

u32 LocalParameterDB::getComponentVersion(u32 componentIndex) const
{
    return getComponent(componentIndex).getComponentInfo().getVersion();
}

u16 LocalParameterDB::getComponentNumber(u32 componentIndex) const
{
    return static_cast<u16>(getComponent(componentIndex).getComponentInfo().getComponentNumber());
}

ComponentUID LocalParameterDB::getComponentUID(u32 componentIndex) const
{
    return getComponent(componentIndex).getComponentInfo().getComponentUID();
}

const char* LocalParameterDB::getComponentName(u32 componentIndex) const
{
    return getComponent(componentIndex).getComponentInfo().getInstanceName().c_str();
}

u32 LocalParameterDB::getComponentUserValue(u32 componentIndex) const
{
    return getComponent(componentIndex).getComponentInfo().getUserValue();
}

u32 LocalParameterDB::getBlockCount(u32 componentIndex) const
{
    return getComponent(componentIndex).getBlockCount();
}

const ParameterInfo* LocalParameterDB::getParameterInfo(ParameterAddress& address) const
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return getParameterInfo(index, block);
}

const ParameterInfo* LocalParameterDB::getParameterInfo(u32 componentIndex, u32 blockIndex) const
{
    return &getComponent(componentIndex).getParameterInfo(blockIndex);
}

// ---- typed access ---------------------------------------------------------------------------------------------
// The address forms complete the record, then act as the index form with the record's block.

// ---- typed access: the address forms complete the record, then act as the index forms ---------------------

i32 LocalParameterDB::setValue(ParameterAddress& address, u32 x, u32 y, const KVariant& value, u8 writeFlag)
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return getComponent(index).setValue(block, x, y, value, writeFlag);
}

i32 LocalParameterDB::setValue(u32 componentIndex, u32 blockIndex, u32 x, u32 y, const KVariant& value, u8 writeFlag)
{
    return getComponent(componentIndex).setValue(blockIndex, x, y, value, writeFlag);
}

i32 LocalParameterDB::setArray(ParameterAddress& address, const IParameterArray& source, u8 writeFlag)
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return getComponent(index).setArray(block, source, writeFlag);
}

i32 LocalParameterDB::setArray(u32 componentIndex, u32 blockIndex, const IParameterArray& source, u8 writeFlag)
{
    return getComponent(componentIndex).setArray(blockIndex, source, writeFlag);
}

i32 LocalParameterDB::setValueUInt(ParameterAddress& address, u32 x, u32 y, u32 value, u8 writeFlag)
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return getComponent(index).setValueUInt(block, x, y, value, writeFlag);
}

i32 LocalParameterDB::setValueUInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u32 value, u8 writeFlag)
{
    return getComponent(componentIndex).setValueUInt(blockIndex, x, y, value, writeFlag);
}

i32 LocalParameterDB::setValueInt(ParameterAddress& address, u32 x, u32 y, i32 value, u8 writeFlag)
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return getComponent(index).setValueInt(block, x, y, value, writeFlag);
}

i32 LocalParameterDB::setValueInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, i32 value, u8 writeFlag)
{
    return getComponent(componentIndex).setValueInt(blockIndex, x, y, value, writeFlag);
}

i32 LocalParameterDB::setValueFloat(ParameterAddress& address, u32 x, u32 y, f32 value, u8 writeFlag)
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return getComponent(index).setValueFloat(block, x, y, value, writeFlag);
}

i32 LocalParameterDB::setValueFloat(u32 componentIndex, u32 blockIndex, u32 x, u32 y, f32 value, u8 writeFlag)
{
    return getComponent(componentIndex).setValueFloat(blockIndex, x, y, value, writeFlag);
}

i32 LocalParameterDB::setValueBool(ParameterAddress& address, u32 x, u32 y, bool value, u8 writeFlag)
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return getComponent(index).setValueBool(block, x, y, value, writeFlag);
}

i32 LocalParameterDB::setValueBool(u32 componentIndex, u32 blockIndex, u32 x, u32 y, bool value, u8 writeFlag)
{
    return getComponent(componentIndex).setValueBool(blockIndex, x, y, value, writeFlag);
}

i32 LocalParameterDB::setValueString(ParameterAddress& address, u32 x, u32 y, const char* text, u8 writeFlag)
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return getComponent(index).setValueString(block, x, y, text, writeFlag);
}

i32 LocalParameterDB::setValueString(u32 componentIndex, u32 blockIndex, u32 x, u32 y, const char* text, u8 writeFlag)
{
    return getComponent(componentIndex).setValueString(blockIndex, x, y, text, writeFlag);
}

i32 LocalParameterDB::setValueBinary(ParameterAddress& address, u32 x, u32 y, const void* data, u32 length,
                                     u8 writeFlag)
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return getComponent(index).setValueBinary(block, x, y, data, length, writeFlag);
}

i32 LocalParameterDB::setValueBinary(u32 componentIndex, u32 blockIndex, u32 x, u32 y, const void* data, u32 length,
                                     u8 writeFlag)
{
    return getComponent(componentIndex).setValueBinary(blockIndex, x, y, data, length, writeFlag);
}

i32 LocalParameterDB::getValue(KVariant& value, ParameterAddress& address, u32 x, u32 y, u8* status) const
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return getComponent(index).getValue(value, block, x, y, status);
}

i32 LocalParameterDB::getValue(KVariant& value, u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const
{
    return getComponent(componentIndex).getValue(value, blockIndex, x, y, status);
}

i32 LocalParameterDB::getArray(IParameterArray& destination, ParameterAddress& address) const
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return getComponent(index).getArray(destination, block);
}

i32 LocalParameterDB::getArray(IParameterArray& destination, u32 componentIndex, u32 blockIndex) const
{
    return getComponent(componentIndex).getArray(destination, blockIndex);
}

u32 LocalParameterDB::getValueUInt(ParameterAddress& address, u32 x, u32 y, u8* status) const
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return getComponent(index).getValueUInt(block, x, y, status);
}

u32 LocalParameterDB::getValueUInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const
{
    return getComponent(componentIndex).getValueUInt(blockIndex, x, y, status);
}

i32 LocalParameterDB::getValueInt(ParameterAddress& address, u32 x, u32 y, u8* status) const
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return getComponent(index).getValueInt(block, x, y, status);
}

i32 LocalParameterDB::getValueInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const
{
    return getComponent(componentIndex).getValueInt(blockIndex, x, y, status);
}

f32 LocalParameterDB::getValueFloat(ParameterAddress& address, u32 x, u32 y, u8* status) const
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return getComponent(index).getValueFloat(block, x, y, status);
}

f32 LocalParameterDB::getValueFloat(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const
{
    return getComponent(componentIndex).getValueFloat(blockIndex, x, y, status);
}

bool LocalParameterDB::getValueBool(ParameterAddress& address, u32 x, u32 y, u8* status) const
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return getComponent(index).getValueBool(block, x, y, status);
}

bool LocalParameterDB::getValueBool(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const
{
    return getComponent(componentIndex).getValueBool(blockIndex, x, y, status);
}

i32 LocalParameterDB::getValueString(KVariant& value, ParameterAddress& address, u32 x, u32 y) const
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return getComponent(index).getValue(value, block, x, y, nullptr);
}

i32 LocalParameterDB::getValueString(KVariant& value, u32 componentIndex, u32 blockIndex, u32 x, u32 y) const
{
    return getComponent(componentIndex).getValue(value, blockIndex, x, y, nullptr);
}

bool LocalParameterDB::isValidIndex(ParameterAddress& address, u32 x, u32 y) const
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return getComponent(index).isValidIndex(block, x, y);
}

bool LocalParameterDB::isValidIndex(u32 componentIndex, u32 blockIndex, u32 x, u32 y) const
{
    return getComponent(componentIndex).isValidIndex(blockIndex, x, y);
}

i32 LocalParameterDB::setBlockToDefault(ParameterAddress& address, u8 writeFlag)
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return getComponent(index).setBlockToDefault(block, writeFlag);
}

i32 LocalParameterDB::setToDefault(ParameterAddress& address, u32 x, u32 y, u8 writeFlag)
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return getComponent(index).setToDefault(block, x, y, writeFlag);
}

i32 LocalParameterDB::setAllToDefault(u32 componentIndex, u8 writeFlag)
{
    return getComponent(componentIndex).setAllToDefault(writeFlag);
}

i32 LocalParameterDB::setBlockToDefault(u32 componentIndex, u32 blockIndex, u8 writeFlag)
{
    return getComponent(componentIndex).setBlockToDefault(blockIndex, writeFlag);
}

i32 LocalParameterDB::setToDefault(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8 writeFlag)
{
    return getComponent(componentIndex).setToDefault(blockIndex, x, y, writeFlag);
}

i32 LocalParameterDB::setElementStatus(ParameterAddress&, u32, u32, u8)
{
    return RESULT_NOT_SUPPORTED;
}
i32 LocalParameterDB::setElementStatus(u32, u32, u32, u32, u8)
{
    return RESULT_NOT_SUPPORTED;
}
bool LocalParameterDB::isChanged(u32, ParameterAddress&, u32, u32) const
{
    return false;
}
bool LocalParameterDB::isChanged(u32, u32, u32, u32, u32) const
{
    return false;
}
u8 LocalParameterDB::getElementStatus(ParameterAddress&, u32, u32) const
{
    return 0xFF;
}
u8 LocalParameterDB::getElementStatus(u32, u32, u32, u32) const
{
    return 0xFF;
}

// ---- copies ---------------------------------------------------------------------------------------------------

i32 LocalParameterDB::copyBlockFrom(ParameterAddress& address, IParameterDB& source, ParameterFilter filter,
                                    u8 writeFlag)
{
    u32 block = NONE;
    const u32 index = complete(address, block);
    return copyBlockFrom(index, block, source, filter, writeFlag);
}

i32 LocalParameterDB::copyBlockFrom(u32 componentIndex, u32 blockIndex, IParameterDB& source, ParameterFilter filter,
                                    u8 writeFlag)
{
    return getComponent(componentIndex)
        .copyBlockFiltered(blockIndex, source.getComponent(componentIndex), filter, writeFlag);
}

i32 LocalParameterDB::copyComponentFrom(u32 componentIndex, IParameterDB& source, ParameterFilter filter, u8 writeFlag)
{
    const u32 blocks = source.getComponent(componentIndex).getBlockCount();
    for (u32 block = 0; block < blocks; ++block) {
        const i32 result = copyBlockFrom(componentIndex, block, source, filter, writeFlag);
        if (result < 0) {
            return result;
        }
    }
    return 0;
}

i32 LocalParameterDB::copyAllFrom(IParameterDB& source, ParameterFilter filter, u8 writeFlag)
{
    const u32 slots = source.getComponentSlotCount();
    for (u32 index = 0; index < slots; ++index) {
        const i32 result = copyComponentFrom(index, source, filter, writeFlag);
        if (result < 0) {
            return result;
        }
    }
    return 0;
}

// ---- "#CT1" ---------------------------------------------------------------------------------------------------

void LocalParameterDB::indicesOf(const ComponentUIDList& uids, std::vector<u32>& indices) const
{
    indices.clear();
    indices.reserve(uids.size());
    for (ComponentUID uid : uids) {
        indices.push_back(getComponentIndex(uid));
    }
}

i32 LocalParameterDB::exportComponentTable(void* buffer, u32 size, u32 headerValue,
                                           const std::vector<u32>& componentIndices) const
{
    return writeComponentTable(*this, buffer, size, headerValue, componentIndices);
}

i32 LocalParameterDB::exportComponentTable(void* buffer, u32 size, u32 headerValue, const ComponentUIDList& uids) const
{
    std::vector<u32> indices;
    indicesOf(uids, indices);
    return writeComponentTable(*this, buffer, size, headerValue, indices);
}

i32 LocalParameterDB::exportComponentTable(void* buffer, u32 size, u32 headerValue) const
{
    std::vector<u32> indices;
    indices.reserve(m_uidMap.size());
    for (const auto& [uid, index] : m_uidMap) {
        indices.push_back(index); // the map is ordered by uid
    }
    return writeComponentTable(*this, buffer, size, headerValue, indices, true);
}

u32 LocalParameterDB::getComponentTableSize(const std::vector<u32>& componentIndices) const
{
    return saturate(getComponentTableSize64(*this, componentIndices));
}

u32 LocalParameterDB::getComponentTableSize(const ComponentUIDList& uids) const
{
    std::vector<u32> indices;
    indicesOf(uids, indices);
    return saturate(getComponentTableSize64(*this, indices));
}

u32 LocalParameterDB::getComponentTableSize() const
{
    std::vector<u32> indices;
    listComponentsByUID(*this, indices);
    return saturate(getComponentTableSize64(*this, indices));
}

i32 LocalParameterDB::importComponentTable(const void* record, u32 size, ParameterFilter options, u8 writeFlag)
{
    std::vector<ComponentTableEntry> entries;
    i32 result = checkComponentTableEntries(*this, record, size, options, entries);
    if (result < 0) {
        return result;
    }
    const bool replace = (options.getBits() & 1) != 0;
    if (replace) {
        removeAllComponents();
    }
    ParameterFilter componentFilter(options);
    componentFilter.clearBits(1);
    for (const ComponentTableEntry& entry : entries) {
        if (!entry.importable) {
            if (entry.size != 0) {
                // A type that is not registered: reading its description logs it, and the entry is passed over.
                Record::ComponentRecord unknown;
                Record::peekComponentRecord(entry.data, entry.size, true, unknown);
            }
            continue; // an index that named no component, or a type that is not registered
        }
        u32 index = entry.targetIndex;
        if (replace) {
            ComponentInfo recorded;
            u32 announced = 0;
            if (recorded.importBinary(entry.data, entry.size, announced) < 0 || addPrepared(recorded) < 0) {
                continue;
            }
            index = getComponentIndex(entry.uid);
        }
        if (index == NONE) {
            continue;
        }
        LocalComponent* component = at(index);
        if (component == nullptr) {
            return RESULT_MALFORMED;
        }
        result = component->importFramedExport(&ParameterDBNULL::getInstance(), index, entry.data, entry.size,
                                               componentFilter, writeFlag, 0);
        if (result < 0) {
            if (replace) {
                removeAt(index);
            }
            return result;
        }
    }
    return 0;
}

// ---- strategy, recall, components -----------------------------------------------------------------------------

i32 LocalParameterDB::suppressStrategy()
{
    return 0;
}
i32 LocalParameterDB::resumeStrategy()
{
    return 0;
}
bool LocalParameterDB::isStrategySuppressed() const
{
    return false;
}
i32 LocalParameterDB::beginRecall()
{
    return 0;
}
i32 LocalParameterDB::endRecall()
{
    return 0;
}
bool LocalParameterDB::isRecalling() const
{
    return false;
}

const IComponent& LocalParameterDB::getComponent(u32 componentIndex) const
{
    const LocalComponent* component = at(componentIndex);
    if (component == nullptr) {
        return ComponentNULL::getInstance();
    }
    return *component;
}

IComponent& LocalParameterDB::getComponent(u32 componentIndex)
{
    LocalComponent* component = at(componentIndex);
    if (component == nullptr) {
        return ComponentNULL::getInstance();
    }
    return *component;
}

} // namespace PDB
