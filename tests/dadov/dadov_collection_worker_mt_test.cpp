// The audio component collection with registered threads that the test steps one call at a time (Worker).
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dadov_AudioComponentCollection.h"
#include "dadov_AudioComponentDLLRepository.h"
#include "dadov_AudioConfigDB.h"
#include "dadov_TestSupport.h"
#include "logic_LogicComponentCollection.h"
#include "logic_TestSupport.h"
#include "os_Tasks.h"

namespace {

using namespace DADOV;
using logictest::code;

constexpr i32 FAILED = code(0x80000000);
constexpr u32 NUM_X = 2;
constexpr u32 NUM_Y = 2;
// A TestMixer instance holds four plug-in objects; the repository holds one per type.
constexpr i32 OBJECTS_PER_INSTANCE = 4;

std::string format(const char* pattern, u64 identity, u32 uid = 0)
{
    char text[160];
    std::snprintf(text, sizeof(text), pattern, static_cast<int>(static_cast<u32>(identity)), static_cast<int>(uid));
    return text;
}

std::vector<u32> uidsOf(const AudioComponentCollection::ComponentList& list)
{
    std::vector<u32> uids;
    for (const AudioComponent* component : list) {
        uids.push_back(component->getUniqID());
    }
    return uids;
}

// A std::thread that runs what the test hands it, one call at a time, so the test decides when it updates. It
// registers with a callback that only raises a flag.
class Worker : public IAudioComponentCallback
{
public:
    Worker() : m_thread([this] { loop(); }) {}
    ~Worker() override
    {
        // Whatever happened in the test, the thread lets go of its components, so finalize does not wait for it.
        (void)run([] { return AudioComponentCollection::getInstance().endByThread(); }, true);
        m_thread.join();
    }

    void onChangeAudioComponents() override { m_notified.store(true); }
    bool takeNotified() { return m_notified.exchange(false); }

    i32 run(const std::function<i32()>& call, bool last = false)
    {
        std::unique_lock<std::mutex> hold(m_mutex);
        m_call = call;
        m_stop = last;
        m_pending = true;
        m_changed.notify_all();
        m_changed.wait(hold, [this] { return !m_pending; });
        return m_result;
    }
    i32 begin(void* context = nullptr)
    {
        return run([this, context] { return AudioComponentCollection::getInstance().beginByThread(this, context); });
    }
    i32 update()
    {
        return run([] { return AudioComponentCollection::getInstance().updateByThread(); });
    }
    i32 end()
    {
        return run([] { return AudioComponentCollection::getInstance().endByThread(); });
    }
    std::vector<u32> uids()
    {
        std::vector<u32> out;
        (void)run([&out] {
            out = uidsOf(AudioComponentCollection::getInstance().getComponentList());
            return 0;
        });
        return out;
    }
    u64 identity()
    {
        u64 out = 0;
        (void)run([&out] {
            out = ossupport::getCurrentThreadIdentity();
            return 0;
        });
        return out;
    }

private:
    void loop()
    {
        for (;;) {
            std::unique_lock<std::mutex> hold(m_mutex);
            m_changed.wait(hold, [this] { return m_pending; });
            m_result = m_call();
            m_pending = false;
            const bool stop = m_stop;
            m_changed.notify_all();
            if (stop) {
                return;
            }
        }
    }

    std::atomic<bool> m_notified{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::function<i32()> m_call;
    bool m_pending = false;
    bool m_stop = false;
    i32 m_result = 0;
    std::thread m_thread;
};

class CollectionTest : public ::testing::Test, public IAudioComponentCallback
{
protected:
    static void SetUpTestSuite()
    {
        logictest::startOsLayer();
        dadovtest::createDatabases(11);
        (void)LogicCtrl::LogicComponentCollection::getInstance().initialize();
        (void)AudioConfigDB::getInstance().initialize();
        s_folder = new dadovtest::PluginFolder();
        s_folder->add("TestMixer_2.dll");
        s_folder->add("NullCoef_1.dll");
        s_folder->add("BadJson_1.dll");
    }
    static void TearDownTestSuite()
    {
        delete s_folder;
        s_folder = nullptr;
    }

