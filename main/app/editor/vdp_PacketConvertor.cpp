#include "vdp_PacketConvertor.h"

#include <charconv>
#include <cstring>
#include <utility>

#include "dbgc_Print.h"
#include "vdp_Result.h"

namespace VDProtocol {

namespace {

using PDB::JsonAdapter;

const JsonValue& sharedNull()
{
    static const JsonValue null;
    return null;
}

// The float nearest to a JSON number (round to nearest), or false when the number lies beyond the float range: an
// infinity would be written back as null.
bool narrowToFloat(double value, f32& out)
{
    constexpr double overflow = 0x1.ffffffp127; // halfway between the largest float and 2^128
    if (!(value > -overflow && value < overflow)) {
        return false;
    }
    out = static_cast<f32>(value);
    return true;
}

void storeArgument(ArgumentMap& arguments, const std::string& name, const JsonValue& value)
{
    // Setter refusals drop the value: a map keeps what it can hold. "d:data" holds binary data only.
    if (name == BINARY_ARGUMENT) {
        if (const std::string* text = JsonAdapter::getText(&value)) {
            (void)arguments.setBinaryFromBase64(name, text->data(), static_cast<u32>(text->size()));
        }
        return;
    }
    switch (value.type()) {
    case JsonValue::value_t::boolean:
        (void)arguments.setInt(name, *value.get_ptr<const JsonValue::boolean_t*>() ? 1 : 0);
        break;
    case JsonValue::value_t::number_float: {
        f32 number = 0.0f;
        if (narrowToFloat(*value.get_ptr<const JsonValue::number_float_t*>(), number)) {
            (void)arguments.setFloat(name, number);
        }
        break;
    }
    case JsonValue::value_t::number_unsigned: // the low 32 bits
        (void)arguments.setUInt(name, static_cast<u32>(*value.get_ptr<const JsonValue::number_unsigned_t*>()));
        break;
    case JsonValue::value_t::number_integer: // negative: the low 32 bits
        (void)arguments.setInt(
            name, static_cast<i32>(static_cast<u32>(*value.get_ptr<const JsonValue::number_integer_t*>())));
        break;
    case JsonValue::value_t::string:
        (void)arguments.setString(name, *value.get_ptr<const JsonValue::string_t*>());
        break;
    default: // null, arrays, objects and binary values are not arguments
        break;
    }
}

i32 fillArguments(const JsonValue& json, ArgumentMap& arguments)
{
    if (json.is_null() || (json.is_array() && json.empty())) {
        return RESULT_OK;
    }
    if (!json.is_object()) {
        return RESULT_NG;
    }
    for (const auto& member : json.get_ref<const JsonValue::object_t&>()) {
        storeArgument(arguments, member.first, member.second);
    }
    return RESULT_OK;
}

JsonValue argumentValue(const std::string& name, const KVariant& value)
{
    if (name == BINARY_ARGUMENT) {
        return JsonValue(binaryToBase64(value));
    }
    switch (value.getKind()) {
    case KVariant::KIND_INT32:
        return JsonValue(value.getInt());
    case KVariant::KIND_UINT32:
        return JsonValue(value.getUInt());
    case KVariant::KIND_STRING: {
        const char* text = value.getString();
        return JsonValue(text != nullptr ? text : "");
    }
    case KVariant::KIND_FLOAT32:
        return JsonValue(static_cast<double>(value.getFloat()));
    default:
        return JsonValue(); // discarded: not writable
    }
}

bool isWritable(const std::string& name, const KVariant& value)
{
    const u32 kind = value.getKind();
    return name == BINARY_ARGUMENT || kind == KVariant::KIND_INT32 || kind == KVariant::KIND_UINT32 ||
           kind == KVariant::KIND_STRING || kind == KVariant::KIND_FLOAT32;
}

i32 fillJson(const ArgumentMap& arguments, JsonValue& json)
{
    json = nullptr;
    for (const auto& [name, value] : arguments.getEntries()) {
        if (isWritable(name, value)) {
            json[name] = argumentValue(name, value);
        }
    }
    return RESULT_OK;
}

// ----- the line writer -----
//
// encodePacket writes the line directly, byte for byte as the library dumps packetToJson's value: keys in byte
// order, no spaces, texts unescaped UTF-8. Texts that need escapes or hold invalid UTF-8, and floats, are
// formatted by the library itself.

// True for valid UTF-8 without control characters, quotes or backslashes: the library writes such a text as it is.
bool isPlainText(const unsigned char* text, size_t length)
{
    size_t i = 0;
    while (i < length) {
        const unsigned char c = text[i];
        if (c < 0x80) {
            if (c < 0x20 || c == '"' || c == '\\') {
                return false;
            }
            ++i;
            continue;
        }
        size_t follow = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            follow = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            follow = 2;
            low = c == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
            high = c == 0xED ? 0x9F : 0xBF; // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            follow = 3;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
        } else {
            return false;
        }
        if (length - i <= follow || text[i + 1] < low || text[i + 1] > high) {
            return false;
        }
        for (size_t k = 2; k <= follow; ++k) {
            if (text[i + k] < 0x80 || text[i + k] > 0xBF) {
                return false;
            }
        }
        i += follow + 1;
    }
    return true;
}

class LineWriter
{
public:
    explicit LineWriter(std::string& out) : m_out(out) {}

