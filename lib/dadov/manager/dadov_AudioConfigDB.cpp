#include "dadov_AudioConfigDB.h"

#include <algorithm>
#include <new>
#include <utility>

#include "klib_Print.h"

namespace DADOV {

AudioConfigDB& AudioConfigDB::getInstance()
{
    static AudioConfigDB instance;
    return instance;
}

AudioConfigDB::~AudioConfigDB()
{
    finalize();
}

i32 AudioConfigDB::initialize()
{
    if (m_lock.lock() != DADOV_OK) {
        return DADOV_E_FAILED;
    }
    if (m_lock.isReady()) {
        m_lock.unlock();
        return DADOV_E_FAILED;
    }
    m_lock.setReady(true);
    KLIB_LOG("[i] AudioConfigDB::initialize - AUDIOCONFIG_DB() initialized.\n");
    m_lock.unlock();
    return DADOV_OK;
}

i32 AudioConfigDB::finalize()
{
    if (m_lock.lockReady() != DADOV_OK) {
        return DADOV_OK;
    }
    m_lock.setReady(false);
    KLIB_LOG("[i] AudioConfigDB::finalize - AUDIOCONFIG_DB() finalized.\n");
    m_lock.unlock();
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
    if (m_lock.lockReady() != DADOV_OK) {
        return DADOV_E_FAILED;
    }
    std::swap(m_config, copy);
    m_lock.unlock();
    return DADOV_OK;
}

i32 AudioConfigDB::getAudioConfig(AudioConfig& out)
{
    if (m_lock.lockReady() != DADOV_OK) {
        return DADOV_E_FAILED;
    }
    AudioConfig copy;
    bool copied = true;
    try {
        copy = m_config;
    } catch (const std::bad_alloc&) {
        copied = false;
    }
    m_lock.unlock();
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
