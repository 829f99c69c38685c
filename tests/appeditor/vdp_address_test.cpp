// Editor-link addresses, parameter descriptions as arguments, and value/text conversion.
#include <gtest/gtest.h>

#include <string>

#include "pdb_ParameterInfo.h"
#include "vdp_Address.h"
#include "vdp_ExpressionAdapter.h"
#include "vdp_Result.h"

using namespace VDProtocol;

namespace {

PDB::ParameterInfo parameter(u8 type, const char* kind = "", const char* unit = "dB")
{
    PDB::ParameterInfo info;
    info.setTypeCode(type);
    info.setMin(KVariant(-10));
    info.setMax(KVariant(10));
    info.setDefault(KVariant(0));
    info.setNominal(KVariant(1));
    info.setStep(KVariant(2));
    info.setScaling(10);
    info.setTexts(unit, kind, "ui");
    return info;
}

} // namespace

TEST(Address, ParameterAddressRoundTripAndForms)
{
    std::string text;
    ASSERT_EQ(makeParameterAddress("AudioCompo", 12, "/ZOZ/Object/Pair", 0, 3, text), 0);
    EXPECT_EQ(text, "AudioCompo/#12/ZOZ/Object/Pair:0:3");
    EXPECT_EQ(makeParameterAddress("", 12, "/P", 0, 0, text), RESULT_NG);
    EXPECT_EQ(makeParameterAddress("A", 12, "", 0, 0, text), RESULT_NG);
    EXPECT_EQ(text, "AudioCompo/#12/ZOZ/Object/Pair:0:3");

    const struct
    {
        const char* text;
        i32 result;
        const char* name = "";
        u32 uid = 0;
        const char* path = "";
        u32 x = 0;
        u32 y = 0;
    } cases[] = {
        {"AudioCompo/#12/ZOZ/Object/Pair:0:3", 0, "AudioCompo", 12, "/ZOZ/Object/Pair", 0, 3},
        {"AudioCompo/#0x10/ZOZ/Object/PhysicalPosition@xyz@x:-1:0x1F", 0, "AudioCompo", 16,
         "/ZOZ/Object/PhysicalPosition@xyz@x", 0xFFFFFFFF, 31},
        {"/#7/P:017:4294967295", 0, "", 7, "/P", 15, 0xFFFFFFFF},
        {"AudioCompo/#12/ZOZ/Object/Pair:0", RESULT_NG},
        {"AudioCompo/#12/ZOZ/Object/Pair", RESULT_NG},
        {"AudioCompo/#12/P:0:0:0", RESULT_NG},
        {"AudioCompo/12/ZOZ/Object/Pair:0:3", RESULT_NG},
        {"AudioCompo/#12:0:3", RESULT_NG},
        {"AudioCompo:0:3", RESULT_NG},
        {"AudioCompo/#1.5/P:0:0", RESULT_NG},
        {"AudioCompo/#12/P:0.5:0", RESULT_NG},
        {"AudioCompo/#12/P::0", static_cast<i32>(0x80000001u)},
        {"AudioCompo/#/P:0:0", static_cast<i32>(0x80000001u)},
        {"AudioCompo/#12/P:x:0", static_cast<i32>(0x80000002u)},
    };
    for (const auto& c : cases) {
        std::string name = "unchanged";
        std::string path = "unchanged";
        u32 uid = 99;
        u32 x = 99;
        u32 y = 99;
        EXPECT_EQ(parseParameterAddress(c.text, name, uid, path, x, y), c.result) << c.text;
        if (c.result == 0) {
            EXPECT_EQ(name, c.name);
            EXPECT_EQ(uid, c.uid);
            EXPECT_EQ(path, c.path);
            EXPECT_EQ(x, c.x);
            EXPECT_EQ(y, c.y);
        } else {
            EXPECT_EQ(name, "unchanged") << c.text;
            EXPECT_EQ(uid, 99u) << c.text;
        }
    }
}

TEST(Address, ComponentAddress)
{
    const struct
    {
        const char* text;
        i32 result;
        const char* name = "";
        u32 uid = 0;
    } cases[] = {
        {"AudioCompo/#7", 0, "AudioCompo", 7},
        {"#7", 0, "#7", 7},
        {"AudioCompo/7", RESULT_NG},
        {"AudioCompo", RESULT_NG},
        {"AudioCompo/", RESULT_NG},
        {"AudioCompo/#", static_cast<i32>(0x80000001u)},
        {"AudioCompo/#7/P", static_cast<i32>(0x80000002u)},
    };
    for (const auto& c : cases) {
        std::string name;
        u32 uid = 0;
        EXPECT_EQ(parseComponentAddress(c.text, name, uid), c.result) << c.text;
        if (c.result == 0) {
            EXPECT_EQ(name, c.name);
            EXPECT_EQ(uid, c.uid);
        }
    }
}

