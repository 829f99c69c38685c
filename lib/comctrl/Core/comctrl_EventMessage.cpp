#include "comctrl_EventMessage.h"

#include "comctrl_Result.h"

namespace ComControl {

namespace {

bool isNameCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool isEscaped(char c)
{
    return c == '\\' || c == ' ' || c == ':';
}

bool isValidName(const char* name)
{
    if (name == nullptr || name[0] == '\0') {
        return false;
    }
    for (const char* p = name; *p != '\0'; ++p) {
        if (!isNameCharacter(*p)) {
            return false;
        }
    }
    return true;
}

// Appends "[ ]name:" and the escaped value (null: none) or fails leaving the text as it was.
i32 appendItem(char* buffer, u32 size, u32* length, const char* name, const char* value)
{
    if (buffer == nullptr || length == nullptr || *length >= size || !isValidName(name)) {
        return COMCTRL_E_FAILED;
    }
    const u32 start = *length;
    // The last byte is kept for the NUL.
    const u32 limit = size - 1;
    u32 at = start;
    auto put = [&](char c) {
        if (at >= limit) {
            return false;
        }
        buffer[at++] = c;
        return true;
    };
    bool fits = start == 0 || put(' ');
    for (const char* p = name; fits && *p != '\0'; ++p) {
        fits = put(*p);
    }
    fits = fits && put(':');
    for (const char* p = value; fits && p != nullptr && *p != '\0'; ++p) {
        fits = (!isEscaped(*p) || put('\\')) && put(*p);
    }
    if (!fits) {
        buffer[start] = '\0';
        return COMCTRL_E_FAILED;
    }
    buffer[at] = '\0';
    *length = at;
    return COMCTRL_OK;
}

} // namespace

i32 parseEventMessage(const char* text, u32 length, EventItem* item, u32* consumed)
{
    if (text == nullptr || item == nullptr || consumed == nullptr) {
        return COMCTRL_E_FAILED;
    }
    u32 at = 0;
    while (at < length && text[at] == ' ') {
        ++at;
    }
    if (at == length || text[at] == '\0') {
        return COMCTRL_E_END;
    }
    const u32 nameStart = at;
    while (at < length && isNameCharacter(text[at])) {
        ++at;
    }
    if (at == nameStart || at == length || text[at] != ':') {
        return COMCTRL_E_FAILED;
    }
    const u32 valueStart = ++at;
    while (at < length && text[at] != '\0' && text[at] != ' ') {
        if (text[at] == ':') {
            return COMCTRL_E_FAILED;
        }
        if (text[at] == '\\') {
            if (at + 1 >= length || !isEscaped(text[at + 1])) {
                return COMCTRL_E_FAILED;
            }
            ++at;
        }
        ++at;
    }
    item->m_name = text + nameStart;
    item->m_nameLength = valueStart - 1 - nameStart;
    item->m_value = text + valueStart;
    item->m_valueLength = at - valueStart;
    *consumed = at;
    return COMCTRL_OK;
}

i32 unescapeEventArgument(char* out, u32 size, u32* written, const char* value, u32 valueLength)
{
    if (out == nullptr || size == 0 || written == nullptr || (value == nullptr && valueLength != 0)) {
        return COMCTRL_E_FAILED;
    }
    u32 at = 0;
    i32 result = COMCTRL_OK;
    for (u32 i = 0; i < valueLength; ++i) {
        char c = value[i];
        if (c == ' ' || c == ':') {
            result = COMCTRL_E_FAILED;
            break;
        }
        if (c == '\\') {
            if (i + 1 >= valueLength || !isEscaped(value[i + 1])) {
                result = COMCTRL_E_FAILED;
                break;
            }
            c = value[++i];
        }
        if (at + 1 >= size) {
            // Cut at a whole character, but a malformed rest still fails.
            if (result == COMCTRL_OK) {
                result = COMCTRL_E_LIMIT;
            }
            continue;
        }
        if (result == COMCTRL_OK) {
            out[at++] = c;
        }
    }
    if (result == COMCTRL_E_FAILED) {
        at = 0;
    }
    out[at] = '\0';
    *written = at;
    return result;
}

i32 makeEventName(char* buffer, u32 size, u32* length, const char* name)
{
    return appendItem(buffer, size, length, name, nullptr);
}

i32 makeEventMessage(char* buffer, u32 size, u32* length, const char* name, const char* value)
{
    if (value == nullptr) {
        return COMCTRL_E_FAILED;
    }
    return appendItem(buffer, size, length, name, value);
}

i32 makeEventMessage(char* buffer, u32 size, u32* length, const char* name, u32 value)
{
    char digits[11];
    u32 at = sizeof(digits) - 1;
    digits[at] = '\0';
    do {
        digits[--at] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return appendItem(buffer, size, length, name, digits + at);
}

} // namespace ComControl
