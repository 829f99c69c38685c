#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "klib_Codec.h"

namespace {

const unsigned char* bytes(const char* text)
{
    return reinterpret_cast<const unsigned char*>(text);
}

std::string encode(const std::string& in, i32 variant, u32* outLength = nullptr)
{
    char out[256];
    u32 length = 0;
    EXPECT_EQ(0u,
              klib_base64EncodeEx(out, &length, sizeof(out), bytes(in.data()), static_cast<u32>(in.size()), variant));
    if (outLength != nullptr) {
        *outLength = length;
    }
    return out;
}

std::string md5Hex(const unsigned char* data, u32 length, u32 split)
{
    KlibMd5Context ctx;
    klib_md5Init(&ctx);
    const u32 first = split < length ? split : length;
    klib_md5Update(&ctx, data, first);
    klib_md5Update(&ctx, data + first, length - first);
    unsigned char digest[16];
    klib_md5Final(digest, &ctx);
    char hex[33];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    }
    return hex;
}

} // namespace

TEST(Base64, EncodesRfcVectorsWithRequiredSize)
{
    const char* plain[] = {"f", "fo", "foo", "foob", "fooba", "foobar", "Man", "M"};
    const char* coded[] = {"Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy", "TWFu", "TQ=="};
    for (size_t i = 0; i < std::size(plain); ++i) {
        u32 length = 0;
        EXPECT_EQ(coded[i], encode(plain[i], 0, &length));
        EXPECT_EQ(std::strlen(coded[i]) + 1, length);
        EXPECT_EQ(length, klib_base64EncodedSize(bytes(plain[i]), static_cast<u32>(std::strlen(plain[i]))));
    }
    EXPECT_EQ(5u, klib_base64EncodedSize(bytes("abcd"), 1));
    EXPECT_EQ(5u, klib_base64EncodedSize(bytes("abcd"), 2));
    EXPECT_EQ(5u, klib_base64EncodedSize(bytes("abcd"), 3));
    EXPECT_EQ(9u, klib_base64EncodedSize(bytes("abcd"), 4));
    EXPECT_EQ(0u, klib_base64EncodedSize(nullptr, 4));
    EXPECT_EQ(0u, klib_base64EncodedSize(bytes("a"), 0));
}

TEST(Base64, VariantsLineBreaksAndUrlAlphabet)
{
    const std::string line57(57, 'A');
    u32 length = 0;
    const std::string one = encode(line57, 1, &length);
    EXPECT_EQ(76u, one.size());
    EXPECT_EQ(std::string::npos, one.find('\r'));
    const std::string two = encode(line57 + "B", 1, &length);
    ASSERT_EQ(76u + 2 + 4, two.size());
    EXPECT_EQ("\r\n", two.substr(76, 2));
    EXPECT_EQ(two.size() + 1, length);

    const unsigned char fbff[] = {0xFB, 0xFF};
    char out[8];
    std::memset(out, 'Z', sizeof(out));
    ASSERT_EQ(0u, klib_base64EncodeEx(out, &length, sizeof(out), fbff, 2, 2));
    EXPECT_STREQ("-_8", out);
    EXPECT_EQ('\0', out[4]);
    EXPECT_EQ(5u, length);
    ASSERT_EQ(0u, klib_base64EncodeEx(out, &length, sizeof(out), fbff, 2, 0));
    EXPECT_STREQ("+/8=", out);
    ASSERT_EQ(0u, klib_base64EncodeEx(out, &length, sizeof(out), fbff, 2, 77)); // unknown variant: standard
    EXPECT_STREQ("+/8=", out);
}

