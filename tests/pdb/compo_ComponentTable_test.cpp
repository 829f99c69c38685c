// "#CT1" component table and component export: reference bytes, round trips, and hardened reading (a record
// that fails its checks changes nothing).
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "compo_TestTypes.h"
#include "pdb_ComponentTable.h"

using namespace PDB;
using namespace compo_test;

namespace {

const char* const GAIN_EXPORT =
    "23434931 00000101 4761696E 00000000 00000000 00000000 00000000 00000000 00000001 00010001"
    "496E3100 00000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000"
    "00000000 00000000 00022345"
    "23505231 00002400 00000004 00040002 00000000 00000000 FEFFFFFF 00000000 00000000 07000000"
    "00000000 00000000"
    "23505231 00011100 00000001 00030001 0100FF00";

constexpr i32 BAD_ARGUMENT = static_cast<i32>(0x80000001u);
constexpr i32 MALFORMED = static_cast<i32>(0x80010000u);
constexpr i32 TYPE_MISMATCH = static_cast<i32>(0x80020000u);

std::vector<u8> referenceTable()
{
    LocalParameterDB db;
    buildReferenceDB(db);
    return exportAll(db);
}

// Imports record into a copy of the reference database (or an empty one) and checks that a failure leaves it
// byte-identical.
void importAndCheck(const std::vector<u8>& record, u8 options, bool startEmpty)
{
    LocalParameterDB db;
    if (!startEmpty) {
        buildReferenceDB(db);
    }
    const std::vector<u8> before = exportAll(db);
    const u32 slotsBefore = db.getComponentSlotCount();
    const i32 result = db.importComponentTable(record.data(), static_cast<u32>(record.size()), options, 0xFF);
    if (result < 0) {
        EXPECT_EQ(exportAll(db), before);
        EXPECT_EQ(db.getComponentSlotCount(), slotsBefore);
    }
}

} // namespace

TEST(ComponentTable, ReferenceBytesOfComponentAndTable)
{
    LocalParameterDB db;
    buildReferenceDB(db);
    const std::vector<u8> component = exportComponent(db.getComponent(1));
    EXPECT_EQ(component, hexBytes(GAIN_EXPORT));
    ASSERT_EQ(db.getComponentTableSize(), 340u);

    const std::vector<u8> table = exportAll(db, 7);
    ASSERT_EQ(table.size(), 340u);
    EXPECT_EQ(std::vector<u8>(table.begin(), table.begin() + 20),
              hexBytes("23435431 00000007 00000002 00000014 000000B4"));
    // Ascending uid order: 0x101 (position 1) first, then 0x102.
    EXPECT_EQ(std::vector<u8>(table.begin() + 20, table.begin() + 180), component);
    EXPECT_EQ(std::vector<u8>(table.begin() + 180, table.end()), exportComponent(db.getComponent(0)));
    EXPECT_EQ(table[184 + 3], 0x02); // uid 0x102 in the second entry
}

TEST(ComponentTable, ReplacingImportRoundTripsEveryTypeAndResizedComponents)
{
    LocalParameterDB source;
    buildAllTypesDB(source);
    const u32 resized = source.getComponentIndex(0x201);
    ASSERT_EQ(source.getComponentInfo(resized)->getCurrentX(), 3u);
    KVariant text;
    source.getValue(text, resized, 8, 1, 0, nullptr);
    EXPECT_STREQ(text.getString(), "0123456789"); // a string at full capacity

    const std::vector<u8> first = exportAll(source);
    ASSERT_FALSE(first.empty());
    for (u8 options : {u8{0x01}, u8{0x09}}) {
        LocalParameterDB copy;
        ASSERT_EQ(copy.importComponentTable(first.data(), static_cast<u32>(first.size()), options, 0xFF), 0);
        EXPECT_EQ(exportAll(copy), first) << "options " << int(options);
        EXPECT_EQ(copy.getComponentInfo(copy.getComponentIndex(0x201))->getCurrentX(), 3u);
    }
}

