// Helpers of the executor suites: a client unit that captures every line it sends, and a rig of stand-in threads
// around one executor ("System" as the root of the system information, "DeviceControl" (queue 5), "Compiler"
// (queue 1), "Sync" (queue 5), and "VDProtocol", which runs the executor and hands it every answer).
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pdb_IParameterDB.h"
#include "tms_SystemThread.h"
#include "tms_ThreadTestSupport.h"
#include "vcom_TcpSocket.h"
#include "vdp_ClientUnit.h"
#include "vdp_Executor.h"
#include "vdp_TestSupport.h"
#include "vdtest_Support.h"

namespace vdptest {

// A connected socket that takes every byte and keeps it; while stalled it takes nothing, as for an editor that
// does not read.
class CaptureSocket : public VCOM::VComTcpClientSocket
{
public:
    bool isConnected() const override { return true; }
    u32 getSendableSize() const override { return m_stalled.load() ? 0 : VCOM::STREAM_SIZE; }
    i32 send(const u8* data, u32 length, u32* taken) override;
    // The bytes sent since the last take.
    std::string take();

    std::atomic<bool> m_stalled{false};

private:
    std::mutex m_lock;
    std::string m_bytes;
};

// A client unit whose socket is a CaptureSocket (set up by the constructor).
class CaptureUnit : public VDProtocol::VDProtocolClientUnit
{
public:
    CaptureUnit();
    // The lines sent since the last call, without their line feeds. Call it on the thread that sends, or once that
    // thread is idle, and not while stalled.
    std::vector<std::string> takeLines();
    // Stalls or frees the socket.
    void stall(bool stalled) { m_socket->m_stalled.store(stalled); }

protected:
    VCOM::VComTcpClientSocket* createSocket() override;

private:
    CaptureSocket* m_socket = nullptr;
    std::string m_partial;
};

// The thread "VDProtocol" of the rig: runs work for the test and hands every other message to the executor's
// onAnswer, counting the answers handed over.
class HostThread : public tmstest::RecordingThread
{
public:
    HostThread();
    ~HostThread() override;

    // Set and read on this thread (run).
    VDevice::VDProtocolExecutor* m_executor = nullptr;
    // Sees every answer first, with or without an executor.
    tmstest::Hook<void(const TMS::AbstractMessage&)> m_answerHook;
    // Runs before an answer is handed over; returning false drops it.
    std::function<bool(const TMS::AbstractMessage&)> m_answerFilter;

    // Runs work on this thread and waits for it.
    void run(std::function<void()> work);
    u32 getAnswerCount() const { return m_answers.load(); }

private:
    std::mutex m_workLock;
    std::deque<std::function<void()>> m_work;
    std::atomic<u32> m_answers{0};
};

class ExecutorRig
{
public:
    static constexpr const char* IDENTITY = "editor-uid";

    // Builds and starts the threads and the executor; deviceControl (not owned) runs as "DeviceControl" in place
    // of the stand-in when given.
    explicit ExecutorRig(TMS::AbstractThread* deviceControl = nullptr);
    ~ExecutorRig();
    ExecutorRig(const ExecutorRig&) = delete;
    ExecutorRig& operator=(const ExecutorRig&) = delete;

    VDevice::VDProtocolExecutor& executor() { return *m_executor; }
    // Decodes a request line and dispatches it on the "VDProtocol" thread.
    void dispatch(const std::string& line);
    // Sends an answer message (as its "CommandName" with fields) to "VDProtocol" from the calling thread, then waits
    // until the executor has handled it.
    void answer(const TMS::AbstractMessage& message);
    // The lines the executor sent since the last call (taken on the "VDProtocol" thread).
    std::vector<std::string> lines();
    // "Sync" publishes "EditorState"; returns once "Sync" itself sees the value.
    void setEditorState(u32 value);

    CaptureUnit m_unit;
    std::unique_ptr<VDevice::VDProtocolExecutor> m_executor;
    tmstest::RecordingThread m_deviceControl{5};
    tmstest::RecordingThread m_compiler{1};
    tmstest::RecordingThread m_sync{5};
    HostThread m_host;
    TMS::SystemThread m_system{1};
};

// Databases of the process-wide collection built from the shipped component descriptions (layout/Descriptor):
// each named database at its id of the program's instance table, holding its component uid 0; deleted again at the
// end of the scope. A failure fails the test.
class ShippedDatabases
{
public:
    explicit ShippedDatabases(std::initializer_list<const char*> names);
    ~ShippedDatabases();
    ShippedDatabases(const ShippedDatabases&) = delete;
    ShippedDatabases& operator=(const ShippedDatabases&) = delete;

    PDB::IParameterDB& get(const char* name) const;

private:
    void add(const char* name);

    std::vector<u32> m_ids;
};

// Lays the program out for the real device-control thread in folder (the shipped component descriptions in
// Descriptor/, the gain plug-in in Component/) and points the product information's system data path at it, its
// storage path at folder/storage.
void layOutDeviceControl(const std::string& folder);

// The rig around the real device-control thread: the layout's component descriptions and the gain plug-in
// ("testgain" 1) laid out in a scratch folder, the product information loaded from the layout, and the eleven
// databases with their components made by "DeviceControl", which is idle when the constructor returns.
class DeviceRig
{
public:
    DeviceRig();
    DeviceRig(const DeviceRig&) = delete;
    DeviceRig& operator=(const DeviceRig&) = delete;

    // "addComponent" to "DeviceControl"; returns once its answer has reached the executor.
    void addComponent(const char* type, u32 uniqueId, u32 numX = 1, u32 numY = 1);
    // A component of the component database of a type registered by the caller ("addPDBComponent").
    void addDatabaseComponent(const char* type, u32 uniqueId, u32 numX, u32 numY);

    const std::string& folder() const { return m_folder.path(); }

private:
    struct Layout
    {
        explicit Layout(const std::string& folder);
    };

    vdtest::ScratchDir m_folder;
    Layout m_layout{m_folder.path()};
    std::unique_ptr<TMS::AbstractThread> m_device;

public:
    ExecutorRig m_rig{m_device.get()};
};

// Every database of positions 0..10 as its component table image ("" for an empty position): equal images mean
// equal components and values.
std::vector<std::string> exportDatabases();

// A user message "CommandName" = command with unsigned fields.
TMS::AbstractMessage makeMessage(const char* command, const std::vector<std::pair<const char*, u32>>& fields = {});

} // namespace vdptest
