#include "expression_ExpressionCollection.h"
#include "expression_Instances.h"
#include "expression_TestInfo.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

using namespace Expression;
using ExpressionTest::makeInfo;
using ExpressionTest::toText;

namespace {

const StringTableEntry TABLE[] = {
    {"Low", "lo", nullptr},
    {"Mid", nullptr, "m"},
    {"High", "hi", "h"},
};

const StringTableExpression& table()
{
    static const StringTableExpression e(TABLE, 3, 30, 330);
    return e;
}

const ValueInfo& info()
{
    static const ValueInfo i = makeInfo(0, 3, 1);
    return i;
}

std::string textOf(const KVariant& v)
{
    bool ok = false;
    const char* s = v.getString(&ok);
    return ok && s != nullptr ? s : "<not a text>";
}

} // namespace

TEST(StringTableExpression, TextSelectionByFlags)
{
    EXPECT_EQ(toText(table(), KVariant(0), info(), 64, 1).text, "Low");
    EXPECT_EQ(toText(table(), KVariant(0), info(), 64, 2).text, "lo");
    EXPECT_EQ(toText(table(), KVariant(1), info(), 64, 2).text, "Mid");
    EXPECT_EQ(toText(table(), KVariant(1), info(), 64, 4).text, "m");
    EXPECT_EQ(toText(table(), KVariant(2), info(), 64, 0x104).text, "h");
    EXPECT_EQ(toText(table(), KVariant(2), info(), 64, 1).length, 5u);
    EXPECT_EQ(toText(table(), KVariant(2), info(), 64, 3).result, RESULT_NOT_SUPPORTED);
    EXPECT_EQ(toText(table(), KVariant(3), info()).result, RESULT_OUT_OF_RANGE);
    EXPECT_EQ(toText(table(), KVariant(2), info(), 4, 1).result, RESULT_BUFFER_TOO_SMALL);
    EXPECT_EQ(toText(table(), KVariant(2), info(), 5, 1).text, "High");
    // A text value stands for its index.
    EXPECT_EQ(toText(table(), KVariant("HI", 1024), info(), 64, 1).text, "High");
    EXPECT_EQ(toText(table(), KVariant("nope", 1024), info(), 64, 1).result, RESULT_BAD_ARGUMENT);
    const u8 bytes[1] = {1};
    EXPECT_EQ(toText(table(), KVariant(bytes, 1u), info(), 64, 1).result, RESULT_OUT_OF_RANGE);
}

