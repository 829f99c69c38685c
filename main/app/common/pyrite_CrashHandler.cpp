#include "pyrite_CrashHandler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "os_Memory.h"
#include "os_Tasks.h"
#include "pyrite_Result.h"

namespace {

constexpr const char* DUMP_SUFFIX = "/userdata/virtualVEXA-D.dmp";
constexpr const char* MESSAGE_FORMAT = "%s: A software exception has been detected.\n"
                                       "This application will close after pressing OK.\n"
                                       "System dump was created in the following path:\n"
                                       "[%s]";
constexpr int HANDLED_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t SIGNAL_STACK_SIZE = 256 * 1024;
constexpr int BACKTRACE_DEPTH = 64;

// Built at installation, read by the handler.
struct CrashState
{
    // The kernel id of the thread that handles the crash; 0 before the first fatal signal.
    std::atomic<long> m_handlingThread{0};
    bool m_pathReady = false;
    char m_path[CRASH_DUMP_PATH_SIZE] = {};
    char m_message[CRASH_DUMP_PATH_SIZE] = {};
    size_t m_messageLength = 0;
    SecondCrashHandler m_secondHandler = nullptr;
};

CrashState g_crash;

// The alternate signal stack of one thread; the previous one is restored when the thread ends.
struct SignalStack
{
    void* m_memory = nullptr;
    stack_t m_previous = {};

    ~SignalStack()
    {
        if (m_memory == nullptr) {
            return;
        }
        if ((m_previous.ss_flags & SS_DISABLE) != 0) {
            stack_t disabled = {};
            disabled.ss_flags = SS_DISABLE;
            sigaltstack(&disabled, nullptr);
        } else {
            sigaltstack(&m_previous, nullptr);
        }
        (void)ossupport::releasePages(m_memory, SIGNAL_STACK_SIZE);
    }
};

thread_local SignalStack t_signalStack;

// Text building without allocation, for the handler.
class ReportLine
{
public:
    void text(const char* text)
    {
        while (*text != '\0' && m_length < sizeof(m_buffer)) {
            m_buffer[m_length++] = *text++;
        }
    }
    void decimal(u64 value)
    {
        char digits[24];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (count > 0 && m_length < sizeof(m_buffer)) {
            m_buffer[m_length++] = digits[--count];
        }
    }
    void hex(u64 value)
    {
        text("0x");
        for (int shift = 60; shift >= 0; shift -= 4) {
            if (m_length < sizeof(m_buffer)) {
                m_buffer[m_length++] = "0123456789abcdef"[(value >> shift) & 0xF];
            }
        }
    }
    void writeTo(int fd)
    {
        size_t done = 0;
        while (done < m_length) {
            const ssize_t put = write(fd, m_buffer + done, m_length - done);
            if (put <= 0) {
                return;
            }
            done += static_cast<size_t>(put);
        }
    }

private:
    char m_buffer[512];
    size_t m_length = 0;
};

const char* signalName(int signal)
{
    switch (signal) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    case SIGABRT:
        return "SIGABRT";
    default:
        return "?";
    }
}

void writeReport(int fd, int signal, const siginfo_t* info)
{
    ReportLine report;
    report.text(CRASH_PROGRAM_NAME);
    report.text(" crash report\nsignal: ");
    report.decimal(static_cast<u64>(signal));
    report.text(" (");
    report.text(signalName(signal));
    report.text(")\ncode: ");
    report.decimal(static_cast<u64>(static_cast<u32>(info != nullptr ? info->si_code : 0)));
    report.text("\naddress: ");
    report.hex(reinterpret_cast<uintptr_t>(info != nullptr ? info->si_addr : nullptr));
    report.text("\npid: ");
    report.decimal(static_cast<u64>(getpid()));
    report.text("\ntid: ");
    report.decimal(static_cast<u64>(syscall(SYS_gettid)));
    report.text("\nbacktrace:\n");
    report.writeTo(fd);
    void* frames[BACKTRACE_DEPTH];
    const int depth = backtrace(frames, BACKTRACE_DEPTH);
    backtrace_symbols_fd(frames, depth, fd);
}

// path = folder + DUMP_SUFFIX within the 260-byte limit.
bool buildDumpPath(char* path, u32 size, const char* folder)
{
    const size_t length = std::strlen(folder) + std::strlen(DUMP_SUFFIX);
    if (length >= CRASH_DUMP_PATH_SIZE || length >= size) {
        return false;
    }
    std::snprintf(path, size, "%s%s", folder, DUMP_SUFFIX);
    return true;
}

