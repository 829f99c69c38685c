// Sync events: the texts and codes sent through a scripted unit, the parsers of received events, the counter
// publication into "Status" and the directory-sync file policy.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "appcommon_TestSupport.h"
#include "comctrl_FakeServerUnit.h"
#include "pdb_LocalParameterDB.h"
#include "pyrite_DirSyncStrategy.h"
#include "pyrite_Result.h"
#include "pyrite_SyncEvents.h"
#include "tms_Message.h"

namespace {

using namespace PYRITE;
using comctrltest::FakeOp;

// A connected unit of the scripted device, driven from the test thread.
class ConnectedUnit : public VCOM::IVComWakeupFunction,
                      public ComControl::IEventExecutor,
                      public ComControl::IUnitConnectObserver
{
public:
    ConnectedUnit()
    {
        m_unit = m_script.create(this);
        const VCOM::VComSocketAddress local(2, "127.0.0.1");
        EXPECT_EQ(m_unit->initialize(0, 1, 11, 1, 3, local, this, this, 0x100000), 0);
        EXPECT_EQ(m_unit->setupEventMessenger(0, "Event", this, SYNC_EVENT_CODE), 0);
        EXPECT_EQ(m_unit->connect(VCOM::VComSocketAddress(2, "127.0.0.2"), ComControl::DEVICE_PORT), 0);
        m_unit->processSocketEvents();
        EXPECT_TRUE(m_unit->isConnected());
    }

    void wakeup(u16, VCOM::IVCom*) override {}
    i32 execute(u32, const char*, const char*) override { return 0; }
    i32 connected(u32) override { return 0; }
    i32 connectFailed(u32) override { return 0; }
    i32 disconnected(u32) override { return 0; }
    i32 synchronizerStateChanged(u32, ComControl::UnitPart, u32, u32) override { return 0; }

    // Name, argument and code of each event the unit was asked to send.
    std::vector<std::string> sent() const
    {
        std::vector<std::string> lines;
        for (const comctrltest::FakeCall& call : m_script.calls(FakeOp::SendEvent)) {
            lines.push_back(call.m_text + "|" + call.m_detail + "|" + std::to_string(call.m_code));
        }
        return lines;
    }

    comctrltest::FakeUnitScript m_script;
    std::unique_ptr<ComControl::ServerUnit> m_unit;
};

TEST(SyncEvents, SentTextsAndCodes)
{
    ConnectedUnit link;
    ComControl::ServerUnit& unit = *link.m_unit;
    EXPECT_EQ(sendKeepAlive(unit), PYRITE_OK);
    EXPECT_EQ(sendAbortSynchronize(unit), PYRITE_OK);
    EXPECT_EQ(sendApplyConfig(unit), PYRITE_OK);
    EXPECT_EQ(sendClearClientType(unit), PYRITE_OK);
    EXPECT_EQ(sendNotifyDirSyncStatus(unit, {1, 22, 333, 4294967295u}), PYRITE_OK);
    EXPECT_EQ(sendSetClientType(unit, CLIENT_TYPE_EDITOR, 1, "a b:c\\", 50240), PYRITE_OK);
    EXPECT_EQ(sendSetClientType(unit, CLIENT_TYPE_EXPLORER, 2, nullptr, 7), PYRITE_OK);
    EXPECT_EQ(sendMeterRequest(unit, 100, 0x1234), PYRITE_OK);
    EXPECT_EQ(link.sent(), (std::vector<std::string>{
                               "KeepAlive||0",
                               "AbortSynchronize||240",
                               "ApplyConfig||240",
                               "ClearClientType||240",
                               "NotifyDirSyncStatus|SCN0INI:1 SCN0REQ:22 PRS0INI:333 PRS0REQ:4294967295|0",
                               "SetClientType|TYPE:Editor SYNCDIR:1 PIN:a\\ b\\:c\\\\ UDPPORT:50240|240",
                               "SetClientType|TYPE:Explorer SYNCDIR:2 PIN: UDPPORT:7|240",
                               "MeterRequest|CYCLE:100 COMPONENT:4660|240",
                           }));

    // A refusal of the unit is a failure.
    link.m_script.setResult(FakeOp::SendEvent, static_cast<i32>(0x8000000Au));
    EXPECT_EQ(sendKeepAlive(unit), PYRITE_E_FAILED);
}

TEST(SyncEvents, ArgumentLimitAndClientType)
{
    ConnectedUnit link;
    // "TYPE:Editor SYNCDIR:1 PIN: UDPPORT:50240" is 40 characters around the PIN.
    EXPECT_EQ(sendSetClientType(*link.m_unit, CLIENT_TYPE_EDITOR, 1, std::string(214, 'p').c_str(), 50240), PYRITE_OK);
    ASSERT_EQ(link.sent().size(), 1u);
    EXPECT_EQ(link.m_script.calls(FakeOp::SendEvent)[0].m_detail.size(), 254u);
    EXPECT_EQ(sendSetClientType(*link.m_unit, CLIENT_TYPE_EDITOR, 1, std::string(215, 'p').c_str(), 50240),
              PYRITE_E_FAILED);
    // An escape counts as a character.
    EXPECT_EQ(sendSetClientType(*link.m_unit, CLIENT_TYPE_EDITOR, 1, (std::string(213, 'p') + " ").c_str(), 50240),
              PYRITE_E_FAILED);
    EXPECT_EQ(sendSetClientType(*link.m_unit, 2, 1, "pin", 50240), PYRITE_E_FAILED);
    EXPECT_EQ(link.sent().size(), 1u) << "nothing else was sent";
}

TEST(SyncEvents, DirSyncStatusItems)
{
    struct Case
    {
        u32 code;
        const char* argument;
        u32 result;
        DirSyncCounters counters;
        u32 x;
    };
    const Case cases[] = {
        {240, "SCN0INI:1 SCN0REQ:2 PRS0INI:3 PRS0REQ:4", PYRITE_OK, {1, 2, 3, 4}, 0},
        {254, "SCN7INI:12", PYRITE_OK, {12, 0, 0, 0}, 14},
        {241, "SCNXINIT:5 PRS0:9 PRS9REQ:7", PYRITE_OK, {5, 0, 0, 7}, 1},
        {242, "XCN0INI:5 SCN0XXX:6 PRS0REQ:8", PYRITE_OK, {0, 0, 0, 8}, 2},
        {243, "SCN0INI:-3 SCN0REQ:4x PRS0INI:4294967296 PRS0REQ:", PYRITE_OK, {}, 3},
        {244, "SCN0INI:5 bad SCN0REQ:6", PYRITE_OK, {5, 0, 0, 0}, 4},
        {245, "", PYRITE_OK, {}, 5},
        {239, "SCN0INI:1", PYRITE_E_FAILED, {}, 0},
        {255, "SCN0INI:1", PYRITE_E_FAILED, {}, 0},
    };
    for (const Case& c : cases) {
        DirSyncCounters counters{9, 9, 9, 9};
        u32 x = 99;
        EXPECT_EQ(parseDirSyncStatus(c.code, c.argument, &counters, &x), c.result) << c.argument;
        if (c.result == PYRITE_OK) {
            EXPECT_EQ(counters, c.counters) << c.argument;
            EXPECT_EQ(x, c.x) << c.argument;
        }
    }
}

// The "Status" component: the eight counter parameters of 15 elements each.
void registerStatusType()
{
    appcommontest::registerUIntType("Status",
                                    {"/DirSyncFrom/Snapshot/InitSyncNum", "/DirSyncFrom/Snapshot/RequestedNum",
                                     "/DirSyncFrom/ParameterSet/InitSyncNum", "/DirSyncFrom/ParameterSet/RequestedNum",
                                     "/DirSyncTo/Snapshot/InitSyncNum", "/DirSyncTo/Snapshot/RequestedNum",
                                     "/DirSyncTo/ParameterSet/InitSyncNum", "/DirSyncTo/ParameterSet/RequestedNum"},
                                    15);
}

// The four counters of a direction at x.
DirSyncCounters readCounters(const PDB::IParameterDB& status, const char* prefix, u32 x)
{
    auto read = [&](const char* rest) {
        const u32 block = status.getBlockIndex(0, (std::string(prefix) + rest).c_str());
        return status.getValueUInt(status.getComponentIndex(0), block, x, 0, nullptr);
    };
    return {read("/Snapshot/InitSyncNum"), read("/Snapshot/RequestedNum"), read("/ParameterSet/InitSyncNum"),
            read("/ParameterSet/RequestedNum")};
}

TEST(SyncEvents, CountersReachStatusOnlyWithAnOwner)
{
    registerStatusType();
    const appcommontest::SharedDatabase shared(STATUS_DATABASE_ID, "Status");
    PDB::IParameterDB& status = shared.get();
    ASSERT_EQ(status.addComponent(0, "Status", 1, 0, 0, 0), 0);

    EXPECT_EQ(onNotifyDirSyncStatus(status, 243, "SCN0INI:1 SCN0REQ:2 PRS0INI:3 PRS0REQ:4"), PYRITE_OK);
    EXPECT_EQ(readCounters(status, "/DirSyncFrom", 3), (DirSyncCounters{1, 2, 3, 4}));
    EXPECT_EQ(readCounters(status, "/DirSyncFrom", 2), DirSyncCounters{});
    EXPECT_EQ(readCounters(status, "/DirSyncTo", 3), DirSyncCounters{});
    // An unreadable first item publishes zeros; a code outside the range publishes nothing.
    EXPECT_EQ(onNotifyDirSyncStatus(status, 239, ""), PYRITE_E_FAILED);
    EXPECT_EQ(readCounters(status, "/DirSyncFrom", 3), (DirSyncCounters{1, 2, 3, 4}));
    EXPECT_EQ(onNotifyDirSyncStatus(status, 243, "?"), PYRITE_OK);
    EXPECT_EQ(readCounters(status, "/DirSyncFrom", 3), DirSyncCounters{});

    EXPECT_EQ(publishDirSyncCounters(status, {5, 6, 7, 8}, 14, DIR_SYNC_SENT), PYRITE_OK);
    EXPECT_EQ(readCounters(status, "/DirSyncTo", 14), (DirSyncCounters{5, 6, 7, 8}));
    EXPECT_EQ(publishDirSyncCounters(status, {5, 6, 7, 8}, 15, DIR_SYNC_SENT), PYRITE_E_FAILED);
    EXPECT_EQ(publishDirSyncCounters(status, {5, 6, 7, 8}, 0, 2), PYRITE_E_FAILED);

    // The same component in a database without an owner thread is left alone.
    PDB::LocalParameterDB unowned;
    ASSERT_EQ(unowned.addComponent(0, "Status", 1, 0, 0, 0), 0);
    ASSERT_FALSE(unowned.hasOwnerThread());
    EXPECT_EQ(onNotifyDirSyncStatus(unowned, 240, "SCN0INI:1"), PYRITE_OK);
    EXPECT_EQ(readCounters(unowned, "/DirSyncFrom", 0), DirSyncCounters{});
}

TEST(SyncEvents, CounterPollSendsEachChangeOnce)
{
    registerStatusType();
    const appcommontest::SharedDatabase shared(STATUS_DATABASE_ID, "Status");
    PDB::IParameterDB& status = shared.get();
    ASSERT_EQ(status.addComponent(0, "Status", 1, 0, 0, 0), 0);
    ConnectedUnit link;
    DirSyncCounterPoll poll;

    EXPECT_EQ(poll.poll(*link.m_unit, status), PYRITE_OK);
    EXPECT_TRUE(link.sent().empty()) << "zero counters are known";
    link.m_script.setCounters(ComControl::DIR_COUNTERS_SNAPSHOT, 3, 4);
    link.m_script.setCounters(ComControl::DIR_COUNTERS_PARAMETER_SET, 5, 6);
    EXPECT_EQ(poll.poll(*link.m_unit, status), PYRITE_OK);
    EXPECT_EQ(poll.poll(*link.m_unit, status), PYRITE_OK);
    EXPECT_EQ(link.sent(), (std::vector<std::string>{"NotifyDirSyncStatus|SCN0INI:3 SCN0REQ:4 PRS0INI:5 PRS0REQ:6|0"}));
    EXPECT_EQ(readCounters(status, "/DirSyncTo", 0), (DirSyncCounters{3, 4, 5, 6}));

    // A send that fails is tried again at the next poll.
    link.m_script.setCounters(ComControl::DIR_COUNTERS_SNAPSHOT, 7, 4);
    link.m_script.setResult(FakeOp::SendEvent, static_cast<i32>(0x8000000Au));
    EXPECT_EQ(poll.poll(*link.m_unit, status), PYRITE_E_FAILED);
    link.m_script.setResult(FakeOp::SendEvent, 0);
    EXPECT_EQ(poll.poll(*link.m_unit, status), PYRITE_OK);
    EXPECT_EQ(link.m_script.sentEvents().back().m_detail, "SCN0INI:7 SCN0REQ:4 PRS0INI:5 PRS0REQ:6");
    EXPECT_EQ(poll.getLast(), (DirSyncCounters{7, 4, 5, 6}));

    // Disconnect: zeros in both directions at the unit id, and the counters are sent again afterwards.
    ASSERT_EQ(publishDirSyncCounters(status, {1, 1, 1, 1}, 0, DIR_SYNC_RECEIVED), PYRITE_OK);
    EXPECT_EQ(poll.reset(status, 0), PYRITE_OK);
    EXPECT_EQ(readCounters(status, "/DirSyncTo", 0), DirSyncCounters{});
    EXPECT_EQ(readCounters(status, "/DirSyncFrom", 0), DirSyncCounters{});
    const size_t before = link.m_script.sentEvents().size();
    EXPECT_EQ(poll.poll(*link.m_unit, status), PYRITE_OK);
    EXPECT_EQ(link.m_script.sentEvents().size(), before + 1);
}

class RecordingPoster : public ISyncMessagePoster
{
public:
    u32 postWithWaiting(const char* threadName, const TMS::AbstractMessage& message) override
    {
        m_posts.push_back(std::string(threadName) + " " + message.getValue("CommandName").getString() + " [" +
                          message.getValue("ConfigHash").getString() + "]");
        return 0;
    }
    std::vector<std::string> m_posts;
};

TEST(SyncEvents, ClientTypeAndWarningEvents)
{
    RecordingPoster poster;
    EXPECT_EQ(onSetClientType("TYPE:Editor HASH:ab\\ c\\:d PIN:x", poster), PYRITE_OK);
    EXPECT_EQ(onSetClientType("TYPE:Editor", poster), PYRITE_OK);
    EXPECT_EQ(onSetClientType("", poster), PYRITE_E_FAILED);
    EXPECT_EQ(onSetClientType(":broken HASH:1", poster), PYRITE_E_FAILED);
    EXPECT_EQ(poster.m_posts,
              (std::vector<std::string>{"DeviceControl isSameConfig [ab c:d]", "DeviceControl isSameConfig []"}));

    SyncWarningMessage warning;
    EXPECT_EQ(onSetWarningMessage("ID:W7 MESSAGE:disk\\ full", &warning), PYRITE_OK);
    EXPECT_STREQ(warning.m_id, "W7");
    EXPECT_STREQ(warning.m_message, "disk full");
    EXPECT_TRUE(warning.m_hasId && warning.m_hasMessage);
    EXPECT_EQ(onSetWarningMessage(("MESSAGE:" + std::string(300, 'm')).c_str(), &warning), PYRITE_OK);
    EXPECT_EQ(std::string(warning.m_message), std::string(255, 'm'));
    EXPECT_FALSE(warning.m_hasId);
    EXPECT_EQ(onSetWarningMessage("", &warning), PYRITE_E_FAILED);
    EXPECT_EQ(onSetWarningMessage("ID:1", nullptr), PYRITE_E_FAILED);
}

TEST(DirSyncStrategy, CheckPath)
{
    struct Case
    {
        const char* extension;
        const char* path;
        i32 answer;
    };
    const Case cases[] = {
        {"zethis", nullptr, 1},           {nullptr, "a.anything", 0},    {"", "noDot", 0},
        {"zethis", "noDot", 1},           {"zethis", "Scene.ZETHIS", 0}, {"ZetHis", "dir/scene.zethis", 0},
        {"zethis", "a.zeth", 1},          {"zethis", "a.zethisx", 1},    {"zethis", "a.zethis.bak", 1},
        {"zethis", "dir.zethis/file", 1}, {"zethis", "a.", 1},           {"zethis", ".zethis", 0},
    };
    for (const Case& c : cases) {
        PyriteDirSyncStrategy strategy;
        strategy.setup(nullptr, c.extension);
        EXPECT_EQ(strategy.checkPath(c.path), c.answer)
            << (c.extension != nullptr ? c.extension : "null") << " " << (c.path != nullptr ? c.path : "null");
    }
}

} // namespace
