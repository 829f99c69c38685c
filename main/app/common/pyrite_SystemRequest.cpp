#include "pyrite_SystemRequest.h"

#include "tms_Message.h"
#include "tms_ThreadRepository.h"

namespace PYRITE {

u32 requestSystemClose()
{
    TMS::ThreadHandle system = TMS::ThreadRepository::acquireThread("System");
    if (!TMS::ThreadRepository::getCurrentThread()->isNull()) {
        return system.releaseThread();
    }
    // A plain thread would tear "System" down itself and race with its owner doing the same.
    TMS::AbstractMessage close;
    close.initialize(TMS::MESSAGE_KIND_USER, 0);
    close.setString("CommandName", "Close");
    return system->sendMessageWithWaiting(close);
}

} // namespace PYRITE
