#include "fcache_MBDFFileBlock.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fcache_MBDF.h"
#include "fcache_Zlib.h"
#include "fsw_api.h"

namespace FILECACHE {

namespace BA = BinaryAccessor;

namespace {

// Working buffers of the streamed copies; the chunking is not visible in the stored bytes.
constexpr u32 kChunk = 64 * 1024;

struct Buffer
{
    explicit Buffer(u32 size) : bytes(static_cast<u8*>(std::malloc(size))) {}
    ~Buffer() { std::free(bytes); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    u8* bytes;
};

class AccessorWriteStrategy : public MBDFFileBlock::IFileWriteStrategy
{
public:
    explicit AccessorWriteStrategy(FileAccessor& file) : m_file(file) {}
    i32 write(const u8* bytes, u32 size, u32* written) override { return m_file.write(bytes, size, written); }

private:
    FileAccessor& m_file;
};

// Writes into a file of the file API that the caller opened.
class HandleWriteStrategy : public MBDFFileBlock::IFileWriteStrategy
{
public:
    explicit HandleWriteStrategy(FswHandle& handle) : m_handle(handle) {}
    i32 write(const u8* bytes, u32 size, u32* written) override
    {
        return fsw_write(bytes, written, size, &m_handle) == FSW_OK ? 0 : MBDFResult::kFileError;
    }

private:
    FswHandle& m_handle;
};

// Writes all bytes through the strategy: a failure or a short write gives 0x80000003.
i32 writeThrough(MBDFFileBlock::IFileWriteStrategy& out, const u8* bytes, u32 size)
{
    u32 written = 0;
    if (out.write(bytes, size, &written) < 0 || written != size) {
        return MBDFResult::kOutOfRange;
    }
    return 0;
}

i32 fromZlib(i32 code)
{
    return code == Zlib::kNoMemory ? MBDFResult::kNoMemory : MBDFResult::kOutOfRange;
}

// Reads the source file to its end in chunks, XORs them with the key and passes them on, compressed as one stream
// at a level of 1 to 10 or as they are at level 0: emit(bytes, size) for each piece made; a negative emit result
// stops the reading and is returned.
template <class Emit> i32 encodeFile(FileAccessor& source, u8 key, u32 level, Emit&& emit)
{
    Buffer in(kChunk);
    Buffer packed(kChunk);
    if (in.bytes == nullptr || packed.bytes == nullptr) {
        return MBDFResult::kNoMemory;
    }
    ZlibDeflater deflater;
    if (level != 0) {
        const i32 begun = deflater.begin(level);
        if (begun < 0) {
            return fromZlib(begun);
        }
    }
    u32 inLength = 0;
    u32 inPos = 0;
    bool eof = false;
    for (;;) {
        if (inPos == inLength && !eof) {
            u32 got = 0;
            if (source.read(in.bytes, kChunk, &got) < 0) {
                return MBDFResult::kFileError;
            }
            eof = got < kChunk;
            if (got != 0) {
                BA::xorBytes(in.bytes, got, key);
            }
            inLength = got;
            inPos = 0;
        }
        const u8* chunk = in.bytes + inPos;
        u32 made = inLength - inPos;
        bool ended = eof;
        if (level != 0) {
            u32 used = 0;
            const i32 stepped =
                deflater.step(in.bytes + inPos, inLength - inPos, &used, packed.bytes, kChunk, &made, eof);
            if (stepped < 0) {
                return fromZlib(stepped);
            }
            inPos += used;
            chunk = packed.bytes;
            ended = stepped == Zlib::kStreamEnd;
        } else {
            inPos = inLength;
        }
        if (made != 0) {
            const i32 emitted = emit(chunk, made);
            if (emitted < 0) {
                return emitted;
            }
        }
        if (ended && (level != 0 || inPos == inLength)) {
            break;
        }
    }
    if (level != 0 && deflater.end() < 0) {
        return MBDFResult::kOutOfRange;
    }
    return 0;
}

} // namespace

MBDFFileBlock::MBDFFileBlock() : m_level(kDefaultLevel), m_streamed(false) {}

void MBDFFileBlock::resetSource()
{
    m_sourceDir.clear();
    m_level = kDefaultLevel;
    m_streamed = false;
}

void MBDFFileBlock::registerFactory()
{
    static MBDFBlockFactory<MBDFFileBlock> factory;
    static const bool registered = (MBDF::registerBlockFactory(kTag, &factory), true);
    (void)registered;
}

i32 MBDFFileBlock::readFromMemory(const u8* image, u32 size, u32* consumed)
{
    resetSource();
    return MBDFAbstractBlock::readFromMemory(image, size, consumed);
}

i32 MBDFFileBlock::copyFrom(const MBDFAbstractBlock& other, bool deep)
{
    if (&other == this) {
        return 0;
    }
    const i32 result = MBDFAbstractBlock::copyFrom(other, deep); // clears, which resets the source
    const MBDFFileBlock* file = dynamic_cast<const MBDFFileBlock*>(&other);
    if (file != nullptr && isValid()) {
        m_sourceDir = file->m_sourceDir;
        m_level = file->m_level;
        m_streamed = file->m_streamed;
    }
    return result;
}

i32 MBDFFileBlock::setData(const u8*, u32)
{
    return MBDFResult::kFailed;
}

i32 MBDFFileBlock::clear()
{
    resetSource();
    return MBDFAbstractBlock::clear();
}

bool MBDFFileBlock::isValid() const
{
    if (getTag() != kTag || m_info == nullptr) {
        return false;
    }
    // The info part is exactly the 8 fixed bytes and the name: a name length that disagrees would cut the name.
    const u32 info = getInfoSize(false);
    const u32 n = BA::readUInt(m_info, 2, true);
    return info >= 8 && static_cast<u64>(n) + 8 == info;
}

u32 MBDFFileBlock::getTagLength() const
{
    return kTagLength;
}

u32 MBDFFileBlock::getFlags() const
{
    return isValid() ? BA::readUInt(m_info + 4, 4, true) : 0;
}

u8 MBDFFileBlock::getKey() const
{
    return isValid() ? m_info[3] : 0;
}

bool MBDFFileBlock::isDirectory() const
{
    return (getFlags() & kFlagDirectory) != 0;
}

bool MBDFFileBlock::isWritable() const
{
    return hasData() || (m_streamed && isValid() && !isDirectory());
}

std::string MBDFFileBlock::getFileName() const
{
    if (!isValid()) {
        return std::string();
    }
    const u32 n = BA::readUInt(m_info, 2, true);
    const u8 key = m_info[3];
    std::string name;
    for (u32 i = 0; i < n; ++i) {
        const char c = static_cast<char>(m_info[8 + i] ^ key);
        if (c == 0) {
            break;
        }
        name.push_back(c);
    }
    return name;
}

namespace {

// Length of the well-formed UTF-8 character at text[at] (no overlong form, no surrogate, at most U+10FFFF);
// 0 when there is none.
size_t utf8CharacterLength(const std::string& text, size_t at)
{
    const u8 lead = static_cast<u8>(text[at]);
    if (lead < 0x80) {
        return 1;
    }
    size_t extra = 0;
    u8 low = 0x80;
    u8 high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() - at <= extra) {
        return 0;
    }
    for (size_t i = 1; i <= extra; ++i) {
        const u8 next = static_cast<u8>(text[at + i]);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) {
            return 0;
        }
    }
    return extra + 1;
}

} // namespace

