#include "expression_Instances.h"
#include "expression_TestInfo.h"
#include "expression_Text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace Expression;
using ExpressionTest::makeInfo;
using ExpressionTest::toText;

namespace {

const DefaultExpression& plain()
{
    return *getDefaultExpression();
}

i32 quantized(const IExpression& e, i32 value, const ValueInfo& info, u32* result = nullptr)
{
    KVariant out;
    const u32 r = e.quantizeValue(&out, KVariant(value), info, 0);
    if (result != nullptr) {
        *result = r;
    }
    EXPECT_EQ(out.getKind(), KVariant::KIND_INT32);
    return out.getInt();
}

} // namespace

TEST(DefaultExpression, Quantize)
{
    const ValueInfo info = makeInfo(0, 100, 5);
    EXPECT_EQ(quantized(plain(), 12, info), 10);
    EXPECT_EQ(quantized(plain(), 13, info), 15);
    u32 result = 0;
    EXPECT_EQ(quantized(plain(), 120, info, &result), 100);
    EXPECT_EQ(result, RESULT_OUT_OF_RANGE);
    EXPECT_EQ(quantized(plain(), -1, info, &result), 0);
    EXPECT_EQ(result, RESULT_OUT_OF_RANGE);
    EXPECT_EQ(quantized(plain(), -3, makeInfo(-10, 100, 5)), -5);
    EXPECT_EQ(quantized(plain(), -3, makeInfo(-10, 100, -5)), -5); // |step|
    EXPECT_EQ(quantized(plain(), 2, makeInfo(0, 100, 4)), 4);      // a tie goes up
    EXPECT_EQ(quantized(plain(), 7, makeInfo(0, 100, 0)), 7);      // step 0 counts as 1
    // The upper neighbour never leaves the range, whichever side lo fell on.
    EXPECT_EQ(quantized(plain(), -3, makeInfo(-7, -1, 5)), -1);
    EXPECT_EQ(quantized(plain(), 98, makeInfo(0, 99, 10), &result), 99);
    EXPECT_EQ(result, RESULT_OK);
    EXPECT_EQ(quantized(plain(), INT_MAX, makeInfo(INT_MIN, INT_MAX, INT_MIN)), INT_MAX);
    EXPECT_EQ(quantized(plain(), INT_MIN + 1, makeInfo(INT_MIN, INT_MAX, 7)),
              INT_MIN + 2); // tie between min and -2^31+2
    EXPECT_EQ(quantized(plain(), INT_MIN + 1, makeInfo(INT_MIN, INT_MAX, 8)), INT_MIN);
}

TEST(DefaultExpression, StepCountAndMultiplier)
{
    const ValueInfo info = makeInfo(0, 1000, 1);
    EXPECT_EQ(plain().getStepMultiplier(info, 1, 0), 1u);
    EXPECT_EQ(plain().getStepMultiplier(info, 5, 0), 4u);
    EXPECT_EQ(plain().getStepMultiplier(info, 10, 0), 83u);
    EXPECT_EQ(plain().getStepMultiplier(info, 0, 0), 1u);
    EXPECT_EQ(plain().getStepMultiplier(info, 99, 0), 83u);
    EXPECT_EQ(plain().getStepMultiplier(makeInfo(0, 10, 1), 10, 0), 1u);

    EXPECT_EQ(plain().getStepCount(makeInfo(0, 100, -3), 0), 33u);
    EXPECT_EQ(plain().getStepCount(makeInfo(INT_MIN, INT_MAX, 1), 0), 0xFFFFFFFFu);
    EXPECT_EQ(plain().getStepCount(makeInfo(INT_MAX, INT_MIN, -1), 0), 0xFFFFFFFFu);

    KVariant out;
    EXPECT_EQ(plain().stepValue(&out, KVariant(500), info, 3, 5, 0), RESULT_OK);
    EXPECT_EQ(out.getInt(), 512);
    EXPECT_EQ(plain().stepValue(&out, KVariant(10), makeInfo(0, 100, 5), -1, 1, 0), RESULT_OK);
    EXPECT_EQ(out.getInt(), 5);
    // Huge products saturate and then clamp to the range.
    EXPECT_EQ(plain().stepValue(&out, KVariant(0), makeInfo(INT_MIN, INT_MAX, INT_MAX), INT_MAX, 10, 0), RESULT_OK);
    EXPECT_EQ(out.getInt(), INT_MAX);
    EXPECT_EQ(plain().stepValue(&out, KVariant(0), makeInfo(-5, 5, INT_MIN), INT_MAX, 10, 0), RESULT_OUT_OF_RANGE);
    EXPECT_EQ(out.getInt(), -5);
}

