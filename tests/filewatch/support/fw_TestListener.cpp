#include "fw_TestListener.h"

#include <sys/inotify.h>

#include <cstring>

namespace fwtest {

void RecordingListener::onFileChanged(u32 watchId, const std::string& folder, const std::string& name, u32 action)
{
    changes.push_back({watchId, folder, name, action});
    if (onChange) {
        const Change copy = changes.back();
        onChange(copy);
    }
}

Seen RecordingListener::seen() const
{
    Seen out;
    for (const Change& c : changes) {
        out.emplace_back(c.action, c.name);
    }
    return out;
}

void appendEvent(std::vector<unsigned char>& buffer, int wd, u32 mask, u32 cookie, const std::string& name, u32 padTo,
                 long lengthOverride)
{
    u32 length = 0;
    if (!name.empty()) {
        length = static_cast<u32>(name.size() + 1);
        if (padTo > length) {
            length = padTo;
        }
    }
    struct inotify_event header
    {
    };
    header.wd = wd;
    header.mask = mask;
    header.cookie = cookie;
    header.len = lengthOverride >= 0 ? static_cast<u32>(lengthOverride) : length;
    const size_t at = buffer.size();
    buffer.resize(at + sizeof(header) + length, 0);
    std::memcpy(buffer.data() + at, &header, sizeof(header));
    std::memcpy(buffer.data() + at + sizeof(header), name.data(), name.size());
}

} // namespace fwtest
