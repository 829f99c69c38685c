#include "expression_DefaultExpression.h"

#include "expression_Text.h"

#include <cmath>
#include <cstring>

namespace Expression {

namespace {

// Factor of the stepping speed 1..10: the share of the range that one tick does not cover.
constexpr f64 SPEED_FACTORS[10] = {0.0,         0.516251755, 0.635580464, 0.717790849, 0.782491337,
                                   0.836666812, 0.883704193, 0.925530964, 0.963359838, 0.998008623};

constexpr u32 NUMBER_BUFFER_MIN = 13;
constexpr char INFINITY_TEXT[] = "\xE2\x88\x9E";
constexpr char MINUS_INFINITY_TEXT[] = "-\xE2\x88\x9E";

u32 writeLiteral(char* buffer, const char* text)
{
    const u32 length = static_cast<u32>(std::strlen(text));
    std::memcpy(buffer, text, length + 1);
    return length;
}

// The number formatter: "∞", "-∞", or value / 10^decimals with that many decimals.
u32 formatNumber(char* buffer, u32 size, i32 value, u32 scaling, u32* length)
{
    if (size < NUMBER_BUFFER_MIN) {
        if (size >= 1) {
            buffer[0] = '\0';
        }
        return RESULT_BUFFER_TOO_SMALL;
    }
    u32 printed = 0;
    if (value == 0x7FFFFFFF) {
        printed = writeLiteral(buffer, INFINITY_TEXT);
    } else if (value == static_cast<i32>(0x80000000u)) {
        printed = writeLiteral(buffer, MINUS_INFINITY_TEXT);
    } else {
        printed = formatFixedPoint(buffer, value, decimalsOfScaling(scaling));
    }
    *length = printed + 1;
    return RESULT_OK;
}

i64 absoluteStep(const ValueInfo& info)
{
    const i64 step = info.step.getInt();
    return step == 0 ? 1 : (step < 0 ? -step : step);
}

} // namespace

i32 saturateToI32(i64 value)
{
    if (value > 0x7FFFFFFFLL) {
        return 0x7FFFFFFF;
    }
    if (value < -0x80000000LL) {
        return static_cast<i32>(0x80000000u);
    }
    return static_cast<i32>(value);
}

u32 wrapToU32(f64 value)
{
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 9.0e18) {
        return static_cast<u32>(0xFFFFFFFFu);
    }
    if (value <= -9.0e18) {
        return 0;
    }
    return static_cast<u32>(static_cast<i64>(value));
}

