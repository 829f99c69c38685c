// The sync thread against a scripted device unit, under a root thread that records every "EditorState" it
// publishes, beside stand-in "DeviceControl" and "VDProtocol" threads that record what they receive. The
// stand-in "DeviceControl" answers "PrepareToSync" and "isSameConfig" as the real one does; "VDProtocol" hands the
// answers to the editor link's executor when a test gives it one; the test plays the device's events.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "appcommon_TestSupport.h"
#include "comctrl_FakeServerUnit.h"
#include "dadov_AudioComponentCollection.h"
#include "dadov_TestSupport.h"
#include "dbgc_TestSupport.h"
#include "fsw_TestSupport.h"
#include "logic_LogicComponentCollection.h"
#include "os_Clock.h"
#include "pyrite_ClientSyncThread.h"
#include "pyrite_ProductInfo.h"
#include "tms_SystemThread.h"
#include "tms_ThreadTestSupport.h"
#include "vdp_ExecutorRig.h"
#include "vdp_MeterContainer.h"
#include "vdp_PacketConvertor.h"
#include "vdp_TestSupport.h"
#include "vdtest_Support.h"
#include "vsock_TestSupport.h"

namespace {

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new dbgctest::Environment);

using ComControl::UnitPart;
using comctrltest::ConnectOutcome;
using comctrltest::FakeCall;
using comctrltest::FakeOp;
using Sync = PYRITE::PyriteClientSyncThread;

// Every wait of this suite is for something that must happen.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = vdptest::WAIT_MS)
{
    return vdtest::waitUntil(condition, timeoutMs);
}

constexpr const char* HERE = "127.0.0.1";
constexpr u32 FAILED = 0x80000000;

// What the threads saw, in the order they saw it.
class Journal
{
public:
    void add(const std::string& entry)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_entries.push_back(entry);
    }
    std::vector<std::string> all()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_entries;
    }
    // The entries that begin with prefix, without it.
    std::vector<std::string> with(const std::string& prefix)
    {
        std::vector<std::string> out;
        for (const std::string& entry : all()) {
            if (entry.rfind(prefix, 0) == 0) {
                out.push_back(entry.substr(prefix.size()));
            }
        }
        return out;
    }
    bool waitFor(const std::string& entry)
    {
        return waitUntil([&] {
            const std::vector<std::string> entries = all();
            return std::find(entries.begin(), entries.end(), entry) != entries.end();
        });
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_entries;
};

std::string text(const KVariant& value)
{
    const char* t = value.getString();
    return t != nullptr ? t : "";
}

// A number field as the test reads it: hexadecimal when failed; "i" marks a signed field.
std::string number(const KVariant& value)
{
    char out[16];
    if ((value.getUInt() & FAILED) != 0) {
        std::snprintf(out, sizeof(out), "%#x", value.getUInt());
    } else {
        std::snprintf(out, sizeof(out), "%u", value.getUInt());
    }
    return std::string(out) + (value.getKind() == KVariant::KIND_INT32 ? "i" : "");
}

// Records "state:N" for every "EditorState" a child commits, as it commits it.
class Root : public tmstest::HookedSystemThread
{
public:
    explicit Root(Journal& journal) : m_journal(journal) {}
    ~Root() override { release(); }

    u32 applySharedSystemInfoChanges(const TMS::SystemInfoLocalData& staged) override
    {
        for (u32 i = 0; i < staged.count(); ++i) {
            if (staged.at(i)->m_name == "EditorState") {
                m_journal.add("state:" + std::to_string(staged.at(i)->m_value.getUInt()));
            }
        }
        return TMS::SystemThread::applySharedSystemInfoChanges(staged);
    }

private:
    Journal& m_journal;
};

// The databases the thread reads and writes: "Profile" and "VDeviceSetup" with their capacities, and "Status"
// with the directory-sync counters.
class Databases
{
public:
    static constexpr const char* TYPE = "SyncTestSetup";

