// Backup files: golden bytes, restore of nonvolatile values, database matching, and the all-or-nothing write.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/types.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "backup_TestUtil.h"
#include "compo_TestTypes.h"
#include "fcache_MBDFTestHooks.h"
#include "fsw_SystemCalls.h"
#include "pdb_BackupFile.h"
#include "pdb_MBDFPDBBlock.h"
#include "pdb_ParameterDBCollection.h"

using namespace PDB;
using namespace backup_test;
using compo_test::hexBytes;

namespace {

constexpr i32 BAD_ARGUMENT = static_cast<i32>(0x80000001u);
constexpr i32 NOT_WRITTEN = static_cast<i32>(0x80000080u);
constexpr i32 READ_FAILED = static_cast<i32>(0x80000000u);
constexpr i32 WRONG_FILE = static_cast<i32>(0x80020000u);
constexpr i32 MALFORMED = static_cast<i32>(0x80010000u);

// Fixes address (none), clock and generator so that the file id is known.
void fixFileId()
{
    FILECACHE::mbdftesthooks::fixFileIdAddress(nullptr);
    FILECACHE::mbdftesthooks::fixFileIdTime(0x11223344);
    FILECACHE::mbdftesthooks::setFileIdGeneratorState(0x50000);
}

std::vector<u8> slice(const std::vector<u8>& bytes, size_t from, size_t length)
{
    return std::vector<u8>(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                           bytes.begin() + static_cast<std::ptrdiff_t>(from + length));
}

std::vector<u8> expectedTop()
{
    return hexBytes("23 4B 4F 52 56 41 4E 20 4D 42 44 46 42 61 63 6B 75 70 00 00 00 00 00 00"
                    "00 00 00 24 00 00 00 00 00 00 00 00"
                    "5A 65 74 68 49 6D 61 67 65 00 00 00 00 00 00 00 00 00 00 00"
                    "00 00 00 00 00 00 44 33 22 11 c3 9e b4 7a 8e 88");
}

std::vector<u8> expectedEnd()
{
    std::vector<u8> end = hexBytes("23 45 4E 44");
    end.resize(36, 0);
    return end;
}

// Two shared databases of "Keep" components: "Profile" at 0 (two components) and "DeviceSetup" at 1 (one).
struct TwoDatabases
{
    IParameterDB& profile;
    IParameterDB& device;
    TwoDatabases() : profile(makeShared(0, "Profile")), device(makeShared(1, "DeviceSetup"))
    {
        registerKeep();
        profile.addComponent(0x11, "Keep", 1, 0, 0, 0);
        profile.addComponent(0x12, "Keep", 1, 0, 0, 0);
        device.addComponent(0x21, "Keep", 1, 0, 0, 0);
        fillKeep(profile, 100);
        fillKeep(device, 500);
    }
    std::vector<BackupFile::Entry> list() { return {{&profile, 1}, {&device, 2}}; }
};

} // namespace

TEST(Backup, EmptyListWritesTopAndEndBlockOnly)
{
    fixFileId();
    ScratchDir dir;
    BackupFile backup;
    ASSERT_EQ(backup.setup("ZethImage", 0, {}, dir.path().c_str()), 0);
    ASSERT_EQ(backup.exportToFile("CurrentBackupFile.bup"), 0);

    const std::vector<u8> bytes = readBytes(dir.file("CurrentBackupFile.bup"));
    ASSERT_EQ(bytes.size(), 108u);
    EXPECT_EQ(slice(bytes, 0, 72), expectedTop());
    EXPECT_EQ(slice(bytes, 72, 36), expectedEnd());

    TwoDatabases dbs;
    const std::vector<u8> before = exportTable(dbs.profile);
    EXPECT_EQ(backup.importFromFile("CurrentBackupFile.bup"), 0);
    EXPECT_EQ(exportTable(dbs.profile), before);
}

