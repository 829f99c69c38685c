// The TCP console end to end: a loopback client drives a running console thread.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "dbgc_ExpectedHelp.h"
#include "dbgc_Print.h"
#include "dbgc_TestSupport.h"
#include "pyrite_ProductInfo.h"

namespace {

using dbgctest::ConsoleRig;
using dbgctest::tcpListeners;
using dbgctest::TestClient;

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new dbgctest::Environment());

const std::string BANNER_TAIL = "==\n== [?]  Help Display\n\n";

std::string banner(const char* boot, const char* kernel, const char* program)
{
    return std::string("\n== KORVAN --- Debug Monitor\n==\n") + "== Boot Loader Version : " + boot + "\n" +
           "== Kernel Version      : " + kernel + "\n" + "== Program Version     : " + program + "\n" + BANNER_TAIL;
}

bool logHas(TMS::AbstractThread& thread, const std::string& text)
{
    char line[TMS::ThreadLogger::LINE_SIZE];
    for (u32 i = 0; thread.getLogger().getLine(i, line, sizeof(line)) == 0; ++i) {
        if (text == line) {
            return true;
        }
    }
    return false;
}

TEST(TcpConsole, BannerAndHelpTextsAreExact)
{
    ASSERT_EQ(PyriteProductInfo::getInstance().setVersion(1, "V0.00"), 0u);
    DBGC::DebugConsoleThread thread(0, "127.0.0.1");
    ASSERT_EQ(dbgctest::initializeThread(thread, "DebugConsole"), 0u);
    ASSERT_EQ(dbgctest::startThread(thread), 0u);
    ASSERT_EQ(thread.startEtherConsole(), 0u);
    TestClient client;
    ASSERT_TRUE(client.connectTo(thread.getTransport().getBoundPort()));
    ASSERT_TRUE(client.waitFor("Top>"));
    EXPECT_EQ(client.take(), banner("V0.00", "------", "------") + "Top>");

    client.send("?\r");
    ASSERT_TRUE(client.waitFor(expected::TOP_HELP + "Top>"));
    EXPECT_EQ(client.take(), "?\r\n" + expected::TOP_HELP + "Top>");
    client.send("/thread help\r");
    ASSERT_TRUE(client.waitFor(expected::THREAD_HELP + "Top>"));
    EXPECT_EQ(client.take(), "/thread help\r\n" + expected::THREAD_HELP + "Top>");
    client.send("component\r?\r");
    ASSERT_TRUE(client.waitFor(expected::COMPONENT_HELP + "Component>"));
    EXPECT_EQ(client.take(), "component\r\nComponent>?\r\n" + expected::COMPONENT_HELP + "Component>");
    client.send("/PDB ?\r");
    ASSERT_TRUE(client.waitFor(expected::PDB_HELP + "Component>"));
    EXPECT_EQ(client.take(), "/PDB ?\r\n" + expected::PDB_HELP + "Component>");
}

TEST(TcpConsole, PromptsErrorsAndEditing)
{
    ConsoleRig rig;
    ASSERT_TRUE(rig.m_ready);
    EXPECT_EQ(rig.command("/x"), "Error: command not found!\n");
    EXPECT_NE(rig.command("/Thread tlist").find("[ ThreadName ]"), std::string::npos);
    EXPECT_EQ(rig.command("tlist"), ""); // Top has no tlist
    EXPECT_EQ(rig.command("thread", "Thread>"), "");
    EXPECT_EQ(rig.command("..", "Top>"), "");
    EXPECT_EQ(rig.command("/Component bogus"), "Error: Module=Component, ResultCode=-2147483648(0x80000000)\n");
    EXPECT_EQ(rig.command("a b c d e f g h i j k l m n o p q r s t"), "Error: too many parameters\n");

    // Backspace echoes 08 20 08; 100 typed characters keep 79 (seen through the recall).
    rig.m_client.send("x\b");
    ASSERT_TRUE(rig.m_client.waitFor("x\b \b"));
    rig.m_client.take();
    EXPECT_EQ(rig.command(std::string(100, 'z')), "");
    rig.m_client.send("!!\r");
    ASSERT_TRUE(rig.m_client.waitFor("Top>" + std::string(79, 'z')));
    rig.m_client.drainFor(50);
    EXPECT_EQ(rig.m_client.take(), "!!\r\nTop>" + std::string(79, 'z'));
}

