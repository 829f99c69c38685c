#include "parray_Array.h"
#include "parray_ArrayFactory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

using namespace PARRAY;

namespace {

struct Created
{
    IArray* array = nullptr;
    u32 dimensions = 0;
    const ITypeAccessor* accessor = nullptr;
    ~Created()
    {
        if (array != nullptr) {
            accessor->destroyArray(&array, dimensions);
        }
    }
};

u32 create(Created& c, u32 type, u32 dims, u32 x, u32 y, u32 z)
{
    c.accessor = getTypeAccessor(type);
    c.dimensions = dims;
    return c.accessor->createArray(&c.array, dims, x, y, z);
}

template <typename T> std::string dumpOf(u32 type, u32 dims, u32 x, u32 y, u32 z, bool fill)
{
    Created c;
    EXPECT_EQ(create(c, type, dims, x, y, z), RESULT_OK);
    if (fill) {
        T* data = static_cast<T*>(c.array->getData());
        for (u32 i = 0; i < c.array->getCount(); ++i) {
            data[i] = static_cast<T>(i + 1);
        }
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(c.array->dump(), RESULT_OK);
    return testing::internal::GetCapturedStdout();
}

} // namespace

TEST(ArrayFactory, DecodeSize)
{
    EXPECT_EQ(ArrayFactory::decodeSize(0x10000004, 48, 2), 192u);
    EXPECT_EQ(ArrayFactory::decodeSize(0x20000004, 48, 2), 8u);
    EXPECT_EQ(ArrayFactory::decodeSize(0x30000010, 100, 0), 7u);
    EXPECT_EQ(ArrayFactory::decodeSize(0x40000003, 0, 10), 4u);
    EXPECT_EQ(ArrayFactory::decodeSize(0x02000005, 0, 0), 8u);
    EXPECT_EQ(ArrayFactory::decodeSize(0x06000041, 0, 0), 128u);
    EXPECT_EQ(ArrayFactory::decodeSize(0x01000007, 0, 0), 8u);
    // Rounding codes 0 and 7..15 and base codes 5..15 leave the value.
    EXPECT_EQ(ArrayFactory::decodeSize(0x07000041, 0, 0), 65u);
    EXPECT_EQ(ArrayFactory::decodeSize(0xF0000041, 9, 9), 65u);
    // Base first, then rounding: ceil(100 / 16) = 7, up to a multiple of 4.
    EXPECT_EQ(ArrayFactory::decodeSize(0x32000010, 100, 0), 8u);
    // Division by n = 0 is defined as 0.
    EXPECT_EQ(ArrayFactory::decodeSize(0x30000000, 100, 5), 0u);
    EXPECT_EQ(ArrayFactory::decodeSize(0x46000000, 100, 5), 0u);
    // Results beyond 32 bits saturate instead of wrapping to something small.
    EXPECT_EQ(ArrayFactory::decodeSize(0x10FFFFFF, 0xFFFFFFFF, 1), 0xFFFFFFFFu);
    EXPECT_EQ(ArrayFactory::decodeSize(0x06FFFFFF, 0, 0), 0x1000000u);
    EXPECT_EQ(ArrayFactory::decodeSize(0x160000FF, 0x01FFFFFF, 0), 0xFFFFFFFFu);
}

TEST(Array, ShapesMatchRowMajorLayoutForAllClasses)
{
    std::mt19937 rng(1207u);
    for (u32 type = 0; type < ELEMENT_TYPE_COUNT; ++type) {
        for (u32 dims = 1; dims <= 3; ++dims) {
            for (int round = 0; round < 4; ++round) {
                const u32 X = static_cast<u32>(1 + rng() % 7);
                const u32 Y = dims >= 2 ? static_cast<u32>(1 + rng() % 7) : 1;
                const u32 Z = dims == 3 ? static_cast<u32>(1 + rng() % 7) : 1;
                Created c;
                ASSERT_EQ(create(c, type, dims, X, Y, Z), RESULT_OK);
                IArray* a = c.array;
                SCOPED_TRACE(testing::Message()
                             << "type " << type << " dims " << dims << " " << X << "x" << Y << "x" << Z);
                ASSERT_TRUE(a->isValid());
                EXPECT_EQ(a->getDimensionCount(), dims);
                EXPECT_EQ(a->getCount(), X * Y * Z);
                EXPECT_EQ(a->getByteSize(), X * Y * Z * getElementSize(type));
                EXPECT_EQ(a->getSize(0), X);
                if (dims >= 2) {
                    EXPECT_EQ(a->getSize(1), Y);
                }
                if (dims == 3) {
                    EXPECT_EQ(a->getSize(2), Z);
                }
                EXPECT_EQ(a->getSize(dims), 0u);
                EXPECT_EQ(a->getSize(3), 0u);
                for (u32 x = 0; x < X; ++x) {
                    for (u32 y = 0; y < Y; ++y) {
                        for (u32 z = 0; z < Z; ++z) {
                            ASSERT_EQ(a->getIndex(x, y, z), (x * Y + y) * Z + z);
                        }
                    }
                }
                const u8* bytes = static_cast<const u8*>(a->getData());
                for (u32 i = 0; i < a->getByteSize(); ++i) {
                    ASSERT_EQ(bytes[i], 0u) << "not zero-filled at byte " << i;
                }
            }
        }
    }
}

TEST(Array, EmptyShapesHaveNoDataAndNoDivisionByZero)
{
    Created twoD;
    ASSERT_EQ(create(twoD, ELEMENT_I16, 2, 5, 0, 0), RESULT_OK);
    EXPECT_FALSE(twoD.array->isValid());
    EXPECT_EQ(twoD.array->getCount(), 0u);
    EXPECT_EQ(twoD.array->getByteSize(), 0u);
    EXPECT_EQ(twoD.array->getSize(0), 0u);

    Created threeD;
    ASSERT_EQ(create(threeD, ELEMENT_F64, 3, 4, 3, 0), RESULT_OK);
    EXPECT_FALSE(threeD.array->isValid());
    EXPECT_EQ(threeD.array->getSize(0), 0u);
    EXPECT_EQ(threeD.array->getSize(1), 3u);

    // Copies need data on both sides.
    Created full;
    ASSERT_EQ(create(full, ELEMENT_I16, 1, 4, 0, 0), RESULT_OK);
    EXPECT_EQ(full.array->copyFrom(*twoD.array), RESULT_FAILED);
    EXPECT_EQ(twoD.array->copyFrom(*full.array), RESULT_FAILED);
}

TEST(Array, OversizedAndMalformedCreationsAreRefused)
{
    IArray* out = reinterpret_cast<IArray*>(0x1);
    const ITypeAccessor* u8s = getTypeAccessor(ELEMENT_U8);
    const ITypeAccessor* f64s = getTypeAccessor(ELEMENT_F64);
    // 65536 * 65536 bytes is one byte more than a u32 byte size can describe.
    EXPECT_EQ(u8s->createArray(&out, 2, 65536, 65536, 0), RESULT_FAILED);
    EXPECT_EQ(out, nullptr);
    // Element counts whose u32 product wraps to something small.
    EXPECT_EQ(u8s->createArray(&out, 3, 0x10000, 0x10000, 2), RESULT_FAILED);
    EXPECT_EQ(f64s->createArray(&out, 1, 0x20000000, 0, 0), RESULT_FAILED);
    EXPECT_EQ(f64s->createArray(&out, 0, 1, 1, 1), RESULT_FAILED);
    EXPECT_EQ(f64s->createArray(&out, 4, 1, 1, 1), RESULT_FAILED);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(getTypeAccessor(8), nullptr);
}

TEST(Array, CopyFromCopiesTheSmallerByteSize)
{
    Created small;
    Created large;
    ASSERT_EQ(create(small, ELEMENT_U32, 1, 4, 0, 0), RESULT_OK);
    ASSERT_EQ(create(large, ELEMENT_U32, 2, 2, 4, 0), RESULT_OK);
    u32* big = static_cast<u32*>(large.array->getData());
    for (u32 i = 0; i < 8; ++i) {
        big[i] = 100 + i;
    }
    EXPECT_EQ(small.array->copyFrom(*large.array), RESULT_OK);
    const u32* got = static_cast<const u32*>(small.array->getData());
    for (u32 i = 0; i < 4; ++i) {
        EXPECT_EQ(got[i], 100 + i);
    }
    // The other way only the first 16 bytes change.
    static_cast<u32*>(small.array->getData())[0] = 7;
    EXPECT_EQ(large.array->copyFrom(*small.array), RESULT_OK);
    EXPECT_EQ(big[0], 7u);
    EXPECT_EQ(big[4], 104u);
    EXPECT_EQ(big[7], 107u);
}

TEST(Array, DumpFormats)
{
    EXPECT_EQ(dumpOf<i32>(ELEMENT_I32, 1, 3, 0, 0, true), "{ 1, 2, 3 }\n");
    EXPECT_EQ(dumpOf<u8>(ELEMENT_U8, 2, 2, 2, 0, true), "{\n\t{ 1, 2 },\n\t{ 3, 4 }\n}\n");
    EXPECT_EQ(dumpOf<i16>(ELEMENT_I16, 3, 2, 1, 2, true), "{\n\t{\n\t\t{ 1, 2 }\n\t},\n\t{\n\t\t{ 3, 4 }\n\t}\n}\n");
    EXPECT_EQ(dumpOf<u16>(ELEMENT_U16, 2, 3, 0, 0, false), "null\n");
    EXPECT_EQ(dumpOf<u32>(ELEMENT_U32, 3, 1, 1, 0, false), "null\n");
    EXPECT_EQ(dumpOf<f64>(ELEMENT_F64, 1, 1, 0, 0, false), "{ 0.000000 }\n");

    Created f;
    ASSERT_EQ(create(f, ELEMENT_F32, 1, 2, 0, 0), RESULT_OK);
    static_cast<f32*>(f.array->getData())[0] = 1.5f;
    static_cast<f32*>(f.array->getData())[1] = -0.25f;
    testing::internal::CaptureStdout();
    f.array->dump();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "{ 1.500000, -0.250000 }\n");
}
