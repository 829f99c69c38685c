// "#PDB DB", "#PDB PS" and "#PDB SS" blocks: tag field, builders, limit, factories and the container helpers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "backup_TestUtil.h"
#include "compo_TestTypes.h"
#include "fcache_MBDF.h"
#include "pdb_LocalParameterDB.h"
#include "pdb_MBDFPDBBlock.h"

using namespace PDB;
using backup_test::ScriptedDB;
using compo_test::hexBytes;

namespace {

std::vector<u8> header(const FILECACHE::MBDFAbstractBlock& block)
{
    return std::vector<u8>(block.getHeader(), block.getHeader() + 36);
}

std::vector<u8> data(const FILECACHE::MBDFAbstractBlock& block)
{
    return std::vector<u8>(block.getData(), block.getData() + block.getDataSize(false));
}

// The local database "Profile" holding only the reference "Gain" component 0x101.
void buildProfile(LocalParameterDB& db)
{
    compo_test::registerGain();
    db.setIdentity(0, "Profile");
    ASSERT_EQ(db.addComponent(0x101, "Gain", 1, 0, 0, 0), 0);
    compo_test::fillGain(db, 0);
}

} // namespace

TEST(PDBBlock, ProfileBlockCarriesTheTableBehindTheGoldenTagField)
{
    LocalParameterDB db;
    buildProfile(db);
    MBDFPDBBlock block;
    ASSERT_EQ(block.setup(db.getName(), &db, 0), 0);

    std::vector<u8> expected = hexBytes("23 50 44 42 20 44 42 00 00 00 00 00 50 72 6F 66 69 6C 65 00 00 00 00 00"
                                        "00 00 00 00 00 00 00 B0 00 00 00 00");
    EXPECT_EQ(header(block), expected);
    EXPECT_TRUE(block.isValid());
    EXPECT_EQ(block.getTag(), "#PDB DB");
    EXPECT_EQ(block.getKind(), "Profile");
    EXPECT_EQ(block.getInfo(), nullptr);

    const std::vector<u8> record = data(block);
    ASSERT_EQ(record.size(), 176u);
    EXPECT_EQ(std::vector<u8>(record.begin(), record.begin() + 16),
              hexBytes("23 43 54 31 00 00 00 00 00 00 00 01 00 00 00 10"));
    const std::vector<u8> component = compo_test::exportComponent(db.getComponent(0));
    ASSERT_EQ(component.size(), 160u);
    EXPECT_EQ(std::vector<u8>(record.begin() + 16, record.end()), component);
    EXPECT_EQ(record, compo_test::exportAll(db, 0));

    // The header value reaches the record; a second setup replaces the first content.
    ASSERT_EQ(block.setup("Profile", &db, 0x01020304), 0);
    EXPECT_EQ(backup_test::be32(data(block), 4), 0x01020304u);
    EXPECT_EQ(block.getDataSize(false), 176u);
}

