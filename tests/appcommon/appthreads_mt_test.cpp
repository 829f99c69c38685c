// The debug console thread's switch on "DebugState" and its banner from the product information, and the restart
// request, under a test root thread.
#include <gtest/gtest.h>

#include "dbgc_TestSupport.h"
#include "lpc_ThreadCommon.h"
#include "pyrite_DebugConsoleThread.h"
#include "pyrite_ProductInfo.h"
#include "tms_SystemThread.h"
#include "tms_TestSupport.h"
#include "tms_ThreadTestSupport.h"

namespace {

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new dbgctest::Environment);

using tmstest::initializeThread;
using tmstest::waitUntil;

// A child that commits the system-information value a message names ("Name", "Value").
class Reporter : public tmstest::RecordingThread
{
public:
    Reporter()
    {
        m_messageHook = [this](const TMS::AbstractMessage& message) {
            setSystemInfo(message.getValue("Name").getString(), 0, KVariant(message.getValue("Value").getUInt()));
            commitSystemInfo();
        };
    }

    void report(const char* name, u32 value)
    {
        TMS::AbstractMessage message;
        message.initialize(TMS::MESSAGE_KIND_USER, 0);
        message.setString("Name", name);
        message.setUInt("Value", value);
        ASSERT_EQ(sendMessageWithWaiting(message), 0u);
    }
};

TEST(DebugConsoleThread, DebugStateSwitchesTheTcpConsole)
{
    ASSERT_EQ(PyriteProductInfo::getInstance().setVersion(PyriteProductInfo::VERSION_PROGRAM, "V1.23"), 0u);
    TMS::SystemThread root(1);
    PYRITE::PyriteDebugConsoleThread console(0);
    Reporter reporter;
    ASSERT_EQ(initializeThread(root, "Root"), 0u);
    ASSERT_EQ(registerSystemInfoItems(&root), 0u);
    ASSERT_EQ(initializeThread(console, "DebugConsole", 0, 1), 0u);
    ASSERT_EQ(initializeThread(reporter, "Reporter", 0, 2), 0u);
    ASSERT_EQ(root.addChild(&console), 0u);
    ASSERT_EQ(root.addChild(&reporter), 0u);
    ASSERT_EQ(root.start(TMS::AbstractMessage::emptyFields()), 0u);
    ASSERT_TRUE(waitUntil([&] { return root.getChildState() == TMS::SystemThread::CHILDREN_STARTED; }));

    auto port = [&] { return console.getTransport().getBoundPort(); };
    auto expectBanner = [&] {
        dbgctest::TestClient client;
        ASSERT_TRUE(client.connectTo(port()));
        EXPECT_TRUE(client.waitFor("\n== KORVAN --- Debug Monitor\n==\n== Boot Loader Version : ------\n"
                                   "== Kernel Version      : ------\n== Program Version     : V1.23\n"));
    };
    // The first report of "DebugState" (0) opens the console.
    ASSERT_TRUE(waitUntil([&] { return port() != 0; }));
    expectBanner();
    reporter.report("DebugState", 1);
    EXPECT_TRUE(waitUntil([&] { return port() == 0; }));
    reporter.report("DebugState", 0);
    ASSERT_TRUE(waitUntil([&] { return port() != 0; }));
    expectBanner();
    root.release();
}

TEST(RestartRequest, EndsSystemWithEndCodeOne)
{
    TMS::SystemThread system(1);
    tmstest::RecordingThread requester;
    requester.m_messageHook = [](const TMS::AbstractMessage&) { EXPECT_EQ(LPC::requestRestartWithInitialize(), 0u); };
    ASSERT_EQ(initializeThread(system, "System"), 0u);
    ASSERT_EQ(initializeThread(requester, "Requester", 0, 1), 0u);
    ASSERT_EQ(system.addChild(&requester), 0u);
    ASSERT_EQ(system.start(TMS::AbstractMessage::emptyFields()), 0u);
    ASSERT_TRUE(waitUntil([&] { return requester.getStatus() == TMS::STATUS_RUN; }));
    ASSERT_EQ(tmstest::userMessage("restart").sendTo("Requester"), 0u);
    EXPECT_EQ(system.waitForExit(), 1u);
}

} // namespace
