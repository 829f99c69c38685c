// The scene, preset, project and synchronisation commands of the device-control thread at the message level, with
// recording stand-ins for the scene list, the preset list and the project: which calls a message makes, with which
// arguments, in which state, and what goes back to which thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "appcommon_DeviceFixture.h"
#include "appcommon_TestSupport.h"
#include "lpc_PresetList.h"
#include "lpc_Project.h"
#include "lpc_SceneList.h"
#include "lpc_ThreadCommon.h"
#include "os_Clock.h"
#include "pyrite_Result.h"

namespace {

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new tmstest::RepositoryEnvironment);

using PYRITE::PyriteDeviceControlThread;
using namespace appcommontest;
namespace fs = std::filesystem;

constexpr u32 FAILED = 0x80000000;

std::string textOf(const char* text)
{
    return text != nullptr ? text : "<null>";
}

u32 sceneView()
{
    return read(AUDIO, NQ_VOLATILE, "/Scene/Status/EnableSceneView").getUInt();
}

// The stand-ins write each call into the device's journal and answer m_result.
struct Recorder
{
    Journal* m_journal = nullptr;
    std::atomic<u32> m_result{0};

    u32 note(const std::string& call)
    {
        m_journal->add(call);
        return m_result.load();
    }
};

class FakeScenes : public LPC::SceneList, public Recorder
{
public:
    u32 reload() override { return note("scenes reload") | SceneList::reload(); }
    u32 store(u32 n, const char* title, const char* comment) override
    {
        return note("scene store " + std::to_string(n) + " " + textOf(title) + " " + textOf(comment));
    }
    u32 recall(u32 n, bool keepUndo, const Completion& completion) override
    {
        const u32 result = note("scene recall " + std::to_string(n) + (keepUndo ? " undo" : ""));
        if (result == 0 && completion) {
            completion();
        }
        return result;
    }
    u32 remove(u32 n) override { return note("scene remove " + std::to_string(n)); }
    u32 duplicate(u32 from, u32 to, const char* title, const char* comment) override
    {
        return note("scene duplicate " + std::to_string(from) + " " + std::to_string(to) + " " + textOf(title) + " " +
                    textOf(comment));
    }
    u32 recallUndo() override { return note("scene recallUndo"); }
    u32 protect(u32 n, u32 on) override
    {
        return note("scene protect " + std::to_string(n) + " " + std::to_string(on));
    }
    u32 updateUndo() override { return note("scene updateUndo"); }
    u32 duplicateUndo() override { return note("scene duplicateUndo"); }
    u32 deleteUndo() override { return note("scene deleteUndo"); }
    u32 fileUndo() override { return note("scene fileUndo"); }
    u32 createAllScenes() override { return note("scene createAllScenes"); }
    u32 testRecallSpeed(u32 count, u32 safe) override
    {
        return note("scene testRecallSpeed " + std::to_string(count) + " " + std::to_string(safe));
    }
};

class FakePresets : public LPC::PresetList, public Recorder
{
public:
    u32 reload() override { return note("presets reload") | PresetList::reload(); }
    u32 store(const char* type, u32 n, const char* title) override
    {
        return note("preset store " + textOf(type) + " " + std::to_string(n) + " " + textOf(title));
    }
    u32 recall(const char* type, u32 n) override
    {
        return note("preset recall " + textOf(type) + " " + std::to_string(n));
    }
    u32 remove(const char* type, u32 n) override
    {
        return note("preset remove " + textOf(type) + " " + std::to_string(n));
    }
    u32 protect(const char* type, u32 n, u32 on) override
    {
        return note("preset protect " + textOf(type) + " " + std::to_string(n) + " " + std::to_string(on));
    }
};

// Notes the scene view at the call and, for a save, whether both generations of both memories were on disk.
class FakeProject : public LPC::Project, public Recorder
{
public:
    std::string m_storage;

    u32 save(const char* path, std::atomic<u32>&, FILECACHE::IMBDFObserver&) override
    {
        bool written = true;
        for (const char* file : {"/Current/CurrentBackupFile.bup", "/CurrentList/CurrentListBackupFile.bup"}) {
            written = written && fs::exists(m_storage + file) && fs::exists(m_storage + file + ".old");
        }
        return note("project save " + textOf(path) + " view " + std::to_string(sceneView()) +
                    (written ? " backups" : ""));
    }
    u32 load(const char* path, std::atomic<u32>&, FILECACHE::IMBDFObserver&) override
    {
        return note("project load " + textOf(path) + " view " + std::to_string(sceneView()));
    }
};

