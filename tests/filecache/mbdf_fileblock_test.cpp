// "#FILE" blocks: golden bytes, round trips over levels, keys and sizes, directories, unsafe names, corrupt
// streams, the reading limit and atomic export.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <zlib.h>

#include <memory>

#include "fcache_MBDFFileBlock.h"
#include "mbdf_TestUtil.h"

using namespace FILECACHE;
using namespace mbdftest;
using fswtest::TempDir;

namespace {

const u8 kId[16] = {1};

// The on-disk bytes of one block, written by a container.
Bytes blockBytes(const TempDir& dir, MBDFAbstractBlock* block)
{
    MBDF c;
    EXPECT_EQ(c.create("ProjectFile", "HUX-NQ", 1, kId, 16), 0);
    c.appendBlock(block);
    const std::string path = dir / "container.tmp";
    EXPECT_EQ(c.write(path.c_str(), nullptr, nullptr, false), 0);
    const Bytes all = readBytes(path);
    return Bytes(all.begin() + 72, all.end() - 36);
}

MBDFFileBlock* imported(const TempDir& dir, const std::string& name, bool loadNow, u32 level, u8 key)
{
    auto* block = new MBDFFileBlock();
    EXPECT_EQ(block->importFile("Current", false, dir.path().c_str(), name.c_str(), loadNow, level, key), 0);
    return block;
}

// A block read back from its bytes, with its data part.
std::unique_ptr<MBDFFileBlock> fromBytes(const Bytes& raw)
{
    auto block = std::make_unique<MBDFFileBlock>();
    u32 used = 0;
    EXPECT_EQ(block->readFromMemory(raw.data(), static_cast<u32>(raw.size()), &used), 0);
    EXPECT_EQ(used, raw.size());
    return block;
}

Bytes fileInfo(const std::string& name, u8 key, u32 flags)
{
    Bytes info(8, 0);
    info[0] = static_cast<u8>(name.size() >> 8);
    info[1] = static_cast<u8>(name.size());
    info[3] = key;
    putU32(info, 4, flags);
    for (char ch : name) {
        info.push_back(static_cast<u8>(ch ^ key));
    }
    return info;
}

std::string fileTag()
{
    return std::string("#FILE\0\0\0\0\0\0\0Current", 19);
}

} // namespace

TEST(MbdfFileBlock, GoldenBytesFromLoadAndFromStreaming)
{
    TempDir dir;
    ASSERT_TRUE(fswtest::writeFile(dir / "a.txt", "hi"));
    const Bytes golden = {0x23, 0x46, 0x49, 0x4c, 0x45, 0,    0,    0, 0, 0,    0,    0,    0x43, 0x75,
                          0x72, 0x72, 0x65, 0x6e, 0x74, 0,    0,    0, 0, 0,    0,    0,    0,    0x0d,
                          0,    0,    0,    0x02, 0,    0,    0,    0, 0, 0x05, 0,    0,    0,    0,
                          0,    0,    0x61, 0x2e, 0x74, 0x78, 0x74, 0, 0, 0,    0x68, 0x69, 0,    0};
    EXPECT_EQ(blockBytes(dir, imported(dir, "a.txt", true, 0, 0)), golden);
    EXPECT_EQ(blockBytes(dir, imported(dir, "a.txt", false, 0, 0)), golden);

    const Bytes keyed = blockBytes(dir, imported(dir, "a.txt", false, 0, 0x5A));
    EXPECT_EQ(Bytes(keyed.begin() + 0x24, keyed.begin() + 0x34),
              (Bytes{0, 5, 0, 0x5a, 0, 0, 0, 0, 0x3b, 0x74, 0x2e, 0x22, 0x2e, 0, 0, 0}));
    EXPECT_EQ(Bytes(keyed.begin() + 0x34, keyed.end()), (Bytes{0x32, 0x33, 0, 0}));
    EXPECT_EQ(fromBytes(keyed)->getFileName(), "a.txt");

    for (bool loadNow : {true, false}) {
        const Bytes packed = blockBytes(dir, imported(dir, "a.txt", loadNow, 6, 0));
        EXPECT_EQ(packed[0x2B], 0x08);
        const u32 size = getU32(packed, 28);
        Bytes out(16);
        uLongf outSize = out.size();
        ASSERT_EQ(uncompress(out.data(), &outSize, packed.data() + 0x34, size), Z_OK);
        EXPECT_EQ(std::string(out.begin(), out.begin() + outSize), "hi");
    }
}

