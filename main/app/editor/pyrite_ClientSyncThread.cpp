#include "pyrite_ClientSyncThread.h"

#include <cstring>
#include <new>

#include "comctrl_Result.h"
#include "dadov_AudioComponentCollection.h"
#include "dbgc_Print.h"
#include "lpc_ThreadCommon.h"
#include "os_Clock.h"
#include "pdb_ParameterDBCollection.h"
#include "pyrite_MessageFields.h"
#include "pyrite_ProductInfo.h"
#include "pyrite_Result.h"
#include "vdp_MeterContainer.h"
#include "vsock_Socket.h"

namespace PYRITE {

namespace {

using ComControl::UnitPart;

constexpr const char* DEVICE_CONTROL = "DeviceControl";
constexpr const char* VDPROTOCOL = "VDProtocol";

// The unit: id, mode, part counts and link buffer size.
constexpr u32 UNIT_ID = 0;
constexpr u32 UNIT_MODE = 1;
constexpr u32 EVENT_MESSENGERS = 1;
constexpr u32 PDB_SYNCHRONIZERS = 11;
constexpr u32 MMS_SYNCHRONIZERS = 1;
constexpr u32 DIR_SYNCHRONIZERS = 3;
constexpr u32 UNIT_BUFFER_SIZE = 0x100000;
constexpr const char* EVENT_MESSENGER_ID = "EVT";
constexpr const char* EVENT_MESSENGER_NAME = "Event";

// The configuration file goes through file synchroniser 0, from the compile directory (storage path 1).
constexpr u32 CONFIG_SLOT = 0;
constexpr u32 CONFIG_SEND_MODE = 1;
constexpr const char* CONFIG_ID = "C_R";
constexpr const char* CONFIG_NAME = "Config";
constexpr int CONFIG_PATH_ROW = 1;

// The temporary synchronisation (state 3) runs the kind-1 databases in this mode; the memory synchronisation
// (state 8) runs the kind-2 ones in the sync direction.
constexpr u32 KIND_TEMPORARY = 1;
constexpr u32 KIND_MEMORY = 2;
constexpr u32 TEMPORARY_SYNC_MODE = 2;

constexpr i32 RESULT_STEP_DONE = 1;
constexpr i32 RESULT_ABORTED_BY_DEVICE = 2;
constexpr u32 RESULT_UNMATCHED_CONFIG = 0x8000000B;
constexpr u32 RESULT_CAPACITY_OVER = 0x8000000C;
constexpr i32 PROGRESS_DONE = 100;

constexpr u32 PROFILE_DATABASE_ID = 0;
constexpr u32 VDEVICE_SETUP_DATABASE_ID = 4;
constexpr const char* CAPACITY_ADDRESS = "/VEXA/Capacity";

struct DirSyncRow
{
    const char* m_tag;
    const char* m_name;
    const char* m_directory;
    const char* m_extension;
    u32 m_maxFiles;
};

constexpr DirSyncRow DIR_SYNC_TABLE[] = {
    {"P_S", "Preset/3DRev", "Preset/3DRev", "zethip", 128},
    {"S_S", "Snapshot", "Snapshot", "zethis", 2000},
    {"L_D", "VWP", "VWP", "vwpl", 50},
};
static_assert(sizeof(DIR_SYNC_TABLE) / sizeof(DIR_SYNC_TABLE[0]) == DIR_SYNCHRONIZERS);

// The thread-log line on entering each state.
constexpr const char* STATE_LINES[] = {
    nullptr,
    nullptr,
    nullptr,
    "[i] Synchronizing Temporarily\n",
    "[i] Synchronized Temporarily\n",
    "[i] Preparing to Synchronize Memories\n",
    "[i] Synchronizing Send Config file\n",
    "[i] Synchronizing Apply Config\n",
    "[i] Synchronizing Memories\n",
    "[i] Synchronizing Directory\n",
    "[i] Synchronized\n",
};
static_assert(sizeof(STATE_LINES) / sizeof(STATE_LINES[0]) == PyriteClientSyncThread::STATE_SYNCHRONIZED + 1);

// Dotted IPv4 text to the form of KMDP::MeterAddress::m_device.
bool parseIPv4(const std::string& text, u32* out)
{
    VsockAddress address{};
    if (text.empty() || vsockStringToAddress(VSOCK_FAMILY_IPV4, text.c_str(), &address) != VSOCK_OK) {
        return false;
    }
    *out = (static_cast<u32>(address.address[0]) << 24) | (static_cast<u32>(address.address[1]) << 16) |
           (static_cast<u32>(address.address[2]) << 8) | address.address[3];
    return true;
}

bool isMemoryKind(u32 kind)
{
    return kind >= 2 && kind <= 4;
}

bool isAnyKind(u32)
{
    return true;
}

PDB::IParameterDB& statusDatabase()
{
    return PDB::ParameterDBCollection::getInstance(STATUS_DATABASE_ID);
}

u32 readCapacity(const PDB::IParameterDB& database)
{
    const u32 component = database.getComponentIndex(0);
    return database.getValueUInt(component, database.getBlockIndex(0, CAPACITY_ADDRESS), 0, 0, nullptr);
}

// Milliseconds from then to now on the wrapping clock; a then a moment after now (read before it was stored)
// counts as 0, not as 49 days.
u32 elapsedSince(u32 then, u32 now)
{
    const i32 elapsed = static_cast<i32>(now - then);
    return elapsed > 0 ? static_cast<u32>(elapsed) : 0;
}

// The unit's and the meter client's interfaces answer i32 codes; this thread's codes are u32 of the same values.
i32 asResult(u32 result)
{
    return static_cast<i32>(result);
}

} // namespace

PyriteClientSyncThread::PyriteClientSyncThread(ComControl::IServerUnitFactory& factory, const char* meterGroup,
                                               u16 meterPort)
    : PyriteAppThread(QUEUE_CAPACITY), m_factory(factory), m_meterClient(meterGroup, meterPort)
{
    createFileHolders();
    (void)m_meterClient.initialize(this, this, this);
}

PyriteClientSyncThread::~PyriteClientSyncThread()
{
    release();
}

void PyriteClientSyncThread::createFileHolders()
{
    PyriteProductInfo& info = PyriteProductInfo::getInstance();
    m_pFileSyncObjects.reset(new (std::nothrow) ComControl::FileAccessor);
    if (m_pFileSyncObjects == nullptr) {
        DBGC_LOG("[E] PyriteClientSyncThread::PyriteClientSyncThread() - cannot create m_pFileSyncObjects!\n");
    } else {
        std::string configPath;
        info.getPath(configPath, CONFIG_PATH_ROW, PyriteProductInfo::COLUMN_STORAGE);
        if (m_pFileSyncObjects->initialize(configPath.c_str()) != ComControl::COMCTRL_OK) {
            DBGC_LOG("[E] PyriteClientSyncThread::PyriteClientSyncThread() - cannot initialize m_pFileSyncObjects!\n");
            m_pFileSyncObjects.reset();
        }
    }

    m_pDirSyncObjects.reset(new (std::nothrow) DirSyncObjects);
    if (m_pDirSyncObjects == nullptr) {
        DBGC_LOG("[E] PyriteClientSyncThread::PyriteClientSyncThread() - cannot create m_pDirSyncObjects!\n");
        return;
    }
    std::string root;
    info.getPath(root, 0, PyriteProductInfo::COLUMN_STORAGE);
    i32 rc = root.empty() ? ComControl::COMCTRL_E_FAILED : ComControl::COMCTRL_OK;
    for (u32 i = 0; i < DirSyncObjects::COUNT && rc == ComControl::COMCTRL_OK; ++i) {
        const DirSyncRow& row = DIR_SYNC_TABLE[i];
        rc = m_pDirSyncObjects->m_entries[i].m_cache.initialize((root + "/" + row.m_directory).c_str());
        if (rc == ComControl::COMCTRL_OK) {
            rc = m_pDirSyncObjects->m_infoCaches[i].initialize(row.m_maxFiles);
        }
    }
    if (rc != ComControl::COMCTRL_OK) {
        DBGC_LOG("[E] PyriteClientSyncThread::PyriteClientSyncThread() - cannot initialize m_pDirSyncObjects!\n");
        m_pDirSyncObjects.reset();
    }
}

// --- Thread operations ---

u32 PyriteClientSyncThread::onTimer(u32 timerId, u32)
{
    if (timerId == TIMER_LINK) {
        onLinkTimer();
    } else if (timerId == TIMER_METER && getEditorState() == STATE_SYNCHRONIZED) {
        sendMeterRequests();
    }
    return PYRITE_OK;
}

u32 PyriteClientSyncThread::onChangeStatus(u32 status, const TMS::FieldMap& arguments)
{
    const u32 result = PyriteAppThread::onChangeStatus(status, arguments);
    m_meterPoolsStale = true;
    return result;
}

u32 PyriteClientSyncThread::onReceiveMessage(const TMS::AbstractMessage& message)
{
    const u32 result = PyriteAppThread::onReceiveMessage(message);
    if (message.getKind() != TMS::MESSAGE_KIND_USER || message.getCode() != 0) {
        return result;
    }
    const std::string name = textOrEmpty(message, "CommandName");
    if (name == "SetNetworkInfo") {
        onSetNetworkInfo(message, false);
    } else if (name == "SetNetworkInfo&Sync") {
        onSetNetworkInfo(message, true);
    } else if (name == "abort") {
        abort();
    } else if (name == "Re:PrepareToSync") {
        onPrepared();
    } else if (name == "Re:isSameConfig") {
        onSameConfigAnswer(message);
    } else if (name == "Asynchronous") {
        clearClientType();
        reply("Re:Asynchronous", 0, PROGRESS_DONE);
    } else if (name == "Disconnect") {
        const u32 state = getEditorState();
        const u32 rc = state >= STATE_CLIENT_TYPE && state <= STATE_DIRECTORY_SYNC ? PYRITE_E_FAILED : disconnect();
        reply("Re:Disconnect", asResult(rc), PROGRESS_DONE);
    }
    // "Synchronize", "Connect", "Scene", "MeterList" and anything else: nothing to do.
    return result;
}

u32 PyriteClientSyncThread::onFinalize()
{
    const u32 result = PyriteAppThread::onFinalize();
    stopClient();
    m_meterClient.close();
    return result;
}

u32 PyriteClientSyncThread::onProductStarted(u32 runMode)
{
    if (runMode != 0) {
        stopClient();
    }
    return PYRITE_OK;
}

u32 PyriteClientSyncThread::onChangePDBState(u32 state)
{
    if (state == 1) {
        registerPDBCallback(0, 0);
    }
    return PYRITE_OK;
}

u32 PyriteClientSyncThread::onChangePDB()
{
    if (m_unit != nullptr) {
        m_unit->notifyParameterChanges();
    }
    return PYRITE_OK;
}

u32 PyriteClientSyncThread::onUpdateAudioComponents()
{
    const u32 result = PyriteAppThread::onUpdateAudioComponents();
    m_meterPoolsStale = true;
    return result;
}

u32 PyriteClientSyncThread::onReceiveUserEvent(u32 eventId)
{
    switch (eventId) {
    case EVENT_SOCKET:
        if (m_unit != nullptr) {
            m_unit->processSocketEvents();
        }
        m_meterClient.processSocketEvents();
        break;
    case EVENT_SYNC_STATE:
        onSyncStateEvent();
        break;
    case EVENT_CONFIG_SENT:
        if (getEditorState() == STATE_SEND_CONFIG) {
            setEditorState(STATE_APPLY_CONFIG);
        }
        break;
    default:
        break;
    }
    return PYRITE_OK;
}

// --- Commands ---

void PyriteClientSyncThread::onSetNetworkInfo(const TMS::AbstractMessage& message, bool withSync)
{
    const std::string from = textOrEmpty(message, "FromIPAddress");
    const std::string to = textOrEmpty(message, "ToIPAddress");
    if (withSync) {
        m_direction.store(isText(message, "Direction", "ClientToServer") ? DIRECTION_CLIENT_TO_SERVER
                                                                         : DIRECTION_SERVER_TO_CLIENT,
                          std::memory_order_release);
    } else if (getEditorState() != STATE_DISCONNECTED && m_unit != nullptr && from == m_fromAddress &&
               to == m_toAddress) {
        // The editor link repeats the addresses while the link is being made: a restart would never let a
        // connect or synchronisation that outlasts the repeat finish.
        return;
    }
    stopClient();
    startClient(from);
    connect(to);
}

void PyriteClientSyncThread::onPrepared()
{
    const u32 direction = getDirection();
    if (direction != DIRECTION_CLIENT_TO_SERVER && direction != DIRECTION_SERVER_TO_CLIENT) {
        return;
    }
    if (m_unit != nullptr && m_unit->isConnected()) {
        setEditorState(STATE_CLIENT_TYPE);
    } else {
        report(PYRITE_E_FAILED);
    }
}

void PyriteClientSyncThread::onSameConfigAnswer(const TMS::AbstractMessage& message)
{
    if (getEditorState() != STATE_CLIENT_TYPE) {
        return;
    }
    const bool same = isText(message, "isSameConfig", "Same");
    const u32 direction = getDirection();
    if (direction == DIRECTION_CLIENT_TO_SERVER) {
        setEditorState(same ? STATE_MEMORY_SYNC : STATE_SEND_CONFIG);
    } else if (direction == DIRECTION_SERVER_TO_CLIENT) {
        if (same) {
            setEditorState(STATE_MEMORY_SYNC);
        } else {
            abort();
            report(RESULT_UNMATCHED_CONFIG);
        }
    }
}

// --- States ---

u32 PyriteClientSyncThread::setEditorState(u32 state)
{
    if (state > STATE_SYNCHRONIZED || m_unit == nullptr) {
        return PYRITE_E_FAILED;
    }
    if (state == getEditorState()) {
        return PYRITE_OK;
    }
    setSystemInfo("EditorState", 0, KVariant(state));
    commitSystemInfo();
    m_editorState.store(state, std::memory_order_release);
    enterState(state);
    return PYRITE_OK;
}

void PyriteClientSyncThread::enterState(u32 state)
{
    if (STATE_LINES[state] != nullptr) {
        log("%s", STATE_LINES[state]);
    }
    ComControl::ServerUnit& unit = *m_unit;
    const u32 direction = getDirection();
    switch (state) {
    case STATE_TEMPORARY_SYNC:
        postSynchronize("Connected");
        (void)startPdbSyncs(KIND_TEMPORARY, TEMPORARY_SYNC_MODE);
        break;
    case STATE_TEMPORARY_SYNCED: {
        m_pin.clear();
        TMS::AbstractMessage prepare = makeCommand("PrepareToSync");
        prepare.setString("AdminPIN", m_pin.c_str());
        prepare.setString("SyncDirection", direction == DIRECTION_CLIENT_TO_SERVER   ? "ClientToServer"
                                           : direction == DIRECTION_SERVER_TO_CLIENT ? "ServerToClient"
                                                                                     : "");
        prepare.setUInt("UnitId", unit.getUnitId());
        post(DEVICE_CONTROL, prepare);
        break;
    }
    case STATE_CLIENT_TYPE:
    case STATE_SEND_CONFIG:
    case STATE_APPLY_CONFIG:
    case STATE_MEMORY_SYNC:
    case STATE_DIRECTORY_SYNC: {
        u32 rc = PYRITE_E_FAILED;
        if (state == STATE_CLIENT_TYPE) {
            rc = sendSetClientType(unit, CLIENT_TYPE_EDITOR, direction, m_pin.c_str(), m_meterClient.getPort());
        } else if (state == STATE_SEND_CONFIG) {
            rc = unit.sendFile(CONFIG_SLOT, CONFIG_FILE_NAME, CONFIG_SEND_MODE) < 0 ? PYRITE_E_FAILED : PYRITE_OK;
        } else if (state == STATE_APPLY_CONFIG) {
            rc = sendApplyConfig(unit);
        } else if (state == STATE_MEMORY_SYNC) {
            rc = startPdbSyncs(KIND_MEMORY, direction);
        } else {
            rc = PYRITE_OK;
            for (u32 i = 0; i < DIR_SYNCHRONIZERS; ++i) {
                if (unit.startSync(UnitPart::DirSynchronizer, i, direction) < 0) {
                    rc = PYRITE_E_FAILED;
                }
            }
        }
        if (pyriteFailed(rc)) {
            abort();
            report(PYRITE_E_FAILED);
        } else {
            report(RESULT_STEP_DONE);
        }
        break;
    }
    case STATE_SYNCHRONIZED:
        finish();
        break;
    default:
        break;
    }
}

void PyriteClientSyncThread::finish()
{
    PDB::IParameterDB& profile = PDB::ParameterDBCollection::getInstance(PROFILE_DATABASE_ID);
    PDB::IParameterDB& vdevice = PDB::ParameterDBCollection::getInstance(VDEVICE_SETUP_DATABASE_ID);
    if (!profile.hasOwnerThread() || !vdevice.hasOwnerThread() ||
        static_cast<i32>(readCapacity(vdevice) - readCapacity(profile)) < 0) {
        clearClientType();
        report(RESULT_CAPACITY_OVER);
        return;
    }
    if (getDirection() == DIRECTION_SERVER_TO_CLIENT) {
        LPC::requestSyncReceive();
    }
    const i32 opened = m_meterClient.open(m_adapterAddress, m_meterAddress, METER_TAG);
    if (opened != KMDP::KMDP_OK) {
        DBGC_LOG("[E] PyriteClientSyncThread::finish - cannot open the meter client (0x%08X)\n",
                 static_cast<u32>(opened));
    }
    sendMeterRequests();
    getTimers().getTimer(TIMER_METER).start();
    report(PYRITE_OK);
    postSynchronize("Synchronized");
}

void PyriteClientSyncThread::abort()
{
    const u32 state = getEditorState();
    if (state < STATE_TEMPORARY_SYNCED || state > STATE_DIRECTORY_SYNC || m_unit == nullptr) {
        return;
    }
    stopSynchronizers();
    (void)sendAbortSynchronize(*m_unit);
}

void PyriteClientSyncThread::clearClientType()
{
    if (getEditorState() != STATE_SYNCHRONIZED || m_unit == nullptr) {
        return;
    }
    stopSynchronizers();
    (void)sendClearClientType(*m_unit);
}

void PyriteClientSyncThread::stopSynchronizers()
{
    if (m_unit == nullptr || getEditorState() == STATE_DISCONNECTED) {
        return;
    }
    getTimers().getTimer(TIMER_METER).stop();
    m_meterClient.close();
    stopPdbSyncs(isMemoryKind);
    for (u32 i = 0; i < DIR_SYNCHRONIZERS; ++i) {
        m_unit->stopSync(UnitPart::DirSynchronizer, i);
    }
    setEditorState(STATE_TEMPORARY_SYNCED);
}

// --- The link ---

u32 PyriteClientSyncThread::startClient(const std::string& fromAddress)
{
    u32 adapter = 0;
    if (!parseIPv4(fromAddress, &adapter) || KMDP::findInterfaceNumber(adapter) < 0) {
        DBGC_LOG("[E] PyriteClientSyncThread::startClient - no network adapter has the address %s\n",
                 fromAddress.c_str());
        stopClient();
        return PYRITE_E_FAILED;
    }
    m_unit = m_factory.create(this);
    if (m_unit == nullptr) {
        DBGC_LOG("[E] PyriteClientSyncThread::startClient - cannot create ServerUnit!\n");
        stopClient();
        return PYRITE_E_FAILED;
    }
    m_adapterAddress = adapter;
    m_fromAddress = fromAddress;

    ComControl::ServerUnit& unit = *m_unit;
    unit.setMode(UNIT_MODE);
    const VCOM::VComSocketAddress local(VSOCK_FAMILY_IPV4, fromAddress.c_str());
    i32 rc = unit.initialize(UNIT_ID, EVENT_MESSENGERS, PDB_SYNCHRONIZERS, MMS_SYNCHRONIZERS, DIR_SYNCHRONIZERS, local,
                             this, this, UNIT_BUFFER_SIZE);
    rc |= unit.setPartId(UnitPart::EventMessenger, 0, EVENT_MESSENGER_ID);
    rc |= unit.setupEventMessenger(0, EVENT_MESSENGER_NAME, this, SYNC_EVENT_CODE);
    PyriteProductInfo& info = PyriteProductInfo::getInstance();
    for (u32 i = 0; i < info.getPdbInstanceCount(); ++i) {
        const PdbInstanceTable* row = info.getPdbInstance(i);
        rc |= unit.setupPdbSynchronizer(i, row->m_tag, row->m_id);
    }
    if (m_pFileSyncObjects != nullptr) {
        rc |= unit.setPartId(UnitPart::MmsSynchronizer, CONFIG_SLOT, CONFIG_ID);
        rc |= unit.setupFileSynchronizer(CONFIG_SLOT, CONFIG_NAME, m_pFileSyncObjects.get(), SYNC_EVENT_CODE, this);
    }
    if (m_pDirSyncObjects != nullptr) {
        for (u32 i = 0; i < DIR_SYNCHRONIZERS; ++i) {
            const DirSyncRow& row = DIR_SYNC_TABLE[i];
            DirSyncEntry& entry = m_pDirSyncObjects->m_entries[i];
            entry.m_strategy.setup(&entry.m_cache, row.m_extension);
            rc |= unit.setPartId(UnitPart::DirSynchronizer, i, row.m_tag);
            rc |= unit.setupDirSynchronizer(i, row.m_name, entry.m_cache.getDirectory().c_str(), row.m_maxFiles,
                                            &entry.m_cache, SYNC_EVENT_CODE, &entry.m_strategy);
        }
    }
    TMS::ObjectTimerList& timers = getTimers();
    rc |= asResult(timers.setTimer(TIMER_LINK, LINK_INTERVAL_MS, false, this));
    rc |= asResult(timers.getTimer(TIMER_LINK).start());
    rc |= asResult(timers.setTimer(TIMER_METER, METER_INTERVAL_MS, false, this));
    if (rc < 0) {
        DBGC_LOG("[E] PyriteClientSyncThread::startClient - cannot initialize ServerUnit!\n");
        stopClient();
        return PYRITE_E_FAILED;
    }
    return PYRITE_OK;
}

u32 PyriteClientSyncThread::connect(const std::string& toAddress)
{
    u32 device = 0;
    if (m_unit == nullptr || getEditorState() != STATE_DISCONNECTED || !parseIPv4(toAddress, &device) ||
        m_unit->connect(VCOM::VComSocketAddress(VSOCK_FAMILY_IPV4, toAddress.c_str()), ComControl::DEVICE_PORT) < 0) {
        DBGC_LOG("[E] PyriteClientSyncThread::connect - cannot connect to %s\n", toAddress.c_str());
        return PYRITE_E_FAILED;
    }
    m_toAddress = toAddress;
    setEditorState(STATE_CONNECTING);
    KMDP::clearAddress(&m_meterAddress);
    m_meterAddress.m_device = device;
    return PYRITE_OK;
}

u32 PyriteClientSyncThread::disconnect()
{
    if (getEditorState() == STATE_DISCONNECTED || m_unit == nullptr) {
        return PYRITE_OK;
    }
    setEditorState(STATE_DISCONNECTING);
    if (m_unit->isConnected()) {
        stopClient();
    } else {
        m_unit->disconnect();
    }
    return PYRITE_OK;
}

void PyriteClientSyncThread::stopClient()
{
    getTimers().getTimer(TIMER_LINK).stop();
    if (m_unit == nullptr) {
        return;
    }
    if (m_unit->isConnected()) {
        stopPdbSyncs(isAnyKind);
        for (u32 i = 0; i < DIR_SYNCHRONIZERS; ++i) {
            m_unit->stopSync(UnitPart::DirSynchronizer, i);
        }
        m_unit->close();
        // A closed unit reports nothing: the clean-up of a lost link is done here.
        onLinkGone(m_unit->getUnitId());
    }
    setEditorState(STATE_DISCONNECTED);
    m_unit.reset();
}

void PyriteClientSyncThread::onLinkGone(u32 unitId)
{
    getTimers().getTimer(TIMER_METER).stop();
    m_meterClient.close();
    for (DADOV::AudioComponent* component : DADOV::AudioComponentCollection::getInstance().getComponentList()) {
        component->getMeterPool().clearMeters();
    }
    setEditorState(STATE_DISCONNECTED);
    m_counters.reset(statusDatabase(), unitId);
}

// --- Periodic work ---

void PyriteClientSyncThread::onSyncStateEvent()
{
    if (m_unit == nullptr) {
        return;
    }
    switch (getEditorState()) {
    case STATE_TEMPORARY_SYNC:
        if (pdbSyncAll(KIND_TEMPORARY, ComControl::SYNC_STATUS_FINISHED)) {
            setEditorState(STATE_TEMPORARY_SYNCED);
        }
        break;
    case STATE_CLIENT_TYPE:
        report(RESULT_STEP_DONE);
        break;
    case STATE_MEMORY_SYNC:
        if (pdbSyncAny(KIND_MEMORY, ComControl::SYNC_STATUS_FAILED)) {
            abort();
            report(PYRITE_E_FAILED);
        } else if (pdbSyncAll(KIND_MEMORY, ComControl::SYNC_STATUS_FINISHED)) {
            setEditorState(STATE_DIRECTORY_SYNC);
        }
        break;
    case STATE_DIRECTORY_SYNC:
        if (!dirSyncAll(ComControl::SYNC_STATUS_FINISHED)) {
            for (u32 i = 0; i < DIR_SYNCHRONIZERS; ++i) {
                if (m_unit->getSyncStatus(UnitPart::DirSynchronizer, i) == ComControl::SYNC_STATUS_FAILED) {
                    abort();
                    report(PYRITE_E_FAILED);
                    break;
                }
            }
        } else {
            setEditorState(STATE_SYNCHRONIZED);
            pollDirCounters();
        }
        break;
    default:
        break;
    }
}

void PyriteClientSyncThread::onLinkTimer()
{
    if (m_unit == nullptr) {
        return;
    }
    m_unit->periodicHandle(LINK_INTERVAL_MS, 0, 0);
    if (m_unit != nullptr && m_unit->isConnected()) {
        u32 now = 0;
        ossupport::getMilliseconds(&now);
        if (elapsedSince(m_unit->getLastReceiveTime(), now) >= RECEIVE_TIMEOUT_MS) {
            disconnect();
            return;
        }
        if (elapsedSince(m_unit->getLastSendTime(), now) >= KEEP_ALIVE_MS) {
            (void)sendKeepAlive(*m_unit);
        }
    }
    pollDirCounters();
}

void PyriteClientSyncThread::sendMeterRequests()
{
    if (m_unit == nullptr) {
        return;
    }
    const VDevice::VDMeterContainer& meters = VDevice::VDMeterContainer::getInstance();
    const u32 interval = meters.getInterval();
    for (u32 uid : meters.getMeterList()) {
        (void)sendMeterRequest(*m_unit, interval, uid);
    }
}

void PyriteClientSyncThread::pollDirCounters()
{
    if (m_unit != nullptr && m_unit->isConnected()) {
        m_counters.poll(*m_unit, statusDatabase());
    }
}

bool PyriteClientSyncThread::pdbSyncAll(u32 kind, u32 status) const
{
    PyriteProductInfo& info = PyriteProductInfo::getInstance();
    for (u32 i = 0; i < info.getPdbInstanceCount(); ++i) {
        if (info.getPdbInstance(i)->m_syncKind == kind &&
            m_unit->getSyncStatus(UnitPart::PdbSynchronizer, i) != status) {
            return false;
        }
    }
    return true;
}

bool PyriteClientSyncThread::pdbSyncAny(u32 kind, u32 status) const
{
    PyriteProductInfo& info = PyriteProductInfo::getInstance();
    for (u32 i = 0; i < info.getPdbInstanceCount(); ++i) {
        if (info.getPdbInstance(i)->m_syncKind == kind &&
            m_unit->getSyncStatus(UnitPart::PdbSynchronizer, i) == status) {
            return true;
        }
    }
    return false;
}

bool PyriteClientSyncThread::dirSyncAll(u32 status) const
{
    for (u32 i = 0; i < DIR_SYNCHRONIZERS; ++i) {
        if (m_unit->getSyncStatus(UnitPart::DirSynchronizer, i) != status) {
            return false;
        }
    }
    return true;
}

u32 PyriteClientSyncThread::startPdbSyncs(u32 kind, u32 mode)
{
    u32 rc = PYRITE_OK;
    PyriteProductInfo& info = PyriteProductInfo::getInstance();
    for (u32 i = 0; i < info.getPdbInstanceCount(); ++i) {
        if (info.getPdbInstance(i)->m_syncKind == kind && m_unit->startSync(UnitPart::PdbSynchronizer, i, mode) < 0) {
            rc = PYRITE_E_FAILED;
        }
    }
    return rc;
}

void PyriteClientSyncThread::stopPdbSyncs(bool (*kindTest)(u32))
{
    PyriteProductInfo& info = PyriteProductInfo::getInstance();
    for (u32 i = 0; i < info.getPdbInstanceCount(); ++i) {
        if (kindTest(info.getPdbInstance(i)->m_syncKind)) {
            m_unit->stopSync(UnitPart::PdbSynchronizer, i);
        }
    }
}

// --- Replies and posts ---

void PyriteClientSyncThread::report(u32 result)
{
    const u32 state = getEditorState();
    u32 progress = PROGRESS_DONE;
    if (result != PYRITE_OK) {
        progress = state >= STATE_TEMPORARY_SYNCED ? state * 16 - 64 : 0;
    }
    TMS::AbstractMessage message = makeCommand("Re:Synchronize");
    message.setUInt("Result", result);
    message.setUInt("Progress", progress);
    post(VDPROTOCOL, message);
}

void PyriteClientSyncThread::reply(const char* name, i32 result, i32 progress)
{
    TMS::AbstractMessage message = makeCommand(name);
    message.setInt("Result", result);
    message.setInt("Progress", progress);
    post(VDPROTOCOL, message);
}

void PyriteClientSyncThread::postSynchronize(const char* status)
{
    TMS::AbstractMessage message = makeCommand("Synchronize");
    message.setString("Status", status);
    message.setString("Type", "Client");
    post(DEVICE_CONTROL, message);
}

u32 PyriteClientSyncThread::post(const char* threadName, const TMS::AbstractMessage& message)
{
    return m_poster.postWithWaiting(threadName, message);
}

// --- Unit callbacks ---

i32 PyriteClientSyncThread::connected(u32)
{
    return asResult(setEditorState(STATE_TEMPORARY_SYNC));
}

i32 PyriteClientSyncThread::connectFailed(u32 unitId)
{
    log("[i] connectFailed - UnitId = %d\n", static_cast<int>(unitId));
    onLinkGone(unitId);
    return 0;
}

i32 PyriteClientSyncThread::disconnected(u32 unitId)
{
    log("[i] disconnected - UnitId = %d\n", static_cast<int>(unitId));
    onLinkGone(unitId);
    return 0;
}

i32 PyriteClientSyncThread::synchronizerStateChanged(u32, UnitPart, u32, u32)
{
    setUserEvent(EVENT_SYNC_STATE);
    return 0;
}

i32 PyriteClientSyncThread::execute(u32 eventCode, const char* eventName, const char* argument)
{
    const std::string name = eventName != nullptr ? eventName : "";
    if (name == "KeepAlive") {
        return 0;
    }
    if (name == "onSetClientType") {
        if (getEditorState() != STATE_CLIENT_TYPE) {
            return 0;
        }
        const u32 rc = onSetClientType(argument, m_poster);
        if (pyriteFailed(rc)) {
            abort();
            report(rc);
        }
        return asResult(rc);
    }
    if (name == "onSyncAborted") {
        report(RESULT_ABORTED_BY_DEVICE);
        return 0;
    }
    if (name == "onApplyConfig") {
        if (getEditorState() == STATE_APPLY_CONFIG) {
            setEditorState(STATE_MEMORY_SYNC);
        }
        return 0;
    }
    if (name == EVENT_NOTIFY_DIR_SYNC_STATUS) {
        return asResult(onNotifyDirSyncStatus(statusDatabase(), eventCode, argument));
    }
    if (name == "onSetWarningMessage") {
        SyncWarningMessage warning;
        return asResult(onSetWarningMessage(argument, &warning));
    }
    return asResult(PYRITE_E_FAILED);
}

i32 PyriteClientSyncThread::progress(const char* fileName, u32 step, u64, u64)
{
    if (fileName == nullptr || std::strcmp(fileName, CONFIG_FILE_NAME) != 0 || getEditorState() != STATE_SEND_CONFIG) {
        return asResult(PYRITE_E_FAILED);
    }
    if (step == ComControl::PROGRESS_FINISHED) {
        setUserEvent(EVENT_CONFIG_SENT);
    } else if (step == ComControl::PROGRESS_FAILED) {
        abort();
        report(PYRITE_E_FAILED);
    }
    return 0;
}

// --- Meters and sockets ---

i32 PyriteClientSyncThread::setMeterData(const u8* data, u32 length)
{
    return asResult(writeMeterDatagram(*this, data, length));
}

DADOV::MeterPool* PyriteClientSyncThread::findMeterPool(u32 uid)
{
    if (m_meterPoolsStale) {
        m_meterPools.clear();
        for (DADOV::AudioComponent* component : DADOV::AudioComponentCollection::getInstance().getComponentList()) {
            m_meterPools[component->getUniqID()] = &component->getMeterPool();
        }
        m_meterPoolsStale = false;
    }
    const auto found = m_meterPools.find(uid);
    return found != m_meterPools.end() ? found->second : nullptr;
}

void PyriteClientSyncThread::onClientNotice(u32 notice)
{
    if (notice == KMDP::NOTICE_SOCKET_FAILED) {
        log("[E] PyriteClientSyncThread::onClientNotice - the meter socket failed\n");
    }
}

void PyriteClientSyncThread::wakeup(u16, VCOM::IVCom*)
{
    setUserEvent(EVENT_SOCKET);
}

} // namespace PYRITE
