// The meter container written by several threads while another reads it.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "vdp_MeterContainer.h"

using VDevice::VDMeterContainer;

TEST(MeterContainerThreads, WritersAndAReader)
{
    VDMeterContainer& meters = VDMeterContainer::getInstance();
    meters.clear();
    constexpr int kWriters = 8;
    constexpr int kRounds = 2000;
    std::atomic<bool> done{false};
    std::atomic<size_t> reads{0};
    std::thread reader([&] {
        while (!done.load()) {
            const std::vector<std::string> keys = meters.getMeterKeys();
            const std::vector<u32> ids = meters.getMeterList();
            // Every id listed belongs to a writer's component (uid = writer + 1).
            for (const u32 id : ids) {
                EXPECT_TRUE(id >= 1 && id <= kWriters);
            }
            EXPECT_LE(keys.size(), static_cast<size_t>(kWriters));
            meters.getInterval();
            reads.fetch_add(1);
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&meters, w] {
            const std::string address = "AudioCompo/#" + std::to_string(w + 1);
            for (int i = 0; i < kRounds; ++i) {
                EXPECT_TRUE(meters.addMeter("meter", address));
                EXPECT_TRUE(meters.addMeter("meter", address));
                EXPECT_TRUE(meters.removeMeter("meter", address));
                meters.setInterval(60 + i % 100);
                EXPECT_TRUE(meters.removeMeter("meter", address));
            }
            EXPECT_TRUE(meters.addMeter("meter", address)); // one subscription stays per writer
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    done.store(true);
    reader.join();
    EXPECT_GT(reads.load(), 0u);
    EXPECT_EQ(meters.getMeterList(), (std::vector<u32>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_GE(meters.getInterval(), 60u);
}
