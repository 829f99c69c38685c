// BOOL raw array (type code 0x41): one bit per element, most significant bit first.
// Element i is bit 7 - (i & 7) of byte i / 8; the block is ceil(count / 8) bytes rounded up to a multiple of 4.
#pragma once

#include "pdb_ParamRawArray.h"

namespace PDB {

class RawArrayBool final : public IRawArray
{
public:
    static constexpr u8 TYPE_CODE = 0x41;

    // Bytes of the bit block for count elements: ceil(count / 8) rounded up to a multiple of 4.
    static u32 blockSize(u32 count) { return static_cast<u32>(((static_cast<u64>(count) + 7) / 8 + 3) & ~u64{3}); }

    RawArrayBool() = default;
    RawArrayBool(const RawArrayBool&) = delete;
    RawArrayBool& operator=(const RawArrayBool&) = delete;
    ~RawArrayBool() override;

    // Releases, then allocates a zeroed block for count bits (owned). count 0 leaves the array empty and
    // returns 0; allocation failure leaves it empty and gives 0x80040000.
    i32 allocate(u32 count);
    u8* data() { return m_pData; }
    const u8* data() const { return m_pData; }

    i32 release() override;
    u8 getTypeCode() const override { return TYPE_CODE; }
    u8* getElementPointer(u32 index) override;
    const u8* getElementPointer(u32 index) const override;
    u32 getElementSize() const override { return 1; }
    u32 getSize() const override { return m_pData ? blockSize(m_count) : 0; }
    u32 getCount() const override { return m_count; }
    bool isAllocated() const override { return m_pData != nullptr; }

    i32 getValue(KVariant& out, u32 index) const override;
    u32 getUInt32(u32 index) const override { return bit(index); }
    u16 getUInt16(u32 index) const override { return bit(index); }
    u8 getUInt8(u32 index) const override { return bit(index); }
    i32 getInt32(u32 index) const override { return bit(index); }
    i16 getInt16(u32 index) const override { return bit(index); }
    i8 getInt8(u32 index) const override { return static_cast<i8>(bit(index)); }
    f32 getFloat(u32 index) const override { return bit(index) ? 1.0f : 0.0f; }
    bool getBool(u32 index) const override { return bit(index) != 0; }
    i32 getString(u32 index, char* buffer, u32 size) const override;
    i32 getBinary(u32 index, void* buffer, u32 size) const override;

    i32 setValue(u32 index, const KVariant& value) override;
    i32 setUInt32(u32 index, u32 value) override { return setBit(index, value != 0); }
    i32 setUInt16(u32 index, u16 value) override { return setBit(index, value != 0); }
    i32 setUInt8(u32 index, u8 value) override { return setBit(index, value != 0); }
    i32 setInt32(u32 index, i32 value) override { return setBit(index, value != 0); }
    i32 setInt16(u32 index, i16 value) override { return setBit(index, value != 0); }
    i32 setInt8(u32 index, i8 value) override { return setBit(index, value != 0); }
    i32 setFloat(u32 index, f32 value) override { return setBit(index, truncateFloatToInt64(value) != 0); }
    i32 setBool(u32 index, bool value) override { return setBit(index, value); }
    i32 setString(u32 index, const char* text) override;
    i32 setBinary(u32 index, const void* data, u32 size) override;

    i32 assign(const IRawArray& source, u8 copyByte) override;
    i32 importRange(const void* image, u32 size, u8 typeCode, u32 elementSize, u32 start, u32 count) override;
    i32 importAll(const void* image, u32 size, u8 typeCode, u32 elementSize) override;
    i32 copyRange(const IRawArray& source, u32 start, u32 count) override;
    i32 copyAll(const IRawArray& source) override;
    void dump() const override;

    // Copies bits [start, start + count) of the bit block src onto the same positions of dst; whole bytes are
    // copied as a block, the partial bytes at both ends under a mask.
    static void copyBits(u8* dst, const u8* src, u32 start, u32 count);

private:
    u8 bit(u32 index) const { return static_cast<u8>((m_pData[index >> 3] >> (7 - (index & 7))) & 1u); }
    i32 setBit(u32 index, bool value)
    {
        const u8 mask = static_cast<u8>(0x80u >> (index & 7));
        if (value) {
            m_pData[index >> 3] |= mask;
        } else {
            m_pData[index >> 3] &= static_cast<u8>(~mask);
        }
        return 0;
    }

    u8* m_pData = nullptr;
    u32 m_count = 0;
    u8 m_owned = 0;
};

} // namespace PDB
