#include "comctrl_FileAccessor.h"

#include <algorithm>
#include <cstring>

#include "comctrl_Result.h"

namespace ComControl {

bool isSafeRelativePath(const char* path)
{
    if (path == nullptr || path[0] == '\0' || path[0] == '/') {
        return false;
    }
    const char* part = path;
    for (const char* p = path;; ++p) {
        if (*p == '\\') {
            return false;
        }
        if (*p == '/' || *p == '\0') {
            const size_t length = static_cast<size_t>(p - part);
            if (length == 0 || (length == 1 && part[0] == '.') || (length == 2 && part[0] == '.' && part[1] == '.')) {
                return false;
            }
            if (*p == '\0') {
                return true;
            }
            part = p + 1;
        }
    }
}

i32 FileAccessor::initialize(const char* directory)
{
    if (directory == nullptr || directory[0] == '\0') {
        m_directory.clear();
        return COMCTRL_E_FAILED;
    }
    m_directory = directory;
    return COMCTRL_OK;
}

i32 FileAccessor::makePath(const char* relativePath, std::string* out) const
{
    if (!isInitialized()) {
        return COMCTRL_E_NOT_READY;
    }
    if (out == nullptr || !isSafeRelativePath(relativePath)) {
        return COMCTRL_E_FAILED;
    }
    *out = m_directory;
    if (out->back() != '/') {
        out->push_back('/');
    }
    out->append(relativePath);
    return COMCTRL_OK;
}

i32 FileInfoCache::initialize(u32 capacity)
{
    m_entries.clear();
    m_capacity = capacity;
    return capacity == 0 ? COMCTRL_E_FAILED : COMCTRL_OK;
}

std::vector<FileInfo>::const_iterator FileInfoCache::lowerBound(const char* path) const
{
    return std::lower_bound(m_entries.begin(), m_entries.end(), path, [](const FileInfo& entry, const char* p) {
        return std::strcmp(entry.m_path.c_str(), p) < 0;
    });
}

i32 FileInfoCache::set(const char* path, u64 size, u64 modified)
{
    if (m_capacity == 0) {
        return COMCTRL_E_NOT_READY;
    }
    if (!isSafeRelativePath(path)) {
        return COMCTRL_E_FAILED;
    }
    const auto at = lowerBound(path);
    if (at != m_entries.end() && at->m_path == path) {
        auto& entry = m_entries[static_cast<size_t>(at - m_entries.begin())];
        entry.m_size = size;
        entry.m_modified = modified;
        return COMCTRL_OK;
    }
    if (m_entries.size() >= m_capacity) {
        return COMCTRL_E_LIMIT;
    }
    m_entries.insert(at, FileInfo{path, size, modified});
    return COMCTRL_OK;
}

const FileInfo* FileInfoCache::find(const char* path) const
{
    if (path == nullptr) {
        return nullptr;
    }
    const auto at = lowerBound(path);
    return at != m_entries.end() && at->m_path == path ? &*at : nullptr;
}

const FileInfo* FileInfoCache::at(u32 index) const
{
    return index < m_entries.size() ? &m_entries[index] : nullptr;
}

i32 FileInfoCache::remove(const char* path)
{
    const FileInfo* entry = find(path);
    if (entry == nullptr) {
        return COMCTRL_E_FAILED;
    }
    m_entries.erase(m_entries.begin() + (entry - m_entries.data()));
    return COMCTRL_OK;
}

} // namespace ComControl
