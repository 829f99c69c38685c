// Id tables for tasks, event flags and semaphores on POSIX threads and futexes.
//
// Each table entry has a 64-bit control word: slot state (bits 56..63), in-flight user count (bits 32..55)
// and, for semaphores, the count (bits 0..31). A semaphore keeps its users in a counter of its own instead, so
// that takers and givers never fail an exchange on the count because a waiter came or went. Operations on a
// ready entry only use atomics; allocation and release take the table lock. All table storage is static and trivially
// destructible, and the table lock is never destroyed, so calls from late static destructors stay safe after shutdown.

#include "os_Tasks.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <type_traits>

#include "os_Clock.h"
#include "os_TestHooks.h"

namespace ossupport {
namespace {

constexpr u64 SLOT_FREE = 0;
constexpr u64 SLOT_CREATING = 1;
constexpr u64 SLOT_READY = 2;
constexpr u64 SLOT_DELETING = 3;
constexpr u64 SLOT_CLOSING = 4;

constexpr int STATE_SHIFT = 56;
constexpr u64 USER_ONE = u64{1} << 32;
constexpr u64 USER_MASK = u64{0xFFFFFF} << 32;
constexpr u64 PAYLOAD_MASK = 0xFFFFFFFFull;

constexpr u32 RUN_STATE_NOT_RUNNING = 16;
constexpr u32 RUN_STATE_RUNNING = 1;

constexpr u32 NAME_CHARS = 8;

// Sanitizer builds need more stack for the same work: the thread sanitizer keeps its per-thread state in
// the thread's stack area, the address sanitizer puts redzones around stack objects.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define OS_THREAD_SANITIZER 1
#endif
#if __has_feature(address_sanitizer)
#define OS_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(OS_THREAD_SANITIZER)
constexpr size_t SANITIZER_STACK_EXTRA = 1024 * 1024;
#elif defined(__SANITIZE_ADDRESS__) || defined(OS_ADDRESS_SANITIZER)
constexpr size_t SANITIZER_STACK_EXTRA = 256 * 1024;
#else
constexpr size_t SANITIZER_STACK_EXTRA = 0;
#endif

inline u64 stateOf(u64 word)
{
    return word >> STATE_SHIFT;
}
inline u64 usersOf(u64 word)
{
    return (word & USER_MASK) >> 32;
}

class SlotControl
{
public:
    u64 load() const { return m_word.load(std::memory_order_seq_cst); }
    u64 state() const { return stateOf(m_word.load(std::memory_order_acquire)); }

    // Registers an in-flight user; fails (and unregisters) when the entry is not ready.
    bool enter()
    {
        const u64 before = m_word.fetch_add(USER_ONE, std::memory_order_acq_rel);
        if (stateOf(before) != SLOT_READY) {
            m_word.fetch_sub(USER_ONE, std::memory_order_acq_rel);
            return false;
        }
        return true;
    }
    void leave() { m_word.fetch_sub(USER_ONE, std::memory_order_acq_rel); }

    // Moves the state from `from` to `to`, keeping users and payload.
    bool transition(u64 from, u64 to)
    {
        u64 word = m_word.load(std::memory_order_acquire);
        while (stateOf(word) == from) {
            const u64 next = (word & ~(u64{0xFF} << STATE_SHIFT)) | (to << STATE_SHIFT);
            if (m_word.compare_exchange_weak(word, next, std::memory_order_acq_rel)) {
                return true;
            }
        }
        return false;
    }

    // Sets state and payload, keeping the users (transient users may touch any entry).
    void publish(u64 state, u32 payload)
    {
        u64 word = m_word.load(std::memory_order_acquire);
        for (;;) {
            const u64 next = (state << STATE_SHIFT) | (word & USER_MASK) | payload;
            if (m_word.compare_exchange_weak(word, next, std::memory_order_acq_rel)) {
                return;
            }
        }
    }

    // Polls every 1 ms until no user is in flight.
    void waitForUsers() const
    {
        while (usersOf(m_word.load(std::memory_order_acquire)) != 0) {
            sleepMilliseconds(1);
        }
    }

