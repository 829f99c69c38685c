// SIGINT and SIGTERM end the program like the command "Close": an orderly stop with the final backups and exit
// code 0. The signals are blocked in every thread (threads inherit the mask of the thread that creates them) and
// taken by one thread with sigwait; no handler runs.
#pragma once

#include <mutex>
#include <thread>

#include "klib_Types.h"

namespace PYRITE {

// Blocks SIGINT and SIGTERM in the calling thread and so in every thread it creates afterwards.
void blockStopSignals();

class StopSignalWatcher
{
public:
    StopSignalWatcher() = default;
    ~StopSignalWatcher();

    StopSignalWatcher(const StopSignalWatcher&) = delete;
    StopSignalWatcher& operator=(const StopSignalWatcher&) = delete;

    // Blocks the signals on the calling thread and starts the watching thread: true when it runs.
    bool start();
    // While "System" runs a signal closes it; a signal that came before is acted on when it starts running.
    void setSystemRunning(bool running);
    // Ends and joins the watching thread. "System" must not be destroyed before this returns.
    void stop();

private:
    void run();

    std::thread m_thread;
    std::mutex m_lock;
    bool m_systemRunning = false;
    bool m_signalled = false;
    bool m_stopping = false;
};

} // namespace PYRITE
