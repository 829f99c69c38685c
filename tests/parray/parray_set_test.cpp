#include "parray_ArrayAccessorForServer.h"
#include "parray_ArrayFactory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

using namespace PARRAY;

namespace {

// {type, x code, y code, z code, 4 caller words}
std::vector<u32> descriptors(std::initializer_list<std::array<u32, 4>> list)
{
    std::vector<u32> words;
    for (const auto& d : list) {
        words.insert(words.end(), {d[0], d[1], d[2], d[3], 0xAAAAAAAA, 0xBBBBBBBB, 0xCCCCCCCC, 0xDDDDDDDD});
    }
    return words;
}

} // namespace

TEST(ArraySet, CreateLayoutAndLookup)
{
    // x = A, y = B / 2 rounded up to 4, a 3D shape of constants.
    const auto d =
        descriptors({{ELEMENT_F32, 0x10000001, 0, 0}, {ELEMENT_I16, 0x00000003, 0x42000002, 0}, {ELEMENT_U8, 2, 3, 4}});
    u8* set = nullptr;
    u32 size = 0;
    ASSERT_EQ(ArrayFactory::createSet(&set, &size, d.data(), 3, 48, 6), RESULT_OK);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(size, 8u + 3 * sizeof(void*));
    EXPECT_EQ(std::memcmp(set, "#Ar1", 4), 0);
    u32 count = 0;
    std::memcpy(&count, set + 4, 4);
    EXPECT_EQ(count, 3u);

    IArray* a0 = *ArrayFactory::getArrayAt(set, 0);
    IArray* a1 = *ArrayFactory::getArrayAt(set, 1);
    IArray* a2 = *ArrayFactory::getArrayAt(set, 2);
    EXPECT_EQ(a0->getDimensionCount(), 1u);
    EXPECT_EQ(a0->getByteSize(), 48u * 4);
    EXPECT_EQ(a1->getSize(0), 3u);
    EXPECT_EQ(a1->getSize(1), 4u);
    EXPECT_EQ(a2->getCount(), 24u);
    EXPECT_EQ(ArrayFactory::getArrayAt(set, 3), nullptr);
    EXPECT_EQ(ArrayFactory::getArrayAt(nullptr, 0), nullptr);

    // A wrong tag is not a set: nothing is looked up or freed.
    set[0] = 'X';
    EXPECT_EQ(ArrayFactory::getArrayAt(set, 0), nullptr);
    EXPECT_EQ(ArrayFactory::destroySet(set, d.data(), 3), RESULT_FAILED);
    set[0] = '#';
    EXPECT_EQ(ArrayFactory::destroySet(set, d.data(), 3), RESULT_OK);
}

