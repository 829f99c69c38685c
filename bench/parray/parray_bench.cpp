// createSet + destroySet of 64 mixed descriptors (4 KiB each) against 64 calloc/free pairs of the same sizes.
#include "parray_ArrayFactory.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

using namespace PARRAY;

namespace {

constexpr u32 ARRAY_COUNT = 64;

// Eight shapes of 4096 bytes each, one per element type.
std::vector<u32> mixedDescriptors()
{
    const u32 shapes[8][4] = {
        {ELEMENT_U32, 1024, 0, 0}, {ELEMENT_U16, 32, 64, 0}, {ELEMENT_U8, 4096, 0, 0}, {ELEMENT_I32, 16, 64, 0},
        {ELEMENT_I16, 8, 16, 16},  {ELEMENT_I8, 16, 16, 16}, {ELEMENT_F32, 4, 16, 16}, {ELEMENT_F64, 512, 0, 0},
    };
    std::vector<u32> words;
    for (u32 i = 0; i < ARRAY_COUNT; ++i) {
        const u32* s = shapes[i % 8];
        words.insert(words.end(), {s[0], s[1], s[2], s[3], 0, 0, 0, 0});
    }
    return words;
}

void BM_CreateDestroySet(benchmark::State& state)
{
    const std::vector<u32> descriptors = mixedDescriptors();
    for (auto _ : state) {
        u8* set = nullptr;
        u32 size = 0;
        if (ArrayFactory::createSet(&set, &size, descriptors.data(), ARRAY_COUNT, 1, 1) != RESULT_OK) {
            state.SkipWithError("createSet failed");
            break;
        }
        benchmark::DoNotOptimize(set);
        ArrayFactory::destroySet(set, descriptors.data(), ARRAY_COUNT);
    }
}
BENCHMARK(BM_CreateDestroySet);

void BM_CallocFreeBaseline(benchmark::State& state)
{
    void* blocks[ARRAY_COUNT];
    for (auto _ : state) {
        for (u32 i = 0; i < ARRAY_COUNT; ++i) {
            blocks[i] = std::calloc(1, 4096);
        }
        benchmark::DoNotOptimize(blocks);
        for (u32 i = 0; i < ARRAY_COUNT; ++i) {
            std::free(blocks[i]);
        }
    }
}
BENCHMARK(BM_CallocFreeBaseline);

} // namespace
