// Heap managers: the abstract heap interface, the process-wide registry of 32 heaps (id 0 = the global heap on
// malloc/free) and headed blocks, whose 8-byte header records the heap id and an element count so that a block can
// be released from its payload pointer alone.
//
// Headed block layout (callers hold the payload pointer):
//   [0]     heap id of the manager that gave the block
//   [1..3]  element count of the payload, big-endian 24 bits (the byte count for byte payloads)
//   [4..7]  zero
//   [8..]   payload, zero-filled when allocated (8-byte aligned)
#pragma once

#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "klib_Types.h"

namespace KLIB {

class IHeapManager
{
public:
    // The manager's name, used in trace lines.
    virtual const char* getName() const = 0;
    // Largest block the manager can give, in bytes.
    virtual u32 getMaxSize() const = 0;
    // A block of `size` bytes or null; `tag` names the owner for the trace (null prints "????").
    virtual void* allocate(u32 size, bool trace, const char* tag) = 0;
    // Gives a block back: 0, or 0x80000000 for a null block.
    virtual u32 deallocate(void* block, bool trace) = 0;
    virtual ~IHeapManager() = default;
};

class GlobalHeapManagerBase : public IHeapManager
{
};

// The global heap (id 0): malloc/free with optional trace lines. Constant-initialised and never destroyed, so it
// is there before any static constructor runs and after every static destructor and thread has finished.
class GlobalHeapManager final : public GlobalHeapManagerBase
{
public:
    static GlobalHeapManager* getInstance();

    const char* getName() const override;
    u32 getMaxSize() const override;
    void* allocate(u32 size, bool trace, const char* tag) override;
    u32 deallocate(void* block, bool trace) override;

    // Formats one trace line with klib_vsnprintf (cut at 255 characters) and writes it to stdout; returns 0.
    virtual u32 printTrace(const char* format, ...) __attribute__((format(printf, 2, 3)));

    GlobalHeapManager(const GlobalHeapManager&) = delete;
    GlobalHeapManager& operator=(const GlobalHeapManager&) = delete;

private:
    friend union GlobalHeapManagerHolder;
    constexpr GlobalHeapManager() = default;
    ~GlobalHeapManager() override = default;

