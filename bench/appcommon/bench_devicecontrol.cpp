// "addComponent" through the device-control thread: 200 testgain components, each posted to "DeviceControl" and
// awaited as "Re:addComponent" at a stand-in "VDProtocol" thread, against 200 adds made directly on the audio
// component collection by a registered thread. Both run beside the same started device-control thread; the
// counter "worst_round_trip_us" is the slowest single round trip of a repetition. Removing the components between
// iterations is not timed.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>

#include "dadov_AudioComponentCollection.h"
#include "pyrite_DeviceControlThread.h"
#include "pyrite_ProductInfo.h"
#include "tms_SystemThread.h"
#include "tms_ThreadRepository.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr u32 COMPONENTS = 200;

// Counts the replies it receives.
class ReplyCounter : public TMS::AbstractThread
{
public:
    ReplyCounter() : TMS::AbstractThread(5) {}
    ~ReplyCounter() override { release(); }

    u32 onReceiveMessage(const TMS::AbstractMessage&) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_count;
        m_arrived.notify_all();
        return 0;
    }
    void waitFor(u64 count)
    {
        std::unique_lock<std::mutex> guard(m_lock);
        m_arrived.wait(guard, [&] { return m_count >= count; });
    }
    u64 count()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_count;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_arrived;
    u64 m_count = 0;
};

class Quiet : public DADOV::IAudioComponentCallback
{
public:
    void onChangeAudioComponents() override {}
};

// The threads of one benchmark run, started in a fresh folder holding the program's layout.
struct Device
{
    std::string m_folder;
    ReplyCounter m_vdp;
    PYRITE::PyriteDeviceControlThread m_device;
    TMS::SystemThread m_root{1};
    u32 m_nextUid = 1000;

    Device()
    {
        TMS::ThreadRepository::initialize();
        char folder[] = "/tmp/bench_devicecontrol-XXXXXX";
        m_folder = ::mkdtemp(folder);
        fs::copy(VD_LAYOUT_DESCRIPTORS, m_folder + "/Descriptor");
        fs::create_directories(m_folder + "/Component");
        fs::copy_file(VD_TESTGAIN_PLUGIN, m_folder + "/Component/testgain_1.dll");
        PyriteProductInfo::getInstance().setSystemDataPath(m_folder);
        PyriteProductInfo::getInstance().setStoragePath(m_folder + "/storage");
        const TMS::FieldMap& none = TMS::AbstractMessage::emptyFields();
        m_root.initialize("Root", 0, 0, 0, 20000, 100, 0, none);
        registerSystemInfoItems(&m_root);
        m_vdp.initialize("VDProtocol", 0, 1, 0, 20000, 100, 0, none);
        m_device.initialize("DeviceControl", 0, 2, 0, 20000, 100, 100, none);
        m_root.addChild(&m_vdp);
        m_root.addChild(&m_device);
        m_root.start(none);
        while (m_device.getState() != PYRITE::PyriteDeviceControlThread::STATE_IDLE) {
            TMS::AbstractThread::sleep(10);
        }
    }
    ~Device()
    {
        m_root.release();
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

    static Device& get()
    {
        static Device device;
        return device;
    }

    // Removes every audio component and waits until the last one is gone.
    static void removeAll()
    {
        DADOV::AudioComponentCollection& collection = DADOV::AudioComponentCollection::getInstance();
        collection.reqRemoveAllComponents();
        collection.updateByThread();
        while (collection.getNumComponents() != 0) {
            TMS::AbstractThread::sleep(1);
            collection.updateByThread();
        }
    }
};

void BM_AddComponentRoundTrip(benchmark::State& state)
{
    Device& device = Device::get();
    Quiet quiet;
    (void)DADOV::AudioComponentCollection::getInstance().beginByThread(&quiet);
    Clock::duration worst{};
    for (auto _ : state) {
        u64 expected = device.m_vdp.count();
        for (u32 i = 0; i < COMPONENTS; ++i) {
            TMS::AbstractMessage message;
            message.initialize(TMS::MESSAGE_KIND_USER, 0);
            message.setString("CommandName", "addComponent");
            message.setString("ComponentName", "testgain");
            message.setUInt("MajorVersion", 1);
            message.setUInt("UniqID", device.m_nextUid++);
            message.setUInt("NumX", 2);
            message.setUInt("NumY", 1);
            const Clock::time_point sent = Clock::now();
            message.sendTo("DeviceControl");
            device.m_vdp.waitFor(++expected);
            worst = std::max(worst, Clock::now() - sent);
        }
        state.PauseTiming();
        Device::removeAll();
        state.ResumeTiming();
    }
    DADOV::AudioComponentCollection::getInstance().endByThread();
    state.counters["worst_round_trip_us"] = std::chrono::duration<double, std::micro>(worst).count();
    state.SetItemsProcessed(state.iterations() * COMPONENTS);
}
BENCHMARK(BM_AddComponentRoundTrip)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

void BM_AddComponentDirect(benchmark::State& state)
{
    Device& device = Device::get();
    Quiet quiet;
    DADOV::AudioComponentCollection& collection = DADOV::AudioComponentCollection::getInstance();
    (void)collection.beginByThread(&quiet);
    for (auto _ : state) {
        for (u32 i = 0; i < COMPONENTS; ++i) {
            benchmark::DoNotOptimize(collection.addComponent("testgain", 1, device.m_nextUid++, 2, 1));
        }
        state.PauseTiming();
        Device::removeAll();
        state.ResumeTiming();
    }
    collection.endByThread();
    state.SetItemsProcessed(state.iterations() * COMPONENTS);
}
BENCHMARK(BM_AddComponentDirect)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

} // namespace
