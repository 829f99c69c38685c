// The scene, preset, project, bulk-value and configuration-state commands of the device-control thread with the
// real position-control services, storage in a temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "appcommon_DeviceFixture.h"
#include "dadov_AudioComponentCollection.h"
#include "fsw_TestSupport.h"
#include "lpc_SceneList.h"
#include "lpc_Values.h"
#include "tms_TestSupport.h"

namespace {

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new tmstest::RepositoryEnvironment);

using PYRITE::PyriteDeviceControlThread;
using namespace appcommontest;
namespace fs = std::filesystem;

constexpr u32 NOT_SUPPORTED = 0x80000001;
constexpr u32 GAIN = 100;

TMS::AbstractMessage scene(const char* operation, const char* status, const char* index)
{
    return command("NQScene", {{"Operation", operation},
                               {"Status", status},
                               {"Index", index},
                               {"SnapshotNo", index},
                               {"Title", "T"},
                               {"Category", "C"}});
}

TMS::AbstractMessage preset(const char* operation, u32 number, u32 onOff = 0)
{
    TMS::AbstractMessage message =
        command("NQPreset", {{"Operation", operation}, {"Status", "Do"}, {"PresetType", "3DRev"}, {"Title", "P"}});
    message.setUInt("PresetNo", number);
    message.setUInt("OnOff", onOff);
    return message;
}

f32 gain()
{
    return read(AUDIO, GAIN, "/Gain").getFloat();
}

f32 reverbTime()
{
    return read(AUDIO, NQ_CURRENT, "/3DRev/Time").getFloat();
}

class NqServices : public DeviceControl
{
protected:
    // Starts with one testgain component (uid 100).
    void startWithGain()
    {
        start();
        TMS::AbstractMessage add = command("addComponent", {{"ComponentName", "testgain"}});
        add.setUInt("MajorVersion", 1);
        add.setUInt("UniqID", GAIN);
        add.setUInt("NumX", 1);
        add.setUInt("NumY", 1);
        ASSERT_TRUE(ask(add, m_vdp));
    }
    void set(f32 newGain, f32 newTime)
    {
        ASSERT_EQ(write(AUDIO, GAIN, "/Gain", KVariant(newGain)), 0);
        ASSERT_EQ(write(AUDIO, NQ_CURRENT, "/3DRev/Time", KVariant(newTime)), 0);
    }
    // The scene command is served; true when "OSCServer" was told.
    bool notified(const TMS::AbstractMessage& message)
    {
        serve(message);
        m_osc.run([] {});
        const bool told = m_osc.pending() > 0;
        while (m_osc.pending() > 0) {
            (void)m_osc.take();
        }
        return told;
    }
    bool edited()
    {
        bool flag = false;
        m_device.run([&](Device& device) { flag = device.getSceneList().getEditFlag(); });
        return flag;
    }
    std::string scenePath(const char* number) { return m_storage + "/Snapshot/" + number + ".zethis"; }
};

TEST_F(NqServices, ScenesStoreRecallUndoAndTakeTheirPresetAlong)
{
    startWithGain();
    set(-6.0f, 5.0f);
    ASSERT_TRUE(notified(scene("Store", "Start", "3")));
    ASSERT_TRUE(fs::exists(scenePath("3")));
    set(-20.0f, 9.0f);
    EXPECT_TRUE(edited());

    EXPECT_TRUE(notified(scene("Recall", "Start", "3")));
    EXPECT_FLOAT_EQ(gain(), -6.0f);
    EXPECT_FLOAT_EQ(reverbTime(), 5.0f);
    // The recall's own refresh does not count as an edit, and every thread sees the recalled values.
    EXPECT_FALSE(edited());
    serve(scene("RecallUndo", "Do", ""));
    EXPECT_FLOAT_EQ(gain(), -20.0f);
    EXPECT_FLOAT_EQ(reverbTime(), 9.0f);

    // Scene 4 names preset 2: its reverb time wins over the scene's.
    set(0.0f, 12.0f);
    serve(preset("Store", 2));
    ASSERT_EQ(write(AUDIO, NQ_CURRENT, "/3DRev/Preset", KVariant(2u)), 0);
    set(-1.0f, 1.0f);
    ASSERT_TRUE(notified(scene("Store", "Start", "4")));
    set(-2.0f, 2.0f);
    EXPECT_TRUE(notified(scene("Recall", "Start", "4")));
    EXPECT_FLOAT_EQ(gain(), -1.0f);
    EXPECT_FLOAT_EQ(reverbTime(), 12.0f);

    // A scene that is not there recalls nothing and tells nobody.
    EXPECT_FALSE(notified(scene("Recall", "Start", "5")));
    EXPECT_FLOAT_EQ(gain(), -1.0f);

    // A protected scene is neither overwritten nor deleted; a duplicate of it is a new scene.
    const std::optional<std::string> stored = fswtest::readFile(scenePath("3"));
    TMS::AbstractMessage protect = scene("Protect", "Do", "3");
    protect.setUInt("OnOff", 1);
    serve(protect);
    EXPECT_FALSE(notified(scene("Store", "Start", "3")));
    serve(scene("Delete", "Do", "3"));
    EXPECT_EQ(fswtest::readFile(scenePath("3")), stored);
    serve(command("NQScene", {{"Operation", "Duplicate"}, {"Status", "Do"}, {"Src", "3"}, {"Dest", "6"}}));
    EXPECT_TRUE(fs::exists(scenePath("6")));
    protect.setUInt("OnOff", 0);
    serve(protect);
    serve(scene("Delete", "Do", "3"));
    EXPECT_FALSE(fs::exists(scenePath("3")));
    set(-30.0f, 3.0f);
    EXPECT_TRUE(notified(scene("Recall", "Start", "6")));
    EXPECT_FLOAT_EQ(gain(), -6.0f);
}

