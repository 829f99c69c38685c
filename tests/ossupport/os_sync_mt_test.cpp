// Threaded checks of task events, semaphores and the id tables.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "os_Support.h"

using namespace ossupport;

namespace {

unsigned runFunction(void* argument)
{
    (*static_cast<std::function<void()>*>(argument))();
    return 0;
}

class OsSync : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(initialize(), 0u); }
    void TearDown() override { EXPECT_EQ(shutdown(), 0u); }
};

} // namespace

// Four setters each set their own bit once per round and wait for the round's acknowledgement; the
// waiting task must receive every bit of every round (a lost wake-up shows up as a time-out).
TEST_F(OsSync, NoLostWakeUpWithFourSetters)
{
    constexpr int SETTERS = 4;
    constexpr int ROUNDS = 2000;
    u16 acks[SETTERS] = {};
    for (u16& ack : acks) {
        const SemaphoreRecord record{0, "Ack"};
        ASSERT_EQ(createSemaphore(&ack, &record), 0u);
    }
    std::atomic<int> counted[SETTERS] = {};
    std::atomic<u32> failure{0};
    std::function<void()> waiter = [&] {
        for (int round = 0; round < ROUNDS && failure == 0; ++round) {
            u32 seen = 0;
            while (seen != (1u << SETTERS) - 1) {
                u32 bits = 0;
                const u32 rc = waitTaskEvent(&bits, (1u << SETTERS) - 1, 5000);
                if (rc != 0) {
                    failure = rc;
                    return;
                }
                if ((bits & seen) != 0) {
                    failure = 0xDEAD; // a bit arrived twice within one round
                    return;
                }
                seen |= bits;
                for (int s = 0; s < SETTERS; ++s) {
                    if ((bits & (1u << s)) != 0) {
                        ++counted[s];
                    }
                }
            }
            for (u16 ack : acks) {
                signalSemaphore(ack);
            }
        }
    };
    TaskRecord record;
    record.m_entry = runFunction;
    record.m_name = "Waiter";
    u16 task = 0;
    ASSERT_EQ(createTask(&task, &record), 0u);
    ASSERT_EQ(startTask(task, &waiter), 0u);

    std::vector<std::thread> setters;
    for (int s = 0; s < SETTERS; ++s) {
        setters.emplace_back([&, s] {
            for (int round = 0; round < ROUNDS && failure == 0; ++round) {
                EXPECT_EQ(setTaskEvent(task, 1u << s), 0u);
                while (failure == 0 && waitSemaphore(acks[s]) != 0u) {
                }
            }
        });
    }
    for (std::thread& setter : setters) {
        setter.join();
    }
    EXPECT_EQ(deleteTask(task), 0u);
    ASSERT_EQ(failure.load(), 0u);
    for (int s = 0; s < SETTERS; ++s) {
        EXPECT_EQ(counted[s].load(), ROUNDS) << "setter " << s;
    }
}

// A semaphore of count 1 used as a lock by 8 threads never admits two holders and loses no update.
TEST_F(OsSync, SemaphoreExcludesAndCountsExactly)
{
    const SemaphoreRecord record{1, "Lock"};
    u16 id = 0;
    ASSERT_EQ(createSemaphore(&id, &record), 0u);
    std::atomic<int> holders{0};
    std::atomic<int> maxHolders{0};
    long total = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 3000; ++i) {
                ASSERT_EQ(waitSemaphore(id), 0u);
                const int now = ++holders;
                int seen = maxHolders.load();
                while (now > seen && !maxHolders.compare_exchange_weak(seen, now)) {
                }
                ++total;
                --holders;
                ASSERT_EQ(signalSemaphore(id), 0u);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(maxHolders.load(), 1);
    EXPECT_EQ(total, 8 * 3000);
}

// Threads creating and deleting event flags at once never hold the same id together.
TEST_F(OsSync, ConcurrentCreationHandsOutDistinctIds)
{
    std::atomic<u32> owner[OS_EVENT_FLAG_ID_MAX + 1] = {};
    std::atomic<int> clashes{0};
    std::vector<std::thread> threads;
    for (u32 t = 1; t <= 6; ++t) {
        threads.emplace_back([&, t] {
            const EventFlagRecord record{OS_FLAG_CLEAR_ON_READ, 0, "Churn"};
            for (int i = 0; i < 500; ++i) {
                u16 id = 0;
                if (createEventFlag(&id, &record) != 0u) {
                    continue;
                }
                u32 expected = 0;
                if (!owner[id].compare_exchange_strong(expected, t)) {
                    ++clashes;
                }
                setEventFlag(id, t);
                u32 bits = 0;
                pollEventFlag(&bits, id, 0xFFFFFFFF, OS_MODE_OR);
                if (bits != t) {
                    ++clashes;
                }
                owner[id].store(0);
                EXPECT_EQ(deleteEventFlag(id), 0u);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(clashes.load(), 0);
}