    Databases()
    {
        std::vector<std::string> addresses = {"/VEXA/Capacity"};
        for (const char* direction : {"/DirSyncFrom", "/DirSyncTo"}) {
            for (const char* counter : {"/Snapshot/InitSyncNum", "/Snapshot/RequestedNum", "/ParameterSet/InitSyncNum",
                                        "/ParameterSet/RequestedNum"}) {
                addresses.push_back(std::string(direction) + counter);
            }
        }
        appcommontest::registerUIntType(TYPE, addresses, 16);
        for (const appcommontest::SharedDatabase* database : {&m_profile, &m_vdevice, &m_status}) {
            EXPECT_EQ(database->get().addComponent(0, TYPE, 1, 0, 0, 0), 0);
        }
        setCapacities(4, 8);
    }
    void setCapacities(u32 profile, u32 vdevice)
    {
        write(m_profile.get(), "/VEXA/Capacity", 0, profile);
        write(m_vdevice.get(), "/VEXA/Capacity", 0, vdevice);
    }
    static void write(PDB::IParameterDB& database, const char* address, u32 x, u32 value)
    {
        EXPECT_EQ(
            database.setValueUInt(database.getComponentIndex(0), database.getBlockIndex(0, address), x, 0, value, 255),
            0);
    }
    u32 readStatus(const std::string& address, u32 x) const
    {
        PDB::IParameterDB& status = m_status.get();
        return status.getValueUInt(status.getComponentIndex(0), status.getBlockIndex(0, address.c_str()), x, 0,
                                   nullptr);
    }

    appcommontest::SharedDatabase m_profile{0, "Profile"};
    appcommontest::SharedDatabase m_vdevice{4, "VDeviceSetup"};
    appcommontest::SharedDatabase m_status{PYRITE::STATUS_DATABASE_ID, "Status"};
};

// One datagram from 127.0.0.1 to the group on loopback.
void sendToGroup(const std::string& group, u16 port, const std::vector<u8>& data)
{
    const int fd = vsocktest::rawGroupSender(HERE);
    EXPECT_TRUE(vsocktest::rawSendToGroup(fd, group, port, data));
    vsocktest::closeFd(fd);
}

// A scratch storage base in the product information, set before the thread is built.
struct Storage
{
    Storage() { PyriteProductInfo::getInstance().setStoragePath(m_dir.path()); }
    const std::string& path() const { return m_dir.path(); }

    fswtest::TempDir m_dir;
};

// The audio engine with the test mixer's plug-in, whose meter 0 ("level") is a byte array of numX in set 2. The
// test thread registers with the collection through it when it adds a component.
struct Engine : public DADOV::IAudioComponentCallback
{
    Engine()
    {
        dadovtest::createDatabases(11);
        (void)LogicCtrl::LogicComponentCollection::getInstance().initialize();
        m_plugins.add("TestMixer_2.dll");
        EXPECT_EQ(DADOV::AudioComponentCollection::getInstance().initialize(m_plugins.path().c_str(), 8), 0);
    }
    ~Engine() override
    {
        DADOV::AudioComponentCollection::getInstance().endByThread();
        DADOV::AudioComponentCollection::getInstance().finalize();
    }
    void onChangeAudioComponents() override {}

    dadovtest::PluginFolder m_plugins;
};

class SyncThread : public ::testing::Test
{
protected:
    SyncThread()
    {
        m_deviceControl.m_messageHook = [this](const TMS::AbstractMessage& message) { onDeviceControl(message); };
        m_vdProtocol.m_answerHook = [this](const TMS::AbstractMessage& message) {
            m_journal.add("VDP:" + text(message.getValue("CommandName")) + " " + number(message.getValue("Result")) +
                          " " + number(message.getValue("Progress")));
        };
        m_script.setAutoFinish(true);
        VDevice::VDMeterContainer::getInstance().clear();
    }

    void SetUp() override
    {
        m_root.m_initializeHook = [this] {
            EXPECT_EQ(registerSystemInfoItems(&m_root), 0u);
            EXPECT_EQ(tmstest::initializeThread(m_deviceControl, "DeviceControl", 0, 1), 0u);
            EXPECT_EQ(tmstest::initializeThread(m_vdProtocol, "VDProtocol", 0, 1), 0u);
            EXPECT_EQ(tmstest::initializeThread(m_sync, "Sync", 100, 2), 0u);
            for (TMS::AbstractThread* child :
                 {static_cast<TMS::AbstractThread*>(&m_deviceControl), static_cast<TMS::AbstractThread*>(&m_vdProtocol),
                  static_cast<TMS::AbstractThread*>(&m_sync)}) {
                EXPECT_EQ(m_root.addChild(child), 0u);
            }
        };
        ASSERT_EQ(tmstest::initializeThread(m_root, "System"), 0u);
        ASSERT_EQ(m_root.start(TMS::AbstractMessage::emptyFields()), 0u);
        ASSERT_TRUE(waitUntil([&] { return m_root.getChildState() == TMS::SystemThread::CHILDREN_STARTED; }));
    }
    void TearDown() override { m_root.release(); }

