// MBDF container: golden bytes, file ids, generic blocks, limits, aborts, atomic writes and lazy loads.
#include <gtest/gtest.h>

#include <unistd.h>

#include <ctime>
#include <set>

#include "fcache_MBDFFileBlock.h"
#include "fcache_MBDFTestHooks.h"
#include "mbdf_TestUtil.h"

using namespace FILECACHE;
using namespace mbdftest;
using fswtest::TempDir;

namespace {

// The file id's clock is CLOCK_REALTIME; time() reads a coarser clock that may lag it by a tick.
u32 realtimeSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<u32>(now.tv_sec);
}

const u8 kId[16] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x65, 0xc3, 0x9e, 0xb4, 0x7a, 0x8e, 0x88};

Bytes goldenEmpty()
{
    Bytes b = bytesOf("#KORVAN MBDFBackup");
    b.resize(24, 0);
    b.insert(b.end(), {0, 0, 0, 0x24, 0, 0, 0, 0, 0, 0, 0, 0});
    const Bytes name = bytesOf("ZethImage");
    b.insert(b.end(), name.begin(), name.end());
    b.resize(0x34, 0);
    b.insert(b.end(), {1, 2, 3, 4});
    b.insert(b.end(), kId, kId + 16);
    const Bytes end = bytesOf("#END");
    b.insert(b.end(), end.begin(), end.end());
    b.resize(108, 0);
    return b;
}

// A container with generic blocks whose info and data parts are given.
void addGeneric(MBDF& c, const std::string& tag, const Bytes& info, const Bytes& data)
{
    auto* block = new MBDFAbstractBlock();
    ASSERT_EQ(block->setTag(tag.c_str()), 0);
    ASSERT_EQ(block->setInfo(info.data(), static_cast<u32>(info.size())), 0);
    ASSERT_EQ(block->setData(data.data(), static_cast<u32>(data.size())), 0);
    c.appendBlock(block);
}

std::vector<std::string> texts(const RecordingObserver& o)
{
    std::vector<std::string> t;
    for (const auto& c : o.calls) {
        t.push_back(c.text);
    }
    return t;
}

Bytes fiveBlockFile()
{
    return concat({topBlock(), rawBlock("#A", seq(3), seq(5)), rawBlock("#B", {}, seq(1)), rawBlock("#C", seq(8), {}),
                   rawBlock("#D", seq(2), seq(2)), rawBlock("#E", {}, {}), endBlock()});
}

} // namespace

