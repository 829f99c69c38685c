// The program's entry: an optional one-second delay, the crash handler, then the application start.
#include <time.h>

#include <cerrno>
#include <cstring>

#include "pyrite_ApplicationMain.h"
#include "pyrite_CrashHandler.h"
#include "pyrite_StopSignals.h"

namespace {

// Sleeps until one second has passed on the monotonic clock (an early wake-up sleeps again).
void waitOneSecond()
{
    timespec deadline = {};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += 1;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

} // namespace

int main(int argc, char** argv, char**)
{
    // Before any thread exists, so that every thread inherits the mask.
    PYRITE::blockStopSignals();
    if (argc >= 2 && std::strcmp(argv[1], "delayedStart") == 0) {
        waitOneSecond();
    }
    installCrashHandler(nullptr, &pumpMessagesForever);
    return applicationMain(argc, argv);
}
