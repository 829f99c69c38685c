// Typed readers of one member of a JSON object, each with a default, and member and element look-ups that never
// fail. Shared by the compiler's document loaders and the compile-result parser.
//
// A reader returns 0 when it read the value, and COMPILER_E_FAILED when the destination received the default:
// the source is not an object, the key is absent, or the value is of a kind the reader does not take (null
// included). Floats are truncated toward zero and saturate instead of overflowing:
//   u32: clamped to the int64 range, then the low 32 bits (1e30 -> 0xFFFFFFFF, -1e30 -> 0);
//   u64: below -2^63 -> 0x8000000000000000, negative values wrap, 2^64 and above -> 0xFFFFFFFFFFFFFFFF.
// Integers keep their low 32 bits (u32) or are reinterpreted as unsigned (u64), so -1 reads as all ones.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "compiler_Result.h"
#include "klib_Types.h"
#include "pdb_JsonAdapter.h"

namespace Compiler {

using JsonValue = PDB::JsonValue;

// Takes a string.
i32 readJsonString(const JsonValue& object, const char* key, std::string& out, std::string_view defaultValue);
// Takes a signed or unsigned integer, a float or a boolean (1 or 0).
i32 readJsonUInt32(const JsonValue& object, const char* key, u32& out, u32 defaultValue);
// Takes a signed or unsigned integer or a float.
i32 readJsonUInt64(const JsonValue& object, const char* key, u64& out, u64 defaultValue);
// Takes a boolean.
i32 readJsonBool(const JsonValue& object, const char* key, bool& out, bool defaultValue);

// The member, or the null value when the value is no object or has no such key.
const JsonValue& jsonMember(const JsonValue& value, const char* key);
// The element, or the null value when the value is no array or the index is beyond it.
const JsonValue& jsonElement(const JsonValue& value, size_t index);
// 0 for null, the members of an object, the elements of an array, 1 for any other value.
size_t jsonElementCount(const JsonValue& value);
// The one null value the look-ups return; it is never changed.
const JsonValue& jsonNull();

// How parseJsonText ended.
enum class JsonParseOutcome {
    PARSED,
    LIBRARY_ERROR, // the library refused the text; its "message: " and "exception id: " lines are on stdout
    OTHER_ERROR,   // anything else (memory); nothing printed, the caller logs its own line
};
// Parses text up to its first NUL byte as one strict JSON value. out is null unless the outcome is PARSED.
JsonParseOutcome parseJsonText(const char* text, JsonValue& out);

// Parses text as parseJsonText and runs convert(root) when it parsed. False when something other than the
// library's refusal went wrong (memory, during parsing or conversion): the caller then logs its own line.
template <typename Convert> bool convertJsonText(const std::string& text, Convert&& convert)
{
    JsonValue root;
    switch (parseJsonText(text.c_str(), root)) {
    case JsonParseOutcome::PARSED:
        return PDB::JsonAdapter::invoke([&]() -> i32 {
                   convert(static_cast<const JsonValue&>(root));
                   return 0;
               }) == 0;
    case JsonParseOutcome::LIBRARY_ERROR:
        return true;
    default:
        return false;
    }
}

} // namespace Compiler