TEST(Base64, EncodeRefusals)
{
    char out[8];
    u32 length = 7;
    EXPECT_EQ(0x80000003u, klib_base64Encode(out, &length, 4, bytes("Man"), 3));
    EXPECT_EQ(0x80000001u, klib_base64Encode(nullptr, &length, 8, bytes("Man"), 3));
    EXPECT_EQ(0x80000001u, klib_base64Encode(out, &length, 0, bytes("Man"), 3));
    EXPECT_EQ(0x80000001u, klib_base64Encode(out, &length, 8, nullptr, 3));
    out[0] = 'x';
    EXPECT_EQ(0u, klib_base64Encode(out, &length, 8, bytes("Man"), 0));
    EXPECT_EQ('\0', out[0]);
    EXPECT_EQ(0u, length);
}

TEST(Base64, DecodesTrueLengthsAndReportsErrors)
{
    unsigned char out[16];
    u32 length = 0;
    const char* coded[] = {"Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy", "TWE="};
    const char* plain[] = {"f", "fo", "foo", "foob", "fooba", "foobar", "Ma"};
    for (size_t i = 0; i < std::size(coded); ++i) {
        std::memset(out, 0xEE, sizeof(out)); // output need not be zeroed
        ASSERT_EQ(0u, klib_base64Decode(out, &length, sizeof(out), coded[i], static_cast<u32>(std::strlen(coded[i]))));
        EXPECT_EQ(std::strlen(plain[i]), length) << coded[i];
        EXPECT_EQ(0, std::memcmp(out, plain[i], length)) << coded[i];
    }
    // Exactly sized output succeeds; one byte less does not.
    EXPECT_EQ(0u, klib_base64Decode(out, &length, 3, "TWFu", 4));
    EXPECT_EQ(3u, length);
    EXPECT_EQ(0x80000003u, klib_base64Decode(out, &length, 2, "TWFu", 4));
    EXPECT_EQ(0x80000002u, klib_base64Decode(out, &length, sizeof(out), "TW*u", 4));
    EXPECT_EQ(0x80000002u, klib_base64Decode(out, &length, sizeof(out), "TWFu-_", 6));
    EXPECT_EQ(0x80000001u, klib_base64Decode(out, &length, sizeof(out), nullptr, 4));
    length = 9;
    EXPECT_EQ(0u, klib_base64Decode(out, &length, sizeof(out), nullptr, 0));
    EXPECT_EQ(0u, length);
    // "=" ends the input: what follows is not read.
    EXPECT_EQ(0u, klib_base64Decode(out, &length, sizeof(out), "TQ==garbage*", 12));
    EXPECT_EQ(1u, length);
}

TEST(Base64, RandomRoundTripsStayInsideTheirBuffers)
{
    std::mt19937 rng(42);
    for (u32 n = 0; n <= 300; ++n) {
        std::vector<unsigned char> data(n);
        for (auto& b : data) {
            b = static_cast<unsigned char>(rng());
        }
        const u32 needed = n == 0 ? 1 : klib_base64EncodedSize(data.data(), n);
        std::vector<char> text(needed + 8, 'G');
        u32 length = 0;
        ASSERT_EQ(0u, klib_base64Encode(text.data(), &length, needed, data.data(), n));
        for (u32 i = needed; i < text.size(); ++i) {
            ASSERT_EQ('G', text[i]) << "encoder wrote past outSize for " << n;
        }
        std::vector<unsigned char> back(n + 8, 0xA5);
        u32 decoded = 0;
        ASSERT_EQ(0u,
                  klib_base64Decode(back.data(), &decoded, n, text.data(), static_cast<u32>(std::strlen(text.data()))));
        ASSERT_EQ(n, decoded);
        ASSERT_TRUE(n == 0 || std::memcmp(back.data(), data.data(), n) == 0);
        for (u32 i = n; i < back.size(); ++i) {
            ASSERT_EQ(0xA5, back[i]) << "decoder wrote past outSize for " << n;
        }
        if (n > 0) {
            ASSERT_EQ(0x80000003u, klib_base64Decode(back.data(), &decoded, n - 1, text.data(),
                                                     static_cast<u32>(std::strlen(text.data()))));
            ASSERT_EQ(0xA5, back[n]);
        }
    }
}

