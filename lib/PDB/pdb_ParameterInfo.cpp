#include "pdb_ParameterInfo.h"

#include "pdb_ParamRawArray.h"
#include "pdb_Result.h"

namespace PDB {

namespace {

constexpr u64 MAX_U32 = 0xFFFFFFFFu;

}  // namespace

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

ParameterInfo::ParameterInfo() : m_Address(UNKNOWN_ADDRESS) {}

void ParameterInfo::clear()
{
    m_Address = UNKNOWN_ADDRESS;
    m_TypeCode = 0;
    m_Attribute = ParameterAttribute();
    m_ElementSize = 0;
    m_PatternX = 1;
    m_PatternY = 1;
    m_CommentX.clear();
    m_CommentY.clear();
    m_CountX = 0;
    m_CountY = 0;
    m_Min.clear();
    m_Max.clear();
    m_Def.clear();
    m_Nominal.clear();
    m_Step.clear();
    m_Scaling = 1;
    m_Unit.clear();
    m_Kind.clear();
    m_DefUI.clear();
}

i32 ParameterInfo::setDimensions(u32 x, u32 y)
{
    const u64 countX = resolvePatternCount(m_PatternX, x);
    const u64 countY = resolvePatternCount(m_PatternY, y);
    // Each axis is below 2^48 (base <= 0xFFFF), but the product and the raw size must fit the 32-bit sizes of
    // the raw arrays, or storage would be allocated too small.
    if (countX == 0 || countY == 0 || countX > MAX_U32 || countY > MAX_U32 || countX * countY > MAX_U32 ||
        computeRawSize64(m_TypeCode, m_ElementSize, countX * countY) > MAX_U32) {
        m_CountX = 0;
        m_CountY = 0;
        return RESULT_BAD_ARGUMENT;
    }
    m_CountX = static_cast<u32>(countX);
    m_CountY = static_cast<u32>(countY);
    return 0;
}

u32 ParameterInfo::getRawSize() const
{
    return computeRawSize(m_TypeCode, m_ElementSize, getElementCount());
}

bool ParameterInfo::isValid() const
{
    return isValidTypeCode(m_TypeCode, m_ElementSize) && m_CountX != 0 && m_CountY != 0;
}

void ParameterInfo::setComments(const char* commentX, const char* commentY)
{
    m_CommentX = commentX != nullptr ? commentX : "";
    m_CommentY = commentY != nullptr ? commentY : "";
}

void ParameterInfo::setTexts(const char* unit, const char* kind, const char* defUI)
{
    m_Unit = unit != nullptr ? unit : "";
    m_Kind = kind != nullptr ? kind : "";
    m_DefUI = defUI != nullptr ? defUI : "";
}

}  // namespace PDB
