// FileAccessor: members, replacement and the static path helpers.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "fcache_BinaryAccessor.h"
#include "fsw_TestSupport.h"

using FILECACHE::FileAccessor;
using fswtest::TempDir;

namespace {

constexpr i32 kNotOpen = static_cast<i32>(0x80000003u);
constexpr i32 kBadArgument = static_cast<i32>(0x8000F000u);
constexpr i32 kNotFound = static_cast<i32>(0x80000001u);
constexpr i32 kAccess = static_cast<i32>(0x80000005u);

size_t openDescriptors()
{
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

std::string readAll(FileAccessor& file)
{
    std::string content;
    char buffer[64];
    u32 got = 0;
    while (file.read(buffer, sizeof buffer, &got) == 0) {
        content.append(buffer, got);
    }
    return content;
}

time_t utc(int year, int month, int day, int hour, int minute, int second)
{
    struct tm parts
    {
    };
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return ::timegm(&parts);
}

} // namespace

TEST(FileAccessor, ModesOnExistingAndMissingFiles)
{
    TempDir dir;
    const std::string existing = dir / "existing";
    for (u32 mode = 0; mode <= 3; ++mode) {
        ASSERT_TRUE(fswtest::writeFile(existing, "content"));
        FileAccessor file;
        ASSERT_EQ(file.open(existing.c_str(), mode), 0) << mode;
        EXPECT_EQ(readAll(file), mode == 0 ? "" : "content") << mode;
        u32 put = 0;
        EXPECT_EQ(file.write("x", 1, &put) == 0, mode != 3) << mode;
        EXPECT_EQ(file.close(), 0);

        const std::string missing = dir / ("missing" + std::to_string(mode));
        FileAccessor other;
        EXPECT_EQ(other.open(missing.c_str(), mode), mode <= 1 ? 0 : kNotFound) << mode;
        EXPECT_EQ(other.isOpen(), mode <= 1);
        EXPECT_EQ(fswtest::exists(missing), mode <= 1);
    }
    FileAccessor file;
    EXPECT_EQ(file.open(existing.c_str(), 4), kBadArgument);
    EXPECT_EQ(file.open(nullptr, 3), kBadArgument);
    EXPECT_FALSE(file.isOpen());
}

TEST(FileAccessor, SecondOpenIsRefusedAndTheFirstFileStaysUsable)
{
    TempDir dir;
    ASSERT_TRUE(fswtest::writeFile(dir / "a", "first"));
    ASSERT_TRUE(fswtest::writeFile(dir / "b", "second"));
    FileAccessor file;
    ASSERT_EQ(file.open((dir / "a").c_str(), 3), 0);
    EXPECT_EQ(file.open((dir / "b").c_str(), 3), kNotOpen);
    EXPECT_EQ(readAll(file), "first");
}

TEST(FileAccessor, EveryCallWhileNotOpenIsRefused)
{
    FileAccessor file;
    char buffer[4];
    u32 count = 9;
    EXPECT_EQ(file.read(buffer, 4, &count), kNotOpen);
    EXPECT_EQ(count, 0u);
    count = 9;
    EXPECT_EQ(file.write(buffer, 4, &count), kNotOpen);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(file.seek(0, 0), kNotOpen);
    EXPECT_EQ(file.tell(), 0u);
    EXPECT_EQ(file.flush(), kNotOpen);
    EXPECT_EQ(file.close(), kNotOpen);
    u64 size = 1;
    EXPECT_EQ(file.getSize(&size), kNotOpen);
    EXPECT_EQ(file.commitReplace(), kNotOpen);
    EXPECT_EQ(file.abortReplace(), kNotOpen);
}

TEST(FileAccessor, UnsignedSeeksNeverMoveBackwards)
{
    TempDir dir;
    FileAccessor file;
    ASSERT_EQ(file.open((dir / "f").c_str(), 0), 0);
    const std::string content(40, 'x');
    ASSERT_EQ(file.write(content.data(), 40, nullptr), 0);

    EXPECT_EQ(file.seek(0, 0x80000000u), 0);
    EXPECT_EQ(file.tell(), 0x80000000u);

    ASSERT_EQ(file.seek(0, 36), 0);
    EXPECT_EQ(file.seek(1, 0xFFFFFFDCu), static_cast<i32>(0x80000012u));
    EXPECT_EQ(file.tell(), 36u);
    EXPECT_EQ(file.seek(2, 0xFFFFFFFFu), static_cast<i32>(0x80000012u));
    EXPECT_EQ(file.tell(), 36u);
    EXPECT_EQ(file.seek(1, 4), 0);
    EXPECT_EQ(file.tell(), 40u);
    EXPECT_EQ(file.seek(2, 0), 0);
    EXPECT_EQ(file.tell(), 40u);
    EXPECT_EQ(file.seek(0, 0xFFFFFFFFu), 0);
    EXPECT_EQ(file.tell(), 0xFFFFFFFFu);
    EXPECT_EQ(file.seek(3, 0), kBadArgument);
    u64 size = 0;
    EXPECT_EQ(file.getSize(&size), 0);
    EXPECT_EQ(size, 40u);
    EXPECT_EQ(file.flush(), 0);
}

TEST(FileAccessor, CloseForgetsTheHandleAndTheDestructorCloses)
{
    TempDir dir;
    const std::string path = dir / "f";
    FileAccessor file;
    ASSERT_EQ(file.open(path.c_str(), 0), 0);
    ASSERT_EQ(::unlink(path.c_str()), 0);
    EXPECT_EQ(file.close(), 0);
    EXPECT_EQ(file.close(), kNotOpen);

    const size_t before = openDescriptors();
    {
        FileAccessor scoped;
        ASSERT_EQ(scoped.open(path.c_str(), 0), 0);
        EXPECT_EQ(openDescriptors(), before + 1);
    }
    EXPECT_EQ(openDescriptors(), before);
}

TEST(FileAccessor, ReplacementKeepsTheOldFileUntilCommit)
{
    TempDir dir;
    const std::string target = dir / "image.bup";
    ASSERT_TRUE(fswtest::writeFile(target, "old"));
    {
        FileAccessor file;
        ASSERT_EQ(file.beginReplace(target.c_str()), 0);
        EXPECT_TRUE(file.isOpen());
        EXPECT_TRUE(file.isReplacing());
        EXPECT_EQ(file.open(target.c_str(), 3), kNotOpen);
        ASSERT_EQ(file.write("new image", 9, nullptr), 0);
        ASSERT_EQ(file.seek(0, 4), 0);
        ASSERT_EQ(file.write("IMAGE", 5, nullptr), 0);
        EXPECT_EQ(fswtest::readFile(target), "old");
        EXPECT_EQ(file.commitReplace(), 0);
        EXPECT_FALSE(file.isOpen());
    }
    EXPECT_EQ(fswtest::readFile(target), "new IMAGE");
    EXPECT_EQ(fswtest::listNames(dir.path()).size(), 1u);

    {
        FileAccessor file; // abandoned by the destructor
        ASSERT_EQ(file.beginReplace(target.c_str()), 0);
        ASSERT_EQ(file.write("partial", 7, nullptr), 0);
    }
    {
        FileAccessor file; // abandoned by close
        ASSERT_EQ(file.beginReplace(target.c_str()), 0);
        ASSERT_EQ(file.write("partial", 7, nullptr), 0);
        EXPECT_EQ(file.close(), 0);
        EXPECT_FALSE(file.isReplacing());
    }
    EXPECT_EQ(fswtest::readFile(target), "new IMAGE");
    EXPECT_EQ(fswtest::listNames(dir.path()).size(), 1u);

    ASSERT_EQ(FileAccessor::setAttributes(target.c_str(), true, false, false), 0);
    FileAccessor file;
    EXPECT_EQ(file.beginReplace(target.c_str()), kAccess);
    EXPECT_FALSE(file.isOpen());
}

TEST(FileAccessorStatics, AttributesSizeAndExistence)
{
    TempDir dir;
    const std::string file = dir / ".f";
    ASSERT_TRUE(fswtest::writeFile(file, "12345"));
    EXPECT_TRUE(FileAccessor::exists(file.c_str()));
    EXPECT_FALSE(FileAccessor::exists((dir / "missing").c_str()));
    EXPECT_FALSE(FileAccessor::exists(nullptr));
    EXPECT_EQ(FileAccessor::getFileSize(file.c_str()), 5u);
    EXPECT_EQ(FileAccessor::getFileSize((dir / "missing").c_str()), 0u);

    bool readOnly = true, hidden = false, system = true, isDirectory = true;
    ASSERT_EQ(FileAccessor::setAttributes(file.c_str(), true, true, true), 0);
    EXPECT_EQ(FileAccessor::getAttributes(file.c_str(), &readOnly, &hidden, &system, &isDirectory), 0);
    EXPECT_TRUE(readOnly);
    EXPECT_TRUE(hidden);
    EXPECT_FALSE(system);
    EXPECT_FALSE(isDirectory);
    ASSERT_EQ(FileAccessor::setAttributes(file.c_str(), false, false, false), 0);
    EXPECT_EQ(FileAccessor::getAttributes(file.c_str(), &readOnly, nullptr, nullptr, &isDirectory), 0);
    EXPECT_FALSE(readOnly);

    ASSERT_EQ(FileAccessor::setAttributes(dir.path().c_str(), true, false, false), 0);
    EXPECT_TRUE(fswtest::isWritableByOwner(dir.path())) << "a folder is never made read-only";
    EXPECT_EQ(FileAccessor::getAttributes(dir.path().c_str(), &readOnly, &hidden, &system, &isDirectory), 0);
    EXPECT_TRUE(isDirectory);
    EXPECT_FALSE(readOnly);

    readOnly = true;
    EXPECT_EQ(FileAccessor::getAttributes(nullptr, &readOnly, nullptr, nullptr, nullptr), kBadArgument);
    EXPECT_FALSE(readOnly);
    EXPECT_EQ(FileAccessor::getAttributes((dir / "missing").c_str(), &readOnly, nullptr, nullptr, nullptr), kNotFound);
    EXPECT_EQ(FileAccessor::setAttributes(nullptr, false, false, false), kBadArgument);
}

TEST(FileAccessorStatics, FileTimesAreClampedAndConverted)
{
    TempDir dir;
    const std::string file = dir / "f";
    ASSERT_TRUE(fswtest::writeFile(file, ""));
    ASSERT_TRUE(fswtest::setModificationTime(file, utc(1999, 12, 31, 23, 59, 58)));
    FILECACHE::FileTime t{};
    ASSERT_EQ(FileAccessor::getFileTime(file.c_str(), 2, &t, false), 0);
    EXPECT_EQ(t.year, 2000);
    EXPECT_EQ(t.month, 12);
    EXPECT_EQ(t.second, 58);
    EXPECT_EQ(FileAccessor::getFileTime(file.c_str(), 3, &t, false), kBadArgument);
    EXPECT_EQ(FileAccessor::getFileTime(nullptr, 2, &t, false), kBadArgument);
    EXPECT_EQ(FileAccessor::getFileTime(file.c_str(), 2, nullptr, false), kBadArgument);
    EXPECT_EQ(FileAccessor::getFileTime((dir / "missing").c_str(), 2, &t, false), kNotFound);

    ::setenv("TZ", "UTC-3", 1);
    ::tzset();
    ASSERT_TRUE(fswtest::setModificationTime(file, utc(2021, 3, 4, 22, 15, 0)));
    ASSERT_EQ(FileAccessor::getFileTime(file.c_str(), 2, &t, true), 0);
    EXPECT_EQ(t.year, 2021);
    EXPECT_EQ(t.month, 3);
    EXPECT_EQ(t.day, 5);
    EXPECT_EQ(t.hour, 1);
    EXPECT_EQ(t.minute, 15);
    ASSERT_EQ(FileAccessor::getFileTime(file.c_str(), 2, &t, false), 0);
    EXPECT_EQ(t.day, 4);
    EXPECT_EQ(t.hour, 22);
}

TEST(FileAccessorStatics, RemoveCopyMoveAndMakeDir)
{
    TempDir dir;
    const std::string tree = dir / "tree";
    ASSERT_EQ(FileAccessor::makeDir((tree + "/sub").c_str()), 0);
    ASSERT_TRUE(fswtest::writeFile(tree + "/sub/f", "f"));
    ASSERT_EQ(FileAccessor::copy((tree + "/sub/f").c_str(), (tree + "/g").c_str()), 0);
    ASSERT_EQ(FileAccessor::move((tree + "/g").c_str(), (tree + "/h").c_str()), 0);
    EXPECT_EQ(fswtest::readFile(tree + "/h"), "f");
    EXPECT_FALSE(fswtest::exists(tree + "/g"));

    const std::string link = dir / "link";
    ASSERT_EQ(::symlink(tree.c_str(), link.c_str()), 0);
    EXPECT_EQ(FileAccessor::remove(link.c_str(), true), 0);
    EXPECT_FALSE(fswtest::exists(link));
    EXPECT_EQ(fswtest::readFile(tree + "/sub/f"), "f") << "removing a link leaves its target";

    EXPECT_NE(FileAccessor::remove(tree.c_str(), false), 0);
    EXPECT_EQ(FileAccessor::remove((tree + "/h").c_str(), false), 0);
    EXPECT_EQ(FileAccessor::remove(tree.c_str(), true), 0);
    EXPECT_FALSE(fswtest::exists(tree));
    EXPECT_EQ(FileAccessor::remove(tree.c_str(), true), kNotFound);
    EXPECT_EQ(FileAccessor::remove(nullptr, true), kBadArgument);
}

TEST(FileAccessorStatics, ValidFileNames)
{
    for (const char* good : {"a/b.txt", "a\\b", "name with spaces", "\xC3\xA4.bin", "."}) {
        EXPECT_TRUE(FileAccessor::isValidFileName(good)) << good;
    }
    for (const char* bad : {"a:b", "x?", "", "a\x01", "q\"", "s*", "l<", "g>", "p|", "\x1F"}) {
        EXPECT_FALSE(FileAccessor::isValidFileName(bad)) << bad;
    }
    EXPECT_FALSE(FileAccessor::isValidFileName(nullptr));
}
