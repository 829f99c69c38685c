// Number raw arrays, the null raw array and the raw-array factory.
#include "pdb_ParamRawArray.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "klib_Print.h"
#include "pdb_ParamRawArrayBool.h"
#include "pdb_ParamRawArrayByteData.h"
#include "pdb_Result.h"

namespace PDB {

namespace {

constexpr u64 kMaxBlockSize = 0xFFFFFFFFu;
constexpr u8 kMaxCopyByte = 32;

u64 roundUp4(u64 value)
{
    return (value + 3) & ~u64{3};
}

// Raw size in 64 bits, so that oversized shapes can be told apart from small ones.
u64 rawSize64(u8 typeCode, u32 elementSize, u32 count)
{
    switch (typeCode) {
    case 0x11:
    case 0x21:
        return roundUp4(count);
    case 0x12:
    case 0x22:
        return roundUp4(u64{2} * count);
    case 0x14:
    case 0x24:
    case 0x34:
        return u64{4} * count;
    case RawArrayBool::TYPE_CODE:
        return RawArrayBool::blockSize(count);
    case RawArrayString::TYPE_CODE:
    case RawArrayBinary::TYPE_CODE:
        return RawArrayAbstractByteData::strideOf(elementSize) * count;
    default:
        return 0;
    }
}

void zeroFill(void* buffer, u32 size)
{
    if (buffer != nullptr && size > 0) {
        std::memset(buffer, 0, size);
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// RawArray<T>
// ---------------------------------------------------------------------------------------------------------------

template <typename T> RawArray<T>::~RawArray()
{
    release();
}

template <typename T> i32 RawArray<T>::allocate(u32 count)
{
    release();
    if (count == 0) {
        return 0;
    }
    const u64 bytes = u64{sizeof(T)} * count;
    if (bytes > kMaxBlockSize) {
        return RESULT_NO_MEMORY;
    }
    void* block = std::calloc(count, sizeof(T));
    if (block == nullptr) {
        return RESULT_NO_MEMORY;
    }
    m_pData = static_cast<T*>(block);
    m_count = count;
    m_owned = 1;
    return 0;
}

template <typename T> i32 RawArray<T>::release()
{
    if (m_owned != 0) {
        std::free(m_pData);
    }
    m_pData = nullptr;
    m_count = 0;
    m_owned = 0;
    return 0;
}

template <typename T> u8* RawArray<T>::getElementPointer(u32 index)
{
    return m_pData ? reinterpret_cast<u8*>(m_pData + index) : nullptr;
}

template <typename T> const u8* RawArray<T>::getElementPointer(u32 index) const
{
    return m_pData ? reinterpret_cast<const u8*>(m_pData + index) : nullptr;
}

template <typename T> i64 RawArray<T>::toInt64(u32 index) const
{
    if constexpr (std::is_floating_point_v<T>) {
        return truncateFloatToInt64(m_pData[index]);
    } else {
        return static_cast<i64>(m_pData[index]);
    }
}

template <typename T> void RawArray<T>::storeInt64(u32 index, i64 value)
{
    m_pData[index] = static_cast<T>(value); // modular cut to the width
}

template <typename T> i32 RawArray<T>::getValue(KVariant& out, u32 index) const
{
    const T value = m_pData[index];
    if constexpr (std::is_floating_point_v<T>) {
        out.setFloat(value);
    } else if constexpr (std::is_signed_v<T>) {
        out.setInt(static_cast<i32>(value));
    } else {
        out.setUInt(static_cast<u32>(value));
    }
    return 0;
}

template <typename T> u32 RawArray<T>::getUInt32(u32 index) const
{
    return static_cast<u32>(toInt64(index));
}
template <typename T> u16 RawArray<T>::getUInt16(u32 index) const
{
    return static_cast<u16>(toInt64(index));
}
template <typename T> u8 RawArray<T>::getUInt8(u32 index) const
{
    return static_cast<u8>(toInt64(index));
}
template <typename T> i32 RawArray<T>::getInt32(u32 index) const
{
    return static_cast<i32>(toInt64(index));
}
template <typename T> i16 RawArray<T>::getInt16(u32 index) const
{
    return static_cast<i16>(toInt64(index));
}
template <typename T> i8 RawArray<T>::getInt8(u32 index) const
{
    return static_cast<i8>(toInt64(index));
}
template <typename T> f32 RawArray<T>::getFloat(u32 index) const
{
    return static_cast<f32>(m_pData[index]);
}
template <typename T> bool RawArray<T>::getBool(u32 index) const
{
    return m_pData[index] != 0;
}

template <typename T> i32 RawArray<T>::getString(u32, char* buffer, u32 size) const
{
    zeroFill(buffer, size);
    return RESULT_NOT_SUPPORTED;
}

template <typename T> i32 RawArray<T>::getBinary(u32, void* buffer, u32 size) const
{
    zeroFill(buffer, size);
    return RESULT_NOT_SUPPORTED;
}

template <typename T> i32 RawArray<T>::setValue(u32 index, const KVariant& value)
{
    if constexpr (std::is_floating_point_v<T>) {
        m_pData[index] = value.getFloat(); // int and uint converted, other kinds 0.0
    } else {
        m_pData[index] = static_cast<T>(value.getInt()); // int and uint kinds; any other kind gives 0
    }
    return 0;
}

template <typename T> i32 RawArray<T>::setUInt32(u32 index, u32 value)
{
    m_pData[index] = static_cast<T>(value);
    return 0;
}
template <typename T> i32 RawArray<T>::setUInt16(u32 index, u16 value)
{
    m_pData[index] = static_cast<T>(value);
    return 0;
}
template <typename T> i32 RawArray<T>::setUInt8(u32 index, u8 value)
{
    m_pData[index] = static_cast<T>(value);
    return 0;
}
template <typename T> i32 RawArray<T>::setInt32(u32 index, i32 value)
{
    m_pData[index] = static_cast<T>(value);
    return 0;
}
template <typename T> i32 RawArray<T>::setInt16(u32 index, i16 value)
{
    m_pData[index] = static_cast<T>(value);
    return 0;
}
template <typename T> i32 RawArray<T>::setInt8(u32 index, i8 value)
{
    m_pData[index] = static_cast<T>(value);
    return 0;
}

template <typename T> i32 RawArray<T>::setFloat(u32 index, f32 value)
{
    if constexpr (std::is_floating_point_v<T>) {
        m_pData[index] = value;
    } else {
        storeInt64(index, truncateFloatToInt64(value));
    }
    return 0;
}

template <typename T> i32 RawArray<T>::setBool(u32 index, bool value)
{
    m_pData[index] = static_cast<T>(value ? 1 : 0);
    return 0;
}

template <typename T> i32 RawArray<T>::setString(u32, const char*)
{
    return RESULT_NOT_SUPPORTED;
}

template <typename T> i32 RawArray<T>::setBinary(u32, const void*, u32)
{
    return RESULT_NOT_SUPPORTED;
}

template <typename T> i32 RawArray<T>::assign(const IRawArray& source, u8 copyByte)
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

template <typename T>
i32 RawArray<T>::importRange(const void* image, u32 size, u8 typeCode, u32 elementSize, u32 start, u32 count)
{
    if (m_pData == nullptr) {
        return RESULT_NO_DATA;
    }
    if (image == nullptr || size == 0 || elementSize != sizeof(T)) {
        return RESULT_BAD_ARGUMENT;
    }
    if (typeCode != TYPE_CODE) {
        return RESULT_TYPE_MISMATCH;
    }
    const u32 available = std::min<u32>(size / static_cast<u32>(sizeof(T)), m_count);
    if (start >= available) {
        return RESULT_BAD_ARGUMENT;
    }
    const u32 n = std::min(available - start, count);
    std::memcpy(m_pData + start, static_cast<const u8*>(image) + size_t{start} * sizeof(T), size_t{n} * sizeof(T));
    return 0;
}

template <typename T> i32 RawArray<T>::importAll(const void* image, u32 size, u8 typeCode, u32 elementSize)
{
    return importRange(image, size, typeCode, elementSize, 0, m_count);
}

template <typename T> i32 RawArray<T>::copyRange(const IRawArray& source, u32 start, u32 count)
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
    const u32 n = std::min(available - start, count);
    if (&source != this) {
        std::memcpy(m_pData + start, source.getElementPointer(start), size_t{n} * sizeof(T));
    }
    return 0;
}

template <typename T> i32 RawArray<T>::copyAll(const IRawArray& source)
{
    return copyRange(source, 0, m_count);
}

template <typename T> void RawArray<T>::dump() const
{
    if (m_pData == nullptr) {
        klib_printf("null\n");
        return;
    }
    klib_printf("{ ");
    for (u32 i = 0; i < m_count; ++i) {
        const T value = m_pData[i];
        if constexpr (std::is_floating_point_v<T>) {
            klib_printf("%f", static_cast<f64>(value));
        } else if constexpr (std::is_same_v<T, unsigned int>) {
            klib_printf("%u", value);
        } else {
            klib_printf("%d", static_cast<int>(value));
        }
        klib_printf("%s", i + 1 < m_count ? ", " : " ");
    }
    klib_printf("}\n");
}

template class RawArray<signed char>;
template class RawArray<unsigned char>;
template class RawArray<short>;
template class RawArray<unsigned short>;
template class RawArray<int>;
template class RawArray<unsigned int>;
template class RawArray<float>;

// ---------------------------------------------------------------------------------------------------------------
// RawArrayNull
// ---------------------------------------------------------------------------------------------------------------

i32 RawArrayNull::getValue(KVariant& out, u32) const
{
    out.clear();
    return 0;
}

i32 RawArrayNull::getString(u32, char* buffer, u32 size) const
{
    zeroFill(buffer, size);
    return 0;
}

i32 RawArrayNull::getBinary(u32, void* buffer, u32 size) const
{
    zeroFill(buffer, size);
    return 0;
}

void RawArrayNull::dump() const
{
    klib_printf("null\n");
}

IRawArray* getNullRawArray()
{
    // Built in place and never destroyed, so it outlives every parameter array, static ones included.
    alignas(RawArrayNull) static unsigned char storage[sizeof(RawArrayNull)];
    static RawArrayNull* const instance = new (storage) RawArrayNull();
    return instance;
}

// ---------------------------------------------------------------------------------------------------------------
// Factory
// ---------------------------------------------------------------------------------------------------------------

u32 computeRawSize(u8 typeCode, u32 elementSize, u32 count)
{
    const u64 size = rawSize64(typeCode, elementSize, count);
    return size > kMaxBlockSize ? 0 : static_cast<u32>(size);
}

namespace {

IRawArray* newArrayOfType(u8 typeCode)
{
    switch (typeCode) {
    case 0x11:
        return new (std::nothrow) RawArray<unsigned char>();
    case 0x21:
        return new (std::nothrow) RawArray<signed char>();
    case 0x12:
        return new (std::nothrow) RawArray<unsigned short>();
    case 0x22:
        return new (std::nothrow) RawArray<short>();
    case 0x14:
        return new (std::nothrow) RawArray<unsigned int>();
    case 0x24:
        return new (std::nothrow) RawArray<int>();
    case 0x34:
        return new (std::nothrow) RawArray<float>();
    case RawArrayBool::TYPE_CODE:
        return new (std::nothrow) RawArrayBool();
    case RawArrayString::TYPE_CODE:
        return new (std::nothrow) RawArrayString();
    case RawArrayBinary::TYPE_CODE:
        return new (std::nothrow) RawArrayBinary();
    default:
        return nullptr;
    }
}

// Allocates count > 0 zeroed elements in an array made by newArrayOfType.
i32 allocateElements(IRawArray& array, u32 elementSize, u32 count)
{
    if (rawSize64(array.getTypeCode(), elementSize, count) > kMaxBlockSize) {
        return RESULT_NO_MEMORY;
    }
    switch (array.getTypeCode()) {
    case 0x11:
        return static_cast<RawArray<unsigned char>&>(array).allocate(count);
    case 0x21:
        return static_cast<RawArray<signed char>&>(array).allocate(count);
    case 0x12:
        return static_cast<RawArray<unsigned short>&>(array).allocate(count);
    case 0x22:
        return static_cast<RawArray<short>&>(array).allocate(count);
    case 0x14:
        return static_cast<RawArray<unsigned int>&>(array).allocate(count);
    case 0x24:
        return static_cast<RawArray<int>&>(array).allocate(count);
    case 0x34:
        return static_cast<RawArray<float>&>(array).allocate(count);
    case RawArrayBool::TYPE_CODE:
        return static_cast<RawArrayBool&>(array).allocate(count);
    case RawArrayString::TYPE_CODE:
    case RawArrayBinary::TYPE_CODE:
        return static_cast<RawArrayAbstractByteData&>(array).allocate(count, elementSize);
    default:
        return RESULT_NO_MEMORY;
    }
}

} // namespace

i32 createRawArray(IRawArray*& out, u8 typeCode, u32 elementSize, u32 count)
{
    out = nullptr;
    IRawArray* array = newArrayOfType(typeCode);
    if (array == nullptr) {
        return RESULT_NO_MEMORY;
    }
    if (count > 0 && allocateElements(*array, elementSize, count) < 0) {
        delete array;
        return RESULT_NO_MEMORY;
    }
    out = array;
    return 0;
}

i32 createRawArrayWithData(IRawArray*& out, u8 typeCode, u32 elementSize, u32 count, const void* data, u32 size)
{
    out = nullptr;
    IRawArray* array = newArrayOfType(typeCode);
    if (array == nullptr) {
        return RESULT_NO_MEMORY;
    }
    if (count == 0 || allocateElements(*array, elementSize, count) < 0) {
        delete array;
        return RESULT_NO_MEMORY;
    }
    if (data != nullptr) {
        std::memcpy(array->getElementPointer(0), data, std::min(size, array->getSize()));
    }
    out = array;
    return 0;
}

void destroyRawArray(IRawArray* array)
{
    if (array != nullptr && array != getNullRawArray()) {
        delete array;
    }
}

} // namespace PDB
