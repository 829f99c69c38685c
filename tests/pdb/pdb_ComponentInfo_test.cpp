// Component descriptions: dimension limits, block building, size patterns, copies and the "#CI1" record.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "pdb_ComponentInfo.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_ParameterStrategy.h"

using namespace PDB;

namespace {

constexpr i32 BAD_ARGUMENT = static_cast<i32>(0x80000001u);
constexpr i32 NOT_FOUND = static_cast<i32>(0x80000002u);
constexpr i32 BAD_RECORD = static_cast<i32>(0x80010000u);
const ParameterAttribute ATTR(0, ParameterAttribute::FLAG_RECALLABLE);

i32 addU8(ComponentInfo& info, const char* address, u32 patternX = 1, u32 patternY = 1, u8 min = 0, u8 nominal = 5)
{
    return info.addParameterUInt8(address, patternX, patternY, "cx", "cy", min, 200, 10, nominal, 1, 1, ATTR, "dB",
                                  "Level", "knob");
}

// The golden record: uid 7, "Mixer" version 3, X 2, Y 1, "Mix1", 4 blocks, user value 0x12345.
const std::array<u8, 92> GOLDEN = [] {
    std::array<u8, 92> r{};
    const u8 head[] = {0x23, 0x43, 0x49, 0x31, 0, 0, 0, 7, 'M', 'i', 'x', 'e', 'r'};
    std::memcpy(r.data(), head, sizeof(head));
    const u8 mid[] = {0, 0, 0, 3, 0, 2, 0, 1, 'M', 'i', 'x', '1'};
    std::memcpy(r.data() + 0x20, mid, sizeof(mid));
    r[0x58] = 0x00;
    r[0x59] = 0x04;
    r[0x5A] = 0x23;
    r[0x5B] = 0x45;
    return r;
}();

ComponentInfo makeMixer()
{
    ComponentInfo info;
    EXPECT_EQ(info.initialize("Mixer", 3, 1, 1, 8, 1, "ch", "", getDefaultStrategy()), 0);
    EXPECT_EQ(addU8(info, "/Mix/Gain", PATTERN_MULTIPLY | 2), 0);
    EXPECT_EQ(addU8(info, "/Mix/Pan"), 0);
    EXPECT_EQ(info.addParameterBool("/Mix/Mute", 1, 1, "", "", 0, 1, 0, ATTR, "", "OnOff", ""), 0);
    EXPECT_EQ(info.addParameterString("/Mix/Name", 1, 1, "", "", 16, "ch", ATTR, "", "String", ""), 0);
    return info;
}

void registerMixer()
{
    const i32 result = ComponentInfoRepository::getInstance().registerComponentInfo(makeMixer());
    ASSERT_TRUE(result == 0 || result == static_cast<i32>(0x80100000u));
}

} // namespace

TEST(ParameterInfo, PatternsResolveAgainstDimensions)
{
    ParameterInfo info;
    info.setTypeCode(TYPE_UINT16);
    info.setElementSize(2);
    info.setPatterns(PATTERN_MULTIPLY | 2, PATTERN_DIVIDE | 4);
    EXPECT_EQ(info.setDimensions(3, 5), 0);
    EXPECT_EQ(info.getCountX(), 6u);
    EXPECT_EQ(info.getCountY(), 2u);
    EXPECT_EQ(info.getElementCount(), 12u);
    EXPECT_EQ(info.getRawSize(), 24u);
    EXPECT_TRUE(info.isValid());

    info.setPatterns(8, 0x30000000 | 3); // a plain base whatever the dimension; an unknown mode is plain too
    EXPECT_EQ(info.setDimensions(100, 100), 0);
    EXPECT_EQ(info.getCountX(), 8u);
    EXPECT_EQ(info.getCountY(), 3u);

    info.setPatterns(PATTERN_MULTIPLY, 1); // base 0
    EXPECT_EQ(info.setDimensions(3, 3), BAD_ARGUMENT);
    EXPECT_EQ(info.getCountX(), 0u);
    EXPECT_EQ(info.getCountY(), 0u);
    EXPECT_FALSE(info.isValid());
}

