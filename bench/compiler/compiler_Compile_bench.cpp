// The list scheduler on generated dependency graphs of growing size (its growth exponent between 256 and 4096
// components is log(t4096 / t256) / log 16), the overflow path, and a whole compile against the JSON library's
// parsing of the three input texts plus its dump of the result.
#include <benchmark/benchmark.h>

#include <random>

#include "compiler_AbstractSimpleCompileStrategy.h"
#include "compiler_CompilerForNativeCPU.h"
#include "compiler_TestDocuments.h"
#include "pdb_JsonAdapter.h"

using namespace Compiler;

namespace {

// Edges from lower to higher uniqID with in-degree 0-4, plus one chain through every eighth component.
struct Graph
{
    std::vector<std::pair<u32, u32>> components; // (uniqID, "step" size)
    std::vector<Connection> connections;
};

Graph makeGraph(u32 count, u32 minSize, u32 maxSize)
{
    std::mt19937 rng(count);
    Graph g;
    for (u32 uid = 1; uid <= count; ++uid) {
        g.components.emplace_back(uid, minSize + static_cast<u32>(rng() % (maxSize - minSize + 1)));
        for (u32 k = static_cast<u32>(rng() % 5); uid > 1 && k > 0; --k) {
            g.connections.push_back({1 + static_cast<u32>(rng() % (uid - 1)), 0, uid, k});
        }
    }
    for (u32 i = 1; i < count / 8; ++i) {
        g.connections.push_back({(i - 1) * 8 + 1, 1, i * 8 + 1, 0});
    }
    return g;
}

std::vector<CompileComponent> compileList(const Graph& g)
{
    std::vector<CompileComponent> list;
    for (const auto& [uid, size] : g.components) {
        CompileComponent& c = list.emplace_back();
        c.m_uniqID = uid;
        c.m_name = "T";
        c.m_dspResources = {{"VEXA-D CPU", 96000, 32, {{"step", size}}}};
    }
    return list;
}

DspResourceModel fourCores()
{
    DspSystemInfo system{"VEXA256-D", 96000, 32, {{0, "VEXA-D CPU", {}}}};
    for (u32 c = 0; c < 4; ++c) {
        system.m_dsps[0].m_cores.push_back({c, {{"step", 0, 333333, false}}});
    }
    DspResourceModel model;
    (void)model.build(system, 32, false);
    return model;
}

void runStrategy(benchmark::State& state, u32 minSize, u32 maxSize, i32 expected)
{
    const Graph g = makeGraph(static_cast<u32>(state.range(0)), minSize, maxSize);
    const std::vector<CompileComponent> list = compileList(g);
    const DspResourceModel model = fourCores();
    CompileStrategyUniqIdOrder strategy;
    CompileResult record;
    for (auto _ : state) {
        DspResourceModel copy = model;
        if (strategy.compile(list, g.connections, copy, record, nullptr) != expected) {
            state.SkipWithError("unexpected result");
            break;
        }
        benchmark::DoNotOptimize(record.m_dspAssignments.data());
    }
}

void BM_Strategy(benchmark::State& state)
{
    runStrategy(state, 100, 300, COMPILER_OK);
}
BENCHMARK(BM_Strategy)->Arg(16)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMicrosecond);

void BM_StrategyOverflow(benchmark::State& state)
{
    runStrategy(state, 1000, 3000, COMPILER_E_OVERFLOW);
}
BENCHMARK(BM_StrategyOverflow)->Arg(4096)->Unit(benchmark::kMicrosecond);

struct Texts
{
    std::string components;
    std::string connections;
    std::string systems;
};

const Texts& texts256()
{
    static const Texts texts = [] {
        const Graph g = makeGraph(256, 100, 300);
        std::vector<std::pair<std::string, u32>> types;
        std::vector<std::pair<u32, std::string>> instances;
        for (const auto& [uid, size] : g.components) {
            types.emplace_back("Type" + std::to_string(uid % 40), 100 + (uid % 40) * 5);
            instances.emplace_back(uid, "Type" + std::to_string(uid % 40));
        }
        types.resize(40);
        return Texts{compilertest::componentDB(types), compilertest::connectionDB(instances, g.connections),
                     compilertest::dspSystemDB(4)};
    }();
    return texts;
}

void BM_Compile256(benchmark::State& state)
{
    const Texts& t = texts256();
    CompilerForNativeCPU compiler;
    std::string out;
    for (auto _ : state) {
        if (compiler.compile(t.components, t.connections, t.systems, nullptr, out) != COMPILER_OK) {
            state.SkipWithError("compile failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_Compile256)->Unit(benchmark::kMicrosecond);

// Baseline: the library parses the three texts and dumps the (prebuilt) result document.
void BM_LibraryParseAndDump256(benchmark::State& state)
{
    const Texts& t = texts256();
    CompilerForNativeCPU compiler;
    std::string resultText;
    (void)compiler.compile(t.components, t.connections, t.systems, nullptr, resultText);
    PDB::JsonValue result;
    (void)PDB::JsonAdapter::parse(resultText.c_str(), result);
    std::string out;
    for (auto _ : state) {
        PDB::JsonValue a;
        PDB::JsonValue b;
        PDB::JsonValue c;
        (void)PDB::JsonAdapter::parse(t.components.c_str(), a);
        (void)PDB::JsonAdapter::parse(t.connections.c_str(), b);
        (void)PDB::JsonAdapter::parse(t.systems.c_str(), c);
        (void)PDB::JsonAdapter::dump(result, out, 2);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_LibraryParseAndDump256)->Unit(benchmark::kMicrosecond);

} // namespace
