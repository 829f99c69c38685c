// One writer thread and one reader thread move sequence-numbered elements through a klib_ringBuffer ring in
// random bursts; the reader checks every element in order.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "klib_RingBuffer.h"

namespace {

constexpr u32 kElements = 2000000; // tens of thousands of wraps of each ring, quick even under ThreadSanitizer
constexpr u32 kMaxBurst = 97;

template <class T> void runTransfer(u32 capacity)
{
    std::vector<T> storage(capacity);
    klib_RingBufferRecord ring;
    ASSERT_EQ(klib_ringBufferInit(sizeof(T), capacity, storage.data(), &ring), 0u);

    std::atomic<bool> writerFailed{false};
    std::thread writer([&] {
        std::mt19937 rng(7);
        std::uniform_int_distribution<u32> burst(1, kMaxBurst);
        T chunk[kMaxBurst];
        u32 sent = 0;
        while (sent < kElements) {
            u32 n = burst(rng);
            if (n > kElements - sent) {
                n = kElements - sent;
            }
            for (u32 i = 0; i < n; ++i) {
                chunk[i] = static_cast<T>(sent + i);
            }
            u32 put = 0;
            const u32 result = klib_ringBufferWrite(n, chunk, &put, &ring);
            if ((result != 0 && result != 0x80000002u) || put > n || (result == 0) != (put == n)) {
                writerFailed = true;
                return;
            }
            sent += put;
            if (put < n) {
                std::this_thread::yield();
            }
        }
    });

    std::mt19937 rng(11);
    std::uniform_int_distribution<u32> burst(1, kMaxBurst);
    T chunk[kMaxBurst];
    u32 received = 0;
    u32 mismatches = 0;
    u32 badResults = 0;
    while (received < kElements && !writerFailed) {
        u32 got = 0;
        const u32 result = klib_ringBufferRead(burst(rng), chunk, &got, &ring);
        if (result == 0x80000003u) {
            std::this_thread::yield();
            continue;
        }
        if ((result != 0 && result != 4) || got == 0) {
            ++badResults;
            break;
        }
        for (u32 i = 0; i < got; ++i) {
            if (chunk[i] != static_cast<T>(received + i)) {
                ++mismatches;
            }
        }
        received += got;
    }
    writer.join();
    EXPECT_FALSE(writerFailed);
    EXPECT_EQ(badResults, 0u);
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(received, kElements);
    EXPECT_EQ(klib_ringBufferGetCount(&ring), 0u);
}

TEST(RingBufferSpscTest, BytesInOrder)
{
    runTransfer<u8>(251);
}

TEST(RingBufferSpscTest, HalfWordsInOrder)
{
    runTransfer<u16>(1000);
}

TEST(RingBufferSpscTest, WordsInOrder)
{
    runTransfer<u32>(64);
}

} // namespace
