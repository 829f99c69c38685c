#include "pdb_ProjectFile.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <vector>

#include "fcache_BinaryAccessor.h"
#include "fcache_MBDFAbstractBlock.h"
#include "fcache_MBDFFileBlock.h"
#include "fsw_api.h"
#include "klib_Print.h"
#include "klib_Variant.h"
#include "mms_SelectedItemLoader.h"
#include "os_Clock.h"
#include "pdb_MBDFPDBBlock.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_ParameterInfo.h"

namespace PDB {

const char* const ProjectFile::INFO_ADDRESSES[INFO_COUNT] = {
    "/Info/ProductName",      "/Info/ProductSubName",  "/Info/Comment",       "/Info/OwnerName",
    "/Info/TimeStamp/Year",   "/Info/TimeStamp/Month", "/Info/TimeStamp/Day", "/Info/TimeStamp/Hour",
    "/Info/TimeStamp/Minute", "/Info/TimeStamp/Second"};

namespace {

using FILECACHE::FileAccessor;
using FILECACHE::IMBDFObserver;
using FILECACHE::MBDF;
using FILECACHE::MBDFAbstractBlock;
using FILECACHE::MBDFFileBlock;

constexpr u8 WRITE_FLAG_NONE = 0xFF;
constexpr ParameterFilter INFO_IMPORT_FILTER = 8;

// Name parts of the folders a load stages its items in, beside each item folder: "." + folder name + part +
// unique suffix. A name of either pattern is never stored and is removed by the next load of that item.
constexpr const char* STAGING_PART = ".prjnew-";
constexpr const char* ASIDE_PART = ".prjold-";

bool isCancelled(const bool* cancel)
{
    return cancel != nullptr && __atomic_load_n(cancel, __ATOMIC_ACQUIRE);
}

IMBDFObserver& observerOrDummy(IMBDFObserver* observer)
{
    static FILECACHE::DummyMBDFObserver dummy;
    return observer != nullptr ? *observer : dummy;
}

bool isStagingName(const char* name)
{
    return name[0] == '.' && (std::strstr(name, STAGING_PART) != nullptr || std::strstr(name, ASIDE_PART) != nullptr);
}

enum class EntryKind { Missing, Regular, Link, Directory, Other };

// Judges an entry without following a final symbolic link.
EntryKind judgeEntry(const std::string& path)
{
    u32 type = FSW_ENTRY_UNKNOWN;
    if (fsw_getEntryType(&type, path.c_str()) != FSW_OK) {
        return EntryKind::Missing;
    }
    switch (type) {
    case FSW_ENTRY_FILE:
        return EntryKind::Regular;
    case FSW_ENTRY_FOLDER:
        return EntryKind::Directory;
    case FSW_ENTRY_LINK:
        return EntryKind::Link;
    default:
        return EntryKind::Other; // pipes, sockets and devices: opening a pipe would block
    }
}

// Calls visit(name) for every entry of the folder but "." and ".."; false when the folder cannot be listed.
template <class Visit> bool forEachEntry(const std::string& dirPath, Visit visit)
{
    FswDir* dir = nullptr;
    if (fsw_openDir(&dir, dirPath.c_str()) != FSW_OK) {
        return false;
    }
    const char* name = nullptr;
    while (fsw_readDirEntry(dir, &name, nullptr) == FSW_OK) {
        if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
            visit(std::string(name));
        }
    }
    fsw_closeDir(dir);
    return true;
}

// Removes a file, a link or a folder with everything in it, read-only entries included; links are never followed.
bool removeTree(const std::string& path)
{
    return fsw_removeTree(path.c_str()) == FSW_OK;
}

std::string uniqueSuffix()
{
    static std::atomic<u32> counter{0};
    char text[48];
    std::snprintf(text, sizeof(text), "%ld-%u", static_cast<long>(::getpid()), counter.fetch_add(1) + 1);
    return text;
}

// Splits a folder path into parent and last name ("." for a bare name, "/" for a top-level folder).
void splitPath(const std::string& path, std::string& parent, std::string& base)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    const size_t slash = trimmed.rfind('/');
    if (slash == std::string::npos) {
        parent = ".";
        base = trimmed;
    } else {
        parent = slash == 0 ? "/" : trimmed.substr(0, slash);
        base = trimmed.substr(slash + 1);
    }
}

std::string joinPath(const std::string& parent, const std::string& name)
{
    return parent == "/" ? "/" + name : parent + "/" + name;
}

bool renamePath(const std::string& from, const std::string& to)
{
    return fsw_move(from.c_str(), to.c_str()) == FSW_OK;
}

