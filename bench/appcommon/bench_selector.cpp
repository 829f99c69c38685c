// Element selectors in a change scan: swapChangeFlags and findNextChange over the scan database with 1 % of the
// elements changed, with getParameterElementSelector asked for every change, against the same scan without it.
// Argument 0 spreads the changes over every block, argument 1 puts them all into the "@xyz" set.
#include <benchmark/benchmark.h>

#include "bench_ScanDatabase.h"
#include "lpc_ParameterSelector.h"

namespace {

template <bool withSelector> void scan(benchmark::State& state)
{
    benchscan::Observer observer;
    benchscan::ScanDatabase data;
    PDB::IParameterDB& database = data.get();
    database.registerCallback(1, &observer, 0);
    u64 found = 0;
    u64 inSets = 0;
    for (auto _ : state) {
        state.PauseTiming();
        data.change(state.range(0) != 0);
        state.ResumeTiming();
        found += benchscan::bareScan(database, 0, [&](u32 c, u32 b) {
            if constexpr (withSelector) {
                LPC::ElementSelector selector;
                (void)LPC::getParameterElementSelector(database, c, b, &selector);
                inSets += selector.m_hasSelector ? 1 : 0;
            }
        });
    }
    state.counters["found"] = static_cast<double>(found) / static_cast<double>(state.iterations());
    state.counters["inSets"] = static_cast<double>(inSets) / static_cast<double>(state.iterations());
}

void BM_ChangeScan(benchmark::State& state)
{
    scan<false>(state);
}
BENCHMARK(BM_ChangeScan)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_ChangeScanWithSelector(benchmark::State& state)
{
    scan<true>(state);
}
BENCHMARK(BM_ChangeScanWithSelector)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace
