#include "vdp_MeterContainer.h"

#include "vdp_Address.h"
#include "vdp_Result.h"

namespace VDevice {

VDMeterContainer& VDMeterContainer::getInstance()
{
    static VDMeterContainer instance;
    return instance;
}

bool VDMeterContainer::addMeter(const std::string& first, const std::string& second)
{
    if (first.empty() || second.empty()) {
        return false;
    }
    const std::lock_guard<std::mutex> guard(m_lock);
    ++m_meters[first + "/" + second];
    return true;
}

bool VDMeterContainer::removeMeter(const std::string& first, const std::string& second)
{
    if (first.empty() || second.empty()) {
        return false;
    }
    const std::lock_guard<std::mutex> guard(m_lock);
    const auto it = m_meters.find(first + "/" + second);
    if (it == m_meters.end()) {
        return false;
    }
    if (--it->second == 0) {
        m_meters.erase(it);
    }
    return true;
}

bool VDMeterContainer::clear()
{
    const std::lock_guard<std::mutex> guard(m_lock);
    m_meters.clear();
    return true;
}

bool VDMeterContainer::setInterval(i32 interval)
{
    if (interval < static_cast<i32>(DEFAULT_INTERVAL)) {
        return false;
    }
    const std::lock_guard<std::mutex> guard(m_lock);
    m_interval = static_cast<u32>(interval);
    return true;
}

u32 VDMeterContainer::getInterval() const
{
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_interval;
}

std::vector<std::string> VDMeterContainer::getMeterKeys() const
{
    std::vector<std::string> keys;
    const std::lock_guard<std::mutex> guard(m_lock);
    for (const auto& entry : m_meters) {
        const size_t slash = entry.first.find('/');
        if (slash != std::string::npos) {
            keys.push_back(entry.first.substr(slash + 1));
        }
    }
    return keys;
}

std::vector<u32> VDMeterContainer::getMeterList() const
{
    std::vector<u32> ids;
    const std::lock_guard<std::mutex> guard(m_lock);
    for (const auto& entry : m_meters) {
        const size_t slash = entry.first.find('/');
        std::string name;
        u32 id = 0;
        if (slash != std::string::npos &&
            !VDProtocol::failed(VDProtocol::parseComponentAddress(entry.first.substr(slash + 1), name, id))) {
            ids.push_back(id);
        }
    }
    return ids;
}

} // namespace VDevice
