#include "lpc_PDBLink.h"

#include <atomic>

namespace LPC {

namespace {

std::atomic<PDBLink*> g_link{nullptr};

} // namespace

u32 setPDBLink(PDBLink* link)
{
    g_link.store(link, std::memory_order_release);
    return 0;
}

PDBLink* getPDBLink()
{
    return g_link.load(std::memory_order_acquire);
}

} // namespace LPC
