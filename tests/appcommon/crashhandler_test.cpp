// The crash handler, in child processes that re-execute this binary (so the sanitizers' own handling of the
// fatal signals can be switched off for them).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "fsw_TestSupport.h"
#include "pyrite_CrashHandler.h"
#include "tms_TestSupport.h"
#include "tms_ThreadRepository.h"
#include "tms_ThreadTestSupport.h"

namespace {

int* volatile g_nowhere = nullptr;
volatile bool g_deeper = true;
char g_parkedMarker[512];

__attribute__((noinline, no_sanitize("address", "undefined"))) void writeNull()
{
    *g_nowhere = 1;
}

__attribute__((noinline)) int recurse(int depth)
{
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    return g_deeper ? recurse(depth + 1) + frame[0] : 0;
}

[[noreturn]] void waitForever()
{
    for (;;) {
        ::pause();
    }
}

// Second-crash handler of the overlap case: leaves a marker, then parks like the program's.
void markAndPark()
{
    const int fd = ::open(g_parkedMarker, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        ::close(fd);
    }
    pumpMessagesForever();
}

// The scheduler state of a thread of this process ('S': asleep, as in a blocked write), or 0.
char threadState(long tid)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t name = line.rfind(')');
    return name != std::string::npos && name + 2 < line.size() ? line[name + 2] : '\0';
}

// Holds a crash handler in its report: the dump path becomes a pipe that is full until the test reads it.
int fullPipeAt(const std::string& path)
{
    ::unlink(path.c_str());
    if (::mkfifo(path.c_str(), 0644) != 0) {
        std::abort();
    }
    const int held = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
    ::fcntl(held, F_SETPIPE_SZ, 4096);
    const std::string fill(4096, 'x');
    while (::write(held, fill.data(), fill.size()) > 0) {
    }
    return held;
}

std::string escapedForRegex(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (std::string_view(".[]{}()*+?|^$\\").find(c) != std::string_view::npos) {
            out += '\\';
        }
        out += c;
    }
    return out;
}

class CrashHandlerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        ::setenv("ASAN_OPTIONS",
                 "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:use_sigaltstack=0", 1);
        // The child runs this again: it takes over the parent's folder through the environment.
        if (const char* inherited = std::getenv("VD_CRASH_TEST_DIR")) {
            m_dir = inherited;
        } else {
            m_dir = (std::filesystem::temp_directory_path() / "crashtest-XXXXXX").string();
            ASSERT_NE(::mkdtemp(m_dir.data()), nullptr);
            ::setenv("VD_CRASH_TEST_DIR", m_dir.c_str(), 1);
            m_owner = true;
            ASSERT_EQ(::mkdir((m_dir + "/userdata").c_str(), 0755), 0);
            ASSERT_TRUE(fswtest::writeFile(dumpPath(), oldReport()));
        }
    }
    void TearDown() override
    {
        if (m_owner) {
            ::unsetenv("VD_CRASH_TEST_DIR");
            std::filesystem::remove_all(m_dir);
        }
    }

    std::string dumpPath() const { return m_dir + "/userdata/virtualVEXA-D.dmp"; }
    // Longer than any new report, so that a kept tail would show.
    static std::string oldReport()
    {
        std::string text;
        for (int i = 0; i < 4096; ++i) {
            text += "old report\n";
        }
        return text;
    }
    std::string message() const
    {
        return "virtualVEXA-D: A software exception has been detected.\n"
               "This application will close after pressing OK.\n"
               "System dump was created in the following path:\n[" +
               dumpPath() + "]";
    }
    // The message and nothing else on standard error.
    std::string onlyMessage() const { return "^" + escapedForRegex(message()) + "$"; }
    std::string report() const { return fswtest::readFile(dumpPath()).value_or(""); }

    std::string m_dir;
    bool m_owner = false;
};

TEST_F(CrashHandlerTest, NullWriteReplacesTheReport)
{
    EXPECT_EXIT(
        {
            installCrashHandler(m_dir.c_str());
            writeNull();
        },
        ::testing::ExitedWithCode(1), onlyMessage());
    const std::string text = report();
    EXPECT_EQ(text.find("old report"), std::string::npos);
    EXPECT_NE(
        text.find("virtualVEXA-D crash report\nsignal: 11 (SIGSEGV)\ncode: 1\naddress: 0x0000000000000000\npid: "),
        std::string::npos)
        << text;
    EXPECT_NE(text.find("\nbacktrace:\n"), std::string::npos) << text;
}

