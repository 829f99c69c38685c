// Object timers: each thread owns an ObjectTimerList, served in the thread's own loop when its tick event
// arrives. An expired timer calls its observer's onTimer(timerId, count) once, however many intervals passed;
// its count and start time catch up with every interval that passed.
//
// The list is guarded by the owner's "TMSThread" mutex, which is held while observers run (it is re-entrant, so
// onTimer may set, start or remove timers of the same list). A timer removed while the list is being served is
// marked and unlinked after the walk.
#pragma once

#include <list>

#include "klib_Types.h"

namespace TMS {

class TMSMutex;

class IObjectTimerObserver
{
public:
    virtual u32 onTimer(u32 timerId, u32 count) = 0;
    virtual ~IObjectTimerObserver() = default;
};

class IObjectTimer
{
public:
    virtual u32 start() = 0;
    virtual u32 stop() = 0;
    virtual u32 restart() = 0;
    virtual u32 getId() const = 0;
    virtual u32 getCount() const = 0;
    virtual u32 getElapsedTime() const = 0;
    virtual bool isActive() const = 0;
    virtual bool isRunning() const = 0;
    virtual bool isNull() const = 0;
    virtual u32 dump() const = 0;
    virtual ~IObjectTimer() = default;
};

class ObjectTimer : public IObjectTimer
{
public:
    static constexpr u32 NO_ID = 0xFFFFFFFF;
    static constexpr u32 STATE_UNSET = 0;
    static constexpr u32 STATE_STOPPED = 1;
    static constexpr u32 STATE_RUNNING = 2;

    ObjectTimer() = default;
    ~ObjectTimer() override = default;

    // Unset: 0x80000000. Else RUNNING from now with count 0: 0.
    u32 start() override;
    // Unset: 0x80000000. Else STOPPED, start time 0, count 0: 0.
    u32 stop() override;
    u32 restart() override { return start(); }
    u32 getId() const override { return m_id; }
    u32 getCount() const override { return m_count; }
    // Clock - start time (wrapping).
    u32 getElapsedTime() const override;
    bool isActive() const override { return m_state != STATE_UNSET; }
    bool isRunning() const override { return m_state == STATE_RUNNING; }
    bool isNull() const override { return false; }
    // Prints "[id, count] m_PrevTime = start" to standard output: 0.
    u32 dump() const override;

    // Interval 0: 0x80000002 (nothing changed). Else stores the values, count 0, STOPPED: 0.
    u32 setup(u32 id, u32 intervalMs, bool oneShot, IObjectTimerObserver* observer);
    // Id stored, no observer, count 0, interval 0xFFFFFFFF, periodic, STOPPED.
    void reset(u32 id);
    // Back to unset: id 0xFFFFFFFF, interval 0, no observer, start time and count 0.
    void clear();

    // Serves the timer once (see the list's tick): 0; unset: 0x80000000.
    u32 service();

    u32 getInterval() const { return m_interval; }
    bool isOneShot() const { return m_oneShot; }
    u32 getStartTime() const { return m_startTime; }
    u32 getState() const { return m_state; }
    IObjectTimerObserver* getObserver() const { return m_observer; }

private:
    u32 m_id = NO_ID;
    u32 m_interval = 0;
    bool m_oneShot = false;
    IObjectTimerObserver* m_observer = nullptr;
    u32 m_state = STATE_UNSET;
    u32 m_startTime = 0;
    u32 m_count = 0;
};

// Returned for an id that no timer has: does nothing, id 0xFFFFFFFF, never active.
class NullObjectTimer : public IObjectTimer
{
public:
    static NullObjectTimer& instance();

    u32 start() override { return 0; }
    u32 stop() override { return 0; }
    u32 restart() override { return 0; }
    u32 getId() const override { return ObjectTimer::NO_ID; }
    u32 getCount() const override { return 0; }
    u32 getElapsedTime() const override { return 0; }
    bool isActive() const override { return false; }
    bool isRunning() const override { return false; }
    bool isNull() const override { return true; }
    u32 dump() const override { return 0; }
};

class ObjectTimerList
{
public:
    ObjectTimerList() = default;
    ~ObjectTimerList() = default;

    ObjectTimerList(const ObjectTimerList&) = delete;
    ObjectTimerList& operator=(const ObjectTimerList&) = delete;

    // Binds the list to its mutex and empties it.
    void bind(TMSMutex* mutex);

    // Every operation below answers 0x80000004 while the mutex is missing or invalid.
    // An existing timer of that id is set up again (STOPPED); otherwise a new one is appended. Interval 0 is
    // refused with 0x80000002 and changes nothing. 0x80000005 without memory.
    u32 setTimer(u32 id, u32 intervalMs, bool oneShot, IObjectTimerObserver* observer);
    // clearOnly keeps the entry and clears it; otherwise the entry is removed. 0x80000009 for an unknown id.
    u32 removeTimer(u32 id, bool clearOnly);
    // The timer of that id, or the null timer.
    IObjectTimer& getTimer(u32 id);
    // Serves every timer in list order.
    u32 tick();
    // Removes every timer.
    u32 clear();
    // Entries in the list (cleared entries count; removed ones do not).
    u32 getLength();

private:
    struct Node
    {
        ObjectTimer m_timer;
        bool m_removed = false;
    };

    bool mutexUsable() const;
    void sweep();

    TMSMutex* m_mutex = nullptr;
    std::list<Node> m_nodes;
    u32 m_walkDepth = 0;
    bool m_pendingSweep = false;
};

// The clock the object timers read: the millisecond clock unless a test replaced it.
u32 objectTimerClock();

} // namespace TMS
