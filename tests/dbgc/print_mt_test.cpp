// The debug print registry (lines stay whole when several threads print) and the data logger.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dbgc_DataLogger.h"
#include "dbgc_Print.h"
#include "dbgc_TestSupport.h"
#include "klib_HeapManager.h"
#include "os_Tasks.h"

namespace {

using dbgctest::FakeTransport;

class OsLayer : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(ossupport::initialize(), 0u); }
    void TearDown() override { ossupport::shutdown(); }
};

using PrintRegistry = OsLayer;
using DataLoggerTest = OsLayer;

TEST_F(PrintRegistry, TwoTransportsEveryLineCutAt399)
{
    FakeTransport first;
    FakeTransport second;
    FakeTransport third;
    EXPECT_EQ(dbgc_addLowIO(nullptr), 0x80000000u);
    EXPECT_EQ(dbgc_addLowIO(&first), 0u);
    EXPECT_EQ(dbgc_addLowIO(&second), 0u);
    EXPECT_EQ(dbgc_addLowIO(&third), 0x80000000u);
    EXPECT_EQ(DBGC::gLowIOList.size(), 2u);

    EXPECT_EQ(dbgc_printf("[i] value %d of %s\n", 42, "x"), 18u);
    EXPECT_EQ(first.takeOutput(), "[i] value 42 of x\n");
    EXPECT_EQ(second.takeOutput(), "[i] value 42 of x\n");
    EXPECT_EQ(third.takeOutput(), "");

    // A transport that takes a few bytes per write still gets the whole line.
    first.m_writeChunk = 3;
    const std::string long500(500, 'q');
    EXPECT_EQ(dbgc_printf("%s", long500.c_str()), 399u);
    EXPECT_EQ(first.takeOutput(), std::string(399, 'q'));
    EXPECT_EQ(second.takeOutput(), std::string(399, 'q'));

    EXPECT_EQ(dbgc_puts("plain %d\n"), 9u);
    EXPECT_EQ(second.takeOutput(), "plain %d\n");

    // A failing transport does not keep the others from their line.
    first.m_failWrite = true;
    EXPECT_EQ(dbgc_printf("after\n"), 6u);
    EXPECT_EQ(second.takeOutput(), "after\n");
    EXPECT_EQ(DBGC_LOG("[E] here\n"), 9u);
}

TEST_F(PrintRegistry, LinesOfSeveralThreadsNeverInterleave)
{
    FakeTransport transport;
    transport.m_writeChunk = 5; // every line takes several writes
    ASSERT_EQ(dbgc_addLowIO(&transport), 0u);
    std::vector<std::thread> printers;
    for (int t = 0; t < 4; ++t) {
        printers.emplace_back([t] {
            for (int i = 0; i < 500; ++i) {
                dbgc_printf("<%d:%03d ................................>\n", t, i);
            }
        });
    }
    // A block of three lines written under the lock is not split by any print.
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(dbgc_lock(), 0u);
        for (int k = 0; k < 3; ++k) {
            const std::string line = "{block " + std::to_string(100 + i) + "}\n";
            for (u32 done = 0, written = 0; done < line.size(); done += written) {
                ASSERT_EQ(transport.write(reinterpret_cast<const u8*>(line.data()) + done,
                                          static_cast<u32>(line.size()) - done, &written),
                          0u);
            }
        }
        EXPECT_EQ(dbgc_unlock(), 0u);
    }
    for (std::thread& printer : printers) {
        printer.join();
    }
    std::istringstream lines(transport.output());
    std::string line;
    std::set<std::string> seen;
    std::vector<std::string> blocks;
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] == '{') {
            blocks.push_back(line);
            continue;
        }
        ASSERT_EQ(line.size(), 40u) << line;
        ASSERT_EQ(line.front(), '<');
        ASSERT_EQ(line.back(), '>');
        seen.insert(line.substr(0, 7));
        // A print between the lines of a block would leave it incomplete here.
        ASSERT_EQ(blocks.size() % 3, 0u);
    }
    EXPECT_EQ(seen.size(), 2000u);
    EXPECT_EQ(blocks.size(), 150u);
}

