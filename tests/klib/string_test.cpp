#include <gtest/gtest.h>

#include <iconv.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "klib_String.h"

using KLIB::KString;
using KLIB::KUnicode;

namespace {

using Bytes = std::vector<unsigned char>;

KString<KUnicode> makeString(const std::vector<u32>& codePoints)
{
    KString<KUnicode> s;
    for (u32 c : codePoints) {
        s.push_back(KUnicode(c));
    }
    return s;
}

// Converts code points with glibc's iconv from UTF-32LE into `target`.
Bytes iconvConvert(const std::vector<u32>& codePoints, const char* target)
{
    iconv_t cd = iconv_open(target, "UTF-32LE");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    Bytes in;
    for (u32 c : codePoints) {
        for (int i = 0; i < 4; ++i) {
            in.push_back(static_cast<unsigned char>(c >> (8 * i)));
        }
    }
    Bytes out(codePoints.size() * 4 + 8);
    char* inPtr = reinterpret_cast<char*>(in.data());
    char* outPtr = reinterpret_cast<char*>(out.data());
    size_t inLeft = in.size();
    size_t outLeft = out.size();
    EXPECT_NE(iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft), static_cast<size_t>(-1));
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

TEST(KUnicodeTest, RangeAndSetters)
{
    EXPECT_EQ(KUnicode(0x110000).getValue(), 0xFFFDu);
    EXPECT_EQ(KUnicode(0x10FFFF).getValue(), 0x10FFFFu);
    EXPECT_EQ(KUnicode(0xFFFFFFFF).getValue(), 0xFFFDu);

    KUnicode c;
    EXPECT_EQ(c.setASCII(0x41), 0u);
    EXPECT_EQ(c.getValue(), 0x41u);
    EXPECT_EQ(c.setASCII(0x80), 0x80000003u);
    EXPECT_EQ(c.getValue(), 0xFFFDu);
    EXPECT_EQ(c.setChar('z'), 0u);
    EXPECT_EQ(c.getValue(), static_cast<u32>('z'));
    EXPECT_EQ(c.setChar(static_cast<char>(0xE9)), 0x80000007u);
    EXPECT_EQ(c.getValue(), 0xFFFDu);

    u32 used = 0;
    EXPECT_EQ(c.setUTF16Pair(0xD83D, 0xDE00, &used), 6u);
    EXPECT_EQ(c.getValue(), 0x1F600u);
    EXPECT_EQ(used, 2u);
    EXPECT_EQ(c.setUTF16Pair(0xDE00, 0xD83D, &used), 0u); // reversed order is no pair
    EXPECT_EQ(c.getValue(), 0xDE00u);
    EXPECT_EQ(used, 1u);

    EXPECT_EQ(KUnicode('Q').getLowerCase().getValue(), static_cast<u32>('q'));
    EXPECT_EQ(KUnicode(0xC9).getLowerCase().getValue(), 0xC9u); // only ASCII folds
    char ch = 0;
    EXPECT_EQ(KUnicode(0xE9).toASCII(&ch, '?'), 0x80000003u);
    EXPECT_EQ(ch, '?');
    unsigned char latin = 0;
    EXPECT_EQ(KUnicode(0xE9).toLatin1(&latin, '?'), 0u);
    EXPECT_EQ(latin, 0xE9);
    u16 first = 0;
    u16 second = 0;
    u32 count = 0;
    EXPECT_EQ(KUnicode(0x10FFFF).toUTF16(&first, &second, &count), 6u);
    EXPECT_EQ(first, 0xDBFF);
    EXPECT_EQ(second, 0xDFFF);
    EXPECT_EQ(count, 2u);
}

TEST(KUnicodeTest, ByteEncodings)
{
    unsigned char out[4] = {0x55, 0x55, 0x55, 0x55};
    u32 written = 99;
    EXPECT_EQ(KUnicode(0x20AC).toUTF8(out, 2, &written), 0x80000002u);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(out[0], 0x55);
    EXPECT_EQ(KUnicode(0x20AC).toUTF8(out, 3, &written), 0u);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{0xE2, 0x82, 0xAC}));
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(KUnicode(0x20AC).toUTF8(nullptr, 3, &written), 0x80000001u);

    EXPECT_EQ(KUnicode(0x1F600).toUTF16BE(out, 4, &written), 0u);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0xD8, 0x3D, 0xDE, 0x00}));
    EXPECT_EQ(KUnicode(0x1F600).toUTF16LE(out, 4, &written), 0u);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x3D, 0xD8, 0x00, 0xDE}));
    EXPECT_EQ(KUnicode(0x1F600).toUTF16BE(out, 3, &written), 0x80000002u);
    EXPECT_EQ(written, 0u);

    // A lone surrogate (storable through setUTF16) has no UTF-8 form: U+FFFD is written.
    KUnicode lone;
    lone.setUTF16(0xD800);
    EXPECT_EQ(lone.toUTF8(out, 4, &written), 0u);
    EXPECT_EQ(Bytes(out, out + written), (Bytes{0xEF, 0xBF, 0xBD}));
    KString<KUnicode> s;
    s.push_back(lone);
    unsigned char text[8];
    u32 length = 0;
    EXPECT_EQ(s.toUTF8(text, sizeof(text), &length), 0u);
    EXPECT_EQ(Bytes(text, text + length), (Bytes{0xEF, 0xBF, 0xBD, 0x00}));
}

