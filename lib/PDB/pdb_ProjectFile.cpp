#include "pdb_ProjectFile.h"
#include "pdb_ProjectFileTestHooks.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

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
    "/Info/ProductName",    "/Info/ProductSubName", "/Info/Comment",         "/Info/OwnerName",
    "/Info/TimeStamp/Year", "/Info/TimeStamp/Month", "/Info/TimeStamp/Day", "/Info/TimeStamp/Hour",
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

std::atomic<bool> g_atomicExchange{true};
std::atomic<int> g_failSwapAt{-1};

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
    u32 attributes = 0;
    bool isLink = false;
    if (fsw_getLinkAttributes(&attributes, &isLink, path.c_str()) != FSW_OK) {
        return EntryKind::Missing;
    }
    if (isLink) {
        return EntryKind::Link;
    }
    if ((attributes & FSW_ATTR_DIRECTORY) != 0) {
        return EntryKind::Directory;
    }
    // Pipes, sockets and devices read as plain files to the attribute call; opening a pipe would block.
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) {
        return EntryKind::Missing;
    }
    return S_ISREG(info.st_mode) ? EntryKind::Regular : EntryKind::Other;
}

// Calls visit(name) for every entry of the folder but "." and ".."; false when the folder cannot be listed.
template <class Visit>
bool forEachEntry(const std::string& dirPath, Visit visit)
{
    FswDir* dir = nullptr;
    if (fsw_openDir(&dir, dirPath.c_str()) != FSW_OK) {
        return false;
    }
    std::vector<char> name;
    for (;;) {
        u32 size = 0;
        if (fsw_getDirEntryNameSize(dir, &size) != FSW_OK || size == 0) {
            break;
        }
        name.assign(size, '\0');
        if (fsw_readDir(dir, name.data(), size) != FSW_OK) {
            break;
        }
        if (std::strcmp(name.data(), ".") != 0 && std::strcmp(name.data(), "..") != 0) {
            visit(std::string(name.data()));
        }
    }
    fsw_closeDir(dir);
    return true;
}

// Clears the read-only flag of every file below path and gives the owner full access to every folder (links are
// neither followed nor changed), so that a recursive removal is stopped by neither.
void clearReadOnlyTree(const std::string& path)
{
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && (info.st_mode & S_IRWXU) != S_IRWXU) {
        ::chmod(path.c_str(), (info.st_mode & 07777) | S_IRWXU);
    }
    forEachEntry(path, [&](const std::string& name) {
        const std::string child = path + "/" + name;
        const EntryKind kind = judgeEntry(child);
        if (kind == EntryKind::Directory) {
            clearReadOnlyTree(child);
        } else if (kind == EntryKind::Regular) {
            u32 attributes = 0;
            if (fsw_getAttributes(&attributes, child.c_str()) == FSW_OK && (attributes & FSW_ATTR_READONLY) != 0) {
                fsw_setAttributes(FSW_ATTR_NORMAL, child.c_str());
            }
        }
    });
}

// Removes a folder with everything in it, read-only files included; links inside are unlinked, never followed.
bool removeTree(const std::string& path)
{
    if (judgeEntry(path) != EntryKind::Directory) {
        return fsw_remove(path.c_str()) == FSW_OK;
    }
    clearReadOnlyTree(path);
    return fsw_removeDir(path.c_str(), true) == FSW_OK;
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

// Exchanges two existing paths atomically; false when the file system cannot (the caller falls back).
bool exchangePaths(const std::string& a, const std::string& b, bool& unsupported)
{
    unsupported = false;
    if (!g_atomicExchange.load()) {
        unsupported = true;
        return false;
    }
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0) {
        return true;
    }
    unsupported = errno == EINVAL || errno == ENOSYS || errno == ENOTSUP;
    return false;
}

bool renamePath(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0;
}