TEST(MbdfContainer, GoldenEmptyContainerProgressAndReadBack)
{
    TempDir dir;
    const std::string path = dir / "empty.mbdf";
    MBDF c;
    ASSERT_EQ(c.create("Backup", "ZethImage", 0x01020304, kId, 16), 0);
    RecordingObserver o;
    ASSERT_EQ(c.write(path.c_str(), nullptr, &o, true), 0);
    EXPECT_EQ(readBytes(path), goldenEmpty());
    EXPECT_EQ(c.getFileSize(), 108u);
    ASSERT_EQ(o.calls.size(), 3u);
    EXPECT_EQ(texts(o), (std::vector<std::string>{"Writing top block...", "Writing end block...", "Finshed."}));
    for (u32 i = 0; i < 3; ++i) {
        EXPECT_EQ(o.calls[i].step, i);
        EXPECT_EQ(o.calls[i].last, i == 2);
    }
    for (const auto& call : o.calls) {
        EXPECT_EQ(call.total, 2u);
        EXPECT_EQ(call.operation, 1u);
    }

    MBDF back;
    ASSERT_EQ(back.read(path.c_str(), true, nullptr, nullptr, 0), 0);
    EXPECT_TRUE(back.isValid());
    EXPECT_TRUE(back.isKind("Backup"));
    EXPECT_TRUE(back.isName("ZethImage"));
    EXPECT_FALSE(back.isName(nullptr));
    EXPECT_EQ(Bytes(back.getFileId(), back.getFileId() + 16), Bytes(kId, kId + 16));
    EXPECT_EQ(back.getTopBlock()->getValue(), 0x01020304u);
    EXPECT_FALSE(back.isComplete()); // no data blocks
    EXPECT_TRUE(MBDF::isMBDFFile(path.c_str()));

    // With a made id only bytes 0x38-0x47 differ: address, time in the test's window, generator bytes.
    mbdftesthooks::fixFileIdAddress(kId);
    u8 id[16];
    const u32 before = realtimeSeconds();
    ASSERT_EQ(makeUniqueFileId(id, 16), 0);
    const u32 after = realtimeSeconds();
    ASSERT_EQ(c.create("Backup", "ZethImage", 0x01020304, id, 16), 0);
    ASSERT_EQ(c.write(path.c_str(), nullptr, nullptr, true), 0);
    Bytes made = readBytes(path);
    ASSERT_EQ(made.size(), 108u);
    EXPECT_EQ(Bytes(made.begin() + 0x38, made.begin() + 0x3E), Bytes(kId, kId + 6));
    const u32 t = u32(made[0x3E]) | (u32(made[0x3F]) << 8) | (u32(made[0x40]) << 16) | (u32(made[0x41]) << 24);
    EXPECT_GE(t, before);
    EXPECT_LE(t, after);
    EXPECT_EQ(Bytes(made.begin() + 0x42, made.begin() + 0x48), Bytes(id + 10, id + 16));
    std::copy(kId, kId + 16, made.begin() + 0x38);
    EXPECT_EQ(made, goldenEmpty());
}

TEST(MbdfContainer, FileAbove4GiBIsRefused)
{
    TempDir dir;
    const std::string path = dir / "huge";
    ASSERT_TRUE(writeBytes(path, goldenEmpty()));
    if (::truncate(path.c_str(), 0x100000000ll + 8) != 0) {
        GTEST_SKIP() << "no sparse files here";
    }
    MBDF c;
    EXPECT_EQ(c.readFile(path.c_str(), false, nullptr, nullptr, 0), kOutOfRange);
}

TEST(MbdfContainer, CheckFileInFreshProcessKnowsContainerTags)
{
    // No container has been constructed in this process yet.
    TempDir dir;
    ASSERT_TRUE(writeBytes(dir / "a", goldenEmpty()));
    EXPECT_TRUE(MBDF::isMBDFFile((dir / "a").c_str()));
    Bytes cut = goldenEmpty();
    cut.resize(72);
    ASSERT_TRUE(writeBytes(dir / "b", cut));
    EXPECT_FALSE(MBDF::isMBDFFile((dir / "b").c_str()));
    EXPECT_FALSE(MBDF::isMBDFFile((dir / "missing").c_str()));
}

TEST(MbdfFileId, SeamsGiveTheKnownSequenceAndZerosWithoutAdapter)
{
    const u8 mac[6] = {0x02, 0, 0, 0, 0, 0x01};
    mbdftesthooks::fixFileIdAddress(mac);
    mbdftesthooks::fixFileIdTime(0x65000000u);
    mbdftesthooks::setFileIdGeneratorState(0x50000);
    u8 a[16];
    u8 b[16];
    ASSERT_EQ(makeUniqueFileId(a, 16), 0);
    ASSERT_EQ(makeUniqueFileId(b, 20), 0);
    EXPECT_EQ(Bytes(a, a + 16), (Bytes{2, 0, 0, 0, 0, 1, 0, 0, 0, 0x65, 0xc3, 0x9e, 0xb4, 0x7a, 0x8e, 0x88}));
    EXPECT_EQ(Bytes(b + 10, b + 16), (Bytes{0x55, 0x5b, 0x94, 0xc4, 0x20, 0x4a}));

    mbdftesthooks::fixFileIdAddress(nullptr);
    ASSERT_EQ(makeUniqueFileId(a, 16), 0);
    EXPECT_EQ(Bytes(a, a + 6), Bytes(6, 0));

    EXPECT_EQ(makeUniqueFileId(nullptr, 16), kFailed);
    EXPECT_EQ(makeUniqueFileId(a, 15), kFailed);
    mbdftesthooks::clearFixedFileIdAddress();
    mbdftesthooks::clearFixedFileIdTime();
}