TEST(ComponentTable, DirectImportOverwritesValuesOfPresentComponents)
{
    LocalParameterDB source;
    buildReferenceDB(source);
    const std::vector<u8> record = exportAll(source);

    LocalParameterDB target;
    registerGain();
    target.addComponent(0x101, "Gain", 1, 0, 0, 0);
    target.addComponent(0x555, "Gain", 1, 0, 0, 0);
    ASSERT_EQ(target.importComponentTable(record.data(), static_cast<u32>(record.size()), 8, 0xFF), 0);
    EXPECT_EQ(target.getValueInt(0, 0, 2, 1, nullptr), 7);
    EXPECT_EQ(target.getComponentCount(), 2u); // 0x102 is not in the target: skipped
}

TEST(ComponentTable, EdgeRecords)
{
    LocalParameterDB db;
    buildReferenceDB(db);
    const std::vector<u8> before = exportAll(db);

    std::vector<u8> empty = hexBytes("23435431 00000000 00000000");
    EXPECT_EQ(db.importComponentTable(empty.data(), 12, 8, 0xFF), 0);
    EXPECT_EQ(db.importComponentTable(empty.data(), 11, 8, 0xFF), BAD_ARGUMENT);
    EXPECT_EQ(db.importComponentTable(nullptr, 12, 8, 0xFF), BAD_ARGUMENT);

    // A bad tag is refused before a replacing import empties anything.
    std::vector<u8> record = before;
    record[3] = '2';
    EXPECT_EQ(db.importComponentTable(record.data(), static_cast<u32>(record.size()), 9, 0xFF), MALFORMED);
    EXPECT_EQ(exportAll(db), before);

    // An offset of 14 (not a multiple of 4) stops before the first entry is imported.
    record = before;
    record[19] = 14;
    EXPECT_EQ(db.importComponentTable(record.data(), static_cast<u32>(record.size()), 9, 0xFF), MALFORMED);
    EXPECT_EQ(exportAll(db), before);

    // N larger than the offset table that is there.
    record = before;
    record[11] = 200;
    EXPECT_EQ(db.importComponentTable(record.data(), static_cast<u32>(record.size()), 9, 0xFF), BAD_ARGUMENT);
    record[8] = 0x40; // N * 4 wraps in 32 bits
    EXPECT_EQ(db.importComponentTable(record.data(), static_cast<u32>(record.size()), 9, 0xFF), BAD_ARGUMENT);
    EXPECT_EQ(exportAll(db), before);
}

// Counts that announce less than the record holds would import part of it: the entries' records must end where
// the next entry starts and the last entry where the record ends.
TEST(ComponentTable, CountsBelowTheDataPresentAreRefused)
{
    const std::vector<u8> table = referenceTable();
    struct Case
    {
        const char* what;
        size_t offset;
        size_t width;
        u32 value;
    };
    const Case cases[] = {
        {"block count of entry 0 lowered", 20 + 88, 2, 1},
        {"block count of the last entry lowered", 180 + 88, 2, 1},
        {"N lowered", 8, 4, 1},
        {"N = 0", 8, 4, 0},
    };
    for (const Case& c : cases) {
        std::vector<u8> record = table;
        for (size_t i = 0; i < c.width; ++i) {
            record[c.offset + i] = static_cast<u8>(c.value >> (8 * (c.width - 1 - i)));
        }
        for (u8 options : {u8{0x08}, u8{0x09}}) {
            LocalParameterDB db;
            buildReferenceDB(db);
            db.setValueInt(1, 0, 0, 0, 99, 0);
            const std::vector<u8> before = exportAll(db);
            EXPECT_EQ(db.importComponentTable(record.data(), static_cast<u32>(record.size()), options, 0xFF), MALFORMED)
                << c.what << " options " << int{options};
            EXPECT_EQ(exportAll(db), before) << c.what;
        }
    }
}

