// The JSON packet converter: received lines to packets, packets to lines, exact bytes and log lines.
#include <gtest/gtest.h>

#include <pthread.h>

#include <cstring>
#include <functional>
#include <string>

#include "vdp_PacketConvertor.h"
#include "vdp_Result.h"
#include "vdp_TestSupport.h"

using namespace VDProtocol;

namespace {

const char* const kCommandLog = "JSON: 'commandInfo' decode error.\n";
const char* const kTagLog = "JSON: 'component' tag not found.\n";
const char* const kExceptionLog = "JSON: unknown exception occurred.\n";

std::string encode(const PacketContainer& packet)
{
    std::string text;
    EXPECT_EQ(encodePacket(packet, text), 0);
    return text;
}

} // namespace

TEST(PacketConvertor, DecodesRequestsAbortsAndLogsWhatItCannotRead)
{
    vdptest::PrintCapture print;
    const struct
    {
        const char* line;
        const char* type;
        const char* from;
        const char* reqId;
        const char* command;
        const char* cmdInfo;
        size_t listSize;
        const char* log;
    } cases[] = {
        {R"({"request":{"cmd":"get_dev_info","reqid":"1"}})"
         "\n",
         "request", "", "1", "get", "dev_info", 0, ""},
        {R"({"request":{"cmd":"get_dev_info","reqid":5,"from":true}})", "request", "", "", "get", "dev_info", 0, ""},
        {R"({"abort":{"reqid":"9","cmd":"set_x","from":"e"}})", "abort", "", "9", "", "", 0, ""},
        {R"({"abort":{"reqid":"9"},"request":{"cmd":"a_b","from":"e"}})", "request", "e", "", "a", "b", 0, ""},
        {R"({"notify":{"from":"e"}})", "", "", "", "", "", 0, kTagLog},
        {R"([{"request":{}}])", "", "", "", "", "", 0, kTagLog},
        {R"({"request":null,"abort":7})", "abort", "", "", "", "", 0, ""},
        {R"({"request":{"cmd":"get","from":"u","reqid":"2"}})", "request", "u", "2", "", "", 0, kCommandLog},
        {R"({"request":{"from":"u","cmdinfo":{"list":[{}]}}})", "request", "u", "", "", "", 0, kCommandLog},
        {R"({"request":{"cmd":"set_x","cmdinfo":{"info":[1]}}})", "request", "", "", "set", "x", 0, kExceptionLog},
        {R"({"request":{"cmd":"set_x","cmdinfo":{"info":"s"}}})", "request", "", "", "set", "x", 0, kExceptionLog},
        {R"({"request":{"cmd":"set_x","cmdinfo":{"list":[{"a":1},null,"s",{"b":2}]}}})", "request", "", "", "set", "x",
         2, kExceptionLog},
        {R"({"request":{"cmd":"set_x","cmdinfo":{"info":[],"list":{"p":1,"q":2}}}})", "request", "", "", "set", "x", 2,
         ""},
        {R"({"request":{"cmd":"set_x","cmdinfo":{"list":"s"}}})", "request", "", "", "set", "x", 1, ""},
    };
    for (const auto& c : cases) {
        PacketContainer packet;
        packet.m_to = "stale";
        ASSERT_EQ(decodePacket(std::string(c.line), packet), 0) << c.line;
        EXPECT_EQ(packet.m_type, c.type) << c.line;
        EXPECT_EQ(packet.m_from, c.from) << c.line;
        EXPECT_EQ(packet.m_to, "") << c.line;
        EXPECT_EQ(packet.m_reqId, c.reqId) << c.line;
        EXPECT_EQ(packet.m_command, c.command) << c.line;
        EXPECT_EQ(packet.m_cmdInfo, c.cmdInfo) << c.line;
        EXPECT_EQ(packet.m_list.size(), c.listSize) << c.line;
        EXPECT_TRUE(packet.m_info.empty()) << c.line;
        EXPECT_EQ(print.take(), c.log) << c.line;
    }

    // Text that is not exactly one JSON value: refused, packet untouched, nothing logged.
    for (const char* line : {"", "\n", "{", R"({"request":{}} x)", R"({"a":1,})", "{'a':1}", "[1]]"}) {
        PacketContainer packet;
        packet.m_from = "kept";
        EXPECT_EQ(decodePacket(std::string(line), packet), RESULT_NG) << line;
        EXPECT_EQ(packet.m_from, "kept");
    }
    EXPECT_EQ(print.take(), "");
}

