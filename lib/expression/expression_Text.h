// Number formatting and parsing shared by the expressions. All functions are re-entrant and never read or
// write past the lengths they are given.
#pragma once

#include "klib_Types.h"

namespace Expression {

// Reads a number with an optional engineering prefix from at most maxLength characters (stopping at a NUL).
// Spaces and tabs are dropped, then the text is read as "%lf %c %c": one field is the number; two fields are
// the number times the prefix ("Y" 1e24 ... "k" 1e3, "m" 1e-3 ... "y" 1e-24, case-sensitive); no field, three
// fields (a number followed by a unit) or an unknown prefix give 0.0 and *status = 0x80000000. A null text or
// maxLength 0 fails the same way. *status is written only on failure and may be null.
f64 parseEngineeringNumber(const char* text, u32 maxLength, u32* status);

// The decimal integer at the start of at most maxLength characters (stopping at a NUL), as atoi reads it:
// leading white space, an optional sign, digits; 0 when there are none. Saturates far outside 32 bits.
i64 parseLeadingInteger(const char* text, u32 maxLength);

// Writes value / 10^decimals with exactly `decimals` fraction digits (decimals 0..9), the same text that
// printf's "%d" / "%.<decimals>f" gives. `buffer` needs room for 13 bytes. Returns the characters written
// (without the NUL).
u32 formatFixedPoint(char* buffer, i64 value, u32 decimals);

// Number of decimals of a scaling factor: 1 -> 0, 10 -> 1, 100 -> 2 ...; 0 counts as 1.
u32 decimalsOfScaling(u32 scaling);

// Copies at most size - 1 characters of text (stopping at its NUL) and a NUL; size must be >= 1.
// Returns the characters copied.
u32 copyBounded(char* buffer, u32 size, const char* text);

// ASCII case-insensitive comparison of the first `length` characters of `text` (which ends at a NUL or at
// `length`) with the NUL-terminated `word`. Empty texts never match.
bool equalsIgnoreCase(const char* text, u32 length, const char* word);

} // namespace Expression