TEST(MbdfFileId, RealClockAndUniqueGeneratorBytes)
{
    mbdftesthooks::fixFileIdAddress(nullptr);
    mbdftesthooks::clearFixedFileIdTime(); // the seams are process-wide: another case may have fixed the clock
    const u32 before = realtimeSeconds();
    std::set<Bytes> tails;
    u8 id[16];
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(makeUniqueFileId(id, 16), 0);
        tails.insert(Bytes(id + 10, id + 16));
    }
    const u32 after = realtimeSeconds();
    const u32 t = u32(id[6]) | (u32(id[7]) << 8) | (u32(id[8]) << 16) | (u32(id[9]) << 24);
    EXPECT_GE(t, before);
    EXPECT_LE(t, after);
    EXPECT_EQ(tails.size(), 1000u);
}

TEST(MbdfContainer, TopBlockTextsAndBadId)
{
    MBDFTopBlock top;
    const u8 longId[20] = {9, 9, 9};
    EXPECT_EQ(top.setup("ProjectFile", "NAME", 1, longId, 20), kBadArgument);
    EXPECT_EQ(top.getTag(), "#KORVAN MBDF");
    ASSERT_NE(top.getInfo(), nullptr);
    EXPECT_EQ(Bytes(top.getInfo() + 20, top.getInfo() + 36), Bytes(16, 0));

    MBDF c;
    ASSERT_EQ(c.create("TwelveChars!", "0123456789abcdefXYZ", 7, kId, 4), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(c.getTopBlock()->getHeader()), 24), "#KORVAN MBDFTwelveChars!");
    EXPECT_TRUE(c.isKind("TwelveChars!"));
    EXPECT_TRUE(c.isName("0123456789abcdef"));
    EXPECT_FALSE(c.isName("0123456789abcdefXYZ"));
    EXPECT_EQ(Bytes(c.getFileId(), c.getFileId() + 16), concat({Bytes(kId, kId + 4), Bytes(12, 0)}));
}

TEST(MbdfContainer, GenericBlocksRoundTripByteForByte)
{
    TempDir dir;
    MBDF c;
    ASSERT_EQ(c.create("Backup", "ZethImage", 1, kId, 16), 0);
    Bytes expected = goldenEmpty();
    expected.resize(72);
    for (u32 i = 0; i < 8; ++i) {
        for (u32 d = 0; d < 8; d += 3) {
            const std::string tag = "#T" + std::to_string(i) + std::to_string(d);
            addGeneric(c, tag, seq(i, 3), seq(d, 100));
            const Bytes raw = rawBlock(tag, seq(i, 3), seq(d, 100));
            expected.insert(expected.end(), raw.begin(), raw.end());
        }
    }
    const Bytes end = endBlock();
    expected.insert(expected.end(), end.begin(), end.end());
    putU32(expected, 0x34, 1);
    ASSERT_EQ(c.write((dir / "g").c_str(), nullptr, nullptr, false), 0);
    EXPECT_EQ(readBytes(dir / "g"), expected);
    EXPECT_EQ(c.getFileSize(), expected.size());
    // Unknown tags survive read and write but the file is not a recognised container.
    EXPECT_FALSE(MBDF::isMBDFFile((dir / "g").c_str()));
    MBDF back;
    ASSERT_EQ(back.read((dir / "g").c_str(), true, nullptr, nullptr, 0), 0);
    EXPECT_TRUE(back.isComplete());
    ASSERT_EQ(back.getBlockCount(), 24u);
    EXPECT_EQ(back.getBlock(back.getBlockIterator(5))->getTag(), "#T16");
    EXPECT_TRUE(back.getBlock(back.getBlockIterator(24))->isNull());
    ASSERT_EQ(back.write((dir / "h").c_str(), nullptr, nullptr, false), 0);
    EXPECT_EQ(readBytes(dir / "h"), expected);
}

