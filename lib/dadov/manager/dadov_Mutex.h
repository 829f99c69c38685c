// Mutex: the engine lock, the logic mutex with an explicit life: create takes a named semaphore ("DADOV" for no
// name), destroy gives it back. Lock, unlock and is-created behave as the logic mutex's.
#pragma once

#include <atomic>
#include <mutex>
#include <new>

#include "dadov_Result.h"
#include "klib_Types.h"
#include "logic_Mutex.h"

namespace DADOV {

class Mutex : public LogicCtrl::Mutex
{
public:
    static constexpr const char* DEFAULT_NAME = "DADOV";

    // No semaphore until create.
    Mutex() : LogicCtrl::Mutex(Deferred{}) {}

    // Forgets any earlier semaphore and creates one under the name: 0, or 0x80000000 (debug-break hook) when the
    // OS layer gives none.
    i32 create(const char* name) { return LogicCtrl::Mutex::create(name != nullptr ? name : DEFAULT_NAME); }
    // Deletes the semaphore; the mutex is then not created.
    void destroy() { LogicCtrl::Mutex::destroy(); }
};

// ReadyLock: the named lock of a process-wide engine object together with whether that object is usable (between
// its initialize and finalize). The mutex lives for the process (never freed: a thread may still be locking it
// while another finalizes) and takes its semaphore on first use; the usable state changes only under it.
class ReadyLock
{
public:
    explicit ReadyLock(const char* name) : m_name(name), m_mutex(new (std::nothrow) Mutex()) {}
    ReadyLock(const ReadyLock&) = delete;
    ReadyLock& operator=(const ReadyLock&) = delete;

    // Locks whatever the state: 0, or 0x80000000 without a semaphore.
    [[nodiscard]] i32 lock()
    {
        if (m_mutex == nullptr) {
            return DADOV_E_FAILED;
        }
        std::call_once(m_created, [this] { (void)m_mutex->create(m_name); });
        // After an OS-layer restart the mutex takes a fresh semaphore here.
        return m_mutex->isCreated() ? m_mutex->lock() : DADOV_E_FAILED;
    }
    // Locks a usable object: 0, or 0x80000000 (nothing held).
    [[nodiscard]] i32 lockReady()
    {
        if (!m_ready.load(std::memory_order_acquire) || m_mutex->lock() != DADOV_OK) {
            return DADOV_E_FAILED;
        }
        if (!m_ready.load(std::memory_order_relaxed)) {
            (void)m_mutex->unlock();
            return DADOV_E_FAILED;
        }
        return DADOV_OK;
    }
    void unlock() { (void)m_mutex->unlock(); }

    // Read and written under the lock.
    bool isReady() const { return m_ready.load(std::memory_order_relaxed); }
    void setReady(bool ready) { m_ready.store(ready, std::memory_order_release); }
    // The holder's locks beyond the first.
    i32 getRecursionCount() const { return m_mutex->getRecursionCount(); }

private:
    const char* const m_name;
    Mutex* const m_mutex; // never freed
    std::once_flag m_created;
    std::atomic<bool> m_ready{false};
};

// Holds a ReadyLock for its scope when the guarded object is usable; converts to false (nothing held) otherwise.
class ReadyHold
{
public:
    explicit ReadyHold(ReadyLock& lock) : m_lock(lock), m_held(lock.lockReady() == DADOV_OK) {}
    ~ReadyHold()
    {
        if (m_held) {
            m_lock.unlock();
        }
    }
    ReadyHold(const ReadyHold&) = delete;
    ReadyHold& operator=(const ReadyHold&) = delete;

    explicit operator bool() const { return m_held; }

private:
    ReadyLock& m_lock;
    const bool m_held;
};

} // namespace DADOV
