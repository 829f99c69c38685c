#include "pdb_BackupFile.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

#include "fcache_MBDF.h"
#include "fsw_api.h"
#include "klib_Print.h"
#include "pdb_ComponentTable.h"
#include "pdb_IParameterDB.h"
#include "pdb_MBDFPDBBlock.h"
#include "pdb_ParameterDB.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_ParameterDBNULL.h"

namespace PDB {

namespace {

// Nonvolatile parameters only, straight into storage.
constexpr ParameterFilter BACKUP_FILTER = 0x18;
constexpr u8 BACKUP_WRITE_FLAG = 0xFF;
// Room of the container's name text.
constexpr size_t CONTAINER_NAME_LENGTH = 16;

const char* nameOf(const IParameterDB* db)
{
    const char* name = db->getName();
    return name == nullptr ? "" : name;
}

// What orders the locks of several databases: the mutex of a shared database (the order in which every operation
// that holds two database locks takes them), the object itself for any other database.
const void* lockKeyOf(const IParameterDB* db)
{
    const ParameterDB* shared = dynamic_cast<const ParameterDB*>(db);
    return shared != nullptr ? static_cast<const void*>(&shared->getMutex()) : static_cast<const void*>(db);
}

// One "#PDB DB" block and the database it restores.
struct ImportTarget
{
    const FILECACHE::MBDFAbstractBlock* block;
    IParameterDB* database;
};

} // namespace

BackupFile::BackupFile() : m_version(0)
{
    FILECACHE::MBDFTopBlock::registerFactory();
    FILECACHE::MBDFEndBlock::registerFactory();
    MBDFPDBBlock::registerFactory();
}

BackupFile::~BackupFile() = default;

i32 BackupFile::setup(const char* name, u32 version, const std::vector<Entry>& databases, const char* baseDirectory)
{
    if (name == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    for (size_t i = 0; i < databases.size(); ++i) {
        if (databases[i].database == nullptr) {
            KLIB_LOG("[E] BackupFile::setup - database %u is missing\n", static_cast<u32>(i));
            return RESULT_BAD_ARGUMENT;
        }
        for (size_t j = 0; j < i; ++j) {
            if (isSamePDBBlockKind(nameOf(databases[i].database), nameOf(databases[j].database))) {
                KLIB_LOG("[E] BackupFile::setup - [%s] and [%s] share the block name [%s]\n",
                         nameOf(databases[j].database), nameOf(databases[i].database),
                         getPDBBlockKindText(nameOf(databases[i].database)).c_str());
                return RESULT_BAD_ARGUMENT;
            }
        }
    }
    m_name = name;
    m_version = version;
    m_databases = databases;
    m_baseDirectory = baseDirectory == nullptr ? "" : baseDirectory;
    if (!m_baseDirectory.empty()) {
        fsw_makeDir(m_baseDirectory.c_str());
    }
    return 0;
}

std::string BackupFile::makeFilePath(const char* fileName) const
{
    return FILECACHE::MBDF::makePath(m_baseDirectory.c_str(), fileName);
}

bool BackupFile::isListed(const char* name) const
{
    for (const Entry& entry : m_databases) {
        if (std::strcmp(nameOf(entry.database), name) == 0) {
            return true;
        }
    }
    return false;
}

i32 BackupFile::exportToFile(const char* fileName)
{
    if (fileName == nullptr) {
        KLIB_LOG("[E] BackupFile::exportToFile 1\n");
        return RESULT_BAD_ARGUMENT;
    }

    u8 fileId[FILECACHE::MBDFTopBlock::kFileIdSize] = {};
    i32 status = FILECACHE::makeUniqueFileId(fileId, sizeof(fileId));
    FILECACHE::MBDF container;
    status |= container.create(KIND, m_name.c_str(), m_version, fileId, sizeof(fileId));

    // Every database is attempted and each failure logged; one failure keeps the whole file from being written,
    // because a missing block would silently reset that database at the next start.
    for (const Entry& entry : m_databases) {
        const char* name = nameOf(entry.database);
        MBDFPDBBlock* block = new (std::nothrow) MBDFPDBBlock();
        i32 result = PDBBlock::RESULT_FAILED;
        if (block != nullptr) {
            result = block->setup(name, entry.database, entry.headerValue);
        }
        if (result < 0) {
            KLIB_LOG("[E] BackupFile::exportToFile - cannot add [%s] block!\n", name);
            delete block;
            status |= result;
            continue;
        }
        container.appendBlock(block);
    }

    if (status >= 0) {
        status = container.write(makeFilePath(fileName).c_str(), nullptr, nullptr, true);
    }
    if (status < 0) {
        KLIB_LOG("[E] BackupFile::exportToFile 2\n");
        return RESULT_NOT_WRITTEN;
    }
    return 0;
}

i32 BackupFile::importFromFile(const char* fileName)
{
    if (fileName == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    FILECACHE::MBDF container;
    if (container.read(makeFilePath(fileName).c_str(), true, nullptr, nullptr, 0) < 0) {
        return RESULT_READ_FAILED;
    }
    // The name text keeps 16 bytes of the name; compare with what was stored.
    const std::string storedName = m_name.substr(0, std::min(m_name.size(), CONTAINER_NAME_LENGTH));
    if (!container.isKind(KIND) || !container.isName(storedName.c_str())) {
        return RESULT_WRONG_FILE;
    }
    if (!container.isValid()) {
        return RESULT_MALFORMED;
    }

    // Pair every "#PDB DB" block with the listed databases of the collection that it names.
    std::vector<ImportTarget> targets;
    std::vector<IParameterDB*> locked;
    const u32 count = ParameterDBCollection::getCollection().getSize();
    for (auto it = container.beginBlocks(); it != container.endBlocks(); ++it) {
        const FILECACHE::MBDFAbstractBlock* block = container.getBlock(it);
        if (block->getTag() != MBDFPDBBlock::TAG || block->getData() == nullptr) {
            continue;
        }
        for (u32 position = 0; position < count; ++position) {
            IParameterDB* db = &ParameterDBCollection::getInstance(position);
            if (db == &ParameterDBNULL::getInstance()) {
                continue;
            }
            const char* name = nameOf(db);
            if (!isListed(name) || !isPDBBlockKindOf(*block, name)) {
                continue;
            }
            targets.push_back({block, db});
        }
    }
    for (u32 position = 0; position < count; ++position) {
        IParameterDB* db = &ParameterDBCollection::getInstance(position);
        const bool isTarget = std::any_of(targets.begin(), targets.end(),
                                          [db](const ImportTarget& target) { return target.database == db; });
        if (isTarget) {
            locked.push_back(db);
        }
    }
    // Databases on different mutexes are locked in mutex address order, as the database copy operations do, so
    // that a copy between two of them on another thread cannot deadlock with this import.
    std::stable_sort(locked.begin(), locked.end(), [](const IParameterDB* a, const IParameterDB* b) {
        return std::less<const void*>()(lockKeyOf(a), lockKeyOf(b));
    });

    // Check every block against its target before any is imported, holding the targets' write locks until the
    // imports are done, so nothing changes between check and import.
    for (IParameterDB* db : locked) {
        db->lockWrite();
    }
    i32 status = 0;
    for (const ImportTarget& target : targets) {
        const i32 result = checkComponentTable(*target.database, target.block->getData(),
                                               target.block->getDataSize(false), BACKUP_FILTER);
        if (result < 0) {
            KLIB_LOG("[E] BackupFile::importFromFile - [%s] block is damaged (%x)\n", nameOf(target.database),
                     static_cast<u32>(result));
            status = RESULT_MALFORMED;
        }
    }
    if (status >= 0) {
        for (const ImportTarget& target : targets) {
            const i32 result = target.database->importComponentTable(
                target.block->getData(), target.block->getDataSize(false), BACKUP_FILTER, BACKUP_WRITE_FLAG);
            if (result < 0) {
                KLIB_LOG("[E] BackupFile::importFromFile - [%s] import failed (%x)\n", nameOf(target.database),
                         static_cast<u32>(result));
            }
            status |= result;
        }
    }
    for (auto it = locked.rbegin(); it != locked.rend(); ++it) {
        (*it)->unlockWrite();
    }
    return status < 0 ? RESULT_MALFORMED : 0;
}

} // namespace PDB
