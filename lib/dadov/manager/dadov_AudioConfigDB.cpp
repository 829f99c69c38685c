#include "dadov_AudioConfigDB.h"

#include <algorithm>
#include <new>
#include <utility>

#include "klib_Print.h"

namespace DADOV {

namespace {
constexpr const char* LOCK_NAME = "AudioCfg";
} // namespace

AudioConfigDB& AudioConfigDB::getInstance()
{
    static AudioConfigDB instance;
    return instance;
}

AudioConfigDB::AudioConfigDB() : m_lock(new (std::nothrow) Mutex()) {}

AudioConfigDB::~AudioConfigDB()
{
    // The lock is not freed: a late thread may still be locking it.
    finalize();
}

Mutex* AudioConfigDB::usableLock()
{
    if (m_lock == nullptr) {
        return nullptr;
    }
    std::call_once(m_lockCreated, [this] { (void)m_lock->create(LOCK_NAME); });
    // After an OS-layer restart the lock takes a fresh semaphore here.
    return m_lock->isCreated() ? m_lock : nullptr;
}

i32 AudioConfigDB::lockReady()
{
    if (!m_ready.load(std::memory_order_acquire) || m_lock->lock() != DADOV_OK) {
        return DADOV_E_FAILED;
    }
    if (!m_ready.load(std::memory_order_relaxed)) {
        m_lock->unlock();
        return DADOV_E_FAILED;
    }
    return DADOV_OK;
}

i32 AudioConfigDB::initialize()
{
    Mutex* lock = usableLock();
    if (lock == nullptr || lock->lock() != DADOV_OK) {
        return DADOV_E_FAILED;
    }
    if (m_ready.load(std::memory_order_relaxed)) {
        lock->unlock();
        return DADOV_E_FAILED;
    }
    m_ready.store(true, std::memory_order_release);
    KLIB_LOG("[i] AudioConfigDB::initialize - AUDIOCONFIG_DB() initialized.\n");
    lock->unlock();
    return DADOV_OK;
}

i32 AudioConfigDB::finalize()
{
    if (lockReady() != DADOV_OK) {
        return DADOV_OK;
    }
    m_ready.store(false, std::memory_order_release);
    KLIB_LOG("[i] AudioConfigDB::finalize - AUDIOCONFIG_DB() finalized.\n");
    m_lock->unlock();
    return DADOV_OK;
}

i32 AudioConfigDB::setAudioConfig(const AudioConfig& config)
{
    // The copy is made before and the old record freed after the lock, which then only swaps.
    AudioConfig copy;
    try {
        copy = config;
    } catch (const std::bad_alloc&) {
        return DADOV_E_FAILED;
    }
    if (lockReady() != DADOV_OK) {
        return DADOV_E_FAILED;
    }
    std::swap(m_config, copy);
    m_lock->unlock();
    return DADOV_OK;
}

i32 AudioConfigDB::getAudioConfig(AudioConfig& out)
{
    if (lockReady() != DADOV_OK) {
        return DADOV_E_FAILED;
    }
    AudioConfig copy;
    bool copied = true;
    try {
        copy = m_config;
    } catch (const std::bad_alloc&) {
        copied = false;
    }
    m_lock->unlock();
    if (!copied) {
        return DADOV_E_FAILED;
    }
    out = std::move(copy);
    return DADOV_OK;
}

i32 AudioConnectionCollection::add(u32 fromUid, u32 fromPortNo, u32 toUid, u32 toPortNo)
{
    const AudioConnection record{fromUid, fromPortNo, toUid, toPortNo};
    if (std::find(m_connections.begin(), m_connections.end(), record) != m_connections.end()) {
        return DADOV_OK;
    }
    try {
        m_connections.push_back(record);
    } catch (const std::bad_alloc&) {
        return DADOV_E_FAILED;
    }
    return DADOV_OK;
}

i32 AudioConnectionCollection::remove(u32 fromUid, u32 fromPortNo, u32 toUid, u32 toPortNo)
{
    const auto it =
        std::find(m_connections.begin(), m_connections.end(), AudioConnection{fromUid, fromPortNo, toUid, toPortNo});
    if (it != m_connections.end()) {
        m_connections.erase(it);
    }
    return DADOV_OK;
}

i32 AudioConnectionCollection::removeByUid(u32 uid)
{
    std::erase_if(m_connections,
                  [uid](const AudioConnection& c) { return c.m_fromUniqID == uid || c.m_toUniqID == uid; });
    return DADOV_OK;
}

i32 AudioConnectionCollection::clear()
{
    m_connections.clear();
    return DADOV_OK;
}

i32 AudioConnectionCollection::get(std::vector<AudioConnection>& out) const
{
    try {
        out = m_connections;
    } catch (const std::bad_alloc&) {
        return DADOV_E_FAILED;
    }
    return DADOV_OK;
}

i32 AudioConnectionCollection::set(const std::vector<AudioConnection>& list)
{
    try {
        m_connections = list;
    } catch (const std::bad_alloc&) {
        return DADOV_E_FAILED;
    }
    return DADOV_OK;
}

} // namespace DADOV
