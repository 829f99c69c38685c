// Helpers of the editor-link suites: the debug print captured through a registered console transport.
#pragma once

#include <string>

namespace vdptest {

// How long a wait for something that must happen may last: generous, as a sanitised build on a loaded machine can
// take seconds per step. A wait that succeeds returns as soon as its condition holds.
constexpr int WAIT_MS = 60000;

// Starts the OS layer when needed and registers (once per process) a console transport that records every debug
// print. take() returns what was printed since the last take() and forgets it.
class PrintCapture
{
public:
    PrintCapture();
    std::string take();
};

} // namespace vdptest
