// The "VDProtocol" thread with its real client unit and executor against a test editor on 127.0.0.1, among stand-in
// threads (or the real "DeviceControl"): its start with and without a link, the end of the program, the answers it
// hands on, its timers, and a 200-component request through the real threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "dadov_AudioComponentCollection.h"
#include "dbgc_TestSupport.h"
#include "fsw_TestSupport.h"
#include "logic_LogicComponentCollection.h"
#include "os_TestHooks.h"
#include "pdb_ParameterDBCollection.h"
#include "tms_TestSupport.h"
#include "tms_ThreadRepository.h"
#include "tms_ThreadTestHooks.h"
#include "vdp_ExecutorRig.h"
#include "vdp_LinkRig.h"
#include "vdp_MeterContainer.h"
#include "vsock_TestSupport.h"

namespace {

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new dbgctest::Environment);

using tmstest::waitUntil;
using vdptest::LinkSystem;
using vdptest::makeMessage;
using vdptest::TestEditor;
namespace fs = std::filesystem;

constexpr const char* CONNECTED = R"({"connected":{"from":"editor-uid"}})";

std::string portOption(u16 port)
{
    return "port=" + std::to_string(port);
}

std::string requestLine(const std::string& cmd, const std::string& reqId, const std::string& cmdInfo = "")
{
    return R"({"request":{"cmd":")" + cmd + R"(",)" + cmdInfo + R"("from":"editor","reqid":")" + reqId +
           R"(","to":"editor-uid"}})";
}

std::string replyLine(const std::string& cmd, const std::string& reqId, const std::string& result,
                      const std::string& cmdInfo = "")
{
    return R"({"reply":{"cmd":")" + cmd + R"(",)" + cmdInfo + R"("from":"editor-uid","message":"","progress":"100",)" +
           R"("reqid":")" + reqId + R"(","result":")" + result + R"(","to":"editor"}})";
}

TMS::AbstractMessage answer(const char* name, i32 result, const std::vector<std::pair<const char*, u32>>& fields)
{
    TMS::AbstractMessage message = makeMessage(name, fields);
    message.setInt("Result", result);
    return message;
}

void sendToLink(const TMS::AbstractMessage& message)
{
    ASSERT_EQ(TMS::ThreadRepository::getThread("VDProtocol")->sendMessageWithWaiting(message), 0u);
}

class LinkThread : public ::testing::Test
{
protected:
    // Starts the system against the editor, takes the link and lets the product start: the editor has read
    // "connected".
    void goLive(LinkSystem& system)
    {
        vdptest::setOptions({"uid=editor-uid", portOption(m_editor.port()).c_str()});
        system.run();
        ASSERT_TRUE(m_editor.accept());
        ASSERT_TRUE(waitUntil([&] { return system.seen("VDPState") == 1; }, vdptest::WAIT_MS));
        if (!system.m_realDeviceControl) {
            system.m_standInDeviceControl.publish("PDBState", 1);
            system.m_standInDeviceControl.publish("ZOVORaState", 3);
        }
        EXPECT_EQ(m_editor.nextLine(), CONNECTED);
    }
    // A message through the link thread's queue whose effect the editor sees: everything queued before it has
    // been served once the line arrives.
    void barrier()
    {
        sendToLink(answer("Re:Disconnect", 0, {}));
        EXPECT_EQ(m_editor.nextLine(),
                  R"({"notify":{"cmd":"Disconnect","from":"editor-uid","message":"","progress":"100","result":"ok"}})");
    }

    TestEditor m_editor;
};

TEST_F(LinkThread, RunsWithoutALinkWhenUidOrPortIsMissing)
{
    const std::string port = portOption(m_editor.port());
    for (const char* given : {port.c_str(), "uid=editor-uid"}) {
        LinkSystem system;
        vdptest::setOptions({given});
        system.run();
        system.m_standInDeviceControl.publish("PDBState", 1);
        EXPECT_TRUE(waitUntil([&] { return system.seen("ProductState") == 1; }, vdptest::WAIT_MS)) << given;
        EXPECT_EQ(system.seen("VDPState"), 1u) << given;
        EXPECT_FALSE(m_editor.hasCaller(200)) << given;
        EXPECT_EQ(system.getReleasesByLink(), 0u);
    }
}

