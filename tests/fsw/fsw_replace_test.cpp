// Atomic replacement, copy, move and partial I/O of the file API.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "fsw_SystemCalls.h"
#include "fsw_TestSupport.h"
#include "fsw_api.h"

using fswtest::TempDir;

namespace {

// Names that are not the given ones (left-over temporaries, for one).
std::vector<std::string> strayNames(const std::string& folder, std::vector<std::string> expected)
{
    std::vector<std::string> stray;
    for (const std::string& name : fswtest::listNames(folder)) {
        bool known = false;
        for (const std::string& e : expected) {
            known = known || e == name;
        }
        if (!known) {
            stray.push_back(name);
        }
    }
    return stray;
}

mode_t permissions(const std::string& path)
{
    struct stat st
    {
    };
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Seam state: fail writes once this many bytes went through, or fail fsync.
size_t g_writeBudget = 0;
int g_writeErrno = EIO;
int g_fsyncErrno = EIO;

ssize_t writeUntilBudget(int fd, const void* buffer, size_t size)
{
    if (g_writeBudget == 0) {
        errno = g_writeErrno;
        return -1;
    }
    const size_t n = size < g_writeBudget ? size : g_writeBudget;
    g_writeBudget -= n;
    return ::write(fd, buffer, n);
}

int failingFsync(int)
{
    errno = g_fsyncErrno;
    return -1;
}

// Short counts and EINTR in turn.
int g_calls = 0;

ssize_t choppyRead(int fd, void* buffer, size_t size)
{
    if (++g_calls % 3 == 0) {
        errno = EINTR;
        return -1;
    }
    return ::read(fd, buffer, size < 4093 ? size : 4093);
}

ssize_t choppyWrite(int fd, const void* buffer, size_t size)
{
    if (++g_calls % 3 == 0) {
        errno = EINTR;
        return -1;
    }
    return ::write(fd, buffer, size < 1021 ? size : 1021);
}

ssize_t readThenFail(int fd, void* buffer, size_t size)
{
    if (g_calls++ == 0) {
        return ::read(fd, buffer, size < 100 ? size : 100);
    }
    errno = EIO;
    return -1;
}

// Counts writes into a regular file that group or others may read.
int g_exposedWrites = 0;

ssize_t writeCountingExposure(int fd, const void* buffer, size_t size)
{
    struct stat st
    {
    };
    g_exposedWrites += ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0;
    return ::write(fd, buffer, size);
}

class FswSeam : public ::testing::Test
{
protected:
    void TearDown() override { fsw_setSystemCalls(nullptr, nullptr, nullptr); }
    TempDir dir;
};

} // namespace

TEST_F(FswSeam, ReplacementWritesAHiddenTemporaryAndCommitsAtomically)
{
    const std::string target = dir / "data.bin";
    ASSERT_TRUE(fswtest::writeFile(target, "old"));
    ASSERT_EQ(::chmod(target.c_str(), 0700), 0);
    struct UmaskGuard
    {
        ~UmaskGuard() { ::umask(m_saved); }
        mode_t m_saved = ::umask(022);
    } umaskGuard;
    g_exposedWrites = 0;
    fsw_setSystemCalls(nullptr, &writeCountingExposure, nullptr);

    FswReplace* replace = nullptr;
    ASSERT_EQ(fsw_replaceBegin(&replace, target.c_str()), 0u);
    const std::string temp = fsw_replaceTempPath(replace);
    const std::string tempName = temp.substr(temp.rfind('/') + 1);
    EXPECT_EQ(temp.substr(0, temp.rfind('/')), dir.path());
    EXPECT_EQ(tempName.rfind(".data.bin.tmp-", 0), 0u) << tempName;
    EXPECT_TRUE(fsw_isReplaceTempName(tempName.c_str()));

    u32 put = 0;
    ASSERT_EQ(fsw_write("new content", &put, 11, fsw_replaceHandle(replace)), 0u);
    EXPECT_EQ(fswtest::readFile(target), "old") << "the target is untouched until commit";
    EXPECT_EQ(fsw_replaceCommit(replace), 0u);
    EXPECT_EQ(fswtest::readFile(target), "new content");
    EXPECT_EQ(permissions(target), 0700u) << "the old target's mode bits carry over";
    EXPECT_EQ(g_exposedWrites, 0) << "a private file's new content is never readable by others";
    EXPECT_TRUE(strayNames(dir.path(), {"data.bin"}).empty());

    ASSERT_EQ(fsw_replaceBegin(&replace, target.c_str()), 0u);
    ASSERT_EQ(fsw_write("discard", &put, 7, fsw_replaceHandle(replace)), 0u);
    EXPECT_EQ(fsw_replaceAbort(replace), 0u);
    EXPECT_EQ(fswtest::readFile(target), "new content");
    EXPECT_TRUE(strayNames(dir.path(), {"data.bin"}).empty());

    // A new target gets what creating it in place gives: 0666 less the umask, or what a default ACL of its folder
    // says (entries of tag, permissions and id, little-endian; -1 for no id), with a mask entry or without.
    ::umask(027);
    const char masked[] = "\2\0\0\0"                   // version
                          "\1\0\7\0\377\377\377\377"   // owner
                          "\2\0\6\0\376\377\0\0"       // user 65534
                          "\4\0\4\0\377\377\377\377"   // owning group
                          "\20\0\6\0\377\377\377\377"  // mask
                          "\40\0\0\0\377\377\377\377"; // others
    // owner rw-, owning group r-x, others r--
    const char unmasked[] = "\2\0\0\0\1\0\6\0\377\377\377\377\4\0\5\0\377\377\377\377\40\0\4\0\377\377\377\377";
    for (const std::string& acl :
         {std::string(), std::string(masked, sizeof masked - 1), std::string(unmasked, sizeof unmasked - 1)}) {
        const std::string folder = dir / ("new" + std::to_string(acl.size()));
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        if (!acl.empty() && ::setxattr(folder.c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0) != 0) {
            std::printf("no default ACL on this file system: that case is not run\n");
            continue;
        }
        ASSERT_EQ(fsw_replaceBegin(&replace, (folder + "/fresh").c_str()), 0u);
        EXPECT_EQ(fsw_replaceCommit(replace), 0u);
        EXPECT_EQ(fswtest::readFile(folder + "/fresh"), "");
        ASSERT_TRUE(fswtest::writeFile(folder + "/in-place", ""));
        EXPECT_EQ(permissions(folder + "/fresh"), permissions(folder + "/in-place")) << folder;
    }

    EXPECT_FALSE(fsw_isReplaceTempName("data.tmp-1"));
    EXPECT_FALSE(fsw_isReplaceTempName(".data.tmp-"));
    EXPECT_FALSE(fsw_isReplaceTempName(".data"));
    EXPECT_EQ(fsw_replaceCommit(nullptr), 0x8000f000u);
    EXPECT_EQ(fsw_replaceHandle(nullptr), nullptr);
}

TEST_F(FswSeam, ReplacementTakesNamesUpToTheComponentLimit)
{
    // 253 bytes: 'a' then 126 two-byte characters. The temporary keeps only the start of the name, never half a
    // character, and is still recognised as a temporary.
    std::string name = "a";
    for (int i = 0; i < 126; ++i) {
        name += "\xC3\xA9";
    }
    ASSERT_EQ(name.size(), 253u);
    const std::string target = dir / name;
    FswReplace* replace = nullptr;
    ASSERT_EQ(fsw_replaceBegin(&replace, target.c_str()), 0u);
    const std::string temp = fsw_replaceTempPath(replace);
    const std::string tempName = temp.substr(temp.rfind('/') + 1);
    EXPECT_LE(tempName.size(), 255u);
    EXPECT_TRUE(fsw_isReplaceTempName(tempName.c_str()));
    EXPECT_TRUE(fsw_isReplaceTempOf(tempName.c_str(), name.c_str(), false)) << "its leftover is found again";
    const size_t marker = tempName.find(".tmp-");
    ASSERT_NE(marker, std::string::npos);
    EXPECT_EQ(name.compare(0, marker - 1, tempName, 1, marker - 1), 0) << "a prefix of the target name";
    EXPECT_EQ((marker - 1) % 2, 1u) << "cut between characters";
    u32 put = 0;
    ASSERT_EQ(fsw_write("x", &put, 1, fsw_replaceHandle(replace)), 0u);
    ASSERT_EQ(fsw_replaceCommit(replace), 0u);
    EXPECT_EQ(fswtest::readFile(target), "x");
    EXPECT_TRUE(strayNames(dir.path(), {name}).empty());

    char out[256];
    EXPECT_EQ(fsw_makeReplaceTempName(out, sizeof out, ""), 0x8000f000u);
    EXPECT_EQ(fsw_makeReplaceTempName(out, 255, "a"), 0x8000f000u);
}

// The clean-up of leftovers takes only names of the exact form the writer makes, and only those of writers that are
// gone: a replacement that another process still runs keeps its temporary.
TEST_F(FswSeam, LeftoverCleanUpRemovesOnlyTheTemporariesOfWritersThatAreGone)
{
    // The other writer: a child that begins a replacement, tells its temporary and waits to be killed.
    struct Writer
    {
        ~Writer() { end(); }
        void end()
        {
            if (m_pid > 0) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, nullptr, 0);
                m_pid = -1;
            }
        }
        pid_t m_pid = -1;
    } writer;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const std::string target = dir / "notes.json";
    writer.m_pid = ::fork();
    ASSERT_GE(writer.m_pid, 0);
    if (writer.m_pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        FswReplace* replace = nullptr;
        const std::string temp = fsw_replaceBegin(&replace, target.c_str()) == 0 ? fsw_replaceTempPath(replace) : "";
        (void)!::write(ready[1], temp.c_str(), temp.size() + 1);
        for (;;) {
            ::pause();
        }
    }
    char live[512] = {};
    ASSERT_GT(::read(ready[0], live, sizeof live), 1);
    ::close(ready[0]);
    ::close(ready[1]);

    const auto hex = [](long value) {
        char text[16];
        std::snprintf(text, sizeof text, "%lx", value);
        return std::string(text);
    };
    const std::string gone = "7ffffff0"; // above every process id the kernel hands out
    const struct
    {
        std::string m_name;
        bool m_stays;
    } cases[] = {
        {".notes.json.tmp-" + hex(::getpid()) + "-1-0000abcd", false}, // this process: no replacement of it runs
        {".notes.json.tmp-" + gone + "-2-1f2e3d4c", false},
        {"..notes.json.tmp-" + gone + "-1-1f2e3d4c.tmp-" + gone + "-2-1f2e3d4c", false},
        {"..notes.json.tmp-" + hex(writer.m_pid) + "-1-1f2e3d4c.tmp-" + gone + "-2-1f2e3d4c", true},
        {".notes.json.tmp-" + hex(writer.m_pid) + "-3-1f2e3d4c", true},
        {".notes.json.tmp-cafe", true},
        {".notes.json.tmp-" + gone + "-02-1f2e3d4c", true},
        {".notes.json.tmp-" + gone + "-2-1f2e3d4", true},
        {".notes.json.tmp-" + gone + "-2-1F2E3D4C", true},
        {".notes.json.tmp-" + gone + "0-2-1f2e3d4c", true},
        {".notes.json.tmp-80000001-2-1f2e3d4c", true}, // no process id: no group is signalled
        {".notes.json.tmp-" + gone + "-2-1f2e3d4c-", true},
        {".other.json.tmp-" + gone + "-2-1f2e3d4c", true},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(fswtest::writeFile(dir / c.m_name, "x")) << c.m_name;
    }
    EXPECT_EQ(fsw_removeReplaceTemps(target.c_str(), true), 0u);
    for (const auto& c : cases) {
        EXPECT_EQ(::access((dir / c.m_name).c_str(), F_OK) == 0, c.m_stays) << c.m_name;
    }
    EXPECT_EQ(::access(live, F_OK), 0) << "the live writer's temporary stays";

    writer.end();
    EXPECT_EQ(fsw_removeReplaceTemps(target.c_str(), false), 0u);
    EXPECT_NE(::access(live, F_OK), 0) << "once its writer is gone it is a leftover";

    // Another clean-up removes the leftover first; only another failure counts.
    FswSystemCalls calls = fsw_realSystemCalls();
    for (const int error : {ENOENT, EIO}) {
        static int s_error;
        s_error = error;
        calls.unlink = [](int dirFd, const char* path, int flags) {
            if (s_error == ENOENT) {
                ::unlinkat(dirFd, path, flags); // the other clean-up
            }
            errno = s_error;
            return -1;
        };
        fsw_setSystemCallTable(&calls);
        ASSERT_TRUE(fswtest::writeFile(dir / cases[1].m_name, "x"));
        testing::internal::CaptureStdout();
        EXPECT_EQ(fsw_removeReplaceTemps(target.c_str(), false), error == ENOENT ? 0u : 0x8000ffffu) << error;
        const bool logged = testing::internal::GetCapturedStdout().find("[E]") != std::string::npos;
        EXPECT_EQ(logged, error != ENOENT) << error;
    }
}