TEST(KStringTest, ExportEdgeCases)
{
    const auto s = makeString({0xE9, 0x31});
    char ascii[8];
    u32 length = 0;
    EXPECT_EQ(s.toASCII(ascii, sizeof(ascii), &length, '?'), 0u);
    EXPECT_STREQ(ascii, "?1");
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(s.toASCII(ascii, 2, &length, '?'), 0x80000002u);
    EXPECT_STREQ(ascii, "?");
    EXPECT_EQ(length, 2u);
    unsigned char latin[8];
    EXPECT_EQ(makeString({0xE9, 0x20AC}).toLatin1(latin, sizeof(latin), &length, '#'), 0u);
    EXPECT_EQ(Bytes(latin, latin + length), (Bytes{0xE9, '#', 0}));

    unsigned char bytes[8];
    EXPECT_EQ(s.toUTF16WithOrder(bytes, 3, 1, &length), 0x80000005u);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(s.toUTF16WithOrder(bytes, 8, 3, &length), 0x80000005u);
    EXPECT_EQ(s.toUTF16WithOrder(bytes, 8, 1, &length), 0u);
    EXPECT_EQ(Bytes(bytes, bytes + length), (Bytes{0xFE, 0xFF, 0x00, 0xE9, 0x00, 0x31, 0, 0}));
    EXPECT_EQ(s.toUTF16WithOrder(bytes, 8, 2, &length), 0u);
    EXPECT_EQ(Bytes(bytes, bytes + length), (Bytes{0xFF, 0xFE, 0xE9, 0x00, 0x31, 0x00, 0, 0}));

    u16 units[4];
    EXPECT_EQ(makeString({0x1F600}).toUTF16(units, 4, &length), 0u);
    EXPECT_EQ(units[0], 0xD83D);
    EXPECT_EQ(units[1], 0xDE00);
    EXPECT_EQ(units[2], 0);
    EXPECT_EQ(length, 4u); // two units written, plus 2
    EXPECT_EQ(makeString({0x1F600}).toUTF16(units, 2, &length), 0x80000002u);
    EXPECT_EQ(units[0], 0);

    const KString<KUnicode> empty;
    EXPECT_EQ(empty.toUTF8(bytes, 8, &length), 0x80000005u);
    EXPECT_EQ(makeString({0, 0x41}).toASCII(ascii, 8, &length, '?'), 0x80000005u);
    EXPECT_EQ(s.toUTF8(nullptr, 8, &length), 0x80000005u);
    EXPECT_EQ(s.toUTF16BE(bytes, 1, &length), 0x80000005u);
    // The text ends at the first code point 0.
    EXPECT_EQ(makeString({0x41, 0, 0x42}).toASCII(ascii, 8, &length, '?'), 0u);
    EXPECT_STREQ(ascii, "A");
}

