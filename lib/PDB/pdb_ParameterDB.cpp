#include "pdb_ParameterDB.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>

#include "os_Tasks.h"
#include "pdb_Component.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_ComponentNULL.h"
#include "pdb_ComponentTable.h"
#include "pdb_NullMutex.h"
#include "pdb_Result.h"

namespace PDB {

namespace {
constexpr u32 NONE = 0xFFFFFFFF;
constexpr u32 ALL_ELEMENTS = 0xFFFFFFFF;
constexpr u32 RANDOM_DRAWS = 64;

u32 saturate(u64 value)
{
    return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<u32>(value);
}

u64 currentThread()
{
    return ossupport::getCurrentThreadIdentity();
}

void eraseValue(std::vector<ComponentUID>& list, ComponentUID uid)
{
    list.erase(std::remove(list.begin(), list.end(), uid), list.end());
}

size_t hintWords(size_t positions)
{
    return (positions + 63) / 64;
}
void setHint(std::vector<u64>& bits, u32 index)
{
    if (index / 64 >= bits.size()) {
        bits.resize(index / 64 + 1, 0);
    }
    bits[index / 64] |= u64{1} << (index % 64);
}
void clearHint(std::vector<u64>& bits, u32 index)
{
    if (index / 64 < bits.size()) {
        bits[index / 64] &= ~(u64{1} << (index % 64));
    }
}
bool testHint(const std::vector<u64>& bits, u32 index)
{
    return index / 64 < bits.size() && (bits[index / 64] & (u64{1} << (index % 64))) != 0;
}
// The first set position at or after from, or limit.
u32 nextHint(const std::vector<u64>& bits, u32 from, u32 limit)
{
    size_t word = from / 64;
    if (word >= bits.size()) {
        return limit;
    }
    u64 value = bits[word] & (~u64{0} << (from % 64));
    for (;;) {
        if (value != 0) {
            return std::min(limit, static_cast<u32>(word * 64 + static_cast<u32>(std::countr_zero(value))));
        }
        if (++word >= bits.size()) {
            return limit;
        }
        value = bits[word];
    }
}

// Lowers a bracket depth by one, never below 0.
void leaveBracket(std::atomic<i32>& depth)
{
    i32 current = depth.load();
    while (current > 0 && !depth.compare_exchange_weak(current, current - 1)) {
    }
}

// Holds this database's write lock and the source's read lock for a copy. When the two are different shared
// databases on different mutexes, the mutexes are taken in address order.
class CopyLock
{
public:
    CopyLock(ParameterDB& target, IParameterDB& source) : m_target(target.getMutex()), m_source(source)
    {
        const ParameterDB* shared = dynamic_cast<const ParameterDB*>(&source);
        m_sourceFirst = shared != nullptr && &shared->getMutex() != &m_target &&
                        std::less<const IMutex*>()(&shared->getMutex(), &m_target);
        if (m_sourceFirst) {
            m_source.lockRead();
            m_target.lockWrite();
        } else {
            m_target.lockWrite();
            m_source.lockRead();
        }
    }
    ~CopyLock()
    {
        if (m_sourceFirst) {
            m_target.unlockWrite();
            m_source.unlockRead();
        } else {
            m_source.unlockRead();
            m_target.unlockWrite();
        }
    }
    CopyLock(const CopyLock&) = delete;
    CopyLock& operator=(const CopyLock&) = delete;

private:
    IMutex& m_target;
    IParameterDB& m_source;
    bool m_sourceFirst = false;
};

// An observer held back, with the observer lists of the databases that held it.
struct HeldObserver
{
    IParameterDBCallback* m_observer = nullptr;
    std::vector<std::shared_ptr<ObserverList>> m_lists;
};

// The calling thread's DeferredChangeNotices: how many are alive, and the observers held back, in the order they
// were first held.
struct HeldNotices
{
    u32 m_depth = 0;
    std::vector<HeldObserver> m_observers;
};
thread_local HeldNotices t_heldNotices;

} // namespace

// The registered observers of one database as held notices check them; changed under the database's lock and
// its own.
struct ObserverList
{
    std::mutex m_mutex;
    std::vector<IParameterDBCallback*> m_observers;
};

DeferredChangeNotices::DeferredChangeNotices()
{
    ++t_heldNotices.m_depth;
}

DeferredChangeNotices::~DeferredChangeNotices()
{
    HeldNotices& held = t_heldNotices;
    if (--held.m_depth != 0) {
        return;
    }
    // Taken out first, so that the list is empty again before any callback runs. Each callback runs under its
    // observer list's lock, which is not re-entrant: what it may not do is written at registerCallback.
    const std::vector<HeldObserver> observers = std::move(held.m_observers);
    held.m_observers.clear();
    for (const HeldObserver& entry : observers) {
        for (const std::shared_ptr<ObserverList>& list : entry.m_lists) {
            // Called under the list's lock: the observer cannot leave the database (and go) while it runs.
            const std::lock_guard<std::mutex> lock(list->m_mutex);
            if (std::find(list->m_observers.begin(), list->m_observers.end(), entry.m_observer) !=
                list->m_observers.end()) {
                entry.m_observer->onParameterChanged();
                break;
            }
        }
    }
}

bool DeferredChangeNotices::isActive()
{
    return t_heldNotices.m_depth != 0;
}

void DeferredChangeNotices::hold(const std::shared_ptr<ObserverList>& list, IParameterDBCallback* observer)
{
    std::vector<HeldObserver>& observers = t_heldNotices.m_observers;
    const auto held = std::find_if(observers.begin(), observers.end(),
                                   [observer](const HeldObserver& entry) { return entry.m_observer == observer; });
    if (held == observers.end()) {
        observers.push_back(HeldObserver{observer, {list}});
    } else if (std::find(held->m_lists.begin(), held->m_lists.end(), list) == held->m_lists.end()) {
        held->m_lists.push_back(list);
    }
}

ParameterDB::ParameterDB() : m_pMutex(&NullMutex::getInstance()), m_observerList(std::make_shared<ObserverList>()) {}

ParameterDB::~ParameterDB()
{
    removeAllLocked(true);
}

// ---- identity, lock and observers -----------------------------------------------------------------------------

i32 ParameterDB::initialize(u32 id, const char* name, IMutex* mutex)
{
    IMutex& previous = getMutex();
    previous.lockWrite();
    const char* text = name != nullptr ? name : "";
    if (strnlen(text, MAX_NAME_LENGTH + 1) > MAX_NAME_LENGTH) {
        previous.unlockWrite();
        return RESULT_BAD_ARGUMENT;
    }
    IMutex* next = mutex != nullptr ? mutex : &NullMutex::getInstance();
    m_pMutex.store(next, std::memory_order_release);
    next->lockWrite(); // threads that arrive from now on wait on the new mutex
    m_ownerThread.store(currentThread());
    i32 result = 0;
    if (anyReserved()) {
        result = RESULT_REFUSED;
    } else {
        m_id = id;
        m_name = text;
        removeAllLocked(true);
    }
    next->unlockWrite();
    previous.unlockWrite();
    return result;
}

i32 ParameterDB::onSlotChanged(u32 index)
{
    markAllHints(index);
    return onComponentChanged();
}

void ParameterDB::markAllHints(u32 index)
{
    for (ChangeHints& hints : m_hints) {
        setHint(hints.bits[hints.collecting], index);
    }
}

void ParameterDB::resetHints(u32 index)
{
    const size_t words = hintWords(m_components.size());
    for (ChangeHints& hints : m_hints) {
        for (std::vector<u64>& bits : hints.bits) {
            bits.resize(words, 0);
            clearHint(bits, index);
        }
    }
}

i32 ParameterDB::onComponentChanged()
{
    if (m_mutedChanges != 0) {
        return 0;
    }
    const bool deferred = DeferredChangeNotices::isActive();
    for (IParameterDBCallback* observer : m_observers) {
        if (deferred) {
            DeferredChangeNotices::hold(m_observerList, observer);
        } else {
            observer->onParameterChanged();
        }
    }
    return 0;
}

void ParameterDB::notifyComponentSetChanged()
{
    for (IParameterDBCallback* observer : m_observers) {
        observer->onParameterDBChanged();
    }
}

void ParameterDB::rebuildObservers()
{
    m_observers.clear();
    for (const auto& [thread, entry] : m_threads) {
        if (entry.callback != nullptr) {
            m_observers.push_back(entry.callback);
        }
    }
    const std::lock_guard<std::mutex> lock(m_observerList->m_mutex);
    m_observerList->m_observers = m_observers;
}

i32 ParameterDB::lockRead()
{
    return getMutex().lockRead();
}
i32 ParameterDB::unlockRead()
{
    return getMutex().unlockRead();
}
i32 ParameterDB::lockWrite()
{
    return getMutex().lockWrite();
}
i32 ParameterDB::unlockWrite()
{
    return getMutex().unlockWrite();
}

bool ParameterDB::hasOwnerThread() const
{
    return m_ownerThread.load() != 0;
}
u32 ParameterDB::getDBId() const
{
    return m_id;
}
const char* ParameterDB::getName() const
{
    return m_name.c_str();
}

i32 ParameterDB::registerCallback(u32 key, IParameterDBCallback* callback, ParameterFilter filter)
{
    WriteLock lock(getMutex());
    if (m_callbacks.count(key) != 0) {
        return 0;
    }
    const u32 index = static_cast<u32>(m_filters.size());
    m_callbacks[key] = CallbackEntry{index, callback, filter};
    m_filters.push_back(filter);
    ChangeHints hints;
    hints.bits[0].assign(hintWords(m_components.size()), 0);
    hints.bits[1].assign(hintWords(m_components.size()), 0);
    m_hints.push_back(std::move(hints));
    i32 result = 0;
    for (Component* component : m_components) {
        if (component != nullptr) {
            result |= component->setSubscriberCount(index + 1);
            result |= component->setSubscriberFilter(index, filter);
        }
    }
    const u64 thread = currentThread();
    if (m_threads.count(thread) == 0) {
        ThreadEntry entry;
        entry.callback = callback;
        for (const Component* component : m_components) {
            if (component != nullptr) {
                entry.added.push_back(component->getComponentInfo().getComponentUID());
            }
        }
        m_threads.emplace(thread, std::move(entry));
        rebuildObservers();
    }
    return result;
}

u32 ParameterDB::getCallbackIndex(u32 key) const
{
    ReadLock lock(getMutex());
    const auto found = m_callbacks.find(key);
    return found != m_callbacks.end() ? found->second.index : NONE;
}

// ---- change flags ---------------------------------------------------------------------------------------------

i32 ParameterDB::swapChangeFlags(u32 callbackIndex)
{
    WriteLock lock(getMutex());
    if (callbackIndex >= m_filters.size()) {
        return RESULT_INVALID_INDEX;
    }
    i32 result = 0;
    for (Component* component : m_components) {
        if (component != nullptr) {
            result |= component->swapChangeBank(callbackIndex);
        }
    }
    m_hints[callbackIndex].collecting ^= 1; // the hints follow the banks
    return result;
}

i32 ParameterDB::findNextChange(u32 callbackIndex, u32& componentIndex, u32& blockIndex, u32& x, u32& y,
                                bool stayInComponent)
{
    WriteLock lock(getMutex());
    if (callbackIndex >= m_filters.size()) {
        return RESULT_INVALID_INDEX;
    }
    std::vector<u64>& scanned = m_hints[callbackIndex].bits[m_hints[callbackIndex].collecting ^ 1];
    const u32 slots = static_cast<u32>(m_components.size());
    while (componentIndex < slots) {
        Component* component = m_components[componentIndex];
        if (!testHint(scanned, componentIndex)) {
            // Nothing flagged in this position's scanned bank (an empty position has no hint either).
            if (stayInComponent) {
                return Component::RESULT_NO_FURTHER_CHANGE;
            }
            componentIndex = nextHint(scanned, componentIndex + 1, slots);
            blockIndex = 0;
            x = 0;
            y = 0;
            continue;
        }
        if (component != nullptr) {
            const bool fromStart = blockIndex == 0 && x == 0 && y == 0;
            const i32 result = component->findNextChange(callbackIndex, blockIndex, x, y);
            if (result <= 0) {
                return result; // found (0) or a failure
            }
            if (fromStart) {
                clearHint(scanned, componentIndex); // the whole scanned bank is empty now
            }
        }
        if (stayInComponent) {
            return Component::RESULT_NO_FURTHER_CHANGE;
        }
        ++componentIndex;
        blockIndex = 0;
        x = 0;
        y = 0;
    }
    return Component::RESULT_NO_FURTHER_CHANGE;
}

i32 ParameterDB::clearChangeFlags(u32 callbackIndex)
{
    WriteLock lock(getMutex());
    if (callbackIndex >= m_filters.size()) {
        return RESULT_INVALID_INDEX;
    }
    for (Component* component : m_components) {
        if (component != nullptr) {
            component->clearChangesFor(callbackIndex);
        }
    }
    ChangeHints& hints = m_hints[callbackIndex];
    std::fill(hints.bits[hints.collecting ^ 1].begin(), hints.bits[hints.collecting ^ 1].end(), 0);
    return 0;
}

i32 ParameterDB::refreshAllValues(u8 writeFlag)
{
    WriteLock lock(getMutex());
    i32 result = 0;
    ++m_mutedChanges;
    for (Component* component : m_components) {
        if (component != nullptr) {
            result |= component->revalidateAll(writeFlag);
        }
    }
    --m_mutedChanges;
    for (u32 index = 0; index < m_components.size(); ++index) {
        Component* component = m_components[index];
        if (component != nullptr) {
            for (u32 block = 0; block < component->getBlockCount(); ++block) {
                component->onChanged(block, ALL_ELEMENTS, false);
            }
            markAllHints(index);
        }
    }
    onComponentChanged();
    return result;
}

// ---- components -----------------------------------------------------------------------------------------------

ComponentUID ParameterDB::generateComponentUID() const
{
    WriteLock lock(getMutex());
    for (u32 draw = 0; draw < RANDOM_DRAWS; ++draw) {
        const ComponentUID uid = static_cast<ComponentUID>(std::rand()) % (MAX_GENERATED_UID + 1);
        if (m_uidMap.count(uid) == 0) {
            return uid;
        }
    }
    for (ComponentUID uid = 0; uid <= MAX_GENERATED_UID; ++uid) {
        if (m_uidMap.count(uid) == 0) {
            return uid;
        }
    }
    return INVALID_COMPONENT_UID;
}

i32 ParameterDB::addComponent(const ComponentUID& uid, const ComponentInfo& info)
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
    WriteLock lock(getMutex());
    const i32 result = addPrepared(prepared);
    if (result < 0) {
        return result;
    }
    notifyComponentSetChanged();
    return 0;
}

