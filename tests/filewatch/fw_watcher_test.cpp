// The watcher on real temporary folders.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "fcache_BinaryAccessor.h"
#include "fsw_TestSupport.h"
#include "fw_FileWatcher.h"
#include "fw_TestListener.h"

using fwtest::RecordingListener;
using fwtest::Seen;

namespace {

void touch(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0) << path;
    ::close(fd);
}

void append(const std::string& path, const std::string& text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
}

class WatcherTest : public ::testing::Test
{
protected:
    Seen pollSeen()
    {
        listener.clear();
        watcher.poll();
        return listener.seen();
    }

    fswtest::TempDir dir;
    FW::FileWatcher watcher;
    RecordingListener listener;
};

} // namespace

TEST_F(WatcherTest, CreateWriteRenameDeleteAreReportedInOrder)
{
    const u32 id = watcher.watchDirectory(dir.path(), &listener);
    EXPECT_EQ(id, 1u);

    touch(dir / "a");
    EXPECT_EQ(pollSeen(), (Seen{{1, "a"}}));
    ASSERT_EQ(listener.changes[0].id, id);
    EXPECT_EQ(listener.changes[0].folder, dir.path());

    append(dir / "a", "data");
    EXPECT_EQ(pollSeen(), (Seen{{4, "a"}}));

    ASSERT_EQ(std::rename((dir / "a").c_str(), (dir / "b").c_str()), 0);
    EXPECT_EQ(pollSeen(), (Seen{{2, "a"}, {1, "b"}}));

    ASSERT_EQ(::unlink((dir / "b").c_str()), 0);
    EXPECT_EQ(pollSeen(), (Seen{{2, "b"}}));
}

TEST_F(WatcherTest, QuietFolderAndReadsReportNothing)
{
    ASSERT_TRUE(fswtest::writeFile(dir / "f", "some content"));
    ASSERT_TRUE(fswtest::writeFile(dir / "g", "x"));
    watcher.watchDirectory(dir.path(), &listener);
    EXPECT_TRUE(pollSeen().empty());

    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(fswtest::readFile(dir / "f").has_value());
        FILECACHE::FileAccessor file;
        ASSERT_EQ(file.open((dir / "g").c_str(), FILECACHE::FileAccessor::kModeRead), 0);
        char buffer[8];
        u32 got = 0;
        EXPECT_GE(file.read(buffer, sizeof(buffer), &got), 0);
        EXPECT_EQ(got, 1u);
    }
    EXPECT_TRUE(pollSeen().empty());
}

TEST_F(WatcherTest, SubFolderEntriesAreNamedWithTheirFolder)
{
    ASSERT_EQ(::mkdir((dir / "s").c_str(), 0755), 0);
    watcher.watchDirectory(dir.path(), &listener);

    touch(dir / "s/f");
    EXPECT_EQ(pollSeen(), (Seen{{1, "s/f"}}));

    // The file inside s2 exists before the watcher has seen s2: it is found by listing s2 once.
    ASSERT_EQ(::mkdir((dir / "s2").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir / "s2/t").c_str(), 0755), 0);
    touch(dir / "s2/g");
    touch(dir / "s2/t/h");
    Seen seen = pollSeen();
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (Seen{{1, "s2"}, {1, "s2/g"}, {1, "s2/t"}, {1, "s2/t/h"}}));

    // And the new folders are watched from now on.
    append(dir / "s2/g", "x");
    append(dir / "s2/t/h", "y");
    EXPECT_EQ(pollSeen(), (Seen{{4, "s2/g"}, {4, "s2/t/h"}}));

    // A folder moved away takes its watch with it: changes in its new place are not reported.
    fswtest::TempDir elsewhere;
    ASSERT_EQ(std::rename((dir / "s2").c_str(), (elsewhere / "s2").c_str()), 0);
    EXPECT_EQ(pollSeen(), (Seen{{2, "s2"}}));
    append(elsewhere / "s2/g", "z");
    touch(elsewhere / "s2/t/new");
    EXPECT_TRUE(pollSeen().empty());
}

TEST_F(WatcherTest, BackslashIsAnOrdinaryNameCharacter)
{
    watcher.watchDirectory(dir.path(), &listener);
    touch(dir / "a\\b");
    EXPECT_EQ(pollSeen(), (Seen{{1, "a\\b"}}));
}

