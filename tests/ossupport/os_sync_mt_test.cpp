// Threaded checks of task events, semaphores and the id tables.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "os_Support.h"
#include "vdtest_Support.h"

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

// Waits for `done` to reach `target`; when that takes longer than the limit, deletes the semaphore so that every
// thread blocked on it returns (and the test fails instead of hanging). True when the target was reached in time.
bool finishesInTime(std::atomic<int>& done, int target, u16 semaphore, std::chrono::seconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (done.load() < target) {
        if (std::chrono::steady_clock::now() >= deadline) {
            deleteSemaphore(semaphore);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A semaphore of count 1 used as a lock by 16 threads never admits two holders (a plain counter, read and written
// under the lock, loses no update) and loses no wake-up (every thread finishes).
TEST_F(OsSync, SemaphoreExcludesAndCountsExactly)
{
    constexpr int THREADS = 16;
    constexpr int ROUNDS = 100000;
    const SemaphoreRecord record{1, "Lock"};
    u16 id = 0;
    ASSERT_EQ(createSemaphore(&id, &record), 0u);
    long total = 0;
    std::atomic<int> overlaps{0};
    std::atomic<int> done{0};
    std::atomic<u32> failure{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < ROUNDS; ++i) {
                const u32 taken = waitSemaphore(id);
                if (taken != 0u) {
                    failure = taken;
                    break;
                }
                const long before = total;
                total = before + 1;
                asm volatile("" ::: "memory"); // read the counter again below
                if (total != before + 1) {
                    ++overlaps;
                }
                signalSemaphore(id);
            }
            ++done;
        });
    }
    const bool inTime = finishesInTime(done, THREADS, id, std::chrono::seconds(120));
    for (std::thread& thread : threads) {
        thread.join();
    }
    ASSERT_TRUE(inTime) << "a taker stayed asleep";
    EXPECT_EQ(failure.load(), 0u);
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(total, long{THREADS} * ROUNDS);
}

// Counts given back to back while several takers sleep reach all of them: a give that finds a wake-up still
// pending sends none, and the woken taker passes the remaining counts on. Each taker takes one count per round.
TEST_F(OsSync, BackToBackGivesWakeEverySleeper)
{
    constexpr int SLEEPERS = 6;
    constexpr int ROUNDS = 300;
    const SemaphoreRecord record{0, "Gate"};
    u16 id = 0;
    ASSERT_EQ(createSemaphore(&id, &record), 0u);
    std::atomic<int> round{0};
    std::atomic<int> passed{0};
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < SLEEPERS; ++t) {
        threads.emplace_back([&] {
            for (int mine = 1;; ++mine) {
                while (round.load() < mine) {
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
                }
                if (waitSemaphore(id) != 0u) {
                    break;
                }
                ++passed;
            }
            ++done;
        });
    }
    bool allPassed = true;
    for (int r = 1; r <= ROUNDS && allPassed; ++r) {
        round = r;
        EXPECT_TRUE(vdtest::waitUntil([&] {
            u32 sleepers = 0;
            return getSemaphoreWaiterCount(id, &sleepers) == 0u && sleepers == SLEEPERS;
        }));
        for (int g = 0; g < SLEEPERS; ++g) {
            EXPECT_EQ(signalSemaphore(id), 0u);
        }
        allPassed = vdtest::waitUntil([&] { return passed.load() == r * SLEEPERS; }, 20000);
    }
    EXPECT_TRUE(allPassed) << "passed " << passed.load();
    EXPECT_EQ(deleteSemaphore(id), 0u); // the takers' next wait fails
    round = ROUNDS + 1;
    EXPECT_TRUE(finishesInTime(done, SLEEPERS, id, std::chrono::seconds(20)));
    for (std::thread& thread : threads) {
        thread.join();
    }
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
