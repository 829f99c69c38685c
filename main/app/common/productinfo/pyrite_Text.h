// Text helpers of the application core.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace PYRITE {

// The pieces of text between any of the separator characters, empty pieces dropped.
std::vector<std::string> splitText(std::string_view text, std::string_view separators);

} // namespace PYRITE