TEST(ParameterInfo, RawSizeBeyond32BitsIsRefused)
{
    ParameterInfo info;
    info.setTypeCode(TYPE_UINT32);
    info.setElementSize(4);
    info.setPatterns(PATTERN_MULTIPLY | 0xFFFF, PATTERN_MULTIPLY | 1);
    EXPECT_EQ(info.setDimensions(1, 1), 0);
    EXPECT_EQ(info.getCountX(), 0xFFFFu);
    // 65535^2 elements fit 32 bits, their 4-byte storage does not.
    EXPECT_EQ(info.setDimensions(0xFFFF, 1), BAD_ARGUMENT);
    EXPECT_EQ(info.getCountX(), 0u);
    EXPECT_EQ(info.getCountY(), 0u);
    EXPECT_FALSE(info.isValid());
    // 65535^3 elements do not fit 32 bits at all.
    EXPECT_EQ(info.setDimensions(0xFFFF, 0xFFFF), BAD_ARGUMENT);

    info.setTypeCode(TYPE_UINT8);
    info.setElementSize(1);
    EXPECT_EQ(info.setDimensions(0xFFFF, 1), 0);
    EXPECT_EQ(info.getCountX(), 0xFFFFu * 0xFFFFu);
}

TEST(ParameterInfo, TypeCodeValidity)
{
    EXPECT_TRUE(isValidTypeCode(TYPE_UINT32, 4));
    EXPECT_FALSE(isValidTypeCode(TYPE_UINT32, 2));
    EXPECT_TRUE(isValidTypeCode(TYPE_BOOL, 1));
    EXPECT_TRUE(isValidTypeCode(TYPE_STRING, 5));
    EXPECT_FALSE(isValidTypeCode(TYPE_BINARY, 0));
    EXPECT_FALSE(isValidTypeCode(0x71, 1));
    EXPECT_FALSE(isValidTypeCode(0x01, 1));
}

TEST(ComponentInfo, InitializeChecksLimitsAndLeavesClearedOnFailure)
{
    ComponentInfo info;
    const std::array<std::array<u32, 4>, 5> bad = {
        {{0, 1, 1, 1}, {1, 1, 65536, 1}, {1, 3, 1, 2}, {2, 1, 1, 1}, {1, 0, 1, 0}}};
    for (const auto& limits : bad) {
        ASSERT_EQ(info.initialize("T", 1, 1, 1, 4, 4, "", "", nullptr), 0);
        ASSERT_EQ(addU8(info, "/a"), 0);
        EXPECT_EQ(info.initialize("T", 2, limits[0], limits[1], limits[2], limits[3], "x", "y", nullptr), BAD_ARGUMENT);
        EXPECT_EQ(info.getName(), "");
        EXPECT_EQ(info.getVersion(), 0u);
        EXPECT_EQ(info.getComponentNumber(), -1);
        EXPECT_FALSE(info.hasParameters());
        EXPECT_EQ(info.getCommentX(), "");
    }
    ASSERT_EQ(info.initialize("T", 9, 2, 3, 65535, 65535, "cx", nullptr, nullptr), 0);
    EXPECT_EQ(info.getCurrentX(), 2u);
    EXPECT_EQ(info.getCurrentY(), 3u);
    EXPECT_EQ(info.getComponentNumber(), 0);
    EXPECT_EQ(info.getComponentUID(), INVALID_COMPONENT_UID);
    EXPECT_EQ(info.getParameterStrategy(), nullptr);
}