TEST(MbdfFileBlock, RoundTripsOverLevelsKeysAndSizes)
{
    TempDir dir;
    const std::string out = dir / "out";
    for (size_t size : {size_t(0), size_t(1), size_t(1023), size_t(1024), size_t(1025), size_t(1) << 20}) {
        // Half text, half noise, so that compression has work of both kinds.
        std::string content = fswtest::pattern(size / 2, static_cast<unsigned>(size));
        while (content.size() < size) {
            content += "line of text " + std::to_string(content.size()) + "\n";
        }
        content.resize(size);
        ASSERT_TRUE(fswtest::writeFile(dir / "src.bin", content));
        for (u32 level : {0u, 1u, 6u, 10u}) {
            for (u8 key : {u8(0), u8(0x5A)}) {
                for (bool loadNow : {true, false}) {
                    SCOPED_TRACE(std::to_string(size) + "/" + std::to_string(level) + "/" + std::to_string(key) +
                                 (loadNow ? "/load" : "/stream"));
                    const Bytes raw = blockBytes(dir, imported(dir, "src.bin", loadNow, level, key));
                    auto block = fromBytes(raw);
                    ASSERT_TRUE(block->isValid());
                    EXPECT_EQ(block->getData() == nullptr, size == 0);
                    ASSERT_EQ(block->exportFile(out.c_str(), nullptr), 0u);
                    const auto first = fswtest::readFile(out + "/src.bin");
                    ASSERT_TRUE(first.has_value());
                    EXPECT_TRUE(*first == content);
                    ASSERT_EQ(block->exportFile(out.c_str(), "again.bin"), 0u);
                    EXPECT_TRUE(fswtest::readFile(out + "/again.bin") == first);
                }
            }
        }
    }
}

TEST(MbdfFileBlock, DirectoriesAndFlags)
{
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "d").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir / ".h").c_str(), 0555), 0);
    MBDFFileBlock block;
    EXPECT_EQ(block.importFile("Current", false, dir.path().c_str(), "d", true, 6, 0), kFileError);
    ASSERT_EQ(block.importFile("Current", true, dir.path().c_str(), "d", true, 6, 0), 0);
    EXPECT_EQ(block.getFlags(), 0x84u);
    EXPECT_EQ(block.getDataSize(false), 0u);
    ASSERT_EQ(block.exportFile((dir / "x").c_str(), nullptr), 0u);
    EXPECT_TRUE(FileAccessor::exists((dir / "x/d").c_str()));
    ASSERT_EQ(block.importFile("Current", true, dir.path().c_str(), ".h", false, 0, 7), 0);
    EXPECT_EQ(block.getFlags(), 0x87u);
    EXPECT_EQ(block.getFileName(), ".h");
    // A file is not a directory.
    ASSERT_TRUE(fswtest::writeFile(dir / "f", "x"));
    EXPECT_EQ(block.importFile("Current", true, dir.path().c_str(), "f", true, 0, 0), kFileError);
    EXPECT_EQ(block.importFile("Current", false, dir.path().c_str(), "missing", true, 0, 0), kFileError);
    EXPECT_EQ(block.importFile("Current", false, dir.path().c_str(), "f", true, 11, 0), kBadArgument);
    EXPECT_EQ(block.setData(reinterpret_cast<const u8*>("x"), 1), kFailed);
}

