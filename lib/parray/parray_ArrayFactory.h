// Array descriptors, size codes and the in-memory array set.
//
// Descriptor: eight u32 - element type code (< 8), size codes of x, y and z, four words for the callers.
// Size code: bits 0-23 n; bits 24-27 rounding (1..6 round up to a multiple of 2, 4, 8, 16, 32, 64);
// bits 28-31 base (0 n, 1 n * A, 2 n * B, 3 ceil(A / n), 4 ceil(B / n), others n). Base first, then rounding.
// Array set: "#Ar1", u32 count, then count pointers to IArray in descriptor order (8 + 8 * count bytes).
#pragma once

#include "parray_Array.h"

namespace PARRAY {

constexpr u32 DESCRIPTOR_WORDS = 8;
constexpr u32 SET_HEADER_SIZE = 8;

namespace ArrayFactory {

// Decoded size; 0 for base 3 or 4 with n = 0, 0xFFFFFFFF when the size does not fit in 32 bits.
u32 decodeSize(u32 code, u32 a, u32 b);

// 0 when the x code is 0, 1 when the y code is 0, 2 when the z code is 0, else 3 (0 for a null descriptor).
u32 getDimensionCount(const u32* descriptor);

// Builds a set from `count` descriptors of DESCRIPTOR_WORDS words each. Null arguments, count 0, a = 0 or
// b = 0, a bad descriptor or a failed creation: 0x80000000. On a failure after the set was allocated,
// *outSet still holds the partly built set, which the caller destroys with destroySet.
u32 createSet(u8** outSet, u32* outSize, const u32* descriptors, u32 count, u32 a, u32 b);

// Address of the index-th array pointer; null for a null set, a wrong tag or index >= count.
IArray** getArrayAt(u8* set, u32 index);

// Destroys every array of the set (empty slots are skipped), zeroes the header and frees the set.
// Null set or wrong tag: 0x80000000 and nothing is touched. The set is freed in every other case; the result
// is 0x80000000 when the descriptors are missing, their count differs from the set's, or one of them has a
// bad type code or dimension count.
u32 destroySet(u8* set, const u32* descriptors, u32 count);

} // namespace ArrayFactory

} // namespace PARRAY
