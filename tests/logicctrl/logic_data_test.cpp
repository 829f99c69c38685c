#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "logic_LogicData.h"
#include "logic_TestSupport.h"
#include "tms_DebugBreak.h"

namespace {

using LogicCtrl::LogicData;
using logictest::code;

constexpr f32 UNCHECKED = -1.0f;

struct ValueCase
{
    const char* name;
    u32 kind;
    KVariant min;
    KVariant max;
    std::function<i32(LogicData&)> act;
    bool fails;
    KVariant value;
    f32 normalized;
};

void expectValue(const KVariant& actual, const KVariant& expected)
{
    ASSERT_EQ(actual.getKind(), expected.getKind());
    if (expected.getKind() == KVariant::KIND_FLOAT32) {
        EXPECT_FLOAT_EQ(actual.getFloat(), expected.getFloat());
    } else {
        EXPECT_EQ(actual.getInt(), expected.getInt());
    }
}

// Values from the default expression (normalized range 30..330) over 1000 positions.
TEST(LogicDataValues, ClampPositionAndTextFollowTheKind)
{
    const auto setValue = [](KVariant v) { return [v](LogicData& d) { return d.setValue(v); }; };
    const ValueCase cases[] = {
        {"150 into 0..100", 2, KVariant(0u), KVariant(100u), setValue(KVariant(150u)), false, KVariant(100u),
         UNCHECKED},
        {"150 into 100..0", 2, KVariant(100u), KVariant(0u), setValue(KVariant(150u)), false, KVariant(100u),
         UNCHECKED},
        {"50 into 100..0", 2, KVariant(100u), KVariant(0u), setValue(KVariant(50u)), false, KVariant(50u), UNCHECKED},
        {"50 in 0..100 is position 500", 2, KVariant(0u), KVariant(100u), setValue(KVariant(50u)), false, KVariant(50u),
         500.0f / 999.0f},
        {"a float read as an integer is 0", 2, KVariant(0u), KVariant(100u), setValue(KVariant(3.7f)), false,
         KVariant(0u), UNCHECKED},
        {"a float into kind 4", 4, KVariant(0.0f), KVariant(100.0f), setValue(KVariant(3.7f)), false, KVariant(3.7f),
         UNCHECKED},
        {"kind 4 normalizes in thousandths", 4, KVariant(-1.0f), KVariant(1.0f), setValue(KVariant(0.5f)), false,
         KVariant(0.5f), 749.0f / 999.0f},
        {"kind 4 at position 249", 4, KVariant(-1.0f), KVariant(1.0f),
         [](LogicData& d) { return d.setNormalized(0.25f); }, false, KVariant(-0.502f), 0.25f},
        {"kind 3 clamps below", 3, KVariant(-10), KVariant(10), setValue(KVariant(-11)), false, KVariant(-10), 0.0f},
        {"text 42", 2, KVariant(0u), KVariant(100u), [](LogicData& d) { return d.setText("42"); }, false, KVariant(42u),
         420.0f / 999.0f},
        {"text 150 is refused", 2, KVariant(0u), KVariant(100u),
         [](LogicData& d) {
             d.setValue(KVariant(7u));
             return d.setText("150");
         },
         true, KVariant(7u), UNCHECKED},
        {"text 1 on kind 1", 1, KVariant(), KVariant(), [](LogicData& d) { return d.setText("1"); }, false,
         KVariant(1.0f), 1.0f},
        {"kind 1 clamps to 0..1", 1, KVariant(), KVariant(), setValue(KVariant(2)), false, KVariant(1.0f), 1.0f},
        {"bounds of 3e6 saturate", 4, KVariant(-3.0e6f), KVariant(3.0e6f),
         [](LogicData& d) {
             d.setNormalized(0.5f);
             d.setText("12");
             return d.setValue(KVariant(2.5e6f));
         },
         false, KVariant(2.5e6f), UNCHECKED},
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.name);
        LogicData data;
        ASSERT_EQ(data.initialize(c.kind, "", c.min, c.max), 0);
        const i32 result = c.act(data);
        EXPECT_EQ(result < 0, c.fails) << result;
        expectValue(data.getValue(), c.value);
        if (c.normalized != UNCHECKED) {
            EXPECT_FLOAT_EQ(data.getNormalized(), c.normalized);
        }
    }
}

TEST(LogicDataValues, AKindOneSourceIsTakenByPosition)
{
    LogicData source;
    LogicData input;
    ASSERT_EQ(source.initialize(1, "", KVariant(), KVariant()), 0);
    ASSERT_EQ(input.initialize(3, "", KVariant(-10), KVariant(10)), 0);
    ASSERT_EQ(source.setNormalized(0.5f), 0);
    ASSERT_EQ(input.assignFrom(source), 0);
    expectValue(input.getValue(), KVariant(0)); // position 499 gives -0.01, rounded to 0
    EXPECT_FLOAT_EQ(input.getNormalized(), 0.5f);
    EXPECT_TRUE(input.isChanged()); // empty before
    ASSERT_EQ(input.assignFrom(source), 0);
    EXPECT_FALSE(input.isChanged());
}

TEST(LogicDataKinds, TextCounterAndUnsupportedOperations)
{
    LogicData text;
    ASSERT_EQ(text.initialize(7, "x", KVariant(1), KVariant(2)), 0);
    EXPECT_FALSE(text.getMinValue().isValid());
    ASSERT_EQ(text.setText("abc"), 0);
    EXPECT_STREQ(text.getValue().getString(), "abc");
    EXPECT_TRUE(text.isChanged());
    ASSERT_EQ(text.setText("abc"), 0);
    EXPECT_FALSE(text.isChanged());
    EXPECT_EQ(text.setText(std::string(1024, 'a').c_str()), code(0x80000001));
    EXPECT_STREQ(text.getValue().getString(), "abc");

    LogicData counter;
    ASSERT_EQ(counter.initialize(8, "", KVariant(), KVariant()), 0);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(counter.trigger(), 0);
    }
    EXPECT_EQ(counter.getValue().getKind(), KVariant::KIND_UINT32);
    EXPECT_EQ(counter.getValue().getUInt(), 3u);
    ASSERT_EQ(counter.acknowledge(), 0);
    EXPECT_EQ(counter.getPreviousValue().getUInt(), 3u);
    EXPECT_EQ(counter.getValue().getUInt(), 0u);
    EXPECT_FALSE(counter.isChanged());

    const u64 breaks = TMS::getDebugBreakCount();
    LogicData none;
    EXPECT_EQ(none.initialize(9, "", KVariant(), KVariant()), code(0x80000001));
    EXPECT_EQ(text.setValue(KVariant(1)), code(0x80080000));
    EXPECT_EQ(counter.setNormalized(0.5f), code(0x80080000));
    EXPECT_EQ(counter.setText("1"), code(0x80080000));
    EXPECT_EQ(none.trigger(), code(0x80080000));
    EXPECT_FALSE(none.getValue().isValid()); // kind 0 has no readable value
    EXPECT_EQ(TMS::getDebugBreakCount(), breaks + 6);

    LogicData copy(text);
    EXPECT_TRUE(copy.isChanged());
    EXPECT_STREQ(copy.getValue().getString(), "abc");
}

} // namespace