TEST(MbdfFileBlock, UnsafeNamesAndKindsAreRefused)
{
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
    ASSERT_TRUE(fswtest::writeFile(dir / "sub/x", "secret"));
    MBDFFileBlock block;
    for (const char* name : {"../x", "/x", "sub/x", ".", "..", "", "a\\b", "a:b"}) {
        EXPECT_EQ(block.importFile("Current", false, dir.path().c_str(), name, true, 0, 0), kBadArgument) << name;
    }
    EXPECT_EQ(block.importFile("Current", false, dir.path().c_str(), nullptr, true, 0, 0), kBadArgument);
    EXPECT_EQ(block.importFile("ThirteenChars", false, (dir / "sub").c_str(), "x", true, 0, 0), kBadArgument);
    ASSERT_EQ(block.importFile("TwelveChars!", false, (dir / "sub").c_str(), "x", true, 0, 0), 0);
    EXPECT_EQ(block.getKind(), "TwelveChars!");
    // setKind itself cuts silently.
    EXPECT_EQ(block.setKind("ThirteenChars"), 0);
    EXPECT_EQ(block.getKind(), "ThirteenChar");

    // Stored names that would leave the export folder.
    const std::string out = dir / "out";
    for (const std::string& name :
         std::vector<std::string>{"../x", "/x", "a/b", ".", "", "a\\b", std::string("a\0b", 3)}) {
        auto stored = fromBytes(rawBlock(fileTag(), fileInfo(name, 0x21, 0), bytesOf("data")));
        ASSERT_TRUE(stored->isValid());
        EXPECT_EQ(stored->exportFile(out.c_str(), nullptr), static_cast<u32>(kBadArgument));
    }
    EXPECT_FALSE(FileAccessor::exists((dir / "x").c_str()));
    // A name length beyond the info part makes the block invalid.
    Bytes info = fileInfo("abc", 0, 0);
    info[1] = 6;
    auto bad = fromBytes(rawBlock(fileTag(), info, {}));
    EXPECT_FALSE(bad->isValid());
    EXPECT_EQ(bad->getFileName(), "");
    EXPECT_EQ(bad->exportFile(out.c_str(), nullptr), static_cast<u32>(kInvalid));
    EXPECT_FALSE(fromBytes(rawBlock(fileTag(), Bytes(7, 0), {}))->isValid());
}

TEST(MbdfFileBlock, CutOrFlippedStreamsNeverReachTheTarget)
{
    TempDir dir;
    std::string content = fswtest::pattern(20000, 3) + std::string(30000, 'z');
    ASSERT_TRUE(fswtest::writeFile(dir / "s", content));
    const Bytes raw = blockBytes(dir, imported(dir, "s", true, 6, 0x11));
    const u32 size = getU32(raw, 28);
    const Bytes info(raw.begin() + 36, raw.begin() + 36 + getU32(raw, 24));
    const Bytes data(raw.begin() + 48, raw.begin() + 48 + size);
    const std::string out = dir / "out";
    ASSERT_TRUE(fswtest::writeFile(dir / "old", "old content"));
    for (u32 i = 0; i < 11; ++i) {
        Bytes broken = data;
        if (i < 10) {
            broken.resize(size * (i + 1) / 11); // ten cuts (an empty part is an empty file, not a cut)
        } else {
            broken[size / 2] ^= 0x40;
        }
        auto block = fromBytes(rawBlock(fileTag(), info, broken));
        ASSERT_TRUE(block->isValid());
        EXPECT_EQ(block->exportFile(out.c_str(), nullptr), static_cast<u32>(kOutOfRange)) << i;
        EXPECT_FALSE(FileAccessor::exists((out + "/s").c_str()));
        EXPECT_EQ(block->exportFile(dir.path().c_str(), "old"), static_cast<u32>(kOutOfRange)) << i;
        EXPECT_EQ(fswtest::readFile(dir / "old"), "old content");
    }
    // Trailing bytes behind the stream's end are not accepted either.
    Bytes longer = data;
    longer.push_back(0);
    EXPECT_EQ(fromBytes(rawBlock(fileTag(), info, longer))->exportFile(out.c_str(), nullptr),
              static_cast<u32>(kOutOfRange));
    EXPECT_EQ(fswtest::listNames(out), std::vector<std::string>{});
}

