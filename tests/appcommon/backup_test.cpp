// Memory backup holder: restore with its fall-back, rotation into ".old", the timer interval on the test clock,
// and write failures that must leave both generations as they were.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "appcommon_TestSupport.h"
#include "fsw_SystemCalls.h"
#include "fsw_TestSupport.h"
#include "fsw_api.h"
#include "os_TestHooks.h"
#include "pyrite_Result.h"
#include "pyrite_VEXABackupFunc.h"

namespace {

using PYRITE::PYRITE_E_FAILED;
using PYRITE::PYRITE_OK;

constexpr const char* FILE_NAME = "CurrentBackupFile.bup";
constexpr const char* OLD_NAME = "CurrentBackupFile.bup.old";
constexpr u32 INTERVAL = 10000;

ssize_t failingWrite(int, const void*, size_t)
{
    errno = EIO;
    return -1;
}

class BackupHolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        appcommontest::registerUIntType("Memory", {"/Value"}, 2);
        ASSERT_EQ(m_database.addComponent(0, "Memory", 1, 0, 0, 0), 0);
        appcommontest::setClock(50000);
        ASSERT_EQ(m_holder.setup(m_folder.c_str(), FILE_NAME, "ZethImage", 0, {&m_database}, INTERVAL), PYRITE_OK);
    }
    void TearDown() override
    {
        fsw_setSystemCalls(nullptr, nullptr, nullptr);
        ossupport::testhooks::setMillisecondsOffset(0);
    }

    void setValue(u32 value) { ASSERT_EQ(m_database.setValueUInt(0u, 0u, 1u, 0u, value, 0), 0); }
    u32 value() const { return m_database.getValueUInt(0u, 0u, 1u, 0u, nullptr); }
    std::string current() const { return m_folder + "/" + FILE_NAME; }
    std::string old() const { return m_folder + "/" + OLD_NAME; }
    std::vector<std::string> names() const { return fswtest::listNames(m_folder); }
    static std::string bytes(const std::string& path) { return fswtest::readFile(path).value_or("<missing>"); }
    // The value a backup file holds, read back into the database (which keeps it).
    u32 valueIn(const char* name)
    {
        setValue(0);
        EXPECT_EQ(m_holder.importFromFile(name), 0) << name;
        return value();
    }

    fswtest::TempDir m_base;
    std::string m_folder = m_base.path() + "/storage/Current";
    appcommontest::SharedDatabase m_profile{0, "Profile"};
    PDB::IParameterDB& m_database = m_profile.get();
    PYRITE::VEXABackupFunc m_holder;
};

TEST_F(BackupHolder, RestoreFallsBackToTheOldGenerationAndRewritesBoth)
{
    // First start: no file at all.
    setValue(5);
    testing::internal::CaptureStdout();
    EXPECT_EQ(m_holder.restore(), PYRITE_OK);
    EXPECT_NE(
        testing::internal::GetCapturedStdout().find(
            "[E] VEXABackupFunc::restore - Cannot restore memories from backup file[CurrentBackupFile.bup.old].\n"),
        std::string::npos);
    EXPECT_EQ(names(), (std::vector<std::string>{FILE_NAME, OLD_NAME}));
    EXPECT_EQ(valueIn(FILE_NAME), 5u);
    EXPECT_EQ(valueIn(OLD_NAME), 5u);

    // A good current file: restored from it, written once more.
    setValue(9);
    testing::internal::CaptureStdout();
    EXPECT_EQ(m_holder.restore(), PYRITE_OK);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[i] VEXABackupFunc::restore - Memories were restored from backup file[CurrentBackupFile.bup].\n"
              "[i] VEXABackupFunc::backup - memory backuped. [CurrentBackupFile.bup]\n");
    EXPECT_EQ(value(), 5u);

    // A corrupt current file beside a good ".old".
    ASSERT_TRUE(fswtest::writeFile(current(), "#KORVAN MBDF damaged"));
    const std::string goodOld = bytes(old());
    setValue(9);
    testing::internal::CaptureStdout();
    EXPECT_EQ(m_holder.restore(), PYRITE_OK);
    EXPECT_NE(testing::internal::GetCapturedStdout().find(
                  "[i] VEXABackupFunc::restore - Backup file was corruped when previous power-off. Memories were "
                  "restored from old backup file[CurrentBackupFile.bup.old].\n"),
              std::string::npos);
    EXPECT_EQ(value(), 5u);
    EXPECT_NE(bytes(old()), goodOld) << "rewritten (each file has its own id)";
    EXPECT_EQ(valueIn(FILE_NAME), 5u);
    EXPECT_EQ(valueIn(OLD_NAME), 5u);
    EXPECT_FALSE(m_holder.isBackupRequested());
}