    std::mutex m_traceLock;
    char m_traceLine[256] = {};
};

constexpr u32 HEAP_MANAGER_COUNT = 32;
constexpr u32 BLOCK_HEADER_SIZE = 8;
constexpr u32 BLOCK_MAX_COUNT = 0xFFFFFF;

// Manager of `heapId`, or null for an id >= 32 or an empty slot. Builds the registry on first call.
IHeapManager* getHeapManager(u8 heapId);
// Trace byte of `heapId`; 0 for an id >= 32 or an empty slot.
u8 getHeapTraceFlag(u8 heapId);
// Stores the trace byte: 0, or 0x80000000 for an id >= 32 or an empty slot.
u32 setHeapTraceFlag(u8 heapId, u8 flag);
// Writes the default heap id (0) to *out and returns out.
u8* getDefaultHeapId(u8* out);

namespace heapdetail {

// Trace bytes of the registry, by heap id (read through getHeapTraceFlag).
extern constinit std::atomic<u8> g_traceFlags[HEAP_MANAGER_COUNT];
// Headed blocks of any heap, traced or not: the general paths behind the inline ones below.
void* allocateHeaded(u8 heapId, const char* tag, u32 bytes, u32 count, bool zero);
u32 releaseHeaded(void* payload);

// Heap 0 is always the global heap (malloc/free); untraced, a headed block of it needs nothing else.
inline bool globalHeapUntraced()
{
    return g_traceFlags[0].load(std::memory_order_relaxed) == 0;
}

// Header in one store: id, 24-bit big-endian count, four zero bytes.
inline void writeHeader(u8* block, u8 heapId, u32 count)
{
    if constexpr (std::endian::native == std::endian::little) {
        const u64 header = static_cast<u64>(__builtin_bswap32(count) | heapId);
        std::memcpy(block, &header, sizeof(header));
    } else {
        const u8 header[BLOCK_HEADER_SIZE] = {
            heapId, static_cast<u8>(count >> 16), static_cast<u8>(count >> 8), static_cast<u8>(count), 0, 0, 0, 0};
        std::memcpy(block, header, sizeof(header));
    }
}

// A headed block of the untraced global heap (count in 1..0xFFFFFF); the payload is zeroed when `zero` is set.
inline void* allocateGlobal(u32 bytes, u32 count, bool zero)
{
    auto* block = static_cast<u8*>(std::malloc(static_cast<size_t>(bytes) + BLOCK_HEADER_SIZE));
    if (block == nullptr) {
        return nullptr;
    }
    writeHeader(block, 0, count);
    if (zero) {
        std::memset(block + BLOCK_HEADER_SIZE, 0, bytes);
    }
    return block + BLOCK_HEADER_SIZE;
}

} // namespace heapdetail

// Headed block of `size` zeroed payload bytes from manager `heapId` (the count field holds `size`).
// Null when the manager is missing, size is 0 or above 0xFFFFFF, or the manager has no memory.
inline void* allocateBlock(u8 heapId, const char* tag, u32 size)
{
    if (heapId == 0 && size - 1u < BLOCK_MAX_COUNT && heapdetail::globalHeapUntraced()) {
        return heapdetail::allocateGlobal(size, size, true);
    }
    return heapdetail::allocateHeaded(heapId, tag, size, size, true);
}

// Headed block for an array: `bytes` zeroed payload bytes, the count field holds `count` (the element count).
// Null when the manager is missing, count is 0 or above 0xFFFFFF, bytes is 0, bytes + 8 exceeds the manager's
// maximum, or the manager has no memory. The caller constructs and destroys the elements itself.
inline void* allocateBlockWithCount(u8 heapId, const char* tag, u32 bytes, u32 count)
{
    if (heapId == 0 && count - 1u < BLOCK_MAX_COUNT && bytes - 1u < 0xFFFFFFFFu - BLOCK_HEADER_SIZE &&
        heapdetail::globalHeapUntraced()) {
        return heapdetail::allocateGlobal(bytes, count, true);
    }
    return heapdetail::allocateHeaded(heapId, tag, bytes, count, true);
}

// allocateBlock for a caller that overwrites every payload byte at once: the payload is not zeroed first.
inline void* allocateBlockToFill(u8 heapId, const char* tag, u32 size)
{
    if (heapId == 0 && size - 1u < BLOCK_MAX_COUNT && heapdetail::globalHeapUntraced()) {
        return heapdetail::allocateGlobal(size, size, false);
    }
    return heapdetail::allocateHeaded(heapId, tag, size, size, false);
}

// Releases a headed block through the manager named in its header, with that id's trace byte.
// Null payload: 0x80000000. Unknown heap id in the header: the block is left alone, 0x80000002.
// Otherwise the manager's deallocate result.
inline u32 releaseBlock(void* payload)
{
    if (payload != nullptr && *(static_cast<const u8*>(payload) - BLOCK_HEADER_SIZE) == 0 &&
        heapdetail::globalHeapUntraced()) {
        std::free(static_cast<u8*>(payload) - BLOCK_HEADER_SIZE);
        return 0;
    }
    return heapdetail::releaseHeaded(payload);
}

// Header access of a headed block (payload pointer as returned above).
inline u8* blockHeader(void* payload)
{
    return static_cast<u8*>(payload) - BLOCK_HEADER_SIZE;
}
inline const u8* blockHeader(const void* payload)
{
    return static_cast<const u8*>(payload) - BLOCK_HEADER_SIZE;
}
inline u8 blockHeapId(const void* payload)
{
    return blockHeader(payload)[0];
}
inline u32 blockCount(const void* payload)
{
    const u8* h = blockHeader(payload);
    return (static_cast<u32>(h[1]) << 16) | (static_cast<u32>(h[2]) << 8) | static_cast<u32>(h[3]);
}
// Rewrites the 24-bit count (e.g. a queue that tracks its live element count); count is masked to 24 bits.
inline void setBlockCount(void* payload, u32 count)
{
    u8* h = blockHeader(payload);
    h[1] = static_cast<u8>(count >> 16);
    h[2] = static_cast<u8>(count >> 8);
    h[3] = static_cast<u8>(count);
}

} // namespace KLIB
