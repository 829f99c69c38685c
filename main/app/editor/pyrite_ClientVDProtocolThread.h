// PyriteClientVDProtocolThread: the thread "VDProtocol" (stage 3, queue of 5 messages), which will carry the link
// to the editor. Until the link is built it takes the path of a start without an editor link: on entering RUN
// from STOP it stages "VDPState" 1 and commits it.
#pragma once

#include "pyrite_AppThread.h"

namespace PYRITE {

class PyriteClientVDProtocolThread : public PyriteAppThread
{
public:
    static constexpr u32 QUEUE_CAPACITY = 5;

    PyriteClientVDProtocolThread();
    ~PyriteClientVDProtocolThread() override;

    u32 onChangeStatus(u32 status, const TMS::FieldMap& arguments) override;
};

} // namespace PYRITE
