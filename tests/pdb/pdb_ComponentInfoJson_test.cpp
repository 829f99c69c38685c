// Decoding component-type JSON into descriptions: every field of every type, defaults, the value-text rules and
// the exact log and standard-output lines of the failure paths.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>

#include "pdb_ComponentInfoJsonFixture.h"
#include "pdb_ComponentInfoParserJSON.h"

using namespace PDB;

namespace {

constexpr u32 U = KVariant::KIND_UINT32;
constexpr u32 S = KVariant::KIND_INT32;
constexpr u32 F = KVariant::KIND_FLOAT32;
constexpr u32 E = KVariant::KIND_EMPTY;
constexpr u32 T = KVariant::KIND_STRING;
constexpr const char* UNKNOWN_EXCEPTION = "[E] JSON: unknown exception occurred.\n";

std::string withEntries(const std::string& entries)
{
    return R"({"component": {"name": "T", "majorVer": 1, "minX": 3, "maxX": 8, "maxY": 8}, "parameters": [)" + entries +
           "]}";
}

// Decodes and returns the description, with standard output in out.
ComponentInfo decode(const std::string& text, std::string& out)
{
    testing::internal::CaptureStdout();
    ComponentInfo info = ComponentInfoParserJSON::createFromJson(text.c_str());
    out = testing::internal::GetCapturedStdout();
    return info;
}

ComponentInfo decodeQuiet(const std::string& text)
{
    std::string out;
    return decode(text, out);
}

// A value as (kind, 32-bit pattern) so one table covers every kind; texts compare by content separately.
struct Value
{
    u32 kind;
    u32 bits;
};

Value u(u32 v)
{
    return {U, v};
}
Value s(i32 v)
{
    return {S, static_cast<u32>(v)};
}
Value f(f32 v)
{
    u32 bits = 0;
    static_assert(sizeof(bits) == sizeof(v));
    std::memcpy(&bits, &v, sizeof(v));
    return {F, bits};
}
const Value none{E, 0};
const Value text{T, 0}; // content checked separately

void expectValue(const KVariant& actual, const Value& expected, const char* what, u32 block)
{
    ASSERT_EQ(actual.getKind(), expected.kind) << what << " of block " << block;
    if (expected.kind == F) {
        u32 bits = 0;
        const f32 value = actual.getFloat();
        std::memcpy(&bits, &value, sizeof(value));
        EXPECT_EQ(bits, expected.bits) << what << " of block " << block;
    } else if (expected.kind != E && expected.kind != T) {
        EXPECT_EQ(actual.getUInt(), expected.bits) << what << " of block " << block;
    }
}

struct BlockExpectation
{
    const char* address;
    u8 code;
    u32 elementSize;
    u8 flags;
    u32 countX, countY;
    Value min, max, def, nominal, step;
    u32 scaling;
    const char* unit;
    const char* kind;
    const char* defUI;
};

} // namespace