i32 ParameterDB::addComponent(const ComponentUID& uid, const char* typeName, u32 typeVersion, u32 numX, u32 numY,
                              i16 componentNumber)
{
    if (typeName == nullptr || componentNumber < 0 || uid == INVALID_COMPONENT_UID) {
        return RESULT_BAD_ARGUMENT;
    }
    ComponentInfo prepared;
    {
        const ComponentInfo& registered =
            ComponentInfoRepository::getInstance().findComponentInfo(typeName, typeVersion);
        if (!registered.hasParameters()) {
            return RESULT_UNKNOWN_TYPE;
        }
        if (prepared.copyFrom(registered) < 0) {
            return RESULT_NO_MEMORY;
        }
    }
    prepared.setComponentUID(uid);
    if (prepared.setDimensions(numX, numY, componentNumber) < 0) {
        return RESULT_BAD_ARGUMENT;
    }
    WriteLock lock(getMutex());
    const i32 result = addPrepared(prepared);
    if (result < 0) {
        return result;
    }
    notifyComponentSetChanged();
    return 0;
}

i32 ParameterDB::addPrepared(const ComponentInfo& info)
{
    const ComponentUID uid = info.getComponentUID();
    if (uid == INVALID_COMPONENT_UID || m_uidMap.count(uid) != 0) {
        return RESULT_BAD_ARGUMENT;
    }
    // Every component present has its uid in the map: equal sizes mean that no position is empty.
    const u32 index =
        m_uidMap.size() == m_components.size()
            ? static_cast<u32>(m_components.size())
            : static_cast<u32>(std::find(m_components.begin(), m_components.end(), nullptr) - m_components.begin());
    std::unique_ptr<SlotCallback> fresh;
    IComponentCallback* callback = nullptr;
    if (index < m_slotCallbacks.size()) {
        callback = m_slotCallbacks[index].get();
    } else {
        fresh.reset(new (std::nothrow) SlotCallback(*this, index));
        callback = fresh.get();
    }
    Component* component = callback != nullptr ? new (std::nothrow) Component() : nullptr;
    if (component == nullptr) {
        return RESULT_NO_MEMORY;
    }
    i32 result = component->create(this, index, info, callback, 0);
    if (result < 0) {
        delete component;
        return result == RESULT_NO_MEMORY ? RESULT_NO_MEMORY : RESULT_MALFORMED;
    }
    const u32 subscribers = static_cast<u32>(m_filters.size());
    result = component->setSubscriberCount(subscribers);
    for (u32 i = 0; i < subscribers && result >= 0; ++i) {
        result = component->setSubscriberFilter(i, m_filters[i]);
    }
    if (result < 0) {
        delete component;
        return result;
    }
    if (index == m_components.size()) {
        m_components.push_back(component);
        m_reservations.emplace_back();
        m_removalPending.push_back(0);
        m_slotCallbacks.push_back(std::move(fresh));
    } else {
        m_components[index] = component;
        m_reservations[index].clear();
        m_removalPending[index] = 0;
    }
    resetHints(index);
    m_uidMap[uid] = index;
    for (auto& [thread, entry] : m_threads) {
        entry.added.push_back(uid);
    }
    return 0;
}

