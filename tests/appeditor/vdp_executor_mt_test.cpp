// The executor on its thread among stand-in threads: pending requests completed by their answers, the compile and
// abort paths, posts to threads that cannot take them, the posting window towards "DeviceControl", the change
// notices of value writes, and meter notifies that leave room for replies.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dadov_AudioComponentCollection.h"
#include "logic_LogicComponentCollection.h"
#include "pdb_ComponentInfoParserJSON.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_TestSupport.h"
#include "tms_TestSupport.h"
#include "tms_ThreadRepository.h"
#include "vdp_ExecutorRig.h"
#include "vdp_MeterContainer.h"
#include "vdp_PacketConvertor.h"

namespace {

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new tmstest::RepositoryEnvironment());

using VDProtocol::PacketContainer;
using vdptest::ExecutorRig;
using vdptest::makeMessage;

constexpr i32 NG = VDProtocol::RESULT_NG;

std::string requestLine(const char* cmd, const char* reqId)
{
    return std::string(R"({"request":{"cmd":")") + cmd + R"(","from":"editor","reqid":")" + reqId +
           R"(","to":"device"}})";
}

// The reply line of requestLine(cmd, reqId) with a result name and progress.
std::string replyLine(const char* cmd, const char* reqId, const char* result, const char* cmdInfo = "")
{
    return std::string(R"({"reply":{"cmd":")") + cmd + R"(",)" + cmdInfo + R"("from":"device","message":"",)" +
           R"("progress":"100","reqid":")" + reqId + R"(","result":")" + result + R"(","to":"editor"}})";
}

TMS::AbstractMessage answer(const char* name, i32 result, u32 uniqueId)
{
    TMS::AbstractMessage message = makeMessage(name, {{"UniqID", uniqueId}});
    message.setInt("Result", result);
    return message;
}

// Returns once the thread has served every message sent to it before (a "Drain" message is recorded as well).
void drain(tmstest::RecordingThread& thread)
{
    const size_t drained = thread.countOf("msg:Drain");
    ASSERT_EQ(thread.sendMessageWithWaiting(tmstest::userMessage("Drain")), 0u);
    ASSERT_TRUE(thread.waitForCount("msg:Drain", drained + 1, vdptest::WAIT_MS));
}

class ExecutorThreadTest : public ::testing::Test
{
protected:
    // Stores a request on the executor's thread and posts one command per unique id to "DeviceControl" for it,
    // as the component handlers do.
    void storeWithPosts(const char* cmd, const char* reqId, const char* command, const char* answerName,
                        const std::vector<u32>& uniqueIds)
    {
        PacketContainer request;
        ASSERT_EQ(VDProtocol::decodePacket(requestLine(cmd, reqId), request), 0);
        m_rig.m_host.run([&] {
            u32 id = 0;
            ASSERT_EQ(m_rig.executor().getPendingRequests().add(id, request), 0);
            for (u32 uniqueId : uniqueIds) {
                EXPECT_EQ(m_rig.executor().postSubRequest(id, std::to_string(uniqueId), "DeviceControl",
                                                          makeMessage(command, {{"UniqID", uniqueId}}), answerName),
                          0);
            }
        });
    }
    u32 pendingCount()
    {
        u32 count = 0;
        m_rig.m_host.run([&] { count = m_rig.executor().getPendingRequests().getCount(); });
        return count;
    }

    ExecutorRig m_rig;
};

TEST_F(ExecutorThreadTest, SubRequestsCompleteByAnswerNameAndKey)
{
    m_rig.m_compiler.m_messageHook = [](const TMS::AbstractMessage& message) {
        const char* name = message.getValue("CommandName").getString();
        if (name != nullptr && std::strcmp(name, "getTotalProcessingResourceUsage") == 0) {
            TMS::ThreadRepository::getThread("VDProtocol")
                ->sendMessageWithWaiting(answer("Re:getTotalProcessingResourceUsage", 1234, 0));
        }
    };
    // Two components: the reply follows the second answer and carries its result, then one usage request.
    storeWithPosts("add_cpt_info", "a1", "addComponent", "Re:addComponent", {100, 101});
    ASSERT_TRUE(m_rig.m_deviceControl.waitForCount("msg:addComponent", 2, vdptest::WAIT_MS));
    m_rig.answer(answer("Re:addComponent", 0, 100));
    EXPECT_TRUE(m_rig.lines().empty());
    m_rig.answer(answer("Re:addComponent", 2, 101));
    EXPECT_EQ(m_rig.lines(), std::vector<std::string>{replyLine("add_cpt_info", "a1", "aborted")});
    ASSERT_TRUE(m_rig.m_compiler.waitForCount("msg:getTotalProcessingResourceUsage", 1, vdptest::WAIT_MS));

    // A failing first answer decides the reply.
    storeWithPosts("add_cpt_info", "a2", "addComponent", "Re:addComponent", {200, 201});
    m_rig.answer(answer("Re:addComponent", static_cast<i32>(0x80000002u), 200));
    m_rig.answer(answer("Re:addComponent", 0, 201));
    EXPECT_EQ(m_rig.lines(), std::vector<std::string>{replyLine("add_cpt_info", "a2", "ng/not_found")});

    // An add and a removal of the same uid complete separately, each by its own answer.
    storeWithPosts("add_cpt_info", "a3", "addComponent", "Re:addComponent", {300});
    storeWithPosts("del_cpt_info", "d3", "removeComponent", "Re:removeComponent", {300});
    m_rig.answer(answer("Re:removeComponent", 0, 300));
    EXPECT_EQ(m_rig.lines(), std::vector<std::string>{replyLine("del_cpt_info", "d3", "ok")});
    m_rig.answer(answer("Re:addComponent", 0, 300));
    EXPECT_EQ(m_rig.lines(), std::vector<std::string>{replyLine("add_cpt_info", "a3", "ok")});
    EXPECT_EQ(pendingCount(), 0u);

    // Answers that match no executing sub-request: nothing is written.
    i32 unmatched = 0;
    i32 repeated = 0;
    m_rig.m_host.run([&] {
        unmatched = m_rig.executor().onAnswer(answer("Re:changeComponentType", 0, 300));
        repeated = m_rig.executor().onAnswer(answer("Re:addComponent", 0, 300));
    });
    EXPECT_EQ(unmatched, NG);
    EXPECT_EQ(repeated, NG);
    EXPECT_TRUE(m_rig.lines().empty());
    // Each completed component request asked for the usage once (answered, so none waits in the window).
    EXPECT_TRUE(m_rig.m_compiler.waitForCount("msg:getTotalProcessingResourceUsage", 4, vdptest::WAIT_MS));
    // The last answer has been served and whatever it posted has reached the compiler.
    drain(m_rig.m_compiler);
    m_rig.m_host.run([] {});
    drain(m_rig.m_compiler);
    EXPECT_EQ(m_rig.m_compiler.countOf("msg:getTotalProcessingResourceUsage"), 4u);
}

TEST_F(ExecutorThreadTest, CompileIsAnsweredByItsNotificationOneAtATime)
{
    vdptest::ShippedDatabases databases{"VDeviceSetup"};
    const auto compileResult = [](i32 result) {
        TMS::AbstractMessage message = makeMessage("Notify:compileResult");
        message.setInt("Result", result);
        return message;
    };
    m_rig.dispatch(requestLine("set_compile", "c1"));
    m_rig.dispatch(requestLine("set_compile", "c2"));
    ASSERT_TRUE(m_rig.m_compiler.waitForCount("msg:startCompile", 1, vdptest::WAIT_MS));
    EXPECT_TRUE(m_rig.lines().empty());
    drain(m_rig.m_compiler);
    EXPECT_EQ(m_rig.m_compiler.countOf("msg:startCompile"), 1u); // the second waits for the first's notification

    // A progress notification answers without ending the compile.
    m_rig.answer(compileResult(1));
    drain(m_rig.m_compiler);
    EXPECT_EQ(m_rig.m_compiler.countOf("msg:startCompile"), 1u);
    m_rig.answer(compileResult(0));
    const std::string capacity = R"("cmdinfo":{"info":{"capacity":1333332}},)";
    EXPECT_EQ(m_rig.lines(), (std::vector<std::string>{replyLine("set_compile", "c1", "excuting", capacity.c_str()),
                                                       replyLine("set_compile", "c1", "ok", capacity.c_str())}));
    ASSERT_TRUE(m_rig.m_compiler.waitForCount("msg:startCompile", 2, vdptest::WAIT_MS));

    // Without a readable capacity the reply still goes out, without it.
    ASSERT_EQ(PDB::ParameterDBCollection::deleteInstance(4), 0);
    m_rig.answer(compileResult(static_cast<i32>(0x8000000Cu)));
    EXPECT_EQ(m_rig.lines(), std::vector<std::string>{replyLine("set_compile", "c2", "ng/capacity_over")});
    m_rig.answer(compileResult(0));
    EXPECT_TRUE(m_rig.lines().empty());
    EXPECT_EQ(pendingCount(), 0u);

    // A compiler that does not run: the post fails, the request is answered with its code and not kept.
    ASSERT_EQ(m_rig.m_compiler.release(), 0u);
    m_rig.dispatch(requestLine("set_compile", "c3"));
    EXPECT_EQ(m_rig.lines(), std::vector<std::string>{replyLine("set_compile", "c3", "ng")});
    EXPECT_EQ(pendingCount(), 0u);
}

TEST_F(ExecutorThreadTest, AbortReachesOnlyASynchronisationThatStaysPendingUntilItsFinalAnswer)
{
    m_rig.dispatch(requestLine("set_compile", "c1"));
    storeWithPosts("get_sync_device", "s1", "", "", {});
    const std::string abortLine = R"({"abort":{"reqid":"s1"}})";
    m_rig.dispatch(R"({"abort":{"reqid":"nothing"}})");
    m_rig.dispatch(R"({"abort":{"reqid":"c1"}})");
    m_rig.dispatch(abortLine);
    ASSERT_TRUE(m_rig.m_sync.waitForCount("msg:abort", 1, vdptest::WAIT_MS));
    drain(m_rig.m_sync);
    EXPECT_EQ(m_rig.m_sync.countOf("msg:"), 2u); // the abort and the drain
    EXPECT_TRUE(m_rig.lines().empty());
    EXPECT_EQ(pendingCount(), 2u);

    TMS::AbstractMessage progress = makeMessage("Re:Synchronize", {{"Progress", 150}});
    progress.setInt("Result", 1);
    m_rig.answer(progress);
    EXPECT_EQ(m_rig.lines(), std::vector<std::string>{replyLine("get_sync_device", "s1", "excuting")});
    EXPECT_EQ(pendingCount(), 2u);
    progress.setInt("Result", 0);
    m_rig.answer(progress);
    EXPECT_EQ(m_rig.lines(), std::vector<std::string>{replyLine("get_sync_device", "s1", "ok")});
    EXPECT_EQ(pendingCount(), 1u);
}

TEST_F(ExecutorThreadTest, PostersSendTheirCommandsWithTheirFields)
{
    std::vector<std::string> seen;
    std::mutex lock;
    m_rig.m_sync.m_messageHook = [&](const TMS::AbstractMessage& message) {
        std::string text;
        for (const auto& [name, value] : message.getFields()) {
            text += name + "=" + (value.getString() != nullptr ? value.getString() : "") + ";";
        }
        std::lock_guard<std::mutex> guard(lock);
        seen.push_back(text);
    };
    i32 results[4] = {};
    m_rig.m_host.run([&] {
        results[0] = m_rig.executor().postNetworkInfo("10.0.0.1", "");
        results[1] = m_rig.executor().postNetworkInfoWhenOffline(); // class 0, no addresses stored
        results[2] = m_rig.executor().postNetworkInfo("10.0.0.1", "10.0.0.2");
        results[3] = m_rig.executor().postMeterList();
    });
    EXPECT_EQ(results[0], NG);
    EXPECT_EQ(results[1], NG);
    EXPECT_EQ(results[2], 0);
    EXPECT_EQ(results[3], 0);
    ASSERT_TRUE(tmstest::waitUntil(
        [&] {
            std::lock_guard<std::mutex> guard(lock);
            return seen.size() == 2;
        },
        vdptest::WAIT_MS));
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(seen, (std::vector<std::string>{"CommandName=SetNetworkInfo;FromIPAddress=10.0.0.1;ToIPAddress=10.0.0.2;",
                                              "CommandName=MeterList;"}));
}

// A thread that reports OPENING while its loop runs.
class OpeningThread : public tmstest::RecordingThread
{
public:
    void setStatus(u32 status) { storeStatus(status); }
};

TEST_F(ExecutorThreadTest, PostsToThreadsThatCannotTakeThemFailTheirRequestAtOnce)
{
    OpeningThread opening;
    ASSERT_EQ(tmstest::initializeThread(opening, "Opening"), 0u);
    ASSERT_EQ(opening.waitStatus(TMS::STATUS_STOP), 0u);
    opening.setStatus(TMS::STATUS_OPENING);
    for (const char* target : {"NoSuchThread", "Opening"}) {
        PacketContainer request;
        ASSERT_EQ(VDProtocol::decodePacket(requestLine("add_cpt_connect", "p1"), request), 0);
        i32 posted = 0;
        m_rig.m_host.run([&] {
            u32 id = 0;
            ASSERT_EQ(m_rig.executor().getPendingRequests().add(id, request), 0);
            posted = m_rig.executor().postSubRequest(id, "1:0/2:0", target, makeMessage("addConnection"),
                                                     "Re:addConnection");
        });
        EXPECT_EQ(posted, NG) << target;
        EXPECT_EQ(m_rig.lines(), std::vector<std::string>{replyLine("add_cpt_connect", "p1", "ng")}) << target;
        EXPECT_EQ(pendingCount(), 0u);
    }
    EXPECT_EQ(opening.countOf("msg:"), 0u);
    opening.setStatus(TMS::STATUS_STOP);
    EXPECT_EQ(opening.release(), 0u);
}

TEST_F(ExecutorThreadTest, PostsRacingTheReleaseOfTheirTargetEndCleanly)
{
    // Each pass sends what waits for the target, as the link thread's retry timer does, then posts once more.
    std::vector<i32> results;
    const auto postOnce = [&] {
        m_rig.m_host.run([&] {
            m_rig.executor().retryPosts();
            results.push_back(m_rig.executor().postMeterList());
        });
    };
    std::thread poster([&] {
        for (int i = 0; i < 400; ++i) {
            postOnce();
        }
    });
    ASSERT_TRUE(m_rig.m_sync.waitForCount("msg:MeterList", 3, vdptest::WAIT_MS));
    ASSERT_EQ(m_rig.m_sync.release(), 0u);
    poster.join();
    postOnce();
    ASSERT_EQ(results.size(), 401u);
    EXPECT_TRUE(std::all_of(results.begin(), results.end(), [](i32 r) { return r == 0 || r == NG; }));
    EXPECT_EQ(results.back(), NG);
}

// While "Sync" is stuck, newer addresses drop the older ones still queued and go last: "Sync" takes what the editor
// asked for in its order.
TEST_F(ExecutorThreadTest, PostsToAStuckSyncKeepTheEditorsOrder)
{
    tmstest::Latch goOn;
    std::mutex lock;
    std::vector<std::string> taken;
    m_rig.m_sync.m_messageHook = [&](const TMS::AbstractMessage& message) {
        goOn.wait();
        const char* to = message.getValue("ToIPAddress").getString();
        std::lock_guard<std::mutex> guard(lock);
        taken.push_back(std::string(message.getValue("CommandName").getString()) + (to != nullptr ? " " : "") +
                        (to != nullptr ? to : ""));
    };
    struct OpenAtEnd
    {
        tmstest::Latch& m_latch;
        ~OpenAtEnd() { m_latch.open(); }
    } openAtEnd{goOn};
    const auto addresses = [](const char* device) {
        return std::string(R"({"request":{"cmd":"set_net_info","cmdinfo":{"info":{"devIpAddr":")") + device +
               R"(","pcIpAddr":"127.0.0.1"}},"from":"editor","reqid":"n","to":"device"}})";
    };
    // One in the hook and a full queue: what follows waits in the executor.
    for (int i = 0; i < 6; ++i) {
        m_rig.dispatch(requestLine("del_net_info", "d"));
    }
    m_rig.dispatch(addresses("127.0.0.2"));
    m_rig.dispatch(requestLine("del_net_info", "d"));
    m_rig.dispatch(addresses("127.0.0.3"));
    goOn.open();
    ASSERT_TRUE(tmstest::waitUntil(
        [&] {
            m_rig.m_host.run([&] { m_rig.executor().retryPosts(); });
            std::lock_guard<std::mutex> guard(lock);
            return taken.size() >= 8;
        },
        vdptest::WAIT_MS));
    drain(m_rig.m_sync);
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(taken, (std::vector<std::string>{"Disconnect", "Disconnect", "Disconnect", "Disconnect", "Disconnect",
                                               "Disconnect", "Disconnect", "SetNetworkInfo 127.0.0.3", "Drain"}));
}

