// MutexCore: the lock word and semaphore of the re-entrant mutexes of the system (TMSMutex, the logic mutex).
//
// The owner is recorded by the process-unique 64-bit thread identity of ossupport, so every thread (task or not)
// is told apart. One atomic state word holds the locked bit, a wake-pending bit and the number of waiting threads:
// uncontended lock and unlock touch only that word, and the OS-layer semaphore (count 0) is waited on only by
// threads that found the mutex held and signalled only when such a thread waits. A woken waiter competes for the
// mutex again, so a releasing thread never has to wait for a sleeping one to run. Owner and recursion count are
// atomics: another thread may read them at any time.
//
// The semaphore id is kept with the OS layer's initialisation generation and never used in a later generation
// (after a shutdown/initialize the id may belong to another object): the core then takes a fresh semaphore when it
// is next needed. A creation that fails while the layer runs calls the debug-break hook once and leaves the core
// without a semaphore for the rest of that generation; before the layer runs, creation waits for the first use.
//
// The outcomes are neutral; each mutex class turns them into its own result codes.
#pragma once

#include <atomic>

#include "klib_Types.h"

namespace TMS {

class MutexCore
{
public:
    static constexpr u16 NO_SEMAPHORE = 0xFFFF;
    static constexpr u32 NAME_SIZE = 32;

    enum class Outcome {
        OK,
        NO_SEMAPHORE,  // none could be had (layer down, or creation failed in this generation)
        WAIT_FAILED,   // the wait on the semaphore failed (it went away): the caller does not hold the mutex
        NOT_OWNER,     // unlock by a thread that does not hold the mutex (debug-break hook called, nothing released)
        SIGNAL_FAILED, // the mutex was released but the waiter could not be woken (debug-break hook called)
    };

    MutexCore() = default;
    // Deletes a semaphore of the current generation.
    ~MutexCore();
    MutexCore(const MutexCore&) = delete;
    MutexCore& operator=(const MutexCore&) = delete;

    // Forgets any semaphore (deleting one of the current generation), takes the name (null: empty; cut to 31
    // bytes), allows semaphores from now on and takes one when the layer runs. True when the core has one.
    bool activate(const char* name);
    // Deletes the semaphore of the current generation, if any, and takes no new one until activate.
    void deactivate();

    // The semaphore of the current generation, taking a fresh one when allowed: NO_SEMAPHORE when there is none.
    u16 semaphore();
    // The id held for the current generation (NO_SEMAPHORE when none), without taking one.
    u16 getSemaphoreId() const;

    // The owner re-enters at once (without a semaphore). *waitResult (optional) receives the OS code of a failed
    // wait.
    Outcome lock(u32* waitResult = nullptr);
    Outcome unlock();

    // Identity of the holder (0: free) and the holder's locks beyond the first.
    u64 getOwner() const { return m_owner.load(std::memory_order_relaxed); }
    i32 getRecursionCount() const { return m_recursion.load(std::memory_order_relaxed); }
    bool isHeldByCaller() const;
    // Threads blocked in lock, waiting for the holder.
    u32 getWaiterCount() const { return m_state.load(std::memory_order_relaxed) / STATE_WAITER; }
    const char* getName() const { return m_name; }

private:
    static constexpr u32 STATE_LOCKED = 1; // a thread holds the mutex
    static constexpr u32 STATE_WAKING = 2; // a waiter was signalled and has not run yet
    static constexpr u32 STATE_WAITER = 4; // one waiting thread

    u16 renewSemaphore(u64 slot);
    bool tryAcquire();
    void becomeOwner(u64 self);

    // Semaphore id in the low 16 bits, the OS-layer generation it belongs to above.
    std::atomic<u64> m_slot{NO_SEMAPHORE};
    // Generation in which creation failed (0: none).
    std::atomic<u32> m_failedGeneration{0};
    // Between activate and deactivate.
    std::atomic<bool> m_active{false};
    std::atomic<u64> m_owner{0};
    std::atomic<i32> m_recursion{0};
    std::atomic<u32> m_state{0};
    char m_name[NAME_SIZE] = {};
};

// The state readers of a mutex class built on a core (TMSMutex, LogicCtrl::Mutex): each class turns the core's
// outcomes into its own result codes and shares these.
class MutexState
{
public:
    // Identity of the holder (0: free) and the holder's locks beyond the first.
    u64 getOwner() const { return m_core.getOwner(); }
    i32 getRecursionCount() const { return m_core.getRecursionCount(); }
    // True when the calling thread holds the mutex.
    bool isHeldByCaller() const { return m_core.isHeldByCaller(); }
    // Threads waiting for the mutex now (each counts from the moment it decided to wait until it was woken).
    u32 getWaiterCount() const { return m_core.getWaiterCount(); }
    const char* getName() const { return m_core.getName(); }
    // The semaphore id of the current generation (MutexCore::NO_SEMAPHORE when there is none).
    u16 getSemaphoreId() const { return m_core.getSemaphoreId(); }

protected:
    MutexState() = default;
    ~MutexState() = default;

    MutexCore m_core;
};

} // namespace TMS
