// Editor-supplied texts through every expression's text parser, unterminated and bounded by their length.
#include "expression_Instances.h"
#include "expression_Text.h"

#include <cstdint>
#include <cstring>
#include <memory>

namespace {

const Expression::StringTableEntry TABLE[] = {{"Off", "0", nullptr}, {"Low", "lo", "l"}, {"High", nullptr, "h"}};
const Expression::StringTableExpression s_Table(TABLE, 3, 30, 330);

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096) {
        return 0;
    }
    // The first byte picks the scaling; the rest is the text, copied so that nothing follows it.
    const u32 scalings[] = {0, 1, 10, 100, 1000, 0xFFFFFFFF};
    const u32 scaling = size == 0 ? 1 : scalings[data[0] % 6];
    const u8* text = size == 0 ? data : data + 1;
    const u32 length = size == 0 ? 0 : static_cast<u32>(size - 1);
    auto copy = std::make_unique<char[]>(length == 0 ? 1 : length);
    if (length != 0) {
        std::memcpy(copy.get(), text, length);
    }

    Expression::ValueInfo info;
    info.min.setInt(-32768);
    info.max.setInt(32767);
    info.step.setInt(1);
    info.scaling = scaling;
    const Expression::IExpression* expressions[] = {Expression::getDefaultExpression(),
                                                    Expression::getOnOffExpression(), Expression::getLevelExpression(),
                                                    Expression::getStringExpression(), &s_Table};
    for (const Expression::IExpression* e : expressions) {
        KVariant out;
        if (e->textToValue(&out, copy.get(), length, info) == 0) {
            char buffer[64];
            u32 written = 0;
            e->valueToText(buffer, &written, sizeof(buffer), out, info, 1);
        }
    }
    u32 status = 0;
    Expression::parseEngineeringNumber(copy.get(), length, &status);
    return 0;
}
