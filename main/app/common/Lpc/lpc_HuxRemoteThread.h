// LpcHuxRemoteThread: the thread "HUXRemote" (stage 5, queue of 1 message). It does nothing yet.
#pragma once

#include "tms_AbstractThread.h"

namespace LPC {

class LpcHuxRemoteThread : public TMS::AbstractThread
{
public:
    static constexpr u32 QUEUE_CAPACITY = 1;

    LpcHuxRemoteThread() : TMS::AbstractThread(QUEUE_CAPACITY) {}
    ~LpcHuxRemoteThread() override = default;
};

} // namespace LPC
