// Text helpers of the OS layer.
#pragma once

#include <string>
#include <vector>

#include "klib_Types.h"
#include "os_Result.h"

namespace ossupport {

// Appends (without emptying out) the pieces of text between occurrences of delimiter, searched left to
// right without overlap; the last piece is the rest after the last delimiter. Empty pieces are appended as
// "" unless skipEmpty. An empty delimiter appends the whole text as one piece (nothing for an empty text
// with skipEmpty). Null out: OS_E_RANGE; else 0.
u32 splitString(std::vector<std::string>* out, const std::string& text, const std::string& delimiter, bool skipEmpty);

} // namespace ossupport
