#include "tms_AbstractThread.h"

#include <condition_variable>
#include <mutex>
#include <new>

#include "klib_Print.h"
#include "os_Clock.h"
#include "os_Tasks.h"
#include "tms_Result.h"
#include "tms_ThreadRepository.h"
#include "tms_ThreadTestHooks.h"

namespace TMS {

namespace {

constexpr u32 DEFAULT_SEND_ATTEMPTS = 100;
constexpr u32 DEFAULT_SEND_INTERVAL_MS = 100;
constexpr u32 WAIT_STEP_MS = 10;
constexpr u32 COMPLAINT_MS = 2000;
constexpr u32 EXIT_STEP_MS = 500;
constexpr u32 LINE_SIZE = 256;

std::atomic<u32> g_sendAttempts{DEFAULT_SEND_ATTEMPTS};
std::atomic<u32> g_sendIntervalMs{DEFAULT_SEND_INTERVAL_MS};

const char* const STATUS_NAMES[] = {"UNINITIALIZED", "OPENING", "STOP", "RUN", "PAUSE", "CLOSING", "CLOSED", "DESTROY"};

inline bool failed(u32 result)
{
    return (result & 0x80000000u) != 0;
}

// The logger of the calling thread, for SystemInfo::dump.
ThreadLogger* currentThreadLogger()
{
    AbstractThread* thread = ThreadRepository::getCurrentThread();
    return thread->isNull() ? nullptr : &thread->getLogger();
}

const char* textOf(const char* name)
{
    return name != nullptr ? name : "";
}

// Where tear-downs wait for the holders of their thread to let go. Never destroyed: handles may be dropped by
// late static destructors.
struct HolderWait
{
    std::mutex lock;
    std::condition_variable dropped;
    std::atomic<u32> waiting{0};
};

HolderWait& holderWait()
{
    static HolderWait* const wait = new HolderWait();
    return *wait;
}
} // namespace

void AbstractThread::dropHolder()
{
    // The count is the last access to the object: a tear-down that sees it fall may destroy the thread at once.
    m_holders.fetch_sub(1, std::memory_order_seq_cst);
    HolderWait& wait = holderWait();
    if (wait.waiting.load(std::memory_order_seq_cst) != 0) {
        {
            std::lock_guard<std::mutex> guard(wait.lock);
        }
        wait.dropped.notify_all();
    }
}

void AbstractThread::waitForHolders(bool exceptReleasers)
{
    const auto released = [this, exceptReleasers] {
        const u32 allowed = exceptReleasers ? m_releasingHolders.load(std::memory_order_seq_cst) : 0;
        return m_holders.load(std::memory_order_seq_cst) <= allowed;
    };
    if (released()) {
        return;
    }
    HolderWait& wait = holderWait();
    std::unique_lock<std::mutex> guard(wait.lock);
    wait.waiting.fetch_add(1, std::memory_order_seq_cst);
    wait.dropped.wait(guard, released);
    wait.waiting.fetch_sub(1, std::memory_order_seq_cst);
}

void testhooks::setSendRetry(u32 attempts, u32 intervalMs)
{
    g_sendAttempts.store(attempts == 0 ? 1 : attempts, std::memory_order_relaxed);
    g_sendIntervalMs.store(intervalMs, std::memory_order_relaxed);
}

void testhooks::resetSendRetry()
{
    setSendRetry(DEFAULT_SEND_ATTEMPTS, DEFAULT_SEND_INTERVAL_MS);
}

AbstractThread::AbstractThread(u32 queueCapacity)
    : m_messageMutex("TMSThreadMsg"), m_threadMutex("TMSThread"), m_queueCapacity(queueCapacity)
{
}

AbstractThread::~AbstractThread()
{
    if (getTaskId() != NO_ID) {
        release();
    }
    waitForHolders(false); // a thread torn down earlier may still be held, also by the one releasing it
}

u32 AbstractThread::onTimer(u32, u32)
{
    return 0;
}

u32 AbstractThread::initialize(u16 taskId, const char* name, u16 priority, u8 stage, u32 stackSize, u32 heapSize,
                               u32 logLines, u32 tickInterval, const FieldMap& arguments)
{
    if (taskId > 65534) {
        return RESULT_ARGUMENT;
    }
    return initializeCommon(false, taskId, name, priority, stage, stackSize, heapSize, logLines, tickInterval,
                            arguments);
}

u32 AbstractThread::initialize(const char* name, u16 priority, u8 stage, u32 stackSize, u32 heapSize, u32 logLines,
                               u32 tickInterval, const FieldMap& arguments)
{
    return initializeCommon(true, 0, name, priority, stage, stackSize, heapSize, logLines, tickInterval, arguments);
}

u32 AbstractThread::initializeCommon(bool automaticId, u16 taskId, const char* name, u16 priority, u8 stage,
                                     u32 stackSize, u32 heapSize, u32 logLines, u32 tickInterval,
                                     const FieldMap& arguments)
{
    if (name == nullptr || name[0] == '\0') {
        return RESULT_ARGUMENT;
    }
    if (getStatus() != STATUS_UNINITIALIZED || getTaskId() != NO_ID) {
        return 1;
    }
    if (!m_messageMutex.isValid() || !m_threadMutex.isValid()) {
        return RESULT_NO_MUTEX;
    }
    setCurrentThreadLoggerHook(&currentThreadLogger);

    const char* ownName = internThreadName(name);
    m_priority = priority;
    m_stage = stage;
    m_tickInterval.store(tickInterval, std::memory_order_release);
    m_name.store(ownName, std::memory_order_release);
    m_lastTick.store(0, std::memory_order_release);
    m_deferredBits = 0;
    try {
        m_startArguments = arguments;
    } catch (const std::bad_alloc&) {
        log("[E] AbstractThread[%s]::initialize - Cannot copy the start arguments!\n", ownName);
        undoInitialize();
        return RESULT_FAILED;
    }

    if (m_messages.create(&m_messageMutex, 0, m_queueCapacity) != 0) {
        log("[E] AbstractThread[%s]::initialize - Cannot create 'MessageQueue'!\n", ownName);
        undoInitialize();
        return RESULT_FAILED;
    }
    if (m_heap.prepare(ownName, heapSize) != 0) {
        log("[E] AbstractThread[%s]::initialize - Cannot prepare 'm_ThreadHeapManager'!\n", ownName);
        undoInitialize();
        return RESULT_FAILED;
    }
    if (failed(m_logger.prepare(&m_threadMutex, ownName, logLines))) {
        log("[E] AbstractThread[%s]::initialize - Cannot prepare 'm_ThreadLogger'!\n", ownName);
        undoInitialize();
        return RESULT_FAILED;
    }
    m_timers.bind(&m_threadMutex);
    m_systemInfo.bind(&m_threadMutex);
    m_sharedSystemInfo.bind(&m_threadMutex);
    m_stagedSystemInfo.clear();

    if (getUserEventFlagId() == NO_ID) {
        ossupport::EventFlagRecord record;
        record.m_attributes = ossupport::OS_FLAG_CLEAR_ON_READ;
        record.m_initialBits = 0;
        record.m_name = ownName;
        u16 flagId = 0;
        if (ossupport::createEventFlag(&flagId, &record) != ossupport::OS_OK) {
            log("[E] AbstractThread[%s]::initialize - Cannot create 'UserEventFlag'!\n", ownName);
            undoInitialize();
            return RESULT_FAILED;
        }
        m_userEventFlagId.store(flagId, std::memory_order_release);
    }

    if (getTaskId() == NO_ID) {
        ossupport::TaskRecord record;
        record.m_entry = &AbstractThread::taskEntry;
        record.m_priority = priority;
        record.m_stackSize = stackSize;
        record.m_name = ownName;
        u16 id = taskId;
        u32 result = automaticId ? ossupport::createTask(&id, &record) : ossupport::createTaskWithId(taskId, &record);
        if (result != ossupport::OS_OK) {
            log("[E] AbstractThread[%s]::initialize - Cannot create 'Task'!\n", ownName);
            undoInitialize();
            return RESULT_FAILED;
        }
        m_taskId.store(id, std::memory_order_release);
        ThreadRepository::registerThread(this);
    }

    if (ossupport::startTask(getTaskId(), this) != ossupport::OS_OK) {
        log("[E] AbstractThread[%s]::initialize - Cannot start 'Task'!\n", ownName);
        undoInitialize();
        return RESULT_FAILED;
    }
    return 0;
}

void AbstractThread::undoInitialize()
{
    u16 task = getTaskId();
    if (task != NO_ID) {
        ThreadRepository::unregisterThread(this);
        waitForHolders(true);
        ossupport::deleteTask(task);
        m_taskId.store(NO_ID, std::memory_order_release);
    }
    u16 flag = getUserEventFlagId();
    if (flag != NO_ID) {
        ossupport::deleteEventFlag(flag);
        m_userEventFlagId.store(NO_ID, std::memory_order_release);
    }
    m_timers.clear();
    m_systemInfo.clear();
    m_sharedSystemInfo.clear();
    m_stagedSystemInfo.clear();
    m_logger.release();
    m_heap.release();
    m_messages.release();
    m_startArguments.clear();
    m_name.store(nullptr, std::memory_order_release);
    m_tickInterval.store(0, std::memory_order_release);
}

unsigned AbstractThread::taskEntry(void* argument)
{
    AbstractThread* thread = static_cast<AbstractThread*>(argument);
    detail::setCurrentThread(thread);
    thread->loop();
    // The object may be gone from here on: the loop's last act was to store DESTROY.
    detail::setCurrentThread(nullptr);
    return 0;
}

bool AbstractThread::isCallerOwnTask() const
{
    return ThreadRepository::getCurrentThread() == this;
}

u32 AbstractThread::loop()
{
    u16 own = NO_ID;
    ossupport::getCurrentTaskId(&own);
    setStatus(STATUS_OPENING, m_startArguments);
    onInitialize(m_startArguments);
    if (getStatus() < STATUS_CLOSING) {
        setStatus(STATUS_STOP, m_startArguments);
    }

    while (getStatus() < STATUS_CLOSING) {
        if (m_polling.load(std::memory_order_acquire)) {
            sleep(0);
            ossupport::setTaskEvent(own, EVENT_POLL);
        }
        u32 bits = 0;
        u32 waited = ossupport::waitTaskEvent(&bits, EVENT_ALL, ossupport::OS_WAIT_FOREVER);
        bits |= m_deferredBits;
        m_deferredBits = 0;
        if (waited == ossupport::OS_E_END_REQUESTED) {
            break;
        }
        if (failed(waited)) {
            log("[E] AbstractThread[%s]::loop - cannot wait for events!\n", textOf(getName()));
            break;
        }

        u32 status = getStatus();
        if (status == STATUS_STOP || status == STATUS_PAUSE) {
            m_deferredBits |= bits & ~(EVENT_MESSAGE | EVENT_CHILD_STATUS);
            bits &= EVENT_MESSAGE | EVENT_CHILD_STATUS;
        }
        if ((bits & EVENT_USER) != 0) {
            serveUserEvents();
        }
        if ((bits & EVENT_MESSAGE) != 0 && !serveMessage(status)) {
            // In PAUSE nothing further is served after a message; the rest waits for the next pass.
            const u32 rest = bits & (EVENT_SYSTEM_INFO | EVENT_TICK | EVENT_CHILD_STATUS);
            m_deferredBits |= rest;
            bits &= ~rest;
        }
        if ((bits & EVENT_SYSTEM_INFO) != 0) {
            propagateSystemInfo();
        }
        if ((bits & EVENT_TICK) != 0) {
            m_timers.tick();
        }
        if ((bits & EVENT_CHILD_STATUS) != 0) {
            onChangeChildStatus();
        }
        if (bits != 0) {
            onAfterEvents();
        }

        status = getStatus();
        if (m_deferredBits != 0) {
            // Deferred bits that the state now serves are posted again, so they do not wait for an unrelated
            // wake-up.
            const bool restricted = status == STATUS_STOP || status == STATUS_PAUSE;
            const u32 servable = restricted ? m_deferredBits & (EVENT_MESSAGE | EVENT_CHILD_STATUS) : m_deferredBits;
            if (servable != 0) {
                m_deferredBits &= ~servable;
                ossupport::setTaskEvent(own, servable);
            }
        }
        if (status >= STATUS_CLOSING) {
            break;
        }
        m_loopCount.fetch_add(1, std::memory_order_acq_rel);
    }

    setStatus(STATUS_CLOSING, AbstractMessage::emptyFields());
    onFinalize();
    setStatus(STATUS_CLOSED, AbstractMessage::emptyFields());
    m_status.store(STATUS_DESTROY, std::memory_order_release);
    return 0;
}

void AbstractThread::serveUserEvents()
{
    u32 flags = 0;
    u32 result = ossupport::pollEventFlag(&flags, getUserEventFlagId(), 0xFFFFFFFF, ossupport::OS_MODE_OR);
    if (result != 0 && result != RESULT_NO_PATTERN) {
        log("[E] AbstractThread[%s]::loop - flag polling failed!\n", textOf(getName()));
    }
    for (u32 bit = 0; bit < 32; ++bit) {
        if ((flags & (1u << bit)) != 0) {
            onReceiveEvent(bit);
        }
    }
}

bool AbstractThread::serveMessage(u32)
{
    AbstractMessage message;
    const u32 read = m_messages.read(message);
    if (failed(read)) {
        return true;
    }
    bool goOn = true;
    if (getStatus() == STATUS_PAUSE) {
        if (message.getKind() == MESSAGE_KIND_SYSTEM) {
            handleSystemMessage(message);
        }
        goOn = false;
    } else if (message.getKind() == MESSAGE_KIND_SYSTEM) {
        handleSystemMessage(message);
    } else if (message.getKind() == MESSAGE_KIND_USER) {
        onReceiveMessage(message);
    } else {
        log("[E] AbstractThread[%s]::loop - invalid received message!\n", textOf(getName()));
    }
    if (read == ThreadMessageStream::RESULT_MORE &&
        ossupport::setTaskEvent(getTaskId(), EVENT_MESSAGE) != ossupport::OS_OK) {
        log("[E] AbstractThread[%s]::loop - cannot retry to receive remaining messages!\n", textOf(getName()));
    }
    return goOn;
}

u32 AbstractThread::handleSystemMessage(const AbstractMessage& message)
{
    const FieldMap& fields = message.getFields();
    switch (message.getCode()) {
    case REQUEST_START:
        setStatus(STATUS_RUN, fields);
        break;
    case REQUEST_STOP:
        setStatus(STATUS_STOP, fields);
        break;
    case REQUEST_PAUSE:
        if (getStatus() != STATUS_STOP) {
            setStatus(STATUS_PAUSE, fields);
        }
        break;
    case REQUEST_RELEASE:
        setStatus(STATUS_CLOSING, fields);
        break;
    default:
        break;
    }
    return 0;
}

u32 AbstractThread::setStatus(u32 status, const FieldMap& arguments)
{
    if (status > STATUS_DESTROY) {
        return RESULT_ARGUMENT;
    }
    if (status == getStatus()) {
        return 0;
    }
    if (status == STATUS_RUN) {
        m_lastTick.store(getTickCount(), std::memory_order_release);
    }
    onChangeStatus(status, arguments);
    m_status.store(status, std::memory_order_release);
    notifyChildStatus(false);
    return 0;
}

u32 AbstractThread::sendMessage(const AbstractMessage& message)
{
    const u32 kind = message.getKind();
    if (kind == MESSAGE_KIND_USER) {
        const u32 status = getStatus();
        if (status == STATUS_UNINITIALIZED || status == STATUS_OPENING) {
            return RESULT_FAILED;
        }
    } else if (kind != MESSAGE_KIND_SYSTEM) {
        return RESULT_KIND;
    }
    if (isCallerOwnTask()) {
        if (kind == MESSAGE_KIND_SYSTEM) {
            handleSystemMessage(message);
        } else {
            onReceiveMessage(message);
        }
        return 0;
    }
    if (m_messages.getState() != ThreadMessageStream::STATE_READY) {
        // No queue (not initialised or released): nobody would ever read the message.
        return RESULT_FAILED;
    }
    const u32 written = m_messages.write(message);
    if (written == 0) {
        return ossupport::setTaskEvent(getTaskId(), EVENT_MESSAGE) == ossupport::OS_OK ? 0 : RESULT_NO_MUTEX;
    }
    const char* caller = textOf(ThreadRepository::getCurrentThread()->getName());
    if (written == RESULT_FULL) {
        log("[i] AbstractThread[%s]::sendMessage (call from [%s]) - Busy!\n", textOf(getName()), caller);
    } else {
        log("[E] AbstractThread[%s]::sendMessage (call from [%s]) - Ignored!\n", textOf(getName()), caller);
    }
    return written;
}

u32 AbstractThread::sendMessageWithWaiting(const AbstractMessage& message)
{
    const u32 attempts = g_sendAttempts.load(std::memory_order_relaxed);
    const u32 interval = g_sendIntervalMs.load(std::memory_order_relaxed);
    for (u32 attempt = 0; attempt < attempts; ++attempt) {
        const u32 result = sendMessage(message);
        if (result != RESULT_FULL) {
            return result;
        }
        if (attempt + 1 < attempts) {
            sleep(interval);
        }
    }
    log("[E] AbstractThread[%s]::sendMessageWithWaiting (call from [%s]) - Busy Timeout!\n", textOf(getName()),
        textOf(ThreadRepository::getCurrentThread()->getName()));
    return RESULT_RANGE;
}

u32 AbstractThread::start(const FieldMap& arguments)
{
    SystemMessage message(REQUEST_START, arguments);
    const u32 result = sendMessageWithWaiting(message);
    if (failed(result)) {
        log("[E] AbstractThread[%s]::start - Cannot send 'start request'!\n", textOf(getName()));
        return result;
    }
    waitStatus(STATUS_RUN);
    return result;
}

u32 AbstractThread::stop(const FieldMap& arguments)
{
    SystemMessage message(REQUEST_STOP, arguments);
    const u32 result = sendMessageWithWaiting(message);
    if (failed(result)) {
        log("[E] AbstractThread[%s]::stop - Cannot send 'stop request'!\n", textOf(getName()));
        return result;
    }
    waitStatus(STATUS_STOP);
    return result;
}

u32 AbstractThread::pause(const FieldMap& arguments)
{
    SystemMessage message(REQUEST_PAUSE, arguments);
    const u32 result = sendMessageWithWaiting(message);
    if (failed(result)) {
        log("[E] AbstractThread[%s]::pause - Cannot send 'pause request'!\n", textOf(getName()));
        return result;
    }
    // A thread in STOP ignores the request, so STOP ends the wait as well.
    waitStatusEither(STATUS_PAUSE, STATUS_STOP);
    return result;
}

u32 AbstractThread::waitStatus(u32 status)
{
    return waitStatusEither(status, status);
}

u32 AbstractThread::waitStatusEither(u32 first, u32 second)
{
    // A thread that is ending or was torn down never comes back to a status before CLOSING: a thread that went
    // through RUN and on to its end between two looks would otherwise be waited for forever.
    const bool awaitsLife = first < STATUS_CLOSING && second < STATUS_CLOSING;
    auto pastReach = [&](u32 status) {
        return awaitsLife && (status >= STATUS_CLOSING || (status == STATUS_UNINITIALIZED && getTaskId() == NO_ID));
    };
    u32 current = getStatus();
    if (current == first || current == second) {
        return 0;
    }
    if (isCallerOwnTask() || pastReach(current)) {
        // Nothing could change the status while this thread waits for itself; an ending thread stays ending.
        return RESULT_RANGE;
    }
    u32 lastComplaint = getTickCount();
    for (;;) {
        sleep(WAIT_STEP_MS);
        current = getStatus();
        if (current == first || current == second) {
            return 0;
        }
        if (pastReach(current)) {
            return RESULT_RANGE;
        }
        const u32 now = getTickCount();
        if (now - lastComplaint >= COMPLAINT_MS) {
            log("[E] AbstractThread[%s]::waitStatus(%s->%s) - no response for status change!\n", textOf(getName()),
                getStatusName(current), getStatusName(first));
            lastComplaint = now;
        }
    }
}

u32 AbstractThread::release()
{
    if (isCallerOwnTask()) {
        if (getStatus() < STATUS_CLOSING) {
            setStatus(STATUS_CLOSING, AbstractMessage::emptyFields());
        }
        return RESULT_RANGE;
    }
    const u16 task = getTaskId();
    if (task == NO_ID) {
        return RESULT_FAILED;
    }
    if (getStatus() < STATUS_CLOSING) {
        SystemMessage message(REQUEST_RELEASE);
        const u32 result = sendMessageWithWaiting(message);
        if (failed(result)) {
            log("[E] AbstractThread[%s]::release - Cannot send 'release request'!\n", textOf(getName()));
            // End the loop through the OS layer instead; it leaves through CLOSING, CLOSED and DESTROY.
            ossupport::setTaskEvent(task, ossupport::OS_TASK_END_BIT);
        }
    }
    m_releaseWaiting.store(true, std::memory_order_release);
    waitStatus(STATUS_DESTROY);
    m_releaseWaiting.store(false, std::memory_order_release);
    tearDown();
    return 0;
}

void AbstractThread::tearDown()
{
    ThreadRepository::unregisterThread(this);
    // No handle can be taken any more; those held keep the thread readable until they are dropped.
    waitForHolders(true);
    m_name.store(nullptr, std::memory_order_release);
    m_tickInterval.store(0, std::memory_order_release);
    m_lastTick.store(0, std::memory_order_release);
    m_status.store(STATUS_UNINITIALIZED, std::memory_order_release);
    AbstractThread* parent = getParent();
    if (parent != nullptr) {
        parent->removeChild(this);
        m_parent.store(nullptr, std::memory_order_release);
    }
    m_messages.release();
    m_heap.release();
    m_logger.release();
    m_timers.clear();
    m_systemInfo.clear();
    m_sharedSystemInfo.clear();
    m_stagedSystemInfo.clear();
    m_startArguments.clear();
    m_deferredBits = 0;
    const u16 flag = getUserEventFlagId();
    if (flag != NO_ID) {
        ossupport::deleteEventFlag(flag);
        m_userEventFlagId.store(NO_ID, std::memory_order_release);
    }
    const u16 task = getTaskId();
    if (task != NO_ID) {
        ossupport::deleteTask(task);
        m_taskId.store(NO_ID, std::memory_order_release);
    }
}

bool AbstractThread::isNull() const
{
    return false;
}

u32 AbstractThread::setUserEvent(u32 bit)
{
    const u16 flag = getUserEventFlagId();
    if (flag == NO_ID) {
        return RESULT_FAILED;
    }
    if (bit >= 32) {
        return RESULT_ARGUMENT;
    }
    if (ossupport::setEventFlag(flag, 1u << bit) != ossupport::OS_OK) {
        return RESULT_NO_MUTEX;
    }
    if (ossupport::setTaskEvent(getTaskId(), EVENT_USER) != ossupport::OS_OK) {
        return RESULT_NO_MUTEX;
    }
    return 0;
}

u32 AbstractThread::onInitialize(const FieldMap&)
{
    log("[i] AbstractThread[%s] - onInitialize\n", textOf(getName()));
    return 0;
}

u32 AbstractThread::onChangeStatus(u32 status, const FieldMap&)
{
    log("[i] AbstractThread[%s] - onChangeStatus(%s)\n", textOf(getName()), getStatusName(status));
    return 0;
}

u32 AbstractThread::onChangeChildStatus()
{
    log("[i] AbstractThread[%s] - onChangeChildStatus()\n", textOf(getName()));
    return 0;
}

u32 AbstractThread::onChangeSystemInfo()
{
    log("[i] AbstractThread[%s] - onChangeSystemInfo\n", textOf(getName()));
    return 0;
}

u32 AbstractThread::onReceiveEvent(u32)
{
    return 0;
}

u32 AbstractThread::onReceiveMessage(const AbstractMessage& message)
{
    const int code = static_cast<int>(message.getCode());
    if (message.getKind() == MESSAGE_KIND_SYSTEM) {
        log("[i] AbstractThread[%s] - onReceiveMessage(SYS:%d)\n", textOf(getName()), code);
    } else if (message.getKind() == MESSAGE_KIND_USER) {
        log("[i] AbstractThread[%s] - onReceiveMessage(USER:%d)\n", textOf(getName()), code);
    } else {
        log("[i] AbstractThread[%s] - onReceiveMessage(Unknown:%d)\n", textOf(getName()), code);
    }
    return 0;
}

u32 AbstractThread::onAfterEvents()
{
    return 0;
}

u32 AbstractThread::onFinalize()
{
    log("[i] AbstractThread[%s] - onFinalize\n", textOf(getName()));
    return 0;
}

u32 AbstractThread::onTick(u32 now)
{
    if (getStatus() < STATUS_STOP) {
        return RESULT_FAILED;
    }
    const u32 interval = getTickInterval();
    if (interval == 0) {
        return 0;
    }
    if (now - getLastTick() < interval) {
        return 0;
    }
    m_lastTick.store(now, std::memory_order_release);
    return ossupport::setTaskEvent(getTaskId(), EVENT_TICK) == ossupport::OS_OK ? 0 : RESULT_NO_MUTEX;
}

u32 AbstractThread::setParent(AbstractThread* parent)
{
    m_parent.store(parent, std::memory_order_release);
    notifyChildStatus(false);
    postSystemInfoChanged();
    return 0;
}

u32 AbstractThread::clearParent()
{
    m_parent.store(nullptr, std::memory_order_release);
    return 0;
}

u32 AbstractThread::applySystemInfoChanges(const SystemInfoLocalData& staged)
{
    return m_systemInfo.applyChanges(staged);
}

u32 AbstractThread::copySystemInfo(const SystemInfo& from)
{
    return m_systemInfo.copyFrom(from);
}

u32 AbstractThread::applySharedSystemInfoChanges(const SystemInfoLocalData& staged)
{
    return m_sharedSystemInfo.applyChanges(staged);
}

u32 AbstractThread::copySharedSystemInfo(const SystemInfo& from)
{
    return m_sharedSystemInfo.copyFrom(from);
}

u32 AbstractThread::postSystemInfoChanged()
{
    return ossupport::setTaskEvent(getTaskId(), EVENT_SYSTEM_INFO) == ossupport::OS_OK ? 0 : RESULT_NO_MUTEX;
}

u32 AbstractThread::vlog(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    u32 result = m_logger.print(format, args);
    if (failed(result) && format != nullptr) {
        // No ring yet (or any more): the line still reaches the debug print.
        char line[LINE_SIZE];
        line[0] = '\0';
        klib_vsnprintf(line, sizeof(line), nullptr, format, copy);
        KLIB_LOG("%s", line);
    }
    va_end(copy);
    return result;
}

u32 AbstractThread::log(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    u32 result = vlog(format, args);
    va_end(args);
    return result;
}

u32 AbstractThread::notifyChildStatus(bool self)
{
    if (self) {
        return ossupport::setTaskEvent(getTaskId(), EVENT_CHILD_STATUS) == ossupport::OS_OK ? 0 : RESULT_NO_MUTEX;
    }
    AbstractThread* parent = getParent();
    if (parent == nullptr) {
        return 0;
    }
    return ossupport::setTaskEvent(parent->getTaskId(), EVENT_CHILD_STATUS) == ossupport::OS_OK ? 0 : RESULT_NO_MUTEX;
}

u32 AbstractThread::propagateSystemInfo()
{
    AbstractThread* parent = getParent();
    if (parent != nullptr) {
        m_systemInfo.copyFrom(parent->m_systemInfo);
        m_sharedSystemInfo.copyFrom(m_systemInfo);
    }
    onChangeSystemInfo();
    return 0;
}

u32 AbstractThread::removeChild(AbstractThread*)
{
    return 0;
}

KLIB::IHeapManager* AbstractThread::getHeap()
{
    return &m_heap;
}

u32 AbstractThread::getTickCount()
{
    u32 now = 0;
    ossupport::getMilliseconds(&now);
    return now;
}

u32 AbstractThread::sleep(u32 milliseconds)
{
    ossupport::sleepMilliseconds(milliseconds);
    return 0;
}

const char* AbstractThread::getStatusName(u32 status)
{
    return status <= STATUS_DESTROY ? STATUS_NAMES[status] : "??";
}

u32 AbstractThread::setExitCode(u32 code)
{
    m_exitCode.store(code, std::memory_order_release);
    return 0;
}

u32 AbstractThread::waitForExit()
{
    if (isCallerOwnTask()) {
        return RESULT_RANGE;
    }
    while (getTaskId() != NO_ID && getStatus() != STATUS_DESTROY) {
        sleep(EXIT_STEP_MS);
    }
    return getExitCode();
}

u32 AbstractThread::commitSystemInfo()
{
    AbstractThread* parent = getParent();
    AbstractThread* target = parent != nullptr ? parent : this;
    const u32 applied = target->applySharedSystemInfoChanges(m_stagedSystemInfo);
    const u32 posted = target->postSystemInfoChanged();
    m_stagedSystemInfo.clear();
    return failed(applied) || failed(posted) ? RESULT_FAILED : 0;
}

u32 AbstractThread::setSystemInfo(const char* name, u32 index, const KVariant& value)
{
    return m_stagedSystemInfo.add(name, index, value);
}

u32 AbstractThread::getSystemInfo(KVariant& out, const char* name, u32 index)
{
    return m_systemInfo.getValue(out, name, index);
}

bool AbstractThread::isSystemInfoDirty(const char* name, u32 index, bool clear)
{
    return m_systemInfo.isDirty(name, index, clear);
}

} // namespace TMS
