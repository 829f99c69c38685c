#include "pdb_ParameterInfo.h"

#include "pdb_ParamRawArray.h"
#include "pdb_Result.h"

namespace PDB {

namespace {

constexpr u64 MAX_U32 = 0xFFFFFFFFu;

} // namespace

bool isValidTypeCode(u8 typeCode, u32 elementSize)
{
    const u32 kind = typeCode >> 4;
    const u32 width = typeCode & 0x0Fu;
    if (kind < 1 || kind > 6) {
        return false;
    }
    return width != 0 ? width == elementSize : elementSize != 0;
}

u64 resolvePatternCount(u32 pattern, u32 dimension)
{
    const u64 base = pattern & PATTERN_BASE_MASK;
    const u32 mode = pattern & ~PATTERN_BASE_MASK;
    if (mode == PATTERN_MULTIPLY) {
        return base * dimension;
    }
    if (mode == PATTERN_DIVIDE) {
        return base == 0 ? 0 : (static_cast<u64>(dimension) + base - 1) / base;
    }
    return base;
}

u64 computeRawSize64(u8 typeCode, u32 elementSize, u64 count)
{
    switch (typeCode) {
    case TYPE_UINT8:
    case TYPE_SINT8:
        return (count + 3) & ~u64{3};
    case TYPE_UINT16:
    case TYPE_SINT16:
        return (count * 2 + 3) & ~u64{3};
    case TYPE_UINT32:
    case TYPE_SINT32:
    case TYPE_FLOAT:
        return count * 4;
    case TYPE_BOOL:
        return ((count + 7) / 8 + 3) & ~u64{3};
    case TYPE_STRING:
    case TYPE_BINARY:
        return count * ((static_cast<u64>(elementSize) + 3) & ~u64{3});
    default:
        return count * elementSize;
    }
}

ParameterInfo::ParameterInfo() : m_address(UNKNOWN_ADDRESS) {}

void ParameterInfo::clear()
{
    m_address = UNKNOWN_ADDRESS;
    m_typeCode = 0;
    m_attribute = ParameterAttribute();
    m_elementSize = 0;
    m_patternX = 1;
    m_patternY = 1;
    m_commentX.clear();
    m_commentY.clear();
    m_countX = 0;
    m_countY = 0;
    m_min.clear();
    m_max.clear();
    m_def.clear();
    m_nominal.clear();
    m_step.clear();
    m_scaling = 1;
    m_unit.clear();
    m_kind.clear();
    m_defUI.clear();
}

i32 ParameterInfo::setDimensions(u32 x, u32 y)
{
    const u64 countX = resolvePatternCount(m_patternX, x);
    const u64 countY = resolvePatternCount(m_patternY, y);
    // Each axis is below 2^48 (base <= 0xFFFF), but the product and the raw size must fit the 32-bit sizes of
    // the raw arrays, or storage would be allocated too small.
    if (countX == 0 || countY == 0 || countX > MAX_U32 || countY > MAX_U32 || countX * countY > MAX_U32 ||
        computeRawSize64(m_typeCode, m_elementSize, countX * countY) > MAX_U32) {
        m_countX = 0;
        m_countY = 0;
        return RESULT_BAD_ARGUMENT;
    }
    m_countX = static_cast<u32>(countX);
    m_countY = static_cast<u32>(countY);
    return 0;
}

u32 ParameterInfo::getRawSize() const
{
    return computeRawSize(m_typeCode, m_elementSize, getElementCount());
}

bool ParameterInfo::isValid() const
{
    return isValidTypeCode(m_typeCode, m_elementSize) && m_countX != 0 && m_countY != 0;
}

void ParameterInfo::setComments(const char* commentX, const char* commentY)
{
    m_commentX = commentX != nullptr ? commentX : "";
    m_commentY = commentY != nullptr ? commentY : "";
}

void ParameterInfo::setTexts(const char* unit, const char* kind, const char* defUI)
{
    m_unit = unit != nullptr ? unit : "";
    m_kind = kind != nullptr ? kind : "";
    m_defUI = defUI != nullptr ? defUI : "";
}

} // namespace PDB