TEST(ArraySet, CreateRefusals)
{
    const auto good = descriptors({{ELEMENT_U32, 4, 0, 0}});
    const auto noX = descriptors({{ELEMENT_U32, 0, 4, 4}});
    u8* set = reinterpret_cast<u8*>(0x1);
    u32 size = 99;
    EXPECT_EQ(ArrayFactory::createSet(&set, &size, nullptr, 1, 1, 1), RESULT_FAILED);
    EXPECT_EQ(set, nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(ArrayFactory::createSet(&set, &size, good.data(), 0, 1, 1), RESULT_FAILED);
    EXPECT_EQ(ArrayFactory::createSet(&set, &size, good.data(), 1, 0, 1), RESULT_FAILED);
    EXPECT_EQ(ArrayFactory::createSet(&set, &size, good.data(), 1, 1, 0), RESULT_FAILED);
    EXPECT_EQ(set, nullptr);

    // An x code of 0 fails; the caller gets the partly built set back to destroy.
    EXPECT_EQ(ArrayFactory::createSet(&set, &size, noX.data(), 1, 1, 1), RESULT_FAILED);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(*ArrayFactory::getArrayAt(set, 0), nullptr);
    // Its descriptor is bad, so the destroy reports failure, but the set is still freed (LeakSanitizer).
    EXPECT_EQ(ArrayFactory::destroySet(set, noX.data(), 1), RESULT_FAILED);
}

TEST(ArraySet, DestroyFreesEvenWithBadDescriptors)
{
    const auto d = descriptors({{ELEMENT_U16, 8, 0, 0}, {ELEMENT_F64, 2, 2, 0}});
    u8* set = nullptr;
    u32 size = 0;
    ASSERT_EQ(ArrayFactory::createSet(&set, &size, d.data(), 2, 1, 1), RESULT_OK);
    auto changed = d;
    changed[8] = 42; // the second array's type code no longer names a type
    EXPECT_EQ(ArrayFactory::destroySet(set, changed.data(), 2), RESULT_FAILED);

    ASSERT_EQ(ArrayFactory::createSet(&set, &size, d.data(), 2, 1, 1), RESULT_OK);
    EXPECT_EQ(ArrayFactory::destroySet(set, nullptr, 0), RESULT_FAILED);
}

TEST(ArrayAccessor, RecordsAndArrays)
{
    const auto d =
        descriptors({{ELEMENT_I32, 0x10000001, 0x20000001, 0}, {ELEMENT_F64, 5, 0, 0}, {ELEMENT_U8, 1, 2, 3}});
    ArrayAccessorForServer accessor;
    EXPECT_EQ(accessor.getArrayCount(), 0u);
    ASSERT_EQ(accessor.create(d.data(), 3, 16, 2), RESULT_OK);
    ASSERT_EQ(accessor.getArrayCount(), 3u);

    const auto* r0 = accessor.getRecord(0);
    ASSERT_NE(r0, nullptr);
    EXPECT_EQ(r0->typeCode, static_cast<u32>(ELEMENT_I32));
    EXPECT_EQ(r0->dimensions, 2u);
    EXPECT_EQ(r0->x, 16u);
    EXPECT_EQ(r0->y, 2u);
    EXPECT_EQ(r0->z, 0u);
    EXPECT_EQ(r0->reserved, 0u);
    EXPECT_EQ(accessor.getRecord(2)->dimensions, 3u);
    EXPECT_EQ(accessor.getRecord(3), nullptr);

    void* data[3] = {};
    u32 bytes[3] = {};
    for (u32 i = 0; i < 3; ++i) {
        ASSERT_EQ(accessor.getArray(&data[i], &bytes[i], i), RESULT_OK);
        ASSERT_NE(data[i], nullptr);
        std::memset(data[i], 0xFF, bytes[i]); // the whole reported size is writable (ASan)
    }
    EXPECT_EQ(bytes[0], 16u * 2 * 4);
    EXPECT_EQ(bytes[1], 5u * 8);
    EXPECT_EQ(bytes[2], 6u);

    void* outData = reinterpret_cast<void*>(0x1);
    u32 outBytes = 77;
    EXPECT_EQ(accessor.getArray(&outData, &outBytes, 3), RESULT_FAILED);
    EXPECT_EQ(outData, nullptr);
    EXPECT_EQ(outBytes, 0u);

    // Re-creating replaces the set; clear forgets everything.
    ASSERT_EQ(accessor.create(d.data(), 1, 4, 4), RESULT_OK);
    EXPECT_EQ(accessor.getArrayCount(), 1u);
    EXPECT_EQ(accessor.clear(), RESULT_OK);
    EXPECT_EQ(accessor.getArrayCount(), 0u);
    EXPECT_EQ(accessor.getArray(&outData, &outBytes, 0), RESULT_FAILED);
}

TEST(ArrayAccessor, FailedCreateKeepsNothingAndLeaksNothing)
{
    ArrayAccessorForServer accessor;
    const auto previous = descriptors({{ELEMENT_U8, 3, 0, 0}});
    ASSERT_EQ(accessor.create(previous.data(), 1, 1, 1), RESULT_OK);

    // Type code 9 in descriptor 2 of 4: arrays 0 and 1 exist when the build fails.
    const auto bad = descriptors({{ELEMENT_U32, 4, 0, 0}, {ELEMENT_I8, 4, 4, 0}, {9, 4, 0, 0}, {ELEMENT_F32, 4, 0, 0}});
    EXPECT_EQ(accessor.create(bad.data(), 4, 1, 1), RESULT_FAILED);
    EXPECT_EQ(accessor.getArrayCount(), 0u);

    // A descriptor whose element count overflows 32 bits is refused, not under-allocated.
    const auto huge = descriptors({{ELEMENT_U16, 0x10000100, 0x20000100, 0x00000100}});
    EXPECT_EQ(accessor.create(huge.data(), 1, 0xFFFF, 0xFFFF), RESULT_FAILED);
    EXPECT_EQ(accessor.getArrayCount(), 0u);

    EXPECT_EQ(accessor.create(nullptr, 1, 1, 1), RESULT_FAILED);
    EXPECT_EQ(accessor.create(bad.data(), 0, 1, 1), RESULT_FAILED);
}

TEST(ArrayAccessor, DescriptorsNeedNotOutliveTheAccessor)
{
    auto accessor = std::make_unique<ArrayAccessorForServer>();
    {
        auto d = std::make_unique<std::vector<u32>>(descriptors({{ELEMENT_F64, 2, 0, 0}, {ELEMENT_I16, 2, 2, 2}}));
        ASSERT_EQ(accessor->create(d->data(), 2, 1, 1), RESULT_OK);
    } // the caller's descriptors are gone (ASan reports any later read)
    void* data = nullptr;
    u32 bytes = 0;
    ASSERT_EQ(accessor->getArray(&data, &bytes, 1), RESULT_OK);
    EXPECT_EQ(bytes, 16u);
    accessor.reset();
}

// The first mark of an array counts; create (also a refused one) and clear forget marks and count.
TEST(ArrayAccessor, ChangedMarksCountEachArrayOnce)
{
    const auto d = descriptors({{ELEMENT_F32, 4, 0, 0}, {ELEMENT_U32, 2, 2, 0}, {ELEMENT_U8, 3, 0, 0}});
    ArrayAccessorForServer accessor;
    EXPECT_FALSE(accessor.markChanged(0)); // no set yet
    ASSERT_EQ(accessor.create(d.data(), 3, 1, 1), RESULT_OK);
    EXPECT_TRUE(accessor.markChanged(1));
    EXPECT_FALSE(accessor.markChanged(1));
    EXPECT_TRUE(accessor.markChanged(2));
    EXPECT_FALSE(accessor.markChanged(3));
    EXPECT_EQ(accessor.getChangedCount(), 2u);
    EXPECT_FALSE(accessor.isChanged(0));
    EXPECT_TRUE(accessor.isChanged(1));
    EXPECT_EQ(accessor.getRecord(1)->reserved, 1u);

    // Each way of replacing or emptying the set drops the marks.
    for (int way = 0; way < 3; ++way) {
        ASSERT_TRUE(accessor.markChanged(0));
        if (way == 0) {
            ASSERT_EQ(accessor.create(d.data(), 3, 1, 1), RESULT_OK);
        } else if (way == 1) {
            EXPECT_EQ(accessor.create(nullptr, 3, 1, 1), RESULT_FAILED);
            EXPECT_EQ(accessor.getArrayCount(), 0u);
        } else {
            EXPECT_EQ(accessor.clear(), RESULT_OK);
        }
        EXPECT_EQ(accessor.getChangedCount(), 0u) << way;
        EXPECT_FALSE(accessor.isChanged(0)) << way;
        ASSERT_EQ(accessor.create(d.data(), 3, 1, 1), RESULT_OK);
    }
}