// The folder of the executable (everything before the last "/").
bool executableFolder(char* folder, size_t size)
{
    const ssize_t length = readlink("/proc/self/exe", folder, size);
    if (length <= 0 || static_cast<size_t>(length) >= size) {
        return false;
    }
    folder[length] = '\0';
    char* slash = std::strrchr(folder, '/');
    if (slash == nullptr) {
        return false;
    }
    *slash = '\0';
    return true;
}

void restoreDefaultAndRaise(int signal)
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    // Blocked while the handler runs: delivered with the default action once it returns.
    raise(signal);
}

} // namespace

void installSignalStack()
{
    if (t_signalStack.m_memory != nullptr) {
        return;
    }
    void* memory = ossupport::reservePages(SIGNAL_STACK_SIZE);
    if (memory == nullptr) {
        return;
    }
    stack_t stack = {};
    stack.ss_sp = memory;
    stack.ss_size = SIGNAL_STACK_SIZE;
    stack_t previous = {};
    if (sigaltstack(&stack, &previous) != 0) {
        (void)ossupport::releasePages(memory, SIGNAL_STACK_SIZE);
        return;
    }
    t_signalStack.m_memory = memory;
    t_signalStack.m_previous = previous;
}

u32 getCrashDumpPath(char* buffer, u32 size)
{
    char folder[CRASH_DUMP_PATH_SIZE];
    if (buffer == nullptr || !executableFolder(folder, sizeof(folder)) || !buildDumpPath(buffer, size, folder)) {
        return PYRITE::PYRITE_E_FAILED;
    }
    return PYRITE::PYRITE_OK;
}

u32 installCrashHandler(const char* executableFolderOverride, SecondCrashHandler secondHandler)
{
    g_crash.m_secondHandler = secondHandler;
    if (executableFolderOverride != nullptr) {
        g_crash.m_pathReady = buildDumpPath(g_crash.m_path, sizeof(g_crash.m_path), executableFolderOverride);
    } else {
        g_crash.m_pathReady = getCrashDumpPath(g_crash.m_path, sizeof(g_crash.m_path)) == PYRITE::PYRITE_OK;
    }
    if (g_crash.m_pathReady) {
        const int length = std::snprintf(g_crash.m_message, sizeof(g_crash.m_message), MESSAGE_FORMAT,
                                         CRASH_PROGRAM_NAME, g_crash.m_path);
        g_crash.m_messageLength = std::min(static_cast<size_t>(length > 0 ? length : 0), sizeof(g_crash.m_message) - 1);
    }
    // Loads what backtrace needs now rather than in the handler.
    void* frame = nullptr;
    backtrace(&frame, 1);

    installSignalStack();
    ossupport::setThreadStartHook(&installSignalStack);

    struct sigaction action = {};
    action.sa_sigaction = &writeCrashDump;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : HANDLED_SIGNALS) {
        sigaction(signal, &action, nullptr);
    }
    return g_crash.m_pathReady ? PYRITE::PYRITE_OK : PYRITE::PYRITE_E_FAILED;
}

void pumpMessagesForever()
{
    sigset_t all;
    sigfillset(&all);
    for (;;) {
        sigsuspend(&all);
    }
}

void writeCrashDump(int signal, siginfo_t* info, void*)
{
    const long self = syscall(SYS_gettid);
    long handling = 0;
    if (!g_crash.m_handlingThread.compare_exchange_strong(handling, self, std::memory_order_acq_rel)) {
        if (handling == self) {
            // Another fatal signal while this thread handles the crash: parking would hang the process, and
            // starting over would truncate the report. What was written stays.
            _exit(1);
        }
        if (g_crash.m_secondHandler != nullptr) {
            g_crash.m_secondHandler();
        }
    }
    if (!g_crash.m_pathReady) {
        restoreDefaultAndRaise(signal);
        return;
    }
    const int fd = open(g_crash.m_path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        writeReport(fd, signal, info);
        close(fd);
    }
    size_t done = 0;
    while (done < g_crash.m_messageLength) {
        const ssize_t put = write(STDERR_FILENO, g_crash.m_message + done, g_crash.m_messageLength - done);
        if (put <= 0) {
            break;
        }
        done += static_cast<size_t>(put);
    }
    _exit(1);
}