TEST(StringTableExpression, TextToValueAndTableTexts)
{
    KVariant out;
    EXPECT_EQ(table().textToValue(&out, "mid", 4, info()), RESULT_OK);
    EXPECT_EQ(out.getKind(), KVariant::KIND_UINT32);
    EXPECT_EQ(out.getUInt(), 1u);
    EXPECT_EQ(table().textToValue(&out, "hix", 2, info()), RESULT_OK);
    EXPECT_EQ(out.getUInt(), 2u);
    EXPECT_EQ(table().textToValue(&out, "x", 2, info()), RESULT_BAD_ARGUMENT);
    EXPECT_EQ(table().textToValue(&out, "", 1, info()), RESULT_BAD_ARGUMENT);
    EXPECT_EQ(table().textToValue(&out, "Low", 0, info()), RESULT_BAD_ARGUMENT);

    u32 count = 0;
    u32 longest = 0;
    EXPECT_EQ(table().getTableInfo(&count, &longest, 1), RESULT_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(longest, 4u);
    EXPECT_EQ(table().getTableInfo(&count, &longest, 2), RESULT_OK);
    EXPECT_EQ(longest, 3u);

    char buffer[8];
    u32 length = 0;
    EXPECT_EQ(table().getTableText(buffer, &length, sizeof(buffer), 2, 4), RESULT_OK);
    EXPECT_STREQ(buffer, "h");
    EXPECT_EQ(length, 1u);
    EXPECT_EQ(table().getTableText(buffer, &length, 4, 2, 1), RESULT_BUFFER_TOO_SMALL);
    EXPECT_EQ(table().getTableText(buffer, &length, sizeof(buffer), 3, 1), RESULT_OUT_OF_RANGE);
}

TEST(StringTableExpression, NormalizedAndPositions)
{
    u32 n = 0;
    const u32 expected[] = {30, 180, 330, 330, 330};
    for (i32 index = 0; index < 5; ++index) {
        ASSERT_EQ(table().valueToNormalized(&n, KVariant(index), info()), RESULT_OK);
        EXPECT_EQ(n, expected[index]) << index;
    }
    KVariant out;
    n = 180;
    EXPECT_EQ(table().normalizedToValue(&out, &n, info()), RESULT_OK);
    EXPECT_EQ(textOf(out), "Mid");
    n = 1000;
    EXPECT_EQ(table().normalizedToValue(&out, &n, info()), RESULT_OK);
    EXPECT_EQ(textOf(out), "hi");
    n = 0;
    EXPECT_EQ(table().normalizedToValue(&out, &n, info()), RESULT_OK);
    EXPECT_EQ(textOf(out), "lo");

    u32 p = 0;
    EXPECT_EQ(table().valueToPosition(&p, 5, KVariant(1), info()), RESULT_OK);
    EXPECT_EQ(p, 2u);
    EXPECT_EQ(table().valueToPosition(&p, 5, KVariant(3), info()), RESULT_OK);
    EXPECT_EQ(p, 5u);
    EXPECT_EQ(table().valueToPosition(&p, 0, KVariant(1), info()), RESULT_BAD_ARGUMENT);
    u32 position = 2;
    EXPECT_EQ(table().positionToValue(&out, &position, 5, info()), RESULT_OK);
    EXPECT_EQ(out.getKind(), KVariant::KIND_UINT32);
    EXPECT_EQ(out.getUInt(), 1u);
    position = 4;
    EXPECT_EQ(table().positionToValue(&out, &position, 5, info()), RESULT_OK);
    EXPECT_EQ(out.getUInt(), 2u);
    EXPECT_EQ(table().positionToValue(&out, &position, 1, info()), RESULT_BAD_ARGUMENT);

    // A one-entry table has no division by zero.
    const StringTableExpression single(TABLE, 1, 30, 330);
    EXPECT_EQ(single.valueToNormalized(&n, KVariant(0), info()), RESULT_OK);
    EXPECT_EQ(n, 30u);
    EXPECT_EQ(single.valueToPosition(&p, 10, KVariant(0), info()), RESULT_OK);
    EXPECT_EQ(p, 0u);
    const StringTableExpression flat(TABLE, 3, 100, 100);
    n = 100;
    EXPECT_EQ(flat.normalizedToValue(&out, &n, info()), RESULT_BAD_ARGUMENT);
}

TEST(StringTableExpression, IndicesAndSteps)
{
    KVariant out;
    EXPECT_EQ(table().indexToValue(&out, 2, info()), RESULT_OK);
    EXPECT_EQ(out.getUInt(), 2u);
    EXPECT_EQ(table().indexToValue(&out, 3, info()), RESULT_OUT_OF_RANGE);
    EXPECT_EQ(table().indexToValue(&out, 2, makeInfo(0, 2, 1)), RESULT_OUT_OF_RANGE); // max is exclusive
    u32 index = 0;
    EXPECT_EQ(table().valueToIndex(&index, KVariant("m", 1024), info()), RESULT_OK);
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(table().valueToIndex(&index, KVariant(2), makeInfo(0, 2, 1)), RESULT_OUT_OF_RANGE);

    EXPECT_EQ(table().stepValue(&out, KVariant("low", 1024), info(), 1, 1, 0), RESULT_OK);
    EXPECT_EQ(textOf(out), "Mid");
    EXPECT_EQ(table().stepValue(&out, KVariant(1), info(), INT_MAX, 1, 0), RESULT_OK);
    EXPECT_EQ(textOf(out), "hi");
    EXPECT_EQ(table().stepValue(&out, KVariant(2), info(), INT_MIN, 1, 0), RESULT_OK);
    EXPECT_EQ(textOf(out), "lo");
    EXPECT_EQ(table().getStepCount(info(), 0), 3u);
}

TEST(StringTableExpression, WithoutATable)
{
    const StringTableExpression& none = *getStringExpression();
    EXPECT_EQ(none.getCount(), 0u);
    EXPECT_EQ(toText(none, KVariant(0), info()).result, RESULT_OUT_OF_RANGE);
    EXPECT_EQ(toText(none, KVariant(5), makeInfo(0, 10, 1)).result, RESULT_OUT_OF_RANGE);
    u32 count = 7;
    EXPECT_EQ(none.getTableInfo(&count, nullptr, 1), RESULT_NOT_SUPPORTED);
    EXPECT_EQ(count, 0u);
    KVariant out(77);
    EXPECT_EQ(none.textToValue(&out, "x", 2, info()), RESULT_NO_TABLE);
    u32 n = 180;
    EXPECT_EQ(none.normalizedToValue(&out, &n, info()), RESULT_NO_TABLE);
    u32 position = 1;
    EXPECT_EQ(none.positionToValue(&out, &position, 5, info()), RESULT_NO_TABLE);
    EXPECT_EQ(out.getInt(), 77);

    // A table with count 0 is no table; a null table has count 0.
    const StringTableExpression zero(TABLE, 0, 30, 330);
    EXPECT_EQ(zero.getTableInfo(&count, nullptr, 1), RESULT_NOT_SUPPORTED);
    const StringTableExpression null(nullptr, 3, 30, 330);
    EXPECT_EQ(null.getCount(), 0u);
}

TEST(ExpressionCollection, NameIds)
{
    ExpressionCollection c;
    EXPECT_EQ(c.findNameId("OnOff"), 0x2BC87A04u);
    EXPECT_EQ(c.registerName("OnOff"), 0x2BC87A04u);
    EXPECT_EQ(c.registerName("Level"), 0x5B2BE317u);
    EXPECT_EQ(c.registerName("String"), 0x9912B79Fu);
    EXPECT_EQ(c.registerName(""), 0u);
    EXPECT_EQ(c.registerName(nullptr), 0u);
    EXPECT_EQ(c.registerName("Level"), 0x5B2BE317u);

    // Two names with the same CRC-32.
    ExpressionCollection clash;
    EXPECT_EQ(clash.findNameId("buckeroo"), 0x4DDB0C25u);
    EXPECT_EQ(clash.findNameId("buckeroo"), 0x4DDB0C25u); // nothing was recorded
    EXPECT_EQ(clash.registerName("plumless"), 0x4DDB0C25u);
    EXPECT_EQ(clash.findNameId("buckeroo"), 0x4DDB0C26u);
    EXPECT_EQ(clash.registerName("buckeroo"), 0x4DDB0C26u);
    EXPECT_EQ(clash.findNameId("plumless"), 0x4DDB0C25u);
    EXPECT_EQ(clash.findNameId("buckeroo"), 0x4DDB0C26u);
}

TEST(ExpressionCollection, ExpressionsByName)
{
    ExpressionCollection c;
    EXPECT_EQ(c.addExpression(c.registerName(""), getDefaultExpression()), RESULT_OK);
    EXPECT_EQ(c.addExpression(c.registerName(ONOFF_NAME), getOnOffExpression()), RESULT_OK);
    EXPECT_EQ(c.addExpression(c.registerName(LEVEL_NAME), getLevelExpression()), RESULT_OK);
    EXPECT_EQ(c.addExpression(c.registerName(STRING_NAME), getStringExpression()), RESULT_OK);
    EXPECT_EQ(c.addExpression(c.findNameId(LEVEL_NAME), getDefaultExpression()), RESULT_FAILED);
    EXPECT_EQ(c.addExpression(12345, nullptr), RESULT_FAILED);
    EXPECT_EQ(c.getCount(), 4u);
    EXPECT_EQ(c.getExpression(c.findNameId("Level")), getLevelExpression());
    EXPECT_EQ(c.getExpression(0), getDefaultExpression());
    EXPECT_EQ(c.getExpression(c.findNameId("Unknown")), nullptr);

    EXPECT_EQ(c.clear(), RESULT_OK);
    EXPECT_EQ(c.getCount(), 0u);
    EXPECT_EQ(c.getExpression(0x5B2BE317u), nullptr);
    EXPECT_EQ(c.findNameId("Level"), 0x5B2BE317u); // names stay
}
