// The program binary against a fake editor: the test listens on 127.0.0.1, starts the program with "uid", "port"
// and "work", and runs a scripted exchange over the link, comparing every line the program sends byte for byte.
// Lines come in a fixed order (a reply leaves inside its handler; a notification follows from the change scan, the
// compiler's answer or the resource query), so no line is skipped unless a step says so.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbgc_TestSupport.h"
#include "e2e_ProgramRun.h"
#include "vdtest_Support.h"
#include "vsock_TestSupport.h"

namespace {

using e2etest::ProgramRun;
using Clock = std::chrono::steady_clock;

#if defined(__SANITIZE_THREAD__)
constexpr int SLOWDOWN = 2;
#else
constexpr int SLOWDOWN = 1;
#endif
constexpr int LINE_TIMEOUT_MS = 10000 * SLOWDOWN;
constexpr int EXIT_TIMEOUT_MS = 10000;

// The first line, within 10 s (twice that under the thread sanitizer).
constexpr int CONNECT_LIMIT_MS = 10000 * SLOWDOWN;
const std::string CONNECTED = R"({"connected":{"from":"test-uid"}})";

std::string readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

long long millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string resourceNotify(unsigned resource)
{
    return R"({"notify":{"cmd":"cpt_resource","cmdinfo":{"info":{"capacity":1333332,"resource":)" +
           std::to_string(resource) + R"(}},"from":"test-uid"}})";
}

// The list entry of "AudioCompo/#100/Gain:0:0" (the plug-in's description) with its value and display text.
std::string gainEntry(const std::string& value, const std::string& text)
{
    return R"({"cptName":"testgain:1:1x1","prmAddr":"AudioCompo/#100/Gain:0:0","prmDef":0.0,"prmDefUI":"",)"
           R"("prmKind":"","prmMax":10.0,"prmMin":-138.0,"prmScale":"1","prmStep":0.10000000149011612,"prmStr":")" +
           text + R"(","prmType":10,"prmUnit":"dB","prmValue":)" + value + "}";
}

std::string deviceInfo(const std::string& label)
{
    return R"({"info":{"category":"processor","deviceGUID":"test-uid","deviceID":0,"localLabel":")" + label +
           R"(","modelName":"ZethImage","projectVersion":"1.00","series":"VEXA"}})";
}

// "cpt_info" list of testgain components at the unique ids first..last.
std::string componentList(unsigned first, unsigned last)
{
    std::string list = R"({"list":[)";
    for (unsigned id = first; id <= last; ++id) {
        list += (id == first ? "" : ",");
        list += R"({"cptName":"testgain:1:1x1","prmAddr":"AudioCompo/#)" + std::to_string(id) + R"("})";
    }
    return list + "]}";
}

// The editor end: numbers its requests "1", "2", ... and builds the reply it expects to each.
class FakeEditor
{
public:
    u16 port() const { return m_link.port(); }
    vsocktest::LinePeer& link() { return m_link; }

    // The request line (cmdinfo "" for none); it takes the next reqid.
    std::string request(const std::string& cmd, const std::string& cmdinfo = "")
    {
        m_reqid = std::to_string(++m_count);
        return R"({"request":{"cmd":")" + cmd + "\"" + (cmdinfo.empty() ? "" : R"(,"cmdinfo":)" + cmdinfo) +
               R"(,"from":"ed","reqid":")" + m_reqid + R"(","to":"test-uid"}})";
    }
    // The reply to the last request.
    std::string reply(const std::string& cmd, const std::string& cmdinfo, const char* result = "ok") const
    {
        return R"({"reply":{"cmd":")" + cmd + "\"" + (cmdinfo.empty() ? "" : R"(,"cmdinfo":)" + cmdinfo) +
               R"(,"from":"test-uid","message":"","progress":"100","reqid":")" + m_reqid + R"(","result":")" + result +
               R"(","to":"ed"}})";
    }

    ::testing::AssertionResult send(const std::string& line)
    {
        return m_link.send(line) ? ::testing::AssertionSuccess()
                                 : ::testing::AssertionFailure() << "cannot send " << line.substr(0, 200);
    }
    // The next line, compared byte for byte.
    ::testing::AssertionResult receives(const std::string& expected, int timeoutMs = LINE_TIMEOUT_MS)
    {
        const std::optional<std::string> line = m_link.nextLine(timeoutMs);
        if (line && *line == expected) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "\nexpected: " << expected << "\nreceived: " << (line ? *line : "(nothing in time)");
    }
    // A request answered by its echo with the result.
    ::testing::AssertionResult exchange(const std::string& cmd, const std::string& cmdinfo, const char* result = "ok")
    {
        return answered(cmd, cmdinfo, cmdinfo, result);
    }
    // A request answered with the reply cmdinfo and the result.
    ::testing::AssertionResult answered(const std::string& cmd, const std::string& cmdinfo,
                                        const std::string& replyInfo, const char* result = "ok")
    {
        ::testing::AssertionResult sent = send(request(cmd, cmdinfo));
        return sent ? receives(reply(cmd, replyInfo, result)) : sent;
    }

