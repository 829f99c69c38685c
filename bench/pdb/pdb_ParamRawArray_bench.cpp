// Raw-array copies: whole copies of 1 MiB arrays against memcpy, and BOOL range copies of 1M bits against a
// std::vector<bool> element loop.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "pdb_ParamRawArray.h"
#include "pdb_ParamRawArrayBool.h"

namespace {

constexpr u32 kBytes = 1u << 20;
constexpr u32 kBits = 1u << 20;

PDB::IRawArray* makeArray(u8 typeCode, u32 count, u8 fill)
{
    PDB::IRawArray* array = nullptr;
    PDB::createRawArray(array, typeCode, 0, count);
    std::memset(array->getElementPointer(0), fill, array->getSize());
    return array;
}

void BM_RawArrayCopyAll(benchmark::State& state)
{
    PDB::IRawArray* source = makeArray(0x24, kBytes / 4, 0x5A);
    PDB::IRawArray* target = makeArray(0x24, kBytes / 4, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(target->copyAll(*source));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
    PDB::destroyRawArray(source);
    PDB::destroyRawArray(target);
}

void BM_RawArrayAssign(benchmark::State& state)
{
    PDB::IRawArray* source = makeArray(0x24, kBytes / 4, 0x5A);
    PDB::IRawArray* target = makeArray(0x24, kBytes / 4, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(target->assign(*source, 0));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
    PDB::destroyRawArray(source);
    PDB::destroyRawArray(target);
}

void BM_Memcpy1MiB(benchmark::State& state)
{
    std::vector<u8> source(kBytes, 0x5A);
    std::vector<u8> target(kBytes, 0);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), kBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
}

// Argument: start bit (0 aligned, 3 unaligned); the range runs to the end of the array.
void BM_RawArrayBoolCopyRange(benchmark::State& state)
{
    const u32 start = static_cast<u32>(state.range(0));
    PDB::IRawArray* source = makeArray(0x41, kBits, 0xA5);
    PDB::IRawArray* target = makeArray(0x41, kBits, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(target->copyRange(*source, start, kBits));
        benchmark::ClobberMemory();
    }
    PDB::destroyRawArray(source);
    PDB::destroyRawArray(target);
}

void BM_VectorBoolElementCopy(benchmark::State& state)
{
    const u32 start = static_cast<u32>(state.range(0));
    std::vector<bool> source(kBits);
    for (u32 i = 0; i < kBits; ++i) {
        source[i] = (i % 3) == 0;
    }
    std::vector<bool> target(kBits);
    for (auto _ : state) {
        for (u32 i = start; i < kBits; ++i) {
            target[i] = source[i];
        }
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_RawArrayCopyAll);
BENCHMARK(BM_RawArrayAssign);
BENCHMARK(BM_Memcpy1MiB);
BENCHMARK(BM_RawArrayBoolCopyRange)->Arg(0)->Arg(3);
BENCHMARK(BM_VectorBoolElementCopy)->Arg(0)->Arg(3);

} // namespace