TEST(ComponentInfo, SameAddressTwiceRewritesOneBlock)
{
    ComponentInfo info;
    ASSERT_EQ(info.initialize("T", 1, 3, 5, 8, 8, "", "", nullptr), 0);
    ASSERT_EQ(addU8(info, "/a"), 0);
    ASSERT_EQ(addU8(info, "/b"), 0);
    ASSERT_EQ(info.addParameterFloat("/a", 1, 1, "", "", -1.0f, 1.0f, 0.5f, 0.25f, 0.1f, 4, ATTR, "u", "k", "d"), 0);
    EXPECT_EQ(info.getParameterCount(), 2u);
    EXPECT_EQ(info.findParameterIndex("/a"), 0u);
    EXPECT_EQ(info.findParameterIndex("/b"), 1u);
    EXPECT_EQ(info.findParameterIndex("/c"), ComponentInfo::NOT_FOUND);
    const ParameterInfo& a = info.getParameterInfo(0);
    EXPECT_EQ(a.getTypeCode(), TYPE_FLOAT);
    EXPECT_EQ(a.getElementSize(), 4u);
    EXPECT_EQ(a.getCommentX(), ""); // the old block's texts are gone
    EXPECT_FLOAT_EQ(a.getNominal().getFloat(), 0.25f);
    EXPECT_EQ(a.getScaling(), 4u);
}

TEST(ComponentInfo, NominalEmptyWhenEqualToMinOrNotNumeric)
{
    ComponentInfo info;
    ASSERT_EQ(info.initialize("T", 1, 1, 1, 1, 1, "", "", nullptr), 0);
    ASSERT_EQ(addU8(info, "/eq", 1, 1, 7, 7), 0);
    ASSERT_EQ(addU8(info, "/ne", 1, 1, 7, 8), 0);
    ASSERT_EQ(info.addParameterSInt16("/s", 1, 1, "", "", -4, 4, 0, -4, 1, 1, ATTR, "", "", ""), 0);
    ASSERT_EQ(info.addParameterBool("/b", 1, 1, "", "", 0, 1, 7, ATTR, "", "", ""), 0);
    ASSERT_EQ(info.addParameterString("/t", 1, 1, "", "", 8, "x", ATTR, "", "", ""), 0);
    EXPECT_FALSE(info.getParameterInfo(0).getNominal().isValid());
    EXPECT_EQ(info.getParameterInfo(1).getNominal().getUInt(), 8u);
    EXPECT_FALSE(info.getParameterInfo(2).getNominal().isValid());
    const ParameterInfo& b = info.getParameterInfo(3);
    EXPECT_FALSE(b.getNominal().isValid());
    EXPECT_EQ(b.getDefault().getUInt(), 1u);
    EXPECT_EQ(b.getStep().getUInt(), 1u);
    const ParameterInfo& t = info.getParameterInfo(4);
    EXPECT_FALSE(t.getNominal().isValid());
    EXPECT_STREQ(t.getDefault().getString(), "x");
    EXPECT_EQ(t.getScaling(), 0u);
    EXPECT_EQ(t.getElementSize(), 8u);
}

TEST(ComponentInfo, PatternsAndSetDimensions)
{
    ComponentInfo info;
    ASSERT_EQ(info.initialize("T", 1, 3, 1, 8, 4, "", "", nullptr), 0);
    ASSERT_EQ(addU8(info, "/mul", PATTERN_MULTIPLY | 2), 0);
    ASSERT_EQ(addU8(info, "/div", PATTERN_DIVIDE | 4), 0);
    ASSERT_EQ(addU8(info, "/plain", 8), 0);
    EXPECT_EQ(info.getParameterInfo(0).getCountX(), 6u);
    EXPECT_EQ(info.getParameterInfo(1).getCountX(), 1u);
    EXPECT_EQ(info.getParameterInfo(2).getCountX(), 8u);

    ASSERT_EQ(info.setDimensions(5, 2, 9), 0);
    EXPECT_EQ(info.getParameterInfo(1).getCountX(), 2u);
    EXPECT_EQ(info.getParameterInfo(2).getCountX(), 8u);
    EXPECT_EQ(info.getComponentNumber(), 9);

    ASSERT_EQ(info.setDimensions(0, 0, 4), 0);
    EXPECT_EQ(info.getCurrentX(), 3u);
    EXPECT_EQ(info.getCurrentY(), 1u);
    EXPECT_EQ(info.getParameterInfo(0).getCountX(), 6u);

    EXPECT_EQ(info.setDimensions(9, 1, 1), BAD_ARGUMENT);
    EXPECT_EQ(info.setDimensions(3, 5, 1), BAD_ARGUMENT);
    EXPECT_EQ(info.getComponentNumber(), 4);

    ComponentInfo empty;
    EXPECT_EQ(empty.setDimensions(1, 1, 0), BAD_ARGUMENT);
}

