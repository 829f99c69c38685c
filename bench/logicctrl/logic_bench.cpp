// Logic mutex against std::recursive_mutex, and one output fanned out to 16 inputs against plain assignments.
#include <benchmark/benchmark.h>

#include <mutex>
#include <vector>

#include "logic_AbstractLogicComponent.h"
#include "logic_Mutex.h"
#include "os_Tasks.h"

namespace {

void startLayer()
{
    if (!ossupport::isInitialized()) {
        ossupport::initialize();
    }
}

LogicCtrl::Mutex& sharedLogicMutex()
{
    startLayer();
    static LogicCtrl::Mutex mutex("Bench");
    return mutex;
}

std::recursive_mutex& sharedStdMutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}

template <typename M> void lockUnlock(benchmark::State& state, M& mutex, int depth)
{
    for (int i = 1; i < depth; ++i) {
        (void)mutex.lock();
    }
    for (auto _ : state) {
        (void)mutex.lock();
        mutex.unlock();
    }
    for (int i = 1; i < depth; ++i) {
        mutex.unlock();
    }
}

void BM_Mutex_Std_First(benchmark::State& state)
{
    lockUnlock(state, sharedStdMutex(), 1);
}
void BM_Mutex_Logic_First(benchmark::State& state)
{
    lockUnlock(state, sharedLogicMutex(), 1);
}
void BM_Mutex_Std_Reentered(benchmark::State& state)
{
    lockUnlock(state, sharedStdMutex(), 2);
}
void BM_Mutex_Logic_Reentered(benchmark::State& state)
{
    lockUnlock(state, sharedLogicMutex(), 2);
}

// Four threads take turns on one mutex, with a little work inside.
template <typename M> void contended(benchmark::State& state, M& mutex)
{
    u64 shared = 0;
    for (auto _ : state) {
        (void)mutex.lock();
        for (int i = 0; i < 16; ++i) {
            benchmark::DoNotOptimize(shared += static_cast<u64>(i));
        }
        mutex.unlock();
    }
}

void BM_Mutex_Std_Contended(benchmark::State& state)
{
    contended(state, sharedStdMutex());
}
void BM_Mutex_Logic_Contended(benchmark::State& state)
{
    contended(state, sharedLogicMutex());
}

BENCHMARK(BM_Mutex_Std_First);
BENCHMARK(BM_Mutex_Logic_First);
BENCHMARK(BM_Mutex_Std_Reentered);
BENCHMARK(BM_Mutex_Logic_Reentered);
BENCHMARK(BM_Mutex_Std_Contended)->Threads(4)->UseRealTime();
BENCHMARK(BM_Mutex_Logic_Contended)->Threads(4)->UseRealTime();

constexpr u32 FAN_OUT = 16;

// Baseline: the values written straight into 16 variants.
void BM_FanOut_Assignments(benchmark::State& state)
{
    std::vector<KVariant> inputs(FAN_OUT);
    i32 value = 0;
    for (auto _ : state) {
        value = (value + 1) & 0xFF;
        for (KVariant& input : inputs) {
            input = value;
        }
        benchmark::DoNotOptimize(inputs.data());
    }
}

// One kind-3 output to 16 kind-2 inputs: set the output, then one processing step (mode 0) delivers it.
void BM_FanOut_LogicComponents(benchmark::State& state)
{
    startLayer();
    LogicCtrl::PortInfo out;
    out.kind = LogicCtrl::LogicData::KIND_SIGNED;
    out.minValue = KVariant(-1000);
    out.maxValue = KVariant(1000);
    LogicCtrl::PortInfo in;
    in.kind = LogicCtrl::LogicData::KIND_UNSIGNED;
    in.minValue = KVariant(0u);
    in.maxValue = KVariant(1000u);
    LogicCtrl::AbstractLogicComponent source;
    (void)source.initialize(1, {}, {out}, 0);
    std::vector<LogicCtrl::AbstractLogicComponent> destinations(FAN_OUT);
    for (u32 i = 0; i < FAN_OUT; ++i) {
        (void)destinations[i].initialize(100 + i, {in}, {}, 0);
        source.connectOutput(0, &destinations[i], 0);
    }
    i32 value = 0;
    u64 tick = 0;
    for (auto _ : state) {
        value = (value + 1) & 0xFF;
        source.setOutputInt(0, value);
        source.process(++tick, 0);
    }
}

BENCHMARK(BM_FanOut_Assignments);
BENCHMARK(BM_FanOut_LogicComponents);

} // namespace