void ParameterDB::deleteAt(u32 index)
{
    Component* component = at(index);
    if (component == nullptr) {
        return;
    }
    const ComponentUID uid = component->getComponentInfo().getComponentUID();
    delete component;
    m_components[index] = nullptr;
    m_reservations[index].clear();
    m_removalPending[index] = 0;
    resetHints(index);
    const auto mapped = m_uidMap.find(uid);
    if (mapped != m_uidMap.end() && mapped->second == index) {
        m_uidMap.erase(mapped);
    }
    // Nobody can reserve it any more; a removed list keeps the uid until its thread has seen it.
    for (auto& [thread, entry] : m_threads) {
        eraseValue(entry.added, uid);
    }
}

void ParameterDB::removeAllLocked(bool forgetObservers)
{
    for (Component* component : m_components) {
        delete component;
    }
    m_components.clear();
    m_reservations.clear();
    m_removalPending.clear();
    m_slotCallbacks.clear();
    m_uidMap.clear();
    for (ChangeHints& hints : m_hints) {
        hints.bits[0].clear();
        hints.bits[1].clear();
    }
    if (forgetObservers) {
        m_callbacks.clear();
        m_filters.clear();
        m_hints.clear();
        m_threads.clear();
        rebuildObservers();
    } else {
        for (auto& [thread, entry] : m_threads) {
            entry.added.clear();
            entry.removed.clear();
        }
    }
}