class NqCommands : public DeviceControlRig
{
protected:
    NqCommands() : DeviceControlRig(m_device)
    {
        for (Recorder* recorder : {static_cast<Recorder*>(&m_scenes), static_cast<Recorder*>(&m_presets),
                                   static_cast<Recorder*>(&m_project)}) {
            recorder->m_journal = &m_device.m_journal;
        }
        m_project.m_storage = m_storage;
    }

    // Serves the message and answers the calls it made (the journal is emptied first).
    std::vector<std::string> calls(const TMS::AbstractMessage& message)
    {
        m_device.m_journal.clear();
        serve(message);
        return m_device.m_journal.entries();
    }

    FakeScenes m_scenes;
    FakePresets m_presets;
    FakeProject m_project;
    Device m_device{m_scenes, m_presets, m_project};
};

TMS::AbstractMessage withNumbers(TMS::AbstractMessage message, const std::vector<std::pair<const char*, u32>>& numbers)
{
    for (const auto& [field, value] : numbers) {
        message.setUInt(field, value);
    }
    return message;
}

TEST_F(NqCommands, SceneAndPresetCommandsCallTheListsWithTheirFields)
{
    start();
    ASSERT_EQ(write(AUDIO, NQ_CURRENT, "/3DRev/Preset", KVariant(9u)), 0);
    std::vector<std::string> fullNumber;
    for (u32 n = 1; n <= 128; ++n) {
        fullNumber.push_back("preset store 3DRev " + std::to_string(n) + " FullNumber");
    }
    auto preset = [](const char* operation, const char* status) {
        return withNumbers(
            command("NQPreset",
                    {{"PresetType", "3DRev"}, {"Operation", operation}, {"Status", status}, {"Title", "T"}}),
            {{"PresetNo", 5}, {"OnOff", 1}});
    };
    struct Case
    {
        TMS::AbstractMessage message;
        std::vector<std::string> calls;
    };
    const std::vector<Case> cases = {
        {command("NQScene", {{"Operation", "Store"}, {"Status", "Start"}, {"Index", "5"}, {"Title", "T"}}),
         {"scene store 5 T <null>"}},
        {command("NQScene", {{"Operation", "Store"}, {"Status", "Do"}, {"Index", "5"}}), {}},
        {command("NQScene", {{"Operation", "Recall"}, {"Status", "Do"}, {"Index", "7"}}), {}},
        {command("NQScene", {{"Operation", "Recall"}, {"Status", "End"}, {"Index", "7"}}), {}},
        // The completion recalls the current 3DRev preset.
        {command("NQScene", {{"Operation", "Recall"}, {"Status", "Start"}, {"Index", "7"}}),
         {"scene recall 7 undo", "preset recall 3DRev 9"}},
        {withNumbers(command("NQScene", {{"Operation", "TestRecallSpeed"}}), {{"TestNum", 3}, {"WithRecallSafe", 1}}),
         {"scene testRecallSpeed 3 1"}},
        {command("NQScene", {{"Operation", "CreateAllScene"}}), {"scene createAllScenes"}},
        {command("NQScene", {{"Operation", "Delete"}, {"Status", "Do"}, {"SnapshotNo", "4"}}), {"scene remove 4"}},
        {command("NQScene", {{"Operation", "Delete"}, {"Status", "Start"}, {"SnapshotNo", "4"}}), {}},
        {command("NQScene", {{"Operation", "Duplicate"},
                             {"Status", "Do"},
                             {"Src", "1"},
                             {"Dest", "2"},
                             {"Title", "T"},
                             {"Comment", "C"}}),
         {"scene duplicate 1 2 T C"}},
        {command("NQScene", {{"Operation", "RecallUndo"}, {"Status", "Do"}}), {"scene recallUndo"}},
        {command("NQScene", {{"Operation", "UpdateUndo"}, {"Status", "Do"}}), {"scene updateUndo"}},
        {command("NQScene", {{"Operation", "DuplicateUndo"}, {"Status", "Do"}}), {"scene duplicateUndo"}},
        {command("NQScene", {{"Operation", "DeleteUndo"}, {"Status", "Do"}}), {"scene deleteUndo"}},
        {command("NQScene", {{"Operation", "FileUndo"}, {"Status", "Do"}}), {"scene fileUndo"}},
        {withNumbers(command("NQScene", {{"Operation", "Protect"}, {"Status", "Do"}, {"SnapshotNo", "3"}}),
                     {{"OnOff", 1}}),
         {"scene protect 3 1"}},
        {command("NQScene", {{"Operation", "Other"}, {"Status", "Do"}}), {}},
        {command("Scene", {{"Operation", "Recall"}, {"Status", "Start"}}), {}},
        {preset("Store", "Do"), {"preset store 3DRev 5 T"}},
        {preset("Store", "Start"), {}},
        {preset("Recall", "Do"), {"preset recall 3DRev 5"}},
        {preset("Delete", "Do"), {"preset remove 3DRev 5"}},
        {preset("Protect", "Do"), {"preset protect 3DRev 5 1"}},
        {preset("CreateFullNumber", "Do"), fullNumber},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(calls(c.message), c.calls) << text(c.message, "CommandName") << " " << text(c.message, "Operation")
                                             << " " << text(c.message, "Status");
    }
    m_osc.run([] {});               // a barrier: what the commands sent there has been received
    EXPECT_EQ(m_osc.pending(), 2u); // the store and the recall
}

