// Level quantizing against a lower_bound nearest search on the same table, and the default number text at
// scaling 100 against snprintf("%.2f"), each over 1M values.
#include "expression_Instances.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

using namespace Expression;

namespace {

constexpr size_t VALUE_COUNT = 1000000;

const std::vector<i32>& values(i32 lo, i32 hi)
{
    static std::vector<i32> v;
    v.resize(VALUE_COUNT);
    std::mt19937 rng(42);
    std::uniform_int_distribution<i32> dist(lo, hi);
    for (auto& x : v) {
        x = dist(rng);
    }
    return v;
}

ValueInfo makeInfo(i32 min, i32 max, u32 scaling)
{
    ValueInfo info;
    info.min.setInt(min);
    info.max.setInt(max);
    info.step.setInt(1);
    info.scaling = scaling;
    return info;
}

void BM_LevelQuantize(benchmark::State& state)
{
    const std::vector<i32> input = values(-33000, 1200);
    const ValueInfo info = makeInfo(-32768, 1000, 100);
    const IExpression& e = *getLevelExpression();
    KVariant value;
    KVariant out;
    for (auto _ : state) {
        i64 sum = 0;
        for (i32 v : input) {
            value.setInt(v);
            e.quantizeValue(&out, value, info, 1);
            sum += out.getInt();
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<i64>(state.iterations() * VALUE_COUNT));
}
BENCHMARK(BM_LevelQuantize)->Unit(benchmark::kMillisecond);

void BM_LowerBoundNearestBaseline(benchmark::State& state)
{
    const std::vector<i32> input = values(-33000, 1200);
    const i16* first = LEVEL_FINE_TABLE.data();
    const i16* last = first + LEVEL_FINE_TABLE.size();
    for (auto _ : state) {
        i64 sum = 0;
        for (i32 v : input) {
            const i32 c = std::clamp(v, -32768, 32767);
            const i16* it = std::lower_bound(first, last, c);
            i32 nearest = 0;
            if (it == first) {
                nearest = *first;
            } else if (it == last) {
                nearest = *(last - 1);
            } else {
                nearest = (c - *(it - 1) <= *it - c) ? *(it - 1) : *it;
            }
            sum += nearest;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<i64>(state.iterations() * VALUE_COUNT));
}
BENCHMARK(BM_LowerBoundNearestBaseline)->Unit(benchmark::kMillisecond);

void BM_DefaultValueToText(benchmark::State& state)
{
    const std::vector<i32> input = values(-10000000, 10000000);
    const ValueInfo info = makeInfo(-10000000, 10000000, 100);
    const IExpression& e = *getDefaultExpression();
    KVariant value;
    char buffer[32];
    for (auto _ : state) {
        u32 total = 0;
        for (i32 v : input) {
            value.setInt(v);
            u32 length = 0;
            e.valueToText(buffer, &length, sizeof(buffer), value, info, 1);
            total += length;
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(static_cast<i64>(state.iterations() * VALUE_COUNT));
}
BENCHMARK(BM_DefaultValueToText)->Unit(benchmark::kMillisecond);

void BM_SnprintfBaseline(benchmark::State& state)
{
    const std::vector<i32> input = values(-10000000, 10000000);
    char buffer[32];
    for (auto _ : state) {
        u32 total = 0;
        for (i32 v : input) {
            total += static_cast<u32>(std::snprintf(buffer, sizeof(buffer), "%.2f", v * 0.01)) + 1;
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(static_cast<i64>(state.iterations() * VALUE_COUNT));
}
BENCHMARK(BM_SnprintfBaseline)->Unit(benchmark::kMillisecond);

} // namespace
