// Line editor, word splitting and module dispatch of DebugConsole over an in-memory transport; the words.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbgc_DebugConsole.h"
#include "dbgc_Print.h"
#include "dbgc_TestSupport.h"
#include "os_Tasks.h"

namespace {

using DBGC::DebugConsole;
using DBGC::ModuleEntry;
using DBGC::StringElement;
using dbgctest::FakeTransport;

struct Call
{
    int module;
    std::vector<std::string> words;
};

std::vector<Call> g_calls;

template <int M> i32 record(DebugConsole&, u32 count, StringElement words[])
{
    Call call{M, {}};
    for (u32 i = 0; i < count; ++i) {
        call.words.emplace_back(words[i].text());
    }
    g_calls.push_back(call);
    return M == 2 ? static_cast<i32>(0x80000000u) : 0;
}

const ModuleEntry MODULES[] = {
    {"Top", &record<0>, "top"},
    {"Thread", &record<1>, "thread"},
    {"Component", &record<2>, "component"},
};

class ConsoleTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(ossupport::initialize(), 0u);
        g_calls.clear();
        ASSERT_EQ(m_console.initialize(nullptr, &m_transport, MODULES, 3), 0u);
    }
    void TearDown() override
    {
        m_console.finalize();
        ossupport::shutdown();
    }

    // Types the bytes and lets the console read them; returns what it wrote.
    std::string type(const std::string& bytes)
    {
        m_transport.feed(bytes);
        for (int i = 0; i < 8; ++i) {
            m_console.poll();
        }
        return m_transport.takeOutput();
    }

    FakeTransport m_transport;
    DebugConsole m_console;
};

TEST_F(ConsoleTest, QuotesCommentsAndWordLimit)
{
    type("a b \"c d\" e f g\r");
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].words, (std::vector<std::string>{"a", "b", "c d", "e", "f", "g"}));

    type("a b #c d\r");
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[1].words, (std::vector<std::string>{"a", "b"}));
    type("a:b c\r"); // a comment mark inside a word is text
    EXPECT_EQ(g_calls[2].words, (std::vector<std::string>{"a:b", "c"}));
    type(";a b\r");
    type("  \t \r");
    EXPECT_EQ(g_calls.size(), 3u);

    std::string words19;
    for (int i = 0; i < 19; ++i) {
        words19 += std::string(1, static_cast<char>('a' + i)) + " ";
    }
    type(words19 + "\r");
    ASSERT_EQ(g_calls.size(), 4u);
    EXPECT_EQ(g_calls[3].words.size(), 19u);
    const std::string out = type(words19 + "t\r");
    EXPECT_EQ(g_calls.size(), 4u);
    EXPECT_NE(out.find("\r\nError: too many parameters\nTop>"), std::string::npos) << out;
}

TEST_F(ConsoleTest, ModulesByNameAndPath)
{
    EXPECT_EQ(type("/Thread x y\r"), "/Thread x y\r\nTop>");
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].module, 1);
    EXPECT_EQ(g_calls[0].words, (std::vector<std::string>{"x", "y"}));

    EXPECT_EQ(type("thread\r"), "thread\r\nThread>");
    EXPECT_EQ(type("THREAD extra\r"), "THREAD extra\r\nThread>");
    EXPECT_EQ(g_calls.size(), 1u);
    type("tlist 3\r");
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[1].module, 1);
    EXPECT_EQ(g_calls[1].words, (std::vector<std::string>{"tlist", "3"}));
    EXPECT_EQ(type("..\r"), "..\r\nTop>");

    EXPECT_EQ(type("/x\r"), "/x\r\nError: command not found!\nTop>");
    EXPECT_EQ(type("/\r"), "/\r\nTop>");
    EXPECT_EQ(type("log\r"), "log\r\nTop>");
    EXPECT_EQ(type("log 1\r"), "log 1\r\nError: argument\nTop>");
    EXPECT_EQ(g_calls.size(), 2u);

    EXPECT_EQ(type("/component q\r"),
              "/component q\r\nError: Module=Component, ResultCode=-2147483648(0x80000000)\nTop>");
    EXPECT_EQ(g_calls.back().module, 2);
}

