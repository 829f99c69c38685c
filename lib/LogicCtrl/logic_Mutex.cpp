#include "logic_Mutex.h"

#include "tms_DebugBreak.h"

namespace LogicCtrl {

Mutex::Mutex(const char* name)
{
    create(name != nullptr ? name : "Logic");
}

Mutex::~Mutex()
{
    if (m_core.getRecursionCount() > 0) {
        TMS::returnZero();
    }
    destroy();
}

i32 Mutex::create(const char* name)
{
    return m_core.activate(name) ? LOGIC_OK : LOGIC_E_FAILED;
}

void Mutex::destroy()
{
    m_core.deactivate();
}

bool Mutex::isCreated()
{
    return m_core.semaphore() != NO_SEMAPHORE;
}

i32 Mutex::lock()
{
    u32 waited = 0;
    switch (m_core.lock(&waited)) {
    case TMS::MutexCore::Outcome::OK:
        return LOGIC_OK;
    case TMS::MutexCore::Outcome::WAIT_FAILED:
        return static_cast<i32>(waited);
    default:
        return LOGIC_E_FAILED;
    }
}

i32 Mutex::unlock()
{
    return m_core.unlock() == TMS::MutexCore::Outcome::OK ? LOGIC_OK : LOGIC_E_FAILED;
}

} // namespace LogicCtrl
