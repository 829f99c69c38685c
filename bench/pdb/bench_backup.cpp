// Backup export of one database of 1000 components x 20 blocks x 64 UINT32 (about 5.5 MB) against write() of
// the same number of bytes plus fsync and rename in the same folder. The export also reports its peak heap
// growth as a multiple of the record size and the longest time it held the database lock.
//
// Peak heap: this program's malloc family forwards to the C library's allocator and, only while a measurement
// is running, adds up the usable sizes of blocks taken and given back.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "fcache_MBDF.h"
#include "pdb_BackupFile.h"
#include "pdb_ComponentInfo.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_MBDFPDBBlock.h"
#include "pdb_ParameterDB.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void __libc_free(void* pointer);
}

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long long> g_current{0};
std::atomic<long long> g_peak{0};

void countTaken(void* pointer)
{
    if (pointer != nullptr && g_counting.load(std::memory_order_relaxed)) {
        const long long now = g_current.fetch_add(static_cast<long long>(malloc_usable_size(pointer))) +
                              static_cast<long long>(malloc_usable_size(pointer));
        long long peak = g_peak.load(std::memory_order_relaxed);
        while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
        }
    }
}

void countGiven(void* pointer)
{
    if (pointer != nullptr && g_counting.load(std::memory_order_relaxed)) {
        g_current.fetch_sub(static_cast<long long>(malloc_usable_size(pointer)));
    }
}

} // namespace

extern "C" {
void* malloc(size_t size)
{
    void* pointer = __libc_malloc(size);
    countTaken(pointer);
    return pointer;
}
void* calloc(size_t count, size_t size)
{
    void* pointer = __libc_calloc(count, size);
    countTaken(pointer);
    return pointer;
}
void* realloc(void* pointer, size_t size)
{
    countGiven(pointer);
    void* moved = __libc_realloc(pointer, size);
    countTaken(moved != nullptr ? moved : (size == 0 ? nullptr : pointer));
    return moved;
}
void free(void* pointer)
{
    countGiven(pointer);
    __libc_free(pointer);
}
}

using namespace PDB;

namespace {

constexpr u32 kComponents = 1000;
constexpr u32 kBlocks = 20;
constexpr u32 kElements = 64;
constexpr ParameterAttribute kStored{0, ParameterAttribute::FLAG_RECALLABLE | ParameterAttribute::FLAG_NONVOLATILE};

// A recursive lock that records the longest outermost hold.
class TimingMutex : public IMutex
{
public:
    i32 lockRead() override { return lock(); }
    i32 lockWrite() override { return lock(); }
    i32 unlockRead() override { return unlock(); }
    i32 unlockWrite() override { return unlock(); }
    double longestHoldMs() const { return m_longest; }
    void reset() { m_longest = 0; }

private:
    i32 lock()
    {
        m_mutex.lock();
        if (m_depth++ == 0) {
            m_since = std::chrono::steady_clock::now();
        }
        return 0;
    }
    i32 unlock()
    {
        if (--m_depth == 0) {
            const std::chrono::duration<double, std::milli> held = std::chrono::steady_clock::now() - m_since;
            m_longest = std::max(m_longest, held.count());
        }
        m_mutex.unlock();
        return 0;
    }

