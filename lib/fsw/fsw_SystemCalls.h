// Seam on the system calls that move file data, so tests can inject short counts, EINTR and failures.
// Passing null for a call restores the real one. Install before the files concerned are used.
#pragma once

#include <sys/types.h>

#include <cstddef>

using FswSysRead = ssize_t (*)(int fd, void* buffer, size_t size);
using FswSysWrite = ssize_t (*)(int fd, const void* buffer, size_t size);
using FswSysFsync = int (*)(int fd);

void fsw_setSystemCalls(FswSysRead readCall, FswSysWrite writeCall, FswSysFsync fsyncCall);