TEST(Backup, ProfileWithTheReferenceComponentGivesTheGoldenFile)
{
    fixFileId();
    ScratchDir dir;
    compo_test::registerGain();
    IParameterDB& profile = makeShared(0, "Profile");
    ASSERT_EQ(profile.addComponent(0x101, "Gain", 1, 0, 0, 0), 0);
    compo_test::fillGain(profile, 0);

    BackupFile backup;
    ASSERT_EQ(backup.setup("ZethImage", 0, {{&profile, 0}}, dir.path().c_str()), 0);
    ASSERT_EQ(backup.exportToFile("SystemBackupFile.bup"), 0);
    const std::vector<u8> bytes = readBytes(dir.file("SystemBackupFile.bup"));
    ASSERT_EQ(bytes.size(), 320u);
    EXPECT_EQ(slice(bytes, 0, 72), expectedTop());
    EXPECT_EQ(slice(bytes, 72, 36), hexBytes("23 50 44 42 20 44 42 00 00 00 00 00 50 72 6F 66 69 6C 65 00 00 00 00 00"
                                             "00 00 00 00 00 00 00 B0 00 00 00 00"));
    EXPECT_EQ(slice(bytes, 108, 16), hexBytes("23 43 54 31 00 00 00 00 00 00 00 01 00 00 00 10"));
    const std::vector<u8> component = compo_test::exportComponent(profile.getComponent(0));
    ASSERT_EQ(component.size(), 160u);
    EXPECT_EQ(slice(bytes, 124, 160), component);
    EXPECT_EQ(slice(bytes, 284, 36), expectedEnd());
}

TEST(Backup, ImportRestoresNonvolatileValuesOnly)
{
    ScratchDir dir;
    TwoDatabases dbs;
    BackupFile backup;
    ASSERT_EQ(backup.setup("ZethImage", 3, dbs.list(), dir.path().c_str()), 0);
    ASSERT_EQ(backup.exportToFile("b.bup"), 0);

    fillKeep(dbs.profile, 7000);
    fillKeep(dbs.device, 8000);
    ASSERT_EQ(backup.importFromFile("b.bup"), 0);

    for (IParameterDB* db : {&dbs.profile, &dbs.device}) {
        const u32 seed = db == &dbs.profile ? 100 : 500;
        const u32 changed = db == &dbs.profile ? 7000 : 8000;
        for (u32 index = 0; index < db->getComponentSlotCount(); ++index) {
            for (u32 x = 0; x < 4; ++x) {
                EXPECT_EQ(db->getValueUInt(index, 0, x, 0, nullptr), seed + index * 10 + x) << db->getName();
            }
            for (u32 x = 0; x < 3; ++x) { // not nonvolatile: keeps the changed value
                EXPECT_EQ(db->getValueInt(index, 1, x, 0, nullptr), -static_cast<i32>(changed + index * 10 + x));
            }
            KVariant label;
            ASSERT_EQ(db->getValue(label, index, 2, 1, 0, nullptr), 0);
            EXPECT_EQ(std::string(label.getString()), "s" + std::to_string(seed + 1));
        }
    }
}

TEST(Backup, DatabaseNamesAreMatchedByTheirStoredTwelveBytes)
{
    ScratchDir dir;
    registerKeep();
    IParameterDB& longName = makeShared(2, "VDeviceSetupX1"); // 14 characters
    longName.addComponent(0x31, "Keep", 1, 0, 0, 0);
    fillKeep(longName, 40);

    BackupFile backup;
    testing::internal::CaptureStdout();
    ASSERT_EQ(backup.setup("ZethImage", 0, {{&longName, 0}}, dir.path().c_str()), 0);
    ASSERT_EQ(backup.exportToFile("long.bup"), 0);
    EXPECT_THAT(testing::internal::GetCapturedStdout(), testing::HasSubstr("[W] "));
    fillKeep(longName, 90);
    ASSERT_EQ(backup.importFromFile("long.bup"), 0);
    EXPECT_EQ(longName.getValueUInt(0u, 0u, 3u, 0u, nullptr), 43u);

    // Two names that agree in their first 12 bytes cannot share one file; the old settings stay.
    IParameterDB& twin = makeShared(3, "VDeviceSetupX2");
    EXPECT_EQ(backup.setup("Other", 0, {{&longName, 0}, {&twin, 0}}, dir.path().c_str()), BAD_ARGUMENT);
    EXPECT_EQ(backup.getName(), "ZethImage");
    EXPECT_EQ(backup.getDatabases().size(), 1u);
    EXPECT_EQ(backup.setup("Other", 0, {{&longName, 0}, {nullptr, 0}}, dir.path().c_str()), BAD_ARGUMENT);
    EXPECT_EQ(backup.setup(nullptr, 0, {}, dir.path().c_str()), BAD_ARGUMENT);
}

