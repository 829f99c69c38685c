// The file holders a sync thread builds for its unit: the folder a synchroniser reads and writes its files
// in (FileAccessor) and the cached listing of a synchronised directory (FileInfoCache).
#pragma once

#include <string>
#include <vector>

#include "klib_Types.h"

namespace ComControl {

// A path relative to a synchronised folder that stays inside it: not empty, no leading "/", no "\", and
// no empty, "." or ".." part.
bool isSafeRelativePath(const char* path);

class FileAccessor
{
public:
    // 0; COMCTRL_E_FAILED for a null or empty folder (the accessor is then not initialised).
    [[nodiscard]] i32 initialize(const char* directory);
    bool isInitialized() const { return !m_directory.empty(); }
    const std::string& getDirectory() const { return m_directory; }
    // The folder, "/" and the relative path. COMCTRL_E_NOT_READY before initialize; COMCTRL_E_FAILED for a
    // null out or a path that is not safe (out is then untouched).
    [[nodiscard]] i32 makePath(const char* relativePath, std::string* out) const;

private:
    std::string m_directory;
};

struct FileInfo
{
    std::string m_path; // relative to the synchronised folder
    u64 m_size = 0;
    u64 m_modified = 0; // seconds since 1970
};

// Entries in byte order of their paths, at most the capacity given to initialize.
class FileInfoCache
{
public:
    // 0, dropping every entry; COMCTRL_E_FAILED for a capacity of 0.
    [[nodiscard]] i32 initialize(u32 capacity);
    u32 getCapacity() const { return m_capacity; }
    u32 getCount() const { return static_cast<u32>(m_entries.size()); }
    // Adds the entry or updates the one of that path. COMCTRL_E_LIMIT when a new path finds the cache full;
    // COMCTRL_E_FAILED for a path that is not safe; COMCTRL_E_NOT_READY before initialize.
    [[nodiscard]] i32 set(const char* path, u64 size, u64 modified);
    // The entry of the path, or null.
    const FileInfo* find(const char* path) const;
    // The entry at index (byte order of paths), or null.
    const FileInfo* at(u32 index) const;
    // 0, or COMCTRL_E_FAILED when no entry has the path.
    i32 remove(const char* path);
    void clear() { m_entries.clear(); }

private:
    std::vector<FileInfo>::const_iterator lowerBound(const char* path) const;

    u32 m_capacity = 0;
    std::vector<FileInfo> m_entries;
};

} // namespace ComControl
