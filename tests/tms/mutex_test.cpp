#include <gtest/gtest.h>

#include "os_Tasks.h"
#include "tms_DebugBreak.h"
#include "tms_Mutex.h"
#include "tms_TestSupport.h"

namespace {

using TMS::TMSMutex;
using TMS::TMSMutexLocker;

class TMSMutexTest : public tmstest::OsLayerTest
{
};

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
