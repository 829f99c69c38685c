// The System thread: staged start, reverse release and the root of the system information.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os_Tasks.h"
#include "tms_SystemThread.h"
#include "tms_TestSupport.h"
#include "tms_ThreadRepository.h"
#include "tms_ThreadTestSupport.h"

namespace {

using TMS::AbstractMessage;
using TMS::AbstractThread;
using TMS::SystemThread;
using TMS::ThreadRepository;
using tmstest::initializeThread;
using tmstest::Latch;
using tmstest::RecordingThread;
using tmstest::waitUntil;

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new tmstest::RepositoryEnvironment());

const TMS::FieldMap& none()
{
    return AbstractMessage::emptyFields();
}

// The order in which threads of one test reached RUN and finished.
class Sequence
{
public:
    void add(const std::string& text)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_items.push_back(text);
    }
    std::vector<std::string> items(const std::string& prefix)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        std::vector<std::string> selected;
        for (const std::string& item : m_items) {
            if (item.rfind(prefix, 0) == 0) {
                selected.push_back(item.substr(prefix.size()));
            }
        }
        return selected;
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_items;
};

class StagedChild : public RecordingThread
{
public:
    explicit StagedChild(Sequence& sequence) : m_sequence(sequence) {}
    ~StagedChild() override
    {
        if (getTaskId() != TMS::NO_ID) {
            release();
        }
    }
    u32 onChangeStatus(u32 status, const TMS::FieldMap& arguments) override
    {
        if (status == TMS::STATUS_RUN) {
            m_sequence.add(std::string("run:") + getName());
        }
        return RecordingThread::onChangeStatus(status, arguments);
    }
    u32 onFinalize() override
    {
        m_sequence.add(std::string("final:") + getName());
        return RecordingThread::onFinalize();
    }

private:
    Sequence& m_sequence;
};

class TestSystem : public SystemThread
{
public:
    explicit TestSystem(Sequence* sequence = nullptr) : SystemThread(5), m_sequence(sequence) {}
    ~TestSystem() override
    {
        if (getTaskId() != TMS::NO_ID) {
            release();
        }
    }
    u32 onInitialize(const TMS::FieldMap& arguments) override
    {
        SystemThread::onInitialize(arguments);
        if (m_initializeHook) {
            m_initializeHook();
        }
        return 0;
    }
    u32 onReceiveMessage(const AbstractMessage& message) override
    {
        if (m_messageHook) {
            m_messageHook(message);
        }
        return 0;
    }
    u32 onFinalize() override
    {
        if (m_sequence != nullptr) {
            m_sequence->add("final:System");
        }
        return SystemThread::onFinalize();
    }

    std::function<void()> m_initializeHook;
    std::function<void(const AbstractMessage&)> m_messageHook;

private:
    Sequence* m_sequence;
};

TEST(SystemThread, StartsStagesInOrderAndReleasesHighestFirst)
{
    Sequence sequence;
    TestSystem system(&sequence);
    StagedChild s1(sequence);
    StagedChild s2a(sequence);
    StagedChild s2b(sequence);
    StagedChild s5(sequence);
    system.m_initializeHook = [&] {
        // Initialised and added on the System thread's own task, as the application does it.
        ASSERT_EQ(initializeThread(s5, "S5", 0, 5), 0u);
        ASSERT_EQ(initializeThread(s2b, "S2b", 0, 2), 0u);
        ASSERT_EQ(initializeThread(s1, "S1", 0, 1), 0u);
        ASSERT_EQ(initializeThread(s2a, "S2a", 0, 2), 0u);
        for (AbstractThread* child : {static_cast<AbstractThread*>(&s5), static_cast<AbstractThread*>(&s2b),
                                      static_cast<AbstractThread*>(&s1), static_cast<AbstractThread*>(&s2a)}) {
            ASSERT_EQ(system.addChild(child), 0u);
        }
    };
    ASSERT_EQ(initializeThread(system, "System"), 0u);
    ASSERT_TRUE(waitUntil([&] { return system.getChildState() == SystemThread::CHILDREN_STARTED; }, 10000));
    EXPECT_EQ(sequence.items("run:"), (std::vector<std::string>{"S1", "S2b", "S2a", "S5"}));
    ASSERT_EQ(system.start(none()), 0u);
    EXPECT_EQ(system.getChildCount(), 4u);
    EXPECT_EQ(s1.getParent(), &system);

    EXPECT_EQ(system.release(), 0u);
    EXPECT_EQ(sequence.items("final:"), (std::vector<std::string>{"S5", "S2b", "S2a", "S1", "System"}));
    for (AbstractThread* thread :
         {static_cast<AbstractThread*>(&s1), static_cast<AbstractThread*>(&s2a), static_cast<AbstractThread*>(&s2b),
          static_cast<AbstractThread*>(&s5), static_cast<AbstractThread*>(&system)}) {
        EXPECT_EQ(thread->getStatus(), TMS::STATUS_UNINITIALIZED);
        EXPECT_EQ(thread->getTaskId(), TMS::NO_ID);
        EXPECT_EQ(thread->getParent(), nullptr);
    }
    EXPECT_EQ(system.getChildCount(), 0u);
    EXPECT_EQ(system.getChildState(), SystemThread::CHILDREN_RELEASED);
    EXPECT_TRUE(ThreadRepository::snapshot().empty());
}

