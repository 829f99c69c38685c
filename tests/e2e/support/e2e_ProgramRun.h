// One run of the program binary for the binary tests: the program folder of the build (the binary and its
// layout) is copied into a fresh temporary folder, and the program is started there headless (no editor) with
// that folder as its working directory. Standard output and error are captured; a sanitizer report in either
// fails the test. Runs share the debug console's port 50002, so their suites run while no other test runs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "klib_Types.h"

namespace dbgctest {
class TestClient;
}

namespace e2etest {

constexpr u16 CONSOLE_PORT = 50002;

class ProgramRun
{
public:
    using Clock = std::chrono::steady_clock;

    explicit ProgramRun(std::vector<std::string> arguments = {});
    // Kills a program still running, checks the captured output for sanitizer reports and removes the folder.
    ~ProgramRun();

    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // Copies the program folder and starts the program: false (with a test failure) when either fails.
    bool start();
    // The exit code once the program has ended within the time; -1 when a signal ended it; nothing when it still
    // runs after the time.
    std::optional<int> waitForExit(int timeoutMs);
    // The captured standard output and standard error so far.
    std::string output() const;
    std::string errors() const;
    // True when the program holds the TCP listener on 127.0.0.1 at port.
    bool ownsListener(u16 port) const;

    pid_t pid() const { return m_pid; }
    const std::string& folder() const { return m_folder; }
    // The moment just before the program was started.
    Clock::time_point startTime() const { return m_startTime; }

private:
    std::vector<std::string> m_arguments;
    std::string m_folder;
    pid_t m_pid = -1;
    bool m_reaped = false;
    int m_exitCode = -1;
    Clock::time_point m_startTime;
};

// Connects the client to the program's debug console once the program listens on its port (never to another
// program that may hold the port on a shared machine) and reads the banner up to the first prompt.
bool openConsole(const ProgramRun& run, dbgctest::TestClient& client, int timeoutMs = 30000);

} // namespace e2etest
