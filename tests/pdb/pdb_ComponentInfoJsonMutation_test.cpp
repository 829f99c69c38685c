// Mutations of the ten-type fixture: every document must decode without a fault (the suite runs under the
// address and undefined-behaviour sanitizers) and yield either no blocks, or blocks with non-empty unique
// addresses that the address index finds at their own index.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "pdb_ComponentInfoJsonFixture.h"
#include "pdb_ComponentInfoParserJSON.h"

using namespace PDB;

namespace {

class MutationSweep : public testing::Test
{
protected:
    void SetUp() override { testing::internal::CaptureStdout(); }
    void TearDown() override { testing::internal::GetCapturedStdout(); }

    // Decodes one document and checks the block invariants; returns the block count.
    u32 check(const std::string& text)
    {
        ++m_Documents;
        const ComponentInfo info = ComponentInfoParserJSON::createFromJson(text.c_str());
        std::set<std::string> addresses;
        for (u32 i = 0; i < info.getParameterCount(); ++i) {
            const std::string& address = info.getParameterInfo(i).getAddress();
            EXPECT_FALSE(address.empty()) << text;
            EXPECT_TRUE(addresses.insert(address).second) << text;
            EXPECT_EQ(info.findParameterIndex(address.c_str()), i) << text;
        }
        return info.getParameterCount();
    }

    static JsonValue fixture()
    {
        JsonValue document;
        EXPECT_EQ(JsonAdapter::parse(cinfo_fixture::DOCUMENT, document), 0);
        return document;
    }

    static std::string dump(const JsonValue& value)
    {
        std::string text;
        EXPECT_EQ(JsonAdapter::dump(value, text), 0);
        return text;
    }

    u32 m_Documents = 0;
};

} // namespace

TEST_F(MutationSweep, TruncationAtEveryOffset)
{
    const std::string text = cinfo_fixture::DOCUMENT;
    EXPECT_EQ(check(text), 10u);
    for (size_t length = 0; length < text.size(); ++length) {
        EXPECT_EQ(check(text.substr(0, length)), 0u) << length; // every cut document is malformed
    }
    EXPECT_GT(m_Documents, 1000u);
}

TEST_F(MutationSweep, ByteFlipsInsertionsAndDeletions)
{
    const std::string text = cinfo_fixture::DOCUMENT;
    std::mt19937 rng(0xC1C1u);
    const char interesting[] = {'"', '{', '}', '[', ']', ',', ':', '-', '*', '/', '0', '9', 'e', '.', '\\', '\0'};
    for (int round = 0; round < 2000; ++round) {
        std::string mutated = text;
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !mutated.empty(); ++e) {
            const size_t at = rng() % mutated.size();
            switch (rng() % 4) {
            case 0:
                mutated[at] = static_cast<char>(mutated[at] ^ (1u << (rng() % 8)));
                break;
            case 1:
                mutated.insert(at, 1, interesting[rng() % sizeof(interesting)]);
                break;
            case 2:
                mutated.erase(at, 1 + rng() % 3);
                break;
            default:
                mutated[at] = interesting[rng() % sizeof(interesting)];
                break;
            }
        }
        check(mutated);
    }
    EXPECT_EQ(m_Documents, 2000u);
}

TEST_F(MutationSweep, EveryValueSwappedForOtherKindsAndNumbers)
{
    const JsonValue document = fixture();
    const JsonValue flat = document.flatten();
    std::vector<JsonValue> replacements = {
        nullptr, true, false, 12, -7, 1.5, "text", JsonValue::array(), JsonValue::object()};
    // Huge, negative and fractional numbers, as numbers and as value texts.
    for (const char* number : {"1e300", "-1e300", "-1", "4294967296", "0.5", "-0.5", "18446744073709551615",
                               "-9223372036854775808", "2147483648", "-2147483649", "65536", "1e-50"}) {
        JsonValue parsed;
        ASSERT_EQ(JsonAdapter::parse(number, parsed), 0);
        replacements.push_back(parsed);
        replacements.emplace_back(number);
        replacements.emplace_back(std::string("*") + number);
    }
    u32 decodedWithBlocks = 0;
    for (const auto& leaf : flat.items()) {
        const JsonValue::json_pointer pointer(leaf.key());
        for (const JsonValue& replacement : replacements) {
            JsonValue mutated = document;
            mutated[pointer] = replacement;
            if (check(dump(mutated)) > 0) {
                ++decodedWithBlocks;
            }
        }
    }
    // Whole parts of the document swapped for other kinds as well.
    for (const char* part : {"/component", "/parameters", "/parameters/0", "/parameters/0/attr"}) {
        for (const JsonValue& replacement : replacements) {
            JsonValue mutated = document;
            mutated[JsonValue::json_pointer(part)] = replacement;
            check(dump(mutated));
        }
    }
    EXPECT_GT(m_Documents, 3000u);
    EXPECT_GT(decodedWithBlocks, 100u); // most swaps keep the rest of the document usable
}

TEST_F(MutationSweep, NestingAThousandDeep)
{
    const std::string text = cinfo_fixture::DOCUMENT;
    const std::string open(1000, '['), close(1000, ']');
    std::string deepObject;
    for (int i = 0; i < 1000; ++i) {
        deepObject += "{\"a\":";
    }
    deepObject += "1" + std::string(1000, '}');

    EXPECT_EQ(check(R"({"component": {"name": "T"}, "parameters": )" + open + close + "}"), 0u);
    EXPECT_EQ(check(R"({"component": )" + deepObject + R"(, "parameters": [{"strAddress": "/a", "type": "UINT8"}]})"),
              1u);
    EXPECT_EQ(check(R"({"component": {"name": "T"}, "parameters": [{"strAddress": "/a", "type": "UINT8", "attr": )" +
                    deepObject + "}]}"),
              1u);
    EXPECT_EQ(check(open + text + close), 0u);
    EXPECT_EQ(check(open + text), 0u); // unterminated
}