    // The stand-in device control: records and answers.
    void onDeviceControl(const TMS::AbstractMessage& message)
    {
        const std::string name = text(message.getValue("CommandName"));
        std::string entry = "DC:" + name;
        for (const char* field : {"Status", "Type", "SyncDirection", "ConfigHash", "Operation"}) {
            if (message.getValue(field).isValid()) {
                entry += " " + text(message.getValue(field));
            }
        }
        m_journal.add(entry);
        if (name == "PrepareToSync" && m_prepareAnswers.fetch_sub(1) > 0) {
            EXPECT_EQ(tmstest::userMessage("Re:PrepareToSync").sendTo("Sync"), 0u);
        } else if (name == "isSameConfig") {
            TMS::AbstractMessage answer = tmstest::userMessage("Re:isSameConfig");
            answer.setString("isSameConfig", m_sameConfig ? "Same" : "Other");
            EXPECT_EQ(answer.sendTo("Sync"), 0u);
        }
    }

    void send(const char* command, const std::vector<std::pair<const char*, const char*>>& fields = {})
    {
        TMS::AbstractMessage message = tmstest::userMessage(command);
        for (const auto& [name, value] : fields) {
            message.setString(name, value);
        }
        ASSERT_EQ(message.sendTo("Sync"), 0u);
    }
    void startSync(const char* direction)
    {
        send("SetNetworkInfo&Sync", {{"Direction", direction}, {"FromIPAddress", HERE}, {"ToIPAddress", HERE}});
    }
    bool waitState(u32 state)
    {
        return waitUntil([&] { return m_sync.getEditorState() == state; });
    }
    // Waits until the thread asked the unit to send the event (the count-th time), then plays the device's answer.
    void answerEvent(const char* sent, const char* answer, const char* argument, size_t count = 1)
    {
        ASSERT_TRUE(waitUntil([&] { return sentNamed(sent).size() >= count; })) << sent;
        heard();
        m_script.deliverEvent(PYRITE::SYNC_EVENT_CODE, answer, argument);
    }
    // Name, argument and code of the events sent, KeepAlive left out.
    std::vector<std::string> events()
    {
        std::vector<std::string> out;
        for (const FakeCall& call : m_script.sentEvents()) {
            if (call.m_text != PYRITE::EVENT_KEEP_ALIVE) {
                out.push_back(call.m_text + "|" + call.m_detail + "|" + std::to_string(call.m_code));
            }
        }
        return out;
    }
    std::vector<FakeCall> sentNamed(const std::string& name)
    {
        std::vector<FakeCall> out = m_script.sentEvents();
        std::erase_if(out, [&](const FakeCall& call) { return call.m_text != name; });
        return out;
    }
    // "part index mode" of every synchroniser start.
    std::vector<std::string> starts()
    {
        std::vector<std::string> out;
        for (const FakeCall& call : m_script.calls(FakeOp::StartSync)) {
            out.push_back(std::to_string(static_cast<u32>(call.m_part)) + " " + std::to_string(call.m_index) + " " +
                          std::to_string(call.m_value));
        }
        return out;
    }
    std::vector<std::string> logLines()
    {
        std::vector<std::string> out;
        TMS::ThreadLogger& logger = m_sync.getLogger();
        for (u32 i = 0; i < logger.getCount(); ++i) {
            char line[TMS::ThreadLogger::LINE_SIZE] = {};
            if (logger.getLine(i, line, sizeof(line)) == 0) {
                out.push_back(line);
            }
        }
        return out;
    }
    static u32 now()
    {
        u32 ms = 0;
        ossupport::getMilliseconds(&ms);
        return ms;
    }
    static void moveClock(u32 ms) { appcommontest::setClock(now() + ms); }
    // The device was heard just now: the link watch counts its 10 s from here, however slow the machine is.
    void heard() { m_script.setLastReceiveTime(now()); }

    Journal m_journal;
    Storage m_storage;
    Databases m_databases;
    Engine m_engine;
    comctrltest::FakeUnitScript m_script;
    std::atomic<bool> m_sameConfig{false};
    std::atomic<int> m_prepareAnswers{1}; // "PrepareToSync" messages answered
    const std::string m_group = vsocktest::testMulticastGroup();
    const u16 m_port = vsocktest::freeUdpPort();
    tmstest::RecordingThread m_deviceControl;
    vdptest::HostThread m_vdProtocol;
    Sync m_sync{m_script, m_group.c_str(), m_port};
    Root m_root{m_journal};
};

