// DebugConsoleThread: the TMS thread that serves the debug consoles. Console 1 has no transport in this system;
// console 2 is the TCP console on a LowIOEtherServer. A transport's wake-up sets user event 16 (console 1) or
// 17 (console 2) on this thread, whose loop then polls that console.
#pragma once

#include <mutex>

#include "dbgc_DebugConsole.h"
#include "dbgc_LowIOEtherServer.h"
#include "tms_AbstractThread.h"

namespace DBGC {

class DebugConsoleThread : public TMS::AbstractThread, public IDebugConsoleCallback
{
public:
    static constexpr u32 EVENT_CONSOLE_1 = 16;
    static constexpr u32 EVENT_CONSOLE_2 = 17;
    static constexpr u32 QUEUE_CAPACITY = 100;

    // Builds the consoles and the transport, sets up the data logger (heap 0, 300 and 1000 records) and
    // registers the transport with the debug print.
    explicit DebugConsoleThread(u16 port = LowIOEtherServer::DEFAULT_PORT,
                                const char* address = LowIOEtherServer::DEFAULT_ADDRESS,
                                u32 queueCapacity = QUEUE_CAPACITY);
    // Releases the thread, finalises the debug print and the data logger, then closes the consoles.
    ~DebugConsoleThread() override;

    // The base initialisation; a negative result is passed on, any other becomes 0.
    u32 initialize(u16 taskId, const char* name, u16 priority, u8 stage, u32 stackSize, u32 heapSize, u32 logLines,
                   u32 tickInterval, const TMS::FieldMap& arguments) override;
    u32 initialize(const char* name, u16 priority, u8 stage, u32 stackSize, u32 heapSize, u32 logLines,
                   u32 tickInterval, const TMS::FieldMap& arguments) override;

    // Opens the TCP console with the module table: 0, or 0x80000000 (logged) when it cannot.
    u32 startEtherConsole();
    // Closes it: 0, or 0x80000000 (logged) when it was not open.
    u32 stopEtherConsole();

    // IDebugConsoleCallback: sets user event 16 or 17 on this thread.
    u32 requestService(DebugConsole* console) override;
    u32 onReceiveEvent(u32 bit) override;

    LowIOEtherServer& getTransport() { return m_transport; }
    DebugConsole& getEtherConsole() { return m_console2; }

protected:
    // Closes the TCP console and its transport, so that the poll task calls into this object no more. A derived
    // class calls it in its own destructor, before this class's destructor begins (those calls are virtual).
    void closeEtherTransport();

private:
    LowIOEtherServer m_transport;
    DebugConsole m_console1;
    DebugConsole m_console2;
    // Serialises start/stop (from the owner) against polls of console 2 (on this thread).
    std::recursive_mutex m_console2Lock;
};

} // namespace DBGC
