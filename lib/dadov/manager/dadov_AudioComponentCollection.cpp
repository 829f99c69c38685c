#include "dadov_AudioComponentCollection.h"

#include <algorithm>
#include <new>

#include "dadov_AudioComponentDLLRepository.h"
#include "klib_Print.h"
#include "logic_LogicComponentCollection.h"
#include "os_Clock.h"
#include "os_Tasks.h"
#include "pdb_ParameterDBCollection.h"

namespace DADOV {

namespace {
constexpr u32 FINALIZE_POLL_MS = 30;

const AudioComponentCollection::ComponentList EMPTY_LIST;

// Log lines name a thread by the low 32 bits of its identity.
int logId(u64 identity)
{
    return static_cast<int>(static_cast<u32>(identity));
}

u64 callerIdentity()
{
    return ossupport::getCurrentThreadIdentity();
}
} // namespace

AudioComponentCollection& AudioComponentCollection::getInstance()
{
    static AudioComponentCollection instance;
    return instance;
}

AudioComponentCollection::AudioComponentCollection()
{
    // Built before this object, these singletons are destroyed after it, so the destructor can still release
    // components and unload plug-ins.
    (void)AudioComponentDLLRepository::getInstance();
    (void)LogicCtrl::LogicComponentCollection::getInstance();
    (void)PDB::ParameterDBCollection::getCollection();
    (void)AudioConfigDB::getInstance();
}

AudioComponentCollection::~AudioComponentCollection()
{
    finalize();
}

i32 AudioComponentCollection::initialize(const char* componentDirectory, u32 maxThreads)
{
    if (m_lock.lock() != DADOV_OK) {
        return DADOV_E_FAILED;
    }
    i32 result = DADOV_E_FAILED;
    if (!m_lock.isReady() && componentDirectory != nullptr &&
        AudioComponentDLLRepository::getInstance().initialize(componentDirectory) == DADOV_OK) {
        try {
            m_threads.reserve(static_cast<size_t>(maxThreads) + 1);
            m_maxThreads = maxThreads;
            m_lock.setReady(true);
            KLIB_LOG("[i] AudioComponentCollection::initialize - AUDIOCOMPO_DB() initialized.\n");
            result = DADOV_OK;
        } catch (const std::bad_alloc&) {
            (void)AudioComponentDLLRepository::getInstance().unloadAll();
        }
    }
    m_lock.unlock();
    return result;
}

i32 AudioComponentCollection::finalize()
{
    if (m_lock.lockReady() != DADOV_OK) {
        return DADOV_OK;
    }
    if (m_finalizing) {
        // Another thread is finalizing and waits with the lock released.
        m_lock.unlock();
        return DADOV_OK;
    }
    m_finalizing = true;
    requestRemoveAll(callerIdentity());
    while (anyListHeld()) {
        notifyAll();
        // The holders drop their components in their own update or end, which need the lock.
        const i32 depth = m_lock.getRecursionCount();
        for (i32 i = 0; i <= depth; ++i) {
            m_lock.unlock();
        }
        (void)ossupport::sleepMilliseconds(FINALIZE_POLL_MS);
        for (i32 i = 0; i <= depth; ++i) {
            while (m_lock.lock() != DADOV_OK) {
                (void)ossupport::sleepMilliseconds(1);
            }
        }
    }
    // Components added while waiting: no thread holds them any more.
    while (!m_components.empty()) {
        destroy(m_components.begin());
    }
    resetState();
    (void)AudioComponentDLLRepository::getInstance().unloadAll();
    KLIB_LOG("[i] AudioComponentCollection::finalize - AUDIOCOMPO_DB() finalized.\n");
    m_finalizing = false;
    m_lock.setReady(false);
    m_lock.unlock();
    return DADOV_OK;
}

bool AudioComponentCollection::anyListHeld() const
{
    return std::any_of(m_threads.begin(), m_threads.end(),
                       [](const auto& item) { return !item.second.m_list.empty(); });
}

void AudioComponentCollection::resetState()
{
    // Entries stay allocated (a thread may still hold a reference to its empty list) but leave the table.
    for (auto& [identity, entry] : m_threads) {
        entry.m_list.clear();
        entry.m_uids.clear();
        entry.m_byUid.clear();
        entry.m_fresh.clear();
        entry.m_callback = nullptr;
        entry.m_registered = false;
        entry.m_active = false;
    }
    m_registeredThreads = 0;
    m_activeThreads = 0;
    m_maxThreads = 0;
    m_recordsByUid.clear();
    m_components.clear();
    m_pendingAdd.clear();
    m_pendingRemove.clear();
    m_dspThread = 0;
    m_dspContext = nullptr;
    (void)m_editingConnections.clear();
    (void)m_appliedConnections.clear();
}

AudioComponentCollection::ThreadEntry* AudioComponentCollection::callerEntry(u64 identity)
{
    const auto it = m_threads.find(identity);
    return it != m_threads.end() && it->second.m_registered ? &it->second : nullptr;
}

void AudioComponentCollection::notifyAll()
{
    for (auto& [identity, entry] : m_threads) {
        if (entry.m_callback != nullptr) {
            entry.m_callback->onChangeAudioComponents();
        }
    }
}

i32 AudioComponentCollection::copyEditingToApplied()
{
    try {
        m_appliedConnections = m_editingConnections;
    } catch (const std::bad_alloc&) {
        return DADOV_E_FAILED;
    }
    return DADOV_OK;
}

i32 AudioComponentCollection::addComponent(const char* typeName, u32 majorVersion, u32 uid, u32 numX, u32 numY)
{
    ReadyHold hold(m_lock);
    // Every component some thread still holds stays indexed until it is destroyed.
    if (!hold || m_recordsByUid.find(uid) != m_recordsByUid.end()) {
        return DADOV_E_FAILED;
    }
    auto* component = new (std::nothrow) AudioComponent();
    if (component == nullptr) {
        return DADOV_E_FAILED;
    }
    const i32 built = component->initialize(typeName, majorVersion, uid, numX, numY);
    if (built != DADOV_OK) {
        delete component;
        return built;
    }
    try {
        // Room for every component in both pending lists, so that requesting removals never allocates.
        m_pendingAdd.reserve(m_components.size() + 1);
        m_pendingRemove.reserve(m_components.size() + 1);
        m_components.push_back(Record{component, uid, 0, true, false});
        try {
            m_recordsByUid.emplace(uid, std::prev(m_components.end()));
        } catch (const std::bad_alloc&) {
            m_components.pop_back();
            throw;
        }
    } catch (const std::bad_alloc&) {
        delete component;
        return DADOV_E_FAILED;
    }
    m_pendingAdd.push_back(std::prev(m_components.end()));
    (void)copyEditingToApplied();
    const u64 self = callerIdentity();
    (void)update(self);
    KLIB_LOG("[i] AudioComponentCollection::addComponent - Thread[id:%d] requested to add AudioComponent[uid:%d].\n",
             logId(self), static_cast<int>(uid));
    notifyAll();
    return DADOV_OK;
}

i32 AudioComponentCollection::reqRemoveComponent(u32 uid)
{
    ReadyHold hold(m_lock);
    const u64 self = callerIdentity();
    if (!hold || findHeld(self, uid) == nullptr) {
        return DADOV_E_FAILED;
    }
    const RecordList::iterator record = m_recordsByUid.find(uid)->second;
    if (!record->m_inPendingRemove) {
        record->m_inPendingRemove = true;
        m_pendingRemove.push_back(record); // capacity reserved by addComponent
    }
    (void)m_editingConnections.removeByUid(uid);
    (void)copyEditingToApplied();
    (void)update(self);
    KLIB_LOG("[i] AudioComponentCollection::reqRemoveComponent - Thread[id:%d] requested to remove "
             "AudioComponent[uid:%d].\n",
             logId(self), static_cast<int>(uid));
    notifyAll();
    return DADOV_OK;
}

i32 AudioComponentCollection::reqRemoveAllComponents()
{
    ReadyHold hold(m_lock);
    if (!hold) {
        return DADOV_E_FAILED;
    }
    requestRemoveAll(callerIdentity());
    return DADOV_OK;
}

void AudioComponentCollection::requestRemoveAll(u64 identity)
{
    for (const auto record : m_pendingAdd) {
        record->m_inPendingAdd = false;
    }
    m_pendingAdd.clear();
    m_pendingRemove.clear();
    for (auto record = m_components.begin(); record != m_components.end(); ++record) {
        record->m_inPendingRemove = true;
        m_pendingRemove.push_back(record); // capacity reserved by addComponent
    }
    (void)m_editingConnections.clear();
    (void)m_appliedConnections.clear();
    (void)update(identity);
    KLIB_LOG("[i] AudioComponentCollection::reqRemoveComponent - Thread[id:%d] requested to remove all "
             "AudioComponents.\n",
             logId(identity));
    notifyAll();
}

i32 AudioComponentCollection::addConnection(u32 fromUid, u32 fromPortNo, u32 toUid, u32 toPortNo)
{
    ReadyHold hold(m_lock);
    if (!hold) {
        return DADOV_E_FAILED;
    }
    AudioComponent* from = findHeld(callerIdentity(), fromUid);
    AudioComponent* to = findHeld(callerIdentity(), toUid);
    if (from == nullptr || to == nullptr || fromPortNo >= from->getNumOutPort() || toPortNo >= to->getNumInPort() ||
        m_editingConnections.add(fromUid, fromPortNo, toUid, toPortNo) != DADOV_OK) {
        return DADOV_E_FAILED;
    }
    return copyEditingToApplied();
}

i32 AudioComponentCollection::removeConnection(u32 fromUid, u32 fromPortNo, u32 toUid, u32 toPortNo)
{
    ReadyHold hold(m_lock);
    if (!hold) {
        return DADOV_E_FAILED;
    }
    (void)m_editingConnections.remove(fromUid, fromPortNo, toUid, toPortNo);
    return copyEditingToApplied();
}

i32 AudioComponentCollection::getConnections(std::vector<AudioConnection>& out)
{
    ReadyHold hold(m_lock);
    return hold ? m_editingConnections.get(out) : DADOV_E_FAILED;
}

i32 AudioComponentCollection::applyConnections(const std::vector<AudioConnection>& list)
{
    ReadyHold hold(m_lock);
    return hold ? m_appliedConnections.set(list) : DADOV_E_FAILED;
}

i32 AudioComponentCollection::getAppliedConnections(std::vector<AudioConnection>& out)
{
    ReadyHold hold(m_lock);
    return hold ? m_appliedConnections.get(out) : DADOV_E_FAILED;
}

AudioComponent* AudioComponentCollection::findHeld(u64 identity, u32 uid)
{
    const ThreadEntry* entry = callerEntry(identity);
    if (entry == nullptr) {
        return nullptr;
    }
    const auto it = entry->m_byUid.find(uid);
    return it != entry->m_byUid.end() ? it->second : nullptr;
}

AudioComponent* AudioComponentCollection::findComponent(u32 uid)
{
    ReadyHold hold(m_lock);
    return hold ? findHeld(callerIdentity(), uid) : nullptr;
}

const AudioComponentCollection::ComponentList& AudioComponentCollection::getComponentList()
{
    ReadyHold hold(m_lock);
    const ThreadEntry* entry = hold ? callerEntry(callerIdentity()) : nullptr;
    return entry != nullptr ? entry->m_list : EMPTY_LIST;
}

u32 AudioComponentCollection::getNumComponents()
{
    ReadyHold hold(m_lock);
    return hold ? static_cast<u32>(m_components.size()) : 0;
}

i32 AudioComponentCollection::beginByThread(IAudioComponentCallback* callback)
{
    return beginByThread(callback, nullptr);
}

i32 AudioComponentCollection::beginByThread(IAudioComponentCallback* callback, void* context)
{
    ReadyHold hold(m_lock);
    if (!hold) {
        return DADOV_E_FAILED;
    }
    const u64 self = callerIdentity();
    ThreadEntry* entry = callerEntry(self);
    if (entry == nullptr) {
        if (m_registeredThreads >= m_maxThreads) {
            KLIB_LOG("[E] AudioComponentCollection::beginByThread() - Couldn't add a thread entry!\n");
            return DADOV_E_FAILED;
        }
        try {
            entry = &m_threads[self];
        } catch (const std::bad_alloc&) {
            return DADOV_E_FAILED;
        }
        entry->m_registered = true;
        ++m_registeredThreads;
    }
    clearEntry(*entry);
    try {
        entry->m_list.reserve(m_components.size());
        entry->m_uids.reserve(m_components.size());
        entry->m_byUid.reserve(m_components.size());
        if (context != nullptr) {
            entry->m_fresh.reserve(m_components.size());
        }
        for (Record& record : m_components) {
            entry->m_byUid.emplace(record.m_uid, record.m_component);
            entry->m_list.push_back(record.m_component);
            entry->m_uids.push_back(record.m_uid);
            if (context != nullptr) {
                entry->m_fresh.emplace_back(record.m_uid, record.m_component);
            }
            ++record.m_holders;
        }
    } catch (const std::bad_alloc&) {
        clearEntry(*entry);
        return DADOV_E_FAILED;
    }
    entry->m_callback = callback;
    if (!entry->m_active) {
        entry->m_active = true;
        ++m_activeThreads;
    }
    if (context != nullptr) {
        m_dspThread = self;
        m_dspContext = context;
    }
    KLIB_LOG("[i] AudioComponentCollection::beginByThread - Thread[id:%d] begins using AudioComponents.\n",
             logId(self));
    return update(self);
}

void AudioComponentCollection::clearEntry(ThreadEntry& entry)
{
    for (const u32 uid : entry.m_uids) {
        --m_recordsByUid.find(uid)->second->m_holders;
    }
    entry.m_list.clear();
    entry.m_uids.clear();
    entry.m_byUid.clear();
    entry.m_fresh.clear();
}

i32 AudioComponentCollection::updateByThread()
{
    ReadyHold hold(m_lock);
    return hold ? update(callerIdentity()) : DADOV_E_FAILED;
}

i32 AudioComponentCollection::endByThread()
{
    ReadyHold hold(m_lock);
    if (!hold) {
        return DADOV_E_FAILED;
    }
    const u64 self = callerIdentity();
    ThreadEntry* entry = callerEntry(self);
    if (entry != nullptr) {
        if (self == m_dspThread) {
            for (size_t i = 0; i < entry->m_list.size(); ++i) {
                endUse(*entry->m_list[i], entry->m_uids[i]);
            }
            m_dspThread = 0;
            m_dspContext = nullptr;
        }
        clearEntry(*entry);
        entry->m_callback = nullptr;
        if (entry->m_active) {
            entry->m_active = false;
            --m_activeThreads;
        }
    }
    return update(self);
}

void AudioComponentCollection::endUse(AudioComponent& component, u32 uid)
{
    if (component.endUseByDSPThread() != DADOV_OK) {
        KLIB_LOG("[E] AudioComponentCollection::endByThread - AudioComponent[uid:%d] couldn't end use.\n",
                 static_cast<int>(uid));
    }
}

i32 AudioComponentCollection::update(u64 identity)
{
    KLIB_LOG("[i] AudioComponentCollection::updateByThread - Thread[id:%d] is updating own AudioComponent list.\n",
             logId(identity));
    ThreadEntry* entry = callerEntry(identity);
    // A thread that has not begun, or has ended, takes nothing; its update only destroys what nobody holds.
    if (entry != nullptr && !entry->m_active) {
        entry = nullptr;
    }
    const bool processing = entry != nullptr && identity == m_dspThread;

    size_t kept = 0;
    for (const auto record : m_pendingAdd) {
        if (entry != nullptr) {
            take(*entry, *record, processing);
        }
        if (record->m_holders >= m_activeThreads) {
            record->m_inPendingAdd = false;
        } else {
            m_pendingAdd[kept++] = record;
        }
    }
    m_pendingAdd.resize(kept);

    kept = 0;
    for (const auto record : m_pendingRemove) {
        if (entry != nullptr) {
            drop(*entry, *record, processing);
        }
        if (record->m_holders == 0) {
            destroy(record);
        } else {
            m_pendingRemove[kept++] = record;
        }
    }
    m_pendingRemove.resize(kept);

    if (processing) {
        for (const auto& [uid, component] : entry->m_fresh) {
            const auto held = entry->m_byUid.find(uid);
            // A failed start releases the component; it stays held and is dropped like any other.
            if (held != entry->m_byUid.end() && held->second == component &&
                component->beginUseByDSPThread(m_dspContext) != DADOV_OK) {
                KLIB_LOG("[E] AudioComponentCollection::updateByThread - AudioComponent[uid:%d] couldn't begin "
                         "use.\n",
                         static_cast<int>(uid));
            }
        }
        entry->m_fresh.clear();
    }
    return DADOV_OK;
}

void AudioComponentCollection::take(ThreadEntry& entry, Record& record, bool processing)
{
    const u32 uid = record.m_uid;
    if (entry.m_byUid.find(uid) != entry.m_byUid.end()) {
        return;
    }
    // Out of memory the component stays pending and is taken at a later update.
    try {
        if (processing) {
            entry.m_fresh.reserve(entry.m_fresh.size() + 1);
        }
        entry.m_uids.reserve(entry.m_uids.size() + 1);
        entry.m_list.push_back(record.m_component);
        try {
            entry.m_byUid.emplace(uid, record.m_component);
        } catch (const std::bad_alloc&) {
            entry.m_list.pop_back();
            throw;
        }
    } catch (const std::bad_alloc&) {
        return;
    }
    entry.m_uids.push_back(uid);
    if (processing) {
        entry.m_fresh.emplace_back(uid, record.m_component);
    }
    ++record.m_holders;
}

void AudioComponentCollection::drop(ThreadEntry& entry, Record& record, bool processing)
{
    const auto held = entry.m_byUid.find(record.m_uid);
    if (held == entry.m_byUid.end()) {
        return;
    }
    entry.m_byUid.erase(held);
    // Removals mostly hit recent additions: search from the back, so the shift is as short as the search.
    const auto at = std::find(entry.m_uids.rbegin(), entry.m_uids.rend(), record.m_uid);
    const auto index = std::distance(entry.m_uids.begin(), std::next(at).base());
    entry.m_uids.erase(entry.m_uids.begin() + index);
    entry.m_list.erase(entry.m_list.begin() + index);
    --record.m_holders;
    if (processing) {
        endUse(*record.m_component, record.m_uid);
    }
}

void AudioComponentCollection::destroy(RecordList::iterator record)
{
    if (record->m_inPendingAdd) {
        // Destroyed before every thread took it: no later update may take it.
        m_pendingAdd.erase(std::find(m_pendingAdd.begin(), m_pendingAdd.end(), record));
    }
    m_recordsByUid.erase(record->m_uid);
    delete record->m_component;
    m_components.erase(record);
}

} // namespace DADOV
