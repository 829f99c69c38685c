// The application thread base on real threads and real shared databases: the user-event mapping, subscriptions,
// the change scan with its element-set coalescing, and the system-information operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "appcommon_TestSupport.h"
#include "dadov_AudioComponentCollection.h"
#include "dadov_TestSupport.h"
#include "logic_LogicComponentCollection.h"
#include "pdb_ParameterDBCollection.h"
#include "pyrite_AppThread.h"
#include "pyrite_ProductInfo.h"
#include "tms_SystemThread.h"
#include "tms_TestSupport.h"
#include "tms_ThreadTestSupport.h"

namespace {

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new tmstest::RepositoryEnvironment);

using tmstest::initializeThread;
using tmstest::waitUntil;

std::string change(u32 database, u32 component, u32 parameter, u32 x, u32 y, u32 key)
{
    return "param " + std::to_string(database) + ":" + std::to_string(component) + ":" + std::to_string(parameter) +
           ":" + std::to_string(x) + ":" + std::to_string(y) + " key " + std::to_string(key);
}

// An application thread that records every operation of the base it reaches and runs work on its own task.
class Probe : public PYRITE::PyriteAppThread
{
public:
    Probe() : PyriteAppThread(5) {}
    ~Probe() override
    {
        if (getTaskId() != TMS::NO_ID) {
            release();
        }
    }

    // Runs work on the thread's task and returns when it has run. Also a barrier: user events set before it
    // are served before it.
    void run(std::function<void()> work)
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_work = std::move(work);
            m_done = false;
        }
        TMS::AbstractMessage message;
        message.initialize(TMS::MESSAGE_KIND_USER, 0);
        ASSERT_EQ(sendMessageWithWaiting(message), 0u);
        std::unique_lock<std::mutex> guard(m_lock);
        m_ran.wait(guard, [this] { return m_done; });
    }

    std::vector<std::string> records()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_records;
    }
    void clear()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_records.clear();
    }
    bool waitFor(const std::string& text)
    {
        return waitUntil([&] {
            std::lock_guard<std::mutex> guard(m_lock);
            return std::find(m_records.begin(), m_records.end(), text) != m_records.end();
        });
    }
    // The records of the first scan, from "started" to "finished".
    std::vector<std::string> firstScan()
    {
        EXPECT_TRUE(waitFor("finished"));
        const std::vector<std::string> all = records();
        const auto begin = std::find(all.begin(), all.end(), "started");
        const auto end = std::find(begin, all.end(), "finished");
        return {begin, end == all.end() ? end : end + 1};
    }
    u32 keyOf(u16 component) const { return (static_cast<u32>(getTaskId()) << 16) | component; }

    // Runs on the thread's task during a scan, after the change is recorded.
    std::function<void(PDB::IParameterDB&)> m_paramHook;

    u32 onReceiveMessage(const TMS::AbstractMessage&) override
    {
        std::function<void()> work;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            work = std::move(m_work);
        }
        if (work) {
            work();
        }
        std::lock_guard<std::mutex> guard(m_lock);
        m_done = true;
        m_ran.notify_all();
        return 0;
    }
    u32 onProductStarted(u32 runMode) override { return record("product " + std::to_string(runMode)); }
    u32 onChangePDBConfig() override { return record("config"); }
    u32 onChangePDBState(u32 state) override { return record("pdbstate " + std::to_string(state)); }
    u32 onChangePDB() override
    {
        record("pdb");
        return PyriteAppThread::onChangePDB();
    }
    u32 onUpdateAudioComponents() override
    {
        record("audio");
        return PyriteAppThread::onUpdateAudioComponents();
    }
    u32 onReceiveEvent1() override { return record("event 1"); }
    u32 onReceiveEvent2() override { return record("event 2"); }
    u32 onReceiveEvent3() override { return record("event 3"); }
    u32 onReceiveEvent4() override { return record("event 4"); }
    u32 onReceiveEvent5() override { return record("event 5"); }
    u32 onReceiveEvent6() override { return record("event 6"); }
    u32 onReceiveEvent7() override { return record("event 7"); }
    u32 onReceiveEvent8() override { return record("event 8"); }
    u32 onReceiveUserEvent(u32 eventId) override { return record("user " + std::to_string(eventId)); }
    u32 onReceiveEvent14() override { return record("event 14"); }
    u32 onReceiveEvent15() override { return record("event 15"); }
    u32 onChangePDBParamStarted() override { return record("started"); }
    u32 onChangePDBParam(PDB::IParameterDB* database, u32 component, u32 parameter, u32 x, u32 y, u32 key) override
    {
        record(change(database->getDBId(), component, parameter, x, y, key));
        if (m_paramHook) {
            m_paramHook(*database);
        }
        return 0;
    }
    u32 onChangePDBParamFinished() override { return record("finished"); }

