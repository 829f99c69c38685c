// Preset records ("#PC1"), their blocks and PresetData: golden bytes, recall onto another component, and the
// failure cases.
#include <gtest/gtest.h>

#include "pdb_PresetData.h"
#include "pdb_SnapshotData.h"
#include "snap_Fixture.h"

using namespace snap_test;

namespace {

class Preset : public SnapFixture
{
protected:
    void makePreset(PresetData& data, std::initializer_list<PresetItem> items, const char* type = nullptr)
    {
        PresetContentsList contents;
        for (const PresetItem& item : items) {
            contents.addItem(item);
        }
        ASSERT_EQ(data.initialize("HUX-NQ", 0, 0, type, contents, m_Dir.c_str()), 0);
    }

    std::vector<u8> presetRecord(const PresetItem& item, ComponentUID uid, bool withValues = true)
    {
        const u32 size = getPresetRecordSize(item, &test(), uid, withValues);
        std::vector<u8> out(size);
        if (size == 0 || encodePresetRecord(item, &test(), uid, out.data(), size, 0, withValues) < 0) {
            out.clear();
        }
        return out;
    }

    i32 apply(const std::vector<u8>& record, ComponentUID uid)
    {
        PresetItem item;
        return decodePresetRecord(item, &test(), uid, record.data(), static_cast<u32>(record.size()), true);
    }
};

TEST_F(Preset, RecordsAreSnapshotRecordsUnderTheirOwnTag)
{
    for (const PresetItem& item :
         {PresetItem(3, "Test", GAIN_UID, "Gain", "/Level", 1, WHOLE),
          PresetItem(2, "Test", GAIN_UID, "Gain", "/Mute", 3, 1), PresetItem(1, "Test", GAIN_UID, "Gain", "", 0, 0),
          PresetItem(0, "Test", INVALID_COMPONENT_UID, "", "", 0, 0)}) {
        std::vector<u8> expected = snapshotRecord(item);
        ASSERT_FALSE(expected.empty());
        expected[1] = 'P';
        EXPECT_EQ(presetRecord(item, GAIN_UID), expected) << item.getKind();
    }

    // The uid comes from the caller: header and values are those of component 0x102.
    ASSERT_EQ(test().addComponent(0x102, "Gain", 1, 0, 0, 0), 0);
    setInt(test(), 0x102, "/Level", 1, 1, 9);
    const std::vector<u8> other = presetRecord(PresetItem(3, "Test", GAIN_UID, "Gain", "/Level", 1, WHOLE), 0x102);
    EXPECT_EQ(std::vector<u8>(other.begin(), other.begin() + 16),
              hexBytes("23 50 43 31 83 04 04 06 00 00 01 02 00 01 FF FF"));
    EXPECT_EQ(std::vector<u8>(other.end() - 8, other.end()), hexBytes("00 00 00 00 09 00 00 00"));

    // Three UINT16 elements: 6 value bytes padded to 8.
    ASSERT_EQ(test().addComponent(0x201, "Mixed", 1, 0, 0, 0), 0);
    for (u32 x = 0; x < 3; ++x) {
        setUInt(test(), 0x201, "/Grid", x, 2, 0x0101 * (x + 1));
    }
    const std::vector<u8> grid = presetRecord(PresetItem(3, "Test", 0x201, "Mixed", "/Grid", WHOLE, 2), 0x201);
    ASSERT_EQ(grid.size(), 40u);
    EXPECT_EQ(std::vector<u8>(grid.end() - 8, grid.end()), hexBytes("01 01 02 02 03 03 00 00"));

    std::vector<u8> buffer(64);
    EXPECT_EQ(encodePresetRecord(PresetItem(1, "Test", GAIN_UID, "Gain", "", 0, 0), nullptr, GAIN_UID, buffer.data(),
                                 64, 0, false),
              NOT_FOUND);
    EXPECT_EQ(getPresetRecordSize(PresetItem(1, "Test", GAIN_UID, "Gain", "", 0, 0), &test(), 0x999, true), 0u);
}

TEST_F(Preset, RecordsApplyToTheComponentChosenAtRecall)
{
    ASSERT_EQ(test().addComponent(0x102, "Gain", 1, 0, 0, 0), 0);
    ASSERT_EQ(test().addComponent(0x301, "Other", 1, 0, 0, 0), 0);
    ASSERT_EQ(test().addComponent(0x201, "Mixed", 1, 0, 0, 0), 0);
    const std::vector<u8> level = presetRecord(PresetItem(3, "Test", GAIN_UID, "Gain", "/Level", 1, WHOLE), GAIN_UID);
    const std::vector<u8> mute = presetRecord(PresetItem(2, "Test", GAIN_UID, "Gain", "/Mute", 3, 1), GAIN_UID);
    const std::vector<u8> whole = presetRecord(PresetItem(1, "Test", GAIN_UID, "Gain", "", 0, 0), GAIN_UID);

    EXPECT_EQ(apply(level, 0x102), 0);
    EXPECT_EQ(intAt(test(), 0x102, "/Level", 1, 0), -2);
    EXPECT_EQ(apply(mute, 0x102), 0);
    EXPECT_EQ(uintAt(test(), 0x102, "/Mute", 2, 0), 255u);
    setInt(test(), 0x102, "/Level", 2, 1, 0);
    EXPECT_EQ(apply(whole, 0x102), 0);
    EXPECT_EQ(intAt(test(), 0x102, "/Level", 2, 1), 7);
    EXPECT_EQ(intAt(test(), GAIN_UID, "/Level", 1, 0), -2); // the source is not touched

    for (const auto* record : {&level, &mute, &whole}) {
        EXPECT_EQ(apply(*record, 0x301), MALFORMED);
    }
    EXPECT_EQ(intAt(test(), 0x301, "/Level", 1, 0), 0);
    EXPECT_EQ(apply(whole, 0x999), BAD_ARGUMENT);

    // A block that is not recallable is applied all the same.
    ASSERT_EQ(test().addComponent(0x202, "Mixed", 1, 0, 0, 0), 0);
    setUInt(test(), 0x201, "/Meter", 1, 0, 77);
    const std::vector<u8> meter = presetRecord(PresetItem(2, "Test", 0x201, "Mixed", "/Meter", 2, 1), 0x201);
    EXPECT_EQ(apply(meter, 0x202), 0);
    EXPECT_EQ(uintAt(test(), 0x202, "/Meter", 1, 0), 77u);
    const std::vector<u8> meterElement = presetRecord(PresetItem(3, "Test", 0x201, "Mixed", "/Meter", 1, 0), 0x201);
    setUInt(test(), 0x202, "/Meter", 1, 0, 1);
    EXPECT_EQ(apply(meterElement, 0x202), 0);
    EXPECT_EQ(uintAt(test(), 0x202, "/Meter", 1, 0), 77u);

    // A kind-1 import that fails is reported.
    std::vector<u8> broken = whole;
    broken[24] = 'X';
    EXPECT_LT(apply(broken, 0x102), 0);
}

TEST_F(Preset, StoreSaveLoadAndRecallOntoAnotherComponent)
{
    ASSERT_EQ(test().addComponent(0x102, "Gain", 1, 0, 0, 0), 0);
    ASSERT_EQ(test().addComponent(0x301, "Other", 1, 0, 0, 0), 0);
    PresetContentsList list;
    ParameterAddress reference;
    reference.setTexts("Test", GAIN_UID, "/Level");
    ASSERT_EQ(list.addParameterBlockOfInstance(reference), 0);
    reference.setTexts("Test", GAIN_UID, "/Mute");
    ASSERT_EQ(list.addParameterBlockOfInstance(reference), 0);
    {
        PresetData data;
        ASSERT_EQ(data.initialize("HUX-NQ", 0, 0, "eq", list, m_Dir.c_str()), 0);
        ASSERT_EQ(data.save("p1.zethip"), 0);
        const FILECACHE::MBDFAbstractBlock* item = data.getFile().getBlock(data.getFile().getBlockIterator(1));
        EXPECT_EQ(std::vector<u8>(item->getHeader(), item->getHeader() + 32),
                  concat({hexBytes("23 50 44 42 20 50 53"), std::vector<u8>(17, 0), hexBytes("00 00 00 00"),
                          hexBytes("00 00 00 40")}));
    }

    PresetData loaded;
    makePreset(loaded, {});
    ASSERT_EQ(loaded.load("p1.zethip"), 0);
    ASSERT_EQ(loaded.getContents().getCount(), 2u);
    EXPECT_EQ(loaded.getItem(0), PresetItem(2, "Test", GAIN_UID, "Gain", "/Level", 4, 2));
    EXPECT_EQ(loaded.getItem(2).getKind(), PresetItem::KIND_EMPTY);
    EXPECT_EQ(textAt(loaded.getInfoDatabase(), 1, "/Info/PresetType"), "eq");

    ASSERT_EQ(loaded.recall(test(), 0x102), 0);
    EXPECT_EQ(intAt(test(), 0x102, "/Level", 1, 0), -2);
    EXPECT_EQ(intAt(test(), 0x102, "/Level", 2, 1), 7);
    EXPECT_EQ(uintAt(test(), 0x102, "/Mute", 0, 0), 1u);
    EXPECT_EQ(loaded.recall(test(), 0x301), MALFORMED);
    EXPECT_EQ(intAt(test(), 0x301, "/Level", 1, 0), 0);

    PresetData unbuilt;
    makePreset(unbuilt, {});
    EXPECT_EQ(unbuilt.recall(test(), 0x102), NOTHING_TO_DO);
}

TEST_F(Preset, InformationTypeProtectionAndFileKind)
{
    PresetData typed;
    makePreset(typed, {PresetItem(1, "Test", GAIN_UID, "Gain", "", 0, 0)}, "reverb");
    EXPECT_EQ(textAt(typed.getInfoDatabase(), 1, "/Info/PresetType"), "reverb");
    EXPECT_EQ(textAt(typed.getInfoDatabase(), 1, "/Info/ProductName"), "HUX-NQ");
    PresetData untyped;
    makePreset(untyped, {PresetItem(1, "Test", GAIN_UID, "Gain", "", 0, 0)});
    EXPECT_EQ(textAt(untyped.getInfoDatabase(), 1, "/Info/PresetType"), "default");

    // "/Info/Protect" is a number here: any non-zero value in both refuses.
    LocalParameterDB& own = untyped.getInfoDatabase();
    own.setValueUInt(untyped.getInfoAddress(ItemFile::INFO_PROTECT), 0, 0, 2, 0xFF);
    presetInfo().setValueUInt(untyped.getInfoAddress(ItemFile::INFO_PROTECT), 0, 0, 1, 0xFF);
    EXPECT_EQ(untyped.store(presetInfo()), PROTECTED);
    presetInfo().setValueUInt(untyped.getInfoAddress(ItemFile::INFO_PROTECT), 0, 0, 0, 0xFF);
    EXPECT_EQ(untyped.store(presetInfo()), 0);
    EXPECT_EQ(untyped.store(snapshotInfo()), NOTHING_TO_DO);

    // A snapshot file is no preset.
    SnapshotContentsList contents;
    contents.addItem(PresetItem(1, "Test", GAIN_UID, "Gain", "", 0, 0));
    SnapshotData scene;
    ASSERT_EQ(scene.initialize("HUX-NQ", 0, 0, contents, m_Dir.c_str()), 0);
    ASSERT_EQ(scene.save("scene.zethis"), 0);
    EXPECT_EQ(untyped.load("scene.zethis"), WRONG_FILE);
    EXPECT_EQ(untyped.getContents().getCount(), 0u);
    EXPECT_EQ(scene.load("scene.zethis"), 0);

    // A store that cannot build an item logs the preset's own line.
    testing::internal::CaptureStdout();
    untyped.getContents().addItem(PresetItem(1, "Test", 0x999, "Gain", "", 0, 0));
    EXPECT_EQ(untyped.storeContents(), NOT_WRITTEN);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("[E] PresetData::store - cannot add #0 block!\n"),
              std::string::npos);
}

TEST_F(Preset, KindZeroAppliesTheTableByItsOwnUids)
{
    PresetData data;
    makePreset(data, {PresetItem(0, "Test", INVALID_COMPONENT_UID, "", "", 0, 0)});
    ASSERT_EQ(data.storeContents(), 0);
    setInt(test(), GAIN_UID, "/Level", 1, 0, 50);
    ASSERT_EQ(data.recall(test(), 0x12345), 0); // the uid plays no part
    EXPECT_EQ(intAt(test(), GAIN_UID, "/Level", 1, 0), -2);

    // A table that the database refuses makes the recall fail.
    FILECACHE::MBDFAbstractBlock* block = data.getFile().getBlock(data.getFile().getBlockIterator(1));
    const_cast<u8*>(block->getData())[20] = 'X';
    EXPECT_EQ(data.recall(test(), 0), MALFORMED);
}

} // namespace
