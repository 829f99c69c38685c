#include <gtest/gtest.h>

#include "pdb_JsonAdapter.h"

using PDB::JsonAdapter;
using PDB::JsonValue;

// The replacing dump writes U+FFFD where the strict one refuses, and is byte-identical on valid text.
TEST(JsonAdapterDump, ReplacingFormOnlyDiffersOnInvalidUtf8)
{
    JsonValue good = {{"b", "\xC3\xA9t\xC3\xA9"}, {"a", {1, 2}}};
    std::string strict;
    std::string replaced;
    ASSERT_EQ(JsonAdapter::dump(good, strict, 2), 0);
    ASSERT_EQ(JsonAdapter::dumpReplacing(good, replaced, 2), 0);
    EXPECT_EQ(strict, replaced);
    EXPECT_EQ(replaced, "{\n  \"a\": [\n    1,\n    2\n  ],\n  \"b\": \"\xC3\xA9t\xC3\xA9\"\n}");

    JsonValue bad = {{"name", std::string("ab\xFF"
                                          "c")}};
    EXPECT_EQ(JsonAdapter::dump(bad, strict), JsonAdapter::RESULT_TYPE_ERROR);
    ASSERT_EQ(JsonAdapter::dumpReplacing(bad, replaced), 0);
    EXPECT_EQ(replaced, "{\"name\":\"ab\xEF\xBF\xBD"
                        "c\"}");
}
