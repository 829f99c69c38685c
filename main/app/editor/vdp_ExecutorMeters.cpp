// The executor's meter notifications: one "meter" notify per subscribed component with every byte of its meter
// arrays, sent from the VDProtocol thread's meter timer while the editor-state class is 2.
#include <string>
#include <utility>
#include <vector>

#include "dadov_AudioComponentCollection.h"
#include "vdp_Address.h"
#include "vdp_Executor.h"
#include "vdp_MeterContainer.h"
#include "vdp_Result.h"

namespace VDevice {

namespace {

using VDProtocol::RESULT_NG;
using VDProtocol::RESULT_OK;

// Meter sets of the meter pool that the sync thread fills from the device and the editor link reads.
constexpr u32 FIRST_METER_SET = 2;
constexpr u32 SECOND_METER_SET = 3;
// The type text of an array set: the tag every set starts with.
constexpr const char* METER_SET_TYPE = "#Ar1";

// "%02X" of every byte value.
struct HexTable
{
    char m_digits[256][3];
    constexpr HexTable() : m_digits()
    {
        constexpr char hex[] = "0123456789ABCDEF";
        for (u32 i = 0; i < 256; ++i) {
            m_digits[i][0] = hex[i >> 4];
            m_digits[i][1] = hex[i & 15];
            m_digits[i][2] = '\0';
        }
    }
};
constexpr HexTable kHex;

// The bytes of every array of a meter set, copied out under the pool's lock, and where each array ends.
struct MeterSnapshot
{
    std::vector<u8> m_bytes;
    std::vector<size_t> m_ends;
};

} // namespace

i32 VDProtocolExecutor::sendMeterNotifications()
{
    if (getEditorStateClass() != STATE_CLASS_SYNCHRONIZED) {
        return RESULT_OK;
    }
    // While the editor has not read what waits in the send ring, new meter values would only take the room that
    // replies need: the pass is dropped.
    if (m_unit != nullptr &&
        VDProtocol::VDProtocolClientUnit::BUFFER_SIZE - m_unit->getQueuedBytes() < METER_KEEPS_FREE) {
        return RESULT_OK;
    }
    // A key whose component is gone fails alone: the keys after it are still sent, and the pass reports the first
    // failure. The first notify that finds no room ends the pass.
    i32 firstFailure = RESULT_OK;
    for (const std::string& key : VDMeterContainer::getInstance().getMeterKeys()) {
        const i32 result = sendMeterNotify(key, 0);
        if (result == VDProtocol::RESULT_LIMIT_OVER) {
            break;
        }
        if (VDProtocol::failed(result) && firstFailure == RESULT_OK) {
            firstFailure = result;
        }
    }
    return firstFailure;
}

i32 VDProtocolExecutor::sendMeterNotify(const std::string& meterKey, u8 secondSet)
{
    std::string databaseName;
    u32 uniqueId = 0;
    const i32 parsed = VDProtocol::parseComponentAddress(meterKey, databaseName, uniqueId);
    if (VDProtocol::failed(parsed)) {
        return parsed;
    }
    DADOV::AudioComponent* component = DADOV::AudioComponentCollection::getInstance().findComponent(uniqueId);
    if (component == nullptr) {
        return RESULT_NG;
    }
    MeterSnapshot snapshot;
    const i32 copied = component->getMeterPool().visitSet(
        secondSet != 0 ? SECOND_METER_SET : FIRST_METER_SET, [&](const PARRAY::ArrayAccessorForServer& set) -> i32 {
            const u32 count = set.getArrayCount();
            if (count == 0) {
                return RESULT_NG;
            }
            snapshot.m_ends.reserve(count);
            for (u32 index = 0; index < count; ++index) {
                void* data = nullptr;
                u32 size = 0;
                const u32 result = set.getArray(&data, &size, index);
                if ((result & 0x80000000u) != 0) {
                    return static_cast<i32>(result);
                }
                const u8* bytes = static_cast<const u8*>(data);
                snapshot.m_bytes.insert(snapshot.m_bytes.end(), bytes, bytes + size);
                snapshot.m_ends.push_back(snapshot.m_bytes.size());
            }
            return RESULT_OK;
        });
    if (VDProtocol::failed(copied)) {
        return copied;
    }

    PacketContainer notify;
    notify.m_cmdInfo = "meter";
    (void)notify.m_info.setString("prmAddr", meterKey);
    (void)notify.m_info.setString("type", METER_SET_TYPE, 4);
    notify.m_list.resize(snapshot.m_bytes.size());
    size_t entry = 0;
    size_t begin = 0;
    for (const size_t end : snapshot.m_ends) {
        for (size_t at = begin; at < end; ++at, ++entry) {
            VDProtocol::ArgumentMap& map = notify.m_list[entry];
            (void)map.setInt("index", static_cast<i32>(at - begin));
            (void)map.setString("value", kHex.m_digits[snapshot.m_bytes[at]], 2);
        }
        begin = end;
    }
    return queueNotify(std::move(notify), METER_KEEPS_FREE);
}

} // namespace VDevice
