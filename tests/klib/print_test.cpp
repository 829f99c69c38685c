#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "klib_Print.h"

namespace {

// Formats through klib_vsnprintf without the compiler's printf checks, so that conversions the formatter treats
// as text ("%ld") can be given without an argument.
u32 formatRaw(char* buffer, u32 size, u32* length, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const u32 r = klib_vsnprintf(buffer, size, length, format, args);
    va_end(args);
    return r;
}

template <typename... Args> std::string fmt(const char* format, Args... args)
{
    char buffer[512];
    u32 length = 0xDEAD;
    EXPECT_EQ(0u, formatRaw(buffer, sizeof(buffer), &length, format, args...));
    EXPECT_EQ(std::strlen(buffer), length);
    return buffer;
}

std::string libc(const char* format, double v)
{
    char buffer[512];
    std::snprintf(buffer, sizeof(buffer), format, v);
    return buffer;
}

} // namespace

TEST(Formatter, ConversionsFlagsAndWidths)
{
    EXPECT_EQ("   -42", fmt("%6d", -42));
    EXPECT_EQ("  -42", fmt("%5d", -42));
    EXPECT_EQ("-42  |", fmt("%-5d|", -42));
    EXPECT_EQ("-0042", fmt("%05d", -42));
    EXPECT_EQ("0", fmt("%+d", 0));
    EXPECT_EQ("+7", fmt("%+d", 7));
    EXPECT_EQ("  +7", fmt("%+4d", 7));
    EXPECT_EQ("+007", fmt("%+04d", 7));
    // "+" marks every non-zero number, unsigned and hexadecimal ones as well (unlike the C runtime).
    EXPECT_EQ("+7", fmt("%+u", 7u));
    EXPECT_EQ("0", fmt("%+u", 0u));
    EXPECT_EQ("  +ff", fmt("%+5x", 0xFFu));
    EXPECT_EQ("+00FF", fmt("%+05X", 0xFFu));
    EXPECT_EQ("-12345", fmt("%2d", -12345));
    EXPECT_EQ("0000BEEF", fmt("%08X", 0xBEEFu));
    EXPECT_EQ("deadbeef", fmt("%x", 0xDEADBEEFu));
    EXPECT_EQ("0", fmt("%x", 0u));
    EXPECT_EQ("4294967295", fmt("%u", 0xFFFFFFFFu));
    EXPECT_EQ("-2147483648", fmt("%d", INT32_MIN));
    EXPECT_EQ("2147483647", fmt("%d", INT32_MAX));
    EXPECT_EQ("ab    |", fmt("%-6s|", "ab"));
    EXPECT_EQ("    ab|", fmt("%6s|", "ab"));
    EXPECT_EQ("[]", fmt("[%s]", static_cast<const char*>(nullptr)));
    EXPECT_EQ("xAy", fmt("x%5cy", 'A'));
    EXPECT_EQ("100%", fmt("%d%%", 100));
}

TEST(Formatter, UnknownConversionsPrintAsText)
{
    EXPECT_EQ("ld", fmt("%ld"));
    EXPECT_EQ(".2d", fmt("%.2d"));
    EXPECT_EQ("a", fmt("a%")); // a lone "%" at the end has no character to print
    EXPECT_EQ("q5", fmt("%q%d", 5));
}

