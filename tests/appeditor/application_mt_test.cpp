// The application start in child processes that re-execute this binary: a restart request removes the storage
// and runs the batch file; a uid that is no plain folder name leaves the storage where the settings put it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "fsw_TestSupport.h"
#include "lpc_ThreadCommon.h"
#include "pyrite_ApplicationMain.h"
#include "pyrite_ProductInfo.h"
#include "pyrite_SystemRequest.h"
#include "tms_TestSupport.h"
#include "tms_ThreadRepository.h"

namespace {

// Waits until "System" runs, then asks for the end.
void requestOnceRunning(u32 (*request)())
{
    tmstest::waitUntil(
        [] {
            return TMS::ThreadRepository::isInitialized() &&
                   TMS::ThreadRepository::getThread("System")->getStatus() == TMS::STATUS_RUN;
        },
        30000);
    request();
}

int runApplication(const std::vector<std::string>& arguments)
{
    std::vector<std::string> texts = arguments;
    std::vector<char*> argv;
    for (std::string& text : texts) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);
    return applicationMain(static_cast<int>(texts.size()), argv.data(), 0);
}

class ApplicationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        // The child runs this again: it takes over the parent's folder through the environment.
        if (const char* inherited = std::getenv("VD_APPLICATION_TEST_DIR")) {
            m_dir = inherited;
            return;
        }
        m_dir = (std::filesystem::temp_directory_path() / "apptest-XXXXXX").string();
        ASSERT_NE(::mkdtemp(m_dir.data()), nullptr);
        ::setenv("VD_APPLICATION_TEST_DIR", m_dir.c_str(), 1);
        m_owner = true;
        for (const char* folder : {"/program", "/work", "/work/uid", "/work/uid/Current"}) {
            ASSERT_EQ(::mkdir((m_dir + folder).c_str(), 0755), 0);
        }
        ASSERT_TRUE(fswtest::writeFile(m_dir + "/work/uid/Current/CurrentBackupFile.bup", "b"));
        ASSERT_TRUE(fswtest::writeFile(m_dir + "/program/restart.bat", "echo \"$1\" > \"$(dirname \"$0\")/marker\"\n"));
        ASSERT_TRUE(fswtest::writeFile(m_dir + "/program/SystemSetting.ini",
                                       "[Setting]\nUserDataPath=" + m_dir + "/settings/\n"));
    }
    void TearDown() override
    {
        if (m_owner) {
            ::unsetenv("VD_APPLICATION_TEST_DIR");
            std::filesystem::remove_all(m_dir);
        }
    }

    std::string program() const { return m_dir + "/program/virtualVEXA-D"; }

    std::string m_dir;
    bool m_owner = false;
};

TEST_F(ApplicationTest, RestartRequestRemovesTheStorageAndRunsTheBatchFile)
{
    EXPECT_EXIT(
        {
            std::thread requester(requestOnceRunning, &LPC::requestRestartWithInitialize);
            const int result = runApplication({program(), "work=" + m_dir + "/work", "uid=uid"});
            requester.join();
            std::exit(result);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(fswtest::exists(m_dir + "/work/uid"));
    EXPECT_TRUE(fswtest::exists(m_dir + "/work"));
    EXPECT_TRUE(
        tmstest::waitUntil([&] { return fswtest::readFile(m_dir + "/program/marker") == program() + "\n"; }, 5000));
}

TEST_F(ApplicationTest, UidThatIsNoPlainFolderNameKeepsTheSettingsPaths)
{
    EXPECT_EXIT(
        {
            ::dup2(STDERR_FILENO, STDOUT_FILENO);
            std::thread requester(requestOnceRunning, &PYRITE::requestSystemClose);
            const int result = runApplication({program(), "work=" + m_dir + "/work", "uid=.."});
            requester.join();
            std::string base;
            PyriteProductInfo::getInstance().getPath(base, 0, 0);
            std::fflush(stdout);
            std::exit(result == 0 && base == m_dir + "/settings" ? 0 : 3);
        },
        ::testing::ExitedWithCode(0),
        "\\[E\\] applicationMain - uid \"\\.\\.\" is not a plain folder name: the storage paths of the settings "
        "stay\\.\n");
    EXPECT_TRUE(fswtest::exists(m_dir + "/work/uid/Current/CurrentBackupFile.bup"));
}

} // namespace
