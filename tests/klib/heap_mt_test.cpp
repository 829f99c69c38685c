#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "klib_HeapManager.h"
#include "klib_Print.h"

using namespace KLIB;

// Blocks allocated and released from many threads at once, with tracing on: every block keeps its own header
// and contents, and every trace line comes out whole.
TEST(HeapThreads, ConcurrentTracedBlocksKeepTheirContentsAndLines)
{
    constexpr int kThreads = 6;
    constexpr int kRounds = 300;
    ASSERT_EQ(0u, setHeapTraceFlag(0, 1));
    testing::internal::CaptureStdout();
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < kRounds; ++i) {
                const u32 size = 1 + static_cast<u32>((t * 131 + i * 17) % 300);
                auto* p = static_cast<u8*>(allocateBlock(0, "mt", size));
                if (p == nullptr || blockCount(p) != size || blockHeapId(p) != 0) {
                    ++failures[t];
                    continue;
                }
                std::memset(p, t + 1, size);
                char location[32];
                std::snprintf(location, sizeof(location), "/t/%d.cpp", t);
                klib_setPrintLocation(location, static_cast<u32>(i));
                const char* file = nullptr;
                u32 line = 0;
                klib_getPrintLocation(&file, &line);
                if (p[size - 1] != t + 1 || line != static_cast<u32>(i) || std::strcmp(file, location + 3) != 0) {
                    ++failures[t];
                }
                releaseBlock(p);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    setHeapTraceFlag(0, 0);

    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(0, failures[t]) << "thread " << t;
    }
    std::istringstream lines(out);
    std::string line;
    int news = 0;
    int deletes = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("     GlobalHeapManager::new    > 0x", 0) == 0 && line.size() == 63 &&
            line.substr(line.size() - 5) == " = mt") {
            ++news;
        } else if (line.rfind("     GlobalHeapManager::delete > 0x", 0) == 0 && line.size() == 43) {
            ++deletes;
        } else {
            ADD_FAILURE() << "garbled trace line: " << line;
        }
    }
    EXPECT_EQ(kThreads * kRounds, news);
    EXPECT_EQ(kThreads * kRounds, deletes);
}
