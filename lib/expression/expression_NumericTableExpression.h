// Expressions whose values snap to the entries of a strictly ascending table. Two tables are kept: the coarse
// one and the fine one. Operations that take a table mode use the fine table for mode 1 and the coarse table
// otherwise, falling back to the other table when one is missing and to the plain integer behaviour when both
// are; operations without a table mode prefer the fine table.
#pragma once

#include "expression_DefaultExpression.h"

namespace Expression {

template <typename T> class NumericTableExpressionT : public DefaultExpression
{
public:
    struct Table
    {
        const T* entries;
        u32 count;
        constexpr bool isPresent() const { return entries != nullptr && count != 0; }
    };

    constexpr NumericTableExpressionT(const T* coarse, u32 coarseCount, const T* fine, u32 fineCount, u32 normMin,
                                      u32 normMax)
        : DefaultExpression(normMin, normMax), m_Coarse{coarse, coarseCount}, m_Fine{fine, fineCount}
    {
    }

    // The nearest table entry (ties to the lower one), as a sign-extended value. No min/max clamping.
    u32 quantizeValue(KVariant* out, const KVariant& value, const ValueInfo& info, u32 tableMode) const override;
    // Moves multiplier * steps entries from the nearest one, then clamps to min..max (as T values).
    u32 stepValue(KVariant* out, const KVariant& value, const ValueInfo& info, i32 steps, u32 speed,
                  u32 tableMode) const override;
    u32 valueToPosition(u32* out, u32 steps, const KVariant& value, const ValueInfo& info) const override;
    u32 positionToValue(KVariant* out, const u32* position, u32 steps, const ValueInfo& info) const override;
    // The chosen table's entry count.
    u32 getStepCount(const ValueInfo& info, u32 tableMode) const override;

    // Index of the entry nearest to v: 0 at or below the first entry, the last index at or above the last one;
    // between two entries the upper one only when v is above their midpoint.
    static u32 nearestIndex(const Table& table, i64 v);
    // 0 at or below the first entry, count - 1 at or above the last; else the lower index plus the fraction of
    // the way to the upper entry.
    static f64 fractionalPosition(const Table& table, i64 v);

    const Table& getCoarseTable() const { return m_Coarse; }
    const Table& getFineTable() const { return m_Fine; }

protected:
    // Null when both tables are missing.
    const Table* chooseTable(u32 tableMode) const;
    const Table* preferredTable() const { return chooseTable(1); }

    Table m_Coarse;
    Table m_Fine;
};

extern template class NumericTableExpressionT<short>;

} // namespace Expression