TEST(MbdfFileBlock, ExportTargetsAndUnloadedData)
{
    TempDir dir;
    ASSERT_TRUE(fswtest::writeFile(dir / "a", "new"));
    MBDFFileBlock* block = imported(dir, "a", true, 0, 0);
    ASSERT_TRUE(fswtest::writeFile(dir / "ro", "keep"));
    ASSERT_EQ(::chmod((dir / "ro").c_str(), 0444), 0);
    EXPECT_EQ(block->exportFile(dir.path().c_str(), "ro"), static_cast<u32>(kAccess));
    EXPECT_EQ(fswtest::readFile(dir / "ro"), "keep");
    EXPECT_FALSE(fswtest::isWritableByOwner(dir / "ro"));
    ASSERT_TRUE(fswtest::writeFile(dir / "old", "old"));
    ASSERT_EQ(block->exportFile(dir.path().c_str(), "old"), 0u);
    EXPECT_EQ(fswtest::readFile(dir / "old"), "new");

    // A zero-size file has no data part and exports empty.
    ASSERT_TRUE(fswtest::writeFile(dir / "empty", ""));
    MBDFFileBlock zero;
    ASSERT_EQ(zero.importFile("Current", false, dir.path().c_str(), "empty", true, 6, 0), 0);
    EXPECT_EQ(zero.getData(), nullptr);
    EXPECT_EQ(zero.getDataSize(false), 0u);
    ASSERT_TRUE(fswtest::writeFile(dir / "e2", "not empty"));
    ASSERT_EQ(zero.exportFile(dir.path().c_str(), "e2"), 0u);
    EXPECT_EQ(fswtest::readFile(dir / "e2"), "");

    // Read without data: nothing to export until loaded.
    MBDF c;
    ASSERT_EQ(c.create("ProjectFile", "HUX-NQ", 1, kId, 16), 0);
    c.appendBlock(block);
    ASSERT_EQ(c.write((dir / "c").c_str(), nullptr, nullptr, false), 0);
    MBDFFileBlock::registerFactory();
    ASSERT_EQ(c.read((dir / "c").c_str(), false, nullptr, nullptr, 0), 0);
    auto* lazy = dynamic_cast<MBDFFileBlock*>(c.getBlock(c.beginBlocks()));
    ASSERT_NE(lazy, nullptr);
    EXPECT_EQ(lazy->exportFile((dir / "x").c_str(), nullptr), static_cast<u32>(kNotLoaded));
    ASSERT_EQ(c.loadBlockData(c.beginBlocks(), nullptr), 0);
    EXPECT_EQ(lazy->exportFile((dir / "x").c_str(), nullptr), 0u);
    EXPECT_EQ(fswtest::readFile(dir / "x/a"), "new");
}

TEST(MbdfFileBlock, OversizedFilesAreRefusedWhenTheirSizeIsKnown)
{
    TempDir dir;
    const std::string noise = fswtest::pattern(0xA00000 + 100, 9); // does not compress
    ASSERT_TRUE(fswtest::writeFile(dir / "big", noise));
    MBDFFileBlock block;
    EXPECT_EQ(block.importFile("Current", false, dir.path().c_str(), "big", true, 6, 0), kOutOfRange);
    EXPECT_FALSE(block.isValid());
    EXPECT_EQ(block.importFile("Current", false, dir.path().c_str(), "big", true, 0, 0), kOutOfRange);
    EXPECT_EQ(block.importFile("Current", false, dir.path().c_str(), "big", false, 0, 0), kOutOfRange);

    // Streamed with compression: only the write finds out, and the old container stays.
    const std::string target = dir / "c";
    ASSERT_TRUE(fswtest::writeFile(target, "previous"));
    MBDF c;
    ASSERT_EQ(c.create("ProjectFile", "HUX-NQ", 1, kId, 16), 0);
    c.appendBlock(imported(dir, "big", false, 6, 0));
    EXPECT_EQ(c.write(target.c_str(), nullptr, nullptr, false), kOutOfRange);
    EXPECT_EQ(fswtest::readFile(target), "previous");
    EXPECT_EQ(fswtest::listNames(dir.path()), (std::vector<std::string>{"big", "c"}));
}

