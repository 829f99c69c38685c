#include "pyrite_DebugConsoleThread.h"

#include "dbgc_Modules.h"
#include "pyrite_ProductInfo.h"
#include "pyrite_Result.h"

namespace PYRITE {

namespace {

// The banner's product lines, read from the product information at each new peer.
void describeProduct(DBGC::BannerInfo& banner)
{
    PyriteProductInfo& info = PyriteProductInfo::getInstance();
    banner.m_product = info.getProductName(0);
    info.getVersionString(PyriteProductInfo::VERSION_BOOT_LOADER, banner.m_bootLoaderVersion);
    info.getVersionString(PyriteProductInfo::VERSION_KERNEL, banner.m_kernelVersion);
    info.getVersionString(PyriteProductInfo::VERSION_PROGRAM, banner.m_programVersion);
}

} // namespace

PyriteDebugConsoleThread::PyriteDebugConsoleThread(u16 port) : DBGC::DebugConsoleThread(port)
{
    DBGC::setBannerSource(&describeProduct);
}

PyriteDebugConsoleThread::~PyriteDebugConsoleThread()
{
    release();
    closeEtherTransport();
}

u32 PyriteDebugConsoleThread::onChangeSystemInfo()
{
    const u32 result = DBGC::DebugConsoleThread::onChangeSystemInfo();
    if (!isSystemInfoDirty("DebugState", 0, true)) {
        return result;
    }
    KVariant state;
    if (pyriteFailed(getSystemInfo(state, "DebugState", 0))) {
        return result;
    }
    const bool wanted = state.getUInt() != 1;
    if (wanted != m_consoleWanted.load(std::memory_order_acquire)) {
        m_consoleWanted.store(wanted, std::memory_order_release);
        if (wanted) {
            startEtherConsole();
        } else {
            stopEtherConsole();
        }
    }
    return result;
}

} // namespace PYRITE
