// File API on POSIX: error translation, path checks, file handles, attributes and times.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fsw_Internal.h"
#include "fsw_SystemCalls.h"
#include "fsw_api.h"

// ---------------------------------------------------------------------------------------------------------------
// Hooks (defaults only; see fsw_Hooks.h)
// ---------------------------------------------------------------------------------------------------------------
#define FSW_DEFAULT_HOOKS(...)                                                                                         \
    {                                                                                                                  \
        &fsw_defaultPreHook<__VA_ARGS__>, &fsw_defaultPostHook<__VA_ARGS__>                                            \
    }

FswHookPair<FswHandle*, const char*, u32> fsw_openHooks = FSW_DEFAULT_HOOKS(FswHandle*, const char*, u32);
FswHookPair<FswHandle*> fsw_closeHooks = FSW_DEFAULT_HOOKS(FswHandle*);
FswHookPair<void*, u32*, u32, FswHandle*> fsw_readHooks = FSW_DEFAULT_HOOKS(void*, u32*, u32, FswHandle*);
FswHookPair<const void*, u32*, u32, FswHandle*> fsw_writeHooks = FSW_DEFAULT_HOOKS(const void*, u32*, u32, FswHandle*);
FswHookPair<i32, u32, FswHandle*> fsw_seekHooks = FSW_DEFAULT_HOOKS(i32, u32, FswHandle*);
FswHookPair<u32*, FswHandle*> fsw_tellHooks = FSW_DEFAULT_HOOKS(u32*, FswHandle*);
FswHookPair<FswHandle*> fsw_flushHookPair = FSW_DEFAULT_HOOKS(FswHandle*);
FswHookPair<u32*, const char*> fsw_getSizeHooks = FSW_DEFAULT_HOOKS(u32*, const char*);
FswHookPair<const char*> fsw_removeHooks = FSW_DEFAULT_HOOKS(const char*);
FswHookPair<const char*, const char*> fsw_moveHooks = FSW_DEFAULT_HOOKS(const char*, const char*);
FswHookPair<const char*, const char*> fsw_copyHooks = FSW_DEFAULT_HOOKS(const char*, const char*);
FswHookPair<u32*, const char*> fsw_getAttributesHooks = FSW_DEFAULT_HOOKS(u32*, const char*);
FswHookPair<u32, const char*> fsw_setAttributesHooks = FSW_DEFAULT_HOOKS(u32, const char*);
FswHookPair<FswTime*, FswTime*, FswTime*, const char*> fsw_getTimeHooks =
    FSW_DEFAULT_HOOKS(FswTime*, FswTime*, FswTime*, const char*);
FswHookPair<const char*> fsw_makeDirHooks = FSW_DEFAULT_HOOKS(const char*);
FswHookPair<FswDir**, const char*> fsw_openDirHooks = FSW_DEFAULT_HOOKS(FswDir**, const char*);
FswHookPair<FswDir*, char*, u32> fsw_readDirHooks = FSW_DEFAULT_HOOKS(FswDir*, char*, u32);
FswHookPair<FswDir*, u32*> fsw_getDirEntryNameSizeHooks = FSW_DEFAULT_HOOKS(FswDir*, u32*);
FswHookPair<FswDir*> fsw_closeDirHooks = FSW_DEFAULT_HOOKS(FswDir*);
FswHookPair<const char*, bool> fsw_removeDirHooks = FSW_DEFAULT_HOOKS(const char*, bool);

#undef FSW_DEFAULT_HOOKS

