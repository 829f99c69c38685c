#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "os_Tasks.h"
#include "tms_DebugBreak.h"
#include "tms_Mutex.h"
#include "tms_TestSupport.h"

namespace {

using TMS::TMSMutex;
using TMS::TMSMutexLocker;

class TMSMutexTest : public tmstest::OsLayerTest {};

// Starts a thread that locks the mutex, records that it got it, then unlocks.
struct Contender {
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

TEST_F(TMSMutexTest, ReentryNeedsAsManyUnlocks)
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
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(other.acquired.load());
    EXPECT_TRUE(mutex.isHeldByCaller());

    ASSERT_EQ(mutex.unlock(), 0u);
    EXPECT_TRUE(tmstest::waitUntil([&] { return other.acquired.load(); }));
    other.thread.join();
    EXPECT_EQ(other.lockResult.load(), 0u);
    EXPECT_EQ(mutex.getOwner(), 0u);
}

TEST_F(TMSMutexTest, UnlockByAnotherThreadIsRefusedAndOwnerKeepsIt)
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
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(other.acquired.load());
    EXPECT_EQ(mutex.unlock(), 0u);
    EXPECT_TRUE(tmstest::waitUntil([&] { return other.acquired.load(); }));
}

TEST_F(TMSMutexTest, UnlockOfUnheldMutexIsRefusedAndReleasesNothing)
{
    TMSMutex mutex("Unheld");
    u64 breaks = TMS::getDebugBreakCount();
    EXPECT_EQ(mutex.unlock(), 0x80000005u);
    EXPECT_EQ(mutex.unlock(), 0x80000005u);
    EXPECT_EQ(TMS::getDebugBreakCount(), breaks + 2);

    // Had the stray unlocks counted, a second thread could now enter while this one holds the mutex.
    ASSERT_EQ(mutex.lock(), 0u);
    Contender other(mutex);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(other.acquired.load());
    ASSERT_EQ(mutex.unlock(), 0u);
    EXPECT_TRUE(tmstest::waitUntil([&] { return other.acquired.load(); }));
}

TEST_F(TMSMutexTest, LockerHoldsForItsScopeAndIgnoresNull)
{
    TMSMutex mutex("Locker");
    {
        TMSMutexLocker locker(&mutex);
        EXPECT_TRUE(locker.isLocked());
        EXPECT_TRUE(mutex.isHeldByCaller());
        {
            TMSMutexLocker inner(&mutex);
            EXPECT_EQ(mutex.getRecursionCount(), 1);
        }
        EXPECT_TRUE(mutex.isHeldByCaller());
    }
    EXPECT_EQ(mutex.getOwner(), 0u);
    TMSMutexLocker none(nullptr);
    EXPECT_FALSE(none.isLocked());
}

TEST_F(TMSMutexTest, DestroyingAHeldMutexCallsTheDebugBreakHook)
{
    u64 breaks = TMS::getDebugBreakCount();
    {
        TMSMutex mutex("Held");
        ASSERT_EQ(mutex.lock(), 0u);
    }
    EXPECT_EQ(TMS::getDebugBreakCount(), breaks + 1);
}

// A mutex built before the OS layer starts (a member of an object built early) works once the layer is up.
TEST(TMSMutexLayer, MutexBuiltBeforeTheLayerWorksAfterwards)
{
    ASSERT_FALSE(ossupport::isInitialized());
    TMSMutex mutex("Early");
    EXPECT_FALSE(mutex.isValid());
    EXPECT_EQ(mutex.lock(), 0x80000000u);
    EXPECT_EQ(mutex.unlock(), 0x80000000u);

    ASSERT_EQ(ossupport::initialize(), 0u);
    EXPECT_TRUE(mutex.isValid());
    EXPECT_NE(mutex.getSemaphoreId(), TMSMutex::INVALID_SEMAPHORE);
    EXPECT_EQ(mutex.lock(), 0u);
    EXPECT_EQ(mutex.unlock(), 0u);
    ossupport::shutdown();
}

} // namespace
