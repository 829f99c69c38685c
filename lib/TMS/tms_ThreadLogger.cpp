#include "tms_ThreadLogger.h"

#include <atomic>
#include <cstring>
#include <new>

#include "klib_Print.h"
#include "tms_Mutex.h"
#include "tms_Result.h"

namespace TMS {

namespace {

std::atomic<CurrentThreadLoggerHook> g_currentLoggerHook{nullptr};
} // namespace

void setCurrentThreadLoggerHook(CurrentThreadLoggerHook hook)
{
    g_currentLoggerHook.store(hook, std::memory_order_release);
}

ThreadLogger* getCurrentThreadLogger()
{
    CurrentThreadLoggerHook hook = g_currentLoggerHook.load(std::memory_order_acquire);
    return hook != nullptr ? hook() : nullptr;
}

ThreadLogger::~ThreadLogger()
{
    dropRing();
    delete[] m_ownerName;
}

bool ThreadLogger::mutexUsable()
{
    return m_mutex != nullptr && m_mutex->isValid();
}

void ThreadLogger::dropRing()
{
    m_ring.release();
}

u32 ThreadLogger::prepare(TMSMutex* mutex, const char* ownerName, u32 lines)
{
    if (isPrepared()) {
        return 1;
    }
    if (mutex == nullptr || !mutex->isValid()) {
        return RESULT_NO_MUTEX;
    }
    m_mutex = mutex;
    std::lock_guard<std::mutex> guard(m_ringLock);
    dropRing();
    if (lines == 0 || lines > MAX_LINES) {
        return RESULT_FAILED;
    }
    const char* name = ownerName != nullptr ? ownerName : "";
    size_t length = std::strlen(name);
    char* copy = new (std::nothrow) char[length + 1];
    if (copy == nullptr) {
        return RESULT_FAILED;
    }
    if (m_ring.create(0, lines) != 0) {
        delete[] copy;
        return RESULT_FAILED;
    }
    std::memcpy(copy, name, length + 1);
    m_ownerName = copy;
    return 0;
}

u32 ThreadLogger::print(const char* format, va_list args)
{
    if (!mutexUsable()) {
        return RESULT_NO_MUTEX;
    }
    if (format == nullptr) {
        return RESULT_ARGUMENT;
    }
    char line[LINE_SIZE];
    line[0] = '\0';
    klib_vsnprintf(line, sizeof(line), nullptr, format, args);
    {
        std::lock_guard<std::mutex> guard(m_ringLock);
        u32 capacity = m_ring.getCapacity();
        if (capacity == 0) {
            return RESULT_FAILED;
        }
        if (m_ring.getCount() == capacity) {
            m_ring.setReadIndex((m_ring.getReadIndex() + 1) % capacity);
            m_ring.setCount(capacity - 1);
        }
        u32 write = m_ring.getWriteIndex();
        std::memcpy(m_ring.at(write).m_text, line, sizeof(line));
        m_ring.setWriteIndex((write + 1) % capacity);
        m_ring.setCount(m_ring.getCount() + 1);
    }
    KLIB_LOG("%s", line);
    return 0;
}

u32 ThreadLogger::printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    u32 result = print(format, args);
    va_end(args);
    return result;
}

u32 ThreadLogger::getLine(u32 index, char* out, u32 size)
{
    if (out == nullptr || size == 0) {
        return RESULT_ARGUMENT;
    }
    if (!mutexUsable()) {
        return RESULT_NO_MUTEX;
    }
    std::lock_guard<std::mutex> guard(m_ringLock);
    u32 capacity = m_ring.getCapacity();
    if (capacity == 0) {
        return RESULT_FAILED;
    }
    if (index >= m_ring.getCount()) {
        out[0] = '\0';
        return RESULT_NO_LINE;
    }
    const LogItem& item = m_ring.at(static_cast<u32>((static_cast<u64>(m_ring.getReadIndex()) + index) % capacity));
    klib_strlcpy(out, size, item.m_text);
    return 0;
}

u32 ThreadLogger::clearLines()
{
    if (!mutexUsable()) {
        return RESULT_NO_MUTEX;
    }
    std::lock_guard<std::mutex> guard(m_ringLock);
    if (m_ring.getCapacity() == 0) {
        return RESULT_FAILED;
    }
    m_ring.setCount(0);
    m_ring.setWriteIndex(0);
    m_ring.setReadIndex(0);
    return 0;
}

u32 ThreadLogger::getCount()
{
    if (!mutexUsable()) {
        return 0;
    }
    std::lock_guard<std::mutex> guard(m_ringLock);
    return m_ring.getCount();
}

u32 ThreadLogger::getCapacity()
{
    if (!mutexUsable()) {
        return 0;
    }
    std::lock_guard<std::mutex> guard(m_ringLock);
    return m_ring.getCapacity();
}

void ThreadLogger::release()
{
    {
        std::lock_guard<std::mutex> guard(m_ringLock);
        dropRing();
    }
    delete[] m_ownerName;
    m_ownerName = nullptr;
}

} // namespace TMS
