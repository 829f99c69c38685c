// ServerUnit: one console-protocol link to a device, with its event messengers and its PDB, MMS (file) and
// directory synchronisers, owned and driven by one thread.
//
// The owner creates a unit through an IServerUnitFactory, initialises it with its part counts and sets the
// parts up; connect then reaches the device. Socket readiness reaches the owner through the wake-up given
// to the factory; the owner answers by calling processSocketEvents on its own thread, and every callback
// (IUnitConnectObserver, IEventExecutor, IProgressMonitor) runs inside that call or inside periodicHandle.
//
// No device link exists in this build: the production unit keeps its set-up and refuses to connect.
#pragma once

#include <memory>

#include "comctrl_Interfaces.h"
#include "klib_Types.h"
#include "vcom_Socket.h"

namespace ComControl {

class FileAccessor;

constexpr u16 DEVICE_PORT = 50368;

// Queries of getDirSyncCounters.
constexpr u32 DIR_COUNTERS_PARAMETER_SET = 0;
constexpr u32 DIR_COUNTERS_SNAPSHOT = 1;

class ServerUnit
{
public:
    virtual ~ServerUnit() = default;

    virtual void setMode(u32 mode) = 0;
    // Counts of each part (at most UnitSetup::MAX_PARTS), the local address, the executor of the event
    // messengers, the observer of connection and synchroniser changes, and the link buffer size in bytes.
    // 0; COMCTRL_E_FAILED for a count above the limit, a null executor or observer or a buffer size of 0.
    // A unit may be initialised again: its set-up starts over.
    [[nodiscard]] virtual i32 initialize(u32 unitId, u32 eventMessengers, u32 pdbSynchronizers, u32 mmsSynchronizers,
                                         u32 dirSynchronizers, const VCOM::VComSocketAddress& localAddress,
                                         IEventExecutor* executor, IUnitConnectObserver* observer, u32 bufferSize) = 0;

    // Set-up. COMCTRL_E_NOT_READY for an index beyond the part's count (every index before initialize);
    // COMCTRL_E_FAILED for a null or unfit text or a null object.
    [[nodiscard]] virtual i32 setPartId(UnitPart part, u32 index, const char* id) = 0;
    [[nodiscard]] virtual i32 setupEventMessenger(u32 index, const char* name, IEventExecutor* executor,
                                                  u32 eventCode) = 0;
    [[nodiscard]] virtual i32 setupPdbSynchronizer(u32 index, const char* tag, u32 databaseId) = 0;
    // The MMS synchroniser that sends files from the accessor's folder, reporting to the monitor.
    [[nodiscard]] virtual i32 setupFileSynchronizer(u32 index, const char* name, FileAccessor* files, u32 eventCode,
                                                    IProgressMonitor* monitor) = 0;
    [[nodiscard]] virtual i32 setupDirSynchronizer(u32 index, const char* name, const char* directory, u32 maxFiles,
                                                   FileAccessor* cache, u32 eventCode, IDirSyncStrategy* strategy) = 0;

    // Link. connect: 0 when the connect is under way (connected or connectFailed follows), or a failure;
    // COMCTRL_E_NOT_READY before initialize. An owner never releases its unit from inside a callback.
    [[nodiscard]] virtual i32 connect(const VCOM::VComSocketAddress& device, u16 port) = 0;
    virtual bool isConnected() const = 0;
    // The socket work of one wake-up, on the owner thread.
    virtual i32 processSocketEvents() = 0;
    // Time-driven work; the owner calls it every intervalMs (the two further values are 0).
    virtual i32 periodicHandle(u32 intervalMs, u32 reserved0, u32 reserved1) = 0;
    // Millisecond clock readings (ossupport::getMilliseconds) of the last data received and sent.
    virtual u32 getLastReceiveTime() const = 0;
    virtual u32 getLastSendTime() const = 0;
    // Ends the link (or the connect in progress); disconnected follows.
    virtual i32 disconnect() = 0;
    // Closes at once, with no callback.
    virtual i32 close() = 0;
    virtual u32 getUnitId() const = 0;

