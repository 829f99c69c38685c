// Virtual directories and their items.
#include "fcache_VDir.h"

#include <algorithm>
#include <limits>
#include <new>
#include <vector>

#include "fcache_Result.h"
#include "fsw_api.h"
#include "klib_Print.h"

namespace FILECACHE {

namespace {

constexpr u32 kAnyKind = 0x7; // masks of kinds 0, 1 and 2

bool isDotName(std::string_view name)
{
    return name == "." || name == "..";
}

// True for names that could reach outside the folder they are given for: a leading "/" or a ".." part.
bool escapes(std::string_view name)
{
    if (!name.empty() && name[0] == '/') {
        return true;
    }
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string_view::npos) {
            end = name.size();
        }
        if (end - start == 2 && name[start] == '.' && name[start + 1] == '.') {
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::string withoutDotSlash(const std::string& name)
{
    return name.compare(0, 2, "./") == 0 ? name.substr(2) : name;
}

bool isFolder(const std::string& path)
{
    bool isDirectory = false;
    return FileAccessor::getAttributes(path.c_str(), nullptr, nullptr, nullptr, &isDirectory) == 0 && isDirectory;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// VDirTreeItem
// ---------------------------------------------------------------------------------------------------------------
VDirTreeItem::VDirTreeItem() : m_kind(kKindNone), m_openMode(0), m_pOwner(nullptr), m_sequence(0) {}

VDirTreeItem::~VDirTreeItem()
{
    if (m_accessor.isOpen()) {
        m_accessor.close();
    }
}

std::string VDirTreeItem::pathFor(const std::string& name) const
{
    const std::string cleaned = withoutDotSlash(name);
    const std::string& parent = getParentPath();
    return parent.empty() ? cleaned : parent + "/" + cleaned;
}

std::string VDirTreeItem::getFullPath() const
{
    return pathFor(m_name);
}

i32 VDirTreeItem::create(const char* parentPath, u32 kind, const char* name, bool onDisk)
{
    if (name == nullptr || kind > kKindFolder) {
        m_kind = kKindNone;
        return RESULT_FAILED;
    }
    // A refused name is still kept, so that the entry stays visible (as kind 0) in its directory's list.
    const char* parent = parentPath != nullptr ? parentPath : "";
    if (!m_pParentPath || *m_pParentPath != parent) {
        m_pParentPath = std::make_shared<const std::string>(parent);
    }
    m_name = name;
    const bool dotEntry = isDotName(m_name);
    if ((kind == kKindFile && (!FileAccessor::isValidFileName(name) || dotEntry)) || (escapes(m_name) && !dotEntry)) {
        m_kind = kKindNone;
        return RESULT_FAILED;
    }
    m_kind = kind;
    if (!onDisk || kind == kKindNone) {
        return 0;
    }
    const std::string full = getFullPath();
    const size_t slash = full.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        const std::string folder = full.substr(0, slash);
        if (!FileAccessor::exists(folder.c_str())) {
            FileAccessor::makeDir(folder.c_str());
        }
    }
    if (!FileAccessor::exists(full.c_str())) {
        if (kind == kKindFile) {
            FileAccessor file;
            if (file.open(full.c_str(), FileAccessor::kModeOpenAlways) == 0) {
                file.close();
            }
        } else {
            FileAccessor::makeDir(full.c_str());
        }
    }
    return 0;
}

i32 VDirTreeItem::open(u32 mode)
{
    if (m_kind != kKindFile) {
        return RESULT_FAILED;
    }
    const i32 result = m_accessor.open(getFullPath().c_str(), mode);
    if (result >= 0) {
        m_openMode = mode;
    }
    return result;
}

i32 VDirTreeItem::close()
{
    return m_kind == kKindFile ? m_accessor.close() : RESULT_FAILED;
}

i32 VDirTreeItem::read(void* buffer, u32 size, u32* got)
{
    return m_kind == kKindFile ? m_accessor.read(buffer, size, got) : RESULT_FAILED;
}

i32 VDirTreeItem::write(const void* buffer, u32 size, u32* put)
{
    return m_kind == kKindFile ? m_accessor.write(buffer, size, put) : RESULT_FAILED;
}

i32 VDirTreeItem::seek(u32 origin, u32 offset)
{
    return m_kind == kKindFile ? m_accessor.seek(origin, offset) : RESULT_FAILED;
}

u32 VDirTreeItem::tell()
{
    return m_kind == kKindFile ? m_accessor.tell() : static_cast<u32>(RESULT_FAILED);
}

i32 VDirTreeItem::remove(bool recursive)
{
    // "." and ".." items stand for the folder itself and its parent: never removed through an item.
    if (m_kind == kKindNone || isDotName(withoutDotSlash(m_name))) {
        return RESULT_FAILED;
    }
    return FileAccessor::remove(getFullPath().c_str(), recursive);
}

i32 VDirTreeItem::rename(const char* newName)
{
    if (m_kind == kKindNone || newName == nullptr || newName[0] == 0 || escapes(newName) || isDotName(newName) ||
        isDotName(withoutDotSlash(m_name))) {
        return RESULT_FAILED;
    }
    const i32 result = FileAccessor::move(getFullPath().c_str(), pathFor(newName).c_str());
    if (result < 0) {
        return RESULT_FAILED;
    }
    const std::string oldName = m_name;
    m_name = newName;
    if (m_pOwner != nullptr) {
        m_pOwner->itemRenamed(this, oldName);
    }
    return result;
}

i32 VDirTreeItem::copyTo(const char* newName)
{
    if (m_kind == kKindNone || newName == nullptr || newName[0] == 0 || escapes(newName) || isDotName(newName)) {
        return RESULT_FAILED;
    }
    return FileAccessor::copy(getFullPath().c_str(), pathFor(newName).c_str());
}

i32 VDirTreeItem::setAttributes(bool readOnly, bool hidden, bool system)
{
    if (m_kind == kKindNone) {
        return RESULT_FAILED;
    }
    return FileAccessor::setAttributes(getFullPath().c_str(), readOnly, hidden, system);
}

i32 VDirTreeItem::onChanged()
{
    return 0;
}

u32 VDirTreeItem::getSize() const
{
    return m_kind == kKindNone ? 0 : FileAccessor::getFileSize(getFullPath().c_str());
}

VDirItemOpener::VDirItemOpener(VDirTreeItem& item, u32 mode) : m_item(item), m_result(0), m_opened(false)
{
    if (item.getKind() == VDirTreeItem::kKindFile && item.isOpen()) {
        return;
    }
    m_result = item.open(mode);
    m_opened = m_result >= 0;
}

VDirItemOpener::~VDirItemOpener()
{
    if (m_opened) {
        m_item.close();
    }
}

// ---------------------------------------------------------------------------------------------------------------
// VDir
// ---------------------------------------------------------------------------------------------------------------
VDir::VDir(bool keepDotEntries)
    : m_keepDotEntries(keepDotEntries), m_limit(100), m_pCallback(nullptr), m_nextSequence(1), m_watchId(0)
{
}

VDir::~VDir()
{
    if (isWatching()) {
        stopWatching();
    }
    deleteAll();
}

std::string VDir::normalise(const std::string& path)
{
    std::string out;
    const bool absolute = !path.empty() && path[0] == '/';
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const size_t length = end - start;
        if (length > 0 && !(length == 1 && path[start] == '.')) {
            if (!out.empty()) {
                out += '/';
            }
            out.append(path, start, length);
        }
        start = end + 1;
    }
    return absolute ? "/" + out : out;
}

bool VDir::matches(const char* pattern, const char* name)
{
    if (pattern == nullptr || name == nullptr) {
        return false;
    }
    const char* p = pattern;
    const char* n = name;
    const char* star = nullptr;
    const char* mark = nullptr;
    while (*n != 0) {
        if (*p == '*') {
            star = p++;
            mark = n;
        } else if (*p != 0 && (*p == '?' || *p == *n)) {
            ++p;
            ++n;
        } else if (star != nullptr) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (*p == '*') {
        ++p;
    }
    return *p == 0;
}

void VDir::registerFactory(const char* extension, VDirItemFactory factory)
{
    if (extension == nullptr) {
        return;
    }
    if (factory == nullptr) {
        m_factories.erase(extension);
    } else {
        m_factories[extension] = factory;
    }
}

VDir::Iterator VDir::findExact(const std::string& name, u32 kindMask)
{
    Iterator best = m_items.end();
    u64 bestSequence = std::numeric_limits<u64>::max();
    const auto range = m_index.equal_range(name);
    for (auto it = range.first; it != range.second; ++it) {
        const VDirTreeItem& item = **it->second;
        if (((1u << item.getKind()) & kindMask) != 0 && item.m_sequence < bestSequence) {
            best = it->second;
            bestSequence = item.m_sequence;
        }
    }
    return best;
}

const std::shared_ptr<const std::string>& VDir::sharedCurrentPath()
{
    if (!m_pSharedCurrentPath || *m_pSharedCurrentPath != m_currentPath) {
        m_pSharedCurrentPath = std::make_shared<const std::string>(m_currentPath);
    }
    return m_pSharedCurrentPath;
}

VDirTreeItem* VDir::itemNamed(const std::string& name)
{
    const Iterator it = findExact(name, kAnyKind);
    return it == m_items.end() ? nullptr : it->get();
}

void VDir::append(std::unique_ptr<VDirTreeItem> item)
{
    item->m_pOwner = this;
    item->m_sequence = m_nextSequence++;
    VDirTreeItem& ref = *item;
    m_items.push_back(std::move(item));
    m_index.emplace(ref.name(), std::prev(m_items.end()));
}

void VDir::unlink(Iterator it)
{
    const auto range = m_index.equal_range((*it)->name());
    for (auto entry = range.first; entry != range.second; ++entry) {
        if (entry->second == it) {
            m_index.erase(entry);
            break;
        }
    }
    if ((*it)->getKind() == VDirTreeItem::kKindFile && (*it)->isOpen()) {
        (*it)->close();
    }
    m_items.erase(it);
}

void VDir::itemRenamed(VDirTreeItem* item, const std::string& oldName)
{
    const auto range = m_index.equal_range(oldName);
    for (auto entry = range.first; entry != range.second; ++entry) {
        if (entry->second->get() == item) {
            const Iterator position = entry->second;
            m_index.erase(entry);
            m_index.emplace(item->name(), position);
            return;
        }
    }
}

void VDir::deleteAll()
{
    for (auto& item : m_items) {
        if (item->getKind() == VDirTreeItem::kKindFile && item->isOpen()) {
            item->close();
        }
    }
    m_index.clear();
    m_items.clear();
}

i32 VDir::open(const char* rootPath, u32 maxItems, bool onDisk)
{
    if (maxItems == 0) {
        return RESULT_FAILED;
    }
    m_rootPath = normalise(rootPath != nullptr ? rootPath : "");
    m_limit = maxItems > std::numeric_limits<u32>::max() - 2 ? std::numeric_limits<u32>::max() : maxItems + 2;
    m_index.reserve(std::min<u32>(m_limit, 1u << 16));
    if (!m_rootPath.empty()) {
        FileAccessor::makeDir(m_rootPath.c_str());
    }
    return changeDirectory(onDisk, nullptr, true);
}

i32 VDir::changeDirectory(bool onDisk, const char* path, bool force)
{
    const std::string request = path != nullptr ? path : "";
    std::string target;
    if (request.empty()) {
        target = m_rootPath;
    } else if (request == ".") {
        target = m_currentPath;
    } else if (request == "..") {
        const size_t slash = m_currentPath.rfind('/');
        if (m_currentPath == m_rootPath || slash == std::string::npos) {
            return RESULT_FAILED;
        }
        target = slash == 0 ? "/" : m_currentPath.substr(0, slash);
    } else if (request[0] == '/') {
        target = m_rootPath + request;
    } else {
        target = m_currentPath + "/" + request;
    }
    target = normalise(target);

    // The target must be the root or lie below it, without climbing back out through "..".
    if (target != m_rootPath) {
        const std::string prefix = m_rootPath == "/" ? "/" : m_rootPath + "/";
        if (m_rootPath.empty() || target.compare(0, prefix.size(), prefix) != 0 ||
            escapes(target.substr(prefix.size()))) {
            return RESULT_FAILED;
        }
    }
    if (!isFolder(target)) {
        return RESULT_FAILED;
    }
    if (target == m_currentPath && !force) {
        return 0;
    }
    const bool wasWatching = isWatching();
    IVDirTreeCallback* callback = m_pCallback;
    if (wasWatching) {
        stopWatching();
    }
    m_currentPath = target;
    deleteAll();
    refresh(onDisk, nullptr);
    onRebuilt();
    if (wasWatching) {
        startWatching(callback, false);
    }
    if (m_pCallback != nullptr) {
        m_pCallback->onTreeItemChanged(kVDirFolderChanged, nullptr);
    }
    return 0;
}

i32 VDir::refresh(bool onDisk, const char* subPath)
{
    if (subPath == nullptr && m_currentPath.empty()) {
        return RESULT_FAILED;
    }
    if (subPath != nullptr && escapes(subPath)) {
        return RESULT_FAILED;
    }
    const std::string folder = subPath != nullptr ? m_currentPath + "/" + subPath : m_currentPath;
    // The listing carries the entry types, so files and folders are told apart without a stat call per entry;
    // links and file systems that report no type are asked as before. Its order is "." and ".." first, then the
    // names byte-wise.
    FswDir* dir = nullptr;
    if (fsw_openDir(&dir, folder.c_str()) != FSW_OK) {
        KLIB_LOG("[E] VDir::refresh - cannot open a directory!\n");
        return RESULT_FAILED;
    }
    // Names of one listing are unique: into an empty list they go without a look-up.
    const bool fresh = m_items.empty();
    const char* listed = nullptr;
    u32 listedType = FSW_ENTRY_UNKNOWN;
    i32 result = 0;
    while (result == 0 && fsw_readDirEntry(dir, &listed, &listedType) == FSW_OK) {
        if (listedType == FSW_ENTRY_OTHER) {
            continue; // pipes, sockets and devices are no files of the tree
        }
        const EntryType type = listedType == FSW_ENTRY_FOLDER                                    ? EntryType::Folder
                               : listedType == FSW_ENTRY_UNKNOWN || listedType == FSW_ENTRY_LINK ? EntryType::Unknown
                                                                                                 : EntryType::File;
        std::string name = listed;
        if (subPath != nullptr) {
            if (isDotName(name)) {
                continue;
            }
            name = std::string(subPath) + "/" + name;
        }
        if (!fresh && findExact(name, kAnyKind) != m_items.end()) {
            continue;
        }
        // An entry that vanished since the listing was taken, or a dangling link, is left out.
        bool unreadable = false;
        if (addEntry(name.c_str(), onDisk, &unreadable, type, true) < 0 && !unreadable) {
            result = RESULT_FAILED;
        }
    }
    if (fsw_closeDir(dir) != FSW_OK) {
        KLIB_LOG("[E] VDir::refresh - cannot close a directory!\n");
        return RESULT_FAILED;
    }
    return result;
}

i32 VDir::makeDir(const char* name, bool onDisk)
{
    return addEntry(name, onDisk, nullptr, EntryType::Unknown, false);
}

i32 VDir::addEntry(const char* name, bool onDisk, bool* unreadable, EntryType type, bool absent)
{
    if (name == nullptr) {
        return RESULT_FAILED;
    }
    const std::string_view text = name;
    if (isDotName(text)) {
        if (!m_keepDotEntries) {
            return 0;
        }
    } else if (text.empty() || escapes(text)) {
        return RESULT_FAILED;
    }
    bool isDirectory = type == EntryType::Folder;
    if (type == EntryType::Unknown && FileAccessor::getAttributes((m_currentPath + "/" + name).c_str(), nullptr,
                                                                  nullptr, nullptr, &isDirectory) < 0) {
        if (unreadable != nullptr) {
            *unreadable = true;
        }
        return RESULT_FAILED;
    }
    if (!isDirectory) {
        return addFile(name, onDisk, absent);
    }
    if (m_items.size() >= m_limit) {
        KLIB_LOG("[E] VDir::makeDir - too many files and directories!\n");
        return RESULT_FAILED;
    }
    if (!absent && findExact(name, 1u << VDirTreeItem::kKindFolder) != m_items.end()) {
        return 0;
    }
    std::unique_ptr<VDirTreeItem> item(new (std::nothrow) VDirTreeItem());
    if (!item) {
        KLIB_LOG("[E] VDir::makeDir - cannot create new directory!\n");
        return RESULT_FAILED;
    }
    item->m_pParentPath = sharedCurrentPath();
    item->create(m_currentPath.c_str(), VDirTreeItem::kKindFolder, name, onDisk);
    append(std::move(item));
    return 0;
}

VDirTreeItem* VDir::newItemFor(std::string_view name)
{
    const size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && !m_factories.empty()) {
        const auto it = m_factories.find(std::string(name.substr(dot + 1)));
        if (it != m_factories.end()) {
            if (VDirTreeItem* item = it->second()) {
                return item;
            }
        }
    }
    return new (std::nothrow) VDirTreeItem();
}

i32 VDir::makeFile(const char* name, bool onDisk)
{
    return addFile(name, onDisk, false);
}

i32 VDir::addFile(const char* name, bool onDisk, bool absent)
{
    if (name == nullptr) {
        return RESULT_FAILED;
    }
    const std::string_view text = name;
    if (text.empty() || escapes(text) || isDotName(text)) {
        return RESULT_FAILED;
    }
    if (m_items.size() >= m_limit) {
        KLIB_LOG("[E] VDir::makeFile - too many files and directories!\n");
        return RESULT_FAILED;
    }
    // A name the item refuses stays listed as a kind-0 item; it counts as present too, so repeated reports do
    // not pile up copies of it.
    if (!absent &&
        findExact(name, (1u << VDirTreeItem::kKindFile) | (1u << VDirTreeItem::kKindNone)) != m_items.end()) {
        return 0;
    }
    std::unique_ptr<VDirTreeItem> item(newItemFor(text));
    if (!item) {
        KLIB_LOG("[E] VDir::makeFile - cannot create new file!\n");
        return RESULT_FAILED;
    }
    item->m_pParentPath = sharedCurrentPath();
    item->create(m_currentPath.c_str(), VDirTreeItem::kKindFile, name, onDisk);
    append(std::move(item));
    return 0;
}

i32 VDir::removeItem(const char* name, bool recursive)
{
    if (name == nullptr || escapes(name) || isDotName(name)) {
        return RESULT_FAILED;
    }
    const Iterator it = findExact(name, kAnyKind);
    if (it == m_items.end()) {
        return RESULT_FAILED;
    }
    VDirTreeItem& item = **it;
    if (item.getKind() == VDirTreeItem::kKindFile) {
        item.close();
    }
    if (item.remove(recursive) < 0) {
        return RESULT_FAILED;
    }
    unlink(it);
    return 0;
}

VDir::Iterator VDir::findItem(u32 kind, const char* pattern)
{
    return findNextItem(kind, pattern, m_items.begin());
}

VDir::Iterator VDir::findNextItem(u32 kind, const char* pattern, Iterator from)
{
    if (pattern == nullptr || kind > VDirTreeItem::kKindFolder) {
        return m_items.end();
    }
    for (Iterator it = from; it != m_items.end(); ++it) {
        const u32 itemKind = (*it)->getKind();
        const bool kindFits = kind == 0 ? itemKind != VDirTreeItem::kKindNone : itemKind == kind;
        if (kindFits && matches(pattern, (*it)->getName())) {
            return it;
        }
    }
    return m_items.end();
}

i32 VDir::startWatching(IVDirTreeCallback* callback, bool rebuild)
{
    if (rebuild) {
        deleteAll();
        refresh(false, nullptr);
        onRebuilt();
    }
    if (isWatching()) {
        return 0;
    }
    m_pCallback = callback;
    try {
        m_watchId = m_watcher.watchDirectory(m_currentPath, this);
    } catch (const std::exception&) {
        KLIB_LOG("[E] VDir::startWatching - cannot add a watching record of \"%s\"!\n", m_currentPath.c_str());
        m_pCallback = nullptr;
        return RESULT_FAILED;
    }
    KLIB_LOG("[i] VDir::startWatching - start to watch changes of \"%s\".\n", m_currentPath.c_str());
    return 0;
}

i32 VDir::stopWatching()
{
    if (!isWatching()) {
        return RESULT_FAILED;
    }
    const u32 id = m_watchId;
    m_watchId = 0;
    try {
        m_watcher.unwatch(id);
    } catch (const std::exception&) {
        KLIB_LOG("[E] VDir::stopWatching - cannot remove a watching record of \"%s\"!\n", m_currentPath.c_str());
        m_pCallback = nullptr;
        return RESULT_FAILED;
    }
    KLIB_LOG("[i] VDir::stopWatching - stop to watch changes of \"%s\".\n", m_currentPath.c_str());
    m_pCallback = nullptr;
    return 0;
}

i32 VDir::checkModification()
{
    try {
        m_watcher.poll();
    } catch (...) {
        KLIB_LOG("[E] VDir::checkModification - an error happened.\n");
        return RESULT_FAILED;
    }
    return 0;
}

void VDir::onFileChanged(u32 watchId, const std::string& folder, const std::string& name, u32 action)
{
    if (watchId != m_watchId || folder != m_currentPath) {
        return;
    }
    if (name.empty() ? action != FW::kActionLost : escapes(name)) {
        return;
    }
    u32 event = 0;
    switch (action) {
    case FW::kActionAdded:
        makeDir(name.c_str(), false);
        event = kVDirItemAdded;
        break;
    case FW::kActionRemoved: {
        const Iterator it = findExact(name, kAnyKind);
        if (it != m_items.end()) {
            const bool wasFolder = (*it)->getKind() == VDirTreeItem::kKindFolder;
            unlink(it);
            if (wasFolder) {
                // Entries reported from inside a folder that went away (moved out) go with it.
                const std::string prefix = name + "/";
                for (Iterator item = m_items.begin(); item != m_items.end();) {
                    const Iterator next = std::next(item);
                    if ((*item)->name().compare(0, prefix.size(), prefix) == 0) {
                        unlink(item);
                    }
                    item = next;
                }
            }
        }
        event = kVDirItemRemoved;
        break;
    }
    case FW::kActionModified: {
        const Iterator it = name.empty() ? m_items.end() : findExact(name, kAnyKind);
        if (it != m_items.end()) {
            (*it)->onChanged();
        } else {
            makeDir(name.c_str(), false);
        }
        event = kVDirItemModified;
        break;
    }
    case FW::kActionLost:
        deleteAll();
        refresh(false, nullptr);
        onRebuilt();
        event = kVDirRelisted;
        break;
    default:
        return;
    }
    if (m_pCallback != nullptr) {
        m_pCallback->onTreeItemChanged(event, name.c_str());
    }
}

} // namespace FILECACHE
