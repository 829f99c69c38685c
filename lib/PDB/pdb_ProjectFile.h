// ProjectFile: bundles the files of several folders (the items) and a project-information database into one
// MBDF container of kind "ProjectFile", and writes them back.
//
// Layout: the top block (kind "ProjectFile", name text = model tag, version word, a new file id), the "#PDB DB"
// block of the information database (kind text = its name, "ProjectInfo"), then per item in ascending byte order
// of the item name and per regular file of its folder in ascending byte order of the file name one "#FILE" block
// (kind text = item name, stored name = file name, key 0, level 6), and the end block.
//
// Saving stores only the regular files found directly in each item folder; sub-folders, symbolic links (never
// followed) and other special entries are skipped and logged. The file is replaced atomically: a failed or
// cancelled save leaves the old file, the information database and the current file name as they were.
//
// Loading extracts every item into a fresh staging folder beside its item folder and swaps the staging folders
// in only when every stored file was written and synced to the disk (the files are written without a sync each
// and synced together, then their staging folders); the information database is updated at the same moment. A
// failed or cancelled load changes no folder, no information and not the current file name.
//
// The cancel flag is a byte that another thread may set at any time; it is read with atomic loads.
//
// One owner thread; no lock of its own.
#pragma once

#include <map>
#include <string>

#include "fcache_MBDF.h"
#include "klib_Types.h"
#include "pdb_LocalParameterDB.h"
#include "pdb_ParameterAddress.h"
#include "pdb_Result.h"

struct FswDir;

namespace MMSFUNC {
class SelectedItemLoader;
}

namespace PDB {

class ProjectFile
{
public:
    static constexpr const char* KIND = "ProjectFile";
    static constexpr const char* INFO_DB_NAME = "ProjectInfo";
    static constexpr u32 FILE_LEVEL = 6;
    // Directory reads per folder listing, "." and ".." included.
    static constexpr u32 MAX_DIR_READS = 65534;
    // Bytes an item name may have: it is stored as the kind text of the "#FILE" blocks.
    static constexpr u32 MAX_ITEM_NAME = 12;

    static constexpr i32 RESULT_ABORTED = 2;
    static constexpr i32 RESULT_FAILED = PDB::RESULT_FAILED;
    static constexpr i32 RESULT_BAD_ARGUMENT = PDB::RESULT_BAD_ARGUMENT;
    static constexpr i32 RESULT_REFUSED = PDB::RESULT_REFUSED;
    static constexpr i32 RESULT_NOT_WRITTEN = PDB::RESULT_NOT_WRITTEN;

    // Observer error codes.
    static constexpr i32 ERROR_BAD_NAME = PDB::RESULT_BAD_ARGUMENT;
    static constexpr i32 ERROR_NOT_PROJECT = PDB::RESULT_EXPORT_FAILED;
    static constexpr i32 ERROR_UNREADABLE = PDB::RESULT_UNREADABLE;

    // Item name -> item folder; entry name -> folder of the entry (an empty folder: the name is the whole path).
    using ItemMap = std::map<std::string, std::string>;
    using EntryMap = std::map<std::string, std::string>;

    // The ten information parameters, in the order of the address table.
    enum InfoIndex : u32 {
        INFO_PRODUCT_NAME,
        INFO_PRODUCT_SUB_NAME,
        INFO_COMMENT,
        INFO_OWNER_NAME,
        INFO_YEAR,
        INFO_MONTH,
        INFO_DAY,
        INFO_HOUR,
        INFO_MINUTE,
        INFO_SECOND,
        INFO_COUNT
    };
    static const char* const INFO_ADDRESSES[INFO_COUNT];

    // Registers the block factories a project file is read with (top, end, "#FILE", "#PDB DB").
    ProjectFile();
    virtual ~ProjectFile();
    ProjectFile(const ProjectFile&) = delete;
    ProjectFile& operator=(const ProjectFile&) = delete;

    // Sets the object up: model tag, version word, the header value of the information block's table export,
    // the items, the delegate (null keeps the one stored before) and the replace-previous flag; copies the
    // structure and values of the process-wide "ProjectInfo" database (when it has an owner) and writes the model
    // tag and an empty sub-name into it. Clears the current file name.
    //   0; 0x80000001 a null model tag, or an item name over 12 bytes or holding NUL (nothing changed).
    i32 initialize(const char* modelTag, u32 version, u32 tableHeaderValue, const ItemMap& items,
                   MMSFUNC::SelectedItemLoader* loader, u8 replacePrevious);

