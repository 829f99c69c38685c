#include "os_Memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include "os_Result.h"

namespace ossupport {

u64 getPageSize()
{
    static const u64 size = [] {
        const long value = ::sysconf(_SC_PAGESIZE);
        return value > 0 ? static_cast<u64>(value) : 4096ull;
    }();
    return size;
}

void* reservePages(u64 length)
{
    if (length == 0) {
        return nullptr;
    }
    void* base = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return base == MAP_FAILED ? nullptr : base;
}

u32 releasePages(void* base, u64 length)
{
    if (base == nullptr || length == 0) {
        return OS_E_RANGE;
    }
    return ::munmap(base, length) == 0 ? OS_OK : OS_E_PLATFORM;
}

} // namespace ossupport
