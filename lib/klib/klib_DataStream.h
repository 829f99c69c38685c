// KDataStream<T>: a bounded first-in-first-out queue of at most `capacity` elements kept in one headed block
// (tag "KLIB::KDataStream", header count = capacity). Every element is constructed when the stream is created and
// destroyed when it is released; reads and writes copy elements in and out, so a slot keeps its old copy until it
// is overwritten. Not synchronised: owners lock it where needed.
#pragma once

#include <cstring>
#include <new>
#include <type_traits>

#include "klib_HeapManager.h"
#include "klib_Result.h"
#include "klib_Types.h"

namespace KLIB {

template <class T> class KDataStream
{
    static_assert(alignof(T) <= 8, "headed blocks are 8-byte aligned");

public:
    static constexpr const char* TAG = "KLIB::KDataStream";
    static constexpr u32 STATE_NO_STORAGE = 1;
    static constexpr u32 STATE_READY = 3;
    static constexpr u32 RESULT_FAILED = KLIB::RESULT_FAILED;

    KDataStream() = default;
    KDataStream(u8 heapId, u32 capacity) { create(heapId, capacity); }
    KDataStream(const KDataStream&) = delete;
    KDataStream& operator=(const KDataStream&) = delete;
    virtual ~KDataStream() { release(); }

    // Releases old storage, then allocates and constructs `capacity` elements (1..0xFFFFFF).
    // 0, or 0x80000000 (capacity 0, state 1) for a bad capacity, a missing heap manager or no memory.
    u32 create(u8 heapId, u32 capacity)
    {
        release();
        m_heapId = heapId;
        const u64 bytes = static_cast<u64>(capacity) * sizeof(T);
        if (capacity == 0 || capacity > BLOCK_MAX_COUNT || bytes > 0xFFFFFFFFull - BLOCK_HEADER_SIZE) {
            return RESULT_FAILED;
        }
        void* block = allocateBlockWithCount(heapId, TAG, static_cast<u32>(bytes), capacity);
        if (block == nullptr) {
            return RESULT_FAILED;
        }
        m_data = static_cast<T*>(block);
        for (u32 i = 0; i < capacity; ++i) {
            new (m_data + i) T();
        }
        m_capacity = capacity;
        m_count = m_writeIndex = m_readIndex = 0;
        m_state = STATE_READY;
        return 0;
    }

    // In the ready state: destroys the capacity elements and gives the block back to the heap in its header.
    void release()
    {
        if (m_state == STATE_READY && m_data != nullptr) {
            for (u32 i = 0; i < m_capacity; ++i) {
                m_data[i].~T();
            }
            releaseBlock(m_data);
        }
        m_data = nullptr;
        m_capacity = m_count = m_writeIndex = m_readIndex = 0;
        m_state = STATE_NO_STORAGE;
    }

    void clear() { m_count = m_writeIndex = m_readIndex = 0; }

    // Copies one element in: 0, or 0x80000000 when the stream is full or has no storage (nothing written).
    u32 write(const T& element)
    {
        if (m_count >= m_capacity) {
            return RESULT_FAILED;
        }
        m_data[m_writeIndex] = element;
        m_writeIndex = next(m_writeIndex);
        ++m_count;
        return 0;
    }

    // Copies the oldest element out: 0, or 0x80000000 when the stream is empty (out untouched).
    u32 read(T& out)
    {
        if (m_count == 0) {
            return RESULT_FAILED;
        }
        out = m_data[m_readIndex];
        m_readIndex = next(m_readIndex);
        --m_count;
        return 0;
    }

    // The oldest element without removing it, or null when empty.
    const T* peek() const { return m_count == 0 ? nullptr : m_data + m_readIndex; }

    // Bulk forms with the results of element-wise use: as many elements as fit (are stored) move, `done`
    // (optional) receives that number, and the result is 0 when all n moved, else 0x80000000.
    u32 write(const T* in, u32 n, u32* done)
    {
        u32 moved = 0;
        if (in != nullptr) {
            const u32 room = m_capacity - m_count;
            moved = n < room ? n : room;
            copyIn(in, moved);
        }
        if (done != nullptr) {
            *done = moved;
        }
        return moved == n ? 0 : RESULT_FAILED;
    }

    u32 read(T* out, u32 n, u32* done)
    {
        u32 moved = 0;
        if (out != nullptr) {
            moved = n < m_count ? n : m_count;
            copyOut(out, moved);
        }
        if (done != nullptr) {
            *done = moved;
        }
        return moved == n ? 0 : RESULT_FAILED;
    }

    u32 getCount() const { return m_count; }
    u32 getCapacity() const { return m_capacity; }
    u32 getFree() const { return m_capacity - m_count; }
    u32 getState() const { return m_state; }
    u8 getHeapId() const { return m_heapId; }
    bool isEmpty() const { return m_count == 0; }
    bool isFull() const { return m_count >= m_capacity; }

private:
    u32 next(u32 index) const { return index + 1 == m_capacity ? 0 : index + 1; }

    void copyIn(const T* in, u32 n)
    {
        u32 done = 0;
        while (done < n) {
            const u32 chunk = chunkFrom(m_writeIndex, n - done);
            if constexpr (std::is_trivially_copyable_v<T>) {
                std::memcpy(static_cast<void*>(m_data + m_writeIndex), in + done, chunk * sizeof(T));
            } else {
                for (u32 i = 0; i < chunk; ++i) {
                    m_data[m_writeIndex + i] = in[done + i];
                }
            }
            m_writeIndex = (m_writeIndex + chunk == m_capacity) ? 0 : m_writeIndex + chunk;
            m_count += chunk;
            done += chunk;
        }
    }

    void copyOut(T* out, u32 n)
    {
        u32 done = 0;
        while (done < n) {
            const u32 chunk = chunkFrom(m_readIndex, n - done);
            if constexpr (std::is_trivially_copyable_v<T>) {
                std::memcpy(static_cast<void*>(out + done), m_data + m_readIndex, chunk * sizeof(T));
            } else {
                for (u32 i = 0; i < chunk; ++i) {
                    out[done + i] = m_data[m_readIndex + i];
                }
            }
            m_readIndex = (m_readIndex + chunk == m_capacity) ? 0 : m_readIndex + chunk;
            m_count -= chunk;
            done += chunk;
        }
    }

    // Elements that can move from index without wrapping.
    u32 chunkFrom(u32 index, u32 wanted) const
    {
        const u32 toEnd = m_capacity - index;
        return wanted < toEnd ? wanted : toEnd;
    }

    T* m_data = nullptr;
    u32 m_capacity = 0;
    u32 m_count = 0;
    u32 m_writeIndex = 0;
    u32 m_readIndex = 0;
    u32 m_state = STATE_NO_STORAGE;
    u8 m_heapId = 0;
};

} // namespace KLIB
