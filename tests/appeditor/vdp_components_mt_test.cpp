// The executor's component, connection, meter and link-state handlers among stand-in threads: what they post, when
// they reply, and how bad lists, repeated keys and a full store end a request.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "pdb_ComponentInfoParserJSON.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_SimpleReadWriteMutex.h"
#include "tms_TestSupport.h"
#include "vdp_ExecutorRig.h"
#include "vdp_MeterContainer.h"
#include "vdp_PacketConvertor.h"

namespace {

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new tmstest::RepositoryEnvironment());

using VDevice::VDProtocolExecutor;
using vdptest::makeMessage;

std::string requestLine(const std::string& cmd, const std::string& cmdInfo, const std::string& reqId = "r1")
{
    return R"({"request":{"cmd":")" + cmd + R"(",)" + cmdInfo + R"("from":"editor","reqid":")" + reqId +
           R"(","to":"device"}})";
}

std::string replyLine(const std::string& cmd, const std::string& cmdInfo, const std::string& result,
                      const std::string& reqId = "r1")
{
    return R"({"reply":{"cmd":")" + cmd + R"(",)" + cmdInfo + R"("from":"device","message":"","progress":"100",)" +
           R"("reqid":")" + reqId + R"(","result":")" + result + R"(","to":"editor"}})";
}

// The cmdinfo of a list (none for an empty one, as the reply writes it).
std::string listOf(const std::vector<std::string>& entries)
{
    if (entries.empty()) {
        return "";
    }
    std::string list;
    for (const std::string& entry : entries) {
        list += (list.empty() ? "" : ",") + entry;
    }
    return R"("cmdinfo":{"list":[)" + list + "]},";
}

std::string component(u32 uid, const char* type = "testgain:1:1x1")
{
    return std::string(R"({"cptName":")") + type + R"(","prmAddr":"AudioCompo/#)" + std::to_string(uid) + R"("})";
}

std::string connection(const char* rx, const char* rxPort, const char* tx, const char* txPort)
{
    return std::string(R"({"rx_cpt":")") + rx + R"(","rx_cpt_port":")" + rxPort + R"(","tx_cpt":")" + tx +
           R"(","tx_cpt_port":")" + txPort + R"("})";
}

// "name=value;" for every field in name order (texts as they are, numbers as unsigned decimals).
std::string fieldsOf(const TMS::AbstractMessage& message)
{
    std::string text;
    for (const auto& [name, value] : message.getFields()) {
        text += name + "=" + (value.getString() != nullptr ? value.getString() : std::to_string(value.getUInt())) + ";";
    }
    return text;
}

class Handlers : public ::testing::Test
{
protected:
    Handlers()
    {
        for (tmstest::RecordingThread* thread : {&m_rig.m_deviceControl, &m_rig.m_sync}) {
            thread->m_messageHook = [this](const TMS::AbstractMessage& message) {
                if (std::string(message.getValue("CommandName").getString()) != "Flush") {
                    std::lock_guard<std::mutex> guard(m_lock);
                    m_posted.push_back(fieldsOf(message));
                }
            };
        }
    }
    // What "DeviceControl" and "Sync" were sent so far, forgotten. A message behind the posts in their queues
    // marks the end.
    std::vector<std::string> posted()
    {
        ++m_flushes;
        for (tmstest::RecordingThread* thread : {&m_rig.m_deviceControl, &m_rig.m_sync}) {
            EXPECT_EQ(thread->sendMessageWithWaiting(makeMessage("Flush")), 0u);
            EXPECT_TRUE(thread->waitForCount("msg:Flush", m_flushes, vdptest::WAIT_MS));
        }
        std::lock_guard<std::mutex> guard(m_lock);
        std::vector<std::string> taken;
        taken.swap(m_posted);
        return taken;
    }
    // The lines sent from now until there are count of them.
    std::vector<std::string> lines(size_t count)
    {
        std::vector<std::string> all;
        EXPECT_TRUE(tmstest::waitUntil(
            [&] {
                const std::vector<std::string> taken = m_rig.lines();
                all.insert(all.end(), taken.begin(), taken.end());
                return all.size() >= count;
            },
            vdptest::WAIT_MS));
        return all;
    }
    u32 pendingCount()
    {
        u32 count = 0;
        m_rig.m_host.run([&] { count = m_rig.executor().getPendingRequests().getCount(); });
        return count;
    }
    void answerComponent(const char* name, u32 uid, i32 result)
    {
        TMS::AbstractMessage message = makeMessage(name, {{"UniqID", uid}});
        message.setInt("Result", result);
        m_rig.answer(message);
    }