TEST(DefaultExpression, NormalizedRange)
{
    const DefaultExpression swapped(330, 30);
    EXPECT_EQ(swapped.getNormMin(), 30u);
    EXPECT_EQ(swapped.getNormMax(), 330u);

    const ValueInfo info = makeInfo(0, 100, 1);
    u32 n = 0;
    EXPECT_EQ(plain().valueToNormalized(&n, KVariant(50), info), RESULT_OK);
    EXPECT_EQ(n, 180u);
    EXPECT_EQ(plain().valueToNormalized(&n, KVariant(0), info), RESULT_OK);
    EXPECT_EQ(n, 30u);
    EXPECT_EQ(plain().valueToNormalized(&n, KVariant(1), info), RESULT_OK);
    EXPECT_EQ(n, 33u);
    EXPECT_EQ(plain().valueToNormalized(&n, KVariant(5), makeInfo(5, 5, 1)), RESULT_BAD_ARGUMENT);

    KVariant out;
    for (u32 v = 0; v <= 100; ++v) {
        ASSERT_EQ(plain().valueToNormalized(&n, KVariant(static_cast<i32>(v)), info), RESULT_OK);
        ASSERT_EQ(plain().normalizedToValue(&out, &n, info), RESULT_OK);
        ASSERT_EQ(out.getInt(), static_cast<i32>(v));
    }
    n = 29;
    EXPECT_EQ(plain().normalizedToValue(&out, &n, info), RESULT_OK);
    EXPECT_EQ(out.getInt(), 0);
    n = 331;
    EXPECT_EQ(plain().normalizedToValue(&out, &n, info), RESULT_OK);
    EXPECT_EQ(out.getInt(), 100);
    // Truncation toward zero of the scaled offset, then min is added.
    n = 31;
    EXPECT_EQ(plain().normalizedToValue(&out, &n, makeInfo(-100, 100, 1)), RESULT_OK);
    EXPECT_EQ(out.getInt(), -100);
    const DefaultExpression flat(100, 100);
    n = 100;
    EXPECT_EQ(flat.normalizedToValue(&out, &n, info), RESULT_BAD_ARGUMENT);
    // The full 32-bit range maps without overflow.
    const ValueInfo wide = makeInfo(INT_MIN, INT_MAX, 1);
    n = 330;
    EXPECT_EQ(plain().normalizedToValue(&out, &n, wide), RESULT_OK);
    EXPECT_EQ(out.getInt(), INT_MAX);
    n = 180;
    EXPECT_EQ(plain().normalizedToValue(&out, &n, wide), RESULT_OK);
    EXPECT_EQ(out.getInt(), -1);
    EXPECT_EQ(plain().valueToNormalized(&n, KVariant(INT_MAX), wide), RESULT_OK);
    EXPECT_EQ(n, 330u);
}

