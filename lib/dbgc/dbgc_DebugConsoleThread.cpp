#include "dbgc_DebugConsoleThread.h"

#include "dbgc_DataLogger.h"
#include "dbgc_Modules.h"
#include "dbgc_Print.h"
#include "dbgc_Result.h"

namespace DBGC {

namespace {

u32 passNegative(u32 result)
{
    return static_cast<i32>(result) < 0 ? result : 0;
}
} // namespace

DebugConsoleThread::DebugConsoleThread(u16 port, const char* address, u32 queueCapacity)
    : TMS::AbstractThread(queueCapacity), m_transport(port, address)
{
    m_console2.setConnectHandler(&printBanner);
    DataLogger::getInstance().initialize(0, 300, 1000);
    dbgc_addLowIO(&m_transport);
}

DebugConsoleThread::~DebugConsoleThread()
{
    // The loop calls onReceiveEvent of this class: end it while the class is still whole.
    release();
    dbgc_finalize();
    DataLogger::getInstance().finalize();
    closeEtherTransport();
}

void DebugConsoleThread::closeEtherTransport()
{
    std::lock_guard<std::recursive_mutex> guard(m_console2Lock);
    if (m_console2.isInitialized()) {
        m_console2.finalize();
    }
    m_transport.close();
}

u32 DebugConsoleThread::initialize(u16 taskId, const char* name, u16 priority, u8 stage, u32 stackSize, u32 heapSize,
                                   u32 logLines, u32 tickInterval, const TMS::FieldMap& arguments)
{
    return passNegative(TMS::AbstractThread::initialize(taskId, name, priority, stage, stackSize, heapSize, logLines,
                                                        tickInterval, arguments));
}

u32 DebugConsoleThread::initialize(const char* name, u16 priority, u8 stage, u32 stackSize, u32 heapSize, u32 logLines,
                                   u32 tickInterval, const TMS::FieldMap& arguments)
{
    return passNegative(
        TMS::AbstractThread::initialize(name, priority, stage, stackSize, heapSize, logLines, tickInterval, arguments));
}

u32 DebugConsoleThread::startEtherConsole()
{
    std::lock_guard<std::recursive_mutex> guard(m_console2Lock);
    if (m_console2.initialize(this, &m_transport, getModuleTable(), getModuleCount()) != 0) {
        log("[E] DebugConsoleThread::startEtherConsole - Cannot initialize 'DebugConsole for TCP Server'!\n");
        return RESULT_FAILED;
    }
    return 0;
}

u32 DebugConsoleThread::stopEtherConsole()
{
    std::lock_guard<std::recursive_mutex> guard(m_console2Lock);
    if (m_console2.finalize() != 0) {
        log("[E] DebugConsoleThread::stopEtherConsole - Cannot finalize 'DebugConsole for TCP Server'!\n");
        return RESULT_FAILED;
    }
    return 0;
}

u32 DebugConsoleThread::requestService(DebugConsole* console)
{
    if (console == &m_console1) {
        return setUserEvent(EVENT_CONSOLE_1);
    }
    if (console == &m_console2) {
        return setUserEvent(EVENT_CONSOLE_2);
    }
    return RESULT_FAILED;
}

u32 DebugConsoleThread::onReceiveEvent(u32 bit)
{
    if (bit == EVENT_CONSOLE_1) {
        m_console1.poll();
    } else if (bit == EVENT_CONSOLE_2) {
        std::lock_guard<std::recursive_mutex> guard(m_console2Lock);
        m_console2.poll();
    }
    return 0;
}

} // namespace DBGC
