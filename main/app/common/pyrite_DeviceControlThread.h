// PyriteDeviceControlThread: the thread "DeviceControl" (stage 2, queue of 5 messages). It owns the eleven
// parameter databases of the process and their fixed components (read from the component descriptions of the
// descriptor folder), starts the audio component collection, the audio configuration and the logic component
// collection, keeps the four memory backups, the scene and preset lists, the project and the parameter-link set,
// and executes the command messages that other threads post to it.
//
// Life: onInitialize creates the databases and components and sets the backups up (removing the temporaries that an
// interrupted backup left in their folders); entering RUN from STOP subscribes to parameter changes, starts timer 0
// (1000 ms) and publishes "PDBState" 1, "DebugState" 0 and "ZOVORaState" 2; "ZOVORaState" 2 restores the backups
// and builds the lists ("ZOVORaState" 3, state word 1); while idle (state word 1) timer 0 writes the requested
// backups; onFinalize writes both generations of every backup, stops the collections and deletes the databases
// ("PDBState" 0 when all of that succeeded).
//
// Commands (field "CommandName"; a message with another code than 0, or a name not listed, is dropped):
//   "addComponent" {"ComponentName" text (else no reply), "MajorVersion", "UniqID", "NumX", "NumY",
//       "ComponentDefaultPath" text (optional; empty counts as absent), "Factor"} -> "Re:addComponent"
//       {"ComponentName", "MajorVersion", "UniqID", "NumX", "NumY", "Factor", "Result"} to "VDProtocol". With a path,
//       the component default <path>/<name>/UserDefault.dat is recalled into the new component: a failed add gives the
//       add's code, a missing or unreadable default after a good add 0 (logged), a failed recall the recall's code.
//   "removeComponent" {"ComponentName" text (optional), "UniqID", "Factor"} -> "Re:removeComponent"
//       {"ComponentName" (empty when absent), "UniqID", "Factor", "Result"} to "VDProtocol". A removed component's
//       parameter-database component of the same type goes with it (a backup is requested), so the memories keep
//       no values of components that are gone and a component added again under the uid starts from its defaults.
//   "changeComponentType" {"ComponentName", "UniqID", "Factor"} -> "Re:changeComponentType" {same, "Result"
//       0x80000000} to "VDProtocol"; nothing changes.
//   "addConnection", "removeConnection" {"fromUniqId", "fromPortNo", "toUniqId", "toPortNo", "Factor"} ->
//       "Re:<command>" {the four, "Factor", "Result"} to "VDProtocol".
//   "setComponentDefault", "removeComponentDefault" {"ComponentName", "ComponentDefaultPath", "UniqID", "Factor"}
//       -> "Re:<command>" {"ComponentName", "UniqID", "Factor", "ComponentDefaultPath", "Result"} to
//       "VDProtocol": writes or deletes <path>/<name>/UserDefault.dat (a missing file is 0 for the delete); a write
//       first removes the temporaries that an unfinished replacement of that file left beside it.
//       0x80000000 for an empty name or path, a name that is "." or ".." or holds "/" or "\", or a name other than
//       the type name of component UniqID; nothing is touched then.
//   "addPDBComponent" {"UniqId", "ComponentName", "Version", "NumX", "NumY"}, "removePDBComponent" {"UniqId"}:
//       a component of the component database; no reply (a failure is printed).
//   "addAudioComponent" {"ComponentName", "MajorVersion", "UniqID", "NumX", "NumY"}, "removeAudioComponent"
//       {"UniqID"}: an audio component; no reply.
//   "Initialize" {"Target"} -> "Re:Initialize" {"Target", "Result"} and "Backup" {"Target", "Reason"} ->
//       "Re:Backup" {"Target", "Reason", "Result"}, both to "GUIBridge" (no such thread: the replies are lost).
//   "SaveProject" {"PDBID", "FilePath"}: the binary image of database PDBID replaces the file (nothing is written
//       when the image cannot be made; otherwise an unfinished replacement's temporaries beside it go first).
//       "LoadProject" {"PDBID", "FilePath"}: imports such a file into the database, then posts {"CommandName"
//       "Connect"} to "Sync" whatever the outcome.
// "Factor" is echoed as a signed integer (0 when absent), the other integers as unsigned values, "Result" as an
// unsigned result code.
//
// Scene, preset, project and position-control commands (no reply unless given; failures are not reported):
//   "Scene" {"Operation", "Status"}: nothing.
//   "NQScene" {"Operation", "Status", ...}: "Store" with "Start" {"Index", "Category", "Title", "Comment"} stores
//       scene Index; "Recall" with "Start" {"Index", "Category"} recalls it keeping the recall-undo image, then
//       recalls the 3DRev preset "/3DRev/Preset" of "nqCurrent" (when not 0) and updates every link. After
//       either the scene edit flag is cleared and "OSCServer" gets {"CommandName" "NQScene", "Operation" "Store",
//       "Status" "End" | "Operation" "Current", "Status" "Changed", "Index", "Category", "Factor" 255}; a failure
//       sends nothing. "TestRecallSpeed" {"TestNum", "WithRecallSafe"}, "CreateAllScene"; with "Do": "Delete"
//       {"SnapshotNo"}, "Duplicate" {"Src", "Dest", "Title", "Comment"}, "RecallUndo", "UpdateUndo",
//       "DuplicateUndo", "DeleteUndo", "FileUndo", "Protect" {"SnapshotNo", "OnOff"}. Scene numbers are decimal
//       texts or integers.
//   "NQPreset" {"PresetType", "PresetNo", "Operation", "Status" "Do", "Title", "OnOff"}: "Store", "Recall" (then
//       every link updated), "Delete", "Protect", "CreateFullNumber" (presets 1..128 titled "FullNumber").
//   "NQSpeakerPosition" {"Operation" "Import" | "Export", "Status" "Do", "FilePath"}: the speaker positions.
//   "NQProject" {"Operation" "Save" | "Load", "Status" "Do", "FilePath"}: scene view off; saving writes the final
//       backups of "Current" and "CurrentList" (state word 2) and then the project file (3); loading (3) restores
//       the project's folders and, when that succeeded, refreshes with the backups restored; then state word 1
//       and scene view on.
//   "NQSync" {"Operation" "Receive", "Status" "End"}: refresh without restoring.
//   "NQShowAllValues" {"FilePath"}, "NQSetMinValue" {"Factor"}, "NQSetMaxValue" {"Factor"}: the bulk value
//       operations of position control.
//   "eraseConfig": "ZOVORaState" 2, 3 or 4 becomes 5 (the components are removed, then 1). "applyConfig":
//       "ZOVORaState" 1 becomes 2 (the configuration is built, then 3). Each logs an "[E]" line first.
// Synchronisation commands (replies go to the sender, only when it is registered and in STOP or later):
//   "PrepareToSync" {"AdminPIN" (not checked), "SyncDirection", "UnitId"}: the sync-direction flag is set for
//       "ServerToClient" in the EDITOR application, for "ClientToServer" in any other; remaining counts 1000 and
//       128 -> "Re:PrepareToSync" {"UnitId"} and, outside the EDITOR application, "AdminPIN" "OK" and
//       "ConfigHash" (16 bytes 1..16).
//   "SyncAbort" {"UnitId"}: state word 1, scene view on -> "Re:SyncAbort" {"UnitId"}.
//   "StartConfig" {"UnitId"} -> "Re:StartConfig" {"UnitId"}. "isSameConfig" -> "Re:isSameConfig"
//       {"isSameConfig" "Same"}.
//   "Synchronize" {"Status", "Type"}: "Connected": scene view off, state word 4; "Synchronized": refresh when
//       "Type" is "Server" and the sync-direction flag is set, remaining counts 0, state word 1, scene view on.
//
// Every handler runs on the thread's own task. The databases share the thread's one lock.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "lpc_NqParameterStrategy.h"
#include "lpc_PDBLink.h"
#include "lpc_PresetList.h"
#include "lpc_Project.h"
#include "lpc_SceneList.h"
#include "pdb_ParameterAddress.h"
#include "pdb_SimpleReadWriteMutex.h"
#include "pyrite_AppThread.h"
#include "pyrite_VEXABackupFunc.h"

