// The application thread's change scan (onChangePDB with one subscription key, each change handed to an
// onChangePDBParam that counts it) against the bare swapChangeFlags + findNextChange loop, over the scan database
// with 1 % of the elements changed. Argument 0 spreads the changes over every block, argument 1 puts them all into
// the "@xyz" set, where they are coalesced.
//
// Both scans see the same changes: the database has a flag set for each, and every iteration makes one round of
// changes and times both scans, alternating which goes first so that neither profits more from the other's warm
// caches. The reported time is the thread's scan; "ratio" is its total over the bare loop's for the repetition.
#include <benchmark/benchmark.h>

#include <chrono>

#include "bench_ScanDatabase.h"
#include "pyrite_AppThread.h"

namespace {

constexpr u32 BARE_KEY = 2;

// Never started: the scan is called directly, and the database's change notices find no task to wake.
class CountingThread : public PYRITE::PyriteAppThread
{
public:
    CountingThread() : PyriteAppThread(1) {}

    u32 onChangePDBParam(PDB::IParameterDB*, u32, u32, u32, u32, u32) override
    {
        ++m_reported;
        return 0;
    }

    u64 m_reported = 0;
};

template <typename Scan> double timed(Scan&& scan)
{
    const auto start = std::chrono::steady_clock::now();
    scan();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_AppThreadChangeScan(benchmark::State& state)
{
    CountingThread thread;
    benchscan::Observer observer;
    benchscan::ScanDatabase data; // deleted before the callbacks it holds
    PDB::IParameterDB& database = data.get();
    (void)thread.registerPDBCallback(1, 0);
    database.registerCallback(BARE_KEY, &observer, 0);
    const u32 bareFlagSet = database.getCallbackIndex(BARE_KEY);
    double threadTotal = 0;
    double bareTotal = 0;
    u64 found = 0;
    bool threadFirst = false;
    for (auto _ : state) {
        data.change(state.range(0) != 0);
        double threadTime = 0;
        auto runThread = [&] { threadTime = timed([&] { benchmark::DoNotOptimize(thread.onChangePDB()); }); };
        auto runBare = [&] {
            bareTotal += timed([&] { found += benchscan::bareScan(database, bareFlagSet, [](u32, u32) {}); });
        };
        threadFirst = !threadFirst;
        if (threadFirst) {
            runThread();
            runBare();
        } else {
            runBare();
            runThread();
        }
        threadTotal += threadTime;
        state.SetIterationTime(threadTime);
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["ratio"] = threadTotal / bareTotal;
    state.counters["bare_us"] = bareTotal / iterations * 1e6;
    state.counters["found"] = static_cast<double>(found) / iterations;
    state.counters["reported"] = static_cast<double>(thread.m_reported) / iterations;
}
BENCHMARK(BM_AppThreadChangeScan)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace
