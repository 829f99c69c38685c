// PyriteDeviceControlThread: the thread "DeviceControl" (stage 2, queue of 5 messages). For now it publishes
// only what its start reports to the other threads: on entering RUN from STOP it stages "PDBState" 1,
// "DebugState" 0 and "ZOVORaState" 2 and commits them.
#pragma once

#include "pyrite_AppThread.h"

namespace PYRITE {

class PyriteDeviceControlThread : public PyriteAppThread
{
public:
    static constexpr u32 QUEUE_CAPACITY = 5;

    PyriteDeviceControlThread();
    ~PyriteDeviceControlThread() override;

    u32 onChangeStatus(u32 status, const TMS::FieldMap& arguments) override;
};

} // namespace PYRITE