TEST_F(CrashHandlerTest, ExceptionEscapingAThreadAndStackOverflowOnAThread)
{
    const struct
    {
        std::function<void()> body;
        const char* signal;
    } cases[] = {
        {[] { throw std::runtime_error("escaped"); }, "signal: 6 (SIGABRT)"},
        {[] { recurse(0); }, "signal: 11 (SIGSEGV)"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(fswtest::writeFile(dumpPath(), oldReport()));
        // The runtime's own line about the escaping exception may come first.
        EXPECT_EXIT(
            {
                installCrashHandler(m_dir.c_str());
                TMS::ThreadRepository::initialize();
                static tmstest::RecordingThread thread;
                thread.m_initializeHook = c.body;
                tmstest::initializeThread(thread, "Crashing");
                waitForever();
            },
            ::testing::ExitedWithCode(1), escapedForRegex(message()) + "$");
        const std::string text = report();
        EXPECT_EQ(text.find("old report"), std::string::npos) << c.signal;
        EXPECT_NE(text.find(c.signal), std::string::npos) << text;
    }
}

TEST_F(CrashHandlerTest, WithoutUserdataOnlyTheMessage)
{
    const std::string bare = m_dir + "/bare";
    if (m_owner) {
        ASSERT_EQ(::mkdir(bare.c_str(), 0755), 0);
    }
    const std::string expected = "^" +
                                 escapedForRegex("virtualVEXA-D: A software exception has been detected.\n"
                                                 "This application will close after pressing OK.\n"
                                                 "System dump was created in the following path:\n[" +
                                                 bare + "/userdata/virtualVEXA-D.dmp]") +
                                 "$";
    EXPECT_EXIT(
        {
            installCrashHandler(bare.c_str());
            writeNull();
        },
        ::testing::ExitedWithCode(1), expected);
    EXPECT_EQ(fswtest::listNames(bare).size(), 0u);
}

TEST_F(CrashHandlerTest, PathThatCannotBeBuiltLeavesTheSignalItsDefault)
{
    char path[CRASH_DUMP_PATH_SIZE];
    ASSERT_EQ(getCrashDumpPath(path, sizeof(path)), 0u);
    EXPECT_EQ(std::string(path),
              std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/userdata/virtualVEXA-D.dmp");
    EXPECT_EQ(getCrashDumpPath(path, 8), 0x80000000u);

    const std::string tooLong = m_dir + "/" + std::string(CRASH_DUMP_PATH_SIZE, 'd');
    EXPECT_EXIT(
        {
            if (installCrashHandler(tooLong.c_str()) == 0x80000000u) {
                writeNull();
            }
        },
        ::testing::KilledBySignal(SIGSEGV), "^$");
}

// The first thread is held in the handler (the report goes to a full pipe) until the second one has parked;
// a second report or message would need the second thread to go on.
TEST_F(CrashHandlerTest, TwoThreadsCrashingTogetherGiveOneReportAndOneMessage)
{
    const std::string marker = m_dir + "/parked";
    EXPECT_EXIT(
        {
            std::snprintf(g_parkedMarker, sizeof(g_parkedMarker), "%s", marker.c_str());
            const int held = fullPipeAt(dumpPath());
            installCrashHandler(m_dir.c_str(), &markAndPark);
            std::thread drainer([&] {
                tmstest::waitUntil([&] { return ::access(marker.c_str(), F_OK) == 0; }, 10000);
                char buffer[4096];
                for (;;) {
                    if (::read(held, buffer, sizeof(buffer)) <= 0) {
                        ::usleep(1000);
                    }
                }
            });
            std::atomic<int> ready{0};
            auto crash = [&] {
                ready.fetch_add(1);
                while (ready.load() < 2) {
                }
                writeNull();
            };
            std::thread first(crash);
            std::thread second(crash);
            first.join();
            second.join();
            drainer.join();
        },
        ::testing::ExitedWithCode(1), onlyMessage());
    EXPECT_TRUE(fswtest::exists(marker));
}

// A different fatal signal on the thread that is writing the report (held on a full pipe) ends the process with
// exit code 1; taken for a second crashing thread, it would park the only thread that can end the process.
TEST_F(CrashHandlerTest, AnotherSignalOnTheHandlingThreadEndsTheProcess)
{
    EXPECT_EXIT(
        {
            (void)fullPipeAt(dumpPath());
            installCrashHandler(m_dir.c_str(), [] { ::_exit(3); });
            std::atomic<long> crashing{0};
            std::thread first([&] {
                crashing.store(::syscall(SYS_gettid));
                writeNull();
            });
            if (!tmstest::waitUntil([&] { return crashing.load() != 0 && threadState(crashing.load()) == 'S'; },
                                    60000)) {
                ::_exit(4);
            }
            ::syscall(SYS_tgkill, ::getpid(), crashing.load(), SIGFPE);
            first.join();
        },
        ::testing::ExitedWithCode(1), "^$");
}

} // namespace
