// Component records shared by both database classes and by the file readers:
//
// One component's export: its 92-byte "#CI1" record, then one "#PR1" record per block:
//   0 "#PR1" | 4 block index u16 | 6 type code | 7 0 | 8 element size u32 | 12 X size u16 | 14 Y size u16 |
//   16 the block's raw storage (little-endian), zero-padded to a multiple of 4 bytes
// The "#CT1" component table (header integers big-endian):
//   0 "#CT1" | 4 header value u32 | 8 N u32 | 12 N offsets u32 (from the start of the record) | entries
// Each entry is one component export; an index that names no component leaves a 0-byte entry.
//
// The readers here only look: they frame a record completely (every length against the bytes that are there,
// in 64 bits) before any importer changes anything, so damaged input never leaves half an import behind.
#pragma once

#include <string>
#include <vector>

#include "klib_Types.h"
#include "pdb_ComponentInfo.h"
#include "pdb_ParameterInfo.h"
#include "pdb_Result.h"

namespace PDB {

class IParameterDB;

namespace Record {

constexpr u32 CI1_SIZE = 92;
constexpr u32 PR1_HEADER_SIZE = 16;
constexpr u32 CT1_HEADER_SIZE = 12;

inline u16 readU16(const u8* p)
{
    return static_cast<u16>((p[0] << 8) | p[1]);
}
inline u32 readU32(const u8* p)
{
    return (static_cast<u32>(p[0]) << 24) | (static_cast<u32>(p[1]) << 16) | (static_cast<u32>(p[2]) << 8) |
           static_cast<u32>(p[3]);
}
inline void writeU16(u8* p, u32 v)
{
    p[0] = static_cast<u8>(v >> 8);
    p[1] = static_cast<u8>(v);
}
inline void writeU32(u8* p, u32 v)
{
    p[0] = static_cast<u8>(v >> 24);
    p[1] = static_cast<u8>(v >> 16);
    p[2] = static_cast<u8>(v >> 8);
    p[3] = static_cast<u8>(v);
}

// True for the ten type codes that a "#PR1" record may carry.
bool isKnownTypeCode(u8 typeCode);

// Bytes of the values of a block (numbers and BOOL padded to 4 bytes, STRING/BINARY elements of the element
// size rounded up to 4), in 64 bits; 0 for an unknown type code.
u64 rawSize64(u8 typeCode, u32 elementSize, u64 count);

// The fields of one "#PR1" header and where its values are.
struct ParameterRecord
{
    u16 blockIndex = 0;
    u8 typeCode = 0;
    u32 elementSize = 0;
    u16 countX = 0;
    u16 countY = 0;
    const u8* values = nullptr;
    u32 valueSize = 0; // raw size of (type code, element size, X * Y)
};

// Reads the record at data (size bytes left): the 16 header bytes present, the tag, a known type code and the
// values within what is left. 0 with record filled, or 0x80010000. When log is set, the failure is logged with
// recordIndex (the position among the component's records).
i32 readParameterRecord(const u8* data, u64 size, u32 recordIndex, bool log, ParameterRecord& record);

// Frames count "#PR1" records back to back at data; used gets the bytes they occupy. 0 or 0x80010000.
i32 frameParameterRecords(const u8* data, u64 size, u32 count, bool log, u64& used);

// The fields of a "#CI1" record, read without copying a description.
struct ComponentRecord
{
    ComponentUID uid = INVALID_COMPONENT_UID;
    std::string name;
    u32 version = 0;
    u16 currentX = 0;
    u16 currentY = 0;
    u16 blockCount = 0;
    const ComponentInfo* registered = nullptr; // the repository's description, or null when not registered
};

// Reads a "#CI1" record and finds its type in the repository with the checks of ComponentInfo::importBinary:
// null or fewer than 92 bytes 0x80000001, wrong tag 0x80010000, type not registered 0x80000002 (logged when
// log is set), recorded dimensions outside the type's limits 0x80000001. The record's fields are filled as far
// as they were read.
i32 peekComponentRecord(const void* data, u64 size, bool log, ComponentRecord& record);

// Frames one whole component export (a "#CI1" record and the "#PR1" records it announces) without looking the
// type up: 0, 0x80000001 (shorter than 92 bytes) or 0x80010000 (bad tag or records).
i32 frameComponentExport(const void* data, u64 size, bool log);

} // namespace Record

// Checks a "#CT1" record for an import into target with the given options, writing nothing:
//   - null or shorter than 12 bytes, or shorter than its offset table: 0x80000001;
//   - tag not "#CT1", a first entry that does not start right after the offset table (without entries: bytes
//     after the table), an offset not a multiple of 4, smaller than the one before it or beyond the record, an
//     entry that is not a component export whose announced records end exactly where the entry ends:
//     0x80010000;
//   - a 0-byte entry before the last one marks an index without a component and is passed over;
//   - an entry whose type is not registered is passed over (the import skips it too);
//   - without option bit 0 (replace): a uid present in target whose component has another type name gives
//     0x80020000, a uid that maps to an empty position 0x80010000.
// Entry i runs from its offset to the next entry's offset, the last to the end of the record.
i32 checkComponentTable(const IParameterDB& target, const void* record, u32 size, ParameterFilter options);

// One entry of a checked "#CT1" record.
struct ComponentTableEntry
{
    const u8* data = nullptr;
    u32 size = 0;
    bool importable = false;                  // not a 0-byte mark, and its type is registered
    ComponentUID uid = INVALID_COMPONENT_UID; // the uid its "#CI1" names (importable entries)
    u32 targetIndex = 0xFFFFFFFF;             // without replace: the uid's position in the target, if any
};

// Splits a record that checkComponentTable accepted into its entries (0-byte entries included; only data and
// size are filled).
void splitComponentTable(const void* record, u32 size, std::vector<ComponentTableEntry>& entries);

// checkComponentTable that also hands back the entries of an accepted record (left empty on failure).
i32 checkComponentTableEntries(const IParameterDB& target, const void* record, u32 size, ParameterFilter options,
                               std::vector<ComponentTableEntry>& entries);

// Size of the "#CT1" record of the components at the given positions (a position without a component adds its
// offset only), in 64 bits.
u64 getComponentTableSize64(const IParameterDB& db, const std::vector<u32>& indices);

// Component indices of all components of db in ascending uid order.
void listComponentsByUID(const IParameterDB& db, std::vector<u32>& indices);

// Writes the "#CT1" record of the listed positions (listIsAll: the list holds every component of db). The
// buffer must hold the table of every component of db and the listed table; each component writes into exactly
// its own export size. 0, or 0x80000001 for a null or too small buffer or a component whose export fails; a
// failure may leave part of a record in the buffer, never anything past size.
i32 writeComponentTable(const IParameterDB& db, void* buffer, u32 size, u32 headerValue,
                        const std::vector<u32>& indices, bool listIsAll = false);

} // namespace PDB
