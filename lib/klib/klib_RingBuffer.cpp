// Single-producer single-consumer ring of 1-, 2- or 4-byte elements.
#include "klib_RingBuffer.h"
#include "klib_Result.h"

#include <cstring>

namespace {

constexpr u32 kMoreRemain = 4;
constexpr u32 kIndexMask = 0xFFFFFF;

u32 indexOf(u32 position)
{
    return position & kIndexMask;
}

u32 wrapOf(u32 position)
{
    return position >> 24;
}

// Count from the two positions, or KLIB::RESULT_INCONSISTENT. An index at or beyond the capacity is refused as well,
// since it would address memory outside the storage.
u32 countFrom(u32 w, u32 r, u32 capacity)
{
    const u32 wrapDifference = (wrapOf(w) - wrapOf(r)) & 0xFF;
    if (wrapDifference > 1) {
        return KLIB::RESULT_INCONSISTENT;
    }
    const u32 wIndex = indexOf(w);
    const u32 rIndex = indexOf(r);
    if ((capacity != 0 && (wIndex >= capacity || rIndex >= capacity)) ||
        (capacity == 0 && (wIndex != 0 || rIndex != 0))) {
        return KLIB::RESULT_INCONSISTENT;
    }
    const u32 top = wIndex + (wrapDifference != 0 ? capacity : 0);
    if (top < rIndex) {
        return KLIB::RESULT_INCONSISTENT;
    }
    const u32 count = top - rIndex;
    return count > capacity ? KLIB::RESULT_INCONSISTENT : count;
}

// Position after n steps (n <= capacity): the index wraps to 0 at the capacity and the wrap count goes up by one.
u32 advance(u32 position, u32 n, u32 capacity)
{
    u32 index = indexOf(position) + n;
    u32 wrap = wrapOf(position);
    if (index >= capacity) {
        index -= capacity;
        wrap = (wrap + 1) & 0xFF;
    }
    return (wrap << 24) | index;
}

} // namespace

u32 klib_ringBufferInit(u16 elementSize, u32 capacity, void* storage, klib_RingBufferRecord* ring)
{
    if (ring == nullptr || (elementSize != 1 && elementSize != 2 && elementSize != 4) ||
        capacity > KLIB_RING_MAX_CAPACITY || (storage == nullptr && capacity != 0)) {
        return KLIB::RESULT_BAD_ARGUMENT;
    }
    ring->elementSize = elementSize;
    ring->capacity = capacity;
    ring->storage = storage;
    ring->writePosition.store(0, std::memory_order_relaxed);
    ring->readPosition.store(0, std::memory_order_release);
    return 0;
}

u32 klib_ringBufferClear(klib_RingBufferRecord* ring)
{
    if (ring == nullptr) {
        return KLIB::RESULT_BAD_ARGUMENT;
    }
    ring->writePosition.store(0, std::memory_order_release);
    ring->readPosition.store(0, std::memory_order_release);
    return 0;
}

u32 klib_ringBufferGetCount(const klib_RingBufferRecord* ring)
{
    if (ring == nullptr) {
        return KLIB::RESULT_INCONSISTENT;
    }
    const u32 r = ring->readPosition.load(std::memory_order_acquire);
    const u32 w = ring->writePosition.load(std::memory_order_acquire);
    return countFrom(w, r, ring->capacity);
}

u32 klib_ringBufferGetFree(const klib_RingBufferRecord* ring)
{
    const u32 count = klib_ringBufferGetCount(ring);
    if (count == KLIB::RESULT_INCONSISTENT) {
        return count;
    }
    return ring->capacity - count;
}

u32 klib_ringBufferWrite(u32 count, const void* in, u32* put, klib_RingBufferRecord* ring)
{
    if (put != nullptr) {
        *put = 0;
    }
    if (ring == nullptr || (in == nullptr && count != 0)) {
        return KLIB::RESULT_BAD_ARGUMENT;
    }
    // The writer owns the write position; the read position comes from the other thread.
    const u32 w = ring->writePosition.load(std::memory_order_relaxed);
    const u32 r = ring->readPosition.load(std::memory_order_acquire);
    const u32 stored = countFrom(w, r, ring->capacity);
    if (stored == KLIB::RESULT_INCONSISTENT) {
        return KLIB::RESULT_INCONSISTENT;
    }
    const u32 room = ring->capacity - stored;
    const u32 n = count < room ? count : room;
    if (n != 0) {
        const u32 size = ring->elementSize;
        const u32 index = indexOf(w);
        const u32 first = n < ring->capacity - index ? n : ring->capacity - index;
        auto* base = static_cast<unsigned char*>(ring->storage);
        const auto* src = static_cast<const unsigned char*>(in);
        std::memcpy(base + static_cast<u64>(index) * size, src, static_cast<size_t>(first) * size);
        if (first < n) {
            std::memcpy(base, src + static_cast<u64>(first) * size, static_cast<size_t>(n - first) * size);
        }
        ring->writePosition.store(advance(w, n, ring->capacity), std::memory_order_release);
    }
    if (put != nullptr) {
        *put = n;
    }
    return n < count ? KLIB::RESULT_NOT_ALL_FITTED : 0;
}

u32 klib_ringBufferRead(u32 count, void* out, u32* got, klib_RingBufferRecord* ring)
{
    if (got != nullptr) {
        *got = 0;
    }
    if (ring == nullptr || (out == nullptr && count != 0)) {
        return KLIB::RESULT_BAD_ARGUMENT;
    }
    // The reader owns the read position; the write position comes from the other thread.
    const u32 r = ring->readPosition.load(std::memory_order_relaxed);
    const u32 w = ring->writePosition.load(std::memory_order_acquire);
    const u32 stored = countFrom(w, r, ring->capacity);
    if (stored == KLIB::RESULT_INCONSISTENT) {
        return KLIB::RESULT_INCONSISTENT;
    }
    if (stored == 0) {
        return KLIB::RESULT_EMPTY;
    }
    const u32 n = count < stored ? count : stored;
    if (n != 0) {
        const u32 size = ring->elementSize;
        const u32 index = indexOf(r);
        const u32 first = n < ring->capacity - index ? n : ring->capacity - index;
        const auto* base = static_cast<const unsigned char*>(ring->storage);
        auto* dst = static_cast<unsigned char*>(out);
        std::memcpy(dst, base + static_cast<u64>(index) * size, static_cast<size_t>(first) * size);
        if (first < n) {
            std::memcpy(dst + static_cast<u64>(first) * size, base, static_cast<size_t>(n - first) * size);
        }
        ring->readPosition.store(advance(r, n, ring->capacity), std::memory_order_release);
    }
    if (got != nullptr) {
        *got = n;
    }
    return stored > n ? kMoreRemain : 0;
}