TEST_F(SyncThread, ClientToServerRunsEveryState)
{
    ASSERT_TRUE(VDevice::VDMeterContainer::getInstance().addMeter("meter", "AudioCompo/#7"));
    startSync("ClientToServer");
    answerEvent(PYRITE::EVENT_SET_CLIENT_TYPE, "onSetClientType", "TYPE:Editor HASH:ab\\ c");
    answerEvent(PYRITE::EVENT_APPLY_CONFIG, "onApplyConfig", "");
    ASSERT_TRUE(waitState(Sync::STATE_SYNCHRONIZED));
    ASSERT_TRUE(m_journal.waitFor("DC:Synchronize Synchronized Client"));
    ASSERT_TRUE(m_journal.waitFor("VDP:Re:Synchronize 0 100"));

    EXPECT_EQ(m_journal.with("state:"), (std::vector<std::string>{"2", "3", "4", "5", "6", "7", "8", "9", "10"}));
    EXPECT_EQ(m_journal.with("VDP:"),
              (std::vector<std::string>{"Re:Synchronize 1 16", "Re:Synchronize 1 32", "Re:Synchronize 1 48",
                                        "Re:Synchronize 1 64", "Re:Synchronize 1 80", "Re:Synchronize 0 100"}));
    EXPECT_EQ(m_journal.with("DC:"),
              (std::vector<std::string>{"Synchronize Connected Client", "PrepareToSync ClientToServer",
                                        "isSameConfig ab c", "Synchronize Synchronized Client"}));
    // Each state is published before what its entry sends.
    const std::vector<std::string> all = m_journal.all();
    auto position = [&](const std::string& entry) { return std::find(all.begin(), all.end(), entry) - all.begin(); };
    EXPECT_LT(position("state:3"), position("DC:Synchronize Connected Client"));
    EXPECT_LT(position("state:4"), position("DC:PrepareToSync ClientToServer"));
    for (u32 state = 5; state <= 9; ++state) {
        EXPECT_LT(position("state:" + std::to_string(state)),
                  position("VDP:Re:Synchronize 1 " + std::to_string(state * 16 - 64)));
    }
    EXPECT_LT(position("state:10"), position("VDP:Re:Synchronize 0 100"));
    const std::vector<std::string> entryLines = {
        "[i] Synchronizing Temporarily\n",         "[i] Synchronized Temporarily\n",
        "[i] Preparing to Synchronize Memories\n", "[i] Synchronizing Send Config file\n",
        "[i] Synchronizing Apply Config\n",        "[i] Synchronizing Memories\n",
        "[i] Synchronizing Directory\n",           "[i] Synchronized\n"};
    std::vector<std::string> lines = logLines();
    std::erase_if(lines, [&](const std::string& line) {
        return std::find(entryLines.begin(), entryLines.end(), line) == entryLines.end();
    });
    EXPECT_EQ(lines, entryLines);

    // Kind-1 databases in mode 2, kind-2 ones and the directories in the direction; the file of slot 0.
    EXPECT_EQ(starts(), (std::vector<std::string>{"1 0 2", "1 1 2", "1 2 2", "1 6 2", "1 5 1", "1 10 1", "3 0 1",
                                                  "3 1 1", "3 2 1"}));
    const std::vector<FakeCall> files = m_script.calls(FakeOp::SendFile);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].m_text + " " + std::to_string(files[0].m_index) + " " + std::to_string(files[0].m_value),
              "CompileResult.json 0 1");
    const std::string port = std::to_string(m_port);
    EXPECT_EQ(events(), (std::vector<std::string>{"SetClientType|TYPE:Editor SYNCDIR:1 PIN: UDPPORT:" + port + "|240",
                                                  "ApplyConfig||240", "MeterRequest|CYCLE:60 COMPONENT:7|240"}));

    // The unit's set-up.
    const std::vector<FakeCall> init = m_script.calls(FakeOp::Initialize);
    ASSERT_EQ(init.size(), 1u);
    EXPECT_EQ(init[0].m_detail + " " + init[0].m_text + " " + std::to_string(init[0].m_value),
              "1 11 1 3 127.0.0.1 1048576");
    std::vector<std::string> dirs;
    for (const FakeCall& call : m_script.calls(FakeOp::SetupDirSynchronizer)) {
        dirs.push_back(call.m_text + " " + call.m_detail + " " + std::to_string(call.m_value) + " " +
                       std::to_string(call.m_code));
    }
    const std::string& root = m_storage.path();
    EXPECT_EQ(dirs,
              (std::vector<std::string>{"Preset/3DRev " + root + "/Preset/3DRev 128 240",
                                        "Snapshot " + root + "/Snapshot 2000 240", "VWP " + root + "/VWP 50 240"}));
    const std::vector<FakeCall> connects = m_script.calls(FakeOp::Connect);
    ASSERT_EQ(connects.size(), 1u);
    EXPECT_EQ(connects[0].m_text + ":" + std::to_string(connects[0].m_value), "127.0.0.1:50368");

    // Timer 1 asks for meters again after 5 s.
    heard();
    moveClock(Sync::METER_INTERVAL_MS);
    heard();
    EXPECT_TRUE(waitUntil([&] { return sentNamed(PYRITE::EVENT_METER_REQUEST).size() >= 2; }));

    // Meters: the client listens on the group; a datagram lands once the component exists, one past its array's
    // end is refused, and the link's end clears the meters.
    const KMDP::KMDPClient& meters = m_sync.getMeterClient();
    EXPECT_TRUE(meters.isOpen());
    EXPECT_EQ(meters.getTag(), "PRCS");
    const std::vector<u8> fitting = {0x20, 7, 0, 0, 0, 56, 1, 2, 3, 4, 5, 6, 7, 8};
    sendToGroup(m_group, m_port, fitting);
    EXPECT_TRUE(waitUntil([&] { return meters.getStatistics().m_refused == 1; })) << "no component 7 exists yet";
    DADOV::AudioComponentCollection& collection = DADOV::AudioComponentCollection::getInstance();
    ASSERT_EQ(collection.beginByThread(&m_engine), 0);
    ASSERT_EQ(collection.addComponent("TestMixer", 2, 7, 64, 1), 0);
    const DADOV::MeterPool& pool = collection.findComponent(7)->getMeterPool();
    auto level = [&] {
        std::vector<u8> bytes;
        EXPECT_EQ(pool.copyMeterArray(2, 0, bytes), 0);
        return bytes;
    };
    std::vector<u8> expected(64, 0);
    std::copy(fitting.begin() + 6, fitting.end(), expected.begin() + 56);
    // The thread takes the component on its next update: until then the datagram is refused.
    EXPECT_TRUE(waitUntil([&] {
        sendToGroup(m_group, m_port, fitting);
        return waitUntil([&] { return level() == expected; }, 20);
    }));
    const u64 refused = meters.getStatistics().m_refused;
    sendToGroup(m_group, m_port, {0x20, 7, 0, 0, 0, 60, 9, 9, 9, 9, 9, 9, 9, 9});
    EXPECT_TRUE(waitUntil([&] { return meters.getStatistics().m_refused == refused + 1; }));
    EXPECT_EQ(level(), expected);
    send("Disconnect");
    ASSERT_TRUE(waitState(Sync::STATE_DISCONNECTED));
    EXPECT_FALSE(meters.isOpen());
    EXPECT_EQ(level(), std::vector<u8>(64, 0));
}