    std::atomic<u64>& word() { return m_word; }

private:
    std::atomic<u64> m_word{0};
};

long futexWait(std::atomic<u32>* address, u32 expected, const timespec* absoluteDeadline)
{
    static_assert(sizeof(std::atomic<u32>) == sizeof(u32));
    return syscall(SYS_futex, reinterpret_cast<u32*>(address), FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, expected,
                   absoluteDeadline, nullptr, FUTEX_BITSET_MATCH_ANY);
}

void futexWake(std::atomic<u32>* address, int count)
{
    syscall(SYS_futex, reinterpret_cast<u32*>(address), FUTEX_WAKE | FUTEX_PRIVATE_FLAG, count, nullptr, nullptr, 0);
}

void copyName(char (&out)[NAME_CHARS + 1], const char* name)
{
    std::memset(out, 0, sizeof(out));
    if (name != nullptr) {
        std::strncpy(out, name, NAME_CHARS);
    }
}

struct EventFlagEntry
{
    SlotControl m_control;
    std::atomic<u32> m_bits{0};
    u32 m_attributes = 0;
    char m_name[NAME_CHARS + 1] = {};
};

// A semaphore entry fills a cache line of its own, so that semaphores used by different threads do not slow each
// other down. Only the count and the slot state share the control word: takers and givers change nothing else on
// the kernel-free path. A taker that finds no count registers in m_users (deletion waits for it) and, before it
// sleeps, as a sleeper in m_sleepWord, which a give looks at to decide whether to wake anyone.
struct alignas(64) SemaphoreEntry
{
    SlotControl m_control;              // payload = current count; the word's user field stays 0
    std::atomic<u32> m_sleepWord{0};    // SLEEPER per registered sleeper, plus the WAKE_PENDING bit
    std::atomic<u32> m_users{0};        // callers inside the entry beyond one atomic step
    std::atomic<u32> m_wakeSequence{0}; // futex word of the sleepers: advanced by every wake-up
    char m_name[NAME_CHARS + 1] = {};
};

struct TaskSlot
{
    SlotControl m_control;
    std::atomic<u32> m_events{0}; // the task's event word
    std::atomic<u32> m_waiters{0};
    std::atomic<u16> m_endRequested{0};
    std::atomic<u32> m_runState{RUN_STATE_NOT_RUNNING};
    std::atomic<i32> m_osThreadId{0};
    TaskRecord m_record{};
    u16 m_priority = 0;
    char m_name[NAME_CHARS + 1] = {};
    void* m_argument = nullptr;
    // Guarded by the table lock.
    pthread_t m_thread{};
    bool m_hasThread = false;       // an OS thread exists that is neither joined nor detached
    bool m_ended = true;            // the thread's trampoline has finished with the entry
    std::atomic<u32> m_finished{1}; // the same, as a futex word for deleteTask's timed wait
};

struct ForeignEntry
{
    std::atomic<u32> m_claimed{0};
    std::atomic<i32> m_osThreadId{0};
};

struct Tables
{
    EventFlagEntry m_flags[OS_EVENT_FLAG_ID_MAX + 1];
    SemaphoreEntry m_semaphores[OS_SEMAPHORE_ID_MAX + 1];
    TaskSlot m_tasks[OS_TASK_ID_MAX + 1];
    ForeignEntry m_foreign[OS_FOREIGN_ID_COUNT];
};
static_assert(std::is_trivially_destructible_v<Tables>, "the tables must outlive every static destructor");

constinit Tables g_tables;
constinit std::atomic<bool> g_initialized{false};
constinit std::atomic<u32> g_initGeneration{0};
constinit std::atomic<u64> g_nextIdentity{1};
constinit std::atomic<u32> g_deleteWaitMs{5000};
constinit std::atomic<ThreadStartHook> g_threadStartHook{nullptr};
// Never destroyed: late static destructors may still call in.
pthread_mutex_t g_tableLock = PTHREAD_MUTEX_INITIALIZER;

thread_local u16 t_taskId = 0;
thread_local u64 t_identity = 0;

class TableLock
{
public:
    TableLock() { pthread_mutex_lock(&g_tableLock); }
    ~TableLock() { pthread_mutex_unlock(&g_tableLock); }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;
};

// Releases the thread's foreign id when the thread exits.
struct ForeignHolder
{
    u16 m_index = 0xFFFF;
    ~ForeignHolder()
    {
        if (m_index < OS_FOREIGN_ID_COUNT) {
            ForeignEntry& entry = g_tables.m_foreign[m_index];
            entry.m_osThreadId.store(0, std::memory_order_relaxed);
            entry.m_claimed.store(0, std::memory_order_release);
        }
    }
};
thread_local ForeignHolder t_foreign;

bool patternPasses(u32 word, u32 pattern, u32 mode)
{
    if ((mode & OS_MODE_OR) != 0) {
        return (word & pattern) != 0;
    }
    return (word & pattern) == pattern;
}

timespec monotonicDeadline(u32 timeoutMs)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const u64 ns = static_cast<u64>(now.tv_nsec) + static_cast<u64>(timeoutMs % 1000) * 1000000u;
    timespec deadline{};
    deadline.tv_sec = now.tv_sec + static_cast<time_t>(timeoutMs / 1000) + static_cast<time_t>(ns / 1000000000u);
    deadline.tv_nsec = static_cast<long>(ns % 1000000000u);
    return deadline;
}

bool deadlinePassed(const timespec& deadline)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

void wakeTask(TaskSlot& task)
{
    if (task.m_waiters.load(std::memory_order_seq_cst) != 0) {
        futexWake(&task.m_events, INT_MAX);
    }
}

// Returns a deleted task entry to the free state. The caller has made sure no thread uses it any more.
void freeTaskEntry(TaskSlot& task)
{
    task.m_control.waitForUsers();
    task.m_events.store(0, std::memory_order_relaxed);
    task.m_waiters.store(0, std::memory_order_relaxed);
    task.m_endRequested.store(0, std::memory_order_relaxed);
    task.m_runState.store(RUN_STATE_NOT_RUNNING, std::memory_order_relaxed);
    task.m_osThreadId.store(0, std::memory_order_relaxed);
    task.m_record = TaskRecord{};
    task.m_priority = 0;
    task.m_argument = nullptr;
    copyName(task.m_name, nullptr);
    task.m_hasThread = false;
    task.m_ended = true;
    task.m_finished.store(1, std::memory_order_release);
    task.m_control.publish(SLOT_FREE, 0);
}

// Marks the task's trampoline finished; frees an entry that deleteTask left closing.
void markTaskEnded(u16 id)
{
    TaskSlot& task = g_tables.m_tasks[id];
    TableLock lock;
    task.m_runState.store(RUN_STATE_NOT_RUNNING, std::memory_order_release);
    task.m_osThreadId.store(0, std::memory_order_release);
    task.m_ended = true;
    task.m_finished.store(1, std::memory_order_release);
    futexWake(&task.m_finished, INT_MAX);
    if (task.m_control.state() == SLOT_CLOSING) {
        freeTaskEntry(task);
    }
}

struct TrampolineGuard
{
    u16 m_id;
    ~TrampolineGuard()
    {
        t_taskId = 0;
        markTaskEnded(m_id);
    }
};

void* taskTrampoline(void* argument)
{
    const u16 id = static_cast<u16>(reinterpret_cast<uintptr_t>(argument));
    TaskSlot& task = g_tables.m_tasks[id];
    t_taskId = id;
    task.m_osThreadId.store(static_cast<i32>(gettid()), std::memory_order_release);
    // Runs on normal return and on the unwind of exitTask's pthread_exit.
    TrampolineGuard guard{id};
    runThreadStartHook();
    task.m_record.m_entry(task.m_argument);
    return nullptr;
}

u32 createTaskAt(u16 id, const TaskRecord* record)
{
    TaskSlot& task = g_tables.m_tasks[id];
    if (!task.m_control.transition(SLOT_FREE, SLOT_CREATING)) {
        return OS_E_STATE;
    }
    task.m_record = *record;
    task.m_record.m_name = nullptr; // the caller's text is not kept; the copy below is
    task.m_priority = record->m_priority;
    copyName(task.m_name, record->m_name);
    task.m_events.store(0, std::memory_order_relaxed);
    task.m_endRequested.store(0, std::memory_order_relaxed);
    task.m_runState.store(RUN_STATE_NOT_RUNNING, std::memory_order_relaxed);
    task.m_osThreadId.store(0, std::memory_order_relaxed);
    task.m_hasThread = false;
    task.m_ended = true;
    task.m_control.publish(SLOT_READY, 0);
    return OS_OK;
}

// Deletes a task; waitMs bounds the wait for a running thread (OS_WAIT_FOREVER = no limit).
u32 deleteTaskEntry(u16 id, u32 waitMs)
{
    TaskSlot& task = g_tables.m_tasks[id];
    if (!task.m_control.transition(SLOT_READY, SLOT_DELETING)) {
        return OS_E_NOT_READY;
    }
    bool hasThread = false;
    pthread_t thread{};
    {
        TableLock lock;
        hasThread = task.m_hasThread;
        thread = task.m_thread;
    }
    bool joined = true;
    if (hasThread) {
        if (pthread_equal(thread, pthread_self()) != 0) {
            joined = false;
        } else if (waitMs == OS_WAIT_FOREVER) {
            joined = pthread_join(thread, nullptr) == 0;
        } else {
            // Wait against the steady clock for the trampoline to finish; the join then only collects
            // the thread's exit.
            const timespec deadline = monotonicDeadline(waitMs);
            while (task.m_finished.load(std::memory_order_acquire) == 0) {
                if (futexWait(&task.m_finished, 0, &deadline) != 0 && errno == ETIMEDOUT) {
                    break;
                }
            }
            joined = task.m_finished.load(std::memory_order_acquire) != 0 && pthread_join(thread, nullptr) == 0;
        }
    }
    TableLock lock;
    if (hasThread) {
        if (!joined) {
            pthread_detach(thread);
        }
        task.m_hasThread = false;
    }
    if (!joined && !task.m_ended) {
        // The thread still runs and uses its entry: keep the id reserved until its trampoline ends, and
        // tell the thread to end.
        task.m_control.transition(SLOT_DELETING, SLOT_CLOSING);
        task.m_endRequested.store(1, std::memory_order_release);
        task.m_events.fetch_or(OS_TASK_END_BIT, std::memory_order_seq_cst);
        wakeTask(task);
        return OS_OK;
    }
    freeTaskEntry(task);
    return OS_OK;
}

template <typename Entry, typename Create>
u32 createAutomatic(u16* id, Entry* table, u16 highest, u16 lowest, Create create)
{
    TableLock lock;
    for (u32 candidate = highest; candidate >= lowest; --candidate) {
        if (table[candidate].m_control.state() == SLOT_FREE) {
            const u32 result = create(static_cast<u16>(candidate));
            if (result == OS_OK) {
                *id = static_cast<u16>(candidate);
            }
            return result;
        }
    }
    return OS_E_NO_ID;
}

u32 createFlagAt(u16 id, const EventFlagRecord* record)
{
    EventFlagEntry& flag = g_tables.m_flags[id];
    if (!flag.m_control.transition(SLOT_FREE, SLOT_CREATING)) {
        return OS_E_STATE;
    }
    flag.m_attributes = record->m_attributes;
    flag.m_bits.store(record->m_initialBits, std::memory_order_relaxed);
    copyName(flag.m_name, record->m_name);
    flag.m_control.publish(SLOT_READY, 0);
    return OS_OK;
}

u32 deleteFlagAt(u16 id)
{
    EventFlagEntry& flag = g_tables.m_flags[id];
    if (!flag.m_control.transition(SLOT_READY, SLOT_DELETING)) {
        return OS_E_NOT_READY;
    }
    flag.m_control.waitForUsers();
    flag.m_bits.store(0, std::memory_order_relaxed);
    flag.m_attributes = 0;
    copyName(flag.m_name, nullptr);
    flag.m_control.publish(SLOT_FREE, 0);
    return OS_OK;
}

u32 createSemaphoreAt(u16 id, const SemaphoreRecord* record)
{
    SemaphoreEntry& semaphore = g_tables.m_semaphores[id];
    if (!semaphore.m_control.transition(SLOT_FREE, SLOT_CREATING)) {
        return OS_E_STATE;
    }
    copyName(semaphore.m_name, record->m_name);
    semaphore.m_sleepWord.store(0, std::memory_order_relaxed);
    semaphore.m_control.publish(SLOT_READY, record->m_initialCount);
    return OS_OK;
}

u32 deleteSemaphoreAt(u16 id)
{
    SemaphoreEntry& semaphore = g_tables.m_semaphores[id];
    if (!semaphore.m_control.transition(SLOT_READY, SLOT_DELETING)) {
        return OS_E_NOT_READY;
    }
    // Blocked waiters see the state change and leave with a failure.
    semaphore.m_wakeSequence.fetch_add(1, std::memory_order_seq_cst);
    futexWake(&semaphore.m_wakeSequence, INT_MAX);
    while (semaphore.m_users.load(std::memory_order_seq_cst) != 0) {
        sleepMilliseconds(1);
    }
    copyName(semaphore.m_name, nullptr);
    semaphore.m_control.publish(SLOT_FREE, 0);
    return OS_OK;
}

bool validTaskId(u16 id)
{
    return id >= 1 && id <= OS_TASK_ID_MAX;
}
bool validFlagId(u16 id)
{
    return id >= 1 && id <= OS_EVENT_FLAG_ID_MAX;
}
bool validSemaphoreId(u16 id)
{
    return id >= 1 && id <= OS_SEMAPHORE_ID_MAX;
}
bool initialized()
{
    return g_initialized.load(std::memory_order_acquire);
}

} // namespace

