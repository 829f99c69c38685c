// Virtual directories: listing, look-ups, folder changes, items and change reports through the real watcher.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "fcache_IniFile.h"
#include "fcache_VDir.h"
#include "fsw_TestSupport.h"
#include "klib_Print.h"

using FILECACHE::VDir;
using FILECACHE::VDirTreeItem;

namespace {

constexpr i32 kFailed = static_cast<i32>(0x80000000u);

using Events = std::vector<std::pair<u32, std::string>>;

class RecordingCallback : public FILECACHE::IVDirTreeCallback
{
public:
    void onTreeItemChanged(u32 event, const char* name) override
    {
        events.emplace_back(event, name == nullptr ? std::string("<null>") : std::string(name));
        if (then) {
            then(event);
        }
    }
    Events events;
    std::function<void(u32)> then;
};

std::vector<std::string> names(VDir& vdir)
{
    std::vector<std::string> out;
    for (auto it = vdir.begin(); it != vdir.end(); ++it) {
        out.push_back((*it)->getName());
    }
    return out;
}

u32 kindOf(VDir& vdir, const std::string& name)
{
    VDirTreeItem* item = vdir.itemNamed(name);
    return item == nullptr ? 99u : item->getKind();
}

void touch(const std::string& path, const std::string& content = "")
{
    ASSERT_TRUE(fswtest::writeFile(path, content)) << path;
}

// Captures what the debug print writes to standard output.
class Capture
{
public:
    Capture()
    {
        std::fflush(stdout);
        ::testing::internal::CaptureStdout();
    }
    std::string text()
    {
        std::fflush(stdout);
        return ::testing::internal::GetCapturedStdout();
    }
};

} // namespace

TEST(VDirListing, DotEntriesAreKeptOnlyWhenAsked)
{
    fswtest::TempDir dir;
    VDir with(true);
    ASSERT_EQ(with.open(dir.path().c_str(), 10, false), 0);
    EXPECT_EQ(names(with), (std::vector<std::string>{".", ".."}));
    EXPECT_EQ(kindOf(with, "."), 2u);
    EXPECT_EQ(kindOf(with, ".."), 2u);
    EXPECT_EQ(with.removeItem("..", true), kFailed); // never removes the parent through its dot entry
    EXPECT_TRUE(fswtest::exists(dir.path()));

    VDir without(false);
    ASSERT_EQ(without.open(dir.path().c_str(), 10, false), 0);
    EXPECT_EQ(without.getItemCount(), 0u);
    EXPECT_EQ(without.open(dir.path().c_str(), 0, false), kFailed);
}

TEST(VDirListing, OpenCreatesTheRootAndListsOneLevel)
{
    fswtest::TempDir dir;
    const std::string root = dir / "a/b/root";
    VDir vdir(false);
    ASSERT_EQ(vdir.open((root + "//./").c_str(), 10, true), 0);
    EXPECT_EQ(vdir.getRootPath(), root);
    EXPECT_EQ(vdir.getItemLimit(), 12u);
    ASSERT_EQ(::mkdir((root + "/sub").c_str(), 0755), 0);
    touch(root + "/sub/inner");
    touch(root + "/f.txt", "12345");
    ASSERT_EQ(vdir.refresh(false, nullptr), 0);
    EXPECT_EQ(names(vdir), (std::vector<std::string>{"f.txt", "sub"}));
    EXPECT_EQ(kindOf(vdir, "sub"), 2u);
    EXPECT_EQ(vdir.itemNamed("f.txt")->getSize(), 5u);
    // A second listing adds nothing twice; a listing of a sub-folder names its entries "sub/x".
    ASSERT_EQ(vdir.refresh(false, nullptr), 0);
    ASSERT_EQ(vdir.refresh(false, "sub"), 0);
    EXPECT_EQ(names(vdir), (std::vector<std::string>{"f.txt", "sub", "sub/inner"}));
    EXPECT_EQ(vdir.refresh(false, "../x"), kFailed);

    // Links are asked through their target; a dangling one is left out without ending the listing.
    ASSERT_EQ(::symlink("sub", (root + "/link-to-sub").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (root + "/dangling").c_str()), 0);
    touch(root + "/zz");
    ASSERT_EQ(vdir.refresh(false, nullptr), 0);
    EXPECT_EQ(kindOf(vdir, "link-to-sub"), 2u);
    EXPECT_EQ(vdir.itemNamed("dangling"), nullptr);
    EXPECT_EQ(kindOf(vdir, "zz"), 1u);
}