TEST(Formatter, FloatMatchesCRuntime)
{
    const double values[] = {0.0,     -0.0,     1.0,       -1.0,      0.5,      1.5,       2.5,     -2.5,
                             0.125,   0.375,    1e-7,      -1e-7,     1e10,     1e-300,    5e-324,  123.456,
                             -99.995, 0.049999, 9.9999999, 999999.5,  1e22,     1e300,     DBL_MAX, -DBL_MAX,
                             FLT_MAX, 3.14159,  2.675,     1.0 / 3.0, 0.000001, 1e15 + 0.3};
    const char* formats[] = {"%f",       "%.0f",    "%.1f",  "%.2f",    "%.3f",  "%.4f",  "%.5f",
                             "%.6f",     "%.7f",    "%.8f",  "%.9f",    "%lf",   "%.2lf", "%12.3f",
                             "%-12.3f|", "%012.3f", "%+.2f", "%+08.1f", "%.20f", "%.40f"};
    for (const double v : values) {
        for (const char* f : formats) {
            EXPECT_EQ(libc(f, v), fmt(f, v)) << f << " of " << v;
        }
    }
    std::mt19937_64 rng(7);
    for (int i = 0; i < 3000; ++i) {
        u64 bits = rng();
        double v;
        std::memcpy(&v, &bits, sizeof(v));
        if (!std::isfinite(v) || std::fabs(v) > 1e30) {
            v = std::ldexp(static_cast<double>(rng() % 1000000) - 500000.0, static_cast<int>(rng() % 60) - 40);
        }
        char f[16];
        std::snprintf(f, sizeof(f), "%%.%df", static_cast<int>(rng() % 12));
        EXPECT_EQ(libc(f, v), fmt(f, v)) << f << " of " << v;
    }
    EXPECT_EQ(libc("%f", INFINITY), fmt("%f", static_cast<double>(INFINITY)));
    EXPECT_EQ(libc("%f", -INFINITY), fmt("%f", static_cast<double>(-INFINITY)));
    EXPECT_EQ(libc("%5.1f", NAN), fmt("%5.1f", static_cast<double>(NAN)));
}

TEST(Formatter, EveryBufferSizeGivesTheTerminatedPrefix)
{
    const char* format = "[i] %s: %5d %08X %-4s|%.3f %c%%";
    char full[256];
    u32 fullLength = 0;
    ASSERT_EQ(0u, formatRaw(full, sizeof(full), &fullLength, format, "module", -42, 0xABCDu, "x", 2.0 / 3.0, 'z'));
    ASSERT_EQ(std::strlen(full), fullLength);
    for (u32 size = 1; size <= fullLength + 1; ++size) {
        char buffer[300];
        std::memset(buffer, 0x5A, sizeof(buffer));
        u32 length = 0xFFFF;
        ASSERT_EQ(0u, formatRaw(buffer, size, &length, format, "module", -42, 0xABCDu, "x", 2.0 / 3.0, 'z'));
        ASSERT_EQ(size - 1, length);
        ASSERT_EQ(0, std::memcmp(buffer, full, size - 1)) << size;
        ASSERT_EQ('\0', buffer[size - 1]);
        for (u32 i = size; i < sizeof(buffer); ++i) {
            ASSERT_EQ(0x5A, static_cast<unsigned char>(buffer[i])) << "written past size " << size;
        }
    }
    char small[5];
    u32 length = 0;
    EXPECT_EQ(0u, klib_snprintf(small, sizeof(small), &length, "%d", 123456));
    EXPECT_STREQ("1234", small);
    EXPECT_EQ(4u, length);
}

TEST(Formatter, RefusesMissingBufferOrFormat)
{
    char buffer[8];
    EXPECT_EQ(0x80000000u, formatRaw(nullptr, 8, nullptr, "x"));
    EXPECT_EQ(0x80000000u, formatRaw(buffer, 0, nullptr, "x"));
    EXPECT_EQ(0x80000000u, formatRaw(buffer, 8, nullptr, nullptr));
    EXPECT_EQ(0u, returnZeroVariadic("%d %s", 1, "x"));
}

