// ParameterAddress: a parameter address resolved once into database, component and block indices, kept by
// callers and passed to the address forms of the database operations.
//
// An empty record holds no texts, the invalid uid, database id, component index and block index 0xFFFFFFFF,
// component number -1 and hash 0. It is resolved when its database id is not 0xFFFFFFFF and its component
// number is not negative. The record owns copies of the database name and the address text, so a record made
// from temporary texts stays usable after they are gone.
//
// Hash: CRC-32 (KLIB) continued from 0 over the name's bytes, the uid's 4 bytes little-endian, the address's
// bytes and the component number's 4 bytes little-endian (texts without terminator).
#pragma once

#include <string>

#include "klib_Types.h"
#include "pdb_ComponentInfo.h"

namespace PDB {

class IComponent;

class ParameterAddress
{
public:
    static constexpr u32 UNRESOLVED = 0xFFFFFFFF;

    ParameterAddress() = default;
    ParameterAddress(const ParameterAddress&) = default;
    ParameterAddress& operator=(const ParameterAddress&) = default;
    ParameterAddress(ParameterAddress&&) noexcept = default;
    ParameterAddress& operator=(ParameterAddress&&) noexcept = default;
    ~ParameterAddress() = default;

    // Back to the empty record.
    void reset();
    // Stores copies of the two texts and the uid and marks the record unresolved (indices 0xFFFFFFFF,
    // component number -1, hash 0). A null text gives 0x80080000, an allocation failure 0x80040000; either
    // leaves the record unchanged. Otherwise 0.
    i32 setTexts(const char* databaseName, const ComponentUID& uid, const char* address);
    // Stores the four numbers and computes the hash. A database id, component index or block index of
    // 0xFFFFFFFF or a negative component number gives 0x80000000 and leaves the record unchanged.
    i32 setIndices(u32 databaseId, u32 componentIndex, i32 componentNumber, u32 blockIndex);
    bool isValid() const { return m_databaseId != UNRESOLVED && m_componentNumber >= 0; }

    // True when the component at the address's position is still the one it names (uid and number).
    bool names(const ComponentInfo& atPosition) const
    {
        return atPosition.getComponentUID() == m_componentUID && atPosition.getComponentNumber() == m_componentNumber;
    }
    // Completes the address again by its uid in the database databaseName / databaseId, where the uid is now at
    // componentIndex with component (the null component when it is gone): texts kept, indices renewed. Returns the
    // block index of the address's text in that component.
    u32 completeByUid(const char* databaseName, u32 databaseId, u32 componentIndex, const IComponent& component);

    // Hash of the given fields, as setIndices computes it (null texts count as empty).
    static u32 computeHash(const char* databaseName, ComponentUID uid, const char* address, i32 componentNumber);

    // The texts; empty when none was set.
    const char* getDatabaseName() const { return m_databaseName.c_str(); }
    const char* getAddress() const { return m_address.c_str(); }
    bool hasTexts() const { return m_hasTexts; }
    ComponentUID getComponentUID() const { return m_componentUID; }
    u32 getDatabaseId() const { return m_databaseId; }
    u32 getComponentIndex() const { return m_componentIndex; }
    i32 getComponentNumber() const { return m_componentNumber; }
    u32 getBlockIndex() const { return m_blockIndex; }
    u32 getHash() const { return m_hash; }

private:
    std::string m_databaseName;
    ComponentUID m_componentUID = INVALID_COMPONENT_UID;
    std::string m_address;
    u32 m_databaseId = UNRESOLVED;
    u32 m_componentIndex = UNRESOLVED;
    i32 m_componentNumber = -1;
    u32 m_blockIndex = UNRESOLVED;
    u32 m_hash = 0;
    bool m_hasTexts = false;
};

} // namespace PDB