TEST(MbdfContainer, BlockLimitMissingEndAndStoppedRead)
{
    TempDir dir;
    // maxBlocks 2 of 5.
    ASSERT_TRUE(writeBytes(dir / "five", fiveBlockFile()));
    MBDF c;
    RecordingObserver o;
    ASSERT_EQ(c.read((dir / "five").c_str(), true, nullptr, &o, 2), 0);
    EXPECT_EQ(c.getBlockCount(), 2u);
    EXPECT_TRUE(c.isStopped());
    EXPECT_FALSE(c.isValid());
    const auto t = texts(o);
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[t.size() - 2], "Reading end block...");
    EXPECT_EQ(t.back(), "Finished.");

    // Without "#END": the read fails and keeps what it read.
    Bytes noEnd = fiveBlockFile();
    noEnd.resize(noEnd.size() - 36);
    ASSERT_TRUE(writeBytes(dir / "noend", noEnd));
    EXPECT_EQ(c.read((dir / "noend").c_str(), true, nullptr, &o, 0), kOutOfRange);
    EXPECT_EQ(c.getBlockCount(), 5u);
    EXPECT_EQ(o.errors.back(), (std::pair<u32, i32>(0, kOutOfRange)));
    EXPECT_FALSE(c.isStopped());
}

TEST(MbdfContainer, ReadingLimitIsExactAndSumsDoNotWrap)
{
    TempDir dir;
    const std::string path = dir / "f";
    const auto fileWith = [&](u32 info, u32 data, bool withPayload) {
        Bytes block = rawBlock("#X", {}, {});
        putU32(block, 24, info);
        putU32(block, 28, data);
        if (withPayload) {
            block.resize(36 + ((u64(info) + 3) & ~3ull) + ((u64(data) + 3) & ~3ull), 0);
        }
        return writeBytes(path, concat({topBlock(), block, endBlock()}));
    };
    MBDF c;
    ASSERT_TRUE(fileWith(0x100000, 0x900000, true));
    EXPECT_EQ(c.readFile(path.c_str(), true, nullptr, nullptr, 0), 0);
    ASSERT_TRUE(fileWith(0x100000, 0x900001, true));
    EXPECT_EQ(c.readFile(path.c_str(), true, nullptr, nullptr, 0), kOutOfRange);
    EXPECT_EQ(c.readFile(path.c_str(), false, nullptr, nullptr, 0), 0); // only the info part counts
    EXPECT_EQ(c.loadBlockData(c.beginBlocks(), nullptr), kOutOfRange);

    // Sums near 2^32 must not wrap into acceptance, nor a skip land back on the same header.
    for (const auto& sizes : {std::pair<u32, u32>{0xFFFFFFF0u, 0x20}, {0x10, 0xFFFFFFDCu}, {0, 0xFFFFFFFFu}}) {
        ASSERT_TRUE(fileWith(sizes.first, sizes.second, false));
        EXPECT_EQ(c.readFile(path.c_str(), true, nullptr, nullptr, 0), kOutOfRange);
        EXPECT_EQ(c.readFile(path.c_str(), false, nullptr, nullptr, 0), kOutOfRange);
        EXPECT_FALSE(MBDF::isMBDFFile(path.c_str()));
    }
}

