// SimpleReadWriteMutex: the lock that the application hands to every shared parameter database. Reading and
// writing take the same recursive exclusive mutex, so readers exclude each other too and the holding thread may
// lock again (database operations call other locking operations of the same database while they hold it).
#pragma once

#include <mutex>

#include "pdb_IParameterDB.h"

namespace PDB {

class SimpleReadWriteMutex final : public IMutex
{
public:
    SimpleReadWriteMutex() = default;
    SimpleReadWriteMutex(const SimpleReadWriteMutex&) = delete;
    SimpleReadWriteMutex& operator=(const SimpleReadWriteMutex&) = delete;
    ~SimpleReadWriteMutex() override = default;

    // Each blocks until the calling thread holds the mutex; 0.
    i32 lockRead() override;
    i32 lockWrite() override;
    // Each gives up one level of the calling thread's hold; 0. Must pair with a lock of the same thread.
    i32 unlockRead() override;
    i32 unlockWrite() override;

private:
    std::recursive_mutex m_mutex;
};

} // namespace PDB
