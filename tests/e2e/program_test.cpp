// The program binary: its debug console on 127.0.0.1:50002, its orderly ends and the delayed start.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "dbgc_TestSupport.h"
#include "e2e_ProgramRun.h"

namespace {

using e2etest::openConsole;
using e2etest::ProgramRun;

TEST(Program, ConsoleBannerAndShutdown)
{
    ProgramRun run;
    ASSERT_TRUE(run.start());
    dbgctest::TestClient client;
    ASSERT_TRUE(openConsole(run, client)) << run.output();
    EXPECT_NE(client.received().find("== KORVAN ZethImage Debug Monitor\n"), std::string::npos) << client.received();
    const auto listeners = dbgctest::tcpListeners("/proc/net/tcp", e2etest::CONSOLE_PORT);
    EXPECT_EQ(listeners.size(), 1u);
    EXPECT_EQ(listeners.count("0100007F:C352"), 1u);
    EXPECT_TRUE(dbgctest::tcpListeners("/proc/net/tcp6", e2etest::CONSOLE_PORT).empty());
    ASSERT_TRUE(client.send("shutdown\r"));
    EXPECT_EQ(run.waitForExit(5000), 0) << run.output();
}

TEST(Program, ShutdownLeavesBothGenerationsOfTheCurrentMemory)
{
    ProgramRun run;
    ASSERT_TRUE(run.start());
    dbgctest::TestClient client;
    ASSERT_TRUE(openConsole(run, client)) << run.output();
    // The folder "Backup" is made while the configuration is built.
    const std::string userdata = run.folder() + "/userdata";
    ASSERT_TRUE(dbgctest::waitUntil([&] { return ::access((userdata + "/Backup").c_str(), F_OK) == 0; }, 30000));
    ASSERT_TRUE(client.send("shutdown\r"));
    EXPECT_EQ(run.waitForExit(10000), 0) << run.output();
    EXPECT_EQ(::access((userdata + "/Current/CurrentBackupFile.bup").c_str(), F_OK), 0);
    EXPECT_EQ(::access((userdata + "/Current/CurrentBackupFile.bup.old").c_str(), F_OK), 0);
}

TEST(Program, StopSignalsEndItInOrder)
{
    for (int signal : {SIGTERM, SIGINT}) {
        ProgramRun run;
        ASSERT_TRUE(run.start());
        dbgctest::TestClient client;
        ASSERT_TRUE(openConsole(run, client)) << run.output();
        ASSERT_EQ(::kill(run.pid(), signal), 0);
        EXPECT_EQ(run.waitForExit(10000), 0) << signal;
        const std::string output = run.output();
        EXPECT_NE(output.find("received, closing.\n"), std::string::npos) << output;
        EXPECT_NE(output.find("[i] SystemThread[System]::releaseChildThreads - (stage = 1)\n"), std::string::npos);
    }
}

TEST(Program, DelayedStartWaitsOneSecond)
{
    ProgramRun run({"delayedStart"});
    ASSERT_TRUE(run.start());
    dbgctest::TestClient client;
    ASSERT_TRUE(openConsole(run, client)) << run.output();
    EXPECT_GE(ProgramRun::Clock::now() - run.startTime(), std::chrono::seconds(1));
    ASSERT_TRUE(client.send("shutdown\r"));
    EXPECT_EQ(run.waitForExit(5000), 0);
}

} // namespace