    vdptest::ExecutorRig m_rig;
    std::mutex m_lock;
    std::vector<std::string> m_posted;
    size_t m_flushes = 0;
};

TEST_F(Handlers, ComponentListsPostInOrderAndReplyAfterTheLastAnswer)
{
    vdptest::ShippedDatabases databases{"VDeviceSetup"};
    m_rig.m_compiler.m_messageHook = [this](const TMS::AbstractMessage&) {
        TMS::AbstractMessage usage = makeMessage("Re:getTotalProcessingResourceUsage");
        usage.setUInt("Result", 4200);
        EXPECT_EQ(m_rig.m_host.sendMessageWithWaiting(usage), 0u);
    };
    const std::string resource = R"({"notify":{"cmd":"cpt_resource","cmdinfo":{"info":{"capacity":1333332,)"
                                 R"("resource":42}},"from":"editor-uid"}})";
    const struct
    {
        const char* cmd;
        const char* answer;
        std::vector<std::string> posts;
    } cases[] = {
        {"add_cpt_info",
         "Re:addComponent",
         {"CommandName=addComponent;ComponentDefaultPath=;ComponentName=testgain;MajorVersion=1;NumX=2;NumY=1;"
          "UniqID=100;",
          "CommandName=addComponent;ComponentDefaultPath=;ComponentName=hugegain;MajorVersion=2;NumX=1;NumY=4;"
          "UniqID=101;"}},
        {"del_cpt_info",
         "Re:removeComponent",
         {"CommandName=removeComponent;UniqID=100;", "CommandName=removeComponent;UniqID=101;"}},
    };
    const std::string cmdInfo = listOf({component(100, "testgain:1:2x1"), component(101, "hugegain:0x2:1x4")});
    for (const auto& c : cases) {
        m_rig.dispatch(requestLine(c.cmd, cmdInfo));
        EXPECT_EQ(posted(), c.posts) << c.cmd;
        answerComponent(c.answer, 100, 0);
        EXPECT_TRUE(m_rig.lines().empty()) << c.cmd;
        answerComponent(c.answer, 101, 0);
        EXPECT_EQ(lines(2), (std::vector<std::string>{replyLine(c.cmd, cmdInfo, "ok"), resource})) << c.cmd;
        EXPECT_EQ(pendingCount(), 0u);
    }

    // A type change posts the component's type without a path and completes like a list.
    const std::string info = R"("cmdinfo":{"info":{"cptName":"testgain:1:1x1","prmAddr":"AudioCompo/#100"}},)";
    m_rig.dispatch(requestLine("set_cpt_change", info));
    EXPECT_EQ(posted(), std::vector<std::string>{"CommandName=changeComponentType;ComponentName=testgain;"
                                                 "MajorVersion=1;NumX=1;NumY=1;UniqID=100;"});
    answerComponent("Re:changeComponentType", 100, static_cast<i32>(0x80000000u));
    EXPECT_EQ(lines(2), (std::vector<std::string>{replyLine("set_cpt_change", info, "ng"), resource}));
}

