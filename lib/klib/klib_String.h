// KUnicode (one code point, always < 0x110000) and KString<KUnicode>, a text of code points in a KVector with
// bounded exports to ASCII, Latin-1, UTF-16 (units or bytes) and UTF-8.
//
// Export pattern (toASCII .. toUTF16LE):
//   - `length` (optional) is set to 0 first; a null buffer, a size below the form's minimum (1 for the character
//     forms, 2 bytes for the UTF-16 byte forms, 4 with a byte-order mark) or an empty text give 0x80000005;
//   - nothing is written past `size` and the output is always terminated (NUL, zero unit or two zero bytes);
//   - when the buffer is full up to the terminator and code points remain: 0x80000002;
//   - a multi-byte sequence that does not fit the room left ends the conversion with 0 (toUTF8 and the UTF-16
//     byte forms); in toUTF16 a surrogate pair that does not fit gives 0x80000002;
//   - `length` receives the output length including the terminator (and byte-order mark), in the output's unit;
//     toUTF16 reports the units written (without the terminator) plus 2.
// The text ends at the vector's end or at the first code point 0.
#pragma once

#include "klib_Types.h"
#include "klib_Vector.h"

namespace KLIB {

class KUnicode
{
public:
    static constexpr u32 REPLACEMENT = 0xFFFD;
    static constexpr u32 LIMIT = 0x110000;

    KUnicode() : m_value(0) {}
    KUnicode(u32 value) : m_value(value < LIMIT ? value : REPLACEMENT) {}

    u32 getValue() const { return m_value; }
    bool operator==(const KUnicode& other) const { return m_value == other.m_value; }
    bool operator!=(const KUnicode& other) const { return m_value != other.m_value; }

    // c < 128: value c, 0; else U+FFFD, 0x80000003.
    u32 setASCII(unsigned char c);
    // Negative c: U+FFFD, 0x80000007; else value c, 0.
    u32 setChar(char c);
    // Stores the unit as is (a lone surrogate stays one); 0.
    u32 setUTF16(u16 unit);
    // A high/low surrogate pair: the combined value, used 2, result 6; otherwise value = high, used 1, result 0.
    u32 setUTF16Pair(u16 high, u16 low, u32* used);

    KUnicode getLowerCase() const; // ASCII A-Z mapped to a-z
    u32 makeLowerCase();

    // Out of range: the replacement is written and 0x80000003 given.
    u32 toASCII(char* out, char replacement) const;
    u32 toLatin1(unsigned char* out, unsigned char replacement) const;
    // One unit (count 1, 0) or a surrogate pair (count 2, 6).
    u32 toUTF16(u16* first, u16* second, u32* count) const;
    // 2 or 4 bytes; null out 0x80000001; too small 0x80000002 with written 0.
    u32 toUTF16BE(unsigned char* out, u32 size, u32* written) const;
    u32 toUTF16LE(unsigned char* out, u32 size, u32* written) const;
    // 1 to 4 bytes (a surrogate value gives EF BF BD); null out 0x80000001; too small 0x80000002 with written 0.
    u32 toUTF8(unsigned char* out, u32 size, u32* written) const;

    // Bytes of the UTF-8 form (1..4).
    u32 utf8Length() const;

private:
    u32 m_value;
};

template <class C> class KString;

template <> class KString<KUnicode> : public KVector<KUnicode>
{
public:
    explicit KString(u32 reservedCount = 0, const KAllocator& allocator = KAllocator())
        : KVector<KUnicode>(reservedCount, allocator)
    {
    }

    // Replaces the contents with the bytes of text: below 0x80 as code points, others as U+FFFD. Null: empty.
    void assign(const char* text);
    // Replaces the contents with the NUL-terminated UTF-16 text, surrogate pairs decoded. Null: empty.
    void assign(const u16* text);

    // Number of code points before the end or the first code point 0.
    u32 textLength() const;

    virtual u32 toASCII(char* buffer, u32 size, u32* length, char replacement) const;
    virtual u32 toLatin1(unsigned char* buffer, u32 size, u32* length, unsigned char replacement) const;
    virtual u32 toUTF16(u16* buffer, u32 size, u32* length) const;
    virtual u32 toUTF8(unsigned char* buffer, u32 size, u32* length) const;
    // byteOrder 0: big-endian, no mark; 1: mark FE FF, big-endian; 2: mark FF FE, little-endian; else 0x80000005.
    virtual u32 toUTF16WithOrder(unsigned char* buffer, u32 size, i32 byteOrder, u32* length) const;
    virtual u32 toUTF16BE(unsigned char* buffer, u32 size, u32* length) const;
    virtual u32 toUTF16LE(unsigned char* buffer, u32 size, u32* length) const;

    // Same code points up to the ends; mode 1 ignores ASCII case. False when this string has no elements.
    virtual bool equals(const u16* text, i32 mode) const;
    virtual bool equals(const char* text, i32 mode) const;
    // Also requires both vectors to hold the same number of elements.
    virtual bool equals(const KString& other, i32 mode) const;
};

} // namespace KLIB