TEST(MbdfContainer, LargeDataPartSkippedWithoutData)
{
    TempDir dir;
    const std::string path = dir / "big";
    const u32 big = 20u * 1024 * 1024 + 2;
    Bytes file = concat({topBlock(), rawBlock("#BIG", seq(5), {})});
    putU32(file, 72 + 28, big);
    file.resize(file.size() + big + 2, 0);
    const Bytes tail = concat({rawBlock("#NEXT", seq(4), seq(4)), endBlock()});
    file.insert(file.end(), tail.begin(), tail.end());
    ASSERT_TRUE(writeBytes(path, file));

    FileAccessor f;
    ASSERT_EQ(f.open(path.c_str(), FileAccessor::kModeRead), 0);
    ASSERT_EQ(f.seek(0, 72), 0);
    MBDFAbstractBlock block;
    EXPECT_EQ(block.readFromFile(f, false, nullptr), 0);
    EXPECT_EQ(f.tell(), 72u + 36 + 8 + big + 2);
    EXPECT_EQ(block.getData(), nullptr);

    MBDF c;
    ASSERT_EQ(c.read(path.c_str(), false, nullptr, nullptr, 0), 0);
    ASSERT_EQ(c.getBlockCount(), 2u);
    EXPECT_EQ(c.getBlock(c.getBlockIterator(1))->getTag(), "#NEXT");
    EXPECT_FALSE(c.getBlock(c.beginBlocks())->hasData());
    EXPECT_EQ(c.read(path.c_str(), true, nullptr, nullptr, 0), kOutOfRange);
}

TEST(MbdfContainer, AbortAtEveryReadStep)
{
    TempDir dir;
    ASSERT_TRUE(writeBytes(dir / "five", fiveBlockFile()));
    bool abort = true;
    MBDF c;
    RecordingObserver first;
    EXPECT_EQ(c.read((dir / "five").c_str(), true, &abort, &first, 0), 2);
    ASSERT_EQ(first.calls.size(), 1u);
    EXPECT_EQ(first.calls[0].text, "Aborted.");
    for (int at = 0; at < 8; ++at) {
        abort = false;
        RecordingObserver o;
        o.abortFlag = &abort;
        o.abortAt = at;
        EXPECT_EQ(c.read((dir / "five").c_str(), true, &abort, &o, 0), 2) << at;
        EXPECT_EQ(o.calls.back().text, "Aborted.");
        EXPECT_TRUE(o.calls.back().last);
        EXPECT_TRUE(o.errors.empty());
    }
}

TEST(MbdfContainer, FailedOrAbortedWriteKeepsOldFile)
{
    TempDir dir;
    const std::string path = dir / "target";
    const Bytes old = fiveBlockFile();
    ASSERT_TRUE(writeBytes(path, old));
    MBDF c;
    ASSERT_EQ(c.create("Backup", "ZethImage", 1, kId, 16), 0);
    for (int i = 0; i < 3; ++i) {
        addGeneric(c, "#G", seq(10), seq(5000));
    }
    const auto unchanged = [&](const char* what) {
        EXPECT_EQ(readBytes(path), old) << what;
        EXPECT_EQ(fswtest::listNames(dir.path()), std::vector<std::string>{"target"}) << what;
    };
    for (int at = -1; at < 4; ++at) {
        bool abort = at < 0;
        RecordingObserver o;
        o.abortFlag = &abort;
        o.abortAt = at;
        EXPECT_EQ(c.write(path.c_str(), &abort, &o, true), 2);
        EXPECT_EQ(o.calls.back().text, "Aborted.");
        EXPECT_EQ(o.calls.back().step, static_cast<u32>(at + 1));
        unchanged("abort");
    }
    {
        FailingWrites full(ENOSPC, 0);
        RecordingObserver o;
        EXPECT_EQ(c.write(path.c_str(), nullptr, &o, true), kDiskFull);
        EXPECT_EQ(o.errors.back(), (std::pair<u32, i32>(1, kDiskFull)));
    }
    unchanged("disk full");
    {
        FailingWrites broken(EIO, 0);
        EXPECT_EQ(c.write(path.c_str(), nullptr, nullptr, true), kFileError);
    }
    unchanged("write failure");

    // A block without its data part cannot be written: nothing is touched.
    MBDF lazy;
    ASSERT_EQ(c.write((dir / "src").c_str(), nullptr, nullptr, false), 0);
    ASSERT_EQ(lazy.read((dir / "src").c_str(), false, nullptr, nullptr, 0), 0);
    EXPECT_EQ(lazy.write(path.c_str(), nullptr, nullptr, false), kNotLoaded);
    EXPECT_EQ(readBytes(path), old);
    ASSERT_EQ(lazy.loadBlockData(lazy.getBlockIterator(0), nullptr), 0);
    FileAccessor closed;
    EXPECT_EQ(lazy.getBlock(lazy.beginBlocks())->writeToFile(closed), kFileError);
    FileAccessor scratch;
    ASSERT_EQ(scratch.open((dir / "scratch").c_str(), FileAccessor::kModeCreate), 0);
    lazy.releaseBlockData(lazy.beginBlocks());
    EXPECT_EQ(lazy.getBlock(lazy.beginBlocks())->writeToFile(scratch), kNotLoaded);
    EXPECT_EQ(scratch.tell(), 0u);

    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_EQ(c.write(path.c_str(), nullptr, nullptr, false), kFileError);
    EXPECT_EQ(readBytes(path), old);
}

