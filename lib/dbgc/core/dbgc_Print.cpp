#include "dbgc_Print.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "dbgc_FastLock.h"
#include "dbgc_LowIO.h"
#include "dbgc_LowIOEtherServer.h"
#include "dbgc_Result.h"
#include "os_Tasks.h"

namespace DBGC {

KLIB::KVector<IDebugConsoleLowIO*> gLowIOList(MAX_LOW_IO, KLIB::KAllocator("DBGC::gLowIOList", 0));

namespace {

FastLock g_lock; // "DBGC"
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

// Writes text to every registered transport and then to standard output, under "DBGC" (standard output's own
// lock is then never contended by prints).
u32 printLine(const char* text, u32 length)
{
    LowIOEtherServer::beginDeferredWakeups();
    g_lock.lock();
    u32 result = 0;
    if (!g_finalized.load(std::memory_order_acquire)) {
        for (IDebugConsoleLowIO* transport : gLowIOList) {
            if (transport != nullptr) {
                writeAll(transport, text, length);
            }
        }
        std::fwrite(text, 1, length, stdout);
        result = length;
    }
    g_lock.unlock();
    LowIOEtherServer::endDeferredWakeups();
    return result;
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
    LowIOEtherServer::endDeferredWakeups();
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
    return printLine(text, static_cast<u32>(std::strlen(text)));
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
    return printLine(buffer, length);
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
