// A scriptable stand-in for the device link: FakeUnitScript is the unit factory a sync thread is given in
// tests; it makes FakeServerUnit objects, tells them what the device does and records what they were asked.
//
// The test thread scripts; the owner thread drives the unit. Everything the device "sends" (connect
// outcomes, synchroniser statuses, events, transfer progress, a dropped link) is queued and the owner is
// woken through the wake-up given to create (wakeup(1, nullptr)); the unit delivers the queue to its
// observer, executor and monitor inside processSocketEvents, on the owner thread, as the real unit does.
// Records survive the unit, so a test can read them after the owner released it.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comctrl_ServerUnit.h"

namespace comctrltest {

enum class FakeOp : u32 {
    SetMode,
    Initialize,
    SetPartId,
    SetupEventMessenger,
    SetupPdbSynchronizer,
    SetupFileSynchronizer,
    SetupDirSynchronizer,
    Connect,
    Disconnect,
    Close,
    StartSync,
    StopSync,
    SendEvent,
    SendFile,
    NotifyParameterChanges,
    Count
};

// One operation the owner called, with what the unit answered.
struct FakeCall
{
    FakeOp m_op = FakeOp::Count;
    ComControl::UnitPart m_part = ComControl::UnitPart::EventMessenger;
    u32 m_index = 0;      // part index, messenger, synchroniser; Initialize: the unit id
    u32 m_value = 0;      // mode, port, database id, maximum file count; Initialize: the buffer size
    std::string m_text;   // id, name, tag, event name, file name, device address
    std::string m_detail; // event argument, directory
    i32 m_result = 0;
    u32 m_code = 0; // event code of SendEvent and of the messenger and synchroniser set-ups
};

enum class ConnectOutcome { Connected, Failed, Silent };

enum class Delivery { Connected, ConnectFailed, Disconnected, SyncStatus, Event, Progress };

// One callback the unit made, with what the owner answered.
struct FakeDelivery
{
    Delivery m_kind = Delivery::Connected;
    ComControl::UnitPart m_part = ComControl::UnitPart::EventMessenger;
    u32 m_index = 0;      // synchroniser index; Event: the event code; Progress: the step
    u32 m_status = 0;     // SyncStatus: the status
    std::string m_text;   // Event: the name; Progress: the file name
    std::string m_detail; // Event: the argument
    i32 m_result = 0;
};

class FakeServerUnit;

class FakeUnitScript : public ComControl::IServerUnitFactory
{
public:
    FakeUnitScript();
    ~FakeUnitScript() override;

    std::unique_ptr<ComControl::ServerUnit> create(VCOM::IVComWakeupFunction* wakeup) override;

    // --- Script (any thread) ---
    // create answers null from now on (or again a unit).
    void failCreate(bool fail);
    // The answer of the next connect and what the device does then (queued in order). Unscripted connects
    // answer 1 and connect.
    void scriptConnect(i32 answer, ConnectOutcome outcome);
    // What an operation answers from now on (0 by default); connect takes its answers from scriptConnect.
    void setResult(FakeOp op, i32 result);
    // On: a started synchroniser finishes (status 2 reported) and a sent file reports started and finished.
    void setAutoFinish(bool on);
    // Queues a status change of a synchroniser, reported through synchronizerStateChanged.
    void setSyncStatus(ComControl::UnitPart part, u32 index, u32 status);
    // Queues an event from the device, executed through event messenger 0 (or the unit's executor).
    void deliverEvent(u32 eventCode, const std::string& name, const std::string& argument);
    // Queues a transfer report to the monitor of file synchroniser 0.
    void deliverProgress(const std::string& fileName, u32 step, u64 doneBytes, u64 totalBytes);
    // The device closes the link: disconnected follows.
    void dropLink();
    void setCounters(u32 which, u32 initial, u32 requested);
    // Clock readings the unit reports. A completed connect sets both to now, a sent event the send time.
    void setLastReceiveTime(u32 ms);
    void setLastSendTime(u32 ms);

    // --- Records (any thread) ---
    std::vector<FakeCall> calls() const;
    std::vector<FakeCall> calls(FakeOp op) const;
    std::vector<FakeDelivery> deliveries() const;
    std::vector<FakeDelivery> deliveries(Delivery kind) const;
    // The SendEvent calls that were answered 0 (name in m_text, argument in m_detail).
    std::vector<FakeCall> sentEvents() const;
    u32 periodicCount() const;
    u32 unitsCreated() const;
    bool hasUnit() const;
    bool isConnected() const;
    // The status the unit reports for a synchroniser.
    u32 getSyncStatus(ComControl::UnitPart part, u32 index) const;
    void clearRecords();

private:
    friend class FakeServerUnit;

    struct Pending
    {
        Delivery m_kind;
        bool m_fromUnit; // dropped when the unit goes (the device's own deliveries wait for the next unit)
        ComControl::UnitPart m_part;
        u32 m_index;
        u32 m_status;
        std::string m_text;
        std::string m_detail;
        u64 m_done;
        u64 m_total;
    };

    // With m_lock held.
    void queueLocked(Pending pending);
    void recordLocked(FakeCall call);
    void dropUnitDeliveriesLocked();

    mutable std::mutex m_lock;
    VCOM::IVComWakeupFunction* m_wakeup = nullptr; // of the living unit
    bool m_unitAlive = false;
    bool m_failCreate = false;
    bool m_autoFinish = false;
    bool m_connected = false;
    std::deque<std::pair<i32, ConnectOutcome>> m_connects;
    i32 m_results[static_cast<u32>(FakeOp::Count)] = {};
    u32 m_status[ComControl::UNIT_PART_KINDS][ComControl::UnitSetup::MAX_PARTS] = {};
    u32 m_counters[2][2] = {};
    u32 m_lastReceive = 0;
    u32 m_lastSend = 0;
    std::deque<Pending> m_pending;
    std::vector<FakeCall> m_calls;
    std::vector<FakeDelivery> m_deliveries;
    u32 m_periodic = 0;
    u32 m_created = 0;
};

} // namespace comctrltest
