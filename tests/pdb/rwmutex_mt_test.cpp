// The shared databases' lock: recursive and exclusive for readers and writers alike; and the lock order of
// observer callbacks that take a mutex of their own.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "compo_TestTypes.h"
#include "pdb_ParameterDB.h"
#include "pdb_SimpleReadWriteMutex.h"

using namespace PDB;

namespace {

// Gives the other thread time to reach its lock call; it only ever shortens a wait, so the checks built on it
// cannot fail spuriously.
void letOthersRun()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
}

} // namespace

TEST(SimpleReadWriteMutex, HolderLocksAgainAndOthersWaitForTheLastUnlock)
{
    SimpleReadWriteMutex mutex;
    EXPECT_EQ(mutex.lockRead(), 0);
    EXPECT_EQ(mutex.lockWrite(), 0); // the same thread: no deadlock
    std::atomic<bool> reading{false};
    std::atomic<bool> writing{false};
    std::thread reader([&] {
        mutex.lockRead();
        reading = true;
        letOthersRun();
        mutex.unlockRead();
    });
    letOthersRun();
    EXPECT_FALSE(reading.load());
    EXPECT_EQ(mutex.unlockWrite(), 0);
    letOthersRun();
    EXPECT_FALSE(reading.load()); // still held once
    EXPECT_EQ(mutex.unlockRead(), 0);
    reader.join();
    EXPECT_TRUE(reading.load());

    // Readers exclude each other too.
    mutex.lockRead();
    std::thread second([&] {
        mutex.lockWrite();
        writing = true;
        mutex.unlockWrite();
    });
    letOthersRun();
    EXPECT_FALSE(writing.load());
    mutex.unlockRead();
    second.join();
    EXPECT_TRUE(writing.load());
}

namespace {

// An observer whose notification takes its own mutex (briefly, never while calling a database).
class LockingObserver : public IParameterDBCallback
{
public:
    i32 onParameterDBChanged() override { return mark(); }
    i32 onParameterChanged() override { return mark(); }
    i32 mark()
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        ++m_Events;
        return 0;
    }
    int take()
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        const int events = m_Events;
        m_Events = 0;
        return events;
    }

private:
    std::mutex m_Lock;
    int m_Events = 0;
};

} // namespace

TEST(SimpleReadWriteMutex, CallbacksTakeTheirMutexOnlyAfterTheDatabases)
{
    compo_test::registerGain();
    SimpleReadWriteMutex mutex;
    ParameterDB db;
    ASSERT_EQ(db.initialize(1, "Order", &mutex), 0);
    ASSERT_EQ(db.addComponent(1, "Gain", 1, 0, 0, 0), 0);
    LockingObserver observer;
    std::atomic<bool> registered{false};
    std::atomic<bool> stop{false};
    int seen = 0;
    // The observing thread takes its mutex only outside database calls.
    std::thread watcher([&] {
        ASSERT_EQ(db.registerCallback(1, &observer, 0), 0);
        registered = true;
        while (!stop.load()) {
            seen += observer.take();
            ComponentUIDList list;
            db.getAddedComponents(list);
            u32 c = 0, b = 0, x = 0, y = 0;
            db.swapChangeFlags(0);
            while (db.findNextChange(0, c, b, x, y, false) == 0) {
            }
        }
        seen += observer.take();
    });
    while (!registered.load()) {
        std::this_thread::yield();
    }
    ParameterAddress level = db.resolveAddress(1, "/Level");
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(db.setValueInt(level, static_cast<u32>(i % 4), 0, (i & 1) != 0 ? 5 : 6, 0), 0);
        if (i % 500 == 0) {
            db.addComponent(static_cast<ComponentUID>(100 + i), "Gain", 1, 0, 0, 0);
        }
    }
    stop = true;
    watcher.join();
    EXPECT_EQ(seen, 2000 + 4);
}
