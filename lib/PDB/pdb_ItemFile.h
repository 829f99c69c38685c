// ItemFile: what snapshot files (SnapshotData) and preset files (PresetData) share. One object holds a contents
// list, an MBDF container built from it, the file's information database and its settings:
//   - the container: top block (file kind, model tag, version word, a new file id at every store), the
//     information block (a "#PDB DB" block whose kind text is the information database's name), one item block
//     per contents item ("#PDB SS" or "#PDB PS", empty kind text), the end block;
//   - the information database: a LocalParameterDB copied from the process-wide database of that name
//     ("SnapshotInfo", "PresetInfo"), with thirteen resolved information addresses.
// Readers take the first "#PDB DB" block whose kind text is the information database's name cut as the block
// stores it (12 bytes), and the items from every item block in container order; other blocks are passed over.
//
// The object belongs to one thread and has no lock; the databases it reads and writes lock themselves.
#pragma once

#include <string>
#include <vector>

#include "fcache_MBDF.h"
#include "klib_Types.h"
#include "pdb_LocalParameterDB.h"
#include "pdb_ParameterAddress.h"
#include "pdb_PresetItem.h"
#include "pdb_Result.h"
#include "pdb_SnapshotContentsList.h"

namespace PDB {

namespace ItemFileResult {
constexpr i32 READ_FAILED = PDB::RESULT_FAILED;
constexpr i32 BAD_ARGUMENT = PDB::RESULT_BAD_ARGUMENT;
constexpr i32 PROTECTED = PDB::RESULT_PROTECTED;
constexpr i32 NOT_WRITTEN = PDB::RESULT_NOT_WRITTEN;
constexpr i32 MALFORMED = PDB::RESULT_MALFORMED;
constexpr i32 WRONG_FILE = PDB::RESULT_WRONG_FILE;
constexpr i32 NO_MEMORY = PDB::RESULT_NO_MEMORY;
constexpr i32 NOTHING_TO_DO = PDB::RESULT_NOTHING_TO_DO;
} // namespace ItemFileResult

class ItemFile
{
public:
    // Positions of the information addresses in getInfoAddress.
    enum InfoAddress : u32 {
        INFO_PRODUCT_NAME = 0,
        INFO_PRODUCT_SUB_NAME,
        INFO_TYPE, // "/Info/DataType" of a snapshot, "/Info/PresetType" of a preset
        INFO_PROTECT,
        INFO_TITLE,
        INFO_COMMENT,
        INFO_OWNER_NAME,
        INFO_YEAR,
        INFO_MONTH,
        INFO_DAY,
        INFO_HOUR,
        INFO_MINUTE,
        INFO_SECOND,
        INFO_ADDRESS_COUNT
    };

    virtual ~ItemFile();
    ItemFile(const ItemFile&) = delete;
    ItemFile& operator=(const ItemFile&) = delete;

    // Builds the container from the contents list with values read from the live databases and info as the new
    // information (copied into the object's information database, time stamp set to the current UTC time).
    //   0; 0x80080000 empty contents, an information database without owner (id) or with another name;
    //   0x80000008 both informations protected; 0x80000080 the information block or an item block could not be
    //   built (each logged; the others are in the container).
    i32 store(IParameterDB& info);
    // store with the object's own information database.
    i32 storeContents() { return store(m_info); }
    // Writes the container to directory/name, building it first when it is not complete or its last build
    // failed (that build's failure is returned and nothing is written). The file is replaced atomically.
    //   0; 0x80080000 null name or empty contents; 0x80000080 the write failed (the old file stays).
    [[nodiscard]] i32 save(const char* name);
    // Reads directory/name with its information and contents.
    //   0; 0x80000001 null name; 0x80000000 unreadable; 0x80020000 other file kind or model tag; 0x80010000
    //   invalid container; on these the container and the contents list are left empty. 0x80010000 also when the
    //   information block could not be imported (the contents stay loaded, the name is not remembered).
    [[nodiscard]] i32 load(const char* name);

    // Every data block of the container holds its data (false for an empty container).
    bool isComplete() { return m_file.isComplete(); }
    // Empties the container (not the contents list).
    i32 clear();

    const std::string& getModelTag() const { return m_modelTag; }
    u32 getVersion() const { return m_version; }
    u32 getHeaderValue() const { return m_headerValue; }
    const std::string& getDirectory() const { return m_directory; }
    const std::string& getCurrentFileName() const { return m_currentFileName; }
    FILECACHE::MBDF& getFile() { return m_file; }
    LocalParameterDB& getInfoDatabase() { return m_info; }
    ParameterAddress& getInfoAddress(InfoAddress which) { return m_infoAddresses[which]; }

protected:
    ItemFile();

    // The common steps of initialize: settings, directory, information database copied from the process-wide
    // database infoDatabaseName, addresses resolved, model tag written into "/Info/ProductName".
    i32 initializeCommon(const char* modelTag, u32 version, u32 headerValue, const char* directory);
    // Replaces the information database and its block in a complete container.
    i32 applyInfo(IParameterDB& info);
    // Imports the information block into the information database (filter 8, write flag 0xFF); 0 when there is
    // none.
    i32 importInfoBlock();
    // Empties container and contents list.
    void clearAll();
    // Appends the valid items of every item block's record header to the contents list.
    void readItems();
    // Item blocks of the container in order.
    std::vector<FILECACHE::MBDFAbstractBlock*> getItemBlocks();

    // ---- what differs between snapshots and presets ----
    virtual const char* getFileKind() const = 0;
    virtual const char* getInfoDatabaseName() const = 0;
    virtual const char* getItemBlockTag() const = 0;
    // The thirteen information address texts in InfoAddress order.
    virtual const char* const* getInfoAddressTexts() const = 0;
    virtual ItemContentsList& getContentsList() = 0;
    // A new heap block holding the item's record with values (null when it cannot be allocated; result set).
    virtual FILECACHE::MBDFAbstractBlock* buildItemBlock(const PresetItem& item, i32& result) = 0;
    // Reads a record header (no values) into item.
    virtual i32 decodeItemHeader(PresetItem& item, const u8* record, u32 size) = 0;
    // "/Info/Protect" of db is set.
    virtual bool isProtected(IParameterDB& db) = 0;
    virtual void logCannotAddInfoBlock() = 0;
    virtual void logCannotAddItemBlock(u32 index) = 0;
    virtual void logCannotApplyInfoBlock() = 0;

    std::string m_modelTag;
    u32 m_version = 0;
    u32 m_headerValue = 0;
    std::string m_directory;
    FILECACHE::MBDF m_file;
    std::string m_currentFileName;
    LocalParameterDB m_info;
    ParameterAddress m_infoAddresses[INFO_ADDRESS_COUNT];
    // The last store left blocks out: a save builds again rather than write an incomplete container.
    bool m_buildFailed = false;

private:
    // Copies info into the information database (keeping its id and name). 0 or 0x80040000.
    i32 copyInfo(IParameterDB& info);
    // The first information block of the container, or the end iterator.
    FILECACHE::MBDF::BlockIterator findInfoBlock();
    void resolveInfoAddresses();
};

} // namespace PDB
