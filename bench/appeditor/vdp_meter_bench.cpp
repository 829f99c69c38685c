// One meter pass of the executor: 32 subscribed components, each with two meter arrays of 64 bytes, copied out of
// the meter pools, encoded as "meter" notifications and handed to a socket that takes every byte. The counter
// "interval_share" is the time of one pass as a share of the shortest meter interval (60 ms).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "dadov_AudioComponentCollection.h"
#include "logic_LogicComponentCollection.h"
#include "tms_ThreadRepository.h"
#include "vdp_DiscardUnit.h"
#include "vdp_Executor.h"
#include "vdp_MeterContainer.h"

namespace {

constexpr u32 COMPONENTS = 32;
constexpr u32 CHANNELS = 64; // bytes per meter array
constexpr double INTERVAL_SECONDS = VDevice::VDMeterContainer::DEFAULT_INTERVAL / 1000.0;

using vdpbench::DiscardUnit;

// The components, their meters and the subscriptions, made once by the benchmark's thread, which keeps them.
const std::vector<std::string>& subscribedKeys()
{
    static const std::vector<std::string> keys = [] {
        if (TMS::ThreadRepository::initialize() != 0) {
            std::abort();
        }
        (void)LogicCtrl::LogicComponentCollection::getInstance().initialize();
        DADOV::AudioComponentCollection& collection = DADOV::AudioComponentCollection::getInstance();
        if (collection.initialize(VDP_METER_PLUGIN_DIR, 4) != 0 || collection.beginByThread(nullptr) != 0) {
            std::abort();
        }
        std::vector<u8> levels(CHANNELS);
        for (u32 channel = 0; channel < CHANNELS; ++channel) {
            levels[channel] = static_cast<u8>(channel * 3);
        }
        for (u32 uid = 1; uid <= COMPONENTS; ++uid) {
            if (collection.addComponent("meterpair", 1, uid, CHANNELS, 1) != 0 ||
                collection.findComponent(uid)->getMeterPool().writeMeterBytes(2, 0, 0, levels.data(), CHANNELS) != 0) {
                std::abort();
            }
            VDevice::VDMeterContainer::getInstance().addMeter("bench", "AudioCompo/#" + std::to_string(uid));
        }
        return VDevice::VDMeterContainer::getInstance().getMeterKeys();
    }();
    return keys;
}

void BM_MeterPass(benchmark::State& state)
{
    const std::vector<std::string>& keys = subscribedKeys();
    DiscardUnit unit;
    VDevice::VDProtocolExecutor executor("bench-uid", &unit);
    for (auto _ : state) {
        for (const std::string& key : keys) {
            if (executor.sendMeterNotify(key, 0) != 0) {
                state.SkipWithError("meter notify failed");
                return;
            }
        }
        unit.drain();
    }
    state.counters["interval_share"] = benchmark::Counter(INTERVAL_SECONDS * static_cast<double>(state.iterations()),
                                                          benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["bytes_per_pass"] = static_cast<double>(unit.sentBytes()) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_MeterPass)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace
