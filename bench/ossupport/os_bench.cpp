// Task-event ping-pong against a mutex + condition-variable ping-pong, and semaphore costs.

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "os_Support.h"

using namespace ossupport;

namespace {

constexpr int BATCH = 1000; // round trips per timed iteration

constexpr u32 KICK = 0x1;
constexpr u32 PING = 0x2;
constexpr u32 PONG = 0x4;

unsigned runFunction(void* argument)
{
    (*static_cast<std::function<void()>*>(argument))();
    return 0;
}

// Completion signal from the timed side to the benchmark thread (outside the timed region).
struct Batches
{
    std::atomic<u32> m_done{0};
    std::atomic<long long> m_elapsedNs{0};

    void finish(std::chrono::steady_clock::duration elapsed)
    {
        m_elapsedNs.store(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
        m_done.fetch_add(1);
        m_done.notify_one();
    }
    double awaitSeconds(u32 target)
    {
        for (u32 seen = m_done.load(); seen < target; seen = m_done.load()) {
            m_done.wait(seen);
        }
        return static_cast<double>(m_elapsedNs.load()) / 1e9;
    }
};

void BM_TaskEventPingPong(benchmark::State& state)
{
    initialize();
    Batches batches;
    u16 pinger = 0;
    u16 ponger = 0;
    std::function<void()> pingBody = [&] {
        u32 bits = 0;
        while (waitTaskEvent(&bits, KICK, OS_WAIT_FOREVER) == 0) {
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < BATCH; ++i) {
                setTaskEvent(ponger, PING);
                waitTaskEvent(&bits, PONG, OS_WAIT_FOREVER);
            }
            batches.finish(std::chrono::steady_clock::now() - start);
        }
    };
    std::function<void()> pongBody = [&] {
        u32 bits = 0;
        while (waitTaskEvent(&bits, PING, OS_WAIT_FOREVER) == 0) {
            setTaskEvent(pinger, PONG);
        }
    };
    TaskRecord record;
    record.m_entry = runFunction;
    record.m_name = "Ping";
    createTask(&pinger, &record);
    record.m_name = "Pong";
    createTask(&ponger, &record);
    startTask(ponger, &pongBody);
    startTask(pinger, &pingBody);
    u32 target = 0;
    for (auto _ : state) {
        setTaskEvent(pinger, KICK);
        state.SetIterationTime(batches.awaitSeconds(++target));
    }
    state.SetItemsProcessed(state.iterations() * BATCH);
    shutdown();
}
BENCHMARK(BM_TaskEventPingPong)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_MutexCondvarPingPong(benchmark::State& state)
{
    Batches batches;
    std::mutex mutex;
    std::condition_variable toPonger;
    std::condition_variable toPinger;
    bool ping = false;
    bool pong = false;
    bool quit = false;
    std::atomic<u32> kicks{0};
    std::thread pongThread([&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            toPonger.wait(lock, [&] { return ping || quit; });
            if (quit) {
                return;
            }
            ping = false;
            pong = true;
            toPinger.notify_one();
        }
    });
    std::thread pingThread([&] {
        for (u32 handled = 0;; ++handled) {
            for (u32 seen = kicks.load(); seen == handled; seen = kicks.load()) {
                kicks.wait(seen);
            }
            if (kicks.load() == 0xFFFFFFFFu) {
                return;
            }
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < BATCH; ++i) {
                std::unique_lock<std::mutex> lock(mutex);
                ping = true;
                toPonger.notify_one();
                toPinger.wait(lock, [&] { return pong; });
                pong = false;
            }
            batches.finish(std::chrono::steady_clock::now() - start);
        }
    });
    u32 target = 0;
    for (auto _ : state) {
        kicks.fetch_add(1);
        kicks.notify_one();
        state.SetIterationTime(batches.awaitSeconds(++target));
    }
    state.SetItemsProcessed(state.iterations() * BATCH);
    kicks.store(0xFFFFFFFFu);
    kicks.notify_one();
    pingThread.join();
    {
        std::lock_guard<std::mutex> lock(mutex);
        quit = true;
    }
    toPonger.notify_one();
    pongThread.join();
}
BENCHMARK(BM_MutexCondvarPingPong)->UseManualTime()->Unit(benchmark::kMicrosecond);

// Uncontended take and give of a count-1 semaphore (the base of the thread system's mutex).
void BM_SemaphoreWaitSignal(benchmark::State& state)
{
    initialize();
    const SemaphoreRecord record{1, "Bench"};
    u16 id = 0;
    createSemaphore(&id, &record);
    for (auto _ : state) {
        waitSemaphore(id);
        signalSemaphore(id);
    }
    shutdown();
}
BENCHMARK(BM_SemaphoreWaitSignal);

void BM_StdMutexLockUnlock(benchmark::State& state)
{
    std::mutex mutex;
    for (auto _ : state) {
        mutex.lock();
        mutex.unlock();
    }
}
BENCHMARK(BM_StdMutexLockUnlock);

// Eight threads taking turns: a count-1 semaphore as a lock against std::mutex, each guarding a shared counter.
u16 g_contendedSemaphore = 0;
std::mutex g_contendedMutex;
long g_contendedCounter = 0;

void BM_SemaphoreContended(benchmark::State& state)
{
    if (state.thread_index() == 0) {
        initialize();
        const SemaphoreRecord record{1, "Bench"};
        createSemaphore(&g_contendedSemaphore, &record);
    }
    for (auto _ : state) {
        waitSemaphore(g_contendedSemaphore);
        ++g_contendedCounter;
        signalSemaphore(g_contendedSemaphore);
    }
    if (state.thread_index() == 0) {
        shutdown();
    }
}
BENCHMARK(BM_SemaphoreContended)->Threads(8)->UseRealTime();

void BM_StdMutexContended(benchmark::State& state)
{
    for (auto _ : state) {
        g_contendedMutex.lock();
        ++g_contendedCounter;
        g_contendedMutex.unlock();
    }
}
BENCHMARK(BM_StdMutexContended)->Threads(8)->UseRealTime();

void BM_ThreadIdentity(benchmark::State& state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(getCurrentThreadIdentity());
    }
}
BENCHMARK(BM_ThreadIdentity);

} // namespace
