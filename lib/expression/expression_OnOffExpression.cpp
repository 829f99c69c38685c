#include "expression_OnOffExpression.h"

#include "expression_Text.h"

#include <cstring>

namespace Expression {

u32 OnOffExpression::valueToText(char* buffer, u32* length, u32 size, const KVariant& value, const ValueInfo& info,
                                 u16) const
{
    if (length != nullptr) {
        *length = 0;
    }
    if (buffer == nullptr || size < 4) {
        return RESULT_NOT_SUPPORTED;
    }
    const i32 v = value.getInt();
    const char* text = nullptr;
    if (v == info.min.getInt()) {
        text = "OFF";
    } else if (v == info.max.getInt()) {
        text = "ON";
    } else {
        return RESULT_OUT_OF_RANGE;
    }
    const u32 printed = static_cast<u32>(std::strlen(text));
    std::memcpy(buffer, text, printed + 1);
    if (length != nullptr) {
        *length = printed + 1;
    }
    return RESULT_OK;
}

u32 OnOffExpression::textToValue(KVariant* out, const char* text, u32 textLength, const ValueInfo&) const
{
    if (out == nullptr || text == nullptr || textLength == 0) {
        return RESULT_BAD_ARGUMENT;
    }
    if (equalsIgnoreCase(text, textLength, "OFF") || equalsIgnoreCase(text, textLength, "0")) {
        out->setInt(0);
        return RESULT_OK;
    }
    if (equalsIgnoreCase(text, textLength, "ON") || equalsIgnoreCase(text, textLength, "1")) {
        out->setInt(1);
        return RESULT_OK;
    }
    return RESULT_BAD_ARGUMENT;
}

} // namespace Expression
