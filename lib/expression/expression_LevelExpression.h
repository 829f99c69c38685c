// Levels in hundredths of a decibel (-32768 stands for minus infinity), snapped to a 43-entry coarse table or
// a 1024-entry fine table, shown as "-∞" at the minimum and otherwise with two decimals (one below -99.99 dB),
// and mapped piecewise onto the normalized range 30..330 (0 dB at 270, +10 dB at 330, -20 dB at 150).
#pragma once

#include "expression_NumericTableExpression.h"

#include <array>

namespace Expression {

constexpr u32 LEVEL_COARSE_COUNT = 43;
constexpr u32 LEVEL_FINE_COUNT = 1024;
constexpr i16 LEVEL_MINUS_INFINITY = -32768;

namespace detail {

constexpr std::array<i16, LEVEL_COARSE_COUNT> buildLevelCoarseTable()
{
    std::array<i16, LEVEL_COARSE_COUNT> table{};
    constexpr i16 head[23] = {-32768, -13800, -12000, -10500, -9000, -7000, -6000, -5500, -5000, -4500, -4000, -3500,
                              -3000,  -2800,  -2600,  -2400,  -2200, -2000, -1800, -1600, -1400, -1200, -1000};
    for (u32 i = 0; i < 23; ++i) {
        table[i] = head[i];
    }
    for (u32 i = 23; i < LEVEL_COARSE_COUNT; ++i) {
        table[i] = static_cast<i16>(-900 + 100 * static_cast<i32>(i - 23));
    }
    return table;
}

constexpr std::array<i16, LEVEL_FINE_COUNT> buildLevelFineTable()
{
    std::array<i16, LEVEL_FINE_COUNT> table{};
    table[0] = -32768;
    // (first index, value there, step) of each linear run; each run ends where the next begins.
    constexpr i32 runs[5][3] = {{1, -13800, 300}, {15, -9600, 100}, {33, -7800, 20}, {223, -4000, 10}, {423, -2000, 5}};
    for (u32 r = 0; r < 5; ++r) {
        const i32 end = r + 1 < 5 ? runs[r + 1][0] : static_cast<i32>(LEVEL_FINE_COUNT);
        for (i32 i = runs[r][0]; i < end; ++i) {
            table[i] = static_cast<i16>(runs[r][1] + runs[r][2] * (i - runs[r][0]));
        }
    }
    return table;
}

} // namespace detail

inline constexpr std::array<i16, LEVEL_COARSE_COUNT> LEVEL_COARSE_TABLE = detail::buildLevelCoarseTable();
inline constexpr std::array<i16, LEVEL_FINE_COUNT> LEVEL_FINE_TABLE = detail::buildLevelFineTable();

class LevelExpression : public NumericTableExpressionT<short>
{
public:
    constexpr LevelExpression()
        : NumericTableExpressionT<short>(LEVEL_COARSE_TABLE.data(), LEVEL_COARSE_COUNT, LEVEL_FINE_TABLE.data(),
                                         LEVEL_FINE_COUNT, 30, 330)
    {
    }

    // "-∞" (5 bytes with the NUL) when the value equals min as 16-bit values; else the level with two decimals,
    // or one below -9999. Null buffer or size 0: 0x80000007; too small a buffer: 0x80000006 (and "" written).
    u32 valueToText(char* buffer, u32* length, u32 size, const KVariant& value, const ValueInfo& info,
                    u16 flags) const override;
    // A number with an optional engineering prefix, times scaling, snapped to the fine table.
    // Unreadable, "nan" or "inf": 0x80000003.
    u32 textToValue(KVariant* out, const char* text, u32 textLength, const ValueInfo& info) const override;
    u32 valueToNormalized(u32* out, const KVariant& value, const ValueInfo& info) const override;
    u32 normalizedToValue(KVariant* out, const u32* normalized, const ValueInfo& info) const override;
    // Lights the first segments of `count` (1..43) for a level meter; other counts: 0x80000003.
    u32 getSegmentPattern(u32* out, u32 count, const KVariant& value) const override;
};

} // namespace Expression
