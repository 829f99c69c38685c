// LpcNqProtoDeviceControlThread: the thread "DeviceControlForNQ" (stage 2, queue of 1 message). It does nothing yet.
#pragma once

#include "pyrite_AppThread.h"

namespace LPC {

class LpcNqProtoDeviceControlThread : public PYRITE::PyriteAppThread
{
public:
    static constexpr u32 QUEUE_CAPACITY = 1;

    LpcNqProtoDeviceControlThread() : PYRITE::PyriteAppThread(QUEUE_CAPACITY) {}
    ~LpcNqProtoDeviceControlThread() override = default;
};

} // namespace LPC
