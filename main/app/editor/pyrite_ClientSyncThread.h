// PyriteClientSyncThread: the thread "Sync" (stage 4, queue of 5 messages), which will keep a real device in step.
// It does nothing yet.
#pragma once

#include "tms_AbstractThread.h"

namespace PYRITE {

class PyriteClientSyncThread : public TMS::AbstractThread
{
public:
    static constexpr u32 QUEUE_CAPACITY = 5;

    PyriteClientSyncThread() : TMS::AbstractThread(QUEUE_CAPACITY) {}
    ~PyriteClientSyncThread() override = default;
};

} // namespace PYRITE
