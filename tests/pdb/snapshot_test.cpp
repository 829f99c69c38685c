// Snapshot records ("#SC1"), their blocks and SnapshotData: golden bytes, store / save / load / recall, images,
// and the failure cases.
#include <gtest/gtest.h>

#include "klib_Print.h"
#include "pdb_SnapshotData.h"
#include "snap_Fixture.h"

using namespace snap_test;

namespace {

class Snapshot : public SnapFixture
{
protected:
    PresetItem levelColumn() const { return PresetItem(3, "Test", GAIN_UID, "Gain", "/Level", 1, WHOLE); }
    PresetItem muteBlock() const { return PresetItem(2, "Test", GAIN_UID, "Gain", "/Mute", 3, 1); }
    PresetItem gainComponent() const { return PresetItem(1, "Test", GAIN_UID, "Gain", "", 0, 0); }
    PresetItem testDatabase() const { return PresetItem(0, "Test", INVALID_COMPONENT_UID, "", "", 0, 0); }

    // A SnapshotData over the given items, initialised as the scene list does.
    void makeScene(SnapshotData& data, std::initializer_list<PresetItem> items, const char* tag = "HUX-NQ")
    {
        SnapshotContentsList contents;
        for (const PresetItem& item : items) {
            contents.addItem(item);
        }
        ASSERT_EQ(data.initialize(tag, 0, 0, contents, m_Dir.c_str()), 0);
    }