TEST(ComponentInfo, OverflowingBlockAndEmptyAddressAreRefused)
{
    ComponentInfo info;
    ASSERT_EQ(info.initialize("T", 1, 1, 1, 65535, 65535, "", "", nullptr), 0);
    ASSERT_EQ(info.addParameterUInt32("/big", PATTERN_MULTIPLY | 0xFFFF, PATTERN_MULTIPLY | 1, "", "", 0, 1, 0, 0, 1, 1,
                                      ATTR, "", "", ""),
              0);
    EXPECT_TRUE(info.getParameterInfo(0).isValid());
    EXPECT_EQ(info.setDimensions(65535, 1, 0), BAD_ARGUMENT);
    EXPECT_FALSE(info.getParameterInfo(0).isValid());
    EXPECT_EQ(info.getParameterInfo(0).getElementCount(), 0u);

    EXPECT_EQ(addU8(info, ""), BAD_ARGUMENT);
    EXPECT_EQ(addU8(info, nullptr), BAD_ARGUMENT);
    EXPECT_EQ(info.getParameterCount(), 1u);
    EXPECT_EQ(info.findParameterIndex(""), ComponentInfo::NOT_FOUND);
}

TEST(ComponentInfo, StringDefaultBeyondTheValueLimitIsRefused)
{
    ComponentInfo info;
    ASSERT_EQ(info.initialize("T", 1, 1, 1, 1, 1, "", "", nullptr), 0);
    const std::string longest(1023, 'a');
    ASSERT_EQ(info.addParameterString("/s", 1, 1, "", "", 2048, longest.c_str(), ATTR, "", "", ""), 0);
    EXPECT_STREQ(info.getParameterInfo(0).getDefault().getString(), longest.c_str());

    // One character more cannot be held as a value: the block keeps its old description.
    const std::string tooLong(1024, 'b');
    EXPECT_EQ(info.addParameterString("/s", 1, 1, "", "", 2048, tooLong.c_str(), ATTR, "", "", ""), BAD_ARGUMENT);
    EXPECT_EQ(info.addParameterString("/t", 1, 1, "", "", 2048, tooLong.c_str(), ATTR, "", "", ""), BAD_ARGUMENT);
    EXPECT_EQ(info.getParameterCount(), 1u);
    EXPECT_EQ(info.findParameterIndex("/t"), ComponentInfo::NOT_FOUND);
    EXPECT_STREQ(info.getParameterInfo(0).getDefault().getString(), longest.c_str());
}

TEST(ComponentInfo, IndexBeyondListGivesSharedDefault)
{
    const ComponentInfo info = makeMixer();
    const ParameterInfo& beyond = info.getParameterInfo(info.getParameterCount());
    EXPECT_EQ(beyond.getAddress(), "<unknown>");
    EXPECT_EQ(beyond.getTypeCode(), 0);
    EXPECT_EQ(beyond.getScaling(), 1u);
    EXPECT_EQ(&beyond, &info.getParameterInfo(0xFFFFFFFF));
}

