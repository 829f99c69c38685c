// Filtered copies and record imports of parameter arrays: which parameters take part, direct or element-wise,
// shapes and masks, and a sweep of damaged record headers and short images.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "pdb_ParamArrayFixture.h"

using namespace pdbtest;

namespace {

constexpr u8 STATUS = 0x31;

// Record image of 16-bit values, little-endian, in linear order.
std::vector<u8> imageU16(const std::vector<u32>& values)
{
    std::vector<u8> out;
    for (u32 v : values) {
        out.push_back(static_cast<u8>(v));
        out.push_back(static_cast<u8>(v >> 8));
    }
    return out;
}

void fill(IParameterArray& array, const std::vector<u32>& values)
{
    const u32 countY = array.getParameterInfo().getCountY();
    for (u32 i = 0; i < values.size(); ++i) {
        array.setValue(i / countY, i % countY, KVariant(values[i]), 0);
    }
}

std::vector<u32> valuesOf(const IParameterArray& array)
{
    std::vector<u32> out;
    const ParameterInfo& info = array.getParameterInfo();
    for (u32 x = 0; x < info.getCountX(); ++x) {
        for (u32 y = 0; y < info.getCountY(); ++y) {
            KVariant v;
            array.getValue(v, x, y, nullptr);
            out.push_back(v.getUInt());
        }
    }
    return out;
}

std::vector<u32> statusesOf(const IParameterArray& array)
{
    std::vector<u32> out;
    const ParameterInfo& info = array.getParameterInfo();
    for (u32 x = 0; x < info.getCountX(); ++x) {
        for (u32 y = 0; y < info.getCountY(); ++y) {
            out.push_back(array.getElementStatus(x, y));
        }
    }
    return out;
}

struct Target
{
    EventLog log;
    RecordingStrategy strategy{log};
    RecordingCallback callback{log};
    CountingOwner owner{log};
    ParameterArray array;

    explicit Target(const ParameterInfo& info) { array.initialize(&owner, 0, 1, info, &callback, &strategy, 0); }
    size_t changes() const
    {
        size_t n = 0;
        for (const std::string& e : log.events) {
            n += e.rfind("changed", 0) == 0 ? 1 : 0;
        }
        return n;
    }
};

} // namespace

TEST(ParameterArrayFilter, MatrixOfFiltersAttributesAndOperations)
{
    const std::vector<u32> source = {5, 0, 7, 9}; // element (0, 1) equals the target's 0
    const std::vector<u8> image = imageU16(source);
    for (u8 filter : {u8{0x00}, u8{0x02}, u8{0x04}, u8{0x08}, u8{0x18}}) {
        for (u8 attribute : {RECALLABLE, NONVOLATILE, u8{0}}) {
            for (bool import : {false, true}) {
                SCOPED_TRACE(testing::Message() << "filter " << int(filter) << " attribute " << int(attribute)
                                                << (import ? " import" : " copy"));
                const ParameterInfo info = makeU16(2, 2, attribute);
                Target t(info);
                LocalParameterArray from;
                ASSERT_EQ(from.initialize(info), 0);
                fill(from, source);
                t.log.events.clear();
                const i32 result =
                    import ? t.array.importBinary(info, image.data(), static_cast<u32>(image.size()),
                                                  *getDummyFlagArray(), ParameterFilter(filter), STATUS)
                           : t.array.copyFiltered(from, *getDummyFlagArray(), ParameterFilter(filter), STATUS);
                EXPECT_EQ(result, 0);
                EXPECT_EQ(t.owner.depth, 0);

                const bool takesPart = filter == 0 || filter == 8 ||
                                       ((filter == 2 || filter == 4) && attribute == RECALLABLE) ||
                                       (filter == 0x18 && attribute == NONVOLATILE);
                if (!takesPart) {
                    EXPECT_TRUE(t.log.events.empty());
                    EXPECT_EQ(valuesOf(t.array), std::vector<u32>({0, 0, 0, 0}));
                    EXPECT_EQ(statusesOf(t.array), std::vector<u32>({0xFF, 0xFF, 0xFF, 0xFF}));
                    continue;
                }
                EXPECT_EQ(valuesOf(t.array), source);
                if (filter == 2 || filter == 4) {
                    EXPECT_EQ(statusesOf(t.array), std::vector<u32>({STATUS, 0xFF, STATUS, STATUS}));
                    EXPECT_EQ(t.changes(), 3u);
                    EXPECT_EQ(t.log.count("check"), 3u);
                    EXPECT_EQ(t.log.count("written"), filter == 4 ? 3u : 0u);
                    EXPECT_EQ(t.log.count("suppress"), filter == 4 ? 3u : 1u);
                } else {
                    EXPECT_EQ(statusesOf(t.array), std::vector<u32>({STATUS, STATUS, STATUS, STATUS}));
                    EXPECT_EQ(t.changes(), 0u);
                    EXPECT_EQ(t.log.count("check"), 0u);
                    EXPECT_EQ(t.log.count("written"), 0u);
                    EXPECT_EQ(t.log.count("suppress"), 0u);
                }

                // The local array copies the same parameters, always directly, without statuses.
                LocalParameterArray local;
                ASSERT_EQ(
                    local.initialize(makeInfo(0x12, 2, 2, 2, KVariant(0u), KVariant(6u), KVariant(0u), attribute)), 0);
                const i32 localResult =
                    import ? local.importBinary(info, image.data(), static_cast<u32>(image.size()),
                                                *getDummyFlagArray(), ParameterFilter(filter), STATUS)
                           : local.copyFiltered(from, *getDummyFlagArray(), ParameterFilter(filter), STATUS);
                EXPECT_EQ(localResult, 0);
                EXPECT_EQ(valuesOf(local), source); // above the local info's maximum 6: no limits
            }
        }
    }
}

