#include "pdb_MBDFPDBBlock.h"

#include <cstring>
#include <iterator>
#include <mutex>
#include <new>

#include "klib_Print.h"
#include "pdb_IParameterDB.h"

namespace PDB {

namespace {

size_t boundedLength(const char* text, size_t max)
{
    if (text == nullptr) {
        return 0;
    }
    size_t n = 0;
    while (n < max && text[n] != '\0') {
        ++n;
    }
    return n;
}

template <class T> i32 registerOnce(std::once_flag& flag, const char* tag)
{
    static FILECACHE::MBDFBlockFactory<T> factory;
    std::call_once(flag, [&] { FILECACHE::MBDF::registerBlockFactory(tag, &factory); });
    return 0;
}

} // namespace

std::string getPDBBlockKindText(const char* name)
{
    return std::string(name == nullptr ? "" : name, boundedLength(name, PDBBlock::NAME_LENGTH));
}

bool isPDBBlockKindOf(const FILECACHE::MBDFAbstractBlock& block, const char* name)
{
    return name != nullptr && block.getKind() == getPDBBlockKindText(name);
}

bool isSamePDBBlockKind(const char* a, const char* b)
{
    return getPDBBlockKindText(a) == getPDBBlockKindText(b);
}

// ---------------------------------------------------------------------------------------------------------------

bool MBDFPDBRecordBlock::isValid() const
{
    return getTag() == getClassTag() && getDataSize(false) != 0;
}

u32 MBDFPDBRecordBlock::getTagLength() const
{
    return PDBBlock::TAG_LENGTH;
}

i32 MBDFPDBRecordBlock::beginRecord(const char* name, const char* caller)
{
    clear();
    if (name == nullptr) {
        return PDBBlock::RESULT_BAD_ARGUMENT;
    }
    if (setTag(getClassTag()) < 0 || setKind(name) < 0) {
        clear();
        return PDBBlock::RESULT_BAD_ARGUMENT;
    }
    if (boundedLength(name, PDBBlock::NAME_LENGTH + 1) > PDBBlock::NAME_LENGTH) {
        KLIB_LOG("[W] %s - name [%s] is stored as [%s]\n", caller, name, getKind().c_str());
    }
    return 0;
}

i32 MBDFPDBRecordBlock::checkRecordSize(u64 size, const char* name, const char* caller)
{
    if (size > FILECACHE::kMBDFBlockLimit) {
        KLIB_LOG("[E] %s - [%s] record of %llu bytes is over the block limit\n", caller, name,
                 static_cast<unsigned long long>(size));
        return PDBBlock::RESULT_LIMIT_OVER;
    }
    return 0;
}

i32 MBDFPDBRecordBlock::setRecord(const char* name, const void* record, u32 size)
{
    static const char* const caller = "MBDFPDBRecordBlock::setRecord";
    i32 result = beginRecord(name, caller);
    if (result < 0) {
        return result;
    }
    if (record == nullptr || size == 0) {
        clear();
        return PDBBlock::RESULT_BAD_ARGUMENT;
    }
    result = checkRecordSize(size, name, caller);
    if (result < 0) {
        clear();
        return result;
    }
    result = setData(static_cast<const u8*>(record), size);
    if (result < 0) {
        clear();
        return result == FILECACHE::MBDFResult::kNoMemory ? PDBBlock::RESULT_NO_MEMORY : PDBBlock::RESULT_BAD_ARGUMENT;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------

namespace {

// Writes one byte of every page so that the page faults of a fresh part are taken before the database lock.
void touchPages(u8* part, u32 size)
{
    constexpr u32 PAGE = 4096;
    for (u32 at = 0; at < size; at += PAGE) {
        static_cast<volatile u8*>(part)[at] = 0;
    }
}

} // namespace

i32 MBDFPDBBlock::setup(const char* name, IParameterDB* database, u32 headerValue)
{
    static const char* const caller = "MBDFPDBBlock::setup";
    i32 result = beginRecord(name, caller);
    if (result < 0) {
        return result;
    }
    if (database == nullptr) {
        return PDBBlock::RESULT_BAD_ARGUMENT;
    }

    // The part is prepared for the size seen before the lock, so the lock is held for the export only (all
    // shared databases share one lock). The size that counts is taken again under the read lock, which is held
    // across size and export so that the table cannot grow between them; a table that changed in the meantime
    // gets a part of its new size. The database mutex is recursive, so the calls below may lock again.
    u32 preparedSize = database->getComponentTableSize();
    u8* part = nullptr;
    if (preparedSize != 0 && preparedSize <= FILECACHE::kMBDFBlockLimit) {
        part = allocatePart(preparedSize);
        if (part != nullptr) {
            touchPages(part, preparedSize);
        }
    }

    database->lockRead();
    const u32 size = database->getComponentTableSize();
    if (size == 0) {
        result = PDBBlock::RESULT_BAD_ARGUMENT;
    } else {
        result = checkRecordSize(size, name, caller);
    }
    if (result >= 0 && (part == nullptr || size != preparedSize)) {
        freePart(part);
        part = allocatePart(size);
        if (part == nullptr) {
            result = PDBBlock::RESULT_NO_MEMORY;
        }
    }
    if (result >= 0 && database->exportComponentTable(part, size, headerValue) < 0) {
        result = PDBBlock::RESULT_EXPORT_FAILED;
    }
    database->unlockRead();

    if (result < 0) {
        freePart(part);
        return result;
    }
    // The part becomes the data part as it is: no second copy of a record of up to 10 MiB.
    adoptData(part, size);
    return 0;
}

i32 MBDFPDBBlock::registerFactory()
{
    static std::once_flag flag;
    return registerOnce<MBDFPDBBlock>(flag, TAG);
}

i32 MBDFPDBPSBlock::registerFactory()
{
    static std::once_flag flag;
    return registerOnce<MBDFPDBPSBlock>(flag, TAG);
}

i32 MBDFPDBSSBlock::registerFactory()
{
    static std::once_flag flag;
    return registerOnce<MBDFPDBSSBlock>(flag, TAG);
}

// ---------------------------------------------------------------------------------------------------------------

i32 insertPDBBlock(FILECACHE::MBDF& container, u32 position, const FILECACHE::MBDFAbstractBlock& source)
{
    MBDFPDBBlock* block = new (std::nothrow) MBDFPDBBlock();
    if (block == nullptr) {
        return PDBBlock::RESULT_FAILED;
    }
    block->copyDeep(source);
    const bool infoLost = source.getInfo() != nullptr && block->getInfo() == nullptr;
    const bool dataLost = source.getData() != nullptr && block->getData() == nullptr;
    if (infoLost || dataLost) {
        delete block;
        return PDBBlock::RESULT_FAILED;
    }
    FILECACHE::MBDF::BlockList& list = container.getBlockList();
    auto where = list.end();
    if (position != 0xFFFFFFFFu && position < list.size()) {
        where = std::next(list.begin(), static_cast<std::ptrdiff_t>(position));
    }
    list.insert(where, block);
    return 0;
}

FILECACHE::MBDFAbstractBlock* getPDBBlock(FILECACHE::MBDF& container, u32 position)
{
    FILECACHE::MBDF::BlockList& list = container.getBlockList();
    if (position >= list.size()) {
        return nullptr;
    }
    FILECACHE::MBDFAbstractBlock* block = *std::next(list.begin(), static_cast<std::ptrdiff_t>(position));
    if (block == nullptr || block->isNull() || block->getTag() != MBDFPDBBlock::TAG) {
        return nullptr;
    }
    return block;
}

} // namespace PDB
