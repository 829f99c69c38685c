// Seam on every system call of the file API that opens, moves, changes or removes something, so tests can inject
// short counts, EINTR and failures at any of them. Passing null restores the real call. Install before the files
// concerned are used.
#pragma once

#include <sys/types.h>

#include <cstddef>

using FswSysRead = ssize_t (*)(int fd, void* buffer, size_t size);
using FswSysWrite = ssize_t (*)(int fd, const void* buffer, size_t size);
using FswSysFsync = int (*)(int fd);

// The whole table; every call takes the arguments of its POSIX *at form.
struct FswSystemCalls
{
    FswSysRead read;
    FswSysWrite write;
    FswSysFsync fsync;
    int (*open)(int dirFd, const char* path, int flags, mode_t mode); // openat
    int (*close)(int fd);
    // renameat2: flags 0 renames, RENAME_EXCHANGE exchanges two entries.
    int (*rename)(int fromDirFd, const char* from, int toDirFd, const char* to, unsigned flags);
    int (*mkdir)(int dirFd, const char* path, mode_t mode);
    // unlinkat: AT_REMOVEDIR removes an empty folder.
    int (*unlink)(int dirFd, const char* path, int flags);
    int (*chmod)(int dirFd, const char* path, mode_t mode, int flags); // fchmodat
    int (*fchmod)(int fd, mode_t mode);
};

// Sets read, write and fsync; every other call becomes the real one.
void fsw_setSystemCalls(FswSysRead readCall, FswSysWrite writeCall, FswSysFsync fsyncCall);
// Sets the whole table (null: every call real; a null entry: that call real).
void fsw_setSystemCallTable(const FswSystemCalls* calls);
// The real calls, for a replacement that forwards to them.
const FswSystemCalls& fsw_realSystemCalls();
