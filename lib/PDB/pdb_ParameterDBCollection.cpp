#include "pdb_ParameterDBCollection.h"

#include <cstring>
#include <new>

#include "klib_HeapManager.h"
#include "pdb_LocalParameterDB.h"
#include "pdb_NullMutex.h"
#include "pdb_ParameterDB.h"
#include "pdb_ParameterDBNULL.h"

namespace PDB {

namespace {

static_assert(alignof(ParameterDB) <= 8, "heap blocks are 8-byte aligned");

ParameterDB* allocateInstance(u8 heapId)
{
    void* block = KLIB::allocateBlockWithCount(heapId, "PDB Instance", sizeof(ParameterDB), 1);
    if (block == nullptr) {
        return nullptr;
    }
    return new (block) ParameterDB();
}

void destroyInstance(IParameterDB* instance)
{
    ParameterDB* db = static_cast<ParameterDB*>(instance);
    db->~ParameterDB();
    KLIB::releaseBlock(db);
}

bool sameName(const char* a, const char* b)
{
    return std::strcmp(a != nullptr ? a : "", b != nullptr ? b : "") == 0;
}

} // namespace

ParameterDBCollection::ParameterDBCollection() : m_isCopy(false)
{
    for (std::atomic<IParameterDB*>& entry : m_entries) {
        entry.store(nullptr);
    }
}

ParameterDBCollection::ParameterDBCollection(const ParameterDBCollection& source) : m_isCopy(true)
{
    for (std::atomic<IParameterDB*>& entry : m_entries) {
        entry.store(nullptr);
    }
    const u32 size = source.getSize();
    for (u32 i = 0; i < size; ++i) {
        IParameterDB* original = source.m_entries[i].load(std::memory_order_acquire);
        if (original == nullptr) {
            continue;
        }
        original->lockRead();
        LocalParameterDB* copy = new (std::nothrow) LocalParameterDB(*original);
        original->unlockRead();
        if (copy != nullptr && copy->getLastResult() < 0) {
            delete copy;
            copy = nullptr;
        }
        if (copy != nullptr) {
            copy->setIdentity(original->getDBId(), original->getName()); // also for a database without components
        }
        m_entries[i].store(copy, std::memory_order_release);
    }
    m_size.store(size, std::memory_order_release);
}

ParameterDBCollection::~ParameterDBCollection()
{
    if (!m_isCopy) {
        return;
    }
    for (std::atomic<IParameterDB*>& entry : m_entries) {
        delete entry.exchange(nullptr);
    }
}

ParameterDBCollection& ParameterDBCollection::getCollection()
{
    static ParameterDBCollection collection;
    return collection;
}

i32 ParameterDBCollection::create(u32 id, const char* name, IMutex* mutex, u8 heapId)
{
    if (m_isCopy) {
        return RESULT_NOT_SUPPORTED;
    }
    ParameterDB* db = allocateInstance(heapId);
    if (db == nullptr) {
        return RESULT_NO_MEMORY;
    }
    const i32 result = db->initialize(id, name, mutex);
    if (result < 0) {
        destroyInstance(db);
        return result;
    }
    std::lock_guard<std::mutex> writer(m_writerLock);
    if (db->getDBId() >= CAPACITY || m_entries[db->getDBId()].load() != nullptr) {
        destroyInstance(db);
        return RESULT_REFUSED;
    }
    const u32 position = db->getDBId();
    m_entries[position].store(db, std::memory_order_release);
    if (position >= m_size.load()) {
        m_size.store(position + 1, std::memory_order_release);
    }
    return 0;
}

i32 ParameterDBCollection::remove(u32 index)
{
    if (m_isCopy) {
        return RESULT_NOT_SUPPORTED;
    }
    IParameterDB* db = nullptr;
    {
        std::lock_guard<std::mutex> writer(m_writerLock);
        if (index >= CAPACITY) {
            return RESULT_REFUSED;
        }
        db = m_entries[index].exchange(nullptr, std::memory_order_acq_rel);
    }
    if (db == nullptr) {
        return RESULT_REFUSED;
    }
    destroyInstance(db);
    return 0;
}

i32 ParameterDBCollection::find(const char* name) const
{
    const u32 size = getSize();
    for (u32 i = 0; i < size; ++i) {
        const IParameterDB* db = m_entries[i].load(std::memory_order_acquire);
        if (db != nullptr && sameName(db->getName(), name)) {
            return static_cast<i32>(i);
        }
    }
    return -1;
}

IParameterDB& ParameterDBCollection::getEntry(u32 index) const
{
    if (index < getSize()) {
        IParameterDB* db = m_entries[index].load(std::memory_order_acquire);
        if (db != nullptr) {
            return *db;
        }
    }
    return ParameterDBNULL::getInstance();
}

i32 ParameterDBCollection::createInstance(u32 id, const char* name, IMutex* mutex, u8 heapId)
{
    return getCollection().create(id, name, mutex, heapId);
}

i32 ParameterDBCollection::deleteInstance(u32 index)
{
    return getCollection().remove(index);
}

i32 ParameterDBCollection::findInstance(const char* name)
{
    return getCollection().find(name);
}

IParameterDB& ParameterDBCollection::getInstance(u32 index)
{
    return getCollection().getEntry(index);
}

} // namespace PDB