    void text(const char* data, size_t length)
    {
        if (isPlainText(reinterpret_cast<const unsigned char*>(data), length)) {
            m_out += '"';
            m_out.append(data, length);
            m_out += '"';
            return;
        }
        library(JsonValue(std::string(data, length)));
    }
    void text(const std::string& value) { text(value.data(), value.size()); }
    // A text known to need no escapes (base64, digits).
    void plainText(const std::string& value)
    {
        m_out += '"';
        m_out += value;
        m_out += '"';
    }
    // ,"key": (the comma only after the first member of an object)
    void key(const std::string& name)
    {
        separate();
        text(name);
        m_out += ':';
    }
    void key(const char* name)
    {
        separate();
        m_out += '"';
        m_out += name;
        m_out += "\":";
    }
    void open(char bracket)
    {
        m_out += bracket;
        m_first = true;
    }
    void close(char bracket)
    {
        m_out += bracket;
        m_first = false;
    }
    void separate()
    {
        if (!m_first) {
            m_out += ',';
        }
        m_first = false;
    }
    template <typename Integer> void integer(Integer value)
    {
        char digits[16];
        const auto end = std::to_chars(digits, digits + sizeof(digits), value).ptr;
        m_out.append(digits, static_cast<size_t>(end - digits));
    }
    void number(f32 value) { library(JsonValue(static_cast<double>(value))); }
    void null() { m_out += "null"; }
    bool failed() const { return m_failed; }

private:
    void library(const JsonValue& value)
    {
        std::string dumped;
        if (JsonAdapter::dumpReplacing(value, dumped) != 0) {
            m_failed = true;
        }
        m_out += dumped;
    }

    std::string& m_out;
    bool m_first = true;
    bool m_failed = false;
};

void writeValue(LineWriter& writer, const std::string& name, const KVariant& value)
{
    if (name == BINARY_ARGUMENT) {
        writer.plainText(binaryToBase64(value));
        return;
    }
    switch (value.getKind()) {
    case KVariant::KIND_INT32:
        writer.integer(value.getInt());
        break;
    case KVariant::KIND_UINT32:
        writer.integer(value.getUInt());
        break;
    case KVariant::KIND_STRING: {
        const char* text = value.getString();
        writer.text(text != nullptr ? text : "", text != nullptr ? std::strlen(text) : 0);
        break;
    }
    case KVariant::KIND_FLOAT32:
        writer.number(value.getFloat());
        break;
    default:
        break;
    }
}

void writeArguments(LineWriter& writer, const ArgumentMap& arguments)
{
    bool any = false;
    for (const auto& [name, value] : arguments.getEntries()) {
        if (!isWritable(name, value)) {
            continue;
        }
        if (!any) {
            writer.open('{');
            any = true;
        }
        writer.key(name);
        writeValue(writer, name, value);
    }
    if (any) {
        writer.close('}');
    } else {
        writer.null();
    }
}

bool writePacket(const PacketContainer& packet, std::string& out)
{
    LineWriter writer(out);
    writer.open('{');
    writer.key(packet.m_type);
    writer.open('{');
    const std::string cmd = packet.getCommandText();
    if (!cmd.empty()) {
        writer.key("cmd");
        writer.text(cmd);
    }
    if (!packet.m_info.empty() || !packet.m_list.empty()) {
        writer.key("cmdinfo");
        writer.open('{');
        if (!packet.m_info.empty()) {
            writer.key("info");
            writeArguments(writer, packet.m_info);
        }
        if (!packet.m_list.empty()) {
            writer.key("list");
            writer.open('[');
            for (const ArgumentMap& arguments : packet.m_list) {
                writer.separate();
                writeArguments(writer, arguments);
            }
            writer.close(']');
        }
        writer.close('}');
    }
    writer.key("from");
    writer.text(packet.m_from);
    if (packet.m_hasResult) {
        writer.key("message");
        writer.text(packet.m_message);
        writer.key("progress");
        writer.plainText(packet.getProgressText());
    }
    if (!packet.m_reqId.empty()) {
        writer.key("reqid");
        writer.text(packet.m_reqId);
    }
    if (packet.m_hasResult) {
        writer.key("result");
        writer.text(packet.getResultName());
    }
    if (!packet.m_to.empty()) {
        writer.key("to");
        writer.text(packet.m_to);
    }
    writer.close('}');
    writer.close('}');
    return !writer.failed();
}

void logUnknownException()
{
    DBGC_LOG("JSON: unknown exception occurred.\n");
}

// Steps of the request reader; false when reading stopped at a malformed part.
bool readCmdInfo(const JsonValue& request, PacketContainer& packet)
{
    const JsonValue& cmdInfo = getJsonChild(request, "cmdinfo");
    if (cmdInfo.is_null()) {
        return true;
    }
    const JsonValue& info = getJsonChild(cmdInfo, "info");
    if (!info.is_null()) {
        ArgumentMap arguments;
        if (fillArguments(info, arguments) != RESULT_OK) {
            return false;
        }
        packet.m_info = std::move(arguments);
    }
    const JsonValue& list = getJsonChild(cmdInfo, "list");
    if (!list.is_null()) {
        // A list that is no array gives one empty map per unit of its size.
        const size_t count = list.size();
        packet.m_list.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            ArgumentMap arguments;
            if (fillArguments(getJsonElement(list, i), arguments) != RESULT_OK) {
                return false;
            }
            packet.m_list.push_back(std::move(arguments));
        }
    }
    return true;
}