TEST(Crc32, MatchesCheckValueAndZlib)
{
    EXPECT_EQ(0xCBF43926u, klib_crc32("123456789", 9));
    EXPECT_EQ(0u, klib_crc32("", 0));
    EXPECT_EQ(0u, klib_crc32(nullptr, 5));
    EXPECT_EQ(0x1234u, klib_crc32Update(0x1234u, nullptr, 5));

    std::mt19937 rng(1);
    std::vector<unsigned char> data(4096);
    for (auto& b : data) {
        b = static_cast<unsigned char>(rng());
    }
    for (u32 n = 0; n <= 4096; n += 1 + n / 7) {
        const u32 expected = static_cast<u32>(crc32(0L, data.data(), n));
        ASSERT_EQ(expected, klib_crc32(data.data(), n)) << n;
        const u32 split = n == 0 ? 0 : static_cast<u32>(rng() % (n + 1));
        ASSERT_EQ(expected, klib_crc32Update(klib_crc32(data.data(), split), data.data() + split, n - split)) << n;
    }
    // Every start alignment and lengths around the 16-byte steps and the 384-byte blocks of three lanes, also
    // continued from a running CRC.
    std::vector<u32> lengths;
    for (u32 n = 0; n <= 80; ++n) {
        lengths.push_back(n);
    }
    for (const u32 n : {383u, 384u, 385u, 399u, 400u, 401u, 767u, 768u, 769u, 1151u, 1152u, 1153u, 2000u}) {
        lengths.push_back(n);
    }
    for (u32 offset = 0; offset < 16; ++offset) {
        for (const u32 n : lengths) {
            const unsigned char* p = data.data() + offset;
            ASSERT_EQ(static_cast<u32>(crc32(0L, p, n)), klib_crc32(p, n)) << offset << "/" << n;
            const u32 start = klib_crc32(data.data() + 100, 7);
            ASSERT_EQ(static_cast<u32>(crc32(start, p, n)), klib_crc32Update(start, p, n)) << offset << "/" << n;
        }
    }
    std::vector<unsigned char> big(1u << 20);
    for (auto& b : big) {
        b = static_cast<unsigned char>(rng());
    }
    EXPECT_EQ(static_cast<u32>(crc32(0L, big.data() + 3, static_cast<uInt>(big.size() - 3))),
              klib_crc32(big.data() + 3, static_cast<u32>(big.size() - 3)));
}

TEST(Md5, RfcSuiteAndSplitUpdates)
{
    struct Case
    {
        const char* text;
        const char* hex;
    };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Case& c : cases) {
        const u32 n = static_cast<u32>(std::strlen(c.text));
        for (const u32 split : {0u, 1u, 55u, 56u, 63u, 64u, 65u}) {
            EXPECT_EQ(c.hex, md5Hex(bytes(c.text), n, split)) << c.text << " split " << split;
        }
    }
    // Longer input across many blocks, split anywhere, equals the one-shot digest.
    std::vector<unsigned char> data(1000);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<unsigned char>(i * 7 + 3);
    }
    const std::string whole = md5Hex(data.data(), 1000, 1000);
    for (const u32 split : {1u, 55u, 56u, 63u, 64u, 65u, 500u}) {
        EXPECT_EQ(whole, md5Hex(data.data(), 1000, split));
    }
    KlibMd5Context ctx;
    klib_md5Init(&ctx);
    klib_md5Update(&ctx, bytes("abc"), 3);
    unsigned char digest[16];
    klib_md5Final(digest, &ctx);
    const KlibMd5Context zero{};
    EXPECT_EQ(0, std::memcmp(&ctx, &zero, sizeof(ctx))) << "context is wiped";
}

