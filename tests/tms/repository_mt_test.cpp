// The thread repository, the null thread and the OS tick. Each test brings the repository up and down itself.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "klib_HeapManager.h"
#include "tms_TestSupport.h"
#include "tms_ThreadRepository.h"
#include "tms_ThreadTestSupport.h"
#include "tms_Tick.h"

namespace {

using TMS::AbstractMessage;
using TMS::AbstractThread;
using TMS::ThreadRepository;
using tmstest::initializeThread;
using tmstest::RecordingThread;
using tmstest::waitUntil;

class RepositoryTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(ThreadRepository::initialize(), 0u); }
    void TearDown() override { ThreadRepository::finalize(); }
};

// Counts the ticks the repository hands to it.
class CountingThread : public RecordingThread
{
public:
    ~CountingThread() override
    {
        if (getTaskId() != TMS::NO_ID) {
            release();
        }
    }
    u32 onTick(u32 now) override
    {
        ++m_ticks;
        return RecordingThread::onTick(now);
    }
    std::atomic<u32> m_ticks{0};
};

TEST_F(RepositoryTest, NullThreadAnswersMissingThreads)
{
    AbstractThread* unknown = ThreadRepository::getThread("Unknown");
    ASSERT_NE(unknown, nullptr);
    EXPECT_TRUE(unknown->isNull());
    EXPECT_STREQ(unknown->getName(), "NullThread");
    EXPECT_EQ(ThreadRepository::getThreadById(77), unknown);
    EXPECT_EQ(ThreadRepository::getCurrentThread(), unknown);
    EXPECT_EQ(ThreadRepository::getThread(nullptr), unknown);
    EXPECT_EQ(ThreadRepository::registerThread(unknown), 0x80000003u);
    EXPECT_EQ(ThreadRepository::unregisterThread(unknown), 0x80000003u);

    // Its operations do nothing and succeed, so callers can always call through.
    EXPECT_EQ(unknown->sendMessageWithWaiting(tmstest::userMessage("x")), 0u);
    EXPECT_EQ(unknown->start(AbstractMessage::emptyFields()), 0u);
    EXPECT_EQ(unknown->release(), 0u);
    EXPECT_EQ(tmstest::userMessage("y").sendTo("Nobody"), 0u);

    // Its heap is the global heap, so plain threads asking for the current heap get memory.
    KLIB::IHeapManager* heap = ThreadRepository::getCurrentThread()->getHeap();
    EXPECT_EQ(heap, KLIB::getHeapManager(0));
    void* block = heap->allocate(64, false, "test");
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(heap->deallocate(block, false), 0u);
}

TEST_F(RepositoryTest, DuplicateNameKeepsTheLiveThreadReachable)
{
    CountingThread first;
    CountingThread second;
    ASSERT_EQ(initializeThread(first, "Dup", 10), 0u);
    ASSERT_EQ(initializeThread(second, "Dup", 10), 0u);
    EXPECT_EQ(ThreadRepository::getThread("Dup"), &second);
    EXPECT_EQ(ThreadRepository::getThreadById(first.getTaskId()), &first);
    // Both still receive the tick.
    EXPECT_TRUE(waitUntil([&] { return first.m_ticks.load() > 3 && second.m_ticks.load() > 3; }));

    const u16 secondTask = second.getTaskId();
    ASSERT_EQ(first.release(), 0u);
    EXPECT_EQ(ThreadRepository::getThread("Dup"), &second);
    EXPECT_EQ(ThreadRepository::getThreadById(secondTask), &second);
    EXPECT_EQ(ThreadRepository::unregisterThread(&first), 0x80000003u); // nothing of it is left
    ASSERT_EQ(second.start(AbstractMessage::emptyFields()), 0u);
    EXPECT_EQ(tmstest::userMessage("reach").sendTo("Dup"), 0u);
    EXPECT_TRUE(second.waitForCount("msg:reach", 1));
    ASSERT_EQ(second.release(), 0u);
    EXPECT_TRUE(ThreadRepository::getThread("Dup")->isNull());
}

TEST_F(RepositoryTest, SnapshotListsThreadsInNameOrder)
{
    RecordingThread b;
    RecordingThread a;
    ASSERT_EQ(initializeThread(b, "Beta", 0, 2), 0u);
    ASSERT_EQ(initializeThread(a, "Alpha", 0, 1), 0u);
    const std::vector<TMS::ThreadSnapshotEntry> entries = ThreadRepository::snapshot();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_STREQ(entries[0].m_name, "Alpha");
    EXPECT_EQ(entries[0].m_thread, &a);
    EXPECT_EQ(entries[0].m_stage, 1u);
    EXPECT_STREQ(entries[1].m_name, "Beta");
    EXPECT_EQ(entries[1].m_taskId, b.getTaskId());
    EXPECT_EQ(a.exchangeShownLoopCount(5), 0u);
    EXPECT_EQ(a.exchangeShownLoopCount(9), 5u);
    ASSERT_EQ(a.release(), 0u);
    ASSERT_EQ(b.release(), 0u);
    EXPECT_TRUE(ThreadRepository::snapshot().empty());
}

