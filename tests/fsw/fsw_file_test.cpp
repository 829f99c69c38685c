// Files, attributes, times, error translation and hooks of the file API.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <thread>

#include "fsw_Hooks.h"
#include "fsw_TestSupport.h"
#include "fsw_api.h"
#include "vdtest_Support.h"

using fswtest::TempDir;

namespace {

struct Handle
{
    FswHandle h = FSW_INVALID_HANDLE;
    ~Handle()
    {
        if (h != FSW_INVALID_HANDLE) {
            fsw_close(&h);
        }
    }
};

} // namespace

TEST(FswErrors, TranslatesErrnoByMeaning)
{
    EXPECT_EQ(fsw_fromErrno(0), 0u);
    EXPECT_EQ(fsw_fromErrno(EBUSY), 0x80000006u);
    EXPECT_EQ(fsw_fromErrno(EXDEV), 0x8000ffffu);
    EXPECT_EQ(fsw_fromErrno(EDQUOT), 0x80000014u);
}

TEST(FswPaths, ChecksUtf8)
{
    EXPECT_EQ(fsw_checkPath(nullptr), 0x8000f000u);
    EXPECT_EQ(fsw_checkPath(""), 0u);
    EXPECT_EQ(fsw_checkPath("d\xC3\xA9j\xC3\xA0/\xE6\x97\xA5/\xF0\x9F\x98\x80.txt"), 0u);
    for (const char* bad : {"\x80", "a\xC0\xAF", "\xED\xA0\x80", "x\xE2\x82", "\xF4\x90\x80\x80", "\xFF"}) {
        EXPECT_EQ(fsw_checkPath(bad), 0x80000004u) << bad;
    }
    TempDir dir;
    FswHandle h;
    EXPECT_EQ(fsw_open(&h, (dir / "bad\xFF").c_str(), 0x42), 0x80000004u);
    EXPECT_FALSE(fswtest::exists(dir / "bad\xFF"));
}

TEST(FswOpen, ModesAndDispositions)
{
    TempDir dir;
    const std::string file = dir / "f";
    Handle a;
    a.h = 0;
    EXPECT_EQ(fsw_open(&a.h, file.c_str(), 0x02), 0x8000f000u);
    EXPECT_EQ(a.h, FSW_INVALID_HANDLE);
    EXPECT_EQ(fsw_open(&a.h, file.c_str(), 0x01), 0x80000001u);
    EXPECT_EQ(fsw_open(&a.h, file.c_str(), 0x12), 0x80000001u);
    EXPECT_EQ(fsw_open(&a.h, file.c_str(), 0), 0x8000f000u);
    EXPECT_EQ(fsw_open(&a.h, nullptr, 0x11), 0x8000f000u);
    EXPECT_EQ(fsw_open(nullptr, file.c_str(), 0x11), 0x8000f000u);

    ASSERT_TRUE(fswtest::writeFile(file, "content"));
    {
        Handle b; // open always keeps the content
        ASSERT_EQ(fsw_open(&b.h, file.c_str(), 0x22), 0u);
    }
    EXPECT_EQ(fswtest::readFile(file), "content");
    {
        Handle c; // create always truncates
        ASSERT_EQ(fsw_open(&c.h, file.c_str(), 0x42), 0u);
        const int flags = ::fcntl(static_cast<int>(c.h), F_GETFD);
        EXPECT_NE(flags & FD_CLOEXEC, 0) << "descriptors must not leak into child processes";
    }
    EXPECT_EQ(fswtest::readFile(file), "");
    {
        Handle d; // open always creates a missing file
        ASSERT_EQ(fsw_open(&d.h, (dir / "new").c_str(), 0x23), 0u);
    }
    EXPECT_TRUE(fswtest::exists(dir / "new"));

    Handle e;
    EXPECT_EQ(fsw_open(&e.h, dir.path().c_str(), 0x11), 0x80000005u);
    EXPECT_EQ(fsw_open(&e.h, dir.path().c_str(), 0x12), 0x80000005u);
}

