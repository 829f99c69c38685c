// A private heap: size-classed blocks carved from regions mapped from the OS, growing on demand.
//
// - Regions are reserved from the OS layer (whole pages); the first one holds the requested initial capacity. When it
// is used up a new
//   region is mapped (doubling, capped), so the heap grows on demand. Blocks above the largest size class get a
//   mapping of their own, which is unmapped when the block is given back.
// - Any thread may allocate or give back a block: one lock guards the free lists and the region list.
// - Every block carries a 16-byte header with a check word, so a pointer that is not a live block of this heap
//   (another heap's block, a block given back twice) is refused instead of corrupting the free lists.
// - The destructor unmaps every region; blocks still held become invalid.
// - Address-sanitizer builds keep everything outside the live payloads poisoned (headers, free blocks, a redzone
//   of at least 16 bytes behind every payload), so overruns and uses after release are still reported, and every
//   region is registered as a root region for the leak checker.
#pragma once

#include <mutex>

#include "klib_Types.h"

namespace TMS {

class PrivateHeap
{
public:
    // Maps the first region (initialCapacity bytes plus bookkeeping, rounded up to whole pages).
    // Null when the mapping fails.
    static PrivateHeap* create(u32 initialCapacity);
    ~PrivateHeap();

    PrivateHeap(const PrivateHeap&) = delete;
    PrivateHeap& operator=(const PrivateHeap&) = delete;

    // A 16-byte aligned block of at least `size` bytes (0 gives a valid minimal block), or null without memory.
    void* allocate(u32 size);
    // Gives a block back. False (and nothing changed) when `block` is not a live block of this heap.
    bool release(void* block);
    // True when `block` is a live block of this heap.
    bool owns(const void* block);

    // Bytes currently mapped from the OS (regions and large blocks) and their number.
    u64 getMappedBytes();
    u32 getMappingCount();

    // Process-wide bytes mapped by every private heap that is alive; lets callers check that nothing stays mapped.
    static u64 getProcessMappedBytes();

private:
    struct Region;
    struct LargeBlock;
    struct BlockHeader;
    struct FreeBlock;

    static constexpr u32 CLASS_COUNT = 96;
    static constexpr u32 LARGE_CLASS = 0xFFFF;

    PrivateHeap() = default;

    bool mapRegion(u64 minimumPayload);
    void* allocateLarge(u32 size);
    bool checkHeader(const BlockHeader* header) const;
    bool insideRegion(const void* block) const;
    bool knownLarge(const void* block) const;
    u64 checkWord(const void* header) const;

    std::mutex m_lock;
    Region* m_regions = nullptr;         // most recent first
    LargeBlock* m_largeBlocks = nullptr; // doubly linked
    u8* m_bump = nullptr;                // unused tail of the newest region
    u8* m_bumpEnd = nullptr;
    u64 m_nextRegionSize = 0;
    u64 m_mappedBytes = 0;
    u32 m_mappingCount = 0;
    u64 m_key = 0;
    FreeBlock* m_free[CLASS_COUNT] = {};
};

} // namespace TMS