bool logHas(TMS::AbstractThread& thread, const std::string& text)
{
    TMS::ThreadLogger& logger = thread.getLogger();
    for (u32 i = 0; i < logger.getCount(); ++i) {
        char line[TMS::ThreadLogger::LINE_SIZE];
        if (logger.getLine(i, line, sizeof(line)) == 0 && std::string(line).find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST_F(ExecutorThreadTest, WindowKeepsDeviceControlAnswersWithinTheExecutorQueue)
{
    // A regression that waits on a full queue times out within 30 ms and loses answers.
    const tmstest::SendRetryScope quickRetry(3, 10);
    std::atomic<u32> received{0};
    std::atomic<u32> mostUnanswered{0};
    m_rig.m_deviceControl.m_messageHook = [&](const TMS::AbstractMessage& message) {
        // This one, those waiting in the queue, and those answered but not yet handed to the executor. The queue
        // is read first: an answer handed over meanwhile may let a post in, never the other way round.
        const u32 queued = m_rig.m_deviceControl.getMessageStream().getCount();
        const u32 unanswered = ++received + queued - m_rig.m_host.getAnswerCount();
        mostUnanswered = std::max(mostUnanswered.load(), unanswered);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::string name = std::string("Re:") + message.getValue("CommandName").getString();
        TMS::ThreadRepository::getThread("VDProtocol")
            ->sendMessageWithWaiting(answer(name.c_str(), 0, message.getValue("UniqID").getUInt()));
    };
    std::vector<u32> uniqueIds(30);
    for (u32 i = 0; i < 30; ++i) {
        uniqueIds[i] = 1000 + i;
    }
    storeWithPosts("add_cpt_info", "w1", "addComponent", "Re:addComponent", uniqueIds);
    std::vector<std::string> lines;
    ASSERT_TRUE(tmstest::waitUntil(
        [&] {
            const std::vector<std::string> taken = m_rig.lines();
            lines.insert(lines.end(), taken.begin(), taken.end());
            return !lines.empty();
        },
        vdptest::WAIT_MS));
    EXPECT_EQ(lines, std::vector<std::string>{replyLine("add_cpt_info", "w1", "ok")});
    EXPECT_EQ(received.load(), 30u);
    EXPECT_EQ(m_rig.m_host.getAnswerCount(), 30u);
    EXPECT_EQ(mostUnanswered.load(), 4u);
    EXPECT_FALSE(logHas(m_rig.m_host, "Busy Timeout!"));
    EXPECT_FALSE(logHas(m_rig.m_deviceControl, "Busy Timeout!"));
}

TEST_F(ExecutorThreadTest, OnlyAnswersToOutstandingPostsFreeWindowSlots)
{
    const auto connection = [](const char* name, u32 from) {
        TMS::AbstractMessage message =
            makeMessage(name, {{"fromUniqId", from}, {"fromPortNo", 0}, {"toUniqId", 1}, {"toPortNo", 0}});
        message.setInt("Result", 0);
        return message;
    };
    PacketContainer request;
    ASSERT_EQ(VDProtocol::decodePacket(requestLine("add_cpt_connect", "k1"), request), 0);
    m_rig.m_host.run([&] {
        u32 id = 0;
        ASSERT_EQ(m_rig.executor().getPendingRequests().add(id, request), 0);
        for (u32 from = 10; from < 16; ++from) {
            EXPECT_EQ(m_rig.executor().postSubRequest(id, VDevice::VDProtocolExecutor::makeConnectionKey(1, 0, from, 0),
                                                      "DeviceControl", makeMessage("addConnection"),
                                                      "Re:addConnection"),
                      0);
        }
    });
    const auto sentAndQueued = [&] {
        u32 queued = 0;
        m_rig.m_host.run([&] { queued = m_rig.executor().getPostWindow().getQueuedCount("DeviceControl"); });
        return std::make_pair(static_cast<u32>(m_rig.m_deviceControl.countOf("msg:addConnection")), queued);
    };
    ASSERT_TRUE(m_rig.m_deviceControl.waitForCount("msg:addConnection", 4, vdptest::WAIT_MS));
    EXPECT_EQ(sentAndQueued(), std::make_pair(4u, 2u));

    // A console's connection (no post of the executor) frees nothing.
    m_rig.answer(connection("Re:addConnection", 99));
    EXPECT_EQ(sentAndQueued(), std::make_pair(4u, 2u));
    // An answer of an outstanding post frees its slot; so does one the thread drops unhandled.
    m_rig.answer(connection("Re:addConnection", 10));
    ASSERT_TRUE(m_rig.m_deviceControl.waitForCount("msg:addConnection", 5, vdptest::WAIT_MS));
    m_rig.m_host.m_answerFilter = [](const TMS::AbstractMessage&) { return false; };
    m_rig.answer(connection("Re:addConnection", 11));
    ASSERT_TRUE(m_rig.m_deviceControl.waitForCount("msg:addConnection", 6, vdptest::WAIT_MS));
    EXPECT_EQ(sentAndQueued(), std::make_pair(6u, 0u));
    EXPECT_TRUE(m_rig.lines().empty());
    EXPECT_EQ(pendingCount(), 1u);
}

TEST_F(ExecutorThreadTest, MeterPassSendsEveryByteOfEveryArrayAndSkipsStaleKeys)
{
    (void)LogicCtrl::LogicComponentCollection::getInstance().initialize();
    DADOV::AudioComponentCollection& collection = DADOV::AudioComponentCollection::getInstance();
    ASSERT_EQ(collection.initialize(VDP_METER_PLUGIN_DIR, 4), 0);
    m_rig.m_host.run([&] {
        ASSERT_EQ(collection.beginByThread(nullptr), 0);
        ASSERT_EQ(collection.addComponent("meterpair", 1, 7, 2, 1), 0);
        const u8 level[] = {0x0A, 0xC8};
        ASSERT_EQ(collection.findComponent(7)->getMeterPool().writeMeterBytes(2, 0, 0, level, 2), 0);
    });
    VDevice::VDMeterContainer& meters = VDevice::VDMeterContainer::getInstance();
    ASSERT_TRUE(meters.addMeter("m", "AudioCompo/#6")); // no such component, and listed first
    ASSERT_TRUE(meters.addMeter("m", "AudioCompo/#7"));
    const auto pass = [&](u8 secondSet) {
        i32 result = 0;
        m_rig.m_host.run([&] {
            result = secondSet == 0 ? m_rig.executor().sendMeterNotifications()
                                    : m_rig.executor().sendMeterNotify("AudioCompo/#7", secondSet);
        });
        return result;
    };
    const auto meterLine = [](const char* values) {
        return std::string(R"({"notify":{"cmd":"meter","cmdinfo":{"info":{"prmAddr":"AudioCompo/#7","type":"#Ar1"},)") +
               R"("list":[)" + values + R"(]},"from":"editor-uid"}})";
    };

    m_rig.setEditorState(4);
    EXPECT_EQ(pass(0), 0);
    EXPECT_TRUE(m_rig.lines().empty());
    m_rig.setEditorState(10);
    EXPECT_EQ(pass(0), NG);
    EXPECT_EQ(m_rig.lines(),
              std::vector<std::string>{meterLine(R"({"index":0,"value":"0A"},{"index":1,"value":"C8"},)"
                                                 R"({"index":0,"value":"FE"},{"index":1,"value":"FE"})")});
    EXPECT_EQ(pass(1), 0);
    EXPECT_EQ(m_rig.lines(),
              std::vector<std::string>{meterLine(R"({"index":0,"value":"00"},{"index":1,"value":"00"},)"
                                                 R"({"index":0,"value":"00"},{"index":1,"value":"00"})")});

    m_rig.m_host.run([&] { EXPECT_EQ(collection.endByThread(), 0); });
    EXPECT_EQ(collection.finalize(), 0);
    meters.clear();
}

TEST_F(ExecutorThreadTest, ValueWritesTellTheDatabaseObserversOnceTheLockIsReleased)
{
    static const bool registered = [] {
        PDB::ComponentInfoRepository::getInstance().registerComponentInfo(PDB::ComponentInfoParserJSON::createFromJson(
            R"({"component": {"name": "probe", "majorVer": 1, "minX": 1, "minY": 1, "maxX": 4, "maxY": 1},
                "parameters": [{"attr": {}, "strAddress": "/Cell", "type": "SINT32", "patternX": "*1",
                                "min": "-100", "max": "100", "def": "0"}]})"));
        return true;
    }();
    (void)registered;
    pdbtest::DepthMutex mutex;
    constexpr u32 POSITION = 5;
    ASSERT_GE(PDB::ParameterDBCollection::createInstance(POSITION, "Probe", &mutex, 0), 0);
    PDB::IParameterDB& database = PDB::ParameterDBCollection::getInstance(POSITION);
    pdbtest::DepthObserver observer(mutex);
    EXPECT_GE(database.addComponent(1, "probe", 1, 4, 1, 0), 0);
    EXPECT_EQ(database.registerCallback(1, &observer, 0), 0);

    const struct
    {
        const char* cmd;
        const char* cmdInfo;
    } cases[] = {
        {"set_prm_val", R"("info":{"prmAddr":"Probe/#1/Cell:0:0","prmValue":5})"},
        {"set_prm_val", R"("info":{"prmAddr":"Probe/#1/Cell:-1:0","prmValue":6})"},
        {"setData_prm_val", R"("list":[{"prmAddr":"Probe/#1/Cell:1:0","prmValue":7},)"
                            R"({"prmAddr":"Probe/#1/Cell:2:0","prmValue":8}])"},
    };
    for (const auto& c : cases) {
        observer.m_depths.clear();
        m_rig.dispatch(std::string(R"({"request":{"cmd":")") + c.cmd + R"(","cmdinfo":{)" + c.cmdInfo +
                       R"(},"from":"editor","reqid":"r1","to":"device"}})");
        const std::vector<std::string> lines = m_rig.lines();
        ASSERT_EQ(lines.size(), 1u) << c.cmdInfo;
        EXPECT_NE(lines[0].find(R"("result":"ok")"), std::string::npos) << lines[0];
        // One notice per request, given with the lock free: a thread woken by it does not block on the lock.
        EXPECT_EQ(observer.m_depths, std::vector<int>{0}) << c.cmdInfo;
    }
    EXPECT_EQ(database.getValueInt(0, 0, 3, 0, nullptr), 6);
    PDB::ParameterDBCollection::deleteInstance(POSITION);
}

TEST_F(ExecutorThreadTest, MeterNotifiesLeaveTheSendRingToReplies)
{
    (void)LogicCtrl::LogicComponentCollection::getInstance().initialize();
    DADOV::AudioComponentCollection& collection = DADOV::AudioComponentCollection::getInstance();
    ASSERT_EQ(collection.initialize(VDP_METER_PLUGIN_DIR, 4), 0);
    m_rig.m_host.run([&] {
        ASSERT_EQ(collection.beginByThread(nullptr), 0);
        ASSERT_EQ(collection.addComponent("meterpair", 1, 7, 2, 1), 0);
    });
    // 5000 subscriptions of the component: each pass queues 5000 meter notifies, about 1 MiB.
    VDevice::VDMeterContainer& meters = VDevice::VDMeterContainer::getInstance();
    constexpr u32 KEYS = 5000;
    for (u32 i = 0; i < KEYS; ++i) {
        ASSERT_TRUE(meters.addMeter(std::to_string(i), "AudioCompo/#7"));
    }
    m_rig.setEditorState(10);

    // The editor reads nothing while passes run until the ring takes no more.
    m_rig.m_unit.stall(true);
    u32 queued = 0;
    for (u32 pass = 0; pass < 20; ++pass) {
        u32 before = 0;
        m_rig.m_host.run([&] {
            before = m_rig.m_unit.getQueuedBytes();
            EXPECT_EQ(m_rig.executor().sendMeterNotifications(), 0);
            queued = m_rig.m_unit.getQueuedBytes();
        });
        if (queued == before) {
            break;
        }
    }
    EXPECT_GT(queued, 0u);
    // A reply of about 100 kB ("getData" "cpt_meter" lists every subscription) still finds room.
    m_rig.dispatch(requestLine("getData_cpt_meter", "r1"));
    m_rig.m_unit.stall(false);
    const std::vector<std::string> lines = m_rig.lines();
    const std::string reply = lines.empty() ? std::string() : lines.back();
    EXPECT_EQ(reply.rfind(R"({"reply":{"cmd":"getData_cpt_meter","cmdinfo":{"list":[{"prmAddr":"AudioCompo/#7"})", 0),
              0u)
        << reply.substr(0, 300);
    EXPECT_NE(reply.find(R"("reqid":"r1","result":"ok")"), std::string::npos);
    // Whole meter lines, then the reply.
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.rfind(R"({"notify":{"cmd":"meter")", 0) == 0; }),
              static_cast<std::ptrdiff_t>(lines.size()) - 1);

    m_rig.m_host.run([&] { EXPECT_EQ(collection.endByThread(), 0); });
    EXPECT_EQ(collection.finalize(), 0);
    meters.clear();
}

} // namespace
