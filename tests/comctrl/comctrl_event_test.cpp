// Event argument items: building with escapes and bounds, parsing and unescaping back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "comctrl_EventMessage.h"
#include "comctrl_Result.h"

using namespace ComControl;

namespace {

struct Built
{
    i32 result;
    std::string text;
};

Built append(std::string start, const char* name, const char* value, u32 size = EVENT_ARGUMENT_SIZE)
{
    std::vector<char> buffer(size + 1, '#');
    std::memcpy(buffer.data(), start.c_str(), start.size() + 1);
    u32 length = static_cast<u32>(start.size());
    const i32 rc = value != nullptr ? makeEventMessage(buffer.data(), size, &length, name, value)
                                    : makeEventName(buffer.data(), size, &length, name);
    EXPECT_EQ(std::strlen(buffer.data()), length);
    EXPECT_EQ(buffer[size], '#') << "wrote past the buffer";
    return {rc, buffer.data()};
}

// Parses every item of text, unescaping the values; stops at the end or the first failure.
i32 parseAll(const std::string& text, std::vector<std::pair<std::string, std::string>>* items)
{
    u32 at = 0;
    for (;;) {
        EventItem item;
        u32 consumed = 0;
        const i32 rc = parseEventMessage(text.c_str() + at, static_cast<u32>(text.size()) - at, &item, &consumed);
        if (rc != COMCTRL_OK) {
            return rc;
        }
        char value[EVENT_ARGUMENT_SIZE];
        u32 written = 0;
        EXPECT_EQ(unescapeEventArgument(value, sizeof(value), &written, item.m_value, item.m_valueLength), COMCTRL_OK);
        items->emplace_back(std::string(item.m_name, item.m_nameLength), std::string(value, written));
        at += consumed;
    }
}

} // namespace

TEST(EventItems, BuildersEscapeValuesAndSeparateItemsByOneBlank)
{
    struct Case
    {
        const char* start;
        const char* name;
        const char* value; // null: makeEventName
        i32 result;
        const char* text;
    };
    const Case cases[] = {
        {"", "PIN", "a b:c\\", COMCTRL_OK, "PIN:a\\ b\\:c\\\\"},
        {"", "TYPE", "Editor", COMCTRL_OK, "TYPE:Editor"},
        {"TYPE:Editor", "SYNCDIR", "1", COMCTRL_OK, "TYPE:Editor SYNCDIR:1"},
        {"", "HASH", "", COMCTRL_OK, "HASH:"},
        {"A:1", "Name2", nullptr, COMCTRL_OK, "A:1 Name2:"},
        {"", "MSG", "\\\\ ::", COMCTRL_OK, "MSG:\\\\\\\\\\ \\:\\:"},
        {"", "X", "tab\there", COMCTRL_OK, "X:tab\there"},
        {"A:1", "", "v", COMCTRL_E_FAILED, "A:1"},
        {"A:1", "SCN_0", "v", COMCTRL_E_FAILED, "A:1"},
        {"A:1", "A B", "v", COMCTRL_E_FAILED, "A:1"},
        {"A:1", "A:B", nullptr, COMCTRL_E_FAILED, "A:1"},
    };
    for (const Case& c : cases) {
        const Built built = append(c.start, c.name, c.value);
        EXPECT_EQ(built.result, c.result) << c.name;
        EXPECT_EQ(built.text, c.text) << c.name;
    }

    char buffer[EVENT_ARGUMENT_SIZE] = "";
    u32 length = 0;
    ASSERT_EQ(makeEventMessage(buffer, sizeof(buffer), &length, "UDPPORT", 50240u), COMCTRL_OK);
    ASSERT_EQ(makeEventMessage(buffer, sizeof(buffer), &length, "MAX", 4294967295u), COMCTRL_OK);
    ASSERT_EQ(makeEventMessage(buffer, sizeof(buffer), &length, "ZERO", 0u), COMCTRL_OK);
    EXPECT_STREQ(buffer, "UDPPORT:50240 MAX:4294967295 ZERO:0");
    EXPECT_EQ(makeEventMessage(buffer, sizeof(buffer), &length, "N", static_cast<const char*>(nullptr)),
              COMCTRL_E_FAILED);
    EXPECT_EQ(makeEventName(nullptr, sizeof(buffer), &length, "N"), COMCTRL_E_FAILED);
    u32 tooLong = sizeof(buffer);
    EXPECT_EQ(makeEventName(buffer, sizeof(buffer), &tooLong, "N"), COMCTRL_E_FAILED);
}

TEST(EventItems, AnArgumentOf254CharactersFitsAnd255IsRefusedWhole)
{
    // "V:" + 250 characters + " W:" = 255 with the item below; escapes count as two.
    const std::string first = "V:" + std::string(250, 'x');
    EXPECT_EQ(append(first, "W", "").result, COMCTRL_E_FAILED);
    const Built fits = append(first.substr(0, first.size() - 1), "W", "");
    EXPECT_EQ(fits.result, COMCTRL_OK);
    EXPECT_EQ(fits.text.size(), 254u);

    const Built exact = append("", "V", std::string(252, 'y').c_str());
    EXPECT_EQ(exact.result, COMCTRL_OK);
    EXPECT_EQ(exact.text.size(), 254u);
    const Built escaped = append("", "V", (std::string(251, 'y') + ":").c_str());
    EXPECT_EQ(escaped.result, COMCTRL_E_FAILED);
    EXPECT_EQ(escaped.text, "");
}

TEST(EventItems, ParsedItemsUnescapeToWhatWasBuilt)
{
    const std::vector<std::pair<std::string, std::string>> items = {
        {"PIN", "a b:c\\"}, {"E", ""}, {"SCN0INI", "12"}, {"M", " \\:lead and trail: "}, {"Z9", "\\\\"}};
    char buffer[EVENT_ARGUMENT_SIZE] = "";
    u32 length = 0;
    for (const auto& [name, value] : items) {
        ASSERT_EQ(makeEventMessage(buffer, sizeof(buffer), &length, name.c_str(), value.c_str()), COMCTRL_OK);
    }
    std::vector<std::pair<std::string, std::string>> parsed;
    EXPECT_EQ(parseAll(buffer, &parsed), COMCTRL_E_END);
    EXPECT_EQ(parsed, items);

    // Extra blanks between items and around the text are tolerated; a NUL ends the text.
    parsed.clear();
    EXPECT_EQ(parseAll(std::string("  A:1   B:2 ") + '\0' + "C:3", &parsed), COMCTRL_E_END);
    EXPECT_EQ(parsed, (std::vector<std::pair<std::string, std::string>>{{"A", "1"}, {"B", "2"}}));
}

TEST(EventItems, MalformedItemsAreRefusedAndTheLengthBoundsTheValue)
{
    struct Case
    {
        const char* text;
        i32 result;
    };
    const Case cases[] = {
        {"", COMCTRL_E_END},         {"   ", COMCTRL_E_END},      {"NAME", COMCTRL_E_FAILED},
        {":v", COMCTRL_E_FAILED},    {"A_B:1", COMCTRL_E_FAILED}, {"A :1", COMCTRL_E_FAILED},
        {"A:b:c", COMCTRL_E_FAILED}, {"A:b\\", COMCTRL_E_FAILED}, {"A:\\n", COMCTRL_E_FAILED},
        {"A:\\ ", COMCTRL_OK},       {"A:", COMCTRL_OK},
    };
    for (const Case& c : cases) {
        EventItem item;
        u32 consumed = 0;
        EXPECT_EQ(parseEventMessage(c.text, static_cast<u32>(std::strlen(c.text)), &item, &consumed), c.result)
            << c.text;
    }
    EventItem item;
    u32 consumed = 0;
    ASSERT_EQ(parseEventMessage("A:abc B:1", 3, &item, &consumed), COMCTRL_OK);
    EXPECT_EQ(std::string(item.m_value, item.m_valueLength), "a");
    EXPECT_EQ(consumed, 3u);
    // An escape cut by the length is malformed, not read past.
    EXPECT_EQ(parseEventMessage("A:x\\ y", 4, &item, &consumed), COMCTRL_E_FAILED);
    EXPECT_EQ(parseEventMessage(nullptr, 3, &item, &consumed), COMCTRL_E_FAILED);
}

TEST(EventItems, UnescapeCutsAtWholeCharactersAndRefusesBadInput)
{
    char whole[5];
    u32 written = 99;
    EXPECT_EQ(unescapeEventArgument(whole, sizeof(whole), &written, "a\\ \\:b", 6), COMCTRL_OK);
    EXPECT_STREQ(whole, "a :b");
    char out[4];
    EXPECT_EQ(unescapeEventArgument(out, sizeof(out), &written, "ab\\\\cd", 6), COMCTRL_E_LIMIT);
    EXPECT_STREQ(out, "ab\\");
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(unescapeEventArgument(out, sizeof(out), &written, "abcd\\x", 6), COMCTRL_E_FAILED);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(unescapeEventArgument(out, sizeof(out), &written, "a b", 3), COMCTRL_E_FAILED);
    EXPECT_EQ(unescapeEventArgument(out, 0, &written, "a", 1), COMCTRL_E_FAILED);
    EXPECT_EQ(unescapeEventArgument(out, sizeof(out), &written, nullptr, 0), COMCTRL_OK);
    EXPECT_STREQ(out, "");
}
