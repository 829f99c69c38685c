// Helpers of the shared-database suites: an observer that counts its notifications and a change scan.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>

#include "pdb_IParameterDB.h"

namespace shareddb_test {

using namespace PDB;

constexpr i32 BAD_ARGUMENT = static_cast<i32>(0x80000001u);
constexpr i32 REFUSED = static_cast<i32>(0x80000004u);
constexpr i32 NOT_SUPPORTED = static_cast<i32>(0x80080000u);
constexpr i32 INVALID_INDEX = static_cast<i32>(0x80000000u);
constexpr i32 NO_FURTHER_CHANGE = 0x200000;
constexpr u32 NONE = 0xFFFFFFFF;

// Counts both notifications; safe to call from any thread.
class CountingObserver : public IParameterDBCallback
{
public:
    i32 onParameterDBChanged() override
    {
        dbChanged.fetch_add(1);
        return 0;
    }
    i32 onParameterChanged() override
    {
        parameterChanged.fetch_add(1);
        return 0;
    }
    std::atomic<int> dbChanged{0};
    std::atomic<int> parameterChanged{0};
};

using Element = std::tuple<u32, u32, u32, u32>; // component, block, x, y

// Swaps the banks of callback index s and drains everything findNextChange reports.
inline std::set<Element> swapAndScan(IParameterDB& db, u32 s)
{
    std::set<Element> found;
    if (db.swapChangeFlags(s) < 0) {
        return found;
    }
    u32 component = 0;
    u32 block = 0;
    u32 x = 0;
    u32 y = 0;
    while (db.findNextChange(s, component, block, x, y, false) == 0) {
        found.emplace(component, block, x, y);
    }
    return found;
}

// One thread that runs the tasks handed to run(), one at a time, so that a test can act as a second thread
// across several steps.
class Worker
{
public:
    Worker() : m_Thread([this] { loop(); }) {}
    ~Worker()
    {
        {
            std::lock_guard<std::mutex> lock(m_Lock);
            m_Stop = true;
        }
        m_Wake.notify_all();
        m_Thread.join();
    }
    // Runs task on the worker and waits for it.
    void run(std::function<void()> task)
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        m_Task = std::move(task);
        m_Wake.notify_all();
        m_Wake.wait(lock, [this] { return !m_Task; });
    }

private:
    void loop()
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        for (;;) {
            m_Wake.wait(lock, [this] { return m_Stop || m_Task; });
            if (m_Task) {
                m_Task();
                m_Task = nullptr;
                m_Wake.notify_all();
            } else if (m_Stop) {
                return;
            }
        }
    }

    std::mutex m_Lock;
    std::condition_variable m_Wake;
    std::function<void()> m_Task;
    bool m_Stop = false;
    std::thread m_Thread;
};

} // namespace shareddb_test
