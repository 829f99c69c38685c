// TMSMutex: a named, re-entrant mutex on an ossupport semaphore, and TMSMutexLocker, its scoped guard.
//
// The lock word and the semaphore are those of MutexCore (tms_MutexCore.h): uncontended lock and unlock touch one
// atomic word, every thread (task or not) is told apart, and the semaphore id is never used after an OS-layer
// shutdown/initialize (the mutex takes a fresh one when it is next needed). The semaphore is created on
// construction; when the OS layer is not initialised yet, creation is retried on first use, so mutexes of objects
// built before the layer starts still work.
#pragma once

#include "klib_Types.h"
#include "tms_MutexCore.h"

namespace TMS {

class TMSMutex : public MutexState
{
public:
    static constexpr u16 INVALID_SEMAPHORE = MutexCore::NO_SEMAPHORE;

    // Creates the semaphore with the name (null gives "TMSMutex"; the OS layer keeps 8 characters). A failure
    // while the layer runs leaves the mutex invalid for that layer generation and calls the debug-break hook.
    explicit TMSMutex(const char* name = nullptr);
    // Deletes the semaphore. A mutex destroyed while held calls the debug-break hook first.
    ~TMSMutex();

    TMSMutex(const TMSMutex&) = delete;
    TMSMutex& operator=(const TMSMutex&) = delete;

    // True when the mutex has a semaphore of the current OS-layer generation (taking one if it may).
    bool isValid();
    // 0; 0x80000000 when invalid (or when the wait on the semaphore failed). The owner may lock again any number
    // of times and must unlock as often.
    u32 lock();
    // 0; 0x80000000 when invalid; 0x80000005 (after the debug-break hook, nothing released) when the caller does
    // not hold the mutex, whether another thread holds it or nobody does.
    u32 unlock();
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
