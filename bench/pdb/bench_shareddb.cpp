// Shared database: a resolved setValueUInt with 0, 4 and 8 subscribers registered from as many threads (each
// notification one atomic OR) against a std::recursive_mutex lock/unlock around a plain store; and a change scan
// (swapChangeFlags, then findNextChange until 0x200000) over 1000 components x 20 blocks x 64 elements with 0,
// 1 and 1000 flags set, against a word-wise scan of one flat bitset of the same 1 280 000 flags.
#include <benchmark/benchmark.h>

#include <atomic>
#include <bit>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pdb_ComponentInfo.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_ParameterDB.h"
#include "pdb_SimpleReadWriteMutex.h"

using namespace PDB;

namespace {

constexpr ParameterAttribute kRecallable{0, ParameterAttribute::FLAG_RECALLABLE};
constexpr u32 kComponents = 1000;
constexpr u32 kBlocks = 20;
constexpr u32 kElements = 64; // 8 x 8 per block
constexpr u32 kFlags = kComponents * kBlocks * kElements;

class OrObserver : public IParameterDBCallback
{
public:
    i32 onParameterDBChanged() override
    {
        m_Events.fetch_or(2, std::memory_order_relaxed);
        return 0;
    }
    i32 onParameterChanged() override
    {
        m_Events.fetch_or(1, std::memory_order_relaxed);
        return 0;
    }

private:
    std::atomic<u32> m_Events{0};
};

void registerTypes()
{
    ComponentInfo one;
    one.initialize("BenchOne", 1, 1, 1, 1, 1, "", "", nullptr);
    one.addParameterUInt32("/v", 4, 1, "", "", 0, 1000, 0, 0, 1, 1, kRecallable, "", "", "");
    ComponentInfoRepository::getInstance().registerComponentInfo(one);
    ComponentInfo wide;
    wide.initialize("BenchWide", 1, 1, 1, 1, 1, "", "", nullptr);
    for (u32 b = 0; b < kBlocks; ++b) {
        const std::string address = "/b" + std::to_string(b);
        wide.addParameterUInt8(address.c_str(), 8, 8, "", "", 0, 255, 0, 0, 1, 1, kRecallable, "", "", "");
    }
    ComponentInfoRepository::getInstance().registerComponentInfo(wide);
}

void BM_SharedSetValueUInt(benchmark::State& state)
{
    registerTypes();
    SimpleReadWriteMutex mutex;
    ParameterDB db;
    db.initialize(1, "Bench", &mutex);
    db.addComponent(1, "BenchOne", 1, 0, 0, 0);
    const u32 subscribers = static_cast<u32>(state.range(0));
    std::vector<OrObserver> observers(subscribers);
    for (u32 s = 0; s < subscribers; ++s) {
        std::thread([&db, &observers, s] { db.registerCallback(s + 1, &observers[s], 0); }).join();
    }
    ParameterAddress record = db.resolveAddress(1, "/v");
    u32 value = 0;
    for (auto _ : state) {
        value ^= 1;
        benchmark::DoNotOptimize(db.setValueUInt(record, 2, 0, 100 + value, 0));
    }
}
BENCHMARK(BM_SharedSetValueUInt)->Arg(0)->Arg(4)->Arg(8);

void BM_RecursiveMutexStore(benchmark::State& state)
{
    std::recursive_mutex mutex;
    u32 stored[4] = {};
    u32 value = 0;
    for (auto _ : state) {
        value ^= 1;
        mutex.lock();
        stored[2] = 100 + value;
        benchmark::DoNotOptimize(stored);
        mutex.unlock();
    }
}
BENCHMARK(BM_RecursiveMutexStore);

// Writes `count` elements spread over the components (alternating values, so every write changes).
void writeSpread(ParameterDB& db, u32 count, u32 round)
{
    for (u32 i = 0; i < count; ++i) {
        const u32 flat = static_cast<u32>((static_cast<u64>(i) * 7919 + round) % kFlags);
        const u32 component = flat / (kBlocks * kElements);
        const u32 block = (flat / kElements) % kBlocks;
        const u32 element = flat % kElements;
        db.setValueUInt(component, block, element / 8, element % 8, 1 + (round & 1), 0);
    }
}

void BM_SharedChangeScan(benchmark::State& state)
{
    registerTypes();
    SimpleReadWriteMutex mutex;
    ParameterDB db;
    db.initialize(1, "Scan", &mutex);
    for (u32 c = 0; c < kComponents; ++c) {
        db.addComponent(c + 1, "BenchWide", 1, 0, 0, 0);
    }
    OrObserver observer;
    db.registerCallback(1, &observer, 0);
    const u32 flags = static_cast<u32>(state.range(0));
    u32 round = 0;
    u64 found = 0;
    for (auto _ : state) {
        if (flags != 0) {
            state.PauseTiming();
            writeSpread(db, flags, ++round);
            state.ResumeTiming();
        }
        db.swapChangeFlags(0);
        u32 c = 0, b = 0, x = 0, y = 0;
        while (db.findNextChange(0, c, b, x, y, false) == 0) {
            ++found;
        }
    }
    state.counters["found"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_SharedChangeScan)->Arg(0)->Arg(1)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_FlatBitsetScan(benchmark::State& state)
{
    std::vector<u32> banks[2] = {std::vector<u32>(kFlags / 32), std::vector<u32>(kFlags / 32)};
    u32 collecting = 0;
    const u32 flags = static_cast<u32>(state.range(0));
    u32 round = 0;
    u64 found = 0;
    for (auto _ : state) {
        if (flags != 0) {
            state.PauseTiming();
            ++round;
            for (u32 i = 0; i < flags; ++i) {
                const u32 flat = static_cast<u32>((static_cast<u64>(i) * 7919 + round) % kFlags);
                banks[collecting][flat / 32] |= 0x80000000u >> (flat & 31);
            }
            state.ResumeTiming();
        }
        collecting ^= 1;
        std::vector<u32>& scanned = banks[collecting ^ 1];
        for (u32 w = 0; w < scanned.size(); ++w) {
            while (scanned[w] != 0) {
                const u32 bit = static_cast<u32>(std::countl_zero(scanned[w]));
                scanned[w] &= ~(0x80000000u >> bit);
                benchmark::DoNotOptimize(w * 32 + bit);
                ++found;
            }
        }
    }
    state.counters["found"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FlatBitsetScan)->Arg(0)->Arg(1)->Arg(1000)->Unit(benchmark::kMicrosecond);

} // namespace
