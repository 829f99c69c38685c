// BOOL raw array: one bit per element, most significant bit first.
#include "pdb_ParamRawArrayBool.h"

#include <algorithm>
#include <cstdlib>

#include "klib_Print.h"
#include "pdb_Result.h"

namespace PDB {

namespace {

constexpr u8 kMaxCopyByte = 32;

void zeroFill(void* buffer, u32 size)
{
    if (buffer != nullptr && size > 0) {
        std::memset(buffer, 0, size);
    }
}

void mergeMasked(u8* dst, const u8* src, u8 mask)
{
    *dst = static_cast<u8>((*dst & ~mask) | (*src & mask));
}

} // namespace

RawArrayBool::~RawArrayBool()
{
    release();
}

i32 RawArrayBool::allocate(u32 count)
{
    release();
    if (count == 0) {
        return 0;
    }
    void* block = std::calloc(blockSize(count), 1);
    if (block == nullptr) {
        return RESULT_NO_MEMORY;
    }
    m_pData = static_cast<u8*>(block);
    m_count = count;
    m_owned = 1;
    return 0;
}

i32 RawArrayBool::release()
{
    if (m_owned != 0) {
        std::free(m_pData);
    }
    m_pData = nullptr;
    m_count = 0;
    m_owned = 0;
    return 0;
}

u8* RawArrayBool::getElementPointer(u32 index)
{
    return m_pData ? m_pData + (index >> 3) : nullptr;
}

const u8* RawArrayBool::getElementPointer(u32 index) const
{
    return m_pData ? m_pData + (index >> 3) : nullptr;
}

i32 RawArrayBool::getValue(KVariant& out, u32 index) const
{
    out.setUInt(bit(index));
    return 0;
}

i32 RawArrayBool::getString(u32, char* buffer, u32 size) const
{
    zeroFill(buffer, size);
    return RESULT_NOT_SUPPORTED;
}

i32 RawArrayBool::getBinary(u32, void* buffer, u32 size) const
{
    zeroFill(buffer, size);
    return RESULT_NOT_SUPPORTED;
}

i32 RawArrayBool::setValue(u32 index, const KVariant& value)
{
    return setBit(index, value.getInt() != 0);
}

i32 RawArrayBool::setString(u32, const char*)
{
    return RESULT_NOT_SUPPORTED;
}

i32 RawArrayBool::setBinary(u32, const void*, u32)
{
    return RESULT_NOT_SUPPORTED;
}

void RawArrayBool::copyBits(u8* dst, const u8* src, u32 start, u32 count)
{
    if (count == 0) {
        return;
    }
    const u64 end = u64{start} + count; // one past the last bit
    u64 first = start >> 3;
    const u64 last = (end - 1) >> 3;
    if (first == last) {
        const u8 mask = static_cast<u8>((0xFFu >> (start & 7)) & (0xFFu << (7 - ((end - 1) & 7))));
        mergeMasked(dst + first, src + first, mask);
        return;
    }
    if ((start & 7) != 0) {
        mergeMasked(dst + first, src + first, static_cast<u8>(0xFFu >> (start & 7)));
        ++first;
    }
    const u64 wholeEnd = end >> 3; // bytes [first, wholeEnd) are copied whole
    if (wholeEnd > first) {
        std::memmove(dst + first, src + first, static_cast<size_t>(wholeEnd - first));
    }
    if ((end & 7) != 0) {
        mergeMasked(dst + wholeEnd, src + wholeEnd, static_cast<u8>(0xFFu << (8 - (end & 7))));
    }
}

i32 RawArrayBool::assign(const IRawArray& source, u8 copyByte)
{
    if (copyByte >= kMaxCopyByte) {
        return RESULT_NOT_SUPPORTED;
    }
    if (!source.isAllocated()) {
        return RESULT_BAD_ARGUMENT;
    }
    if (source.getTypeCode() != TYPE_CODE) {
        return RESULT_TYPE_MISMATCH;
    }
    if (&source == this) {
        return 0;
    }
    if (source.getCount() != m_count || m_pData == nullptr) {
        if (allocate(source.getCount()) < 0) {
            return RESULT_NO_MEMORY;
        }
    }
    std::memcpy(m_pData, source.getElementPointer(0), getSize());
    return 0;
}

i32 RawArrayBool::importRange(const void* image, u32 size, u8 typeCode, u32, u32 start, u32 count)
{
    if (m_pData == nullptr) {
        return RESULT_NO_DATA;
    }
    if (image == nullptr || size == 0) {
        return RESULT_BAD_ARGUMENT;
    }
    if (typeCode != TYPE_CODE) {
        return RESULT_TYPE_MISMATCH;
    }
    const u32 available = static_cast<u32>(std::min<u64>(u64{size} * 8, m_count));
    if (start >= available) {
        return RESULT_BAD_ARGUMENT;
    }
    copyBits(m_pData, static_cast<const u8*>(image), start, std::min(available - start, count));
    return 0;
}

i32 RawArrayBool::importAll(const void* image, u32 size, u8 typeCode, u32 elementSize)
{
    return importRange(image, size, typeCode, elementSize, 0, m_count);
}

i32 RawArrayBool::copyRange(const IRawArray& source, u32 start, u32 count)
{
    if (m_pData == nullptr) {
        return RESULT_NO_DATA;
    }
    if (!source.isAllocated()) {
        return RESULT_BAD_ARGUMENT;
    }
    if (source.getTypeCode() != TYPE_CODE) {
        return RESULT_TYPE_MISMATCH;
    }
    const u32 available = std::min(source.getCount(), m_count);
    if (start >= available) {
        return RESULT_BAD_ARGUMENT;
    }
    if (&source != this) {
        copyBits(m_pData, source.getElementPointer(0), start, std::min(available - start, count));
    }
    return 0;
}

i32 RawArrayBool::copyAll(const IRawArray& source)
{
    return copyRange(source, 0, m_count);
}

void RawArrayBool::dump() const
{
    if (m_pData == nullptr) {
        klib_printf("null\n");
        return;
    }
    klib_printf("{ ");
    for (u32 i = 0; i < m_count; ++i) {
        klib_printf("%s%s", bit(i) ? "1" : "0", i + 1 < m_count ? ", " : " ");
    }
    klib_printf("}\n");
}

} // namespace PDB
