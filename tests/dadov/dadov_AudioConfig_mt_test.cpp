#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "dadov_AudioConfigDB.h"
#include "os_Tasks.h"

using namespace DADOV;

namespace {

// Record k: every field derived from k, so a copy mixed from two records differs from each.
AudioConfig numbered(u32 k)
{
    AudioConfig c;
    c.m_name = "System" + std::to_string(k);
    c.m_fsHz = 1000 * k;
    c.m_result = static_cast<i32>(k);
    for (u32 i = 0; i < 1000; ++i) {
        c.m_components.push_back({i, "C" + std::to_string(k), k, i % 7, 1});
        c.m_connections.push_back({i, k, i + 1, k});
    }
    c.m_dspAssignments.push_back({0, k, u64{k} << 33, k, 1, 0});
    return c;
}

} // namespace

// One writer replaces the record while three readers copy it out: every copy is one of the written records.
TEST(AudioConfigStore, CopiesAreWhole)
{
    if (!ossupport::isInitialized()) {
        ASSERT_EQ(ossupport::initialize(), 0u);
    }
    AudioConfigDB& db = AudioConfigDB::getInstance();
    ASSERT_EQ(db.initialize(), DADOV_OK);
    std::vector<AudioConfig> records;
    for (u32 k = 0; k < 4; ++k) {
        records.push_back(numbered(k));
    }
    ASSERT_EQ(db.setAudioConfig(records[0]), DADOV_OK);

    std::atomic<bool> done{false};
    std::atomic<int> mismatches{0};
    std::atomic<int> copies{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            AudioConfig out;
            while (!done.load()) {
                if (db.getAudioConfig(out) != DADOV_OK || out.m_fsHz % 1000 != 0 || out.m_fsHz / 1000 >= 4 ||
                    out != records[out.m_fsHz / 1000]) {
                    ++mismatches;
                }
                ++copies;
            }
        });
    }
    for (int round = 0; round < 200; ++round) {
        ASSERT_EQ(db.setAudioConfig(records[static_cast<size_t>(round) % 4]), DADOV_OK);
    }
    while (copies.load() < 30) {
        std::this_thread::yield();
    }
    done = true;
    for (std::thread& t : readers) {
        t.join();
    }
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(db.finalize(), DADOV_OK);
}
