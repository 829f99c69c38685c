// The thread life cycle, its loop and its requests, transition by transition.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "os_Tasks.h"
#include "tms_AbstractThread.h"
#include "tms_TestSupport.h"
#include "tms_ThreadRepository.h"
#include "tms_ThreadTestHooks.h"
#include "tms_ThreadTestSupport.h"

namespace {

using TMS::AbstractMessage;
using TMS::AbstractThread;
using TMS::ThreadRepository;
using tmstest::initializeThread;
using tmstest::Latch;
using tmstest::RecordingThread;
using tmstest::userMessage;
using tmstest::waitUntil;

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new tmstest::RepositoryEnvironment());

const TMS::FieldMap& none()
{
    return AbstractMessage::emptyFields();
}

bool statusBecomes(AbstractThread& thread, u32 status)
{
    return waitUntil([&] { return thread.getStatus() == status; });
}

// True when some line of the thread's log equals text.
bool logHas(AbstractThread& thread, const char* text)
{
    char line[TMS::ThreadLogger::LINE_SIZE];
    for (u32 i = 0; thread.getLogger().getLine(i, line, sizeof(line)) == 0; ++i) {
        if (std::strcmp(line, text) == 0) {
            return true;
        }
    }
    return false;
}

TEST(ThreadLife, UserMessageRefusedWhileOpeningAcceptedInStop)
{
    Latch opening;
    RecordingThread thread;
    thread.m_initializeHook = [&] { opening.wait(); };
    ASSERT_EQ(initializeThread(thread, "Opener"), 0u);
    EXPECT_EQ(ThreadRepository::getThread("Opener"), &thread);
    ASSERT_TRUE(statusBecomes(thread, TMS::STATUS_OPENING));
    EXPECT_EQ(thread.sendMessage(userMessage("early")), 0x80000000u);
    EXPECT_EQ(initializeThread(thread, "Opener"), 1u); // already initialised

    opening.open();
    ASSERT_TRUE(statusBecomes(thread, TMS::STATUS_STOP));
    EXPECT_EQ(thread.sendMessage(userMessage("late")), 0u);
    ASSERT_TRUE(thread.waitForCount("msg:late", 1));
    EXPECT_EQ(thread.countOf("msg:early"), 0u);
    EXPECT_EQ(thread.getStatus(), TMS::STATUS_STOP);
    EXPECT_EQ(thread.release(), 0u);
    EXPECT_EQ(thread.getStatus(), TMS::STATUS_UNINITIALIZED);
    EXPECT_TRUE(ThreadRepository::getThread("Opener")->isNull());
    const std::vector<std::string> expected = {"status:OPENING", "status:STOP"};
    const std::vector<std::string> records = thread.records();
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(records.begin(), records.begin() + 2), expected);
    EXPECT_EQ(records.back(), "status:CLOSED");
}

TEST(ThreadLife, PauseDropsUserMessagesAndServesRequests)
{
    RecordingThread thread;
    ASSERT_EQ(initializeThread(thread, "Pauser"), 0u);
    ASSERT_TRUE(statusBecomes(thread, TMS::STATUS_STOP));
    // A pause request in STOP is ignored and pause does not wait for ever.
    EXPECT_EQ(thread.pause(none()), 0u);
    EXPECT_EQ(thread.getStatus(), TMS::STATUS_STOP);

    EXPECT_EQ(thread.start(none()), 0u);
    EXPECT_EQ(thread.getStatus(), TMS::STATUS_RUN);
    EXPECT_EQ(thread.pause(none()), 0u);
    EXPECT_EQ(thread.getStatus(), TMS::STATUS_PAUSE);
    EXPECT_EQ(thread.sendMessage(userMessage("dropped")), 0u);
    ASSERT_TRUE(waitUntil([&] { return thread.getMessageStream().getCount() == 0; }));
    EXPECT_EQ(thread.start(none()), 0u);
    EXPECT_EQ(thread.getStatus(), TMS::STATUS_RUN);
    EXPECT_EQ(thread.sendMessage(userMessage("served")), 0u);
    ASSERT_TRUE(thread.waitForCount("msg:served", 1));
    EXPECT_EQ(thread.countOf("msg:dropped"), 0u);
    EXPECT_EQ(thread.stop(none()), 0u);
    EXPECT_EQ(thread.getStatus(), TMS::STATUS_STOP);
    EXPECT_EQ(thread.release(), 0u);
}

