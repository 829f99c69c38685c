// LogicComponentCollection ("LOGICCOMPO_DB"): the process-wide registry of logic components by uniqID. It owns no
// component; it records which exist. Any thread may call it: every operation runs under its mutex "LogicCol",
// which is made by the first initialize and never destroyed, so a thread may still lock it while another
// finalizes. initialize and finalize switch the registry between usable and unusable under that mutex.
//
// Also the expression look-up of logic ports and the processing request to the DSP thread.
#pragma once

#include <atomic>
#include <unordered_map>

#include "expression_IExpression.h"
#include "klib_Types.h"
#include "logic_ILogicComponent.h"
#include "logic_Mutex.h"

namespace LogicCtrl {

class LogicComponentCollection
{
public:
    static LogicComponentCollection& getInstance();

    // Does what finalize does.
    virtual ~LogicComponentCollection();
    LogicComponentCollection(const LogicComponentCollection&) = delete;
    LogicComponentCollection& operator=(const LogicComponentCollection&) = delete;

    // 0 and the line "[i] LogicComponentCollection::initialize - LOGICCOMPO_DB() initialized.\n" with the map
    // emptied; 0x80080000 when already initialised (also after a failed semaphore creation); 0x80040000 when the
    // mutex cannot be allocated; 0x80000000 when the mutex has no semaphore (the registry then stays unusable).
    [[nodiscard]] i32 initialize();
    // Empties the map and makes the registry unusable: 0; 0x80000000 when it is not usable.
    i32 finalize();
    // 0; 0x80000000 not usable; 0x80000001 null component; 0x80100000 uniqID already registered (the first stays).
    i32 addComponent(ILogicComponent* component);
    // Erases the entry of the component's uniqID, whichever object it holds: 0; 0x80000000 not usable;
    // 0x80000001 null component or uniqID not registered.
    i32 removeComponent(ILogicComponent* component);
    // Empties the map: 0; 0x80000000 not usable.
    i32 clear();
    // The component registered under uniqID; null when none is or the registry is not usable.
    ILogicComponent* findComponent(u32 uniqID);

private:
    enum : u32 { STATE_OFF = 0, STATE_READY = 1, STATE_BROKEN = 2 };

    LogicComponentCollection() = default;
    // The registry's mutex, made on first need; null when it cannot be allocated.
    Mutex* obtainMutex();
    // Runs the operation under the mutex when the registry is usable: its result, else 0x80000000.
    template <typename Operation> i32 whenReady(Operation&& operation);

    std::atomic<Mutex*> m_mutex{nullptr};
    std::atomic<u32> m_state{STATE_OFF};
    std::unordered_map<u32, ILogicComponent*> m_components;
};

// The expression of a logic port by name; the shared default expression (normalized range 30 to 330) when no
// expression is registered under it, which is always so. Never fails.
const Expression::IExpression& findExpression(const char* name);

// Sets user event 18 of the thread named "DSP"; nothing when no such thread is registered. 0.
i32 requestDspProcessing();

} // namespace LogicCtrl
