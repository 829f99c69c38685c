// Component: a component of the shared database. It owns one ParameterArray per block, receives their change
// reports (IParameterArrayCallback) and keeps, per block, a skip mask and, per subscriber, two banks of change
// flags: writes mark the collecting bank (the subscriber's selector), the subscriber reads and clears the other
// one after swapChangeBank. While the owner database recalls, only subscribers registered with filter byte 1 are
// marked. After every write operation the owner is told through its IComponentCallback.
//
// Every entry keeps a resolved address of its block whose component-number field carries the entry's array
// revision (-1 before the first array, +1 for every new array).
//
// setDimensions changes the description first (a refused range changes nothing) and restores the component
// exactly (description, values, statuses, masks, banks) when an array cannot be resized. recreate rebuilds the
// subscriber banks for the current subscriber count, keeping the filters.
//
// No locking: the owning database holds its mutex around every call.
#pragma once

#include <memory>
#include <vector>

#include "pdb_AbstractComponent.h"
#include "pdb_FlagArray.h"
#include "pdb_IParameterDB.h"
#include "pdb_ParameterAddress.h"
#include "pdb_ParameterArray.h"
#include "pdb_ParameterArrayCallback.h"
#include "pdb_Result.h"

namespace PDB {

class Component final : public AbstractComponent, public IParameterArrayCallback
{
public:
    static constexpr i32 RESULT_INVALID_SUBSCRIBER = PDB::RESULT_INVALID_SUBSCRIBER;
    static constexpr i32 RESULT_NO_FURTHER_CHANGE = 0x200000;

    Component() = default;
    ~Component() override;

    // Builds every block from info for the database owner (null: the null database) at position index; the
    // arrays keep copyByte. 0x80000001 for a description without blocks, 0x80040000 out of memory, or an
    // array's initialisation failure (the component is then left empty).
    i32 create(IParameterDB* owner, u32 index, const ComponentInfo& info, IComponentCallback* callback, u8 copyByte);
    // Stores a subscriber's filter byte when the subscriber exists; 0.
    i32 setSubscriberFilter(u32 subscriber, u8 filter);
    u32 getSubscriberCount() const { return static_cast<u32>(m_bankSelector.size()); }
    // The block's resolved address record (an empty record for a block that does not exist).
    const ParameterAddress& getBlockAddress(u32 block) const;
    // The block's array revision (-1 for a block that does not exist).
    i32 getArrayRevision(u32 block) const;

    // IComponent
    i32 releaseArrays() override;
    i32 setDimensions(u32 x, u32 y, u8 keep, u8 status) override;
    i32 setSubscriberCount(u32 count) override;
    i32 setSkipMark(u32 block, u32 x, u32 y, bool on) override;
    i32 setAllSkipMarks(bool on) override;
    bool isSkipMarked(u32 block, u32 x, u32 y) const override;
    bool isChangedFor(u32 subscriber, u32 block, u32 x, u32 y) const override;
    i32 clearChangesFor(u32 subscriber) override;
    i32 swapChangeBank(u32 subscriber) override;
    i32 findNextChange(u32 subscriber, u32& block, u32& x, u32& y) override;

    // AbstractComponent
    IParameterArray& getParameterArray(u32 block) override;
    const IParameterArray& getParameterArray(u32 block) const override;
    const IFlagArray& getSkipMask(u32 block) const override;
    i32 recreate(IParameterDB* owner, u32 index, const ComponentInfo& info, u8 copyByte) override;
    i32 notifyChange() override;

    // IParameterArrayCallback
    i32 onChanged(u32 blockIndex, u32 linearIndex, bool recalling) override;
    i32 onRejected(u32, u32, u32, i32) override { return 0; }

private:
    struct Banks
    {
        FlagArray bank[2];
    };
    struct Entry
    {
        ParameterAddress address;
        i32 revision = -1;
        ParameterArray* array = nullptr;
        FlagArray skipMask;
        std::vector<Banks> subscribers;
    };

    // Fills the entries from info (existing entries get new arrays). 0 or a failure (then releaseArrays ran).
    i32 build(IParameterDB* owner, u32 index, const ComponentInfo& info, u8 copyByte);
    // Gives every entry a bank pair per subscriber, sized to its block: 0 or 0x80040000 (then no entry has any).
    i32 rebuildBanks();
    void freeBanks();
    void deleteEntries();
    // The subscriber's pair in an entry, or null when the entry has none for it.
    const Banks* banksOf(const Entry& entry, u32 subscriber) const;
    Banks* banksOf(Entry& entry, u32 subscriber);
    Entry* entryAt(u32 block) const { return block < m_entries.size() ? m_entries[block].get() : nullptr; }

    std::vector<std::unique_ptr<Entry>> m_entries;
    std::vector<u8> m_bankSelector;
    std::vector<u8> m_subscriberFilter;
    IComponentCallback* m_pOwnerCallback = nullptr;
    bool m_muted = false; // set while a failed resize is undone: its writes are no changes
};

} // namespace PDB
