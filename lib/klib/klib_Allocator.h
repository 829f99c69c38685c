// KAllocator: the allocator value held by every KLIB container. It names a heap (falling back to the global heap
// when the id has no manager) and a tag that the heap manager prints in its trace lines.
#pragma once

#include "klib_HeapManager.h"
#include "klib_Types.h"

namespace KLIB {

class KAllocator
{
public:
    static constexpr const char* DEFAULT_TAG = "KAllocator";

    KAllocator() : m_tag(nullptr), m_heapId(0) { getDefaultHeapId(&m_heapId); }
    explicit KAllocator(const char* tag) : KAllocator() { m_tag = tag; }
    KAllocator(const char* tag, u8 heapId) : m_tag(tag), m_heapId(heapId) {}

    const char* getTag() const { return m_tag != nullptr ? m_tag : DEFAULT_TAG; }
    u8 getHeapId() const { return m_heapId; }

    // The manager of the heap id, or the global manager when that id has none.
    IHeapManager* getManager() const
    {
        IHeapManager* manager = getHeapManager(m_heapId);
        return manager != nullptr ? manager : GlobalHeapManager::getInstance();
    }

    // Room for n elements of T (uninitialised), or null when n is 0, the byte count overflows or memory is short.
    template <class T> T* allocate(u32 n) const
    {
        const u64 bytes = static_cast<u64>(n) * sizeof(T);
        if (n == 0 || bytes > 0xFFFFFFFFull) {
            return nullptr;
        }
        return static_cast<T*>(
            getManager()->allocate(static_cast<u32>(bytes), getHeapTraceFlag(m_heapId) != 0, getTag()));
    }

    // Gives back a block from allocate(); null is ignored.
    template <class T> void deallocate(T* p) const
    {
        if (p != nullptr) {
            getManager()->deallocate(static_cast<void*>(p), getHeapTraceFlag(m_heapId) != 0);
        }
    }

    // The largest element count the heap can give.
    template <class T> u32 maxCount() const { return getManager()->getMaxSize() / static_cast<u32>(sizeof(T)); }

private:
    const char* m_tag;
    u8 m_heapId;
};

} // namespace KLIB
