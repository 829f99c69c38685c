// The executor's device handlers: the device information, the settings of the virtual device, the meter interval,
// the network addresses and the synchronisation with the real device.
#include <string>
#include <utility>

#include "os_Net.h"
#include "pyrite_ProductInfo.h"
#include "vdp_Executor.h"
#include "vdp_MeterContainer.h"
#include "vdp_Result.h"

namespace VDevice {

using VDProtocol::ArgumentMap;
using VDProtocol::PacketContainer;
using VDProtocol::RESULT_NG;
using VDProtocol::RESULT_OK;

namespace {

// The fixed password of a synchronisation request.
constexpr const char* SYNC_PASSWORD = "0000";

// A setting as text: a text as it is, a number in decimal, nothing as "".
std::string settingText(const KVariant& value)
{
    switch (value.getKind()) {
    case KVariant::KIND_STRING: {
        const char* text = value.getString();
        return text != nullptr ? text : "";
    }
    case KVariant::KIND_INT32:
        return std::to_string(value.getInt());
    case KVariant::KIND_UINT32:
        return std::to_string(value.getUInt());
    default:
        return "";
    }
}

// A 32-bit address setting as "%d.%d.%d.%d", most significant byte first.
std::string addressText(const KVariant& value)
{
    const u32 address = value.getUInt();
    std::string text;
    (void)ossupport::formatIPv4Address(&address, &text);
    return text;
}

bool isInteger(const KVariant& value)
{
    return value.getKind() == KVariant::KIND_INT32 || value.getKind() == KVariant::KIND_UINT32;
}

// info[key] as a non-empty text, or null.
const char* nonEmptyText(const ArgumentMap& info, const char* key)
{
    const char* text = info.getString(key);
    return text != nullptr && text[0] != '\0' ? text : nullptr;
}

} // namespace

i32 VDProtocolExecutor::getDeviceInfo(const PacketContainer& request)
{
    // A setting that cannot be read stays empty: "" as text, 0 as a number.
    const auto read = [](const char* itemKey) {
        KVariant value;
        (void)readDeviceSetting(value, findDeviceSetting(itemKey));
        return value;
    };
    PacketContainer reply(request);
    ArgumentMap& info = reply.m_info;
    info.clear();
    (void)info.setString("projectVersion", "1.00");
    (void)info.setString("deviceGUID", m_identity);
    (void)info.setString("modelName", PyriteProductInfo::getInstance().getProductName(0));
    (void)info.setString("series", "VEXA");
    (void)info.setString("category", "processor");
    (void)info.setString("localLabel", settingText(read("VirtualDeviceLabel")));
    (void)info.setInt("deviceID", read("VirtualUnitID").getInt());

    const i32 stateClass = getEditorStateClass();
    if (stateClass == STATE_CLASS_CONNECTED || stateClass == STATE_CLASS_SYNCHRONIZED) {
        (void)info.setString("label", settingText(read("RealDeviceLabel")));
        (void)info.setString("version", settingText(read("FirmwareVersion")));
        (void)info.setString("serialNo", settingText(read("SerialNo")));
        (void)info.setInt("ipMode", read("IPMode").getInt());
        static constexpr std::pair<const char*, const char*> kAddresses[] = {
            {"staticIP", "StaticIPAddress"},         {"staticNetmask", "StaticSubnetMask"},
            {"staticGateway", "StaticGateway"},      {"currentIP", "CurrentIPAddress"},
            {"currentNetmask", "CurrentSubnetMask"}, {"currentGateway", "CurrentGateway"}};
        for (const auto& [name, itemKey] : kAddresses) {
            (void)info.setString(name, addressText(read(itemKey)));
        }
        const KVariant realVersion = read("RealSyncVersion");
        const KVariant localVersion = read("VirtualSyncVersion");
        (void)info.setString("syncVersion", std::to_string(realVersion.getUInt()));
        (void)info.setString("localSyncVersion", std::to_string(localVersion.getUInt()));
        (void)info.setInt("syncStatus", compareVersions(realVersion, localVersion));
        (void)info.setInt("capacityStatus", compareVersions(read("VEXACapacity"), read("VDeviceCapacity")));
    }
    return replyWith(std::move(reply), RESULT_OK);
}

i32 VDProtocolExecutor::setDeviceSetup(const PacketContainer& request)
{
    // Every given key is applied whatever happened to the ones before it; the first failure is answered.
    const ArgumentMap& info = request.m_info;
    i32 firstFailure = RESULT_OK;
    const auto note = [&](i32 result) {
        if (VDProtocol::failed(result) && firstFailure == RESULT_OK) {
            firstFailure = result;
        }
    };
    if (const KVariant* label = info.find("localLabel")) {
        note(writeDeviceSetting(findDeviceSetting("VirtualDeviceLabel"), *label));
    }
    if (const KVariant* id = info.find("deviceID")) {
        note(isInteger(*id) ? writeDeviceSetting(findDeviceSetting("VirtualUnitID"), KVariant(id->getInt()))
                            : RESULT_NG);
    }
    if (info.contains("path")) {
        const char* path = info.getString("path");
        if (path != nullptr) {
            m_componentDefaultDirectory = path;
        } else {
            note(RESULT_NG);
        }
    }
    if (const KVariant* capacity = info.find("capacity")) {
        note(writeDeviceSetting(findDeviceSetting("VDeviceCapacity"), *capacity));
    }
    if (const KVariant* fs = info.find("fs")) {
        note(writeDeviceSetting(findDeviceSetting("FS"), *fs));
    }
    return replyWith(request, firstFailure);
}

i32 VDProtocolExecutor::writeSettingFrom(const PacketContainer& request, const char* infoKey, const char* itemKey)
{
    const KVariant* value = request.m_info.find(infoKey);
    if (value == nullptr) {
        return replyWith(request, RESULT_NG);
    }
    return replyWith(request, writeDeviceSetting(findDeviceSetting(itemKey), *value));
}

i32 VDProtocolExecutor::setDeviceLabel(const PacketContainer& request)
{
    return writeSettingFrom(request, "localLabel", "VirtualDeviceLabel");
}

i32 VDProtocolExecutor::setVirtualDeviceId(const PacketContainer& request)
{
    const KVariant* id = request.m_info.find("deviceID");
    if (id == nullptr || !isInteger(*id)) {
        return replyWith(request, RESULT_NG);
    }
    return replyWith(request, writeDeviceSetting(findDeviceSetting("VirtualUnitID"), KVariant(id->getInt())));
}

i32 VDProtocolExecutor::setDeviceCapacity(const PacketContainer& request)
{
    return writeSettingFrom(request, "capacity", "VirtualCapacity");
}

i32 VDProtocolExecutor::setDeviceFs(const PacketContainer& request)
{
    return writeSettingFrom(request, "fs", "FS");
}

i32 VDProtocolExecutor::setPeakHold(const PacketContainer& request)
{
    return writeSettingFrom(request, "on", "MeterPeakHold");
}

i32 VDProtocolExecutor::setMeterInterval(const PacketContainer& request)
{
    const KVariant* time = request.m_info.find("time");
    if (time == nullptr || !isInteger(*time)) {
        return replyWith(request, RESULT_NG);
    }
    (void)VDMeterContainer::getInstance().setInterval(time->getInt()); // below 60 the interval stays
    return replyOk(request);
}

i32 VDProtocolExecutor::setNetworkInfo(const PacketContainer& request)
{
    const char* pcAddress = nonEmptyText(request.m_info, "pcIpAddr");
    const char* deviceAddress = nonEmptyText(request.m_info, "devIpAddr");
    if (pcAddress == nullptr || deviceAddress == nullptr) {
        return replyOk(request);
    }
    OutgoingPost networkInfo;
    networkInfo.m_target = "Sync";
    networkInfo.m_message = makeCommandMessage("SetNetworkInfo");
    networkInfo.m_message.setString("FromIPAddress", pcAddress);
    networkInfo.m_message.setString("ToIPAddress", deviceAddress);
    networkInfo.m_coalesce = true;
    if (VDProtocol::failed(queuePost(std::move(networkInfo))) ||
        VDProtocol::failed(post("VDProtocol", "DetectStart"))) {
        return replyWith(request, RESULT_NG);
    }
    const char* macAddress = request.m_info.getString("devMacAddr");
    m_pcAddress = pcAddress;
    m_deviceAddress = deviceAddress;
    m_deviceMacAddress = macAddress != nullptr ? macAddress : "";
    return replyOk(request);
}

i32 VDProtocolExecutor::getSyncDevice(const PacketContainer& request)
{
    return startSynchronize(request, "ServerToClient");
}

i32 VDProtocolExecutor::setSyncDevice(const PacketContainer& request)
{
    return startSynchronize(request, "ClientToServer");
}

i32 VDProtocolExecutor::startSynchronize(const PacketContainer& request, const char* direction)
{
    // One synchronisation at a time: its answers could not tell two pending requests apart.
    u32 id = 0;
    if (getEditorStateClass() != STATE_CLASS_CONNECTED || compareSyncVersions() != RESULT_OK ||
        m_requests.findByCmdInfo(id, "sync_device") == RESULT_OK || m_syncAnswersOwed != 0 ||
        m_requests.add(id, request) != RESULT_OK) {
        return replyWith(request, RESULT_NG);
    }
    // The answers of the synchronisation ("Re:Synchronize") complete the request; a post that fails ends it.
    OutgoingPost synchronize;
    synchronize.m_target = "Sync";
    synchronize.m_message = makeCommandMessage("Synchronize");
    synchronize.m_message.setString("Direction", direction);
    synchronize.m_message.setString("Password", SYNC_PASSWORD);
    synchronize.m_requestId = id;
    m_syncAbortPosted = false;
    return queuePost(std::move(synchronize));
}

} // namespace VDevice
