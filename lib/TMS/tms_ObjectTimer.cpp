#include "tms_ObjectTimer.h"

#include <atomic>
#include <new>

#include "klib_Print.h"
#include "os_Clock.h"
#include "tms_Mutex.h"
#include "tms_Result.h"
#include "tms_ThreadTestHooks.h"

namespace TMS {

namespace {

std::atomic<testhooks::TimerClock> g_timerClock{nullptr};
} // namespace

void testhooks::setTimerClock(TimerClock clock)
{
    g_timerClock.store(clock, std::memory_order_release);
}

u32 objectTimerClock()
{
    testhooks::TimerClock clock = g_timerClock.load(std::memory_order_acquire);
    if (clock != nullptr) {
        return clock();
    }
    u32 now = 0;
    ossupport::getMilliseconds(&now);
    return now;
}

u32 ObjectTimer::start()
{
    if (m_state == STATE_UNSET) {
        return RESULT_FAILED;
    }
    m_state = STATE_RUNNING;
    m_startTime = objectTimerClock();
    m_count = 0;
    return 0;
}

u32 ObjectTimer::stop()
{
    if (m_state == STATE_UNSET) {
        return RESULT_FAILED;
    }
    m_state = STATE_STOPPED;
    m_startTime = 0;
    m_count = 0;
    return 0;
}

u32 ObjectTimer::getElapsedTime() const
{
    return objectTimerClock() - m_startTime;
}

u32 ObjectTimer::dump() const
{
    klib_printf("[%d, %d] m_PrevTime = %08X\n", static_cast<int>(m_id), static_cast<int>(m_count), m_startTime);
    return 0;
}

u32 ObjectTimer::setup(u32 id, u32 intervalMs, bool oneShot, IObjectTimerObserver* observer)
{
    if (intervalMs == 0) {
        return RESULT_ARGUMENT;
    }
    m_id = id;
    m_interval = intervalMs;
    m_oneShot = oneShot;
    m_observer = observer;
    m_count = 0;
    m_state = STATE_STOPPED;
    return 0;
}

void ObjectTimer::reset(u32 id)
{
    m_id = id;
    m_observer = nullptr;
    m_count = 0;
    m_interval = 0xFFFFFFFF;
    m_oneShot = false;
    m_state = STATE_STOPPED;
}

void ObjectTimer::clear()
{
    m_id = NO_ID;
    m_interval = 0;
    m_oneShot = false;
    m_observer = nullptr;
    m_state = STATE_UNSET;
    m_startTime = 0;
    m_count = 0;
}

u32 ObjectTimer::service()
{
    if (m_observer == nullptr) {
        return 0;
    }
    if (m_state == STATE_UNSET) {
        return RESULT_FAILED;
    }
    if (m_state != STATE_RUNNING) {
        return 0;
    }
    const u32 elapsed = objectTimerClock() - m_startTime;
    if (elapsed < m_interval) {
        return 0;
    }
    // The timer's own state is brought up to date before the observer runs, so that the observer may stop,
    // restart or remove it.
    const u32 firstCount = m_count + 1;
    const u32 id = m_id;
    IObjectTimerObserver* observer = m_observer;
    if (m_oneShot) {
        m_startTime += m_interval;
        m_state = STATE_STOPPED;
        m_count = 0;
    } else {
        const u32 expired = elapsed / m_interval;
        m_count += expired;
        m_startTime += expired * m_interval;
    }
    observer->onTimer(id, firstCount);
    return 0;
}

NullObjectTimer& NullObjectTimer::instance()
{
    static NullObjectTimer* timer = new NullObjectTimer();
    return *timer;
}

bool ObjectTimerList::mutexUsable() const
{
    return m_mutex != nullptr && m_mutex->isValid();
}

void ObjectTimerList::bind(TMSMutex* mutex)
{
    m_mutex = mutex;
    if (mutexUsable()) {
        TMSMutexLocker locker(m_mutex);
        m_nodes.clear();
    } else {
        m_nodes.clear();
    }
    m_walkDepth = 0;
    m_pendingSweep = false;
}

u32 ObjectTimerList::setTimer(u32 id, u32 intervalMs, bool oneShot, IObjectTimerObserver* observer)
{
    if (!mutexUsable()) {
        return RESULT_NO_MUTEX;
    }
    TMSMutexLocker locker(m_mutex);
    if (!locker.isLocked()) {
        return RESULT_NO_MUTEX;
    }
    if (id != ObjectTimer::NO_ID) {
        for (Node& node : m_nodes) {
            if (!node.m_removed && node.m_timer.getId() == id) {
                return node.m_timer.setup(id, intervalMs, oneShot, observer);
            }
        }
    }
    if (intervalMs == 0) {
        // setup would refuse it: an entry without id nobody could reach or remove.
        return RESULT_ARGUMENT;
    }
    try {
        Node& node = m_nodes.emplace_back();
        return node.m_timer.setup(id, intervalMs, oneShot, observer);
    } catch (const std::bad_alloc&) {
        return RESULT_NO_MEMORY;
    }
}

u32 ObjectTimerList::removeTimer(u32 id, bool clearOnly)
{
    if (!mutexUsable()) {
        return RESULT_NO_MUTEX;
    }
    TMSMutexLocker locker(m_mutex);
    if (!locker.isLocked()) {
        return RESULT_NO_MUTEX;
    }
    if (id == ObjectTimer::NO_ID) {
        return RESULT_NO_TIMER;
    }
    for (auto it = m_nodes.begin(); it != m_nodes.end(); ++it) {
        if (it->m_removed || it->m_timer.getId() != id) {
            continue;
        }
        it->m_timer.clear();
        if (!clearOnly) {
            if (m_walkDepth > 0) {
                it->m_removed = true;
                m_pendingSweep = true;
            } else {
                m_nodes.erase(it);
            }
        }
        return 0;
    }
    return RESULT_NO_TIMER;
}

IObjectTimer& ObjectTimerList::getTimer(u32 id)
{
    if (id == ObjectTimer::NO_ID || !mutexUsable()) {
        return NullObjectTimer::instance();
    }
    TMSMutexLocker locker(m_mutex);
    if (!locker.isLocked()) {
        return NullObjectTimer::instance();
    }
    for (Node& node : m_nodes) {
        if (!node.m_removed && node.m_timer.getId() == id) {
            return node.m_timer;
        }
    }
    return NullObjectTimer::instance();
}

void ObjectTimerList::sweep()
{
    m_nodes.remove_if([](const Node& node) { return node.m_removed; });
    m_pendingSweep = false;
}

u32 ObjectTimerList::tick()
{
    if (!mutexUsable()) {
        return RESULT_NO_MUTEX;
    }
    TMSMutexLocker locker(m_mutex);
    if (!locker.isLocked()) {
        return RESULT_NO_MUTEX;
    }
    ++m_walkDepth;
    for (Node& node : m_nodes) {
        if (!node.m_removed) {
            node.m_timer.service();
        }
    }
    --m_walkDepth;
    if (m_walkDepth == 0 && m_pendingSweep) {
        sweep();
    }
    return 0;
}

u32 ObjectTimerList::clear()
{
    if (!mutexUsable()) {
        return RESULT_NO_MUTEX;
    }
    TMSMutexLocker locker(m_mutex);
    if (!locker.isLocked()) {
        return RESULT_NO_MUTEX;
    }
    if (m_walkDepth > 0) {
        for (Node& node : m_nodes) {
            node.m_timer.clear();
            node.m_removed = true;
        }
        m_pendingSweep = true;
    } else {
        m_nodes.clear();
    }
    return 0;
}

u32 ObjectTimerList::getLength()
{
    if (!mutexUsable()) {
        return 0;
    }
    TMSMutexLocker locker(m_mutex);
    u32 length = 0;
    for (const Node& node : m_nodes) {
        length += node.m_removed ? 0 : 1;
    }
    return length;
}

} // namespace TMS
