#include "pdb_ParameterAddress.h"

#include "pdb_IComponent.h"

#include <cstring>
#include <new>

#include "klib_Codec.h"
#include "pdb_Result.h"

namespace PDB {

namespace {

u32 crcOverText(u32 crc, const char* text)
{
    if (text == nullptr) {
        return crc;
    }
    return klib_crc32Update(crc, text, static_cast<u32>(std::strlen(text)));
}

u32 crcOverWord(u32 crc, u32 value)
{
    const u8 bytes[4] = {static_cast<u8>(value), static_cast<u8>(value >> 8), static_cast<u8>(value >> 16),
                         static_cast<u8>(value >> 24)};
    return klib_crc32Update(crc, bytes, 4);
}

} // namespace

void ParameterAddress::reset()
{
    *this = ParameterAddress();
}

i32 ParameterAddress::setTexts(const char* databaseName, const ComponentUID& uid, const char* address)
{
    if (databaseName == nullptr || address == nullptr) {
        return RESULT_NOT_SUPPORTED;
    }
    // Build the copies first so that a failure leaves the record as it was.
    std::string name;
    std::string text;
    try {
        name.assign(databaseName);
        text.assign(address);
    } catch (const std::bad_alloc&) {
        return RESULT_NO_MEMORY;
    }
    m_databaseName.swap(name);
    m_address.swap(text);
    m_hasTexts = true;
    m_componentUID = uid;
    m_databaseId = UNRESOLVED;
    m_componentIndex = UNRESOLVED;
    m_componentNumber = -1;
    m_blockIndex = UNRESOLVED;
    m_hash = 0;
    return 0;
}

i32 ParameterAddress::setIndices(u32 databaseId, u32 componentIndex, i32 componentNumber, u32 blockIndex)
{
    if (databaseId == UNRESOLVED || componentIndex == UNRESOLVED || blockIndex == UNRESOLVED || componentNumber < 0) {
        return RESULT_FAILED;
    }
    m_databaseId = databaseId;
    m_componentIndex = componentIndex;
    m_componentNumber = componentNumber;
    m_blockIndex = blockIndex;
    m_hash = computeHash(m_databaseName.c_str(), m_componentUID, m_address.c_str(), componentNumber);
    return 0;
}

u32 ParameterAddress::computeHash(const char* databaseName, ComponentUID uid, const char* address, i32 componentNumber)
{
    u32 crc = crcOverText(0, databaseName);
    crc = crcOverWord(crc, uid);
    crc = crcOverText(crc, address);
    return crcOverWord(crc, static_cast<u32>(componentNumber));
}

u32 ParameterAddress::completeByUid(const char* databaseName, u32 databaseId, u32 componentIndex,
                                    const IComponent& component)
{
    const ComponentUID uid = m_componentUID;
    const std::string text = m_address;
    const u32 block = component.getBlockIndex(text.c_str());
    if (setTexts(databaseName, uid, text.c_str()) >= 0) {
        setIndices(databaseId, componentIndex, component.getComponentInfo().getComponentNumber(), block);
    }
    return block;
}

} // namespace PDB
