// AbstractThread: the base of every thread. One ossupport task runs one event loop that waits on the task's
// event word and serves, in this order: user events, one queued message, a system-information change, a timer
// tick and a child's status change. The base owns the life cycle (eight states), the message queue, a heap, a
// log ring, the object timers and two system-information copies, and offers blocking start, stop, pause and
// release requests that other threads call.
//
// A derived class must call release() in its own destructor (or before it is destroyed) when it overrides any
// handler: the base destructor releases as well, but by then the derived handlers are gone.
//
// The tear-down (release from another thread, or the destructor) waits, once the thread has left the repository,
// until no ThreadHandle holds it any more (tms_ThreadRepository.h), so a holder may use the object to the end.
#pragma once

#include <atomic>
#include <cstdarg>

#include "klib_HeapManager.h"
#include "klib_Types.h"
#include "tms_Message.h"
#include "tms_MessageStream.h"
#include "tms_Mutex.h"
#include "tms_ObjectTimer.h"
#include "tms_SystemInfo.h"
#include "tms_ThreadHeapManager.h"
#include "tms_ThreadLogger.h"

namespace TMS {

class ThreadHandle;
class ThreadRepository;

// Thread states.
constexpr u32 STATUS_UNINITIALIZED = 0;
constexpr u32 STATUS_OPENING = 1;
constexpr u32 STATUS_STOP = 2;
constexpr u32 STATUS_RUN = 3;
constexpr u32 STATUS_PAUSE = 4;
constexpr u32 STATUS_CLOSING = 5;
constexpr u32 STATUS_CLOSED = 6;
constexpr u32 STATUS_DESTROY = 7;

// Task event bits of the loop.
constexpr u32 EVENT_END = 0x10000;
constexpr u32 EVENT_POLL = 0x20000;
constexpr u32 EVENT_USER = 0x40000;
constexpr u32 EVENT_MESSAGE = 0x80000;
constexpr u32 EVENT_SYSTEM_INFO = 0x100000;
constexpr u32 EVENT_TICK = 0x200000;
constexpr u32 EVENT_CHILD_STATUS = 0x400000;
constexpr u32 EVENT_ALL = 0x7E0000;

constexpr u16 NO_ID = 0xFFFF;

class AbstractThread : public IObjectTimerObserver
{
public:
    // Constructs the members and creates the mutexes "TMSThreadMsg" and "TMSThread".
    explicit AbstractThread(u32 queueCapacity);
    // Releases the thread when a task exists, then destroys the members (the mutexes last).
    ~AbstractThread() override;

    AbstractThread(const AbstractThread&) = delete;
    AbstractThread& operator=(const AbstractThread&) = delete;

    u32 onTimer(u32 timerId, u32 count) override;

    // Common initialisation with the given task id (1..49; above 65534: 0x80000002) or an automatic one.
    // Null or empty name: 0x80000002; not UNINITIALIZED: 1; a mutex invalid: 0x80000004. A failing step is
    // logged, everything made so far is undone and the result is 0x80000000. The name is copied.
    virtual u32 initialize(u16 taskId, const char* name, u16 priority, u8 stage, u32 stackSize, u32 heapSize,
                           u32 logLines, u32 tickInterval, const FieldMap& arguments);
    virtual u32 initialize(const char* name, u16 priority, u8 stage, u32 stackSize, u32 heapSize, u32 logLines,
                           u32 tickInterval, const FieldMap& arguments);
    // Ends the loop and tears the thread down; the object can then be initialised again. Called on itself it only
    // moves the thread to CLOSING and returns 0x80000003 (the tear-down needs another thread). Without a task:
    // 0x80000000. When the request cannot be queued the task is ended through the OS end request.
    virtual u32 release();
    // True while release (on another thread) waits for the loop to end.
    bool isReleaseWaiting() const { return m_releaseWaiting.load(std::memory_order_acquire); }
    virtual bool isNull() const;
    // Requests and waits for RUN / STOP / PAUSE. pause returns once the thread is in PAUSE or STOP (a thread in
    // STOP ignores the request). Called on itself the request is applied at once.
    virtual u32 start(const FieldMap& arguments);
    virtual u32 stop(const FieldMap& arguments);
    virtual u32 pause(const FieldMap& arguments);
    // No flag: 0x80000000; bit above 31: 0x80000002; a failed set or post: 0x80000004.
    virtual u32 setUserEvent(u32 bit);
    // Kind 1 always, kind 2 only from STOP on (else 0x80000000), other kinds 0x80000006; every kind 0x80000000
    // while the thread is UNINITIALIZED. To itself the message is handled at once (a system message applied).
    // Full queue: 0x80000008 and a "Busy!" line.
    virtual u32 sendMessage(const AbstractMessage& message);
    // Retries a full queue (100 x 100 ms); after the last busy attempt: "Busy Timeout!" and 0x80000003.
    virtual u32 sendMessageWithWaiting(const AbstractMessage& message);

