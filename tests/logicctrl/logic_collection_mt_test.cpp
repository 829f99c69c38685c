#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "logic_AbstractLogicComponent.h"
#include "logic_LogicComponentCollection.h"
#include "logic_TestSupport.h"
#include "tms_ThreadTestSupport.h"

namespace {

using LogicCtrl::AbstractLogicComponent;
using LogicCtrl::LogicComponentCollection;
using LogicCtrl::LogicData;
using LogicCtrl::PortInfo;
using logictest::code;

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new tmstest::RepositoryEnvironment());

// Four threads add and remove their own uids while a fifth switches the registry off and on: every call answers
// one of its codes and nothing races.
TEST(LogicRegistryThreads, AddAndRemoveRaceFinalizeAndInitialize)
{
    LogicComponentCollection& registry = LogicComponentCollection::getInstance();
    ASSERT_EQ(registry.initialize(), 0);
    constexpr u32 THREADS = 4;
    constexpr u32 ROUNDS = 400;
    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    std::vector<std::thread> threads;
    for (u32 t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            std::vector<std::unique_ptr<AbstractLogicComponent>> components;
            for (u32 round = 0; round < ROUNDS; ++round) {
                components.push_back(std::make_unique<AbstractLogicComponent>());
                AbstractLogicComponent& component = *components.back();
                if (component.initialize(t * ROUNDS + round, {}, {}, 0) != 0) {
                    unexpected.fetch_add(1);
                }
                const i32 added = registry.addComponent(&component);
                const bool found = registry.findComponent(component.getUniqID()) == &component;
                const i32 removed = registry.removeComponent(&component);
                if ((added != 0 && added != code(0x80000000)) ||
                    (removed != 0 && removed != code(0x80000000) && removed != code(0x80000001)) ||
                    (added == 0 && removed == 0 && !found)) {
                    unexpected.fetch_add(1);
                }
            }
        });
    }
    threads.emplace_back([&] {
        while (!stop.load()) {
            if (registry.finalize() != 0 || registry.initialize() != 0) {
                unexpected.fetch_add(1);
            }
        }
    });
    for (u32 t = 0; t < THREADS; ++t) {
        threads[t].join();
    }
    stop = true;
    threads.back().join();
    EXPECT_EQ(unexpected.load(), 0);
    EXPECT_EQ(registry.finalize(), 0);
}

// A component whose input changes asks the thread named "DSP" for a pass with user event 18.
TEST(LogicDspRequest, ReachesTheThreadNamedDsp)
{
    EXPECT_EQ(LogicCtrl::requestDspProcessing(), 0); // no such thread yet: nothing happens
    tmstest::RecordingThread dsp;
    ASSERT_EQ(tmstest::initializeThread(dsp, "DSP"), 0u);
    ASSERT_EQ(dsp.start(TMS::AbstractMessage::emptyFields()), 0u);

    PortInfo port;
    port.kind = LogicData::KIND_SIGNED;
    port.minValue = KVariant(0);
    port.maxValue = KVariant(10);
    AbstractLogicComponent source;
    AbstractLogicComponent destination;
    ASSERT_EQ(source.initialize(1, {}, {port}, 0), 0);
    ASSERT_EQ(destination.initialize(2, {port}, {}, 0), 0);
    ASSERT_EQ(source.connectOutput(0, &destination, 0), 0);
    ASSERT_EQ(source.setOutputInt(0, 4), 0);
    ASSERT_EQ(source.process(1, 1), 0); // not requested: nothing delivered
    EXPECT_EQ(dsp.countOf("event:18"), 0u);
    ASSERT_EQ(source.process(1, 0), 0);
    EXPECT_TRUE(destination.isProcessRequested());
    EXPECT_TRUE(dsp.waitForCount("event:18", 1));
}

} // namespace
