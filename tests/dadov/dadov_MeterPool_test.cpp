#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dadov_MeterPool.h"

using namespace DADOV;

namespace {

constexpr u32 F32 = 6;
constexpr u32 U8 = 2;
constexpr u32 U32 = 0;
constexpr u32 SIZE_X = 0x10000001;    // numX
constexpr u32 SIZE_NONE = 0x30000000; // ceil(numX / 0): decodes to 0

// Appends one 8-word descriptor: type, size codes of x and y, then the name in the last 16 bytes (not
// terminated when it has 16 characters).
void addMeter(std::vector<u32>& list, u32 type, const std::string& name, u32 x = SIZE_X, u32 y = 8)
{
    u32 words[8] = {type, x, y, 0, 0, 0, 0, 0};
    std::memcpy(&words[4], name.data(), std::min<size_t>(name.size(), 16));
    list.insert(list.end(), words, words + 8);
}

u32 count(const std::vector<u32>& list)
{
    return static_cast<u32>(list.size() / 8);
}

// Type code of meter i in set s.
u32 typeOf(MeterPool& pool, u32 s, u32 i)
{
    const PARRAY::ArrayAccessorForServer::ArrayRecord* record = pool.getArraySet(s)->getRecord(i);
    return record != nullptr ? record->typeCode : 0xFFu;
}

// Every byte of meter i in set s equals value.
::testing::AssertionResult filledWith(const MeterPool& pool, u32 s, u32 i, u8 value)
{
    std::vector<u8> bytes;
    if (pool.copyMeterArray(s, i, bytes) != DADOV_OK || bytes.empty()) {
        return ::testing::AssertionFailure() << "no array " << i << " in set " << s;
    }
    for (size_t b = 0; b < bytes.size(); ++b) {
        if (bytes[b] != value) {
            return ::testing::AssertionFailure() << "set " << s << " meter " << i << " byte " << b << " is "
                                                 << int{bytes[b]} << ", not " << int{value};
        }
    }
    return ::testing::AssertionSuccess();
}

void scribble(MeterPool& pool)
{
    for (u32 s = 1; s <= MeterPool::SET_COUNT; ++s) {
        for (u32 i = 0; i < pool.getDescriptorCount(); ++i) {
            void* data = nullptr;
            u32 size = 0;
            ASSERT_EQ(pool.getArraySet(s)->getArray(&data, &size, i), 0u);
            std::memset(data, 0x5A, size);
        }
    }
}

} // namespace

// Type codes per set and the fill values, after initialize and again after clearMeters.
TEST(MeterPool, TypesAndFills)
{
    struct Meter
    {
        u32 type;
        std::string name;
        u32 types[4]; // in sets 1 to 4
        u8 set2;      // fill of set 2
    };
    const Meter meters[] = {
        {F32, "gr", {F32, U8, U8, U32}, 254},     {F32, "level", {F32, U8, U8, U32}, 0},
        {F32, "levelX", {F32, F32, F32, U32}, 0}, {U32, "gr", {U32, U32, U32, U32}, 254},
        {3, "level", {3, 3, 3, U32}, 0},          {F32, "grgrgrgrgrgrgrgr", {F32, F32, F32, U32}, 0},
        {F32, "", {F32, F32, F32, U32}, 0},
    };
    std::vector<u32> list;
    for (const Meter& m : meters) {
        addMeter(list, m.type, m.name);
    }
    MeterPool pool;
    EXPECT_EQ(pool.getFill(), MeterPool::UNSET_FILL);
    ASSERT_EQ(pool.initialize(list.data(), count(list), 9, 64, 2, 255, 500), DADOV_OK);
    EXPECT_EQ(pool.getDescriptorCount(), count(list));
    EXPECT_EQ(pool.getFill(), 255u);
    EXPECT_EQ(pool.getPeriod(), 500u);
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass == 0 ? "after initialize" : "after clearMeters");
        for (u32 i = 0; i < count(list); ++i) {
            SCOPED_TRACE(meters[i].name);
            for (u32 s = 1; s <= 4; ++s) {
                EXPECT_EQ(typeOf(pool, s, i), meters[i].types[s - 1]) << "set " << s;
                EXPECT_TRUE(filledWith(pool, s, i, s == 2 ? meters[i].set2 : 0));
            }
        }
        scribble(pool);
        ASSERT_EQ(pool.clearMeters(), DADOV_OK);
    }
    std::vector<u8> bytes;
    ASSERT_EQ(pool.copyMeterArray(1, 0, bytes), DADOV_OK);
    EXPECT_EQ(bytes.size(), 64u * 8 * 4);
}

// A name of 16 characters at the very end of the plug-in's allocation is read no further (ASan), and the pool
// keeps working after the plug-in's list is gone.
TEST(MeterPool, UnterminatedNameAtTheEndOfTheList)
{
    std::vector<u32> words;
    addMeter(words, F32, "gr");
    addMeter(words, F32, "levellevellevell");
    std::unique_ptr<u32[]> exact(new u32[words.size()]);
    std::memcpy(exact.get(), words.data(), words.size() * sizeof(u32));
    MeterPool pool;
    ASSERT_EQ(pool.initialize(exact.get(), 2, 1, 4, 4, 255, 1000), DADOV_OK);
    exact.reset();
    EXPECT_EQ(typeOf(pool, 2, 1), F32);
    EXPECT_EQ(pool.clearMeters(), DADOV_OK);
    EXPECT_TRUE(filledWith(pool, 2, 0, 254));
}

