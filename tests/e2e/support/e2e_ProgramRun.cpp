#include "e2e_ProgramRun.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "dbgc_TestSupport.h"

extern char** environ;

namespace e2etest {

namespace fs = std::filesystem;

namespace {

constexpr const char* SANITIZER_MARKS[] = {"Sanitizer", "runtime error:"};

std::string readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The binary is linked when the file system allows it (it is large), else copied.
bool copyProgramFolder(const fs::path& from, const fs::path& to)
{
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(from, error)) {
        const fs::path target = to / entry.path().filename();
        if (entry.is_regular_file() && (entry.status().permissions() & fs::perms::owner_exec) != fs::perms::none) {
            fs::create_hard_link(entry.path(), target, error);
            if (!error) {
                continue;
            }
        }
        error.clear();
        fs::copy(entry.path(), target, fs::copy_options::recursive, error);
        if (error) {
            return false;
        }
    }
    return !error;
}

// True when a listener could bind 127.0.0.1:port now, as the program's console does (with SO_REUSEADDR, so
// connections in TIME_WAIT do not stand in the way).
bool portBindable(u16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const int on = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bound = ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) == 0 &&
                       ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound;
}

// The lines of the kernel's TCP table whose local port is port: who holds it when the console cannot open.
std::string portHolders(u16 port)
{
    char suffix[8];
    std::snprintf(suffix, sizeof(suffix), ":%04X ", port);
    std::ifstream in("/proc/net/tcp");
    std::string line;
    std::string found;
    while (std::getline(in, line)) {
        const std::size_t local = line.find(": ");
        if (local != std::string::npos && line.find(suffix, local + 2) == local + 2 + 8) {
            found += line + "\n";
        }
    }
    return found;
}

} // namespace

ProgramRun::ProgramRun(std::vector<std::string> arguments) : m_arguments(std::move(arguments)) {}

ProgramRun::~ProgramRun()
{
    if (m_pid > 0 && !m_reaped) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
    if (m_folder.empty()) {
        return;
    }
    const std::string captured = output() + errors();
    for (const char* mark : SANITIZER_MARKS) {
        EXPECT_EQ(captured.find(mark), std::string::npos) << "sanitizer report of the program:\n" << captured;
    }
    std::error_code error;
    fs::remove_all(m_folder, error);
}

bool ProgramRun::start()
{
    // Another process of the machine may hold the console port for a while (a connection from it as an ephemeral
    // port): the program would run without its console. Such a connection that has ended stays in TIME_WAIT for a
    // minute, and a listener cannot take the port before then.
    if (!dbgctest::waitUntil([] { return portBindable(CONSOLE_PORT); }, 90000)) {
        ADD_FAILURE() << "port " << CONSOLE_PORT << " stays in use:\n" << portHolders(CONSOLE_PORT);
        return false;
    }
    const fs::path program = VD_PROGRAM_PATH;
    m_folder = (fs::temp_directory_path() / "programrun-XXXXXX").string();
    if (::mkdtemp(m_folder.data()) == nullptr || !copyProgramFolder(program.parent_path(), m_folder)) {
        ADD_FAILURE() << "cannot copy " << program.parent_path() << " to " << m_folder;
        return false;
    }
    const std::string binary = m_folder + "/" + program.filename().string();
    std::vector<std::string> texts = {binary};
    texts.insert(texts.end(), m_arguments.begin(), m_arguments.end());
    std::vector<char*> argv;
    for (std::string& text : texts) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, m_folder.c_str());
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (m_folder + "/stdout.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (m_folder + "/stderr.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    m_startTime = Clock::now();
    const int failed = ::posix_spawn(&m_pid, binary.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        m_pid = -1;
        ADD_FAILURE() << "cannot start " << binary;
        return false;
    }
    return true;
}

std::optional<int> ProgramRun::waitForExit(int timeoutMs)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_pid > 0 && !m_reaped) {
        int status = 0;
        const pid_t got = ::waitpid(m_pid, &status, WNOHANG);
        if (got == m_pid) {
            m_reaped = true;
            m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return m_reaped ? std::optional<int>(m_exitCode) : std::nullopt;
}

std::string ProgramRun::output() const
{
    return readWhole(m_folder + "/stdout.txt");
}

bool ProgramRun::ownsListener(u16 port) const
{
    char address[16];
    std::snprintf(address, sizeof(address), "0100007F:%04X", port);
    const auto listeners = dbgctest::tcpListeners("/proc/net/tcp", port);
    const auto found = listeners.find(address);
    if (m_pid <= 0 || found == listeners.end()) {
        return false;
    }
    const std::string socket = "socket:[" + found->second + "]";
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc/" + std::to_string(m_pid) + "/fd", error)) {
        if (fs::read_symlink(entry.path(), error).string() == socket) {
            return true;
        }
    }
    return false;
}

std::string ProgramRun::errors() const
{
    return readWhole(m_folder + "/stderr.txt");
}

bool openConsole(const ProgramRun& run, dbgctest::TestClient& client, int timeoutMs)
{
    static constexpr const char* CONSOLE_FAILED = "Cannot initialize 'DebugConsole for TCP Server'";
    bool failed = false;
    const bool listening = dbgctest::waitUntil(
        [&] {
            failed = run.output().find(CONSOLE_FAILED) != std::string::npos;
            return failed || run.ownsListener(CONSOLE_PORT);
        },
        timeoutMs);
    if (!listening || failed) {
        ADD_FAILURE() << "no console on port " << CONSOLE_PORT << "; the port's holders:\n"
                      << portHolders(CONSOLE_PORT);
        return false;
    }
    return client.connectTo(CONSOLE_PORT) && client.waitFor("Top>");
}

} // namespace e2etest