TEST_F(ConsoleTest, EditingEchoAndRecall)
{
    EXPECT_EQ(type("ab\bc\x7f"
                   "d\r"),
              "ab\b \bc\b \bd\r\nTop>");
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].words, (std::vector<std::string>{"ad"}));
    EXPECT_EQ(type("\b\x7f"), ""); // nothing to erase: no echo
    EXPECT_EQ(type("\r"), "\r\nTop>");
    EXPECT_EQ(type("\n"), "\nTop>");
    EXPECT_EQ(type("\x01z\r"), "\x01z\r\nTop>"); // control bytes echo but are not kept
    EXPECT_EQ(g_calls.back().words, (std::vector<std::string>{"z"}));

    const std::string hundred(100, 'k');
    const std::string out = type(hundred + "\r");
    EXPECT_EQ(out, hundred + "\r\nTop>");
    EXPECT_EQ(g_calls.back().words, (std::vector<std::string>{std::string(79, 'k')}));

    type("abc def\r");
    const size_t calls = g_calls.size();
    EXPECT_EQ(type("!!\r"), "!!\r\nTop>abc def");
    EXPECT_EQ(g_calls.size(), calls);
    EXPECT_EQ(type("\bx\r"), "\b \bx\r\nTop>");
    EXPECT_EQ(g_calls.back().words, (std::vector<std::string>{"abc", "dex"}));

    // The reading stops after an empty line; the rest follows with the next poll.
    m_transport.feed("\rq\r");
    m_console.poll();
    EXPECT_EQ(m_transport.takeOutput(), "\r\nTop>");
    m_console.poll();
    EXPECT_EQ(m_transport.takeOutput(), "q\r\nTop>");

    type("thread\r");
    EXPECT_EQ(type("restart\r"), "restart\r\nTop>");
    EXPECT_EQ(type("!!\r"), "!!\r\nTop>");
}

TEST_F(ConsoleTest, LifecycleAndOutput)
{
    DebugConsole other;
    FakeTransport failing;
    failing.m_failOpen = true;
    EXPECT_EQ(m_console.initialize(nullptr, &m_transport, MODULES, 3), 0x80000000u);
    // A transport that cannot open is logged on standard output only, never to the console peers.
    FakeTransport peer;
    ASSERT_EQ(dbgc_addLowIO(&peer), 0u);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(other.initialize(nullptr, &failing, MODULES, 3), 0x80000000u);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "[E] DebugConsole::initialize - Cannot initialize 'Low-level I/O'!\n");
    EXPECT_EQ(peer.output(), "");
    dbgc_finalize();
    EXPECT_FALSE(other.isInitialized());
    EXPECT_EQ(other.initialize(nullptr, &m_transport, nullptr, 3), 0x80000000u);
    EXPECT_EQ(other.initialize(nullptr, &m_transport, MODULES, 0), 0x80000000u);
    EXPECT_EQ(other.finalize(), 0x80000000u);
    EXPECT_EQ(other.poll(), 0x80000000u);
    EXPECT_EQ(other.printf("x"), 0x80000000u);

    // Output is cut at 255 characters and written whole even when the transport takes 7 bytes at a time.
    m_transport.m_writeChunk = 7;
    const std::string long300(300, 'w');
    EXPECT_EQ(m_console.printf("%s", long300.c_str()), 0u);
    EXPECT_EQ(m_transport.takeOutput(), std::string(255, 'w'));
    m_transport.m_failWrite = true;
    EXPECT_EQ(m_console.printf("lost"), 0x80000000u);
    m_transport.m_failWrite = false;

    type("thread\r");
    EXPECT_EQ(m_console.getCurrentModule(), 1u);
    EXPECT_EQ(m_console.finalize(), 0u);
    EXPECT_EQ(m_transport.m_closes.load(), 1u);
    EXPECT_EQ(m_console.getCurrentModule(), 0u);
    EXPECT_EQ(m_console.finalize(), 0x80000000u);
    EXPECT_EQ(m_console.initialize(nullptr, &m_transport, MODULES, 3), 0u);
    EXPECT_EQ(type("!!\r"), "!!\r\nTop>"); // history was reset
}

