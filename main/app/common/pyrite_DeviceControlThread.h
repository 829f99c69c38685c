// PyriteDeviceControlThread: the thread "DeviceControl" (stage 2, queue of 5 messages). It owns the eleven
// parameter databases of the process and their fixed components (read from the component descriptions of the
// descriptor folder), starts the audio component collection, the audio configuration and the logic component
// collection, keeps the four memory backups, the scene and preset lists, the project and the parameter-link set,
// and executes the command messages that other threads post to it.
//
// Life: onInitialize creates the databases and components and sets the backups up; entering RUN from STOP
// subscribes to parameter changes, starts timer 0 (1000 ms) and publishes "PDBState" 1, "DebugState" 0 and
// "ZOVORaState" 2; "ZOVORaState" 2 restores the backups and builds the lists ("ZOVORaState" 3, state word 1);
// while idle (state word 1) timer 0 writes the requested backups; onFinalize writes both generations of every
// backup, stops the collections and deletes the databases ("PDBState" 0 when all of that succeeded).
//
// Commands (field "CommandName"; a message with another code than 0, or a name not listed, is dropped):
//   "addComponent" {"ComponentName" text (else no reply), "MajorVersion", "UniqID", "NumX", "NumY",
//       "ComponentDefaultPath" text (optional), "Factor"} -> "Re:addComponent" {"ComponentName", "MajorVersion",
//       "UniqID", "NumX", "NumY", "Factor", "Result"} to "VDProtocol". With a path, the component default
//       <path>/<name>/UserDefault.dat is recalled into the new component: a failed add gives the add's code, a
//       missing or unreadable default after a good add 0 (logged), a failed recall the recall's code.
//   "removeComponent" {"ComponentName" text (optional), "UniqID", "Factor"} -> "Re:removeComponent"
//       {"ComponentName" (empty when absent), "UniqID", "Factor", "Result"} to "VDProtocol".
//   "changeComponentType" {"ComponentName", "UniqID", "Factor"} -> "Re:changeComponentType" {same, "Result"
//       0x80000000} to "VDProtocol"; nothing changes.
//   "addConnection", "removeConnection" {"fromUniqId", "fromPortNo", "toUniqId", "toPortNo", "Factor"} ->
//       "Re:<command>" {the four, "Factor", "Result"} to "VDProtocol".
//   "setComponentDefault", "removeComponentDefault" {"ComponentName", "ComponentDefaultPath", "UniqID", "Factor"}
//       -> "Re:<command>" {"ComponentName", "UniqID", "Factor", "ComponentDefaultPath", "Result"} to
//       "VDProtocol": writes or deletes <path>/<name>/UserDefault.dat (a missing file is 0 for the delete).
//       0x80000000 for an empty name or path, a name that is "." or ".." or holds "/" or "\", or a name other than
//       the type name of component UniqID; nothing is touched then.
//   "addPDBComponent" {"UniqId", "ComponentName", "Version", "NumX", "NumY"}, "removePDBComponent" {"UniqId"}:
//       a component of the component database; no reply (a failure is printed).
//   "addAudioComponent" {"ComponentName", "MajorVersion", "UniqID", "NumX", "NumY"}, "removeAudioComponent"
//       {"UniqID"}: an audio component; no reply.
//   "Initialize" {"Target"} -> "Re:Initialize" {"Target", "Result"} and "Backup" {"Target", "Reason"} ->
//       "Re:Backup" {"Target", "Reason", "Result"}, both to "GUIBridge" (no such thread: the replies are lost).
//   "SaveProject" {"PDBID", "FilePath"}: the binary image of database PDBID replaces the file (nothing is written
//       when the image cannot be made). "LoadProject" {"PDBID", "FilePath"}: imports such a file into the
//       database, then posts {"CommandName" "Connect"} to "Sync" whatever the outcome.
// "Factor" is echoed as a signed integer (0 when absent), the other integers as unsigned values, "Result" as an
// unsigned result code.
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
    LPC::SceneList& getSceneList() { return m_sceneList; }
    LPC::PresetList& getPresetList() { return m_presetList; }
    LPC::Project& getProject() { return m_project; }
    LPC::PDBLinkNq* getLinkSet() const { return m_linkSet.get(); }
    const PdbFileEntry& getPdbFile(u32 row) const { return m_pdbFiles[row]; }

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
    PDB::ParameterAddress m_snapshotInitSyncAddress;
    PDB::ParameterAddress m_parameterSetInitSyncAddress;
    std::atomic<u32> m_state{STATE_NONE};
    std::unique_ptr<LPC::PDBLinkNq> m_linkSet;
    PdbFileEntry m_pdbFiles[PDB_FILE_COUNT];
};

} // namespace PYRITE