void readPacket(const JsonValue& json, PacketContainer& packet)
{
    packet.clear();
    const JsonValue& request = getJsonChild(json, "request");
    if (request.is_null()) {
        jsonToAbortPacket(json, packet);
        return;
    }
    std::string cmd;
    packet.m_type = "request";
    getJsonString(request, "from", packet.m_from, std::string());
    getJsonString(request, "to", packet.m_to, std::string());
    getJsonString(request, "reqid", packet.m_reqId, std::string());
    getJsonString(request, "cmd", cmd, std::string());
    if (packet.parseCommand(cmd) != RESULT_OK) {
        DBGC_LOG("JSON: 'commandInfo' decode error.\n");
        return;
    }
    if (!readCmdInfo(request, packet)) {
        logUnknownException();
    }
}

} // namespace

bool nestsDeeperThan(const char* text, size_t length, u32 limit)
{
    u32 depth = 0;
    const char* p = text;
    const char* const end = text + length;
    while (p < end) {
        switch (*p++) {
        case '"':
            // The closing quote is the first one preceded by an even number of backslashes.
            for (;;) {
                const auto* quote = static_cast<const char*>(std::memchr(p, '"', static_cast<size_t>(end - p)));
                if (quote == nullptr) {
                    return false; // an open string: not JSON
                }
                const char* run = quote;
                while (run > p && run[-1] == '\\') {
                    --run;
                }
                const auto backslashes = quote - run;
                p = quote + 1;
                if (backslashes % 2 == 0) {
                    break;
                }
            }
            break;
        case '[':
        case '{':
            if (++depth > limit) {
                return true;
            }
            break;
        case ']':
        case '}':
            if (depth > 0) {
                --depth;
            }
            break;
        default:
            break;
        }
    }
    return false;
}

const JsonValue& getJsonChild(const JsonValue& value, const char* key)
{
    const JsonValue* member = JsonAdapter::findMember(value, key);
    return member != nullptr ? *member : sharedNull();
}

const JsonValue& getJsonElement(const JsonValue& value, size_t index)
{
    const JsonValue* element = JsonAdapter::getElement(value, index);
    return element != nullptr ? *element : sharedNull();
}

i32 getJsonString(const JsonValue& value, const char* key, std::string& out, const std::string& defaultText)
{
    const std::string* text = JsonAdapter::getText(JsonAdapter::findMember(value, key));
    const i32 result = JsonAdapter::invoke([&]() -> i32 {
        out = text != nullptr ? *text : defaultText;
        return RESULT_OK;
    });
    return text != nullptr && result == RESULT_OK ? RESULT_OK : RESULT_NG;
}

