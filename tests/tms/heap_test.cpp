#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "tms_PrivateHeap.h"
#include "tms_ThreadHeapManager.h"

#if defined(__SANITIZE_ADDRESS__)
#define HEAP_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HEAP_TEST_ASAN 1
#endif
#endif

namespace {

using TMS::PrivateHeap;
using TMS::ThreadHeapManager;

struct Block
{
    u8* data;
    u32 size;
    u8 fill;
};

TEST(ThreadHeapManager, UnpreparedManagerGivesNothing)
{
    ThreadHeapManager heap;
    EXPECT_EQ(heap.allocate(16, false, "t"), nullptr);
    EXPECT_STREQ(heap.getName(), "");
    EXPECT_EQ(heap.getMaxSize(), 0x80000000u);
    int local = 0;
    EXPECT_EQ(heap.deallocate(&local, false), 0x80000000u);

    char name[16] = "Worker";
    ASSERT_EQ(heap.prepare(name, 20000), 0u);
    std::strcpy(name, "Overwritten");
    EXPECT_STREQ(heap.getName(), "Worker");
    EXPECT_EQ(heap.getMaxSize(), 0xFFFFFFFFu);
    ASSERT_EQ(heap.prepare(nullptr, 20000), 0u);
    EXPECT_STREQ(heap.getName(), "(Unknown)");
    heap.release();
    EXPECT_FALSE(heap.isPrepared());
    EXPECT_EQ(heap.allocate(16, false, "t"), nullptr);
}

// Random blocks of 16 B to 64 KiB, filled with a pattern and released in random order, outgrow the initial
// 20000 bytes; no block overlaps another (the patterns survive), and release unmaps everything.
TEST(ThreadHeapManager, RandomBlocksOutgrowInitialSizeAndReleaseReturnsEverything)
{
    u64 before = PrivateHeap::getProcessMappedBytes();
    {
        ThreadHeapManager heap;
        ASSERT_EQ(heap.prepare("Random", 20000), 0u);
        u64 initial = heap.getImpl()->getMappedBytes();
        EXPECT_GE(initial, 20000u);
        EXPECT_LT(initial, 20000u + 8192u);

        std::mt19937 random(1234);
        std::uniform_int_distribution<u32> sizes(16, 64 * 1024);
        std::vector<Block> blocks;
        u64 live = 0;
        for (int round = 0; round < 2000; ++round) {
            if (blocks.empty() || random() % 3 != 0) {
                u32 size = sizes(random);
                auto* data = static_cast<u8*>(heap.allocate(size, false, "random"));
                ASSERT_NE(data, nullptr) << "size " << size;
                ASSERT_EQ(reinterpret_cast<uintptr_t>(data) % 16, 0u);
                u8 fill = static_cast<u8>(round);
                std::memset(data, fill, size);
                blocks.push_back({data, size, fill});
                live += size;
            } else {
                size_t index = random() % blocks.size();
                Block block = blocks[index];
                blocks[index] = blocks.back();
                blocks.pop_back();
                for (u32 i = 0; i < block.size; i += 97) {
                    ASSERT_EQ(block.data[i], block.fill);
                }
                ASSERT_EQ(block.data[block.size - 1], block.fill);
                EXPECT_EQ(heap.deallocate(block.data, false), 0u);
                live -= block.size;
            }
        }
        EXPECT_GT(heap.getImpl()->getMappedBytes(), initial);
        EXPECT_GE(heap.getImpl()->getMappedBytes(), live);
        for (const Block& block : blocks) {
            ASSERT_EQ(block.data[0], block.fill);
            ASSERT_EQ(block.data[block.size - 1], block.fill);
        }
        // Half of the blocks are given back, the rest stay allocated: release must unmap them too.
        for (size_t i = 0; i < blocks.size(); i += 2) {
            EXPECT_EQ(heap.deallocate(blocks[i].data, false), 0u);
        }
        EXPECT_GT(PrivateHeap::getProcessMappedBytes(), before);
        heap.release();
        EXPECT_EQ(PrivateHeap::getProcessMappedBytes(), before);
    }
    EXPECT_EQ(PrivateHeap::getProcessMappedBytes(), before);
}

TEST(ThreadHeapManager, ReleasedBlocksAreReused)
{
    ThreadHeapManager heap;
    ASSERT_EQ(heap.prepare("Reuse", 4096), 0u);
    void* first = heap.allocate(100, false, "a");
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(heap.deallocate(first, false), 0u);
    u64 mapped = heap.getImpl()->getMappedBytes();
    for (int i = 0; i < 10000; ++i) {
        void* block = heap.allocate(100, false, "a");
        ASSERT_NE(block, nullptr);
        ASSERT_EQ(heap.deallocate(block, false), 0u);
    }
    EXPECT_EQ(heap.getImpl()->getMappedBytes(), mapped);
}

TEST(ThreadHeapManager, RefusesBlocksItDoesNotOwn)
{
    ThreadHeapManager heap;
    ThreadHeapManager other;
    ASSERT_EQ(heap.prepare("Mine", 20000), 0u);
    ASSERT_EQ(other.prepare("Other", 20000), 0u);

    void* mine = heap.allocate(64, false, "x");
    void* theirs = other.allocate(64, false, "x");
    ASSERT_NE(mine, nullptr);
    ASSERT_NE(theirs, nullptr);
    EXPECT_TRUE(heap.getImpl()->owns(mine));
    EXPECT_FALSE(heap.getImpl()->owns(theirs));

    EXPECT_EQ(heap.deallocate(nullptr, false), 0x80000000u);
    EXPECT_EQ(heap.deallocate(theirs, false), 0x80000000u);
    EXPECT_EQ(heap.deallocate(static_cast<u8*>(mine) + 16, false), 0x80000000u);
    EXPECT_EQ(heap.deallocate(mine, false), 0u);
    // A second release of the same block is refused and does not put it on the free list twice.
    EXPECT_EQ(heap.deallocate(mine, false), 0x80000000u);
    void* a = heap.allocate(64, false, "x");
    void* b = heap.allocate(64, false, "x");
    EXPECT_NE(a, b);
    EXPECT_EQ(other.deallocate(theirs, false), 0u);

    // Size 0 still gives distinct blocks.
    void* zeroA = heap.allocate(0, false, "z");
    void* zeroB = heap.allocate(0, false, "z");
    ASSERT_NE(zeroA, nullptr);
    EXPECT_NE(zeroA, zeroB);
    EXPECT_EQ(heap.deallocate(zeroB, false), 0u);
}

TEST(ThreadHeapManager, LargeBlocksGetTheirOwnMappingAndGoBackAtOnce)
{
    ThreadHeapManager heap;
    ASSERT_EQ(heap.prepare("Large", 20000), 0u);
    u64 mapped = heap.getImpl()->getMappedBytes();
    auto* block = static_cast<u8*>(heap.allocate(3 * 1024 * 1024, false, "large"));
    ASSERT_NE(block, nullptr);
    block[0] = 1;
    block[3 * 1024 * 1024 - 1] = 2;
    EXPECT_GE(heap.getImpl()->getMappedBytes(), mapped + 3 * 1024 * 1024);
    EXPECT_TRUE(heap.getImpl()->owns(block));
    EXPECT_EQ(heap.deallocate(block, false), 0u);
    EXPECT_EQ(heap.getImpl()->getMappedBytes(), mapped);
    EXPECT_EQ(heap.deallocate(block, false), 0x80000000u);
}

#if defined(HEAP_TEST_ASAN)
// The sanitizer still sees misuse of thread-heap blocks.
TEST(ThreadHeapManagerDeathTest, SanitizerReportsOverrun)
{
    ThreadHeapManager heap;
    ASSERT_EQ(heap.prepare("Overrun", 20000), 0u);
    auto* block = static_cast<volatile u8*>(heap.allocate(24, false, "x"));
    ASSERT_NE(block, nullptr);
    block[23] = 1;
    EXPECT_DEATH(block[24] = 1, "use-after-poison|heap-buffer-overflow");
}

TEST(ThreadHeapManagerDeathTest, SanitizerReportsUseAfterRelease)
{
    ThreadHeapManager heap;
    ASSERT_EQ(heap.prepare("Stale", 20000), 0u);
    auto* block = static_cast<volatile u8*>(heap.allocate(64, false, "x"));
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(heap.deallocate(const_cast<u8*>(block), false), 0u);
    EXPECT_DEATH(block[0] = 1, "use-after-poison");
}
#endif

} // namespace