TEST(ComponentTable, DirectImportOfAnotherTypeIsRefusedWhole)
{
    LocalParameterDB source;
    registerOther();
    source.addComponent(0x102, "Gain", 1, 0, 0, 0);
    source.addComponent(0x101, "Other", 1, 0, 0, 0);
    const std::vector<u8> record = exportAll(source);

    LocalParameterDB target;
    buildReferenceDB(target);
    target.setValueInt(0, 0, 0, 0, 5, 0);
    const std::vector<u8> before = exportAll(target);
    EXPECT_EQ(target.importComponentTable(record.data(), static_cast<u32>(record.size()), 8, 0xFF), TYPE_MISMATCH);
    EXPECT_EQ(exportAll(target), before);
    // Replacing takes the other type as it comes.
    EXPECT_EQ(target.importComponentTable(record.data(), static_cast<u32>(record.size()), 9, 0xFF), 0);
    EXPECT_STREQ(target.getComponentTypeName(target.getComponentIndex(0x101)), "Other");
}

TEST(ComponentTable, UnregisteredTypesAndEmptyEntriesAreSkipped)
{
    LocalParameterDB source;
    buildReferenceDB(source);
    std::vector<u32> positions = {1, 7, 0}; // 7 names no component: a 0-byte entry
    std::vector<u8> record(source.getComponentTableSize(positions));
    ASSERT_EQ(record.size(), 12u + 12u + 320u); // more than the table of all components
    ASSERT_EQ(source.exportComponentTable(record.data(), static_cast<u32>(record.size()), 0, positions), 0);
    EXPECT_EQ(Record::readU32(record.data() + 16), Record::readU32(record.data() + 20));
    std::memcpy(record.data() + 24 + 8, "Nope", 4); // first entry: a type that is not registered

    LocalParameterDB target;
    ASSERT_EQ(target.importComponentTable(record.data(), static_cast<u32>(record.size()), 1, 0xFF), 0);
    EXPECT_EQ(target.getComponentCount(), 1u);
    EXPECT_NE(target.getComponentIndex(0x102), 0xFFFFFFFFu);
    EXPECT_EQ(target.getComponentIndex(0x101), 0xFFFFFFFFu);

    // A 0-byte last entry is damage.
    positions = {1, 7};
    record.assign(source.getComponentTableSize(), 0); // the writer wants room for all components
    ASSERT_EQ(source.exportComponentTable(record.data(), static_cast<u32>(record.size()), 0, positions), 0);
    record.resize(source.getComponentTableSize(positions));
    EXPECT_EQ(checkComponentTable(target, record.data(), static_cast<u32>(record.size()), 1), MALFORMED);
}

TEST(ComponentTable, EveryStrictPrefixIsRefusedAndChangesNothing)
{
    const std::vector<u8> table = referenceTable();
    for (size_t length = 0; length < table.size(); ++length) {
        std::vector<u8> prefix(table.begin(), table.begin() + static_cast<long>(length));
        LocalParameterDB db;
        buildReferenceDB(db);
        db.setValueInt(1, 0, 0, 0, 99, 0);
        const std::vector<u8> before = exportAll(db);
        ASSERT_LT(db.importComponentTable(prefix.data(), static_cast<u32>(length), 9, 0xFF), 0) << length;
        ASSERT_EQ(exportAll(db), before) << length;
    }
    LocalParameterDB db;
    buildReferenceDB(db);
    const std::vector<u8> component = exportComponent(db.getComponent(1));
    for (size_t length = 0; length < component.size(); ++length) {
        db.setValueInt(1, 0, 3, 1, 42, 0);
        const std::vector<u8> before = exportComponent(db.getComponent(1));
        ASSERT_LT(db.getComponent(1).importBinary(nullptr, 1, component.data(), static_cast<u32>(length), 8, 0xFF, 0),
                  0)
            << length;
        ASSERT_EQ(exportComponent(db.getComponent(1)), before) << length;
    }
}

