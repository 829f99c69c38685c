// Conversions of one parameter value between its stored form (a KVariant), display text, a normalized integer
// range, a position on a control of N steps, a table index and a level-meter segment pattern; plus quantizing
// and stepping by encoder ticks.
//
// Values, min, max and step are read as 32-bit integers. Values written to `out` are signed integers unless a
// class says otherwise. Expressions hold no mutable state and may be shared by threads.
#pragma once

#include "expression_Result.h"
#include "klib_Types.h"
#include "klib_Variant.h"

namespace Expression {

// valueToText flag: append the unit's characters after the text's terminating NUL.
constexpr u16 FLAG_APPEND_UNIT = 0x100;

constexpr u32 UNIT_MAX_LENGTH = 24;

// The description of the parameter that every conversion receives.
struct ValueInfo
{
    KVariant min;
    KVariant max;
    KVariant nominal;
    KVariant def;
    KVariant step;
    u32 unitLength = 0;                  // characters of unit
    char unit[UNIT_MAX_LENGTH + 1] = {}; // at most 24 characters, NUL-terminated
    u32 scaling = 1;                     // stored integer / displayed number (10 = one decimal)
};

class IExpression
{
public:
    virtual u32 quantizeValue(KVariant* out, const KVariant& value, const ValueInfo& info, u32 tableMode) const = 0;
    virtual u32 stepValue(KVariant* out, const KVariant& value, const ValueInfo& info, i32 steps, u32 speed,
                          u32 tableMode) const = 0;
    virtual u32 getTextLength(u32* length, const KVariant& value, const ValueInfo& info, u16 flags) const = 0;
    virtual u32 valueToText(char* buffer, u32* length, u32 size, const KVariant& value, const ValueInfo& info,
                            u16 flags) const = 0;
    virtual u32 textToValue(KVariant* out, const char* text, u32 textLength, const ValueInfo& info) const = 0;
    virtual u32 valueToNormalized(u32* out, const KVariant& value, const ValueInfo& info) const = 0;
    virtual u32 normalizedToValue(KVariant* out, const u32* normalized, const ValueInfo& info) const = 0;
    virtual u32 valueToPosition(u32* out, u32 steps, const KVariant& value, const ValueInfo& info) const = 0;
    virtual u32 positionToValue(KVariant* out, const u32* position, u32 steps, const ValueInfo& info) const = 0;
    virtual u32 getSegmentPattern(u32* out, u32 count, const KVariant& value) const = 0;
    virtual u32 getAuxValue(u32* out) const = 0;
    virtual u32 getTableInfo(u32* count, u32* maxLength, u16 flags) const = 0;
    virtual u32 getTableText(char* buffer, u32* length, u32 size, u32 index, u16 flags) const = 0;
    virtual u32 indexToValue(KVariant* out, u32 index, const ValueInfo& info) const = 0;
    virtual u32 valueToIndex(u32* out, const KVariant& value, const ValueInfo& info) const = 0;
    virtual u32 getStepCount(const ValueInfo& info, u32 tableMode) const = 0;
    virtual u32 getStepMultiplier(const ValueInfo& info, u32 speed, u32 tableMode) const = 0;
    virtual constexpr ~IExpression() = default;
};

} // namespace Expression