TEST(VDirListing, ItemLimitIsMaxItemsPlusTwo)
{
    fswtest::TempDir dir;
    touch(dir / "a");
    touch(dir / "b");
    VDir vdir(true);
    Capture capture;
    EXPECT_EQ(vdir.open(dir.path().c_str(), 1, false), 0);
    const std::string out = capture.text();
    EXPECT_EQ(vdir.getItemLimit(), 3u);
    EXPECT_EQ(names(vdir), (std::vector<std::string>{".", "..", "a"}));
    EXPECT_EQ(out, "[E] VDir::makeFile - too many files and directories!\n");
    const char* file = nullptr;
    u32 line = 0;
    klib_getPrintLocation(&file, &line);
    EXPECT_STREQ(file, "fcache_VDir.cpp");
}

TEST(VDirLookup, PatternsUseWildcardsButNamesAreExact)
{
    fswtest::TempDir dir;
    touch(dir / "axb", "keep");
    VDir vdir(false);
    ASSERT_EQ(vdir.open(dir.path().c_str(), 100, false), 0);
    for (const char* name : {"*", "a?c", "a*b", "abc", "ac", "x.ini", "y.ini"}) {
        touch(dir / name);
    }
    ASSERT_EQ(::mkdir((dir / "z.ini").c_str(), 0755), 0);
    ASSERT_EQ(vdir.refresh(false, nullptr), 0);
    ASSERT_EQ(names(vdir).front(), "axb"); // listed before the wildcard names

    // Names the item class refuses as file names are listed as kind-0 items.
    EXPECT_EQ(kindOf(vdir, "*"), 0u);
    EXPECT_EQ(kindOf(vdir, "a?c"), 0u);
    EXPECT_EQ(kindOf(vdir, "a*b"), 0u);
    EXPECT_EQ(kindOf(vdir, "axb"), 1u);

    for (const char* name : {"*", "a?c", "a*b"}) {
        EXPECT_EQ(vdir.removeItem(name, false), kFailed) << name;
        EXPECT_EQ(fswtest::readFile(dir / "axb").value_or(""), "keep") << name;
        EXPECT_NE(vdir.itemNamed("axb"), nullptr) << name;
    }
    EXPECT_EQ(vdir.removeItem("axb", false), 0);
    EXPECT_FALSE(fswtest::exists(dir / "axb"));
    EXPECT_TRUE(fswtest::exists(dir / "a*b"));
    EXPECT_EQ(vdir.itemNamed("axb"), nullptr);
    EXPECT_EQ(vdir.removeItem("axb", false), kFailed);

    auto it = vdir.findItem(1, "*.ini");
    ASSERT_NE(it, vdir.end());
    EXPECT_STREQ((*it)->getName(), "x.ini");
    it = vdir.findNextItem(1, "*.ini", std::next(it));
    ASSERT_NE(it, vdir.end());
    EXPECT_STREQ((*it)->getName(), "y.ini");
    EXPECT_EQ(vdir.findNextItem(1, "*.ini", std::next(it)), vdir.end());
    it = vdir.findItem(2, "*.ini");
    ASSERT_NE(it, vdir.end());
    EXPECT_STREQ((*it)->getName(), "z.ini");

    EXPECT_STREQ((*vdir.findItem(0, "a?c"))->getName(), "abc"); // kind-0 "a?c" is not a created item
    EXPECT_EQ(vdir.findItem(0, "ac?"), vdir.end());
    EXPECT_EQ(vdir.findItem(0, nullptr), vdir.end());
    EXPECT_EQ(vdir.findItem(3, "*"), vdir.end());

    EXPECT_TRUE(VDir::matches("a*b*c", "aXbYbZc"));
    EXPECT_TRUE(VDir::matches("*", ""));
    EXPECT_FALSE(VDir::matches("a*b", "aXc"));
    EXPECT_FALSE(VDir::matches("?", ""));
    EXPECT_TRUE(VDir::matches("**?", "q"));
}

