// Watcher delivery of 10,000 creations against a raw inotify read loop over the same events, and an idle poll
// against one non-blocking read() that returns EAGAIN.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fw_FileWatcher.h"

namespace {

constexpr int kFiles = 10000;

class ScratchDir
{
public:
    ScratchDir()
    {
        std::string templ = (std::filesystem::temp_directory_path() / "fwbench-XXXXXX").string();
        if (::mkdtemp(templ.data()) == nullptr) {
            std::abort();
        }
        m_path = templ;
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

void createFiles(const std::string& dir)
{
    for (int i = 0; i < kFiles; ++i) {
        const std::string p = dir + "/file" + std::to_string(i);
        const int fd = ::open(p.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd < 0) {
            std::abort();
        }
        ::close(fd);
    }
}

void removeFiles(const std::string& dir)
{
    for (int i = 0; i < kFiles; ++i) {
        ::unlink((dir + "/file" + std::to_string(i)).c_str());
    }
}

class Counter : public FW::FileWatchListener
{
public:
    void onFileChanged(u32, const std::string&, const std::string& name, u32 action) override
    {
        if (action == FW::kActionAdded) {
            ++added;
        }
        benchmark::DoNotOptimize(name.data());
    }
    int added = 0;
};

void BM_WatcherDelivery10k(benchmark::State& state)
{
    ScratchDir dir;
    FW::FileWatcher watcher;
    Counter counter;
    watcher.watchDirectory(dir.path(), &counter);
    for (auto _ : state) {
        state.PauseTiming();
        createFiles(dir.path());
        counter.added = 0;
        state.ResumeTiming();
        while (counter.added < kFiles) {
            watcher.poll();
        }
        state.PauseTiming();
        removeFiles(dir.path());
        watcher.poll();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(BM_WatcherDelivery10k)->Unit(benchmark::kMicrosecond)->Iterations(20);

void BM_RawInotifyDelivery10k(benchmark::State& state)
{
    ScratchDir dir;
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ::inotify_add_watch(fd, dir.path().c_str(),
                        IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF |
                            IN_MOVE_SELF | IN_ONLYDIR);
    std::vector<char> buffer(64 * 1024);
    for (auto _ : state) {
        state.PauseTiming();
        createFiles(dir.path());
        state.ResumeTiming();
        int added = 0;
        while (added < kFiles) {
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            for (ssize_t at = 0; at < n;) {
                struct inotify_event e;
                __builtin_memcpy(&e, buffer.data() + at, sizeof(e));
                if ((e.mask & IN_CREATE) != 0) {
                    ++added;
                }
                benchmark::DoNotOptimize(buffer.data() + at + sizeof(e));
                at += static_cast<ssize_t>(sizeof(e) + e.len);
            }
        }
        state.PauseTiming();
        removeFiles(dir.path());
        while (::read(fd, buffer.data(), buffer.size()) > 0) {
        }
        state.ResumeTiming();
    }
    ::close(fd);
    state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(BM_RawInotifyDelivery10k)->Unit(benchmark::kMicrosecond)->Iterations(20);

void BM_WatcherIdlePoll(benchmark::State& state)
{
    ScratchDir dir;
    FW::FileWatcher watcher;
    Counter counter;
    watcher.watchDirectory(dir.path(), &counter);
    for (auto _ : state) {
        watcher.poll();
    }
}
BENCHMARK(BM_WatcherIdlePoll);

void BM_RawEagainRead(benchmark::State& state)
{
    ScratchDir dir;
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ::inotify_add_watch(fd, dir.path().c_str(), IN_CREATE);
    char buffer[4096];
    for (auto _ : state) {
        benchmark::DoNotOptimize(::read(fd, buffer, sizeof(buffer)));
    }
    ::close(fd);
}
BENCHMARK(BM_RawEagainRead);

} // namespace
