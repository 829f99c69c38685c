// The device-control thread on real threads for the device-control suites: the layout's component descriptions
// and plug-in in a temporary folder, stand-in threads that keep what they receive, and helpers for messages and
// database values.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fsw_TestSupport.h"
#include "pdb_IParameterDB.h"
#include "pyrite_DeviceControlThread.h"
#include "tms_SystemThread.h"
#include "tms_ThreadTestSupport.h"

namespace appcommontest {

// Databases and components of the layout.
constexpr u32 PROFILE = 0;
constexpr u32 AUDIO = 10;
constexpr u32 NQ_CURRENT = 0;
constexpr u32 NQ_VOLATILE = 2;

// How long a wait for something that must happen may last: generous, as a sanitised build on a loaded machine can
// take seconds per command. A wait that succeeds returns as soon as the condition holds.
constexpr int WAIT_MS = 60000;

// Texts written by several threads, kept in order.
class Journal
{
public:
    void add(const std::string& entry);
    std::vector<std::string> entries();
    void clear();

private:
    std::mutex m_lock;
    std::vector<std::string> m_entries;
};

// Runs test code on a thread's own task: a user message "Probe" carries it. A probe is also a barrier: the
// messages and user events queued before it have been served when it returns.
class ProbeRunner
{
public:
    void run(TMS::AbstractThread& thread, const std::function<void()>& work);
    // Runs the work when message is a probe: true; false for any other message.
    bool serve(const TMS::AbstractMessage& message);

private:
    std::mutex m_lock;
    std::condition_variable m_ran;
    std::function<void()> m_work;
    bool m_done = false;
};

// The device-control thread (with the services it is given) that takes probes, keeps its log lines reachable and
// writes every state word into the journal as "state <n>" and every new "ZOVORaState" it sees as
// "ZOVORaState <n>".
class Device : public PYRITE::PyriteDeviceControlThread
{
public:
    Device() = default;
    Device(LPC::SceneList& scenes, LPC::PresetList& presets, LPC::Project& project)
        : PyriteDeviceControlThread(scenes, presets, project)
    {
    }
    ~Device() override { release(); }

    void run(const std::function<void(Device&)>& work)
    {
        m_probes.run(*this, [&] { work(*this); });
    }
    u32 onReceiveMessage(const TMS::AbstractMessage& message) override;
    u32 onChangeSystemInfo() override;
    u32 onTimer(u32 timerId, u32 count) override;
    // Timer passes served so far.
    u32 timerPasses() const { return m_timerPasses.load(); }
    std::vector<std::string> logLines();
    bool logged(const std::string& text);

    Journal m_journal;

protected:
    void setState(u32 state) override;

private:
    ProbeRunner m_probes;
    u32 m_configState = 0;
    std::atomic<u32> m_timerPasses{0};
};

// A stand-in that takes probes and keeps the other messages it receives and the values "ZOVORaState" and
// "PDBState" take.
class StandIn : public tmstest::RecordingThread
{
public:
    StandIn();
    ~StandIn() override { release(); }

    // Runs work on the stand-in's task (messages it sends there carry its name).
    void run(const std::function<void()>& work) { m_probes.run(*this, work); }
    // Takes the oldest message received; nothing when none arrives in time.
    std::optional<TMS::AbstractMessage> take();
    size_t pending();
    std::vector<std::string> states();

private:
    ProbeRunner m_probes;
    std::mutex m_keptLock;
    std::vector<TMS::AbstractMessage> m_messages;
    std::vector<std::string> m_states;
};

TMS::AbstractMessage command(const char* name);
// A command with text fields: {name, value, name, value, ...}.
TMS::AbstractMessage command(const char* name, const std::vector<std::pair<const char*, const char*>>& texts);
std::string text(const TMS::AbstractMessage& message, const char* field);
u32 number(const TMS::AbstractMessage& message, const char* field);

PDB::IParameterDB& database(u32 id);
i32 write(u32 db, u32 uid, const char* address, const KVariant& value, u32 x = 0);
KVariant read(u32 db, u32 uid, const char* address);

// The device-control thread under a root thread with the stand-ins "VDProtocol", "Sync", "GUIBridge" and
// "OSCServer". ctest runs each test as its own process; start() also forgets the component descriptions an earlier
// test of the same process registered.
class DeviceControlRig : public ::testing::Test
{
protected:
    explicit DeviceControlRig(Device& device) : m_dev(device) {}

    // Lays the descriptions (less those left out) and the plug-in out in the folder, loads the settings file with
    // the application type when one is given, and starts the threads; the device-control thread is idle
    // ("ZOVORaState" 3) on return.
    void start(const std::set<std::string>& leftOut = {}, const std::string& brokenFile = "",
               const char* applicationType = nullptr);
    // Loads a settings file with that application type (the storage paths are set again).
    void setApplicationType(const char* type);
    // Releases the threads, then sets the clock right again (tests move it with setClock), whatever the outcome.
    void TearDown() override;

    // Sends a command to the device-control thread and takes the stand-in's next message.
    std::optional<TMS::AbstractMessage> ask(const TMS::AbstractMessage& message, StandIn& to);
    void post(const TMS::AbstractMessage& message);
    // Posts and waits until the command has been served.
    void serve(const TMS::AbstractMessage& message);

    fswtest::TempDir m_folder;
    const std::string m_storage = m_folder / "storage";
    StandIn m_vdp;
    StandIn m_sync;
    StandIn m_bridge;
    StandIn m_osc;
    TMS::SystemThread m_root{1};
    Device& m_dev;
};

// The rig with the device's own services.
class DeviceControl : public DeviceControlRig
{
protected:
    DeviceControl() : DeviceControlRig(m_device) {}

    Device m_device;
};

} // namespace appcommontest
