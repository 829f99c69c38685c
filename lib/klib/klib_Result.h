// Result codes of the utility library. 0 is success; failures have the top bit set. One value can mean different
// things to different routines: each name tells the routines' own meaning.
#pragma once

#include "klib_Types.h"

namespace KLIB {

constexpr u32 RESULT_FAILED = 0x80000000;
constexpr u32 RESULT_BAD_ARGUMENT = 0x80000001;

// Text and formatter routines.
constexpr u32 RESULT_TOO_SMALL = 0x80000002;     // the output is too small (text conversions)
constexpr u32 RESULT_MALFORMED = 0x80000002;     // text that is not a number
constexpr u32 RESULT_OVERFLOW = 0x80000002;      // a number above the type's range
constexpr u32 RESULT_OUT_OF_RANGE = 0x80000003;  // an index or count outside the text
constexpr u32 RESULT_NULL_POINTER = 0x80000003;  // a null argument of the formatter
constexpr u32 RESULT_UNDERFLOW = 0x80000003;     // a number below the type's range
constexpr u32 RESULT_NO_MATCH = 0x80000004;      // nothing of the expected form found
constexpr u32 RESULT_CUT = 0x80000005;           // the output was cut to fit
constexpr u32 RESULT_BAD_EXPORT = 0x80000005;    // a text that cannot be exported in the form asked for
constexpr u32 RESULT_NEGATIVE_CHAR = 0x80000007; // a negative character value

// Codecs.
constexpr u32 RESULT_BAD_CHARACTER = 0x80000002;    // a character outside the code's alphabet
constexpr u32 RESULT_OUTPUT_TOO_SMALL = 0x80000003; // the output cannot take the result

// Heap managers, containers and ring buffers.
constexpr u32 RESULT_NOT_FOUND = 0x80000002;      // unknown heap or block
constexpr u32 RESULT_NOT_ALL_FITTED = 0x80000002; // a ring buffer took part of the data, or could not be set up
constexpr u32 RESULT_EMPTY = 0x80000003;          // nothing to take
constexpr u32 RESULT_INCONSISTENT = 0x80000005;   // a ring buffer record that does not add up

// Variants.
constexpr u32 RESULT_VARIANT_BAD_INPUT = 0x80010001; // over-long text ("ERROR:" stored) or bad binary arguments
constexpr u32 RESULT_VARIANT_NO_MEMORY = 0x80010002; // no heap manager, no memory or binary too large

} // namespace KLIB
