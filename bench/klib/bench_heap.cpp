#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

#include "klib_HeapManager.h"

namespace {

void headedBlock(benchmark::State& state)
{
    const auto size = static_cast<u32>(state.range(0));
    for (auto _ : state) {
        void* p = KLIB::allocateBlock(0, "bench", size);
        benchmark::DoNotOptimize(p);
        KLIB::releaseBlock(p);
    }
}

void mallocFree(benchmark::State& state)
{
    const auto size = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        void* p = std::malloc(size);
        benchmark::DoNotOptimize(p);
        std::free(p);
    }
}

// The headed block is zero-filled; this is the like-for-like reference.
void mallocZeroFree(benchmark::State& state)
{
    const auto size = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        void* p = std::malloc(size + 8);
        benchmark::DoNotOptimize(p);
        std::memset(static_cast<char*>(p) + 8, 0, size);
        benchmark::ClobberMemory();
        std::free(p);
    }
}

} // namespace

BENCHMARK(headedBlock)->Arg(16)->Arg(256)->Arg(4096);
BENCHMARK(mallocFree)->Arg(16)->Arg(256)->Arg(4096);
BENCHMARK(mallocZeroFree)->Arg(16)->Arg(256)->Arg(4096);
