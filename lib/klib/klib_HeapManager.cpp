#include "klib_HeapManager.h"

#include <atomic>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "klib_Print.h"
#include "klib_Result.h"

namespace KLIB {

// Storage of the one global manager whose destructor never runs.
union GlobalHeapManagerHolder {
    GlobalHeapManager manager;
    constexpr GlobalHeapManagerHolder() : manager() {}
    ~GlobalHeapManagerHolder() {}
};

namespace {

constinit GlobalHeapManagerHolder g_globalHeap;

// Registry of heap managers by id, constant-initialised (so it is "built" before first use and never torn down).
// Only slot 0 is ever filled; afterwards only the trace bytes change.
constinit IHeapManager* const g_managers[HEAP_MANAGER_COUNT] = {&g_globalHeap.manager};
constinit std::atomic<u8> g_trace[HEAP_MANAGER_COUNT] = {};

// Low 32 bits of an address for the "0x%08X" trace column.
u32 traceAddress(std::uintptr_t address)
{
    return static_cast<u32>(address);
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// GlobalHeapManager
// ---------------------------------------------------------------------------------------------------------------

GlobalHeapManager* GlobalHeapManager::getInstance()
{
    return &g_globalHeap.manager;
}

const char* GlobalHeapManager::getName() const
{
    return "GlobalHeapManager";
}

u32 GlobalHeapManager::getMaxSize() const
{
    return 0xFFFFFFFFu;
}

void* GlobalHeapManager::allocate(u32 size, bool trace, const char* tag)
{
    void* block = std::malloc(size);
    if (trace) {
        const char* owner = tag != nullptr ? tag : "????";
        if (block != nullptr) {
            printTrace("     %s::new    > 0x%08X (%12d) = %s\n", getName(),
                       traceAddress(reinterpret_cast<std::uintptr_t>(block)), static_cast<i32>(size), owner);
        } else {
            printTrace("[NG] %s::new    > NULL       (%12d) = %s\n", getName(), static_cast<i32>(size), owner);
        }
    }
    return block;
}

u32 GlobalHeapManager::deallocate(void* block, bool trace)
{
    if (block == nullptr) {
        return RESULT_FAILED;
    }
    if (trace) {
        printTrace("     %s::delete > 0x%08X\n", getName(), traceAddress(reinterpret_cast<std::uintptr_t>(block)));
    }
    std::free(block);
    return 0;
}

u32 GlobalHeapManager::printTrace(const char* format, ...)
{
    std::lock_guard<std::mutex> guard(m_traceLock);
    va_list args;
    va_start(args, format);
    klib_vsnprintf(m_traceLine, sizeof(m_traceLine), nullptr, format, args);
    va_end(args);
    std::fprintf(stdout, "%s", m_traceLine);
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------------------------------------------

IHeapManager* getHeapManager(u8 heapId)
{
    return heapId < HEAP_MANAGER_COUNT ? g_managers[heapId] : nullptr;
}

u8 getHeapTraceFlag(u8 heapId)
{
    if (heapId >= HEAP_MANAGER_COUNT || g_managers[heapId] == nullptr) {
        return 0;
    }
    return g_trace[heapId].load(std::memory_order_relaxed);
}

u32 setHeapTraceFlag(u8 heapId, u8 flag)
{
    if (heapId >= HEAP_MANAGER_COUNT || g_managers[heapId] == nullptr) {
        return RESULT_FAILED;
    }
    g_trace[heapId].store(flag, std::memory_order_relaxed);
    return 0;
}

u8* getDefaultHeapId(u8* out)
{
    if (out != nullptr) {
        *out = 0;
    }
    return out;
}

namespace {

// Zero-fills n bytes; small payloads (the common case of texts and variants) with a few overlapping stores.
inline void zeroPayload(u8* p, u32 n)
{
    static constexpr u8 kZeros[16] = {};
    if (n >= 8 && n <= 32) {
        if (n <= 16) {
            std::memcpy(p, kZeros, 8);
            std::memcpy(p + n - 8, kZeros, 8);
        } else {
            std::memcpy(p, kZeros, 16);
            std::memcpy(p + n - 16, kZeros, 16);
        }
        return;
    }
    std::memset(p, 0, n);
}

// Shared by both allocate functions (kept internal so that it is inlined into them).
inline void* allocateHeaded(u8 heapId, const char* tag, u32 bytes, u32 count)
{
    if (heapId >= HEAP_MANAGER_COUNT || count == 0 || count > BLOCK_MAX_COUNT || bytes == 0) {
        return nullptr;
    }
    IHeapManager* manager = g_managers[heapId];
    if (manager == nullptr) {
        return nullptr;
    }
    const u64 total = static_cast<u64>(bytes) + BLOCK_HEADER_SIZE;
    const bool trace = g_trace[heapId].load(std::memory_order_relaxed) != 0;
    u8* block;
    if (manager == &g_globalHeap.manager && !trace) {
        // The common case: what GlobalHeapManager::allocate does untraced, without the dispatch.
        if (total > 0xFFFFFFFFull) {
            return nullptr;
        }
        block = static_cast<u8*>(std::malloc(total));
    } else {
        if (total > manager->getMaxSize()) {
            return nullptr;
        }
        block = static_cast<u8*>(manager->allocate(static_cast<u32>(total), trace, tag));
    }
    if (block == nullptr) {
        return nullptr;
    }
    // Header in one store: id, 24-bit big-endian count, four zero bytes.
    if constexpr (std::endian::native == std::endian::little) {
        const u64 header = static_cast<u64>(__builtin_bswap32(count) | heapId);
        std::memcpy(block, &header, sizeof(header));
    } else {
        const u8 header[BLOCK_HEADER_SIZE] = {
            heapId, static_cast<u8>(count >> 16), static_cast<u8>(count >> 8), static_cast<u8>(count), 0, 0, 0, 0};
        std::memcpy(block, header, sizeof(header));
    }
    u8* payload = block + BLOCK_HEADER_SIZE;
    zeroPayload(payload, bytes);
    return payload;
}

} // namespace

void* allocateBlockWithCount(u8 heapId, const char* tag, u32 bytes, u32 count)
{
    return allocateHeaded(heapId, tag, bytes, count);
}

void* allocateBlock(u8 heapId, const char* tag, u32 size)
{
    return allocateHeaded(heapId, tag, size, size);
}

u32 releaseBlock(void* payload)
{
    if (payload == nullptr) {
        return RESULT_FAILED;
    }
    const u8 heapId = blockHeapId(payload);
    IHeapManager* manager = heapId < HEAP_MANAGER_COUNT ? g_managers[heapId] : nullptr;
    if (manager == nullptr) {
        return RESULT_NOT_FOUND; // unknown heap: leave the block alone
    }
    const bool trace = g_trace[heapId].load(std::memory_order_relaxed) != 0;
    if (manager == &g_globalHeap.manager && !trace) {
        std::free(blockHeader(payload)); // GlobalHeapManager::deallocate untraced
        return 0;
    }
    return manager->deallocate(blockHeader(payload), trace);
}

} // namespace KLIB
