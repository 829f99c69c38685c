// The executor's copy and paste: a component or one parameter as a snapshot image for the editor, and such an
// image recalled into the databases again.
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "pdb_SnapshotData.h"
#include "vdp_Address.h"
#include "vdp_Executor.h"
#include "vdp_PacketConvertor.h"
#include "vdp_Result.h"

namespace VDevice {

using VDProtocol::ArgumentMap;
using VDProtocol::PacketContainer;
using VDProtocol::RESULT_NG;
using VDProtocol::RESULT_OK;

namespace {

// The snapshot information of every copy image.
constexpr const char* IMAGE_MODEL_TAG = "VEXA_SNAPSHOT";
constexpr u32 IMAGE_VERSION = 1;
constexpr u32 IMAGE_HEADER_VALUE = 1;

// The contents list of one entry: the whole component ("currentCpt", a component address) or one parameter
// ("currentPrm", a parameter address). 0, the address reader's or the list's code, or 0x80000000 for a missing
// key, another type or a database that is not there.
i32 makeContents(const ArgumentMap& entry, PDB::SnapshotContentsList& contents)
{
    const char* type = entry.getString("type");
    const char* address = entry.getString("prmAddr");
    if (type == nullptr || address == nullptr) {
        return RESULT_NG;
    }
    const std::string kind(type);
    std::string databaseName;
    u32 uniqueId = 0;
    if (kind == "currentCpt") {
        const i32 parsed = VDProtocol::parseComponentAddress(address, databaseName, uniqueId);
        if (VDProtocol::failed(parsed)) {
            return parsed;
        }
        PDB::IParameterDB* database = VDProtocolExecutor::findDatabase(databaseName);
        return database != nullptr ? contents.addComponent(*database, uniqueId) : RESULT_NG;
    }
    if (kind == "currentPrm") {
        std::string path;
        u32 x = 0;
        u32 y = 0;
        const i32 parsed = VDProtocol::parseParameterAddress(address, databaseName, uniqueId, path, x, y);
        if (VDProtocol::failed(parsed)) {
            return parsed;
        }
        PDB::IParameterDB* database = VDProtocolExecutor::findDatabase(databaseName);
        return database != nullptr ? contents.addParameter(*database, uniqueId, path.c_str(), x, y) : RESULT_NG;
    }
    return RESULT_NG;
}

// The contents list of the entry, and a snapshot set up with it ("VEXA_SNAPSHOT", 1, 1): makeContents' or the
// snapshot's code.
i32 prepareSnapshot(const ArgumentMap& entry, PDB::SnapshotContentsList& contents, PDB::SnapshotData& snapshot)
{
    const i32 result = makeContents(entry, contents);
    if (VDProtocol::failed(result)) {
        return result;
    }
    return snapshot.initialize(IMAGE_MODEL_TAG, IMAGE_VERSION, IMAGE_HEADER_VALUE, contents, nullptr);
}

} // namespace

i32 VDProtocolExecutor::copySnapshot(const PacketContainer& request)
{
    PacketContainer reply(request);
    reply.m_list.clear();
    ReplyRoom room;
    const i32 result = copySnapshots(request, reply.m_list, room);
    if (room.isFull()) {
        return replyLimitOver(std::move(reply));
    }
    return replyWith(std::move(reply), result);
}

i32 VDProtocolExecutor::pasteSnapshot(const PacketContainer& request)
{
    return replyWith(request, pasteSnapshots(request));
}

i32 VDProtocolExecutor::copySnapshots(const PacketContainer& request, std::vector<ArgumentMap>& list)
{
    ReplyRoom room;
    return copySnapshots(request, list, room);
}

i32 VDProtocolExecutor::copySnapshots(const PacketContainer& request, std::vector<ArgumentMap>& list, ReplyRoom& room)
{
    for (const ArgumentMap& entry : request.m_list) {
        PDB::SnapshotContentsList contents;
        PDB::SnapshotData snapshot;
        i32 result = prepareSnapshot(entry, contents, snapshot);
        if (!VDProtocol::failed(result)) {
            result = snapshot.storeContents();
        }
        if (VDProtocol::failed(result)) {
            return result;
        }
        const u64 size = snapshot.getFileSize();
        // The entry's map, as a lower bound of its line: the two texts and the image as base64. An image that
        // the reply could not carry is not made.
        ArgumentMap copy;
        (void)copy.setString("prmAddr", entry.getString("prmAddr"));
        (void)copy.setString("type", entry.getString("type"));
        const u64 base64 = (size + 2) / 3 * 4;
        if (!room.take(VDProtocol::encodedSizeAtLeast(copy) + std::strlen(VDProtocol::BINARY_ARGUMENT) + 6 + base64)) {
            return VDProtocol::RESULT_LIMIT_OVER;
        }
        if (size == 0 || size > KVariant::MAX_BINARY_SIZE) {
            return RESULT_NG;
        }
        const std::unique_ptr<u8[]> image(new (std::nothrow) u8[size]());
        if (image == nullptr) {
            return VDProtocol::RESULT_MEMORY_SHORTAGE;
        }
        result = snapshot.exportImage(image.get(), static_cast<u32>(size));
        if (VDProtocol::failed(result)) {
            return result;
        }
        if (VDProtocol::failed(copy.setBinary(VDProtocol::BINARY_ARGUMENT, image.get(), static_cast<u32>(size)))) {
            return VDProtocol::RESULT_MEMORY_SHORTAGE;
        }
        list.push_back(std::move(copy));
    }
    return RESULT_OK;
}

i32 VDProtocolExecutor::pasteSnapshots(const PacketContainer& request)
{
    for (const ArgumentMap& entry : request.m_list) {
        const void* image = entry.getBinary(VDProtocol::BINARY_ARGUMENT);
        if (!entry.contains("prmAddr") || !entry.contains("type") || image == nullptr) {
            return RESULT_NG;
        }
        PDB::SnapshotContentsList contents;
        PDB::SnapshotData snapshot;
        i32 result = prepareSnapshot(entry, contents, snapshot);
        if (!VDProtocol::failed(result)) {
            result =
                snapshot.importImage(static_cast<const u8*>(image), entry.getBinarySize(VDProtocol::BINARY_ARGUMENT));
        }
        if (VDProtocol::failed(result)) {
            return result;
        }
        // The image decides what it writes: it must hold exactly what the entry names, so that a paste never
        // lands on a component or parameter other than the one the editor addressed.
        if (snapshot.getContents().getItems() != contents.getItems()) {
            return RESULT_NG;
        }
        // Every record is decoded into a private copy of the databases before anything live is written.
        result = snapshot.recall(PDB::SnapshotContentsList());
        if (VDProtocol::failed(result)) {
            return result;
        }
    }
    return RESULT_OK;
}

} // namespace VDevice
