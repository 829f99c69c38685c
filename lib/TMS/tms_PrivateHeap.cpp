#include "tms_PrivateHeap.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "os_Memory.h"

#if defined(__SANITIZE_ADDRESS__)
#define TMS_HEAP_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TMS_HEAP_ASAN 1
#endif
#endif

#if defined(TMS_HEAP_ASAN)
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
// The allocator reads and writes headers and free blocks that are poisoned on purpose.
#define TMS_NO_ASAN __attribute__((no_sanitize("address")))
#else
#define TMS_NO_ASAN
#endif

namespace TMS {

namespace {

constexpr u64 HEADER_SIZE = 16;
constexpr u64 REGION_HEADER_SIZE = 32;
constexpr u64 LARGE_HEADER_SIZE = 32;
constexpr u32 SMALL_LIMIT = 1024;       // classes in steps of 16 bytes up to here
constexpr u32 CLASS_LIMIT = 256 * 1024; // larger blocks get a mapping of their own
constexpr u64 MIN_GROWTH = 64 * 1024;
constexpr u64 MAX_GROWTH = 64ull * 1024 * 1024;
constexpr u32 MAGIC_USED = 0x55534544;
constexpr u32 MAGIC_FREE = 0x46524545;

#if defined(TMS_HEAP_ASAN)
constexpr u64 REDZONE = 16;
#else
constexpr u64 REDZONE = 0;
#endif

std::atomic<u64> g_processMappedBytes{0};
std::atomic<u64> g_keySeed{0x9E3779B97F4A7C15ull};

u64 pageSize()
{
    return ossupport::getPageSize();
}

u64 roundUp(u64 value, u64 granularity)
{
    return (value + granularity - 1) / granularity * granularity;
}

// Size class of a request of `needed` bytes (> 0): 64 classes of 16-byte steps up to 1 KiB, then four classes per
// power of two up to 256 KiB.
u32 classOf(u64 needed)
{
    if (needed <= SMALL_LIMIT) {
        return static_cast<u32>((needed + 15) / 16 - 1);
    }
    u32 below = static_cast<u32>(needed - 1);
    u32 power = 31u - static_cast<u32>(__builtin_clz(below));
    u32 step = (below - (1u << power)) >> (power - 2);
    return 64 + (power - 10) * 4 + step;
}

u64 classSize(u32 sizeClass)
{
    if (sizeClass < 64) {
        return (static_cast<u64>(sizeClass) + 1) * 16;
    }
    u32 j = sizeClass - 64;
    u32 power = 10 + j / 4;
    return (1ull << power) + ((static_cast<u64>(j % 4) + 1) << (power - 2));
}

void* mapPages(u64 length)
{
    return ossupport::reservePages(length);
}

void announceMapping(void* base, u64 length, u64 poisonFrom)
{
#if defined(TMS_HEAP_ASAN)
    __asan_poison_memory_region(static_cast<u8*>(base) + poisonFrom, length - poisonFrom);
    __lsan_register_root_region(base, length);
#else
    (void)base;
    (void)length;
    (void)poisonFrom;
#endif
    g_processMappedBytes.fetch_add(length, std::memory_order_relaxed);
}

void unmapPages(void* base, u64 length)
{
#if defined(TMS_HEAP_ASAN)
    // A later mapping at the same address must not inherit the poison.
    __lsan_unregister_root_region(base, length);
    __asan_unpoison_memory_region(base, length);
#endif
    ossupport::releasePages(base, length);
    g_processMappedBytes.fetch_sub(length, std::memory_order_relaxed);
}

void unpoisonPayload(void* payload, u64 size)
{
#if defined(TMS_HEAP_ASAN)
    __asan_unpoison_memory_region(payload, size);
#else
    (void)payload;
    (void)size;
#endif
}

void poisonPayload(void* payload, u64 size)
{
#if defined(TMS_HEAP_ASAN)
    __asan_poison_memory_region(payload, size);
#else
    (void)payload;
    (void)size;
#endif
}

} // namespace

struct PrivateHeap::Region
{
    Region* next;
    u64 length;
};

struct PrivateHeap::LargeBlock
{
    LargeBlock* prev;
    LargeBlock* next;
    u64 length;
};

struct PrivateHeap::BlockHeader
{
    u32 sizeClass;
    u32 magic;
    u64 word; // live: the check word; free: the next free block
};

PrivateHeap* PrivateHeap::create(u32 initialCapacity)
{
    PrivateHeap* heap = new (std::nothrow) PrivateHeap();
    if (heap == nullptr) {
        return nullptr;
    }
    u64 seed = g_keySeed.fetch_add(0x632BE59BD9B4E019ull, std::memory_order_relaxed);
    heap->m_key = (seed ^ reinterpret_cast<u64>(heap)) * 0xBF58476D1CE4E5B9ull;
    heap->m_nextRegionSize = roundUp(static_cast<u64>(initialCapacity) + REGION_HEADER_SIZE, pageSize());
    if (!heap->mapRegion(0)) {
        delete heap;
        return nullptr;
    }
    return heap;
}

TMS_NO_ASAN PrivateHeap::~PrivateHeap()
{
    while (m_largeBlocks != nullptr) {
        LargeBlock* block = m_largeBlocks;
        m_largeBlocks = block->next;
        unmapPages(block, block->length);
    }
    while (m_regions != nullptr) {
        Region* region = m_regions;
        m_regions = region->next;
        unmapPages(region, region->length);
    }
}

u64 PrivateHeap::checkWord(const void* header) const
{
    return reinterpret_cast<u64>(header) ^ m_key;
}

TMS_NO_ASAN bool PrivateHeap::checkHeader(const BlockHeader* header) const
{
    if ((reinterpret_cast<u64>(header) & 15u) != 0) {
        return false;
    }
    if (header->magic != MAGIC_USED || header->word != checkWord(header)) {
        return false;
    }
    return header->sizeClass < CLASS_COUNT || header->sizeClass == LARGE_CLASS;
}

// Called with the lock held. Keeps what is left of the current region as free blocks, then maps a new region
// with room for at least `minimumPayload` bytes.
TMS_NO_ASAN bool PrivateHeap::mapRegion(u64 minimumPayload)
{
    u64 length = roundUp(std::max(m_nextRegionSize, minimumPayload + REGION_HEADER_SIZE), pageSize());
    void* base = mapPages(length);
    if (base == nullptr) {
        return false;
    }
    // Salvage the tail of the previous region: carve it into the largest blocks that fit.
    while (m_bump != nullptr && static_cast<u64>(m_bumpEnd - m_bump) >= HEADER_SIZE + 16) {
        u64 room = static_cast<u64>(m_bumpEnd - m_bump) - HEADER_SIZE;
        u32 sizeClass = classOf(std::min<u64>(room, CLASS_LIMIT));
        if (classSize(sizeClass) > room) {
            --sizeClass;
        }
        auto* header = reinterpret_cast<BlockHeader*>(m_bump);
        header->sizeClass = sizeClass;
        header->magic = MAGIC_FREE;
        header->word = reinterpret_cast<u64>(m_free[sizeClass]);
        m_free[sizeClass] = reinterpret_cast<FreeBlock*>(header);
        m_bump += HEADER_SIZE + classSize(sizeClass);
    }
    auto* region = static_cast<Region*>(base);
    region->next = m_regions;
    region->length = length;
    m_regions = region;
    m_bump = static_cast<u8*>(base) + REGION_HEADER_SIZE;
    m_bumpEnd = static_cast<u8*>(base) + length;
    m_mappedBytes += length;
    ++m_mappingCount;
    m_nextRegionSize = std::min(std::max(length * 2, MIN_GROWTH), MAX_GROWTH);
    announceMapping(base, length, REGION_HEADER_SIZE);
    return true;
}

TMS_NO_ASAN void* PrivateHeap::allocateLarge(u32 size)
{
    u64 length = roundUp(LARGE_HEADER_SIZE + HEADER_SIZE + size + REDZONE, pageSize());
    void* base = mapPages(length);
    if (base == nullptr) {
        return nullptr;
    }
    auto* block = static_cast<LargeBlock*>(base);
    block->length = length;
    auto* header = reinterpret_cast<BlockHeader*>(static_cast<u8*>(base) + LARGE_HEADER_SIZE);
    header->sizeClass = LARGE_CLASS;
    header->magic = MAGIC_USED;
    header->word = checkWord(header);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        block->prev = nullptr;
        block->next = m_largeBlocks;
        if (m_largeBlocks != nullptr) {
            m_largeBlocks->prev = block;
        }
        m_largeBlocks = block;
        m_mappedBytes += length;
        ++m_mappingCount;
    }
    announceMapping(base, length, LARGE_HEADER_SIZE);
    void* payload = header + 1;
    unpoisonPayload(payload, size);
    return payload;
}

