#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "klib_Codec.h"

namespace {

std::vector<unsigned char> randomBytes(size_t n)
{
    std::vector<unsigned char> data(n);
    std::mt19937 rng(5);
    for (auto& b : data) {
        b = static_cast<unsigned char>(rng());
    }
    return data;
}

void crcKlib(benchmark::State& state)
{
    const auto data = randomBytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(klib_crc32(data.data(), static_cast<u32>(data.size())));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void crcZlib(benchmark::State& state)
{
    const auto data = randomBytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc32(0L, data.data(), static_cast<uInt>(data.size())));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

constexpr u32 kMiB = 1u << 20;

void base64Encode(benchmark::State& state)
{
    const auto data = randomBytes(kMiB);
    std::vector<char> text(klib_base64EncodedSize(data.data(), kMiB));
    u32 length = 0;
    for (auto _ : state) {
        klib_base64Encode(text.data(), &length, static_cast<u32>(text.size()), data.data(), kMiB);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
}

void base64Decode(benchmark::State& state)
{
    const auto data = randomBytes(kMiB);
    std::vector<char> text(klib_base64EncodedSize(data.data(), kMiB));
    u32 length = 0;
    klib_base64Encode(text.data(), &length, static_cast<u32>(text.size()), data.data(), kMiB);
    std::vector<unsigned char> out(kMiB);
    for (auto _ : state) {
        klib_base64Decode(out.data(), &length, kMiB, text.data(), static_cast<u32>(text.size() - 1));
        benchmark::DoNotOptimize(out.data());
    }
    // Throughput counted in decoded bytes, like the encoder's input.
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
}

void md5(benchmark::State& state)
{
    const auto data = randomBytes(kMiB);
    unsigned char digest[16];
    for (auto _ : state) {
        KlibMd5Context ctx;
        klib_md5Init(&ctx);
        klib_md5Update(&ctx, data.data(), kMiB);
        klib_md5Final(digest, &ctx);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
}

} // namespace

BENCHMARK(crcKlib)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(crcZlib)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(base64Encode);
BENCHMARK(base64Decode);
BENCHMARK(md5);