u32 DefaultExpression::quantizeValue(KVariant* out, const KVariant& value, const ValueInfo& info, u32) const
{
    if (out == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    const i64 v = value.getInt();
    const i64 min = info.min.getInt();
    const i64 max = info.max.getInt();
    if (v < min) {
        out->setInt(static_cast<i32>(min));
        return RESULT_OUT_OF_RANGE;
    }
    if (v > max) {
        out->setInt(static_cast<i32>(max));
        return RESULT_OUT_OF_RANGE;
    }
    const i64 s = absoluteStep(info);
    i64 lo = v - v % s;
    i64 hi = 0;
    if (v >= 0) {
        hi = lo + s;
    } else {
        hi = lo;
        lo -= s;
    }
    // Both neighbours stay inside min..max (v itself is).
    if (lo < min) {
        lo = min;
    }
    if (hi > max) {
        hi = max;
    }
    out->setInt(static_cast<i32>(v - lo < hi - v ? lo : hi));
    return RESULT_OK;
}

u32 DefaultExpression::stepValue(KVariant* out, const KVariant& value, const ValueInfo& info, i32 steps, u32 speed,
                                 u32 tableMode) const
{
    if (out == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    const __int128 delta =
        static_cast<__int128>(getStepMultiplier(info, speed, tableMode)) * info.step.getInt() * steps;
    __int128 sum = delta + value.getInt();
    if (sum > 0x7FFFFFFF) {
        sum = 0x7FFFFFFF;
    } else if (sum < -0x80000000LL) {
        sum = -0x80000000LL;
    }
    const KVariant stepped(static_cast<i32>(sum));
    return quantizeValue(out, stepped, info, tableMode);
}

u32 DefaultExpression::getTextLength(u32* length, const KVariant& value, const ValueInfo& info, u16 flags) const
{
    char buffer[255];
    return valueToText(buffer, length, sizeof(buffer), value, info, flags);
}

u32 DefaultExpression::valueToText(char* buffer, u32* length, u32 size, const KVariant& value, const ValueInfo& info,
                                   u16 flags) const
{
    u32 unused = 0;
    if (length == nullptr) {
        length = &unused;
    }
    *length = 0;
    const i32 v = value.getInt();
    if (v < info.min.getInt() || v > info.max.getInt()) {
        return RESULT_OUT_OF_RANGE;
    }
    if (buffer == nullptr) {
        return RESULT_BUFFER_TOO_SMALL;
    }
    switch (value.getKind()) {
    case KVariant::KIND_STRING:
        if (size == 0) {
            return RESULT_BUFFER_TOO_SMALL;
        }
        copyBounded(buffer, size, value.getString());
        return RESULT_OK;
    case KVariant::KIND_BINARY:
        return RESULT_OUT_OF_RANGE;
    default:
        break;
    }
    const u32 result = formatNumber(buffer, size, v, info.scaling, length);
    if (result != RESULT_OK) {
        return result;
    }
    return (flags & FLAG_APPEND_UNIT) != 0 ? appendUnit(buffer, length, size, info) : RESULT_OK;
}

u32 DefaultExpression::appendUnit(char* buffer, u32* length, u32 size, const ValueInfo& info)
{
    u32 unitChars = static_cast<u32>(strnlen(info.unit, UNIT_MAX_LENGTH));
    if (info.unitLength < unitChars) {
        unitChars = info.unitLength;
    }
    if (static_cast<u64>(size) <= static_cast<u64>(*length) + unitChars) {
        return RESULT_BUFFER_TOO_SMALL;
    }
    std::memcpy(buffer + *length, info.unit, unitChars);
    buffer[*length + unitChars] = '\0';
    *length += unitChars;
    return RESULT_OK;
}

u32 DefaultExpression::textToValue(KVariant* out, const char* text, u32 textLength, const ValueInfo& info) const
{
    if (out == nullptr || text == nullptr || textLength == 0) {
        return RESULT_BAD_ARGUMENT;
    }
    const __int128 scaled = static_cast<__int128>(parseLeadingInteger(text, textLength)) * info.scaling;
    const i64 clamped =
        scaled > 0x7FFFFFFF ? 0x7FFFFFFF : (scaled < -0x80000000LL ? -0x80000000LL : static_cast<i64>(scaled));
    const KVariant number(static_cast<i32>(clamped));
    return quantizeValue(out, number, info, 0);
}

u32 DefaultExpression::valueToNormalized(u32* out, const KVariant& value, const ValueInfo& info) const
{
    if (out == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    const i64 min = info.min.getInt();
    const i64 max = info.max.getInt();
    if (max == min) {
        return RESULT_BAD_ARGUMENT;
    }
    const f64 range = static_cast<f64>(m_NormMax - m_NormMin);
    const f64 n =
        std::floor(range * static_cast<f64>(value.getInt() - min) / static_cast<f64>(max - min) + m_NormMin + 0.5);
    *out = wrapToU32(n);
    return RESULT_OK;
}

u32 DefaultExpression::normalizedToValue(KVariant* out, const u32* normalized, const ValueInfo& info) const
{
    if (out == nullptr || normalized == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    const u32 n = *normalized;
    const i64 min = info.min.getInt();
    const i64 max = info.max.getInt();
    if (n < m_NormMin) {
        out->setInt(static_cast<i32>(min));
    } else if (n > m_NormMax) {
        out->setInt(static_cast<i32>(max));
    } else if (m_NormMax == m_NormMin) {
        return RESULT_BAD_ARGUMENT;
    } else {
        const __int128 product = static_cast<__int128>(n - m_NormMin) * (max - min);
        const i64 quotient = static_cast<i64>(product / (m_NormMax - m_NormMin));
        out->setInt(saturateToI32(quotient + min));
    }
    return RESULT_OK;
}

u32 DefaultExpression::valueToPosition(u32* out, u32 steps, const KVariant& value, const ValueInfo& info) const
{
    if (out == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    const i64 min = info.min.getInt();
    const i64 max = info.max.getInt();
    if (max == min || steps == 0) {
        *out = 0;
        return RESULT_BAD_ARGUMENT;
    }
    const f64 position =
        std::floor(static_cast<f64>(value.getInt() - min) * (steps - 1) / static_cast<f64>(max - min) + 0.5);
    *out = wrapToU32(position);
    return RESULT_OK;
}

u32 DefaultExpression::positionToValue(KVariant* out, const u32* position, u32 steps, const ValueInfo& info) const
{
    if (out == nullptr || position == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    if (steps < 2) {
        out->setInt(0);
        return RESULT_BAD_ARGUMENT;
    }
    const i64 min = info.min.getInt();
    const i64 max = info.max.getInt();
    if (*position >= steps - 1) {
        out->setInt(static_cast<i32>(max));
        return RESULT_OK;
    }
    const f64 v = static_cast<f64>(max - min) * *position / (steps - 1) + static_cast<f64>(min);
    out->setInt(saturateToI32(static_cast<i64>(std::round(v))));
    return RESULT_OK;
}

u32 DefaultExpression::getSegmentPattern(u32* out, u32 count, const KVariant&) const
{
    if (out == nullptr && count != 0) {
        return RESULT_BAD_ARGUMENT;
    }
    for (u32 i = 0; i < count; ++i) {
        out[i] = 0;
    }
    return RESULT_OK;
}

u32 DefaultExpression::getAuxValue(u32* out) const
{
    if (out == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    *out = 0;
    return RESULT_OK;
}

u32 DefaultExpression::getTableInfo(u32* count, u32*, u16) const
{
    if (count != nullptr) {
        *count = 0;
    }
    return RESULT_NOT_SUPPORTED;
}

u32 DefaultExpression::getTableText(char* buffer, u32* length, u32 size, u32, u16) const
{
    if (buffer != nullptr && size != 0) {
        buffer[0] = '\0';
    }
    if (length != nullptr) {
        *length = 0;
    }
    return RESULT_NOT_SUPPORTED;
}

u32 DefaultExpression::indexToValue(KVariant* out, u32, const ValueInfo&) const
{
    if (out != nullptr) {
        out->setInt(0);
    }
    return RESULT_NOT_SUPPORTED;
}

u32 DefaultExpression::valueToIndex(u32* out, const KVariant&, const ValueInfo&) const
{
    if (out != nullptr) {
        *out = 0;
    }
    return RESULT_NOT_SUPPORTED;
}

u32 DefaultExpression::getStepCount(const ValueInfo& info, u32) const
{
    const i64 step = info.step.getInt();
    if (step == 0) {
        return 1;
    }
    i64 count = (static_cast<i64>(info.max.getInt()) - info.min.getInt()) / step;
    if (count == 0) {
        return 1;
    }
    if (count < 0) {
        count = -count;
    }
    return static_cast<u32>(count);
}

u32 DefaultExpression::getStepMultiplier(const ValueInfo& info, u32 speed, u32 tableMode) const
{
    const u32 n = getStepCount(info, tableMode);
    if (n <= 10) {
        return 1;
    }
    const u32 speedIndex = (speed < 1 ? 1 : (speed > 10 ? 10 : speed)) - 1;
    f64 m = std::floor(n - (n - 10.0) * SPEED_FACTORS[speedIndex] + 0.5);
    if (m < 10.0) {
        m = 10.0;
    } else if (m > n) {
        m = n;
    }
    return n / static_cast<u32>(m);
}

} // namespace Expression
