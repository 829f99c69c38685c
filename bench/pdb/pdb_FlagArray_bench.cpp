// Change scans: a full findNext walk over 1M flags at several densities, against a std::vector<bool> loop and
// a hand-written std::vector<uint32_t> scan with std::countl_zero.
#include <benchmark/benchmark.h>

#include <bit>
#include <random>
#include <vector>

#include "pdb_FlagArray.h"

namespace {

constexpr u32 kFlags = 1u << 20;

// Density in flags per million.
std::vector<u32> setPositions(u32 perMillion)
{
    std::vector<u32> positions;
    std::mt19937 rng(perMillion + 1);
    std::uniform_int_distribution<u32> draw(0, 999999);
    for (u32 i = 0; i < kFlags; ++i) {
        if (draw(rng) < perMillion) {
            positions.push_back(i);
        }
    }
    return positions;
}

void BM_FlagArrayFindNext(benchmark::State& state)
{
    PDB::FlagArray flags;
    flags.allocate(kFlags);
    for (u32 i : setPositions(static_cast<u32>(state.range(0)))) {
        flags.set(i);
    }
    for (auto _ : state) {
        u32 found = 0;
        u32 index = 0;
        while (flags.findNext(index) == 0) {
            ++found;
            ++index;
        }
        benchmark::DoNotOptimize(found);
    }
}

void BM_VectorBoolLoop(benchmark::State& state)
{
    std::vector<bool> flags(kFlags);
    for (u32 i : setPositions(static_cast<u32>(state.range(0)))) {
        flags[i] = true;
    }
    for (auto _ : state) {
        u32 found = 0;
        for (u32 i = 0; i < kFlags; ++i) {
            if (flags[i]) {
                ++found;
            }
        }
        benchmark::DoNotOptimize(found);
    }
}

void BM_WordScanCountlZero(benchmark::State& state)
{
    std::vector<uint32_t> words(kFlags / 32);
    for (u32 i : setPositions(static_cast<u32>(state.range(0)))) {
        words[i >> 5] |= 0x80000000u >> (i & 31);
    }
    for (auto _ : state) {
        u32 found = 0;
        for (size_t w = 0; w < words.size(); ++w) {
            uint32_t word = words[w];
            while (word != 0) {
                const int bit = std::countl_zero(word);
                benchmark::DoNotOptimize(static_cast<u32>(w * 32 + bit));
                ++found;
                word &= ~(0x80000000u >> bit);
            }
        }
        benchmark::DoNotOptimize(found);
    }
}

// Densities 0, 0.01 %, 1 % and 50 %.
#define FLAG_DENSITIES Arg(0)->Arg(100)->Arg(10000)->Arg(500000)
BENCHMARK(BM_FlagArrayFindNext)->FLAG_DENSITIES;
BENCHMARK(BM_VectorBoolLoop)->FLAG_DENSITIES;
BENCHMARK(BM_WordScanCountlZero)->FLAG_DENSITIES;

} // namespace
