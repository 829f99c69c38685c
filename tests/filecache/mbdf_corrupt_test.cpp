// Damaged containers: every truncation and hostile header values must end in a result, never a crash or a hang.
#include <gtest/gtest.h>

#include "fcache_MBDFFileBlock.h"
#include "mbdf_TestUtil.h"

using namespace FILECACHE;
using namespace mbdftest;
using fswtest::TempDir;

namespace {

const u8 kId[16] = {7};

// Top block, a generic block, a compressed file block and the end block.
Bytes sampleFile(const TempDir& dir)
{
    MBDFFileBlock::registerFactory();
    static MBDFBlockFactory<MBDFAbstractBlock> genericFactory;
    MBDF::registerBlockFactory("#PDB DB", &genericFactory); // known to checkFile, read as a generic block
    EXPECT_TRUE(fswtest::writeFile(dir / "a.txt", "some text some text some text 12345"));
    MBDF c;
    EXPECT_EQ(c.create("ProjectFile", "HUX-NQ", 3, kId, 16), 0);
    auto* generic = new MBDFAbstractBlock();
    generic->setTag("#PDB DB");
    const Bytes info = seq(5);
    const Bytes data = seq(9, 40);
    generic->setInfo(info.data(), 5);
    generic->setData(data.data(), 9);
    c.appendBlock(generic);
    auto* file = new MBDFFileBlock();
    EXPECT_EQ(file->importFile("Current", false, dir.path().c_str(), "a.txt", true, 6, 0x33), 0);
    c.appendBlock(file);
    EXPECT_EQ(c.write((dir / "sample").c_str(), nullptr, nullptr, false), 0);
    return readBytes(dir / "sample");
}

// Every reader over the bytes; returns the result of the read with data.
i32 readAllWays(const TempDir& dir, const Bytes& bytes, bool* checked, i32* withoutData)
{
    const std::string path = dir / "damaged";
    EXPECT_TRUE(writeBytes(path, bytes));
    MBDF c;
    *withoutData = c.readFile(path.c_str(), false, nullptr, nullptr, 0);
    for (auto it = c.beginBlocks(); it != c.endBlocks(); ++it) {
        c.loadBlockData(it, nullptr);
    }
    const i32 withData = c.readFile(path.c_str(), true, nullptr, nullptr, 0);
    *checked = MBDF::isMBDFFile(path.c_str());
    MBDF image;
    image.readFromMemory(bytes.data(), static_cast<u32>(bytes.size()));
    for (auto it = image.beginBlocks(); it != image.endBlocks(); ++it) {
        image.getBlock(it)->isValid();
        image.getBlock(it)->getTag();
    }
    return withData;
}

} // namespace

TEST(MbdfCorruption, EveryTruncationFails)
{
    TempDir dir;
    const Bytes full = sampleFile(dir);
    bool checked = false;
    i32 withoutData = 0;
    ASSERT_EQ(readAllWays(dir, full, &checked, &withoutData), 0);
    EXPECT_TRUE(checked);
    EXPECT_EQ(withoutData, 0);
    for (size_t length = 0; length < full.size(); ++length) {
        const Bytes cut(full.begin(), full.begin() + length);
        const i32 withData = readAllWays(dir, cut, &checked, &withoutData);
        EXPECT_LT(withData, 0) << length;
        EXPECT_LT(withoutData, 0) << length;
        EXPECT_FALSE(checked) << length;
    }
}

TEST(MbdfCorruption, HostileHeaderValues)
{
    TempDir dir;
    const Bytes full = sampleFile(dir);
    std::vector<size_t> starts;
    for (size_t pos = 0; pos < full.size();
         pos += 36 + ((getU32(full, pos + 24) + 3) & ~3u) + ((getU32(full, pos + 28) + 3) & ~3u)) {
        starts.push_back(pos);
    }
    ASSERT_EQ(starts.size(), 4u);
    for (size_t start : starts) {
        for (size_t field : {0u, 24u, 28u, 32u}) {
            for (u32 value : {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFDCu, 0xFFFFFFFFu}) {
                SCOPED_TRACE(std::to_string(start) + "+" + std::to_string(field) + "=" + std::to_string(value));
                Bytes bytes = full;
                putU32(bytes, start + field, value);
                bool checked = false;
                i32 withoutData = 0;
                const i32 withData = readAllWays(dir, bytes, &checked, &withoutData);
                if (field == 32) {
                    // The reserved word is never interpreted and is written back as read.
                    EXPECT_EQ(withData, 0);
                    MBDF c;
                    ASSERT_EQ(c.readFile((dir / "damaged").c_str(), true, nullptr, nullptr, 0), 0);
                    if (start != 0 && start != starts.back()) {
                        ASSERT_EQ(c.write((dir / "rewritten").c_str(), nullptr, nullptr, false), 0);
                        EXPECT_EQ(readBytes(dir / "rewritten"), bytes);
                    }
                } else if ((field == 24 || field == 28) && value >= 0x7FFFFFFFu) {
                    EXPECT_LT(withData, 0);
                    EXPECT_LT(withoutData, 0);
                    // The walk ends at "#END" without looking at its sizes.
                    EXPECT_EQ(checked, start == starts.back());
                }
            }
        }
    }
}