// ---------------------------------------------------------------------------------------------------------------
// System-call seam
// ---------------------------------------------------------------------------------------------------------------
namespace {

ssize_t realRead(int fd, void* buffer, size_t size)
{
    return ::read(fd, buffer, size);
}

ssize_t realWrite(int fd, const void* buffer, size_t size)
{
    return ::write(fd, buffer, size);
}

int realFsync(int fd)
{
    return ::fsync(fd);
}

int realOpen(int dirFd, const char* path, int flags, mode_t mode)
{
    return ::openat(dirFd, path, flags, mode);
}

int realClose(int fd)
{
    return ::close(fd);
}

int realRename(int fromDirFd, const char* from, int toDirFd, const char* to, unsigned flags)
{
    return ::renameat2(fromDirFd, from, toDirFd, to, flags);
}

int realMkdir(int dirFd, const char* path, mode_t mode)
{
    return ::mkdirat(dirFd, path, mode);
}

int realUnlink(int dirFd, const char* path, int flags)
{
    return ::unlinkat(dirFd, path, flags);
}

int realChmod(int dirFd, const char* path, mode_t mode, int flags)
{
    return ::fchmodat(dirFd, path, mode, flags);
}

int realFchmod(int fd, mode_t mode)
{
    return ::fchmod(fd, mode);
}

constexpr FswSystemCalls kRealCalls = {&realRead,   &realWrite, &realFsync,  &realOpen,  &realClose,
                                       &realRename, &realMkdir, &realUnlink, &realChmod, &realFchmod};

// The calls in use; each entry is swapped on its own, so a call in flight always sees a complete function.
struct CallTable
{
    std::atomic<FswSysRead> read{kRealCalls.read};
    std::atomic<FswSysWrite> write{kRealCalls.write};
    std::atomic<FswSysFsync> fsync{kRealCalls.fsync};
    std::atomic<decltype(FswSystemCalls::open)> open{kRealCalls.open};
    std::atomic<decltype(FswSystemCalls::close)> close{kRealCalls.close};
    std::atomic<decltype(FswSystemCalls::rename)> rename{kRealCalls.rename};
    std::atomic<decltype(FswSystemCalls::mkdir)> mkdir{kRealCalls.mkdir};
    std::atomic<decltype(FswSystemCalls::unlink)> unlink{kRealCalls.unlink};
    std::atomic<decltype(FswSystemCalls::chmod)> chmod{kRealCalls.chmod};
    std::atomic<decltype(FswSystemCalls::fchmod)> fchmod{kRealCalls.fchmod};
};

CallTable g_calls;

template <typename Fn> void install(std::atomic<Fn>& slot, Fn call, Fn real)
{
    slot.store(call != nullptr ? call : real);
}

} // namespace

void fsw_setSystemCallTable(const FswSystemCalls* calls)
{
    const FswSystemCalls& use = calls != nullptr ? *calls : kRealCalls;
    install(g_calls.read, use.read, kRealCalls.read);
    install(g_calls.write, use.write, kRealCalls.write);
    install(g_calls.fsync, use.fsync, kRealCalls.fsync);
    install(g_calls.open, use.open, kRealCalls.open);
    install(g_calls.close, use.close, kRealCalls.close);
    install(g_calls.rename, use.rename, kRealCalls.rename);
    install(g_calls.mkdir, use.mkdir, kRealCalls.mkdir);
    install(g_calls.unlink, use.unlink, kRealCalls.unlink);
    install(g_calls.chmod, use.chmod, kRealCalls.chmod);
    install(g_calls.fchmod, use.fchmod, kRealCalls.fchmod);
}

void fsw_setSystemCalls(FswSysRead readCall, FswSysWrite writeCall, FswSysFsync fsyncCall)
{
    FswSystemCalls calls = kRealCalls;
    calls.read = readCall;
    calls.write = writeCall;
    calls.fsync = fsyncCall;
    fsw_setSystemCallTable(&calls);
}

const FswSystemCalls& fsw_realSystemCalls()
{
    return kRealCalls;
}

