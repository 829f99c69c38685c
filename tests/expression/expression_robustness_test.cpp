#include "expression_Instances.h"
#include "expression_TestInfo.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace Expression;
using ExpressionTest::makeInfo;

namespace {

const StringTableEntry TABLE[] = {{"Off", "0", nullptr}, {"Slow", "s", "1"}, {"Fast", nullptr, "2"}};
const StringTableExpression s_Table(TABLE, 3, 30, 330);

std::vector<const IExpression*> allExpressions()
{
    return {getDefaultExpression(), getOnOffExpression(), getLevelExpression(), getStringExpression(), &s_Table};
}

const i32 EXTREMES[] = {INT_MIN, INT_MIN + 1, -32769, -32768, -1, 0, 1, 32767, 32768, INT_MAX};

} // namespace

// Every class reads an unterminated text only within textLength, and reads a cut text exactly as it reads
// the same characters terminated.
TEST(ExpressionRobustness, TextsCutAtEveryLength)
{
    const char* texts[] = {"-12.5k", "OFF",   "on",      "Slow",   "  42 ",
                           "1e400",  "nan",   "-inf",    "0x10",   "99999999999999999999",
                           "-20dB",  "-20 m", "\t-3.25", "1.5e-3M"};
    const ValueInfo info = makeInfo(-32768, 32767, 1, 100);
    for (const IExpression* e : allExpressions()) {
        for (const char* text : texts) {
            const u32 full = static_cast<u32>(std::strlen(text));
            for (u32 cut = 1; cut <= full; ++cut) {
                auto exact = std::make_unique<char[]>(cut); // no terminator inside the heap block
                std::memcpy(exact.get(), text, cut);
                KVariant a(0x5A5A);
                KVariant b(0x5A5A);
                const u32 ra = e->textToValue(&a, exact.get(), cut, info);
                const std::string terminated(text, cut);
                const u32 rb = e->textToValue(&b, terminated.c_str(), cut + 1, info);
                ASSERT_EQ(ra, rb) << "'" << terminated << "'";
                ASSERT_TRUE(a.isEqual(b)) << "'" << terminated << "'";
            }
        }
    }
}

// Extreme values, limits, steps and scalings through every operation; the sanitizer build turns any
// overflow or invalid float conversion into a failure. Results that land in min..max are checked.
TEST(ExpressionRobustness, ExtremeValuesInEverySlot)
{
    const u32 scalings[] = {0, 1, 100, 1000000000, 0xFFFFFFFF};
    const u32 stepCounts[] = {0, 1, 2, 1000, 0xFFFFFFFF};
    for (const IExpression* e : allExpressions()) {
        for (i32 min : {INT_MIN, -32768, 0}) {
            for (i32 max : {INT_MAX, 1000, 0}) {
                for (i32 step : {INT_MIN, -1, 0, 7, INT_MAX}) {
                    for (u32 scaling : scalings) {
                        const ValueInfo info = makeInfo(min, max, step, scaling, "unit");
                        const bool plain = e == getDefaultExpression();
                        for (i32 v : EXTREMES) {
                            const KVariant value(v);
                            KVariant out;
                            u32 u = 0;
                            char text[300];
                            u32 length = 0;
                            if (e->quantizeValue(&out, value, info, 0) == RESULT_OK && plain) {
                                ASSERT_GE(out.getInt(), min);
                                ASSERT_LE(out.getInt(), max);
                            }
                            e->stepValue(&out, value, info, INT_MAX, 10, 1);
                            e->stepValue(&out, value, info, INT_MIN, 0, 0);
                            e->getTextLength(&length, value, info, FLAG_APPEND_UNIT | 1);
                            e->valueToText(text, &length, sizeof(text), value, info, 2);
                            e->valueToNormalized(&u, value, info);
                            for (u32 n : {0u, 30u, 31u, 180u, 330u, 0xFFFFFFFFu}) {
                                if (e->normalizedToValue(&out, &n, info) == RESULT_OK && plain && min <= max) {
                                    ASSERT_GE(out.getInt(), min);
                                    ASSERT_LE(out.getInt(), max);
                                }
                            }
                            for (u32 steps : stepCounts) {
                                e->valueToPosition(&u, steps, value, info);
                                for (u32 position : {0u, 1u, steps / 2, 0xFFFFFFFFu}) {
                                    if (e->positionToValue(&out, &position, steps, info) == RESULT_OK && plain &&
                                        min <= max) {
                                        ASSERT_GE(out.getInt(), min);
                                        ASSERT_LE(out.getInt(), max);
                                    }
                                }
                            }
                            u32 pattern[43];
                            e->getSegmentPattern(pattern, 43, value);
                            e->valueToIndex(&u, value, info);
                            e->indexToValue(&out, static_cast<u32>(v), info);
                            e->getStepMultiplier(info, static_cast<u32>(v), 0);
                            e->getStepMultiplier(info, 10, 1);
                        }
                        for (const char* t : {"nan", "-nan", "inf", "-1e308", "1e308", "-2147483649", "4294967296"}) {
                            KVariant out;
                            const u32 r = e->textToValue(&out, t, static_cast<u32>(std::strlen(t)) + 1, info);
                            if (e == getLevelExpression() && (t[0] == 'n' || t[1] == 'n' || t[0] == 'i')) {
                                ASSERT_EQ(r, RESULT_BAD_ARGUMENT) << t;
                            }
                        }
                    }
                }
            }
        }
    }
}
