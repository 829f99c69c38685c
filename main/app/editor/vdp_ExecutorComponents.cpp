// The executor's component, connection, meter and link-state handlers. Components and connections are built by
// "DeviceControl": a handler posts one command per list entry through the post window and keeps the request until
// the last answer (completeSubRequest).
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "os_Text.h"
#include "vdp_Address.h"
#include "vdp_Executor.h"
#include "vdp_MeterContainer.h"
#include "vdp_Result.h"

namespace VDevice {

using VDProtocol::ArgumentMap;
using VDProtocol::PacketContainer;
using VDProtocol::RESULT_DUPLICATE;
using VDProtocol::RESULT_NG;
using VDProtocol::RESULT_OK;

namespace {

constexpr const char* DEVICE_CONTROL = "DeviceControl";
constexpr const char* ALL_METERS = "_ALL_";

// An argument as text: a text as it is, an integer in decimal. False when it is missing or of another kind.
bool readText(const ArgumentMap& arguments, const char* name, std::string& out)
{
    const KVariant* value = arguments.find(name);
    if (value == nullptr) {
        return false;
    }
    switch (value->getKind()) {
    case KVariant::KIND_STRING:
        out = value->getString() != nullptr ? value->getString() : "";
        return true;
    case KVariant::KIND_INT32:
        out = std::to_string(value->getInt());
        return true;
    case KVariant::KIND_UINT32:
        out = std::to_string(value->getUInt());
        return true;
    default:
        return false;
    }
}

// A port text: the number after its first ":", or the whole text without one.
i32 readPort(const std::string& text, u32& port)
{
    const size_t colon = text.find(':');
    return VDProtocol::readAddressNumber(colon == std::string::npos ? text : text.substr(colon + 1), port);
}

// One side of a connection: the unique id of its component address and its port number.
i32 readConnectionSide(const std::string& address, const std::string& portText, u32& uniqueId, u32& port)
{
    std::string database;
    const i32 read = VDProtocol::parseComponentAddress(address, database, uniqueId);
    return VDProtocol::failed(read) ? read : readPort(portText, port);
}

// The unique id of the component address in "prmAddr": 0, 0x80000000 without the text, or the reader's code.
i32 readComponentId(const ArgumentMap& arguments, u32& uniqueId)
{
    std::string address;
    if (!readText(arguments, "prmAddr", address)) {
        return RESULT_NG;
    }
    std::string database;
    return VDProtocol::parseComponentAddress(address, database, uniqueId);
}

// A component type as "cptName" gives it.
struct ComponentType
{
    std::string m_name;
    u32 m_major = 0;
    u32 m_numX = 0;
    u32 m_numY = 0;
};

// "cptName": 0, or 0x80000000 when it is missing or does not read.
i32 readComponentType(const ArgumentMap& arguments, ComponentType& type)
{
    std::string text;
    if (!readText(arguments, "cptName", text)) {
        return RESULT_NG;
    }
    return VDProtocolExecutor::parseComponentName(text, type.m_name, type.m_major, type.m_numX, type.m_numY);
}

// "prmAddr" and "cptName" of one component: 0; 0x80000000 when either is missing or the type does not read; the
// address reader's code.
i32 readComponent(const ArgumentMap& arguments, u32& uniqueId, ComponentType& type)
{
    if (!arguments.contains("prmAddr") || !arguments.contains("cptName")) {
        return RESULT_NG;
    }
    const i32 read = readComponentId(arguments, uniqueId);
    return VDProtocol::failed(read) ? read : readComponentType(arguments, type);
}

// A command to "DeviceControl" about one component of a type.
TMS::AbstractMessage makeComponentCommand(const char* command, u32 uniqueId, const ComponentType& type)
{
    TMS::AbstractMessage message = makeCommandMessage(command);
    message.setUInt("UniqID", uniqueId);
    message.setString("ComponentName", type.m_name.c_str());
    message.setUInt("MajorVersion", type.m_major);
    message.setUInt("NumX", type.m_numX);
    message.setUInt("NumY", type.m_numY);
    return message;
}

} // namespace

i32 VDProtocolExecutor::parseComponentName(const std::string& text, std::string& name, u32& majorVersion, u32& numX,
                                           u32& numY)
{
    std::vector<std::string> pieces;
    ossupport::splitString(&pieces, text, ":", true);
    if (pieces.size() < 3) {
        return RESULT_NG;
    }
    std::vector<std::string> sizes;
    ossupport::splitString(&sizes, pieces[2], "x", true);
    u32 major = 0;
    u32 x = 0;
    u32 y = 0;
    if (sizes.size() < 2 || VDProtocol::failed(VDProtocol::readAddressNumber(pieces[1], major)) ||
        VDProtocol::failed(VDProtocol::readAddressNumber(sizes[0], x)) ||
        VDProtocol::failed(VDProtocol::readAddressNumber(sizes[1], y))) {
        return RESULT_NG;
    }
    name = pieces[0];
    majorVersion = major;
    numX = x;
    numY = y;
    return RESULT_OK;
}

std::string VDProtocolExecutor::makeComponentDefaultPath(const std::string& componentName) const
{
    if (m_componentDefaultDirectory.empty()) {
        return {};
    }
    return m_componentDefaultDirectory + "/component/" + componentName + "/UserDefault.pst";
}

// ---- list requests ----------------------------------------------------------------------------------------------

i32 VDProtocolExecutor::answerRequest(u32 requestId, i32 result)
{
    PacketContainer request;
    if (!takeRequest(requestId, request)) {
        return RESULT_NG;
    }
    m_posts.detach(requestId); // what it posted still goes, and its answers complete nothing
    return replyWith(request, result);
}

i32 VDProtocolExecutor::postListEntries(const PacketContainer& request, const char* answer,
                                        const EntryReader& readEntry)
{
    u32 id = 0;
    if (m_requests.add(id, request) != RESULT_OK) {
        // Nothing could complete a request that is not stored.
        return replyWith(request, RESULT_NG);
    }
    if (request.m_list.empty()) {
        return answerRequest(id, RESULT_OK);
    }
    // A key posted twice would be completed by its first answer, and the second one's outcome never seen.
    std::set<std::string> keys;
    for (const ArgumentMap& entry : request.m_list) {
        std::string key;
        TMS::AbstractMessage message;
        i32 result = readEntry(entry, key, message);
        if (!VDProtocol::failed(result) && !keys.insert(key).second) {
            result = RESULT_DUPLICATE;
        }
        if (VDProtocol::failed(result)) {
            return answerRequest(id, result);
        }
        result = postSubRequest(id, key, DEVICE_CONTROL, std::move(message), answer);
        if (VDProtocol::failed(result)) {
            return result; // the failed post has answered the request
        }
    }
    return RESULT_OK;
}

i32 VDProtocolExecutor::addComponents(const PacketContainer& request)
{
    return postListEntries(request, "Re:addComponent",
                           [this](const ArgumentMap& entry, std::string& key, TMS::AbstractMessage& message) {
                               u32 uniqueId = 0;
                               ComponentType type;
                               const i32 read = readComponent(entry, uniqueId, type);
                               if (VDProtocol::failed(read)) {
                                   return read;
                               }
                               key = std::to_string(uniqueId);
                               message = makeComponentCommand("addComponent", uniqueId, type);
                               message.setString("ComponentDefaultPath", makeComponentDefaultPath(type.m_name).c_str());
                               return RESULT_OK;
                           });
}

i32 VDProtocolExecutor::removeComponents(const PacketContainer& request)
{
    return postListEntries(request, "Re:removeComponent",
                           [](const ArgumentMap& entry, std::string& key, TMS::AbstractMessage& message) {
                               u32 uniqueId = 0;
                               const i32 read = readComponentId(entry, uniqueId);
                               if (VDProtocol::failed(read)) {
                                   return read;
                               }
                               key = std::to_string(uniqueId);
                               message = makeCommandMessage("removeComponent");
                               message.setUInt("UniqID", uniqueId);
                               return RESULT_OK;
                           });
}

i32 VDProtocolExecutor::changeComponentType(const PacketContainer& request)
{
    u32 uniqueId = 0;
    ComponentType type;
    const i32 read = readComponent(request.m_info, uniqueId, type);
    u32 id = 0;
    if (VDProtocol::failed(read) || m_requests.add(id, request) != RESULT_OK) {
        return replyWith(request, VDProtocol::failed(read) ? read : RESULT_NG);
    }
    return postSubRequest(id, std::to_string(uniqueId), DEVICE_CONTROL,
                          makeComponentCommand("changeComponentType", uniqueId, type), "Re:changeComponentType");
}

namespace {

// One "cpt_connect" entry: the receiving side is "to", the sending side "from".
i32 readConnection(const ArgumentMap& entry, const char* command, std::string& key, TMS::AbstractMessage& message)
{
    std::string rx;
    std::string rxPort;
    std::string tx;
    std::string txPort;
    if (!readText(entry, "rx_cpt", rx) || !readText(entry, "rx_cpt_port", rxPort) || !readText(entry, "tx_cpt", tx) ||
        !readText(entry, "tx_cpt_port", txPort)) {
        return RESULT_NG;
    }
    u32 to = 0;
    u32 toPort = 0;
    u32 from = 0;
    u32 fromPort = 0;
    i32 read = readConnectionSide(rx, rxPort, to, toPort);
    if (!VDProtocol::failed(read)) {
        read = readConnectionSide(tx, txPort, from, fromPort);
    }
    if (VDProtocol::failed(read)) {
        return read;
    }
    key = VDProtocolExecutor::makeConnectionKey(to, toPort, from, fromPort);
    message = makeCommandMessage(command);
    message.setUInt("fromUniqId", from);
    message.setUInt("fromPortNo", fromPort);
    message.setUInt("toUniqId", to);
    message.setUInt("toPortNo", toPort);
    return RESULT_OK;
}

} // namespace

i32 VDProtocolExecutor::addConnections(const PacketContainer& request)
{
    return postListEntries(request, "Re:addConnection",
                           [](const ArgumentMap& entry, std::string& key, TMS::AbstractMessage& message) {
                               return readConnection(entry, "addConnection", key, message);
                           });
}

i32 VDProtocolExecutor::removeConnections(const PacketContainer& request)
{
    return postListEntries(request, "Re:removeConnection",
                           [](const ArgumentMap& entry, std::string& key, TMS::AbstractMessage& message) {
                               return readConnection(entry, "removeConnection", key, message);
                           });
}

// ---- meters -------------------------------------------------------------------------------------------------

i32 VDProtocolExecutor::editMeters(const PacketContainer& request, bool add)
{
    std::string id;
    if (!readText(request.m_info, "id", id)) {
        return replyWith(request, RESULT_NG);
    }
    VDMeterContainer& meters = VDMeterContainer::getInstance();
    if (!add && id == ALL_METERS) {
        meters.clear();
        return replyOk(request);
    }
    i32 result = RESULT_OK;
    for (const ArgumentMap& entry : request.m_list) {
        std::string address;
        if (!readText(entry, "prmAddr", address)) {
            result = postMeterList();
            break;
        }
        if (add) {
            (void)meters.addMeter(id, address);
        } else {
            (void)meters.removeMeter(id, address);
        }
    }
    return replyWith(request, result);
}

i32 VDProtocolExecutor::addMeters(const PacketContainer& request)
{
    return editMeters(request, true);
}

i32 VDProtocolExecutor::removeMeters(const PacketContainer& request)
{
    return editMeters(request, false);
}

// ---- link state -----------------------------------------------------------------------------------------------

i32 VDProtocolExecutor::clearNetworkInfo(const PacketContainer& request)
{
    m_pcAddress.clear();
    m_deviceAddress.clear();
    m_deviceMacAddress.clear();
    (void)post("VDProtocol", "DetectStop");
    (void)post("Sync", "Disconnect");
    return replyOk(request);
}

i32 VDProtocolExecutor::activate(const PacketContainer& request)
{
    KVariant capacity;
    return replyWith(request, readDeviceSetting(capacity, findDeviceSetting("VEXACapacity")));
}

i32 VDProtocolExecutor::syncOffline(const PacketContainer& request)
{
    if (getEditorStateClass() != STATE_CLASS_SYNCHRONIZED) {
        return replyWith(request, RESULT_NG);
    }
    return post("Sync", "Asynchronous");
}

} // namespace VDevice