TEST(ComponentInfo, CopyIsDeepAndMoveEmptiesSource)
{
    ComponentInfo original = makeMixer();
    ComponentInfo copy(original);
    ASSERT_EQ(copy.getParameterCount(), 4u);
    ASSERT_EQ(addU8(original, "/Mix/Gain", 3), 0); // rewrite a block of the original
    ASSERT_EQ(addU8(original, "/Extra"), 0);
    original.setInstanceName("changed");
    EXPECT_EQ(copy.getParameterCount(), 4u);
    EXPECT_EQ(copy.getParameterInfo(0).getPatternX(), PATTERN_MULTIPLY | 2);
    EXPECT_EQ(copy.getInstanceName(), "");
    EXPECT_EQ(copy.findParameterIndex("/Extra"), ComponentInfo::NOT_FOUND);
    for (u32 i = 0; i < copy.getParameterCount(); ++i) {
        EXPECT_EQ(copy.findParameterIndex(copy.getParameterInfo(i).getAddress().c_str()), i);
        EXPECT_NE(&copy.getParameterInfo(i), &original.getParameterInfo(i));
    }

    ComponentInfo moved(std::move(original));
    EXPECT_EQ(moved.getParameterCount(), 5u);
    EXPECT_EQ(moved.findParameterIndex("/Extra"), 4u);
    EXPECT_EQ(moved.getInstanceName(), "changed");
    EXPECT_FALSE(original.hasParameters()); // NOLINT(bugprone-use-after-move): the source state is specified
    EXPECT_EQ(original.findParameterIndex("/Extra"), ComponentInfo::NOT_FOUND);

    ComponentInfo assigned;
    assigned = std::move(moved);
    EXPECT_EQ(assigned.getParameterCount(), 5u);
    EXPECT_FALSE(moved.hasParameters()); // NOLINT(bugprone-use-after-move)
}

TEST(ComponentInfoBinary, ExportGolden)
{
    ComponentInfo info = makeMixer();
    info.setComponentUID(7);
    info.setInstanceName("Mix1");
    info.setUserValue(0x12345);
    ASSERT_EQ(info.setDimensions(2, 1, 0), 0);
    ASSERT_EQ(info.getBinarySize(), 92u);
    std::array<u8, 100> out;
    out.fill(0xAA);
    ASSERT_EQ(info.exportBinary(out.data(), 92), 0);
    EXPECT_EQ(std::memcmp(out.data(), GOLDEN.data(), 92), 0);
    EXPECT_EQ(out[92], 0xAA);
    EXPECT_EQ(info.exportBinary(out.data(), 91), BAD_ARGUMENT);
    EXPECT_EQ(info.exportBinary(nullptr, 92), BAD_ARGUMENT);
}

TEST(ComponentInfoBinary, ExportCutsLongNames)
{
    ComponentInfo info;
    const std::string name(24, 'N');
    const std::string instance(48, 'I');
    ASSERT_EQ(info.initialize(name.c_str(), 1, 1, 1, 1, 1, "", "", nullptr), 0);
    info.setInstanceName(instance.c_str());
    std::array<u8, 92> out{};
    ASSERT_EQ(info.exportBinary(out.data(), 92), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data() + 8)), std::string(23, 'N'));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data() + 40)), std::string(47, 'I'));
}

TEST(ComponentInfoBinary, ImportRefusals)
{
    ComponentInfo info = makeMixer();
    u32 count = 99;
    testing::internal::CaptureStdout();
    EXPECT_EQ(info.importBinary(GOLDEN.data(), 92, count), NOT_FOUND);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[E] ComponentInfo::importBinary - Unknown ComponentInfo found. [name=Mixer, ver=3]\n");
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(info.hasParameters());

    registerMixer();
    auto record = GOLDEN;
    record[3] = '2';
    info = makeMixer();
    EXPECT_EQ(info.importBinary(record.data(), 92, count), BAD_RECORD);
    EXPECT_FALSE(info.hasParameters());
    EXPECT_EQ(info.importBinary(GOLDEN.data(), 91, count), BAD_ARGUMENT);
    EXPECT_EQ(info.importBinary(nullptr, 92, count), BAD_ARGUMENT);
}

