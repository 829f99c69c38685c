#include "expression_LevelExpression.h"

#include "expression_Text.h"

#include <cmath>
#include <cstring>

namespace Expression {

namespace {

constexpr u32 SHORT_BUFFER_MIN = 8;
constexpr char INFINITY_TEXT[] = "\xE2\x88\x9E";
constexpr char MINUS_INFINITY_TEXT[] = "-\xE2\x88\x9E";

u32 writeLiteral(char* buffer, const char* text)
{
    const u32 length = static_cast<u32>(std::strlen(text));
    std::memcpy(buffer, text, length + 1);
    return length;
}

// The short-value formatter: "∞", "-∞", or value / 10^decimals.
u32 formatShort(char* buffer, u32 size, i32 value, u32 decimals, u32* length)
{
    if (size < SHORT_BUFFER_MIN) {
        buffer[0] = '\0';
        return RESULT_BUFFER_TOO_SMALL;
    }
    u32 printed = 0;
    if (value == 32767) {
        printed = writeLiteral(buffer, INFINITY_TEXT);
    } else if (value == -32768) {
        printed = writeLiteral(buffer, MINUS_INFINITY_TEXT);
    } else {
        printed = formatFixedPoint(buffer, value, decimals);
    }
    *length = printed + 1;
    return RESULT_OK;
}

} // namespace

u32 LevelExpression::valueToText(char* buffer, u32* length, u32 size, const KVariant& value, const ValueInfo& info,
                                 u16) const
{
    u32 unused = 0;
    if (length == nullptr) {
        length = &unused;
    }
    *length = 0;
    if (buffer == nullptr || size == 0) {
        return RESULT_NOT_SUPPORTED;
    }
    // Levels are 16-bit; wider values show as the nearest level.
    i32 v = value.getInt();
    v = v < -32768 ? -32768 : (v > 32767 ? 32767 : v);
    if (static_cast<i16>(v) == static_cast<i16>(info.min.getInt())) {
        if (size < sizeof(MINUS_INFINITY_TEXT)) {
            buffer[0] = '\0';
            return RESULT_BUFFER_TOO_SMALL;
        }
        *length = writeLiteral(buffer, MINUS_INFINITY_TEXT) + 1;
        return RESULT_OK;
    }
    if (v < -9999) {
        return formatShort(buffer, size, v / 10, 1, length);
    }
    return formatShort(buffer, size, v, 2, length);
}

u32 LevelExpression::textToValue(KVariant* out, const char* text, u32 textLength, const ValueInfo& info) const
{
    if (out == nullptr || text == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    u32 status = 0;
    const f64 number = parseEngineeringNumber(text, textLength, &status);
    if (status != 0 || !std::isfinite(number)) {
        return RESULT_BAD_ARGUMENT;
    }
    f64 scaled = number * info.scaling + 0.5;
    if (scaled < -32768.0) {
        scaled = -32768.0;
    } else if (scaled > 32767.0) {
        scaled = 32767.0;
    }
    const KVariant level(static_cast<i32>(scaled));
    return quantizeValue(out, level, info, 1);
}

u32 LevelExpression::valueToNormalized(u32* out, const KVariant& value, const ValueInfo&) const
{
    if (out == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    const f64 v = value.getInt();
    f64 n = m_NormMin;
    if (v >= -2000) {
        n = (v + 2000) * 30 / 500 + 150;
    } else if (v >= -4000) {
        n = (v + 4000) * 30 / 1000 + 90;
    } else if (v >= -6000) {
        n = (v + 6000) * 20 / 1000 + 50;
    } else if (v >= -14100) {
        n = (v + 14100) * 19 / 8100 + 31;
    }
    if (n < m_NormMin) {
        n = m_NormMin;
    } else if (n > m_NormMax) {
        n = m_NormMax;
    }
    *out = static_cast<u32>(n + 0.5);
    return RESULT_OK;
}

u32 LevelExpression::normalizedToValue(KVariant* out, const u32* normalized, const ValueInfo& info) const
{
    const Table* table = preferredTable();
    if (table == nullptr) {
        return DefaultExpression::normalizedToValue(out, normalized, info);
    }
    if (out == nullptr || normalized == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    const i64 n = *normalized;
    i64 v = 0;
    if (n >= 151) {
        v = (500 * n - 75000) / 30 - 2000;
    } else if (n >= 91) {
        v = (1000 * n - 90000) / 30 - 4000;
    } else if (n >= 51) {
        v = (1000 * n - 50000) / 20 - 6000;
    } else if (n >= 31) {
        v = (8100 * n - 251100) / 19 - 14100;
    } else {
        v = info.min.getInt();
    }
    out->setInt(static_cast<i32>(table->entries[nearestIndex(*table, v)]));
    return RESULT_OK;
}

u32 LevelExpression::getSegmentPattern(u32* out, u32 count, const KVariant& value) const
{
    if (out == nullptr || count == 0 || count > LEVEL_COARSE_COUNT) {
        return RESULT_BAD_ARGUMENT;
    }
    for (u32 i = 0; i < count; ++i) {
        out[i] = 0;
    }
    if (!m_Coarse.isPresent()) {
        return RESULT_OK;
    }
    const i64 v = value.getInt();
    const u32 per = LEVEL_COARSE_COUNT / count;
    // k: leading entries <= v; z: one past the 0 dB entry when the scan passed it.
    u32 k = 0;
    u32 z = 0;
    for (; k < m_Coarse.count && m_Coarse.entries[k] <= v; ++k) {
        if (m_Coarse.entries[k] == 0) {
            z = k + 1;
        }
    }
    u32 lit = k / per;
    if (v > 0 && k / per == z / per) {
        ++lit;
    }
    for (u32 i = 0; i < lit && i < count; ++i) {
        out[i] = 0xFFFFFFFFu;
    }
    return RESULT_OK;
}

} // namespace Expression
