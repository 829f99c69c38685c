// FileAccessor::read in 4 KiB pieces against read(2) of the same pieces, from a cached 64 MiB file.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fcache_BinaryAccessor.h"

namespace {

constexpr size_t kTotal = 64u << 20;
constexpr size_t kPiece = 4096;

// A cached 64 MiB file in a scratch folder, removed at exit. The path is never destroyed, so the exit handler can
// still use it.
const std::string& source()
{
    static const std::string* folder = [] {
        std::string templ = (std::filesystem::temp_directory_path() / "fcachebench-XXXXXX").string();
        if (::mkdtemp(templ.data()) == nullptr) {
            std::abort();
        }
        return new std::string(templ);
    }();
    static const std::string path = [] {
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(*folder, ec);
        });
        const std::string p = *folder + "/source";
        const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        std::vector<char> block(1 << 20, 's');
        for (size_t done = 0; done < kTotal; done += block.size()) {
            if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
                std::abort();
            }
        }
        ::close(fd);
        return p;
    }();
    return path;
}

void BM_AccessorRead4K(benchmark::State& state)
{
    const std::string& path = source();
    std::vector<char> buffer(kPiece);
    for (auto _ : state) {
        FILECACHE::FileAccessor file;
        if (file.open(path.c_str(), FILECACHE::FileAccessor::kModeRead) != 0) {
            state.SkipWithError("open failed");
            break;
        }
        u32 got = 0;
        while (file.read(buffer.data(), kPiece, &got) == 0) {
            benchmark::DoNotOptimize(buffer.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

void BM_PosixRead4K(benchmark::State& state)
{
    const std::string& path = source();
    std::vector<char> buffer(kPiece);
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        while (::read(fd, buffer.data(), kPiece) > 0) {
            benchmark::DoNotOptimize(buffer.data());
        }
        ::close(fd);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

} // namespace

BENCHMARK(BM_AccessorRead4K)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PosixRead4K)->Unit(benchmark::kMillisecond)->MinTime(2.0);
