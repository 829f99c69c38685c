// Stress harness of the shared databases: three databases on one SimpleReadWriteMutex, registered in the
// process-wide collection, with writers, scanners, an owner that adds and removes components, a recall thread
// and a reader of the collection, all at once for a bounded time (SHAREDDB_STRESS_SECONDS, 3 by default).
// Afterwards every scanner must have seen exactly the elements of the permanent components that a write
// changed (recall-time writes only for scanners registered with filter 1).
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "compo_TestTypes.h"
#include "pdb_ParameterDB.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_ParameterDBNULL.h"
#include "pdb_SimpleReadWriteMutex.h"
#include "shareddb_Fixture.h"

using namespace PDB;
using namespace shareddb_test;

namespace {

constexpr u32 DATABASES = 3;
constexpr u32 PERMANENT = 3; // components per database that live throughout, at positions 0..2
constexpr u32 WRITERS = 4;
constexpr u32 SCANNERS = 3;
constexpr u8 SCANNER_FILTER[SCANNERS] = {1, 0, 8};

struct Target
{
    u32 db;
    u32 component;
    u32 block;
    u32 x;
    u32 y;
    bool operator<(const Target& other) const
    {
        return std::tie(db, component, block, x, y) <
               std::tie(other.db, other.component, other.block, other.x, other.y);
    }
    bool operator==(const Target& other) const { return !(*this < other) && !(other < *this); }
};

std::chrono::milliseconds duration()
{
    const char* text = std::getenv("SHAREDDB_STRESS_SECONDS");
    const int seconds = text != nullptr ? std::atoi(text) : 3;
    return std::chrono::milliseconds(1000 * (seconds > 0 ? seconds : 3));
}

// Every element of the permanent components; element i belongs to writer i % (WRITERS + 1), the last share
// to the recall thread, so that each writer's every write changes its element.
std::vector<Target> allElements()
{
    std::vector<Target> elements;
    for (u32 db = 0; db < DATABASES; ++db) {
        for (u32 c = 0; c < PERMANENT; ++c) {
            for (u32 x = 0; x < 4; ++x) {
                for (u32 y = 0; y < 2; ++y) {
                    elements.push_back({db, c, 0, x, y});
                }
            }
            for (u32 x = 0; x < 3; ++x) {
                elements.push_back({db, c, 1, x, 0});
            }
        }
    }
    return elements;
}

// Sets an event and returns: the scanner does the work in its own loop.
class ScannerEvent : public IParameterDBCallback
{
public:
    i32 onParameterDBChanged() override { return raise(2); }
    i32 onParameterChanged() override { return raise(1); }
    // Waits up to 10 ms for an event; the raised bits.
    int wait()
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        m_Wake.wait_for(lock, std::chrono::milliseconds(10), [this] { return m_Bits != 0; });
        const int bits = m_Bits;
        m_Bits = 0;
        return bits;
    }

private:
    i32 raise(int bit)
    {
        {
            std::lock_guard<std::mutex> lock(m_Lock);
            m_Bits |= bit;
        }
        m_Wake.notify_one();
        return 0;
    }
    std::mutex m_Lock;
    std::condition_variable m_Wake;
    int m_Bits = 0;
};

class Harness
{
public:
    Harness()
    {
        compo_test::registerGain();
        for (u32 i = 0; i < DATABASES; ++i) {
            EXPECT_EQ(ParameterDBCollection::createInstance(i, name(i).c_str(), &m_Mutex, 0), 0);
            m_DB[i] = &ParameterDBCollection::getInstance(i);
            for (u32 c = 0; c < PERMANENT; ++c) {
                EXPECT_EQ(m_DB[i]->addComponent(1 + c, "Gain", 1, 0, 0, 0), 0);
            }
        }
    }
    ~Harness()
    {
        for (u32 i = 0; i < ParameterDBCollection::CAPACITY; ++i) {
            ParameterDBCollection::deleteInstance(i);
        }
    }

    static std::string name(u32 id) { return "DB" + std::to_string(id); }

    void run()
    {
        const std::vector<Target> elements = allElements();
        std::vector<std::thread> scanners;
        std::atomic<u32> registered{0};
        for (u32 s = 0; s < SCANNERS; ++s) {
            scanners.emplace_back([this, s, &registered] { scanner(s, registered); });
        }
        while (registered.load() < SCANNERS) {
            std::this_thread::yield();
        }
        std::vector<std::thread> workers;
        for (u32 w = 0; w < WRITERS; ++w) {
            workers.emplace_back([this, w, &elements] { writer(w, elements); });
        }
        workers.emplace_back([this, &elements] { recaller(elements); });
        workers.emplace_back([this] { owner(); });
        workers.emplace_back([this] { reader(); });
        std::this_thread::sleep_for(duration());
        m_Stop = true;
        for (std::thread& worker : workers) {
            worker.join();
        }
        m_ScannersStop = true;
        for (std::thread& scanner : scanners) {
            scanner.join();
        }
    }

