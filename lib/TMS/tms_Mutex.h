// TMSMutex: a named, re-entrant mutex on an ossupport semaphore, and TMSMutexLocker, its scoped guard.
//
// The owner is recorded by the process-unique 64-bit thread identity of ossupport, so every thread (task or not)
// is told apart. One atomic state word holds the locked bit, a wake-pending bit and the number of waiting
// threads: uncontended lock and unlock touch only that word, and the semaphore (starting at 0) is waited on only
// by threads that found the mutex held and signalled only when such a thread is waiting. A woken waiter competes
// for the mutex again, so a releasing thread never has to wait for a sleeping one to run.
//
// The semaphore is created on construction; when the OS layer is not initialised yet, creation is retried on
// first use, so mutexes of objects built before the layer starts still work.
#pragma once

#include <atomic>

#include "klib_Types.h"

namespace TMS {

class TMSMutex
{
public:
    static constexpr u16 INVALID_SEMAPHORE = 0xFFFF;

    // Creates the semaphore with the name (null gives "TMSMutex"; the OS layer keeps 8 characters). A failure
    // other than "layer not initialised" leaves the mutex invalid and calls the debug-break hook.
    explicit TMSMutex(const char* name = nullptr);
    // Deletes the semaphore. A mutex destroyed while held calls the debug-break hook first.
    ~TMSMutex();

    TMSMutex(const TMSMutex&) = delete;
    TMSMutex& operator=(const TMSMutex&) = delete;

    bool isValid();
    // 0; 0x80000000 when invalid (or when the wait on the semaphore failed). The owner may lock again any number
    // of times and must unlock as often.
    u32 lock();
    // 0; 0x80000000 when invalid; 0x80000005 (after the debug-break hook, nothing released) when the caller does
    // not hold the mutex, whether another thread holds it or nobody does.
    u32 unlock();

    // Identity of the holder (0 = not held) and its additional entries beyond the first.
    u64 getOwner() const { return m_owner.load(std::memory_order_relaxed); }
    i32 getRecursionCount() const { return m_recursion.load(std::memory_order_relaxed); }
    // True when the calling thread holds the mutex.
    bool isHeldByCaller() const;
    // Threads waiting for the mutex now (each counts from the moment it decided to wait until it was woken).
    u32 getWaiterCount() const { return m_state.load(std::memory_order_relaxed) / STATE_WAITER; }
    const char* getName() const { return m_name; }
    u16 getSemaphoreId() const { return m_semaphore.load(std::memory_order_acquire); }

private:
    static constexpr u32 STATE_LOCKED = 1; // a thread holds the mutex
    static constexpr u32 STATE_WAKING = 2; // a waiter was signalled and has not run yet
    static constexpr u32 STATE_WAITER = 4; // one waiting thread

    bool ensureSemaphore();
    bool tryAcquire();

    std::atomic<u16> m_semaphore{INVALID_SEMAPHORE};
    std::atomic<bool> m_broken{false}; // creation failed for good
    std::atomic<u64> m_owner{0};
    std::atomic<i32> m_recursion{0};
    std::atomic<u32> m_state{0}; // STATE_LOCKED | STATE_WAKING | waiters * STATE_WAITER
    char m_name[32] = {};
};

// Locks the mutex for the life of the guard (nothing for a null pointer).
class TMSMutexLocker
{
public:
    explicit TMSMutexLocker(TMSMutex* mutex) : m_mutex(mutex), m_locked(mutex != nullptr && mutex->lock() == 0) {}
    ~TMSMutexLocker()
    {
        if (m_locked) {
            m_mutex->unlock();
        }
    }

    TMSMutexLocker(const TMSMutexLocker&) = delete;
    TMSMutexLocker& operator=(const TMSMutexLocker&) = delete;

    // True when the lock was taken.
    bool isLocked() const { return m_locked; }

private:
    TMSMutex* m_mutex;
    bool m_locked;
};

} // namespace TMS
