// Raw arrays: stored layouts, conversions, byte data, ranges, shapes and dump output.
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "pdb_ParamRawArray.h"
#include "pdb_ParamRawArrayBool.h"
#include "pdb_ParamRawArrayByteData.h"

using namespace PDB;

namespace {

constexpr i32 kFailed = static_cast<i32>(0x80000000u);
constexpr i32 kBadArgument = static_cast<i32>(0x80000001u);
constexpr i32 kNoData = static_cast<i32>(0x80008000u);
constexpr i32 kTypeMismatch = static_cast<i32>(0x80020000u);
constexpr i32 kAllocationFailed = static_cast<i32>(0x80040000u);
constexpr i32 kNotSupported = static_cast<i32>(0x80080000u);
const f32 kNaN = std::numeric_limits<f32>::quiet_NaN();
const f32 kInf = std::numeric_limits<f32>::infinity();

struct ArrayDeleter
{
    void operator()(IRawArray* array) const { destroyRawArray(array); }
};
using ArrayPtr = std::unique_ptr<IRawArray, ArrayDeleter>;

ArrayPtr make(u8 typeCode, u32 count, u32 elementSize = 0)
{
    IRawArray* array = nullptr;
    EXPECT_EQ(createRawArray(array, typeCode, elementSize, count), 0);
    return ArrayPtr(array);
}

std::vector<u8> bytesOf(const IRawArray& array)
{
    const u8* p = array.getElementPointer(0);
    return p ? std::vector<u8>(p, p + array.getSize()) : std::vector<u8>();
}

std::string dumpOf(const IRawArray& array)
{
    testing::internal::CaptureStdout();
    array.dump();
    return testing::internal::GetCapturedStdout();
}

} // namespace

TEST(RawArrayLayout, ComputeRawSize)
{
    EXPECT_EQ(computeRawSize(0x11, 0, 5), 8u);
    EXPECT_EQ(computeRawSize(0x12, 0, 3), 8u);
    EXPECT_EQ(computeRawSize(0x41, 0, 33), 8u);
    EXPECT_EQ(computeRawSize(0x41, 0, 32), 4u);
    EXPECT_EQ(computeRawSize(0x50, 10, 3), 36u);
    EXPECT_EQ(computeRawSize(0x34, 0, 3), 12u);
    EXPECT_EQ(computeRawSize(0x13, 0, 3), 0u);
    // Shapes past 4 GiB give 0, also where a 32-bit product would wrap to a small number.
    EXPECT_EQ(computeRawSize(0x14, 0, 0x40000001u), 0u);
    EXPECT_EQ(computeRawSize(0x11, 0, 0xFFFFFFFFu), 0u);
    EXPECT_EQ(computeRawSize(0x50, 0xFFFFFFFFu, 1), 0u);
    EXPECT_EQ(computeRawSize(0x60, 0x10000, 0x10001), 0u);
    EXPECT_EQ(computeRawSize(0x41, 0, 0xFFFFFFFFu), 0x20000000u);
}

TEST(RawArrayLayout, GoldenImages)
{
    ArrayPtr flags = make(0x41, 9);
    flags->setBool(0, true);
    flags->setBool(8, true);
    EXPECT_EQ(bytesOf(*flags), (std::vector<u8>{0x80, 0x80, 0x00, 0x00}));

    RawArray<unsigned short> shorts;
    ASSERT_EQ(shorts.allocate(2), 0);
    shorts.setUInt16(0, 0x1234);
    shorts.setUInt16(1, 0xABCD);
    EXPECT_EQ(bytesOf(shorts), (std::vector<u8>{0x34, 0x12, 0xCD, 0xAB}));

    ArrayPtr floats = make(0x34, 1);
    floats->setFloat(0, 1.0f);
    EXPECT_EQ(bytesOf(*floats), (std::vector<u8>{0x00, 0x00, 0x80, 0x3F}));

    ArrayPtr text = make(0x50, 2, 6);
    text->setString(0, "zzzzzz");
    EXPECT_EQ(text->setString(1, "abc"), 0);
    const std::vector<u8> image = bytesOf(*text);
    ASSERT_EQ(image.size(), 16u);
    EXPECT_EQ(std::vector<u8>(image.begin() + 8, image.end()), (std::vector<u8>{0x61, 0x62, 0x63, 0, 0, 0, 0, 0}));

    EXPECT_EQ(make(0x11, 5)->getSize(), 5u); // numbers report the unrounded size
}

