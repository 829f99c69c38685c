// Typed raw arrays: the flat value store of one parameter block.
//
// A raw array holds `count` elements of one parameter type code, addressed by a flat element index. Its memory
// is also its binary image (the values of a "#PR1" record), so the byte layout is fixed:
//   - numbers (RawArray<T>): elements packed, little-endian, floats as IEEE single;
//   - BOOL (RawArrayBool): element i is bit 7 - (i & 7) of byte i / 8, the block rounded up to 4 bytes;
//   - STRING / BINARY (pdb_ParamRawArrayByteData.h): element i at i * stride, stride = element size rounded up
//     to 4, the unused bytes of a stride zero.
//
// Raw arrays hold no locks, no change flags and no strategy; the parameter array around them adds those.
// Index arguments are trusted: callers check them against getCount().
//
// Result codes: 0 success; 0x40 value cut to the element's capacity; 0x80000000 byte-data allocation or
// argument failure; 0x80000001 bad argument or index; 0x80008000 this array holds no data; 0x80020000 type
// code mismatch; 0x80040000 allocation failure; 0x80080000 operation not supported by this kind.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "klib_Types.h"
#include "klib_Variant.h"

// Memory is the stored image; a big-endian host would need a byte-swapping path.
static_assert(std::endian::native == std::endian::little, "raw arrays assume a little-endian host");

namespace PDB {

// Float to integer as every raw array converts it: truncated toward zero into 64 bits; NaN, infinities and
// |value| >= 2^63 have no 64-bit value and give 0x8000000000000000 (so 0 after a cut to 32 bits or fewer).
inline i64 truncateFloatToInt64(f32 value)
{
    if (value >= -0x1p63f && value < 0x1p63f) {
        return static_cast<i64>(value);
    }
    return INT64_MIN;
}

class IRawArray
{
public:
    virtual ~IRawArray() = default;

    // Frees owned data; afterwards the array is empty (no data, count 0, not owned). Returns 0.
    virtual i32 release() = 0;
    virtual u8 getTypeCode() const = 0;
    // Start of the element (for BOOL: the byte holding its bit); null without data.
    virtual u8* getElementPointer(u32 index) = 0;
    virtual const u8* getElementPointer(u32 index) const = 0;
    virtual u32 getElementSize() const = 0;
    // Bytes in use: count * width for numbers, the rounded bit block for BOOL, stride * count for byte data.
    virtual u32 getSize() const = 0;
    virtual u32 getCount() const = 0;
    virtual bool isAllocated() const = 0;

    virtual i32 getValue(KVariant& out, u32 index) const = 0;
    virtual u32 getUInt32(u32 index) const = 0;
    virtual u16 getUInt16(u32 index) const = 0;
    virtual u8 getUInt8(u32 index) const = 0;
    virtual i32 getInt32(u32 index) const = 0;
    virtual i16 getInt16(u32 index) const = 0;
    virtual i8 getInt8(u32 index) const = 0;
    virtual f32 getFloat(u32 index) const = 0;
    virtual bool getBool(u32 index) const = 0;
    virtual i32 getString(u32 index, char* buffer, u32 size) const = 0;
    virtual i32 getBinary(u32 index, void* buffer, u32 size) const = 0;

    virtual i32 setValue(u32 index, const KVariant& value) = 0;
    virtual i32 setUInt32(u32 index, u32 value) = 0;
    virtual i32 setUInt16(u32 index, u16 value) = 0;
    virtual i32 setUInt8(u32 index, u8 value) = 0;
    virtual i32 setInt32(u32 index, i32 value) = 0;
    virtual i32 setInt16(u32 index, i16 value) = 0;
    virtual i32 setInt8(u32 index, i8 value) = 0;
    virtual i32 setFloat(u32 index, f32 value) = 0;
    virtual i32 setBool(u32 index, bool value) = 0;
    virtual i32 setString(u32 index, const char* text) = 0;
    virtual i32 setBinary(u32 index, const void* data, u32 size) = 0;

