// The device-control thread on real threads: start-up from the layout's component descriptions and plug-in in a
// temporary folder, its commands answered to stand-in threads, memory backups, the scene edit flag and
// finalisation.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "appcommon_DeviceFixture.h"
#include "appcommon_TestSupport.h"
#include "dadov_AudioComponentCollection.h"
#include "fsw_TestSupport.h"
#include "lpc_Parameter.h"
#include "os_Clock.h"
#include "pdb_ParameterDBCollection.h"
#include "pyrite_DeviceControlThread.h"
#include "pyrite_ProductInfo.h"
#include "tms_TestSupport.h"
#include "tms_ThreadTestSupport.h"

namespace {

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new tmstest::RepositoryEnvironment);

using PYRITE::PyriteDeviceControlThread;
using tmstest::waitUntil;
using namespace appcommontest;
namespace fs = std::filesystem;

constexpr u32 FAILED = 0x80000000;
constexpr u32 NONE = 0xFFFFFFFF;
constexpr u32 STATIC_SETUP = 2;
constexpr u32 STATUS = 6;
constexpr u32 PRESET_INFO = 8;

TMS::AbstractMessage addComponent(u32 uid, const char* name = "testgain")
{
    TMS::AbstractMessage message = command("addComponent");
    if (name != nullptr) {
        message.setString("ComponentName", name);
    }
    message.setUInt("MajorVersion", 1);
    message.setUInt("UniqID", uid);
    message.setUInt("NumX", 2);
    message.setUInt("NumY", 1);
    return message;
}

TMS::AbstractMessage defaultCommand(const char* name, const char* componentName, const std::string& path, u32 uid)
{
    TMS::AbstractMessage message = command(name);
    message.setString("ComponentName", componentName);
    message.setString("ComponentDefaultPath", path.c_str());
    message.setUInt("UniqID", uid);
    message.setInt("Factor", 3);
    return message;
}

