// The executor's parameter handlers: descriptions and values read and written by editor address, range checks,
// component defaults, the meter list and the fixed parameter-set answers.
#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "pdb_IParameterDB.h"
#include "pdb_NullMutex.h"
#include "pdb_ParameterArray.h"
#include "pdb_ParameterDB.h"
#include "vdp_Address.h"
#include "vdp_Executor.h"
#include "vdp_MeterContainer.h"
#include "vdp_PacketConvertor.h"
#include "vdp_Result.h"

namespace VDevice {

using VDProtocol::ArgumentMap;
using VDProtocol::PacketContainer;
using VDProtocol::RESULT_NG;
using VDProtocol::RESULT_OK;

namespace {

constexpr u32 NO_INDEX = 0xFFFFFFFFu;
constexpr u32 EVERY_INDEX = 0xFFFFFFFFu; // an index of -1: every element of that axis
constexpr size_t MAX_RESERVED_MAPS = 4096;

bool isNegative(u32 index)
{
    return (index & 0x80000000u) != 0;
}

// An editor parameter address resolved to its database.
struct ParameterTarget
{
    PDB::IParameterDB* m_database = nullptr;
    u32 m_uniqueId = 0;
    std::string m_path;
    u32 m_x = 0;
    u32 m_y = 0;
};

// 0, the parser's code, or 0x80000000 for a database that is not there.
i32 resolveParameter(const std::string& address, ParameterTarget& target)
{
    std::string databaseName;
    const i32 parsed = VDProtocol::parseParameterAddress(address, databaseName, target.m_uniqueId, target.m_path,
                                                         target.m_x, target.m_y);
    if (VDProtocol::failed(parsed)) {
        return parsed;
    }
    target.m_database = VDProtocolExecutor::findDatabase(databaseName);
    return target.m_database != nullptr ? RESULT_OK : RESULT_NG;
}

// The request copied for its reply with an emptied list.
PacketContainer replyWithoutList(const PacketContainer& request)
{
    PacketContainer reply;
    reply.m_type = request.m_type;
    reply.m_from = request.m_from;
    reply.m_to = request.m_to;
    reply.m_reqId = request.m_reqId;
    reply.m_command = request.m_command;
    reply.m_cmdInfo = request.m_cmdInfo;
    reply.m_info = request.m_info;
    return reply;
}

} // namespace

// ---- reading ------------------------------------------------------------------------------------------------------

i32 VDProtocolExecutor::readParameters(const PacketContainer& request)
{
    PacketContainer reply = replyWithoutList(request);
    ReplyRoom room;
    i32 result = RESULT_OK;
    for (const ArgumentMap& entry : request.m_list) {
        result = readParameterEntry(entry, reply.m_list, room);
        if (VDProtocol::failed(result)) {
            break;
        }
    }
    if (room.isFull()) {
        return replyLimitOver(std::move(reply));
    }
    return replyWith(std::move(reply), result);
}

i32 VDProtocolExecutor::readParameterEntry(const ArgumentMap& entry, std::vector<ArgumentMap>& list, ReplyRoom& room)
{
    const char* text = entry.getString("prmAddr");
    if (text == nullptr) {
        return RESULT_NG;
    }
    const std::string address(text);
    ParameterTarget target;
    i32 result = resolveParameter(address, target);
    if (VDProtocol::failed(result)) {
        return result;
    }
    const bool single = !isNegative(target.m_x) && !isNegative(target.m_y);
    const bool range = (!isNegative(target.m_x) || target.m_x == EVERY_INDEX) &&
                       (!isNegative(target.m_y) || target.m_y == EVERY_INDEX);

    PDB::IParameterDB& database = *target.m_database;
    PDB::ParameterInfo info;
    std::string componentName;
    KVariant value;
    PDB::LocalParameterArray block;
    {
        PDB::ReadLock<PDB::IParameterDB> lock(database);
        const u32 component = database.getComponentIndex(target.m_uniqueId);
        const u32 blockIndex = database.getBlockIndex(target.m_uniqueId, target.m_path.c_str());
        info = *database.getParameterInfo(component, blockIndex);
        if (info.getAddress().empty() || !(single || range)) {
            return RESULT_NG;
        }
        componentName = makeComponentName(database, component);
        if (single) {
            result = database.getValue(value, component, blockIndex, target.m_x, target.m_y, nullptr);
        } else {
            result = block.initialize(info);
            if (!VDProtocol::failed(result)) {
                result = database.getArray(block, component, blockIndex);
            }
        }
        if (VDProtocol::failed(result)) {
            return result;
        }
    }

    // One map per element: the description with the value, its display text, the address as received.
    const auto append = [&](const KVariant& element) {
        ArgumentMap& map = list.emplace_back();
        const i32 described = VDProtocol::setParameterArguments(map, info, element);
        if (VDProtocol::failed(described)) {
            list.pop_back();
            return described;
        }
        const KVariant display = m_expressions.valueToText(info, element);
        const char* shown = display.getString();
        (void)map.setString("prmStr", shown != nullptr ? std::string(shown) : std::string());
        (void)map.setString("prmAddr", address);
        (void)map.setString("cptName", componentName);
        if (!room.take(VDProtocol::encodedSizeAtLeast(map) + 1)) {
            list.pop_back();
            return VDProtocol::RESULT_LIMIT_OVER;
        }
        return RESULT_OK;
    };
    if (single) {
        return append(value);
    }
    const u32 firstX = target.m_x == EVERY_INDEX ? 0 : target.m_x;
    const u32 endX = target.m_x == EVERY_INDEX ? info.getCountX() : target.m_x + 1;
    const u32 firstY = target.m_y == EVERY_INDEX ? 0 : target.m_y;
    const u32 endY = target.m_y == EVERY_INDEX ? info.getCountY() : target.m_y + 1;
    // Reserved ahead only as far as a reply could carry the maps: a block may hold many more.
    const size_t elements = static_cast<size_t>(endX - firstX) * (endY - firstY);
    list.reserve(list.size() + std::min(elements, MAX_RESERVED_MAPS));
    for (u32 x = firstX; x < endX; ++x) {
        for (u32 y = firstY; y < endY; ++y) {
            if (!block.isValidIndex(x, y)) {
                return VDProtocol::RESULT_ABSENT_ELEMENT;
            }
            result = block.getValue(value, x, y, nullptr);
            if (VDProtocol::failed(result)) {
                return result;
            }
            result = append(value);
            if (VDProtocol::failed(result)) {
                return result;
            }
        }
    }
    return RESULT_OK;
}

// ---- writing --------------------------------------------------------------------------------------------------------

i32 VDProtocolExecutor::setParameterValue(const PacketContainer& request)
{
    return replyWith(request, writeParameterEntry(request.m_info));
}

i32 VDProtocolExecutor::setParameterValues(const PacketContainer& request)
{
    i32 result = RESULT_OK;
    {
        // The threads that the writes wake are woken once, after the last write.
        const PDB::DeferredChangeNotices notices;
        for (const ArgumentMap& entry : request.m_list) {
            result = writeParameterEntry(entry);
            if (VDProtocol::failed(result)) {
                break;
            }
        }
    }
    return replyWith(request, result);
}

i32 VDProtocolExecutor::writeParameterEntry(const ArgumentMap& entry)
{
    const char* address = entry.getString("prmAddr");
    const KVariant* value = entry.find("prmValue");
    if (address == nullptr || value == nullptr) {
        return RESULT_NG;
    }
    ParameterTarget target;
    const i32 resolved = resolveParameter(address, target);
    if (VDProtocol::failed(resolved)) {
        return resolved;
    }
    if (isNegative(target.m_x) || isNegative(target.m_y)) {
        return writeParameterBlock(*target.m_database, target.m_uniqueId, target.m_path, target.m_x, target.m_y,
                                   *value);
    }
    return writeDeviceSetting(target.m_database->getName(), target.m_uniqueId, target.m_path, target.m_x, target.m_y,
                              *value);
}

i32 VDProtocolExecutor::writeParameterBlock(PDB::IParameterDB& database, u32 uniqueId, const std::string& path, u32 x,
                                            u32 y, const KVariant& value)
{
    // The write lock spans the read, the change and the write-back, so that no other writer's change to an element
    // outside the selection is written over with the value read before it. The threads that the write wakes are
    // woken once the lock is released (declared before it, the notices end after it): woken earlier, they would
    // only block on it.
    const PDB::DeferredChangeNotices notices;
    PDB::WriteLock<PDB::IParameterDB> lock(database);
    const u32 component = database.getComponentIndex(uniqueId);
    const u32 blockIndex = database.getBlockIndex(uniqueId, path.c_str());
    const PDB::ParameterInfo info = *database.getParameterInfo(component, blockIndex);
    if (info.getAddress().empty()) {
        return RESULT_NG;
    }
    PDB::LocalParameterArray block;
    i32 result = block.initialize(info);
    if (!VDProtocol::failed(result)) {
        result = database.getArray(block, component, blockIndex);
    }
    if (VDProtocol::failed(result)) {
        return result;
    }
    KVariant stored(value);
    if (value.getKind() == KVariant::KIND_STRING) {
        result = m_expressions.textToValue(stored, info, value);
        if (VDProtocol::failed(result)) {
            return result;
        }
    }
    const u32 firstX = isNegative(x) ? 0 : x;
    const u32 endX = isNegative(x) ? info.getCountX() : x + 1;
    const u32 firstY = isNegative(y) ? 0 : y;
    const u32 endY = isNegative(y) ? info.getCountY() : y + 1;
    for (u32 column = firstX; column < endX; ++column) {
        for (u32 row = firstY; row < endY; ++row) {
            result = block.setValue(column, row, stored, EDITOR_ORIGIN);
            if (VDProtocol::failed(result)) {
                return result;
            }
        }
    }
    return database.setArray(component, blockIndex, block, EDITOR_ORIGIN);
}

i32 VDProtocolExecutor::checkParameterRange(const PacketContainer& request)
{
    for (const char* key : {"prmAddr", "startX", "startY", "endX", "endY"}) {
        if (!request.m_info.contains(key)) {
            return replyWith(request, RESULT_NG);
        }
    }
    return replyOk(request);
}

// ---- component defaults -------------------------------------------------------------------------------------------

i32 VDProtocolExecutor::addComponentDefaults(const PacketContainer& request)
{
    return postComponentDefaults(request, "setComponentDefault", "Re:setComponentDefault");
}

i32 VDProtocolExecutor::removeComponentDefaults(const PacketContainer& request)
{
    return postComponentDefaults(request, "removeComponentDefault", "Re:removeComponentDefault");
}

i32 VDProtocolExecutor::postComponentDefaults(const PacketContainer& request, const char* command, const char* answer)
{
    if (request.m_list.empty()) {
        return replyOk(request);
    }
    // Every entry is checked first: a list with a bad entry posts nothing. A component named twice is posted once.
    std::vector<std::pair<u32, std::string>> components;
    std::set<u32> seen;
    for (const ArgumentMap& entry : request.m_list) {
        const char* address = entry.getString("prmAddr");
        if (address == nullptr) {
            return replyWith(request, RESULT_NG);
        }
        std::string databaseName;
        u32 uniqueId = 0;
        const i32 parsed = VDProtocol::parseComponentAddress(address, databaseName, uniqueId);
        if (VDProtocol::failed(parsed)) {
            return replyWith(request, parsed);
        }
        PDB::IParameterDB* database = findDatabase(databaseName);
        if (database == nullptr) {
            return replyWith(request, RESULT_NG);
        }
        const char* typeName = nullptr;
        {
            PDB::ReadLock<PDB::IParameterDB> lock(*database);
            const u32 component = database->getComponentIndex(uniqueId);
            typeName = component != NO_INDEX ? database->getComponentTypeName(component) : nullptr;
            if (typeName == nullptr) {
                return replyWith(request, RESULT_NG);
            }
            if (seen.insert(uniqueId).second) {
                components.emplace_back(uniqueId, typeName);
            }
        }
    }
    u32 id = 0;
    if (m_requests.add(id, request) != RESULT_OK) {
        return replyWith(request, RESULT_NG); // nothing could ever answer a request that is not stored
    }
    i32 result = RESULT_OK;
    for (const auto& [uniqueId, typeName] : components) {
        TMS::AbstractMessage message = makeCommandMessage(command);
        message.setUInt("UniqID", uniqueId);
        message.setString("ComponentName", typeName.c_str());
        message.setString("ComponentDefaultPath", makeComponentDefaultPath(typeName).c_str());
        result = postSubRequest(id, std::to_string(uniqueId), "DeviceControl", std::move(message), answer);
        if (VDProtocol::failed(result)) {
            break; // the request has been answered
        }
    }
    return result;
}

// ---- lists ----------------------------------------------------------------------------------------------------------

i32 VDProtocolExecutor::listMeters(const PacketContainer& request)
{
    PacketContainer reply = replyWithoutList(request);
    for (const std::string& key : VDMeterContainer::getInstance().getMeterKeys()) {
        (void)reply.m_list.emplace_back().setString("prmAddr", key);
    }
    return replyWith(std::move(reply), RESULT_OK);
}

i32 VDProtocolExecutor::listParameterSets(const PacketContainer& request)
{
    static constexpr struct
    {
        const char* m_guid;
        u32 m_id;
        const char* m_label;
    } kSets[] = {{"{GUID}", 1, "Param. Set"}, {"{GUID2}", 2, "Param. Set(2)"}, {"{GUID3}", 3, "Param. Set(3)"}};
    PacketContainer reply = replyWithoutList(request);
    for (const auto& set : kSets) {
        ArgumentMap& map = reply.m_list.emplace_back();
        (void)map.setString("prmSetGUID", set.m_guid);
        (void)map.setUInt("prmSetID", set.m_id);
        (void)map.setString("label", set.m_label);
        (void)map.setUInt("protect", 0);
    }
    return replyWith(std::move(reply), RESULT_OK);
}

i32 VDProtocolExecutor::listParameterSetAssignments(const PacketContainer& request)
{
    PacketContainer reply = replyWithoutList(request);
    ArgumentMap& map = reply.m_list.emplace_back();
    (void)map.setString("type", "parameter");
    (void)map.setString("prmAddr", "AudioCompo/#30000/Lebel:0:0");
    return replyWith(std::move(reply), RESULT_OK);
}

} // namespace VDevice