    void SetUp() override
    {
        ASSERT_EQ(collection().initialize(s_folder->path().c_str(), AudioComponentCollection::DEFAULT_MAX_THREADS), 0);
        ASSERT_NE(probe(), nullptr);
        probe()->inPorts = 3;
        probe()->outPorts = 2;
    }
    void TearDown() override
    {
        if (probe() != nullptr) {
            EXPECT_EQ(collection().finalize(), 0);
        }
    }

    void onChangeAudioComponents() override {}

    static AudioComponentCollection& collection() { return AudioComponentCollection::getInstance(); }
    static TestPluginProbe* probe(const char* key = "TestMixer_2")
    {
        return dadovtest::probeOf(AudioComponentDLLRepository::getInstance().findType(key));
    }
    // Live TestMixer instances, from the plug-in's own object count.
    static i32 liveInstances() { return (probe()->liveObjects - 1) / OBJECTS_PER_INSTANCE; }
    static i32 add(u32 uid) { return collection().addComponent("TestMixer", 2, uid, NUM_X, NUM_Y); }
    static std::vector<u32> ownUids() { return uidsOf(collection().getComponentList()); }

    static dadovtest::PluginFolder* s_folder;
};

dadovtest::PluginFolder* CollectionTest::s_folder = nullptr;

// Outside initialize and finalize every operation fails at once; finalize leaves a collection that initialize
// starts again, with its lines.
TEST_F(CollectionTest, OperationsNeedAnInitialisedCollection)
{
    ASSERT_EQ(add(1), 0);
    EXPECT_EQ(collection().initialize(s_folder->path().c_str(), 4), FAILED);
    testing::internal::CaptureStdout();
    EXPECT_EQ(collection().finalize(), 0);
    EXPECT_EQ(collection().finalize(), 0);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(logictest::countOf(log, "[i] AudioComponentCollection::finalize - AUDIOCOMPO_DB() finalized.\n"), 1u);
    EXPECT_TRUE(AudioComponentDLLRepository::getInstance().getTypeKeys().empty());

    std::vector<AudioConnection> connections{{1, 0, 2, 0}};
    EXPECT_EQ(add(1), FAILED);
    EXPECT_EQ(collection().reqRemoveComponent(1), FAILED);
    EXPECT_EQ(collection().reqRemoveAllComponents(), FAILED);
    EXPECT_EQ(collection().addConnection(1, 0, 2, 0), FAILED);
    EXPECT_EQ(collection().removeConnection(1, 0, 2, 0), FAILED);
    EXPECT_EQ(collection().getConnections(connections), FAILED);
    EXPECT_EQ(connections.size(), 1u);
    EXPECT_EQ(collection().applyConnections(connections), FAILED);
    EXPECT_EQ(collection().findComponent(1), nullptr);
    EXPECT_TRUE(collection().getComponentList().empty());
    EXPECT_EQ(collection().beginByThread(this), FAILED);
    EXPECT_EQ(collection().updateByThread(), FAILED);
    EXPECT_EQ(collection().endByThread(), FAILED);

    EXPECT_EQ(collection().initialize("/nonexistent-folder/", 4), FAILED);
    testing::internal::CaptureStdout();
    EXPECT_EQ(collection().initialize(s_folder->path().c_str(), 4), 0);
    log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(logictest::countOf(log, "[i] AudioComponentCollection::initialize - AUDIOCOMPO_DB() initialized.\n"), 1u);
    ASSERT_NE(probe(), nullptr);
    EXPECT_EQ(collection().beginByThread(this), 0);
    EXPECT_EQ(add(1), 0);
    EXPECT_EQ(ownUids(), std::vector<u32>{1});
    EXPECT_EQ(liveInstances(), 1);
}

// A thread takes every component at its begin and later ones at its own update; a removed component lives until
// the last holder updates, and its uid stays taken until then. Every step logs its line.
TEST_F(CollectionTest, ComponentsLiveUntilEveryThreadDroppedThem)
{
    Worker worker;
    ASSERT_EQ(collection().beginByThread(this), 0);
    for (u32 uid : {1, 2, 3}) {
        ASSERT_EQ(add(uid), 0);
    }
    testing::internal::CaptureStdout();
    ASSERT_EQ(worker.begin(), 0);
    std::string log = testing::internal::GetCapturedStdout();
    const u64 id = worker.identity();
    EXPECT_EQ(logictest::countOf(log, format("[i] AudioComponentCollection::beginByThread - Thread[id:%d] begins "
                                             "using AudioComponents.\n",
                                             id)),
              1u);
    EXPECT_EQ(worker.uids(), (std::vector<u32>{1, 2, 3}));

    testing::internal::CaptureStdout();
    ASSERT_EQ(add(4), 0);
    log = testing::internal::GetCapturedStdout();
    const u64 self = ossupport::getCurrentThreadIdentity();
    EXPECT_EQ(logictest::countOf(log, format("[i] AudioComponentCollection::addComponent - Thread[id:%d] requested "
                                             "to add AudioComponent[uid:%d].\n",
                                             self, 4)),
              1u);
    EXPECT_TRUE(worker.takeNotified());
    EXPECT_EQ(worker.uids(), (std::vector<u32>{1, 2, 3}));
    EXPECT_EQ(worker.update(), 0);
    EXPECT_EQ(worker.uids(), (std::vector<u32>{1, 2, 3, 4}));

    testing::internal::CaptureStdout();
    ASSERT_EQ(collection().reqRemoveComponent(2), 0);
    log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(logictest::countOf(log, format("[i] AudioComponentCollection::reqRemoveComponent - Thread[id:%d] "
                                             "requested to remove AudioComponent[uid:%d].\n",
                                             self, 2)),
              1u);
    EXPECT_EQ(ownUids(), (std::vector<u32>{1, 3, 4}));
    EXPECT_EQ(collection().findComponent(2), nullptr);
    EXPECT_EQ(collection().reqRemoveComponent(2), FAILED);
    EXPECT_EQ(liveInstances(), 4);
    EXPECT_TRUE(worker.takeNotified());
    EXPECT_EQ(add(2), FAILED);
    EXPECT_EQ(liveInstances(), 4);

    testing::internal::CaptureStdout();
    EXPECT_EQ(worker.update(), 0);
    log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(logictest::countOf(log, format("[i] AudioComponentCollection::updateByThread - Thread[id:%d] is "
                                             "updating own AudioComponent list.\n",
                                             id)),
              1u);
    EXPECT_EQ(worker.uids(), (std::vector<u32>{1, 3, 4}));
    EXPECT_EQ(liveInstances(), 3);
    EXPECT_EQ(add(2), 0);

    // An ended thread holds nothing: the only remaining holder's removal destroys at once.
    EXPECT_EQ(worker.end(), 0);
    EXPECT_TRUE(worker.uids().empty());
    EXPECT_EQ(collection().reqRemoveComponent(3), 0);
    EXPECT_EQ(liveInstances(), 3);
    EXPECT_EQ(worker.run([] { return collection().reqRemoveComponent(1); }), FAILED);

    // Without a registered thread, removing everything destroys everything within the call.
    EXPECT_EQ(collection().endByThread(), 0);
    EXPECT_EQ(add(5), 0);
    EXPECT_TRUE(ownUids().empty());
    EXPECT_EQ(liveInstances(), 4);
    testing::internal::CaptureStdout();
    EXPECT_EQ(collection().reqRemoveAllComponents(), 0);
    log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(logictest::countOf(log, format("[i] AudioComponentCollection::reqRemoveComponent - Thread[id:%d] "
                                             "requested to remove all AudioComponents.\n",
                                             self)),
              1u);
    EXPECT_EQ(liveInstances(), 0);
}

// T1 adds X while T2, registered, does not update; T1 removes X and so destroys it. T2's next update must not take
// the destroyed X (found by ASan as a use after free otherwise).
TEST_F(CollectionTest, AComponentDestroyedBeforeEveryThreadTookItIsNeverTaken)
{
    Worker paused;
    ASSERT_EQ(collection().beginByThread(this), 0);
    ASSERT_EQ(paused.begin(), 0);
    ASSERT_EQ(add(7), 0);
    ASSERT_EQ(collection().reqRemoveComponent(7), 0);
    EXPECT_EQ(liveInstances(), 0);
    EXPECT_EQ(probe()->liveObjects, 1);
    EXPECT_EQ(paused.update(), 0);
    EXPECT_TRUE(paused.uids().empty());
    EXPECT_EQ(paused.run([] { return collection().findComponent(7) != nullptr ? 1 : 0; }), 0);
    ASSERT_EQ(add(7), 0);
    EXPECT_EQ(paused.update(), 0);
    EXPECT_EQ(paused.uids(), std::vector<u32>{7});
}

// Connections need both components in the caller's list and port numbers below the counts; a removal drops every
// connection from or to the component; the applied connections follow the edited ones until applied directly.
TEST_F(CollectionTest, ConnectionsFollowTheirComponents)
{
    ASSERT_EQ(collection().beginByThread(this), 0);
    for (u32 uid : {1, 2, 3}) {
        ASSERT_EQ(add(uid), 0);
    }
    const struct
    {
        AudioConnection connection;
        i32 result;
    } rows[] = {
        {{1, 1, 2, 2}, 0},      {{1, 2, 2, 0}, FAILED},                    // fromPortNo equal to the output count
        {{1, 0, 2, 3}, FAILED},                                            // toPortNo equal to the input count
        {{9, 0, 2, 0}, FAILED}, {{1, 0, 9, 0}, FAILED}, {{1, 1, 2, 2}, 0}, // kept once
        {{2, 0, 1, 0}, 0},      {{3, 0, 1, 1}, 0},      {{2, 1, 3, 0}, 0},
    };
    for (const auto& row : rows) {
        const AudioConnection& c = row.connection;
        EXPECT_EQ(collection().addConnection(c.m_fromUniqID, c.m_fromPortNo, c.m_toUniqID, c.m_toPortNo), row.result)
            << c.m_fromUniqID << "/" << c.m_fromPortNo << " -> " << c.m_toUniqID << "/" << c.m_toPortNo;
    }
    std::vector<AudioConnection> edited;
    ASSERT_EQ(collection().getConnections(edited), 0);
    EXPECT_EQ(edited, (std::vector<AudioConnection>{{1, 1, 2, 2}, {2, 0, 1, 0}, {3, 0, 1, 1}, {2, 1, 3, 0}}));

    Worker late; // a thread that has not taken a component cannot connect it
    ASSERT_EQ(late.begin(), 0);
    ASSERT_EQ(add(4), 0);
    EXPECT_EQ(late.run([] { return collection().addConnection(4, 0, 1, 0); }), FAILED);

    ASSERT_EQ(collection().reqRemoveComponent(1), 0);
    std::vector<AudioConnection> applied;
    ASSERT_EQ(collection().getConnections(edited), 0);
    ASSERT_EQ(collection().getAppliedConnections(applied), 0);
    EXPECT_EQ(edited, (std::vector<AudioConnection>{{2, 1, 3, 0}}));
    EXPECT_EQ(applied, edited);

    const std::vector<AudioConnection> compiled{{2, 0, 3, 0}, {3, 1, 2, 1}};
    ASSERT_EQ(collection().applyConnections(compiled), 0);
    ASSERT_EQ(collection().getAppliedConnections(applied), 0);
    EXPECT_EQ(applied, compiled);
    ASSERT_EQ(collection().getConnections(edited), 0);
    EXPECT_EQ(edited, (std::vector<AudioConnection>{{2, 1, 3, 0}}));
    ASSERT_EQ(collection().removeConnection(2, 1, 3, 0), 0);
    ASSERT_EQ(collection().getAppliedConnections(applied), 0);
    EXPECT_TRUE(applied.empty());
}

// A full thread table refuses with its line; a component that cannot be built returns its code and leaves nothing.
TEST_F(CollectionTest, RefusalsLeaveNothingBehind)
{
    ASSERT_EQ(collection().finalize(), 0);
    ASSERT_EQ(collection().initialize(s_folder->path().c_str(), 1), 0);
    Worker second;
    ASSERT_EQ(collection().beginByThread(this), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(second.begin(), FAILED);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(logictest::countOf(log, "[E] AudioComponentCollection::beginByThread() - Couldn't add a thread entry!\n"),
              1u);
    EXPECT_EQ(collection().endByThread(), 0);
    EXPECT_EQ(second.begin(), FAILED); // an ended entry keeps its place
    EXPECT_EQ(collection().beginByThread(this), 0);

    TestPluginProbe* nullCoef = probe("NullCoef_1");
    ASSERT_NE(nullCoef, nullptr);
    EXPECT_EQ(collection().addComponent("NullCoef", 1, 5, NUM_X, NUM_Y), FAILED);
    EXPECT_EQ(nullCoef->liveObjects, 1);
    EXPECT_EQ(collection().addComponent("Missing", 1, 5, NUM_X, NUM_Y), FAILED);
    EXPECT_EQ(collection().findComponent(5), nullptr);
    EXPECT_TRUE(ownUids().empty());
    EXPECT_EQ(add(5), 0);
}

// A thread registered with a context puts each component into use once, as it takes it, and ends the use of what
// it drops and at its end.
TEST_F(CollectionTest, TheProcessingThreadUsesItsComponents)
{
    ASSERT_EQ(collection().beginByThread(this), 0);
    ASSERT_EQ(add(1), 0);
    ASSERT_EQ(add(2), 0);
    int context = 0;
    Worker dsp;
    ASSERT_EQ(dsp.begin(&context), 0);
    // Each use makes the coefficient object run its four set-up operations once.
    EXPECT_EQ(probe()->coefCallCount, 8u);
    for (u32 uid : {1, 2}) {
        EXPECT_TRUE(collection().findComponent(uid)->isInUse());
        EXPECT_EQ(collection().findComponent(uid)->getContext(), &context);
    }
    ASSERT_EQ(add(3), 0);
    EXPECT_FALSE(collection().findComponent(3)->isInUse());
    EXPECT_EQ(dsp.update(), 0);
    EXPECT_EQ(dsp.update(), 0);
    EXPECT_EQ(probe()->coefCallCount, 12u);
    EXPECT_TRUE(collection().findComponent(3)->isInUse());

    AudioComponent* first = collection().findComponent(1);
    ASSERT_EQ(collection().reqRemoveComponent(1), 0);
    EXPECT_TRUE(first->isInUse());
    EXPECT_EQ(dsp.update(), 0); // the last holder: ends the use, then destroys
    EXPECT_EQ(liveInstances(), 2);

    EXPECT_EQ(dsp.end(), 0);
    for (u32 uid : {2, 3}) {
        EXPECT_FALSE(collection().findComponent(uid)->isInUse());
    }
    EXPECT_EQ(dsp.begin(), 0); // again, without a context: no longer the processing thread
    EXPECT_FALSE(collection().findComponent(2)->isInUse());
}

// A component of a type without a usable description has no database component, so its use cannot begin and
// the failure releases it (its own uid is gone). The collection keeps it under the uid it was added with: it is
// found, removed and destroyed by its last holder, the uid is free again, and the end and finalize go through.
TEST_F(CollectionTest, AComponentReleasedByAFailedStartOfUseIsStillRemoved)
{
    constexpr u32 UID = 40; // no other case puts a database component under it
    const auto addUndescribed = [] { return collection().addComponent("BadJson", 1, UID, NUM_X, NUM_Y); };
    ASSERT_EQ(collection().beginByThread(this), 0);
    int context = 0;
    Worker dsp;
    ASSERT_EQ(dsp.begin(&context), 0);
    ASSERT_EQ(addUndescribed(), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(dsp.update(), 0);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(logictest::countOf(log, format("[E] AudioComponentCollection::updateByThread - AudioComponent[uid:%d] "
                                             "couldn't begin use.\n",
                                             UID)),
              1u);
    AudioComponent* released = collection().findComponent(UID);
    ASSERT_NE(released, nullptr);
    ASSERT_FALSE(released->isInUse());
    EXPECT_EQ(dsp.run([] { return collection().findComponent(UID) != nullptr ? 1 : 0; }), 1);

    ASSERT_EQ(collection().reqRemoveComponent(UID), 0);
    EXPECT_EQ(collection().findComponent(UID), nullptr);
    EXPECT_EQ(collection().getNumComponents(), 1u);
    EXPECT_EQ(dsp.update(), 0);
    EXPECT_TRUE(dsp.uids().empty());
    EXPECT_EQ(collection().getNumComponents(), 0u);
    EXPECT_EQ(addUndescribed(), 0);
    EXPECT_EQ(dsp.update(), 0);
    EXPECT_EQ(dsp.end(), 0);
}

// finalize returns only once every thread holding components has updated or ended.
TEST_F(CollectionTest, FinalizeWaitsForTheHolders)
{
    for (bool byEnd : {false, true}) {
        SCOPED_TRACE(byEnd ? "end" : "update");
        Worker holder;
        ASSERT_EQ(holder.begin(), 0);
        ASSERT_EQ(add(1), 0);
        ASSERT_EQ(holder.update(), 0);
        holder.takeNotified();
        std::atomic<bool> finished{false};
        auto finalizing = std::async(std::launch::async, [&finished] {
            const i32 result = collection().finalize();
            finished.store(true);
            return result;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        EXPECT_FALSE(finished.load());
        EXPECT_TRUE(holder.takeNotified());
        EXPECT_EQ(byEnd ? holder.end() : holder.update(), 0);
        ASSERT_EQ(finalizing.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_EQ(finalizing.get(), 0);
        EXPECT_TRUE(holder.uids().empty());
        ASSERT_EQ(collection().initialize(s_folder->path().c_str(), 4), 0);
    }
}

// Before initialize nothing works; components left at exit are destroyed while the plug-ins and the logic registry
// still live, even when the collection was built before either.
TEST(CollectionExitTest, ExitWithoutFinalizeIsClean)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // The databases and their locks (owned by the caller) come first, as at program start.
            logictest::startOsLayer();
            dadovtest::createDatabases(11);
            AudioComponentCollection& collection = AudioComponentCollection::getInstance();
            const bool idle = collection.addComponent("TestMixer", 2, 1, NUM_X, NUM_Y) == FAILED &&
                              collection.findComponent(1) == nullptr && collection.getComponentList().empty();
            (void)LogicCtrl::LogicComponentCollection::getInstance().initialize();
            const std::string folder = std::string(DADOV_TEST_PLUGIN_DIR) + "/";
            const bool ready = idle && collection.initialize(folder.c_str(), 4) == 0 &&
                               collection.addComponent("TestMixer", 2, 1, NUM_X, NUM_Y) == 0 &&
                               collection.addComponent("TestMixer", 2, 2, NUM_X, NUM_Y) == 0;
            std::exit(ready ? 0 : 3);
        },
        testing::ExitedWithCode(0), "");
}

} // namespace
