// Id tables, task event words, event flags, semaphores, foreign ids and the layer's life cycle.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "os_Support.h"
#include "os_TestHooks.h"
#include "vdtest_Support.h"

using namespace ossupport;

namespace {

unsigned runFunction(void* argument)
{
    (*static_cast<std::function<void()>*>(argument))();
    return 0;
}

TaskRecord taskRecord(const char* name, u32 stackSize = 20000)
{
    TaskRecord record;
    record.m_entry = runFunction;
    record.m_stackSize = stackSize;
    record.m_name = name;
    return record;
}

using vdtest::waitUntil;

class OsTasks : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(initialize(), 0u); }
    void TearDown() override
    {
        if (isInitialized()) {
            EXPECT_EQ(shutdown(), 0u);
        }
    }
};

} // namespace

TEST_F(OsTasks, TaskIdsComeFromTheirRanges)
{
    const TaskRecord record = taskRecord("T");
    u16 id = 0;
    ASSERT_EQ(createTask(&id, &record), 0u);
    EXPECT_EQ(id, 100);
    ASSERT_EQ(createTask(&id, &record), 0u);
    EXPECT_EQ(id, 99);
    ASSERT_EQ(createTask(&id, &record), 0u);
    EXPECT_EQ(id, 98);

    EXPECT_EQ(createTaskWithId(49, &record), 0u);
    EXPECT_EQ(createTaskWithId(49, &record), 0x80000008u);
    EXPECT_EQ(createTaskWithId(50, &record), 0x80000005u);

    // 51 automatic ids (100..50): the 52nd automatic task finds none.
    for (int n = 4; n <= 51; ++n) {
        ASSERT_EQ(createTask(&id, &record), 0u) << n;
    }
    EXPECT_EQ(id, 50);
    id = 77;
    EXPECT_EQ(createTask(&id, &record), 0x80000010u);
    EXPECT_EQ(id, 0);

    // A deleted id is handed out again, highest first.
    EXPECT_EQ(deleteTask(73), 0u);
    EXPECT_EQ(deleteTask(73), 0x80000007u);
    ASSERT_EQ(createTask(&id, &record), 0u);
    EXPECT_EQ(id, 73);
}

TEST_F(OsTasks, CodesForBadIdsAndStates)
{
    EXPECT_EQ(setTaskEvent(101, 1), 0x80000005u);
    EXPECT_EQ(setTaskEvent(0, 1), 0x80000005u);
    EXPECT_EQ(setTaskEvent(42, 1), 0x80000007u);
    EXPECT_EQ(startTask(101, nullptr), 0x80000005u);
    EXPECT_EQ(startTask(42, nullptr), 0x80000007u);
    EXPECT_EQ(deleteTask(101), 0x80000005u);
    EXPECT_EQ(deleteTask(42), 0x80000007u);

    std::atomic<bool> release{false};
    std::function<void()> body = [&] { waitUntil([&] { return release.load(); }); };
    const TaskRecord record = taskRecord("Started");
    ASSERT_EQ(createTaskWithId(5, &record), 0u);
    ASSERT_EQ(startTask(5, &body), 0u);
    EXPECT_EQ(startTask(5, &body), 0x80000008u);
    release = true;
    EXPECT_EQ(deleteTask(5), 0u);
    EXPECT_EQ(setTaskEvent(5, 1), 0x80000007u);

    // Not a task: waiting and exiting are refused.
    u32 bits = 123;
    EXPECT_EQ(waitTaskEvent(&bits, 1, 0), 0x80000007u);
    EXPECT_EQ(bits, 0u);
    EXPECT_EQ(exitTask(), 0x80000007u);
}