std::string MBDFFileBlock::printableName(const std::string& name)
{
    std::string out;
    size_t at = 0;
    while (at < name.size()) {
        const u8 byte = static_cast<u8>(name[at]);
        size_t length = utf8CharacterLength(name, at);
        char escaped[5];
        const char* piece = name.data() + at;
        size_t pieceLength = length;
        if (length == 0 || byte < 0x20 || byte == 0x7F) {
            std::snprintf(escaped, sizeof(escaped), "\\x%02X", static_cast<unsigned>(byte));
            piece = escaped;
            pieceLength = 4;
            length = 1;
        }
        if (out.size() + pieceLength > kPrintableNameBytes) {
            out += "...";
            break;
        }
        out.append(piece, pieceLength);
        at += length;
    }
    return out;
}

bool MBDFFileBlock::isSafeName(const char* name)
{
    if (name == nullptr || name[0] == 0 || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
        return false;
    }
    if (std::strchr(name, '/') != nullptr || std::strchr(name, '\\') != nullptr) {
        return false;
    }
    // The file API takes UTF-8 paths only: a name it refuses could be created but never removed or stored again.
    return FileAccessor::isValidFileName(name) && fsw_checkPath(name) == FSW_OK;
}

// ---------------------------------------------------------------------------------------------------------------
// Import
// ---------------------------------------------------------------------------------------------------------------