    // Whole-array copy; re-shapes this array to the source's count (and element size). copyByte >= 32 is
    // refused with 0x80080000.
    virtual i32 assign(const IRawArray& source, u8 copyByte) = 0;
    // Values from a binary image in the layout above, elements [start, start + count) clipped to what the image
    // and this array hold.
    virtual i32 importRange(const void* image, u32 size, u8 typeCode, u32 elementSize, u32 start, u32 count) = 0;
    virtual i32 importAll(const void* image, u32 size, u8 typeCode, u32 elementSize) = 0;
    // Elements [start, start + count) of source into the same positions, clipped to both counts.
    virtual i32 copyRange(const IRawArray& source, u32 start, u32 count) = 0;
    virtual i32 copyAll(const IRawArray& source) = 0;
    // Prints the elements to standard output: "{ 1, 2, 3 }\n", or "null\n" without data.
    virtual void dump() const = 0;
};

// Number type traits: the type code of each storable element type.
template <typename T> struct RawArrayTraits;
template <> struct RawArrayTraits<signed char>
{
    static constexpr u8 TYPE_CODE = 0x21;
};
template <> struct RawArrayTraits<unsigned char>
{
    static constexpr u8 TYPE_CODE = 0x11;
};
template <> struct RawArrayTraits<short>
{
    static constexpr u8 TYPE_CODE = 0x22;
};
template <> struct RawArrayTraits<unsigned short>
{
    static constexpr u8 TYPE_CODE = 0x12;
};
template <> struct RawArrayTraits<int>
{
    static constexpr u8 TYPE_CODE = 0x24;
};
template <> struct RawArrayTraits<unsigned int>
{
    static constexpr u8 TYPE_CODE = 0x14;
};
template <> struct RawArrayTraits<float>
{
    static constexpr u8 TYPE_CODE = 0x34;
};

// count elements of a number type, packed.
template <typename T> class RawArray final : public IRawArray
{
public:
    static constexpr u8 TYPE_CODE = RawArrayTraits<T>::TYPE_CODE;

    RawArray() = default;
    RawArray(const RawArray&) = delete;
    RawArray& operator=(const RawArray&) = delete;
    ~RawArray() override;

    // Releases, then allocates count zeroed elements (owned). count 0 leaves the array empty and returns 0;
    // a block above 0xFFFFFFFF bytes or an allocation failure leaves it empty and gives 0x80040000.
    i32 allocate(u32 count);
    T* data() { return m_pData; }
    const T* data() const { return m_pData; }

    i32 release() override;
    u8 getTypeCode() const override { return TYPE_CODE; }
    u8* getElementPointer(u32 index) override;
    const u8* getElementPointer(u32 index) const override;
    u32 getElementSize() const override { return sizeof(T); }
    u32 getSize() const override { return m_count * static_cast<u32>(sizeof(T)); }
    u32 getCount() const override { return m_count; }
    bool isAllocated() const override { return m_pData != nullptr; }

    i32 getValue(KVariant& out, u32 index) const override;
    u32 getUInt32(u32 index) const override;
    u16 getUInt16(u32 index) const override;
    u8 getUInt8(u32 index) const override;
    i32 getInt32(u32 index) const override;
    i16 getInt16(u32 index) const override;
    i8 getInt8(u32 index) const override;
    f32 getFloat(u32 index) const override;
    bool getBool(u32 index) const override;
    i32 getString(u32 index, char* buffer, u32 size) const override;
    i32 getBinary(u32 index, void* buffer, u32 size) const override;

    i32 setValue(u32 index, const KVariant& value) override;
    i32 setUInt32(u32 index, u32 value) override;
    i32 setUInt16(u32 index, u16 value) override;
    i32 setUInt8(u32 index, u8 value) override;
    i32 setInt32(u32 index, i32 value) override;
    i32 setInt16(u32 index, i16 value) override;
    i32 setInt8(u32 index, i8 value) override;
    i32 setFloat(u32 index, f32 value) override;
    i32 setBool(u32 index, bool value) override;
    i32 setString(u32 index, const char* text) override;
    i32 setBinary(u32 index, const void* data, u32 size) override;

    i32 assign(const IRawArray& source, u8 copyByte) override;
    i32 importRange(const void* image, u32 size, u8 typeCode, u32 elementSize, u32 start, u32 count) override;
    i32 importAll(const void* image, u32 size, u8 typeCode, u32 elementSize) override;
    i32 copyRange(const IRawArray& source, u32 start, u32 count) override;
    i32 copyAll(const IRawArray& source) override;
    void dump() const override;

private:
    // The element as a 64-bit integer: integers sign- or zero-extended, floats as truncateFloatToInt64.
    i64 toInt64(u32 index) const;
    // Integer arrays only: the value cut to the width.
    void storeInt64(u32 index, i64 value);

    T* m_pData = nullptr;
    u32 m_count = 0;
    u8 m_owned = 0;
};

extern template class RawArray<signed char>;
extern template class RawArray<unsigned char>;
extern template class RawArray<short>;
extern template class RawArray<unsigned short>;
extern template class RawArray<int>;
extern template class RawArray<unsigned int>;
extern template class RawArray<float>;

// Stand-in for a parameter block without storage: reports nothing, stores nothing. One shared instance.
class RawArrayNull final : public IRawArray
{
public:
    i32 release() override { return 0; }
    u8 getTypeCode() const override { return 0; }
    u8* getElementPointer(u32) override { return nullptr; }
    const u8* getElementPointer(u32) const override { return nullptr; }
    u32 getElementSize() const override { return 0; }
    u32 getSize() const override { return 0; }
    u32 getCount() const override { return 0; }
    bool isAllocated() const override { return false; }