// The index of the first component that holds the address, or 0xFFFFFFFF.
u32 findComponentWith(const IParameterDB& db, const char* address)
{
    const u32 slots = db.getComponentSlotCount();
    for (u32 i = 0; i < slots; ++i) {
        const ComponentUID uid = db.getComponentUID(i);
        if (uid != INVALID_COMPONENT_UID && db.getBlockIndex(uid, address) != 0xFFFFFFFF) {
            return i;
        }
    }
    return 0xFFFFFFFF;
}

} // namespace

namespace {

// One load's extraction into the item folders. Every item folder that takes part is filled in a fresh staging
// folder beside it; the staging folders are swapped in only when every stored file and staging folder is on the
// disk. Until the swap the item folders are untouched; a failed swap takes back the swaps made before it.
//   stage    clears leftovers of unfinished loads and makes the staging folders (and missing parents)
//   extract  writes the stored files into the staging folders, without a sync each
//   sync     gives the staging folders their final permission bits and puts everything on the disk
//   swap     exchanges each staging folder with its item folder (or renames it in when there was none)
//   commit   makes the swaps durable and removes the previous contents
//   rollback removes the staging folders and the parents made, and takes back the swaps
class StagedLoad
{
public:
    StagedLoad(const ProjectFile::ItemMap& items, MBDF& container, FileAccessor& file, IMBDFObserver& observer,
               const bool* cancel)
        : m_items(items), m_container(container), m_file(file), m_observer(observer), m_cancel(cancel)
    {
    }

    i32 stage();
    i32 extract(const char* path);
    bool sync();
    bool swap();
    void commit();
    void rollback();

private:
    struct Item
    {
        std::string dir;     // the item folder as configured (used in texts)
        std::string realDir; // the folder the swap acts on
        std::string parent;
        std::string base;
        std::string staging; // empty: the item takes no part in this load
        std::string aside;   // where the item folder waits while a file system without exchange swaps
        u32 mode = 0;        // permission bits the staging folder takes once it is filled (existing folders)
        bool existed = false;
        bool swapped = false;
        bool shared = false; // uses the staging folder of an earlier item with the same folder
    };

    bool owns(const Item& item) const { return !item.staging.empty() && !item.shared; }
    i32 keepPermissions(const Item& item, const std::string& name, const MBDFFileBlock& block);
    i32 stageItem(const std::string& name, const std::string& dir, bool filled);
    void clearLeftovers(Item& item);
    void noteMissingParents(const std::string& parent);
    bool swapIn(Item& item);
    void swapBack(Item& item);