namespace PYRITE {

// One parameter database of the process: id, name, whether its changes mark the scene as edited, and the backup
// file that keeps it (1 "CurrentBackupFile.bup" ... 4 "SystemBackupFile.bup", 0 none).
struct PdbCreationEntry
{
    u32 m_id;
    const char* m_name;
    u32 m_sceneEditTracking;
    u32 m_backupGroup;
};

// One fixed component: the database it lives in, its uid, its type name and version, its description file in the
// descriptor folder, and the parameter strategy of its type (null: the default one).
struct PdbFileEntry
{
    u32 m_databaseId;
    u32 m_componentId;
    const char* m_name;
    u32 m_version;
    std::string m_fileName;
    LPC::LpcNqParameterStrategy* m_strategy;
};

class PyriteDeviceControlThread : public PyriteAppThread
{
public:
    static constexpr u32 QUEUE_CAPACITY = 5;

    static constexpr u32 PDB_COUNT = 11;
    static constexpr u32 PDB_FILE_COUNT = 17;
    static constexpr u32 STATUS_DB_ID = 6;
    static constexpr u32 COMPONENT_DB_ID = 10;
    static constexpr u32 NQ_VOLATILE_COMPONENT = 2;
    static const PdbCreationEntry CREATION_TABLE[PDB_COUNT];