bool ParameterDB::anyReserved() const
{
    for (size_t i = 0; i < m_components.size(); ++i) {
        if (m_components[i] != nullptr && !m_reservations[i].empty()) {
            return true;
        }
    }
    return false;
}

i32 ParameterDB::clear()
{
    return removeAllComponents();
}

i32 ParameterDB::removeAllComponents()
{
    WriteLock lock(getMutex());
    if (currentThread() != m_ownerThread.load() || anyReserved()) {
        return RESULT_REFUSED;
    }
    removeAllLocked(true);
    return 0;
}

i32 ParameterDB::removeComponent(const ComponentUID& uid)
{
    WriteLock lock(getMutex());
    const u32 index = indexOf(uid);
    if (at(index) != nullptr) {
        m_removalPending[index] = 1;
        for (auto& [thread, entry] : m_threads) {
            if (std::find(entry.removed.begin(), entry.removed.end(), uid) == entry.removed.end()) {
                entry.removed.push_back(uid);
            }
        }
    }
    notifyComponentSetChanged();
    return 0;
}

i32 ParameterDB::reserveAllComponents()
{
    WriteLock lock(getMutex());
    const u64 thread = currentThread();
    for (size_t i = 0; i < m_components.size(); ++i) {
        std::vector<u64>& holders = m_reservations[i];
        if (m_components[i] != nullptr && std::find(holders.begin(), holders.end(), thread) == holders.end()) {
            holders.push_back(thread);
        }
    }
    const auto entry = m_threads.find(thread);
    if (entry != m_threads.end()) {
        entry->second.added.clear();
    }
    return 0;
}

