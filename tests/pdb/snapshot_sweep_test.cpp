// Reader sweeps over damaged snapshot and preset data: records, images and files cut at every length, header
// bytes forced to 0 and 0xFF, and seeded random flips. Each input lies in a buffer of its exact size, so a read
// past its end is caught by the address sanitizer.
#include <gtest/gtest.h>

#include <random>

#include "pdb_PresetData.h"
#include "pdb_SnapshotData.h"
#include "snap_Fixture.h"

using namespace snap_test;

namespace {

bool isResultCode(i32 result)
{
    return result == 0 || result < 0;
}

class Sweep : public SnapFixture
{
protected:
    void SetUp() override
    {
        SnapFixture::SetUp();
        ASSERT_EQ(test().addComponent(0x201, "Mixed", 1, 0, 0, 0), 0);
        setUInt(test(), 0x201, "/Grid", 1, 1, 42);
        m_Items = {PresetItem(3, "Test", GAIN_UID, "Gain", "/Level", 1, WHOLE),
                   PresetItem(2, "Test", GAIN_UID, "Gain", "/Mute", 3, 1),
                   PresetItem(1, "Test", GAIN_UID, "Gain", "", 0, 0),
                   PresetItem(0, "Test", INVALID_COMPONENT_UID, "", "", 0, 0),
                   PresetItem(3, "Test", 0x201, "Mixed", "/Name", WHOLE, 0),
                   PresetItem(3, "Test", 0x201, "Mixed", "/Grid", 1, WHOLE)};
        for (const PresetItem& item : m_Items) {
            m_Records.push_back(snapshotRecord(item));
            ASSERT_FALSE(m_Records.back().empty());
        }
    }

    // Decodes bytes as a snapshot and as a preset record, header only and applied.
    void decodeAll(const std::vector<u8>& bytes)
    {
        const std::vector<u8> exact(bytes); // a buffer of exactly this size
        const u32 size = static_cast<u32>(exact.size());
        const u8* data = exact.empty() ? nullptr : exact.data();
        PresetItem item;
        const ParameterDBCollection& all = ParameterDBCollection::getCollection();
        EXPECT_TRUE(isResultCode(decodeSnapshotRecord(item, all, data, size, false)));
        EXPECT_TRUE(isResultCode(decodeSnapshotRecord(item, all, data, size, true)));
        std::vector<u8> preset(exact);
        if (preset.size() > 1) {
            preset[1] = 'P';
        }
        const u8* presetData = preset.empty() ? nullptr : preset.data();
        EXPECT_TRUE(isResultCode(decodePresetRecord(item, &test(), GAIN_UID, presetData, size, false)));
        EXPECT_TRUE(isResultCode(decodePresetRecord(item, &test(), 0x201, presetData, size, true)));
    }

    std::vector<PresetItem> m_Items;
    std::vector<std::vector<u8>> m_Records;
};

TEST_F(Sweep, RecordsCutAtEveryLength)
{
    const ParameterDBCollection& all = ParameterDBCollection::getCollection();
    for (size_t r = 0; r < m_Records.size(); ++r) {
        const std::vector<u8>& record = m_Records[r];
        const u32 namesEnd = 16 + record[5] + record[6] + record[7];
        for (size_t n = 0; n < record.size(); ++n) {
            const std::vector<u8> cut(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(n));
            decodeAll(cut);
            PresetItem item;
            const i32 header =
                decodeSnapshotRecord(item, all, cut.empty() ? nullptr : cut.data(), static_cast<u32>(n), false);
            if (n < namesEnd) {
                EXPECT_LT(header, 0) << r << " " << n; // the names do not fit
            } else {
                EXPECT_EQ(header, 0) << r << " " << n;
                EXPECT_EQ(item, m_Items[r]);
            }
        }
    }
}

TEST_F(Sweep, HeaderBytesForcedToBothExtremes)
{
    for (const std::vector<u8>& record : m_Records) {
        for (size_t i = 0; i < 16; ++i) {
            for (u8 value : {u8(0x00), u8(0xFF)}) {
                std::vector<u8> changed(record);
                changed[i] = value;
                decodeAll(changed);
            }
        }
    }
}

TEST_F(Sweep, SeededRandomFlipsOfRecords)
{
    std::mt19937 random(20261207);
    for (int round = 0; round < 3000; ++round) {
        std::vector<u8> changed(m_Records[static_cast<size_t>(round) % m_Records.size()]);
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int f = 0; f < flips; ++f) {
            changed[random() % changed.size()] ^= static_cast<u8>(1u << (random() % 8));
        }
        decodeAll(changed);
    }
}

