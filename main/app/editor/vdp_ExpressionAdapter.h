// ExpressionAdapter: display texts of parameter values and values of display texts, through the expression named
// by the parameter's kind ("OnOff", "Level", "String"), or plainly by the value's or parameter's type when the kind
// is empty or unknown.
#pragma once

#include "expression_ExpressionCollection.h"
#include "klib_Types.h"
#include "klib_Variant.h"

namespace PDB {
class ParameterInfo;
}

namespace VDProtocol {

class ExpressionAdapter
{
public:
    static constexpr u32 TEXT_SIZE = 128; // display texts hold at most 127 characters

    // Registers the four process-wide expressions: the plain one without a name, "OnOff", "Level" and "String".
    ExpressionAdapter();
    virtual ~ExpressionAdapter() = default;

    ExpressionAdapter(const ExpressionAdapter&) = delete;
    ExpressionAdapter& operator=(const ExpressionAdapter&) = delete;

    // The display text (kind 2), or an empty value when there is none. Without an expression: int "%d", uint
    // read as signed "%d", float "%f", a text as it is.
    KVariant valueToText(const PDB::ParameterInfo& info, const KVariant& value) const;
    // The value of a display text (a kind-2 value): 0 or a failure code, out unchanged on failure. Without an
    // expression the text is read by the parameter's type: unsigned and bool types as uint, signed types as int
    // (negative numbers as their 32-bit two's complement, a fraction refused), float as the number's float
    // value, string as the text.
    [[nodiscard]] i32 textToValue(KVariant& out, const PDB::ParameterInfo& info, const KVariant& text) const;

private:
    const Expression::IExpression* findExpression(const PDB::ParameterInfo& info) const;

    Expression::ExpressionCollection m_collection;
};

} // namespace VDProtocol
