// Mutex: the engine lock, the logic mutex with an explicit life: create takes a named semaphore ("DADOV" for no
// name), destroy gives it back. Lock, unlock and is-created behave as the logic mutex's.
#pragma once

#include "klib_Types.h"
#include "logic_Mutex.h"

namespace DADOV {

class Mutex : public LogicCtrl::Mutex
{
public:
    static constexpr const char* DEFAULT_NAME = "DADOV";

    // No semaphore until create.
    Mutex() : LogicCtrl::Mutex(Deferred{}) {}

    // Forgets any earlier semaphore and creates one under the name: 0, or 0x80000000 (debug-break hook) when the
    // OS layer gives none.
    i32 create(const char* name) { return LogicCtrl::Mutex::create(name != nullptr ? name : DEFAULT_NAME); }
    // Deletes the semaphore; the mutex is then not created.
    void destroy() { LogicCtrl::Mutex::destroy(); }
};

} // namespace DADOV