i32 ParameterDB::reserveComponent(const ComponentUID& uid)
{
    WriteLock lock(getMutex());
    const u32 index = indexOf(uid);
    if (at(index) == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    const u64 thread = currentThread();
    std::vector<u64>& holders = m_reservations[index];
    if (std::find(holders.begin(), holders.end(), thread) == holders.end()) {
        holders.push_back(thread);
    }
    const auto entry = m_threads.find(thread);
    if (entry != m_threads.end()) {
        eraseValue(entry->second.added, uid);
    }
    return 0;
}

void ParameterDB::releaseAt(u32 index, u64 thread)
{
    std::vector<u64>& holders = m_reservations[index];
    holders.erase(std::remove(holders.begin(), holders.end(), thread), holders.end());
    if (holders.empty() && m_removalPending[index] != 0) {
        deleteAt(index);
    }
}

i32 ParameterDB::releaseComponent(const ComponentUID& uid)
{
    WriteLock lock(getMutex());
    const u64 thread = currentThread();
    const auto entry = m_threads.find(thread);
    if (entry != m_threads.end()) {
        eraseValue(entry->second.removed, uid);
    }
    const u32 index = indexOf(uid);
    if (at(index) == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    releaseAt(index, thread);
    return 0;
}

i32 ParameterDB::releaseAllOfThisThread()
{
    WriteLock lock(getMutex());
    const u64 thread = currentThread();
    const auto entry = m_threads.find(thread);
    if (entry != m_threads.end()) {
        entry->second.removed.clear();
    }
    std::vector<u32> indices;
    indices.reserve(m_uidMap.size());
    for (const auto& [uid, index] : m_uidMap) {
        indices.push_back(index);
    }
    for (u32 index : indices) {
        if (at(index) != nullptr) {
            releaseAt(index, thread);
        }
    }
    return 0;
}

bool ParameterDB::hasReservedComponents() const
{
    ReadLock lock(getMutex());
    return anyReserved();
}

bool ParameterDB::isReserved(const ComponentUID& uid) const
{
    ReadLock lock(getMutex());
    const u32 index = indexOf(uid);
    return at(index) != nullptr && !m_reservations[index].empty();
}

bool ParameterDB::isRemovalPending(const ComponentUID& uid) const
{
    ReadLock lock(getMutex());
    const u32 index = indexOf(uid);
    return at(index) != nullptr && m_removalPending[index] != 0;
}

i32 ParameterDB::getAddedComponents(ComponentUIDList& out) const
{
    ReadLock lock(getMutex());
    out.clear();
    const auto entry = m_threads.find(currentThread());
    if (entry != m_threads.end()) {
        out.assign(entry->second.added.begin(), entry->second.added.end());
    }
    return 0;
}

i32 ParameterDB::getRemovedComponents(ComponentUIDList& out) const
{
    ReadLock lock(getMutex());
    out.clear();
    const auto entry = m_threads.find(currentThread());
    if (entry != m_threads.end()) {
        out.assign(entry->second.removed.begin(), entry->second.removed.end());
    }
    return 0;
}

// ---- addresses and getters ------------------------------------------------------------------------------------

IComponent& ParameterDB::componentAt(u32 index) const
{
    Component* component = at(index);
    if (component == nullptr) {
        return ComponentNULL::getInstance();
    }
    return *component;
}

u32 ParameterDB::indexOf(ComponentUID uid) const
{
    const auto found = m_uidMap.find(uid);
    return found != m_uidMap.end() ? found->second : NONE;
}

u32 ParameterDB::complete(ParameterAddress& address, u32& block) const
{
    if (address.isValid() && address.getDatabaseId() == m_id) {
        const Component* component = at(address.getComponentIndex());
        if (component != nullptr && address.names(component->getComponentInfo())) {
            block = address.getBlockIndex();
            return address.getComponentIndex();
        }
    }
    // Not usable as it stands (never resolved, or the component at its position changed): complete it by uid.
    const u32 index = indexOf(address.getComponentUID());
    block = address.completeByUid(m_name.c_str(), m_id, index, componentAt(index));
    return index;
}

template <typename Operation> auto ParameterDB::writeAt(ParameterAddress& address, Operation&& operation)
{
    WriteLock lock(getMutex());
    u32 block = NONE;
    const u32 index = complete(address, block);
    return operation(componentAt(index), block);
}

template <typename Operation> auto ParameterDB::readAt(ParameterAddress& address, Operation&& operation) const
{
    ReadLock lock(getMutex());
    u32 block = NONE;
    const u32 index = complete(address, block);
    return operation(static_cast<const IComponent&>(componentAt(index)), block);
}

ParameterAddress ParameterDB::resolveAddress(u32 componentIndex, u32 blockIndex) const
{
    ReadLock lock(getMutex());
    ParameterAddress address;
    const IComponent& component = componentAt(componentIndex);
    const ComponentInfo& info = component.getComponentInfo();
    if (address.setTexts(m_name.c_str(), info.getComponentUID(),
                         component.getParameterInfo(blockIndex).getAddress().c_str()) >= 0) {
        address.setIndices(m_id, component.isValid() ? componentIndex : NONE, info.getComponentNumber(),
                           blockIndex < component.getBlockCount() ? blockIndex : NONE);
    }
    return address;
}

ParameterAddress ParameterDB::resolveAddress(const ComponentUID& uid, const char* text) const
{
    ReadLock lock(getMutex());
    ParameterAddress address;
    const u32 index = indexOf(uid);
    const IComponent& component = componentAt(index);
    if (address.setTexts(m_name.c_str(), uid, text) >= 0) {
        address.setIndices(m_id, index, component.getComponentInfo().getComponentNumber(),
                           component.getBlockIndex(text));
    }
    return address;
}

u32 ParameterDB::getComponentIndex(const ComponentUID& uid) const
{
    ReadLock lock(getMutex());
    return indexOf(uid);
}

u32 ParameterDB::getBlockIndex(const ComponentUID& uid, const char* address) const
{
    ReadLock lock(getMutex());
    return componentAt(indexOf(uid)).getBlockIndex(address);
}

u32 ParameterDB::getComponentCount() const
{
    ReadLock lock(getMutex());
    return static_cast<u32>(m_uidMap.size());
}

u32 ParameterDB::getComponentSlotCount() const
{
    ReadLock lock(getMutex());
    return static_cast<u32>(m_components.size());
}

i32 ParameterDB::setComponentName(u32 componentIndex, const char* name)
{
    WriteLock lock(getMutex());
    return componentAt(componentIndex).setName(name);
}

i32 ParameterDB::setComponentUserValue(u32 componentIndex, u32 value)
{
    WriteLock lock(getMutex());
    return componentAt(componentIndex).setUserValue(value);
}

i32 ParameterDB::setComponentDimensions(u32 componentIndex, u32 numX, u32 numY, u8 keepValues, u8 writeFlag)
{
    WriteLock lock(getMutex());
    Component* component = at(componentIndex);
    if (component == nullptr) {
        return RESULT_NOT_SUPPORTED;
    }
    const i32 result = component->setDimensions(numX, numY, keepValues, writeFlag);
    if (result >= 0) {
        notifyComponentSetChanged();
    }
    return result;
}

const ComponentInfo* ParameterDB::getComponentInfo(u32 componentIndex) const
{
    ReadLock lock(getMutex());
    return &componentAt(componentIndex).getComponentInfo();
}

const char* ParameterDB::getComponentTypeName(u32 componentIndex) const
{
    ReadLock lock(getMutex());
    return componentAt(componentIndex).getComponentInfo().getName().c_str();
}

u32 ParameterDB::getComponentVersion(u32 componentIndex) const
{
    ReadLock lock(getMutex());
    return componentAt(componentIndex).getComponentInfo().getVersion();
}

u16 ParameterDB::getComponentNumber(u32 componentIndex) const
{
    ReadLock lock(getMutex());
    return static_cast<u16>(componentAt(componentIndex).getComponentInfo().getComponentNumber());
}

ComponentUID ParameterDB::getComponentUID(u32 componentIndex) const
{
    ReadLock lock(getMutex());
    return componentAt(componentIndex).getComponentInfo().getComponentUID();
}

const char* ParameterDB::getComponentName(u32 componentIndex) const
{
    ReadLock lock(getMutex());
    return componentAt(componentIndex).getComponentInfo().getInstanceName().c_str();
}

u32 ParameterDB::getComponentUserValue(u32 componentIndex) const
{
    ReadLock lock(getMutex());
    return componentAt(componentIndex).getComponentInfo().getUserValue();
}

u32 ParameterDB::getBlockCount(u32 componentIndex) const
{
    ReadLock lock(getMutex());
    return componentAt(componentIndex).getBlockCount();
}

const ParameterInfo* ParameterDB::getParameterInfo(ParameterAddress& address) const
{
    return readAt(address, [](const IComponent& c, u32 block) { return &c.getParameterInfo(block); });
}

const ParameterInfo* ParameterDB::getParameterInfo(u32 componentIndex, u32 blockIndex) const
{
    ReadLock lock(getMutex());
    return &componentAt(componentIndex).getParameterInfo(blockIndex);
}

// ---- typed writes ---------------------------------------------------------------------------------------------

i32 ParameterDB::setValue(ParameterAddress& address, u32 x, u32 y, const KVariant& value, u8 writeFlag)
{
    return writeAt(address, [&](IComponent& c, u32 block) { return c.setValue(block, x, y, value, writeFlag); });
}

i32 ParameterDB::setValue(u32 componentIndex, u32 blockIndex, u32 x, u32 y, const KVariant& value, u8 writeFlag)
{
    WriteLock lock(getMutex());
    return componentAt(componentIndex).setValue(blockIndex, x, y, value, writeFlag);
}

i32 ParameterDB::setArray(ParameterAddress& address, const IParameterArray& source, u8 writeFlag)
{
    return writeAt(address, [&](IComponent& c, u32 block) { return c.setArray(block, source, writeFlag); });
}

i32 ParameterDB::setArray(u32 componentIndex, u32 blockIndex, const IParameterArray& source, u8 writeFlag)
{
    WriteLock lock(getMutex());
    return componentAt(componentIndex).setArray(blockIndex, source, writeFlag);
}

i32 ParameterDB::setValueUInt(ParameterAddress& address, u32 x, u32 y, u32 value, u8 writeFlag)
{
    return writeAt(address, [&](IComponent& c, u32 block) { return c.setValueUInt(block, x, y, value, writeFlag); });
}

i32 ParameterDB::setValueUInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u32 value, u8 writeFlag)
{
    WriteLock lock(getMutex());
    return componentAt(componentIndex).setValueUInt(blockIndex, x, y, value, writeFlag);
}

i32 ParameterDB::setValueInt(ParameterAddress& address, u32 x, u32 y, i32 value, u8 writeFlag)
{
    return writeAt(address, [&](IComponent& c, u32 block) { return c.setValueInt(block, x, y, value, writeFlag); });
}

i32 ParameterDB::setValueInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, i32 value, u8 writeFlag)
{
    WriteLock lock(getMutex());
    return componentAt(componentIndex).setValueInt(blockIndex, x, y, value, writeFlag);
}

