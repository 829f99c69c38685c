// LpcHuxRemoteThread: the thread "HUXRemote" (stage 5, queue of 1 message). It does nothing yet.
#pragma once

#include "pyrite_AppThread.h"

namespace LPC {

class LpcHuxRemoteThread : public PYRITE::PyriteAppThread
{
public:
    static constexpr u32 QUEUE_CAPACITY = 1;

    LpcHuxRemoteThread() : PYRITE::PyriteAppThread(QUEUE_CAPACITY) {}
    ~LpcHuxRemoteThread() override = default;
};

} // namespace LPC
