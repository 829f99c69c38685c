// Text helpers of the OS layer.

#include "os_Text.h"

namespace ossupport {

u32 splitString(std::vector<std::string>* out, const std::string& text, const std::string& delimiter, bool skipEmpty)
{
    if (out == nullptr) {
        return OS_E_RANGE;
    }
    auto append = [out, skipEmpty](std::string piece) {
        if (!piece.empty() || !skipEmpty) {
            out->push_back(std::move(piece));
        }
    };
    if (delimiter.empty()) {
        append(text);
        return OS_OK;
    }
    std::string::size_type begin = 0;
    for (;;) {
        const std::string::size_type found = text.find(delimiter, begin);
        if (found == std::string::npos) {
            append(text.substr(begin));
            return OS_OK;
        }
        append(text.substr(begin, found - begin));
        begin = found + delimiter.size();
    }
}

} // namespace ossupport