TEST(Parsers, StrToNumberLiterals)
{
    struct Case
    {
        const char* text;
        u32 result;
        u32 form;
        u32 bits;
    };
    const Case cases[] = {
        {"0x1F", 0, 0, 31},
        {"X10", 0, 0, 16},
        {"0X00ff", 0, 0, 255},
        {"017", 0, 0, 15},
        {"10UL", 0, 0, 10},
        {"10u", 0, 0, 10},
        {"0", 0, 0, 0},
        {"000", 0, 0, 0},
        {"-12", 0, 1, static_cast<u32>(-12)},
        {"+12", 0, 0, 12},
        {"4294967295", 0, 0, 0xFFFFFFFFu},
        {"-2147483648", 0, 1, 0x80000000u},
        {"0x1FFFFFFFF", 0, 0, 0xFFFFFFFFu}, // hexadecimal wraps
        {"99999999999", 0x80000002u, 0, 0},
        {"-2147483649", 0x80000002u, 0, 0},
        {"0x", 0x80000002u, 0, 0},
        {"09", 0x80000002u, 0, 0},
        {"0x1G", 0x80000002u, 0, 0},
        {"1..2", 0x80000002u, 0, 0},
        {"--1", 0x80000002u, 0, 0},
        {"e5", 0x80000002u, 0, 0},
        {"1e", 0x80000002u, 0, 0},
        {"12a", 0x80000002u, 0, 0},
        {"", 0x80000002u, 0, 0},
        {"1e999999", 0x80000002u, 0, 0},
        {"1e39", 0x80000002u, 0, 0},
        {"077777777777", 0x80000002u, 0, 0},
    };
    for (const Case& c : cases) {
        u32 value = 0xCCCCCCCC;
        u32 form = 0xCCCCCCCC;
        const u32 r = klib_strToNumber(&value, &form, c.text, static_cast<u32>(std::strlen(c.text)) + 1);
        EXPECT_EQ(c.result, r) << c.text;
        if (r == 0) {
            EXPECT_EQ(c.form, form) << c.text;
            EXPECT_EQ(c.bits, value) << c.text;
        }
    }
}

TEST(Parsers, StrToNumberFloatsAndEnds)
{
    auto asFloat = [](const char* text, u32 length, u32* result) {
        f32 v = -1;
        u32 form = 99;
        *result = klib_strToNumber(&v, &form, text, length);
        EXPECT_TRUE((*result & 0x80000000u) != 0 || form == 2) << text;
        return v;
    };
    u32 r = 0;
    EXPECT_EQ(2.5f, asFloat("2.5", 4, &r));
    EXPECT_EQ(0u, r);
    EXPECT_EQ(1.5f, asFloat("1.5f", 5, &r));
    EXPECT_EQ(1000.0f, asFloat("1e3", 4, &r));
    EXPECT_EQ(-0.0625f, asFloat("-6.25E-2", 9, &r));
    EXPECT_EQ(10.0f, asFloat("10f", 4, &r)); // the suffix makes a decimal integer a fraction
    EXPECT_EQ(0.0f, asFloat("1e-999999", 10, &r));
    EXPECT_EQ(0u, r);
    EXPECT_FLOAT_EQ(3.4028234e38f, asFloat("3.4028234e38", 13, &r));
    EXPECT_FLOAT_EQ(1.2345678e-5f, asFloat("0.000012345678", 15, &r));
    // Running to `length` without a NUL gives 1; characters past `length` are not read.
    EXPECT_EQ(2.5f, asFloat("2.5xyz", 3, &r));
    EXPECT_EQ(1u, r);

    u32 value = 0;
    u32 form = 0;
    EXPECT_EQ(1u, klib_strToNumber(&value, &form, "0x1Fzz", 4));
    EXPECT_EQ(31u, value);
    EXPECT_EQ(0x80000002u, klib_strToNumber(&value, &form, "0x", 2));
    EXPECT_EQ(0x80000001u, klib_strToNumber(&value, &form, "1", 0));
    EXPECT_EQ(0x80000001u, klib_strToNumber(&value, nullptr, "1", 1));
    EXPECT_EQ(0x80000001u, klib_strToNumber(&value, &form, nullptr, 1));

    // An exponent of zero keeps the integer form; klib_strToFloat reads the decimal syntax only.
    EXPECT_EQ(0u, klib_strToNumber(&value, &form, "7e0", 4));
    EXPECT_EQ(0u, form);
    EXPECT_EQ(7u, value);
    f32 f = 0;
    EXPECT_EQ(0x80000002u, klib_strToFloat(&f, &form, "0x10", 5));
    EXPECT_EQ(0x80000002u, klib_strToFloat(&f, &form, "-", 2));
}

