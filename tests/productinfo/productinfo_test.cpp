// Product name and version records of the product information.
#include <gtest/gtest.h>

#include <string>

#include "pyrite_ProductInfo.h"

namespace {

TEST(ProductInfo, DefaultsBeforeLoading)
{
    PyriteProductInfo& info = PyriteProductInfo::getInstance();
    EXPECT_EQ(&info, &PyriteProductInfo::getInstance());
    for (u32 kind : {0u, 1u, 2u, 3u, 1000u}) {
        EXPECT_STREQ(info.getProductName(kind), "---");
    }
    std::string text = "x";
    EXPECT_EQ(info.getVersionString(0, text), 0x80000000u);
    EXPECT_EQ(text, "------");
    EXPECT_EQ(info.getVersionString(22, text), 0x80000000u);
    EXPECT_EQ(text, "------");
    EXPECT_EQ(info.getVersionString(23, text), 0x80000000u);
    EXPECT_EQ(text, "ERROR!");
}

TEST(ProductInfo, VersionTexts)
{
    PyriteProductInfo& info = PyriteProductInfo::getInstance();
    const struct
    {
        int kind;
        const char* in;
        const char* out;
    } cases[] = {
        {1, "V0.00", "V0.00"},    {0, "R0.00.00", "R0.00"},     {2, "v1.23", "V1.23"},
        {3, "r12.5B", "R12.05b"}, {22, "R255.99z", "R255.99z"}, {4, "R1.20a", "R1.20"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(info.setVersion(c.kind, c.in), 0u) << c.in;
        std::string text;
        EXPECT_EQ(info.getVersionString(static_cast<u32>(c.kind), text), 0u) << c.in;
        EXPECT_EQ(text, c.out);
    }
}

TEST(ProductInfo, RefusedVersionsLeaveTheEntry)
{
    PyriteProductInfo& info = PyriteProductInfo::getInstance();
    ASSERT_EQ(info.setVersion(5, "R2.10"), 0u);
    for (const char* bad : {"X1.00", "", "R", "R1", "R.10", "R1.", "R1.100", "R256.00", "R-1.00", " R1.00"}) {
        EXPECT_EQ(info.setVersion(5, bad), 0x80000000u) << bad;
    }
    EXPECT_EQ(info.setVersion(5, nullptr), 0x80000000u);
    EXPECT_EQ(info.setVersion(-1, "R1.00"), 0x80000000u);
    EXPECT_EQ(info.setVersion(23, "R1.00"), 0x80000000u);
    std::string text;
    EXPECT_EQ(info.getVersionString(5, text), 0u);
    EXPECT_EQ(text, "R2.10");
}

} // namespace