TEST(ComponentInfoJson, FixtureDecodesEveryFieldOfEveryType)
{
    std::string out;
    const ComponentInfo info = decode(cinfo_fixture::DOCUMENT, out);
    EXPECT_EQ(out, "");
    EXPECT_EQ(info.getName(), "FixtureComp");
    EXPECT_EQ(info.getVersion(), 2u);
    EXPECT_EQ(info.getMinX(), 3u);
    EXPECT_EQ(info.getMinY(), 2u);
    EXPECT_EQ(info.getMaxX(), 16u);
    EXPECT_EQ(info.getMaxY(), 4u);
    EXPECT_EQ(info.getCurrentX(), 3u);
    EXPECT_EQ(info.getCurrentY(), 2u);
    EXPECT_EQ(info.getCommentX(), "Channel");
    EXPECT_EQ(info.getCommentY(), "Band");
    EXPECT_EQ(info.getComponentNumber(), 0);
    EXPECT_EQ(info.getParameterStrategy(), nullptr);

    const BlockExpectation expected[] = {
        {"/Blk/U8", 0x11, 1, 0x15, 6, 1, u(0), u(200), u(100), u(50), u(2), 3, "dB", "Level", "knob"},
        {"/Blk/U16", 0x12, 2, 0x0F, 2, 1, u(10), u(60000), u(300), none, u(5), 1, "", "", ""},
        {"/Blk/U32", 0x14, 4, 0x0F, 1, 1, u(0), u(4000000000u), u(7), none, u(1), 2, "", "", ""},
        {"/Blk/S8", 0x21, 1, 0x0F, 1, 2, s(-100), s(100), s(-5), s(0), u(1), 1, "", "", ""},
        {"/Blk/S16", 0x22, 2, 0x0F, 1, 1, s(-30000), s(30000), s(12), s(-1), u(1), 1, "", "", ""},
        {"/Blk/S32", 0x24, 4, 0x0F, 1, 1, s(INT32_MIN), s(INT32_MAX), s(0), none, u(0xFFFFFFFDu), 1, "", "", ""},
        {"/Blk/F", 0x34, 4, 0x0F, 1, 1, f(-1.5f), f(25.0f), f(0.25f), f(1.0f), f(0.1f), 1, "ms", "", ""},
        {"/Blk/B", 0x41, 1, 0x0F, 1, 3, u(0), u(1), u(1), none, u(1), 1, "", "OnOff", ""},
        {"/Blk/Str", 0x50, 32, 0x0F, 1, 1, u(0), u(0), text, none, u(0), 0, "", "String", ""},
        {"/Blk/Bin", 0x60, 10, 0x12, 4, 1, u(0), u(0), u(0), none, u(0), 0, "", "", ""},
    };
    ASSERT_EQ(info.getParameterCount(), std::size(expected));
    for (u32 i = 0; i < std::size(expected); ++i) {
        const BlockExpectation& x = expected[i];
        const ParameterInfo& p = info.getParameterInfo(i);
        EXPECT_EQ(p.getAddress(), x.address);
        EXPECT_EQ(info.findParameterIndex(x.address), i);
        EXPECT_EQ(p.getTypeCode(), x.code) << i;
        EXPECT_EQ(p.getElementSize(), x.elementSize) << i;
        EXPECT_EQ(p.getAttribute().getFlags(), x.flags) << i;
        EXPECT_EQ(p.getAttribute().getValue(), 0) << i;
        EXPECT_EQ(p.getCountX(), x.countX) << i;
        EXPECT_EQ(p.getCountY(), x.countY) << i;
        expectValue(p.getMin(), x.min, "min", i);
        expectValue(p.getMax(), x.max, "max", i);
        expectValue(p.getDefault(), x.def, "def", i);
        expectValue(p.getNominal(), x.nominal, "nominal", i);
        expectValue(p.getStep(), x.step, "step", i);
        EXPECT_EQ(p.getScaling(), x.scaling) << i;
        EXPECT_EQ(p.getUnit(), x.unit) << i;
        EXPECT_EQ(p.getKind(), x.kind) << i;
        EXPECT_EQ(p.getDefUI(), x.defUI) << i;
        EXPECT_TRUE(p.isValid()) << i;
    }
    EXPECT_EQ(info.getParameterInfo(0).getCommentX(), "ch");
    EXPECT_EQ(info.getParameterInfo(0).getPatternX(), PATTERN_MULTIPLY | 2);
    EXPECT_EQ(info.getParameterInfo(1).getPatternX(), PATTERN_DIVIDE | 2);
    EXPECT_STREQ(info.getParameterInfo(8).getDefault().getString(), "hello");
}

