// VDir::open of a 10,000-entry folder against an opendir/readdir loop over it.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "fcache_VDir.h"

namespace {

constexpr u32 kEntries = 10000;

const std::string& folder()
{
    static const std::string* path = [] {
        std::string templ = (std::filesystem::temp_directory_path() / "vdirbench-XXXXXX").string();
        if (::mkdtemp(templ.data()) == nullptr) {
            std::abort();
        }
        auto* p = new std::string(templ);
        for (u32 i = 0; i < kEntries; ++i) {
            const std::string f = *p + "/entry" + std::to_string(i) + (i % 10 == 0 ? ".ini" : ".dat");
            const int fd = ::open(f.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            if (fd < 0) {
                std::abort();
            }
            ::close(fd);
        }
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(*path, ec);
        });
        return p;
    }();
    return *path;
}

void BM_VDirOpen10k(benchmark::State& state)
{
    const std::string& dir = folder();
    for (auto _ : state) {
        FILECACHE::VDir vdir(false);
        if (vdir.open(dir.c_str(), kEntries, false) != 0 || vdir.getItemCount() != kEntries) {
            state.SkipWithError("listing incomplete");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_VDirOpen10k)->Unit(benchmark::kMicrosecond);

void BM_ReaddirLoop10k(benchmark::State& state)
{
    const std::string& dir = folder();
    for (auto _ : state) {
        DIR* d = ::opendir(dir.c_str());
        u32 count = 0;
        while (const struct dirent* e = ::readdir(d)) {
            benchmark::DoNotOptimize(e->d_name);
            ++count;
        }
        ::closedir(d);
        benchmark::DoNotOptimize(count);
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_ReaddirLoop10k)->Unit(benchmark::kMicrosecond);

} // namespace
