#include "dbgc_Print.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "dbgc_LowIO.h"
#include "dbgc_Result.h"
#include "os_Tasks.h"

namespace DBGC {

KLIB::KVector<IDebugConsoleLowIO*> gLowIOList(MAX_LOW_IO, KLIB::KAllocator("DBGC::gLowIOList", 0));

namespace {

constexpr u16 NO_SEMAPHORE = 0;

std::atomic<u16> g_semaphore{NO_SEMAPHORE};
std::atomic<bool> g_finalized{false};
std::mutex g_createLock; // serialises the first creation of "DBGC"

bool takeSemaphore()
{
    const u16 id = g_semaphore.load(std::memory_order_acquire);
    if (id == NO_SEMAPHORE) {
        return false;
    }
    if (ossupport::waitSemaphore(id) != ossupport::OS_OK) {
        return false;
    }
    return true;
}

void giveSemaphore()
{
    const u16 id = g_semaphore.load(std::memory_order_acquire);
    if (id != NO_SEMAPHORE) {
        ossupport::signalSemaphore(id);
    }
}

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
    if (g_finalized.load(std::memory_order_acquire)) {
        return false;
    }
    if (g_semaphore.load(std::memory_order_acquire) != NO_SEMAPHORE) {
        return true;
    }
    std::lock_guard<std::mutex> guard(g_createLock);
    if (g_semaphore.load(std::memory_order_acquire) != NO_SEMAPHORE) {
        return true;
    }
    ossupport::SemaphoreRecord record;
    record.m_initialCount = 1;
    record.m_name = "DBGC";
    u16 id = NO_SEMAPHORE;
    if (ossupport::createSemaphore(&id, &record) != ossupport::OS_OK || id == NO_SEMAPHORE) {
        return false;
    }
    g_semaphore.store(id, std::memory_order_release);
    return true;
}

u32 dbgc_addLowIO(IDebugConsoleLowIO* transport)
{
    if (transport == nullptr) {
        return RESULT_FAILED;
    }
    if (!dbgc_initialize() || !takeSemaphore()) {
        return 0;
    }
    u32 result = RESULT_FAILED;
    if (!g_finalized.load(std::memory_order_acquire) && gLowIOList.size() < MAX_LOW_IO) {
        gLowIOList.push_back(transport);
        result = 0;
    }
    giveSemaphore();
    return result;
}

u32 dbgc_finalize()
{
    if (g_semaphore.load(std::memory_order_acquire) == NO_SEMAPHORE || g_finalized.load(std::memory_order_acquire)) {
        return RESULT_FAILED;
    }
    if (!takeSemaphore()) {
        return RESULT_FAILED;
    }
    const bool already = g_finalized.exchange(true, std::memory_order_acq_rel);
    gLowIOList.clear();
    giveSemaphore();
    return already ? RESULT_FAILED : 0;
}

u32 dbgc_puts(const char* text)
{
    if (text == nullptr || !dbgc_initialize() || !takeSemaphore()) {
        return 0;
    }
    u32 length = 0;
    if (!g_finalized.load(std::memory_order_acquire)) {
        length = putsLocked(text, static_cast<u32>(std::strlen(text)));
    }
    giveSemaphore();
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
    if (!takeSemaphore()) {
        return 0;
    }
    u32 result = 0;
    if (!g_finalized.load(std::memory_order_acquire)) {
        result = putsLocked(buffer, length);
    }
    giveSemaphore();
    return result;
}

u32 dbgc_lock()
{
    // After dbgc_finalize the semaphore still exists, so a lock/unlock pair stays balanced.
    dbgc_initialize();
    return takeSemaphore() ? 0 : RESULT_FAILED;
}

u32 dbgc_unlock()
{
    if (g_semaphore.load(std::memory_order_acquire) == NO_SEMAPHORE) {
        return RESULT_FAILED;
    }
    giveSemaphore();
    return 0;
}
