// File API against the bare system calls: piecewise writes, write-through cost, copy and new small files.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fsw_api.h"

namespace {

constexpr size_t kTotal = 64u << 20;
constexpr size_t kPiece = 1024;

// A scratch folder on the disk (not a memory file system), removed at exit. The path is never destroyed, so the
// exit handler can still use it.
const std::string& scratch()
{
    static const std::string* path = [] {
        std::string templ = (std::filesystem::temp_directory_path() / "fswbench-XXXXXX").string();
        if (::mkdtemp(templ.data()) == nullptr) {
            std::abort();
        }
        return new std::string(templ);
    }();
    static const bool cleanup = [] {
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(*path, ec);
        });
        return true;
    }();
    (void)cleanup;
    return *path;
}

const std::vector<char>& piece()
{
    static const std::vector<char> bytes(kPiece, 'p');
    return bytes;
}

void BM_FswWrite1K(benchmark::State& state)
{
    const std::string path = scratch() + "/fsw_write";
    for (auto _ : state) {
        FswHandle h = FSW_INVALID_HANDLE;
        if (fsw_open(&h, path.c_str(), FSW_MODE_WRITE | FSW_MODE_CREATE_ALWAYS) != 0) {
            state.SkipWithError("open failed");
            break;
        }
        for (size_t done = 0; done < kTotal; done += kPiece) {
            u32 put = 0;
            if (fsw_write(piece().data(), &put, kPiece, &h) != FSW_OK) {
                state.SkipWithError("write failed");
            }
        }
        fsw_close(&h);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

void BM_PosixWrite1K(benchmark::State& state)
{
    const std::string path = scratch() + "/posix_write";
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        for (size_t done = 0; done < kTotal; done += kPiece) {
            benchmark::DoNotOptimize(::write(fd, piece().data(), kPiece));
        }
        ::close(fd);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

// The write-through choice: every piece synchronous, against plain writes and one fsync at the end.
void BM_PosixWrite1KDsync(benchmark::State& state)
{
    const std::string path = scratch() + "/dsync_write";
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_DSYNC, 0666);
        for (size_t done = 0; done < kTotal; done += kPiece) {
            benchmark::DoNotOptimize(::write(fd, piece().data(), kPiece));
        }
        ::close(fd);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

void BM_FswWrite1KThenFlush(benchmark::State& state)
{
    const std::string path = scratch() + "/flush_write";
    for (auto _ : state) {
        FswHandle h = FSW_INVALID_HANDLE;
        if (fsw_open(&h, path.c_str(), FSW_MODE_WRITE | FSW_MODE_CREATE_ALWAYS) != FSW_OK) {
            state.SkipWithError("open failed");
            break;
        }
        for (size_t done = 0; done < kTotal; done += kPiece) {
            u32 put = 0;
            if (fsw_write(piece().data(), &put, kPiece, &h) != FSW_OK) {
                state.SkipWithError("write failed");
            }
        }
        fsw_flush(&h);
        fsw_close(&h);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

const std::string& copySource()
{
    static const std::string path = [] {
        const std::string p = scratch() + "/copy_source";
        const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        std::vector<char> block(1 << 20);
        for (size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<char>(i * 131 + 7);
        }
        for (size_t done = 0; done < kTotal; done += block.size()) {
            if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
                std::abort();
            }
        }
        ::fsync(fd);
        ::close(fd);
        return p;
    }();
    return path;
}

void BM_FswCopy(benchmark::State& state)
{
    const std::string& from = copySource();
    const std::string to = scratch() + "/fsw_copy";
    (void)fsw_copy(from.c_str(), to.c_str()); // warm-up: the first pass pays for fresh page-cache memory
    for (auto _ : state) {
        if (fsw_copy(from.c_str(), to.c_str()) != 0) {
            state.SkipWithError("copy failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

void BM_PosixCopy64K(benchmark::State& state)
{
    const std::string& from = copySource();
    const std::string to = scratch() + "/posix_copy";
    std::vector<char> buffer(64 * 1024);
    const auto copyOnce = [&] {
        const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
        const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        for (;;) {
            const ssize_t n = ::read(in, buffer.data(), buffer.size());
            if (n <= 0) {
                break;
            }
            benchmark::DoNotOptimize(::write(out, buffer.data(), static_cast<size_t>(n)));
        }
        ::fsync(out);
        ::close(out);
        ::close(in);
    };
    copyOnce(); // warm-up, as for BM_FswCopy
    for (auto _ : state) {
        copyOnce();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

// Many small new files, as an extraction writes them: the replacement without syncs against create, write and
// rename. Each file is removed again in both loops, so the folder stays small.
void BM_FswReplaceNew1K(benchmark::State& state)
{
    const std::string path = scratch() + "/fsw_new";
    for (auto _ : state) {
        FswReplace* replace = nullptr;
        u32 put = 0;
        if (fsw_replaceBeginUnsynced(&replace, path.c_str()) != FSW_OK) {
            state.SkipWithError("begin failed");
            break;
        }
        if (fsw_write(piece().data(), &put, kPiece, fsw_replaceHandle(replace)) != FSW_OK) {
            fsw_replaceAbort(replace);
            state.SkipWithError("write failed");
            break;
        }
        if (fsw_replaceCommit(replace) != FSW_OK) {
            state.SkipWithError("commit failed");
            break;
        }
        ::unlink(path.c_str());
    }
}

void BM_PosixCreateRenameNew1K(benchmark::State& state)
{
    const std::string temp = scratch() + "/.posix_new.tmp";
    const std::string path = scratch() + "/posix_new";
    for (auto _ : state) {
        const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        benchmark::DoNotOptimize(::write(fd, piece().data(), kPiece));
        ::close(fd);
        if (::rename(temp.c_str(), path.c_str()) != 0) {
            state.SkipWithError("rename failed");
            break;
        }
        ::unlink(path.c_str());
    }
}

} // namespace

BENCHMARK(BM_FswWrite1K)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PosixWrite1K)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PosixWrite1KDsync)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_FswWrite1KThenFlush)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FswCopy)->Unit(benchmark::kMillisecond)->Iterations(10)->Repetitions(3);
BENCHMARK(BM_PosixCopy64K)->Unit(benchmark::kMillisecond)->Iterations(10)->Repetitions(3);
BENCHMARK(BM_FswReplaceNew1K)->Unit(benchmark::kMicrosecond)->Repetitions(3);
BENCHMARK(BM_PosixCreateRenameNew1K)->Unit(benchmark::kMicrosecond)->Repetitions(3);