TEST(FswOpen, ReadOnlyFileRefusesWriteAccessEvenForRoot)
{
    TempDir dir;
    const std::string file = dir / "ro";
    ASSERT_TRUE(fswtest::writeFile(file, "keep"));
    ASSERT_EQ(fsw_setAttributes(FSW_ATTR_READONLY, file.c_str()), 0u);
    Handle h;
    EXPECT_EQ(fsw_open(&h.h, file.c_str(), 0x42), 0x80000005u);
    EXPECT_EQ(fsw_open(&h.h, file.c_str(), 0x13), 0x80000005u);
    EXPECT_EQ(fswtest::readFile(file), "keep");
    EXPECT_EQ(fsw_open(&h.h, file.c_str(), 0x11), 0u);
}

// Pipes and sockets are refused at once; a watchdog opens the pipe's other end after a while, so an open that
// blocks returns late (and fails the test) instead of hanging it. Devices open.
TEST(FswOpen, PipesAndSocketsAreRefusedWithoutWaitingAndDevicesOpen)
{
    TempDir dir;
    const std::string fifo = dir / "fifo";
    const std::string socketPath = dir / "socket";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", socketPath.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);

    // Runs call, opening the pipe's other end if it has not returned after 2 s; the time it took.
    const auto watched = [&](const std::function<void()>& call) {
        std::atomic<bool> returned{false};
        std::thread watchdog([&] {
            if (!vdtest::waitUntil([&] { return returned.load(); }, 2000)) {
                const int other = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
                vdtest::waitUntil([&] { return returned.load(); }, 60000);
                ::close(other);
            }
        });
        const auto start = std::chrono::steady_clock::now();
        call();
        returned = true;
        watchdog.join();
        return std::chrono::steady_clock::now() - start;
    };
    for (const std::string& path : {fifo, socketPath}) {
        for (u32 mode : {0x11u, 0x12u, 0x13u, 0x22u, 0x42u}) {
            Handle h;
            EXPECT_LT(watched([&] {
                          EXPECT_EQ(fsw_open(&h.h, path.c_str(), mode), 0x80000005u) << path << " mode " << mode;
                      }),
                      std::chrono::milliseconds(1500))
                << path;
            EXPECT_EQ(h.h, FSW_INVALID_HANDLE);
        }
    }
    EXPECT_LT(watched([&] { EXPECT_EQ(fsw_copy(fifo.c_str(), (dir / "copy").c_str()), 0x80000005u); }),
              std::chrono::milliseconds(1500));
    EXPECT_FALSE(fswtest::exists(dir / "copy"));
    ::close(listener);

    Handle device;
    ASSERT_EQ(fsw_open(&device.h, "/dev/full", 0x12), 0u);
    const int flags = ::fcntl(static_cast<int>(device.h), F_GETFL);
    EXPECT_EQ(flags & O_NONBLOCK, 0) << "the handle blocks like any other";
    u32 put = 0;
    EXPECT_EQ(fsw_write("x", &put, 1, &device.h), 0x80000014u);
}

TEST(FswFile, ReadWriteEndOfFileAndClose)
{
    TempDir dir;
    Handle f;
    ASSERT_EQ(fsw_open(&f.h, (dir / "f").c_str(), 0x43), 0u);
    u32 put = 99;
    EXPECT_EQ(fsw_write("hello", &put, 0, &f.h), 0u);
    EXPECT_EQ(put, 0u);
    ASSERT_EQ(fsw_write("hello", &put, 5, &f.h), 0u);
    EXPECT_EQ(put, 5u);
    ASSERT_EQ(fsw_seek(0, 0, &f.h), 0u);
    char buffer[16] = {};
    u32 got = 0;
    EXPECT_EQ(fsw_read(buffer, &got, sizeof buffer, &f.h), 0u);
    EXPECT_EQ(got, 5u);
    EXPECT_EQ(std::string(buffer, got), "hello");
    got = 7;
    EXPECT_EQ(fsw_read(buffer, &got, sizeof buffer, &f.h), 1u);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(fsw_read(buffer, &got, 0, &f.h), 0u);
    EXPECT_EQ(fsw_read(nullptr, &got, 4, &f.h), 0x8000f000u);
    EXPECT_EQ(fsw_flush(&f.h), 0u);

    FswHandle invalid = FSW_INVALID_HANDLE;
    EXPECT_EQ(fsw_read(buffer, &got, 4, &invalid), 0x80000003u);
    EXPECT_EQ(fsw_write(buffer, &put, 4, &invalid), 0x80000003u);
    EXPECT_EQ(fsw_close(&invalid), 0x8000f000u);
    EXPECT_EQ(fsw_close(nullptr), 0x8000f000u);

    EXPECT_EQ(fsw_close(&f.h), 0u);
    EXPECT_EQ(f.h, FSW_INVALID_HANDLE);
}