TEST(KStringTest, Equals)
{
    const KString<KUnicode> empty;
    const KString<KUnicode> otherEmpty;
    EXPECT_FALSE(empty.equals(otherEmpty, 0));
    EXPECT_FALSE(empty.equals("", 0));

    const auto ab = makeString({'A', 'b'});
    EXPECT_TRUE(ab.equals("aB", 1));
    EXPECT_FALSE(ab.equals("aB", 0));
    EXPECT_TRUE(ab.equals("Ab", 0));
    EXPECT_FALSE(ab.equals("Abc", 0));
    EXPECT_FALSE(ab.equals("A", 0));
    EXPECT_FALSE(ab.equals(static_cast<const char*>(nullptr), 0));
    const u16 wide[] = {'a', 'B', 0};
    EXPECT_TRUE(ab.equals(wide, 1));
    EXPECT_FALSE(ab.equals(wide, 0));
    EXPECT_TRUE(makeString({'A', 'b'}).equals(ab, 0));
    EXPECT_TRUE(makeString({'a', 'B'}).equals(ab, 1));
    // Same text, different element counts.
    EXPECT_FALSE(makeString({'A', 'b', 0}).equals(ab, 0));

    const auto emoji = makeString({'x', 0x1F600});
    const u16 pair[] = {'x', 0xD83D, 0xDE00, 0};
    EXPECT_TRUE(emoji.equals(pair, 0));
    const u16 lone[] = {'x', 0xD83D, 0};
    EXPECT_FALSE(emoji.equals(lone, 0));
    // Bytes from 0x80 up compare as U+FFFD.
    EXPECT_TRUE(makeString({'x', 0xFFFD}).equals("x\xE9", 0));

    KString<KUnicode> assigned;
    assigned.assign(pair);
    EXPECT_TRUE(assigned.equals(emoji, 0));
    assigned.assign("x\xE9");
    EXPECT_EQ(assigned.size(), 2u);
    EXPECT_EQ(assigned[1].getValue(), 0xFFFDu);
}

std::vector<u32> randomCodePoints(std::mt19937& rng, size_t count)
{
    std::uniform_int_distribution<int> plane(0, 3);
    std::vector<u32> out;
    while (out.size() < count) {
        u32 c = 0;
        switch (plane(rng)) {
        case 0:
            c = std::uniform_int_distribution<u32>(1, 0x7F)(rng);
            break;
        case 1:
            c = std::uniform_int_distribution<u32>(0x80, 0x7FF)(rng);
            break;
        case 2:
            c = std::uniform_int_distribution<u32>(0x800, 0xFFFF)(rng);
            break;
        default:
            c = std::uniform_int_distribution<u32>(0x10000, 0x10FFFF)(rng);
            break;
        }
        if (c >= 0xD800 && c <= 0xDFFF) {
            continue;
        }
        out.push_back(c);
    }
    return out;
}

TEST(KStringTest, MatchesIconvOnRandomText)
{
    std::mt19937 rng(1234);
    for (int round = 0; round < 200; ++round) {
        const auto cps = randomCodePoints(rng, 1 + round % 40);
        const auto s = makeString(cps);
        Bytes out(cps.size() * 4 + 4);
        u32 length = 0;

        ASSERT_EQ(s.toUTF8(out.data(), static_cast<u32>(out.size()), &length), 0u);
        Bytes expected = iconvConvert(cps, "UTF-8");
        expected.push_back(0);
        ASSERT_EQ(Bytes(out.begin(), out.begin() + length), expected);

        ASSERT_EQ(s.toUTF16BE(out.data(), static_cast<u32>(out.size()), &length), 0u);
        expected = iconvConvert(cps, "UTF-16BE");
        expected.insert(expected.end(), {0, 0});
        ASSERT_EQ(Bytes(out.begin(), out.begin() + length), expected);

        ASSERT_EQ(s.toUTF16LE(out.data(), static_cast<u32>(out.size()), &length), 0u);
        expected = iconvConvert(cps, "UTF-16LE");
        expected.insert(expected.end(), {0, 0});
        ASSERT_EQ(Bytes(out.begin(), out.begin() + length), expected);
    }
}

// One export form: the whole expected output (without terminator), the sequence length of each code point,
// the terminator size, the smallest unit, a fixed prefix (byte-order mark) and the call itself.
struct ExportForm
{
    const char* name;
    Bytes full;
    std::vector<u32> sequence;
    u32 terminator;
    u32 unit;
    u32 prefix;
    bool pairFailsHard; // toUTF16: a pair that does not fit is 0x80000002
    std::function<u32(unsigned char*, u32, u32*)> call;
};