TEST(ComponentInfoJson, MissingPartsStopWithTheirLogLines)
{
    std::string out;
    ComponentInfo info = decode(R"({"parameters": []})", out);
    EXPECT_EQ(out, "[E] JSON: 'component' tag not found.\n");
    EXPECT_EQ(info.getName(), "");

    info = decode(R"({"component": null, "parameters": []})", out);
    EXPECT_EQ(out, "[E] JSON: 'component' tag not found.\n");

    info = decode(R"({"component": {"name": "P", "majorVer": 4, "minX": 2, "maxX": 6, "maxY": 3}})", out);
    EXPECT_EQ(out, "[E] JSON: 'parameters' tag not found.\n");
    EXPECT_EQ(info.getName(), "P");
    EXPECT_EQ(info.getVersion(), 4u);
    EXPECT_EQ(info.getMinX(), 2u);
    EXPECT_EQ(info.getMaxX(), 6u);
    EXPECT_EQ(info.getMaxY(), 3u);
    EXPECT_FALSE(info.hasParameters());

    info = decode(R"({"component": {"name": "P", "minX": 0}, "parameters": []})", out);
    EXPECT_EQ(out, "[E] JSON: 'componentInfo' decode error.\n");
    EXPECT_EQ(info.getName(), "");

    // Wrong kinds take the defaults.
    info = decode(R"({"component": {"name": 5, "majorVer": "3", "maxX": true}, "parameters": []})", out);
    EXPECT_EQ(out, "");
    EXPECT_EQ(info.getName(), "");
    EXPECT_EQ(info.getVersion(), 0u);
    EXPECT_EQ(info.getMaxX(), 1u);
}

TEST(ComponentInfoJson, MalformedDocumentPrintsTheLibraryLines)
{
    std::string out;
    const ComponentInfo info = decode(R"({"component": {"name": "T",}})", out);
    EXPECT_FALSE(info.hasParameters());
    EXPECT_EQ(info.getName(), "");
    ASSERT_EQ(out.rfind("message: ", 0), 0u) << out;
    const size_t second = out.find("\nexception id: ");
    ASSERT_NE(second, std::string::npos) << out;
    EXPECT_EQ(out.substr(second), "\nexception id: 101\n");
}

TEST(ComponentInfoJson, FailingEntriesAreLoggedAndSkipped)
{
    std::string out;
    const ComponentInfo info = decode(withEntries(R"(
        {"strAddress": "/lower", "type": "uint8", "min": "abc"},
        {"type": "UINT8"},
        {"strAddress": "/next", "type": "UINT8"},
        7,
        {"strAddress": "/str", "type": "STRING"},
        {"strAddress": "/bin", "type": "BINARY", "min": "abc", "max": "4"})"),
                                      out);
    EXPECT_EQ(out, "[E] JSON: couldn't add the address [/lower]. err=80020000\n"
                   "[E] JSON: couldn't add the address []. err=80000001\n"
                   "[E] JSON: couldn't add the address []. err=80020000\n");
    ASSERT_EQ(info.getParameterCount(), 3u);
    EXPECT_EQ(info.getParameterInfo(0).getAddress(), "/next");
    const ParameterInfo& str = info.getParameterInfo(1);
    EXPECT_STREQ(str.getDefault().getString(), "0");
    EXPECT_EQ(str.getElementSize(), 0u);
    EXPECT_FALSE(str.isValid());
    EXPECT_EQ(info.getParameterInfo(2).getElementSize(), 4u);
}