TEST_F(FswSeam, ReplacementRefusesWhatAnInPlaceWriteWouldRefuse)
{
    const std::string target = dir / "ro";
    ASSERT_TRUE(fswtest::writeFile(target, "keep"));
    ASSERT_EQ(fsw_setAttributes(FSW_ATTR_READONLY, target.c_str()), 0u);
    FswReplace* replace = reinterpret_cast<FswReplace*>(0x1);
    EXPECT_EQ(fsw_replaceBegin(&replace, target.c_str()), 0x80000005u);
    EXPECT_EQ(replace, nullptr);
    EXPECT_EQ(fsw_replaceBegin(&replace, dir.path().c_str()), 0x80000005u);
    EXPECT_EQ(fsw_replaceBegin(&replace, (dir / "missing/x").c_str()), 0x80000001u);
    EXPECT_EQ(fsw_replaceBegin(&replace, nullptr), 0x8000f000u);

    // Turning read-only between begin and commit is caught at commit.
    const std::string later = dir / "later";
    ASSERT_TRUE(fswtest::writeFile(later, "old"));
    ASSERT_EQ(fsw_replaceBegin(&replace, later.c_str()), 0u);
    ASSERT_EQ(fsw_setAttributes(FSW_ATTR_READONLY, later.c_str()), 0u);
    EXPECT_EQ(fsw_replaceCommit(replace), 0x80000005u);
    EXPECT_EQ(fswtest::readFile(later), "old");
    EXPECT_TRUE(strayNames(dir.path(), {"ro", "later"}).empty());
}

