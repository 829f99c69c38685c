// Helpers of the editor-link thread suites: a test editor on a loopback listener, stand-in threads that publish
// system-information values on request, and a System thread that runs the real "VDProtocol" thread among them.
#pragma once

#include <atomic>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "pyrite_ClientSystemThread.h"
#include "pyrite_ClientVDProtocolThread.h"
#include "pyrite_DeviceControlThread.h"
#include "tms_ThreadTestSupport.h"
#include "vdp_TestSupport.h"
#include "vsock_TestSupport.h"

namespace vdptest {

// Sets the options store as the command line "program <arguments...>" would, forgetting earlier options.
void setOptions(std::initializer_list<const char*> arguments);

// The editor end of the link; it waits up to WAIT_MS unless told otherwise.
class TestEditor : public vsocktest::LinePeer
{
public:
    TestEditor() : vsocktest::LinePeer(WAIT_MS) {}
};

// A recording stand-in. "Publish" {"Name", "Value"} commits that unsigned system-information value; every other
// message is recorded and goes to m_messageHook.
class StandIn : public tmstest::RecordingThread
{
public:
    explicit StandIn(u32 queueCapacity);
    // Has the stand-in publish the value and waits until it sees it in its own view.
    void publish(const char* name, u32 value);

    u32 onReceiveMessage(const TMS::AbstractMessage& message) override;

private:
    // Runs on the stand-in's task before m_messageHook.
    bool handlePublish(const TMS::AbstractMessage& message);
};

// The System thread of the link suites: the real "VDProtocol" thread (stage 3) with stand-ins "DeviceControl"
// (stage 2; or the real device-control thread), "Sync" (4) and "Compiler" (5). It counts the releases that the
// link thread asks for.
class LinkSystem : public PYRITE::PyriteClientSystemThread
{
public:
    explicit LinkSystem(bool realDeviceControl = false);
    // With that device-control thread in place of the stand-in.
    explicit LinkSystem(std::unique_ptr<PYRITE::PyriteDeviceControlThread> deviceControl);
    ~LinkSystem() override;

    u32 onInitialize(const TMS::FieldMap& arguments) override;
    u32 release() override;

    // Initialises and starts it; returns once its children run (or once they are gone again, when the link
    // thread ended the program while they started).
    void run();
    // True once the program has ended: every child is released.
    bool ended(int timeoutMs = WAIT_MS);
    u32 getReleasesByLink() const { return m_releasesByLink.load(); }
    // "VDPState", "ProductState" ... as the stand-in "Sync" sees them.
    u32 seen(const char* name);
    // Has "Sync" publish the value and waits until the link thread has taken it: it serves socket events and
    // messages before system information within a pass, so what is sent right after a bare publish may still
    // meet the old value.
    void publishToLink(const char* name, u32 value);

    PYRITE::PyriteClientVDProtocolThread m_link;
    StandIn m_standInDeviceControl{5};
    StandIn m_sync{5};
    StandIn m_compiler{1};
    std::unique_ptr<PYRITE::PyriteDeviceControlThread> m_realDeviceControl;

private:
    std::atomic<u32> m_releasesByLink{0};
};

// True when a line of the thread's log ring holds the text.
bool logHolds(TMS::AbstractThread& thread, const std::string& text);

} // namespace vdptest
