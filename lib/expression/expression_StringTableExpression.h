// Values that index a table of texts. Each entry has three texts; the low byte of the flags picks one:
// 1 text 1, 2 text 2 (or text 1 when it is null), 4 text 4 (or text 1); other values are not supported.
// A text value stands for the index of the first entry that has it (ASCII case ignored); a binary value is
// out of range. Without a table the plain integer behaviour applies where it is defined.
#pragma once

#include "expression_DefaultExpression.h"

namespace Expression {

struct StringTableEntry
{
    const char* text1;
    const char* text2; // may be null
    const char* text4; // may be null
};

class StringTableExpression : public DefaultExpression
{
public:
    // No table is stored when count is 0, and count 0 when the table is null.
    constexpr StringTableExpression(const StringTableEntry* table, u32 count, u32 normMin, u32 normMax)
        : DefaultExpression(normMin, normMax), m_pTable(count == 0 ? nullptr : table),
          m_Count(table == nullptr ? 0 : count)
    {
    }

    u32 getCount() const { return m_Count; }

    // The index of the first entry any of whose texts equals the text (at most `length` characters, ending
    // at a NUL), ASCII case ignored. Null text or length 0: 0x80000003; no table 0x80000004; no match
    // 0x80000003.
    u32 findIndex(u32* index, const char* text, u32 length) const;

    // With a table: index + steps within the table, as the entry's text 2 (or text 1).
    u32 stepValue(KVariant* out, const KVariant& value, const ValueInfo& info, i32 steps, u32 speed,
                  u32 tableMode) const override;
    // The chosen text; *length = its length + 1, and FLAG_APPEND_UNIT puts the unit after its NUL.
    u32 valueToText(char* buffer, u32* length, u32 size, const KVariant& value, const ValueInfo& info,
                    u16 flags) const override;
    // The index of the text, as an unsigned value.
    u32 textToValue(KVariant* out, const char* text, u32 textLength, const ValueInfo& info) const override;
    u32 valueToNormalized(u32* out, const KVariant& value, const ValueInfo& info) const override;
    // The entry's text 2 (or text 1) as a text value; no table: 0x80000004.
    u32 normalizedToValue(KVariant* out, const u32* normalized, const ValueInfo& info) const override;
    u32 valueToPosition(u32* out, u32 steps, const KVariant& value, const ValueInfo& info) const override;
    // An index as an unsigned value; no table: 0x80000004.
    u32 positionToValue(KVariant* out, const u32* position, u32 steps, const ValueInfo& info) const override;
    u32 getTableInfo(u32* count, u32* maxLength, u16 flags) const override;
    u32 getTableText(char* buffer, u32* length, u32 size, u32 index, u16 flags) const override;
    u32 indexToValue(KVariant* out, u32 index, const ValueInfo& info) const override;
    u32 valueToIndex(u32* out, const KVariant& value, const ValueInfo& info) const override;
    u32 getStepCount(const ValueInfo& info, u32 tableMode) const override;

private:
    // The index a value stands for.
    u32 resolveIndex(u32* index, const KVariant& value) const;
    // The text picked by the flags (may be null when text 1 is); 0x80000007 for unknown flags.
    static u32 chooseText(const char** text, const StringTableEntry& entry, u16 flags);
    static const char* valueText(const StringTableEntry& entry);

    const StringTableEntry* m_pTable;
    u32 m_Count;
};

} // namespace Expression
