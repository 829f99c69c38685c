// Project loads and the disk: the staged files and staging folders are synced before the swap, and a failing
// sync changes nothing.
#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>

#include "fcache_MBDFTestHooks.h"
#include "fsw_SystemCalls.h"
#include "os_TestHooks.h"
#include "project_TestUtil.h"

namespace {

using namespace project_test;

// Records the path of every fsync; a call whose path matches failWhen fails with EIO instead.
struct SyncRecorder
{
    static inline std::vector<std::string> paths;
    static inline std::function<bool(const std::string&)> failWhen;

    static int sync(int fd)
    {
        char link[64];
        std::snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
        char target[PATH_MAX] = {};
        const ssize_t n = ::readlink(link, target, sizeof(target) - 1);
        const std::string path(target, n > 0 ? static_cast<size_t>(n) : 0);
        paths.push_back(path);
        if (failWhen && failWhen(path)) {
            errno = EIO;
            return -1;
        }
        return ::fsync(fd);
    }
    SyncRecorder()
    {
        paths.clear();
        failWhen = nullptr;
        fsw_setSystemCalls(nullptr, nullptr, &SyncRecorder::sync);
    }
    ~SyncRecorder()
    {
        fsw_setSystemCalls(nullptr, nullptr, nullptr);
        failWhen = nullptr;
    }
};

// Fails the call numbered failAt (from 0) of every call through the file API's seam with EIO, and counts them.
struct FaultSeam
{
    static inline std::atomic<long> calls{0};
    static inline std::atomic<long> failAt{-1};

    static bool failsNow() { return calls.fetch_add(1) == failAt.load(); }
    static int fail()
    {
        errno = EIO;
        return -1;
    }
    static const FswSystemCalls& real() { return fsw_realSystemCalls(); }
    static ssize_t read(int fd, void* buffer, size_t size)
    {
        return failsNow() ? fail() : real().read(fd, buffer, size);
    }
    static ssize_t write(int fd, const void* buffer, size_t size)
    {
        return failsNow() ? fail() : real().write(fd, buffer, size);
    }
    static int fsync(int fd) { return failsNow() ? fail() : real().fsync(fd); }
    static int open(int dir, const char* path, int flags, mode_t mode)
    {
        return failsNow() ? fail() : real().open(dir, path, flags, mode);
    }
    static int close(int fd)
    {
        const bool failing = failsNow();
        const int rc = real().close(fd); // the descriptor is gone either way
        return failing ? fail() : rc;
    }
    static int rename(int fromDir, const char* from, int toDir, const char* to, unsigned flags)
    {
        return failsNow() ? fail() : real().rename(fromDir, from, toDir, to, flags);
    }
    static int mkdir(int dir, const char* path, mode_t mode)
    {
        return failsNow() ? fail() : real().mkdir(dir, path, mode);
    }
    static int unlink(int dir, const char* path, int flags)
    {
        return failsNow() ? fail() : real().unlink(dir, path, flags);
    }
    static int chmod(int dir, const char* path, mode_t mode, int flags)
    {
        return failsNow() ? fail() : real().chmod(dir, path, mode, flags);
    }
    static int fchmod(int fd, mode_t mode) { return failsNow() ? fail() : real().fchmod(fd, mode); }

    explicit FaultSeam(long at)
    {
        calls = 0;
        failAt = at;
        const FswSystemCalls table{&read, &write, &fsync, &open, &close, &rename, &mkdir, &unlink, &chmod, &fchmod};
        fsw_setSystemCallTable(&table);
    }
    ~FaultSeam() { fsw_setSystemCallTable(nullptr); }
};

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class ProjectSyncTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_scratch.path().empty());
        setupProjectInfo();
        char real[PATH_MAX];
        ASSERT_NE(::realpath(m_scratch.path().c_str(), real), nullptr);
        m_root = real; // what /proc reports
        m_current = m_root + "/Current";
        m_list = m_root + "/CurrentList";
        makeDir(m_current);
        makeDir(m_list);
        writeBytes(m_current + "/a.bin", randomBytes(70000, 3));
        writeText(m_current + "/b.txt", std::string(100000, 'b'));
        writeText(m_current + "/empty", "");
        writeText(m_list + "/x", "list");
        ASSERT_EQ(m_project.initialize("HUX-NQ", 3, 0, {{"Current", m_current}, {"CurrentList", m_list}}, nullptr, 0),
                  0);
        m_path = m_root + "/p.zethiprj";
        ASSERT_EQ(m_project.save(m_path.c_str(), "saved", "me", nullptr, nullptr), 0);
        // The folders move on from the saved state.
        writeText(m_current + "/b.txt", "changed");
        writeText(m_current + "/new", "new");
        ::unlink((m_list + "/x").c_str());
    }

    ScratchDir m_scratch;
    std::string m_root;
    std::string m_current;
    std::string m_list;
    std::string m_path;
    ProjectFile m_project;
};

