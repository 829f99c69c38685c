#include "expression_Text.h"

#include <cstdio>
#include <cstring>

#include "expression_Result.h"

namespace Expression {

namespace {

constexpr u32 PARSE_BUFFER_SIZE = 256;

bool prefixFactor(char prefix, f64* factor)
{
    switch (prefix) {
    case 'Y':
        *factor = 1e24;
        return true;
    case 'Z':
        *factor = 1e21;
        return true;
    case 'E':
        *factor = 1e18;
        return true;
    case 'P':
        *factor = 1e15;
        return true;
    case 'T':
        *factor = 1e12;
        return true;
    case 'G':
        *factor = 1e9;
        return true;
    case 'M':
        *factor = 1e6;
        return true;
    case 'k':
        *factor = 1e3;
        return true;
    case 'm':
        *factor = 1e-3;
        return true;
    case 'u':
        *factor = 1e-6;
        return true;
    case 'n':
        *factor = 1e-9;
        return true;
    case 'p':
        *factor = 1e-12;
        return true;
    case 'f':
        *factor = 1e-15;
        return true;
    case 'a':
        *factor = 1e-18;
        return true;
    case 'z':
        *factor = 1e-21;
        return true;
    case 'y':
        *factor = 1e-24;
        return true;
    default:
        return false;
    }
}

f64 fail(u32* status)
{
    if (status != nullptr) {
        *status = RESULT_FAILED;
    }
    return 0.0;
}

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

f64 parseEngineeringNumber(const char* text, u32 maxLength, u32* status)
{
    if (text == nullptr || maxLength == 0) {
        return fail(status);
    }
    // Drop blanks into a bounded copy; a text too long for it is not a number we accept.
    char compact[PARSE_BUFFER_SIZE];
    u32 kept = 0;
    for (u32 i = 0; i < maxLength && text[i] != '\0'; ++i) {
        if (text[i] == ' ' || text[i] == '\t') {
            continue;
        }
        if (kept + 1 >= PARSE_BUFFER_SIZE) {
            return fail(status);
        }
        compact[kept++] = text[i];
    }
    compact[kept] = '\0';

    f64 number = 0.0;
    char prefix = 0;
    char extra = 0;
    const int fields = std::sscanf(compact, "%lf %c %c", &number, &prefix, &extra);
    if (fields == 1) {
        return number;
    }
    if (fields == 2) {
        f64 factor = 1.0;
        if (!prefixFactor(prefix, &factor)) {
            return fail(status);
        }
        return number * factor;
    }
    return fail(status);
}

i64 parseLeadingInteger(const char* text, u32 maxLength)
{
    if (text == nullptr) {
        return 0;
    }
    u32 i = 0;
    while (i < maxLength && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < maxLength && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr i64 limit = 100000000000000000LL; // far beyond any 32-bit result, far below overflow
    i64 value = 0;
    for (; i < maxLength && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < limit) {
            value = value * 10 + (text[i] - '0');
        }
    }
    return negative ? -value : value;
}

u32 formatFixedPoint(char* buffer, i64 value, u32 decimals)
{
    char digits[24];
    u64 magnitude = value < 0 ? static_cast<u64>(0) - static_cast<u64>(value) : static_cast<u64>(value);
    u32 count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    // At least one digit before the point.
    while (count < decimals + 1) {
        digits[count++] = '0';
    }
    u32 out = 0;
    if (value < 0) {
        buffer[out++] = '-';
    }
    while (count > decimals) {
        buffer[out++] = digits[--count];
    }
    if (decimals > 0) {
        buffer[out++] = '.';
        while (count > 0) {
            buffer[out++] = digits[--count];
        }
    }
    buffer[out] = '\0';
    return out;
}

u32 decimalsOfScaling(u32 scaling)
{
    u32 decimals = 0;
    for (scaling /= 10; scaling != 0; scaling /= 10) {
        ++decimals;
    }
    return decimals;
}

u32 copyBounded(char* buffer, u32 size, const char* text)
{
    u32 length = 0;
    if (text != nullptr) {
        while (length + 1 < size && text[length] != '\0') {
            ++length;
        }
        std::memcpy(buffer, text, length);
    }
    buffer[length] = '\0';
    return length;
}

bool equalsIgnoreCase(const char* text, u32 length, const char* word)
{
    if (text == nullptr || word == nullptr) {
        return false;
    }
    u32 i = 0;
    for (; i < length && text[i] != '\0'; ++i) {
        if (word[i] == '\0' || lowerAscii(text[i]) != lowerAscii(word[i])) {
            return false;
        }
    }
    return i > 0 && word[i] == '\0';
}

} // namespace Expression