TEST(MbdfFileBlock, CopyOfAStreamedBlockStreamsToo)
{
    TempDir dir;
    ASSERT_TRUE(fswtest::writeFile(dir / "a.txt", "hi"));
    MBDFFileBlock* original = imported(dir, "a.txt", false, 0, 0);
    auto* copy = new MBDFFileBlock();
    ASSERT_EQ(copy->copyFrom(*original, true), 0);
    EXPECT_TRUE(copy->isStreamed());
    EXPECT_EQ(copy->getSourceDirectory(), dir.path());
    EXPECT_EQ(blockBytes(dir, copy), blockBytes(dir, original));
    // A generic copy of a file block does not stream.
    MBDFFileBlock plain;
    MBDFAbstractBlock generic;
    ASSERT_EQ(generic.copyFrom(plain, true), 0);
    EXPECT_FALSE(generic.isValid());
}

namespace {

// Counts fsync calls while alive.
class CountingSyncs
{
public:
    CountingSyncs()
    {
        s_count = 0;
        fsw_setSystemCalls(nullptr, nullptr, &CountingSyncs::sync);
    }
    ~CountingSyncs() { fsw_setSystemCalls(nullptr, nullptr, nullptr); }
    static int count() { return s_count; }

private:
    static int sync(int fd)
    {
        ++s_count;
        return ::fsync(fd);
    }
    static inline int s_count = 0;
};

} // namespace

