// Plain integer values: quantized to multiples of the step within min..max, shown as decimal numbers with as
// many decimals as the scaling has zeros, mapped linearly onto the normalized range and control positions.
// Every other expression inherits these operations unless it overrides them.
#pragma once

#include "expression_IExpression.h"

namespace Expression {

class DefaultExpression : public IExpression
{
public:
    // The normalized range; given in the wrong order the bounds are swapped.
    constexpr DefaultExpression(u32 normMin, u32 normMax)
        : m_NormMin(normMin < normMax ? normMin : normMax), m_NormMax(normMin < normMax ? normMax : normMin)
    {
    }

    u32 getNormMin() const { return m_NormMin; }
    u32 getNormMax() const { return m_NormMax; }

    // Clamps to min..max (0x80000005 when it had to) and rounds to the nearest multiple of |step| (ties up),
    // never leaving min..max. tableMode is not used.
    u32 quantizeValue(KVariant* out, const KVariant& value, const ValueInfo& info, u32 tableMode) const override;
    // value + multiplier * step * steps (saturated to 32 bits), then quantizeValue.
    u32 stepValue(KVariant* out, const KVariant& value, const ValueInfo& info, i32 steps, u32 speed,
                  u32 tableMode) const override;
    u32 getTextLength(u32* length, const KVariant& value, const ValueInfo& info, u16 flags) const override;
    // Numbers: the formatted text, *length = characters + 1. Texts are copied (cut to the buffer), *length 0.
    // 0x80000005 outside min..max or for binaries; 0x80000006 without a buffer or with one under 13 bytes.
    // FLAG_APPEND_UNIT copies the unit after the NUL and adds its length.
    u32 valueToText(char* buffer, u32* length, u32 size, const KVariant& value, const ValueInfo& info,
                    u16 flags) const override;
    // The decimal integer at the start of the text times scaling, quantized.
    u32 textToValue(KVariant* out, const char* text, u32 textLength, const ValueInfo& info) const override;
    u32 valueToNormalized(u32* out, const KVariant& value, const ValueInfo& info) const override;
    u32 normalizedToValue(KVariant* out, const u32* normalized, const ValueInfo& info) const override;
    u32 valueToPosition(u32* out, u32 steps, const KVariant& value, const ValueInfo& info) const override;
    u32 positionToValue(KVariant* out, const u32* position, u32 steps, const ValueInfo& info) const override;
    u32 getSegmentPattern(u32* out, u32 count, const KVariant& value) const override;
    u32 getAuxValue(u32* out) const override;
    u32 getTableInfo(u32* count, u32* maxLength, u16 flags) const override;
    u32 getTableText(char* buffer, u32* length, u32 size, u32 index, u16 flags) const override;
    u32 indexToValue(KVariant* out, u32 index, const ValueInfo& info) const override;
    u32 valueToIndex(u32* out, const KVariant& value, const ValueInfo& info) const override;
    // |max - min| / |step|, at least 1.
    u32 getStepCount(const ValueInfo& info, u32 tableMode) const override;
    // Units per encoder tick: 1 at speed 1, about stepCount / 10 at speed 10.
    u32 getStepMultiplier(const ValueInfo& info, u32 speed, u32 tableMode) const override;

protected:
    // Copies the unit (at most strnlen(unit, 24) characters) after the text's NUL at offset *length and a NUL
    // after it; 0x80000006 when the buffer has no room for both.
    static u32 appendUnit(char* buffer, u32* length, u32 size, const ValueInfo& info);

    u32 m_NormMin;
    u32 m_NormMax;
};

// Helpers for the derived expressions.
i32 saturateToI32(i64 value);
// Rounds toward zero into 64 bits (saturating, NaN as 0) and keeps the low 32 bits.
u32 wrapToU32(f64 value);

} // namespace Expression
