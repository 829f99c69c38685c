// Shared helpers of the POSIX file API sources; not part of the public interface.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <climits>
#include <type_traits>

#include "fsw_Hooks.h"
#include "fsw_api.h"

namespace fsw_detail {

// The system calls, through the test seam (fsw_SystemCalls.h). sysOpenAt adds O_CLOEXEC and retries EINTR.
ssize_t sysRead(int fd, void* buffer, size_t size);
ssize_t sysWrite(int fd, const void* buffer, size_t size);
int sysFsync(int fd);
int sysOpenAt(int dirFd, const char* path, int flags, mode_t mode = 0);
int sysClose(int fd);
int sysRenameAt(int fromDirFd, const char* from, int toDirFd, const char* to, unsigned flags);
int sysMkdirAt(int dirFd, const char* path, mode_t mode);
int sysUnlinkAt(int dirFd, const char* path, int flags);
int sysChmodAt(int dirFd, const char* path, mode_t mode, int flags);
int sysFchmod(int fd, mode_t mode);

inline int sysOpen(const char* path, int flags, mode_t mode = 0)
{
    return sysOpenAt(AT_FDCWD, path, flags, mode);
}

// Descriptor of a handle; false for a null pointer or an invalid value.
inline bool toFd(const FswHandle* handle, int* fd)
{
    if (handle == nullptr || *handle > static_cast<FswHandle>(INT_MAX)) {
        return false;
    }
    *fd = static_cast<int>(*handle);
    return true;
}

// Loops until size bytes, end of file or an error (EINTR is retried); *got is what was read.
u32 readAll(int fd, void* buffer, u32 size, u32* got);
// Loops until size bytes or an error; *put is what was written.
u32 writeAll(int fd, const void* buffer, u32 size, u32* put);

// fsync, retrying EINTR; special files that cannot be synced count as synced.
u32 syncFd(int fd);
// Checks the path and stats it (following a final link or not): FSW_OK or the failure.
u32 statPath(const char* path, struct stat* st, bool followLink);
// Opens and fsyncs a folder (following links); a file system that cannot sync folders counts as synced.
u32 syncFolder(const char* path);

// Opens a file with the flags (O_NOCTTY added) without blocking on the way: a folder, pipe or socket is refused
// with FSW_E_ACCESS; devices open. On success *fd is a blocking descriptor.
u32 openFile(const char* path, int flags, int* fd);

// Read-only in the sense of this API: a regular file without owner-write permission.
inline bool isProtectedFile(const struct stat& st)
{
    return S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

// True when the final name of path starts with "." (and is not "." or "..").
bool isHiddenPath(const char* path);

// Attribute word of a stat record of path.
u32 attributesOf(const struct stat& st, const char* path);

// Copies a regular file through the atomic replacement; no hooks are run.
u32 copyFile(const char* from, const char* to);
// Begins a replacement without running hooks; see fsw_replaceBegin and fsw_replaceBeginUnsynced.
u32 replaceBegin(FswReplace** out, const char* targetPath, bool unsynced);

// Runs an operation between its pre- and post-hook.
template <typename Fn, typename... Args>
u32 runHooked(const FswHookPair<Args...>& hooks, Fn&& operation, std::type_identity_t<Args>... args)
{
    u32 flag = 0;
    if (hooks.pre != nullptr) {
        hooks.pre(&flag, args...);
    }
    const u32 result = operation();
    if (flag != 0 && hooks.post != nullptr) {
        hooks.post(result, args...);
    }
    return result;
}

} // namespace fsw_detail
