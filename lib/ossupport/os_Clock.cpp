// Millisecond clock, sleep, timer and flag records, UTC calendar time.

#include "os_Clock.h"

#include <sched.h>

#include <atomic>
#include <cerrno>
#include <ctime>

#include "os_TestHooks.h"

namespace ossupport {
namespace {

constinit std::atomic<u32> g_millisecondsOffset{0};
constinit std::atomic<bool> g_utcFixed{false};
constinit std::atomic<i64> g_utcFixedSeconds{0};

} // namespace

u32 getMilliseconds(u32* ms)
{
    if (ms == nullptr) {
        return OS_E_RANGE;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // 64-bit milliseconds taken modulo 2^32: the clock wraps every 49.7 days without undefined conversions.
    const u64 total = static_cast<u64>(now.tv_sec) * 1000u + static_cast<u64>(now.tv_nsec) / 1000000u;
    *ms = static_cast<u32>(total) + g_millisecondsOffset.load(std::memory_order_relaxed);
    return OS_OK;
}

u32 sleepMilliseconds(u32 ms)
{
    if (ms == 0) {
        sched_yield();
        return OS_OK;
    }
    timespec remaining{};
    remaining.tv_sec = static_cast<time_t>(ms / 1000);
    remaining.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
    return OS_OK;
}

u32 startTimer(Timer* timer, u32 ms)
{
    if (timer == nullptr) {
        return OS_E_RANGE;
    }
    if (timer->m_state == OS_TIMER_BARRED) {
        return OS_E_STATE;
    }
    u32 now = 0;
    getMilliseconds(&now);
    timer->m_start = now;
    timer->m_interval = ms;
    timer->m_state = OS_TIMER_RUNNING;
    return OS_OK;
}

u32 checkTimer(Timer* timer)
{
    if (timer == nullptr) {
        return OS_E_RANGE;
    }
    if (timer->m_state == OS_TIMER_EXPIRED_STATE) {
        return OS_TIMER_EXPIRED;
    }
    if (timer->m_state != OS_TIMER_RUNNING) {
        return OS_E_STATE;
    }
    u32 now = 0;
    getMilliseconds(&now);
    const u32 passed = now - timer->m_start;
    if (now < timer->m_start) {
        // The clock wrapped since the start: carry the time already passed into the interval.
        if (passed >= timer->m_interval) {
            timer->m_state = OS_TIMER_EXPIRED_STATE;
            return OS_TIMER_EXPIRED;
        }
        timer->m_interval -= passed;
        timer->m_start = now;
        return OS_OK;
    }
    if (passed >= timer->m_interval) {
        timer->m_state = OS_TIMER_EXPIRED_STATE;
        return OS_TIMER_EXPIRED;
    }
    return OS_OK;
}

u32 clearFlag(u8* flag)
{
    if (flag == nullptr) {
        return OS_E_RANGE;
    }
    *flag = 0;
    return OS_OK;
}

u32 testFlag(const u8* flag)
{
    if (flag == nullptr) {
        return OS_E_RANGE;
    }
    return *flag != 0 ? OS_OK : OS_E_STATE;
}

u32 getCurrentUtcTime(u32* year, u32* month, u32* day, u32* weekday, u32* hour, u32* minute, u32* second)
{
    time_t seconds = 0;
    if (g_utcFixed.load(std::memory_order_acquire)) {
        seconds = static_cast<time_t>(g_utcFixedSeconds.load(std::memory_order_relaxed));
    } else {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        seconds = now.tv_sec;
    }
    tm calendar{};
    if (gmtime_r(&seconds, &calendar) == nullptr) {
        calendar = tm{};
        calendar.tm_year = 70;
        calendar.tm_mday = 1;
        calendar.tm_wday = 4;
    }
    if (year != nullptr) {
        *year = static_cast<u32>(calendar.tm_year + 1900);
    }
    if (month != nullptr) {
        *month = static_cast<u32>(calendar.tm_mon + 1);
    }
    if (day != nullptr) {
        *day = static_cast<u32>(calendar.tm_mday);
    }
    if (weekday != nullptr) {
        *weekday = static_cast<u32>(calendar.tm_wday);
    }
    if (hour != nullptr) {
        *hour = static_cast<u32>(calendar.tm_hour);
    }
    if (minute != nullptr) {
        *minute = static_cast<u32>(calendar.tm_min);
    }
    if (second != nullptr) {
        *second = static_cast<u32>(calendar.tm_sec);
    }
    return OS_OK;
}

namespace testhooks {

void setMillisecondsOffset(u32 offset)
{
    g_millisecondsOffset.store(offset, std::memory_order_relaxed);
}

u32 getMillisecondsOffset()
{
    return g_millisecondsOffset.load(std::memory_order_relaxed);
}

void fixUtcTime(i64 secondsSinceEpoch)
{
    g_utcFixedSeconds.store(secondsSinceEpoch, std::memory_order_relaxed);
    g_utcFixed.store(true, std::memory_order_release);
}

void clearFixedUtcTime()
{
    g_utcFixed.store(false, std::memory_order_release);
}

} // namespace testhooks

} // namespace ossupport
