#include "tms_DebugBreak.h"

#include <atomic>

namespace TMS {

namespace {
std::atomic<u64> g_debugBreakCount{0};
}

u32 returnZero()
{
    g_debugBreakCount.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

u64 getDebugBreakCount()
{
    return g_debugBreakCount.load(std::memory_order_relaxed);
}

} // namespace TMS
