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

constexpr u32 TIMEOUT_MS = VDevice::VDProtocolExecutor::ANSWER_TIMEOUT_MS;

// Moves the process's millisecond clock forward; back to the real clock at the end of the scope.
struct ClockJumps
{
    ~ClockJumps() { ossupport::testhooks::setMillisecondsOffset(0); }
    void by(u32 ms) { ossupport::testhooks::setMillisecondsOffset(ossupport::testhooks::getMillisecondsOffset() + ms); }
};

// An editor request: its command, reqid and cmdinfo member.
struct Request
{
    const char* m_cmd;
    const char* m_reqId;
    std::string m_cmdInfo;
};

// A "cmdinfo" list of testgain components with these uids.
std::string components(std::initializer_list<u32> uids)
{
    std::string list;
    for (u32 uid : uids) {
        list += std::string(list.empty() ? "" : ",") + R"({"cptName":"testgain:1:1x1","prmAddr":"AudioCompo/#)" +
                std::to_string(uid) + R"("})";
    }
    return R"("cmdinfo":{"list":[)" + list + "]},";
}

const std::string CONNECTION = R"("cmdinfo":{"list":[{"rx_cpt":"AudioCompo/#11","rx_cpt_port":"0",)"
                               R"("tx_cpt":"AudioCompo/#12","tx_cpt_port":"0"}]},)";
const std::string CAPACITY = R"("cmdinfo":{"info":{"capacity":1333332}},)";