TEST(Backup, UnlistedAndAbsentDatabasesArePassedOver)
{
    ScratchDir dir;
    TwoDatabases dbs;
    ScriptedDB absent("Status"); // listed, but not in the collection
    absent.m_tableSize = 12;
    BackupFile writer;
    ASSERT_EQ(writer.setup("ZethImage", 0, {{&dbs.profile, 0}, {&dbs.device, 0}, {&absent, 0}}, dir.path().c_str()), 0);
    ASSERT_EQ(writer.exportToFile("all.bup"), 0);
    EXPECT_EQ(absent.m_imports, 0);

    // A reader listing only "Profile" ignores the "DeviceSetup" block and never touches "Status".
    fillKeep(dbs.profile, 900);
    fillKeep(dbs.device, 900);
    const std::vector<u8> deviceBefore = exportTable(dbs.device);
    BackupFile reader;
    ASSERT_EQ(reader.setup("ZethImage", 0, {{&dbs.profile, 0}, {&absent, 0}}, dir.path().c_str()), 0);
    ASSERT_EQ(reader.importFromFile("all.bup"), 0);
    EXPECT_EQ(dbs.profile.getValueUInt(1u, 0u, 2u, 0u, nullptr), 112u);
    EXPECT_EQ(exportTable(dbs.device), deviceBefore);
    EXPECT_EQ(absent.m_imports, 0);
}

TEST(Backup, WrongFilesAreRefused)
{
    ScratchDir dir;
    TwoDatabases dbs;
    BackupFile backup;
    ASSERT_EQ(backup.setup("ZethImage", 0, dbs.list(), dir.path().c_str()), 0);
    ASSERT_EQ(backup.exportToFile("b.bup"), 0);

    BackupFile otherName;
    ASSERT_EQ(otherName.setup("VEXA", 0, dbs.list(), dir.path().c_str()), 0);
    EXPECT_EQ(otherName.importFromFile("b.bup"), WRONG_FILE);

    // Another kind text in the top block.
    std::vector<u8> bytes = readBytes(dir.file("b.bup"));
    std::memcpy(&bytes[12], "Preset", 6);
    writeBytes(dir.file("preset.bup"), bytes);
    EXPECT_EQ(backup.importFromFile("preset.bup"), WRONG_FILE);

    EXPECT_EQ(backup.importFromFile("missing.bup"), READ_FAILED);
    EXPECT_EQ(backup.importFromFile(nullptr), BAD_ARGUMENT);
    testing::internal::CaptureStdout();
    EXPECT_EQ(backup.exportToFile(nullptr), BAD_ARGUMENT);
    EXPECT_THAT(testing::internal::GetCapturedStdout(), testing::HasSubstr("[E] BackupFile::exportToFile 1\n"));
}

TEST(Backup, NameTextLongerThanItsFieldStillReadsBack)
{
    ScratchDir dir;
    TwoDatabases dbs;
    BackupFile backup;
    ASSERT_EQ(backup.setup("ABackupNameOf20Chars", 0, dbs.list(), dir.path().c_str()), 0);
    ASSERT_EQ(backup.exportToFile("n.bup"), 0);
    fillKeep(dbs.profile, 3);
    EXPECT_EQ(backup.importFromFile("n.bup"), 0);
    EXPECT_EQ(dbs.profile.getValueUInt(0u, 0u, 0u, 0u, nullptr), 100u);
}

TEST(Backup, DamagedBlockChangesNoDatabase)
{
    ScratchDir dir;
    TwoDatabases dbs;
    BackupFile backup;
    ASSERT_EQ(backup.setup("ZethImage", 0, dbs.list(), dir.path().c_str()), 0);
    ASSERT_EQ(backup.exportToFile("b.bup"), 0);

    // The second block's first offset points before its offset table.
    std::vector<u8> bytes = readBytes(dir.file("b.bup"));
    const size_t second = 72 + 36 + be32(bytes, 72 + 28);
    ASSERT_EQ(std::memcmp(&bytes[second], "#PDB DB", 7), 0);
    bytes[second + 36 + 15] = 4;
    writeBytes(dir.file("bad.bup"), bytes);

    fillKeep(dbs.profile, 1);
    fillKeep(dbs.device, 2);
    const std::vector<u8> profileBefore = exportTable(dbs.profile);
    const std::vector<u8> deviceBefore = exportTable(dbs.device);
    testing::internal::CaptureStdout();
    EXPECT_EQ(backup.importFromFile("bad.bup"), MALFORMED);
    EXPECT_THAT(testing::internal::GetCapturedStdout(), testing::HasSubstr("DeviceSetup"));
    EXPECT_EQ(exportTable(dbs.profile), profileBefore);
    EXPECT_EQ(exportTable(dbs.device), deviceBefore);
}