    virtual u32 onInitialize(const FieldMap& arguments);
    virtual u32 onChangeStatus(u32 status, const FieldMap& arguments);
    virtual u32 onChangeChildStatus();
    virtual u32 onChangeSystemInfo();
    virtual u32 onReceiveEvent(u32 bit);
    virtual u32 onReceiveMessage(const AbstractMessage& message);
    virtual u32 onAfterEvents();
    virtual u32 onFinalize();
    // Called by the repository's tick: posts the timer-tick event when tickInterval has elapsed.
    virtual u32 onTick(u32 now);
    virtual u32 loop();
    virtual u32 setParent(AbstractThread* parent);
    virtual u32 clearParent();
    virtual u32 applySystemInfoChanges(const SystemInfoLocalData& staged);
    virtual u32 copySystemInfo(const SystemInfo& from);
    virtual u32 applySharedSystemInfoChanges(const SystemInfoLocalData& staged);
    virtual u32 copySharedSystemInfo(const SystemInfo& from);
    virtual u32 postSystemInfoChanged();
    virtual u32 setStatus(u32 status, const FieldMap& arguments);
    // Waits (10 ms steps, a complaint every 2000 ms) until the status is reached: 0. Called on itself for a
    // status that is not reached, or for a status before CLOSING while the thread is ending or torn down:
    // 0x80000003.
    virtual u32 waitStatus(u32 status);
    virtual u32 log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    virtual u32 notifyChildStatus(bool self);
    virtual u32 handleSystemMessage(const AbstractMessage& message);
    virtual u32 propagateSystemInfo();
    virtual u32 removeChild(AbstractThread* child);
    // The heap of the thread (the null thread answers the global heap).
    virtual KLIB::IHeapManager* getHeap();

    static u32 getTickCount();
    static u32 sleep(u32 milliseconds);
    static const char* getStatusName(u32 status);

    u32 setExitCode(u32 code);
    // Waits (500 ms steps) until the thread reached DESTROY (or is uninitialised) and returns the exit code.
    // Called on itself: 0x80000003.
    u32 waitForExit();

    // System information of this thread (see tms_SystemInfo.h).
    u32 commitSystemInfo();
    u32 setSystemInfo(const char* name, u32 index, const KVariant& value);
    u32 getSystemInfo(KVariant& out, const char* name, u32 index);
    bool isSystemInfoDirty(const char* name, u32 index, bool clear);

    // Object timers of this thread.
    ObjectTimerList& getTimers() { return m_timers; }
    ThreadLogger& getLogger() { return m_logger; }
    ThreadMessageStream& getMessageStream() { return m_messages; }

