// inotify back end of the file-change watcher.
#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fsw_api.h"
#include "fw_FileWatcher.h"

namespace FW {

struct WatchRecord
{
    u32 id = 0;
    std::string folder; // as given by the caller
    FileWatchListener* listener = nullptr;
    int rootWd = -1;
    bool rootGone = false;
    std::map<int, std::string> dirs; // watch descriptor -> folder relative to `folder` ("" = folder itself)
};

namespace {

constexpr u32 kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_ATTRIB |
                           IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr size_t kBufferSize = 64 * 1024;
constexpr int kMaxReadsPerPoll = 4096; // a writer that never stops must not keep poll from returning
constexpr size_t kMaxTempCookies = 64;
constexpr size_t kHeaderSize = sizeof(struct inotify_event);

std::string joinPath(const std::string& base, const std::string& name)
{
    return base.empty() ? name : base + "/" + name;
}

bool isDirectoryEntry(const std::string& path, const struct dirent* entry)
{
    if (entry->d_type == DT_DIR) {
        return true;
    }
    if (entry->d_type != DT_UNKNOWN) {
        return false;
    }
    struct stat st
    {
    };
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

FileWatcherLinux::FileWatcherLinux()
    : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), m_lastId(0), m_buffer(kBufferSize), m_pollDepth(0),
      m_lastValid(false), m_last{0, 0, {}}
{
}

FileWatcherLinux::~FileWatcherLinux()
{
    // Closing the instance drops every watch with it.
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

int FileWatcherLinux::rootDescriptor(u32 id) const
{
    const auto it = m_records.find(id);
    if (it == m_records.end() || it->second->rootGone) {
        return -1;
    }
    return it->second->rootWd;
}

int FileWatcherLinux::addWatch(WatchRecord& record, const std::string& relative, bool isRoot)
{
    const std::string path = joinPath(record.folder, relative);
    // The root may be reached through a link; links inside the tree are never followed.
    const int wd = ::inotify_add_watch(m_fd, path.c_str(), kWatchMask | (isRoot ? 0u : u32{IN_DONT_FOLLOW}));
    if (wd < 0) {
        return -1;
    }
    if (record.dirs.emplace(wd, relative).second) {
        m_targets[wd].emplace_back(record.id, relative);
    }
    return wd;
}

void FileWatcherLinux::dropWatch(WatchRecord& record, int wd)
{
    record.dirs.erase(wd);
    const auto it = m_targets.find(wd);
    if (it == m_targets.end()) {
        return;
    }
    auto& users = it->second;
    users.erase(std::remove_if(users.begin(), users.end(), [&](const auto& u) { return u.first == record.id; }),
                users.end());
    if (users.empty()) {
        m_targets.erase(it);
        ::inotify_rm_watch(m_fd, wd);
    }
}

void FileWatcherLinux::dropSubtree(WatchRecord& record, const std::string& relative)
{
    const std::string prefix = relative + "/";
    std::vector<int> gone;
    for (const auto& [wd, rel] : record.dirs) {
        if (rel == relative || rel.compare(0, prefix.size(), prefix) == 0) {
            gone.push_back(wd);
        }
    }
    for (const int wd : gone) {
        dropWatch(record, wd);
    }
}

void FileWatcherLinux::release(WatchRecord& record)
{
    std::vector<int> all;
    for (const auto& entry : record.dirs) {
        all.push_back(entry.first);
    }
    for (const int wd : all) {
        dropWatch(record, wd);
    }
    record.rootWd = -1;
}

void FileWatcherLinux::addTree(WatchRecord& record, const std::string& relative, bool reportEntries,
                               std::vector<Report>& out)
{
    // Iterative walk: deep trees cannot exhaust the stack.
    std::vector<std::string> pending{relative};
    while (!pending.empty()) {
        const std::string rel = std::move(pending.back());
        pending.pop_back();
        if (!rel.empty() && addWatch(record, rel, false) < 0) {
            continue; // gone again, or not watchable: its entries stay unreported
        }
        const std::string path = joinPath(record.folder, rel);
        DIR* dir = ::opendir(path.c_str());
        if (dir == nullptr) {
            continue;
        }
        while (const struct dirent* entry = ::readdir(dir)) {
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || fsw_isReplaceTempName(name)) {
                continue;
            }
            const std::string entryRel = joinPath(rel, name);
            if (reportEntries) {
                out.push_back({record.id, kActionAdded, entryRel});
            }
            if (isDirectoryEntry(joinPath(record.folder, entryRel), entry)) {
                pending.push_back(entryRel);
            }
        }
        ::closedir(dir);
    }
}

u32 FileWatcherLinux::watchDirectory(const std::string& folder, FileWatchListener* listener)
{
    const u32 id = ++m_lastId;
    if (m_fd < 0) {
        throw FileNotFoundException(folder);
    }
    auto record = std::make_unique<WatchRecord>();
    record->id = id;
    record->folder = folder;
    record->listener = listener;
    WatchRecord& ref = *record;
    m_records.emplace(id, std::move(record));
    const int wd = addWatch(ref, std::string(), true);
    if (wd < 0) {
        m_records.erase(id);
        throw FileNotFoundException(folder);
    }
    ref.rootWd = wd;
    std::vector<Report> none;
    addTree(ref, std::string(), false, none);
    return id;
}

void FileWatcherLinux::unwatch(u32 id)
{
    const auto it = m_records.find(id);
    if (it == m_records.end()) {
        return;
    }
    release(*it->second);
    if (m_pollDepth > 0) {
        // A listener may be running on this record, or the caller may be walking it: free it after the poll.
        m_released.push_back(std::move(it->second));
    }
    m_records.erase(it);
}

void FileWatcherLinux::unwatchFolder(const std::string& folder)
{
    for (const auto& [id, record] : m_records) {
        if (record->folder == folder) {
            unwatch(id);
            return;
        }
    }
}

void FileWatcherLinux::notify(WatchRecord& record, const std::string& name, u32 action)
{
    if (record.listener != nullptr) {
        record.listener->onFileChanged(record.id, record.folder, name, action);
    }
}

void FileWatcherLinux::rememberTempCookie(u32 cookie)
{
    if (m_tempCookies.size() >= kMaxTempCookies) {
        m_tempCookies.erase(m_tempCookies.begin());
    }
    m_tempCookies.push_back(cookie);
}

bool FileWatcherLinux::takeTempCookie(u32 cookie)
{
    const auto it = std::find(m_tempCookies.begin(), m_tempCookies.end(), cookie);
    if (it == m_tempCookies.end()) {
        return false;
    }
    m_tempCookies.erase(it);
    return true;
}

void FileWatcherLinux::handleOverflow(std::vector<Report>& out)
{
    m_tempCookies.clear();
    std::vector<Report> none;
    for (auto& [id, record] : m_records) {
        out.push_back({id, kActionLost, std::string()});
        // Sub-folders created while events were lost have no watch yet.
        if (!record->rootGone) {
            addTree(*record, std::string(), false, none);
        }
    }
}

void FileWatcherLinux::handleEvent(int wd, u32 mask, u32 cookie, const std::string& name, std::vector<Report>& out)
{
    if ((mask & IN_Q_OVERFLOW) != 0) {
        handleOverflow(out);
        return;
    }
    const auto found = m_targets.find(wd);
    if (found == m_targets.end()) {
        return; // a watch dropped earlier; its last events are stale
    }
    const auto targets = found->second; // copy: handling may change the table
    const bool isTemp = !name.empty() && fsw_isReplaceTempName(name.c_str());
    const bool fromTemp = !isTemp && (mask & IN_MOVED_TO) != 0 && takeTempCookie(cookie);
    if (isTemp && (mask & IN_MOVED_FROM) != 0) {
        rememberTempCookie(cookie);
    }

    for (const auto& target : targets) {
        const u32 id = target.first;
        const std::string& relative = target.second;
        const auto rit = m_records.find(id);
        if (rit == m_records.end()) {
            continue;
        }
        WatchRecord& record = *rit->second;
        const bool isRoot = wd == record.rootWd;

        if ((mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) != 0) {
            if (isRoot) {
                // The watched folder itself went away (or moved): every path below it is stale.
                if (!record.rootGone) {
                    record.rootGone = true;
                    out.push_back({id, kActionLost, std::string()});
                }
                release(record);
            } else if ((mask & IN_IGNORED) != 0) {
                record.dirs.erase(wd); // the kernel has dropped this watch already
                auto& users = m_targets[wd];
                users.erase(std::remove_if(users.begin(), users.end(), [&](const auto& u) { return u.first == id; }),
                            users.end());
                if (users.empty()) {
                    m_targets.erase(wd);
                }
            }
            continue;
        }
        if (name.empty() || isTemp) {
            continue; // changes of the folder itself, and the file API's temporary files
        }
        const std::string full = joinPath(relative, name);
        if ((mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
            out.push_back({id, fromTemp ? kActionModified : kActionAdded, full});
            if ((mask & IN_ISDIR) != 0) {
                addTree(record, full, true, out);
            }
        } else if ((mask & (IN_DELETE | IN_MOVED_FROM)) != 0) {
            out.push_back({id, kActionRemoved, full});
            if ((mask & IN_ISDIR) != 0) {
                dropSubtree(record, full);
            }
        } else if ((mask & (IN_MODIFY | IN_ATTRIB)) != 0) {
            out.push_back({id, kActionModified, full});
        }
    }
}

void FileWatcherLinux::deliver(std::vector<Report>& reports)
{
    for (const Report& report : reports) {
        if (m_lastValid && report.id == m_last.id && report.action == m_last.action && report.name == m_last.name) {
            continue; // identical to the one before: nothing new to tell
        }
        m_last = report;
        m_lastValid = true;
        // Look the record up again for every report: an earlier listener call may have unwatched it.
        const auto it = m_records.find(report.id);
        if (it == m_records.end()) {
            continue;
        }
        notify(*it->second, report.name, report.action);
    }
}

void FileWatcherLinux::processBuffer(const void* data, size_t size)
{
    if (data == nullptr) {
        return;
    }
    // Listeners may unwatch records while this runs; released records live until the outermost call returns.
    struct Depth
    {
        FileWatcherLinux& w;
        explicit Depth(FileWatcherLinux& watcher) : w(watcher) { ++w.m_pollDepth; }
        ~Depth()
        {
            if (--w.m_pollDepth == 0) {
                w.m_released.clear();
            }
        }
    } depth(*this);

    const auto* bytes = static_cast<const unsigned char*>(data);
    m_lastValid = false;
    std::vector<Report> reports;
    std::string name;
    size_t offset = 0;
    while (size - offset >= kHeaderSize) {
        struct inotify_event header
        {
        };
        std::memcpy(&header, bytes + offset, kHeaderSize);
        const size_t available = size - offset - kHeaderSize;
        if (header.len > available) {
            break; // cut record: its name would lie beyond the buffer
        }
        const char* rawName = reinterpret_cast<const char*>(bytes + offset + kHeaderSize);
        name.assign(rawName, ::strnlen(rawName, header.len)); // names are NUL-padded
        offset += kHeaderSize + header.len;
        if (name == "." || name == ".." || name.find('/') != std::string::npos) {
            continue; // never an entry name: a path must not leave the watched folder
        }

        reports.clear();
        handleEvent(header.wd, header.mask, header.cookie, name, reports);
        deliver(reports);
    }
}

void FileWatcherLinux::poll()
{
    if (m_fd < 0 || m_pollDepth > 0) {
        return;
    }
    for (int reads = 0; reads < kMaxReadsPerPoll; ++reads) {
        const ssize_t n = ::read(m_fd, m_buffer.data(), m_buffer.size());
        if (n > 0) {
            processBuffer(m_buffer.data(), static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        break; // EAGAIN: the queue is empty
    }
}

} // namespace FW