TEST_F(SyncThread, ServerToClientAbortsOnAnotherConfigAndSkipsTheFileOnTheSame)
{
    m_prepareAnswers = 2;
    startSync("ServerToClient");
    answerEvent(PYRITE::EVENT_SET_CLIENT_TYPE, "onSetClientType", "HASH:1");
    ASSERT_TRUE(m_journal.waitFor("VDP:Re:Synchronize 0x8000000b 0"));
    // The aborted sequence starts again from state 4; the same config now goes on to the memories.
    m_sameConfig = true;
    answerEvent(PYRITE::EVENT_SET_CLIENT_TYPE, "onSetClientType", "HASH:1", 2);
    ASSERT_TRUE(waitState(Sync::STATE_SYNCHRONIZED));
    ASSERT_TRUE(m_journal.waitFor("VDP:Re:Synchronize 0 100"));

    EXPECT_EQ(m_journal.with("state:"), (std::vector<std::string>{"2", "3", "4", "5", "4", "5", "8", "9", "10"}));
    EXPECT_EQ(events(), (std::vector<std::string>{
                            "SetClientType|TYPE:Editor SYNCDIR:2 PIN: UDPPORT:" + std::to_string(m_port) + "|240",
                            "AbortSynchronize||240",
                            "SetClientType|TYPE:Editor SYNCDIR:2 PIN: UDPPORT:" + std::to_string(m_port) + "|240"}));
    EXPECT_TRUE(m_script.calls(FakeOp::SendFile).empty());
    ASSERT_TRUE(m_journal.waitFor("DC:Synchronize Synchronized Client"));
    const std::vector<std::string> receive = m_journal.with("DC:NQSync");
    ASSERT_EQ(receive.size(), 1u);
    EXPECT_NE(receive[0].find("Receive"), std::string::npos);
}

