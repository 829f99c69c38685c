// PyriteDebugConsoleThread: the thread "DebugConsole". It switches the TCP debug console with the system
// information "DebugState": 1 closes it, any other value opens it. The first report of a value other than 1
// opens it. Everything runs on the thread's own loop, which owns the console's socket. The console's banner shows
// the product information.
#pragma once

#include <atomic>

#include "dbgc_DebugConsoleThread.h"

namespace PYRITE {

class PyriteDebugConsoleThread : public DBGC::DebugConsoleThread
{
public:
    // The TCP console listens on 127.0.0.1 at port (0: a port the system chooses).
    explicit PyriteDebugConsoleThread(u16 port = DBGC::LowIOEtherServer::DEFAULT_PORT);
    ~PyriteDebugConsoleThread() override;

    u32 onChangeSystemInfo() override;

    // True while "DebugState" last read as other than 1 (the console was opened for it).
    bool isConsoleWanted() const { return m_consoleWanted.load(std::memory_order_acquire); }

private:
    std::atomic<bool> m_consoleWanted{false};
};

} // namespace PYRITE