TEST(PacketConvertor, ReadsArgumentValuesByJsonType)
{
    vdptest::PrintCapture print;
    const std::string line =
        R"({"request":{"cmd":"set_x","cmdinfo":{"info":{"a":1,"b":-1,"c":1.5,"d":true,"e":"x","f":null,"g":[1],)"
        R"("h":{"k":1},"i":4294967297,"j":-4294967297,"k":1e300,"q":3.4028235e38,"l":false,"m":"\u00e9","n":2.0,)"
        R"("d:data":"TWFu","":"empty name","o":""}}}})";
    PacketContainer packet;
    ASSERT_EQ(decodePacket(line, packet), 0);
    EXPECT_EQ(print.take(), "");
    const ArgumentMap& info = packet.m_info;
    EXPECT_EQ(info.getNames(),
              (std::vector<std::string>{"", "a", "b", "c", "d", "d:data", "e", "i", "j", "l", "m", "n", "o", "q"}));
    const struct
    {
        const char* name;
        u32 kind;
        i32 intValue;
    } ints[] = {{"a", KVariant::KIND_UINT32, 1}, {"b", KVariant::KIND_INT32, -1}, {"d", KVariant::KIND_INT32, 1},
                {"i", KVariant::KIND_UINT32, 1}, {"j", KVariant::KIND_INT32, -1}, {"l", KVariant::KIND_INT32, 0}};
    for (const auto& c : ints) {
        EXPECT_EQ(info.getKind(c.name), c.kind) << c.name;
        EXPECT_EQ(info.getInt(c.name), c.intValue) << c.name;
    }
    EXPECT_EQ(info.getKind("c"), KVariant::KIND_FLOAT32);
    EXPECT_EQ(info.getFloat("c"), 1.5f);
    EXPECT_EQ(info.getKind("n"), KVariant::KIND_FLOAT32);
    EXPECT_EQ(info.getFloat("q"), 3.4028234663852886e38f); // rounds to the largest float; 1e300 is left out
    EXPECT_STREQ(info.getString("e"), "x");
    EXPECT_STREQ(info.getString("m"), "\xC3\xA9");
    EXPECT_STREQ(info.getString(""), "empty name");
    EXPECT_STREQ(info.getString("o"), "");
    EXPECT_EQ(info.getBinarySize("d:data"), 3u);
    EXPECT_EQ(std::memcmp(info.getBinary("d:data"), "Man", 3), 0);

    // "TWE=" is two bytes; a text outside the alphabet, an empty text or a number stores nothing.
    for (const auto& [text, size] :
         {std::pair<const char*, u32>{R"("TWE=")", 2}, {R"("TW!u")", 0}, {R"("")", 0}, {"5", 0}}) {
        PacketContainer p;
        ASSERT_EQ(
            decodePacket(std::string(R"({"request":{"cmd":"a_b","cmdinfo":{"info":{"d:data":)") + text + "}}}}", p), 0);
        EXPECT_EQ(p.m_info.getBinarySize("d:data"), size) << text;
        EXPECT_EQ(p.m_info.contains("d:data"), size != 0) << text;
    }

    // A text of 1024 characters cannot be stored whole: it is left out, never stored as "ERROR:".
    for (const size_t length : {1023u, 1024u}) {
        PacketContainer p;
        const std::string label(length, 'L');
        ASSERT_EQ(decodePacket(
                      R"({"request":{"cmd":"set_dev_label","cmdinfo":{"info":{"localLabel":")" + label + R"("}}}})", p),
                  0);
        EXPECT_EQ(p.m_info.contains("localLabel"), length == 1023) << length;
        if (length == 1023) {
            EXPECT_EQ(p.m_info.getString("localLabel"), label);
        }
    }
}

