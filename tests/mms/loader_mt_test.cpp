// The selected-item loader's registration raced from several threads: exactly one loader is taken.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "fcache_MBDF.h"
#include "mms_SelectedItemLoader.h"

namespace {

using MMSFUNC::SelectedItemLoader;

class RefusingLoader : public SelectedItemLoader
{
public:
    bool accept(FILECACHE::MBDF&, FILECACHE::IMBDFObserver*, const void*, const bool*) override { return false; }
};

TEST(SelectedItemLoader, RacingRegistrationsTakeExactlyOne)
{
    constexpr int kThreads = 8;
    std::vector<RefusingLoader> loaders(kThreads);
    std::atomic<int> accepted{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            if (MMSFUNC::registerSelectedItemLoader(&loaders[i]) == 0) {
                accepted.fetch_add(1);
            }
        });
    }
    go.store(true);
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(accepted.load(), 1);
    SelectedItemLoader* winner = MMSFUNC::getSelectedItemLoader();
    bool known = false;
    for (auto& loader : loaders) {
        known = known || winner == &loader;
    }
    EXPECT_TRUE(known);
}

} // namespace
