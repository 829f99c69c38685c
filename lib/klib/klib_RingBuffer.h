// Two rings:
//  - KRingBuffer<T>: an array of `capacity` records in one headed block (tag "KLIB::KRingBuffer", header count =
//    capacity) with three positions/counts that its owner drives (the owner defines the ring operations).
//  - klib_ringBuffer*: a lock-free ring of 1-, 2- or 4-byte elements in caller-owned storage, safe for exactly
//    one writer thread and one reader thread.
#pragma once

#include <atomic>
#include <new>

#include "klib_HeapManager.h"
#include "klib_Result.h"
#include "klib_Types.h"

namespace KLIB {

template <class T> class KRingBuffer
{
    static_assert(alignof(T) <= 8, "headed blocks are 8-byte aligned");

public:
    static constexpr const char* TAG = "KLIB::KRingBuffer";
    static constexpr u32 STATE_NONE = 0;
    static constexpr u32 STATE_READY = 2;

    KRingBuffer() = default;
    KRingBuffer(const KRingBuffer&) = delete;
    KRingBuffer& operator=(const KRingBuffer&) = delete;
    virtual ~KRingBuffer() { release(); }

    // Releases old storage, then allocates and constructs `count` records (1..0xFFFFFF) on heap heapId.
    // 0; 0x80000001 for count 0; 0x80000002 (capacity 0, state 0) for a larger count, an unknown heap or no memory.
    u32 create(u8 heapId, u32 count)
    {
        release();
        m_heapId = heapId;
        if (count == 0) {
            return KLIB::RESULT_BAD_ARGUMENT;
        }
        const u64 bytes = static_cast<u64>(count) * sizeof(T);
        if (count > BLOCK_MAX_COUNT || bytes > 0xFFFFFFFFull - BLOCK_HEADER_SIZE) {
            return KLIB::RESULT_NOT_ALL_FITTED;
        }
        void* block = allocateBlockWithCount(heapId, TAG, static_cast<u32>(bytes), count);
        if (block == nullptr) {
            return KLIB::RESULT_NOT_ALL_FITTED;
        }
        m_data = static_cast<T*>(block);
        for (u32 i = 0; i < count; ++i) {
            new (m_data + i) T();
        }
        m_capacity = count;
        m_count = m_writeIndex = m_readIndex = 0;
        m_state = STATE_READY;
        return 0;
    }

    // In the ready state: destroys the capacity records and frees the block through the header's heap id.
    // Always leaves pointer, capacity, positions and state cleared. Returns 0.
    u32 release()
    {
        if (m_state == STATE_READY && m_data != nullptr) {
            for (u32 i = 0; i < m_capacity; ++i) {
                m_data[i].~T();
            }
            releaseBlock(m_data);
        }
        m_data = nullptr;
        m_capacity = m_count = m_writeIndex = m_readIndex = 0;
        m_state = STATE_NONE;
        return 0;
    }

    T* getData() { return m_data; }
    const T* getData() const { return m_data; }
    T& at(u32 index) { return m_data[index]; }
    const T& at(u32 index) const { return m_data[index]; }
    u32 getCapacity() const { return m_capacity; }
    u32 getState() const { return m_state; }
    u8 getHeapId() const { return m_heapId; }

    // Positions and count, driven by the owner.
    u32 getCount() const { return m_count; }
    void setCount(u32 count) { m_count = count; }
    u32 getWriteIndex() const { return m_writeIndex; }
    void setWriteIndex(u32 index) { m_writeIndex = index; }
    u32 getReadIndex() const { return m_readIndex; }
    void setReadIndex(u32 index) { m_readIndex = index; }

private:
    T* m_data = nullptr;
    u32 m_capacity = 0;
    u32 m_count = 0;
    u32 m_writeIndex = 0;
    u32 m_readIndex = 0;
    u32 m_state = STATE_NONE;
    u8 m_heapId = 0;
};

} // namespace KLIB

// Record of a klib_ringBuffer ring. A position holds the element index in its low 24 bits and a wrap count
// (mod 256) in its high 8 bits. The writer alone moves writePosition and the reader alone readPosition; each
// stores its own position with release ordering and loads the other's with acquire ordering.
struct klib_RingBufferRecord
{
    u16 elementSize = 0;     // 1, 2 or 4 bytes
    u32 capacity = 0;        // elements, at most 0x1000000
    void* storage = nullptr; // capacity * elementSize bytes, owned by the caller
    std::atomic<u32> writePosition{0};
    std::atomic<u32> readPosition{0};
};

constexpr u32 KLIB_RING_MAX_CAPACITY = 0x1000000;

// Element size not 1, 2 or 4, capacity above 0x1000000, null record, or null storage with a capacity:
// 0x80000001. Else fills the record with both positions 0 and returns 0.
u32 klib_ringBufferInit(u16 elementSize, u32 capacity, void* storage, klib_RingBufferRecord* ring);
// Both positions 0 (not while a writer or reader is active). 0, or 0x80000001 for a null record.
u32 klib_ringBufferClear(klib_RingBufferRecord* ring);
// Stored elements, or 0x80000005 for an inconsistent (or null) record.
u32 klib_ringBufferGetCount(const klib_RingBufferRecord* ring);
// capacity - count; 0x80000005 passes through.
u32 klib_ringBufferGetFree(const klib_RingBufferRecord* ring);
// Copies min(count, free) elements in; put = that number. 0x80000002 when not all fitted, else 0;
// 0x80000005 for an inconsistent record; 0x80000001 for null in (with count > 0) or a null record.
u32 klib_ringBufferWrite(u32 count, const void* in, u32* put, klib_RingBufferRecord* ring);
// Empty: got 0, 0x80000003. Else copies min(count, stored) elements out; got = that number; 4 when elements
// remain, else 0. 0x80000005 for an inconsistent record; 0x80000001 for null out (with count > 0) or a null record.
u32 klib_ringBufferRead(u32 count, void* out, u32* got, klib_RingBufferRecord* ring);
