// The scene, preset, project, position-control and synchronisation commands of the device-control thread.
#include <cstring>

#include "lpc_Parameter.h"
#include "lpc_Project.h"
#include "lpc_Values.h"
#include "pyrite_DeviceControlThread.h"
#include "pyrite_MessageFields.h"
#include "pyrite_ProductInfo.h"
#include "pyrite_Result.h"

namespace PYRITE {

namespace {

constexpr const char* OSC_SERVER = "OSCServer";
constexpr i32 OSC_FACTOR = 255;
constexpr const char* SCENE_REMAINING = "/Scene/Sync/Scene/remainingNum";
constexpr const char* LIBRARY_REMAINING = "/Scene/Sync/Library/remainingNum";
constexpr const char* CURRENT_PRESET = "/3DRev/Preset";
constexpr u32 NQ_CURRENT_COMPONENT = 0;
constexpr u32 SYNC_SCENES = 1000;
constexpr u32 SYNC_LIBRARY = 128;
constexpr const char* FULL_NUMBER_TITLE = "FullNumber";
constexpr u32 CONFIG_HASH_SIZE = 16;
// "ZOVORaState" set elsewhere that an erase accepts besides 2 and 3.
constexpr u32 CONFIG_OTHER = 4;

u32 numberOf(const TMS::AbstractMessage& message, const char* field)
{
    u32 number = 0;
    (void)readNumber(message, field, number);
    return number;
}

bool isOperation(const TMS::AbstractMessage& message, const char* operation)
{
    return isText(message, "Operation", operation);
}

bool isStatus(const TMS::AbstractMessage& message, const char* status)
{
    return isText(message, "Status", status);
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// Scenes
// ---------------------------------------------------------------------------------------------------------------

void PyriteDeviceControlThread::scene(const TMS::AbstractMessage& message)
{
    // The position-control side posts its scene state here as well; this thread has nothing to do with it.
    (void)message;
}

void PyriteDeviceControlThread::nqScene(const TMS::AbstractMessage& message)
{
    LPC::SceneList& scenes = getSceneList();
    if (isOperation(message, "Store")) {
        if (isStatus(message, "Start")) {
            storeScene(message);
        }
    } else if (isOperation(message, "Recall")) {
        if (isStatus(message, "Start")) {
            recallScene(message);
        }
    } else if (isOperation(message, "TestRecallSpeed")) {
        (void)scenes.testRecallSpeed(readUInt(message, "TestNum"), readUInt(message, "WithRecallSafe"));
    } else if (isOperation(message, "CreateAllScene")) {
        (void)scenes.createAllScenes();
    } else if (!isStatus(message, "Do")) {
        return;
    } else if (isOperation(message, "Delete")) {
        (void)scenes.remove(numberOf(message, "SnapshotNo"));
    } else if (isOperation(message, "Duplicate")) {
        (void)scenes.duplicate(numberOf(message, "Src"), numberOf(message, "Dest"), readText(message, "Title"),
                               readText(message, "Comment"));
    } else if (isOperation(message, "RecallUndo")) {
        (void)scenes.recallUndo();
    } else if (isOperation(message, "UpdateUndo")) {
        (void)scenes.updateUndo();
    } else if (isOperation(message, "DuplicateUndo")) {
        (void)scenes.duplicateUndo();
    } else if (isOperation(message, "DeleteUndo")) {
        (void)scenes.deleteUndo();
    } else if (isOperation(message, "FileUndo")) {
        (void)scenes.fileUndo();
    } else if (isOperation(message, "Protect")) {
        (void)scenes.protect(numberOf(message, "SnapshotNo"), readUInt(message, "OnOff"));
    }
}

void PyriteDeviceControlThread::storeScene(const TMS::AbstractMessage& message)
{
    const u32 result =
        getSceneList().store(numberOf(message, "Index"), readText(message, "Title"), readText(message, "Comment"));
    if (pyriteFailed(result)) {
        return;
    }
    clearSceneEdit();
    notifySceneChange(message, "Store", "End");
}

void PyriteDeviceControlThread::recallScene(const TMS::AbstractMessage& message)
{
    const u32 result = getSceneList().recall(numberOf(message, "Index"), true, [this] { completeSceneRecall(); });
    if (pyriteFailed(result)) {
        return;
    }
    clearSceneEdit();
    notifySceneChange(message, "Current", "Changed");
}

void PyriteDeviceControlThread::completeSceneRecall()
{
    PDB::IParameterDB& database = LPC::getComponentDB();
    PDB::ParameterAddress address = database.resolveAddress(PDB::ComponentUID(NQ_CURRENT_COMPONENT), CURRENT_PRESET);
    const u32 preset = address.isValid() ? database.getValueUInt(address, 0, 0, nullptr) : 0;
    if (preset != 0 && pyriteFailed(getPresetList().recall(LPC::PresetList::TYPE_3DREV, preset))) {
        log("[W] PyriteDeviceControlThread::onReceiveMessage - Cannot recall the preset[%u] of the scene!\n", preset);
    }
    if (m_linkSet != nullptr) {
        (void)m_linkSet->updateAllLinks(0);
    }
}

void PyriteDeviceControlThread::clearSceneEdit()
{
    (void)onChangePDB();
    (void)getSceneList().setEditFlag(0);
}

void PyriteDeviceControlThread::notifySceneChange(const TMS::AbstractMessage& message, const char* operation,
                                                  const char* status)
{
    TMS::AbstractMessage notice = makeCommand("NQScene");
    notice.setString("Operation", operation);
    notice.setString("Status", status);
    echoField(notice, message, "Index");
    echoField(notice, message, "Category");
    notice.setInt("Factor", OSC_FACTOR);
    (void)sendToListener(OSC_SERVER, notice);
}

// ---------------------------------------------------------------------------------------------------------------
// Presets, speaker positions and bulk values
// ---------------------------------------------------------------------------------------------------------------

void PyriteDeviceControlThread::nqPreset(const TMS::AbstractMessage& message)
{
    const char* type = readText(message, "PresetType");
    const u32 number = readUInt(message, "PresetNo");
    if (!isStatus(message, "Do")) {
        return;
    }
    LPC::PresetList& presets = getPresetList();
    if (isOperation(message, "Store")) {
        (void)presets.store(type, number, readText(message, "Title"));
    } else if (isOperation(message, "Recall")) {
        (void)presets.recall(type, number);
        if (m_linkSet != nullptr) {
            (void)m_linkSet->updateAllLinks(0);
        }
    } else if (isOperation(message, "Delete")) {
        (void)presets.remove(type, number);
    } else if (isOperation(message, "Protect")) {
        (void)presets.protect(type, number, readUInt(message, "OnOff"));
    } else if (isOperation(message, "CreateFullNumber")) {
        u32 result = PYRITE_OK;
        for (u32 preset = 1; preset <= LPC::PresetList::MAX_PRESETS_PER_TYPE; ++preset) {
            result |= presets.store(type, preset, FULL_NUMBER_TITLE);
        }
        if (pyriteFailed(result)) {
            log("[E] PyriteDeviceControlThread::onReceiveMessage - Cannot store every preset! (0x%08X)\n", result);
        }
    }
}

void PyriteDeviceControlThread::nqSpeakerPosition(const TMS::AbstractMessage& message)
{
    if (!isStatus(message, "Do")) {
        return;
    }
    const char* path = readText(message, "FilePath");
    if (isOperation(message, "Import")) {
        (void)LPC::LpcSpeakerData::importFromFile(path);
    } else if (isOperation(message, "Export")) {
        (void)LPC::LpcSpeakerData::exportToFile(path);
    }
}

void PyriteDeviceControlThread::nqShowAllValues(const TMS::AbstractMessage& message)
{
    (void)LPC::showAllValues(readText(message, "FilePath"));
}

void PyriteDeviceControlThread::nqSetMinValue(const TMS::AbstractMessage& message)
{
    (void)LPC::setMinValues(readUInt(message, "Factor"));
}

void PyriteDeviceControlThread::nqSetMaxValue(const TMS::AbstractMessage& message)
{
    (void)LPC::setMaxValues(readUInt(message, "Factor"));
}

// ---------------------------------------------------------------------------------------------------------------
// Projects
// ---------------------------------------------------------------------------------------------------------------

void PyriteDeviceControlThread::nqProject(const TMS::AbstractMessage& message)
{
    if (!isStatus(message, "Do")) {
        return;
    }
    if (isOperation(message, "Save")) {
        saveProjectFile(readText(message, "FilePath"));
    } else if (isOperation(message, "Load")) {
        loadProjectFile(readText(message, "FilePath"));
    }
}

void PyriteDeviceControlThread::saveProjectFile(const char* path)
{
    (void)enableSceneView(0);
    setState(STATE_SAVING_PROJECT);
    // The memories go into the project as files: write them out first. Presets and scenes are files already.
    for (const auto& item : getProjectContents()) {
        if (item.first == "Current") {
            (void)m_backups[BACKUP_CURRENT].finalBackup();
        } else if (item.first == "CurrentList") {
            (void)m_backups[BACKUP_CURRENT_LIST].finalBackup();
        }
    }
    setState(STATE_LOADING);
    LPC::ProjectProcessNotifier notifier(m_projectProgress, "save");
    (void)getProject().save(path, m_projectProgress, notifier);
    setState(STATE_IDLE);
    (void)enableSceneView(1);
}

void PyriteDeviceControlThread::loadProjectFile(const char* path)
{
    (void)enableSceneView(0);
    setState(STATE_LOADING);
    LPC::ProjectProcessNotifier notifier(m_projectProgress, "load");
    if (getProject().load(path, m_projectProgress, notifier) == PYRITE_OK) {
        (void)refresh(true);
    }
    setState(STATE_IDLE);
    (void)enableSceneView(1);
}

void PyriteDeviceControlThread::nqSync(const TMS::AbstractMessage& message)
{
    if (isOperation(message, "Receive") && isStatus(message, "End")) {
        (void)refresh(false);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Configuration state
// ---------------------------------------------------------------------------------------------------------------

void PyriteDeviceControlThread::eraseConfig(const TMS::AbstractMessage& message)
{
    (void)message;
    log("[E] PyriteDeviceControlThread::onReceiveMessage - eraseConfig\n");
    KVariant state;
    getSystemInfo(state, "ZOVORaState", 0);
    const u32 current = state.getUInt();
    if (current == CONFIG_CONSTRUCT || current == CONFIG_RUNNING || current == CONFIG_OTHER) {
        setSystemInfo("ZOVORaState", 0, KVariant(CONFIG_ERASE));
        commitSystemInfo();
    }
}

void PyriteDeviceControlThread::applyConfig(const TMS::AbstractMessage& message)
{
    (void)message;
    log("[E] PyriteDeviceControlThread::onReceiveMessage - applyConfig\n");
    KVariant state;
    getSystemInfo(state, "ZOVORaState", 0);
    if (state.getUInt() == CONFIG_EMPTY) {
        setSystemInfo("ZOVORaState", 0, KVariant(CONFIG_CONSTRUCT));
        commitSystemInfo();
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Synchronisation
// ---------------------------------------------------------------------------------------------------------------

void PyriteDeviceControlThread::setRemainingCounts(u32 scenes, u32 library)
{
    (void)LPC::setParameterValue(NQ_VOLATILE_COMPONENT, SCENE_REMAINING, 0, 0, KVariant(scenes), -1);
    (void)LPC::setParameterValue(NQ_VOLATILE_COMPONENT, LIBRARY_REMAINING, 0, 0, KVariant(library), -1);
}

void PyriteDeviceControlThread::prepareToSync(const TMS::AbstractMessage& message)
{
    u8 hash[CONFIG_HASH_SIZE];
    for (u32 i = 0; i < CONFIG_HASH_SIZE; ++i) {
        hash[i] = static_cast<u8>(i + 1);
    }
    // The PIN is taken and not checked: the peer relies on "OK" for any PIN.
    (void)readText(message, "AdminPIN");
    const bool editor = PyriteProductInfo::getInstance().getApplicationType() == PyriteProductInfo::APPLICATION_EDITOR;
    m_syncDirection = isText(message, "SyncDirection", editor ? "ServerToClient" : "ClientToServer") ? 1 : 0;
    setRemainingCounts(SYNC_SCENES, SYNC_LIBRARY);

    TMS::AbstractMessage reply = makeReply("PrepareToSync");
    echoField(reply, message, "UnitId");
    if (!editor) {
        reply.setString("AdminPIN", "OK");
        reply.setBinary("ConfigHash", hash, CONFIG_HASH_SIZE);
    }
    (void)sendToListener(message.getSender(), reply);
}

void PyriteDeviceControlThread::syncAbort(const TMS::AbstractMessage& message)
{
    setState(STATE_IDLE);
    (void)enableSceneView(1);
    TMS::AbstractMessage reply = makeReply("SyncAbort");
    echoField(reply, message, "UnitId");
    (void)sendToListener(message.getSender(), reply);
}

void PyriteDeviceControlThread::startConfig(const TMS::AbstractMessage& message)
{
    TMS::AbstractMessage reply = makeReply("StartConfig");
    echoField(reply, message, "UnitId");
    (void)sendToListener(message.getSender(), reply);
}

void PyriteDeviceControlThread::isSameConfig(const TMS::AbstractMessage& message)
{
    TMS::AbstractMessage reply = makeReply("isSameConfig");
    reply.setString("isSameConfig", "Same");
    (void)sendToListener(message.getSender(), reply);
}

void PyriteDeviceControlThread::synchronize(const TMS::AbstractMessage& message)
{
    if (isStatus(message, "Connected")) {
        (void)enableSceneView(0);
        setState(STATE_SYNCHRONISING);
    } else if (isStatus(message, "Synchronized")) {
        if (isText(message, "Type", "Server") && m_syncDirection != 0) {
            (void)refresh(false);
        }
        setRemainingCounts(0, 0);
        setState(STATE_IDLE);
        (void)enableSceneView(1);
    }
}

} // namespace PYRITE