TEST(FswFile, SeekAndTellStayWithin32Bits)
{
    TempDir dir;
    Handle f;
    ASSERT_EQ(fsw_open(&f.h, (dir / "f").c_str(), 0x43), 0u);
    u32 put = 0;
    ASSERT_EQ(fsw_write("0123456789", &put, 10, &f.h), 0u);
    u32 pos = 0;
    EXPECT_EQ(fsw_seek(2, 0, &f.h), 0u);
    EXPECT_EQ(fsw_seek(3, 1, &f.h), 0u);
    EXPECT_EQ(fsw_tell(&pos, &f.h), 0u);
    EXPECT_EQ(pos, 5u);
    EXPECT_EQ(fsw_seek(-6, 1, &f.h), 0x80000004u);
    EXPECT_EQ(fsw_seek(-1, 2, &f.h), 0u);
    EXPECT_EQ(fsw_tell(&pos, &f.h), 0u);
    EXPECT_EQ(pos, 9u);
    EXPECT_EQ(fsw_seek(0, 3, &f.h), 0x8000f000u);

    ASSERT_EQ(fsw_seekAbsolute(0xFFFFFFFFu, &f.h), 0u);
    EXPECT_EQ(fsw_seek(1, 1, &f.h), 0x80000012u);
    EXPECT_EQ(fsw_tell(&pos, &f.h), 0u);
    EXPECT_EQ(pos, 0xFFFFFFFFu) << "a refused seek keeps the position";

    ASSERT_GE(::lseek(static_cast<int>(f.h), 0x100000005LL, SEEK_SET), 0);
    EXPECT_EQ(fsw_tell(&pos, &f.h), 0x80000012u);
}

TEST(FswFile, SizeOfFilesFoldersAndLargeFiles)
{
    TempDir dir;
    const std::string file = dir / "f";
    ASSERT_TRUE(fswtest::writeFile(file, "12345"));
    u32 size = 0;
    EXPECT_EQ(fsw_getSize(&size, file.c_str()), 0u);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(fsw_getSize(&size, (dir / "missing").c_str()), 0x80000001u);
    EXPECT_EQ(fsw_getSize(&size, dir.path().c_str()), 0x80000005u);
    EXPECT_EQ(fsw_getSize(nullptr, file.c_str()), 0x8000f000u);

    ASSERT_EQ(::truncate(file.c_str(), 0x140000000LL), 0); // sparse 5 GiB
    EXPECT_EQ(fsw_getSize(&size, file.c_str()), 0x80000012u);
    u64 full = 0;
    EXPECT_EQ(fsw_getSize64(&full, file.c_str()), 0u);
    EXPECT_EQ(full, 0x140000000ull);
}

