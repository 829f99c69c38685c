// Builds the parameter descriptions used by the expression suites.
#pragma once

#include "expression_IExpression.h"

#include <string>

namespace ExpressionTest {

Expression::ValueInfo makeInfo(i32 min, i32 max, i32 step, u32 scaling = 1, const char* unit = "");

// valueToText into a buffer of `size` bytes; returns the result code, the text and the reported length.
struct TextResult
{
    u32 result;
    std::string text;
    u32 length;
};
TextResult toText(const Expression::IExpression& e, const KVariant& value, const Expression::ValueInfo& info,
                  u32 size = 64, u16 flags = 1);

} // namespace ExpressionTest
