// VariantType: the fixed-layout value that crosses the plug-in interfaces (28 bytes, 4-byte packing):
//   0 value (8)      a 32-bit unsigned, signed or float value in the low four bytes, or a pointer to the text or
//                    bytes in the buffer
//   8 buffer (8)     owned, from the C heap (either side may free it); null when the capacity is 0
//  16 type tag (4)   0 empty, 1 unsigned, 3 signed, 5 float, 7 text, 8 binary
//  20 capacity (4)   buffer size in bytes
//  24 byte count (4) size of a binary value
// Copies are deep (the value re-pointed into the copy's buffer); a move hands the buffer over. Text reads never
// go past the capacity, so a text the plug-in left unterminated is read up to the buffer's end.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "dadov_Result.h"
#include "dadov_Types.h"

namespace DADOV {

#pragma pack(push, 4)
class VariantType
{
public:
    static constexpr u32 TYPE_EMPTY = 0;
    static constexpr u32 TYPE_UINT = 1;
    static constexpr u32 TYPE_INT = 3;
    static constexpr u32 TYPE_FLOAT = 5;
    static constexpr u32 TYPE_STRING = 7;
    static constexpr u32 TYPE_BINARY = 8;

    // Empty, no buffer.
    VariantType() = default;
    // Empty, with a buffer of capacity bytes (see initialize).
    explicit VariantType(u32 capacity)
    {
        if (capacity > 0) {
            initialize(capacity);
        }
    }
    VariantType(const VariantType& other);
    VariantType(VariantType&& other) noexcept;
    VariantType& operator=(const VariantType& other);
    VariantType& operator=(VariantType&& other) noexcept;
    ~VariantType()
    {
        if (m_buffer != nullptr) {
            std::free(m_buffer);
        }
    }

    // Frees any buffer, zeroes every field and allocates a zeroed buffer of capacity bytes: 0, or 0x80000000 when
    // it cannot be allocated (capacity 0 then).
    i32 initialize(u32 capacity);
    // Frees the buffer; the value becomes empty with capacity 0.
    void release();
    // Type tag 0; the buffer stays.
    void clear() { m_type = TYPE_EMPTY; }

    i32 setUInt(u32 value) { return setNumber(TYPE_UINT, value); }
    i32 setInt(i32 value) { return setNumber(TYPE_INT, static_cast<u32>(value)); }
    i32 setFloat(f32 value)
    {
        u32 bits = 0;
        std::memcpy(&bits, &value, sizeof(bits));
        return setNumber(TYPE_FLOAT, bits);
    }
    // Needs a text and a buffer (else 0x80000000, nothing changed). Zero-fills the buffer, copies at most
    // capacity - 1 characters: 0, or 0x80000000 when the text was cut (the cut text is stored).
    i32 setString(const char* text);
    // Needs data (or size 0) and size <= capacity (else 0x80000000, nothing changed): 0.
    i32 setBinary(const void* data, u32 size);

    u32 getType() const { return m_type; }
    u32 getCapacity() const { return m_capacity; }
    // The value when the tag matches, else 0 (0.0).
    u32 getUInt() const { return m_type == TYPE_UINT ? static_cast<u32>(m_value) : 0u; }
    i32 getInt() const { return m_type == TYPE_INT ? static_cast<i32>(static_cast<u32>(m_value)) : 0; }
    f32 getFloat() const
    {
        f32 value = 0.0f;
        if (m_type == TYPE_FLOAT) {
            const u32 bits = static_cast<u32>(m_value);
            std::memcpy(&value, &bits, sizeof(value));
        }
        return value;
    }
    // Tag 7: the text (not necessarily terminated within the buffer; see getStringLength); else "".
    const char* getString() const;
    // Characters of the text, at most the capacity; 0 unless tag 7.
    u32 getStringLength() const;
    // Tag 8: the bytes; else a static empty block.
    const u8* getBinary() const;
    // Tag 8: the byte count; else 0.
    u32 getBinarySize() const;
    // Same tag, value word and byte count (texts and bytes compare by where they are, not by content).
    bool isSameValue(const VariantType& other) const
    {
        return m_type == other.m_type && m_value == other.m_value && m_byteCount == other.m_byteCount;
    }

private:
    friend struct VariantTypeLayout;

    i32 setNumber(u32 type, u32 bits)
    {
        m_value = bits;
        m_type = type;
        return DADOV_OK;
    }
    const u8* pointedBytes() const;

    u64 m_value = 0;
    u8* m_buffer = nullptr;
    u32 m_type = TYPE_EMPTY;
    u32 m_capacity = 0;
    u32 m_byteCount = 0;
};

// One logic port as a plug-in describes it (116 bytes).
struct LogicPortDescriptor
{
    VariantType name;           // text; the host gives it a 49-byte buffer
    u32 kind = 0;               // 1 to 8
    VariantType expressionName; // text; the host gives it a 17-byte buffer
    VariantType minValue;
    VariantType maxValue;
};
#pragma pack(pop)

struct VariantTypeLayout
{
    static_assert(sizeof(VariantType) == 28);
    static_assert(offsetof(VariantType, m_value) == 0);
    static_assert(offsetof(VariantType, m_buffer) == 8);
    static_assert(offsetof(VariantType, m_type) == 16);
    static_assert(offsetof(VariantType, m_capacity) == 20);
    static_assert(offsetof(VariantType, m_byteCount) == 24);
    static_assert(sizeof(LogicPortDescriptor) == 116);
    static_assert(offsetof(LogicPortDescriptor, kind) == 28);
    static_assert(offsetof(LogicPortDescriptor, maxValue) == 88);
};

} // namespace DADOV