// ------------------------------------------------------------------------------------------------------------
// Life cycle
// ------------------------------------------------------------------------------------------------------------

u32 initialize()
{
    TableLock lock;
    if (initialized()) {
        return OS_E_STATE;
    }
    for (u16 id = 1; id <= OS_TASK_ID_MAX; ++id) {
        TaskSlot& task = g_tables.m_tasks[id];
        // A closing entry still belongs to a running thread, which frees it when it ends.
        if (task.m_control.state() != SLOT_CLOSING) {
            task.m_control.publish(SLOT_FREE, 0);
        }
    }
    for (u16 id = 1; id <= OS_EVENT_FLAG_ID_MAX; ++id) {
        g_tables.m_flags[id].m_control.publish(SLOT_FREE, 0);
    }
    for (u16 id = 1; id <= OS_SEMAPHORE_ID_MAX; ++id) {
        g_tables.m_semaphores[id].m_control.publish(SLOT_FREE, 0);
    }
    g_initGeneration.fetch_add(1, std::memory_order_acq_rel);
    g_initialized.store(true, std::memory_order_release);
    return OS_OK;
}

u32 shutdown()
{
    if (!initialized()) {
        return OS_E_STATE;
    }
    auto endTask = [](u16 id) {
        TaskSlot& task = g_tables.m_tasks[id];
        if (task.m_control.state() != SLOT_READY) {
            return;
        }
        bool running = false;
        {
            TableLock lock;
            running = task.m_hasThread && !task.m_ended;
        }
        if (running) {
            task.m_endRequested.store(1, std::memory_order_release);
            task.m_events.fetch_or(OS_TASK_END_BIT, std::memory_order_seq_cst);
            wakeTask(task);
        }
        deleteTaskEntry(id, OS_WAIT_FOREVER);
    };
    for (u16 id = OS_TASK_ID_FIXED_MAX + 1; id <= OS_TASK_ID_MAX; ++id) {
        endTask(id);
    }
    for (u16 id = OS_TASK_ID_FIXED_MAX; id >= 1; --id) {
        endTask(id);
    }
    TableLock lock;
    for (u16 id = 1; id <= OS_SEMAPHORE_ID_MAX; ++id) {
        deleteSemaphoreAt(id);
    }
    for (u16 id = 1; id <= OS_EVENT_FLAG_ID_MAX; ++id) {
        deleteFlagAt(id);
    }
    g_initialized.store(false, std::memory_order_release);
    return OS_OK;
}

