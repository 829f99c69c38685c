// LogicData: the state of one logic port: its value kind, range, current and previous value, the value as a
// normalized position in [0, 1], a changed flag and the value-to-text expression that converts between value,
// position (1000 steps, 0 to 999) and text.
//
// Kinds (value held as / range / normalized):
//   1 float, clamped to [0.0, 1.0], the value itself      5, 6 as 2
//   2 unsigned 32-bit, clamped, through the expression    7 text (or whatever is assigned), no range, 0.0
//   3 signed 32-bit, clamped, through the expression      8 unsigned counter, no range, not computed
//   4 float, clamped, through the expression (value and bounds scaled by 1000 for it)
// A reversed range (max below min) clamps to [max, min]. Float-to-integer conversions saturate to the i32 range.
//
// No locking: the owner of the port serialises access.
#pragma once

#include "expression_IExpression.h"
#include "klib_Types.h"
#include "klib_Variant.h"

namespace LogicCtrl {

class LogicData
{
public:
    static constexpr u32 KIND_NONE = 0;
    static constexpr u32 KIND_NORMALIZED = 1;
    static constexpr u32 KIND_UNSIGNED = 2;
    static constexpr u32 KIND_SIGNED = 3;
    static constexpr u32 KIND_FLOAT = 4;
    static constexpr u32 KIND_UNSIGNED_5 = 5;
    static constexpr u32 KIND_UNSIGNED_6 = 6;
    static constexpr u32 KIND_TEXT = 7;
    static constexpr u32 KIND_TRIGGER = 8;

    static constexpr u32 POSITION_STEPS = 1000;

    // Kind 0, empty values, normalized 0.0, not changed, the expression found for no name.
    LogicData();
    // Copies every field; the copy counts as changed.
    LogicData(const LogicData& other);
    LogicData& operator=(const LogicData& other);
    ~LogicData() = default;

    // Kinds 1 to 8 (else 0x80000001 and the debug-break hook). Kind 1: range 0.0..1.0 and value 0.0; kinds 2 to 6:
    // the given range and an empty value; kinds 7 and 8: empty range and value. Previous value emptied,
    // normalized 0.0, not changed, expression looked up by name. 0.
    i32 initialize(u32 kind, const char* expressionName, const KVariant& minValue, const KVariant& maxValue);

    // The operations below answer 0x80080000 (after the debug-break hook) for a kind they do not support.
    // Kinds 1 to 6: the value read as float (1, 4) or as 32-bit integer (others; a float reads as 0), clamped.
    i32 setValue(const KVariant& value);
    // Kinds 1 to 6: the value at position n (clamped to [0, 1]); normalized = n.
    i32 setNormalized(f32 normalized);
    // Kinds 1 to 6: the expression's text conversion over the range (integer bounds); a failure returns its
    // negative code and changes nothing. Kind 7: the text itself (more than 1023 characters: 0x80000001).
    i32 setText(const char* text);
    // Kinds 1 to 7: marks the value changed; kind 8 also counts up.
    i32 trigger();
    // Kinds 1 to 7: clears the changed mark; kind 8 also moves the count to the previous value and restarts at 0.
    i32 acknowledge();
    // Takes a delivered value: from a kind-1 source (into another kind) by its normalized position, otherwise by
    // its value clamped to this range and kind.
    i32 assignFrom(const LogicData& source);

    u32 getKind() const { return m_kind; }
    // Kinds 1 to 8 (kind 8: the count, empty until the first trigger); other kinds give a shared empty value
    // (debug-break hook).
    const KVariant& getValue() const;
    const KVariant& getPreviousValue() const { return m_previousValue; }
    const KVariant& getMinValue() const { return m_minValue; }
    const KVariant& getMaxValue() const { return m_maxValue; }
    f32 getNormalized() const { return m_normalized; }
    bool isChanged() const { return m_changed; }
    const Expression::IExpression& getExpression() const { return *m_expression; }

private:
    // The value clamped to the range and stored in this kind's type.
    void storeClamped(const KVariant& value);
    // The value at normalized position n (kinds 2 to 6); other kinds give the current value.
    void storeAtPosition(f32 normalized);
    // Normalized form of the current value.
    f32 normalizedOfValue() const;
    // After a change of m_value: the changed flag.
    void markChange() { m_changed = m_value != m_previousValue; }

    u32 m_kind = KIND_NONE;
    KVariant m_minValue;
    KVariant m_maxValue;
    KVariant m_value;
    KVariant m_previousValue;
    f32 m_normalized = 0.0f;
    bool m_changed = false;
    const Expression::IExpression* m_expression;
};

} // namespace LogicCtrl
