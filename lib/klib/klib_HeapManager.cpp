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

// Low 32 bits of an address for the "0x%08X" trace column.
u32 traceAddress(std::uintptr_t address)
{
    return static_cast<u32>(address);
}

} // namespace

constinit std::atomic<u8> heapdetail::g_traceFlags[HEAP_MANAGER_COUNT] = {};

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
    return heapdetail::g_traceFlags[heapId].load(std::memory_order_relaxed);
}

u32 setHeapTraceFlag(u8 heapId, u8 flag)
{
    if (heapId >= HEAP_MANAGER_COUNT || g_managers[heapId] == nullptr) {
        return RESULT_FAILED;
    }
    heapdetail::g_traceFlags[heapId].store(flag, std::memory_order_relaxed);
    return 0;
}

u8* getDefaultHeapId(u8* out)
{
    if (out != nullptr) {
        *out = 0;
    }
    return out;
}

void* heapdetail::allocateHeaded(u8 heapId, const char* tag, u32 bytes, u32 count, bool zero)
{
    if (heapId >= HEAP_MANAGER_COUNT || count == 0 || count > BLOCK_MAX_COUNT || bytes == 0) {
        return nullptr;
    }
    IHeapManager* manager = g_managers[heapId];
    if (manager == nullptr) {
        return nullptr;
    }
    const u64 total = static_cast<u64>(bytes) + BLOCK_HEADER_SIZE;
    if (total > manager->getMaxSize()) {
        return nullptr;
    }
    const bool trace = g_traceFlags[heapId].load(std::memory_order_relaxed) != 0;
    auto* block = static_cast<u8*>(manager->allocate(static_cast<u32>(total), trace, tag));
    if (block == nullptr) {
        return nullptr;
    }
    writeHeader(block, heapId, count);
    if (zero) {
        std::memset(block + BLOCK_HEADER_SIZE, 0, bytes);
    }
    return block + BLOCK_HEADER_SIZE;
}

u32 heapdetail::releaseHeaded(void* payload)
{
    if (payload == nullptr) {
        return RESULT_FAILED;
    }
    const u8 heapId = blockHeapId(payload);
    IHeapManager* manager = heapId < HEAP_MANAGER_COUNT ? g_managers[heapId] : nullptr;
    if (manager == nullptr) {
        return RESULT_NOT_FOUND; // unknown heap: leave the block alone
    }
    return manager->deallocate(blockHeader(payload), g_traceFlags[heapId].load(std::memory_order_relaxed) != 0);
}

} // namespace KLIB
