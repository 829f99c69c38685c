// ParameterDBCollection: the process-wide table of parameter databases, indexed by database id (below 20), and
// short-lived copies of it that hold private LocalParameterDB copies of every database (snapshot recall).
//
// The table is 20 atomic entries and an atomic size that never reallocate, so any thread may read it
// (getEntry, getSize, findInstance) while the device-control thread creates instances. An empty position or a
// position past the size reads as the shared ParameterDBNULL, never as a null pointer.
//
// Instances created by the collection are ParameterDBs living in a KLIB heap block tagged "PDB Instance" (a
// one-element array block from the caller's heap), returned to the same heap on deletion.
#pragma once

#include <atomic>
#include <mutex>

#include "klib_Types.h"
#include "pdb_IParameterDB.h"
#include "pdb_Result.h"

namespace PDB {

class ParameterDBCollection
{
public:
    static constexpr u32 CAPACITY = 20;
    static constexpr i32 RESULT_REFUSED = PDB::RESULT_BAD_ARGUMENT;
    static constexpr i32 RESULT_NO_MEMORY = PDB::RESULT_NO_MEMORY;
    static constexpr i32 RESULT_NOT_SUPPORTED = PDB::RESULT_NOT_SUPPORTED;

    // An empty table (not a copy).
    ParameterDBCollection();
    // A copy: the source's size, with a LocalParameterDB copy of every database at its position (taken under
    // that database's lockRead); a copy that cannot be made leaves the null database there.
    ParameterDBCollection(const ParameterDBCollection& source);
    ParameterDBCollection& operator=(const ParameterDBCollection&) = delete;
    // A copy deletes its copies; the process-wide collection deletes nothing.
    ~ParameterDBCollection();

    // The process-wide collection.
    static ParameterDBCollection& getCollection();

    // Creates a ParameterDB in heapId's heap, initialises it with (id, name, mutex; null mutex: the NullMutex)
    // and registers it at position id of the process-wide collection. 0x80040000 no memory; the initialise
    // failure (a name over 16 characters); 0x80000001 for an occupied position or an id of 20 or more. An
    // instance that cannot be registered is destroyed.
    static i32 createInstance(u32 id, const char* name, IMutex* mutex, u8 heapId);
    // Unregisters and destroys the instance at index of the process-wide collection: 0, or 0x80000001 when the
    // position is empty. No other thread may still use the instance (the application orders its shut-down so).
    static i32 deleteInstance(u32 index);
    // Position of the first database of the process-wide collection whose name equals name (null counts as
    // empty), or -1. Empty positions are not compared.
    static i32 findInstance(const char* name);
    // The database at index of the process-wide collection, or the null database.
    static IParameterDB& getInstance(u32 index);

    // The same on this collection. On a copy, create and remove refuse with 0x80080000 and change nothing.
    i32 create(u32 id, const char* name, IMutex* mutex, u8 heapId);
    i32 remove(u32 index);
    i32 find(const char* name) const;
    IParameterDB& getEntry(u32 index) const;
    u32 getSize() const { return m_size.load(std::memory_order_acquire); }
    bool isCopy() const { return m_isCopy; }

private:
    const bool m_isCopy;
    std::atomic<IParameterDB*> m_entries[CAPACITY]; // null: an empty position
    std::atomic<u32> m_size{0};
    std::mutex m_writerLock; // orders create and remove among themselves; readers take no lock
};

} // namespace PDB