bool isInitialized()
{
    return initialized();
}

u32 getInitGeneration()
{
    return g_initGeneration.load(std::memory_order_acquire);
}

// ------------------------------------------------------------------------------------------------------------
// Tasks
// ------------------------------------------------------------------------------------------------------------

u32 createTask(u16* id, const TaskRecord* record)
{
    if (id == nullptr || record == nullptr) {
        if (id != nullptr) {
            *id = 0;
        }
        return OS_E_RANGE;
    }
    *id = 0;
    if (!initialized()) {
        return OS_E_STATE;
    }
    return createAutomatic(id, g_tables.m_tasks, OS_TASK_ID_MAX, OS_TASK_ID_FIXED_MAX + 1,
                           [record](u16 candidate) { return createTaskAt(candidate, record); });
}

u32 createTaskWithId(u16 id, const TaskRecord* record)
{
    if (id < 1 || id > OS_TASK_ID_FIXED_MAX || record == nullptr) {
        return OS_E_RANGE;
    }
    if (!initialized()) {
        return OS_E_STATE;
    }
    TableLock lock;
    return createTaskAt(id, record);
}

u32 startTask(u16 id, void* argument)
{
    if (!validTaskId(id)) {
        return OS_E_RANGE;
    }
    if (!initialized()) {
        return OS_E_STATE;
    }
    TaskSlot& task = g_tables.m_tasks[id];
    u32 result = OS_OK;
    {
        // No user count here: deletion frees entries under the table lock while waiting for users. The
        // state is checked under the lock, and deleteTask reads the thread handle under it.
        TableLock lock;
        if (task.m_control.state() != SLOT_READY) {
            result = OS_E_NOT_READY;
        } else if (task.m_hasThread || !task.m_ended || task.m_record.m_entry == nullptr) {
            result = task.m_record.m_entry == nullptr ? OS_E_PLATFORM : OS_E_STATE;
        } else {
            pthread_attr_t attributes;
            if (pthread_attr_init(&attributes) != 0) {
                result = OS_E_PLATFORM;
            } else {
                const long page = sysconf(_SC_PAGESIZE) > 0 ? sysconf(_SC_PAGESIZE) : 4096;
                size_t stack =
                    task.m_record.m_stackSize < OS_MIN_STACK_SIZE ? OS_MIN_STACK_SIZE : task.m_record.m_stackSize;
                stack += SANITIZER_STACK_EXTRA;
                stack = (stack + static_cast<size_t>(page) - 1) / static_cast<size_t>(page) * static_cast<size_t>(page);
                task.m_argument = argument;
                task.m_ended = false;
                task.m_finished.store(0, std::memory_order_release);
                task.m_runState.store(RUN_STATE_RUNNING, std::memory_order_release);
                if (pthread_attr_setstacksize(&attributes, stack) != 0 ||
                    pthread_create(&task.m_thread, &attributes, taskTrampoline,
                                   reinterpret_cast<void*>(static_cast<uintptr_t>(id))) != 0) {
                    task.m_ended = true;
                    task.m_finished.store(1, std::memory_order_release);
                    task.m_runState.store(RUN_STATE_NOT_RUNNING, std::memory_order_release);
                    result = OS_E_PLATFORM;
                } else {
                    task.m_hasThread = true;
                }
                pthread_attr_destroy(&attributes);
            }
        }
    }
    return result;
}

