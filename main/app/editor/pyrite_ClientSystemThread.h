// PyriteClientSystemThread: the root thread "System". It owns the application threads as members, initialises
// them as threads of their start stages in its own onInitialize and makes them its children; the system-thread
// logic then starts them stage by stage (1 to 5) and releases them the other way round. It defines the shared
// system-information items, sets "ProductState" 1 once the databases ("PDBState") and the editor link
// ("VDPState") are ready, and ends the program on the command "Close".
//
// The member threads live until this object is destroyed: the repository keeps plain pointers to them.
#pragma once

#include "lpc_HuxRemoteThread.h"
#include "lpc_NqProtoDeviceControlThread.h"
#include "lpc_OscServerThread.h"
#include "pyrite_ClientSyncThread.h"
#include "pyrite_ClientVDProtocolThread.h"
#include "pyrite_DebugConsoleThread.h"
#include "pyrite_DeviceControlThread.h"
#include "pyrite_VEXACompilerThread.h"
#include "tms_SystemThread.h"

namespace PYRITE {

class PyriteClientSystemThread : public TMS::SystemThread
{
public:
    static constexpr u32 QUEUE_CAPACITY = 1;
    // Sizes every application thread is initialised with.
    static constexpr u16 TASK_PRIORITY = 0;
    static constexpr u32 STACK_SIZE = 20000;
    static constexpr u32 HEAP_SIZE = 20000;
    static constexpr u32 LOG_LINES = 100;
    static constexpr u32 TIMER_INTERVAL_MS = 100;

    // The debug console listens on 127.0.0.1 at consolePort (0: a port the system chooses).
    explicit PyriteClientSystemThread(u16 consolePort = DBGC::LowIOEtherServer::DEFAULT_PORT);
    // Releases the thread (and with it the children), then destroys the members in reverse order.
    ~PyriteClientSystemThread() override;

    u32 onTimer(u32 timerId, u32 count) override;
    // Registers the system-information items (a failure gives 0x80000000), initialises the settings of logical
    // position control, initialises the eight threads and adds them as children, in table order.
    u32 onInitialize(const TMS::FieldMap& arguments) override;
    u32 onChangeSystemInfo() override;
    // "Close" with code 0 releases this thread; everything else is left to the base.
    u32 onReceiveMessage(const TMS::AbstractMessage& message) override;

private:
    PyriteDebugConsoleThread m_debugConsole;
    PyriteDeviceControlThread m_deviceControl;
    PyriteClientSyncThread m_sync;
    PyriteClientVDProtocolThread m_vdProtocol;
    VEXACompilerThread m_compiler;
    LPC::LpcHuxRemoteThread m_huxRemote;
    LPC::LpcOscServerThread m_oscServer;
    LPC::LpcNqProtoDeviceControlThread m_nqDeviceControl;
};

} // namespace PYRITE
