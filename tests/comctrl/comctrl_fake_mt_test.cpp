// The scripted unit that the sync-thread suites use: scripted from the test thread, delivered on its owner's.
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "comctrl_FakeServerUnit.h"
#include "comctrl_FileAccessor.h"
#include "comctrl_Result.h"

using namespace ComControl;
using namespace comctrltest;

namespace {

// An owner thread: runs posted work and, on each wake-up, the unit's socket work; records its callbacks.
class Owner : public VCOM::IVComWakeupFunction,
              public IUnitConnectObserver,
              public IEventExecutor,
              public IProgressMonitor,
              public IDirSyncStrategy
{
public:
    Owner() : m_thread([this] { loop(); }) {}
    ~Owner()
    {
        run([this] { m_unit.reset(); });
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_stop = true;
        }
        m_signal.notify_one();
        m_thread.join();
    }

    void run(std::function<void()> work)
    {
        std::promise<void> done;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_work.push_back([&] {
                work();
                done.set_value();
            });
        }
        m_signal.notify_one();
        done.get_future().wait();
    }

    void wakeup(u16, VCOM::IVCom*) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_woken = true;
        m_signal.notify_one();
    }
    i32 connected(u32 id) override { return note("connected " + std::to_string(id), 0); }
    i32 connectFailed(u32 id) override { return note("connectFailed " + std::to_string(id), 0); }
    i32 disconnected(u32 id) override { return note("disconnected " + std::to_string(id), 0); }
    i32 synchronizerStateChanged(u32, UnitPart part, u32 index, u32 status) override
    {
        return note("sync " + std::to_string(static_cast<u32>(part)) + " " + std::to_string(index) + " " +
                        std::to_string(status),
                    0);
    }
    i32 execute(u32 code, const char* name, const char* argument) override
    {
        return note("event " + std::to_string(code) + " " + name + " " + argument,
                    std::string(name) == "Unknown" ? COMCTRL_E_FAILED : 0);
    }
    i32 progress(const char* file, u32 step, u64, u64) override
    {
        return note("progress " + std::string(file) + " " + std::to_string(step), 0);
    }
    i32 checkPath(const char*) override { return 0; }

    bool waitNoted(const std::string& line)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_noted.wait_for(lock, std::chrono::seconds(5),
                                [&] { return std::find(m_notes.begin(), m_notes.end(), line) != m_notes.end(); });
    }
    std::vector<std::string> notes()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_notes;
    }

    std::unique_ptr<ServerUnit> m_unit; // owner thread only

private:
    i32 note(const std::string& line, i32 result)
    {
        EXPECT_EQ(std::this_thread::get_id(), m_thread.get_id()) << line;
        std::lock_guard<std::mutex> guard(m_lock);
        m_notes.push_back(line);
        m_noted.notify_all();
        return result;
    }

    void loop()
    {
        std::unique_lock<std::mutex> lock(m_lock);
        while (!m_stop) {
            m_signal.wait(lock, [this] { return m_stop || m_woken || !m_work.empty(); });
            while (!m_work.empty()) {
                auto work = std::move(m_work.front());
                m_work.pop_front();
                lock.unlock();
                work();
                lock.lock();
            }
            if (m_woken) {
                m_woken = false;
                lock.unlock();
                if (m_unit != nullptr) {
                    m_unit->processSocketEvents();
                }
                lock.lock();
            }
        }
    }

    std::mutex m_lock;
    std::condition_variable m_signal;
    std::condition_variable m_noted;
    std::deque<std::function<void()>> m_work;
    std::vector<std::string> m_notes;
    bool m_woken = false;
    bool m_stop = false;
    std::thread m_thread;
};

VCOM::VComSocketAddress ipv4(const char* text)
{
    return VCOM::VComSocketAddress(VSOCK_FAMILY_IPV4, text);
}

