// Parameter-database blocks of the MBDF container:
//   "#PDB DB"  the "#CT1" component table of one database (backups, and the information databases of preset,
//              snapshot and project files);
//   "#PDB PS"  one preset item record;
//   "#PDB SS"  one snapshot item record.
//
// Tag field: bytes 0-11 the block tag zero-filled, bytes 12-23 the kind text, which holds a name cut to 12 bytes
// (no terminator at exactly 12). No info part; the data part is the record as it stands.
//
// Because the kind text keeps only 12 bytes of a name, a reader never compares it with a full name: it uses
// isPDBBlockKindOf, which compares with the name cut the same way.
//
// A record larger than the container's per-block read limit (0xA00000 bytes) could be written but never read
// back, so the builders refuse it with 0x80000007.
#pragma once

#include <string>

#include "fcache_MBDF.h"
#include "fcache_MBDFAbstractBlock.h"
#include "klib_Types.h"
#include "pdb_Result.h"

namespace PDB {

class IParameterDB;
class ParameterDBCollection;
class PresetItem;

namespace PDBBlock {
constexpr u32 TAG_LENGTH = 12;
// Bytes of a name that the kind text keeps.
constexpr u32 NAME_LENGTH = 12;

constexpr i32 RESULT_FAILED = PDB::RESULT_FAILED;
constexpr i32 RESULT_BAD_ARGUMENT = PDB::RESULT_BAD_ARGUMENT;
constexpr i32 RESULT_EXPORT_FAILED = PDB::RESULT_EXPORT_FAILED;
constexpr i32 RESULT_NO_MEMORY = PDB::RESULT_BLOCK_NO_MEMORY;
constexpr i32 RESULT_LIMIT_OVER = PDB::RESULT_LIMIT_OVER;
} // namespace PDBBlock

// The kind text that a block built for name carries: name cut to 12 bytes (empty for null).
std::string getPDBBlockKindText(const char* name);
// True when the block's kind text is the one a block built for name carries. False for a null name.
bool isPDBBlockKindOf(const FILECACHE::MBDFAbstractBlock& block, const char* name);
// True when the two names give the same kind text (null counts as empty).
bool isSamePDBBlockKind(const char* a, const char* b);

// Common part of the three classes: tag length 12, validity, building from a ready record.
class MBDFPDBRecordBlock : public FILECACHE::MBDFAbstractBlock
{
public:
    // Tag text exactly the class's tag and a data size that is not 0.
    bool isValid() const override;
    u32 getTagLength() const override;
    // The class's 7-character tag.
    virtual const char* getClassTag() const = 0;

    // clear, then tag, kind text from name (a warning is logged when the name is cut) and a copy of the record.
    // 0x80000001 for a null name, a null or empty record or a refused part; 0x80000007 (logged) for a record
    // over the block limit; 0x80000005 when no memory is left. On failure the block is cleared.
    i32 setRecord(const char* name, const void* record, u32 size);

protected:
    // clear, tag and kind text (warning when cut). 0 or 0x80000001.
    i32 beginRecord(const char* name, const char* caller);
    // Logs and returns 0x80000007 when size is over the block limit, else 0.
    static i32 checkRecordSize(u64 size, const char* name, const char* caller);
};

// "#PDB DB": the whole component table of one database.
class MBDFPDBBlock : public MBDFPDBRecordBlock
{
public:
    static constexpr const char* TAG = "#PDB DB";

    ~MBDFPDBBlock() override = default;
    const char* getClassTag() const override { return TAG; }

    // Builds the block from the "#CT1" export of every component of database with the given header value; the
    // kind text is name. The database's read lock is held across size, allocation and export, so the table
    // cannot grow in between. The record is exported straight into the block's data part.
    //   0x80000001 null name or database, an empty table size;
    //   0x80000007 a table over the block limit (logged);
    //   0x80000005 no memory for the record;
    //   0x80000003 the export failed.
    // On failure the block has no data part and is not valid.
    i32 setup(const char* name, IParameterDB* database, u32 headerValue);

    // Registers the factory of "#PDB DB" once per process; returns 0.
    static i32 registerFactory();
};

// "#PDB PS": one preset item record (built by the preset file through setRecord).
class MBDFPDBPSBlock : public MBDFPDBRecordBlock
{
public:
    static constexpr const char* TAG = "#PDB PS";
    ~MBDFPDBPSBlock() override = default;
    const char* getClassTag() const override { return TAG; }
    static i32 registerFactory();
    // Builds the block from one preset item's "#PC1" record (defined with the preset file).
    i32 setup(const char* name, const PresetItem& item, u32 headerValue, bool withValues);
};

// "#PDB SS": one snapshot item record (built by the snapshot file through setRecord).
class MBDFPDBSSBlock : public MBDFPDBRecordBlock
{
public:
    static constexpr const char* TAG = "#PDB SS";
    ~MBDFPDBSSBlock() override = default;
    const char* getClassTag() const override { return TAG; }
    static i32 registerFactory();
    // Builds the block from one snapshot item's "#SC1" record over the process-wide collection, or over the given
    // one (a private copy during a recall). Defined with the snapshot file.
    i32 setup(const char* name, const PresetItem& item, u32 headerValue, bool withValues);
    i32 setup(const char* name, const PresetItem& item, u32 headerValue, bool withValues,
              const ParameterDBCollection& collection);
};

// Inserts a deep copy of source, as a new MBDFPDBBlock (the copy keeps the source's whole tag field), before the
// data block at position; 0xFFFFFFFF or a position at or past the end appends. 0, or 0x80000000 when the block
// cannot be allocated or the copy fails.
i32 insertPDBBlock(FILECACHE::MBDF& container, u32 position, const FILECACHE::MBDFAbstractBlock& source);

// The data block at position when its tag text is exactly "#PDB DB", else null.
FILECACHE::MBDFAbstractBlock* getPDBBlock(FILECACHE::MBDF& container, u32 position);

} // namespace PDB
