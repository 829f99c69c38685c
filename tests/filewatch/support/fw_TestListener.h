// Recording listener and raw event buffers for the watcher suites.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "fw_FileWatcher.h"

namespace fwtest {

struct Change
{
    u32 id;
    std::string folder;
    std::string name;
    u32 action;
    bool operator==(const Change& other) const = default;
};

// (action, name) pairs, the form most checks compare against.
using Seen = std::vector<std::pair<u32, std::string>>;

class RecordingListener : public FW::FileWatchListener
{
public:
    void onFileChanged(u32 watchId, const std::string& folder, const std::string& name, u32 action) override;

    Seen seen() const;
    void clear() { changes.clear(); }

    std::vector<Change> changes;
    // Runs after each recorded change (inside the watcher's poll).
    std::function<void(const Change&)> onChange;
};

// Appends one inotify record; the name is NUL-padded to `padTo` bytes (at least its length + 1) unless
// `lengthOverride` is given, which is written as the record's length field as it is.
void appendEvent(std::vector<unsigned char>& buffer, int wd, u32 mask, u32 cookie, const std::string& name,
                 u32 padTo = 0, long lengthOverride = -1);

} // namespace fwtest
