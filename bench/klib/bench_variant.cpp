// KVariant copies of texts and binaries against the standard containers.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "klib_Variant.h"

namespace {

void BM_KVariantTextCopy(benchmark::State& state)
{
    const std::string text(static_cast<size_t>(state.range(0)), 'k');
    const KVariant source(text.c_str(), 1024);
    for (auto _ : state) {
        KVariant copy(source);
        benchmark::DoNotOptimize(copy.getString());
    }
}
BENCHMARK(BM_KVariantTextCopy)->Arg(16)->Arg(256)->Arg(1023);

void BM_StdStringCopy(benchmark::State& state)
{
    const std::string source(static_cast<size_t>(state.range(0)), 'k');
    for (auto _ : state) {
        std::string copy(source);
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_StdStringCopy)->Arg(16)->Arg(256)->Arg(1023);

void BM_KVariantTextAssign(benchmark::State& state)
{
    const std::string text(static_cast<size_t>(state.range(0)), 'k');
    const KVariant source(text.c_str(), 1024);
    KVariant target;
    for (auto _ : state) {
        target = source;
        benchmark::DoNotOptimize(target.getString());
    }
}
BENCHMARK(BM_KVariantTextAssign)->Arg(16)->Arg(256)->Arg(1023);

void BM_KVariantBinaryCopy(benchmark::State& state)
{
    const std::vector<std::uint8_t> bytes(4096, 0x5A);
    const KVariant source(bytes.data(), static_cast<u32>(bytes.size()));
    for (auto _ : state) {
        KVariant copy(source);
        benchmark::DoNotOptimize(copy.getBinary());
    }
}
BENCHMARK(BM_KVariantBinaryCopy);

void BM_StdVectorBinaryCopy(benchmark::State& state)
{
    const std::vector<std::uint8_t> source(4096, 0x5A);
    for (auto _ : state) {
        std::vector<std::uint8_t> copy(source);
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_StdVectorBinaryCopy);

void BM_KVariantIntCopy(benchmark::State& state)
{
    const KVariant source(42);
    for (auto _ : state) {
        KVariant copy(source);
        benchmark::DoNotOptimize(copy.getInt());
    }
}
BENCHMARK(BM_KVariantIntCopy);

} // namespace
