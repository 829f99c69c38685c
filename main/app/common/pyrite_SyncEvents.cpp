#include "pyrite_SyncEvents.h"

#include <cstring>

#include "comctrl_ServerUnit.h"
#include "klib_Print.h"
#include "klib_Variant.h"
#include "pdb_IParameterDB.h"
#include "pyrite_MessageFields.h"
#include "pyrite_Result.h"
#include "tms_Message.h"

namespace PYRITE {

namespace {

u32 send(ComControl::ServerUnit& unit, const char* name, const char* argument, u32 code)
{
    return unit.sendEvent(SYNC_EVENT_MESSENGER, name, argument, code) == 0 ? PYRITE_OK : PYRITE_E_FAILED;
}

// Calls visit for each item of argument until its end or a malformed item. False when not even the first item
// can be read.
template <typename Visit> bool forEachItem(const char* argument, Visit&& visit)
{
    if (argument == nullptr) {
        return false;
    }
    const size_t total = std::strlen(argument);
    const u32 length = total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<u32>(total);
    u32 at = 0;
    bool first = true;
    for (;;) {
        ComControl::EventItem item;
        u32 consumed = 0;
        if (ComControl::parseEventMessage(argument + at, length - at, &item, &consumed) != 0) {
            return !first;
        }
        first = false;
        visit(item);
        at += consumed;
    }
}

bool isNamed(const ComControl::EventItem& item, const char* name)
{
    const size_t length = std::strlen(name);
    return item.m_nameLength == length && std::memcmp(item.m_name, name, length) == 0;
}

// A plain unsigned decimal value (digits only, no overflow).
bool readDecimal(const ComControl::EventItem& item, u32* value)
{
    if (item.m_valueLength == 0 || item.m_value[0] < '0' || item.m_value[0] > '9') {
        return false;
    }
    char* end = nullptr;
    return klib_strtoul(value, item.m_value, &end, 10, item.m_valueLength) == 0 &&
           end == item.m_value + item.m_valueLength;
}

// The four counter parameters of each direction, in the order of DirSyncCounters.
constexpr const char* COUNTER_ADDRESSES[2][4] = {
    {"/DirSyncTo/Snapshot/InitSyncNum", "/DirSyncTo/Snapshot/RequestedNum", "/DirSyncTo/ParameterSet/InitSyncNum",
     "/DirSyncTo/ParameterSet/RequestedNum"},
    {"/DirSyncFrom/Snapshot/InitSyncNum", "/DirSyncFrom/Snapshot/RequestedNum", "/DirSyncFrom/ParameterSet/InitSyncNum",
     "/DirSyncFrom/ParameterSet/RequestedNum"},
};

constexpr PDB::ComponentUID STATUS_COMPONENT = 0;
constexpr u8 WRITE_FLAG = 255;

} // namespace

// --- SyncEventArgument ---

void SyncEventArgument::clear()
{
    m_text[0] = '\0';
    m_length = 0;
}

u32 SyncEventArgument::add(const char* name, const char* value)
{
    return ComControl::makeEventMessage(m_text, sizeof m_text, &m_length, name, value) == 0 ? PYRITE_OK
                                                                                            : PYRITE_E_FAILED;
}

u32 SyncEventArgument::add(const char* name, u32 value)
{
    return ComControl::makeEventMessage(m_text, sizeof m_text, &m_length, name, value) == 0 ? PYRITE_OK
                                                                                            : PYRITE_E_FAILED;
}

// --- Sending ---

u32 sendKeepAlive(ComControl::ServerUnit& unit)
{
    return send(unit, EVENT_KEEP_ALIVE, "", SYNC_EVENT_CODE_PLAIN);
}

u32 sendAbortSynchronize(ComControl::ServerUnit& unit)
{
    return send(unit, EVENT_ABORT_SYNCHRONIZE, "", SYNC_EVENT_CODE);
}

u32 sendApplyConfig(ComControl::ServerUnit& unit)
{
    return send(unit, EVENT_APPLY_CONFIG, "", SYNC_EVENT_CODE);
}

u32 sendClearClientType(ComControl::ServerUnit& unit)
{
    return send(unit, EVENT_CLEAR_CLIENT_TYPE, "", SYNC_EVENT_CODE);
}

u32 sendSetClientType(ComControl::ServerUnit& unit, u32 clientType, u32 direction, const char* pin, u32 udpPort)
{
    const char* type = nullptr;
    if (clientType == CLIENT_TYPE_EDITOR) {
        type = "Editor";
    } else if (clientType == CLIENT_TYPE_EXPLORER) {
        type = "Explorer";
    } else {
        return PYRITE_E_FAILED;
    }
    SyncEventArgument argument;
    if (argument.add("TYPE", type) != PYRITE_OK || argument.add("SYNCDIR", direction) != PYRITE_OK ||
        argument.add("PIN", pin != nullptr ? pin : "") != PYRITE_OK || argument.add("UDPPORT", udpPort) != PYRITE_OK) {
        return PYRITE_E_FAILED;
    }
    return send(unit, EVENT_SET_CLIENT_TYPE, argument.getText(), SYNC_EVENT_CODE);
}

u32 sendMeterRequest(ComControl::ServerUnit& unit, u32 cycle, u32 componentUid)
{
    SyncEventArgument argument;
    if (argument.add("CYCLE", cycle) != PYRITE_OK || argument.add("COMPONENT", componentUid) != PYRITE_OK) {
        return PYRITE_E_FAILED;
    }
    return send(unit, EVENT_METER_REQUEST, argument.getText(), SYNC_EVENT_CODE);
}

u32 sendNotifyDirSyncStatus(ComControl::ServerUnit& unit, const DirSyncCounters& counters)
{
    SyncEventArgument argument;
    if (argument.add("SCN0INI", counters.m_snapshotInitial) != PYRITE_OK ||
        argument.add("SCN0REQ", counters.m_snapshotRequested) != PYRITE_OK ||
        argument.add("PRS0INI", counters.m_parameterSetInitial) != PYRITE_OK ||
        argument.add("PRS0REQ", counters.m_parameterSetRequested) != PYRITE_OK) {
        return PYRITE_E_FAILED;
    }
    return send(unit, EVENT_NOTIFY_DIR_SYNC_STATUS, argument.getText(), SYNC_EVENT_CODE_PLAIN);
}

// --- Directory-sync counters ---

u32 publishDirSyncCounters(PDB::IParameterDB& status, const DirSyncCounters& counters, u32 x, u32 direction)
{
    if (direction != DIR_SYNC_SENT && direction != DIR_SYNC_RECEIVED) {
        return PYRITE_E_FAILED;
    }
    if (!status.hasOwnerThread()) {
        return PYRITE_OK;
    }
    const u32 values[4] = {counters.m_snapshotInitial, counters.m_snapshotRequested, counters.m_parameterSetInitial,
                           counters.m_parameterSetRequested};
    const u32 component = status.getComponentIndex(STATUS_COMPONENT);
    u32 result = PYRITE_OK;
    for (u32 i = 0; i < 4; ++i) {
        const u32 block = status.getBlockIndex(STATUS_COMPONENT, COUNTER_ADDRESSES[direction][i]);
        if (status.setValueUInt(component, block, x, 0, values[i], WRITE_FLAG) < 0) {
            result = PYRITE_E_FAILED;
        }
    }
    return result;
}

u32 parseDirSyncStatus(u32 eventCode, const char* argument, DirSyncCounters* counters, u32* x)
{
    if (eventCode < DIR_SYNC_STATUS_CODE_FIRST || eventCode > DIR_SYNC_STATUS_CODE_LAST || counters == nullptr ||
        x == nullptr) {
        return PYRITE_E_FAILED;
    }
    *counters = DirSyncCounters{};
    *x = eventCode - DIR_SYNC_STATUS_CODE_FIRST;
    // The fourth character (the directory's number) is not looked at.
    forEachItem(argument, [&](const ComControl::EventItem& item) {
        if (item.m_nameLength < 7) {
            return;
        }
        const bool snapshot = std::memcmp(item.m_name, "SCN", 3) == 0;
        const bool parameterSet = std::memcmp(item.m_name, "PRS", 3) == 0;
        const bool initial = std::memcmp(item.m_name + 4, "INI", 3) == 0;
        const bool requested = std::memcmp(item.m_name + 4, "REQ", 3) == 0;
        u32 value = 0;
        if (!(snapshot || parameterSet) || !(initial || requested) || !readDecimal(item, &value)) {
            return;
        }
        if (snapshot) {
            (initial ? counters->m_snapshotInitial : counters->m_snapshotRequested) = value;
        } else {
            (initial ? counters->m_parameterSetInitial : counters->m_parameterSetRequested) = value;
        }
    });
    return PYRITE_OK;
}

u32 onNotifyDirSyncStatus(PDB::IParameterDB& status, u32 eventCode, const char* argument)
{
    DirSyncCounters counters;
    u32 x = 0;
    if (parseDirSyncStatus(eventCode, argument, &counters, &x) != PYRITE_OK) {
        return PYRITE_E_FAILED;
    }
    return publishDirSyncCounters(status, counters, x, DIR_SYNC_RECEIVED);
}

u32 DirSyncCounterPoll::poll(ComControl::ServerUnit& unit, PDB::IParameterDB& status)
{
    DirSyncCounters counters;
    if (unit.getDirSyncCounters(ComControl::DIR_COUNTERS_PARAMETER_SET, &counters.m_parameterSetInitial,
                                &counters.m_parameterSetRequested) != 0 ||
        unit.getDirSyncCounters(ComControl::DIR_COUNTERS_SNAPSHOT, &counters.m_snapshotInitial,
                                &counters.m_snapshotRequested) != 0) {
        return PYRITE_E_FAILED;
    }
    if (counters == m_last) {
        return PYRITE_OK;
    }
    publishDirSyncCounters(status, counters, 0, DIR_SYNC_SENT);
    if (sendNotifyDirSyncStatus(unit, counters) != PYRITE_OK) {
        return PYRITE_E_FAILED;
    }
    m_last = counters;
    return PYRITE_OK;
}

u32 DirSyncCounterPoll::reset(PDB::IParameterDB& status, u32 unitId)
{
    m_last = DirSyncCounters{};
    return publishDirSyncCounters(status, m_last, unitId, DIR_SYNC_SENT) |
           publishDirSyncCounters(status, m_last, unitId, DIR_SYNC_RECEIVED);
}

// --- Other received events ---

u32 ThreadMessagePoster::postWithWaiting(const char* threadName, const TMS::AbstractMessage& message)
{
    return sendToListener(threadName, message);
}

u32 onSetClientType(const char* argument, ISyncMessagePoster& poster)
{
    char hash[KVariant::MAX_STRING_LENGTH + 1] = {};
    const bool readable = forEachItem(argument, [&](const ComControl::EventItem& item) {
        if (isNamed(item, "HASH")) {
            u32 written = 0;
            // A value longer than a text value holds is kept cut.
            (void)ComControl::unescapeEventArgument(hash, sizeof hash, &written, item.m_value, item.m_valueLength);
        }
    });
    if (!readable) {
        return PYRITE_E_FAILED;
    }
    TMS::AbstractMessage message;
    message.initialize(TMS::MESSAGE_KIND_USER, 0);
    message.setString("CommandName", "isSameConfig");
    message.setString("ConfigHash", hash);
    poster.postWithWaiting("DeviceControl", message);
    return PYRITE_OK;
}

u32 onSetWarningMessage(const char* argument, SyncWarningMessage* warning)
{
    if (warning == nullptr) {
        return PYRITE_E_FAILED;
    }
    *warning = SyncWarningMessage{};
    const bool readable = forEachItem(argument, [&](const ComControl::EventItem& item) {
        u32 written = 0;
        if (isNamed(item, "ID")) {
            (void)ComControl::unescapeEventArgument(warning->m_id, sizeof warning->m_id, &written, item.m_value,
                                                    item.m_valueLength);
            warning->m_hasId = true;
        } else if (isNamed(item, "MESSAGE")) {
            (void)ComControl::unescapeEventArgument(warning->m_message, sizeof warning->m_message, &written,
                                                    item.m_value, item.m_valueLength);
            warning->m_hasMessage = true;
        }
    });
    return readable ? PYRITE_OK : PYRITE_E_FAILED;
}

} // namespace PYRITE
