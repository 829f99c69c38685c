// Raw inotify event buffers through the watcher's batch walk, against a folder with one sub-folder watched afresh
// for every input. Every record is read within the buffer, and every reported name
// stays inside the watched folder.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "fw_FileWatcher.h"

namespace {

class CheckingListener : public FW::FileWatchListener
{
public:
    void onFileChanged(u32, const std::string&, const std::string& name, u32 action) override
    {
        if (action == FW::kActionLost) {
            return;
        }
        // A relative path of single components, none of them "." or "..".
        if (name.empty() || name.front() == '/' || name.back() == '/') {
            std::abort();
        }
        size_t start = 0;
        while (start <= name.size()) {
            const size_t slash = name.find('/', start);
            const std::string part = name.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
            if (part.empty() || part == "." || part == "..") {
                std::abort();
            }
            if (slash == std::string::npos) {
                break;
            }
            start = slash + 1;
        }
    }
};

char g_folder[] = "/tmp/fw_fuzz_XXXXXX";

const char* watchedFolder()
{
    static const bool made = [] {
        if (::mkdtemp(g_folder) == nullptr) {
            std::abort();
        }
        ::mkdir((std::string(g_folder) + "/sub").c_str(), 0755);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(g_folder, ignored);
        });
        return true;
    }();
    (void)made;
    return g_folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // One inotify instance for the process (closing one takes milliseconds); the folder is watched afresh for
    // every input, so each starts from the same watches.
    static CheckingListener listener;
    static FW::FileWatcher* const watcher = new FW::FileWatcher();
    static u32 id = 0;
    watcher->impl().unwatch(id);
    id = watcher->impl().watchDirectory(watchedFolder(), &listener);
    // An exact-size copy: any read past the buffer's end is caught.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[size]);
    std::copy(data, data + size, buffer.get());
    watcher->impl().processBuffer(buffer.get(), size);
    return 0;
}