TEST_F(NqCommands, StoreAndRecallNotifyTheOscServerAndClearTheEditFlagOnlyWhenTheyWork)
{
    start();
    auto markEdited = [&] { m_device.run([](Device& device) { device.getSceneList().setEditFlag(1); }); };
    auto edited = [&] {
        bool flag = false;
        m_device.run([&](Device& device) { flag = device.getSceneList().getEditFlag(); });
        return flag;
    };
    struct Case
    {
        const char* operation;
        const char* noticeOperation;
        const char* noticeStatus;
    };
    for (const Case& c : {Case{"Store", "Store", "End"}, Case{"Recall", "Current", "Changed"}}) {
        TMS::AbstractMessage message =
            command("NQScene", {{"Operation", c.operation}, {"Status", "Start"}, {"Index", "12"}, {"Category", "A"}});
        m_scenes.m_result = FAILED;
        markEdited();
        serve(message);
        m_osc.run([] {});
        EXPECT_EQ(m_osc.pending(), 0u) << c.operation;
        EXPECT_TRUE(edited()) << c.operation;

        m_scenes.m_result = 0;
        std::optional<TMS::AbstractMessage> notice = ask(message, m_osc);
        ASSERT_TRUE(notice) << c.operation;
        EXPECT_EQ(notice->getFields().size(), 6u);
        EXPECT_EQ(text(*notice, "CommandName"), "NQScene");
        EXPECT_EQ(text(*notice, "Operation"), c.noticeOperation);
        EXPECT_EQ(text(*notice, "Status"), c.noticeStatus);
        EXPECT_EQ(text(*notice, "Index"), "12");
        EXPECT_EQ(text(*notice, "Category"), "A");
        EXPECT_EQ(notice->getValue("Factor").getKind(), KVariant::KIND_INT32);
        EXPECT_EQ(notice->getValue("Factor").getInt(), 255);
        EXPECT_FALSE(edited()) << c.operation;
    }
    // With no current 3DRev preset the completion recalls none.
    EXPECT_EQ(calls(command("NQScene", {{"Operation", "Recall"}, {"Status", "Start"}, {"Index", "12"}})),
              std::vector<std::string>{"scene recall 12 undo"});
}

