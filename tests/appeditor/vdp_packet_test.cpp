// Result names, the packet container and the argument map of the editor link.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "vdp_PacketContainer.h"
#include "vdp_Result.h"

using namespace VDProtocol;

TEST(ResultName, TableAndRule)
{
    const struct
    {
        u32 code;
        const char* name;
    } cases[] = {
        {0, "ok"},
        {1, "excuting"},
        {2, "aborted"},
        {3, "ok"},
        {100, "ok"},
        {0x7FFFFFFF, "ok"},
        {0x80000000, "ng"},
        {0x80000002, "ng/not_found"},
        {0x8000000B, "ng/unmatched_config"},
        {0x8000000C, "ng/capacity_over"},
        {0x8000000D, "ng"},
        {0x8000000F, "ng"},
        {0xFFFFFFFF, "ng"},
    };
    for (const auto& c : cases) {
        PacketContainer packet;
        packet.setResult(static_cast<i32>(c.code), 0, "");
        EXPECT_EQ(packet.getResultName(), c.name) << std::hex << c.code;
    }
}

TEST(PacketContainer, SetSplitsTheCommand)
{
    const struct
    {
        const char* type;
        const char* cmd;
        i32 result;
        const char* command;
        const char* cmdInfo;
    } cases[] = {
        {"abort", "add_cpt_info", 1, "", ""},    {"request", "get", RESULT_NG, "", ""},
        {"request", nullptr, RESULT_NG, "", ""}, {"request", "set_", 0, "set", ""},
        {"request", "set__x", 0, "set", "x"},    {"request", "add_cpt_info", 0, "add", "cpt_info"},
        {"request", "_x", 0, "", "x"},           {"request", "a_b__c_", 0, "a", "b__c_"},
    };
    for (const auto& c : cases) {
        PacketContainer packet;
        ASSERT_EQ(packet.m_info.setInt("stale", 1), 0);
        EXPECT_EQ(packet.set(c.type, c.cmd, "f", nullptr, "r"), c.result) << c.cmd;
        EXPECT_EQ(packet.m_type, c.type);
        EXPECT_EQ(packet.m_command, c.command) << c.cmd;
        EXPECT_EQ(packet.m_cmdInfo, c.cmdInfo) << c.cmd;
        EXPECT_EQ(packet.m_from, "f");
        EXPECT_EQ(packet.m_to, "");
        EXPECT_EQ(packet.m_reqId, "r");
        EXPECT_TRUE(packet.m_info.empty());
    }
    // A failed split leaves command and cmdinfo as they were.
    PacketContainer packet;
    ASSERT_EQ(packet.parseCommand("add_cpt_info"), 0);
    EXPECT_EQ(packet.parseCommand("get"), RESULT_NG);
    EXPECT_EQ(packet.m_command, "add");
    EXPECT_EQ(packet.m_cmdInfo, "cpt_info");
}

TEST(PacketContainer, CommandTextResultAndDeepCopy)
{
    const struct
    {
        const char* command;
        const char* cmdInfo;
        const char* text;
    } cases[] = {{"add", "cpt_info", "add_cpt_info"}, {"", "x", "x"}, {"set", "", ""}, {"", "", ""}};
    for (const auto& c : cases) {
        PacketContainer packet;
        packet.m_command = c.command;
        packet.m_cmdInfo = c.cmdInfo;
        EXPECT_EQ(packet.getCommandText(), c.text);
    }

    PacketContainer packet;
    packet.setResult(RESULT_CAPACITY_OVER, 250, "m");
    EXPECT_TRUE(packet.m_hasResult);
    EXPECT_EQ(packet.m_progress, 100u);
    EXPECT_EQ(packet.getProgressText(), "100");
    ASSERT_EQ(packet.m_info.setString("s", std::string("one")), 0);
    packet.m_list.resize(1);
    ASSERT_EQ(packet.m_list[0].setBinary("b", "xy", 2), 0);

    PacketContainer copy(packet);
    packet.clear();
    EXPECT_FALSE(packet.m_hasResult);
    EXPECT_EQ(packet.m_result, 0);
    EXPECT_STREQ(copy.m_info.getString("s"), "one");
    ASSERT_EQ(copy.m_list.size(), 1u);
    EXPECT_EQ(copy.m_list[0].getBinarySize("b"), 2u);
    EXPECT_EQ(copy.getResultName(), "ng/capacity_over");
}

