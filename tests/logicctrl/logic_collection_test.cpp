#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "expression_Instances.h"
#include "logic_AbstractLogicComponent.h"
#include "logic_LogicComponentCollection.h"
#include "logic_TestSupport.h"
#include "tms_DebugBreak.h"

namespace {

using LogicCtrl::AbstractLogicComponent;
using LogicCtrl::LogicComponentCollection;
using logictest::code;

constexpr const char* INITIALIZED_LINE = "[i] LogicComponentCollection::initialize - LOGICCOMPO_DB() initialized.\n";

class Component : public AbstractLogicComponent
{
public:
    explicit Component(u32 uid) { EXPECT_EQ(initialize(uid, {}, {}, 0), 0); }
};

class LogicRegistry : public ::testing::Test
{
protected:
    void SetUp() override { logictest::startOsLayer(); }
    LogicComponentCollection& registry = LogicComponentCollection::getInstance();
};

TEST_F(LogicRegistry, FollowsItsLifeCycleAndKeysByTheReportedUid)
{
    Component first(5);
    Component sameUid(5);
    Component never(9);
    const auto everyOperationFails = [&] {
        EXPECT_EQ(registry.addComponent(&first), code(0x80000000));
        EXPECT_EQ(registry.removeComponent(&first), code(0x80000000));
        EXPECT_EQ(registry.clear(), code(0x80000000));
        EXPECT_EQ(registry.finalize(), code(0x80000000));
        EXPECT_EQ(registry.findComponent(5), nullptr);
    };
    everyOperationFails();

    testing::internal::CaptureStdout();
    EXPECT_EQ(registry.initialize(), 0);
    EXPECT_EQ(registry.initialize(), code(0x80080000));
    EXPECT_EQ(logictest::countOf(testing::internal::GetCapturedStdout(), INITIALIZED_LINE), 1u);

    EXPECT_EQ(registry.addComponent(&first), 0);
    EXPECT_EQ(registry.addComponent(&sameUid), code(0x80100000));
    EXPECT_EQ(registry.findComponent(5), &first);
    const u64 breaks = TMS::getDebugBreakCount();
    EXPECT_EQ(registry.addComponent(nullptr), code(0x80000001));
    EXPECT_EQ(registry.removeComponent(nullptr), code(0x80000001));
    EXPECT_EQ(TMS::getDebugBreakCount(), breaks + 2);
    EXPECT_EQ(registry.removeComponent(&never), code(0x80000001));
    // Another object reporting the same uid removes the entry.
    EXPECT_EQ(registry.removeComponent(&sameUid), 0);
    EXPECT_EQ(registry.findComponent(5), nullptr);
    EXPECT_EQ(registry.removeComponent(&first), code(0x80000001));
    EXPECT_EQ(registry.addComponent(&never), 0);
    EXPECT_EQ(registry.clear(), 0);
    EXPECT_EQ(registry.findComponent(9), nullptr);

    EXPECT_EQ(registry.addComponent(&first), 0);
    EXPECT_EQ(registry.finalize(), 0);
    everyOperationFails();
    testing::internal::CaptureStdout();
    EXPECT_EQ(registry.initialize(), 0);
    EXPECT_EQ(logictest::countOf(testing::internal::GetCapturedStdout(), INITIALIZED_LINE), 1u);
    EXPECT_EQ(registry.findComponent(5), nullptr); // emptied by finalize
    EXPECT_EQ(registry.finalize(), 0);
}

TEST_F(LogicRegistry, WithoutASemaphoreItStaysUnusable)
{
    logictest::SemaphoreHog hog;
    Component component(1);
    EXPECT_EQ(registry.initialize(), code(0x80000000));
    EXPECT_EQ(registry.initialize(), code(0x80080000));
    EXPECT_EQ(registry.addComponent(&component), code(0x80000000));
}

TEST_F(LogicRegistry, AChildExitingWithoutFinalizeExitsCleanly)
{
    EXPECT_EXIT(
        {
            static Component component(3);
            if (LogicComponentCollection::getInstance().initialize() != 0 ||
                LogicComponentCollection::getInstance().addComponent(&component) != 0) {
                std::exit(3);
            }
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(LogicExpression, EveryNameGetsTheFallback)
{
    const Expression::IExpression* fallback = Expression::getDefaultExpression();
    ASSERT_EQ(Expression::getDefaultExpression()->getNormMin(), 30u);
    ASSERT_EQ(Expression::getDefaultExpression()->getNormMax(), 330u);
    for (const char* name : {"", "Level", "x", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(&LogicCtrl::findExpression(name), fallback) << (name != nullptr ? name : "null");
    }
}

} // namespace