TEST_F(PrintRegistry, FinalizeSilencesEveryPrint)
{
    FakeTransport transport;
    EXPECT_EQ(dbgc_finalize(), 0x80000000u); // nothing created yet
    ASSERT_TRUE(dbgc_initialize());
    ASSERT_EQ(dbgc_addLowIO(&transport), 0u);
    EXPECT_EQ(dbgc_finalize(), 0u);
    EXPECT_EQ(dbgc_finalize(), 0x80000000u);
    EXPECT_FALSE(dbgc_initialize());
    EXPECT_TRUE(DBGC::gLowIOList.empty());
    EXPECT_EQ(dbgc_printf("late %d\n", 1), 0u);
    EXPECT_EQ(dbgc_puts("late\n"), 0u);
    EXPECT_EQ(transport.output(), "");
    EXPECT_EQ(dbgc_addLowIO(&transport), 0u);
    EXPECT_TRUE(DBGC::gLowIOList.empty());
    // The lock still pairs up: two rounds do not block.
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(dbgc_lock(), 0u);
        EXPECT_EQ(dbgc_unlock(), 0u);
    }
}

TEST(PrintRegistryNoOs, NothingWithoutTheOsLayer)
{
    EXPECT_FALSE(dbgc_initialize());
    EXPECT_EQ(dbgc_printf("x\n"), 0u);
    EXPECT_EQ(dbgc_lock(), 0x80000000u);
}

TEST_F(DataLoggerTest, RingsOfDefaultRecords)
{
    static_assert(sizeof(DBGC::LogRecord) == 88);
    DBGC::DataLogger& logger = DBGC::DataLogger::getInstance();
    EXPECT_EQ(&logger, &DBGC::DataLogger::getInstance());
    EXPECT_EQ(logger.finalize(), 0x80000000u);
    ASSERT_EQ(logger.initialize(0, 300, 1000), 0u);
    EXPECT_NE(logger.getSemaphoreId(), 0u);
    auto& first = logger.getFirstRing();
    auto& second = logger.getSecondRing();
    EXPECT_EQ(first.getCapacity(), 300u);
    EXPECT_EQ(second.getCapacity(), 1000u);
    EXPECT_EQ(first.getState(), 2u);
    EXPECT_EQ(first.getCount(), 0u);
    const u8* header = KLIB::blockHeader(first.getData());
    EXPECT_EQ(header[0], 0u);
    EXPECT_EQ((header[1] << 16) | (header[2] << 8) | header[3], 300);
    const DBGC::LogRecord& record = second.at(999);
    EXPECT_EQ(record.m_value, 0u);
    EXPECT_TRUE(record.m_text.empty());
    EXPECT_EQ(record.m_param0, 0u);
    EXPECT_EQ(record.m_param1, 2000u);
    EXPECT_EQ(record.m_param2, 257u);
    EXPECT_EQ(record.m_kind, 0u);
    EXPECT_TRUE(record.m_detail.empty());

    // Initialising again replaces both rings.
    EXPECT_EQ(logger.initialize(0, 5, 6), 0u);
    EXPECT_EQ(first.getCapacity(), 5u);
    EXPECT_EQ(logger.finalize(), 0u);
    EXPECT_EQ(first.getState(), 0u);
    EXPECT_EQ(second.getCapacity(), 0u);
    EXPECT_EQ(logger.getSemaphoreId(), 0u);
    EXPECT_EQ(logger.finalize(), 0x80000000u);
}

TEST_F(DataLoggerTest, RefusedCounts)
{
    DBGC::DataLogger& logger = DBGC::DataLogger::getInstance();
    const u32 zero = logger.initialize(0, 0, 1000);
    EXPECT_EQ(zero & 0x80000001u, 0x80000001u);
    EXPECT_EQ(logger.getFirstRing().getCapacity(), 0u);
    EXPECT_EQ(logger.getSecondRing().getCapacity(), 1000u);
    EXPECT_EQ(logger.initialize(0, 1, 0x1000000) & 0x80000002u, 0x80000002u);
    EXPECT_EQ(logger.getFirstRing().getCapacity(), 1u);
    EXPECT_EQ(logger.getSecondRing().getState(), 0u);
    EXPECT_EQ(logger.finalize(), 0u);
}

} // namespace
