#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "klib_HeapManager.h"

using namespace KLIB;

namespace {

u32 low32(const void* p)
{
    return static_cast<u32>(reinterpret_cast<std::uintptr_t>(p));
}

std::string line(const char* format, u32 address, i32 size = 0)
{
    char text[256];
    std::snprintf(text, sizeof(text), format, address, size);
    return text;
}

} // namespace

TEST(HeapRegistry, OnlyTheGlobalHeapIsRegistered)
{
    IHeapManager* global = getHeapManager(0);
    ASSERT_NE(nullptr, global);
    EXPECT_EQ(global, getHeapManager(0));
    EXPECT_EQ(static_cast<IHeapManager*>(GlobalHeapManager::getInstance()), global);
    EXPECT_STREQ("GlobalHeapManager", global->getName());
    EXPECT_EQ(0xFFFFFFFFu, global->getMaxSize());
    EXPECT_EQ(nullptr, getHeapManager(1));
    EXPECT_EQ(nullptr, getHeapManager(31));
    EXPECT_EQ(nullptr, getHeapManager(32));
    EXPECT_EQ(nullptr, getHeapManager(255));

    u8 id = 0xAB;
    EXPECT_EQ(&id, getDefaultHeapId(&id));
    EXPECT_EQ(0, id);
}

TEST(HeapRegistry, TraceFlags)
{
    EXPECT_EQ(0, getHeapTraceFlag(0));
    EXPECT_EQ(0u, setHeapTraceFlag(0, 3));
    EXPECT_EQ(3, getHeapTraceFlag(0));
    EXPECT_EQ(0u, setHeapTraceFlag(0, 0));
    EXPECT_EQ(0x80000000u, setHeapTraceFlag(1, 1));
    EXPECT_EQ(0x80000000u, setHeapTraceFlag(32, 1));
    EXPECT_EQ(0, getHeapTraceFlag(1));
    EXPECT_EQ(0, getHeapTraceFlag(200));
}

TEST(HeadedBlock, HeaderAndZeroedPayload)
{
    auto* p = static_cast<u8*>(allocateBlock(0, "x", 5));
    ASSERT_NE(nullptr, p);
    const u8 header[8] = {0, 0, 0, 5, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(p - 8, header, 8));
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(0, p[i]);
    }
    EXPECT_EQ(0u, blockHeapId(p));
    EXPECT_EQ(5u, blockCount(p));
    EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(p) % 8);
    EXPECT_EQ(0u, releaseBlock(p));
}

TEST(HeadedBlock, SizeLimits)
{
    EXPECT_EQ(nullptr, allocateBlock(0, "x", 0));
    EXPECT_EQ(nullptr, allocateBlock(0, "x", 0x1000000));
    EXPECT_EQ(nullptr, allocateBlock(1, "x", 16));
    EXPECT_EQ(nullptr, allocateBlock(40, "x", 16));

    auto* big = static_cast<u8*>(allocateBlock(0, "big", 0xFFFFFF));
    ASSERT_NE(nullptr, big);
    EXPECT_EQ(0xFFu, big[-7]);
    EXPECT_EQ(0xFFu, big[-6]);
    EXPECT_EQ(0xFFu, big[-5]);
    EXPECT_EQ(0xFFFFFFu, blockCount(big));
    big[0xFFFFFE] = 1; // the whole payload is there
    EXPECT_EQ(0u, releaseBlock(big));
}

TEST(HeadedBlock, ElementCountVariant)
{
    auto* p = static_cast<u32*>(allocateBlockWithCount(0, "arr", 300 * sizeof(u32), 300));
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(300u, blockCount(p));
    EXPECT_EQ(0x00u, static_cast<u8*>(static_cast<void*>(p))[-7]);
    EXPECT_EQ(0x01u, static_cast<u8*>(static_cast<void*>(p))[-6]);
    EXPECT_EQ(0x2Cu, static_cast<u8*>(static_cast<void*>(p))[-5]);
    EXPECT_EQ(0u, p[299]);
    setBlockCount(p, 0x123456);
    EXPECT_EQ(0x123456u, blockCount(p));
    EXPECT_EQ(0u, blockHeapId(p));
    EXPECT_EQ(0u, releaseBlock(p));

    EXPECT_EQ(nullptr, allocateBlockWithCount(0, "arr", 16, 0));
    EXPECT_EQ(nullptr, allocateBlockWithCount(0, "arr", 0, 4));
    EXPECT_EQ(nullptr, allocateBlockWithCount(0, "arr", 16, 0x1000000));
    EXPECT_EQ(nullptr, allocateBlockWithCount(0, "arr", 0xFFFFFFF9u, 1)); // bytes + header exceed 32 bits
}

TEST(HeadedBlock, ReleaseFindsOrSparesTheManager)
{
    EXPECT_EQ(0x80000000u, releaseBlock(nullptr));
    EXPECT_EQ(0x80000000u, getHeapManager(0)->deallocate(nullptr, false));

    // A header naming an empty heap: the block is left alone (a free here would be caught by the sanitizer,
    // since this storage never came from malloc).
    alignas(8) u8 fake[16] = {7, 0, 0, 8, 0, 0, 0, 0, 0xAA};
    EXPECT_EQ(0x80000002u, releaseBlock(fake + 8));
    EXPECT_EQ(0xAA, fake[8]);
    fake[0] = 200;
    EXPECT_EQ(0x80000002u, releaseBlock(fake + 8));
}

TEST(HeapTrace, PrintsExactLines)
{
    ASSERT_EQ(0u, setHeapTraceFlag(0, 1));
    testing::internal::CaptureStdout();
    void* p = allocateBlock(0, nullptr, 16);
    const u32 r = releaseBlock(p);
    void* raw = getHeapManager(0)->allocate(100, true, "owner");
    getHeapManager(0)->deallocate(raw, false); // no trace without the flag
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    setHeapTraceFlag(0, 0);

    ASSERT_NE(nullptr, p);
    EXPECT_EQ(0u, r);
    const u32 block = low32(static_cast<u8*>(p) - 8);
    const std::string expected = line("     GlobalHeapManager::new    > 0x%08X (%12d) = ????\n", block, 24) +
                                 line("     GlobalHeapManager::delete > 0x%08X\n", block) +
                                 line("     GlobalHeapManager::new    > 0x%08X (%12d) = owner\n", low32(raw), 100);
    EXPECT_EQ(expected, out);
}

TEST(HeapTrace, NoLinesWhenTraceIsOff)
{
    ASSERT_EQ(0u, setHeapTraceFlag(0, 0));
    testing::internal::CaptureStdout();
    releaseBlock(allocateBlock(0, "quiet", 8));
    std::fflush(stdout);
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

TEST(HeapTrace, PrintTraceCutsLongLines)
{
    const std::string longText(400, 'q');
    testing::internal::CaptureStdout();
    EXPECT_EQ(0u, GlobalHeapManager::getInstance()->printTrace("%s|%d", longText.c_str(), 5));
    std::fflush(stdout);
    EXPECT_EQ(std::string(255, 'q'), testing::internal::GetCapturedStdout());
}
