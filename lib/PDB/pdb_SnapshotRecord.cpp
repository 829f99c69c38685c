#include "pdb_SnapshotRecord.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "fcache_MBDFAbstractBlock.h"
#include "klib_Print.h"
#include "pdb_FlagArray.h"
#include "pdb_IComponent.h"
#include "pdb_NullMutex.h"
#include "pdb_ParameterArray.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_ParameterDBNULL.h"

namespace PDB {

namespace {

using namespace ItemRecord;

constexpr u32 NOT_FOUND = 0xFFFFFFFF;
constexpr u8 FILTER_RAW = 0;
constexpr u8 FILTER_ELEMENT_WISE = 2;
constexpr u8 FILTER_ALL = 8;
constexpr u8 NO_STATUS = 0xFF;

u64 align4(u64 n)
{
    return (n + 3) & ~static_cast<u64>(3);
}

void writeU32BE(u8* p, u32 v)
{
    p[0] = static_cast<u8>(v >> 24);
    p[1] = static_cast<u8>(v >> 16);
    p[2] = static_cast<u8>(v >> 8);
    p[3] = static_cast<u8>(v);
}

void writeU16BE(u8* p, u32 v)
{
    p[0] = static_cast<u8>(v >> 8);
    p[1] = static_cast<u8>(v);
}

u32 readU32BE(const u8* p)
{
    return (static_cast<u32>(p[0]) << 24) | (static_cast<u32>(p[1]) << 16) | (static_cast<u32>(p[2]) << 8) | p[3];
}

u32 readU16BE(const u8* p)
{
    return (static_cast<u32>(p[0]) << 8) | p[1];
}

void writeLE(u8* p, u32 v, u32 bytes)
{
    for (u32 i = 0; i < bytes; ++i) {
        p[i] = static_cast<u8>(v >> (8 * i));
    }
}

u32 readLE(const u8* p, u32 bytes)
{
    u32 v = 0;
    for (u32 i = 0; i < bytes; ++i) {
        v |= static_cast<u32>(p[i]) << (8 * i);
    }
    return v;
}

// Holds a database lock for a scope.
// Lengths of the names a record of this item carries (by kind).
struct NameLengths
{
    u32 database = 0;
    u32 typeName = 0;
    u32 address = 0;
    u64 total() const { return static_cast<u64>(database) + typeName + address; }
};

NameLengths nameLengthsOf(const PresetItem& item)
{
    NameLengths n;
    const u32 kind = item.getKind();
    if (kind > PresetItem::KIND_ELEMENTS) {
        return n;
    }
    n.database = static_cast<u32>(item.getDatabaseName().size());
    if (kind >= PresetItem::KIND_COMPONENT) {
        n.typeName = static_cast<u32>(item.getComponentTypeName().size());
    }
    if (kind >= PresetItem::KIND_BLOCK) {
        n.address = static_cast<u32>(item.getAddress().size());
    }
    return n;
}

// A kind-3 index that the 16-bit field cannot carry apart from the whole-axis mark.
bool isUnwritableIndex(u32 index)
{
    return index != PresetItem::WHOLE_AXIS && index >= WHOLE_AXIS_FIELD;
}

// Element range of a kind-3 item on a block: [first, first + count) on each axis.
struct ElementRange
{
    u32 firstX = 0;
    u32 countX = 0;
    u32 firstY = 0;
    u32 countY = 0;
    u64 elements() const { return static_cast<u64>(countX) * countY; }
};

i32 rangeOf(u32 x, u32 y, const ParameterInfo& info, ElementRange& range)
{
    if (x == PresetItem::WHOLE_AXIS && y == PresetItem::WHOLE_AXIS) {
        return ItemRecord::RESULT_MALFORMED;
    }
    range.firstX = x == PresetItem::WHOLE_AXIS ? 0 : x;
    range.countX = x == PresetItem::WHOLE_AXIS ? info.getCountX() : 1;
    range.firstY = y == PresetItem::WHOLE_AXIS ? 0 : y;
    range.countY = y == PresetItem::WHOLE_AXIS ? info.getCountY() : 1;
    return 0;
}

bool isSupportedTypeCode(u8 typeCode)
{
    switch (typeCode) {
    case TYPE_UINT8:
    case TYPE_UINT16:
    case TYPE_UINT32:
    case TYPE_SINT8:
    case TYPE_SINT16:
    case TYPE_SINT32:
    case TYPE_FLOAT:
    case TYPE_BOOL:
    case TYPE_STRING:
    case TYPE_BINARY:
        return true;
    default:
        return false;
    }
}

// Bytes one element of the block takes in a kind-3 record.
u32 elementBytes(const ParameterInfo& info)
{
    switch (info.getTypeCode()) {
    case TYPE_UINT8:
    case TYPE_SINT8:
    case TYPE_BOOL:
        return 1;
    case TYPE_UINT16:
    case TYPE_SINT16:
        return 2;
    case TYPE_UINT32:
    case TYPE_SINT32:
    case TYPE_FLOAT:
        return 4;
    default:
        return info.getElementSize();
    }
}

// Writes one element value as the record stores it (dst holds elementBytes).
i32 encodeElement(const ParameterInfo& info, const KVariant& value, u8* dst)
{
    const u32 size = elementBytes(info);
    switch (info.getTypeCode()) {
    case TYPE_UINT8:
    case TYPE_UINT16:
    case TYPE_UINT32:
    case TYPE_BOOL:
        writeLE(dst, value.getUInt(), size);
        return 0;
    case TYPE_SINT8:
    case TYPE_SINT16:
    case TYPE_SINT32:
        writeLE(dst, static_cast<u32>(value.getInt()), size);
        return 0;
    case TYPE_FLOAT: {
        const f32 f = value.getFloat();
        u32 bits = 0;
        std::memcpy(&bits, &f, sizeof bits);
        writeLE(dst, bits, 4);
        return 0;
    }
    case TYPE_STRING: {
        std::memset(dst, 0, size);
        const char* text = value.getKind() == KVariant::KIND_STRING ? value.getString() : nullptr;
        if (text != nullptr) {
            std::memcpy(dst, text, strnlen(text, size));
        }
        return 0;
    }
    case TYPE_BINARY: {
        std::memset(dst, 0, size);
        bool ok = false;
        const u32 length = value.getBinarySize(&ok);
        const void* bytes = ok ? value.getBinary() : nullptr;
        if (bytes != nullptr) {
            std::memcpy(dst, bytes, length < size ? length : size);
        }
        return 0;
    }
    default:
        return ItemRecord::RESULT_MALFORMED;
    }
}

// Reads one element value from the record (src holds elementBytes).
i32 decodeElement(const ParameterInfo& info, const u8* src, KVariant& value)
{
    const u32 size = elementBytes(info);
    switch (info.getTypeCode()) {
    case TYPE_UINT8:
    case TYPE_UINT16:
    case TYPE_UINT32:
    case TYPE_BOOL:
        value.setUInt(readLE(src, size));
        return 0;
    case TYPE_SINT8:
        value.setInt(static_cast<i8>(src[0]));
        return 0;
    case TYPE_SINT16:
        value.setInt(static_cast<i16>(readLE(src, 2)));
        return 0;
    case TYPE_SINT32:
        value.setInt(static_cast<i32>(readLE(src, 4)));
        return 0;
    case TYPE_FLOAT: {
        const u32 bits = readLE(src, 4);
        f32 f = 0.0f;
        std::memcpy(&f, &bits, sizeof f);
        value.setFloat(f);
        return 0;
    }
    case TYPE_STRING: {
        // The element need not hold a terminator: never let the text reach past it.
        const std::string text(reinterpret_cast<const char*>(src), strnlen(reinterpret_cast<const char*>(src), size));
        value.setString(text.c_str(), static_cast<u32>(text.size()));
        return 0;
    }
    case TYPE_BINARY:
        value.setBinary(src, size);
        return 0;
    default:
        return ItemRecord::RESULT_MALFORMED;
    }
}

// The database and component a record is encoded from or applied to.
struct Source
{
    IParameterDB* db = nullptr;
    ComponentUID uid = INVALID_COMPONENT_UID;
};

// Size of the values area (unpadded) of a valid item; a failure code when it cannot be computed. Runs under the
// caller's lock.
i32 valuesSize(const PresetItem& item, const Source& source, u64& size)
{
    IParameterDB& db = *source.db;
    size = 0;
    switch (item.getKind()) {
    case PresetItem::KIND_DATABASE:
        size = db.getComponentTableSize();
        return 0;
    case PresetItem::KIND_COMPONENT: {
        const IComponent& component = db.getComponent(db.getComponentIndex(source.uid));
        if (!component.isValid()) {
            return ItemRecord::RESULT_BAD_ARGUMENT;
        }
        size = component.getExportSize();
        return 0;
    }
    case PresetItem::KIND_BLOCK: {
        const IComponent& component = db.getComponent(db.getComponentIndex(source.uid));
        if (!component.isValid()) {
            return ItemRecord::RESULT_BAD_ARGUMENT;
        }
        const u32 block = component.getBlockIndex(item.getAddress().c_str());
        if (block == NOT_FOUND) {
            return ItemRecord::RESULT_BAD_ARGUMENT;
        }
        size = component.getParameterArray(block).getExportSize();
        return 0;
    }
    case PresetItem::KIND_ELEMENTS: {
        const u32 index = db.getComponentIndex(source.uid);
        const u32 block = db.getBlockIndex(source.uid, item.getAddress().c_str());
        const ParameterInfo* info = db.getParameterInfo(index, block);
        if (info == nullptr) {
            return ItemRecord::RESULT_BAD_ARGUMENT;
        }
        ElementRange range;
        const i32 result = rangeOf(item.getX(), item.getY(), *info, range);
        if (result < 0) {
            return result;
        }
        size = range.elements() * elementBytes(*info);
        return 0;
    }
    default:
        return 0;
    }
}

bool carriesValues(const PresetItem& item, bool withValues)
{
    return withValues && item.getKind() <= PresetItem::KIND_ELEMENTS;
}

i32 recordSize(const PresetItem& item, const Source& source, bool withValues, u32& size)
{
    size = 0;
    u64 total = HEADER_SIZE + align4(nameLengthsOf(item).total());
    if (carriesValues(item, withValues)) {
        u64 values = 0;
        const i32 result = valuesSize(item, source, values);
        if (result < 0) {
            return result;
        }
        total += align4(values);
    }
    if (total > 0xFFFFFFFFu) {
        return ItemRecord::RESULT_BAD_ARGUMENT;
    }
    size = static_cast<u32>(total);
    return 0;
}

// Checks that an item can be written as a record at all.
i32 checkEncodable(const PresetItem& item)
{
    if (!item.isValid()) {
        return ItemRecord::RESULT_MALFORMED;
    }
    if (item.getKind() == PresetItem::KIND_ELEMENTS &&
        (isUnwritableIndex(item.getX()) || isUnwritableIndex(item.getY()))) {
        return ItemRecord::RESULT_MALFORMED;
    }
    return 0;
}

u32 sizeFor(const PresetItem& item, const Source& source, bool withValues)
{
    if (checkEncodable(item) < 0 || source.db == nullptr) {
        return 0;
    }
    ReadLock guard(*source.db);
    u32 size = 0;
    return recordSize(item, source, withValues, size) < 0 ? 0 : size;
}

// The 16-bit field of an item axis.
u32 axisField(const PresetItem& item, u32 value)
{
    if (item.getKind() == PresetItem::KIND_ELEMENTS) {
        return value == PresetItem::WHOLE_AXIS ? WHOLE_AXIS_FIELD : value;
    }
    return value > WHOLE_AXIS_FIELD ? WHOLE_AXIS_FIELD : value; // a kind-2 count: keep it non-zero
}

i32 writeValues(const PresetItem& item, const Source& source, u8* out, u64 room, u32 headerValue)
{
    IParameterDB& db = *source.db;
    switch (item.getKind()) {
    case PresetItem::KIND_DATABASE:
        return db.exportComponentTable(out, static_cast<u32>(room), headerValue);
    case PresetItem::KIND_COMPONENT: {
        const IComponent& component = db.getComponent(db.getComponentIndex(source.uid));
        if (!component.isValid()) {
            return ItemRecord::RESULT_BAD_ARGUMENT;
        }
        return component.exportBinary(out, static_cast<u32>(room));
    }
    case PresetItem::KIND_BLOCK: {
        const IComponent& component = db.getComponent(db.getComponentIndex(source.uid));
        const u32 block = component.getBlockIndex(item.getAddress().c_str());
        if (!component.isValid() || block == NOT_FOUND) {
            return ItemRecord::RESULT_BAD_ARGUMENT;
        }
        u32 written = 0;
        return component.getParameterArray(block).exportBinary(out, static_cast<u32>(room), written);
    }
    case PresetItem::KIND_ELEMENTS: {
        const u32 index = db.getComponentIndex(source.uid);
        const u32 block = db.getBlockIndex(source.uid, item.getAddress().c_str());
        const ParameterInfo* info = db.getParameterInfo(index, block);
        if (info == nullptr) {
            return ItemRecord::RESULT_BAD_ARGUMENT;
        }
        if (!isSupportedTypeCode(info->getTypeCode())) {
            return ItemRecord::RESULT_MALFORMED;
        }
        ElementRange range;
        i32 result = rangeOf(item.getX(), item.getY(), *info, range);
        if (result < 0) {
            return result;
        }
        const u32 step = elementBytes(*info);
        u64 position = 0;
        KVariant value;
        for (u32 i = 0; i < range.countX; ++i) {
            for (u32 j = 0; j < range.countY; ++j) {
                if (room - position < step) {
                    return ItemRecord::RESULT_BAD_ARGUMENT;
                }
                result = db.getValue(value, index, block, range.firstX + i, range.firstY + j, nullptr);
                if (result < 0) {
                    return result;
                }
                result = encodeElement(*info, value, out + position);
                if (result < 0) {
                    return result;
                }
                position += step;
            }
        }
        return 0;
    }
    default:
        return 0;
    }
}

i32 encode(const char* tag, const PresetItem& item, const Source& source, void* buffer, u32 size, u32 headerValue,
           bool withValues)
{
    i32 result = checkEncodable(item);
    if (result < 0) {
        return result;
    }
    if (buffer == nullptr) {
        return ItemRecord::RESULT_BAD_ARGUMENT;
    }
    if (source.db == nullptr) {
        return ItemRecord::RESULT_NOT_FOUND;
    }
    // One read lock across size and values: the component set and the values stay as measured.
    ReadLock guard(*source.db);
    u32 needed = 0;
    result = recordSize(item, source, withValues, needed);
    if (result < 0) {
        return result;
    }
    if (size < needed) {
        return ItemRecord::RESULT_BAD_ARGUMENT;
    }

    u8* out = static_cast<u8*>(buffer);
    std::memset(out, 0, needed);
    std::memcpy(out, tag, 4);
    const u32 kind = item.getKind();
    const bool values = carriesValues(item, withValues);
    out[4] = static_cast<u8>((kind & KIND_MASK) | (values ? VALUES_FLAG : 0));
    if (kind > PresetItem::KIND_ELEMENTS) {
        return 0;
    }
    const NameLengths lengths = nameLengthsOf(item);
    out[5] = static_cast<u8>(lengths.database);
    out[6] = static_cast<u8>(lengths.typeName);
    out[7] = static_cast<u8>(lengths.address);
    if (kind >= PresetItem::KIND_COMPONENT) {
        writeU32BE(out + 8, source.uid);
    }
    if (kind >= PresetItem::KIND_BLOCK) {
        writeU16BE(out + 12, axisField(item, item.getX()));
        writeU16BE(out + 14, axisField(item, item.getY()));
    }
    u8* p = out + HEADER_SIZE;
    std::memcpy(p, item.getDatabaseName().data(), lengths.database);
    p += lengths.database;
    std::memcpy(p, item.getComponentTypeName().data(), lengths.typeName);
    p += lengths.typeName;
    std::memcpy(p, item.getAddress().data(), lengths.address);
    if (!values) {
        return 0;
    }
    const u64 offset = HEADER_SIZE + align4(lengths.total());
    result = writeValues(item, source, out + offset, needed - offset, headerValue);
    return result < 0 ? result : 0;
}

// ---- decoding ----

struct Header
{
    bool hasValues = false;
    const u8* values = nullptr;
    u32 valuesSize = 0;
};

i32 decodeHeader(const char* tag, PresetItem& item, const void* record, u32 size, Header& header)
{
    item.reset();
    if (record == nullptr || size < HEADER_SIZE) {
        return ItemRecord::RESULT_BAD_ARGUMENT;
    }
    const u8* in = static_cast<const u8*>(record);
    if (std::memcmp(in, tag, 4) != 0) {
        return ItemRecord::RESULT_MALFORMED;
    }
    NameLengths lengths;
    lengths.database = in[5];
    lengths.typeName = in[6];
    lengths.address = in[7];
    if (HEADER_SIZE + lengths.total() > size) {
        return ItemRecord::RESULT_MALFORMED;
    }
    const u32 kind = in[4] & KIND_MASK;
    item.setKind(kind);
    if (kind <= PresetItem::KIND_ELEMENTS) {
        const char* names = reinterpret_cast<const char*>(in + HEADER_SIZE);
        item.setDatabaseName(std::string(names, lengths.database));
        names += lengths.database;
        if (kind >= PresetItem::KIND_COMPONENT) {
            item.setComponentTypeName(std::string(names, lengths.typeName));
            item.setComponentUID(readU32BE(in + 8));
        }
        names += lengths.typeName;
        if (kind >= PresetItem::KIND_BLOCK) {
            item.setAddress(std::string(names, lengths.address));
            u32 x = readU16BE(in + 12);
            u32 y = readU16BE(in + 14);
            if (kind == PresetItem::KIND_ELEMENTS) {
                x = x == WHOLE_AXIS_FIELD ? PresetItem::WHOLE_AXIS : x;
                y = y == WHOLE_AXIS_FIELD ? PresetItem::WHOLE_AXIS : y;
            }
            item.setX(x);
            item.setY(y);
        }
    }
    header.hasValues = (in[4] & VALUES_FLAG) != 0;
    const u64 offset = HEADER_SIZE + align4(lengths.total());
    if (header.hasValues && offset < size) {
        header.values = in + offset;
        header.valuesSize = static_cast<u32>(size - offset);
    }
    return 0;
}

// How a record's values are applied: the snapshot and preset rules differ in the filters and in the recallable
// test.
struct ApplyRules
{
    u8 tableFilter;
    u8 componentFilter;
    bool recallableOnly;
};

constexpr ApplyRules SNAPSHOT_RULES{FILTER_RAW, FILTER_ELEMENT_WISE, true};
constexpr ApplyRules PRESET_RULES{FILTER_ALL, FILTER_ALL, false};

i32 applyBlock(IParameterDB& db, u32 index, u32 block, const ParameterInfo& info, const Header& header)
{
    LocalParameterArray array;
    if (array.initialize(info) < 0) {
        return ItemRecord::RESULT_BAD_ARGUMENT;
    }
    if (array.importBinary(info, header.values, header.valuesSize, *getDummyFlagArray(), FILTER_ALL, NO_STATUS) < 0) {
        return ItemRecord::RESULT_BAD_ARGUMENT;
    }
    db.beginRecall();
    const i32 result = db.setArray(index, block, array, NO_STATUS);
    db.endRecall();
    return result < 0 ? result : 0;
}

i32 applyElements(IParameterDB& db, u32 index, u32 block, const PresetItem& item, const ParameterInfo& info,
                  const Header& header)
{
    ElementRange range;
    i32 result = rangeOf(item.getX(), item.getY(), info, range);
    if (result < 0) {
        return result;
    }
    const u32 step = elementBytes(info);
    // A values area too short for the whole range is refused before anything is written, so that a cut record
    // does not leave its first elements applied.
    if (step == 0 || static_cast<u64>(header.valuesSize) < range.elements() * step) {
        return ItemRecord::RESULT_BAD_ARGUMENT;
    }
    u64 position = 0;
    KVariant value;
    db.beginRecall();
    db.suppressStrategy();
    for (u32 i = 0; i < range.countX && result >= 0; ++i) {
        for (u32 j = 0; j < range.countY; ++j) {
            if (header.valuesSize - position < step || step == 0) {
                result = ItemRecord::RESULT_BAD_ARGUMENT;
                break;
            }
            result = decodeElement(info, header.values + position, value);
            if (result >= 0) {
                result = db.setValue(index, block, range.firstX + i, range.firstY + j, value, NO_STATUS);
            }
            if (result < 0) {
                break;
            }
            position += step;
        }
    }
    db.resumeStrategy();
    db.endRecall();
    return result < 0 ? result : 0;
}

// Applies the values of a decoded record to component uid of db, under db's write lock.
i32 applyValues(IParameterDB& db, ComponentUID uid, const PresetItem& item, const Header& header,
                const ApplyRules& rules)
{
    WriteLock guard(db);
    const u32 kind = item.getKind();
    if (kind == PresetItem::KIND_DATABASE) {
        db.beginRecall();
        const i32 result = db.importComponentTable(header.values, header.valuesSize, rules.tableFilter, NO_STATUS);
        db.endRecall();
        return result < 0 ? result : 0;
    }
    if (kind > PresetItem::KIND_ELEMENTS) {
        return ItemRecord::RESULT_MALFORMED; // values that no kind explains
    }

    const u32 index = db.getComponentIndex(uid);
    IComponent& component = db.getComponent(index);
    const char* typeName = db.getComponentTypeName(index);
    const bool sameType = typeName != nullptr && item.getComponentTypeName() == typeName;
    if (kind == PresetItem::KIND_COMPONENT) {
        if (!component.isValid()) {
            return ItemRecord::RESULT_BAD_ARGUMENT;
        }
        if (!sameType) {
            return ItemRecord::RESULT_MALFORMED;
        }
        db.beginRecall();
        const i32 result =
            component.importBinary(&db, index, header.values, header.valuesSize, rules.componentFilter, NO_STATUS, 0);
        db.endRecall();
        return result < 0 ? result : 0;
    }

    if (!sameType) {
        return ItemRecord::RESULT_MALFORMED;
    }
    if (!component.isValid()) {
        return ItemRecord::RESULT_BAD_ARGUMENT;
    }
    const u32 block = component.getBlockIndex(item.getAddress().c_str());
    const ParameterInfo* info = db.getParameterInfo(index, block);
    if (info == nullptr) {
        return ItemRecord::RESULT_BAD_ARGUMENT;
    }
    if (rules.recallableOnly && !info->getAttribute().isRecallable()) {
        return 0;
    }
    if (kind == PresetItem::KIND_BLOCK) {
        return applyBlock(db, index, block, *info, header);
    }
    return applyElements(db, index, block, item, *info, header);
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------

IParameterDB* findDatabaseByName(const ParameterDBCollection& collection, const char* name)
{
    const i32 index = collection.find(name);
    if (index < 0) {
        return nullptr;
    }
    IParameterDB& db = collection.getEntry(static_cast<u32>(index));
    return &db == &ParameterDBNULL::getInstance() ? nullptr : &db;
}

u32 getSnapshotRecordSize(const PresetItem& item, const ParameterDBCollection& collection, bool withValues)
{
    Source source{findDatabaseByName(collection, item.getDatabaseName().c_str()), item.getComponentUID()};
    return sizeFor(item, source, withValues);
}

i32 encodeSnapshotRecord(const PresetItem& item, const ParameterDBCollection& collection, void* buffer, u32 size,
                         u32 headerValue, bool withValues)
{
    Source source{findDatabaseByName(collection, item.getDatabaseName().c_str()), item.getComponentUID()};
    return encode(SNAPSHOT_TAG, item, source, buffer, size, headerValue, withValues);
}

i32 encodeSnapshotRecord(const PresetItem& item, const ParameterDBCollection& collection, std::vector<u8>& out,
                         u32 headerValue, bool withValues)
{
    i32 result = checkEncodable(item);
    if (result < 0) {
        return result;
    }
    const Source source{findDatabaseByName(collection, item.getDatabaseName().c_str()), item.getComponentUID()};
    if (source.db == nullptr) {
        return ItemRecord::RESULT_NOT_FOUND;
    }
    ReadLock guard(*source.db);
    u32 size = 0;
    result = recordSize(item, source, withValues, size);
    if (result < 0) {
        return result;
    }
    try {
        out.resize(size);
    } catch (const std::bad_alloc&) {
        return ItemRecord::RESULT_NO_MEMORY;
    }
    return encode(SNAPSHOT_TAG, item, source, out.data(), size, headerValue, withValues);
}

i32 decodeSnapshotRecord(PresetItem& item, const ParameterDBCollection& collection, const void* record, u32 size,
                         bool apply)
{
    Header header;
    const i32 result = decodeHeader(SNAPSHOT_TAG, item, record, size, header);
    if (result < 0 || !apply || !header.hasValues) {
        return result;
    }
    if (header.values == nullptr) {
        return ItemRecord::RESULT_MALFORMED;
    }
    IParameterDB* db = findDatabaseByName(collection, item.getDatabaseName().c_str());
    if (db == nullptr) {
        return ItemRecord::RESULT_NOT_FOUND;
    }
    return applyValues(*db, item.getComponentUID(), item, header, SNAPSHOT_RULES);
}

u32 getPresetRecordSize(const PresetItem& item, IParameterDB* database, ComponentUID uid, bool withValues)
{
    return sizeFor(item, Source{database, uid}, withValues);
}

i32 encodePresetRecord(const PresetItem& item, IParameterDB* database, ComponentUID uid, void* buffer, u32 size,
                       u32 headerValue, bool withValues)
{
    return encode(PRESET_TAG, item, Source{database, uid}, buffer, size, headerValue, withValues);
}

i32 decodePresetRecord(PresetItem& item, IParameterDB* database, ComponentUID uid, const void* record, u32 size,
                       bool apply)
{
    Header header;
    const i32 result = decodeHeader(PRESET_TAG, item, record, size, header);
    if (result < 0 || !apply || !header.hasValues) {
        return result;
    }
    if (header.values == nullptr) {
        return ItemRecord::RESULT_MALFORMED;
    }
    if (database == nullptr) {
        return ItemRecord::RESULT_NOT_FOUND;
    }
    return applyValues(*database, uid, item, header, PRESET_RULES);
}

// ---------------------------------------------------------------------------------------------------------------

namespace {

// size, buffer, encoding and the block's data for one record; encodeInto writes the record (size given).
template <class Encode> i32 buildBlock(MBDFPDBRecordBlock& block, const char* name, u32 size, Encode encodeInto)
{
    if (size == 0) {
        block.clear();
        return ItemRecord::RESULT_BAD_ARGUMENT;
    }
    if (size > FILECACHE::kMBDFBlockLimit) {
        KLIB_LOG("[E] %s - [%s] record of %u bytes is over the block limit\n", "setupItemBlock",
                 name != nullptr ? name : "", static_cast<unsigned>(size));
        block.clear();
        return PDBBlock::RESULT_LIMIT_OVER;
    }
    std::unique_ptr<u8[]> buffer(new (std::nothrow) u8[size]);
    if (!buffer) {
        block.clear();
        return ItemRecord::RESULT_NO_MEMORY;
    }
    if (encodeInto(buffer.get(), size) < 0) {
        block.clear();
        return ItemRecord::RESULT_EXPORT_FAILED;
    }
    return block.setRecord(name, buffer.get(), size);
}

} // namespace

i32 setupSnapshotBlock(MBDFPDBSSBlock& block, const char* name, const PresetItem& item, u32 headerValue,
                       bool withValues)
{
    return setupSnapshotBlock(block, name, item, headerValue, withValues, ParameterDBCollection::getCollection());
}

i32 setupSnapshotBlock(MBDFPDBSSBlock& block, const char* name, const PresetItem& item, u32 headerValue,
                       bool withValues, const ParameterDBCollection& collection)
{
    if (checkEncodable(item) < 0 || name == nullptr) {
        block.clear();
        return ItemRecord::RESULT_BAD_ARGUMENT;
    }
    IParameterDB* db = findDatabaseByName(collection, item.getDatabaseName().c_str());
    if (db == nullptr) {
        block.clear();
        return ItemRecord::RESULT_BAD_ARGUMENT;
    }
    // Held across size and encoding (the lock is recursive), so the record cannot outgrow its buffer.
    ReadLock guard(*db);
    const Source source{db, item.getComponentUID()};
    const u32 size = sizeFor(item, source, withValues);
    return buildBlock(block, name, size, [&](u8* buffer, u32 room) {
        return encode(SNAPSHOT_TAG, item, source, buffer, room, headerValue, withValues);
    });
}

i32 setupPresetBlock(MBDFPDBPSBlock& block, const char* name, const PresetItem& item, u32 headerValue, bool withValues)
{
    IParameterDB* db = findDatabaseByName(ParameterDBCollection::getCollection(), item.getDatabaseName().c_str());
    if (db == nullptr || checkEncodable(item) < 0 || name == nullptr) {
        block.clear();
        return ItemRecord::RESULT_BAD_ARGUMENT;
    }
    ReadLock guard(*db);
    const Source source{db, item.getComponentUID()};
    const u32 size = sizeFor(item, source, withValues);
    return buildBlock(block, name, size, [&](u8* buffer, u32 room) {
        return encode(PRESET_TAG, item, source, buffer, room, headerValue, withValues);
    });
}

i32 MBDFPDBSSBlock::setup(const char* name, const PresetItem& item, u32 headerValue, bool withValues)
{
    return setupSnapshotBlock(*this, name, item, headerValue, withValues);
}

i32 MBDFPDBSSBlock::setup(const char* name, const PresetItem& item, u32 headerValue, bool withValues,
                          const ParameterDBCollection& collection)
{
    return setupSnapshotBlock(*this, name, item, headerValue, withValues, collection);
}

i32 MBDFPDBPSBlock::setup(const char* name, const PresetItem& item, u32 headerValue, bool withValues)
{
    return setupPresetBlock(*this, name, item, headerValue, withValues);
}

} // namespace PDB
