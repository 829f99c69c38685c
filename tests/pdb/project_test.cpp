// Project files: layout, round trip, skipped entries, replace-previous, refusals, the delegate.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "fsw_SystemCalls.h"
#include "mms_SelectedItemLoader.h"
#include "os_TestHooks.h"
#include "project_TestUtil.h"

namespace {

using namespace project_test;

class ProjectFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_scratch.path().empty());
        setupProjectInfo();
        m_current = m_scratch / "Current";
        m_list = m_scratch / "CurrentList";
        makeDir(m_current);
        makeDir(m_list);
        m_items = {{"Current", m_current}, {"CurrentList", m_list}};
    }

    void init(ProjectFile& project, u8 replacePrevious = 0, MMSFUNC::SelectedItemLoader* loader = nullptr)
    {
        ASSERT_EQ(project.initialize("HUX-NQ", 3, 0, m_items, loader, replacePrevious), 0);
    }

    ScratchDir m_scratch;
    std::string m_current;
    std::string m_list;
    ProjectFile::ItemMap m_items;
};

u32 be32(const std::vector<u8>& bytes, size_t at)
{
    return (u32{bytes[at]} << 24) | (u32{bytes[at + 1]} << 16) | (u32{bytes[at + 2]} << 8) | bytes[at + 3];
}

std::string field(const std::vector<u8>& bytes, size_t at, size_t size)
{
    return std::string(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + size));
}

TEST_F(ProjectFileTest, LayoutOfASavedProject)
{
    writeText(m_current + "/b.txt", "second file");
    const std::vector<u8> aBytes = randomBytes(3000, 1);
    writeBytes(m_current + "/a.txt", aBytes);
    writeText(m_list + "/x", "list");
    ProjectFile project;
    init(project);
    const std::string path = m_scratch / "p.zethiprj";
    ASSERT_EQ(project.save(path.c_str(), "c", "o", nullptr, nullptr), 0);

    const std::vector<u8> image = readBytes(path);
    const std::vector<size_t> at = blockOffsets(image);
    ASSERT_EQ(at.size(), 6u); // top, info, a.txt, b.txt, x, end
    EXPECT_EQ(field(image, at[0], 24), std::string("#KORVAN MBDFProjectFile\0", 24));
    EXPECT_EQ(field(image, at[0] + 36, 7), std::string("HUX-NQ\0", 7));
    EXPECT_EQ(be32(image, at[0] + 36 + 16), 3u);
    EXPECT_EQ(field(image, at[1], 24), std::string("#PDB DB\0\0\0\0\0ProjectInfo\0", 24));

    // a.txt before b.txt, with the exact tag field and info part.
    const size_t a = at[2];
    EXPECT_EQ(field(image, a, 24), std::string("#FILE\0\0\0\0\0\0\0Current\0\0\0\0\0", 24));
    EXPECT_EQ(be32(image, a + 24), 13u);
    const u8 info[16] = {0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 'a', '.', 't', 'x', 't', 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(image.data() + a + 36, info, sizeof(info)));
    const u32 dataSize = be32(image, a + 28);
    std::vector<u8> inflated(aBytes.size() + 16);
    uLongf inflatedSize = inflated.size();
    ASSERT_EQ(uncompress(inflated.data(), &inflatedSize, image.data() + a + 36 + 16, dataSize), Z_OK);
    inflated.resize(inflatedSize);
    EXPECT_EQ(inflated, aBytes);
    EXPECT_EQ(field(image, at[3] + 36 + 8, 5), "b.txt");
    EXPECT_EQ(field(image, at[4] + 12, 12), std::string("CurrentList\0", 12));
    EXPECT_EQ(project.getCurrentFileName(), path);
}