namespace fsw_detail {

ssize_t sysRead(int fd, void* buffer, size_t size)
{
    return g_calls.read.load(std::memory_order_relaxed)(fd, buffer, size);
}

ssize_t sysWrite(int fd, const void* buffer, size_t size)
{
    return g_calls.write.load(std::memory_order_relaxed)(fd, buffer, size);
}

int sysFsync(int fd)
{
    return g_calls.fsync.load(std::memory_order_relaxed)(fd);
}

int sysOpenAt(int dirFd, const char* path, int flags, mode_t mode)
{
    const auto call = g_calls.open.load(std::memory_order_relaxed);
    int fd;
    do {
        fd = call(dirFd, path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int sysClose(int fd)
{
    return g_calls.close.load(std::memory_order_relaxed)(fd);
}

int sysRenameAt(int fromDirFd, const char* from, int toDirFd, const char* to, unsigned flags)
{
    return g_calls.rename.load(std::memory_order_relaxed)(fromDirFd, from, toDirFd, to, flags);
}

int sysMkdirAt(int dirFd, const char* path, mode_t mode)
{
    return g_calls.mkdir.load(std::memory_order_relaxed)(dirFd, path, mode);
}

int sysUnlinkAt(int dirFd, const char* path, int flags)
{
    return g_calls.unlink.load(std::memory_order_relaxed)(dirFd, path, flags);
}

int sysChmodAt(int dirFd, const char* path, mode_t mode, int flags)
{
    return g_calls.chmod.load(std::memory_order_relaxed)(dirFd, path, mode, flags);
}

int sysFchmod(int fd, mode_t mode)
{
    return g_calls.fchmod.load(std::memory_order_relaxed)(fd, mode);
}

u32 readAll(int fd, void* buffer, u32 size, u32* got)
{
    u8* bytes = static_cast<u8*>(buffer);
    u32 done = 0;
    u32 result = FSW_OK;
    while (done < size) {
        const ssize_t n = sysRead(fd, bytes + done, size - done);
        if (n > 0) {
            done += static_cast<u32>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            result = fsw_fromErrno(errno);
            break;
        }
    }
    *got = done;
    return result;
}

u32 writeAll(int fd, const void* buffer, u32 size, u32* put)
{
    const u8* bytes = static_cast<const u8*>(buffer);
    u32 done = 0;
    u32 result = FSW_OK;
    while (done < size) {
        const ssize_t n = sysWrite(fd, bytes + done, size - done);
        if (n > 0) {
            done += static_cast<u32>(n);
        } else if (n == 0) {
            // No progress and no error: stop instead of spinning.
            result = FSW_E_OTHER;
            break;
        } else if (errno != EINTR) {
            result = fsw_fromErrno(errno);
            break;
        }
    }
    *put = done;
    return result;
}

u32 syncFd(int fd)
{
    int rc;
    do {
        rc = sysFsync(fd);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        return FSW_OK;
    }
    const int error = errno;
    struct stat st;
    if ((error == EINVAL || error == EROFS) && ::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        return FSW_OK; // devices, pipes and sockets have nothing to sync
    }
    return fsw_fromErrno(error);
}

u32 statPath(const char* path, struct stat* st, bool followLink)
{
    const u32 checked = fsw_checkPath(path);
    if (checked != FSW_OK) {
        return checked;
    }
    const int rc = followLink ? ::stat(path, st) : ::lstat(path, st);
    return rc == 0 ? FSW_OK : fsw_fromErrno(errno);
}

u32 syncFolder(const char* path)
{
    const int fd = sysOpen(path, O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        return fsw_fromErrno(errno);
    }
    int rc;
    do {
        rc = sysFsync(fd);
    } while (rc != 0 && errno == EINTR);
    const u32 result = rc != 0 && errno != EINVAL ? fsw_fromErrno(errno) : FSW_OK;
    sysClose(fd);
    return result;
}

u32 openFile(const char* path, int flags, int* fd)
{
    // Without blocking: the open of a pipe for reading would otherwise wait for a writer for ever.
    *fd = sysOpen(path, flags | O_NOCTTY | O_NONBLOCK, 0666);
    if (*fd < 0) {
        const int error = errno;
        struct stat st;
        if (error == ENXIO && ::stat(path, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
            return FSW_E_ACCESS; // a pipe without a reader, or a socket
        }
        return fsw_fromErrno(error);
    }
    struct stat st;
    if (::fstat(*fd, &st) != 0) {
        const int error = errno;
        sysClose(*fd);
        *fd = -1;
        return fsw_fromErrno(error);
    }
    if (S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
        sysClose(*fd);
        *fd = -1;
        return FSW_E_ACCESS; // a folder, pipe or socket is not a file
    }
    const int status = ::fcntl(*fd, F_GETFL);
    if (status == -1 || ::fcntl(*fd, F_SETFL, status & ~O_NONBLOCK) == -1) {
        const int error = errno;
        sysClose(*fd);
        *fd = -1;
        return fsw_fromErrno(error);
    }
    return FSW_OK;
}

bool isHiddenPath(const char* path)
{
    size_t end = std::strlen(path);
    while (end > 1 && path[end - 1] == '/') {
        --end;
    }
    size_t start = end;
    while (start > 0 && path[start - 1] != '/') {
        --start;
    }
    const size_t length = end - start;
    if (length == 0 || path[start] != '.') {
        return false;
    }
    return !(length == 1 || (length == 2 && path[start + 1] == '.'));
}

u32 attributesOf(const struct stat& st, const char* path)
{
    u32 attributes = 0;
    if (S_ISDIR(st.st_mode)) {
        attributes |= FSW_ATTR_DIRECTORY;
    }
    if (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
        attributes |= FSW_ATTR_READONLY;
    }
    if (isHiddenPath(path)) {
        attributes |= FSW_ATTR_HIDDEN;
    }
    return attributes != 0 ? attributes : FSW_ATTR_NORMAL;
}

} // namespace fsw_detail

using namespace fsw_detail;

// ---------------------------------------------------------------------------------------------------------------
// Errors and paths
// ---------------------------------------------------------------------------------------------------------------
u32 fsw_fromErrno(int error)
{
    switch (error) {
    case 0:
        return FSW_OK;
    case ENOENT:
    case ENOTDIR:
        return FSW_E_NOT_FOUND;
    case EEXIST:
        return FSW_E_EXISTS;
    case EBADF:
        return FSW_E_INVALID_HANDLE;
    case EINVAL:
    case EILSEQ:
    case ELOOP:
        return FSW_E_INVALID_NAME;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return FSW_E_ACCESS;
    case EBUSY:
    case ETXTBSY:
    case EAGAIN:
        return FSW_E_IN_USE;
    case ENAMETOOLONG:
        return FSW_E_NAME_TOO_LONG;
    case EMFILE:
    case ENFILE:
        return FSW_E_TOO_MANY_FILES;
    case EFBIG:
    case EOVERFLOW:
        return FSW_E_BEYOND_32_BITS;
    case ENOSPC:
    case EDQUOT:
        return FSW_E_DISK_FULL;
    case ENOMEM:
        return FSW_E_NO_MEMORY;
    default:
        return FSW_E_OTHER;
    }
}

u32 fsw_checkPath(const char* path)
{
    if (path == nullptr) {
        return FSW_E_BAD_ARGUMENT;
    }
    const u8* p = reinterpret_cast<const u8*>(path);
    while (*p != 0) {
        const u8 lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        u32 extra;
        u32 code;
        u32 minimum;
        if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            code = lead & 0x1F;
            minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            code = lead & 0x0F;
            minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            code = lead & 0x07;
            minimum = 0x10000;
        } else {
            return FSW_E_INVALID_NAME;
        }
        for (u32 i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80) { // also stops at the NUL
                return FSW_E_INVALID_NAME;
            }
            code = (code << 6) | (p[i] & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return FSW_E_INVALID_NAME;
        }
        p += extra + 1;
    }
    return FSW_OK;
}

u32 fsw_unsupported()
{
    return FSW_E_UNSUPPORTED;
}

// ---------------------------------------------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------------------------------------------
u32 fsw_open(FswHandle* out, const char* path, u32 mode)
{
    return runHooked(
        fsw_openHooks,
        [&]() -> u32 {
            if (out != nullptr) {
                *out = FSW_INVALID_HANDLE;
            }
            if (out == nullptr || path == nullptr || mode == 0) {
                return FSW_E_BAD_ARGUMENT;
            }
            const u32 checked = fsw_checkPath(path);
            if (checked != FSW_OK) {
                return checked;
            }
            int flags;
            switch (mode & (FSW_MODE_READ | FSW_MODE_WRITE)) {
            case FSW_MODE_READ:
                flags = O_RDONLY; // a read-only mode always opens an existing file
                break;
            case FSW_MODE_WRITE:
                flags = O_WRONLY;
                break;
            case FSW_MODE_READ | FSW_MODE_WRITE:
                flags = O_RDWR;
                break;
            default:
                return FSW_E_BAD_ARGUMENT;
            }
            if (flags != O_RDONLY) {
                if ((mode & FSW_MODE_CREATE_ALWAYS) != 0) {
                    flags |= O_CREAT | O_TRUNC;
                } else if ((mode & FSW_MODE_OPEN_ALWAYS) != 0) {
                    flags |= O_CREAT;
                } else if ((mode & FSW_MODE_OPEN_EXISTING) == 0) {
                    return FSW_E_BAD_ARGUMENT;
                }
                // Write protection holds whoever the user is.
                struct stat st;
                if (::stat(path, &st) == 0 && (S_ISDIR(st.st_mode) || isProtectedFile(st))) {
                    return FSW_E_ACCESS;
                }
            }
            int fd = -1;
            const u32 opened = openFile(path, flags, &fd);
            if (opened != FSW_OK) {
                return opened;
            }
            *out = static_cast<FswHandle>(fd);
            return FSW_OK;
        },
        out, path, mode);
}

u32 fsw_close(FswHandle* handle)
{
    return runHooked(
        fsw_closeHooks,
        [&]() -> u32 {
            int fd;
            if (!toFd(handle, &fd)) {
                return FSW_E_BAD_ARGUMENT;
            }
            // close(2) releases the descriptor even when it reports an error, so the handle is forgotten anyway.
            *handle = FSW_INVALID_HANDLE;
            if (sysClose(fd) != 0 && errno != EINTR) {
                return fsw_fromErrno(errno);
            }
            return FSW_OK;
        },
        handle);
}

namespace {

// Arguments of a read or write: the count is cleared and the descriptor found, or the failure to return.
u32 checkTransfer(const void* buffer, u32* count, u32 size, FswHandle* handle, int* fd)
{
    if (count == nullptr || handle == nullptr || (buffer == nullptr && size != 0)) {
        return FSW_E_BAD_ARGUMENT;
    }
    *count = 0;
    return toFd(handle, fd) ? FSW_OK : FSW_E_INVALID_HANDLE;
}

} // namespace

u32 fsw_read(void* buffer, u32* got, u32 size, FswHandle* handle)
{
    return runHooked(
        fsw_readHooks,
        [&]() -> u32 {
            int fd;
            const u32 checked = checkTransfer(buffer, got, size, handle, &fd);
            if (checked != FSW_OK || size == 0) {
                return checked;
            }
            const u32 result = readAll(fd, buffer, size, got);
            if (result != FSW_OK) {
                return result;
            }
            return *got == 0 ? FSW_END_OF_FILE : FSW_OK;
        },
        buffer, got, size, handle);
}

u32 fsw_write(const void* buffer, u32* put, u32 size, FswHandle* handle)
{
    return runHooked(
        fsw_writeHooks,
        [&]() -> u32 {
            int fd;
            const u32 checked = checkTransfer(buffer, put, size, handle, &fd);
            if (checked != FSW_OK || size == 0) {
                return checked;
            }
            return writeAll(fd, buffer, size, put);
        },
        buffer, put, size, handle);
}

namespace {

u32 seekTo(int fd, i64 target)
{
    if (target < 0) {
        return FSW_E_INVALID_NAME;
    }
    if (target > static_cast<i64>(0xFFFFFFFFu)) {
        return FSW_E_BEYOND_32_BITS;
    }
    if (::lseek(fd, static_cast<off_t>(target), SEEK_SET) < 0) {
        return fsw_fromErrno(errno);
    }
    return FSW_OK;
}

} // namespace

u32 fsw_seek(i32 offset, u32 origin, FswHandle* handle)
{
    return runHooked(
        fsw_seekHooks,
        [&]() -> u32 {
            if (handle == nullptr) {
                return FSW_E_BAD_ARGUMENT;
            }
            int fd;
            if (!toFd(handle, &fd)) {
                return FSW_E_INVALID_HANDLE;
            }
            i64 base = 0;
            if (origin == 1) {
                const off_t current = ::lseek(fd, 0, SEEK_CUR);
                if (current < 0) {
                    return fsw_fromErrno(errno);
                }
                base = current;
            } else if (origin == 2) {
                struct stat st;
                if (::fstat(fd, &st) != 0) {
                    return fsw_fromErrno(errno);
                }
                base = st.st_size;
            } else if (origin != 0) {
                return FSW_E_BAD_ARGUMENT;
            }
            return seekTo(fd, base + offset);
        },
        offset, origin, handle);
}

u32 fsw_seekAbsolute(u32 position, FswHandle* handle)
{
    if (handle == nullptr) {
        return FSW_E_BAD_ARGUMENT;
    }
    int fd;
    if (!toFd(handle, &fd)) {
        return FSW_E_INVALID_HANDLE;
    }
    return seekTo(fd, position);
}

u32 fsw_tell(u32* position, FswHandle* handle)
{
    return runHooked(
        fsw_tellHooks,
        [&]() -> u32 {
            if (position == nullptr || handle == nullptr) {
                return FSW_E_BAD_ARGUMENT;
            }
            int fd;
            if (!toFd(handle, &fd)) {
                return FSW_E_INVALID_HANDLE;
            }
            const off_t current = ::lseek(fd, 0, SEEK_CUR);
            if (current < 0) {
                return fsw_fromErrno(errno);
            }
            if (current > static_cast<off_t>(0xFFFFFFFFu)) {
                return FSW_E_BEYOND_32_BITS;
            }
            *position = static_cast<u32>(current);
            return FSW_OK;
        },
        position, handle);
}

u32 fsw_flush(FswHandle* handle)
{
    if (handle == nullptr) {
        return FSW_E_BAD_ARGUMENT;
    }
    int fd;
    if (!toFd(handle, &fd)) {
        return FSW_E_INVALID_HANDLE;
    }
    return syncFd(fd);
}

u32 fsw_flushHooks(FswHandle* handle)
{
    runHooked(
        fsw_flushHookPair, []() -> u32 { return FSW_OK; }, handle);
    return FSW_OK;
}

u32 fsw_getSize64(u64* size, const char* path)
{
    if (size != nullptr) {
        *size = 0;
    }
    if (size == nullptr) {
        return FSW_E_BAD_ARGUMENT;
    }
    struct stat st;
    const u32 statted = statPath(path, &st, true);
    if (statted != FSW_OK) {
        return statted;
    }
    if (S_ISDIR(st.st_mode)) {
        return FSW_E_ACCESS;
    }
    *size = static_cast<u64>(st.st_size);
    return FSW_OK;
}

u32 fsw_getSize(u32* size, const char* path)
{
    return runHooked(
        fsw_getSizeHooks,
        [&]() -> u32 {
            if (size == nullptr) {
                return FSW_E_BAD_ARGUMENT;
            }
            *size = 0;
            u64 full = 0;
            const u32 result = fsw_getSize64(&full, path);
            if (result != FSW_OK) {
                return result;
            }
            if (full > 0xFFFFFFFFu) {
                return FSW_E_BEYOND_32_BITS;
            }
            *size = static_cast<u32>(full);
            return FSW_OK;
        },
        size, path);
}

u32 fsw_getOpenSize(u64* size, FswHandle* handle)
{
    if (size == nullptr || handle == nullptr) {
        return FSW_E_BAD_ARGUMENT;
    }
    *size = 0;
    int fd;
    if (!toFd(handle, &fd)) {
        return FSW_E_INVALID_HANDLE;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        return fsw_fromErrno(errno);
    }
    *size = static_cast<u64>(st.st_size);
    return FSW_OK;
}

// ---------------------------------------------------------------------------------------------------------------
// Names and attributes
// ---------------------------------------------------------------------------------------------------------------
u32 fsw_remove(const char* path)
{
    return runHooked(
        fsw_removeHooks,
        [&]() -> u32 {
            struct stat st;
            const u32 statted = statPath(path, &st, false);
            if (statted != FSW_OK) {
                return statted;
            }
            if (S_ISDIR(st.st_mode) || isProtectedFile(st)) {
                return FSW_E_ACCESS;
            }
            if (sysUnlinkAt(AT_FDCWD, path, 0) != 0) {
                return fsw_fromErrno(errno);
            }
            return FSW_OK;
        },
        path);
}

u32 fsw_getAttributes(u32* attributes, const char* path)
{
    return runHooked(
        fsw_getAttributesHooks,
        [&]() -> u32 {
            if (attributes == nullptr) {
                return FSW_E_BAD_ARGUMENT;
            }
            struct stat st;
            const u32 statted = statPath(path, &st, true);
            if (statted != FSW_OK) {
                return statted;
            }
            *attributes = attributesOf(st, path);
            return FSW_OK;
        },
        attributes, path);
}

u32 fsw_getLinkAttributes(u32* attributes, bool* isLink, const char* path)
{
    if (isLink != nullptr) {
        *isLink = false;
    }
    if (attributes == nullptr) {
        return FSW_E_BAD_ARGUMENT;
    }
    struct stat st;
    const u32 statted = statPath(path, &st, false);
    if (statted != FSW_OK) {
        return statted;
    }
    *attributes = attributesOf(st, path);
    if (isLink != nullptr) {
        *isLink = S_ISLNK(st.st_mode);
    }
    return FSW_OK;
}

u32 fsw_setAttributes(u32 attributes, const char* path)
{
    return runHooked(
        fsw_setAttributesHooks,
        [&]() -> u32 {
            struct stat st;
            const u32 statted = statPath(path, &st, true);
            if (statted != FSW_OK) {
                return statted;
            }
            mode_t mode = st.st_mode & 07777;
            if ((attributes & FSW_ATTR_READONLY) != 0) {
                if (S_ISDIR(st.st_mode)) {
                    return FSW_OK; // a folder without write permission would refuse new entries
                }
                mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
            } else {
                mode |= S_IWUSR;
            }
            if (mode != (st.st_mode & 07777) && sysChmodAt(AT_FDCWD, path, mode, 0) != 0) {
                return fsw_fromErrno(errno);
            }
            return FSW_OK;
        },
        attributes, path);
}

namespace {

// Calendar fields to the record; false when the year does not fit its 16 bits.
bool fromCalendar(const struct tm& parts, FswTime* out)
{
    const long year = static_cast<long>(parts.tm_year) + 1900;
    if (year < 0 || year > 0xFFFF) {
        return false;
    }
    out->year = static_cast<u16>(year);
    out->month = static_cast<u8>(parts.tm_mon + 1);
    out->day = static_cast<u8>(parts.tm_mday);
    out->hour = static_cast<u8>(parts.tm_hour);
    out->minute = static_cast<u8>(parts.tm_min);
    out->second = static_cast<u8>(parts.tm_sec);
    return true;
}

bool toFswTime(i64 seconds, FswTime* out)
{
    const time_t t = static_cast<time_t>(seconds);
    struct tm parts;
    return ::gmtime_r(&t, &parts) != nullptr && fromCalendar(parts, out);
}

} // namespace

u32 fsw_getTime(FswTime* created, FswTime* accessed, FswTime* modified, const char* path)
{
    return runHooked(
        fsw_getTimeHooks,
        [&]() -> u32 {
            if (created == nullptr && accessed == nullptr && modified == nullptr) {
                return FSW_E_BAD_ARGUMENT;
            }
            const u32 checked = fsw_checkPath(path);
            if (checked != FSW_OK) {
                return checked;
            }
            struct statx sx;
            if (::statx(AT_FDCWD, path, 0, STATX_BTIME | STATX_ATIME | STATX_MTIME, &sx) != 0) {
                return fsw_fromErrno(errno);
            }
            const i64 birth = (sx.stx_mask & STATX_BTIME) != 0 ? sx.stx_btime.tv_sec : sx.stx_mtime.tv_sec;
            FswTime c{}, a{}, m{};
            if (!toFswTime(birth, &c) || !toFswTime(sx.stx_atime.tv_sec, &a) || !toFswTime(sx.stx_mtime.tv_sec, &m)) {
                return FSW_E_OTHER;
            }
            if (created != nullptr) {
                *created = c;
            }
            if (accessed != nullptr) {
                *accessed = a;
            }
            if (modified != nullptr) {
                *modified = m;
            }
            return FSW_OK;
        },
        created, accessed, modified, path);
}

u32 fsw_toLocalTime(FswTime* out, const FswTime* in)
{
    if (out == nullptr || in == nullptr) {
        return FSW_E_FAILED;
    }
    struct tm parts
    {
    };
    parts.tm_year = static_cast<int>(in->year) - 1900;
    parts.tm_mon = static_cast<int>(in->month) - 1;
    parts.tm_mday = in->day;
    parts.tm_hour = in->hour;
    parts.tm_min = in->minute;
    parts.tm_sec = in->second;
    const time_t t = ::timegm(&parts);
    struct tm local;
    if (::localtime_r(&t, &local) == nullptr || !fromCalendar(local, out)) {
        return FSW_E_OTHER;
    }
    return FSW_OK;
}

// ---------------------------------------------------------------------------------------------------------------
// Path queries, permissions and syncs
// ---------------------------------------------------------------------------------------------------------------
u32 fsw_getEntryType(u32* type, const char* path)
{
    if (type == nullptr) {
        return FSW_E_BAD_ARGUMENT;
    }
    *type = FSW_ENTRY_UNKNOWN;
    struct stat st;
    const u32 statted = statPath(path, &st, false);
    if (statted != FSW_OK) {
        return statted;
    }
    if (S_ISREG(st.st_mode)) {
        *type = FSW_ENTRY_FILE;
    } else if (S_ISDIR(st.st_mode)) {
        *type = FSW_ENTRY_FOLDER;
    } else if (S_ISLNK(st.st_mode)) {
        *type = FSW_ENTRY_LINK;
    } else {
        *type = FSW_ENTRY_OTHER;
    }
    return FSW_OK;
}

u32 fsw_getPermissions(u32* permissionBits, const char* path)
{
    if (permissionBits == nullptr) {
        return FSW_E_BAD_ARGUMENT;
    }
    *permissionBits = 0;
    struct stat st;
    const u32 statted = statPath(path, &st, true);
    if (statted != FSW_OK) {
        return statted;
    }
    *permissionBits = st.st_mode & 07777;
    return FSW_OK;
}

u32 fsw_setPermissions(u32 permissionBits, const char* path)
{
    const u32 checked = fsw_checkPath(path);
    if (checked != FSW_OK) {
        return checked;
    }
    if (sysChmodAt(AT_FDCWD, path, static_cast<mode_t>(permissionBits & 07777), 0) != 0) {
        return fsw_fromErrno(errno);
    }
    return FSW_OK;
}

u32 fsw_realPath(char* out, u32 size, const char* path)
{
    if (out == nullptr || size == 0) {
        return FSW_E_BAD_ARGUMENT;
    }
    out[0] = 0;
    const u32 checked = fsw_checkPath(path);
    if (checked != FSW_OK) {
        return checked;
    }
    char* resolved = ::realpath(path, nullptr);
    if (resolved == nullptr) {
        return fsw_fromErrno(errno);
    }
    const size_t length = std::strlen(resolved);
    u32 result = FSW_E_NAME_TOO_LONG;
    if (length < size) {
        std::memcpy(out, resolved, length + 1);
        result = FSW_OK;
    }
    std::free(resolved);
    return result;
}

bool fsw_isSameFile(const char* a, const char* b)
{
    struct stat first;
    struct stat second;
    return fsw_checkPath(a) == FSW_OK && fsw_checkPath(b) == FSW_OK && ::stat(a, &first) == 0 &&
           ::stat(b, &second) == 0 && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

u32 fsw_syncPath(const char* path)
{
    const u32 checked = fsw_checkPath(path);
    if (checked != FSW_OK) {
        return checked;
    }
    const int fd = sysOpen(path, O_RDONLY | O_NOFOLLOW);
    if (fd < 0) {
        return fsw_fromErrno(errno);
    }
    const u32 synced = syncFd(fd);
    const u32 closed = sysClose(fd) != 0 && errno != EINTR ? fsw_fromErrno(errno) : FSW_OK;
    return synced != FSW_OK ? synced : closed;
}

u32 fsw_syncFolder(const char* path)
{
    const u32 checked = fsw_checkPath(path);
    return checked != FSW_OK ? checked : syncFolder(path);
}
