#include "pyrite_DebugConsoleThread.h"

#include "pyrite_Result.h"

namespace PYRITE {

PyriteDebugConsoleThread::PyriteDebugConsoleThread(u16 port) : DBGC::DebugConsoleThread(port) {}

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