    IParameterDB* m_DB[DATABASES] = {};
    SimpleReadWriteMutex m_Mutex;
    std::atomic<bool> m_Stop{false};
    std::atomic<bool> m_ScannersStop{false};
    std::set<Target> m_Written;        // by the writers
    std::set<Target> m_RecallWritten;  // by the recall thread
    std::set<Target> m_Seen[SCANNERS]; // permanent elements each scanner found
    std::atomic<u64> m_Writes{0};
    std::atomic<u64> m_Churn{0};
    std::atomic<u64> m_Lookups{0};
    std::mutex m_ResultLock;
    bool m_ReaderConsistent = true;

private:
    static i32 write(IParameterDB& db, ParameterAddress& record, const Target& t, bool high)
    {
        return t.block == 0 ? db.setValueInt(record, t.x, t.y, high ? 500 : -500, 0)
                            : db.setValueUInt(record, t.x, t.y, high ? 200 : 100, 0);
    }

    void writer(u32 w, const std::vector<Target>& elements)
    {
        std::vector<Target> mine;
        std::vector<ParameterAddress> records;
        for (size_t i = w; i < elements.size(); i += WRITERS + 1) {
            mine.push_back(elements[i]);
            records.push_back(m_DB[elements[i].db]->resolveAddress(elements[i].component, elements[i].block));
        }
        std::set<Target> written;
        bool high = true;
        u64 count = 0;
        while (!m_Stop.load()) {
            for (size_t i = 0; i < mine.size(); ++i) {
                EXPECT_EQ(write(*m_DB[mine[i].db], records[i], mine[i], high), 0);
                written.insert(mine[i]);
                ++count;
            }
            high = !high;
            // Churning components (positions from 3 on) through records that may name a component long gone.
            const u32 db = static_cast<u32>(count % DATABASES);
            ParameterAddress churn = m_DB[db]->resolveAddress(PERMANENT + static_cast<u32>(count % 4), 0u);
            for (int k = 0; k < 4; ++k) {
                m_DB[db]->setValueInt(churn, static_cast<u32>(k), 1, k, 0);
                std::this_thread::yield();
            }
        }
        m_Writes += count;
        std::lock_guard<std::mutex> lock(m_ResultLock);
        m_Written.insert(written.begin(), written.end());
    }

    void recaller(const std::vector<Target>& elements)
    {
        std::vector<Target> mine;
        for (size_t i = WRITERS; i < elements.size(); i += WRITERS + 1) {
            mine.push_back(elements[i]);
        }
        std::set<Target> written;
        bool high = true;
        while (!m_Stop.load()) {
            for (u32 d = 0; d < DATABASES; ++d) {
                IParameterDB& db = *m_DB[d];
                db.lockWrite();
                db.beginRecall();
                db.suppressStrategy();
                for (const Target& t : mine) {
                    if (t.db == d) {
                        ParameterAddress record = db.resolveAddress(t.component, t.block);
                        EXPECT_EQ(write(db, record, t, high), 0);
                        written.insert(t);
                    }
                }
                db.resumeStrategy();
                db.endRecall();
                db.unlockWrite();
            }
            high = !high;
            std::this_thread::yield();
        }
        std::lock_guard<std::mutex> lock(m_ResultLock);
        m_RecallWritten.insert(written.begin(), written.end());
    }