    // The backups, in the order of their groups 1 to 4.
    static constexpr u32 BACKUP_COUNT = 4;
    static constexpr u32 BACKUP_CURRENT = 0;
    static constexpr u32 BACKUP_CURRENT_LIST = 1;
    static constexpr u32 BACKUP_CURRENT_UNLOADABLE = 2;
    static constexpr u32 BACKUP_SYSTEM = 3;
    static constexpr const char* BACKUP_TAG = "ZethImage";
    static constexpr u32 BACKUP_INTERVAL_MS = 10000;
    static constexpr u32 BACKUP_TIMER = 0;
    static constexpr u32 BACKUP_TIMER_INTERVAL_MS = 1000;

    // The state word: memory backups run only while idle.
    static constexpr u32 STATE_NONE = 0;
    static constexpr u32 STATE_IDLE = 1;
    static constexpr u32 STATE_SAVING_PROJECT = 2;
    static constexpr u32 STATE_LOADING = 3;
    static constexpr u32 STATE_SYNCHRONISING = 4;
    static constexpr u32 STATE_STOPPED = 5;

    // "ZOVORaState": the configuration state.
    static constexpr u32 CONFIG_EMPTY = 1;
    static constexpr u32 CONFIG_CONSTRUCT = 2;
    static constexpr u32 CONFIG_RUNNING = 3;
    static constexpr u32 CONFIG_ERASE = 5;

    static constexpr const char* DEFAULT_FILE_NAME = "UserDefault.dat";

    // Builds the parameter-link set and the component-description table.
    PyriteDeviceControlThread();
    ~PyriteDeviceControlThread() override;

    u32 onTimer(u32 timerId, u32 count) override;
    // Creates the databases and their components, initialises the link set, starts the collections and sets the
    // backups up. The link set's initialisation result (the base result without a link set).
    u32 onInitialize(const TMS::FieldMap& arguments) override;
    u32 onChangeStatus(u32 status, const TMS::FieldMap& arguments) override;
    u32 onChangeSystemInfo() override;
    // Runs the command of the message (see above). 0.
    u32 onReceiveMessage(const TMS::AbstractMessage& message) override;
    // Final backups, collections stopped, databases cleared and deleted: the ORed results.
    u32 onFinalize() override;
    u32 onChangePDB() override;
    // Carries the "Status" database's "InitSyncNum" counters to the remaining counts, requests the backup of the
    // database's group and marks the scene as edited for a change that counts as an edit. 0.
    u32 onChangePDBParam(PDB::IParameterDB* database, u32 component, u32 parameter, u32 x, u32 y, u32 key) override;

    // Under the component database's write lock: restores the "Current" and "CurrentList" backups when asked,
    // reloads the scene and preset lists and updates every parameter link; then tells "DeviceControlForNQ"
    // (user event 9). The ORed results.
    u32 refresh(bool restoreFirst);
    // Writes "/Scene/Status/EnableSceneView" of "nqVolatile" through the position-control setter.
    u32 enableSceneView(u32 value);

    // The component-description table (17 rows) with the strategies of this process.
    static void initPdbFileTable(PdbFileEntry (&table)[PDB_FILE_COUNT]);
    // Item name -> folder of the project contents ("Current", "CurrentList", "Preset:3DRev", "Snapshot"), built on
    // first use from the storage root.
    static const std::map<std::string, std::string>& getProjectContents();
    static std::string getPresetDirectory();
    static std::string getSnapshotDirectory();

    u32 getState() const { return m_state.load(std::memory_order_acquire); }
    VEXABackupFunc& getBackup(u32 index) { return m_backups[index]; }
    LPC::SceneList& getSceneList() { return *m_scenes; }
    LPC::PresetList& getPresetList() { return *m_presets; }
    LPC::Project& getProject() { return *m_projectHandler; }
    LPC::PDBLinkNq* getLinkSet() const { return m_linkSet.get(); }
    const PdbFileEntry& getPdbFile(u32 row) const { return m_pdbFiles[row]; }
    // Set by "PrepareToSync": the data of the coming synchronisation flows towards this program.
    bool getSyncDirection() const { return m_syncDirection != 0; }
    // Percentage of the running or last project save or load.
    u32 getProjectProgress() const { return m_projectProgress.load(std::memory_order_acquire); }

protected:
    // The same with stand-ins for the scene list, the preset list and the project (they must outlive the thread).
    PyriteDeviceControlThread(LPC::SceneList& scenes, LPC::PresetList& presets, LPC::Project& project);

