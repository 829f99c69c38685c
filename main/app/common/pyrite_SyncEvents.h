// The events a sync thread exchanges with a device through event messenger 0 of its unit, and the directory-sync
// counters it publishes into the "Status" database.
//
// An event argument is a list of "name:value" items (ComControl's item syntax, values escaped) and stays shorter
// than ComControl::EVENT_ARGUMENT_SIZE characters: an event whose argument would not fit, or whose items cannot be
// formed, is refused with PYRITE_E_FAILED and nothing is sent.
//
// Everything here runs on the sync thread; the unit, the poster and the databases are the caller's.
#pragma once

#include "comctrl_EventMessage.h"
#include "klib_Types.h"

namespace ComControl {
class ServerUnit;
}
namespace PDB {
class IParameterDB;
}
namespace TMS {
class AbstractMessage;
}

namespace PYRITE {

// Events sent.
constexpr const char* EVENT_KEEP_ALIVE = "KeepAlive";
constexpr const char* EVENT_ABORT_SYNCHRONIZE = "AbortSynchronize";
constexpr const char* EVENT_APPLY_CONFIG = "ApplyConfig";
constexpr const char* EVENT_CLEAR_CLIENT_TYPE = "ClearClientType";
constexpr const char* EVENT_NOTIFY_DIR_SYNC_STATUS = "NotifyDirSyncStatus";
constexpr const char* EVENT_SET_CLIENT_TYPE = "SetClientType";
constexpr const char* EVENT_METER_REQUEST = "MeterRequest";

// The messenger every event goes through, and the event codes: the sequence events (SetClientType, ApplyConfig,
// AbortSynchronize, ClearClientType, MeterRequest) go with SYNC_EVENT_CODE, KeepAlive and NotifyDirSyncStatus
// with SYNC_EVENT_CODE_PLAIN.
constexpr u32 SYNC_EVENT_MESSENGER = 0;
constexpr u32 SYNC_EVENT_CODE = 240;
constexpr u32 SYNC_EVENT_CODE_PLAIN = 0;

// Client types of "SetClientType".
constexpr u32 CLIENT_TYPE_EDITOR = 0;
constexpr u32 CLIENT_TYPE_EXPLORER = 1;

// The text of one event argument.
class SyncEventArgument
{
public:
    const char* getText() const { return m_text; }
    u32 getLength() const { return m_length; }
    void clear();
    // Appends an item ("name:" and the escaped value, or the value in decimal). 0; PYRITE_E_FAILED, the text
    // unchanged, when the item cannot be formed or does not fit.
    [[nodiscard]] u32 add(const char* name, const char* value);
    [[nodiscard]] u32 add(const char* name, u32 value);

private:
    char m_text[ComControl::EVENT_ARGUMENT_SIZE] = {};
    u32 m_length = 0;
};

// --- Sending: 0, or PYRITE_E_FAILED when the argument cannot be built (nothing is sent) or the unit refuses ---

[[nodiscard]] u32 sendKeepAlive(ComControl::ServerUnit& unit);
[[nodiscard]] u32 sendAbortSynchronize(ComControl::ServerUnit& unit);
[[nodiscard]] u32 sendApplyConfig(ComControl::ServerUnit& unit);
[[nodiscard]] u32 sendClearClientType(ComControl::ServerUnit& unit);
// "TYPE" ("Editor" or "Explorer"; another type is refused), "SYNCDIR", "PIN" (null counts as empty), "UDPPORT".
[[nodiscard]] u32 sendSetClientType(ComControl::ServerUnit& unit, u32 clientType, u32 direction, const char* pin,
                                    u32 udpPort);
// "CYCLE" (the meter update interval), "COMPONENT" (the component uid).
[[nodiscard]] u32 sendMeterRequest(ComControl::ServerUnit& unit, u32 cycle, u32 componentUid);

// --- Directory-sync counters ---

struct DirSyncCounters
{
    u32 m_snapshotInitial = 0;
    u32 m_snapshotRequested = 0;
    u32 m_parameterSetInitial = 0;
    u32 m_parameterSetRequested = 0;

