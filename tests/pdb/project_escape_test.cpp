// Project files from untrusted sources: stored names that would leave the item folder, links inside item
// folders, truncated and corrupted files. None of them may change a folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include "project_TestUtil.h"

namespace {

using namespace project_test;

class ProjectEscapeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_scratch.path().empty());
        setupProjectInfo();
        m_items = m_scratch / "items";
        makeDir(m_items);
        m_current = m_items + "/Current";
        makeDir(m_current);
        writeText(m_current + "/a.txt", "original a");
        writeBytes(m_current + "/big", randomBytes(70000, 3));
        ASSERT_EQ(m_project.initialize("HUX-NQ", 0, 0, {{"Current", m_current}}, nullptr, 0), 0);
        m_path = m_scratch / "p.zethiprj";
        ASSERT_EQ(m_project.save(m_path.c_str(), "", "", nullptr, nullptr), 0);
        m_good = readBytes(m_path);
        // What the user has now differs from the file, so any extraction would show.
        writeText(m_current + "/a.txt", "edited a");
        writeText(m_current + "/extra", "extra");
        m_before = imageTree(m_scratch.path());
    }

    // The saved image with raw blocks inserted before the end block.
    std::vector<u8> withBlock(const std::vector<u8>& block) const
    {
        std::vector<u8> image = m_good;
        const size_t end = endBlockOffset(image);
        image.insert(image.begin() + static_cast<long>(end), block.begin(), block.end());
        return image;
    }

    // Loads image from a file beside the items; expects a failure and every folder as it was.
    void expectRefused(const std::vector<u8>& image, const std::string& what)
    {
        const std::string crafted = m_scratch / "crafted.zethiprj";
        writeBytes(crafted, image);
        const std::string previous = m_project.getCurrentFileName();
        const i32 result = m_project.load(crafted.c_str(), nullptr, nullptr, nullptr);
        EXPECT_LT(result, 0) << what;
        ::unlink(crafted.c_str());
        EXPECT_EQ(imageTree(m_scratch.path()), m_before) << what;
        EXPECT_EQ(m_project.getCurrentFileName(), previous) << what;
    }

    ScratchDir m_scratch;
    std::string m_items;
    std::string m_current;
    std::string m_path;
    std::vector<u8> m_good;
    TreeImage m_before;
    ProjectFile m_project;
};

