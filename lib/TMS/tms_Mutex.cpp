#include "tms_Mutex.h"

#include "tms_DebugBreak.h"
#include "tms_Result.h"

namespace TMS {

TMSMutex::TMSMutex(const char* name)
{
    m_core.activate(name != nullptr ? name : "TMSMutex");
}

TMSMutex::~TMSMutex()
{
    if (m_core.getOwner() != 0) {
        returnZero();
    }
}

bool TMSMutex::isValid()
{
    return m_core.semaphore() != MutexCore::NO_SEMAPHORE;
}

u32 TMSMutex::lock()
{
    return m_core.lock() == MutexCore::Outcome::OK ? 0 : RESULT_FAILED;
}

u32 TMSMutex::unlock()
{
    switch (m_core.unlock()) {
    case MutexCore::Outcome::OK:
        return 0;
    case MutexCore::Outcome::NOT_OWNER:
        return RESULT_NOT_OWNER;
    default:
        return RESULT_FAILED;
    }
}

} // namespace TMS
