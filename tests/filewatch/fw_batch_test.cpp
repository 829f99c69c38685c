// The event-buffer processor fed with synthetic inotify records.
#include <sys/inotify.h>

#include <gtest/gtest.h>

#include "fsw_TestSupport.h"
#include "fw_FileWatcher.h"
#include "fw_TestListener.h"

using fwtest::appendEvent;
using fwtest::RecordingListener;
using fwtest::Seen;

namespace {

class BatchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        id = impl().watchDirectory(dir.path(), &listener);
        wd = impl().rootDescriptor(id);
        ASSERT_GE(wd, 0);
    }

    FW::FileWatcherLinux& impl() { return watcher.impl(); }

    Seen process(const std::vector<unsigned char>& buffer)
    {
        listener.clear();
        // An exact-size heap copy, so that any read past the end is caught.
        std::vector<unsigned char> exact(buffer);
        impl().processBuffer(exact.data(), exact.size());
        return listener.seen();
    }

    fswtest::TempDir dir;
    FW::FileWatcher watcher;
    RecordingListener listener;
    u32 id = 0;
    int wd = -1;
};

} // namespace

TEST_F(BatchTest, EventKindsMapToActions)
{
    std::vector<unsigned char> b;
    appendEvent(b, wd, IN_CREATE, 0, "c");
    appendEvent(b, wd, IN_MOVED_TO, 5, "t");
    appendEvent(b, wd, IN_DELETE, 0, "d");
    appendEvent(b, wd, IN_MOVED_FROM, 6, "f");
    appendEvent(b, wd, IN_MODIFY, 0, "m");
    appendEvent(b, wd, IN_ATTRIB, 0, "a");
    appendEvent(b, wd, IN_ACCESS, 0, "r");           // not subscribed: nothing
    appendEvent(b, wd, IN_ATTRIB | IN_ISDIR, 0, ""); // the folder itself: nothing
    appendEvent(b, wd + 100, IN_CREATE, 0, "x");     // unknown watch: nothing
    EXPECT_EQ(process(b), (Seen{{1, "c"}, {1, "t"}, {2, "d"}, {2, "f"}, {4, "m"}, {4, "a"}}));
}

// The kernel names entries with one component; a record naming "..", "." or a path is not from it and must not
// lead the watcher out of its folder.
TEST_F(BatchTest, NamesThatAreNoEntryNamesAreIgnored)
{
    std::vector<unsigned char> b;
    for (const char* name : {"..", ".", "../..", "a/b", "/etc"}) {
        appendEvent(b, wd, IN_CREATE | IN_ISDIR, 0, name);
    }
    appendEvent(b, wd, IN_CREATE, 0, "kept");
    EXPECT_EQ(process(b), (Seen{{1, "kept"}}));
}

TEST_F(BatchTest, OverflowReportsLostChangesToEveryRecord)
{
    fswtest::TempDir other;
    RecordingListener second;
    const u32 id2 = impl().watchDirectory(other.path(), &second);
    std::vector<unsigned char> b;
    appendEvent(b, wd, IN_CREATE, 0, "before");
    appendEvent(b, -1, IN_Q_OVERFLOW, 0, "");
    EXPECT_EQ(process(b), (Seen{{1, "before"}, {8, ""}}));
    ASSERT_EQ(second.changes.size(), 1u);
    EXPECT_EQ(second.changes[0], (fwtest::Change{id2, other.path(), "", 8}));
}

TEST_F(BatchTest, IdenticalConsecutiveEventsGiveOneReport)
{
    std::vector<unsigned char> b;
    appendEvent(b, wd, IN_MODIFY, 0, "f");
    appendEvent(b, wd, IN_MODIFY, 0, "f");
    appendEvent(b, wd, IN_ATTRIB, 0, "f"); // same report again
    appendEvent(b, wd, IN_MODIFY, 0, "g");
    appendEvent(b, wd, IN_MODIFY, 0, "f"); // not consecutive: reported
    EXPECT_EQ(process(b), (Seen{{4, "f"}, {4, "g"}, {4, "f"}}));
}