TEST_F(FswSeam, ReplacementThroughALinkReplacesTheLinkedFile)
{
    ASSERT_EQ(::mkdir((dir / "real").c_str(), 0755), 0);
    const std::string real = dir / "real/file";
    ASSERT_TRUE(fswtest::writeFile(real, "old"));
    const std::string link = dir / "link";
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    FswReplace* replace = nullptr;
    ASSERT_EQ(fsw_replaceBegin(&replace, link.c_str()), 0u);
    u32 put = 0;
    ASSERT_EQ(fsw_write("new", &put, 3, fsw_replaceHandle(replace)), 0u);
    ASSERT_EQ(fsw_replaceCommit(replace), 0u);
    struct stat st;
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(fswtest::readFile(real), "new");
}

TEST_F(FswSeam, CopyReplacesTheDestinationAndCarriesTheSourceMode)
{
    const std::string from = dir / "from";
    const std::string to = dir / "to";
    const std::string content = fswtest::pattern(700 * 1024 + 3, 1);
    ASSERT_TRUE(fswtest::writeFile(from, content));
    ASSERT_EQ(::chmod(from.c_str(), 0700), 0);
    ASSERT_TRUE(fswtest::writeFile(to, "old destination"));
    EXPECT_EQ(fsw_copy(from.c_str(), to.c_str()), 0u);
    EXPECT_EQ(fswtest::readFile(to), content);
    EXPECT_EQ(permissions(to), 0700u);
    const mode_t mask = ::umask(022);
    g_exposedWrites = 0;
    fsw_setSystemCalls(nullptr, &writeCountingExposure, nullptr);
    EXPECT_EQ(fsw_copy(from.c_str(), (dir / "empty-src").c_str()), 0u);
    ::umask(mask);
    EXPECT_EQ(g_exposedWrites, 0) << "a private file is copied to a new name without others seeing it";
    EXPECT_TRUE(strayNames(dir.path(), {"from", "to", "empty-src"}).empty());

    EXPECT_EQ(fsw_copy(dir.path().c_str(), (dir / "x").c_str()), 0x80000005u);
    EXPECT_EQ(fsw_copy(from.c_str(), dir.path().c_str()), 0x80000005u);
    EXPECT_EQ(fsw_copy(nullptr, to.c_str()), 0x8000f000u);
}