private:
    u32 record(const std::string& text)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_records.push_back(text);
        return 0;
    }

    std::mutex m_lock;
    std::condition_variable m_ran;
    std::function<void()> m_work;
    bool m_done = false;
    std::vector<std::string> m_records;
};

// Threads first, databases after them: the databases go first and the threads outlive them; TearDown releases
// the threads before that.
class AppThread : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        appcommontest::registerUIntType(
            "Scan", {"/Gain", "/3DRev/Center@xyz@x", "/3DRev/Center@xyz@y", "/3DRev/Center@xyz@z", "/Mute"}, 2);
        appcommontest::registerUIntType("Flat", {"/Gain", "/Level", "/Pan", "/Width"}, 2);
    }
    void TearDown() override
    {
        m_probe.release();
        m_other.release();
    }
    void start(Probe& probe, const char* name)
    {
        ASSERT_EQ(initializeThread(probe, name), 0u);
        ASSERT_EQ(probe.start(TMS::AbstractMessage::emptyFields()), 0u);
    }
    static void addComponents(PDB::IParameterDB& database, u32 count)
    {
        for (u32 uid = 1; uid <= count; ++uid) {
            ASSERT_EQ(database.addComponent(uid, "Scan", 1, 0, 0, 0), 0);
        }
    }
    static void set(PDB::IParameterDB& database, u32 component, u32 parameter, u32 x)
    {
        ASSERT_EQ(database.setValueUInt(component, parameter, x, 0u, 7u, 0), 0);
    }

    Probe m_probe;
    Probe m_other;
    appcommontest::SharedDatabase m_first{0, "First"};
    std::optional<appcommontest::SharedDatabase> m_second;
};

TEST_F(AppThread, UserEventsReachTheirOperations)
{
    start(m_probe, "Probe");
    std::vector<std::vector<std::string>> expected(32);
    expected[0] = {"pdb", "started", "finished"};
    for (u32 id = 1; id <= 8; ++id) {
        expected[id] = {"event " + std::to_string(id)};
    }
    expected[9] = {"config"};
    expected[10] = {"audio"};
    expected[14] = {"event 14"};
    expected[15] = {"event 15"};
    for (u32 id = 16; id < 32; ++id) {
        expected[id] = {"user " + std::to_string(id)};
    }
    testing::internal::CaptureStdout();
    for (u32 id = 0; id < 32; ++id) {
        m_probe.clear();
        ASSERT_EQ(m_probe.setUserEvent(id), 0u);
        m_probe.run({});
        EXPECT_EQ(m_probe.records(), expected[id]) << "event " << id;
    }
    const std::string output = testing::internal::GetCapturedStdout();
    for (int id = 11; id <= 13; ++id) {
        EXPECT_NE(output.find("[E] PyritaAppThread::onReceiveEvent - unknown event ID = " + std::to_string(id) + "\n"),
                  std::string::npos)
            << id;
    }
}

TEST_F(AppThread, SubscriptionsAreOnePerKeyAndSeparatePerThread)
{
    m_second.emplace(1, "Second");
    addComponents(m_first.get(), 1);
    start(m_probe, "Probe");
    start(m_other, "Other");
    m_probe.run([&] {
        EXPECT_EQ(m_probe.registerPDBCallback(7, 0), 0u);
        EXPECT_EQ(m_probe.registerPDBCallback(7, 0), 0u);
    });
    m_other.run([&] { EXPECT_EQ(m_other.registerPDBCallback(7, 0), 0u); });
    const u32 probeKey = m_probe.keyOf(7);
    const u32 otherKey = m_other.keyOf(7);
    ASSERT_NE(probeKey, otherKey);
    EXPECT_EQ(m_probe.getSubscriptionKeys(), std::vector<u32>{probeKey});
    // One registration each per database: the second thread's key takes the next flag set.
    for (PDB::IParameterDB* database : {&m_first.get(), &m_second->get()}) {
        EXPECT_EQ(database->getCallbackIndex(probeKey), 0u) << database->getName();
        EXPECT_EQ(database->getCallbackIndex(otherKey), 1u) << database->getName();
    }

    set(m_first.get(), 0, 4, 1);
    EXPECT_EQ(m_probe.firstScan(), (std::vector<std::string>{"started", change(0, 0, 4, 1, 0, probeKey), "finished"}));
    EXPECT_EQ(m_other.firstScan(), (std::vector<std::string>{"started", change(0, 0, 4, 1, 0, otherKey), "finished"}));
}

