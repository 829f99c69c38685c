// MeterPool: the meter values of one audio component instance, in four array sets built from the plug-in's
// meter descriptors (the array sets' 32-byte descriptors, whose last 16 bytes hold the meter's name, zero-padded
// and not necessarily terminated).
//
// Set 1 is read by the plug-in as 32-bit or float values. Sets 2 and 3 hold byte values: the meters named "level"
// or "gr" of type 6 (f32) become type 2 (u8) there; the sync thread writes the device's meter values into them
// and the editor link reads them. Set 4 is built with type 0 (u32) for every meter and handed to nobody.
//
// The pool works from its own copies of the descriptors and never reads the plug-in's list after initialize.
// Every operation runs under the pool's own lock, which is innermost: nothing else is locked while it is held.
#pragma once

#include <mutex>
#include <vector>

#include "dadov_Result.h"
#include "parray_ArrayAccessorForServer.h"

namespace DADOV {

class MeterPool
{
public:
    static constexpr u32 SET_COUNT = 4;
    static constexpr u32 NAME_OFFSET = 16; // bytes into a descriptor
    static constexpr u32 NAME_SIZE = 16;
    static constexpr u32 UNSET_FILL = 0xFFFFFFFFu;
    static constexpr u32 DEFAULT_PERIOD = 1000;
    static constexpr u8 GR_FILL = 254; // "gr" in set 2

    MeterPool() = default;
    // Does what release does.
    ~MeterPool();
    MeterPool(const MeterPool&) = delete;
    MeterPool& operator=(const MeterPool&) = delete;

    // Builds the four sets from count descriptors (8 words each) with numX and numY, and fills them: zero bytes,
    // except 254 in set 2 for a meter named "gr". A meter without storage (its size decodes to 0) ends the fill
    // there and the result is still 0. A pool that held sets is reset first.
    // Null descriptors or count 0: 0 and an empty pool. numX or numY 0, or a set that cannot be built: 0x80000000
    // and an empty pool. fill and period are only stored; uid is not used.
    [[nodiscard]] i32 initialize(const u32* descriptors, u32 count, u32 uid, u32 numX, u32 numY, u8 fill, u32 period);
    // Fills every meter again as initialize does: 0 (also for an empty pool); 0x80000000 when a meter without
    // storage ended the fill.
    i32 clearMeters();
    // Empties the pool: 0.
    i32 release();

    // Copies count bytes to byte offset of meter array `meter` of set 2 or 3: 0; 0x80000000 for another set, a
    // meter beyond the list or without storage, or a range beyond the array (nothing is written then).
    [[nodiscard]] i32 writeMeterBytes(u32 setNo, u32 meter, u32 offset, const void* bytes, u32 count);
    // out becomes the bytes of meter array `meter` of set 1 to 4: 0; 0x80000000 for another set, a meter beyond
    // the list or without storage, or no memory (out is then empty).
    [[nodiscard]] i32 copyMeterArray(u32 setNo, u32 meter, std::vector<u8>& out) const;
    // Runs visit(const PARRAY::ArrayAccessorForServer&) on set 1 to 4 under the pool's lock and returns what it
    // returns; visit must not lock anything. 0x80000000 without visiting for another set number.
    template <typename Visit> i32 visitSet(u32 setNo, Visit&& visit) const
    {
        if (setNo < 1 || setNo > SET_COUNT) {
            return DADOV_E_FAILED;
        }
        std::lock_guard<std::mutex> guard(m_lock);
        return visit(static_cast<const PARRAY::ArrayAccessorForServer&>(m_sets[setNo - 1]));
    }

    // Set 1 to 4 for a holder of its address (the manager accessor); null for another number. The holder reads
    // and writes elements but never rebuilds or clears the set: the set changes only under the pool's lock, by
    // initialize and release, and its values by clearMeters and writeMeterBytes.
    PARRAY::ArrayAccessorForServer* getArraySet(u32 setNo);
    u32 getDescriptorCount() const;
    // The fill byte given to initialize, or UNSET_FILL; the period given, or DEFAULT_PERIOD.
    u32 getFill() const;
    u32 getPeriod() const;

private:
    // One memset of the fill: an array's storage and the byte it is filled with.
    struct Fill
    {
        u8* data;
        u32 size;
        u8 value;
    };

    // Under the lock.
    void resetLocked();
    // Lists the fills of every meter in descriptor order, up to the first array without storage.
    bool planFillLocked();
    bool fillLocked();

    mutable std::mutex m_lock;
    u32 m_count = 0;
    u32 m_numX = 0;
    u32 m_numY = 0;
    u32 m_fill = UNSET_FILL;
    u32 m_period = DEFAULT_PERIOD;
    std::vector<u32> m_descriptors[SET_COUNT];
    std::vector<Fill> m_fills;
    bool m_fillsComplete = true; // no meter without storage cut the list short
    PARRAY::ArrayAccessorForServer m_sets[SET_COUNT];
};

} // namespace DADOV
