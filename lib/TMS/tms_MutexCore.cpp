#include "tms_MutexCore.h"

#include "klib_Print.h"
#include "os_Tasks.h"
#include "tms_DebugBreak.h"

namespace TMS {

namespace {

constexpr int SPIN_COUNT = 16;

constexpr u64 makeSlot(u16 id, u32 generation)
{
    return (u64{generation} << 16) | id;
}
constexpr u16 idOf(u64 slot)
{
    return static_cast<u16>(slot & 0xFFFFu);
}
constexpr u32 generationOf(u64 slot)
{
    return static_cast<u32>(slot >> 16);
}

inline void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

} // namespace

MutexCore::~MutexCore()
{
    deactivate();
}

bool MutexCore::activate(const char* name)
{
    deactivate();
    klib_strlcpy(m_name, sizeof(m_name), name != nullptr ? name : "");
    m_failedGeneration.store(0, std::memory_order_relaxed);
    m_active.store(true, std::memory_order_release);
    return ossupport::isInitialized() && semaphore() != NO_SEMAPHORE;
}

void MutexCore::deactivate()
{
    m_active.store(false, std::memory_order_release);
    const u64 slot = m_slot.exchange(NO_SEMAPHORE, std::memory_order_acq_rel);
    if (idOf(slot) != NO_SEMAPHORE && generationOf(slot) == ossupport::getInitGeneration()) {
        ossupport::deleteSemaphore(idOf(slot));
    }
}

u16 MutexCore::getSemaphoreId() const
{
    const u64 slot = m_slot.load(std::memory_order_acquire);
    return generationOf(slot) == ossupport::getInitGeneration() ? idOf(slot) : NO_SEMAPHORE;
}

u16 MutexCore::semaphore()
{
    const u64 slot = m_slot.load(std::memory_order_acquire);
    if (idOf(slot) != NO_SEMAPHORE && generationOf(slot) == ossupport::getInitGeneration()) {
        return idOf(slot);
    }
    return renewSemaphore(slot);
}

u16 MutexCore::renewSemaphore(u64 slot)
{
    if (!m_active.load(std::memory_order_acquire) || !ossupport::isInitialized()) {
        return NO_SEMAPHORE;
    }
    const u32 generation = ossupport::getInitGeneration();
    if (m_failedGeneration.load(std::memory_order_relaxed) == generation) {
        return NO_SEMAPHORE;
    }
    // The old id (of an earlier generation) is neither used nor deleted: it may belong to another object now.
    ossupport::SemaphoreRecord record;
    record.m_initialCount = 0; // only waiters use it; the state word admits holders
    record.m_name = m_name;
    u16 id = 0;
    const u32 created = ossupport::createSemaphore(&id, &record);
    if (ossupport::osFailed(created)) {
        if (ossupport::isInitialized() &&
            m_failedGeneration.exchange(generation, std::memory_order_relaxed) != generation) {
            returnZero();
        }
        return NO_SEMAPHORE;
    }
    if (ossupport::getInitGeneration() != generation) {
        return NO_SEMAPHORE; // the layer restarted meanwhile: the id is not known to be ours
    }
    if (m_slot.compare_exchange_strong(slot, makeSlot(id, generation), std::memory_order_acq_rel)) {
        return id;
    }
    ossupport::deleteSemaphore(id); // another thread renewed it first
    return idOf(slot) != NO_SEMAPHORE && generationOf(slot) == generation ? idOf(slot) : NO_SEMAPHORE;
}

bool MutexCore::isHeldByCaller() const
{
    return m_owner.load(std::memory_order_relaxed) == ossupport::getCurrentThreadIdentity();
}

bool MutexCore::tryAcquire()
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

void MutexCore::becomeOwner(u64 self)
{
    m_owner.store(self, std::memory_order_relaxed);
    m_recursion.store(0, std::memory_order_relaxed);
}

MutexCore::Outcome MutexCore::lock(u32* waitResult)
{
    const u64 self = ossupport::getCurrentThreadIdentity();
    if (m_owner.load(std::memory_order_relaxed) == self) {
        m_recursion.fetch_add(1, std::memory_order_relaxed); // the holder needs no semaphore to re-enter
        return Outcome::OK;
    }
    if (semaphore() == NO_SEMAPHORE) {
        return Outcome::NO_SEMAPHORE;
    }
    // A short spin first: holders usually let go within a few hundred cycles.
    for (int spin = 0; spin < SPIN_COUNT; ++spin) {
        if (tryAcquire()) {
            becomeOwner(self);
            return Outcome::OK;
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
        const u16 id = semaphore();
        const u32 waited = id != NO_SEMAPHORE ? ossupport::waitSemaphore(id) : ossupport::OS_E_STATE;
        if (ossupport::osFailed(waited)) {
            // The semaphore went away (OS-layer shutdown): a wake-up sent to it will never be taken, so the last
            // waiter to leave clears the pending mark.
            state = m_state.fetch_sub(STATE_WAITER, std::memory_order_relaxed) - STATE_WAITER;
            if (state < STATE_WAITER && (state & STATE_WAKING) != 0) {
                m_state.fetch_and(~STATE_WAKING, std::memory_order_relaxed);
            }
            if (waitResult != nullptr) {
                *waitResult = waited;
            }
            return Outcome::WAIT_FAILED;
        }
        // Signalled: this thread took the one pending wake-up. Leave the waiters and compete again.
        state =
            m_state.fetch_sub(STATE_WAITER | STATE_WAKING, std::memory_order_relaxed) - (STATE_WAITER | STATE_WAKING);
    }
    becomeOwner(self);
    return Outcome::OK;
}

MutexCore::Outcome MutexCore::unlock()
{
    if (m_owner.load(std::memory_order_relaxed) != ossupport::getCurrentThreadIdentity()) {
        if (semaphore() == NO_SEMAPHORE) {
            return Outcome::NO_SEMAPHORE;
        }
        // Held by another thread or by nobody: releasing anything here could admit two holders.
        returnZero();
        return Outcome::NOT_OWNER;
    }
    const i32 recursion = m_recursion.load(std::memory_order_relaxed);
    if (recursion > 0) {
        m_recursion.store(recursion - 1, std::memory_order_relaxed);
        return Outcome::OK;
    }
    m_owner.store(0, std::memory_order_relaxed);
    u32 state = m_state.load(std::memory_order_relaxed);
    bool wake = false;
    for (;;) {
        // Wake one waiter unless a woken one has not run yet (it finds the mutex free, or held by a thread whose
        // own unlock wakes the next).
        wake = state >= STATE_WAITER && (state & STATE_WAKING) == 0;
        const u32 next = (state & ~STATE_LOCKED) | (wake ? STATE_WAKING : 0);
        if (m_state.compare_exchange_weak(state, next, std::memory_order_release, std::memory_order_relaxed)) {
            break;
        }
    }
    if (wake) {
        const u16 id = semaphore();
        if (id == NO_SEMAPHORE || ossupport::osFailed(ossupport::signalSemaphore(id))) {
            m_state.fetch_and(~STATE_WAKING, std::memory_order_relaxed);
            returnZero();
            return Outcome::SIGNAL_FAILED;
        }
    }
    return Outcome::OK;
}

} // namespace TMS