TEST(DefaultExpression, Positions)
{
    const ValueInfo info = makeInfo(0, 100, 1);
    u32 p = 77;
    EXPECT_EQ(plain().valueToPosition(&p, 11, KVariant(50), info), RESULT_OK);
    EXPECT_EQ(p, 5u);
    EXPECT_EQ(plain().valueToPosition(&p, 11, KVariant(55), info), RESULT_OK);
    EXPECT_EQ(p, 6u);
    EXPECT_EQ(plain().valueToPosition(&p, 0, KVariant(50), info), RESULT_BAD_ARGUMENT);
    EXPECT_EQ(p, 0u);
    p = 7;
    EXPECT_EQ(plain().valueToPosition(&p, 11, KVariant(3), makeInfo(3, 3, 1)), RESULT_BAD_ARGUMENT);
    EXPECT_EQ(p, 0u);

    KVariant out;
    u32 position = 5;
    EXPECT_EQ(plain().positionToValue(&out, &position, 11, info), RESULT_OK);
    EXPECT_EQ(out.getInt(), 50);
    position = 10;
    EXPECT_EQ(plain().positionToValue(&out, &position, 11, info), RESULT_OK);
    EXPECT_EQ(out.getInt(), 100);
    position = 1; // halves round away from zero
    EXPECT_EQ(plain().positionToValue(&out, &position, 3, makeInfo(0, 5, 1)), RESULT_OK);
    EXPECT_EQ(out.getInt(), 3);
    EXPECT_EQ(plain().positionToValue(&out, &position, 3, makeInfo(-5, 0, 1)), RESULT_OK);
    EXPECT_EQ(out.getInt(), -3);
    out.setInt(9);
    EXPECT_EQ(plain().positionToValue(&out, &position, 1, info), RESULT_BAD_ARGUMENT);
    EXPECT_EQ(out.getInt(), 0);
    position = 999;
    EXPECT_EQ(plain().valueToPosition(&p, 1000, KVariant(INT_MAX), makeInfo(INT_MIN, INT_MAX, 1)), RESULT_OK);
    EXPECT_EQ(p, 999u);
}

TEST(DefaultExpression, NumberTexts)
{
    const ValueInfo wide = makeInfo(INT_MIN, INT_MAX, 1, 1);
    EXPECT_EQ(toText(plain(), KVariant(-2050), makeInfo(-10000, 10000, 1, 100)).text, "-20.50");
    EXPECT_EQ(toText(plain(), KVariant(-2050), makeInfo(-10000, 10000, 1, 100)).length, 7u);
    EXPECT_EQ(toText(plain(), KVariant(12345), wide).text, "12345");
    EXPECT_EQ(toText(plain(), KVariant(12345), makeInfo(INT_MIN, INT_MAX, 1, 10)).text, "1234.5");
    EXPECT_EQ(toText(plain(), KVariant(12345), makeInfo(INT_MIN, INT_MAX, 1, 1000)).text, "12.345");
    EXPECT_EQ(toText(plain(), KVariant(12345), makeInfo(INT_MIN, INT_MAX, 1, 0)).text, "12345");
    EXPECT_EQ(toText(plain(), KVariant(-5), makeInfo(INT_MIN, INT_MAX, 1, 100)).text, "-0.05");
    EXPECT_EQ(toText(plain(), KVariant(INT_MIN + 1), makeInfo(INT_MIN, INT_MAX, 1, 0xFFFFFFFF)).text, "-2.147483647");

    const auto inf = toText(plain(), KVariant(INT_MAX), wide);
    EXPECT_EQ(inf.text, "\xE2\x88\x9E");
    EXPECT_EQ(inf.length, 4u);
    const auto minusInf = toText(plain(), KVariant(INT_MIN), makeInfo(INT_MIN, INT_MAX, 1, 100));
    EXPECT_EQ(minusInf.text, "-\xE2\x88\x9E");
    EXPECT_EQ(minusInf.length, 5u);

    // Under 13 bytes nothing is printed and the shortage is reported.
    const auto short12 = toText(plain(), KVariant(1), wide, 12);
    EXPECT_EQ(short12.result, RESULT_BUFFER_TOO_SMALL);
    EXPECT_EQ(short12.text, "");
    EXPECT_EQ(short12.length, 0u);
    const auto exact13 = toText(plain(), KVariant(INT_MIN + 1), makeInfo(INT_MIN, INT_MAX, 1, 1000000000), 13);
    EXPECT_EQ(exact13.result, RESULT_OK);
    EXPECT_EQ(exact13.text, "-2.147483647");

    EXPECT_EQ(toText(plain(), KVariant(101), makeInfo(0, 100, 1)).result, RESULT_OUT_OF_RANGE);
    u32 length = 5;
    EXPECT_EQ(plain().valueToText(nullptr, &length, 64, KVariant(1), wide, 1), RESULT_BUFFER_TOO_SMALL);
    EXPECT_EQ(plain().getTextLength(&length, KVariant(-123456), makeInfo(INT_MIN, INT_MAX, 1, 10), 1), RESULT_OK);
    EXPECT_EQ(length, 9u);
}