TEST_F(FswSeam, FailedCopyLeavesTheDestinationByteIdentical)
{
    const std::string from = dir / "from";
    const std::string to = dir / "to";
    const std::string old = fswtest::pattern(5000, 2);
    ASSERT_TRUE(fswtest::writeFile(from, fswtest::pattern(1 << 20, 3)));
    ASSERT_TRUE(fswtest::writeFile(to, old));
    const std::vector<std::string> names = {"from", "to"};

    EXPECT_EQ(fsw_copy((dir / "missing").c_str(), to.c_str()), 0x80000001u);
    EXPECT_EQ(fswtest::readFile(to), old);
    EXPECT_TRUE(strayNames(dir.path(), names).empty());

    g_writeBudget = 300 * 1024; // fails mid-copy
    g_writeErrno = EIO;
    fsw_setSystemCalls(nullptr, &writeUntilBudget, nullptr);
    EXPECT_EQ(fsw_copy(from.c_str(), to.c_str()), 0x8000ffffu);
    EXPECT_EQ(fswtest::readFile(to), old);
    EXPECT_TRUE(strayNames(dir.path(), names).empty());

    g_writeBudget = 64 * 1024;
    g_writeErrno = ENOSPC;
    EXPECT_EQ(fsw_copy(from.c_str(), to.c_str()), 0x80000014u);
    EXPECT_EQ(fswtest::readFile(to), old);
    EXPECT_TRUE(strayNames(dir.path(), names).empty());

    g_fsyncErrno = EIO;
    fsw_setSystemCalls(nullptr, nullptr, &failingFsync);
    EXPECT_EQ(fsw_copy(from.c_str(), to.c_str()), 0x8000ffffu);
    EXPECT_EQ(fswtest::readFile(to), old);
    EXPECT_TRUE(strayNames(dir.path(), names).empty());
    fsw_setSystemCalls(nullptr, nullptr, nullptr);

    ASSERT_EQ(fsw_setAttributes(FSW_ATTR_READONLY, to.c_str()), 0u);
    EXPECT_EQ(fsw_copy(from.c_str(), to.c_str()), 0x80000005u);
    EXPECT_EQ(fswtest::readFile(to), old);
    EXPECT_TRUE(strayNames(dir.path(), names).empty());
}

