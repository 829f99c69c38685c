// Owns one array set built from descriptors and hands out each array's data pointer and byte size, and keeps a
// changed mark per array (in its record's reserved word) with a count of marked arrays, which create and clear
// reset.
// Not synchronised: an accessor belongs to its owner's thread.
#pragma once

#include "parray_ArrayFactory.h"

#include <vector>

namespace PARRAY {

class ArrayAccessorForServer
{
public:
    struct ArrayRecord
    {
        u32 typeCode;
        u32 dimensions;
        u32 x;
        u32 y;
        u32 z;
        IArray* array;
        u64 reserved; // the changed mark: 0, or 1 once markChanged saw the array
    };

    ArrayAccessorForServer() = default;
    ArrayAccessorForServer(const ArrayAccessorForServer&) = delete;
    ArrayAccessorForServer& operator=(const ArrayAccessorForServer&) = delete;
    virtual ~ArrayAccessorForServer();

    // Replaces the current set by one built from `count` descriptors (DESCRIPTOR_WORDS words each); the
    // descriptors are copied. Null descriptors, count 0 or a failed build: 0x80000000 and nothing is kept.
    u32 create(const u32* descriptors, u32 count, u32 a, u32 b);
    u32 getArrayCount() const { return static_cast<u32>(m_Records.size()); }
    // Both outputs are zeroed first; an index >= count gives 0x80000000.
    u32 getArray(void** outData, u32* outByteSize, u32 index) const;
    // The record of an index, or null.
    ArrayRecord* getRecord(u32 index);
    // Destroys the set and forgets the descriptors and records; 0.
    u32 clear();

    // Marks array index changed: true when this call set the mark (the changed count then grew by one); false
    // when it was marked already or the index is >= count.
    bool markChanged(u32 index)
    {
        if (index >= m_Records.size() || m_Records[index].reserved != 0) {
            return false;
        }
        m_Records[index].reserved = 1;
        ++m_changedCount;
        return true;
    }
    bool isChanged(u32 index) const { return index < m_Records.size() && m_Records[index].reserved != 0; }
    // Number of arrays marked since the last create or clear.
    u32 getChangedCount() const { return m_changedCount; }

private:
    u8* m_pSet = nullptr;
    std::vector<u32> m_Descriptors;
    std::vector<ArrayRecord> m_Records;
    u32 m_changedCount = 0;
};

} // namespace PARRAY
