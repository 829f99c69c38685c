// Zero-initialised numeric arrays of one, two or three dimensions over eight element types, and the per-type
// accessors that create and destroy them.
//
// Element type codes: 0 u32, 1 u16, 2 u8, 3 i32, 4 i16, 5 i8, 6 f32, 7 f64.
// Layout is row-major: 2D index = x * Y + y, 3D index = x * (Y * Z) + y * Z + z.
// An array whose element count is 0 or whose storage could not be had exists without data: it is not valid
// and reports a count and byte size of 0.
#pragma once

#include "klib_Types.h"
#include "parray_Result.h"

namespace PARRAY {

enum ElementType : u32 {
    ELEMENT_U32 = 0,
    ELEMENT_U16 = 1,
    ELEMENT_U8 = 2,
    ELEMENT_I32 = 3,
    ELEMENT_I16 = 4,
    ELEMENT_I8 = 5,
    ELEMENT_F32 = 6,
    ELEMENT_F64 = 7,
    ELEMENT_TYPE_COUNT = 8,
};

class IArray
{
public:
    virtual ~IArray() = default;
    virtual void* getData() = 0;
    virtual const void* getData() const = 0;
    // count * element size; 0 without data.
    virtual u32 getByteSize() const = 0;
    // Total element count; 0 without data.
    virtual u32 getCount() const = 0;
    virtual u32 getDimensionCount() const = 0;
    // Extent of one dimension; 0 for a dimension the array does not have (or a zero divisor).
    virtual u32 getSize(u32 dimension) const = 0;
    virtual bool isValid() const = 0;
    // Element index of (x, y, z); unused coordinates are ignored. Not range-checked.
    virtual u32 getIndex(u32 x, u32 y = 0, u32 z = 0) const = 0;
    // Copies min(own byte size, other's byte size) bytes. Both arrays must have data, else 0x80000000.
    virtual u32 copyFrom(const IArray& other) = 0;
    // Prints the elements to standard output in brace notation.
    virtual u32 dump() const = 0;
};

// Storage and the operations shared by the three shapes.
template <typename T> class ArrayBase : public IArray
{
public:
    using Element = T;

    ArrayBase(const ArrayBase&) = delete;
    ArrayBase& operator=(const ArrayBase&) = delete;
    ~ArrayBase() override;

    void* getData() override { return m_pData; }
    const void* getData() const override { return m_pData; }
    u32 getByteSize() const override { return m_Count * static_cast<u32>(sizeof(T)); }
    u32 getCount() const override { return m_Count; }
    bool isValid() const override { return m_pData != nullptr; }
    u32 copyFrom(const IArray& other) override;

protected:
    // Allocates count zeroed elements; on failure (or count 0) the array stays without data and count 0.
    explicit ArrayBase(u32 count);
    void dumpElements(const T* first, u32 count) const;

    T* m_pData = nullptr;
    u32 m_Count = 0;
    bool m_OwnsData = false;
};

template <typename T> class Array1D final : public ArrayBase<T>
{
public:
    explicit Array1D(u32 x);
    u32 getDimensionCount() const override { return 1; }
    u32 getSize(u32 dimension) const override;
    u32 getIndex(u32 x, u32 y, u32 z) const override;
    u32 dump() const override;
};

template <typename T> class Array2D final : public ArrayBase<T>
{
public:
    // Only for sizes whose product x * y fits in u32 (the accessor checks).
    Array2D(u32 x, u32 y);
    u32 getDimensionCount() const override { return 2; }
    u32 getSize(u32 dimension) const override;
    u32 getIndex(u32 x, u32 y, u32 z) const override;
    u32 dump() const override;

private:
    u32 m_Y; // stride of x
};

template <typename T> class Array3D final : public ArrayBase<T>
{
public:
    // Only for sizes whose product x * y * z fits in u32 (the accessor checks).
    Array3D(u32 x, u32 y, u32 z);
    u32 getDimensionCount() const override { return 3; }
    u32 getSize(u32 dimension) const override;
    u32 getIndex(u32 x, u32 y, u32 z) const override;
    u32 dump() const override;

private:
    u32 m_Y;
    u32 m_YZ; // stride of x
    u32 m_Z;  // stride of y
};

// Creates and destroys the arrays of one element type.
class ITypeAccessor
{
public:
    // dimensions 1..3; sizes X = x, Y = y, Z = z. Returns 0 with the array (possibly without data), or
    // 0x80000000 with *out = null for another dimension count, a byte size above 0xFFFFFFFF or no memory for
    // the array object.
    virtual u32 createArray(IArray** out, u32 dimensions, u32 x, u32 y, u32 z) const = 0;
    // Null array or a dimension count outside 1..3: 0x80000000. Else destroys it, *inOut = null, 0.
    virtual u32 destroyArray(IArray** inOut, u32 dimensions) const = 0;

protected:
    ~ITypeAccessor() = default;
};

template <class A1, class A2, class A3> class TypeAccessor final : public ITypeAccessor
{
public:
    constexpr TypeAccessor() = default;
    u32 createArray(IArray** out, u32 dimensions, u32 x, u32 y, u32 z) const override;
    u32 destroyArray(IArray** inOut, u32 dimensions) const override;
};

struct TypeAccessorEntry
{
    u32 typeCode;
    const ITypeAccessor* accessor;
};

// The eight (type code, accessor) pairs in code order.
extern const TypeAccessorEntry g_TypeAccessorTable[ELEMENT_TYPE_COUNT];

// The accessor of a type code, or null for a code >= 8.
const ITypeAccessor* getTypeAccessor(u32 typeCode);

// Size in bytes of one element of a type code; 0 for a code >= 8.
u32 getElementSize(u32 typeCode);

#define PARRAY_EXTERN_TEMPLATES(T)                                                                                     \
    extern template class ArrayBase<T>;                                                                                \
    extern template class Array1D<T>;                                                                                  \
    extern template class Array2D<T>;                                                                                  \
    extern template class Array3D<T>;                                                                                  \
    extern template class TypeAccessor<Array1D<T>, Array2D<T>, Array3D<T>>;
PARRAY_EXTERN_TEMPLATES(u32)
PARRAY_EXTERN_TEMPLATES(u16)
PARRAY_EXTERN_TEMPLATES(u8)
PARRAY_EXTERN_TEMPLATES(i32)
PARRAY_EXTERN_TEMPLATES(i16)
PARRAY_EXTERN_TEMPLATES(i8)
PARRAY_EXTERN_TEMPLATES(f32)
PARRAY_EXTERN_TEMPLATES(f64)
#undef PARRAY_EXTERN_TEMPLATES

} // namespace PARRAY