i32 MBDFFileBlock::importFile(const char* kind, bool isDirectory, const char* dir, const char* name, bool loadNow,
                              u32 level, u8 key)
{
    clear();
    if (name == nullptr || level > 10 || !isSafeName(name)) {
        return MBDFResult::kBadArgument;
    }
    const size_t nameLength = std::strlen(name);
    // A longer kind would be cut and the item never matched again; a cut name would name another file.
    if ((kind != nullptr && std::strlen(kind) > kKindRoom) || nameLength > 0xFFFF) {
        return MBDFResult::kBadArgument;
    }
    const std::string path = MBDF::makePath(dir, name);
    bool readOnly = false;
    bool hidden = false;
    bool system = false;
    bool directory = false;
    if (FileAccessor::getAttributes(path.c_str(), &readOnly, &hidden, &system, &directory) < 0 ||
        directory != isDirectory) {
        return MBDFResult::kFileError;
    }
    bool ok = setTag(kTag) == 0;
    ok = setKind(kind) == 0 && ok;

    const u32 n = static_cast<u32>(nameLength);
    std::vector<u8> info(n + 8, 0);
    u32 flags = (readOnly ? kFlagReadOnly : 0u) | (hidden ? kFlagHidden : 0u);
    if (isDirectory) {
        flags |= kFlagDirectory | kFlagSystem;
    } else {
        flags |= (system ? kFlagSystem : 0u) | (level > 0 ? kFlagCompressed : 0u);
    }
    BA::writeUInt(info.data(), 2, n, true);
    info[3] = key;
    BA::writeUInt(info.data() + 4, 4, flags, true);
    std::memcpy(info.data() + 8, name, n);
    if (n != 0) {
        BA::xorBytes(info.data() + 8, n, key);
    }
    const i32 infoResult = ok ? MBDFAbstractBlock::setInfo(info.data(), n + 8) : MBDFResult::kBadArgument;
    if (infoResult < 0) {
        clear();
        return infoResult == MBDFResult::kNoMemory ? MBDFResult::kNoMemory : MBDFResult::kBadArgument;
    }
    if (isDirectory) {
        return 0;
    }
    if (loadNow) {
        const i32 result = loadFile(path, level, key);
        if (result < 0) {
            clear();
        }
        return result;
    }
    u64 size = 0;
    if (fsw_getSize64(&size, path.c_str()) != FSW_OK) {
        clear();
        return MBDFResult::kFileError;
    }
    // Stored bytes keep their size, so a file over the limit could be written but never read back.
    if (level == 0 && n + 8 + size > kMBDFBlockLimit) {
        clear();
        return MBDFResult::kOutOfRange;
    }
    setDataSizeField(size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<u32>(size));
    m_sourceDir = dir != nullptr ? dir : "";
    m_level = level;
    m_streamed = true;
    return 0;
}

i32 MBDFFileBlock::loadFile(const std::string& path, u32 level, u8 key)
{
    FileAccessor source;
    if (source.open(path.c_str(), FileAccessor::kModeRead) < 0) {
        return MBDFResult::kFileError;
    }
    u64 size = 0;
    if (source.getSize(&size) < 0) {
        return MBDFResult::kFileError;
    }
    if (size == 0) {
        return 0;
    }
    const u64 info = getInfoSize(false);
    if (level == 0) {
        if (info + size > kMBDFBlockLimit) {
            return MBDFResult::kOutOfRange;
        }
        const u32 length = static_cast<u32>(size);
        u8* part = allocatePart(length);
        if (part == nullptr) {
            return MBDFResult::kNoMemory;
        }
        u32 got = 0;
        if (source.read(part, length, &got) < 0 || got != length) {
            freePart(part);
            return MBDFResult::kFileError;
        }
        BA::xorBytes(part, length, key);
        adoptData(part, length);
        return 0;
    }

    std::vector<u8> packed;
    const i32 result = encodeFile(source, key, level, [&](const u8* bytes, u32 made) -> i32 {
        packed.insert(packed.end(), bytes, bytes + made);
        // Refused as soon as it is known: such a block could never be read back.
        return info + packed.size() > kMBDFBlockLimit ? MBDFResult::kOutOfRange : 0;
    });
    if (result < 0) {
        return result;
    }
    return MBDFAbstractBlock::setData(packed.data(), static_cast<u32>(packed.size()));
}