TEST(ComponentTable, HeaderFieldValuesAndFlipsNeverHalfImport)
{
    const std::vector<u8> table = referenceTable();
    // Offsets of header fields: N, the two offsets, and per entry the "#CI1" dimensions and block count and
    // every "#PR1" header field.
    std::vector<std::pair<size_t, size_t>> fields = {{8, 4}, {12, 4}, {16, 4}};
    for (size_t entry : {size_t{20}, size_t{180}}) {
        fields.push_back({entry + 36, 2});
        fields.push_back({entry + 38, 2});
        fields.push_back({entry + 88, 2});
        for (size_t pr : {entry + 92, entry + 140}) {
            fields.push_back({pr + 4, 2});
            fields.push_back({pr + 6, 1});
            fields.push_back({pr + 8, 4});
            fields.push_back({pr + 12, 2});
            fields.push_back({pr + 14, 2});
        }
    }
    for (const auto& [offset, width] : fields) {
        for (u32 value : {0u, 1u, 0xFFFFu, 0xFFFFFFFFu}) {
            std::vector<u8> record = table;
            for (size_t i = 0; i < width; ++i) {
                record[offset + i] = static_cast<u8>(value >> (8 * (width - 1 - i)));
            }
            for (u8 options : {u8{0x01}, u8{0x08}, u8{0x09}}) {
                importAndCheck(record, options, false);
            }
        }
    }
    for (size_t i = 0; i < 20; ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            std::vector<u8> record = table;
            record[i] ^= static_cast<u8>(1 << bit);
            importAndCheck(record, 0x09, false);
        }
    }
    std::mt19937 random(12345);
    for (int round = 0; round < 10000; ++round) {
        std::vector<u8> record = table;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int f = 0; f < flips; ++f) {
            record[random() % record.size()] ^= static_cast<u8>(1u << (random() % 8));
        }
        importAndCheck(record, (round & 1) != 0 ? 0x09 : 0x08, (round % 7) == 0);
    }
}

TEST(ComponentTable, ExportChecksTheRoomOfAllAndOfTheListedTable)
{
    LocalParameterDB db;
    buildReferenceDB(db);
    const u32 all = db.getComponentTableSize();
    std::vector<u8> buffer(all + 64, 0xAA);
    // {0, 0, 1} needs more than the table of all components: refused, nothing written past the size.
    const std::vector<u32> repeated = {0, 0, 1};
    EXPECT_GT(db.getComponentTableSize(repeated), all);
    EXPECT_EQ(db.exportComponentTable(buffer.data(), all, 0, repeated), BAD_ARGUMENT);
    for (size_t i = all; i < buffer.size(); ++i) {
        ASSERT_EQ(buffer[i], 0xAA);
    }
    EXPECT_EQ(db.exportComponentTable(nullptr, all, 0), BAD_ARGUMENT);
    EXPECT_EQ(db.exportComponentTable(buffer.data(), all - 1, 0), BAD_ARGUMENT);
    ComponentUIDList uids = {0x102};
    EXPECT_EQ(db.getComponentTableSize(uids), 12u + 4u + 160u);
    EXPECT_EQ(db.exportComponentTable(buffer.data(), all, 3, uids), 0);
    EXPECT_EQ(Record::readU32(buffer.data() + 8), 1u);
    EXPECT_EQ(Record::readU32(buffer.data() + 16 + 4), 0x102u);
}

TEST(ComponentTable, ImportLogsTypesThatAreNotRegistered)
{
    LocalParameterDB source;
    buildReferenceDB(source);
    std::vector<u8> record = exportAll(source);
    std::memcpy(record.data() + 20 + 8, "Nope", 4); // entry 0 (uid 0x101): a type nobody registered

    LocalParameterDB target;
    testing::internal::CaptureStdout();
    EXPECT_EQ(target.importComponentTable(record.data(), static_cast<u32>(record.size()), 1, 0xFF), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[E] ComponentInfo::importBinary - Unknown ComponentInfo found. [name=Nope, ver=1]\n");
    EXPECT_EQ(target.getComponentCount(), 1u);
    // The check alone logs nothing.
    testing::internal::CaptureStdout();
    EXPECT_EQ(checkComponentTable(target, record.data(), static_cast<u32>(record.size()), 8), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}
