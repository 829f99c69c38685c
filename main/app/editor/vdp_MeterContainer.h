// VDMeterContainer: the process-wide record of the editor's meter subscriptions and of the meter interval.
//
// A key is a first part, "/" and a second part, the component address of the subscription ("AudioCompo/#7");
// each key counts its subscriptions. The executor and the VDProtocol thread write it and the sync thread reads
// it: every operation runs under the container's own lock, and the getters return copies.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "klib_Types.h"

namespace VDevice {

class VDMeterContainer
{
public:
    static constexpr u32 DEFAULT_INTERVAL = 60; // ms, also the smallest interval

    static VDMeterContainer& getInstance();

    VDMeterContainer() = default;
    virtual ~VDMeterContainer() = default;
    VDMeterContainer(const VDMeterContainer&) = delete;
    VDMeterContainer& operator=(const VDMeterContainer&) = delete;

    // Counts one more subscription of first + "/" + second; false (nothing counted) when a part is empty.
    bool addMeter(const std::string& first, const std::string& second);
    // Counts one subscription less and forgets the key at 0; false when a part is empty or the key is unknown.
    bool removeMeter(const std::string& first, const std::string& second);
    // Forgets every key. True.
    bool clear();
    // False (no change) below 60.
    bool setInterval(i32 interval);
    u32 getInterval() const;
    // In key order: the text after the first "/" of every key that has one.
    std::vector<std::string> getMeterKeys() const;
    // In key order: the unique id of every key whose text after the first "/" is a component address.
    std::vector<u32> getMeterList() const;

private:
    mutable std::mutex m_lock;
    std::map<std::string, u32> m_meters;
    u32 m_interval = DEFAULT_INTERVAL;
};

} // namespace VDevice
