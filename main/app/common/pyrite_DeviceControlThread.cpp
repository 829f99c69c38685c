#include "pyrite_DeviceControlThread.h"

#include <new>
#include <vector>

#include "dadov_AudioComponentCollection.h"
#include "dadov_AudioConfigDB.h"
#include "fcache_BinaryAccessor.h"
#include "fsw_api.h"
#include "klib_Print.h"
#include "logic_LogicComponentCollection.h"
#include "lpc_Parameter.h"
#include "mms_SelectedItemLoader.h"
#include "pdb_ComponentInfoParserJSON.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_ParameterDBCollection.h"
#include "pyrite_ProductInfo.h"
#include "pyrite_Result.h"
#include "tms_ThreadRepository.h"

namespace PYRITE {

namespace {

constexpr u32 MAX_THREADS = 100;
constexpr u8 WRITE_ALL = 0xFF;
constexpr u32 PDB_CONFIG_EVENT = 9;
// A description larger than this is not a description.
constexpr u64 MAX_DESCRIPTION_SIZE = 16u << 20;

const char* const BACKUP_FILE_NAMES[PyriteDeviceControlThread::BACKUP_COUNT] = {
    "CurrentBackupFile.bup", "CurrentListBackupFile.bup", "CurrentUnloadableBackupFile.bup", "SystemBackupFile.bup"};
// Rows of the product information's path table holding the backup folders.
constexpr int BACKUP_PATH_ROWS[PyriteDeviceControlThread::BACKUP_COUNT] = {2, 3, 4, 8};

constexpr const char* SNAPSHOT_INIT_SYNC = "/DirSyncFrom/Snapshot/InitSyncNum";
constexpr const char* PARAMETER_SET_INIT_SYNC = "/DirSyncFrom/ParameterSet/InitSyncNum";
constexpr const char* SCENE_REMAINING = "/Scene/Sync/Scene/remainingNum";
constexpr const char* LIBRARY_REMAINING = "/Scene/Sync/Library/remainingNum";
constexpr const char* ENABLE_SCENE_VIEW = "/Scene/Status/EnableSceneView";

std::string storageRoot()
{
    std::string root;
    PyriteProductInfo::getInstance().getPath(root, 0, PyriteProductInfo::COLUMN_STORAGE);
    return root;
}

// The whole file as a NUL-terminated text; false when it cannot be opened, sized or read whole.
bool readText(const std::string& path, std::vector<char>& text)
{
    FILECACHE::FileAccessor file;
    u64 size = 0;
    if (file.open(path.c_str(), FILECACHE::FileAccessor::kModeRead) < 0 || file.getSize(&size) < 0 ||
        size > MAX_DESCRIPTION_SIZE) {
        return false;
    }
    text.assign(static_cast<size_t>(size) + 1, '\0');
    u32 got = 0;
    return file.read(text.data(), static_cast<u32>(size), &got) >= 0 && got == size;
}

const PdbCreationEntry* findCreationEntry(u32 id)
{
    for (const PdbCreationEntry& entry : PyriteDeviceControlThread::CREATION_TABLE) {
        if (entry.m_id == id) {
            return &entry;
        }
    }
    return nullptr;
}

bool isAddress(const PDB::ParameterAddress& address, u32 component, u32 parameter)
{
    return address.isValid() && address.getComponentIndex() == component && address.getBlockIndex() == parameter;
}

} // namespace

const PdbCreationEntry PyriteDeviceControlThread::CREATION_TABLE[PDB_COUNT] = {
    {0, "Profile", 0, 1},      {1, "DeviceSetup", 0, 1}, {2, "StaticSetup", 0, 1}, {3, "LocalSetup", 0, 1},
    {4, "VDeviceSetup", 0, 1}, {5, "CommonSetup", 0, 1}, {6, "Status", 0, 1},      {7, "SnapshotInfo", 0, 1},
    {8, "PresetInfo", 0, 0},   {9, "ProjectInfo", 0, 1}, {10, "AudioCompo", 1, 1},
};

PyriteDeviceControlThread::PyriteDeviceControlThread()
    : PyriteAppThread(QUEUE_CAPACITY), m_scenes(&m_sceneList), m_presets(&m_presetList), m_projectHandler(&m_project),
      m_linkSet(new (std::nothrow) LPC::PDBLinkNq())
{
    initPdbFileTable(m_pdbFiles);
}

PyriteDeviceControlThread::PyriteDeviceControlThread(LPC::SceneList& scenes, LPC::PresetList& presets,
                                                     LPC::Project& project)
    : PyriteDeviceControlThread()
{
    m_scenes = &scenes;
    m_presets = &presets;
    m_projectHandler = &project;
}

void PyriteDeviceControlThread::setState(u32 state)
{
    m_state.store(state, std::memory_order_release);
}

PyriteDeviceControlThread::~PyriteDeviceControlThread()
{
    release();
    if (LPC::getPDBLink() == m_linkSet.get()) {
        LPC::setPDBLink(nullptr);
    }
}

void PyriteDeviceControlThread::initPdbFileTable(PdbFileEntry (&table)[PDB_FILE_COUNT])
{
    static const char* const NQ_NAMES[PDB_FILE_COUNT - COMPONENT_DB_ID] = {
        "nqCurrent", "nqSetup", "nqVolatile", "nqSceneStatus", "nqSceneList", "nqPresetStatus", "nqPresetList"};
    constexpr u32 VERSION = 1;
    u32 row = 0;
    for (u32 id = 0; id < COMPONENT_DB_ID; ++id, ++row) {
        const char* name = CREATION_TABLE[id].m_name;
        table[row] = {id, 0, name, VERSION, std::string(name) + "_" + std::to_string(VERSION) + ".json", nullptr};
    }
    for (u32 component = 0; row < PDB_FILE_COUNT; ++component, ++row) {
        const char* name = NQ_NAMES[component];
        table[row] = {
            COMPONENT_DB_ID, component, name, VERSION, std::string(name) + "_" + std::to_string(VERSION) + ".json",
            nullptr};
    }
    table[COMPONENT_DB_ID].m_strategy = &LPC::LpcNqParameterStrategyCurrent::getInstance();
    table[COMPONENT_DB_ID + 1].m_strategy = &LPC::LpcNqParameterStrategySetup::getInstance();
}

const std::map<std::string, std::string>& PyriteDeviceControlThread::getProjectContents()
{
    static const std::map<std::string, std::string> contents = [] {
        const std::string root = storageRoot();
        return std::map<std::string, std::string>{{"Current", root + "/Current"},
                                                  {"CurrentList", root + "/CurrentList"},
                                                  {"Preset:3DRev", root + "/Preset/3DRev"},
                                                  {"Snapshot", root + "/Snapshot"}};
    }();
    return contents;
}

std::string PyriteDeviceControlThread::getPresetDirectory()
{
    return storageRoot() + "/Preset";
}

std::string PyriteDeviceControlThread::getSnapshotDirectory()
{
    return storageRoot() + "/Snapshot";
}

// ---------------------------------------------------------------------------------------------------------------
// Start-up
// ---------------------------------------------------------------------------------------------------------------

u32 PyriteDeviceControlThread::onInitialize(const TMS::FieldMap& arguments)
{
    u32 result = PyriteAppThread::onInitialize(arguments);
    for (const PdbCreationEntry& entry : CREATION_TABLE) {
        if (PDB::ParameterDBCollection::createInstance(entry.m_id, entry.m_name, &m_pdbLock, 0) < 0) {
            log("[E] PyriteDeviceControlThread::onInitialize - Couldn't create the PDB instance[id=%d].\n",
                static_cast<int>(entry.m_id));
        }
    }
    std::string descriptors;
    PyriteProductInfo::getInstance().getDescriptorPath(descriptors);
    for (const PdbFileEntry& row : m_pdbFiles) {
        createComponent(row, descriptors);
    }

    if (m_linkSet != nullptr) {
        result = m_linkSet->initialize();
        if (result == PYRITE_OK) {
            LPC::setPDBLink(m_linkSet.get());
        }
    }

    std::string components;
    PyriteProductInfo::getInstance().getComponentPath(components);
    components += "/";
    (void)DADOV::AudioComponentCollection::getInstance().initialize(components.c_str(), MAX_THREADS);
    (void)DADOV::AudioConfigDB::getInstance().initialize();
    (void)LogicCtrl::LogicComponentCollection::getInstance().initialize();

    setUpBackups();
    return result;
}

void PyriteDeviceControlThread::createComponent(const PdbFileEntry& row, const std::string& descriptorDirectory)
{
    std::vector<char> text;
    if (!readText(descriptorDirectory + "/" + row.m_fileName, text)) {
        return;
    }
    PDB::ComponentInfo info = PDB::ComponentInfoParserJSON::createFromJson(text.data());
    info.setParameterStrategy(row.m_strategy != nullptr ? static_cast<PDB::ParameterStrategy*>(row.m_strategy)
                                                        : PDB::getDefaultStrategy());
    PDB::ComponentInfoRepository::getInstance().registerComponentInfo(info);

    PDB::IParameterDB& database = PDB::ParameterDBCollection::getInstance(row.m_databaseId);
    if (database.addComponent(row.m_componentId, row.m_name, row.m_version, 0, 0, 0) < 0) {
        log("[E] PyriteDeviceControlThread::onInitialize - Cannot make 'Component[%d:%s]'!\n",
            static_cast<int>(row.m_componentId), info.getName().c_str());
    }
    if (row.m_strategy != nullptr) {
        row.m_strategy->setDatabase(&database);
    }
    database.setAllToDefault(database.getComponentIndex(row.m_componentId), WRITE_ALL);
}

void PyriteDeviceControlThread::setUpBackups()
{
    std::vector<PDB::IParameterDB*> groups[BACKUP_COUNT];
    for (u32 i = PDB_COUNT; i-- > 0;) {
        const PdbCreationEntry& entry = CREATION_TABLE[i];
        if (entry.m_backupGroup >= 1 && entry.m_backupGroup <= BACKUP_COUNT) {
            groups[entry.m_backupGroup - 1].push_back(&PDB::ParameterDBCollection::getInstance(entry.m_id));
        }
    }
    for (u32 i = 0; i < BACKUP_COUNT; ++i) {
        std::string directory;
        PyriteProductInfo::getInstance().getPath(directory, BACKUP_PATH_ROWS[i], PyriteProductInfo::COLUMN_STORAGE);
        if (m_backups[i].setup(directory.c_str(), BACKUP_FILE_NAMES[i], BACKUP_TAG, 0, groups[i], BACKUP_INTERVAL_MS) !=
            PYRITE_OK) {
            log("[E] PyriteDeviceControlThread::onInitialize - Cannot set up the backup[%s]!\n", BACKUP_FILE_NAMES[i]);
            continue;
        }
        // A process that ended during a backup left its temporaries behind; nothing else writes this folder yet.
        (void)m_backups[i].removeTemporaries();
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Status and system information
// ---------------------------------------------------------------------------------------------------------------

u32 PyriteDeviceControlThread::onChangeStatus(u32 status, const TMS::FieldMap& arguments)
{
    if (status == TMS::STATUS_STOP || status == TMS::STATUS_CLOSING) {
        setState(STATE_STOPPED);
        getTimers().removeTimer(BACKUP_TIMER, true);
        if (status == TMS::STATUS_CLOSING) {
            DADOV::AudioComponentCollection::getInstance().reqRemoveAllComponents();
        }
    } else if (status == TMS::STATUS_RUN && getStatus() == TMS::STATUS_STOP) {
        registerPDBCallback(0, PDB::ParameterFilter());
        PDB::IParameterDB& statusDb = PDB::ParameterDBCollection::getInstance(STATUS_DB_ID);
        m_snapshotInitSyncAddress = statusDb.resolveAddress(PDB::ComponentUID(0), SNAPSHOT_INIT_SYNC);
        m_parameterSetInitSyncAddress = statusDb.resolveAddress(PDB::ComponentUID(0), PARAMETER_SET_INIT_SYNC);
        getTimers().setTimer(BACKUP_TIMER, BACKUP_TIMER_INTERVAL_MS, false, this);
        getTimers().getTimer(BACKUP_TIMER).start();
        setSystemInfo("PDBState", 0, KVariant(1u));
        setSystemInfo("DebugState", 0, KVariant(0u));
        setSystemInfo("ZOVORaState", 0, KVariant(CONFIG_CONSTRUCT));
        commitSystemInfo();
    }
    return PyriteAppThread::onChangeStatus(status, arguments);
}

u32 PyriteDeviceControlThread::onChangeSystemInfo()
{
    const u32 result = PyriteAppThread::onChangeSystemInfo();
    if (!isSystemInfoDirty("ZOVORaState", 0, true)) {
        return result;
    }
    KVariant value;
    getSystemInfo(value, "ZOVORaState", 0);
    switch (value.getUInt()) {
    case CONFIG_CONSTRUCT:
        construct();
        break;
    case CONFIG_RUNNING:
        setState(STATE_IDLE);
        break;
    case CONFIG_ERASE:
        DADOV::AudioComponentCollection::getInstance().reqRemoveAllComponents();
        setSystemInfo("ZOVORaState", 0, KVariant(CONFIG_EMPTY));
        commitSystemInfo();
        break;
    default:
        break;
    }
    return result;
}

void PyriteDeviceControlThread::construct()
{
    log("[i] PyriteDeviceControlThread::onChangeSystemInfo - Started to construct all components.\n");
    for (VEXABackupFunc& backup : m_backups) {
        backup.restore();
    }
    const std::string backupDirectory = storageRoot() + "/Backup";
    const u32 made = fsw_makeDir(backupDirectory.c_str());
    if (made == FSW_OK || made == FSW_DIR_EXISTED) {
        log("[i] \"%s\" directory force created\n", backupDirectory.c_str());
    }
    (void)m_scenes->initialize(getSnapshotDirectory().c_str(), backupDirectory.c_str());
    (void)m_presets->initialize(getPresetDirectory().c_str());
    if (MMSFUNC::getSelectedItemLoader() == nullptr) {
        MMSFUNC::registerSelectedItemLoader(MMSFUNC::getDefaultSelectedItemLoader());
    }
    (void)m_projectHandler->initialize(getProjectContents(), MMSFUNC::getSelectedItemLoader());
    refresh(true);
    setSystemInfo("ZOVORaState", 0, KVariant(CONFIG_RUNNING));
    commitSystemInfo();
}

u32 PyriteDeviceControlThread::refresh(bool restoreFirst)
{
    klib_printf("PyriteDeviceControlThread::refresh enter\n");
    PDB::IParameterDB& components = LPC::getComponentDB();
    components.lockWrite();
    u32 result = PYRITE_OK;
    if (restoreFirst) {
        result |= m_backups[BACKUP_CURRENT].restore() | m_backups[BACKUP_CURRENT_LIST].restore();
    }
    result |= m_scenes->reload() | m_presets->reload();
    if (m_linkSet != nullptr) {
        result |= m_linkSet->updateAllLinks(1);
    }
    components.unlockWrite();
    // The position-control thread reads the database configuration again.
    TMS::ThreadRepository::acquireThread("DeviceControlForNQ")->setUserEvent(PDB_CONFIG_EVENT);
    klib_printf("PyriteDeviceControlThread::refresh leave\n");
    return result;
}

u32 PyriteDeviceControlThread::enableSceneView(u32 value)
{
    return LPC::setParameterValue(NQ_VOLATILE_COMPONENT, ENABLE_SCENE_VIEW, 0, 0, KVariant(value), -1);
}

// ---------------------------------------------------------------------------------------------------------------
// Changes and timer
// ---------------------------------------------------------------------------------------------------------------

u32 PyriteDeviceControlThread::onChangePDB()
{
    PyriteAppThread::onChangePDB();
    return 0;
}

u32 PyriteDeviceControlThread::onChangePDBParam(PDB::IParameterDB* database, u32 component, u32 parameter, u32 x, u32 y,
                                                u32 key)
{
    (void)key;
    if (database == nullptr) {
        return 0;
    }
    const u32 id = database->getDBId();
    if (id == STATUS_DB_ID) {
        copyRemainingCount(*database, component, parameter, x, y);
    }
    const PdbCreationEntry* entry = findCreationEntry(id);
    if (entry == nullptr) {
        return 0;
    }
    if (entry->m_backupGroup >= 1 && entry->m_backupGroup <= BACKUP_COUNT) {
        m_backups[entry->m_backupGroup - 1].requestBackup();
    }
    if (entry->m_sceneEditTracking != 0) {
        const PDB::ParameterInfo* info = database->getParameterInfo(component, parameter);
        if (info != nullptr && !info->getAttribute().isNoEdit()) {
            m_scenes->setEditFlag(1);
        }
    }
    return 0;
}

void PyriteDeviceControlThread::copyRemainingCount(PDB::IParameterDB& database, u32 component, u32 parameter, u32 x,
                                                   u32 y)
{
    const char* target = isAddress(m_snapshotInitSyncAddress, component, parameter)       ? SCENE_REMAINING
                         : isAddress(m_parameterSetInitSyncAddress, component, parameter) ? LIBRARY_REMAINING
                                                                                          : nullptr;
    if (target != nullptr) {
        const u32 count = database.getValueUInt(component, parameter, x, y, nullptr);
        (void)LPC::setParameterValue(NQ_VOLATILE_COMPONENT, target, 0, 0, KVariant(count), -1);
    }
}

u32 PyriteDeviceControlThread::onTimer(u32 timerId, u32 count)
{
    (void)count;
    if (timerId == BACKUP_TIMER && getState() == STATE_IDLE) {
        for (VEXABackupFunc& backup : m_backups) {
            (void)backup.backupOnTimer();
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Finalisation
// ---------------------------------------------------------------------------------------------------------------

u32 PyriteDeviceControlThread::onFinalize()
{
    u32 result = PyriteAppThread::onFinalize();
    for (VEXABackupFunc& backup : m_backups) {
        result |= backup.finalBackup();
    }
    result |= static_cast<u32>(LogicCtrl::LogicComponentCollection::getInstance().finalize());
    result |= static_cast<u32>(DADOV::AudioConfigDB::getInstance().finalize());
    result |= static_cast<u32>(DADOV::AudioComponentCollection::getInstance().finalize());
    if (LPC::getPDBLink() == m_linkSet.get()) {
        LPC::setPDBLink(nullptr);
    }
    for (const PdbFileEntry& row : m_pdbFiles) {
        if (row.m_strategy != nullptr) {
            row.m_strategy->setDatabase(nullptr);
        }
    }
    for (u32 id = 0; id < PDB_COUNT; ++id) {
        result |= static_cast<u32>(PDB::ParameterDBCollection::getInstance(id).clear());
    }
    for (const PdbCreationEntry& entry : CREATION_TABLE) {
        result |= static_cast<u32>(PDB::ParameterDBCollection::deleteInstance(entry.m_id));
    }
    if (!pyriteFailed(result)) {
        setSystemInfo("PDBState", 0, KVariant(0u));
        commitSystemInfo();
    }
    return result;
}

} // namespace PYRITE
