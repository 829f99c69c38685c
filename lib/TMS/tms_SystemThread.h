// SystemThread: a thread that owns child threads. It starts them in stages, lowest first, each stage only when
// every child of the earlier stages runs, and releases them highest stage first. It is also the root of the
// system information: children commit to it and it hands the merged state to every child.
//
// The children are started and released from the System thread's own loop; the child list is copied under its
// mutex before it is walked, and the mutex is never held while a child is started or released.
#pragma once

#include <atomic>
#include <vector>

#include "tms_AbstractThread.h"

namespace TMS {

class SystemThread : public AbstractThread
{
public:
    static constexpr u32 CHILDREN_STARTING = 0;
    static constexpr u32 CHILDREN_STARTED = 1;
    static constexpr u32 CHILDREN_RELEASING = 2;
    static constexpr u32 CHILDREN_RELEASED = 3;

    explicit SystemThread(u32 queueCapacity);
    // Releases the children (waiting only when the caller is no thread of this system), then the thread.
    ~SystemThread() override;

    // 0x80000004 when the child mutex is invalid, else the base initialisation.
    u32 initialize(u16 taskId, const char* name, u16 priority, u8 stage, u32 stackSize, u32 heapSize, u32 logLines,
                   u32 tickInterval, const FieldMap& arguments) override;
    u32 initialize(const char* name, u16 priority, u8 stage, u32 stackSize, u32 heapSize, u32 logLines,
                   u32 tickInterval, const FieldMap& arguments) override;
    // Releases the children stage by stage in this thread's loop. From a thread that is no TMS thread it waits
    // until they are all gone and then releases this thread (result of the base release); from a TMS thread it
    // returns 0 at once and the loop ends by itself.
    u32 release() override;
    u32 onInitialize(const FieldMap& arguments) override;
    u32 onChangeStatus(u32 status, const FieldMap& arguments) override;
    u32 onChangeChildStatus() override;
    u32 handleSystemMessage(const AbstractMessage& message) override;
    u32 propagateSystemInfo() override;
    // clearParent on the child, then removes it: 0; not listed: 0x80000003; invalid mutex: 0x80000004.
    u32 removeChild(AbstractThread* child) override;

    // Null or null thread, or no registered thread of its name: 0x80000000; invalid mutex: 0x80000004; already
    // listed (or this thread itself): 0x80000003. Appends it, makes this its parent and hands it the view; the
    // start walk then goes on to it (children started already go back to starting until it runs).
    u32 addChild(AbstractThread* child);
    // Sets up both system-information copies, then propagates.
    u32 setupSystemInfo(const SystemInfoDefinition* definitions, u32 count);
    // Starts every child of that stage that is below RUN (blocking per child): 0, or 0x80000000 when one failed.
    u32 startChildThreads(u8 stage);
    // True when no child of that stage is in a status other than RUN; false when the mutex is invalid.
    bool isStageRunning(u8 stage);

    u32 getChildState() const { return m_childState.load(std::memory_order_acquire); }
    u8 getCurrentStage() const { return m_currentStage.load(std::memory_order_acquire); }
    u32 getChildCount();

private:
    // The child list, copied under the mutex (empty when it is invalid).
    std::vector<AbstractThread*> copyChildren();
    void continueStart();
    void continueRelease();
    // Steps 2 and 3 of release: highest stage, state releasing, child-status post to itself.
    void beginRelease();
    // Waits until the loop released every child. When the loop has ended without doing so, releases them from the
    // calling thread, highest stage first.
    void waitUntilReleased();
    void releaseRemainingChildren();

    std::atomic<u32> m_childState{CHILDREN_STARTING};
    std::atomic<u8> m_currentStage{0};
    std::vector<AbstractThread*> m_children;
    TMSMutex m_childMutex;
};

} // namespace TMS
