// Owns one array set built from descriptors and hands out each array's data pointer and byte size.
// Not synchronised: an accessor belongs to its owner's thread.
#pragma once

#include "parray_ArrayFactory.h"

#include <vector>

namespace PARRAY {

class ArrayAccessorForServer {
public:
    struct ArrayRecord {
        u32 typeCode;
        u32 dimensions;
        u32 x;
        u32 y;
        u32 z;
        IArray* array;
        u64 reserved; // 0; left to the users of the set
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

private:
    u8* m_pSet = nullptr;
    std::vector<u32> m_Descriptors;
    std::vector<ArrayRecord> m_Records;
};

} // namespace PARRAY
