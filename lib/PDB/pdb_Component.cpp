#include "pdb_Component.h"

#include <new>
#include <utility>

#include "pdb_ParameterArrayNULL.h"
#include "pdb_ParameterDBNULL.h"
#include "pdb_Result.h"

namespace PDB {

namespace {
constexpr u32 ALL_ELEMENTS = 0xFFFFFFFF;

const ParameterAddress& emptyAddress()
{
    static const ParameterAddress address;
    return address;
}
} // namespace

Component::~Component()
{
    releaseArrays();
}

void Component::deleteEntries()
{
    for (auto& entry : m_entries) {
        delete entry->array;
    }
    m_entries.clear();
}

i32 Component::releaseArrays()
{
    m_info.clear();
    deleteEntries();
    m_bankSelector.clear();
    m_subscriberFilter.clear();
    m_pOwnerCallback = nullptr;
    return 0;
}

i32 Component::create(IParameterDB* owner, u32 index, const ComponentInfo& info, IComponentCallback* callback,
                      u8 copyByte)
{
    if (!info.hasParameters()) {
        return RESULT_BAD_ARGUMENT;
    }
    releaseArrays();
    const i32 result = build(owner, index, info, copyByte);
    if (result < 0) {
        return result;
    }
    m_pOwnerCallback = callback;
    return 0;
}

i32 Component::recreate(IParameterDB* owner, u32 index, const ComponentInfo& info, u8 copyByte)
{
    if (!info.hasParameters()) {
        return RESULT_BAD_ARGUMENT;
    }
    const std::vector<u8> filters = m_subscriberFilter;
    IComponentCallback* callback = m_pOwnerCallback;
    const i32 result = build(owner, index, info, copyByte);
    if (result < 0) {
        return result;
    }
    // The pairs follow the new block sizes; selectors start at bank 0 and the filters stay.
    m_bankSelector.assign(filters.size(), 0);
    m_subscriberFilter = filters;
    m_pOwnerCallback = callback;
    return rebuildBanks();
}

i32 Component::build(IParameterDB* owner, u32 index, const ComponentInfo& info, u8 copyByte)
{
    if (owner == nullptr) {
        owner = &ParameterDBNULL::getInstance();
    }
    if (&info != &m_info && m_info.copyFrom(info) < 0) {
        releaseArrays();
        return RESULT_NO_MEMORY;
    }
    const u32 count = m_info.getParameterCount();
    while (m_entries.size() > count) {
        delete m_entries.back()->array;
        m_entries.pop_back();
    }
    while (m_entries.size() < count) {
        Entry* entry = new (std::nothrow) Entry();
        if (entry == nullptr) {
            releaseArrays();
            return RESULT_NO_MEMORY;
        }
        m_entries.emplace_back(entry);
    }
    for (u32 block = 0; block < count; ++block) {
        Entry& entry = *m_entries[block];
        ParameterArray* array = new (std::nothrow) ParameterArray();
        if (array == nullptr) {
            releaseArrays();
            return RESULT_NO_MEMORY;
        }
        const i32 result = array->initialize(owner, index, block, m_info.getParameterInfo(block), this,
                                             m_info.getParameterStrategy(), copyByte);
        if (result < 0) {
            delete array;
            releaseArrays();
            return result;
        }
        delete entry.array;
        entry.array = array;
        ++entry.revision;
        // The uid is the description's: the owner stores the component only after it is built.
        entry.address.setTexts(owner->getName() != nullptr ? owner->getName() : "", m_info.getComponentUID(),
                               array->getParameterInfo().getAddress().c_str());
        entry.address.setIndices(owner->getDBId(), index, entry.revision, block);
        entry.skipMask.allocate(array->getParameterInfo().getElementCount());
        entry.subscribers.clear();
    }
    return 0;
}

const ParameterAddress& Component::getBlockAddress(u32 block) const
{
    const Entry* entry = entryAt(block);
    return entry != nullptr ? entry->address : emptyAddress();
}

i32 Component::getArrayRevision(u32 block) const
{
    const Entry* entry = entryAt(block);
    return entry != nullptr ? entry->revision : -1;
}

IParameterArray& Component::getParameterArray(u32 block)
{
    Entry* entry = entryAt(block);
    if (entry == nullptr || entry->array == nullptr) {
        return ParameterArrayNULL::getInstance();
    }
    return *entry->array;
}

const IParameterArray& Component::getParameterArray(u32 block) const
{
    const Entry* entry = entryAt(block);
    if (entry == nullptr || entry->array == nullptr) {
        return ParameterArrayNULL::getInstance();
    }
    return *entry->array;
}

const IFlagArray& Component::getSkipMask(u32 block) const
{
    const Entry* entry = entryAt(block);
    if (entry == nullptr) {
        return *getDummyFlagArray();
    }
    return entry->skipMask;
}

i32 Component::notifyChange()
{
    if (m_pOwnerCallback != nullptr) {
        m_pOwnerCallback->onComponentChanged();
    }
    return 0;
}

// ---- subscribers and change banks -----------------------------------------------------------------------------

i32 Component::setSubscriberFilter(u32 subscriber, u8 filter)
{
    if (subscriber < m_subscriberFilter.size()) {
        m_subscriberFilter[subscriber] = filter;
    }
    return 0;
}

void Component::freeBanks()
{
    for (auto& entry : m_entries) {
        entry->subscribers.clear();
    }
}

i32 Component::rebuildBanks()
{
    const size_t count = m_bankSelector.size();
    for (auto& entry : m_entries) {
        if (entry->subscribers.size() > count) {
            entry->subscribers.resize(count);
        }
        const u32 elements = entry->array != nullptr ? entry->array->getParameterInfo().getElementCount() : 0;
        while (entry->subscribers.size() < count) {
            Banks banks;
            if (elements == 0 || banks.bank[0].allocate(elements) < 0 || banks.bank[1].allocate(elements) < 0) {
                freeBanks();
                return RESULT_NO_MEMORY;
            }
            entry->subscribers.push_back(std::move(banks));
        }
    }
    return 0;
}

i32 Component::setSubscriberCount(u32 count)
{
    m_bankSelector.resize(count, 0);
    m_subscriberFilter.resize(count, 0);
    return rebuildBanks();
}

const Component::Banks* Component::banksOf(const Entry& entry, u32 subscriber) const
{
    if (subscriber >= m_bankSelector.size() || subscriber >= entry.subscribers.size()) {
        return nullptr;
    }
    return &entry.subscribers[subscriber];
}

Component::Banks* Component::banksOf(Entry& entry, u32 subscriber)
{
    if (subscriber >= m_bankSelector.size() || subscriber >= entry.subscribers.size()) {
        return nullptr;
    }
    return &entry.subscribers[subscriber];
}

i32 Component::onChanged(u32 blockIndex, u32 linearIndex, bool recalling)
{
    Entry* entry = entryAt(blockIndex);
    if (entry == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    if (m_muted) {
        return 0;
    }
    for (u32 s = 0; s < entry->subscribers.size() && s < m_bankSelector.size(); ++s) {
        if (recalling && m_subscriberFilter[s] != 1) {
            continue;
        }
        FlagArray& bank = entry->subscribers[s].bank[m_bankSelector[s] & 1];
        if (linearIndex == ALL_ELEMENTS) {
            bank.setAll();
        } else {
            bank.set(linearIndex);
        }
    }
    return 0;
}

i32 Component::swapChangeBank(u32 subscriber)
{
    if (subscriber >= m_bankSelector.size()) {
        return RESULT_INVALID_SUBSCRIBER;
    }
    m_bankSelector[subscriber] ^= 1;
    return 0;
}

bool Component::isChangedFor(u32 subscriber, u32 block, u32 x, u32 y) const
{
    const Entry* entry = entryAt(block);
    if (entry == nullptr || entry->array == nullptr || !entry->array->isValidIndex(x, y)) {
        return false;
    }
    const Banks* banks = banksOf(*entry, subscriber);
    if (banks == nullptr) {
        return false;
    }
    return banks->bank[(m_bankSelector[subscriber] & 1) ^ 1].isSet(entry->array->toLinearIndex(x, y));
}

i32 Component::clearChangesFor(u32 subscriber)
{
    if (subscriber >= m_bankSelector.size()) {
        return RESULT_BAD_ARGUMENT;
    }
    const u32 read = (m_bankSelector[subscriber] & 1) ^ 1;
    for (auto& entry : m_entries) {
        Banks* banks = banksOf(*entry, subscriber);
        if (banks != nullptr) {
            banks->bank[read].resetAll();
        }
    }
    return 0;
}

i32 Component::findNextChange(u32 subscriber, u32& block, u32& x, u32& y)
{
    if (subscriber >= m_bankSelector.size()) {
        return RESULT_INVALID_SUBSCRIBER;
    }
    const u32 read = (m_bankSelector[subscriber] & 1) ^ 1;
    for (u32 b = block; b < m_entries.size(); ++b) {
        Entry& entry = *m_entries[b];
        Banks* banks = banksOf(entry, subscriber);
        if (banks == nullptr || entry.array == nullptr) {
            continue;
        }
        const ParameterInfo& info = entry.array->getParameterInfo();
        FlagArray& flags = banks->bank[read];
        u64 start = 0;
        if (b == block) {
            start = static_cast<u64>(x) * info.getCountY() + y;
        }
        if (start >= flags.getCount()) {
            continue;
        }
        u32 index = static_cast<u32>(start);
        if (flags.findNext(index) == 0 && index < flags.getCount()) {
            flags.reset(index);
            block = b;
            entry.array->fromLinearIndex(x, y, index);
            return 0;
        }
    }
    return RESULT_NO_FURTHER_CHANGE;
}

// ---- skip marks -----------------------------------------------------------------------------------------------

i32 Component::setSkipMark(u32 block, u32 x, u32 y, bool on)
{
    Entry* entry = entryAt(block);
    if (entry == nullptr || entry->array == nullptr || !entry->array->isValidIndex(x, y)) {
        return RESULT_BAD_ARGUMENT;
    }
    const u32 index = entry->array->toLinearIndex(x, y);
    return on ? entry->skipMask.set(index) : entry->skipMask.reset(index);
}

i32 Component::setAllSkipMarks(bool on)
{
    for (auto& entry : m_entries) {
        if (on) {
            entry->skipMask.setAll();
        } else {
            entry->skipMask.resetAll();
        }
    }
    return 0;
}

bool Component::isSkipMarked(u32 block, u32 x, u32 y) const
{
    const Entry* entry = entryAt(block);
    if (entry == nullptr || entry->array == nullptr || !entry->array->isValidIndex(x, y)) {
        return false;
    }
    return entry->skipMask.isSet(entry->array->toLinearIndex(x, y));
}

// ---- dimensions -----------------------------------------------------------------------------------------------

i32 Component::setDimensions(u32 x, u32 y, u8 keep, u8 status)
{
    if (x == 0 || y == 0) {
        return RESULT_NOT_SUPPORTED;
    }
    ComponentInfo saved;
    if (saved.copyFrom(m_info) < 0) {
        return RESULT_NO_MEMORY;
    }
    const u32 oldX = m_info.getCurrentX();
    const u32 oldY = m_info.getCurrentY();
    const i16 number = static_cast<i16>(static_cast<u16>(m_info.getComponentNumber()) + 1);
    i32 result = m_info.setDimensions(x, y, number);
    if (result < 0) {
        m_info.assign(std::move(saved));
        return result;
    }

    // Copies of every array (values and statuses) so that a failure part way can be undone exactly.
    struct Backup
    {
        LocalParameterArray values;
        std::vector<u8> statuses;
        u32 countX = 0;
        u32 countY = 0;
    };
    std::vector<Backup> backups(m_entries.size());
    for (size_t b = 0; b < m_entries.size(); ++b) {
        const ParameterArray* array = m_entries[b]->array;
        if (array == nullptr) {
            continue;
        }
        const ParameterInfo& info = array->getParameterInfo();
        Backup& backup = backups[b];
        backup.countX = info.getCountX();
        backup.countY = info.getCountY();
        if (backup.values.initialize(info) < 0 || backup.values.assign(*array, 0xFF, 0) < 0) {
            m_info.assign(std::move(saved));
            return RESULT_NO_MEMORY;
        }
        backup.statuses.resize(info.getElementCount());
        for (u32 i = 0; i < backup.statuses.size(); ++i) {
            u32 ex = 0;
            u32 ey = 0;
            array->fromLinearIndex(ex, ey, i);
            backup.statuses[i] = array->getElementStatus(ex, ey);
        }
    }

    result = 0;
    size_t failedAt = m_entries.size();
    for (size_t b = 0; b < m_entries.size(); ++b) {
        ParameterArray* array = m_entries[b]->array;
        if (array == nullptr) {
            continue;
        }
        const i32 resized = array->resize(x, y, keep, status);
        if (resized < 0) {
            failedAt = b;
            result = resized;
            break;
        }
        result |= resized;
    }
    if (failedAt < m_entries.size()) {
        // Undo: the failed array kept its state; the ones before it go back to their old shape and contents.
        m_muted = true;
        for (size_t b = 0; b < failedAt; ++b) {
            ParameterArray* array = m_entries[b]->array;
            if (array == nullptr) {
                continue;
            }
            const Backup& backup = backups[b];
            array->resize(oldX, oldY, 0, 0xFF);
            array->copyFiltered(backup.values, *getDummyFlagArray(), ParameterFilter(0), 0xFF);
            for (u32 i = 0; i < backup.statuses.size(); ++i) {
                u32 ex = 0;
                u32 ey = 0;
                array->fromLinearIndex(ex, ey, i);
                array->setElementStatus(ex, ey, backup.statuses[i]);
            }
        }
        m_muted = false;
        m_info.assign(std::move(saved));
        return result;
    }

    // Masks carry their marks to the same (x, y); every subscriber bank starts empty at the new size.
    for (size_t b = 0; b < m_entries.size(); ++b) {
        Entry& entry = *m_entries[b];
        if (entry.array == nullptr) {
            continue;
        }
        const u32 elements = entry.array->getParameterInfo().getElementCount();
        FlagArray oldMask(std::move(entry.skipMask));
        entry.skipMask.allocate(elements);
        if (keep != 0) {
            const ParameterInfo& info = entry.array->getParameterInfo();
            const u32 overlapX = std::min(backups[b].countX, info.getCountX());
            const u32 overlapY = std::min(backups[b].countY, info.getCountY());
            for (u32 a = 0; a < overlapX; ++a) {
                for (u32 c = 0; c < overlapY; ++c) {
                    if (oldMask.isSet(a * backups[b].countY + c)) {
                        entry.skipMask.set(entry.array->toLinearIndex(a, c));
                    }
                }
            }
        }
        for (Banks& banks : entry.subscribers) {
            banks.bank[0].allocate(elements);
            banks.bank[1].allocate(elements);
        }
    }
    return result;
}

} // namespace PDB