i32 ParameterDB::setValueFloat(ParameterAddress& address, u32 x, u32 y, f32 value, u8 writeFlag)
{
    return writeAt(address, [&](IComponent& c, u32 block) { return c.setValueFloat(block, x, y, value, writeFlag); });
}

i32 ParameterDB::setValueFloat(u32 componentIndex, u32 blockIndex, u32 x, u32 y, f32 value, u8 writeFlag)
{
    WriteLock lock(getMutex());
    return componentAt(componentIndex).setValueFloat(blockIndex, x, y, value, writeFlag);
}

i32 ParameterDB::setValueBool(ParameterAddress& address, u32 x, u32 y, bool value, u8 writeFlag)
{
    return writeAt(address, [&](IComponent& c, u32 block) { return c.setValueBool(block, x, y, value, writeFlag); });
}

i32 ParameterDB::setValueBool(u32 componentIndex, u32 blockIndex, u32 x, u32 y, bool value, u8 writeFlag)
{
    WriteLock lock(getMutex());
    return componentAt(componentIndex).setValueBool(blockIndex, x, y, value, writeFlag);
}

i32 ParameterDB::setValueString(ParameterAddress& address, u32 x, u32 y, const char* text, u8 writeFlag)
{
    return writeAt(address, [&](IComponent& c, u32 block) { return c.setValueString(block, x, y, text, writeFlag); });
}

i32 ParameterDB::setValueString(u32 componentIndex, u32 blockIndex, u32 x, u32 y, const char* text, u8 writeFlag)
{
    WriteLock lock(getMutex());
    return componentAt(componentIndex).setValueString(blockIndex, x, y, text, writeFlag);
}

i32 ParameterDB::setValueBinary(ParameterAddress& address, u32 x, u32 y, const void* data, u32 length, u8 writeFlag)
{
    return writeAt(address,
                   [&](IComponent& c, u32 block) { return c.setValueBinary(block, x, y, data, length, writeFlag); });
}

i32 ParameterDB::setValueBinary(u32 componentIndex, u32 blockIndex, u32 x, u32 y, const void* data, u32 length,
                                u8 writeFlag)
{
    WriteLock lock(getMutex());
    return componentAt(componentIndex).setValueBinary(blockIndex, x, y, data, length, writeFlag);
}

i32 ParameterDB::setBlockToDefault(ParameterAddress& address, u8 writeFlag)
{
    return writeAt(address, [&](IComponent& c, u32 block) { return c.setBlockToDefault(block, writeFlag); });
}

i32 ParameterDB::setToDefault(ParameterAddress& address, u32 x, u32 y, u8 writeFlag)
{
    return writeAt(address, [&](IComponent& c, u32 block) { return c.setToDefault(block, x, y, writeFlag); });
}

i32 ParameterDB::setAllToDefault(u32 componentIndex, u8 writeFlag)
{
    WriteLock lock(getMutex());
    return componentAt(componentIndex).setAllToDefault(writeFlag);
}

i32 ParameterDB::setBlockToDefault(u32 componentIndex, u32 blockIndex, u8 writeFlag)
{
    WriteLock lock(getMutex());
    return componentAt(componentIndex).setBlockToDefault(blockIndex, writeFlag);
}

i32 ParameterDB::setToDefault(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8 writeFlag)
{
    WriteLock lock(getMutex());
    return componentAt(componentIndex).setToDefault(blockIndex, x, y, writeFlag);
}