    const char* getName() const { return m_name.load(std::memory_order_acquire); }
    u32 getStatus() const { return m_status.load(std::memory_order_acquire); }
    u8 getStage() const { return m_stage; }
    u16 getTaskId() const { return m_taskId.load(std::memory_order_acquire); }
    u16 getUserEventFlagId() const { return m_userEventFlagId.load(std::memory_order_acquire); }
    AbstractThread* getParent() const { return m_parent.load(std::memory_order_acquire); }
    u32 getLoopCount() const { return m_loopCount.load(std::memory_order_acquire); }
    u32 getTickInterval() const { return m_tickInterval.load(std::memory_order_acquire); }
    u32 getLastTick() const { return m_lastTick.load(std::memory_order_acquire); }
    u32 getExitCode() const { return m_exitCode.load(std::memory_order_acquire); }
    u32 getQueueCapacity() const { return m_queueCapacity; }
    // The loop count last shown by the debug console's thread list: returns it and stores shown.
    u32 exchangeShownLoopCount(u32 shown) { return m_shownLoopCount.exchange(shown, std::memory_order_acq_rel); }
    void setPolling(bool polling) { m_polling.store(polling, std::memory_order_release); }

    // True when the caller runs on this thread's own task.
    bool isCallerOwnTask() const;

protected:
    SystemInfo& getSystemInfoView() { return m_systemInfo; }
    SystemInfo& getSharedSystemInfo() { return m_sharedSystemInfo; }
    // Stores the name pointer as it is (for threads that are never initialised).
    void storeName(const char* name) { m_name.store(name, std::memory_order_release); }
    // Stores the status without onChangeStatus or notification.
    void storeStatus(u32 status) { m_status.store(status, std::memory_order_release); }
    const FieldMap& getStartArguments() const { return m_startArguments; }

private:
    friend class ThreadHandle;
    friend class ThreadRepository;

    // Counted references of thread handles: taken under the repository's mutex while the thread is registered.
    void addHolder() { m_holders.fetch_add(1, std::memory_order_seq_cst); }
    // Drops one reference; the object is not touched afterwards.
    void dropHolder();
    // Waits until no handle holds the thread (with exceptReleasers: except those whose holders release it through
    // them).
    void waitForHolders(bool exceptReleasers);

    u32 initializeCommon(bool automaticId, u16 taskId, const char* name, u16 priority, u8 stage, u32 stackSize,
                         u32 heapSize, u32 logLines, u32 tickInterval, const FieldMap& arguments);
    // Undoes a failed initialisation.
    void undoInitialize();
    // Tears down after the loop has ended: unregister, clean up, delete the flag and the task.
    void tearDown();
    u32 request(u32 code, u32 awaited, const FieldMap& arguments, const char* what);
    // Waits until the status is one of the two (10 ms steps, complaints every 2000 ms).
    u32 waitStatusEither(u32 first, u32 second);
    u32 vlog(const char* format, va_list args);
    void serveUserEvents();
    // Serves one queued message; returns false when the rest of the pass is to be deferred (PAUSE).
    bool serveMessage(u32 statusAtStart);

    static unsigned taskEntry(void* argument);

    // The mutexes first: destroyed last.
    TMSMutex m_messageMutex;
    TMSMutex m_threadMutex;

    std::atomic<const char*> m_name{nullptr};
    std::atomic<bool> m_releaseWaiting{false};
    std::atomic<u32> m_tickInterval{0};
    FieldMap m_startArguments;
    std::atomic<u32> m_lastTick{0};
    std::atomic<u32> m_status{STATUS_UNINITIALIZED};
    std::atomic<bool> m_polling{false};
    std::atomic<AbstractThread*> m_parent{nullptr};
    u32 m_queueCapacity;
    ThreadMessageStream m_messages;
    ThreadHeapManager m_heap;
    ThreadLogger m_logger;
    ObjectTimerList m_timers;
    SystemInfo m_systemInfo;
    SystemInfo m_sharedSystemInfo;
    SystemInfoLocalData m_stagedSystemInfo;
    std::atomic<u16> m_userEventFlagId{NO_ID};
    std::atomic<u16> m_taskId{NO_ID};
    u16 m_priority = 0;
    u8 m_stage = 0;
    std::atomic<u32> m_loopCount{0};
    std::atomic<u32> m_shownLoopCount{0};
    std::atomic<u32> m_exitCode{0};
    u32 m_deferredBits = 0;                 // loop only
    std::atomic<u32> m_holders{0};          // thread handles holding the object
    std::atomic<u32> m_releasingHolders{0}; // of those, the ones releasing the thread through their handle
};

} // namespace TMS