TEST_F(ProjectSyncTest, EveryStagedFileAndStagingFolderIsSyncedBeforeTheSwap)
{
    SyncRecorder recorder;
    ASSERT_EQ(m_project.load(m_path.c_str(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(readBytes(m_current + "/a.bin"), randomBytes(70000, 3));
    EXPECT_FALSE(exists(m_current + "/new"));

    // Each staged file once, while it is still in its staging folder, then each staging folder, then their
    // parent after the swap.
    std::vector<std::string> files;
    std::vector<std::string> folders;
    size_t lastStaged = 0;
    size_t parentAt = SIZE_MAX;
    for (size_t i = 0; i < SyncRecorder::paths.size(); ++i) {
        const std::string& path = SyncRecorder::paths[i];
        const size_t slash = path.rfind('/');
        const std::string folder = path.substr(0, slash);
        if (contains(folder, "/.Current.prjnew-") || contains(folder, "/.CurrentList.prjnew-")) {
            files.push_back(path.substr(slash + 1));
            lastStaged = i;
        } else if (folder == m_root && contains(path, ".prjnew-")) {
            folders.push_back(path.substr(slash + 1, path.find(".prjnew-") - slash - 1));
            lastStaged = i;
        } else if (path == m_root) {
            parentAt = i;
        }
    }
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    EXPECT_EQ(files, (std::vector<std::string>{"a.bin", "b.txt", "empty", "x"}));
    EXPECT_EQ(folders, (std::vector<std::string>{".Current", ".CurrentList"}));
    EXPECT_NE(parentAt, SIZE_MAX);
    EXPECT_GT(parentAt, lastStaged);
    EXPECT_EQ(listNames(m_root), (std::vector<std::string>{"Current", "CurrentList", "p.zethiprj"}));
}

// An item folder made below a parent that is named through a symbolic link: that parent is synced after the swap.
TEST_F(ProjectSyncTest, AParentNamedThroughALinkIsSyncedToo)
{
    makeDir(m_root + "/real");
    ASSERT_EQ(::symlink((m_root + "/real").c_str(), (m_root + "/via").c_str()), 0);
    ProjectFile project;
    ASSERT_EQ(project.initialize("HUX-NQ", 3, 0, {{"Current", m_root + "/via/Current"}}, nullptr, 0), 0);
    SyncRecorder recorder;
    ASSERT_EQ(project.load(m_path.c_str(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(readBytes(m_root + "/real/Current/a.bin"), randomBytes(70000, 3));
    ASSERT_FALSE(SyncRecorder::paths.empty());
    EXPECT_EQ(SyncRecorder::paths.back(), m_root + "/real");
}

// Folders made for a missing item folder are synced into their parents as well.
TEST_F(ProjectSyncTest, FoldersMadeForAMissingItemAreSyncedIntoTheirParents)
{
    ProjectFile project;
    ASSERT_EQ(project.initialize("HUX-NQ", 3, 0, {{"Current", m_root + "/new/deeper/Current"}}, nullptr, 0), 0);
    SyncRecorder recorder;
    ASSERT_EQ(project.load(m_path.c_str(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(readBytes(m_root + "/new/deeper/Current/a.bin"), randomBytes(70000, 3));
    for (const std::string& folder : {m_root, m_root + "/new", m_root + "/new/deeper"}) {
        EXPECT_NE(std::find(SyncRecorder::paths.begin(), SyncRecorder::paths.end(), folder), SyncRecorder::paths.end())
            << folder;
    }
}

// Which sync fails: a staged file, the last staged file, a staging folder.
class ProjectFailedSyncTest : public ProjectSyncTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(ProjectFailedSyncTest, ALoadWhoseSyncFailsChangesNothing)
{
    // Another project becomes current, with other information.
    writeText(m_list + "/other", "other");
    const std::string other = m_root + "/other.zethiprj";
    ASSERT_EQ(m_project.save(other.c_str(), "current", "you", nullptr, nullptr), 0);
    const TreeImage before = imageTree(m_root);

    const std::string failing = GetParam();
    SyncRecorder recorder;
    SyncRecorder::failWhen = [&](const std::string& path) {
        if (failing == "folder") {
            return contains(path, "/.CurrentList.prjnew-") && !contains(path.substr(m_root.size() + 1), "/");
        }
        return contains(path, ".prjnew-") && path.substr(path.rfind('/') + 1) == failing;
    };
    EXPECT_EQ(m_project.load(m_path.c_str(), nullptr, nullptr, nullptr), FAILED);
    bool hit = false;
    for (const std::string& path : SyncRecorder::paths) {
        hit = hit || SyncRecorder::failWhen(path);
    }
    EXPECT_TRUE(hit);
    EXPECT_EQ(imageTree(m_root), before);
    EXPECT_EQ(infoText(m_project, ProjectFile::INFO_COMMENT), "current");
    EXPECT_EQ(m_project.getCurrentFileName(), other);
}

INSTANTIATE_TEST_SUITE_P(Stages, ProjectFailedSyncTest, ::testing::Values("a.bin", "x", "folder"));

// Once the new file has been renamed into place the save has happened: folder syncs that keep failing are only
// reported, and the project names the new file.
TEST_F(ProjectSyncTest, AFolderThatWillNotSyncAfterTheRenameStillSaves)
{
    const std::string next = m_root + "/next.zethiprj";
    SyncRecorder recorder;
    SyncRecorder::failWhen = [&](const std::string& path) { return path == m_root; };
    testing::internal::CaptureStdout();
    const i32 result = m_project.save(next.c_str(), "next", "me", nullptr, nullptr);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(std::count(SyncRecorder::paths.begin(), SyncRecorder::paths.end(), m_root), 2);
    EXPECT_TRUE(contains(output, "[W] fsw_replaceCommit - folder sync failed for " + next)) << output;
    EXPECT_EQ(m_project.getCurrentFileName(), next);
    EXPECT_EQ(infoText(m_project, ProjectFile::INFO_COMMENT), "next");
    ProjectFile reader;
    ASSERT_EQ(reader.initialize("HUX-NQ", 3, 0, {}, nullptr, 0), 0);
    EXPECT_EQ(reader.extract(next.c_str(), false, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(infoText(reader, ProjectFile::INFO_COMMENT), "next");
}

// One fault at each system call of a load in turn: the item folders are either as before or completely loaded.
TEST_F(ProjectSyncTest, AFaultAtAnySystemCallOfALoadLeavesTheOldOrTheCompleteNewTree)
{
    const auto makeOld = [&] {
        fsw_removeTree(m_current.c_str());
        fsw_removeTree(m_list.c_str());
        makeDir(m_current);
        makeDir(m_list);
        writeBytes(m_current + "/a.bin", randomBytes(70000, 3));
        writeText(m_current + "/b.txt", "changed");
        writeText(m_current + "/locked", "locked");
        ::chmod((m_current + "/locked").c_str(), 0444);
    };
    const auto items = [&] {
        TreeImage image = imageTree(m_current);
        for (const auto& entry : imageTree(m_list)) {
            image["list/" + entry.first] = entry.second;
        }
        return image;
    };
    makeOld();
    const TreeImage old = items();
    ASSERT_EQ(m_project.load(m_path.c_str(), nullptr, nullptr, nullptr), 0);
    const TreeImage loaded = items();
    ASSERT_NE(loaded, old);
    for (long at = 0;; ++at) {
        makeOld();
        i32 result;
        long used;
        {
            FaultSeam seam(at);
            result = m_project.load(m_path.c_str(), nullptr, nullptr, nullptr);
            used = FaultSeam::calls;
        }
        if (used <= at) {
            EXPECT_EQ(result, 0);
            EXPECT_GT(at, 40); // the sweep reached every kind of call of a load
            break;
        }
        EXPECT_EQ(items(), result == 0 ? loaded : old) << "fault at call " << at;
    }
}

// One fault at each system call of a save in turn: the project file is either as before or completely new.
TEST_F(ProjectSyncTest, AFaultAtAnySystemCallOfASaveLeavesTheOldOrTheCompleteNewFile)
{
    const std::vector<u8> old = readBytes(m_path);
    ossupport::testhooks::fixUtcTime(1772600767);
    FILECACHE::mbdftesthooks::fixFileIdAddress(nullptr);
    FILECACHE::mbdftesthooks::fixFileIdTime(0x11223344);
    const auto save = [&] {
        FILECACHE::mbdftesthooks::setFileIdGeneratorState(0x50000);
        return m_project.save(m_path.c_str(), "next", "me", nullptr, nullptr);
    };
    ASSERT_EQ(save(), 0);
    const std::vector<u8> saved = readBytes(m_path);
    ASSERT_NE(saved, old);
    for (long at = 0;; ++at) {
        writeBytes(m_path, old);
        i32 result;
        long used;
        {
            FaultSeam seam(at);
            result = save();
            used = FaultSeam::calls;
        }
        if (used <= at) {
            EXPECT_EQ(result, 0);
            EXPECT_GT(at, 10);
            break;
        }
        EXPECT_EQ(readBytes(m_path), result == 0 ? saved : old) << "fault at call " << at;
        EXPECT_EQ(listNames(m_root), (std::vector<std::string>{"Current", "CurrentList", "p.zethiprj"}));
    }
    ossupport::testhooks::clearFixedUtcTime();
    FILECACHE::mbdftesthooks::clearFixedFileIdAddress();
    FILECACHE::mbdftesthooks::clearFixedFileIdTime();
}

} // namespace