TEST_F(NqCommands, ProjectSaveWritesTheMemoriesFirstAndLoadRefreshesOnlyWhenItWorked)
{
    start();
    for (const char* file : {"/Current/CurrentBackupFile.bup", "/CurrentList/CurrentListBackupFile.bup"}) {
        fs::remove(m_storage + file);
        fs::remove(m_storage + file + ".old");
    }
    auto project = [](const char* operation, const char* status) {
        return command("NQProject", {{"Operation", operation}, {"Status", status}, {"FilePath", "/p/x.zethiprj"}});
    };
    EXPECT_EQ(calls(project("Save", "Do")),
              (std::vector<std::string>{"state 2", "state 3", "project save /p/x.zethiprj view 0 backups", "state 1"}));
    EXPECT_EQ(sceneView(), 1u);
    EXPECT_EQ(calls(project("Save", "Start")), std::vector<std::string>{});
    EXPECT_EQ(calls(project("Load", "Do")), (std::vector<std::string>{"state 3", "project load /p/x.zethiprj view 0",
                                                                      "scenes reload", "presets reload", "state 1"}));
    m_project.m_result = FAILED;
    EXPECT_EQ(calls(project("Load", "Do")),
              (std::vector<std::string>{"state 3", "project load /p/x.zethiprj view 0", "state 1"}));
    EXPECT_EQ(sceneView(), 1u);
    EXPECT_EQ(m_device.getState(), PyriteDeviceControlThread::STATE_IDLE);
}