TMS_NO_ASAN void* PrivateHeap::allocate(u32 size)
{
    u64 needed = std::max<u64>(static_cast<u64>(size) + REDZONE, 1);
    if (needed > CLASS_LIMIT) {
        return allocateLarge(size);
    }
    u32 sizeClass = classOf(needed);
    BlockHeader* header = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        header = reinterpret_cast<BlockHeader*>(m_free[sizeClass]);
        if (header != nullptr) {
            m_free[sizeClass] = reinterpret_cast<FreeBlock*>(header->word);
        } else {
            u64 blockSize = HEADER_SIZE + classSize(sizeClass);
            if (static_cast<u64>(m_bumpEnd - m_bump) < blockSize && !mapRegion(blockSize)) {
                return nullptr;
            }
            header = reinterpret_cast<BlockHeader*>(m_bump);
            header->sizeClass = sizeClass;
            m_bump += blockSize;
        }
        header->magic = MAGIC_USED;
        header->word = checkWord(header);
    }
    void* payload = header + 1;
    unpoisonPayload(payload, size);
    return payload;
}

TMS_NO_ASAN bool PrivateHeap::release(void* block)
{
    if (block == nullptr) {
        return false;
    }
    auto* header = static_cast<BlockHeader*>(block) - 1;
    std::unique_lock<std::mutex> guard(m_lock);
    // A large block sits at a fixed offset into its own mapping. Such a pointer is looked up before its header is
    // read, so a large block given back twice (its mapping gone) is refused instead of read.
    if (reinterpret_cast<u64>(block) % pageSize() == LARGE_HEADER_SIZE + HEADER_SIZE && !knownLarge(block) &&
        !insideRegion(block)) {
        return false;
    }
    if (!checkHeader(header)) {
        return false;
    }
    if (header->sizeClass == LARGE_CLASS) {
        auto* large = reinterpret_cast<LargeBlock*>(reinterpret_cast<u8*>(header) - LARGE_HEADER_SIZE);
        if (large->prev != nullptr) {
            large->prev->next = large->next;
        } else {
            m_largeBlocks = large->next;
        }
        if (large->next != nullptr) {
            large->next->prev = large->prev;
        }
        header->magic = MAGIC_FREE;
        m_mappedBytes -= large->length;
        --m_mappingCount;
        guard.unlock();
        unmapPages(large, large->length);
        return true;
    }
    poisonPayload(block, classSize(header->sizeClass));
    header->magic = MAGIC_FREE;
    header->word = reinterpret_cast<u64>(m_free[header->sizeClass]);
    m_free[header->sizeClass] = reinterpret_cast<FreeBlock*>(header);
    return true;
}