TEST(Parsers, Strtol)
{
    i32 v = 0;
    char* end = nullptr;
    const char* t1 = "  -0x10";
    EXPECT_EQ(0u, klib_strtol(&v, t1, &end, 0, 7));
    EXPECT_EQ(-16, v);
    EXPECT_EQ(t1 + 7, end);

    const char* t2 = "2147483648";
    EXPECT_EQ(0x80000002u, klib_strtol(&v, t2, &end, 10, 10));
    EXPECT_EQ(0x7FFFFFFF, v);
    EXPECT_EQ(t2 + 10, end);
    EXPECT_EQ(0u, klib_strtol(&v, "-2147483648", nullptr, 10, 11));
    EXPECT_EQ(INT32_MIN, v);
    EXPECT_EQ(0x80000003u, klib_strtol(&v, "-2147483649999", &end, 0, 14));
    EXPECT_EQ(INT32_MIN, v);

    const char* t3 = "\t017 rest";
    EXPECT_EQ(0u, klib_strtol(&v, t3, &end, 0, 9));
    EXPECT_EQ(15, v);
    EXPECT_EQ(t3 + 4, end);
    EXPECT_EQ(0u, klib_strtol(&v, "zZ", nullptr, 36, 2));
    EXPECT_EQ(35 * 36 + 35, v);
    EXPECT_EQ(0u, klib_strtol(&v, "12345", &end, 10, 3)); // bounded by length
    EXPECT_EQ(123, v);
    EXPECT_EQ(0u, klib_strtol(&v, "101", nullptr, 2, 3));
    EXPECT_EQ(5, v);

    EXPECT_EQ(0x80000001u, klib_strtol(&v, "1", nullptr, 1, 1));
    EXPECT_EQ(0x80000001u, klib_strtol(&v, "1", nullptr, 37, 1));
    EXPECT_EQ(0x80000001u, klib_strtol(nullptr, "1", nullptr, 10, 1));

    u32 u = 0;
    EXPECT_EQ(0u, klib_strtoul(&u, "4294967295", nullptr, 10, 10));
    EXPECT_EQ(0xFFFFFFFFu, u);
    EXPECT_EQ(0x80000002u, klib_strtoul(&u, "4294967296", nullptr, 10, 10));
    EXPECT_EQ(0xFFFFFFFFu, u);
    EXPECT_EQ(0u, klib_strtoul(&u, "-1", nullptr, 0, 2));
    EXPECT_EQ(0xFFFFFFFFu, u);
    EXPECT_EQ(0u, klib_strtoul(&u, "0XfF", nullptr, 0, 4));
    EXPECT_EQ(255u, u);
}

TEST(Strings, MemoryHelpers)
{
    const unsigned char a[] = {1, 2, 0x80};
    const unsigned char b[] = {1, 2, 0x7F};
    EXPECT_EQ(0u, klib_memcmp(a, a, 3));
    EXPECT_EQ(1u, klib_memcmp(a, b, 3));
    EXPECT_EQ(2u, klib_memcmp(b, a, 3));
    EXPECT_EQ(0x80000003u, klib_memcmp(a, nullptr, 3));

    unsigned char d[4] = {9, 9, 9, 9};
    EXPECT_EQ(0u, klib_memcpy(d, a, 3));
    EXPECT_EQ(0, std::memcmp(d, a, 3));
    EXPECT_EQ(9, d[3]);
    EXPECT_EQ(0x80000003u, klib_memcpy(nullptr, a, 3));
    EXPECT_EQ(0u, klib_memset(d, 0x41, 2));
    EXPECT_EQ(0x41, d[1]);
    EXPECT_EQ(0x80, d[2]);
    EXPECT_EQ(0x80000003u, klib_memset(d, 0, 0));
}

