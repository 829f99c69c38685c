#include "expression_Instances.h"
#include "expression_TestInfo.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

using namespace Expression;
using ExpressionTest::makeInfo;
using ExpressionTest::toText;

namespace {

const LevelExpression& level()
{
    return *getLevelExpression();
}

const ValueInfo& levelInfo()
{
    static const ValueInfo info = makeInfo(-32768, 1000, 1, 100, "dB");
    return info;
}

i32 quantized(i32 value, u32 tableMode)
{
    KVariant out;
    EXPECT_EQ(level().quantizeValue(&out, KVariant(value), levelInfo(), tableMode), RESULT_OK);
    EXPECT_EQ(out.getKind(), KVariant::KIND_INT32);
    return out.getInt();
}

u32 normalized(i32 value)
{
    u32 n = 0;
    EXPECT_EQ(level().valueToNormalized(&n, KVariant(value), levelInfo()), RESULT_OK);
    return n;
}

i32 fromNormalized(u32 n)
{
    KVariant out;
    EXPECT_EQ(level().normalizedToValue(&out, &n, levelInfo()), RESULT_OK);
    return out.getInt();
}

u32 textResult(const char* text, u32 length, i32* value)
{
    KVariant out(12345);
    const u32 r = level().textToValue(&out, text, length, levelInfo());
    *value = out.getInt();
    return r;
}

} // namespace

TEST(LevelTables, ShapeAndLandmarks)
{
    ASSERT_EQ(LEVEL_COARSE_TABLE.size(), 43u);
    ASSERT_EQ(LEVEL_FINE_TABLE.size(), 1024u);
    for (size_t i = 1; i < LEVEL_COARSE_TABLE.size(); ++i) {
        ASSERT_LT(LEVEL_COARSE_TABLE[i - 1], LEVEL_COARSE_TABLE[i]) << i;
    }
    for (size_t i = 1; i < LEVEL_FINE_TABLE.size(); ++i) {
        ASSERT_LT(LEVEL_FINE_TABLE[i - 1], LEVEL_FINE_TABLE[i]) << i;
    }
    EXPECT_EQ(LEVEL_COARSE_TABLE[0], -32768);
    EXPECT_EQ(LEVEL_COARSE_TABLE[22], -1000);
    EXPECT_EQ(LEVEL_COARSE_TABLE[32], 0);
    EXPECT_EQ(LEVEL_COARSE_TABLE[42], 1000);
    const std::pair<size_t, i16> fine[] = {{0, -32768},  {1, -13800},  {15, -9600}, {33, -7800},
                                           {223, -4000}, {423, -2000}, {1023, 1000}};
    for (const auto& [index, value] : fine) {
        EXPECT_EQ(LEVEL_FINE_TABLE[index], value) << index;
    }
}

TEST(LevelExpression, QuantizeToTheNearestEntry)
{
    EXPECT_EQ(quantized(-1983, 1), -1985);
    EXPECT_EQ(quantized(-1983, 0), -2000);
    EXPECT_EQ(quantized(-1900, 0), -2000); // a tie takes the lower entry
    EXPECT_EQ(quantized(-1998, 1), -2000);
    EXPECT_EQ(quantized(-1997, 1), -1995);
    EXPECT_EQ(quantized(5000, 1), 1000); // no min/max clamping, just the table
    EXPECT_EQ(quantized(INT_MAX, 0), 1000);
    EXPECT_EQ(quantized(INT_MIN, 1), -32768);
    EXPECT_EQ(quantized(-23284, 1), -32768); // the midpoint of -32768 and -13800
    EXPECT_EQ(quantized(-23283, 1), -13800);
    EXPECT_EQ(level().getStepCount(levelInfo(), 1), 1024u);
    EXPECT_EQ(level().getStepCount(levelInfo(), 0), 43u);
}

