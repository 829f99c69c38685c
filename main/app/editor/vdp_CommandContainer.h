// CommandContainer: the editor requests that complete later (a component added by another thread, a compile, a
// synchronisation), kept until their reply has been sent. Items are found again by request id, by cmdinfo or by
// the key of a sub-request; each sub-request records its state: 1 while it executes, else the result code of its
// answer, and 0xFFFFFFFF to leave it out of findBySub. Each item keeps the time it was last heard of (stored or
// touched), so the executor can give up requests whose answers never come (findStale).
//
// Every operation runs under the re-entrant mutex "VDProcContainer". When that mutex could not be created the
// container does nothing: the changing operations and the finders answer 0x80000000, get gives the empty packet
// and isExecuting false.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "klib_Types.h"
#include "tms_Mutex.h"
#include "vdp_PacketContainer.h"

namespace VDProtocol {

class CommandItem
{
public:
    static constexpr u32 STATE_EXECUTING = 1;
    static constexpr u32 STATE_IGNORED = 0xFFFFFFFF;

    CommandItem(u32 id, const PacketContainer& packet, u32 heardAt) : m_packet(packet), m_id(id), m_heardAt(heardAt) {}
    virtual ~CommandItem() = default;

    PacketContainer m_packet;               // a copy of the stored request
    u32 m_id;                               // the id it is stored under
    u32 m_heardAt;                          // the clock when it was stored or last touched
    u32 m_timeoutMs = 0;                    // its own time-out (extend); 0: the one findStale is given
    std::map<std::string, u32> m_subStates; // sub-request key -> state
};

class CommandContainer
{
public:
    static constexpr u32 MAX_ITEMS = 100;
    static constexpr const char* MUTEX_NAME = "VDProcContainer";

    CommandContainer();
    virtual ~CommandContainer() = default;
    CommandContainer(const CommandContainer&) = delete;
    CommandContainer& operator=(const CommandContainer&) = delete;

    // Stores a copy of a request under a new id: the millisecond clock, stepped past 0 and ids in use. Refused for a
    // request without reqid or cmdinfo, and when 100 items are stored.
    [[nodiscard]] i32 add(u32& id, const PacketContainer& request);
    // Sets the key's state to 1 (executing), creating the key. 0x80000000 for an unknown id.
    [[nodiscard]] i32 markSub(u32 id, const std::string& key);
    // Sets the state of a marked key. 0x80000000 for an unknown id or key.
    [[nodiscard]] i32 setSub(u32 id, const std::string& key, u32 state);
    // False for an unknown id; true for an item without sub-requests or with one still executing.
    bool isExecuting(u32 id);
    // The first item in id order whose cmdinfo matches and whose key has a state other than 0xFFFFFFFF.
    [[nodiscard]] i32 findBySub(u32& id, const std::string& cmdInfo, const std::string& key);
    // The first item in id order whose cmdinfo matches.
    [[nodiscard]] i32 findByCmdInfo(u32& id, const std::string& cmdInfo);
    // The first item in id order whose reqid matches, with its cmdinfo.
    [[nodiscard]] i32 findByReqId(u32& id, std::string& cmdInfo, const std::string& reqId);
    // The stored request, valid until the item is removed; the empty packet for an unknown id.
    const PacketContainer& get(u32 id);
    // Marks the item as heard of now. 0x80000000 for an unknown id.
    [[nodiscard]] i32 touch(u32 id);
    // Marks the item as heard of now and gives it a time-out of its own. 0x80000000 for an unknown id.
    [[nodiscard]] i32 extend(u32 id, u32 timeoutMs);
    // The ids, in id order, of the items not heard of for timeoutMs (or their own time-out) or more.
    std::vector<u32> findStale(u32 timeoutMs);
    // Erases the item; an unknown id is no failure.
    i32 remove(u32 id);
    u32 getCount();

protected:
    // The millisecond clock the ids and the times heard come from.
    virtual u32 readClock() const;

private:
    // Runs use on the item of the id under the mutex; missing without mutex or item.
    template <typename Result, typename Use> Result withItem(u32 id, Result missing, Use&& use);
    template <typename Match> i32 findFirst(u32& id, Match&& match);

    TMS::TMSMutex m_mutex;
    std::map<u32, CommandItem> m_items;
    const PacketContainer m_empty;
};

} // namespace VDProtocol