TEST(ComponentInfoJson, PatternsResolveAgainstTheComponent)
{
    const ComponentInfo info = decodeQuiet(withEntries(R"(
        {"strAddress": "/m", "type": "UINT8", "patternX": "*4"},
        {"strAddress": "/d", "type": "UINT8", "patternX": "/2"},
        {"strAddress": "/z", "type": "UINT8", "patternX": "0", "patternY": ""},
        {"strAddress": "/b", "type": "UINT8", "patternX": " 65535"},
        {"strAddress": "/mz", "type": "UINT8", "patternX": "*0"})"));
    ASSERT_EQ(info.getParameterCount(), 5u);
    EXPECT_EQ(info.getParameterInfo(0).getCountX(), 12u);
    EXPECT_EQ(info.getParameterInfo(1).getCountX(), 2u);
    EXPECT_EQ(info.getParameterInfo(2).getCountX(), 1u);
    EXPECT_EQ(info.getParameterInfo(2).getCountY(), 1u);
    EXPECT_EQ(info.getParameterInfo(3).getCountX(), 65535u);
    EXPECT_EQ(info.getParameterInfo(4).getPatternX(), PATTERN_MULTIPLY | 1);
}

TEST(ComponentInfoJson, ValueTextsFollowThe32BitRules)
{
    ComponentInfo info = decodeQuiet(withEntries(R"(
        {"strAddress": "/u32", "type": "UINT32", "min": "-1", "max": "4294967295", "def": "+7x"},
        {"strAddress": "/u8", "type": "UINT8", "min": "-1", "max": "257", "def": "\t 3"},
        {"strAddress": "/s8", "type": "SINT8", "min": "-129", "max": "300"},
        {"strAddress": "/flag", "type": "UINT8", "attr": {"recallable": 256, "private": 1.9, "syncable": -256,
                                                           "noeditflag": -1}},
        {"strAddress": "/nom", "type": "UINT16", "min": "4", "nominal": ""})"));
    ASSERT_EQ(info.getParameterCount(), 5u);
    EXPECT_EQ(info.getParameterInfo(0).getMin().getUInt(), 0xFFFFFFFFu);
    EXPECT_EQ(info.getParameterInfo(0).getMax().getUInt(), 0xFFFFFFFFu);
    EXPECT_EQ(info.getParameterInfo(0).getDefault().getUInt(), 7u);
    EXPECT_EQ(info.getParameterInfo(1).getMin().getUInt(), 0xFFu);
    EXPECT_EQ(info.getParameterInfo(1).getMax().getUInt(), 1u);
    EXPECT_EQ(info.getParameterInfo(1).getDefault().getUInt(), 3u);
    EXPECT_EQ(info.getParameterInfo(2).getMin().getInt(), 127);
    EXPECT_EQ(info.getParameterInfo(2).getMax().getInt(), 44);
    EXPECT_EQ(info.getParameterInfo(3).getAttribute().getFlags(), 0x1A);
    EXPECT_FALSE(info.getParameterInfo(4).getNominal().isValid());

    // Each of these ends the whole decoding with an empty description and the conversion line.
    const char* const failing[] = {
        R"({"strAddress": "/a", "type": "UINT32", "max": "4294967296"})",
        R"({"strAddress": "/a", "type": "UINT8", "def": "-4294967296"})",
        R"({"strAddress": "/a", "type": "SINT32", "max": "2147483648"})",
        R"({"strAddress": "/a", "type": "SINT16", "min": "-2147483649"})",
        R"({"strAddress": "/a", "type": "UINT8", "patternX": "*70000"})",
        R"({"strAddress": "/a", "type": "UINT8", "patternY": "268435457"})",
        R"({"strAddress": "/a", "type": "UINT8", "patternX": "*"})",
        R"({"strAddress": "/a", "type": "UINT16", "min": "abc"})",
        R"({"strAddress": "/a", "type": "BOOL", "def": ""})",
        R"({"strAddress": "/a", "type": "FLOAT", "max": "1e40"})",
        R"({"strAddress": "/a", "type": "FLOAT", "step": "x"})",
        R"({"strAddress": "/a", "type": "STRING", "max": "-"})",
        R"({"strAddress": "/a", "type": "UINT8", "scaling": -1})",
        R"({"strAddress": "/a", "type": "UINT8", "scaling": 4294967296.0})",
        R"({"strAddress": "/a", "type": "UINT8", "attr": {"private": 1e30}})",
    };
    for (const char* entry : failing) {
        std::string out;
        info = decode(withEntries(std::string(R"({"strAddress": "/ok", "type": "UINT8"},)") + entry), out);
        EXPECT_FALSE(info.hasParameters()) << entry;
        EXPECT_EQ(info.getName(), "") << entry;
        EXPECT_EQ(out, UNKNOWN_EXCEPTION) << entry;
    }

    std::string out;
    info = decode(R"({"component": {"name": "T", "majorVer": 5e9}, "parameters": []})", out);
    EXPECT_EQ(out, UNKNOWN_EXCEPTION);
    EXPECT_EQ(info.getName(), "");
    info = decode(
        R"({"component": {"name": "T", "majorVer": 4294967295.9, "maxX": 2.9, "minY": -0.5}, "parameters": []})", out);
    EXPECT_EQ(out, "[E] JSON: 'componentInfo' decode error.\n"); // -0.5 is 0: a minimum below 1
    info = decode(R"({"component": {"name": "T", "majorVer": 4294967295.9, "maxX": 2.9}, "parameters": []})", out);
    EXPECT_EQ(out, "");
    EXPECT_EQ(info.getVersion(), 0xFFFFFFFFu);
    EXPECT_EQ(info.getMaxX(), 2u);
}