std::vector<std::string> tree(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        names.push_back(entry.path().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(DeviceControl, StartsDatabasesComponentsAndBackups)
{
    fs::create_directories(m_storage + "/Snapshot");
    for (const char* file : {"2.zethis", "1.zethis", "notes.txt"}) {
        ASSERT_TRUE(fswtest::writeFile(m_storage + "/Snapshot/" + file, "x"));
    }
    start();
    for (const PYRITE::PdbCreationEntry& entry : PyriteDeviceControlThread::CREATION_TABLE) {
        EXPECT_EQ(PDB::ParameterDBCollection::findInstance(entry.m_name), static_cast<i32>(entry.m_id));
    }
    EXPECT_EQ(database(AUDIO).getComponentCount(), 7u);
    EXPECT_EQ(read(PROFILE, 0, "/VEXA/Capacity").getUInt(), 1333332u);
    EXPECT_EQ(read(AUDIO, 2, "/Scene/Status/EnableSceneView").getUInt(), 1u);

    const std::vector<std::string> states = m_device.m_journal.entries();
    const auto two = std::find(states.begin(), states.end(), "ZOVORaState 2");
    EXPECT_NE(std::find(two, states.end(), "ZOVORaState 3"), states.end());
    m_device.run([](Device& device) {
        for (auto [item, value] : {std::pair<const char*, u32>{"PDBState", 1}, {"DebugState", 0}, {"ZOVORaState", 3}}) {
            KVariant state;
            device.getSystemInfo(state, item, 0);
            EXPECT_EQ(state.getUInt(), value) << item;
        }
        // The lists and the project are set up on the storage folders.
        EXPECT_EQ(device.getSceneList().getSceneFiles(), (std::vector<std::string>{"1.zethis", "2.zethis"}));
        EXPECT_TRUE(device.getPresetList().getPresetFiles().empty());
        EXPECT_EQ(device.getProject().getProjectFile().getItems(), PyriteDeviceControlThread::getProjectContents());
        EXPECT_NE(device.getProject().getProjectFile().getLoader(), nullptr);
    });
    EXPECT_TRUE(fs::is_directory(m_storage + "/Preset/3DRev"));
    EXPECT_TRUE(fs::is_directory(m_storage + "/Backup"));
    EXPECT_TRUE(m_device.logged("[i] \"" + m_storage + "/Backup\" directory force created\n"));
    for (const char* file : {"/Current/CurrentBackupFile.bup", "/CurrentList/CurrentListBackupFile.bup",
                             "/CurrentUnloadable/CurrentUnloadableBackupFile.bup", "/System/SystemBackupFile.bup"}) {
        EXPECT_TRUE(fs::exists(m_storage + file)) << file;
        EXPECT_TRUE(fs::exists(m_storage + file + ".old")) << file;
    }
}

TEST_F(DeviceControl, SkipsMissingDescriptionsAndLogsComponentsThatCannotBeAdded)
{
    start({"nqVolatile_1.json"}, "nqSetup_1.json");
    EXPECT_EQ(database(AUDIO).getComponentCount(), 5u);
    EXPECT_EQ(database(AUDIO).getComponentIndex(2), NONE);
    EXPECT_EQ(database(AUDIO).getComponentIndex(1), NONE);
    EXPECT_TRUE(m_device.logged("[E] PyriteDeviceControlThread::onInitialize - Cannot make 'Component[1:Broken]'!\n"));
    for (const std::string& line : m_device.logLines()) {
        EXPECT_EQ(line.find("Component[2:"), std::string::npos) << line;
    }
}

TEST_F(DeviceControl, ComponentAndConnectionCommands)
{
    start();
    TMS::AbstractMessage add = addComponent(100);
    std::optional<TMS::AbstractMessage> reply = ask(add, m_vdp);
    ASSERT_TRUE(reply);
    EXPECT_EQ(text(*reply, "CommandName"), "Re:addComponent");
    EXPECT_EQ(reply->getFields().size(), 8u);
    EXPECT_EQ(text(*reply, "ComponentName"), "testgain");
    for (auto [field, value] : {std::pair<const char*, u32>{"MajorVersion", 1},
                                {"UniqID", 100},
                                {"NumX", 2},
                                {"NumY", 1},
                                {"Factor", 0},
                                {"Result", 0}}) {
        EXPECT_EQ(number(*reply, field), value) << field;
    }
    EXPECT_EQ(reply->getValue("Factor").getKind(), 0u); // a signed integer
    EXPECT_NE(database(AUDIO).getComponentIndex(100), NONE);
    reply = ask(addComponent(101), m_vdp);
    ASSERT_TRUE(reply);
    ASSERT_EQ(number(*reply, "Result"), 0u);

    // A connection 100:0 -> 101:0 comes and goes; port 1 does not exist.
    auto connection = [](const char* name, u32 toPort) {
        TMS::AbstractMessage message = command(name);
        message.setUInt("fromUniqId", 100);
        message.setUInt("fromPortNo", 0);
        message.setUInt("toUniqId", 101);
        message.setUInt("toPortNo", toPort);
        message.setInt("Factor", -4);
        return message;
    };
    auto connections = [&] {
        std::vector<DADOV::AudioConnection> list;
        m_device.run([&](Device&) { (void)DADOV::AudioComponentCollection::getInstance().getConnections(list); });
        return list.size();
    };
    struct Case
    {
        const char* command;
        u32 toPort;
        u32 result;
        size_t connections;
    };
    for (const Case& c :
         {Case{"addConnection", 0, 0, 1}, Case{"addConnection", 1, FAILED, 1}, Case{"removeConnection", 0, 0, 0}}) {
        reply = ask(connection(c.command, c.toPort), m_vdp);
        ASSERT_TRUE(reply);
        EXPECT_EQ(text(*reply, "CommandName"), std::string("Re:") + c.command);
        EXPECT_EQ(reply->getFields().size(), 7u);
        EXPECT_EQ(number(*reply, "toUniqId"), 101u);
        EXPECT_EQ(number(*reply, "toPortNo"), c.toPort);
        EXPECT_EQ(reply->getValue("Factor").getInt(), -4);
        EXPECT_EQ(number(*reply, "Result"), c.result) << c.command << c.toPort;
        EXPECT_EQ(connections(), c.connections) << c.command << c.toPort;
    }

    TMS::AbstractMessage change = command("changeComponentType");
    change.setString("ComponentName", "testgain");
    change.setUInt("UniqID", 100);
    reply = ask(change, m_vdp);
    ASSERT_TRUE(reply);
    EXPECT_EQ(number(*reply, "Result"), FAILED);

    // Without a name there is no reply: the next reply is that of the next command.
    post(addComponent(102, nullptr));
    TMS::AbstractMessage remove = command("removeComponent");
    remove.setUInt("UniqID", 101);
    reply = ask(remove, m_vdp);
    ASSERT_TRUE(reply);
    EXPECT_EQ(text(*reply, "CommandName"), "Re:removeComponent");
    EXPECT_EQ(text(*reply, "ComponentName"), "");
    EXPECT_EQ(number(*reply, "Result"), 0u);
    remove.setString("ComponentName", "testgain");
    remove.setUInt("UniqID", 100);
    reply = ask(remove, m_vdp);
    ASSERT_TRUE(reply);
    EXPECT_EQ(text(*reply, "ComponentName"), "testgain");
    EXPECT_EQ(number(*reply, "Result"), 0u);
    m_device.run([](Device&) { EXPECT_EQ(DADOV::AudioComponentCollection::getInstance().getNumComponents(), 0u); });

    // "Initialize" and "Backup" answer "GUIBridge"; a message code other than 0 is dropped.
    struct Target
    {
        const char* command;
        const char* target;
        u32 result;
    };
    for (const Target& t : {Target{"Initialize", "Current", 0}, Target{"Initialize", "Nothing", FAILED},
                            Target{"Backup", "System", 0}, Target{"Backup", "Current", FAILED}}) {
        TMS::AbstractMessage message = command(t.command);
        message.setString("Target", t.target);
        message.setString("Reason", "test");
        reply = ask(message, m_bridge);
        ASSERT_TRUE(reply);
        EXPECT_EQ(text(*reply, "CommandName"), std::string("Re:") + t.command);
        EXPECT_EQ(text(*reply, "Target"), t.target);
        EXPECT_EQ(number(*reply, "Result"), t.result) << t.command << t.target;
    }
    EXPECT_TRUE(m_device.logged("[E] PyriteDeviceControlThread::onReceiveMessage - initialize failed!\n"));
    EXPECT_TRUE(m_device.logged("[E] PyriteDeviceControlThread::onReceiveMessage - backup failed!\n"));
    TMS::AbstractMessage coded;
    coded.initialize(TMS::MESSAGE_KIND_USER, 1);
    coded.setString("CommandName", "Initialize");
    post(coded);
    m_device.run([](Device&) {});
    m_bridge.run([] {});
    m_vdp.run([] {});
    EXPECT_EQ(m_bridge.pending() + m_vdp.pending(), 0u);
}

TEST_F(DeviceControl, RemovedComponentsLeaveTheComponentDatabaseAndItsBackup)
{
    start();
    const std::string current = m_storage + "/Current/CurrentBackupFile.bup";
    auto remove = [](u32 uid) {
        TMS::AbstractMessage message = command("removeComponent");
        message.setUInt("UniqID", uid);
        return message;
    };
    auto result = [&](const TMS::AbstractMessage& message) {
        const std::optional<TMS::AbstractMessage> reply = ask(message, m_vdp);
        return reply ? number(*reply, "Result") : NONE;
    };
    m_device.run([](Device& device) { ASSERT_EQ(device.getBackup(0).backup(), 0u); });
    const auto backupSize = fs::file_size(current);
    const u32 imageSize = database(AUDIO).getComponentTableSize();

    // A component added again under its uid starts from its defaults; a fixed component under a uid stays.
    ASSERT_EQ(result(addComponent(100)), 0u);
    ASSERT_EQ(write(AUDIO, 100, "/Gain", KVariant(-12.5f)), 0);
    m_device.run([](Device& device) { ASSERT_EQ(device.getBackup(0).backup(), 0u); });
    ASSERT_EQ(result(remove(100)), 0u);
    m_device.run([](Device& device) { EXPECT_TRUE(device.getBackup(0).isBackupRequested()); });
    ASSERT_EQ(result(addComponent(100)), 0u);
    EXPECT_FLOAT_EQ(read(AUDIO, 100, "/Gain").getFloat(), 0.0f);
    ASSERT_EQ(result(remove(100)), 0u);
    ASSERT_EQ(result(addComponent(NQ_VOLATILE)), 0u);
    ASSERT_EQ(result(remove(NQ_VOLATILE)), 0u);
    EXPECT_NE(database(AUDIO).getComponentIndex(NQ_VOLATILE), NONE);

    // Fresh uids, on the thread itself: a full queue of the stand-in costs a millisecond, not 100.
    const tmstest::SendRetryScope fastRetry(60000, 1);
    constexpr u32 CYCLES = 10000;
    u32 added = 0;
    u32 removed = 0;
    m_device.run([&](Device& device) {
        for (u32 uid = 1000; uid < 1000 + CYCLES; ++uid) {
            device.onReceiveMessage(addComponent(uid));
            added += database(AUDIO).getComponentIndex(uid) != NONE ? 1 : 0;
            device.onReceiveMessage(remove(uid));
            removed += database(AUDIO).getComponentIndex(uid) == NONE ? 1 : 0;
        }
        ASSERT_EQ(device.getBackup(0).backup(), 0u);
    });
    EXPECT_EQ(added, CYCLES);
    EXPECT_EQ(removed, CYCLES);
    EXPECT_EQ(database(AUDIO).getComponentCount(), 7u);
    EXPECT_EQ(database(AUDIO).getComponentTableSize(), imageSize);
    EXPECT_EQ(fs::file_size(current), backupSize);
}

// The backups remove their leftovers at start, the component default and the database image before they write.
TEST_F(DeviceControl, WritersRemoveTheirOwnLeftoverTemporariesOnly)
{
    struct Case
    {
        const char* path;
        bool stays;
    };
    const Case cases[] = {
        {"/Current/.CurrentBackupFile.bup.tmp-7ffffff0-1-1f2e3d4c", false},
        {"/Current/..CurrentBackupFile.bup.tmp-7ffffff0-1-1f2e3d4c.tmp-7ffffff0-2-5a6b7c8d", false},
        {"/System/.SystemBackupFile.bup.tmp-7ffffff0-1-00000001", false},
        {"/Current/notes.txt", true},
        {"/Current/CurrentBackupFile.bup.tmp-7ffffff0-1-1f2e3d4c", true},
        {"/Current/.CurrentBackupFile.bup.tmp-", true},
        {"/Current/.CurrentListBackupFile.bup.tmp-7ffffff0-1-1f2e3d4c", true},
        {"/Current/.other.tmp-7ffffff0-1-1f2e3d4c", true},
        {"/Snapshot/.CurrentBackupFile.bup.tmp-7ffffff0-1-1f2e3d4c", true},
        {"/defaults/testgain/.UserDefault.dat.tmp-7ffffff0-1-1f2e3d4c", false},
        {"/defaults/testgain/..UserDefault.dat.tmp-7ffffff0-1-1f2e3d4c.tmp-7ffffff0-2-5a6b7c8d", true},
        {"/images/.static.pdb.tmp-7ffffff0-1-1f2e3d4c", false},
        {"/images/.other.pdb.tmp-7ffffff0-1-1f2e3d4c", true},
    };
    for (const Case& c : cases) {
        fs::create_directories(fs::path(m_storage + c.path).parent_path());
        ASSERT_TRUE(fswtest::writeFile(m_storage + c.path, std::string(4096, 'x'))) << c.path;
    }
    start();
    ASSERT_TRUE(ask(addComponent(100), m_vdp));
    ASSERT_TRUE(ask(defaultCommand("setComponentDefault", "testgain", m_storage + "/defaults", 100), m_vdp));
    TMS::AbstractMessage save = command("SaveProject");
    save.setUInt("PDBID", STATIC_SETUP);
    save.setString("FilePath", (m_storage + "/images/static.pdb").c_str());
    serve(save);
    for (const Case& c : cases) {
        EXPECT_EQ(fs::exists(m_storage + c.path), c.stays) << c.path;
    }
}

TEST_F(DeviceControl, ComponentDefaults)
{
    start();
    const std::string defaults = m_folder / "defaults";
    ASSERT_TRUE(ask(addComponent(100), m_vdp));
    ASSERT_EQ(write(AUDIO, 100, "/Gain", KVariant(-12.5f)), 0);
    std::optional<TMS::AbstractMessage> reply =
        ask(defaultCommand("setComponentDefault", "testgain", defaults, 100), m_vdp);
    ASSERT_TRUE(reply);
    EXPECT_EQ(text(*reply, "CommandName"), "Re:setComponentDefault");
    EXPECT_EQ(reply->getFields().size(), 6u);
    EXPECT_EQ(text(*reply, "ComponentDefaultPath"), defaults);
    EXPECT_EQ(number(*reply, "UniqID"), 100u);
    EXPECT_EQ(reply->getValue("Factor").getInt(), 3);
    EXPECT_EQ(number(*reply, "Result"), 0u);
    ASSERT_TRUE(fs::exists(defaults + "/testgain/UserDefault.dat"));

    // A new component with the path gets the stored value back; a failed add reports its own code.
    ASSERT_EQ(write(AUDIO, 100, "/Gain", KVariant(3.0f)), 0);
    TMS::AbstractMessage add = addComponent(102);
    add.setString("ComponentDefaultPath", defaults.c_str());
    reply = ask(add, m_vdp);
    ASSERT_TRUE(reply);
    EXPECT_EQ(number(*reply, "Result"), 0u);
    EXPECT_FLOAT_EQ(read(AUDIO, 102, "/Gain").getFloat(), -12.5f);
    reply = ask(add, m_vdp);
    ASSERT_TRUE(reply);
    EXPECT_EQ(number(*reply, "Result"), FAILED);
    add.setUInt("UniqID", 103);
    add.setString("ComponentDefaultPath", (m_folder / "nowhere").c_str());
    reply = ask(add, m_vdp);
    ASSERT_TRUE(reply);
    EXPECT_EQ(number(*reply, "Result"), 0u);
    EXPECT_FLOAT_EQ(read(AUDIO, 103, "/Gain").getFloat(), 0.0f);

    // Names that are not the component's type, or not one plain name, touch nothing.
    const std::vector<std::string> before = tree(m_folder.path());
    for (const char* name : {"other", "../x", "..", ".", "a/b", "a\\b", ""}) {
        for (const char* name2 : {"setComponentDefault", "removeComponentDefault"}) {
            reply = ask(defaultCommand(name2, name, defaults, 100), m_vdp);
            ASSERT_TRUE(reply);
            EXPECT_EQ(number(*reply, "Result"), FAILED) << name2 << " " << name;
        }
    }
    add.setString("ComponentName", "../x");
    add.setUInt("UniqID", 104);
    reply = ask(add, m_vdp);
    ASSERT_TRUE(reply);
    EXPECT_EQ(tree(m_folder.path()), before);

    reply = ask(defaultCommand("removeComponentDefault", "testgain", defaults, 100), m_vdp);
    ASSERT_TRUE(reply);
    EXPECT_EQ(text(*reply, "CommandName"), "Re:removeComponentDefault");
    EXPECT_EQ(number(*reply, "Result"), 0u);
    EXPECT_FALSE(fs::exists(defaults + "/testgain/UserDefault.dat"));
    reply = ask(defaultCommand("removeComponentDefault", "testgain", defaults, 100), m_vdp);
    ASSERT_TRUE(reply);
    EXPECT_EQ(number(*reply, "Result"), 0u);
}

TEST_F(DeviceControl, ProjectsExportAndImportADatabase)
{
    start();
    const std::string project = m_folder / "static.pdb";
    auto image = [&](const char* name, u32 id, const std::string& path) {
        TMS::AbstractMessage message = command(name);
        message.setUInt("PDBID", id);
        message.setString("FilePath", path.c_str());
        return message;
    };
    ASSERT_EQ(write(STATIC_SETUP, 0, "/Setup/AdminPin", KVariant("1234")), 0);
    post(image("SaveProject", STATIC_SETUP, project));
    m_device.run([](Device&) {});
    ASSERT_EQ(write(STATIC_SETUP, 0, "/Setup/AdminPin", KVariant("9999")), 0);
    std::optional<TMS::AbstractMessage> connect = ask(image("LoadProject", STATIC_SETUP, project), m_sync);
    ASSERT_TRUE(connect);
    EXPECT_EQ(text(*connect, "CommandName"), "Connect");
    EXPECT_STREQ(read(STATIC_SETUP, 0, "/Setup/AdminPin").getString(), "1234");

    // A database that is not there exports nothing: the file stays as it was.
    ASSERT_TRUE(fswtest::writeFile(project, "old"));
    post(image("SaveProject", 15, project));
    post(image("SaveProject", 15, m_folder / "new.pdb"));
    m_device.run([](Device&) {});
    EXPECT_EQ(fswtest::readFile(project), "old");
    EXPECT_FALSE(fs::exists(m_folder / "new.pdb"));

    connect = ask(image("LoadProject", STATIC_SETUP, m_folder / "missing.pdb"), m_sync);
    ASSERT_TRUE(connect);
    EXPECT_EQ(text(*connect, "CommandName"), "Connect");
    EXPECT_STREQ(read(STATIC_SETUP, 0, "/Setup/AdminPin").getString(), "1234");
}

TEST_F(DeviceControl, ChangesRequestBackupsMarkSceneEditsAndCarryCounts)
{
    start();
    ASSERT_TRUE(ask(addComponent(100), m_vdp));
    struct Case
    {
        u32 db;
        u32 uid;
        const char* address;
        KVariant value;
        bool backup;
        bool edit;
    };
    for (const Case& c : {Case{PRESET_INFO, 0, "/Info/Title", KVariant("t"), false, false},
                          Case{AUDIO, 2, "/Scene/Status/EnableSceneView", KVariant(0u), true, false},
                          Case{PROFILE, 0, "/Specification/SyncVersion", KVariant(7u), true, false},
                          Case{AUDIO, 100, "/Gain", KVariant(-3.0f), true, true}}) {
        m_device.run([](Device& device) {
            for (u32 i = 0; i < PyriteDeviceControlThread::BACKUP_COUNT; ++i) {
                ASSERT_EQ(device.getBackup(i).backup(), 0u);
            }
            device.getSceneList().setEditFlag(0);
        });
        ASSERT_EQ(write(c.db, c.uid, c.address, c.value), 0) << c.address;
        m_device.run([&](Device& device) {
            EXPECT_EQ(device.getBackup(PyriteDeviceControlThread::BACKUP_CURRENT).isBackupRequested(), c.backup)
                << c.address;
            EXPECT_EQ(device.getSceneList().getEditFlag(), c.edit) << c.address;
            for (u32 i = PyriteDeviceControlThread::BACKUP_CURRENT_LIST; i < PyriteDeviceControlThread::BACKUP_COUNT;
                 ++i) {
                EXPECT_FALSE(device.getBackup(i).isBackupRequested());
            }
        });
    }

    // The synchronisation counters of unit x become the remaining counts of the scene view.
    ASSERT_EQ(write(STATUS, 0, "/DirSyncFrom/Snapshot/InitSyncNum", KVariant(42u), 3), 0);
    ASSERT_EQ(write(STATUS, 0, "/DirSyncFrom/ParameterSet/InitSyncNum", KVariant(17u), 4), 0);
    m_device.run([](Device&) {});
    EXPECT_EQ(read(AUDIO, 2, "/Scene/Sync/Scene/remainingNum").getUInt(), 42u);
    EXPECT_EQ(read(AUDIO, 2, "/Scene/Sync/Library/remainingNum").getUInt(), 17u);

    // Finalisation writes both generations again and ends with "PDBState" 0.
    const std::string current = m_storage + "/Current/CurrentBackupFile.bup";
    fs::remove(current);
    fs::remove(current + ".old");
    m_root.release();
    EXPECT_TRUE(fs::exists(current));
    EXPECT_TRUE(fs::exists(current + ".old"));
    const std::vector<std::string> states = m_vdp.states();
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.back(), "PDBState 0");
}

TEST_F(DeviceControl, TimerBackupsRunOnlyWhileIdle)
{
    start();
    const std::string current = m_storage + "/Current/CurrentBackupFile.bup";
    auto advanceClock = [] {
        u32 now = 0;
        ossupport::getMilliseconds(&now);
        appcommontest::setClock(now + PyriteDeviceControlThread::BACKUP_INTERVAL_MS + 1000);
    };
    m_device.run([](Device& device) { ASSERT_EQ(device.getBackup(0).backup(), 0u); });
    std::optional<std::string> before = fswtest::readFile(current);
    ASSERT_EQ(write(PROFILE, 0, "/Specification/SyncVersion", KVariant(8u)), 0);
    m_device.run([](Device& device) { EXPECT_TRUE(device.getBackup(0).isBackupRequested()); });
    advanceClock();
    EXPECT_TRUE(waitUntil(
        [&] {
            const std::optional<std::string> written = fswtest::readFile(current);
            return written && written != before;
        },
        WAIT_MS));

    ASSERT_EQ(m_device.stop(TMS::AbstractMessage::emptyFields()), 0u);
    EXPECT_EQ(m_device.getState(), PyriteDeviceControlThread::STATE_STOPPED);
    ASSERT_EQ(write(PROFILE, 0, "/Specification/SyncVersion", KVariant(9u)), 0);
    m_device.run([](Device& device) { device.getBackup(0).requestBackup(); });
    before = fswtest::readFile(current);
    advanceClock();
    // Stopped, the thread serves no timer pass: nothing may happen within two intervals (a negative check, which
    // load can only make weaker, never fail).
    const u32 passes = m_device.timerPasses();
    TMS::AbstractThread::sleep(2 * PyriteDeviceControlThread::BACKUP_TIMER_INTERVAL_MS);
    EXPECT_EQ(m_device.timerPasses(), passes);
    EXPECT_EQ(fswtest::readFile(current), before);
}

} // namespace