void setThreadStartHook(ThreadStartHook hook)
{
    g_threadStartHook.store(hook, std::memory_order_release);
}

void runThreadStartHook()
{
    const ThreadStartHook hook = g_threadStartHook.load(std::memory_order_acquire);
    if (hook != nullptr) {
        hook();
    }
}

u32 deleteTask(u16 id)
{
    if (!validTaskId(id)) {
        return OS_E_RANGE;
    }
    if (!initialized()) {
        return OS_E_STATE;
    }
    return deleteTaskEntry(id, g_deleteWaitMs.load(std::memory_order_relaxed));
}

u32 exitTask()
{
    const u16 id = t_taskId;
    if (id == 0) {
        return OS_E_NOT_READY;
    }
    {
        TaskSlot& task = g_tables.m_tasks[id];
        TableLock lock;
        task.m_runState.store(RUN_STATE_NOT_RUNNING, std::memory_order_release);
        task.m_osThreadId.store(0, std::memory_order_release);
    }
    pthread_exit(nullptr);
}

u32 getCurrentTaskId(u16* id)
{
    if (id == nullptr) {
        return OS_E_RANGE;
    }
    if (!initialized()) {
        *id = 0;
        return OS_E_STATE;
    }
    if (t_taskId != 0) {
        *id = t_taskId;
        return OS_OK;
    }
    ForeignHolder& holder = t_foreign;
    if (holder.m_index >= OS_FOREIGN_ID_COUNT) {
        for (u16 index = 0; index < OS_FOREIGN_ID_COUNT; ++index) {
            ForeignEntry& entry = g_tables.m_foreign[index];
            u32 expected = 0;
            if (entry.m_claimed.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
                entry.m_osThreadId.store(static_cast<i32>(gettid()), std::memory_order_relaxed);
                holder.m_index = index;
                break;
            }
        }
        if (holder.m_index >= OS_FOREIGN_ID_COUNT) {
            *id = 0;
            return OS_NO_FOREIGN_ID;
        }
    }
    *id = static_cast<u16>(OS_FOREIGN_ID_BASE + holder.m_index);
    return OS_OK;
}

