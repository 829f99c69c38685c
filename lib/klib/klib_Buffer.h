// KBuffer<T>: a fixed block of `size` bytes (T = char or unsigned char) from a named heap, released on destruction.
#pragma once

#include <type_traits>

#include "klib_HeapManager.h"
#include "klib_Types.h"

namespace KLIB {

template <class T> class KBuffer
{
    static_assert(sizeof(T) == 1, "KBuffer holds bytes");

public:
    // Allocates from heap heapId only (no fallback). Missing manager, size 0 or no memory: data null, size 0.
    KBuffer(u8 heapId, u32 size, const char* tag) : m_heapId(heapId), m_tag(tag), m_data(nullptr), m_size(0)
    {
        IHeapManager* manager = getHeapManager(heapId);
        if (manager == nullptr || size == 0) {
            return;
        }
        m_data = static_cast<T*>(manager->allocate(size, getHeapTraceFlag(heapId) != 0, tag));
        if (m_data != nullptr) {
            m_size = size;
        }
    }

    KBuffer(const KBuffer&) = delete;
    KBuffer& operator=(const KBuffer&) = delete;

    virtual ~KBuffer()
    {
        if (m_data != nullptr) {
            IHeapManager* manager = getHeapManager(m_heapId);
            if (manager != nullptr) {
                manager->deallocate(m_data, getHeapTraceFlag(m_heapId) != 0);
            }
        }
        m_data = nullptr;
        m_size = 0;
    }

    T* getData() { return m_data; }
    const T* getData() const { return m_data; }
    u32 getSize() const { return m_size; }
    u8 getHeapId() const { return m_heapId; }
    const char* getTag() const { return m_tag; }

private:
    u8 m_heapId;
    const char* m_tag;
    T* m_data;
    u32 m_size;
};

} // namespace KLIB
