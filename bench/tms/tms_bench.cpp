// TMSMutex against std::recursive_mutex (uncontended and with 8 threads) and the thread heap against malloc/free.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <mutex>
#include <random>
#include <vector>

#include "os_Tasks.h"
#include "tms_Mutex.h"
#include "tms_ThreadHeapManager.h"

namespace {

void ensureOsLayer()
{
    static const bool initialized = [] { return ossupport::initialize() == 0; }();
    (void)initialized;
}

TMS::TMSMutex& sharedTmsMutex()
{
    ensureOsLayer();
    static TMS::TMSMutex mutex("Bench");
    return mutex;
}

std::recursive_mutex g_recursiveMutex;
long g_counter = 0;

void BM_TMSMutex(benchmark::State& state)
{
    TMS::TMSMutex& mutex = sharedTmsMutex();
    for (auto _ : state) {
        mutex.lock();
        ++g_counter;
        mutex.unlock();
    }
    benchmark::DoNotOptimize(g_counter);
}
BENCHMARK(BM_TMSMutex);
BENCHMARK(BM_TMSMutex)->Threads(8)->UseRealTime();

void BM_RecursiveMutex(benchmark::State& state)
{
    for (auto _ : state) {
        g_recursiveMutex.lock();
        ++g_counter;
        g_recursiveMutex.unlock();
    }
    benchmark::DoNotOptimize(g_counter);
}
BENCHMARK(BM_RecursiveMutex);
BENCHMARK(BM_RecursiveMutex)->Threads(8)->UseRealTime();

// A window of 256 live blocks of 16 B to 4 KiB; each step gives one back and takes a new one in its place.
constexpr size_t WINDOW = 256;

std::vector<u32> blockSizes()
{
    std::mt19937 random(42);
    std::uniform_int_distribution<u32> sizes(16, 4096);
    std::vector<u32> result(4096);
    for (u32& size : result) {
        size = sizes(random);
    }
    return result;
}

void BM_ThreadHeap(benchmark::State& state)
{
    const std::vector<u32> sizes = blockSizes();
    TMS::ThreadHeapManager heap;
    heap.prepare("Bench", 20000);
    std::vector<void*> live(WINDOW, nullptr);
    size_t step = 0;
    for (auto _ : state) {
        size_t slot = step % WINDOW;
        if (live[slot] != nullptr) {
            heap.deallocate(live[slot], false);
        }
        live[slot] = heap.allocate(sizes[step % sizes.size()], false, "bench");
        benchmark::DoNotOptimize(live[slot]);
        ++step;
    }
    for (void* block : live) {
        if (block != nullptr) {
            heap.deallocate(block, false);
        }
    }
}
BENCHMARK(BM_ThreadHeap);

void BM_Malloc(benchmark::State& state)
{
    const std::vector<u32> sizes = blockSizes();
    std::vector<void*> live(WINDOW, nullptr);
    size_t step = 0;
    for (auto _ : state) {
        size_t slot = step % WINDOW;
        std::free(live[slot]);
        live[slot] = std::malloc(sizes[step % sizes.size()]);
        benchmark::DoNotOptimize(live[slot]);
        ++step;
    }
    for (void* block : live) {
        std::free(block);
    }
}
BENCHMARK(BM_Malloc);

} // namespace