u32 setTaskEvent(u16 id, u32 bits)
{
    if (!validTaskId(id)) {
        return OS_E_RANGE;
    }
    if (!initialized()) {
        return OS_E_STATE;
    }
    TaskSlot& task = g_tables.m_tasks[id];
    if (!task.m_control.enter()) {
        return OS_E_NOT_READY;
    }
    task.m_events.fetch_or(bits, std::memory_order_seq_cst);
    wakeTask(task);
    task.m_control.leave();
    return OS_OK;
}

u32 waitTaskEvent(u32* bits, u32 pattern, u32 timeoutMs)
{
    if (bits == nullptr) {
        return OS_E_RANGE;
    }
    *bits = 0;
    if (!initialized()) {
        return OS_E_STATE;
    }
    const u16 id = t_taskId;
    if (id == 0) {
        return OS_E_NOT_READY;
    }
    // The entry belongs to this thread until its trampoline ends, so the wait needs no user count.
    TaskSlot& task = g_tables.m_tasks[id];
    const u32 testPattern = pattern | OS_TASK_END_BIT;
    const bool limited = timeoutMs != 0 && timeoutMs != OS_WAIT_FOREVER;
    const timespec deadline = limited ? monotonicDeadline(timeoutMs) : timespec{};
    for (;;) {
        if (task.m_endRequested.load(std::memory_order_acquire) != 0 || task.m_control.state() == SLOT_CLOSING) {
            // The end was requested (shutdown, or deleted while still running): every wait answers it,
            // so a loop that waits once more cannot hold up the shutdown.
            *bits = task.m_events.exchange(0, std::memory_order_acq_rel) & ~OS_TASK_END_BIT;
            return OS_E_END_REQUESTED;
        }
        const u32 word = task.m_events.load(std::memory_order_seq_cst);
        if ((word & testPattern) != 0) {
            task.m_events.fetch_and(~word, std::memory_order_acq_rel);
            if ((word & OS_TASK_END_BIT) != 0) {
                *bits = word & ~OS_TASK_END_BIT;
                return OS_E_END_REQUESTED;
            }
            *bits = word;
            return OS_OK;
        }
        if (timeoutMs == 0) {
            return OS_OK;
        }
        if (limited && deadlinePassed(deadline)) {
            return OS_E_TIMEOUT;
        }
        task.m_waiters.fetch_add(1, std::memory_order_seq_cst);
        long rc = 0;
        if (task.m_events.load(std::memory_order_seq_cst) == word) {
            rc = futexWait(&task.m_events, word, limited ? &deadline : nullptr);
        }
        const int error = rc == 0 ? 0 : errno;
        task.m_waiters.fetch_sub(1, std::memory_order_seq_cst);
        if (rc != 0 && error != EAGAIN && error != EINTR && error != ETIMEDOUT) {
            return OS_E_PLATFORM;
        }
    }
}

u32 getTaskWaiterCount(u16 id, u32* count)
{
    if (count == nullptr || id == 0 || id > OS_TASK_ID_MAX) {
        return OS_E_RANGE;
    }
    *count = 0;
    if (!initialized()) {
        return OS_E_STATE;
    }
    *count = g_tables.m_tasks[id].m_waiters.load(std::memory_order_seq_cst);
    return OS_OK;
}

// ------------------------------------------------------------------------------------------------------------
// Event flags
// ------------------------------------------------------------------------------------------------------------

u32 createEventFlag(u16* id, const EventFlagRecord* record)
{
    if (id == nullptr || record == nullptr) {
        if (id != nullptr) {
            *id = 0;
        }
        return OS_E_RANGE;
    }
    *id = 0;
    if (!initialized()) {
        return OS_E_STATE;
    }
    return createAutomatic(id, g_tables.m_flags, OS_EVENT_FLAG_ID_MAX, 100,
                           [record](u16 candidate) { return createFlagAt(candidate, record); });
}

u32 deleteEventFlag(u16 id)
{
    if (!validFlagId(id)) {
        return OS_E_RANGE;
    }
    if (!initialized()) {
        return OS_E_STATE;
    }
    TableLock lock;
    return deleteFlagAt(id);
}

