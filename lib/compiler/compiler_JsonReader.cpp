#include "compiler_JsonReader.h"

#include <cmath>

namespace Compiler {

using PDB::JsonAdapter;
using PDB::JsonScalar;
using PDB::JsonScalarKind;

namespace {

JsonScalar memberScalar(const JsonValue& object, const char* key)
{
    return JsonAdapter::getScalar(key != nullptr ? JsonAdapter::findMember(object, key) : nullptr);
}

u32 truncateToUInt32(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    const double whole = std::trunc(value);
    i64 clamped = 0;
    if (whole >= 0x1p63) {
        clamped = INT64_MAX;
    } else if (whole < -0x1p63) {
        clamped = INT64_MIN;
    } else {
        clamped = static_cast<i64>(whole);
    }
    return static_cast<u32>(static_cast<u64>(clamped));
}

u64 truncateToUInt64(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    const double whole = std::trunc(value);
    if (whole >= 0x1p64) {
        return UINT64_MAX;
    }
    if (whole >= 0.0) {
        return static_cast<u64>(whole);
    }
    if (whole >= -0x1p63) {
        return static_cast<u64>(static_cast<i64>(whole));
    }
    return 0x8000000000000000u;
}

} // namespace

const JsonValue& jsonNull()
{
    static const JsonValue s_null;
    return s_null;
}

i32 readJsonString(const JsonValue& object, const char* key, std::string& out, std::string_view defaultValue)
{
    const JsonScalar scalar = memberScalar(object, key);
    if (scalar.kind == JsonScalarKind::STRING) {
        out = *scalar.text;
        return COMPILER_OK;
    }
    out = defaultValue;
    return COMPILER_E_FAILED;
}

i32 readJsonUInt32(const JsonValue& object, const char* key, u32& out, u32 defaultValue)
{
    const JsonScalar scalar = memberScalar(object, key);
    switch (scalar.kind) {
    case JsonScalarKind::BOOLEAN:
        out = scalar.flag ? 1 : 0;
        return COMPILER_OK;
    case JsonScalarKind::INTEGER:
        out = static_cast<u32>(static_cast<u64>(scalar.integer));
        return COMPILER_OK;
    case JsonScalarKind::UNSIGNED:
        out = static_cast<u32>(scalar.unsignedInteger);
        return COMPILER_OK;
    case JsonScalarKind::FLOAT:
        out = truncateToUInt32(scalar.real);
        return COMPILER_OK;
    default:
        out = defaultValue;
        return COMPILER_E_FAILED;
    }
}

i32 readJsonUInt64(const JsonValue& object, const char* key, u64& out, u64 defaultValue)
{
    const JsonScalar scalar = memberScalar(object, key);
    switch (scalar.kind) {
    case JsonScalarKind::INTEGER:
        out = static_cast<u64>(scalar.integer);
        return COMPILER_OK;
    case JsonScalarKind::UNSIGNED:
        out = scalar.unsignedInteger;
        return COMPILER_OK;
    case JsonScalarKind::FLOAT:
        out = truncateToUInt64(scalar.real);
        return COMPILER_OK;
    default:
        out = defaultValue;
        return COMPILER_E_FAILED;
    }
}

i32 readJsonBool(const JsonValue& object, const char* key, bool& out, bool defaultValue)
{
    const JsonScalar scalar = memberScalar(object, key);
    if (scalar.kind == JsonScalarKind::BOOLEAN) {
        out = scalar.flag;
        return COMPILER_OK;
    }
    out = defaultValue;
    return COMPILER_E_FAILED;
}

const JsonValue& jsonMember(const JsonValue& value, const char* key)
{
    const JsonValue* member = JsonAdapter::findMember(value, key);
    return member != nullptr ? *member : jsonNull();
}

const JsonValue& jsonElement(const JsonValue& value, size_t index)
{
    const JsonValue* element = JsonAdapter::getElement(value, index);
    return element != nullptr ? *element : jsonNull();
}

size_t jsonElementCount(const JsonValue& value)
{
    return JsonAdapter::getElementCount(value);
}

JsonParseOutcome parseJsonText(const char* text, JsonValue& out)
{
    PDB::JsonError error;
    if (JsonAdapter::parse(text, out, &error) == 0) {
        return JsonParseOutcome::PARSED;
    }
    if (error.fromLibrary) {
        JsonAdapter::printError(error);
        return JsonParseOutcome::LIBRARY_ERROR;
    }
    return JsonParseOutcome::OTHER_ERROR;
}

} // namespace Compiler