    // Every change of the state word goes through here.
    virtual void setState(u32 state);

private:
    using Handler = void (PyriteDeviceControlThread::*)(const TMS::AbstractMessage&);
    struct Command
    {
        const char* m_name;
        Handler m_handler;
    };
    static const Command COMMANDS[];

    void createComponent(const PdbFileEntry& row, const std::string& descriptorDirectory);
    void setUpBackups();
    void construct();
    void copyRemainingCount(PDB::IParameterDB& database, u32 component, u32 parameter, u32 x, u32 y);

    void addComponent(const TMS::AbstractMessage& message);
    void removeComponent(const TMS::AbstractMessage& message);
    void changeComponentType(const TMS::AbstractMessage& message);
    void addConnection(const TMS::AbstractMessage& message);
    void removeConnection(const TMS::AbstractMessage& message);
    void setComponentDefault(const TMS::AbstractMessage& message);
    void removeComponentDefault(const TMS::AbstractMessage& message);
    void addPDBComponent(const TMS::AbstractMessage& message);
    void removePDBComponent(const TMS::AbstractMessage& message);
    void addAudioComponent(const TMS::AbstractMessage& message);
    void removeAudioComponent(const TMS::AbstractMessage& message);
    void initializeTarget(const TMS::AbstractMessage& message);
    void backupTarget(const TMS::AbstractMessage& message);
    void saveProject(const TMS::AbstractMessage& message);
    void loadProject(const TMS::AbstractMessage& message);
    void scene(const TMS::AbstractMessage& message);
    void nqScene(const TMS::AbstractMessage& message);
    void nqPreset(const TMS::AbstractMessage& message);
    void nqSpeakerPosition(const TMS::AbstractMessage& message);
    void nqProject(const TMS::AbstractMessage& message);
    void nqSync(const TMS::AbstractMessage& message);
    void nqShowAllValues(const TMS::AbstractMessage& message);
    void nqSetMinValue(const TMS::AbstractMessage& message);
    void nqSetMaxValue(const TMS::AbstractMessage& message);
    void eraseConfig(const TMS::AbstractMessage& message);
    void applyConfig(const TMS::AbstractMessage& message);
    void prepareToSync(const TMS::AbstractMessage& message);
    void syncAbort(const TMS::AbstractMessage& message);
    void startConfig(const TMS::AbstractMessage& message);
    void isSameConfig(const TMS::AbstractMessage& message);
    void synchronize(const TMS::AbstractMessage& message);

    void storeScene(const TMS::AbstractMessage& message);
    void recallScene(const TMS::AbstractMessage& message);
    // The scene-recall completion: the current 3DRev preset, then every link.
    void completeSceneRecall();
    // Takes the pending changes in first (a recall's refresh marks the scene as edited), then clears the flag.
    void clearSceneEdit();
    void notifySceneChange(const TMS::AbstractMessage& message, const char* operation, const char* status);
    void saveProjectFile(const char* path);
    void loadProjectFile(const char* path);
    void setRemainingCounts(u32 scenes, u32 library);

    // Removes the component-database component uid when it is of that type and version (the one an audio component
    // made) and requests the backup of the component database.
    void removeDatabaseComponent(u32 uid, const std::string& type, u32 version);
    // The recall of <path>/<name>/UserDefault.dat into component uid after a good add.
    u32 recallComponentDefault(const char* path, const char* name, u32 uid);
    // The checks of the two default commands: 0, or 0x80000000 with nothing to do.
    u32 checkComponentDefault(const TMS::AbstractMessage& message, u32 uid);
    void replyComponentDefault(const TMS::AbstractMessage& message, const char* command, u32 result);
    void replyConnection(const TMS::AbstractMessage& message, const char* command, u32 result);

    PDB::SimpleReadWriteMutex m_pdbLock;
    VEXABackupFunc m_backups[BACKUP_COUNT];
    LPC::SceneList m_sceneList;
    LPC::PresetList m_presetList;
    LPC::Project m_project;
    // The services in use: the three above, or the stand-ins.
    LPC::SceneList* m_scenes;
    LPC::PresetList* m_presets;
    LPC::Project* m_projectHandler;
    PDB::ParameterAddress m_snapshotInitSyncAddress;
    PDB::ParameterAddress m_parameterSetInitSyncAddress;
    std::atomic<u32> m_state{STATE_NONE};
    std::atomic<u32> m_projectProgress{0};
    u8 m_syncDirection = 1;
    std::unique_ptr<LPC::PDBLinkNq> m_linkSet;
    PdbFileEntry m_pdbFiles[PDB_FILE_COUNT];
};

} // namespace PYRITE