u32 setEventFlag(u16 id, u32 bits)
{
    if (!validFlagId(id)) {
        return OS_E_RANGE;
    }
    if (!initialized()) {
        return OS_E_STATE;
    }
    EventFlagEntry& flag = g_tables.m_flags[id];
    if (!flag.m_control.enter()) {
        return OS_E_NOT_READY;
    }
    flag.m_bits.fetch_or(bits, std::memory_order_acq_rel);
    flag.m_control.leave();
    return OS_OK;
}

u32 pollEventFlag(u32* bits, u16 id, u32 pattern, u32 mode)
{
    if (bits == nullptr || !validFlagId(id)) {
        return OS_E_RANGE;
    }
    *bits = 0;
    if (!initialized()) {
        return OS_E_STATE;
    }
    EventFlagEntry& flag = g_tables.m_flags[id];
    if (!flag.m_control.enter()) {
        return OS_E_NOT_READY;
    }
    u32 word = flag.m_bits.load(std::memory_order_acquire);
    for (;;) {
        if (!patternPasses(word, pattern, mode)) {
            break;
        }
        if ((flag.m_attributes & OS_FLAG_CLEAR_ON_READ) == 0) {
            *bits = word;
            break;
        }
        // Read and clear in one step, so that two pollers never both receive the same bits.
        if (flag.m_bits.compare_exchange_weak(word, 0, std::memory_order_acq_rel)) {
            *bits = word;
            break;
        }
    }
    flag.m_control.leave();
    return OS_OK;
}

// ------------------------------------------------------------------------------------------------------------
// Semaphores
// ------------------------------------------------------------------------------------------------------------

u32 createSemaphore(u16* id, const SemaphoreRecord* record)
{
    if (id == nullptr || record == nullptr) {
        if (id != nullptr) {
            *id = 0;
        }
        return OS_E_RANGE;
    }
    *id = 0;
    if (!initialized()) {
        return OS_E_STATE;
    }
    if (record->m_initialCount > OS_SEMAPHORE_MAX_COUNT) {
        return OS_E_PLATFORM;
    }
    return createAutomatic(id, g_tables.m_semaphores, OS_SEMAPHORE_ID_MAX, 150,
                           [record](u16 candidate) { return createSemaphoreAt(candidate, record); });
}

u32 deleteSemaphore(u16 id)
{
    if (!validSemaphoreId(id)) {
        return OS_E_RANGE;
    }
    if (!initialized()) {
        return OS_E_STATE;
    }
    TableLock lock;
    return deleteSemaphoreAt(id);
}

namespace {

// Read attempts before a taker that found the count 0 goes to sleep: a holder of a count-1 semaphore used as a lock
// usually gives it back within a few hundred cycles, far less than a sleep and wake-up cost. A taker that finds
// others asleep already sleeps at once: with a queue that long, spinning only pulls the word away from the holder.
constexpr int SEMAPHORE_SPIN_COUNT = 100;

// m_sleepWord: bit 0 = a wake-up was sent that no sleeper has acted on yet; the rest counts the sleepers.
constexpr u32 WAKE_PENDING = 1;
constexpr u32 SLEEPER = 2;

inline void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

enum class Take { TAKEN, EMPTY, NOT_READY };

// One attempt to take a count; `word` is the control word last read and is refreshed on a failed exchange.
inline Take tryTake(std::atomic<u64>& control, u64& word)
{
    for (;;) {
        if (stateOf(word) != SLOT_READY) {
            return Take::NOT_READY;
        }
        if ((word & PAYLOAD_MASK) == 0) {
            return Take::EMPTY;
        }
        if (control.compare_exchange_weak(word, word - 1, std::memory_order_seq_cst, std::memory_order_relaxed)) {
            return Take::TAKEN;
        }
    }
}

// Wakes one sleeper when there is one and no wake-up is pending. A pending wake-up stands for the next one: some
// sleeper is sure to clear the mark and look at the count afterwards (see waitContended), so a give that finds the
// mark set needs no system call. The caller is a user of the entry.
void wakeOneSleeper(SemaphoreEntry& semaphore)
{
    u32 sleep = semaphore.m_sleepWord.load(std::memory_order_seq_cst);
    while (sleep >= SLEEPER && (sleep & WAKE_PENDING) == 0) {
        if (semaphore.m_sleepWord.compare_exchange_weak(sleep, sleep | WAKE_PENDING, std::memory_order_seq_cst)) {
            semaphore.m_wakeSequence.fetch_add(1, std::memory_order_seq_cst);
            futexWake(&semaphore.m_wakeSequence, 1);
            return;
        }
    }
}

// The part of waitSemaphore after the kernel-free attempt failed; the caller is a user of the entry from here on.
// Unless others sleep already, it spins a little, reading the word until a count shows up; then it sleeps on the
// wake sequence.
//
// No wake-up is lost: a sleeper clears the pending mark after reading the sequence and before reading the count.
// A give that found the mark set (and so woke nobody) raised the count before that clear, so the sleeper sees the
// count; a mark set after the clear comes with a sequence step after the read, so the sleeper's futex wait returns.
// A sleeper that leaves clears the mark too and passes a remaining count on to the next sleeper.
u32 waitContended(SemaphoreEntry& semaphore)
{
    std::atomic<u64>& control = semaphore.m_control.word();
    Take taken = Take::EMPTY;
    const int spins = semaphore.m_sleepWord.load(std::memory_order_relaxed) >= SLEEPER ? 0 : SEMAPHORE_SPIN_COUNT;
    for (int spin = 0; spin < spins && taken == Take::EMPTY; ++spin) {
        cpuRelax();
        u64 word = control.load(std::memory_order_seq_cst);
        taken = tryTake(control, word);
    }
    if (taken != Take::EMPTY) {
        return taken == Take::TAKEN ? OS_OK : OS_E_NOT_READY;
    }
    u32 result = OS_OK;
    semaphore.m_sleepWord.fetch_add(SLEEPER, std::memory_order_seq_cst);
    for (;;) {
        const u32 sequence = semaphore.m_wakeSequence.load(std::memory_order_seq_cst);
        semaphore.m_sleepWord.fetch_and(~WAKE_PENDING, std::memory_order_seq_cst);
        u64 word = control.load(std::memory_order_seq_cst);
        taken = tryTake(control, word);
        if (taken != Take::EMPTY) {
            break;
        }
        if (futexWait(&semaphore.m_wakeSequence, sequence, nullptr) != 0 && errno != EAGAIN && errno != EINTR) {
            result = OS_E_PLATFORM;
            break;
        }
    }
    u32 sleep = semaphore.m_sleepWord.load(std::memory_order_relaxed);
    while (!semaphore.m_sleepWord.compare_exchange_weak(sleep, (sleep - SLEEPER) & ~WAKE_PENDING,
                                                        std::memory_order_seq_cst)) {
    }
    if (taken == Take::NOT_READY) {
        return OS_E_NOT_READY;
    }
    if ((control.load(std::memory_order_seq_cst) & PAYLOAD_MASK) != 0) {
        wakeOneSleeper(semaphore);
    }
    return result;
}

} // namespace