private:
    vsocktest::LinePeer m_link;
    unsigned m_count = 0;
    std::string m_reqid;
};

class Exchange : public ::testing::Test
{
protected:
    std::string work() const { return m_scratch / "work"; }
    std::string storage(const std::string& name) const { return work() + "/test-uid/" + name; }

    std::unique_ptr<ProgramRun> startProgram()
    {
        auto run = std::make_unique<ProgramRun>(
            std::vector<std::string>{"uid=test-uid", "port=" + std::to_string(m_editor.port()), "work=" + work()});
        EXPECT_TRUE(run->start());
        return run;
    }
    // Step 1: the program connects and, once its product has started, says "connected" as its first line.
    ::testing::AssertionResult connects(const ProgramRun& run)
    {
        if (!m_editor.link().accept(CONNECT_LIMIT_MS)) {
            return ::testing::AssertionFailure() << "no connection within " << CONNECT_LIMIT_MS << " ms";
        }
        const int leftMs = CONNECT_LIMIT_MS - static_cast<int>(millisecondsSince(run.startTime()));
        return m_editor.receives(CONNECTED, leftMs > 0 ? leftMs : 1);
    }
    // Step 15 (and the end of step 16): the editor hangs up; the program ends in order.
    void hangUpAndExit(ProgramRun& run)
    {
        m_editor.link().hangUp();
        EXPECT_EQ(run.waitForExit(EXIT_TIMEOUT_MS * SLOWDOWN), 0) << run.output();
    }

    vdtest::ScratchDir m_scratch;
    FakeEditor m_editor;
};