TEST(ArgumentMap, SettersRefuseAndFirstValueWins)
{
    ArgumentMap map;
    // Every setter but the two-argument setString refuses an empty name.
    EXPECT_EQ(map.setInt("", 1), RESULT_NG);
    EXPECT_EQ(map.setUInt("", 1), RESULT_NG);
    EXPECT_EQ(map.setFloat("", 1.0f), RESULT_NG);
    EXPECT_EQ(map.setString("", "t", 5), RESULT_NG);
    EXPECT_EQ(map.setBinary("", "t", 1), RESULT_NG);
    EXPECT_EQ(map.setBinaryFromBase64("", "TWFu", 4), RESULT_NG);
    EXPECT_EQ(map.setVariant("", KVariant(1)), RESULT_NG);
    EXPECT_TRUE(map.empty());
    EXPECT_EQ(map.setString("", std::string("t")), 0);
    EXPECT_STREQ(map.getString(""), "t");

    EXPECT_EQ(map.setInt("i", 1), 0);
    EXPECT_EQ(map.setInt("i", 2), 0);
    EXPECT_EQ(map.setString("i", std::string("x")), 0);
    EXPECT_EQ(map.getInt("i"), 1);
    EXPECT_EQ(map.getKind("i"), KVariant::KIND_INT32);

    // Bad binary input stores nothing.
    EXPECT_EQ(map.setBinary("b", nullptr, 3), RESULT_NG);
    EXPECT_EQ(map.setBinary("b", "x", 0), RESULT_NG);
    EXPECT_EQ(map.setBinaryFromBase64("b", "!!!!", 4), RESULT_NG);
    EXPECT_EQ(map.setBinaryFromBase64("b", "=", 1), RESULT_NG);
    EXPECT_FALSE(map.contains("b"));

    // Texts KVariant cannot hold are refused, not stored as its "ERROR:" text.
    EXPECT_EQ(map.setString("long", std::string(1023, 'a')), 0);
    EXPECT_EQ(std::strlen(map.getString("long")), 1023u);
    EXPECT_EQ(map.setString("over", std::string(1024, 'a')), RESULT_NG);
    EXPECT_EQ(map.setString("over", std::string(1024, 'a').c_str(), 2000), RESULT_NG);
    EXPECT_FALSE(map.contains("over"));
    EXPECT_EQ(map.setString("cut", "abcdef", 3), 0);
    EXPECT_STREQ(map.getString("cut"), "abc");

    EXPECT_EQ(map.getNames(), (std::vector<std::string>{"", "cut", "i", "long"}));
}

TEST(ArgumentMap, GettersReportKindMismatchAndMissingNames)
{
    ArgumentMap map;
    ASSERT_EQ(map.setString("s", std::string("")), 0);
    ASSERT_EQ(map.setUInt("u", 0xFFFFFFFFu), 0);
    ASSERT_EQ(map.setFloat("f", 1.5f), 0);
    ASSERT_EQ(map.setBinaryFromBase64("b2", "TWE=", 4), 0);
    ASSERT_EQ(map.setBinaryFromBase64("b3", "TWFu", 4), 0);

    bool ok = true;
    EXPECT_EQ(map.getKind("missing"), KVariant::KIND_EMPTY);
    EXPECT_EQ(map.getInt("missing", &ok), 0);
    EXPECT_FALSE(ok);
    ok = true;
    EXPECT_EQ(map.getInt("s", &ok), 0);
    EXPECT_FALSE(ok);
    ok = true;
    EXPECT_EQ(map.getBase64("s", &ok), "");
    EXPECT_FALSE(ok);
    ok = true;
    EXPECT_EQ(map.getString("u", &ok), nullptr);
    EXPECT_FALSE(ok);
    ok = true;
    EXPECT_EQ(map.getVariant("missing", &ok).getKind(), KVariant::KIND_EMPTY);
    EXPECT_FALSE(ok);

    EXPECT_EQ(map.getInt("u", &ok), -1);
    EXPECT_TRUE(ok);
    EXPECT_EQ(map.getFloat("u"), 4294967295.0f);
    EXPECT_EQ(map.getFloat("f"), 1.5f);
    EXPECT_EQ(map.getBinarySize("b2"), 2u);
    EXPECT_EQ(std::memcmp(map.getBinary("b2"), "Ma", 2), 0);
    EXPECT_EQ(map.getBinarySize("b3"), 3u);
    EXPECT_EQ(map.getBase64("b3", &ok), "TWFu");
    EXPECT_TRUE(ok);
    EXPECT_EQ(map.getBase64("b2"), "TWE=");
    EXPECT_EQ(map.getVariant("f", &ok).getFloat(), 1.5f);
    EXPECT_TRUE(ok);
}