TEST(RawArrayConversion, FloatIntoIntegerArrays)
{
    struct Row
    {
        u8 typeCode;
        f32 value;
        u32 expected; // getUInt32 afterwards
    };
    const Row rows[] = {
        {0x11, 2.9f, 2},           {0x11, -2.9f, 0xFE},       {0x11, 300.7f, 44},    {0x21, -2.9f, 0xFFFFFFFE},
        {0x24, -2.9f, 0xFFFFFFFE}, {0x14, 3e9f, 3000000000u}, {0x12, 1e10f, 0xE400}, {0x14, 1e10f, 0x540BE400},
        {0x11, kNaN, 0},           {0x14, kNaN, 0},           {0x24, kInf, 0},       {0x24, -kInf, 0},
        {0x22, kInf, 0},           {0x24, 1e30f, 0},          {0x12, 1e19f, 0},
    };
    for (const Row& row : rows) {
        ArrayPtr array = make(row.typeCode, 2);
        EXPECT_EQ(array->setFloat(1, row.value), 0);
        EXPECT_EQ(array->getUInt32(1), row.expected) << "type " << int(row.typeCode) << " value " << row.value;
        EXPECT_EQ(array->getUInt32(0), 0u);
    }
}

TEST(RawArrayConversion, VariantsIntoNumberArrays)
{
    struct Row
    {
        u8 typeCode;
        KVariant value;
        u32 expectedBits; // getUInt32 for integers, the float bits for 0x34
    };
    auto bits = [](f32 f) { return std::bit_cast<u32>(f); };
    const Row rows[] = {
        {0x11, KVariant(-1), 255},
        {0x21, KVariant(-1), 0xFFFFFFFF},
        {0x12, KVariant(0x12345678u), 0x5678},
        {0x24, KVariant(2.5f), 0},
        {0x11, KVariant("12", 1024), 0},
        {0x24, KVariant(), 0},
        {0x34, KVariant(-3), bits(-3.0f)},
        {0x34, KVariant(0xFFFFFFFFu), bits(4294967296.0f)},
        {0x34, KVariant("1.5", 1024), bits(0.0f)},
    };
    for (const Row& row : rows) {
        ArrayPtr array = make(row.typeCode, 1);
        array->setUInt32(0, 0x55); // so that a stored 0 is observable
        EXPECT_EQ(array->setValue(0, row.value), 0);
        EXPECT_EQ(row.typeCode == 0x34 ? bits(array->getFloat(0)) : array->getUInt32(0), row.expectedBits)
            << "type " << int(row.typeCode);
    }
}

