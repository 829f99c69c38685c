// The collection's whole cycle for one component of the minimal plug-in "BenchMinimal_1" (no arrays, meters or
// logic): add it, every other registered thread takes it, request its removal, every other thread drops it (the
// last destroys it). With 1 and 4 registered threads at 256 and 4096 live components, against an unordered_map
// insert and erase of one key at the same size. Every step logs a line: run with standard output redirected to
// /dev/null and the results written with --benchmark_out.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "dadov_AudioComponentCollection.h"
#include "dadov_BenchSupport.h"

namespace {

using namespace DADOV;

constexpr u32 CYCLE_UID = 0x7FFF0000;

inline void spinPause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

struct NoCallback : IAudioComponentCallback
{
    void onChangeAudioComponents() override {}
};

using Clock = std::chrono::steady_clock;

u64 nanosecondsSince(Clock::time_point start)
{
    return static_cast<u64>(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
}

// Registered threads besides the caller. A round lets each update in turn (so they do not queue on the lock) and
// adds the time their updateByThread calls took; the hand-overs between threads are not counted.
class Updaters
{
public:
    explicit Updaters(u32 count) : m_slots(count)
    {
        for (Slot& slot : m_slots) {
            slot.m_thread = std::thread([this, &slot] { loop(slot); });
        }
        for (Slot& slot : m_slots) {
            while (slot.m_completed.load(std::memory_order_acquire) == 0) {
                spinPause();
            }
        }
    }
    ~Updaters()
    {
        m_stop.store(true, std::memory_order_release);
        for (Slot& slot : m_slots) {
            slot.m_thread.join();
        }
    }
    Updaters(const Updaters&) = delete;
    Updaters& operator=(const Updaters&) = delete;

    bool ok() const { return m_failures.load() == 0; }
    // Nanoseconds the updates of this round took.
    u64 round()
    {
        u64 spent = 0;
        for (Slot& slot : m_slots) {
            const u64 ticket = slot.m_requested.load(std::memory_order_relaxed) + 1;
            slot.m_requested.store(ticket, std::memory_order_release);
            while (slot.m_completed.load(std::memory_order_acquire) != ticket + 1) {
                spinPause();
            }
            spent += slot.m_spent;
        }
        return spent;
    }

private:
    struct alignas(64) Slot
    {
        std::thread m_thread;
        std::atomic<u64> m_requested{0};
        std::atomic<u64> m_completed{0}; // m_requested + 1 once done (1 after the thread began)
        u64 m_spent = 0;                 // written before m_completed
    };

    void loop(Slot& slot)
    {
        AudioComponentCollection& collection = AudioComponentCollection::getInstance();
        NoCallback callback;
        if (collection.beginByThread(&callback) != DADOV_OK) {
            ++m_failures;
        }
        slot.m_completed.store(1, std::memory_order_release);
        u64 seen = 0;
        while (!m_stop.load(std::memory_order_acquire)) {
            const u64 ticket = slot.m_requested.load(std::memory_order_acquire);
            if (ticket == seen) {
                spinPause();
                continue;
            }
            seen = ticket;
            const Clock::time_point start = Clock::now();
            (void)collection.updateByThread();
            slot.m_spent = nanosecondsSince(start);
            slot.m_completed.store(ticket + 1, std::memory_order_release);
        }
        (void)collection.endByThread();
    }

    std::vector<Slot> m_slots;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_failures{0};
};

// args: registered threads (the caller included), live components. The time is the sum of the collection calls
// of the cycle on all threads.
void BM_Collection_AddRemoveCycle(benchmark::State& state)
{
    dadovbench::startEngine();
    const std::string plugin = DADOV_BENCH_PLUGIN;
    AudioComponentCollection& collection = AudioComponentCollection::getInstance();
    if (collection.initialize(plugin.substr(0, plugin.rfind('/') + 1).c_str(), 8) != DADOV_OK) {
        state.SkipWithError("initialize failed");
        return;
    }
    NoCallback callback;
    bool ready = collection.beginByThread(&callback) == DADOV_OK;
    {
        Updaters others(static_cast<u32>(state.range(0)) - 1);
        for (u32 uid = 1; ready && uid <= static_cast<u32>(state.range(1)); ++uid) {
            ready = collection.addComponent("BenchMinimal", 1, uid, 1, 1) == DADOV_OK;
        }
        (void)others.round();
        if (!ready || !others.ok()) {
            state.SkipWithError("set-up failed");
        } else {
            for (auto _ : state) {
                Clock::time_point start = Clock::now();
                (void)collection.addComponent("BenchMinimal", 1, CYCLE_UID, 1, 1);
                u64 spent = nanosecondsSince(start);
                spent += others.round();
                start = Clock::now();
                (void)collection.reqRemoveComponent(CYCLE_UID);
                spent += nanosecondsSince(start);
                spent += others.round();
                state.SetIterationTime(static_cast<double>(spent) * 1e-9);
            }
            if (collection.getNumComponents() != static_cast<u32>(state.range(1))) {
                state.SkipWithError("a cycle left its component");
            }
        }
    }
    (void)collection.endByThread();
    (void)collection.finalize();
}

// Baseline: insert and erase of one key in an unordered_map of the same size.
void BM_Collection_MapInsertErase(benchmark::State& state)
{
    std::unordered_map<u32, void*> map;
    for (u32 uid = 1; uid <= static_cast<u32>(state.range(1)); ++uid) {
        map.emplace(uid, nullptr);
    }
    for (auto _ : state) {
        map.emplace(CYCLE_UID, &map);
        map.erase(CYCLE_UID);
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_Collection_AddRemoveCycle)
    ->ArgsProduct({{1, 4}, {256, 4096}})
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime();
BENCHMARK(BM_Collection_MapInsertErase)->ArgsProduct({{1}, {256, 4096}});

} // namespace
