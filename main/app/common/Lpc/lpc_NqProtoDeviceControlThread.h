// LpcNqProtoDeviceControlThread: the thread "DeviceControlForNQ" (stage 2, queue of 1 message). It does nothing yet.
#pragma once

#include "tms_AbstractThread.h"

namespace LPC {

class LpcNqProtoDeviceControlThread : public TMS::AbstractThread
{
public:
    static constexpr u32 QUEUE_CAPACITY = 1;

    LpcNqProtoDeviceControlThread() : TMS::AbstractThread(QUEUE_CAPACITY) {}
    ~LpcNqProtoDeviceControlThread() override = default;
};

} // namespace LPC
