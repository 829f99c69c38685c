#include "pyrite_StopSignals.h"

#include <pthread.h>
#include <signal.h>

#include <system_error>

#include "klib_Print.h"
#include "os_Tasks.h"
#include "pyrite_SystemRequest.h"

namespace PYRITE {

namespace {

sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

void blockStopSignals()
{
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

StopSignalWatcher::~StopSignalWatcher()
{
    stop();
}

bool StopSignalWatcher::start()
{
    blockStopSignals();
    try {
        m_thread = std::thread(&StopSignalWatcher::run, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void StopSignalWatcher::run()
{
    ossupport::runThreadStartHook();
    const sigset_t set = stopSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) {
            continue;
        }
        bool close = false;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_stopping) {
                return;
            }
            m_signalled = true;
            close = m_systemRunning;
        }
        KLIB_LOG("[i] StopSignalWatcher::run - %s received, closing.\n", signal == SIGINT ? "SIGINT" : "SIGTERM");
        if (close) {
            requestSystemClose();
        }
    }
}

void StopSignalWatcher::setSystemRunning(bool running)
{
    bool close = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_systemRunning = running;
        close = running && m_signalled;
    }
    if (close) {
        requestSystemClose();
    }
}

void StopSignalWatcher::stop()
{
    if (!m_thread.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
        m_systemRunning = false;
    }
    pthread_kill(m_thread.native_handle(), SIGTERM);
    m_thread.join();
}

} // namespace PYRITE