TEST_F(SyncThread, DisconnectWaitsOutTheMemoryStepsAndAChangedAddressRestarts)
{
    startSync("ClientToServer");
    answerEvent(PYRITE::EVENT_SET_CLIENT_TYPE, "onSetClientType", "HASH:1");
    ASSERT_TRUE(waitState(Sync::STATE_APPLY_CONFIG));
    send("Disconnect");
    ASSERT_TRUE(m_journal.waitFor("VDP:Re:Disconnect 0x80000000i 100i"));
    EXPECT_EQ(m_sync.getEditorState(), Sync::STATE_APPLY_CONFIG);

    // A changed address restarts the client; the same address again while it connects keeps it.
    m_script.scriptConnect(1, ConnectOutcome::Silent);
    send("SetNetworkInfo", {{"FromIPAddress", HERE}, {"ToIPAddress", "127.0.0.2"}});
    ASSERT_TRUE(waitState(Sync::STATE_CONNECTING));
    EXPECT_EQ(m_script.unitsCreated(), 2u);
    EXPECT_EQ(m_script.calls(FakeOp::Close).size(), 1u);
    send("SetNetworkInfo", {{"FromIPAddress", HERE}, {"ToIPAddress", "127.0.0.2"}});
    send("Disconnect");
    ASSERT_TRUE(m_journal.waitFor("VDP:Re:Disconnect 0i 100i"));
    EXPECT_EQ(m_script.unitsCreated(), 2u);
    EXPECT_EQ(m_script.calls(FakeOp::Connect).size(), 2u);
    EXPECT_EQ(m_script.calls(FakeOp::Disconnect).size(), 1u);
    ASSERT_TRUE(waitState(Sync::STATE_DISCONNECTED));
    EXPECT_EQ(m_journal.with("state:").back(), "0");
}

TEST_F(SyncThread, IdleLinkKeptAliveThenDroppedWithZeroCounters)
{
    send("SetNetworkInfo", {{"FromIPAddress", HERE}, {"ToIPAddress", HERE}});
    ASSERT_TRUE(waitState(Sync::STATE_TEMPORARY_SYNCED));
    // Without a direction the sequence rests in state 4; these change nothing.
    send("Re:PrepareToSync");
    send("Re:isSameConfig", {{"isSameConfig", "Other"}});
    send("Synchronize", {{"Direction", "ClientToServer"}});
    send("Asynchronous");
    ASSERT_TRUE(m_journal.waitFor("VDP:Re:Asynchronous 0i 100i"));
    EXPECT_EQ(m_journal.with("state:"), (std::vector<std::string>{"2", "3", "4"}));
    EXPECT_EQ(m_journal.with("VDP:"), (std::vector<std::string>{"Re:Asynchronous 0i 100i"}));
    EXPECT_TRUE(events().empty());
    // A receive time a moment ahead of the clock the thread read is no silence.
    m_script.setLastReceiveTime(now() + 2000);
    const u32 ticks = m_script.periodicCount();
    ASSERT_TRUE(waitUntil([&] {
        return m_script.periodicCount() >= ticks + 2 || m_sync.getEditorState() != Sync::STATE_TEMPORARY_SYNCED;
    }));
    ASSERT_EQ(m_sync.getEditorState(), Sync::STATE_TEMPORARY_SYNCED);
    heard();

    // Counters of the unit go to the device and to "Status"; 1 s without sending brings a KeepAlive.
    m_script.setCounters(ComControl::DIR_COUNTERS_SNAPSHOT, 3, 4);
    ASSERT_TRUE(waitUntil([&] { return !events().empty(); }));
    EXPECT_EQ(events(), (std::vector<std::string>{"NotifyDirSyncStatus|SCN0INI:3 SCN0REQ:4 PRS0INI:0 PRS0REQ:0|0"}));
    EXPECT_EQ(m_databases.readStatus("/DirSyncTo/Snapshot/RequestedNum", 0), 4u);
    m_script.deliverEvent(240, PYRITE::EVENT_NOTIFY_DIR_SYNC_STATUS, "PRS0INI:5");
    ASSERT_TRUE(waitUntil([&] { return m_databases.readStatus("/DirSyncFrom/ParameterSet/InitSyncNum", 0) == 5; }));
    heard();
    moveClock(Sync::KEEP_ALIVE_MS);
    ASSERT_TRUE(waitUntil([&] { return !sentNamed(PYRITE::EVENT_KEEP_ALIVE).empty(); }));
    const FakeCall keepAlive = sentNamed(PYRITE::EVENT_KEEP_ALIVE)[0];
    EXPECT_EQ(keepAlive.m_detail + "|" + std::to_string(keepAlive.m_code), "|0");

    // 10 s without receiving: the link goes, and so do the counters in both directions.
    moveClock(Sync::RECEIVE_TIMEOUT_MS);
    ASSERT_TRUE(waitState(Sync::STATE_DISCONNECTED));
    EXPECT_TRUE(waitUntil([&] { return !m_script.hasUnit(); }));
    EXPECT_EQ(m_script.calls(FakeOp::Close).size(), 1u);
    EXPECT_EQ(m_databases.readStatus("/DirSyncTo/Snapshot/RequestedNum", 0), 0u);
    EXPECT_EQ(m_databases.readStatus("/DirSyncFrom/ParameterSet/InitSyncNum", 0), 0u);
    EXPECT_EQ(m_journal.with("state:"), (std::vector<std::string>{"2", "3", "4", "1", "0"}));
}

