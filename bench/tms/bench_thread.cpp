// Thread messages against std::mutex + std::condition_variable hand-offs, sending into small queues with
// waiting, and the period of the 10 ms OS tick.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "tms_AbstractThread.h"
#include "tms_ThreadRepository.h"

namespace {

using TMS::AbstractMessage;

void ensureRepository()
{
    static const bool initialized = [] { return TMS::ThreadRepository::initialize() == 0; }();
    (void)initialized;
}

const char* const LABEL = "loudspeaker-1234";

// ---------------------------------------------------------------------------------------------------------------
// Round trip: "ping" with three fields answered by "Re:ping", repeated `rounds` times per iteration.
// ---------------------------------------------------------------------------------------------------------------

class PingThread : public TMS::AbstractThread
{
public:
    PingThread() : TMS::AbstractThread(5) {}
    ~PingThread() override { release(); }

    // Pinger: user event 1 starts a series of m_remaining round trips.
    u32 onReceiveEvent(u32) override
    {
        sendPing();
        return 0;
    }

    u32 onReceiveMessage(const AbstractMessage& message) override
    {
        const char* command = message.getValue("CommandName").getString();
        if (command != nullptr && std::strcmp(command, "ping") == 0) {
            AbstractMessage reply;
            reply.initialize(TMS::MESSAGE_KIND_USER, 0);
            reply.setString("CommandName", "Re:ping");
            reply.setUInt("Seq", message.getValue("Seq").getUInt());
            reply.setInt("Result", 0);
            reply.sendTo(message.getSender());
        } else if (m_remaining.fetch_sub(1, std::memory_order_acq_rel) > 1) {
            sendPing();
        } else {
            m_done.store(true, std::memory_order_release);
            m_done.notify_one();
        }
        return 0;
    }

    void sendPing()
    {
        AbstractMessage ping;
        ping.initialize(TMS::MESSAGE_KIND_USER, 0);
        ping.setString("CommandName", "ping");
        ping.setUInt("Seq", m_seq++);
        ping.setString("Label", LABEL);
        ping.sendTo("PingB");
    }

    std::atomic<u32> m_remaining{0};
    std::atomic<bool> m_done{false};
    u32 m_seq = 0;
};

void BM_TmsRoundTrip(benchmark::State& state)
{
    ensureRepository();
    const u32 rounds = static_cast<u32>(state.range(0));
    auto a = std::make_unique<PingThread>();
    auto b = std::make_unique<PingThread>();
    const TMS::FieldMap& none = AbstractMessage::emptyFields();
    a->initialize("PingA", 0, 0, 20000, 20000, 100, 0, none);
    b->initialize("PingB", 0, 0, 20000, 20000, 100, 0, none);
    a->start(none);
    b->start(none);
    for (auto _ : state) {
        a->m_done.store(false, std::memory_order_release);
        a->m_remaining.store(rounds, std::memory_order_release);
        a->setUserEvent(1);
        a->m_done.wait(false, std::memory_order_acquire);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * rounds);
    a->release();
    b->release();
}

using Value = std::variant<int32_t, uint32_t, std::string, float, std::vector<uint8_t>>;
using Fields = std::map<std::string, Value>;

class Mailbox
{
public:
    void put(Fields fields)
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_items.push_back(std::move(fields));
        }
        m_ready.notify_one();
    }
    Fields take()
    {
        std::unique_lock<std::mutex> guard(m_lock);
        m_ready.wait(guard, [this] { return !m_items.empty(); });
        Fields fields = std::move(m_items.front());
        m_items.pop_front();
        return fields;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_ready;
    std::deque<Fields> m_items;
};

void BM_StdRoundTrip(benchmark::State& state)
{
    const u32 rounds = static_cast<u32>(state.range(0));
    Mailbox toB;
    Mailbox toA;
    std::thread echo([&] {
        for (;;) {
            Fields ping = toB.take();
            auto command = std::get<std::string>(ping["CommandName"]);
            if (command == "quit") {
                return;
            }
            Fields reply;
            reply["CommandName"] = std::string("Re:ping");
            reply["Seq"] = std::get<uint32_t>(ping["Seq"]);
            reply["Result"] = int32_t{0};
            toA.put(std::move(reply));
        }
    });
    u32 seq = 0;
    for (auto _ : state) {
        for (u32 i = 0; i < rounds; ++i) {
            Fields ping;
            ping["CommandName"] = std::string("ping");
            ping["Seq"] = seq++;
            ping["Label"] = std::string(LABEL);
            toB.put(std::move(ping));
            Fields reply = toA.take();
            benchmark::DoNotOptimize(reply);
        }
    }
    Fields quit;
    quit["CommandName"] = std::string("quit");
    toB.put(std::move(quit));
    echo.join();
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * rounds);
}

BENCHMARK(BM_TmsRoundTrip)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StdRoundTrip)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---------------------------------------------------------------------------------------------------------------
// sendMessageWithWaiting into a small queue: the sender backs off 100 ms whenever the queue is full.
// ---------------------------------------------------------------------------------------------------------------

