#include "tms_Mutex.h"

#include "klib_Print.h"
#include "os_Tasks.h"
#include "tms_DebugBreak.h"
#include "tms_Result.h"

namespace TMS {

namespace {
constexpr int SPIN_COUNT = 16;

inline void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}
} // namespace

TMSMutex::TMSMutex(const char* name)
{
    klib_strlcpy(m_name, sizeof(m_name), name != nullptr ? name : "TMSMutex");
    ensureSemaphore();
}

TMSMutex::~TMSMutex()
{
    if (m_owner.load(std::memory_order_relaxed) != 0) {
        returnZero();
    }
    u16 id = m_semaphore.exchange(INVALID_SEMAPHORE, std::memory_order_acq_rel);
    if (id != INVALID_SEMAPHORE) {
        ossupport::deleteSemaphore(id);
    }
}

bool TMSMutex::ensureSemaphore()
{
    if (m_semaphore.load(std::memory_order_acquire) != INVALID_SEMAPHORE) {
        return true;
    }
    if (m_broken.load(std::memory_order_relaxed)) {
        return false;
    }
    ossupport::SemaphoreRecord record;
    record.m_initialCount = 0; // only waiters use it; the state word admits holders
    record.m_name = m_name;
    u16 id = 0;
    u32 result = ossupport::createSemaphore(&id, &record);
    if (result != ossupport::OS_OK) {
        // Before the OS layer is initialised the creation is retried on the next use.
        if (ossupport::isInitialized() && !m_broken.exchange(true, std::memory_order_relaxed)) {
            returnZero();
        }
        return false;
    }
    u16 expected = INVALID_SEMAPHORE;
    if (!m_semaphore.compare_exchange_strong(expected, id, std::memory_order_acq_rel)) {
        ossupport::deleteSemaphore(id); // another thread created it first
    }
    return true;
}

bool TMSMutex::isValid()
{
    return ensureSemaphore();
}

bool TMSMutex::isHeldByCaller() const
{
    return m_owner.load(std::memory_order_relaxed) == ossupport::getCurrentThreadIdentity();
}

bool TMSMutex::tryAcquire()
{
    u32 state = m_state.load(std::memory_order_relaxed);
    while ((state & STATE_LOCKED) == 0) {
        if (m_state.compare_exchange_weak(state, state | STATE_LOCKED, std::memory_order_acquire,
                                          std::memory_order_relaxed)) {
            return true;
        }
    }
    return false;
}

u32 TMSMutex::lock()
{
    if (!ensureSemaphore()) {
        return RESULT_FAILED;
    }
    u64 self = ossupport::getCurrentThreadIdentity();
    if (m_owner.load(std::memory_order_relaxed) == self) {
        m_recursion.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }
    // A short spin first: holders usually let go within a few hundred cycles.
    for (int spin = 0; spin < SPIN_COUNT; ++spin) {
        if (tryAcquire()) {
            m_owner.store(self, std::memory_order_relaxed);
            m_recursion.store(0, std::memory_order_relaxed);
            return 0;
        }
        cpuRelax();
    }
    u32 state = m_state.load(std::memory_order_relaxed);
    for (;;) {
        if ((state & STATE_LOCKED) == 0) {
            if (m_state.compare_exchange_weak(state, state | STATE_LOCKED, std::memory_order_acquire,
                                              std::memory_order_relaxed)) {
                break;
            }
            continue;
        }
        // Held: register as a waiter while it is still held, so the holder's unlock is sure to see us.
        if (!m_state.compare_exchange_weak(state, state + STATE_WAITER, std::memory_order_relaxed,
                                           std::memory_order_relaxed)) {
            continue;
        }
        u32 result = ossupport::waitSemaphore(m_semaphore.load(std::memory_order_acquire));
        if (ossupport::osFailed(result)) {
            m_state.fetch_sub(STATE_WAITER, std::memory_order_relaxed);
            return RESULT_FAILED;
        }
        // Signalled: this thread consumed the one pending wake-up. Leave the waiters and compete again.
        state =
            m_state.fetch_sub(STATE_WAITER | STATE_WAKING, std::memory_order_relaxed) - (STATE_WAITER | STATE_WAKING);
    }
    m_owner.store(self, std::memory_order_relaxed);
    m_recursion.store(0, std::memory_order_relaxed);
    return 0;
}

u32 TMSMutex::unlock()
{
    if (!ensureSemaphore()) {
        return RESULT_FAILED;
    }
    if (m_owner.load(std::memory_order_relaxed) != ossupport::getCurrentThreadIdentity()) {
        // Held by another thread or by nobody: a caller error. Releasing anything here could admit two holders.
        returnZero();
        return RESULT_NOT_OWNER;
    }
    i32 recursion = m_recursion.load(std::memory_order_relaxed);
    if (recursion > 0) {
        m_recursion.store(recursion - 1, std::memory_order_relaxed);
        return 0;
    }
    m_owner.store(0, std::memory_order_relaxed);
    u32 state = m_state.load(std::memory_order_relaxed);
    for (;;) {
        // Wake one waiter unless a woken one has not run yet (it will find the mutex free or held by a thread
        // whose own unlock wakes the next).
        bool wake = state >= STATE_WAITER && (state & STATE_WAKING) == 0;
        u32 next = (state & ~STATE_LOCKED) | (wake ? STATE_WAKING : 0);
        if (m_state.compare_exchange_weak(state, next, std::memory_order_release, std::memory_order_relaxed)) {
            if (wake) {
                u32 result = ossupport::signalSemaphore(m_semaphore.load(std::memory_order_acquire));
                if (ossupport::osFailed(result)) {
                    returnZero();
                    return RESULT_FAILED;
                }
            }
            return 0;
        }
    }
}

} // namespace TMS