TEST(ComponentInfoBinary, ImportGoldenWithRegisteredType)
{
    registerMixer();
    ComponentInfo info;
    u32 count = 99;
    ASSERT_EQ(info.importBinary(GOLDEN.data(), 92, count), 0);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(info.getComponentUID(), 7u);
    EXPECT_EQ(info.getName(), "Mixer");
    EXPECT_EQ(info.getInstanceName(), "Mix1");
    EXPECT_EQ(info.getUserValue(), 0x2345u);
    EXPECT_EQ(info.getCurrentX(), 2u);
    EXPECT_EQ(info.getCurrentY(), 1u);
    EXPECT_EQ(info.getComponentNumber(), 0);
    EXPECT_EQ(info.getParameterCount(), 4u);
    EXPECT_EQ(info.getParameterInfo(0).getCountX(), 4u); // "*2" resolved for X 2
    EXPECT_EQ(info.getParameterStrategy(), getDefaultStrategy());

    auto record = GOLDEN;
    record[37] = 0; // X 0 opens at minX
    ASSERT_EQ(info.importBinary(record.data(), 92, count), 0);
    EXPECT_EQ(info.getCurrentX(), 1u);
    EXPECT_EQ(info.getParameterInfo(0).getCountX(), 2u);

    record[37] = 9; // beyond maxX 8
    EXPECT_EQ(info.importBinary(record.data(), 92, count), BAD_ARGUMENT);
    EXPECT_FALSE(info.hasParameters());
    EXPECT_EQ(info.getName(), "");
    EXPECT_EQ(count, 4u);
}

TEST(ComponentInfoBinary, FullTextFieldsReadAsTheWriterStoresThem)
{
    // A field without its NUL reads as its first width - 1 bytes, what the writer keeps of a text, so import,
    // export and import again agree.
    ComponentInfo type;
    const std::string name(23, 'Z');
    ASSERT_EQ(type.initialize(name.c_str(), 3, 1, 1, 4, 1, "", "", nullptr), 0);
    ASSERT_EQ(addU8(type, "/a"), 0);
    ASSERT_EQ(ComponentInfoRepository::getInstance().registerComponentInfo(type), 0);

    // The record sits at the very end of its allocation, so any read past a field shows up under ASan.
    std::vector<u8> record(GOLDEN.begin(), GOLDEN.end());
    std::memset(record.data() + 8, 'Z', 24);
    std::memset(record.data() + 40, 'I', 48);
    ComponentInfo info;
    u32 count = 0;
    ASSERT_EQ(info.importBinary(record.data(), 92, count), 0);
    EXPECT_EQ(info.getName(), name);
    EXPECT_EQ(info.getInstanceName(), std::string(47, 'I'));
    std::vector<u8> exported(92);
    ASSERT_EQ(info.exportBinary(exported.data(), 92), 0);
    ComponentInfo again;
    ASSERT_EQ(again.importBinary(exported.data(), 92, count), 0);
    EXPECT_EQ(again.getName(), name);
    EXPECT_EQ(again.getInstanceName(), info.getInstanceName());
}

TEST(ComponentInfoBinary, SweepOfShortAndCorruptedRecords)
{
    registerMixer();
    ComponentInfo info;
    u32 count = 0;
    for (u32 size = 0; size < 92; ++size) {
        std::vector<u8> shortRecord(GOLDEN.begin(), GOLDEN.begin() + size);
        EXPECT_EQ(info.importBinary(shortRecord.data(), size, count), BAD_ARGUMENT) << size;
    }
    testing::internal::CaptureStdout();
    u32 accepted = 0;
    for (u32 i = 0; i < 92; ++i) {
        for (const int mode : {0, 1, 2}) {
            std::vector<u8> record(GOLDEN.begin(), GOLDEN.end());
            record[i] = mode == 0 ? 0x00 : mode == 1 ? 0xFF : static_cast<u8>(~record[i]);
            const i32 result = info.importBinary(record.data(), 92, count);
            if (result >= 0) {
                ++accepted;
                EXPECT_TRUE(info.hasParameters());
                EXPECT_LE(info.getCurrentX(), 8u);
            } else {
                EXPECT_FALSE(info.hasParameters());
                EXPECT_TRUE(result == BAD_ARGUMENT || result == NOT_FOUND || result == BAD_RECORD) << result;
            }
        }
    }
    testing::internal::GetCapturedStdout();
    EXPECT_GT(accepted, 0u);
}
