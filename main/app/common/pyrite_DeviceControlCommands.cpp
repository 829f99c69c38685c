// The component, connection and database commands of the device-control thread, and its dispatch table.
#include <cstring>
#include <string>
#include <vector>

#include "dadov_AudioComponentCollection.h"
#include "dbgc_Print.h"
#include "fcache_BinaryAccessor.h"
#include "fsw_api.h"
#include "lpc_Parameter.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_PresetData.h"
#include "pyrite_DeviceControlThread.h"
#include "pyrite_MessageFields.h"
#include "pyrite_Result.h"

namespace PYRITE {

namespace {

constexpr const char* VDPROTOCOL = "VDProtocol";
constexpr const char* GUI_BRIDGE = "GUIBridge";
constexpr const char* SYNC = "Sync";
constexpr u32 DEFAULT_KIND = 0;
constexpr u32 DEFAULT_VERSION = 1;
constexpr const char* DEFAULT_TITLE = "Component";
constexpr u8 IMPORT_FILTER = 8;
constexpr u8 WRITE_ALL = 0xFF;
// A database image larger than this is not one.
constexpr u64 MAX_IMAGE_SIZE = 256u << 20;

DADOV::AudioComponentCollection& collection()
{
    return DADOV::AudioComponentCollection::getInstance();
}

// A component name may become a folder name: one plain name, no separators, nothing hidden in it.
bool isPlainName(const TMS::AbstractMessage& message, const char* field)
{
    const KVariant& value = message.getValue(field);
    const char* name = value.getString();
    if (name == nullptr) {
        return false;
    }
    const size_t length = std::strlen(name);
    return length > 0 && length + 1 == value.getStringSize() && std::strcmp(name, ".") != 0 &&
           std::strcmp(name, "..") != 0 && std::strpbrk(name, "/\\") == nullptr;
}

// Completes a reply with the request's "Factor" and the result, and sends it.
void send(TMS::AbstractMessage& reply, const char* to, const TMS::AbstractMessage& message, u32 result)
{
    reply.setInt("Factor", readInt(message, "Factor"));
    reply.setUInt("Result", result);
    (void)sendToListener(to, reply);
}

std::string defaultFolder(const TMS::AbstractMessage& message)
{
    return std::string(textOrEmpty(message, "ComponentDefaultPath")) + "/" + textOrEmpty(message, "ComponentName");
}

} // namespace

const PyriteDeviceControlThread::Command PyriteDeviceControlThread::COMMANDS[] = {
    {"addComponent", &PyriteDeviceControlThread::addComponent},
    {"removeComponent", &PyriteDeviceControlThread::removeComponent},
    {"changeComponentType", &PyriteDeviceControlThread::changeComponentType},
    {"addConnection", &PyriteDeviceControlThread::addConnection},
    {"removeConnection", &PyriteDeviceControlThread::removeConnection},
    {"setComponentDefault", &PyriteDeviceControlThread::setComponentDefault},
    {"removeComponentDefault", &PyriteDeviceControlThread::removeComponentDefault},
    {"addPDBComponent", &PyriteDeviceControlThread::addPDBComponent},
    {"removePDBComponent", &PyriteDeviceControlThread::removePDBComponent},
    {"addAudioComponent", &PyriteDeviceControlThread::addAudioComponent},
    {"removeAudioComponent", &PyriteDeviceControlThread::removeAudioComponent},
    {"Initialize", &PyriteDeviceControlThread::initializeTarget},
    {"Backup", &PyriteDeviceControlThread::backupTarget},
    {"SaveProject", &PyriteDeviceControlThread::saveProject},
    {"LoadProject", &PyriteDeviceControlThread::loadProject},
    {"Scene", &PyriteDeviceControlThread::scene},
    {"NQScene", &PyriteDeviceControlThread::nqScene},
    {"NQPreset", &PyriteDeviceControlThread::nqPreset},
    {"NQSpeakerPosition", &PyriteDeviceControlThread::nqSpeakerPosition},
    {"NQProject", &PyriteDeviceControlThread::nqProject},
    {"NQSync", &PyriteDeviceControlThread::nqSync},
    {"NQShowAllValues", &PyriteDeviceControlThread::nqShowAllValues},
    {"NQSetMinValue", &PyriteDeviceControlThread::nqSetMinValue},
    {"NQSetMaxValue", &PyriteDeviceControlThread::nqSetMaxValue},
    {"eraseConfig", &PyriteDeviceControlThread::eraseConfig},
    {"applyConfig", &PyriteDeviceControlThread::applyConfig},
    {"PrepareToSync", &PyriteDeviceControlThread::prepareToSync},
    {"SyncAbort", &PyriteDeviceControlThread::syncAbort},
    {"StartConfig", &PyriteDeviceControlThread::startConfig},
    {"isSameConfig", &PyriteDeviceControlThread::isSameConfig},
    {"Synchronize", &PyriteDeviceControlThread::synchronize},
};

u32 PyriteDeviceControlThread::onReceiveMessage(const TMS::AbstractMessage& message)
{
    const char* name = readText(message, "CommandName");
    if (message.getCode() != 0 || name == nullptr) {
        return 0;
    }
    for (const Command& command : COMMANDS) {
        if (std::strcmp(name, command.m_name) == 0) {
            (this->*command.m_handler)(message);
            break;
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Audio components and connections
// ---------------------------------------------------------------------------------------------------------------

void PyriteDeviceControlThread::addComponent(const TMS::AbstractMessage& message)
{
    const char* name = readText(message, "ComponentName");
    if (name == nullptr) {
        return;
    }
    const u32 uid = readUInt(message, "UniqID");
    u32 result = static_cast<u32>(collection().addComponent(name, readUInt(message, "MajorVersion"), uid,
                                                            readUInt(message, "NumX"), readUInt(message, "NumY")));
    // An empty path is no path: it would look for the default below the file system's root.
    const char* path = readText(message, "ComponentDefaultPath");
    if (path != nullptr && path[0] != '\0' && !pyriteFailed(result)) {
        if (isPlainName(message, "ComponentName")) {
            result = recallComponentDefault(path, name, uid);
        } else {
            log("[E] PyriteDeviceControlThread::onReceiveMessage - no component default for the name[%s].\n", name);
        }
    }
    TMS::AbstractMessage reply = makeReply("addComponent");
    reply.setString("ComponentName", name);
    for (const char* field : {"MajorVersion", "UniqID", "NumX", "NumY"}) {
        echoUInt(reply, message, field);
    }
    send(reply, VDPROTOCOL, message, result);
}

u32 PyriteDeviceControlThread::recallComponentDefault(const char* path, const char* name, u32 uid)
{
    const std::string folder = std::string(path) + "/" + name;
    const std::string file = folder + "/" + DEFAULT_FILE_NAME;
    PDB::PresetData preset;
    // The file is looked for first: preparing the preset would make its folder.
    if (!FILECACHE::FileAccessor::exists(file.c_str()) ||
        preset.initialize(BACKUP_TAG, DEFAULT_KIND, DEFAULT_VERSION, nullptr, PDB::PresetContentsList(),
                          folder.c_str()) < 0 ||
        preset.load(DEFAULT_FILE_NAME) < 0) {
        log("[i] PyriteDeviceControlThread::onReceiveMessage - no component default[%s].\n", file.c_str());
        return PYRITE_OK;
    }
    const i32 recalled = preset.recall(LPC::getComponentDB(), uid);
    return recalled < 0 ? static_cast<u32>(recalled) : PYRITE_OK;
}

void PyriteDeviceControlThread::removeComponent(const TMS::AbstractMessage& message)
{
    const u32 uid = readUInt(message, "UniqID");
    // The type is read while the component is in this thread's list: the removal may destroy it.
    std::string type;
    u32 version = 0;
    if (const DADOV::AudioComponent* component = collection().findComponent(uid)) {
        type = component->getTypeName();
        version = component->getMajorVersion();
    }
    const u32 result = static_cast<u32>(collection().reqRemoveComponent(uid));
    if (!pyriteFailed(result)) {
        removeDatabaseComponent(uid, type, version);
    }
    TMS::AbstractMessage reply = makeReply("removeComponent");
    echoText(reply, message, "ComponentName");
    echoUInt(reply, message, "UniqID");
    send(reply, VDPROTOCOL, message, result);
}

void PyriteDeviceControlThread::removeDatabaseComponent(u32 uid, const std::string& type, u32 version)
{
    PDB::IParameterDB& database = LPC::getComponentDB();
    database.lockWrite();
    // Only the component that the audio component made: a fixed component under the same uid stays.
    const u32 index = database.getComponentIndex(uid);
    const char* name = database.getComponentTypeName(index);
    const bool own = !type.empty() && name != nullptr && type == name && database.getComponentVersion(index) == version;
    i32 removed = -1;
    if (own) {
        // As "removePDBComponent": request the removal, then drop this thread's hold, which deletes it.
        removed = database.removeComponent(uid);
        if (removed >= 0) {
            database.releaseComponent(uid);
        }
    }
    database.unlockWrite();
    if (removed < 0) {
        if (own) {
            log("[E] PyriteDeviceControlThread::onReceiveMessage - Cannot remove the PDB component[%u]!\n", uid);
        }
        return;
    }
    // As after a parameter change: the memory that keeps the component database is written at a later timer tick.
    const u32 group = CREATION_TABLE[COMPONENT_DB_ID].m_backupGroup;
    if (group >= 1 && group <= BACKUP_COUNT) {
        m_backups[group - 1].requestBackup();
    }
}

void PyriteDeviceControlThread::changeComponentType(const TMS::AbstractMessage& message)
{
    TMS::AbstractMessage reply = makeReply("changeComponentType");
    echoText(reply, message, "ComponentName");
    echoUInt(reply, message, "UniqID");
    send(reply, VDPROTOCOL, message, PYRITE_E_FAILED);
}

void PyriteDeviceControlThread::replyConnection(const TMS::AbstractMessage& message, const char* command, u32 result)
{
    TMS::AbstractMessage reply = makeReply(command);
    for (const char* field : {"fromUniqId", "fromPortNo", "toUniqId", "toPortNo"}) {
        echoUInt(reply, message, field);
    }
    send(reply, VDPROTOCOL, message, result);
}

void PyriteDeviceControlThread::addConnection(const TMS::AbstractMessage& message)
{
    const u32 result =
        static_cast<u32>(collection().addConnection(readUInt(message, "fromUniqId"), readUInt(message, "fromPortNo"),
                                                    readUInt(message, "toUniqId"), readUInt(message, "toPortNo")));
    replyConnection(message, "addConnection", result);
}

void PyriteDeviceControlThread::removeConnection(const TMS::AbstractMessage& message)
{
    const u32 result =
        static_cast<u32>(collection().removeConnection(readUInt(message, "fromUniqId"), readUInt(message, "fromPortNo"),
                                                       readUInt(message, "toUniqId"), readUInt(message, "toPortNo")));
    replyConnection(message, "removeConnection", result);
}

void PyriteDeviceControlThread::addAudioComponent(const TMS::AbstractMessage& message)
{
    const char* name = readText(message, "ComponentName");
    if (name != nullptr) {
        (void)collection().addComponent(name, readUInt(message, "MajorVersion"), readUInt(message, "UniqID"),
                                        readUInt(message, "NumX"), readUInt(message, "NumY"));
    }
}

void PyriteDeviceControlThread::removeAudioComponent(const TMS::AbstractMessage& message)
{
    (void)collection().reqRemoveComponent(readUInt(message, "UniqID"));
}

// ---------------------------------------------------------------------------------------------------------------
// Component defaults
// ---------------------------------------------------------------------------------------------------------------

u32 PyriteDeviceControlThread::checkComponentDefault(const TMS::AbstractMessage& message, u32 uid)
{
    const char* path = textOrEmpty(message, "ComponentDefaultPath");
    if (path[0] == '\0' || !isPlainName(message, "ComponentName")) {
        return PYRITE_E_FAILED;
    }
    PDB::IParameterDB& database = LPC::getComponentDB();
    const char* type = database.getComponentTypeName(database.getComponentIndex(uid));
    return type != nullptr && std::strcmp(type, readText(message, "ComponentName")) == 0 ? PYRITE_OK : PYRITE_E_FAILED;
}

void PyriteDeviceControlThread::replyComponentDefault(const TMS::AbstractMessage& message, const char* command,
                                                      u32 result)
{
    TMS::AbstractMessage reply = makeReply(command);
    echoText(reply, message, "ComponentName");
    echoUInt(reply, message, "UniqID");
    echoText(reply, message, "ComponentDefaultPath");
    send(reply, VDPROTOCOL, message, result);
}

void PyriteDeviceControlThread::setComponentDefault(const TMS::AbstractMessage& message)
{
    const u32 uid = readUInt(message, "UniqID");
    u32 result = checkComponentDefault(message, uid);
    if (!pyriteFailed(result)) {
        PDB::PresetContentsList contents;
        PDB::PresetData preset;
        const std::string folder = defaultFolder(message);
        i32 step = contents.addComponent(LPC::getComponentDB(), uid);
        if (step >= 0) {
            step =
                preset.initialize(BACKUP_TAG, DEFAULT_KIND, DEFAULT_VERSION, DEFAULT_TITLE, contents, folder.c_str());
        }
        if (step >= 0) {
            // The folder comes with the command: what a replacement of the file left when the process ended goes
            // first.
            (void)fsw_removeReplaceTemps((folder + "/" + DEFAULT_FILE_NAME).c_str(), false);
            step = preset.save(DEFAULT_FILE_NAME);
        }
        result = static_cast<u32>(step < 0 ? step : 0);
    }
    replyComponentDefault(message, "setComponentDefault", result);
}

void PyriteDeviceControlThread::removeComponentDefault(const TMS::AbstractMessage& message)
{
    u32 result = checkComponentDefault(message, readUInt(message, "UniqID"));
    if (!pyriteFailed(result)) {
        const std::string file = defaultFolder(message) + "/" + DEFAULT_FILE_NAME;
        if (FILECACHE::FileAccessor::exists(file.c_str())) {
            const i32 removed = FILECACHE::FileAccessor::remove(file.c_str(), false);
            result = static_cast<u32>(removed < 0 ? removed : 0);
        }
    }
    replyComponentDefault(message, "removeComponentDefault", result);
}

// ---------------------------------------------------------------------------------------------------------------
// Components of the component database
// ---------------------------------------------------------------------------------------------------------------

void PyriteDeviceControlThread::addPDBComponent(const TMS::AbstractMessage& message)
{
    if (!hasField(message, "UniqId") && !hasField(message, "ComponentName") && !hasField(message, "Version")) {
        return;
    }
    const u32 uid = readUInt(message, "UniqId");
    const char* name = readText(message, "ComponentName");
    const u32 version = readUInt(message, "Version");
    const u32 numX = readUInt(message, "NumX");
    const u32 numY = readUInt(message, "NumY");
    PDB::IParameterDB& database = LPC::getComponentDB();
    database.lockWrite();
    const i32 result = database.addComponent(uid, name, version, numX, numY, 0);
    if (result >= 0) {
        database.reserveComponent(uid);
    }
    database.unlockWrite();
    if (result < 0) {
        DBGC_LOG("[E] DeviceControlThread::onReceiveMessage - Cannot add a component. [%d:%s_%d] -> (%d, %d)\n",
                 static_cast<int>(uid), name != nullptr ? name : "", static_cast<int>(version), static_cast<int>(numX),
                 static_cast<int>(numY));
    }
}

void PyriteDeviceControlThread::removePDBComponent(const TMS::AbstractMessage& message)
{
    if (!hasField(message, "UniqId")) {
        return;
    }
    const u32 uid = readUInt(message, "UniqId");
    PDB::IParameterDB& database = LPC::getComponentDB();
    database.lockWrite();
    const i32 result = database.removeComponent(uid);
    if (result >= 0) {
        database.releaseComponent(uid);
    }
    database.unlockWrite();
    if (result < 0) {
        DBGC_LOG("[E] DeviceControlThread::onReceiveMessage - Cannot request to remove a component. [%d]\n",
                 static_cast<int>(uid));
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Initialize and Backup
// ---------------------------------------------------------------------------------------------------------------

void PyriteDeviceControlThread::initializeTarget(const TMS::AbstractMessage& message)
{
    const char* target = textOrEmpty(message, "Target");
    u32 result = PYRITE_OK;
    if (std::strcmp(target, "All") != 0 && std::strcmp(target, "Current") != 0 && std::strcmp(target, "System") != 0) {
        result = PYRITE_E_FAILED;
        log("[E] PyriteDeviceControlThread::onReceiveMessage - initialize failed!\n");
    }
    TMS::AbstractMessage reply = makeReply("Initialize");
    reply.setString("Target", target);
    reply.setUInt("Result", result);
    (void)sendToListener(GUI_BRIDGE, reply);
}

void PyriteDeviceControlThread::backupTarget(const TMS::AbstractMessage& message)
{
    const char* target = textOrEmpty(message, "Target");
    u32 result = PYRITE_OK;
    if (std::strcmp(target, "System") != 0) {
        result = PYRITE_E_FAILED;
        log("[E] PyriteDeviceControlThread::onReceiveMessage - backup failed!\n");
    }
    TMS::AbstractMessage reply = makeReply("Backup");
    reply.setString("Target", target);
    echoField(reply, message, "Reason");
    reply.setUInt("Result", result);
    (void)sendToListener(GUI_BRIDGE, reply);
}

// ---------------------------------------------------------------------------------------------------------------
// Database images
// ---------------------------------------------------------------------------------------------------------------

void PyriteDeviceControlThread::saveProject(const TMS::AbstractMessage& message)
{
    const char* path = readText(message, "FilePath");
    if (path == nullptr) {
        return;
    }
    PDB::IParameterDB& database = PDB::ParameterDBCollection::getInstance(readUInt(message, "PDBID"));
    const u32 size = database.getComponentTableSize();
    std::vector<u8> image(size);
    if (size == 0 || database.exportComponentTable(image.data(), size, 0) < 0) {
        log("[E] PyriteDeviceControlThread::onReceiveMessage - Cannot export the PDB[%s]!\n", path);
        return;
    }
    // The file comes with the command: what a replacement of it left when the process ended goes first.
    (void)fsw_removeReplaceTemps(path, false);
    FILECACHE::FileAccessor file;
    u32 put = 0;
    if (file.beginReplace(path) < 0 || file.write(image.data(), size, &put) < 0 || put != size ||
        file.commitReplace() < 0) {
        file.abortReplace();
        log("[E] PyriteDeviceControlThread::onReceiveMessage - Cannot write the PDB file[%s]!\n", path);
    }
}

void PyriteDeviceControlThread::loadProject(const TMS::AbstractMessage& message)
{
    const char* path = readText(message, "FilePath");
    FILECACHE::FileAccessor file;
    u64 size = 0;
    if (path != nullptr && file.open(path, FILECACHE::FileAccessor::kModeRead) >= 0 && file.getSize(&size) >= 0 &&
        size <= MAX_IMAGE_SIZE) {
        std::vector<u8> image(static_cast<size_t>(size));
        u32 got = 0;
        if (file.read(image.data(), static_cast<u32>(size), &got) >= 0 && got == size) {
            PDB::IParameterDB& database = PDB::ParameterDBCollection::getInstance(readUInt(message, "PDBID"));
            database.lockWrite();
            database.importComponentTable(image.data(), static_cast<u32>(size), PDB::ParameterFilter(IMPORT_FILTER),
                                          WRITE_ALL);
            database.unlockWrite();
        }
    }
    file.close();
    (void)sendToListener(SYNC, makeCommand("Connect"));
}

} // namespace PYRITE
