// Probes for the database suites and those above them that watch when change notices come.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "pdb_IParameterDB.h"

namespace pdbtest {

// A database mutex that counts the levels held, so that an observer can tell whether it runs under the lock.
class DepthMutex : public PDB::IMutex
{
public:
    i32 lockRead() override;
    i32 unlockRead() override;
    i32 lockWrite() override;
    i32 unlockWrite() override;

    std::atomic<int> m_depth{0};

private:
    std::recursive_mutex m_mutex;
};

// Stands for a thread subscribed to a database: records the mutex's depth at each value-change notice.
class DepthObserver : public PDB::IParameterDBCallback
{
public:
    explicit DepthObserver(const DepthMutex& mutex) : m_mutex(mutex) {}
    i32 onParameterDBChanged() override { return 0; }
    i32 onParameterChanged() override;

    const DepthMutex& m_mutex;
    std::vector<int> m_depths;
};

} // namespace pdbtest
