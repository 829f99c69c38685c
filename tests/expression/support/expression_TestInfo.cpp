#include "expression_TestInfo.h"

#include <cstring>
#include <vector>

namespace ExpressionTest {

Expression::ValueInfo makeInfo(i32 min, i32 max, i32 step, u32 scaling, const char* unit)
{
    Expression::ValueInfo info;
    info.min.setInt(min);
    info.max.setInt(max);
    info.nominal.setInt(min);
    info.def.setInt(min);
    info.step.setInt(step);
    info.scaling = scaling;
    std::strncpy(info.unit, unit, Expression::UNIT_MAX_LENGTH);
    info.unitLength = static_cast<u32>(std::strlen(info.unit));
    return info;
}

TextResult toText(const Expression::IExpression& e, const KVariant& value, const Expression::ValueInfo& info, u32 size,
                  u16 flags)
{
    // Exactly `size` bytes, so ASan sees any write past them.
    std::vector<char> buffer(size == 0 ? 1 : size, '#');
    TextResult r{};
    r.length = 0xDEAD;
    r.result = e.valueToText(buffer.data(), &r.length, size, value, info, flags);
    if (size != 0 && std::memchr(buffer.data(), '\0', size) != nullptr) {
        r.text = buffer.data();
    }
    return r;
}

} // namespace ExpressionTest