i32 ParameterDB::setElementStatus(ParameterAddress& address, u32 x, u32 y, u8 status)
{
    return writeAt(address, [&](IComponent& c, u32 block) { return c.setElementStatus(block, x, y, status); });
}

i32 ParameterDB::setElementStatus(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8 status)
{
    WriteLock lock(getMutex());
    return componentAt(componentIndex).setElementStatus(blockIndex, x, y, status);
}

// ---- typed reads ----------------------------------------------------------------------------------------------

i32 ParameterDB::getValue(KVariant& value, ParameterAddress& address, u32 x, u32 y, u8* status) const
{
    return readAt(address, [&](const IComponent& c, u32 block) { return c.getValue(value, block, x, y, status); });
}

i32 ParameterDB::getValue(KVariant& value, u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const
{
    ReadLock lock(getMutex());
    return componentAt(componentIndex).getValue(value, blockIndex, x, y, status);
}

i32 ParameterDB::getArray(IParameterArray& destination, ParameterAddress& address) const
{
    return readAt(address, [&](const IComponent& c, u32 block) { return c.getArray(destination, block); });
}

i32 ParameterDB::getArray(IParameterArray& destination, u32 componentIndex, u32 blockIndex) const
{
    ReadLock lock(getMutex());
    return componentAt(componentIndex).getArray(destination, blockIndex);
}

u32 ParameterDB::getValueUInt(ParameterAddress& address, u32 x, u32 y, u8* status) const
{
    return readAt(address, [&](const IComponent& c, u32 block) { return c.getValueUInt(block, x, y, status); });
}

u32 ParameterDB::getValueUInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const
{
    ReadLock lock(getMutex());
    return componentAt(componentIndex).getValueUInt(blockIndex, x, y, status);
}

i32 ParameterDB::getValueInt(ParameterAddress& address, u32 x, u32 y, u8* status) const
{
    return readAt(address, [&](const IComponent& c, u32 block) { return c.getValueInt(block, x, y, status); });
}

i32 ParameterDB::getValueInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const
{
    ReadLock lock(getMutex());
    return componentAt(componentIndex).getValueInt(blockIndex, x, y, status);
}

f32 ParameterDB::getValueFloat(ParameterAddress& address, u32 x, u32 y, u8* status) const
{
    return readAt(address, [&](const IComponent& c, u32 block) { return c.getValueFloat(block, x, y, status); });
}

f32 ParameterDB::getValueFloat(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const
{
    ReadLock lock(getMutex());
    return componentAt(componentIndex).getValueFloat(blockIndex, x, y, status);
}

bool ParameterDB::getValueBool(ParameterAddress& address, u32 x, u32 y, u8* status) const
{
    return readAt(address, [&](const IComponent& c, u32 block) { return c.getValueBool(block, x, y, status); });
}

bool ParameterDB::getValueBool(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const
{
    ReadLock lock(getMutex());
    return componentAt(componentIndex).getValueBool(blockIndex, x, y, status);
}

i32 ParameterDB::getValueString(KVariant& value, ParameterAddress& address, u32 x, u32 y) const
{
    return readAt(address, [&](const IComponent& c, u32 block) { return c.getValue(value, block, x, y, nullptr); });
}

i32 ParameterDB::getValueString(KVariant& value, u32 componentIndex, u32 blockIndex, u32 x, u32 y) const
{
    ReadLock lock(getMutex());
    return componentAt(componentIndex).getValue(value, blockIndex, x, y, nullptr);
}

bool ParameterDB::isChanged(u32 callbackIndex, ParameterAddress& address, u32 x, u32 y) const
{
    return readAt(address, [&](const IComponent& c, u32 block) { return c.isChangedFor(callbackIndex, block, x, y); });
}

bool ParameterDB::isChanged(u32 callbackIndex, u32 componentIndex, u32 blockIndex, u32 x, u32 y) const
{
    ReadLock lock(getMutex());
    return componentAt(componentIndex).isChangedFor(callbackIndex, blockIndex, x, y);
}

u8 ParameterDB::getElementStatus(ParameterAddress& address, u32 x, u32 y) const
{
    return readAt(address, [&](const IComponent& c, u32 block) { return c.getElementStatus(block, x, y); });
}

u8 ParameterDB::getElementStatus(u32 componentIndex, u32 blockIndex, u32 x, u32 y) const
{
    ReadLock lock(getMutex());
    return componentAt(componentIndex).getElementStatus(blockIndex, x, y);
}

bool ParameterDB::isValidIndex(ParameterAddress& address, u32 x, u32 y) const
{
    return readAt(address, [&](const IComponent& c, u32 block) { return c.isValidIndex(block, x, y); });
}

bool ParameterDB::isValidIndex(u32 componentIndex, u32 blockIndex, u32 x, u32 y) const
{
    ReadLock lock(getMutex());
    return componentAt(componentIndex).isValidIndex(blockIndex, x, y);
}

// ---- copies ---------------------------------------------------------------------------------------------------

i32 ParameterDB::copyLocked(IParameterDB& source, u32 componentIndex, u32 blockIndex, bool wholeComponent,
                            ParameterFilter filter, u8 writeFlag)
{
    IComponent& target = componentAt(componentIndex);
    const IComponent& from = source.getComponent(componentIndex);
    if (!wholeComponent) {
        return target.copyBlockFiltered(blockIndex, from, filter, writeFlag);
    }
    const u32 blocks = from.getBlockCount();
    for (u32 block = 0; block < blocks; ++block) {
        const i32 result = target.copyBlockFiltered(block, from, filter, writeFlag);
        if (result < 0) {
            return result;
        }
    }
    return 0;
}

i32 ParameterDB::copyBlockFrom(ParameterAddress& address, IParameterDB& source, ParameterFilter filter, u8 writeFlag)
{
    CopyLock lock(*this, source);
    u32 block = NONE;
    const u32 index = complete(address, block);
    return copyLocked(source, index, block, false, filter, writeFlag);
}

i32 ParameterDB::copyBlockFrom(u32 componentIndex, u32 blockIndex, IParameterDB& source, ParameterFilter filter,
                               u8 writeFlag)
{
    CopyLock lock(*this, source);
    return copyLocked(source, componentIndex, blockIndex, false, filter, writeFlag);
}

i32 ParameterDB::copyComponentFrom(u32 componentIndex, IParameterDB& source, ParameterFilter filter, u8 writeFlag)
{
    CopyLock lock(*this, source);
    return copyLocked(source, componentIndex, 0, true, filter, writeFlag);
}

i32 ParameterDB::copyAllFrom(IParameterDB& source, ParameterFilter filter, u8 writeFlag)
{
    CopyLock lock(*this, source);
    const u32 slots = source.getComponentSlotCount();
    for (u32 index = 0; index < slots; ++index) {
        const i32 result = copyLocked(source, index, 0, true, filter, writeFlag);
        if (result < 0) {
            return result;
        }
    }
    return 0;
}

// ---- "#CT1" ---------------------------------------------------------------------------------------------------

i32 ParameterDB::exportComponentTable(void* buffer, u32 size, u32 headerValue,
                                      const std::vector<u32>& componentIndices) const
{
    ReadLock lock(getMutex());
    return writeComponentTable(*this, buffer, size, headerValue, componentIndices);
}

i32 ParameterDB::exportComponentTable(void* buffer, u32 size, u32 headerValue, const ComponentUIDList& uids) const
{
    ReadLock lock(getMutex());
    std::vector<u32> indices;
    indices.reserve(uids.size());
    for (ComponentUID uid : uids) {
        indices.push_back(indexOf(uid));
    }
    return writeComponentTable(*this, buffer, size, headerValue, indices);
}

i32 ParameterDB::exportComponentTable(void* buffer, u32 size, u32 headerValue) const
{
    ReadLock lock(getMutex());
    std::vector<u32> indices;
    listComponentsByUID(*this, indices);
    // The list holds every component: each one writes into what is left of the buffer and a table that does not
    // fit fails at the first component past the size, without a separate size pass.
    return writeComponentTable(*this, buffer, size, headerValue, indices, true);
}

u32 ParameterDB::getComponentTableSize(const std::vector<u32>& componentIndices) const
{
    ReadLock lock(getMutex());
    return saturate(getComponentTableSize64(*this, componentIndices));
}

u32 ParameterDB::getComponentTableSize(const ComponentUIDList& uids) const
{
    ReadLock lock(getMutex());
    std::vector<u32> indices;
    indices.reserve(uids.size());
    for (ComponentUID uid : uids) {
        indices.push_back(indexOf(uid));
    }
    return saturate(getComponentTableSize64(*this, indices));
}

u32 ParameterDB::getComponentTableSize() const
{
    ReadLock lock(getMutex());
    std::vector<u32> indices;
    listComponentsByUID(*this, indices);
    return saturate(getComponentTableSize64(*this, indices));
}

i32 ParameterDB::importComponentTable(const void* record, u32 size, ParameterFilter options, u8 writeFlag)
{
    WriteLock lock(getMutex());
    const bool replace = (options.getBits() & 1) != 0;
    if (replace && anyReserved()) {
        return RESULT_REFUSED;
    }
    i32 result = checkComponentTable(*this, record, size, options);
    if (result < 0) {
        return result;
    }
    bool setChanged = false;
    if (replace) {
        setChanged = !m_uidMap.empty();
        removeAllLocked(false);
    }
    ParameterFilter componentFilter(options);
    componentFilter.clearBits(1);
    std::vector<ComponentTableEntry> entries;
    splitComponentTable(record, size, entries);
    for (size_t i = 0; i < entries.size() && result >= 0; ++i) {
        const ComponentTableEntry& entry = entries[i];
        if (entry.size == 0 && i + 1 < entries.size()) {
            continue; // an index that named no component
        }
        Record::ComponentRecord peeked;
        if (Record::peekComponentRecord(entry.data, entry.size, true, peeked) < 0) {
            continue; // type not registered, logged (the check let nothing else through)
        }
        if (replace) {
            ComponentInfo recorded;
            u32 announced = 0;
            if (recorded.importBinary(entry.data, entry.size, announced) < 0 || addPrepared(recorded) < 0) {
                continue;
            }
            setChanged = true;
        }
        const u32 index = indexOf(peeked.uid);
        if (index == NONE) {
            continue;
        }
        Component* component = at(index);
        if (component == nullptr) {
            result = RESULT_MALFORMED;
            break;
        }
        result = component->importFramedExport(this, index, entry.data, entry.size, componentFilter, writeFlag, 0);
        if (result < 0 && replace) {
            deleteAt(index);
        }
    }
    // A successful import tells the observers; a failed one only when it changed the component set already.
    if (result >= 0 || setChanged) {
        notifyComponentSetChanged();
    }
    return result < 0 ? result : 0;
}

// ---- strategy, recall, components -----------------------------------------------------------------------------

i32 ParameterDB::suppressStrategy()
{
    m_suppressDepth.fetch_add(1);
    return 0;
}

i32 ParameterDB::resumeStrategy()
{
    leaveBracket(m_suppressDepth);
    return 0;
}

bool ParameterDB::isStrategySuppressed() const
{
    return m_suppressDepth.load() > 0;
}

i32 ParameterDB::beginRecall()
{
    WriteLock lock(getMutex());
    m_recallDepth.fetch_add(1);
    return 0;
}

i32 ParameterDB::endRecall()
{
    WriteLock lock(getMutex());
    leaveBracket(m_recallDepth);
    return 0;
}

bool ParameterDB::isRecalling() const
{
    return m_recallDepth.load() > 0;
}

const IComponent& ParameterDB::getComponent(u32 componentIndex) const
{
    return componentAt(componentIndex);
}

IComponent& ParameterDB::getComponent(u32 componentIndex)
{
    return componentAt(componentIndex);
}

} // namespace PDB
