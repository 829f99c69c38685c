// NullMutex, the lock that does nothing (the default of a database until it is initialised), and the two scoped
// lock holders of the databases.
#pragma once

#include "pdb_IParameterDB.h"

namespace PDB {

// Every operation does nothing and returns 0. One shared instance (getInstance), never freed by its users.
class NullMutex final : public IMutex
{
public:
    static NullMutex& getInstance();

    i32 lockRead() override { return 0; }
    i32 unlockRead() override { return 0; }
    i32 lockWrite() override { return 0; }
    i32 unlockWrite() override { return 0; }
};

// lockRead on construction, unlockRead on destruction; of a mutex or of a database.
template <class Lockable> class ReadLock
{
public:
    explicit ReadLock(Lockable& mutex) : m_mutex(mutex) { m_mutex.lockRead(); }
    ~ReadLock() { m_mutex.unlockRead(); }
    ReadLock(const ReadLock&) = delete;
    ReadLock& operator=(const ReadLock&) = delete;

private:
    Lockable& m_mutex;
};

// lockWrite on construction, unlockWrite on destruction; of a mutex or of a database.
template <class Lockable> class WriteLock
{
public:
    explicit WriteLock(Lockable& mutex) : m_mutex(mutex) { m_mutex.lockWrite(); }
    ~WriteLock() { m_mutex.unlockWrite(); }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

private:
    Lockable& m_mutex;
};

} // namespace PDB