TEST(ThreadLoop, UserEventsArriveInBitOrderInOnePass)
{
    Latch busy;
    Latch holding;
    RecordingThread thread;
    thread.m_messageHook = [&](const AbstractMessage&) {
        holding.open();
        busy.wait();
    };
    ASSERT_EQ(initializeThread(thread, "Events"), 0u);
    ASSERT_EQ(thread.start(none()), 0u);
    ASSERT_EQ(thread.sendMessage(userMessage("hold")), 0u);
    holding.wait();
    EXPECT_EQ(thread.setUserEvent(3), 0u);
    EXPECT_EQ(thread.setUserEvent(0), 0u);
    EXPECT_EQ(thread.setUserEvent(32), 0x80000002u);
    busy.open();
    ASSERT_TRUE(thread.waitForCount("event:", 2));
    std::vector<std::string> events;
    for (const std::string& text : thread.records()) {
        if (text.rfind("event:", 0) == 0) {
            events.push_back(text);
        }
    }
    const std::string pass = events[0].substr(events[0].find('@'));
    EXPECT_EQ(events, (std::vector<std::string>{"event:0" + pass, "event:3" + pass}));
    EXPECT_EQ(thread.release(), 0u);
    EXPECT_EQ(thread.setUserEvent(1), 0x80000000u); // no flag after release
}

TEST(ThreadLoop, QueuedMessagesAreServedOnePerPass)
{
    Latch busy;
    Latch holding;
    RecordingThread thread;
    thread.m_messageHook = [&](const AbstractMessage& message) {
        if (std::strcmp(message.getValue("CommandName").getString(), "hold") == 0) {
            holding.open();
            busy.wait();
        }
    };
    ASSERT_EQ(initializeThread(thread, "Queue"), 0u);
    ASSERT_EQ(thread.start(none()), 0u);
    ASSERT_EQ(thread.sendMessage(userMessage("hold")), 0u);
    holding.wait();
    ASSERT_EQ(thread.sendMessage(userMessage("first")), 0u);
    ASSERT_EQ(thread.sendMessage(userMessage("second")), 0u);
    busy.open();
    ASSERT_TRUE(thread.waitForCount("msg:second", 1));
    const std::vector<std::string> records = thread.records();
    std::string first;
    std::string second;
    for (const std::string& text : records) {
        if (text.rfind("msg:first@", 0) == 0) {
            first = text.substr(10);
        } else if (text.rfind("msg:second@", 0) == 0) {
            second = text.substr(11);
        }
    }
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(std::stoul(second), std::stoul(first) + 1); // the next pass, woken by the re-post
    EXPECT_EQ(thread.release(), 0u);
}

TEST(ThreadLife, RequestsOnItselfAreAppliedAtOnce)
{
    std::atomic<u32> stopResult{1};
    std::atomic<u32> statusAfterStop{0};
    std::atomic<u32> startResult{1};
    std::atomic<u32> exitResult{0};
    std::atomic<u32> releaseResult{0};
    RecordingThread thread;
    thread.m_messageHook = [&](const AbstractMessage& message) {
        const std::string command = message.getValue("CommandName").getString();
        if (command == "selfStop") {
            stopResult = thread.stop(none());
            statusAfterStop = thread.getStatus();
            startResult = thread.start(none());
            exitResult = thread.waitForExit();
        } else if (command == "selfRelease") {
            releaseResult = thread.release();
        }
    };
    ASSERT_EQ(initializeThread(thread, "Selfish"), 0u);
    ASSERT_EQ(thread.start(none()), 0u);
    ASSERT_EQ(thread.sendMessage(userMessage("selfStop")), 0u);
    ASSERT_TRUE(thread.waitForCount("msg:selfStop", 1));
    ASSERT_TRUE(waitUntil([&] { return exitResult.load() != 0; }));
    EXPECT_EQ(stopResult.load(), 0u);
    EXPECT_EQ(statusAfterStop.load(), TMS::STATUS_STOP);
    EXPECT_EQ(startResult.load(), 0u);
    EXPECT_EQ(exitResult.load(), 0x80000003u);
    EXPECT_EQ(thread.getStatus(), TMS::STATUS_RUN);

    ASSERT_EQ(thread.sendMessage(userMessage("selfRelease")), 0u);
    ASSERT_TRUE(statusBecomes(thread, TMS::STATUS_DESTROY));
    EXPECT_EQ(releaseResult.load(), 0x80000003u);
    EXPECT_EQ(thread.countOf("finalize"), 1u);
    // The thread ended by itself and stays registered until someone releases it.
    EXPECT_EQ(ThreadRepository::getThread("Selfish"), &thread);
    EXPECT_EQ(thread.release(), 0u);
    EXPECT_TRUE(ThreadRepository::getThread("Selfish")->isNull());
}