TEST_F(ProjectEscapeTest, TheCraftedImageIsAcceptedWithASafeName)
{
    // The builder itself is sound: a plain name is extracted.
    const std::string crafted = m_scratch / "crafted.zethiprj";
    writeBytes(crafted, withBlock(rawFileBlock("Current", "plain", "raw content")));
    ASSERT_EQ(m_project.load(crafted.c_str(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(readBytes(m_current + "/plain"),
              (std::vector<u8>{'r', 'a', 'w', ' ', 'c', 'o', 'n', 't', 'e', 'n', 't'}));
    EXPECT_EQ(readBytes(m_current + "/a.txt").size(), 10u);
    EXPECT_FALSE(exists(m_current + "/extra"));
}

TEST_F(ProjectEscapeTest, UnsafeStoredNamesAreRefused)
{
    // Names that leave the folder, and names that are not UTF-8 (the file API could never remove them again).
    const std::string outside = "/tmp/pdbproject_escape_" + std::to_string(::getpid());
    const std::vector<std::string> names = {
        "../x", outside, "a/b", "..", ".", "", "a\\b", std::string("a\0b", 3), "\xff", "caf\xc3(", "\xed\xa0\x80"};
    for (const std::string& name : names) {
        expectRefused(withBlock(rawFileBlock("Current", name, "evil")), "name [" + name + "]");
    }
    EXPECT_FALSE(exists(outside));
    EXPECT_FALSE(exists(m_items + "/x"));
}

// A name length below what the info part holds would store the file under a cut name.
// A refused stored name reaches the log and the progress text as one line: control characters escaped, at most
// 255 bytes of name (never a cut character) and "..." after a cut one.
TEST_F(ProjectEscapeTest, StoredNamesInTextsAreEscapedAndBounded)
{
    std::string longName;
    while (longName.size() < 65534) {
        longName += "\xc3\xa9"; // 2 bytes: the cut falls after 127 of them, not inside the 128th
    }
    longName += "n";
    const std::pair<std::string, std::string> cases[] = {
        {"evil\n[E] forged\x7f\xff", "evil\\x0A[E] forged\\x7F\\xFF"},
        {longName, longName.substr(0, 254) + "..."},
        {"\x01" + std::string(253, 'u'), "\\x01" + std::string(251, 'u') + "..."},
    };
    for (const auto& [name, shown] : cases) {
        const std::string crafted = m_scratch / "crafted.zethiprj";
        writeBytes(crafted, withBlock(rawFileBlock("Current", name, "evil")));
        RecordingObserver observer;
        testing::internal::CaptureStdout();
        EXPECT_LT(m_project.load(crafted.c_str(), nullptr, &observer, nullptr), 0);
        const std::string log = testing::internal::GetCapturedStdout();
        const std::string head = "[E] ProjectFile::extract - cannot extract [" + m_current + "/" + shown + "]! (";
        EXPECT_EQ(log.substr(0, head.size()), head) << shown.substr(0, 40);
        EXPECT_EQ(log.find('\n'), log.size() - 1) << shown.substr(0, 40); // one line
        EXPECT_LE(log.size(), head.size() + 10);
        ASSERT_FALSE(observer.progress.empty());
        EXPECT_EQ(observer.progress.back().path, m_current + "/" + shown);
        ::unlink(crafted.c_str());
        EXPECT_TRUE(imageTree(m_scratch.path()) == m_before);
    }
}

TEST_F(ProjectEscapeTest, AFileBlockWhoseNameLengthDisagreesIsRefused)
{
    std::vector<u8> image = m_good;
    const size_t info = blockOffsets(image)[2] + 36;
    ASSERT_EQ(image[info + 1], 5u); // "a.txt"
    image[info + 1] = 3;
    expectRefused(image, "name length lowered");
}

TEST_F(ProjectEscapeTest, ADamagedInformationBlockFailsTheLoad)
{
    ParameterAddress comment = m_project.getInfoAddress(ProjectFile::INFO_COMMENT);
    ASSERT_EQ(m_project.getInformationDB().setValueString(comment, 0, 0, "before", 0xFF), 0);
    std::vector<u8> image = m_good;
    const size_t block = blockOffsets(image)[1];
    const size_t infoSize = (size_t{image[block + 26]} << 8) | image[block + 27];
    const size_t table = block + 36 + ((infoSize + 3) & ~size_t{3});
    ASSERT_EQ(std::string(image.begin() + static_cast<long>(table), image.begin() + static_cast<long>(table) + 4),
              "#CT1");
    image[table + 12 + 4 + 88 + 1] -= 1; // the information component announces one block less than it holds
    expectRefused(image, "damaged information block");
    EXPECT_EQ(infoText(m_project, ProjectFile::INFO_COMMENT), "before");

    const std::string crafted = m_scratch / "crafted.zethiprj";
    writeBytes(crafted, image);
    EXPECT_EQ(m_project.extract(crafted.c_str(), false, nullptr, nullptr, nullptr), FAILED);
    EXPECT_EQ(infoText(m_project, ProjectFile::INFO_COMMENT), "before");
}

TEST_F(ProjectEscapeTest, ALinkInsideAnItemFolderIsNotFollowed)
{
    const std::string target = m_scratch / "target";
    writeText(target, "precious");
    ASSERT_EQ(::symlink(target.c_str(), (m_current + "/a.txt.link").c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), (m_current + "/linked").c_str()), 0);
    // A stored file of the same name as the link.
    const std::string crafted = m_scratch / "crafted.zethiprj";
    writeBytes(crafted, withBlock(rawFileBlock("Current", "linked", "overwritten?")));
    ASSERT_EQ(m_project.load(crafted.c_str(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(readBytes(target), (std::vector<u8>{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
    EXPECT_FALSE(exists(m_current + "/a.txt.link"));
    EXPECT_EQ(readBytes(m_current + "/linked").size(), 12u);
}

TEST_F(ProjectEscapeTest, TruncatedFilesChangeNothing)
{
    const std::vector<size_t> at = blockOffsets(m_good);
    ASSERT_GE(at.size(), 4u);
    // Every length up to the first file block's data part, then sampled lengths up to the whole file.
    const size_t firstData = at[2] + 36 + 12;
    for (size_t length = 0; length <= firstData; ++length) {
        expectRefused(std::vector<u8>(m_good.begin(), m_good.begin() + static_cast<long>(length)),
                      "length " + std::to_string(length));
    }
    for (size_t length = firstData + 1; length < m_good.size(); length += 997) {
        expectRefused(std::vector<u8>(m_good.begin(), m_good.begin() + static_cast<long>(length)),
                      "length " + std::to_string(length));
    }
    expectRefused(std::vector<u8>(m_good.begin(), m_good.end() - 1), "one byte short");
}

TEST_F(ProjectEscapeTest, ACorruptStreamChangesNothing)
{
    const std::vector<size_t> at = blockOffsets(m_good);
    ASSERT_GE(at.size(), 5u);
    // The second file block ("big"): flip bytes in the middle of its compressed data part.
    std::vector<u8> image = m_good;
    const size_t data = at[3] + 36 + 12;
    for (size_t i = 100; i < 140; ++i) {
        image[data + i] ^= 0x5A;
    }
    expectRefused(image, "corrupt stream");

    // A stream that ends early inside a block whose sizes still agree.
    image = m_good;
    const size_t dataSize = (size_t{image[at[3] + 28]} << 24) | (size_t{image[at[3] + 29]} << 16) |
                            (size_t{image[at[3] + 30]} << 8) | image[at[3] + 31];
    std::fill(image.begin() + static_cast<long>(data + dataSize / 2),
              image.begin() + static_cast<long>(data + dataSize), 0);
    expectRefused(image, "zeroed tail");
}

TEST_F(ProjectEscapeTest, ABlockOverTheReadLimitChangesNothing)
{
    std::vector<u8> block = rawFileBlock("Current", "huge", "");
    // Claim a data part of 11 MiB that is not there.
    block[28] = 0x00;
    block[29] = 0xB0;
    block[30] = 0x00;
    block[31] = 0x00;
    expectRefused(withBlock(block), "over the limit");
}

} // namespace
