// Parameter information: the description of one parameter block (type, attribute, size patterns, limits and
// texts), the parameter type codes, the attribute flags and the filter byte used by imports and copies.
//
// Type code: one byte, high nibble = kind, low nibble = element width in bytes (0 for variable-size kinds):
//   0x11/0x12/0x14 unsigned, 0x21/0x22/0x24 signed, 0x34 float, 0x41 bool (one bit per element),
//   0x50 string and 0x60 binary (fixed capacity per element, held in the element size).
//
// Size pattern (patternX, patternY): low 16 bits = base n, bits above = mode. 0x10000000 multiplies n by the
// component's dimension, 0x20000000 divides the dimension by n rounding up, any other mode means n itself.
#pragma once

#include <string>

#include "klib_Types.h"
#include "klib_Variant.h"

namespace PDB {

// Type codes.
constexpr u8 TYPE_UINT8 = 0x11;
constexpr u8 TYPE_UINT16 = 0x12;
constexpr u8 TYPE_UINT32 = 0x14;
constexpr u8 TYPE_SINT8 = 0x21;
constexpr u8 TYPE_SINT16 = 0x22;
constexpr u8 TYPE_SINT32 = 0x24;
constexpr u8 TYPE_FLOAT = 0x34;
constexpr u8 TYPE_BOOL = 0x41;
constexpr u8 TYPE_STRING = 0x50;
constexpr u8 TYPE_BINARY = 0x60;

// Size pattern modes.
constexpr u32 PATTERN_MULTIPLY = 0x10000000;
constexpr u32 PATTERN_DIVIDE = 0x20000000;
constexpr u32 PATTERN_BASE_MASK = 0xFFFF;

// Kind nibble 1..6 and, for a non-zero width nibble, width == elementSize; width 0 needs elementSize != 0.
bool isValidTypeCode(u8 typeCode, u32 elementSize);

// Element count of one axis for a pattern and the component's dimension (64 bits: never wraps).
u64 resolvePatternCount(u32 pattern, u32 dimension);

// Bytes a block of this shape occupies in storage, in 64 bits, as the raw arrays allocate it (numbers count * width
// and BOOL the bit block, both rounded up to 4 bytes; STRING/BINARY count * element size rounded to 4; an unknown
// code count * element size).
u64 computeRawSize64(u8 typeCode, u32 elementSize, u64 count);

// Attribute value byte and flag byte.
class ParameterAttribute
{
public:
    static constexpr u8 FLAG_RECALLABLE = 0x01;
    static constexpr u8 FLAG_NONVOLATILE = 0x02;
    static constexpr u8 FLAG_SYNCABLE = 0x04;
    static constexpr u8 FLAG_NOEDIT = 0x08;
    static constexpr u8 FLAG_PRIVATE = 0x10;

    constexpr ParameterAttribute() = default;
    constexpr ParameterAttribute(u8 value, u8 flags) : m_value(value), m_flags(flags) {}

    u8 getValue() const { return m_value; }
    u8 getFlags() const { return m_flags; }
    void setValue(u8 value) { m_value = value; }
    void setFlags(u8 flags) { m_flags = flags; }

    bool isRecallable() const { return (m_flags & FLAG_RECALLABLE) != 0; }
    bool isNonvolatile() const { return (m_flags & FLAG_NONVOLATILE) != 0; }
    bool isSyncable() const { return (m_flags & FLAG_SYNCABLE) != 0; }
    bool isNoEdit() const { return (m_flags & FLAG_NOEDIT) != 0; }
    bool isPrivate() const { return (m_flags & FLAG_PRIVATE) != 0; }

    bool operator==(const ParameterAttribute& other) const = default;

private:
    u8 m_value = 0;
    u8 m_flags = 0;
};

// Selection bits of imports and filtered copies (the parameter arrays interpret them).
class ParameterFilter
{
public:
    constexpr ParameterFilter() = default;
    constexpr ParameterFilter(u8 bits) : m_bits(bits) {} // NOLINT: built from a byte on purpose