TEST(ParameterArguments, TypeNumbersAndNamesByType)
{
    const struct
    {
        u8 type;
        u32 number;
    } types[] = {{0x21, 1}, {0x22, 2},  {0x24, 3},  {0x11, 4}, {0x12, 5}, {0x41, 5},
                 {0x14, 6}, {0x34, 10}, {0x50, 11}, {0x60, 0}, {0x00, 0}};
    for (const auto& t : types) {
        ArgumentMap arguments;
        const i32 result = setParameterArguments(arguments, parameter(t.type), KVariant(3));
        EXPECT_EQ(result, t.number != 0 ? 0 : RESULT_NG) << std::hex << int(t.type);
        EXPECT_EQ(arguments.getInt("prmType"), static_cast<i32>(t.number));
        EXPECT_EQ(arguments.empty(), t.number == 0);
    }

    ArgumentMap number;
    ASSERT_EQ(number.setString("prmUnit", std::string("kept")), 0);
    ASSERT_EQ(setParameterArguments(number, parameter(0x24, "Level"), KVariant(-3)), 0);
    EXPECT_EQ(number.getNames(),
              (std::vector<std::string>{"prmDef", "prmDefUI", "prmKind", "prmMax", "prmMin", "prmNominal", "prmScale",
                                        "prmStep", "prmType", "prmUnit", "prmValue"}));
    EXPECT_EQ(number.getInt("prmMin"), -10);
    EXPECT_EQ(number.getInt("prmNominal"), 1);
    EXPECT_EQ(number.getInt("prmStep"), 2);
    EXPECT_STREQ(number.getString("prmScale"), "10");
    EXPECT_STREQ(number.getString("prmUnit"), "kept");
    EXPECT_STREQ(number.getString("prmKind"), "Level");
    EXPECT_STREQ(number.getString("prmDefUI"), "ui");
    EXPECT_EQ(number.getInt("prmValue"), -3);
    EXPECT_EQ(number.getKind("prmValue"), KVariant::KIND_INT32);

    ArgumentMap text;
    ASSERT_EQ(setParameterArguments(text, parameter(0x50), KVariant("label")), 0);
    EXPECT_EQ(text.getNames(), (std::vector<std::string>{"prmDefUI", "prmKind", "prmMax", "prmType", "prmValue"}));
    EXPECT_STREQ(text.getString("prmValue"), "label");
}

TEST(ExpressionAdapter, ValueToText)
{
    const ExpressionAdapter adapter;
    const std::string longUnit(40, 'u');
    const struct
    {
        PDB::ParameterInfo info;
        KVariant value;
        const char* text; // null: no text
    } cases[] = {
        {parameter(0x24), KVariant(-5), "-5"},
        {parameter(0x14), KVariant(4294967295u), "-1"},
        {parameter(0x34), KVariant(1.5f), "1.500000"},
        {parameter(0x50), KVariant("abc"), "abc"},
        {parameter(0x60), KVariant(static_cast<const void*>("xy"), 2u), nullptr},
        {parameter(0x24, "Unknown"), KVariant(7), "7"},
        {parameter(0x24, "OnOff"), KVariant(10), "ON"},
        {parameter(0x24, "OnOff"), KVariant(-10), "OFF"},
        {parameter(0x24, "OnOff"), KVariant(3), nullptr},
        {parameter(0x24, "OnOff", longUnit.c_str()), KVariant(10), "ON"},
    };
    for (const auto& c : cases) {
        const KVariant text = adapter.valueToText(c.info, c.value);
        if (c.text == nullptr) {
            EXPECT_EQ(text.getKind(), KVariant::KIND_EMPTY);
        } else {
            ASSERT_EQ(text.getKind(), KVariant::KIND_STRING) << c.text;
            EXPECT_STREQ(text.getString(), c.text);
        }
    }
}

TEST(ExpressionAdapter, TextToValue)
{
    const ExpressionAdapter adapter;
    const struct
    {
        PDB::ParameterInfo info;
        const char* text;
        i32 result;
        u32 kind;
        u32 bits = 0;   // integer bits (kinds 0 and 1)
        f32 number = 0; // kind 3
    } cases[] = {
        {parameter(0x14), "0x1F", 0, KVariant::KIND_UINT32, 31, 0},
        {parameter(0x12), "017", 0, KVariant::KIND_UINT32, 15, 0},
        {parameter(0x41), "1", 0, KVariant::KIND_UINT32, 1, 0},
        {parameter(0x11), "-1", 0, KVariant::KIND_UINT32, 0xFFFFFFFF, 0},
        {parameter(0x24), "-6", 0, KVariant::KIND_INT32, 0xFFFFFFFA, 0},
        {parameter(0x34), "-6", 0, KVariant::KIND_FLOAT32, 0, -6.0f},
        {parameter(0x34), "0x10", 0, KVariant::KIND_FLOAT32, 0, 16.0f},
        {parameter(0x34), "2.5", 0, KVariant::KIND_FLOAT32, 0, 2.5f},
        {parameter(0x24, "OnOff"), "on", 0, KVariant::KIND_INT32, 1, 0},
        {parameter(0x24), "1.5", RESULT_NG, KVariant::KIND_EMPTY},
        {parameter(0x60), "1", RESULT_NG, KVariant::KIND_EMPTY},
        {parameter(0x24), "", static_cast<i32>(0x80000001u), KVariant::KIND_EMPTY},
        {parameter(0x24), "zz", static_cast<i32>(0x80000002u), KVariant::KIND_EMPTY},
    };
    for (const auto& c : cases) {
        KVariant value;
        EXPECT_EQ(adapter.textToValue(value, c.info, KVariant(c.text)), c.result) << c.text;
        ASSERT_EQ(value.getKind(), c.kind) << c.text;
        if (c.kind == KVariant::KIND_FLOAT32) {
            EXPECT_EQ(value.getFloat(), c.number) << c.text;
        } else if (c.kind != KVariant::KIND_EMPTY) {
            EXPECT_EQ(value.getUInt(), c.bits) << c.text;
        }
    }
    KVariant text;
    ASSERT_EQ(adapter.textToValue(text, parameter(0x50), KVariant("label")), 0);
    EXPECT_STREQ(text.getString(), "label");
    EXPECT_EQ(adapter.textToValue(text, parameter(0x24), KVariant(5)), RESULT_NG); // not a text
}
