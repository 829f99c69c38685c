#include <benchmark/benchmark.h>

#include <cstdio>

#include "klib_Print.h"

namespace {

// A typical log line of the system.
#define LOG_LINE_FORMAT "[W] %s::%s - component %d parameter %u flags 0x%08X name %-12s|\n"
#define LOG_LINE_ARGS "AbstractThread", "onReceiveMessage", -12, 4711u, 0xBEEFu, "Gain"

void klibSnprintf(benchmark::State& state)
{
    char buffer[256];
    u32 length = 0;
    for (auto _ : state) {
        klib_snprintf(buffer, sizeof(buffer), &length, LOG_LINE_FORMAT, LOG_LINE_ARGS);
        benchmark::DoNotOptimize(buffer);
    }
}

void libcSnprintf(benchmark::State& state)
{
    char buffer[256];
    for (auto _ : state) {
        std::snprintf(buffer, sizeof(buffer), LOG_LINE_FORMAT, LOG_LINE_ARGS);
        benchmark::DoNotOptimize(buffer);
    }
}

void klibSnprintfFloat(benchmark::State& state)
{
    char buffer[64];
    u32 length = 0;
    double v = 0.1234;
    for (auto _ : state) {
        klib_snprintf(buffer, sizeof(buffer), &length, "gain %.2f dB", v);
        benchmark::DoNotOptimize(buffer);
        v += 0.5;
    }
}

void libcSnprintfFloat(benchmark::State& state)
{
    char buffer[64];
    double v = 0.1234;
    for (auto _ : state) {
        std::snprintf(buffer, sizeof(buffer), "gain %.2f dB", v);
        benchmark::DoNotOptimize(buffer);
        v += 0.5;
    }
}

} // namespace

BENCHMARK(klibSnprintf);
BENCHMARK(libcSnprintf);
BENCHMARK(klibSnprintfFloat);
BENCHMARK(libcSnprintfFloat);
