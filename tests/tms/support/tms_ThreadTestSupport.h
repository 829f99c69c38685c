// Helpers of the thread suites: the repository environment, a latch and a thread that records what its loop did.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tms_AbstractThread.h"
#include "tms_SystemThread.h"
#include "tms_ThreadRepository.h"
#include "tms_ThreadTestHooks.h"

namespace tmstest {

// ThreadRepository::initialize before the suite, finalize after it.
class RepositoryEnvironment : public ::testing::Environment
{
public:
    void SetUp() override;
    void TearDown() override;
};

// A one-shot gate: wait() blocks until open().
class Latch
{
public:
    void open();
    void wait();
    bool isOpen();

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_open = false;
};

// A hook a test may set while the thread that calls it runs: setting and taking the function share a lock, and the
// call itself runs outside it (hooks may block on purpose).
template <typename Signature> class Hook;
template <typename... Args> class Hook<void(Args...)>
{
public:
    Hook& operator=(std::function<void(Args...)> function)
    {
        auto kept = function ? std::make_shared<const std::function<void(Args...)>>(std::move(function)) : nullptr;
        std::lock_guard<std::mutex> guard(m_lock);
        m_function = std::move(kept);
        return *this;
    }
    explicit operator bool() const { return current() != nullptr; }
    void operator()(Args... arguments) const
    {
        if (const auto function = current()) {
            (*function)(arguments...);
        }
    }

private:
    std::shared_ptr<const std::function<void(Args...)>> current() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_function;
    }

    mutable std::mutex m_lock;
    std::shared_ptr<const std::function<void(Args...)>> m_function;
};

// The sizes every test thread uses: 20000-byte stack and heap, 100 log lines.
u32 initializeThread(TMS::AbstractThread& thread, const char* name, u32 tickInterval = 0, u8 stage = 0);

// A thread that records its handler calls as texts ("status:RUN", "event:3", "msg:ping@7" with the loop count,
// "child", "sysinfo", "timer:1:4", "finalize") and runs optional hooks on its own task. A call is recorded as its
// hook starts, so records and countOf see it before anything the hook does; waitForCount counts a call only once
// its hook has returned, so a wait for a record also sees what the hook did. A test that must know that the thread
// is inside a hook has the hook tell it.
class RecordingThread : public TMS::AbstractThread
{
public:
    explicit RecordingThread(u32 queueCapacity = 5) : TMS::AbstractThread(queueCapacity) {}
    ~RecordingThread() override;

    Hook<void()> m_initializeHook;
    Hook<void(const TMS::AbstractMessage&)> m_messageHook;
    Hook<void(u32)> m_eventHook;
    Hook<void()> m_childHook;
    Hook<void()> m_systemInfoHook;
    Hook<void(u32, u32)> m_timerHook;

    u32 onInitialize(const TMS::FieldMap& arguments) override;
    u32 onChangeStatus(u32 status, const TMS::FieldMap& arguments) override;
    u32 onChangeChildStatus() override;
    u32 onChangeSystemInfo() override;
    u32 onReceiveEvent(u32 bit) override;
    u32 onReceiveMessage(const TMS::AbstractMessage& message) override;
    u32 onFinalize() override;
    u32 onTimer(u32 timerId, u32 count) override;

    void record(const std::string& text);
    std::vector<std::string> records();
    // Number of records that start with prefix, those whose hook still runs included.
    size_t countOf(const std::string& prefix);
    // Waits until n records that start with prefix are in and their hooks have returned.
    bool waitForCount(const std::string& prefix, size_t n, int timeoutMs = 30000);

private:
    struct Record
    {
        std::string m_text;
        bool m_done; // its hook has returned
    };

    // Records a call whose hook is about to run; finish marks the hook as returned.
    size_t begin(const std::string& text);
    void finish(size_t entry);
    size_t count(const std::string& prefix, bool doneOnly);

    std::mutex m_lock;
    std::vector<Record> m_records;
};

// A System thread whose initialise hook runs on its own task before its start walk can begin: a test makes and adds
// its children there, as the application does, so that the walk sees every child (children added from another
// thread may miss a walk that already found all the earlier ones running). Released by its destructor.
class HookedSystemThread : public TMS::SystemThread
{
public:
    explicit HookedSystemThread(u32 queueCapacity = 1) : TMS::SystemThread(queueCapacity) {}
    ~HookedSystemThread() override;

    u32 onInitialize(const TMS::FieldMap& arguments) override;

    Hook<void()> m_initializeHook;
};

// Sets the send retry of every thread for its scope; the defaults come back also when an assertion ends the test.
class SendRetryScope
{
public:
    SendRetryScope(u32 attempts, u32 intervalMs) { TMS::testhooks::setSendRetry(attempts, intervalMs); }
    ~SendRetryScope() { TMS::testhooks::resetSendRetry(); }
    SendRetryScope(const SendRetryScope&) = delete;
    SendRetryScope& operator=(const SendRetryScope&) = delete;
};

// A user message "CommandName" = command, from the calling thread.
TMS::AbstractMessage userMessage(const char* command);

} // namespace tmstest