TEST(MbdfContainer, LazyLoadsReadOnlyTheBlocksOwnBytes)
{
    TempDir dir;
    const std::string path = dir / "lazy";
    ASSERT_TRUE(writeBytes(path, fiveBlockFile()));
    MBDF c;
    ASSERT_EQ(c.read(path.c_str(), false, nullptr, nullptr, 0), 0);
    EXPECT_FALSE(c.isComplete());
    // Remove the first block: the others still load their own data, not their neighbours'.
    MBDFAbstractBlock* removed = c.getBlock(c.beginBlocks());
    ASSERT_EQ(c.removeBlock(c.beginBlocks()), 0);
    delete removed;
    EXPECT_EQ(c.removeBlock(c.endBlocks()), kFailed);
    ASSERT_EQ(c.loadBlockData(c.getBlockIterator(2), nullptr), 0);
    const MBDFAbstractBlock* d = c.getBlock(c.getBlockIterator(2));
    EXPECT_EQ(d->getTag(), "#D");
    EXPECT_EQ(Bytes(d->getData(), d->getData() + 2), seq(2));
    EXPECT_EQ(c.releaseBlockData(c.getBlockIterator(2)), 0);
    EXPECT_EQ(c.releaseBlockData(c.endBlocks()), kFailed);

    // An appended block was never read from this file.
    addGeneric(c, "#NEW", {}, seq(4));
    c.getBlock(c.getBlockIterator(4))->releaseData();
    EXPECT_EQ(c.loadBlockData(c.getBlockIterator(4), nullptr), kOutOfRange);

    // The file was replaced by another layout: refuse rather than read foreign bytes.
    ASSERT_TRUE(writeBytes(path, concat({topBlock(), rawBlock("#Z", seq(3), seq(9, 50)),
                                         rawBlock("#A", seq(3), seq(5, 60)), endBlock()})));
    EXPECT_EQ(c.loadBlockData(c.getBlockIterator(0), nullptr), kOutOfRange);
    EXPECT_EQ(c.getBlock(c.getBlockIterator(0))->getData(), nullptr);
    EXPECT_EQ(c.loadBlockData(c.endBlocks(), nullptr), kOutOfRange);

    // After a write the blocks load from the new file.
    ASSERT_EQ(c.read(path.c_str(), true, nullptr, nullptr, 0), 0);
    ASSERT_EQ(c.write((dir / "copy").c_str(), nullptr, nullptr, false), 0);
    c.releaseBlockData(c.getBlockIterator(1));
    ASSERT_EQ(c.loadBlockData(c.getBlockIterator(1), nullptr), 0);
    EXPECT_EQ(Bytes(c.getBlock(c.getBlockIterator(1))->getData(), c.getBlock(c.getBlockIterator(1))->getData() + 5),
              seq(5, 60));

    // An image has no file behind it.
    const Bytes image = fiveBlockFile();
    ASSERT_EQ(c.readFromMemory(image.data(), static_cast<u32>(image.size())), 0);
    EXPECT_EQ(c.getBlockCount(), 7u); // top and end included
    EXPECT_EQ(c.getBlock(c.getBlockIterator(6))->getTag(), "#END");
    EXPECT_EQ(c.loadBlockData(c.getBlockIterator(1), nullptr), kFileError);
    EXPECT_EQ(c.readFromMemory(nullptr, 10), kFailed);
}

