// The item records of snapshot ("#SC1") and preset ("#PC1") files, and the "#PDB SS" / "#PDB PS" blocks that
// carry one record each.
//
// Record layout (header fields big-endian):
//   0   4  tag "#SC1" or "#PC1"
//   4   1  item kind in bits 0-6; bit 7 set when a values area follows
//   5   1  length of the database name
//   6   1  length of the component type name (kinds 1-3)
//   7   1  length of the parameter address (kinds 2, 3)
//   8   4  component uid (kinds 1-3)
//   12  2  x (kinds 2, 3)
//   14  2  y (kinds 2, 3)
//   16     the names back to back without terminators, zero-padded to a multiple of 4
//   then   the values area (kind 0 the database's "#CT1" table, kind 1 the component's export, kind 2 the
//          block's raw storage, kind 3 the addressed elements x outer / y inner, each the block's element size in
//          little-endian order), zero-padded to a multiple of 4.
// Kinds other than 0-3 are written as a bare header with only byte 4 set.
//
// The 16-bit x and y of a kind-3 record carry a whole axis as 0xFFFF; a single index of 0xFFFF or more cannot be
// written (0x80010000), so 0xFFFF always reads back as the whole axis. Kind-2 counts above 0xFFFF are written as
// 0xFFFF (they only tell that the block is not empty).
//
// Locking: encoding holds the source database's lockRead across size and values; applying a record holds the
// target database's lockWrite across the whole recall bracket, so other threads' writes never fall inside it.
//
// Results: 0; 0x80000001 bad argument, short buffer, invalid component or short values; 0x80000002 database not
// found; 0x80010000 malformed or mismatching record, unsupported type code, a kind-3 item spanning both axes or an
// index that 16 bits cannot carry; a failure of an export, a read, an import or a write is passed on.
#pragma once

#include <vector>

#include "klib_Types.h"
#include "pdb_IParameterDB.h"
#include "pdb_MBDFPDBBlock.h"
#include "pdb_PresetItem.h"
#include "pdb_Result.h"

namespace PDB {

class ParameterDBCollection;

namespace ItemRecord {
constexpr u32 HEADER_SIZE = 16;
constexpr u8 VALUES_FLAG = 0x80;
constexpr u8 KIND_MASK = 0x7F;
// x / y field of a kind-3 record that spans the whole axis.
constexpr u16 WHOLE_AXIS_FIELD = 0xFFFF;
constexpr const char* SNAPSHOT_TAG = "#SC1";
constexpr const char* PRESET_TAG = "#PC1";

constexpr i32 RESULT_FAILED = PDB::RESULT_FAILED;
constexpr i32 RESULT_BAD_ARGUMENT = PDB::RESULT_BAD_ARGUMENT;
constexpr i32 RESULT_NOT_FOUND = PDB::RESULT_NOT_FOUND;
constexpr i32 RESULT_EXPORT_FAILED = PDB::RESULT_EXPORT_FAILED;
constexpr i32 RESULT_NO_MEMORY = PDB::RESULT_BLOCK_NO_MEMORY;
constexpr i32 RESULT_MALFORMED = PDB::RESULT_MALFORMED;
} // namespace ItemRecord

// The first database of the collection whose name equals name, or null (empty positions are skipped).
IParameterDB* findDatabaseByName(const ParameterDBCollection& collection, const char* name);

// ---- "#SC1": the database is found by the item's database name in a collection ----

// Size of the item's record (values included when withValues); 0 when the database is not found, the item is
// invalid, the component of a kind-1 item is missing, a kind-3 item spans both axes or the size exceeds 32 bits.
u32 getSnapshotRecordSize(const PresetItem& item, const ParameterDBCollection& collection, bool withValues);
// Writes the record into buffer (at least the record size). headerValue goes into a kind-0 "#CT1" export.
i32 encodeSnapshotRecord(const PresetItem& item, const ParameterDBCollection& collection, void* buffer, u32 size,
                         u32 headerValue, bool withValues);
// The same into out, resized to the record size; the source database stays locked across size and values.
// 0x80000005 when out cannot grow.
i32 encodeSnapshotRecord(const PresetItem& item, const ParameterDBCollection& collection, std::vector<u8>& out,
                         u32 headerValue, bool withValues);
// Reads the header into item (reset first). With apply, a record carrying values writes them into the database
// of the collection named by the record: kind 0 as a raw table import, kind 1 through the component's import
// (its type must match), kinds 2 and 3 only for recallable blocks (others: 0, nothing written).
i32 decodeSnapshotRecord(PresetItem& item, const ParameterDBCollection& collection, const void* record, u32 size,
                         bool apply);

// ---- "#PC1": the database and the component uid are given by the caller ----

u32 getPresetRecordSize(const PresetItem& item, IParameterDB* database, ComponentUID uid, bool withValues);
// As the snapshot form; the header carries uid, and the values come from the component uid of database.
i32 encodePresetRecord(const PresetItem& item, IParameterDB* database, ComponentUID uid, void* buffer, u32 size,
                       u32 headerValue, bool withValues);
// As the snapshot form, but the values go to component uid of database whatever the record names (its type name
// must equal that component's), and blocks are written whether recallable or not.
i32 decodePresetRecord(PresetItem& item, IParameterDB* database, ComponentUID uid, const void* record, u32 size,
                       bool apply);

// ---- Block builders ----

// Fills a "#PDB SS" block (kind text name) with the item's record over the process-wide collection, or over the
// given one. 0x80000001 invalid item, unknown database, empty size or a refused part; 0x80000005 no memory;
// 0x80000003 the encoder failed; 0x80000007 a record over the container's block limit.
i32 setupSnapshotBlock(MBDFPDBSSBlock& block, const char* name, const PresetItem& item, u32 headerValue,
                       bool withValues);
i32 setupSnapshotBlock(MBDFPDBSSBlock& block, const char* name, const PresetItem& item, u32 headerValue,
                       bool withValues, const ParameterDBCollection& collection);
// Fills a "#PDB PS" block with the item's "#PC1" record: the database named by the item (process-wide
// collection; none gives 0x80000001) and the item's own uid. Other results as setupSnapshotBlock.
i32 setupPresetBlock(MBDFPDBPSBlock& block, const char* name, const PresetItem& item, u32 headerValue, bool withValues);

} // namespace PDB