    // Stamps comment, owner and the UTC time into the information database and writes the project file.
    //   0; 2 cancelled; 0x80000000 bad arguments, an empty model tag or a failed write.
    // On success with replace-previous set, the previously current file (another file) is deleted and path
    // becomes current. On failure or cancel nothing changes (file, information, current name, previous file).
    [[nodiscard]] i32 save(const char* path, const char* comment, const char* owner, const bool* cancel,
                           FILECACHE::IMBDFObserver* observer);

    // Extracts the project file at path into the item folders (or through the delegate when a selection is
    // given). 0; 2 cancelled; 0x80000004 the delegate refused the selection (its accept answered false);
    // 0x80000000 any other failure, a failing extraction of the delegate included.
    // Only success makes path the current file name.
    [[nodiscard]] i32 load(const char* path, const bool* cancel, FILECACHE::IMBDFObserver* observer,
                           const void* selection);

    // Builds the container from the information database and the item folders and writes it to path.
    //   0; 2 cancelled; 0x80000000 bad path, no container, the information block, an item folder that cannot
    //   be listed, or a regular file that cannot be stored (reported to onError with its path: 0x80000001 for a
    //   name a "#FILE" block cannot carry, 0x80000004 otherwise); 0x80000080 the container write failed.
    // Nothing is written unless every part could be added; the old file then stays as it was.
    [[nodiscard]] i32 writeProjectFile(const char* path, const bool* cancel, FILECACHE::IMBDFObserver* observer);

    // Reads the project file at path and imports its information block; with extractFiles also the files.
    //   0; 2 cancelled; 0x80000004 refused by the delegate; 0x80000000 not initialised, unreadable file
    //   (onError 0x80000004), not a project file of this model (onError 0x80000003), a block that cannot be
    //   extracted, or a failed swap.
    i32 extract(const char* path, bool extractFiles, const bool* cancel, FILECACHE::IMBDFObserver* observer,
                const void* selection);

    // Adds the entries of the folder at path to entries (a path that is not a folder: the path itself with an
    // empty folder). "." and ".." are skipped (0). 0 or 0x80000000 (logged).
    static i32 addItem(const char* path, EntryMap& entries);
    // Adds the entries of an open listing of the folder dirPath (every name but "." and "..", folders
    // included). At most 65534 reads; a folder with more entries gives 0x80000000 (logged).
    static i32 addItem(FswDir* dir, EntryMap& entries, const char* dirPath);

    const std::string& getModelTag() const { return m_modelTag; }
    u32 getVersion() const { return m_version; }
    u32 getTableHeaderValue() const { return m_tableHeaderValue; }
    const std::string& getCurrentFileName() const { return m_currentFileName; }
    bool getReplacePrevious() const { return m_replacePrevious != 0; }
    const ItemMap& getItems() const { return m_items; }
    MMSFUNC::SelectedItemLoader* getLoader() const { return m_loader; }
    FILECACHE::MBDF& getContainer() { return m_container; }
    LocalParameterDB& getInformationDB() { return m_info; }
    const ParameterAddress& getInfoAddress(InfoIndex index) const { return m_addresses[index]; }

private:
    // Resolves the ten information addresses in the information database.
    void resolveInfoAddresses();
    // Stores the files of one item folder as "#FILE" blocks. 0 or 0x80000000 (the write must not go on).
    i32 addItemBlocks(const std::string& itemName, const std::string& itemDir, FILECACHE::IMBDFObserver& observer,
                      i32& status);
    // extract; *refused tells whether the delegate refused the selection (then 0x80000004).
    i32 extractProject(const char* path, bool extractFiles, const bool* cancel, FILECACHE::IMBDFObserver* observer,
                       const void* selection, bool* refused);
    // The built-in extraction: stage, extract, sync, swap, then commit or roll back.
    i32 extractItems(const char* path, FILECACHE::FileAccessor& file, const bool* cancel,
                     FILECACHE::IMBDFObserver& observer);

    std::string m_modelTag;
    u32 m_version;
    u32 m_tableHeaderValue;
    FILECACHE::MBDF m_container;
    std::string m_currentFileName;
    u8 m_replacePrevious;
    LocalParameterDB m_info;
    ParameterAddress m_addresses[INFO_COUNT];
    ItemMap m_items;
    MMSFUNC::SelectedItemLoader* m_loader;
};

} // namespace PDB