TEST(Strings, BoundedCopiesAndLengths)
{
    char buf[8];
    std::memset(buf, 'Z', sizeof(buf));
    EXPECT_EQ(0x80000005u, klib_strlcpy(buf, 4, "hello"));
    EXPECT_STREQ("hel", buf);
    EXPECT_EQ('Z', buf[4]);
    EXPECT_EQ(0u, klib_strlcpy(buf, 4, "hel"));
    EXPECT_EQ(0x80000003u, klib_strlcpy(buf, 0, "x"));

    std::memset(buf, 'Z', sizeof(buf));
    EXPECT_EQ(5u, klib_strncpy(buf, "abcdef", 3));
    EXPECT_STREQ("abc", buf);
    EXPECT_EQ('Z', buf[4]);
    EXPECT_EQ(0u, klib_strncpy(buf, "ab", 3));
    EXPECT_STREQ("ab", buf);
    EXPECT_EQ(0x80000003u, klib_strncpy(buf, "ab", 0));

    EXPECT_EQ(3u, klib_strnlen("abc", 10));
    EXPECT_EQ(2u, klib_strnlen("abc", 2));
    EXPECT_EQ(0u, klib_strnlen(nullptr, 2));

    u32 length = 99;
    EXPECT_EQ(0u, klib_strlenChecked("abc", 3, &length)); // exactly max characters is accepted
    EXPECT_EQ(3u, length);
    EXPECT_EQ(0x80000004u, klib_strlenChecked("abcd", 3, &length));
    EXPECT_EQ(3u, length);
    EXPECT_EQ(0x80000003u, klib_strlenChecked(nullptr, 3, &length));
    EXPECT_EQ(0u, length);
    EXPECT_EQ(0x80000004u, klib_strnlenChecked("abc", 3, &length));
    EXPECT_EQ(3u, length);
    EXPECT_EQ(0u, klib_strnlenChecked("ab", 3, &length));
    EXPECT_EQ(2u, length);
    EXPECT_EQ(0x80000004u, klib_strnlenChecked("ab", 0, &length));
    EXPECT_EQ(0u, length);
    EXPECT_EQ(0x80000003u, klib_strnlenChecked("ab", 3, nullptr));
}

TEST(Strings, SearchAndCompare)
{
    const char* text = "abc";
    char* found = reinterpret_cast<char*>(1);
    EXPECT_EQ(0x80000004u, klib_strnchr(text, 'c', 2, &found));
    EXPECT_EQ(nullptr, found);
    EXPECT_EQ(0u, klib_strnchr(text, 'c', 3, &found));
    EXPECT_EQ(text + 2, found);
    EXPECT_EQ(0x80000004u, klib_strnchr("a\0c", 'c', 3, &found)); // stops at the NUL
    EXPECT_EQ(0x80000003u, klib_strnchr(text, 'a', 0, &found));
    EXPECT_EQ(0x80000003u, klib_strnchr(text, 'a', 3, nullptr));

    EXPECT_EQ(0u, klib_strncmp("abc", "abd", 2));
    EXPECT_EQ(2u, klib_strncmp("abc", "abd", 3));
    EXPECT_EQ(1u, klib_strncmp("abd", "abc", 3));
    EXPECT_EQ(0u, klib_strncmp("ab", "ab", 50)); // stops after the common NUL
    EXPECT_EQ(1u, klib_strncmp("abc", "ab", 5));
    EXPECT_EQ(2u, klib_strncmp("\x80", "a", 1)); // signed characters
    EXPECT_EQ(0x80000003u, klib_strncmp("a", "a", 0));
}

TEST(DebugPrint, LocationKeepsTheFileName)
{
    const char* file = nullptr;
    u32 line = 0;
    EXPECT_EQ(0u, klib_setPrintLocation("C:\\a\\b\\unit", 12));
    klib_getPrintLocation(&file, &line);
    EXPECT_STREQ("unit", file);
    EXPECT_EQ(12u, line);
    klib_setPrintLocation("/src/lib/x.cpp", 3);
    klib_getPrintLocation(&file, &line);
    EXPECT_STREQ("x.cpp", file);
    klib_setPrintLocation("plain", 4);
    klib_getPrintLocation(&file, &line);
    EXPECT_STREQ("plain", file);
}

TEST(DebugPrint, LogMacroRecordsLocationAndPrints)
{
    testing::internal::CaptureStdout();
    const u32 expectedLine = __LINE__ + 1;
    const u32 r = KLIB_LOG("[i] value %ld %s\n", 1234567890123L, "ok");
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(0u, r);
    EXPECT_EQ("[i] value 1234567890123 ok\n", out);
    const char* file = nullptr;
    u32 line = 0;
    klib_getPrintLocation(&file, &line);
    EXPECT_STREQ("print_test.cpp", file);
    EXPECT_EQ(expectedLine, line);
}
