// LpcOscServerThread: the thread "OSCServer" (stage 4, queue of 1 message). It does nothing yet.
#pragma once

#include "tms_AbstractThread.h"

namespace LPC {

class LpcOscServerThread : public TMS::AbstractThread
{
public:
    static constexpr u32 QUEUE_CAPACITY = 1;

    LpcOscServerThread() : TMS::AbstractThread(QUEUE_CAPACITY) {}
    ~LpcOscServerThread() override = default;
};

} // namespace LPC
