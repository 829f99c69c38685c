// File-change watcher: tells a listener which entries of a folder (and of its sub-folders) were added, removed or
// modified. It has no thread: the owner calls poll(), and listeners run inside poll() on the owner's thread.
#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "klib_Types.h"

namespace FW {

// Actions delivered to listeners.
constexpr u32 kActionAdded = 1;
constexpr u32 kActionRemoved = 2;
constexpr u32 kActionModified = 4;
constexpr u32 kActionLost = 8; // changes were lost: list the folder again (the name is empty)

class Exception : public std::runtime_error
{
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// Message: "File not found (" + folder + ")".
class FileNotFoundException : public Exception
{
public:
    explicit FileNotFoundException(const std::string& folder) : Exception("File not found (" + folder + ")") {}
};

class FileWatchListener
{
public:
    virtual ~FileWatchListener() = default;
    // name is relative to folder; an entry of a sub-folder s is named "s/f".
    virtual void onFileChanged(u32 watchId, const std::string& folder, const std::string& name, u32 action) = 0;
};

struct WatchRecord;

class FileWatcherImpl
{
public:
    virtual ~FileWatcherImpl() = default;
    // Returns the new id; throws FileNotFoundException when the folder cannot be watched.
    virtual u32 watchDirectory(const std::string& folder, FileWatchListener* listener) = 0;
    // Unknown ids are ignored.
    virtual void unwatch(u32 id) = 0;
    // Unwatches the first record (in id order) whose folder equals folder byte for byte.
    virtual void unwatchFolder(const std::string& folder) = 0;
    virtual void poll() = 0;
    virtual void notify(WatchRecord& record, const std::string& name, u32 action) = 0;
};

// inotify implementation: one non-blocking inotify instance per watcher, one watch per folder and sub-folder.
class FileWatcherLinux : public FileWatcherImpl
{
public:
    FileWatcherLinux();
    ~FileWatcherLinux() override;
    FileWatcherLinux(const FileWatcherLinux&) = delete;
    FileWatcherLinux& operator=(const FileWatcherLinux&) = delete;

    u32 watchDirectory(const std::string& folder, FileWatchListener* listener) override;
    void unwatch(u32 id) override;
    void unwatchFolder(const std::string& folder) override;
    // Reads and processes events until the queue is empty. A poll from inside a listener returns at once.
    void poll() override;
    void notify(WatchRecord& record, const std::string& name, u32 action) override;

    // Processes one buffer of raw inotify events as read from the descriptor. Records are checked against the
    // buffer's end before they are read; a cut record ends the buffer.
    void processBuffer(const void* data, size_t size);

    // The inotify descriptor (for tests and diagnostics).
    int descriptor() const { return m_fd; }
    // The watch descriptor of a record's folder, -1 when the id is unknown or its folder is gone.
    int rootDescriptor(u32 id) const;
    // Number of live watch records.
    size_t recordCount() const { return m_records.size(); }

private:
    struct Target
    {
        u32 id;
        int wd;
        std::string relative; // "" for the record's own folder
    };
    struct Report
    {
        u32 id;
        u32 action;
        std::string name;
    };

    void addTree(WatchRecord& record, const std::string& relative, bool reportEntries, std::vector<Report>& out);
    int addWatch(WatchRecord& record, const std::string& relative, bool isRoot);
    void dropWatch(WatchRecord& record, int wd);
    void dropSubtree(WatchRecord& record, const std::string& relative);
    void release(WatchRecord& record);
    void handleEvent(int wd, u32 mask, u32 cookie, const std::string& name, std::vector<Report>& out);
    void handleOverflow(std::vector<Report>& out);
    void deliver(std::vector<Report>& reports);
    void rememberTempCookie(u32 cookie);
    bool takeTempCookie(u32 cookie);

    int m_fd;
    u32 m_lastId;
    std::map<u32, std::unique_ptr<WatchRecord>> m_records;
    // Watch descriptor -> (record id, folder relative to the record). Two records may share a descriptor when
    // their folders overlap (inotify gives one descriptor per inode).
    std::unordered_map<int, std::vector<std::pair<u32, std::string>>> m_targets;
    // Records unwatched while a poll runs; freed when the poll returns.
    std::vector<std::unique_ptr<WatchRecord>> m_released;
    std::vector<u32> m_tempCookies; // cookies of moves away from a temporary name, newest last
    std::vector<unsigned char> m_buffer;
    u32 m_pollDepth;
    bool m_lastValid;
    Report m_last; // last delivered report of the current buffer, to drop identical repeats
};

// Facade over the platform implementation.
class FileWatcher
{
public:
    FileWatcher();
    virtual ~FileWatcher();
    FileWatcher(const FileWatcher&) = delete;
    FileWatcher& operator=(const FileWatcher&) = delete;

    u32 watchDirectory(const std::string& folder, FileWatchListener* listener);
    void unwatch(u32 id);
    void unwatchFolder(const std::string& folder);
    void poll();

    FileWatcherLinux& impl() { return *m_pImpl; }

private:
    std::unique_ptr<FileWatcherLinux> m_pImpl;
};

} // namespace FW
