#include "fcache_MBDF.h"

#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <typeinfo>
#include <vector>

#include "fcache_MBDFFileBlock.h"
#include "klib_Print.h"

namespace FILECACHE {

namespace BA = BinaryAccessor;

namespace {

constexpr u32 kRead = 0;
constexpr u32 kAhead = 128;
// Blocks up to kGatherBlock bytes are gathered up to kGather bytes and written in one piece.
constexpr size_t kGather = 256 * 1024;
constexpr u64 kGatherBlock = 64 * 1024;
constexpr u32 kWrite = 1;

bool isAborted(const bool* abort)
{
    // Another thread may set the flag while we run.
    return abort != nullptr && __atomic_load_n(abort, __ATOMIC_ACQUIRE);
}

// Tag registry: text -> factory, ordered byte-wise. Guarded, since containers are built on many threads.
struct Registry
{
    std::mutex lock;
    std::map<std::string, IMBDFBlockFactory*> factories;
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

// Writes all bytes; failures as a block write maps them (disk full 0x80000009, else 0x80000004).
i32 writeBytes(FileAccessor& file, const u8* bytes, size_t size)
{
    while (size != 0) {
        const u32 chunk = size > 0x40000000u ? 0x40000000u : static_cast<u32>(size);
        u32 put = 0;
        const i32 result = file.write(bytes, chunk, &put);
        if (result < 0) {
            return mapMBDFWriteFailure(result);
        }
        if (put != chunk) {
            return MBDFResult::kFileError;
        }
        bytes += chunk;
        size -= chunk;
    }
    return 0;
}

std::string tagTextOf(const u8* header)
{
    u32 n = 0;
    while (n < kMBDFTagFieldSize && header[n] != 0) {
        ++n;
    }
    return std::string(reinterpret_cast<const char*>(header), n);
}

u64 blockEnd(u64 pos, const u8* header)
{
    const u64 info = BA::readUInt(header + 24, 4, true);
    const u64 data = BA::readUInt(header + 28, 4, true);
    return pos + kMBDFHeaderSize + BA::align4U64(info) + BA::align4U64(data);
}

// The first registered tag, in registry order, that the header's tag field starts with; empty when none.
std::string matchRegisteredPrefix(const u8* header)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    for (const auto& entry : r.factories) {
        const std::string& tag = entry.first;
        if (tag.size() <= kMBDFTagFieldSize && std::memcmp(header, tag.data(), tag.size()) == 0) {
            return tag;
        }
    }
    return std::string();
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// Registry and static helpers
// ---------------------------------------------------------------------------------------------------------------

i32 MBDF::registerBlockFactory(const char* tag, IMBDFBlockFactory* factory)
{
    if (tag == nullptr || factory == nullptr) {
        return MBDFResult::kFailed;
    }
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.factories.emplace(std::string(tag), factory); // the first registration stays
    return 0;
}

IMBDFBlockFactory* MBDF::findBlockFactory(const char* tag)
{
    if (tag == nullptr) {
        return nullptr;
    }
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    const auto found = r.factories.find(std::string(tag));
    return found == r.factories.end() ? nullptr : found->second;
}

void MBDF::registerContainerBlocks()
{
    MBDFTopBlock::registerFactory();
    MBDFEndBlock::registerFactory();
}

std::string MBDF::makePath(const char* dir, const char* name)
{
    if (name == nullptr) {
        return std::string();
    }
    if (dir == nullptr || dir[0] == 0) {
        return std::string(name);
    }
    return std::string(dir) + "/" + name;
}

bool MBDF::isNonEmptyText(const char* s)
{
    return s != nullptr && s[0] != 0;
}

void MBDF::clearHeader(u8* header)
{
    if (header != nullptr) {
        std::memset(header, 0, kMBDFHeaderSize);
    }
}

bool MBDF::checkFile(FileAccessor& file, u64 fileSize)
{
    registerContainerBlocks();
    const u32 saved = file.tell();
    const auto done = [&](bool result) {
        file.seek(0, saved);
        return result;
    };
    if (file.seek(0, 0) < 0) {
        return done(false);
    }
    u64 pos = 0;
    for (;;) {
        if (pos >= fileSize) {
            return done(false);
        }
        u8 header[kMBDFHeaderSize];
        u32 got = 0;
        if (file.read(header, kMBDFHeaderSize, &got) < 0 || got != kMBDFHeaderSize) {
            return done(false);
        }
        const std::string tag = matchRegisteredPrefix(header);
        if (tag.empty()) {
            return done(false);
        }
        if (pos == 0) {
            if (tag != MBDFTopBlock::kTag) {
                return done(false);
            }
        } else if (tag == MBDFEndBlock::kTag) {
            return done(true);
        }
        // A block must lie within the file: this also keeps the walk moving forward.
        const u64 end = blockEnd(pos, header);
        if (end > fileSize || end > 0xFFFFFFFFu || file.seek(0, static_cast<u32>(end)) < 0) {
            return done(false);
        }
        pos = end;
    }
}

bool MBDF::isMBDFFile(const char* path)
{
    if (path == nullptr) {
        return false;
    }
    FileAccessor file;
    if (file.open(path, FileAccessor::kModeRead) < 0) {
        return false;
    }
    u64 size = 0;
    if (file.getSize(&size) < 0) {
        return false;
    }
    return checkFile(file, size);
}

// ---------------------------------------------------------------------------------------------------------------
// Container
// ---------------------------------------------------------------------------------------------------------------

MBDF::MBDF() : m_stopped(false)
{
    registerContainerBlocks();
}

MBDF::~MBDF()
{
    clear();
}

i32 MBDF::clear()
{
    m_topBlock.clear();
    m_endBlock.clear();
    for (MBDFAbstractBlock* block : m_blocks) {
        delete block;
    }
    m_blocks.clear();
    return 0;
}

i32 MBDF::create(const char* kind, const char* name, u32 value, const u8* id, u32 idLength)
{
    const i32 cleared = clear();
    const i32 top = m_topBlock.setup(kind, name, value, id, idLength);
    const i32 end = m_endBlock.setup();
    return (cleared < 0 || top < 0 || end < 0) ? MBDFResult::kFailed : 0;
}

bool MBDF::isValid()
{
    if (!m_topBlock.isValid() || !m_endBlock.isValid()) {
        return false;
    }
    for (const MBDFAbstractBlock* block : m_blocks) {
        if (block == nullptr || !block->isValid()) {
            return false;
        }
    }
    return true;
}

MBDF::BlockIterator MBDF::getBlockIterator(i32 index)
{
    if (index < 0 || static_cast<u32>(index) >= m_blocks.size()) {
        return m_blocks.end();
    }
    auto it = m_blocks.begin();
    std::advance(it, index);
    return it;
}

MBDFAbstractBlock* MBDF::getBlock(BlockIterator it)
{
    if (it == m_blocks.end() || *it == nullptr) {
        return MBDFNullBlock::getInstance();
    }
    return *it;
}

i32 MBDF::removeBlock(BlockIterator it)
{
    if (it == m_blocks.end()) {
        return MBDFResult::kFailed;
    }
    m_blocks.erase(it);
    return 0;
}

u64 MBDF::getFileSize()
{
    if (!isValid()) {
        return 0;
    }
    u64 size = m_topBlock.getBlockSize() + m_endBlock.getBlockSize();
    for (const MBDFAbstractBlock* block : m_blocks) {
        size += block->getBlockSize();
    }
    return size;
}

bool MBDF::isComplete()
{
    if (m_blocks.empty()) {
        return false;
    }
    for (const MBDFAbstractBlock* block : m_blocks) {
        if (block == nullptr || !block->hasData()) {
            return false;
        }
    }
    return true;
}

bool MBDF::isKind(const char* text)
{
    return text != nullptr && m_topBlock.getKind() == text;
}

bool MBDF::isName(const char* text)
{
    return text != nullptr && m_topBlock.getName() == text;
}

const u8* MBDF::getFileId()
{
    return m_topBlock.getFileId();
}

void MBDF::abortProgress(IMBDFObserver* observer, u32 operation, u32 step, u32 total)
{
    observer->onProgress(operation, step, total, m_path.c_str(), "Aborted.", true);
}

i32 MBDF::read(const char* path, bool withData, const bool* abort, IMBDFObserver* observer, u32 maxBlocks)
{
    const i32 result = readFile(path, withData, abort, observer, maxBlocks);
    if (result < 0 && observer != nullptr) {
        observer->onError(kRead, path, result);
    }
    return result;
}

i32 MBDF::reload()
{
    const std::string path = m_path;
    return readFile(path.c_str(), false, nullptr, nullptr, 0);
}

i32 MBDF::write(const char* path, const bool* abort, IMBDFObserver* observer, bool flush)
{
    const i32 result = writeFile(path, abort, observer, flush);
    if (result < 0 && observer != nullptr) {
        observer->onError(kWrite, path, result);
    }
    return result;
}

// One readFile: the open file, the block being read and the bytes read ahead of it.
struct MBDF::ReadState
{
    FileAccessor file;
    const bool* abort = nullptr;
    IMBDFObserver* observer = nullptr;
    const char* name = nullptr;
    bool withData = false;
    u32 maxBlocks = 0;
    u64 size = 0;
    u32 total = 0;
    // The block at pos starts; bytes from pos on that were read already: the file stands at pos + aheadLength.
    // One read thus serves a header, the small parts behind it and often the next header.
    u64 pos = 0;
    u8 ahead[kAhead];
    u8 spill[kAhead];
    u32 aheadLength = 0;
};

i32 MBDF::readFile(const char* path, bool withData, const bool* abort, IMBDFObserver* observer, u32 maxBlocks)
{
    DummyMBDFObserver dummy;
    if (observer == nullptr) {
        observer = &dummy;
    }
    if (path == nullptr) {
        return MBDFResult::kFailed;
    }
    m_path = path;
    ReadState state;
    state.abort = abort;
    state.observer = observer;
    state.name = m_path.c_str();
    state.withData = withData;
    state.maxBlocks = maxBlocks;
    if (isAborted(abort)) {
        abortProgress(observer, kRead, 0, 0);
        return kAbortedResult;
    }
    if (state.file.open(m_path.c_str(), FileAccessor::kModeRead) < 0) {
        return MBDFResult::kFileError;
    }
    if (isAborted(abort)) {
        abortProgress(observer, kRead, 0, 0);
        return kAbortedResult;
    }
    if (state.file.getSize(&state.size) < 0) {
        return MBDFResult::kFileError;
    }
    clear();
    if (state.size > 0xFFFFFFFFu) {
        return MBDFResult::kOutOfRange;
    }
    state.total = static_cast<u32>(state.size);
    bool atEnd = false;
    i32 result = readTopBlock(state);
    if (result == 0) {
        result = readDataBlocks(state, &atEnd);
    }
    if (result == 0) {
        result = readEndBlock(state, atEnd);
    }
    if (result == MBDFResult::kAborted) {
        abortProgress(observer, kRead, state.file.tell(), state.total);
        return kAbortedResult;
    }
    return result;
}

// In the phases an abort is passed on as kAborted; readFile reports it.
i32 MBDF::readTopBlock(ReadState& state)
{
    if (isAborted(state.abort)) {
        return MBDFResult::kAborted;
    }
    if (state.file.seek(0, 0) < 0) {
        return MBDFResult::kFileError;
    }
    state.observer->onProgress(kRead, 0, state.total, state.name, "Reading top block...", false);
    const i32 result = m_topBlock.readFromFile(state.file, true, state.abort);
    if (result < 0) {
        return result;
    }
    if (!m_topBlock.isValid()) {
        return MBDFResult::kOutOfRange;
    }
    m_topBlock.setFileOffset(0);
    m_stopped = false;
    state.pos = m_topBlock.getBlockSize();
    return 0;
}

i32 MBDF::readDataBlocks(ReadState& state, bool* atEnd)
{
    for (;;) {
        if (isAborted(state.abort)) {
            return MBDFResult::kAborted;
        }
        if (state.pos >= state.size) {
            return 0;
        }
        if (state.maxBlocks != 0 && m_blocks.size() >= state.maxBlocks) {
            m_stopped = true;
            return 0;
        }
        state.observer->onProgress(kRead, static_cast<u32>(state.pos), state.total, state.name,
                                   "Reading data blocks...", false);

        // Probe the header: it must name a block, keep its info part within the limit and end within the file.
        const u64 left = state.size - state.pos;
        const u32 want = left < kAhead ? static_cast<u32>(left) : kAhead;
        if (state.aheadLength < want) {
            u32 got = 0;
            if (state.file.read(state.ahead + state.aheadLength, want - state.aheadLength, &got) < 0) {
                return MBDFResult::kFileError;
            }
            state.aheadLength += got;
        }
        const u8* header = state.ahead;
        if (state.aheadLength < kMBDFHeaderSize) {
            return MBDFResult::kOutOfRange;
        }
        const u64 end = blockEnd(state.pos, header);
        if (header[0] == 0 || BA::readUInt(header + 24, 4, true) > kMBDFBlockLimit || end > state.size) {
            return MBDFResult::kOutOfRange;
        }
        if (isAborted(state.abort)) {
            return MBDFResult::kAborted;
        }
        if (tagTextOf(header) == MBDFEndBlock::kTag) {
            *atEnd = true;
            return 0;
        }
        const i32 result = readDataBlock(state, end);
        if (result < 0) {
            return result;
        }
        state.pos = end;
    }
}

// Reads the block whose header stands at state.pos (it ends at end) and leaves the file and the look-ahead at
// its end.
i32 MBDF::readDataBlock(ReadState& state, u64 end)
{
    IMBDFBlockFactory* factory = findBlockFactory(tagTextOf(state.ahead).c_str());
    MBDFAbstractBlock* block = factory != nullptr ? factory->createBlock() : new (std::nothrow) MBDFAbstractBlock();
    if (block == nullptr) {
        return MBDFResult::kNoMemory;
    }
    if (isAborted(state.abort)) {
        delete block;
        return MBDFResult::kAborted;
    }
    // The classes of this library read with the base reader, which goes on from the bytes read ahead; any
    // other class reads its block from the start.
    const std::type_info& type = typeid(*block);
    const bool fromAhead = type == typeid(MBDFAbstractBlock) || type == typeid(MBDFFileBlock);
    u64 fileAt = end;
    u32 spilled = 0;
    i32 result = 0;
    if (fromAhead) {
        u64 taken = 0;
        const u64 behind = state.size - end;
        result = block->readFromPrefix(state.file, state.ahead, state.aheadLength, state.withData, state.abort, &taken,
                                       state.spill, behind < kAhead ? static_cast<u32>(behind) : kAhead, &spilled);
        fileAt = state.pos + taken;
        if (result >= 0 && !block->isValid()) {
            result = MBDFResult::kOutOfRange;
        }
    } else if (state.file.seek(0, static_cast<u32>(state.pos)) < 0) {
        result = MBDFResult::kFileError;
    } else {
        result = block->readFromFile(state.file, state.withData, state.abort);
    }
    if (result < 0) {
        delete block;
        return isAborted(state.abort) ? MBDFResult::kAborted : result;
    }
    if (!block->isValid()) {
        delete block;
        return MBDFResult::kOutOfRange;
    }
    block->setFileOffset(state.pos);
    m_blocks.push_back(block);

    // Keep what was read beyond this block; otherwise stand at its end.
    if (fromAhead && spilled != 0) {
        std::memcpy(state.ahead, state.spill, spilled); // read along with the block's last part
        state.aheadLength = spilled;
    } else if (fromAhead && fileAt > end) {
        // Bytes of the look-ahead beyond the block.
        const u32 kept = static_cast<u32>(fileAt - end);
        std::memmove(state.ahead, state.ahead + (state.aheadLength - kept), kept);
        state.aheadLength = kept;
    } else {
        state.aheadLength = 0;
        if ((!fromAhead || fileAt != end) && state.file.seek(0, static_cast<u32>(end)) < 0) {
            return MBDFResult::kFileError;
        }
    }
    return 0;
}

i32 MBDF::readEndBlock(ReadState& state, bool atEnd)
{
    // The end block is read from its start.
    if (atEnd && state.file.seek(0, static_cast<u32>(state.pos)) < 0) {
        return MBDFResult::kFileError;
    }
    if (isAborted(state.abort)) {
        return MBDFResult::kAborted;
    }
    state.observer->onProgress(kRead, static_cast<u32>(state.pos), state.total, state.name, "Reading end block...",
                               false);
    if (state.maxBlocks == 0) {
        const i32 result = m_endBlock.readFromFile(state.file, true, state.abort);
        if (result < 0) {
            return result;
        }
        if (!m_endBlock.isValid()) {
            return MBDFResult::kOutOfRange;
        }
    }
    state.observer->onProgress(kRead, state.total, state.total, state.name, "Finished.", true);
    return 0;
}

i32 MBDF::writeFile(const char* path, const bool* abort, IMBDFObserver* observer, bool flush)
{
    DummyMBDFObserver dummy;
    if (observer == nullptr) {
        observer = &dummy;
    }
    if (!isValid()) {
        KLIB_LOG("[E] MBDF::writeFile 1\n");
        return MBDFResult::kFailed;
    }
    if (path == nullptr) {
        KLIB_LOG("[E] MBDF::writeFile 2\n");
        return MBDFResult::kFailed;
    }
    // Every block must be writable before the target is touched.
    for (const MBDFAbstractBlock* block : m_blocks) {
        if (!block->isWritable()) {
            return MBDFResult::kNotLoaded;
        }
    }
    const std::string target = path;
    FileAccessor file;
    i32 result = file.beginReplace(target.c_str());
    if (result < 0) {
        KLIB_LOG("[E] MBDF::writeFile 3 (%x)\n", static_cast<u32>(result));
        return mapMBDFWriteFailure(result);
    }
    const u32 count = static_cast<u32>(m_blocks.size());
    const u32 total = count + 2;
    const char* name = target.c_str();
    // Any path out before the commit abandons the temporary, so the old file stays as it was.
    const auto aborted = [&](u32 step) {
        file.abortReplace();
        observer->onProgress(kWrite, step, total, name, "Aborted.", true);
        return kAbortedResult;
    };
    const auto failed = [&](i32 code) {
        file.abortReplace();
        return code;
    };

    result = file.seek(0, 0);
    if (result < 0) {
        KLIB_LOG("[E] MBDF::writeFile 4 (%x)\n", static_cast<u32>(result));
        return failed(mapMBDFWriteFailure(result));
    }
    if (isAborted(abort)) {
        return aborted(0);
    }
    // Blocks written by the base writer are gathered in memory and leave in large pieces; big ones and every other
    // class go straight to the file.
    std::vector<u8> gather;
    const auto emit = [&]() -> i32 {
        const i32 code = writeBytes(file, gather.data(), gather.size());
        gather.clear();
        return code;
    };
    const auto put = [&](MBDFAbstractBlock& block) -> i32 {
        const std::type_info& type = typeid(block);
        const bool plain = type == typeid(MBDFAbstractBlock) || type == typeid(MBDFTopBlock) ||
                           type == typeid(MBDFEndBlock) || (type == typeid(MBDFFileBlock) && block.hasData());
        if (plain && block.getBlockSize() <= kGatherBlock) {
            const i32 code = block.appendImage(gather);
            return (code < 0 || gather.size() < kGather) ? code : emit();
        }
        const i32 code = emit();
        return code < 0 ? code : block.writeToFile(file);
    };
    observer->onProgress(kWrite, 0, total, name, "Writing top block...", false);
    result = put(m_topBlock);
    if (result < 0) {
        KLIB_LOG("[E] MBDF::writeFile 5 (%x)\n", static_cast<u32>(result));
        return failed(result);
    }
    std::vector<u64> offsets;
    offsets.reserve(count);
    u64 position = m_topBlock.getBlockSize();
    u32 step = 1;
    for (MBDFAbstractBlock* block : m_blocks) {
        if (isAborted(abort)) {
            return aborted(step);
        }
        observer->onProgress(kWrite, step, total, name, "Writing data blocks...", false);
        offsets.push_back(position);
        result = put(*block);
        if (result < 0) {
            KLIB_LOG("[E] MBDF::writeFile 6 (%x)\n", static_cast<u32>(result));
            return failed(result);
        }
        position += block->getBlockSize(); // a streamed block knows its size once written
        ++step;
    }
    if (isAborted(abort)) {
        return aborted(count + 1);
    }
    observer->onProgress(kWrite, count + 1, total, name, "Writing end block...", false);
    result = put(m_endBlock);
    if (result >= 0) {
        result = emit();
    }
    if (result < 0) {
        KLIB_LOG("[E] MBDF::writeFile 7 (%x)\n", static_cast<u32>(result));
        return failed(result);
    }
    if (flush) {
        result = file.flush();
        if (result < 0) {
            KLIB_LOG("[E] MBDF::writeFile 8 (%x)\n", static_cast<u32>(result));
            return failed(mapMBDFWriteFailure(result));
        }
    }
    // The commit syncs the temporary, checks its close and renames it over the target.
    result = file.commitReplace();
    if (result < 0) {
        KLIB_LOG("[E] MBDF::writeFile 8 (%x)\n", static_cast<u32>(result));
        return mapMBDFWriteFailure(result);
    }
    // The blocks now live in the new file: later lazy loads read from there.
    m_path = target;
    m_topBlock.setFileOffset(0);
    auto offset = offsets.begin();
    for (MBDFAbstractBlock* block : m_blocks) {
        block->setFileOffset(*offset++);
    }
    observer->onProgress(kWrite, count + 2, total, name, "Finshed.", true);
    return 0;
}

i32 MBDF::readFromMemory(const u8* image, u32 size)
{
    clear();
    m_path.clear();
    if (image == nullptr) {
        return MBDFResult::kFailed;
    }
    u64 pos = 0;
    while (size - pos >= kMBDFHeaderSize) {
        const u8* header = image + pos;
        const std::string tag = tagTextOf(header);
        IMBDFBlockFactory* factory = findBlockFactory(tag.c_str());
        MBDFAbstractBlock* block = factory != nullptr ? factory->createBlock() : new (std::nothrow) MBDFAbstractBlock();
        if (block == nullptr) {
            return MBDFResult::kFailed;
        }
        const u64 onDisk = blockEnd(0, header);
        if (onDisk > size - pos) {
            delete block;
            return MBDFResult::kFailed;
        }
        u32 consumed = 0;
        const i32 result = block->readFromMemory(header, static_cast<u32>(size - pos), &consumed);
        if (result < 0) {
            delete block;
            return result;
        }
        pos += onDisk;
        m_blocks.push_back(block);
    }
    return 0;
}

i32 MBDF::loadBlockData(BlockIterator it, FileAccessor* file)
{
    if (m_path.empty()) {
        return MBDFResult::kFileError;
    }
    MBDFAbstractBlock* block = getBlock(it);
    if (block->isNull()) {
        return MBDFResult::kOutOfRange;
    }
    if (block->getDataSize(false) == 0) {
        block->releaseData();
        return 0;
    }
    if (block->getFileOffset() == kMBDFNoOffset) {
        return MBDFResult::kOutOfRange;
    }
    if (file != nullptr) {
        return block->loadDataAt(*file);
    }
    FileAccessor own;
    if (own.open(m_path.c_str(), FileAccessor::kModeRead) < 0) {
        return MBDFResult::kFileError;
    }
    return block->loadDataAt(own);
}

i32 MBDF::releaseBlockData(BlockIterator it)
{
    MBDFAbstractBlock* block = getBlock(it);
    if (block->isNull()) {
        return MBDFResult::kFailed;
    }
    return block->releaseData();
}

} // namespace FILECACHE
