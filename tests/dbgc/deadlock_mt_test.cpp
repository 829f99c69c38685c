// Debug prints from several threads while the console runs multi-line commands: nothing may hang.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "dbgc_Print.h"
#include "dbgc_TestSupport.h"

namespace {

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new dbgctest::Environment());

// Ends the process with a failure when the test has not finished in time (a hang cannot be unwound).
class Watchdog
{
public:
    explicit Watchdog(int seconds)
        : m_thread([this, seconds] {
              const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
              while (!m_done.load() && std::chrono::steady_clock::now() < deadline) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
              }
              if (!m_done.load()) {
                  std::fprintf(stderr, "watchdog: the console or the debug print hangs\n");
                  std::_Exit(1);
              }
          })
    {
    }
    ~Watchdog()
    {
        m_done = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

TEST(DebugPrintLockOrder, PrintersAndCommandsForTenSeconds)
{
    Watchdog watchdog(60);
    dbgctest::ConsoleRig rig;
    ASSERT_TRUE(rig.m_ready);

    // Standard output of the prints goes to /dev/null for the run.
    std::fflush(stdout);
    const int savedStdout = ::dup(1);
    const int devNull = ::open("/dev/null", O_WRONLY);
    ASSERT_GE(devNull, 0);
    ::dup2(devNull, 1);

    std::atomic<bool> stop{false};
    std::atomic<u64> printed{0};
    std::vector<std::thread> printers;
    for (int t = 0; t < 4; ++t) {
        printers.emplace_back([&, t] {
            u32 n = 0;
            while (!stop.load()) {
                if (dbgc_printf("[i] printer %d line %u ............................\n", t, n++) != 0) {
                    ++printed;
                }
                if (n % 64 == 0) {
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
            }
        });
    }

    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    // Under this flood a write that finds the send stream full for its ten attempts is dropped, so a round may
    // lose its answer; the console must keep answering all the same.
    u32 rounds = 0;
    u32 answered = 0;
    while (std::chrono::steady_clock::now() < end) {
        rig.m_client.send("/Top help\r");
        answered += rig.m_client.waitFor("PDBコマンド\n", 2000) ? 1 : 0;
        rig.m_client.take();
        rig.m_client.send("/Thread tlist\r");
        answered += rig.m_client.waitFor("   RUN\n", 2000) ? 1 : 0;
        rig.m_client.take();
        ++rounds;
    }
    stop = true;
    for (std::thread& printer : printers) {
        printer.join();
    }
    std::fflush(stdout);
    ::dup2(savedStdout, 1);
    ::close(savedStdout);
    ::close(devNull);

    // How many rounds fit in the ten seconds depends on the machine's load; what counts is that none hung and
    // that answers kept coming.
    EXPECT_GE(rounds, 3u);
    EXPECT_GT(answered, 0u);
    // Once the printers are gone every answer arrives whole. The console may still be sending what they queued
    // (slowly on a loaded machine): read until the link stays quiet.
    const auto quietDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        rig.m_client.take();
        rig.m_client.drainFor(300);
        if (rig.m_client.received().empty() || std::chrono::steady_clock::now() > quietDeadline) {
            break;
        }
    }
    rig.m_client.take();
    EXPECT_EQ(rig.command("/Thread help"), "Thread Command help -----------------\n"
                                           " (STA_IDX:start index, END_IDX:end index)\n"
                                           "help | ?                                                :help\n"
                                           "tlist                                                   :thread list\n"
                                           "tlog  {ThreadName|TaskID} [STA_IDX(dec)] [END_IDX(dec)] :thread log\n"
                                           "tlogc {ThreadName|TaskID}                               :thread log clear\n"
                                           "\n");
    EXPECT_GT(printed.load(), 1000u);
}

} // namespace
