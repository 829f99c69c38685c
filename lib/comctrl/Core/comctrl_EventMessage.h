// Items of an event argument: "name:value" items separated by one blank. Names are letters and digits;
// in values "\", blank and ":" are escaped with "\" (and only those: any other escape is malformed).
//
// The builders append to a bounded text (`*length` characters in a buffer of `size` bytes, NUL
// included) and leave it unchanged when the item does not fit or cannot be formed.
#pragma once

#include "klib_Types.h"

namespace ComControl {

// The arguments that events carry stay shorter than this, so their buffer holds 254 characters and a NUL.
constexpr u32 EVENT_ARGUMENT_SIZE = 255;

struct EventItem
{
    const char* m_name = nullptr;
    u32 m_nameLength = 0;
    const char* m_value = nullptr; // still escaped: see unescapeEventArgument
    u32 m_valueLength = 0;
};

// Reads the item after any leading blanks of text[0, length) (a NUL ends the text early). 0: the item is
// filled in and *consumed is the offset just past its value, where the next call continues.
// COMCTRL_E_END: only blanks remain. COMCTRL_E_FAILED: a null argument, a name that is empty or not of
// letters and digits, a missing ":", an unescaped ":" in the value or a bad escape.
[[nodiscard]] i32 parseEventMessage(const char* text, u32 length, EventItem* item, u32* consumed);

// Unescapes value[0, valueLength) into out (size bytes, NUL included; *written without the NUL).
// COMCTRL_E_LIMIT: out was too small and holds the whole characters that fit. COMCTRL_E_FAILED: null
// arguments, size 0, a bad escape or an unescaped blank or ":" (out is then "").
[[nodiscard]] i32 unescapeEventArgument(char* out, u32 size, u32* written, const char* value, u32 valueLength);

// Appends "name:" (an item with an empty value), after one blank when the text is not empty.
// COMCTRL_E_FAILED: null arguments, *length >= size, a name that is empty or not of letters and digits,
// or no room for the item and a NUL.
[[nodiscard]] i32 makeEventName(char* buffer, u32 size, u32* length, const char* name);

// Appends "name:" and the escaped value, after one blank when the text is not empty. Failures as for
// makeEventName (a null value too).
[[nodiscard]] i32 makeEventMessage(char* buffer, u32 size, u32* length, const char* name, const char* value);
// The same with the value written in decimal.
[[nodiscard]] i32 makeEventMessage(char* buffer, u32 size, u32* length, const char* name, u32 value);

} // namespace ComControl
