// Millisecond clock, timer and flag records, UTC calendar time.

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "os_Support.h"
#include "os_TestHooks.h"

using namespace ossupport;

namespace {

u32 now()
{
    u32 ms = 0;
    EXPECT_EQ(getMilliseconds(&ms), 0u);
    return ms;
}

// Makes the clock read `target` now.
void setClockTo(u32 target)
{
    testhooks::setMillisecondsOffset(0);
    testhooks::setMillisecondsOffset(target - now());
}

class OsClock : public ::testing::Test
{
protected:
    void TearDown() override
    {
        testhooks::setMillisecondsOffset(0);
        testhooks::clearFixedUtcTime();
    }
};

} // namespace

// Milliseconds since a point of the steady clock, rounded up.
u32 steadySince(std::chrono::steady_clock::time_point start)
{
    const auto spent = std::chrono::steady_clock::now() - start;
    return static_cast<u32>(std::chrono::ceil<std::chrono::milliseconds>(spent).count());
}

// The clock's steps are bounded by what the steady clock measured around them, however loaded the machine is.
TEST_F(OsClock, ClockAdvancesWithSleepAndHonoursTheOffset)
{
    auto start = std::chrono::steady_clock::now();
    const u32 before = now();
    EXPECT_EQ(sleepMilliseconds(50), 0u);
    const u32 elapsed = now() - before;
    EXPECT_GE(elapsed, 50u);
    EXPECT_LE(elapsed, steadySince(start) + 1);

    const u32 plain = now();
    testhooks::setMillisecondsOffset(0x80000000u);
    const u32 shifted = now() - 0x80000000u;
    testhooks::setMillisecondsOffset(0);
    const u32 after = now();
    EXPECT_LE(plain, shifted);
    EXPECT_LE(shifted, after);

    // Readings wrap through 2^32 without a jump.
    setClockTo(0xFFFFFFF0u);
    start = std::chrono::steady_clock::now();
    const u32 nearEnd = now();
    sleepMilliseconds(40);
    const u32 afterWrap = now();
    EXPECT_LT(afterWrap, nearEnd);
    EXPECT_GE(afterWrap - nearEnd, 40u);
    EXPECT_LE(afterWrap - nearEnd, steadySince(start) + 1);
}

TEST_F(OsClock, TimerExpiresAndStaysExpired)
{
    Timer timer;
    EXPECT_EQ(checkTimer(&timer), 0x80000008u); // never started
    ASSERT_EQ(startTimer(&timer, 100), 0u);
    EXPECT_EQ(timer.m_state, OS_TIMER_RUNNING);
    EXPECT_EQ(checkTimer(&timer), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(checkTimer(&timer), 12u);
    EXPECT_EQ(timer.m_state, OS_TIMER_EXPIRED_STATE);
    EXPECT_EQ(checkTimer(&timer), 12u);

    // An expired or unstarted timer may be started again; a barred one may not.
    EXPECT_EQ(startTimer(&timer, 10000), 0u);
    EXPECT_EQ(checkTimer(&timer), 0u);
    Timer barred;
    barred.m_state = OS_TIMER_BARRED;
    EXPECT_EQ(startTimer(&barred, 5), 0x80000008u);
    EXPECT_EQ(barred.m_state, OS_TIMER_BARRED);
    EXPECT_EQ(checkTimer(&barred), 0x80000008u);
}

TEST_F(OsClock, TimerRunsAcrossTheClockWrap)
{
    // Started 100 ms before the wrap with 250 ms to run: not expired just after the wrap, expired later.
    setClockTo(0xFFFFFF9Cu);
    Timer timer;
    ASSERT_EQ(startTimer(&timer, 250), 0u);
    EXPECT_GT(timer.m_start, 0xFFFFFF00u);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ASSERT_LT(now(), 0x1000u);
    EXPECT_EQ(checkTimer(&timer), 0u);
    EXPECT_EQ(timer.m_state, OS_TIMER_RUNNING);
    std::this_thread::sleep_for(std::chrono::milliseconds(130));
    EXPECT_EQ(checkTimer(&timer), 12u);

    // Checked only after the wrap and after its interval: expired at once.
    setClockTo(0xFFFFFFF0u);
    Timer quick;
    ASSERT_EQ(startTimer(&quick, 30), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(checkTimer(&quick), 12u);
}

TEST_F(OsClock, UtcTimeAgreesWithTheCalendar)
{
    u32 year = 0, month = 0, day = 0, weekday = 9, hour = 0, minute = 0, second = 0;
    // 1970-01-01 was a Thursday.
    testhooks::fixUtcTime(0);
    ASSERT_EQ(getCurrentUtcTime(&year, &month, &day, &weekday, &hour, &minute, &second), 0u);
    EXPECT_EQ(year, 1970u);
    EXPECT_EQ(month, 1u);
    EXPECT_EQ(day, 1u);
    EXPECT_EQ(weekday, 4u);
    EXPECT_EQ(hour + minute + second, 0u);

    // 2024-03-03 23:59:58 was a Sunday (0); the leap day lies before it.
    tm sunday{};
    sunday.tm_year = 124;
    sunday.tm_mon = 2;
    sunday.tm_mday = 3;
    sunday.tm_hour = 23;
    sunday.tm_min = 59;
    sunday.tm_sec = 58;
    testhooks::fixUtcTime(static_cast<i64>(timegm(&sunday)));
    ASSERT_EQ(getCurrentUtcTime(&year, &month, &day, &weekday, &hour, &minute, &second), 0u);
    EXPECT_EQ(year, 2024u);
    EXPECT_EQ(month, 3u);
    EXPECT_EQ(day, 3u);
    EXPECT_EQ(weekday, 0u);
    EXPECT_EQ(hour, 23u);
    EXPECT_EQ(minute, 59u);
    EXPECT_EQ(second, 58u);

    // Unfixed: the real clock, as the C library's calendar shows it.
    testhooks::clearFixedUtcTime();
    for (int attempt = 0; attempt < 3; ++attempt) {
        // CLOCK_REALTIME, as the layer reads it: time() reads a coarser clock that may lag by a tick.
        const auto seconds = [] {
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            return static_cast<time_t>(now.tv_sec);
        };
        const time_t before = seconds();
        ASSERT_EQ(getCurrentUtcTime(&year, &month, &day, &weekday, &hour, &minute, &second), 0u);
        if (seconds() != before) {
            continue; // a second boundary passed in between
        }
        tm expected{};
        gmtime_r(&before, &expected);
        EXPECT_EQ(year, static_cast<u32>(expected.tm_year + 1900));
        EXPECT_EQ(month, static_cast<u32>(expected.tm_mon + 1));
        EXPECT_EQ(day, static_cast<u32>(expected.tm_mday));
        EXPECT_EQ(weekday, static_cast<u32>(expected.tm_wday));
        EXPECT_EQ(hour, static_cast<u32>(expected.tm_hour));
        EXPECT_EQ(minute, static_cast<u32>(expected.tm_min));
        EXPECT_EQ(second, static_cast<u32>(expected.tm_sec));
        break;
    }
}