TEST(VDirFolders, ChangeDirectoryStaysBelowTheRoot)
{
    fswtest::TempDir dir;
    const std::string root = dir / "root";
    VDir vdir(false);
    ASSERT_EQ(vdir.open(root.c_str(), 10, true), 0);
    ASSERT_EQ(::mkdir((root + "/sub").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((root + "/sub/deeper").c_str(), 0755), 0);
    touch(root + "/sub/f");
    touch(dir / "outside");

    EXPECT_EQ(vdir.changeDirectory(false, "..", false), kFailed);
    for (const char* escape : {"/../..", "/..", "sub/../..", "/sub/../../root", "../root", "/./.."}) {
        EXPECT_EQ(vdir.changeDirectory(false, escape, false), kFailed) << escape;
        EXPECT_EQ(vdir.getCurrentPath(), root) << escape;
    }
    EXPECT_EQ(vdir.changeDirectory(false, "missing", false), kFailed);
    EXPECT_EQ(vdir.changeDirectory(false, "sub/f", false), kFailed);

    ASSERT_EQ(vdir.changeDirectory(false, "sub", false), 0);
    EXPECT_EQ(vdir.getCurrentPath(), root + "/sub");
    EXPECT_EQ(names(vdir), (std::vector<std::string>{"deeper", "f"}));
    ASSERT_EQ(vdir.changeDirectory(false, "deeper", false), 0);
    ASSERT_EQ(vdir.changeDirectory(false, "..", false), 0);
    EXPECT_EQ(vdir.getCurrentPath(), root + "/sub");
    ASSERT_EQ(vdir.changeDirectory(false, "/sub/deeper", false), 0);
    EXPECT_EQ(vdir.getCurrentPath(), root + "/sub/deeper");
    ASSERT_EQ(vdir.changeDirectory(false, nullptr, false), 0);
    EXPECT_EQ(vdir.getCurrentPath(), root);

    EXPECT_EQ(VDir::normalise("/a//./b/../c/"), "/a/b/../c");
    EXPECT_EQ(VDir::normalise("./"), "");
}

TEST(VDirItems, NamesThatEscapeTheFolderAreRefused)
{
    fswtest::TempDir dir;
    const std::string root = dir / "root";
    VDir vdir(false);
    ASSERT_EQ(vdir.open(root.c_str(), 10, true), 0);
    touch(dir / "victim");
    for (const char* name : {"../victim", "/victim", "a/../../victim", ".."}) {
        EXPECT_EQ(vdir.makeFile(name, true), kFailed) << name;
        EXPECT_EQ(vdir.removeItem(name, true), kFailed) << name;
    }
    EXPECT_EQ(vdir.makeDir("../x", true), kFailed);
    EXPECT_EQ(vdir.makeDir(nullptr, true), kFailed);
    EXPECT_EQ(vdir.getItemCount(), 0u);
    EXPECT_TRUE(fswtest::exists(dir / "victim"));

    touch(root + "/f");
    ASSERT_EQ(vdir.makeFile("f", false), 0);
    VDirTreeItem* item = vdir.itemNamed("f");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->rename("../moved"), kFailed);
    EXPECT_EQ(item->copyTo("/etc-copy"), kFailed);
    EXPECT_TRUE(fswtest::exists(root + "/f"));
}

TEST(VDirItems, RenameAndCopyWithAnEmptyParentStayRelative)
{
    fswtest::TempDir dir;
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    VDirTreeItem item;
    ASSERT_EQ(item.create(nullptr, 1, "f", true), 0);
    EXPECT_TRUE(fswtest::exists(dir / "f"));
    EXPECT_EQ(item.getFullPath(), "f");
    EXPECT_GE(item.copyTo("copy"), 0);
    EXPECT_TRUE(fswtest::exists(dir / "copy"));
    EXPECT_GE(item.rename("g"), 0);
    EXPECT_STREQ(item.getName(), "g");
    EXPECT_TRUE(fswtest::exists(dir / "g"));
    EXPECT_FALSE(fswtest::exists("/g"));
    EXPECT_FALSE(fswtest::exists("/copy"));
}

TEST(VDirItems, FileItemsOpenReadWriteAndRenameOntoExisting)
{
    fswtest::TempDir dir;
    VDir vdir(false);
    ASSERT_EQ(vdir.open(dir.path().c_str(), 10, true), 0);
    ASSERT_EQ(vdir.makeDir("folder", true), kFailed); // attributes cannot be read: nothing is made
    touch(dir / "old", "old content");
    touch(dir / "new", "to be replaced");
    ASSERT_EQ(vdir.refresh(true, nullptr), 0);
    VDirTreeItem* item = vdir.itemNamed("new");
    ASSERT_NE(item, nullptr);
    ASSERT_EQ(item->open(2), 0);
    ASSERT_EQ(item->write("NEW", 3, nullptr), 0);
    EXPECT_EQ(item->tell(), 3u);
    ASSERT_EQ(item->close(), 0);

    VDirTreeItem* old = vdir.itemNamed("old");
    ASSERT_GE(old->rename("new"), 0);
    EXPECT_EQ(fswtest::readFile(dir / "new").value_or(""), "old content");
    EXPECT_EQ(vdir.itemNamed("old"), nullptr);
    EXPECT_EQ(vdir.itemNamed("new"), item); // the first item of that name in list order
    EXPECT_EQ(vdir.findItem(1, "old"), vdir.end());

    VDirTreeItem folderItem;
    ASSERT_EQ(folderItem.create(dir.path().c_str(), 2, "made/here", true), 0);
    EXPECT_TRUE(fswtest::exists(dir / "made/here"));
    EXPECT_EQ(folderItem.open(3), kFailed);
    EXPECT_EQ(folderItem.tell(), 0x80000000u);
}