// A delivery is recorded once the owner's callback returned.
bool waitDeliveries(const FakeUnitScript& script, Delivery kind, size_t count)
{
    for (int i = 0; i < 5000; ++i) {
        if (script.deliveries(kind).size() >= count) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

} // namespace

TEST(FakeUnit, DeliversTheScriptOnTheOwnerThreadAndRecordsEveryCall)
{
    FakeUnitScript script;
    Owner owner;
    FileAccessor files;
    ASSERT_EQ(files.initialize("/tmp"), COMCTRL_OK);
    // The device's own deliveries wait for a unit.
    script.deliverEvent(241, "NotifyDirSyncStatus", "SCN0INI:1");

    auto setUp = [&] {
        owner.m_unit = script.create(&owner);
        ASSERT_NE(owner.m_unit, nullptr);
        ServerUnit& unit = *owner.m_unit;
        ASSERT_EQ(unit.initialize(0, 1, 11, 1, 3, ipv4("127.0.0.1"), &owner, &owner, 0x100000), COMCTRL_OK);
        ASSERT_EQ(unit.setupEventMessenger(0, "Event", &owner, 240), COMCTRL_OK);
        ASSERT_EQ(unit.setupPdbSynchronizer(0, "PRF", 0), COMCTRL_OK);
        ASSERT_EQ(unit.setupFileSynchronizer(0, "Config", &files, 240, &owner), COMCTRL_OK);
        ASSERT_EQ(unit.setupDirSynchronizer(1, "Snapshot", "/tmp/Snapshot", 2000, &files, 240, &owner), COMCTRL_OK);
    };
    owner.run([&] {
        setUp();
        EXPECT_EQ(owner.m_unit->sendEvent(0, "KeepAlive", "", 0), COMCTRL_E_NOT_CONNECTED);
        EXPECT_EQ(owner.m_unit->connect(ipv4("127.0.0.1"), DEVICE_PORT), COMCTRL_OK);
    });
    ASSERT_TRUE(owner.waitNoted("event 241 NotifyDirSyncStatus SCN0INI:1"));
    ASSERT_TRUE(owner.waitNoted("connected 0"));
    EXPECT_TRUE(script.isConnected());

    script.setAutoFinish(true);
    owner.run([&] {
        ServerUnit& unit = *owner.m_unit;
        EXPECT_EQ(unit.startSync(UnitPart::PdbSynchronizer, 0, 2), COMCTRL_OK);
        EXPECT_EQ(unit.getSyncStatus(UnitPart::PdbSynchronizer, 0), SYNC_STATUS_RUNNING);
        EXPECT_EQ(unit.startSync(UnitPart::PdbSynchronizer, 1, 2), COMCTRL_E_NOT_READY); // not set up
        EXPECT_EQ(unit.sendEvent(0, "ApplyConfig", "", 240), COMCTRL_OK);
        EXPECT_EQ(unit.sendFile(0, "CompileResult.json", 1), COMCTRL_OK);
    });
    script.deliverEvent(240, "Unknown", "");
    ASSERT_TRUE(owner.waitNoted("sync 1 0 2"));
    ASSERT_TRUE(owner.waitNoted("progress CompileResult.json 2"));
    ASSERT_TRUE(waitDeliveries(script, Delivery::Event, 2));
    EXPECT_EQ(script.getSyncStatus(UnitPart::PdbSynchronizer, 0), SYNC_STATUS_FINISHED);
    const std::vector<FakeDelivery> events = script.deliveries(Delivery::Event);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].m_result, COMCTRL_E_FAILED);

    script.dropLink();
    ASSERT_TRUE(owner.waitNoted("disconnected 0"));
    owner.run([&] {
        EXPECT_EQ(owner.m_unit->sendEvent(0, "KeepAlive", "", 0), COMCTRL_E_NOT_CONNECTED);
        // A connect whose outcome is still queued is forgotten with its unit.
        EXPECT_EQ(owner.m_unit->connect(ipv4("127.0.0.1"), DEVICE_PORT), COMCTRL_OK);
        owner.m_unit.reset();
    });
    EXPECT_FALSE(script.hasUnit());
    const std::vector<FakeCall> sent = script.sentEvents();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].m_text, "ApplyConfig");
    EXPECT_EQ(sent[0].m_code, 240u);
    EXPECT_EQ(script.calls(FakeOp::SendEvent).size(), 3u);
    ASSERT_EQ(script.calls(FakeOp::SendFile).size(), 1u);
    EXPECT_EQ(script.calls(FakeOp::SendFile)[0].m_text, "CompileResult.json");

    script.scriptConnect(static_cast<i32>(0x80000000u), ConnectOutcome::Silent);
    script.scriptConnect(COMCTRL_OK, ConnectOutcome::Failed);
    owner.run([&] {
        setUp();
        EXPECT_EQ(owner.m_unit->connect(ipv4("127.0.0.1"), DEVICE_PORT), static_cast<i32>(0x80000000u));
        EXPECT_EQ(owner.m_unit->connect(ipv4("127.0.0.1"), DEVICE_PORT), COMCTRL_OK);
    });
    ASSERT_TRUE(owner.waitNoted("connectFailed 0"));
    EXPECT_EQ(script.unitsCreated(), 2u);
    const std::vector<std::string> notes = owner.notes();
    EXPECT_EQ(std::count(notes.begin(), notes.end(), "connected 0"), 1);
    const std::vector<FakeCall> connects = script.calls(FakeOp::Connect);
    ASSERT_EQ(connects.size(), 4u);
    EXPECT_EQ(connects[0].m_text, "127.0.0.1");
    EXPECT_EQ(connects[0].m_value, 50368u);
}