    bool operator==(const DirSyncCounters&) const = default;
};

// "SCN0INI", "SCN0REQ", "PRS0INI", "PRS0REQ" with the four counters, in that order.
[[nodiscard]] u32 sendNotifyDirSyncStatus(ComControl::ServerUnit& unit, const DirSyncCounters& counters);

// The "Status" database and its directions of publication.
constexpr u32 STATUS_DATABASE_ID = 6;
constexpr u32 DIR_SYNC_SENT = 0;     // "/DirSyncTo/..."
constexpr u32 DIR_SYNC_RECEIVED = 1; // "/DirSyncFrom/..."

// Writes the counters at element (x, 0) of the four parameters of the direction in component 0 of status (write
// flag 255), only when status has an owner thread. 0 (also without an owner); PYRITE_E_FAILED when a write
// failed (the others are still made) or for another direction.
u32 publishDirSyncCounters(PDB::IParameterDB& status, const DirSyncCounters& counters, u32 x, u32 direction);

// The event codes of "NotifyDirSyncStatus" from a device; x = code - first.
constexpr u32 DIR_SYNC_STATUS_CODE_FIRST = 240;
constexpr u32 DIR_SYNC_STATUS_CODE_LAST = 254;

// Reads the counters of a received "NotifyDirSyncStatus": items whose names have 7 or more characters, "SCN" or
// "PRS" then any character then "INI" or "REQ", with an unsigned decimal value; other items are passed over and
// reading stops at the first malformed one. Counters start at zero. 0 with *x = eventCode - 240;
// PYRITE_E_FAILED, nothing read, for a code outside 240..254 or null outputs.
[[nodiscard]] u32 parseDirSyncStatus(u32 eventCode, const char* argument, DirSyncCounters* counters, u32* x);

// A received "NotifyDirSyncStatus": parses it and publishes the counters as received at x. 0; PYRITE_E_FAILED
// for a code outside 240..254 (nothing published) or a failed publication.
u32 onNotifyDirSyncStatus(PDB::IParameterDB& status, u32 eventCode, const char* argument);

// The counters of the unit's directory synchronisers, sent to the device when they change.
class DirSyncCounterPoll
{
public:
    // Reads the unit's counters; when they differ from the last ones sent, publishes them as sent (x 0) and
    // sends "NotifyDirSyncStatus". They count as the last ones only once sent, so a failed send is tried again
    // at the next poll. 0 (also when nothing changed); PYRITE_E_FAILED when the unit's counters cannot be read
    // or the event cannot be sent.
    u32 poll(ComControl::ServerUnit& unit, PDB::IParameterDB& status);
    // The link is gone: forgets the last counters and publishes zero counters in both directions at x = unitId.
    u32 reset(PDB::IParameterDB& status, u32 unitId);
    const DirSyncCounters& getLast() const { return m_last; }

private:
    DirSyncCounters m_last;
};

// --- Other received events ---

// Where a received event's request goes: posts the message with waiting to the thread of that name and returns
// the post's result. The sync thread's poster is ThreadMessagePoster, which sends only to a thread that is there
// (sendToListener).
class ISyncMessagePoster
{
public:
    virtual ~ISyncMessagePoster() = default;
    virtual u32 postWithWaiting(const char* threadName, const TMS::AbstractMessage& message) = 0;
};

class ThreadMessagePoster : public ISyncMessagePoster
{
public:
    u32 postWithWaiting(const char* threadName, const TMS::AbstractMessage& message) override;
};

// "onSetClientType": posts {"CommandName" "isSameConfig", "ConfigHash" <the unescaped "HASH" value, "" when
// absent>} to "DeviceControl". 0 (whatever the post gives); PYRITE_E_FAILED, nothing posted, when the first item
// cannot be read.
u32 onSetClientType(const char* argument, ISyncMessagePoster& poster);

// "onSetWarningMessage": the unescaped "ID" and "MESSAGE" values, each cut to 255 bytes.
struct SyncWarningMessage
{
    static constexpr u32 TEXT_SIZE = 256; // NUL included

    char m_id[TEXT_SIZE] = {};
    char m_message[TEXT_SIZE] = {};
    bool m_hasId = false;
    bool m_hasMessage = false;
};
// 0; PYRITE_E_FAILED when the first item cannot be read or for a null output.
[[nodiscard]] u32 onSetWarningMessage(const char* argument, SyncWarningMessage* warning);

} // namespace PYRITE