TEST_F(BackupHolder, TimerWritesAChangeOnceTheIntervalHasPassed)
{
    // The clock just before its wrap runs the same way.
    for (const u32 start : {100000u, 0xFFFFFFFFu - 6000u}) {
        appcommontest::setClock(start);
        ASSERT_EQ(m_holder.backup(), PYRITE_OK);
        const u32 at = m_holder.getLastTime(); // the ticks count from the end of that backup
        const std::string written = bytes(current());
        EXPECT_EQ(m_holder.backupOnTimer(), PYRITE_OK) << "nothing requested";

        appcommontest::setClock(at + 3000);
        setValue(start % 1000 + 1);
        m_holder.requestBackup();
        for (u32 tick = 4; tick < 10; ++tick) {
            appcommontest::setClock(at + tick * 1000);
            EXPECT_EQ(m_holder.backupOnTimer(), 1u) << start << " tick " << tick;
        }
        EXPECT_EQ(bytes(current()), written);
        appcommontest::setClock(at + 10000);
        EXPECT_EQ(m_holder.backupOnTimer(), PYRITE_OK);
        EXPECT_EQ(bytes(old()), written);
        EXPECT_EQ(valueIn(FILE_NAME), start % 1000 + 1);

        // No change: nothing is written however long it waits.
        const std::string again = bytes(current());
        appcommontest::setClock(at + 60000);
        EXPECT_EQ(m_holder.backupOnTimer(), PYRITE_OK);
        EXPECT_EQ(bytes(current()), again);
    }
}

TEST_F(BackupHolder, FailedWritesKeepBothGenerationsAndTheRequest)
{
    setValue(1);
    ASSERT_EQ(m_holder.backup(), PYRITE_OK);
    setValue(2);
    ASSERT_EQ(m_holder.backup(), PYRITE_OK);
    const std::string currentBytes = bytes(current());
    const std::string oldBytes = bytes(old());

    setValue(3);
    m_holder.requestBackup();
    fsw_setSystemCalls(nullptr, failingWrite, nullptr);
    for (int attempt = 0; attempt < 2; ++attempt) {
        appcommontest::setClock(50000 + INTERVAL * static_cast<u32>(attempt + 2));
        testing::internal::CaptureStdout();
        EXPECT_EQ(attempt == 0 ? m_holder.backup() : m_holder.backupOnTimer(), PYRITE_E_FAILED);
        EXPECT_NE(testing::internal::GetCapturedStdout().find(
                      "[E] VEXABackupFunc::backup - Cannot backup memories[CurrentBackupFile.bup]!\n"),
                  std::string::npos);
        EXPECT_TRUE(m_holder.isBackupRequested());
        EXPECT_EQ(bytes(current()), currentBytes);
        EXPECT_EQ(bytes(old()), oldBytes);
        EXPECT_EQ(names(), (std::vector<std::string>{FILE_NAME, OLD_NAME})) << "no temporary file is left";
    }

    fsw_setSystemCalls(nullptr, nullptr, nullptr);
    EXPECT_EQ(m_holder.backupOnTimer(), PYRITE_OK);
    EXPECT_FALSE(m_holder.isBackupRequested());
    EXPECT_EQ(bytes(old()), currentBytes);
    EXPECT_EQ(names(), (std::vector<std::string>{FILE_NAME, OLD_NAME}));
    EXPECT_EQ(valueIn(FILE_NAME), 3u);
}

TEST_F(BackupHolder, FolderMadeAgainAndRefusedSetUps)
{
    ASSERT_EQ(fsw_removeTree((m_base.path() + "/storage").c_str()), FSW_OK);
    setValue(4);
    EXPECT_EQ(m_holder.finalBackup(), PYRITE_OK);
    EXPECT_EQ(names(), (std::vector<std::string>{FILE_NAME, OLD_NAME}));
    EXPECT_EQ(valueIn(OLD_NAME), 4u);

    PYRITE::VEXABackupFunc other;
    EXPECT_EQ(other.setup(m_folder.c_str(), nullptr, "ZethImage", 0, {&m_database}, INTERVAL), PYRITE_E_FAILED);
    EXPECT_EQ(other.setup(m_folder.c_str(), FILE_NAME, nullptr, 0, {&m_database}, INTERVAL), PYRITE_E_FAILED);
    EXPECT_EQ(other.setup(m_folder.c_str(), "../escape.bup", "ZethImage", 0, {&m_database}, INTERVAL), PYRITE_E_FAILED);
    ASSERT_EQ(other.setup(m_folder.c_str(), "", "ZethImage", 0, {&m_database}, INTERVAL), PYRITE_OK);
    EXPECT_EQ(other.finalBackup(), PYRITE_E_FAILED);
    EXPECT_EQ(other.backup(), PYRITE_E_FAILED);
    EXPECT_EQ(other.restore(), PYRITE_E_FAILED);
}

} // namespace
