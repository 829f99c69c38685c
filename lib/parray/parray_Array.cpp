#include "parray_Array.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

namespace PARRAY {

namespace {

template <typename T> void printElement(T value)
{
    if constexpr (std::is_same_v<T, f32>) {
        std::printf("%f", static_cast<double>(value));
    } else if constexpr (std::is_same_v<T, f64>) {
        std::printf("%lf", value);
    } else {
        std::printf("%d", static_cast<int>(value));
    }
}

} // namespace

template <typename T> ArrayBase<T>::ArrayBase(u32 count)
{
    if (count == 0) {
        return;
    }
    void* storage = std::calloc(count, sizeof(T));
    if (storage == nullptr) {
        return;
    }
    m_pData = static_cast<T*>(storage);
    m_Count = count;
    m_OwnsData = true;
}

template <typename T> ArrayBase<T>::~ArrayBase()
{
    if (m_OwnsData) {
        std::free(m_pData);
    }
    m_pData = nullptr;
    m_Count = 0;
}

template <typename T> u32 ArrayBase<T>::copyFrom(const IArray& other)
{
    const void* source = other.getData();
    if (m_pData == nullptr || source == nullptr) {
        return RESULT_FAILED;
    }
    const u32 own = getByteSize();
    const u32 theirs = other.getByteSize();
    if (source != m_pData) {
        std::memmove(m_pData, source, own < theirs ? own : theirs);
    }
    return RESULT_OK;
}

// "a, b, c " between the braces of one row.
template <typename T> void ArrayBase<T>::dumpElements(const T* first, u32 count) const
{
    for (u32 i = 0; i < count; ++i) {
        printElement(first[i]);
        if (i + 1 < count) {
            std::fputs(",", stdout);
        }
        std::fputs(" ", stdout);
    }
}

// ---- 1D ----

template <typename T> Array1D<T>::Array1D(u32 x) : ArrayBase<T>(x) {}

template <typename T> u32 Array1D<T>::getSize(u32 dimension) const
{
    return dimension == 0 ? this->m_Count : 0;
}

template <typename T> u32 Array1D<T>::getIndex(u32 x, u32, u32) const
{
    return x;
}

template <typename T> u32 Array1D<T>::dump() const
{
    std::fputs("{ ", stdout);
    this->dumpElements(this->m_pData, this->m_Count);
    std::fputs("}\n", stdout);
    return RESULT_OK;
}

// ---- 2D ----

template <typename T> Array2D<T>::Array2D(u32 x, u32 y) : ArrayBase<T>(x * y), m_Y(y) {}

template <typename T> u32 Array2D<T>::getSize(u32 dimension) const
{
    switch (dimension) {
    case 0:
        return m_Y == 0 ? 0 : this->m_Count / m_Y;
    case 1:
        return m_Y;
    default:
        return 0;
    }
}

template <typename T> u32 Array2D<T>::getIndex(u32 x, u32 y, u32) const
{
    return x * m_Y + y;
}

template <typename T> u32 Array2D<T>::dump() const
{
    if (this->m_pData == nullptr) {
        std::fputs("null\n", stdout);
        return RESULT_OK;
    }
    const u32 rows = getSize(0);
    std::fputs("{\n", stdout);
    for (u32 x = 0; x < rows; ++x) {
        std::fputs("\t{ ", stdout);
        this->dumpElements(this->m_pData + static_cast<size_t>(x) * m_Y, m_Y);
        std::fputs(x + 1 < rows ? "},\n" : "}\n", stdout);
    }
    std::fputs("}\n", stdout);
    return RESULT_OK;
}

// ---- 3D ----

template <typename T> Array3D<T>::Array3D(u32 x, u32 y, u32 z) : ArrayBase<T>(x * y * z), m_Y(y), m_YZ(y * z), m_Z(z) {}

template <typename T> u32 Array3D<T>::getSize(u32 dimension) const
{
    switch (dimension) {
    case 0:
        return m_YZ == 0 ? 0 : this->m_Count / m_YZ;
    case 1:
        return m_Y;
    case 2:
        return m_Z;
    default:
        return 0;
    }
}

template <typename T> u32 Array3D<T>::getIndex(u32 x, u32 y, u32 z) const
{
    return x * m_YZ + y * m_Z + z;
}

template <typename T> u32 Array3D<T>::dump() const
{
    if (this->m_pData == nullptr) {
        std::fputs("null\n", stdout);
        return RESULT_OK;
    }
    const u32 planes = getSize(0);
    std::fputs("{\n", stdout);
    for (u32 x = 0; x < planes; ++x) {
        std::fputs("\t{\n", stdout);
        for (u32 y = 0; y < m_Y; ++y) {
            std::fputs("\t\t{ ", stdout);
            this->dumpElements(this->m_pData + static_cast<size_t>(x) * m_YZ + static_cast<size_t>(y) * m_Z, m_Z);
            std::fputs(y + 1 < m_Y ? "},\n" : "}\n", stdout);
        }
        std::fputs(x + 1 < planes ? "\t},\n" : "\t}\n", stdout);
    }
    std::fputs("}\n", stdout);
    return RESULT_OK;
}

// ---- accessors ----

template <class A1, class A2, class A3>
u32 TypeAccessor<A1, A2, A3>::createArray(IArray** out, u32 dimensions, u32 x, u32 y, u32 z) const
{
    if (out == nullptr) {
        return RESULT_FAILED;
    }
    *out = nullptr;
    using Element = typename A1::Element;
    u64 count = 0;
    switch (dimensions) {
    case 1:
        count = x;
        break;
    case 2:
        count = static_cast<u64>(x) * y;
        break;
    case 3:
        // Each factor is below 2^32, so the first product fits; the second may not.
        count = static_cast<u64>(x) * y;
        if (z != 0 && count > 0xFFFFFFFFull / z) {
            return RESULT_FAILED;
        }
        count *= z;
        break;
    default:
        return RESULT_FAILED;
    }
    if (count > 0xFFFFFFFFull / sizeof(Element)) {
        return RESULT_FAILED;
    }
    IArray* array = nullptr;
    switch (dimensions) {
    case 1:
        array = new (std::nothrow) A1(x);
        break;
    case 2:
        array = new (std::nothrow) A2(x, y);
        break;
    default:
        array = new (std::nothrow) A3(x, y, z);
        break;
    }
    if (array == nullptr) {
        return RESULT_FAILED;
    }
    *out = array;
    return RESULT_OK;
}

template <class A1, class A2, class A3> u32 TypeAccessor<A1, A2, A3>::destroyArray(IArray** inOut, u32 dimensions) const
{
    if (inOut == nullptr || *inOut == nullptr || dimensions < 1 || dimensions > 3) {
        return RESULT_FAILED;
    }
    delete *inOut;
    *inOut = nullptr;
    return RESULT_OK;
}

#define PARRAY_INSTANTIATE(T)                                                                                          \
    template class ArrayBase<T>;                                                                                       \
    template class Array1D<T>;                                                                                         \
    template class Array2D<T>;                                                                                         \
    template class Array3D<T>;                                                                                         \
    template class TypeAccessor<Array1D<T>, Array2D<T>, Array3D<T>>;
PARRAY_INSTANTIATE(u32)
PARRAY_INSTANTIATE(u16)
PARRAY_INSTANTIATE(u8)
PARRAY_INSTANTIATE(i32)
PARRAY_INSTANTIATE(i16)
PARRAY_INSTANTIATE(i8)
PARRAY_INSTANTIATE(f32)
PARRAY_INSTANTIATE(f64)
#undef PARRAY_INSTANTIATE

namespace {

template <typename T> using AccessorOf = TypeAccessor<Array1D<T>, Array2D<T>, Array3D<T>>;

constinit const AccessorOf<u32> s_AccessorU32;
constinit const AccessorOf<u16> s_AccessorU16;
constinit const AccessorOf<u8> s_AccessorU8;
constinit const AccessorOf<i32> s_AccessorI32;
constinit const AccessorOf<i16> s_AccessorI16;
constinit const AccessorOf<i8> s_AccessorI8;
constinit const AccessorOf<f32> s_AccessorF32;
constinit const AccessorOf<f64> s_AccessorF64;

constexpr u32 s_ElementSizes[ELEMENT_TYPE_COUNT] = {4, 2, 1, 4, 2, 1, 4, 8};

} // namespace

const TypeAccessorEntry g_TypeAccessorTable[ELEMENT_TYPE_COUNT] = {
    {ELEMENT_U32, &s_AccessorU32}, {ELEMENT_U16, &s_AccessorU16}, {ELEMENT_U8, &s_AccessorU8},
    {ELEMENT_I32, &s_AccessorI32}, {ELEMENT_I16, &s_AccessorI16}, {ELEMENT_I8, &s_AccessorI8},
    {ELEMENT_F32, &s_AccessorF32}, {ELEMENT_F64, &s_AccessorF64},
};

const ITypeAccessor* getTypeAccessor(u32 typeCode)
{
    return typeCode < ELEMENT_TYPE_COUNT ? g_TypeAccessorTable[typeCode].accessor : nullptr;
}

u32 getElementSize(u32 typeCode)
{
    return typeCode < ELEMENT_TYPE_COUNT ? s_ElementSizes[typeCode] : 0;
}

} // namespace PARRAY
