// Meter-datagram ingest: datagrams with 64-byte payloads through the sync thread's meter-data accessor (header
// checks, the component found by uid among 32 in the thread's list of the audio-component collection, the pool's
// locked copy into meter set 2) against a plain memcpy of the same payloads into the same arrays. Each iteration
// times one batch of each, alternating which goes first; the reported time is the accessor's, "ratio" its total
// over memcpy's for the repetition.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_Engine.h"
#include "dadov_AudioComponentCollection.h"
#include "pyrite_ClientSyncThread.h"
#include "pyrite_ProductInfo.h"
#include "pyrite_Result.h"

namespace {

constexpr u32 COMPONENTS = 32;
constexpr u32 PAYLOAD = 64;
constexpr u32 ARRAY_SIZE = 256; // bytes of each component's first meter in set 2 (numX)
constexpr u32 BATCH = 256;

// 32 components of the shipped gain plug-in, whose meter "level" is a byte array of numX in set 2, in the calling
// thread's list of the audio-component collection, which the compiler benchmarks share: they are removed again. A
// removed component lives on until every registered thread dropped it, so each set takes uids of its own.
class Components
{
public:
    Components() : m_firstUid(s_nextUid)
    {
        s_nextUid += 3 * COMPONENTS;
        PyriteProductInfo::getInstance().setStoragePath("/tmp/bench_appeditor_meters");
        DADOV::AudioComponentCollection& collection = DADOV::AudioComponentCollection::getInstance();
        m_ready = appeditorbench::startEngine() && collection.beginByThread(nullptr) == DADOV::DADOV_OK;
        for (u32 i = 0; m_ready && i < COMPONENTS; ++i) {
            void* data = nullptr;
            u32 size = 0;
            m_ready =
                collection.addComponent("testgain", 1, uidOf(i), ARRAY_SIZE, 1) == DADOV::DADOV_OK &&
                collection.findComponent(uidOf(i))->getMeterPool().getArraySet(2)->getArray(&data, &size, 0) == 0 &&
                size == ARRAY_SIZE;
            m_arrays[i] = static_cast<u8*>(data);
        }
    }
    ~Components()
    {
        DADOV::AudioComponentCollection& collection = DADOV::AudioComponentCollection::getInstance();
        for (u32 i = 0; i < COMPONENTS; ++i) {
            (void)collection.reqRemoveComponent(uidOf(i));
        }
        (void)collection.updateByThread();
    }

    u32 uidOf(u32 i) const { return m_firstUid + 3 * i; }

    bool m_ready = false;
    u8* m_arrays[COMPONENTS] = {};

private:
    static inline u32 s_nextUid = 0x1000;
    const u32 m_firstUid;
};

template <typename Work> double timed(Work&& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_MeterDatagramIngest(benchmark::State& state)
{
    Components components;
    if (!components.m_ready) {
        state.SkipWithError("engine set-up failed");
        return;
    }
    // Never started: the accessor runs on the caller, whose list holds the components.
    PYRITE::PyriteClientSyncThread sync;
    KMDP::IClientMeterDataAccessor& accessor = sync;
    // One datagram per component and quarter of its array, kind 0 (set 2), meter 0.
    struct Datagram
    {
        std::vector<u8> m_bytes;
        u32 m_component;
        u32 m_offset;
    };
    std::vector<Datagram> datagrams;
    for (u32 n = 0; n < BATCH; ++n) {
        const u32 component = n % COMPONENTS;
        const u32 offset = (n / COMPONENTS) % (ARRAY_SIZE / PAYLOAD) * PAYLOAD;
        const u32 uid = components.uidOf(component);
        std::vector<u8> bytes = {0x20, static_cast<u8>(uid),         static_cast<u8>(uid >> 8),
                                 0,    static_cast<u8>(offset >> 8), static_cast<u8>(offset)};
        for (u32 i = 0; i < PAYLOAD; ++i) {
            bytes.push_back(static_cast<u8>(n + i));
        }
        datagrams.push_back({bytes, component, offset});
    }

    double accessorTotal = 0;
    double copyTotal = 0;
    bool accessorFirst = false;
    for (auto _ : state) {
        double accessorTime = 0;
        auto runAccessor = [&] {
            accessorTime = timed([&] {
                for (const Datagram& d : datagrams) {
                    if (accessor.setMeterData(d.m_bytes.data(), static_cast<u32>(d.m_bytes.size())) != 0) {
                        std::abort();
                    }
                }
            });
        };
        auto runCopy = [&] {
            copyTotal += timed([&] {
                for (const Datagram& d : datagrams) {
                    std::memcpy(components.m_arrays[d.m_component] + d.m_offset, d.m_bytes.data() + 6, PAYLOAD);
                    benchmark::ClobberMemory();
                }
            });
        };
        accessorFirst = !accessorFirst;
        if (accessorFirst) {
            runAccessor();
            runCopy();
        } else {
            runCopy();
            runAccessor();
        }
        accessorTotal += accessorTime;
        state.SetIterationTime(accessorTime);
    }
    const double datagramsDone = static_cast<double>(state.iterations()) * BATCH;
    state.counters["ratio"] = accessorTotal / copyTotal;
    state.counters["datagrams_per_s"] = datagramsDone / accessorTotal;
    state.counters["memcpy_per_s"] = datagramsDone / copyTotal;
}
BENCHMARK(BM_MeterDatagramIngest)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace
