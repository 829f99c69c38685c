// Parameter arrays: a checked, hooked write against a plain raw-array store, and a record import (direct and
// element-wise) against memcpy of the record's bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "pdb_ParameterArray.h"

namespace {

using namespace PDB;

ParameterInfo blockU32(u32 count)
{
    ParameterInfo info;
    info.setAddress("/Bench/Block");
    info.setTypeCode(0x14);
    info.setElementSize(4);
    info.setAttribute(ParameterAttribute(0, ParameterAttribute::FLAG_RECALLABLE));
    info.setMin(KVariant(0u));
    info.setMax(KVariant(0xFFFFFFFFu));
    info.setDefault(KVariant(0u));
    info.setCounts(count, 1); // above the 16-bit base of a size pattern
    return info;
}

// Default strategy, dummy callback, null owner.
void BM_ParameterArraySetValue(benchmark::State& state)
{
    ParameterArray array;
    array.initialize(nullptr, 0, 0, blockU32(1), nullptr, nullptr, 0);
    const KVariant values[2] = {KVariant(1234u), KVariant(5678u)};
    u32 i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(array.setValue(0, 0, values[i & 1], 0));
        ++i;
    }
}
BENCHMARK(BM_ParameterArraySetValue);

// The same values stored through the raw array's variant store.
void BM_RawArraySetValue(benchmark::State& state)
{
    IRawArray* raw = nullptr;
    createRawArray(raw, 0x14, 4, 1);
    const KVariant values[2] = {KVariant(1234u), KVariant(5678u)};
    u32 i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(raw->setValue(0, values[i & 1]));
        benchmark::ClobberMemory();
        ++i;
    }
    destroyRawArray(raw);
}
BENCHMARK(BM_RawArraySetValue);

// The same values stored as plain integers.
void BM_RawArraySetUInt32(benchmark::State& state)
{
    IRawArray* raw = nullptr;
    createRawArray(raw, 0x14, 4, 1);
    const u32 values[2] = {1234u, 5678u};
    u32 i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(raw->setUInt32(0, values[i & 1]));
        benchmark::ClobberMemory();
        ++i;
    }
    destroyRawArray(raw);
}
BENCHMARK(BM_RawArraySetUInt32);

constexpr u32 kImportCount = 65536;

std::vector<u8> recordImage(u32 salt)
{
    std::vector<u8> image(kImportCount * 4);
    for (u32 i = 0; i < kImportCount; ++i) {
        const u32 v = i * 2654435761u + salt;
        std::memcpy(&image[i * 4], &v, 4);
    }
    return image;
}

void importWithFilter(benchmark::State& state, u8 filter)
{
    const ParameterInfo info = blockU32(kImportCount);
    ParameterArray array;
    if (array.initialize(nullptr, 0, 0, info, nullptr, nullptr, 0) != 0) {
        state.SkipWithError("initialize failed");
        return;
    }
    // Two images, alternated, so that every element-wise write changes its element.
    const std::vector<u8> images[2] = {recordImage(1), recordImage(2)};
    u32 i = 0;
    for (auto _ : state) {
        const std::vector<u8>& image = images[i & 1];
        benchmark::DoNotOptimize(array.importBinary(info, image.data(), static_cast<u32>(image.size()),
                                                    *getDummyFlagArray(), ParameterFilter(filter), 0));
        benchmark::ClobberMemory();
        ++i;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kImportCount * 4);
}

void BM_ImportBinaryFilter8(benchmark::State& state)
{
    importWithFilter(state, 8);
}
BENCHMARK(BM_ImportBinaryFilter8);

void BM_ImportBinaryFilter2(benchmark::State& state)
{
    importWithFilter(state, 2);
}
BENCHMARK(BM_ImportBinaryFilter2);

void BM_MemcpyRecord(benchmark::State& state)
{
    const std::vector<u8> images[2] = {recordImage(1), recordImage(2)};
    std::vector<u8> target(kImportCount * 4);
    u32 i = 0;
    for (auto _ : state) {
        std::memcpy(target.data(), images[i & 1].data(), target.size());
        benchmark::ClobberMemory();
        ++i;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kImportCount * 4);
}
BENCHMARK(BM_MemcpyRecord);

} // namespace
