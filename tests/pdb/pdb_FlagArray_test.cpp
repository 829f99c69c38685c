// Change flags: word layout, counts, findNext walks, copies and a random model.
#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "pdb_FlagArray.h"

using namespace PDB;

namespace {

constexpr i32 kBadIndex = static_cast<i32>(0x80000001u);
constexpr i32 kFlagIndexOutOfRange = static_cast<i32>(0x80200001u);
constexpr i32 kNoFurtherChange = 0x200000;

// Every set flag, in order, by the consumer's walk.
std::vector<u32> walk(const IFlagArray& flags)
{
    std::vector<u32> found;
    u32 index = 0;
    while (flags.findNext(index) == 0) {
        found.push_back(index);
        ++index;
        if (index == 0) {
            break; // wrapped past the last possible index
        }
    }
    return found;
}

} // namespace

TEST(FlagArray, WordLayoutAndCounts)
{
    FlagArray flags;
    ASSERT_EQ(flags.allocate(40), 0);
    EXPECT_EQ(flags.getWordCount(), 2u);
    EXPECT_EQ(flags.set(39), 0);
    EXPECT_EQ(flags.getWords()[1], 0x01000000u);
    EXPECT_EQ(flags.set(0), 0);
    EXPECT_EQ(flags.getWords()[0], 0x80000000u);
    EXPECT_EQ(flags.getSetCount(), 2u);
    EXPECT_EQ(flags.set(39), 0); // already set: not counted again
    EXPECT_EQ(flags.getSetCount(), 2u);
    EXPECT_EQ(flags.reset(5), 0); // clear: not counted
    EXPECT_EQ(flags.getSetCount(), 2u);
    EXPECT_EQ(flags.set(40), kBadIndex);
    EXPECT_EQ(flags.reset(40), kBadIndex);
    EXPECT_FALSE(flags.isSet(40));
    EXPECT_FALSE(flags.isSet(0xFFFFFFFFu));
    EXPECT_EQ(flags.getSetCount(), 2u);

    EXPECT_EQ(flags.setAll(), 0);
    EXPECT_EQ(flags.getWords()[0], 0xFFFFFFFFu);
    EXPECT_EQ(flags.getWords()[1], 0xFF000000u);
    EXPECT_EQ(flags.getSetCount(), 40u);
    EXPECT_EQ(flags.reset(39), 0);
    EXPECT_EQ(flags.getSetCount(), 39u);
    EXPECT_EQ(flags.resetAll(), 0);
    EXPECT_EQ(flags.getWords()[1], 0u);
    EXPECT_FALSE(flags.hasAny());

    FlagArray whole;
    ASSERT_EQ(whole.allocate(64), 0);
    whole.setAll();
    EXPECT_EQ(whole.getWords()[1], 0xFFFFFFFFu);
}

TEST(FlagArray, FindNextResults)
{
    FlagArray flags;
    ASSERT_EQ(flags.allocate(40), 0);
    u32 index = 77;
    EXPECT_EQ(flags.findNext(index), kNoFurtherChange); // nothing set: index beyond the count is fine
    EXPECT_EQ(index, 77u);

    flags.set(33);
    index = 0;
    EXPECT_EQ(flags.findNext(index), 0);
    EXPECT_EQ(index, 33u);
    index = 33;
    EXPECT_EQ(flags.findNext(index), 0);
    EXPECT_EQ(index, 33u);
    index = 34;
    EXPECT_EQ(flags.findNext(index), kNoFurtherChange);
    EXPECT_GE(index, 40u);
    index = 40;
    EXPECT_EQ(flags.findNext(index), kFlagIndexOutOfRange);
    EXPECT_EQ(index, 40u);

    // A non-zero first word whose set bits lie before index.
    flags.set(2);
    index = 3;
    EXPECT_EQ(flags.findNext(index), 0);
    EXPECT_EQ(index, 33u);
    EXPECT_EQ(walk(flags), (std::vector<u32>{2, 33}));
}

TEST(FlagArray, EmptyArrays)
{
    FlagArray flags;
    ASSERT_EQ(flags.allocate(10), 0);
    flags.set(3);
    EXPECT_EQ(flags.allocate(0), kBadIndex);
    EXPECT_EQ(flags.getCount(), 0u);
    EXPECT_EQ(flags.getSetCount(), 0u);
    EXPECT_EQ(flags.getWords(), nullptr);
    EXPECT_FALSE(flags.hasAny());
    EXPECT_FALSE(flags.isSet(3));
    EXPECT_EQ(flags.set(0), kBadIndex);
    EXPECT_EQ(flags.setAll(), 0);
    EXPECT_EQ(flags.getSetCount(), 0u);
    EXPECT_FALSE(flags.hasAny());
    EXPECT_EQ(flags.resetAll(), 0);
    u32 index = 0;
    EXPECT_EQ(flags.findNext(index), kNoFurtherChange);

    FlagArray fresh;
    EXPECT_EQ(fresh.setAll(), 0);
    EXPECT_EQ(fresh.findNext(index), kNoFurtherChange);

    IFlagArray* dummy = getDummyFlagArray();
    EXPECT_EQ(dummy, getDummyFlagArray());
    EXPECT_EQ(dummy->set(5), 0);
    EXPECT_EQ(dummy->setAll(), 0);
    EXPECT_FALSE(dummy->isSet(5));
    EXPECT_FALSE(dummy->hasAny());
    EXPECT_EQ(dummy->getSetCount(), 0u);
    EXPECT_EQ(dummy->findNext(index), kNoFurtherChange);
}

