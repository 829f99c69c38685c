// Event argument items from a device: parsing never reads past the given length, every parsed value
// unescapes, and what is parsed builds again into items that parse back to the same names and values.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "comctrl_EventMessage.h"
#include "comctrl_Result.h"

using namespace ComControl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy of exactly the input's size, so that a read past the length is caught.
    std::vector<char> text(data, data + size);
    const u32 length = static_cast<u32>(text.size());
    std::vector<std::pair<std::string, std::string>> items;
    u32 at = 0;
    for (;;) {
        EventItem item;
        u32 consumed = 0;
        const i32 rc = parseEventMessage(text.data() + at, length - at, &item, &consumed);
        if (rc != COMCTRL_OK) {
            break;
        }
        if (consumed == 0 || consumed > length - at) {
            std::abort();
        }
        std::vector<char> value(item.m_valueLength + 1);
        u32 written = 0;
        if (unescapeEventArgument(value.data(), static_cast<u32>(value.size()), &written, item.m_value,
                                  item.m_valueLength) != COMCTRL_OK ||
            written > item.m_valueLength) {
            std::abort();
        }
        char small[4];
        if (unescapeEventArgument(small, sizeof(small), &written, item.m_value, item.m_valueLength) < 0 &&
            written >= sizeof(small)) {
            std::abort();
        }
        items.emplace_back(std::string(item.m_name, item.m_nameLength), std::string(value.data()));
        at += consumed;
    }

    std::vector<char> rebuilt(2 * size + 16);
    u32 built = 0;
    size_t kept = 0;
    for (const auto& [name, value] : items) {
        // A NUL inside a value ends it for the builder.
        if (makeEventMessage(rebuilt.data(), static_cast<u32>(rebuilt.size()), &built, name.c_str(), value.c_str()) !=
            COMCTRL_OK) {
            std::abort();
        }
        ++kept;
    }
    at = 0;
    for (size_t i = 0; i < kept; ++i) {
        EventItem item;
        u32 consumed = 0;
        if (parseEventMessage(rebuilt.data() + at, built - at, &item, &consumed) != COMCTRL_OK ||
            std::string(item.m_name, item.m_nameLength) != items[i].first) {
            std::abort();
        }
        char value[4096];
        u32 written = 0;
        if (item.m_valueLength < sizeof(value) &&
            (unescapeEventArgument(value, sizeof(value), &written, item.m_value, item.m_valueLength) != COMCTRL_OK ||
             std::string(value, written) != items[i].second)) {
            std::abort();
        }
        at += consumed;
    }
    return 0;
}