    // Synchronisers (PDB and directory; mode: the direction). COMCTRL_E_NOT_CONNECTED without a link.
    [[nodiscard]] virtual i32 startSync(UnitPart part, u32 index, u32 mode) = 0;
    virtual i32 stopSync(UnitPart part, u32 index) = 0;
    // SYNC_STATUS_*; SYNC_STATUS_IDLE for a part that does not exist.
    virtual u32 getSyncStatus(UnitPart part, u32 index) const = 0;
    // Called on every parameter-change notification of the owner; the PDB synchronisers forward changes.
    virtual i32 notifyParameterChanges() = 0;

    // Sends an event (name, argument items) through an event messenger with the given code.
    [[nodiscard]] virtual i32 sendEvent(u32 messenger, const char* name, const char* argument, u32 eventCode) = 0;
    // Sends a file of the file synchroniser's folder; progress goes to its monitor.
    [[nodiscard]] virtual i32 sendFile(u32 synchronizer, const char* fileName, u32 mode) = 0;
    // The initial and requested counts of the directory synchronisers: DIR_COUNTERS_PARAMETER_SET or
    // DIR_COUNTERS_SNAPSHOT. COMCTRL_E_FAILED for another query or a null output.
    [[nodiscard]] virtual i32 getDirSyncCounters(u32 which, u32* initial, u32* requested) = 0;
};

class IServerUnitFactory
{
public:
    virtual ~IServerUnitFactory() = default;
    // A new unit whose socket wake-ups go to wakeup; null when it cannot be made.
    virtual std::unique_ptr<ServerUnit> create(VCOM::IVComWakeupFunction* wakeup) = 0;
};

// The factory of the production unit (process-wide).
IServerUnitFactory& getProductionUnitFactory();

// The set-up every unit keeps and checks: part counts, ids, names and event codes.
class UnitSetup
{
public:
    static constexpr u32 MAX_PARTS = 16;
    static constexpr u32 ID_SIZE = 16;   // NUL included
    static constexpr u32 NAME_SIZE = 64; // NUL included

    struct Entry
    {
        char m_id[ID_SIZE] = {};
        char m_name[NAME_SIZE] = {};
        u32 m_eventCode = 0;
        bool m_ready = false; // set up
    };

    [[nodiscard]] i32 initialize(u32 unitId, u32 eventMessengers, u32 pdbSynchronizers, u32 mmsSynchronizers,
                                 u32 dirSynchronizers, IEventExecutor* executor, IUnitConnectObserver* observer,
                                 u32 bufferSize);
    bool isInitialized() const { return m_initialized; }
    u32 getUnitId() const { return m_unitId; }
    u32 getCount(UnitPart part) const;
    IEventExecutor* getExecutor() const { return m_executor; }
    IUnitConnectObserver* getObserver() const { return m_observer; }
    // 0, or COMCTRL_E_NOT_READY for an index beyond the part's count.
    [[nodiscard]] i32 check(UnitPart part, u32 index) const;
    // 0 when the part is set up, else COMCTRL_E_NOT_READY.
    [[nodiscard]] i32 checkReady(UnitPart part, u32 index) const;
    // An id of 1..15 printable characters without blanks.
    [[nodiscard]] i32 setId(UnitPart part, u32 index, const char* id);
    // A name of 1..63 characters; marks the part set up.
    [[nodiscard]] i32 setUp(UnitPart part, u32 index, const char* name, u32 eventCode);
    // The entry of an existing part, else null.
    const Entry* getEntry(UnitPart part, u32 index) const;

private:
    bool m_initialized = false;
    u32 m_unitId = 0;
    u32 m_counts[UNIT_PART_KINDS] = {};
    IEventExecutor* m_executor = nullptr;
    IUnitConnectObserver* m_observer = nullptr;
    Entry m_entries[UNIT_PART_KINDS][MAX_PARTS];
};

} // namespace ComControl