TEST(RawArrayConversion, GettersAcrossWidths)
{
    RawArray<unsigned short> u16s;
    ASSERT_EQ(u16s.allocate(1), 0);
    u16s.setUInt16(0, 0x0180);
    EXPECT_EQ(u16s.getInt8(0), -128);
    EXPECT_EQ(u16s.getInt16(0), 0x0180);

    RawArray<int> ints;
    ASSERT_EQ(ints.allocate(1), 0);
    ints.setInt32(0, -1);
    EXPECT_EQ(ints.getUInt16(0), 0xFFFF);
    EXPECT_EQ(ints.getFloat(0), -1.0f);

    RawArray<unsigned int> uints;
    ASSERT_EQ(uints.allocate(1), 0);
    uints.setInt8(0, -1); // sign-extended, then cut
    EXPECT_EQ(uints.getInt32(0), -1);
    EXPECT_EQ(uints.getFloat(0), 4294967296.0f);

    RawArray<float> floats;
    ASSERT_EQ(floats.allocate(1), 0);
    struct Row
    {
        f32 value;
        i32 int32;
        u32 uint32;
        i8 int8;
        bool boolean;
    };
    const Row rows[] = {
        {kNaN, 0, 0, 0, true},
        {-kInf, 0, 0, 0, true},
        {-2.9f, -2, 0xFFFFFFFE, -2, true},
        {0.5f, 0, 0, 0, true},
        {3e9f, static_cast<i32>(3000000000u), 3000000000u, 0, true}, // through 64 bits, then cut
        {0.0f, 0, 0, 0, false},
    };
    for (const Row& row : rows) {
        floats.setFloat(0, row.value);
        EXPECT_EQ(floats.getInt32(0), row.int32) << row.value;
        EXPECT_EQ(floats.getUInt32(0), row.uint32) << row.value;
        EXPECT_EQ(floats.getInt8(0), row.int8) << row.value;
        EXPECT_EQ(floats.getBool(0), row.boolean) << row.value;
    }

    // getValue kinds, and the text operations numbers do not support.
    ArrayPtr i8s = make(0x21, 1);
    ArrayPtr u8s = make(0x11, 1);
    i8s->setInt32(0, -5);
    u8s->setInt32(0, 200);
    KVariant out;
    EXPECT_EQ(i8s->getValue(out, 0), 0);
    EXPECT_EQ(out.getKind(), KVariant::KIND_INT32);
    EXPECT_EQ(out.getInt(), -5);
    EXPECT_EQ(u8s->getValue(out, 0), 0);
    EXPECT_EQ(out.getKind(), KVariant::KIND_UINT32);
    EXPECT_EQ(out.getUInt(), 200u);
    char text[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(i8s->getString(0, text, sizeof text), kNotSupported);
    EXPECT_EQ(std::string(text, 4), std::string(4, '\0'));
    EXPECT_EQ(u8s->setString(0, "1"), kNotSupported);
    EXPECT_EQ(u8s->setBinary(0, text, 1), kNotSupported);
}

TEST(RawArrayConversion, BoolConversions)
{
    ArrayPtr bits = make(0x41, 3);
    struct Row
    {
        const char* what;
        i32 (*write)(IRawArray&);
        bool expected;
    };
    const Row rows[] = {
        {"setFloat 0.5", [](IRawArray& a) { return a.setFloat(1, 0.5f); }, false},
        {"setFloat -1", [](IRawArray& a) { return a.setFloat(1, -1.0f); }, true},
        {"setFloat NaN", [](IRawArray& a) { return a.setFloat(1, kNaN); }, true},
        {"setValue float 5", [](IRawArray& a) { return a.setValue(1, KVariant(5.0f)); }, false},
        {"setValue uint 2", [](IRawArray& a) { return a.setValue(1, KVariant(2u)); }, true},
        {"setValue text", [](IRawArray& a) { return a.setValue(1, KVariant("1", 1024)); }, false},
        {"setInt8 -1", [](IRawArray& a) { return a.setInt8(1, -1); }, true},
        {"setUInt32 0x100", [](IRawArray& a) { return a.setUInt32(1, 0x100); }, true},
    };
    for (const Row& row : rows) {
        bits->setBool(1, !row.expected);
        EXPECT_EQ(row.write(*bits), 0) << row.what;
        EXPECT_EQ(bits->getInt8(1), row.expected ? 1 : 0) << row.what;
        EXPECT_EQ(bits->getFloat(1), row.expected ? 1.0f : 0.0f) << row.what;
        EXPECT_EQ(bytesOf(*bits)[0], row.expected ? 0x40 : 0x00) << row.what;
    }
    KVariant out;
    EXPECT_EQ(bits->getValue(out, 1), 0);
    EXPECT_EQ(out.getKind(), KVariant::KIND_UINT32);
    EXPECT_EQ(bits->setString(0, "x"), kNotSupported);
}

TEST(RawArrayByteData, StringCapacity)
{
    ArrayPtr text = make(0x50, 2, 8);
    EXPECT_EQ(text->setValue(0, KVariant("abcdefghijkl", 1024)), 0x40);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(text->getElementPointer(0)), 8), "abcdefgh");
    EXPECT_EQ(text->getElementPointer(1)[0], 0); // no terminator spilled into the next element
    char small[8];
    EXPECT_EQ(text->getString(0, small, sizeof small), kBadArgument);
    char fits[9];
    EXPECT_EQ(text->getString(0, fits, sizeof fits), 0);
    EXPECT_STREQ(fits, "abcdefgh");
    KVariant out;
    EXPECT_EQ(text->getValue(out, 0), 0);
    EXPECT_STREQ(out.getString(), "abcdefgh");

    // Every write rewrites the whole stride.
    EXPECT_EQ(text->setValue(0, KVariant("xy", 1024)), 0);
    EXPECT_EQ(bytesOf(*text), (std::vector<u8>{'x', 'y', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(text->setString(1, "0123456789"), 0); // setString cuts without a report
    EXPECT_EQ(text->getString(1, fits, sizeof fits), 0);
    EXPECT_STREQ(fits, "01234567");
    EXPECT_EQ(text->setString(1, nullptr), 0);
    EXPECT_EQ(text->setValue(0, KVariant(5)), 0); // not a text: zeroed
    EXPECT_EQ(bytesOf(*text), std::vector<u8>(16, 0));
    EXPECT_EQ(text->setBinary(0, "ab", 2), kNotSupported);
    EXPECT_EQ(text->setInt32(0, 1), kNotSupported);
}

TEST(RawArrayByteData, BinaryCapacity)
{
    ArrayPtr blob = make(0x60, 2, 6);
    const u8 data[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(blob->setBinary(0, data, 9), 0x40);
    EXPECT_EQ(blob->setBinary(1, data, 2), 0);
    EXPECT_EQ(bytesOf(*blob), (std::vector<u8>{1, 2, 3, 4, 5, 6, 0, 0, 1, 2, 0, 0, 0, 0, 0, 0}));
    u8 out[10];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(blob->getBinary(0, out, 5), kBadArgument);
    EXPECT_EQ(blob->getBinary(0, out, sizeof out), 0);
    EXPECT_EQ(std::vector<u8>(out, out + 10), (std::vector<u8>{1, 2, 3, 4, 5, 6, 0, 0, 0, 0}));
    KVariant value;
    EXPECT_EQ(blob->getValue(value, 1), 0);
    EXPECT_EQ(value.getBinarySize(), 6u);
    EXPECT_EQ(blob->setValue(1, KVariant(data, 8)), 0x40);
    EXPECT_EQ(blob->setValue(1, KVariant("text", 1024)), 0); // not binary: zeroed
    EXPECT_EQ(blob->getElementPointer(1)[0], 0);
    EXPECT_EQ(blob->setString(0, "x"), kNotSupported);
}

TEST(RawArrayByteData, ImportBetweenElementSizes)
{
    // Two 6-byte elements at stride 8, with padding bytes that must not be copied into wider elements.
    const u8 narrow[] = {'a', 'b', 'c', 'd', 'e', 'f', 0xEE, 0xEE, 'g', 'h', 0, 0, 0, 0, 0xEE, 0xEE};
    ArrayPtr wide = make(0x50, 2, 10);
    wide->setString(0, "0123456789");
    EXPECT_EQ(wide->importAll(narrow, sizeof narrow, 0x50, 6), 0);
    EXPECT_EQ(bytesOf(*wide), (std::vector<u8>{'a', 'b', 'c', 'd', 'e', 'f', 0, 0, 0, 0, 0, 0,
                                               'g', 'h', 0,   0,   0,   0,   0, 0, 0, 0, 0, 0}));

    // From 10 into 6: cut to the capacity.
    ArrayPtr cut = make(0x50, 2, 6);
    EXPECT_EQ(cut->importAll(wide->getElementPointer(0), wide->getSize(), 0x50, 10), 0);
    EXPECT_EQ(bytesOf(*cut), (std::vector<u8>{'a', 'b', 'c', 'd', 'e', 'f', 0, 0, 'g', 'h', 0, 0, 0, 0, 0, 0}));

    EXPECT_EQ(cut->importAll(narrow, sizeof narrow, 0x50, 0), kBadArgument); // no stride to walk
    EXPECT_EQ(cut->importAll(narrow, sizeof narrow, 0x60, 6), kTypeMismatch);
    EXPECT_EQ(cut->importRange(narrow, 15, 0x50, 6, 1, 1), kBadArgument); // 15 bytes: one whole element
}

TEST(RawArrayByteData, AllocateAttachAndRelease)
{
    // The buffer comes from operator new[]: a free() of it would be reported by ASan.
    std::unique_ptr<u8[]> buffer(new u8[24]());
    RawArrayString text;
    EXPECT_EQ(text.attach(3, 6, buffer.get(), 23), kFailed); // needs 3 * 8 bytes
    EXPECT_EQ(text.attach(0, 6, buffer.get(), 24), kFailed);
    EXPECT_EQ(text.attach(3, 0, buffer.get(), 24), kFailed);
    EXPECT_FALSE(text.isAllocated());
    ASSERT_EQ(text.attach(3, 6, buffer.get(), 24), 0);
    EXPECT_EQ(text.setString(2, "hi"), 0);
    EXPECT_EQ(buffer[16], 'h');
    ArrayPtr source = make(0x50, 4, 6);
    EXPECT_EQ(text.assign(*source, 0), 0); // re-shaped: leaves the buffer, allocates its own block
    EXPECT_TRUE(text.isOwned());
    EXPECT_EQ(buffer[16], 'h');
    ASSERT_EQ(text.attach(3, 6, buffer.get(), 24), 0); // and destruction while attached frees nothing

    RawArrayBinary blob;
    EXPECT_EQ(blob.allocate(0, 4), kFailed);
    EXPECT_EQ(blob.allocate(3, 0), kFailed);
    EXPECT_EQ(blob.allocate(0x10001, 0x10000), kFailed); // 4 GiB + 64 KiB
    EXPECT_EQ(blob.allocate(1, 0xFFFFFFFFu), kFailed);   // the stride rounds past 32 bits
    const u8 data[] = {9, 8, 7, 6, 5};
    EXPECT_EQ(blob.allocateWithData(2, 3, data, sizeof data), 0);
    EXPECT_EQ(bytesOf(blob), (std::vector<u8>{9, 8, 7, 6, 5, 0, 0, 0}));
    blob.release();
    EXPECT_FALSE(blob.isAllocated());
    EXPECT_EQ(blob.getElementSize(), 0u);
}

TEST(RawArrayRange, ImportRangeClipsAndRefuses)
{
    ArrayPtr ints = make(0x24, 4);
    const i32 image[] = {10, 20, 30};
    // available = min(3 image elements, 4) = 3: start 3 is refused without a change.
    EXPECT_EQ(ints->importRange(image, sizeof image, 0x24, 4, 3, 1), kBadArgument);
    EXPECT_EQ(bytesOf(*ints), std::vector<u8>(16, 0));
    EXPECT_EQ(ints->importRange(image, sizeof image, 0x24, 4, 1, 100), 0);
    EXPECT_EQ(ints->getInt32(0), 0);
    EXPECT_EQ(ints->getInt32(2), 30);
    EXPECT_EQ(ints->getInt32(3), 0);
    EXPECT_EQ(ints->importRange(image, sizeof image, 0x24, 2, 0, 1), kBadArgument);
    EXPECT_EQ(ints->importRange(image, sizeof image, 0x14, 4, 0, 1), kTypeMismatch);
    EXPECT_EQ(ints->importRange(nullptr, 12, 0x24, 4, 0, 1), kBadArgument);
    EXPECT_EQ(ints->importRange(image, 0, 0x24, 4, 0, 1), kBadArgument);
    ArrayPtr empty = make(0x24, 0);
    EXPECT_EQ(empty->importAll(image, sizeof image, 0x24, 4), kNoData);
    EXPECT_EQ(empty->copyAll(*ints), kNoData);

    // BOOL: available counts the image's bits.
    ArrayPtr bits = make(0x41, 40);
    const u8 bitImage[] = {0xFF};
    EXPECT_EQ(bits->importRange(bitImage, 1, 0x41, 99, 8, 1), kBadArgument);
    EXPECT_EQ(bits->importRange(bitImage, 1, 0x41, 99, 3, 100), 0);
    EXPECT_EQ(bytesOf(*bits), (std::vector<u8>{0x1F, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(RawArrayRange, AssignReshapesAndRefuses)
{
    ArrayPtr target = make(0x22, 2);
    ArrayPtr source = make(0x22, 5);
    source->setInt32(4, -5);
    EXPECT_EQ(target->assign(*source, 31), 0);
    EXPECT_EQ(target->getCount(), 5u);
    EXPECT_EQ(target->getInt32(4), -5);
    EXPECT_EQ(target->assign(*source, 32), kNotSupported);
    EXPECT_EQ(target->assign(*make(0x12, 5), 0), kTypeMismatch);
    EXPECT_EQ(target->assign(*make(0x22, 0), 0), kBadArgument);
    EXPECT_EQ(target->copyRange(*make(0x22, 0), 0, 1), kBadArgument);
    EXPECT_EQ(target->copyRange(*make(0x12, 5), 0, 1), kTypeMismatch);
    EXPECT_EQ(target->assign(*target, 0), 0);
    EXPECT_EQ(target->getInt32(4), -5);

    // Byte data takes the source's element size as well; BOOL its bit count.
    ArrayPtr text = make(0x50, 3, 4);
    ArrayPtr longer = make(0x50, 3, 12);
    longer->setString(2, "twelve chars");
    EXPECT_EQ(text->assign(*longer, 0), 0);
    EXPECT_EQ(text->getElementSize(), 12u);
    EXPECT_EQ(bytesOf(*text), bytesOf(*longer));
    EXPECT_EQ(text->assign(*make(0x60, 3, 12), 0), kTypeMismatch);
    ArrayPtr bits = make(0x41, 3);
    ArrayPtr moreBits = make(0x41, 70);
    moreBits->setBool(69, true);
    EXPECT_EQ(bits->assign(*moreBits, 0), 0);
    EXPECT_EQ(bits->getCount(), 70u);
    EXPECT_TRUE(bits->getBool(69));
}

TEST(RawArrayFactory, ShapesAndRefusals)
{
    IRawArray* array = reinterpret_cast<IRawArray*>(0x1);
    EXPECT_EQ(createRawArray(array, 0x24, 0, 0), 0);
    ASSERT_NE(array, nullptr);
    EXPECT_FALSE(array->isAllocated());
    destroyRawArray(array);
    const u8 data[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    array = reinterpret_cast<IRawArray*>(0x1);
    EXPECT_EQ(createRawArrayWithData(array, 0x24, 0, 0, data, sizeof data), kAllocationFailed);
    EXPECT_EQ(array, nullptr);

    for (u8 code :
         {u8{0x11}, u8{0x21}, u8{0x12}, u8{0x22}, u8{0x14}, u8{0x24}, u8{0x34}, u8{0x41}, u8{0x50}, u8{0x60}}) {
        EXPECT_EQ(createRawArray(array, code, 3, 2), 0) << int(code);
        ASSERT_NE(array, nullptr);
        EXPECT_EQ(array->getTypeCode(), code);
        EXPECT_EQ(computeRawSize(code, 3, 2), (array->getSize() + 3) & ~3u) << int(code);
        destroyRawArray(array);
    }
    for (u8 code : {u8{0x00}, u8{0x10}, u8{0x13}, u8{0x31}, u8{0x44}, u8{0x51}, u8{0x61}, u8{0xFF}}) {
        array = reinterpret_cast<IRawArray*>(0x1);
        EXPECT_EQ(createRawArray(array, code, 4, 2), kAllocationFailed) << int(code);
        EXPECT_EQ(array, nullptr);
    }
    // Element size 0 and oversized shapes are refused before anything is allocated.
    EXPECT_EQ(createRawArray(array, 0x50, 0, 3), kAllocationFailed);
    EXPECT_EQ(createRawArray(array, 0x14, 0, 0x40000000u), kAllocationFailed);
    EXPECT_EQ(createRawArray(array, 0x60, 0x10000, 0x10001), kAllocationFailed);
    EXPECT_EQ(createRawArrayWithData(array, 0x12, 0, 0x80000000u, data, sizeof data), kAllocationFailed);
    EXPECT_EQ(array, nullptr);

    // The data copy is bounded by both sizes.
    EXPECT_EQ(createRawArrayWithData(array, 0x11, 0, 3, data, sizeof data), 0);
    EXPECT_EQ(bytesOf(*array), (std::vector<u8>{1, 2, 3}));
    destroyRawArray(array);
    EXPECT_EQ(createRawArrayWithData(array, 0x14, 0, 2, data, 5), 0);
    EXPECT_EQ(bytesOf(*array), (std::vector<u8>{1, 2, 3, 4, 5, 0, 0, 0}));
    destroyRawArray(array);
}

TEST(RawArrayNullObject, SharedAndInert)
{
    IRawArray* null = getNullRawArray();
    EXPECT_EQ(null, getNullRawArray());
    EXPECT_FALSE(null->isAllocated());
    EXPECT_EQ(null->getElementPointer(0), nullptr);
    KVariant value(5);
    EXPECT_EQ(null->getValue(value, 0), 0);
    EXPECT_FALSE(value.isValid());
    EXPECT_EQ(null->assign(*make(0x24, 2), 0), 0);
    EXPECT_EQ(null->getCount(), 0u);
    destroyRawArray(null); // left alone
    EXPECT_EQ(dumpOf(*null), "null\n");
}

TEST(RawArrayDump, Goldens)
{
    ArrayPtr ints = make(0x21, 3);
    ints->setInt32(0, 1);
    ints->setInt32(1, 2);
    ints->setInt32(2, 3);
    EXPECT_EQ(dumpOf(*ints), "{ 1, 2, 3 }\n");
    ints->setInt32(1, -7);
    EXPECT_EQ(dumpOf(*ints), "{ 1, -7, 3 }\n");
    ArrayPtr bytes = make(0x11, 1);
    bytes->setInt32(0, -1);
    EXPECT_EQ(dumpOf(*bytes), "{ 255 }\n");
    ArrayPtr floats = make(0x34, 2);
    floats->setFloat(0, 1.5f);
    EXPECT_EQ(dumpOf(*floats), "{ 1.500000, 0.000000 }\n");
    ArrayPtr bits = make(0x41, 3);
    bits->setBool(1, true);
    EXPECT_EQ(dumpOf(*bits), "{ 0, 1, 0 }\n");
    ArrayPtr blob = make(0x60, 2, 2);
    const u8 element[] = {0x0A, 0x1B};
    blob->setBinary(0, element, 2);
    EXPECT_EQ(dumpOf(*blob), "{ 0x0A1B, 0x0000 }\n");
    ArrayPtr text = make(0x50, 2, 4);
    text->setString(0, "abcd");
    text->setString(1, "x");
    EXPECT_EQ(dumpOf(*text), "{ abcd, x }\n");
    EXPECT_EQ(dumpOf(*make(0x50, 0, 4)), "null\n");
}