TEST(StringElementTest, ComparisonsAndNumbers)
{
    StringElement w;
    EXPECT_FALSE(w.equals("x"));
    EXPECT_EQ(w.length(), 0u);
    EXPECT_EQ(w.toUInt(), 0u);
    u32 v = 7;
    EXPECT_EQ(w.toUInt(&v, 10), 0x80000000u);
    EXPECT_EQ(v, 0u);

    w.set("ThReAd");
    EXPECT_TRUE(w.equals("thread"));
    EXPECT_FALSE(w.equals("threads"));
    EXPECT_FALSE(w.equals(nullptr));
    w.set("12ab");
    EXPECT_EQ(w.toUInt(), 12u);
    EXPECT_EQ(w.toHex(), 0x12abu);
    EXPECT_EQ(w.toUInt(&v, 10), 0x80000000u);
    w.set("zz");
    EXPECT_EQ(w.toUInt(), 0u);
    EXPECT_EQ(w.toInt(), 0);
    w.set("-6");
    EXPECT_EQ(w.toInt(), -6);
    EXPECT_EQ(w.toUInt(&v, 10), 0x80000000u);
    w.set("42");
    EXPECT_EQ(w.toUInt(&v, 10), 0u);
    EXPECT_EQ(v, 42u);
    w.set("99999999999");
    EXPECT_EQ(w.toUInt(&v, 10), 0x80000000u);
}

TEST(StringElementTest, StrictForms)
{
    StringElement w;
    u32 u = 0;
    i32 i = 0;
    u8 b = 0;
    // Unsigned: strict = the whole word in decimal; field = leading digits after a leading digit.
    const struct
    {
        const char* text;
        bool unsignedOk;
        u32 unsignedValue;
        bool fieldOk;
        u32 fieldValue;
        bool signedOk;
        i32 signedValue;
        bool byteOk;
        u8 byteValue;
    } cases[] = {
        {"7", true, 7, true, 7, true, 7, true, 7},
        {"0A", false, 0, true, 0, false, 0, true, 0x0A},
        {"ff", false, 0, false, 0, false, 0, true, 0xFF},
        {"-6", false, 0, false, 0, true, -6, false, 0},
        {"-", false, 0, false, 0, false, 0, false, 0},
        {"zz", false, 0, false, 0, false, 0, false, 0},
        {"100", true, 100, true, 100, true, 100, false, 0},
        {"6a", false, 0, true, 6, false, 0, true, 0x6A},
        {"+3", false, 0, false, 0, false, 0, false, 0},
        {"0x10", false, 0, true, 0, false, 0, false, 0},
        {"12abc", false, 0, true, 12, false, 0, false, 0},
        {"1.9", false, 0, true, 1, false, 0, false, 0},
        {"3.4e39", false, 0, true, 3, false, 0, false, 0},
        {"4294967295", true, 0xFFFFFFFF, true, 0xFFFFFFFF, false, 0, false, 0},
        {"4294967296", false, 0, false, 0, false, 0, false, 0},
        {"", false, 0, false, 0, false, 0, false, 0},
    };
    for (const auto& c : cases) {
        w.set(c.text);
        EXPECT_EQ(w.toStrictUInt(&u) == 0, c.unsignedOk) << c.text;
        EXPECT_EQ(u, c.unsignedValue) << c.text;
        EXPECT_EQ(w.toFieldUInt(&u) == 0, c.fieldOk) << c.text;
        EXPECT_EQ(u, c.fieldValue) << c.text;
        EXPECT_EQ(w.toStrictInt(&i) == 0, c.signedOk) << c.text;
        EXPECT_EQ(i, c.signedValue) << c.text;
        EXPECT_EQ(w.toHexByte(&b) == 0, c.byteOk) << c.text;
        EXPECT_EQ(b, c.byteValue) << c.text;
    }
    w.set(nullptr);
    EXPECT_NE(w.toStrictUInt(&u), 0u);
    EXPECT_NE(w.toFieldUInt(&u), 0u);
    EXPECT_NE(w.toStrictInt(&i), 0u);
    EXPECT_NE(w.toHexByte(&b), 0u);
}

} // namespace