TEST_F(LinkThread, StartsThatCannotReachAnEditorEndTheProgramOnce)
{
    u16 unused = 0;
    vsocktest::closeFd(vsocktest::rawTcpListen(&unused)); // nothing listens there now
    const std::string nobody = std::to_string(unused);
    testing::internal::CaptureStdout();
    for (const std::string& port : {std::string("abc"), std::string("0"), std::string("70000"), nobody}) {
        LinkSystem system;
        vdptest::setOptions({"uid=editor-uid", ("port=" + port).c_str()});
        system.run();
        EXPECT_TRUE(system.ended()) << port;
        EXPECT_EQ(system.getReleasesByLink(), 1u) << port;
        EXPECT_EQ(system.seen("VDPState"), 0u) << port;
    }
    const std::string output = testing::internal::GetCapturedStdout();
    for (const char* port : {"abc", "0", "70000"}) {
        EXPECT_NE(output.find(std::string("[E] PyriteClientVDProtocolThread::onChangeStatus - port \"") + port +
                              "\" is no port number."),
                  std::string::npos)
            << port;
    }
    EXPECT_FALSE(m_editor.hasCaller(0));
}

TEST_F(LinkThread, ConnectedOnceAfterTheProductStartsAndTheEditorHangingUpEndsTheProgram)
{
    LinkSystem system;
    goLive(system);
    ASSERT_TRUE(m_editor.send(requestLine("set_save", "s1")));
    EXPECT_EQ(m_editor.nextLine(), replyLine("set_save", "s1", "ok")); // no second "connected" before it
    // Stopped and run again, the thread keeps its link and builds no second one.
    ASSERT_EQ(system.m_link.stop(TMS::AbstractMessage::emptyFields()), 0u);
    ASSERT_EQ(system.m_link.start(TMS::AbstractMessage::emptyFields()), 0u);
    ASSERT_TRUE(m_editor.send(requestLine("set_save", "s2")));
    EXPECT_EQ(m_editor.nextLine(), replyLine("set_save", "s2", "ok"));
    EXPECT_FALSE(m_editor.hasCaller(0));
    m_editor.hangUp();
    EXPECT_TRUE(system.ended());
    EXPECT_EQ(system.getReleasesByLink(), 1u);
}

