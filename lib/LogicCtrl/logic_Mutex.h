// Mutex: a named mutex that is re-entrant per OS thread, the lock of the logic component registry and the base of
// the engine lock.
//
// The lock word and the semaphore are those of TMS::MutexCore (tms_MutexCore.h): uncontended lock and unlock touch
// one atomic word, every thread (task or not) is told apart, and the semaphore id is never used after an OS-layer
// shutdown/initialize (the mutex takes a fresh one when it is next needed). A creation that fails while the layer
// is running leaves the mutex without a semaphore for the rest of that generation; before the layer runs, creation
// is retried on first use.
#pragma once

#include "klib_Types.h"
#include "logic_Result.h"
#include "tms_MutexCore.h"

namespace LogicCtrl {

class Mutex : public TMS::MutexState
{
public:
    static constexpr u16 NO_SEMAPHORE = TMS::MutexCore::NO_SEMAPHORE;
    static constexpr u32 NAME_SIZE = TMS::MutexCore::NAME_SIZE;

    // Creates the semaphore under the name (null: "Logic"). A failure calls the debug-break hook.
    explicit Mutex(const char* name = "Logic");
    // Deletes the semaphore; a mutex destroyed while re-entered (count above 0) calls the debug-break hook first.
    ~Mutex();

    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // 0, or 0x80000000 without a semaphore or when the wait fails (the caller then does not hold the mutex). The
    // owner may lock again any number of times and must unlock as often.
    [[nodiscard]] i32 lock();
    // 0; 0x80000000 without a semaphore, or (after the debug-break hook) when the caller does not hold the
    // mutex: the holder keeps it and its count.
    i32 unlock();
    // True when the mutex holds a semaphore of the current OS-layer generation (taking one if it may).
    bool isCreated();

protected:
    struct Deferred
    {
    };
    // No semaphore until create.
    explicit Mutex(Deferred) {}
    // Forgets any semaphore (deleting one of the current generation) and creates one under the name: 0, or
    // 0x80000000 (debug-break hook called) when the OS layer gives none.
    i32 create(const char* name);
    // Deletes the semaphore of the current generation, if any.
    void destroy();
};

// Locks for the life of the guard; nothing when the lock fails.
class MutexLocker
{
public:
    explicit MutexLocker(Mutex& mutex) : m_mutex(mutex), m_result(mutex.lock()) {}
    ~MutexLocker()
    {
        if (m_result == LOGIC_OK) {
            m_mutex.unlock();
        }
    }
    MutexLocker(const MutexLocker&) = delete;
    MutexLocker& operator=(const MutexLocker&) = delete;

    bool isLocked() const { return m_result == LOGIC_OK; }
    i32 getResult() const { return m_result; }

private:
    Mutex& m_mutex;
    i32 m_result;
};

} // namespace LogicCtrl
