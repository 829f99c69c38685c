#include "dadov_Mutex.h"
#include "logic_MutexContract.h"

namespace logictest {
namespace {

struct EngineLockTraits
{
    using Type = DADOV::Mutex;
    static constexpr const char* DEFAULT_NAME = "DADOV";
    static std::unique_ptr<Type> make()
    {
        auto mutex = std::make_unique<Type>();
        (void)mutex->create(nullptr);
        return mutex;
    }
};

} // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Engine, MutexContract, EngineLockTraits);

// The engine lock exists between create and destroy only.
TEST(EngineLock, LivesFromCreateToDestroy)
{
    startOsLayer();
    DADOV::Mutex mutex;
    EXPECT_FALSE(mutex.isCreated());
    EXPECT_EQ(mutex.lock(), code(0x80000000));
    ASSERT_EQ(mutex.create("AudioCfg"), 0);
    EXPECT_STREQ(mutex.getName(), "AudioCfg");
    ASSERT_EQ(mutex.lock(), 0);
    ASSERT_EQ(mutex.lock(), 0);
    EXPECT_EQ(mutex.unlock(), 0);
    EXPECT_TRUE(mutex.isHeldByCaller()); // locked twice: two unlocks
    EXPECT_EQ(mutex.unlock(), 0);
    mutex.destroy();
    EXPECT_FALSE(mutex.isCreated());
    EXPECT_EQ(mutex.lock(), code(0x80000000));
}

} // namespace logictest