TEST(DefaultExpression, FixedPointMatchesPrintf)
{
    const i32 samples[] = {0,    1,     -1,    9,         -9,         10,          99,
                           -100, 12345, -2050, 999999999, -999999999, INT_MAX - 1, INT_MIN + 1};
    char expected[64];
    char got[16];
    for (u32 decimals = 0; decimals <= 9; ++decimals) {
        f64 divisor = 1;
        for (u32 i = 0; i < decimals; ++i) {
            divisor *= 10;
        }
        for (i32 v : samples) {
            std::snprintf(expected, sizeof(expected), "%.*f", static_cast<int>(decimals), v / divisor);
            const u32 n = formatFixedPoint(got, v, decimals);
            ASSERT_STREQ(got, expected) << v << " with " << decimals << " decimals";
            ASSERT_EQ(n, std::strlen(expected));
        }
    }
}

TEST(DefaultExpression, UnitAfterTheText)
{
    const ValueInfo info = makeInfo(-1000, 1000, 1, 100, "dB");
    std::vector<char> buffer(16, '#');
    u32 length = 0;
    ASSERT_EQ(plain().valueToText(buffer.data(), &length, 16, KVariant(100), info, FLAG_APPEND_UNIT | 1), RESULT_OK);
    EXPECT_EQ(length, 7u);
    EXPECT_EQ(std::memcmp(buffer.data(), "1.00\0dB\0", 8), 0);

    // 13 bytes hold the number, but not the number and the unit of 9 characters.
    ValueInfo longUnit = makeInfo(INT_MIN, INT_MAX, 1, 1, "123456789");
    std::vector<char> small(13, '#');
    EXPECT_EQ(plain().valueToText(small.data(), &length, 13, KVariant(INT_MIN + 1), longUnit, FLAG_APPEND_UNIT),
              RESULT_BUFFER_TOO_SMALL);
    EXPECT_EQ(plain().valueToText(small.data(), &length, 13, KVariant(1), longUnit, FLAG_APPEND_UNIT), RESULT_OK);
    EXPECT_EQ(length, 11u);
    EXPECT_EQ(plain().valueToText(small.data(), &length, 13, KVariant(123), longUnit, FLAG_APPEND_UNIT),
              RESULT_BUFFER_TOO_SMALL);

    // The caller's unitLength is not trusted beyond the unit's own characters.
    ValueInfo lying = makeInfo(0, 10, 1, 1, "V");
    lying.unitLength = 200;
    std::vector<char> big(64, '#');
    ASSERT_EQ(plain().valueToText(big.data(), &length, 64, KVariant(3), lying, FLAG_APPEND_UNIT), RESULT_OK);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(std::memcmp(big.data(), "3\0V\0", 4), 0);
    std::memset(lying.unit, 'u', sizeof(lying.unit)); // no terminator at all
    ASSERT_EQ(plain().valueToText(big.data(), &length, 64, KVariant(3), lying, FLAG_APPEND_UNIT), RESULT_OK);
    EXPECT_EQ(length, 2u + UNIT_MAX_LENGTH);
}

