// PyriteClientSyncThread: the thread "Sync" (stage 4, queue of 5 messages). It links the virtual device to a real
// device: it opens a console-protocol unit to the device, brings configuration, memories and directories in step
// through a fixed sequence of editor states, keeps the link alive, executes the device's events and, once
// synchronised, requests meters and writes the device's meter datagrams into the audio components' meter sets.
//
// Editor states ("EditorState", published before each state's entry action runs):
//   0 disconnected, 1 disconnect requested, 2 connecting, 3 temporary synchronisation (kind-1 databases),
//   4 temporarily synchronised (asks "DeviceControl" to prepare), 5 client type sent, 6 configuration file sent,
//   7 configuration applied, 8 memory synchronisation (kind-2 databases), 9 directory synchronisation,
//   10 synchronised (meters running).
// Each step reports to "VDProtocol" as "Re:Synchronize" {"Result", "Progress"}: Result 1 a step done, 0 the end
// (Progress 100), 2 aborted by the device, a failure code otherwise (Progress state x 16 - 64, 0 below state 4).
// A failed step sends the device "AbortSynchronize" and falls back to state 4.
//
// Everything runs on the thread's own task: socket readiness of the unit and of the meter client arrives as user
// event 16, on which both serve their sockets, so the unit's callbacks and the meter datagrams run here too;
// synchroniser changes are taken up on user event 19, a sent configuration file on user event 20. Timer 0 (50 ms,
// from the start of the client) runs the unit's periodic work, the link watch and the directory counters; timer 1
// (5000 ms, while synchronised) requests meters.
//
// Messages to other threads go through one poster (ThreadMessagePoster, which sends through sendToListener; the
// "NQSync" request through LPC::requestSyncReceive). The unit is made by the factory given to
// the constructor (the production unit has no device link yet); it is never released from inside its own callbacks.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>

#include "comctrl_FileAccessor.h"
#include "comctrl_Interfaces.h"
#include "comctrl_ServerUnit.h"
#include "kmdp_KMDPClient.h"
#include "pyrite_AppThread.h"
#include "pyrite_DirSyncStrategy.h"
#include "pyrite_MeterDatagram.h"
#include "pyrite_SyncEvents.h"

