#include "pdb_JsonAdapter.h"

#include <cmath>

#include "klib_Print.h"

namespace PDB {

i32 JsonAdapter::report(const nlohmann::json::exception& e, JsonError* error)
{
    i32 result = RESULT_FAILED;
    if (dynamic_cast<const nlohmann::json::parse_error*>(&e) != nullptr) {
        result = RESULT_PARSE_ERROR;
    } else if (dynamic_cast<const nlohmann::json::type_error*>(&e) != nullptr) {
        result = RESULT_TYPE_ERROR;
    } else if (dynamic_cast<const nlohmann::json::out_of_range*>(&e) != nullptr) {
        result = RESULT_OUT_OF_RANGE;
    }
    if (error != nullptr) {
        error->result = result;
        error->fromLibrary = true;
        error->id = e.id;
        try {
            error->message = e.what();
        } catch (...) {
            error->message.clear();
        }
    }
    return result;
}

i32 JsonAdapter::report(i32 result, JsonError* error)
{
    if (error != nullptr) {
        error->result = result;
        error->fromLibrary = false;
        error->id = 0;
        error->message.clear();
    }
    return result;
}

i32 JsonAdapter::parse(const char* text, JsonValue& out, JsonError* error)
{
    out = nullptr;
    if (text == nullptr) {
        return report(RESULT_BAD_ARGUMENT, error);
    }
    return invoke(
        [&]() -> i32 {
            out = JsonValue::parse(text);
            return 0;
        },
        error);
}

i32 JsonAdapter::parse(const char* data, size_t length, JsonValue& out, JsonError* error)
{
    out = nullptr;
    if (data == nullptr && length != 0) {
        return report(RESULT_BAD_ARGUMENT, error);
    }
    const i32 result = invoke(
        [&]() -> i32 {
            out = JsonValue::parse(data, data + length);
            return 0;
        },
        error);
    if (result < 0) {
        out = nullptr;
    }
    return result;
}

i32 JsonAdapter::dump(const JsonValue& value, std::string& out, int indent, JsonError* error)
{
    return invoke(
        [&]() -> i32 {
            out = value.dump(indent);
            return 0;
        },
        error);
}

i32 JsonAdapter::dumpReplacing(const JsonValue& value, std::string& out, int indent, JsonError* error)
{
    return invoke(
        [&]() -> i32 {
            out = value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
            return 0;
        },
        error);
}

void JsonAdapter::printError(const JsonError& error)
{
    klib_printf("message: %s\n", error.message.c_str());
    klib_printf("exception id: %d\n", error.id);
}

const JsonValue* JsonAdapter::findMember(const JsonValue& object, const char* key)
{
    if (key == nullptr || !object.is_object()) {
        return nullptr;
    }
    // The object's own map is searched directly: find on a const value never throws and never inserts.
    const auto& members = object.get_ref<const JsonValue::object_t&>();
    const auto it = members.find(key);
    return it != members.end() ? &it->second : nullptr;
}

const JsonValue* JsonAdapter::getElement(const JsonValue& array, size_t index)
{
    if (!array.is_array()) {
        return nullptr;
    }
    const auto& elements = array.get_ref<const JsonValue::array_t&>();
    return index < elements.size() ? &elements[index] : nullptr;
}

size_t JsonAdapter::getArraySize(const JsonValue& array)
{
    return array.is_array() ? array.get_ref<const JsonValue::array_t&>().size() : 0;
}

const std::string* JsonAdapter::getText(const JsonValue* value)
{
    if (value == nullptr || !value->is_string()) {
        return nullptr;
    }
    return value->get_ptr<const JsonValue::string_t*>();
}

i32 JsonAdapter::getUInt32(const JsonValue* value, u32& out)
{
    if (value == nullptr) {
        return NUMBER_ABSENT;
    }
    switch (value->type()) {
    case JsonValue::value_t::boolean:
        out = *value->get_ptr<const JsonValue::boolean_t*>() ? 1 : 0;
        return 0;
    case JsonValue::value_t::number_unsigned: {
        const auto number = *value->get_ptr<const JsonValue::number_unsigned_t*>();
        if (number > 0xFFFFFFFFu) {
            return RESULT_OUT_OF_RANGE;
        }
        out = static_cast<u32>(number);
        return 0;
    }
    case JsonValue::value_t::number_integer: {
        const auto number = *value->get_ptr<const JsonValue::number_integer_t*>();
        if (number < 0 || number > 0xFFFFFFFFll) {
            return RESULT_OUT_OF_RANGE;
        }
        out = static_cast<u32>(number);
        return 0;
    }
    case JsonValue::value_t::number_float: {
        // Truncation toward zero; the comparison also refuses NaN.
        const double number = std::trunc(*value->get_ptr<const JsonValue::number_float_t*>());
        if (!(number >= 0.0 && number <= 4294967295.0)) {
            return RESULT_OUT_OF_RANGE;
        }
        out = static_cast<u32>(number);
        return 0;
    }
    default:
        return NUMBER_ABSENT;
    }
}

i32 JsonAdapter::getBits64(const JsonValue* value, u64& out)
{
    if (value == nullptr) {
        return NUMBER_ABSENT;
    }
    switch (value->type()) {
    case JsonValue::value_t::boolean:
        out = *value->get_ptr<const JsonValue::boolean_t*>() ? 1 : 0;
        return 0;
    case JsonValue::value_t::number_unsigned:
        out = *value->get_ptr<const JsonValue::number_unsigned_t*>();
        return 0;
    case JsonValue::value_t::number_integer:
        out = static_cast<u64>(*value->get_ptr<const JsonValue::number_integer_t*>());
        return 0;
    case JsonValue::value_t::number_float: {
        const double number = std::trunc(*value->get_ptr<const JsonValue::number_float_t*>());
        if (number >= -0x1p63 && number < 0.0) {
            out = static_cast<u64>(static_cast<i64>(number));
            return 0;
        }
        if (number >= 0.0 && number < 0x1p64) {
            out = static_cast<u64>(number);
            return 0;
        }
        return RESULT_OUT_OF_RANGE;
    }
    default:
        return NUMBER_ABSENT;
    }
}

JsonScalar JsonAdapter::getScalar(const JsonValue* value)
{
    JsonScalar scalar;
    if (value == nullptr) {
        return scalar;
    }
    switch (value->type()) {
    case JsonValue::value_t::boolean:
        scalar.kind = JsonScalarKind::BOOLEAN;
        scalar.flag = *value->get_ptr<const JsonValue::boolean_t*>();
        break;
    case JsonValue::value_t::number_integer:
        scalar.kind = JsonScalarKind::INTEGER;
        scalar.integer = *value->get_ptr<const JsonValue::number_integer_t*>();
        break;
    case JsonValue::value_t::number_unsigned:
        scalar.kind = JsonScalarKind::UNSIGNED;
        scalar.unsignedInteger = *value->get_ptr<const JsonValue::number_unsigned_t*>();
        break;
    case JsonValue::value_t::number_float:
        scalar.kind = JsonScalarKind::FLOAT;
        scalar.real = *value->get_ptr<const JsonValue::number_float_t*>();
        break;
    case JsonValue::value_t::string:
        scalar.kind = JsonScalarKind::STRING;
        scalar.text = value->get_ptr<const JsonValue::string_t*>();
        break;
    default:
        break;
    }
    return scalar;
}

size_t JsonAdapter::getElementCount(const JsonValue& value)
{
    return value.size();
}

} // namespace PDB
