// Code point conversions and the bounded text exports of KString<KUnicode>.
#include "klib_String.h"
#include "klib_Result.h"

namespace KLIB {

namespace {

constexpr u32 kSurrogatePair = 6;

bool isHighSurrogate(u32 unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(u32 unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

u32 lowerAscii(u32 value)
{
    return (value >= 'A' && value <= 'Z') ? value + ('a' - 'A') : value;
}

// Writes the UTF-16 units of a code point as bytes; the caller has checked the room.
u32 putUTF16Bytes(u32 value, unsigned char* out, bool bigEndian)
{
    u16 units[2];
    u32 count = 1;
    if (value < 0x10000) {
        units[0] = static_cast<u16>(value);
    } else {
        units[0] = static_cast<u16>(0xD800 | ((value - 0x10000) >> 10));
        units[1] = static_cast<u16>(0xDC00 | (value & 0x3FF));
        count = 2;
    }
    for (u32 i = 0; i < count; ++i) {
        const unsigned char hi = static_cast<unsigned char>(units[i] >> 8);
        const unsigned char lo = static_cast<unsigned char>(units[i]);
        out[2 * i] = bigEndian ? hi : lo;
        out[2 * i + 1] = bigEndian ? lo : hi;
    }
    return 2 * count;
}

u32 utf16ByteCount(u32 value)
{
    return value < 0x10000 ? 2 : 4;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// KUnicode
// ---------------------------------------------------------------------------------------------------------------

u32 KUnicode::setASCII(unsigned char c)
{
    if (c < 128) {
        m_value = c;
        return 0;
    }
    m_value = REPLACEMENT;
    return RESULT_OUT_OF_RANGE;
}

u32 KUnicode::setChar(char c)
{
    const int value = static_cast<signed char>(c);
    if (value < 0) {
        m_value = REPLACEMENT;
        return RESULT_NEGATIVE_CHAR;
    }
    m_value = static_cast<u32>(value);
    return 0;
}

u32 KUnicode::setUTF16(u16 unit)
{
    m_value = unit;
    return 0;
}

u32 KUnicode::setUTF16Pair(u16 high, u16 low, u32* used)
{
    if (isHighSurrogate(high) && isLowSurrogate(low)) {
        m_value = 0x10000 + (((high & 0x3FFu) << 10) | (low & 0x3FFu));
        if (used != nullptr) {
            *used = 2;
        }
        return kSurrogatePair;
    }
    m_value = high;
    if (used != nullptr) {
        *used = 1;
    }
    return 0;
}

KUnicode KUnicode::getLowerCase() const
{
    return KUnicode(lowerAscii(m_value));
}

u32 KUnicode::makeLowerCase()
{
    m_value = lowerAscii(m_value);
    return 0;
}

u32 KUnicode::toASCII(char* out, char replacement) const
{
    if (out == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    if (m_value < 128) {
        *out = static_cast<char>(m_value);
        return 0;
    }
    *out = replacement;
    return RESULT_OUT_OF_RANGE;
}

u32 KUnicode::toLatin1(unsigned char* out, unsigned char replacement) const
{
    if (out == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    if (m_value < 256) {
        *out = static_cast<unsigned char>(m_value);
        return 0;
    }
    *out = replacement;
    return RESULT_OUT_OF_RANGE;
}

u32 KUnicode::toUTF16(u16* first, u16* second, u32* count) const
{
    if (first == nullptr || (m_value >= 0x10000 && second == nullptr)) {
        return RESULT_BAD_ARGUMENT;
    }
    if (m_value < 0x10000) {
        *first = static_cast<u16>(m_value);
        if (count != nullptr) {
            *count = 1;
        }
        return 0;
    }
    *first = static_cast<u16>(0xD800 | ((m_value - 0x10000) >> 10));
    *second = static_cast<u16>(0xDC00 | (m_value & 0x3FF));
    if (count != nullptr) {
        *count = 2;
    }
    return kSurrogatePair;
}

static u32 unicodeToUTF16Bytes(u32 value, unsigned char* out, u32 size, u32* written, bool bigEndian)
{
    if (written != nullptr) {
        *written = 0;
    }
    if (out == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    if (utf16ByteCount(value) > size) {
        return RESULT_TOO_SMALL;
    }
    const u32 n = putUTF16Bytes(value, out, bigEndian);
    if (written != nullptr) {
        *written = n;
    }
    return 0;
}

u32 KUnicode::toUTF16BE(unsigned char* out, u32 size, u32* written) const
{
    return unicodeToUTF16Bytes(m_value, out, size, written, true);
}

u32 KUnicode::toUTF16LE(unsigned char* out, u32 size, u32* written) const
{
    return unicodeToUTF16Bytes(m_value, out, size, written, false);
}

u32 KUnicode::utf8Length() const
{
    if (m_value < 0x80) {
        return 1;
    }
    if (m_value < 0x800) {
        return 2;
    }
    if (m_value < 0x10000) {
        return 3; // surrogate values are written as U+FFFD, also 3 bytes
    }
    return 4;
}

u32 KUnicode::toUTF8(unsigned char* out, u32 size, u32* written) const
{
    if (written != nullptr) {
        *written = 0;
    }
    if (out == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    const u32 n = utf8Length();
    if (n > size) {
        return RESULT_TOO_SMALL;
    }
    // A lone surrogate has no UTF-8 form: write U+FFFD instead.
    const u32 v = (m_value >= 0xD800 && m_value <= 0xDFFF) ? REPLACEMENT : m_value;
    switch (n) {
    case 1:
        out[0] = static_cast<unsigned char>(v);
        break;
    case 2:
        out[0] = static_cast<unsigned char>(0xC0 | (v >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (v & 0x3F));
        break;
    case 3:
        out[0] = static_cast<unsigned char>(0xE0 | (v >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (v & 0x3F));
        break;
    default:
        out[0] = static_cast<unsigned char>(0xF0 | (v >> 18));
        out[1] = static_cast<unsigned char>(0x80 | ((v >> 12) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3F));
        out[3] = static_cast<unsigned char>(0x80 | (v & 0x3F));
        break;
    }
    if (written != nullptr) {
        *written = n;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// KString<KUnicode>
// ---------------------------------------------------------------------------------------------------------------

void KString<KUnicode>::assign(const char* text)
{
    clear();
    if (text == nullptr) {
        return;
    }
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        push_back(KUnicode(*p < 0x80 ? *p : KUnicode::REPLACEMENT));
    }
}

void KString<KUnicode>::assign(const u16* text)
{
    clear();
    if (text == nullptr) {
        return;
    }
    const u16* p = text;
    while (*p != 0) {
        KUnicode cp;
        u32 used = 1;
        // The low unit is read only after a high surrogate, which cannot be the terminator.
        cp.setUTF16Pair(p[0], isHighSurrogate(p[0]) ? p[1] : 0, &used);
        push_back(cp);
        p += used;
    }
}

u32 KString<KUnicode>::textLength() const
{
    const KUnicode* p = data();
    const u32 n = size();
    u32 i = 0;
    while (i < n && p[i].getValue() != 0) {
        ++i;
    }
    return i;
}

namespace {

// Character forms: one output character per code point, NUL-terminated.
template <class Ch, class Convert>
u32 exportCharacters(const KString<KUnicode>& s, Ch* buffer, u32 size, u32* length, Convert convert)
{
    if (length != nullptr) {
        *length = 0;
    }
    const u32 n = s.textLength();
    if (buffer == nullptr || size < 1 || n == 0) {
        return RESULT_BAD_EXPORT;
    }
    u32 result = 0;
    u32 w = 0;
    for (u32 i = 0; i < n; ++i) {
        if (w + 1 >= size) {
            result = RESULT_TOO_SMALL;
            break;
        }
        buffer[w++] = convert(s.data()[i]);
    }
    buffer[w] = 0;
    if (length != nullptr) {
        *length = w + 1;
    }
    return result;
}

// UTF-16 byte forms; bom: 0 none, 1 FE FF, 2 FF FE.
u32 exportUTF16Bytes(const KString<KUnicode>& s, unsigned char* buffer, u32 size, bool bigEndian, u32 bom, u32* length)
{
    if (length != nullptr) {
        *length = 0;
    }
    const u32 n = s.textLength();
    const u32 minimum = bom != 0 ? 4 : 2;
    if (buffer == nullptr || size < minimum || n == 0) {
        return RESULT_BAD_EXPORT;
    }
    u64 w = 0;
    if (bom == 1) {
        buffer[0] = 0xFE;
        buffer[1] = 0xFF;
        w = 2;
    } else if (bom == 2) {
        buffer[0] = 0xFF;
        buffer[1] = 0xFE;
        w = 2;
    }
    u32 result = 0;
    for (u32 i = 0; i < n; ++i) {
        const u32 value = s.data()[i].getValue();
        if (w + 2 + 2 > size) {
            result = RESULT_TOO_SMALL; // not even one unit fits before the terminator
            break;
        }
        if (w + utf16ByteCount(value) + 2 > size) {
            break; // a surrogate pair that does not fit ends the text
        }
        w += putUTF16Bytes(value, buffer + w, bigEndian);
    }
    buffer[w] = 0;
    buffer[w + 1] = 0;
    if (length != nullptr) {
        *length = static_cast<u32>(w + 2);
    }
    return result;
}

} // namespace

u32 KString<KUnicode>::toASCII(char* buffer, u32 size, u32* length, char replacement) const
{
    return exportCharacters(*this, buffer, size, length, [replacement](const KUnicode& c) {
        char out;
        c.toASCII(&out, replacement);
        return out;
    });
}

u32 KString<KUnicode>::toLatin1(unsigned char* buffer, u32 size, u32* length, unsigned char replacement) const
{
    return exportCharacters(*this, buffer, size, length, [replacement](const KUnicode& c) {
        unsigned char out;
        c.toLatin1(&out, replacement);
        return out;
    });
}

u32 KString<KUnicode>::toUTF16(u16* buffer, u32 size, u32* length) const
{
    if (length != nullptr) {
        *length = 0;
    }
    const u32 n = textLength();
    if (buffer == nullptr || size < 1 || n == 0) {
        return RESULT_BAD_EXPORT;
    }
    u32 result = 0;
    u32 w = 0;
    for (u32 i = 0; i < n; ++i) {
        u16 first = 0;
        u16 second = 0;
        u32 count = 1;
        data()[i].toUTF16(&first, &second, &count);
        if (static_cast<u64>(w) + count + 1 > size) {
            result = RESULT_TOO_SMALL;
            break;
        }
        buffer[w++] = first;
        if (count == 2) {
            buffer[w++] = second;
        }
    }
    buffer[w] = 0;
    if (length != nullptr) {
        *length = w + 2;
    }
    return result;
}

u32 KString<KUnicode>::toUTF8(unsigned char* buffer, u32 size, u32* length) const
{
    if (length != nullptr) {
        *length = 0;
    }
    const u32 n = textLength();
    if (buffer == nullptr || size < 1 || n == 0) {
        return RESULT_BAD_EXPORT;
    }
    u32 result = 0;
    u32 w = 0;
    for (u32 i = 0; i < n; ++i) {
        if (w + 1 >= size) {
            result = RESULT_TOO_SMALL;
            break;
        }
        u32 written = 0;
        // Room left before the terminator; a sequence that does not fit ends the text.
        if (data()[i].toUTF8(buffer + w, size - 1 - w, &written) != 0) {
            break;
        }
        w += written;
    }
    buffer[w] = 0;
    if (length != nullptr) {
        *length = w + 1;
    }
    return result;
}

u32 KString<KUnicode>::toUTF16WithOrder(unsigned char* buffer, u32 size, i32 byteOrder, u32* length) const
{
    switch (byteOrder) {
    case 0:
        return exportUTF16Bytes(*this, buffer, size, true, 0, length);
    case 1:
        return exportUTF16Bytes(*this, buffer, size, true, 1, length);
    case 2:
        return exportUTF16Bytes(*this, buffer, size, false, 2, length);
    default:
        if (length != nullptr) {
            *length = 0;
        }
        return RESULT_BAD_EXPORT;
    }
}

u32 KString<KUnicode>::toUTF16BE(unsigned char* buffer, u32 size, u32* length) const
{
    return exportUTF16Bytes(*this, buffer, size, true, 0, length);
}

u32 KString<KUnicode>::toUTF16LE(unsigned char* buffer, u32 size, u32* length) const
{
    return exportUTF16Bytes(*this, buffer, size, false, 0, length);
}

namespace {

// Compares the text of s with a sequence of code points delivered by next() (0 = end).
template <class Next> bool equalsSequence(const KString<KUnicode>& s, i32 mode, Next next)
{
    const u32 n = s.size();
    if (n == 0) {
        return false;
    }
    for (u32 i = 0;; ++i) {
        u32 a = i < n ? s.data()[i].getValue() : 0;
        u32 b = next();
        if (mode == 1) {
            a = lowerAscii(a);
            b = lowerAscii(b);
        }
        if (a != b) {
            return false;
        }
        if (a == 0) {
            return true;
        }
    }
}

} // namespace

bool KString<KUnicode>::equals(const u16* text, i32 mode) const
{
    if (text == nullptr) {
        return false;
    }
    const u16* p = text;
    return equalsSequence(*this, mode, [&p]() -> u32 {
        if (*p == 0) {
            return 0;
        }
        KUnicode cp;
        u32 used = 1;
        cp.setUTF16Pair(p[0], isHighSurrogate(p[0]) ? p[1] : 0, &used);
        p += used;
        return cp.getValue();
    });
}

bool KString<KUnicode>::equals(const char* text, i32 mode) const
{
    if (text == nullptr) {
        return false;
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    return equalsSequence(*this, mode, [&p]() -> u32 {
        if (*p == 0) {
            return 0;
        }
        const u32 b = *p++;
        return b < 0x80 ? b : KUnicode::REPLACEMENT;
    });
}

bool KString<KUnicode>::equals(const KString& other, i32 mode) const
{
    if (other.size() != size()) {
        return false;
    }
    const u32 n = other.size();
    u32 i = 0;
    return equalsSequence(*this, mode, [&other, &i, n]() -> u32 {
        // A code point 0 ends the text; stay on it.
        if (i >= n) {
            return 0;
        }
        return other.data()[i++].getValue();
    });
}

} // namespace KLIB