bool jsonToAbortPacket(const JsonValue& json, PacketContainer& packet)
{
    const JsonValue& abort = getJsonChild(json, "abort");
    if (abort.is_null()) {
        DBGC_LOG("JSON: 'component' tag not found.\n");
        return false;
    }
    const i32 result = JsonAdapter::invoke([&]() -> i32 {
        std::string reqId;
        getJsonString(abort, "reqid", reqId, std::string());
        packet.clear();
        packet.m_type = "abort";
        packet.m_reqId = std::move(reqId);
        return RESULT_OK;
    });
    if (result != RESULT_OK) {
        logUnknownException();
        return false;
    }
    return true;
}

void jsonToPacket(const JsonValue& json, PacketContainer& packet)
{
    const i32 result = JsonAdapter::invoke([&]() -> i32 {
        readPacket(json, packet);
        return RESULT_OK;
    });
    if (result != RESULT_OK) {
        logUnknownException();
    }
}

i32 jsonToArguments(const JsonValue& json, ArgumentMap& arguments)
{
    const i32 result = JsonAdapter::invoke([&]() -> i32 { return fillArguments(json, arguments); });
    return result == RESULT_OK ? RESULT_OK : RESULT_NG;
}

i32 argumentsToJson(const ArgumentMap& arguments, JsonValue& json)
{
    const i32 result = JsonAdapter::invoke([&]() -> i32 { return fillJson(arguments, json); });
    return result == RESULT_OK ? RESULT_OK : RESULT_NG;
}

i32 packetToJson(const PacketContainer& packet, JsonValue& json)
{
    const i32 result = JsonAdapter::invoke([&]() -> i32 {
        JsonValue body = JsonValue::object();
        body["from"] = packet.m_from;
        if (!packet.m_to.empty()) {
            body["to"] = packet.m_to;
        }
        if (!packet.m_reqId.empty()) {
            body["reqid"] = packet.m_reqId;
        }
        std::string cmd = packet.getCommandText();
        if (!cmd.empty()) {
            body["cmd"] = std::move(cmd);
        }
        if (packet.m_hasResult) {
            body["result"] = packet.getResultName();
            body["progress"] = packet.getProgressText();
            body["message"] = packet.m_message;
        }
        if (!packet.m_info.empty()) {
            JsonValue info;
            fillJson(packet.m_info, info);
            body["cmdinfo"]["info"] = std::move(info);
        }
        if (!packet.m_list.empty()) {
            JsonValue list = JsonValue::array();
            list.get_ref<JsonValue::array_t&>().reserve(packet.m_list.size());
            for (const ArgumentMap& arguments : packet.m_list) {
                JsonValue entry;
                fillJson(arguments, entry);
                list.push_back(std::move(entry));
            }
            body["cmdinfo"]["list"] = std::move(list);
        }
        json = JsonValue::object();
        json[packet.m_type] = std::move(body);
        return RESULT_OK;
    });
    return result == RESULT_OK ? RESULT_OK : RESULT_NG;
}

size_t encodedSizeAtLeast(const ArgumentMap& arguments)
{
    size_t size = 0;
    for (const auto& [name, value] : arguments.getEntries()) {
        if (!isWritable(name, value)) {
            continue;
        }
        size += name.size() + 4; // the opening brace or a comma, the quoted name and the colon
        if (name == BINARY_ARGUMENT) {
            const size_t bytes = value.getKind() == KVariant::KIND_BINARY ? value.getBinarySize() : 0;
            size += (bytes + 2) / 3 * 4 + 2;
        } else if (value.getKind() == KVariant::KIND_STRING) {
            const char* text = value.getString();
            size += (text != nullptr ? std::strlen(text) : 0) + 2;
        } else {
            size += 1;
        }
    }
    return size == 0 ? 4 : size + 1; // "null", or the closing brace
}

i32 decodePacket(const char* text, size_t length, PacketContainer& packet)
{
    if (text == nullptr || nestsDeeperThan(text, length, MAX_JSON_DEPTH)) {
        return RESULT_NG;
    }
    JsonValue json;
    if (JsonAdapter::parse(text, length, json) != 0) {
        return RESULT_NG;
    }
    jsonToPacket(json, packet);
    return RESULT_OK;
}

i32 decodePacket(const std::string& line, PacketContainer& packet)
{
    return decodePacket(line.data(), line.size(), packet);
}

i32 encodePacket(const PacketContainer& packet, std::string& text)
{
    const i32 result = JsonAdapter::invoke([&]() -> i32 {
        std::string line;
        line.reserve(256);
        if (!writePacket(packet, line)) {
            return RESULT_NG;
        }
        text = std::move(line);
        return RESULT_OK;
    });
    return result == RESULT_OK ? RESULT_OK : RESULT_NG;
}

} // namespace VDProtocol