TEST(TcpConsole, OnePeerAtATimeAndReconnect)
{
    ConsoleRig rig;
    ASSERT_TRUE(rig.m_ready);
    EXPECT_EQ(rig.command("thread", "Thread>"), "");
    EXPECT_EQ(rig.command("help", "Thread>"), expected::THREAD_HELP);

    TestClient second;
    ASSERT_TRUE(second.connectTo(rig.m_port));
    EXPECT_TRUE(second.waitClosed());
    EXPECT_EQ(second.received(), "");
    EXPECT_EQ(rig.command("..", "Top>"), "");
    EXPECT_EQ(rig.command("thread", "Thread>"), "");

    // The next peer is greeted again; module and history stay.
    rig.m_client.close();
    ASSERT_TRUE(dbgctest::waitUntil([&] { return !rig.m_thread->getTransport().hasPeer(); }));
    TestClient third;
    ASSERT_TRUE(third.connectTo(rig.m_port));
    ASSERT_TRUE(third.waitFor(BANNER_TAIL + "Thread>"));
    EXPECT_EQ(third.take(), banner("------", "------", "------") + "Thread>");
    third.send("!!\r");
    ASSERT_TRUE(third.waitFor("!!\r\nThread>thread"));
}

// A peer that reconnects right after hanging up or resetting is greeted at once, however soon the console thread
// learns of the old connection's end: 200 connect-then-close cycles, then 100 resets, each followed by a connect.
TEST(TcpConsole, AReconnectRightAfterAHangUpOrResetGetsTheBanner)
{
    ConsoleRig rig;
    ASSERT_TRUE(rig.m_ready);
    for (int cycle = 0; cycle < 300; ++cycle) {
        const bool reset = cycle >= 200;
        if (reset) {
            rig.m_client.reset();
        } else {
            rig.m_client.close();
            TestClient passing;
            ASSERT_TRUE(passing.connectTo(rig.m_port));
            passing.close();
        }
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(rig.m_client.connectTo(rig.m_port));
        ASSERT_TRUE(rig.m_client.waitFor(BANNER_TAIL + "Top>")) << "cycle " << cycle;
        if (!reset) {
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100)) << "cycle " << cycle;
        }
        rig.m_client.take();
    }
}

TEST(TcpConsole, DebugPrintReachesThePeer)
{
    ConsoleRig rig;
    ASSERT_TRUE(rig.m_ready);
    std::thread printer([] { dbgc_printf("[i] from %s %d\n", "elsewhere", 7); });
    printer.join();
    ASSERT_TRUE(rig.m_client.waitFor("[i] from elsewhere 7\n"));
}

TEST(TcpConsole, ListensOnLoopbackOnly)
{
    ConsoleRig rig;
    ASSERT_TRUE(rig.m_ready);
    char loopback[16];
    std::snprintf(loopback, sizeof(loopback), "0100007F:%04X", rig.m_port);
    const auto listeners = tcpListeners("/proc/net/tcp", rig.m_port);
    EXPECT_EQ(listeners.size(), 1u);
    EXPECT_EQ(listeners.count(loopback), 1u);
}

TEST(TcpConsole, StartAndStopTheTcpConsole)
{
    ConsoleRig rig;
    ASSERT_TRUE(rig.m_ready);
    EXPECT_EQ(rig.m_thread->startEtherConsole(), 0x80000000u);
    EXPECT_TRUE(
        logHas(*rig.m_thread,
               "[E] DebugConsoleThread::startEtherConsole - Cannot initialize 'DebugConsole for TCP Server'!\n"));
    EXPECT_EQ(rig.m_thread->stopEtherConsole(), 0u);
    EXPECT_TRUE(rig.m_client.waitClosed());
    EXPECT_FALSE(rig.m_thread->getTransport().isOpen());
    EXPECT_EQ(rig.m_thread->stopEtherConsole(), 0x80000000u);
    EXPECT_TRUE(logHas(*rig.m_thread,
                       "[E] DebugConsoleThread::stopEtherConsole - Cannot finalize 'DebugConsole for TCP Server'!\n"));

    // Opened again, the console greets a new peer.
    ASSERT_EQ(rig.m_thread->startEtherConsole(), 0u);
    TestClient client;
    ASSERT_TRUE(client.connectTo(rig.m_thread->getTransport().getBoundPort()));
    EXPECT_TRUE(client.waitFor(BANNER_TAIL + "Top>"));
}

} // namespace
