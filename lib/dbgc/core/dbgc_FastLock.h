// FastLock: the lock of the debug print ("DBGC") and of the console transport's output ring.
#pragma once

#include <atomic>
#include <linux/futex.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "klib_Types.h"

namespace DBGC {

// A count-1, non-recursive lock on a futex word of its own for short critical sections: 0 free, 1 taken, 2 taken
// with sleepers. A taker spins briefly, then yields a few times (the holder may be waiting for a processor), and
// only then sleeps; a release makes a system call only when someone sleeps.
class FastLock
{
public:
    void lock()
    {
        u32 state = FREE;
        if (m_word.compare_exchange_strong(state, TAKEN, std::memory_order_acquire, std::memory_order_relaxed)) {
            return;
        }
        for (int spin = 0; spin < SPIN_LIMIT + YIELD_LIMIT; ++spin) {
            if (spin < SPIN_LIMIT) {
                cpuRelax();
            } else {
                ::sched_yield();
            }
            state = m_word.load(std::memory_order_relaxed);
            if (state == FREE &&
                m_word.compare_exchange_weak(state, TAKEN, std::memory_order_acquire, std::memory_order_relaxed)) {
                return;
            }
        }
        // Announce a sleeper; whoever takes the word from here on leaves it at 2, so no release misses a wake.
        while (m_word.exchange(SLEEPERS, std::memory_order_acquire) != FREE) {
            ::syscall(SYS_futex, reinterpret_cast<u32*>(&m_word), FUTEX_WAIT_PRIVATE, SLEEPERS, nullptr, nullptr, 0);
        }
    }

    void unlock()
    {
        if (m_word.exchange(FREE, std::memory_order_release) == SLEEPERS) {
            ::syscall(SYS_futex, reinterpret_cast<u32*>(&m_word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
        }
    }

private:
    static void cpuRelax()
    {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#elif defined(__aarch64__)
        asm volatile("yield");
#endif
    }

    static constexpr u32 FREE = 0;
    static constexpr u32 TAKEN = 1;
    static constexpr u32 SLEEPERS = 2;
    static constexpr int SPIN_LIMIT = 40;
    static constexpr int YIELD_LIMIT = 4;

    std::atomic<u32> m_word{FREE};
};
static_assert(sizeof(std::atomic<u32>) == sizeof(u32));

// Holds a FastLock for its scope.
class FastLockGuard
{
public:
    explicit FastLockGuard(FastLock& lock) : m_lock(lock) { m_lock.lock(); }
    ~FastLockGuard() { m_lock.unlock(); }
    FastLockGuard(const FastLockGuard&) = delete;
    FastLockGuard& operator=(const FastLockGuard&) = delete;

private:
    FastLock& m_lock;
};

} // namespace DBGC