TEST_F(NqCommands, PrepareToSyncAnswersTheSenderByApplicationType)
{
    start({}, "", "EDITOR");
    auto prepare = [&](const char* direction, const char* pin) {
        std::optional<TMS::AbstractMessage> reply;
        m_sync.run([&] {
            TMS::AbstractMessage message = command("PrepareToSync", {{"SyncDirection", direction}, {"AdminPIN", pin}});
            message.setUInt("UnitId", 7);
            message.sendTo("DeviceControl");
        });
        reply = m_sync.take();
        EXPECT_TRUE(reply);
        bool flag = false;
        m_device.run([&](Device& device) { flag = device.getSyncDirection(); });
        EXPECT_EQ(read(AUDIO, NQ_VOLATILE, "/Scene/Sync/Scene/remainingNum").getUInt(), 1000u);
        EXPECT_EQ(read(AUDIO, NQ_VOLATILE, "/Scene/Sync/Library/remainingNum").getUInt(), 128u);
        return std::make_pair(reply.value_or(TMS::AbstractMessage()), flag);
    };
    struct Case
    {
        const char* direction;
        bool editorFlag;
    };
    for (const Case& c : {Case{"ServerToClient", true}, Case{"ClientToServer", false}, Case{"Other", false}}) {
        const auto [reply, flag] = prepare(c.direction, "1234");
        EXPECT_EQ(flag, c.editorFlag) << c.direction;
        EXPECT_EQ(reply.getFields().size(), 2u);
        EXPECT_EQ(text(reply, "CommandName"), "Re:PrepareToSync");
        EXPECT_EQ(number(reply, "UnitId"), 7u);
    }

    setApplicationType("FIRMWARE");
    const u8 hash[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    for (const Case& c : {Case{"ClientToServer", true}, Case{"ServerToClient", false}}) {
        const auto [reply, flag] = prepare(c.direction, "not the PIN");
        EXPECT_EQ(flag, c.editorFlag) << c.direction;
        EXPECT_EQ(reply.getFields().size(), 4u);
        EXPECT_EQ(text(reply, "AdminPIN"), "OK");
        const KVariant& configHash = reply.getValue("ConfigHash");
        ASSERT_EQ(configHash.getBinarySize(), 16u);
        EXPECT_EQ(std::memcmp(configHash.getBinary(), hash, 16), 0);
    }
}

TEST_F(NqCommands, SynchronisationStatesRefreshesAndReplies)
{
    start({}, "", "EDITOR");
    auto direction = [&](const char* to) {
        m_sync.run([&] { command("PrepareToSync", {{"SyncDirection", to}}).sendTo("DeviceControl"); });
        ASSERT_TRUE(m_sync.take());
    };
    auto synchronize = [&](const char* status, const char* type) {
        return calls(command("Synchronize", {{"Status", status}, {"Type", type}}));
    };

    // Connected: no timer backup while synchronising.
    direction("ServerToClient");
    EXPECT_EQ(synchronize("Connected", ""), std::vector<std::string>{"state 4"});
    EXPECT_EQ(sceneView(), 0u);
    const std::string current = m_storage + "/Current/CurrentBackupFile.bup";
    const std::optional<std::string> before = fswtest::readFile(current);
    m_device.run([](Device& device) { device.getBackup(0).requestBackup(); });
    u32 now = 0;
    ossupport::getMilliseconds(&now);
    appcommontest::setClock(now + PyriteDeviceControlThread::BACKUP_INTERVAL_MS + 1000);
    TMS::AbstractThread::sleep(2 * PyriteDeviceControlThread::BACKUP_TIMER_INTERVAL_MS);
    EXPECT_EQ(fswtest::readFile(current), before);

    // Synchronized: a refresh (the lists reloaded) only for data from the server side.
    const std::vector<std::string> refreshed = {"scenes reload", "presets reload", "state 1"};
    EXPECT_EQ(synchronize("Synchronized", "Client"), std::vector<std::string>{"state 1"});
    EXPECT_EQ(read(AUDIO, NQ_VOLATILE, "/Scene/Sync/Scene/remainingNum").getUInt(), 0u);
    EXPECT_EQ(read(AUDIO, NQ_VOLATILE, "/Scene/Sync/Library/remainingNum").getUInt(), 0u);
    EXPECT_EQ(sceneView(), 1u);
    EXPECT_EQ(synchronize("Synchronized", "Server"), refreshed);
    direction("ClientToServer");
    EXPECT_EQ(synchronize("Synchronized", "Server"), std::vector<std::string>{"state 1"});
    EXPECT_EQ(synchronize("Other", "Server"), std::vector<std::string>{});

    // The position-control request and "NQSync" refresh without restoring.
    EXPECT_EQ(calls(command("NQSync", {{"Operation", "Receive"}, {"Status", "End"}})),
              (std::vector<std::string>{"scenes reload", "presets reload"}));
    m_device.m_journal.clear();
    ASSERT_EQ(LPC::requestSyncReceive(), 0u);
    m_device.run([](Device&) {});
    EXPECT_EQ(m_device.m_journal.entries(), (std::vector<std::string>{"scenes reload", "presets reload"}));

    // Abort, configuration start and comparison answer the sender.
    EXPECT_EQ(synchronize("Connected", ""), std::vector<std::string>{"state 4"});
    struct Case
    {
        const char* command;
        size_t fields;
        const char* field;
        const char* value;
    };
    for (const Case& c : {Case{"SyncAbort", 2, "UnitId", nullptr}, Case{"StartConfig", 2, "UnitId", nullptr},
                          Case{"isSameConfig", 2, "isSameConfig", "Same"}}) {
        m_sync.run([&] { withNumbers(command(c.command), {{"UnitId", 3}}).sendTo("DeviceControl"); });
        const std::optional<TMS::AbstractMessage> reply = m_sync.take();
        ASSERT_TRUE(reply) << c.command;
        EXPECT_EQ(text(*reply, "CommandName"), std::string("Re:") + c.command);
        EXPECT_EQ(reply->getFields().size(), c.fields) << c.command;
        if (c.value != nullptr) {
            EXPECT_EQ(text(*reply, c.field), c.value);
        } else {
            EXPECT_EQ(number(*reply, c.field), 3u);
        }
    }
    EXPECT_EQ(m_device.getState(), PyriteDeviceControlThread::STATE_IDLE);
    EXPECT_EQ(sceneView(), 1u);
}

TEST_F(NqCommands, RepliesGoOnlyToSendersThatListen)
{
    start();
    // Still opening when the request is served (its start-up waits for that): no reply, then or later.
    StandIn opening;
    tmstest::Latch sent;
    tmstest::Latch served;
    opening.m_initializeHook = [&] {
        command("isSameConfig").sendTo("DeviceControl");
        sent.open();
        served.wait();
    };
    std::thread starter([&] { tmstest::initializeThread(opening, "Opening"); });
    sent.wait();
    m_device.run([](Device&) {});
    served.open();
    starter.join();
    opening.run([] {});
    EXPECT_EQ(opening.pending(), 0u);
    opening.release();

    // Not registered at all (the test's own thread): nothing is sent, nothing breaks.
    serve(command("isSameConfig"));

    // Released while its replies are on their way.
    for (u32 round = 0; round < 20; ++round) {
        StandIn peer;
        ASSERT_EQ(tmstest::initializeThread(peer, "Peer"), 0u);
        peer.run([] {
            for (u32 i = 0; i < 4; ++i) {
                withNumbers(command("StartConfig"), {{"UnitId", i}}).sendTo("DeviceControl");
            }
        });
        peer.release();
    }
    m_device.run([](Device&) {});
    EXPECT_EQ(m_device.getStatus(), TMS::STATUS_RUN);
}

} // namespace
