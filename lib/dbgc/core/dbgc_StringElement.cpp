#include "dbgc_StringElement.h"

#include <cstring>

#include "dbgc_Result.h"
#include "klib_Print.h"

namespace DBGC {

namespace {

constexpr u32 MAX_WORD = 0xFFFF;

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A non-empty word of decimal digits only.
bool allDigits(const char* text)
{
    if (text == nullptr || *text == '\0') {
        return false;
    }
    for (const char* p = text; *p != '\0'; ++p) {
        if (!isDigit(*p)) {
            return false;
        }
    }
    return true;
}

i32 hexDigit(char c)
{
    if (isDigit(c)) {
        return c - '0';
    }
    const char l = lower(c);
    if (l >= 'a' && l <= 'f') {
        return l - 'a' + 10;
    }
    return -1;
}

} // namespace

bool StringElement::equals(const char* other) const
{
    if (m_text == nullptr || other == nullptr) {
        return false;
    }
    const char* a = m_text;
    const char* b = other;
    while (*a != '\0' && *b != '\0') {
        if (lower(*a) != lower(*b)) {
            return false;
        }
        ++a;
        ++b;
    }
    return *a == *b;
}

u32 StringElement::length() const
{
    return m_text == nullptr ? 0 : klib_strnlen(m_text, MAX_WORD);
}

i32 StringElement::toInt() const
{
    i32 value = 0;
    if (m_text == nullptr || klib_strtol(&value, m_text, nullptr, 10, length()) >= RESULT_FAILED) {
        return 0;
    }
    return value;
}

u32 StringElement::toUInt() const
{
    u32 value = 0;
    if (m_text == nullptr || klib_strtoul(&value, m_text, nullptr, 10, length()) >= RESULT_FAILED) {
        return 0;
    }
    return value;
}

u32 StringElement::toHex() const
{
    u32 value = 0;
    if (m_text == nullptr || klib_strtoul(&value, m_text, nullptr, 16, length()) >= RESULT_FAILED) {
        return 0;
    }
    return value;
}

u32 StringElement::toUInt(u32* value, i32 base) const
{
    if (value == nullptr) {
        return RESULT_FAILED;
    }
    *value = 0;
    const u32 n = length();
    if (n == 0) {
        return RESULT_FAILED;
    }
    u32 parsed = 0;
    char* end = nullptr;
    if (klib_strtoul(&parsed, m_text, &end, base, n) >= RESULT_FAILED || end != m_text + n) {
        return RESULT_FAILED;
    }
    // The parser accepts a sign; a console index or count never has one.
    if (m_text[0] == '-' || m_text[0] == '+') {
        return RESULT_FAILED;
    }
    *value = parsed;
    return 0;
}

u32 StringElement::toStrictUInt(u32* value) const
{
    if (value == nullptr) {
        return RESULT_FAILED;
    }
    *value = 0;
    if (!allDigits(m_text)) {
        return RESULT_FAILED;
    }
    return toFieldUInt(value);
}

u32 StringElement::toFieldUInt(u32* value) const
{
    if (value == nullptr) {
        return RESULT_FAILED;
    }
    *value = 0;
    if (m_text == nullptr || !isDigit(m_text[0])) {
        return RESULT_FAILED;
    }
    u32 parsed = 0;
    if (klib_strtoul(&parsed, m_text, nullptr, 10, length()) >= RESULT_FAILED) {
        return RESULT_FAILED;
    }
    *value = parsed;
    return 0;
}

u32 StringElement::toStrictInt(i32* value) const
{
    if (value == nullptr) {
        return RESULT_FAILED;
    }
    *value = 0;
    if (m_text == nullptr) {
        return RESULT_FAILED;
    }
    if (!allDigits(m_text[0] == '-' ? m_text + 1 : m_text)) {
        return RESULT_FAILED;
    }
    i32 parsed = 0;
    if (klib_strtol(&parsed, m_text, nullptr, 10, length()) >= RESULT_FAILED) {
        return RESULT_FAILED;
    }
    *value = parsed;
    return 0;
}

u32 StringElement::toHexByte(u8* value) const
{
    if (value == nullptr) {
        return RESULT_FAILED;
    }
    *value = 0;
    const u32 n = length();
    if (n == 0 || n > 2) {
        return RESULT_FAILED;
    }
    i32 result = 0;
    for (u32 i = 0; i < n; ++i) {
        const i32 digit = hexDigit(m_text[i]);
        if (digit < 0) {
            return RESULT_FAILED;
        }
        result = result * 16 + digit;
    }
    *value = static_cast<u8>(result);
    return 0;
}

} // namespace DBGC