TEST_F(NqServices, PresetsOfFullNumberRecallAndProtection)
{
    start();
    serve(preset("CreateFullNumber", 0));
    std::vector<std::string> expected;
    for (u32 n = 1; n <= 128; ++n) {
        expected.push_back(std::to_string(n) + ".zethip");
    }
    std::vector<std::string> files = fswtest::listNames(m_storage + "/Preset/3DRev");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files, expected);

    ASSERT_EQ(write(AUDIO, NQ_CURRENT, "/3DRev/Level", KVariant(-12.0f)), 0);
    serve(preset("Store", 7));
    serve(preset("Protect", 7, 1));
    ASSERT_EQ(write(AUDIO, NQ_CURRENT, "/3DRev/Level", KVariant(3.0f)), 0);
    serve(preset("Store", 7));
    serve(preset("Delete", 7));
    serve(preset("Recall", 7));
    EXPECT_FLOAT_EQ(read(AUDIO, NQ_CURRENT, "/3DRev/Level").getFloat(), -12.0f);
    serve(preset("Protect", 7, 0));
    serve(preset("Delete", 7));
    EXPECT_FALSE(fs::exists(m_storage + "/Preset/3DRev/7.zethip"));
}

TEST_F(NqServices, ProjectsBringBackValuesScenesAndPresets)
{
    startWithGain();
    const std::string project = m_folder / "show.zethiprj";
    auto projectCommand = [&](const char* operation, const std::string& path) {
        return command("NQProject", {{"Operation", operation}, {"Status", "Do"}, {"FilePath", path.c_str()}});
    };
    set(-4.0f, 4.0f);
    ASSERT_TRUE(notified(scene("Store", "Start", "1")));
    serve(preset("Store", 1));
    serve(projectCommand("Save", project));
    ASSERT_TRUE(fs::exists(project));
    EXPECT_EQ(m_device.getProjectProgress(), 100u);

    set(-8.0f, 8.0f);
    serve(scene("Delete", "Do", "1"));
    serve(preset("Store", 2));
    serve(projectCommand("Load", project));
    EXPECT_FLOAT_EQ(gain(), -4.0f);
    EXPECT_FLOAT_EQ(reverbTime(), 4.0f);
    EXPECT_TRUE(fs::exists(scenePath("1")));
    EXPECT_EQ(fswtest::listNames(m_storage + "/Preset/3DRev"), std::vector<std::string>{"1.zethip"});
    m_device.run(
        [](Device& device) { EXPECT_EQ(device.getSceneList().getSceneFiles(), std::vector<std::string>{"1.zethis"}); });

    // A file that is not a project changes nothing.
    set(-9.0f, 9.0f);
    ASSERT_TRUE(fswtest::writeFile(m_folder / "broken.zethiprj", "not a project"));
    for (const std::string& path : {std::string(m_folder / "broken.zethiprj"), std::string(m_folder / "none")}) {
        serve(projectCommand("Load", path));
        EXPECT_FLOAT_EQ(gain(), -9.0f);
        EXPECT_TRUE(fs::exists(scenePath("1")));
        EXPECT_EQ(m_device.getState(), PyriteDeviceControlThread::STATE_IDLE);
        EXPECT_EQ(read(AUDIO, NQ_VOLATILE, "/Scene/Status/EnableSceneView").getUInt(), 1u);
    }
}