u32 waitSemaphore(u16 id)
{
    if (!validSemaphoreId(id)) {
        return OS_E_RANGE;
    }
    if (!initialized()) {
        return OS_E_STATE;
    }
    SemaphoreEntry& semaphore = g_tables.m_semaphores[id];
    // Kernel-free path: one exchange takes a count and checks the state.
    u64 word = semaphore.m_control.word().load(std::memory_order_relaxed);
    const Take taken = tryTake(semaphore.m_control.word(), word);
    if (taken != Take::EMPTY) {
        return taken == Take::TAKEN ? OS_OK : OS_E_NOT_READY;
    }
    semaphore.m_users.fetch_add(1, std::memory_order_seq_cst);
    const u32 result = waitContended(semaphore);
    semaphore.m_users.fetch_sub(1, std::memory_order_seq_cst);
    return result;
}

u32 getSemaphoreWaiterCount(u16 id, u32* count)
{
    if (count == nullptr || !validSemaphoreId(id)) {
        return OS_E_RANGE;
    }
    *count = 0;
    if (!initialized()) {
        return OS_E_STATE;
    }
    *count = g_tables.m_semaphores[id].m_sleepWord.load(std::memory_order_seq_cst) / SLEEPER;
    return OS_OK;
}

u32 signalSemaphore(u16 id)
{
    if (!validSemaphoreId(id)) {
        return OS_E_RANGE;
    }
    if (!initialized()) {
        return OS_E_STATE;
    }
    SemaphoreEntry& semaphore = g_tables.m_semaphores[id];
    std::atomic<u64>& control = semaphore.m_control.word();
    u64 word = control.load(std::memory_order_relaxed);
    for (;;) {
        if (stateOf(word) != SLOT_READY) {
            return OS_E_NOT_READY;
        }
        if ((word & PAYLOAD_MASK) >= OS_SEMAPHORE_MAX_COUNT) {
            return OS_E_PLATFORM;
        }
        if (control.compare_exchange_weak(word, word + 1, std::memory_order_seq_cst, std::memory_order_relaxed)) {
            break;
        }
    }
    const u32 sleep = semaphore.m_sleepWord.load(std::memory_order_seq_cst);
    if (sleep >= SLEEPER && (sleep & WAKE_PENDING) == 0) {
        // The waker is a user, so that a deletion does not finish under it; when the entry was deleted meanwhile,
        // the deletion has woken every sleeper already.
        semaphore.m_users.fetch_add(1, std::memory_order_seq_cst);
        if (semaphore.m_control.state() == SLOT_READY) {
            wakeOneSleeper(semaphore);
        }
        semaphore.m_users.fetch_sub(1, std::memory_order_seq_cst);
    }
    return OS_OK;
}

u64 getCurrentThreadIdentity()
{
    u64 identity = t_identity;
    if (identity == 0) {
        identity = g_nextIdentity.fetch_add(1, std::memory_order_relaxed);
        t_identity = identity;
    }
    return identity;
}

namespace testhooks {

void setDeleteTaskWaitMs(u32 ms)
{
    g_deleteWaitMs.store(ms, std::memory_order_relaxed);
}

} // namespace testhooks

} // namespace ossupport