TEST(PDBBlock, KindTextKeepsTwelveBytesAndReadersMatchTheCutName)
{
    ScriptedDB db("FourteenChars!");
    MBDFPDBBlock block;
    testing::internal::CaptureStdout();
    ASSERT_EQ(block.setup(db.getName(), &db, 0), 0);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_THAT(log, testing::HasSubstr("[W] "));
    EXPECT_THAT(log, testing::HasSubstr("FourteenChars!"));

    EXPECT_EQ(std::memcmp(block.getHeader() + 12, "FourteenChar", 12), 0);
    EXPECT_EQ(block.getKind(), "FourteenChar");
    EXPECT_TRUE(isPDBBlockKindOf(block, "FourteenChars!"));
    EXPECT_TRUE(isPDBBlockKindOf(block, "FourteenChar"));
    EXPECT_FALSE(isPDBBlockKindOf(block, "FourteenCha"));
    EXPECT_FALSE(isPDBBlockKindOf(block, nullptr));
    EXPECT_TRUE(isSamePDBBlockKind("ABCDEFGHIJKL1", "ABCDEFGHIJKL2"));
    EXPECT_FALSE(isSamePDBBlockKind("ABCDEFGHIJK1", "ABCDEFGHIJK2"));

    // A short name logs nothing.
    ScriptedDB shortName("Status");
    testing::internal::CaptureStdout();
    ASSERT_EQ(block.setup(shortName.getName(), &shortName, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(PDBBlock, SetupExportsTheSizeSeenUnderTheReadLock)
{
    ScriptedDB db("Profile");
    db.m_tableSize = 64;
    MBDFPDBBlock block;
    ASSERT_EQ(block.setup("Profile", &db, 0), 0);
    EXPECT_FALSE(db.m_unlockedExport);
    EXPECT_EQ(block.getDataSize(false), 64u);

    // A component added between a look at the size and the export: the export gets its exact new size.
    db.m_growOutsideLock = 5000;
    ASSERT_EQ(block.setup("Profile", &db, 0), 0);
    EXPECT_FALSE(db.m_unlockedExport);
    EXPECT_EQ(block.getDataSize(false), db.m_tableSize);
    EXPECT_GE(db.m_tableSize, 5064u);
    EXPECT_EQ(db.m_readDepth, 0);
    EXPECT_EQ(db.m_writeDepth, 0);
}

TEST(PDBBlock, SetupFailuresLeaveNoData)
{
    ScriptedDB db("Profile");
    MBDFPDBBlock block;
    EXPECT_EQ(block.setup(nullptr, &db, 0), static_cast<i32>(0x80000001u));
    EXPECT_EQ(block.setup("Profile", nullptr, 0), static_cast<i32>(0x80000001u));

    db.m_tableSize = 0;
    EXPECT_EQ(block.setup("Profile", &db, 0), static_cast<i32>(0x80000001u));
    EXPECT_FALSE(block.isValid());

    db.m_tableSize = 32;
    db.m_exportResult = static_cast<i32>(0x80000001u);
    EXPECT_EQ(block.setup("Profile", &db, 0), static_cast<i32>(0x80000003u));
    EXPECT_FALSE(block.isValid());
    EXPECT_EQ(block.getData(), nullptr);
    EXPECT_EQ(db.m_readDepth, 0);
}

TEST(PDBBlock, RecordOverTheBlockLimitIsRefused)
{
    ScriptedDB db("Profile");
    MBDFPDBBlock block;

    db.m_tableSize = 0xA00000; // exactly the limit is readable
    ASSERT_EQ(block.setup("Profile", &db, 0), 0);
    EXPECT_EQ(block.getDataSize(false), 0xA00000u);

    db.m_tableSize = 0xA00004;
    const int exportsBefore = db.m_exports;
    testing::internal::CaptureStdout();
    EXPECT_EQ(block.setup("Profile", &db, 0), static_cast<i32>(0x80000007u));
    EXPECT_THAT(testing::internal::GetCapturedStdout(), testing::HasSubstr("[E] "));
    EXPECT_EQ(db.m_exports, exportsBefore);
    EXPECT_FALSE(block.isValid());
    EXPECT_EQ(db.m_readDepth, 0);

    std::vector<u8> big(0xA00001, 1);
    MBDFPDBPSBlock preset;
    testing::internal::CaptureStdout();
    EXPECT_EQ(preset.setRecord("P", big.data(), static_cast<u32>(big.size())), static_cast<i32>(0x80000007u));
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(preset.isValid());
}

TEST(PDBBlock, ValidityNeedsTheExactTagAndData)
{
    MBDFPDBBlock block;
    EXPECT_FALSE(block.isValid());
    ASSERT_EQ(block.setTag("#PDB DB"), 0);
    EXPECT_FALSE(block.isValid()); // right tag, no data
    const u8 record[4] = {1, 2, 3, 4};
    ASSERT_EQ(block.setData(record, 4), 0);
    EXPECT_TRUE(block.isValid());
    ASSERT_EQ(block.setTag("#PDB PS"), 0);
    EXPECT_FALSE(block.isValid());
    EXPECT_EQ(block.getTagLength(), 12u);

    MBDFPDBSSBlock snapshot;
    EXPECT_EQ(snapshot.setRecord("Scene 1", record, 4), 0);
    EXPECT_TRUE(snapshot.isValid());
    EXPECT_EQ(snapshot.getTag(), "#PDB SS");
    EXPECT_EQ(snapshot.getKind(), "Scene 1");
    EXPECT_EQ(snapshot.setRecord("Scene 1", nullptr, 4), static_cast<i32>(0x80000001u));
    EXPECT_EQ(snapshot.setRecord(nullptr, record, 4), static_cast<i32>(0x80000001u));
    EXPECT_FALSE(snapshot.isValid());
}

TEST(PDBBlock, RegisteredFactoriesRecreateTheClassesFromAnImage)
{
    MBDFPDBBlock::registerFactory();
    MBDFPDBPSBlock::registerFactory();
    MBDFPDBSSBlock::registerFactory();
    MBDFPDBBlock::registerFactory(); // a second call changes nothing

    const u8 record[6] = {9, 8, 7, 6, 5, 4};
    MBDFPDBBlock db;
    MBDFPDBPSBlock ps;
    MBDFPDBSSBlock ss;
    ASSERT_EQ(db.setRecord("Profile", record, 6), 0);
    ASSERT_EQ(ps.setRecord("Preset", record, 6), 0);
    ASSERT_EQ(ss.setRecord("Snapshot", record, 6), 0);
    std::vector<u8> image;
    ASSERT_EQ(db.appendImage(image), 0);
    ASSERT_EQ(ps.appendImage(image), 0);
    ASSERT_EQ(ss.appendImage(image), 0);
    ASSERT_EQ(image.size(), 3u * (36 + 8));

    FILECACHE::MBDF container;
    ASSERT_EQ(container.readFromMemory(image.data(), static_cast<u32>(image.size())), 0);
    ASSERT_EQ(container.getBlockCount(), 3u);
    auto it = container.beginBlocks();
    EXPECT_NE(dynamic_cast<MBDFPDBBlock*>(*it++), nullptr);
    EXPECT_NE(dynamic_cast<MBDFPDBPSBlock*>(*it++), nullptr);
    auto* readSS = dynamic_cast<MBDFPDBSSBlock*>(*it);
    ASSERT_NE(readSS, nullptr);
    EXPECT_TRUE(readSS->isValid());
    EXPECT_EQ(std::vector<u8>(readSS->getData(), readSS->getData() + 6), std::vector<u8>(record, record + 6));
}

TEST(PDBBlock, InsertAndFindInTheContainer)
{
    FILECACHE::MBDF container;
    const u8 id[16] = {};
    ASSERT_EQ(container.create("Preset", "HUX-NQ", 0, id, 16), 0);
    const u8 record[4] = {1, 2, 3, 4};
    MBDFPDBBlock first;
    MBDFPDBBlock second;
    MBDFPDBPSBlock item;
    ASSERT_EQ(first.setRecord("First", record, 4), 0);
    ASSERT_EQ(second.setRecord("Second", record, 4), 0);
    ASSERT_EQ(item.setRecord("Item", record, 4), 0);

    ASSERT_EQ(insertPDBBlock(container, 0xFFFFFFFF, second), 0);
    ASSERT_EQ(insertPDBBlock(container, 0, first), 0);
    ASSERT_EQ(insertPDBBlock(container, 99, item), 0); // past the end appends
    ASSERT_EQ(container.getBlockCount(), 3u);

    ASSERT_NE(getPDBBlock(container, 0), nullptr);
    EXPECT_EQ(getPDBBlock(container, 0)->getKind(), "First");
    EXPECT_EQ(getPDBBlock(container, 1)->getKind(), "Second");
    EXPECT_EQ(getPDBBlock(container, 2), nullptr); // the copy keeps "#PDB PS"
    EXPECT_EQ(container.getBlock(container.getBlockIterator(2))->getTag(), "#PDB PS");
    EXPECT_EQ(getPDBBlock(container, 3), nullptr);
    EXPECT_EQ(getPDBBlock(container, 0xFFFFFFFF), nullptr);

    // Inserted blocks are copies, not the sources.
    EXPECT_NE(getPDBBlock(container, 0), &first);
    EXPECT_NE(getPDBBlock(container, 0)->getData(), first.getData());
    ASSERT_EQ(insertPDBBlock(container, 1, first), 0);
    EXPECT_EQ(getPDBBlock(container, 1)->getKind(), "First");
    EXPECT_EQ(getPDBBlock(container, 2)->getKind(), "Second");
}
