// Array stores through the manager accessor, called from plug-in code, against the array's own index and a store
// through its data pointer; a manager-accessor read against the same read of a local component; and one
// instance's initialize and release.
#include <benchmark/benchmark.h>

#include <string>

#include "dadov_AudioComponent.h"
#include "dadov_AudioComponentDLLRepository.h"
#include "dadov_BenchSupport.h"
#include "dadov_Config.h"
#include "dadov_ManagerAccessor.h"
#include "os_Library.h"
#include "pdb_ParameterDBCollection.h"

namespace {

using namespace DADOV;

constexpr u32 NUM_X = 32;
constexpr u32 NUM_Y = 32;
constexpr u32 FLOAT_ARRAY = 1;
constexpr u32 LEVEL_BLOCK = 0;

using StoreLoop = void (*)(IManagerAccessor_V1*, u32, u32, u32);

// The engine and the plug-in "BenchMixer_2" from its build folder (loaded again when another benchmark emptied the
// repository).
const AudioComponentType& benchType()
{
    dadovbench::startEngine();
    AudioComponentDLLRepository& repository = AudioComponentDLLRepository::getInstance();
    if (repository.findType("BenchMixer_2").createCalcCoef == nullptr) {
        const std::string path = DADOV_BENCH_PLUGIN;
        (void)repository.initialize(path.substr(0, path.rfind('/') + 1).c_str());
    }
    return repository.findType("BenchMixer_2");
}

// One instance in use (uid 1000), as a processing thread holds it; null when it cannot be had.
AudioComponent* instanceInUse()
{
    static AudioComponent* const component = [] {
        benchType();
        auto* made = new AudioComponent();
        if (made->initialize("BenchMixer", 2, 1000, NUM_X, NUM_Y) != 0 || made->beginUseByDSPThread(nullptr) != 0) {
            return static_cast<AudioComponent*>(nullptr);
        }
        return made;
    }();
    return component;
}

void BM_ArrayStore_AccessorFromPlugIn(benchmark::State& state)
{
    AudioComponent* component = instanceInUse();
    void* symbol = nullptr;
    if (component == nullptr ||
        ossupport::getDynamicLibrarySymbol(&symbol, benchType().library, "benchStoreFloats") != 0) {
        state.SkipWithError("no instance in use");
        return;
    }
    const auto store = reinterpret_cast<StoreLoop>(symbol);
    IManagerAccessor_V1* accessor = component->getManagerAccessor();
    for (auto _ : state) {
        store(accessor, NUM_X, NUM_Y, 1);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * NUM_X * NUM_Y);
}

// Baseline: the array's index of (x, y, z) and a store through its data pointer.
void BM_ArrayStore_IndexAndPointer(benchmark::State& state)
{
    AudioComponent* component = instanceInUse();
    if (component == nullptr) {
        state.SkipWithError("no instance in use");
        return;
    }
    const PARRAY::IArray* array = component->getParameterArrays().getRecord(FLOAT_ARRAY)->array;
    f32* data = static_cast<f32*>(const_cast<PARRAY::IArray*>(array)->getData());
    u32 round = 0;
    for (auto _ : state) {
        for (u32 x = 0; x < NUM_X; ++x) {
            for (u32 y = 0; y < NUM_Y; ++y) {
                data[array->getIndex(x, y, 0)] = static_cast<f32>(x + y + round);
            }
        }
        ++round;
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * NUM_X * NUM_Y);
}

BENCHMARK(BM_ArrayStore_AccessorFromPlugIn);
BENCHMARK(BM_ArrayStore_IndexAndPointer);

void BM_Read_ManagerAccessor(benchmark::State& state)
{
    AudioComponent* component = instanceInUse();
    if (component == nullptr) {
        state.SkipWithError("no instance in use");
        return;
    }
    IManagerAccessor_V1* accessor = component->getManagerAccessor();
    for (auto _ : state) {
        benchmark::DoNotOptimize(accessor->getValueUInt(LEVEL_BLOCK, 0, 0));
    }
}

// Baseline: the same element read from a local component built from the same description.
void BM_Read_LocalComponent(benchmark::State& state)
{
    AudioComponent* component = instanceInUse();
    PDB::LocalComponent local;
    if (component == nullptr ||
        local.create(component->getManagerAccessor()->getLocalComponent().getComponentInfo()) != 0) {
        state.SkipWithError("no local component");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(local.getValueUInt(LEVEL_BLOCK, 0, 0, nullptr));
    }
}

BENCHMARK(BM_Read_ManagerAccessor);
BENCHMARK(BM_Read_LocalComponent);

// One instance built and given back, its database component already present (as the device control adds it).
void BM_InitializeRelease(benchmark::State& state)
{
    benchType();
    (void)addPDBComponent(1001, "BenchMixer", 2, NUM_X, NUM_Y, 0);
    AudioComponent component;
    for (auto _ : state) {
        if (component.initialize("BenchMixer", 2, 1001, NUM_X, NUM_Y) != 0) {
            state.SkipWithError("initialize failed");
            break;
        }
        component.release();
    }
}

BENCHMARK(BM_InitializeRelease)->Unit(benchmark::kMicrosecond);

} // namespace