TEST(MbdfFileBlock, UnsyncedExportIsAtomicAndSafeWithoutSyncing)
{
    TempDir dir;
    const std::string content = fswtest::pattern(150000, 5) + std::string(150000, 'q');
    ASSERT_TRUE(fswtest::writeFile(dir / "src", content));
    std::unique_ptr<MBDFFileBlock> packed(imported(dir, "src", true, 6, 0x33));
    std::unique_ptr<MBDFFileBlock> plain(imported(dir, "src", true, 0, 0));
    const std::string out = dir / "out";
    {
        CountingSyncs syncs;
        ASSERT_EQ(packed->exportFileUnsynced(out.c_str(), nullptr), 0u);
        EXPECT_EQ(fswtest::readFile(out + "/src"), content);
        // Over an existing file: replaced whole, its permission bits kept.
        ASSERT_TRUE(fswtest::writeFile(out + "/old", "old"));
        ASSERT_EQ(::chmod((out + "/old").c_str(), 0640), 0);
        ASSERT_EQ(plain->exportFileUnsynced(out.c_str(), "old"), 0u);
        EXPECT_EQ(fswtest::readFile(out + "/old"), content);
        struct stat st;
        ASSERT_EQ(::stat((out + "/old").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        EXPECT_EQ(syncs.count(), 0);
    }

    // A link at the target is replaced itself; the file it points to stays.
    ASSERT_TRUE(fswtest::writeFile(dir / "outside", "outside"));
    ASSERT_EQ(::symlink((dir / "outside").c_str(), (out + "/lnk").c_str()), 0);
    ASSERT_EQ(plain->exportFileUnsynced(out.c_str(), "lnk"), 0u);
    EXPECT_EQ(fswtest::readFile(dir / "outside"), "outside");
    EXPECT_EQ(fswtest::readFile(out + "/lnk"), content);

    // Refusals leave the target as it was and no temporary behind.
    const std::vector<std::string> before = fswtest::listNames(out);
    for (const std::string& name :
         std::vector<std::string>{"../x", "/x", "a/b", ".", "..", "", "a\\b", std::string("a\0b", 3)}) {
        auto stored = fromBytes(rawBlock(fileTag(), fileInfo(name, 0x21, 0), bytesOf("data")));
        ASSERT_TRUE(stored->isValid());
        EXPECT_EQ(stored->exportFileUnsynced(out.c_str(), nullptr), static_cast<u32>(kBadArgument));
    }
    EXPECT_EQ(plain->exportFileUnsynced(out.c_str(), "../escaped"), static_cast<u32>(kBadArgument));
    EXPECT_FALSE(fswtest::exists(dir / "x"));
    EXPECT_FALSE(fswtest::exists(dir / "escaped"));
    ASSERT_TRUE(fswtest::writeFile(out + "/ro", "keep"));
    ASSERT_EQ(::chmod((out + "/ro").c_str(), 0444), 0);
    EXPECT_EQ(plain->exportFileUnsynced(out.c_str(), "ro"), static_cast<u32>(kAccess));
    EXPECT_EQ(fswtest::readFile(out + "/ro"), "keep");
    for (int after : {0, 1, 3}) {
        FailingWrites failing(ENOSPC, after);
        EXPECT_EQ(packed->exportFileUnsynced(out.c_str(), "old"), static_cast<u32>(kOutOfRange)) << after;
    }
    EXPECT_EQ(fswtest::readFile(out + "/old"), content);
    // A cut stream fails the same way.
    const Bytes raw = blockBytes(dir, imported(dir, "src", true, 6, 0));
    const Bytes info(raw.begin() + 36, raw.begin() + 36 + 11);
    const Bytes data(raw.begin() + 48, raw.begin() + 48 + getU32(raw, 28) / 2);
    EXPECT_EQ(fromBytes(rawBlock(fileTag(), info, data))->exportFileUnsynced(out.c_str(), "old"),
              static_cast<u32>(kOutOfRange));
    EXPECT_EQ(fswtest::readFile(out + "/old"), content);
    std::vector<std::string> expected = before;
    expected.push_back("ro");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(fswtest::listNames(out), expected);

    // The stored read-only flag is applied after the rename.
    ASSERT_EQ(::chmod((dir / "src").c_str(), 0444), 0);
    std::unique_ptr<MBDFFileBlock> readOnly(imported(dir, "src", true, 1, 0));
    ASSERT_EQ(readOnly->exportFileUnsynced((dir / "ro2").c_str(), nullptr), 0u);
    EXPECT_FALSE(fswtest::isWritableByOwner(dir / "ro2/src"));
    EXPECT_EQ(fswtest::readFile(dir / "ro2/src"), content);
}

TEST(MbdfFileBlock, UnsyncedExportTakesNamesUpToTheComponentLimit)
{
    TempDir dir;
    ASSERT_TRUE(fswtest::writeFile(dir / "src", "long name"));
    std::unique_ptr<MBDFFileBlock> block(imported(dir, "src", true, 6, 0));
    const std::string out = dir / "out";
    ASSERT_TRUE(fswtest::writeFile(dir / "seed", ""));
    ASSERT_EQ(block->exportFileUnsynced(out.c_str(), "seed"), 0u);
    // 255 bytes of plain text, and 255 bytes of two-byte characters (the temporary's cut falls inside one).
    std::string twoByte;
    while (twoByte.size() + 2 <= 254) {
        twoByte += "\xC3\xA9";
    }
    twoByte += "x";
    for (const std::string& name : {std::string(255, 'n'), twoByte}) {
        ASSERT_EQ(name.size(), 255u);
        EXPECT_EQ(block->exportFileUnsynced(out.c_str(), name.c_str()), 0u);
        EXPECT_EQ(fswtest::readFile(out + "/" + name), "long name");
        // Over the existing file too.
        EXPECT_EQ(block->exportFileUnsynced(out.c_str(), name.c_str()), 0u);
    }
    EXPECT_EQ(fswtest::listNames(out).size(), 3u);
}
