// Atomic replacement under concurrency: readers never see a partial file, temporaries never collide.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "fsw_TestSupport.h"
#include "fsw_api.h"

using fswtest::TempDir;

namespace {

constexpr size_t kSize = 48 * 1024;
constexpr int kWriters = 6;
constexpr int kRounds = 25;

// Writes kSize bytes of one value through a replacement; returns the commit result.
u32 replaceWith(const std::string& target, char value)
{
    FswReplace* replace = nullptr;
    u32 result = fsw_replaceBegin(&replace, target.c_str());
    if (result != 0) {
        return result;
    }
    const std::string content(kSize, value);
    // Two halves, so a reader could catch a half-written file if the replacement were not atomic.
    u32 put = 0;
    result = fsw_write(content.data(), &put, kSize / 2, fsw_replaceHandle(replace));
    if (result == 0) {
        std::this_thread::yield();
        result = fsw_write(content.data() + kSize / 2, &put, kSize / 2, fsw_replaceHandle(replace));
    }
    if (result != 0) {
        fsw_replaceAbort(replace);
        return result;
    }
    return fsw_replaceCommit(replace);
}

} // namespace

TEST(FswReplaceThreads, ReadersOnlyEverSeeWholeVersions)
{
    TempDir dir;
    const std::string target = dir / "shared.bin";
    ASSERT_EQ(replaceWith(target, 'A'), 0u);

    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (!done.load()) {
            FswHandle h = FSW_INVALID_HANDLE;
            if (fsw_open(&h, target.c_str(), FSW_MODE_READ) != 0) {
                failures.fetch_add(1); // the target must exist at every moment
                continue;
            }
            std::string content(kSize + 1, '\0');
            u32 got = 0;
            const u32 read = fsw_read(content.data(), &got, static_cast<u32>(content.size()), &h);
            fsw_close(&h);
            content.resize(got);
            if (read != FSW_OK || got != kSize || content.find_first_not_of(content[0]) != std::string::npos) {
                failures.fetch_add(1);
            }
            reads.fetch_add(1);
        }
    });
    std::vector<std::thread> writers;
    std::atomic<int> writeFailures{0};
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int round = 0; round < kRounds; ++round) {
                if (replaceWith(target, static_cast<char>('B' + w)) != 0) {
                    writeFailures.fetch_add(1);
                }
            }
        });
    }
    for (std::thread& t : writers) {
        t.join();
    }
    done.store(true);
    reader.join();

    EXPECT_EQ(writeFailures.load(), 0);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(fswtest::listNames(dir.path()), (std::vector<std::string>{"shared.bin"}));
}

TEST(FswReplaceThreads, ConcurrentCopiesIntoOneFolder)
{
    TempDir dir;
    const std::string source = dir / "source";
    const std::string content = fswtest::pattern(200000, 9);
    ASSERT_TRUE(fswtest::writeFile(source, content));
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            const std::string to = dir / ("copy" + std::to_string(t % 4));
            for (int round = 0; round < 10; ++round) {
                if (fsw_copy(source.c_str(), to.c_str()) != 0) {
                    failures.fetch_add(1);
                }
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(failures.load(), 0);
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(fswtest::readFile(dir / ("copy" + std::to_string(i))) == content) << i;
    }
    EXPECT_EQ(fswtest::listNames(dir.path()).size(), 5u) << "no temporary may remain";
}