TEST(MbdfContainer, RegistryKeepsFirstFactoryAndRefusesNull)
{
    static MBDFBlockFactory<MBDFFileBlock> a;
    static MBDFBlockFactory<MBDFAbstractBlock> b;
    EXPECT_EQ(MBDF::registerBlockFactory(nullptr, &a), kFailed);
    EXPECT_EQ(MBDF::registerBlockFactory("#REGTEST", &a), 0);
    EXPECT_EQ(MBDF::registerBlockFactory("#REGTEST", &b), 0);
    EXPECT_EQ(MBDF::findBlockFactory("#REGTEST"), &a);
    EXPECT_EQ(MBDF::findBlockFactory("#REGTES"), nullptr);
    EXPECT_EQ(MBDF::makePath(nullptr, "n"), "n");
    EXPECT_EQ(MBDF::makePath("d", "n"), "d/n");
    EXPECT_EQ(MBDF::makePath("d", nullptr), "");
}

namespace {

// A block class of another component: it reads through its own readFromFile.
class OwnReaderBlock : public MBDFAbstractBlock
{
public:
    i32 readFromFile(FileAccessor& file, bool withData, const bool* abort) override
    {
        ++s_reads;
        return MBDFAbstractBlock::readFromFile(file, withData, abort);
    }
    static inline int s_reads = 0;
};

} // namespace

TEST(MbdfContainer, OtherBlockClassesReadThemselvesAmongGenericOnes)
{
    TempDir dir;
    static MBDFBlockFactory<OwnReaderBlock> factory;
    ASSERT_EQ(MBDF::registerBlockFactory("#OWN", &factory), 0);
    Bytes file = topBlock();
    std::vector<Bytes> datas;
    for (u32 i = 0; i < 12; ++i) {
        datas.push_back(seq(i * 37 % 300, static_cast<u8>(i)));
        const Bytes raw = rawBlock(i % 3 == 0 ? "#OWN" : "#GEN", seq(i % 5), datas.back());
        file.insert(file.end(), raw.begin(), raw.end());
    }
    const Bytes end = endBlock();
    file.insert(file.end(), end.begin(), end.end());
    ASSERT_TRUE(writeBytes(dir / "mixed", file));
    for (bool withData : {true, false}) {
        OwnReaderBlock::s_reads = 0;
        MBDF c;
        ASSERT_EQ(c.read((dir / "mixed").c_str(), withData, nullptr, nullptr, 0), 0);
        EXPECT_EQ(OwnReaderBlock::s_reads, 4);
        ASSERT_EQ(c.getBlockCount(), 12u);
        for (u32 i = 0; i < 12; ++i) {
            auto it = c.getBlockIterator(static_cast<i32>(i));
            if (!withData) {
                ASSERT_EQ(c.loadBlockData(it, nullptr), 0);
            }
            const MBDFAbstractBlock* b = c.getBlock(it);
            EXPECT_EQ(b->getTag(), i % 3 == 0 ? "#OWN" : "#GEN");
            EXPECT_EQ(Bytes(b->getInfo(), b->getInfo() + b->getInfoSize(false)), seq(i % 5));
            EXPECT_EQ(Bytes(b->getData(), b->getData() + b->getDataSize(false)), datas[i]) << i;
        }
        EXPECT_TRUE(c.isValid());
    }
}