// Zero dimensions and unbuildable sets leave an empty pool, also after an earlier success; no list is an
// empty pool and success. Released and destroyed pools leave nothing behind (LeakSanitizer).
TEST(MeterPool, RefusalsAndRelease)
{
    std::vector<u32> list;
    addMeter(list, F32, "gr");
    std::vector<u32> badType;
    addMeter(badType, 8, "gr");
    struct Case
    {
        const u32* descriptors;
        u32 count;
        u32 numX;
        u32 numY;
        i32 result;
    };
    const Case cases[] = {
        {list.data(), 1, 0, 4, DADOV_E_FAILED},    {list.data(), 1, 4, 0, DADOV_E_FAILED},
        {badType.data(), 1, 4, 4, DADOV_E_FAILED}, {nullptr, 1, 4, 4, DADOV_OK},
        {list.data(), 0, 4, 4, DADOV_OK},
    };
    for (bool earlierSuccess : {false, true}) {
        for (const Case& c : cases) {
            MeterPool pool;
            if (earlierSuccess) {
                ASSERT_EQ(pool.initialize(list.data(), 1, 1, 4, 4, 255, 1000), DADOV_OK);
            }
            EXPECT_EQ(pool.initialize(c.descriptors, c.count, 1, c.numX, c.numY, 255, 7), c.result);
            EXPECT_EQ(pool.getDescriptorCount(), 0u);
            EXPECT_EQ(pool.getFill(), MeterPool::UNSET_FILL);
            EXPECT_EQ(pool.getPeriod(), MeterPool::DEFAULT_PERIOD);
            for (u32 s = 1; s <= 4; ++s) {
                EXPECT_EQ(pool.getArraySet(s)->getArrayCount(), 0u);
            }
            EXPECT_EQ(pool.clearMeters(), DADOV_OK);
        }
    }
    MeterPool pool;
    ASSERT_EQ(pool.initialize(list.data(), 1, 1, 4, 4, 255, 1000), DADOV_OK);
    EXPECT_EQ(pool.release(), DADOV_OK);
    EXPECT_EQ(pool.getArraySet(1)->getArrayCount(), 0u);
    EXPECT_EQ(pool.release(), DADOV_OK);
    ASSERT_EQ(pool.initialize(list.data(), 1, 1, 4, 4, 255, 1000), DADOV_OK);
    EXPECT_EQ(pool.getArraySet(0), nullptr);
    EXPECT_EQ(pool.getArraySet(5), nullptr);
}

// A meter without storage stops the fill: later meters keep their zeroes, initialize succeeds and clearMeters
// fails.
TEST(MeterPool, MeterWithoutStorageStopsTheFill)
{
    std::vector<u32> list;
    addMeter(list, F32, "gr");
    addMeter(list, F32, "level", SIZE_NONE);
    addMeter(list, F32, "gr");
    MeterPool pool;
    ASSERT_EQ(pool.initialize(list.data(), 3, 1, 4, 4, 255, 1000), DADOV_OK);
    EXPECT_TRUE(filledWith(pool, 2, 0, 254));
    EXPECT_TRUE(filledWith(pool, 2, 2, 0));
    EXPECT_EQ(pool.clearMeters(), DADOV_E_FAILED);
    EXPECT_TRUE(filledWith(pool, 2, 2, 0));
}

// Byte ranges go only into sets 2 and 3 and only within the array; copies come out of any set.
TEST(MeterPool, WriteAndCopyBounds)
{
    std::vector<u32> list;
    addMeter(list, U8, "m", 64, 0);
    addMeter(list, U8, "n", SIZE_NONE, 0);
    MeterPool pool;
    ASSERT_EQ(pool.initialize(list.data(), 2, 1, 4, 4, 255, 1000), DADOV_OK);
    const u8 bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    struct Case
    {
        u32 set;
        u32 meter;
        u32 offset;
        u32 count;
        i32 result;
    };
    const Case cases[] = {
        {2, 0, 56, 8, DADOV_OK},       {3, 0, 0, 8, DADOV_OK},
        {2, 0, 60, 8, DADOV_E_FAILED}, {2, 0, 0xFFFFFFFC, 8, DADOV_E_FAILED},
        {1, 0, 0, 8, DADOV_E_FAILED},  {4, 0, 0, 8, DADOV_E_FAILED},
        {2, 1, 0, 1, DADOV_E_FAILED},  {2, 2, 0, 1, DADOV_E_FAILED},
        {2, 0, 64, 0, DADOV_OK},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pool.writeMeterBytes(c.set, c.meter, c.offset, bytes, c.count), c.result)
            << c.set << " " << c.meter << " " << c.offset << " " << c.count;
    }
    std::vector<u8> expected(64, 0);
    std::memcpy(&expected[56], bytes, 8);
    std::vector<u8> out;
    EXPECT_EQ(pool.copyMeterArray(2, 0, out), DADOV_OK);
    EXPECT_EQ(out, expected);
    expected.assign(64, 0);
    std::memcpy(&expected[0], bytes, 8);
    EXPECT_EQ(pool.copyMeterArray(3, 0, out), DADOV_OK);
    EXPECT_EQ(out, expected);
    EXPECT_EQ(pool.copyMeterArray(5, 0, out), DADOV_E_FAILED);
    EXPECT_EQ(pool.copyMeterArray(1, 1, out), DADOV_E_FAILED);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(pool.visitSet(
                  3, [](const PARRAY::ArrayAccessorForServer& set) { return static_cast<i32>(set.getArrayCount()); }),
              2);
}
