#include <gtest/gtest.h>

#include "compiler_JsonReader.h"

using namespace Compiler;

namespace {

JsonValue parsed(const char* text)
{
    JsonValue value;
    EXPECT_EQ(PDB::JsonAdapter::parse(text, value), 0) << text;
    return value;
}

constexpr i32 OK = COMPILER_OK;
constexpr i32 DEF = COMPILER_E_FAILED;
constexpr u32 D32 = 7;
constexpr u64 D64 = 7;

} // namespace

// Every numeric kind and the saturating float rules, through both integer readers and the bool reader.
TEST(JsonReader, NumbersAndBooleans)
{
    const JsonValue doc = parsed(R"({"neg": -1, "t": true, "s": "3", "big": 1.5e10, "fs": 48000.9, "one": 1,
        "h": 1e30, "nh": -1e30, "p63": 9223372036854775808.0, "p63i": 9223372036854775808,
        "p64": 18446744073709551616, "umax": 18446744073709551615, "nhalf": -0.5, "n": null, "o": {}, "a": []})");
    struct Case
    {
        const char* key;
        i32 r32;
        u32 v32;
        i32 r64;
        u64 v64;
        i32 rBool;
    };
    const Case cases[] = {
        {"neg", OK, 0xFFFFFFFFu, OK, UINT64_MAX, DEF},
        {"t", OK, 1, DEF, D64, OK},
        {"s", DEF, D32, DEF, D64, DEF},
        {"big", OK, static_cast<u32>(15000000000ull), OK, 15000000000ull, DEF},
        {"fs", OK, 48000, OK, 48000, DEF},
        {"one", OK, 1, OK, 1, DEF},
        {"h", OK, 0xFFFFFFFFu, OK, UINT64_MAX, DEF},
        {"nh", OK, 0, OK, 0x8000000000000000ull, DEF},
        {"p63", OK, 0xFFFFFFFFu, OK, 0x8000000000000000ull, DEF},
        {"p63i", OK, 0, OK, 0x8000000000000000ull, DEF},
        {"p64", OK, 0xFFFFFFFFu, OK, UINT64_MAX, DEF},
        {"umax", OK, 0xFFFFFFFFu, OK, UINT64_MAX, DEF},
        {"nhalf", OK, 0, OK, 0, DEF},
        {"n", DEF, D32, DEF, D64, DEF},
        {"o", DEF, D32, DEF, D64, DEF},
        {"a", DEF, D32, DEF, D64, DEF},
        {"absent", DEF, D32, DEF, D64, DEF},
    };
    for (const Case& c : cases) {
        u32 v32 = 99;
        u64 v64 = 99;
        bool flag = true;
        EXPECT_EQ(readJsonUInt32(doc, c.key, v32, D32), c.r32) << c.key;
        EXPECT_EQ(v32, c.v32) << c.key;
        EXPECT_EQ(readJsonUInt64(doc, c.key, v64, D64), c.r64) << c.key;
        EXPECT_EQ(v64, c.v64) << c.key;
        EXPECT_EQ(readJsonBool(doc, c.key, flag, false), c.rBool) << c.key;
    }
    bool flag = false;
    EXPECT_EQ(readJsonBool(doc, "t", flag, false), OK);
    EXPECT_TRUE(flag);
}

// Strings, a source that is no object, and a null key all fall back to the default.
TEST(JsonReader, StringsAndSources)
{
    const JsonValue doc = parsed(R"({"s": "3", "u": "\u00d6", "n": 5})");
    std::string text = "x";
    EXPECT_EQ(readJsonString(doc, "s", text, "d"), OK);
    EXPECT_EQ(text, "3");
    EXPECT_EQ(readJsonString(doc, "u", text, "d"), OK);
    EXPECT_EQ(text, "\xC3\x96");
    EXPECT_EQ(readJsonString(doc, "n", text, "d"), DEF);
    EXPECT_EQ(text, "d");
    EXPECT_EQ(readJsonString(doc, nullptr, text, "e"), DEF);
    EXPECT_EQ(text, "e");

    const JsonValue array = parsed(R"([{"n": 5}, 5])");
    u32 v32 = 0;
    u64 v64 = 0;
    bool flag = false;
    EXPECT_EQ(readJsonUInt32(array, "n", v32, D32), DEF);
    EXPECT_EQ(v32, D32);
    EXPECT_EQ(readJsonUInt64(array, "n", v64, D64), DEF);
    EXPECT_EQ(readJsonBool(array, "n", flag, true), DEF);
    EXPECT_TRUE(flag);
    EXPECT_EQ(readJsonString(array, "n", text, "d"), DEF);
}

TEST(JsonReader, LookupsAndCounts)
{
    const JsonValue doc = parsed(R"({"o": {"a": 1, "b": 2}, "a": [1, 2, 3], "n": null, "s": "x", "i": 4, "t": false})");
    const JsonValue& array = jsonMember(doc, "a");
    EXPECT_EQ(jsonElementCount(jsonMember(doc, "o")), 2u);
    EXPECT_EQ(jsonElementCount(array), 3u);
    EXPECT_EQ(jsonElementCount(jsonMember(doc, "n")), 0u);
    EXPECT_EQ(jsonElementCount(jsonMember(doc, "absent")), 0u);
    for (const char* scalar : {"s", "i", "t"}) {
        EXPECT_EQ(jsonElementCount(jsonMember(doc, scalar)), 1u) << scalar;
    }

    u32 v = 0;
    EXPECT_EQ(readJsonUInt32(jsonElement(array, 2), "x", v, 0), DEF);
    EXPECT_EQ(PDB::JsonAdapter::getScalar(&jsonElement(array, 2)).unsignedInteger, 3u);
    // Every miss is the one shared null value, which stays null.
    const JsonValue* misses[] = {&jsonElement(array, 3), &jsonElement(doc, 0), &jsonMember(array, "a"),
                                 &jsonMember(doc, "absent"), &jsonMember(doc, nullptr)};
    for (const JsonValue* miss : misses) {
        EXPECT_EQ(miss, &jsonNull());
    }
    EXPECT_TRUE(PDB::JsonAdapter::isNull(&jsonNull()));
}