TEST_F(NqServices, BulkValuesAndTheConfigurationState)
{
    startWithGain();
    auto bulk = [](const char* name) {
        TMS::AbstractMessage message = command(name);
        message.setInt("Factor", 255);
        return message;
    };
    serve(bulk("NQSetMaxValue"));
    EXPECT_FLOAT_EQ(gain(), 10.0f);
    EXPECT_FLOAT_EQ(reverbTime(), 20.0f);
    EXPECT_EQ(read(AUDIO, NQ_CURRENT, "/3DRev/Preset").getUInt(), 128u);
    serve(bulk("NQSetMinValue"));
    EXPECT_FLOAT_EQ(gain(), -138.0f);
    EXPECT_FLOAT_EQ(reverbTime(), 0.1f);
    EXPECT_EQ(read(PROFILE, 0, "/VEXA/Capacity").getUInt(), 1333332u);

    const std::string dump = m_folder / "values.txt";
    serve(command("NQShowAllValues", {{"FilePath", dump.c_str()}}));
    const std::string text = fswtest::readFile(dump).value_or("");
    for (const char* line :
         {"\nProfile/#0/VEXA/Capacity:0:0=1333332\n", "\nAudioCompo/#0/3DRev/Preset:0:0=0\n",
          "\nAudioCompo/#100/Gain:0:0=-138.000000\n", "\nStatus/#0/DirSyncFrom/Snapshot/InitSyncNum:14:0=0\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }

    // "eraseConfig" and "applyConfig" act only from the states they leave.
    auto configStates = [&](size_t count) {
        std::vector<std::string> seen;
        EXPECT_TRUE(tmstest::waitUntil([&] {
            seen.clear();
            for (const std::string& entry : m_device.m_journal.entries()) {
                if (entry.rfind("ZOVORaState", 0) == 0) {
                    seen.push_back(entry);
                }
            }
            return seen.size() >= count;
        }));
        m_device.m_journal.clear();
        return seen;
    };
    m_device.m_journal.clear();
    serve(command("applyConfig"));
    serve(command("eraseConfig"));
    EXPECT_EQ(configStates(2), (std::vector<std::string>{"ZOVORaState 5", "ZOVORaState 1"}));
    m_device.run([](Device&) { EXPECT_EQ(DADOV::AudioComponentCollection::getInstance().getNumComponents(), 0u); });
    serve(command("eraseConfig"));
    serve(command("applyConfig"));
    EXPECT_EQ(configStates(2), (std::vector<std::string>{"ZOVORaState 2", "ZOVORaState 3"}));
    EXPECT_TRUE(m_device.logged("[E] PyriteDeviceControlThread::onReceiveMessage - eraseConfig\n"));
    EXPECT_TRUE(m_device.logged("[E] PyriteDeviceControlThread::onReceiveMessage - applyConfig\n"));
}

TEST_F(NqServices, OperationsThisProgramDoesNotOfferSaySo)
{
    start();
    struct Case
    {
        const char* line;
        u32 (*call)(LPC::SceneList&);
    };
    const Case cases[] = {
        {"[NQ] SceneList::updateUndo - not supported.\n", [](LPC::SceneList& s) { return s.updateUndo(); }},
        {"[NQ] SceneList::duplicateUndo - not supported.\n", [](LPC::SceneList& s) { return s.duplicateUndo(); }},
        {"[NQ] SceneList::deleteUndo - not supported.\n", [](LPC::SceneList& s) { return s.deleteUndo(); }},
        {"[NQ] SceneList::fileUndo - not supported.\n", [](LPC::SceneList& s) { return s.fileUndo(); }},
        {"[NQ] SceneList::createAllScenes - not supported.\n", [](LPC::SceneList& s) { return s.createAllScenes(); }},
        {"[NQ] SceneList::testRecallSpeed - not supported.\n",
         [](LPC::SceneList& s) { return s.testRecallSpeed(10, 1); }},
        {"[NQ] LpcSpeakerData::importFromFile - not supported.\n",
         [](LPC::SceneList&) { return LPC::LpcSpeakerData::importFromFile("/x.csv"); }},
        {"[NQ] LpcSpeakerData::exportToFile - not supported.\n",
         [](LPC::SceneList&) { return LPC::LpcSpeakerData::exportToFile("/x.csv"); }},
    };
    for (const Case& c : cases) {
        u32 result = 0;
        m_device.run([&](Device& device) { result = c.call(device.getSceneList()); });
        EXPECT_EQ(result, NOT_SUPPORTED) << c.line;
        EXPECT_TRUE(m_device.logged(c.line)) << c.line;
    }
}

} // namespace
