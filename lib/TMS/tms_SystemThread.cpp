#include "tms_SystemThread.h"

#include <algorithm>
#include <new>

#include "tms_Result.h"
#include "tms_ThreadRepository.h"

namespace TMS {

namespace {
constexpr u32 WAIT_STEP_MS = 10;
constexpr u32 COMPLAINT_MS = 2000;
constexpr u8 LAST_STAGE = 255;

inline bool failed(u32 result)
{
    return (result & 0x80000000u) != 0;
}

const char* textOf(const char* name)
{
    return name != nullptr ? name : "";
}

bool callerIsPlainThread()
{
    return ThreadRepository::getCurrentThread()->isNull();
}
} // namespace

SystemThread::SystemThread(u32 queueCapacity) : AbstractThread(queueCapacity), m_childMutex("TMSMutex") {}

SystemThread::~SystemThread()
{
    if (getTaskId() == NO_ID) {
        return;
    }
    if (getChildState() != CHILDREN_RELEASED) {
        beginRelease();
    }
    if (callerIsPlainThread()) {
        // Torn down here, while this object is still whole: the loop may still be running its last handlers
        // (also when the children are gone already), and they are this class's.
        waitUntilReleased();
        AbstractThread::release();
    }
}

u32 SystemThread::initialize(u16 taskId, const char* name, u16 priority, u8 stage, u32 stackSize, u32 heapSize,
                             u32 logLines, u32 tickInterval, const FieldMap& arguments)
{
    if (!m_childMutex.isValid()) {
        return RESULT_NO_MUTEX;
    }
    return AbstractThread::initialize(taskId, name, priority, stage, stackSize, heapSize, logLines, tickInterval,
                                      arguments);
}

u32 SystemThread::initialize(const char* name, u16 priority, u8 stage, u32 stackSize, u32 heapSize, u32 logLines,
                             u32 tickInterval, const FieldMap& arguments)
{
    if (!m_childMutex.isValid()) {
        return RESULT_NO_MUTEX;
    }
    return AbstractThread::initialize(name, priority, stage, stackSize, heapSize, logLines, tickInterval, arguments);
}

std::vector<AbstractThread*> SystemThread::copyChildren()
{
    std::vector<AbstractThread*> copy;
    if (!m_childMutex.isValid()) {
        return copy;
    }
    TMSMutexLocker locker(&m_childMutex);
    try {
        copy = m_children;
    } catch (const std::bad_alloc&) {
        copy.clear();
    }
    return copy;
}

u32 SystemThread::getChildCount()
{
    if (!m_childMutex.isValid()) {
        return 0;
    }
    TMSMutexLocker locker(&m_childMutex);
    return static_cast<u32>(m_children.size());
}

void SystemThread::beginRelease()
{
    if (m_childMutex.isValid()) {
        TMSMutexLocker locker(&m_childMutex);
        u8 highest = getCurrentStage();
        for (AbstractThread* child : m_children) {
            highest = std::max(highest, child->getStage());
        }
        m_currentStage.store(highest, std::memory_order_release);
    }
    m_childState.store(CHILDREN_RELEASING, std::memory_order_release);
    notifyChildStatus(true);
}

void SystemThread::waitUntilReleased()
{
    u32 lastComplaint = getTickCount();
    while (getChildState() != CHILDREN_RELEASED) {
        if (getStatus() == STATUS_DESTROY) {
            // The loop ended without releasing the children (ended through the OS layer or by a plain release
            // request): nothing would ever serve the walk, so the children are released from here.
            releaseRemainingChildren();
            return;
        }
        sleep(WAIT_STEP_MS);
        const u32 now = getTickCount();
        if (now - lastComplaint >= COMPLAINT_MS) {
            log("[E] SystemThread[%s]::release() - no response for status change!\n", textOf(getName()));
            lastComplaint = now;
        }
    }
}

void SystemThread::releaseRemainingChildren()
{
    std::vector<AbstractThread*> children = copyChildren();
    std::stable_sort(children.begin(), children.end(),
                     [](AbstractThread* a, AbstractThread* b) { return a->getStage() > b->getStage(); });
    bool first = true;
    u8 stage = 0;
    for (AbstractThread* child : children) {
        if (first || child->getStage() != stage) {
            first = false;
            stage = child->getStage();
            log("[i] SystemThread[%s]::releaseChildThreads - (stage = %d)\n", textOf(getName()),
                static_cast<int>(stage));
        }
        const char* childName = textOf(child->getName());
        log("[i] SystemThread[%s]::releaseChildThreads - %s\n", textOf(getName()), childName);
        if (failed(child->release())) {
            log("[E] SystemThread[%s]::releaseChildThreads - Cannot release thread[%s]!\n", textOf(getName()),
                childName);
            removeChild(child);
        }
    }
    m_childState.store(CHILDREN_RELEASED, std::memory_order_release);
}

u32 SystemThread::release()
{
    if (getChildState() == CHILDREN_RELEASED) {
        // The children are gone and the loop ends by itself; a plain caller still gets the thread torn down.
        if (callerIsPlainThread() && getTaskId() != NO_ID) {
            return AbstractThread::release();
        }
        return 0;
    }
    if (getTaskId() == NO_ID) {
        return RESULT_FAILED;
    }
    beginRelease();
    if (!callerIsPlainThread()) {
        return 0;
    }
    waitUntilReleased();
    return AbstractThread::release();
}

u32 SystemThread::onInitialize(const FieldMap& arguments)
{
    u32 result = AbstractThread::onInitialize(arguments);
    m_currentStage.store(getStage(), std::memory_order_release);
    return result;
}

u32 SystemThread::onChangeStatus(u32 status, const FieldMap& arguments)
{
    u32 result = AbstractThread::onChangeStatus(status, arguments);
    if (status == STATUS_RUN) {
        startChildThreads(getCurrentStage());
    }
    return result;
}

u32 SystemThread::handleSystemMessage(const AbstractMessage& message)
{
    return AbstractThread::handleSystemMessage(message);
}

u32 SystemThread::onChangeChildStatus()
{
    u32 result = AbstractThread::onChangeChildStatus();
    switch (getChildState()) {
    case CHILDREN_STARTING:
        continueStart();
        break;
    case CHILDREN_RELEASING:
        continueRelease();
        break;
    default:
        break;
    }
    return result;
}

void SystemThread::continueStart()
{
    u8 stage = getCurrentStage();
    if (!isStageRunning(stage)) {
        return; // the stage is still coming up
    }
    const std::vector<AbstractThread*> children = copyChildren();
    const bool allRunning = std::all_of(children.begin(), children.end(),
                                        [](AbstractThread* child) { return child->getStatus() == STATUS_RUN; });
    if (allRunning) {
        // A release requested meanwhile (from another thread) keeps its state.
        u32 starting = CHILDREN_STARTING;
        m_childState.compare_exchange_strong(starting, CHILDREN_STARTED, std::memory_order_acq_rel);
        return;
    }
    // The lowest stage that is not running yet. Walking up from the current stage finds the same one, except for
    // children below it (below the System thread's own stage), which would otherwise never start.
    u8 lowestOpen = LAST_STAGE;
    for (AbstractThread* child : children) {
        if (child->getStatus() != STATUS_RUN) {
            lowestOpen = std::min(lowestOpen, child->getStage());
        }
    }
    if (lowestOpen < stage) {
        stage = lowestOpen;
    } else {
        while (stage < LAST_STAGE && isStageRunning(stage)) {
            ++stage;
        }
    }
    m_currentStage.store(stage, std::memory_order_release);
    startChildThreads(stage);
}

void SystemThread::continueRelease()
{
    // A start walk that was still running when the release began may have lowered the current stage; the walk
    // down always begins at the highest stage with a child that is not closed yet.
    u8 stage = getCurrentStage();
    for (AbstractThread* child : copyChildren()) {
        if (child->getStatus() < STATUS_CLOSED) {
            stage = std::max(stage, child->getStage());
        }
    }
    m_currentStage.store(stage, std::memory_order_release);
    log("[i] SystemThread[%s]::releaseChildThreads - (stage = %d)\n", textOf(getName()), static_cast<int>(stage));
    bool releasedAny = false;
    for (AbstractThread* child : copyChildren()) {
        if (child->getStage() != stage || child->getStatus() >= STATUS_CLOSING) {
            continue;
        }
        const char* childName = textOf(child->getName());
        log("[i] SystemThread[%s]::releaseChildThreads - %s\n", textOf(getName()), childName);
        if (failed(child->release())) {
            log("[E] SystemThread[%s]::releaseChildThreads - Cannot release thread[%s]!\n", textOf(getName()),
                childName);
        }
        releasedAny = true;
    }

    const std::vector<AbstractThread*> remaining = copyChildren();
    const bool allClosed = std::all_of(remaining.begin(), remaining.end(),
                                       [](AbstractThread* child) { return child->getStatus() >= STATUS_CLOSED; });
    if (allClosed) {
        m_childState.store(CHILDREN_RELEASED, std::memory_order_release);
        storeStatus(STATUS_CLOSING); // the loop ends after this pass
        return;
    }

    // Walk down (never below 0) to the highest stage that still has an open child.
    u8 next = stage;
    for (;;) {
        const bool open = std::any_of(remaining.begin(), remaining.end(), [next](AbstractThread* child) {
            return child->getStage() >= next && child->getStatus() < STATUS_CLOSED;
        });
        if (open || next == 0) {
            break;
        }
        --next;
    }
    m_currentStage.store(next, std::memory_order_release);

    // Released children report their closing themselves. When this pass released nothing and no child is on its
    // way to CLOSED, nothing else would wake the walk, so it wakes itself.
    const bool inTransit = std::any_of(remaining.begin(), remaining.end(),
                                       [](AbstractThread* child) { return child->getStatus() == STATUS_CLOSING; });
    if (!releasedAny && !inTransit) {
        notifyChildStatus(true);
    }
}

u32 SystemThread::propagateSystemInfo()
{
    AbstractThread* parent = getParent();
    if (parent != nullptr) {
        const u32 copied = parent->copySharedSystemInfo(getSharedSystemInfo());
        const u32 posted = parent->postSystemInfoChanged();
        return copied | posted;
    }
    copySystemInfo(getSharedSystemInfo());
    getSystemInfoView().dump(true);
    onChangeSystemInfo();
    if (m_childMutex.isValid()) {
        TMSMutexLocker locker(&m_childMutex);
        for (AbstractThread* child : m_children) {
            child->postSystemInfoChanged();
        }
    }
    return 0;
}

u32 SystemThread::removeChild(AbstractThread* child)
{
    if (child == nullptr) {
        return RESULT_RANGE;
    }
    child->clearParent();
    if (!m_childMutex.isValid()) {
        return RESULT_NO_MUTEX;
    }
    TMSMutexLocker locker(&m_childMutex);
    auto found = std::find(m_children.begin(), m_children.end(), child);
    if (found == m_children.end()) {
        return RESULT_RANGE;
    }
    m_children.erase(found);
    return 0;
}

u32 SystemThread::addChild(AbstractThread* child)
{
    if (child == nullptr || child->isNull()) {
        return RESULT_FAILED;
    }
    const char* name = child->getName();
    if (name == nullptr || !ThreadRepository::acquireThread(name)) {
        return RESULT_FAILED;
    }
    if (!m_childMutex.isValid()) {
        return RESULT_NO_MUTEX;
    }
    if (child == this) {
        return RESULT_RANGE;
    }
    TMSMutexLocker locker(&m_childMutex);
    if (std::find(m_children.begin(), m_children.end(), child) != m_children.end()) {
        return RESULT_RANGE;
    }
    try {
        m_children.push_back(child);
    } catch (const std::bad_alloc&) {
        return RESULT_NO_MEMORY;
    }
    child->setParent(this);
    child->copySystemInfo(getSystemInfoView());
    child->copySharedSystemInfo(getSystemInfoView());
    child->postSystemInfoChanged();
    // The start walk reaches a child added late too: one whose own status changes came before it was listed, and
    // one added after every child listed before it ran.
    u32 started = CHILDREN_STARTED;
    m_childState.compare_exchange_strong(started, CHILDREN_STARTING, std::memory_order_acq_rel);
    notifyChildStatus(true);
    return 0;
}

u32 SystemThread::setupSystemInfo(const SystemInfoDefinition* definitions, u32 count)
{
    u32 result = getSystemInfoView().setup(definitions, count);
    if (failed(result)) {
        return result;
    }
    result = getSharedSystemInfo().setup(definitions, count);
    if (failed(result)) {
        return result;
    }
    propagateSystemInfo();
    return 0;
}

u32 SystemThread::startChildThreads(u8 stage)
{
    log("[i] SystemThread[%s]::startChildThreads - (stage = %d)\n", textOf(getName()), static_cast<int>(stage));
    u32 result = 0;
    for (AbstractThread* child : copyChildren()) {
        if (child->getStage() != stage || child->getStatus() >= STATUS_RUN) {
            continue;
        }
        const char* childName = textOf(child->getName());
        log("[i] SystemThread[%s]::startChildThreads - %s\n", textOf(getName()), childName);
        if (failed(child->start(AbstractMessage::emptyFields()))) {
            log("[E] SystemThread[%s]::startChildThreads - Cannot start thread[%s]!\n", textOf(getName()), childName);
            result = RESULT_FAILED;
        }
    }
    return result;
}

bool SystemThread::isStageRunning(u8 stage)
{
    if (!m_childMutex.isValid()) {
        return false;
    }
    TMSMutexLocker locker(&m_childMutex);
    for (AbstractThread* child : m_children) {
        if (child->getStage() == stage && child->getStatus() != STATUS_RUN) {
            return false;
        }
    }
    return true;
}

} // namespace TMS