namespace PYRITE {

class PyriteClientSyncThread : public PyriteAppThread,
                               public ComControl::IUnitConnectObserver,
                               public ComControl::IEventExecutor,
                               public ComControl::IProgressMonitor,
                               public KMDP::IClientMeterDataAccessor,
                               public KMDP::IKMDPClientCallback,
                               public VCOM::IVComWakeupFunction,
                               private IMeterPoolFinder
{
public:
    static constexpr u32 QUEUE_CAPACITY = 5;

    // Editor states.
    static constexpr u32 STATE_DISCONNECTED = 0;
    static constexpr u32 STATE_DISCONNECTING = 1;
    static constexpr u32 STATE_CONNECTING = 2;
    static constexpr u32 STATE_TEMPORARY_SYNC = 3;
    static constexpr u32 STATE_TEMPORARY_SYNCED = 4;
    static constexpr u32 STATE_CLIENT_TYPE = 5;
    static constexpr u32 STATE_SEND_CONFIG = 6;
    static constexpr u32 STATE_APPLY_CONFIG = 7;
    static constexpr u32 STATE_MEMORY_SYNC = 8;
    static constexpr u32 STATE_DIRECTORY_SYNC = 9;
    static constexpr u32 STATE_SYNCHRONIZED = 10;

    // Sync directions.
    static constexpr u32 DIRECTION_NONE = 0;
    static constexpr u32 DIRECTION_CLIENT_TO_SERVER = 1; // this program to the device
    static constexpr u32 DIRECTION_SERVER_TO_CLIENT = 2;

    // User events and timers.
    static constexpr u32 EVENT_METER_WAKEUP = 18; // no action: the meter client is served on 16
    static constexpr u32 EVENT_SYNC_STATE = 19;
    static constexpr u32 EVENT_CONFIG_SENT = 20;
    static constexpr u32 TIMER_LINK = 0;
    static constexpr u32 TIMER_METER = 1;
    static constexpr u32 LINK_INTERVAL_MS = 50;
    static constexpr u32 METER_INTERVAL_MS = 5000;
    static constexpr u32 RECEIVE_TIMEOUT_MS = 10000;
    static constexpr u32 KEEP_ALIVE_MS = 1000;

    static constexpr const char* CONFIG_FILE_NAME = "CompileResult.json";
    static constexpr const char* METER_TAG = "PRCS";

    // Builds the file holders of the synchronisers from the product information's storage paths (a failure is
    // logged and leaves them absent) and the meter client on the group and port.
    explicit PyriteClientSyncThread(ComControl::IServerUnitFactory& factory = ComControl::getProductionUnitFactory(),
                                    const char* meterGroup = KMDP::DEFAULT_GROUP, u16 meterPort = KMDP::DEFAULT_PORT);
    ~PyriteClientSyncThread() override;

    PyriteClientSyncThread(const PyriteClientSyncThread&) = delete;
    PyriteClientSyncThread& operator=(const PyriteClientSyncThread&) = delete;

    u32 onTimer(u32 timerId, u32 count) override;
    // The base's operation; the thread's list of audio components may have changed.
    u32 onChangeStatus(u32 status, const TMS::FieldMap& arguments) override;
    // The base's handling, then the commands of a user message with code 0.
    u32 onReceiveMessage(const TMS::AbstractMessage& message) override;
    // The base's, then the client stops.
    u32 onFinalize() override;
    // A run mode other than 0 stops the client.
    u32 onProductStarted(u32 runMode) override;
    // "PDBState" 1 subscribes the thread to component 0 of every database.
    u32 onChangePDBState(u32 state) override;
    // Lets the unit's synchronisers forward the changed parameters to the device.
    u32 onChangePDB() override;
    // The base's operation; the thread's list of audio components may have changed.
    u32 onUpdateAudioComponents() override;
    u32 onReceiveUserEvent(u32 eventId) override;

    // ComControl::IUnitConnectObserver (called inside the unit's socket work on this thread).
    i32 connected(u32 unitId) override;
    i32 connectFailed(u32 unitId) override;
    i32 disconnected(u32 unitId) override;
    i32 synchronizerStateChanged(u32 unitId, ComControl::UnitPart part, u32 index, u32 status) override;
    // ComControl::IEventExecutor: the device's events.
    i32 execute(u32 eventCode, const char* eventName, const char* argument) override;
    // ComControl::IProgressMonitor: the transfer of the configuration file.
    i32 progress(const char* fileName, u32 step, u64 doneBytes, u64 totalBytes) override;
    // KMDP::IClientMeterDataAccessor: one meter datagram (see pyrite_MeterDatagram.h).
    i32 setMeterData(const u8* data, u32 length) override;
    // KMDP::IKMDPClientCallback
    void onClientNotice(u32 notice) override;
    // VCOM::IVComWakeupFunction: socket readiness of the unit or the meter client (any thread): user event 16.
    void wakeup(u16 wakeValue, VCOM::IVCom* socket) override;

    // Readable from any thread.
    u32 getEditorState() const { return m_editorState.load(std::memory_order_acquire); }
    u32 getDirection() const { return m_direction.load(std::memory_order_acquire); }
    const KMDP::KMDPClient& getMeterClient() const { return m_meterClient; }

private:
    // One directory synchroniser's policy and file cache.
    struct DirSyncEntry
    {
        PyriteDirSyncStrategy m_strategy;
        ComControl::FileAccessor m_cache;
    };
    struct DirSyncObjects
    {
        static constexpr u32 COUNT = 3;
        DirSyncEntry m_entries[COUNT];
        ComControl::FileInfoCache m_infoCaches[COUNT];
    };

    void createFileHolders();

    // Commands.
    void onSetNetworkInfo(const TMS::AbstractMessage& message, bool withSync);
    void onPrepared();
    void onSameConfigAnswer(const TMS::AbstractMessage& message);

    // The editor state: 0x80000000 above 10 or without a unit; the current state again does nothing.
    u32 setEditorState(u32 state);
    void enterState(u32 state);
    void finish();
    void abort();
    void clearClientType();
    void stopSynchronizers();
    // The link: the client is the unit with its timers.
    u32 startClient(const std::string& fromAddress);
    u32 connect(const std::string& toAddress);
    u32 disconnect();
    void stopClient();
    // The link is gone: meters off and cleared, state 0, zero counters published at the unit id.
    void onLinkGone(u32 unitId);

    void onSyncStateEvent();
    void onLinkTimer();
    void sendMeterRequests();
    void pollDirCounters();
    // Every kind-<kind> database's PDB synchroniser reports the status.
    bool pdbSyncAll(u32 kind, u32 status) const;
    bool pdbSyncAny(u32 kind, u32 status) const;
    bool dirSyncAll(u32 status) const;
    // Starts (mode) or stops the PDB synchronisers of the databases whose sync kind passes the test.
    u32 startPdbSyncs(u32 kind, u32 mode);
    void stopPdbSyncs(bool (*kindTest)(u32));

    // "Re:Synchronize" to "VDProtocol".
    void report(u32 result);
    void reply(const char* command, i32 result, i32 progress);
    void postSynchronize(const char* status);
    u32 post(const char* threadName, const TMS::AbstractMessage& message);

    // The meter pool of a component of the thread's list, through a map by uid that is rebuilt after the list
    // changed: the list changes only by the thread's own calls, which mark the map stale.
    DADOV::MeterPool* findMeterPool(u32 uid) override;

    ComControl::IServerUnitFactory& m_factory;
    std::unique_ptr<ComControl::ServerUnit> m_unit;
    KMDP::KMDPClient m_meterClient;
    ThreadMessagePoster m_poster;
    std::unique_ptr<ComControl::FileAccessor> m_pFileSyncObjects;
    std::unique_ptr<DirSyncObjects> m_pDirSyncObjects;

    std::atomic<u32> m_direction{DIRECTION_NONE};
    std::atomic<u32> m_editorState{STATE_DISCONNECTED};
    DirSyncCounterPoll m_counters;
    std::string m_pin; // sent with "SetClientType"; nothing sets it yet, so an editor sends an empty PIN
    KMDP::MeterAddress m_meterAddress;
    u32 m_adapterAddress = 0; // IPv4 of the adapter the client started on
    std::string m_fromAddress;
    std::string m_toAddress;
    std::unordered_map<u32, DADOV::MeterPool*> m_meterPools;
    bool m_meterPoolsStale = true;
};

} // namespace PYRITE