TEST(KStringTest, EveryBufferSizeStaysInBoundsAndTerminates)
{
    // 1-, 2-, 3- and 4-byte UTF-8 code points, all within Latin-1 where the character forms need it.
    const std::vector<u32> cps = {0x41, 0xE9, 0x20AC, 0x1F600, 0x7A};
    const auto s = makeString(cps);
    std::vector<ExportForm> forms;
    forms.push_back(
        {"ascii", Bytes{'A', '?', '?', '?', 'z'}, {1, 1, 1, 1, 1}, 1, 1, 0, true, [&](unsigned char* b, u32 n, u32* l) {
             return s.toASCII(reinterpret_cast<char*>(b), n, l, '?');
         }});
    forms.push_back({"latin1",
                     Bytes{'A', 0xE9, '?', '?', 'z'},
                     {1, 1, 1, 1, 1},
                     1,
                     1,
                     0,
                     true,
                     [&](unsigned char* b, u32 n, u32* l) { return s.toLatin1(b, n, l, '?'); }});
    forms.push_back(
        {"utf8", iconvConvert(cps, "UTF-8"), {1, 2, 3, 4, 1}, 1, 1, 0, false, [&](unsigned char* b, u32 n, u32* l) {
             return s.toUTF8(b, n, l);
         }});
    forms.push_back({"utf16be",
                     iconvConvert(cps, "UTF-16BE"),
                     {2, 2, 2, 4, 2},
                     2,
                     2,
                     0,
                     false,
                     [&](unsigned char* b, u32 n, u32* l) { return s.toUTF16BE(b, n, l); }});
    forms.push_back({"utf16le",
                     iconvConvert(cps, "UTF-16LE"),
                     {2, 2, 2, 4, 2},
                     2,
                     2,
                     0,
                     false,
                     [&](unsigned char* b, u32 n, u32* l) { return s.toUTF16LE(b, n, l); }});
    Bytes withMark = {0xFF, 0xFE};
    const Bytes le = iconvConvert(cps, "UTF-16LE");
    withMark.insert(withMark.end(), le.begin(), le.end());
    forms.push_back({"utf16mark", withMark, {2, 2, 2, 4, 2}, 2, 2, 2, false, [&](unsigned char* b, u32 n, u32* l) {
                         return s.toUTF16WithOrder(b, n, 2, l);
                     }});
    // toUTF16 counts in units: handled with 2-byte "bytes" below.
    forms.push_back({"utf16units",
                     iconvConvert(cps, "UTF-16LE"),
                     {2, 2, 2, 4, 2},
                     2,
                     2,
                     0,
                     true,
                     [&](unsigned char* b, u32 n, u32* l) { return s.toUTF16(reinterpret_cast<u16*>(b), n / 2, l); }});

    for (const auto& form : forms) {
        const bool units = std::string(form.name) == "utf16units";
        const u32 needed = static_cast<u32>(form.full.size()) + form.terminator;
        for (u32 size = 0; size <= needed + 1; size += units ? 2 : 1) {
            SCOPED_TRACE(testing::Message() << form.name << " size " << size);
            alignas(4) unsigned char buffer[64];
            std::memset(buffer, 0xCC, sizeof(buffer));
            u32 length = 12345;
            const u32 result = form.call(buffer, size, &length);
            for (u32 i = size; i < sizeof(buffer); ++i) {
                ASSERT_EQ(buffer[i], 0xCC) << "written past the size at " << i;
            }
            if (size < form.prefix + form.terminator) {
                EXPECT_EQ(result, 0x80000005u);
                EXPECT_EQ(length, 0u);
                continue;
            }
            // Whole code points that fit before the terminator.
            u32 fitted = form.prefix;
            size_t taken = 0;
            while (taken < form.sequence.size() && fitted + form.sequence[taken] + form.terminator <= size) {
                fitted += form.sequence[taken++];
            }
            ASSERT_EQ(Bytes(buffer, buffer + fitted), Bytes(form.full.begin(), form.full.begin() + fitted));
            for (u32 t = 0; t < form.terminator; ++t) {
                EXPECT_EQ(buffer[fitted + t], 0) << "terminator";
            }
            const u32 expectedLength = units ? fitted / 2 + 2 : fitted + form.terminator;
            EXPECT_EQ(length, expectedLength);
            if (taken == form.sequence.size()) {
                EXPECT_EQ(result, 0u);
            } else if (form.pairFailsHard || size - form.terminator - fitted < form.unit) {
                EXPECT_EQ(result, 0x80000002u);
            } else {
                EXPECT_EQ(result, 0u); // a longer sequence that does not fit ends the text quietly
            }
        }
    }
}

} // namespace