TEST_F(SyncThread, CapacityBelowTheProfileClearsTheClientType)
{
    m_databases.setCapacities(8, 4);
    m_sameConfig = true;
    startSync("ClientToServer");
    answerEvent(PYRITE::EVENT_SET_CLIENT_TYPE, "onSetClientType", "HASH:1");
    ASSERT_TRUE(m_journal.waitFor("VDP:Re:Synchronize 0x8000000c 0"));
    EXPECT_EQ(m_journal.with("state:"), (std::vector<std::string>{"2", "3", "4", "5", "8", "9", "10", "4"}));
    EXPECT_EQ(events().back(), "ClearClientType||240");
    EXPECT_FALSE(m_sync.getMeterClient().isOpen());
    EXPECT_TRUE(m_journal.with("DC:Synchronize Synchronized").empty());
}

// The editor link's executor on "VDProtocol" against the real thread, whose answers name no request: a request
// given up on, aborted, or ended by a failed step completes nothing later. "Sync" ignores "Synchronize"; it takes an
// "abort" in states 4 to 9 by going back to state 4 at once (from where it starts again on its own once
// "DeviceControl" answers "PrepareToSync") and the device answers each "AbortSynchronize" later. Until that answer
// has come a retry is refused; one after it is answered by the synchronisation that runs.
TEST_F(SyncThread, ASynchronisationGivenUpOnCompletesNoLaterRequest)
{
    vdptest::CaptureUnit unit;
    VDevice::VDProtocolExecutor executor("editor-uid", &unit);
    struct Attach
    {
        vdptest::HostThread& m_host;
        ~Attach()
        {
            m_host.run([&] { m_host.m_executor = nullptr; });
        }
    } attach{m_vdProtocol};
    m_vdProtocol.run([&] { m_vdProtocol.m_executor = &executor; });
    const auto dispatch = [&](const std::string& line) {
        VDProtocol::PacketContainer packet;
        ASSERT_EQ(VDProtocol::decodePacket(line, packet), 0) << line;
        m_vdProtocol.run([&] { executor.dispatchPacket(packet); });
    };
    const auto request = [&](const char* cmd, const char* reqId) {
        dispatch(std::string(R"({"request":{"cmd":")") + cmd + R"(","from":"editor","reqid":")" + reqId +
                 R"(","to":"editor-uid"}})");
    };
    const auto reply = [](const char* cmd, const char* reqId, const char* result, const char* progress = "100") {
        return std::string(R"({"reply":{"cmd":")") + cmd + R"(","from":"editor-uid","message":"","progress":")" +
               progress + R"(","reqid":")" + reqId + R"(","result":")" + result + R"(","to":"editor"}})";
    };
    const auto replies = [&] {
        std::vector<std::string> taken;
        m_vdProtocol.run([&] { taken = unit.takeLines(); });
        std::erase_if(taken, [](const std::string& line) { return line.rfind(R"({"reply":)", 0) != 0; });
        return taken;
    };
    // A zero timeout is also a zero lost-answer limit: give up only while nothing is owed.
    const auto giveUp = [&] {
        m_vdProtocol.run([&] {
            executor.setAnswerTimeout(0);
            EXPECT_EQ(executor.expireRequests(), 1u);
            executor.setAnswerTimeout(VDevice::VDProtocolExecutor::ANSWER_TIMEOUT_MS);
        });
    };
    // The "EditorState" as the executor reads it.
    const auto seen = [&](u32 state) {
        return waitUntil([&] {
            KVariant value;
            return m_sync.getSystemInfo(value, "EditorState", 0) == 0 && value.getUInt() == state;
        });
    };
    const auto reported = [&](const std::string& entry, size_t count) {
        return waitUntil([&] { return m_journal.with("VDP:Re:Synchronize " + entry).size() == count; });
    };
    // The device answers each "AbortSynchronize" sent so far; returns once "Sync" has reported every answer.
    size_t answered = 0;
    const auto answerAborts = [&] {
        for (; answered < sentNamed("AbortSynchronize").size(); ++answered) {
            heard();
            m_script.deliverEvent(PYRITE::SYNC_EVENT_CODE, "onSyncAborted", "");
            ASSERT_TRUE(reported("2 ", answered + 1));
        }
    };

    // Resting in state 4 (no direction, as the editor link connects): nothing to stop. An abort from the editor
    // reaches the device all the same, and its answer, later than the deadline, is owed.
    send("SetNetworkInfo", {{"FromIPAddress", HERE}, {"ToIPAddress", HERE}});
    ASSERT_TRUE(seen(Sync::STATE_TEMPORARY_SYNCED));
    heard();
    ASSERT_TRUE(m_deviceControl.waitForCount("msg:PrepareToSync", 1)); // its answer is on its way to "Sync"
    request("get_sync_device", "s1");
    giveUp();
    send("Asynchronous"); // what reached "Sync" before it has been handled once its answer is in
    ASSERT_TRUE(m_journal.waitFor("VDP:Re:Asynchronous 0i 100i"));
    EXPECT_TRUE(sentNamed("AbortSynchronize").empty());
    request("get_sync_device", "s2");
    dispatch(R"({"abort":{"reqid":"s2"}})");
    dispatch(R"({"abort":{"reqid":"s2"}})"); // one abort is enough
    ASSERT_TRUE(waitUntil([&] { return sentNamed("AbortSynchronize").size() == 1; }));
    giveUp();
    request("get_sync_device", "s3");
    answerAborts();
    EXPECT_EQ(replies(), (std::vector<std::string>{reply("get_sync_device", "s1", "ng/timeout"),
                                                   reply("get_sync_device", "s2", "ng/timeout"),
                                                   reply("get_sync_device", "s3", "ng")}));

    // A synchronisation runs (state 5): the one given up on stops it, "Sync" starts again on its own, and then the
    // device answers the abort.
    m_prepareAnswers = 1000; // the stand-in answers every "PrepareToSync" from here, as the real thread does
    startSync("ServerToClient");
    ASSERT_TRUE(reported("1 16", 1));
    ASSERT_TRUE(seen(Sync::STATE_CLIENT_TYPE));
    request("set_sync_device", "s4");
    giveUp();
    ASSERT_TRUE(reported("1 16", 2));
    m_vdProtocol.run([&] { (void)executor.onEditorStateChanged(Sync::STATE_TEMPORARY_SYNCED); }); // as the link does
    request("set_sync_device", "s5");
    answerAborts();
    // The run that "Sync" started answers the next request. Its failed step (another configuration) aborts on its
    // own, whose answer is owed as well; the run after it answers the next.
    request("set_sync_device", "s6");
    answerEvent(PYRITE::EVENT_SET_CLIENT_TYPE, "onSetClientType", "HASH:1", 2);
    ASSERT_TRUE(reported("1 16", 3));
    request("set_sync_device", "s7");
    answerAborts();
    request("set_sync_device", "s8");
    m_sameConfig = true;
    answerEvent(PYRITE::EVENT_SET_CLIENT_TYPE, "onSetClientType", "HASH:1", 3);
    ASSERT_TRUE(reported("0 100", 1));
    EXPECT_EQ(replies(), (std::vector<std::string>{
                             reply("set_sync_device", "s4", "ng/timeout"), reply("set_sync_device", "s5", "ng"),
                             reply("set_sync_device", "s6", "ng/unmatched_config", "0"),
                             reply("set_sync_device", "s7", "ng"), reply("set_sync_device", "s8", "excuting", "64"),
                             reply("set_sync_device", "s8", "excuting", "80"), reply("set_sync_device", "s8", "ok")}));
    EXPECT_EQ(sentNamed("AbortSynchronize").size(), 3u);
}

} // namespace

namespace {

// No device link exists in this build: the production unit takes the set-up, refuses the connect, and the thread
// says so and stays disconnected.
TEST(SyncThreadProduction, ConnectIsRefused)
{
    vdptest::PrintCapture print;
    const Storage storage;
    Sync sync;
    ASSERT_EQ(tmstest::initializeThread(sync, "Sync", 100), 0u);
    ASSERT_EQ(sync.start(TMS::AbstractMessage::emptyFields()), 0u);
    TMS::AbstractMessage message = tmstest::userMessage("SetNetworkInfo");
    message.setString("FromIPAddress", HERE);
    message.setString("ToIPAddress", "127.0.0.9");
    ASSERT_EQ(message.sendTo("Sync"), 0u);
    std::string printed;
    EXPECT_TRUE(waitUntil([&] {
        printed += print.take();
        return printed.find("[E] PyriteClientSyncThread::connect - cannot connect to 127.0.0.9\n") != std::string::npos;
    }));
    EXPECT_EQ(printed.find("[E] PyriteClientSyncThread::startClient"), std::string::npos) << printed;
    EXPECT_EQ(sync.getEditorState(), Sync::STATE_DISCONNECTED);
    sync.release();
}

} // namespace