// True when both paths name the same existing file.
bool isSameFile(const std::string& a, const std::string& b)
{
    struct stat first;
    struct stat second;
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

// Writes a file or folder through to the disk (fsync through the file API); false when it cannot be opened,
// synced or closed. A final symbolic link is followed only when asked (a parent folder named through a link).
bool syncPath(const std::string& path, bool followLink = false)
{
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | (followLink ? 0 : O_NOFOLLOW) | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return false;
    }
    FswHandle handle = static_cast<FswHandle>(fd);
    const bool synced = fsw_flush(&handle) == FSW_OK;
    return fsw_close(&handle) == FSW_OK && synced;
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

namespace projecttesthooks {
void setAtomicExchange(bool enabled)
{
    g_atomicExchange.store(enabled);
}
void failSwapAt(int index)
{
    g_failSwapAt.store(index);
}
} // namespace projecttesthooks

// One item of a load: its folder, and the staging folder its stored files are extracted into.
struct ProjectFile::StagedItem {
    std::string name;
    std::string dir;     // the item folder as configured (used in texts)
    std::string realDir; // the folder the swap acts on
    std::string parent;
    std::string base;
    std::string staging; // empty: the item takes no part in this load
    std::string old;     // after the swap: where the previous content is
    mode_t mode = 0;     // permission bits the staging folder takes once it is filled
    bool existed = false;
    bool swapped = false;
    bool exchanged = false;
    bool shared = false; // uses the staging folder of an earlier item with the same folder
};

ProjectFile::ProjectFile()
    : m_version(0), m_tableHeaderValue(0), m_replacePrevious(0), m_loader(nullptr)
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
    IParameterDB& source =
        ParameterDBCollection::getInstance(position >= 0 ? static_cast<u32>(position) : 0xFFFFFFFF);
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
        i32 result = block ? block->importFile(itemName.c_str(), false, entry.second.c_str(), name.c_str(), false,
                                               FILE_LEVEL, 0)
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
        observer.onError(0, entryPath.c_str(), result == FILECACHE::MBDFResult::kBadArgument ? ERROR_BAD_NAME
                                                                                               : ERROR_UNREADABLE);
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
        !isSameFile(m_currentFileName, target)) {
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

    // The information block's record, imported only when the whole extraction succeeded.
    std::vector<u8> infoRecord;
    bool haveInfo = false;
    for (auto it = m_container.beginBlocks(); it != m_container.endBlocks(); ++it) {
        MBDFAbstractBlock* block = m_container.getBlock(it);
        if (block->getTag() != MBDFPDBBlock::TAG || !isPDBBlockKindOf(*block, m_info.getName())) {
            continue;
        }
        if (m_container.loadBlockData(it, &file) >= 0 && block->getData() != nullptr) {
            infoRecord.assign(block->getData(), block->getData() + block->getDataSize(false));
            haveInfo = true;
        }
        m_container.releaseBlockData(it);
        break;
    }
    const auto commitInfo = [&]() {
        if (haveInfo) {
            m_info.importComponentTable(infoRecord.data(), static_cast<u32>(infoRecord.size()), INFO_IMPORT_FILTER,
                                        WRITE_FLAG_NONE);
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
    // Which items have stored files.
    std::set<std::string> filled;
    for (auto it = m_container.beginBlocks(); it != m_container.endBlocks(); ++it) {
        MBDFAbstractBlock* block = m_container.getBlock(it);
        if (block->getTag() == MBDFFileBlock::kTag && m_items.count(block->getKind()) != 0) {
            filled.insert(block->getKind());
        }
    }

    std::map<std::string, StagedItem> staged;
    // Folders made for missing item folders' parents, each chain from the outermost one.
    std::vector<std::string> madeParents;
    const auto removeStaging = [&]() {
        for (auto& entry : staged) {
            if (!entry.second.staging.empty() && !entry.second.swapped && !entry.second.shared) {
                removeTree(entry.second.staging);
            }
        }
        // A load that does not finish leaves no folder behind; the innermost go first, and only while empty.
        for (auto it = madeParents.rbegin(); it != madeParents.rend(); ++it) {
            ::rmdir(it->c_str());
        }
    };
    const auto fail = [&]() {
        removeStaging();
        return RESULT_FAILED;
    };

    for (const auto& item : m_items) {
        StagedItem& stage = staged[item.first];
        stage.name = item.first;
        stage.dir = item.second;
        if (item.second.empty()) {
            KLIB_LOG("[E] ProjectFile::extract - item [%s] has no folder!\n", item.first.c_str());
            return fail();
        }
        std::string resolved = item.second;
        u32 attributes = 0;
        if (fsw_getAttributes(&attributes, item.second.c_str()) == FSW_OK) {
            if ((attributes & FSW_ATTR_DIRECTORY) == 0) {
                KLIB_LOG("[E] ProjectFile::extract - [%s] is not a folder!\n", item.second.c_str());
                return fail();
            }
            // A folder reached through a link is replaced where it lies; the link stays.
            char real[PATH_MAX];
            if (::realpath(item.second.c_str(), real) != nullptr) {
                resolved = real;
            }
            stage.existed = true;
        }
        stage.realDir = resolved;
        // Items that share a folder share its staging folder; the first of them swaps it in.
        bool shared = false;
        for (const auto& other : staged) {
            if (&other.second != &stage && !other.second.staging.empty() && other.second.realDir == resolved) {
                stage.staging = other.second.staging;
                stage.shared = true;
                shared = true;
                break;
            }
        }
        if (shared) {
            continue;
        }
        splitPath(resolved, stage.parent, stage.base);
        if (stage.base.empty() || stage.base == "/" || stage.base == "." || stage.base == "..") {
            KLIB_LOG("[E] ProjectFile::extract - [%s] cannot be replaced!\n", item.second.c_str());
            return fail();
        }

        // Leftovers of a load that did not finish: a folder put aside while its item folder is missing is the
        // item's content and goes back; everything else of the two patterns is removed.
        const std::string stagingPrefix = "." + stage.base + STAGING_PART;
        const std::string asidePrefix = "." + stage.base + ASIDE_PART;
        std::vector<std::string> leftovers;
        forEachEntry(stage.parent, [&](const std::string& name) {
            if (name.compare(0, stagingPrefix.size(), stagingPrefix) == 0 ||
                name.compare(0, asidePrefix.size(), asidePrefix) == 0) {
                leftovers.push_back(name);
            }
        });
        for (const std::string& name : leftovers) {
            const std::string leftover = joinPath(stage.parent, name);
            if (!stage.existed && name.compare(0, asidePrefix.size(), asidePrefix) == 0 &&
                renamePath(leftover, stage.realDir)) {
                stage.existed = true;
                continue;
            }
            removeTree(leftover);
        }

        if (!stage.existed && filled.count(item.first) == 0) {
            continue;  // nothing to empty, nothing to write
        }
        if (!stage.existed) {
            std::vector<std::string> missing;
            std::string probe = stage.parent;
            struct stat probed;
            while (::lstat(probe.c_str(), &probed) != 0 && errno == ENOENT) {
                missing.push_back(probe);
                std::string up;
                std::string ignored;
                splitPath(probe, up, ignored);
                if (up == probe) {
                    break;
                }
                probe = up;
            }
            madeParents.insert(madeParents.end(), missing.rbegin(), missing.rend());
        }
        if (!stage.existed && (fsw_makeDir(stage.parent.c_str()) & 0x80000000u) != 0) {
            KLIB_LOG("[E] ProjectFile::extract - cannot make a directory! [%s]\n", stage.parent.c_str());
            return fail();
        }
        const std::string staging = joinPath(stage.parent, stagingPrefix + uniqueSuffix());
        mode_t mode = 0777;
        struct stat info;
        if (stage.existed && ::stat(stage.realDir.c_str(), &info) == 0) {
            mode = info.st_mode & 07777;
        }
        if (::mkdir(staging.c_str(), 0700) != 0) {
            KLIB_LOG("[E] ProjectFile::extract - cannot make a directory! [%s]\n", staging.c_str());
            return fail();
        }
        stage.staging = staging;
        if (stage.existed) {
            stage.mode = mode;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            stage.mode = mode & ~mask;
        }
    }

    // Extract every stored file of an item into its staging folder. The files are written without a sync each;
    // they are made durable together before the swap.
    std::vector<std::string> stagedPaths;
    const u32 total = m_container.getBlockCount();
    u32 index = 0;
    for (auto it = m_container.beginBlocks(); it != m_container.endBlocks(); ++it, ++index) {
        MBDFAbstractBlock* block = m_container.getBlock(it);
        if (block->getTag() != MBDFFileBlock::kTag) {
            continue;
        }
        const auto found = staged.find(block->getKind());
        if (found == staged.end() || found->second.staging.empty()) {
            continue;
        }
        auto* fileBlock = static_cast<MBDFFileBlock*>(block);
        const std::string storedName = fileBlock->getFileName();
        const std::string target = found->second.dir + "/" + storedName;
        if (isCancelled(cancel)) {
            observer.onProgress(0, index, total, target.c_str(), "Aborted.", true);
            removeStaging();
            return RESULT_ABORTED;
        }
        observer.onProgress(0, index, total, target.c_str(), "Extracting files...", false);
        i32 result = m_container.loadBlockData(it, &file);
        if (result >= 0) {
            result = static_cast<i32>(fileBlock->exportFileUnsynced(found->second.staging.c_str(), nullptr));
        }
        if (result >= 0) {
            stagedPaths.push_back(found->second.staging + "/" + storedName);
        }
        m_container.releaseBlockData(it);
        if (result < 0) {
            KLIB_LOG("[E] ProjectFile::extract - cannot extract [%s]! (%x)\n", target.c_str(),
                     static_cast<u32>(result));
            if (!FileAccessor::exists(path)) {
                observer.onError(0, path, ERROR_UNREADABLE);
            }
            return fail();
        }
    }
    if (isCancelled(cancel)) {
        observer.onProgress(0, total, total, path, "Aborted.", true);
        removeStaging();
        return RESULT_ABORTED;
    }

    // The staging folders take their item folders' permission bits only now: a read-only item folder would have
    // refused the extracted files.
    for (const auto& entry : staged) {
        const StagedItem& stage = entry.second;
        if (!stage.staging.empty() && !stage.shared && ::chmod(stage.staging.c_str(), stage.mode) != 0) {
            KLIB_LOG("[E] ProjectFile::extract - cannot set the mode of [%s]! (%d)\n", stage.staging.c_str(), errno);
            return fail();
        }
    }

    // Nothing is swapped in before every staged file and staging folder is on the disk.
    for (const std::string& stagedPath : stagedPaths) {
        if (!syncPath(stagedPath)) {
            KLIB_LOG("[E] ProjectFile::extract - cannot sync [%s]! (%d)\n", stagedPath.c_str(), errno);
            return fail();
        }
    }
    for (const auto& entry : staged) {
        const StagedItem& stage = entry.second;
        if (!stage.staging.empty() && !stage.shared && !syncPath(stage.staging)) {
            KLIB_LOG("[E] ProjectFile::extract - cannot sync [%s]! (%d)\n", stage.staging.c_str(), errno);
            return fail();
        }
    }

    // Swap the staging folders in; undo the swaps made so far when one fails.
    std::vector<StagedItem*> done;
    const auto undo = [&]() {
        for (auto it = done.rbegin(); it != done.rend(); ++it) {
            StagedItem& stage = **it;
            bool unsupported = false;
            if (stage.exchanged) {
                exchangePaths(stage.old, stage.realDir, unsupported);
            } else {
                renamePath(stage.realDir, stage.staging);
                if (stage.existed) {
                    renamePath(stage.old, stage.realDir);
                }
            }
            stage.swapped = false;
        }
    };
    for (auto& entry : staged) {
        StagedItem& stage = entry.second;
        if (stage.staging.empty() || stage.shared) {
            continue;
        }
        bool ok = false;
        if (static_cast<int>(done.size()) == g_failSwapAt.load()) {
            errno = EIO;
        } else if (stage.existed) {
            bool unsupported = false;
            if (exchangePaths(stage.staging, stage.realDir, unsupported)) {
                stage.old = stage.staging;
                stage.exchanged = true;
                ok = true;
            } else if (unsupported) {
                const std::string aside = joinPath(stage.parent, "." + stage.base + ASIDE_PART + uniqueSuffix());
                if (renamePath(stage.realDir, aside)) {
                    if (renamePath(stage.staging, stage.realDir)) {
                        stage.old = aside;
                        ok = true;
                    } else {
                        renamePath(aside, stage.realDir);
                    }
                }
            }
        } else {
            ok = renamePath(stage.staging, stage.realDir);
        }
        if (!ok) {
            KLIB_LOG("[E] ProjectFile::extract - cannot replace [%s]! (%d)\n", stage.dir.c_str(), errno);
            undo();
            return fail();
        }
        stage.swapped = true;
        done.push_back(&stage);
    }
    // Make the swaps durable; they cannot be taken back any more, so a failure is only reported.
    std::set<std::string> parents;
    for (StagedItem* stage : done) {
        parents.insert(stage->parent);
    }
    // Folders made for missing parents are entries of their own parents.
    for (const std::string& made : madeParents) {
        std::string up;
        std::string ignored;
        splitPath(made, up, ignored);
        parents.insert(up);
    }
    for (const std::string& parent : parents) {
        if (!syncPath(parent, true)) {
            KLIB_LOG("[W] ProjectFile::extract - cannot sync [%s]\n", parent.c_str());
        }
    }
    for (StagedItem* stage : done) {
        if (!stage->old.empty() && !removeTree(stage->old)) {
            KLIB_LOG("[W] ProjectFile::extract - cannot remove the previous content [%s]\n", stage->old.c_str());
        }
    }
    return 0;
}

} // namespace PDB
