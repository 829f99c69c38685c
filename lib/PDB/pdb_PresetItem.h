// PresetItem: one entry of a snapshot or preset contents list. It names what a "#SC1" / "#PC1" record carries:
//   kind 0  a whole database (by name);
//   kind 1  one component (database, uid, component type name);
//   kind 2  one whole parameter block (as kind 1 plus the block's address; x and y are the block's counts);
//   kind 3  elements of one parameter block (x and y are element indices, WHOLE_AXIS = every index of an axis);
//   kind 4  the empty item (fresh or reset).
// Items are plain values.
#pragma once

#include <string>

#include "klib_Types.h"
#include "pdb_ComponentInfo.h"

namespace PDB {

class PresetItem
{
public:
    static constexpr u32 KIND_DATABASE = 0;
    static constexpr u32 KIND_COMPONENT = 1;
    static constexpr u32 KIND_BLOCK = 2;
    static constexpr u32 KIND_ELEMENTS = 3;
    static constexpr u32 KIND_EMPTY = 4;
    static constexpr u32 WHOLE_AXIS = 0xFFFFFFFF;
    // Longest database name, component type name and address an item may carry.
    static constexpr u32 MAX_NAME_LENGTH = 255;

    PresetItem() = default;
    PresetItem(u32 kind, const std::string& databaseName, ComponentUID uid, const std::string& componentTypeName,
               const std::string& address, u32 x, u32 y)
        : m_kind(kind), m_databaseName(databaseName), m_componentUID(uid), m_componentTypeName(componentTypeName),
          m_address(address), m_x(x), m_y(y)
    {
    }

    // Back to the empty item: kind 4, empty texts, the invalid uid, x = y = 0.
    void reset() { *this = PresetItem(); }

    // kind 0: database name of 1..255 bytes; kind 1: also a valid uid and a type name of 1..255 bytes; kind 2: also
    // an address of 1..255 bytes and both counts non-zero; kind 3: as kind 1 plus the address. Other kinds pass.
    bool isValid() const
    {
        const auto fits = [](const std::string& text) { return !text.empty() && text.size() <= MAX_NAME_LENGTH; };
        if (m_kind > KIND_ELEMENTS) {
            return true;
        }
        if (!fits(m_databaseName)) {
            return false;
        }
        if (m_kind == KIND_DATABASE) {
            return true;
        }
        if (m_componentUID == INVALID_COMPONENT_UID || !fits(m_componentTypeName)) {
            return false;
        }
        if (m_kind == KIND_COMPONENT) {
            return true;
        }
        if (!fits(m_address)) {
            return false;
        }
        return m_kind == KIND_ELEMENTS || (m_x != 0 && m_y != 0);
    }

    u32 getKind() const { return m_kind; }
    const std::string& getDatabaseName() const { return m_databaseName; }
    ComponentUID getComponentUID() const { return m_componentUID; }
    const std::string& getComponentTypeName() const { return m_componentTypeName; }
    const std::string& getAddress() const { return m_address; }
    u32 getX() const { return m_x; }
    u32 getY() const { return m_y; }

    void setKind(u32 kind) { m_kind = kind; }
    void setDatabaseName(const std::string& name) { m_databaseName = name; }
    void setComponentUID(ComponentUID uid) { m_componentUID = uid; }
    void setComponentTypeName(const std::string& name) { m_componentTypeName = name; }
    void setAddress(const std::string& address) { m_address = address; }
    void setX(u32 x) { m_x = x; }
    void setY(u32 y) { m_y = y; }

    bool operator==(const PresetItem& other) const = default;

    // The shared empty item (kind 4) handed out for indices past the end of a list.
    static const PresetItem& getEmpty()
    {
        static const PresetItem empty;
        return empty;
    }

private:
    u32 m_kind = KIND_EMPTY;
    std::string m_databaseName;
    ComponentUID m_componentUID = INVALID_COMPONENT_UID;
    std::string m_componentTypeName;
    std::string m_address;
    u32 m_x = 0;
    u32 m_y = 0;
};

} // namespace PDB