TEST(ParameterArrayFilter, ShapesRowRunsAndMasks)
{
    // Record 2 x 3 with (x, y) = 10x + y + 1, into a 3 x 2 array whose (1, 1) holds 55.
    const std::vector<u32> values = {1, 2, 3, 11, 12, 13};
    const std::vector<u8> image = imageU16(values);
    const ParameterInfo record = makeU16(2, 3);
    LocalParameterArray from;
    ASSERT_EQ(from.initialize(record), 0);
    fill(from, values);
    FlagArray mask;
    ASSERT_EQ(mask.allocate(6), 0);
    mask.set(1 * 2 + 1);

    for (u8 filter : {u8{0x00}, u8{0x02}}) {
        for (bool masked : {false, true}) {
            for (bool import : {false, true}) {
                SCOPED_TRACE(testing::Message() << "filter " << int(filter) << (masked ? " masked" : "")
                                                << (import ? " import" : " copy"));
                Target t(makeU16(3, 2));
                t.array.setValue(1, 1, KVariant(55u), 0);
                const IFlagArray& m = masked ? static_cast<const IFlagArray&>(mask) : *getDummyFlagArray();
                const i32 result = import ? t.array.importBinary(record, image.data(), static_cast<u32>(image.size()),
                                                                 m, ParameterFilter(filter), STATUS)
                                          : t.array.copyFiltered(from, m, ParameterFilter(filter), STATUS);
                EXPECT_EQ(result, 0);
                const u32 kept = masked ? 55 : 12;
                EXPECT_EQ(valuesOf(t.array), std::vector<u32>({1, 2, 11, kept, 0, 0}));
                EXPECT_EQ(t.array.getElementStatus(2, 0), 0xFF);
                EXPECT_EQ(t.array.getElementStatus(1, 0), STATUS);
                EXPECT_EQ(t.array.getElementStatus(1, 1), masked ? 0 : STATUS);
            }
        }
    }

    // The other way round: a 3 x 2 record into a 2 x 3 array.
    const std::vector<u32> tall = {1, 2, 11, 12, 21, 22};
    const std::vector<u8> tallImage = imageU16(tall);
    LocalParameterArray wide;
    ASSERT_EQ(wide.initialize(makeU16(2, 3)), 0);
    ASSERT_EQ(wide.importBinary(makeU16(3, 2), tallImage.data(), 12, *getDummyFlagArray(), ParameterFilter(0), 0), 0);
    EXPECT_EQ(valuesOf(wide), std::vector<u32>({1, 2, 0, 11, 12, 0}));

    // A short image: only the whole elements it holds are read, in every form.
    Target shortRows(makeU16(3, 2));
    EXPECT_EQ(shortRows.array.importBinary(record, image.data(), 9, *getDummyFlagArray(), ParameterFilter(0), 0), 0);
    EXPECT_EQ(valuesOf(shortRows.array), std::vector<u32>({1, 2, 11, 0, 0, 0}));
    Target shortWise(makeU16(3, 2));
    EXPECT_EQ(shortWise.array.importBinary(record, image.data(), 7, *getDummyFlagArray(), ParameterFilter(2), 0), 0);
    EXPECT_EQ(valuesOf(shortWise.array), std::vector<u32>({1, 2, 0, 0, 0, 0}));
    Target shortWhole(makeU16(2, 3));
    EXPECT_EQ(shortWhole.array.importBinary(record, image.data(), 6, *getDummyFlagArray(), ParameterFilter(0), 0), 0);
    EXPECT_EQ(valuesOf(shortWhole.array), std::vector<u32>({1, 2, 3, 0, 0, 0}));

    // Another type code or an element size that does not fit the type changes nothing.
    Target refused(makeU16(2, 3));
    ParameterInfo otherType = makeInfo(0x14, 4, 2, 3, KVariant(0u), KVariant(9u), KVariant(0u));
    EXPECT_EQ(refused.array.importBinary(otherType, image.data(), 12, *getDummyFlagArray(), ParameterFilter(0), 0),
              TYPE_MISMATCH);
    ParameterInfo badSize = makeU16(3, 2);
    badSize.setElementSize(4);
    EXPECT_EQ(refused.array.importBinary(badSize, image.data(), 12, mask, ParameterFilter(0), 0), BAD_ARGUMENT);
    EXPECT_EQ(refused.array.importBinary(badSize, image.data(), 12, mask, ParameterFilter(2), 0), BAD_ARGUMENT);
    EXPECT_EQ(valuesOf(refused.array), std::vector<u32>({0, 0, 0, 0, 0, 0}));

    // Texts of another capacity: cut to the target's, the rest of each element zero.
    LocalParameterArray longText;
    ASSERT_EQ(longText.initialize(makeInfo(0x50, 8, 1, 2, KVariant(0u), KVariant(0u), KVariant(""))), 0);
    longText.setValue(0, 0, KVariant("abcdefgh"), 0);
    longText.setValue(0, 1, KVariant("xy"), 0);
    LocalParameterArray shortText;
    ASSERT_EQ(shortText.initialize(makeInfo(0x50, 3, 2, 1, KVariant(0u), KVariant(0u), KVariant(""))), 0);
    ASSERT_EQ(shortText.copyFiltered(longText, *getDummyFlagArray(), ParameterFilter(0), 0), 0);
    KVariant v;
    shortText.getValue(v, 0, 0, nullptr);
    EXPECT_STREQ(v.getString(), "abc");
    const u8* element = shortText.getRawArray().getElementPointer(0);
    EXPECT_EQ(element[3], 0);
}

