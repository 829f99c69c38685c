#include <gtest/gtest.h>

#include "compiler_DspResourceModel.h"

using namespace Compiler;

namespace {

// One DSP "D" of identical cores, each with "step" (333333) and "mem" (10 at offset 1000).
DspSystemInfo system(u32 cores, u32 fsHz = 96000)
{
    DspSystemInfo s{"S", fsHz, 32, {{0, "D", {}}}};
    for (u32 c = 0; c < cores; ++c) {
        s.m_dsps[0].m_cores.push_back({c, {{"step", 0, 333333, false}, {"mem", 1000, 10, true}}});
    }
    return s;
}

DspResourceDescription needs(std::vector<ResourceAmount> requirements)
{
    return {"D", 96000, 32, std::move(requirements)};
}

CompileComponent component(std::vector<ResourceAmount> requirements)
{
    CompileComponent c;
    c.m_dspResources = {needs(std::move(requirements))};
    return c;
}

} // namespace

TEST(DspResourceModel, StepIsATimeAxisAndOtherResourcesAreBlocks)
{
    DspResourceModel model;
    ASSERT_EQ(model.build(system(1), 32, true), COMPILER_OK);
    Assignment a;
    ASSERT_EQ(model.allocate(0, 0, 11, needs({{"step", 100}, {"mem", 4}}), a, 0), COMPILER_OK);
    EXPECT_EQ(a, (Assignment{0, 0, 11, 0, {{"step", 0, 100}, {"mem", 1000, 4}}}));
    EXPECT_EQ(model.getRemainingSize(0, 0, "step", 12345), 333233u);
    ASSERT_EQ(model.allocate(0, 0, 12, needs({{"step", 50}, {"mem", 3}}), a, 250), COMPILER_OK);
    EXPECT_EQ(a, (Assignment{0, 0, 12, 11, {{"step", 250, 50}, {"mem", 1004, 3}}}));
    EXPECT_EQ(model.getDsps()[0].m_cores[0].m_resources[0].m_used, 300u);
    EXPECT_EQ(model.getDsps()[0].m_cores[0].m_placed, (std::vector<u32>{11, 12}));

    // A requirement equal to what remains is refused (the candidate search accepts it).
    EXPECT_EQ(model.allocate(0, 0, 13, needs({{"mem", 3}}), a, 300), COMPILER_E_NO_ROOM);
    EXPECT_TRUE(a.m_allocations.empty());
    EXPECT_EQ(model.allocate(0, 1, 13, needs({{"mem", 1}}), a, 0), COMPILER_E_FAILED);
    EXPECT_EQ(model.getRemainingSize(0, 0, "none", 0), 0u);
    EXPECT_EQ(model.getRemainingSize(1, 0, "step", 0), 0u);
}

TEST(DspResourceModel, CandidateSearch)
{
    DspResourceModel model;
    ASSERT_EQ(model.build(system(3), 32, false), COMPILER_OK);
    Assignment a;
    ASSERT_EQ(model.allocate(0, 0, 1, needs({{"step", 500}}), a, 0), COMPILER_OK);
    ASSERT_EQ(model.allocate(0, 1, 2, needs({{"step", 333000}}), a, 0), COMPILER_OK);
    ASSERT_EQ(model.allocate(0, 2, 3, needs({{"step", 700}, {"mem", 9}}), a, 0), COMPILER_OK);
    std::vector<CoreCandidate> candidates;
    u64 next = 0;
    struct Case
    {
        std::vector<ResourceAmount> requirements;
        u64 step;
        i32 result;
        std::vector<CoreCandidate> candidates;
        u64 next;
    };
    const Case cases[] = {
        // Core 0 busy until 500, core 1 until 333000, core 2 until 700: the earliest is reported.
        {{{"step", 200}}, 200, COMPILER_E_BUSY, {}, 500},
        {{{"step", 200}}, 600, COMPILER_OK, {{0, 0}}, 700},
        {{{"step", 200}}, 700, COMPILER_OK, {{0, 0}, {0, 2}}, 333000},
        // A range starting at 333000 ends within the capacity only when it is at most 333 long.
        {{{"step", 333}}, 333000, COMPILER_OK, {{0, 0}, {0, 1}, {0, 2}}, UINT64_MAX},
        {{{"step", 334}}, 333000, COMPILER_E_STEP_SHORT, {}, UINT64_MAX},
        // Short on core 1 while the other two are busy: busy wins.
        {{{"step", 332000}}, 100, COMPILER_E_BUSY, {}, 500},
        // "mem" drops core 2 whatever its step state; nothing left anywhere drops every core.
        {{{"step", 1}, {"mem", 2}}, 333000, COMPILER_OK, {{0, 0}, {0, 1}}, UINT64_MAX},
        {{{"mem", 11}}, 0, COMPILER_E_FAILED, {}, UINT64_MAX},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(model.findCandidateCores(component(c.requirements), candidates, c.step, next), c.result) << c.step;
        EXPECT_EQ(candidates, c.candidates) << c.step;
        EXPECT_EQ(next, c.next) << c.step;
    }
    // A description for another DSP fits nowhere.
    CompileComponent other = component({{"step", 1}});
    other.m_dspResources[0].m_dspName = "E";
    EXPECT_EQ(model.findCandidateCores(other, candidates, 1000, next), COMPILER_E_FAILED);

    ASSERT_EQ(model.setStepUnlimited(), COMPILER_OK);
    EXPECT_EQ(model.findCandidateCores(component({{"step", 400000}}), candidates, 200, next), COMPILER_E_BUSY);
    EXPECT_EQ(next, 500u);
    EXPECT_EQ(model.findCandidateCores(component({{"step", 400000}}), candidates, 333000, next), COMPILER_OK);
    EXPECT_EQ(candidates.size(), 3u);
}

TEST(DspResourceModel, OverdrawnAndInvalidModels)
{
    DspResourceModel model;
    ASSERT_EQ(model.build(system(1), 32, false), COMPILER_OK);
    Assignment a;
    // A start after the used mark may end beyond the capacity; what remains then is 0, not a wrapped size.
    ASSERT_EQ(model.allocate(0, 0, 1, needs({{"step", 100}}), a, 333300), COMPILER_OK);
    EXPECT_EQ(model.getRemainingSize(0, 0, "step", 0), 0u);

    EXPECT_EQ(model.build(system(1, 0), 32, true), COMPILER_E_FAILED);
    EXPECT_FALSE(model.isValid());
    EXPECT_TRUE(model.getName().empty());
    EXPECT_EQ(model.getDspName(0), nullptr);
    EXPECT_TRUE(model.getDsps().empty());
    std::vector<CoreCandidate> candidates{{1, 1}};
    u64 next = 0;
    EXPECT_EQ(model.findCandidateCores(component({{"step", 1}}), candidates, 0, next), COMPILER_E_FAILED);
    EXPECT_TRUE(candidates.empty());
    EXPECT_EQ(model.allocate(0, 0, 1, needs({{"step", 1}}), a, 0), COMPILER_E_FAILED);
    EXPECT_EQ(model.setStepUnlimited(), COMPILER_E_FAILED);
    EXPECT_EQ(model.getRemainingSize(0, 0, "step", 0), 0u);

    DspSystemInfo none{"N", 1, 1, {}};
    ASSERT_EQ(model.build(none, 0, false), COMPILER_OK);
    EXPECT_TRUE(model.isValid());
    EXPECT_EQ(model.getName(), "N");
}