TEST(DefaultExpression, TextAndBinaryValues)
{
    const ValueInfo info = makeInfo(-10, 10, 1);
    const auto copied = toText(plain(), KVariant("hello", 1024), info, 64);
    EXPECT_EQ(copied.result, RESULT_OK);
    EXPECT_EQ(copied.text, "hello");
    EXPECT_EQ(copied.length, 0u);
    const auto cut = toText(plain(), KVariant("hello", 1024), info, 3);
    EXPECT_EQ(cut.result, RESULT_OK);
    EXPECT_EQ(cut.text, "he");
    const u8 bytes[3] = {1, 2, 3};
    EXPECT_EQ(toText(plain(), KVariant(bytes, 3u), info).result, RESULT_OUT_OF_RANGE);
}

TEST(DefaultExpression, TextToValue)
{
    const ValueInfo info = makeInfo(-1000, 1000, 5, 10);
    KVariant out;
    EXPECT_EQ(plain().textToValue(&out, "12", 3, info), RESULT_OK);
    EXPECT_EQ(out.getInt(), 120);
    EXPECT_EQ(plain().textToValue(&out, "  -7.9xyz", 10, info), RESULT_OK);
    EXPECT_EQ(out.getInt(), -70);
    EXPECT_EQ(plain().textToValue(&out, "123", 2, info), RESULT_OK); // only "12" is read
    EXPECT_EQ(out.getInt(), 120);
    EXPECT_EQ(plain().textToValue(&out, "abc", 4, info), RESULT_OK); // as atoi: no digits read as 0
    EXPECT_EQ(out.getInt(), 0);
    EXPECT_EQ(plain().textToValue(&out, "99999999999999999999999", 24, info), RESULT_OUT_OF_RANGE);
    EXPECT_EQ(out.getInt(), 1000);
    EXPECT_EQ(plain().textToValue(&out, "-99999999999", 13, makeInfo(INT_MIN, INT_MAX, 1, 0xFFFFFFFF)), RESULT_OK);
    EXPECT_EQ(out.getInt(), INT_MIN);
    EXPECT_EQ(plain().textToValue(&out, nullptr, 4, info), RESULT_BAD_ARGUMENT);
    EXPECT_EQ(plain().textToValue(&out, "5", 0, info), RESULT_BAD_ARGUMENT);
}

TEST(OnOffExpression, TextsBothWays)
{
    const OnOffExpression& e = *getOnOffExpression();
    const ValueInfo info = makeInfo(0, 1, 1);
    KVariant out;
    EXPECT_EQ(e.textToValue(&out, "on", 3, info), RESULT_OK);
    EXPECT_EQ(out.getInt(), 1);
    EXPECT_EQ(e.textToValue(&out, "Off", 4, info), RESULT_OK);
    EXPECT_EQ(out.getInt(), 0);
    EXPECT_EQ(e.textToValue(&out, "1", 1, info), RESULT_OK);
    EXPECT_EQ(out.getInt(), 1);
    EXPECT_EQ(e.textToValue(&out, "ONx", 2, info), RESULT_OK); // the length ends the text
    EXPECT_EQ(out.getInt(), 1);
    EXPECT_EQ(e.textToValue(&out, "2", 2, info), RESULT_BAD_ARGUMENT);
    EXPECT_EQ(e.textToValue(&out, "onx", 4, info), RESULT_BAD_ARGUMENT);
    EXPECT_EQ(e.textToValue(&out, "o", 2, info), RESULT_BAD_ARGUMENT);
    EXPECT_EQ(e.textToValue(&out, "", 1, info), RESULT_BAD_ARGUMENT);
    EXPECT_EQ(e.textToValue(&out, "on", 0, info), RESULT_BAD_ARGUMENT);

    const auto off = toText(e, KVariant(0), info, 4);
    EXPECT_EQ(off.text, "OFF");
    EXPECT_EQ(off.length, 4u);
    const auto on = toText(e, KVariant(1), info, 4);
    EXPECT_EQ(on.text, "ON");
    EXPECT_EQ(on.length, 3u);
    EXPECT_EQ(toText(e, KVariant(2), info).result, RESULT_OUT_OF_RANGE);
    EXPECT_EQ(toText(e, KVariant(0), info, 3).result, RESULT_NOT_SUPPORTED);
}