TEST(Backup, FailedDatabaseKeepsTheOldFile)
{
    ScratchDir dir;
    TwoDatabases dbs;
    ScriptedDB failing("LocalSetup");
    failing.m_exportResult = static_cast<i32>(0x80000001u);
    BackupFile backup;
    ASSERT_EQ(backup.setup("ZethImage", 0, dbs.list(), dir.path().c_str()), 0);
    ASSERT_EQ(backup.exportToFile("b.bup"), 0);
    const std::vector<u8> old = readBytes(dir.file("b.bup"));

    // The failing database sits between two good ones: both are still attempted, only it is logged.
    fillKeep(dbs.profile, 77);
    ASSERT_EQ(backup.setup("ZethImage", 0, {{&dbs.profile, 0}, {&failing, 0}, {&dbs.device, 0}}, dir.path().c_str()),
              0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(backup.exportToFile("b.bup"), NOT_WRITTEN);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_THAT(log, testing::HasSubstr("[E] BackupFile::exportToFile - cannot add [LocalSetup] block!\n"));
    EXPECT_THAT(log, testing::Not(testing::HasSubstr("[Profile]")));
    EXPECT_THAT(log, testing::Not(testing::HasSubstr("[DeviceSetup]")));
    EXPECT_THAT(log, testing::HasSubstr("[E] BackupFile::exportToFile 2\n"));
    EXPECT_EQ(failing.m_exports, 1);
    EXPECT_EQ(readBytes(dir.file("b.bup")), old);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"b.bup"});
}

namespace {

// Writes succeed until the budget is spent, then fail with ENOSPC.
size_t g_writeBudget = 0;
ssize_t writeUntilBudget(int fd, const void* buffer, size_t size)
{
    if (g_writeBudget == 0) {
        errno = EIO;
        return -1;
    }
    const size_t now = size < g_writeBudget ? size : g_writeBudget;
    g_writeBudget -= now;
    return ::write(fd, buffer, now);
}

} // namespace

TEST(Backup, FailedWriteKeepsTheOldFile)
{
    ScratchDir dir;
    TwoDatabases dbs;
    BackupFile backup;
    ASSERT_EQ(backup.setup("ZethImage", 0, dbs.list(), dir.path().c_str()), 0);
    ASSERT_EQ(backup.exportToFile("b.bup"), 0);
    const std::vector<u8> old = readBytes(dir.file("b.bup"));
    fillKeep(dbs.profile, 31);

    for (size_t budget : {size_t{0}, size_t{50}, size_t{200}, old.size() - 10}) {
        g_writeBudget = budget;
        fsw_setSystemCalls(nullptr, &writeUntilBudget, nullptr);
        testing::internal::CaptureStdout();
        const i32 result = backup.exportToFile("b.bup");
        fsw_setSystemCalls(nullptr, nullptr, nullptr);
        EXPECT_THAT(testing::internal::GetCapturedStdout(), testing::HasSubstr("[E] BackupFile::exportToFile 2\n"));
        EXPECT_EQ(result, NOT_WRITTEN) << budget;
        EXPECT_EQ(readBytes(dir.file("b.bup")), old) << budget;
        EXPECT_EQ(dir.list(), std::vector<std::string>{"b.bup"}) << budget;
    }
    EXPECT_EQ(backup.exportToFile("b.bup"), 0);
    EXPECT_NE(readBytes(dir.file("b.bup")), old);
}

TEST(Backup, SetupCreatesTheBaseDirectory)
{
    ScratchDir dir;
    TwoDatabases dbs;
    const std::string base = dir.path() + "/memory/backup";
    BackupFile backup;
    ASSERT_EQ(backup.setup("ZethImage", 0, dbs.list(), base.c_str()), 0);
    ASSERT_EQ(backup.exportToFile("b.bup"), 0);
    EXPECT_EQ(ScratchDir::listFolder(base), std::vector<std::string>{"b.bup"});
    EXPECT_EQ(backup.makeFilePath("b.bup"), base + "/b.bup");

    BackupFile relative;
    ASSERT_EQ(relative.setup("ZethImage", 0, {}, nullptr), 0);
    EXPECT_EQ(relative.makeFilePath("b.bup"), "b.bup");
}