// What the real thread answers to a message of the executor: "Compiler" "Re:startCompile" and then the compile's
// result, or the resource usage; "DeviceControl" "Re:" with the message's fields and result 0.
void answerLikeTheThread(const TMS::AbstractMessage& message, i32 compileResult)
{
    const std::string name = message.getValue("CommandName").getString();
    if (name == "startCompile") {
        sendToLink(answer("Re:startCompile", 0, {}));
        sendToLink(answer("Notify:compileResult", compileResult, {}));
    } else if (name == "getTotalProcessingResourceUsage") {
        sendToLink(answer("Re:getTotalProcessingResourceUsage", 1234, {}));
    } else {
        TMS::AbstractMessage reply(message);
        reply.setString("CommandName", ("Re:" + name).c_str());
        reply.setInt("Result", 0);
        sendToLink(reply);
    }
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
    void send(const std::vector<Request>& requests)
    {
        for (const Request& request : requests) {
            ASSERT_TRUE(m_editor.send(requestLine(request.m_cmd, request.m_reqId, request.m_cmdInfo)));
        }
    }
    // The next replies, notifications skipped: one per request with that result ("ok" of a compile carries the
    // capacity).
    void expect(const std::vector<Request>& requests, const char* result)
    {
        for (const Request& request : requests) {
            const bool compile = std::string(request.m_cmd) == "set_compile" && std::string(result) == "ok";
            EXPECT_EQ(m_editor.nextLineSkipping(R"({"notify":)"),
                      replyLine(request.m_cmd, request.m_reqId, result, compile ? CAPACITY : request.m_cmdInfo));
        }
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
    // The dropped answer freed its post's slot; the same answer again completes nothing, and the next request is
    // answered by its own answer. The first one ends at its deadline.
    sendToLink(answer("Re:addComponent", 0, {{"UniqID", 100}}));
    ASSERT_TRUE(m_editor.send(requestLine("add_cpt_info", "a2", components({101}))));
    ASSERT_TRUE(system.m_standInDeviceControl.waitForCount("msg:addComponent", 2, vdptest::WAIT_MS));
    sendToLink(answer("Re:addComponent", 0, {{"UniqID", 101}}));
    EXPECT_EQ(m_editor.nextLine(), replyLine("add_cpt_info", "a2", "ok", components({101})));
    ClockJumps clock;
    clock.by(TIMEOUT_MS + 1000);
    EXPECT_EQ(m_editor.nextLine(), replyLine("add_cpt_info", "a1", "ng/timeout", components({100})));
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

// One target thread stuck: the requests that need it end with one "ng/timeout" each at their deadline, the rest
// is answered at once, and the link thread never waits on the stuck queue. Once the thread goes on, the late
// answers complete nothing: the requests sent meanwhile are answered by their own answers.
TEST_F(LinkThread, AStuckThreadHoldsUpOnlyTheRequestsThatNeedIt)
{
    const std::string network = R"("cmdinfo":{"info":{"devIpAddr":"10.0.0.2","pcIpAddr":"10.0.0.1"}},)";
    std::vector<Request> networks;
    for (const char* reqId : {"p1", "p2", "p3", "p4", "p5", "p6", "p7"}) {
        networks.push_back({"set_net_info", reqId, network});
    }
    const struct
    {
        const char* m_target;
        std::vector<Request> m_held;                         // need the stuck thread: "ng/timeout" at their deadline
        std::vector<Request> m_probes;                       // answered "ok" at once
        std::vector<Request> m_next;                         // sent after the deadline, "ok" once the thread goes on
        std::vector<std::pair<std::string, size_t>> m_taken; // what the thread has taken in the end
    } cases[] = {
        {"DeviceControl",
         {{"add_cpt_info", "h1", components({1})},
          {"del_cpt_info", "h2", components({2})},
          {"add_cpt_connect", "h3", CONNECTION}},
         {{"set_save", "p1", ""}, {"set_compile", "p2", ""}},
         {{"add_cpt_info", "n1", components({1})}, {"del_cpt_info", "n2", components({2})}},
         {{"msg:addComponent", 2}, {"msg:removeComponent", 2}, {"msg:addConnection", 1}}},
        {"Compiler",
         {{"set_compile", "h1", ""}, {"set_compile", "h2", ""}},
         {{"set_save", "p1", ""}, {"add_cpt_info", "p2", components({3})}},
         {{"set_compile", "n1", ""}},
         {{"msg:startCompile", 2}}},
        {"Sync", {}, networks, {}, {{"msg:SetNetworkInfo", 7}}},
    };
    vdptest::ShippedDatabases databases{"VDeviceSetup"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_target);
        ClockJumps clock;
        LinkSystem system;
        tmstest::Latch goOn;
        struct OpenAtEnd
        {
            tmstest::Latch& m_latch;
            ~OpenAtEnd() { m_latch.open(); }
        } openAtEnd{goOn};
        vdptest::StandIn& stuck = std::string(c.m_target) == "DeviceControl" ? system.m_standInDeviceControl
                                  : std::string(c.m_target) == "Compiler"    ? system.m_compiler
                                                                             : system.m_sync;
        const auto serve = [](const TMS::AbstractMessage& message) { answerLikeTheThread(message, 0); };
        system.m_standInDeviceControl.m_messageHook = serve;
        system.m_compiler.m_messageHook = serve;
        // The results of what the thread took while stuck are failures: they must not end a later request.
        stuck.m_messageHook = [&](const TMS::AbstractMessage& message) {
            const bool late = !goOn.isOpen();
            goOn.wait();
            if (&stuck != &system.m_sync) {
                answerLikeTheThread(message, late ? VDProtocol::RESULT_NG : 0);
            }
        };
        goLive(system);
        send(c.m_held);
        send(c.m_probes);
        expect(c.m_probes, "ok");
        clock.by(TIMEOUT_MS + 1000);
        expect(c.m_held, "ng/timeout");
        send(c.m_next);
        send({{"set_save", "b", ""}}); // every request has been dispatched once its reply is in
        expect({{"set_save", "b", ""}}, "ok");
        EXPECT_FALSE(vdptest::logHolds(stuck, "Busy"));
        goOn.open();
        expect(c.m_next, "ok");
        for (const auto& [taken, count] : c.m_taken) {
            EXPECT_TRUE(stuck.waitForCount(taken, count, vdptest::WAIT_MS)) << taken;
        }
        m_editor.hangUp(); // what is still under way is no line of the next case
        EXPECT_TRUE(system.ended());
    }
}

// Answers that never come: the requests waiting on them end with "ng/timeout" at their deadline, those queued
// behind them as well; once the lost-answer limit has passed, the next compile, connection edit and usage go.
TEST_F(LinkThread, LostAnswersEndTheirRequestsAndFreeTheirSlotsInTheEnd)
{
    ClockJumps clock;
    vdptest::ShippedDatabases databases{"VDeviceSetup"};
    LinkSystem system;
    // The first "startCompile" and the first usage request are lost, and so are the components below 10; the rest
    // is answered at once.
    std::atomic<u32> compiles{0};
    std::atomic<u32> usages{0};
    system.m_compiler.m_messageHook = [&](const TMS::AbstractMessage& message) {
        const std::string name = message.getValue("CommandName").getString();
        if ((name == "startCompile" && ++compiles > 1) || (name == "getTotalProcessingResourceUsage" && ++usages > 1)) {
            answerLikeTheThread(message, 0);
        }
    };
    system.m_standInDeviceControl.m_messageHook = [](const TMS::AbstractMessage& message) {
        if (message.getValue("UniqID").getUInt() >= 10 || message.getValue("toUniqId").isValid()) {
            answerLikeTheThread(message, 0);
        }
    };
    goLive(system);

    const std::string resource = R"({"notify":{"cmd":"cpt_resource","cmdinfo":{"info":{"capacity":1333332,)"
                                 R"("resource":12}},"from":"editor-uid"}})";
    const struct
    {
        const char* m_what;
        std::vector<Request> m_answered;        // answered "ok" at once
        std::vector<Request> m_lost;            // then these, "ng/timeout" at their deadline
        std::function<bool()> m_lostOnTheirWay; // the posts whose answers are lost have gone out
        std::vector<Request> m_next;            // sent after the lost-answer limit, "ok"
        std::vector<std::string> m_notified;    // and then these
    } cases[] = {
        {"compile",
         {},
         {{"set_compile", "c1", ""}, {"set_compile", "c2", ""}},
         [&] { return compiles.load() == 1; },
         {{"set_compile", "c3", ""}},
         {}},
        {"components",
         {},
         {{"add_cpt_info", "a1", components({1, 2, 3, 4})}, {"add_cpt_connect", "k1", CONNECTION}},
         [&] { return system.m_standInDeviceControl.countOf("msg:addComponent") == 4; },
         {{"add_cpt_connect", "k2", CONNECTION}},
         {}},
        // The lost component shows when the deadline pass has given up the usage request as well.
        {"usage",
         {{"add_cpt_info", "a2", components({20})}, {"add_cpt_info", "a3", components({21})}},
         {{"add_cpt_info", "a4", components({5})}},
         [&] { return usages.load() == 1; },
         {},
         {resource}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_what);
        send(c.m_answered);
        expect(c.m_answered, "ok");
        // Every request has been dispatched once the reply to one sent after them is in.
        send(c.m_lost);
        send({{"set_save", "b", ""}});
        expect({{"set_save", "b", ""}}, "ok");
        ASSERT_TRUE(waitUntil(c.m_lostOnTheirWay, vdptest::WAIT_MS));
        clock.by(TIMEOUT_MS + 1000);
        expect(c.m_lost, "ng/timeout");
        clock.by(TIMEOUT_MS * VDevice::VDProtocolExecutor::LATE_ANSWER_FACTOR + 1000);
        send(c.m_next);
        expect(c.m_next, "ok");
        for (const std::string& line : c.m_notified) {
            EXPECT_EQ(m_editor.nextLine(), line);
        }
    }
}

// Progress keeps a request alive: an answer to one of its posts starts its deadline again, and a compile the
// compiler has taken runs under its own longer limit. A request sent with it that hears nothing shows when a
// deadline pass has run.
TEST_F(LinkThread, ProgressKeepsARequestAlivePastItsFirstDeadline)
{
    ClockJumps clock;
    vdptest::ShippedDatabases databases{"VDeviceSetup"};
    LinkSystem system;
    goLive(system);
    const struct
    {
        std::string m_request;
        const char* m_posted; // what the stand-in takes, m_count times, once both requests are posted
        size_t m_count;
        vdptest::StandIn* m_target;
        TMS::AbstractMessage m_progress;
        u32 m_after; // how long after the progress the request is still alive
        TMS::AbstractMessage m_final;
        std::string m_reply;
    } cases[] = {
        {requestLine("add_cpt_info", "a1", components({31, 32})), "msg:addComponent", 3, &system.m_standInDeviceControl,
         answer("Re:addComponent", 0, {{"UniqID", 31}}), 10000, answer("Re:addComponent", 0, {{"UniqID", 32}}),
         replyLine("add_cpt_info", "a1", "ok", components({31, 32}))},
        {requestLine("set_compile", "c1"), "msg:startCompile", 1, &system.m_compiler, answer("Re:startCompile", 0, {}),
         2 * TIMEOUT_MS, answer("Notify:compileResult", 0, {}), replyLine("set_compile", "c1", "ok", CAPACITY)},
    };
    u32 silentUid = 90;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_request);
        const size_t posted = c.m_target->countOf(c.m_posted);
        const std::string silent = components({silentUid++});
        ASSERT_TRUE(m_editor.send(requestLine("add_cpt_info", "s", silent)));
        ASSERT_TRUE(m_editor.send(c.m_request));
        ASSERT_TRUE(c.m_target->waitForCount(c.m_posted, posted + c.m_count, vdptest::WAIT_MS));
        clock.by(TIMEOUT_MS - 5000);
        sendToLink(c.m_progress);
        barrier();
        clock.by(c.m_after);
        EXPECT_EQ(m_editor.nextLine(), replyLine("add_cpt_info", "s", "ng/timeout", silent));
        sendToLink(c.m_final);
        EXPECT_EQ(m_editor.nextLineSkipping(R"({"notify":{"cmd":"cpt_resource")"), c.m_reply);
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

// A request that comes before "connected" is held and carried out after the restore: its "ok" stays true.
TEST_F(LinkWithDeviceControl, AWriteSentBeforeConnectedSurvivesTheRestoreAndARestart)
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
    // The next start is held before its restore while the editor writes "New", the moment the link is up.
    {
        auto held = std::make_unique<HeldDeviceControl>();
        HeldDeviceControl& device = *held;
        LinkSystem system(std::move(held));
        vdptest::setOptions({"uid=editor-uid", portOption(m_editor.port()).c_str()});
        system.run();
        ASSERT_TRUE(m_editor.accept());
        ASSERT_TRUE(m_editor.send(setLabel("l1", "New")));
        ASSERT_TRUE(m_editor.send(requestLine("set_save", "s1")));
        ASSERT_TRUE(waitUntil([&] { return system.seen("ProductState") == 1; }, vdptest::WAIT_MS));
        EXPECT_FALSE(m_editor.nextLine(200)); // nothing is answered before "connected"
        device.letGo();
        EXPECT_EQ(m_editor.nextLineSkipping(R"({"notify":)"), CONNECTED);
        EXPECT_EQ(m_editor.nextLineSkipping(R"({"notify":)"), labelSet("l1", "New"));
        EXPECT_EQ(m_editor.nextLineSkipping(R"({"notify":)"), replyLine("set_save", "s1", "ok"));
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