TEST(PacketConvertor, WritesExactBytes)
{
    PacketContainer reply;
    ASSERT_EQ(reply.set("reply", "add_cpt_info", "b", "a", "1"), 0);
    ASSERT_EQ(reply.setResult(RESULT_OK, 100, ""), 0);
    EXPECT_EQ(encode(reply),
              R"({"reply":{"cmd":"add_cpt_info","from":"b","message":"","progress":"100","reqid":"1","result":"ok",)"
              R"("to":"a"}})");

    PacketContainer connected;
    connected.m_type = "connected";
    connected.m_from = "u";
    EXPECT_EQ(encode(connected), R"({"connected":{"from":"u"}})");

    PacketContainer notify;
    notify.m_type = "notify";
    notify.m_cmdInfo = "x";
    EXPECT_EQ(encode(notify), R"({"notify":{"cmd":"x","from":""}})");
    notify.m_command = "set";
    notify.m_cmdInfo.clear();
    notify.setResult(static_cast<i32>(0x80000002u), 7, "m\"\n");
    EXPECT_EQ(encode(notify), R"({"notify":{"from":"","message":"m\"\n","progress":"7","result":"ng/not_found"}})");

    // Maps with entries but nothing writable are written as null.
    PacketContainer empty;
    empty.m_type = "notify";
    ASSERT_EQ(empty.m_info.setBinary("bin", "x", 1), 0);
    empty.m_list.resize(2);
    ASSERT_EQ(empty.m_list[0].setBinary("bin", "x", 1), 0);
    ASSERT_EQ(empty.m_list[1].setVariant("v", KVariant()), 0);
    EXPECT_EQ(encode(empty), R"({"notify":{"cmdinfo":{"info":null,"list":[null,null]},"from":""}})");

    PacketContainer values;
    values.m_type = "notify";
    ArgumentMap& info = values.m_info;
    ASSERT_EQ(info.setFloat("f", 0.1f), 0);
    ASSERT_EQ(info.setFloat("g", 2.0f), 0);
    ASSERT_EQ(info.setInt("i", -5), 0);
    ASSERT_EQ(info.setUInt("u", 4000000000u), 0);
    ASSERT_EQ(info.setString("s", std::string("\xC3\xA9/\x01")), 0);
    ASSERT_EQ(info.setString("bad", std::string("a\xFF")), 0);
    ASSERT_EQ(info.setBinary("d:data", "Man", 3), 0);
    values.m_list.resize(1);
    ASSERT_EQ(values.m_list[0].setString("d:data", std::string("not binary")), 0);
    EXPECT_EQ(encode(values), "{\"notify\":{\"cmdinfo\":{\"info\":{\"bad\":\"a\xEF\xBF\xBD\",\"d:data\":\"TWFu\","
                              "\"f\":0.10000000149011612,\"g\":2.0,\"i\":-5,\"s\":\"\xC3\xA9/\\u0001\","
                              "\"u\":4000000000},\"list\":[{\"d:data\":\"\"}]},\"from\":\"\"}}");
}