TEST(ParameterArrayFilter, DamagedRecordSweep)
{
    // Every header combination against short and long images; ASan and UBSan watch the reads, and each call
    // must leave an array that still reads back.
    struct Block
    {
        u8 type;
        u32 elementSize;
    };
    const Block blocks[] = {{0x11, 1}, {0x22, 2}, {0x14, 4}, {0x34, 4}, {0x41, 1}, {0x50, 5}, {0x60, 3}};
    const u32 elementSizes[] = {0, 1, 2, 3, 4, 5, 0xFFFF, 0xFFFFFFFF};
    const u32 axes[] = {0, 1, 2, 3, 0xFFFF};
    std::vector<u32> sizes;
    for (u32 s = 0; s <= 64; ++s) {
        sizes.push_back(s);
    }
    sizes.push_back(1u << 20);
    FlagArray mask;
    ASSERT_EQ(mask.allocate(6), 0);
    mask.set(4);
    u64 calls = 0;
    for (const Block& block : blocks) {
        const ParameterInfo info = makeInfo(block.type, block.elementSize, 3, 2, KVariant(0u), KVariant(0u),
                                            KVariant(0u), RECALLABLE | NONVOLATILE);
        ParameterArray array;
        ASSERT_EQ(array.initialize(nullptr, 0, 0, info, nullptr, nullptr, 0), 0);
        LocalParameterArray local;
        ASSERT_EQ(local.initialize(info), 0);
        for (u8 recordType : {block.type, u8{0x00}, u8{0x41}, u8{0xFF}}) {
            for (u32 elementSize : elementSizes) {
                for (u32 x : axes) {
                    for (u32 y : axes) {
                        ParameterInfo record = info;
                        record.setTypeCode(recordType);
                        record.setElementSize(elementSize);
                        record.setCounts(x, y);
                        for (u32 size : sizes) {
                            std::unique_ptr<u8[]> data(new u8[size == 0 ? 1 : size]);
                            std::memset(data.get(), 0x5A, size == 0 ? 1 : size);
                            for (u8 filter : {u8{0x00}, u8{0x02}, u8{0x18}}) {
                                for (bool masked : {false, true}) {
                                    const IFlagArray& m =
                                        masked ? static_cast<const IFlagArray&>(mask) : *getDummyFlagArray();
                                    const i32 a =
                                        array.importBinary(record, data.get(), size, m, ParameterFilter(filter), 1);
                                    const i32 l =
                                        local.importBinary(record, data.get(), size, m, ParameterFilter(filter), 1);
                                    ASSERT_TRUE(a == 0 || a < 0) << a;
                                    ASSERT_TRUE(l == 0 || l < 0) << l;
                                    if (recordType != block.type) {
                                        ASSERT_EQ(a, TYPE_MISMATCH);
                                    }
                                    ++calls;
                                }
                            }
                        }
                    }
                }
            }
        }
        KVariant v;
        EXPECT_EQ(array.getValue(v, 2, 1, nullptr), 0);
        EXPECT_EQ(local.getValue(v, 2, 1, nullptr), 0);
        EXPECT_FALSE(array.isValidIndex(3, 0));
    }
    EXPECT_GT(calls, 100000u);
}