    i32 getValue(KVariant& out, u32 index) const override;
    u32 getUInt32(u32) const override { return 0; }
    u16 getUInt16(u32) const override { return 0; }
    u8 getUInt8(u32) const override { return 0; }
    i32 getInt32(u32) const override { return 0; }
    i16 getInt16(u32) const override { return 0; }
    i8 getInt8(u32) const override { return 0; }
    f32 getFloat(u32) const override { return 0.0f; }
    bool getBool(u32) const override { return false; }
    i32 getString(u32 index, char* buffer, u32 size) const override;
    i32 getBinary(u32 index, void* buffer, u32 size) const override;

    i32 setValue(u32, const KVariant&) override { return 0; }
    i32 setUInt32(u32, u32) override { return 0; }
    i32 setUInt16(u32, u16) override { return 0; }
    i32 setUInt8(u32, u8) override { return 0; }
    i32 setInt32(u32, i32) override { return 0; }
    i32 setInt16(u32, i16) override { return 0; }
    i32 setInt8(u32, i8) override { return 0; }
    i32 setFloat(u32, f32) override { return 0; }
    i32 setBool(u32, bool) override { return 0; }
    i32 setString(u32, const char*) override { return 0; }
    i32 setBinary(u32, const void*, u32) override { return 0; }

    i32 assign(const IRawArray&, u8) override { return 0; }
    i32 importRange(const void*, u32, u8, u32, u32, u32) override { return 0; }
    i32 importAll(const void*, u32, u8, u32) override { return 0; }
    i32 copyRange(const IRawArray&, u32, u32) override { return 0; }
    i32 copyAll(const IRawArray&) override { return 0; }
    void dump() const override;
};

// The one shared RawArrayNull; it lives for the whole process and is never freed by its users.
IRawArray* getNullRawArray();

// Bytes a parameter block of this shape occupies in stored images (0 for an unknown type code or a shape
// above 0xFFFFFFFF bytes).
u32 computeRawSize(u8 typeCode, u32 elementSize, u32 count);

// Creates the array class of typeCode with count zeroed elements (elementSize is used by STRING and BINARY
// only). count 0 gives an array without data and still 0. out is null first; an unknown code, an element
// size 0 with count > 0, a shape above 0xFFFFFFFF bytes or an allocation failure give 0x80040000 and null.
i32 createRawArray(IRawArray*& out, u8 typeCode, u32 elementSize, u32 count);
// The same, then copies min(size, getSize()) bytes of data; count 0 or a failed element block gives
// 0x80040000 and null.
i32 createRawArrayWithData(IRawArray*& out, u8 typeCode, u32 elementSize, u32 count, const void* data, u32 size);
// Deletes an array made by the factories; null and the shared null array are left alone.
void destroyRawArray(IRawArray* array);

} // namespace PDB
