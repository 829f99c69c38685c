#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "logic_AbstractLogicComponent.h"
#include "logic_TestSupport.h"

namespace {

using LogicCtrl::AbstractLogicComponent;
using LogicCtrl::ILogicComponent;
using LogicCtrl::LogicConnection;
using LogicCtrl::LogicData;
using LogicCtrl::PortInfo;
using logictest::code;

PortInfo port(u32 kind, KVariant min = KVariant(), KVariant max = KVariant())
{
    PortInfo info;
    info.name = "p";
    info.kind = kind;
    info.minValue = min;
    info.maxValue = max;
    return info;
}

std::vector<PortInfo> ports(size_t count, const PortInfo& info = port(3, KVariant(0), KVariant(100)))
{
    return std::vector<PortInfo>(count, info);
}

size_t countIn(const LogicCtrl::LogicConnectionList& list, const ILogicComponent* peer, u32 peerPort)
{
    return static_cast<size_t>(
        std::count(list.begin(), list.end(), LogicConnection{const_cast<ILogicComponent*>(peer), peerPort}));
}

TEST(LogicWiring, EitherEndConnectsAndDisconnectsBoth)
{
    for (const u32 output : {0u, 3u}) {
        for (const bool fromOutput : {true, false}) {
            SCOPED_TRACE("output " + std::to_string(output) + (fromOutput ? " from the output" : " from the input"));
            AbstractLogicComponent a;
            AbstractLogicComponent b;
            ASSERT_EQ(a.initialize(1, {}, ports(4), 0), 0);
            ASSERT_EQ(b.initialize(2, ports(3), {}, 0), 0);
            for (int repeat = 0; repeat < 2; ++repeat) {
                ASSERT_EQ(fromOutput ? a.connectOutput(output, &b, 2) : b.connectInput(2, &a, output), 0);
                ASSERT_EQ(fromOutput ? b.connectInput(2, &a, output) : a.connectOutput(output, &b, 2), 0);
            }
            EXPECT_EQ(b.getInputConnection(2), (LogicConnection{&a, output}));
            EXPECT_EQ(a.getOutputConnections(output), (LogicCtrl::LogicConnectionList{{&b, 2}}));
            ASSERT_EQ(fromOutput ? b.disconnectInput(2) : a.disconnectOutputs(output), 0);
            EXPECT_EQ(b.getInputConnection(2).peer, nullptr);
            EXPECT_TRUE(a.getOutputConnections(output).empty());
        }
    }
}

TEST(LogicWiring, ANewSourceReplacesTheOldOneOnBothEnds)
{
    AbstractLogicComponent oldSource;
    AbstractLogicComponent newSource;
    AbstractLogicComponent input;
    ASSERT_EQ(oldSource.initialize(1, {}, ports(1), 0), 0);
    ASSERT_EQ(newSource.initialize(2, {}, ports(1), 0), 0);
    ASSERT_EQ(input.initialize(3, ports(1), {}, 0), 0);
    ASSERT_EQ(input.connectInput(0, &oldSource, 0), 0);
    ASSERT_EQ(newSource.connectOutput(0, &input, 0), 0);
    EXPECT_TRUE(oldSource.getOutputConnections(0).empty());
    EXPECT_EQ(input.getInputConnection(0), (LogicConnection{&newSource, 0}));
    // A source port out of range is refused without a half connection.
    EXPECT_EQ(input.connectInput(0, &oldSource, 1), code(0x80000001));
    EXPECT_EQ(input.getInputConnection(0).peer, nullptr);
    EXPECT_TRUE(newSource.getOutputConnections(0).empty());
}

// Random wiring, resets and destruction over six components: every record keeps pointing back, exactly once.
TEST(LogicWiring, RandomStepsKeepBothEndsConsistent)
{
    constexpr u32 COMPONENTS = 6;
    constexpr u32 PORTS = 3;
    std::array<std::unique_ptr<AbstractLogicComponent>, COMPONENTS> slots;
    u32 nextUid = 1;
    const auto fresh = [&](u32 slot) {
        slots[slot] = std::make_unique<AbstractLogicComponent>();
        ASSERT_EQ(slots[slot]->initialize(nextUid++, ports(PORTS), ports(PORTS), 0), 0);
    };
    for (u32 slot = 0; slot < COMPONENTS; ++slot) {
        fresh(slot);
    }
    const auto isLive = [&](const ILogicComponent* peer) {
        return std::any_of(slots.begin(), slots.end(), [&](const auto& c) { return c.get() == peer; });
    };
    std::mt19937 random(20240611);
    const auto pick = [&](u32 n) { return static_cast<u32>(random() % n); };
    for (int step = 0; step < 10000; ++step) {
        AbstractLogicComponent& a = *slots[pick(COMPONENTS)];
        AbstractLogicComponent& b = *slots[pick(COMPONENTS)];
        switch (pick(7)) {
        case 0:
            a.connectOutput(pick(PORTS), &b, pick(PORTS));
            break;
        case 1:
            a.connectInput(pick(PORTS), &b, pick(PORTS)); // replaces any other source
            break;
        case 2:
            a.disconnectInput(pick(PORTS));
            break;
        case 3:
            a.disconnectOutputs(pick(PORTS));
            break;
        case 4: {
            const u32 p = pick(PORTS);
            const LogicCtrl::LogicConnectionList list = a.getOutputConnections(p);
            if (!list.empty()) {
                a.disconnectOutput(p, list[0].peer, list[0].port);
            }
            break;
        }
        case 5:
            if (pick(4) == 0) {
                const u32 uid = a.getUniqID();
                a.reset();
                ASSERT_EQ(a.initialize(uid, ports(PORTS), ports(PORTS), 0), 0);
            }
            break;
        default:
            if (pick(4) == 0) {
                fresh(pick(COMPONENTS)); // the old one is destroyed without a reset
            }
            break;
        }
        for (const auto& c : slots) {
            for (u32 p = 0; p < PORTS; ++p) {
                const LogicConnection source = c->getInputConnection(p);
                if (source.peer != nullptr) {
                    ASSERT_TRUE(isLive(source.peer)) << "step " << step;
                    ASSERT_EQ(countIn(source.peer->getOutputConnections(source.port), c.get(), p), 1u)
                        << "step " << step;
                }
                for (const LogicConnection& destination : c->getOutputConnections(p)) {
                    ASSERT_TRUE(isLive(destination.peer)) << "step " << step;
                    ASSERT_EQ(destination.peer->getInputConnection(destination.port), (LogicConnection{c.get(), p}))
                        << "step " << step;
                }
            }
        }
    }
}

TEST(LogicValues, OverridesHoldAndReleaseDeliveries)
{
    AbstractLogicComponent source;
    AbstractLogicComponent destination;
    ASSERT_EQ(source.initialize(1, {}, ports(1), 0), 0);
    ASSERT_EQ(destination.initialize(2, ports(2), ports(1), 0), 0);
    ASSERT_EQ(source.connectOutput(0, &destination, 1), 0);

    LogicData forced;
    ASSERT_EQ(forced.initialize(3, "", KVariant(0), KVariant(100)), 0);
    ASSERT_EQ(forced.setValue(KVariant(9)), 0);
    ASSERT_EQ(destination.overrideInputData(1, forced), 0);
    EXPECT_TRUE(destination.isInputOverridden(1));
    EXPECT_FALSE(destination.isInputOverridden(0));
    EXPECT_TRUE(destination.hasOverrides());
    destination.isProcessDue(0, 0); // clears the request of the override

    ASSERT_EQ(source.setOutputInt(0, 40), 0);
    EXPECT_EQ(destination.receiveInput(1, source.getOutputData(0)), 0);
    EXPECT_EQ(destination.getInputData(1).getValue().getInt(), 9);
    EXPECT_FALSE(destination.isProcessRequested());

    ASSERT_EQ(destination.setAllOverridden(), 0);
    EXPECT_EQ(destination.setOutputInt(0, 5), 0);
    EXPECT_FALSE(destination.getOutputData(0).getValue().isValid());

    ASSERT_EQ(destination.clearAllOverridden(), 0);
    EXPECT_FALSE(destination.hasOverrides());
    ASSERT_EQ(source.process(0, 0), 0);
    EXPECT_EQ(destination.getInputData(1).getValue().getInt(), 40);
    EXPECT_TRUE(destination.isProcessRequested());
}

TEST(LogicValues, PortsOutOfRangeAnswerTheEmptyObjects)
{
    AbstractLogicComponent c;
    ASSERT_EQ(c.initialize(1, ports(3), ports(1), 0), 0);
    LogicData data;
    const std::function<i32()> calls[] = {
        [&] { return c.connectInput(3, &c, 0); },      [&] { return c.connectOutput(1, &c, 0); },
        [&] { return c.disconnectInput(3); },          [&] { return c.disconnectOutput(1, &c, 0); },
        [&] { return c.disconnectOutputs(1); },        [&] { return c.receiveInput(3, data); },
        [&] { return c.setOutputNormalized(1, 0.f); }, [&] { return c.setOutputFloat(1, 0.f); },
        [&] { return c.setOutputInt(1, 0); },          [&] { return c.setOutputUInt(1, 0); },
        [&] { return c.setOutputText(1, "1"); },       [&] { return c.triggerOutput(1); },
        [&] { return c.overrideInputData(3, data); },  [&] { return c.overrideOutputData(1, data); },
    };
    for (size_t i = 0; i < std::size(calls); ++i) {
        EXPECT_EQ(calls[i](), code(0x80000001)) << "call " << i;
    }
    EXPECT_EQ(c.getOutputData(1).getKind(), LogicData::KIND_NONE); // not input 1, which exists
    EXPECT_EQ(c.getInputData(3).getKind(), LogicData::KIND_NONE);
    EXPECT_TRUE(c.getInputInfo(3).name.empty());
    EXPECT_EQ(c.getInputConnection(3).peer, nullptr);
    EXPECT_TRUE(c.getOutputConnections(1).empty());
    EXPECT_FALSE(c.isOutputOverridden(1));
    EXPECT_FALSE(c.hasOverrides());

    EXPECT_EQ(c.initialize(2, {}, {}, 0), code(0x80000001));
    AbstractLogicComponent invalid;
    EXPECT_EQ(invalid.initialize(0xFFFFFFFF, {}, {}, 0), code(0x80100000));
}

TEST(LogicValues, TransferAcknowledgesThenDelivers)
{
    AbstractLogicComponent counter;
    AbstractLogicComponent destination;
    ASSERT_EQ(counter.initialize(1, ports(1), {port(8)}, 0), 0);
    ASSERT_EQ(destination.initialize(2, {port(2, KVariant(0u), KVariant(10u))}, {}, 0), 0);
    ASSERT_EQ(destination.connectInput(0, &counter, 0), 0);
    ASSERT_EQ(destination.receiveInput(0,
                                       [] {
                                           LogicData five;
                                           five.initialize(2, "", KVariant(0u), KVariant(10u));
                                           five.setValue(KVariant(5u));
                                           return five;
                                       }()),
              0);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(counter.triggerOutput(0), 0);
    }
    ASSERT_EQ(counter.transferOutputs(0, 1), 0);
    EXPECT_EQ(counter.getOutputData(0).getPreviousValue().getUInt(), 3u);
    EXPECT_EQ(destination.getInputData(0).getValue().getUInt(), 0u);