TEST(LevelExpression, NormalizedRange)
{
    EXPECT_EQ(normalized(0), 270u);
    EXPECT_EQ(normalized(1000), 330u);
    EXPECT_EQ(normalized(-2000), 150u);
    EXPECT_EQ(normalized(-4000), 90u);
    EXPECT_EQ(normalized(-6000), 50u);
    EXPECT_EQ(normalized(-14100), 31u);
    EXPECT_EQ(normalized(-20000), 30u);
    EXPECT_EQ(normalized(INT_MAX), 330u);
    EXPECT_EQ(normalized(INT_MIN), 30u);
    EXPECT_EQ(fromNormalized(270), 0);
    EXPECT_EQ(fromNormalized(150), -2000);
    EXPECT_EQ(fromNormalized(330), 1000);
    EXPECT_EQ(fromNormalized(0xFFFFFFFF), 1000);
    EXPECT_EQ(fromNormalized(30), -32768);

    for (u32 n = 30; n <= 330; ++n) {
        const u32 back = normalized(fromNormalized(n));
        ASSERT_EQ(back, n == 31 ? 32u : n) << "normalized " << n;
    }
    u32 previous = 0;
    for (i16 v : LEVEL_FINE_TABLE) {
        const u32 n = normalized(v);
        ASSERT_GE(n, previous) << v;
        previous = n;
    }
}

TEST(LevelExpression, Texts)
{
    const auto minusInf = toText(level(), KVariant(-32768), levelInfo(), 5);
    EXPECT_EQ(minusInf.result, RESULT_OK);
    EXPECT_EQ(minusInf.text, "-\xE2\x88\x9E");
    EXPECT_EQ(minusInf.length, 5u);
    EXPECT_EQ(toText(level(), KVariant(-32768), levelInfo(), 4).result, RESULT_BUFFER_TOO_SMALL);
    EXPECT_EQ(toText(level(), KVariant(-32768), levelInfo(), 0).result, RESULT_NOT_SUPPORTED);
    EXPECT_EQ(toText(level(), KVariant(-40000), levelInfo(), 8).text, "-\xE2\x88\x9E");

    const auto zero = toText(level(), KVariant(0), levelInfo(), 8);
    EXPECT_EQ(zero.text, "0.00");
    EXPECT_EQ(zero.length, 5u);
    EXPECT_EQ(toText(level(), KVariant(-1985), levelInfo()).text, "-19.85");
    EXPECT_EQ(toText(level(), KVariant(1000), levelInfo()).text, "10.00");
    EXPECT_EQ(toText(level(), KVariant(-9999), levelInfo()).text, "-99.99");
    EXPECT_EQ(toText(level(), KVariant(-13800), levelInfo()).text, "-138.0");
    EXPECT_EQ(toText(level(), KVariant(-32767), levelInfo(), 8).text, "-327.6");
    EXPECT_EQ(toText(level(), KVariant(32767), levelInfo()).text, "\xE2\x88\x9E");
    EXPECT_EQ(toText(level(), KVariant(INT_MAX), levelInfo()).length, 4u);

    // Under 8 bytes the formatter prints nothing; that is reported, with an empty text.
    const auto cramped = toText(level(), KVariant(-1985), levelInfo(), 7);
    EXPECT_EQ(cramped.result, RESULT_BUFFER_TOO_SMALL);
    EXPECT_EQ(cramped.text, "");
    EXPECT_EQ(cramped.length, 0u);
}

TEST(LevelExpression, TextToValue)
{
    i32 v = 0;
    EXPECT_EQ(textResult("-20", 4, &v), RESULT_OK);
    EXPECT_EQ(v, -2000);
    EXPECT_EQ(textResult("-19.83", 7, &v), RESULT_OK);
    EXPECT_EQ(v, -1980);
    EXPECT_EQ(textResult(" - 2 0 ", 8, &v), RESULT_OK); // blanks are dropped
    EXPECT_EQ(v, -2000);
    EXPECT_EQ(textResult("-20", 2, &v), RESULT_OK); // only "-2" is read
    EXPECT_EQ(v, -200);
    EXPECT_EQ(textResult("-20m", 5, &v), RESULT_OK);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(textResult("1k", 3, &v), RESULT_OK);
    EXPECT_EQ(v, 1000);
    EXPECT_EQ(textResult("-1M", 4, &v), RESULT_OK);
    EXPECT_EQ(v, -32768);
    EXPECT_EQ(textResult("1e300", 6, &v), RESULT_OK);
    EXPECT_EQ(v, 1000);

    v = 0;
    for (const char* bad : {"-20dB", "1K", "abc", "", "nan", "-inf", "inf", "NAN(0)", "1e999"}) {
        EXPECT_EQ(textResult(bad, static_cast<u32>(std::strlen(bad)) + 1, &v), RESULT_BAD_ARGUMENT) << bad;
        EXPECT_EQ(v, 12345) << bad;
    }
    EXPECT_EQ(textResult(nullptr, 4, &v), RESULT_BAD_ARGUMENT);
    EXPECT_EQ(textResult("5", 0, &v), RESULT_BAD_ARGUMENT);
}