    std::recursive_mutex m_mutex;
    int m_depth = 0;
    std::chrono::steady_clock::time_point m_since;
    double m_longest = 0;
};

struct BenchDatabase
{
    TimingMutex mutex;
    ParameterDB db;
    BenchDatabase()
    {
        ComponentInfo info;
        info.initialize("BackupBench", 1, 1, 1, 1, 1, "", "", nullptr);
        for (u32 b = 0; b < kBlocks; ++b) {
            const std::string address = "/b" + std::to_string(b);
            info.addParameterUInt32(address.c_str(), kElements, 1, "", "", 0, 0xFFFFFFFF, 0, 0, 1, 1, kStored, "", "",
                                    "");
        }
        ComponentInfoRepository::getInstance().registerComponentInfo(info);
        db.initialize(0, "Profile", &mutex);
        for (u32 c = 0; c < kComponents; ++c) {
            db.addComponent(c + 1, "BackupBench", 1, 0, 0, 0);
            for (u32 b = 0; b < kBlocks; ++b) {
                db.setValueUInt(c, b, c % kElements, 0, c * 31 + b, 0);
            }
        }
    }
};

BenchDatabase& database()
{
    static BenchDatabase instance;
    return instance;
}

std::string scratchFolder()
{
    char pattern[] = "/tmp/bench_backup_XXXXXX";
    const char* made = mkdtemp(pattern);
    return made != nullptr ? made : "/tmp";
}

void removeFolder(const std::string& folder)
{
    if (folder != "/tmp") {
        std::remove((folder + "/bench.bup").c_str());
        std::remove((folder + "/plain.bin").c_str());
        rmdir(folder.c_str());
    }
}

void BM_BackupExport(benchmark::State& state)
{
    BenchDatabase& bench = database();
    const std::string folder = scratchFolder();
    BackupFile backup;
    backup.setup("ZethImage", 0, {{&bench.db, 0}}, folder.c_str());
    const double record = bench.db.getComponentTableSize();
    bench.mutex.reset();
    long long peak = 0;
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    for (auto _ : state) {
        g_current.store(0);
        g_peak.store(0);
        g_counting.store(true);
        const i32 result = backup.exportToFile("bench.bup");
        g_counting.store(false);
        peak = std::max(peak, g_peak.load());
        if (result != 0) {
            state.SkipWithError("export failed");
            break;
        }
    }
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    state.counters["page_faults"] =
        benchmark::Counter(static_cast<double>(after.ru_minflt - before.ru_minflt), benchmark::Counter::kAvgIterations);
    state.counters["record_bytes"] = record;
    state.counters["peak_heap_x_record"] = static_cast<double>(peak) / record;
    state.counters["lock_hold_max_ms"] = bench.mutex.longestHoldMs();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * static_cast<int64_t>(record)));
    removeFolder(folder);
}
BENCHMARK(BM_BackupExport)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same number of bytes as the backup file, written with write(), synced and renamed over the target; with
// argument 1 the folder is synced after the rename as well (as the container's atomic write does).
void BM_WriteSyncRename(benchmark::State& state)
{
    const bool syncFolder = state.range(0) != 0;
    BenchDatabase& bench = database();
    const size_t size = 72 + 36 + ((bench.db.getComponentTableSize() + 3) & ~3u) + 36;
    const std::vector<char> bytes(size, 'x');
    const std::string folder = scratchFolder();
    const std::string temporary = folder + "/.plain.tmp";
    const std::string target = folder + "/plain.bin";
    for (auto _ : state) {
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        size_t done = 0;
        while (fd >= 0 && done < size) {
            const ssize_t put = write(fd, bytes.data() + done, size - done);
            if (put <= 0) {
                break;
            }
            done += static_cast<size_t>(put);
        }
        if (fd < 0 || done != size || fsync(fd) != 0 || close(fd) != 0 ||
            rename(temporary.c_str(), target.c_str()) != 0) {
            state.SkipWithError("plain write failed");
            break;
        }
        if (syncFolder) {
            const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
            if (dirFd < 0 || fsync(dirFd) != 0 || close(dirFd) != 0) {
                state.SkipWithError("folder sync failed");
                break;
            }
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * static_cast<int64_t>(size)));
    removeFolder(folder);
}
BENCHMARK(BM_WriteSyncRename)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

namespace {

// The table export alone, into a fresh buffer and into one reused across iterations.
void BM_BackupTableExportOnly(benchmark::State& state)
{
    BenchDatabase& bench = database();
    const bool reuse = state.range(0) != 0;
    std::vector<u8> kept(bench.db.getComponentTableSize());
    for (auto _ : state) {
        const u32 size = bench.db.getComponentTableSize();
        if (reuse) {
            benchmark::DoNotOptimize(bench.db.exportComponentTable(kept.data(), size, 0));
        } else {
            u8* fresh = static_cast<u8*>(std::malloc(size));
            benchmark::DoNotOptimize(bench.db.exportComponentTable(fresh, size, 0));
            std::free(fresh);
        }
    }
}
BENCHMARK(BM_BackupTableExportOnly)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Building the "#PDB DB" block alone (no file).
void BM_BackupBlockSetup(benchmark::State& state)
{
    BenchDatabase& bench = database();
    for (auto _ : state) {
        MBDFPDBBlock block;
        benchmark::DoNotOptimize(block.setup("Profile", &bench.db, 0));
    }
}
BENCHMARK(BM_BackupBlockSetup)->Unit(benchmark::kMillisecond)->UseRealTime();

// Writing a container that already holds the block (the file part of an export).
void BM_BackupContainerWrite(benchmark::State& state)
{
    BenchDatabase& bench = database();
    const std::string folder = scratchFolder();
    FILECACHE::MBDF container;
    const u8 id[16] = {};
    container.create("Backup", "ZethImage", 0, id, 16);
    auto* block = new MBDFPDBBlock();
    block->setup("Profile", &bench.db, 0);
    container.appendBlock(block);
    const std::string path = folder + "/bench.bup";
    for (auto _ : state) {
        if (container.write(path.c_str(), nullptr, nullptr, true) != 0) {
            state.SkipWithError("write failed");
            break;
        }
    }
    removeFolder(folder);
}
BENCHMARK(BM_BackupContainerWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