TEST(FswAttributes, ReportsReadOnlyHiddenAndFolders)
{
    TempDir dir;
    const std::string hidden = dir / ".x";
    ASSERT_TRUE(fswtest::writeFile(hidden, "x"));
    u32 attributes = 0;
    EXPECT_EQ(fsw_getAttributes(&attributes, hidden.c_str()), 0u);
    EXPECT_EQ(attributes, 0x08u);
    ASSERT_EQ(fsw_setAttributes(0x02 | 0x04 | 0x10, hidden.c_str()), 0u);
    EXPECT_EQ(fsw_getAttributes(&attributes, hidden.c_str()), 0u);
    EXPECT_EQ(attributes, 0x0Au);
    ASSERT_EQ(fsw_setAttributes(0x01, hidden.c_str()), 0u);
    EXPECT_TRUE(fswtest::isWritableByOwner(hidden));

    const std::string plain = dir / "plain";
    ASSERT_TRUE(fswtest::writeFile(plain, ""));
    EXPECT_EQ(fsw_getAttributes(&attributes, plain.c_str()), 0u);
    EXPECT_EQ(attributes, 0x01u);

    const std::string folder = dir / ".d";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    EXPECT_EQ(fsw_getAttributes(&attributes, (folder + "/").c_str()), 0u);
    EXPECT_EQ(attributes, 0x88u);
    EXPECT_EQ(fsw_setAttributes(0x02, folder.c_str()), 0u);
    EXPECT_TRUE(fswtest::isWritableByOwner(folder)) << "read-only is never applied to a folder";
    EXPECT_TRUE(fswtest::writeFile(folder + "/inside", "x"));

    EXPECT_EQ(fsw_getAttributes(&attributes, (dir / "missing").c_str()), 0x80000001u);
    EXPECT_EQ(fsw_setAttributes(0x02, (dir / "missing").c_str()), 0x80000001u);
    EXPECT_EQ(fsw_getAttributes(nullptr, plain.c_str()), 0x8000f000u);
}

TEST(FswAttributes, LinkAttributesDoNotFollowTheLink)
{
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "target").c_str(), 0755), 0);
    ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "link").c_str()), 0);
    u32 attributes = 0;
    bool isLink = false;
    EXPECT_EQ(fsw_getLinkAttributes(&attributes, &isLink, (dir / "link").c_str()), 0u);
    EXPECT_TRUE(isLink);
    EXPECT_EQ(attributes & FSW_ATTR_DIRECTORY, 0u);
    EXPECT_EQ(fsw_getLinkAttributes(&attributes, &isLink, (dir / "target").c_str()), 0u);
    EXPECT_FALSE(isLink);
    EXPECT_EQ(fsw_getAttributes(&attributes, (dir / "link").c_str()), 0u);
    EXPECT_EQ(attributes, 0x80u);
}

TEST(FswRemove, FilesLinksAndProtection)
{
    TempDir dir;
    const std::string file = dir / "f";
    ASSERT_TRUE(fswtest::writeFile(file, "data"));
    ASSERT_EQ(::symlink(file.c_str(), (dir / "link").c_str()), 0);
    EXPECT_EQ(fsw_remove((dir / "link").c_str()), 0u);
    EXPECT_FALSE(fswtest::exists(dir / "link"));
    EXPECT_EQ(fswtest::readFile(file), "data");

    ASSERT_EQ(fsw_setAttributes(FSW_ATTR_READONLY, file.c_str()), 0u);
    EXPECT_EQ(fsw_remove(file.c_str()), 0x80000005u);
    EXPECT_TRUE(fswtest::exists(file));
    ASSERT_EQ(fsw_setAttributes(FSW_ATTR_NORMAL, file.c_str()), 0u);
    EXPECT_EQ(fsw_remove(file.c_str()), 0u);
    EXPECT_FALSE(fswtest::exists(file));

    EXPECT_EQ(fsw_remove(file.c_str()), 0x80000001u);
    EXPECT_EQ(fsw_remove(dir.path().c_str()), 0x80000005u);
    EXPECT_EQ(fsw_remove(nullptr), 0x8000f000u);
}

