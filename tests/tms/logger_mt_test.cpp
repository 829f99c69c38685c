#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include "tms_LoggerFixture.h"

namespace {

using TMS::ThreadLogger;
using TMS::TMSMutex;

using tmstest::ThreadLoggerTest;

// The line is stored under the ring's lock and printed after it is released: while standard output is a
// pipe that nobody reads, the writer blocks in the print, yet readers of the ring go on.
TEST_F(ThreadLoggerTest, BlockedStdoutDoesNotHoldTheMutex)
{
    ASSERT_EQ(logger.prepare(&mutex, "Worker", 4), 0u);
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    std::fflush(stdout);
    int savedStdout = dup(STDOUT_FILENO);
    ASSERT_GE(savedStdout, 0);
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    // Fill the pipe so that the next write blocks.
    fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK);
    char chunk[4096] = {};
    while (write(pipeEnds[1], chunk, sizeof(chunk)) > 0) {
    }
    fcntl(pipeEnds[1], F_SETFL, 0);
    ASSERT_EQ(dup2(pipeEnds[1], STDOUT_FILENO), STDOUT_FILENO);

    std::atomic<bool> printed{false};
    std::thread writer([&] {
        logger.printf("blocked line\n");
        printed = true;
    });
    // Another thread must be able to read the stored line while the writer is blocked.
    bool storedWhileBlocked = false;
    auto reader = std::async(std::launch::async, [&] {
        while (logger.getCount() == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return !printed.load();
    });
    bool readerDone = reader.wait_for(std::chrono::seconds(5)) == std::future_status::ready;

    // Drain the pipe so the writer can finish, then restore standard output.
    fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
    while (!printed.load()) {
        while (read(pipeEnds[0], chunk, sizeof(chunk)) > 0) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    writer.join();
    dup2(savedStdout, STDOUT_FILENO);
    close(savedStdout);
    close(pipeEnds[0]);
    close(pipeEnds[1]);

    ASSERT_TRUE(readerDone);
    storedWhileBlocked = reader.get();
    EXPECT_TRUE(storedWhileBlocked);
    EXPECT_EQ(line(0), "blocked line\n");
}

} // namespace