    const ProjectFile::ItemMap& m_items;
    MBDF& m_container;
    FileAccessor& m_file;
    IMBDFObserver& m_observer;
    const bool* m_cancel;
    std::map<std::string, Item> m_staged;
    std::vector<std::string> m_madeParents; // each chain from the outermost folder
    std::vector<std::string> m_stagedFiles;
    std::vector<Item*> m_swapped;
};

i32 StagedLoad::stage()
{
    // Which items have stored files.
    std::set<std::string> filled;
    for (auto it = m_container.beginBlocks(); it != m_container.endBlocks(); ++it) {
        MBDFAbstractBlock* block = m_container.getBlock(it);
        if (block->getTag() == MBDFFileBlock::kTag && m_items.count(block->getKind()) != 0) {
            filled.insert(block->getKind());
        }
    }
    for (const auto& item : m_items) {
        const i32 result = stageItem(item.first, item.second, filled.count(item.first) != 0);
        if (result != 0) {
            return result;
        }
    }
    return 0;
}

i32 StagedLoad::stageItem(const std::string& name, const std::string& dir, bool filled)
{
    Item& item = m_staged[name];
    item.dir = dir;
    if (dir.empty()) {
        KLIB_LOG("[E] ProjectFile::extract - item [%s] has no folder!\n", name.c_str());
        return ProjectFile::RESULT_FAILED;
    }
    std::string resolved = dir;
    u32 attributes = 0;
    if (fsw_getAttributes(&attributes, dir.c_str()) == FSW_OK) {
        if ((attributes & FSW_ATTR_DIRECTORY) == 0) {
            KLIB_LOG("[E] ProjectFile::extract - [%s] is not a folder!\n", dir.c_str());
            return ProjectFile::RESULT_FAILED;
        }
        // A folder reached through a link is replaced where it lies; the link stays.
        char real[PATH_MAX];
        if (fsw_realPath(real, sizeof(real), dir.c_str()) == FSW_OK) {
            resolved = real;
        }
        item.existed = true;
    }
    item.realDir = resolved;
    // Items that share a folder share its staging folder; the first of them swaps it in.
    for (const auto& other : m_staged) {
        if (&other.second != &item && !other.second.staging.empty() && other.second.realDir == resolved) {
            item.staging = other.second.staging;
            item.shared = true;
            return 0;
        }
    }
    splitPath(resolved, item.parent, item.base);
    if (item.base.empty() || item.base == "/" || item.base == "." || item.base == "..") {
        KLIB_LOG("[E] ProjectFile::extract - [%s] cannot be replaced!\n", dir.c_str());
        return ProjectFile::RESULT_FAILED;
    }
    clearLeftovers(item);
    if (!item.existed && !filled) {
        return 0; // nothing to empty, nothing to write
    }
    if (!item.existed) {
        noteMissingParents(item.parent);
        if ((fsw_makeDir(item.parent.c_str()) & 0x80000000u) != 0) {
            KLIB_LOG("[E] ProjectFile::extract - cannot make a directory! [%s]\n", item.parent.c_str());
            return ProjectFile::RESULT_FAILED;
        }
    }
    // A new item folder gets the usual bits at once; an existing one's bits are applied once it is filled.
    if (item.existed && fsw_getPermissions(&item.mode, item.realDir.c_str()) != FSW_OK) {
        item.mode = 0777;
    }
    const std::string staging = joinPath(item.parent, "." + item.base + STAGING_PART + uniqueSuffix());
    if (fsw_makeFolder(staging.c_str(), item.existed ? 0700 : 0777) != FSW_OK) {
        KLIB_LOG("[E] ProjectFile::extract - cannot make a directory! [%s]\n", staging.c_str());
        return ProjectFile::RESULT_FAILED;
    }
    item.staging = staging;
    return 0;
}

// Leftovers of a load that did not finish: a folder put aside while its item folder is missing is the item's
// content and goes back; everything else of the two patterns is removed.
void StagedLoad::clearLeftovers(Item& item)
{
    const std::string stagingPrefix = "." + item.base + STAGING_PART;
    const std::string asidePrefix = "." + item.base + ASIDE_PART;
    std::vector<std::string> leftovers;
    forEachEntry(item.parent, [&](const std::string& name) {
        if (name.compare(0, stagingPrefix.size(), stagingPrefix) == 0 ||
            name.compare(0, asidePrefix.size(), asidePrefix) == 0) {
            leftovers.push_back(name);
        }
    });
    for (const std::string& name : leftovers) {
        const std::string leftover = joinPath(item.parent, name);
        if (!item.existed && name.compare(0, asidePrefix.size(), asidePrefix) == 0 &&
            renamePath(leftover, item.realDir)) {
            item.existed = true;
            continue;
        }
        removeTree(leftover);
    }
}

// Records the folders that making parent will create, so a load that does not finish can remove them.
void StagedLoad::noteMissingParents(const std::string& parent)
{
    std::vector<std::string> missing;
    std::string probe = parent;
    u32 type = FSW_ENTRY_UNKNOWN;
    while (fsw_getEntryType(&type, probe.c_str()) == FSW_E_NOT_FOUND) {
        missing.push_back(probe);
        std::string up;
        std::string ignored;
        splitPath(probe, up, ignored);
        if (up == probe) {
            break;
        }
        probe = up;
    }
    m_madeParents.insert(m_madeParents.end(), missing.rbegin(), missing.rend());
}

i32 StagedLoad::extract(const char* path)
{
    const u32 total = m_container.getBlockCount();
    u32 index = 0;
    for (auto it = m_container.beginBlocks(); it != m_container.endBlocks(); ++it, ++index) {
        MBDFAbstractBlock* block = m_container.getBlock(it);
        if (block->getTag() != MBDFFileBlock::kTag) {
            continue;
        }
        const auto found = m_staged.find(block->getKind());
        if (found == m_staged.end() || found->second.staging.empty()) {
            continue;
        }
        auto* fileBlock = static_cast<MBDFFileBlock*>(block);
        const std::string storedName = fileBlock->getFileName();
        // Texts show the name escaped and bounded, so a crafted name cannot forge or flood a line; the file
        // itself is written under the exact name.
        const std::string target = found->second.dir + "/" + MBDFFileBlock::printableName(storedName);
        if (isCancelled(m_cancel)) {
            m_observer.onProgress(0, index, total, target.c_str(), "Aborted.", true);
            return ProjectFile::RESULT_ABORTED;
        }
        m_observer.onProgress(0, index, total, target.c_str(), "Extracting files...", false);
        i32 result = m_container.loadBlockData(it, &m_file);
        if (result >= 0) {
            result = static_cast<i32>(fileBlock->exportFileUnsynced(found->second.staging.c_str(), nullptr));
        }
        if (result >= 0) {
            m_stagedFiles.push_back(found->second.staging + "/" + storedName);
            result = keepPermissions(found->second, storedName, *fileBlock);
        }
        m_container.releaseBlockData(it);
        if (result < 0) {
            KLIB_LOG("[E] ProjectFile::extract - cannot extract [%s]! (%x)\n", target.c_str(),
                     static_cast<u32>(result));
            if (!FileAccessor::exists(path)) {
                m_observer.onError(0, path, ProjectFile::ERROR_UNREADABLE);
            }
            return ProjectFile::RESULT_FAILED;
        }
    }
    if (isCancelled(m_cancel)) {
        m_observer.onProgress(0, total, total, path, "Aborted.", true);
        return ProjectFile::RESULT_ABORTED;
    }
    return 0;
}

// A stored file that replaces a regular file of the item folder takes that file's permission bits, so a private
// file stays private and an executable one stays executable; the block's read-only flag still applies on top.
// A new file keeps the bits it was created with.
i32 StagedLoad::keepPermissions(const Item& item, const std::string& name, const MBDFFileBlock& block)
{
    if (!item.existed) {
        return 0;
    }
    const std::string previous = item.realDir + "/" + name;
    u32 type = FSW_ENTRY_UNKNOWN;
    u32 bits = 0;
    if (fsw_getEntryType(&type, previous.c_str()) != FSW_OK || type != FSW_ENTRY_FILE ||
        fsw_getPermissions(&bits, previous.c_str()) != FSW_OK) {
        return 0;
    }
    const std::string staged = item.staging + "/" + name;
    const u32 flags = block.getFlags();
    if (fsw_setPermissions(bits & 0777, staged.c_str()) != FSW_OK ||
        FileAccessor::setAttributes(staged.c_str(), (flags & MBDFFileBlock::kFlagReadOnly) != 0,
                                    (flags & MBDFFileBlock::kFlagHidden) != 0,
                                    (flags & MBDFFileBlock::kFlagSystem) != 0) < 0) {
        return ProjectFile::RESULT_FAILED;
    }
    return 0;
}

bool StagedLoad::sync()
{
    // The staging folders of existing items take their bits only now: a read-only item folder would have refused
    // the extracted files.
    for (const auto& entry : m_staged) {
        const Item& item = entry.second;
        if (owns(item) && item.existed && fsw_setPermissions(item.mode, item.staging.c_str()) != FSW_OK) {
            KLIB_LOG("[E] ProjectFile::extract - cannot set the mode of [%s]! (%d)\n", item.staging.c_str(), errno);
            return false;
        }
    }
    // Nothing is swapped in before every staged file and staging folder is on the disk.
    for (const std::string& stagedPath : m_stagedFiles) {
        if (fsw_syncPath(stagedPath.c_str()) != FSW_OK) {
            KLIB_LOG("[E] ProjectFile::extract - cannot sync [%s]! (%d)\n", stagedPath.c_str(), errno);
            return false;
        }
    }
    for (const auto& entry : m_staged) {
        const Item& item = entry.second;
        if (owns(item) && fsw_syncPath(item.staging.c_str()) != FSW_OK) {
            KLIB_LOG("[E] ProjectFile::extract - cannot sync [%s]! (%d)\n", item.staging.c_str(), errno);
            return false;
        }
    }
    return true;
}

// After the swap the staging path holds the previous content (none for a new item folder).
bool StagedLoad::swapIn(Item& item)
{
    if (!item.existed) {
        return renamePath(item.staging, item.realDir);
    }
    item.aside = joinPath(item.parent, "." + item.base + ASIDE_PART + uniqueSuffix());
    return fsw_exchange(item.staging.c_str(), item.realDir.c_str(), item.aside.c_str()) == FSW_OK;
}

void StagedLoad::swapBack(Item& item)
{
    if (item.existed) {
        // Best effort: a swap that cannot be taken back leaves the complete new content in place.
        (void)fsw_exchange(item.staging.c_str(), item.realDir.c_str(), item.aside.c_str());
    } else {
        renamePath(item.realDir, item.staging);
    }
    item.swapped = false;
}

bool StagedLoad::swap()
{
    for (auto& entry : m_staged) {
        Item& item = entry.second;
        if (!owns(item)) {
            continue;
        }
        if (!swapIn(item)) {
            KLIB_LOG("[E] ProjectFile::extract - cannot replace [%s]! (%d)\n", item.dir.c_str(), errno);
            return false;
        }
        item.swapped = true;
        m_swapped.push_back(&item);
    }
    return true;
}

void StagedLoad::commit()
{
    // The swaps cannot be taken back any more, so a failure to make them durable is only reported.
    std::set<std::string> parents;
    for (const Item* item : m_swapped) {
        parents.insert(item->parent);
    }
    // Folders made for missing parents are entries of their own parents.
    for (const std::string& made : m_madeParents) {
        std::string up;
        std::string ignored;
        splitPath(made, up, ignored);
        parents.insert(up);
    }
    for (const std::string& parent : parents) {
        if (fsw_syncFolder(parent.c_str()) != FSW_OK) {
            KLIB_LOG("[W] ProjectFile::extract - cannot sync [%s]\n", parent.c_str());
        }
    }
    for (const Item* item : m_swapped) {
        if (item->existed && !removeTree(item->staging)) {
            KLIB_LOG("[W] ProjectFile::extract - cannot remove the previous content [%s]\n", item->staging.c_str());
        }
    }
}

void StagedLoad::rollback()
{
    for (auto it = m_swapped.rbegin(); it != m_swapped.rend(); ++it) {
        swapBack(**it);
    }
    m_swapped.clear();
    for (auto& entry : m_staged) {
        if (owns(entry.second)) {
            removeTree(entry.second.staging);
        }
    }
    // A load that does not finish leaves no folder behind; the innermost go first, and only while empty.
    for (auto it = m_madeParents.rbegin(); it != m_madeParents.rend(); ++it) {
        fsw_removeDir(it->c_str(), false);
    }
}

} // namespace