// A handle keeps its thread readable while it is released: the tear-down leaves the repository at once (no new
// handle) and waits for the handle before it takes the thread apart. A copy counts as a holder of its own, and a
// handle that releases its thread is not waited for.
TEST_F(RepositoryTest, AHeldHandleKeepsATornDownThreadReadableUntilDropped)
{
    auto thread = std::make_unique<RecordingThread>();
    ASSERT_EQ(initializeThread(*thread, "Held"), 0u);
    thread->log("kept line\n");
    TMS::ThreadHandle handle = ThreadRepository::acquireThread("Held");
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle.get(), thread.get());
    EXPECT_EQ(ThreadRepository::acquireThreadById(thread->getTaskId()).get(), thread.get());
    TMS::ThreadHandle copy = handle;

    std::atomic<bool> released{false};
    std::thread releaser([&] {
        thread->release();
        thread.reset();
        released = true;
    });
    EXPECT_TRUE(waitUntil([] { return !ThreadRepository::acquireThread("Held"); }));
    EXPECT_TRUE(ThreadRepository::getThread("Held")->isNull());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(released.load());
    EXPECT_STREQ(handle->getName(), "Held");
    // The thread's own status lines share the ring: the line is one of them.
    bool kept = false;
    char line[TMS::ThreadLogger::LINE_SIZE] = {};
    for (u32 i = 0; i < handle->getLogger().getCount(); ++i) {
        kept = kept || (handle->getLogger().getLine(i, line, sizeof(line)) == 0 && std::string(line) == "kept line\n");
    }
    EXPECT_TRUE(kept);

    handle.reset();
    EXPECT_FALSE(handle);
    EXPECT_TRUE(handle->isNull()); // an empty handle answers the null thread
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(released.load());
    EXPECT_STREQ(copy->getName(), "Held");
    copy = TMS::ThreadHandle();
    releaser.join();
    EXPECT_TRUE(released.load());

    // Releasing through the handle: the tear-down does not wait for the releasing handle itself.
    RecordingThread other;
    ASSERT_EQ(initializeThread(other, "Other"), 0u);
    TMS::ThreadHandle releasing = ThreadRepository::acquireThread("Other");
    EXPECT_EQ(releasing.releaseThread(), 0u);
    EXPECT_FALSE(releasing);
    EXPECT_EQ(other.getStatus(), TMS::STATUS_UNINITIALIZED);
    EXPECT_EQ(TMS::ThreadHandle().releaseThread(), 0u);
}

TEST(RepositoryLife, NoTickRunsAfterFinalize)
{
    for (int round = 0; round < 5; ++round) {
        ASSERT_EQ(ThreadRepository::initialize(), 0u);
        EXPECT_TRUE(TMS::OSTick::isRunning());
        {
            CountingThread thread;
            ASSERT_EQ(initializeThread(thread, "Cycle", 10), 0u);
            ASSERT_TRUE(waitUntil([&] { return thread.m_ticks.load() > 1; }));
            ASSERT_EQ(thread.release(), 0u);
            const u32 ticks = thread.m_ticks.load();
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            EXPECT_EQ(thread.m_ticks.load(), ticks); // unregistered: no more ticks
        }
        ASSERT_EQ(ThreadRepository::finalize(), 0u);
        EXPECT_FALSE(TMS::OSTick::isRunning());
        EXPECT_FALSE(ThreadRepository::isInitialized());
        EXPECT_EQ(ThreadRepository::registerThread(ThreadRepository::getNullThread()), 0x80000000u);
    }
}

class CountingCallback : public TMS::IOSTimerCallback
{
public:
    u32 onOSTimer() override
    {
        ++m_calls;
        return 0;
    }
    std::atomic<u32> m_calls{0};
};

TEST(OSTick, StopsCompletelyAndRefusesASecondTick)
{
    CountingCallback callback;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(TMS::OSTick::start(10, &callback), 0u);
    EXPECT_EQ(TMS::OSTick::start(10, &callback), 0x80000000u);
    // The tick does not stall ...
    EXPECT_TRUE(tmstest::waitUntil([&] { return callback.m_calls.load() >= 10; }));
    EXPECT_EQ(TMS::OSTick::stop(), 0u);
    const u32 calls = callback.m_calls.load();
    // ... nor burst: at most one call per period that passed.
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LE(calls, static_cast<u32>(spent.count() / 10 + 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_EQ(callback.m_calls.load(), calls);
    EXPECT_EQ(TMS::OSTick::stop(), 0x80000000u);
    EXPECT_EQ(TMS::OSTick::start(0, &callback), 0x80000000u);
    EXPECT_EQ(TMS::OSTick::start(10, nullptr), 0x80000000u);
}

} // namespace
