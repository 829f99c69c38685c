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
    while (m_items.count(candidate) != 0) {
        ++candidate; // wraps modulo 2^32; at most 100 ids are taken
    }
    m_items.emplace(std::piecewise_construct, std::forward_as_tuple(candidate),
                    std::forward_as_tuple(candidate, request));
    id = candidate;
    return RESULT_OK;
}

i32 CommandContainer::markSub(u32 id, const std::string& key)
{
    TMS::TMSMutexLocker lock(&m_mutex);
    if (!lock.isLocked()) {
        return RESULT_NG;
    }
    const auto it = m_items.find(id);
    if (it == m_items.end()) {
        return RESULT_NG;
    }
    it->second.m_subStates[key] = CommandItem::STATE_EXECUTING;
    return RESULT_OK;
}

i32 CommandContainer::setSub(u32 id, const std::string& key, u32 state)
{
    TMS::TMSMutexLocker lock(&m_mutex);
    if (!lock.isLocked()) {
        return RESULT_NG;
    }
    const auto it = m_items.find(id);
    if (it == m_items.end()) {
        return RESULT_NG;
    }
    const auto sub = it->second.m_subStates.find(key);
    if (sub == it->second.m_subStates.end()) {
        return RESULT_NG;
    }
    sub->second = state;
    return RESULT_OK;
}

bool CommandContainer::isExecuting(u32 id)
{
    TMS::TMSMutexLocker lock(&m_mutex);
    if (!lock.isLocked()) {
        return false;
    }
    const auto it = m_items.find(id);
    if (it == m_items.end()) {
        return false;
    }
    const auto& states = it->second.m_subStates;
    if (states.empty()) {
        return true;
    }
    for (const auto& sub : states) {
        if (sub.second == CommandItem::STATE_EXECUTING) {
            return true;
        }
    }
    return false;
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

const PacketContainer& CommandContainer::get(u32 id)
{
    TMS::TMSMutexLocker lock(&m_mutex);
    if (!lock.isLocked()) {
        return m_empty;
    }
    const auto it = m_items.find(id);
    return it != m_items.end() ? it->second.m_packet : m_empty;
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