TEST(OsLifeCycle, EveryCallIsSafeWhileNotInitialised)
{
    const TaskRecord task = taskRecord("T");
    const SemaphoreRecord semaphoreRecord{1, "S"};
    const EventFlagRecord flagRecord{0, 0, "F"};
    u16 id = 7;
    u32 bits = 7;
    auto refusedEverywhere = [&] {
        EXPECT_EQ(createTask(&id, &task), 0x80000008u);
        EXPECT_EQ(createTaskWithId(3, &task), 0x80000008u);
        EXPECT_EQ(startTask(3, nullptr), 0x80000008u);
        EXPECT_EQ(deleteTask(3), 0x80000008u);
        EXPECT_EQ(setTaskEvent(3, 1), 0x80000008u);
        EXPECT_EQ(getCurrentTaskId(&id), 0x80000008u);
        EXPECT_EQ(createSemaphore(&id, &semaphoreRecord), 0x80000008u);
        EXPECT_EQ(waitSemaphore(300), 0x80000008u);
        EXPECT_EQ(signalSemaphore(300), 0x80000008u);
        EXPECT_EQ(deleteSemaphore(300), 0x80000008u);
        EXPECT_EQ(createEventFlag(&id, &flagRecord), 0x80000008u);
        EXPECT_EQ(setEventFlag(200, 1), 0x80000008u);
        EXPECT_EQ(pollEventFlag(&bits, 200, 1, OS_MODE_OR), 0x80000008u);
        EXPECT_EQ(deleteEventFlag(200), 0x80000008u);
        EXPECT_EQ(shutdown(), 0x80000008u);
    };
    refusedEverywhere();

    const u32 generation = getInitGeneration();
    ASSERT_EQ(initialize(), 0u);
    EXPECT_EQ(initialize(), 0x80000008u);
    EXPECT_EQ(getInitGeneration(), generation + 1); // a refused initialize counts nothing
    ASSERT_EQ(createSemaphore(&id, &semaphoreRecord), 0u);
    EXPECT_EQ(id, 300);
    ASSERT_EQ(shutdown(), 0u);
    refusedEverywhere();

    // A second life starts from empty tables, under a new generation.
    ASSERT_EQ(initialize(), 0u);
    EXPECT_EQ(getInitGeneration(), generation + 2);
    EXPECT_EQ(waitSemaphore(300), 0x80000007u);
    ASSERT_EQ(createSemaphore(&id, &semaphoreRecord), 0u);
    EXPECT_EQ(id, 300);
    EXPECT_EQ(shutdown(), 0u);
}

TEST_F(OsTasks, WaitReturnsTheWholeWordAndClearsIt)
{
    std::atomic<u16> ownId{0};
    std::atomic<u32> received{0};
    std::atomic<u32> receivedResult{1};
    std::atomic<u32> pollBits{99};
    std::atomic<u32> pollResult{1};
    std::atomic<bool> waiting{false};
    std::function<void()> body = [&] {
        u16 self = 0;
        getCurrentTaskId(&self);
        ownId = self;
        u32 bits = 0;
        waiting = true;
        receivedResult = waitTaskEvent(&bits, 0x80000, OS_WAIT_FOREVER);
        received = bits;
        bits = 99;
        const u32 polled = waitTaskEvent(&bits, 0xFFFFFFFF, 0);
        pollBits = bits; // before the result the test waits for
        pollResult = polled;
    };
    const TaskRecord record = taskRecord("Waiter");
    u16 id = 0;
    ASSERT_EQ(createTask(&id, &record), 0u);
    ASSERT_EQ(startTask(id, &body), 0u);
    ASSERT_TRUE(waitUntil([&] { return waiting.load(); }));
    // Bits outside the pattern do not wake the task but are delivered with the matching one.
    ASSERT_EQ(setTaskEvent(id, 0x5), 0u);
    // Woken or not, the task waits again with the bits unread.
    ASSERT_TRUE(waitUntil([&] {
        u32 waiters = 0;
        return getTaskWaiterCount(id, &waiters) == 0u && waiters == 1;
    }));
    EXPECT_EQ(receivedResult.load(), 1u);
    ASSERT_EQ(setTaskEvent(id, 0x80000), 0u);
    ASSERT_TRUE(waitUntil([&] { return pollResult.load() != 1u; }));
    EXPECT_EQ(ownId.load(), id);
    EXPECT_EQ(receivedResult.load(), 0u);
    EXPECT_EQ(received.load(), 0x80005u);
    // The word was cleared: a poll with time-out 0 finds nothing.
    EXPECT_EQ(pollResult.load(), 0u);
    EXPECT_EQ(pollBits.load(), 0u);
    EXPECT_EQ(deleteTask(id), 0u);
}