TEST_F(BatchTest, PaddedNamesAreTrimmed)
{
    std::vector<unsigned char> b;
    appendEvent(b, wd, IN_CREATE, 0, "abc", 32);
    appendEvent(b, wd, IN_CREATE, 0, "0123456789abcdef", 17);
    EXPECT_EQ(process(b), (Seen{{1, "abc"}, {1, "0123456789abcdef"}}));
}

TEST_F(BatchTest, TemporaryNamesOfAtomicSavesAreHidden)
{
    std::vector<unsigned char> b;
    appendEvent(b, wd, IN_CREATE, 0, ".s.ini.tmp-123");
    appendEvent(b, wd, IN_MODIFY, 0, ".s.ini.tmp-123");
    appendEvent(b, wd, IN_MOVED_FROM, 77, ".s.ini.tmp-123");
    appendEvent(b, wd, IN_MOVED_TO, 77, "s.ini");
    appendEvent(b, wd, IN_MOVED_FROM, 78, "u");
    appendEvent(b, wd, IN_MOVED_TO, 78, "v");
    appendEvent(b, wd, IN_MOVED_TO, 77, "w");   // the cookie was used up
    appendEvent(b, wd, IN_CREATE, 0, ".tmp-x"); // not a temporary name of the file API
    EXPECT_EQ(process(b), (Seen{{4, "s.ini"}, {2, "u"}, {1, "v"}, {1, "w"}, {1, ".tmp-x"}}));
}

TEST_F(BatchTest, CutBuffersAreNeverReadBeyondTheirEnd)
{
    std::vector<unsigned char> b;
    std::vector<size_t> ends;
    const char* names[] = {"a", "bb", "a-long-name-over-16", "", "c"};
    for (int i = 0; i < 5; ++i) {
        appendEvent(b, wd, IN_CREATE, 0, names[i], i == 2 ? 48 : 0);
        ends.push_back(b.size());
    }
    for (size_t cut = 0; cut <= b.size(); ++cut) {
        listener.clear();
        std::vector<unsigned char> exact(b.begin(), b.begin() + static_cast<long>(cut));
        impl().processBuffer(exact.data(), exact.size());
        size_t expected = 0;
        for (size_t i = 0; i < ends.size(); ++i) {
            if (ends[i] <= cut && names[i][0] != 0) {
                ++expected;
            }
        }
        EXPECT_EQ(listener.changes.size(), expected) << "cut at " << cut;
    }
}

TEST_F(BatchTest, NameLengthsPastTheEndStopTheBuffer)
{
    for (long length : {1L, 16L, 1000L, 0x7FFFFFFFL, 0xFFFFFFFFL}) {
        std::vector<unsigned char> b;
        appendEvent(b, wd, IN_CREATE, 0, "ok");
        appendEvent(b, wd, IN_CREATE, 0, "", 0, length);
        EXPECT_EQ(process(b), (Seen{{1, "ok"}})) << length;
    }
    impl().processBuffer(nullptr, 100);
}

TEST_F(BatchTest, UnwatchingInsideACallbackStopsDeliveryToThatRecord)
{
    std::vector<unsigned char> b;
    for (const char* name : {"1", "2", "3"}) {
        appendEvent(b, wd, IN_CREATE, 0, name);
    }
    appendEvent(b, -1, IN_Q_OVERFLOW, 0, "");
    int calls = 0;
    listener.onChange = [&](const fwtest::Change& c) {
        ++calls;
        EXPECT_EQ(c.folder, dir.path());
        watcher.unwatch(id);
        watcher.poll(); // a nested poll is refused, not run over the same buffer
    };
    EXPECT_EQ(process(b), (Seen{{1, "1"}}));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(impl().recordCount(), 0u);
}