    void addMixed(ComponentUID uid) { ASSERT_EQ(test().addComponent(uid, "Mixed", 1, 0, 0, 0), 0); }
};

TEST_F(Snapshot, GoldenRecordsOfTheFourKinds)
{
    const std::vector<u8> level = snapshotRecord(levelColumn());
    EXPECT_EQ(level, concat({hexBytes("23 53 43 31 83 04 04 06 00 00 01 01 00 01 FF FF"), bytesOf("TestGain/Level"),
                             hexBytes("00 00"), hexBytes("FE FF FF FF 00 00 00 00")}));

    const std::vector<u8> mute = snapshotRecord(muteBlock());
    EXPECT_EQ(mute, concat({hexBytes("23 53 43 31 82 04 04 05 00 00 01 01 00 03 00 01"), bytesOf("TestGain/Mute"),
                            hexBytes("00 00 00"), hexBytes("01 00 FF 00")}));

    const std::vector<u8> exported = exportComponent(test().getComponent(test().getComponentIndex(GAIN_UID)));
    ASSERT_EQ(exported.size(), 160u);
    const std::vector<u8> component = snapshotRecord(gainComponent());
    EXPECT_EQ(component.size(), 184u);
    EXPECT_EQ(component,
              concat({hexBytes("23 53 43 31 81 04 04 00 00 00 01 01 00 00 00 00"), bytesOf("TestGain"), exported}));

    const std::vector<u8> table = snapshotRecord(testDatabase(), 0x55);
    EXPECT_EQ(table, concat({hexBytes("23 53 43 31 80 04 00 00 00 00 00 00 00 00 00 00"), bytesOf("Test"),
                             exportAll(test(), 0x55)}));

    // Without values: the header and the names only, bit 7 clear.
    const std::vector<u8> bare = snapshotRecord(levelColumn(), 0, false);
    EXPECT_EQ(bare, concat({hexBytes("23 53 43 31 03 04 04 06 00 00 01 01 00 01 FF FF"), bytesOf("TestGain/Level"),
                            hexBytes("00 00")}));
    EXPECT_EQ(getSnapshotRecordSize(levelColumn(), ParameterDBCollection::getCollection(), true), 40u);
}

TEST_F(Snapshot, HeadersReadBackAsTheItemsTheyCameFrom)
{
    for (const PresetItem& item : {levelColumn(), muteBlock(), gainComponent(), testDatabase(),
                                   PresetItem(3, "Test", GAIN_UID, "Gain", "/Level", WHOLE, 1)}) {
        const std::vector<u8> record = snapshotRecord(item);
        ASSERT_FALSE(record.empty());
        PresetItem back;
        EXPECT_EQ(decodeSnapshotRecord(back, ParameterDBCollection::getCollection(), record.data(),
                                       static_cast<u32>(record.size()), false),
                  0);
        EXPECT_EQ(back, item);
    }
}

TEST_F(Snapshot, EveryElementEncodingRoundTripsThroughKindThree)
{
    addMixed(0x201);
    IParameterDB& db = test();
    const u32 index = db.getComponentIndex(0x201);
    const auto block = [&](const char* a) { return blockOf(db, 0x201, a); };
    db.setValueInt(index, block("/Level"), 1, 0, -77, 0);
    db.setValueUInt(index, block("/Grid"), 2, 3, 54321, 0);
    db.setValueString(index, block("/Name"), 1, 0, "abcdefgh", 0);
    db.setValueFloat(index, block("/Gain"), 0, 0, -12.5f, 0);
    db.setValueBool(index, block("/Flag"), 3, 0, true, 0);
    const u8 raw[3] = {0xDE, 0xAD, 0x01};
    db.setValueBinary(index, block("/Raw"), 0, 0, raw, 3, 0);
    db.setValueInt(index, block("/S8"), 1, 0, -5, 0);
    db.setValueInt(index, block("/S16"), 0, 0, -1234, 0);
    db.setValueUInt(index, block("/U32"), 0, 0, 3000000000u, 0);
    db.setValueUInt(index, block("/U8"), 0, 0, 200, 0);

    std::vector<std::vector<u8>> records;
    for (const char* address : {"/Level", "/Grid", "/Name", "/Gain", "/Flag", "/Raw", "/S8", "/S16", "/U32", "/U8"}) {
        const bool grid = std::strcmp(address, "/Grid") == 0;
        records.push_back(
            snapshotRecord(PresetItem(3, "Test", 0x201, "Mixed", address, grid ? 2 : WHOLE, grid ? WHOLE : 0)));
        ASSERT_FALSE(records.back().empty()) << address;
    }
    // Signed values are stored sign-extended in their width, strings zero-filled to the element size.
    EXPECT_EQ(std::vector<u8>(records[6].end() - 4, records[6].end()), hexBytes("00 FB 00 00"));
    EXPECT_EQ(std::vector<u8>(records[2].end() - 16, records[2].end()),
              concat({std::vector<u8>(8, 0), bytesOf("abcdefgh")}));

    db.setAllToDefault(index, 0);
    for (const auto& record : records) {
        PresetItem item;
        EXPECT_EQ(decodeSnapshotRecord(item, ParameterDBCollection::getCollection(), record.data(),
                                       static_cast<u32>(record.size()), true),
                  0);
    }
    EXPECT_EQ(db.getValueInt(index, block("/Level"), 1, 0, nullptr), -77);
    EXPECT_EQ(db.getValueUInt(index, block("/Grid"), 2, 3, nullptr), 54321u);
    EXPECT_EQ(db.getValueUInt(index, block("/Grid"), 2, 2, nullptr), 0u);
    KVariant name;
    db.getValue(name, index, block("/Name"), 1, 0, nullptr);
    ASSERT_EQ(name.getKind(), KVariant::KIND_STRING);
    EXPECT_STREQ(name.getString(), "abcdefgh");
    EXPECT_FLOAT_EQ(db.getValueFloat(index, block("/Gain"), 0, 0, nullptr), -12.5f);
    EXPECT_TRUE(db.getValueBool(index, block("/Flag"), 3, 0, nullptr));
    EXPECT_FALSE(db.getValueBool(index, block("/Flag"), 2, 0, nullptr));
    KVariant binary;
    db.getValue(binary, index, block("/Raw"), 0, 0, nullptr);
    ASSERT_EQ(binary.getKind(), KVariant::KIND_BINARY);
    EXPECT_EQ(std::memcmp(binary.getBinary(), raw, 3), 0);
    EXPECT_EQ(db.getValueInt(index, block("/S8"), 1, 0, nullptr), -5);
    EXPECT_EQ(db.getValueInt(index, block("/S16"), 0, 0, nullptr), -1234);
    EXPECT_EQ(db.getValueUInt(index, block("/U32"), 0, 0, nullptr), 3000000000u);
    EXPECT_EQ(db.getValueUInt(index, block("/U8"), 0, 0, nullptr), 200u);
}

TEST_F(Snapshot, KindThreeRangesAndTheWholeAxisMark)
{
    addMixed(0x201);
    IParameterDB& db = test();
    for (u32 y = 0; y < 4; ++y) {
        setUInt(db, 0x201, "/Grid", 2, y, 100 + y);
        setUInt(db, 0x201, "/Grid", 1, y, 50 + y);
    }
    const PresetItem row(3, "Test", 0x201, "Mixed", "/Grid", 2, WHOLE);
    const std::vector<u8> record = snapshotRecord(row);
    ASSERT_EQ(record.size(), 16u + 16u + 8u); // header, "TestMixed/Grid" padded, 4 UINT16
    EXPECT_EQ(std::vector<u8>(record.begin() + 12, record.begin() + 16), hexBytes("00 02 FF FF"));
    EXPECT_EQ(std::vector<u8>(record.end() - 8, record.end()), hexBytes("64 00 65 00 66 00 67 00"));

    for (u32 y = 0; y < 4; ++y) {
        setUInt(db, 0x201, "/Grid", 2, y, 0);
    }
    PresetItem item;
    ASSERT_EQ(decodeSnapshotRecord(item, ParameterDBCollection::getCollection(), record.data(),
                                   static_cast<u32>(record.size()), true),
              0);
    EXPECT_EQ(item.getY(), WHOLE);
    for (u32 y = 0; y < 4; ++y) {
        EXPECT_EQ(uintAt(db, 0x201, "/Grid", 2, y), 100 + y);
        EXPECT_EQ(uintAt(db, 0x201, "/Grid", 1, y), 50 + y); // the neighbouring row is left alone
    }

    std::vector<u8> out(64);
    const ParameterDBCollection& all = ParameterDBCollection::getCollection();
    EXPECT_EQ(encodeSnapshotRecord(PresetItem(3, "Test", 0x201, "Mixed", "/Grid", WHOLE, WHOLE), all, out.data(), 64, 0,
                                   true),
              MALFORMED);
    // A single index that the 16-bit field would confuse with the whole axis is refused.
    EXPECT_EQ(
        encodeSnapshotRecord(PresetItem(3, "Test", 0x201, "Mixed", "/Grid", 0xFFFF, 0), all, out.data(), 64, 0, true),
        MALFORMED);
    EXPECT_EQ(
        encodeSnapshotRecord(PresetItem(3, "Test", 0x201, "Mixed", "/Grid", 0, 0x10000), all, out.data(), 64, 0, true),
        MALFORMED);
    // An index outside the block fails on the read.
    EXPECT_LT(encodeSnapshotRecord(PresetItem(3, "Test", 0x201, "Mixed", "/Grid", 3, 0), all, out.data(), 64, 0, true),
              0);
}

TEST_F(Snapshot, CutKindThreeRecordWritesNoElement)
{
    addMixed(0x201);
    IParameterDB& db = test();
    for (u32 y = 0; y < 4; ++y) {
        setUInt(db, 0x201, "/Grid", 2, y, 100 + y);
    }
    const std::vector<u8> record = snapshotRecord(PresetItem(3, "Test", 0x201, "Mixed", "/Grid", 2, WHOLE));
    ASSERT_EQ(record.size(), 40u);
    for (u32 y = 0; y < 4; ++y) {
        setUInt(db, 0x201, "/Grid", 2, y, 7);
    }
    // Values for three of the four elements: refused, and the first three are not written either.
    PresetItem item;
    for (u32 cut : {34u, 37u, 38u}) {
        EXPECT_EQ(decodeSnapshotRecord(item, ParameterDBCollection::getCollection(), record.data(), cut, true),
                  BAD_ARGUMENT)
            << cut;
        for (u32 y = 0; y < 4; ++y) {
            EXPECT_EQ(uintAt(db, 0x201, "/Grid", 2, y), 7u) << cut << " " << y;
        }
    }
}

TEST_F(Snapshot, EncoderRefusals)
{
    const ParameterDBCollection& all = ParameterDBCollection::getCollection();
    std::vector<u8> out(256);
    EXPECT_EQ(
        encodeSnapshotRecord(PresetItem(2, "Test", GAIN_UID, "Gain", "/Mute", 0, 1), all, out.data(), 256, 0, true),
        MALFORMED); // a kind-2 item without counts is invalid
    EXPECT_EQ(encodeSnapshotRecord(PresetItem(0, "Nowhere", INVALID_COMPONENT_UID, "", "", 0, 0), all, out.data(), 256,
                                   0, true),
              NOT_FOUND);
    EXPECT_EQ(encodeSnapshotRecord(muteBlock(), all, nullptr, 256, 0, true), BAD_ARGUMENT);
    EXPECT_EQ(encodeSnapshotRecord(muteBlock(), all, out.data(), 35, 0, true), BAD_ARGUMENT);
    EXPECT_EQ(encodeSnapshotRecord(PresetItem(1, "Test", 0x999, "Gain", "", 0, 0), all, out.data(), 256, 0, true),
              BAD_ARGUMENT);
    EXPECT_EQ(getSnapshotRecordSize(PresetItem(1, "Test", 0x999, "Gain", "", 0, 0), all, true), 0u);
}

TEST_F(Snapshot, ApplyingRecordsFollowsTheRecallRules)
{
    addMixed(0x201);
    IParameterDB& db = test();
    const ParameterDBCollection& all = ParameterDBCollection::getCollection();
    setUInt(db, 0x201, "/Meter", 0, 0, 9);
    const std::vector<u8> meterBlock = snapshotRecord(PresetItem(2, "Test", 0x201, "Mixed", "/Meter", 2, 1));
    const std::vector<u8> meterElement = snapshotRecord(PresetItem(3, "Test", 0x201, "Mixed", "/Meter", 0, 0));
    const std::vector<u8> level = snapshotRecord(levelColumn());
    setUInt(db, 0x201, "/Meter", 0, 0, 1);
    setInt(db, GAIN_UID, "/Level", 1, 0, 5);

    PresetItem item;
    // Not recallable: nothing is written, and that is no failure.
    EXPECT_EQ(decodeSnapshotRecord(item, all, meterBlock.data(), static_cast<u32>(meterBlock.size()), true), 0);
    EXPECT_EQ(decodeSnapshotRecord(item, all, meterElement.data(), static_cast<u32>(meterElement.size()), true), 0);
    EXPECT_EQ(uintAt(db, 0x201, "/Meter", 0, 0), 1u);

    // Bit 7 clear: header only, nothing written.
    std::vector<u8> cleared = level;
    cleared[4] &= 0x7F;
    EXPECT_EQ(decodeSnapshotRecord(item, all, cleared.data(), static_cast<u32>(cleared.size()), true), 0);
    EXPECT_EQ(intAt(db, GAIN_UID, "/Level", 1, 0), 5);

    // Kind 1 onto a component of another type.
    ASSERT_EQ(db.addComponent(0x301, "Other", 1, 0, 0, 0), 0);
    std::vector<u8> component = snapshotRecord(gainComponent());
    component[10] = 0x03; // uid 0x301
    EXPECT_EQ(decodeSnapshotRecord(item, all, component.data(), static_cast<u32>(component.size()), true), MALFORMED);
    component[10] = 0x09; // no such component
    EXPECT_EQ(decodeSnapshotRecord(item, all, component.data(), static_cast<u32>(component.size()), true),
              BAD_ARGUMENT);

    // An unknown database; a record that ends where its values would start; a wrong tag; a short record.
    std::vector<u8> foreign = level;
    foreign[16] = 'X';
    EXPECT_EQ(decodeSnapshotRecord(item, all, foreign.data(), static_cast<u32>(foreign.size()), true), NOT_FOUND);
    EXPECT_EQ(decodeSnapshotRecord(item, all, level.data(), 32, true), MALFORMED);
    EXPECT_EQ(decodeSnapshotRecord(item, all, level.data(), 32, false), 0);
    std::vector<u8> preset = level;
    preset[1] = 'P';
    EXPECT_EQ(decodeSnapshotRecord(item, all, preset.data(), static_cast<u32>(preset.size()), false), MALFORMED);
    EXPECT_EQ(decodeSnapshotRecord(item, all, level.data(), 15, false), BAD_ARGUMENT);
    EXPECT_EQ(item.getKind(), PresetItem::KIND_EMPTY);

    // Names longer than the record: refused before anything is read.
    std::vector<u8> longNames = level;
    longNames[7] = 0xFF;
    EXPECT_EQ(decodeSnapshotRecord(item, all, longNames.data(), static_cast<u32>(longNames.size()), false), MALFORMED);
}

TEST_F(Snapshot, ImportFailuresOfKindsZeroAndOneAreReported)
{
    const ParameterDBCollection& all = ParameterDBCollection::getCollection();
    PresetItem item;
    std::vector<u8> table = snapshotRecord(testDatabase());
    table[20] = 'X'; // "#CT1" tag broken
    EXPECT_LT(decodeSnapshotRecord(item, all, table.data(), static_cast<u32>(table.size()), true), 0);
    std::vector<u8> component = snapshotRecord(gainComponent());
    component[24] = 'X'; // "#CI1" tag broken
    EXPECT_LT(decodeSnapshotRecord(item, all, component.data(), static_cast<u32>(component.size()), true), 0);
}

TEST_F(Snapshot, BlocksCarryTheRecordUnderTheSsTag)
{
    MBDFPDBSSBlock block;
    ASSERT_EQ(setupSnapshotBlock(block, "", muteBlock(), 0, true), 0);
    EXPECT_EQ(std::vector<u8>(block.getHeader(), block.getHeader() + 36),
              concat({hexBytes("23 50 44 42 20 53 53"), std::vector<u8>(17, 0), hexBytes("00 00 00 00 00 00 00 24"),
                      std::vector<u8>(4, 0)}));
    EXPECT_EQ(std::vector<u8>(block.getData(), block.getData() + 36), snapshotRecord(muteBlock()));

    EXPECT_EQ(setupSnapshotBlock(block, "", PresetItem(1, "Nowhere", 1, "Gain", "", 0, 0), 0, true), BAD_ARGUMENT);
    EXPECT_FALSE(block.isValid());
    EXPECT_EQ(setupSnapshotBlock(block, "", PresetItem(), 0, true), BAD_ARGUMENT);
    EXPECT_EQ(setupSnapshotBlock(block, "", PresetItem(1, "Test", 0x999, "Gain", "", 0, 0), 0, true), BAD_ARGUMENT);
}

TEST_F(Snapshot, RecordsOverTheBlockLimitAreRefused)
{
    ComponentInfo info;
    info.initialize("Huge", 1, 1, 1, 1, 1, "", "", nullptr);
    info.addParameterBinary("/Blob", 200, 1, "", "", 0xFFFF, RECALLABLE, "", "", "");
    ComponentInfoRepository::getInstance().registerComponentInfo(info);
    ASSERT_EQ(test().addComponent(0x501, "Huge", 1, 0, 0, 0), 0);
    MBDFPDBSSBlock block;
    EXPECT_EQ(setupSnapshotBlock(block, "", PresetItem(1, "Test", 0x501, "Huge", "", 0, 0), 0, true),
              static_cast<i32>(0x80000007u)); // could be written, but no reader would take it back
    EXPECT_FALSE(block.isValid());
    EXPECT_EQ(setupSnapshotBlock(block, "", PresetItem(1, "Test", 0x501, "Huge", "", 0, 0), 0, false), 0);
}

TEST_F(Snapshot, ContentsListOperations)
{
    addMixed(0x201);
    SnapshotContentsList list;
    EXPECT_EQ(list.addComponent(test(), GAIN_UID), 0);
    EXPECT_EQ(list.addParameterBlock(test(), 0x201, "/Grid"), 0);
    EXPECT_EQ(list.addParameter(test(), 0x201, "/Grid", 1, WHOLE), 0);
    ParameterAddress reference;
    reference.setTexts("Test", 0x201, "/Level");
    EXPECT_EQ(list.addParameterBlockOfInstance(reference), 0);
    reference.setTexts("Missing", 0x201, "/Level");
    EXPECT_EQ(list.addParameterOfInstance(reference, 0, 0), 0);
    EXPECT_EQ(list.addComponent(test(), INVALID_COMPONENT_UID), BAD_ARGUMENT);
    EXPECT_EQ(list.addParameter(test(), 0x201, "", 0, 0), BAD_ARGUMENT);
    EXPECT_EQ(list.addParameterBlock(test(), 0x201, std::string(256, 'a').c_str()), BAD_ARGUMENT);
    ASSERT_EQ(list.getCount(), 5u);

    EXPECT_EQ(list.getItem(0), PresetItem(1, "Test", GAIN_UID, "Gain", "", 0, 0));
    EXPECT_EQ(list.getItem(1), PresetItem(2, "Test", 0x201, "Mixed", "/Grid", 3, 4));
    EXPECT_EQ(list.getItem(2), PresetItem(3, "Test", 0x201, "Mixed", "/Grid", 1, WHOLE));
    EXPECT_EQ(list.getItem(3), PresetItem(2, "Test", 0x201, "Mixed", "/Level", 2, 1));
    EXPECT_EQ(list.getItem(4).getDatabaseName(), "(dummy)");
    EXPECT_EQ(list.getItem(5).getKind(), PresetItem::KIND_EMPTY);
    EXPECT_EQ(snapshotRecord(list.getItem(4)), std::vector<u8>());
}

// ---- SnapshotData ----

TEST_F(Snapshot, InitializeCopiesTheInformationAndWritesTheModelTag)
{
    SnapshotData data;
    makeScene(data, {muteBlock()});
    LocalParameterDB& info = data.getInfoDatabase();
    EXPECT_STREQ(info.getName(), "SnapshotInfo");
    EXPECT_TRUE(info.hasOwnerThread());
    EXPECT_EQ(textAt(info, 1, "/Info/ProductName"), "HUX-NQ");
    EXPECT_EQ(textAt(info, 1, "/Info/Title"), "scene one");
    KVariant type;
    info.getValue(type, data.getInfoAddress(ItemFile::INFO_TYPE), 0, 0, nullptr);
    EXPECT_EQ(type.getKind(), KVariant::KIND_UINT32); // values keep their kind
    EXPECT_EQ(type.getUInt(), 7u);
    EXPECT_NE(textAt(snapshotInfo(), 1, "/Info/ProductName"), "HUX-NQ"); // the process-wide one is untouched
    EXPECT_EQ(data.getContents().getCount(), 1u);
    EXPECT_EQ(data.initialize(nullptr, 0, 0, SnapshotContentsList(), nullptr), BAD_ARGUMENT);

    // Without an owned "SnapshotInfo" the information stays empty and nothing can be stored.
    ParameterDBCollection::deleteInstance(SNAPSHOT_INFO_ID);
    SnapshotData bare;
    makeScene(bare, {muteBlock()});
    EXPECT_FALSE(bare.getInfoDatabase().hasOwnerThread());
    EXPECT_EQ(bare.storeContents(), NOTHING_TO_DO);
}

TEST_F(Snapshot, StoredFileHasTheContainerLayout)
{
    SnapshotData data;
    makeScene(data, {levelColumn(), muteBlock(), gainComponent(), testDatabase()});
    ASSERT_EQ(data.store(snapshotInfo()), 0);
    ASSERT_TRUE(data.isComplete());
    ASSERT_EQ(data.save("scene1.zethis"), 0);
    EXPECT_EQ(data.getCurrentFileName(), "scene1.zethis");
    std::vector<u8> file = readFile(path("scene1.zethis"));

    LocalParameterDB& info = data.getInfoDatabase();
    EXPECT_EQ(uintAt(info, 1, "/Info/TimeStamp/Year", 0, 0), 2026u);
    EXPECT_EQ(uintAt(info, 1, "/Info/TimeStamp/Month", 0, 0), 3u);
    EXPECT_EQ(uintAt(info, 1, "/Info/TimeStamp/Day", 0, 0), 4u);
    EXPECT_EQ(uintAt(info, 1, "/Info/TimeStamp/Second", 0, 0), 7u);

    const std::vector<u8> infoTable = exportAll(info, 0);
    const auto block = [](std::vector<u8> tag, const std::vector<u8>& bytes) {
        std::vector<u8> out = std::move(tag);
        out.resize(24, 0);
        const u32 n = static_cast<u32>(bytes.size());
        out.insert(out.end(), {0, 0, 0, 0, u8(n >> 24), u8(n >> 16), u8(n >> 8), u8(n), 0, 0, 0, 0});
        out.insert(out.end(), bytes.begin(), bytes.end());
        out.resize((out.size() + 3) & ~size_t(3), 0);
        return out;
    };
    std::vector<u8> top =
        concat({bytesOf("#KORVAN MBDFSnapshot"), std::vector<u8>(4, 0), hexBytes("00 00 00 24 00 00 00 00 00 00 00 00"),
                bytesOf("HUX-NQ"), std::vector<u8>(10, 0), hexBytes("00 00 00 00"), std::vector<u8>(16, 0)});
    const std::vector<u8> expected =
        concat({top, block(concat({bytesOf("#PDB DB"), std::vector<u8>(5, 0), bytesOf("SnapshotInfo")}), infoTable),
                block(bytesOf("#PDB SS"), snapshotRecord(levelColumn())),
                block(bytesOf("#PDB SS"), snapshotRecord(muteBlock())),
                block(bytesOf("#PDB SS"), snapshotRecord(gainComponent())),
                block(bytesOf("#PDB SS"), snapshotRecord(testDatabase())), bytesOf("#END"), std::vector<u8>(32, 0)});
    ASSERT_EQ(file.size(), expected.size());
    std::fill(file.begin() + 56, file.begin() + 72, 0); // the file id
    EXPECT_EQ(file, expected);
    EXPECT_EQ(data.getFileSize(), expected.size());
}

TEST_F(Snapshot, SaveLoadAndRecallRestoreTheStoredValues)
{
    addMixed(0x201);
    IParameterDB& db = test();
    setInt(db, 0x201, "/Level", 1, 0, 33);
    setUInt(db, 0x201, "/Meter", 1, 0, 44);
    setUInt(db, 0x201, "/Grid", 2, 1, 55);
    {
        SnapshotData data;
        makeScene(data, {PresetItem(1, "Test", 0x201, "Mixed", "", 0, 0), levelColumn(),
                         PresetItem(3, "Test", 0x201, "Mixed", "/Grid", 2, WHOLE)});
        ASSERT_EQ(data.save("s.zethis"), 0); // builds first
    }
    setInt(db, 0x201, "/Level", 1, 0, -1);
    setUInt(db, 0x201, "/Meter", 1, 0, 2);
    setUInt(db, 0x201, "/Grid", 2, 1, 3);
    setInt(db, GAIN_UID, "/Level", 1, 0, 4);

    SnapshotData loaded;
    makeScene(loaded, {});
    loaded.getInfoDatabase().setValueString(loaded.getInfoAddress(ItemFile::INFO_TITLE), 0, 0, "changed", 0xFF);
    ASSERT_EQ(loaded.load("s.zethis"), 0);
    EXPECT_EQ(loaded.getCurrentFileName(), "s.zethis");
    ASSERT_EQ(loaded.getContents().getCount(), 3u);
    EXPECT_EQ(loaded.getItem(2), PresetItem(3, "Test", 0x201, "Mixed", "/Grid", 2, WHOLE));
    EXPECT_EQ(textAt(loaded.getInfoDatabase(), 1, "/Info/Title"), "scene one");

    ASSERT_EQ(loaded.recallToCollection(), 0);
    EXPECT_EQ(intAt(db, 0x201, "/Level", 1, 0), 33);
    EXPECT_EQ(uintAt(db, 0x201, "/Meter", 1, 0), 2u); // not recallable: kind 1 leaves it
    EXPECT_EQ(uintAt(db, 0x201, "/Grid", 2, 1), 55u);
    EXPECT_EQ(intAt(db, GAIN_UID, "/Level", 1, 0), -2);

    // Kind 0 writes every value, recallable or not.
    SnapshotData whole;
    makeScene(whole, {testDatabase()});
    ASSERT_EQ(whole.storeContents(), 0);
    setUInt(db, 0x201, "/Meter", 1, 0, 99);
    ASSERT_EQ(whole.recallToCollection(), 0);
    EXPECT_EQ(uintAt(db, 0x201, "/Meter", 1, 0), 2u);
}

TEST_F(Snapshot, ImagesTravelBetweenObjects)
{
    SnapshotData source;
    makeScene(source, {levelColumn(), muteBlock(), gainComponent()}, "VEXA_SNAPSHOT");
    ASSERT_EQ(source.storeContents(), 0);
    const u64 size = source.getFileSize();
    ASSERT_GT(size, 0u);
    std::vector<u8> image(size);
    EXPECT_EQ(source.exportImage(image.data(), static_cast<u32>(size - 1)), BAD_ARGUMENT);
    EXPECT_EQ(source.exportImage(nullptr, static_cast<u32>(size)), BAD_ARGUMENT);
    ASSERT_EQ(source.exportImage(image.data(), static_cast<u32>(size)), 0);

    setInt(test(), GAIN_UID, "/Level", 1, 0, 100);
    setUInt(test(), GAIN_UID, "/Mute", 2, 0, 3);
    SnapshotData target;
    makeScene(target, {}, "VEXA_SNAPSHOT");
    ASSERT_EQ(target.importImage(image.data(), static_cast<u32>(size)), 0);
    EXPECT_EQ(target.getContents().getItems(), source.getContents().getItems());
    EXPECT_EQ(target.getFileSize(), size);
    ASSERT_EQ(target.recallToCollection(), 0);
    EXPECT_EQ(intAt(test(), GAIN_UID, "/Level", 1, 0), -2);
    EXPECT_EQ(uintAt(test(), GAIN_UID, "/Mute", 2, 0), 255u);

    // Without the end block the image still reads; another model tag or an empty image does not.
    ASSERT_EQ(target.importImage(image.data(), static_cast<u32>(size - 36)), 0);
    EXPECT_EQ(target.getContents().getCount(), 3u);
    SnapshotData scene;
    makeScene(scene, {});
    EXPECT_EQ(scene.importImage(image.data(), static_cast<u32>(size)), WRONG_FILE);
    EXPECT_EQ(scene.getContents().getCount(), 0u);
    EXPECT_FALSE(scene.isComplete());
    EXPECT_EQ(target.importImage(image.data(), 0), WRONG_FILE);
    EXPECT_EQ(target.getContents().getCount(), 0u);
    EXPECT_EQ(target.importImage(image.data(), 100), READ_FAILED); // a block cut short
    EXPECT_FALSE(target.isComplete());
    EXPECT_EQ(target.importImage(nullptr, 10), BAD_ARGUMENT);
    EXPECT_EQ(target.exportImage(image.data(), static_cast<u32>(size)), NOTHING_TO_DO);
}

TEST_F(Snapshot, ModelTagLongerThanTheNameFieldReadsBack)
{
    const char* const tag = "VEXA_SNAPSHOT_LONG_TAG"; // 22 characters, stored cut to 16
    SnapshotData source;
    makeScene(source, {levelColumn()}, tag);
    ASSERT_EQ(source.save("long.zethis"), 0);
    SnapshotData loaded;
    makeScene(loaded, {}, tag);
    ASSERT_EQ(loaded.load("long.zethis"), 0);
    EXPECT_EQ(loaded.getContents().getCount(), 1u);

    std::vector<u8> image(source.getFileSize());
    ASSERT_EQ(source.exportImage(image.data(), static_cast<u32>(image.size())), 0);
    SnapshotData target;
    makeScene(target, {}, tag);
    ASSERT_EQ(target.importImage(image.data(), static_cast<u32>(image.size())), 0);
    EXPECT_EQ(target.getContents().getCount(), 1u);
    // A tag that differs within the stored 16 bytes is still another file.
    SnapshotData other;
    makeScene(other, {}, "VEXA_SNAPXHOT_LONG_TAG");
    EXPECT_EQ(other.load("long.zethis"), WRONG_FILE);
}

TEST_F(Snapshot, RecallKeepsTheRecallSafeParameters)
{
    addMixed(0x201);
    IParameterDB& db = test();
    setInt(db, 0x201, "/Level", 0, 0, 10);
    setInt(db, 0x201, "/Level", 1, 0, 11);
    setInt(db, GAIN_UID, "/Level", 1, 0, 12);
    SnapshotData data;
    makeScene(data, {PresetItem(1, "Test", 0x201, "Mixed", "", 0, 0), levelColumn()});
    ASSERT_EQ(data.storeContents(), 0);

    setInt(db, 0x201, "/Level", 0, 0, 20);
    setInt(db, 0x201, "/Level", 1, 0, 21);
    setInt(db, GAIN_UID, "/Level", 1, 0, 22);
    SnapshotContentsList safe;
    safe.addItem(PresetItem(3, "Test", 0x201, "Mixed", "/Level", 1, 0));
    safe.addItem(PresetItem(3, "Test", 0x999, "Mixed", "/Level", 1, 0)); // cannot be built: logged, passed over
    ASSERT_EQ(data.recall(safe), 0);
    EXPECT_EQ(intAt(db, 0x201, "/Level", 0, 0), 10);
    EXPECT_EQ(intAt(db, 0x201, "/Level", 1, 0), 21); // kept
    EXPECT_EQ(intAt(db, GAIN_UID, "/Level", 1, 0), 12);

    // With an empty list everything is applied.
    setInt(db, 0x201, "/Level", 1, 0, 30);
    ASSERT_EQ(data.recall(SnapshotContentsList()), 0);
    EXPECT_EQ(intAt(db, 0x201, "/Level", 1, 0), 11);

    SnapshotData empty;
    makeScene(empty, {levelColumn()});
    EXPECT_EQ(empty.recall(safe), NOTHING_TO_DO);
    EXPECT_EQ(empty.recallToCollection(), NOTHING_TO_DO);
}

TEST_F(Snapshot, StoreBuildsEveryItemItCanAndReportsTheRest)
{
    testing::internal::CaptureStdout();
    SnapshotData data;
    makeScene(data, {levelColumn(), PresetItem(1, "Test", 0x999, "Gain", "", 0, 0), muteBlock()});
    EXPECT_EQ(data.storeContents(), NOT_WRITTEN);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("[E] SnapshotData::store - cannot add #1 block!\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("cannot add #2 block"), std::string::npos) << log;
    ASSERT_EQ(data.getFile().getBlockCount(), 3u); // info, item 0, item 2
    EXPECT_EQ(std::vector<u8>(data.getFile().getBlock(data.getFile().getBlockIterator(2))->getData(),
                              data.getFile().getBlock(data.getFile().getBlockIterator(2))->getData() + 36),
              snapshotRecord(muteBlock()));

    // A save after a failed build builds again, fails again and writes nothing.
    EXPECT_EQ(data.save("partial.zethis"), NOT_WRITTEN);
    EXPECT_FALSE(std::filesystem::exists(path("partial.zethis")));
    EXPECT_EQ(data.getCurrentFileName(), "");
}

TEST_F(Snapshot, StoreAndSaveRefusals)
{
    SnapshotData data;
    makeScene(data, {});
    EXPECT_EQ(data.storeContents(), NOTHING_TO_DO);
    EXPECT_EQ(data.save("x"), NOTHING_TO_DO);
    data.getContents().addItem(muteBlock());
    EXPECT_EQ(data.save(nullptr), NOTHING_TO_DO);
    EXPECT_EQ(data.store(presetInfo()), NOTHING_TO_DO); // another information database

    // Protected in both: refused; protected in one only: stored.
    data.getInfoDatabase().setValueBool(data.getInfoAddress(ItemFile::INFO_PROTECT), 0, 0, true, 0xFF);
    EXPECT_EQ(data.storeContents(), PROTECTED);
    EXPECT_EQ(data.store(snapshotInfo()), 0);
    EXPECT_FALSE(data.getInfoDatabase().getValueBool(data.getInfoAddress(ItemFile::INFO_PROTECT), 0, 0, nullptr));

    // A write that fails leaves the name unchanged and the old file alone.
    ASSERT_EQ(data.save("keep.zethis"), 0);
    const std::vector<u8> old = readFile(path("keep.zethis"));
    EXPECT_EQ(data.save("no/such/folder/x.zethis"), NOT_WRITTEN);
    EXPECT_EQ(data.getCurrentFileName(), "keep.zethis");
    EXPECT_EQ(readFile(path("keep.zethis")), old);
}

TEST_F(Snapshot, LoadRefusalsLeaveTheObjectEmpty)
{
    SnapshotData data;
    makeScene(data, {muteBlock()});
    ASSERT_EQ(data.save("a.zethis"), 0);

    SnapshotData other;
    makeScene(other, {levelColumn()}, "VEXA_SNAPSHOT");
    EXPECT_EQ(other.load("a.zethis"), WRONG_FILE);
    EXPECT_EQ(other.getContents().getCount(), 0u);
    EXPECT_EQ(other.getFile().getBlockCount(), 0u);
    EXPECT_EQ(other.getCurrentFileName(), "");
    EXPECT_EQ(other.load(nullptr), BAD_ARGUMENT);
    EXPECT_EQ(other.load("missing.zethis"), READ_FAILED);

    std::vector<u8> bytes = readFile(path("a.zethis"));
    bytes[72 + 7] = 'X'; // the information block's tag: an unknown, but readable, block stays; the item too
    writeFile(path("b.zethis"), bytes);
    SnapshotData third;
    makeScene(third, {});
    EXPECT_EQ(third.load("b.zethis"), 0);
    EXPECT_EQ(third.getContents().getCount(), 1u);

    bytes[72 + 24] = 0x7F; // info size of that block far beyond the file
    writeFile(path("c.zethis"), bytes);
    EXPECT_EQ(third.load("c.zethis"), READ_FAILED);
    EXPECT_EQ(third.getContents().getCount(), 0u);
    EXPECT_FALSE(third.isComplete());
}

TEST_F(Snapshot, ApplySnapshotInfoReplacesTheInformationBlockInPlace)
{
    SnapshotData data;
    makeScene(data, {muteBlock()});
    ASSERT_EQ(data.storeContents(), 0);
    snapshotInfo().setValueString(0, blockOf(snapshotInfo(), 1, "/Info/Title"), 0, 0, "renamed", 0xFF);
    ASSERT_EQ(data.applySnapshotInfo(snapshotInfo()), 0);
    ASSERT_EQ(data.getFile().getBlockCount(), 2u);
    const FILECACHE::MBDFAbstractBlock* first = data.getFile().getBlock(data.getFile().getBlockIterator(0));
    EXPECT_EQ(first->getTag(), "#PDB DB");
    EXPECT_EQ(std::vector<u8>(first->getData(), first->getData() + first->getDataSize(false)),
              exportAll(data.getInfoDatabase(), 0));
    EXPECT_EQ(textAt(data.getInfoDatabase(), 1, "/Info/Title"), "renamed");
    EXPECT_EQ(data.applySnapshotInfo(presetInfo()), NOTHING_TO_DO);

    SnapshotData unbuilt;
    makeScene(unbuilt, {muteBlock()});
    EXPECT_EQ(unbuilt.applySnapshotInfo(snapshotInfo()), 0);
    EXPECT_EQ(unbuilt.getFile().getBlockCount(), 0u);
}

} // namespace
