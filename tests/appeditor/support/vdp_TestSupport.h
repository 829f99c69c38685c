// Helpers of the editor-link suites: the debug print captured through a registered console transport.
#pragma once

#include <string>

namespace vdptest {

// Starts the OS layer when needed and registers (once per process) a console transport that records every debug
// print. take() returns what was printed since the last take() and forgets it.
class PrintCapture
{
public:
    PrintCapture();
    std::string take();
};

} // namespace vdptest
