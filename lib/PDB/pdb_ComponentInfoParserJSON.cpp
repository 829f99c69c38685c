#include "pdb_ComponentInfoParserJSON.h"

#include <cerrno>
#include <cstdlib>
#include <new>
#include <string>

#include "klib_Print.h"
#include "pdb_Result.h"

namespace PDB {

namespace {

constexpr i32 CONVERSION_ERROR = ComponentInfoParserJSON::RESULT_CONVERSION_ERROR;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Base-10 magnitude after blanks and an optional sign; false without digits or above 0xFFFFFFFF (remaining
// digits are not needed to decide that).
bool parseMagnitude(const char* text, bool& negative, u64& magnitude)
{
    if (text == nullptr) {
        return false;
    }
    while (isBlank(*text)) {
        ++text;
    }
    negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    if (*text < '0' || *text > '9') {
        return false;
    }
    magnitude = 0;
    while (*text >= '0' && *text <= '9') {
        magnitude = magnitude * 10 + static_cast<u64>(*text - '0');
        if (magnitude > 0xFFFFFFFFu) {
            return false;
        }
        ++text;
    }
    return true;
}

// Number of an entry or component key: absent or of another kind gives the default; out of range fails.
bool readNumber(const JsonValue* value, u32 defaultValue, u32& out)
{
    const i32 result = JsonAdapter::getUInt32(value, out);
    if (result == JsonAdapter::NUMBER_ABSENT) {
        out = defaultValue;
        return true;
    }
    return result == 0;
}

const char* readText(const JsonValue* value, const char* defaultText)
{
    const std::string* text = JsonAdapter::getText(value);
    return text != nullptr ? text->c_str() : defaultText;
}

// One flag of "attr": set when the low byte of the number is non-zero (negative integers in two's complement).
bool readFlag(const JsonValue* attr, const char* key, bool defaultOn, u8 bit, u8& flags)
{
    u64 value = 0;
    const i32 result = JsonAdapter::getBits64(attr != nullptr ? JsonAdapter::findMember(*attr, key) : nullptr, value);
    if (result == JsonAdapter::NUMBER_ABSENT) {
        value = defaultOn ? 1 : 0;
    } else if (result != 0) {
        return false;
    }
    if ((value & 0xFFu) != 0) {
        flags = static_cast<u8>(flags | bit);
    }
    return true;
}

struct EntryTexts
{
    const char* address;
    const char* type;
    const char* commentX;
    const char* commentY;
    const char* min;
    const char* max;
    const char* def;
    const char* nominal;
    const char* step;
    const char* unit;
    const char* kind;
    const char* defUI;
};

struct UnsignedValues
{
    u32 min, max, def, nominal, step;
};

bool readUnsignedValues(const EntryTexts& t, UnsignedValues& v)
{
    return ComponentInfoParserJSON::parseUnsigned(t.min, v.min) &&
           ComponentInfoParserJSON::parseUnsigned(t.max, v.max) &&
           ComponentInfoParserJSON::parseUnsigned(t.def, v.def) &&
           ComponentInfoParserJSON::parseUnsigned(t.nominal, v.nominal) &&
           ComponentInfoParserJSON::parseUnsigned(t.step, v.step);
}

struct SignedValues
{
    i32 min, max, def, nominal, step;
};

bool readSignedValues(const EntryTexts& t, SignedValues& v)
{
    return ComponentInfoParserJSON::parseSigned(t.min, v.min) && ComponentInfoParserJSON::parseSigned(t.max, v.max) &&
           ComponentInfoParserJSON::parseSigned(t.def, v.def) &&
           ComponentInfoParserJSON::parseSigned(t.nominal, v.nominal) &&
           ComponentInfoParserJSON::parseSigned(t.step, v.step);
}

// Adds one entry; a conversion failure gives CONVERSION_ERROR, an unknown type RESULT_UNKNOWN_PARAMETER_TYPE, otherwise
// the add operation's result.
i32 addEntry(ComponentInfo& info, const EntryTexts& t, u32 patternX, u32 patternY, u32 scaling,
             ParameterAttribute attribute)
{
    const std::string type(t.type);
    if (type == "UINT32" || type == "UINT16" || type == "UINT8") {
        UnsignedValues v{};
        if (!readUnsignedValues(t, v)) {
            return CONVERSION_ERROR;
        }
        if (type == "UINT32") {
            return info.addParameterUInt32(t.address, patternX, patternY, t.commentX, t.commentY, v.min, v.max, v.def,
                                           v.nominal, v.step, scaling, attribute, t.unit, t.kind, t.defUI);
        }
        if (type == "UINT16") {
            return info.addParameterUInt16(t.address, patternX, patternY, t.commentX, t.commentY,
                                           static_cast<u16>(v.min), static_cast<u16>(v.max), static_cast<u16>(v.def),
                                           static_cast<u16>(v.nominal), v.step, scaling, attribute, t.unit, t.kind,
                                           t.defUI);
        }
        return info.addParameterUInt8(t.address, patternX, patternY, t.commentX, t.commentY, static_cast<u8>(v.min),
                                      static_cast<u8>(v.max), static_cast<u8>(v.def), static_cast<u8>(v.nominal),
                                      v.step, scaling, attribute, t.unit, t.kind, t.defUI);
    }
    if (type == "SINT32" || type == "SINT16" || type == "SINT8") {
        SignedValues v{};
        if (!readSignedValues(t, v)) {
            return CONVERSION_ERROR;
        }
        const u32 step = static_cast<u32>(v.step);
        if (type == "SINT32") {
            return info.addParameterSInt32(t.address, patternX, patternY, t.commentX, t.commentY, v.min, v.max, v.def,
                                           v.nominal, step, scaling, attribute, t.unit, t.kind, t.defUI);
        }
        if (type == "SINT16") {
            return info.addParameterSInt16(t.address, patternX, patternY, t.commentX, t.commentY,
                                           static_cast<i16>(v.min), static_cast<i16>(v.max), static_cast<i16>(v.def),
                                           static_cast<i16>(v.nominal), step, scaling, attribute, t.unit, t.kind,
                                           t.defUI);
        }
        return info.addParameterSInt8(t.address, patternX, patternY, t.commentX, t.commentY, static_cast<i8>(v.min),
                                      static_cast<i8>(v.max), static_cast<i8>(v.def), static_cast<i8>(v.nominal), step,
                                      scaling, attribute, t.unit, t.kind, t.defUI);
    }
    if (type == "FLOAT") {
        f32 min = 0, max = 0, def = 0, nominal = 0, step = 0;
        if (!ComponentInfoParserJSON::parseFloat(t.min, min) || !ComponentInfoParserJSON::parseFloat(t.max, max) ||
            !ComponentInfoParserJSON::parseFloat(t.def, def) ||
            !ComponentInfoParserJSON::parseFloat(t.nominal, nominal) ||
            !ComponentInfoParserJSON::parseFloat(t.step, step)) {
            return CONVERSION_ERROR;
        }
        return info.addParameterFloat(t.address, patternX, patternY, t.commentX, t.commentY, min, max, def, nominal,
                                      step, scaling, attribute, t.unit, t.kind, t.defUI);
    }
    if (type == "BOOL") {
        u32 min = 0, max = 0, def = 0;
        if (!ComponentInfoParserJSON::parseUnsigned(t.min, min) ||
            !ComponentInfoParserJSON::parseUnsigned(t.max, max) ||
            !ComponentInfoParserJSON::parseUnsigned(t.def, def)) {
            return CONVERSION_ERROR;
        }
        return info.addParameterBool(t.address, patternX, patternY, t.commentX, t.commentY, min, max, def, attribute,
                                     t.unit, t.kind, t.defUI);
    }
    if (type == "STRING" || type == "BINARY") {
        u32 capacity = 0;
        if (!ComponentInfoParserJSON::parseUnsigned(t.max, capacity)) {
            return CONVERSION_ERROR;
        }
        if (type == "STRING") {
            return info.addParameterString(t.address, patternX, patternY, t.commentX, t.commentY, capacity, t.def,
                                           attribute, t.unit, t.kind, t.defUI);
        }
        return info.addParameterBinary(t.address, patternX, patternY, t.commentX, t.commentY, capacity, attribute,
                                       t.unit, t.kind, t.defUI);
    }
    return RESULT_UNKNOWN_PARAMETER_TYPE;
}

// Decodes one element of "parameters": CONVERSION_ERROR ends the decoding, any other failure is logged.
i32 decodeEntry(const JsonValue* entry, ComponentInfo& info)
{
    static const JsonValue s_null;
    const JsonValue& e = entry != nullptr ? *entry : s_null;
    auto member = [&e](const char* key) { return JsonAdapter::findMember(e, key); };

    const JsonValue* attr = member("attr");
    u8 flags = 0;
    if (!readFlag(attr, "recallable", true, ParameterAttribute::FLAG_RECALLABLE, flags) ||
        !readFlag(attr, "nonvolatile", true, ParameterAttribute::FLAG_NONVOLATILE, flags) ||
        !readFlag(attr, "syncable", true, ParameterAttribute::FLAG_SYNCABLE, flags) ||
        !readFlag(attr, "noeditflag", true, ParameterAttribute::FLAG_NOEDIT, flags) ||
        !readFlag(attr, "private", false, ParameterAttribute::FLAG_PRIVATE, flags)) {
        return CONVERSION_ERROR;
    }
    EntryTexts t{};
    t.address = readText(member("strAddress"), "");
    t.type = readText(member("type"), "");
    const char* patternXText = readText(member("patternX"), "1");
    const char* patternYText = readText(member("patternY"), "1");
    t.commentX = readText(member("commentX"), "");
    t.commentY = readText(member("commentY"), "");
    t.min = readText(member("min"), "0");
    t.max = readText(member("max"), "0");
    t.def = readText(member("def"), "0");
    t.nominal = readText(member("nominal"), "");
    t.step = readText(member("step"), "1");
    u32 scaling = 1;
    if (!readNumber(member("scaling"), 1, scaling)) {
        return CONVERSION_ERROR;
    }
    t.unit = readText(member("unit"), "");
    t.kind = readText(member("kind"), "");
    t.defUI = readText(member("defUI"), "");
    if (t.nominal[0] == '\0') {
        t.nominal = t.min;
    }

    u32 patternX = 1, patternY = 1;
    if (!ComponentInfoParserJSON::parsePattern(patternXText, patternX) ||
        !ComponentInfoParserJSON::parsePattern(patternYText, patternY)) {
        return CONVERSION_ERROR;
    }
    const i32 result = addEntry(info, t, patternX, patternY, scaling, ParameterAttribute(0, flags));
    if (result == CONVERSION_ERROR) {
        return result;
    }
    if (result < 0) {
        KLIB_LOG("[E] JSON: couldn't add the address [%s]. err=%08x\n", t.address, static_cast<u32>(result));
    }
    return 0;
}

} // namespace

bool ComponentInfoParserJSON::parseUnsigned(const char* text, u32& out)
{
    bool negative = false;
    u64 magnitude = 0;
    if (!parseMagnitude(text, negative, magnitude)) {
        return false;
    }
    out = negative ? static_cast<u32>(0u - static_cast<u32>(magnitude)) : static_cast<u32>(magnitude);
    return true;
}

bool ComponentInfoParserJSON::parseSigned(const char* text, i32& out)
{
    bool negative = false;
    u64 magnitude = 0;
    if (!parseMagnitude(text, negative, magnitude)) {
        return false;
    }
    if (negative) {
        if (magnitude > 0x80000000u) {
            return false;
        }
        out = static_cast<i32>(-static_cast<i64>(magnitude));
    } else {
        if (magnitude > 0x7FFFFFFFu) {
            return false;
        }
        out = static_cast<i32>(magnitude);
    }
    return true;
}

bool ComponentInfoParserJSON::parseFloat(const char* text, f32& out)
{
    if (text == nullptr) {
        return false;
    }
    char* end = nullptr;
    const int savedErrno = errno;
    errno = 0;
    const f32 value = std::strtof(text, &end);
    const bool outOfRange = errno == ERANGE;
    errno = savedErrno;
    if (end == text || outOfRange) {
        return false;
    }
    out = value;
    return true;
}

bool ComponentInfoParserJSON::parsePattern(const char* text, u32& out)
{
    if (text == nullptr) {
        return false;
    }
    u32 mode = 0;
    if (text[0] == '\0') {
        out = 1;
        return true;
    }
    if (text[0] == '*') {
        mode = PATTERN_MULTIPLY;
        ++text;
    } else if (text[0] == '/') {
        mode = PATTERN_DIVIDE;
        ++text;
    }
    u32 base = 0;
    // A base above 16 bits would run into the mode bits.
    if (!parseUnsigned(text, base) || base > PATTERN_BASE_MASK) {
        return false;
    }
    out = (base == 0 ? 1 : base) | mode;
    return true;
}

i32 ComponentInfoParserJSON::decodeComponentInfo(const JsonValue& document, ComponentInfo& info)
{
    info.clear();
    const JsonValue* component = JsonAdapter::findMember(document, "component");
    if (JsonAdapter::isNull(component)) {
        KLIB_LOG("[E] JSON: 'component' tag not found.\n");
        return 0;
    }
    auto member = [component](const char* key) { return JsonAdapter::findMember(*component, key); };
    u32 version = 0, minX = 1, minY = 1, maxX = 1, maxY = 1;
    if (!readNumber(member("majorVer"), 0, version) || !readNumber(member("minX"), 1, minX) ||
        !readNumber(member("minY"), 1, minY) || !readNumber(member("maxX"), 1, maxX) ||
        !readNumber(member("maxY"), 1, maxY)) {
        info.clear();
        return CONVERSION_ERROR;
    }
    if (info.initialize(readText(member("name"), ""), version, minX, minY, maxX, maxY, readText(member("commentX"), ""),
                        readText(member("commentY"), ""), nullptr) < 0) {
        KLIB_LOG("[E] JSON: 'componentInfo' decode error.\n");
        return 0;
    }
    const JsonValue* parameters = JsonAdapter::findMember(document, "parameters");
    if (JsonAdapter::isNull(parameters)) {
        KLIB_LOG("[E] JSON: 'parameters' tag not found.\n");
        return 0;
    }
    const size_t count = JsonAdapter::getArraySize(*parameters);
    for (size_t i = 0; i < count; ++i) {
        if (decodeEntry(JsonAdapter::getElement(*parameters, i), info) == CONVERSION_ERROR) {
            info.clear();
            return CONVERSION_ERROR;
        }
    }
    return 0;
}

ComponentInfo ComponentInfoParserJSON::createFromJson(const char* text)
{
    ComponentInfo info;
    info.setParameterStrategy(nullptr);
    JsonValue document;
    JsonError error;
    if (JsonAdapter::parse(text, document, &error) < 0) {
        if (error.fromLibrary) {
            JsonAdapter::printError(error);
        } else {
            KLIB_LOG("[E] JSON: unknown exception occurred.\n");
        }
        return info;
    }
    i32 result = CONVERSION_ERROR;
    try {
        result = decodeComponentInfo(document, info);
    } catch (...) {
        result = CONVERSION_ERROR;
    }
    if (result < 0) {
        KLIB_LOG("[E] JSON: unknown exception occurred.\n");
        info.clear();
        info.setParameterStrategy(nullptr);
    }
    return info;
}

} // namespace PDB
