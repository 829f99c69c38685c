// Tests every re-entrant mutex built on LogicCtrl::Mutex must pass. A suite instantiates them with a traits type:
//   struct Traits { using Type = ...; static constexpr const char* DEFAULT_NAME = ...;
//                   static std::unique_ptr<Type> make(); };
// make() builds a mutex under its default name.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "logic_Mutex.h"
#include "logic_TestSupport.h"
#include "os_Tasks.h"
#include "tms_DebugBreak.h"
#include "tms_TestSupport.h"

namespace logictest {

template <typename Traits> class MutexContract : public ::testing::Test
{
protected:
    void SetUp() override { startOsLayer(); }
};

TYPED_TEST_SUITE_P(MutexContract);

TYPED_TEST_P(MutexContract, ThirdUnlockHandsItToTheBlockedThread)
{
    auto mutex = TypeParam::make();
    ASSERT_TRUE(mutex->isCreated());
    EXPECT_STREQ(mutex->getName(), TypeParam::DEFAULT_NAME);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(mutex->lock(), 0);
    }
    EXPECT_EQ(mutex->getRecursionCount(), 2);
    EXPECT_TRUE(mutex->isHeldByCaller());

    std::atomic<bool> acquired{false};
    std::atomic<i32> otherResult{-1};
    std::thread other([&] {
        otherResult = mutex->lock();
        acquired = true;
        mutex->unlock();
    });
    EXPECT_TRUE(tmstest::waitUntil([&] { return mutex->getWaiterCount() == 1; }));
    EXPECT_EQ(mutex->unlock(), 0);
    EXPECT_EQ(mutex->unlock(), 0);
    EXPECT_FALSE(acquired.load());
    EXPECT_EQ(mutex->getWaiterCount(), 1u);
    EXPECT_EQ(mutex->unlock(), 0);
    EXPECT_TRUE(tmstest::waitUntil([&] { return acquired.load(); }));
    other.join();
    EXPECT_EQ(otherResult.load(), 0);
    EXPECT_EQ(mutex->getOwner(), 0u);
    EXPECT_EQ(mutex->getWaiterCount(), 0u);
}

TYPED_TEST_P(MutexContract, UnlockByANonOwnerIsRefusedAndLeavesTheHolder)
{
    auto mutex = TypeParam::make();
    ASSERT_EQ(mutex->lock(), 0);
    ASSERT_EQ(mutex->lock(), 0);
    const u64 owner = mutex->getOwner();
    const u64 breaks = TMS::getDebugBreakCount();
    i32 strayResult = 0;
    std::thread([&] { strayResult = mutex->unlock(); }).join();
    EXPECT_EQ(strayResult, code(0x80000000));
    EXPECT_EQ(TMS::getDebugBreakCount(), breaks + 1);
    EXPECT_EQ(mutex->getOwner(), owner);
    EXPECT_EQ(mutex->getRecursionCount(), 1);
    EXPECT_EQ(mutex->unlock(), 0);
    EXPECT_EQ(mutex->unlock(), 0);
    EXPECT_EQ(mutex->unlock(), code(0x80000000)); // nobody holds it now
}

TYPED_TEST_P(MutexContract, WithEveryAutomaticIdTakenItIsNotCreated)
{
    SemaphoreHog hog;
    ASSERT_EQ(hog.lastResult(), 0x80000010u);
    const u64 breaks = TMS::getDebugBreakCount();
    auto mutex = TypeParam::make();
    EXPECT_EQ(TMS::getDebugBreakCount(), breaks + 1);
    EXPECT_FALSE(mutex->isCreated());
    EXPECT_EQ(mutex->getSemaphoreId(), LogicCtrl::Mutex::NO_SEMAPHORE);
    EXPECT_EQ(mutex->lock(), code(0x80000000));
    EXPECT_EQ(mutex->getOwner(), 0u);
    EXPECT_EQ(mutex->unlock(), code(0x80000000));
}

// After the OS layer restarts, the old id may belong to another object: the mutex takes a fresh one.
TYPED_TEST_P(MutexContract, AfterALayerRestartTheOldIdIsLeftToItsNewOwner)
{
    auto mutex = TypeParam::make();
    const u16 oldId = mutex->getSemaphoreId();
    ASSERT_NE(oldId, LogicCtrl::Mutex::NO_SEMAPHORE);
    ASSERT_EQ(ossupport::shutdown(), 0u);
    ASSERT_EQ(ossupport::initialize(), 0u);
    std::vector<u16> taken;
    ASSERT_TRUE(tmstest::takeSemaphoresUpTo(oldId, taken));

    ASSERT_EQ(mutex->lock(), 0);
    std::atomic<bool> acquired{false};
    std::thread other([&] {
        if (mutex->lock() == 0) {
            acquired = true;
            mutex->unlock();
        }
    });
    EXPECT_TRUE(tmstest::waitUntil([&] { return mutex->getWaiterCount() == 1; }));
    const u16 freshId = mutex->getSemaphoreId();
    EXPECT_NE(freshId, oldId);
    EXPECT_NE(freshId, LogicCtrl::Mutex::NO_SEMAPHORE);
    EXPECT_EQ(mutex->unlock(), 0);
    other.join();
    EXPECT_TRUE(acquired.load());
    tmstest::deleteSemaphores(taken);
}

TYPED_TEST_P(MutexContract, ContendedCountingStaysExclusive)
{
    auto mutex = TypeParam::make();
    constexpr int THREADS = 4;
    constexpr int ROUNDS = 2000;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> failures{0};
    long total = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < ROUNDS; ++round) {
                if (mutex->lock() != 0) {
                    failures.fetch_add(1);
                    continue;
                }
                const bool reenter = (round + t) % 3 == 0;
                if (reenter && mutex->lock() != 0) {
                    failures.fetch_add(1);
                }
                if (inside.fetch_add(1) != 0) {
                    overlaps.fetch_add(1);
                }
                ++total;
                inside.fetch_sub(1);
                if ((reenter && mutex->unlock() != 0) || mutex->unlock() != 0) {
                    failures.fetch_add(1);
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(total, static_cast<long>(THREADS) * ROUNDS);
    EXPECT_EQ(mutex->getOwner(), 0u);
}

REGISTER_TYPED_TEST_SUITE_P(MutexContract, ThirdUnlockHandsItToTheBlockedThread,
                            UnlockByANonOwnerIsRefusedAndLeavesTheHolder, WithEveryAutomaticIdTakenItIsNotCreated,
                            AfterALayerRestartTheOldIdIsLeftToItsNewOwner, ContendedCountingStaysExclusive);

} // namespace logictest