TEST_F(ProjectFileTest, LoadRestoresEveryItemFolderByteForByte)
{
    const size_t sizes[] = {0, 1, 1023, 1024, 1025, 1u << 20};
    u32 seed = 10;
    for (size_t size : sizes) {
        writeBytes(m_current + "/f" + std::to_string(size), randomBytes(size, seed++));
    }
    writeText(m_current + "/.hidden", "hidden");
    writeText(m_current + "/locked", "read-only");
    ::chmod((m_current + "/locked").c_str(), 0444);
    writeText(m_list + "/entry", "list entry");

    ossupport::testhooks::fixUtcTime(1772600767); // 2026-03-04 05:06:07
    ProjectFile project;
    init(project);
    const std::string path = m_scratch / "p.zethiprj";
    ASSERT_EQ(project.save(path.c_str(), "a comment", "me", nullptr, nullptr), 0);
    ossupport::testhooks::clearFixedUtcTime();
    EXPECT_EQ(infoUInt(project, ProjectFile::INFO_YEAR), 2026u);
    EXPECT_EQ(infoUInt(project, ProjectFile::INFO_SECOND), 7u);
    const TreeImage savedCurrent = imageTree(m_current);
    const TreeImage savedList = imageTree(m_list);

    // Change, add and delete files, add a read-only stranger and a sub-folder; touch the information.
    writeText(m_current + "/f1", "X");
    writeText(m_current + "/new", "new");
    ::unlink((m_current + "/f1024").c_str());
    writeText(m_current + "/stranger", "ro");
    ::chmod((m_current + "/stranger").c_str(), 0444);
    makeDir(m_current + "/sub");
    writeText(m_current + "/sub/deep", "deep");
    ::unlink((m_list + "/entry").c_str());
    ParameterAddress comment = project.getInfoAddress(ProjectFile::INFO_COMMENT);
    project.getInformationDB().setValueString(comment, 0, 0, "changed", 0xFF);

    ProjectFile reader;
    init(reader);
    RecordingObserver observer;
    ASSERT_EQ(reader.load(path.c_str(), nullptr, &observer, nullptr), 0);
    EXPECT_EQ(imageTree(m_current), savedCurrent);
    EXPECT_EQ(imageTree(m_list), savedList);
    EXPECT_EQ(infoText(reader, ProjectFile::INFO_COMMENT), "a comment");
    EXPECT_EQ(infoText(reader, ProjectFile::INFO_OWNER_NAME), "me");
    EXPECT_EQ(infoUInt(reader, ProjectFile::INFO_MONTH), 3u);
    EXPECT_EQ(reader.getCurrentFileName(), path);
    // Nothing but the items and the project is left beside them.
    EXPECT_EQ(listNames(m_scratch.path()), (std::vector<std::string>{"Current", "CurrentList", "p.zethiprj"}));
    ASSERT_FALSE(observer.progress.empty());
    EXPECT_EQ(observer.progress.back().text, "Finshed.");
    EXPECT_TRUE(observer.progress.back().last);
    EXPECT_EQ(observer.progress.back().total, 10u); // info + 8 files of Current + 1 of CurrentList
    EXPECT_EQ(observer.progress.front().text, "Extracting files...");
    EXPECT_EQ(observer.progress.front().path, m_current + "/.hidden");
}