bool PrivateHeap::insideRegion(const void* block) const
{
    auto address = reinterpret_cast<u64>(block);
    for (const Region* region = m_regions; region != nullptr; region = region->next) {
        auto begin = reinterpret_cast<u64>(region) + REGION_HEADER_SIZE + HEADER_SIZE;
        if (address >= begin && address < reinterpret_cast<u64>(region) + region->length) {
            return true;
        }
    }
    return false;
}

bool PrivateHeap::knownLarge(const void* block) const
{
    auto address = reinterpret_cast<u64>(block);
    for (const LargeBlock* large = m_largeBlocks; large != nullptr; large = large->next) {
        if (address == reinterpret_cast<u64>(large) + LARGE_HEADER_SIZE + HEADER_SIZE) {
            return true;
        }
    }
    return false;
}

TMS_NO_ASAN bool PrivateHeap::owns(const void* block)
{
    if (block == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    bool inside = insideRegion(block) || knownLarge(block);
    return inside && checkHeader(static_cast<const BlockHeader*>(block) - 1);
}

u64 PrivateHeap::getMappedBytes()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_mappedBytes;
}

u32 PrivateHeap::getMappingCount()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_mappingCount;
}

u64 PrivateHeap::getProcessMappedBytes()
{
    return g_processMappedBytes.load(std::memory_order_relaxed);
}

} // namespace TMS