TEST_F(WatcherTest, AtomicReplacementLooksLikeAnInPlaceWrite)
{
    ASSERT_TRUE(fswtest::writeFile(dir / "x.ini", "old"));
    watcher.watchDirectory(dir.path(), &listener);
    FILECACHE::FileAccessor file;
    ASSERT_EQ(file.beginReplace((dir / "x.ini").c_str()), 0);
    ASSERT_EQ(file.write("new", 3, nullptr), 0);
    ASSERT_EQ(file.commitReplace(), 0);
    EXPECT_EQ(pollSeen(), (Seen{{4, "x.ini"}}));
}

TEST_F(WatcherTest, FailedWatchesThrowAndStillUseAnId)
{
    EXPECT_EQ(watcher.watchDirectory(dir.path(), &listener), 1u);
    const std::string missing = dir / "missing";
    try {
        watcher.watchDirectory(missing, &listener);
        FAIL() << "no exception";
    } catch (const FW::FileNotFoundException& e) {
        EXPECT_EQ(std::string(e.what()), "File not found (" + missing + ")");
    }
    ASSERT_TRUE(fswtest::writeFile(dir / "plain", "x"));
    try {
        watcher.watchDirectory(dir / "plain", &listener);
        FAIL() << "no exception";
    } catch (const FW::Exception& e) {
        EXPECT_EQ(std::string(e.what()), "File not found (" + (dir / "plain") + ")");
    }
    EXPECT_EQ(watcher.watchDirectory(dir.path(), &listener), 4u);
    EXPECT_EQ(watcher.impl().recordCount(), 2u);
}

TEST_F(WatcherTest, UnwatchIsSynchronousAndIdempotent)
{
    const u32 id = watcher.watchDirectory(dir.path(), &listener);
    touch(dir / "before");
    watcher.unwatch(id);
    watcher.unwatch(id);
    watcher.unwatch(12345);
    EXPECT_TRUE(pollSeen().empty()); // the queued change is not delivered after unwatch
    touch(dir / "after");
    EXPECT_TRUE(pollSeen().empty());
    EXPECT_EQ(watcher.impl().recordCount(), 0u);
}

TEST_F(WatcherTest, UnwatchFolderMatchesTheTextExactly)
{
    // The same folder under two spellings shares one inotify watch; dropping one record keeps the other.
    const std::string spelt = dir.path() + "/";
    const u32 a = watcher.watchDirectory(dir.path(), &listener);
    const u32 b = watcher.watchDirectory(spelt, &listener);
    watcher.unwatchFolder(dir.path() + "//");
    watcher.unwatchFolder("");
    EXPECT_EQ(watcher.impl().recordCount(), 2u);

    watcher.unwatchFolder(spelt);
    EXPECT_EQ(watcher.impl().recordCount(), 1u);
    touch(dir / "f");
    pollSeen();
    ASSERT_EQ(listener.changes.size(), 1u);
    EXPECT_EQ(listener.changes[0], (fwtest::Change{a, dir.path(), "f", 1}));
    EXPECT_NE(a, b);
}

TEST_F(WatcherTest, ListenersMayUnwatchRecordsDuringDelivery)
{
    fswtest::TempDir other;
    RecordingListener second;
    const u32 a = watcher.watchDirectory(dir.path(), &listener);
    const u32 b = watcher.watchDirectory(other.path(), &second);
    const u32 shared = watcher.watchDirectory(dir.path(), &second); // same folder, same inotify watch
    listener.onChange = [&](const fwtest::Change&) {
        watcher.unwatch(a);      // its own record, whose folder text is still being used
        watcher.unwatch(b);      // another record
        watcher.unwatch(shared); // another record on the very same watch descriptor
    };
    for (const char* name : {"1", "2", "3"}) {
        touch(dir / name);
        touch(other / name);
    }
    watcher.poll();
    EXPECT_EQ(listener.seen(), (Seen{{1, "1"}}));
    EXPECT_TRUE(second.changes.empty());
    EXPECT_EQ(watcher.impl().recordCount(), 0u);
    touch(dir / "4");
    watcher.poll();
    EXPECT_EQ(listener.changes.size(), 1u);
}

TEST_F(WatcherTest, RemovingTheWatchedFolderReportsLostChanges)
{
    fswtest::TempDir parent;
    const std::string root = parent / "root";
    ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((root + "/s").c_str(), 0755), 0);
    watcher.watchDirectory(root, &listener);
    ASSERT_EQ(::rmdir((root + "/s").c_str()), 0);
    ASSERT_EQ(::rmdir(root.c_str()), 0);
    const Seen seen = pollSeen();
    EXPECT_EQ(seen, (Seen{{2, "s"}, {8, ""}}));
    EXPECT_EQ(watcher.impl().rootDescriptor(1), -1);
    // A new folder of the same name is not watched by the old record.
    ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
    touch(root + "/x");
    EXPECT_TRUE(pollSeen().empty());
}
