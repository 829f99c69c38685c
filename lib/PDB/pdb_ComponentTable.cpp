#include "pdb_ComponentTable.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "klib_Print.h"
#include "pdb_AbstractComponent.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_IComponent.h"
#include "pdb_IParameterDB.h"

namespace PDB {
namespace Record {

bool isKnownTypeCode(u8 typeCode)
{
    return rawSize64(typeCode, 1, 1) != 0;
}

u64 rawSize64(u8 typeCode, u32 elementSize, u64 count)
{
    switch (typeCode) {
    case TYPE_UINT8:
    case TYPE_SINT8:
        return (count + 3) & ~u64{3};
    case TYPE_UINT16:
    case TYPE_SINT16:
        return (2 * count + 3) & ~u64{3};
    case TYPE_UINT32:
    case TYPE_SINT32:
    case TYPE_FLOAT:
        return 4 * count;
    case TYPE_BOOL:
        return ((count + 7) / 8 + 3) & ~u64{3};
    case TYPE_STRING:
    case TYPE_BINARY:
        return ((static_cast<u64>(elementSize) + 3) & ~u64{3}) * count;
    default:
        return 0;
    }
}

i32 readParameterRecord(const u8* data, u64 size, u32 recordIndex, bool log, ParameterRecord& record)
{
    if (data == nullptr || size < PR1_HEADER_SIZE) {
        if (log && data != nullptr && size >= 4 && std::memcmp(data, "#PR1", 4) != 0) {
            // The tag is read first: a foreign record is a format error even when it is short as well.
            KLIB_LOG("[E] ComponentInfo::importBinary - Unknown ParameterInfo format. [paramBlockIndex=%d]\n",
                     static_cast<int>(recordIndex));
        } else if (log) {
            KLIB_LOG("[E] ComponentInfo::importBinary - Insufficient data size. [paramBlockIndex=%d, "
                     "destAddressIndex=%d]\n",
                     static_cast<int>(recordIndex),
                     data != nullptr && size >= 6 ? static_cast<int>(readU16(data + 4)) : -1);
        }
        return RESULT_MALFORMED;
    }
    const u64 count = static_cast<u64>(readU16(data + 12)) * readU16(data + 14);
    const u64 valueSize = rawSize64(data[6], readU32(data + 8), count);
    if (std::memcmp(data, "#PR1", 4) != 0 || !isKnownTypeCode(data[6])) {
        if (log) {
            KLIB_LOG("[E] ComponentInfo::importBinary - Unknown ParameterInfo format. [paramBlockIndex=%d]\n",
                     static_cast<int>(recordIndex));
        }
        return RESULT_MALFORMED;
    }
    record.blockIndex = readU16(data + 4);
    record.typeCode = data[6];
    record.elementSize = readU32(data + 8);
    record.countX = readU16(data + 12);
    record.countY = readU16(data + 14);
    if (valueSize > size - PR1_HEADER_SIZE) {
        if (log) {
            KLIB_LOG("[E] ComponentInfo::importBinary - Insufficient data size. [paramBlockIndex=%d, "
                     "destAddressIndex=%d]\n",
                     static_cast<int>(recordIndex), static_cast<int>(record.blockIndex));
        }
        return RESULT_MALFORMED;
    }
    record.values = data + PR1_HEADER_SIZE;
    record.valueSize = static_cast<u32>(valueSize);
    return 0;
}

i32 frameParameterRecords(const u8* data, u64 size, u32 count, bool log, u64& used)
{
    used = 0;
    for (u32 i = 0; i < count; ++i) {
        ParameterRecord record;
        const i32 result = readParameterRecord(data + used, size - used, i, log, record);
        if (result < 0) {
            return result;
        }
        const u64 step = PR1_HEADER_SIZE + record.valueSize;
        used += step;
        // Records of one component tend to have one size: ask for the headers a few records ahead.
        if (size - used > 4 * step) {
            __builtin_prefetch(data + used + 3 * step);
            __builtin_prefetch(data + used + 4 * step);
        }
    }
    return 0;
}

i32 peekComponentRecord(const void* data, u64 size, bool log, ComponentRecord& record)
{
    record = ComponentRecord();
    if (data == nullptr || size < CI1_SIZE) {
        return RESULT_BAD_ARGUMENT;
    }
    const u8* p = static_cast<const u8*>(data);
    if (std::memcmp(p, "#CI1", 4) != 0) {
        return RESULT_MALFORMED;
    }
    record.uid = readU32(p + 4);
    const char* name = reinterpret_cast<const char*>(p + 8);
    record.name.assign(name, strnlen(name, ComponentInfo::NAME_FIELD_SIZE - 1)); // as ComponentInfo reads it
    record.version = readU32(p + 32);
    record.currentX = readU16(p + 36);
    record.currentY = readU16(p + 38);
    record.blockCount = readU16(p + 88);
    const ComponentInfo& registered =
        ComponentInfoRepository::getInstance().findComponentInfo(record.name.c_str(), record.version);
    if (!registered.hasParameters()) {
        if (log) {
            KLIB_LOG("[E] ComponentInfo::importBinary - Unknown ComponentInfo found. [name=%s, ver=%d]\n",
                     record.name.c_str(), static_cast<int>(record.version));
        }
        return RESULT_NOT_FOUND;
    }
    record.registered = &registered;
    const u32 x = record.currentX != 0 ? record.currentX : registered.getMinX();
    const u32 y = record.currentY != 0 ? record.currentY : registered.getMinY();
    if (x < registered.getMinX() || x > registered.getMaxX() || y < registered.getMinY() || y > registered.getMaxY()) {
        return RESULT_BAD_ARGUMENT;
    }
    return 0;
}

i32 frameComponentExport(const void* data, u64 size, bool log)
{
    if (data == nullptr || size < CI1_SIZE) {
        return RESULT_BAD_ARGUMENT;
    }
    const u8* p = static_cast<const u8*>(data);
    if (std::memcmp(p, "#CI1", 4) != 0) {
        return RESULT_MALFORMED;
    }
    u64 used = 0;
    return frameParameterRecords(p + CI1_SIZE, size - CI1_SIZE, readU16(p + 88), log, used);
}

} // namespace Record

using namespace Record;

namespace {

// Offsets of a "#CT1" record whose header and offset table are present: 0 or 0x80010000. The first entry starts
// right after the offset table, and a record without entries ends there.
i32 checkOffsets(const u8* p, u32 size, u64 count)
{
    const u64 tableEnd = CT1_HEADER_SIZE + 4 * count;
    if (count == 0 ? size != tableEnd : readU32(p + CT1_HEADER_SIZE) != tableEnd) {
        return RESULT_MALFORMED;
    }
    u64 previous = tableEnd;
    for (u64 i = 0; i < count; ++i) {
        const u64 offset = readU32(p + CT1_HEADER_SIZE + 4 * i);
        if ((offset & 3) != 0 || offset < previous || offset > size) {
            return RESULT_MALFORMED;
        }
        previous = offset;
    }
    return 0;
}

} // namespace

void splitComponentTable(const void* record, u32 size, std::vector<ComponentTableEntry>& entries)
{
    entries.clear();
    const u8* p = static_cast<const u8*>(record);
    const u32 count = readU32(p + 8);
    entries.reserve(count);
    for (u32 i = 0; i < count; ++i) {
        const u32 offset = readU32(p + CT1_HEADER_SIZE + 4 * static_cast<u64>(i));
        const u32 end = i + 1 < count ? readU32(p + CT1_HEADER_SIZE + 4 * static_cast<u64>(i + 1)) : size;
        ComponentTableEntry entry;
        entry.data = p + offset;
        entry.size = end - offset;
        entries.push_back(entry);
    }
}

i32 checkComponentTable(const IParameterDB& target, const void* record, u32 size, ParameterFilter options)
{
    std::vector<ComponentTableEntry> entries;
    return checkComponentTableEntries(target, record, size, options, entries);
}

i32 checkComponentTableEntries(const IParameterDB& target, const void* record, u32 size, ParameterFilter options,
                               std::vector<ComponentTableEntry>& entries)
{
    entries.clear();
    if (record == nullptr || size < CT1_HEADER_SIZE) {
        return RESULT_BAD_ARGUMENT;
    }
    const u8* p = static_cast<const u8*>(record);
    if (std::memcmp(p, "#CT1", 4) != 0) {
        return RESULT_MALFORMED;
    }
    const u64 count = readU32(p + 8);
    if (static_cast<u64>(size) < CT1_HEADER_SIZE + 4 * count) {
        return RESULT_BAD_ARGUMENT;
    }
    i32 result = checkOffsets(p, size, count);
    if (result < 0) {
        return result;
    }
    const bool replace = (options.getBits() & 1) != 0;
    entries.resize(count);
    for (u64 i = 0; i < count; ++i) {
        ComponentTableEntry& entry = entries[i];
        const u32 offset = readU32(p + CT1_HEADER_SIZE + 4 * i);
        const u32 end = i + 1 < count ? readU32(p + CT1_HEADER_SIZE + 4 * (i + 1)) : size;
        entry.data = p + offset;
        entry.size = end - offset;
        if (entry.size == 0 && i + 1 < count) {
            continue; // an index that named no component
        }
        ComponentRecord component;
        result = peekComponentRecord(entry.data, entry.size, false, component);
        if (result < 0 && result != RESULT_NOT_FOUND) {
            entries.clear();
            return RESULT_MALFORMED;
        }
        // The announced records fill the entry exactly: a lowered block count would import only some of them.
        u64 used = 0;
        if (frameParameterRecords(entry.data + CI1_SIZE, entry.size - CI1_SIZE, component.blockCount, false, used) <
                0 ||
            used != entry.size - CI1_SIZE) {
            entries.clear();
            return RESULT_MALFORMED;
        }
        if (result == RESULT_NOT_FOUND) {
            continue; // the import passes over a type that is not registered
        }
        entry.importable = true;
        entry.uid = component.uid;
        if (replace) {
            continue;
        }
        entry.targetIndex = target.getComponentIndex(component.uid);
        if (entry.targetIndex == 0xFFFFFFFF) {
            continue;
        }
        const IComponent& present = target.getComponent(entry.targetIndex);
        if (!present.isValid()) {
            entries.clear();
            return RESULT_MALFORMED;
        }
        if (present.getComponentInfo().getName() != component.name) {
            entries.clear();
            return RESULT_TYPE_MISMATCH;
        }
    }
    return 0;
}

u64 getComponentTableSize64(const IParameterDB& db, const std::vector<u32>& indices)
{
    u64 total = CT1_HEADER_SIZE + 4 * static_cast<u64>(indices.size());
    for (u32 index : indices) {
        const IComponent& component = db.getComponent(index);
        if (component.isValid()) {
            total += component.getExportSize();
        }
    }
    return total;
}

void listComponentsByUID(const IParameterDB& db, std::vector<u32>& indices)
{
    // (uid, position) pairs of the valid components, in uid order; of two components with one uid the lower
    // position counts. Positions are visited in order, so the pairs usually come sorted already.
    std::vector<std::pair<ComponentUID, u32>> byUid;
    const u32 slots = db.getComponentSlotCount();
    byUid.reserve(slots);
    for (u32 i = 0; i < slots; ++i) {
        const IComponent& component = db.getComponent(i);
        if (component.isValid()) {
            byUid.emplace_back(component.getComponentInfo().getComponentUID(), i);
        }
    }
    if (!std::is_sorted(byUid.begin(), byUid.end())) {
        std::sort(byUid.begin(), byUid.end());
    }
    indices.clear();
    indices.reserve(byUid.size());
    for (size_t i = 0; i < byUid.size(); ++i) {
        if (i == 0 || byUid[i].first != byUid[i - 1].first) {
            indices.push_back(byUid[i].second);
        }
    }
}

i32 writeComponentTable(const IParameterDB& db, void* buffer, u32 size, u32 headerValue,
                        const std::vector<u32>& indices, bool listIsAll)
{
    if (buffer == nullptr) {
        return RESULT_BAD_ARGUMENT;
    }
    const u64 tableEnd = CT1_HEADER_SIZE + 4 * static_cast<u64>(indices.size());
    if (tableEnd > size) {
        return RESULT_BAD_ARGUMENT;
    }
    if (!listIsAll) {
        // The room for the table of all components is required whatever the list holds, and the listed table
        // must fit as well.
        std::vector<u32> all;
        listComponentsByUID(db, all);
        if (getComponentTableSize64(db, all) > size || getComponentTableSize64(db, indices) > size) {
            return RESULT_BAD_ARGUMENT;
        }
    }
    u8* p = static_cast<u8*>(buffer);
    std::memset(p, 0, CT1_HEADER_SIZE);
    std::memcpy(p, "#CT1", 4);
    writeU32(p + 4, headerValue);
    writeU32(p + 8, static_cast<u32>(indices.size()));
    u64 position = tableEnd;
    for (size_t i = 0; i < indices.size(); ++i) {
        writeU32(p + CT1_HEADER_SIZE + 4 * i, static_cast<u32>(position));
        const IComponent& component = db.getComponent(indices[i]);
        if (!component.isValid()) {
            continue;
        }
        const u32 left = static_cast<u32>(size - position);
        u32 written = 0;
        if (const auto* own = dynamic_cast<const AbstractComponent*>(&component)) {
            // One pass: the component writes its export into what is left and tells its length.
            if (own->exportCounted(p + position, left, written) < 0) {
                return RESULT_BAD_ARGUMENT;
            }
        } else {
            written = component.getExportSize();
            if (written > left || component.exportBinary(p + position, written) < 0) {
                return RESULT_BAD_ARGUMENT;
            }
        }
        position += written;
    }
    return 0;
}

} // namespace PDB