TEST_F(FswSeam, MoveReplacesPlainDestinationsOnly)
{
    const std::string from = dir / "from";
    const std::string to = dir / "to";
    ASSERT_TRUE(fswtest::writeFile(from, "moved"));
    ASSERT_TRUE(fswtest::writeFile(to, "old"));
    EXPECT_EQ(fsw_move(from.c_str(), to.c_str()), 0u);
    EXPECT_FALSE(fswtest::exists(from));
    EXPECT_EQ(fswtest::readFile(to), "moved");

    EXPECT_EQ(fsw_move(from.c_str(), to.c_str()), 0x80000001u);
    ASSERT_TRUE(fswtest::writeFile(from, "again"));
    ASSERT_EQ(fsw_setAttributes(FSW_ATTR_READONLY, to.c_str()), 0u);
    EXPECT_EQ(fsw_move(from.c_str(), to.c_str()), 0x80000005u);
    EXPECT_EQ(fswtest::readFile(to), "moved");
    EXPECT_EQ(fswtest::readFile(from), "again");

    ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0755), 0);
    EXPECT_EQ(fsw_move(from.c_str(), (dir / "folder").c_str()), 0x80000005u);
    EXPECT_EQ(fswtest::readFile(from), "again");
}

namespace {

// Sets or clears the immutable flag; false when the file system or the privileges do not allow it.
bool setImmutable(const std::string& path, bool on)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

} // namespace

