// Byte-data raw arrays: STRING (0x50) and BINARY (0x60) elements of a fixed capacity (the element size).
// Element i starts at i * stride, stride = element size rounded up to a multiple of 4; the bytes of a stride
// after the stored content are zero. A STRING that fills its whole capacity has no terminator inside.
#pragma once

#include "pdb_ParamRawArray.h"

namespace PDB {

class RawArrayAbstractByteData : public IRawArray
{
public:
    // Bytes between the starts of two elements of this size (in 64 bits: sizes near 0xFFFFFFFF round past it).
    static u64 strideOf(u32 elementSize) { return (static_cast<u64>(elementSize) + 3) & ~u64{3}; }

    RawArrayAbstractByteData(const RawArrayAbstractByteData&) = delete;
    RawArrayAbstractByteData& operator=(const RawArrayAbstractByteData&) = delete;
    ~RawArrayAbstractByteData() override;

    // allocate, then copies min(size, getSize()) bytes of data.
    i32 allocateWithData(u32 count, u32 elementSize, const void* data, u32 size);
    // Releases, then allocates stride * count zeroed bytes (owned). count 0, element size 0, a block above
    // 0xFFFFFFFF bytes or an allocation failure leave the array empty and give 0x80000000.
    i32 allocate(u32 count, u32 elementSize);
    // Releases, then uses the caller's buffer (never freed by this array) when it is non-null, count > 0,
    // elementSize > 0 and size >= stride * count; else the array stays empty and the result is 0x80000000.
    i32 attach(u32 count, u32 elementSize, void* buffer, u32 size);
    bool isOwned() const { return m_owned != 0; }
    u32 getStride() const { return m_stride; }

    i32 release() override;
    u8* getElementPointer(u32 index) override;
    const u8* getElementPointer(u32 index) const override;
    u32 getElementSize() const override { return m_elementSize; }
    u32 getSize() const override { return m_stride * m_count; }
    u32 getCount() const override { return m_count; }
    bool isAllocated() const override { return m_pData != nullptr; }

    u32 getUInt32(u32) const override { return 0; }
    u16 getUInt16(u32) const override { return 0; }
    u8 getUInt8(u32) const override { return 0; }
    i32 getInt32(u32) const override { return 0; }
    i16 getInt16(u32) const override { return 0; }
    i8 getInt8(u32) const override { return 0; }
    f32 getFloat(u32) const override { return 0.0f; }
    bool getBool(u32) const override { return false; }

    i32 setUInt32(u32, u32) override;
    i32 setUInt16(u32, u16) override;
    i32 setUInt8(u32, u8) override;
    i32 setInt32(u32, i32) override;
    i32 setInt16(u32, i16) override;
    i32 setInt8(u32, i8) override;
    i32 setFloat(u32, f32) override;
    i32 setBool(u32, bool) override;

    i32 assign(const IRawArray& source, u8 copyByte) override;
    i32 importRange(const void* image, u32 size, u8 typeCode, u32 elementSize, u32 start, u32 count) override;
    i32 importAll(const void* image, u32 size, u8 typeCode, u32 elementSize) override;
    i32 copyRange(const IRawArray& source, u32 start, u32 count) override;
    i32 copyAll(const IRawArray& source) override;
    void dump() const override;

protected:
    RawArrayAbstractByteData() = default;

    // Rewrites the element's whole stride: length bytes of bytes (may be null when length is 0), the rest zero.
    void writeElement(u32 index, const void* bytes, u32 length);
    // Prints one element for dump.
    virtual void dumpElement(const u8* element) const = 0;

    u8* m_pData = nullptr;
    u32 m_elementSize = 0;
    u32 m_stride = 0;
    u32 m_count = 0;
    u8 m_owned = 0;
};

// Texts of up to element-size characters.
class RawArrayString final : public RawArrayAbstractByteData
{
public:
    static constexpr u8 TYPE_CODE = 0x50;

    u8 getTypeCode() const override { return TYPE_CODE; }
    // String kind holding the element text (at most element-size characters); 0x80040000 when the variant
    // cannot hold it.
    i32 getValue(KVariant& out, u32 index) const override;
    // Needs size >= element size + 1 (else 0x80000001); copies the text and a terminator.
    i32 getString(u32 index, char* buffer, u32 size) const override;
    // Not a binary element: zero-fills the buffer and returns 0.
    i32 getBinary(u32 index, void* buffer, u32 size) const override;

    // The variant's text, cut to the capacity (0x40 when cut); a non-text variant zeroes the element.
    i32 setValue(u32 index, const KVariant& value) override;
    // At most element-size characters; a null or empty text zeroes the element. Returns 0.
    i32 setString(u32 index, const char* text) override;
    i32 setBinary(u32 index, const void* data, u32 size) override;

protected:
    void dumpElement(const u8* element) const override;
};

// Byte blocks of exactly element-size bytes.
class RawArrayBinary final : public RawArrayAbstractByteData
{
public:
    static constexpr u8 TYPE_CODE = 0x60;

    u8 getTypeCode() const override { return TYPE_CODE; }
    // Binary kind holding the whole element; 0x80040000 when the variant cannot hold it.
    i32 getValue(KVariant& out, u32 index) const override;
    // Not a text element: zero-fills the buffer and returns 0.
    i32 getString(u32 index, char* buffer, u32 size) const override;
    // Needs size >= element size (else 0x80000001); copies the element and zero-fills the rest of the buffer.
    i32 getBinary(u32 index, void* buffer, u32 size) const override;

    // The variant's bytes as setBinary; a non-binary variant zeroes the element.
    i32 setValue(u32 index, const KVariant& value) override;
    i32 setString(u32 index, const char* text) override;
    // min(size, element size) bytes, the rest zero; 0x40 when size exceeded the capacity. Null data or size 0
    // zeroes the element and returns 0.
    i32 setBinary(u32 index, const void* data, u32 size) override;

protected:
    void dumpElement(const u8* element) const override;
};

} // namespace PDB
