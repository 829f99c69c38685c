// LpcOscServerThread: the thread "OSCServer" (stage 4, queue of 1 message). It does nothing yet.
#pragma once

#include "pyrite_AppThread.h"

namespace LPC {

class LpcOscServerThread : public PYRITE::PyriteAppThread
{
public:
    static constexpr u32 QUEUE_CAPACITY = 1;

    LpcOscServerThread() : PYRITE::PyriteAppThread(QUEUE_CAPACITY) {}
    ~LpcOscServerThread() override = default;
};

} // namespace LPC
