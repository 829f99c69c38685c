// Decoding a 500-entry component document against parsing it alone, and repository look-ups against a plain
// ordered map of ready-made keys.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

#include "pdb_ComponentInfoParserJSON.h"
#include "pdb_ComponentInfoRepository.h"

using namespace PDB;

namespace {

std::string makeDocument(int entries)
{
    static const char* const TYPES[] = {"UINT8",  "UINT16", "UINT32", "SINT8",  "SINT16",
                                        "SINT32", "FLOAT",  "BOOL",   "STRING", "BINARY"};
    std::string text = R"({"component": {"name": "Bench", "majorVer": 1, "minX": 1, "minY": 1, "maxX": 64,
                           "maxY": 8, "commentX": "Channel", "commentY": "Band"}, "parameters": [)";
    for (int i = 0; i < entries; ++i) {
        if (i != 0) {
            text += ",";
        }
        text += R"({"attr": {"recallable": 1, "nonvolatile": 1, "syncable": 1, "noeditflag": 0, "private": 0},)";
        text += R"("strAddress": "/Bench/Block)" + std::to_string(i) + R"(/Value", "type": ")" + TYPES[i % 10] +
                R"(", "patternX": "*1", "patternY": "1", "commentX": "ch", "commentY": "", "min": "0",)" +
                R"( "max": "100", "def": "10", "nominal": "50", "step": "1", "scaling": 1, "unit": "dB",)" +
                R"( "kind": "Level", "defUI": "knob"})";
    }
    return text + "]}";
}

const std::string& document()
{
    static const std::string text = makeDocument(500);
    return text;
}

void BM_JsonParseOnly(benchmark::State& state)
{
    const std::string& text = document();
    for (auto _ : state) {
        JsonValue value;
        benchmark::DoNotOptimize(JsonAdapter::parse(text.c_str(), value));
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_JsonParseOnly)->Unit(benchmark::kMicrosecond);

void BM_CreateFromJson(benchmark::State& state)
{
    const std::string& text = document();
    for (auto _ : state) {
        ComponentInfo info = ComponentInfoParserJSON::createFromJson(text.c_str());
        if (info.getParameterCount() != 500) {
            state.SkipWithError("decoding failed");
            break;
        }
        benchmark::DoNotOptimize(info);
    }
}
BENCHMARK(BM_CreateFromJson)->Unit(benchmark::kMicrosecond);

constexpr int TYPE_COUNT = 1000;

std::vector<std::string> typeNames()
{
    std::vector<std::string> names;
    for (int i = 0; i < TYPE_COUNT; ++i) {
        names.push_back("BenchType" + std::to_string(i));
    }
    return names;
}

void BM_FindComponentInfo(benchmark::State& state)
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> result = typeNames();
        for (const std::string& name : result) {
            ComponentInfo info;
            info.initialize(name.c_str(), 3, 1, 1, 4, 1, "", "", nullptr);
            info.addParameterUInt8("/a", 1, 1, "", "", 0, 1, 0, 0, 1, 1, ParameterAttribute(), "", "", "");
            ComponentInfoRepository::getInstance().registerComponentInfo(info);
        }
        return result;
    }();
    const ComponentInfoRepository& repository = ComponentInfoRepository::getInstance();
    size_t i = 0;
    for (auto _ : state) {
        const ComponentInfo& info = repository.findComponentInfo(names[i].c_str(), 3);
        benchmark::DoNotOptimize(&info);
        i = (i + 337) % TYPE_COUNT;
    }
}
BENCHMARK(BM_FindComponentInfo);

void BM_StdMapFind(benchmark::State& state)
{
    std::map<std::string, int> map;
    std::vector<std::string> keys;
    int n = 0;
    for (const std::string& name : typeNames()) {
        keys.push_back(name + "_3");
        map.emplace(keys.back(), n++);
    }
    size_t i = 0;
    for (auto _ : state) {
        auto it = map.find(keys[i]);
        benchmark::DoNotOptimize(it);
        i = (i + 337) % TYPE_COUNT;
    }
}
BENCHMARK(BM_StdMapFind);

} // namespace
