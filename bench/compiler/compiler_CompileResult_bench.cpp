// The CompileResult writer on a large record against the JSON library's dump(2) of the identical, prebuilt
// document (the writer's cost includes putting the lists in order and building the text).
#include <benchmark/benchmark.h>

#include <random>

#include "compiler_CompileResult.h"
#include "pdb_JsonAdapter.h"

using namespace Compiler;

namespace {

const CompileResult& largeRecord()
{
    static const CompileResult record = [] {
        std::mt19937 rng(7);
        CompileResult r;
        r.m_name = "VEXA256-D";
        r.m_fsHz = 96000;
        r.m_numSamplePerFrame = 32;
        r.m_renderSamples = 32;
        r.m_result = COMPILER_E_OVERFLOW;
        std::vector<u64> used(4, 0);
        for (u32 uid = 1; uid <= 4096; ++uid) {
            r.m_components.push_back({uid, "Component" + std::to_string(uid % 37), 1 + uid % 3, 1 + uid % 8, 1});
            const u32 core = static_cast<u32>(rng() % 4);
            const u32 size = 100 + static_cast<u32>(rng() % 200);
            r.m_dspAssignments.push_back({0, core, uid, 0, {{"step", used[core], size}}});
            used[core] += size;
        }
        for (u32 i = 0; i < 16000; ++i) {
            const u32 to = 2 + static_cast<u32>(rng() % 4095);
            r.m_connections.push_back({1 + static_cast<u32>(rng() % (to - 1)), i % 4, to, i % 8});
        }
        // Placement order differs from the written order.
        std::shuffle(r.m_components.begin(), r.m_components.end(), rng);
        std::shuffle(r.m_dspAssignments.begin(), r.m_dspAssignments.end(), rng);
        return r;
    }();
    return record;
}

void BM_WriteCompileResult(benchmark::State& state)
{
    const CompileResult& record = largeRecord();
    std::string text;
    for (auto _ : state) {
        if (writeCompileResult(record, text) != COMPILER_OK) {
            state.SkipWithError("write failed");
            break;
        }
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_WriteCompileResult)->Unit(benchmark::kMillisecond);

// Baseline: the same document, parsed once from the writer's own text, dumped by the library.
void BM_LibraryDumpPrebuilt(benchmark::State& state)
{
    std::string text;
    (void)writeCompileResult(largeRecord(), text);
    PDB::JsonValue document;
    if (PDB::JsonAdapter::parse(text.c_str(), document) != 0) {
        state.SkipWithError("parse failed");
        return;
    }
    std::string out;
    for (auto _ : state) {
        (void)PDB::JsonAdapter::dump(document, out, 2);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_LibraryDumpPrebuilt)->Unit(benchmark::kMillisecond);

} // namespace
