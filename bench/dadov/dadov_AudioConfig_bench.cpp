// Reading a large CompileResult text into the audio configuration against the JSON library's parse of the same
// text alone; clearing the meters of one component against memset of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "compiler_CompileResult.h"
#include "dadov_AudioConfigParserJSON.h"
#include "dadov_MeterPool.h"
#include "pdb_JsonAdapter.h"

namespace {

// 4096 components, 16000 connections and 4096 placements, as a large compile writes them.
const std::string& largeText()
{
    static const std::string text = [] {
        std::mt19937 rng(7);
        Compiler::CompileResult r;
        r.m_name = "VX-256";
        r.m_fsHz = 96000;
        r.m_numSamplePerFrame = 32;
        u64 used[4] = {};
        for (u32 uid = 1; uid <= 4096; ++uid) {
            r.m_components.push_back({uid, "Component" + std::to_string(uid % 37), 1 + uid % 3, 1 + uid % 8, 1});
            const u32 core = uid % 4;
            const u32 size = 100 + static_cast<u32>(rng() % 200);
            r.m_dspAssignments.push_back({0, core, uid, 0, {{"step", used[core], size}}});
            used[core] += size;
        }
        for (u32 i = 0; i < 16000; ++i) {
            const u32 to = 2 + static_cast<u32>(rng() % 4095);
            r.m_connections.push_back({1 + static_cast<u32>(rng() % (to - 1)), i % 4, to, i % 8});
        }
        std::string out;
        (void)Compiler::writeCompileResult(r, out);
        return out;
    }();
    return text;
}

void BM_ParseAudioConfig(benchmark::State& state)
{
    const std::string& text = largeText();
    for (auto _ : state) {
        DADOV::AudioConfig config = DADOV::parseAudioConfigJSON(text.c_str());
        if (config.m_components.size() != 4096) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::DoNotOptimize(config);
    }
    state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ParseAudioConfig)->Unit(benchmark::kMillisecond);

// Baseline: the library's parse of the same text into a document.
void BM_LibraryParse(benchmark::State& state)
{
    const std::string& text = largeText();
    for (auto _ : state) {
        PDB::JsonValue document;
        if (PDB::JsonAdapter::parse(text.c_str(), document) != 0) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::DoNotOptimize(document);
    }
}
BENCHMARK(BM_LibraryParse)->Unit(benchmark::kMillisecond);

// 16 f32 meters of 64 x 8.
struct Meters
{
    DADOV::MeterPool pool;
    std::vector<std::pair<void*, u32>> arrays;

    Meters()
    {
        std::vector<u32> list(8 * 16, 0);
        for (u32 i = 0; i < 16; ++i) {
            list[8 * i] = PARRAY::ELEMENT_F32;
            list[8 * i + 1] = 0x10000001; // numX
            list[8 * i + 2] = 0x20000001; // numY
            std::memcpy(&list[8 * i + 4], i % 4 == 0 ? "gr" : "peak", i % 4 == 0 ? 2 : 4);
        }
        (void)pool.initialize(list.data(), 16, 1, 64, 8, 255, 1000);
        for (u32 s = 1; s <= DADOV::MeterPool::SET_COUNT; ++s) {
            for (u32 i = 0; i < 16; ++i) {
                void* data = nullptr;
                u32 size = 0;
                (void)pool.getArraySet(s)->getArray(&data, &size, i);
                arrays.emplace_back(data, size);
            }
        }
    }
};

void BM_ClearMeters(benchmark::State& state)
{
    Meters meters;
    for (auto _ : state) {
        if (meters.pool.clearMeters() != DADOV::DADOV_OK) {
            state.SkipWithError("clear failed");
            break;
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ClearMeters);

// Baseline: memset of the same arrays.
void BM_MemsetMeters(benchmark::State& state)
{
    Meters meters;
    for (auto _ : state) {
        for (const auto& [data, size] : meters.arrays) {
            std::memset(data, 0, size);
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MemsetMeters);

} // namespace
