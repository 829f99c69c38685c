// Mutex: a named mutex that is re-entrant per OS thread, the lock of the logic component registry and the base of
// the engine lock.
//
// The owner is the process-unique 64-bit identity of the calling thread (ossupport), so every thread, task or not,
// is told apart. One atomic state word holds the locked bit, a wake-pending bit and the number of waiting threads:
// uncontended lock and unlock touch only that word, and the OS-layer semaphore (count 0) is waited on only by
// threads that found the mutex held and signalled only when one of them waits. Owner and recursion count are
// atomics: another thread may read them at any time.
//
// The semaphore id is kept with the OS layer's initialisation generation and never used in a later generation
// (after a shutdown/initialize the id may belong to another object): the mutex then takes a fresh semaphore when
// it is next needed. A creation that fails while the layer is running leaves the mutex without a semaphore for the
// rest of that generation; before the layer runs, creation is retried on first use.
#pragma once

#include <atomic>

#include "klib_Types.h"
#include "logic_Result.h"

namespace LogicCtrl {

class Mutex
{
public:
    static constexpr u16 NO_SEMAPHORE = 0xFFFF;
    static constexpr u32 NAME_SIZE = 32;

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

    // Identity of the holder (0: free) and the holder's locks beyond the first.
    u64 getOwner() const { return m_owner.load(std::memory_order_relaxed); }
    i32 getRecursionCount() const { return m_recursion.load(std::memory_order_relaxed); }
    bool isHeldByCaller() const;
    // Threads blocked in lock, waiting for the holder.
    u32 getWaiterCount() const { return m_state.load(std::memory_order_relaxed) / STATE_WAITER; }
    const char* getName() const { return m_name; }
    // The semaphore id (NO_SEMAPHORE when there is none).
    u16 getSemaphoreId() const;

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

private:
    static constexpr u32 STATE_LOCKED = 1; // a thread holds the mutex
    static constexpr u32 STATE_WAKING = 2; // a waiter was signalled and has not run yet
    static constexpr u32 STATE_WAITER = 4; // one waiting thread

    // The usable semaphore id or NO_SEMAPHORE.
    u16 semaphore();
    u16 renewSemaphore(u64 slot);
    bool tryAcquire();
    void becomeOwner(u64 self);

    // Semaphore id in the low 16 bits, the OS-layer generation it belongs to above.
    std::atomic<u64> m_slot{NO_SEMAPHORE};
    // Generation in which creation failed for good (0: none).
    std::atomic<u32> m_failedGeneration{0};
    // Between create and destroy.
    std::atomic<bool> m_active{false};
    std::atomic<u64> m_owner{0};
    std::atomic<i32> m_recursion{0};
    std::atomic<u32> m_state{0};
    char m_name[NAME_SIZE] = {};
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
