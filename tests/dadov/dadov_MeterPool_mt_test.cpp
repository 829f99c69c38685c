#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "dadov_MeterPool.h"

using namespace DADOV;

// One thread writes whole arrays of set 2 with one byte value, one copies them out and one clears the meters:
// every copy holds a single value (no torn write or clear), and TSan sees no race.
TEST(MeterPool, WritesCopiesAndClearsRunUnderTheLock)
{
    constexpr u32 METERS = 4;
    std::vector<u32> list(8 * METERS, 0);
    for (u32 i = 0; i < METERS; ++i) {
        list[8 * i] = 6;              // f32
        list[8 * i + 1] = 0x10000001; // numX
        list[8 * i + 2] = 8;
        std::memcpy(&list[8 * i + 4], i % 2 == 0 ? "gr" : "level", i % 2 == 0 ? 2 : 5);
    }
    MeterPool pool;
    ASSERT_EQ(pool.initialize(list.data(), METERS, 1, 16, 1, 255, 1000), DADOV_OK);
    const u32 size = 16 * 8; // bytes per array of set 2

    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<int> failures{0};
    std::thread writer([&] {
        std::vector<u8> bytes(size);
        for (u32 round = 0; !done.load(); ++round) {
            std::memset(bytes.data(), static_cast<int>(round % 250 + 1), size);
            if (pool.writeMeterBytes(2, round % METERS, 0, bytes.data(), size) != DADOV_OK) {
                ++failures;
            }
        }
    });
    std::thread clearer([&] {
        while (!done.load()) {
            if (pool.clearMeters() != DADOV_OK) {
                ++failures;
            }
            std::this_thread::yield();
        }
    });
    std::vector<u8> out;
    for (int round = 0; round < 20000; ++round) {
        if (pool.copyMeterArray(2, static_cast<u32>(round) % METERS, out) != DADOV_OK || out.size() != size) {
            ++failures;
            continue;
        }
        for (u8 b : out) {
            if (b != out[0]) {
                ++torn;
                break;
            }
        }
    }
    done = true;
    writer.join();
    clearer.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(failures.load(), 0);
}
