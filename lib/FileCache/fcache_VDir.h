// Virtual directories: an in-memory list of the entries of one real folder, kept in step with the disk through
// the file-change watcher.
#pragma once

#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "fcache_BinaryAccessor.h"
#include "fw_FileWatcher.h"
#include "klib_Types.h"

namespace FILECACHE {

class VDir;

// ---------------------------------------------------------------------------------------------------------------
// One file or folder. Its full path is parent + "/" + name (just the name for an empty parent); a leading "./"
// of the name is dropped.
// ---------------------------------------------------------------------------------------------------------------
class VDirTreeItem
{
public:
    static constexpr u32 kKindNone = 0;
    static constexpr u32 kKindFile = 1;
    static constexpr u32 kKindFolder = 2;

    VDirTreeItem();
    virtual ~VDirTreeItem();
    VDirTreeItem(const VDirTreeItem&) = delete;
    VDirTreeItem& operator=(const VDirTreeItem&) = delete;

    // A kind above 2, a null name, or a file name that FileAccessor::isValidFileName refuses gives kind 0 and
    // 0x80000000. A name with a ".." part or a leading "/" is refused the same way. With onDisk, missing parent
    // folders and a missing file (created empty) or folder are made.
    virtual i32 create(const char* parentPath, u32 kind, const char* name, bool onDisk);
    // File items only (others 0x80000000); they forward to the accessor on the full path.
    virtual i32 open(u32 mode);
    virtual i32 close();
    virtual i32 read(void* buffer, u32 size, u32* got);
    virtual i32 write(const void* buffer, u32 size, u32* put);
    virtual i32 seek(u32 origin, u32 offset);
    virtual u32 tell(); // 0x80000000 for other kinds
    virtual i32 remove(bool recursive);
    // Moves to parent + "/" + newName (just newName for an empty parent), replacing an existing target.
    virtual i32 rename(const char* newName);
    virtual i32 copyTo(const char* newName);
    virtual i32 setAttributes(bool readOnly, bool hidden, bool system);
    // The watcher reported a modification of this item. Nothing in the base class.
    virtual i32 onChanged();

    const char* getName() const { return m_name.c_str(); }
    const std::string& name() const { return m_name; }
    const std::string& getParentPath() const { return m_pParentPath ? *m_pParentPath : kEmpty; }
    u32 getKind() const { return m_kind; }
    std::string getFullPath() const;
    u32 getSize() const;
    bool isOpen() const { return m_accessor.isOpen(); }
    FileAccessor& accessor() { return m_accessor; }

protected:
    std::string pathFor(const std::string& name) const;

    // Shared by the items of one folder listing.
    std::shared_ptr<const std::string> m_pParentPath;
    static inline const std::string kEmpty;
    u32 m_kind;
    std::string m_name;
    FileAccessor m_accessor;
    u32 m_openMode; // mode of the last successful open

private:
    friend class VDir;
    VDir* m_pOwner; // the directory whose list holds this item, told about renames
    u64 m_sequence; // position in the owner's list (ascending)
};

// Opens a file item for the length of one operation: an item whose accessor is already open is left as it is;
// otherwise the item is opened with the mode and closed again at the end.
class VDirItemOpener
{
public:
    VDirItemOpener(VDirTreeItem& item, u32 mode);
    ~VDirItemOpener();
    VDirItemOpener(const VDirItemOpener&) = delete;
    VDirItemOpener& operator=(const VDirItemOpener&) = delete;
    i32 result() const { return m_result; }

private:
    VDirTreeItem& m_item;
    i32 m_result;
    bool m_opened;
};

// Events of IVDirTreeCallback::onTreeItemChanged.
constexpr u32 kVDirItemAdded = 1;
constexpr u32 kVDirItemRemoved = 2;
constexpr u32 kVDirItemModified = 3;
constexpr u32 kVDirFolderChanged = 4; // name null
constexpr u32 kVDirRelisted = 5;      // name empty

class IVDirTreeCallback
{
public:
    virtual void onTreeItemChanged(u32 event, const char* name) = 0;
    virtual ~IVDirTreeCallback() = default;
};

// Creates the item object for a file of one extension; null falls back to a plain item.
using VDirItemFactory = VDirTreeItem* (*)();

// ---------------------------------------------------------------------------------------------------------------
// VDir
// ---------------------------------------------------------------------------------------------------------------
class VDir : public FW::FileWatchListener
{
public:
    using ItemList = std::list<std::unique_ptr<VDirTreeItem>>;
    using Iterator = ItemList::iterator;

    explicit VDir(bool keepDotEntries);
    ~VDir() override;
    VDir(const VDir&) = delete;
    VDir& operator=(const VDir&) = delete;

