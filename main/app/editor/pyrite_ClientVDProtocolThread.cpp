#include "pyrite_ClientVDProtocolThread.h"

namespace PYRITE {

PyriteClientVDProtocolThread::PyriteClientVDProtocolThread() : PyriteAppThread(QUEUE_CAPACITY) {}

PyriteClientVDProtocolThread::~PyriteClientVDProtocolThread()
{
    release();
}

u32 PyriteClientVDProtocolThread::onChangeStatus(u32 status, const TMS::FieldMap& arguments)
{
    if (status == TMS::STATUS_RUN && getStatus() == TMS::STATUS_STOP) {
        setSystemInfo("VDPState", 0, KVariant(1u));
        commitSystemInfo();
    }
    return PyriteAppThread::onChangeStatus(status, arguments);
}

} // namespace PYRITE