    // Adds, reserves, requests removal and releases; also creates further collection entries over time.
    void owner()
    {
        u32 nextId = DATABASES;
        std::vector<ComponentUID> live[DATABASES];
        u64 round = 0;
        while (!m_Stop.load()) {
            IParameterDB& db = *m_DB[round % DATABASES];
            std::vector<ComponentUID>& list = live[round % DATABASES];
            if (list.size() < 4) {
                const ComponentUID uid = db.generateComponentUID();
                if (uid != INVALID_COMPONENT_UID && db.addComponent(uid, "Gain", 1, 2, 0, 0) == 0) {
                    EXPECT_EQ(db.reserveComponent(uid), 0);
                    list.push_back(uid);
                }
            } else {
                const ComponentUID uid = list.front();
                list.erase(list.begin());
                EXPECT_EQ(db.removeComponent(uid), 0);
                EXPECT_EQ(db.releaseComponent(uid), 0);
                ++m_Churn;
            }
            if (round % 50 == 0 && nextId < ParameterDBCollection::CAPACITY) {
                EXPECT_EQ(ParameterDBCollection::createInstance(nextId, name(nextId).c_str(), &m_Mutex, 0), 0);
                ++nextId;
            }
            ++round;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        for (u32 d = 0; d < DATABASES; ++d) {
            m_DB[d]->releaseAllOfThisThread();
        }
    }

    void reader()
    {
        bool consistent = true;
        u64 lookups = 0;
        while (!m_Stop.load()) {
            for (u32 id = 0; id < ParameterDBCollection::CAPACITY; ++id) {
                const i32 found = ParameterDBCollection::findInstance(name(id).c_str());
                IParameterDB& entry = ParameterDBCollection::getInstance(id);
                const bool empty = &entry == &ParameterDBNULL::getInstance();
                if ((found != -1 && found != static_cast<i32>(id)) || (!empty && name(id) != entry.getName()) ||
                    (id < DATABASES && (empty || found == -1))) {
                    consistent = false;
                }
                ++lookups;
            }
        }
        m_Lookups += lookups;
        std::lock_guard<std::mutex> lock(m_ResultLock);
        m_ReaderConsistent = consistent;
    }

    void scanOnce(u32 s, std::set<Target>& seen)
    {
        for (u32 d = 0; d < DATABASES; ++d) {
            IParameterDB& db = *m_DB[d];
            const u32 index = db.getCallbackIndex(100 + s);
            for (const Element& e : swapAndScan(db, index)) {
                if (std::get<0>(e) < PERMANENT) {
                    seen.insert({d, std::get<0>(e), std::get<1>(e), std::get<2>(e), std::get<3>(e)});
                }
            }
        }
    }

    // Keeps the components it is told about alive, and scans on its events.
    void followComponents()
    {
        for (u32 d = 0; d < DATABASES; ++d) {
            IParameterDB& db = *m_DB[d];
            ComponentUIDList list;
            db.getAddedComponents(list);
            for (ComponentUID uid : list) {
                db.reserveComponent(uid);
            }
            db.getRemovedComponents(list);
            for (ComponentUID uid : list) {
                db.releaseComponent(uid);
            }
        }
    }

    void scanner(u32 s, std::atomic<u32>& registered)
    {
        ScannerEvent event;
        for (u32 d = 0; d < DATABASES; ++d) {
            EXPECT_EQ(m_DB[d]->registerCallback(100 + s, &event, SCANNER_FILTER[s]), 0);
        }
        std::set<Target> seen;
        ++registered;
        while (!m_ScannersStop.load()) {
            const int bits = event.wait();
            if ((bits & 2) != 0) {
                followComponents();
            }
            if ((bits & 1) != 0) {
                scanOnce(s, seen);
            }
        }
        scanOnce(s, seen); // everything written has been collected by now
        followComponents();
        for (u32 d = 0; d < DATABASES; ++d) {
            EXPECT_EQ(m_DB[d]->releaseAllOfThisThread(), 0);
        }
        // The event dies with this thread; nothing notifies any more (every writer has ended).
        std::lock_guard<std::mutex> lock(m_ResultLock);
        m_Seen[s] = seen;
    }
};

} // namespace

TEST(SharedDBStress, ScannersSeeExactlyTheChangedElements)
{
    Harness harness;
    harness.run();
    EXPECT_GT(harness.m_Writes.load(), 0u);
    EXPECT_GT(harness.m_Churn.load(), 0u);
    EXPECT_GT(harness.m_Lookups.load(), 0u);
    EXPECT_TRUE(harness.m_ReaderConsistent);
    EXPECT_FALSE(harness.m_RecallWritten.empty());
    for (u32 s = 0; s < SCANNERS; ++s) {
        std::set<Target> expected = harness.m_Written;
        if (SCANNER_FILTER[s] == 1) {
            expected.insert(harness.m_RecallWritten.begin(), harness.m_RecallWritten.end());
        }
        EXPECT_EQ(harness.m_Seen[s].size(), expected.size()) << s;
        EXPECT_TRUE(harness.m_Seen[s] == expected) << s;
    }
    for (u32 d = 0; d < DATABASES; ++d) {
        EXPECT_EQ(harness.m_DB[d]->getComponentIndex(1), 0u);
        EXPECT_FALSE(harness.m_DB[d]->hasReservedComponents());
    }
}

TEST(SharedDBStress, CrossCopiesOnDifferentMutexesDoNotDeadlock)
{
    compo_test::registerGain();
    SimpleReadWriteMutex first;
    SimpleReadWriteMutex second;
    ParameterDB a;
    ParameterDB b;
    ASSERT_EQ(a.initialize(1, "A", &first), 0);
    ASSERT_EQ(b.initialize(2, "B", &second), 0);
    for (ComponentUID uid : {1u, 2u}) {
        ASSERT_EQ(a.addComponent(uid, "Gain", 1, 0, 0, 0), 0);
        ASSERT_EQ(b.addComponent(uid, "Gain", 1, 0, 0, 0), 0);
    }
    ASSERT_EQ(a.setValueInt(1, 0, 3, 1, 77, 0), 0);
    std::thread forward([&] {
        for (int i = 0; i < 300; ++i) {
            EXPECT_EQ(b.copyAllFrom(a, 0, 0), 0);
        }
    });
    std::thread backward([&] {
        for (int i = 0; i < 300; ++i) {
            EXPECT_EQ(a.copyComponentFrom(0, b, 0, 0), 0);
        }
    });
    forward.join();
    backward.join();
    EXPECT_EQ(b.getValueInt(1, 0, 3, 1, nullptr), 77);
}