TEST(LevelExpression, Stepping)
{
    KVariant out;
    EXPECT_EQ(level().stepValue(&out, KVariant(0), levelInfo(), 1, 1, 1), RESULT_OK);
    EXPECT_EQ(out.getInt(), 5);
    EXPECT_EQ(level().stepValue(&out, KVariant(0), levelInfo(), 1, 0, 0), RESULT_OK);
    EXPECT_EQ(out.getInt(), 100);
    EXPECT_EQ(level().stepValue(&out, KVariant(-1983), levelInfo(), -2, 1, 0), RESULT_OK);
    EXPECT_EQ(out.getInt(), -2400);
    // The entry is held inside min..max.
    EXPECT_EQ(level().stepValue(&out, KVariant(-2000), makeInfo(-2000, 0, 1), -1, 1, 1), RESULT_OK);
    EXPECT_EQ(out.getInt(), -2000);
    EXPECT_EQ(level().stepValue(&out, KVariant(0), makeInfo(-2000, 0, 1), INT_MAX, 10, 1), RESULT_OK);
    EXPECT_EQ(out.getInt(), 0);
    EXPECT_EQ(level().stepValue(&out, KVariant(0), levelInfo(), INT_MIN, 10, 1), RESULT_OK);
    EXPECT_EQ(out.getInt(), -32768);
}

TEST(LevelExpression, Positions)
{
    u32 p = 0;
    KVariant out;
    EXPECT_EQ(level().valueToPosition(&p, 1024, KVariant(1000), levelInfo()), RESULT_OK);
    EXPECT_EQ(p, 1023u);
    EXPECT_EQ(level().valueToPosition(&p, 1024, KVariant(-1985), levelInfo()), RESULT_OK);
    EXPECT_EQ(p, 426u);
    EXPECT_EQ(level().valueToPosition(&p, 1024, KVariant(INT_MIN), levelInfo()), RESULT_OK);
    EXPECT_EQ(p, 0u);
    EXPECT_EQ(level().valueToPosition(&p, 0, KVariant(0), levelInfo()), RESULT_BAD_ARGUMENT);
    // Never beyond the step count, even for values outside min..max.
    EXPECT_EQ(level().valueToPosition(&p, 11, KVariant(1000), makeInfo(-2000, -1000, 1)), RESULT_OK);
    EXPECT_LE(p, 11u);

    for (u32 position : {0u, 1u, 426u, 1023u, 5000u}) {
        ASSERT_EQ(level().positionToValue(&out, &position, 1024, levelInfo()), RESULT_OK);
        const i32 expected = LEVEL_FINE_TABLE[position > 1023 ? 1023 : position];
        EXPECT_EQ(out.getInt(), expected) << position;
    }
    u32 position = 1;
    EXPECT_EQ(level().positionToValue(&out, &position, 1, levelInfo()), RESULT_BAD_ARGUMENT);
}

TEST(LevelExpression, SegmentPattern)
{
    u32 pattern[44];
    auto lit = [&](u32 count, i32 value) {
        std::memset(pattern, 0x55, sizeof(pattern));
        EXPECT_EQ(level().getSegmentPattern(pattern, count, KVariant(value)), RESULT_OK);
        // A run of lit segments, then dark ones.
        u32 on = 0;
        while (on < count && pattern[on] == 0xFFFFFFFFu) {
            ++on;
        }
        for (u32 i = on; i < count; ++i) {
            EXPECT_EQ(pattern[i], 0u) << i;
        }
        EXPECT_EQ(pattern[count], 0x55555555u) << "wrote past count";
        return on;
    };
    EXPECT_EQ(lit(43, 0), 33u);
    EXPECT_EQ(lit(43, 50), 34u); // above 0 dB lights one more
    EXPECT_EQ(lit(43, -32768), 1u);
    EXPECT_EQ(lit(43, INT_MIN), 0u);
    EXPECT_EQ(lit(43, 1000), 43u);
    EXPECT_EQ(lit(43, INT_MAX), 43u);
    EXPECT_EQ(lit(1, 1000), 1u);
    EXPECT_EQ(lit(1, 0), 0u);
    EXPECT_EQ(lit(10, 0), 8u);

    EXPECT_EQ(level().getSegmentPattern(pattern, 0, KVariant(0)), RESULT_BAD_ARGUMENT);
    EXPECT_EQ(level().getSegmentPattern(pattern, 44, KVariant(0)), RESULT_BAD_ARGUMENT);
}
