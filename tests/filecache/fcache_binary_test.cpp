// Byte helpers for binary records.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "fcache_BinaryAccessor.h"

namespace BA = FILECACHE::BinaryAccessor;

namespace {

template <size_t N> std::string bytes(const std::array<u8, N>& a)
{
    return std::string(reinterpret_cast<const char*>(a.data()), N);
}

} // namespace

TEST(BinaryAccessor, ReadsAndWritesBothByteOrders)
{
    const u8 raw[] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(BA::readUInt(raw, 4, true), 0x12345678u);
    EXPECT_EQ(BA::readUInt(raw, 4, false), 0x78563412u);
    EXPECT_EQ(BA::readUInt(raw, 2, true), 0x1234u);
    EXPECT_EQ(BA::readUInt(raw, 2, false), 0x3412u);
    EXPECT_EQ(BA::readUInt(raw, 1, false), 0x12u);
    for (const u32 width : {0u, 3u, 8u}) {
        EXPECT_EQ(BA::readUInt(raw, width, true), 0u) << width;
    }
    EXPECT_EQ(BA::readUInt(nullptr, 4, true), 0u);

    std::array<u8, 6> out{};
    out.fill(0xEE);
    EXPECT_EQ(BA::writeUInt(out.data() + 1, 4, 0xA1B2C3D4u, true), 0);
    EXPECT_EQ(bytes(out), bytes(std::array<u8, 6>{0xEE, 0xA1, 0xB2, 0xC3, 0xD4, 0xEE}));
    EXPECT_EQ(BA::writeUInt(out.data() + 1, 4, 0xA1B2C3D4u, false), 0);
    EXPECT_EQ(bytes(out), bytes(std::array<u8, 6>{0xEE, 0xD4, 0xC3, 0xB2, 0xA1, 0xEE}));
    EXPECT_EQ(BA::writeUInt(out.data(), 2, 0xFFFF0102u, true), 0);
    EXPECT_EQ(BA::readUInt(out.data(), 2, true), 0x0102u);
    EXPECT_EQ(BA::writeUInt(out.data(), 1, 0x1FFu, true), 0);
    EXPECT_EQ(out[0], 0xFF);

    const auto before = out;
    EXPECT_EQ(BA::writeUInt(out.data(), 3, 0x11223344u, true), 0);
    EXPECT_EQ(out, before) << "width 3 writes nothing";
    EXPECT_EQ(BA::writeUInt(nullptr, 4, 1, true), BA::kFailed);

    for (const u32 value : {0u, 1u, 0x80u, 0x8000u, 0x80000000u, 0xFFFFFFFFu, 0x01020304u}) {
        for (const bool big : {true, false}) {
            u8 buf[4];
            ASSERT_EQ(BA::writeUInt(buf, 4, value, big), 0);
            EXPECT_EQ(BA::readUInt(buf, 4, big), value);
        }
    }
}

TEST(BinaryAccessor, TextAndByteFieldsAreFilledCompletely)
{
    std::array<u8, 12> field{};
    field.fill(0xAA);
    EXPECT_EQ(BA::copyText(field.data(), 12, "Backup"), 0);
    EXPECT_EQ(bytes(field), std::string("Backup\0\0\0\0\0\0", 12));

    std::array<u8, 16> full{};
    EXPECT_EQ(BA::copyText(full.data(), 16, "0123456789abcdefXYZ"), 0);
    EXPECT_EQ(bytes(full), "0123456789abcdef") << "cut without terminator";

    field.fill(0xAA);
    EXPECT_EQ(BA::copyText(field.data(), 12, nullptr), 0);
    EXPECT_EQ(bytes(field), std::string(12, '\0'));
    EXPECT_EQ(BA::copyText(nullptr, 12, "x"), BA::kFailed);
    EXPECT_EQ(BA::copyText(field.data(), 0, "x"), BA::kFailed);

    field.fill(0xAA);
    EXPECT_EQ(BA::copyBytes(field.data(), 8, "ab\0c", 4), 0);
    EXPECT_EQ(bytes(field), std::string("ab\0c\0\0\0\0\xAA\xAA\xAA\xAA", 12)) << "only the field is touched";
    const auto before = field;
    EXPECT_EQ(BA::copyBytes(field.data(), 3, "abcd", 4), BA::kFailed);
    EXPECT_EQ(field, before);
    EXPECT_EQ(BA::copyBytes(field.data(), 4, nullptr, 2), BA::kFailed);
    EXPECT_EQ(BA::copyBytes(field.data(), 4, "ab", 0), BA::kFailed);
    EXPECT_EQ(BA::copyBytes(field.data(), 0, "ab", 2), BA::kFailed);

    char text[5];
    std::memset(text, 'Z', sizeof text);
    EXPECT_EQ(BA::copyBounded(text, 5, "abcdefgh", 8), 0);
    EXPECT_EQ(std::string(text, 5), std::string("abcd\0", 5));
    EXPECT_EQ(BA::copyBounded(text, 5, "xyz", 2), 0);
    EXPECT_EQ(std::string(text, 3), std::string("xy\0", 3));
    EXPECT_EQ(BA::copyBounded(text, 1, "xyz", 3), 0);
    EXPECT_EQ(text[0], '\0');
    EXPECT_EQ(BA::copyBounded(text, 5, "xyz", 0), BA::kFailed);
    EXPECT_EQ(BA::copyBounded(text, 0, "xyz", 3), BA::kFailed);
    EXPECT_EQ(BA::copyBounded(nullptr, 5, "xyz", 3), BA::kFailed);
}

TEST(BinaryAccessor, FillXorAndAlignment)
{
    std::array<u8, 8> data{1, 2, 3, 4, 5, 6, 7, 8};
    const auto original = data;
    EXPECT_EQ(BA::xorBytes(data.data(), 8, 0), 0);
    EXPECT_EQ(data, original);
    EXPECT_EQ(BA::xorBytes(data.data(), 8, 0x5A), 0);
    EXPECT_EQ(data[0], 1 ^ 0x5A);
    EXPECT_EQ(data[7], 8 ^ 0x5A);
    EXPECT_EQ(BA::xorBytes(data.data(), 8, 0x5A), 0);
    EXPECT_EQ(data, original);
    EXPECT_EQ(BA::xorBytes(nullptr, 8, 1), BA::kFailed);
    EXPECT_EQ(BA::xorBytes(data.data(), 0, 1), BA::kFailed);

    EXPECT_EQ(BA::fillBytes(data.data() + 2, 4, 0xC3), 0);
    EXPECT_EQ(bytes(data), bytes(std::array<u8, 8>{1, 2, 0xC3, 0xC3, 0xC3, 0xC3, 7, 8}));
    EXPECT_EQ(BA::fillBytes(data.data(), 0, 1), BA::kFailed);
    EXPECT_EQ(BA::fillBytes(nullptr, 1, 1), BA::kFailed);

    const u32 in[] = {0, 1, 4, 5, 7, 8};
    const u32 aligned[] = {0, 4, 4, 8, 8, 8};
    const u32 padding[] = {0, 3, 0, 3, 1, 0};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(BA::align4(in[i]), aligned[i]) << in[i];
        EXPECT_EQ(BA::padding4(in[i]), padding[i]) << in[i];
    }
    EXPECT_EQ(BA::align4U64(0xFFFFFFFDull), 0x100000000ull);
    EXPECT_EQ(BA::padding4U64(0xFFFFFFFDull), 3ull);
    EXPECT_EQ(BA::align4U64(0xFFFFFFFCull), 0xFFFFFFFCull);
}
