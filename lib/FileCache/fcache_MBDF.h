// MBDF: the container file of backups, presets, snapshots and projects. A file is a top block, any number of data
// blocks and an end block. Data blocks are created by tag through a process-wide registry of block factories;
// a tag without a factory is kept as a generic block.
#pragma once

#include <list>
#include <string>

#include "fcache_BinaryAccessor.h"
#include "fcache_MBDFAbstractBlock.h"
#include "klib_Types.h"

namespace FILECACHE {

// Progress and failure callbacks of container reads (operation 0) and writes (operation 1). When reading, step
// and total are byte positions; when writing, step counts blocks.
class IMBDFObserver
{
public:
    virtual ~IMBDFObserver() = default;
    virtual void onProgress(u32 operation, u32 step, u32 total, const char* path, const char* text, bool last) = 0;
    virtual void onError(u32 operation, const char* path, i32 code) = 0;
};

class DummyMBDFObserver : public IMBDFObserver
{
public:
    void onProgress(u32, u32, u32, const char*, const char*, bool) override {}
    void onError(u32, const char*, i32) override {}
};

class MBDF
{
public:
    using BlockList = std::list<MBDFAbstractBlock*>;
    using BlockIterator = BlockList::iterator;

    // Result of an aborted read or write.
    static constexpr i32 kAbortedResult = 2;

    MBDF();
    virtual ~MBDF();
    MBDF(const MBDF&) = delete;
    MBDF& operator=(const MBDF&) = delete;

    // The top block, the end block and every data block are valid.
    virtual bool isValid();
    // readFile of the stored path without data, abort flag, observer or limit.
    virtual i32 reload();
    // readFile; a failure is also reported to the observer's onError (0, path, code).
    [[nodiscard]] virtual i32 read(const char* path, bool withData, const bool* abort, IMBDFObserver* observer,
                                   u32 maxBlocks);
    // writeFile; a failure is also reported to the observer's onError (1, path, code).
    [[nodiscard]] virtual i32 write(const char* path, const bool* abort, IMBDFObserver* observer, bool flush);
    // Every block of the image (top and end included) becomes an entry of the data-block list; the stored path is
    // cleared. Null image 0x80000000.
    virtual i32 readFromMemory(const u8* image, u32 size);

    // clear, then set up the top block (kind, name, version word, id) and the end block. 0x80000000 when a step
    // failed.
    i32 create(const char* kind, const char* name, u32 value, const u8* id, u32 idLength);
    i32 clear();

    // Reads a whole file. 0; 2 when aborted; 0x80000000 null path; 0x80000004 cannot open / position / read;
    // 0x80000003 an invalid or cut block, a block over the limit or one reaching past the end of the file, a
    // missing end block, a file above 4 GiB; 0x80000005 no memory. maxBlocks 0 reads every block; otherwise at
    // most maxBlocks data blocks, without the end block (the container is then not valid, see isStopped).
    i32 readFile(const char* path, bool withData, const bool* abort, IMBDFObserver* observer, u32 maxBlocks);
    // Writes the container through a temporary beside path that replaces path only when everything was written
    // and synced: on any failure or abort the old file stays as it was. 0; 2 when aborted; 0x80000000 invalid
    // container or null path; 0x80000006 a block that cannot be written (no data part, no source); 0x80000004
    // cannot create / write (also a read-only target); 0x80000009 disk full; a block's own failure.
    i32 writeFile(const char* path, const bool* abort, IMBDFObserver* observer, bool flush);

    // Data-block list. The container owns the blocks; writers append heap blocks with appendBlock (or push_back
    // onto getBlockList) and the container deletes them.
    BlockList& getBlockList() { return m_blocks; }
    void appendBlock(MBDFAbstractBlock* block) { m_blocks.push_back(block); }
    BlockIterator beginBlocks() { return m_blocks.begin(); }
    BlockIterator endBlocks() { return m_blocks.end(); }
    u32 getBlockCount() const { return static_cast<u32>(m_blocks.size()); }
    // The index-th data block from 0, or the end iterator.
    BlockIterator getBlockIterator(i32 index);
    // The block, or the shared null block for the end iterator or an empty entry.
    MBDFAbstractBlock* getBlock(BlockIterator it);
    MBDFEndBlock* getEndBlock() { return &m_endBlock; }
    MBDFTopBlock* getTopBlock() { return &m_topBlock; }
    // Unlinks the entry; the block then belongs to the caller. 0x80000000 for the end iterator.
    i32 removeBlock(BlockIterator it);

    // Loads a block's data part again from the file it was read from (the stored path, or `file` when given).
    // 0x80000004 no stored path or the file cannot be opened / positioned; 0x80000003 null block, a block not read
    // from a file, or a block whose header in the file is not its own.
    i32 loadBlockData(BlockIterator it, FileAccessor* file);
    i32 releaseBlockData(BlockIterator it);

    // 0 when not valid; otherwise the on-disk size of all blocks.
    u64 getFileSize();
    // False for an empty list; otherwise every data block is valid and has its data part.
    bool isComplete();
    bool isKind(const char* text);
    bool isName(const char* text);
    const u8* getFileId();
    u32 getFileIdSize() const { return MBDFTopBlock::kFileIdSize; }
    const std::string& getPath() const { return m_path; }
    // Set when the last read stopped at its block limit.
    bool isStopped() const { return m_stopped; }

    // Opens the file read-only and checks it; false when it cannot be opened.
    static bool isMBDFFile(const char* path);
    // Walks the headers: true when the first is a top block and an end block is met before fileSize, every tag
    // being registered and every block lying within fileSize. Restores the file position.
    static bool checkFile(FileAccessor& file, u64 fileSize);
    static std::string makePath(const char* dir, const char* name);
    static bool isNonEmptyText(const char* s);
    // 0x80000000 for a null tag or factory; the first registration of a tag stays.
    static i32 registerBlockFactory(const char* tag, IMBDFBlockFactory* factory);
    // The factory registered under exactly this tag, or null.
    static IMBDFBlockFactory* findBlockFactory(const char* tag);
    static void clearHeader(u8* header);

private:
    struct ReadState;

    static void registerContainerBlocks();
    void abortProgress(IMBDFObserver* observer, u32 operation, u32 step, u32 total);
    // The phases of readFile; each gives 0 or the result readFile returns.
    i32 readTopBlock(ReadState& state);
    i32 readDataBlocks(ReadState& state, bool* atEnd);
    i32 readDataBlock(ReadState& state, u64 end);
    i32 readEndBlock(ReadState& state, bool atEnd);

    MBDFTopBlock m_topBlock;
    MBDFEndBlock m_endBlock;
    BlockList m_blocks;
    std::string m_path;
    bool m_stopped;
};

} // namespace FILECACHE
