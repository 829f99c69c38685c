// The one adapter of the JSON library: every call into it goes through here, and its exceptions become result
// codes. Parsing is strict (no comments, no trailing commas). Look-ups never throw: they test the member's
// presence and kind and answer null or "absent" instead.
//
// Result codes: 0; 0x80010000 malformed document (parse error); 0x80020000 a value of the wrong kind (type
// error); 0x80000003 an index or key out of range; 0x80040000 out of memory; 0x80000000 any other library
// failure; 0x80000001 a null argument.
#pragma once

#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "klib_Types.h"
#include "pdb_Result.h"

namespace PDB {

using JsonValue = nlohmann::json;

// The kind and contents of a scalar value, for readers that apply conversion rules of their own.
enum class JsonScalarKind : u8 { NONE, BOOLEAN, INTEGER, UNSIGNED, FLOAT, STRING };
struct JsonScalar
{
    JsonScalarKind kind = JsonScalarKind::NONE; // NONE: absent, null, an object or an array
    bool flag = false;                          // BOOLEAN
    i64 integer = 0;                            // INTEGER
    u64 unsignedInteger = 0;                    // UNSIGNED
    double real = 0.0;                          // FLOAT
    const std::string* text = nullptr;          // STRING, valid while the value lives
};

// What a failed call reported: the result code, and for the library's own exceptions its text and numeric id.
struct JsonError
{
    i32 result = 0;
    bool fromLibrary = false; // an exception of the library (id and message are its own)
    int id = 0;
    std::string message;
};

class JsonAdapter
{
public:
    static constexpr i32 RESULT_FAILED = PDB::RESULT_FAILED;
    static constexpr i32 RESULT_BAD_ARGUMENT = PDB::RESULT_BAD_ARGUMENT;
    static constexpr i32 RESULT_OUT_OF_RANGE = PDB::RESULT_OUT_OF_RANGE;
    static constexpr i32 RESULT_PARSE_ERROR = PDB::RESULT_MALFORMED;
    static constexpr i32 RESULT_TYPE_ERROR = PDB::RESULT_TYPE_MISMATCH;
    static constexpr i32 RESULT_NO_MEMORY = PDB::RESULT_NO_MEMORY;

    // Results of getUInt32.
    static constexpr i32 NUMBER_ABSENT = 1; // null pointer, or neither a number nor a boolean

    // Parses a NUL-terminated text, or length bytes. On failure out is null and error (optional) is filled.
    static i32 parse(const char* text, JsonValue& out, JsonError* error = nullptr);
    static i32 parse(const char* data, size_t length, JsonValue& out, JsonError* error = nullptr);
    // Serialises (indent < 0: compact). Texts that are not valid UTF-8 give 0x80020000.
    static i32 dump(const JsonValue& value, std::string& out, int indent = -1, JsonError* error = nullptr);
    // Serialises like dump, but writes U+FFFD for every invalid UTF-8 sequence instead of failing, so a
    // document that carries foreign texts (plug-in names, stored strings) always leaves. Valid text is
    // written byte for byte as dump writes it.
    static i32 dumpReplacing(const JsonValue& value, std::string& out, int indent = -1, JsonError* error = nullptr);

    // Runs a callable that uses the library and turns its exceptions into result codes; the callable's own
    // i32 result is returned when it completes.
    template <typename F> static i32 invoke(F&& function, JsonError* error = nullptr) noexcept
    {
        try {
            return std::forward<F>(function)();
        } catch (const nlohmann::json::exception& e) {
            return report(e, error);
        } catch (const std::bad_alloc&) {
            return report(RESULT_NO_MEMORY, error);
        } catch (...) {
            return report(RESULT_FAILED, error);
        }
    }

    // Writes "message: <text>\n" and "exception id: <id>\n" to standard output.
    static void printError(const JsonError& error);

    // The member of an object, or null when the value is no object or has no such key.
    static const JsonValue* findMember(const JsonValue& object, const char* key);
    // The element of an array, or null when the value is no array or the index is beyond it.
    static const JsonValue* getElement(const JsonValue& array, size_t index);
    // Elements of an array; 0 for anything else.
    static size_t getArraySize(const JsonValue& array);
    // The text of a string value; null for a null pointer or another kind.
    static const std::string* getText(const JsonValue* value);
    // A number as a u32: booleans count as 0 or 1 and floats are truncated toward zero. 0 with out set;
    // NUMBER_ABSENT for another kind (out untouched); 0x80000003 when the value lies outside 0..0xFFFFFFFF.
    static i32 getUInt32(const JsonValue* value, u32& out);
    // A number as 64 bits in two's complement (negative integers wrap), under the same rules; a float outside
    // -2^63..2^64 gives 0x80000003.
    static i32 getBits64(const JsonValue* value, u64& out);
    static bool isNull(const JsonValue* value) { return value == nullptr || value->is_null(); }
    // The value's kind and, for a scalar, its contents as stored (no conversion).
    static JsonScalar getScalar(const JsonValue* value);
    // Members of an object, elements of an array; 0 for null and 1 for any other value.
    static size_t getElementCount(const JsonValue& value);

private:
    static i32 report(const nlohmann::json::exception& e, JsonError* error);
    static i32 report(i32 result, JsonError* error);
};

} // namespace PDB
