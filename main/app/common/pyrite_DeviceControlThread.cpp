#include "pyrite_DeviceControlThread.h"

namespace PYRITE {

PyriteDeviceControlThread::PyriteDeviceControlThread() : PyriteAppThread(QUEUE_CAPACITY) {}

PyriteDeviceControlThread::~PyriteDeviceControlThread()
{
    release();
}

u32 PyriteDeviceControlThread::onChangeStatus(u32 status, const TMS::FieldMap& arguments)
{
    if (status == TMS::STATUS_RUN && getStatus() == TMS::STATUS_STOP) {
        setSystemInfo("PDBState", 0, KVariant(1u));
        setSystemInfo("DebugState", 0, KVariant(0u));
        setSystemInfo("ZOVORaState", 0, KVariant(2u));
        commitSystemInfo();
    }
    return PyriteAppThread::onChangeStatus(status, arguments);
}

} // namespace PYRITE
