#include "tms_MessageStream.h"

#include <new>

#include "klib_HeapManager.h"
#include "tms_Mutex.h"
#include "tms_Result.h"

namespace TMS {

ThreadMessageStream::~ThreadMessageStream()
{
    dropStorage();
}

bool ThreadMessageStream::mutexUsable() const
{
    return m_mutex != nullptr && m_mutex->isValid();
}

void ThreadMessageStream::dropStorage()
{
    if (m_elements != nullptr) {
        for (u32 i = 0; i < m_capacity; ++i) {
            m_elements[i].~AbstractMessage();
        }
        KLIB::releaseBlock(m_elements);
    }
    m_elements = nullptr;
    m_capacity = m_count = m_writeIndex = m_readIndex = 0;
    m_state = STATE_NO_STORAGE;
}

u32 ThreadMessageStream::create(TMSMutex* mutex, u8 heapId, u32 capacity)
{
    m_mutex = mutex;
    if (!mutexUsable()) {
        return RESULT_NO_MUTEX;
    }
    TMSMutexLocker locker(m_mutex);
    if (!locker.isLocked()) {
        return RESULT_NO_MUTEX;
    }
    dropStorage();
    m_heapId = heapId;
    if (capacity == 0 || capacity > MAX_CAPACITY) {
        return RESULT_FAILED;
    }
    const u64 bytes = static_cast<u64>(capacity) * sizeof(AbstractMessage);
    if (bytes > 0xFFFFFFFFull - KLIB::BLOCK_HEADER_SIZE) {
        return RESULT_FAILED;
    }
    void* block = KLIB::allocateBlockWithCount(heapId, TAG, static_cast<u32>(bytes), capacity);
    if (block == nullptr) {
        return RESULT_FAILED;
    }
    m_elements = static_cast<AbstractMessage*>(block);
    for (u32 i = 0; i < capacity; ++i) {
        new (m_elements + i) AbstractMessage();
    }
    m_capacity = capacity;
    m_count = m_writeIndex = m_readIndex = 0;
    m_state = STATE_READY;
    return 0;
}

u32 ThreadMessageStream::write(const AbstractMessage& message)
{
    if (!mutexUsable()) {
        return RESULT_NO_MUTEX;
    }
    TMSMutexLocker locker(m_mutex);
    if (!locker.isLocked()) {
        return RESULT_NO_MUTEX;
    }
    if (m_count >= m_capacity) {
        return RESULT_FULL;
    }
    AbstractMessage& slot = m_elements[m_writeIndex];
    slot = message;
    if (slot.getFields().size() != message.getFields().size()) {
        // The copy of the fields ran out of memory; the message is not queued.
        return RESULT_NO_MEMORY;
    }
    m_writeIndex = m_writeIndex + 1 == m_capacity ? 0 : m_writeIndex + 1;
    ++m_count;
    return 0;
}

u32 ThreadMessageStream::read(AbstractMessage& out)
{
    if (!mutexUsable()) {
        return RESULT_NO_MUTEX;
    }
    TMSMutexLocker locker(m_mutex);
    if (!locker.isLocked()) {
        return RESULT_NO_MUTEX;
    }
    if (m_count == 0) {
        return RESULT_EMPTY;
    }
    out = std::move(m_elements[m_readIndex]);
    m_readIndex = m_readIndex + 1 == m_capacity ? 0 : m_readIndex + 1;
    --m_count;
    return m_count > 0 ? RESULT_MORE : 0;
}

u32 ThreadMessageStream::clear()
{
    if (!mutexUsable()) {
        return RESULT_NO_MUTEX;
    }
    TMSMutexLocker locker(m_mutex);
    if (!locker.isLocked()) {
        return RESULT_NO_MUTEX;
    }
    m_count = m_writeIndex = m_readIndex = 0;
    return 0;
}

void ThreadMessageStream::release()
{
    if (mutexUsable()) {
        TMSMutexLocker locker(m_mutex);
        dropStorage();
    } else {
        dropStorage();
    }
}

u32 ThreadMessageStream::getCount()
{
    if (!mutexUsable()) {
        return 0;
    }
    TMSMutexLocker locker(m_mutex);
    return m_count;
}

u32 ThreadMessageStream::getCapacity()
{
    if (!mutexUsable()) {
        return 0;
    }
    TMSMutexLocker locker(m_mutex);
    return m_capacity;
}

u32 ThreadMessageStream::getState()
{
    if (!mutexUsable()) {
        return m_state;
    }
    TMSMutexLocker locker(m_mutex);
    return m_state;
}

} // namespace TMS