// A thread that ends on reaching RUN leaves RUN long before the starter's next look: start and stop must not wait
// for a status that cannot come any more.
TEST(ThreadLife, WaitsForAThreadThatEndedMeanwhileReturn)
{
    class EndsOnRun : public RecordingThread
    {
    public:
        u32 onChangeStatus(u32 status, const TMS::FieldMap& arguments) override
        {
            const u32 result = RecordingThread::onChangeStatus(status, arguments);
            if (status == TMS::STATUS_RUN) {
                setUserEvent(1);
            }
            return result;
        }
    };
    EndsOnRun thread;
    thread.m_eventHook = [&](u32) { thread.release(); }; // on its own task: the loop ends after this pass
    ASSERT_EQ(initializeThread(thread, "Brief"), 0u);
    auto started = std::async(std::launch::async, [&] { return thread.start(none()); });
    ASSERT_EQ(started.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(started.get(), 0u);
    ASSERT_TRUE(statusBecomes(thread, TMS::STATUS_DESTROY));
    EXPECT_EQ(thread.stop(none()), 0u); // sent; its wait ends at once
    EXPECT_EQ(thread.waitStatus(TMS::STATUS_RUN), 0x80000003u);
    EXPECT_EQ(thread.release(), 0u);
    EXPECT_EQ(thread.waitStatus(TMS::STATUS_STOP), 0x80000003u); // torn down
}

TEST(ThreadLife, ReleasedThreadCanBeInitialisedAgain)
{
    RecordingThread thread;
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(initializeThread(thread, round % 2 == 0 ? "Again" : "Renamed"), 0u);
        ASSERT_EQ(thread.start(none()), 0u);
        ASSERT_EQ(thread.sendMessage(userMessage("hello")), 0u);
        ASSERT_TRUE(thread.waitForCount("msg:hello", static_cast<size_t>(round) + 1));
        ASSERT_EQ(thread.release(), 0u);
        EXPECT_EQ(thread.getName(), nullptr);
        EXPECT_EQ(thread.getTaskId(), TMS::NO_ID);
        EXPECT_EQ(thread.getUserEventFlagId(), TMS::NO_ID);
    }
    // Nothing is there to release any more, and requests are refused instead of retried.
    EXPECT_EQ(thread.release(), 0x80000000u);
    EXPECT_EQ(thread.start(none()), 0x80000000u);
}

