// The TCP console end to end: a loopback client drives a running console thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "dbgc_ExpectedHelp.h"
#include "dbgc_Modules.h"
#include "dbgc_Print.h"
#include "dbgc_TestSupport.h"
#include "vsock_TestSupport.h"

namespace {

using dbgctest::ConsoleRig;
using dbgctest::tcpListeners;
using dbgctest::TestClient;

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new dbgctest::Environment());

const std::string BANNER_TAIL = "==\n== [?]  Help Display\n\n";

std::string banner(const char* boot, const char* kernel, const char* program, const char* product = "---")
{
    return std::string("\n== KORVAN ") + product + " Debug Monitor\n==\n" + "== Boot Loader Version : " + boot + "\n" +
           "== Kernel Version      : " + kernel + "\n" + "== Program Version     : " + program + "\n" + BANNER_TAIL;
}

// Registers a banner source for its scope; the previous one comes back also when an assertion ends the test.
class BannerSourceScope
{
public:
    explicit BannerSourceScope(DBGC::BannerSource source) : m_previous(DBGC::setBannerSource(source)) {}
    ~BannerSourceScope() { DBGC::setBannerSource(m_previous); }
    BannerSourceScope(const BannerSourceScope&) = delete;
    BannerSourceScope& operator=(const BannerSourceScope&) = delete;

private:
    DBGC::BannerSource m_previous;
};

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
    const BannerSourceScope probe([](DBGC::BannerInfo& info) {
        info.m_product = "Probe";
        info.m_bootLoaderVersion = "V0.00";
    });
    DBGC::DebugConsoleThread thread(0, "127.0.0.1");
    ASSERT_EQ(dbgctest::initializeThread(thread, "DebugConsole"), 0u);
    ASSERT_EQ(dbgctest::startThread(thread), 0u);
    ASSERT_EQ(thread.startEtherConsole(), 0u);
    TestClient client;
    ASSERT_TRUE(client.connectTo(thread.getTransport().getBoundPort()));
    ASSERT_TRUE(client.waitFor("Top>"));
    EXPECT_EQ(client.take(), banner("V0.00", "------", "------", "Probe") + "Top>");

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
        ASSERT_TRUE(rig.m_client.connectTo(rig.m_port));
        ASSERT_TRUE(rig.m_client.waitFor(BANNER_TAIL + "Top>")) << "cycle " << cycle;
        rig.m_client.take();
    }
}

