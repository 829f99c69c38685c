#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "tms_PrivateHeap.h"
#include "tms_ThreadHeapManager.h"

namespace {

using TMS::ThreadHeapManager;

// One owner allocates while four other threads give its blocks back and allocate from the same heap themselves.
// Every block keeps its pattern until it is given back, and nothing is left mapped after release.
TEST(ThreadHeapManagerThreads, BlocksGivenBackFromOtherThreads)
{
    u64 before = TMS::PrivateHeap::getProcessMappedBytes();
    ThreadHeapManager heap;
    ASSERT_EQ(heap.prepare("Owner", 20000), 0u);

    std::mutex queueLock;
    std::deque<std::pair<u8*, u32>> queue;
    std::atomic<bool> done{false};
    std::atomic<u32> failures{0};
    std::atomic<u32> released{0};

    auto check = [&](u8* data, u32 size) {
        u8 fill = static_cast<u8>(size);
        if (data[0] != fill || data[size - 1] != fill || data[size / 2] != fill) {
            failures.fetch_add(1);
        }
    };

    std::vector<std::thread> helpers;
    for (int t = 0; t < 4; ++t) {
        helpers.emplace_back([&, t] {
            u32 own = 0;
            for (;;) {
                std::pair<u8*, u32> item{nullptr, 0};
                {
                    std::lock_guard<std::mutex> guard(queueLock);
                    if (!queue.empty()) {
                        item = queue.front();
                        queue.pop_front();
                    }
                }
                if (item.first == nullptr) {
                    if (done.load()) {
                        break;
                    }
                    std::this_thread::yield();
                    continue;
                }
                check(item.first, item.second);
                if (heap.deallocate(item.first, false) != 0) {
                    failures.fetch_add(1);
                }
                released.fetch_add(1);
                // Allocate and give back on this thread too, against the owner's allocations.
                u32 size = 32 + (own++ * 37 + static_cast<u32>(t) * 11) % 3000;
                auto* mine = static_cast<u8*>(heap.allocate(size, false, "helper"));
                if (mine == nullptr) {
                    failures.fetch_add(1);
                    continue;
                }
                std::memset(mine, static_cast<u8>(size), size);
                check(mine, size);
                if (heap.deallocate(mine, false) != 0) {
                    failures.fetch_add(1);
                }
            }
        });
    }

    constexpr u32 COUNT = 20000;
    for (u32 i = 0; i < COUNT; ++i) {
        u32 size = 16 + (i * 7919) % 4096;
        auto* data = static_cast<u8*>(heap.allocate(size, false, "owner"));
        ASSERT_NE(data, nullptr);
        std::memset(data, static_cast<u8>(size), size);
        std::lock_guard<std::mutex> guard(queueLock);
        queue.emplace_back(data, size);
    }
    done.store(true);
    for (std::thread& helper : helpers) {
        helper.join();
    }
    EXPECT_EQ(failures.load(), 0u);
    EXPECT_EQ(released.load(), COUNT);
    heap.release();
    EXPECT_EQ(TMS::PrivateHeap::getProcessMappedBytes(), before);
}

} // namespace