TEST(FlagArray, CopiesAndMoves)
{
    FlagArray flags;
    ASSERT_EQ(flags.allocate(100), 0);
    for (u32 i = 0; i < 100; i += 7) {
        flags.set(i);
    }
    FlagArray copy(flags);
    EXPECT_EQ(copy.getCount(), 100u);
    EXPECT_EQ(copy.getSetCount(), flags.getSetCount());
    EXPECT_EQ(walk(copy), walk(flags));
    EXPECT_NE(copy.getWords(), flags.getWords());
    copy.reset(0);
    EXPECT_TRUE(flags.isSet(0));

    // Assignment between different counts, both ways, and onto itself.
    FlagArray small;
    ASSERT_EQ(small.allocate(3), 0);
    small.set(1);
    small = flags;
    EXPECT_EQ(small.getCount(), 100u);
    EXPECT_EQ(walk(small), walk(flags));
    const FlagArray& alias = small;
    small = alias;
    EXPECT_EQ(walk(small), walk(flags));
    FlagArray three;
    ASSERT_EQ(three.allocate(3), 0);
    three.set(2);
    small = three;
    EXPECT_EQ(small.getCount(), 3u);
    EXPECT_EQ(walk(small), (std::vector<u32>{2}));
    small = FlagArray();
    EXPECT_EQ(small.getCount(), 0u);
    EXPECT_EQ(small.getWords(), nullptr);

    FlagArray moved(std::move(flags));
    EXPECT_EQ(moved.getCount(), 100u);
    EXPECT_EQ(flags.getCount(), 0u);
    EXPECT_EQ(flags.getWords(), nullptr);
    three = std::move(moved);
    EXPECT_EQ(three.getCount(), 100u);
    EXPECT_EQ(three.getSetCount(), 15u);
}

TEST(FlagArray, RandomModel)
{
    for (u32 count : {1u, 31u, 32u, 33u, 1000u, 100000u}) {
        std::mt19937 rng(count);
        FlagArray flags;
        ASSERT_EQ(flags.allocate(count), 0);
        std::vector<bool> model(count);
        u32 modelSet = 0;
        const int steps = count > 1000 ? 20000 : 4000;
        for (int step = 0; step < steps; ++step) {
            const u32 op = std::uniform_int_distribution<u32>(0, 199)(rng);
            const u32 index = std::uniform_int_distribution<u32>(0, count + 1)(rng);
            if (op < 95) {
                ASSERT_EQ(flags.set(index), index < count ? 0 : kBadIndex);
                if (index < count && !model[index]) {
                    model[index] = true;
                    ++modelSet;
                }
            } else if (op < 190) {
                ASSERT_EQ(flags.reset(index), index < count ? 0 : kBadIndex);
                if (index < count && model[index]) {
                    model[index] = false;
                    --modelSet;
                }
            } else if (op < 193) {
                flags.setAll();
                model.assign(count, true);
                modelSet = count;
            } else if (op < 196) {
                flags.resetAll();
                model.assign(count, false);
                modelSet = 0;
            } else {
                // Full walk, consuming every other flag as a change scan would.
                std::vector<u32> expected;
                for (u32 i = 0; i < count; ++i) {
                    if (model[i]) {
                        expected.push_back(i);
                    }
                }
                ASSERT_EQ(walk(flags), expected);
                u32 position = 0;
                bool consume = false;
                while (flags.findNext(position) == 0) {
                    ASSERT_TRUE(model[position]);
                    if (consume) {
                        flags.reset(position);
                        model[position] = false;
                        --modelSet;
                    }
                    consume = !consume;
                    ++position;
                }
            }
            ASSERT_EQ(flags.getSetCount(), modelSet) << "count " << count << " step " << step;
            ASSERT_EQ(flags.hasAny(), modelSet > 0);
            if (index < count) {
                ASSERT_EQ(flags.isSet(index), model[index]);
            }
        }
        // Bits past the count stay clear in the last word.
        const u32 tail = count & 31;
        if (tail != 0) {
            EXPECT_EQ(flags.getWords()[flags.getWordCount() - 1] & (0xFFFFFFFFu >> tail), 0u);
        }
    }
}
