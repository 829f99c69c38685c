// Raw arrays against std::vector models: seeded random sequences of element writes, imports, range copies,
// whole copies and assigns at random starts and counts, for every array class.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "pdb_ParamRawArray.h"
#include "pdb_ParamRawArrayBool.h"
#include "pdb_ParamRawArrayByteData.h"

using namespace PDB;

namespace {

constexpr i32 kBadArgument = static_cast<i32>(0x80000001u);

struct ArrayDeleter
{
    void operator()(IRawArray* array) const { destroyRawArray(array); }
};
using ArrayPtr = std::unique_ptr<IRawArray, ArrayDeleter>;

u32 pick(std::mt19937& rng, u32 low, u32 high)
{
    return std::uniform_int_distribution<u32>(low, high)(rng);
}

// Each kind names its model element, its image packing and how one element is written. The shape is the
// element size (only byte data varies it).
template <typename T> struct NumberKind
{
    using E = T;
    static constexpr u8 CODE = RawArray<T>::TYPE_CODE;
    static u32 newShape(std::mt19937&) { return sizeof(T); }
    static u32 imageShape(std::mt19937&, u32 shape) { return shape; }
    static E random(std::mt19937& rng, u32)
    {
        if constexpr (std::is_floating_point_v<T>) {
            return std::uniform_real_distribution<f32>(-1e6f, 1e6f)(rng);
        } else {
            return static_cast<T>(rng());
        }
    }
    static std::string pack(const std::vector<E>& model, u32)
    {
        return std::string(reinterpret_cast<const char*>(model.data()), model.size() * sizeof(T));
    }
    static u32 wholeElements(size_t bytes, u32) { return static_cast<u32>(bytes / sizeof(T)); }
    static E convert(const E& element, u32, u32) { return element; }
    static E write(IRawArray& array, u32 index, std::mt19937& rng, u32 shape)
    {
        const T value = random(rng, shape);
        if constexpr (std::is_floating_point_v<T>) {
            EXPECT_EQ(array.setFloat(index, value), 0);
        } else {
            EXPECT_EQ(array.setValue(index, std::is_signed_v<T> ? KVariant(static_cast<int>(value))
                                                                : KVariant(static_cast<unsigned int>(value))),
                      0);
        }
        return value;
    }
};

struct BoolKind
{
    using E = bool;
    static constexpr u8 CODE = 0x41;
    static u32 newShape(std::mt19937&) { return 1; }
    static u32 imageShape(std::mt19937& rng, u32) { return pick(rng, 0, 9); } // not checked for BOOL
    static E random(std::mt19937& rng, u32) { return pick(rng, 0, 2) == 0; }
    static std::string pack(const std::vector<E>& model, u32)
    {
        std::string bytes(RawArrayBool::blockSize(static_cast<u32>(model.size())), '\0');
        for (size_t i = 0; i < model.size(); ++i) {
            if (model[i]) {
                bytes[i / 8] = static_cast<char>(bytes[i / 8] | (0x80 >> (i & 7)));
            }
        }
        return bytes;
    }
    static u32 wholeElements(size_t bytes, u32) { return static_cast<u32>(bytes * 8); }
    static E convert(const E& element, u32, u32) { return element; }
    static E write(IRawArray& array, u32 index, std::mt19937& rng, u32)
    {
        const u32 value = pick(rng, 0, 2);
        EXPECT_EQ(pick(rng, 0, 1) ? array.setValue(index, KVariant(value))
                                  : array.setInt16(index, static_cast<i16>(value)),
                  0);
        return value != 0;
    }
};

// Byte data elements are modelled as their whole stride.
template <u8 Code> struct ByteKind
{
    using E = std::string;
    static constexpr u8 CODE = Code;
    static u32 stride(u32 shape) { return (shape + 3) & ~3u; }
    static u32 newShape(std::mt19937& rng) { return pick(rng, 1, 13); }
    static u32 imageShape(std::mt19937& rng, u32 shape) { return pick(rng, 0, 2) == 0 ? shape : newShape(rng); }
    static E random(std::mt19937& rng, u32 shape)
    {
        E element(stride(shape), '\0');
        const u32 length = pick(rng, 0, shape);
        for (u32 i = 0; i < length; ++i) {
            element[i] = static_cast<char>(Code == 0x50 ? pick(rng, 'a', 'z') : pick(rng, 1, 255));
        }
        return element;
    }
    static std::string pack(const std::vector<E>& model, u32)
    {
        std::string bytes;
        for (const E& element : model) {
            bytes += element;
        }
        return bytes;
    }
    static u32 wholeElements(size_t bytes, u32 shape) { return static_cast<u32>(bytes / stride(shape)); }
    // Cut or zero-padded to the capacity, the rest of the stride zero.
    static E convert(const E& element, u32 from, u32 to)
    {
        E result(stride(to), '\0');
        std::memcpy(result.data(), element.data(), std::min(from, to));
        return result;
    }
    // A value up to 4 bytes longer than the capacity: cut, reported with 0x40.
    static E write(IRawArray& array, u32 index, std::mt19937& rng, u32 shape)
    {
        std::string value(pick(rng, 1, shape + 4), '\0');
        for (char& c : value) {
            c = static_cast<char>(pick(rng, 'a', 'z'));
        }
        const u32 length = static_cast<u32>(value.size());
        const KVariant variant =
            Code == 0x50 ? KVariant(value.c_str(), 1024) : KVariant(static_cast<const void*>(value.data()), length);
        EXPECT_EQ(array.setValue(index, variant), length > shape ? 0x40 : 0);
        return convert(value, std::min(length, shape), shape);
    }
};

template <typename K> std::vector<typename K::E> randomModel(std::mt19937& rng, u32 count, u32 shape)
{
    std::vector<typename K::E> model(count);
    for (size_t i = 0; i < model.size(); ++i) {
        model[i] = K::random(rng, shape);
    }
    return model;
}

template <typename K> ArrayPtr arrayFrom(const std::vector<typename K::E>& model, u32 shape)
{
    const std::string bytes = K::pack(model, shape);
    IRawArray* array = nullptr;
    EXPECT_EQ(createRawArrayWithData(array, K::CODE, shape, static_cast<u32>(model.size()), bytes.data(),
                                     static_cast<u32>(bytes.size())),
              0);
    return ArrayPtr(array);
}

// A start that is sometimes exactly at or past the available count, which must be refused.
u32 pickStart(std::mt19937& rng, u32 available)
{
    return pick(rng, 0, 5) == 0 ? available + pick(rng, 0, 2) : pick(rng, 0, std::max(available, 1u) - 1);
}

// The shared "available" rule: [start, start + min(available - start, count)) to the same positions.
template <typename Model> i32 modelCopy(Model& to, const Model& from, u32 available, u32 start, u32 count)
{
    if (start >= available) {
        return kBadArgument;
    }
    std::copy_n(from.begin() + start, std::min(available - start, count), to.begin() + start);
    return 0;
}

template <typename K> void runModel(u32 seed)
{
    std::mt19937 rng(seed);
    u32 shape = K::newShape(rng);
    std::vector<typename K::E> model = randomModel<K>(rng, pick(rng, 1, 70), shape);
    ArrayPtr array = arrayFrom<K>(model, shape);
    for (int step = 0; step < 1500; ++step) {
        const u32 count = static_cast<u32>(model.size());
        const u32 op = pick(rng, 0, 4);
        if (op == 0) {
            const u32 index = pick(rng, 0, count - 1);
            model[index] = K::write(*array, index, rng, shape);
        } else if (op == 4) { // assign takes the source's count and element size
            shape = K::newShape(rng);
            model = randomModel<K>(rng, pick(rng, 1, 90), shape);
            ASSERT_EQ(array->assign(*arrayFrom<K>(model, shape), static_cast<u8>(pick(rng, 0, 31))), 0);
        } else {
            // Source values of another count and maybe another element size.
            const u32 otherShape = K::imageShape(rng, shape);
            std::vector<typename K::E> other = randomModel<K>(rng, pick(rng, 1, 90), otherShape);
            std::string image = K::pack(other, otherShape);
            image.resize(image.size() - pick(rng, 0, std::min<u32>(3, static_cast<u32>(image.size()) - 1)));
            ArrayPtr source = arrayFrom<K>(other, otherShape);
            if (op == 1) { // an image counts only its whole elements (BOOL: all its bits)
                other.resize(K::wholeElements(image.size(), otherShape), typename K::E{});
            }
            std::vector<typename K::E> converted;
            for (const auto& element : other) {
                converted.push_back(K::convert(element, otherShape, shape));
            }
            const u32 available = std::min(static_cast<u32>(converted.size()), count);
            const u32 start = op == 3 ? 0 : pickStart(rng, available);
            const u32 n = op == 3 ? count : pick(rng, 0, 100);
            const i32 expected = modelCopy(model, converted, available, start, n);
            if (op == 1) {
                ASSERT_EQ(
                    array->importRange(image.data(), static_cast<u32>(image.size()), K::CODE, otherShape, start, n),
                    expected);
            } else if (op == 2) {
                ASSERT_EQ(array->copyRange(*source, start, n), expected);
            } else {
                ASSERT_EQ(array->copyAll(*source), expected);
            }
        }
        // The whole image, padding included, equals the packed model.
        const std::string expected = K::pack(model, shape);
        ASSERT_EQ(array->getCount(), model.size()) << "step " << step;
        ASSERT_EQ(array->getSize(), expected.size()) << "step " << step;
        ASSERT_EQ(std::memcmp(array->getElementPointer(0), expected.data(), expected.size()), 0) << "step " << step;
    }
}

template <typename K> class RawArrayModel : public testing::Test
{
};
using Kinds = testing::Types<NumberKind<signed char>, NumberKind<unsigned char>, NumberKind<short>,
                             NumberKind<unsigned short>, NumberKind<int>, NumberKind<unsigned int>, NumberKind<float>,
                             BoolKind, ByteKind<0x50>, ByteKind<0x60>>;
TYPED_TEST_SUITE(RawArrayModel, Kinds);

TYPED_TEST(RawArrayModel, RandomSequences)
{
    for (u32 seed : {1u, 2u, 3u}) {
        runModel<TypeParam>(seed);
        if (testing::Test::HasFatalFailure()) {
            FAIL() << "seed " << seed;
        }
    }
}

TEST(RawArrayBoolBits, CopyBitsEveryStartAndLength)
{
    // Every start and length over a 5-byte block, against a bit loop.
    std::mt19937 rng(5);
    for (u32 start = 0; start < 40; ++start) {
        for (u32 count = 0; start + count <= 40; ++count) {
            u8 src[5], dst[5], expected[5];
            for (int i = 0; i < 5; ++i) {
                src[i] = static_cast<u8>(rng());
                dst[i] = expected[i] = static_cast<u8>(rng());
            }
            for (u32 bit = start; bit < start + count; ++bit) {
                const u8 mask = static_cast<u8>(0x80u >> (bit & 7));
                expected[bit / 8] = static_cast<u8>((expected[bit / 8] & ~mask) | (src[bit / 8] & mask));
            }
            RawArrayBool::copyBits(dst, src, start, count);
            ASSERT_EQ(std::memcmp(dst, expected, 5), 0) << "start " << start << " count " << count;
        }
    }
}

} // namespace