    // maxItems 0 gives 0x80000000. Creates the root (with missing parents) and changes to it.
    i32 open(const char* rootPath, u32 maxItems, bool onDisk);
    // null/"" root, "." current, ".." parent, "/x" below the root, "x" below the current folder. Targets above
    // the root and missing folders give 0x80000000.
    i32 changeDirectory(bool onDisk, const char* path, bool force);
    // Lists the current folder (or its sub-folder subPath, whose entries are named "subPath/x") and adds an item
    // for every name not listed yet, "." and ".." first, then byte-wise. Entries that vanish meanwhile are left
    // out; reaching the item limit ends the listing with 0x80000000.
    i32 refresh(bool onDisk, const char* subPath);
    // Add an item for an existing entry of the current folder (makeDir continues as makeFile for a file). Names
    // are compared exactly; a name with a ".." part or a leading "/" gives 0x80000000. Without keepDotEntries
    // makeDir ignores "." and "..".
    i32 makeDir(const char* name, bool onDisk);
    i32 makeFile(const char* name, bool onDisk);
    // Removes the first item whose name equals name exactly (no wildcards).
    i32 removeItem(const char* name, bool recursive);
    // First item (from the start, or from `from` inclusive) of the kind (0 any created item, 1 files, 2 folders) whose
    // name matches the pattern ("?" one character, "*" any run); end() when none or for a null pattern.
    Iterator findItem(u32 kind, const char* pattern);
    Iterator findNextItem(u32 kind, const char* pattern, Iterator from);

    i32 startWatching(IVDirTreeCallback* callback, bool rebuild);
    i32 stopWatching();
    // Polls the watcher; change reports arrive in onFileChanged on the calling thread.
    i32 checkModification();
    bool isWatching() const { return m_watchId != 0; }
    u32 getWatchId() const { return m_watchId; }
    const std::string& getWatchedPath() const { return m_currentPath; }
    void setName(const char* name) { m_name = name != nullptr ? name : ""; }
    const char* getName() const { return m_name.c_str(); }

    // Files whose extension (text after the last ".") has a factory get their item from it.
    void registerFactory(const char* extension, VDirItemFactory factory);

    const std::string& getRootPath() const { return m_rootPath; }
    const std::string& getCurrentPath() const { return m_currentPath; }
    u32 getItemLimit() const { return m_limit; }
    u32 getItemCount() const { return static_cast<u32>(m_items.size()); }
    Iterator begin() { return m_items.begin(); }
    Iterator end() { return m_items.end(); }
    // The first item (in list order) whose name equals name exactly; null when none.
    VDirTreeItem* itemNamed(const std::string& name);

    void onFileChanged(u32 watchId, const std::string& folder, const std::string& name, u32 action) override;

    // Normalised form of a path: empty and "." parts dropped, one leading "/" kept, ".." parts kept.
    static std::string normalise(const std::string& path);
    // Byte-wise, case-sensitive wildcard match of the whole name.
    static bool matches(const char* pattern, const char* name);

protected:
    // Called after each rebuild of the item list.
    virtual void onRebuilt() {}

private:
    friend class VDirTreeItem;

    enum class EntryType { Unknown, File, Folder };
    // makeDir; a known type saves reading the attributes, and `absent` (no item of that name is listed) the
    // look-up. *unreadable (optional) tells that the attributes could not be read.
    i32 addEntry(const char* name, bool onDisk, bool* unreadable, EntryType type, bool absent);
    i32 addFile(const char* name, bool onDisk, bool absent);
    Iterator findExact(const std::string& name, u32 kindMask);
    void append(std::unique_ptr<VDirTreeItem> item);
    void unlink(Iterator it);
    void deleteAll();
    void itemRenamed(VDirTreeItem* item, const std::string& oldName);
    VDirTreeItem* newItemFor(std::string_view name);
    const std::shared_ptr<const std::string>& sharedCurrentPath();

    bool m_keepDotEntries;
    std::string m_name;
    std::string m_rootPath;
    std::string m_currentPath;
    std::shared_ptr<const std::string> m_pSharedCurrentPath; // handed to the items of the current folder
    u32 m_limit;
    IVDirTreeCallback* m_pCallback;
    std::unordered_map<std::string, VDirItemFactory> m_factories;
    ItemList m_items;
    // Exact-name index beside the ordered list, so look-ups and the duplicate check of a listing stay linear.
    std::unordered_multimap<std::string, Iterator> m_index;
    u64 m_nextSequence;
    u32 m_watchId;
    FW::FileWatcher m_watcher;
};

} // namespace FILECACHE
