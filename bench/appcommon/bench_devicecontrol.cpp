// "addComponent" through the device-control thread: 200 testgain components, each posted to "DeviceControl" and
// awaited as "Re:addComponent" at a stand-in "VDProtocol" thread, against 200 adds made directly on the audio
// component collection by a registered thread. Both run beside the same started device-control thread; the
// counter "worst_round_trip_us" is the slowest single round trip of a repetition. Removing the components between
// iterations is not timed.
//
// "NQProject" "Save" and "Load" through the device-control thread (final memories, the project file, the refresh)
// against the project file's own save and load of the same storage, paired per iteration: 200 testgain
// components of 36 channels and 200 scenes of them, about 10 MB. Each command is awaited through the reply of a
// command posted after it.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>

#include "bench_AudioComponents.h"
#include "dadov_AudioComponentCollection.h"
#include "mms_SelectedItemLoader.h"
#include "pdb_ProjectFile.h"
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
        benchaudio::removeAllComponents();
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
        benchaudio::removeAllComponents();
        state.ResumeTiming();
    }
    collection.endByThread();
    state.SetItemsProcessed(state.iterations() * COMPONENTS);
}
BENCHMARK(BM_AddComponentDirect)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

TMS::AbstractMessage makeCommand(const char* name, std::initializer_list<std::pair<const char*, const char*>> texts)
{
    TMS::AbstractMessage message;
    message.initialize(TMS::MESSAGE_KIND_USER, 0);
    message.setString("CommandName", name);
    for (const auto& [field, value] : texts) {
        message.setString(field, value);
    }
    return message;
}

// Posts the command and waits until the device-control thread has served it: a command posted after it answers
// "VDProtocol".
void serve(Device& device, const TMS::AbstractMessage& message)
{
    const u64 expected = device.m_vdp.count() + 1;
    message.sendTo("DeviceControl");
    makeCommand("changeComponentType", {}).sendTo("DeviceControl");
    device.m_vdp.waitFor(expected);
}

// The storage of the project benchmarks, laid out once.
struct ProjectStorage
{
    static constexpr u32 CHANNELS = 36;
    static constexpr u32 SCENES = 200;

    std::string m_project;
    std::string m_direct;
    u64 m_bytes = 0;

    ProjectStorage()
    {
        Device& device = Device::get();
        for (u32 i = 0; i < COMPONENTS; ++i) {
            TMS::AbstractMessage add = makeCommand("addComponent", {{"ComponentName", "testgain"}});
            add.setUInt("MajorVersion", 1);
            add.setUInt("UniqID", device.m_nextUid++);
            add.setUInt("NumX", CHANNELS);
            add.setUInt("NumY", 1);
            const u64 expected = device.m_vdp.count() + 1;
            add.sendTo("DeviceControl");
            device.m_vdp.waitFor(expected);
        }
        serve(device, makeCommand("NQScene", {{"Operation", "Store"}, {"Status", "Start"}, {"Index", "1"}}));
        const std::string scenes = device.m_folder + "/storage/Snapshot/";
        for (u32 scene = 2; scene <= SCENES; ++scene) {
            fs::copy_file(scenes + "1.zethis", scenes + std::to_string(scene) + ".zethis");
        }
        for (const auto& entry : fs::recursive_directory_iterator(device.m_folder + "/storage")) {
            if (entry.is_regular_file()) {
                m_bytes += entry.file_size();
            }
        }
        m_project = device.m_folder + "/through-device.zethiprj";
        m_direct = device.m_folder + "/direct.zethiprj";
        serve(device,
              makeCommand("NQProject", {{"Operation", "Save"}, {"Status", "Do"}, {"FilePath", m_project.c_str()}}));
    }

    static ProjectStorage& get()
    {
        static ProjectStorage storage;
        return storage;
    }
};

// Each iteration runs the command through the device-control thread and the project file's own operation on the
// same storage, in alternating order, and times both; the iteration time is the command's, the counter "ratio" the
// command's total over the project file's within the repetition (paired, so a busy disk weighs on both alike).
void projectPair(benchmark::State& state, const char* operation)
{
    ProjectStorage& storage = ProjectStorage::get();
    Device& device = Device::get();
    const bool save = std::string(operation) == "Save";
    const TMS::AbstractMessage message =
        makeCommand("NQProject", {{"Operation", operation}, {"Status", "Do"}, {"FilePath", storage.m_project.c_str()}});
    PDB::ProjectFile file;
    if (file.initialize("HUX-NQ", 1, 1, PYRITE::PyriteDeviceControlThread::getProjectContents(),
                        MMSFUNC::getSelectedItemLoader(), 0) != 0 ||
        file.save(storage.m_direct.c_str(), "", "", nullptr, nullptr) != 0) {
        state.SkipWithError("cannot set the project file up");
        return;
    }
    Clock::duration command{};
    Clock::duration direct{};
    bool commandFirst = true;
    for (auto _ : state) {
        Clock::duration took[2];
        for (int turn = 0; turn < 2; ++turn) {
            const bool isCommand = (turn == 0) == commandFirst;
            const Clock::time_point begin = Clock::now();
            if (isCommand) {
                serve(device, message);
            } else if ((save ? file.save(storage.m_direct.c_str(), "", "", nullptr, nullptr)
                             : file.load(storage.m_direct.c_str(), nullptr, nullptr, nullptr)) != 0) {
                state.SkipWithError("project file failed");
                return;
            }
            took[isCommand ? 0 : 1] = Clock::now() - begin;
        }
        commandFirst = !commandFirst;
        command += took[0];
        direct += took[1];
        state.SetIterationTime(std::chrono::duration<double>(took[0]).count());
    }
    state.counters["ratio"] =
        std::chrono::duration<double>(command).count() / std::chrono::duration<double>(direct).count();
    state.counters["file_ms"] =
        std::chrono::duration<double, std::milli>(direct).count() / static_cast<double>(state.iterations());
    state.counters["storage_MB"] = static_cast<double>(storage.m_bytes) / 1e6;
}

void BM_NqProjectSaveAgainstFile(benchmark::State& state)
{
    projectPair(state, "Save");
}
BENCHMARK(BM_NqProjectSaveAgainstFile)->Unit(benchmark::kMillisecond)->Iterations(10)->UseManualTime();

void BM_NqProjectLoadAgainstFile(benchmark::State& state)
{
    projectPair(state, "Load");
}
BENCHMARK(BM_NqProjectLoadAgainstFile)->Unit(benchmark::kMillisecond)->Iterations(10)->UseManualTime();

} // namespace