class SinkThread : public TMS::AbstractThread
{
public:
    explicit SinkThread(u32 capacity) : TMS::AbstractThread(capacity) {}
    ~SinkThread() override { release(); }
    u32 onReceiveMessage(const AbstractMessage&) override
    {
        m_received.fetch_add(1, std::memory_order_acq_rel);
        return 0;
    }
    std::atomic<u32> m_received{0};
};

// Arguments: queue capacity, messages per iteration. Every full queue costs the sender a 100 ms back-off, so the
// default counts are small; VD_BENCH_SEND_COUNT (e.g. 10000) replaces them for a full run.
void BM_TmsSendWithWaiting(benchmark::State& state)
{
    ensureRepository();
    const u32 capacity = static_cast<u32>(state.range(0));
    const char* override = std::getenv("VD_BENCH_SEND_COUNT");
    const u32 count =
        override != nullptr ? static_cast<u32>(std::strtoul(override, nullptr, 10)) : static_cast<u32>(state.range(1));
    SinkThread sink(capacity);
    const TMS::FieldMap& none = AbstractMessage::emptyFields();
    sink.initialize("Sink", 0, 0, 20000, 20000, 100, 0, none);
    sink.start(none);
    AbstractMessage message;
    message.initialize(TMS::MESSAGE_KIND_USER, 0);
    message.setString("CommandName", "data");
    message.setUInt("Seq", 0);
    for (auto _ : state) {
        const u32 target = sink.m_received.load() + count;
        for (u32 i = 0; i < count; ++i) {
            sink.sendMessageWithWaiting(message);
        }
        while (sink.m_received.load() < target) {
            std::this_thread::yield();
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * count);
    sink.release();
}

class BoundedQueue
{
public:
    explicit BoundedQueue(size_t capacity) : m_capacity(capacity) {}
    void push(Fields fields)
    {
        std::unique_lock<std::mutex> guard(m_lock);
        m_notFull.wait(guard, [this] { return m_items.size() < m_capacity; });
        m_items.push_back(std::move(fields));
        m_notEmpty.notify_one();
    }
    Fields pop()
    {
        std::unique_lock<std::mutex> guard(m_lock);
        m_notEmpty.wait(guard, [this] { return !m_items.empty(); });
        Fields fields = std::move(m_items.front());
        m_items.pop_front();
        m_notFull.notify_one();
        return fields;
    }

private:
    size_t m_capacity;
    std::mutex m_lock;
    std::condition_variable m_notFull;
    std::condition_variable m_notEmpty;
    std::deque<Fields> m_items;
};

void BM_StdBoundedQueue(benchmark::State& state)
{
    const size_t capacity = static_cast<size_t>(state.range(0));
    const u32 count = static_cast<u32>(state.range(1));
    BoundedQueue queue(capacity);
    std::atomic<u32> received{0};
    std::thread consumer([&] {
        for (;;) {
            Fields fields = queue.pop();
            if (fields.empty()) {
                return;
            }
            received.fetch_add(1, std::memory_order_acq_rel);
        }
    });
    Fields message;
    message["CommandName"] = std::string("data");
    message["Seq"] = uint32_t{0};
    for (auto _ : state) {
        const u32 target = received.load() + count;
        for (u32 i = 0; i < count; ++i) {
            queue.push(message);
        }
        while (received.load() < target) {
            std::this_thread::yield();
        }
    }
    queue.push(Fields());
    consumer.join();
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * count);
}

BENCHMARK(BM_TmsSendWithWaiting)
    ->Args({5, 200})
    ->Args({1, 50})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_StdBoundedQueue)->Args({5, 10000})->Args({1, 10000})->Unit(benchmark::kMillisecond)->UseRealTime();

// ---------------------------------------------------------------------------------------------------------------
// The OS tick over 10 s, seen by a registered thread: mean period and worst deviation from 10 ms.
// ---------------------------------------------------------------------------------------------------------------

class TickProbe : public TMS::AbstractThread
{
public:
    TickProbe() : TMS::AbstractThread(1) { m_times.reserve(2000); }
    ~TickProbe() override { release(); }
    u32 onTick(u32 now) override
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_times.push_back(std::chrono::steady_clock::now());
        }
        return TMS::AbstractThread::onTick(now);
    }
    std::vector<std::chrono::steady_clock::time_point> times()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_times;
    }

private:
    std::mutex m_lock;
    std::vector<std::chrono::steady_clock::time_point> m_times;
};

void BM_TickPeriod(benchmark::State& state)
{
    ensureRepository();
    for (auto _ : state) {
        TickProbe probe;
        probe.initialize("TickProbe", 0, 0, 20000, 20000, 100, 10, AbstractMessage::emptyFields());
        std::this_thread::sleep_for(std::chrono::seconds(10));
        probe.release();
        const auto times = probe.times();
        double sum = 0;
        double worst = 0;
        for (size_t i = 1; i < times.size(); ++i) {
            const double period = std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count();
            sum += period;
            worst = std::max(worst, std::abs(period - 10.0));
        }
        const double periods = times.size() > 1 ? static_cast<double>(times.size() - 1) : 1.0;
        state.counters["ticks"] = static_cast<double>(times.size());
        state.counters["mean_period_ms"] = sum / periods;
        state.counters["worst_deviation_ms"] = worst;
    }
}

BENCHMARK(BM_TickPeriod)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace
