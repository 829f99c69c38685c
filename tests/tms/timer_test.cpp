// Object timers, driven by a test clock.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "tms_Mutex.h"
#include "tms_ObjectTimer.h"
#include "tms_TestSupport.h"
#include "tms_ThreadTestHooks.h"

namespace {

using TMS::IObjectTimer;
using TMS::ObjectTimer;
using TMS::ObjectTimerList;

u32 g_now = 0;

u32 testClock()
{
    return g_now;
}

struct Call
{
    u32 m_time;
    u32 m_id;
    u32 m_count;
};

class Observer : public TMS::IObjectTimerObserver
{
public:
    u32 onTimer(u32 timerId, u32 count) override
    {
        m_calls.push_back({g_now, timerId, count});
        if (m_hook) {
            m_hook(timerId, count);
        }
        return 0;
    }

    std::vector<Call> m_calls;
    std::function<void(u32, u32)> m_hook;
};

class TimerTest : public tmstest::OsLayerTest
{
protected:
    void SetUp() override
    {
        tmstest::OsLayerTest::SetUp();
        g_now = 1000;
        TMS::testhooks::setTimerClock(&testClock);
        m_mutex = new TMS::TMSMutex("TMSThread");
        m_list.bind(m_mutex);
    }

    void TearDown() override
    {
        m_list.clear();
        delete m_mutex;
        TMS::testhooks::setTimerClock(nullptr);
        tmstest::OsLayerTest::TearDown();
    }

    // Advances the clock in steps and serves the list at each step.
    void runFor(u32 duration, u32 step)
    {
        for (u32 passed = 0; passed < duration; passed += step) {
            g_now += step;
            m_list.tick();
        }
    }

    TMS::TMSMutex* m_mutex = nullptr;
    ObjectTimerList m_list;
    Observer m_observer;
};

TEST_F(TimerTest, PeriodicTimerFiresOnTheFirstStepAfterEachInterval)
{
    ASSERT_EQ(m_list.setTimer(7, 250, false, &m_observer), 0u);
    const u32 start = g_now;
    ASSERT_EQ(m_list.getTimer(7).start(), 0u);
    runFor(10000, 100);
    ASSERT_FALSE(m_observer.m_calls.empty());
    EXPECT_EQ(m_list.getTimer(7).getCount(), 40u);
    EXPECT_EQ(m_observer.m_calls.back().m_count, 40u);
    EXPECT_EQ(m_observer.m_calls.back().m_time, start + 10000);
    EXPECT_EQ(m_observer.m_calls.size(), 40u);
    EXPECT_EQ(m_observer.m_calls[0].m_time, start + 300);
    for (size_t i = 1; i < m_observer.m_calls.size(); ++i) {
        const u32 gap = m_observer.m_calls[i].m_time - m_observer.m_calls[i - 1].m_time;
        EXPECT_TRUE(gap == 200 || gap == 300) << "gap " << gap << " at call " << i;
        EXPECT_EQ(m_observer.m_calls[i].m_count, i + 1);
    }
}

TEST_F(TimerTest, LateTimerCallsOnceAndCatchesUp)
{
    ASSERT_EQ(m_list.setTimer(1, 100, false, &m_observer), 0u);
    const u32 start = g_now;
    m_list.getTimer(1).start();
    g_now = start + 1050;
    m_list.tick();
    ASSERT_EQ(m_observer.m_calls.size(), 1u);
    EXPECT_EQ(m_observer.m_calls[0].m_count, 1u);
    EXPECT_EQ(m_list.getTimer(1).getCount(), 10u);
    EXPECT_EQ(m_list.getTimer(1).getElapsedTime(), 50u); // the start advanced by whole intervals
    g_now = start + 1100;
    m_list.tick();
    ASSERT_EQ(m_observer.m_calls.size(), 2u);
    EXPECT_EQ(m_observer.m_calls[1].m_count, 11u);
}

TEST_F(TimerTest, OneShotFiresOnceAndCanBeArmedAgain)
{
    ASSERT_EQ(m_list.setTimer(2, 100, true, &m_observer), 0u);
    IObjectTimer& timer = m_list.getTimer(2);
    EXPECT_TRUE(timer.isActive());
    EXPECT_FALSE(timer.isRunning());
    runFor(300, 10);
    EXPECT_TRUE(m_observer.m_calls.empty()); // not started
    timer.start();
    runFor(1000, 10);
    ASSERT_EQ(m_observer.m_calls.size(), 1u);
    EXPECT_EQ(m_observer.m_calls[0].m_count, 1u);
    EXPECT_FALSE(timer.isRunning());
    EXPECT_EQ(timer.getCount(), 0u);
    EXPECT_EQ(timer.start(), 0u);
    runFor(100, 10);
    EXPECT_EQ(m_observer.m_calls.size(), 2u);
}

TEST_F(TimerTest, SetupAgainStopsAndReplaces)
{
    Observer other;
    ASSERT_EQ(m_list.setTimer(3, 100, false, &m_observer), 0u);
    m_list.getTimer(3).start();
    runFor(250, 50);
    ASSERT_EQ(m_observer.m_calls.size(), 2u);
    ASSERT_EQ(m_list.setTimer(3, 40, true, &other), 0u);
    EXPECT_EQ(m_list.getLength(), 1u);
    EXPECT_FALSE(m_list.getTimer(3).isRunning());
    EXPECT_EQ(m_list.getTimer(3).getCount(), 0u);
    runFor(500, 50);
    EXPECT_TRUE(other.m_calls.empty());
    m_list.getTimer(3).start();
    runFor(50, 50);
    EXPECT_EQ(other.m_calls.size(), 1u);
    EXPECT_EQ(m_observer.m_calls.size(), 2u);

    // Interval 0 is refused and changes nothing.
    EXPECT_EQ(m_list.setTimer(4, 0, false, &m_observer), 0x80000002u);
    EXPECT_TRUE(m_list.getTimer(4).isNull());
    EXPECT_EQ(m_list.setTimer(3, 0, false, &m_observer), 0x80000002u);
    EXPECT_EQ(m_list.getTimer(3).isActive(), true);
    EXPECT_EQ(m_list.getLength(), 1u);
}

TEST_F(TimerTest, RemoveClearsThenDeletes)
{
    m_list.setTimer(1, 100, false, &m_observer);
    m_list.setTimer(2, 100, false, &m_observer);
    EXPECT_EQ(m_list.removeTimer(1, true), 0u);
    EXPECT_TRUE(m_list.getTimer(1).isNull()); // its id is cleared
    EXPECT_EQ(m_list.getLength(), 2u);        // the entry stays
    EXPECT_EQ(m_list.removeTimer(1, false), 0x80000009u);
    EXPECT_EQ(m_list.removeTimer(2, false), 0u);
    EXPECT_EQ(m_list.getLength(), 1u);
    EXPECT_EQ(m_list.removeTimer(2, false), 0x80000009u);

    IObjectTimer& missing = m_list.getTimer(99);
    EXPECT_TRUE(missing.isNull());
    EXPECT_EQ(missing.getId(), 0xFFFFFFFFu);
    EXPECT_EQ(missing.start(), 0u);
    EXPECT_FALSE(missing.isActive());
}

TEST_F(TimerTest, ClockWrapNeitherDelaysNorRepeats)
{
    g_now = 0xFFFFFF00u;
    ASSERT_EQ(m_list.setTimer(5, 100, false, &m_observer), 0u);
    m_list.getTimer(5).start();
    runFor(1000, 10);
    ASSERT_EQ(m_observer.m_calls.size(), 10u);
    for (size_t i = 0; i < m_observer.m_calls.size(); ++i) {
        EXPECT_EQ(m_observer.m_calls[i].m_time, 0xFFFFFF00u + 100u * static_cast<u32>(i + 1));
        EXPECT_EQ(m_observer.m_calls[i].m_count, i + 1);
    }
}

TEST_F(TimerTest, ObserverMayChangeTheListWhileItIsServed)
{
    Observer second;
    m_list.setTimer(1, 100, false, &m_observer);
    m_list.setTimer(2, 100, false, &second);
    m_list.setTimer(3, 100, false, &second);
    m_observer.m_hook = [&](u32, u32) {
        EXPECT_EQ(m_list.removeTimer(1, false), 0u); // itself
        EXPECT_EQ(m_list.removeTimer(2, false), 0u); // a later one, not served any more
        EXPECT_EQ(m_list.setTimer(9, 50, false, &m_observer), 0u);
    };
    m_list.getTimer(1).start();
    m_list.getTimer(2).start();
    m_list.getTimer(3).start();
    runFor(100, 100);
    EXPECT_EQ(m_observer.m_calls.size(), 1u);
    ASSERT_EQ(second.m_calls.size(), 1u);
    EXPECT_EQ(second.m_calls[0].m_id, 3u);
    EXPECT_EQ(m_list.getLength(), 2u);
    EXPECT_TRUE(m_list.getTimer(1).isNull());
    EXPECT_FALSE(m_list.getTimer(9).isNull());
    // A one-shot timer may arm itself again from its own call.
    Observer rearming;
    m_list.setTimer(4, 100, true, &rearming);
    rearming.m_hook = [&](u32 id, u32) { m_list.getTimer(id).start(); };
    m_list.getTimer(4).start();
    runFor(300, 100);
    EXPECT_EQ(rearming.m_calls.size(), 3u);
}

TEST(TimerList, UnboundListRefuses)
{
    ObjectTimerList list;
    Observer observer;
    EXPECT_EQ(list.setTimer(1, 10, false, &observer), 0x80000004u);
    EXPECT_EQ(list.removeTimer(1, false), 0x80000004u);
    EXPECT_EQ(list.tick(), 0x80000004u);
    EXPECT_TRUE(list.getTimer(1).isNull());

    ObjectTimer timer;
    EXPECT_EQ(timer.start(), 0x80000000u);
    EXPECT_EQ(timer.stop(), 0x80000000u);
    timer.reset(4);
    EXPECT_EQ(timer.getId(), 4u);
    EXPECT_EQ(timer.getInterval(), 0xFFFFFFFFu);
    EXPECT_EQ(timer.start(), 0u);
    EXPECT_EQ(timer.service(), 0u); // no observer
}

} // namespace
