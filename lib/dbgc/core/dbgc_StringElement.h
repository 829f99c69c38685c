// StringElement: one word of a console command line, a pointer into the console's line copy.
#pragma once

#include "klib_Types.h"

namespace DBGC {

class StringElement
{
public:
    StringElement() = default;
    virtual ~StringElement() = default;

    void set(const char* text) { m_text = text; }
    // The word, or null when absent.
    const char* text() const { return m_text; }
    // Equal to other ignoring ASCII case; false when either side is null.
    bool equals(const char* other) const;
    u32 length() const;

    // Leading-number conversions: the number the word starts with, 0 when absent or without digits.
    i32 toInt() const;
    u32 toUInt() const;
    u32 toHex() const;
    // The whole word as an unsigned number in base (2..36, or 0 for C-style prefixes): 0 and the value;
    // 0x80000000 (value 0) when absent, empty, not entirely a number or out of range.
    u32 toUInt(u32* value, i32 base) const;

    // Strict forms for commands whose numbers select or write data: an unsigned word must be decimal digits
    // only, a signed word an optional "-" followed by digits only, both in range; a byte word must be one or two
    // hexadecimal digits. 0 and the value, or 0x80000000.
    u32 toStrictUInt(u32* value) const;
    // A message field number: the word must start with a digit, and its leading digits count (in range).
    u32 toFieldUInt(u32* value) const;
    u32 toStrictInt(i32* value) const;
    u32 toHexByte(u8* value) const;

private:
    const char* m_text = nullptr;
};

} // namespace DBGC