TEST(Versions, PackAndPrint)
{
    u32 v = 0;
    char text[16];
    ASSERT_EQ(0u, klib_makeVersion(&v, 1, 1, 2, 3, 'b'));
    EXPECT_EQ(0x56011701u, v);
    EXPECT_EQ(0u, klib_versionToString(text, sizeof(text), v));
    EXPECT_STREQ("V1.23b", text);
    ASSERT_EQ(0u, klib_makeVersion(&v, 1, 1, 2, 3, 'A'));
    EXPECT_EQ(0u, klib_versionToString(text, sizeof(text), v));
    EXPECT_STREQ("V1.23", text);
    ASSERT_EQ(0u, klib_makeVersion(&v, 0, 255, 9, 9, 'z'));
    EXPECT_EQ(0u, klib_versionToString(text, sizeof(text), v));
    EXPECT_STREQ("R255.99z", text);
    ASSERT_EQ(0u, klib_makeVersion(&v, 0, 1, 2, 3, 'b'));
    klib_versionToString(text, sizeof(text), v);
    EXPECT_STREQ("R1.23b", text);

    v = 0x1234;
    EXPECT_EQ(0x80000000u, klib_makeVersion(&v, 1, 1, 10, 3, 'b'));
    EXPECT_EQ(0u, v);
    EXPECT_EQ(0x80000000u, klib_makeVersion(&v, 2, 1, 1, 3, 'b'));
    EXPECT_EQ(0x80000000u, klib_makeVersion(&v, 1, 256, 1, 3, 'b'));
    EXPECT_EQ(0x80000000u, klib_makeVersion(&v, 1, 1, 1, 10, 'b'));
    EXPECT_EQ(0x80000000u, klib_makeVersion(&v, 1, 1, 1, 1, '1'));
    EXPECT_EQ(0x80000000u, klib_makeVersion(nullptr, 1, 1, 1, 1, 'a'));

    EXPECT_EQ(0x80000000u, klib_versionToString(text, sizeof(text), 0));
    EXPECT_STREQ("V?.???", text);
    EXPECT_EQ(0x80000000u, klib_versionToString(text, sizeof(text), 0x56016401u)); // middle 100
    EXPECT_EQ(0x80000000u, klib_versionToString(text, sizeof(text), 0x5601171Au)); // letter index 26
    EXPECT_EQ(0u, klib_versionToString(text, 4, 0x56011701u));                     // bounded by size
    EXPECT_STREQ("V1.", text);
}

TEST(CharacterClasses, AsciiOnly)
{
    for (const i32 c : {-1, 0, 127, 128, 255, 0x141, 0x161, 0x139}) {
        EXPECT_EQ(0, klib_isAlpha(c)) << c;
        EXPECT_EQ(0, klib_isDigit(c)) << c;
        EXPECT_EQ(0, klib_isXDigit(c)) << c;
        EXPECT_EQ(0, klib_isLower(c)) << c;
        EXPECT_EQ(0, klib_isSpace(c)) << c;
        EXPECT_EQ(0, klib_isBlank(c)) << c;
        EXPECT_EQ(c, klib_toLower(c)) << c;
        EXPECT_EQ(c, klib_toUpper(c)) << c;
    }
    EXPECT_NE(0, klib_isAlpha('Q'));
    EXPECT_NE(0, klib_isLower('q'));
    EXPECT_EQ(0, klib_isLower('Q'));
    EXPECT_NE(0, klib_isBlank('\t'));
    EXPECT_EQ(0, klib_isBlank('\n'));
    EXPECT_NE(0, klib_isSpace('\r'));
    EXPECT_NE(0, klib_isSpace('\v'));
    EXPECT_NE(0, klib_isXDigit('F'));
    EXPECT_EQ(0, klib_isXDigit('g'));
    EXPECT_EQ('a', klib_toLower('A'));
    EXPECT_EQ('Z', klib_toUpper('z'));
    EXPECT_EQ('[', klib_toLower('['));
}
