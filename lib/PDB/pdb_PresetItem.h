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

class PresetItem {
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
        : m_Kind(kind), m_DatabaseName(databaseName), m_ComponentUID(uid), m_ComponentTypeName(componentTypeName),
          m_Address(address), m_X(x), m_Y(y)
    {
    }

    // Back to the empty item: kind 4, empty texts, the invalid uid, x = y = 0.
    void reset() { *this = PresetItem(); }

    // kind 0: database name of 1..255 bytes; kind 1: also a valid uid and a type name of 1..255 bytes; kind 2: also
    // an address of 1..255 bytes and both counts non-zero; kind 3: as kind 1 plus the address. Other kinds pass.
    bool isValid() const
    {
        const auto fits = [](const std::string& text) { return !text.empty() && text.size() <= MAX_NAME_LENGTH; };
        if (m_Kind > KIND_ELEMENTS) {
            return true;
        }
        if (!fits(m_DatabaseName)) {
            return false;
        }
        if (m_Kind == KIND_DATABASE) {
            return true;
        }
        if (m_ComponentUID == INVALID_COMPONENT_UID || !fits(m_ComponentTypeName)) {
            return false;
        }
        if (m_Kind == KIND_COMPONENT) {
            return true;
        }
        if (!fits(m_Address)) {
            return false;
        }
        return m_Kind == KIND_ELEMENTS || (m_X != 0 && m_Y != 0);
    }

    u32 getKind() const { return m_Kind; }
    const std::string& getDatabaseName() const { return m_DatabaseName; }
    ComponentUID getComponentUID() const { return m_ComponentUID; }
    const std::string& getComponentTypeName() const { return m_ComponentTypeName; }
    const std::string& getAddress() const { return m_Address; }
    u32 getX() const { return m_X; }
    u32 getY() const { return m_Y; }

    void setKind(u32 kind) { m_Kind = kind; }
    void setDatabaseName(const std::string& name) { m_DatabaseName = name; }
    void setComponentUID(ComponentUID uid) { m_ComponentUID = uid; }
    void setComponentTypeName(const std::string& name) { m_ComponentTypeName = name; }
    void setAddress(const std::string& address) { m_Address = address; }
    void setX(u32 x) { m_X = x; }
    void setY(u32 y) { m_Y = y; }

    bool operator==(const PresetItem& other) const = default;

    // The shared empty item (kind 4) handed out for indices past the end of a list.
    static const PresetItem& getEmpty()
    {
        static const PresetItem empty;
        return empty;
    }

private:
    u32 m_Kind = KIND_EMPTY;
    std::string m_DatabaseName;
    ComponentUID m_ComponentUID = INVALID_COMPONENT_UID;
    std::string m_ComponentTypeName;
    std::string m_Address;
    u32 m_X = 0;
    u32 m_Y = 0;
};

}  // namespace PDB