TEST_F(AppThread, ComponentsRemovedElsewhereLeaveTheThreadsRemovedList)
{
    PDB::IParameterDB& database = m_first.get();
    start(m_probe, "Probe");
    m_probe.run([&] { EXPECT_EQ(m_probe.registerPDBCallback(0, 0), 0u); });
    // Another thread removes components as the device-control thread does: request, then release its hold (the
    // probe may have released a component first, which deletes it).
    for (u32 uid = 1; uid <= 100; ++uid) {
        ASSERT_EQ(database.addComponent(uid, "Flat", 1, 0, 0, 0), 0);
        ASSERT_EQ(database.removeComponent(uid), 0);
        (void)database.releaseComponent(uid);
    }
    EXPECT_EQ(database.getComponentCount(), 0u);
    m_probe.run([&] {
        PDB::ComponentUIDList removed;
        ASSERT_EQ(database.getRemovedComponents(removed), 0);
        EXPECT_TRUE(removed.empty()) << removed.size();
    });
}

TEST_F(AppThread, ChangeScanReportsElementSetsOnceAfterPlainParameters)
{
    PDB::IParameterDB& database = m_first.get();
    addComponents(database, 2);
    // Types alternate: the sets are known per type, never per block position alone.
    ASSERT_EQ(database.addComponent(3, "Flat", 1, 0, 0, 0), 0);
    ASSERT_EQ(database.addComponent(4, "Scan", 1, 0, 0, 0), 0);
    start(m_probe, "Probe");
    m_probe.run([&] { EXPECT_EQ(m_probe.registerPDBCallback(1, 0), 0u); });
    const u32 key = m_probe.keyOf(1);

    // One batch, so that one scan sees it whole. Blocks of "Scan": 0 "/Gain", 1..3 "/3DRev/Center@xyz@x/y/z",
    // 4 "/Mute".
    database.lockWrite();
    set(database, 0, 3, 1);
    set(database, 0, 1, 1);
    set(database, 0, 0, 0);
    set(database, 0, 2, 0);
    set(database, 0, 4, 1);
    set(database, 1, 3, 0);
    set(database, 2, 3, 0);
    set(database, 3, 2, 1);
    database.unlockWrite();

    EXPECT_EQ(m_probe.firstScan(), (std::vector<std::string>{
                                       "started",
                                       change(0, 0, 0, 0, 0, key),
                                       change(0, 0, 4, 1, 0, key),
                                       change(0, 2, 3, 0, 0, key),
                                       change(0, 0, 1, 0, 0, key),
                                       change(0, 0, 1, 1, 0, key),
                                       change(0, 1, 1, 0, 0, key),
                                       change(0, 3, 1, 1, 0, key),
                                       "finished",
                                   }));
}

TEST_F(AppThread, ScanVisitsDatabasesMadeDuringItAndSkipsKeysTheyLack)
{
    addComponents(m_first.get(), 1);
    start(m_probe, "Probe");
    m_probe.run([&] { EXPECT_EQ(m_probe.registerPDBCallback(1, 0), 0u); });
    // During the scan of the first database: a second database appears, and a second key, subscribed with both
    // databases. The first key is unknown to the second database, so its latch fails there.
    m_probe.run([&] {
        m_probe.m_paramHook = [&](PDB::IParameterDB& database) {
            if (database.getDBId() != 0 || m_second.has_value()) {
                return;
            }
            m_second.emplace(2, "Late"); // beyond every position used before, with an empty one between
            addComponents(m_second->get(), 1);
            EXPECT_EQ(m_probe.registerPDBCallback(2, 0), 0u);
            set(m_second->get(), 0, 0, 1);
        };
    });
    set(m_first.get(), 0, 0, 0);
    EXPECT_EQ(m_probe.firstScan(), (std::vector<std::string>{"started", change(0, 0, 0, 0, 0, m_probe.keyOf(1)),
                                                             change(2, 0, 0, 1, 0, m_probe.keyOf(2)), "finished"}));
}