TEST_F(OsTasks, TimeOutIsOneDeadlineDespiteUnrelatedWakeUps)
{
    std::atomic<u32> result{1};
    std::atomic<long> elapsedMs{-1};
    std::atomic<bool> waiting{false};
    std::function<void()> body = [&] {
        u32 bits = 0;
        waiting = true;
        const auto start = std::chrono::steady_clock::now();
        result = waitTaskEvent(&bits, 0x1, 200);
        elapsedMs = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    };
    const TaskRecord record = taskRecord("Timeout");
    ASSERT_EQ(createTaskWithId(12, &record), 0u);
    ASSERT_EQ(startTask(12, &body), 0u);
    ASSERT_TRUE(waitUntil([&] { return waiting.load(); }));
    // Bits that never match arrive every few ms for longer than the time-out.
    const auto stop = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (elapsedMs.load() < 0 && std::chrono::steady_clock::now() < stop) {
        setTaskEvent(12, 0x2);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(waitUntil([&] { return elapsedMs.load() >= 0; }));
    EXPECT_EQ(result.load(), 0x8000000Cu);
    EXPECT_GE(elapsedMs.load(), 195);
    EXPECT_LT(elapsedMs.load(), 1000);
}

TEST_F(OsTasks, ShutdownEndsRunningTasksWithTheEndCode)
{
    std::atomic<u32> results[2] = {{1}, {1}};
    std::atomic<u32> leftBits[2] = {{0}, {0}};
    std::atomic<u32> again[2] = {{1}, {1}};
    std::atomic<int> waiting{0};
    std::function<void()> bodies[2];
    for (int i = 0; i < 2; ++i) {
        bodies[i] = [&, i] {
            u32 bits = 0;
            u32 rc = 0;
            ++waiting;
            do {
                rc = waitTaskEvent(&bits, 0x1, OS_WAIT_FOREVER);
            } while (rc == 0);
            results[i] = rc;
            leftBits[i] = bits;
            // Waiting once more after the end request must not hold up the shutdown.
            again[i] = waitTaskEvent(&bits, 0x1, OS_WAIT_FOREVER);
        };
    }
    const TaskRecord record = taskRecord("Ender");
    u16 automatic = 0;
    ASSERT_EQ(createTask(&automatic, &record), 0u);
    ASSERT_EQ(createTaskWithId(3, &record), 0u);
    ASSERT_EQ(startTask(automatic, &bodies[0]), 0u);
    ASSERT_EQ(startTask(3, &bodies[1]), 0u);
    ASSERT_TRUE(waitUntil([&] { return waiting.load() == 2; }));
    ASSERT_EQ(setTaskEvent(3, 0x40), 0u); // pending, not matching
    ASSERT_EQ(shutdown(), 0u);
    EXPECT_EQ(results[0].load(), 0x80000011u);
    EXPECT_EQ(results[1].load(), 0x80000011u);
    EXPECT_EQ(leftBits[0].load(), 0u);
    EXPECT_EQ(leftBits[1].load(), 0x40u);
    EXPECT_EQ(again[0].load(), 0x80000011u);
    EXPECT_EQ(again[1].load(), 0x80000011u);
}

namespace {

// Touches 128 KiB of stack in one frame.
__attribute__((noinline)) u32 useLargeStack()
{
    volatile char block[128 * 1024];
    for (size_t i = 0; i < sizeof(block); i += 512) {
        block[i] = static_cast<char>(i);
    }
    return static_cast<u32>(block[512] + block[sizeof(block) - 512]);
}

} // namespace

TEST_F(OsTasks, SmallStackRequestIsRaisedToTheMinimum)
{
    std::atomic<bool> done{false};
    std::function<void()> body = [&] {
        useLargeStack();
        done = true;
    };
    const TaskRecord record = taskRecord("Poll", 4096);
    u16 id = 0;
    ASSERT_EQ(createTask(&id, &record), 0u);
    ASSERT_EQ(startTask(id, &body), 0u);
    EXPECT_TRUE(waitUntil([&] { return done.load(); }));
    EXPECT_EQ(deleteTask(id), 0u);
}

TEST_F(OsTasks, StubbornTaskKeepsItsIdUntilItEnds)
{
    testhooks::setDeleteTaskWaitMs(100);
    std::atomic<bool> release{false};
    std::atomic<u32> laterWait{1};
    std::function<void()> body = [&] {
        waitUntil([&] { return release.load(); }, 10000);
        u32 bits = 0;
        laterWait = waitTaskEvent(&bits, 0x1, OS_WAIT_FOREVER);
    };
    const TaskRecord record = taskRecord("Stubborn");
    ASSERT_EQ(createTaskWithId(10, &record), 0u);
    ASSERT_EQ(startTask(10, &body), 0u);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(deleteTask(10), 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(95));

    // The thread still runs: its id is neither usable nor free.
    EXPECT_EQ(createTaskWithId(10, &record), 0x80000008u);
    EXPECT_EQ(setTaskEvent(10, 1), 0x80000007u);
    EXPECT_EQ(deleteTask(10), 0x80000007u);

    release = true;
    // The late wait learns that the task is to end, and the id comes free once the thread is done.
    ASSERT_TRUE(waitUntil([&] { return createTaskWithId(10, &record) == 0u; }));
    EXPECT_EQ(laterWait.load(), 0x80000011u);
    EXPECT_EQ(deleteTask(10), 0u);
}

TEST_F(OsTasks, ExitTaskEndsTheThreadAndFreesItsIdentity)
{
    std::atomic<int> stage{0};
    std::function<void()> body = [&] {
        stage = 1;
        exitTask();
        stage = 2; // never reached
    };
    const TaskRecord record = taskRecord("Exit");
    u16 id = 0;
    ASSERT_EQ(createTask(&id, &record), 0u);
    ASSERT_EQ(startTask(id, &body), 0u);
    ASSERT_TRUE(waitUntil([&] { return stage.load() == 1; }));
    // deleteTask joins the ended thread at once.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(deleteTask(id), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
    EXPECT_EQ(stage.load(), 1);
    u16 again = 0;
    ASSERT_EQ(createTask(&again, &record), 0u);
    EXPECT_EQ(again, id);
}

TEST_F(OsTasks, EventFlagsPollWithoutBlocking)
{
    const EventFlagRecord clearing{OS_FLAG_CLEAR_ON_READ, 0, "Clear"};
    const EventFlagRecord keeping{0, 0x100, "Keep"};
    u16 first = 0;
    u16 second = 0;
    ASSERT_EQ(createEventFlag(&first, &clearing), 0u);
    ASSERT_EQ(createEventFlag(&second, &keeping), 0u);
    EXPECT_EQ(first, 200);
    EXPECT_EQ(second, 199);

    u32 bits = 77;
    ASSERT_EQ(setEventFlag(first, 0x1), 0u);
    // AND test with one of two bits set: fails, clears nothing.
    EXPECT_EQ(pollEventFlag(&bits, first, 0x3, OS_MODE_AND), 0u);
    EXPECT_EQ(bits, 0u);
    ASSERT_EQ(setEventFlag(first, 0x8), 0u);
    EXPECT_EQ(pollEventFlag(&bits, first, 0x1, OS_MODE_OR), 0u);
    EXPECT_EQ(bits, 0x9u);
    EXPECT_EQ(pollEventFlag(&bits, first, 0xFFFFFFFF, OS_MODE_OR), 0u);
    EXPECT_EQ(bits, 0u);

    // Without clear-on-read the initial bits stay.
    EXPECT_EQ(pollEventFlag(&bits, second, 0x100, OS_MODE_AND), 0u);
    EXPECT_EQ(bits, 0x100u);
    EXPECT_EQ(pollEventFlag(&bits, second, 0x100, OS_MODE_AND), 0u);
    EXPECT_EQ(bits, 0x100u);

    EXPECT_EQ(setEventFlag(201, 1), 0x80000005u);
    EXPECT_EQ(deleteEventFlag(first), 0u);
    EXPECT_EQ(setEventFlag(first, 1), 0x80000007u);
    EXPECT_EQ(pollEventFlag(&bits, first, 1, OS_MODE_OR), 0x80000007u);
    EXPECT_EQ(deleteEventFlag(first), 0x80000007u);

    // 101 automatic ids (200..100).
    u16 id = 0;
    for (int n = 0; n < 100; ++n) {
        ASSERT_EQ(createEventFlag(&id, &clearing), 0u) << n;
    }
    EXPECT_EQ(id, 100);
    EXPECT_EQ(createEventFlag(&id, &clearing), 0x80000010u);
}

TEST_F(OsTasks, SemaphoresCountAndRefuse)
{
    const SemaphoreRecord two{2, "Two"};
    u16 id = 0;
    ASSERT_EQ(createSemaphore(&id, &two), 0u);
    EXPECT_EQ(id, 300);
    EXPECT_EQ(waitSemaphore(id), 0u);
    EXPECT_EQ(waitSemaphore(id), 0u);

    // A third wait blocks until a signal arrives.
    std::atomic<bool> passed{false};
    std::thread waiter([&] {
        EXPECT_EQ(waitSemaphore(id), 0u);
        passed = true;
    });
    ASSERT_TRUE(waitUntil([&] {
        u32 waiters = 0;
        return getSemaphoreWaiterCount(id, &waiters) == 0u && waiters == 1;
    }));
    EXPECT_FALSE(passed.load());
    EXPECT_EQ(signalSemaphore(id), 0u);
    waiter.join();
    EXPECT_TRUE(passed.load());

    const SemaphoreRecord full{OS_SEMAPHORE_MAX_COUNT, "Full"};
    u16 fullId = 0;
    ASSERT_EQ(createSemaphore(&fullId, &full), 0u);
    EXPECT_EQ(fullId, 299);
    EXPECT_EQ(signalSemaphore(fullId), 0x80000013u);
    const SemaphoreRecord tooMany{0x80000000u, "Over"};
    EXPECT_EQ(createSemaphore(&fullId, &tooMany), 0x80000013u);

    EXPECT_EQ(waitSemaphore(301), 0x80000005u);
    EXPECT_EQ(signalSemaphore(100), 0x80000007u);

    // 151 automatic ids (300..150).
    for (int n = 2; n < 151; ++n) {
        ASSERT_EQ(createSemaphore(&id, &two), 0u) << n;
    }
    EXPECT_EQ(id, 150);
    EXPECT_EQ(createSemaphore(&id, &two), 0x80000010u);
}

TEST_F(OsTasks, DeletingASemaphoreReleasesItsWaiters)
{
    constexpr int WAITERS = 4;
    const SemaphoreRecord empty{0, "Empty"};
    u16 id = 0;
    ASSERT_EQ(createSemaphore(&id, &empty), 0u);
    std::atomic<u32> results[WAITERS] = {};
    std::vector<std::thread> waiters;
    for (std::atomic<u32>& result : results) {
        waiters.emplace_back([&] { result = waitSemaphore(id); });
    }
    ASSERT_TRUE(waitUntil([&] {
        u32 count = 0;
        return getSemaphoreWaiterCount(id, &count) == 0u && count == WAITERS;
    }));
    EXPECT_EQ(deleteSemaphore(id), 0u);
    for (std::thread& waiter : waiters) {
        waiter.join();
    }
    for (const std::atomic<u32>& result : results) {
        EXPECT_EQ(result.load(), 0x80000007u);
    }
}

TEST_F(OsTasks, ForeignThreadsGetStableIdsThatAreReleasedOnExit)
{
    u16 mainId = 0;
    ASSERT_EQ(getCurrentTaskId(&mainId), 0u);
    EXPECT_EQ(mainId, 0x8000);
    u16 again = 0;
    ASSERT_EQ(getCurrentTaskId(&again), 0u);
    EXPECT_EQ(again, mainId);

    // More threads than the table has entries, one after another: each keeps one id while it lives.
    std::set<u16> seen;
    for (int n = 0; n < 150; ++n) {
        u16 first = 0;
        u16 second = 0;
        u32 firstResult = 1;
        u32 secondResult = 1;
        std::thread thread([&] {
            firstResult = getCurrentTaskId(&first);
            std::this_thread::yield();
            secondResult = getCurrentTaskId(&second);
        });
        thread.join();
        ASSERT_EQ(firstResult, 0u) << n;
        ASSERT_EQ(secondResult, 0u) << n;
        ASSERT_EQ(first, second) << n;
        ASSERT_GE(first, 0x8001) << n;
        ASSERT_LE(first, 0x8063) << n;
        seen.insert(first);
    }
    EXPECT_LT(seen.size(), 100u);

    // 99 further live threads fill the table; the next live one gets 0 and 9.
    std::atomic<bool> release{false};
    std::atomic<int> claimed{0};
    std::vector<std::thread> holders;
    for (int n = 0; n < 99; ++n) {
        holders.emplace_back([&] {
            u16 id = 0;
            if (getCurrentTaskId(&id) == 0u && id >= 0x8000) {
                ++claimed;
            }
            waitUntil([&] { return release.load(); }, 10000);
        });
    }
    ASSERT_TRUE(waitUntil([&] { return claimed.load() == 99; }));
    u16 overflow = 1;
    u32 overflowResult = 0;
    std::thread extra([&] { overflowResult = getCurrentTaskId(&overflow); });
    extra.join();
    EXPECT_EQ(overflowResult, 9u);
    EXPECT_EQ(overflow, 0);
    release = true;
    for (std::thread& holder : holders) {
        holder.join();
    }
}

TEST(OsIdentity, UniquePerThreadAndNeverReused)
{
    const u64 mine = getCurrentThreadIdentity();
    EXPECT_NE(mine, 0u);
    EXPECT_EQ(getCurrentThreadIdentity(), mine);
    std::set<u64> seen{mine};
    for (int n = 0; n < 50; ++n) {
        u64 a = 0;
        u64 b = 0;
        std::thread thread([&] {
            a = getCurrentThreadIdentity();
            b = getCurrentThreadIdentity();
        });
        thread.join();
        EXPECT_EQ(a, b);
        EXPECT_TRUE(seen.insert(a).second) << "identity reused: " << a;
    }
}
