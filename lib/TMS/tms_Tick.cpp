#include "tms_Tick.h"
#include "tms_Result.h"

#include <time.h>

#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

#include "os_Tasks.h"

namespace TMS::OSTick {

namespace {
constexpr i64 NANOS_PER_SECOND = 1000000000;

struct TickRecord
{
    std::mutex m_control; // start and stop
    std::thread m_thread;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_running{false};
};

TickRecord& record()
{
    static TickRecord* tick = new TickRecord();
    return *tick;
}

i64 toNanos(const timespec& time)
{
    return static_cast<i64>(time.tv_sec) * NANOS_PER_SECOND + time.tv_nsec;
}

timespec fromNanos(i64 nanos)
{
    timespec time{};
    time.tv_sec = static_cast<time_t>(nanos / NANOS_PER_SECOND);
    time.tv_nsec = static_cast<long>(nanos % NANOS_PER_SECOND);
    return time;
}

i64 monotonicNow()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return toNanos(now);
}

void tickThread(TickRecord* tick, IOSTimerCallback* callback, i64 periodNanos)
{
    ossupport::runThreadStartHook();
    i64 next = monotonicNow();
    while (!tick->m_stopRequested.load(std::memory_order_acquire)) {
        next += periodNanos;
        const timespec deadline = fromNanos(next);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
        }
        if (tick->m_stopRequested.load(std::memory_order_acquire)) {
            break;
        }
        callback->onOSTimer();
        const i64 now = monotonicNow();
        if (now - next >= periodNanos) {
            // Late by one period or more: continue from the last boundary that has passed.
            next += (now - next) / periodNanos * periodNanos;
        }
    }
}
} // namespace

u32 start(u32 periodMs, IOSTimerCallback* callback)
{
    if (callback == nullptr || periodMs == 0) {
        return RESULT_FAILED;
    }
    TickRecord& tick = record();
    std::lock_guard<std::mutex> guard(tick.m_control);
    if (tick.m_running.load(std::memory_order_acquire)) {
        return RESULT_FAILED;
    }
    tick.m_stopRequested.store(false, std::memory_order_release);
    try {
        tick.m_thread = std::thread(tickThread, &tick, callback, static_cast<i64>(periodMs) * 1000000);
    } catch (const std::system_error&) {
        return RESULT_FAILED;
    }
    tick.m_running.store(true, std::memory_order_release);
    return 0;
}

u32 stop()
{
    TickRecord& tick = record();
    std::lock_guard<std::mutex> guard(tick.m_control);
    if (!tick.m_running.load(std::memory_order_acquire)) {
        return RESULT_FAILED;
    }
    tick.m_stopRequested.store(true, std::memory_order_release);
    if (tick.m_thread.joinable()) {
        tick.m_thread.join();
    }
    tick.m_running.store(false, std::memory_order_release);
    return 0;
}

bool isRunning()
{
    return record().m_running.load(std::memory_order_acquire);
}

} // namespace TMS::OSTick
