// STRING and BINARY raw arrays: fixed-capacity elements at a 4-aligned stride.
#include "pdb_ParamRawArrayByteData.h"

#include <algorithm>
#include <cstdlib>

#include "klib_Print.h"
#include "pdb_Result.h"

namespace PDB {

namespace {

constexpr i32 kValueCut = 0x40;
constexpr u64 kMaxBlockSize = 0xFFFFFFFFu;
constexpr u8 kMaxCopyByte = 32;

void zeroFill(void* buffer, u32 size)
{
    if (buffer != nullptr && size > 0) {
        std::memset(buffer, 0, size);
    }
}

// Copies elements [start, start + count) between blocks of different element sizes: each element takes
// min(dstSize, srcSize) bytes, the rest of the destination stride is zeroed.
void copyResized(u8* dst, u64 dstStride, u32 dstSize, const u8* src, u64 srcStride, u32 srcSize, u32 start, u32 count)
{
    const u32 n = std::min(dstSize, srcSize);
    for (u64 i = start; i < u64{start} + count; ++i) {
        u8* to = dst + i * dstStride;
        std::memcpy(to, src + i * srcStride, n);
        std::memset(to + n, 0, static_cast<size_t>(dstStride - n));
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// RawArrayAbstractByteData
// ---------------------------------------------------------------------------------------------------------------

RawArrayAbstractByteData::~RawArrayAbstractByteData()
{
    release();
}

i32 RawArrayAbstractByteData::allocateWithData(u32 count, u32 elementSize, const void* data, u32 size)
{
    const i32 result = allocate(count, elementSize);
    if (result < 0) {
        return result;
    }
    if (data != nullptr) {
        std::memcpy(m_pData, data, std::min(size, getSize()));
    }
    return 0;
}

i32 RawArrayAbstractByteData::allocate(u32 count, u32 elementSize)
{
    release();
    if (count == 0 || elementSize == 0) {
        return RESULT_FAILED;
    }
    const u64 stride = strideOf(elementSize);
    if (stride * count > kMaxBlockSize) {
        return RESULT_FAILED;
    }
    void* block = std::calloc(count, static_cast<size_t>(stride));
    if (block == nullptr) {
        return RESULT_FAILED;
    }
    m_pData = static_cast<u8*>(block);
    m_elementSize = elementSize;
    m_stride = static_cast<u32>(stride);
    m_count = count;
    m_owned = 1;
    return 0;
}

i32 RawArrayAbstractByteData::attach(u32 count, u32 elementSize, void* buffer, u32 size)
{
    release();
    if (buffer == nullptr || count == 0 || elementSize == 0) {
        return RESULT_FAILED;
    }
    const u64 stride = strideOf(elementSize);
    if (u64{size} < stride * count) {
        return RESULT_FAILED;
    }
    m_pData = static_cast<u8*>(buffer);
    m_elementSize = elementSize;
    m_stride = static_cast<u32>(stride);
    m_count = count;
    m_owned = 0;
    return 0;
}

i32 RawArrayAbstractByteData::release()
{
    if (m_owned != 0) {
        std::free(m_pData);
    }
    m_pData = nullptr;
    m_elementSize = 0;
    m_stride = 0;
    m_count = 0;
    m_owned = 0;
    return 0;
}

u8* RawArrayAbstractByteData::getElementPointer(u32 index)
{
    return m_pData ? m_pData + size_t{index} * m_stride : nullptr;
}

const u8* RawArrayAbstractByteData::getElementPointer(u32 index) const
{
    return m_pData ? m_pData + size_t{index} * m_stride : nullptr;
}

void RawArrayAbstractByteData::writeElement(u32 index, const void* bytes, u32 length)
{
    u8* element = m_pData + size_t{index} * m_stride;
    if (length > 0) {
        std::memcpy(element, bytes, length);
    }
    std::memset(element + length, 0, m_stride - length);
}

i32 RawArrayAbstractByteData::setUInt32(u32, u32)
{
    return RESULT_NOT_SUPPORTED;
}
i32 RawArrayAbstractByteData::setUInt16(u32, u16)
{
    return RESULT_NOT_SUPPORTED;
}
i32 RawArrayAbstractByteData::setUInt8(u32, u8)
{
    return RESULT_NOT_SUPPORTED;
}
i32 RawArrayAbstractByteData::setInt32(u32, i32)
{
    return RESULT_NOT_SUPPORTED;
}
i32 RawArrayAbstractByteData::setInt16(u32, i16)
{
    return RESULT_NOT_SUPPORTED;
}
i32 RawArrayAbstractByteData::setInt8(u32, i8)
{
    return RESULT_NOT_SUPPORTED;
}
i32 RawArrayAbstractByteData::setFloat(u32, f32)
{
    return RESULT_NOT_SUPPORTED;
}
i32 RawArrayAbstractByteData::setBool(u32, bool)
{
    return RESULT_NOT_SUPPORTED;
}

i32 RawArrayAbstractByteData::assign(const IRawArray& source, u8 copyByte)
{
    if (copyByte >= kMaxCopyByte) {
        return RESULT_NOT_SUPPORTED;
    }
    if (!source.isAllocated()) {
        return RESULT_BAD_ARGUMENT;
    }
    if (source.getTypeCode() != getTypeCode()) {
        return RESULT_TYPE_MISMATCH;
    }
    if (&source == this) {
        return 0;
    }
    if (source.getCount() != m_count || source.getElementSize() != m_elementSize || m_pData == nullptr) {
        if (allocate(source.getCount(), source.getElementSize()) < 0) {
            return RESULT_NO_MEMORY;
        }
    }
    std::memcpy(m_pData, source.getElementPointer(0), getSize());
    return 0;
}

i32 RawArrayAbstractByteData::importRange(const void* image, u32 size, u8 typeCode, u32 elementSize, u32 start,
                                          u32 count)
{
    if (m_pData == nullptr) {
        return RESULT_NO_DATA;
    }
    if (image == nullptr || size == 0) {
        return RESULT_BAD_ARGUMENT;
    }
    if (typeCode != getTypeCode()) {
        return RESULT_TYPE_MISMATCH;
    }
    if (elementSize == 0) {
        return RESULT_BAD_ARGUMENT; // an image of empty elements has no stride to walk
    }
    const u64 imageStride = strideOf(elementSize);
    const u32 available = static_cast<u32>(std::min<u64>(size / imageStride, m_count));
    if (start >= available) {
        return RESULT_BAD_ARGUMENT;
    }
    const u32 n = std::min(available - start, count);
    const u8* bytes = static_cast<const u8*>(image);
    if (elementSize == m_elementSize) {
        std::memcpy(m_pData + size_t{start} * m_stride, bytes + size_t{start} * m_stride, size_t{n} * m_stride);
    } else {
        copyResized(m_pData, m_stride, m_elementSize, bytes, imageStride, elementSize, start, n);
    }
    return 0;
}

i32 RawArrayAbstractByteData::importAll(const void* image, u32 size, u8 typeCode, u32 elementSize)
{
    return importRange(image, size, typeCode, elementSize, 0, m_count);
}

i32 RawArrayAbstractByteData::copyRange(const IRawArray& source, u32 start, u32 count)
{
    if (m_pData == nullptr) {
        return RESULT_NO_DATA;
    }
    if (!source.isAllocated()) {
        return RESULT_BAD_ARGUMENT;
    }
    if (source.getTypeCode() != getTypeCode()) {
        return RESULT_TYPE_MISMATCH;
    }
    const u32 available = std::min(source.getCount(), m_count);
    if (start >= available) {
        return RESULT_BAD_ARGUMENT;
    }
    if (&source == this) {
        return 0;
    }
    const u32 n = std::min(available - start, count);
    const u32 sourceSize = source.getElementSize();
    if (sourceSize == m_elementSize) {
        std::memcpy(getElementPointer(start), source.getElementPointer(start), size_t{n} * m_stride);
    } else {
        copyResized(m_pData, m_stride, m_elementSize, source.getElementPointer(0), strideOf(sourceSize), sourceSize,
                    start, n);
    }
    return 0;
}

i32 RawArrayAbstractByteData::copyAll(const IRawArray& source)
{
    return copyRange(source, 0, m_count);
}

void RawArrayAbstractByteData::dump() const
{
    if (m_pData == nullptr) {
        klib_printf("null\n");
        return;
    }
    klib_printf("{ ");
    for (u32 i = 0; i < m_count; ++i) {
        dumpElement(getElementPointer(i));
        klib_printf("%s", i + 1 < m_count ? ", " : " ");
    }
    klib_printf("}\n");
}

// ---------------------------------------------------------------------------------------------------------------
// RawArrayString
// ---------------------------------------------------------------------------------------------------------------

namespace {

u32 elementTextLength(const u8* element, u32 capacity)
{
    const void* nul = std::memchr(element, 0, capacity);
    return nul ? static_cast<u32>(static_cast<const u8*>(nul) - element) : capacity;
}

} // namespace

i32 RawArrayString::getValue(KVariant& out, u32 index) const
{
    const u32 result = out.setString(reinterpret_cast<const char*>(getElementPointer(index)), m_elementSize);
    return (result & 0x80000000u) != 0 ? RESULT_NO_MEMORY : 0;
}

i32 RawArrayString::getString(u32 index, char* buffer, u32 size) const
{
    if (buffer == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    if (u64{size} < u64{m_elementSize} + 1) {
        zeroFill(buffer, size);
        return RESULT_BAD_ARGUMENT;
    }
    const u8* element = getElementPointer(index);
    const u32 length = elementTextLength(element, m_elementSize);
    std::memcpy(buffer, element, length);
    buffer[length] = '\0';
    return 0;
}

i32 RawArrayString::getBinary(u32, void* buffer, u32 size) const
{
    zeroFill(buffer, size);
    return 0;
}

i32 RawArrayString::setValue(u32 index, const KVariant& value)
{
    const u32 textSize = value.getStringSize(); // length + 1; 0 for other kinds
    const char* text = value.getString();
    if (textSize == 0 || text == nullptr) {
        writeElement(index, nullptr, 0);
        return 0;
    }
    const u32 length = textSize - 1;
    writeElement(index, text, std::min(length, m_elementSize));
    return length > m_elementSize ? kValueCut : 0;
}

i32 RawArrayString::setString(u32 index, const char* text)
{
    if (text == nullptr) {
        writeElement(index, nullptr, 0);
        return 0;
    }
    writeElement(index, text, static_cast<u32>(strnlen(text, m_elementSize)));
    return 0;
}

i32 RawArrayString::setBinary(u32, const void*, u32)
{
    return RESULT_NOT_SUPPORTED;
}

void RawArrayString::dumpElement(const u8* element) const
{
    klib_printf("%.*s", static_cast<int>(elementTextLength(element, m_elementSize)),
                reinterpret_cast<const char*>(element));
}

// ---------------------------------------------------------------------------------------------------------------
// RawArrayBinary
// ---------------------------------------------------------------------------------------------------------------

i32 RawArrayBinary::getValue(KVariant& out, u32 index) const
{
    const u32 result = out.setBinary(getElementPointer(index), m_elementSize);
    return (result & 0x80000000u) != 0 ? RESULT_NO_MEMORY : 0;
}

i32 RawArrayBinary::getString(u32, char* buffer, u32 size) const
{
    zeroFill(buffer, size);
    return 0;
}

i32 RawArrayBinary::getBinary(u32 index, void* buffer, u32 size) const
{
    if (buffer == nullptr || size < m_elementSize) {
        zeroFill(buffer, size);
        return RESULT_BAD_ARGUMENT;
    }
    std::memcpy(buffer, getElementPointer(index), m_elementSize);
    std::memset(static_cast<u8*>(buffer) + m_elementSize, 0, size - m_elementSize);
    return 0;
}

i32 RawArrayBinary::setValue(u32 index, const KVariant& value)
{
    const u32 size = value.getBinarySize(); // 0 for other kinds
    const void* bytes = value.getBinary();
    if (size == 0 || bytes == nullptr) {
        writeElement(index, nullptr, 0);
        return 0;
    }
    return setBinary(index, bytes, size);
}

i32 RawArrayBinary::setString(u32, const char*)
{
    return RESULT_NOT_SUPPORTED;
}

i32 RawArrayBinary::setBinary(u32 index, const void* data, u32 size)
{
    if (data == nullptr || size == 0) {
        writeElement(index, nullptr, 0);
        return 0;
    }
    writeElement(index, data, std::min(size, m_elementSize));
    return size > m_elementSize ? kValueCut : 0;
}

void RawArrayBinary::dumpElement(const u8* element) const
{
    klib_printf("0x");
    for (u32 i = 0; i < m_elementSize; ++i) {
        klib_printf("%02X", element[i]);
    }
}

} // namespace PDB