TEST_F(FswSeam, RefusedMoveOverAPlainDestinationMeansInUse)
{
    const std::string from = dir / "from";
    ASSERT_TRUE(fswtest::writeFile(from, "new"));
    for (const char* name : {"plain", ".hidden"}) {
        const std::string to = dir / name;
        ASSERT_TRUE(fswtest::writeFile(to, "old"));
        if (!setImmutable(to, true)) {
            GTEST_SKIP() << "cannot make a file immutable here";
        }
        const u32 result = fsw_move(from.c_str(), to.c_str());
        setImmutable(to, false);
        EXPECT_EQ(result, name[0] == '.' ? 0x80000005u : 0x80000006u) << name;
        EXPECT_EQ(fswtest::readFile(to), "old");
        EXPECT_EQ(fswtest::readFile(from), "new");
    }
}

TEST_F(FswSeam, MoveAcrossFileSystemsCopiesAndRemoves)
{
    struct stat here
    {
    }, shm{};
    if (::stat("/dev/shm", &shm) != 0 || ::access("/dev/shm", W_OK) != 0 || ::stat(dir.path().c_str(), &here) != 0 ||
        here.st_dev == shm.st_dev) {
        GTEST_SKIP() << "no second file system to move across";
    }
    const std::string from = "/dev/shm/fswtest-move-" + std::to_string(::getpid());
    const std::string content = fswtest::pattern(100000, 4);
    ASSERT_TRUE(fswtest::writeFile(from, content));
    ASSERT_TRUE(fswtest::writeFile(dir / "to", "old"));
    EXPECT_EQ(fsw_move(from.c_str(), (dir / "to").c_str()), 0u);
    EXPECT_FALSE(fswtest::exists(from));
    EXPECT_EQ(fswtest::readFile(dir / "to"), content);
    ::unlink(from.c_str());
}

TEST_F(FswSeam, ShortCountsAndInterruptionsMoveEveryByte)
{
    const std::string file = dir / "big";
    const std::string content = fswtest::pattern(1 << 20, 5);
    fsw_setSystemCalls(&choppyRead, &choppyWrite, nullptr);

    FswHandle h = FSW_INVALID_HANDLE;
    ASSERT_EQ(fsw_open(&h, file.c_str(), 0x43), 0u);
    u32 put = 0;
    EXPECT_EQ(fsw_write(content.data(), &put, static_cast<u32>(content.size()), &h), 0u);
    EXPECT_EQ(put, content.size());
    ASSERT_EQ(fsw_seek(0, 0, &h), 0u);
    std::string back(content.size() + 10, '\0');
    u32 got = 0;
    EXPECT_EQ(fsw_read(back.data(), &got, static_cast<u32>(back.size()), &h), 0u);
    EXPECT_EQ(got, content.size());
    back.resize(got);
    EXPECT_TRUE(back == content);
    EXPECT_GT(g_calls, 1000) << "the seam must have been used";

    g_calls = 0;
    fsw_setSystemCalls(&readThenFail, nullptr, nullptr);
    ASSERT_EQ(fsw_seek(0, 0, &h), 0u);
    EXPECT_EQ(fsw_read(back.data(), &got, 1000, &h), 0x8000ffffu);
    EXPECT_EQ(got, 100u) << "got reports what was actually read";
    EXPECT_EQ(fsw_close(&h), 0u);
}

TEST(FswDeviceFull, WritingToAFullDiskReportsDiskFull)
{
    FswHandle h = FSW_INVALID_HANDLE;
    ASSERT_EQ(fsw_open(&h, "/dev/full", 0x12), 0u);
    u32 put = 1;
    EXPECT_EQ(fsw_write("abc", &put, 3, &h), 0x80000014u);
    EXPECT_EQ(put, 0u);
    EXPECT_EQ(fsw_flush(&h), 0u);
    EXPECT_EQ(fsw_close(&h), 0u);
}