    // With no outputs a transfer only acknowledges the inputs.
    AbstractLogicComponent sink;
    ASSERT_EQ(sink.initialize(3, ports(1), {}, 0), 0);
    ASSERT_EQ(sink.receiveInput(0, counter.getOutputData(0)), 0);
    ASSERT_TRUE(sink.getInputData(0).isChanged());
    ASSERT_EQ(sink.transferOutputs(0, 0), 0);
    EXPECT_FALSE(sink.getInputData(0).isChanged());
}

TEST(LogicProcess, DueByModeIntervalAndRequest)
{
    struct Case
    {
        const char* name;
        u32 interval;
        u32 last;
        bool requested;
        u32 tick;
        u32 mode;
        bool due;
    };
    const Case cases[] = {
        {"interval not passed", 250, 800, false, 1000, 2, false},
        {"interval passed", 250, 700, false, 1000, 2, true},
        {"tick wrapped", 250, 0xFFFFFF00u, false, 0x100, 2, true},
        {"interval 0 without request", 0, 0, false, 1000, 2, false},
        {"interval 0 with request", 0, 0, true, 1000, 2, true},
        {"mode 0", 250, 999, false, 1000, 0, true},
        {"mode 1 without request", 250, 0, false, 1000, 1, false},
        {"mode 1 with request", 250, 0, true, 1000, 1, true},
        {"mode 3", 250, 0, true, 1000, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AbstractLogicComponent component;
        ASSERT_EQ(component.initialize(1, {}, {}, c.interval), 0);
        ASSERT_TRUE(component.isProcessDue(c.last, 0)); // records the last tick
        if (c.requested) {
            component.requestProcess();
        }
        EXPECT_EQ(component.isProcessDue(c.tick, c.mode), c.due);
        EXPECT_EQ(component.getLastProcessTick(), c.due ? c.tick : c.last);
        EXPECT_EQ(component.isProcessRequested(), c.requested && !c.due);
    }
}

} // namespace
