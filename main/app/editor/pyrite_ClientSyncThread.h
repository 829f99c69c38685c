// PyriteClientSyncThread: the thread "Sync" (stage 4, queue of 5 messages), which will keep a real device in step.
// It does nothing yet.
#pragma once

#include "pyrite_AppThread.h"

namespace PYRITE {

class PyriteClientSyncThread : public PyriteAppThread
{
public:
    static constexpr u32 QUEUE_CAPACITY = 5;

    PyriteClientSyncThread() : PyriteAppThread(QUEUE_CAPACITY) {}
    ~PyriteClientSyncThread() override = default;
};

} // namespace PYRITE
