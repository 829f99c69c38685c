#include "expression_StringTableExpression.h"

#include "expression_Text.h"

#include <cmath>
#include <cstring>

namespace Expression {

u32 StringTableExpression::chooseText(const char** text, const StringTableEntry& entry, u16 flags)
{
    switch (flags & 0xFF) {
    case 1:
        *text = entry.text1;
        return RESULT_OK;
    case 2:
        *text = entry.text2 != nullptr ? entry.text2 : entry.text1;
        return RESULT_OK;
    case 4:
        *text = entry.text4 != nullptr ? entry.text4 : entry.text1;
        return RESULT_OK;
    default:
        *text = nullptr;
        return RESULT_NOT_SUPPORTED;
    }
}

const char* StringTableExpression::valueText(const StringTableEntry& entry)
{
    return entry.text2 != nullptr ? entry.text2 : entry.text1;
}

u32 StringTableExpression::findIndex(u32* index, const char* text, u32 length) const
{
    if (index == nullptr || text == nullptr || length == 0) {
        return RESULT_BAD_ARGUMENT;
    }
    if (m_pTable == nullptr) {
        return RESULT_NO_TABLE;
    }
    for (u32 i = 0; i < m_Count; ++i) {
        const StringTableEntry& entry = m_pTable[i];
        if (equalsIgnoreCase(text, length, entry.text1) || equalsIgnoreCase(text, length, entry.text2) ||
            equalsIgnoreCase(text, length, entry.text4)) {
            *index = i;
            return RESULT_OK;
        }
    }
    return RESULT_BAD_ARGUMENT;
}

u32 StringTableExpression::resolveIndex(u32* index, const KVariant& value) const
{
    switch (value.getKind()) {
    case KVariant::KIND_BINARY:
        return RESULT_OUT_OF_RANGE;
    case KVariant::KIND_STRING: {
        const char* text = value.getString();
        return findIndex(index, text, value.getSize());
    }
    default:
        *index = value.getUInt();
        return RESULT_OK;
    }
}

u32 StringTableExpression::stepValue(KVariant* out, const KVariant& value, const ValueInfo& info, i32 steps, u32 speed,
                                     u32 tableMode) const
{
    if (m_pTable == nullptr) {
        return DefaultExpression::stepValue(out, value, info, steps, speed, tableMode);
    }
    if (out == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    u32 index = 0;
    const u32 result = resolveIndex(&index, value);
    if (result != RESULT_OK) {
        return result;
    }
    i64 target = static_cast<i64>(index) + steps;
    if (target < 0) {
        target = 0;
    } else if (target > static_cast<i64>(m_Count) - 1) {
        target = static_cast<i64>(m_Count) - 1;
    }
    out->setString(valueText(m_pTable[target]), KVariant::MAX_STRING_LENGTH);
    return RESULT_OK;
}

u32 StringTableExpression::valueToText(char* buffer, u32* length, u32 size, const KVariant& value,
                                       const ValueInfo& info, u16 flags) const
{
    u32 unused = 0;
    if (length == nullptr) {
        length = &unused;
    }
    *length = 0;
    if (buffer == nullptr || size == 0) {
        return RESULT_BUFFER_TOO_SMALL;
    }
    u32 index = 0;
    u32 result = resolveIndex(&index, value);
    if (result != RESULT_OK) {
        return result;
    }
    if (index >= m_Count) {
        return RESULT_OUT_OF_RANGE;
    }
    const char* text = nullptr;
    result = chooseText(&text, m_pTable[index], flags);
    if (result != RESULT_OK) {
        return result;
    }
    if (text == nullptr) {
        return DefaultExpression::valueToText(buffer, length, size, value, info, flags);
    }
    const size_t textLength = std::strlen(text);
    if (textLength >= size) {
        return RESULT_BUFFER_TOO_SMALL;
    }
    std::memcpy(buffer, text, textLength + 1);
    *length = static_cast<u32>(textLength) + 1;
    return (flags & FLAG_APPEND_UNIT) != 0 ? appendUnit(buffer, length, size, info) : RESULT_OK;
}

u32 StringTableExpression::textToValue(KVariant* out, const char* text, u32 textLength, const ValueInfo&) const
{
    if (out == nullptr || text == nullptr || textLength == 0) {
        return RESULT_BAD_ARGUMENT;
    }
    if (m_pTable == nullptr) {
        return RESULT_NO_TABLE;
    }
    u32 index = 0;
    const u32 result = findIndex(&index, text, textLength);
    if (result != RESULT_OK) {
        return result;
    }
    out->setUInt(index);
    return RESULT_OK;
}

u32 StringTableExpression::valueToNormalized(u32* out, const KVariant& value, const ValueInfo&) const
{
    if (out == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    u32 index = 0;
    const u32 result = resolveIndex(&index, value);
    if (result != RESULT_OK) {
        return result;
    }
    if (index >= m_Count) {
        *out = m_NormMax;
    } else if (m_Count == 1) {
        *out = m_NormMin;
    } else {
        *out =
            static_cast<u32>(std::round(static_cast<f64>(m_NormMax - m_NormMin) * index / (m_Count - 1) + m_NormMin));
    }
    return RESULT_OK;
}

u32 StringTableExpression::normalizedToValue(KVariant* out, const u32* normalized, const ValueInfo&) const
{
    if (out == nullptr || normalized == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    if (m_NormMax == m_NormMin) {
        return RESULT_BAD_ARGUMENT;
    }
    if (m_pTable == nullptr) {
        return RESULT_NO_TABLE;
    }
    u32 n = *normalized;
    n = n < m_NormMin ? m_NormMin : (n > m_NormMax ? m_NormMax : n);
    const f64 i = std::round(static_cast<f64>(n - m_NormMin) * (m_Count - 1) / (m_NormMax - m_NormMin));
    if (i >= m_Count) {
        return RESULT_BAD_ARGUMENT;
    }
    out->setString(valueText(m_pTable[static_cast<u32>(i)]), KVariant::MAX_STRING_LENGTH);
    return RESULT_OK;
}

u32 StringTableExpression::valueToPosition(u32* out, u32 steps, const KVariant& value, const ValueInfo&) const
{
    if (out == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    if (steps == 0) {
        *out = 0;
        return RESULT_BAD_ARGUMENT;
    }
    u32 index = 0;
    const u32 result = m_pTable == nullptr ? RESULT_OK : resolveIndex(&index, value);
    if (result != RESULT_OK) {
        return result;
    }
    if (m_pTable == nullptr || index >= m_Count) {
        *out = steps;
    } else if (m_Count == 1) {
        *out = 0;
    } else {
        *out = static_cast<u32>(std::round(static_cast<f64>(steps - 1) * index / (m_Count - 1)));
    }
    return RESULT_OK;
}

u32 StringTableExpression::positionToValue(KVariant* out, const u32* position, u32 steps, const ValueInfo&) const
{
    if (out == nullptr || position == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    if (steps < 2) {
        out->setInt(0);
        return RESULT_BAD_ARGUMENT;
    }
    if (m_pTable == nullptr) {
        return RESULT_NO_TABLE;
    }
    u32 index = m_Count - 1;
    if (*position < steps - 1) {
        index = static_cast<u32>(std::round(static_cast<f64>(m_Count - 1) * *position / (steps - 1)));
    }
    out->setUInt(index);
    return RESULT_OK;
}

u32 StringTableExpression::getTableInfo(u32* count, u32* maxLength, u16 flags) const
{
    if (m_pTable == nullptr) {
        return DefaultExpression::getTableInfo(count, maxLength, flags);
    }
    if (count == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    *count = m_Count;
    if (maxLength != nullptr) {
        u32 longest = 0;
        for (u32 i = 0; i < m_Count; ++i) {
            const char* text = nullptr;
            const u32 result = chooseText(&text, m_pTable[i], flags);
            if (result != RESULT_OK) {
                return result;
            }
            const u32 length = text == nullptr ? 0 : static_cast<u32>(std::strlen(text));
            longest = length > longest ? length : longest;
        }
        *maxLength = longest;
    }
    return RESULT_OK;
}

u32 StringTableExpression::getTableText(char* buffer, u32* length, u32 size, u32 index, u16 flags) const
{
    if (m_pTable == nullptr) {
        return DefaultExpression::getTableText(buffer, length, size, index, flags);
    }
    if (index >= m_Count) {
        return RESULT_OUT_OF_RANGE;
    }
    const char* text = nullptr;
    const u32 result = chooseText(&text, m_pTable[index], flags);
    if (result != RESULT_OK) {
        return result;
    }
    if (text == nullptr) {
        text = "";
    }
    const size_t textLength = std::strlen(text);
    if (buffer == nullptr || size <= textLength) {
        return RESULT_BUFFER_TOO_SMALL;
    }
    std::memcpy(buffer, text, textLength + 1);
    if (length != nullptr) {
        *length = static_cast<u32>(textLength);
    }
    return RESULT_OK;
}

u32 StringTableExpression::indexToValue(KVariant* out, u32 index, const ValueInfo& info) const
{
    if (m_pTable == nullptr) {
        return DefaultExpression::indexToValue(out, index, info);
    }
    if (out == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    if (index >= m_Count || index < static_cast<i64>(info.min.getInt()) ||
        index >= static_cast<i64>(info.max.getInt())) {
        return RESULT_OUT_OF_RANGE;
    }
    out->setUInt(index);
    return RESULT_OK;
}

u32 StringTableExpression::valueToIndex(u32* out, const KVariant& value, const ValueInfo& info) const
{
    if (m_pTable == nullptr) {
        return DefaultExpression::valueToIndex(out, value, info);
    }
    if (out == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    u32 index = 0;
    const u32 result = resolveIndex(&index, value);
    if (result != RESULT_OK) {
        return result;
    }
    if (index >= m_Count || index < static_cast<i64>(info.min.getInt()) ||
        index >= static_cast<i64>(info.max.getInt())) {
        return RESULT_OUT_OF_RANGE;
    }
    *out = index;
    return RESULT_OK;
}

u32 StringTableExpression::getStepCount(const ValueInfo& info, u32 tableMode) const
{
    return m_pTable == nullptr ? DefaultExpression::getStepCount(info, tableMode) : m_Count;
}

} // namespace Expression