TEST(SystemThread, ReleaseWithoutChildrenEndsAtOnce)
{
    Sequence sequence;
    TestSystem system(&sequence);
    ASSERT_EQ(initializeThread(system, "Lonely"), 0u);
    ASSERT_EQ(system.start(none()), 0u);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(system.release(), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    EXPECT_EQ(sequence.items("final:"), (std::vector<std::string>{"System"}));
    EXPECT_EQ(system.getStatus(), TMS::STATUS_UNINITIALIZED);
}

TEST(SystemThread, AddChildRulesAndExtremeStages)
{
    Sequence sequence;
    TestSystem system(&sequence);
    StagedChild first(sequence);
    StagedChild last(sequence);
    ASSERT_EQ(initializeThread(system, "Root"), 0u);
    EXPECT_EQ(system.addChild(&first), 0x80000000u); // not initialised
    EXPECT_EQ(system.addChild(ThreadRepository::getNullThread()), 0x80000000u);
    EXPECT_EQ(system.addChild(nullptr), 0x80000000u);
    EXPECT_EQ(system.addChild(&system), 0x80000003u);
    ASSERT_EQ(initializeThread(first, "Stage0", 0, 0), 0u);
    ASSERT_EQ(initializeThread(last, "Stage255", 0, 255), 0u);
    EXPECT_EQ(system.addChild(&first), 0u);
    EXPECT_EQ(system.addChild(&first), 0x80000003u);
    EXPECT_EQ(system.addChild(&last), 0u);
    EXPECT_EQ(system.removeChild(&system), 0x80000003u);

    // Stage 0 is the System thread's own stage: it starts with the System thread, then the walk reaches 255.
    ASSERT_EQ(system.start(none()), 0u);
    ASSERT_TRUE(waitUntil([&] { return system.getChildState() == SystemThread::CHILDREN_STARTED; }));
    EXPECT_EQ(sequence.items("run:"), (std::vector<std::string>{"Stage0", "Stage255"}));
    EXPECT_EQ(system.getCurrentStage(), 255u);

    EXPECT_EQ(system.release(), 0u);
    EXPECT_EQ(sequence.items("final:"), (std::vector<std::string>{"Stage255", "Stage0", "System"}));
}

TEST(SystemThread, ChildrenBelowTheOwnStageStartAndRelease)
{
    // The System thread sits above its children: the start walk must still reach them. The highest child is
    // released by someone else before the System thread: the release walk then begins at a stage without children
    // and must still walk down to the remaining one.
    Sequence sequence;
    TestSystem system(&sequence);
    StagedChild low(sequence);
    StagedChild high(sequence);
    system.m_initializeHook = [&] {
        // Added before the System thread serves its first child-status change, as the application does it.
        ASSERT_EQ(initializeThread(low, "LowChild", 0, 3), 0u);
        ASSERT_EQ(initializeThread(high, "HighChild", 0, 7), 0u);
        ASSERT_EQ(system.addChild(&high), 0u);
        ASSERT_EQ(system.addChild(&low), 0u);
    };
    ASSERT_EQ(initializeThread(system, "HighRoot", 0, 9), 0u);
    ASSERT_EQ(system.start(none()), 0u);
    ASSERT_TRUE(waitUntil([&] { return system.getChildState() == SystemThread::CHILDREN_STARTED; }));
    EXPECT_EQ(sequence.items("run:"), (std::vector<std::string>{"LowChild", "HighChild"}));
    ASSERT_EQ(high.release(), 0u);
    EXPECT_EQ(system.getChildCount(), 1u);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(system.release(), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    EXPECT_EQ(sequence.items("final:"), (std::vector<std::string>{"HighChild", "LowChild", "System"}));
}

TEST(SystemThread, ChildrenAddedLateAreStartedToo)
{
    // Added from another thread: one child whose own start-up was over before it was listed, and one listed after
    // every child before it ran.
    Sequence sequence;
    TestSystem system(&sequence);
    StagedChild early(sequence);
    StagedChild late(sequence);
    ASSERT_EQ(initializeThread(system, "LateRoot"), 0u);
    ASSERT_EQ(initializeThread(early, "Early", 0, 1), 0u);
    ASSERT_TRUE(waitUntil([&] { return early.getStatus() == TMS::STATUS_STOP; }));
    ASSERT_EQ(system.addChild(&early), 0u);
    ASSERT_EQ(system.start(none()), 0u);
    ASSERT_TRUE(waitUntil([&] { return system.getChildState() == SystemThread::CHILDREN_STARTED; }));
    ASSERT_EQ(initializeThread(late, "Late", 0, 2), 0u);
    ASSERT_EQ(system.addChild(&late), 0u);
    EXPECT_TRUE(waitUntil([&] { return late.getStatus() == TMS::STATUS_RUN; }));
    EXPECT_TRUE(waitUntil([&] { return system.getChildState() == SystemThread::CHILDREN_STARTED; }));
    EXPECT_EQ(sequence.items("run:"), (std::vector<std::string>{"Early", "Late"}));
    EXPECT_EQ(system.release(), 0u);
    EXPECT_EQ(sequence.items("final:"), (std::vector<std::string>{"Late", "Early", "System"}));
}

TEST(SystemThread, ReleaseAfterTheLoopEndedStillReleasesTheChildren)
{
    // The loop ends through the OS layer before any release walk: the release must not wait for a walk that
    // nobody serves, and the children must not be left behind with a torn-down parent.
    Sequence sequence;
    TestSystem system(&sequence);
    StagedChild low(sequence);
    StagedChild high(sequence);
    ASSERT_EQ(initializeThread(system, "EndedRoot"), 0u);
    ASSERT_EQ(initializeThread(low, "EndedLow", 0, 1), 0u);
    ASSERT_EQ(initializeThread(high, "EndedHigh", 0, 2), 0u);
    ASSERT_EQ(system.addChild(&low), 0u);
    ASSERT_EQ(system.addChild(&high), 0u);
    ASSERT_EQ(system.start(none()), 0u);
    ASSERT_TRUE(waitUntil([&] { return system.getChildState() == SystemThread::CHILDREN_STARTED; }));
    ASSERT_EQ(ossupport::setTaskEvent(system.getTaskId(), ossupport::OS_TASK_END_BIT), 0u);
    ASSERT_TRUE(waitUntil([&] { return system.getStatus() == TMS::STATUS_DESTROY; }));

    EXPECT_EQ(system.release(), 0u);
    EXPECT_EQ(sequence.items("final:"), (std::vector<std::string>{"System", "EndedHigh", "EndedLow"}));
    for (AbstractThread* thread : {static_cast<AbstractThread*>(&low), static_cast<AbstractThread*>(&high),
                                   static_cast<AbstractThread*>(&system)}) {
        EXPECT_EQ(thread->getStatus(), TMS::STATUS_UNINITIALIZED);
        EXPECT_EQ(thread->getParent(), nullptr);
    }
    EXPECT_EQ(system.getChildCount(), 0u);
    EXPECT_TRUE(ThreadRepository::snapshot().empty());
}

// Reads and clears the marks of the watched items on each change event.
class WatchingChild : public RecordingThread
{
public:
    ~WatchingChild() override
    {
        if (getTaskId() != TMS::NO_ID) {
            release();
        }
    }
    u32 onChangeSystemInfo() override
    {
        std::string seen = "seen:";
        for (const char* item : {"PDBState", "VDPState", "EditorState"}) {
            if (isSystemInfoDirty(item, 0, true)) {
                seen += std::string(item) + ";";
            }
        }
        record(seen);
        return RecordingThread::onChangeSystemInfo();
    }
    u32 valueOf(const char* item)
    {
        KVariant value;
        return getSystemInfo(value, item, 0) == 0 ? value.getUInt() : 0xFFFFFFFF;
    }
    std::vector<std::string> seen()
    {
        std::vector<std::string> result;
        for (const std::string& text : records()) {
            if (text.rfind("seen:", 0) == 0) {
                result.push_back(text.substr(5));
            }
        }
        return result;
    }
};

bool logContains(AbstractThread& thread, const char* text)
{
    char line[TMS::ThreadLogger::LINE_SIZE];
    for (u32 i = 0; thread.getLogger().getLine(i, line, sizeof(line)) == 0; ++i) {
        if (std::strcmp(line, text) == 0) {
            return true;
        }
    }
    return false;
}

TEST(SystemThread, SystemInformationTravelsThroughTheRoot)
{
    Latch busy;
    Latch holding;
    TestSystem system;
    system.m_messageHook = [&](const AbstractMessage&) {
        holding.open();
        busy.wait();
    };
    WatchingChild a;
    WatchingChild b;
    ASSERT_EQ(initializeThread(system, "InfoRoot"), 0u);
    ASSERT_EQ(system.setupSystemInfo(TMS::SYSTEM_INFO_DEFINITIONS, TMS::SYSTEM_INFO_DEFINITION_COUNT), 0u);
    ASSERT_EQ(initializeThread(a, "InfoA"), 0u);
    ASSERT_EQ(initializeThread(b, "InfoB"), 0u);
    ASSERT_EQ(system.addChild(&a), 0u);
    ASSERT_EQ(system.addChild(&b), 0u);
    ASSERT_EQ(system.start(none()), 0u);
    // A new child starts with the root's view and one change event, every item marked.
    ASSERT_TRUE(waitUntil([&] { return a.countOf("seen:") >= 1 && b.countOf("seen:") >= 1; }));
    EXPECT_EQ(a.seen()[0], "PDBState;VDPState;EditorState;");
    EXPECT_EQ(a.valueOf("PDBState"), 0u);

    // A committed change reaches every child's view, marked.
    ASSERT_EQ(a.setSystemInfo("PDBState", 0, KVariant(2u)), 0u);
    ASSERT_EQ(a.commitSystemInfo(), 0u);
    ASSERT_TRUE(waitUntil([&] { return a.valueOf("PDBState") == 2 && b.valueOf("PDBState") == 2; }));
    ASSERT_TRUE(waitUntil([&] { return a.seen().back() == "PDBState;" && b.seen().back() == "PDBState;"; }));
    EXPECT_TRUE(logContains(system, "    [PDBState] = 2*\n"));

    // An equal commit marks nothing; every child gets the unmarked event.
    const size_t eventsBeforeA = a.countOf("seen:");
    const size_t eventsBeforeB = b.countOf("seen:");
    ASSERT_EQ(b.setSystemInfo("PDBState", 0, KVariant(2u)), 0u);
    ASSERT_EQ(b.commitSystemInfo(), 0u);
    ASSERT_TRUE(waitUntil([&] { return a.countOf("seen:") > eventsBeforeA && b.countOf("seen:") > eventsBeforeB; }));
    EXPECT_EQ(a.seen().back(), "");
    EXPECT_EQ(b.seen().back(), "");

    // Two commits made while the root is busy arrive in one change event.
    ASSERT_EQ(system.sendMessage(tmstest::userMessage("hold")), 0u);
    holding.wait();
    const size_t eventsOfA = a.countOf("seen:");
    ASSERT_EQ(a.setSystemInfo("VDPState", 0, KVariant(1u)), 0u);
    ASSERT_EQ(a.commitSystemInfo(), 0u);
    ASSERT_EQ(b.setSystemInfo("EditorState", 0, KVariant(3u)), 0u);
    ASSERT_EQ(b.commitSystemInfo(), 0u);
    busy.open();
    ASSERT_TRUE(waitUntil([&] { return a.valueOf("VDPState") == 1 && a.valueOf("EditorState") == 3; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(a.countOf("seen:"), eventsOfA + 1);
    EXPECT_EQ(a.seen().back(), "VDPState;EditorState;");

    // An unknown item is refused on commit and changes nothing.
    ASSERT_EQ(a.setSystemInfo("NoSuchItem", 0, KVariant(1u)), 0u);
    EXPECT_EQ(a.commitSystemInfo(), 0x80000000u);
    EXPECT_EQ(system.release(), 0u);
}

} // namespace