ProjectFile::ProjectFile() : m_version(0), m_tableHeaderValue(0), m_replacePrevious(0), m_loader(nullptr)
{
    FILECACHE::MBDFTopBlock::registerFactory();
    FILECACHE::MBDFEndBlock::registerFactory();
    MBDFFileBlock::registerFactory();
    MBDFPDBBlock::registerFactory();
}

ProjectFile::~ProjectFile() = default;

// ---- set-up ---------------------------------------------------------------------------------------------------

i32 ProjectFile::initialize(const char* modelTag, u32 version, u32 tableHeaderValue, const ItemMap& items,
                            MMSFUNC::SelectedItemLoader* loader, u8 replacePrevious)
{
    if (modelTag == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    for (const auto& item : items) {
        // The item name is the kind text of its "#FILE" blocks: a longer one would be cut and never matched.
        if (item.first.size() > MAX_ITEM_NAME || item.first.find('\0') != std::string::npos) {
            KLIB_LOG("[E] ProjectFile::initialize - unusable item name! [%s]\n", item.first.c_str());
            return RESULT_BAD_ARGUMENT;
        }
    }
    m_modelTag = modelTag;
    m_version = version;
    m_tableHeaderValue = tableHeaderValue;

    const i32 position = ParameterDBCollection::findInstance(INFO_DB_NAME);
    IParameterDB& source = ParameterDBCollection::getInstance(position >= 0 ? static_cast<u32>(position) : 0xFFFFFFFF);
    if (position >= 0 && source.hasOwnerThread()) {
        source.lockRead();
        m_info.copyFrom(source);
        // Values are copied as they are read, each keeping its kind.
        const u32 slots = source.getComponentSlotCount();
        for (u32 c = 0; c < slots; ++c) {
            const u32 blocks = source.getBlockCount(c);
            for (u32 b = 0; b < blocks; ++b) {
                const ParameterInfo* info = source.getParameterInfo(c, b);
                if (info == nullptr) {
                    continue;
                }
                for (u32 x = 0; x < info->getCountX(); ++x) {
                    for (u32 y = 0; y < info->getCountY(); ++y) {
                        KVariant value;
                        if (source.getValue(value, c, b, x, y, nullptr) >= 0) {
                            m_info.setValue(c, b, x, y, value, WRITE_FLAG_NONE);
                        }
                    }
                }
            }
        }
        source.unlockRead();
        resolveInfoAddresses();
        m_info.setValueString(m_addresses[INFO_PRODUCT_NAME], 0, 0, m_modelTag.c_str(), WRITE_FLAG_NONE);
        m_info.setValueString(m_addresses[INFO_PRODUCT_SUB_NAME], 0, 0, "", WRITE_FLAG_NONE);
    }

    m_items = items;
    if (loader != nullptr) {
        m_loader = loader;
    }
    m_currentFileName.clear();
    m_replacePrevious = replacePrevious;
    return 0;
}

void ProjectFile::resolveInfoAddresses()
{
    for (u32 i = 0; i < INFO_COUNT; ++i) {
        const u32 component = findComponentWith(m_info, INFO_ADDRESSES[i]);
        if (component == 0xFFFFFFFF) {
            m_addresses[i].reset();
            continue;
        }
        m_addresses[i] = m_info.resolveAddress(m_info.getComponentUID(component), INFO_ADDRESSES[i]);
    }
}

// ---- listing --------------------------------------------------------------------------------------------------

i32 ProjectFile::addItem(const char* path, EntryMap& entries)
{
    if (path == nullptr || path[0] == '\0') {
        return RESULT_FAILED;
    }
    if (std::strcmp(path, ".") == 0 || std::strcmp(path, "..") == 0) {
        return 0;
    }
    u32 attributes = 0;
    if (fsw_getAttributes(&attributes, path) != FSW_OK) {
        KLIB_LOG("[E] ProjectFile::addItem - cannot read a file attribution! [%s]\n", path);
        return RESULT_FAILED;
    }
    if ((attributes & FSW_ATTR_DIRECTORY) != 0) {
        FswDir* dir = nullptr;
        if (fsw_openDir(&dir, path) != FSW_OK) {
            KLIB_LOG("[E] ProjectFile::addItem - cannot open a directory! [%s]\n", path);
            return RESULT_FAILED;
        }
        const i32 listed = addItem(dir, entries, path);
        if (listed < 0) {
            KLIB_LOG("[E] ProjectFile::addItem - cannot add directory entries! [%s]\n", path);
        }
        if (fsw_closeDir(dir) != FSW_OK || listed < 0) {
            KLIB_LOG("[E] ProjectFile::addItem - cannot close a directory! [%s]\n", path);
            return RESULT_FAILED;
        }
        return 0;
    }
    entries.emplace(path, std::string());
    return 0;
}

i32 ProjectFile::addItem(FswDir* dir, EntryMap& entries, const char* dirPath)
{
    const std::string folder = dirPath != nullptr ? dirPath : "";
    std::vector<char> name;
    for (u32 reads = 0; reads < MAX_DIR_READS; ++reads) {
        u32 size = 0;
        const u32 sized = fsw_getDirEntryNameSize(dir, &size);
        if (sized == FSW_E_NOT_FOUND) {
            return 0;
        }
        if (sized != FSW_OK || size == 0) {
            KLIB_LOG("[E] ProjectFile::addItem - cannot get a directory entry size!\n");
            return static_cast<i32>(sized != FSW_OK ? sized : FSW_E_OTHER);
        }
        name.assign(size, '\0');
        const u32 read = fsw_readDir(dir, name.data(), size);
        if (read == FSW_E_NOT_FOUND) {
            return 0;
        }
        if (read != FSW_OK) {
            KLIB_LOG("[E] ProjectFile::addItem - cannot read a directory entry! [%s]\n",
                     (folder + "/" + name.data()).c_str());
            return static_cast<i32>(read);
        }
        if (std::strcmp(name.data(), ".") != 0 && std::strcmp(name.data(), "..") != 0) {
            entries.emplace(name.data(), folder);
        }
    }
    // The cap is reached: anything still listed would be left out without notice.
    u32 size = 0;
    if (fsw_getDirEntryNameSize(dir, &size) == FSW_E_NOT_FOUND) {
        return 0;
    }
    KLIB_LOG("[E] ProjectFile::addItem - too many directory entries! [%s]\n", folder.c_str());
    return RESULT_FAILED;
}

// ---- writing --------------------------------------------------------------------------------------------------

i32 ProjectFile::addItemBlocks(const std::string& itemName, const std::string& itemDir, IMBDFObserver& observer,
                               i32& status)
{
    EntryMap entries;
    if (addItem(itemDir.c_str(), entries) < 0) {
        status = RESULT_FAILED;
        return 0;
    }
    for (const auto& entry : entries) {
        const std::string& name = entry.first;
        if (entry.second.empty()) {
            // The item's path is not a folder: there is nothing in it to store.
            KLIB_LOG("[E] ProjectFile::writeProjectFile - cannot add [%s] block!\n", name.c_str());
            continue;
        }
        if (fsw_isReplaceTempName(name.c_str()) || isStagingName(name.c_str())) {
            continue;
        }
        const std::string entryPath = entry.second + "/" + name;
        const EntryKind kind = judgeEntry(entryPath);
        if (kind == EntryKind::Missing) {
            KLIB_LOG("[W] ProjectFile::writeProjectFile - [%s] is gone, skipped\n", entryPath.c_str());
            continue;
        }
        if (kind != EntryKind::Regular) {
            KLIB_LOG("[E] ProjectFile::writeProjectFile - cannot add [%s] block!\n", name.c_str());
            continue;
        }
        std::unique_ptr<MBDFFileBlock> block(new (std::nothrow) MBDFFileBlock());
        i32 result =
            block ? block->importFile(itemName.c_str(), false, entry.second.c_str(), name.c_str(), false, FILE_LEVEL, 0)
                  : RESULT_FAILED;
        if (result >= 0) {
            m_container.appendBlock(block.release());
            continue;
        }
        KLIB_LOG("[E] ProjectFile::writeProjectFile - cannot add [%s] block!\n", name.c_str());
        if (judgeEntry(entryPath) == EntryKind::Missing) {
            KLIB_LOG("[W] ProjectFile::writeProjectFile - [%s] is gone, skipped\n", entryPath.c_str());
            continue;
        }
        // A file that is there but cannot be stored: the user must learn which one.
        observer.onError(0, entryPath.c_str(),
                         result == FILECACHE::MBDFResult::kBadArgument ? ERROR_BAD_NAME : ERROR_UNREADABLE);
        return RESULT_FAILED;
    }
    return 0;
}

i32 ProjectFile::writeProjectFile(const char* path, const bool* cancel, IMBDFObserver* observer)
{
    if (path == nullptr || path[0] == '\0') {
        return RESULT_FAILED;
    }
    IMBDFObserver& watcher = observerOrDummy(observer);
    u8 fileId[FILECACHE::MBDFTopBlock::kFileIdSize];
    if (FILECACHE::makeUniqueFileId(fileId, sizeof(fileId)) < 0 ||
        m_container.create(KIND, m_modelTag.c_str(), m_version, fileId, sizeof(fileId)) < 0) {
        return RESULT_FAILED;
    }

    std::unique_ptr<MBDFPDBBlock> infoBlock(new (std::nothrow) MBDFPDBBlock());
    if (!infoBlock || infoBlock->setup(m_info.getName(), &m_info, m_tableHeaderValue) < 0) {
        KLIB_LOG("[E] ProjectFile::writeProjectFile - cannot add [%s] block!\n", m_info.getName());
        m_container.clear();
        return RESULT_FAILED;
    }
    m_container.appendBlock(infoBlock.release());

    i32 status = 0;
    for (const auto& item : m_items) {
        if (addItemBlocks(item.first, item.second, watcher, status) < 0) {
            m_container.clear();
            return RESULT_FAILED;
        }
    }
    // A project that lacks part of what it should hold is not written: the old file stays.
    if (status < 0) {
        m_container.clear();
        return status;
    }

    const i32 written = m_container.write(path, cancel, &watcher, true);
    if (written == MBDF::kAbortedResult) {
        return RESULT_ABORTED;
    }
    if (written < 0) {
        return RESULT_NOT_WRITTEN;
    }
    return status;
}

i32 ProjectFile::save(const char* path, const char* comment, const char* owner, const bool* cancel,
                      IMBDFObserver* observer)
{
    if (path == nullptr || path[0] == '\0' || comment == nullptr || owner == nullptr || m_modelTag.empty()) {
        return RESULT_FAILED;
    }
    // The stamp below is undone when the file is not written.
    LocalParameterDB before(m_info);

    u32 year = 0, month = 0, day = 0, weekday = 0, hour = 0, minute = 0, second = 0;
    ossupport::getCurrentUtcTime(&year, &month, &day, &weekday, &hour, &minute, &second);
    m_info.setValueString(m_addresses[INFO_COMMENT], 0, 0, comment, WRITE_FLAG_NONE);
    m_info.setValueString(m_addresses[INFO_OWNER_NAME], 0, 0, owner, WRITE_FLAG_NONE);
    m_info.setValueUInt(m_addresses[INFO_YEAR], 0, 0, year, WRITE_FLAG_NONE);
    m_info.setValueUInt(m_addresses[INFO_MONTH], 0, 0, month, WRITE_FLAG_NONE);
    m_info.setValueUInt(m_addresses[INFO_DAY], 0, 0, day, WRITE_FLAG_NONE);
    m_info.setValueUInt(m_addresses[INFO_HOUR], 0, 0, hour, WRITE_FLAG_NONE);
    m_info.setValueUInt(m_addresses[INFO_MINUTE], 0, 0, minute, WRITE_FLAG_NONE);
    m_info.setValueUInt(m_addresses[INFO_SECOND], 0, 0, second, WRITE_FLAG_NONE);

    m_container.clear();
    const i32 result = writeProjectFile(path, cancel, observer);
    if (result < 0 || result == RESULT_ABORTED) {
        if (before.getLastResult() >= 0) {
            m_info.copyFrom(before);
        }
        return result == RESULT_ABORTED ? RESULT_ABORTED : RESULT_FAILED;
    }

    const std::string target = path;
    if (m_replacePrevious != 0 && !m_currentFileName.empty() && m_currentFileName != target &&
        !fsw_isSameFile(m_currentFileName.c_str(), target.c_str())) {
        if (fsw_remove(m_currentFileName.c_str()) != FSW_OK) {
            KLIB_LOG("[W] ProjectFile::save - cannot delete the previous file! [%s]\n", m_currentFileName.c_str());
        }
    }
    m_currentFileName = target;
    return result;
}

// ---- reading --------------------------------------------------------------------------------------------------

i32 ProjectFile::load(const char* path, const bool* cancel, IMBDFObserver* observer, const void* selection)
{
    if (path == nullptr || m_modelTag.empty()) {
        return RESULT_FAILED;
    }
    const std::string target = path;
    bool refused = false;
    const i32 result = extractProject(path, true, cancel, observer, selection, &refused);
    // Only a refused selection answers 0x80000004; the delegate's own extraction failing with that code is a
    // failure like any other.
    if (refused) {
        return RESULT_REFUSED;
    }
    if (result == RESULT_ABORTED) {
        return result;
    }
    if (result < 0) {
        return RESULT_FAILED;
    }
    m_currentFileName = target;
    return 0;
}

i32 ProjectFile::extract(const char* path, bool extractFiles, const bool* cancel, IMBDFObserver* observer,
                         const void* selection)
{
    bool refused = false;
    return extractProject(path, extractFiles, cancel, observer, selection, &refused);
}

i32 ProjectFile::extractProject(const char* path, bool extractFiles, const bool* cancel, IMBDFObserver* observer,
                                const void* selection, bool* refused)
{
    if (path == nullptr || path[0] == '\0') {
        return RESULT_FAILED;
    }
    IMBDFObserver& watcher = observerOrDummy(observer);
    KVariant productName;
    if (m_info.getValue(productName, m_addresses[INFO_PRODUCT_NAME], 0, 0, nullptr) < 0 ||
        productName.getKind() == KVariant::KIND_EMPTY) {
        return RESULT_FAILED;
    }
    const std::string projectPath = path;

    const i32 read = m_container.read(projectPath.c_str(), false, cancel, nullptr, 0);
    if (read == MBDF::kAbortedResult) {
        m_container.clear();
        return RESULT_ABORTED;
    }
    if (read < 0) {
        watcher.onError(0, projectPath.c_str(), ERROR_UNREADABLE);
        return RESULT_FAILED;
    }
    FileAccessor file;
    if (file.open(projectPath.c_str(), FileAccessor::kModeRead) < 0) {
        watcher.onError(0, projectPath.c_str(), ERROR_UNREADABLE);
        return RESULT_FAILED;
    }
    if (!m_container.isKind(KIND) || !m_container.isName(m_modelTag.c_str()) || !m_container.isValid()) {
        watcher.onError(0, projectPath.c_str(), ERROR_NOT_PROJECT);
        m_container.clear();
        return RESULT_FAILED;
    }
    const bool delegated = selection != nullptr && m_loader != nullptr;
    if (extractFiles && delegated && !m_loader->accept(m_container, observer, selection, cancel)) {
        m_container.clear();
        *refused = true;
        return RESULT_REFUSED;
    }

    // The information block is imported into a copy first: a block that cannot be loaded or imported fails the
    // load before anything is extracted, and the copy takes the place of the information only once the whole
    // extraction succeeded.
    std::unique_ptr<LocalParameterDB> staged;
    for (auto it = m_container.beginBlocks(); it != m_container.endBlocks(); ++it) {
        MBDFAbstractBlock* block = m_container.getBlock(it);
        if (block->getTag() != MBDFPDBBlock::TAG || !isPDBBlockKindOf(*block, m_info.getName())) {
            continue;
        }
        staged.reset(new (std::nothrow) LocalParameterDB(m_info));
        i32 imported = staged && staged->getLastResult() >= 0 ? 0 : RESULT_FAILED;
        if (imported >= 0) {
            imported = m_container.loadBlockData(it, &file);
        }
        if (imported >= 0) {
            imported = block->getData() != nullptr
                           ? staged->importComponentTable(block->getData(), block->getDataSize(false),
                                                          INFO_IMPORT_FILTER, WRITE_FLAG_NONE)
                           : RESULT_FAILED;
        }
        m_container.releaseBlockData(it);
        if (imported < 0) {
            KLIB_LOG("[E] ProjectFile::extract - cannot import [%s] block! (%x)\n", m_info.getName(),
                     static_cast<u32>(imported));
            m_container.clear();
            return RESULT_FAILED;
        }
        break;
    }
    const auto commitInfo = [&]() {
        if (staged) {
            m_info.swap(*staged);
        }
    };

    if (!extractFiles) {
        commitInfo();
        return 0;
    }
    if (delegated) {
        const i32 result = m_loader->extract(projectPath.c_str(), file, m_container, cancel, observer, selection, 0);
        if (result >= 0 && result != RESULT_ABORTED) {
            commitInfo();
        }
        return result;
    }
    const i32 result = extractItems(projectPath.c_str(), file, cancel, watcher);
    if (result == 0) {
        commitInfo();
        const u32 total = m_container.getBlockCount();
        watcher.onProgress(0, total, total, projectPath.c_str(), "Finshed.", true);
    }
    return result;
}

i32 ProjectFile::extractItems(const char* path, FileAccessor& file, const bool* cancel, IMBDFObserver& observer)
{
    StagedLoad load(m_items, m_container, file, observer, cancel);
    i32 result = load.stage();
    if (result == 0) {
        result = load.extract(path);
    }
    if (result == 0 && (!load.sync() || !load.swap())) {
        result = RESULT_FAILED;
    }
    if (result != 0) {
        load.rollback();
        return result;
    }
    load.commit();
    return 0;
}

} // namespace PDB
