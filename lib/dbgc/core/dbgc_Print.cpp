#include "dbgc_Print.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "dbgc_LowIO.h"
#include "dbgc_Result.h"
#include "os_Tasks.h"

namespace DBGC {

KLIB::KVector<IDebugConsoleLowIO*> gLowIOList(MAX_LOW_IO, KLIB::KAllocator("DBGC::gLowIOList", 0));

namespace {

inline void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// "DBGC": a count-1, non-recursive lock on a futex word of its own: 0 free, 1 taken, 2 taken with sleepers.
// A taker spins briefly before sleeping (a print holds it for a few microseconds), and a release makes a system
// call only when someone sleeps.
class PrintLock
{
public:
    void lock()
    {
        u32 state = FREE;
        if (m_word.compare_exchange_strong(state, TAKEN, std::memory_order_acquire, std::memory_order_relaxed)) {
            return;
        }
        for (int spin = 0; spin < SPIN_LIMIT; ++spin) {
            cpuRelax();
            state = m_word.load(std::memory_order_relaxed);
            if (state == FREE &&
                m_word.compare_exchange_weak(state, TAKEN, std::memory_order_acquire, std::memory_order_relaxed)) {
                return;
            }
        }
        // Announce a sleeper; whoever takes the word from here on leaves it at 2, so no release misses a wake.
        while (m_word.exchange(SLEEPERS, std::memory_order_acquire) != FREE) {
            ::syscall(SYS_futex, reinterpret_cast<u32*>(&m_word), FUTEX_WAIT_PRIVATE, SLEEPERS, nullptr, nullptr, 0);
        }
    }

    void unlock()
    {
        if (m_word.exchange(FREE, std::memory_order_release) == SLEEPERS) {
            ::syscall(SYS_futex, reinterpret_cast<u32*>(&m_word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
        }
    }

private:
    static constexpr u32 FREE = 0;
    static constexpr u32 TAKEN = 1;
    static constexpr u32 SLEEPERS = 2;
    static constexpr int SPIN_LIMIT = 200;

    std::atomic<u32> m_word{FREE};
};
static_assert(sizeof(std::atomic<u32>) == sizeof(u32));

PrintLock g_lock;
std::atomic<bool> g_created{false};
std::atomic<bool> g_finalized{false};

// Writes all of text to one transport, repeating for the unwritten rest until a write fails.
void writeAll(IDebugConsoleLowIO* transport, const char* text, u32 length)
{
    u32 done = 0;
    while (done < length) {
        u32 written = 0;
        if (transport->write(reinterpret_cast<const u8*>(text) + done, length - done, &written) != 0 || written == 0) {
            break;
        }
        transport->flush();
        done += written;
    }
}

// dbgc_puts without taking "DBGC" (the caller holds it).
u32 putsLocked(const char* text, u32 length)
{
    for (IDebugConsoleLowIO* transport : gLowIOList) {
        if (transport != nullptr) {
            writeAll(transport, text, length);
        }
    }
    std::fwrite(text, 1, length, stdout);
    return length;
}

} // namespace

} // namespace DBGC

using namespace DBGC;

bool dbgc_initialize()
{
    if (g_finalized.load(std::memory_order_acquire) || !ossupport::isInitialized()) {
        return false;
    }
    g_created.store(true, std::memory_order_release);
    return true;
}

u32 dbgc_addLowIO(IDebugConsoleLowIO* transport)
{
    if (transport == nullptr) {
        return RESULT_FAILED;
    }
    if (!dbgc_initialize()) {
        return 0;
    }
    g_lock.lock();
    u32 result = RESULT_FAILED;
    if (!g_finalized.load(std::memory_order_acquire) && gLowIOList.size() < MAX_LOW_IO) {
        gLowIOList.push_back(transport);
        result = 0;
    }
    g_lock.unlock();
    return result;
}

u32 dbgc_finalize()
{
    if (!g_created.load(std::memory_order_acquire) || g_finalized.load(std::memory_order_acquire)) {
        return RESULT_FAILED;
    }
    g_lock.lock();
    const bool already = g_finalized.exchange(true, std::memory_order_acq_rel);
    gLowIOList.clear();
    g_lock.unlock();
    return already ? RESULT_FAILED : 0;
}

u32 dbgc_puts(const char* text)
{
    if (text == nullptr || !dbgc_initialize()) {
        return 0;
    }
    g_lock.lock();
    u32 length = 0;
    if (!g_finalized.load(std::memory_order_acquire)) {
        length = putsLocked(text, static_cast<u32>(std::strlen(text)));
    }
    g_lock.unlock();
    return length;
}

u32 dbgc_printf(const char* format, ...)
{
    if (format == nullptr || !dbgc_initialize()) {
        return 0;
    }
    // Formatting needs no lock: each thread formats into its own 400-byte buffer, and only the output runs
    // under "DBGC".
    thread_local char buffer[PRINT_BUFFER_SIZE];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    if (n <= 0) {
        return 0;
    }
    const u32 length = static_cast<u32>(n) < PRINT_BUFFER_SIZE ? static_cast<u32>(n) : PRINT_BUFFER_SIZE - 1;
    g_lock.lock();
    u32 result = 0;
    if (!g_finalized.load(std::memory_order_acquire)) {
        result = putsLocked(buffer, length);
    }
    g_lock.unlock();
    return result;
}

u32 dbgc_lock()
{
    // After dbgc_finalize the lock still exists, so a lock/unlock pair stays balanced.
    if (!g_created.load(std::memory_order_acquire) && !dbgc_initialize()) {
        return RESULT_FAILED;
    }
    if (!ossupport::isInitialized()) {
        return RESULT_FAILED;
    }
    g_lock.lock();
    return 0;
}

u32 dbgc_unlock()
{
    if (!g_created.load(std::memory_order_acquire)) {
        return RESULT_FAILED;
    }
    g_lock.unlock();
    return 0;
}