// ---------------------------------------------------------------------------------------------------------------
// Write
// ---------------------------------------------------------------------------------------------------------------

i32 MBDFFileBlock::streamFile(FileAccessor& out, u64* count)
{
    *count = 0;
    if (m_level > 10) {
        return MBDFResult::kBadArgument;
    }
    const std::string name = getFileName();
    const std::string path = MBDF::makePath(m_sourceDir.c_str(), name.c_str());
    FileAccessor source;
    if (source.open(path.c_str(), FileAccessor::kModeRead) < 0) {
        return MBDFResult::kFileError;
    }
    const u64 info = getInfoSize(false);
    return encodeFile(source, getKey(), m_level, [&](const u8* bytes, u32 size) -> i32 {
        const i32 result = writeAll(out, bytes, size);
        if (result < 0) {
            return result;
        }
        *count += size;
        // The container write fails rather than store a block that can never be read back.
        return info + *count > kMBDFBlockLimit ? MBDFResult::kOutOfRange : 0;
    });
}

i32 MBDFFileBlock::writeToFile(FileAccessor& file)
{
    if (!isValid()) {
        return MBDFResult::kInvalid;
    }
    if (isDirectory() || m_data != nullptr || getDataSize(false) == 0 || !m_streamed) {
        return MBDFAbstractBlock::writeToFile(file);
    }
    if (!file.isOpen()) {
        return MBDFResult::kFileError;
    }
    const u32 start = file.tell();
    i32 result = writeParts(file, false);
    if (result < 0) {
        return result;
    }
    u64 count = 0;
    result = streamFile(file, &count);
    if (result < 0) {
        return result;
    }
    static const u8 zeros[4] = {};
    const u32 padding = BA::padding4(static_cast<u32>(count));
    if (padding != 0) {
        result = writeAll(file, zeros, padding);
        if (result < 0) {
            return result;
        }
    }
    setDataSizeField(static_cast<u32>(count));
    const u64 end = start + getBlockSize();
    if (end > 0xFFFFFFFFu || file.seek(0, start) < 0) {
        return MBDFResult::kFileError;
    }
    result = writeAll(file, m_header, kMBDFHeaderSize);
    if (result < 0) {
        return result;
    }
    return file.seek(0, static_cast<u32>(end)) < 0 ? MBDFResult::kFileError : 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Export
// ---------------------------------------------------------------------------------------------------------------

i32 MBDFFileBlock::writeContent(IFileWriteStrategy& out) const
{
    const u32 size = getDataSize(false);
    const u8 key = getKey();
    Buffer chunk(kChunk);
    if (chunk.bytes == nullptr) {
        return MBDFResult::kNoMemory;
    }
    if ((getFlags() & kFlagCompressed) == 0) {
        for (u32 pos = 0; pos < size;) {
            const u32 n = size - pos < kChunk ? size - pos : kChunk;
            std::memcpy(chunk.bytes, m_data + pos, n);
            BA::xorBytes(chunk.bytes, n, key);
            const i32 result = writeThrough(out, chunk.bytes, n);
            if (result < 0) {
                return result;
            }
            pos += n;
        }
        return 0;
    }
    ZlibInflater inflater;
    i32 result = inflater.begin();
    if (result < 0) {
        return fromZlib(result);
    }
    u32 pos = 0;
    for (;;) {
        u32 used = 0;
        u32 made = 0;
        result = inflater.step(m_data + pos, size - pos, &used, chunk.bytes, kChunk, &made, true);
        if (result < 0) {
            return fromZlib(result);
        }
        pos += used;
        if (made != 0) {
            BA::xorBytes(chunk.bytes, made, key);
            const i32 written = writeThrough(out, chunk.bytes, made);
            if (written < 0) {
                return written;
            }
        }
        if (result == Zlib::kStreamEnd) {
            break;
        }
        if (used == 0 && made == 0) {
            return MBDFResult::kOutOfRange; // no progress: a cut stream
        }
    }
    // The stream must end exactly at the end of the data part.
    if (pos != size || inflater.end() < 0) {
        return MBDFResult::kOutOfRange;
    }
    return 0;
}

u32 MBDFFileBlock::exportFile(const char* dir, const char* name)
{
    return exportTo(dir, name, true);
}

u32 MBDFFileBlock::exportFileUnsynced(const char* dir, const char* name)
{
    return exportTo(dir, name, false);
}

u32 MBDFFileBlock::writeUnsynced(const std::string& target)
{
    FswReplace* replace = nullptr;
    if (fsw_replaceBeginUnsynced(&replace, target.c_str()) != FSW_OK) {
        return static_cast<u32>(MBDFResult::kOutOfRange);
    }
    if (getDataSize(false) != 0) {
        HandleWriteStrategy strategy(*fsw_replaceHandle(replace));
        if (writeContent(strategy) < 0) {
            fsw_replaceAbort(replace);
            return static_cast<u32>(MBDFResult::kOutOfRange);
        }
    }
    return fsw_replaceCommit(replace) == FSW_OK ? 0u : static_cast<u32>(MBDFResult::kOutOfRange);
}

u32 MBDFFileBlock::exportTo(const char* dir, const char* name, bool sync)
{
    if (!isValid()) {
        return static_cast<u32>(MBDFResult::kInvalid);
    }
    if (!isDirectory() && getDataSize(false) != 0 && m_data == nullptr) {
        return static_cast<u32>(MBDFResult::kNotLoaded);
    }
    std::string fileName;
    if (name != nullptr) {
        fileName = name;
    } else {
        const u32 n = BA::readUInt(m_info, 2, true);
        for (u32 i = 0; i < n; ++i) {
            fileName.push_back(static_cast<char>(m_info[8 + i] ^ m_info[3]));
        }
    }
    // Stored names become paths: nothing may leave the target folder.
    if (fileName.find('\0') != std::string::npos || !isSafeName(fileName.c_str())) {
        return static_cast<u32>(MBDFResult::kBadArgument);
    }
    const std::string target = MBDF::makePath(dir, fileName.c_str());
    if (MBDF::isNonEmptyText(dir)) {
        FileAccessor::makeDir(dir);
    }
    const u32 flags = getFlags();
    const bool readOnly = (flags & kFlagReadOnly) != 0;
    const bool hidden = (flags & kFlagHidden) != 0;
    const bool system = (flags & kFlagSystem) != 0;
    if (isDirectory()) {
        FileAccessor::makeDir(target.c_str());
        FileAccessor::setAttributes(target.c_str(), readOnly, hidden, system);
        return 0;
    }
    bool targetReadOnly = false;
    bool targetSystem = false;
    bool targetDirectory = false;
    if (FileAccessor::getAttributes(target.c_str(), &targetReadOnly, nullptr, &targetSystem, &targetDirectory) == 0 &&
        (targetReadOnly || targetSystem)) {
        return static_cast<u32>(MBDFResult::kNoMemory); // 0x80000005: left untouched
    }
    if (!sync) {
        const u32 result = writeUnsynced(target);
        if (result == 0) {
            FileAccessor::setAttributes(target.c_str(), readOnly, hidden, system);
        }
        return result;
    }
    FileAccessor file;
    if (file.beginReplace(target.c_str()) < 0) {
        return static_cast<u32>(MBDFResult::kOutOfRange);
    }
    if (getDataSize(false) == 0) {
        return file.commitReplace() < 0 ? static_cast<u32>(MBDFResult::kOutOfRange) : 0u;
    }
    AccessorWriteStrategy strategy(file);
    const i32 result = writeContent(strategy);
    if (result < 0) {
        file.abortReplace();
        return static_cast<u32>(MBDFResult::kOutOfRange);
    }
    if (file.commitReplace() < 0) {
        return static_cast<u32>(MBDFResult::kOutOfRange);
    }
    FileAccessor::setAttributes(target.c_str(), readOnly, hidden, system);
    return 0;
}

} // namespace FILECACHE