    u8 getBits() const { return m_bits; }
    operator u8() const { return m_bits; } // NOLINT: used as a byte
    void clearBits(u8 mask) { m_bits = static_cast<u8>(m_bits & ~mask); }

private:
    u8 m_bits = 0;
};

class ParameterInfo
{
public:
    static constexpr const char* UNKNOWN_ADDRESS = "<unknown>";

    ParameterInfo();
    ParameterInfo(const ParameterInfo& other) = default;
    ParameterInfo& operator=(const ParameterInfo& other) = default;
    ~ParameterInfo() = default;

    // Restores the defaults: address "<unknown>", patterns 1, counts 0, scaling 1, values empty, texts empty.
    void clear();

    // Resolves countX and countY from the patterns for the component's dimensions x and y. A base of 0 on either
    // axis, or a block whose element count or raw size exceeds 32 bits, sets both counts to 0 and gives
    // 0x80000001; otherwise 0.
    i32 setDimensions(u32 x, u32 y);

    u32 getElementCount() const { return m_countX * m_countY; }
    // Raw byte size of the block; 0 for an unknown type code.
    u32 getRawSize() const;
    // Valid type code and both counts non-zero.
    bool isValid() const;

    const std::string& getAddress() const { return m_address; }
    u8 getTypeCode() const { return m_typeCode; }
    const ParameterAttribute& getAttribute() const { return m_attribute; }
    u32 getElementSize() const { return m_elementSize; }
    u32 getPatternX() const { return m_patternX; }
    u32 getPatternY() const { return m_patternY; }
    const std::string& getCommentX() const { return m_commentX; }
    const std::string& getCommentY() const { return m_commentY; }
    u32 getCountX() const { return m_countX; }
    u32 getCountY() const { return m_countY; }
    const KVariant& getMin() const { return m_min; }
    const KVariant& getMax() const { return m_max; }
    const KVariant& getDefault() const { return m_def; }
    const KVariant& getNominal() const { return m_nominal; }
    const KVariant& getStep() const { return m_step; }
    u32 getScaling() const { return m_scaling; }
    const std::string& getUnit() const { return m_unit; }
    const std::string& getKind() const { return m_kind; }
    const std::string& getDefUI() const { return m_defUI; }

    // Field setters for the owners that build or rewrite blocks (the description, record readers, strategies).
    // A null text counts as empty.
    void setAddress(const char* address) { m_address = address != nullptr ? address : ""; }
    void setTypeCode(u8 typeCode) { m_typeCode = typeCode; }
    void setAttribute(const ParameterAttribute& attribute) { m_attribute = attribute; }
    void setElementSize(u32 elementSize) { m_elementSize = elementSize; }
    void setPatterns(u32 patternX, u32 patternY)
    {
        m_patternX = patternX;
        m_patternY = patternY;
    }
    void setComments(const char* commentX, const char* commentY);
    // Sets the counts directly (record readers take them from a record header).
    void setCounts(u32 countX, u32 countY)
    {
        m_countX = countX;
        m_countY = countY;
    }
    void setMin(const KVariant& value) { m_min = value; }
    void setMax(const KVariant& value) { m_max = value; }
    void setDefault(const KVariant& value) { m_def = value; }
    void setNominal(const KVariant& value) { m_nominal = value; }
    void setStep(const KVariant& value) { m_step = value; }
    void setScaling(u32 scaling) { m_scaling = scaling; }
    void setTexts(const char* unit, const char* kind, const char* defUI);

private:
    std::string m_address;
    u8 m_typeCode = 0;
    ParameterAttribute m_attribute;
    u32 m_elementSize = 0;
    u32 m_patternX = 1;
    u32 m_patternY = 1;
    std::string m_commentX;
    std::string m_commentY;
    u32 m_countX = 0;
    u32 m_countY = 0;
    KVariant m_min;
    KVariant m_max;
    KVariant m_def;
    KVariant m_nominal;
    KVariant m_step;
    u32 m_scaling = 1;
    std::string m_unit;
    std::string m_kind;
    std::string m_defUI;
};

} // namespace PDB
