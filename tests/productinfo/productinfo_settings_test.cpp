// Settings, paths, tables and storage removal of the product information.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "fsw_TestSupport.h"
#include "os_Tasks.h"
#include "pyrite_ProductInfo.h"
#include "tms_SystemThread.h"
#include "tms_ThreadRepository.h"

namespace {

using Settings = PyriteProductInfo::Settings;

class ProductInfoTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(ossupport::initialize(), 0u); }
    void TearDown() override
    {
        PyriteProductInfo::getInstance().finalize(0);
        ossupport::shutdown();
    }

    // Loads an ini text from a fresh folder.
    u32 loadText(const std::string& text)
    {
        const std::string folder = m_dir / ("case" + std::to_string(m_cases++));
        EXPECT_EQ(::mkdir(folder.c_str(), 0755), 0);
        EXPECT_TRUE(fswtest::writeFile(folder + "/SystemSetting.ini", text));
        return PyriteProductInfo::getInstance().load(folder.c_str());
    }

    fswtest::TempDir m_dir;
    int m_cases = 0;
};

size_t countOf(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST_F(ProductInfoTest, SettingsReadFromTheFile)
{
    const struct
    {
        const char* ini;
        std::function<u32(const Settings&)> field;
        u32 expected;
    } cases[] = {
        {"[ProductInfo]\nApplicationType=editor\n", [](const Settings& s) { return s.m_applicationType; }, 3},
        {"[ProductInfo]\nApplicationType=Fader_IQC\n", [](const Settings& s) { return s.m_applicationType; }, 2},
        {"[ProductInfo]\nApplicationType=EDITORS\n", [](const Settings& s) { return s.m_applicationType; }, 0},
        {"[Setting]\nApplicationType=EDITOR\n", [](const Settings& s) { return s.m_applicationType; }, 0},
        {"[Setting]\nUseHUI=on\n", [](const Settings& s) { return s.m_huiMode; }, 2},
        {"[ProductInfo]\nApplicationType=FIRMWARE\n[Setting]\nUseHUI=on\n",
         [](const Settings& s) { return s.m_huiMode; }, 1},
        {"[Setting]\nUseHUI=yes\n", [](const Settings& s) { return s.m_huiMode; }, 0},
        {"[Setting]\nDebugOutputLevel=3\n", [](const Settings& s) { return s.m_debugOutputLevel; }, 2},
        {"[Setting]\nDebugOutputLevel=off\n", [](const Settings& s) { return s.m_debugOutputLevel; }, 0},
        {"[Setting]\nDebugOutputLevel=ErrorOnly\n", [](const Settings& s) { return s.m_debugOutputLevel; }, 1},
        {"[Setting]\nDebugOutputLevel=On\n", [](const Settings& s) { return s.m_debugOutputLevel; }, 1},
        {"[Setting]\nHUIPort=x\n", [](const Settings& s) { return s.m_huiPort; }, 0},
        {"[Setting]\nHUIPort=17\n", [](const Settings& s) { return s.m_huiPort; }, 17},
        {"[Setting]\nHUIBaudRate=x\n", [](const Settings& s) { return s.m_huiBaudRate; }, 115200},
        {"[Setting]\nDIOPort=12x\n", [](const Settings& s) { return s.m_dioPort; }, 0},
        {"[Setting]\nExtCtrlBaudRate=4294967296\n", [](const Settings& s) { return s.m_extCtrlBaudRate; }, 115200},
        {"[Setting]\nExtCtrlBaudRate=4294967295\n", [](const Settings& s) { return s.m_extCtrlBaudRate; }, 4294967295u},
        {"[Setting]\nUseCpuLoad=true\n", [](const Settings& s) { return u32{s.m_useCpuLoad}; }, 1},
        {"[Setting]\nUseDebugConsole=1\n", [](const Settings& s) { return u32{s.m_useDebugConsole}; }, 1},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(loadText(c.ini), 0u) << c.ini;
        EXPECT_EQ(c.field(PyriteProductInfo::getInstance().getSettings()), c.expected) << c.ini;
    }
}

TEST_F(ProductInfoTest, PathColumnsAndTheirRebuilds)
{
    PyriteProductInfo& info = PyriteProductInfo::getInstance();
    ASSERT_EQ(loadText("[Setting]\nUserDataPath=/tmp/u/\nSystemDataPath=/sys\nStoragePath=/s/\n"), 0u);
    const char* suffixes[] = {"",          "/Config", "/Current", "/CurrentList", "/CurrentUnloadable", "/ParameterSet",
                              "/Snapshot", "/VWP",    "/System",  "/Editor"};
    auto expectColumns = [&](const std::string& storage, const std::string& system) {
        for (int i = 0; i < 10; ++i) {
            std::string path;
            info.getPath(path, i, 0);
            EXPECT_EQ(path, storage + suffixes[i]);
            info.getPath(path, i, 1);
            EXPECT_EQ(path, system + "/FactoryPreset" + suffixes[i]);
        }
        std::string path;
        info.getDescriptorPath(path);
        EXPECT_EQ(path, system + "/Descriptor");
        info.getComponentPath(path);
        EXPECT_EQ(path, system + "/Component");
        EXPECT_EQ(info.getSettings().m_helpPath, system + "/Help");
    };
    expectColumns("/tmp/u", "/sys");
    EXPECT_EQ(info.getSettings().m_storagePath, "/s");

    for (auto [index, column] : {std::pair{10, 0}, std::pair{-1, 0}, std::pair{0, 2}}) {
        std::string path = "x";
        info.getPath(path, index, column);
        EXPECT_EQ(path, "");
    }

    EXPECT_EQ(info.setSystemDataPath("/prog"), 0u);
    expectColumns("/tmp/u", "/prog");
    EXPECT_EQ(info.setStoragePath("/w/uid"), 0u);
    expectColumns("/w/uid", "/prog");
}

TEST_F(ProductInfoTest, UnreadableAndMissingFilesGiveTheDefaults)
{
    PyriteProductInfo& info = PyriteProductInfo::getInstance();
    auto expectDefaults = [&] {
        const Settings s = info.getSettings();
        EXPECT_EQ(s.m_descriptorPath, "./Descriptor");
        EXPECT_EQ(s.m_firmwarePath, "./Firmware");
        EXPECT_EQ(s.m_etherPort, "eth0");
        EXPECT_EQ(s.m_dioPort, 1u);
        EXPECT_EQ(s.m_huiBaudRate, 115200u);
        EXPECT_EQ(s.m_debugOutputLevel, 2u);
        std::string base;
        info.getPath(base, 0, 0);
        EXPECT_EQ(base, "./userdata");
    };
    const std::string line = "[E] PyriteProductInfo::load() - Cannot load \"SystemSetting.ini\".\n";

    // Settings of an earlier load must not survive a failed one.
    ASSERT_EQ(loadText("[Setting]\nUserDataPath=/elsewhere\nDIOPort=9\n"), 0u);
    const std::string unreadable = m_dir / "unreadable";
    ASSERT_EQ(::mkdir(unreadable.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((unreadable + "/SystemSetting.ini").c_str(), 0755), 0);
    testing::internal::CaptureStdout();
    const u32 initialized = info.initialize(unreadable.c_str());
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(initialized, 0u);
    EXPECT_EQ(countOf(output, line), 1u) << output;
    expectDefaults();
    EXPECT_EQ(info.load(unreadable.c_str()), 0x80000000u);
    EXPECT_EQ(info.initialize(unreadable.c_str()), 0x80000000u);

    const std::string missing = m_dir / "missing/below";
    testing::internal::CaptureStdout();
    EXPECT_EQ(info.load(missing.c_str()), 0u);
    EXPECT_EQ(countOf(testing::internal::GetCapturedStdout(), line), 0u);
    EXPECT_TRUE(fswtest::exists(missing + "/SystemSetting.ini"));
    expectDefaults();
}

TEST_F(ProductInfoTest, VersionsAndNamesAfterLoading)
{
    PyriteProductInfo& info = PyriteProductInfo::getInstance();
    ASSERT_EQ(loadText(""), 0u);
    std::string text;
    EXPECT_STREQ(info.getProductName(0), "ZethImage");
    EXPECT_STREQ(info.getProductName(1), "ZethImage");
    EXPECT_STREQ(info.getProductName(2), "---");
    info.getKernelRevision(text);
    EXPECT_EQ(text, "02");
    const struct
    {
        u32 kind;
        u32 result;
        const char* text;
    } cases[] = {{0, 0, "R0.00"},
                 {1, 0, "V0.00"},
                 {2, 0, "V0.00"},
                 {7, 0, "R0.00"},
                 {21, 0, "R0.00"},
                 {8, 0x80000000, "------"},
                 {19, 0x80000000, "------"},
                 {23, 0x80000000, "ERROR!"}};
    for (const auto& c : cases) {
        EXPECT_EQ(info.getVersionString(c.kind, text), c.result) << c.kind;
        EXPECT_EQ(text, c.text) << c.kind;
    }
}

TEST_F(ProductInfoTest, InstanceTableAndSystemInformation)
{
    PyriteProductInfo& info = PyriteProductInfo::getInstance();
    EXPECT_EQ(info.getPdbInstanceCount(), 11u);
    const PdbInstanceTable* row = info.getPdbInstance(10);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->m_id, 10u);
    EXPECT_STREQ(row->m_name, "Component");
    EXPECT_STREQ(row->m_tag, "CMP");
    EXPECT_EQ(row->m_syncKind, 2u);
    EXPECT_STREQ(info.getPdbInstance(5)->m_tag, "CMS");
    EXPECT_EQ(info.getPdbInstance(11), nullptr);

    EXPECT_EQ(registerSystemInfoItems(nullptr), 0x80000000u);
    ASSERT_EQ(TMS::ThreadRepository::initialize(), 0u);
    TMS::SystemThread system(1);
    ASSERT_EQ(system.initialize("System", 0, 0, 20000, 20000, 100, 100, TMS::AbstractMessage::emptyFields()), 0u);
    ASSERT_EQ(registerSystemInfoItems(&system), 0u);
    for (const TMS::SystemInfoDefinition& item : TMS::SYSTEM_INFO_DEFINITIONS) {
        KVariant value;
        ASSERT_EQ(system.getSystemInfo(value, item.m_name, 0), 0u) << item.m_name;
        EXPECT_EQ(value.getKind(), KVariant::KIND_UINT32) << item.m_name;
        EXPECT_EQ(value.getUInt(), std::stoul(item.m_default)) << item.m_name;
    }
    KVariant fs;
    system.getSystemInfo(fs, "CurrentFs", 0);
    EXPECT_EQ(fs.getUInt(), 96000u);
    system.release();
    TMS::ThreadRepository::finalize();
}

TEST_F(ProductInfoTest, FinalizeRemovesTheStorageBaseWithoutFollowingLinks)
{
    PyriteProductInfo& info = PyriteProductInfo::getInstance();
    const std::string base = m_dir / "work/uid";
    const std::string outside = m_dir / "outside";
    for (const std::string& folder :
         {m_dir / "work", base, base + "/Current", base + "/Current/deep", outside, base + "/locked"}) {
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0) << folder;
    }
    ASSERT_TRUE(fswtest::writeFile(base + "/Current/deep/a.bup", "a"));
    ASSERT_TRUE(fswtest::writeFile(base + "/readonly.bup", "r"));
    ASSERT_TRUE(fswtest::writeFile(base + "/locked/inner", "i"));
    ASSERT_TRUE(fswtest::writeFile(outside + "/keep", "k"));
    ASSERT_EQ(::chmod((base + "/readonly.bup").c_str(), 0444), 0);
    ASSERT_EQ(::chmod((base + "/locked/inner").c_str(), 0444), 0);
    ASSERT_EQ(::chmod((base + "/locked").c_str(), 0555), 0);
    ASSERT_EQ(::symlink(outside.c_str(), (base + "/Current/link").c_str()), 0);

    ASSERT_EQ(info.initialize(m_dir.path().c_str()), 0u);
    info.setStoragePath(base);
    EXPECT_EQ(info.finalize(0), 0u);
    EXPECT_TRUE(fswtest::exists(base + "/readonly.bup"));
    EXPECT_EQ(info.finalize(1), 0u);
    EXPECT_FALSE(fswtest::exists(base));
    EXPECT_TRUE(fswtest::exists(m_dir / "work"));
    EXPECT_EQ(fswtest::readFile(outside + "/keep"), "k");
}