TEST_F(Handlers, BadListsEndTheRequestWithOneReplyAndLaterAnswersFindNothing)
{
    const std::string noHash = R"({"cptName":"testgain:1:1x1","prmAddr":"AudioCompo/100"})";
    const std::string noType = R"({"prmAddr":"AudioCompo/#102"})";
    const struct
    {
        const char* cmd;
        std::vector<std::string> entries;
        const char* result;
        std::vector<u32> posted; // unique ids whose posts went out before the reply
    } cases[] = {
        {"add_cpt_info", {}, "ok", {}},
        {"del_cpt_info", {}, "ok", {}},
        {"add_cpt_connect", {}, "ok", {}},
        {"del_cpt_connect", {}, "ok", {}},
        {"add_cpt_info", {noHash}, "ng", {}},
        {"add_cpt_info", {component(100), component(101), noType}, "ng", {100, 101}},
        {"add_cpt_info", {component(100), component(101), component(102, "testgain:1:1")}, "ng", {100, 101}},
        {"add_cpt_info", {component(100), component(101), component(100)}, "ng/duplicate", {100, 101}},
        {"del_cpt_info", {component(100), R"({"prmAddr":"AudioCompo/#one"})"}, "ng/not_found", {100}},
        {"add_cpt_connect",
         {connection("AudioCompo/#101", "0", "AudioCompo/#100", "0"),
          connection("AudioCompo/#101", "in:0", "AudioCompo/#100", "0")},
         "ng/duplicate",
         {101}},
        {"del_cpt_connect", {connection("AudioCompo/#101", "in:z", "AudioCompo/#100", "0")}, "ng/not_found", {}},
        {"add_cpt_connect", {R"({"rx_cpt":"AudioCompo/#101","rx_cpt_port":"0","tx_cpt":"AudioCompo/#100"})"}, "ng", {}},
    };
    for (const auto& c : cases) {
        const std::string cmdInfo = listOf(c.entries);
        m_rig.dispatch(requestLine(c.cmd, cmdInfo));
        EXPECT_EQ(m_rig.lines(), std::vector<std::string>{replyLine(c.cmd, cmdInfo, c.result)}) << cmdInfo;
        EXPECT_EQ(pendingCount(), 0u) << cmdInfo;
        EXPECT_EQ(posted().size(), c.posted.size()) << cmdInfo;
        // The answers to what was posted find no request.
        const bool connections = std::string(c.cmd).find("connect") != std::string::npos;
        for (u32 uid : c.posted) {
            if (connections) {
                TMS::AbstractMessage message = makeMessage(
                    "Re:addConnection", {{"toUniqId", uid}, {"toPortNo", 0}, {"fromUniqId", 100}, {"fromPortNo", 0}});
                message.setInt("Result", 0);
                m_rig.answer(message);
            } else {
                answerComponent(c.cmd[0] == 'a' ? "Re:addComponent" : "Re:removeComponent", uid, 0);
            }
        }
        EXPECT_TRUE(m_rig.lines().empty()) << cmdInfo;
    }
}

TEST_F(Handlers, AFullStoreAnswersAtOnceAndPostsNothing)
{
    m_rig.m_host.run([&] {
        VDProtocol::PacketContainer stored;
        ASSERT_EQ(VDProtocol::decodePacket(requestLine("set_compile", ""), stored), 0);
        for (u32 i = 0; i < VDProtocol::CommandContainer::MAX_ITEMS; ++i) {
            u32 id = 0;
            ASSERT_EQ(m_rig.executor().getPendingRequests().add(id, stored), 0);
        }
    });
    const std::string info = R"("cmdinfo":{"info":{"cptName":"testgain:1:1x1","prmAddr":"AudioCompo/#100"}},)";
    const std::pair<const char*, std::string> requests[] = {
        {"add_cpt_info", listOf({component(100)})},
        {"del_cpt_connect", listOf({connection("AudioCompo/#101", "0", "AudioCompo/#100", "0")})},
        {"set_cpt_change", info},
    };
    for (const auto& [cmd, cmdInfo] : requests) {
        m_rig.dispatch(requestLine(cmd, cmdInfo));
        EXPECT_EQ(m_rig.lines(), std::vector<std::string>{replyLine(cmd, cmdInfo, "ng")}) << cmd;
    }
    m_rig.dispatch(requestLine("set_cpt_change", R"("cmdinfo":{"info":{"prmAddr":"AudioCompo/#100"}},)"));
    EXPECT_EQ(m_rig.lines().size(), 1u);
    EXPECT_TRUE(posted().empty());
    EXPECT_EQ(pendingCount(), VDProtocol::CommandContainer::MAX_ITEMS);
}

TEST_F(Handlers, ConnectionsPostTheReceivingSideAsToAndCompleteByTheirKey)
{
    const std::string cmdInfo = listOf({connection("AudioCompo/#101", "in:3", "AudioCompo/#100", "2")});
    m_rig.dispatch(requestLine("add_cpt_connect", cmdInfo));
    EXPECT_EQ(posted(), std::vector<std::string>{"CommandName=addConnection;fromPortNo=2;fromUniqId=100;toPortNo=3;"
                                                 "toUniqId=101;"});
    const auto answer = [&](u32 toPort) {
        TMS::AbstractMessage message = makeMessage(
            "Re:addConnection", {{"fromUniqId", 100}, {"fromPortNo", 2}, {"toUniqId", 101}, {"toPortNo", toPort}});
        message.setInt("Result", 0);
        m_rig.answer(message);
    };
    answer(2); // another connection's answer
    EXPECT_TRUE(m_rig.lines().empty());
    answer(3); // "101:3/100:2"
    EXPECT_EQ(m_rig.lines(), std::vector<std::string>{replyLine("add_cpt_connect", cmdInfo, "ok")});
    u32 usageRequests = 1;
    m_rig.m_host.run([&] { usageRequests = m_rig.executor().getPostWindow().getOutstandingCount("Compiler"); });
    EXPECT_EQ(usageRequests, 0u);
}

TEST(ComponentName, PiecesNumbersAndSizes)
{
    const struct
    {
        const char* text;
        i32 result;
        const char* name;
        u32 major, x, y;
    } cases[] = {
        {"testgain::1:1x1", 0, "testgain", 1, 1, 1},
        {"testgain:0x2:1x1", 0, "testgain", 2, 1, 1},
        {":mix:010:2xx3:extra", 0, "mix", 8, 2, 3},
        {"testgain:1:1", static_cast<i32>(0x80000000u), "", 0, 0, 0},
        {"testgain:1", static_cast<i32>(0x80000000u), "", 0, 0, 0},
        {"testgain:one:1x1", static_cast<i32>(0x80000000u), "", 0, 0, 0},
        {"testgain:1.5:1x1", static_cast<i32>(0x80000000u), "", 0, 0, 0},
        {"testgain:1:1xy", static_cast<i32>(0x80000000u), "", 0, 0, 0},
    };
    for (const auto& c : cases) {
        std::string name;
        u32 major = 0, x = 0, y = 0;
        EXPECT_EQ(VDProtocolExecutor::parseComponentName(c.text, name, major, x, y), c.result) << c.text;
        EXPECT_EQ(name, c.name) << c.text;
        EXPECT_EQ(std::vector<u32>({major, x, y}), std::vector<u32>({c.major, c.x, c.y})) << c.text;
    }
}

TEST_F(Handlers, MeterSubscriptionsAndTheMeterListPost)
{
    VDevice::VDMeterContainer& meters = VDevice::VDMeterContainer::getInstance();
    const auto request = [&](const char* cmd, const std::string& cmdInfo, const char* result) {
        m_rig.dispatch(requestLine(cmd, cmdInfo));
        EXPECT_EQ(m_rig.lines(), std::vector<std::string>{replyLine(cmd, cmdInfo, result)}) << cmd << cmdInfo;
    };
    const std::string two = R"("cmdinfo":{"info":{"id":"m"},"list":[{"prmAddr":"AudioCompo/#1"},)"
                            R"({"prmAddr":"AudioCompo/#2"}]},)";
    request("add_cpt_meter", R"("cmdinfo":{"list":[{"prmAddr":"AudioCompo/#1"}]},)", "ng");
    request("add_cpt_meter", two, "ok");
    EXPECT_EQ(meters.getMeterKeys(), (std::vector<std::string>{"AudioCompo/#1", "AudioCompo/#2"}));
    // An entry without "prmAddr" ends the list and posts "MeterList".
    request("add_cpt_meter",
            R"("cmdinfo":{"info":{"id":"m"},"list":[{"prmAddr":"AudioCompo/#3"},{"x":1},)"
            R"({"prmAddr":"AudioCompo/#4"}]},)",
            "ok");
    EXPECT_EQ(posted(), std::vector<std::string>{"CommandName=MeterList;"});
    EXPECT_EQ(meters.getMeterKeys(), (std::vector<std::string>{"AudioCompo/#1", "AudioCompo/#2", "AudioCompo/#3"}));
    request("del_cpt_meter", two, "ok");
    EXPECT_EQ(meters.getMeterKeys(), std::vector<std::string>{"AudioCompo/#3"});
    request("del_cpt_meter", R"("cmdinfo":{"info":{"id":"_ALL_"},"list":[{"x":1}]},)", "ok");
    EXPECT_TRUE(meters.getMeterKeys().empty());
    EXPECT_TRUE(posted().empty());
}

TEST_F(Handlers, SyncOfflineOnlyWhileSynchronised)
{
    m_rig.dispatch(requestLine("set_sync_offline", ""));
    EXPECT_EQ(m_rig.lines(), std::vector<std::string>{replyLine("set_sync_offline", "", "ng")});
    m_rig.setEditorState(10);
    m_rig.dispatch(requestLine("set_sync_offline", ""));
    EXPECT_EQ(posted(), std::vector<std::string>{"CommandName=Asynchronous;"});
    EXPECT_TRUE(m_rig.lines().empty());
    EXPECT_EQ(pendingCount(), 0u);
}

TEST_F(Handlers, ActiveRepliesWithTheCapacityReadAndWritesNothing)
{
    vdptest::ShippedDatabases databases{"Profile", "VDeviceSetup"};
    const auto capacity = [] {
        KVariant value;
        EXPECT_EQ(
            VDProtocolExecutor::readDeviceSetting(value, VDProtocolExecutor::findDeviceSetting("VDeviceCapacity")), 0);
        return value.getUInt();
    };
    const u32 before = capacity();
    m_rig.dispatch(requestLine("set_active", ""));
    EXPECT_EQ(m_rig.lines(), std::vector<std::string>{replyLine("set_active", "", "ok")});

    // A "Profile" whose description has no "/VEXA/Capacity".
    ASSERT_EQ(PDB::ParameterDBCollection::deleteInstance(0), 0);
    static PDB::SimpleReadWriteMutex mutex;
    const PDB::ComponentInfo info = PDB::ComponentInfoParserJSON::createFromJson(
        R"({"component": {"name": "NoCapacity", "majorVer": 1},
            "parameters": [{"strAddress": "/X", "type": "UINT32", "max": "9"}]})");
    PDB::ComponentInfoRepository::getInstance().registerComponentInfo(info);
    ASSERT_EQ(PDB::ParameterDBCollection::createInstance(0, "Profile", &mutex, 0), 0);
    ASSERT_GE(PDB::ParameterDBCollection::getInstance(0).addComponent(0, "NoCapacity", 1, 1, 1, 0), 0);
    KVariant value;
    const i32 read =
        VDProtocolExecutor::readDeviceSetting(value, VDProtocolExecutor::findDeviceSetting("VEXACapacity"));
    ASSERT_LT(read, 0);
    m_rig.dispatch(requestLine("set_active", ""));
    EXPECT_EQ(m_rig.lines(), std::vector<std::string>{replyLine("set_active", "", VDProtocol::getResultName(read))});
    EXPECT_EQ(capacity(), before);
}

} // namespace