TEST(ThreadLoop, EventDeferredInStopIsServedPromptlyAfterStart)
{
    RecordingThread thread;
    ASSERT_EQ(initializeThread(thread, "Deferred", 0), 0u); // no ticks that could wake it
    ASSERT_TRUE(statusBecomes(thread, TMS::STATUS_STOP));
    ASSERT_EQ(thread.setUserEvent(5), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(thread.countOf("event:5"), 0u); // STOP defers user events
    ASSERT_EQ(thread.start(none()), 0u);
    EXPECT_TRUE(thread.waitForCount("event:5", 1, 1000));
    EXPECT_EQ(thread.release(), 0u);
}

TEST(ThreadLoop, ChildStatusChangeDuringPauseIsNotLost)
{
    Latch busy;
    Latch holding;
    std::atomic<int> childCalls{0};
    RecordingThread parent;
    parent.m_childHook = [&] {
        if (++childCalls == 1) {
            holding.open();
            busy.wait();
        }
    };
    RecordingThread child;
    ASSERT_EQ(initializeThread(parent, "PausedParent"), 0u);
    ASSERT_EQ(initializeThread(child, "PausedChild"), 0u);
    ASSERT_EQ(parent.start(none()), 0u);
    ASSERT_EQ(parent.pause(none()), 0u);
    ASSERT_TRUE(statusBecomes(child, TMS::STATUS_STOP));
    child.setParent(&parent); // first child-status change: the parent holds in its handler
    holding.wait();
    // A message and a second child-status change arrive in the parent's next pass together.
    ASSERT_EQ(parent.sendMessage(userMessage("dropped")), 0u);
    ASSERT_EQ(child.start(none()), 0u);
    busy.open();
    EXPECT_TRUE(waitUntil([&] { return childCalls.load() >= 2; }, 2000));
    EXPECT_EQ(parent.getStatus(), TMS::STATUS_PAUSE);
    EXPECT_EQ(parent.countOf("msg:dropped"), 0u);
    child.clearParent();
    EXPECT_EQ(child.release(), 0u);
    EXPECT_EQ(parent.release(), 0u);
}

TEST(ThreadLife, FailingInitialisationLeavesNothingBehind)
{
    RecordingThread noQueue(0);
    EXPECT_EQ(initializeThread(noQueue, "NoQueue"), 0x80000000u);
    EXPECT_TRUE(ThreadRepository::getThread("NoQueue")->isNull());
    EXPECT_EQ(noQueue.getTaskId(), TMS::NO_ID);
    EXPECT_EQ(noQueue.getUserEventFlagId(), TMS::NO_ID);
    EXPECT_EQ(noQueue.getStatus(), TMS::STATUS_UNINITIALIZED);
    EXPECT_EQ(noQueue.initialize("", 0, 0, 20000, 20000, 100, 0, none()), 0x80000002u);
    EXPECT_EQ(noQueue.initialize(65535, "Big", 0, 0, 20000, 20000, 100, 0, none()), 0x80000002u);

    // The second thread asks for a task id that is taken: its flag, queue and registration are undone.
    RecordingThread first;
    RecordingThread second;
    ASSERT_EQ(first.initialize(40, "Holder", 0, 0, 20000, 20000, 100, 0, none()), 0u);
    EXPECT_EQ(second.initialize(40, "Clash", 0, 0, 20000, 20000, 100, 0, none()), 0x80000000u);
    EXPECT_TRUE(ThreadRepository::getThread("Clash")->isNull());
    EXPECT_EQ(ThreadRepository::getThreadById(40), &first);
    EXPECT_EQ(second.getUserEventFlagId(), TMS::NO_ID);
    EXPECT_EQ(second.getName(), nullptr);
    EXPECT_EQ(second.sendMessage(userMessage("x")), 0x80000000u);

    // The same object initialises later without trouble.
    ASSERT_EQ(second.initialize(41, "Clash", 0, 0, 20000, 20000, 100, 0, none()), 0u);
    ASSERT_EQ(second.start(none()), 0u);
    EXPECT_EQ(ThreadRepository::getThreadById(41), &second);
    EXPECT_EQ(second.release(), 0u);
    EXPECT_EQ(first.release(), 0u);
}

class RetryTest : public ::testing::Test
{
protected:
    void SetUp() override { TMS::testhooks::setSendRetry(5, 10); }
    void TearDown() override { TMS::testhooks::resetSendRetry(); }
};

TEST_F(RetryTest, FullQueueTimesOutAndReleaseStillEndsTheThread)
{
    Latch busy;
    Latch holding;
    RecordingThread thread(1);
    thread.m_messageHook = [&](const AbstractMessage&) {
        holding.open();
        busy.wait();
    };
    ASSERT_EQ(initializeThread(thread, "Busy"), 0u);
    ASSERT_EQ(thread.start(none()), 0u);
    ASSERT_EQ(thread.sendMessage(userMessage("hold")), 0u);
    holding.wait();
    ASSERT_EQ(thread.sendMessage(userMessage("fills")), 0u);
    EXPECT_EQ(thread.sendMessage(userMessage("busy")), 0x80000008u);
    EXPECT_EQ(thread.sendMessageWithWaiting(userMessage("waits")), 0x80000003u);
    EXPECT_TRUE(logHas(thread, "[i] AbstractThread[Busy]::sendMessage (call from [NullThread]) - Busy!\n"));
    EXPECT_TRUE(
        logHas(thread, "[E] AbstractThread[Busy]::sendMessageWithWaiting (call from [NullThread]) - Busy Timeout!\n"));

    // The release request cannot be queued either: the task is ended through the OS layer once the handler
    // returns, and the thread is still torn down completely.
    std::thread opener([&] {
        waitUntil([&] { return thread.isReleaseWaiting(); }, 5000);
        busy.open();
    });
    EXPECT_EQ(thread.release(), 0u);
    opener.join();
    EXPECT_EQ(thread.getStatus(), TMS::STATUS_UNINITIALIZED);
    EXPECT_EQ(thread.countOf("finalize"), 1u);
    EXPECT_TRUE(ThreadRepository::getThread("Busy")->isNull());
}

TEST_F(RetryTest, ReleaseOfAnEndedThreadWithFullQueueCleansUpAtOnce)
{
    RecordingThread thread(1);
    thread.m_messageHook = [&](const AbstractMessage&) { thread.release(); };
    ASSERT_EQ(initializeThread(thread, "Ended"), 0u);
    ASSERT_EQ(thread.start(none()), 0u);
    ASSERT_EQ(thread.sendMessage(userMessage("end")), 0u);
    ASSERT_TRUE(statusBecomes(thread, TMS::STATUS_DESTROY));
    ASSERT_EQ(thread.sendMessage(userMessage("fills")), 0u); // nobody reads it any more
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(thread.release(), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    EXPECT_TRUE(ThreadRepository::getThread("Ended")->isNull());
}

TEST_F(RetryTest, TwoTimersSendingToEachOthersFullQueueDoNotDeadlock)
{
    // Each thread sends from its onTimer (its own "TMSThread" held) into the other's full queue; the "Busy!"
    // lines go into the other's log. Both sends must time out instead of blocking each other for good.
    Latch aInTimer;
    Latch bInTimer;
    Latch go;
    constexpr u32 PENDING = 1;
    std::atomic<u32> aResult{PENDING};
    std::atomic<u32> bResult{PENDING};
    RecordingThread a(1);
    RecordingThread b(1);
    a.m_timerHook = [&](u32, u32) {
        aInTimer.open();
        go.wait();
        aResult = b.sendMessageWithWaiting(userMessage("fromA"));
    };
    b.m_timerHook = [&](u32, u32) {
        bInTimer.open();
        go.wait();
        bResult = a.sendMessageWithWaiting(userMessage("fromB"));
    };
    ASSERT_EQ(initializeThread(a, "CrossA", 10), 0u);
    ASSERT_EQ(initializeThread(b, "CrossB", 10), 0u);
    ASSERT_EQ(a.getTimers().setTimer(1, 1, true, &a), 0u);
    ASSERT_EQ(b.getTimers().setTimer(1, 1, true, &b), 0u);
    ASSERT_EQ(a.getTimers().getTimer(1).start(), 0u);
    ASSERT_EQ(b.getTimers().getTimer(1).start(), 0u);
    ASSERT_EQ(a.start(none()), 0u);
    ASSERT_EQ(b.start(none()), 0u);
    aInTimer.wait();
    bInTimer.wait();
    ASSERT_EQ(a.sendMessage(userMessage("fillsA")), 0u);
    ASSERT_EQ(b.sendMessage(userMessage("fillsB")), 0u);
    go.open();
    ASSERT_TRUE(waitUntil([&] { return aResult.load() != PENDING && bResult.load() != PENDING; }, 5000));
    // The first to give up returns to its loop and drains its queue, so the other may then get through.
    for (u32 result : {aResult.load(), bResult.load()}) {
        EXPECT_TRUE(result == 0x80000003u || result == 0u) << result;
    }
    EXPECT_TRUE(aResult.load() == 0x80000003u || bResult.load() == 0x80000003u);
    EXPECT_TRUE(logHas(b, "[i] AbstractThread[CrossB]::sendMessage (call from [CrossA]) - Busy!\n"));
    EXPECT_TRUE(logHas(a, "[i] AbstractThread[CrossA]::sendMessage (call from [CrossB]) - Busy!\n"));
    EXPECT_EQ(a.release(), 0u);
    EXPECT_EQ(b.release(), 0u);
}

TEST(ThreadTick, TimersRunOnTheThreadsTickSteps)
{
    RecordingThread thread;
    ASSERT_EQ(initializeThread(thread, "Ticker", 50), 0u);
    ASSERT_EQ(thread.getTimers().setTimer(1, 1, false, &thread), 0u);
    ASSERT_EQ(thread.getTimers().getTimer(1).start(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(thread.countOf("timer:"), 0u); // ticks wait in STOP
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(thread.start(none()), 0u);
    // Twenty tick steps span at least 950 ms.
    EXPECT_TRUE(thread.waitForCount("timer:", 20, 20000));
    ASSERT_EQ(thread.stop(none()), 0u); // ticks are deferred in STOP: the timer is no longer served
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    const size_t calls = thread.countOf("timer:");
    const u32 count = thread.getTimers().getTimer(1).getCount();
    EXPECT_EQ(thread.release(), 0u);
    // At most one tick event per 50 ms reaches the timers; the 1 ms timer's count catches up regardless.
    EXPECT_LE(calls, static_cast<size_t>(spent.count() / 50 + 2));
    EXPECT_GE(count, 900u);
}

TEST(ThreadMessages, SenderOutlivesTheSendingThread)
{
    Latch busy;
    Latch holding;
    RecordingThread receiver;
    std::string senderSeen;
    std::atomic<bool> seen{false};
    receiver.m_messageHook = [&](const AbstractMessage& message) {
        const std::string command = message.getValue("CommandName").getString();
        if (command == "hold") {
            holding.open();
            busy.wait();
        } else if (command == "fromWorker") {
            senderSeen = message.getSender();
            seen = true;
        }
    };
    AbstractMessage kept;
    auto sender = std::make_unique<RecordingThread>();
    sender->m_messageHook = [&](const AbstractMessage&) {
        AbstractMessage message = userMessage("fromWorker");
        kept = message;
        message.sendTo("Receiver");
    };
    ASSERT_EQ(initializeThread(receiver, "Receiver"), 0u);
    ASSERT_EQ(receiver.start(none()), 0u);
    ASSERT_EQ(receiver.sendMessage(userMessage("hold")), 0u);
    holding.wait();
    std::string name = "Worker";
    name += "7"; // a name that is no literal
    ASSERT_EQ(initializeThread(*sender, name.c_str()), 0u);
    name.assign("overwritten");
    ASSERT_EQ(sender->start(none()), 0u);
    ASSERT_EQ(sender->sendMessage(userMessage("go")), 0u);
    ASSERT_TRUE(waitUntil([&] { return receiver.getMessageStream().getCount() == 1; }));
    ASSERT_EQ(sender->release(), 0u);
    sender.reset();
    busy.open();
    ASSERT_TRUE(waitUntil([&] { return seen.load(); }));
    EXPECT_EQ(senderSeen, "Worker7");
    EXPECT_STREQ(kept.getSender(), "Worker7");
    EXPECT_EQ(receiver.release(), 0u);
}

TEST(ThreadLife, DefaultHandlersLogTheirLines)
{
    AbstractThread thread(3);
    ASSERT_EQ(initializeThread(thread, "Plain"), 0u);
    ASSERT_EQ(thread.start(none()), 0u);
    ASSERT_EQ(thread.sendMessage(userMessage("x")), 0u);
    ASSERT_TRUE(waitUntil([&] { return logHas(thread, "[i] AbstractThread[Plain] - onReceiveMessage(USER:0)\n"); }));
    EXPECT_TRUE(logHas(thread, "[i] AbstractThread[Plain] - onInitialize\n"));
    EXPECT_TRUE(logHas(thread, "[i] AbstractThread[Plain] - onChangeStatus(OPENING)\n"));
    EXPECT_TRUE(logHas(thread, "[i] AbstractThread[Plain] - onChangeStatus(RUN)\n"));
    AbstractMessage invalid;
    EXPECT_EQ(thread.sendMessage(invalid), 0x80000006u);
    EXPECT_STREQ(AbstractThread::getStatusName(8), "??");
    EXPECT_STREQ(AbstractThread::getStatusName(TMS::STATUS_DESTROY), "DESTROY");
    // The base thread has no handlers of a derived class, so its own destructor may release it.
}

TEST(ThreadLife, WaitForExitReturnsTheExitCode)
{
    RecordingThread thread;
    thread.m_messageHook = [&](const AbstractMessage&) {
        thread.setExitCode(1);
        thread.release();
    };
    ASSERT_EQ(initializeThread(thread, "Exiting"), 0u);
    ASSERT_EQ(thread.start(none()), 0u);
    ASSERT_EQ(thread.sendMessage(userMessage("quit")), 0u);
    EXPECT_EQ(thread.waitForExit(), 1u);
    EXPECT_EQ(thread.getStatus(), TMS::STATUS_DESTROY);
    EXPECT_EQ(thread.release(), 0u);
}

} // namespace