// Runs in a child confined to a scratch root (when the system lets it), so a regression cannot reach real files.
TEST_F(ProductInfoTest, FinalizeRefusesBasesThatReachTheRootOrTheWorkingDirectory)
{
    const std::string root = m_dir / "root";
    const std::string output = m_dir / "output";
    ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
    ASSERT_TRUE(fswtest::writeFile(root + "/sentinel", "s"));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::FILE* out = std::freopen(output.c_str(), "w", stdout);
        bool confined = ::chdir(root.c_str()) == 0 && ::chroot(".") == 0;
        if (!confined && ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0) {
            confined = ::chroot(".") == 0;
        }
        if (out == nullptr || ::chdir(confined ? "/" : root.c_str()) != 0) {
            _exit(2);
        }
        PyriteProductInfo& info = PyriteProductInfo::getInstance();
        int refused = 0;
        for (const char* base : {"", ".", "./", "..", "sub/..", "../..", "/", "//.", "/x/../.."}) {
            if (base[0] == '/' && !confined) {
                continue;
            }
            info.setStoragePath(base);
            refused += info.finalize(1) == 0x80000000u ? 1 : 0;
        }
        std::fflush(stdout);
        _exit(refused == (confined ? 9 : 6) && ::access("sentinel", F_OK) == 0 ? (confined ? 0 : 1) : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    const int code = WEXITSTATUS(status);
    ASSERT_TRUE(code == 0 || code == 1) << code;
    EXPECT_EQ(fswtest::readFile(root + "/sentinel"), "s");
    const std::string log = fswtest::readFile(output).value_or("");
    EXPECT_EQ(countOf(log, "[E] PyriteProductInfo::finalize() - Refused to remove the storage base \""),
              code == 0 ? 9u : 6u)
        << log;
    EXPECT_EQ(countOf(log, "\"/\".\n"), code == 0 ? 1u : 0u) << log;
    if (code == 1) {
        GTEST_SKIP() << "no confinement available: the root cases were left out";
    }
}

} // namespace