TEST(AppThreadSystemInfo, ProductAndDatabaseStatesCallTheirOperations)
{
    TMS::SystemThread root(1);
    Probe probe;
    ASSERT_EQ(initializeThread(root, "Root"), 0u);
    ASSERT_EQ(registerSystemInfoItems(&root), 0u);
    ASSERT_EQ(initializeThread(probe, "Probe", 0, 1), 0u);
    ASSERT_EQ(root.addChild(&probe), 0u);
    ASSERT_EQ(root.start(TMS::AbstractMessage::emptyFields()), 0u);
    ASSERT_TRUE(waitUntil([&] { return probe.getStatus() == TMS::STATUS_RUN; }));

    auto commit = [&](const char* name, u32 value) {
        probe.run([&] {
            probe.setSystemInfo(name, 0, KVariant(value));
            probe.commitSystemInfo();
        });
    };
    commit("RunMode", 2); // no product start while "ProductState" is 0
    commit("PDBState", 1);
    ASSERT_TRUE(probe.waitFor("pdbstate 1"));
    commit("ProductState", 1);
    ASSERT_TRUE(probe.waitFor("product 2"));
    commit("RunMode", 0);
    ASSERT_TRUE(probe.waitFor("product 0"));
    commit("PDBState", 2);
    ASSERT_TRUE(probe.waitFor("pdbstate 2"));
    EXPECT_EQ(probe.records(), (std::vector<std::string>{"pdbstate 1", "product 2", "product 0", "pdbstate 2"}));
    root.release();
}

TEST(AppThreadAudio, ComponentUseFollowsRunAndClosing)
{
    dadovtest::createDatabases(11); // components have entries in database 10
    ASSERT_EQ(LogicCtrl::LogicComponentCollection::getInstance().initialize(), 0);
    ASSERT_EQ(DADOV::AudioConfigDB::getInstance().initialize(), 0);
    dadovtest::PluginFolder folder;
    folder.add("TestMixer_2.dll");
    DADOV::AudioComponentCollection& collection = DADOV::AudioComponentCollection::getInstance();
    ASSERT_EQ(collection.initialize(folder.path().c_str(), 10), 0);
    Probe probe;
    ASSERT_EQ(initializeThread(probe, "Probe"), 0u);
    ASSERT_TRUE(waitUntil([&] { return probe.getStatus() == TMS::STATUS_STOP; }));
    // The length of the probe's own list; update first asks the probe to bring it up to date.
    auto listLength = [&](bool update) {
        size_t length = 0;
        probe.run([&] {
            if (update) {
                probe.onUpdateAudioComponents();
            }
            length = collection.getComponentList().size();
        });
        return length;
    };

    ASSERT_EQ(collection.addComponent("TestMixer", 2, 1, 1, 1), 0);
    EXPECT_EQ(listLength(false), 0u); // STOP: not begun yet
    ASSERT_EQ(probe.start(TMS::AbstractMessage::emptyFields()), 0u);
    EXPECT_EQ(listLength(false), 1u); // begun with every component
    ASSERT_EQ(collection.addComponent("TestMixer", 2, 2, 1, 1), 0);
    EXPECT_TRUE(waitUntil([&] { return listLength(false) == 2; })); // told, and updated on its own task

    ASSERT_EQ(probe.stop(TMS::AbstractMessage::emptyFields()), 0u);
    ASSERT_EQ(collection.addComponent("TestMixer", 2, 3, 1, 1), 0);
    EXPECT_EQ(listLength(true), 2u); // no update outside RUN
    ASSERT_EQ(probe.start(TMS::AbstractMessage::emptyFields()), 0u);
    EXPECT_EQ(listLength(false), 3u);

    // Closing ends the use: once removal is requested, nothing holds the components any more.
    probe.release();
    EXPECT_EQ(collection.reqRemoveAllComponents(), 0);
    if (collection.getNumComponents() != 0) {
        ADD_FAILURE() << "the closed thread still holds its components";
        std::_Exit(1); // finalize would wait for the closed thread for ever
    }
    EXPECT_EQ(collection.finalize(), 0);
    // Nothing may reach the databases' locks (statics of the support library) after they are gone.
    for (u32 id = 0; id < 11; ++id) {
        EXPECT_EQ(PDB::ParameterDBCollection::deleteInstance(id), 0);
    }
}

} // namespace
