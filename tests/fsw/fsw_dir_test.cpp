// Folder creation, listings and recursive removal of the file API.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "fsw_TestSupport.h"
#include "fsw_api.h"

using fswtest::TempDir;

TEST(FswMakeDir, CreatesEveryFolderAndReportsWhetherAnyWasMade)
{
    TempDir dir;
    const std::string path = dir / "a/b/c/";
    EXPECT_EQ(fsw_makeDir(path.c_str()), 0u);
    struct stat st;
    ASSERT_EQ(::stat((dir / "a/b/c").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(fsw_makeDir(path.c_str()), 2u);
    EXPECT_EQ(fsw_makeDir((dir / "a//b/d").c_str()), 0u);
    EXPECT_TRUE(fswtest::exists(dir / "a/b/d"));

    // "\" is an ordinary name byte.
    EXPECT_EQ(fsw_makeDir((dir / "x\\y").c_str()), 0u);
    EXPECT_EQ(fswtest::listNames(dir.path()), (std::vector<std::string>{"a", "x\\y"}));

    ASSERT_TRUE(fswtest::writeFile(dir / "file", ""));
    EXPECT_EQ(fsw_makeDir((dir / "file").c_str()), 0x80000004u) << "a file is no existing folder";
    EXPECT_EQ(fsw_makeDir((dir / "file/sub").c_str()), 0x80000004u);
    EXPECT_EQ(fsw_makeDir(nullptr), 0x8000f000u);
}

TEST(FswMakeDir, RefusesPathsOf260BytesOrMore)
{
    TempDir dir;
    std::string path = dir.path() + "/";
    path += std::string(200 - path.size(), 'a') + "/";
    const std::string base = path;
    path += std::string(260 - path.size(), 'b');
    ASSERT_EQ(path.size(), 260u);
    EXPECT_EQ(fsw_makeDir(path.c_str()), 0x80000004u);
    EXPECT_FALSE(fswtest::exists(base));
    path.pop_back();
    EXPECT_EQ(fsw_makeDir(path.c_str()), 0u);
    EXPECT_TRUE(fswtest::exists(path));
}

TEST(FswListing, DotEntriesFirstThenByteOrderWithCutNames)
{
    TempDir dir;
    for (const char* name : {"b", "\xC3\xA4", "a", "C", ".h", "longname"}) {
        ASSERT_TRUE(fswtest::writeFile(dir / name, ""));
    }
    FswDir* listing = nullptr;
    ASSERT_EQ(fsw_openDir(&listing, dir.path().c_str()), 0u);
    std::vector<std::string> names;
    for (;;) {
        u32 size = 0;
        const u32 result = fsw_getDirEntryNameSize(listing, &size);
        if (result == 0x80000001u) {
            EXPECT_EQ(size, 0u);
            break;
        }
        ASSERT_EQ(result, 0u);
        char name[64];
        ASSERT_EQ(fsw_readDir(listing, name, sizeof name), 0u);
        EXPECT_EQ(std::string(name).size() + 1, size);
        names.emplace_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", ".h", "C", "a", "b", "longname", "\xC3\xA4"}));
    char name[8];
    EXPECT_EQ(fsw_readDir(listing, name, sizeof name), 0x80000001u);
    EXPECT_EQ(fsw_readDir(listing, name, 0), 0x8000f000u);
    EXPECT_EQ(fsw_readDir(listing, name, 0x80000000u), 0x8000f000u);
    EXPECT_EQ(fsw_closeDir(listing), 0u);

    ASSERT_EQ(fsw_openDir(&listing, dir.path().c_str()), 0u);
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(fsw_readDir(listing, name, sizeof name), 0u);
    }
    char cut[5];
    std::fill(std::begin(cut), std::end(cut), 'z');
    ASSERT_EQ(fsw_readDir(listing, cut, sizeof cut), 0u);
    EXPECT_EQ(std::string(cut, sizeof cut), std::string("long\0", 5));
    EXPECT_EQ(fsw_closeDir(listing), 0u);
}

TEST(FswListing, BadHandlesAndMissingFolders)
{
    TempDir dir;
    FswDir* listing = reinterpret_cast<FswDir*>(0x1);
    EXPECT_EQ(fsw_openDir(&listing, (dir / "missing").c_str()), 0x80000001u);
    EXPECT_EQ(listing, nullptr);
    ASSERT_TRUE(fswtest::writeFile(dir / "file", ""));
    EXPECT_EQ(fsw_openDir(&listing, (dir / "file").c_str()), 0x80000001u);
    EXPECT_EQ(fsw_openDir(nullptr, dir.path().c_str()), 0x8000f000u);
    char name[4];
    u32 size;
    EXPECT_EQ(fsw_readDir(nullptr, name, sizeof name), 0x80000003u);
    EXPECT_EQ(fsw_getDirEntryNameSize(nullptr, &size), 0x80000003u);
    EXPECT_EQ(fsw_closeDir(nullptr), 0x80000003u);
}

namespace {

void makeTree(const std::string& root)
{
    ASSERT_EQ(fsw_makeDir((root + "/a/b/c").c_str()), 0u);
    ASSERT_EQ(fsw_makeDir((root + "/empty").c_str()), 0u);
    ASSERT_TRUE(fswtest::writeFile(root + "/top.txt", "1"));
    ASSERT_TRUE(fswtest::writeFile(root + "/a/.hidden", "2"));
    ASSERT_TRUE(fswtest::writeFile(root + "/a/b/c/deep", "3"));
}

} // namespace

TEST(FswRemoveDir, RemovesNestedTreesAndReportsMissingFolders)
{
    TempDir dir;
    const std::string root = dir / "tree";
    makeTree(root);
    EXPECT_EQ(fsw_removeDir(root.c_str(), true), 0u);
    EXPECT_FALSE(fswtest::exists(root));
    EXPECT_EQ(fsw_removeDir(root.c_str(), true), 0x80000001u);
    EXPECT_EQ(fsw_removeDir(nullptr, true), 0x8000f000u);

    ASSERT_EQ(fsw_makeDir(root.c_str()), 0u);
    ASSERT_TRUE(fswtest::writeFile(root + "/f", ""));
    EXPECT_NE(fsw_removeDir(root.c_str(), false), 0u) << "a plain removal needs an empty folder";
    EXPECT_TRUE(fswtest::exists(root + "/f"));
    ASSERT_EQ(::unlink((root + "/f").c_str()), 0);
    EXPECT_EQ(fsw_removeDir(root.c_str(), false), 0u);
    EXPECT_FALSE(fswtest::exists(root));
}

TEST(FswRemoveDir, ReadOnlyFileStopsTheRemoval)
{
    TempDir dir;
    const std::string root = dir / "tree";
    makeTree(root);
    const std::string locked = root + "/a/b/locked";
    ASSERT_TRUE(fswtest::writeFile(locked, "keep"));
    ASSERT_EQ(fsw_setAttributes(FSW_ATTR_READONLY, locked.c_str()), 0u);
    EXPECT_EQ(fsw_removeDir(root.c_str(), true), 0x80000004u);
    EXPECT_TRUE(fswtest::exists(root));
    EXPECT_EQ(fswtest::readFile(locked), "keep");
}

TEST(FswRemoveDir, LinksInsideAreRemovedNeverFollowed)
{
    TempDir dir;
    const std::string outside = dir / "outside";
    ASSERT_EQ(fsw_makeDir((outside + "/sub").c_str()), 0u);
    ASSERT_TRUE(fswtest::writeFile(outside + "/precious", "p"));
    ASSERT_TRUE(fswtest::writeFile(outside + "/sub/more", "m"));
    ASSERT_TRUE(fswtest::writeFile(outside + "/locked", "l"));
    ASSERT_EQ(fsw_setAttributes(FSW_ATTR_READONLY, (outside + "/locked").c_str()), 0u);

    const std::string root = dir / "tree";
    makeTree(root);
    ASSERT_EQ(::symlink(outside.c_str(), (root + "/a/dirlink").c_str()), 0);
    ASSERT_EQ(::symlink((outside + "/locked").c_str(), (root + "/filelink").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent/x", (root + "/dangling").c_str()), 0);

    EXPECT_EQ(fsw_removeDir(root.c_str(), true), 0u);
    EXPECT_FALSE(fswtest::exists(root));
    EXPECT_EQ(fswtest::readFile(outside + "/precious"), "p");
    EXPECT_EQ(fswtest::readFile(outside + "/sub/more"), "m");
    EXPECT_EQ(fswtest::readFile(outside + "/locked"), "l");
}

TEST(FswRemoveDir, PathThatIsALinkRemovesOnlyTheLink)
{
    TempDir dir;
    const std::string target = dir / "target";
    makeTree(target);
    for (const bool recursive : {true, false}) {
        const std::string link = dir / "link";
        ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
        EXPECT_EQ(fsw_removeDir(link.c_str(), recursive), 0u);
        EXPECT_FALSE(fswtest::exists(link));
        EXPECT_EQ(fswtest::readFile(target + "/a/b/c/deep"), "3");
    }
}

TEST(FswRemoveTree, ClearsReadOnlyEntriesKeepsLinkTargetsAndReportsWhatStays)
{
    TempDir dir;
    const std::string outside = dir / "outside";
    ASSERT_EQ(fsw_makeDir(outside.c_str()), 0u);
    ASSERT_TRUE(fswtest::writeFile(outside + "/precious", "p"));

    const std::string root = dir / "tree";
    makeTree(root);
    ASSERT_TRUE(fswtest::writeFile(root + "/a/b/locked", "l"));
    ASSERT_EQ(fsw_setAttributes(FSW_ATTR_READONLY, (root + "/a/b/locked").c_str()), 0u);
    ASSERT_EQ(::chmod((root + "/a/b/c").c_str(), 0500), 0) << "a folder without write access";
    ASSERT_EQ(::symlink(outside.c_str(), (root + "/a/dirlink").c_str()), 0);

    struct Seen
    {
        std::vector<std::string> paths;
    } seen;
    auto record = [](const char* path, u32, void* context) { static_cast<Seen*>(context)->paths.emplace_back(path); };
    EXPECT_EQ(fsw_removeTree(root.c_str(), record, &seen), 0u);
    EXPECT_TRUE(seen.paths.empty());
    EXPECT_FALSE(fswtest::exists(root));
    EXPECT_EQ(fswtest::readFile(outside + "/precious"), "p");

    // A single read-only file, a link to a folder, and a missing path.
    ASSERT_TRUE(fswtest::writeFile(dir / "single", "s"));
    ASSERT_EQ(fsw_setAttributes(FSW_ATTR_READONLY, (dir / "single").c_str()), 0u);
    EXPECT_EQ(fsw_removeTree((dir / "single").c_str()), 0u);
    ASSERT_EQ(::symlink(outside.c_str(), (dir / "link").c_str()), 0);
    EXPECT_EQ(fsw_removeTree((dir / "link").c_str()), 0u);
    EXPECT_EQ(fswtest::readFile(outside + "/precious"), "p");
    EXPECT_EQ(fsw_removeTree((dir / "missing").c_str()), 0x80000001u);
    EXPECT_EQ(fsw_removeTree(nullptr), 0x8000f000u);
}
