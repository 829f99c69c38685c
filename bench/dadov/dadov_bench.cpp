// The plug-in scan against bare loading of the same libraries, and a database write through the plug-in's hooks
// against the same write with the default strategy.
#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <fstream>
#include <string>
#include <vector>

#include "dadov_AudioComponentDLLRepository.h"
#include "dadov_BenchSupport.h"
#include "dadov_Config.h"
#include "fsw_api.h"
#include "pdb_ComponentInfoParserJSON.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_ParameterDBCollection.h"

namespace {

constexpr int COPIES = 32;

// A folder with 32 copies of the plug-in under distinct names, removed at exit.
class PluginFolder
{
public:
    PluginFolder()
    {
        char pattern[] = "/tmp/dadov_bench_XXXXXX";
        const char* made = mkdtemp(pattern);
        m_path = std::string(made != nullptr ? made : "/tmp") + "/";
        std::ifstream source(DADOV_BENCH_PLUGIN, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(source)), std::istreambuf_iterator<char>());
        for (int i = 0; i < COPIES; ++i) {
            std::ofstream(m_path + "BenchMixer_" + std::to_string(100 + i) + ".dll", std::ios::binary) << bytes;
        }
    }
    ~PluginFolder() { fsw_removeDir(m_path.c_str(), true); }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

const std::string& pluginFolder()
{
    static const PluginFolder folder;
    return folder.path();
}

PDB::IParameterDB& componentDatabase()
{
    dadovbench::startEngine();
    return PDB::ParameterDBCollection::getInstance(10);
}

// The loader's share: all 32 libraries opened with their four look-ups, then all closed, as the scan and the
// release of the repository do it.
void BM_Scan_BareLoading(benchmark::State& state)
{
    const std::string& folder = pluginFolder();
    std::vector<void*> libraries(COPIES);
    for (auto _ : state) {
        for (int i = 0; i < COPIES; ++i) {
            libraries[static_cast<size_t>(i)] =
                dlopen((folder + "BenchMixer_" + std::to_string(100 + i) + ".dll").c_str(), RTLD_NOW);
            for (const char* name : {"createParamInfoFunction", "createCalcCoefFunction", "createAudioProcessFunction",
                                     "createLogicControlFunction"}) {
                benchmark::DoNotOptimize(dlsym(libraries[static_cast<size_t>(i)], name));
            }
        }
        for (void* library : libraries) {
            dlclose(library);
        }
    }
}

void BM_Scan_Repository(benchmark::State& state)
{
    const std::string& folder = pluginFolder();
    componentDatabase();
    DADOV::AudioComponentDLLRepository& repository = DADOV::AudioComponentDLLRepository::getInstance();
    for (auto _ : state) {
        (void)repository.initialize(folder.c_str());
        repository.unloadAll();
    }
}

BENCHMARK(BM_Scan_BareLoading)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Scan_Repository)->Unit(benchmark::kMicrosecond);

// Element 0 ("/Level", UINT32) of a component of the given type, written with alternating values.
void writeLevel(benchmark::State& state, u32 uid, const char* type, u32 version)
{
    PDB::IParameterDB& database = componentDatabase();
    (void)DADOV::addPDBComponent(uid, type, version, 1, 1, 0);
    const u32 index = database.getComponentIndex(uid);
    u32 value = 0;
    for (auto _ : state) {
        value ^= 1;
        benchmark::DoNotOptimize(database.setValueUInt(index, 0, 0, 0, 5 + value, 255));
    }
}

void BM_Write_DefaultStrategy(benchmark::State& state)
{
    static const bool registered = [] {
        PDB::ComponentInfo info = PDB::ComponentInfoParserJSON::createFromJson(
            R"({"component": {"name": "BenchPlain", "majorVer": 1},
                "parameters": [{"strAddress": "/Level", "type": "UINT32", "min": "0", "max": "1000000"}]})");
        return PDB::ComponentInfoRepository::getInstance().registerComponentInfo(info) == 0;
    }();
    (void)registered;
    writeLevel(state, 2, "BenchPlain", 1);
}

void BM_Write_PluginHooks(benchmark::State& state)
{
    componentDatabase();
    static const bool loaded =
        DADOV::AudioComponentDLLRepository::getInstance().initialize(pluginFolder().c_str()) == 0;
    (void)loaded;
    writeLevel(state, 1, "BenchMixer", 2);
}

BENCHMARK(BM_Write_DefaultStrategy);
BENCHMARK(BM_Write_PluginHooks);

} // namespace