TEST_F(ProjectFileTest, SubFoldersLinksAndFileItemsAreSkipped)
{
    writeText(m_current + "/keep", "k");
    makeDir(m_current + "/sub");
    writeText(m_current + "/sub/inner", "i");
    writeText(m_scratch / "outside", "outside");
    ASSERT_EQ(::symlink((m_scratch / "outside").c_str(), (m_current + "/link").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent/target", (m_current + "/dangling").c_str()), 0);
    writeText(m_scratch / "plain", "a file as an item");
    m_items["Plain"] = m_scratch / "plain";

    ProjectFile project;
    init(project);
    RecordingObserver observer;
    const std::string path = m_scratch / "p.zethiprj";
    ASSERT_EQ(project.save(path.c_str(), "", "", nullptr, &observer), 0);
    EXPECT_TRUE(observer.errors.empty());

    FILECACHE::MBDF check;
    ASSERT_EQ(check.read(path.c_str(), false, nullptr, nullptr, 0), 0);
    std::vector<std::string> stored;
    for (auto it = check.beginBlocks(); it != check.endBlocks(); ++it) {
        stored.push_back(check.getBlock(it)->getKind());
    }
    EXPECT_EQ(stored, (std::vector<std::string>{"ProjectInfo", "Current"}));
}

TEST_F(ProjectFileTest, ReplacePreviousDeletesOnlyAnotherFile)
{
    writeText(m_current + "/a", "a");
    const std::string first = m_scratch / "one.zethiprj";
    const std::string second = m_scratch / "two.zethiprj";
    {
        ProjectFile keeping;
        init(keeping, 0);
        ASSERT_EQ(keeping.save(first.c_str(), "", "", nullptr, nullptr), 0);
        ASSERT_EQ(keeping.save(second.c_str(), "", "", nullptr, nullptr), 0);
        EXPECT_TRUE(exists(first));
        EXPECT_TRUE(exists(second));
    }
    ProjectFile replacing;
    init(replacing, 1);
    ASSERT_EQ(replacing.load(first.c_str(), nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(replacing.save(second.c_str(), "", "", nullptr, nullptr), 0);
    EXPECT_FALSE(exists(first));
    EXPECT_TRUE(exists(second));
    // Saving the current file again, also under another spelling of its path, keeps it.
    ASSERT_EQ(replacing.save((m_scratch.path() + "//two.zethiprj").c_str(), "", "", nullptr, nullptr), 0);
    EXPECT_TRUE(exists(second));
    ASSERT_EQ(replacing.save(second.c_str(), "", "", nullptr, nullptr), 0);
    EXPECT_TRUE(exists(second));
}

TEST_F(ProjectFileTest, WrongFilesAreRefusedWithTheFoldersUntouched)
{
    writeText(m_current + "/a", "a");
    const TreeImage before = imageTree(m_scratch.path());
    ProjectFile project;
    init(project);

    FILECACHE::MBDF snapshot;
    const u8 id[16] = {1};
    ASSERT_EQ(snapshot.create("Snapshot", "HUX-NQ", 0, id, sizeof(id)), 0);
    const std::string snapshotPath = m_scratch / "scene.zethis";
    ASSERT_EQ(snapshot.write(snapshotPath.c_str(), nullptr, nullptr, true), 0);
    FILECACHE::MBDF otherModel;
    ASSERT_EQ(otherModel.create("ProjectFile", "OTHER", 0, id, sizeof(id)), 0);
    const std::string otherPath = m_scratch / "other.zethiprj";
    ASSERT_EQ(otherModel.write(otherPath.c_str(), nullptr, nullptr, true), 0);

    for (const std::string& path : {snapshotPath, otherPath}) {
        RecordingObserver observer;
        EXPECT_EQ(project.load(path.c_str(), nullptr, &observer, nullptr), FAILED);
        ASSERT_EQ(observer.errors.size(), 1u);
        EXPECT_EQ(observer.errors[0].operation, 0u);
        EXPECT_EQ(observer.errors[0].path, path);
        EXPECT_EQ(observer.errors[0].code, NOT_PROJECT);
        EXPECT_EQ(project.getContainer().getBlockCount(), 0u);
    }
    RecordingObserver missing;
    const std::string nowhere = m_scratch / "missing.zethiprj";
    EXPECT_EQ(project.load(nowhere.c_str(), nullptr, &missing, nullptr), FAILED);
    ASSERT_EQ(missing.errors.size(), 1u);
    EXPECT_EQ(missing.errors[0].code, REFUSED);
    EXPECT_EQ(project.getCurrentFileName(), "");

    TreeImage after = imageTree(m_scratch.path());
    after.erase("scene.zethis");
    after.erase("other.zethiprj");
    EXPECT_EQ(after, before);
}

TEST_F(ProjectFileTest, BlocksOfUnknownItemsAreSkippedButCounted)
{
    writeText(m_current + "/a", "a");
    writeText(m_list + "/b", "b");
    ProjectFile writer;
    init(writer);
    const std::string path = m_scratch / "p.zethiprj";
    ASSERT_EQ(writer.save(path.c_str(), "", "", nullptr, nullptr), 0);
    writeText(m_list + "/b", "changed");
    writeText(m_current + "/a", "changed");

    ProjectFile reader;
    ASSERT_EQ(reader.initialize("HUX-NQ", 3, 0, {{"Current", m_current}}, nullptr, 0), 0);
    RecordingObserver observer;
    ASSERT_EQ(reader.load(path.c_str(), nullptr, &observer, nullptr), 0);
    EXPECT_EQ(readBytes(m_current + "/a"), std::vector<u8>{'a'});
    EXPECT_EQ(readBytes(m_list + "/b").size(), 7u);
    ASSERT_EQ(observer.progress.size(), 2u);
    EXPECT_EQ(observer.progress[0].step, 1u);
    EXPECT_EQ(observer.progress[0].total, 3u);
    EXPECT_EQ(observer.progress[1].step, 3u);
    EXPECT_EQ(observer.progress[1].path, path);
}

TEST_F(ProjectFileTest, InitializeChecksItemsAndCopiesTheInformation)
{
    IParameterDB& shared = setupProjectInfo();
    ParameterAddress level = shared.resolveAddress(0x501, "/Info/Level");
    ASSERT_EQ(shared.setValueInt(level, 0, 0, -42, 0xFF), 0);

    ProjectFile project;
    EXPECT_EQ(project.initialize(nullptr, 0, 0, m_items, nullptr, 0), BAD_ARGUMENT);
    EXPECT_EQ(project.initialize("T", 0, 0, {{"ThirteenBytes", m_current}}, nullptr, 0), BAD_ARGUMENT);
    EXPECT_TRUE(project.getModelTag().empty());
    EXPECT_EQ(project.initialize("T", 0, 0, {{"TwelveBytes!", m_current}}, nullptr, 0), 0);

    init(project);
    EXPECT_EQ(infoText(project, ProjectFile::INFO_PRODUCT_NAME), "HUX-NQ");
    EXPECT_EQ(infoText(project, ProjectFile::INFO_PRODUCT_SUB_NAME), "");
    EXPECT_EQ(infoText(project, ProjectFile::INFO_COMMENT), "none");
    KVariant copied;
    ParameterAddress local = project.getInformationDB().resolveAddress(0x501, "/Info/Level");
    ASSERT_EQ(project.getInformationDB().getValue(copied, local, 0, 0, nullptr), 0);
    EXPECT_EQ(copied.getKind(), static_cast<u32>(KVariant::KIND_INT32));
    EXPECT_EQ(project.getInformationDB().getValueInt(local, 0, 0, nullptr), -42);
    // The shared database itself is left alone.
    ParameterAddress name = shared.resolveAddress(0x501, "/Info/ProductName");
    KVariant original;
    shared.getValue(original, name, 0, 0, nullptr);
    EXPECT_STREQ(original.getString(), "Factory");
}

TEST_F(ProjectFileTest, AnUninitialisedObjectRefusesEverything)
{
    ProjectFile project;
    const std::string path = m_scratch / "p.zethiprj";
    EXPECT_EQ(project.save(path.c_str(), "", "", nullptr, nullptr), FAILED);
    EXPECT_EQ(project.load(path.c_str(), nullptr, nullptr, nullptr), FAILED);
    EXPECT_EQ(project.extract(path.c_str(), false, nullptr, nullptr, nullptr), FAILED);
    EXPECT_FALSE(exists(path));

    init(project);
    EXPECT_EQ(project.save(nullptr, "", "", nullptr, nullptr), FAILED);
    EXPECT_EQ(project.save(path.c_str(), nullptr, "", nullptr, nullptr), FAILED);
    EXPECT_EQ(project.save("", "", "", nullptr, nullptr), FAILED);
    EXPECT_EQ(project.load(nullptr, nullptr, nullptr, nullptr), FAILED);
}

TEST_F(ProjectFileTest, AFileThatCannotBeStoredFailsTheSaveAndKeepsTheOldFile)
{
    writeText(m_current + "/a", "a");
    ProjectFile project;
    init(project);
    const std::string path = m_scratch / "p.zethiprj";
    ASSERT_EQ(project.save(path.c_str(), "first", "", nullptr, nullptr), 0);
    const std::vector<u8> old = readBytes(path);

    writeText(m_current + "/a:b", "bad name");
    RecordingObserver observer;
    EXPECT_EQ(project.save(path.c_str(), "second", "", nullptr, &observer), FAILED);
    ASSERT_EQ(observer.errors.size(), 1u);
    EXPECT_EQ(observer.errors[0].path, m_current + "/a:b");
    EXPECT_EQ(observer.errors[0].code, BAD_ARGUMENT);
    EXPECT_EQ(readBytes(path), old);
    EXPECT_EQ(infoText(project, ProjectFile::INFO_COMMENT), "first");
    ::unlink((m_current + "/a:b").c_str());

    // An unreadable file is reported with its own path.
    if (::geteuid() != 0) {
        writeText(m_current + "/secret", "s");
        ::chmod((m_current + "/secret").c_str(), 0);
        RecordingObserver denied;
        EXPECT_EQ(project.save(path.c_str(), "third", "", nullptr, &denied), FAILED);
        ASSERT_EQ(denied.errors.size(), 1u);
        EXPECT_EQ(denied.errors[0].path, m_current + "/secret");
        EXPECT_EQ(denied.errors[0].code, REFUSED);
        EXPECT_EQ(readBytes(path), old);
    }
}

ssize_t failingWrite(int, const void*, size_t)
{
    errno = EIO;
    return -1;
}

TEST_F(ProjectFileTest, AFailedWriteLeavesTheCurrentFileAndTheInformation)
{
    writeText(m_current + "/a", std::string(5000, 'a'));
    ProjectFile project;
    init(project, 1);
    const std::string path = m_scratch / "p.zethiprj";
    ASSERT_EQ(project.save(path.c_str(), "kept", "owner", nullptr, nullptr), 0);
    const std::vector<u8> old = readBytes(path);

    fsw_setSystemCalls(nullptr, failingWrite, nullptr);
    const i32 overCurrent = project.save(path.c_str(), "lost", "x", nullptr, nullptr);
    const i32 elsewhere = project.save((m_scratch / "q.zethiprj").c_str(), "lost", "x", nullptr, nullptr);
    fsw_setSystemCalls(nullptr, nullptr, nullptr);
    EXPECT_EQ(overCurrent, FAILED);
    EXPECT_EQ(elsewhere, FAILED);
    EXPECT_EQ(readBytes(path), old);
    EXPECT_FALSE(exists(m_scratch / "q.zethiprj"));
    EXPECT_EQ(infoText(project, ProjectFile::INFO_COMMENT), "kept");
    EXPECT_EQ(infoText(project, ProjectFile::INFO_OWNER_NAME), "owner");
    EXPECT_EQ(project.getCurrentFileName(), path);
    EXPECT_EQ(listNames(m_scratch.path()), (std::vector<std::string>{"Current", "CurrentList", "p.zethiprj"}));
}

// A delegate that records its calls and answers as told.
class ScriptedLoader : public MMSFUNC::SelectedItemLoader
{
public:
    bool accept(FILECACHE::MBDF& container, FILECACHE::IMBDFObserver*, const void* selection, const bool*) override
    {
        ++accepts;
        blocksSeen = container.getBlockCount();
        lastSelection = selection;
        return answer;
    }
    i32 extract(const char* path, FILECACHE::FileAccessor& file, FILECACHE::MBDF&, const bool*,
                FILECACHE::IMBDFObserver*, const void* selection, u32 options) override
    {
        ++extracts;
        lastPath = path;
        fileOpen = file.isOpen();
        lastSelection = selection;
        lastOptions = options;
        return result;
    }
    bool answer = true;
    i32 result = 0;
    int accepts = 0;
    int extracts = 0;
    u32 blocksSeen = 0;
    bool fileOpen = false;
    u32 lastOptions = 99;
    std::string lastPath;
    const void* lastSelection = nullptr;
};

TEST_F(ProjectFileTest, TheDelegateTakesOverSelectedLoads)
{
    writeText(m_current + "/a", "a");
    const std::string path = m_scratch / "p.zethiprj";
    {
        ProjectFile writer;
        init(writer);
        ASSERT_EQ(writer.save(path.c_str(), "stored", "", nullptr, nullptr), 0);
    }
    writeText(m_current + "/a", "changed");
    const TreeImage before = imageTree(m_current);
    const int selection = 1;

    ScriptedLoader refusing;
    refusing.answer = false;
    ProjectFile project;
    init(project, 0, &refusing);
    EXPECT_EQ(project.load(path.c_str(), nullptr, nullptr, &selection), REFUSED);
    EXPECT_EQ(refusing.accepts, 1);
    EXPECT_EQ(refusing.blocksSeen, 2u);
    EXPECT_EQ(refusing.extracts, 0);
    EXPECT_EQ(project.getContainer().getBlockCount(), 0u);
    EXPECT_FALSE(project.getContainer().isValid());
    EXPECT_EQ(imageTree(m_current), before);
    EXPECT_EQ(project.getCurrentFileName(), "");
    EXPECT_EQ(infoText(project, ProjectFile::INFO_COMMENT), "none");

    // A null delegate keeps the one stored before.
    ScriptedLoader taking;
    init(project, 0, &taking);
    init(project, 0, nullptr);
    EXPECT_EQ(project.getLoader(), &taking);
    ASSERT_EQ(project.load(path.c_str(), nullptr, nullptr, &selection), 0);
    EXPECT_EQ(taking.extracts, 1);
    EXPECT_EQ(taking.lastPath, path);
    EXPECT_TRUE(taking.fileOpen);
    EXPECT_EQ(taking.lastSelection, &selection);
    EXPECT_EQ(taking.lastOptions, 0u);
    EXPECT_EQ(imageTree(m_current), before);
    EXPECT_EQ(infoText(project, ProjectFile::INFO_COMMENT), "stored");

    // A failing delegate: the information stays.
    taking.result = FAILED;
    ParameterAddress comment = project.getInfoAddress(ProjectFile::INFO_COMMENT);
    project.getInformationDB().setValueString(comment, 0, 0, "mine", 0xFF);
    EXPECT_EQ(project.load(path.c_str(), nullptr, nullptr, &selection), FAILED);
    EXPECT_EQ(infoText(project, ProjectFile::INFO_COMMENT), "mine");
    // Only a refused selection answers 0x80000004; the delegate's extraction failing with that code is a failure.
    taking.result = REFUSED;
    EXPECT_EQ(project.load(path.c_str(), nullptr, nullptr, &selection), FAILED);
    EXPECT_EQ(project.getCurrentFileName(), path);
    EXPECT_EQ(infoText(project, ProjectFile::INFO_COMMENT), "mine");

    // Without a selection the built-in extraction runs.
    ASSERT_EQ(project.load(path.c_str(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(taking.extracts, 3);
    EXPECT_EQ(readBytes(m_current + "/a"), std::vector<u8>{'a'});
}

TEST_F(ProjectFileTest, AMissingItemFolderIsMadeOnlyWhenItHasFiles)
{
    writeText(m_current + "/a", "a");
    const std::string path = m_scratch / "p.zethiprj";
    ProjectFile project;
    init(project);
    ASSERT_EQ(project.save(path.c_str(), "", "", nullptr, nullptr), 0);
    ASSERT_EQ(::rmdir(m_list.c_str()), 0);
    ASSERT_EQ(std::system(("rm -rf '" + m_current + "'").c_str()), 0);
    ASSERT_EQ(project.load(path.c_str(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(readBytes(m_current + "/a"), std::vector<u8>{'a'});
    EXPECT_FALSE(exists(m_list));
    // A missing item folder fails a save: the project would lack it.
    EXPECT_EQ(project.save(path.c_str(), "", "", nullptr, nullptr), FAILED);
}

// 65534 reads of a listing take "." and ".." and 65532 names; one name more fails instead of being dropped.
TEST_F(ProjectFileTest, TheListingCapFailsRatherThanDropsEntries)
{
    const std::string dir = m_scratch / "many";
    makeDir(dir);
    char name[16];
    for (u32 i = 0; i < 65532; ++i) {
        std::snprintf(name, sizeof(name), "/f%05u", i);
        const int fd = ::open((dir + name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    ProjectFile::EntryMap entries;
    ASSERT_EQ(ProjectFile::addItem(dir.c_str(), entries), 0);
    EXPECT_EQ(entries.size(), 65532u);
    EXPECT_EQ(entries.begin()->second, dir);
    writeText(dir + "/g", "one more");
    ProjectFile::EntryMap more;
    EXPECT_EQ(ProjectFile::addItem(dir.c_str(), more), FAILED);
}

// A stored file that replaces one of the item folder keeps that file's permission bits; a new one gets the usual
// bits of a new file.
TEST_F(ProjectFileTest, AReplacedFileKeepsItsPermissionBits)
{
    const mode_t mask = ::umask(022); // new files are 0644, unlike either kept mode
    const std::pair<const char*, mode_t> files[] = {{"private", 0600}, {"tool", 0755}, {"fresh", 0}};
    for (const auto& [name, mode] : files) {
        writeText(m_current + "/" + name, name);
        if (mode != 0) {
            ASSERT_EQ(::chmod((m_current + "/" + name).c_str(), mode), 0);
        }
    }
    ProjectFile project;
    init(project);
    const std::string path = m_scratch / "p.zethiprj";
    ASSERT_EQ(project.save(path.c_str(), "", "", nullptr, nullptr), 0);
    ::unlink((m_current + "/fresh").c_str());
    ASSERT_EQ(project.load(path.c_str(), nullptr, nullptr, nullptr), 0);
    ::umask(mask);
    for (const auto& [name, mode] : files) {
        struct stat info;
        ASSERT_EQ(::stat((m_current + "/" + name).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, mode != 0 ? mode : 0644u) << name;
    }
}

// Read-only item folders (a load as a user without the privilege to ignore permission bits): the stored files
// still reach the folder, its mode is kept, and the previous content goes, read-only sub-folders included.
TEST_F(ProjectFileTest, ReadOnlyItemFoldersAreReplacedWithoutPrivileges)
{
    writeText(m_current + "/a", "a");
    ProjectFile project;
    init(project);
    const std::string path = m_scratch / "p.zethiprj";
    ASSERT_EQ(project.save(path.c_str(), "", "", nullptr, nullptr), 0);
    writeText(m_current + "/a", "changed");
    makeDir(m_current + "/sub");
    writeText(m_current + "/sub/deep", "deep");
    ::chmod((m_current + "/sub").c_str(), 0555);
    ::chmod(m_current.c_str(), 0555);

    constexpr uid_t kNobody = 65534;
    if (::geteuid() == 0) {
        ASSERT_EQ(std::system(("chown -R 65534:65534 '" + m_scratch.path() + "'").c_str()), 0);
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(90);
        }
        ::_exit(project.load(path.c_str(), nullptr, nullptr, nullptr) == 0 ? 0 : 91);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(listNames(m_current), std::vector<std::string>{"a"});
    EXPECT_EQ(readBytes(m_current + "/a"), std::vector<u8>{'a'});
    struct stat info;
    ASSERT_EQ(::stat(m_current.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0555u);
    EXPECT_EQ(listNames(m_scratch.path()), (std::vector<std::string>{"Current", "CurrentList", "p.zethiprj"}));
}

// The swap through the file API's seam: a file system without atomic exchange (the parameter false), and the
// exchange of a staging folder with its item folder that fails with EIO (counted from 0).
std::atomic<bool> g_exchangeWorks{true};
std::atomic<int> g_failSwapAt{-1};
std::atomic<int> g_swaps{0};

int seamRename(int fromDir, const char* from, int toDir, const char* to, unsigned flags)
{
    if (flags == RENAME_EXCHANGE && std::strstr(from, ".prjnew-") != nullptr &&
        g_swaps.fetch_add(1) == g_failSwapAt.load()) {
        errno = EIO;
        return -1;
    }
    if (flags == RENAME_EXCHANGE && !g_exchangeWorks.load()) {
        errno = EINVAL;
        return -1;
    }
    return fsw_realSystemCalls().rename(fromDir, from, toDir, to, flags);
}

class ProjectSwapTest : public ProjectFileTest, public ::testing::WithParamInterface<bool>
{
protected:
    void SetUp() override
    {
        ProjectFileTest::SetUp();
        g_exchangeWorks = GetParam();
        FswSystemCalls calls{};
        calls.rename = &seamRename;
        fsw_setSystemCallTable(&calls);
    }
    void TearDown() override
    {
        fsw_setSystemCallTable(nullptr);
        g_exchangeWorks = true;
        failSwapAt(-1);
    }
    static void failSwapAt(int index)
    {
        g_swaps = 0;
        g_failSwapAt = index;
    }
};

TEST_P(ProjectSwapTest, AFailedSwapUndoesTheItemsSwappedBefore)
{
    writeText(m_current + "/a", "a");
    writeText(m_list + "/b", "b");
    ProjectFile project;
    init(project);
    const std::string path = m_scratch / "p.zethiprj";
    ASSERT_EQ(project.save(path.c_str(), "", "", nullptr, nullptr), 0);
    writeText(m_current + "/a", "changed a");
    writeText(m_list + "/b", "changed b");
    writeText(m_list + "/c", "c");
    const TreeImage before = imageTree(m_scratch.path());

    failSwapAt(1);
    EXPECT_EQ(project.load(path.c_str(), nullptr, nullptr, nullptr), FAILED);
    EXPECT_EQ(imageTree(m_scratch.path()), before);

    failSwapAt(-1);
    ASSERT_EQ(project.load(path.c_str(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(readBytes(m_current + "/a"), std::vector<u8>{'a'});
    EXPECT_EQ(listNames(m_list), std::vector<std::string>{"b"});
    EXPECT_EQ(listNames(m_scratch.path()), (std::vector<std::string>{"Current", "CurrentList", "p.zethiprj"}));
}

TEST_P(ProjectSwapTest, LeftoversOfAnUnfinishedLoadAreCleared)
{
    writeText(m_current + "/a", "a");
    ProjectFile project;
    init(project);
    const std::string path = m_scratch / "p.zethiprj";
    ASSERT_EQ(project.save(path.c_str(), "", "", nullptr, nullptr), 0);
    // A load that stopped after putting the item folder aside, and a staging folder of another.
    ASSERT_EQ(::rename(m_current.c_str(), (m_scratch / ".Current.prjold-1-1").c_str()), 0);
    makeDir(m_scratch / ".Current.prjnew-1-2");
    writeText(m_scratch / ".Current.prjnew-1-2/x", "x");
    ::chmod((m_scratch / ".Current.prjnew-1-2/x").c_str(), 0444);
    ASSERT_EQ(project.load(path.c_str(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(readBytes(m_current + "/a"), std::vector<u8>{'a'});
    EXPECT_EQ(listNames(m_scratch.path()), (std::vector<std::string>{"Current", "CurrentList", "p.zethiprj"}));
}

TEST_F(ProjectFileTest, ItemsSharingAFolderKeepEachOthersFiles)
{
    writeText(m_current + "/a", "a");
    ProjectFile project;
    init(project);
    const std::string path = m_scratch / "p.zethiprj";
    ASSERT_EQ(project.save(path.c_str(), "", "", nullptr, nullptr), 0);
    writeText(m_current + "/b", "b");
    // A second item on the same folder, with no files of its own in the project.
    m_items["Zed"] = m_current;
    init(project);
    ASSERT_EQ(project.load(path.c_str(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(listNames(m_current), std::vector<std::string>{"a"});
    EXPECT_EQ(listNames(m_scratch.path()), (std::vector<std::string>{"Current", "CurrentList", "p.zethiprj"}));
}

TEST_P(ProjectSwapTest, AFailedLoadRemovesTheParentFoldersItMade)
{
    writeText(m_current + "/a", "a");
    writeText(m_list + "/b", "b");
    ProjectFile writer;
    init(writer);
    const std::string path = m_scratch / "p.zethiprj";
    ASSERT_EQ(writer.save(path.c_str(), "", "", nullptr, nullptr), 0);

    // "Current" now lives below folders that do not exist yet; the load fails at the last swap.
    ProjectFile reader;
    const std::string moved = m_scratch / "new/deeper/Current";
    ASSERT_EQ(reader.initialize("HUX-NQ", 3, 0, {{"Current", moved}, {"CurrentList", m_list}}, nullptr, 0), 0);
    const TreeImage before = imageTree(m_scratch.path());
    failSwapAt(0); // "Current" is renamed in, then the exchange of "CurrentList" fails
    EXPECT_EQ(reader.load(path.c_str(), nullptr, nullptr, nullptr), FAILED);
    EXPECT_EQ(imageTree(m_scratch.path()), before);
    EXPECT_FALSE(exists(m_scratch / "new"));

    failSwapAt(-1);
    ASSERT_EQ(reader.load(path.c_str(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(readBytes(moved + "/a"), std::vector<u8>{'a'});
}

INSTANTIATE_TEST_SUITE_P(Exchange, ProjectSwapTest, ::testing::Values(true, false));

} // namespace
