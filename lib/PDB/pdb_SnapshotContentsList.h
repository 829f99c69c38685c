// Contents lists of snapshot and preset files: the items a file stores, in insertion order.
//
// ItemContentsList holds the items and the add operations common to both lists; SnapshotContentsList and
// PresetContentsList (pdb_PresetContentsList.h) are its two distinct types.
//
// Each add operation appends one item and returns 0, or 0x80000001 (nothing appended) when the database's name is
// not 1 to 255 bytes, the uid is invalid, or the address (where one is taken) is not 1 to 255 bytes. The
// component type name (and for a block item the block's counts) are read from the database under its read lock.
#pragma once

#include <vector>

#include "klib_Types.h"
#include "pdb_IParameterDB.h"
#include "pdb_ParameterAddress.h"
#include "pdb_PresetItem.h"

namespace PDB {

class ItemContentsList
{
public:
    virtual ~ItemContentsList() = default;

    // Kind 0: the whole database.
    i32 addDatabase(IParameterDB& database);
    // Kind 1: one component; its type name from the database's description of the uid's component.
    i32 addComponent(IParameterDB& database, ComponentUID uid);
    // Kind 2: one whole block; x and y are the block's X and Y counts.
    i32 addParameterBlock(IParameterDB& database, ComponentUID uid, const char* address);
    // Kind 3: element (x, y) of a block; PresetItem::WHOLE_AXIS on one axis takes every index of it.
    i32 addParameter(IParameterDB& database, ComponentUID uid, const char* address, u32 x, u32 y);
    // As the two above, with the database looked up by the reference's database name in the process-wide
    // collection (a name not found gives the null database, whose name the item then carries), the uid and the
    // address of the reference.
    i32 addParameterBlockOfInstance(const ParameterAddress& reference);
    i32 addParameterOfInstance(const ParameterAddress& reference, u32 x, u32 y);
    // Appends a ready item as it stands.
    void addItem(const PresetItem& item) { m_items.push_back(item); }

    u32 getCount() const { return static_cast<u32>(m_items.size()); }
    bool isEmpty() const { return m_items.empty(); }
    // The item at index, or the shared empty item (kind 4).
    const PresetItem& getItem(u32 index) const
    {
        return index < m_items.size() ? m_items[index] : PresetItem::getEmpty();
    }
    const std::vector<PresetItem>& getItems() const { return m_items; }
    void clear() { m_items.clear(); }

protected:
    ItemContentsList() = default;
    ItemContentsList(const ItemContentsList&) = default;
    ItemContentsList& operator=(const ItemContentsList&) = default;

private:
    std::vector<PresetItem> m_items;
};

class SnapshotContentsList : public ItemContentsList
{
public:
    SnapshotContentsList() = default;
    SnapshotContentsList(const SnapshotContentsList&) = default;
    SnapshotContentsList& operator=(const SnapshotContentsList&) = default;
    ~SnapshotContentsList() override = default;
};

} // namespace PDB
