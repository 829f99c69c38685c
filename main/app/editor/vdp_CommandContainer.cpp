#include "vdp_CommandContainer.h"

#include <tuple>
#include <utility>

#include "os_Clock.h"
#include "vdp_Result.h"

namespace VDProtocol {

CommandContainer::CommandContainer() : m_mutex(MUTEX_NAME) {}

u32 CommandContainer::readClock() const
{
    u32 now = 0;
    ossupport::getMilliseconds(&now);
    return now;
}

i32 CommandContainer::add(u32& id, const PacketContainer& request)
{
    TMS::TMSMutexLocker lock(&m_mutex);
    if (!lock.isLocked() || request.m_reqId.empty() || request.m_cmdInfo.empty() || m_items.size() >= MAX_ITEMS) {
        return RESULT_NG;
    }
    u32 candidate = readClock();
    // 0 marks a post that serves no request: no request has it. Wraps modulo 2^32; at most 100 ids are taken.
    while (candidate == 0 || m_items.count(candidate) != 0) {
        ++candidate;
    }
    m_items.emplace(std::piecewise_construct, std::forward_as_tuple(candidate),
                    std::forward_as_tuple(candidate, request, readClock()));
    id = candidate;
    return RESULT_OK;
}

template <typename Result, typename Use> Result CommandContainer::withItem(u32 id, Result missing, Use&& use)
{
    TMS::TMSMutexLocker lock(&m_mutex);
    if (!lock.isLocked()) {
        return missing;
    }
    const auto it = m_items.find(id);
    return it != m_items.end() ? use(it->second) : missing;
}

i32 CommandContainer::markSub(u32 id, const std::string& key)
{
    return withItem(id, RESULT_NG, [&](CommandItem& item) {
        item.m_subStates[key] = CommandItem::STATE_EXECUTING;
        return RESULT_OK;
    });
}

i32 CommandContainer::setSub(u32 id, const std::string& key, u32 state)
{
    return withItem(id, RESULT_NG, [&](CommandItem& item) {
        const auto sub = item.m_subStates.find(key);
        if (sub == item.m_subStates.end()) {
            return RESULT_NG;
        }
        sub->second = state;
        return RESULT_OK;
    });
}

bool CommandContainer::isExecuting(u32 id)
{
    return withItem(id, false, [](const CommandItem& item) {
        if (item.m_subStates.empty()) {
            return true;
        }
        for (const auto& sub : item.m_subStates) {
            if (sub.second == CommandItem::STATE_EXECUTING) {
                return true;
            }
        }
        return false;
    });
}

const PacketContainer& CommandContainer::get(u32 id)
{
    return withItem<const PacketContainer&>(
        id, m_empty, [](const CommandItem& item) -> const PacketContainer& { return item.m_packet; });
}

template <typename Match> i32 CommandContainer::findFirst(u32& id, Match&& match)
{
    TMS::TMSMutexLocker lock(&m_mutex);
    if (!lock.isLocked()) {
        return RESULT_NG;
    }
    for (const auto& [key, item] : m_items) {
        if (match(item)) {
            id = key;
            return RESULT_OK;
        }
    }
    return RESULT_NG;
}

i32 CommandContainer::findBySub(u32& id, const std::string& cmdInfo, const std::string& key)
{
    return findFirst(id, [&](const CommandItem& item) {
        if (item.m_packet.m_cmdInfo != cmdInfo) {
            return false;
        }
        const auto sub = item.m_subStates.find(key);
        return sub != item.m_subStates.end() && sub->second != CommandItem::STATE_IGNORED;
    });
}

i32 CommandContainer::findByCmdInfo(u32& id, const std::string& cmdInfo)
{
    return findFirst(id, [&](const CommandItem& item) { return item.m_packet.m_cmdInfo == cmdInfo; });
}

i32 CommandContainer::findByReqId(u32& id, std::string& cmdInfo, const std::string& reqId)
{
    std::string found;
    const i32 result = findFirst(id, [&](const CommandItem& item) {
        if (item.m_packet.m_reqId != reqId) {
            return false;
        }
        found = item.m_packet.m_cmdInfo;
        return true;
    });
    if (result == RESULT_OK) {
        cmdInfo = std::move(found);
    }
    return result;
}

i32 CommandContainer::touch(u32 id)
{
    const u32 now = readClock();
    return withItem(id, RESULT_NG, [&](CommandItem& item) {
        item.m_heardAt = now;
        return RESULT_OK;
    });
}

i32 CommandContainer::extend(u32 id, u32 timeoutMs)
{
    const u32 now = readClock();
    return withItem(id, RESULT_NG, [&](CommandItem& item) {
        item.m_heardAt = now;
        item.m_timeoutMs = timeoutMs;
        return RESULT_OK;
    });
}

std::vector<u32> CommandContainer::findStale(u32 timeoutMs)
{
    std::vector<u32> stale;
    TMS::TMSMutexLocker lock(&m_mutex);
    if (!lock.isLocked()) {
        return stale;
    }
    const u32 now = readClock();
    for (const auto& [id, item] : m_items) {
        // The clock wraps: the age is the unsigned difference.
        if (now - item.m_heardAt >= (item.m_timeoutMs != 0 ? item.m_timeoutMs : timeoutMs)) {
            stale.push_back(id);
        }
    }
    return stale;
}

i32 CommandContainer::remove(u32 id)
{
    TMS::TMSMutexLocker lock(&m_mutex);
    if (!lock.isLocked()) {
        return RESULT_NG;
    }
    m_items.erase(id);
    return RESULT_OK;
}

u32 CommandContainer::getCount()
{
    TMS::TMSMutexLocker lock(&m_mutex);
    return lock.isLocked() ? static_cast<u32>(m_items.size()) : 0;
}

} // namespace VDProtocol
