// Id-addressed tasks (OS threads), event flags and counting semaphores.
//
// Ids come from fixed process-wide tables:
//   event flags  1..200, automatic ids 200 down to 100
//   semaphores   1..300, automatic ids 300 down to 150
//   tasks        1..100, automatic ids 100 down to 50, caller-chosen ids 1..49
// Threads that are not tasks get foreign ids 0x8000..0x8063 on first use; a foreign id is released when
// its thread exits.
//
// Every table call is safe before initialize() and after shutdown(); it then answers OS_E_STATE.
#pragma once

#include "klib_Types.h"
#include "os_Result.h"

namespace ossupport {

// Task entry: receives the argument given to startTask; its return value is ignored.
using TaskEntry = unsigned (*)(void* argument);

struct TaskRecord
{
    TaskEntry m_entry = nullptr;
    u16 m_priority = 0;  // stored, not passed to the platform
    u32 m_stackSize = 0; // a minimum: the thread gets at least OS_MIN_STACK_SIZE
    const char* m_name = nullptr;
};

struct EventFlagRecord
{
    u32 m_attributes = 0; // OS_FLAG_CLEAR_ON_READ
    u32 m_initialBits = 0;
    const char* m_name = nullptr;
};

struct SemaphoreRecord
{
    u32 m_initialCount = 0;
    const char* m_name = nullptr;
};

constexpr u32 OS_MIN_STACK_SIZE = 256u * 1024u;
constexpr u32 OS_FLAG_CLEAR_ON_READ = 4; // event-flag attribute: a successful poll clears the bits read
constexpr u32 OS_MODE_AND = 0;           // pattern test: every bit of the pattern set
constexpr u32 OS_MODE_OR = 1;            // pattern test: any bit of the pattern set
constexpr u32 OS_TASK_END_BIT = 0x10000; // reserved task event bit: end of task requested
constexpr u32 OS_WAIT_FOREVER = 0xFFFFFFFF;
constexpr u32 OS_SEMAPHORE_MAX_COUNT = 0x7FFFFFFF;

constexpr u16 OS_TASK_ID_MAX = 100;
constexpr u16 OS_TASK_ID_FIXED_MAX = 49;
constexpr u16 OS_EVENT_FLAG_ID_MAX = 200;
constexpr u16 OS_SEMAPHORE_ID_MAX = 300;
constexpr u16 OS_FOREIGN_ID_BASE = 0x8000;
constexpr u16 OS_FOREIGN_ID_COUNT = 100;

// Layer life cycle. initialize: OS_E_STATE when already initialised. shutdown: OS_E_STATE when not
// initialised; asks every running task to end (event bit 0x10000), waits for it without limit, deletes
// every task, semaphore and event flag.
u32 initialize();
u32 shutdown();
bool isInitialized();
// Counts successful initialize() calls (0 before the first). An object that keeps an id of the layer
// (a semaphore, say) across a shutdown()/initialize() cycle records this value with the id and must not
// use the id once the value has changed: the id may belong to another object by then.
u32 getInitGeneration();

// Tasks.
u32 createTask(u16* id, const TaskRecord* record);
u32 createTaskWithId(u16 id, const TaskRecord* record);
u32 startTask(u16 id, void* argument);
// Waits up to 5000 ms for a running task's thread. A thread that has not ended by then keeps its entry
// reserved (closing) until it does end, so its id is not handed out again meanwhile.
u32 deleteTask(u16 id);
// Ends the calling task's thread (does not return for a task; OS_E_NOT_READY otherwise). The thread
// unwinds; a catch(...) on its stack that does not rethrow aborts the process.
u32 exitTask();
// The caller's task id, else its foreign id (0x8000 + index); a full foreign table gives 0 and
// OS_NO_FOREIGN_ID.
u32 getCurrentTaskId(u16* id);
u32 setTaskEvent(u16 id, u32 bits);
// The calling task waits until its event word passes an OR test against pattern | 0x10000; the bits read
// are cleared. timeoutMs 0 = poll, OS_WAIT_FOREVER = no limit; the limit is one deadline for the whole
// wait. End requested: *bits without 0x10000 and OS_E_END_REQUESTED.
u32 waitTaskEvent(u32* bits, u32 pattern, u32 timeoutMs);
// Threads blocked in waitTaskEvent of the task (0 or 1): lets an observer see that a wait has begun.
u32 getTaskWaiterCount(u16 id, u32* count);

// Event flags (never waited on; polled).
u32 createEventFlag(u16* id, const EventFlagRecord* record);
u32 deleteEventFlag(u16 id);
u32 setEventFlag(u16 id, u32 bits);
// Never blocks: *bits = the word when the pattern test passes (cleared with OS_FLAG_CLEAR_ON_READ), else 0.
u32 pollEventFlag(u32* bits, u16 id, u32 pattern, u32 mode);

// Counting semaphores (maximum count 0x7FFFFFFF). A waiter blocked on a semaphore that gets deleted
// returns OS_E_NOT_READY.
u32 createSemaphore(u16* id, const SemaphoreRecord* record);
u32 deleteSemaphore(u16 id);
u32 waitSemaphore(u16 id);
u32 signalSemaphore(u16 id);
// Threads blocked in waitSemaphore of the semaphore.
u32 getSemaphoreWaiterCount(u16 id, u32* count);

// Thread-start hook: run by every task's thread before its entry, and by threads that are not tasks through
// runThreadStartHook at their start (the application puts a per-thread signal stack there). One hook per
// process, set before the threads concerned start; null removes it.
using ThreadStartHook = void (*)();
void setThreadStartHook(ThreadStartHook hook);
void runThreadStartHook();

// Process-unique identity of the calling thread: assigned on first use, never 0, never reused, and
// available whether or not the layer is initialised. Cheap (no table look-up).
u64 getCurrentThreadIdentity();

} // namespace ossupport