// A peer that sends part of a line and shuts its sending side down is closed at once, also when the end arrives
// together with the bytes.
TEST(TcpConsole, APeerThatEndsItsStreamMidLineIsClosed)
{
    ConsoleRig rig;
    ASSERT_TRUE(rig.m_ready);
    {
        const vsocktest::PollTaskHold hold;
        ASSERT_TRUE(rig.m_client.send("half a li"));
        ASSERT_EQ(::shutdown(rig.m_client.descriptor(), SHUT_WR), 0);
        ASSERT_TRUE(vsocktest::waitAcknowledged(rig.m_client.descriptor()));
    }
    EXPECT_TRUE(rig.m_client.waitClosed(60000));
    EXPECT_TRUE(dbgctest::waitUntil([&] { return !rig.m_thread->getTransport().hasPeer(); }, 60000));
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

// 8 threads print 10 000 numbered lines each, with a peer that reads, one that never reads, and none. Every thread
// finishes and standard output gets every line in each thread's order; a reading peer gets whole lines only, in
// order (a full ring may drop whole lines), and a module's multi-line output arrives unbroken amid them.
TEST(TcpConsole, FloodOfPrintsWithAReadingPeerAStalledPeerAndNone)
{
    ConsoleRig rig;
    ASSERT_TRUE(rig.m_ready);
    DBGC::LowIOEtherServer& transport = rig.m_thread->getTransport();
    constexpr int THREADS = 8;
    constexpr int LINES = 10000;
    const std::string padding(64, '.');
    const size_t lineLength = 4 + 6 + padding.size() + 1; // "<", mode, thread, ":", number, padding, ">"
    // Lines of one mode as "<mode><thread>:<number>....>": each thread's numbers must rise; false on a broken line.
    auto checkLines = [&](const std::string& text, char mode, size_t* count) {
        std::istringstream lines(text);
        std::string line;
        int last[THREADS];
        std::fill(last, last + THREADS, -1);
        *count = 0;
        while (std::getline(lines, line)) {
            const size_t at = line.find(std::string("<") + mode);
            if (at == std::string::npos) {
                continue;
            }
            line = line.substr(at);
            const int thread = line.size() > 2 ? line[2] - '0' : -1;
            if (line.size() != lineLength || thread < 0 || thread >= THREADS || line[3] != ':' ||
                line.compare(10, padding.size(), padding) != 0 || line.back() != '>') {
                ADD_FAILURE() << "broken line: " << line;
                return false;
            }
            const int number = std::stoi(line.substr(4, 6));
            if (number <= last[thread]) {
                ADD_FAILURE() << "out of order: " << line;
                return false;
            }
            last[thread] = number;
            ++*count;
        }
        return true;
    };
    auto flood = [&](char mode, const std::function<void()>& meanwhile) {
        testing::internal::CaptureStdout();
        std::vector<std::thread> printers;
        for (int t = 0; t < THREADS; ++t) {
            printers.emplace_back([&, t] {
                for (int i = 0; i < LINES; ++i) {
                    dbgc_printf("<%c%d:%06d%s>\n", mode, t, i, padding.c_str());
                }
            });
        }
        meanwhile();
        for (std::thread& printer : printers) {
            printer.join();
        }
        const std::string out = testing::internal::GetCapturedStdout();
        size_t count = 0;
        EXPECT_TRUE(checkLines(out, mode, &count)) << mode;
        EXPECT_EQ(count, static_cast<size_t>(THREADS * LINES)) << mode;
    };

    // A reading peer, which also runs a command with multi-line output meanwhile.
    std::atomic<bool> printing{true};
    std::thread reader([&] {
        while (printing.load()) {
            rig.m_client.drainFor(20);
        }
    });
    flood('r', [&] { rig.m_client.send("/Thread tlist\r"); });
    printing = false;
    reader.join();
    ASSERT_TRUE(rig.m_client.waitFor("Top>"));
    rig.m_client.drainFor(200);
    const std::string received = rig.m_client.take();
    size_t arrived = 0;
    EXPECT_TRUE(checkLines(received, 'r', &arrived));
    EXPECT_GT(arrived, 0u);
    const size_t header = received.find("  [ ThreadName ] [TaskID]");
    ASSERT_NE(header, std::string::npos);
    // The header and its lines of one thread each, with no print between them: up to the prompt that follows,
    // every thread line comes before any print.
    std::istringstream block(received.substr(header));
    std::string line;
    std::getline(block, line);
    size_t entries = 0;
    bool printSeen = false;
    while (std::getline(block, line) && line.find("Top>") == std::string::npos) {
        if (line.compare(0, 2, "  ") == 0) {
            EXPECT_FALSE(printSeen) << "a print broke the thread list before: " << line;
            ++entries;
        } else {
            printSeen = true;
        }
    }
    EXPECT_GT(entries, 0u);

    // A peer that never reads: the ring fills, the peer is marked stalled and later lines skip it at once.
    rig.m_client.close();
    ASSERT_TRUE(dbgctest::waitUntil([&] { return !transport.hasPeer(); }));
    const int stalled = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    ::setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(rig.m_port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(stalled, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_TRUE(dbgctest::waitUntil([&] { return transport.hasPeer(); }));
    flood('s', [] {});
    // A drain that took bytes just before the last print may have cleared the mark: the next print that finds the
    // ring full sets it again.
    EXPECT_TRUE(dbgctest::waitUntil([&] {
        dbgc_printf("<stall probe%s>\n", padding.c_str());
        return transport.isStalled();
    }));

    // No peer at all.
    ::close(stalled);
    ASSERT_TRUE(dbgctest::waitUntil([&] { return !transport.hasPeer(); }));
    EXPECT_FALSE(transport.isStalled());
    flood('n', [] {});
}

} // namespace
