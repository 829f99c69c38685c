// Two-state switches: min shows as "OFF", max as "ON"; the texts "OFF"/"0" and "ON"/"1" (any case) read back
// as 0 and 1.
#pragma once

#include "expression_DefaultExpression.h"

namespace Expression {

class OnOffExpression : public DefaultExpression
{
public:
    constexpr OnOffExpression() : DefaultExpression(30, 330) {}

    // Null buffer or size < 4: 0x80000007; a value other than min or max: 0x80000005.
    u32 valueToText(char* buffer, u32* length, u32 size, const KVariant& value, const ValueInfo& info,
                    u16 flags) const override;
    // Stores 0 or 1 without quantizing; any other text gives 0x80000003.
    u32 textToValue(KVariant* out, const char* text, u32 textLength, const ValueInfo& info) const override;
};

} // namespace Expression
