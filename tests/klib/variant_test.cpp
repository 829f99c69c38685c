#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "klib_HeapManager.h"
#include "klib_Variant.h"

namespace {

std::vector<u8> headerOf(const void* payload)
{
    const u8* h = static_cast<const u8*>(payload) - 8;
    return std::vector<u8>(h, h + 8);
}

TEST(KVariantTest, TextLimitsAndCut)
{
    const std::string thirty(30, 'x');
    KVariant v;
    EXPECT_EQ(v.setString(thirty.c_str(), 20), 0x10000u);
    EXPECT_EQ(std::string(v.getString()), std::string(20, 'x'));
    EXPECT_EQ(v.getSize(), 21u);

    const std::string max(1023, 'a');
    EXPECT_EQ(v.setString(max.c_str(), 1024), 0x10000u);
    EXPECT_EQ(std::string(v.getString()), max);
    EXPECT_EQ(v.getSize(), 1024u);

    const std::string tooLong(1024, 'b');
    EXPECT_EQ(v.setString(tooLong.c_str(), 1024), 0x80010001u);
    bool ok = false;
    EXPECT_STREQ(v.getString(&ok), "ERROR:");
    EXPECT_TRUE(ok);
    EXPECT_EQ(v.getSize(), 7u);
    EXPECT_EQ(v.getKind(), KVariant::KIND_STRING);

    // An over-long text cut by maxLength below the limit is fine.
    EXPECT_EQ(v.setString(tooLong.c_str(), 100), 0x10000u);
    EXPECT_EQ(v.getSize(), 101u);

    EXPECT_EQ(v.setString(nullptr, 5), 0x10000u);
    EXPECT_STREQ(v.getString(), "");
    EXPECT_EQ(v.getSize(), 1u);
    EXPECT_EQ(v.getStringSize(&ok), 1u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(v.getBinarySize(&ok), 0u);
    EXPECT_FALSE(ok);
}

TEST(KVariantTest, BinaryArgumentsAndLimits)
{
    const u8 bytes[3] = {0xAA, 0xBB, 0xCC};
    KVariant v(5);
    EXPECT_EQ(v.setBinary(bytes, 0), 0x80010001u);
    EXPECT_EQ(v.getKind(), KVariant::KIND_EMPTY);
    EXPECT_EQ(v.setBinary(nullptr, 3), 0x80010001u);
    EXPECT_EQ(v.setBinary(bytes, 0xFFFFFFFC), 0x80010001u);
    EXPECT_FALSE(v.isValid());

    std::vector<u8> big(0xFFFFFC, 0x5A);
    EXPECT_EQ(v.setBinary(big.data(), 0xFFFFFC), 0x80010002u);
    EXPECT_FALSE(v.isValid());
    EXPECT_EQ(v.setBinary(big.data(), 0xFFFFFB), 0x10000u);
    EXPECT_EQ(v.getSize(), 0xFFFFFBu);
    const void* payload = static_cast<const u8*>(v.getBinary()) - 4;
    EXPECT_EQ(headerOf(payload), (std::vector<u8>{0, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
    EXPECT_EQ(std::memcmp(v.getBinary(), big.data(), big.size() - 1), 0);
}

TEST(KVariantTest, StorageBytes)
{
    KVariant text;
    text.setString("abc", 1024);
    EXPECT_EQ(headerOf(text.getString()), (std::vector<u8>{0, 0, 0, 4, 0, 0, 0, 0}));
    EXPECT_EQ(std::memcmp(text.getString(), "abc\0", 4), 0);

    const u8 bytes[3] = {0xAA, 0xBB, 0xCC};
    KVariant bin(bytes, 3);
    const u8* payload = static_cast<const u8*>(bin.getBinary()) - 4;
    EXPECT_EQ(headerOf(payload), (std::vector<u8>{0, 0, 0, 7, 0, 0, 0, 0}));
    EXPECT_EQ(std::vector<u8>(payload, payload + 7), (std::vector<u8>{0, 0, 0, 3, 0xAA, 0xBB, 0xCC}));
}

TEST(KVariantTest, Getters)
{
    bool ok = true;
    KVariant f(2.5f);
    EXPECT_EQ(f.getInt(&ok), 0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(f.getFloat(&ok), 2.5f);
    EXPECT_TRUE(ok);

    KVariant u(0xFFFFFFFFu);
    EXPECT_EQ(u.getFloat(&ok), 4294967296.0f);
    EXPECT_EQ(u.getDouble(), 4294967295.0);
    EXPECT_EQ(u.getInt(&ok), -1);
    EXPECT_TRUE(ok);
    KVariant i(-3);
    EXPECT_EQ(i.getFloat(), -3.0f);
    EXPECT_EQ(i.getDouble(), -3.0);

    KVariant s("x");
    EXPECT_EQ(s.getInt(&ok), 0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(s.getBinary(&ok), nullptr);
    EXPECT_FALSE(ok);
    EXPECT_EQ(KVariant().getString(&ok), nullptr);
    EXPECT_FALSE(ok);
    EXPECT_EQ(KVariant().getSize(), 0u);
    EXPECT_EQ(KVariant(short(-2)).getInt(), -2);
}

// Representative values per kind (0 int, 1 uint, 2 text, 3 float, 4 binary, 5 empty).
std::vector<KVariant> valuesOf(i32 number, const char* text, u32 binarySize)
{
    static const u8 bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<KVariant> v;
    v.emplace_back(number);
    v.emplace_back(static_cast<u32>(number));
    v.emplace_back(text);
    v.emplace_back(static_cast<f32>(number));
    v.emplace_back(bytes, binarySize);
    v.emplace_back();
    return v;
}

TEST(KVariantTest, CrossKindComparisonTable)
{
    const auto a = valuesOf(2, "abc", 3);
    const auto same = valuesOf(2, "abc", 3);
    const auto b = valuesOf(5, "ab", 2); // larger numbers, shorter text and binary
    // Rows: this value's kind; columns: the other's kind.
    const bool equalTable[6][6] = {
        {1, 1, 0, 0, 0, 0}, {1, 1, 0, 0, 0, 0}, {0, 0, 1, 0, 0, 0},
        {1, 1, 0, 1, 0, 0}, {0, 0, 0, 0, 1, 0}, {0, 0, 0, 0, 0, 0},
    };
    const bool lessTable[6][6] = {
        {1, 1, 0, 0, 0, 0}, {1, 1, 0, 0, 0, 0}, {0, 0, 1, 0, 0, 0},
        {1, 1, 0, 1, 0, 0}, {0, 0, 0, 0, 1, 0}, {0, 0, 0, 0, 0, 0},
    };
    for (int r = 0; r < 6; ++r) {
        for (int c = 0; c < 6; ++c) {
            SCOPED_TRACE(testing::Message() << "row " << r << " column " << c);
            EXPECT_EQ(a[r] == same[c], equalTable[r][c]);
            EXPECT_EQ(a[r] != same[c], !equalTable[r][c]);
            EXPECT_EQ(a[r] < b[c], lessTable[r][c]);
            EXPECT_FALSE(a[r] == b[c]);
            // Nothing in a equals anything in b, so > is the complement of <.
            EXPECT_EQ(a[r] > b[c], !lessTable[r][c]);
            EXPECT_EQ(a[r] >= b[c], !lessTable[r][c]);
            EXPECT_EQ(a[r] <= b[c], static_cast<bool>(lessTable[r][c]));
        }
    }
    // Texts and binaries: the longer one is the lesser.
    EXPECT_TRUE(KVariant("abc") < KVariant("ab"));
    EXPECT_FALSE(KVariant("ab") < KVariant("abc"));
    EXPECT_FALSE(KVariant("abc") < KVariant("xyz"));
    EXPECT_FALSE(KVariant("xyz") < KVariant("abc"));
    EXPECT_FALSE(KVariant("abc") == KVariant("xyz"));
    EXPECT_TRUE(KVariant("abc") > KVariant("xyz"));
    // Signed and unsigned compare in this value's own signedness.
    EXPECT_TRUE(KVariant(-1) == KVariant(0xFFFFFFFFu));
    EXPECT_TRUE(KVariant(-1) < KVariant(1u));
    EXPECT_TRUE(KVariant(1u) < KVariant(-1));
    EXPECT_FALSE(KVariant(NAN) == KVariant(NAN));
    EXPECT_TRUE(KVariant(1.0f) == KVariant(1));
    EXPECT_FALSE(KVariant(1) == KVariant(1.0f));
    EXPECT_TRUE(KVariant(1) > KVariant(1.0f));
    EXPECT_FALSE(KVariant() == KVariant());
    EXPECT_TRUE(KVariant(4294967296.0f) == KVariant(0xFFFFFFFFu));
}

TEST(KVariantTest, CrossKindArithmeticTable)
{
    const auto a = valuesOf(2, "abc", 3);
    const auto b = valuesOf(5, "ab", 2);
    for (int r = 0; r < 6; ++r) {
        for (int c = 0; c < 6; ++c) {
            SCOPED_TRACE(testing::Message() << "row " << r << " column " << c);
            const KVariant sum = a[r] + b[c];
            const KVariant difference = a[r] - b[c];
            const bool integerOther = c == 0 || c == 1;
            const bool numericOther = integerOther || c == 3;
            switch (r) {
            case 0:
                EXPECT_EQ(sum.getKind(), 0u);
                EXPECT_EQ(sum.getInt(), integerOther ? 7 : 2);
                EXPECT_EQ(difference.getKind(), 0u);
                EXPECT_EQ(difference.getInt(), integerOther ? -3 : 2);
                break;
            case 1:
                EXPECT_EQ(sum.getKind(), 1u);
                EXPECT_EQ(sum.getUInt(), integerOther ? 7u : 2u);
                EXPECT_EQ(difference.getKind(), 1u);
                EXPECT_EQ(difference.getUInt(), integerOther ? 0xFFFFFFFDu : 2u);
                break;
            case 3:
                EXPECT_EQ(sum.getKind(), 3u);
                EXPECT_EQ(sum.getFloat(), numericOther ? 7.0f : 2.0f);
                EXPECT_EQ(difference.getKind(), 3u);
                EXPECT_EQ(difference.getFloat(), numericOther ? -3.0f : 2.0f);
                break;
            default:
                EXPECT_EQ(sum.getKind(), KVariant::KIND_EMPTY);
                EXPECT_EQ(difference.getKind(), KVariant::KIND_EMPTY);
                break;
            }
        }
    }
    EXPECT_EQ((KVariant(5) + KVariant(2.5f)).getKind(), 0u);
    EXPECT_EQ((KVariant(5) + KVariant(2.5f)).getInt(), 5);
    EXPECT_EQ((KVariant(2.5f) + KVariant(5)).getFloat(), 7.5f);
    const KVariant wrapped = KVariant(3u) - KVariant(5);
    EXPECT_EQ(wrapped.getKind(), 1u);
    EXPECT_EQ(wrapped.getUInt(), 0xFFFFFFFEu);
    EXPECT_EQ((KVariant(0x7FFFFFFF) + KVariant(1)).getInt(), static_cast<i32>(0x80000000u));
    EXPECT_EQ((KVariant(1.0f) - KVariant(0xFFFFFFFFu)).getFloat(), 1.0f - 4294967296.0f);
}

TEST(KVariantTest, MovedFromValuesReportNoStorage)
{
    KVariant text("hello");
    KVariant taken(std::move(text));
    EXPECT_STREQ(taken.getString(), "hello");
    bool ok = true;
    EXPECT_EQ(text.getKind(), KVariant::KIND_STRING);
    EXPECT_EQ(text.getString(&ok), nullptr);
    EXPECT_FALSE(ok);
    EXPECT_EQ(text.getSize(), 0u);

    const u8 bytes[2] = {9, 8};
    KVariant bin(bytes, 2);
    KVariant target(7);
    target = std::move(bin);
    EXPECT_EQ(target.getBinarySize(), 2u);
    EXPECT_EQ(bin.getKind(), KVariant::KIND_BINARY);
    EXPECT_EQ(bin.getBinary(&ok), nullptr);
    EXPECT_FALSE(ok);

    // A storage-less text copies as the empty text (its text counts as null).
    KVariant copy(5);
    copy = text;
    EXPECT_EQ(copy.getKind(), KVariant::KIND_STRING);
    EXPECT_STREQ(copy.getString(&ok), "");
    EXPECT_TRUE(ok);
    KVariant binCopy(bin);
    EXPECT_FALSE(binCopy.isValid());
    text.clear();
    EXPECT_EQ(text.getKind(), KVariant::KIND_EMPTY);
}

TEST(KVariantTest, CopiesAreDeepAndSelfAssignmentKeepsTheValue)
{
    KVariant text("payload");
    KVariant copy(text);
    EXPECT_NE(copy.getString(), text.getString());
    text.setInt(1); // releases the original block; the copy must stay readable
    EXPECT_STREQ(copy.getString(), "payload");

    KVariant assigned;
    assigned = copy;
    EXPECT_STREQ(assigned.getString(), "payload");
    EXPECT_TRUE(assigned == copy);

    KVariant& alias = assigned;
    assigned = alias;
    EXPECT_STREQ(assigned.getString(), "payload");

    const u8 bytes[4] = {1, 2, 3, 4};
    KVariant bin(bytes, 4);
    KVariant& binAlias = bin;
    bin = binAlias;
    bin = std::move(binAlias);
    ASSERT_EQ(bin.getBinarySize(), 4u);
    EXPECT_EQ(std::memcmp(bin.getBinary(), bytes, 4), 0);

    // Assigning over text releases it (ASan reports the leak otherwise).
    KVariant numeric;
    numeric = bin;
    numeric = 3.0f;
    EXPECT_EQ(numeric.getKind(), KVariant::KIND_FLOAT32);
}

TEST(KVariantTest, SettersAcceptTheValuesOwnStorage)
{
    // The source is read before the old block goes (a use after free under ASan otherwise).
    KVariant text("abcdef");
    EXPECT_EQ(text.setString(text.getString(), 3), 0x10000u);
    EXPECT_STREQ(text.getString(), "abc");
    EXPECT_EQ(text.setString(text.getString() + 1, 1024), 0x10000u);
    EXPECT_STREQ(text.getString(), "bc");

    const u8 bytes[5] = {9, 8, 7, 6, 5};
    KVariant bin(bytes, 5);
    EXPECT_EQ(bin.setBinary(static_cast<const u8*>(bin.getBinary()) + 2, 3), 0x10000u);
    ASSERT_EQ(bin.getBinarySize(), 3u);
    EXPECT_EQ(std::memcmp(bin.getBinary(), bytes + 2, 3), 0);
    // Refused input still empties the value.
    EXPECT_EQ(bin.setBinary(bin.getBinary(), 0), 0x80010001u);
    EXPECT_EQ(bin.getKind(), KVariant::KIND_EMPTY);
}

TEST(KVariantTest, AssignmentOverloadsOnLp64)
{
    KVariant v;
    v = 0x100000005UL;
    EXPECT_EQ(v.getKind(), KVariant::KIND_UINT32);
    EXPECT_EQ(v.getUInt(), 5u);
    v = -1L;
    EXPECT_EQ(v.getKind(), KVariant::KIND_INT32);
    EXPECT_EQ(v.getInt(), -1);
    v = static_cast<size_t>(0x1FFFFFFFFull);
    EXPECT_EQ(v.getKind(), KVariant::KIND_UINT32);
    EXPECT_EQ(v.getUInt(), 0xFFFFFFFFu);
    v = static_cast<std::uint64_t>(7);
    EXPECT_EQ(v.getKind(), KVariant::KIND_UINT32);
    v = static_cast<signed char>(-5);
    EXPECT_EQ(v.getKind(), KVariant::KIND_INT32);
    EXPECT_EQ(v.getInt(), -5);
    v = static_cast<unsigned char>(200);
    EXPECT_EQ(v.getKind(), KVariant::KIND_UINT32);
    EXPECT_EQ(v.getUInt(), 200u);
    v = static_cast<short>(-300);
    EXPECT_EQ(v.getInt(), -300);
    v = static_cast<unsigned short>(60000);
    EXPECT_EQ(v.getUInt(), 60000u);
}

TEST(KVariantTest, StorageGoesThroughTheTracedGlobalHeap)
{
    ASSERT_EQ(KLIB::setHeapTraceFlag(0, 1), 0u);
    testing::internal::CaptureStdout();
    {
        KVariant v("traced");
        const u8 b = 1;
        KVariant w(&b, 1);
    }
    const std::string out = testing::internal::GetCapturedStdout();
    KLIB::setHeapTraceFlag(0, 0);
    EXPECT_NE(out.find("GlobalHeapManager::new    > "), std::string::npos) << out;
    EXPECT_NE(out.find("= KVariant::m_Value.m_pString"), std::string::npos) << out;
    EXPECT_NE(out.find("= KVariant::m_Value.m_pBinary"), std::string::npos) << out;
    // Every block given was given back.
    size_t news = 0;
    size_t deletes = 0;
    for (size_t p = 0; (p = out.find("::new", p)) != std::string::npos; ++p) {
        ++news;
    }
    for (size_t p = 0; (p = out.find("::delete", p)) != std::string::npos; ++p) {
        ++deletes;
    }
    EXPECT_EQ(news, 2u);
    EXPECT_EQ(deletes, 2u);
}

} // namespace