TEST(PacketConvertor, SizeBoundOfArgumentsNeverPassesTheWrittenBytes)
{
    // The bytes of a map as a list entry of a written line.
    const auto written = [](const ArgumentMap& map) {
        PacketContainer packet;
        packet.m_type = "notify";
        packet.m_list.resize(1);
        const size_t none = encode(packet).size(); // the entry written as null
        packet.m_list[0] = map;
        return encode(packet).size() - none + 4;
    };
    const auto map = [](const std::function<void(ArgumentMap&)>& fill) {
        ArgumentMap arguments;
        fill(arguments);
        return arguments;
    };
    const struct
    {
        ArgumentMap arguments;
        bool exact; // no escapes and one-digit numbers
    } cases[] = {
        {ArgumentMap(), true},
        {map([](ArgumentMap& m) { (void)m.setBinary("bin", "x", 1); }), true},
        {map([](ArgumentMap& m) { (void)m.setString("prmAddr", "AudioCompo/#7"); }), true},
        {map([](ArgumentMap& m) {
             (void)m.setInt("i", 5);
             (void)m.setString("s", "");
         }),
         true},
        {map([](ArgumentMap& m) { (void)m.setBinary("d:data", "Man", 3); }), true},
        {map([](ArgumentMap& m) { (void)m.setBinary("d:data", "Many", 4); }), true},
        {map([](ArgumentMap& m) { (void)m.setString("d:data", "not binary"); }), true},
        {map([](ArgumentMap& m) {
             (void)m.setInt("i", -12345);
             (void)m.setUInt("u", 4000000000u);
             (void)m.setFloat("f", 0.1f);
         }),
         false},
        {map([](ArgumentMap& m) {
             (void)m.setString("s", std::string("\x01\"\\\xC3\xA9"));
             (void)m.setString("bad", std::string("a\xFF"));
         }),
         false},
    };
    for (const auto& c : cases) {
        const size_t bound = encodedSizeAtLeast(c.arguments);
        if (c.exact) {
            EXPECT_EQ(bound, written(c.arguments));
        } else {
            EXPECT_LT(bound, written(c.arguments));
        }
    }
}

TEST(PacketConvertor, BinaryArgumentsRoundTrip)
{
    const std::string line = R"({"request":{"cmd":"setData_x","cmdinfo":{"info":{"d:data":"TWFu"}}}})";
    PacketContainer packet;
    ASSERT_EQ(decodePacket(line, packet), 0);
    EXPECT_EQ(encode(packet), R"({"request":{"cmd":"setData_x","cmdinfo":{"info":{"d:data":"TWFu"}},"from":""}})");
}

namespace {

struct DepthCase
{
    std::string line;
    i32 result = 1;
};

void* decodeOnThread(void* argument)
{
    auto* c = static_cast<DepthCase*>(argument);
    PacketContainer packet;
    c->result = decodePacket(c->line, packet);
    return nullptr;
}

// Decodes on a thread with the smallest stack a thread of this system gets.
i32 decodeOnSmallStack(const std::string& line)
{
    DepthCase c{line};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    pthread_t thread;
    EXPECT_EQ(pthread_create(&thread, &attributes, &decodeOnThread, &c), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    return c.result;
}

std::string nested(size_t levels, const std::string& inner = "")
{
    return std::string(levels, '[') + inner + std::string(levels, ']');
}

} // namespace

TEST(PacketConvertor, RefusesLinesNestedDeeperThan64Levels)
{
    vdptest::PrintCapture print;
    EXPECT_EQ(decodeOnSmallStack(nested(64)), 0);
    EXPECT_EQ(decodeOnSmallStack(nested(65)), RESULT_NG);
    EXPECT_EQ(decodeOnSmallStack(nested(100000)), RESULT_NG);
    EXPECT_EQ(decodeOnSmallStack(std::string(100000, '[')), RESULT_NG);
    EXPECT_EQ(decodeOnSmallStack(std::string(100000, '{')), RESULT_NG);
    // Brackets inside texts, escaped quotes included, do not count.
    const std::string brackets(200, '[');
    EXPECT_EQ(decodeOnSmallStack(R"({"request":{"cmd":"a_b","from":"\")" + brackets + R"(\\"}})"), 0);
    EXPECT_EQ(decodeOnSmallStack(R"({"request":{"cmd":"a_b","cmdinfo":{"info":{"a":)" + nested(60) + "}}}}"), 0);
    EXPECT_EQ(decodeOnSmallStack(R"({"request":{"cmd":"a_b","cmdinfo":{"info":{"a":)" + nested(61) + "}}}}"),
              RESULT_NG);
    // 64 levels that are no request or abort: one tag line; the refused ones logged nothing.
    EXPECT_EQ(print.take(), kTagLog);
}
