#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "dadov_ConvertPDBValue.h"
#include "dadov_PluginInterfaces.h"
#include "dadov_VariantType.h"
#include "pdb_ComponentInfo.h"

namespace {

using DADOV::ConvertPDBValue;
using DADOV::VariantType;

constexpr i32 FAILED = static_cast<i32>(0x80000000u);

static_assert(DADOV::IID_PARAM_INFO == DADOV::InterfaceId{{0x49, 0xA5, 0xE6, 0x6A, 0x9A, 0x3E, 0xE9, 0x42, 0xAE, 0xF4,
                                                           0x6C, 0x8C, 0x9E, 0x8C, 0x67, 0x66}});

TEST(VariantType, SettersRefuseWhatDoesNotFit)
{
    VariantType value(17);
    const std::string twenty(20, 'a');
    EXPECT_EQ(value.setString(twenty.c_str()), FAILED);
    EXPECT_EQ(value.getType(), VariantType::TYPE_STRING);
    EXPECT_EQ(std::string(value.getString()), std::string(16, 'a'));
    EXPECT_EQ(value.setString(nullptr), FAILED);

    VariantType small(4);
    ASSERT_EQ(small.setUInt(5), 0);
    const u8 eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(small.setBinary(eight, 8), FAILED);
    EXPECT_EQ(small.getType(), VariantType::TYPE_UINT);
    EXPECT_EQ(small.getUInt(), 5u);
    EXPECT_EQ(small.getInt(), 0); // another tag reads as 0
    EXPECT_EQ(small.getBinarySize(), 0u);

    VariantType none;
    EXPECT_EQ(none.setString("x"), FAILED); // no buffer
    KVariant out(3);
    EXPECT_EQ(ConvertPDBValue::toKVariant(none, out), FAILED);
    EXPECT_FALSE(out.isValid());
}

TEST(VariantType, CopiesAreDeepAndMovesHandTheBufferOver)
{
    VariantType original(8);
    ASSERT_EQ(original.setString("abc"), 0);
    VariantType copy(original);
    ASSERT_EQ(original.setString("xyz"), 0);
    EXPECT_STREQ(copy.getString(), "abc");
    copy = original;
    EXPECT_STREQ(copy.getString(), "xyz");
    EXPECT_NE(copy.getString(), original.getString());

    VariantType moved(std::move(copy));
    EXPECT_STREQ(moved.getString(), "xyz");
    EXPECT_EQ(copy.getCapacity(), 0u);
    EXPECT_EQ(copy.getType(), VariantType::TYPE_EMPTY);
    copy = std::move(moved);
    EXPECT_STREQ(copy.getString(), "xyz");
    copy = copy;
    EXPECT_STREQ(copy.getString(), "xyz");
}

TEST(VariantType, AnUnterminatedTextIsReadWithinItsBuffer)
{
    VariantType value(8);
    ASSERT_EQ(value.setString("1234567"), 0);
    // A plug-in may fill the whole buffer without a terminator.
    std::memset(const_cast<char*>(value.getString()), 'z', 8);
    EXPECT_EQ(value.getStringLength(), 8u);
    KVariant out;
    ASSERT_EQ(ConvertPDBValue::toKVariant(value, out), 0);
    EXPECT_EQ(std::string(out.getString()), std::string(8, 'z'));
}

TEST(VariantType, EveryKindRoundTripsAndLongTextsFail)
{
    const u8 bytes[3] = {9, 8, 7};
    const KVariant values[] = {KVariant(-7),       KVariant(7u),
                               KVariant(2.5f),     KVariant("text", 1024),
                               KVariant(bytes, 3), KVariant(std::string(1023, 'q').c_str(), 1024)};
    for (const KVariant& value : values) {
        SCOPED_TRACE(value.getKind());
        VariantType crossing(1024);
        ASSERT_EQ(ConvertPDBValue::toVariantType(value, crossing), 0);
        KVariant back;
        ASSERT_EQ(ConvertPDBValue::toKVariant(crossing, back), 0);
        EXPECT_EQ(back.getKind(), value.getKind());
        EXPECT_TRUE(back == value);
    }
    VariantType target(8);
    EXPECT_EQ(ConvertPDBValue::toVariantType(KVariant(), target), FAILED);

    VariantType longText(1025);
    ASSERT_EQ(longText.setString(std::string(1024, 'q').c_str()), 0);
    KVariant kept(5);
    EXPECT_EQ(ConvertPDBValue::toKVariant(longText, kept), FAILED);
    EXPECT_EQ(kept.getInt(), 5);
}

TEST(VariantType, CapacityFollowsTheBlockType)
{
    PDB::ComponentInfo info;
    ASSERT_EQ(info.initialize("C", 1, 1, 1, 1, 1, "", "", nullptr), 0);
    ASSERT_EQ(info.addParameterString("/s", 1, 1, "", "", 16, "", {}, "", "", ""), 0);
    ASSERT_EQ(info.addParameterBinary("/b", 1, 1, "", "", 8, {}, "", "", ""), 0);
    ASSERT_EQ(info.addParameterUInt8("/u", 1, 1, "", "", 0, 1, 0, 0, 1, 1, {}, "", "", ""), 0);
    EXPECT_EQ(DADOV::getParameterValueCapacity(info.getParameterInfo(0)), 17u);
    EXPECT_EQ(DADOV::getParameterValueCapacity(info.getParameterInfo(1)), 8u);
    EXPECT_EQ(DADOV::getParameterValueCapacity(info.getParameterInfo(2)), 0u);
}

} // namespace
