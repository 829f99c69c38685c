#include "pdb_SnapshotContentsList.h"

#include <cstring>
#include <string>

#include "pdb_NullMutex.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_Result.h"

namespace PDB {

namespace {

bool isNameOfItem(const char* text)
{
    if (text == nullptr) {
        return false;
    }
    const size_t length = strnlen(text, PresetItem::MAX_NAME_LENGTH + 1);
    return length >= 1 && length <= PresetItem::MAX_NAME_LENGTH;
}

// The type name of the uid's component (empty when there is none); runs under the caller's lock.
std::string typeNameOf(const IParameterDB& database, ComponentUID uid)
{
    const ComponentInfo* info = database.getComponentInfo(database.getComponentIndex(uid));
    return info != nullptr ? info->getName() : std::string();
}

IParameterDB& databaseOf(const ParameterAddress& reference)
{
    const i32 index = ParameterDBCollection::findInstance(reference.getDatabaseName());
    return ParameterDBCollection::getInstance(index < 0 ? ParameterDBCollection::CAPACITY : static_cast<u32>(index));
}

} // namespace

i32 ItemContentsList::addDatabase(IParameterDB& database)
{
    if (!isNameOfItem(database.getName())) {
        return RESULT_BAD_ARGUMENT;
    }
    m_items.emplace_back(PresetItem::KIND_DATABASE, database.getName(), INVALID_COMPONENT_UID, "", "", 0, 0);
    return 0;
}

i32 ItemContentsList::addComponent(IParameterDB& database, ComponentUID uid)
{
    if (!isNameOfItem(database.getName()) || uid == INVALID_COMPONENT_UID) {
        return RESULT_BAD_ARGUMENT;
    }
    std::string typeName;
    {
        ReadLock guard(database);
        typeName = typeNameOf(database, uid);
    }
    m_items.emplace_back(PresetItem::KIND_COMPONENT, database.getName(), uid, typeName, "", 0, 0);
    return 0;
}

i32 ItemContentsList::addParameterBlock(IParameterDB& database, ComponentUID uid, const char* address)
{
    if (!isNameOfItem(database.getName()) || uid == INVALID_COMPONENT_UID || !isNameOfItem(address)) {
        return RESULT_BAD_ARGUMENT;
    }
    std::string typeName;
    u32 countX = 0;
    u32 countY = 0;
    {
        ReadLock guard(database);
        typeName = typeNameOf(database, uid);
        const ParameterInfo* info =
            database.getParameterInfo(database.getComponentIndex(uid), database.getBlockIndex(uid, address));
        if (info != nullptr) {
            countX = info->getCountX();
            countY = info->getCountY();
        }
    }
    m_items.emplace_back(PresetItem::KIND_BLOCK, database.getName(), uid, typeName, address, countX, countY);
    return 0;
}

i32 ItemContentsList::addParameter(IParameterDB& database, ComponentUID uid, const char* address, u32 x, u32 y)
{
    if (!isNameOfItem(database.getName()) || uid == INVALID_COMPONENT_UID || !isNameOfItem(address)) {
        return RESULT_BAD_ARGUMENT;
    }
    std::string typeName;
    {
        ReadLock guard(database);
        typeName = typeNameOf(database, uid);
    }
    m_items.emplace_back(PresetItem::KIND_ELEMENTS, database.getName(), uid, typeName, address, x, y);
    return 0;
}

i32 ItemContentsList::addParameterBlockOfInstance(const ParameterAddress& reference)
{
    return addParameterBlock(databaseOf(reference), reference.getComponentUID(), reference.getAddress());
}

i32 ItemContentsList::addParameterOfInstance(const ParameterAddress& reference, u32 x, u32 y)
{
    return addParameter(databaseOf(reference), reference.getComponentUID(), reference.getAddress(), x, y);
}

} // namespace PDB