// ---------------------------------------------------------------------------------------------------------------
// Watching
// ---------------------------------------------------------------------------------------------------------------
TEST(VDirWatch, EventsThroughTheRealWatcher)
{
    fswtest::TempDir dir;
    const std::string root = dir / "root";
    VDir vdir(false);
    ASSERT_EQ(vdir.open(root.c_str(), 100, true), 0);
    ASSERT_EQ(::mkdir((root + "/sub").c_str(), 0755), 0);
    RecordingCallback callback;
    ASSERT_EQ(vdir.startWatching(&callback, true), 0);
    EXPECT_EQ(vdir.startWatching(&callback, false), 0);

    touch(root + "/f");
    ASSERT_EQ(vdir.checkModification(), 0);
    touch(root + "/f", "more");
    ASSERT_EQ(vdir.checkModification(), 0);
    EXPECT_EQ(kindOf(vdir, "f"), 1u);
    ASSERT_EQ(std::rename((root + "/f").c_str(), (root + "/g").c_str()), 0);
    ASSERT_EQ(vdir.checkModification(), 0);
    touch(root + "/sub/inner");
    ASSERT_EQ(vdir.checkModification(), 0);
    EXPECT_EQ(kindOf(vdir, "sub/inner"), 1u);
    EXPECT_EQ(callback.events, (Events{{1, "f"}, {3, "f"}, {2, "f"}, {1, "g"}, {1, "sub/inner"}}));
    EXPECT_EQ(names(vdir), (std::vector<std::string>{"sub", "g", "sub/inner"}));

    callback.events.clear();
    ASSERT_EQ(vdir.changeDirectory(false, "sub", false), 0);
    EXPECT_EQ(callback.events, (Events{{4, "<null>"}}));
    EXPECT_TRUE(vdir.isWatching());
    touch(root + "/sub/x");
    touch(root + "/ignored-now");
    ASSERT_EQ(vdir.checkModification(), 0);
    EXPECT_EQ(callback.events, (Events{{4, "<null>"}, {1, "x"}}));

    // The watched folder disappears: the directory is listed again from scratch.
    callback.events.clear();
    ASSERT_EQ(std::remove((root + "/sub/x").c_str()), 0);
    ASSERT_EQ(std::remove((root + "/sub/inner").c_str()), 0);
    ASSERT_EQ(::rmdir((root + "/sub").c_str()), 0);
    Capture capture;
    ASSERT_EQ(vdir.checkModification(), 0);
    EXPECT_EQ(capture.text(), "[E] VDir::refresh - cannot open a directory!\n");
    ASSERT_FALSE(callback.events.empty());
    EXPECT_EQ(callback.events.back(), (Events::value_type{5, ""}));
    EXPECT_EQ(vdir.getItemCount(), 0u);
}

TEST(VDirWatch, ReportsForUnknownNamesAndEscapingNames)
{
    fswtest::TempDir dir;
    VDir vdir(false);
    ASSERT_EQ(vdir.open(dir.path().c_str(), 10, false), 0);
    RecordingCallback callback;
    ASSERT_EQ(vdir.startWatching(&callback, false), 0);
    const u32 id = vdir.getWatchId();
    touch(dir / "late");

    vdir.onFileChanged(id, dir.path(), "never-there", 2);
    vdir.onFileChanged(id, dir.path(), "late", 4);
    vdir.onFileChanged(id, dir.path(), "ghost", 4); // reported, but gone: not re-created on disk
    vdir.onFileChanged(id, dir.path(), "../late", 1);
    vdir.onFileChanged(id, dir.path(), "/etc", 1);
    vdir.onFileChanged(id, dir.path(), "", 1);
    vdir.onFileChanged(id, dir.path() + "/other", "late", 2);
    vdir.onFileChanged(id + 1, dir.path(), "late", 2);
    EXPECT_EQ(callback.events, (Events{{2, "never-there"}, {3, "late"}, {3, "ghost"}}));
    EXPECT_EQ(kindOf(vdir, "late"), 1u);
    EXPECT_EQ(vdir.itemNamed("ghost"), nullptr);
    EXPECT_FALSE(fswtest::exists(dir / "ghost"));
}