TEST(FswTimes, ReportsUtcAndConvertsToLocal)
{
    TempDir dir;
    const std::string file = dir / "f";
    ASSERT_TRUE(fswtest::writeFile(file, ""));
    struct tm when
    {
    };
    when.tm_year = 99;
    when.tm_mon = 5;
    when.tm_mday = 15;
    when.tm_hour = 12;
    when.tm_min = 34;
    when.tm_sec = 56;
    ASSERT_TRUE(fswtest::setModificationTime(file, ::timegm(&when)));

    FswTime modified{}, accessed{};
    ASSERT_EQ(fsw_getTime(nullptr, &accessed, &modified, file.c_str()), 0u);
    EXPECT_EQ(modified.year, 1999);
    EXPECT_EQ(modified.month, 6);
    EXPECT_EQ(modified.day, 15);
    EXPECT_EQ(modified.hour, 12);
    EXPECT_EQ(modified.minute, 34);
    EXPECT_EQ(modified.second, 56);
    EXPECT_EQ(accessed.year, 1999);
    EXPECT_EQ(fsw_getTime(nullptr, nullptr, nullptr, file.c_str()), 0x8000f000u);
    EXPECT_EQ(fsw_getTime(&modified, nullptr, nullptr, (dir / "missing").c_str()), 0x80000001u);

    ::setenv("TZ", "UTC-2", 1); // two hours east of UTC, no daylight saving
    ::tzset();
    const FswTime utc{2020, 12, 31, 23, 30, 15};
    FswTime local{};
    ASSERT_EQ(fsw_toLocalTime(&local, &utc), 0u);
    EXPECT_EQ(local.year, 2021);
    EXPECT_EQ(local.month, 1);
    EXPECT_EQ(local.day, 1);
    EXPECT_EQ(local.hour, 1);
    EXPECT_EQ(local.minute, 30);
    EXPECT_EQ(local.second, 15);
    EXPECT_EQ(fsw_toLocalTime(nullptr, &utc), 0x80000000u);
    EXPECT_EQ(fsw_toLocalTime(&local, nullptr), 0x80000000u);
}

namespace {

int g_postCalls = 0;
u32 g_postResult = 0;
const char* g_postPath = nullptr;

u32 setFlag(u32* flag, FswHandle*, const char*, u32)
{
    *flag = 1;
    return 0;
}

void record(u32 result, FswHandle*, const char* path, u32)
{
    ++g_postCalls;
    g_postResult = result;
    g_postPath = path;
}

int g_flushPre = 0;
u32 countFlush(u32* flag, FswHandle*)
{
    ++g_flushPre;
    *flag = 0;
    return 0;
}

} // namespace

TEST(FswHooks, PostHookRunsOnlyWhenThePreHookSetTheFlag)
{
    EXPECT_EQ((fsw_defaultPreHook<int>(nullptr, 0)), 0x80000000u);
    u32 flag = 7;
    EXPECT_EQ((fsw_defaultPreHook<int>(&flag, 0)), 0u);
    EXPECT_EQ(flag, 0u);

    TempDir dir;
    const std::string missing = dir / "missing";
    const auto saved = fsw_openHooks;
    fsw_openHooks.post = &record;
    FswHandle h;
    EXPECT_EQ(fsw_open(&h, missing.c_str(), 0x11), 0x80000001u);
    EXPECT_EQ(g_postCalls, 0) << "the default pre-hook leaves the flag clear";
    fsw_openHooks.pre = &setFlag;
    EXPECT_EQ(fsw_open(&h, missing.c_str(), 0x11), 0x80000001u);
    EXPECT_EQ(g_postCalls, 1);
    EXPECT_EQ(g_postResult, 0x80000001u);
    EXPECT_EQ(g_postPath, missing.c_str());
    fsw_openHooks = saved;

    const auto savedFlush = fsw_flushHookPair;
    fsw_flushHookPair.pre = &countFlush;
    FswHandle invalid = FSW_INVALID_HANDLE;
    EXPECT_EQ(fsw_flushHooks(&invalid), 0u);
    EXPECT_EQ(fsw_flush(&invalid), 0x80000003u);
    EXPECT_EQ(g_flushPre, 1) << "only fsw_flushHooks runs the flush pair";
    fsw_flushHookPair = savedFlush;
    EXPECT_EQ(fsw_unsupported(), 0x80000100u);
}
