#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "os_Tasks.h"
#include "tms_DebugBreak.h"
#include "tms_Mutex.h"
#include "tms_TestSupport.h"

namespace {

using TMS::TMSMutex;

class TMSMutexThreads : public tmstest::OsLayerTest
{
};

// Starts a thread that locks the mutex, records that it got it, then unlocks.
struct Contender
{
    std::atomic<bool> acquired{false};
    std::atomic<u32> lockResult{0xFFFFFFFF};
    std::thread thread;

    explicit Contender(TMSMutex& mutex)
    {
        thread = std::thread([this, &mutex] {
            lockResult = mutex.lock();
            acquired = true;
            mutex.unlock();
        });
    }
    ~Contender()
    {
        if (thread.joinable()) {
            thread.join();
        }
    }
};

TEST_F(TMSMutexThreads, ReentryNeedsAsManyUnlocks)
{
    TMSMutex mutex("Reentry");
    ASSERT_TRUE(mutex.isValid());
    ASSERT_EQ(mutex.lock(), 0u);
    ASSERT_EQ(mutex.lock(), 0u);
    EXPECT_EQ(mutex.getRecursionCount(), 1);
    EXPECT_EQ(mutex.getOwner(), ossupport::getCurrentThreadIdentity());

    Contender other(mutex);
    ASSERT_EQ(mutex.unlock(), 0u);
    // Still held once: the other thread must keep waiting.
    ASSERT_TRUE(tmstest::waitUntil([&] { return mutex.getWaiterCount() == 1; }));
    EXPECT_FALSE(other.acquired.load());
    EXPECT_TRUE(mutex.isHeldByCaller());

    ASSERT_EQ(mutex.unlock(), 0u);
    EXPECT_TRUE(tmstest::waitUntil([&] { return other.acquired.load(); }));
    other.thread.join();
    EXPECT_EQ(other.lockResult.load(), 0u);
    EXPECT_EQ(mutex.getOwner(), 0u);
}

TEST_F(TMSMutexThreads, UnlockByAnotherThreadIsRefusedAndOwnerKeepsIt)
{
    TMSMutex mutex("Owned");
    ASSERT_EQ(mutex.lock(), 0u);
    u64 breaks = TMS::getDebugBreakCount();

    u32 foreignResult = 0;
    std::thread([&] { foreignResult = mutex.unlock(); }).join();
    EXPECT_EQ(foreignResult, 0x80000005u);
    EXPECT_EQ(TMS::getDebugBreakCount(), breaks + 1);
    EXPECT_EQ(mutex.getOwner(), ossupport::getCurrentThreadIdentity());

    // The owner still holds it: a contender waits until the owner lets go.
    Contender other(mutex);
    ASSERT_TRUE(tmstest::waitUntil([&] { return mutex.getWaiterCount() == 1; }));
    EXPECT_FALSE(other.acquired.load());
    EXPECT_EQ(mutex.unlock(), 0u);
    EXPECT_TRUE(tmstest::waitUntil([&] { return other.acquired.load(); }));
}

TEST_F(TMSMutexThreads, UnlockOfUnheldMutexIsRefusedAndReleasesNothing)
{
    TMSMutex mutex("Unheld");
    u64 breaks = TMS::getDebugBreakCount();
    EXPECT_EQ(mutex.unlock(), 0x80000005u);
    EXPECT_EQ(mutex.unlock(), 0x80000005u);
    EXPECT_EQ(TMS::getDebugBreakCount(), breaks + 2);

    // Had the stray unlocks counted, a second thread could now enter while this one holds the mutex.
    ASSERT_EQ(mutex.lock(), 0u);
    Contender other(mutex);
    ASSERT_TRUE(tmstest::waitUntil([&] { return mutex.getWaiterCount() == 1; }));
    EXPECT_FALSE(other.acquired.load());
    ASSERT_EQ(mutex.unlock(), 0u);
    EXPECT_TRUE(tmstest::waitUntil([&] { return other.acquired.load(); }));
}

// Eight threads take the mutex (sometimes re-entering it) and, while not holding it, try to unlock it. The
// stray unlocks are refused and never admit a second holder; no increment of the shared total is lost.
TEST_F(TMSMutexThreads, UnheldUnlocksNeverAdmitTwoHolders)
{
    TMSMutex mutex("Shared");
    ASSERT_TRUE(mutex.isValid());
    constexpr int THREADS = 8;
    constexpr int ROUNDS = 3000;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> wrongResults{0};
    long total = 0;

    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < ROUNDS; ++round) {
                if (mutex.unlock() != 0x80000005u) {
                    wrongResults.fetch_add(1);
                }
                if (mutex.lock() != 0) {
                    wrongResults.fetch_add(1);
                    continue;
                }
                if (inside.fetch_add(1) != 0) {
                    overlaps.fetch_add(1);
                }
                bool reenter = (round + t) % 4 == 0;
                if (reenter && mutex.lock() != 0) {
                    wrongResults.fetch_add(1);
                }
                ++total;
                if (reenter && mutex.unlock() != 0) {
                    wrongResults.fetch_add(1);
                }
                inside.fetch_sub(1);
                if (mutex.unlock() != 0) {
                    wrongResults.fetch_add(1);
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(wrongResults.load(), 0);
    EXPECT_EQ(total, static_cast<long>(THREADS) * ROUNDS);
    EXPECT_EQ(mutex.getOwner(), 0u);
}

// A mutex held across an OS-layer shutdown/initialize, whose old semaphore id now belongs to another mutex with a
// waiter: the contended hand-over of the first never wakes the waiter of the second.
TEST_F(TMSMutexThreads, AHandOverAfterALayerRestartNeverWakesTheNewOwnerOfTheOldId)
{
    TMSMutex old("Old");
    const u16 oldId = old.getSemaphoreId();
    ASSERT_NE(oldId, TMSMutex::INVALID_SEMAPHORE);
    ASSERT_EQ(old.lock(), 0u);
    ASSERT_EQ(ossupport::shutdown(), 0u);
    ASSERT_EQ(ossupport::initialize(), 0u);

    // Every id down to the old one is taken, then the old one is handed to a new mutex.
    std::vector<u16> taken;
    ASSERT_TRUE(tmstest::takeSemaphoresUpTo(oldId, taken));
    taken.pop_back();
    ASSERT_EQ(ossupport::deleteSemaphore(oldId), 0u);
    TMSMutex other("Other");
    ASSERT_EQ(other.getSemaphoreId(), oldId);

    std::atomic<bool> otherHeld{false};
    std::atomic<bool> releaseOther{false};
    std::thread holder([&] {
        other.lock();
        otherHeld = true;
        vdtest::waitUntil([&] { return releaseOther.load(); }, 20000);
        other.unlock();
    });
    ASSERT_TRUE(tmstest::waitUntil([&] { return otherHeld.load(); }));
    Contender otherWaiter(other);
    Contender oldWaiter(old);
    ASSERT_TRUE(tmstest::waitUntil([&] { return other.getWaiterCount() == 1 && old.getWaiterCount() == 1; }));
    EXPECT_NE(old.getSemaphoreId(), oldId);

    ASSERT_EQ(old.unlock(), 0u);
    EXPECT_TRUE(tmstest::waitUntil([&] { return oldWaiter.acquired.load(); }));
    EXPECT_EQ(oldWaiter.lockResult.load(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(otherWaiter.acquired.load());
    EXPECT_EQ(other.getWaiterCount(), 1u);

    releaseOther = true;
    holder.join();
    EXPECT_TRUE(tmstest::waitUntil([&] { return otherWaiter.acquired.load(); }));
    otherWaiter.thread.join();
    oldWaiter.thread.join();
    EXPECT_EQ(other.getOwner(), 0u);
    EXPECT_EQ(other.getWaiterCount(), 0u);
    EXPECT_EQ(old.getOwner(), 0u);
    tmstest::deleteSemaphores(taken);
}

// More threads than the OS layer has foreign ids: every thread is still told apart, so two of them never hold
// the mutex at once.
TEST_F(TMSMutexThreads, ThreadsBeyondTheForeignIdTableStayExclusive)
{
    TMSMutex mutex("Many");
    constexpr int THREADS = 120;
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> failures{0};

    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&] {
            u16 id = 0;
            ossupport::getCurrentTaskId(&id); // claims a foreign id while one is left
            ready.fetch_add(1);
            while (!go.load()) {
                std::this_thread::yield();
            }
            for (int round = 0; round < 50; ++round) {
                if (mutex.lock() != 0) {
                    failures.fetch_add(1);
                    continue;
                }
                if (inside.fetch_add(1) != 0) {
                    overlaps.fetch_add(1);
                }
                std::this_thread::yield();
                inside.fetch_sub(1);
                if (mutex.unlock() != 0) {
                    failures.fetch_add(1);
                }
            }
        });
    }
    ASSERT_TRUE(tmstest::waitUntil([&] { return ready.load() == THREADS; }, 20000));
    go.store(true);
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(failures.load(), 0);
}

} // namespace
