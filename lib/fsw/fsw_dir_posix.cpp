// File API on POSIX: folder creation, listings and recursive removal.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "fsw_Internal.h"
#include "fsw_api.h"
#include "klib_Print.h"

using namespace fsw_detail;

namespace {

constexpr u32 kDirTag = 0x46535744; // "FSWD"
constexpr size_t kMakeDirPathLimit = 260;

} // namespace

struct FswDir
{
    u32 tag = kDirTag;
    std::vector<std::string> names; // ".", "..", then the names in byte order
    std::vector<u8> types;          // FSW_ENTRY_* of each name
    size_t current = 0;
};

namespace {

bool isValidDir(const FswDir* dir)
{
    return dir != nullptr && dir->tag == kDirTag;
}

bool isDotName(const char* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

u8 typeOfListed(unsigned char type)
{
    switch (type) {
    case DT_REG:
        return FSW_ENTRY_FILE;
    case DT_DIR:
        return FSW_ENTRY_FOLDER;
    case DT_LNK:
        return FSW_ENTRY_LINK;
    case DT_UNKNOWN:
        return FSW_ENTRY_UNKNOWN;
    default:
        return FSW_ENTRY_OTHER;
    }
}

enum class ListResult { ok, noMemory, readFailed };

// Reads every name of an open directory stream except "." and ".." with its type, sorted by bytes. Takes no
// ownership. Sorting moves small keys, not the names: most comparisons end at the first 8 bytes.
ListResult listNames(DIR* stream, std::vector<std::string>* names, std::vector<u8>* types, int* error)
{
    struct Key
    {
        u64 prefix; // the first 8 bytes of the name, big-endian
        u32 index;
    };
    try {
        std::vector<std::string> found;
        std::vector<u8> foundTypes;
        std::vector<Key> keys;
        for (;;) {
            errno = 0;
            const struct dirent* entry = ::readdir(stream);
            if (entry == nullptr) {
                if (errno != 0) {
                    *error = errno;
                    return ListResult::readFailed;
                }
                break;
            }
            const char* n = entry->d_name;
            if (isDotName(n)) {
                continue;
            }
            u64 prefix = 0;
            for (int i = 0; i < 8 && n[i] != 0; ++i) {
                prefix |= static_cast<u64>(static_cast<u8>(n[i])) << (56 - 8 * i);
            }
            keys.push_back({prefix, static_cast<u32>(found.size())});
            found.emplace_back(n);
            foundTypes.push_back(typeOfListed(entry->d_type));
        }
        std::sort(keys.begin(), keys.end(), [&found](const Key& a, const Key& b) {
            return a.prefix != b.prefix ? a.prefix < b.prefix : found[a.index] < found[b.index];
        });
        names->reserve(names->size() + keys.size());
        types->reserve(types->size() + keys.size());
        for (const Key& key : keys) {
            names->push_back(std::move(found[key.index]));
            types->push_back(foundTypes[key.index]);
        }
    } catch (const std::bad_alloc&) {
        return ListResult::noMemory;
    }
    return ListResult::ok;
}

// Creates one folder of a path; an existing folder is fine.
bool makeOneDir(const char* path, bool* created)
{
    if (sysMkdirAt(AT_FDCWD, path, 0777) == 0) {
        *created = true;
        return true;
    }
    if (errno != EEXIST) {
        return false;
    }
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

enum class RemoveResult { ok, listingFailed, entryFailed };

// How a removal treats what it cannot remove at once. The plain removal stops at the first read-only file or
// failing entry; the forced one gives the owner write access first, reports each entry that still fails and
// goes on with the rest.
struct RemoveMode
{
    bool force = false;
    FswRemoveFailure onFailure = nullptr;
    void* context = nullptr;
    u32 firstFailure = FSW_OK;
};

void noteFailure(RemoveMode& mode, const std::string& path, u32 code)
{
    if (mode.firstFailure == FSW_OK) {
        mode.firstFailure = code;
    }
    if (mode.onFailure != nullptr) {
        mode.onFailure(path.c_str(), code, mode.context);
    }
}

// Empties the folder open as dirFd (which is consumed); dirPath names it for failure reports. Every entry is
// examined without following links: a link is unlinked, never entered. Works relative to open folders, so a
// path swapped for a link meanwhile cannot redirect the removal.
RemoveResult removeContents(int dirFd, const std::string& dirPath, RemoveMode& mode)
{
    DIR* stream = ::fdopendir(dirFd);
    if (stream == nullptr) {
        sysClose(dirFd);
        KLIB_LOG("[E] fsw_removeDir - cannot read a directory entry!\n");
        noteFailure(mode, dirPath, FSW_E_INVALID_NAME);
        return RemoveResult::listingFailed;
    }
    std::vector<std::string> names;
    std::vector<u8> types;
    int error = 0;
    const ListResult listed = listNames(stream, &names, &types, &error);
    RemoveResult result = RemoveResult::ok;
    if (listed == ListResult::noMemory) {
        KLIB_LOG("[E] fsw_removeDir - cannot allocate buffer memory!\n");
        result = RemoveResult::listingFailed;
    } else if (listed == ListResult::readFailed) {
        KLIB_LOG("[E] fsw_removeDir - cannot read a directory entry!\n");
        result = RemoveResult::listingFailed;
    }
    if (result != RemoveResult::ok) {
        noteFailure(mode, dirPath, FSW_E_INVALID_NAME);
    }
    const int fd = ::dirfd(stream);
    for (const std::string& name : names) {
        const std::string childPath = dirPath + "/" + name;
        struct stat st;
        if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) {
                continue; // gone meanwhile
            }
            noteFailure(mode, childPath, fsw_fromErrno(errno));
            result = RemoveResult::entryFailed;
            if (!mode.force) {
                break;
            }
            continue;
        }
        bool removed = false;
        if (S_ISDIR(st.st_mode)) {
            if (mode.force && (st.st_mode & S_IRWXU) != S_IRWXU) {
                sysChmodAt(fd, name.c_str(), (st.st_mode & 07777) | S_IRWXU, 0);
            }
            const int child = sysOpenAt(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            const bool emptied = child >= 0 && removeContents(child, childPath, mode) == RemoveResult::ok;
            removed = emptied && sysUnlinkAt(fd, name.c_str(), AT_REMOVEDIR) == 0;
            if (!removed && emptied) {
                noteFailure(mode, childPath, fsw_fromErrno(errno));
            } else if (child < 0) {
                noteFailure(mode, childPath, fsw_fromErrno(errno));
            }
        } else {
            if (mode.force && isProtectedFile(st)) {
                sysChmodAt(fd, name.c_str(), (st.st_mode & 07777) | S_IWUSR, 0);
            } else if (isProtectedFile(st)) {
                noteFailure(mode, childPath, FSW_E_ACCESS);
                result = RemoveResult::entryFailed;
                break;
            }
            removed = sysUnlinkAt(fd, name.c_str(), 0) == 0;
            if (!removed) {
                noteFailure(mode, childPath, fsw_fromErrno(errno));
            }
        }
        if (!removed) {
            result = RemoveResult::entryFailed;
            if (!mode.force) {
                break;
            }
        }
    }
    ::closedir(stream);
    return result;
}

} // namespace

u32 fsw_makeDir(const char* path)
{
    return runHooked(
        fsw_makeDirHooks,
        [&]() -> u32 {
            const u32 checked = fsw_checkPath(path);
            if (checked != FSW_OK) {
                return checked;
            }
            const size_t length = std::strlen(path);
            if (length >= kMakeDirPathLimit) {
                return FSW_E_INVALID_NAME;
            }
            char prefix[kMakeDirPathLimit];
            std::memcpy(prefix, path, length + 1);
            bool created = false;
            for (size_t i = 1; i < length; ++i) {
                if (prefix[i] != '/' || prefix[i - 1] == '/') {
                    continue;
                }
                prefix[i] = 0;
                const bool made = makeOneDir(prefix, &created);
                prefix[i] = '/';
                if (!made) {
                    return FSW_E_INVALID_NAME;
                }
            }
            if (!makeOneDir(path, &created)) {
                return FSW_E_INVALID_NAME;
            }
            return created ? FSW_OK : FSW_DIR_EXISTED;
        },
        path);
}

u32 fsw_openDir(FswDir** out, const char* path)
{
    return runHooked(
        fsw_openDirHooks,
        [&]() -> u32 {
            if (out != nullptr) {
                *out = nullptr;
            }
            if (out == nullptr) {
                return FSW_E_BAD_ARGUMENT;
            }
            const u32 checked = fsw_checkPath(path);
            if (checked != FSW_OK) {
                return checked;
            }
            FswDir* dir = new (std::nothrow) FswDir;
            if (dir == nullptr) {
                return FSW_E_NO_MEMORY;
            }
            const int fd = sysOpen(path, O_RDONLY | O_DIRECTORY);
            DIR* stream = fd >= 0 ? ::fdopendir(fd) : nullptr;
            if (stream == nullptr) {
                const int error = errno;
                if (fd >= 0) {
                    sysClose(fd);
                }
                delete dir;
                return fsw_fromErrno(error);
            }
            u32 result = FSW_OK;
            try {
                dir->names.emplace_back(".");
                dir->names.emplace_back("..");
                dir->types.assign(2, FSW_ENTRY_FOLDER);
            } catch (const std::bad_alloc&) {
                result = FSW_E_NO_MEMORY;
            }
            int error = 0;
            if (result == FSW_OK) {
                const ListResult listed = listNames(stream, &dir->names, &dir->types, &error);
                if (listed == ListResult::noMemory) {
                    result = FSW_E_NO_MEMORY;
                } else if (listed == ListResult::readFailed) {
                    result = fsw_fromErrno(error);
                }
            }
            ::closedir(stream);
            if (result != FSW_OK) {
                delete dir;
                return result;
            }
            *out = dir;
            return FSW_OK;
        },
        out, path);
}

u32 fsw_readDir(FswDir* dir, char* name, u32 size)
{
    return runHooked(
        fsw_readDirHooks,
        [&]() -> u32 {
            if (!isValidDir(dir)) {
                return FSW_E_INVALID_HANDLE;
            }
            if (size == 0 || size > 0x7FFFFFFFu || name == nullptr) {
                return FSW_E_BAD_ARGUMENT;
            }
            if (dir->current >= dir->names.size()) {
                return FSW_E_NOT_FOUND;
            }
            const std::string& entry = dir->names[dir->current];
            const size_t count = std::min<size_t>(entry.size(), size - 1);
            std::memcpy(name, entry.data(), count);
            name[count] = 0;
            ++dir->current;
            return FSW_OK;
        },
        dir, name, size);
}

u32 fsw_getDirEntryNameSize(FswDir* dir, u32* size)
{
    return runHooked(
        fsw_getDirEntryNameSizeHooks,
        [&]() -> u32 {
            if (!isValidDir(dir)) {
                return FSW_E_INVALID_HANDLE;
            }
            if (size == nullptr) {
                return FSW_E_BAD_ARGUMENT;
            }
            *size = 0;
            if (dir->current >= dir->names.size()) {
                return FSW_E_NOT_FOUND;
            }
            *size = static_cast<u32>(dir->names[dir->current].size() + 1);
            return FSW_OK;
        },
        dir, size);
}

u32 fsw_closeDir(FswDir* dir)
{
    return runHooked(
        fsw_closeDirHooks,
        [&]() -> u32 {
            if (!isValidDir(dir)) {
                return FSW_E_INVALID_HANDLE;
            }
            dir->tag = 0;
            delete dir;
            return FSW_OK;
        },
        dir);
}

u32 fsw_removeDir(const char* path, bool recursive)
{
    return runHooked(
        fsw_removeDirHooks,
        [&]() -> u32 {
            const u32 checked = fsw_checkPath(path);
            if (checked != FSW_OK) {
                return checked;
            }
            struct stat st;
            if (::lstat(path, &st) != 0) {
                return fsw_fromErrno(errno);
            }
            if (S_ISLNK(st.st_mode)) {
                // A link is removed itself; what it points to is left alone.
                return sysUnlinkAt(AT_FDCWD, path, 0) == 0 ? FSW_OK : fsw_fromErrno(errno);
            }
            if (!recursive) {
                return sysUnlinkAt(AT_FDCWD, path, AT_REMOVEDIR) == 0 ? FSW_OK : fsw_fromErrno(errno);
            }
            const int fd = sysOpen(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            if (fd < 0) {
                return FSW_E_NOT_FOUND;
            }
            RemoveMode mode;
            const RemoveResult removed = removeContents(fd, path, mode);
            if (removed == RemoveResult::entryFailed) {
                return FSW_E_INVALID_NAME;
            }
            if (sysUnlinkAt(AT_FDCWD, path, AT_REMOVEDIR) != 0 || removed != RemoveResult::ok) {
                return FSW_E_INVALID_NAME;
            }
            return FSW_OK;
        },
        path, recursive);
}

u32 fsw_removeTree(const char* path, FswRemoveFailure onFailure, void* context)
{
    const u32 checked = fsw_checkPath(path);
    if (checked != FSW_OK) {
        return checked;
    }
    RemoveMode mode{true, onFailure, context, FSW_OK};
    struct stat st;
    if (::lstat(path, &st) != 0) {
        return fsw_fromErrno(errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        // A file or a link is removed itself; what a link points to is left alone.
        if (isProtectedFile(st)) {
            sysChmodAt(AT_FDCWD, path, (st.st_mode & 07777) | S_IWUSR, 0);
        }
        if (sysUnlinkAt(AT_FDCWD, path, 0) != 0) {
            noteFailure(mode, path, fsw_fromErrno(errno));
        }
        return mode.firstFailure;
    }
    if ((st.st_mode & S_IRWXU) != S_IRWXU) {
        sysChmodAt(AT_FDCWD, path, (st.st_mode & 07777) | S_IRWXU, 0);
    }
    const int fd = sysOpen(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) {
        noteFailure(mode, path, fsw_fromErrno(errno));
        return mode.firstFailure;
    }
    if (removeContents(fd, path, mode) == RemoveResult::ok && sysUnlinkAt(AT_FDCWD, path, AT_REMOVEDIR) != 0) {
        noteFailure(mode, path, fsw_fromErrno(errno));
    }
    return mode.firstFailure;
}

u32 fsw_readDirEntry(FswDir* dir, const char** name, u32* type)
{
    if (!isValidDir(dir)) {
        return FSW_E_INVALID_HANDLE;
    }
    if (name == nullptr) {
        return FSW_E_BAD_ARGUMENT;
    }
    *name = nullptr;
    if (type != nullptr) {
        *type = FSW_ENTRY_UNKNOWN;
    }
    if (dir->current >= dir->names.size()) {
        return FSW_E_NOT_FOUND;
    }
    *name = dir->names[dir->current].c_str();
    if (type != nullptr) {
        *type = dir->types[dir->current];
    }
    ++dir->current;
    return FSW_OK;
}

u32 fsw_makeFolder(const char* path, u32 permissionBits)
{
    const u32 checked = fsw_checkPath(path);
    if (checked != FSW_OK) {
        return checked;
    }
    if (sysMkdirAt(AT_FDCWD, path, static_cast<mode_t>(permissionBits & 07777)) != 0) {
        return fsw_fromErrno(errno);
    }
    return FSW_OK;
}
