#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include "tms_LoggerFixture.h"

namespace {

using TMS::ThreadLogger;
using TMS::TMSMutex;

using tmstest::ThreadLoggerTest;

TEST_F(ThreadLoggerTest, RingKeepsTheNewestLines)
{
    ASSERT_EQ(logger.prepare(&mutex, "Worker", 3), 0u);
    for (int i = 1; i <= 5; ++i) {
        ASSERT_EQ(logger.printf("line %d\n", i), 0u);
    }
    EXPECT_EQ(logger.getCount(), 3u);
    EXPECT_EQ(line(0), "line 3\n");
    EXPECT_EQ(line(1), "line 4\n");
    EXPECT_EQ(line(2), "line 5\n");

    char out[16] = "untouched";
    EXPECT_EQ(logger.getLine(3, out, sizeof(out)), 0x80000007u);
    EXPECT_STREQ(out, "");

    // A line is cut to the caller's buffer.
    char small[4];
    EXPECT_EQ(logger.getLine(0, small, sizeof(small)), 0u);
    EXPECT_STREQ(small, "lin");
    EXPECT_EQ(logger.getLine(0, nullptr, 10), 0x80000002u);
    EXPECT_EQ(logger.getLine(0, small, 0), 0x80000002u);

    EXPECT_EQ(logger.clearLines(), 0u);
    EXPECT_EQ(logger.getCount(), 0u);
    ASSERT_EQ(logger.printf("after clear"), 0u);
    EXPECT_EQ(line(0), "after clear");
}

TEST_F(ThreadLoggerTest, LongLineIsStoredAndPrintedCutTo255)
{
    ASSERT_EQ(logger.prepare(&mutex, "Worker", 10), 0u);
    std::string text(300, 'x');
    testing::internal::CaptureStdout();
    ASSERT_EQ(logger.printf("%s", text.c_str()), 0u);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, std::string(255, 'x'));
    EXPECT_EQ(line(0), std::string(255, 'x'));
}

TEST_F(ThreadLoggerTest, LinesBeforePrepareOrWithoutRingAreDropped)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(logger.printf("too early\n"), 0x80000004u);
    EXPECT_EQ(logger.getCount(), 0u);

    // A ring of 0 lines is refused; the logger then has its mutex but no ring.
    EXPECT_EQ(logger.prepare(&mutex, "Worker", 0), 0x80000000u);
    EXPECT_FALSE(logger.isPrepared());
    EXPECT_EQ(logger.printf("no ring\n"), 0x80000000u);
    EXPECT_EQ(logger.clearLines(), 0x80000000u);
    char out[8];
    EXPECT_EQ(logger.getLine(0, out, sizeof(out)), 0x80000000u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    ASSERT_EQ(logger.prepare(&mutex, "Worker", 2), 0u);
    EXPECT_EQ(logger.getCount(), 0u);
}

TEST_F(ThreadLoggerTest, PrepareChecksMutexAndRefusesASecondPrepare)
{
    TMSMutex* none = nullptr;
    EXPECT_EQ(logger.prepare(none, "Worker", 3), 0x80000004u);
    EXPECT_EQ(logger.prepare(&mutex, "Worker", 0x1000000), 0x80000000u);

    char name[16] = "Worker";
    ASSERT_EQ(logger.prepare(&mutex, name, 3), 0u);
    std::snprintf(name, sizeof(name), "Other");
    EXPECT_STREQ(logger.getOwnerName(), "Worker");
    EXPECT_EQ(logger.prepare(&mutex, "Again", 5), 1u);
    EXPECT_EQ(logger.getCapacity(), 3u);

    logger.release();
    EXPECT_FALSE(logger.isPrepared());
    EXPECT_EQ(logger.getCapacity(), 0u);
    EXPECT_EQ(logger.prepare(&mutex, "Again", 5), 0u);
    EXPECT_EQ(logger.getCapacity(), 5u);
}

} // namespace
