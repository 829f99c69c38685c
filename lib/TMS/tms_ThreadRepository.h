// ThreadRepository: the one process-wide register of initialised threads, by name and by task id, and the
// receiver of the 10 ms OS tick, which it hands to every registered thread's onTick. Look-ups that find nothing
// answer the null thread, whose operations do nothing, so callers can always call through the result.
//
// Order of life: initialize() before any TMSMutex or thread is constructed, finalize() after they are destroyed.
// finalize stops and joins the tick before the maps and the mutex are destroyed.
#pragma once

#include <map>
#include <vector>

#include "klib_Types.h"
#include "tms_AbstractThread.h"
#include "tms_Mutex.h"
#include "tms_Tick.h"

namespace TMS {

// A counted reference to a registered thread, from ThreadRepository::acquireThread: while the handle holds the
// thread, the object stays alive and every member readable (name, logger, status ...), even when the thread is
// released meanwhile. A tear-down leaves the repository first (no new handle can be taken) and then waits until
// every handle is dropped, so keep handles short: one command, one message. A handle must not be held across a
// wait for the thread's own release or destruction (that wait would never end), nor by the thread's own object.
// An empty handle (nothing found, or dropped) answers the null thread, so callers can always call through it.
// Handles may be copied, moved and dropped on any thread.
class ThreadHandle
{
public:
    ThreadHandle() noexcept = default;
    ThreadHandle(const ThreadHandle& other) noexcept;
    ThreadHandle(ThreadHandle&& other) noexcept : m_thread(other.m_thread) { other.m_thread = nullptr; }
    ThreadHandle& operator=(ThreadHandle other) noexcept;
    ~ThreadHandle() { reset(); }

    // True while a thread is held.
    explicit operator bool() const noexcept { return m_thread != nullptr; }
    // The held thread, else the null thread.
    AbstractThread* get() const;
    AbstractThread* operator->() const { return get(); }
    AbstractThread& operator*() const { return *get(); }
    // Drops the reference; the handle is empty afterwards.
    void reset() noexcept;
    // Releases the held thread (AbstractThread::release) without its tear-down waiting for this handle, then
    // drops the handle. The result of release; an empty handle answers 0 (the null thread's release).
    u32 releaseThread();

private:
    friend class ThreadRepository;
    // Takes over one reference already counted on thread.
    explicit ThreadHandle(AbstractThread* thread) noexcept : m_thread(thread) {}

    AbstractThread* m_thread = nullptr;
};

// One registered thread as seen at the moment of the snapshot.
struct ThreadSnapshotEntry
{
    const char* m_name; // process-lifetime text
    AbstractThread* m_thread;
    u16 m_taskId;
    u8 m_stage;
    u32 m_status;
    u32 m_loopCount;
    u32 m_logSize;        // lines held by the thread's logger
    u32 m_shownLoopCount; // loop count shown by the previous thread list (see snapshot)
};

class ThreadRepository : public IOSTimerCallback
{
public:
    // Initialises the OS layer (tolerating an initialised one), creates the repository and starts the tick: 0.
    // 0x80000000 when the repository cannot be allocated.
    static u32 initialize();
    // Stops the tick, destroys the repository and the null thread, shuts the OS layer down: 0.
    static u32 finalize();
    static bool isInitialized();

    // No repository: 0x80000000; the null thread: 0x80000003; invalid mutex: 0x80000004. An entry under the
    // same name or task id is replaced.
    static u32 registerThread(AbstractThread* thread);
    // Erases only entries that point to this thread: 0, or 0x80000003 when none did.
    static u32 unregisterThread(AbstractThread* thread);
    // The registered thread of that name (task id), else the null thread. The pointer carries no reference: a
    // caller that uses it while the thread may be torn down takes a handle instead.
    static AbstractThread* getThread(const char* name);
    static AbstractThread* getThreadById(u16 taskId);
    // A handle holding the registered thread of that name (task id); empty when there is none.
    static ThreadHandle acquireThread(const char* name);
    static ThreadHandle acquireThreadById(u16 taskId);
    // The thread whose loop runs on the calling OS thread, else the null thread.
    static AbstractThread* getCurrentThread();
    static AbstractThread* getNullThread();
    // The registered threads in name order, taken under the mutex. With markShown, each thread's shown loop
    // count is replaced by the current one (the debug console's thread list); m_shownLoopCount holds the old value.
    // Nothing of a thread is read after the mutex is released, so a thread may end meanwhile.
    static std::vector<ThreadSnapshotEntry> snapshot(bool markShown = false);

    // Under the mutex: onTick(now) of every registered thread: 0; invalid mutex: 0x80000004.
    u32 onOSTimer() override;

private:
    struct NameLess
    {
        bool operator()(const char* a, const char* b) const;
    };

    ThreadRepository();
    ~ThreadRepository() override;

    std::map<const char*, AbstractThread*, NameLess> m_byName;
    std::map<u16, AbstractThread*> m_byTaskId;
    TMSMutex m_mutex;
};

// The thread that answers look-ups that find nothing; named "NullThread", never started.
class NullThread : public AbstractThread
{
public:
    NullThread();
    ~NullThread() override = default;

    u32 onTimer(u32, u32) override { return 0; }
    u32 initialize(u16, const char*, u16, u8, u32, u32, u32, u32, const FieldMap&) override { return 0; }
    u32 initialize(const char*, u16, u8, u32, u32, u32, u32, const FieldMap&) override { return 0; }
    u32 release() override { return 0; }
    bool isNull() const override { return true; }
    u32 start(const FieldMap&) override { return 0; }
    u32 stop(const FieldMap&) override { return 0; }
    u32 pause(const FieldMap&) override { return 0; }
    u32 setUserEvent(u32) override { return 0; }
    u32 sendMessage(const AbstractMessage&) override { return 0; }
    u32 sendMessageWithWaiting(const AbstractMessage&) override { return 0; }
    u32 onInitialize(const FieldMap&) override { return 0; }
    u32 onChangeStatus(u32, const FieldMap&) override { return 0; }
    u32 onChangeSystemInfo() override { return 0; }
    u32 onReceiveEvent(u32) override { return 0; }
    u32 onReceiveMessage(const AbstractMessage&) override { return 0; }
    u32 onAfterEvents() override { return 0; }
    u32 onFinalize() override { return 0; }
    u32 setParent(AbstractThread*) override { return 0; }
    u32 clearParent() override { return 0; }
    u32 setStatus(u32, const FieldMap&) override { return 0; }
    u32 waitStatus(u32) override { return 0; }
    u32 handleSystemMessage(const AbstractMessage&) override { return 0; }
    u32 propagateSystemInfo() override { return 0; }
    u32 removeChild(AbstractThread*) override { return 0; }
    KLIB::IHeapManager* getHeap() override;
};

namespace detail {
// Set by a thread's task entry for the life of its loop.
void setCurrentThread(AbstractThread* thread);
} // namespace detail

} // namespace TMS