TEST_F(Sweep, ImagesCutFlippedAndForced)
{
    SnapshotContentsList contents;
    for (const PresetItem& item : m_Items) {
        contents.addItem(item);
    }
    SnapshotData source;
    ASSERT_EQ(source.initialize("VEXA_SNAPSHOT", 1, 1, contents, nullptr), 0);
    ASSERT_EQ(source.storeContents(), 0);
    std::vector<u8> image(source.getFileSize());
    ASSERT_EQ(source.exportImage(image.data(), static_cast<u32>(image.size())), 0);

    SnapshotData target;
    ASSERT_EQ(target.initialize("VEXA_SNAPSHOT", 1, 1, SnapshotContentsList(), nullptr), 0);
    const auto tryImage = [&](const std::vector<u8>& bytes) {
        const std::vector<u8> exact(bytes);
        const i32 result =
            target.importImage(exact.empty() ? image.data() : exact.data(), static_cast<u32>(exact.size()));
        EXPECT_TRUE(isResultCode(result));
        if (result == 0) {
            EXPECT_TRUE(isResultCode(target.recallToCollection()));
            EXPECT_TRUE(isResultCode(target.recall(SnapshotContentsList())));
            std::vector<u8> again(target.getFileSize());
            if (!again.empty()) {
                EXPECT_TRUE(isResultCode(target.exportImage(again.data(), static_cast<u32>(again.size()))));
            }
        } else {
            EXPECT_EQ(target.getContents().getCount(), 0u);
        }
    };
    for (size_t n = 0; n <= image.size(); ++n) {
        tryImage(std::vector<u8>(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(n)));
    }
    // Every block header byte forced to 0 and 0xFF.
    for (size_t start = 0; start + 36 <= image.size();) {
        for (size_t i = 0; i < 36; ++i) {
            for (u8 value : {u8(0x00), u8(0xFF)}) {
                std::vector<u8> changed(image);
                changed[start + i] = value;
                tryImage(changed);
            }
        }
        const u32 info = (u32(image[start + 24]) << 24) | (u32(image[start + 25]) << 16) |
                         (u32(image[start + 26]) << 8) | image[start + 27];
        const u32 data = (u32(image[start + 28]) << 24) | (u32(image[start + 29]) << 16) |
                         (u32(image[start + 30]) << 8) | image[start + 31];
        start += 36 + ((info + 3) & ~3u) + ((data + 3) & ~3u);
    }
    std::mt19937 random(7);
    for (int round = 0; round < 1500; ++round) {
        std::vector<u8> changed(image);
        for (int f = 0; f < 3; ++f) {
            changed[random() % changed.size()] ^= static_cast<u8>(1u << (random() % 8));
        }
        tryImage(changed);
    }
}

TEST_F(Sweep, SavedFilesCutAndFlipped)
{
    PresetContentsList presetContents;
    SnapshotContentsList contents;
    for (const PresetItem& item : m_Items) {
        contents.addItem(item);
        presetContents.addItem(item);
    }
    SnapshotData scene;
    ASSERT_EQ(scene.initialize("HUX-NQ", 0, 0, contents, m_Dir.c_str()), 0);
    ASSERT_EQ(scene.save("full.zethis"), 0);
    PresetData preset;
    ASSERT_EQ(preset.initialize("HUX-NQ", 0, 0, "t", presetContents, m_Dir.c_str()), 0);
    ASSERT_EQ(preset.save("full.zethip"), 0);

    const std::vector<u8> file = readFile(path("full.zethis"));
    const std::vector<u8> presetFile = readFile(path("full.zethip"));
    SnapshotData reader;
    ASSERT_EQ(reader.initialize("HUX-NQ", 0, 0, SnapshotContentsList(), m_Dir.c_str()), 0);
    PresetData presetReader;
    ASSERT_EQ(presetReader.initialize("HUX-NQ", 0, 0, nullptr, PresetContentsList(), m_Dir.c_str()), 0);
    for (size_t n = 0; n < file.size(); n += 3) {
        writeFile(path("cut.zethis"), std::vector<u8>(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n)));
        const i32 result = reader.load("cut.zethis");
        EXPECT_LT(result, 0) << n; // a cut file has no end block
        EXPECT_EQ(reader.getContents().getCount(), 0u);
        EXPECT_EQ(reader.recallToCollection(), NOTHING_TO_DO);
    }
    for (size_t n = 0; n < presetFile.size(); n += 3) {
        writeFile(path("cut.zethip"),
                  std::vector<u8>(presetFile.begin(), presetFile.begin() + static_cast<std::ptrdiff_t>(n)));
        EXPECT_LT(presetReader.load("cut.zethip"), 0) << n;
        EXPECT_EQ(presetReader.recall(test(), GAIN_UID), NOTHING_TO_DO);
    }
    std::mt19937 random(99);
    for (int round = 0; round < 400; ++round) {
        std::vector<u8> changed(round % 2 == 0 ? file : presetFile);
        for (int f = 0; f < 2; ++f) {
            changed[random() % changed.size()] ^= static_cast<u8>(1u << (random() % 8));
        }
        writeFile(path("flip"), changed);
        if (round % 2 == 0) {
            const i32 result = reader.load("flip");
            EXPECT_TRUE(isResultCode(result));
            EXPECT_TRUE(isResultCode(reader.recallToCollection()));
        } else {
            EXPECT_TRUE(isResultCode(presetReader.load("flip")));
            EXPECT_TRUE(isResultCode(presetReader.recall(test(), GAIN_UID)));
        }
    }
}

} // namespace