TEST_F(LinkThread, AnswersAreDroppedWhileRunModeIsNotZero)
{
    LinkSystem system;
    goLive(system);
    ASSERT_TRUE(m_editor.send(requestLine(
        "add_cpt_info", "a1", R"("cmdinfo":{"list":[{"cptName":"testgain:1:1x1","prmAddr":"AudioCompo/#100"}]},)")));
    ASSERT_TRUE(system.m_standInDeviceControl.waitForCount("msg:addComponent", 1, vdptest::WAIT_MS));
    system.publishToLink("RunMode", 2);
    sendToLink(answer("Re:addComponent", 0, {{"UniqID", 100}}));
    // RunMode 0 again: the product "starts" once more, and the dropped answer would have been served before.
    system.m_sync.publish("RunMode", 0);
    EXPECT_EQ(m_editor.nextLine(), CONNECTED);
    sendToLink(answer("Re:addComponent", 0, {{"UniqID", 100}}));
    EXPECT_EQ(m_editor.nextLine(),
              replyLine("add_cpt_info", "a1", "ok",
                        R"("cmdinfo":{"list":[{"cptName":"testgain:1:1x1","prmAddr":"AudioCompo/#100"}]},)"));
}

TEST_F(LinkThread, DetectTimerAndTheNetworkInformationDelete)
{
    LinkSystem system;
    system.m_sync.m_messageHook = [](const TMS::AbstractMessage& message) {
        if (std::string(message.getValue("CommandName").getString()) == "Disconnect") {
            sendToLink(answer("Re:Disconnect", 0, {}));
        }
    };
    goLive(system);
    TMS::ObjectTimerList& timers = system.m_link.getTimers();
    sendToLink(makeMessage("DetectStop"));
    barrier();
    EXPECT_EQ(timers.getLength(), 0u);
    sendToLink(makeMessage("DetectStart"));
    sendToLink(makeMessage("DetectStart"));
    barrier();
    EXPECT_EQ(timers.getLength(), 1u);

    // "del" "net_info" stops the detection on the thread itself before it replies, then "Sync" disconnects.
    ASSERT_TRUE(m_editor.send(requestLine("del_net_info", "n1")));
    EXPECT_EQ(m_editor.nextLine(), replyLine("del_net_info", "n1", "ok"));
    EXPECT_EQ(timers.getLength(), 0u);
    EXPECT_EQ(m_editor.nextLine(),
              R"({"notify":{"cmd":"Disconnect","from":"editor-uid","message":"","progress":"100","result":"ok"}})");
    EXPECT_EQ(system.m_sync.countOf("msg:Disconnect"), 1u);
}

TEST_F(LinkThread, ConnectionRemovalsAreAnsweredThroughTheThread)
{
    LinkSystem system;
    system.m_standInDeviceControl.m_messageHook = [](const TMS::AbstractMessage& message) {
        const std::string name = std::string("Re:") + message.getValue("CommandName").getString();
        const u32 toPort = message.getValue("toPortNo").getUInt();
        sendToLink(answer(name.c_str(), toPort == 3 ? static_cast<i32>(0x80000002u) : 0,
                          {{"fromUniqId", message.getValue("fromUniqId").getUInt()},
                           {"fromPortNo", message.getValue("fromPortNo").getUInt()},
                           {"toUniqId", message.getValue("toUniqId").getUInt()},
                           {"toPortNo", toPort}}));
    };
    goLive(system);
    const std::string list = R"("cmdinfo":{"list":[{"rx_cpt":"AudioCompo/#101","rx_cpt_port":"in:2",)"
                             R"("tx_cpt":"AudioCompo/#100","tx_cpt_port":"0"},{"rx_cpt":"AudioCompo/#101",)"
                             R"("rx_cpt_port":"in:3","tx_cpt":"AudioCompo/#100","tx_cpt_port":"1"}]},)";
    ASSERT_TRUE(m_editor.send(requestLine("del_cpt_connect", "c1", list)));
    EXPECT_EQ(m_editor.nextLine(), replyLine("del_cpt_connect", "c1", "ng/not_found", list));
    EXPECT_EQ(system.m_standInDeviceControl.countOf("msg:removeConnection"), 2u);
}

TEST_F(LinkThread, EditorStateClassTwoRunsTheMeterTimerUntilItChanges)
{
    (void)LogicCtrl::LogicComponentCollection::getInstance().initialize();
    DADOV::AudioComponentCollection& collection = DADOV::AudioComponentCollection::getInstance();
    ASSERT_EQ(collection.initialize(VDP_METER_PLUGIN_DIR, 8), 0);
    {
        LinkSystem system;
        system.m_standInDeviceControl.m_messageHook = [&](const TMS::AbstractMessage& message) {
            if (std::string(message.getValue("CommandName").getString()) == "Add") {
                ASSERT_EQ(collection.beginByThread(nullptr), 0);
                ASSERT_EQ(collection.addComponent("meterpair", 1, 7, 2, 1), 0);
            } else {
                EXPECT_EQ(collection.endByThread(), 0);
            }
        };
        goLive(system);
        ASSERT_EQ(system.m_standInDeviceControl.sendMessageWithWaiting(makeMessage("Add")), 0u);
        ASSERT_TRUE(VDevice::VDMeterContainer::getInstance().addMeter("m", "AudioCompo/#7"));
        TMS::ObjectTimerList& timers = system.m_link.getTimers();

        system.m_sync.publish("EditorState", 10);
        const std::string status =
            R"({"notify":{"cmd":"dev_status","cmdinfo":{"info":{"devIpAddr":"","devMacAddr":"",)";
        EXPECT_EQ(m_editor.nextLine(), status + R"("deviceStatus":2}},"from":"editor-uid"}})");
        // The timer re-arms itself after every pass: meter lines keep coming.
        for (int i = 0; i < 3; ++i) {
            const std::optional<std::string> line = m_editor.nextLine();
            ASSERT_TRUE(line);
            EXPECT_EQ(line->rfind(R"({"notify":{"cmd":"meter","cmdinfo":{"info":{"prmAddr":"AudioCompo/#7")", 0), 0u)
                << *line;
        }
        system.m_sync.publish("EditorState", 4);
        EXPECT_EQ(m_editor.nextLineSkipping(R"({"notify":{"cmd":"meter")"),
                  status + R"("deviceStatus":1}},"from":"editor-uid"}})");
        // The status goes out before the thread stops the timer.
        EXPECT_TRUE(waitUntil([&] { return timers.getLength() == 0u; }, vdptest::WAIT_MS));
        EXPECT_FALSE(m_editor.nextLine(3 * VDevice::VDMeterContainer::DEFAULT_INTERVAL + 200));

        ASSERT_EQ(system.m_standInDeviceControl.sendMessageWithWaiting(makeMessage("End")), 0u);
        system.m_standInDeviceControl.waitForCount("msg:End", 1, vdptest::WAIT_MS);
    }
    VDevice::VDMeterContainer::getInstance().clear();
    EXPECT_EQ(collection.finalize(), 0);
}

// The link thread waits to post to a full "Sync" while "Sync" is held: answers sent to the link thread meanwhile
// neither wait nor get lost.
TEST_F(LinkThread, AnswersNeverWaitOnTheLinkThread)
{
    TMS::testhooks::setSendRetry(600, 100); // the link thread may wait up to 60 s for "Sync"
    struct Hold
    {
        std::promise<void> m_release;
        std::shared_future<void> m_released = m_release.get_future().share();
        ~Hold() { m_release.set_value(); }
    };
    LinkSystem system;
    auto hold = std::make_unique<Hold>();
    const std::shared_future<void> released = hold->m_released;
    system.m_sync.m_messageHook = [released](const TMS::AbstractMessage&) { released.wait(); };
    goLive(system);
    const std::string network = R"("cmdinfo":{"info":{"devIpAddr":"10.0.0.2","pcIpAddr":"10.0.0.1"}},)";
    std::map<std::string, u32> lines; // line kind -> count
    for (int i = 0; i < 7; ++i) {
        ASSERT_TRUE(m_editor.send(requestLine("set_net_info", "n" + std::to_string(i), network)));
    }
    // "Sync" holds the first post and its queue takes five more: the link thread waits to post the seventh.
    ASSERT_TRUE(waitUntil([&] { return vdptest::logHolds(system.m_sync, "(call from [VDProtocol]) - Busy!"); },
                          vdptest::WAIT_MS));
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(system.m_link.sendMessage(answer("Re:Disconnect", 0, {})), 0u) << i;
    }
    hold.reset();
    for (int i = 0; i < 15; ++i) {
        const std::optional<std::string> line = m_editor.nextLine();
        ASSERT_TRUE(line) << i;
        ++lines[line->substr(0, line->find(R"(",")"))];
    }
    EXPECT_EQ(lines, (std::map<std::string, u32>{{R"({"notify":{"cmd":"Disconnect)", 8},
                                                 {R"({"reply":{"cmd":"set_net_info)", 7}}));
    TMS::testhooks::resetSendRetry();
}

// Answers that never come, one kind per case: once the clock has passed their deadline, the request they serve is
// answered "ng/timeout" and the window slot they held lets the next post of their kind go.
TEST_F(LinkThread, LostAnswersEndTheirRequestAndFreeTheirSlot)
{
    struct ClockJumps
    {
        ~ClockJumps() { ossupport::testhooks::setMillisecondsOffset(0); }
        void pastTheDeadline()
        {
            ossupport::testhooks::setMillisecondsOffset(ossupport::testhooks::getMillisecondsOffset() +
                                                        VDevice::VDProtocolExecutor::ANSWER_TIMEOUT_MS + 1000);
        }
    } clock;
    vdptest::ShippedDatabases databases{"VDeviceSetup"};
    LinkSystem system;
    // The first "startCompile" and the first usage request are lost, and so are the components below 10; the rest
    // is answered at once.
    std::atomic<u32> compiles{0};
    std::atomic<u32> usages{0};
    system.m_compiler.m_messageHook = [&](const TMS::AbstractMessage& message) {
        const std::string name = message.getValue("CommandName").getString();
        if (name == "startCompile" && ++compiles > 1) {
            sendToLink(answer("Notify:compileResult", 0, {}));
        } else if (name == "getTotalProcessingResourceUsage" && ++usages > 1) {
            sendToLink(answer("Re:getTotalProcessingResourceUsage", 1234, {}));
        }
    };
    system.m_standInDeviceControl.m_messageHook = [](const TMS::AbstractMessage& message) {
        const std::string name = message.getValue("CommandName").getString();
        if (name == "addComponent" && message.getValue("UniqID").getUInt() < 10) {
            return;
        }
        TMS::AbstractMessage reply(message);
        reply.setString("CommandName", ("Re:" + name).c_str());
        reply.setInt("Result", 0);
        sendToLink(reply);
    };
    goLive(system);

    const auto components = [](std::initializer_list<u32> uids) {
        std::string list;
        for (u32 uid : uids) {
            list += std::string(list.empty() ? "" : ",") + R"({"cptName":"testgain:1:1x1","prmAddr":"AudioCompo/#)" +
                    std::to_string(uid) + R"("})";
        }
        return R"("cmdinfo":{"list":[)" + list + "]},";
    };
    const std::string connection = R"("cmdinfo":{"list":[{"rx_cpt":"AudioCompo/#11","rx_cpt_port":"0",)"
                                   R"("tx_cpt":"AudioCompo/#12","tx_cpt_port":"0"}]},)";
    const struct
    {
        const char* m_what;
        std::vector<std::string> m_requests;      // sent at once
        std::vector<std::string> m_answered;      // the editor reads these first
        std::function<bool()> m_lostOnTheirWay;   // the posts whose answers are lost have gone out
        std::vector<std::string> m_afterDeadline; // then these
    } cases[] = {
        {"compile",
         {requestLine("set_compile", "c1"), requestLine("set_compile", "c2")},
         {},
         [&] { return compiles.load() == 1; },
         {replyLine("set_compile", "c1", "ng/timeout"),
          replyLine("set_compile", "c2", "ok", R"("cmdinfo":{"info":{"capacity":1333332}},)")}},
        {"components",
         {requestLine("add_cpt_info", "a1", components({1, 2, 3, 4})),
          requestLine("add_cpt_connect", "k1", connection)},
         {},
         [&] { return system.m_standInDeviceControl.countOf("msg:addComponent") == 4; },
         {replyLine("add_cpt_info", "a1", "ng/timeout", components({1, 2, 3, 4})),
          replyLine("add_cpt_connect", "k1", "ok", connection)}},
        {"usage",
         {requestLine("add_cpt_info", "a2", components({20})), requestLine("add_cpt_info", "a3", components({21}))},
         {replyLine("add_cpt_info", "a2", "ok", components({20})),
          replyLine("add_cpt_info", "a3", "ok", components({21}))},
         [&] { return usages.load() == 1; },
         {R"({"notify":{"cmd":"cpt_resource","cmdinfo":{"info":{"capacity":1333332,"resource":12}},)"
          R"("from":"editor-uid"}})"}},
    };
    for (const auto& c : cases) {
        for (const std::string& line : c.m_requests) {
            ASSERT_TRUE(m_editor.send(line)) << c.m_what;
        }
        for (const std::string& line : c.m_answered) {
            EXPECT_EQ(m_editor.nextLine(), line) << c.m_what;
        }
        ASSERT_TRUE(waitUntil(c.m_lostOnTheirWay, vdptest::WAIT_MS)) << c.m_what;
        clock.pastTheDeadline();
        for (const std::string& line : c.m_afterDeadline) {
            EXPECT_EQ(m_editor.nextLine(), line) << c.m_what;
        }
    }
}

// The program layout of the real device-control thread in a temporary folder: the shipped component descriptions
// and the gain plug-in.
class LinkWithDeviceControl : public LinkThread
{
protected:
    void SetUp() override { vdptest::layOutDeviceControl(m_folder.path()); }

    fswtest::TempDir m_folder;
};

TEST_F(LinkWithDeviceControl, TwoHundredComponentsInOneRequest)
{
    LinkSystem system(true);
    system.m_compiler.m_messageHook = [](const TMS::AbstractMessage&) {
        sendToLink(answer("Re:getTotalProcessingResourceUsage", 5000, {}));
    };
    goLive(system);
    std::string list;
    for (u32 uid = 1000; uid < 1200; ++uid) {
        list += std::string(list.empty() ? "" : ",") + R"({"cptName":"testgain:1:1x1","prmAddr":"AudioCompo/#)" +
                std::to_string(uid) + R"("})";
    }
    const std::string cmdInfo = R"("cmdinfo":{"list":[)" + list + "]},";
    ASSERT_TRUE(m_editor.send(requestLine("add_cpt_info", "big", cmdInfo)));
    EXPECT_EQ(m_editor.nextLine(), replyLine("add_cpt_info", "big", "ok", cmdInfo));
    EXPECT_EQ(m_editor.nextLine(),
              R"({"notify":{"cmd":"cpt_resource","cmdinfo":{"info":{"capacity":1333332,"resource":50}},)"
              R"("from":"editor-uid"}})");
    PDB::IParameterDB& components = PDB::ParameterDBCollection::getInstance(10);
    for (u32 uid = 1000; uid < 1200; ++uid) {
        EXPECT_NE(components.getComponentIndex(uid), 0xFFFFFFFFu) << uid;
    }
    for (TMS::AbstractThread* thread : std::initializer_list<TMS::AbstractThread*>{
             &system, &system.m_link, system.m_realDeviceControl.get(), &system.m_sync, &system.m_compiler}) {
        EXPECT_FALSE(vdptest::logHolds(*thread, "Busy Timeout!")) << thread->getName();
    }
}

TEST_F(LinkWithDeviceControl, ComponentDefaultsAndSynchronisationsAreCompletedThroughTheThread)
{
    LinkSystem system(true);
    system.m_sync.m_messageHook = [](const TMS::AbstractMessage& message) {
        if (std::string(message.getValue("CommandName").getString()) == "Synchronize") {
            sendToLink(answer("Re:Synchronize", 1, {{"Progress", 40}}));
            sendToLink(answer("Re:Synchronize", 0, {{"Progress", 100}}));
        }
    };
    goLive(system);
    const std::string component = R"("cmdinfo":{"list":[{"cptName":"testgain:1:1x1","prmAddr":"AudioCompo/#100"}]},)";
    ASSERT_TRUE(m_editor.send(requestLine("add_cpt_info", "a1", component)));
    EXPECT_EQ(m_editor.nextLine(), replyLine("add_cpt_info", "a1", "ok", component));

    // "Re:setComponentDefault" and "Re:removeComponentDefault" reach the pending request through the thread.
    const std::string directory = m_folder / "defaults";
    const std::string setup = R"("cmdinfo":{"info":{"path":")" + directory + R"("}},)";
    ASSERT_TRUE(m_editor.send(requestLine("set_setup", "s1", setup)));
    EXPECT_EQ(m_editor.nextLine(), replyLine("set_setup", "s1", "ok", setup));
    const std::string file = directory + "/component/testgain/UserDefault.pst/testgain/UserDefault.dat";
    const std::string list = R"("cmdinfo":{"list":[{"prmAddr":"AudioCompo/#100"}]},)";
    ASSERT_TRUE(m_editor.send(requestLine("add_regist_parameter", "d1", list)));
    EXPECT_EQ(m_editor.nextLine(), replyLine("add_regist_parameter", "d1", "ok", list));
    EXPECT_TRUE(fs::exists(file));
    ASSERT_TRUE(m_editor.send(requestLine("del_regist_parameter", "d2", list)));
    EXPECT_EQ(m_editor.nextLine(), replyLine("del_regist_parameter", "d2", "ok", list));
    EXPECT_FALSE(fs::exists(file));

    // "Re:Synchronize" answers a pending synchronisation: a progress reply, then the final one.
    system.publishToLink("EditorState", 4);
    ASSERT_TRUE(m_editor.send(requestLine("get_sync_device", "y1")));
    EXPECT_EQ(m_editor.nextLineSkipping(R"({"notify":{"cmd":"dev_status")"),
              R"({"reply":{"cmd":"get_sync_device","from":"editor-uid","message":"","progress":"40","reqid":"y1",)"
              R"("result":"excuting","to":"editor"}})");
    EXPECT_EQ(m_editor.nextLine(), replyLine("get_sync_device", "y1", "ok"));
    EXPECT_EQ(system.m_sync.countOf("msg:Synchronize"), 1u);
}

// The device-control thread held before it restores the memories until the test lets it go on.
class HeldDeviceControl : public PYRITE::PyriteDeviceControlThread
{
public:
    ~HeldDeviceControl() override
    {
        letGo();
        release();
    }
    u32 onChangeSystemInfo() override
    {
        KVariant state;
        getSystemInfo(state, "ZOVORaState", 0);
        if (state.getUInt() == CONFIG_CONSTRUCT) {
            std::unique_lock<std::mutex> guard(m_lock);
            m_changed.wait_for(guard, std::chrono::milliseconds(vdptest::WAIT_MS), [this] { return m_goOn; });
        }
        return PyriteDeviceControlThread::onChangeSystemInfo();
    }
    void letGo()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_goOn = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_goOn = false;
};

TEST_F(LinkWithDeviceControl, AWriteSentAtOnceOnConnectedSurvivesTheRestoreAndARestart)
{
    const std::string label = R"("cmdinfo":{"info":{"localLabel":")";
    auto setLabel = [&](const char* reqId, const std::string& name) {
        return requestLine("set_dev_label", reqId, label + name + R"("}},)");
    };
    auto labelSet = [&](const char* reqId, const std::string& name) {
        return replyLine("set_dev_label", reqId, "ok", label + name + R"("}},)");
    };
    auto deviceName = [] {
        PDB::IParameterDB& setup = PDB::ParameterDBCollection::getInstance(4);
        PDB::ParameterAddress address = setup.resolveAddress(0, "/Setup/DeviceName");
        KVariant value;
        setup.getValue(value, address, 0, 0, nullptr);
        return std::string(value.getString() != nullptr ? value.getString() : "<none>");
    };
    auto end = [&](LinkSystem& system) {
        m_editor.hangUp();
        ASSERT_TRUE(system.ended());
    };
    // The memories hold "Old".
    {
        LinkSystem system(true);
        goLive(system);
        ASSERT_TRUE(m_editor.send(setLabel("l0", "Old")));
        ASSERT_EQ(m_editor.nextLineSkipping(R"({"notify":)"), labelSet("l0", "Old"));
        end(system);
    }
    // The next start is held before its restore until the product has started and the link thread has answered a
    // request sent after that: anything it said before the answer went out while the memories were not restored.
    // The editor writes "New" as soon as it reads "connected".
    {
        auto held = std::make_unique<HeldDeviceControl>();
        HeldDeviceControl& device = *held;
        LinkSystem system(std::move(held));
        vdptest::setOptions({"uid=editor-uid", portOption(m_editor.port()).c_str()});
        system.run();
        ASSERT_TRUE(m_editor.accept());
        ASSERT_TRUE(waitUntil([&] { return system.seen("ProductState") == 1; }, vdptest::WAIT_MS));
        const u32 passes = system.m_link.getLoopCount();
        ASSERT_TRUE(waitUntil([&] { return system.m_link.getLoopCount() >= passes + 2; }, vdptest::WAIT_MS));
        bool connected = false;
        auto readUntil = [&](const std::string& wanted) {
            for (std::optional<std::string> line = m_editor.nextLine(); line; line = m_editor.nextLine()) {
                if (*line == CONNECTED) {
                    connected = true;
                    EXPECT_TRUE(m_editor.send(setLabel("l1", "New")));
                }
                if (*line == wanted) {
                    return true;
                }
            }
            return false;
        };
        ASSERT_TRUE(m_editor.send(requestLine("set_save", "s1")));
        ASSERT_TRUE(readUntil(replyLine("set_save", "s1", "ok")));
        device.letGo();
        ASSERT_TRUE(readUntil(labelSet("l1", "New")));
        EXPECT_TRUE(connected);
        EXPECT_EQ(deviceName(), "New");
        end(system);
    }
    {
        LinkSystem system(true);
        goLive(system);
        EXPECT_EQ(deviceName(), "New");
        end(system);
    }
}

} // namespace
