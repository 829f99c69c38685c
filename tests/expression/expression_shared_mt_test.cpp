#include "expression_Instances.h"
#include "expression_TestInfo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

using namespace Expression;
using ExpressionTest::makeInfo;

// The process-wide expressions are shared by threads: concurrent conversions must neither race nor mix
// their results.
TEST(ExpressionShared, ConcurrentConversionsAgree)
{
    const ValueInfo plainInfo = makeInfo(-100000, 100000, 1, 100, "ms");
    const ValueInfo levelInfo = makeInfo(-32768, 1000, 1, 100);
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const i32 v = (i * 37 + t * 1013) % 200000 - 100000;
                u32 length = 0;
                char expected[32];
                const int printed = std::snprintf(expected, sizeof(expected), "%.2f", v / 100.0);
                if (getDefaultExpression()->getTextLength(&length, KVariant(v), plainInfo, FLAG_APPEND_UNIT) != 0 ||
                    length != static_cast<u32>(printed) + 1 + 2) {
                    ++mismatches;
                }
                char text[32];
                const i32 level = LEVEL_FINE_TABLE[(i + t) % 1024];
                KVariant back;
                if (getLevelExpression()->valueToText(text, &length, sizeof(text), KVariant(level), levelInfo, 1) !=
                    0) {
                    ++mismatches;
                } else if (level != LEVEL_MINUS_INFINITY &&
                           (getLevelExpression()->textToValue(&back, text, length, levelInfo) != 0 ||
                            back.getInt() != level)) {
                    ++mismatches;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches.load(), 0);
}
