// File API on POSIX: atomic replacement of a file, copy and move.
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "fsw_Internal.h"
#include "fsw_api.h"
#include "klib_Print.h"

using namespace fsw_detail;

namespace {

constexpr u32 kReplaceTag = 0x46535752; // "FSWR"
constexpr const char* kTempMarker = ".tmp-";
constexpr u32 kCopyBufferSize = 256 * 1024;

} // namespace

struct FswReplace
{
    u32 tag = kReplaceTag;
    FswHandle handle = FSW_INVALID_HANDLE;
    std::string target; // the file that is replaced (a link's destination when the target was a link)
    std::string temp;   // the temporary in the target's folder
    std::string folder; // the target's folder, synced after the rename
    bool modeSet = false;
    bool unsynced = false; // commit without syncs; a link target is replaced itself
    mode_t mode = 0;
};

namespace {

bool isValidReplace(const FswReplace* replace)
{
    return replace != nullptr && replace->tag == kReplaceTag;
}

// A suffix that no other process or call of this process uses at the same time.
std::string uniqueSuffix()
{
    static std::atomic<u32> counter{0};
    u32 noise = 0;
    if (::getrandom(&noise, sizeof noise, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof noise)) {
        struct timespec now
        {
        };
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        noise = static_cast<u32>(now.tv_nsec) ^ static_cast<u32>(now.tv_sec);
    }
    char text[40];
    klib_snprintf(text, sizeof text, nullptr, "%x-%x-%08x", static_cast<u32>(::getpid()), counter.fetch_add(1) + 1,
                  noise);
    return text;
}

// How much of a target name a temporary with a suffix of that size keeps: all of it, unless the temporary would
// pass the 255-byte limit of a name component; then its start, cut before a UTF-8 continuation byte.
size_t keptLength(std::string_view name, size_t suffixSize)
{
    constexpr size_t kNameMax = 255;
    const size_t fixed = 1 + std::strlen(kTempMarker) + suffixSize;
    if (fixed + name.size() <= kNameMax) {
        return name.size();
    }
    size_t keep = fixed < kNameMax ? kNameMax - fixed : 0;
    while (keep > 1 && (static_cast<u8>(name[keep]) & 0xC0) == 0x80) {
        --keep;
    }
    return keep;
}

// Reads one lowercase hexadecimal field of uniqueSuffix from the start of text: 1 to 8 digits as "%x" writes them
// (no leading zero but in "0" itself), or exactly 8 with fixed. Advances text past it.
bool readHexField(std::string_view& text, bool fixed, u32& value)
{
    size_t digits = 0;
    value = 0;
    while (digits < text.size() && digits < 8) {
        const char c = text[digits];
        const bool decimal = c >= '0' && c <= '9';
        if (!decimal && !(c >= 'a' && c <= 'f')) {
            break;
        }
        value = value << 4 | static_cast<u32>(decimal ? c - '0' : c - 'a' + 10);
        ++digits;
    }
    const bool wellFormed =
        fixed ? digits == 8
              : digits > 0 && (text[0] != '0' || digits == 1) && (digits == text.size() || text[digits] == '-');
    text.remove_prefix(digits);
    return wellFormed;
}

// Whether suffix is exactly what uniqueSuffix writes ("%x-%x-%08x": a process id, the counter, noise); pid gets
// the process id.
bool readSuffix(std::string_view suffix, u32& pid)
{
    u32 counter = 0;
    u32 noise = 0;
    if (!readHexField(suffix, false, pid) || pid == 0 || pid > static_cast<u32>(INT_MAX) || suffix.empty() ||
        suffix[0] != '-') {
        return false;
    }
    suffix.remove_prefix(1);
    if (!readHexField(suffix, false, counter) || suffix.empty() || suffix[0] != '-') {
        return false;
    }
    suffix.remove_prefix(1);
    return readHexField(suffix, true, noise) && suffix.empty();
}

// Whether candidate is "." + the kept start of name + ".tmp-" + a suffix that uniqueSuffix writes, or with nested,
// that form of such a name. The process ids of the suffixes are added to writers.
bool isTempOf(std::string_view candidate, std::string_view name, bool nested, std::vector<u32>* writers = nullptr)
{
    const size_t marker = candidate.rfind(kTempMarker);
    if (candidate.size() < 2 || candidate[0] != '.' || marker == std::string_view::npos || marker < 2) {
        return false;
    }
    const std::string_view suffix = candidate.substr(marker + std::strlen(kTempMarker));
    u32 pid = 0;
    if (!readSuffix(suffix, pid)) {
        return false;
    }
    const std::string_view middle = candidate.substr(1, marker - 1);
    const size_t kept = keptLength(name, suffix.size());
    if (!(kept > 0 && middle == name.substr(0, kept)) && !(nested && isTempOf(middle, name, false, writers))) {
        return false;
    }
    if (writers != nullptr) {
        writers->push_back(pid);
    }
    return true;
}

// Whether pid (at most INT_MAX) names a running process other than this one (one that the caller may not signal
// runs as well).
bool isOtherLiveProcess(u32 pid)
{
    if (static_cast<pid_t>(pid) == ::getpid()) {
        return false; // this process's own replacements are over (see the header)
    }
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// The process's file-creation mask, as /proc tells it: umask() reads it only by setting it, for every thread at once.
// The process's own status lacks it once the first thread has ended, the thread's does not. False when unreadable.
bool readUmask(mode_t& mask)
{
    int fd = ::open("/proc/thread-self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) {
        return false;
    }
    char text[512]; // "Umask:" is the second line
    size_t size = 0;
    while (size < sizeof text - 1) {
        const ssize_t got = ::read(fd, text + size, sizeof text - 1 - size);
        if (got > 0) {
            size += static_cast<size_t>(got);
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(fd);
    text[size] = 0;
    const char* field = std::strstr(text, "\nUmask:");
    if (field == nullptr) {
        return false;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(field + 7, &end, 8);
    if (end == field + 7 || value > 0777) {
        return false;
    }
    mask = static_cast<mode_t>(value);
    return true;
}

// The permission bits that open() with 0666 gives a file it creates in folder: from the folder's default ACL where
// it has one (the umask does not apply then), else 0666 less the umask. False when they cannot be told.
bool createdMode(const std::string& folder, mode_t& mode)
{
    // A version word (2), then entries of a 16-bit tag, 16-bit permissions and a 32-bit id, all little-endian. A
    // larger ACL than this holds leaves the mode untold.
    u8 acl[4 + 8 * 512];
    const ssize_t size = ::getxattr(folder.c_str(), "system.posix_acl_default", acl, sizeof acl);
    if (size < 0) {
        mode_t mask = 0;
        if ((errno == ENODATA || errno == ENOTSUP) && readUmask(mask)) {
            mode = 0666 & ~mask;
            return true;
        }
        return false;
    }
    if (size < 4 || (size - 4) % 8 != 0 || acl[0] != 2 || acl[1] != 0 || acl[2] != 0 || acl[3] != 0) {
        return false;
    }
    unsigned owner = 0;
    unsigned group = 0;
    unsigned other = 0;
    int groupClass = -1; // the mask entry where there is one
    for (size_t at = 4; at < static_cast<size_t>(size); at += 8) {
        const unsigned tag = acl[at] | acl[at + 1] << 8;
        const unsigned permissions = acl[at + 2] & 7u;
        if (tag == 0x01) {
            owner = permissions;
        } else if (tag == 0x04) {
            group = permissions;
        } else if (tag == 0x10) {
            groupClass = static_cast<int>(permissions);
        } else if (tag == 0x20) {
            other = permissions;
        }
    }
    const unsigned groupBits = groupClass >= 0 ? static_cast<unsigned>(groupClass) : group;
    mode = static_cast<mode_t>((owner & 6) << 6 | (groupBits & 6) << 3 | (other & 6));
    return true;
}

void discard(FswReplace* replace)
{
    int fd;
    if (toFd(&replace->handle, &fd)) {
        sysClose(fd);
    }
    sysUnlinkAt(AT_FDCWD, replace->temp.c_str(), 0);
    replace->tag = 0;
    delete replace;
}

} // namespace

namespace fsw_detail {

u32 replaceBegin(FswReplace** out, const char* targetPath, bool unsynced)
{
    if (out != nullptr) {
        *out = nullptr;
    }
    if (out == nullptr) {
        return FSW_E_BAD_ARGUMENT;
    }
    const u32 checked = fsw_checkPath(targetPath);
    if (checked != FSW_OK) {
        return checked;
    }
    std::unique_ptr<FswReplace> replace(new (std::nothrow) FswReplace);
    if (!replace) {
        return FSW_E_NO_MEMORY;
    }
    replace->unsynced = unsynced;
    try {
        replace->target = targetPath;
        struct stat st;
        if (!unsynced && ::lstat(targetPath, &st) == 0 && S_ISLNK(st.st_mode)) {
            // Replace what the link points to, as an in-place write would; a dangling link is replaced itself.
            char* resolved = ::realpath(targetPath, nullptr);
            if (resolved != nullptr) {
                replace->target = resolved;
                std::free(resolved);
            }
        }
        const int statted = unsynced ? ::lstat(targetPath, &st) : ::stat(replace->target.c_str(), &st);
        if (statted == 0 && (S_ISDIR(st.st_mode) || isProtectedFile(st))) {
            return FSW_E_ACCESS; // what an in-place write open would give
        }
        const size_t slash = replace->target.rfind('/');
        const std::string name = slash == std::string::npos ? replace->target : replace->target.substr(slash + 1);
        if (name.empty() || name == "." || name == "..") {
            return FSW_E_INVALID_NAME;
        }
        replace->folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : replace->target.substr(0, slash));
        const std::string prefix = slash == std::string::npos ? std::string() : replace->target.substr(0, slash + 1);
        int fd = -1;
        int error = 0;
        for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
            char tempName[256];
            if (fsw_makeReplaceTempName(tempName, sizeof tempName, name.c_str()) != FSW_OK) {
                return FSW_E_INVALID_NAME;
            }
            replace->temp = prefix + tempName;
            // Owner-only until commit gives it the final mode: the new content of a private file is never
            // readable by others while it is written.
            fd = sysOpen(replace->temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
            error = fd < 0 ? errno : 0;
            if (fd < 0 && error != EEXIST) {
                break;
            }
        }
        if (fd < 0) {
            return fsw_fromErrno(error);
        }
        replace->handle = static_cast<FswHandle>(fd);
    } catch (const std::bad_alloc&) {
        return FSW_E_NO_MEMORY;
    }
    *out = replace.release();
    return FSW_OK;
}

u32 copyFile(const char* from, const char* to)
{
    u32 result = fsw_checkPath(from);
    if (result == FSW_OK) {
        result = fsw_checkPath(to);
    }
    if (result != FSW_OK) {
        return result;
    }
    // The source is checked before anything is created, so a missing source leaves no trace.
    int in = -1;
    result = openFile(from, O_RDONLY, &in);
    if (result != FSW_OK) {
        return result;
    }
    struct stat st;
    if (::fstat(in, &st) != 0) {
        result = fsw_fromErrno(errno);
    }
    std::unique_ptr<u8[]> buffer;
    if (result == FSW_OK) {
        buffer.reset(new (std::nothrow) u8[kCopyBufferSize]);
        if (!buffer) {
            result = FSW_E_NO_MEMORY;
        }
    }
    FswReplace* replace = nullptr;
    if (result == FSW_OK) {
        result = replaceBegin(&replace, to, false);
    }
    if (result != FSW_OK) {
        sysClose(in);
        return result;
    }
    ::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
    fsw_replaceSetMode(replace, st.st_mode & 07777);
    int out = static_cast<int>(replace->handle);
    for (;;) {
        u32 got = 0;
        result = readAll(in, buffer.get(), kCopyBufferSize, &got);
        if (result != FSW_OK || got == 0) {
            break;
        }
        u32 put = 0;
        result = writeAll(out, buffer.get(), got, &put);
        if (result != FSW_OK) {
            break;
        }
    }
    sysClose(in);
    if (result != FSW_OK) {
        fsw_replaceAbort(replace);
        return result;
    }
    return fsw_replaceCommit(replace);
}

} // namespace fsw_detail

u32 fsw_replaceBegin(FswReplace** out, const char* targetPath)
{
    return replaceBegin(out, targetPath, false);
}

u32 fsw_replaceBeginUnsynced(FswReplace** out, const char* targetPath)
{
    return replaceBegin(out, targetPath, true);
}

FswHandle* fsw_replaceHandle(FswReplace* replace)
{
    return isValidReplace(replace) ? &replace->handle : nullptr;
}

const char* fsw_replaceTempPath(FswReplace* replace)
{
    return isValidReplace(replace) ? replace->temp.c_str() : nullptr;
}

u32 fsw_replaceSetMode(FswReplace* replace, u32 permissionBits)
{
    if (!isValidReplace(replace)) {
        return FSW_E_BAD_ARGUMENT;
    }
    replace->modeSet = true;
    replace->mode = static_cast<mode_t>(permissionBits & 07777);
    return FSW_OK;
}

u32 fsw_replaceCommit(FswReplace* replace)
{
    if (!isValidReplace(replace)) {
        return FSW_E_BAD_ARGUMENT;
    }
    int fd;
    if (!toFd(&replace->handle, &fd)) {
        discard(replace); // the handle was closed behind our back
        return FSW_E_INVALID_HANDLE;
    }
    u32 result = FSW_OK;
    struct stat st;
    const bool unsynced = replace->unsynced;
    const int statted = unsynced ? ::lstat(replace->target.c_str(), &st) : ::stat(replace->target.c_str(), &st);
    if (statted == 0) {
        if (S_ISDIR(st.st_mode) || isProtectedFile(st)) {
            result = FSW_E_ACCESS; // became unreplaceable meanwhile
        } else if (!replace->modeSet && (!unsynced || S_ISREG(st.st_mode))) {
            replace->modeSet = true;
            replace->mode = st.st_mode & 07777;
        }
    }
    if (result == FSW_OK && !replace->modeSet) {
        // A new file (or a replaced non-regular entry) gets what creating it in place would give; where that cannot
        // be told, it stays readable by its owner alone.
        replace->modeSet = createdMode(replace->folder, replace->mode);
    }
    if (result == FSW_OK && replace->modeSet && sysFchmod(fd, replace->mode) != 0) {
        result = fsw_fromErrno(errno);
    }
    if (result == FSW_OK && unsynced) {
        // Starts writeback now, so the caller's later sync finds the data (mostly) on its way already.
        ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    } else if (result == FSW_OK) {
        result = syncFd(fd);
    }
    replace->handle = FSW_INVALID_HANDLE;
    if (sysClose(fd) != 0 && errno != EINTR && result == FSW_OK) {
        result = fsw_fromErrno(errno);
    }
    if (result == FSW_OK && sysRenameAt(AT_FDCWD, replace->temp.c_str(), AT_FDCWD, replace->target.c_str(), 0) != 0) {
        result = fsw_fromErrno(errno);
    }
    if (result != FSW_OK) {
        discard(replace);
        return result;
    }
    // The rename has happened: the target is the complete new file whatever follows, so the result is success.
    // Making the rename durable is tried twice; a folder that will not sync is only reported.
    if (!unsynced && syncFolder(replace->folder.c_str()) != FSW_OK && syncFolder(replace->folder.c_str()) != FSW_OK) {
        KLIB_LOG("[W] fsw_replaceCommit - folder sync failed for %s\n", replace->target.c_str());
    }
    replace->tag = 0;
    delete replace;
    return FSW_OK;
}

u32 fsw_replaceAbort(FswReplace* replace)
{
    if (!isValidReplace(replace)) {
        return FSW_E_BAD_ARGUMENT;
    }
    discard(replace);
    return FSW_OK;
}

u32 fsw_makeReplaceTempName(char* out, u32 size, const char* name)
{
    if (out == nullptr || size < 256 || name == nullptr || name[0] == 0) {
        return FSW_E_BAD_ARGUMENT;
    }
    const std::string suffix = uniqueSuffix();
    const std::string temp = "." + std::string(name, keptLength(name, suffix.size())) + kTempMarker + suffix;
    std::memcpy(out, temp.c_str(), temp.size() + 1);
    return FSW_OK;
}

bool fsw_isReplaceTempOf(const char* candidate, const char* name, bool nested)
{
    return candidate != nullptr && name != nullptr && isTempOf(candidate, name, nested);
}

u32 fsw_removeReplaceTemps(const char* targetPath, bool nested)
{
    u32 result = fsw_checkPath(targetPath);
    if (result != FSW_OK) {
        return result;
    }
    FswDir* folder = nullptr;
    try {
        const std::string target = targetPath;
        const size_t slash = target.rfind('/');
        const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
        const std::string prefix = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
        if (name.empty() || fsw_openDir(&folder, prefix.empty() ? "." : prefix.c_str()) != FSW_OK) {
            return FSW_OK;
        }
        std::vector<std::string> found;
        const char* entry = nullptr;
        u32 type = FSW_ENTRY_UNKNOWN;
        std::vector<u32> writers;
        while (fsw_readDirEntry(folder, &entry, &type) == FSW_OK) {
            writers.clear();
            // The temporary of a writer that still runs is its live work, not a leftover.
            if (isTempOf(entry, name, nested, &writers) &&
                std::none_of(writers.begin(), writers.end(), isOtherLiveProcess)) {
                found.push_back(prefix + entry);
            }
        }
        fsw_closeDir(folder);
        folder = nullptr;
        for (const std::string& path : found) {
            if (fsw_getEntryType(&type, path.c_str()) != FSW_OK || type == FSW_ENTRY_FOLDER) {
                continue;
            }
            const u32 removed = fsw_remove(path.c_str());
            if (removed == FSW_OK) {
                KLIB_LOG("[i] fsw_removeReplaceTemps - removed the leftover temporary %s\n", path.c_str());
            } else if (removed != FSW_E_NOT_FOUND) { // a leftover already gone was removed by another clean-up
                KLIB_LOG("[E] fsw_removeReplaceTemps - cannot remove %s\n", path.c_str());
                result = result == FSW_OK ? removed : result;
            }
        }
    } catch (const std::bad_alloc&) {
        if (folder != nullptr) {
            fsw_closeDir(folder);
        }
        return FSW_E_NO_MEMORY;
    }
    return result;
}

bool fsw_isReplaceTempName(const char* name)
{
    if (name == nullptr || name[0] != '.' || name[1] == 0) {
        return false;
    }
    // "." + at least one character of the target name + ".tmp-" + a non-empty suffix.
    const char* marker = std::strstr(name + 2, kTempMarker);
    return marker != nullptr && marker[std::strlen(kTempMarker)] != 0;
}

u32 fsw_copy(const char* from, const char* to)
{
    return runHooked(
        fsw_copyHooks, [&]() -> u32 { return copyFile(from, to); }, from, to);
}

u32 fsw_move(const char* from, const char* to)
{
    return runHooked(
        fsw_moveHooks,
        [&]() -> u32 {
            u32 result = fsw_checkPath(from);
            if (result == FSW_OK) {
                result = fsw_checkPath(to);
            }
            if (result != FSW_OK) {
                return result;
            }
            struct stat source;
            if (::lstat(from, &source) != 0) {
                return fsw_fromErrno(errno);
            }
            struct stat target;
            const bool targetExists = ::lstat(to, &target) == 0;
            if (targetExists && (S_ISDIR(target.st_mode) || isProtectedFile(target))) {
                return FSW_E_ACCESS;
            }
            if (sysRenameAt(AT_FDCWD, from, AT_FDCWD, to, 0) == 0) {
                return FSW_OK;
            }
            const int error = errno;
            if (error == EXDEV && S_ISREG(source.st_mode)) {
                // Another file system: copy atomically, then drop the source.
                result = copyFile(from, to);
                if (result != FSW_OK) {
                    return result;
                }
                return sysUnlinkAt(AT_FDCWD, from, 0) == 0 ? FSW_OK : fsw_fromErrno(errno);
            }
            result = fsw_fromErrno(error);
            if (result == FSW_E_ACCESS && targetExists && S_ISREG(target.st_mode) && !isHiddenPath(to)) {
                result = FSW_E_IN_USE; // a plain destination that could not be replaced is taken to be in use
            }
            return result;
        },
        from, to);
}

namespace {

bool renamed(const char* from, const char* to)
{
    return sysRenameAt(AT_FDCWD, from, AT_FDCWD, to, 0) == 0;
}

} // namespace

u32 fsw_exchange(const char* a, const char* b, const char* aside)
{
    u32 result = fsw_checkPath(a);
    if (result == FSW_OK) {
        result = fsw_checkPath(b);
    }
    if (result == FSW_OK && aside != nullptr) {
        result = fsw_checkPath(aside);
    }
    if (result != FSW_OK) {
        return result;
    }
    if (sysRenameAt(AT_FDCWD, a, AT_FDCWD, b, RENAME_EXCHANGE) == 0) {
        return FSW_OK;
    }
    const int error = errno;
    if (error != EINVAL && error != ENOSYS && error != ENOTSUP) {
        return fsw_fromErrno(error);
    }
    // The file system cannot exchange: b goes aside, a takes its place, the aside becomes a. Each step that fails
    // takes the earlier ones back.
    std::string asidePath;
    try {
        if (aside != nullptr) {
            asidePath = aside;
        } else {
            const std::string target = b;
            const size_t slash = target.rfind('/');
            char name[256];
            if (fsw_makeReplaceTempName(name, sizeof name,
                                        (slash == std::string::npos ? target : target.substr(slash + 1)).c_str()) !=
                FSW_OK) {
                return FSW_E_INVALID_NAME;
            }
            asidePath = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + name;
        }
    } catch (const std::bad_alloc&) {
        return FSW_E_NO_MEMORY;
    }
    if (!renamed(b, asidePath.c_str())) {
        return fsw_fromErrno(errno);
    }
    if (!renamed(a, b)) {
        result = fsw_fromErrno(errno);
        renamed(asidePath.c_str(), b);
        return result;
    }
    if (!renamed(asidePath.c_str(), a)) {
        result = fsw_fromErrno(errno);
        if (renamed(b, a)) {
            renamed(asidePath.c_str(), b);
        }
        return result;
    }
    return FSW_OK;
}
