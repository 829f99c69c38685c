// PyriteClientVDProtocolThread: the thread "VDProtocol" (stage 3, queue of 1000 messages). It owns the link to the
// editor: a client unit that connects to the editor on 127.0.0.1 at the "port" option, and the command executor
// that turns the editor's requests into messages to other threads and their answers into replies.
//
// Start: on its first STOP -> RUN the thread reads the options "uid" and "port". Without either it stages
// "VDPState" 1 and runs without a link. Otherwise it creates the unit and the executor and starts the connect;
// "VDPState" 1 follows the connection. A link that closes, a connect that fails (at once or later) and a start that
// fails (a port outside 1..65535, a unit or executor that cannot be made) release "System", once: the program ends.
// A later STOP -> RUN builds nothing new.
//
// "connected": once the product has started ("ProductState" 1, "RunMode" 0) and the device-control thread has
// restored the memories and runs the configuration ("ZOVORaState" 3), whichever comes last, while the link is up.
// Packets that arrive before it are held (up to MAX_HELD_PACKETS; a request beyond them is answered 0x80000000)
// and carried out in order right after it: a write made before the restore would be answered "ok" and then
// overwritten. In a run mode other than 0 no "connected" follows, and the held packets are carried out at the start.
//
// Work: everything runs on the thread's own task. The socket's wake-up (on the poll task) only sets user event 16,
// on which the unit runs its socket events and with them the observer callbacks below. Answers of other threads
// arrive as messages (see the table in the source); they are handled only while "RunMode" is 0. Timer 0 (5000 ms,
// armed by "DetectStart", stopped by "DetectStop") posts the network addresses while offline; timer 1 (the meter
// interval) sends the meter notifications while the editor-state class is 2 and re-arms itself through user event
// 17; timer 2 (1000 ms, running while the executor awaits answers) gives up answers that are overdue; timer 3
// (20 ms, running while a target's full queue holds posts back) sends them once the target takes messages again.
//
// The queue is large: "Sync", "DeviceControl" and "Compiler" answer the thread with waiting, and it never waits on
// them (its posts to a full queue stay in the executor), so their answers never wait long. The answers are bounded
// by what the executor has posted; the capacity only bounds what a runaway sender can queue.
//
// End: onFinalize closes the unit on the thread's own task, so no socket event reaches the thread after its loop;
// the destructor only frees the unit and the executor.
#pragma once

#include <deque>
#include <memory>

#include "pyrite_AppThread.h"
#include "vcom_Interfaces.h"
#include "vdp_ClientUnit.h"
#include "vdp_Executor.h"

namespace PYRITE {

class PyriteClientVDProtocolThread : public PyriteAppThread,
                                     private VCOM::IVComWakeupFunction,
                                     private VDProtocol::IVDProtocolConnectObserver
{
public:
    static constexpr u32 QUEUE_CAPACITY = 1000;
    static constexpr const char* LINK_ADDRESS = "127.0.0.1";
    static constexpr u32 DETECT_TIMER = 0;
    static constexpr u32 DETECT_INTERVAL_MS = 5000;
    static constexpr u32 METER_TIMER = 1;
    static constexpr u32 EVENT_METER_REARM = 17;
    static constexpr u32 EXPIRY_TIMER = 2;
    static constexpr u32 EXPIRY_INTERVAL_MS = 1000;
    static constexpr u32 RETRY_TIMER = 3;
    static constexpr u32 RETRY_INTERVAL_MS = 20;
    static constexpr size_t MAX_HELD_PACKETS = 100;

    PyriteClientVDProtocolThread();
    ~PyriteClientVDProtocolThread() override;

    u32 onChangeStatus(u32 status, const TMS::FieldMap& arguments) override;
    u32 onChangeSystemInfo() override;
    u32 onReceiveMessage(const TMS::AbstractMessage& message) override;
    u32 onReceiveUserEvent(u32 eventId) override;
    u32 onTimer(u32 timerId, u32 count) override;
    u32 onFinalize() override;
    u32 onProductStarted(u32 runMode) override;
    u32 onChangePDBState(u32 state) override;
    u32 onChangePDBParam(PDB::IParameterDB* database, u32 component, u32 parameter, u32 x, u32 y, u32 key) override;
    // Arms the expiry timer while the executor awaits answers and stops it when nothing is awaited.
    u32 onAfterEvents() override;

    // The answer timeout of the executor (also one made later); ANSWER_TIMEOUT_MS unless set.
    void setAnswerTimeout(u32 timeoutMs);

    // "port" as a decimal number in 1..65535 (leading blanks and a sign allowed, nothing after the digits).
    [[nodiscard]] static bool parsePort(const char* text, u16& port);

private:
    // VCOM::IVComWakeupFunction (the poll task)
    void wakeup(u16 wakeValue, VCOM::IVCom* socket) override;
    // VDProtocol::IVDProtocolConnectObserver (this thread, from the unit's socket events)
    void onConnected() override;
    void onConnectionFailed(u32 errorCode, u8 flag) override;
    void onDisconnected() override;
    void onReceivePacket(const VDProtocol::PacketContainer& packet) override;

    // Steps 3 to 8 of the start: 0, or 0x80000000 after an "[E]" line naming what failed.
    u32 startLink();
    // Releases "System" once: the program ends.
    void endProgram();
    // Sends "connected" when it is due, the configuration runs and the link is up, then carries out what was held.
    void sendConnectedWhenConfigured();
    // Carries out the held packets; later ones are dispatched as they come.
    void openRequests();
    void armMeterTimer(bool oneShot);
    // Starts the periodic timer while wanted, stops it when not.
    void keepTimer(u32 timerId, u32 intervalMs, bool wanted);
    void stopTimer(u32 timerId);

    std::unique_ptr<VDProtocol::VDProtocolClientUnit> m_unit;
    std::unique_ptr<VDevice::VDProtocolExecutor> m_executor;
    bool m_started = false; // the first STOP -> RUN has been served
    bool m_systemReleased = false;
    bool m_connectedDue = false; // the product started in run mode 0; "connected" waits for the configuration
    bool m_requestsOpen = false; // "connected" has gone (or none is coming): packets are dispatched as they come
    std::deque<VDProtocol::PacketContainer> m_held;
    u32 m_answerTimeoutMs = VDevice::VDProtocolExecutor::ANSWER_TIMEOUT_MS;
};

} // namespace PYRITE