TEST_F(Exchange, ScriptedExchangeWithTheRealProgram)
{
    const Clock::time_point exchangeStart = Clock::now();
    FakeEditor& ed = m_editor;
    std::unique_ptr<ProgramRun> run = startProgram();
    ASSERT_TRUE(connects(*run)) << "step 1";

    // 2. Two components; the reply follows the last "Re:addComponent", the resource notification the reply.
    ASSERT_TRUE(ed.exchange("add_cpt_info", componentList(100, 101))) << "step 2";
    ASSERT_TRUE(ed.receives(resourceNotify(20))) << "step 2";

    // 3. A connection between them.
    ASSERT_TRUE(ed.exchange(
        "add_cpt_connect",
        R"({"list":[{"rx_cpt":"AudioCompo/#101","rx_cpt_port":"in:0","tx_cpt":"AudioCompo/#100","tx_cpt_port":"0"}]})"))
        << "step 3";

    // 4. The value of the gain with its description.
    const std::string gainRequest = R"({"list":[{"prmAddr":"AudioCompo/#100/Gain:0:0"}]})";
    const auto gainList = [](const std::string& value, const std::string& text) {
        return R"({"list":[)" + gainEntry(value, text) + "]}";
    };
    ASSERT_TRUE(ed.answered("getData_prm_val", gainRequest, gainList("0.0", "0.000000"))) << "step 4";

    // 5. Set as a value and as a display text; each change comes back as a "prm_val" notification.
    const auto gainNotify = [&](const std::string& value, const std::string& text) {
        return R"({"notify":{"cmd":"prm_val","cmdinfo":)" + gainList(value, text) + R"(,"from":"test-uid"}})";
    };
    ASSERT_TRUE(ed.exchange("set_prm_val", R"({"info":{"prmAddr":"AudioCompo/#100/Gain:0:0","prmValue":0.5}})"))
        << "step 5";
    ASSERT_TRUE(ed.receives(gainNotify("0.5", "0.500000"))) << "step 5";
    ASSERT_TRUE(ed.answered("getData_prm_val", gainRequest, gainList("0.5", "0.500000"))) << "step 5";
    ASSERT_TRUE(ed.exchange("set_prm_val", R"({"info":{"prmAddr":"AudioCompo/#100/Gain:0:0","prmValue":"0.25"}})"))
        << "step 5";
    ASSERT_TRUE(ed.receives(gainNotify("0.25", "0.250000"))) << "step 5";

    // 6. A compile answers with the capacity and leaves the compiler's four files.
    ASSERT_TRUE(ed.answered("set_compile", "", R"({"info":{"capacity":1333332}})")) << "step 6";
    for (const char* file : {"ComponentDB.json", "ConnectionDB.json", "DspSystemDB.json", "CompileResult.json"}) {
        EXPECT_EQ(::access((storage("Config/") + file).c_str(), F_OK), 0) << "step 6: " << file;
    }
    EXPECT_TRUE(nlohmann::json::accept(readWhole(storage("Config/CompileResult.json")))) << "step 6";

    // 7. Device information, and the label, which the change scan reports as the device name.
    ASSERT_TRUE(ed.answered("get_dev_info", "", deviceInfo(""))) << "step 7";
    ASSERT_TRUE(ed.exchange("set_dev_label", R"({"info":{"localLabel":"Desk"}})")) << "step 7";
    ASSERT_TRUE(ed.receives(
        R"({"notify":{"cmd":"prm_val","cmdinfo":{"list":[{"cptName":"VDeviceSetup:1:1x1",)"
        R"("prmAddr":"VDeviceSetup/#0/Setup/DeviceName:0:0","prmDefUI":"","prmKind":"","prmMax":0,"prmStr":"Desk",)"
        R"("prmType":11,"prmValue":"Desk"}]},"from":"test-uid"}})"))
        << "step 7";

    // 8. No synchronisation without a device; an abort of nothing gets no answer; dropping the network information
    // disconnects the sync thread, whose answer becomes the "Disconnect" notification.
    ASSERT_TRUE(ed.exchange("set_sync_device", "", "ng")) << "step 8";
    ASSERT_TRUE(ed.send(R"({"abort":{"reqid":"nope"}})")) << "step 8";
    ASSERT_TRUE(ed.exchange("del_net_info", "")) << "step 8";
    ASSERT_TRUE(
        ed.receives(R"({"notify":{"cmd":"Disconnect","from":"test-uid","message":"","progress":"100","result":"ok"}})"))
        << "step 8";

    // 9. Meter subscriptions.
    ASSERT_TRUE(ed.exchange("set_meter_info", R"({"info":{"time":100}})")) << "step 9";
    ASSERT_TRUE(ed.exchange("add_cpt_meter", R"({"info":{"id":"m1"},"list":[{"prmAddr":"AudioCompo/#100"}]})"))
        << "step 9";
    ASSERT_TRUE(ed.answered("getData_cpt_meter", "", R"({"list":[{"prmAddr":"AudioCompo/#100"}]})")) << "step 9";

    // 10. Copy the component, change it, paste the copy: the copied value is back.
    ASSERT_TRUE(
        ed.send(ed.request("getData_copy_paste", R"({"list":[{"prmAddr":"AudioCompo/#100","type":"currentCpt"}]})")))
        << "step 10";
    const std::string copyReply =
        ed.reply("getData_copy_paste", R"({"list":[{"d:data":"@","prmAddr":"AudioCompo/#100","type":"currentCpt"}]})");
    const std::string copyPrefix = copyReply.substr(0, copyReply.find('@'));
    const std::string copySuffix = copyReply.substr(copyReply.find('@') + 1);
    const std::optional<std::string> copy = ed.link().nextLine(LINE_TIMEOUT_MS);
    ASSERT_TRUE(copy) << "step 10";
    ASSERT_EQ(copy->rfind(copyPrefix, 0), 0u) << "step 10: " << *copy;
    ASSERT_GT(copy->size(), copyPrefix.size() + copySuffix.size()) << "step 10: " << *copy;
    ASSERT_EQ(copy->substr(copy->size() - copySuffix.size()), copySuffix) << "step 10: " << *copy;
    const std::string image = copy->substr(copyPrefix.size(), copy->size() - copyPrefix.size() - copySuffix.size());
    // An MBDF container ("#KORVAN MBDF") in base64.
    EXPECT_EQ(image.rfind("I0tPUlZBTiBNQkRG", 0), 0u) << "step 10";
    ASSERT_TRUE(ed.exchange("set_prm_val", R"({"info":{"prmAddr":"AudioCompo/#100/Gain:0:0","prmValue":0.75}})"))
        << "step 10";
    ASSERT_TRUE(ed.receives(gainNotify("0.75", "0.750000"))) << "step 10";
    ASSERT_TRUE(ed.exchange("setData_copy_paste", R"({"list":[{"d:data":")" + image +
                                                      R"(","prmAddr":"AudioCompo/#100","type":"currentCpt"}]})"))
        << "step 10";
    ASSERT_TRUE(ed.answered("getData_prm_val", gainRequest, gainList("0.25", "0.250000"))) << "step 10";

    // 11. Twenty components in one request: twenty posts through the device-control thread's small queue, one
    // reply, one resource notification.
    const Clock::time_point step11 = Clock::now();
    ASSERT_TRUE(ed.exchange("add_cpt_info", componentList(200, 219))) << "step 11";
    ASSERT_TRUE(ed.receives(resourceNotify(220))) << "step 11";
    const long long step11Ms = millisecondsSince(step11);

    // 12. The first failure answers the request, although the last answer succeeded; #301 is added.
    ASSERT_TRUE(ed.exchange("add_cpt_info",
                            R"({"list":[{"cptName":"nosuch:1:1x1","prmAddr":"AudioCompo/#300"},)"
                            R"({"cptName":"testgain:1:1x1","prmAddr":"AudioCompo/#301"}]})",
                            "ng"))
        << "step 12";
    ASSERT_TRUE(ed.receives(resourceNotify(230))) << "step 12";

    // 13. Lines the program refuses, each a request that would be answered if it were read: not JSON, nested
    // 100 000 levels deep, 6 MiB long. The link stays up and the next request is answered.
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const std::string refused[] = {
        "hello",
        ed.request("get_dev_info", R"({"info":{"deep":)" + deep + "}}"),
        ed.request("get_dev_info", R"({"info":{"pad":")" + std::string(6u << 20, 'x') + "\"}}"),
    };
    for (const std::string& line : refused) {
        ASSERT_TRUE(ed.send(line)) << "step 13";
        ASSERT_TRUE(ed.answered("get_dev_info", "", deviceInfo("Desk"))) << "step 13: after " << line.substr(0, 60);
    }

    // 14. Removal: the reply, then a resource notification (its figure depends on when every thread has dropped
    // the components).
    ASSERT_TRUE(
        ed.exchange("del_cpt_info", R"({"list":[{"prmAddr":"AudioCompo/#100"},{"prmAddr":"AudioCompo/#101"}]})"))
        << "step 14";
    const std::optional<std::string> resource = ed.link().nextLine(LINE_TIMEOUT_MS);
    ASSERT_TRUE(resource) << "step 14";
    EXPECT_EQ(
        resource->rfind(R"({"notify":{"cmd":"cpt_resource","cmdinfo":{"info":{"capacity":1333332,"resource":)", 0), 0u)
        << "step 14: " << *resource;

    // 15. The editor hangs up: the program ends and leaves both generations of the current memory.
    hangUpAndExit(*run);
    EXPECT_EQ(::access(storage("Current/CurrentBackupFile.bup").c_str(), F_OK), 0) << "step 15";
    EXPECT_EQ(::access(storage("Current/CurrentBackupFile.bup.old").c_str(), F_OK), 0) << "step 15";
    run.reset();
    const long long exchangeMs = millisecondsSince(exchangeStart);

    // 16. A second start on the same storage: the memories are restored before "connected", so the label is back
    // at once.
    run = startProgram();
    ASSERT_TRUE(connects(*run)) << "step 16";
    ASSERT_TRUE(ed.answered("get_dev_info", "", deviceInfo("Desk"))) << "step 16";
    hangUpAndExit(*run);

    std::printf("[ timing ] exchange (steps 1-15): %lld ms, step 11: %lld ms\n", exchangeMs, step11Ms);
}

// The editor sends part of a line and shuts its sending side down at once: the program ends, as it does when a whole
// line came last. A part larger than the program takes at once carries the end in its last segment; a short part
// goes in one segment and the end follows in another.
TEST_F(Exchange, AnEditorThatEndsMidLineEndsTheProgram)
{
    const std::string head = R"({"request":{"cmd":"get_dev_info","from":")";
    for (const size_t length : {size_t{1} << 20, size_t{0}}) {
        SCOPED_TRACE(length != 0 ? "end in the last segment" : "end in a segment of its own");
        std::unique_ptr<ProgramRun> run = startProgram();
        ASSERT_TRUE(connects(*run));
        const std::string part = head + std::string(length, 'x');
        const int link = m_editor.link().descriptor();
        ASSERT_TRUE(vsocktest::writeAll(link, reinterpret_cast<const u8*>(part.data()), part.size()));
        ASSERT_EQ(::shutdown(link, SHUT_WR), 0);
        EXPECT_EQ(run->waitForExit(EXIT_TIMEOUT_MS * SLOWDOWN), 0) << run->output();
        m_editor.link().hangUp();
    }
}

// About 120 requests of every kind in one write: each gets exactly one reply, and no thread waits on another's full
// queue until the retry limit (which drops the message, an answer as often as not).
TEST_F(Exchange, ABurstOfMixedRequestsGetsOneReplyEach)
{
    FakeEditor& ed = m_editor;
    std::unique_ptr<ProgramRun> run = startProgram();
    ASSERT_TRUE(connects(*run));
    ASSERT_TRUE(ed.exchange("add_cpt_info", componentList(100, 101)));
    ASSERT_TRUE(ed.receives(resourceNotify(20)));
    const std::string copyRequest = R"({"list":[{"prmAddr":"AudioCompo/#100","type":"currentCpt"}]})";
    ASSERT_TRUE(ed.send(ed.request("getData_copy_paste", copyRequest)));
    const std::optional<std::string> copy = ed.link().nextLine(LINE_TIMEOUT_MS);
    ASSERT_TRUE(copy);
    const nlohmann::json copied = nlohmann::json::parse(*copy, nullptr, false);
    ASSERT_TRUE(copied.contains("reply")) << *copy;
    const std::string image = copied["reply"]["cmdinfo"]["list"][0]["d:data"].get<std::string>();

    const std::string connection = R"({"list":[{"rx_cpt":"AudioCompo/#101","rx_cpt_port":"in:0",)"
                                   R"("tx_cpt":"AudioCompo/#100","tx_cpt_port":"0"}]})";
    const std::string meter = R"({"info":{"id":"m1"},"list":[{"prmAddr":"AudioCompo/#100"}]})";
    const std::string gain = R"({"info":{"prmAddr":"AudioCompo/#100/Gain:0:0","prmValue":0.5}})";
    const std::string gainRead = R"({"list":[{"prmAddr":"AudioCompo/#100/Gain:0:0"}]})";
    const std::string network = R"({"info":{"devIpAddr":"127.0.0.2","devMacAddr":"","pcIpAddr":"127.0.0.1"}})";
    const std::string paste =
        R"({"list":[{"d:data":")" + image + R"(","prmAddr":"AudioCompo/#100","type":"currentCpt"}]})";
    const struct
    {
        const char* m_cmd;
        std::string m_cmdinfo;
        int m_count;
    } kinds[] = {
        {"set_net_info", network, 8},
        {"get_sync_device", "", 9},
        {"set_compile", "", 5},
        {"add_cpt_connect", connection, 8},
        {"del_cpt_connect", connection, 8},
        {"add_cpt_meter", meter, 5},
        {"del_cpt_meter", meter, 5},
        {"getData_copy_paste", copyRequest, 8},
        {"setData_copy_paste", paste, 8},
        {"set_prm_val", gain, 14},
        {"getData_prm_val", gainRead, 14},
        {"del_net_info", "", 3},
        {"get_dev_info", "", 5},
    };
    std::string burst;
    std::map<std::string, int> replies; // reqid -> replies seen
    const auto add = [&](const std::string& line) {
        burst += (burst.empty() ? "" : "\n") + line;
        replies[nlohmann::json::parse(line)["request"]["reqid"].get<std::string>()] = 0;
    };
    // Round by round, each kind while its count lasts, and in the first ten rounds a component added and removed.
    for (int round = 0; round < 14; ++round) {
        const std::string uid = std::to_string(200 + round);
        if (round < 10) {
            add(ed.request("add_cpt_info", componentList(200 + round, 200 + round)));
        }
        for (const auto& kind : kinds) {
            if (round < kind.m_count) {
                add(ed.request(kind.m_cmd, kind.m_cmdinfo));
            }
        }
        if (round < 10) {
            add(ed.request("del_cpt_info", R"({"list":[{"prmAddr":"AudioCompo/#)" + uid + R"("}]})"));
        }
    }
    ASSERT_EQ(replies.size(), 120u);
    ASSERT_TRUE(ed.send(burst));

    size_t answered = 0;
    while (answered < replies.size()) {
        const std::optional<std::string> line = ed.link().nextLine(LINE_TIMEOUT_MS * 3);
        ASSERT_TRUE(line) << answered << " of " << replies.size() << " answered\n" << run->output();
        const nlohmann::json packet = nlohmann::json::parse(*line);
        if (!packet.contains("reply")) {
            continue;
        }
        const auto reply = replies.find(packet["reply"]["reqid"].get<std::string>());
        ASSERT_NE(reply, replies.end()) << *line;
        EXPECT_EQ(++reply->second, 1) << *line;
        answered += reply->second == 1 ? 1 : 0;
    }
    // A request after the burst goes to "DeviceControl" behind every post of the burst: no second reply precedes it.
    ASSERT_TRUE(ed.send(ed.request("add_cpt_info", componentList(300, 300))));
    const std::string last = ed.reply("add_cpt_info", componentList(300, 300));
    std::optional<std::string> line;
    while ((line = ed.link().nextLine(LINE_TIMEOUT_MS)) && *line != last) {
        EXPECT_EQ(line->find(R"({"reply")"), std::string::npos) << "a second reply: " << *line;
    }
    ASSERT_TRUE(line) << "no reply to the request after the burst";
    EXPECT_EQ(run->output().find("Busy Timeout!"), std::string::npos) << run->output();
    hangUpAndExit(*run);
}

// Runs that end without an editor link: nothing listens at the port, and a port out of range.
TEST_F(Exchange, WithoutAnEditorTheProgramEnds)
{
    u16 unused = 0;
    {
        vsocktest::LinePeer closed; // a port that was free a moment ago
        unused = closed.port();
    }
    const struct
    {
        std::string port;
        const char* logged;
    } cases[] = {
        {std::to_string(unused), nullptr},
        {"70000", "[E] PyriteClientVDProtocolThread::onChangeStatus - port \"70000\" is no port number.\n"},
    };
    for (const auto& c : cases) {
        ProgramRun run({"uid=test-uid", "port=" + c.port, "work=" + work()});
        ASSERT_TRUE(run.start());
        EXPECT_EQ(run.waitForExit(EXIT_TIMEOUT_MS * SLOWDOWN), 0) << c.port << "\n" << run.output();
        if (c.logged != nullptr) {
            EXPECT_NE(run.output().find(c.logged), std::string::npos) << run.output();
        }
    }
}

// Without "uid" or without "port" the program runs headless: it calls no editor, its console answers, and
// "shutdown" ends it.
TEST_F(Exchange, WithoutUidOrPortTheProgramRunsHeadless)
{
    const std::vector<std::string> arguments[] = {
        {"port=" + std::to_string(m_editor.port()), "work=" + work()},
        {"uid=test-uid", "work=" + work()},
    };
    for (const auto& given : arguments) {
        ProgramRun run(given);
        ASSERT_TRUE(run.start());
        dbgctest::TestClient client;
        ASSERT_TRUE(e2etest::openConsole(run, client)) << given[0] << "\n" << run.output();
        ASSERT_TRUE(client.send("shutdown\r"));
        EXPECT_EQ(run.waitForExit(EXIT_TIMEOUT_MS * SLOWDOWN), 0) << given[0] << "\n" << run.output();
        EXPECT_FALSE(m_editor.link().hasCaller(0)) << given[0];
    }
}

} // namespace
