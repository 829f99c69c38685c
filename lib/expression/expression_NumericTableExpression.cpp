#include "expression_NumericTableExpression.h"

#include <cmath>
#include <limits>

namespace Expression {

namespace {

template <typename T> i64 clampToElement(i64 v)
{
    constexpr i64 lowest = std::numeric_limits<T>::lowest();
    constexpr i64 highest = std::numeric_limits<T>::max();
    return v < lowest ? lowest : (v > highest ? highest : v);
}

} // namespace

template <typename T>
const typename NumericTableExpressionT<T>::Table* NumericTableExpressionT<T>::chooseTable(u32 tableMode) const
{
    const Table* first = tableMode == 1 ? &m_Fine : &m_Coarse;
    const Table* second = tableMode == 1 ? &m_Coarse : &m_Fine;
    if (first->isPresent()) {
        return first;
    }
    return second->isPresent() ? second : nullptr;
}

template <typename T> u32 NumericTableExpressionT<T>::nearestIndex(const Table& table, i64 v)
{
    const T* e = table.entries;
    const u32 last = table.count - 1;
    if (v <= e[0]) {
        return 0;
    }
    if (v >= e[last]) {
        return last;
    }
    // Invariant: e[lo] <= v < e[hi].
    u32 lo = 0;
    u32 hi = last;
    while (hi - lo > 1) {
        const u32 mid = lo + (hi - lo) / 2;
        if (e[mid] <= v) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return 2 * v > static_cast<i64>(e[lo]) + e[hi] ? hi : lo;
}

template <typename T> f64 NumericTableExpressionT<T>::fractionalPosition(const Table& table, i64 v)
{
    const T* e = table.entries;
    const u32 last = table.count - 1;
    if (v <= e[0]) {
        return 0.0;
    }
    if (v >= e[last]) {
        return static_cast<f64>(last);
    }
    u32 lo = 0;
    u32 hi = last;
    while (hi - lo > 1) {
        const u32 mid = lo + (hi - lo) / 2;
        if (e[mid] <= v) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return lo + static_cast<f64>(v - e[lo]) / static_cast<f64>(static_cast<i64>(e[hi]) - e[lo]);
}

template <typename T>
u32 NumericTableExpressionT<T>::quantizeValue(KVariant* out, const KVariant& value, const ValueInfo& info,
                                              u32 tableMode) const
{
    const Table* table = chooseTable(tableMode);
    if (table == nullptr) {
        return DefaultExpression::quantizeValue(out, value, info, tableMode);
    }
    if (out == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    const i64 v = clampToElement<T>(value.getInt());
    out->setInt(static_cast<i32>(table->entries[nearestIndex(*table, v)]));
    return RESULT_OK;
}

template <typename T>
u32 NumericTableExpressionT<T>::stepValue(KVariant* out, const KVariant& value, const ValueInfo& info, i32 steps,
                                          u32 speed, u32 tableMode) const
{
    const Table* table = chooseTable(tableMode);
    if (table == nullptr) {
        return DefaultExpression::stepValue(out, value, info, steps, speed, tableMode);
    }
    if (out == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    const i64 start = nearestIndex(*table, clampToElement<T>(value.getInt()));
    i64 index = start + static_cast<i64>(getStepMultiplier(info, speed == 0 ? 1 : speed, tableMode)) * steps;
    if (index < 0) {
        index = 0;
    } else if (index > static_cast<i64>(table->count) - 1) {
        index = static_cast<i64>(table->count) - 1;
    }
    i32 entry = table->entries[index];
    const i32 min = static_cast<T>(info.min.getInt());
    const i32 max = static_cast<T>(info.max.getInt());
    if (entry < min) {
        entry = min;
    } else if (entry > max) {
        entry = max;
    }
    out->setInt(entry);
    return RESULT_OK;
}

template <typename T>
u32 NumericTableExpressionT<T>::valueToPosition(u32* out, u32 steps, const KVariant& value, const ValueInfo& info) const
{
    const Table* table = preferredTable();
    if (table == nullptr) {
        return DefaultExpression::valueToPosition(out, steps, value, info);
    }
    if (out == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    if (steps == 0) {
        *out = 0;
        return RESULT_BAD_ARGUMENT;
    }
    const f64 fmin = fractionalPosition(*table, info.min.getInt());
    const f64 fmax = fractionalPosition(*table, info.max.getInt());
    const f64 d = fmax - fmin > 0.0 ? fmax - fmin : 1.0;
    const f64 i = nearestIndex(*table, value.getInt());
    const f64 offset = i - fmin > 0.0 ? i - fmin : 0.0;
    const f64 position = std::floor(offset / d * (steps - 1) + 0.5);
    *out = position >= steps ? steps : static_cast<u32>(position);
    return RESULT_OK;
}

template <typename T>
u32 NumericTableExpressionT<T>::positionToValue(KVariant* out, const u32* position, u32 steps,
                                                const ValueInfo& info) const
{
    const Table* table = preferredTable();
    if (table == nullptr) {
        return DefaultExpression::positionToValue(out, position, steps, info);
    }
    if (out == nullptr || position == nullptr || steps < 2) {
        return RESULT_BAD_ARGUMENT;
    }
    const f64 fmin = fractionalPosition(*table, info.min.getInt());
    const f64 fmax = fractionalPosition(*table, info.max.getInt());
    const f64 i = std::floor(static_cast<f64>(*position) / (steps - 1) * (fmax - fmin) + fmin + 0.5);
    u32 index = 0;
    if (i >= table->count - 1) {
        index = table->count - 1;
    } else if (i > 0.0) {
        index = static_cast<u32>(i);
    }
    out->setInt(static_cast<i32>(table->entries[index]));
    return RESULT_OK;
}

template <typename T> u32 NumericTableExpressionT<T>::getStepCount(const ValueInfo& info, u32 tableMode) const
{
    const Table* table = chooseTable(tableMode);
    return table == nullptr ? DefaultExpression::getStepCount(info, tableMode) : table->count;
}

template class NumericTableExpressionT<short>;

} // namespace Expression