TEST(VDirWatch, LogLinesAreExact)
{
    fswtest::TempDir dir;
    VDir vdir(false);
    ASSERT_EQ(vdir.open(dir.path().c_str(), 10, false), 0);
    RecordingCallback callback;
    {
        Capture capture;
        EXPECT_EQ(vdir.startWatching(&callback, false), 0);
        EXPECT_EQ(vdir.stopWatching(), 0);
        EXPECT_EQ(vdir.stopWatching(), kFailed);
        EXPECT_EQ(capture.text(), "[i] VDir::startWatching - start to watch changes of \"" + dir.path() +
                                      "\".\n[i] VDir::stopWatching - stop to watch changes of \"" + dir.path() +
                                      "\".\n");
    }
    ASSERT_EQ(::rmdir(dir.path().c_str()), 0);
    {
        Capture capture;
        EXPECT_EQ(vdir.startWatching(&callback, false), kFailed);
        EXPECT_FALSE(vdir.isWatching());
        EXPECT_EQ(capture.text(),
                  "[E] VDir::startWatching - cannot add a watching record of \"" + dir.path() + "\"!\n");
    }
    ASSERT_EQ(::mkdir(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(vdir.startWatching(&callback, false), 0);
    callback.then = [](u32) { throw std::runtime_error("listener failure"); };
    touch(dir / "x");
    {
        Capture capture;
        EXPECT_EQ(vdir.checkModification(), kFailed);
        EXPECT_EQ(capture.text(), "[E] VDir::checkModification - an error happened.\n");
    }
}

TEST(VDirWatch, CallbacksMayMoveOrStopTheWatch)
{
    fswtest::TempDir dir;
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
    VDir vdir(false);
    ASSERT_EQ(vdir.open(dir.path().c_str(), 100, false), 0);
    RecordingCallback callback;
    ASSERT_EQ(vdir.startWatching(&callback, false), 0);
    callback.then = [&](u32 event) {
        if (event == 1) {
            vdir.changeDirectory(false, "sub", false);
        }
    };
    for (const char* name : {"a", "b", "c"}) {
        touch(dir / name);
    }
    ASSERT_EQ(vdir.checkModification(), 0);
    EXPECT_EQ(callback.events, (Events{{1, "a"}, {4, "<null>"}}));
    EXPECT_EQ(vdir.getCurrentPath(), dir / "sub");

    callback.events.clear();
    callback.then = [&](u32) { vdir.stopWatching(); };
    touch(dir / "sub/1");
    touch(dir / "sub/2");
    ASSERT_EQ(vdir.checkModification(), 0);
    EXPECT_EQ(callback.events, (Events{{1, "1"}}));
    EXPECT_FALSE(vdir.isWatching());
}

TEST(VDirWatch, IniItemsReloadWhenTheirFileChanges)
{
    fswtest::TempDir dir;
    touch(dir / "settings.ini", "[S]\nk = 1\n");
    VDir vdir(false);
    vdir.registerFactory("ini", &FILECACHE::IniFile::createItem);
    ASSERT_EQ(vdir.open(dir.path().c_str(), 10, false), 0);
    auto* ini = dynamic_cast<FILECACHE::IniFile*>(vdir.itemNamed("settings.ini"));
    ASSERT_NE(ini, nullptr);
    ASSERT_EQ(ini->load(), 0);
    EXPECT_STREQ(ini->getValue("S", "k", "-"), "1");
    RecordingCallback callback;
    ASSERT_EQ(vdir.startWatching(&callback, false), 0);

    touch(dir / "settings.ini", "[S]\nk = 2\n");
    ASSERT_EQ(vdir.checkModification(), 0);
    EXPECT_STREQ(ini->getValue("S", "k", "-"), "2");

    // An atomic save by another writer is a modification too.
    FILECACHE::IniFile writer;
    ASSERT_EQ(writer.open(dir.path().c_str(), 1, "settings.ini"), 0);
    ASSERT_EQ(writer.setValue("S", "k", "3"), 0);
    ASSERT_EQ(writer.save(false), 0);
    ASSERT_EQ(vdir.checkModification(), 0);
    EXPECT_STREQ(ini->getValue("S", "k", "-"), "3");
    EXPECT_EQ(callback.events, (Events{{3, "settings.ini"}, {3, "settings.ini"}}));
    EXPECT_EQ(vdir.getItemCount(), 1u);
}
